// glidew.exe's icon in the notification area, and its menu.
#include "win32_tray.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <cstdio>
#include <cwchar>
#include <iterator>

#include "win32.h"

namespace {

// glide's window, which the icon's messages come to: iconmessage, and the
// one Explorer broadcasts when it starts again; the timer that tries again
// while the notification area is not up yet (at sign-in); and whether the
// icon is there.
HWND owner;
constexpr UINT iconmessage = WM_APP + 1;
UINT taskbarcreated;
constexpr UINT_PTR retrytimer = 1;
bool iconshown;

// What the icon shows: what glide does, for which program, whether
// Win+Shift+G is another program's; and what the menu shows of the
// settings.
State shownstate;
std::array<wchar_t, namesize> shownprogram;
bool hotkeyother;
Menu shownmenu;

// The value that starts glide at sign-in, as the installer writes it.
const wchar_t *const runkey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The menu's entries.
enum Entry : UINT {
    toggleid = 1,
    notinid,
    fullscreenid,
    shortid,
    mediumid,
    longid,
    signinid,
    quitid
};

std::array<wchar_t, namesize> wide(const char *text)
{
    std::array<wchar_t, namesize> made{};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, made.data(), static_cast<int>(made.size()) - 1);
    return made;
}

// The icon's entry in the notification area, as shown now.
NOTIFYICONDATAW icon_data()
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    data.uCallbackMessage = iconmessage;
    // Resources 1 and 2: the icon, active and paused, at the size the
    // notification area shows.
    data.hIcon = static_cast<HICON>(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(shownstate == State::paused ? 2 : 1),
        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    const bool aside = shownstate == State::aside;
    std::swprintf(data.szTip, std::size(data.szTip), L"%ls%.48ls%ls%ls",
                  shownstate == State::paused ? L"glide: paused. Click to resume"
                  : aside                     ? L"glide: aside for "
                                              : L"glide. Click to pause",
                  aside ? shownprogram.data() : L"", aside ? L". Click to pause" : L"",
                  hotkeyother ? L" (Win+Shift+G is another program's)" : L"");
    return data;
}

// Puts the icon there, or shows it as it is now; while the notification
// area is not up yet, tries again every two seconds.
void show_icon()
{
    NOTIFYICONDATAW data = icon_data();
    if (iconshown) {
        Shell_NotifyIconW(NIM_MODIFY, &data);
        return;
    }
    iconshown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (iconshown) {
        data.uVersion = NOTIFYICON_VERSION_4;
        Shell_NotifyIconW(NIM_SETVERSION, &data);
        KillTimer(owner, retrytimer);
    } else {
        SetTimer(owner, retrytimer, 2000, nullptr);
    }
}

// Whether glide starts at sign-in: the Run value is there.
bool starts_at_signin()
{
    return RegGetValueW(HKEY_CURRENT_USER, runkey, L"glide", RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

// Starts glide at sign-in, as the installer has it, this glidew.exe with
// --throw; or no longer.
void start_at_signin(bool starts)
{
    if (!starts) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, runkey, L"glide");
        return;
    }
    std::array<wchar_t, MAX_PATH + 1> program{};
    const DWORD length = GetModuleFileNameW(nullptr, program.data(), MAX_PATH + 1);
    std::array<wchar_t, MAX_PATH + 16> command{};
    if (length > 0 && length <= MAX_PATH) {
        std::swprintf(command.data(), command.size(), L"\"%ls\" --throw", program.data());
        RegSetKeyValueW(HKEY_CURRENT_USER, runkey, L"glide", REG_SZ, command.data(),
                        static_cast<DWORD>((std::wcslen(command.data()) + 1) * sizeof(wchar_t)));
    }
}

