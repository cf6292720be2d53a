#include "commandline.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "state.h"

namespace {

#ifdef _WIN32
#define SETTINGS_FILE "%APPDATA%\\glide\\glide.conf"
#else
#define SETTINGS_FILE "~/.config/glide/glide.conf"
#endif

const char *const usage =
    "usage: glide [-q] [--screen] [-t|--throw[=SPEED]] [FRICTION]\n"
    "       glide --pause | --resume | --toggle | --status\n";

const char *const help =
    "Gives the mouse cursor momentum: flick the mouse and the cursor glides on,\n"
    "slows down and bounces off the edges of a 1024 x 768 area, or of the screen\n"
    "where it is smaller. Prints one line per tick: the horizontal velocity, the\n"
    "friction and their quotient.\n"
    "\n"
    "  FRICTION     divides both velocities every tick (default 1.4);\n"
    "               2 stops quickly, 1.05 glides long, below 1 speeds up\n"
    "  -q, --quiet  print no report lines, and sleep while the cursor rests\n"
    "  --screen     bounce off the walls of the whole desktop instead: every\n"
    "               side of a monitor with no monitor beyond it\n"
    "  -t, --throw[=SPEED]\n"
    "               momentum for work: the cursor is the hand's while it moves;\n"
    "               let go of a flick of SPEED pixels a second or more (default\n"
    "               1000) and it glides on, stopping at an edge, until a touch\n"
    "               or a click stops it; friction 1.05 unless given; a line a\n"
    "               tick of a glide only, and asleep at rest\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "The glide running in this session, alone on the command line:\n"
    "  --pause      pauses it: it moves and prints nothing until resumed\n"
    "  --resume     resumes it, at rest where the cursor is\n"
    "  --toggle     pauses it, or resumes it if paused\n"
    "  --status     prints \"active\", \"paused\" or \"aside\", and the program\n"
    "               that has the focus\n"
    "\n"
    "It steps aside while a full-screen program has the focus, or one that its\n"
    "settings name: " SETTINGS_FILE
    ", lines such as\n"
    "\"aside-for = krita, mpv\" (see the manual).\n"
    "\n"
    "Runs until it is interrupted (Ctrl+C); SIGUSR1 pauses or resumes it. One\n"
    "glide runs on a display at a time.\n";

bool is_digit(char ch)
{
    return ch >= '0' && ch <= '9';
}

// The white space of the C locale.
bool is_space(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

bool is_letter(char ch)
{
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

// A dash and a letter, or two dashes, begin an option; -1.4, -.5 and a lone
// dash are frictions.
bool is_option(const char *arg)
{
    return arg[0] == '-' && (is_letter(arg[1]) || arg[1] == '-');
}

bool is(const char *arg, const char *name)
{
    return std::strcmp(arg, name) == 0;
}

// What an option asks of the running glide, if it is one that does.
Control control_named(const char *arg)
{
    if (is(arg, "--pause")) {
        return Control::pause;
    }
    if (is(arg, "--resume")) {
        return Control::resume;
    }
    if (is(arg, "--toggle")) {
        return Control::toggle;
    }
    return is(arg, "--status") ? Control::status : Control::none;
}

// Says why the command line is refused, quoting what it refuses, and how to
// use glide. Returns the status to exit with.
int refuse(std::string &err, const char *what, const char *arg, const char *why)
{
    err += "glide: ";
    err += what;
    err += ' ';
    append_quoted(err, arg);
    err += why;
    err += '\n';
    err += usage;
    return 2;
}

// The decimal digits of a number, with at most one point among them.
struct Digits {
    const char *end;       // just past the last digit or the point
    int64_t count;         // digits in all
    int64_t whole;         // digits before the point
    int64_t firstnonzero;  // index of the first significant digit, -1 if none
};

Digits scan_digits(const char *p)
{
    Digits digits{p, 0, 0, -1};
    for (bool fraction = false;; ++p) {
        if (*p == '.' && !fraction) {
            fraction = true;
            continue;
        }
        if (!is_digit(*p)) {
            break;
        }
        if (*p != '0' && digits.firstnonzero < 0) {
            digits.firstnonzero = digits.count;
        }
        ++digits.count;
        digits.whole += fraction ? 0 : 1;
    }
    digits.end = p;
    return digits;
}

// Reads the exponent that may follow a number's digits at p, and returns
// where the number ends: past the exponent only if it has a digit.
const char *scan_exponent(const char *p, int64_t *exponent)
{
    if (*p != 'e' && *p != 'E') {
        return p;
    }
    const char *q = p + 1;
    const bool down = *q == '-';
    if (*q == '+' || *q == '-') {
        ++q;
    }
    if (!is_digit(*q)) {
        return p;
    }
    int64_t e = 0;
    for (; is_digit(*q); ++q) {
        if (e < 1000000) {  // far beyond any double; stops the overflow
            e = e * 10 + (*q - '0');
        }
    }
    *exponent = down ? -e : e;
    return q;
}

}  // namespace

void append_quoted(std::string &to, const char *text)
{
    to += '"';
    for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') {
            to += '\\';
            to += static_cast<char>(*p);
        } else if (*p < 0x20 || *p == 0x7f) {
            std::array<char, 8> escape{};
            std::snprintf(escape.data(), escape.size(), "\\x%02x", *p);
            to += escape.data();
        } else {
            to += static_cast<char>(*p);
        }
    }
    to += '"';
}

