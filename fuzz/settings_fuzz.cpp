// Feeds arbitrary bytes to the settings file's parser: it must take every
// line or say, once, on a line of its own that a terminal cannot act on,
// what is wrong with it; and what it takes must be what the file says.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings.h"

namespace {

void require(bool holds, const char *what, size_t size)
{
    if (!holds) {
        std::fprintf(stderr, "%s, for a settings file of %zu bytes\n", what, size);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Settings settings;
    settings.asidefor = {"kept"};
    std::string err;
    if (!parse_settings(text, "F", &settings, err)) {
        require(err == "glide: F: is not a settings file: not UTF-8 text\n",
                "a file refused with another word", size);
        require(settings.asidefor.size() == 1, "a refused file changed the settings", size);
        return 0;
    }
    // Each line said names a line of the file, after those said before it.
    size_t lines = 1;
    for (const char ch : text) {
        lines += ch == '\n' ? 1 : 0;
    }
    size_t last = 0;
    for (size_t at = 0; at < err.size();) {
        const size_t end = err.find('\n', at);
        require(end != std::string::npos, "a word that is not a whole line", size);
        const std::string_view said(err.data() + at, end - at);
        require(said.starts_with("glide: F:"), "a word that names no line", size);
        const size_t line = std::strtoul(std::string(said.substr(9)).c_str(), nullptr, 10);
        require(line > last && line <= lines, "a line said twice, or out of the file", size);
        last = line;
        for (const char ch : said) {
            const auto byte = static_cast<unsigned char>(ch);
            require(byte >= 0x20 && byte != 0x7f, "a control byte in what is said", size);
        }
        at = end + 1;
    }
    // The names listed are trimmed, and none is empty.
    for (const std::string &name : settings.asidefor) {
        require(!name.empty() && name.find(',') == std::string::npos && name.front() != ' ' &&
                    name.back() != ' ' && name.front() != '\t' && name.back() != '\t',
                "a name listed untrimmed", size);
    }
    return 0;
}
