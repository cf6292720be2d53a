"""glide on a private X server: its report lines and the cursor's path, as
seen by xdotool, must be exactly what the tick's arithmetic gives."""

import math
import os
import select
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest

from session import StandIn, TestWindow, TrayItem, Watcher, bus
from xserver import WINE, Display, Relay, restart_wine, schedstat, wait_for

# A Windows build runs under Wine, and ends its lines as Windows does.
GLIDE = [WINE, os.environ["GLIDE"]] if WINE else [os.environ["GLIDE"]]
# Its glidew.exe, with no console.
GLIDEW = [WINE, os.environ["GLIDEW"]] if WINE else None
NEWLINE = "\r\n" if WINE else "\n"


def ended(text):
    """text with this platform's line ends."""
    return text.replace("\n", NEWLINE)


USAGE = ("usage: glide [-q] [--screen] [-t|--throw[=SPEED]] [FRICTION]\n"
         "       glide --pause | --resume | --toggle | --status\n")

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1


# ---- an independent model of the tick, in IEEE single and double precision ----

def f32(v):
    """v rounded to single precision."""
    try:
        return struct.unpack("<f", struct.pack("<f", v))[0]
    except OverflowError:
        return math.copysign(math.inf, v)


def div(a, b):
    """a / b in double with IEEE results where Python would raise."""
    if b == 0:
        if a == 0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def roundaway(v):
    if math.isnan(v) or v == 0:
        return 0
    if math.isinf(v):
        return INT32_MAX if v > 0 else INT32_MIN
    r = math.trunc(v + 0.5 if v > 0 else v - 0.5)
    return max(INT32_MIN, min(INT32_MAX, r))


def model(start, friction, screen, ticks, monitors=None, rest=None):
    """The report lines and the cursor's position after each tick, for a run
    from start with nobody else moving the mouse. With monitors, a list of
    (left, top, right, bottom), the walls of --screen take the place of the
    area's edges. With rest, glide has come to rest there, and start is where
    a hand has moved the cursor since."""
    friction = f32(friction)
    # The area's edges, or the screen's where it is smaller.
    width, height = min(1023, screen[0] - 1), min(767, screen[1] - 1)

    def on(x, y):
        return any(left <= x < right and top <= y < bottom
                   for left, top, right, bottom in monitors)

    lastx = lasty = 0.0
    c, d = map(f32, rest or (0, 0))
    first = rest is None
    lines, path = [], [start]
    x, y = start
    for _ in range(ticks):
        if monitors is None:
            xout = x >= width or x <= 0
            yout = y >= height or y <= 0
        else:
            xout = not (on(x, y) and on(x - 1, y) and on(x + 1, y))
            yout = not (on(x, y) and on(x, y - 1) and on(x, y + 1))
        if first:
            lastx, lasty, first = f32(x), f32(y), False
        else:
            if not xout and f32(f32(x) - c) != roundaway(lastx):
                lastx = f32(x - lastx)
            if not yout and f32(f32(y) - d) != roundaway(lasty):
                lasty = f32(y - lasty)
            lines.append("%f/%f=%f" % (lastx, friction, div(lastx, friction)))
            lastx, lasty = f32(div(lastx, friction)), f32(div(lasty, friction))
        if xout:
            lastx = -lastx
        if yout:
            lasty = -lasty
        c, d = f32(x), f32(y)
        x = min(max(x + roundaway(lastx), 0), screen[0] - 1)
        y = min(max(y + roundaway(lasty), 0), screen[1] - 1)
        path.append((x, y))
    return lines, path


