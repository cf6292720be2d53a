// The platform on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "desktop.h"
#include "platform.h"

// Known to Windows 10 1803 and later; older SDKs and MinGW's headers lack it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// The performance counter's rate per second, and its reading at start-up.
static int64_t frequency;
static int64_t startcount;

// The timer the waits sleep on; null where Windows refuses a high-resolution
// one, and the waits fall back on Sleep.
static HANDLE timer;

// How much later than asked the timer has lately fired, in counter units:
// each wait asks for that much less. Under Wine it fires about 0.9 ms late,
// which would cost one tick in twelve.
static int64_t lateness;

// The count of monitors and the virtual screen's rectangle when the monitors
// were last listed; a count of -1 until they are.
static std::array<int, 5> monitorslisted{-1, 0, 0, 0, 0};

static int64_t read_counter()
{
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// count * per / frequency, rounded down or up, without overflowing however
// long glide has been running.
static int64_t scale_down(int64_t count, int64_t per)
{
    return count / frequency * per + count % frequency * per / frequency;
}

static int64_t scale_up(int64_t count, int64_t per)
{
    return count / frequency * per + (count % frequency * per + frequency - 1) / frequency;
}

int platform_open()
{
    // One glide a session. The mutex goes when the last handle to it does,
    // and Windows closes handles however a process ends. Denied access, it
    // exists too: made by a glide run as administrator.
    const bool made = CreateMutexW(nullptr, FALSE, L"Local\\glide") != nullptr;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (!made && error == ERROR_ACCESS_DENIED)) {
        std::fputs("glide: another glide is already running in this session\n", stderr);
        return 3;
    }
    LARGE_INTEGER rate{};
    QueryPerformanceFrequency(&rate);  // never fails from Windows XP on
    frequency = rate.QuadPart;
    startcount = read_counter();
    timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                   TIMER_ALL_ACCESS);
    return platform_ready;
}

void platform_screen_size(int32_t *width, int32_t *height)
{
    // The primary monitor in physical pixels (glide is DPI aware); asking
    // costs no round trip, so it is asked every tick.
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

// Called by EnumDisplayMonitors for each monitor: without a device context,
// the rectangle is the monitor's own (rcMonitor), in physical pixels.
static BOOL CALLBACK add_listed_monitor(HMONITOR /*monitor*/, HDC /*context*/, LPRECT rectangle,
                                        LPARAM /*data*/)
{
    add_monitor({rectangle->left, rectangle->top, rectangle->right, rectangle->bottom});
    return TRUE;
}

void platform_monitors()
{
    // Cheap to ask every tick. Plugging, unplugging, moving or resizing a
    // monitor changes the count or the rectangle around them all, except a
    // change wholly inside that rectangle, which goes unseen until one does.
    const std::array<int, 5> now{
        GetSystemMetrics(SM_CMONITORS), GetSystemMetrics(SM_XVIRTUALSCREEN),
        GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN),
        GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (now == monitorslisted) {
        return;
    }
    monitorslisted = now;
    clear_monitors();
    if (EnumDisplayMonitors(nullptr, nullptr, add_listed_monitor, 0) == FALSE || now[0] == 0) {
        // Listed none: the virtual screen stands in for them.
        clear_monitors();
        add_monitor({now[1], now[2], int64_t{now[1]} + now[3], int64_t{now[2]} + now[4]});
    }
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    POINT point{};
    // Fails while the secure desktop or the lock screen is shown.
    if (GetCursorPos(&point) == FALSE) {
        return false;
    }
    *x = point.x;
    *y = point.y;
    return true;
}

void platform_set_cursor(int32_t x, int32_t y)
{
    // Windows keeps the cursor on the screen itself, whatever the target.
    SetCursorPos(x, y);
}

int64_t platform_clock()
{
    return scale_down(read_counter() - startcount, 1000);
}

void platform_wait_until(int64_t clock)
{
    if (clock <= 0) {
        return;
    }
    // The counter's reading at which platform_clock() first reads clock.
    const int64_t due =
        startcount + clock / 1000 * frequency + (clock % 1000 * frequency + 999) / 1000;
    const int64_t left = due - read_counter();
    if (left <= 0) {
        return;
    }
    // An early wake-up is harmless: the caller checks the clock.
    if (timer != nullptr) {
        // Relative, in 100 ns units: an absolute due time would be wall-clock
        // time, which jumps when the clock is set. Shortened by the lateness,
        // but to no less than half of what is left, so that a wake-up that
        // comes early costs one more, shorter wait and never a busy one.
        LARGE_INTEGER relative{};
        relative.QuadPart = -scale_up(left - std::min(lateness, left / 2), 10000000);
        if (SetWaitableTimer(timer, &relative, 0, nullptr, nullptr, FALSE) != FALSE) {
            WaitForSingleObject(timer, INFINITE);
            // Aimed a tenth of a millisecond past the deadline, which keeps
            // early wake-ups rare, and followed slowly, which keeps one late
            // wake-up from throwing it.
            const int64_t late = read_counter() - due - frequency / 10000;
            lateness = std::clamp(lateness + late / 8, int64_t{0}, frequency / 1000);
            return;
        }
    }
    // Plain Sleep sleeps in steps of 15.6 ms: ask for 1 ms steps while asleep.
    const int64_t ms = scale_up(left, 1000);
    timeBeginPeriod(1);
    Sleep(static_cast<DWORD>(ms < 1000 ? ms : 1000));
    timeEndPeriod(1);
}

void platform_write_line(const char *line)
{
    // Flushed at once: a pipe would otherwise hold a hundred lines, lost when
    // the process is ended, which is the only way it ends.
    std::fputs(line, stdout);
    std::fflush(stdout);
}
