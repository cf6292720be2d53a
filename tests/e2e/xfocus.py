"""For the tests alone: a window that has the focus as a window manager
would say it has, with no window manager: it names itself in the root
window's _NET_ACTIVE_WINDOW, with the class glidetest/GlideTest, and on
the commands "full" and "window" on standard input sets its _NET_WM_STATE
full screen or not. Says "ready" once it has the focus, and "done" after
each command."""

import sys

from Xlib import X, Xatom, display


def main():
    screen = display.Display()
    root = screen.screen().root
    window = root.create_window(0, 0, 200, 100, 0, screen.screen().root_depth)
    window.set_wm_class("glidetest", "GlideTest")
    state = screen.intern_atom("_NET_WM_STATE")
    fullscreen = screen.intern_atom("_NET_WM_STATE_FULLSCREEN")
    window.map()
    root.change_property(screen.intern_atom("_NET_ACTIVE_WINDOW"), Xatom.WINDOW, 32, [window.id])
    screen.sync()
    print("ready", flush=True)
    for command in sys.stdin:
        window.change_property(state, Xatom.ATOM, 32,
                               [fullscreen] if command.strip() == "full" else [])
        screen.sync()
        print("done", flush=True)
    return X.NONE


if __name__ == "__main__":
    sys.exit(main())
