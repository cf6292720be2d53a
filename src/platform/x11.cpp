// The pointer through the X server: everywhere on Linux but GNOME under
// Wayland.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "backends.h"
#include "desktop.h"
#include "platform.h"
#include "tray.h"

// The one connection, opened at start-up, and what it points at.
static Display *display;
static Window root;

// The window that owns glide's selection, GLIDE_S<screen>: the command line
// finds glide by it. A request comes to it as a GLIDE_CONTROL message: 1 to
// pause, 2 to resume, 3 to toggle, and the window to answer; glide answers
// that window with a GLIDE_CONTROL message once it has taken it in: 0 and
// whether it is paused, or 1 when too many requests wait. Its GLIDE_STATE
// property says "active", "paused" or "aside", and on a line of its own
// the program that has the focus, if any.
static Window owner;
static Atom controlatom;
static Atom stateatom;
static Atom utf8atom;

// The window that has the focus, as the window manager names it in
// _NET_ACTIVE_WINDOW, whose class and state glide follows; None where there
// is none, or no window manager that names one.
static Window activewindow;
static Atom activeatom;
static Atom wmstateatom;
static Atom fullscreenatom;

// Xlib's own handler of errors, which ends the program.
static XErrorHandler xliberrors;

// The screen's size as the server last reported it: the cursor is kept on it.
static int32_t screenwidth;
static int32_t screenheight;

// RandR's first event number, or -1 where the server lacks RandR; and
// whether it lists monitors (RandR 1.5).
static int randrevents = -1;
static bool randrmonitors;

// Set when the monitors may have changed since they were last listed.
static bool monitorschanged = true;

// XInput's major opcode, where the server has XInput 2.2 and glide is told
// of every device's motion (raw events, which a grab does not hold back);
// -1 where it is not, and glide cannot sleep at rest; and whether glide has
// said so.
static int xiopcode = -1;
static bool toldnoxinput;

// The devices' raw events, for the hand under --throw: those that came
// before the last read of the pointer, which its position takes in, and
// those after it, for the next. An event's serial is the last request the
// server had handled when it sent it, so one below the read's came first.
struct RawNews {
    int32_t reports;
    uint32_t time;  // the server's, in milliseconds, wrapping
    bool pressed;
};
static RawNews beforeread;
static RawNews afterread;
static unsigned long readserial;
// The server's time of the last report, unwrapped, once there was one.
static int64_t reporttime;
static uint32_t lastservertime;
static bool hasreporttime;

// Xlib calls this when the connection breaks, and would exit with a message
// of its own if it returned.
[[noreturn]] static int on_lost_display(Display *lost)
{
    std::fprintf(stderr, "glide: lost the display %s\n", DisplayString(lost));
    std::exit(1);
}

// Interns the atoms of glide's control, and returns the selection
// GLIDE_S<screen>, whose owner is the glide of the screen.
static Atom name_atoms()
{
    controlatom = XInternAtom(display, "GLIDE_CONTROL", False);
    stateatom = XInternAtom(display, "GLIDE_STATE", False);
    utf8atom = XInternAtom(display, "UTF8_STRING", False);
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "GLIDE_S%d", DefaultScreen(display));
    return XInternAtom(display, name.data(), False);
}

// Says on the owner window what glide does, and which program has the focus.
static void write_state(State state, const char *program)
{
    std::array<char, 16 + namesize> text{};
    const int length = std::snprintf(text.data(), text.size(), "%s%s%s", state_name(state),
                                     *program != '\0' ? "\n" : "", program);
    XChangeProperty(display, owner, stateatom, utf8atom, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(text.data()),
                    std::clamp(length, 0, static_cast<int>(text.size()) - 1));
}

// The window of a command line that went before glide answered it, and a
// window that had the focus and went before glide looked at it, are no
// fault of glide's; any other error is Xlib's to report, as it always was.
static int on_error(Display *errordisplay, XErrorEvent *error)
{
    if (error->error_code == BadWindow &&
        (error->request_code == X_SendEvent || error->request_code == X_ChangeWindowAttributes ||
         error->request_code == X_GetProperty)) {
        return 0;
    }
    return xliberrors(errordisplay, error);
}

