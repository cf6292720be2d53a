#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fake_platform.h"
#include "loop.h"
#include "settings.h"
#include "state.h"

namespace {

// The settings read, in a word: each key given, or "-".
std::string summary(const Settings &s)
{
    std::string names;
    for (const std::string &name : s.asidefor) {
        names += "|" + name;
    }
    return (s.hasfriction ? std::to_string(s.friction) : "-") + " " +
           (s.hasspeed ? std::to_string(s.throwspeed) : "-") + " " +
           (s.fullscreen ? "aside" : "glide") + " " + names;
}

struct Text {
    const char *text;
    const char *read;
    const char *err;  // each line that is no setting, said as F:LINE
};

TEST(SettingsFile, EachLineThatIsNoSettingIsSaidAndTheOthersApply)
{
    for (const Text &t : {
             Text{"", "- - aside ", ""},
             // Comments, blank lines, spaces about key and value, Windows's
             // line ends and Notepad's byte-order mark; the last line wins.
             {"\xEF\xBB\xBF# mine\r\n\r\n  friction =  1.1 \r\n\t# note\nfriction=1.25\n",
              "1.250000 - aside ", ""},
             // The command line's rules: atof's prefix, a positive speed.
             {"friction = 1.5abc\nthrow-speed = 2.5e3", "1.500000 2500.000000 aside ", ""},
             {"aside-for = krita, org.kde.krita ,, mpv,\nfull-screen = glide",
              "- - glide |krita|org.kde.krita|mpv", ""},
             {"friction = abc\nthrow-speed = -3\nthrow-speed = 12px\nfull-screen = yes\n"
              "frction = 2\njust words\n= 1\nkey\x1b[2J = 1\naside-for = gimp",
              "- - aside |gimp",
              "glide: F:1: friction \"abc\" is not a number\n"
              "glide: F:2: throw speed \"-3\" is not a positive number\n"
              "glide: F:3: throw speed \"12px\" is not a positive number\n"
              "glide: F:4: full-screen \"yes\" is neither \"aside\" nor \"glide\"\n"
              "glide: F:5: unknown key \"frction\"\n"
              "glide: F:6: \"just words\" is no setting: a setting is key = value\n"
              "glide: F:7: unknown key \"\"\n"
              // What a terminal would act on is quoted, not passed on.
              "glide: F:8: unknown key \"key\\x1b[2J\"\n"},
         }) {
        Settings read;
        std::string err;
        EXPECT_TRUE(parse_settings(t.text, "F", &read, err));
        EXPECT_EQ(summary(read), t.read) << t.text;
        EXPECT_EQ(err, t.err);
    }
    // Bytes that are not UTF-8 text make no settings file at all.
    for (const std::string &text :
         {std::string("friction = 2\0", 13), std::string("aside-for = \xff"),
          std::string("aside-for = \xc0\xaf"), std::string("aside-for = \xed\xa0\x80"),
          std::string("aside-for = \xe2\x82")}) {
        Settings read;
        read.asidefor = {"kept"};
        std::string err;
        EXPECT_FALSE(parse_settings(text, "F", &read, err));
        EXPECT_EQ(err, "glide: F: is not a settings file: not UTF-8 text\n");
        EXPECT_EQ(read.asidefor.size(), 1u);
    }
}

TEST(SettingsFile, GlideStepsAsideForAFullScreenProgramOrANamedOne)
{
    struct Rule {
        const char *settings;
        Focus focus;
        bool aside;
    };
    for (const Rule &rule : {
             Rule{"", focused("krita", "Krita"), false},
             {"", focused("mpv", "", true), true},
             {"full-screen = glide", focused("mpv", "", true), false},
             {"full-screen = glide\naside-for = MPV", focused("mpv", "", true), true},
             // Any of the program's names, in any case.
             {"aside-for = krita", focused("org.kde.krita", "krita"), true},
             {"aside-for = KRITA.exe", focused("krita.exe", "krita"), true},
             {"aside-for = krit, kritaa, krita.ex", focused("krita.exe", "krita"), false},
             // Full screen, a program the platform cannot name.
             {"aside-for = ", focused("", "", true), true},
         }) {
        Settings read;
        std::string err;
        parse_settings(rule.settings, "F", &read, err);
        EXPECT_EQ(steps_aside(rule.focus, read), rule.aside) << rule.settings;
    }
}

// A file glide cannot use is said once and changes nothing; no file brings
// the defaults back; the command line wins over the file.
TEST(SettingsFile, WhatIsWrongIsSaidOnceAndGlideRunsOnWithWhatItHad)
{
    reset_fake();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "glide-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    fake.settingsfile = folder / "glide.conf";
    const auto write = [](const std::string &text) {
        std::filesystem::remove_all(fake.settingsfile);
        std::ofstream(fake.settingsfile, std::ios::binary) << text;
    };
    const std::string name = "glide: " + fake.settingsfile.string();
    throwing = true;
    write("friction = 1.2\nthrow-speed = 800\nfrction = 2\n");
    load_settings();
    load_settings();  // an editor's save, seen twice
    EXPECT_EQ(fake.warnings, std::vector<std::string>{name + ":3: unknown key \"frction\"\n"});
    for (const auto &[make, said] :
         {std::pair<std::string, std::string>{"", ": is a folder, not a settings file\n"},
          {std::string(settingslimit + 1, '#'),
           ": is larger than a settings file (65536 bytes at most)\n"},
          {std::string("friction = 3\n\x7f"
                       "ELF\x02\0",
                       19),
           ": is not a settings file: not UTF-8 text\n"}}) {
        write(make);
        if (make.empty()) {
            std::filesystem::remove(fake.settingsfile);
            std::filesystem::create_directory(fake.settingsfile);
        }
        load_settings();
        load_settings();
        EXPECT_EQ(fake.warnings.back(), name + said);
        EXPECT_EQ(std::make_pair(friction, throwspeed), std::make_pair(1.2f, 800.0));
    }
    EXPECT_EQ(fake.warnings.size(), 4u);
    std::filesystem::remove_all(fake.settingsfile);
    load_settings();
    EXPECT_EQ(std::make_pair(friction, throwspeed), std::make_pair(throwfriction, defaultspeed));
    write("friction = 1.2\nthrow-speed = 800\n");
    frictiongiven = true;
    friction = 2.0f;
    load_settings();
    EXPECT_EQ(std::make_pair(friction, throwspeed), std::make_pair(2.0f, 800.0));
    std::filesystem::remove_all(folder);
}

// What happens, each at its clock reading: a request, a program that comes
// to have the focus, a settings file written.
struct Step {
    int64_t at;
    std::optional<Control> control;
    std::optional<Focus> focus;
    std::optional<std::string> settings;
};

struct Story {
    const char *what;
    std::vector<Step> steps;
    std::vector<State> shown;
    // Whether the cursor moves between 300 ms and 2.4 s, and after 2.5 s.
    bool glidesbetween;
    bool glidesafter;
    // The program last named, whatever the state.
    const char *program;
};

// Three seconds of a glide (friction 1.05) from (300, 200) at the start,
// and the hand's touch at 2.5 s. Aside, glide neither ticks nor moves; the
// user's pause stands above it; when the reason goes, glide starts at
// rest, and the hand's touch flings the cursor as after any rest.
TEST(Aside, FollowsTheFocusAndTheSettingsBelowTheUsersPause)
{
    const Focus game = focused("game", "Game", true);
    const Focus krita = focused("krita", "Krita");
    const Focus editor = focused("editor");
    for (const Story &story : {
             Story{"a full-screen program comes and goes",
                   {{300, {}, game, {}}, {1000, {}, editor, {}}},
                   {State::aside, State::active},
                   false,
                   true,
                   "editor"},
             Story{"a named program, then the file changes back",
                   {{0, {}, {}, "aside-for = Krita\n"},
                    {300, {}, krita, {}},
                    {1000, {}, {}, "# none\n"}},
                   {State::aside, State::active},
                   false,
                   true,
                   "krita"},
             Story{"full screen, not stepped aside for",
                   {{0, {}, {}, "full-screen = glide"}, {300, {}, game, {}}},
                   {State::active},
                   true,
                   true,
                   "game"},
             Story{"paused, then resumed into a full-screen program",
                   {{300, Control::pause, {}, {}},
                    {500, {}, game, {}},
                    {1000, Control::resume, {}, {}},
                    {2000, {}, editor, {}}},
                   {State::paused, State::paused, State::aside, State::active},
                   false,
                   true,
                   "editor"},
             Story{"aside, toggled: paused, still paused when the program goes",
                   {{300, {}, game, {}}, {500, Control::toggle, {}, {}}, {1000, {}, editor, {}}},
                   {State::aside, State::paused, State::paused},
                   false,
                   false,
                   "editor"},
         }) {
        SCOPED_TRACE(story.what);
        reset_fake();
        friction = 1.05f;
        frictiongiven = true;
        fake.waitadvances = true;
        fake.cursor = {300, 200};
        fake.settingsfile = std::filesystem::temp_directory_path() / "glide-story.conf";
        std::filesystem::remove(fake.settingsfile);
        fake.hand.emplace_back(2500, Point{310, 200});
        for (const Step &step : story.steps) {
            if (step.control) {
                fake.controls.emplace_back(step.at, *step.control);
            }
            if (step.focus) {
                fake.focuses.emplace_back(step.at, *step.focus);
            }
            if (step.settings) {
                fake.settingswrites.emplace_back(step.at, *step.settings);
            }
        }
        std::vector<int64_t> movedat;
        for (int64_t lastclock = 0; fake.clock < 3000;) {
            const size_t before = fake.targets.size();
            lastclock = tick_when_due(lastclock);
            movedat.insert(movedat.end(), fake.targets.size() - before, fake.clock);
        }
        EXPECT_EQ(fake.shown, story.shown);
        const auto moved = [&](int64_t from, int64_t to) {
            return std::any_of(movedat.begin(), movedat.end(),
                               [&](int64_t at) { return at > from && at <= to; });
        };
        EXPECT_TRUE(moved(0, 300));
        EXPECT_EQ(moved(300, 2400), story.glidesbetween);
        EXPECT_EQ(moved(2500, 3000), story.glidesafter);
        EXPECT_EQ(fake.programs.back(), story.program);
        std::filesystem::remove(fake.settingsfile);
    }
}

}  // namespace

