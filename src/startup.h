// Start-up and the tick loop.
#pragma once

#include <cstdint>
#include <cstdio>

// What startup() returns when the program should go on to tick.
constexpr int keep_running = -1;

// Converts friction text the way atof does, in any locale: leading white
// space, an optional sign, decimal digits with an optional point and an
// optional exponent; what follows the longest such prefix is ignored.
// Returns false, leaving *value alone, when there is no digit to convert.
bool parse_friction(const char *text, float *value);

// Gives the motion state its starting values and takes the command line:
// options anywhere (until --), and one other argument as the friction.
// Returns keep_running, or the status to exit with after --help, --version,
// an unknown option or friction text that is not a number.
int startup(int argc, const char *const *argv, FILE *out, FILE *err);

// One turn of the tick loop: sleeps until 11 ms after lastclock, ticks if
// more than 10 have passed by then, and returns the clock reading to measure
// the next interval from (taken after the tick, so ticks never crowd).
int64_t tick_when_due(int64_t lastclock);