// Reads a property of a window, of the given type and 8 or 32-bit format,
// into a buffer of Xlib's that the caller frees with XFree; nullptr where
// there is none (or the window has gone).
static unsigned char *read_property(Window window, Atom property, Atom type, int format, long most,
                                    unsigned long *count)
{
    Atom got = None;
    int gotformat = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, most, False, type, &got, &gotformat, count,
                           &after, &data) != Success ||
        got != type || gotformat != format || data == nullptr) {
        if (data != nullptr) {
            XFree(data);
        }
        *count = 0;
        return nullptr;
    }
    return data;
}

// Follows the window that has the focus: told of its class and state from
// here on, it takes in what they are now.
static void follow_focus()
{
    unsigned long count = 0;
    Window active = None;
    if (unsigned char *data = read_property(root, activeatom, XA_WINDOW, 32, 1, &count)) {
        // Format 32 comes as longs, whatever their size.
        active = count == 1 ? static_cast<Window>(*reinterpret_cast<const long *>(data)) : None;
        XFree(data);
    }
    if (active != activewindow) {
        if (activewindow != None) {
            XSelectInput(display, activewindow, NoEventMask);  // glide's interest alone
        }
        activewindow = active;
        if (active != None) {
            XSelectInput(display, active, PropertyChangeMask);
        }
    }
    Focus focus;
    if (active != None) {
        // WM_CLASS: the instance's name and the class's, each ended by a NUL.
        if (unsigned char *data = read_property(active, XA_WM_CLASS, XA_STRING, 8, 256, &count)) {
            const std::string_view both(reinterpret_cast<const char *>(data), count);
            const size_t end = std::min(both.find('\0'), both.size());
            name_focus(&focus, 0, both.substr(0, end));
            if (end < both.size()) {
                const std::string_view rest = both.substr(end + 1);
                name_focus(&focus, 1, rest.substr(0, std::min(rest.find('\0'), rest.size())));
            }
            // The class, capitalised as its program names itself, is the
            // friendlier.
            focus.names.at(friendliest) = focus.names[focus.names[1][0] != '\0' ? 1 : 0];
            XFree(data);
        }
        if (unsigned char *data = read_property(active, wmstateatom, XA_ATOM, 32, 64, &count)) {
            const auto *atoms = reinterpret_cast<const long *>(data);
            focus.fullscreen =
                std::find(atoms, atoms + count, static_cast<long>(fullscreenatom)) != atoms + count;
            XFree(data);
        }
    }
    note_focus(focus);
}

// Takes the selection GLIDE_S<screen>, as a window manager takes WM_S<n>, to
// be the only glide on the screen. The server lets go of it when glide's
// connection closes, however glide ends, so a crash leaves nothing stale
// behind. Returns false when another client holds it.
static bool own_screen()
{
    const Atom selection = name_atoms();
    owner = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    write_state(State::active, "");
    // A glide that has just died may own it until the server notices.
    const int64_t giveup = platform_clock() + 500;
    for (;;) {
        // Looked at and taken under a grab: of two copies started at once,
        // only one finds it free.
        XGrabServer(display);
        const bool free = XGetSelectionOwner(display, selection) == None;
        if (free) {
            XSetSelectionOwner(display, selection, owner, CurrentTime);
        }
        XUngrabServer(display);
        if (free && XGetSelectionOwner(display, selection) == owner) {
            return true;
        }
        const int64_t now = platform_clock();
        if (now >= giveup) {
            return false;
        }
        platform_wait_until(std::min(now + 50, giveup));
    }
}

// Asks to be told, or no longer, of every pointer device's movements: a raw
// motion event for each, even those made through XTest, and none for a
// warp; and of every press of a button. Paused, glide need not wake for them.
static void select_raw_motion(bool selected)
{
    if (xiopcode < 0) {
        return;
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    if (selected) {
        XISetMask(bits.data(), XI_RawMotion);
        XISetMask(bits.data(), XI_RawButtonPress);
    }
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display, root, &mask, 1);
}

// Finds XInput 2.2, and selects raw motion where the server has it.
static void find_raw_motion()
{
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;  // 2.0 would hold raw events back while another client grabs the pointer
    if (XQueryExtension(display, "XInputExtension", &xiopcode, &event, &error) == False ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        xiopcode = -1;
        return;
    }
    select_raw_motion(true);
}

