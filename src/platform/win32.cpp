// The platform on Windows.
#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "desktop.h"
#include "platform.h"
#include "requests.h"
#include "win32.h"
#include "win32_focus.h"
#include "win32_settings.h"
#ifdef GLIDE_WINDOWED
#include "win32_tray.h"
#endif

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

// Set by the window's procedure on what should wake glide at rest.
static bool woken;

// glide's own window, never shown, which the command line of another
// glide.exe finds by its class and title, "glide".
static HWND window;

// The message that window is asked with: wparam 1 to pause, 2 to resume, 3
// to toggle, and lparam the window to answer once glide has taken that in,
// with the same message: wparam 0, or 1 when too many requests wait, and
// lparam whether glide is paused. wparam 4 asks what glide does, and is
// answered at once: 1 active, 2 paused, 3 aside; first, where a program has
// the focus, glide sends lparam's window its name as WM_COPYDATA.
static UINT controlmessage;

// What has been asked, and what glide has shown since: what it does, and
// which program has the focus.
static Requests<HWND> requests;
static State shownstate;
static std::array<char, namesize> shownprogram;

// What has the focus as last looked at, and whether the loop has yet to
// hear it; and when glide last looked, by the hand, and whether the hand
// has moved since. Windows tells of a change of focus, but Wine does not:
// a flick asks too, once at its start (at most every quarter of a
// second), and aside under Wine, every move of the hand.
static FocusNews focusnews;
static Choices choices;
static int64_t lookedat = -1000;
static bool handsincelook = true;

// Win+Shift+G pauses and resumes glide, unless another program holds it.
constexpr int hotkey = 1;
static bool hotkeytaken;

// What the mice did since glide last asked, from their raw input, for the
// hand under --throw: how many reports of motion, and whether a button went
// down; and whether any motion has come at all, which under Wine it does
// only in a virtual desktop.
static int32_t handreports;
static bool handpressed;
static bool heardhand;

// Set by a wait for input that found no message until its deadline: the
// tick after it need not look again, which under Wine is a request to its
// server.
static bool nothingcame;

// Under Wine, where the cursor was last read. Wine's SetCursorPos warps the
// X pointer only when the target differs from where Wine's server last knew
// the cursor to be, and a pointer moved behind Wine's back (by xdotool, or
// over no Wine window) leaves that stale: a move onto the stale position is
// lost, and a tenth of a second later Wine reports the pointer where it
// really is, as if a hand had moved it. Set first to where it was read,
// Wine's server knows better, and the move is made.
static bool wine;
static POINT lastread;

// The primary monitor's size in physical pixels (glide is DPI aware), and
// whether the monitors are to be listed again: taken at the start and on
// every WM_DISPLAYCHANGE, not asked every tick, which under Wine goes
// through its cache of display devices each time.
static int32_t screenwidth;
static int32_t screenheight;
static bool monitorschanged = true;

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

// The counter's reading at which platform_clock() first reads clock.
static int64_t counter_at(int64_t clock)
{
    return startcount + clock / 1000 * frequency + (clock % 1000 * frequency + 999) / 1000;
}

#ifdef GLIDE_WINDOWED
// Whether glidew.exe's parent gave it this standard stream: started from the
// desktop or a shortcut, it has none.
static bool has_stream(DWORD which)
{
    HANDLE stream = GetStdHandle(which);
    return stream != nullptr && stream != INVALID_HANDLE_VALUE;
}

// Shows text in a message box of the given kind (MB_ICON...).
static void show(const char *text, UINT icon)
{
    MessageBoxA(nullptr, text, "glide", MB_OK | icon);
}
#endif

void platform_tell(const char *out, const char *err)
{
#ifdef GLIDE_WINDOWED
    // With nowhere to write it, what start-up has to say goes in a box.
    if (*err != '\0' && !has_stream(STD_ERROR_HANDLE)) {
        show(err, static_cast<UINT>(MB_ICONERROR));
        return;
    }
    if (*out != '\0' && !has_stream(STD_OUTPUT_HANDLE)) {
        show(out, static_cast<UINT>(MB_ICONINFORMATION));
        return;
    }
#endif
    std::fputs(out, stdout);
    std::fputs(err, stderr);
}

