"""A private headless KWin under Wayland for glide to run on, with the
tests' hand on the pointer: its own session bus, HOME, XDG_RUNTIME_DIR and
data folder, whose .desktop files let glide and the hand have fake input."""

import os
import shutil
import subprocess
import tempfile

from session import OnSessionBus, bus
from xserver import wait_for

KWIN_WAYLAND = os.environ.get("KWIN_WAYLAND", "/usr/bin/kwin_wayland")
HAND = os.environ.get("KWIN_HAND", "")
HAND_SCRIPT = os.path.join(os.path.dirname(__file__), "..", "kwin", "hand.js")
ALLOWS = "[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nNoDisplay=true\n" \
         "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n"


class Kwin(OnSessionBus):
    def __init__(self, outputs=1, size=(1024, 768)):
        self.dir = tempfile.mkdtemp(prefix="glide-kwin-")
        runtime = os.path.join(self.dir, "run")
        os.mkdir(runtime, 0o700)
        applications = os.path.join(self.dir, "share", "applications")
        os.makedirs(applications)
        for i, program in enumerate((HAND, os.environ.get("GLIDE", ""))):
            with open(os.path.join(applications, "allowed%d.desktop" % i), "w") as f:
                f.write(ALLOWS % ("allowed%d" % i, os.path.realpath(program)))
        self.log = open(os.path.join(self.dir, "log"), "w")
        session, address = bus(self.log)
        self.processes = [session]
        self.env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=runtime,
                        XDG_DATA_HOME=os.path.join(self.dir, "share"),
                        XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                        XDG_CACHE_HOME=os.path.join(self.dir, "cache"),
                        DBUS_SESSION_BUS_ADDRESS=address, KWIN_COMPOSE="Q",
                        XDG_CURRENT_DESKTOP="KDE", WAYLAND_DISPLAY="glide-kwin")
        self.env.pop("DISPLAY", None)
        # A copy, without the file capability that this kind of machine
        # refuses to run a program with.
        kwin = os.path.join(self.dir, "kwin_wayland")
        shutil.copy(KWIN_WAYLAND, kwin)
        self.compositor = subprocess.Popen(
            [kwin, "--virtual", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities",
             "--socket", "glide-kwin", "--width", str(size[0]), "--height", str(size[1]),
             "--output-count", str(outputs)],
            env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.processes.append(self.compositor)
        # KWin's name comes a moment before its scripting answers.
        wait_for(lambda: self.gdbus("-d", "org.kde.KWin", "-o", "/Scripting", "-m",
                                    "org.kde.kwin.Scripting.isScriptLoaded", "glide-hand"),
                 "KWin did not start", seconds=30)
        self.processes.append(subprocess.Popen([HAND], env=self.env, stdout=self.log,
                                               stderr=self.log))
        wait_for(lambda: self.gdbus("-d", "org.glide.Hand", "-o", "/org/glide/Hand", "-m",
                                    "org.freedesktop.DBus.Peer.Ping"),
                 "the hand did not start", seconds=10)
        loaded = self.gdbus("-d", "org.kde.KWin", "-o", "/Scripting", "-m",
                            "org.kde.kwin.Scripting.loadScript",
                            os.path.abspath(HAND_SCRIPT), "glide-hand")
        number = loaded.strip("(,)\n")
        for path in ("/Scripting/Script" + number, "/" + number):
            if self.gdbus("-d", "org.kde.KWin", "-o", path, "-m", "org.kde.kwin.Script.run"):
                break
        wait_for(lambda: self.cursor() != (-1, -1), "the hand cannot see the pointer")

    def lock(self, locked):
        """Locks or unlocks the screen, as the screen saver tells."""
        self.hand("Lock", "true" if locked else "false")
