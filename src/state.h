// The motion state: everything that outlives one tick.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"

extern float lastx;        // horizontal velocity, pixels per tick
extern float lasty;        // vertical velocity, pixels per tick
extern float friction;     // both velocities are divided by it every tick
extern int32_t firstloop;  // non-zero until the first tick has seeded the velocities
extern int32_t width;      // a column at or past it is the right edge
extern int32_t height;     // a row at or past it is the bottom edge
extern float c;            // column read at the start of the previous tick
extern float d;            // row read at the start of the previous tick

// The last column and row of the area the cursor bounces in, when the screen
// holds all of it; a smaller screen brings them in to its own edges.
constexpr int32_t lastcolumn = 1023;
constexpr int32_t lastrow = 767;

// Set from the command line.
extern bool quiet;         // print no report lines
extern bool screen;        // bounce off the walls of the monitors, not the area's edges
extern bool throwing;      // the hand moves the cursor, and a flick throws it
extern double throwspeed;  // pixels a second: a slower hand throws nothing
// Whether the command line gave the friction and the throw speed: then the
// settings file's do not count.
extern bool frictiongiven;
extern bool speedgiven;

// The friction unless one is given, and under --throw a friction that lets
// a glide go some way; and the least speed of a flick.
constexpr float defaultfriction = 1.4f;
constexpr float throwfriction = 1.05f;
constexpr double defaultspeed = 1000.0;

// Set by a tick that found the cursor where the tick before had, moved it
// nowhere, and left velocities that further ticks keep but for their sign:
// until the cursor is moved, ticking on would change nothing else.
extern bool resting;

// Set while glide is paused, from the desktop: it does not tick, and so
// moves and prints nothing.
extern bool paused;

// Set while glide steps aside for the program that has the focus: it does
// not tick either. The user's pause stands above it.
extern bool aside;

// What has the focus, as the platform last told; and the program that the
// menus name, the one that last had it, but for the desktop's own windows.
extern Focus focus;
extern Focus menuprogram;

// What the menus show of the settings, once they have been told.
extern std::optional<Menu> menushown;

// Gives the motion state, the options and the hand under --throw the values
// they start the program with.
void init_state();
