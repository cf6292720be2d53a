#include "tray.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "backends.h"
#include "bus.h"
#include "tray_icons.h"

namespace {

const char *const itempath = "/StatusNotifierItem";
const char *const iteminterface = "org.kde.StatusNotifierItem";
const char *const menupath = "/MenuBar";
const char *const menuinterface = "com.canonical.dbusmenu";
const char *const watcher = "org.kde.StatusNotifierWatcher";

// The bus the tray is served on, and the one it opened itself (X11), if so.
sd_bus *traybus;
sd_bus *ownbus;

// The item's name on the bus, as the watcher is told of it.
std::array<char, 64> itemname;

// What the item shows, and the menu's layout's revision, which changes
// with the entry's label.
bool traypaused;
uint32_t revision = 1;
// The tooltip's title, which says when glide is aside, and for which program.
std::array<char, 32 + namesize> traytitle{"glide"};

// The menu's entries: the root's children.
constexpr int32_t rootid = 0;
constexpr int32_t toggleid = 1;
constexpr int32_t separatorid = 2;
constexpr int32_t quitid = 3;
constexpr std::array<int32_t, 3> entries{toggleid, separatorid, quitid};

// Tells the watcher of the item. A missing watcher's error is no news.
void register_item()
{
    call_unanswered(traybus, watcher, "/StatusNotifierWatcher", watcher,
                    "RegisterStatusNotifierItem", "s", itemname.data());
}

// A watcher that comes (a panel started again) is told of the item.
int take_watcher_change(sd_bus_message *message, void * /*data*/, sd_bus_error * /*error*/)
{
    const char *name = nullptr;
    const char *before = nullptr;
    const char *now = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &now) > 0 && *now != '\0') {
        register_item();
    }
    return 0;
}

// The pixmaps of the icon as shown now, smallest first: a(iiay).
int append_pixmaps(sd_bus_message *reply)
{
    int appended = sd_bus_message_open_container(reply, 'a', "(iiay)");
    for (const TrayPixmap &pixmap : traypaused ? pausedpixmaps : activepixmaps) {
        if (appended >= 0) {
            appended = sd_bus_message_open_container(reply, 'r', "iiay");
        }
        if (appended >= 0) {
            appended = sd_bus_message_append(reply, "ii", pixmap.size, pixmap.size);
        }
        if (appended >= 0) {
            appended =
                sd_bus_message_append_array(reply, 'y', pixmap.argb.data(), pixmap.argb.size());
        }
        if (appended >= 0) {
            appended = sd_bus_message_close_container(reply);
        }
    }
    return appended >= 0 ? sd_bus_message_close_container(reply) : appended;
}

const char *icon_name()
{
    return traypaused ? "glide-paused" : "glide";
}

// The tooltip, (sa(iiay)ss): its icon, its title, and what a click does.
int append_tooltip(sd_bus_message *reply)
{
    int appended = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
    appended = appended >= 0 ? sd_bus_message_append(reply, "s", icon_name()) : appended;
    appended = appended >= 0 ? append_pixmaps(reply) : appended;
    appended = appended >= 0
                   ? sd_bus_message_append(reply, "ss", traytitle.data(),
                                           traypaused ? "Click to resume" : "Click to pause")
                   : appended;
    return appended >= 0 ? sd_bus_message_close_container(reply) : appended;
}

// Every property of the item, by its name.
int get_item_property(sd_bus * /*bus*/, const char * /*path*/, const char * /*interface*/,
                      const char *property, sd_bus_message *reply, void * /*data*/,
                      sd_bus_error * /*error*/)
{
    const std::string_view name = property;
    if (name == "Category") {
        return sd_bus_message_append(reply, "s", "ApplicationStatus");
    }
    if (name == "Id" || name == "Title") {
        return sd_bus_message_append(reply, "s", "glide");
    }
    if (name == "Status") {
        return sd_bus_message_append(reply, "s", "Active");
    }
    if (name == "WindowId") {
        return sd_bus_message_append(reply, "i", 0);
    }
    if (name == "IconName") {
        return sd_bus_message_append(reply, "s", icon_name());
    }
    if (name == "IconPixmap") {
        return append_pixmaps(reply);
    }
    if (name == "ToolTip") {
        return append_tooltip(reply);
    }
    if (name == "ItemIsMenu") {
        return sd_bus_message_append(reply, "b", 0);  // a click is Activate
    }
    if (name == "Menu") {
        return sd_bus_message_append(reply, "o", menupath);
    }
    if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") {
        return sd_bus_message_append(reply, "a(iiay)", 0);
    }
    return sd_bus_message_append(reply, "s", "");  // the overlay, attention and theme path
}

