// The platform on Linux and other X11 systems.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform.h"

// The one connection, opened at start-up, and what it points at.
static Display *display;
static Window root;
static int rootwidth;  // the screen, which keeps the cursor on it
static int rootheight;

// The monotonic clock's reading when the program started, in nanoseconds.
static int64_t startns;

static int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

static int32_t clamp(int32_t v, int32_t low, int32_t high)
{
    return v < low ? low : v > high ? high : v;
}

bool platform_open()
{
    startns = now_ns();
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        std::fputs(
            "glide: warning: under Wayland (Xwayland) an X client can move the pointer "
            "only over its own windows\n",
            stderr);
    }
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char *name = XDisplayName(nullptr);
        std::fprintf(stderr, "glide: cannot open display %s\n",
                     *name != '\0' ? name : "(DISPLAY is not set)");
        return false;
    }
    root = DefaultRootWindow(display);
    rootwidth = DisplayWidth(display, DefaultScreen(display));
    rootheight = DisplayHeight(display, DefaultScreen(display));
    return true;
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    Window rootreturn = 0;
    Window child = 0;
    int rootx = 0;
    int rooty = 0;
    int winx = 0;
    int winy = 0;
    unsigned int mask = 0;
    // False when the pointer is on another screen: no position on ours.
    if (XQueryPointer(display, root, &rootreturn, &child, &rootx, &rooty, &winx, &winy, &mask) ==
        False) {
        return false;
    }
    *x = rootx;
    *y = rooty;
    return true;
}

void platform_set_cursor(int32_t x, int32_t y)
{
    // The protocol carries 16-bit coordinates: a target past 32767 would wrap
    // to the other side, so keep it on the screen first.
    XWarpPointer(display, None, root, 0, 0, 0, 0, clamp(x, 0, rootwidth - 1),
                 clamp(y, 0, rootheight - 1));
    XFlush(display);
}

int64_t platform_clock()
{
    return (now_ns() - startns) / 1000000;
}

void platform_wait_until(int64_t clock)
{
    const int64_t deadline = startns + clock * 1000000;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline / 1000000000);
    ts.tv_nsec = static_cast<long>(deadline % 1000000000);
    // An early wake-up (a signal) is harmless: the caller checks the clock.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

void platform_write_line(const char *line)
{
    // Flushed at once: a pipe would otherwise hold a hundred lines, lost when
    // the process is ended, which is the only way it ends.
    std::fputs(line, stdout);
    std::fflush(stdout);
}
