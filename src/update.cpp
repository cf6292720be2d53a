#include "update.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "desktop.h"
#include "platform/platform.h"
#include "state.h"

namespace {

constexpr int32_t int32min = std::numeric_limits<int32_t>::min();
constexpr int32_t int32max = std::numeric_limits<int32_t>::max();

// A whole number, not NaN, kept within 32 bits.
int32_t saturate(double whole)
{
    if (whole <= int32min) {
        return int32min;
    }
    if (whole >= int32max) {
        return int32max;
    }
    return static_cast<int32_t>(whole);
}

// The target of a move, saturated rather than wrapped.
int32_t offset(int32_t p, int32_t step)
{
    return saturate(static_cast<double>(p) + step);  // exact: 33 bits at most
}

// The bounce edge on one axis: the area's own, or the screen's last pixel
// where the screen is smaller, so that the cursor meets an edge it bounces off.
int32_t edge(int32_t area, int32_t screen)
{
    return screen > area ? area : std::max(screen, int32_t{1}) - 1;
}

// Under --screen, whether the axis along (dx, dy) is at a wall: (x, y) or
// its neighbour on either side along it lies on no monitor. In 64 bits, as a
// neighbour may lie past the 32-bit range.
bool at_wall(int64_t x, int64_t y, int64_t dx, int64_t dy)
{
    return !on_desktop(x, y) || !on_desktop(x - dx, y - dy) || !on_desktop(x + dx, y + dy);
}

// Re-measures one axis from the coordinate p read this tick and the coordinate
// previous read the tick before: a displacement that the rounded velocity does
// not explain means somebody else moved the cursor.
void remeasure(int32_t p, float previous, float &velocity)
{
    const float moved = static_cast<float>(p) - previous;
    if (static_cast<double>(moved) != static_cast<double>(roundaway(velocity))) {
        velocity = difference(p, velocity);
    }
}

// Whether the next tick's division leaves v as it is, but for the sign that
// an edge may turn: a velocity that has stopped decaying.
bool keeps(float v)
{
    return std::isnan(v) || std::fabs(v / friction) == std::fabs(v);
}

}  // namespace

bool start_tick(int32_t *x, int32_t *y, int32_t *screenwidth, int32_t *screenheight)
{
    // Taken in before the read, so that a shrink that moved the cursor is
    // known before the cursor is measured.
    platform_screen_size(screenwidth, screenheight);
    if (screen) {
        platform_monitors();
    }
    if (!platform_read_cursor(x, y)) {
        return false;
    }
    width = edge(lastcolumn, *screenwidth);
    height = edge(lastrow, *screenheight);
    return true;
}

// Room for the widest number printed, a quotient of up to about 2.4e83.
using Number = std::array<char, 128>;

// v as "%f" prints it with glibc, which the other platforms must match:
// Microsoft's runtime spells a NaN "-nan(ind)" and MinGW's drops its sign.
const char *format(Number &text, double v)
{
    if (std::isnan(v)) {
        return std::signbit(v) ? "-nan" : "nan";
    }
    std::snprintf(text.data(), text.size(), "%f", v);
    return text.data();
}

void report(float v)
{
    const double vx = v;
    const double f = friction;
    Number a;
    Number b;
    Number q;
    std::array<char, 400> line;
    const int n = std::snprintf(line.data(), line.size(), "%s/%s=%s\n", format(a, vx), format(b, f),
                                format(q, vx / f));
    if (n > 0) {
        platform_write_line(line.data());
    }
}

bool move_by(int32_t stepx, int32_t stepy, Point *to)
{
    int32_t px = 0;
    int32_t py = 0;
    if (!platform_read_cursor(&px, &py)) {
        return false;
    }
    *to = {offset(px, stepx), offset(py, stepy)};
    platform_set_cursor(to->x, to->y);
    return true;
}

int32_t roundaway(float v)
{
    if (v > 0.0f) {
        return saturate(std::trunc(static_cast<double>(v) + 0.5));
    }
    if (v < 0.0f) {
        return saturate(std::trunc(static_cast<double>(v) - 0.5));
    }
    return 0;  // zero of either sign, and NaN
}

float difference(int32_t x, float v)
{
    const double a = x;
    const double b = -static_cast<double>(v);
    const double s = a + b;
    const auto f = static_cast<float>(s);
    if (!std::isfinite(s) || static_cast<double>(f) == s) {
        return f;
    }
    // s is not exact only when v has bits far below x's; the part lost, err,
    // matters only if s falls exactly halfway between two floats.
    const double bb = s - a;
    const double err = (a - (s - bb)) + (b - bb);
    if (err == 0.0) {
        return f;
    }
    const float other = std::nextafter(f, s > static_cast<double>(f) ? HUGE_VALF : -HUGE_VALF);
    if (static_cast<double>(f) + static_cast<double>(other) != 2.0 * s) {
        return f;
    }
    return (err > 0.0) == (other > f) ? other : f;
}

int32_t update()
{
    int32_t screenwidth = 0;
    int32_t screenheight = 0;
    int32_t x = 0;
    int32_t y = 0;
    if (!start_tick(&x, &y, &screenwidth, &screenheight)) {
        return 0;  // nothing fresh to go on: leave everything as it is
    }
    const bool xout = screen ? at_wall(x, y, 1, 0) : x >= width || x <= 0;
    const bool yout = screen ? at_wall(x, y, 0, 1) : y >= height || y <= 0;
    const bool still = firstloop == 0 && static_cast<float>(x) == c && static_cast<float>(y) == d;

    if (firstloop != 0) {
        // The velocities start out as the coordinates themselves.
        lastx = static_cast<float>(x);
        lasty = static_cast<float>(y);
        firstloop = 0;
    } else {
        if (!xout) {
            remeasure(x, c, lastx);
        }
        if (!yout) {
            remeasure(y, d, lasty);
        }
        if (!quiet) {
            report(lastx);
        }
        lastx = lastx / friction;
        lasty = lasty / friction;
    }

    // The edges that keep a coordinate from re-measuring are the ones it
    // bounces off. Negation flips only the sign bit: 0 becomes -0.
    if (xout) {
        lastx = -lastx;
    }
    if (yout) {
        lasty = -lasty;
    }
    c = static_cast<float>(x);
    d = static_cast<float>(y);

    // At rest, leave the cursor alone: even a move to where it already is
    // counts as input, and would keep the screen from ever locking.
    const int32_t stepx = roundaway(lastx);
    const int32_t stepy = roundaway(lasty);
    const bool moves = stepx != 0 || stepy != 0;
    // With the cursor still too, the next tick would read the same, find
    // nothing to re-measure, and come back here.
    resting = !moves && still && keeps(lastx) && keeps(lasty);
    if (!moves) {
        return 0;
    }
    Point to{};
    move_by(stepx, stepy, &to);
    return 0;
}
