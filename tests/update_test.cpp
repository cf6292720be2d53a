#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "state.h"
#include "update.h"

namespace {

constexpr int32_t int32min = std::numeric_limits<int32_t>::min();
constexpr int32_t int32max = std::numeric_limits<int32_t>::max();
const float tiniest = std::numeric_limits<float>::denorm_min();  // 2^-149

class Tick : public ::testing::Test {
protected:
    void SetUp() override { reset_fake(); }

    // The state of a running program, after the first tick.
    static void running(float vx, float vy, Point previous)
    {
        firstloop = 0;
        lastx = vx;
        lasty = vy;
        c = static_cast<float>(previous.x);
        d = static_cast<float>(previous.y);
    }

    // Ticks n times and returns how far each tick moved the cursor horizontally.
    static std::vector<int32_t> horizontal_moves(int n)
    {
        std::vector<int32_t> moves;
        for (int i = 0; i < n; ++i) {
            const int32_t before = fake.cursor.x;
            update();
            moves.push_back(fake.cursor.x - before);
        }
        return moves;
    }
};

TEST_F(Tick, FirstTickSeedsTheVelocitiesWithTheCoordinatesAndPrintsNothing)
{
    fake.cursor = {300, 200};
    EXPECT_EQ(update(), 0);
    EXPECT_EQ(firstloop, 0);
    EXPECT_EQ(lastx, 300.0f);
    EXPECT_EQ(lasty, 200.0f);
    EXPECT_EQ(c, 300.0f);
    EXPECT_EQ(d, 200.0f);
    EXPECT_TRUE(fake.lines.empty());
    EXPECT_EQ(fake.targets, (std::vector<Point>{{600, 400}}));

    // From the second tick on it reports, and keeps a velocity the cursor followed.
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"300.000000/1.400000=214.285718\n"}));
    EXPECT_EQ(fake.targets.back(), (Point{814, 543}));
}

TEST_F(Tick, FirstTickBouncesOnAnEdgeAndMovesFromTheSecondReading)
{
    fake.script = {Point{300, 767}, Point{310, 760}};
    update();
    EXPECT_EQ(lastx, 300.0f);
    EXPECT_EQ(lasty, -767.0f);
    EXPECT_EQ(c, 300.0f);  // the first reading, not the second
    EXPECT_EQ(d, 767.0f);
    EXPECT_EQ(fake.targets, (std::vector<Point>{{610, -7}}));
}

TEST_F(Tick, UndisturbedVelocityDecaysToRest)
{
    running(7.0f, 0.0f, {500, 300});
    fake.cursor = {507, 300};
    EXPECT_EQ(horizontal_moves(10), (std::vector<int32_t>{5, 4, 3, 2, 1, 1, 1, 0, 0, 0}));
    const std::vector<std::string> first(fake.lines.begin(), fake.lines.begin() + 5);
    EXPECT_EQ(first, (std::vector<std::string>{
                         "7.000000/1.400000=5.000000\n",
                         "5.000000/1.400000=3.571429\n",
                         "3.571429/1.400000=2.551020\n",
                         "2.551020/1.400000=1.822157\n",
                         "1.822158/1.400000=1.301541\n",
                     }));
    EXPECT_EQ(fake.cursor, (Point{524, 300}));
}

TEST_F(Tick, CursorMovedByHandReMeasuresFromTheCoordinate)
{
    running(0.0f, 0.0f, {500, 300});
    fake.cursor = {520, 300};
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"520.000000/1.400000=371.428578\n"}));
    EXPECT_EQ(lastx, 371.428589f);
    EXPECT_EQ(fake.targets, (std::vector<Point>{{891, 300}}));

    // The new velocity is the coordinate minus the old velocity, not the displacement.
    reset_fake();
    running(7.0f, 0.0f, {500, 300});
    fake.cursor = {520, 300};
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"513.000000/1.400000=366.428578\n"}));
}

