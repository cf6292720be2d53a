"""A private headless GNOME Shell under Wayland for glide to run on, with
glide's extension and the tests' hand on the pointer: its own session bus,
a second bus standing in for the system's with a mock logind on it, and its
own HOME and XDG_RUNTIME_DIR."""

import os
import shutil
import subprocess
import tempfile
import time

from session import OnSessionBus, bus
from xserver import wait_for

GNOME_SHELL = os.environ.get("GNOME_SHELL", "gnome-shell")
GNOME_EXTENSIONS = os.environ.get("GNOME_EXTENSIONS", "gnome-extensions")
# glide's extension as built, and the hand beside these tests.
EXTENSION = os.environ.get("GLIDE_GNOME_EXTENSION", "")
UUID = os.path.basename(EXTENSION)
HAND = os.path.join(os.path.dirname(__file__), "..", "gnome", "glide-hand@glide")


class Shell(OnSessionBus):
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
        # A glide that bounces off the top left corner must not open the
        # overview, where a new window takes no focus.
        subprocess.run(["gsettings", "set", "org.gnome.desktop.interface", "enable-hot-corners",
                        "false"], env=self.env, check=True)
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
        self.compositor = self.shell
        wait_for(lambda: self.owned("org.glide.Hand") and self.owned("org.glide.Pointer"),
                 "GNOME Shell did not start with the extensions", seconds=30)

    def extensions(self, verb):
        """Enables or disables glide's extension, as its user would."""
        subprocess.run([GNOME_EXTENSIONS, verb, UUID], env=self.env, check=True,
                       stdout=self.log, stderr=self.log)
        wait_for(lambda: self.owned("org.glide.Pointer") == (verb == "enable"),
                 "could not %s the extension" % verb)
