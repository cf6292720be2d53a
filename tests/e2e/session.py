"""What the private headless compositors of the tests share: a private bus,
and the tests' hand on the pointer, which answers on the session bus as
org.glide.Hand (an extension in GNOME Shell, a program of the tests' own on
KWin)."""

import shutil
import subprocess

from xserver import wait_for


def bus(log):
    """A private bus daemon, and its address."""
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    return daemon, daemon.stdout.readline().strip()


class OnSessionBus:
    """A compositor with its processes, log, folder and environment."""

    def ready_wine(self):
        pass

    def close(self):
        for p in reversed(self.processes):
            p.terminate()
            p.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def gdbus(self, *args, system=False):
        done = subprocess.run(["gdbus", "call", "--system" if system else "--session",
                               *map(str, args)], env=self.env, capture_output=True, text=True)
        return done.stdout if done.returncode == 0 else None

    def owned(self, name, system=False):
        answer = self.gdbus("-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                            "org.freedesktop.DBus.NameHasOwner", name, system=system)
        return answer == "(true,)\n"

    def hand(self, method, *args):
        # After --, a negative number is no option.
        answer = self.gdbus("-d", "org.glide.Hand", "-o", "/org/glide/Hand", "-m",
                            "org.glide.Hand." + method, "--", *args)
        if answer is None:
            raise RuntimeError("the hand could not %s" % method)
        return answer

    def cursor(self):
        x, y = self.hand("Pointer").strip("()\n").split(", ")
        return int(x), int(y)

    def move(self, x, y):
        """Warps the pointer, as another program would."""
        self.hand("Warp", x, y)
        wait_for(lambda: self.cursor() == (x, y), "could not move the pointer to %d,%d" % (x, y))

    def nudge(self, dx, dy):
        """Moves the pointer as a mouse does."""
        self.hand("Nudge", dx, dy)

    def flick(self, dx, times=12):
        """Nudges the pointer dx pixels every 8 ms, as a mouse does; returns
        when the hand let go, on the clock of time.monotonic()."""
        return int(self.hand("Flick", dx, 0, times, 8).strip("(,)\n").split()[-1]) / 1e6
