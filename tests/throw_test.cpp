#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "fake_platform.h"
#include "loop.h"
#include "state.h"

namespace {

// A hand moving the cursor from a point at a steady or changing speed, its
// device reporting at a rate: each report a position at a clock reading.
struct Stroke {
    Point from;
    double vx;  // pixels a second at the start
    double vy;
    double slowto = 1.0;  // the share of its speed it ends with
    int rate = 125;       // reports a second
    int64_t ms = 150;
    int64_t frame = 0;  // where news of the reports comes once a frame, its length
};

void add_stroke(int64_t start, const Stroke &s)
{
    const int64_t every = 1000 / s.rate;
    double x = s.from.x;
    double y = s.from.y;
    for (int64_t t = every; t <= s.ms; t += every) {
        const double share =
            1.0 - (1.0 - s.slowto) * static_cast<double>(t) / static_cast<double>(s.ms);
        x += s.vx * share * static_cast<double>(every) / 1000;
        y += s.vy * share * static_cast<double>(every) / 1000;
        const int64_t told =
            s.frame > 0 ? (start + t + s.frame - 1) / s.frame * s.frame : start + t;
        fake.hand.emplace_back(told,
                               Point{std::clamp(static_cast<int32_t>(std::lround(x)), 0, 1023),
                                     std::clamp(static_cast<int32_t>(std::lround(y)), 0, 767)});
        fake.reported.push_back(start + t);
    }
}

struct Flick {
    const char *what;
    Stroke stroke;
    bool glides;
    // A touch after the hand's last report: a move of the cursor by the
    // hand, or a press.
    std::optional<int64_t> nudge = {};
    std::optional<int64_t> press = {};
    bool timed = true;                 // the device's reports carry times
    std::optional<Monitor> only = {};  // under --screen, the one monitor
    int64_t tick = 11;                 // how long a tick is, in ms
    bool hears = true;                 // whether a wait wakes for the hand
    Point wall = {};                   // where a glide into a wall is held: x or y
};

// A move glide made: when, from where, to where.
struct Move {
    int64_t at;
    Point from;
    Point to;
};

struct Seen {
    int64_t lastreport;
    std::vector<Move> moves;
};

Seen fling(const Flick &f)
{
    reset_fake();
    throwing = true;
    friction = throwfriction;
    fake.timed = f.timed;
    fake.hears = f.hears;
    fake.readcost = f.tick - 11;
    fake.waitadvances = true;
    if (f.only) {
        screen = true;
        fake.monitors = {*f.only};
    }
    fake.cursor = f.stroke.from;
    add_stroke(100, f.stroke);
    Seen seen{fake.hand.back().first, {}};
    if (f.nudge) {
        fake.hand.emplace_back(seen.lastreport + *f.nudge, Point{500, 20});
    }
    if (f.press) {
        fake.presses.push_back(seen.lastreport + *f.press);
    }
    for (int64_t lastclock = 0; fake.clock < 4000;) {
        const Point from = fake.cursor;
        const size_t targets = fake.targets.size();
        lastclock = tick_when_due(lastclock);
        if (fake.targets.size() > targets) {
            seen.moves.push_back({fake.clock, from, fake.cursor});
        }
    }
    return seen;
}

// What a flick comes to: whether it glides at the hand's speed, how soon and
// how far, what stops it, the walls, and that it ends at rest.
TEST(Throw, AFlickGlidesOnAtTheHandsSpeedAndATouchStopsIt)
{
    const Stroke fast{{100, 300}, 1500, 0};
    const Stroke diagonal{{100, 440}, 1200, 1200, 1, 125, 100};
    for (const Flick &f : {
             Flick{.what = "a fast flick", .stroke = fast, .glides = true},
             Flick{.what = "timed by the reads", .stroke = fast, .glides = true, .timed = false},
             Flick{.what = "its news a frame late",
             .stroke = {{100, 300}, 1500, 0, 1, 125, 150, 33},
             .glides = true},
             Flick{.what = "on a slow touchpad, 25 Hz",
             .stroke = {{100, 300}, 1500, 0, 1, 25, 320},
             .glides = true},
             Flick{.what = "ticking slowly", .stroke = fast, .glides = true, .tick = 16},
             Flick{.what = "unheard asleep", .stroke = fast, .glides = true, .hears = false},
             Flick{.what = "a slow hand", .stroke = {{100, 300}, 250, 0}, .glides = false},
             Flick{.what = "a hand slowing down to stop",
             .stroke = {{100, 300}, 3000, 0, 0.2, 125, 150},
             .glides = false},
             Flick{.what = "a press before the hand lets go",
             .stroke = fast,
             .glides = false,
             .press = 5},
             Flick{.what = "a move mid-glide", .stroke = fast, .glides = true, .nudge = 150},
             Flick{.what = "a press mid-glide", .stroke = fast, .glides = true, .press = 150},
             Flick{.what = "a hand that ends pushing into an edge",
             .stroke = {{903, 300}, 1500, 0, 1, 125, 80},
             .glides = false},
             Flick{.what = "into the bottom edge",
             .stroke = diagonal,
             .glides = true,
             .wall = {0, 767}},
             Flick{.what = "into the right edge",
             .stroke = {{800, 200}, 1200, 600, 1, 125, 100},
             .glides = true,
             .wall = {1023, 0}},
             Flick{.what = "into a monitor's wall",
             .stroke = diagonal,
             .glides = true,
             .only = Monitor{0, 0, 800, 600},
             .wall = {0, 599}},
         }) {
        SCOPED_TRACE(f.what);
        const Seen seen = fling(f);
        // At rest, its velocities zero, and asleep where a hand would wake it.
        EXPECT_EQ(lastx, 0.0f);
        EXPECT_EQ(lasty, 0.0f);
        EXPECT_TRUE(resting);
        EXPECT_EQ(!fake.waits.empty(), f.hears);
        // A line a tick of a glide, the last one's too, where it stopped by itself.
        EXPECT_EQ(fake.lines.size(),
                  seen.moves.size() + (seen.moves.empty() || f.nudge || f.press ? 0 : 1));
        ASSERT_EQ(!seen.moves.empty(), f.glides);
        if (!f.glides) {
            continue;
        }
        // Never while the hand moves, and soon after it lets go: within
        // 60 ms at ninety ticks a second, or a slow device's two reports.
        EXPECT_GT(seen.moves.front().at, seen.lastreport);
        EXPECT_LE(seen.moves.front().at - seen.lastreport,
                  std::max<int64_t>(60 * f.tick / 11, 2000 / f.stroke.rate + 11));
        if (f.nudge || f.press) {
            // Stopped in the tick that saw it, and still ever after.
            EXPECT_LT(seen.moves.back().at, seen.lastreport + f.nudge.value_or(*f.press));
            EXPECT_EQ(fake.cursor, (f.nudge ? Point{500, 20} : seen.moves.back().to));
            continue;
        }
        if (!(f.wall == Point{})) {
            // Held at the wall it met, its velocity there 0, and slid on
            // along it.
            const bool across = f.wall.x != 0;
            const auto on = [&](Point p) { return across ? p.x == f.wall.x : p.y == f.wall.y; };
            EXPECT_TRUE(on(fake.cursor));
            const auto met = std::find_if(seen.moves.begin(), seen.moves.end(),
                                          [&](const Move &m) { return on(m.to); });
            ASSERT_NE(met, seen.moves.end());
            EXPECT_GT(across ? fake.cursor.y - met->to.y : fake.cursor.x - met->to.x, 15);
            if (across) {
                const size_t after = static_cast<size_t>(met - seen.moves.begin()) + 1;
                EXPECT_EQ(fake.lines[after].rfind("0.000000/", 0), 0u) << fake.lines[after];
            }
            continue;
        }
        // The first step the hand's speed a tick, divided once, none longer
        // than the one before, and the whole as long as a glide from that
        // first step.
        const double hand = f.stroke.vx * static_cast<double>(f.tick) / 1000;
        const double first = seen.moves.front().to.x - seen.moves.front().from.x;
        // Timed by the reads, a tick off the reports, it is less near.
        EXPECT_NEAR(first, hand / 1.05, f.timed ? 1.5 : 0.25 * hand);
        for (size_t i = 1; i < seen.moves.size(); ++i) {
            EXPECT_LE(seen.moves[i].to.x - seen.moves[i].from.x,
                      seen.moves[i - 1].to.x - seen.moves[i - 1].from.x);
            EXPECT_EQ(seen.moves[i].to.y, 300);
        }
        const double far = fake.cursor.x - seen.moves.front().from.x;
        EXPECT_NEAR(far, first * 1.05 / 0.05, first * 1.05 / 0.05 / 5);
    }
}

}  // namespace
