// The desktop that --screen bounces in: the union of the monitors'
// rectangles, as the platform lists them.
#pragma once

#include <cstdint>

// A monitor's rectangle in screen coordinates, its right and bottom edges
// just past its last column and row. In 64 bits, so that no position and
// size in 32 bits overflows.
struct Monitor {
    int64_t left;
    int64_t top;
    int64_t right;
    int64_t bottom;
};

// How many monitors glide keeps apart; with more, it bounces off the
// rectangle around them all.
constexpr int maxmonitors = 16;

// Forgets the monitors, before the platform lists them anew.
void clear_monitors();

// Adds a monitor to the desktop. The first one past maxmonitors folds them
// all into the rectangle around them, and says so on standard error, once
// in the life of the process.
void add_monitor(Monitor monitor);

// Whether the pixel at (x, y) lies on a monitor.
bool on_desktop(int64_t x, int64_t y);

// How far, up to most pixels, one can go from (x, y) along (dx, dy), one of
// the four directions, and stay on the monitors: 0 from off them.
int64_t reach(int64_t x, int64_t y, int64_t dx, int64_t dy, int64_t most);
