// glide's settings file, and the rule of stepping aside that it sets: UTF-8
// text of "key = value" lines, blank lines and "#" comments on lines of
// their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct Settings {
    bool hasfriction = false;
    float friction = 0.0f;
    bool hasspeed = false;
    double throwspeed = 0.0;
    // Whether glide steps aside while a full-screen program has the focus.
    bool fullscreen = true;
    // The programs glide steps aside for, as named.
    std::vector<std::string> asidefor;
};

// The most a settings file may hold: a larger one is no settings file.
constexpr size_t settingslimit = 65536;

// Reads the text of a settings file, named file in what is said: each line
// that is no setting is skipped, and said in err as "glide: FILE:LINE: what
// is wrong". Text that is not UTF-8, or has a NUL, is none of it settings:
// returns false, said so in err.
bool parse_settings(std::string_view text, std::string_view file, Settings *into, std::string &err);

// Reads the settings file afresh and applies it, the command line's options
// still winning: no file, the defaults. A file that cannot be read, or is
// no settings file at all, leaves the settings in force as they are. What
// is wrong is said with platform_warn(), unless it was said last time too.
void load_settings();

// The settings in force, as the file last gave them.
const Settings &current_settings();

// Whether glide steps aside for the program that has the focus: full
// screen where the settings say so, or named among the programs to step
// aside for, in any case.
bool steps_aside(const Focus &focus, const Settings &settings);

// The text of a settings file with the key set to the value: the value of
// the key's line in force (its last that is a setting) replaced, all else
// as it was; or, with none, a line "key = value" added at the end.
std::string edit_setting(std::string_view text, std::string_view key, std::string_view value);

// What the menus show of the settings in force, naming the program given.
Menu settings_menu(const Focus &program);

// Makes the choice made in a menu: writes the settings file, changed in
// the chosen key alone, and puts it in force. The program is the one the
// menus named. A file that cannot be read or written is said, and nothing
// changes.
void choose(const Chosen &chosen, const Focus &program);
