// The pointer on GNOME under Wayland, where only the compositor may read and
// move it: glide's GNOME Shell extension does both for it, over the session
// bus, for the one glide that claimed it.
#include <systemd/sd-bus.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "backends.h"
#include "bus.h"
#include "desktop.h"

#define GLIDE_GNOME_NAME "org.glide.Pointer"

// What the extension is called: by GNOME, and on the bus.
static const char *const uuid = GLIDE_GNOME_UUID;
static const char *const name = GLIDE_GNOME_NAME;
static const char *const path = "/org/glide/Pointer";

// The one connection, opened at start-up.
static sd_bus *bus;

// Set when the extension has gone from the bus, or has forgotten glide (the
// screen locked, or the shell restarted): glide waits for it and claims the
// pointer anew. And set when its name has had an owner since.
static bool gone;
static bool back;

// Where the pointer is, as the extension last told: in its answer to glide's
// last call, or since in a signal; whether it has told since glide last
// claimed the pointer; and how many answers it has given since, which each
// signal names: one sent before the last answer, and received after it, is
// old news. Kept so, a tick that does not move the pointer makes no call.
static int32_t pointerx;
static int32_t pointery;
static bool known;
static uint32_t answers;

// What the hand did since glide last asked, for --throw: whether a button
// was held at the extension's word on the pointer, which a press stops a
// glide by; and the moves the pointer made to where glide did not put it,
// and when the last came (microseconds on the compositor's monotonic clock).
static bool pressed;
static int32_t moves;
static int64_t movedat;

// What glide has shown, and of which program, and of its settings: the
// extension's toggle and its menu show it.
static State shownstate;
static std::array<char, namesize> shownprogram;
static Menu shownmenu;

// The screen's size as the extension last told it, and its last answer on
// the desktop, its monitors not yet taken; set when the desktop is to be
// asked for again, and when the monitors are to be listed again.
static int32_t screenwidth;
static int32_t screenheight;
static sd_bus_message *desktop;
static bool desktopchanged = true;
static bool monitorschanged = true;

// After a call that failed: the bus has gone, and glide with it, or the
// extension has.
static void note_failure()
{
    if (sd_bus_is_open(bus) <= 0) {
        lose_bus();
    }
    gone = true;
    known = false;
}

// Takes the pointer's position from the answer to a call, given what the
// call returned. Returns whether there was one.
static bool take_position(int called, sd_bus_message *reply)
{
    uint32_t buttons = 0;
    known = called >= 0 && sd_bus_message_read(reply, "iiu", &pointerx, &pointery, &buttons) > 0;
    pressed = pressed || buttons != 0;
    sd_bus_message_unref(reply);
    if (!known) {
        note_failure();
        return false;
    }
    ++answers;  // wraps as the extension's count does
    return true;
}

// Takes the news of a Moved signal: the pointer's position, its buttons and
// the moves that took it there. Returns whether it moved from where glide
// knew it to be; a signal sent before glide's last answer is old news.
static bool take_moved(sd_bus_message *message)
{
    int32_t x = 0;
    int32_t y = 0;
    uint32_t after = 0;
    uint32_t buttons = 0;
    uint32_t made = 0;
    int64_t at = 0;
    if (sd_bus_message_read(message, "iiuuux", &x, &y, &after, &buttons, &made, &at) <= 0 ||
        !known || after != answers) {
        return false;
    }
    pressed = pressed || buttons != 0;
    // Where glide put it, the moves were glide's own.
    if (x == pointerx && y == pointery) {
        return false;
    }
    pointerx = x;
    pointery = y;
    moves = static_cast<int32_t>(std::min<int64_t>(int64_t{moves} + made, 1 << 30));
    movedat = at;
    return true;
}

// Takes a choice made in the toggle's menu: which, and the program it named.
static void take_choice(sd_bus_message *message)
{
    const char *choice = nullptr;
    const char *program = nullptr;
    if (sd_bus_message_read(message, "ss", &choice, &program) <= 0) {
        return;
    }
    Chosen chosen;
    const std::string_view which = choice;
    for (const auto &[word, meant] :
         {std::pair{"listed", Choice::listed}, std::pair{"fullscreen", Choice::fullscreen},
          std::pair{"short", Choice::shortglide}, std::pair{"medium", Choice::mediumglide},
          std::pair{"long", Choice::longglide}}) {
        chosen.choice = which == word ? meant : chosen.choice;
    }
    std::snprintf(chosen.program.data(), chosen.program.size(), "%s", program);
    if (chosen.choice != Choice::none) {
        note_choice(chosen);
    }
}