struct Edge {
    int32_t at;
    bool edge;
};

class HorizontalEdge : public Tick, public ::testing::WithParamInterface<Edge> {};
class VerticalEdge : public Tick, public ::testing::WithParamInterface<Edge> {};

// The cursor has moved 50 pixels against a velocity of 10, so it is
// re-measured unless it is on an edge; on an edge the velocity is inverted.
TEST_P(HorizontalEdge, GuardsAndBounces)
{
    const int32_t x = GetParam().at;
    running(10.0f, 0.0f, {x - 50, 300});
    fake.cursor = {x, 300};
    update();
    ASSERT_EQ(fake.lines.size(), 1u);
    if (GetParam().edge) {
        EXPECT_EQ(fake.lines[0], "10.000000/1.400000=7.142857\n");
        EXPECT_EQ(lastx, -(10.0f / 1.4f));
    } else {
        EXPECT_EQ(lastx, static_cast<float>(x - 10) / 1.4f);
    }
    EXPECT_EQ(c, static_cast<float>(x));
    EXPECT_EQ(lasty, 0.0f);
}

TEST_P(VerticalEdge, GuardsAndBounces)
{
    const int32_t y = GetParam().at;
    running(0.0f, 10.0f, {500, y - 50});
    fake.cursor = {500, y};
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"0.000000/1.400000=0.000000\n"}));
    if (GetParam().edge) {
        EXPECT_EQ(lasty, -(10.0f / 1.4f));
    } else {
        EXPECT_EQ(lasty, static_cast<float>(y - 10) / 1.4f);
    }
    EXPECT_EQ(d, static_cast<float>(y));
}

INSTANTIATE_TEST_SUITE_P(Columns, HorizontalEdge,
                         ::testing::Values(Edge{-40, true}, Edge{0, true}, Edge{1, false},
                                           Edge{1022, false}, Edge{1023, true}, Edge{5000, true}));
INSTANTIATE_TEST_SUITE_P(Rows, VerticalEdge,
                         ::testing::Values(Edge{-40, true}, Edge{0, true}, Edge{1, false},
                                           Edge{766, false}, Edge{767, true}, Edge{5000, true}));

TEST_F(Tick, ZeroVelocityOnAnEdgeTurnsToNegativeZeroAndLeavesTheCursorAlone)
{
    running(0.0f, 0.0f, {1023, 767});
    fake.cursor = {1023, 767};
    update();
    EXPECT_TRUE(std::signbit(lastx));
    EXPECT_TRUE(std::signbit(lasty));
    update();
    EXPECT_FALSE(std::signbit(lastx));
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"0.000000/1.400000=0.000000\n",
                                                    "-0.000000/1.400000=-0.000000\n"}));
    EXPECT_TRUE(fake.targets.empty());
}

// At rest a tick reads the cursor once and never sets it: a move to where it
// already is would keep the screen from locking.
TEST_F(Tick, VelocityAtRestSettlesOnTheSmallestSubnormalWithoutMoving)
{
    running(0.3f, -0.3f, {500, 300});
    fake.cursor = {500, 300};
    for (int i = 0; i < 400; ++i) {
        update();
    }
    EXPECT_EQ(lastx, tiniest);
    EXPECT_EQ(lasty, -tiniest);
    EXPECT_EQ(fake.reads, 400);
    EXPECT_TRUE(fake.targets.empty());
    EXPECT_EQ(fake.lines.size(), 400u);

    // One axis with a step to take is enough for a move.
    reset_fake();
    friction = 2.0f;
    running(0.0f, -1.0f, {500, 301});
    fake.cursor = {500, 300};
    update();
    EXPECT_EQ(fake.reads, 2);
    EXPECT_EQ(fake.targets, (std::vector<Point>{{500, 299}}));

    // Halving reaches zero, and keeps its sign.
    reset_fake();
    friction = 2.0f;
    running(0.3f, -0.3f, {500, 300});
    fake.cursor = {500, 300};
    for (int i = 0; i < 400; ++i) {
        update();
    }
    EXPECT_EQ(std::bit_cast<uint32_t>(lastx), 0u);
    EXPECT_EQ(std::bit_cast<uint32_t>(lasty), 0x80000000u);
}

