// A platform for the tests: a scripted cursor, a settable clock and the report
// lines kept in memory.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "platform/platform.h"
#include "update.h"

struct FakePlatform {
    // The screen keeps the cursor on it, as real ones do; glide reads its
    // size every tick.
    int32_t screenwidth = 1024;
    int32_t screenheight = 768;
    // The monitors that --screen bounces off, listed anew every tick.
    std::vector<Monitor> monitors{{0, 0, 1024, 768}};
    Point cursor{0, 0};
    // Reads taken from here first, in order; nullopt is a failed read.
    std::deque<std::optional<Point>> script;
    // Reads of the cursor, failed ones included.
    int reads = 0;
    // Every target the program asked for, before the screen kept it on.
    std::vector<Point> targets;
    std::vector<std::string> lines;
    int64_t clock = 0;
    // Whether a wait moves the clock on to its deadline, and the deadlines asked for.
    bool waitadvances = false;
    std::vector<int64_t> deadlines;
    // Milliseconds that each move and each read take, to see a slow tick.
    int64_t setcost = 0;
    int64_t readcost = 0;
    // Hand movements to come, each at its clock reading: a wait moves the
    // clock on past one, and a wait for input wakes at it.
    std::deque<std::pair<int64_t, Point>> hand;
    // Each wait for input: the clock reading it woke at, and whether a hand
    // movement woke it (or else its deadline).
    std::vector<std::pair<int64_t, bool>> waits;
    // Presses of a button to come, each at its clock reading, as the hand's
    // movements come.
    std::deque<int64_t> presses;
    // What the hand has done since glide last asked: each movement is a
    // device's report, timed by the clock reading it came at unless the
    // platform gives no times (then the read's).
    HandNews news{};
    bool timed = true;
    // When each of the hand's movements was made, where its news comes
    // later than that (once a frame); else when it comes.
    std::deque<int64_t> reported;
    bool hears = true;
    // What is asked of glide, each at its clock reading, taken as the
    // hand's movements come; a wait for news moves the clock on to the
    // next of these, of the focus's changes or of the settings file's, or
    // far past any test's end when none is to come.
    std::deque<std::pair<int64_t, Control>> controls;
    // What comes to have the focus, each at its clock reading; and what
    // has it.
    std::deque<std::pair<int64_t, Focus>> focuses;
    Focus focus;
    bool focustold = false;
    // The settings file, and what is written to it, each at its clock
    // reading (nullopt: it is deleted).
    std::filesystem::path settingsfile;
    std::deque<std::pair<int64_t, std::optional<std::string>>> settingswrites;
    // What glide said as it ran.
    std::vector<std::string> warnings;
    // Choices made in a menu, each at its clock reading, taken as the
    // controls are; the menus glide showed; and why a write of the
    // settings file fails (empty: it does not).
    std::deque<std::pair<int64_t, Chosen>> choices;
    std::vector<Menu> menus;
    std::string unwritable;
    // What glide showed each time it had taken something in, and the
    // program it named.
    std::vector<State> shown;
    std::vector<std::string> programs;
    // The clock readings at which each wait for news ended.
    std::vector<int64_t> newswaits;
};

// A program with the focus, by its names, full screen or not.
Focus focused(const char *name, const char *other = "", bool fullscreen = false);

extern FakePlatform fake;

// Puts the fake back as it was and gives the motion state its starting values.
void reset_fake();
