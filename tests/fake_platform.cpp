#include "fake_platform.h"

#include <algorithm>
#include <fstream>

#include "platform/platform.h"
#include "settings.h"
#include "state.h"

FakePlatform fake;  // NOLINT(cert-err58-cpp): a test that cannot allocate has failed anyway

void reset_fake()
{
    fake = FakePlatform{};
    init_state();
    load_settings();  // none: the defaults, and nothing said before
}

int platform_open()
{
    return platform_ready;
}

void platform_screen_size(int32_t *width, int32_t *height)
{
    *width = fake.screenwidth;
    *height = fake.screenheight;
}

void platform_monitors()
{
    clear_monitors();
    for (const Monitor &monitor : fake.monitors) {
        add_monitor(monitor);
    }
}

bool platform_read_cursor(int32_t *x, int32_t *y)
{
    ++fake.reads;
    fake.clock += fake.readcost;
    Point p = fake.cursor;
    if (!fake.script.empty()) {
        const std::optional<Point> next = fake.script.front();
        fake.script.pop_front();
        if (!next) {
            return false;
        }
        p = *next;
    }
    *x = p.x;
    *y = p.y;
    return true;
}

void platform_set_cursor(int32_t x, int32_t y)
{
    fake.targets.push_back({x, y});
    fake.cursor = {std::clamp(x, 0, std::max(fake.screenwidth, 1) - 1),
                   std::clamp(y, 0, std::max(fake.screenheight, 1) - 1)};
    fake.clock += fake.setcost;
}

int64_t platform_clock()
{
    return fake.clock;
}

namespace {

// Lets the hand move the cursor where it has by now, and press.
void move_hand()
{
    for (; !fake.hand.empty() && fake.hand.front().first <= fake.clock; fake.hand.pop_front()) {
        fake.cursor = fake.hand.front().second;
        ++fake.news.reports;
        fake.news.time = fake.hand.front().first;
        if (!fake.reported.empty()) {
            fake.news.time = fake.reported.front();
            fake.reported.pop_front();
        }
    }
    for (; !fake.presses.empty() && fake.presses.front() <= fake.clock; fake.presses.pop_front()) {
        fake.news.pressed = true;
    }
}

}  // namespace

void platform_wait_until(int64_t clock)
{
    fake.deadlines.push_back(clock);
    if (fake.waitadvances) {
        fake.clock = std::max(fake.clock, clock);
        move_hand();
    }
}

// When the next news comes: a control, a focus, a settings file's write,
// a choice; far past any test's end when none is to come.
int64_t next_news()
{
    int64_t next = int64_t{1} << 40;
    for (const int64_t at : {fake.controls.empty() ? next : fake.controls.front().first,
                             fake.focuses.empty() ? next : fake.focuses.front().first,
                             fake.settingswrites.empty() ? next : fake.settingswrites.front().first,
                             fake.choices.empty() ? next : fake.choices.front().first}) {
        next = std::min(next, at);
    }
    return next;
}

void platform_wait_for_input(int64_t clock)
{
    const bool moved = !fake.hand.empty() && fake.hand.front().first < clock;
    fake.clock = std::max(fake.clock, std::min(moved ? fake.hand.front().first : clock,
                                               std::max(next_news(), int64_t{0})));
    move_hand();
    fake.waits.emplace_back(fake.clock, moved);
}

void platform_write_line(const char *line)
{
    fake.lines.emplace_back(line);
}

HandNews platform_take_hand()
{
    HandNews news = fake.news;
    news.timed = fake.timed;
    if (!fake.timed) {
        news.time = fake.clock;
    }
    fake.news = {};
    return news;
}

bool platform_hears_hand()
{
    return fake.hears;
}

Control platform_take_control()
{
    if (fake.controls.empty() || fake.controls.front().first > fake.clock) {
        return Control::none;
    }
    const Control control = fake.controls.front().second;
    fake.controls.pop_front();
    return control;
}

void platform_show_state(State state, const char *program)
{
    fake.shown.push_back(state);
    fake.programs.emplace_back(program);
}

void platform_wait_for_news()
{
    int64_t next = int64_t{1} << 40;
    for (const int64_t at :
         {fake.controls.empty() ? next : fake.controls.front().first,
          fake.focuses.empty() ? next : fake.focuses.front().first,
          fake.settingswrites.empty() ? next : fake.settingswrites.front().first}) {
        next = std::min(next, at);
    }
    fake.clock = std::max(fake.clock, next);
    move_hand();
    fake.newswaits.push_back(fake.clock);
}

bool platform_take_focus(Focus *focus)
{
    bool changed = !fake.focustold;
    fake.focustold = true;
    for (; !fake.focuses.empty() && fake.focuses.front().first <= fake.clock;
         fake.focuses.pop_front()) {
        changed = changed || fake.focuses.front().second != fake.focus;
        fake.focus = fake.focuses.front().second;
    }
    if (changed) {
        *focus = fake.focus;
    }
    return changed;
}

std::filesystem::path platform_settings_file()
{
    return fake.settingsfile;
}

bool platform_settings_changed()
{
    bool changed = false;
    for (; !fake.settingswrites.empty() && fake.settingswrites.front().first <= fake.clock;
         fake.settingswrites.pop_front()) {
        changed = true;
        const std::optional<std::string> &text = fake.settingswrites.front().second;
        if (text) {
            std::ofstream(fake.settingsfile, std::ios::binary | std::ios::trunc) << *text;
        } else {
            std::filesystem::remove(fake.settingsfile);
        }
    }
    return changed;
}

void platform_warn(const char *text)
{
    fake.warnings.emplace_back(text);
}

bool platform_write_settings(std::string_view text, std::string &why)
{
    why = fake.unwritable;
    if (why.empty()) {
        std::ofstream(fake.settingsfile, std::ios::binary | std::ios::trunc) << text;
    }
    return why.empty();
}

void platform_show_menu(const Menu &menu)
{
    fake.menus.push_back(menu);
}

Chosen platform_take_choice()
{
    if (fake.choices.empty() || fake.choices.front().first > fake.clock) {
        return {};
    }
    const Chosen chosen = fake.choices.front().second;
    fake.choices.pop_front();
    return chosen;
}

Focus focused(const char *name, const char *other, bool fullscreen)
{
    Focus focus;
    name_focus(&focus, 0, name);
    name_focus(&focus, 1, other);
    focus.fullscreen = fullscreen;
    return focus;
}

int platform_send_control(Control /*control*/)
{
    return 1;  // no glide runs beside the tests
}