class Glide:
    """glide started on a display, its report lines gathered as they come."""

    def __init__(self, display, args=(), env=None, wrapper=(), program=GLIDE):
        display.ready_wine()
        self.process = subprocess.Popen([*wrapper, *program, *args], env=env or display.env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = []
        self.times = []  # when each line came
        self.more = threading.Condition()
        self.reader = threading.Thread(target=self.read)
        self.reader.start()

    def read(self):
        for line in self.process.stdout:
            with self.more:
                self.lines.append(line.decode().removesuffix(NEWLINE))
                self.times.append(time.monotonic())
                self.more.notify_all()
        with self.more:
            self.more.notify_all()

    def wait_for(self, count, timeout=30):
        """Waits until glide has printed count lines in all; False if it
        has not in time, or has ended."""
        with self.more:
            self.more.wait_for(lambda: len(self.lines) >= count or not self.reader.is_alive(),
                               timeout)
            return len(self.lines) >= count

    def running(self):
        return self.process.poll() is None

    def stop(self, sig=signal.SIGINT):
        """Ends glide with the signal (None: waits for it to end by itself),
        unless it has ended; returns its standard error and exit status."""
        before = len(self.lines)
        if sig is not None and self.running():
            self.process.send_signal(sig)
        self.process.wait(timeout=30)
        self.reader.join()
        self.process.stdout.close()
        err = self.process.stderr.read().decode()
        self.process.stderr.close()
        if WINE and sig is not None:
            # Wine stops a program on another thread while the program goes on,
            # and its last line has been seen to come out twice: only the lines
            # printed before the interrupt are glide's to answer for.
            del self.lines[before:]
        return err, self.process.returncode


def run_glide(display, args, lines_wanted, env=None):
    """Runs glide until it has printed lines_wanted lines, sampling the cursor
    meanwhile; then interrupts it. Returns its lines, the samples, stderr and
    the exit status."""
    glide = Glide(display, args, env)
    samples = []
    deadline = time.monotonic() + 30
    while len(glide.lines) < lines_wanted and glide.running() and time.monotonic() < deadline:
        samples.append(display.cursor())
    err, status = glide.stop()
    return glide.lines, samples, err, status


def watch(display, until, seconds=10):
    """Samples the cursor until it is at until, or for the given time."""
    samples = [display.cursor()]
    deadline = time.monotonic() + seconds
    while samples[-1] != until and time.monotonic() < deadline:
        samples.append(display.cursor())
    return samples


class OnDisplay(unittest.TestCase):
    """Tests that share one private 1024x768 display."""

    @classmethod
    def setUpClass(cls):
        cls.display = Display(1024, 768)

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def run_briefly(self, args, env=None):
        """Runs glide to its end; returns its exit status, output and errors."""
        self.display.ready_wine()
        done = subprocess.run([*GLIDE, *args], env=env or self.display.env, capture_output=True,
                              timeout=30)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def glide_to_rest(self, args, env=None):
        """glide flung from (300, 200) at friction 2, and where it rests."""
        self.display.move(300, 200)
        rest = model((300, 200), 2, (1024, 768), 100)[1][-1]
        glide = Glide(self.display, args, env)
        self.assertEqual(watch(self.display, rest)[-1], rest)
        return glide, rest

    def assert_nudge_glides(self, rest):
        """A mouse's nudge from rest glides on along the model's path."""
        nudged = (rest[0] + 1, rest[1])
        _, path = model(nudged, 2, (1024, 768), 100, rest=rest)
        self.display.nudge(1, 0)
        samples = watch(self.display, path[-1])
        self.assertEqual(samples[-1], path[-1])
        self.assert_along(samples, path)

    def assert_pauses_and_resumes(self, glide, rest, pause, resume, status, hears=False):
        """glide -q 2, at rest and asleep, paused by pause(), moves nothing
        and sleeps, whatever the hand does: a flick wakes it only where the
        compositor tells it of the pointer (hears); resumed by resume(), it
        starts at rest where the hand left the cursor, and a nudge flings it
        as after any rest. status() says whether it is paused."""
        time.sleep(2)  # the velocities on to zero, and asleep
        self.assertEqual(status(), "active")
        pause()
        self.assertEqual(status(), "paused")
        woke = schedstat(glide.process.pid)[1]
        time.sleep(1.5)
        # Untouched, it wakes at most once in 5 s...
        self.assertLessEqual(schedstat(glide.process.pid)[1] - woke, 1)
        self.display.flick(-12)
        time.sleep(0.5)
        # ...and, deaf to the mouse, not for a flick either; a compositor's
        # news of the pointer may wake it.
        if not hears:
            self.assertLessEqual(schedstat(glide.process.pid)[1] - woke, 1)
        moved = (rest[0] - 144, rest[1])
        self.assertEqual(self.display.cursor(), moved)

        resume()
        self.assertEqual(status(), "active")
        time.sleep(0.2)
        self.assertEqual(self.display.cursor(), moved)
        self.assert_nudge_glides(moved)

    def ask(self, option, env=None):
        """Asks the running glide with the command line; returns what it printed."""
        status, out, err = self.run_briefly([option], env)
        self.assertEqual((status, err), (0, ""), option)
        return out.strip()

    def assert_along(self, samples, path):
        """Each sample is on the path, and no sample is before the one before it."""
        at = 0
        for sample in samples:
            while at < len(path) and path[at] != sample:
                at += 1
            self.assertLess(at, len(path), "cursor at %s, off the path %s" % (sample, path))

    def check(self, start, args=(), friction=1.4, screen=(1024, 768), wanted=60,
              monitors=None, display=None):
        """Runs glide from start until it has printed the lines wanted, on
        the given display or one of the given size, and compares its lines
        and the cursor's path with the model's."""
        made = display is None and screen != (1024, 768)
        if display is None:
            display = Display(*screen) if made else self.display
        try:
            display.move(*start)
            self.assertEqual(display.cursor(), start)
            lines, samples, err, status = run_glide(display, args, wanted)
            final = display.cursor()
        finally:
            if made:
                display.close()
        # Ended by the interrupt (Wine turns it into an exit with status 0).
        self.assertEqual(status, 0 if WINE else -signal.SIGINT, err)
        self.assertEqual(err, "")
        self.assertGreaterEqual(len(lines), wanted)
        ticks = len(lines) + 1  # the first prints nothing
        # Under Wine glide may tick on a little after the interrupt.
        expected, path = model(start, friction, screen, ticks + (10 if WINE else 0), monitors)
        self.assertEqual(lines, expected[:len(lines)])
        # The cursor went along the path, in order...
        self.assert_along(samples, path)
        # ...and stopped where the last tick left it (or, interrupted between
        # its line and its move, one tick before).
        self.assertIn(final, path[ticks - 1:] if WINE else path[ticks - 1:ticks + 1])
        return lines


class Path(OnDisplay):
    """The lines and the path from several starts, frictions and screens."""

    def test_default_friction_from_300_200(self):
        lines = self.check((300, 200))
        self.assertEqual(lines[0], "300.000000/1.400000=214.285718")

    def test_frictions(self):
        for friction in ("2", "1.25", "0.5", "0.85", "-1.4", "0", "-0", "1e39", "1e-45",
                         "3.4028235e38"):
            with self.subTest(friction=friction):
                self.check((300, 200), [friction], float(friction))

    def test_starts(self):
        for start in ((0, 0), (1023, 767), (1, 766), (1000, 10), (512, 384)):
            with self.subTest(start=start):
                self.check(start)

    def test_screens(self):
        for screen in ((800, 600), (1600, 1200)):
            for start, friction in (((300, 200), "1.4"), ((700, 550), "1.05"),
                                    ((1500, 1100), "0.85")):
                start = (min(start[0], screen[0] - 1), min(start[1], screen[1] - 1))
                with self.subTest(screen=screen, start=start, friction=friction):
                    self.check(start, [friction], float(friction), screen)

    def test_screen_walls_of_one_large_monitor(self):
        # Wine too sees the one monitor: the walls are the screen's edges,
        # far past 1023 and 767.
        for start, friction in (((300, 200), "1.4"), ((1500, 1100), "1.05"),
                                ((1599, 10), "0.85")):
            with self.subTest(start=start, friction=friction):
                self.check(start, ["--screen", friction], float(friction), (1600, 1200),
                           monitors=[(0, 0, 1600, 1200)])

    def test_two_arguments_keep_the_default(self):
        lines = self.check((300, 200), ["2", "3"])
        self.assertTrue(lines[0].startswith("300.000000/1.400000="))

    def test_quiet_prints_nothing_and_glides_the_same(self):
        self.display.move(300, 200)
        _, path = model((300, 200), 2, (1024, 768), 100)
        glide = Glide(self.display, ["-q", "2"])
        samples = watch(self.display, path[-1])
        err, _ = glide.stop()
        self.assertEqual((glide.lines, err), ([], ""))
        self.assertEqual(samples[-1], path[-1])
        self.assert_along(samples, path)

    @unittest.skipIf(WINE, "Wayland is an X11 matter")
    def test_wayland_is_warned_about_and_glide_carries_on(self):
        self.display.move(300, 200)
        env = dict(self.display.env, WAYLAND_DISPLAY="wayland-0")
        lines, _, err, _ = run_glide(self.display, [], 3, env)
        self.assertEqual(lines[0], "300.000000/1.400000=214.285718")
        self.assertRegex(err, r"^glide: warning: .*Wayland.*\n$")


class Refusals(OnDisplay):
    """What glide refuses leaves the cursor where it was."""

    def test_text_that_is_not_a_number(self):
        self.display.move(300, 200)
        status, out, err = self.run_briefly(["abc"])
        self.assertEqual(status, 2)
        self.assertEqual(out, "")
        self.assertEqual(err, ended('glide: friction "abc" is not a number\n'
                                    + USAGE))
        self.assertEqual(self.display.cursor(), (300, 200))

    def test_unknown_option(self):
        self.display.move(300, 200)
        self.assertEqual(self.run_briefly(["2", "--bogus", "--help"]),
                         (2, "", ended('glide: unknown option "--bogus"\n'
                                       + USAGE)))
        self.assertEqual(self.display.cursor(), (300, 200))

    @unittest.skipIf(WINE, "Windows has no display to open")
    def test_missing_display(self):
        env = dict(os.environ, DISPLAY=":4093")
        self.assertEqual(self.run_briefly([], env), (1, "", "glide: cannot open display :4093\n"))
        env.pop("DISPLAY")
        self.assertEqual(self.run_briefly([], env),
                         (1, "", "glide: cannot open display (DISPLAY is not set)\n"))


class Desktop(OnDisplay):
    """glide shares a desktop: it lets the screen lock, costs little, keeps
    to one copy a display, and copes with closed output and a lost display."""

    def test_at_rest_the_screen_may_lock_and_glide_costs_little(self):
        self.display.move(300, 200)
        glide = Glide(self.display, ["2"])
        try:
            # Flung, and at rest some ten ticks later.
            self.assertTrue(glide.wait_for(1))
            used, started = schedstat(glide.process.pid)[0], time.monotonic()
            time.sleep(3)
            share = (schedstat(glide.process.pid)[0] - used) / (time.monotonic() - started)
            idle = self.display.idle_milliseconds()
            self.assertTrue(glide.running())
        finally:
            glide.stop()
        # The server counts no input while glide holds still...
        self.assertGreater(idle, 2000)
        # ...and glide sleeps between ticks: a coarse ceiling, that only a
        # loop that spins would break.
        self.assertLess(share, 0.2)

    def test_quiet_at_rest_sleeps_until_a_nudge(self):
        # Under Wine, glidew.exe: quiet without being told, and ended as a
        # session's end or taskkill ends it, by WM_CLOSE to its hidden window.
        self.display.move(300, 200)
        rest = model((300, 200), 2, (1024, 768), 100)[1][-1]
        glide = Glide(self.display, ["2"], program=GLIDEW) if WINE else Glide(
            self.display, ["-q", "2"])
        try:
            self.assertEqual(watch(self.display, rest)[-1], rest)
            # Halved, the velocities reach zero some 160 ticks after the last move.
            time.sleep(2.5)
            (_, woke), started = schedstat(glide.process.pid), time.monotonic()
            time.sleep(2)
            rate = (schedstat(glide.process.pid)[1] - woke) / (time.monotonic() - started)
            # Ticking, it would wake some 180 times a second (under Wine,
            # over a thousand); asleep, once a second and what a tick costs.
            self.assertLess(rate, 20 if WINE else 5)

            # A device's nudge is answered at once (under Wine, which tells
            # of no device, within the second), along the model's path.
            nudged = (rest[0] + 1, rest[1])
            _, path = model(nudged, 2, (1024, 768), 100, rest=rest)
            # Just after glide has woken by itself, so that only the nudge's
            # own wake can answer it soon.
            woke = schedstat(glide.process.pid)[1]
            while schedstat(glide.process.pid)[1] == woke:
                time.sleep(0.002)
            time.sleep(0.05)
            self.display.xdotool("mousemove_relative", 1, 0)
            nudge, answered = time.monotonic(), None
            samples = [nudged]
            while samples[-1] != path[-1] and time.monotonic() < nudge + 10:
                samples.append(self.display.cursor())
                if answered is None and samples[-1] != nudged:
                    answered = time.monotonic() - nudge
            self.assertEqual(samples[-1], path[-1])
            self.assert_along(samples, path)
            # Coarse: the second's wake would answer too, only later.
            self.assertLess(answered, 1.5 if WINE else 0.3)
            self.assertTrue(glide.running())
            if WINE:
                subprocess.run([WINE, "taskkill", "/im", "glidew.exe"], env=self.display.env,
                               check=True, capture_output=True)
                self.assertEqual(glide.stop(None) + (glide.lines,), ("", 0, []))
        finally:
            if glide.running():
                glide.stop()

    def test_one_glide_a_display(self):
        taken = ended("glide: another glide is already running %s\n" % (
            "in this session" if WINE else "on display " + self.display.name))
        self.display.move(300, 200)
        first = Glide(self.display, ["1.05"])
        self.assertTrue(first.wait_for(1))
        self.assertEqual(self.run_briefly([]), (3, "", taken))
        # The first goes on...
        self.assertTrue(first.wait_for(len(first.lines) + 5))
        # ...and killed, leaves nothing behind: the next starts at once.
        self.assertEqual(first.stop(signal.SIGKILL)[1], -signal.SIGKILL)
        third = Glide(self.display)
        ran = third.wait_for(3)
        self.assertEqual(third.stop()[0], "")
        self.assertTrue(ran)

        # Of two started together, one runs and the other is refused.
        pair = [Glide(self.display) for _ in range(2)]
        deadline = time.monotonic() + 10
        while all(glide.running() for glide in pair) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.6)
        outcomes = sorted((glide.running(), glide.stop()) for glide in pair)
        self.assertEqual(outcomes[0][:1] + outcomes[0][1], (False, taken, 3))
        self.assertEqual(outcomes[1][0], True)

    @unittest.skipIf(WINE, "descriptors are an X11 matter")
    def test_closed_standard_streams(self):
        rest = model((300, 200), 2, (1024, 768), 100)[1][-1]
        for closing, closed in ((">&-", [1]), ("<&- >&- 2>&-", [0, 1, 2])):
            with self.subTest(closing=closing):
                self.display.move(300, 200)
                glide = Glide(self.display, ["2"],
                              wrapper=["sh", "-c", 'exec "$@" ' + closing, "sh"])
                try:
                    # The report lines go nowhere, and not down the X
                    # connection: the cursor glides on to rest as on any run.
                    self.assertEqual(watch(self.display, rest)[-1], rest)
                    self.assertTrue(glide.running())
                    self.assertEqual([os.readlink("/proc/%d/fd/%d" % (glide.process.pid, fd))
                                      for fd in closed], ["/dev/null"] * len(closed))
                finally:
                    glide.stop()

    @unittest.skipIf(WINE, "the X server is glide's own only on X11")
    def test_lost_display(self):
        display = Display(1024, 768)
        relay = Relay(display)
        try:
            # A server may go between glide's reading and its next request,
            # which then meets a closed socket: still said, not a silent
            # SIGPIPE.
            glide = Glide(display, env=relay.env)
            self.assertTrue(glide.wait_for(1))
            relay.stop_reading()
            err, status = glide.stop(None)
            self.assertEqual((status, err), (1, "glide: lost the display %s\n" % relay.name))
            relay.close()
            glide = Glide(display)
            self.assertTrue(glide.wait_for(1))
            display.server.terminate()
            err, status = glide.stop(None)
            self.assertEqual((status, err), (1, "glide: lost the display %s\n" % display.name))
        finally:
            relay.close()
            display.close()

    @unittest.skipIf(WINE, "SIGPIPE is a POSIX matter")
    def test_reader_gone(self):
        # glide | head: glide ends when its lines have nowhere to go.
        glide = subprocess.Popen(GLIDE, env=self.display.env, stdout=subprocess.PIPE)
        try:
            glide.stdout.readline()
            glide.stdout.close()
            self.assertEqual(glide.wait(timeout=10), -signal.SIGPIPE)
        finally:
            glide.kill()
            glide.wait()


