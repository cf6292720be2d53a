// The tick loop.
#pragma once

#include <cstdint>

// One turn of the tick loop: sleeps until 11 ms after lastclock, ticks if
// more than 10 have passed by then, and returns the clock reading to measure
// the next interval from (taken after the tick, so ticks never crowd). At
// rest under --quiet it first sleeps until something may have moved the
// cursor, or for a second. Takes in what the desktop asks of glide, the
// settings file and the focus before each tick; paused or aside, it only
// sleeps until one of them changes.
int64_t tick_when_due(int64_t lastclock);