// Takes what has come on the bus, without waiting. Returns whether any of it
// should wake glide at rest: the pointer moved from where glide knew it to
// be, the desktop changed, or the extension came or went.
static bool take_messages()
{
    bool woken = false;
    for (sd_bus_message *message = next_message(bus); message != nullptr;
         message = next_message(bus)) {
        const char *owned = nullptr;
        const char *before = nullptr;
        const char *now = nullptr;
        if (sd_bus_message_is_signal(message, name, "Moved") > 0) {
            woken = take_moved(message) || woken;
        } else if (sd_bus_message_is_signal(message, name, "Toggle") > 0 &&
                   from_own_user(message)) {
            note_request(Control::toggle, {});  // the toggle, or the shortcut
        } else if (sd_bus_message_is_signal(message, name, "DesktopChanged") > 0) {
            desktopchanged = true;
            woken = true;
        } else if (sd_bus_message_is_signal(message, name, "Focus") > 0 && from_own_user(message)) {
            take_focus_message(message);
        } else if (sd_bus_message_is_signal(message, name, "Choose") > 0 &&
                   from_own_user(message)) {
            take_choice(message);
        } else if (sd_bus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged") >
                       0 &&
                   sd_bus_message_read(message, "sss", &owned, &before, &now) > 0 &&
                   std::strcmp(owned, name) == 0) {
            if (*now == '\0') {
                gone = true;
                known = false;  // nor where the pointer is, from here on
            } else {
                back = true;
            }
            woken = true;
        }
        sd_bus_message_unref(message);
    }
    return woken;
}

// Asks the extension for the pointer. Returns 0 once glide holds it, 1 when
// the extension is not there, and 3 when another glide holds it.
static int claim()
{
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is C
    const int called = sd_bus_call_method(bus, name, path, name, "Claim", &error, nullptr, "");
    const bool busy = sd_bus_error_has_name(&error, GLIDE_GNOME_NAME ".Error.Busy") > 0;
    sd_bus_error_free(&error);
    if (called >= 0) {
        return 0;
    }
    if (sd_bus_is_open(bus) <= 0) {
        lose_bus();
    }
    return busy ? 3 : 1;
}

// Tells the extension what glide shows.
static void send_state()
{
    sd_bus_call_method(bus, name, path, name, "ShowState", nullptr, nullptr, "ss",
                       state_name(shownstate), shownprogram.data());
}

// Tells the extension what its toggle's menu shows: the program to name,
// by the name to list and by its friendliest, whether it is listed, full
// screen, the glide chosen, and the command line's friction, if any.
static void send_menu()
{
    std::array<char, 32> fixed{};
    if (shownmenu.fixed) {
        std::snprintf(fixed.data(), fixed.size(), "%g", static_cast<double>(shownmenu.friction));
    }
    sd_bus_call_method(bus, name, path, name, "ShowMenu", nullptr, nullptr, "ssbbis",
                       shownmenu.program.names[0].data(),
                       shownmenu.program.names[friendliest].data(),
                       static_cast<int>(shownmenu.listed), static_cast<int>(shownmenu.fullscreen),
                       shownmenu.glide, fixed.data());
}

// While the extension is gone, sleeps on the bus until its name comes back,
// and claims the pointer again. Returns whether it did: false when a
// request came for the loop meanwhile.
static bool wait_for_extension()
{
    while (gone) {
        back = false;
        const int claimed = claim();
        if (claimed == 0) {
            gone = false;
            answers = 0;            // the extension counts anew
            desktopchanged = true;  // the monitors may have changed meanwhile
            send_state();           // it thinks a glide starts active
            return true;
        }
        if (claimed == 3) {
            std::fputs(sessiontaken, stderr);
            std::exit(3);
        }
        for (take_messages(); !back; take_messages()) {
            if (news_waiting()) {
                return false;
            }
            sleep_on_bus(bus, -1, -1);
        }
    }
    return true;
}

