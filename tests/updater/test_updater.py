"""End-to-end tests of examples/updater/corvane_update.py.

Run by tests/updater/run, which sets CORVANE_BUILD_ROOT (the folder of the
native and win32 builds) and a Wine prefix.
"""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
UPDATER = os.path.join(ROOT, "examples", "updater", "corvane_update.py")
BUILD = os.environ.get("CORVANE_BUILD_ROOT", os.path.join(ROOT, "build"))
sys.path.insert(0, os.path.dirname(UPDATER))
import corvane_update  # noqa: E402

# The paths that the example log of docs/log.md shows.
DOC_WORK = "/tmp/corvane-update-3kq8zt/"
DOC_APP = "/opt/myapp/"


def write(path, text, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path) as f:
        return f.read()


def make_zip(path, entries):
    """entries: (name, text, unix mode or None) in archive order."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, text, mode in entries:
            info = zipfile.ZipInfo(name)
            if mode is not None:
                info.external_attr = mode << 16
            archive.writestr(info, text)


def run_updater(*args):
    return subprocess.run([sys.executable, UPDATER, *args], capture_output=True, text=True)


def normalised(lines):
    """Log lines with the run's date and the elapsed times blanked out."""
    out = []
    for line in lines:
        line = re.sub(r"^ *\d+m \d\d\.\d\ds: ", "<time>: ", line)
        line = re.sub(r"^Corvane \(\d{4}/\d\d/\d\d  \d\d:\d\d:\d\d\)$", "Corvane (<date>)", line)
        out.append(line)
    return out


def doc_example_log():
    """The lines of the first ```log block of docs/log.md."""
    lines, inside = [], False
    for line in read(os.path.join(ROOT, "docs", "log.md")).split("\n"):
        if not inside and line == "```log":
            inside = True
        elif inside and line == "```":
            return lines
        elif inside:
            lines.append(line)
    return None


class UpdaterTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="updater-test-", dir=os.path.join(BUILD, "updater-test"))
        self.app = os.path.join(self.dir, "app")
        self.corvane = os.path.join(BUILD, "native", "corvane")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def installed_app(self):
        write(os.path.join(self.app, "myapp"), "app 1.0", 0o755)
        write(os.path.join(self.app, "plugins", "old.so"), "plugin 1.0")
        write(os.path.join(self.app, "readme.txt"), "readme 1.0")

    def test_an_update_replaces_the_release_names_keeps_the_old_ones_and_logs_each(self):
        self.installed_app()
        release = os.path.join(self.dir, "myapp-1.1.zip")
        make_zip(release, [("myapp", "app 1.1", 0o755), ("plugins/", "", None),
                           ("plugins/codecs/video.so", "codec 1.1", 0o644), ("changes.txt", "1.1", 0o644)])
        work = os.path.join(self.dir, "work")
        result = run_updater(release, self.app, "--corvane", self.corvane, "--work", work, "--version", "1.1")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

        app = self.app + "/"
        self.assertEqual(read(app + "myapp"), "app 1.1")
        self.assertTrue(os.stat(app + "myapp").st_mode & stat.S_IXUSR, "the new program stays executable")
        self.assertEqual(read(app + "plugins/codecs/video.so"), "codec 1.1")
        self.assertFalse(os.path.exists(app + "plugins/old.so"))
        self.assertEqual(read(app + "changes.txt"), "1.1")
        self.assertEqual(read(app + "readme.txt"), "readme 1.0", "a name not in the release stays")
        self.assertEqual(read(app + "updateTemp/myapp"), "app 1.0")
        self.assertEqual(read(app + "updateTemp/plugins/old.so"), "plugin 1.0")
        self.assertEqual(os.listdir(work + "/unzipTemp"), [], "every replaced name left the release")

        # The log of this run, as docs/log.md shows it (paths of the doc).
        log = read(work + "/updateLog/update.log").split("\n")
        if log and log[-1] == "":
            log.pop()  # the last line end
        as_in_doc = [line.replace(work + "/", DOC_WORK).replace(app, DOC_APP) for line in log]
        with open(os.path.join(BUILD, "updater-test", "example.log"), "w") as f:
            f.write("\n".join(as_in_doc))
        self.assertEqual(normalised(doc_example_log() or []), normalised(as_in_doc),
                         "docs/log.md shows another log than a run writes; see updater-test/example.log")

    def test_without_a_work_folder_a_complete_update_leaves_no_temporary_folder(self):
        self.installed_app()
        release = os.path.join(self.dir, "r.zip")
        make_zip(release, [("readme.txt", "readme 1.1", None)])
        temp = os.path.join(self.dir, "temp")
        os.makedirs(temp)
        env = dict(os.environ, TMPDIR=temp)
        result = subprocess.run([sys.executable, UPDATER, release, self.app, "--corvane", self.corvane],
                                capture_output=True, text=True, env=env)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(read(os.path.join(self.app, "readme.txt")), "readme 1.1")
        self.assertEqual(os.listdir(temp), [])

    def test_an_unsafe_or_unlistable_archive_is_refused_before_anything_is_touched(self):
        self.installed_app()
        for entry in ["../evil.txt", "/abs.txt", "C:/evil.txt", "a/../../evil.txt", "./myapp",
                      "semi;colon.txt", "updateTemp/x"]:
            with self.subTest(entry=entry):
                release = os.path.join(self.dir, "bad.zip")
                make_zip(release, [("myapp", "app 6.6", None), (entry, "evil", None)])
                work = os.path.join(self.dir, "bad-work")
                result = run_updater(release, self.app, "--corvane", self.corvane, "--work", work)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertFalse(os.path.exists(os.path.join(work, "unzipTemp")))
                self.assertFalse(os.path.exists(os.path.join(self.dir, "evil.txt")))
                self.assertEqual(read(os.path.join(self.app, "myapp")), "app 1.0")

    def test_the_outcome_lines_decide_the_exit_code(self):
        run = " 0m 00.00s: Run param is: /w/update_config.xml"
        cases = [
            ([run, " 0m 00.01s: Copy file: /w/unzipTemp/a", " 0m 00.01s: Copy folder: /w/unzipTemp/b/"], 0),
            ([run, " 0m 00.01s: Copy file at restart: /w/unzipTemp/a"], 3),
            ([run, " 0m 00.01s: Copy file at restart: /w/unzipTemp/a", " 0m 00.01s: Copy file failed: /w/unzipTemp/b"], 2),
            ([run, " 0m 00.01s: Folder in use, not replaced: /app/b"], 2),
            ([run, " 0m 00.01s: Backup failed, not replaced: /app/b"], 2),
            ([run, " 0m 00.01s: Copy folder failed: /w/unzipTemp/b/"], 2),
            ([run, " 0m 00.00s: Load config file failed."], 2),
            ([], 2),  # no log at all: nothing is known
        ]
        for lines, code in cases:
            with self.subTest(lines=lines):
                self.assertEqual(corvane_update.summary(lines), code)

    def test_the_windows_command_line_hands_corvane_the_whole_path_with_its_blanks(self):
        """Under Wine: the exact command line the updater builds on Windows."""
        win32 = os.path.join(BUILD, "win32")
        work = os.path.join(self.dir, "my update") + "/"
        write(self.app + "/myapp", "app 1.0")
        write(work + "unzipTemp/myapp", "app 1.1")
        write(work + "update_config.xml",
              corvane_update.config_text("Z:" + self.app + "/", "Z:" + work, ["myapp"]))
        write(work + "updateLog/update.log", "")
        command = corvane_update.corvane_command("Z:" + win32 + "/corvane.exe", "Z:" + work + "update_config.xml",
                                                 windows=True)
        write(self.dir + "/command.txt", command)
        result = subprocess.run([os.path.join(ROOT, "cmake", "wine-run"), win32 + "/hold_and_run.exe",
                                 "--command-file", "Z:" + self.dir + "/command.txt"],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 1, "corvane.exe had a path: " + result.stderr)
        self.assertEqual(read(self.app + "/myapp"), "app 1.1")
        lines = read(work + "updateLog/update.log").replace("\r", "").split("\n")
        self.assertEqual(corvane_update.summary(lines), 0, lines)


if __name__ == "__main__":
    os.makedirs(os.path.join(BUILD, "updater-test"), exist_ok=True)
    unittest.main(verbosity=2)
