// Runs glide's KWin script against stand-ins for KWin 5.27 and KWin 6: what
// it tells glide at start, of a move, of moves in quick succession, of
// screens that change and of the active window. Each stand-in has what its KWin declares and nothing
// more, so a call that KWin lacks fails here as it would in KWin.
//   node kwin_script_calls.mjs SCRIPT
import assert from 'node:assert/strict';
import fs from 'node:fs';
import vm from 'node:vm';

const source = fs.readFileSync(process.argv[2], 'utf8');

class Signal {
    constructor() { this.slots = []; }
    connect(slot) { this.slots.push(slot); }
    disconnect(slot) {
        const at = this.slots.indexOf(slot);
        if (at < 0)
            throw new Error('function not connected');  // as QJSEngine does
        this.slots.splice(at, 1);
    }
    fire() { [...this.slots].forEach(slot => slot()); }
}

function kwin(six) {
    let clock = 1796846300941;  // Date.now(), a wall clock
    let timers = [];
    class QTimer {
        constructor() { Object.assign(this, {singleShot: false, interval: 0, timeout: new Signal()}); }
        get active() { return timers.includes(this); }
        start() { this.stop(); this.due = clock + this.interval; timers.push(this); }
        stop() { timers = timers.filter(t => t !== this); }
    }
    const advance = ms => {
        const until = clock + ms;
        for (let next; (next = timers.filter(t => t.due <= until).sort((a, b) => a.due - b.due)[0]);) {
            clock = next.due;
            next.stop();
            next.timeout.fire();
        }
        clock = until;
    };
    const pointer = {x: 300, y: 200};
    const output = geometry => ({geometry, geometryChanged: new Signal()});
    const screens = [output({x: 0, y: 0, width: 1024, height: 768})];
    const workspace = {
        get cursorPos() { return {...pointer}; },  // a copy each time, as KWin's is live
        cursorPosChanged: new Signal(),
        virtualScreenSize: {width: 1024, height: 768},
        virtualScreenGeometryChanged: new Signal(),
    };
    const KWin = {ScreenArea: 7};
    const window = (desktopFileName, resourceClass) => ({desktopFileName, resourceClass,
        fullScreen: false, fullScreenChanged: new Signal(), windowClassChanged: new Signal(),
        desktopFileNameChanged: new Signal()});
    const konsole = window('org.kde.konsole', 'konsole');
    const [active, activated] = six ? ['activeWindow', 'windowActivated'] : ['activeClient', 'clientActivated'];
    Object.assign(workspace, {[active]: konsole, [activated]: new Signal()});
    const activate = w => { workspace[active] = w; workspace[activated].slots.forEach(slot => slot(w)); };
    if (six) {
        Object.assign(workspace, {screens, screensChanged: new Signal()});
    } else {
        Object.defineProperty(workspace, 'numScreens', {get: () => screens.length});
        Object.assign(workspace, {
            numberScreensChanged: new Signal(), screenResized: new Signal(),
            clientArea(option, screen, desktop) {
                assert.deepEqual([option, typeof screen, typeof desktop], [7, 'number', 'number']);
                return screens[screen].geometry;
            },
        });
    }
    const calls = [];
    const callDBus = (...args) => {
        assert.deepEqual(args.slice(0, 4), [':1.42', '/org/glide/Glide', 'org.glide.Glide', args[3]]);
        // At most nine arguments, each a whole number that goes as an int32,
        // but Focus's three strings and a boolean.
        assert.ok(args.length <= 13, `${args.length - 4} arguments`);
        const types = args[3] === 'Focus' ? ['string', 'string', 'string', 'boolean'] : null;
        args.slice(4).flat().forEach((arg, i) => assert.ok(types
            ? typeof arg === types[i] : Number.isInteger(arg) && Math.abs(arg) < 2 ** 31, `${args[3]}: ${arg}`));
        calls.push(JSON.parse(JSON.stringify([args[3], ...args.slice(4)])));  // this realm's arrays
    };
    // As KWin declares it: four arguments, the last a function.
    const shortcuts = {};
    const registerShortcut = (...args) => {
        assert.deepEqual(args.map(arg => typeof arg), ['string', 'string', 'string', 'function']);
        shortcuts[args[0]] = args;
        return true;
    };
    const Date = {now: () => clock};
    vm.runInNewContext(`const glide = ':1.42';\n${source}`,
        {workspace, KWin, QTimer, callDBus, registerShortcut, Date, Math, print: () => {}});
    const taken = () => calls.splice(0);
    const move = (x, y) => { Object.assign(pointer, {x, y}); workspace.cursorPosChanged.fire(); };
    return {advance, move, taken, workspace, screens, output, shortcuts, window, konsole, activate,
        elapsed: () => clock - 1796846300941};
}