TEST_F(Tick, FailedReadsLeaveEverythingOrSkipTheMove)
{
    // A failed first read ends the tick before it changes anything.
    fake.script = {std::nullopt};
    update();
    EXPECT_EQ(firstloop, 1);
    EXPECT_EQ(lastx, 0.0f);
    running(7.0f, 3.0f, {500, 300});
    fake.script = {std::nullopt};
    update();
    EXPECT_EQ(lastx, 7.0f);
    EXPECT_EQ(lasty, 3.0f);
    EXPECT_EQ(c, 500.0f);
    EXPECT_TRUE(fake.lines.empty());
    EXPECT_TRUE(fake.targets.empty());

    // A failed second read only skips the move.
    fake.script = {Point{507, 303}, std::nullopt};
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"7.000000/1.400000=5.000000\n"}));
    EXPECT_EQ(lastx, 5.0f);
    EXPECT_EQ(c, 507.0f);
    EXPECT_TRUE(fake.targets.empty());
}

TEST_F(Tick, ExtremeCoordinatesAndVelocitiesSaturateTheTarget)
{
    // Seeded with the ends of the range and bounced: the moves bring both
    // axes back to -1 without any overflow.
    fake.script = {Point{int32max, int32min}, Point{int32max, int32min}};
    update();
    EXPECT_EQ(lastx, -2147483648.0f);
    EXPECT_EQ(lasty, 2147483648.0f);
    EXPECT_EQ(fake.targets, (std::vector<Point>{{-1, -1}}));

    // Sums past the ends stop there instead of wrapping.
    reset_fake();
    running(1e10f, -1e10f, {500, 300});
    fake.script = {Point{500, 300}, Point{-2147483000, 2147483000}};
    update();
    EXPECT_EQ(fake.targets, (std::vector<Point>{{int32min, int32max}}));
}

// Frictions that make the velocities blow up, vanish or become NaN: every
// tick still reports and moves, with nothing undefined on the way.
TEST_F(Tick, AnyFrictionKeepsTheTickSound)
{
    const std::array frictions = {0.0f,
                                  -0.0f,
                                  0.5f,
                                  -1.4f,
                                  0.85f,
                                  tiniest,
                                  std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN()};
    for (const float f : frictions) {
        SCOPED_TRACE(f);
        reset_fake();
        friction = f;
        fake.cursor = {300, 200};
        for (int i = 0; i < 300; ++i) {
            update();
        }
        EXPECT_EQ(fake.lines.size(), 299u);
        // A second read for every move, and none for a tick that stays put.
        EXPECT_EQ(fake.reads, 300 + static_cast<int>(fake.targets.size()));
    }

    // Dividing by zero sends the cursor to the far end of the range, which
    // the screen turns into its edge.
    reset_fake();
    friction = 0.0f;
    fake.cursor = {300, 200};
    update();
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"300.000000/0.000000=inf\n"}));
    EXPECT_EQ(fake.targets.back(), (Point{int32max, int32max}));
    EXPECT_EQ(fake.cursor, (Point{1023, 767}));

    reset_fake();
    friction = std::numeric_limits<float>::quiet_NaN();
    fake.cursor = {1023, 200};
    update();
    update();
    update();
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"-1023.000000/nan=nan\n", "-nan/nan=-nan\n"}));
}

