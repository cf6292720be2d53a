"""glide.exe and glidew.exe stand alone on any Windows, say they are DPI
aware, carry glide's icon, and only glide.exe opens a console."""

import os
import re
import subprocess
import unittest

# The console program, and the one with none, built from the same sources.
PROGRAMS = {os.environ["GLIDE"]: "Windows CUI", os.environ["GLIDEW"]: "Windows GUI"}

# DLLs that every Windows since 7 has in its system folder.
SHIPPED = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "winmm.dll",
           "ntdll.dll", "shell32.dll", "ole32.dll", "ws2_32.dll", "version.dll"}


class Executable(unittest.TestCase):
    def test_imports_only_dlls_that_windows_ships_in_its_subsystem(self):
        for program, subsystem in PROGRAMS.items():
            with self.subTest(program=os.path.basename(program)):
                dump = subprocess.run([os.environ["OBJDUMP"], "-p", program], capture_output=True,
                                      text=True, check=True).stdout
                imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
                self.assertIn("user32.dll", imported)
                self.assertLessEqual(imported, SHIPPED)
                self.assertRegex(dump, r"\nSubsystem\s+\w+\s+\(%s\)" % subsystem)

    def test_resources_declare_dpi_awareness_and_hold_the_icon(self):
        for program in PROGRAMS:
            with self.subTest(program=os.path.basename(program)):
                # The resources as a script: the manifest is resource 1 of type 24.
                script = subprocess.run([os.environ["WINDRES"], "-i", program, "-O", "rc"],
                                        capture_output=True, text=True, check=True).stdout
                found = re.search(r"^1 24 .*?\nBEGIN\n(.*?)\nEND", script, re.M | re.S)
                self.assertIsNotNone(found, script)
                manifest = "".join(re.findall(r'"((?:[^"]|"")*)"',
                                              found.group(1))).replace('""', '"')
                self.assertRegex(manifest, r"<dpiAwareness [^>]*>PerMonitorV2\b")
                self.assertRegex(manifest, r"<dpiAware [^>]*>true/pm</dpiAware>")
                # The icon, active and paused, each at the six sizes Windows asks for.
                for group in (1, 2):
                    self.assertRegex(script, r"(?m)^%d 14 /\* RT_GROUP_ICON \*/" % group)
                self.assertEqual(len(re.findall(r"(?m)^\d+ 3 /\* RT_ICON \*/", script)), 12)


if __name__ == "__main__":
    unittest.main()
