#include "loop.h"

#include <array>

#include "platform/platform.h"
#include "settings.h"
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

State state()
{
    return paused ? State::paused : aside ? State::aside : State::active;
}

// Takes in, in turn, what the desktop has asked of glide, then the settings
// file if it has changed, the choices made in the menus, and the focus if
// it has changed; starts at rest once nothing holds glide any more, if
// anything did meanwhile. Once all of it has been taken in, and no tick is
// under way, says so to whoever asked, and shows what changed.
void take_news()
{
    const State before = state();
    const std::array<char, namesize> program = focus.names[0];
    bool held = paused || aside;
    bool asked = false;
    for (Control control = platform_take_control(); control != Control::none;
         control = platform_take_control()) {
        asked = true;
        paused = control == Control::pause || (control == Control::toggle && !paused);
        held = held || paused;
    }
    bool resettled = platform_settings_changed();
    if (resettled) {
        load_settings();
    }
    for (Chosen chosen = platform_take_choice(); chosen.choice != Choice::none;
         chosen = platform_take_choice()) {
        choose(chosen, menuprogram);
        resettled = true;
    }
    resting = resting && !resettled;  // a tick finds out whether it still rests
    const bool refocused = platform_take_focus(&focus);
    if (refocused && !focus.shell) {
        menuprogram = focus;
    }
    if (refocused || resettled) {
        aside = steps_aside(focus, current_settings());
    }
    if (held && !paused && !aside) {
        resume();
    }
    if (asked || state() != before || focus.names[0] != program) {
        platform_show_state(state(), focus.names[0].data());
    }
    if (refocused || resettled) {
        if (const Menu menu = settings_menu(menuprogram); !menushown || menu != *menushown) {
            platform_show_menu(menu);
            menushown = menu;
        }
    }
}

}  // namespace

int64_t tick_when_due(int64_t lastclock)
{
    // Paused or aside, nothing ticks: glide sleeps until it is asked to go
    // on, or what held it goes.
    if (paused || aside) {
        platform_wait_for_news();
        take_news();
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
    // Asked to pause by now, or aside, glide makes no further tick.
    take_news();
    if (paused || aside || platform_clock() - lastclock <= 10) {
        return lastclock;
    }
    throwing ? throw_update() : update();
    return platform_clock();
}
