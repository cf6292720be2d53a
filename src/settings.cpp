#include "settings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "commandline.h"
#include "state.h"

namespace {

// The settings in force, the text they were read from, and what was last
// said of the file: said again only once something else has been, as an
// editor's one save makes several changes; and the same text, glide's own
// write among it, is not taken in twice.
Settings inforce;
std::string loaded;
std::string loadedsaid;
std::string said;

// The frictions of a short, a medium and a long glide, by default and
// under --throw.
constexpr std::array<std::array<const char *, 3>, 2> glides{
    {{"2", "1.4", "1.1"}, {"1.1", "1.05", "1.03"}}};

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

// A line of a settings file that is not blank or a comment: where its
// content is in the text, its number, and where its "=" is in it, if
// anywhere.
struct Line {
    std::string_view content;
    size_t at;
    size_t number;
    size_t equals;

    [[nodiscard]] std::string_view key() const { return trim(content.substr(0, equals)); }
    [[nodiscard]] std::string_view value() const { return trim(content.substr(equals + 1)); }
};

// Calls take(line) for each line that is not blank or a comment.
template <typename Take>
void for_each_line(std::string_view text, Take take)
{
    size_t number = 0;
    // Notepad may have begun it with a byte-order mark.
    for (size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view content = text.substr(at, end - at);
        ++number;
        if (content.ends_with('\r')) {
            content.remove_suffix(1);
        }
        const size_t first = content.find_first_not_of(" \t");
        content = trim(content);
        if (!content.empty() && content.front() != '#') {
            take(Line{content, at + first, number, content.find('=')});
        }
        at = end + 1;
    }
}

// Whether two names are the same but for the case of their ASCII letters.
bool same_name(std::string_view a, std::string_view b);

// Whether the program goes by the name, as its first two names match.
bool names(const Focus &program, std::string_view name)
{
    return same_name(program.names[0].data(), name) || same_name(program.names[1].data(), name);
}

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
    for_each_line(text, [&](const Line &line) {
        if (line.equals == std::string_view::npos) {
            say_line(err, file, line.number, "", line.content,
                     " is no setting: a setting is key = value");
        } else {
            take_setting(line.key(), line.value(), into, err, file, line.number);
        }
    });
    return true;
}

void load_settings()
{
    const std::filesystem::path path = platform_settings_file();
    std::string err;
    if (path.empty()) {
        apply(Settings{});
        loaded.clear();
        loadedsaid.clear();
    } else {
        const std::string name = name_of(path);
        std::string text;
        Settings read;
        switch (read_file(path, name, &text, err)) {
        case Read::missing:
            apply(Settings{});
            loaded.clear();
            loadedsaid.clear();
            break;
        case Read::text:
            if (text == loaded) {
                said = loadedsaid;  // as it was: nothing new to apply or say
                return;
            }
            if (parse_settings(text, name, &read, err)) {
                apply(read);
                loaded = text;
                loadedsaid = err;
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
    return (focus.fullscreen && settings.fullscreen) ||
           std::any_of(settings.asidefor.begin(), settings.asidefor.end(),
                       [&](const std::string &name) { return names(focus, name); });
}

std::string edit_setting(std::string_view text, std::string_view key, std::string_view value)
{
    // The line in force: the last of the key's that is a setting.
    std::optional<Line> found;
    for_each_line(text, [&](const Line &line) {
        Settings scratch;
        std::string err;
        if (line.equals != std::string_view::npos && line.key() == key) {
            take_setting(line.key(), line.value(), &scratch, err, "", 0);
            found = err.empty() ? line : found;
        }
    });
    std::string edited(text);
    if (found) {
        // The value, which ends the line's content, replaced; all else on
        // the line as it was, and a space after an "=" that had none.
        const std::string_view old = found->value();
        const size_t to = found->at + found->content.size();
        std::string replacement(old.empty() ? " " : "");
        edited.replace(to - old.size(), old.size(), replacement.append(value));
        return edited;
    }
    // Added at the end, on a line of its own, ended as the file's lines are.
    const std::string end = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    if (!edited.empty() && edited.back() != '\n') {
        edited += end;
    }
    return edited.append(key).append(" = ").append(value).append(end);
}

Menu settings_menu(const Focus &program)
{
    Menu menu;
    menu.program = program;
    menu.listed = std::any_of(inforce.asidefor.begin(), inforce.asidefor.end(),
                              [&](const std::string &name) { return names(program, name); });
    menu.fullscreen = inforce.fullscreen;
    const auto &lengths = glides.at(throwing ? 1 : 0);
    menu.glide = -1;
    for (size_t i = 0; i < lengths.size(); ++i) {
        float length = 0.0f;
        parse_friction(lengths.at(i), &length);
        menu.glide = length == friction ? static_cast<int>(i) : menu.glide;
    }
    menu.fixed = frictiongiven;
    menu.friction = friction;
    return menu;
}

void choose(const Chosen &chosen, const Focus &program)
{
    const std::filesystem::path path = platform_settings_file();
    const std::string name = name_of(path);
    std::string text;
    std::string err;
    Settings now;
    const Read read = path.empty() ? Read::failed : read_file(path, name, &text, err);
    if (read == Read::failed || !parse_settings(text, name, &now, err)) {
        platform_warn(path.empty() ? "glide: there is no folder for glide's settings\n"
                                   : err.c_str());
        return;
    }
    std::string edited;
    switch (chosen.choice) {
    case Choice::listed: {
        // Listed, it goes, under whichever of its names; or it comes, by the
        // one glide --status prints.
        Focus named = program;
        if (std::string_view(chosen.program.data()) != program.names[0].data()) {
            named = Focus{};
            name_focus(&named, 0, chosen.program.data());
        }
        std::vector<std::string> &list = now.asidefor;
        const auto kept = std::remove_if(list.begin(), list.end(),
                                         [&](const std::string &n) { return names(named, n); });
        const bool listed = kept != list.end();
        list.erase(kept, list.end());
        if (!listed) {
            list.emplace_back(named.names[0].data());
        }
        std::string value;
        for (const std::string &n : list) {
            value.append(value.empty() ? "" : ", ").append(n);
        }
        edited = edit_setting(text, "aside-for", value);
        break;
    }
    case Choice::fullscreen:
        edited = edit_setting(text, "full-screen", now.fullscreen ? "glide" : "aside");
        break;
    case Choice::shortglide:
    case Choice::mediumglide:
    case Choice::longglide:
        edited = edit_setting(
            text, "friction",
            glides.at(throwing ? 1 : 0)
                .at(static_cast<size_t>(chosen.choice) - static_cast<size_t>(Choice::shortglide)));
        break;
    case Choice::none:
        return;
    }
    std::string why;
    if (!platform_write_settings(edited, why)) {
        platform_warn(("glide: " + name + ": cannot write it: " + why + "\n").c_str());
        return;
    }
    // In force at once; the watch's word of the write finds nothing new.
    std::string again;
    parse_settings(edited, name, &now, again);
    apply(now);
    loaded = edited;
    loadedsaid = again;
    said = again;
}
