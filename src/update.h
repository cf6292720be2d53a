// One tick of the cursor's momentum.
#pragma once

#include <cstdint>

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
