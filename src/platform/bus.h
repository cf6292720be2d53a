// What glide's two ways to the pointer over the session bus share: its
// extension on GNOME (gnome.cpp) and its script in KWin (kwin.cpp); and
// glide's control there.
#pragma once

#include <systemd/sd-bus.h>

// What glide says when another glide runs in the session, at start or later.
constexpr const char *sessiontaken = "glide: another glide is already running in this session\n";

// Says that the session bus is lost, and ends glide with status 1.
[[noreturn]] void lose_bus();

// The next message that has come on the bus, taken without waiting; nullptr
// when there is none. Ends glide when the bus is lost.
sd_bus_message *next_message(sd_bus *bus);

// Sleeps until the bus has something for glide (or sd-bus holds it
// already), a signal comes, the other descriptor (-1: none) is readable,
// or the milliseconds of timeout (-1: no end) have passed; takes in the
// signals that came. Returns what poll said of the other descriptor.
short sleep_on_bus(sd_bus *bus, int other, int timeout);

// Takes glide's name, org.glide.Glide, which makes it the one glide of the
// session, and serves its control under it: Pause, Resume and Toggle, and
// the property Paused. Returns 0; or says why not and returns 3 when
// another glide has the name, 1 when glide could not take it.
int serve_control(sd_bus *bus);
