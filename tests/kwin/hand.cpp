// For the tests alone: a hand on KWin's fake input, eyes on the pointer
// (hand.js, a KWin script, tells of each move) and a stand-in for the screen
// saver, on the session bus as org.glide.Hand: so that a test can nudge,
// flick and warp the pointer as a device does, see where it is, and lock the
// screen. A .desktop file the tests write lets it have fake input.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fake-input-client-protocol.h"

static wl_display *display;
static org_kde_kwin_fake_input *fakeinput;
static sd_bus *bus;
static int pointerx = -1;
static int pointery = -1;
static int locked;

static void on_global(void * /*data*/, wl_registry *registry, uint32_t id, const char *offered,
                      uint32_t /*version*/)
{
    if (std::strcmp(offered, org_kde_kwin_fake_input_interface.name) == 0) {
        fakeinput = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, id, &org_kde_kwin_fake_input_interface, 4));
    }
}

static void on_global_remove(void * /*data*/, wl_registry * /*registry*/, uint32_t /*id*/) {}

static const wl_registry_listener listener{on_global, on_global_remove};

static int64_t monotonic_us()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// A Pointer call, answered once KWin has handled all that was asked of it
// before, and the bus has been quiet for 2 ms: by then its script has told
// of the pointer.
static sd_bus_message *asked;

static void answer(sd_bus_message *m)
{
    int x = 0;
    int y = 0;
    int times = 0;
    int ms = 0;
    if (sd_bus_message_is_method_call(m, "org.glide.Hand", "Report") > 0) {
        sd_bus_message_read(m, "ii", &pointerx, &pointery);
        sd_bus_reply_method_return(m, "");
    } else if (sd_bus_message_is_method_call(m, "org.glide.Hand", "Pointer") > 0) {
        wl_display_roundtrip(display);
        if (asked != nullptr) {
            sd_bus_reply_method_return(asked, "ii", pointerx, pointery);
            sd_bus_message_unref(asked);
        }
        asked = sd_bus_message_ref(m);
    } else if (sd_bus_message_is_method_call(m, "org.glide.Hand", "Warp") > 0) {
        sd_bus_message_read(m, "ii", &x, &y);
        org_kde_kwin_fake_input_pointer_motion_absolute(fakeinput, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        wl_display_flush(display);
        sd_bus_reply_method_return(m, "");
    } else if (sd_bus_message_is_method_call(m, "org.glide.Hand", "Nudge") > 0 ||
               sd_bus_message_is_method_call(m, "org.glide.Hand", "Flick") > 0) {
        // Flick(dx, dy, times, ms): nudges, ms apart; answers when the last
        // was made, in microseconds on the monotonic clock.
        times = 1;
        sd_bus_message_read(m, "ii", &x, &y);
        sd_bus_message_read(m, "ii", &times, &ms);
        for (int i = 0; i < times; ++i) {
            if (i > 0) {
                const timespec gap{0, ms * 1000000L};
                nanosleep(&gap, nullptr);
            }
            org_kde_kwin_fake_input_pointer_motion(fakeinput, wl_fixed_from_int(x),
                                                   wl_fixed_from_int(y));
            wl_display_flush(display);
        }
        sd_bus_reply_method_return(m, "x", monotonic_us());
    } else if (sd_bus_message_is_method_call(m, "org.glide.Hand", "Lock") > 0) {
        sd_bus_message_read(m, "b", &locked);
        sd_bus_emit_signal(bus, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", "b",
                           locked);
        sd_bus_reply_method_return(m, "");
    } else if (sd_bus_message_is_method_call(m, "org.freedesktop.ScreenSaver", "GetActive") > 0) {
        sd_bus_reply_method_return(m, "b", locked);
    } else if (sd_bus_message_is_method_call(m, nullptr, nullptr) > 0) {
        sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_METHOD, "no such method");
    }
}

// Answers what came on the bus, or waits for more.
static void serve()
{
    sd_bus_message *m = nullptr;
    const int processed = sd_bus_process(bus, &m);
    if (processed < 0) {
        std::exit(1);
    }
    if (m != nullptr) {
        answer(m);
        sd_bus_message_unref(m);
    }
    if (processed > 0) {
        return;
    }
    pollfd fd{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0};
    if (poll(&fd, 1, asked != nullptr ? 2 : -1) == 0 && asked != nullptr) {
        sd_bus_reply_method_return(asked, "ii", pointerx, pointery);
        asked = sd_bus_message_unref(asked);
    }
}

int main()
{
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fputs("hand: no Wayland display\n", stderr);
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (fakeinput == nullptr) {
        std::fputs("hand: KWin offers no fake input\n", stderr);
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fakeinput, "glide's tests", "a hand on the pointer");
    if (sd_bus_open_user(&bus) < 0 ||
        sd_bus_request_name(bus, "org.freedesktop.ScreenSaver", 0) < 0 ||
        sd_bus_request_name(bus, "org.glide.Hand", 0) < 0) {
        std::fputs("hand: cannot own its names on the session bus\n", stderr);
        return 1;
    }
    for (;;) {
        serve();
    }
}
