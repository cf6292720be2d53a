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
#include "dbusmenu.h"
#include "tray_icons.h"

namespace {

const char *const itempath = "/StatusNotifierItem";
const char *const iteminterface = "org.kde.StatusNotifierItem";
const char *const watcher = "org.kde.StatusNotifierWatcher";

// The bus the tray is served on, and the one it opened itself (X11), if so.
sd_bus *traybus;
sd_bus *ownbus;

// The item's name on the bus, as the watcher is told of it.
std::array<char, 64> itemname;

// What the item shows: whether glide is paused, and the tooltip's title,
// which says when glide is aside, and for which program.
bool traypaused;
std::array<char, 32 + namesize> traytitle{"glide"};

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
        !serve_menu(bus) || sd_bus_request_name(bus, itemname.data(), 0) < 0 ||
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
        sd_bus_emit_signal(traybus, itempath, iteminterface, "NewIcon", "");
        show_menu_paused(paused);
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
