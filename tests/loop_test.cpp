#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "loop.h"
#include "state.h"

namespace {

class Loop : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_fake();
        fake.cursor = {300, 200};
    }
};

TEST_F(Loop, TicksOnlyAfterMoreThanTenMilliseconds)
{
    fake.clock = 10;
    EXPECT_EQ(tick_when_due(0), 0);
    EXPECT_TRUE(fake.targets.empty());
    EXPECT_EQ(fake.deadlines, (std::vector<int64_t>{11}));

    fake.clock = 11;
    EXPECT_EQ(tick_when_due(0), 11);
    EXPECT_EQ(fake.targets.size(), 1u);

    fake.clock = 21;
    EXPECT_EQ(tick_when_due(11), 11);
    EXPECT_EQ(fake.targets.size(), 1u);
}

TEST_F(Loop, MeasuresFromTheEndOfTheTick)
{
    fake.waitadvances = true;
    fake.setcost = 3;
    int64_t lastclock = 0;
    for (int i = 0; i < 4; ++i) {
        lastclock = tick_when_due(lastclock);
    }
    EXPECT_EQ(fake.deadlines, (std::vector<int64_t>{11, 25, 39, 53}));
    EXPECT_EQ(lastclock, 56);
    EXPECT_EQ(fake.targets.size(), 4u);
}

// Woken too soon after a tick, the loop waits out the 10 ms, not another second.
TEST_F(Loop, AWakeTooSoonToTickStillEndsTheRest)
{
    quiet = true;
    resting = true;
    fake.hand = {{5, {310, 200}}};
    EXPECT_EQ(tick_when_due(0), 0);
    fake.clock = 11;
    EXPECT_EQ(tick_when_due(0), 11);
    EXPECT_EQ(fake.waits, (std::vector<std::pair<int64_t, bool>>{{5, true}}));
}

TEST_F(Loop, ALongGapGivesOneTick)
{
    fake.clock = int64_t{1} << 40;
    EXPECT_EQ(tick_when_due(100), fake.clock);
    EXPECT_EQ(fake.targets.size(), 1u);
}

// The velocities' magnitudes, bit for bit: an edge turns their sign every
// tick, and a NaN stays a NaN.
using Magnitudes = std::pair<uint32_t, uint32_t>;

Magnitudes magnitudes()
{
    return {std::bit_cast<uint32_t>(std::fabs(lastx)), std::bit_cast<uint32_t>(std::fabs(lasty))};
}

struct Timeline {
    std::vector<Point> targets;
    std::vector<std::pair<int64_t, Magnitudes>> ticks;  // when each ended, and what it left
    std::vector<Magnitudes> slept;                      // what each wait for input began with
    std::vector<std::pair<int64_t, bool>> waits;
};

struct Rest {
    const char *what;
    float friction;
    float vx;
    float vy;
    Point at;  // where the cursor rests until a hand moves it 20 pixels left, at 6 s
    bool sleeps;
};

// Nine seconds of the loop, on a clock that the waits move on.
Timeline run(const Rest &rest, bool silent)
{
    reset_fake();
    quiet = silent;
    friction = rest.friction;
    firstloop = 0;
    lastx = rest.vx;
    lasty = rest.vy;
    c = static_cast<float>(rest.at.x);
    d = static_cast<float>(rest.at.y);
    fake.cursor = rest.at;
    fake.hand = {{6000, {rest.at.x - 20, rest.at.y}}};
    fake.waitadvances = true;
    Timeline seen;
    for (int64_t lastclock = 0; fake.clock < 9000;) {
        if (quiet && resting) {
            seen.slept.push_back(magnitudes());
        }
        const int64_t next = tick_when_due(lastclock);
        if (next != lastclock) {
            seen.ticks.emplace_back(next, magnitudes());
        }
        lastclock = next;
    }
    seen.targets = fake.targets;
    seen.waits = fake.waits;
    return seen;
}

