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

// The milliseconds a poll on the bus may sleep, given timeout (-1: no end):
// none while sd-bus holds messages it has read already.
int bus_timeout(sd_bus *bus, int timeout);

// Sleeps until the bus has something for glide (or sd-bus holds it
// already), a signal comes, the other descriptor (-1: none) is readable,
// or the milliseconds of timeout (-1: no end) have passed; takes in the
// signals that came. Returns what poll said of the other descriptor.
short sleep_on_bus(sd_bus *bus, int other, int timeout);

// Calls a method, starting no service for it and waiting for no answer:
// what is not there fails unheard.
template <typename... Args>
void call_unanswered(sd_bus *bus, const char *destination, const char *path, const char *interface,
                     const char *member, const char *types, Args... args)
{
    sd_bus_message *call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, destination, path, interface, member) >= 0 &&
        sd_bus_message_set_auto_start(call, 0) >= 0 &&
        sd_bus_message_append(call, types, args...) >= 0) {
        sd_bus_call_async(bus, nullptr, call, nullptr, nullptr, 0);
    }
    sd_bus_message_unref(call);
}

// Whether the call comes from the user glide runs as: nobody else may act
// on glide; and the answer to anyone else.
bool from_own_user(sd_bus_message *call);
int refuse_stranger(sd_bus_message *call);

// Sends a reply once made, or returns why it could not be made, which
// sd-bus answers the call with.
int send_reply(sd_bus_message *reply, int made);

// Takes the news of what has the focus, as the extension or the script
// tells it (a signal, or a call) with the program's application id (empty
// for a program of no .desktop file, which its window's class then names
// alone), its window's class, its friendliest name (empty: its .desktop
// file's), and whether it is full screen.
void take_focus_message(sd_bus_message *message);

// Takes glide's name, org.glide.Glide, which makes it the one glide of the
// session, and serves its control under it: Pause, Resume and Toggle, and
// the property Paused. Returns 0; or says why not and returns 3 when
// another glide has the name, 1 when glide could not take it.
int serve_control(sd_bus *bus);
