// Runs each build of glide's GNOME Shell extension against stand-ins for
// the GNOME of every release it claims: enable, Claim, Read, MoveBy, a
// move's Moved signal, Desktop, the toggle in Quick Settings and the
// shortcut, ShowState, the focus's Focus signal and disable. Each stand-in has what its
// release's mutter and gnome-shell declare and nothing more, so a call that
// release lacks fails here as it would in GNOME.
//   node --experimental-vm-modules gnome_extension_calls.mjs BUILT UUID
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';

const [built, uuid] = process.argv.slice(2);

// A variant's value as this realm's arrays, which the extension's are not.
const plain = variant => variant ? JSON.parse(JSON.stringify(variant.value)) : undefined;

// When a call came or went, by major release (see the extension's comment).
const has = (release, from, to = Infinity) => release >= from && release <= to;

function gnome(release) {
    const log = [];
    const pointer = {x: 300, y: 200, mods: 0};
    const handlers = new Map();
    let nextId = 1;
    const connectable = name => ({
        connect(signal, func) {
            handlers.set(nextId, [name, signal, func]);
            return nextId++;
        },
        disconnect: id => assert.ok(handlers.delete(id), `${name}: no handler ${id}`),
    });
    const fire = (name, signal, ...args) => {
        for (const [owner, which, func] of handlers.values()) {
            if (owner === name && which === signal)
                func(...args);
        }
    };
    const laters = [];
    const addLater = (when, func) => {
        assert.equal(when, 'BEFORE_REDRAW');
        laters.push(func);
        return laters.length;
    };
    const tracker = connectable('tracker');
    // Mutter warps on its input thread, a moment after it is asked.
    const seat = {warp_pointer: (x, y) => setTimeout(() => Object.assign(pointer, {x, y}), 3)};
    const backend = {get_default_seat: () => seat};

    const Meta = {LaterType: {BEFORE_REDRAW: 'BEFORE_REDRAW'}, CursorTracker: {},
        KeyBindingFlags: {NONE: 0}};
    // Windows, and the applications GNOME's tracker finds for them: a
    // window of no .desktop file has a stand-in, window:N.
    const window = (wmclass, app, name = wmclass) => Object.assign(connectable(`window ${wmclass}`),
        {fullscreen: false, get_wm_class: () => wmclass, app, name});
    const Shell = {
        ActionMode: {NORMAL: 1, OVERVIEW: 2, POPUP: 128},
        WindowTracker: {get_default: () => ({
            get_window_app: w => ({get_id: () => w.app, get_name: () => w.name}),
        })},
    };
    // Menus and their items, with the ornaments each release has.
    const Ornament = {NONE: 0, DOT: 1, CHECK: 2, HIDDEN: 3, ...has(release, 46) ? {NO_DOT: 4} : {}};
    class PopupMenuItem {
        constructor(label) { Object.assign(this, {label, ornament: Ornament.NONE, sensitive: true}); }
        setOrnament(ornament) { assert.ok(Object.values(Ornament).includes(ornament)); this.ornament = ornament; }
        setSensitive(sensitive) { this.sensitive = sensitive; }
        connect(signal, func) { assert.equal(signal, 'activate'); this.activate = func; }
    }
    class Menu {
        constructor() { this.items = []; this.isOpen = false; }
        addMenuItem(item) { this.items.push(item); }
        removeAll() { this.items = []; }
    }
    class PopupSubMenuMenuItem extends PopupMenuItem {
        constructor(label, wantIcon) { super(label); this.menu = new Menu(); }
    }
    const PopupMenu = {PopupMenuItem, PopupSubMenuMenuItem, Ornament};
    const ModifierType = {BUTTON1_MASK: 1 << 8, BUTTON2_MASK: 1 << 9, BUTTON3_MASK: 1 << 10};
    if (has(release, 43, 43))
        Object.assign(Meta, {later_add: addLater, later_remove: () => {}});
    if (has(release, 43, 47))
        Meta.CursorTracker.get_for_display = () => tracker;
    const Clutter = {ModifierType};
    if (has(release, 43, 50))
        Clutter.get_default_backend = () => backend;
    const GLib = {
        PRIORITY_HIGH: -100, SOURCE_CONTINUE: true, SOURCE_REMOVE: false,
        Variant: class { constructor(type, value) { Object.assign(this, {type, value}); } },
        get_monotonic_time: () => Math.round(performance.now() * 1000),
        timeout_add(_priority, ms, func) {
            const tick = () => func() && setTimeout(tick, ms);
            setTimeout(tick, ms);
        },
    };
    const session = {
        emit_signal: (to, objectPath, iface, signal, parameters) =>
            log.push(['signal', to, signal, plain(parameters)]),
    };
    const watches = new Map();
    const Gio = {
        DBus: {session},
        BusNameOwnerFlags: {NONE: 0}, BusNameWatcherFlags: {NONE: 0},
        DBusExportedObject: {
            wrapJSObject: (xml, object) => ({
                export: (connection, at) => log.push(['export', at, object]),
                unexport: () => log.push(['unexport']),
            }),
        },
        bus_own_name_on_connection: (connection, name) => log.push(['own', name]),
        bus_unown_name: id => log.push(['unown', id]),
        bus_watch_name_on_connection(connection, name, flags, appeared, vanished) {
            watches.set(nextId, vanished);
            return nextId++;
        },
        bus_unwatch_name: id => assert.ok(watches.delete(id)),
    };
    const monitors = [{x: 0, y: 0, width: 1024, height: 768}, {x: 1024, y: 0, width: 800, height: 600}];
    const global = {
        get_pointer: () => [pointer.x, pointer.y, pointer.mods],
        display: {
            ...connectable('display'),
            focus_window: window('org.gnome.Terminal', 'org.gnome.Terminal.desktop', 'Terminal'),
            get_size: () => [1824, 768],
            get_n_monitors: () => monitors.length,
            get_monitor_geometry: i => monitors[i],
        },
        stage: has(release, 47) ? {context: {get_backend: () => backend}} : {},
        backend: has(release, 48) ? {get_cursor_tracker: () => tracker} : {},
    };
    if (has(release, 44))
        global.compositor = {get_laters: () => ({add: addLater, remove: () => {}})};
    // Quick Settings: a toggle is named by its label on 43, by its title on
    // 44 on (43 has no title, and fails to make such a toggle).
    const toggles = [];
    class QuickMenuToggle {
        constructor(params) {
            const name = has(release, 44) ? 'title' : 'label';
            assert.deepEqual(Object.keys(params).sort(), [name, 'gicon', 'toggleMode', 'visible'].sort());
            Object.assign(this, params, {checked: false, destroyed: false, menu: new Menu()});
            // 43 has no subtitle, and fails to set one.
            if (!has(release, 44))
                Object.defineProperty(this, 'subtitle', {set: () => assert.fail('no subtitle on 43')});
            this.clicked = connectable('toggle');
            toggles.push(this);
        }
        connect(signal, func) { return this.clicked.connect(signal, func); }
        destroy() {
            this.destroyed = true;
            for (const [id, [owner]] of handlers) {
                if (owner === 'toggle')
                    handlers.delete(id);
            }
        }
    }
    class SystemIndicator {
        constructor() { this.quickSettingsItems = []; }
        destroy() { this.destroyed = true; }
    }
    const added = [];
    const quickSettings = has(release, 45)
        ? {addExternalIndicator: indicator => added.push(...indicator.quickSettingsItems)}
        : {_indicators: {insert_child_at_index: () => {}}, _addItems: items => added.push(...items)};
    quickSettings.menu = connectable('quickSettings');
    const keybindings = new Map();
    const wm = {
        addKeybinding(name, settings, flags, modes, handler) {
            assert.ok(!keybindings.has(name), `${name} added twice`);
            assert.deepEqual([settings, flags, modes], ['settings', 0, 1 | 2 | 128]);
            keybindings.set(name, handler);
        },
        removeKeybinding: name => assert.ok(keybindings.delete(name)),
    };
    const Main = {layoutManager: connectable('layoutManager'), panel: {statusArea: {quickSettings}}, wm};
    const QuickSettings = {QuickMenuToggle, SystemIndicator};
    const Config = {PACKAGE_VERSION: `${release}.1`};
    Gio.icon_new_for_string = string => ({icon: string});
    const folder = '/usr/share/gnome-shell/extensions/glide';
    const ExtensionUtils = {getSettings: () => 'settings', getCurrentExtension: () => ({path: folder})};
    class Extension {
        constructor(metadata) { Object.assign(this, {metadata, path: folder}); }
        getSettings() { return 'settings'; }
    }
    return {Clutter, Gio, GLib, Meta, Shell, Main, QuickSettings, PopupMenu, Config, ExtensionUtils,
            Extension, global, log, pointer, handlers, watches, laters, fire, toggles, added,
            keybindings, window};
}