// Takes in the display settings, at the start and on every change.
static void take_display()
{
    screenwidth = GetSystemMetrics(SM_CXSCREEN);
    screenheight = GetSystemMetrics(SM_CYSCREEN);
    monitorschanged = true;
}

// Counts a mouse's report: a motion, or a button pressed.
static void take_raw_input(HRAWINPUT input)
{
    RAWINPUT raw{};
    UINT size = sizeof raw;
    if (GetRawInputData(input, RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) ==
            static_cast<UINT>(-1) ||
        raw.header.dwType != RIM_TYPEMOUSE) {
        return;
    }
    const RAWMOUSE &mouse = raw.data.mouse;
    constexpr USHORT downs = RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_RIGHT_BUTTON_DOWN |
                             RI_MOUSE_MIDDLE_BUTTON_DOWN | RI_MOUSE_BUTTON_4_DOWN |
                             RI_MOUSE_BUTTON_5_DOWN;
    if ((mouse.usButtonFlags & downs) != 0) {
        handpressed = true;
    }
    if (mouse.lLastX != 0 || mouse.lLastY != 0) {
        handreports = std::min(handreports + 1, int32_t{1} << 30);
        heardhand = true;
    }
    handsincelook = true;
}

[[noreturn]] void end_glide(int status)
{
#ifdef GLIDE_WINDOWED
    remove_icon();
#endif
    std::exit(status);
}

void ask_toggle()
{
    keep_request(requests, Control::toggle, static_cast<HWND>(nullptr));
    woken = true;
}

void ask_choice(const Chosen &chosen)
{
    keep_choice(choices, chosen);
    woken = true;
}

// Takes a request of the command line's, or answers it what glide does,
// having sent it the program that has the focus.
static LRESULT take_request(WPARAM code, LPARAM lparam)
{
    // The message carries the asker's window in lparam.
    auto *const asker = reinterpret_cast<HWND>(lparam);  // NOLINT(performance-no-int-to-ptr)
    if (code == 4) {
        COPYDATASTRUCT program{1, static_cast<DWORD>(std::strlen(shownprogram.data())),
                               shownprogram.data()};
        if (asker != nullptr && program.cbData > 0) {
            SendMessageTimeoutW(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                                reinterpret_cast<LPARAM>(&program), SMTO_ABORTIFHUNG, 5000,
                                nullptr);
        }
        return shownstate == State::paused ? 2 : shownstate == State::aside ? 3 : 1;
    }
    const Control control = requested(static_cast<long>(code));
    if (control != Control::none && !keep_request(requests, control, asker)) {
        PostMessageW(asker, controlmessage, 1, shownstate == State::paused ? 1 : 0);
    }
    woken = woken || control != Control::none;
    return 0;
}

static LRESULT CALLBACK take_message(HWND to, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == controlmessage && controlmessage != 0) {
        return take_request(wparam, lparam);
    }
#ifdef GLIDE_WINDOWED
    if (take_icon_message(message, wparam, lparam)) {
        return 0;
    }