int gnome_open()
{
    // Told when the extension comes and goes. The signals it sends are
    // addressed to glide, and come without asking.
    int opened = sd_bus_open_user(&bus);
    if (opened >= 0) {
        opened = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "AddMatch", nullptr, nullptr, "s",
                                    "type='signal',sender='org.freedesktop.DBus',"
                                    "member='NameOwnerChanged',arg0='" GLIDE_GNOME_NAME "'");
    }
    if (opened < 0) {
        std::fprintf(stderr, "glide: cannot connect to the session bus: %s\n",
                     std::strerror(-opened));
        return 1;
    }
    if (const int served = serve_control(bus); served != 0) {
        return served;
    }
    const int claimed = claim();
    if (claimed == 1) {
        std::fprintf(stderr,
                     "glide: on GNOME under Wayland, glide moves the pointer through its "
                     "extension: gnome-extensions enable %s\n",
                     uuid);
    } else if (claimed == 3) {
        std::fputs(sessiontaken, stderr);
    }
    return claimed;
}

void gnome_screen_size(int32_t *width, int32_t *height)
{
    take_messages();
    if (desktopchanged && !gone) {
        sd_bus_message *reply = nullptr;
        if (sd_bus_call_method(bus, name, path, name, "Desktop", nullptr, &reply, "") < 0 ||
            sd_bus_message_read(reply, "ii", &screenwidth, &screenheight) <= 0) {
            note_failure();
            sd_bus_message_unref(reply);
        } else {
            desktopchanged = false;
            monitorschanged = true;
            sd_bus_message_unref(desktop);
            desktop = reply;
        }
    }
    *width = screenwidth;
    *height = screenheight;
}

void gnome_monitors()
{
    if (!monitorschanged) {
        return;
    }
    monitorschanged = false;
    clear_monitors();
    int listed = 0;
    if (desktop != nullptr && sd_bus_message_enter_container(desktop, 'a', "(iiii)") > 0) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t w = 0;
        int32_t h = 0;
        while (sd_bus_message_read(desktop, "(iiii)", &x, &y, &w, &h) > 0) {
            add_monitor({x, y, int64_t{x} + w, int64_t{y} + h});
            ++listed;
        }
    }
    desktop = sd_bus_message_unref(desktop);
    if (listed == 0) {
        add_monitor({0, 0, screenwidth, screenheight});
    }
}

bool gnome_read_cursor(int32_t *x, int32_t *y)
{
    if (!known) {
        if (!wait_for_extension()) {
            return false;
        }
        sd_bus_message *reply = nullptr;
        const int called = sd_bus_call_method(bus, name, path, name, "Read", nullptr, &reply, "");
        if (!take_position(called, reply)) {
            return false;
        }
    }
    *x = pointerx;
    *y = pointery;
    return true;
}

void gnome_set_cursor(int32_t x, int32_t y)
{
    // By how much, from where glide knows it to be: the extension moves it on
    // from where it is when the call comes, as X11's second read would.
    const auto by = [](int32_t to, int32_t from) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{to} - from, INT32_MIN, INT32_MAX));
    };
    sd_bus_message *reply = nullptr;
    const int called = sd_bus_call_method(bus, name, path, name, "MoveBy", nullptr, &reply, "ii",
                                          by(x, pointerx), by(y, pointery));
    take_position(called, reply);
}

void gnome_wait_for_input(int64_t /*clock*/)
{
    // The compositor tells of every move, other programs' too: no need to
    // wake but when told.
    while (!take_messages() && !news_waiting()) {
        sleep_on_bus(bus, -1, -1);
    }
}

void gnome_show_menu(const Menu &menu)
{
    shownmenu = menu;
    send_menu();
}

void gnome_show_state(State state, const char *program)
{
    shownstate = state;
    std::snprintf(shownprogram.data(), shownprogram.size(), "%s", program);
    send_state();
}

void gnome_take_news()
{
    take_messages();
}

void gnome_wait_for_news()
{
    // The extension's news of the pointer still come, and are taken in.
    for (take_messages(); !news_waiting(); take_messages()) {
        sleep_on_bus(bus, -1, -1);
    }
}

HandNews gnome_take_hand()
{
    // The compositor's moves stand for a device's reports: those that took
    // the pointer where glide did not.
    const HandNews news{moves, movedat / 1000, true, pressed};
    pressed = false;
    moves = 0;
    return news;
}

bool gnome_hears_hand()
{
    return true;  // the compositor tells of every move
}