class Control(OnDisplay):
    """The command line reaches the display's glide through the X server,
    with a session bus or without one, and SIGUSR1 toggles it; under Wine,
    through glide's window."""

    def test_command_line_and_sigusr1(self):
        log = open(os.devnull, "w")
        daemon, address = bus(log)
        withbus = dict(self.display.env, DBUS_SESSION_BUS_ADDRESS=address)
        nobus = {name: value for name, value in self.display.env.items()
                 if name not in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")}
        glide, rest = self.glide_to_rest(["-q", "2"])

        def toggle_until(state):
            if WINE:
                self.ask("--toggle", withbus)
            else:
                glide.process.send_signal(signal.SIGUSR1)
            wait_for(lambda: self.ask("--status", nobus) == state, "SIGUSR1 did not toggle")

        try:
            self.assert_pauses_and_resumes(glide, rest, lambda: self.ask("--pause", withbus),
                                           lambda: toggle_until("active"),
                                           lambda: self.ask("--status", nobus))
            self.ask("--toggle", nobus)
            self.assertEqual(self.ask("--status", withbus), "paused")
            toggle_until("active")
            self.ask("--resume", nobus)  # as it is
            self.assertEqual(self.ask("--status", nobus), "active")
        finally:
            self.assertEqual(glide.stop(), ("", 0 if WINE else -signal.SIGINT))
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
            log.close()
        self.assertEqual(self.run_briefly(["--status"], nobus),
                         (1, "", ended("glide: no glide is running in this session\n")))


@unittest.skipIf(WINE, "Windows has a notification area of its own")
class Tray(OnDisplay):
    """glide's item in a panel's tray, on the session bus."""

    def test_a_click_pauses_and_resumes_and_quit_ends_glide(self):
        log = open(os.devnull, "w")
        daemon, address = bus(log)
        env = dict(self.display.env, DBUS_SESSION_BUS_ADDRESS=address)
        watcher = None
        glide, _ = self.glide_to_rest(["-q", "2"], env)
        item = TrayItem(env, glide.process.pid)

        def shows(state):
            wait_for(lambda: self.ask("--status", env) == state, "glide is not " + state)
            self.assertEqual(item.icon(), "(<'%s'>,)\n" % {"active": "glide",
                                                            "paused": "glide-paused"}[state])

        try:
            # Without a watcher, not a word; one that comes later is told.
            time.sleep(0.3)
            watcher = Watcher(env, log)
            wait_for(lambda: watcher.items() == [item.name], "glide did not register", 2)
            shows("active")
            item.click()
            shows("paused")
            item.choose("Resume")
            shows("active")
            item.choose("Quit")
            self.assertEqual(glide.stop(None), ("", 0))
        finally:
            if glide.running():
                glide.stop()
            if watcher:
                watcher.close()
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
            log.close()


# Side by side, of different heights, on a 3000 x 1200 screen: (left, top,
# right, bottom) of each.
A = (0, 0, 1920, 1080)
B = (1920, 0, 3000, 1200)


@unittest.skipIf(WINE, "Wine sees one monitor on Xvfb")
class Monitors(OnDisplay):
    """--screen bounces off every side of a monitor with no monitor beyond
    it, and follows the monitors as they change."""

    @classmethod
    def setUpClass(cls):
        cls.display = Display(3000, 1200)
        cls.display.set_monitors(A, B)

    def test_paths(self):
        # Across the shared edge both ways, off the bottom of the shorter
        # one, and (0.85) jittering where Xvfb lets the cursor leave them.
        for start, friction in (((300, 200), "1.4"), ((2500, 1150), "2"), ((1200, 700), "1.4"),
                                ((1919, 1079), "1.25"), ((1000, 1000), "0.85")):
            with self.subTest(start=start, friction=friction):
                self.check(start, ["--screen", friction], float(friction), (3000, 1200),
                           monitors=[A, B], display=self.display)

    def test_a_server_that_lists_no_monitor_is_one(self):
        # Resized, Xvfb lists none: the root window stands in for them.
        display = Display(1920, 1200)
        try:
            display.resize(1600, 1000)
            self.assertEqual(display.xrandr("--listmonitors"), "Monitors: 0\n")
            self.check((300, 200), ["--screen", "1.05"], 1.05, (1600, 1000),
                       monitors=[(0, 0, 1600, 1000)], display=display)
        finally:
            display.close()

    def test_follows_a_monitor_added_while_running(self):
        display = Display(3000, 1200)
        glide = None
        try:
            display.set_monitors(A)
            display.move(400, 300)
            lines, path = model((400, 300), 2, (3000, 1200), 40, [A])
            glide = Glide(display, ["--screen", "2"])
            self.assertTrue(glide.wait_for(len(lines)))
            self.assertEqual(glide.lines[:len(lines)], lines)
            rest = display.cursor()
            self.assertEqual(rest, path[-1])

            # Flung from rest into where the new monitor is: without it, the
            # cursor would be off every monitor and turned round there.
            display.set_monitor("B", 1920, 0, 1080, 1200)
            time.sleep(0.1)
            lines, path = model((1500, 500), 2, (3000, 1200), 40, [A, B], rest)
            self.assertNotEqual(lines, model((1500, 500), 2, (3000, 1200), 40, [A], rest)[0])
            seen = len(glide.lines)
            display.xdotool("mousemove", 1500, 500)
            self.assertTrue(glide.wait_for(seen + 60))
            flung = glide.lines[seen:]
            while flung and float(flung[0].split("/")[0]) == 0:
                del flung[0]  # still at rest
            self.assertEqual(flung[:len(lines)], lines)
            self.assertEqual(display.cursor(), path[-1])
        finally:
            if glide:
                glide.stop()
            display.close()


def settle(glide, quiet=0.3):
    """Waits until glide has printed nothing for a while."""
    seen = -1
    while seen != len(glide.lines):
        seen = len(glide.lines)
        time.sleep(quiet)


class Throwing(OnDisplay):
    """--throw: a flick of 1,500 pixels a second glides on at the hand's
    speed, slowing, and a touch stops it."""

    def assert_flick_glides(self, glide, within=0.06):
        """Flicks right from (100, 300), and follows the glide, begun within
        the seconds given of the hand letting go, to its end."""
        self.display.move(100, 300)
        time.sleep(0.5)
        letgo = self.display.flick(12)
        settle(glide)
        self.assertLess(glide.times[0] - letgo, within)
        velocities = [float(line.split("/")[0]) for line in glide.lines]
        steps = [roundaway(f32(div(v, f32(1.05)))) for v in velocities]
        # The hand's 12 pixels every 8 ms, as pixels a tick of about 11.2 ms.
        self.assertGreaterEqual(steps[0], 0.6 * 16.8)
        self.assertLessEqual(steps[0], 1.5 * 16.8)
        self.assertEqual(velocities, sorted(velocities, reverse=True))
        self.assertEqual(self.display.cursor(), (244 + sum(steps), 300))
        self.assertAlmostEqual(sum(steps), steps[0] * 1.05 / 0.05, delta=steps[0] * 21 / 5)

    def assert_throw_hears_the_hand(self, glide, process, most):
        """A flick glides on, a device's move and a press stop a glide, and
        at rest glide sleeps: fewer than most wake-ups a second, over all of
        the threads of process(), glide's pid."""
        self.assert_flick_glides(glide)
        pid = process()
        self.assert_touch_stops(glide, lambda: self.display.nudge(1, 0))
        self.assert_touch_stops(glide, lambda: self.display.xdotool("click", 1))
        (_, woke), started = schedstat(pid), time.monotonic()
        time.sleep(2)
        self.assertLess((schedstat(pid)[1] - woke) / (time.monotonic() - started), most)

    def assert_touch_stops(self, glide, touch):
        """A touch stops a glide in the tick that sees it: after the tick
        that may have been under way, the cursor stays where it is."""
        # A flick that a busy headless shell held up on its way throws
        # nothing: its subject here is the touch, so it may flick again.
        for _ in range(3):
            seen = len(glide.lines)
            self.display.flick(-12)
            if glide.wait_for(seen + 5, timeout=3):
                break
        else:
            self.fail("no flick glided")
        touch()
        touched = time.monotonic()
        time.sleep(0.05)
        at = self.display.cursor()
        settle(glide)
        self.assertLessEqual(sum(t > touched for t in glide.times), 1)
        self.assertEqual(self.display.cursor(), at)


class SteppingAside(Throwing):
    """glide --throw steps aside while a full-screen program or one its
    settings file names has the focus, and comes back when it goes."""

    def setUp(self):
        # A settings file of the test's own, in a folder that is not there yet.
        self.config = tempfile.mkdtemp(prefix="glide-config-")
        self.env = dict(self.display.env, XDG_CONFIG_HOME=self.config)
        self.folder = os.path.join(self.config, "glide")

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.config], check=True)

    def write_settings(self, text):
        """Writes the settings file as editors do: a new file renamed over it."""
        os.makedirs(self.folder, exist_ok=True)
        with open(os.path.join(self.folder, "new"), "w") as f:
            f.write(text)
        os.replace(os.path.join(self.folder, "new"), os.path.join(self.folder, "glide.conf"))

    def status(self):
        """What glide --status says, a line an item."""
        return self.ask("--status", self.env).split("\n")

    def glides(self, glide, tries=3):
        """Whether a flick from (100, 300) glides on: one of a few tries, as
        a busy headless shell may hold up a flick on its way so that it
        throws nothing."""
        for _ in range(tries):
            self.display.move(100, 300)
            time.sleep(0.3)
            seen = len(glide.lines)
            self.display.flick(12)
            settle(glide)
            if len(glide.lines) > seen:
                return True
        return False

    def glide_distance(self, glide):
        """How far a flick right from (100, 300) glides on: a flick that
        glides, of a few tries."""
        self.assertTrue(self.glides(glide))
        return self.display.cursor()[0] - 244

    def assert_menu_sets(self, glide, item, name, label, signin=False):
        """The tray's menu shows the settings, the program that has the focus
        named by label, and "Start at sign-in" where signin says there is a
        user unit to start; a choice is in force at once (a long glide goes
        farther than a short one, and "Not in" sets glide aside), and is
        written: the folder made for the user alone, and then the key's line
        alone changed, by a new file in the old one's place."""
        path = os.path.join(self.folder, "glide.conf")

        def read(name):
            with open(name) as f:
                return f.read()

        def entries():
            return [(p.get("label", p.get("type")), p.get("toggle-type"), p.get("toggle-state"))
                    for _, p in item.menu()]

        def menu(listed, glide):
            check, radio = "'checkmark'", "'radio'"
            return [("'Pause'", None, None), ("'Not in %s'" % label, check, listed),
                    ("'Step aside in full screen'", check, "1"), ("'Glide'", None, None),
                    *[("'%s'" % length, radio, "1" if i == glide else "0")
                      for i, length in enumerate(("Short", "Medium", "Long"))],
                    *[("'Start at sign-in'", check, "0")] * signin,
                    ("'separator'", None, None), ("'Quit'", None, None)]

        wait_for(lambda: entries() == menu("0", 1), lambda: "the menu is %s" % entries())
        item.choose("Short")
        wait_for(lambda: os.path.exists(path) and read(path) == "friction = 1.1\n",
                 "Short was not written")
        self.assertEqual(os.stat(self.folder).st_mode & 0o777, 0o700)
        short = self.glide_distance(glide)
        self.write_settings("# mine\nfrction = 2\nfriction = 1.1\n")
        os.link(path, path + ".old")  # the old file, as a reader holds it open
        item.choose("Long")
        wait_for(lambda: read(path) == "# mine\nfrction = 2\nfriction = 1.03\n",
                 "Long was not written")
        self.assertEqual(read(path + ".old"), "# mine\nfrction = 2\nfriction = 1.1\n")
        self.assertGreater(self.glide_distance(glide), short)
        item.choose("Not in %s" % label)
        wait_for(lambda: self.status() == ["aside", name], "not aside for the program", 2)
        self.assertEqual(read(path), "# mine\nfrction = 2\nfriction = 1.03\n"
                                     "aside-for = %s\n" % name)
        self.assertEqual(entries(), menu("1", 2))

    def assert_steps_aside(self, glide, fullscreen, name, listed, status=None, shows=None):
        """A flick glides until fullscreen(True) makes the program called name
        full screen, and again once fullscreen(False) takes it back; then not
        while the settings file lists it as listed, and again once the file
        no longer does. status() says what glide does, and for which program
        (under Wine, the flick cannot tell while a full-screen window is in
        front: its moves do not show). While aside, shows() says that it is,
        as the desktop shows it."""
        status = status or self.status
        said = []

        def says(state):
            wait_for(lambda: said.append(status()) or said[-1] == [state, name],
                     lambda: "glide --status said %s, not %s" % (said[-1], state), 5)

        self.assertTrue(self.glides(glide))
        fullscreen(True)
        says("aside")
        if shows:
            wait_for(shows, "the desktop does not show glide aside")
        if not WINE:
            self.assertFalse(self.glides(glide, tries=1))
        fullscreen(False)
        says("active")
        self.assertTrue(self.glides(glide))
        self.write_settings("# glide's settings\naside-for = mpv, %s\n" % listed)
        says("aside")
        self.assertFalse(self.glides(glide, tries=1))
        self.write_settings("# glide's settings\n")
        says("active")
        self.assertTrue(self.glides(glide))