// Opens the display, with the given handler of errors, or says why not.
static bool open_display(XErrorHandler errors)
{
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char *name = XDisplayName(nullptr);
        std::fprintf(stderr, "glide: cannot open display %s\n",
                     *name != '\0' ? name : "(DISPLAY is not set)");
        return false;
    }
    XSetIOErrorHandler(on_lost_display);
    xliberrors = XSetErrorHandler(errors);
    root = DefaultRootWindow(display);
    return true;
}

int x11_open()
{
    if (!open_display(on_error)) {
        return 1;
    }
    if (!own_screen()) {
        std::fprintf(stderr, "glide: another glide is already running on display %s\n",
                     DisplayString(display));
        return 3;
    }
    // Told of every change of the screen's size, of the monitors and of the
    // window that has the focus from here on, and asked for them after
    // that, so that no change falls in between.
    XSelectInput(display, root, StructureNotifyMask | PropertyChangeMask);
    activeatom = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    wmstateatom = XInternAtom(display, "_NET_WM_STATE", False);
    fullscreenatom = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    follow_focus();
    int errors = 0;
    int major = 0;
    int minor = 0;
    if (XRRQueryExtension(display, &randrevents, &errors) != False &&
        XRRQueryVersion(display, &major, &minor) != 0) {
        randrmonitors = major > 1 || (major == 1 && minor >= 5);
        XRRSelectInput(display, root,
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask |
                           RROutputChangeNotifyMask);
    } else {
        randrevents = -1;
    }
    find_raw_motion();
    open_tray();
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    screenwidth = attributes.width;
    screenheight = attributes.height;
    return platform_ready;
}

// Counts a device's raw event as news of the hand for the read it came
// before. Returns whether it was motion, which wakes glide at rest; a press
// does not.
static bool take_raw(XGenericEventCookie &cookie)
{
    const bool motion = cookie.evtype == XI_RawMotion;
    if (!motion && cookie.evtype != XI_RawButtonPress) {
        return false;
    }
    const bool before = static_cast<long>(cookie.serial - readserial) < 0;
    RawNews &news = before ? beforeread : afterread;
    if (!motion) {
        news.pressed = true;
    } else if (XGetEventData(display, &cookie) != False) {
        news.reports = std::min(news.reports + 1, int32_t{1} << 30);
        news.time = static_cast<uint32_t>(static_cast<const XIRawEvent *>(cookie.data)->time);
        XFreeEventData(display, &cookie);
    }
    return motion;
}

// Sends a GLIDE_CONTROL message, to the client that made the window.
static void send_control_message(Window to, long first, long second)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = to;
    event.xclient.message_type = controlatom;
    event.xclient.format = 32;
    event.xclient.data.l[0] = first;
    event.xclient.data.l[1] = second;
    XSendEvent(display, to, False, NoEventMask, &event);
}

// Sends the window of a command line glide's answer: 0 for a request taken
// in, or 1 when too many wait; and whether glide is paused.
static void send_answer(Window to, long answer, bool paused)
{
    send_control_message(to, answer, paused ? 1 : 0);
}

// Keeps a command line's request for the loop, which any wait ends for.
static void take_request(const XClientMessageEvent &message)
{
    const Control control = requested(message.data.l[0]);
    const auto asker = static_cast<Window>(message.data.l[1]);
    if (control != Control::none && !note_request(control, {asker, nullptr})) {
        send_answer(asker, 1, false);
    }
}

// Sleeps until the server sends something, a signal comes, the tray is
// called, or for the given milliseconds (-1: no end); takes in the signals
// and the tray's calls that came. Returns whether the time ran out.
static bool wait_on_server(int timeout)
{
    // poll, not Xlib's own reading: that would block for an event with no
    // end in sight.
    XFlush(display);
    int wait = timeout;
    const NewsDescriptors news = news_descriptors();
    std::array<pollfd, 4> fds{
        {{ConnectionNumber(display), POLLIN, 0}, tray_descriptor(&wait), news[0], news[1]}};
    const int ready = poll(fds.data(), fds.size(), wait);
    take_news_descriptors({fds[2], fds[3]});
    take_tray_messages();
    return ready == 0 && wait == timeout;
}