for (const six of [false, true]) {
    const k = kwin(six);
    const release = six ? 'KWin 6' : 'KWin 5.27';
    assert.deepEqual(k.taken(), [['Desktop', 1024, 768, [0, 0, 1024, 768]], ['Moved', 300, 200, 0, 0]],
        release);
    k.advance(0);
    assert.deepEqual(k.taken(), [['Focus', 'org.kde.konsole', 'konsole', '', false]], release);

    // The active window, told once a change has settled: on the way from one
    // window to the next KWin may tell of none. Its full screen and class
    // are followed while it is active, and no longer after.
    const game = k.window('', 'game');
    k.activate(null);
    k.activate(game);
    k.advance(0);
    game.fullScreen = true;
    game.fullScreenChanged.fire();
    k.advance(0);
    k.konsole.fullScreen = true;
    k.konsole.fullScreenChanged.fire();
    k.advance(0);
    assert.deepEqual(k.taken(), [['Focus', '', 'game', '', false], ['Focus', '', 'game', '', true]], release);
    k.activate(null);
    k.advance(0);
    assert.deepEqual(k.taken(), [['Focus', '', '', '', false]], release);

    // The shortcut, Meta+Shift+G unless the user changed it, tells glide to
    // pause or resume.
    const [, text, keys, toggle] = k.shortcuts['glide-toggle'];
    assert.deepEqual([text, keys], ['Pause or resume glide', 'Meta+Shift+G']);
    toggle();
    assert.deepEqual(k.taken(), [['Toggle']], release);

    if (six) {
        // KWin 6 tells of an output that changed by the output alone.
        k.screens[0].geometry = {x: 0, y: 0, width: 1024, height: 768};
        k.screens[0].geometryChanged.fire();
        k.advance(0);
        assert.deepEqual(k.taken(), [['Desktop', 1024, 768, [0, 0, 1024, 768]]]);
    }

    // A move after a rest is told at once; moves close behind it are held,
    // and told as one, where the last left the pointer.
    k.advance(50 - k.elapsed());
    k.move(301, 200);
    assert.deepEqual(k.taken(), [['Moved', 301, 200, 1, 50]], release);
    k.advance(2);
    k.move(305, 200);
    k.advance(3);
    k.move(309, 201);
    assert.deepEqual(k.taken(), [], release);
    k.advance(5);
    assert.deepEqual(k.taken(), [['Moved', 309, 201, 2, 55]], release);

    // A second screen, at a fractional scale: told once, in whole pixels.
    k.screens.push(k.output({x: 1024, y: 0, width: 1706.6667, height: 960}));
    k.workspace.virtualScreenSize = {width: 2731, height: 960};
    if (six) {
        k.workspace.screensChanged.fire();
    } else {
        k.workspace.numberScreensChanged.fire();
        k.workspace.screenResized.fire();
    }
    k.workspace.virtualScreenGeometryChanged.fire();
    k.advance(0);
    const both = ['Desktop', 2731, 960, [0, 0, 1024, 768, 1024, 0, 1707, 960]];
    assert.deepEqual(k.taken(), [both], release);
    if (six) {
        // And of a new output's move.
        k.screens[1].geometry = {x: 1024, y: 100, width: 1707, height: 960};
        k.screens[1].geometryChanged.fire();
        k.advance(0);
        assert.deepEqual(k.taken(), [['Desktop', 2731, 960, [0, 0, 1024, 768, 1024, 100, 1707, 960]]]);
    }

    // Past 2^31 ms of the script's life, its times wrap, as glide expects.
    k.advance(2 ** 31 - k.elapsed() + 5);
    k.move(310, 201);
    assert.deepEqual(k.taken(), [['Moved', 310, 201, 1, 5]], release);
}
console.log('the KWin script tells glide alike on KWin 5.27 and KWin 6');