class Compositor(SteppingAside):
    """Where a compositor tells glide of the pointer, over the session bus."""

    def assert_steps_aside_for_a_window(self, shows):
        """For a GTK window of the tests', of no .desktop file: named by its
        app id, as its class. shows(glide) says whether the desktop shows
        glide aside for it."""
        window = TestWindow(self.display.env)
        glide = Glide(self.display, ["--throw"], self.env)
        try:
            self.assert_steps_aside(glide, window.fullscreen, "glide-test-window",
                                    "Glide-Test-Window", shows=lambda: shows(glide))
        finally:
            glide.stop()
            window.close()

    def assert_sleeps_until_a_nudge(self):
        """glide -q at rest makes no wake of its own, and a nudge wakes it."""
        glide, rest = self.glide_to_rest(["-q", "2"])
        try:
            time.sleep(2.5)  # the velocities on to zero
            (_, woke), started = schedstat(glide.process.pid), time.monotonic()
            time.sleep(2)
            # Told of every move, it needs no wake of its own.
            rate = (schedstat(glide.process.pid)[1] - woke) / (time.monotonic() - started)
            self.assertLess(rate, 1)
            self.assert_nudge_glides(rest)
        finally:
            glide.stop()


class Throw(Throwing):
    """(Under Wine, which answers from its own last move for a tenth of a
    second, and delivers no raw input outside a virtual desktop, the flick
    alone.)"""

    def test_a_flick_glides_on_and_a_touch_stops_it(self):
        glide = Glide(self.display, ["--throw"])
        try:
            if WINE:
                self.assert_flick_glides(glide)
            else:
                self.assert_throw_hears_the_hand(glide, lambda: glide.process.pid, 1)
        finally:
            glide.stop()


