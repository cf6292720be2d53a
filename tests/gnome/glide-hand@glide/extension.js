// For the tests alone: a hand on a virtual mouse and keyboard, and eyes on
// the pointer and on Quick Settings, so that a test can nudge or flick the
// pointer as a device does, warp it as another program would, see where it
// is, and see and click glide's toggle or press its shortcut. GNOME 43, as
// the tests run on.
const {Clutter, Gio, GLib} = imports.gi;
const Main = imports.ui.main;
const QuickSettings = imports.ui.quickSettings;

const INTERFACE = `<node>
  <interface name="org.glide.Hand">
    <method name="Nudge"><arg direction="in" type="i"/><arg direction="in" type="i"/></method>
    <method name="Flick">
      <arg direction="in" type="i"/><arg direction="in" type="i"/>
      <arg direction="in" type="i"/><arg direction="in" type="i"/>
      <arg direction="out" type="x"/>
    </method>
    <method name="Warp"><arg direction="in" type="i"/><arg direction="in" type="i"/></method>
    <method name="Pointer">
      <arg direction="out" type="i"/><arg direction="out" type="i"/>
    </method>
    <method name="Toggle">
      <arg direction="out" type="b" name="shown"/><arg direction="out" type="b" name="on"/>
    </method>
    <method name="ToggleTitle"><arg direction="out" type="s" name="title"/></method>
    <method name="ClickToggle"/>
    <method name="ToggleMenu"><arg direction="out" type="s" name="items"/></method>
    <method name="ChooseInToggleMenu"><arg direction="in" type="s" name="label"/></method>
    <method name="PressShortcut"/>
  </interface>
</node>`;

class Hand {
    enable() {
        this._seat = Clutter.get_default_backend().get_default_seat();
        this._mouse = this._seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._keyboard = this._seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, '/org/glide/Hand');
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, 'org.glide.Hand',
            Gio.BusNameOwnerFlags.NONE, null, null);
        // The shell starts in its overview, where a new window takes no focus:
        // the tests' windows are to have it, as on a desktop in use.
        this._started = Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
    }

    disable() {
        Main.layoutManager.disconnect(this._started);
        Gio.bus_unown_name(this._name);
        this._object.unexport();
        this._mouse = this._keyboard = null;
    }

    Nudge(dx, dy) {
        this._mouse.notify_relative_motion(GLib.get_monotonic_time(), dx, dy);
    }

    // Nudges times, ms apart, and answers after the last with when it came
    // (on the monotonic clock, in microseconds): the answer itself comes
    // later, as late as a busy machine makes it.
    FlickAsync([dx, dy, times, ms], invocation) {
        let left = times;
        const nudge = () => {
            this.Nudge(dx, dy);
            if (--left > 0)
                return GLib.SOURCE_CONTINUE;
            invocation.return_value(new GLib.Variant('(x)', [GLib.get_monotonic_time()]));
            return GLib.SOURCE_REMOVE;
        };
        if (nudge() === GLib.SOURCE_CONTINUE)
            GLib.timeout_add(GLib.PRIORITY_HIGH, ms, nudge);
    }

    Warp(x, y) {
        this._seat.warp_pointer(x, y);
    }

    Pointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
    }

    // glide's toggle in Quick Settings, found by its label; null without one.
    _toggle() {
        const grid = Main.panel.statusArea.quickSettings.menu._grid;
        return grid.get_children().find(child =>
            child instanceof QuickSettings.QuickToggle && (child.label ?? '').startsWith('glide')) ?? null;
    }

    Toggle() {
        const toggle = this._toggle();
        return [toggle?.visible ?? false, toggle?.checked ?? false];
    }

    ToggleTitle() {
        return this._toggle()?.label ?? '';
    }

    // The items of the toggle's menu as Quick Settings opens, with their
    // ornaments, a submenu's within: as JSON.
    _toggleMenuItems() {
        const items = menu => menu._getMenuItems().map(item => [item.label.text, item._ornament,
            ...item.menu ? [items(item.menu)] : []]);
        return items(this._toggle().menu);
    }

    ToggleMenu() {
        const quickSettings = Main.panel.statusArea.quickSettings.menu;
        quickSettings.open();
        const shown = JSON.stringify(this._toggleMenuItems());
        quickSettings.close();
        return shown;
    }

    ChooseInToggleMenu(label) {
        const find = menu => menu._getMenuItems().flatMap(item =>
            item.label.text === label ? [item] : item.menu ? find(item.menu) : []);
        find(this._toggle().menu)[0].activate(null);
    }

    ClickToggle() {
        this._toggle().emit('clicked', 1);
    }

    // Super+Shift+G, as a keyboard presses it.
    PressShortcut() {
        const keys = [Clutter.KEY_Super_L, Clutter.KEY_Shift_L, Clutter.KEY_g];
        for (const key of keys)
            this._keyboard.notify_keyval(GLib.get_monotonic_time(), key, Clutter.KeyState.PRESSED);
        for (const key of keys.reverse())
            this._keyboard.notify_keyval(GLib.get_monotonic_time(), key, Clutter.KeyState.RELEASED);
    }
}

function init() {
    return new Hand();
}
