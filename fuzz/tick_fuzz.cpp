// Drives long runs of ticks on the fake platform: any friction bit pattern,
// cursor readings anywhere in the 32-bit range or wherever the last move left
// the cursor, and failing reads. Besides what the sanitizers catch, checks
// what must hold after every tick.
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
using State = std::array<uint32_t, 8>;

State save()
{
    return {std::bit_cast<uint32_t>(lastx),    std::bit_cast<uint32_t>(lasty),
            std::bit_cast<uint32_t>(friction), std::bit_cast<uint32_t>(firstloop),
            std::bit_cast<uint32_t>(width),    std::bit_cast<uint32_t>(height),
            std::bit_cast<uint32_t>(c),        std::bit_cast<uint32_t>(d)};
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

// Where a move from p by the velocity v must go: v rounded half away from
// zero, then the sum, each kept within 32 bits.
int32_t target(int32_t p, float v)
{
    constexpr double low = std::numeric_limits<int32_t>::min();
    constexpr double high = std::numeric_limits<int32_t>::max();
    double step = 0.0;
    if (std::isinf(v)) {
        step = v > 0 ? high : low;
    } else if (!std::isnan(v)) {
        step = std::fmin(std::fmax(std::round(static_cast<double>(v)), low), high);
    }
    return static_cast<int32_t>(std::fmin(std::fmax(p + step, low), high));
}

// The next reading from the input: 0 keeps the cursor where it is, 1 fails,
// anything else reads the coordinates that follow.
std::optional<Point> reading(Input &in)
{
    switch (in.take<uint8_t>() % 4) {
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
    fake.cursor = {in.take<int32_t>() & 1023, in.take<int32_t>() & 1023};

    // Each tick takes its two readings from the input; when it runs out, the
    // cursor glides on undisturbed for a while.
    for (int quiet = 0; quiet < 200; quiet += in.empty() ? 1 : 0) {
        const std::optional<Point> first = reading(in);
        const std::optional<Point> second = reading(in);
        fake.script = {first, second};
        fake.lines.clear();
        fake.targets.clear();
        const State before = save();
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
        require(fake.lines.size() == (firsttick ? 0U : 1U), "not one line a tick");
        for (const std::string &line : fake.lines) {
            require(line.size() > 5 && line.back() == '\n' && line.find('/') != std::string::npos &&
                        line.find('=') != std::string::npos,
                    "a malformed report line");
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
