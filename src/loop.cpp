#include "loop.h"

#include "platform/platform.h"
#include "state.h"
#include "throw.h"
#include "update.h"

namespace {

// Starts at rest where the cursor is now: its position read afresh, the
// velocities 0, and no seed, which would fling the cursor by its
// coordinates; under --throw, the hand forgotten, and what it did while
// glide was paused with it.
void resume()
{
    int32_t x = 0;
    int32_t y = 0;
    const bool read = platform_read_cursor(&x, &y);
    if (read) {
        c = static_cast<float>(x);
        d = static_cast<float>(y);
    }
    lastx = 0.0f;
    lasty = 0.0f;
    firstloop = 0;
    resting = true;
    if (throwing) {
        read ? rest_throw(x, y, platform_clock()) : init_throw();
        platform_take_hand();
    }
}

// Takes in, in turn, what the desktop has asked of glide; once all of it
// has been, and no tick is under way, says so to whoever asked.
void take_controls()
{
    bool asked = false;
    for (Control control = platform_take_control(); control != Control::none;
         control = platform_take_control()) {
        asked = true;
        const bool pause = control == Control::pause || (control == Control::toggle && !paused);
        if (paused && !pause) {
            resume();
        }
        paused = pause;
    }
    if (asked) {
        platform_show_paused(paused);
    }
}

}  // namespace

int64_t tick_when_due(int64_t lastclock)
{
    // Paused, nothing ticks: glide sleeps until it is asked to go on.
    if (paused) {
        platform_wait_for_control();
        take_controls();
        return lastclock;
    }
    // At rest, a tick would change no more than a velocity's sign, and under
    // --quiet it prints nothing: nothing is lost by sleeping until a device
    // moves the pointer or the screen changes. Another program's warp makes
    // no event, so a second is the longest it waits.
    // Under --throw nothing is printed at rest, and the platform must tell
    // of a hand that moves the cursor, or a flick would come and go unseen;
    // a warp throws nothing, so the hand alone need wake it (an hour is as
    // good as never).
    if (resting && (throwing ? platform_hears_hand() : quiet)) {
        platform_wait_for_input(lastclock + (throwing ? 3600000 : 1000));
        resting = false;  // woken: the next tick comes as soon as it may
    }
    platform_wait_until(lastclock + 11);
    // Asked to pause by now, glide makes no further tick.
    take_controls();
    if (paused || platform_clock() - lastclock <= 10) {
        return lastclock;
    }
    throwing ? throw_update() : update();
    return platform_clock();
}
