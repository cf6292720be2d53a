// glide in the system tray, on X11 and KDE: a StatusNotifierItem on the
// session bus, which the panels that host such items show (KDE's, XFCE's,
// Cinnamon's, MATE's, LXQt's, Budgie's, waybar), with its menu. A click
// pauses or resumes glide; the menu pauses, resumes or quits.
#pragma once

#include <poll.h>
#include <systemd/sd-bus.h>

#include "platform.h"

// Serves the item and its menu on the bus, and registers it with the
// panel's watcher, now and whenever a watcher comes (panels restart).
// Without a watcher glide runs as before, without a word.
void start_tray(sd_bus *bus);

// Shows what glide does: paused or not in the icon and the menu's entry,
// and in the tooltip, aside for which program.
void show_tray_state(State state, const char *program);

// Where glide has no bus of its own (X11): opens the session bus for the
// tray, if there is one, and starts the tray on it.
void open_tray();

// For that bus of the tray's own: what poll() is to watch of it (a
// descriptor of -1 without one), shortening the timeout (ms, -1 for none)
// to when sd-bus has work; and what takes what has come on it, without
// waiting. A bus lost takes the tray with it, and glide goes on.
pollfd tray_descriptor(int *timeout);
void take_tray_messages();
