// The three ways glide reaches the pointer on Linux, of which linux.cpp
// picks one at start-up: the X server (x11.cpp); on GNOME under Wayland the
// compositor, through glide's GNOME Shell extension (gnome.cpp); and on KDE
// Plasma under Wayland KWin, through glide's KWin script and KWin's fake
// input (kwin.cpp). Each function does what platform.h says of its
// namesake.
#pragma once

#include <poll.h>
#include <systemd/sd-bus.h>

#include <array>
#include <cstdint>

#include "platform.h"
#include "requests.h"

// What linux.cpp keeps for them all.

// Who waits to hear that glide has taken in what they asked: a window of
// the command line's on X11, or a call on the bus to answer; neither for
// SIGUSR1 and the like, which need no answer.
struct Asker {
    unsigned long window;
    sd_bus_message *call;
};

// Keeps a request for the loop to take. Returns false, keeping nothing,
// when too many wait already.
bool note_request(Control control, Asker asker);

// Whether news waits for the loop to take it: a request, a change of the
// focus or of the settings file. Every wait ends for it, those within a
// tick too.
bool news_waiting();

// Takes in what has the focus now, as the backend tells it: news if it
// differs from what had it.
void note_focus(const Focus &focus);

// Keeps a choice made in a menu for the loop, which any wait ends for.
void note_choice(const Chosen &chosen);

// What every wait polls beside its own descriptors: the signals glide takes
// in, and the watch on the settings file's folder; and what takes in what
// came on them, once polled: SIGUSR1 as a request to toggle, on KDE a
// signal that ends glide, and a change of the settings file.
using NewsDescriptors = std::array<pollfd, 2>;
NewsDescriptors news_descriptors();
void take_news_descriptors(const NewsDescriptors &polled);

// Ends glide with status 0, as the tray's Quit asks: on KDE, its script
// taken out of KWin first.
[[noreturn]] void quit_glide();

// The signal that is to end glide, once one has come (on KDE); else 0. And
// what ends glide by it, as it would have had it not been caught.
int ending_signal();
[[noreturn]] void end_by_signal(int signal);

int x11_open();
void x11_screen_size(int32_t *width, int32_t *height);
void x11_monitors();
bool x11_read_cursor(int32_t *x, int32_t *y);
void x11_set_cursor(int32_t x, int32_t y);
void x11_wait_for_input(int64_t clock);
HandNews x11_take_hand();
bool x11_hears_hand();
// Takes in what has come from the server, requests among it, without waiting.
void x11_take_news();
// Tells the command line's window that glide has taken in its request.
void x11_answer(unsigned long window, bool paused);
void x11_show_state(State state, const char *program);
void x11_wait_for_news();
int x11_send_control(Control control);

int gnome_open();
void gnome_screen_size(int32_t *width, int32_t *height);
void gnome_monitors();
bool gnome_read_cursor(int32_t *x, int32_t *y);
void gnome_set_cursor(int32_t x, int32_t y);
void gnome_wait_for_input(int64_t clock);
HandNews gnome_take_hand();
bool gnome_hears_hand();
void gnome_take_news();
void gnome_wait_for_news();
// Tells the extension, whose toggle shows it, and whose toggle's menu shows
// the settings.
void gnome_show_state(State state, const char *program);
void gnome_show_menu(const Menu &menu);

int kwin_open();
void kwin_screen_size(int32_t *width, int32_t *height);
void kwin_monitors();
bool kwin_read_cursor(int32_t *x, int32_t *y);
void kwin_set_cursor(int32_t x, int32_t y);
void kwin_wait_for_input(int64_t clock);
HandNews kwin_take_hand();
bool kwin_hears_hand();
void kwin_take_news();
void kwin_wait_for_news();
// Says on Plasma's on-screen display that glide was paused or resumed.
void kwin_say_paused(bool paused);
[[noreturn]] void kwin_quit();

// glide's control on the session bus, which GNOME and KDE share (bus.cpp):
// answers a call that asked glide, shows what glide does and which program
// has the focus, and asks the glide of the session, for the command line.
void bus_answer(sd_bus_message *call);
// Returns whether glide was shown paused otherwise before.
bool bus_show_state(State state, const char *program);
int bus_send_control(Control control);
