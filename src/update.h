// One tick of the cursor's momentum, and what the tick under --throw shares
// with it.
#pragma once

#include <cstdint>

struct Point {
    int32_t x;
    int32_t y;
    bool operator==(const Point &) const = default;
};

// Rounds half away from zero, with the sum formed in double so that values
// just below a half (0.49999997f) round down. NaN gives 0; infinities and
// results beyond 32 bits saturate.
int32_t roundaway(float v);

// x - v, rounded once to single precision.
float difference(int32_t x, float v);

// Takes in the screen's size (and under --screen the monitors), reads the cursor, re-measures,
// reports, decays and bounces the velocities, and moves the cursor on by them unless both round to
// 0; says whether glide is now resting. Always returns 0.
int32_t update();

// Takes in the screen's size, and under --screen the monitors, then reads
// the cursor; once it has read it, brings the edges (width and height) in
// to a screen smaller than the area. Returns false when the read failed.
bool start_tick(int32_t *x, int32_t *y, int32_t *screenwidth, int32_t *screenheight);

// Prints the report line for the horizontal velocity v: v, the friction and
// their quotient.
void report(float v);

// Reads the cursor again and moves it on from there by (stepx, stepy), the
// target saturated at 32 bits; says where to, or returns false when the read
// failed and nothing moved.
bool move_by(int32_t stepx, int32_t stepy, Point *to);
