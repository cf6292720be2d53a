// glide's settings file on Windows (win32_settings.cpp): where it is, a
// change notification on its folder, and its writing.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

// Finds the file, %APPDATA%\glide\glide.conf, and watches its folder for
// its files to change; while the folder is missing, the nearest folder
// above it that is there, for folders to come.
void watch_settings_file();
std::filesystem::path settings_file();

// The watch's handle, for the waits (INVALID_HANDLE_VALUE: none); what
// takes in that it was signalled; and whether the file may have changed
// since that was last taken, as news waits for the loop, or taken.
HANDLE settings_watch_handle();
void take_settings_change();
bool settings_change_waiting();
bool take_settings_news();

// Writes the file anew as platform_write_settings() says.
bool write_settings_file(std::string_view text, std::string &why);
