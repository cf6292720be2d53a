// The platform on Linux: the clock and the output, and the choice, at
// start-up, of how to reach the pointer.
#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <utility>

#include "backends.h"
#include "dbusmenu.h"
#include "linux_settings.h"
#include "platform.h"
#include "requests.h"
#include "tray.h"

// How glide reaches the pointer: through the X server, through its GNOME
// Shell extension, or through its KWin script and KWin's fake input.
enum class Backend { x11, gnome, kwin };
static Backend backend;

// The monotonic clock's reading when the program started, in nanoseconds.
static int64_t startns;

// What has been asked of glide, and who waits to hear that it was taken in.
static Requests<Asker> requests;

// The signals glide takes in as it takes in the bus's messages: blocked,
// they make this signalfd readable instead of interrupting whatever glide
// is doing, and the waits poll it. SIGUSR1 asks glide to toggle; on KDE the
// signals that end glide come so too, and the one that came is kept.
static int signals = -1;
static int endsignal;

// What has the focus, as the backend last told; and what was chosen in a
// menu.
static FocusNews focusnews;
static Choices choices;

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

// Whether XDG_CURRENT_DESKTOP names the given desktop: it is a list, such
// as ubuntu:GNOME.
static bool names(const char *desktop, const char *wanted)
{
    if (desktop == nullptr) {
        return false;
    }
    for (const char *entry = desktop;; ++entry) {
        const char *end = std::strchr(entry, ':');
        const size_t length =
            end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
        if (length == std::strlen(wanted) && std::strncmp(entry, wanted, length) == 0) {
            return true;
        }
        if (end == nullptr) {
            return false;
        }
        entry = end;
    }
}

// How glide reaches the pointer, as the environment says. Under Wayland no
// client may read or move the pointer over the desktop: on GNOME glide's
// extension does it, on KDE its KWin script and KWin's fake input, and
// elsewhere glide can only warn. (On KDE, Xwayland answers with a stale
// pointer and moves only its own: it must not serve.)
static Backend choose_backend(bool *elsewhere)
{
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const bool underwayland = wayland != nullptr && *wayland != '\0';
    const char *desktop = std::getenv("XDG_CURRENT_DESKTOP");
    *elsewhere = false;
    if (underwayland && names(desktop, "GNOME")) {
        return Backend::gnome;
    }
    if (underwayland && names(desktop, "KDE")) {
        return Backend::kwin;
    }
    *elsewhere = underwayland;
    return Backend::x11;
}

// Blocks SIGUSR1, and with ending the signals that end glide, and has them
// come through the signalfd instead.
static void watch_signals(bool ending)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    if (ending) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&set, signal);
        }
    }
    signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals >= 0) {
        sigprocmask(SIG_BLOCK, &set, nullptr);
    }
}

static void take_signals()
{
    signalfd_siginfo info{};
    while (signals >= 0 && read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
            note_request(Control::toggle, {});
        } else if (endsignal == 0) {
            endsignal = static_cast<int>(info.ssi_signo);
        }
    }
}

int ending_signal()
{
    return endsignal;
}

[[noreturn]] void end_by_signal(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    std::raise(signal);  // pending while blocked, and delivered when unblocked
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::_Exit(128 + signal);  // not reached: the signal ends glide
}

void quit_glide()
{
    if (backend == Backend::kwin) {
        kwin_quit();
    }
    std::exit(0);
}

bool note_request(Control control, Asker asker)
{
    return keep_request(requests, control, asker);
}

bool news_waiting()
{
    return request_kept(requests) || focusnews.changed || settings_change_waiting() ||
           choices.count > 0;
}

void note_focus(const Focus &focus)
{
    note_focus(focusnews, focus);
}

void note_choice(const Chosen &chosen)
{
    keep_choice(choices, chosen);
}

NewsDescriptors news_descriptors()
{
    return {{{signals, POLLIN, 0}, {settings_watch_descriptor(), POLLIN, 0}}};
}

