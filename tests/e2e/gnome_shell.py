"""A private headless GNOME Shell under Wayland for glide to run on, with
glide's extension and the tests' hand on the pointer: its own session bus,
a second bus standing in for the system's with a mock logind on it, and its
own HOME and XDG_RUNTIME_DIR."""

import os
import shutil
import subprocess
import tempfile
import time

from xserver import wait_for

GNOME_SHELL = os.environ.get("GNOME_SHELL", "gnome-shell")
GNOME_EXTENSIONS = os.environ.get("GNOME_EXTENSIONS", "gnome-extensions")
# glide's extension as built, and the hand beside these tests.
EXTENSION = os.environ.get("GLIDE_GNOME_EXTENSION", "")
UUID = os.path.basename(EXTENSION)
HAND = os.path.join(os.path.dirname(__file__), "..", "gnome", "glide-hand@glide")


def bus(log):
    """A private bus daemon, and its address."""
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    return daemon, daemon.stdout.readline().strip()


class Shell:
    def __init__(self, monitors=("1024x768",)):
        self.dir = tempfile.mkdtemp(prefix="glide-gnome-")
        runtime = os.path.join(self.dir, "run")
        os.mkdir(runtime, 0o700)
        self.processes = []
        self.log = open(os.path.join(self.dir, "log"), "w")
        (session, address), (system, systemaddress) = bus(self.log), bus(self.log)
        self.processes += [session, system]
        self.env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=runtime,
                        DBUS_SESSION_BUS_ADDRESS=address,
                        DBUS_SYSTEM_BUS_ADDRESS=systemaddress, GSETTINGS_BACKEND="keyfile",
                        XDG_CURRENT_DESKTOP="GNOME", WAYLAND_DISPLAY="wayland-0")
        self.env.pop("DISPLAY", None)
        extensions = os.path.join(self.dir, ".local", "share", "gnome-shell", "extensions")
        for folder in (EXTENSION, HAND):
            shutil.copytree(folder, os.path.join(extensions, os.path.basename(folder)))
        subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",
                        str([UUID, "glide-hand@glide"])], env=self.env, check=True)
        self.processes.append(subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
            env=self.env, stdout=self.log, stderr=self.log))
        wait_for(lambda: self.owned("org.freedesktop.login1", system=True),
                 "the mock logind did not start")
        monitorflags = [flag for size in monitors for flag in ("--virtual-monitor", size)]
        self.shell = subprocess.Popen(
            [GNOME_SHELL, "--headless", "--wayland", "--no-x11", *monitorflags],
            env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.processes.append(self.shell)
        wait_for(lambda: self.owned("org.glide.Hand") and self.owned("org.glide.Pointer"),
                 "GNOME Shell did not start with the extensions", seconds=30)

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

    def extensions(self, verb):
        """Enables or disables glide's extension, as its user would."""
        subprocess.run([GNOME_EXTENSIONS, verb, UUID], env=self.env, check=True,
                       stdout=self.log, stderr=self.log)
        wait_for(lambda: self.owned("org.glide.Pointer") == (verb == "enable"),
                 "could not %s the extension" % verb)