// Loads a build as its GNOME does: 43 and 44 run a script with imports.gi
// and take what init() returns, 45 on import an ES module whose default
// export is built with the metadata. Only the modules a release has are
// there to import.
async function load(variant, shell, context) {
    const folder = path.join(built, variant, uuid);
    const source = fs.readFileSync(path.join(folder, 'extension.js'), 'utf8');
    const metadata = JSON.parse(fs.readFileSync(path.join(folder, 'metadata.json'), 'utf8'));
    if (variant === '43') {
        context.imports = {gi: shell, ui: {main: shell.Main, quickSettings: shell.QuickSettings,
            popupMenu: shell.PopupMenu},
            misc: {config: shell.Config, extensionUtils: shell.ExtensionUtils}};
        return new vm.Script(`${source}\ninit();`).runInContext(context);
    }
    const modules = {
        'gi://Clutter': shell.Clutter, 'gi://Gio': shell.Gio, 'gi://GLib': shell.GLib,
        'gi://Meta': shell.Meta, 'gi://Shell': shell.Shell,
        'resource:///org/gnome/shell/ui/main.js': shell.Main,
        'resource:///org/gnome/shell/ui/quickSettings.js': shell.QuickSettings,
        'resource:///org/gnome/shell/ui/popupMenu.js': shell.PopupMenu,
        'resource:///org/gnome/shell/misc/config.js': shell.Config,
        'resource:///org/gnome/shell/extensions/extension.js': {Extension: shell.Extension},
    };
    const module = new vm.SourceTextModule(source, {context});
    await module.link(specifier => {
        assert.ok(specifier in modules, `no module ${specifier}`);
        const exported = modules[specifier];
        const names = specifier.startsWith('gi://') ? ['default'] : Object.keys(exported);
        return new vm.SyntheticModule(names, function () {
            for (const name of names)
                this.setExport(name, name === 'default' ? exported : exported[name]);
        }, {context});
    });
    await module.evaluate();
    return new module.namespace.default(metadata);
}

