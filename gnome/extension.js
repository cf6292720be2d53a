// glide's GNOME Shell extension: under Wayland only the compositor may read
// and move the pointer over the desktop, so it lends glide the pointer over
// the session bus. It serves the one glide that claimed it, until that
// glide's connection goes, and lends nothing to anyone else.
//
// The build makes two extensions of this one file: the lines marked 43-44
// for GNOME 43 and 44, which load extensions as scripts, and those marked
// 45- for GNOME 45 onward, which load them as ES modules.
//
// What it calls of GNOME, read in the sources of mutter and gnome-shell at
// every release tag from 43.0 to 50.4, at 51.alpha and 51.beta, and on both
// main branches of August 2026 (scripts/gnome-api lists it so):
//   global.get_pointer, .display, .stage, .backend   43 on
//   Clutter.ModifierType.BUTTON1_MASK to 3          43 on
//   global.compositor                                44 on
//   global.display.get_size, .get_n_monitors,
//     .get_monitor_geometry                          43 on
//   Main.layoutManager and its monitors-changed      43 on
//   Extension (extensions/extension.js)              45 on
//   Meta.LaterType.BEFORE_REDRAW                     43 on
//   Meta.later_add, Meta.later_remove                43 only
//   global.compositor.get_laters, laters.add,
//     laters.remove                                  44 on
//   Meta.CursorTracker.get_for_display               43 to 47
//   global.backend.get_cursor_tracker                48 on
//   the tracker's position-invalidated               43 on
//   Clutter.get_default_backend                      43 to 51.beta; gone
//                                                    from main since
//   global.stage.context.get_backend                 47 on
//   backend.get_default_seat, seat.warp_pointer      43 on
//   QuickSettings.QuickMenuToggle, its label         43 only
//   QuickSettings.QuickMenuToggle, its title,
//     subtitle                                       44 on
//   the toggle's menu, and Quick Settings' menu,
//     and their open-state-changed                   43 on
//   PopupMenu.PopupMenuItem, PopupSubMenuMenuItem,
//     Ornament.NONE, DOT, CHECK, setOrnament,
//     setSensitive, removeAll, addMenuItem           43 on
//   QuickSettings.SystemIndicator                    43 on
//   Main.panel.statusArea.quickSettings              43 on
//   quickSettings._indicators, _addItems             43 to 44
//   quickSettings.addExternalIndicator               45 on
//   Main.wm.addKeybinding, removeKeybinding          43 on
//   Shell.ActionMode.NORMAL, OVERVIEW, POPUP         43 on
//   Meta.KeyBindingFlags.NONE                        43 on
//   Config.PACKAGE_VERSION                           43 on
//   ExtensionUtils.getSettings, getCurrentExtension  43 to 44
//   Extension's getSettings, path                    45 on
//   global.display's focus-window (notify::)         43 on
//   a window's fullscreen, wm-class (notify::),
//     get_wm_class                                   43 on
//   Shell.WindowTracker.get_default,
//     get_window_app, app.get_id, app.get_name       43 on
// enable() picks, once, what the running GNOME has of those that come and
// go. GLib's and Gio's calls are older than GNOME 43 and unchanged since.
const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;  // 43-44
const Main = imports.ui.main;  // 43-44
const QuickSettings = imports.ui.quickSettings;  // 43-44
const PopupMenu = imports.ui.popupMenu;  // 43-44
const Config = imports.misc.config;  // 43-44
const ExtensionUtils = imports.misc.extensionUtils;  // 43-44
import Clutter from 'gi://Clutter';  // 45-
import Gio from 'gi://Gio';  // 45-
import GLib from 'gi://GLib';  // 45-
import Meta from 'gi://Meta';  // 45-
import Shell from 'gi://Shell';  // 45-
import * as Main from 'resource:///org/gnome/shell/ui/main.js';  // 45-
import * as QuickSettings from 'resource:///org/gnome/shell/ui/quickSettings.js';  // 45-
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';  // 45-
import * as Config from 'resource:///org/gnome/shell/misc/config.js';  // 45-
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';  // 45-

