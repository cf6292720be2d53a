// The platform on Linux: the clock and the output, and the choice, at
// start-up, of how to reach the pointer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "backends.h"
#include "platform.h"

// Whether glide goes through its GNOME Shell extension rather than X11.
static bool gnome;

// The monotonic clock's reading when the program started, in nanoseconds.
static int64_t startns;

static int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Opens /dev/null on any of descriptors 0 to 2 that is closed, as daemons
// do: left closed, the display's or the bus's connection would take
// descriptor 1, and the report lines would go down it.
static void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor: this one, as those below are open.
            const int opened = open("/dev/null", O_RDWR);
            if (opened > fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

// Whether XDG_CURRENT_DESKTOP names GNOME: it is a list, such as
// ubuntu:GNOME.
static bool names_gnome(const char *desktop)
{
    if (desktop == nullptr) {
        return false;
    }
    for (const char *entry = desktop;; ++entry) {
        const char *end = std::strchr(entry, ':');
        const size_t length =
            end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
        if (length == 5 && std::strncmp(entry, "GNOME", 5) == 0) {
            return true;
        }
        if (end == nullptr) {
            return false;
        }
        entry = end;
    }
}

void platform_tell(const char *out, const char *err)
{
    std::fputs(out, stdout);
    std::fputs(err, stderr);
}

int platform_open()
{
    open_standard_descriptors();
    startns = now_ns();
    // A request written after the server or the bus has gone would raise
    // SIGPIPE and end glide before it could tell why. Ignored, the write
    // fails, and glide says what it lost.
    std::signal(SIGPIPE, SIG_IGN);
    // Under Wayland no client may read or move the pointer over the desktop:
    // on GNOME glide's extension does it, elsewhere glide can only warn.
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const bool underwayland = wayland != nullptr && *wayland != '\0';
    gnome = underwayland && names_gnome(std::getenv("XDG_CURRENT_DESKTOP"));
    if (gnome) {
        return gnome_open();
    }
    if (underwayland) {
        std::fputs(
            "glide: warning: under Wayland (Xwayland) an X client can move the pointer "
            "only over its own windows\n",
            stderr);
    }
    return x11_open();
}

void platform_screen_size(int32_t *width, int32_t *height)
{
    gnome ? gnome_screen_size(width, height) : x11_screen_size(width, height);
}

void platform_monitors()
{
    gnome ? gnome_monitors() : x11_monitors();
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    return gnome ? gnome_read_cursor(x, y) : x11_read_cursor(x, y);
}

void platform_set_cursor(int32_t x, int32_t y)
{
    gnome ? gnome_set_cursor(x, y) : x11_set_cursor(x, y);
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
    // An early wake-up (a signal) is harmless: the callers check the clock.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

void platform_wait_for_input(int64_t clock)
{
    gnome ? gnome_wait_for_input(clock) : x11_wait_for_input(clock);
}

HandNews platform_take_hand()
{
    return gnome ? gnome_take_hand() : x11_take_hand();
}

bool platform_hears_hand()
{
    return gnome ? gnome_hears_hand() : x11_hears_hand();
}

void platform_write_line(const char *line)
{
    // Flushed at once: a pipe would otherwise hold a hundred lines, lost when
    // the process is ended, which is the only way it ends.
    if ((std::fputs(line, stdout) == EOF || std::fflush(stdout) == EOF) && errno == EPIPE) {
        // The reader has gone (glide | head): end as SIGPIPE would have ended
        // glide had the connection not needed it ignored.
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
}
