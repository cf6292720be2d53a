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

}  // namespace