// Takes the events that have come, without waiting on the server: the
// screen's size, word that the monitors may have changed, and the devices'
// movements; with QueuedAlready, only those Xlib has read. Returns whether
// any of them should wake glide at rest.
static bool take_events(int queued = QueuedAfterReading)
{
    bool woken = false;
    // Those Xlib has queued first, then what the connection holds already.
    while (XEventsQueued(display, queued) > 0) {
        XEvent event{};
        XNextEvent(display, &event);
        if (event.type == ConfigureNotify && event.xconfigure.window == root) {
            // A resize sends it, and so does a change of the monitors alone
            // (xrandr --setmonitor).
            screenwidth = event.xconfigure.width;
            screenheight = event.xconfigure.height;
            monitorschanged = true;
            woken = true;
        } else if (randrevents >= 0 && (event.type == randrevents + RRScreenChangeNotify ||
                                        event.type == randrevents + RRNotify)) {
            monitorschanged = true;
            woken = true;
        } else if (event.type == GenericEvent && event.xcookie.extension == xiopcode) {
            woken = take_raw(event.xcookie) || woken;
        } else if (event.type == ClientMessage && event.xclient.window == owner &&
                   event.xclient.message_type == controlatom && event.xclient.format == 32) {
            take_request(event.xclient);
        } else if (event.type == PropertyNotify &&
                   ((event.xproperty.window == root && event.xproperty.atom == activeatom) ||
                    (event.xproperty.window == activewindow && activewindow != None &&
                     (event.xproperty.atom == wmstateatom ||
                      event.xproperty.atom == XA_WM_CLASS)))) {
            follow_focus();
        }
    }
    return woken;
}

void x11_screen_size(int32_t *width, int32_t *height)
{
    take_events();
    *width = screenwidth;
    *height = screenheight;
}

void x11_monitors()
{
    if (!monitorschanged) {
        return;
    }
    monitorschanged = false;
    clear_monitors();
    int listed = 0;
    if (randrmonitors) {
        int count = 0;
        XRRMonitorInfo *monitors = XRRGetMonitors(display, root, True, &count);
        if (monitors != nullptr) {
            for (; listed < count; ++listed) {
                const XRRMonitorInfo &m = monitors[listed];
                add_monitor({m.x, m.y, int64_t{m.x} + m.width, int64_t{m.y} + m.height});
            }
            XRRFreeMonitors(monitors);
        }
    }
    if (listed == 0) {
        // No RandR 1.5, or no monitor listed (Xvfb after a resize): the root
        // window is the one monitor.
        add_monitor({0, 0, screenwidth, screenheight});
    }
}

// Moves the news that came after the last read to before the next.
static void fold_after_read()
{
    if (afterread.reports > 0) {
        beforeread.reports = std::min(beforeread.reports + afterread.reports, int32_t{1} << 30);
        beforeread.time = afterread.time;
    }
    beforeread.pressed = beforeread.pressed || afterread.pressed;
    afterread = {};
}

bool x11_read_cursor(int32_t *x, int32_t *y)
{
    Window rootreturn = 0;
    Window child = 0;
    int rootx = 0;
    int rooty = 0;
    int winx = 0;
    int winy = 0;
    unsigned int mask = 0;
    // What came after the last read came before this one; what comes in
    // with this one's answer sorts itself by its serial.
    fold_after_read();
    readserial = NextRequest(display);
    // False when the pointer is on another screen: no position on ours.
    const Bool onscreen =
        XQueryPointer(display, root, &rootreturn, &child, &rootx, &rooty, &winx, &winy, &mask);
    take_events(QueuedAlready);  // those that came before the answer, at least
    if ((mask & (Button1Mask | Button2Mask | Button3Mask)) != 0) {
        beforeread.pressed = true;  // held: a drag, which is no flick
    }
    if (onscreen == False) {
        return false;
    }
    *x = rootx;
    *y = rooty;
    return true;
}

HandNews x11_take_hand()
{
    HandNews news{beforeread.reports, 0, true, beforeread.pressed};
    if (beforeread.reports > 0) {
        // Unwrapped from the server's 32 bits: it wraps every 49 days.
        reporttime = hasreporttime
                         ? reporttime + static_cast<int32_t>(beforeread.time - lastservertime)
                         : int64_t{beforeread.time};
        lastservertime = beforeread.time;
        hasreporttime = true;
        news.time = reporttime;
    }
    beforeread = {};
    return news;
}