const NAME = 'org.glide.Pointer';
const PATH = '/org/glide/Pointer';
const ERROR = 'org.glide.Pointer.Error';

const INTERFACE = `<node>
  <interface name="${NAME}">
    <!-- Makes the caller the one glide served, until its connection goes,
         and starts counting the answers that tell it where the pointer is. -->
    <method name="Claim"/>
    <!-- The pointer's position, and which of its first three buttons are
         held (a bit each, the first lowest). -->
    <method name="Read">
      <arg direction="out" type="i" name="x"/>
      <arg direction="out" type="i" name="y"/>
      <arg direction="out" type="u" name="buttons"/>
    </method>
    <!-- Reads the pointer, moves it on by (dx, dy), kept on the screen,
         and tells where it is then, and its buttons. -->
    <method name="MoveBy">
      <arg direction="in" type="i" name="dx"/>
      <arg direction="in" type="i" name="dy"/>
      <arg direction="out" type="i" name="x"/>
      <arg direction="out" type="i" name="y"/>
      <arg direction="out" type="u" name="buttons"/>
    </method>
    <!-- The screen's size and each monitor's x, y, width and height. -->
    <method name="Desktop">
      <arg direction="out" type="i" name="width"/>
      <arg direction="out" type="i" name="height"/>
      <arg direction="out" type="a(iiii)" name="monitors"/>
    </method>
    <!-- Sent to glide alone: the pointer has moved (at most once a frame),
         after so many answers to Read and MoveBy, with its buttons, how many
         moves it made since the last Moved and when the last was made (on
         GLib's monotonic clock, in microseconds); and the monitors have
         changed. -->
    <signal name="Moved">
      <arg type="i" name="x"/>
      <arg type="i" name="y"/>
      <arg type="u" name="answers"/>
      <arg type="u" name="buttons"/>
      <arg type="u" name="moves"/>
      <arg type="x" name="movedat"/>
    </signal>
    <signal name="DesktopChanged"/>
    <!-- From glide alone: whether it is "active", "paused" or "aside", and
         the program that has the focus, which the toggle shows. -->
    <method name="ShowState">
      <arg direction="in" type="s" name="state"/>
      <arg direction="in" type="s" name="program"/>
    </method>
    <!-- Sent to glide alone, once at its claim and on every change: the
         program that has the focus, by its application's id (empty where
         GNOME knows no application of it), its window's class and its
         friendliest name, and whether that window is full screen. -->
    <signal name="Focus">
      <arg type="s" name="app"/>
      <arg type="s" name="class"/>
      <arg type="s" name="label"/>
      <arg type="b" name="fullscreen"/>
    </signal>
    <!-- From glide alone: what the toggle's menu shows of its settings. The
         program to name "Not in", by the name glide lists and by its
         friendliest (none: no such entry), and whether it is listed;
         whether glide steps aside in full screen; the glide chosen, 0 to 2
         for short to long (-1: none); and the command line's friction,
         which the menu then names, and cannot change (empty: none). -->
    <method name="ShowMenu">
      <arg direction="in" type="s" name="program"/>
      <arg direction="in" type="s" name="label"/>
      <arg direction="in" type="b" name="listed"/>
      <arg direction="in" type="b" name="fullscreen"/>
      <arg direction="in" type="i" name="glide"/>
      <arg direction="in" type="s" name="fixed"/>
    </method>
    <!-- Sent to glide alone: a choice in the toggle's menu, "listed" (for
         the program named), "fullscreen", "short", "medium" or "long". -->
    <signal name="Choose">
      <arg type="s" name="choice"/>
      <arg type="s" name="program"/>
    </signal>
    <!-- Sent to glide alone: pause or resume, from the toggle or the
         shortcut. -->
    <signal name="Toggle"/>
  </interface>
</node>`;

// The shortcut's key in the extension's schema.
const SHORTCUT = 'toggle-glide';

// GNOME 44 moved the laters, which run a function before the next frame is
// drawn, from Meta onto the compositor; on 43 these stand in for them.
const META_LATERS = {
    add: (when, func) => Meta.later_add(when, func),
    remove: id => Meta.later_remove(id),
};

