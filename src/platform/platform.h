// The little that glide needs from the system it runs on. Exactly one source
// file in this folder defines these functions for each platform; the tests
// link a fake one instead.
#pragma once

#include <cstdint>

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
// change, or platform_clock() would read the given value, whichever comes
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
