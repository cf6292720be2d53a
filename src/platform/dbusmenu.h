// The menu of glide's item in the tray (tray.cpp), served as a
// com.canonical.dbusmenu: Pause or Resume; "Not in PROGRAM"; "Step aside in
// full screen"; "Glide", short, medium or long; "Start at sign-in", where
// systemd's user manager has glide's user unit; and Quit.
#pragma once

#include <systemd/sd-bus.h>

#include "platform.h"

// The path the menu is served at.
constexpr const char *menupath = "/MenuBar";

// Serves the menu on the bus, at menupath. Returns whether it could.
bool serve_menu(sd_bus *bus);

// Shows glide paused or not in the first entry; and what the settings'
// entries show.
void show_menu_paused(bool paused);
void show_tray_menu(const Menu &menu);
