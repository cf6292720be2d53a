// Feeds arbitrary text to the friction argument: parse_friction must agree
// with the C library's strtod wherever strtod reads plain decimal, and a
// refusal must stay one line that a terminal cannot act on. The text, split
// at its NULs, is also a whole command line, options and all.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commandline.h"
#include "state.h"

namespace {

void require(bool holds, const char *what, const std::string &text)
{
    if (!holds) {
        std::fprintf(stderr, "%s, for friction text of %zu bytes\n", what, text.size());
        std::abort();
    }
}

// Text in which strtod reads only what atof's decimal prefix is made of: no
// hexadecimal, no inf or nan, nothing a locale would add.
bool plain_decimal(const std::string &text)
{
    return std::ranges::all_of(
        text, [](char ch) { return std::strchr("0123456789.eE+- \t\n\v\f\r", ch) != nullptr; });
}

bool same_bits(float a, float b)
{
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

void check_parse(const std::string &text)
{
    float value = 12.5f;
    const bool parsed = parse_friction(text.c_str(), &value);
    if (!parsed) {
        require(same_bits(value, 12.5f), "a refused friction was stored", text);
    }
    if (!plain_decimal(text)) {
        return;
    }
    char *end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    require(parsed == (end != text.c_str()), "parse_friction and strtod differ on a number", text);
    if (parsed) {
        require(same_bits(value, static_cast<float>(expected)),
                "parse_friction and strtod read different values", text);
    }
}

bool starts(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

void check_startup(const std::vector<std::string> &args, const std::string &text)
{
    std::vector<const char *> argv = {"glide"};
    for (const std::string &arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    std::string out;
    std::string said;
    const int status = startup(static_cast<int>(argv.size() - 1), argv.data(), out, said);

    require(status == keep_running || status == 0 || status == 2, "unexpected status", text);
    // A request to the running glide, sent, stands alone.
    require(status != keep_running || request == Control::none || args.size() == 1,
            "a request beside another argument", text);
    if (status != 2) {
        require(said.empty(), "wrote to standard error without refusing", text);
        return;
    }
    // The refused argument, then the usage lines: three lines, and nothing
    // in them that a terminal would take as a control.
    const char *const usage =
        "usage: glide [-q] [--screen] [-t|--throw[=SPEED]] [FRICTION]\n"
        "       glide --pause | --resume | --toggle | --status\n";
    const char *ending = "\"\n";
    if (starts(said, "glide: friction \"")) {
        ending = "\" is not a number\n";
    } else if (starts(said, "glide: throw speed \"")) {
        ending = "\" is not a positive number\n";
    } else if (starts(said, "glide: option \"--")) {
        ending = "\" stands alone\n";
    } else {
        require(starts(said, "glide: unknown option \"-"), "refusal starts oddly", text);
    }
    size_t newlines = 0;
    for (const char ch : said) {
        const auto byte = static_cast<unsigned char>(ch);
        newlines += byte == '\n' ? 1 : 0;
        require(byte == '\n' || (byte >= 0x20 && byte != 0x7f), "control byte in a refusal", text);
    }
    require(newlines == 3, "a refusal is not three lines", text);
    require(said.find(std::string(ending) + usage) != std::string::npos, "refusal ends oddly",
            text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An argument ends at its first NUL, as the command line would end it.
    std::vector<std::string> args;
    const auto *chars = reinterpret_cast<const char *>(data);
    for (size_t at = 0; at < size && args.size() < 8;) {
        args.emplace_back(chars + at, strnlen(chars + at, size - at));
        at += args.back().size() + 1;
    }
    const std::string text = args.empty() ? std::string() : args.front();
    check_parse(text);
    if (args.empty()) {
        args.emplace_back();
    }
    check_startup(args, text);
    return 0;
}
