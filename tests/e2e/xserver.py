"""A private X server for glide to run on, and xdotool to watch the cursor."""

import os
import subprocess
import time

XVFB = os.environ.get("XVFB", "Xvfb")
XDOTOOL = os.environ.get("XDOTOOL", "xdotool")


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

    def close(self):
        for p in (self.keeper, self.server):
            p.terminate()
            p.wait()

    def xdotool(self, *args):
        return subprocess.run([XDOTOOL, *map(str, args)], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def move(self, x, y):
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
