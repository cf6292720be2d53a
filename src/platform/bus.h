// What glide's two ways to the pointer over the session bus share: its
// extension on GNOME (gnome.cpp) and its script in KWin (kwin.cpp).
#pragma once

#include <systemd/sd-bus.h>

// Says that the session bus is lost, and ends glide with status 1.
[[noreturn]] void lose_bus();

// The next message that has come on the bus, taken without waiting; nullptr
// when there is none. Ends glide when the bus is lost.
sd_bus_message *next_message(sd_bus *bus);