// The menu, where it was asked for; acts on what was chosen.
void show_menu(int x, int y)
{
    const Menu &m = shownmenu;
    HMENU menu = CreatePopupMenu();
    const auto checked = [](bool on) {
        return static_cast<UINT>(MF_STRING | (on ? MF_CHECKED : 0));
    };
    AppendMenuW(menu, MF_STRING, toggleid, shownstate == State::paused ? L"Resume" : L"Pause");
    if (m.program.names[0][0] != '\0') {
        // An ampersand in a menu marks its access key: doubled, it is one.
        std::array<wchar_t, 2 * namesize + 8> label{L"Not in "};
        size_t at = std::wcslen(label.data());
        const std::array<wchar_t, namesize> name = wide(m.program.names[friendliest].data());
        for (const wchar_t *p = name.data(); *p != L'\0' && at + 2 < label.size(); ++p) {
            label.at(at++) = *p;
            if (*p == L'&') {
                label.at(at++) = L'&';
            }
        }
        AppendMenuW(menu, checked(m.listed), notinid, label.data());
    }
    AppendMenuW(menu, checked(m.fullscreen), fullscreenid, L"Step aside in full screen");
    HMENU glides = CreatePopupMenu();
    for (const auto &[id, text] : {std::pair{shortid, L"Short"}, std::pair{mediumid, L"Medium"},
                                   std::pair{longid, L"Long"}}) {
        AppendMenuW(glides, static_cast<UINT>(MF_STRING | (m.fixed ? MF_GRAYED : 0)), id, text);
    }
    if (m.glide >= 0) {
        CheckMenuRadioItem(glides, shortid, longid, shortid + static_cast<UINT>(m.glide),
                           MF_BYCOMMAND);
    }
    std::array<wchar_t, 64> glide{L"Glide"};
    if (m.fixed) {
        std::swprintf(glide.data(), glide.size(), L"Glide: friction %g, from the command line",
                      static_cast<double>(m.friction));
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(glides), glide.data());
    const bool starts = starts_at_signin();
    AppendMenuW(menu, checked(starts), signinid, L"Start at sign-in");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, quitid, L"Quit");
    // As the documentation says: in the foreground, or the menu would not
    // go away when the user clicks elsewhere; and a message after it.
    SetForegroundWindow(owner);
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    const auto chosen = static_cast<UINT>(TrackPopupMenuEx(
        menu, align | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, x, y, owner,
        nullptr));
    PostMessageW(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);  // and the submenu with it
    switch (chosen) {
    case toggleid:
        ask_toggle();
        break;
    case notinid:
        ask_choice({Choice::listed, m.program.names[0]});
        break;
    case fullscreenid:
        ask_choice({Choice::fullscreen, {}});
        break;
    case shortid:
    case mediumid:
    case longid:
        ask_choice(
            {static_cast<Choice>(static_cast<UINT>(Choice::shortglide) + chosen - shortid), {}});
        break;
    case signinid:
        start_at_signin(!starts);
        break;
    case quitid:
        end_glide(0);
    default:
        break;
    }
}

}  // namespace

void show_icon(HWND window, State state, const char *program, bool hotkeytaken)
{
    if (owner == nullptr) {
        owner = window;
        taskbarcreated = RegisterWindowMessageW(L"TaskbarCreated");
    }
    shownstate = state;
    shownprogram = wide(program);
    hotkeyother = hotkeytaken;
    show_icon();
}

void remove_icon()
{
    if (iconshown) {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = owner;
        data.uID = 1;
        Shell_NotifyIconW(NIM_DELETE, &data);
        iconshown = false;
    }
}

void show_balloon(const char *text)
{
    NOTIFYICONDATAW data = icon_data();
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_WARNING;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, data.szInfo,
                        static_cast<int>(std::size(data.szInfo)) - 1);
    std::swprintf(data.szInfoTitle, std::size(data.szInfoTitle), L"glide");
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void show_icon_menu(const Menu &menu)
{
    shownmenu = menu;
}

bool take_icon_message(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == taskbarcreated && taskbarcreated != 0) {
        iconshown = false;  // Explorer started again: the icon went with it
        show_icon();
        return true;
    }
    if (message == WM_TIMER) {
        show_icon();  // the notification area may be up by now
        return true;
    }
    if (message != iconmessage) {
        return false;
    }
    // In the form of NOTIFYICON_VERSION_4: a click (or the keyboard's
    // choice) pauses or resumes, and the context menu opens.
    switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
        ask_toggle();
        break;
    case WM_CONTEXTMENU:
        show_menu(static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam)));
        break;
    default:
        break;
    }
    return true;
}
