"""glide.exe stands alone on any Windows, and says it is DPI aware."""

import os
import re
import subprocess
import unittest

GLIDE = os.environ["GLIDE"]

# DLLs that every Windows since 7 has in its system folder.
SHIPPED = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "winmm.dll",
           "ntdll.dll", "shell32.dll", "ole32.dll", "ws2_32.dll"}


class Executable(unittest.TestCase):
    def test_imports_only_dlls_that_windows_ships(self):
        dump = subprocess.run([os.environ["OBJDUMP"], "-p", GLIDE], capture_output=True,
                              text=True, check=True).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("user32.dll", imported)
        self.assertLessEqual(imported, SHIPPED)

    def test_manifest_declares_per_monitor_dpi_awareness(self):
        # The resources as a script: the manifest is resource 1 of type 24.
        script = subprocess.run([os.environ["WINDRES"], "-i", GLIDE, "-O", "rc"],
                                capture_output=True, text=True, check=True).stdout
        found = re.search(r"^1 24 .*?\nBEGIN\n(.*?)\nEND", script, re.M | re.S)
        self.assertIsNotNone(found, script)
        manifest = "".join(re.findall(r'"((?:[^"]|"")*)"', found.group(1))).replace('""', '"')
        self.assertRegex(manifest, r"<dpiAwareness [^>]*>PerMonitorV2\b")
        self.assertRegex(manifest, r"<dpiAware [^>]*>true/pm</dpiAware>")


if __name__ == "__main__":
    unittest.main()
