// The pointer on KDE Plasma under Wayland, where only KWin may read it: a
// script glide loads into KWin tells glide where it is over the session bus,
// and glide moves it through KWin's fake input, as a device would.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "backends.h"
#include "bus.h"
#include "desktop.h"
#include "fake-input-client-protocol.h"
#include "kwin_script.h"
#include "tray.h"

// Where and as what the script calls glide, on its own connection.
static const char *const path = "/org/glide/Glide";
static const char *const interface = "org.glide.Glide";

// What the script is called in KWin, and the file it is loaded from.
static const char *const scriptname = "glide";
static std::string scriptfile;

// The connections, opened at start-up: the bus, with KWin's own name on it
// (only KWin's calls are believed), and the Wayland display with its fake
// input, and the version of that KWin offers.
static sd_bus *bus;
static std::string kwin;
static wl_display *display;
static org_kde_kwin_fake_input *fakeinput;
static uint32_t fakeversion;

// Where the pointer is, as the script last told; and what the hand did
// since glide last asked, for --throw: the moves the script counted to where
// glide did not put it, and when the last came, on the script's clock,
// unwrapped.
static int32_t pointerx;
static int32_t pointery;
static bool known;
// Where glide has moved the pointer that the script has not yet told of,
// oldest first: its word of one of them is of glide's moves up to that one,
// and of the hand's for any more it counted.
struct Target {
    int32_t x;
    int32_t y;
};
static std::array<Target, 4> targets;
static size_t targetcount;
static int32_t moves;
static int64_t movedat;
// The script's clock, unwrapped, and its last reading as told.
static int64_t scriptclock;
static uint32_t lastscripttime;

// The desktop's size as the script last told it, and its last Desktop call,
// its screens not yet taken.
static int32_t screenwidth;
static int32_t screenheight;
static sd_bus_message *desktop;
static bool monitorschanged;

// Whether the screen is locked: glide waits, and moves nothing.
static bool locked;

// Takes glide's script out of KWin, waiting half a second at most: a KWin
// that does not answer must not hold up glide's end.
static void unload_script()
{
    sd_bus_message *call = nullptr;
    if (bus != nullptr && sd_bus_is_open(bus) > 0 &&
        sd_bus_message_new_method_call(bus, &call, "org.kde.KWin", "/Scripting",
                                       "org.kde.kwin.Scripting", "unloadScript") >= 0 &&
        sd_bus_message_append(call, "s", scriptname) >= 0) {
        sd_bus_call(bus, call, 500000, nullptr, nullptr);
    }
    sd_bus_message_unref(call);
}

[[noreturn]] static void lose_display()
{
    std::fputs("glide: lost the Wayland display\n", stderr);
    unload_script();
    std::exit(1);
}

// Takes glide's script out of KWin, and its file, if KWin had not read it yet.
static void take_script_out()
{
    unload_script();
    if (!scriptfile.empty()) {
        unlink(scriptfile.c_str());
    }
}

// Ends glide for a signal that has come to end it, its script unloaded
// first.
static void end_if_signalled()
{
    if (const int signal = ending_signal(); signal != 0) {
        take_script_out();
        end_by_signal(signal);
    }
}

void kwin_quit()
{
    take_script_out();
    std::exit(0);
}

// Takes a Moved call: the pointer's position, how many moves took it there
// and the time of the last. Returns whether it moved from where glide knew
// it to be.
static bool take_moved(sd_bus_message *message)
{
    int32_t x = 0;
    int32_t y = 0;
    int32_t made = 0;
    int32_t at = 0;
    if (sd_bus_message_read(message, "iiii", &x, &y, &made, &at) <= 0) {
        return false;
    }
    // The script's clock, 31 bits wide: a step back is a clock set back.
    const uint32_t time = static_cast<uint32_t>(at) & 0x7fffffffU;
    const uint32_t step = (time - lastscripttime) & 0x7fffffffU;
    scriptclock += step < 0x40000000U ? int64_t{step} : int64_t{step} - 0x80000000LL;
    lastscripttime = time;
    // Where glide put it, glide's moves were its own, and any more were the
    // hand's, made before a move of glide's put the pointer where glide
    // wanted it.
    size_t own = 0;
    while (own < targetcount && (targets.at(own).x != x || targets.at(own).y != y)) {
        ++own;
    }
    const bool glides = own < targetcount;
    if (glides) {
        auto *const first = targets.begin();
        std::copy(first + static_cast<ptrdiff_t>(own) + 1,
                  first + static_cast<ptrdiff_t>(targetcount), first);
        targetcount -= own + 1;
    }
    const int32_t hands = std::max(glides ? made - static_cast<int32_t>(own + 1) : made, 0);
    const bool moved = glides ? hands > 0 : !known || x != pointerx || y != pointery;
    if (moved) {
        moves = static_cast<int32_t>(std::min<int64_t>(int64_t{moves} + hands, 1 << 30));
        movedat = scriptclock;
    }
    pointerx = x;
    pointery = y;
    known = true;
    return moved;
}

