#include "throw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "desktop.h"
#include "platform/platform.h"
#include "state.h"
#include "update.h"

namespace {

// A reading of the cursor that the hand had moved: where, when its device
// last reported before it (on the device's clock, or else the read's time),
// when glide read it (on platform_clock()), how many of the device's
// reports it took in, and whether they came with their times.
struct Sample {
    Point at;
    int64_t reported;
    int64_t read;
    int32_t reports;
    bool timed;
};

// The hand's latest samples, oldest first: some 180 ms of them at ninety
// ticks a second, kept in place.
constexpr size_t keptsamples = 16;
std::array<Sample, keptsamples> samples;
size_t samplecount;

// The hand's speed at release is taken over its last 30 ms of reports: long
// enough to smooth a device's rate against the ticks', short enough that a
// hand slowing down to stop is not thrown at the speed it had before. It has
// let go once its device has been silent for 1.5 of its recent intervals
// between reports (the last 100 ms of them), and for two ticks at least,
// past what the news of its reports has lately lagged behind them.
constexpr int64_t speedwindow = 30;
// Timed by glide's reads instead, a tick off the reports they stand for,
// the hand's speed needs a longer span to be as near.
constexpr int64_t readwindow = 60;
constexpr int64_t ratewindow = 100;
constexpr double letgo = 1.5;

// Set by a press of a button since the hand last moved: no throw then.
bool pressed;

// Whether the cursor glides, and where glide last put it, kept on the
// screen: while it glides, any other position is the hand's.
bool gliding;
Point target;

// The last reading and its time, once there is one.
bool hasread;
Point lastread;
int64_t lastreadclock;

// The ticks' period lately, in milliseconds, by which a velocity in pixels
// a millisecond becomes one in pixels a tick; and whether it is measured.
double period;
bool measured;

void forget_hand()
{
    samplecount = 0;
    pressed = false;
}

void add_sample(const Sample &sample)
{
    if (samplecount == keptsamples) {
        std::move(samples.begin() + 1, samples.end(), samples.begin());
        --samplecount;
    }
    samples[samplecount++] = sample;
}

// Follows the time between ticks, but not across a sleep.
void follow_period(int64_t now)
{
    if (hasread && now - lastreadclock <= 50) {
        const auto interval = static_cast<double>(now - lastreadclock);
        period = measured ? period + (interval - period) / 8 : interval;
        measured = true;
    }
    lastreadclock = now;
}

// The earliest sample reported no more than window ms before the last.
size_t first_within(int64_t window)
{
    size_t i = samplecount - 1;
    while (i > 0 && samples[samplecount - 1].reported - samples[i - 1].reported <= window) {
        --i;
    }
    return i;
}

// Whether the hand has let go: its device silent, by now, for longer than
// it lately was between reports, and than the news of a report may lag
// behind it. On glide's clock, the least delay between a report and the read
// that took it in stands for none, and the most, lately, is the lag.
bool let_go(int64_t now)
{
    const size_t first = first_within(ratewindow);
    int64_t least = std::numeric_limits<int64_t>::max();
    int64_t most = std::numeric_limits<int64_t>::min();
    int64_t reports = 0;
    for (size_t i = first; i < samplecount; ++i) {
        least = std::min(least, samples[i].read - samples[i].reported);
        most = std::max(most, samples[i].read - samples[i].reported);
        reports += i > first ? samples[i].reports : 0;
    }
    const Sample &last = samples[samplecount - 1];
    const double interval = reports > 0
                                ? static_cast<double>(last.reported - samples[first].reported) /
                                      static_cast<double>(reports)
                                : period;
    return static_cast<double>(now - (last.reported + least)) >
           std::max(letgo * interval, 2 * period) + static_cast<double>(most - least);
}

// A step along one axis, cut short at the wall it would pass: the
// platform keeps the cursor on the screen, but not within the area's edges
// nor on the monitors. Says whether it meets the wall.
int32_t up_to_wall(int32_t x, int32_t y, int32_t step, bool horizontal, bool *met)
{
    *met = false;
    if (step == 0) {
        return 0;
    }
    const int64_t along = step > 0 ? 1 : -1;
    const int64_t most = std::abs(int64_t{step});
    int64_t room = 0;
    if (screen) {
        room = reach(x, y, horizontal ? along : 0, horizontal ? 0 : along, most);
    } else {
        const int64_t p = horizontal ? x : y;
        const int64_t last = horizontal ? width : height;
        room = std::clamp<int64_t>(along > 0 ? last - p : p, 0, most);
    }
    *met = room < most;
    return static_cast<int32_t>(along * room);
}

// Whether the cursor at (x, y) stands on the wall it would go on to along
// v, on one axis.
bool against_wall(int32_t x, int32_t y, double v, bool horizontal)
{
    bool met = false;
    return v != 0 && up_to_wall(x, y, v > 0 ? 1 : -1, horizontal, &met) == 0;
}

// Starts a glide at the hand's velocity as it let go, when it was fast
// enough, but for an axis it was pushing into a wall. Returns whether it
// did.
bool throw_hand()
{
    if (samplecount < 2 || pressed) {
        return false;
    }
    const Sample &last = samples[samplecount - 1];
    const int64_t window = last.timed ? speedwindow : readwindow;
    const Sample &first = samples[std::min(first_within(window), samplecount - 2)];
    const auto ms = static_cast<double>(last.reported - first.reported);
    if (ms <= 0) {
        return false;
    }
    double vx = (static_cast<double>(last.at.x) - first.at.x) / ms;
    double vy = (static_cast<double>(last.at.y) - first.at.y) / ms;
    if (!(std::hypot(vx, vy) * 1000 >= throwspeed)) {
        return false;
    }
    vx = against_wall(last.at.x, last.at.y, vx, true) ? 0 : vx;
    vy = against_wall(last.at.x, last.at.y, vy, false) ? 0 : vy;
    if (vx == 0 && vy == 0) {
        return false;
    }
    lastx = static_cast<float>(vx * period);
    lasty = static_cast<float>(vy * period);
    gliding = true;
    return true;
}

void stop_glide()
{
    gliding = false;
    lastx = 0.0f;
    lasty = 0.0f;
}

}  // namespace