// A screen smaller than the area brings the edges in to its own: the cursor
// bounces there instead of being held against it, re-measured every tick.
TEST_F(Tick, SmallerScreenBouncesAtItsEdges)
{
    fake.screenwidth = 800;
    fake.screenheight = 600;
    friction = 2.0f;
    fake.cursor = {300, 200};
    for (int i = 0; i < 100; ++i) {
        update();
    }
    EXPECT_EQ(width, 799);
    EXPECT_EQ(height, 599);
    EXPECT_EQ(fake.lines[1], "150.000000/2.000000=75.000000\n");
    EXPECT_EQ(fake.lines[2], "75.000000/2.000000=37.500000\n");  // at 799: turned round
    EXPECT_EQ(fake.lines[3], "-37.500000/2.000000=-18.750000\n");
    EXPECT_EQ(fake.lines.back(), "-0.000000/2.000000=-0.000000\n");
    EXPECT_EQ(fake.cursor, (Point{724, 598}));

    // Only a smaller screen changes the edges: 1280 x 720 brings in the bottom.
    for (const auto &[screen, edges] : {std::pair{Point{1280, 720}, Point{1023, 719}},
                                        {Point{1024, 768}, Point{1023, 767}},
                                        {Point{3840, 2160}, Point{1023, 767}},
                                        {Point{1, 0}, Point{0, 0}}}) {
        reset_fake();
        fake.screenwidth = screen.x;
        fake.screenheight = screen.y;
        update();
        EXPECT_EQ((Point{width, height}), edges);
    }
}

// The size is taken in each tick, before the cursor is read, and only when
// that read succeeds.
TEST_F(Tick, EdgesFollowTheScreenFromTickToTick)
{
    running(0.0f, 0.0f, {500, 300});
    fake.cursor = {500, 300};
    fake.screenwidth = 640;
    fake.screenheight = 480;
    fake.script = {std::nullopt};
    update();
    EXPECT_EQ((Point{width, height}), (Point{1023, 767}));

    // Shrunk, the screen has moved the cursor onto its new edge: a bounce,
    // not a hand movement to measure.
    running(10.0f, 10.0f, {500, 300});
    fake.cursor = {639, 310};
    update();
    EXPECT_EQ((Point{width, height}), (Point{639, 479}));
    EXPECT_EQ(fake.lines.back(), "10.000000/1.400000=7.142857\n");
    EXPECT_EQ(lastx, -(10.0f / 1.4f));

    fake.screenwidth = 1920;
    fake.screenheight = 1080;
    update();
    EXPECT_EQ((Point{width, height}), (Point{1023, 767}));
}

TEST_F(Tick, QuietPrintsNothingAndChangesNothingElse)
{
    const auto run = [](bool silent) {
        reset_fake();
        quiet = silent;
        fake.script = {Point{300, 200}, Point{300, 200}, Point{620, 410}};
        for (int i = 0; i < 50; ++i) {
            update();
        }
        return std::tuple{fake.targets, fake.reads, lastx, lasty, c, d};
    };
    const auto loud = run(false);
    EXPECT_EQ(fake.lines.size(), 49u);
    EXPECT_EQ(run(true), loud);
    EXPECT_TRUE(fake.lines.empty());
}

class Walls : public Tick {
protected:
    void SetUp() override
    {
        reset_fake();
        screen = true;
    }

    // Whether each axis is at a wall at p (1 where it is), as its bounce
    // shows: the velocities agree with the move to p, so an axis not at a
    // wall keeps 7 (or, where floats are too coarse to agree, is re-measured).
    static Point walls_at(Point p)
    {
        firstloop = 0;
        lastx = 7.0f;
        lasty = 7.0f;
        c = static_cast<float>(p.x) - 7.0f;
        d = static_cast<float>(p.y) - 7.0f;
        fake.script = {p};
        update();
        const float bounced = -(7.0f / 1.4f);
        return {lastx == bounced ? 1 : 0, lasty == bounced ? 1 : 0};
    }
};

