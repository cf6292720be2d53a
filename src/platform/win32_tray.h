// glidew.exe's icon in the notification area (win32_tray.cpp): glide's
// icon, paused or not, and a tooltip that says what glide does; a click
// pauses or resumes glide, and its menu holds Pause or Resume, glide's
// settings, "Start at sign-in" and Quit. glide.exe's console is its own.
#pragma once

#include <windows.h>

#include "platform.h"

// Puts the icon in the notification area for glide's window, or shows it
// as glide is now: what it does, for which program, and whether
// Win+Shift+G is another program's.
void show_icon(HWND window, State state, const char *program, bool hotkeytaken);
void remove_icon();

// Says something in a balloon by the icon.
void show_balloon(const char *text);

// What the menu shows of the settings, from now on.
void show_icon_menu(const Menu &menu);

// Takes a message of the icon's to glide's window: its clicks, the timer
// that tries again while the notification area is not up yet, and Explorer
// started again. Returns whether it was one.
bool take_icon_message(UINT message, WPARAM wparam, LPARAM lparam);
