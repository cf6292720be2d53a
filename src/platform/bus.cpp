#include "bus.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "backends.h"

namespace {

// Where glide's control is, on the name that makes it the session's glide.
// Not on the object KWin's script calls: sd-bus would answer a call of the
// script's there as an unknown method.
const char *const name = "org.glide.Glide";
const char *const path = "/org/glide/Control";
const char *const interface = "org.glide.Control";

// The connection glide serves its control on, and what glide has shown
// there: whether it is paused, what it does, and which program has the
// focus.
sd_bus *served;
bool shown;
State shownstate;
std::array<char, namesize> shownprogram;

}  // namespace

bool from_own_user(sd_bus_message *call)
{
    sd_bus_creds *creds = nullptr;
    uid_t euid = 0;
    const bool own = sd_bus_query_sender_creds(call, SD_BUS_CREDS_EUID, &creds) >= 0 &&
                     sd_bus_creds_get_euid(creds, &euid) >= 0 && euid == geteuid();
    sd_bus_creds_unref(creds);
    return own;
}

int refuse_stranger(sd_bus_message *call)
{
    return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_ACCESS_DENIED,
                                      "glide takes requests from its own user alone");
}

int send_reply(sd_bus_message *reply, int made)
{
    const int sent = made >= 0 ? sd_bus_send(nullptr, reply, nullptr) : made;
    sd_bus_message_unref(reply);
    return sent;
}

namespace {

// Pause, Resume or Toggle: kept for the loop, and answered once it has been
// taken in.
int take_control_call(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    if (!from_own_user(call)) {
        return refuse_stranger(call);
    }
    const char *member = sd_bus_message_get_member(call);
    const Control control = std::strcmp(member, "Pause") == 0    ? Control::pause
                            : std::strcmp(member, "Resume") == 0 ? Control::resume
                                                                 : Control::toggle;
    if (!note_request(control, {0, call})) {
        return sd_bus_reply_method_errorf(call, "org.glide.Error.Busy", "too many requests wait");
    }
    sd_bus_message_ref(call);
    return 1;  // answered once the loop has taken it
}

int get_state(sd_bus * /*bus*/, const char * /*path*/, const char * /*interface*/,
              const char *property, sd_bus_message *reply, void * /*data*/,
              sd_bus_error * /*error*/)
{
    if (std::strcmp(property, "Paused") == 0) {
        return sd_bus_message_append(reply, "b", static_cast<int>(shown));
    }
    return sd_bus_message_append(reply, "s",
                                 std::strcmp(property, "State") == 0 ? state_name(shownstate)
                                                                     : shownprogram.data());
}

const auto controlvtable = std::to_array<sd_bus_vtable>({
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Pause", "", "", take_control_call, 0),
    SD_BUS_METHOD("Resume", "", "", take_control_call, 0),
    SD_BUS_METHOD("Toggle", "", "", take_control_call, 0),
    SD_BUS_PROPERTY("Paused", "b", get_state, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("State", "s", get_state, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Program", "s", get_state, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
});

}  // namespace

void lose_bus()
{
    std::fputs("glide: lost the session bus\n", stderr);
    std::exit(1);
}

sd_bus_message *next_message(sd_bus *bus)
{
    for (;;) {
        sd_bus_message *message = nullptr;
        const int processed = sd_bus_process(bus, &message);
        if (processed < 0) {
            lose_bus();
        }
        if (processed == 0) {
            return nullptr;
        }
        if (message != nullptr &&
            sd_bus_message_is_signal(message, "org.freedesktop.DBus.Local", "Disconnected") > 0) {
            lose_bus();
        }
        if (message != nullptr) {
            return message;
        }
    }
}

int bus_timeout(sd_bus *bus, int timeout)
{
    // sd-bus says it holds messages it read during a call by a timeout that
    // is due.
    uint64_t due = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &due) < 0 || due == UINT64_MAX) {
        return timeout;
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t nowus =
        static_cast<uint64_t>(ts.tv_sec) * 1000000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
    const auto left = static_cast<int>(
        std::min<uint64_t>(due > nowus ? (due - nowus + 999) / 1000 : 0, uint64_t{INT32_MAX}));
    return timeout < 0 ? left : std::min(timeout, left);
}

short sleep_on_bus(sd_bus *bus, int other, int timeout)
{
    if (sd_bus_flush(bus) < 0) {
        lose_bus();
    }
    timeout = bus_timeout(bus, timeout);
    const int busevents = sd_bus_get_events(bus);
    const NewsDescriptors news = news_descriptors();
    std::array<pollfd, 4> fds{{{sd_bus_get_fd(bus), static_cast<short>(std::max(busevents, 0)), 0},
                               {other, POLLIN, 0},
                               news[0],
                               news[1]}};
    // A signal is never a lost bus.
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
        lose_bus();
    }
    take_news_descriptors({fds[2], fds[3]});
    return fds[1].revents;
}

