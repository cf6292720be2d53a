// The program that has the focus on Windows: the foreground window's.
#include <windows.h>

#include <array>
#include <cwchar>
#include <string_view>
#include <vector>

#include "win32_focus.h"

namespace {

// Windows's word of a change of the foreground window, and of where the
// window looked at last is: the latter from its own process alone, as the
// cursor's every move is a change of location too.
HWINEVENTHOOK foregroundhook;
HWINEVENTHOOK locationhook;
HWND lookedat;
bool told = true;

void CALLBACK take_event(HWINEVENTHOOK /*hook*/, DWORD event, HWND window, LONG object, LONG child,
                         DWORD /*thread*/, DWORD /*time*/)
{
    if (event == EVENT_SYSTEM_FOREGROUND ||
        (window == lookedat && object == OBJID_WINDOW && child == CHILDID_SELF)) {
        told = true;
    }
}

// Follows where the window is, in case it goes full screen without a change
// of focus, and no longer the one before.
void follow_location(HWND window, DWORD process)
{
    if (locationhook != nullptr) {
        UnhookWinEvent(locationhook);
        locationhook = nullptr;
    }
    if (window != nullptr) {
        locationhook = SetWinEventHook(EVENT_OBJECT_LOCATIONCHANGE, EVENT_OBJECT_LOCATIONCHANGE,
                                       nullptr, take_event, process, 0, WINEVENT_OUTOFCONTEXT);
    }
}

using Path = std::array<wchar_t, 1024>;

// The executable of the given process; empty where Windows will not tell.
Path executable_of(DWORD process)
{
    Path path{};
    HANDLE opened = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (opened != nullptr) {
        auto size = static_cast<DWORD>(path.size());
        if (QueryFullProcessImageNameW(opened, 0, path.data(), &size) == FALSE) {
            path[0] = L'\0';
        }
        CloseHandle(opened);
    }
    return path;
}

std::array<char, namesize> utf8(const wchar_t *text)
{
    std::array<char, namesize> made{};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, made.data(), static_cast<int>(made.size()) - 1,
                        nullptr, nullptr);
    return made;
}

// The executable's description in its version resource ("Krita"), its
// friendliest name; empty where it has none.
std::array<char, namesize> description_of(const wchar_t *executable)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(executable, &ignored);
    std::vector<char> info(size);
    struct Translation {
        WORD language;
        WORD codepage;
    };
    void *found = nullptr;
    UINT length = 0;
    if (size == 0 || GetFileVersionInfoW(executable, 0, size, info.data()) == FALSE ||
        VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &found, &length) == FALSE ||
        length < sizeof(Translation)) {
        return {};
    }
    const auto *translation = static_cast<const Translation *>(found);
    std::array<wchar_t, 64> key{};
    std::swprintf(key.data(), key.size(), L"\\StringFileInfo\\%04x%04x\\FileDescription",
                  translation->language, translation->codepage);
    if (VerQueryValueW(info.data(), key.data(), &found, &length) == FALSE || length == 0) {
        return {};
    }
    return utf8(static_cast<const wchar_t *>(found));
}

bool is_class(HWND window, const wchar_t *name)
{
    std::array<wchar_t, 64> found{};
    return GetClassNameW(window, found.data(), static_cast<int>(found.size())) > 0 &&
           std::wcscmp(found.data(), name) == 0;
}

// The desktop and the taskbar with its notification area, which are no
// program of the user's: Wine puts its desktop window, which covers the
// whole screen, in front, and a clicked icon's own window in its tray.
bool is_shell(HWND window)
{
    return window == GetDesktopWindow() || window == GetShellWindow() ||
           is_class(window, L"Progman") || is_class(window, L"WorkerW") ||
           is_class(window, L"Shell_TrayWnd") || is_class(window, L"Shell_SecondaryTrayWnd") ||
           is_class(window, L"NotifyIconOverflowWindow") ||
           is_class(window, L"__winex11_tray_icon");
}

// Whether the window covers its whole monitor, or the cursor is held in a
// part of the screen.
bool fills_screen(HWND window)
{
    RECT rect{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetWindowRect(window, &rect) != FALSE &&
        GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) != FALSE &&
        rect.left <= monitor.rcMonitor.left && rect.top <= monitor.rcMonitor.top &&
        rect.right >= monitor.rcMonitor.right && rect.bottom >= monitor.rcMonitor.bottom) {
        return true;
    }
    RECT clip{};
    const LONG left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const LONG top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return GetClipCursor(&clip) != FALSE &&
           (clip.left > left || clip.top > top ||
            clip.right < left + GetSystemMetrics(SM_CXVIRTUALSCREEN) ||
            clip.bottom < top + GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

}  // namespace

void follow_focus()
{
    foregroundhook =
        SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, take_event, 0, 0,
                        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

bool focus_told()
{
    return told;
}

Focus look_at_focus()
{
    told = false;
    HWND window = GetForegroundWindow();
    DWORD process = 0;
    if (window != nullptr) {
        GetWindowThreadProcessId(window, &process);
    }
    if (window != lookedat) {
        lookedat = window;
        follow_location(window, process);
    }
    Focus focus;
    // The desktop's own, or glide's menu, took the focus as an icon was
    // clicked: the menus go on naming the program that had it.
    focus.shell = window != nullptr && (process == GetCurrentProcessId() || is_shell(window));
    if (window == nullptr || focus.shell) {
        return focus;
    }
    const Path executable = executable_of(process);
    const wchar_t *file = std::wcsrchr(executable.data(), L'\\');
    const std::array<char, namesize> program = utf8(file != nullptr ? file + 1 : executable.data());
    const std::string_view name = program.data();
    name_focus(&focus, 0, name);
    if (name.size() > 4 && _stricmp(name.data() + name.size() - 4, ".exe") == 0) {
        name_focus(&focus, 1, name.substr(0, name.size() - 4));
    }
    const std::array<char, namesize> description = description_of(executable.data());
    focus.names.at(friendliest) =
        description[0] != '\0' ? description : focus.names[focus.names[1][0] != '\0' ? 1 : 0];
    // Explorer's windows are the shell's too: never full screen.
    focus.fullscreen = _stricmp(name.data(), "explorer.exe") != 0 && fills_screen(window);
    return focus;
}
