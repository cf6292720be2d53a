// The three ways glide reaches the pointer on Linux, of which linux.cpp
// picks one at start-up: the X server (x11.cpp); on GNOME under Wayland the
// compositor, through glide's GNOME Shell extension (gnome.cpp); and on KDE
// Plasma under Wayland KWin, through glide's KWin script and KWin's fake
// input (kwin.cpp). Each function does what platform.h says of its
// namesake.
#pragma once

#include <cstdint>

#include "platform.h"

int x11_open();
void x11_screen_size(int32_t *width, int32_t *height);
void x11_monitors();
bool x11_read_cursor(int32_t *x, int32_t *y);
void x11_set_cursor(int32_t x, int32_t y);
void x11_wait_for_input(int64_t clock);
HandNews x11_take_hand();
bool x11_hears_hand();

int gnome_open();
void gnome_screen_size(int32_t *width, int32_t *height);
void gnome_monitors();
bool gnome_read_cursor(int32_t *x, int32_t *y);
void gnome_set_cursor(int32_t x, int32_t y);
void gnome_wait_for_input(int64_t clock);
HandNews gnome_take_hand();
bool gnome_hears_hand();

int kwin_open();
void kwin_screen_size(int32_t *width, int32_t *height);
void kwin_monitors();
bool kwin_read_cursor(int32_t *x, int32_t *y);
void kwin_set_cursor(int32_t x, int32_t y);
void kwin_wait_for_input(int64_t clock);
HandNews kwin_take_hand();
bool kwin_hears_hand();
