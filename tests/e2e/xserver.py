"""A private X server for glide to run on, and xdotool to watch the cursor;
for the Windows build, Wine's desktop on it too."""

import os
import socket
import subprocess
import threading
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
        wait_for(lambda: self.cursor() == (x, y),
                 "xdotool could not move the cursor to %d,%d" % (x, y))

    def nudge(self, dx, dy):
        """Moves the pointer as a device does."""
        self.xdotool("mousemove_relative", "--", dx, dy)

    def flick(self, dx, times=12):
        """Moves the pointer as a device does, dx pixels every 8 ms; returns
        when the hand let go."""
        moves = []
        for _ in range(times):
            moves += ["mousemove_relative", "--", dx, 0, "sleep", 0.008]
        self.xdotool(*moves[:-2])
        return time.monotonic()

    def cursor(self):
        fields = dict(line.split("=", 1) for line in self.xdotool(
            "getmouselocation", "--shell").split())
        return int(fields["X"]), int(fields["Y"])

    def resize(self, width, height):
        """Resizes the screen, as xrandr does on a desktop. (On Xvfb xrandr
        reports BadValue, and resizes all the same.)"""
        subprocess.run([XRANDR, "--fb", "%dx%d" % (width, height)], env=self.env,
                       capture_output=True)
        wait_for(lambda: self.xdotool("getdisplaygeometry").split() == [str(width), str(height)],
                 "xrandr could not resize the screen to %dx%d" % (width, height))

    def set_monitor(self, name, left, top, width, height, output="none"):
        """Makes a monitor, as xrandr --setmonitor does on a desktop; on the
        output "screen", it takes the place of Xvfb's own monitor."""
        geometry = "%d/%dx%d/%d+%d+%d" % (width, width // 4, height, height // 4, left, top)
        self.xrandr("--setmonitor", name, geometry, output)
        wait_for(lambda: " %s %s " % (name, geometry) in self.xrandr("--listmonitors"),
                 "xrandr could not make the monitor %s %s" % (name, geometry))

    def set_monitors(self, *monitors):
        """Makes the monitors, each (left, top, right, bottom) and named A,
        B and so on; the first takes the place of Xvfb's own."""
        for i, (left, top, right, bottom) in enumerate(monitors):
            self.set_monitor(chr(ord("A") + i), left, top, right - left, bottom - top,
                             "none" if i else "screen")

    def xrandr(self, *args):
        return subprocess.run([XRANDR, *args], env=self.env, check=True, capture_output=True,
                              text=True).stdout

    def idle_milliseconds(self):
        """How long the server has seen no input, as a screen saver asks it."""
        return int(subprocess.run([XPRINTIDLE], env=self.env, check=True, capture_output=True,
                                  text=True).stdout)


def schedstat(pid):
    """The seconds that all the process's threads have spent on a processor,
    and the times they were put on one, which is how often they woke, as the
    scheduler counted them: exact, where getrusage's split into user and
    system time is sampled at the timer tick, which glide's short wake-ups
    can fall in step with. Zeros for a process that has gone."""
    seconds = wakeups = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except FileNotFoundError:
        return 0.0, 0
    for task in tasks:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                fields = f.read().split()
        except FileNotFoundError:
            continue  # a thread that has just ended
        seconds += int(fields[0]) / 1e9
        wakeups += int(fields[2])
    return seconds, wakeups


def wait_for(condition, failure, seconds=1):
    """Waits up to a second, or the seconds given, for a server to show what
    a client asked of it; else fails saying failure (or what it returns)."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(failure() if callable(failure) else failure)
        time.sleep(0.01)


def x_socket(number):
    """The abstract socket that Xlib tries first for the display :number."""
    return "\0/tmp/.X11-unix/X%s" % number


class Relay:
    """A display of its own in front of another, passing everything through
    until told to stop reading, as a server that is going away does."""

    def __init__(self, display):
        self.listener = socket.socket(socket.AF_UNIX)
        # At the first free display number from 1000 on.
        for number in range(1000, 2000):
            try:
                self.listener.bind(x_socket(number))
                break
            except OSError:
                continue
        self.listener.listen(1)
        self.name = ":%d" % number
        self.env = dict(display.env, DISPLAY=self.name)
        self.server_path = x_socket(display.name[1:])
        self.client = self.server = None
        self.accepted = threading.Event()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        self.client, _ = self.listener.accept()
        self.server = socket.socket(socket.AF_UNIX)
        self.server.connect(self.server_path)
        self.accepted.set()
        for source, sink in ((self.client, self.server), (self.server, self.client)):
            threading.Thread(target=self.pump, args=(source, sink), daemon=True).start()

    @staticmethod
    def pump(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass

    def stop_reading(self):
        """From now on the client's next request finds the socket closed,
        while nothing it reads says so (a reply on its way still comes)."""
        self.accepted.wait(10)
        self.client.shutdown(socket.SHUT_RD)

    def close(self):
        """Ends the relay, and with it the client's connection to the server."""
        for end in (self.client, self.server):
            if end is not None:
                # Shut down, not only closed: that wakes the pumps, and the
                # server hears of it at once.
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                end.close()
        self.listener.close()