// Takes a Desktop call, kept until its screens are listed.
static bool take_desktop(sd_bus_message *message)
{
    int32_t width = 0;
    int32_t height = 0;
    if (sd_bus_message_read(message, "ii", &width, &height) <= 0) {
        return false;
    }
    screenwidth = width;
    screenheight = height;
    sd_bus_message_unref(desktop);
    desktop = sd_bus_message_ref(message);
    monitorschanged = true;
    return true;
}

// The next of the whole numbers in the Desktop call's array, each in a
// variant. Returns whether there was one.
static bool read_number(int32_t *n)
{
    if (sd_bus_message_enter_container(desktop, 'v', "i") <= 0) {
        return false;
    }
    const bool read = sd_bus_message_read(desktop, "i", n) > 0;
    return sd_bus_message_exit_container(desktop) >= 0 && read;
}

// Answers a call to glide's object: the script's, when it comes from KWin.
// Returns whether it should wake glide at rest.
static bool take_call(sd_bus_message *message)
{
    const char *sender = sd_bus_message_get_sender(message);
    const char *object = sd_bus_message_get_path(message);
    if (sender == nullptr || kwin != sender || object == nullptr ||
        std::strcmp(object, path) != 0) {
        sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED, "glide hears KWin alone");
        return false;
    }
    bool woken = false;
    if (sd_bus_message_is_method_call(message, interface, "Moved") > 0) {
        woken = take_moved(message);
    } else if (sd_bus_message_is_method_call(message, interface, "Desktop") > 0) {
        woken = take_desktop(message);
    } else if (sd_bus_message_is_method_call(message, interface, "Toggle") > 0) {
        woken = note_request(Control::toggle, {});  // the script's shortcut
    } else if (sd_bus_message_is_method_call(message, interface, "Focus") > 0) {
        take_focus_message(message);
    }
    sd_bus_reply_method_return(message, "");
    return woken;
}

// Takes what has come on the bus, without waiting. Returns whether any of it
// should wake glide at rest: the pointer moved from where glide knew it to
// be, the desktop changed, or the screen locked or unlocked.
static bool take_messages()
{
    end_if_signalled();
    bool woken = false;
    for (sd_bus_message *message = next_message(bus); message != nullptr;
         message = next_message(bus)) {
        int active = 0;
        const char *owned = nullptr;
        const char *before = nullptr;
        const char *now = nullptr;
        if (sd_bus_message_is_method_call(message, nullptr, nullptr) > 0) {
            woken = take_call(message) || woken;
        } else if (sd_bus_message_is_signal(message, "org.freedesktop.ScreenSaver",
                                            "ActiveChanged") > 0 &&
                   sd_bus_message_read(message, "b", &active) > 0) {
            locked = active != 0;
            woken = true;
        } else if (sd_bus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged") >
                       0 &&
                   sd_bus_message_read(message, "sss", &owned, &before, &now) > 0 &&
                   std::strcmp(owned, "org.kde.KWin") == 0 && *now == '\0') {
            lose_display();  // KWin has gone, and its display with it
        }
        sd_bus_message_unref(message);
    }
    return woken;
}

// Sleeps until the bus has something, the display breaks or a signal comes,
// or for the given milliseconds (-1: no end); then takes what came. Returns
// whether it should wake glide at rest.
static bool wait_on_bus(int timeout)
{
    // The display sends glide nothing but errors and its end.
    if (sleep_on_bus(bus, wl_display_get_fd(display), timeout) != 0 &&
        wl_display_dispatch(display) < 0) {
        lose_display();
    }
    return take_messages();
}

// Waits on the bus, for the given milliseconds at most, until the script
// has told what done() looks for. Returns whether it has.
template <typename Done>
static bool wait_for_word(int64_t ms, Done done)
{
    const int64_t deadline = platform_clock() + ms;
    for (int64_t now = platform_clock(); !done(); now = platform_clock()) {
        if (now >= deadline) {
            return false;
        }
        wait_on_bus(static_cast<int>(deadline - now));
    }
    return true;
}

// Says why KWin would not load or run the script, given what a call returned.
static void say_refused(int called, const sd_bus_error *error)
{
    std::fprintf(stderr, "glide: KWin would not load glide's script: %s\n",
                 error->message != nullptr ? error->message : std::strerror(-called));
}

