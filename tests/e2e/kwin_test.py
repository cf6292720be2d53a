"""glide on a private headless KWin under Wayland, through its KWin script
and KWin's fake input: the same lines and the same path as on X11."""

import os
import random
import shutil
import signal
import tempfile
import threading
import time
import unittest

from e2e_test import GLIDE, Compositor, Glide, OnDisplay
from kwin import Kwin
from session import StandIn, TestWindow, TrayItem, Watcher
from xserver import schedstat, wait_for


class Kde(Compositor):
    @classmethod
    def setUpClass(cls):
        cls.display = Kwin()

    def script_loaded(self):
        return self.display.gdbus("-d", "org.kde.KWin", "-o", "/Scripting", "-m",
                                  "org.kde.kwin.Scripting.isScriptLoaded", "glide") == "(true,)\n"

    def test_lines_and_path(self):
        # With KWin held up now and then, as a busy KWin is: each tick still
        # reads where the last move put the pointer.
        held = threading.Event()

        def hold_up():
            while not held.wait(random.uniform(0.02, 0.05)):
                self.display.compositor.send_signal(signal.SIGSTOP)
                time.sleep(0.005)
                self.display.compositor.send_signal(signal.SIGCONT)

        holder = threading.Thread(target=hold_up)
        holder.start()
        try:
            self.check((300, 200), ["1.05"], 1.05, wanted=150)
        finally:
            held.set()
            holder.join()
        self.assertFalse(self.script_loaded())  # taken out as glide ended

    def test_quiet_at_rest_sleeps_until_a_nudge(self):
        self.assert_sleeps_until_a_nudge()

    def test_steps_aside_for_a_full_screen_window_and_a_listed_one(self):
        # In the tray's tooltip, served with or without a panel.
        self.assert_steps_aside_for_a_window(lambda glide: "'glide: aside for glide-test-window'" in (
            TrayItem(self.display.env, glide.process.pid).call(
                "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                "org.kde.StatusNotifierItem", "ToolTip") or ""))

    def test_throw(self):
        glide = Glide(self.display, ["--throw"])
        try:
            self.assert_flick_glides(glide)
            self.assert_touch_stops(glide, lambda: self.display.nudge(1, 0))
        finally:
            glide.stop()

    def test_one_glide_a_session(self):
        first = Glide(self.display, ["1.05"])
        try:
            self.assertTrue(first.wait_for(1))
            self.assertEqual(self.run_briefly([]), (
                3, "", "glide: another glide is already running in this session\n"))
            self.assertTrue(first.wait_for(len(first.lines) + 5))
        finally:
            first.stop(signal.SIGKILL)
        # One that died left its script behind: the next takes its place.
        self.assertTrue(self.script_loaded())
        self.check((300, 200), ["1.05"], 1.05)

        # A glide that no .desktop file allows may not move the pointer.
        elsewhere = tempfile.mkdtemp(prefix="glide-")
        try:
            shutil.copy(GLIDE[0], elsewhere)
            refused = Glide(self.display, program=[os.path.join(elsewhere, "glide")])
            self.assertEqual(refused.stop(None), (
                "glide: KWin does not let glide move the pointer: install glide, whose "
                "glide.desktop allows it, and run the installed glide\n", 1))
        finally:
            shutil.rmtree(elsewhere)

    def test_command_line_and_shortcut(self):
        glide, rest = self.glide_to_rest(["-q", "2"])

        def shortcut(state):
            # As its keys would: KWin's own global shortcuts serve it.
            self.display.gdbus("-d", "org.kde.kglobalaccel", "-o", "/component/kwin", "-m",
                               "org.kde.kglobalaccel.Component.invokeShortcut", "glide-toggle")
            wait_for(lambda: self.ask("--status") == state, "the shortcut did not reach glide")

        try:
            self.assert_pauses_and_resumes(glide, rest, lambda: self.ask("--pause"),
                                           lambda: shortcut("active"),
                                           lambda: self.ask("--status"), hears=True)
            shortcut("paused")
            self.ask("--toggle")
            self.assertEqual(self.ask("--status"), "active")
        finally:
            glide.stop()

    def test_tray_and_on_screen_display(self):
        watcher = Watcher(self.display.env, self.display.log)
        osd = StandIn(self.display.env, self.display.log, "osdservice")
        glide = Glide(self.display, ["-q", "2"])
        item = TrayItem(self.display.env, glide.process.pid)
        try:
            wait_for(lambda: watcher.items() == [item.name], "glide did not register", 10)
            item.click()
            wait_for(lambda: self.ask("--status") == "paused", "a click did not pause glide")
            wait_for(lambda: "'glide paused'" in osd.calls(), "Plasma's OSD was not told")
            item.choose("Quit")
            self.assertEqual(glide.stop(None), ("", 0))
            self.assertFalse(self.script_loaded())  # taken out as glide ended
        finally:
            if glide.running():
                glide.stop()
            watcher.close()
            osd.close()

    def test_the_tray_menu_sets_and_writes_the_settings(self):
        window = TestWindow(self.display.env)
        glide = Glide(self.display, ["--throw"], self.env)
        try:
            # No .desktop file names the window's program: its app id, then.
            self.assert_menu_sets(glide, TrayItem(self.display.env, glide.process.pid),
                                  "glide-test-window", "glide-test-window")
        finally:
            glide.stop()
            window.close()

    def test_waits_while_the_screen_is_locked(self):
        glide, rest = self.glide_to_rest(["2"])
        try:
            self.display.lock(True)
            time.sleep(0.2)
            (_, woke), seen = schedstat(glide.process.pid), len(glide.lines)
            time.sleep(1)
            self.assertEqual(len(glide.lines), seen)
            self.assertLess(schedstat(glide.process.pid)[1] - woke, 2)

            self.display.lock(False)
            self.assertTrue(glide.wait_for(seen + 5))
            self.assert_nudge_glides(rest)
        finally:
            glide.stop()


class KdeOutputs(OnDisplay):
    """--screen on two outputs side by side, and KWin's end."""

    @classmethod
    def setUpClass(cls):
        cls.display = Kwin(outputs=2, size=(640, 480))

    def test_bounces_off_the_walls_of_two_outputs(self):
        # Across the shared edge, and off both outputs' bottoms and tops.
        self.check((600, 200), ["--screen", "1.25"], 1.25, (1280, 480),
                   monitors=[(0, 0, 640, 480), (640, 0, 1280, 480)], display=self.display)

    def test_lost_display(self):
        display = Kwin()
        try:
            glide = Glide(display, ["1.05"])
            self.assertTrue(glide.wait_for(1))
            display.compositor.terminate()
            self.assertEqual(glide.stop(None), ("glide: lost the Wayland display\n", 1))
        finally:
            display.close()


if __name__ == "__main__":
    unittest.main()
