#include "dbusmenu.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "backends.h"
#include "bus.h"

namespace {

const char *const menuinterface = "com.canonical.dbusmenu";

// The bus the menu is served on; the menu's layout's revision, which every
// change of an entry moves on; and what the entries show: glide paused or
// not, the settings, and glide's user unit (-1: none, else enabled or not).
sd_bus *menubus;
uint32_t revision = 1;
bool menupaused;
Menu shown;
int signin = -1;

// The entries, by their ids.
enum Entry : int32_t {
    rootid,
    toggleid,
    notinid,
    fullscreenid,
    glideid,
    shortid,
    mediumid,
    longid,
    signinid,
    separatorid,
    quitid,
};

// An entry's children, as the menu is now.
struct Children {
    std::array<int32_t, 8> ids{};
    size_t count = 0;

    [[nodiscard]] std::span<const int32_t> all() const { return {ids.data(), count}; }
    void add(int32_t id) { ids.at(count++) = id; }
};

Children children_of(int32_t id)
{
    Children children;
    if (id == rootid) {
        children.add(toggleid);
        if (shown.program.names[0][0] != '\0') {
            children.add(notinid);  // none without a program to name
        }
        children.add(fullscreenid);
        children.add(glideid);
        if (signin >= 0) {
            children.add(signinid);
        }
        children.add(separatorid);
        children.add(quitid);
    } else if (id == glideid) {
        for (const int32_t glide : {shortid, mediumid, longid}) {
            children.add(glide);
        }
    }
    return children;
}

bool known_entry(int32_t id)
{
    const auto has = [id](const Children &c) {
        return std::find(c.all().begin(), c.all().end(), id) != c.all().end();
    };
    return id == rootid || has(children_of(rootid)) || has(children_of(glideid));
}

// An entry as the menu shows it: its label (none: a separator); whether it
// is a check item or a radio item, and checked, and can be chosen; and
// whether it opens a submenu.
struct Shown {
    const char *label = nullptr;
    const char *toggle = nullptr;
    bool checked = false;
    bool enabled = true;
    bool submenu = false;
};

using Label = std::array<char, 64 + 2 * namesize>;

Shown describe(int32_t id, Label *label)
{
    switch (id) {
    case rootid:
        return {"", nullptr, false, true, true};
    case toggleid:
        return {menupaused ? "Resume" : "Pause"};
    case notinid: {
        // An underscore in a label marks its access key: doubled, it is one.
        size_t at = 0;
        for (const char *p = "Not in "; *p != '\0'; ++p) {
            label->at(at++) = *p;
        }
        for (const char *p = shown.program.names[friendliest].data();
             *p != '\0' && at + 2 < label->size(); ++p) {
            label->at(at++) = *p;
            if (*p == '_') {
                label->at(at++) = '_';
            }
        }
        return {label->data(), "checkmark", shown.listed};
    }
    case fullscreenid:
        return {"Step aside in full screen", "checkmark", shown.fullscreen};
    case glideid:
        std::snprintf(label->data(), label->size(), "Glide: friction %g, from the command line",
                      static_cast<double>(shown.friction));
        return {shown.fixed ? label->data() : "Glide", nullptr, false, true, true};
    case shortid:
    case mediumid:
    case longid:
        return {id == shortid    ? "Short"
                : id == mediumid ? "Medium"
                                 : "Long",
                "radio", shown.glide == id - shortid, !shown.fixed};
    case signinid:
        return {"Start at sign-in", "checkmark", signin == 1};
    case separatorid:
        return {};
    default:
        return {"Quit"};
    }
}

// An entry's properties, a{sv}.
int append_entry_properties(sd_bus_message *reply, int32_t id)
{
    Label label{};
    const Shown entry = describe(id, &label);
    int made = sd_bus_message_open_container(reply, 'a', "{sv}");
    if (made >= 0 && entry.label == nullptr) {
        made = sd_bus_message_append(reply, "{sv}", "type", "s", "separator");
    } else if (made >= 0 && *entry.label != '\0') {
        made = sd_bus_message_append(reply, "{sv}", "label", "s", entry.label);
    }
    if (made >= 0 && entry.toggle != nullptr) {
        made = sd_bus_message_append(reply, "{sv}{sv}{sv}", "toggle-type", "s", entry.toggle,
                                     "toggle-state", "i", entry.checked ? 1 : 0, "enabled", "b",
                                     static_cast<int>(entry.enabled));
    }
    if (made >= 0 && entry.submenu) {
        made = sd_bus_message_append(reply, "{sv}", "children-display", "s", "submenu");
    }
    return made >= 0 ? sd_bus_message_close_container(reply) : made;
}

// Opens an entry, (ia{sv}av), as far as its children; close_entry() closes
// it after them. An entry of a submenu's goes in a variant.
int open_entry(sd_bus_message *reply, int32_t id, bool child)
{
    int appended = child ? sd_bus_message_open_container(reply, 'v', "(ia{sv}av)") : 0;
    appended = appended >= 0 ? sd_bus_message_open_container(reply, 'r', "ia{sv}av") : appended;
    appended = appended >= 0 ? sd_bus_message_append(reply, "i", id) : appended;
    appended = appended >= 0 ? append_entry_properties(reply, id) : appended;
    return appended >= 0 ? sd_bus_message_open_container(reply, 'a', "v") : appended;
}

int close_entry(sd_bus_message *reply, bool child)
{
    int closed = sd_bus_message_close_container(reply);
    closed = closed >= 0 ? sd_bus_message_close_container(reply) : closed;
    return closed >= 0 && child ? sd_bus_message_close_container(reply) : closed;
}

// An entry with its children down to depth (-1: all): the menu goes two
// deep at most, the glides' submenu in the root's.
int append_entry(sd_bus_message *reply, int32_t id, int32_t depth)
{
    const auto below = [depth](int32_t entry, int32_t level) {
        return depth < 0 || depth > level ? children_of(entry) : Children{};
    };
    int appended = open_entry(reply, id, false);
    const Children children = below(id, 0);
    for (const int32_t child : children.all()) {
        appended = appended >= 0 ? open_entry(reply, child, true) : appended;
        const Children grandchildren = below(child, 1);
        for (const int32_t grandchild : grandchildren.all()) {
            appended = appended >= 0 ? open_entry(reply, grandchild, true) : appended;
            appended = appended >= 0 ? close_entry(reply, true) : appended;
        }
        appended = appended >= 0 ? close_entry(reply, true) : appended;
    }
    return appended >= 0 ? close_entry(reply, false) : appended;
}

int get_layout(sd_bus_message *call, void * /*data*/, sd_bus_error *error)
{
    int32_t parent = 0;
    int32_t depth = 0;
    int read = sd_bus_message_read(call, "ii", &parent, &depth);
    if (read >= 0 && !known_entry(parent)) {
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no entry %d", parent);
    }
    sd_bus_message *reply = nullptr;
    read = read >= 0 ? sd_bus_message_new_method_return(call, &reply) : read;
    read = read >= 0 ? sd_bus_message_append(reply, "u", revision) : read;
    read = read >= 0 ? append_entry(reply, parent, depth) : read;
    return send_reply(reply, read);
}

int get_group_properties(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    const void *asked = nullptr;
    size_t size = 0;
    int made = sd_bus_message_read_array(call, 'i', &asked, &size);
    Children ids;
    ids.count = std::min(size / sizeof(int32_t), ids.ids.size());
    std::memcpy(ids.ids.data(), asked, ids.count * sizeof(int32_t));
    if (ids.count == 0) {  // none asks for them all
        ids = children_of(rootid);
        const Children glides = children_of(glideid);
        for (const int32_t glide : glides.all()) {
            ids.add(glide);
        }
    }
    sd_bus_message *reply = nullptr;
    made = made >= 0 ? sd_bus_message_new_method_return(call, &reply) : made;
    made = made >= 0 ? sd_bus_message_open_container(reply, 'a', "(ia{sv})") : made;
    for (const int32_t id : ids.all()) {
        if (!known_entry(id)) {
            continue;
        }
        made = made >= 0 ? sd_bus_message_open_container(reply, 'r', "ia{sv}") : made;
        made = made >= 0 ? sd_bus_message_append(reply, "i", id) : made;
        made = made >= 0 ? append_entry_properties(reply, id) : made;
        made = made >= 0 ? sd_bus_message_close_container(reply) : made;
    }
    made = made >= 0 ? sd_bus_message_close_container(reply) : made;
    return send_reply(reply, made);
}

// Tells the panels that the menu has changed.
void relayout()
{
    ++revision;
    sd_bus_emit_signal(menubus, menupath, menuinterface, "LayoutUpdated", "ui", revision, rootid);
    sd_bus_flush(menubus);
}

// Calls systemd's user manager, starting nothing, and waiting two seconds
// at most. Returns what the call returned.
template <typename... Args>
int call_manager(const char *member, sd_bus_message **reply, const char *types, Args... args)
{
    sd_bus_message *call = nullptr;
    int called = sd_bus_message_new_method_call(menubus, &call, "org.freedesktop.systemd1",
                                                "/org/freedesktop/systemd1",
                                                "org.freedesktop.systemd1.Manager", member);
    called = called >= 0 ? sd_bus_message_set_auto_start(call, 0) : called;
    called = called >= 0 ? sd_bus_message_append(call, types, args...) : called;
    called = called >= 0 ? sd_bus_call(menubus, call, 2000000, nullptr, reply) : called;
    sd_bus_message_unref(call);
    return called;
}

// glide's user unit, as the manager has it: -1 where there is none.
int unit_state()
{
    sd_bus_message *reply = nullptr;
    const char *state = nullptr;
    int found = -1;
    if (call_manager("GetUnitFileState", &reply, "s", "glide.service") >= 0 &&
        sd_bus_message_read(reply, "s", &state) > 0) {
        found = std::string_view(state).starts_with("enabled") ? 1 : 0;
    }
    sd_bus_message_unref(reply);
    return found;
}

// Enables the unit, so that it starts with the session, or disables it, as
// systemctl --user enable and disable do.
void set_unit(bool enabled)
{
    if (enabled) {
        call_manager("EnableUnitFiles", nullptr, "asbb", 1, "glide.service", 0, 0);
    } else {
        call_manager("DisableUnitFiles", nullptr, "asb", 1, "glide.service", 0);
    }
    call_manager("Reload", nullptr, "");
    signin = unit_state();
    relayout();
}

// Acts on a click on an entry: Pause or Resume, a choice of the settings,
// the user unit now, and Quit once the call is answered (quit set).
// Returns whether the entry is one.
bool take_click(int32_t id, const char *what, bool *quit)
{
    if (std::strcmp(what, "clicked") != 0 || !known_entry(id)) {
        return known_entry(id);
    }
    Chosen chosen;
    switch (id) {
    case toggleid:
        note_request(Control::toggle, {});
        break;
    case notinid:
        chosen = {Choice::listed, shown.program.names[0]};
        break;
    case fullscreenid:
        chosen.choice = Choice::fullscreen;
        break;
    case shortid:
    case mediumid:
    case longid:
        chosen.choice =
            shown.fixed
                ? Choice::none
                : static_cast<Choice>(static_cast<int>(Choice::shortglide) + (id - shortid));
        break;
    case signinid:
        set_unit(signin != 1);
        break;
    default:
        *quit = *quit || id == quitid;
        break;
    }
    if (chosen.choice != Choice::none) {
        note_choice(chosen);
    }
    return true;
}

// Ends glide with status 0, its answer sent.
void quit_if(bool quit)
{
    if (quit) {
        sd_bus_flush(menubus);
        quit_glide();
    }
}

// Event(id, what, data, time): a click, in particular.
int take_event(sd_bus_message *call, void * /*data*/, sd_bus_error *error)
{
    if (!from_own_user(call)) {
        return refuse_stranger(call);
    }
    int32_t id = 0;
    const char *what = nullptr;
    bool quit = false;
    if (sd_bus_message_read(call, "is", &id, &what) < 0 || !take_click(id, what, &quit)) {
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no entry %d", id);
    }
    const int answered = sd_bus_reply_method_return(call, "");
    quit_if(quit);
    return answered;
}

// EventGroup(a(isvu)), as XFCE's panel sends a click: answers the ids it
// does not know.
int take_event_group(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    if (!from_own_user(call)) {
        return refuse_stranger(call);
    }
    std::array<int32_t, 8> unknown{};
    size_t unknowns = 0;
    bool quit = false;
    if (sd_bus_message_enter_container(call, 'a', "(isvu)") > 0) {
        int32_t id = 0;
        const char *what = nullptr;
        while (sd_bus_message_enter_container(call, 'r', "isvu") > 0 &&
               sd_bus_message_read(call, "is", &id, &what) > 0 &&
               sd_bus_message_skip(call, "vu") >= 0 && sd_bus_message_exit_container(call) >= 0) {
            if (!take_click(id, what, &quit) && unknowns < unknown.size()) {
                unknown.at(unknowns++) = id;
            }
        }
    }
    sd_bus_message *reply = nullptr;
    int made = sd_bus_message_new_method_return(call, &reply);
    made = made >= 0 ? sd_bus_message_append_array(reply, 'i', unknown.data(),
                                                   unknowns * sizeof unknown[0])
                     : made;
    const int answered = send_reply(reply, made);
    quit_if(quit);
    return answered;
}

// About to be shown, the menu finds out whether glide's user unit has come,
// gone, or been enabled or disabled meanwhile.
int take_about_to_show(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    const int was = signin;
    signin = unit_state();
    if (signin != was) {
        relayout();
    }
    if (std::strcmp(sd_bus_message_get_member(call), "AboutToShow") == 0) {
        return sd_bus_reply_method_return(call, "b", static_cast<int>(signin != was));
    }
    return signin != was ? sd_bus_reply_method_return(call, "aiai", 1, rootid, 0)
                         : sd_bus_reply_method_return(call, "aiai", 0, 0);
}

int get_menu_property(sd_bus * /*bus*/, const char * /*path*/, const char * /*interface*/,
                      const char *property, sd_bus_message *reply, void * /*data*/,
                      sd_bus_error * /*error*/)
{
    const std::string_view name = property;
    if (name == "Version") {
        return sd_bus_message_append(reply, "u", 3);
    }
    if (name == "IconThemePath") {
        return sd_bus_message_append(reply, "as", 0);
    }
    return sd_bus_message_append(reply, "s", name == "TextDirection" ? "ltr" : "normal");
}

const auto menuvtable = std::to_array<sd_bus_vtable>({
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", get_menu_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", get_menu_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", get_menu_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", get_menu_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", get_layout, 0),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", get_group_properties, 0),
    SD_BUS_METHOD("Event", "isvu", "", take_event, 0),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", take_event_group, 0),
    SD_BUS_METHOD("AboutToShow", "i", "b", take_about_to_show, 0),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", take_about_to_show, 0),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END,
});

}  // namespace

bool serve_menu(sd_bus *bus)
{
    if (sd_bus_add_object_vtable(bus, nullptr, menupath, menuinterface, menuvtable.data(),
                                 nullptr) < 0) {
        return false;
    }
    menubus = bus;
    signin = unit_state();
    return true;
}

void show_menu_paused(bool paused)
{
    if (menubus != nullptr && paused != menupaused) {
        menupaused = paused;
        relayout();
    }
}

void show_tray_menu(const Menu &menu)
{
    if (menubus != nullptr && menu != shown) {
        shown = menu;
        relayout();
    }
}