#endif
    switch (message) {
    case WM_HOTKEY:
        ask_toggle();
        return 0;
    case WM_INPUT:  // a mouse moved; DefWindowProc still has to free it
        // The message carries the input's handle in lparam, as Windows has it.
        take_raw_input(reinterpret_cast<HRAWINPUT>(lparam));  // NOLINT(performance-no-int-to-ptr)
        woken = true;
        break;
    case WM_DISPLAYCHANGE:
        take_display();
        woken = true;
        break;
    case WM_CLOSE:  // taskkill /im glide.exe
        end_glide(0);
    case WM_ENDSESSION:
        if (wparam != FALSE) {
            end_glide(0);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(to, message, wparam, lparam);
}

// Has every mouse's movements sent to glide's window, in the background
// too, or no longer (paused, glide need not wake for them): raw input,
// which another program's SetCursorPos does not send, as a warp sends
// nothing on X11.
static void listen_to_mice(bool listening)
{
    RAWINPUTDEVICE mouse{};
    mouse.usUsagePage = 1;  // generic desktop controls
    mouse.usUsage = 2;      // mouse
    mouse.dwFlags = listening ? RIDEV_INPUTSINK : RIDEV_REMOVE;
    mouse.hwndTarget = listening ? window : nullptr;
    if (window != nullptr) {
        RegisterRawInputDevices(&mouse, 1, sizeof mouse);
    }
}

// The message glide's window is asked with: one number for every program
// that registers it.
static void register_control_message()
{
    controlmessage = RegisterWindowMessageW(L"glide-control");
}

// The window of the glide that runs in this session, if one does.
static HWND find_glide()
{
    register_control_message();
    return FindWindowW(L"glide", L"glide");
}

// Makes a window of glide's own, never shown, for raw input, display
// changes, requests and WM_CLOSE to come to (a message-only window would
// miss the broadcasts, and could not be found).
static void make_window()
{
    register_control_message();
    WNDCLASSW type{};
    type.lpfnWndProc = take_message;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"glide";
    RegisterClassW(&type);
    window = CreateWindowExW(0, L"glide", L"glide", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             type.hInstance, nullptr);
    listen_to_mice(true);
    hotkeytaken = RegisterHotKey(window, hotkey, MOD_WIN | MOD_SHIFT | MOD_NOREPEAT, 'G') == FALSE;
    if (hotkeytaken) {
        // Said once; glidew.exe's tooltip says it too.
        std::fputs(
            "glide: Win+Shift+G is taken by another program: glide --toggle pauses and "
            "resumes glide\n",
            stderr);
    }
#ifdef GLIDE_WINDOWED
    show_icon(window, State::active, "", hotkeytaken);
#endif
}

// Handles the messages that have come, without waiting. Returns whether any
// of them should wake glide at rest.
static bool take_messages()
{
    woken = false;
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        DispatchMessageW(&message);
    }
    return woken;
}

// Asks glide's window, and waits five seconds at most for the answer.
// Returns what is to be said: nothing, or why it was not taken in.
static const char *ask(HWND glide, long code)
{
    HWND asker =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (asker == nullptr || PostMessageW(glide, controlmessage, static_cast<WPARAM>(code),
                                         reinterpret_cast<LPARAM>(asker)) == FALSE) {
        return glidesilent;
    }
    const ULONGLONG deadline = GetTickCount64() + 5000;
    for (;;) {
        MSG answer{};
        if (PeekMessageW(&answer, asker, controlmessage, controlmessage, PM_REMOVE) != FALSE) {
            return answer.wParam == 0 ? "" : glidebusy;
        }
        if (IsWindow(glide) == FALSE) {
            return noglide;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return glidesilent;
        }
        // Looked at again at least every tenth of a second, for a glide that ends.
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)),
                                  QS_POSTMESSAGE);
    }
}

// Whether glide looks at the foreground window for the hand's move: at the
// start of a flick, and aside under Wine, whose hooks are silent, at every
// move.
static bool looks_by_hand()
{
    return handsincelook && ((shownstate == State::aside && wine) ||
                             (shownstate == State::active && platform_clock() - lookedat >= 250));
}

// Whether news waits for the loop: a request, a change of the focus or of
// the settings file. Every wait ends for it.
static bool news_waiting()
{
    return request_kept(requests) || settings_change_waiting() || focusnews.changed ||
           choices.count > 0 || focus_told() || looks_by_hand();
}

