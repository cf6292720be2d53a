// The command line: the friction and the options.
#pragma once

#include <string>

#include "platform/platform.h"

// What startup() returns when the program should go on to tick.
constexpr int keep_running = -1;

// Converts friction text the way atof does, in any locale: leading white
// space, an optional sign, decimal digits with an optional point and an
// optional exponent; what follows the longest such prefix is ignored.
// Returns false, leaving *value alone, when there is no digit to convert.
bool parse_friction(const char *text, float *value);

// A speed in pixels a second: the whole text a number, finite and above 0.
// Returns false, leaving *value alone, when it is not.
bool parse_speed(const char *text, double *value);

// Appends text in double quotes on one line, escaping what a terminal would
// act on.
void append_quoted(std::string &to, const char *text);

// Set by startup() when the command line asks the running glide to pause,
// resume, toggle or tell its state, instead of running one: Control::none
// otherwise.
extern Control request;

// Gives the motion state its starting values and takes the command line:
// options anywhere (until --), and one other argument as the friction.
// Returns keep_running, or the status to exit with after --help, --version,
// an unknown option, friction text that is not a number or an option that
// asks the running glide beside anything else; what is to be
// said on standard output and standard error is appended to out and err.
int startup(int argc, const char *const *argv, std::string &out, std::string &err);
