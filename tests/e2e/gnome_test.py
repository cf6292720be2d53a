"""glide on a private headless GNOME Shell under Wayland, through its
extension: the same lines and the same path as on X11."""

import json
import os
import time
import unittest

from e2e_test import Compositor, Glide
from gnome_shell import UUID, Shell
from session import TestWindow
from xserver import schedstat, wait_for


class Gnome(Compositor):
    """Everything but --screen, whose monitors the unit tests cover."""

    @classmethod
    def setUpClass(cls):
        cls.display = Shell()

    def test_lines_and_path(self):
        self.check((300, 200), ["1.05"], 1.05)

    def test_quiet_at_rest_sleeps_until_a_nudge(self):
        self.assert_sleeps_until_a_nudge()

    def test_steps_aside_for_a_full_screen_window_and_a_listed_one(self):
        # On GNOME 43, in the toggle's title.
        self.assert_steps_aside_for_a_window(lambda glide: self.display.hand("ToggleTitle") ==
                                             "('glide: aside for glide-test-window',)\n")

    def test_throw(self):
        glide = Glide(self.display, ["--throw"])
        try:
            # The shell tells of the pointer's moves once a frame, and its
            # frames come late while it draws in software.
            self.assert_flick_glides(glide, within=0.1)
            self.assert_touch_stops(glide, lambda: self.display.nudge(1, 0))
        finally:
            glide.stop()

    def test_one_glide_a_session(self):
        taken = (3, "", "glide: another glide is already running in this session\n")
        nodisplay = "glide: cannot open display (DISPLAY is not set)\n"
        warned = "glide: warning: under Wayland (Xwayland) an X client can move the pointer " \
                 "only over its own windows\n" + nodisplay
        kde = dict(self.display.env, XDG_CURRENT_DESKTOP="KDE")
        self.assertEqual(self.run_briefly([], kde), (1, "", "glide: KWin would not load glide's "
                                                       "script: KWin is not on the session bus\n"))
        first = Glide(self.display, ["1.05"])
        try:
            self.assertTrue(first.wait_for(1))
            # A second is refused where glide goes through the session bus;
            # elsewhere it goes to X11, here with no display.
            for desktop, wayland, expected in (
                    ("GNOME", "wayland-0", taken), ("ubuntu:GNOME", "wayland-0", taken),
                    ("GNOME-Classic:GNOME", "wayland-1", taken), ("GNOME", "", (1, "", nodisplay)),
                    ("GNOME-Flashback", "wayland-0", (1, "", warned)),
                    # The session's glide, whichever way it went.
                    ("KDE", "wayland-0", taken)):
                with self.subTest(desktop=desktop, wayland=wayland):
                    env = dict(self.display.env, XDG_CURRENT_DESKTOP=desktop,
                               WAYLAND_DISPLAY=wayland)
                    self.assertEqual(self.run_briefly([], env), expected)
            self.assertTrue(first.wait_for(len(first.lines) + 5))
        finally:
            first.stop()

    def test_command_line(self):
        glide, rest = self.glide_to_rest(["-q", "2"])
        try:
            self.assert_pauses_and_resumes(glide, rest, lambda: self.ask("--pause"),
                                           lambda: self.ask("--toggle"),
                                           lambda: self.ask("--status"), hears=True)
        finally:
            glide.stop()

    def test_the_toggle_menu_sets_and_writes_the_settings(self):
        window = TestWindow(self.display.env)
        glide = Glide(self.display, ["--throw"], self.env)
        try:
            dot, check = 1, 2
            wait_for(lambda: json.loads(self.display.hand("ToggleMenu")[2:-4]) == [
                ["Not in glide-test-window", 0], ["Step aside in full screen", check],
                ["Glide", 0, [["Short", 0], ["Medium", dot], ["Long", 0]]]],
                lambda: "the menu is %s" % self.display.hand("ToggleMenu"), 5)
            self.display.hand("ChooseInToggleMenu", "Long")
            path = os.path.join(self.folder, "glide.conf")
            wait_for(lambda: os.path.exists(path), "Long was not written")
            with open(path) as f:
                self.assertEqual(f.read(), "friction = 1.03\n")
        finally:
            glide.stop()
            window.close()

    def toggle(self):
        """Whether glide's toggle in Quick Settings is shown, and on."""
        return tuple(value == "true" for value in self.display.hand("Toggle").strip("()\n").split(", "))

    def test_quick_settings_toggle_and_shortcut(self):
        self.assertFalse(self.toggle()[0])  # hidden without a glide
        glide, _ = self.glide_to_rest(["-q", "2"])

        def shows(state, on):
            wait_for(lambda: self.ask("--status") == state, "glide is not " + state)
            wait_for(lambda: self.toggle() == (True, on), "the toggle does not show it")

        try:
            shows("active", True)
            self.display.hand("ClickToggle")
            shows("paused", False)
            self.display.hand("PressShortcut")
            shows("active", True)
        finally:
            glide.stop()
        wait_for(lambda: not self.toggle()[0], "the toggle stayed after glide ended")

    def test_waits_while_the_extension_is_away(self):
        # As while the screen is locked: the extension disabled, and back.
        glide, rest = self.glide_to_rest(["2"])
        try:
            self.display.extensions("disable")
            time.sleep(0.2)
            (_, woke), seen = schedstat(glide.process.pid), len(glide.lines)
            time.sleep(1)
            self.assertEqual(len(glide.lines), seen)
            self.assertLess(schedstat(glide.process.pid)[1] - woke, 2)

            self.display.extensions("enable")
            self.assertTrue(glide.wait_for(seen + 5))
            self.assert_nudge_glides(rest)
        finally:
            glide.stop()

        # Away at the start, it is asked for.
        self.display.extensions("disable")
        try:
            self.assertEqual(self.run_briefly([]), (
                1, "", "glide: on GNOME under Wayland, glide moves the pointer through its "
                "extension: gnome-extensions enable %s\n" % UUID))
        finally:
            self.display.extensions("enable")


if __name__ == "__main__":
    unittest.main()