// Sleeps until a message comes, the settings file's folder changes, or for
// the given milliseconds (INFINITE: no end). Returns false when the time ran
// out.
static bool wait_for_message(DWORD ms)
{
    HANDLE watch = settings_watch_handle();
    const DWORD handles = watch != INVALID_HANDLE_VALUE ? 1 : 0;
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(handles, &watch, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (handles == 1 && woke == WAIT_OBJECT_0) {
        take_settings_change();
    }
    return woke != WAIT_TIMEOUT;
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
#ifdef GLIDE_WINDOWED
        // Started again (from the Start menu, say): the glide that runs
        // goes on, and resumes if it was paused.
        if (HWND glide = find_glide(); glide != nullptr) {
            ask(glide, request_code(Control::resume));
        }
#endif
        return 3;
    }
    LARGE_INTEGER rate{};
    QueryPerformanceFrequency(&rate);  // never fails from Windows XP on
    frequency = rate.QuadPart;
    startcount = read_counter();
    timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                   TIMER_ALL_ACCESS);
    make_window();
    take_display();
    follow_focus();
    watch_settings_file();
    wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (wine) {
        // For a tenth of a second after any program's SetCursorPos, Wine
        // answers GetCursorPos from its server, which does not see the
        // pointer moved since: a glide started just after another has ended
        // would start from where that one left it. Waited out, the first
        // reading is the X server's.
        Sleep(120);
    }
    return platform_ready;
}

void platform_screen_size(int32_t *width, int32_t *height)
{
    // Messages are handled between ticks: a change of the display is taken
    // in, and WM_CLOSE is answered while the cursor glides.
    if (!nothingcame) {
        take_messages();
    }
    nothingcame = false;
    *width = screenwidth;
    *height = screenheight;
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
    if (!monitorschanged) {
        return;
    }
    monitorschanged = false;
    clear_monitors();
    if (EnumDisplayMonitors(nullptr, nullptr, add_listed_monitor, 0) == FALSE ||
        GetSystemMetrics(SM_CMONITORS) == 0) {
        // Listed none: the virtual screen stands in for them.
        clear_monitors();
        const int64_t left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int64_t top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        add_monitor({left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                     top + GetSystemMetrics(SM_CYVIRTUALSCREEN)});
    }
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    POINT point{};
    // Fails while the secure desktop or the lock screen is shown.
    if (GetCursorPos(&point) == FALSE) {
        return false;
    }
    lastread = point;
    *x = point.x;
    *y = point.y;
    return true;
}