@unittest.skipIf(WINE, "Wine's desktop has its own test")
class Aside(SteppingAside):
    """On X11, a window manager's word of the active window: with no window
    manager, a window of the test's that says it itself."""

    def setUp(self):
        super().setUp()
        self.client = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "xfocus.py")],
            env=self.display.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.assertEqual(self.client.stdout.readline(), "ready\n")

    def tearDown(self):
        self.client.stdin.close()
        self.client.wait()
        self.client.stdout.close()
        super().tearDown()

    def fullscreen(self, on):
        self.client.stdin.write("full\n" if on else "window\n")
        self.client.stdin.flush()
        self.assertEqual(self.client.stdout.readline(), "done\n")

    def test_steps_aside_for_a_full_screen_program_and_a_listed_one(self):
        glide = Glide(self.display, ["--throw"], self.env)
        try:
            # Listed by its class, in another case.
            self.assert_steps_aside(glide, self.fullscreen, "glidetest", "GLIDETEST")
        finally:
            self.assertEqual(glide.stop(), ("", -signal.SIGINT))

    def test_a_write_that_fails_is_said_and_changes_nothing(self):
        self.write_settings("friction = 1.1\n")
        # The folder read-only to glide: as root, whom no mode stops, on a
        # mount of its own.
        wrapper = ()
        if os.geteuid() != 0:
            os.chmod(self.folder, 0o500)
        elif subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0:
            wrapper = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" "$0" && '
                       'mount -o remount,bind,ro "$0" && exec "$@"', self.folder]
        else:
            self.skipTest("no folder can be read-only to glide here")
        log = open(os.devnull, "w")
        daemon, address = bus(log)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        glide = Glide(self.display, ["--throw"], self.env, wrapper=wrapper)
        item = TrayItem(self.env, glide.process.pid)

        def glides():
            return [p.get("toggle-state") for _, p in item.menu() if p.get("toggle-type") ==
                    "'radio'"]

        try:
            wait_for(lambda: glides() == ["1", "0", "0"], "the menu does not show Short")
            item.choose("Long")
            time.sleep(0.5)
            self.assertEqual(glides(), ["1", "0", "0"])
        finally:
            err, _ = glide.stop()
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
            log.close()
            os.chmod(self.folder, 0o700)
        with open(os.path.join(self.folder, "glide.conf")) as f:
            self.assertEqual(f.read(), "friction = 1.1\n")
        self.assertRegex(err, r"^glide: .*/glide.conf: cannot write it: (Read-only file system|"
                              r"Permission denied)\n$")

    def test_the_tray_menu_sets_and_writes_the_settings(self):
        # A private bus, with systemd's user manager and glide's user unit.
        log = open(os.devnull, "w")
        daemon, address = bus(log)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        systemd = StandIn(self.env, log, "systemd")
        glide = Glide(self.display, ["--throw"], self.env)
        item = TrayItem(self.env, glide.process.pid)
        try:
            # The class, the friendlier name.
            self.assert_menu_sets(glide, item, "glidetest", "GlideTest", signin=True)
            # Start at sign-in: the user unit enabled, and disabled.
            for state, verb in (("1", "EnableUnitFiles"), ("0", "DisableUnitFiles")):
                item.choose("Start at sign-in")
                wait_for(lambda: ("'Start at sign-in'", state) in [
                    (p.get("label"), p.get("toggle-state")) for _, p in item.menu()],
                    "Start at sign-in does not show it")
                self.assertIn(verb, systemd.calls())
        finally:
            err, _ = glide.stop()
            systemd.close()
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
            log.close()
        # Said once, and not again as glide wrote the file anew.
        self.assertEqual(err, "glide: %s/glide.conf:2: unknown key \"frction\"\n" % self.folder)


