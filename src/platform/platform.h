// The little that glide needs from the system it runs on. Exactly one source
// file in this folder defines these functions for each platform; the tests
// link a fake one instead.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

// Writes what start-up has to say on standard output and standard error.
// Where there is no stream to write it to (glidew.exe started from the
// desktop), shows it in a message box instead.
void platform_tell(const char *out, const char *err);

// What platform_open() returns when glide may run.
constexpr int platform_ready = 0;

// Connects to the display (on GNOME under Wayland, to glide's extension in
// the compositor; on KDE Plasma, to KWin and the script glide loads into it)
// and makes sure that no other glide moves its cursor. Returns
// platform_ready, or else says why on standard error, in one line, and
// returns the status to exit with: 1 when there is no display, extension or
// script, 3 when another glide already runs on it.
int platform_open();

// The screen's size in pixels, taking in any change since the last call
// without waiting on the display.
void platform_screen_size(int32_t *width, int32_t *height);

// Takes in the monitors when they have changed since the last call, and on
// the first: lists them anew with clear_monitors() and add_monitor(). Waits
// on the display only when they have changed.
void platform_monitors();

// Reads the cursor's screen position. Writes x and y and returns true only
// when the read succeeded.
bool platform_read_cursor(int32_t *x, int32_t *y);

// Moves the cursor to the given screen position, kept on the screen.
void platform_set_cursor(int32_t x, int32_t y);

// Milliseconds elapsed since the program started, from a monotonic clock.
int64_t platform_clock();

// Sleeps until platform_clock() would first read the given value.
void platform_wait_until(int64_t clock);

// Sleeps until a device moves the pointer, the screen or the monitors
// change, something is asked of glide, the focus or the settings file
// changes, or platform_clock() would read the given value, whichever comes
// first. Where the system tells of every move, another program's too, it
// need not wake at that time; where it cannot tell of the pointer's
// movements, returns at once.
void platform_wait_for_input(int64_t clock);

// What the hand did up to the last read of the cursor, since it was last
// asked: how many motion reports its devices made, the time of the last one
// in milliseconds, whether that is the devices' own (or else
// platform_clock() as the read was taken), and whether a button was pressed
// or is held.
struct HandNews {
    int32_t reports;
    int64_t time;
    bool timed;
    bool pressed;
};
HandNews platform_take_hand();

// Whether platform_wait_for_input() wakes when a device moves the pointer;
// false where the system does not tell (Wine delivers no raw input).
bool platform_hears_hand();

// Writes one report line to standard output, and flushes it.
void platform_write_line(const char *line);

// What may be asked of a running glide: to pause, to resume, or to do
// whichever it is not doing; and, from the command line alone, to tell
// whether it is paused.
enum class Control { none, pause, resume, toggle, status };

// The oldest thing asked of glide that the loop has not taken yet (from the
// command line, or SIGUSR1 on Linux), taking in what has come without
// waiting; Control::none when nothing waits. Never Control::status.
Control platform_take_control();

// What glide is doing: ticking, paused by the user, or stepped aside for
// the program that has the focus.
enum class State { active, paused, aside };

// Says that glide has taken in all that platform_take_control() returned,
// and what it is doing now, and which program has the focus (empty where
// none has, or the platform cannot tell): answers whoever asked, and shows
// both to whoever looks.
void platform_show_state(State state, const char *program);

// While glide does not tick (paused or aside): sleeps until something is
// asked of it, the focus changes or the settings file may have. It may
// wake for other news too.
void platform_wait_for_news();

// For the command line: asks the glide that runs in this session (the one
// beside which platform_open() would answer 3) to pause, resume or toggle,
// and returns once it has taken that in; or, for Control::status, prints
// its state ("active", "paused" or "aside") on standard output, and on a
// line of its own the program that has the focus, if any. Opens no display
// for itself. Returns the status to exit with: 0, or 1 when no glide runs
// or it does not answer, having said so on standard error.
int platform_send_control(Control control);

// The program that has the focus, that is the active window's: the names
// the platform knows it by, the first the one glide --status prints
// (empty where no program has the focus or the platform cannot tell), and
// its friendliest, for menus; whether its window fills its monitor; and
// whether the window is the desktop's own (a taskbar that took the focus
// as its icon was clicked), whose program is none.
constexpr size_t namesize = 128;
struct Focus {
    std::array<std::array<char, namesize>, 3> names{};
    bool fullscreen = false;
    bool shell = false;
    bool operator==(const Focus &) const = default;
};
constexpr size_t friendliest = 2;  // the names' entry for menus

// Sets the focus's name number which, cut to fit at a character's start,
// with any control character as "?": a window's names are any program's to
// set, and end up on a terminal.
inline void name_focus(Focus *focus, size_t which, std::string_view name)
{
    std::array<char, namesize> &to = focus->names.at(which);
    to.fill('\0');
    size_t length = std::min(name.size(), namesize - 1);
    while (length < name.size() && length > 0 &&
           (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
        --length;  // not within a character
    }
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        to.at(i) = byte < 0x20 || byte == 0x7f ? '?' : name[i];
    }
}

// What has the focus, when it has changed since the last call, or on the
// first: writes it and returns true; else false. Takes in nothing itself:
// called after platform_take_control(), which has.
bool platform_take_focus(Focus *focus);

// Where glide's settings file is: $XDG_CONFIG_HOME/glide/glide.conf on
// Linux, %APPDATA%\glide\glide.conf on Windows; empty where there is no
// such folder to name.
std::filesystem::path platform_settings_file();

// Whether the settings file may have changed since the last call: written,
// replaced, created or deleted, or its folder come or gone. Takes in what
// has come, without waiting.
bool platform_settings_changed();

// Says something as glide runs, on standard error (where glidew.exe has
// none, in a balloon by its icon).
void platform_warn(const char *text);

// Writes the settings file anew, as the given text, atomically: a file of
// its own in the same folder (made, 0700 on Linux, where it is missing),
// flushed, then renamed over the old. Returns false, having changed
// nothing, with why in why.
bool platform_write_settings(std::string_view text, std::string &why);

// What the menus show of the settings (the tray's, the notification area's,
// GNOME's toggle's): "Not in PROGRAM", for the program that last had the
// focus, checked while its settings list it (absent for no program); "Step
// aside in full screen"; and which of the glides, short, medium or long, is
// chosen (-1: none), unless the command line gave the friction, which is
// then named instead.
struct Menu {
    Focus program;
    bool listed = false;
    bool fullscreen = true;
    int glide = 1;
    bool fixed = false;
    float friction = 0.0f;
    bool operator==(const Menu &) const = default;
};
void platform_show_menu(const Menu &menu);

// What was chosen in a menu: "Not in PROGRAM", for the program it named;
// "Step aside in full screen"; a glide, short, medium or long.
enum class Choice { none, listed, fullscreen, shortglide, mediumglide, longglide };
struct Chosen {
    Choice choice = Choice::none;
    std::array<char, namesize> program{};
};

// The oldest choice made in a menu that the loop has not taken yet, taken
// in without waiting (after platform_take_control(), which has);
// Choice::none when none waits.
Chosen platform_take_choice();