void platform_set_cursor(int32_t x, int32_t y)
{
    if (wine) {
        SetCursorPos(lastread.x, lastread.y);
    }
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
    const int64_t due = counter_at(clock);
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

void platform_wait_for_input(int64_t clock)
{
    const int64_t due = counter_at(clock);
    // The tick has just handled every message: one in the queue now is new.
    // Not looked for before the wait, which would cost Wine a request more.
    for (;;) {
        const int64_t left = due - read_counter();
        if (left <= 0) {
            return;
        }
        // Rounded up, so that the deadline is not woken for early.
        const auto ms = static_cast<DWORD>(std::min<int64_t>(scale_up(left, 1000), 1000000));
        if (!wait_for_message(ms)) {
            nothingcame = true;
            return;
        }
        if (take_messages() || news_waiting()) {
            return;
        }
    }
}

HandNews platform_take_hand()
{
    // Raw input carries no times worth the name (GetMessageTime counts in
    // the system timer's steps of 15.6 ms): the read's stands for them. A
    // button held as the mice move, as in a drag, counts as pressed; asked
    // only then, as under Wine each question is a request to its server.
    const bool held = handreports > 0 && ((GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0 ||
                                          (GetAsyncKeyState(VK_RBUTTON) & 0x8000) != 0 ||
                                          (GetAsyncKeyState(VK_MBUTTON) & 0x8000) != 0);
    const HandNews news{handreports, platform_clock(), false, handpressed || held};
    handreports = 0;
    handpressed = false;
    return news;
}

bool platform_hears_hand()
{
    // Wine delivers raw input only in a virtual desktop: it hears the hand
    // once the first motion has come.
    return !wine || heardhand;
}

void platform_write_line(const char *line)
{
    // Flushed at once: a pipe would otherwise hold a hundred lines, lost when
    // the process is ended, which is the only way it ends.
    std::fputs(line, stdout);
    std::fflush(stdout);
}

Control platform_take_control()
{
    take_messages();
    return take_request(requests);
}

void platform_show_state(State state, const char *program)
{
    const bool paused = state == State::paused;
    answer_taken(requests, [paused](HWND asker) {
        if (asker != nullptr) {
            PostMessageW(asker, controlmessage, 0, paused ? 1 : 0);
        }
    });
    // Aside, Windows tells of the focus's changes; Wine does not, and glide
    // asks at each move of the hand.
    const auto listening = [](State shown) {
        return shown == State::active || (shown == State::aside && wine);
    };
    if (listening(state) != listening(shownstate)) {
        listen_to_mice(listening(state));
    }
    shownstate = state;
    std::snprintf(shownprogram.data(), shownprogram.size(), "%s", program);
#ifdef GLIDE_WINDOWED
    show_icon(window, state, program, hotkeytaken);
#endif
}

void platform_wait_for_news()
{
    // With the mice not listened to, only news, a change of the display or
    // WM_CLOSE wakes glide.
    for (take_messages(); !news_waiting(); take_messages()) {
        wait_for_message(INFINITE);
    }
}

bool platform_take_focus(Focus *focus)
{
    if (focus_told() || looks_by_hand()) {
        handsincelook = false;
        lookedat = platform_clock();
        note_focus(focusnews, look_at_focus());
    }
    return take_focus(focusnews, focus);
}

std::filesystem::path platform_settings_file()
{
    return settings_file();
}

bool platform_settings_changed()
{
    if (settings_watch_handle() != INVALID_HANDLE_VALUE &&
        WaitForSingleObject(settings_watch_handle(), 0) == WAIT_OBJECT_0) {
        take_settings_change();
    }
    return take_settings_news();
}

bool platform_write_settings(std::string_view text, std::string &why)
{
    return write_settings_file(text, why);
}

void platform_warn(const char *text)
{
#ifdef GLIDE_WINDOWED
    if (!has_stream(STD_ERROR_HANDLE)) {
        show_balloon(text);  // a box would stop glide until it was closed
        return;
    }
#endif
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void platform_show_menu(const Menu &menu)
{
#ifdef GLIDE_WINDOWED
    show_icon_menu(menu);
#else
    static_cast<void>(menu);  // glide.exe has no menu
#endif
}

Chosen platform_take_choice()
{
    return take_choice(choices);
}

// The program that has the focus, as the glide asked sends it.
static Focus toldprogram;

static LRESULT CALLBACK take_program(HWND to, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        // The message carries the data's description in lparam.
        const auto *data =
            reinterpret_cast<const COPYDATASTRUCT *>(lparam);  // NOLINT(performance-no-int-to-ptr)
        if (data->dwData == 1) {
            name_focus(&toldprogram, 0,
                       std::string_view(static_cast<const char *>(data->lpData), data->cbData));
        }
        return TRUE;
    }
    return DefWindowProcW(to, message, wparam, lparam);
}

// Asks the glide's window what it does, and which program has the focus,
// which it sends to a window of the command line's while it is asked.
// Returns what is to be said: nothing, or why it was not taken in.
static const char *ask_state(HWND glide, StatusText *out)
{
    WNDCLASSW type{};
    type.lpfnWndProc = take_program;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"glide-status";
    RegisterClassW(&type);
    HWND asker = CreateWindowExW(0, L"glide-status", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 type.hInstance, nullptr);
    DWORD_PTR state = 0;
    if (SendMessageTimeoutW(glide, controlmessage, 4, reinterpret_cast<LPARAM>(asker),
                            SMTO_ABORTIFHUNG, 5000, &state) == 0 ||
        state < 1 || state > 3) {
        return IsWindow(glide) != FALSE ? glidesilent : noglide;
    }
    *out = status_text(state_name(state == 2   ? State::paused
                                  : state == 3 ? State::aside
                                               : State::active),
                       toldprogram.names[0].data());
    return "";
}

int platform_send_control(Control control)
{
    HWND glide = find_glide();
    StatusText out{};
    const char *err = "";
    if (glide == nullptr) {
        err = noglide;
    } else if (control != Control::status) {
        err = ask(glide, request_code(control));
    } else {
        err = ask_state(glide, &out);
    }
    platform_tell(out.data(), err);
    return *err == '\0' ? 0 : 1;
}
