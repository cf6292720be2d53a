#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "commandline.h"
#include "fake_platform.h"
#include "state.h"

namespace {

const float infinity = std::numeric_limits<float>::infinity();

struct Numeral {
    const char *text;
    float value;
};

class Numbers : public ::testing::TestWithParam<Numeral> {};

TEST_P(Numbers, ConvertLikeAtof)
{
    float value = 99.0f;
    ASSERT_TRUE(parse_friction(GetParam().text, &value));
    EXPECT_EQ(std::bit_cast<uint32_t>(value), std::bit_cast<uint32_t>(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(
    Friction, Numbers,
    ::testing::Values(Numeral{"1.4", 1.4f}, Numeral{"2", 2.0f}, Numeral{"1.25", 1.25f},
                      Numeral{"0", 0.0f}, Numeral{"-0", -0.0f}, Numeral{"-1", -1.0f},
                      Numeral{"0.5", 0.5f}, Numeral{"5.", 5.0f}, Numeral{".5", 0.5f},
                      Numeral{" 1.5abc", 1.5f}, Numeral{"\t\n+2.5e1x", 25.0f}, Numeral{"1e", 1.0f},
                      Numeral{"1e+", 1.0f}, Numeral{"2E-1", 0.2f}, Numeral{"0x10", 0.0f},
                      Numeral{"1,5", 1.0f}, Numeral{"1e39", infinity}, Numeral{"1e400", infinity},
                      Numeral{"-1e99999999999999999999", -infinity}, Numeral{"1e-400", 0.0f},
                      Numeral{"-0.0000e-99999", -0.0f}, Numeral{"0e99999999999", 0.0f},
                      Numeral{"0.000001e-400", 0.0f},
                      Numeral{"1e-45", std::numeric_limits<float>::denorm_min()},
                      // Just above the midpoint of 1 and the next float: the
                      // double it rounds to first is the midpoint, which ties to 1.
                      Numeral{"1.000000059604644775390625000000000867", 1.0f}));

TEST(Friction, TextWithoutADigitIsNotANumber)
{
    for (const char *text : {"abc", "", " ", "inf", "nan", "infinity", ".e5", "e5", "-", "+.",
                             "--friction=2", "\xe2\x88\x9e"}) {
        float value = 99.0f;
        EXPECT_FALSE(parse_friction(text, &value)) << text;
        EXPECT_EQ(value, 99.0f);
    }
}

const char *const usage =
    "usage: glide [-q] [--screen] [-t|--throw[=SPEED]] [FRICTION]\n"
    "       glide --pause | --resume | --toggle | --status\n";

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome start(std::vector<const char *> args)
{
    args.insert(args.begin(), "glide");
    Outcome run;
    run.status = startup(static_cast<int>(args.size()), args.data(), run.out, run.err);
    return run;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { reset_fake(); }
};

TEST_F(CommandLine, OneNumberSetsTheFrictionAndAnythingElseKeepsTheDefault)
{
    friction = 0.0f;
    firstloop = 0;
    EXPECT_EQ(start({}).status, keep_running);
    EXPECT_EQ(std::bit_cast<uint32_t>(friction), 0x3FB33333u);
    EXPECT_EQ(firstloop, 1);
    EXPECT_EQ(width, 1023);
    EXPECT_EQ(height, 767);

    EXPECT_EQ(start({"2"}).status, keep_running);
    EXPECT_EQ(friction, 2.0f);
    EXPECT_EQ(start({"0.5"}).status, keep_running);
    EXPECT_EQ(friction, 0.5f);
    for (const std::vector<const char *> &args :
         {std::vector<const char *>{"2", "3"}, {"abc", "def"}, {"-q", "1", "-"}}) {
        const Outcome run = start(args);
        EXPECT_EQ(run.status, keep_running);
        EXPECT_EQ(friction, 1.4f);
        EXPECT_EQ(run.out + run.err, "");
    }
}

TEST_F(CommandLine, HelpAndVersionGoToStandardOutput)
{
    for (const char *flag : {"--help", "-h"}) {
        const Outcome run = start({flag});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind(usage, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
    const Outcome run = start({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("glide ", 0), 0u);
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);
}

TEST_F(CommandLine, TextThatIsNotANumberIsRefused)
{
    Outcome run = start({"abc"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("glide: friction \"abc\" is not a number\n") + usage);
    EXPECT_EQ(friction, 1.4f);

    // Quoted on one line, with nothing a terminal would act on.
    run = start({"a\"b\\\n\x1b[2J"});
    EXPECT_EQ(run.err,
              std::string("glide: friction \"a\\\"b\\\\\\x0a\\x1b[2J\" is not a number\n") + usage);
}

struct Arguments {
    std::vector<const char *> args;
    bool quiet;
    float friction;
    bool screen = false;
    bool throwing = false;
    double speed = 1000.0;
};

// Options stand anywhere; a dash before a digit or a point is a friction,
// and -- ends the options.
TEST_F(CommandLine, OptionsStandAnywhereAndTheOtherArgumentsKeepTheirRule)
{
    for (const Arguments &run :
         {Arguments{{"-q", "2"}, true, 2.0f},
          {{"2", "3", "-q"}, true, 1.4f},
          {{"--quiet", "-q", "2"}, true, 2.0f},
          {{"2", "--quiet"}, true, 2.0f},
          {{"-q", "--", "2"}, true, 2.0f},
          {{"2", "--"}, false, 2.0f},
          {{"--", "-1.4"}, false, -1.4f},
          {{"-.5"}, false, -0.5f},
          {{"-1e5"}, false, -1e5f},
          {{"--screen"}, false, 1.4f, true},
          {{"2", "--screen", "-q"}, true, 2.0f, true},
          {{"--screen", "--", "2"}, false, 2.0f, true},
          // A friction of its own under --throw, unless given.
          {{"--throw"}, false, 1.05f, false, true},
          {{"2", "3", "-t"}, false, 1.05f, false, true},
          {{"-t", "2"}, false, 2.0f, false, true},
          {{"--throw=1500", "-q"}, true, 1.05f, false, true, 1500.0},
          {{"--throw=2.5e3", "--throw"}, false, 1.05f, false, true, 2500.0}}) {
        const Outcome outcome = start(run.args);
        EXPECT_EQ(outcome.status, keep_running) << run.args[0];
        EXPECT_EQ(quiet, run.quiet) << run.args[0];
        EXPECT_EQ(friction, run.friction) << run.args[0];
        EXPECT_EQ(screen, run.screen) << run.args[0];
        EXPECT_EQ(throwing, run.throwing) << run.args[0];
        EXPECT_EQ(throwspeed, run.speed) << run.args[0];
        EXPECT_EQ(outcome.out + outcome.err, "");
    }
}

// Read from left to right, the first option that ends glide decides.
TEST_F(CommandLine, HelpAndUnknownOptionsActWhereTheyStand)
{
    for (const std::vector<const char *> &args : {std::vector<const char *>{"--help", "2"},
                                                  {"--help", "--bogus"},
                                                  {"-q", "abc", "-h"},
                                                  {"2", "--version", "--bogus"}}) {
        const Outcome run = start(args);
        EXPECT_EQ(run.status, 0) << args[0];
        EXPECT_NE(run.out, "");
        EXPECT_EQ(run.err, "");
    }
    EXPECT_NE(start({"-h"}).out.find("-q, --quiet"), std::string::npos);
    EXPECT_NE(start({"-h"}).out.find("--screen"), std::string::npos);

    for (const char *option : {"--bogus", "-inf", "-e5", "--quiet=1", "-qq", "-Q", "--Help", "-s",
                               "--screen=1", "--throwing", "-t=1"}) {
        const Outcome run = start({"2", option, "--help"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("glide: unknown option \"") + option + "\"\n" + usage);
    }
    // A throw speed is a positive number, all of it.
    for (const char *speed : {"", "0", "-5", "inf", "nan", "12abc"}) {
        const Outcome run = start({(std::string("--throw=") + speed).c_str()});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, std::string("glide: throw speed \"") + speed +
                               "\" is not a positive number\n" + usage);
    }
    // After --, or alone, a dash is part of a friction that is not a number.
    for (const std::vector<const char *> &args : {std::vector<const char *>{"-"},
                                                  {"--", "-e5"},
                                                  {"-q", "--", "-q"},
                                                  {"--", "--help"},
                                                  {"--", "--screen"}}) {
        const Outcome run = start(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err,
                  std::string("glide: friction \"") + args.back() + "\" is not a number\n" + usage);
    }
}

// Alone on the command line, an option asks the running glide; anything
// beside it is refused, but --help or --version before it.
TEST_F(CommandLine, RequestsToTheRunningGlideStandAlone)
{
    for (const auto &[option, control] :
         {std::pair{"--pause", Control::pause}, std::pair{"--resume", Control::resume},
          std::pair{"--toggle", Control::toggle}, std::pair{"--status", Control::status}}) {
        const Outcome run = start({option});
        EXPECT_EQ(run.status, keep_running);
        EXPECT_EQ(request, control);
        EXPECT_EQ(run.out + run.err, "");
    }
    for (const std::vector<const char *> &args :
         {std::vector<const char *>{"--help", "--pause"}, {"--version", "--status", "2"}}) {
        const Outcome run = start(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out, "");
        EXPECT_EQ(request, Control::none);
    }
    // Each refused, naming the option that must stand alone.
    for (const auto &[args, alone] :
         {std::pair{std::vector<const char *>{"--pause", "--help"}, "--pause"},
          std::pair{std::vector<const char *>{"-q", "--toggle"}, "--toggle"},
          std::pair{std::vector<const char *>{"--resume", "2"}, "--resume"},
          std::pair{std::vector<const char *>{"abc", "--status"}, "--status"},
          std::pair{std::vector<const char *>{"--status", "--status"}, "--status"},
          std::pair{std::vector<const char *>{"--pause", "--resume"}, "--pause"},
          std::pair{std::vector<const char *>{"--toggle", "--", "-t"}, "--toggle"}}) {
        const Outcome run = start(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.err, std::string("glide: option \"") + alone + "\" stands alone\n" + usage);
    }
    // After --, it is a friction that is not a number.
    EXPECT_EQ(start({"--", "--pause"}).status, 2);
    EXPECT_EQ(request, Control::none);
}

}  // namespace