function call(lender, method, sender, params = []) {
    return new Promise(resolve => lender[`${method}Async`](params, {
        get_sender: () => sender,
        return_value: value => resolve(plain(value) ?? null),
        return_dbus_error: name => resolve(name),
    }));
}

async function run(variant, release) {
    const shell = gnome(release);
    const context = vm.createContext({global: shell.global, console});
    const lender = await load(variant, shell, context);
    lender.enable();
    // The toggle, with glide's icon, is in Quick Settings, hidden until a
    // glide claims the pointer.
    const [toggle] = shell.toggles;
    assert.deepEqual(shell.added, [toggle]);
    assert.equal(toggle[has(release, 44) ? 'title' : 'label'], 'glide');
    assert.equal(toggle.gicon.icon, '/usr/share/gnome-shell/extensions/glide/glide-symbolic.svg');
    assert.equal(toggle.visible, false);
    assert.equal(await call(lender, 'Read', ':1.7'), 'org.glide.Pointer.Error.NotClaimed');
    assert.equal(await call(lender, 'Claim', ':1.7'), null);
    assert.deepEqual([toggle.visible, toggle.checked], [true, true]);
    // Told at once what has the focus, and as it changes: the application's
    // id, or none for the tracker's stand-in; the class; full screen.
    const told = () => shell.log.filter(entry => entry[2] === 'Focus').map(entry => entry[3]);
    const game = shell.window('game', 'window:7');
    shell.global.display.focus_window = game;
    shell.fire('display', 'notify::focus-window');
    game.fullscreen = true;
    shell.fire('window game', 'notify::fullscreen');
    assert.deepEqual(told(), [['org.gnome.Terminal', 'org.gnome.Terminal', 'Terminal', false],
        ['', 'game', 'game', false], ['', 'game', 'game', true]]);
    // It shows what glide tells, and glide alone; a click and the shortcut
    // tell glide.
    assert.equal(await call(lender, 'ShowState', ':1.8', ['paused', '']), 'org.glide.Pointer.Error.NotClaimed');
    assert.equal(await call(lender, 'ShowState', ':1.7', ['aside', 'game']), null);
    assert.deepEqual([toggle.checked, has(release, 44) ? toggle.subtitle : toggle.label],
        [true, has(release, 44) ? 'aside for game' : 'glide: aside for game']);
    assert.equal(await call(lender, 'ShowState', ':1.7', ['paused', 'game']), null);
    assert.deepEqual([toggle.checked, has(release, 44) ? toggle.subtitle : toggle.label],
        [false, has(release, 44) ? null : 'glide']);
    // Its menu, as Quick Settings opens, shows the settings glide tells,
    // naming the program it was told of; a choice goes to glide.
    const menu = () => toggle.menu.items.map(i => [i.label, i.ornament,
        ...i.menu ? [i.menu.items.map(j => [j.label, j.ornament, j.sensitive])] : []]);
    assert.equal(await call(lender, 'ShowMenu', ':1.7', ['krita', 'Krita', true, false, 2, '']), null);
    shell.fire('quickSettings', 'open-state-changed', null, true);
    assert.deepEqual(menu(), [['Not in Krita', 2], ['Step aside in full screen', 0],
        ['Glide', 0, [['Short', 0, true], ['Medium', 0, true], ['Long', 1, true]]]]);
    toggle.menu.items[0].activate();
    toggle.menu.items[2].menu.items[0].activate();
    assert.deepEqual(shell.log.slice(-2).map(entry => entry[3]), [['listed', 'krita'], ['short', 'krita']]);
    assert.equal(await call(lender, 'ShowMenu', ':1.7', ['', '', false, true, -1, '1.2']), null);
    shell.fire('quickSettings', 'open-state-changed', null, true);
    assert.deepEqual(menu(), [['Step aside in full screen', 2], ['Glide: friction 1.2, from the command line', 0,
        [['Short', 0, false], ['Medium', 0, false], ['Long', 0, false]]]]);
    shell.fire('toggle', 'clicked');
    shell.keybindings.get('toggle-glide')();
    assert.deepEqual(shell.log.slice(-2).map(entry => entry.slice(1, 3)),
        [[':1.7', 'Toggle'], [':1.7', 'Toggle']]);
    assert.equal(await call(lender, 'Claim', ':1.8'), 'org.glide.Pointer.Error.Busy');
    assert.deepEqual(await call(lender, 'Read', ':1.7'), [300, 200, 0]);
    // Answered once the pointer is there, kept on the screen, with the
    // buttons held (the first and the third; the fourth is a wheel's).
    shell.pointer.mods = (1 << 8) | (1 << 10) | (1 << 11) | 1;
    assert.deepEqual(await call(lender, 'MoveBy', ':1.7', [40, -500]), [340, 0, 5]);
    shell.pointer.mods = 1 << 9;
    shell.fire('tracker', 'position-invalidated');
    shell.fire('tracker', 'position-invalidated');
    assert.equal(shell.laters.length, 1);  // coalesced into one a frame
    shell.laters.pop()();
    const [signal, moved] = [shell.log.at(-1).slice(0, 3), shell.log.at(-1)[3]];
    assert.deepEqual(signal, ['signal', ':1.7', 'Moved']);
    assert.deepEqual(moved.slice(0, 5), [340, 0, 2, 2, 2]);
    assert.ok(Math.abs(moved[5] - shell.GLib.get_monotonic_time()) < 1e6);
    assert.deepEqual(await call(lender, 'Desktop', ':1.7'),
        [1824, 768, [[0, 0, 1024, 768], [1024, 0, 800, 600]]]);
    shell.fire('layoutManager', 'monitors-changed');
    assert.deepEqual(shell.log.at(-1), ['signal', ':1.7', 'DesktopChanged', undefined]);
    lender.disable();
    assert.ok(toggle.destroyed && shell.keybindings.size === 0, 'left the toggle or the shortcut');
    assert.equal(shell.handlers.size + shell.watches.size, 0, 'left connected');
    assert.deepEqual(shell.log.slice(-2).map(entry => entry[0]), ['unown', 'unexport']);
}

const claimed = variant => JSON.parse(fs.readFileSync(
    path.join(built, variant, uuid, 'metadata.json'), 'utf8'))['shell-version'];
for (const variant of ['43', '45']) {
    for (const release of claimed(variant)) {
        await run(variant, Number(release));
        console.log(`ok: the ${variant} build on GNOME ${release}`);
    }
}