def windows_process(name):
    """The process of the Windows program of that name that Wine runs."""
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                program = f.read().split(b"\0")[0].decode(errors="replace")
        except (OSError, ValueError):
            continue
        if program.replace("\\", "/").endswith("/" + name):
            return int(pid)
    raise AssertionError("%s is not running" % name)


def windows_path(path):
    """A path here as Wine's programs name it."""
    return "Z:" + path.replace("/", "\\")


@unittest.skipUnless(WINE, "a matter of Wine's virtual desktop")
class WineDesktop(SteppingAside):
    """Inside a Wine virtual desktop, which delivers raw input as Windows
    does: --throw hears the hand, Win+Shift+G pauses and resumes, and glide
    steps aside for a program in front."""

    DESKTOP = [WINE, "explorer", "/desktop=glide,1024x768"]

    def in_desktop(self, args):
        return Glide(self.display, args, program=[*self.DESKTOP, os.environ["GLIDE"]])

    def test_steps_aside_for_a_full_screen_program_and_a_listed_one(self):
        # The settings file is in the prefix's %APPDATA%.
        self.folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users",
                                   os.environ.get("USER", "root"), "AppData", "Roaming", "glide")
        subprocess.run(["rm", "-rf", self.folder], check=True)
        self.display.ready_wine()

        started = []

        def place(how):
            # Not waited for: the window's program, started, goes on.
            started.append(subprocess.Popen([*self.DESKTOP, os.environ["GLIDE_TEST_WINDOW"], how],
                                            env=self.display.env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL))

        def status():
            # Wine tells of no change of focus: glide asks as the hand moves.
            # Asked inside the desktop, where glide's window is found.
            self.display.nudge(1, 0)
            said = os.path.join(self.config, "status")
            subprocess.run([*self.DESKTOP, "cmd", "/c", "%s --status > %s" % (
                windows_path(os.environ["GLIDE"]), windows_path(said))],
                env=self.display.env, check=True, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, timeout=30)
            wait_for(lambda: os.path.exists(said), "glide --status said nothing", 10)
            time.sleep(0.2)
            with open(said) as f:
                lines = f.read().replace("\r", "").split("\n")[:-1]
            os.remove(said)
            return lines

        glide = self.in_desktop(["--throw"])
        try:
            place("window")
            wait_for(lambda: status() == ["active", "glide-test-window.exe"],
                     "the test's window did not come", 30)
            self.assert_steps_aside(glide, lambda on: place("full" if on else "window"),
                                    "glide-test-window.exe", "GLIDE-TEST-WINDOW", status)
        finally:
            self.end(glide)
            for program in started:
                program.wait()
            subprocess.run(["rm", "-rf", self.folder], check=True)

    def end(self, glide):
        restart_wine(self.display.env)  # what runs in the desktop ends with Wine's server
        glide.stop()
        # The keyboard's focus goes back where the next desktop finds it: a
        # window in front gave it to Wine's desktop, which has gone.
        subprocess.run(["/usr/bin/python3", "-c", "from Xlib import X, display\n"
                        "screen = display.Display()\n"
                        "screen.set_input_focus(X.PointerRoot, X.RevertToPointerRoot, 0)\n"
                        "screen.sync()"], env=self.display.env, check=True)

    def test_throw_hears_the_hand(self):
        glide = self.in_desktop(["--throw"])
        try:
            self.assert_throw_hears_the_hand(glide, lambda: windows_process("glide.exe"), 10)
        finally:
            self.end(glide)

    def test_win_shift_g_pauses_and_resumes(self):
        self.display.move(300, 200)
        glide = self.in_desktop(["2"])
        try:
            self.assertTrue(glide.wait_for(20))
            self.display.xdotool("key", "super+shift+g")
            time.sleep(0.3)
            seen = len(glide.lines)
            time.sleep(0.5)
            self.assertEqual(len(glide.lines), seen)
            self.display.xdotool("key", "super+shift+g")
            self.assertTrue(glide.wait_for(seen + 20, timeout=5))
        finally:
            self.end(glide)


