#include "linux_settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace {

// The settings file, and an inotify watch on its folder; while the folder
// is missing, on the nearest folder above it that is there, for it to come.
// Set when the file may have changed since the loop last asked.
std::filesystem::path settingsfile;
int settingswatch = -1;
int watched = -1;
std::filesystem::path watchedfolder;
bool settingschanged;

// The settings file: $XDG_CONFIG_HOME/glide/glide.conf, or without an
// absolute XDG_CONFIG_HOME, ~/.config/glide/glide.conf.
std::filesystem::path find_settings_file()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "glide" / "glide.conf";
    }
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd *user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') {
        return {};
    }
    return std::filesystem::path(home) / ".config" / "glide" / "glide.conf";
}

// Watches the settings file's folder for the file to be written, replaced,
// created or deleted; while the folder is missing, the nearest folder above
// it for a folder to come. Watched elsewhere before, forgets that.
void watch_settings()
{
    if (watched >= 0) {
        inotify_rm_watch(settingswatch, watched);  // fails for a folder gone: no matter
    }
    watched = -1;
    const std::filesystem::path own = settingsfile.parent_path();
    for (std::filesystem::path folder = own; !folder.empty();) {
        const uint32_t events = folder == own ? IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                                    IN_CREATE | IN_DELETE | IN_ATTRIB
                                              : IN_CREATE | IN_MOVED_TO;
        watched = inotify_add_watch(settingswatch, folder.c_str(),
                                    events | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (watched >= 0 || (errno != ENOENT && errno != ENOTDIR) || folder == folder.root_path()) {
            watchedfolder = folder;
            return;
        }
        folder = folder.parent_path();
    }
}

// Makes the folder and those above it that are missing, for the user alone.
bool make_folders(const std::filesystem::path &folder)
{
    std::filesystem::path made;
    for (const std::filesystem::path &part : folder) {
        made /= part;
        if (mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

void watch_settings_file()
{
    settingsfile = find_settings_file();
    settingswatch = settingsfile.empty() ? -1 : inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (settingswatch >= 0) {
        watch_settings();
    }
}

std::filesystem::path settings_file()
{
    return settingsfile;
}

int settings_watch_descriptor()
{
    return settingswatch;
}

void take_settings_events()
{
    if (settingswatch < 0) {
        return;
    }
    alignas(inotify_event) std::array<char, 4096> events{};
    for (;;) {
        const ssize_t got = read(settingswatch, events.data(), events.size());
        if (got <= 0) {
            return;
        }
        const bool own = watchedfolder == settingsfile.parent_path();
        bool rewatch = false;
        for (ssize_t at = 0; at < got;) {
            inotify_event event{};
            std::memcpy(&event, events.data() + at, sizeof event);
            const std::string_view name =
                event.len > 0 ? std::string_view(events.data() + at + sizeof event) : "";
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.wd != watched && (event.mask & IN_Q_OVERFLOW) == 0) {
                continue;  // of a watch given up, as its last word says
            }
            if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) != 0) {
                rewatch = true;  // the folder went, or what it saw was lost
            } else if (own ? name == settingsfile.filename().native()
                           : settingsfile.native().starts_with((watchedfolder / name).native() +
                                                               "/")) {
                rewatch = !own;  // a folder on the way to it came
                settingschanged = true;
            }
        }
        if (rewatch) {
            watch_settings();
            settingschanged = true;
        }
    }
}

bool settings_change_waiting()
{
    return settingschanged;
}

bool take_settings_change()
{
    return std::exchange(settingschanged, false);
}

bool write_settings_file(std::string_view text, std::string &why)
{
    // Through a link, to the file it names, as dotfiles often are.
    std::error_code error;
    const std::filesystem::path file = std::filesystem::is_symlink(settingsfile, error)
                                           ? std::filesystem::weakly_canonical(settingsfile, error)
                                           : settingsfile;
    if (file.empty()) {
        why = "there is no folder for it";
        return false;
    }
    std::string temporary = (file.parent_path() / ".glide.conf.XXXXXX").string();
    const int fd = make_folders(file.parent_path()) ? mkostemp(temporary.data(), O_CLOEXEC) : -1;
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat old {};
    if (stat(file.c_str(), &old) == 0) {
        fchmod(fd, old.st_mode & 07777);  // as the file was
    }
    bool written = true;
    for (size_t at = 0; written && at < text.size();) {
        const ssize_t wrote = write(fd, text.data() + at, text.size() - at);
        written = wrote > 0 || (wrote < 0 && errno == EINTR);
        at += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    // On the disk before it takes the old one's place: never half of each.
    written = written && fsync(fd) == 0;
    int failed = errno;
    written = close(fd) == 0 && written;
    failed = written ? 0 : failed;
    written = written && rename(temporary.c_str(), file.c_str()) == 0;
    if (!written) {
        why = std::strerror(failed != 0 ? failed : errno);
        unlink(temporary.c_str());
    }
    return written;
}
