// For the tests alone: a window of a program of the tests' own,
// glide-test-window.exe, in the foreground, which covers its monitor or
// not. "glide-test-window full" (or "window") opens it so, or makes the one
// already open so; "glide-test-window quit" closes it.
#include <windows.h>

#include <cstring>

namespace {

constexpr UINT command = WM_APP + 1;  // wparam: 1 full screen, 2 a window, 3 quit

void place(HWND window, WPARAM how)
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT &r = monitor.rcMonitor;
    if (how == 1) {
        SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_SHOWWINDOW);
    } else {
        SetWindowPos(window, HWND_TOP, r.left + 100, r.top + 100, 300, 200, SWP_SHOWWINDOW);
    }
    SetForegroundWindow(window);
}

LRESULT CALLBACK take_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == command) {
        if (wparam == 3) {
            DestroyWindow(window);
        } else {
            place(window, wparam);
        }
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR line, int /*show*/)
{
    const WPARAM how = std::strstr(line, "quit") != nullptr   ? 3
                       : std::strstr(line, "full") != nullptr ? 1
                                                              : 2;
    if (HWND open = FindWindowW(L"glide-test-window", nullptr); open != nullptr) {
        // As the one open asks it: a program in the foreground may give it.
        AllowSetForegroundWindow(ASFW_ANY);
        SendMessageW(open, command, how, 0);
        return 0;
    }
    if (how == 3) {
        return 0;
    }
    WNDCLASSW type{};
    type.lpfnWndProc = take_message;
    type.hInstance = instance;
    type.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    type.lpszClassName = L"glide-test-window";
    RegisterClassW(&type);
    HWND window = CreateWindowExW(0, L"glide-test-window", L"glide's test window", WS_POPUP, 0, 0,
                                  1, 1, nullptr, nullptr, instance, nullptr);
    place(window, how);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