// Under --quiet glide sleeps only where ticking on would change nothing, so
// it wakes to the state that ticking all along would have left, and moves
// the cursor as that would have.
TEST(Sleep, OnlyAtRestAndWakesAsIfItHadTickedAllAlong)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Rest &rest :
         {Rest{"decaying to the smallest subnormal", 1.4f, 0.3f, -0.3f, {500, 300}, true},
          Rest{"halved to zero", 2.0f, 0.4f, 0.4f, {500, 300}, true},
          Rest{"turned round on an edge", 1.4f, 0.0f, 1e-3f, {1023, 767}, true},
          Rest{"kept by a friction of 1", 1.0f, 0.4f, -0.4f, {500, 300}, true},
          Rest{"turned round by a friction of -1", -1.0f, 0.4f, 0.0f, {500, 300}, true},
          Rest{"not a number", nan, nan, nan, {500, 300}, true},
          Rest{"growing", 0.5f, 0.3f, 0.0f, {500, 300}, false},
          Rest{"infinite, held on an edge",
               1.4f,
               std::numeric_limits<float>::infinity(),
               0.0f,
               {1023, 300},
               false}}) {
        SCOPED_TRACE(rest.what);
        const Timeline loud = run(rest, false);
        const Timeline still = run(rest, true);
        EXPECT_TRUE(loud.waits.empty());
        EXPECT_EQ(still.targets, loud.targets);
        ASSERT_EQ(still.slept.size(), still.waits.size());
        EXPECT_EQ(!still.waits.empty(), rest.sleeps);
        // Only the hand's wakes this one, and the next tick comes at once.
        EXPECT_EQ(
            std::count(still.waits.begin(), still.waits.end(), std::pair{int64_t{6000}, true}),
            rest.sleeps ? 1 : 0);
        EXPECT_EQ(std::count_if(still.ticks.begin(), still.ticks.end(),
                                [](const auto &t) { return t.first == 6000; }),
                  rest.sleeps ? 1 : 0);
        for (size_t i = 0; i < still.waits.size(); ++i) {
            const int64_t at = still.waits[i].first;
            const auto before = [at](const auto &t) { return t.first <= at; };
            // At most a second after its tick, and waking to what ticking
            // all along had left by then.
            const auto slept = std::find_if(still.ticks.rbegin(), still.ticks.rend(), before);
            const auto ticked = std::find_if(loud.ticks.rbegin(), loud.ticks.rend(), before);
            ASSERT_NE(slept, still.ticks.rend());
            EXPECT_LE(at - slept->first, 1000);
            EXPECT_EQ(still.slept[i], ticked->second) << "woke at " << at;
        }
    }
}

struct PauseRun {
    const char *what;
    bool throwing;
    bool quiet;
    int64_t pauseat;  // 0: before the first tick
    bool gliding;     // whether the cursor glides when paused
    Control pause = Control::pause;
    Control resume = Control::resume;
    bool touched = true;  // whether the hand moves the cursor while paused
};

// A glide (or under --throw the hand's flick) is under way when glide is
// paused; the hand moves the cursor while it is, and once more at 2 s,
// after it resumed at 1 s.
TEST(Pause, NothingMovesOrPrintsUntilResumedAndThenStartsAtRest)
{
    for (const PauseRun &run :
         {PauseRun{"mid-glide", false, false, 100, true},
          PauseRun{"quiet, toggled", false, true, 100, true, Control::toggle, Control::toggle},
          PauseRun{"before the first tick", false, false, 0, false},
          PauseRun{"thrown, mid-glide", true, false, 250, true, Control::pause, Control::toggle},
          PauseRun{"thrown, as the hand flicks", true, false, 120, false},
          PauseRun{"thrown, as the hand lets go", true, false, 180, false, Control::pause,
                   Control::resume, false}}) {
        SCOPED_TRACE(run.what);
        reset_fake();
        quiet = run.quiet;
        throwing = run.throwing;
        friction = 1.05f;
        fake.waitadvances = true;
        fake.cursor = {100, 300};
        if (throwing) {
            for (int64_t t = 28; t <= 168; t += 8) {
                fake.hand.emplace_back(t, Point{static_cast<int32_t>(100 + (t - 20) * 3 / 2), 300});
            }
        }
        if (run.touched) {
            fake.hand.emplace_back(500, Point{500, 400});
        }
        fake.hand.emplace_back(2000, Point{501, 400});
        fake.controls = {{run.pauseat, run.pause}, {1000, run.resume}};
        int64_t lastclock = 0;
        std::vector<int64_t> movedat;  // when each move was made
        const auto run_until = [&](int64_t t) {
            while (fake.clock < t) {
                const size_t before = fake.targets.size();
                lastclock = tick_when_due(lastclock);
                movedat.insert(movedat.end(), fake.targets.size() - before, fake.clock);
            }
        };
        run_until(run.pauseat);
        const size_t moves = fake.targets.size();
        const size_t lines = fake.lines.size();
        EXPECT_EQ(moves > 0, run.gliding);
        // No tick begins once it is asked.
        EXPECT_TRUE(std::all_of(movedat.begin(), movedat.end(),
                                [&](int64_t at) { return at <= run.pauseat; }));
        // Paused: one sleep until it is resumed, and not a tick.
        run_until(1000);
        EXPECT_EQ(fake.newswaits, (std::vector<int64_t>{1000}));
        EXPECT_EQ(fake.targets.size(), moves);
        EXPECT_EQ(fake.lines.size(), lines);
        EXPECT_EQ(fake.shown, (std::vector<State>{State::paused, State::active}));
        // Under --throw, what the hand did meanwhile is forgotten.
        EXPECT_TRUE(!throwing || fake.news.reports == 0);
        // Resumed at rest where the hand left the cursor: no seed, and
        // nothing thrown...
        run_until(1985);
        EXPECT_EQ(firstloop, 0);
        for (size_t i = lines; i < fake.lines.size(); ++i) {
            EXPECT_EQ(fake.lines[i], "0.000000/1.050000=0.000000\n");
        }
        // ...until the next touch, as after any rest: by default it
        // re-measures and flings the cursor.
        run_until(2100);
        EXPECT_EQ(movedat.size() > moves, !throwing);
        for (size_t i = moves; i < movedat.size(); ++i) {
            EXPECT_GE(movedat[i], 2000);
        }
    }
}

}  // namespace