void init_throw()
{
    forget_hand();
    gliding = false;
    target = {};
    hasread = false;
    lastread = {};
    lastreadclock = 0;
    period = 11.25;  // ninety ticks a second, until measured
    measured = false;
}

void rest_throw(int32_t x, int32_t y, int64_t now)
{
    forget_hand();
    stop_glide();
    hasread = true;
    lastread = {x, y};
    lastreadclock = now;
}

namespace {

// While the cursor is the hand's: follows it, and once it has let go throws
// the cursor if it may. Returns whether a glide begins.
bool follow_hand(Point at, const HandNews &news, bool moved, int64_t now)
{
    resting = false;
    if (moved) {
        const bool timed = news.reports > 0 && news.timed;
        add_sample({at, timed ? news.time : now, now, std::max(news.reports, 1), timed});
        pressed = news.pressed;  // in the same tick, it may have come last
        return false;
    }
    pressed = pressed || news.pressed;
    if (samplecount > 0 && !let_go(now)) {
        return false;
    }
    const bool thrown = throw_hand();
    forget_hand();
    resting = !thrown;
    return thrown;
}

// One tick of a glide from (x, y), as the tick does it: reports, decays and
// moves, but stops an axis at the wall it meets, and ends at rest.
void glide_on(int32_t x, int32_t y, int32_t screenwidth, int32_t screenheight)
{
    if (!quiet) {
        report(lastx);
    }
    lastx = lastx / friction;
    lasty = lasty / friction;
    // Walls keep what the hand aims at: the axis that meets one stops there,
    // and the cursor slides on along it.
    bool metx = false;
    bool mety = false;
    const int32_t stepx = up_to_wall(x, y, roundaway(lastx), true, &metx);
    const int32_t stepy = up_to_wall(x, y, roundaway(lasty), false, &mety);
    if (metx) {
        lastx = 0.0f;
    }
    if (mety) {
        lasty = 0.0f;
    }
    if (stepx == 0 && stepy == 0) {
        stop_glide();  // no creeping glide of subnormal velocities
        resting = true;
        return;
    }
    Point to{};
    if (move_by(stepx, stepy, &to)) {
        target = {std::clamp(to.x, 0, std::max(screenwidth, 1) - 1),
                  std::clamp(to.y, 0, std::max(screenheight, 1) - 1)};
    }
}

}  // namespace

int32_t throw_update()
{
    int32_t screenwidth = 0;
    int32_t screenheight = 0;
    int32_t x = 0;
    int32_t y = 0;
    if (!start_tick(&x, &y, &screenwidth, &screenheight)) {
        return 0;
    }
    const int64_t now = platform_clock();
    const HandNews news = platform_take_hand();
    follow_period(now);
    const Point at{x, y};
    // Whatever glide did not do is the hand's: a device's report, or a
    // position glide did not put the cursor at (another program's, too).
    const bool moved = news.reports > 0 || (hasread && !(at == (gliding ? target : lastread)));
    hasread = true;
    lastread = at;

    if (gliding && (moved || news.pressed)) {
        stop_glide();  // a touch: this tick moves nothing, and the hand has it
    }
    if (gliding || follow_hand(at, news, moved, now)) {
        glide_on(x, y, screenwidth, screenheight);
    }
    return 0;
}