bool x11_hears_hand()
{
    return xiopcode >= 0;
}

void x11_set_cursor(int32_t x, int32_t y)
{
    // The protocol carries 16-bit coordinates: a target past 32767 would wrap
    // to the other side, so keep it on the screen first.
    const int32_t lastx = std::clamp(screenwidth, 1, 32768) - 1;
    const int32_t lasty = std::clamp(screenheight, 1, 32768) - 1;
    XWarpPointer(display, None, root, 0, 0, 0, 0, std::clamp(x, 0, lastx), std::clamp(y, 0, lasty));
    XFlush(display);
}

void x11_wait_for_input(int64_t clock)
{
    if (xiopcode < 0) {
        if (!toldnoxinput) {
            toldnoxinput = true;
            std::fputs("glide: the X server lacks XInput 2.2: ticking on while the cursor rests\n",
                       stderr);
        }
        return;
    }
    while (!take_events() && !news_waiting()) {
        const int64_t left = clock - platform_clock();
        // Whole milliseconds of a clock that truncates: never an early wake.
        if (left <= 0 || wait_on_server(static_cast<int>(std::min<int64_t>(left, 1000000)))) {
            return;
        }
    }
}

void x11_take_news()
{
    take_events();
    take_tray_messages();
}

void x11_answer(unsigned long window, bool paused)
{
    send_answer(window, 0, paused);
}

void x11_show_state(State state, const char *program)
{
    write_state(state, program);
    select_raw_motion(state == State::active);
    XFlush(display);
}

void x11_wait_for_news()
{
    // With no raw motion selected, only news, a change of the screen, or a
    // signal wakes it.
    for (take_events(); !news_waiting(); take_events()) {
        wait_on_server(-1);
    }
}

// Set by the command line's handler of errors: a request of its failed, as
// the glide it asks has gone.
static bool failed;

static int note_error(Display * /*errordisplay*/, XErrorEvent * /*error*/)
{
    failed = true;
    return 0;
}

// Prints what the GLIDE_STATE property of the glide's window says. Returns
// the status to exit with.
static int print_state(Window glide)
{
    unsigned long count = 0;
    unsigned char *data = read_property(glide, stateatom, utf8atom, 8, 64, &count);
    const std::string_view text =
        data != nullptr && !failed ? std::string_view(reinterpret_cast<char *>(data), count) : "";
    const std::string_view state = text.substr(0, std::min(text.find('\n'), text.size()));
    const bool known = state == "active" || state == "paused" || state == "aside";
    if (known) {
        std::fputs(status_text(state, text.substr(std::min(state.size() + 1, text.size()))).data(),
                   stdout);
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (failed) {
        std::fputs(noglide, stderr);
    } else if (!known) {
        std::fputs(glidesilent, stderr);
    }
    return known ? 0 : 1;
}

// Sends the glide's window a request, and waits five seconds at most for
// the answer. Returns the status to exit with.
static int ask(Window glide, long code)
{
    const Window asker = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    // Told if the glide ends before it answers.
    XSelectInput(display, glide, StructureNotifyMask);
    send_control_message(glide, code, static_cast<long>(asker));
    XSync(display, False);
    const int64_t deadline = platform_clock() + 5000;
    while (!failed) {
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            if (event.type == DestroyNotify && event.xdestroywindow.window == glide) {
                failed = true;
            } else if (event.type == ClientMessage && event.xclient.window == asker &&
                       event.xclient.message_type == controlatom) {
                if (event.xclient.data.l[0] == 0) {
                    return 0;
                }
                std::fputs(glidebusy, stderr);
                return 1;
            }
        }
        const int64_t left = deadline - platform_clock();
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        if (!failed && (left <= 0 || poll(&connection, 1, static_cast<int>(left)) == 0)) {
            std::fputs(glidesilent, stderr);
            return 1;
        }
    }
    std::fputs(noglide, stderr);
    return 1;
}

int x11_send_control(Control control)
{
    if (!open_display(note_error)) {
        return 1;
    }
    const Window glide = XGetSelectionOwner(display, name_atoms());
    int status = 1;
    if (glide == None) {
        std::fputs(noglide, stderr);
    } else if (control == Control::status) {
        status = print_state(glide);
    } else {
        status = ask(glide, request_code(control));
    }
    XCloseDisplay(display);
    return status;
}
