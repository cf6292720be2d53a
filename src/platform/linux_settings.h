// glide's settings file on Linux (linux_settings.cpp): where it is, an
// inotify watch on its folder, and its writing.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Finds the file, $XDG_CONFIG_HOME/glide/glide.conf or without an absolute
// XDG_CONFIG_HOME ~/.config/glide/glide.conf, and watches its folder for it
// to be written, replaced, created or deleted; while the folder is
// missing, the nearest folder above it that is there, for it to come.
void watch_settings_file();
std::filesystem::path settings_file();

// The watch's descriptor, for the waits to poll (-1: none); what takes in
// what it has seen, without waiting; and whether the file may have changed
// since that was last taken, as news waits for the loop, or taken.
int settings_watch_descriptor();
void take_settings_events();
bool settings_change_waiting();
bool take_settings_change();

// Writes the file anew as platform_write_settings() says.
bool write_settings_file(std::string_view text, std::string &why);