// The Name of the application's .desktop file, in the folders where the
// XDG base directories put them; empty where there is none.
static std::string desktop_name(std::string_view app)
{
    if (app.empty() || app.find('/') != std::string_view::npos) {
        return {};
    }
    const char *home = std::getenv("XDG_DATA_HOME");
    const char *user = std::getenv("HOME");
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    std::string folders = home != nullptr && *home == '/' ? home
                          : user != nullptr               ? std::string(user) + "/.local/share"
                                                          : "";
    folders.append(":").append(dirs != nullptr && *dirs != '\0' ? dirs
                                                                : "/usr/local/share:/usr/share");
    for (size_t at = 0; at < folders.size();) {
        const size_t end = std::min(folders.find(':', at), folders.size());
        std::string file = folders.substr(at, end - at);
        at = end + 1;
        std::FILE *entry =
            std::fopen(file.append("/applications/").append(app).append(".desktop").c_str(), "r");
        if (entry == nullptr) {
            continue;
        }
        // Name= in the [Desktop Entry] group, which comes first.
        std::array<char, 512> line{};
        std::string name;
        bool group = false;
        while (name.empty() && std::fgets(line.data(), line.size(), entry) != nullptr) {
            const std::string_view text(line.data(), std::strcspn(line.data(), "\r\n"));
            group = text.starts_with('[') ? text == "[Desktop Entry]" : group;
            if (group && text.starts_with("Name=")) {
                name = text.substr(5);
            }
        }
        std::fclose(entry);
        return name;
    }
    return {};
}

void take_focus_message(sd_bus_message *message)
{
    const char *app = nullptr;
    const char *windowclass = nullptr;
    const char *label = nullptr;
    int fullscreen = 0;
    if (sd_bus_message_read(message, "sssb", &app, &windowclass, &label, &fullscreen) <= 0) {
        return;
    }
    Focus focus;
    const bool named = *app != '\0';
    name_focus(&focus, 0, named ? app : windowclass);
    name_focus(&focus, 1, named ? windowclass : "");
    // The friendliest name: told, or the .desktop file's, or the class.
    const std::string found = *label != '\0' ? label : desktop_name(app);
    name_focus(&focus, friendliest, !found.empty() ? found.c_str() : focus.names[0].data());
    focus.fullscreen = fullscreen != 0;
    note_focus(focus);
}

int serve_control(sd_bus *bus)
{
    int served_at =
        sd_bus_add_object_vtable(bus, nullptr, path, interface, controlvtable.data(), nullptr);
    if (served_at >= 0) {
        served_at = sd_bus_request_name(bus, name, 0);
    }
    if (served_at == -EEXIST) {
        std::fputs(sessiontaken, stderr);
        return 3;
    }
    if (served_at < 0) {
        std::fprintf(stderr, "glide: cannot take its name on the session bus: %s\n",
                     std::strerror(-served_at));
        return 1;
    }
    served = bus;
    return 0;
}

void bus_answer(sd_bus_message *call)
{
    sd_bus_reply_method_return(call, "");
    sd_bus_message_unref(call);
}

bool bus_show_state(State state, const char *program)
{
    if (served == nullptr) {
        return false;
    }
    const bool paused = state == State::paused;
    const bool changed = paused != shown;
    shown = paused;
    shownstate = state;
    std::snprintf(shownprogram.data(), shownprogram.size(), "%s", program);
    sd_bus_emit_properties_changed(served, path, interface, "Paused", "State", "Program", nullptr);
    sd_bus_flush(served);  // the answers, now: the loop may not wait on the bus soon
    return changed;
}

int bus_send_control(Control control)
{
    sd_bus *bus = nullptr;
    int called = sd_bus_open_user(&bus);
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is C
    char *state = nullptr;
    char *program = nullptr;
    if (called >= 0) {
        // A glide that is stopped must not hold the command line up long.
        sd_bus_set_method_call_timeout(bus, 5000000);
        if (control == Control::status) {
            called =
                sd_bus_get_property_string(bus, name, path, interface, "State", &error, &state);
            if (called >= 0) {
                called = sd_bus_get_property_string(bus, name, path, interface, "Program", &error,
                                                    &program);
            }
        } else {
            const char *member = control == Control::pause    ? "Pause"
                                 : control == Control::resume ? "Resume"
                                                              : "Toggle";
            sd_bus_message *call = nullptr;
            called = sd_bus_message_new_method_call(bus, &call, name, path, interface, member);
            if (called >= 0) {
                sd_bus_message_set_auto_start(call, 0);
                called = sd_bus_call(bus, call, 0, &error, nullptr);
            }
            sd_bus_message_unref(call);
        }
    }
    int status = 0;
    if (called >= 0) {
        if (control == Control::status) {
            std::fputs(status_text(state, program).data(), stdout);
        }
    } else if (bus == nullptr || sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                                        SD_BUS_ERROR_NAME_HAS_NO_OWNER) > 0) {
        std::fputs(noglide, stderr);
        status = 1;
    } else {
        std::fputs(sd_bus_error_has_name(&error, "org.glide.Error.Busy") > 0 ? glidebusy
                                                                             : glidesilent,
                   stderr);
        status = 1;
    }
    std::free(state);
    std::free(program);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return status;
}