@unittest.skipUnless(WINE, "Windows's notification area")
class WineTray(OnDisplay):
    """glidew.exe's icon, docked in an X system tray: a stand-in's."""

    def test_a_click_pauses_and_resumes_and_quit_ends_glide(self):
        tray = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__),
                                                                  "xtray.py")],
                                env=self.display.env, stdout=subprocess.PIPE, text=True)

        def said():
            ready, _, _ = select.select([tray.stdout], [], [], 10)
            return tray.stdout.readline() if ready else ""

        glide = None
        try:
            self.assertEqual(said(), "ready\n")
            glide = Glide(self.display, ["-q", "2"], program=GLIDEW)
            _, x, y = said().split()
            self.display.xdotool("mousemove", x, y, "click", 1)
            wait_for(lambda: self.ask("--status") == "paused", "a click did not pause glide")
            # Started again, glidew.exe resumes the glide that runs, and ends.
            again = subprocess.run(GLIDEW, env=self.display.env, capture_output=True, timeout=30)
            self.assertEqual((again.returncode, self.ask("--status")), (3, "active"))
            # "Start at sign-in", the entry before Quit, chosen with the keys:
            # the installer's Run value taken away, and made again.
            run = ["reg", "query", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run", "/v",
                   "glide"]
            subprocess.run([WINE, "reg", "add", *run[2:], "/d", "glidew.exe", "/f"],
                           env=self.display.env, check=True, capture_output=True)
            for there in (False, True):
                self.display.xdotool("mousemove", x, y, "click", 3)
                time.sleep(0.5)
                self.display.xdotool("key", "Up", "Up", "Return")
                wait_for(lambda: subprocess.run([WINE, *run], env=self.display.env,
                                                capture_output=True).returncode == (0 if there
                                                                                   else 1),
                         "Start at sign-in did not change the Run value", 10)
            self.assertIn('glidew.exe" --throw', subprocess.run(
                [WINE, *run], env=self.display.env, capture_output=True, text=True).stdout)
            # Gone again, or Wine would start glide whenever it starts.
            subprocess.run([WINE, "reg", "delete", *run[2:], "/f"], env=self.display.env,
                           check=True, capture_output=True)
            # The menu's last entry, Quit, chosen with the keys.
            self.display.xdotool("mousemove", x, y, "click", 3)
            time.sleep(0.5)
            self.display.xdotool("key", "Up", "Return")
            self.assertEqual(glide.stop(None), ("", 0))
            self.assertEqual(said(), "gone\n")
        finally:
            if glide and glide.running():
                glide.stop()
            tray.terminate()
            tray.wait()
            tray.stdout.close()