namespace {

TEST(SettingsFile, AChoiceEditsTheKeyInForceInPlaceAndLeavesAllElse)
{
    struct Edit {
        const char *text;
        const char *key;
        const char *value;
        const char *edited;
    };
    for (const Edit &e : {
             Edit{"", "friction", "1.1", "friction = 1.1\n"},
             {"# mine\n  friction=2  \n# end", "friction", "1.1",
              "# mine\n  friction=1.1  \n# end"},
             // Bad lines untouched; the file's line ends kept.
             {"friction = abc\r\nfrction = 2", "friction", "1.1",
              "friction = abc\r\nfrction = 2\r\nfriction = 1.1\r\n"},
             {"friction = 2\nfriction = x\n", "friction", "1.1", "friction = 1.1\nfriction = x\n"},
             {"aside-for =\nfull-screen = glide\n", "aside-for", "krita",
              "aside-for = krita\nfull-screen = glide\n"},
         }) {
        EXPECT_EQ(edit_setting(e.text, e.key, e.value), e.edited) << e.text;
    }
}

}  // namespace

namespace {

Chosen chose(Choice choice, const char *program = "")
{
    Chosen chosen{choice, {}};
    std::snprintf(chosen.program.data(), chosen.program.size(), "%s", program);
    return chosen;
}

// Menus name the program that last had the focus, but for the desktop's
// own windows; a choice is written, in its key alone, and is in force at
// once, its write taken in once; a write that fails is said, and changes
// nothing.
TEST(SettingsFile, AChoiceInAMenuIsWrittenAndInForceAtOnce)
{
    reset_fake();
    throwing = true;
    fake.waitadvances = true;
    fake.settingsfile = std::filesystem::temp_directory_path() / "glide-choices.conf";
    std::ofstream(fake.settingsfile, std::ios::binary) << "# keep\naside-for = mpv\nfrction = 3\n";
    load_settings();
    Focus desktop;
    desktop.shell = true;
    fake.focuses = {{0, focused("krita", "Krita")}, {50, desktop}};
    const auto file = [] {
        std::ifstream in(fake.settingsfile, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    int64_t lastclock = 0;
    const auto choose_at = [&](int64_t t, const Chosen &chosen) {
        fake.choices.emplace_back(t, chosen);
        while (!fake.choices.empty()) {
            lastclock = tick_when_due(lastclock);
        }
    };
    choose_at(100, chose(Choice::listed, "krita"));
    EXPECT_EQ(file(), "# keep\naside-for = mpv, krita\nfrction = 3\n");
    EXPECT_TRUE(fake.menus.back().listed);
    choose_at(200, chose(Choice::longglide));
    EXPECT_EQ(friction, 1.03f);
    EXPECT_EQ(fake.menus.back().glide, 2);
    fake.unwritable = "Read-only file system";
    choose_at(300, chose(Choice::fullscreen));
    EXPECT_TRUE(fake.menus.back().fullscreen);  // what is in force
    fake.unwritable.clear();
    choose_at(400, chose(Choice::listed, "krita"));
    EXPECT_EQ(file(), "# keep\naside-for = mpv\nfrction = 3\nfriction = 1.03\n");
    const Menu &menu = fake.menus.back();
    EXPECT_EQ(std::string(menu.program.names[0].data()), "krita");
    EXPECT_EQ(std::make_tuple(menu.listed, menu.fullscreen, menu.glide, menu.fixed),
              std::make_tuple(false, true, 2, false));
    const std::string name = "glide: " + fake.settingsfile.string();
    EXPECT_EQ(fake.warnings, (std::vector<std::string>{name + ":3: unknown key \"frction\"\n",
                                                       name + ": cannot write it: Read-only file "
                                                              "system\n"}));
    std::filesystem::remove(fake.settingsfile);
}

}  // namespace
