"""glide on a private X server: its report lines and the cursor's path, as
seen by xdotool, must be exactly what the tick's arithmetic gives."""

import math
import os
import signal
import struct
import subprocess
import threading
import time
import unittest

from xserver import WINE, Display

# A Windows build runs under Wine, and ends its lines as Windows does.
GLIDE = [WINE, os.environ["GLIDE"]] if WINE else [os.environ["GLIDE"]]
NEWLINE = "\r\n" if WINE else "\n"


def ended(text):
    """text with this platform's line ends."""
    return text.replace("\n", NEWLINE)


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


def model(start, friction, screen, ticks):
    """The report lines and the cursor's position after each tick, for a run
    from start with nobody else moving the mouse."""
    friction = f32(friction)
    width, height = 1023, 767
    lastx = lasty = c = d = 0.0
    first = True
    lines, path = [], [start]
    x, y = start
    for _ in range(ticks):
        xout = x >= width or x <= 0
        yout = y >= height or y <= 0
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


def run_glide(display, args, lines_wanted, env=None):
    """Runs glide until it has printed lines_wanted lines, sampling the cursor
    meanwhile; then interrupts it. Returns its lines, the samples, stderr and
    the exit status."""
    display.ready_wine()
    glide = subprocess.Popen([*GLIDE, *args], env=env or display.env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    lines = []
    enough = threading.Event()

    def read():
        for line in glide.stdout:
            lines.append(line.decode().removesuffix(NEWLINE))
            if len(lines) >= lines_wanted:
                enough.set()
        enough.set()

    reader = threading.Thread(target=read)
    reader.start()
    samples = []
    deadline = time.monotonic() + 30
    while not enough.is_set() and time.monotonic() < deadline:
        samples.append(display.cursor())
    before = len(lines)
    glide.send_signal(signal.SIGINT)
    glide.wait(timeout=30)
    reader.join()
    glide.stdout.close()
    err = glide.stderr.read().decode()
    glide.stderr.close()
    if WINE:
        # Wine stops a program on another thread while the program goes on,
        # and its last line has been seen to come out twice: only the lines
        # printed before the interrupt are glide's to answer for.
        del lines[before:]
    return lines, samples, err, glide.returncode


class OnDisplay(unittest.TestCase):
    """Tests that share one private 1024x768 display."""

    @classmethod
    def setUpClass(cls):
        cls.display = Display(1024, 768)

    @classmethod
    def tearDownClass(cls):
        cls.display.close()


class Path(OnDisplay):
    """The lines and the path from several starts, frictions and screens."""

    def check(self, start, args=(), friction=1.4, screen=(1024, 768), wanted=60):
        display = Display(*screen) if screen != (1024, 768) else self.display
        try:
            display.move(*start)
            self.assertEqual(display.cursor(), start)
            lines, samples, err, status = run_glide(display, args, wanted)
            final = display.cursor()
        finally:
            if display is not self.display:
                display.close()
        # Ended by the interrupt (Wine turns it into an exit with status 0).
        self.assertEqual(status, 0 if WINE else -signal.SIGINT, err)
        self.assertEqual(err, "")
        self.assertGreaterEqual(len(lines), wanted)
        ticks = len(lines) + 1  # the first prints nothing
        # Under Wine glide may tick on a little after the interrupt.
        expected, path = model(start, friction, screen, ticks + (10 if WINE else 0))
        self.assertEqual(lines, expected[:len(lines)])
        # The cursor went along the path, in order...
        at = 0
        for sample in samples:
            while at < len(path) and path[at] != sample:
                at += 1
            self.assertLess(at, len(path), "cursor at %s, off the path %s" % (sample, path))
        # ...and stopped where the last tick left it (or, interrupted between
        # its line and its move, one tick before).
        self.assertIn(final, path[ticks - 1:] if WINE else path[ticks - 1:ticks + 1])
        return lines

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

    def test_two_arguments_keep_the_default(self):
        lines = self.check((300, 200), ["2", "3"])
        self.assertTrue(lines[0].startswith("300.000000/1.400000="))

    @unittest.skipIf(WINE, "Wayland is an X11 matter")
    def test_wayland_is_warned_about_and_glide_carries_on(self):
        self.display.move(300, 200)
        env = dict(self.display.env, WAYLAND_DISPLAY="wayland-0")
        lines, _, err, _ = run_glide(self.display, [], 3, env)
        self.assertEqual(lines[0], "300.000000/1.400000=214.285718")
        self.assertRegex(err, r"^glide: warning: .*Wayland.*\n$")


class Refusals(OnDisplay):
    """What glide refuses leaves the cursor where it was."""

    def run_briefly(self, args, env=None):
        self.display.ready_wine()
        done = subprocess.run([*GLIDE, *args], env=env or self.display.env, capture_output=True,
                              timeout=30)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def test_text_that_is_not_a_number(self):
        self.display.move(300, 200)
        status, out, err = self.run_briefly(["abc"])
        self.assertEqual(status, 2)
        self.assertEqual(out, "")
        self.assertEqual(err, ended('glide: friction "abc" is not a number\n'
                                    "usage: glide [FRICTION]\n"))
        self.assertEqual(self.display.cursor(), (300, 200))

    @unittest.skipIf(WINE, "Windows has no display to open")
    def test_missing_display(self):
        env = dict(os.environ, DISPLAY=":4093")
        self.assertEqual(self.run_briefly([], env), (1, "", "glide: cannot open display :4093\n"))
        env.pop("DISPLAY")
        self.assertEqual(self.run_briefly([], env),
                         (1, "", "glide: cannot open display (DISPLAY is not set)\n"))


if __name__ == "__main__":
    unittest.main()
