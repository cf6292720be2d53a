"""The two builds of glide's GNOME Shell extension, a script for GNOME 43
and 44 and an ES module for 45 on, differ only in their module lines (what
each does on each GNOME is gnome_extension_calls.mjs's to run)."""

import difflib
import json
import os
import unittest

BUILT, UUID = os.environ["GLIDE_GNOME_BUILT"], os.environ["GLIDE_GNOME_UUID"]
# The imports, the class's first line, the script's init(), and where the
# extension's settings and folder are found.
MODULE_LINE = (r"^(const \{[A-Za-z, ]+\} = imports\.gi;|const [A-Za-z]+ = imports\.(ui|misc)\.\w+;"
               r"|import .* from '(gi|resource)://.*';|class Lender \{"
               r"|export default class Lender extends Extension \{|function init\(\) \{"
               r"|    return new Lender\(\);|\}"
               r"|        this\._settings = (ExtensionUtils|this)\.getSettings\(\);"
               r"|        const folder = (ExtensionUtils\.getCurrentExtension\(\)|this)\.path;)$")


def variant(release):
    folder = os.path.join(BUILT, release, UUID)
    with open(os.path.join(folder, "extension.js")) as script, \
         open(os.path.join(folder, "metadata.json")) as metadata:
        return script.read(), json.load(metadata)


class Variants(unittest.TestCase):
    def test_they_differ_only_where_they_must(self):
        (old, oldmeta), (new, newmeta) = variant("43"), variant("45")
        changed = [line[1:] for line in difflib.unified_diff(
            old.splitlines(), new.splitlines(), lineterm="", n=0)
            if line[:1] in "+-" and line[:3] not in ("+++", "---")]
        self.assertTrue(changed)
        for line in changed:
            self.assertRegex(line, MODULE_LINE)
        self.assertNotIn("imports.", new)
        self.assertNotRegex(old, r"(?m)^(import|export) ")
        self.assertEqual(oldmeta.pop("shell-version"), ["43", "44"])
        self.assertEqual(newmeta.pop("shell-version"), [str(v) for v in range(45, 52)])
        # Each with its icon and its settings' schema, compiled.
        for release in ("43", "45"):
            for name in ("glide-symbolic.svg", "schemas/gschemas.compiled"):
                self.assertTrue(os.path.exists(os.path.join(BUILT, release, UUID, name)), name)
        # The same otherwise, and off while the screen is locked.
        self.assertEqual((oldmeta, oldmeta["uuid"]), (newmeta, UUID))
        self.assertNotIn("session-modes", oldmeta)


if __name__ == "__main__":
    unittest.main()