// The pointer's position, and its first three buttons held, a bit each:
// what glide needs to tell a press, which stops a glide.
function pointer() {
    const [x, y, mods] = global.get_pointer();
    const {BUTTON1_MASK, BUTTON2_MASK, BUTTON3_MASK} = Clutter.ModifierType;
    const held = (mods & BUTTON1_MASK ? 1 : 0) | (mods & BUTTON2_MASK ? 2 : 0) |
        (mods & BUTTON3_MASK ? 4 : 0);
    return [x, y, held];
}

// GNOME 48 reaches the cursor tracker through the backend, and no longer
// through the display.
function findCursorTracker() {
    return global.backend.get_cursor_tracker
        ? global.backend.get_cursor_tracker()
        : Meta.CursorTracker.get_for_display(global.display);
}

// GNOME 47 reaches Clutter's backend through the stage's context; Clutter's
// default backend goes after 51.beta.
function findSeat() {
    const backend = global.stage.context
        ? global.stage.context.get_backend()
        : Clutter.get_default_backend();
    return backend.get_default_seat();
}

class Lender {  // 43-44
export default class Lender extends Extension {  // 45-
    enable() {
        this._settings = ExtensionUtils.getSettings();  // 43-44
        const folder = ExtensionUtils.getCurrentExtension().path;  // 43-44
        this._settings = this.getSettings();  // 45-
        const folder = this.path;  // 45-
        this._menu = {program: '', label: '', listed: false, fullscreen: true, glide: 1, fixed: ''};
        this._addToggle(folder);
        this._focused = null;
        this._focusedWatch = [];
        Main.wm.addKeybinding(SHORTCUT, this._settings, Meta.KeyBindingFlags.NONE,
            Shell.ActionMode.NORMAL | Shell.ActionMode.OVERVIEW | Shell.ActionMode.POPUP,
            () => this._emit('Toggle', null));
        this._holder = null;
        this._watch = 0;
        this._moved = 0;
        this._later = 0;
        this._told = 0;
        this._moves = 0;
        this._movedAt = 0;
        this._laters = global.compositor?.get_laters() ?? META_LATERS;
        this._tracker = findCursorTracker();
        this._seat = findSeat();
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, PATH);
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._object.unexport();
        this._object = null;
        this._release();
        Main.wm.removeKeybinding(SHORTCUT);
        Main.panel.statusArea.quickSettings.menu.disconnect(this._opened);
        this._toggle.destroy();
        this._indicator.destroy();
        this._toggle = this._indicator = this._settings = null;
    }

    // The toggle in Quick Settings, titled "glide" with glide's icon: shown
    // while a glide holds the pointer, on unless it is paused, and saying
    // when it is aside, and for which program; a click asks it to pause or
    // resume, and it tells whether it did. Its menu holds glide's settings.
    _addToggle(folder) {
        // GNOME 43 names a toggle by its label, 44 on by its title, under
        // which a subtitle says more; 43 says it in the label's tail.
        this._old = Config.PACKAGE_VERSION.startsWith('43.');
        this._toggle = new QuickSettings.QuickMenuToggle({
            [this._old ? 'label' : 'title']: 'glide',
            gicon: Gio.icon_new_for_string(`${folder}/glide-symbolic.svg`),
            toggleMode: false,
            visible: false,
        });
        this._toggle.connect('clicked', () => this._emit('Toggle', null));
        // The program named is the one that had the focus as Quick Settings
        // opened.
        const quickSettings = Main.panel.statusArea.quickSettings;
        this._opened = quickSettings.menu.connect('open-state-changed', (_menu, open) => {
            if (open)
                this._fillMenu(this._menu);
        });
        this._indicator = new QuickSettings.SystemIndicator();
        this._indicator.quickSettingsItems.push(this._toggle);
        if (quickSettings.addExternalIndicator) {
            quickSettings.addExternalIndicator(this._indicator);
        } else {
            quickSettings._indicators.insert_child_at_index(this._indicator, 0);
            quickSettings._addItems(this._indicator.quickSettingsItems);
        }
    }