TEST_F(Walls, OneMonitorOf1024x768BouncesAsTheDefault)
{
    const auto run = [](bool walls, Point start, float f) {
        reset_fake();
        screen = walls;
        friction = f;
        // Hand movements onto each edge and corner along the way.
        fake.script = {start,         start,         Point{1023, 500}, Point{1023, 500},
                       Point{0, 767}, Point{0, 767}, Point{512, 0},    Point{512, 0},
                       Point{1, 766}, Point{1, 766}};
        fake.cursor = start;
        for (int i = 0; i < 120; ++i) {
            update();
        }
        return std::tuple{fake.lines, fake.targets, fake.reads, lastx, lasty, c, d};
    };
    for (const Point start : {Point{300, 200}, Point{0, 0}, Point{1023, 767}, Point{1022, 1}}) {
        for (const float f : {1.4f, 1.05f, 0.85f}) {
            EXPECT_EQ(run(true, start, f), run(false, start, f)) << start.x << "," << start.y;
        }
    }
}

struct Desktop {
    std::vector<Monitor> monitors;
    // Points where no axis, the horizontal, the vertical or both are at a wall.
    std::array<std::vector<Point>, 4> points;
};

TEST_F(Walls, EverySideWithNoMonitorBeyondIt)
{
    const std::array walls{Point{0, 0}, Point{1, 0}, Point{0, 1}, Point{1, 1}};
    for (const Desktop &desktop :
         {// Side by side, of different heights: the shared edge is crossed,
          // the bottom of the shorter one bounces, and between them below
          // it the cursor is on no monitor.
          Desktop{{{0, 0, 1920, 1080}, {1920, 0, 3000, 1200}},
                  {{{{1919, 500}, {1920, 1079}, {1000, 1078}, {2500, 1079}},
                    {{0, 500}, {2999, 500}, {1920, 1100}},
                    {{1000, 0}, {2500, 0}, {1000, 1079}, {1919, 1079}, {2500, 1199}},
                    {{1919, 1100}, {-5, -5}}}}},
          // Left of and above the primary, in negative coordinates.
          Desktop{{{0, 0, 1920, 1080}, {-1280, -200, 0, 824}},
                  {{{{-1, 500}, {0, 500}, {-1279, 500}, {-640, -199}},
                    {{-1280, 500}},
                    {{-640, -200}, {-640, 823}, {500, 0}},
                    {{0, -1}}}}},
          // As GNOME lists them, in logical pixels: 2560 x 1440 at 125 %
          // over a 1920 x 1080 at 100 %, centred under it.
          Desktop{{{0, 0, 2048, 1152}, {64, 1152, 1984, 2232}},
                  {{{{100, 1151}, {1000, 1152}},
                    {{64, 1500}, {1983, 1500}, {2047, 500}},
                    {{30, 1151}, {2000, 1151}, {1000, 2231}},
                    {{2047, 1151}, {64, 2231}}}}},
          // A gap between two.
          Desktop{{{0, 0, 1024, 768}, {1124, 0, 2148, 768}},
                  {{{{1125, 300}}, {{1023, 300}, {1124, 300}}, {}, {{1074, 300}}}}},
          // At the ends of the 32-bit range, where a neighbour lies past it.
          Desktop{{{int32max - 99, int32min, int64_t{int32max} + 1, int32min + 100}},
                  {{{{int32max - 1, int32min + 50}, {int32max - 50, int32min + 1}},
                    {{int32max, int32min + 50}},
                    {{int32max - 50, int32min}},
                    {{int32min, int32max}}}}}}) {
        fake.monitors = desktop.monitors;
        for (size_t i = 0; i < walls.size(); ++i) {
            for (const Point p : desktop.points.at(i)) {
                EXPECT_EQ(walls_at(p), walls.at(i)) << p.x << "," << p.y;
            }
        }
    }
}

TEST_F(Walls, FollowTheMonitorsFromTickToTick)
{
    EXPECT_EQ(walls_at({1023, 300}), (Point{1, 0}));
    fake.monitors.push_back({1024, 0, 2048, 768});
    EXPECT_EQ(walls_at({1023, 300}), (Point{0, 0}));
    fake.monitors = {{0, 0, 800, 600}};
    EXPECT_EQ(walls_at({700, 599}), (Point{0, 1}));
}