void take_news_descriptors(const NewsDescriptors &polled)
{
    if (polled[0].revents != 0) {
        take_signals();
    }
    if (polled[1].revents != 0) {
        take_settings_events();
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
    bool elsewhere = false;
    backend = choose_backend(&elsewhere);
    // On KDE glide ends by taking its script out of KWin first.
    watch_signals(backend == Backend::kwin);
    watch_settings_file();
    switch (backend) {
    case Backend::gnome:
        return gnome_open();
    case Backend::kwin:
        return kwin_open();
    case Backend::x11:
        break;
    }
    if (elsewhere) {
        std::fputs(
            "glide: warning: under Wayland (Xwayland) an X client can move the pointer "
            "only over its own windows\n",
            stderr);
    }
    return x11_open();
}

void platform_screen_size(int32_t *width, int32_t *height)
{
    switch (backend) {
    case Backend::x11:
        x11_screen_size(width, height);
        break;
    case Backend::gnome:
        gnome_screen_size(width, height);
        break;
    case Backend::kwin:
        kwin_screen_size(width, height);
        break;
    }
}

void platform_monitors()
{
    switch (backend) {
    case Backend::x11:
        x11_monitors();
        break;
    case Backend::gnome:
        gnome_monitors();
        break;
    case Backend::kwin:
        kwin_monitors();
        break;
    }
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    switch (backend) {
    case Backend::gnome:
        return gnome_read_cursor(x, y);
    case Backend::kwin:
        return kwin_read_cursor(x, y);
    case Backend::x11:
        break;
    }
    return x11_read_cursor(x, y);
}

void platform_set_cursor(int32_t x, int32_t y)
{
    switch (backend) {
    case Backend::x11:
        x11_set_cursor(x, y);
        break;
    case Backend::gnome:
        gnome_set_cursor(x, y);
        break;
    case Backend::kwin:
        kwin_set_cursor(x, y);
        break;
    }
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
    switch (backend) {
    case Backend::x11:
        x11_wait_for_input(clock);
        break;
    case Backend::gnome:
        gnome_wait_for_input(clock);
        break;
    case Backend::kwin:
        kwin_wait_for_input(clock);
        break;
    }
}

HandNews platform_take_hand()
{
    switch (backend) {
    case Backend::gnome:
        return gnome_take_hand();
    case Backend::kwin:
        return kwin_take_hand();
    case Backend::x11:
        break;
    }
    return x11_take_hand();
}

bool platform_hears_hand()
{
    switch (backend) {
    case Backend::gnome:
        return gnome_hears_hand();
    case Backend::kwin:
        return kwin_hears_hand();
    case Backend::x11:
        break;
    }
    return x11_hears_hand();
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

void platform_show_state(State state, const char *program)
{
    const bool paused = state == State::paused;
    answer_taken(requests, [paused](const Asker &asker) {
        if (asker.window != 0) {
            x11_answer(asker.window, paused);
        }
        if (asker.call != nullptr) {
            bus_answer(asker.call);
        }
    });
    switch (backend) {
    case Backend::x11:
        x11_show_state(state, program);
        break;
    case Backend::gnome:
        gnome_show_state(state, program);
        bus_show_state(state, program);
        break;
    case Backend::kwin:
        if (bus_show_state(state, program)) {
            kwin_say_paused(paused);
        }
        break;
    }
    show_tray_state(state, program);
}

void platform_wait_for_news()
{
    switch (backend) {
    case Backend::x11:
        x11_wait_for_news();
        break;
    case Backend::gnome:
        gnome_wait_for_news();
        break;
    case Backend::kwin:
        kwin_wait_for_news();
        break;
    }
}

Control platform_take_control()
{
    // What has come for the backend, requests and the focus among it, and
    // the signals.
    switch (backend) {
    case Backend::x11:
        x11_take_news();
        break;
    case Backend::gnome:
        gnome_take_news();
        break;
    case Backend::kwin:
        kwin_take_news();
        break;
    }
    take_signals();
    return take_request(requests);
}

bool platform_take_focus(Focus *focus)
{
    return take_focus(focusnews, focus);
}

std::filesystem::path platform_settings_file()
{
    return settings_file();
}

bool platform_settings_changed()
{
    take_settings_events();
    return take_settings_change();
}

bool platform_write_settings(std::string_view text, std::string &why)
{
    return write_settings_file(text, why);
}

void platform_warn(const char *text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void platform_show_menu(const Menu &menu)
{
    if (backend == Backend::gnome) {
        gnome_show_menu(menu);
    }
    show_tray_menu(menu);
}

Chosen platform_take_choice()
{
    return take_choice(choices);
}

int platform_send_control(Control control)
{
    // A display or a bus that has gone must not end glide unheard.
    std::signal(SIGPIPE, SIG_IGN);
    bool elsewhere = false;
    return choose_backend(&elsewhere) == Backend::x11 ? x11_send_control(control)
                                                      : bus_send_control(control);
}
