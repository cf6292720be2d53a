"""What the private headless compositors of the tests share: a private bus,
and the tests' hand on the pointer, which answers on the session bus as
org.glide.Hand (an extension in GNOME Shell, a program of the tests' own on
KWin)."""

import os
import re
import runpy
import shutil
import subprocess

from xserver import wait_for


def bus(log):
    """A private bus daemon, and its address."""
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    return daemon, daemon.stdout.readline().strip()


def gdbus(env, *args):
    """gdbus call on the session bus; its answer, or None."""
    done = subprocess.run(["gdbus", "call", "--session", *map(str, args)], env=env,
                          capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else None


class StandIn:
    """A stand-in for a desktop's service on the bus of env: a dbusmock
    template of standins/, which notes the calls of its method."""

    def __init__(self, env, log, template):
        path = os.path.join(os.path.dirname(__file__), "standins", template + ".py")
        module = runpy.run_path(path)
        self.env, self.name, self.path = env, module["BUS_NAME"], module["MAIN_OBJ"]
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--session", "--template", path],
            env=env, stdout=log, stderr=log)
        wait_for(lambda: self.mock("GetCalls"), "the stand-in %s did not start" % template,
                 seconds=10)

    def mock(self, method, *args):
        return gdbus(self.env, "-d", self.name, "-o", self.path, "-m",
                     "org.freedesktop.DBus.Mock." + method, *args)

    def calls(self):
        """What it was called with so far, as gdbus prints it."""
        return self.mock("GetCalls") or ""

    def close(self):
        self.process.terminate()
        self.process.wait()


class Watcher(StandIn):
    """A panel's StatusNotifierWatcher, which notes the items that register."""

    def __init__(self, env, log):
        super().__init__(env, log, "statusnotifierwatcher")

    def items(self):
        """The names of the items registered so far."""
        return re.findall(r"'(org\.kde\.StatusNotifierItem-[0-9]+-[0-9]+)'", self.calls())


class TrayItem:
    """A glide's item in the tray, as a panel sees it."""

    def __init__(self, env, pid):
        self.env, self.name = env, "org.kde.StatusNotifierItem-%d-1" % pid

    def call(self, path, method, *args):
        return gdbus(self.env, "-d", self.name, "-o", path, "-m", method, "--", *args)

    def icon(self):
        return self.call("/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                         "org.kde.StatusNotifierItem", "IconName")

    def click(self):
        return self.call("/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", 0, 0)

    def menu(self):
        """The menu's entries, submenus' within, in order: each its id, and
        its properties as gdbus prints them ({'label': "'Pause'", ...}); none
        before the item is served."""
        layout = self.call("/MenuBar", "com.canonical.dbusmenu.GetLayout", 0, -1, "[]") or ""
        return [(int(entry), dict(re.findall(r"'([\w-]+)': <([^>]*)>", properties)))
                for entry, properties in re.findall(r"\(([0-9]+), \{([^}]*)\}", layout)][1:]

    def choose(self, label):
        """Chooses the menu's entry, as XFCE's panel does: EventGroup."""
        entry = next(entry for entry, properties in self.menu()
                     if properties.get("label") == "'%s'" % label)
        return self.call("/MenuBar", "com.canonical.dbusmenu.EventGroup",
                         "[(%s, 'clicked', <''>, uint32 0)]" % entry)


class TestWindow:
    """A GTK 3 window of the tests' own on a compositor's Wayland display,
    which has the focus once it is shown."""

    def __init__(self, env):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "gtkwindow.py")],
            env=dict(env, GDK_BACKEND="wayland"), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True)
        if self.process.stdout.readline() != "ready\n":
            raise RuntimeError("the test window did not show")

    def fullscreen(self, on):
        self.process.stdin.write("full\n" if on else "window\n")
        self.process.stdin.flush()
        if self.process.stdout.readline() != "done\n":
            raise RuntimeError("the test window did not go %s" % ("full screen" if on else
                                                                 "back"))

    def close(self):
        self.process.stdin.close()
        self.process.wait()
        self.process.stdout.close()


class OnSessionBus:
    """A compositor with its processes, log, folder and environment."""

    def ready_wine(self):
        pass

    def close(self):
        for p in reversed(self.processes):
            p.terminate()
            p.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def gdbus(self, *args, system=False):
        done = subprocess.run(["gdbus", "call", "--system" if system else "--session",
                               *map(str, args)], env=self.env, capture_output=True, text=True)
        return done.stdout if done.returncode == 0 else None

    def owned(self, name, system=False):
        answer = self.gdbus("-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                            "org.freedesktop.DBus.NameHasOwner", name, system=system)
        return answer == "(true,)\n"

    def hand(self, method, *args):
        # After --, a negative number is no option.
        answer = self.gdbus("-d", "org.glide.Hand", "-o", "/org/glide/Hand", "-m",
                            "org.glide.Hand." + method, "--", *args)
        if answer is None:
            raise RuntimeError("the hand could not %s" % method)
        return answer

    def cursor(self):
        x, y = self.hand("Pointer").strip("()\n").split(", ")
        return int(x), int(y)

    def move(self, x, y):
        """Warps the pointer, as another program would."""
        self.hand("Warp", x, y)
        wait_for(lambda: self.cursor() == (x, y), "could not move the pointer to %d,%d" % (x, y))

    def nudge(self, dx, dy):
        """Moves the pointer as a mouse does."""
        self.hand("Nudge", dx, dy)

    def flick(self, dx, times=12):
        """Nudges the pointer dx pixels every 8 ms, as a mouse does; returns
        when the hand let go, on the clock of time.monotonic()."""
        return int(self.hand("Flick", dx, 0, times, 8).strip("(,)\n").split()[-1]) / 1e6
