#include "desktop.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// Kept in place, so that following the monitors allocates nothing.
std::array<Monitor, maxmonitors> monitors;
int monitorcount;
// Whether there were too many, and monitors[0] is the rectangle around them.
bool folded;
// Whether glide has said so.
bool toldfolded;

void fold_into(Monitor &around, const Monitor &monitor)
{
    around.left = std::min(around.left, monitor.left);
    around.top = std::min(around.top, monitor.top);
    around.right = std::max(around.right, monitor.right);
    around.bottom = std::max(around.bottom, monitor.bottom);
}

// The monitor that holds the pixel at (x, y), or null.
const Monitor *monitor_at(int64_t x, int64_t y)
{
    const Monitor *const begin = monitors.data();
    const Monitor *const end = begin + monitorcount;
    const Monitor *const on = std::find_if(begin, end, [&](const Monitor &m) {
        return m.left <= x && x < m.right && m.top <= y && y < m.bottom;
    });
    return on != end ? on : nullptr;
}

}  // namespace

void clear_monitors()
{
    monitorcount = 0;
    folded = false;
}

void add_monitor(Monitor monitor)
{
    // An output that is switched off holds no pixel.
    if (monitor.right <= monitor.left || monitor.bottom <= monitor.top) {
        return;
    }
    if (folded) {
        fold_into(monitors[0], monitor);
        return;
    }
    if (monitorcount < maxmonitors) {
        monitors[static_cast<size_t>(monitorcount++)] = monitor;
        return;
    }
    for (int i = 1; i < monitorcount; ++i) {
        fold_into(monitors[0], monitors[static_cast<size_t>(i)]);
    }
    fold_into(monitors[0], monitor);
    monitorcount = 1;
    folded = true;
    if (!toldfolded) {
        toldfolded = true;
        std::fputs("glide: more than 16 monitors: bouncing off the rectangle around them\n",
                   stderr);
    }
}

bool on_desktop(int64_t x, int64_t y)
{
    return monitor_at(x, y) != nullptr;
}

int64_t reach(int64_t x, int64_t y, int64_t dx, int64_t dy, int64_t most)
{
    // From monitor to monitor: to the far side of the one it is on, then a
    // pixel on if another holds it. Each turn passes a monitor's far side.
    int64_t gone = 0;
    while (gone < most) {
        const int64_t px = x + dx * gone;
        const int64_t py = y + dy * gone;
        const Monitor *const on = monitor_at(px, py);
        if (on == nullptr) {
            return std::max<int64_t>(gone - 1, 0);  // stepped off, or started off
        }
        const int64_t across = dx > 0   ? on->right - 1 - px
                               : dx < 0 ? px - on->left
                               : dy > 0 ? on->bottom - 1 - py
                                        : py - on->top;
        gone = std::min(most, gone + across + 1);
    }
    return most;
}