    ShowMenuAsync([program, label, listed, fullscreen, glide, fixed], invocation) {
        if (!this._served(invocation))
            return;
        this._menu = {program, label, listed, fullscreen, glide, fixed};
        // Open, the menu shows the change, for the program it names.
        if (this._toggle.menu.isOpen && program === this._named)
            this._fillMenu(this._menu);
        invocation.return_value(null);
    }

    // The toggle's menu: "Not in PROGRAM", "Step aside in full screen" and
    // "Glide", with the glide chosen; each choice goes to glide, which
    // writes its settings and tells back what it has done.
    _fillMenu(shown) {
        const menu = this._toggle.menu;
        const choose = (choice, program = '') =>
            this._emit('Choose', new GLib.Variant('(ss)', [choice, program]));
        const item = (text, checked, choice, ornament = PopupMenu.Ornament.CHECK) => {
            const made = new PopupMenu.PopupMenuItem(text);
            made.setOrnament(checked ? ornament : PopupMenu.Ornament.NONE);
            made.connect('activate', () => choose(choice, shown.program));
            return made;
        };
        menu.removeAll();
        this._named = shown.program;
        if (shown.program)
            menu.addMenuItem(item(`Not in ${shown.label}`, shown.listed, 'listed'));
        menu.addMenuItem(item('Step aside in full screen', shown.fullscreen, 'fullscreen'));
        const glide = new PopupMenu.PopupSubMenuMenuItem(shown.fixed
            ? `Glide: friction ${shown.fixed}, from the command line` : 'Glide');
        ['Short', 'Medium', 'Long'].forEach((text, i) => {
            const length = item(text, shown.glide === i, text.toLowerCase(), PopupMenu.Ornament.DOT);
            length.setSensitive(!shown.fixed);
            glide.menu.addMenuItem(length);
        });
        menu.addMenuItem(glide);
    }

    ShowStateAsync([state, program], invocation) {
        if (!this._served(invocation))
            return;
        this._show(state, program);
        invocation.return_value(null);
    }

    _show(state, program) {
        this._toggle.checked = state !== 'paused';
        const aside = state === 'aside' ? `aside for ${program}` : '';
        if (this._old)
            this._toggle.label = aside ? `glide: ${aside}` : 'glide';
        else
            this._toggle.subtitle = aside || null;
    }

    // Follows the window that has the focus, and tells glide of it.
    _followFocus() {
        const window = global.display.focus_window;
        if (window !== this._focused) {
            this._unfollowFocus();
            this._focused = window;
            if (window) {
                this._focusedWatch = ['notify::fullscreen', 'notify::wm-class'].map(
                    signal => window.connect(signal, () => this._tellFocus()));
            }
        }
        this._tellFocus();
    }

    _unfollowFocus() {
        for (const id of this._focusedWatch)
            this._focused.disconnect(id);
        this._focused = null;
        this._focusedWatch = [];
    }

    // The program, by the id of the application GNOME's tracker finds for
    // its window (without .desktop, and none for the tracker's stand-in,
    // window:N), by the window's class, which under Wayland is its app id,
    // and by the application's name; and whether the window is full screen.
    _tellFocus() {
        const window = this._focused;
        const app = window ? Shell.WindowTracker.get_default().get_window_app(window) : null;
        const id = app ? app.get_id() ?? '' : '';
        const wmclass = window?.get_wm_class() ?? '';
        this._emit('Focus', new GLib.Variant('(sssb)', [
            id.startsWith('window:') ? '' : id.replace(/\.desktop$/, ''), wmclass,
            app?.get_name() ?? wmclass, window?.fullscreen ?? false]));
    }

    // Whether the caller is the glide served; if not, answers it with an
    // error.
    _served(invocation) {
        if (invocation.get_sender() === this._holder)
            return true;
        invocation.return_dbus_error(`${ERROR}.NotClaimed`, 'claim the pointer first');
        return false;
    }

