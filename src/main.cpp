#include <cstdint>
#include <string>

#include "commandline.h"
#include "loop.h"
#include "platform/platform.h"
#include "settings.h"
#include "state.h"

int main(int argc, char **argv)
{
    std::string out;
    std::string err;
    const int status = startup(argc, argv, out, err);
    platform_tell(out.c_str(), err.c_str());
    if (status != keep_running) {
        return status;
    }
    if (request != Control::none) {
        return platform_send_control(request);
    }
#ifdef GLIDE_WINDOWED
    quiet = true;  // no console to print the lines on
#endif
    if (const int opened = platform_open(); opened != platform_ready) {
        return opened;
    }
    // Read once the platform watches it: no change goes unseen.
    load_settings();
    // Runs until the process is ended from outside.
    for (int64_t lastclock = 0;;) {
        lastclock = tick_when_due(lastclock);
    }
}