TEST_F(Walls, MoreThan16MonitorsBounceOffTheRectangleAroundThem)
{
    // Sixteen apart, with gaps between them, and one switched off (empty),
    // which does not count; the seventeenth closes the gaps.
    fake.monitors.clear();
    for (int64_t left = 0; left < 3200; left += 200) {
        fake.monitors.push_back({left, 0, left + 100, 768});
    }
    fake.monitors.push_back({5000, 0, 5000, 768});
    testing::internal::CaptureStderr();
    EXPECT_EQ(walls_at({150, 300}), (Point{1, 1}));
    fake.monitors.push_back({3200, 100, 3300, 900});
    for (int tick = 0; tick < 2; ++tick) {
        EXPECT_EQ(walls_at({150, 300}), (Point{0, 0}));
        EXPECT_EQ(walls_at({3299, 300}), (Point{1, 0}));
        EXPECT_EQ(walls_at({150, 899}), (Point{0, 1}));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "glide: more than 16 monitors: bouncing off the rectangle around them\n");
}

TEST(Roundaway, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(roundaway(2.5f), 3);
    EXPECT_EQ(roundaway(-2.5f), -3);
    EXPECT_EQ(roundaway(0.5f), 1);
    EXPECT_EQ(roundaway(-0.5f), -1);
    EXPECT_EQ(roundaway(0.49f), 0);
    EXPECT_EQ(roundaway(-0.4f), 0);
    EXPECT_EQ(roundaway(1.4999f), 1);
    EXPECT_EQ(roundaway(0.0f), 0);
    EXPECT_EQ(roundaway(-0.0f), 0);
    EXPECT_EQ(roundaway(tiniest), 0);
    // In single precision 0.49999997f + 0.5f would round up to 1.
    EXPECT_EQ(roundaway(0.49999997f), 0);
    EXPECT_EQ(roundaway(-0.49999997f), 0);
    EXPECT_EQ(roundaway(8388609.0f), 8388609);
}

TEST(Roundaway, SaturatesWhatDoesNotFit)
{
    EXPECT_EQ(roundaway(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(roundaway(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(roundaway(std::numeric_limits<float>::infinity()), int32max);
    EXPECT_EQ(roundaway(-std::numeric_limits<float>::infinity()), int32min);
    EXPECT_EQ(roundaway(2147483520.0f), 2147483520);  // the largest float below 2^31
    EXPECT_EQ(roundaway(2147483648.0f), int32max);
    EXPECT_EQ(roundaway(-2147483648.0f), int32min);
    EXPECT_EQ(roundaway(-2147483904.0f), int32min);
    EXPECT_EQ(roundaway(std::numeric_limits<float>::max()), int32max);
}

TEST(Difference, RoundsTheExactDifferenceOnce)
{
    EXPECT_EQ(difference(520, 7.0f), 513.0f);
    EXPECT_EQ(difference(1, tiniest), 1.0f);
    // 2^24 + 3 - 2^-149 lies just below the midpoint of 2^24 + 2 and 2^24 + 4;
    // rounding 2^24 + 3 first would tie to the even 2^24 + 4.
    EXPECT_EQ(difference(16777219, tiniest), 16777218.0f);
    EXPECT_EQ(difference(16777219, -tiniest), 16777220.0f);
    EXPECT_EQ(difference(16777217, tiniest), 16777216.0f);
    EXPECT_EQ(difference(16777217, -tiniest), 16777218.0f);
    EXPECT_EQ(difference(int32min, std::numeric_limits<float>::max()),
              -std::numeric_limits<float>::max());
    EXPECT_EQ(difference(0, std::numeric_limits<float>::infinity()),
              -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(difference(5, std::numeric_limits<float>::quiet_NaN())));
}

}  // namespace