// Writes the script, naming glide's connection, to a file of glide's own.
static bool write_script()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        std::fputs("glide: KWin would not load glide's script: XDG_RUNTIME_DIR is not set\n",
                   stderr);
        return false;
    }
    const char *unique = "";
    sd_bus_get_unique_name(bus, &unique);
    scriptfile.assign(runtime).append("/glide-kwin.js");
    std::string text("const glide = '");
    text.append(unique).append("';\n").append(kwin_script);
    unlink(scriptfile.c_str());
    const int fd =
        open(scriptfile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!written) {
        std::fprintf(stderr, "glide: KWin would not load glide's script: cannot write %s: %s\n",
                     scriptfile.c_str(), std::strerror(errno));
    }
    if (fd >= 0) {
        close(fd);
    }
    return written;
}

// Runs the script KWin loaded as the given number, through its own object:
// KWin 5's start() would unload it again, as it is no installed script.
// KWin 6 names the object /Scripting/ScriptN, KWin 5 /N.
static bool run_script(int32_t id)
{
    int called = 0;
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is C
    for (const char *format : {"/Scripting/Script%d", "/%d"}) {
        std::array<char, 32> object{};
        std::snprintf(object.data(), object.size(), format, id);
        sd_bus_error_free(&error);
        called = sd_bus_call_method(bus, "org.kde.KWin", object.data(), "org.kde.kwin.Script",
                                    "run", &error, nullptr, "");
        if (called >= 0 || sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_OBJECT) <= 0) {
            break;
        }
    }
    if (called < 0) {
        say_refused(called, &error);
    }
    sd_bus_error_free(&error);
    return called >= 0;
}

// Loads glide's script into KWin and runs it, after unloading any that a
// glide that died left behind. Returns whether it runs.
static bool start_script()
{
    unload_script();
    if (!write_script()) {
        return false;
    }
    sd_bus_error error{};
    sd_bus_message *reply = nullptr;
    int32_t id = -1;
    const int called =
        sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                           "loadScript", &error, &reply, "ss", scriptfile.c_str(), scriptname);
    if (called < 0) {
        say_refused(called, &error);
    } else if (sd_bus_message_read(reply, "i", &id) <= 0 || id < 0) {
        std::fprintf(stderr, "glide: KWin would not load glide's script: it answered %d\n", id);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return id >= 0 && run_script(id);
}

static void on_global(void * /*data*/, wl_registry *registry, uint32_t id, const char *offered,
                      uint32_t version)
{
    if (fakeinput == nullptr && std::strcmp(offered, org_kde_kwin_fake_input_interface.name) == 0) {
        fakeversion = std::min<uint32_t>(version, 4);
        fakeinput = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, id, &org_kde_kwin_fake_input_interface, fakeversion));
    }
}

static void on_global_remove(void * /*data*/, wl_registry * /*registry*/, uint32_t /*id*/) {}

static const wl_registry_listener registrylistener{on_global, on_global_remove};

// Connects to the display and to its fake input, which KWin offers only to
// a program that a .desktop file allows it. Returns whether glide may move
// the pointer.
static bool open_fake_input()
{
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "glide: cannot open the Wayland display %s: %s\n",
                     std::getenv("WAYLAND_DISPLAY"), std::strerror(errno));
        return false;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registrylistener, nullptr);
    if (wl_display_roundtrip(display) < 0) {
        lose_display();
    }
    wl_registry_destroy(registry);
    if (fakeinput == nullptr) {
        std::fputs(
            "glide: KWin does not let glide move the pointer: install glide, whose "
            "glide.desktop allows it, and run the installed glide\n",
            stderr);
        return false;
    }
    // Moves before this are dropped without a word.
    org_kde_kwin_fake_input_authenticate(fakeinput, "glide", "gives the pointer momentum");
    return true;
}

// Waits for the script's first word of the pointer and the desktop.
static bool hear_script()
{
    if (!wait_for_word(3000, [] { return known && desktop != nullptr; })) {
        std::fputs(
            "glide: KWin would not load glide's script: it never told where the pointer is\n",
            stderr);
        unload_script();
        return false;
    }
    moves = 0;
    return true;
}