bool parse_speed(const char *text, double *value)
{
    const char *end = text + std::strlen(text);
    double number = 0.0;
    const std::from_chars_result r = std::from_chars(text, end, number, std::chars_format::general);
    if (r.ec != std::errc{} || r.ptr != end || !std::isfinite(number) || !(number > 0.0)) {
        return false;
    }
    *value = number;
    return true;
}

Control request;

bool parse_friction(const char *text, float *value)
{
    const char *p = text;
    while (is_space(*p)) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    const char *const mantissa = p;
    const Digits digits = scan_digits(mantissa);
    if (digits.count == 0) {
        return false;
    }
    int64_t exponent = 0;
    const char *const end = scan_exponent(digits.end, &exponent);

    double number = 0.0;
    const std::from_chars_result r =
        std::from_chars(mantissa, end, number, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Correctly rounded, too large a number is infinite and too small a one zero.
        number = digits.whole - digits.firstnonzero + exponent > 0 ? HUGE_VAL : 0.0;
    } else if (r.ec != std::errc{} || r.ptr != end) {
        return false;
    }
    *value = static_cast<float>(negative ? -number : number);
    return true;
}

namespace {

// Takes an option that runs glide, or ends it: -- ends the options. Returns
// keep_running, or the status to exit with.
int take_option(const char *arg, bool *options, std::string &out, std::string &err)
{
    if (is(arg, "--")) {
        *options = false;
    } else if (is(arg, "-q") || is(arg, "--quiet")) {
        quiet = true;
    } else if (is(arg, "--screen")) {
        screen = true;
    } else if (is(arg, "-t") || is(arg, "--throw")) {
        throwing = true;
    } else if (std::strncmp(arg, "--throw=", 8) == 0) {
        if (!parse_speed(arg + 8, &throwspeed)) {
            return refuse(err, "throw speed", arg + 8, " is not a positive number");
        }
        throwing = true;
        speedgiven = true;
    } else if (is(arg, "-h") || is(arg, "--help")) {
        out += usage;
        out += help;
        return 0;
    } else if (is(arg, "--version")) {
        out += "glide " GLIDE_VERSION "\n";
        return 0;
    } else {
        return refuse(err, "unknown option", arg, "");
    }
    return keep_running;
}

}  // namespace

int startup(int argc, const char *const *argv, std::string &out, std::string &err)
{
    init_state();
    request = Control::none;
    // Read from left to right: an option acts where it stands, wherever the
    // friction is.
    const char *number = nullptr;
    int numbers = 0;
    bool options = true;
    const char *alone = nullptr;  // the option that asks the running glide
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const Control control = options && is_option(arg) ? control_named(arg) : Control::none;
        // Nothing goes with it: only --help or --version before it, which
        // have ended the reading.
        if (alone != nullptr || (control != Control::none && i > 1)) {
            return refuse(err, "option", alone != nullptr ? alone : arg, " stands alone");
        }
        if (control != Control::none) {
            request = control;
            alone = arg;
        } else if (!options || !is_option(arg)) {
            number = arg;
            ++numbers;
        } else if (const int status = take_option(arg, &options, out, err);
                   status != keep_running) {
            return status;
        }
    }
    if (request != Control::none) {
        return keep_running;
    }
    // One number sets the friction; none, or several, leave the default,
    // which under --throw lets a glide go some way.
    if (throwing) {
        friction = throwfriction;
    }
    if (numbers == 1 && !parse_friction(number, &friction)) {
        return refuse(err, "friction", number, " is not a number");
    }
    frictiongiven = numbers == 1;
    return keep_running;
}
