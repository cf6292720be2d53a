#include "win32_settings.h"

#include <windows.h>

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

// The settings file's folder, watched for its files to change; while it is
// missing, the nearest folder above it that is there, for folders to come.
// Set when the settings file may have changed since the loop last asked.
std::filesystem::path settingsfile;
std::filesystem::path watchedfolder;
HANDLE settingswatch = INVALID_HANDLE_VALUE;
bool settingschanged;

// Watches the settings file's folder for its files to change; while the
// folder is missing, the nearest folder above it for folders to come.
void watch_settings()
{
    if (settingswatch != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(settingswatch);
        settingswatch = INVALID_HANDLE_VALUE;
    }
    const std::filesystem::path own = settingsfile.parent_path();
    for (std::filesystem::path folder = own; !folder.empty();) {
        settingswatch = FindFirstChangeNotificationW(
            folder.c_str(), FALSE,
            folder == own ? FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES
                          : FILE_NOTIFY_CHANGE_DIR_NAME);
        if (settingswatch != INVALID_HANDLE_VALUE || folder == folder.root_path()) {
            watchedfolder = folder;
            return;
        }
        folder = folder.parent_path();
    }
}

// What Windows says of an error, in a line of its own words.
std::string error_text(DWORD error)
{
    std::array<char, 256> text{};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::string said(text.data(), length);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) {
        said.pop_back();
    }
    return said.empty() ? "error " + std::to_string(error) : said;
}

}  // namespace

void watch_settings_file()
{
    std::array<wchar_t, 32768> appdata{};  // as long as a variable may be
    const DWORD length =
        GetEnvironmentVariableW(L"APPDATA", appdata.data(), static_cast<DWORD>(appdata.size()));
    if (length > 0 && length < appdata.size()) {
        settingsfile = std::filesystem::path(appdata.data()) / L"glide" / L"glide.conf";
        watch_settings();
    }
}

std::filesystem::path settings_file()
{
    return settingsfile;
}

HANDLE settings_watch_handle()
{
    return settingswatch;
}

// Takes in what the folder's watch has seen: a change in the folder, which
// may be the settings file's; a folder above it come, or the folder gone,
// and the watch moves.
void take_settings_change()
{
    settingschanged = true;
    std::error_code error;
    if (watchedfolder != settingsfile.parent_path() ||
        !std::filesystem::is_directory(watchedfolder, error) ||
        FindNextChangeNotification(settingswatch) == FALSE) {
        watch_settings();
    }
}

bool settings_change_waiting()
{
    return settingschanged;
}

bool take_settings_news()
{
    return std::exchange(settingschanged, false);
}

bool write_settings_file(std::string_view text, std::string &why)
{
    if (settingsfile.empty()) {
        why = "there is no folder for it";
        return false;
    }
    const std::filesystem::path folder = settingsfile.parent_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::array<wchar_t, MAX_PATH + 1> temporary{};
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!error && GetTempFileNameW(folder.c_str(), L"gli", 0, temporary.data()) != 0) {
        file = CreateFileW(temporary.data(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    DWORD wrote = 0;
    // On the disk before it takes the old one's place: never half of each.
    bool written =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) != FALSE &&
        wrote == text.size() && FlushFileBuffers(file) != FALSE;
    DWORD failed = written ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        written =
            written && MoveFileExW(temporary.data(), settingsfile.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        failed = written || failed != 0 ? failed : GetLastError();
    }
    if (!written) {
        why = error ? error.message() : error_text(failed);
        if (temporary[0] != L'\0') {
            DeleteFileW(temporary.data());
        }
    }
    return written;
}
