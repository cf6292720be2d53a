// glide's eyes in KWin: under Wayland only the compositor knows where the
// pointer is, so glide loads this script into KWin to be told. It calls
// glide, and glide alone, over the session bus; glide moves the pointer
// itself, through KWin's fake input. glide writes it out with the line that
// names its own connection, as `glide`, above it.
//
// What it uses of KWin, read in KWin's released sources of 5.27.5, 6.3.6 and
// 6.7.4 (scripts/kwin-api lists it so):
//   workspace.cursorPos, cursorPosChanged            all three
//   workspace.virtualScreenSize,
//     virtualScreenGeometryChanged                   all three
//   workspace.numScreens, numberScreensChanged,
//     screenResized, clientArea(option, int, int),
//     KWin.ScreenArea                                5.27 only
//   workspace.screens, screensChanged, and each
//     output's geometry and geometryChanged          6.3 and 6.7
//   callDBus (nine arguments at most), QTimer        all three
//   registerShortcut(name, text, keys, callback)     all three
//   workspace.activeClient, clientActivated          5.27 only
//   workspace.activeWindow, windowActivated          6.3 and 6.7
//   a window's fullScreen, fullScreenChanged,
//     resourceClass, windowClassChanged,
//     desktopFileName, desktopFileNameChanged        all three
// It picks, once, what the running KWin has of those that come and go.

const PATH = '/org/glide/Glide';
const INTERFACE = 'org.glide.Glide';
// The pointer is told of at once after a rest, then at most this often,
// always ending with where it stopped: a mouse reports a thousand times a
// second, and glide reads about ninety.
const SPACING = 10;

const started = Date.now();
let moves = 0;
let movedat = 0;
let told = started - SPACING;
const held = new QTimer();
held.singleShot = true;

// Milliseconds since the script started, kept within a D-Bus int32 (as
// a number that is not one would go as a double): glide unwraps them.
function now() {
    const span = 2147483648;
    return ((Date.now() - started) % span + span) % span;
}

// Where the pointer is, how many moves took it there since it was last
// told of, and when the last came. cursorPos is live: copied out.
function tellPointer() {
    const pointer = workspace.cursorPos;
    told = Date.now();
    callDBus(glide, PATH, INTERFACE, 'Moved', pointer.x, pointer.y, moves, movedat);
    moves = 0;
}

function notePointer() {
    ++moves;
    movedat = now();
    if (held.active)
        return;
    const waited = Date.now() - told;
    if (waited >= SPACING || waited < 0) {
        tellPointer();
    } else {
        held.interval = SPACING - waited;
        held.start();
    }
}

// Each screen's rectangle, in whole pixels: KWin 6 lists its outputs, 5.27
// counts its screens.
function screenRectangles() {
    const whole = r => [Math.round(r.x), Math.round(r.y), Math.round(r.width),
        Math.round(r.height)];
    if (workspace.screens !== undefined)
        return workspace.screens.map(output => whole(output.geometry));
    const rectangles = [];
    for (let screen = 0; screen < workspace.numScreens; ++screen)
        rectangles.push(whole(workspace.clientArea(KWin.ScreenArea, screen, 1)));
    return rectangles;
}

// The desktop's size and its screens, as Desktop(width, height, and x, y,
// width and height for each screen, in one array: callDBus passes no more
// than nine arguments).
function tellDesktop() {
    const size = workspace.virtualScreenSize;
    callDBus(glide, PATH, INTERFACE, 'Desktop', Math.round(size.width),
        Math.round(size.height), [].concat(...screenRectangles()));
}

// Told once, after a change's every signal has come.
const desktopChanged = new QTimer();
desktopChanged.singleShot = true;
desktopChanged.interval = 0;
desktopChanged.timeout.connect(tellDesktop);
const noteDesktop = () => desktopChanged.start();

// KWin 6 tells of a moved output by the output alone.
function watchOutputs() {
    for (const output of workspace.screens) {
        try {
            output.geometryChanged.disconnect(noteDesktop);  // once each
        } catch (notconnected) {
        }
        output.geometryChanged.connect(noteDesktop);
    }
}

// Pauses or resumes glide. Listed with KWin's own shortcuts in System
// Settings, where the user may change its keys; none of KWin's takes
// Meta+Shift+G. One fixed name: a shortcut a script registers again after
// another script registered it gets no key.
registerShortcut('glide-toggle', 'Pause or resume glide', 'Meta+Shift+G',
    () => callDBus(glide, PATH, INTERFACE, 'Toggle'));

// The program of the active window, by its desktop file's name (its
// application's id) and its class (under Wayland, its app id), with no
// friendlier name (glide reads the desktop file's), and whether the window
// is full screen; told once a change's every signal has come
// (KWin may tell of no active window on the way from one to the next).
let focused = null;
const focusSignals = ['fullScreenChanged', 'windowClassChanged', 'desktopFileNameChanged'];
const focusChanged = new QTimer();
focusChanged.singleShot = true;
focusChanged.interval = 0;
const noteFocus = () => focusChanged.start();

function tellFocus() {
    const window = focused;
    callDBus(glide, PATH, INTERFACE, 'Focus', window ? String(window.desktopFileName || '') : '',
        window ? String(window.resourceClass || '') : '', '',
        window ? Boolean(window.fullScreen) : false);
}

function follow(window) {
    for (const signal of focused ? focusSignals : []) {
        try {
            focused[signal].disconnect(noteFocus);
        } catch (gone) {  // a window that has gone
        }
    }
    focused = window || null;
    if (focused) {
        for (const signal of focusSignals)
            focused[signal].connect(noteFocus);
    }
    noteFocus();
}

focusChanged.timeout.connect(tellFocus);
if (workspace.windowActivated !== undefined) {
    workspace.windowActivated.connect(follow);
    follow(workspace.activeWindow);
} else {
    workspace.clientActivated.connect(follow);
    follow(workspace.activeClient);
}
held.timeout.connect(tellPointer);
workspace.cursorPosChanged.connect(notePointer);
workspace.virtualScreenGeometryChanged.connect(noteDesktop);
if (workspace.screens !== undefined) {
    workspace.screensChanged.connect(watchOutputs);
    workspace.screensChanged.connect(noteDesktop);
    watchOutputs();
} else {
    workspace.numberScreensChanged.connect(noteDesktop);
    workspace.screenResized.connect(noteDesktop);
}
tellDesktop();
tellPointer();
