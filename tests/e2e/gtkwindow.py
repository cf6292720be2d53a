"""For the tests alone: a GTK 3 window of the app id glide-test-window, of
no .desktop file, full screen or not on the commands "full" and "window"
on standard input. Says "ready" once it is shown, and "done" after each
command once the compositor has done it."""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

GLib.set_prgname("glide-test-window")
window = Gtk.Window(title="glide's test window")
window.set_default_size(300, 200)
wanted = [None]  # whether full screen was asked for, until it is so


def take_state(_window, event):
    full = bool(event.new_window_state & Gdk.WindowState.FULLSCREEN)
    if wanted[0] is not None and full == wanted[0]:
        wanted[0] = None
        print("done", flush=True)
    return False


def take_command(channel, _condition):
    line = channel.readline()
    if not line:
        Gtk.main_quit()
        return False
    wanted[0] = line.strip() == "full"
    if wanted[0]:
        window.fullscreen()
    else:
        window.unfullscreen()
    return True


window.connect("window-state-event", take_state)
window.connect("map-event", lambda *_: print("ready", flush=True))
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.IN | GLib.IOCondition.HUP,
                  lambda channel, condition: take_command(sys.stdin, condition))
window.show_all()
Gtk.main()
