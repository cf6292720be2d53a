// Drives long runs of ticks on the fake platform: any friction bit pattern,
// cursor readings anywhere in the 32-bit range or wherever the last move left
// the cursor, failing reads, screens of any size changing between ticks,
// --quiet, and --screen with up to 20 monitors anywhere. Besides what the
// sanitizers catch, checks what must hold after every tick.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "fake_platform.h"
#include "state.h"
#include "update.h"

namespace {

struct Input {
    const uint8_t *data;
    size_t size;

    [[nodiscard]] bool empty() const { return size == 0; }

    template <typename T>
    T take()
    {
        T value{};
        const size_t n = size < sizeof value ? size : sizeof value;
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

// The motion state, bit for bit: NaNs compare as equal to themselves.
using Snapshot = std::array<uint32_t, 8>;

Snapshot save()
{
    return {std::bit_cast<uint32_t>(lastx),    std::bit_cast<uint32_t>(lasty),
            std::bit_cast<uint32_t>(friction), std::bit_cast<uint32_t>(firstloop),
            std::bit_cast<uint32_t>(width),    std::bit_cast<uint32_t>(height),
            std::bit_cast<uint32_t>(c),        std::bit_cast<uint32_t>(d)};
}

// The state with the velocities' signs dropped, which an edge turns every
// tick, and any NaN among them as one.
Snapshot unsigned_velocities(Snapshot state)
{
    for (const size_t i : {0U, 1U}) {
        state.at(i) &= 0x7fffffffU;
        state.at(i) = state.at(i) > 0x7f800000U ? 0x7fc00000U : state.at(i);
    }
    return state;
}

void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "%s (lastx %a, lasty %a, friction %a, c %a, d %a)\n", what,
                     static_cast<double>(lastx), static_cast<double>(lasty),
                     static_cast<double>(friction), static_cast<double>(c), static_cast<double>(d));
        std::abort();
    }
}

bool whole(float v)
{
    return std::isfinite(v) && std::trunc(v) == v;
}

constexpr double int32low = std::numeric_limits<int32_t>::min();
constexpr double int32high = std::numeric_limits<int32_t>::max();

// How far a move takes the cursor for the velocity v: v rounded half away
// from zero, kept within 32 bits.
double step(float v)
{
    if (std::isinf(v)) {
        return v > 0 ? int32high : int32low;
    }
    if (std::isnan(v)) {
        return 0.0;
    }
    return std::fmin(std::fmax(std::round(static_cast<double>(v)), int32low), int32high);
}

// Where a move from p by the velocity v must go, kept within 32 bits.
int32_t target(int32_t p, float v)
{
    return static_cast<int32_t>(std::fmin(std::fmax(p + step(v), int32low), int32high));
}

// The bounce edge for a screen of the given size: the area's, unless the
// screen ends before it.
int32_t edge(int32_t area, int32_t size)
{
    return size > area ? area : std::max(size - 1, 0);
}

// Resting, glide may sleep: ticking on from the same reading must change
// nothing but the velocities' signs.
void check_rest(Point reading)
{
    if (!resting) {
        return;
    }
    const Snapshot rested = unsigned_velocities(save());
    fake.script = {reading};
    update();
    require(resting && fake.targets.empty() && unsigned_velocities(save()) == rested,
            "resting, a tick would have changed the state");
}

// The next reading from the input: 0 and 1 keep the cursor where it is, 2
// fails, 3 reads the coordinates that follow. With the top bit set, the
// screen takes the size that follows first, before the tick.
std::optional<Point> reading(Input &in)
{
    const auto choice = in.take<uint8_t>();
    if ((choice & 0x80) != 0) {
        fake.screenwidth = in.take<uint16_t>();
        fake.screenheight = in.take<uint16_t>();
    }
    switch (choice % 4) {
    case 0:
    case 1:
        return fake.cursor;
    case 2:
        return std::nullopt;
    default: {
        const auto x = in.take<int32_t>();
        return Point{x, in.take<int32_t>()};
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in{data, size};
    reset_fake();
    friction = std::bit_cast<float>(in.take<uint32_t>());
    const auto x = in.take<int32_t>();
    quiet = x < 0;
    const auto y = in.take<int32_t>();
    screen = y < 0;
    fake.cursor = {x & 1023, y & 1023};
    if (screen) {
        fake.monitors.clear();
        for (int n = in.take<uint8_t>() % 21; n > 0; --n) {
            const auto left = in.take<int32_t>();
            const auto top = in.take<int32_t>();
            const auto right = in.take<int32_t>();
            fake.monitors.push_back({left, top, right, in.take<int32_t>()});
        }
    }

    // Each tick takes its two readings from the input; when it runs out, the
    // cursor glides on undisturbed for a while.
    for (int calm = 0; calm < 200; calm += in.empty() ? 1 : 0) {
        const std::optional<Point> first = reading(in);
        const std::optional<Point> second = reading(in);
        const Point screen{fake.screenwidth, fake.screenheight};
        fake.script = {first, second};
        fake.lines.clear();
        fake.targets.clear();
        fake.reads = 0;
        const Snapshot before = save();
        const bool firsttick = firstloop != 0;
        const auto frictionbits = std::bit_cast<uint32_t>(friction);

        require(update() == 0, "a tick returned other than 0");

        if (!first) {
            require(before == save(), "a failed read changed the state");
            require(fake.lines.empty() && fake.targets.empty(), "a failed read reported or moved");
            continue;
        }
        require(firstloop == 0, "the first tick left firstloop set");
        require(std::bit_cast<uint32_t>(friction) == frictionbits, "the friction changed");
        require(whole(c) && whole(d), "c or d is not a whole number");
        require(c == static_cast<float>(first->x) && d == static_cast<float>(first->y),
                "c and d are not the coordinates read");
        require(width == edge(1023, screen.x) && height == edge(767, screen.y),
                "the edges are not the area's or the screen's");
        require(fake.lines.size() == (firsttick || quiet ? 0U : 1U), "not one line a tick");
        for (const std::string &line : fake.lines) {
            require(line.size() > 5 && line.back() == '\n' && line.find('/') != std::string::npos &&
                        line.find('=') != std::string::npos,
                    "a malformed report line");
        }
        if (step(lastx) == 0.0 && step(lasty) == 0.0) {
            require(fake.reads == 1 && fake.targets.empty(), "read again or moved at rest");
            check_rest(*first);
            continue;
        }
        if (!second) {
            require(fake.targets.empty(), "moved without a second reading");
            continue;
        }
        require(fake.targets.size() == 1, "not one move");
        const Point moved = fake.targets[0];
        require(moved.x == target(second->x, lastx) && moved.y == target(second->y, lasty),
                "the move is not the rounded velocity, kept within 32 bits");
    }
    return 0;
}
