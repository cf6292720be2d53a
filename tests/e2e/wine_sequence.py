#!/usr/bin/env python3
"""Runs glide.exe five times one after another on one Xvfb and one Wine
desktop, each run from a cursor put in place with xdotool, left for five
seconds and ended with SIGTERM, and compares every run's lines with the
model: a run must not take up what the one before left behind. Repeats the
sequence as often as asked; exits non-zero on the first run that differs."""

import argparse
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "..", "..", "build", "windows")
# The windows build's, unless CTest says otherwise.
os.environ.setdefault("GLIDE", os.path.join(BUILD, "glide.exe"))
os.environ.setdefault("GLIDEW", os.path.join(BUILD, "glidew.exe"))
os.environ.setdefault("GLIDE_WINE", "wine")
with open(os.path.join(BUILD, "wine-environment")) as f:
    for line in f:
        os.environ.setdefault(*line.rstrip("\n").split("=", 1))

from e2e_test import Glide, model  # noqa: E402
from xserver import Display  # noqa: E402

# Where each run starts, and at what friction (None: the default).
SEQUENCE = [((300, 200), None), ((100, 700), "1.25"), ((700, 400), "0.85"),
            ((300, 200), "1e-3"), ((700, 500), "1e39")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--times", type=int, default=1, help="how often to run the sequence")
    parser.add_argument("--seconds", type=float, default=5.0, help="how long each run lasts")
    args = parser.parse_args()
    display = Display(1024, 768)
    try:
        for time_ in range(1, args.times + 1):
            for start, friction in SEQUENCE:
                display.move(*start)
                glide = Glide(display, [friction] if friction else [])
                time.sleep(args.seconds)
                glide.stop(signal.SIGTERM)
                expected = model(start, float(friction or 1.4), (1024, 768), len(glide.lines) + 1)[0]
                if glide.lines != expected[:len(glide.lines)]:
                    first = next(i for i, (a, b) in enumerate(zip(glide.lines, expected)) if a != b)
                    sys.exit("sequence %d, glide.exe %s from %s: line %d is %s, not %s\n"
                             "its lines: %s\nthe model's: %s" % (
                                 time_, friction or "", start, first + 1, glide.lines[first],
                                 expected[first], glide.lines[:first + 3],
                                 expected[:first + 3]))
            print("sequence %d: every run as the model has it" % time_)
    finally:
        display.close()


if __name__ == "__main__":
    main()
