#include "bus.h"

#include <cstdio>
#include <cstdlib>

void lose_bus()
{
    std::fputs("glide: lost the session bus\n", stderr);
    std::exit(1);
}

sd_bus_message *next_message(sd_bus *bus)
{
    for (;;) {
        sd_bus_message *message = nullptr;
        const int processed = sd_bus_process(bus, &message);
        if (processed < 0) {
            lose_bus();
        }
        if (processed == 0) {
            return nullptr;
        }
        if (message != nullptr &&
            sd_bus_message_is_signal(message, "org.freedesktop.DBus.Local", "Disconnected") > 0) {
            lose_bus();
        }
        if (message != nullptr) {
            return message;
        }
    }
}
