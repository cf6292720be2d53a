"""The README and the pages of doc/ link to nothing that is not there, and
glide --help, the manual and the README list the same options."""

import glob
import os
import re
import subprocess
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGES = [os.path.join(ROOT, "README.md"), *sorted(glob.glob(os.path.join(ROOT, "doc", "*.md")))]


def prose(path):
    """A page without its code blocks and code spans."""
    with open(path) as page:
        text = re.sub(r"(?ms)^```.*?^```", "", page.read())
    return re.sub(r"`[^`\n]*`", "", text)


def anchor(heading):
    """The anchor a Markdown heading gets, as GitHub makes it."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(path):
    with open(path) as page:
        text = re.sub(r"(?ms)^```.*?^```", "", page.read())
    return {anchor(heading) for heading in re.findall(r"(?m)^#+ (.*)$", text)}


def options(text):
    """The options named in text: -q, --throw (of --throw=SPEED) and the like."""
    return set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", text))


class Links(unittest.TestCase):
    def test_every_relative_link_resolves(self):
        for page in PAGES:
            for target in re.findall(r"\]\(([^)\s]+)\)", prose(page)):
                if re.match(r"[a-z]+:", target):
                    continue  # https:, mailto:
                path, _, fragment = target.partition("#")
                linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path \
                    else page
                with self.subTest(page=os.path.relpath(page, ROOT), target=target):
                    self.assertTrue(os.path.exists(linked))
                    if fragment and linked.endswith(".md"):
                        self.assertIn(fragment, anchors(linked))


@unittest.skipUnless(os.environ.get("GLIDE"), "needs the built glide and its manual")
class Options(unittest.TestCase):
    def test_help_manual_and_readme_list_the_same(self):
        helped = subprocess.run([os.environ["GLIDE"], "--help"], capture_output=True, text=True,
                                check=True).stdout
        with open(os.environ["GLIDE_MANUAL"]) as manual:
            section = manual.read().split("\n.SH OPTIONS\n")[1].split("\n.SH ")[0]
        # The manual's items: each .TP's next line, the options it stands for.
        items = " ".join(re.findall(r"\n\.TP\n(.*)", section)).replace("\\-", "-")
        with open(os.path.join(ROOT, "README.md")) as readme:
            usage = readme.read().split("\n## Usage\n")[1].split("\n## ")[0]
        table = " ".join(re.findall(r"(?m)^\| (`[^|]*) \|", usage))
        self.assertEqual(options(items), options(helped))
        self.assertEqual(options(table), options(helped))


if __name__ == "__main__":
    unittest.main()
