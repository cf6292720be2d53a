"""For the tests alone: a stand-in for an X system tray, the owner of
_NET_SYSTEM_TRAY_S0, which docks each icon that asks in a row of 24 x 24
squares at the top right of the screen, and says on standard output where
its middle is ("docked X Y"), and when one goes ("gone")."""

import sys

from Xlib import X, display
from Xlib.protocol import event

SIZE = 24
SLOTS = 8


def main():
    screen = display.Display()
    root = screen.screen().root
    width = screen.screen().width_in_pixels
    left = width - SIZE * SLOTS
    tray = root.create_window(left, 0, SIZE * SLOTS, SIZE, 0, screen.screen().root_depth,
                              event_mask=X.SubstructureNotifyMask)
    tray.map()
    selection = screen.intern_atom("_NET_SYSTEM_TRAY_S0")
    opcode = screen.intern_atom("_NET_SYSTEM_TRAY_OPCODE")
    xembed = screen.intern_atom("_XEMBED")
    tray.set_selection_owner(selection, X.CurrentTime)
    # Told to every client, as a tray that starts does.
    root.send_event(event.ClientMessage(window=root, client_type=screen.intern_atom("MANAGER"),
                                        data=(32, [X.CurrentTime, selection, tray.id, 0, 0])),
                    event_mask=X.StructureNotifyMask)
    screen.sync()
    print("ready", flush=True)
    icons = []
    while True:
        happened = screen.next_event()
        if happened.type == X.ClientMessage and happened.client_type == opcode:
            _, data = happened.data
            if data[1] != 0:  # SYSTEM_TRAY_REQUEST_DOCK only
                continue
            icon = screen.create_resource_object("window", data[2])
            slot = len(icons)
            icons.append(icon.id)
            icon.reparent(tray, slot * SIZE, 0)
            icon.configure(width=SIZE, height=SIZE)
            icon.map()
            # XEMBED_EMBEDDED_NOTIFY, protocol version 0.
            icon.send_event(event.ClientMessage(window=icon, client_type=xembed,
                                                data=(32, [X.CurrentTime, 0, 0, tray.id, 0])))
            screen.sync()
            print("docked %d %d" % (left + slot * SIZE + SIZE // 2, SIZE // 2), flush=True)
        elif happened.type in (X.DestroyNotify, X.UnmapNotify) and happened.window.id in icons:
            icons.remove(happened.window.id)
            print("gone", flush=True)


if __name__ == "__main__":
    sys.exit(main())
