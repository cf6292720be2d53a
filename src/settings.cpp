#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "commandline.h"
#include "state.h"

namespace {

// The settings in force, and what was last said of the file: said again
// only once something else has been, as an editor's one save makes several
// changes.
Settings inforce;
std::string said;

std::string_view trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether the text is UTF-8 with no NUL: what a settings file is made of.
bool utf8_text(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t more = 0;
        unsigned least = 0;  // the smallest code point its length may carry
        unsigned point = 0;
        if (lead == 0) {
            return false;
        }
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            more = 1;
            least = 0x80;
            point = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2;
            least = 0x800;
            point = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3;
            least = 0x10000;
            point = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i <= more) {
            return false;
        }
        for (size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

// Appends "glide: FILE:LINE: " and what is wrong, quoting the text named.
void say_line(std::string &err, std::string_view file, size_t line, const char *what,
              std::string_view text, const char *why)
{
    err.append("glide: ").append(file).append(":").append(std::to_string(line)).append(": ");
    err.append(what);
    append_quoted(err, std::string(text).c_str());
    err.append(why).append("\n");
}

// Takes one setting into settings, or says what is wrong with it.
void take_setting(std::string_view key, std::string_view value, Settings *into, std::string &err,
                  std::string_view file, size_t line)
{
    const std::string text(value);
    if (key == "friction") {
        if (parse_friction(text.c_str(), &into->friction)) {
            into->hasfriction = true;
        } else {
            say_line(err, file, line, "friction ", value, " is not a number");
        }
    } else if (key == "throw-speed") {
        if (parse_speed(text.c_str(), &into->throwspeed)) {
            into->hasspeed = true;
        } else {
            say_line(err, file, line, "throw speed ", value, " is not a positive number");
        }
    } else if (key == "full-screen") {
        if (value == "aside" || value == "glide") {
            into->fullscreen = value == "aside";
        } else {
            say_line(err, file, line, "full-screen ", value, R"( is neither "aside" nor "glide")");
        }
    } else if (key == "aside-for") {
        into->asidefor.clear();
        for (size_t at = 0; at <= value.size();) {
            const size_t comma = std::min(value.find(',', at), value.size());
            if (const std::string_view name = trim(value.substr(at, comma - at)); !name.empty()) {
                into->asidefor.emplace_back(name);
            }
            at = comma + 1;
        }
    } else {
        say_line(err, file, line, "unknown key ", key, "");
    }
}

// Whether two names are the same but for the case of their ASCII letters.
bool same_name(std::string_view a, std::string_view b)
{
    const auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Opens a file to read, by its name in the system's own encoding.
std::FILE *open_file(const std::filesystem::path &path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

// The file's name as UTF-8, to be said.
std::string name_of(const std::filesystem::path &path)
{
    const std::u8string name = path.u8string();
    return {reinterpret_cast<const char *>(name.data()), name.size()};
}

enum class Read { text, missing, failed };

// Reads the file, at most one byte past the limit; says in err why not.
Read read_file(const std::filesystem::path &path, const std::string &name, std::string *text,
               std::string &err)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        err.append("glide: ").append(name).append(": is a folder, not a settings file\n");
        return Read::failed;
    }
    errno = 0;
    std::FILE *file = open_file(path);
    if (file == nullptr) {
        if (errno == ENOENT) {
            return Read::missing;
        }
        err.append("glide: ").append(name).append(": cannot read it: ");
        err.append(std::strerror(errno)).append("\n");
        return Read::failed;
    }
    text->resize(settingslimit + 1);
    const size_t got = std::fread(text->data(), 1, text->size(), file);
    const bool failed = std::ferror(file) != 0;
    const int why = errno;
    std::fclose(file);
    text->resize(got);
    if (failed) {
        err.append("glide: ").append(name).append(": cannot read it: ");
        err.append(std::strerror(why)).append("\n");
        return Read::failed;
    }
    if (got > settingslimit) {
        err.append("glide: ")
            .append(name)
            .append(": is larger than a settings file (")
            .append(std::to_string(settingslimit))
            .append(" bytes at most)\n");
        return Read::failed;
    }
    return Read::text;
}

// Puts the settings in force, the command line's own still winning.
void apply(const Settings &from)
{
    inforce = from;
    if (!frictiongiven) {
        friction = from.hasfriction ? from.friction : throwing ? throwfriction : defaultfriction;
    }
    if (!speedgiven) {
        throwspeed = from.hasspeed ? from.throwspeed : defaultspeed;
    }
}

}  // namespace

bool parse_settings(std::string_view text, std::string_view file, Settings *into, std::string &err)
{
    if (!utf8_text(text)) {
        err.append("glide: ").append(file).append(": is not a settings file: not UTF-8 text\n");
        return false;
    }
    *into = Settings{};
    // Notepad may have begun it with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    size_t line = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view content = text.substr(at, end - at);
        at = end + 1;
        ++line;
        if (content.ends_with('\r')) {
            content.remove_suffix(1);
        }
        content = trim(content);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        const size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            say_line(err, file, line, "", content, " is no setting: a setting is key = value");
            continue;
        }
        take_setting(trim(content.substr(0, equals)), trim(content.substr(equals + 1)), into, err,
                     file, line);
    }
    return true;
}

void load_settings()
{
    const std::filesystem::path path = platform_settings_file();
    std::string err;
    if (path.empty()) {
        apply(Settings{});
    } else {
        const std::string name = name_of(path);
        std::string text;
        Settings read;
        switch (read_file(path, name, &text, err)) {
        case Read::missing:
            apply(Settings{});
            break;
        case Read::text:
            if (parse_settings(text, name, &read, err)) {
                apply(read);
            }
            break;
        case Read::failed:
            break;
        }
    }
    if (err != said && !err.empty()) {
        platform_warn(err.c_str());
    }
    said = err;
}

const Settings &current_settings()
{
    return inforce;
}

bool steps_aside(const Focus &focus, const Settings &settings)
{
    if (focus.fullscreen && settings.fullscreen) {
        return true;
    }
    return std::any_of(
        settings.asidefor.begin(), settings.asidefor.end(), [&](const std::string &n) {
            return std::any_of(focus.names.begin(), focus.names.end(),
                               [&](const auto &name) { return same_name(n, name.data()); });
        });
}