// Whatever acts on glide comes from its own user alone.
int refuse_stranger(sd_bus_message *call)
{
    return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_ACCESS_DENIED,
                                      "glide takes requests from its own user alone");
}

// A click on the icon pauses or resumes glide; the others do nothing.
int take_item_call(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    if (std::strcmp(sd_bus_message_get_member(call), "Activate") == 0) {
        if (!from_own_user(call)) {
            return refuse_stranger(call);
        }
        note_request(Control::toggle, {});
    }
    return sd_bus_reply_method_return(call, "");
}

const auto itemvtable = std::to_array<sd_bus_vtable>({
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("WindowId", "i", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", get_item_property, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", get_item_property, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", get_item_property, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconName", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", get_item_property, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionMovieName", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "s", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", get_item_property, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", get_item_property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("Activate", "ii", "", take_item_call, 0),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", take_item_call, 0),
    SD_BUS_METHOD("ContextMenu", "ii", "", take_item_call, 0),
    SD_BUS_METHOD("Scroll", "is", "", take_item_call, 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
});

// An entry's properties, a{sv}: the root's are its children's display.
int append_entry_properties(sd_bus_message *reply, int32_t id)
{
    switch (id) {
    case rootid:
        return sd_bus_message_append(reply, "a{sv}", 1, "children-display", "s", "submenu");
    case toggleid:
        return sd_bus_message_append(reply, "a{sv}", 1, "label", "s",
                                     traypaused ? "Resume" : "Pause");
    case separatorid:
        return sd_bus_message_append(reply, "a{sv}", 1, "type", "s", "separator");
    default:
        return sd_bus_message_append(reply, "a{sv}", 1, "label", "s", "Quit");
    }
}

bool known_entry(int32_t id)
{
    return id == rootid || std::find(entries.begin(), entries.end(), id) != entries.end();
}

// Opens an entry, (ia{sv}av), as far as its children; close_entry() closes
// it after them.
int open_entry(sd_bus_message *reply, int32_t id)
{
    int appended = sd_bus_message_open_container(reply, 'r', "ia{sv}av");
    appended = appended >= 0 ? sd_bus_message_append(reply, "i", id) : appended;
    appended = appended >= 0 ? append_entry_properties(reply, id) : appended;
    return appended >= 0 ? sd_bus_message_open_container(reply, 'a', "v") : appended;
}

int close_entry(sd_bus_message *reply)
{
    const int closed = sd_bus_message_close_container(reply);
    return closed >= 0 ? sd_bus_message_close_container(reply) : closed;
}

// An entry, with its children down to depth (-1: all): the root's are the
// others, which have none.
int append_entry(sd_bus_message *reply, int32_t id, int32_t depth)
{
    int appended = open_entry(reply, id);
    if (id == rootid && depth != 0) {
        for (const int32_t child : entries) {
            appended =
                appended >= 0 ? sd_bus_message_open_container(reply, 'v', "(ia{sv}av)") : appended;
            appended = appended >= 0 ? open_entry(reply, child) : appended;
            appended = appended >= 0 ? close_entry(reply) : appended;
            appended = appended >= 0 ? sd_bus_message_close_container(reply) : appended;
        }
    }
    return appended >= 0 ? close_entry(reply) : appended;
}

// Sends a reply once made, or returns why it could not be made, which
// sd-bus answers the call with.
int send_reply(sd_bus_message *reply, int made)
{
    const int sent = made >= 0 ? sd_bus_send(nullptr, reply, nullptr) : made;
    sd_bus_message_unref(reply);
    return sent;
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
    std::array<int32_t, 8> ids{};
    const size_t count = std::min(size / sizeof(int32_t), ids.size());
    std::memcpy(ids.data(), asked, count * sizeof(int32_t));
    sd_bus_message *reply = nullptr;
    made = made >= 0 ? sd_bus_message_new_method_return(call, &reply) : made;
    made = made >= 0 ? sd_bus_message_open_container(reply, 'a', "(ia{sv})") : made;
    // No ids asks for them all.
    for (const int32_t id : count > 0 ? std::span<const int32_t>(ids.data(), count)
                                      : std::span<const int32_t>(entries)) {
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

// Acts on a click on an entry: Pause or Resume now, and Quit once the call
// is answered (quit set). Returns whether the entry is one.
bool take_click(int32_t id, const char *what, bool *quit)
{
    if (std::strcmp(what, "clicked") == 0) {
        if (id == toggleid) {
            note_request(Control::toggle, {});
        }
        *quit = *quit || id == quitid;
    }
    return known_entry(id);
}

// Ends glide with status 0, its answer sent.
void quit_if(bool quit)
{
    if (quit) {
        sd_bus_flush(traybus);
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

// The menu never changes before it is shown.
int take_about_to_show(sd_bus_message *call, void * /*data*/, sd_bus_error * /*error*/)
{
    if (std::strcmp(sd_bus_message_get_member(call), "AboutToShow") == 0) {
        return sd_bus_reply_method_return(call, "b", 0);
    }
    return sd_bus_reply_method_return(call, "aiai", 0, 0);
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

// Forgets the tray's own bus, lost: glide goes on without a tray.
void lose_tray()
{
    traybus = nullptr;
    ownbus = sd_bus_flush_close_unref(ownbus);
}

}  // namespace

void start_tray(sd_bus *bus)
{
    std::snprintf(itemname.data(), itemname.size(), "org.kde.StatusNotifierItem-%d-1",
                  static_cast<int>(getpid()));
    if (sd_bus_add_object_vtable(bus, nullptr, itempath, iteminterface, itemvtable.data(),
                                 nullptr) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, menupath, menuinterface, menuvtable.data(),
                                 nullptr) < 0 ||
        sd_bus_request_name(bus, itemname.data(), 0) < 0 ||
        sd_bus_add_match(bus, nullptr,
                         "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                         "arg0='org.kde.StatusNotifierWatcher'",
                         take_watcher_change, nullptr) < 0) {
        return;  // no tray, and no word of it
    }
    traybus = bus;
    register_item();
}

void show_tray_state(State state, const char *program)
{
    std::array<char, 32 + namesize> title{};
    std::snprintf(title.data(), title.size(), "%s%s",
                  state == State::paused  ? "glide: paused"
                  : state == State::aside ? "glide: aside for "
                                          : "glide",
                  state == State::aside ? program : "");
    const bool paused = state == State::paused;
    if (traybus == nullptr || (paused == traypaused && title == traytitle)) {
        return;
    }
    traytitle = title;
    if (paused != traypaused) {
        traypaused = paused;
        ++revision;
        sd_bus_emit_signal(traybus, itempath, iteminterface, "NewIcon", "");
        sd_bus_emit_signal(traybus, menupath, menuinterface, "LayoutUpdated", "ui", revision,
                           rootid);
    }
    sd_bus_emit_signal(traybus, itempath, iteminterface, "NewToolTip", "");
    sd_bus_flush(traybus);
}

void open_tray()
{
    if (sd_bus_open_user(&ownbus) < 0) {
        ownbus = nullptr;
        return;
    }
    start_tray(ownbus);
    if (traybus == nullptr) {
        lose_tray();
    }
}

pollfd tray_descriptor(int *timeout)
{
    if (ownbus == nullptr) {
        return {-1, 0, 0};
    }
    if (sd_bus_flush(ownbus) < 0) {
        lose_tray();
        return {-1, 0, 0};
    }
    *timeout = bus_timeout(ownbus, *timeout);
    return {sd_bus_get_fd(ownbus), static_cast<short>(std::max(sd_bus_get_events(ownbus), 0)), 0};
}

void take_tray_messages()
{
    if (ownbus == nullptr) {
        return;
    }
    for (int processed = 1; processed > 0;) {
        processed = sd_bus_process(ownbus, nullptr);
        if (processed < 0) {
            lose_tray();
            return;
        }
    }
}