int kwin_open()
{
    const int opened = sd_bus_open_user(&bus);
    if (opened < 0) {
        std::fprintf(stderr, "glide: cannot connect to the session bus: %s\n",
                     std::strerror(-opened));
        return 1;
    }
    if (const int served = serve_control(bus); served != 0) {
        return served;
    }
    start_tray(bus);
    const char *owner = nullptr;
    sd_bus_message *reply = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                           "org.kde.KWin") < 0 ||
        sd_bus_message_read(reply, "s", &owner) <= 0) {
        sd_bus_message_unref(reply);
        std::fputs("glide: KWin would not load glide's script: KWin is not on the session bus\n",
                   stderr);
        return 1;
    }
    kwin = owner;
    sd_bus_message_unref(reply);
    // Told when KWin goes, and when the screen locks and unlocks.
    sd_bus_add_match(bus, nullptr,
                     "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                     "arg0='org.kde.KWin'",
                     nullptr, nullptr);
    sd_bus_add_match(bus, nullptr,
                     "type='signal',sender='org.freedesktop.ScreenSaver',"
                     "interface='org.freedesktop.ScreenSaver',member='ActiveChanged'",
                     nullptr, nullptr);
    int active = 0;
    reply = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.ScreenSaver", "/ScreenSaver",
                           "org.freedesktop.ScreenSaver", "GetActive", nullptr, &reply, "") >= 0 &&
        sd_bus_message_read(reply, "b", &active) > 0) {
        locked = active != 0;
    }
    sd_bus_message_unref(reply);
    if (!open_fake_input()) {
        return 1;
    }
    const bool heard = start_script() && hear_script();
    unlink(scriptfile.c_str());  // read: KWin answers run() once it has read it
    return heard ? platform_ready : 1;
}

void kwin_screen_size(int32_t *width, int32_t *height)
{
    take_messages();
    *width = screenwidth;
    *height = screenheight;
}

void kwin_monitors()
{
    if (!monitorschanged) {
        return;
    }
    monitorschanged = false;
    clear_monitors();
    int listed = 0;
    if (desktop != nullptr && sd_bus_message_rewind(desktop, 1) >= 0 &&
        sd_bus_message_skip(desktop, "ii") >= 0 &&
        sd_bus_message_enter_container(desktop, 'a', "v") > 0) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t w = 0;
        int32_t h = 0;
        while (read_number(&x) && read_number(&y) && read_number(&w) && read_number(&h)) {
            add_monitor({x, y, int64_t{x} + w, int64_t{y} + h});
            ++listed;
        }
    }
    desktop = sd_bus_message_unref(desktop);
    if (listed == 0) {
        add_monitor({0, 0, screenwidth, screenheight});
    }
}

bool kwin_read_cursor(int32_t *x, int32_t *y)
{
    take_messages();
    while (locked && !news_waiting()) {
        wait_on_bus(-1);
    }
    if (locked) {
        return false;  // the loop has a request to take first
    }
    *x = pointerx;
    *y = pointery;
    return true;
}

// A pixel coordinate as a Wayland fixed-point number, which has 24 bits for
// the whole part.
static wl_fixed_t fixed(int64_t v)
{
    return wl_fixed_from_int(
        static_cast<int>(std::clamp<int64_t>(v, -(1 << 23) + 1, (1 << 23) - 1)));
}

void kwin_set_cursor(int32_t x, int32_t y)
{
    take_messages();
    x = std::clamp(x, 0, std::max(screenwidth, 1) - 1);
    y = std::clamp(y, 0, std::max(screenheight, 1) - 1);
    if (locked || (x == pointerx && y == pointery)) {
        return;
    }
    if (fakeversion >= 3) {
        org_kde_kwin_fake_input_pointer_motion_absolute(fakeinput, fixed(x), fixed(y));
    } else {
        org_kde_kwin_fake_input_pointer_motion(fakeinput, fixed(int64_t{x} - pointerx),
                                               fixed(int64_t{y} - pointery));
    }
    if (wl_display_flush(display) < 0) {
        lose_display();
    }
    if (targetcount == targets.size()) {
        std::copy(targets.begin() + 1, targets.end(), targets.begin());  // the oldest, lost
        --targetcount;
    }
    targets.at(targetcount++) = {x, y};
    // The next tick reads where the move put the pointer: the script tells
    // of it at once, or within its spacing. KWin keeps the pointer on its
    // screens, and may have put it elsewhere: then the last word stands.
    wait_for_word(20, [x, y] { return pointerx == x && pointery == y; });
}

void kwin_wait_for_input(int64_t /*clock*/)
{
    // The script tells of every move, other programs' too: no need to wake
    // but when told.
    while (!news_waiting() && !wait_on_bus(-1)) {
    }
}

void kwin_say_paused(bool paused)
{
    // Where plasmashell runs; elsewhere the call fails unheard.
    call_unanswered(bus, "org.kde.plasmashell", "/org/kde/osdService", "org.kde.osdService",
                    "showText", "ss", paused ? "glide-paused" : "glide",
                    paused ? "glide paused" : "glide resumed");
}

void kwin_take_news()
{
    take_messages();
}

void kwin_wait_for_news()
{
    // The script's news of the pointer still come, and are answered.
    while (!news_waiting()) {
        wait_on_bus(-1);
    }
}

HandNews kwin_take_hand()
{
    // The script's moves stand for a device's reports: those that took the
    // pointer where glide did not. KWin tells scripts of no button.
    const HandNews news{moves, movedat, true, false};
    moves = 0;
    return news;
}

bool kwin_hears_hand()
{
    return true;  // the script tells of every move
}
