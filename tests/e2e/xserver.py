"""A private X server for glide to run on, and xdotool to watch the cursor;
for the Windows build, Wine's desktop on it too."""

import os
import subprocess
import time

XVFB = os.environ.get("XVFB", "Xvfb")
XDOTOOL = os.environ.get("XDOTOOL", "xdotool")
XRANDR = os.environ.get("XRANDR", "xrandr")
XPRINTIDLE = os.environ.get("XPRINTIDLE", "xprintidle")
# Set when glide is a Windows program to run under Wine.
WINE = os.environ.get("GLIDE_WINE")


# The display that Wine's desktop is on: only one at a time.
wine_display = None


def restart_wine(env):
    subprocess.run([os.path.join(os.path.dirname(__file__), "..", "restart-wine")], env=env,
                   check=True)


class Display:
    def __init__(self, width, height):
        self.screen = (width, height)
        read, write = os.pipe()
        self.server = subprocess.Popen(
            [XVFB, "-displayfd", str(write), "-noreset", "-nolisten", "tcp",
             "-screen", "0", "%dx%dx24" % (width, height)],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.server.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.env = dict(os.environ, DISPLAY=self.name)
        self.env.pop("WAYLAND_DISPLAY", None)
        # A client kept connected for the server's whole life.
        self.keeper = subprocess.Popen([XDOTOOL, "sleep", "100000"], env=self.env)

    def ready_wine(self):
        """Puts Wine's desktop on this display, when glide runs under Wine."""
        global wine_display
        if WINE and wine_display is not self:
            restart_wine(self.env)
            wine_display = self

    def close(self):
        global wine_display
        if wine_display is self:
            # Off this display, for whatever runs next.
            restart_wine({k: v for k, v in os.environ.items() if k != "DISPLAY"})
            wine_display = None
        for p in (self.keeper, self.server):
            p.terminate()
            p.wait()

    def xdotool(self, *args):
        return subprocess.run([XDOTOOL, *map(str, args)], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def move(self, x, y):
        self.ready_wine()  # first: Wine's start must not disturb the cursor
        # Not --sync: it waits for a movement that never comes when the
        # cursor is already there.
        self.xdotool("mousemove", x, y)
        for _ in range(100):
            if self.cursor() == (x, y):
                return
            time.sleep(0.01)
        raise AssertionError("xdotool could not move the cursor to %d,%d" % (x, y))

    def cursor(self):
        fields = dict(line.split("=", 1) for line in self.xdotool(
            "getmouselocation", "--shell").split())
        return int(fields["X"]), int(fields["Y"])

    def resize(self, width, height):
        """Resizes the screen, as xrandr does on a desktop. (On Xvfb xrandr
        reports BadValue, and resizes all the same.)"""
        subprocess.run([XRANDR, "--fb", "%dx%d" % (width, height)], env=self.env,
                       capture_output=True)
        for _ in range(100):
            if self.xdotool("getdisplaygeometry").split() == [str(width), str(height)]:
                return
            time.sleep(0.01)
        raise AssertionError("xrandr could not resize the screen to %dx%d" % (width, height))

    def idle_milliseconds(self):
        """How long the server has seen no input, as a screen saver asks it."""
        return int(subprocess.run([XPRINTIDLE], env=self.env, check=True, capture_output=True,
                                  text=True).stdout)
