// The tick under --throw: the hand moves the cursor, and a flick of it sends
// the cursor gliding on at the hand's speed, until a touch stops it.
#pragma once

#include <cstdint>

// Forgets the hand and any glide, as at start-up.
void init_throw();

// Forgets the hand and any glide, and takes the cursor read at (x, y) at
// clock reading now as the last reading: the next tick starts at rest.
void rest_throw(int32_t x, int32_t y, int64_t now);

// One tick under --throw. While the hand moves the cursor, follows it and
// moves nothing; once the hand has let go, throws the cursor if the hand
// was fast enough; while it glides, reports, decays and moves as the tick
// does, stopping an axis at a wall; and stops the glide at once on a touch.
// Sets resting while neither hand nor glide moves. Always returns 0.
int32_t throw_update();