@unittest.skipIf(WINE, "Wine follows a resize on its own terms")
class Screens(unittest.TestCase):
    """The bounce edges and the cursor's bounds follow the screen's size."""

    def test_follows_the_screen_as_it_changes(self):
        # Xvfb can only be resized within the size it started with.
        display = Display(1920, 1200)
        glide = None
        try:
            display.resize(800, 600)
            display.move(300, 200)
            lines, path = model((300, 200), 2, (800, 600), 40)
            glide = Glide(display, ["2"])
            self.assertTrue(glide.wait_for(len(lines)))
            self.assertEqual(glide.lines[:len(lines)], lines)
            self.assertEqual(display.cursor(), path[-1])

            # Grown, it lets the cursor past the old size: a hand movement to
            # (1000, 700) flings it to the far side of 1023 and 767.
            display.resize(1920, 1200)
            time.sleep(0.1)
            seen = len(glide.lines)
            display.xdotool("mousemove", 1000, 700)
            self.assertTrue(glide.wait_for(seen + 40))
            self.assertIn("1000.000000/2.000000=500.000000", glide.lines[seen:])
            x, y = display.cursor()
            self.assertGreater(x, 1023)
            self.assertGreater(y, 767)

            # Shrunk under it, it holds the cursor to the new edges, bounces
            # off them and comes to rest.
            display.resize(800, 600)
            seen = len(glide.lines)
            self.assertTrue(glide.wait_for(seen + 40))
            x, y = display.cursor()
            self.assertLessEqual((x, y), (799, 599))
            self.assertLess(abs(float(glide.lines[-1].split("/")[0])), 0.5)
        finally:
            if glide:
                glide.stop()
            display.close()


if __name__ == "__main__":
    unittest.main()