    ClaimAsync(_params, invocation) {
        const sender = invocation.get_sender();
        if (this._holder !== null && this._holder !== sender) {
            invocation.return_dbus_error(`${ERROR}.Busy`, 'another glide holds the pointer');
            return;
        }
        if (this._holder === null) {
            this._holder = sender;
            this._watch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
                Gio.BusNameWatcherFlags.NONE, null, () => this._release());
            this._moved = this._tracker.connect('position-invalidated', () => this._coalesce());
            this._monitors = Main.layoutManager.connect('monitors-changed',
                () => this._emit('DesktopChanged', null));
            this._focusWatch = global.display.connect('notify::focus-window',
                () => this._followFocus());
            this._show('active', '');  // as a glide starts
            this._toggle.visible = true;
        }
        this._told = 0;
        invocation.return_value(null);
        this._followFocus();
    }

    ReadAsync(_params, invocation) {
        if (this._served(invocation))
            this._tell(invocation);
    }

    MoveByAsync([dx, dy], invocation) {
        if (!this._served(invocation))
            return;
        const [x, y] = global.get_pointer();
        const [width, height] = global.display.get_size();
        // Kept on the screen here too: the seat takes 32-bit coordinates.
        const to = (at, by, size) => Math.min(Math.max(at + by, 0), Math.max(size, 1) - 1);
        const [tox, toy] = [to(x, dx, width), to(y, dy, height)];
        if (tox === x && toy === y) {
            this._tell(invocation);
            return;
        }
        this._seat.warp_pointer(tox, toy);
        // Mutter makes the warp on its input thread, a little later: the
        // answer waits until the pointer has left where it was, up to 20 ms,
        // as X11 moves it at once.
        const until = GLib.get_monotonic_time() + 20000;
        const moved = () => {
            const [nowx, nowy] = global.get_pointer();
            return nowx !== x || nowy !== y || GLib.get_monotonic_time() >= until;
        };
        if (moved()) {
            this._tell(invocation);
            return;
        }
        GLib.timeout_add(GLib.PRIORITY_HIGH, 1, () => {
            if (!moved())
                return GLib.SOURCE_CONTINUE;
            this._tell(invocation);
            return GLib.SOURCE_REMOVE;
        });
    }

    // Answers glide with where the pointer is, and counts the answer: each
    // Moved signal names how many came before it, so that glide can tell a
    // signal sent before an answer, which it receives after it, from news.
    _tell(invocation) {
        this._told = (this._told + 1) >>> 0;
        invocation.return_value(new GLib.Variant('(iiu)', pointer()));
    }

    DesktopAsync(_params, invocation) {
        if (!this._served(invocation))
            return;
        const [width, height] = global.display.get_size();
        const monitors = [];
        for (let i = 0; i < global.display.get_n_monitors(); i++) {
            const m = global.display.get_monitor_geometry(i);
            monitors.push([m.x, m.y, m.width, m.height]);
        }
        invocation.return_value(new GLib.Variant('(iia(iiii))', [width, height, monitors]));
    }

    // The pointer moves many times a frame: glide hears of it once, with
    // where it is when the frame is drawn, and how many moves, and when the
    // last came, which time a hand's flick as a device's reports would.
    _coalesce() {
        this._moves++;
        this._movedAt = GLib.get_monotonic_time();
        if (this._later !== 0)
            return;
        this._later = this._laters.add(Meta.LaterType.BEFORE_REDRAW, () => {
            this._later = 0;
            const [x, y, buttons] = pointer();
            this._emit('Moved', new GLib.Variant('(iiuuux)',
                [x, y, this._told, buttons, this._moves, this._movedAt]));
            this._moves = 0;
            return GLib.SOURCE_REMOVE;
        });
    }

    _emit(signal, parameters) {
        if (this._holder !== null)
            Gio.DBus.session.emit_signal(this._holder, PATH, NAME, signal, parameters);
    }

    // Forgets the glide served: its connection has gone, or the extension.
    _release() {
        if (this._holder === null)
            return;
        Gio.bus_unwatch_name(this._watch);
        this._tracker.disconnect(this._moved);
        Main.layoutManager.disconnect(this._monitors);
        global.display.disconnect(this._focusWatch);
        this._unfollowFocus();
        if (this._later !== 0)
            this._laters.remove(this._later);
        this._holder = null;
        this._later = 0;
        this._toggle.visible = false;
    }
}

function init() {  // 43-44
    return new Lender();  // 43-44
}  // 43-44
