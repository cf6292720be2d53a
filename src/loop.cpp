#include "loop.h"

#include "platform/platform.h"
#include "state.h"
#include "throw.h"
#include "update.h"

int64_t tick_when_due(int64_t lastclock)
{
    // At rest, a tick would change no more than a velocity's sign, and under
    // --quiet it prints nothing: nothing is lost by sleeping until a device
    // moves the pointer or the screen changes. Another program's warp makes
    // no event, so a second is the longest it waits.
    // Under --throw nothing is printed at rest, and the platform must tell
    // of a hand that moves the cursor, or a flick would come and go unseen.
    if (resting && (throwing ? platform_hears_hand() : quiet)) {
        platform_wait_for_input(lastclock + 1000);
        resting = false;  // woken: the next tick comes as soon as it may
    }
    platform_wait_until(lastclock + 11);
    if (platform_clock() - lastclock <= 10) {
        return lastclock;
    }
    throwing ? throw_update() : update();
    return platform_clock();
}
