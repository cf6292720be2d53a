#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "startup.h"

int main(int argc, char **argv)
{
    const int status = startup(argc, argv, stdout, stderr);
    if (status != keep_running) {
        return status;
    }
    if (const int opened = platform_open(); opened != platform_ready) {
        return opened;
    }
    // Runs until the process is ended from outside.
    for (int64_t lastclock = 0;;) {
        lastclock = tick_when_due(lastclock);
    }
}
