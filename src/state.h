// The motion state: everything that outlives one tick.
#pragma once

#include <cstdint>

extern float lastx;        // horizontal velocity, pixels per tick
extern float lasty;        // vertical velocity, pixels per tick
extern float friction;     // both velocities are divided by it every tick
extern int32_t firstloop;  // non-zero until the first tick has seeded the velocities
extern int32_t width;      // a column at or past it is the right edge
extern int32_t height;     // a row at or past it is the bottom edge
extern float c;            // column read at the start of the previous tick
extern float d;            // row read at the start of the previous tick

// Gives the motion state the values it starts the program with.
void init_state();
