"""Tests of examples/updater/corvane_update.py: end to end with real archives
and the native program, its Windows command line under Wine, and its log
reading on sample log texts.

Run by tests/updater/run, which sets CORVANE_BUILD_ROOT (the folder of the
native and win32 builds) and a Wine prefix.
"""

import fcntl
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import struct
import unittest
import unittest.mock
import warnings
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
UPDATER = os.path.join(ROOT, "examples", "updater", "corvane_update.py")
BUILD = os.environ.get("CORVANE_BUILD_ROOT", os.path.join(ROOT, "build"))
TEST_ROOT = os.path.join(BUILD, "updater-test")
CORVANE = os.path.join(BUILD, "native", "corvane")
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
    """entries: (name, data) in archive order; data is the text of a file,
    ("exe", text) for an executable file, ("link", target) for a symbolic
    link, or None for a folder (the name ends in "/")."""
    with zipfile.ZipFile(path, "w") as archive, warnings.catch_warnings():
        warnings.simplefilter("ignore")  # a name twice is meant where it is written
        for name, data in entries:
            info = zipfile.ZipInfo(name)
            info.create_system = 3
            if data is None:
                info.external_attr = (stat.S_IFDIR | 0o755) << 16
                data = ""
            elif isinstance(data, tuple) and data[0] == "link":
                info.external_attr = (stat.S_IFLNK | 0o777) << 16
                data = data[1]
            elif isinstance(data, tuple):
                info.external_attr = (stat.S_IFREG | 0o755) << 16
                data = data[1]
            else:
                info.external_attr = (stat.S_IFREG | 0o644) << 16
            archive.writestr(info, data)
    return path


def install(folder, tree):
    """tree: relative path -> text of a file, ("link", target), or None for a folder."""
    for path, data in tree.items():
        full = os.path.join(folder, path)
        if data is None:
            os.makedirs(full, exist_ok=True)
        elif isinstance(data, tuple):
            os.makedirs(os.path.dirname(full), exist_ok=True)
            os.symlink(data[1], full)
        else:
            write(full, data)


RECORDS = ("updateTemp", "updateTemp.log", "updateTemp.json")


def snapshot(folder, leave_out=RECORDS):
    """The tree below FOLDER: relative path -> text, ("link", target) or None
    for a folder; the top-level names LEAVE_OUT are left out."""
    tree = {}
    for root, folders, files in os.walk(folder):
        relative = os.path.relpath(root, folder)
        if relative == ".":
            folders[:] = [f for f in folders if f not in leave_out]
            files = [f for f in files if f not in leave_out]
        for name in folders + files:
            path = os.path.normpath(os.path.join(relative, name))
            full = os.path.join(root, name)
            if os.path.islink(full):
                tree[path] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                tree[path] = None
            else:
                tree[path] = read(full)
    return tree


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


class Fixture(unittest.TestCase):
    """An application folder APP in a test folder of its own, with the
    system's temporary folder redirected into the test folder, so that
    everything an updater run makes or leaves is seen."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="updater-test-", dir=TEST_ROOT)
        self.app = os.path.join(self.dir, "app")
        self.temp = os.path.join(self.dir, "temp")
        os.makedirs(self.app)
        os.makedirs(self.temp)
        self.own = {"app", "temp"}  # the test's own entries beside the application
        self.immutable = []

    def tearDown(self):
        for path in self.immutable:
            subprocess.run(["chattr", "-i", path], check=False)
        shutil.rmtree(self.dir, ignore_errors=True)

    def make_immutable(self, path):
        """A file or folder that even root can neither move nor change: a
        name that Corvane cannot replace."""
        subprocess.run(["chattr", "+i", path], check=True)
        self.immutable.append(path)

    def release_immutable(self, path):
        subprocess.run(["chattr", "-i", path], check=True)
        self.immutable.remove(path)

    def updater(self, *args, corvane=CORVANE, timeout=120):
        command = [sys.executable, UPDATER, *args]
        if corvane:
            command += ["--corvane", corvane]
        environment = dict(os.environ, TMPDIR=self.temp)
        if "--wine" in args and os.environ.get("WINEPREFIX"):
            environment["HOME"] = os.environ["WINEPREFIX"] + "-home"  # as cmake/wine-run: never the real home
        return subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=environment)

    def zip(self, name, entries):
        return make_zip(os.path.join(self.dir, name), entries)

    def beside(self):
        """What lies beside the application folder apart from the test's own
        files (archives, the temporary folder)."""
        return sorted(n for n in os.listdir(self.dir) if n not in self.own and not n.endswith(".zip"))

    def work_folders(self):
        return [n for n in self.beside() if n.startswith("corvane-update-")]

    def assertExit(self, result, code):
        self.assertEqual(result.returncode, code, "stdout:\n%s\nstderr:\n%s" % (result.stdout, result.stderr))

    def assertNothingMade(self, app_before):
        """The application as it was, no records in it, nothing beside it or in
        the temporary folder."""
        self.assertEqual(snapshot(self.app, leave_out=()), app_before)
        self.assertEqual(self.beside(), [])
        self.assertEqual(os.listdir(self.temp), [])


V1 = {"myapp": "app 1.0", "plugins/old.so": "plugin 1.0", "readme.txt": "readme 1.0"}
V11_ENTRIES = [("myapp", ("exe", "app 1.1")), ("plugins/", None), ("plugins/codecs/video.so", "codec 1.1"),
               ("changes.txt", "1.1")]


class UpdateTest(Fixture):
    def test_an_update_replaces_the_release_names_keeps_the_old_ones_and_logs_each(self):
        install(self.app, V1)
        release = self.zip("myapp-1.1.zip", V11_ENTRIES)
        work = os.path.join(self.dir, "work")
        result = self.updater(release, self.app, "--work", work, "--version", "1.1")
        self.assertExit(result, 0)
        self.assertEqual(result.stdout.splitlines(), [
            "corvane-update: 3 replaced now, 0 at the restart, 0 not replaced (log: %s/updateTemp.log)" % self.app],
            "a complete update prints one line")

        app = self.app + "/"
        self.assertEqual(read(app + "myapp"), "app 1.1")
        self.assertTrue(os.stat(app + "myapp").st_mode & stat.S_IXUSR, "the new program stays executable")
        self.assertEqual(read(app + "plugins/codecs/video.so"), "codec 1.1")
        self.assertFalse(os.path.exists(app + "plugins/old.so"))
        self.assertEqual(read(app + "changes.txt"), "1.1")
        self.assertEqual(read(app + "readme.txt"), "readme 1.0", "a name not in the release stays")
        self.assertEqual(read(app + "updateTemp/myapp"), "app 1.0")
        self.assertEqual(read(app + "updateTemp/plugins/old.so"), "plugin 1.0")
        self.assertFalse(os.path.lexists(work), "the work folder that the updater made goes once nothing waits "
                                                "in it: the release, the configuration and the log")

        # The log of this run, kept beside the backup with the updater's
        # verdict, as docs/log.md shows it (paths of the doc).
        log = read(app + "updateTemp.log").split("\n")
        self.assertEqual(log[-2:], [
            "corvane-update: update: 3 replaced now, 0 at the restart, 0 not replaced; exit code 0", ""])
        log = log[:-2]
        as_in_doc = [line.replace(work + "/", DOC_WORK).replace(app, DOC_APP) for line in log]
        with open(os.path.join(TEST_ROOT, "example.log"), "w") as f:
            f.write("\n".join(as_in_doc))
        self.assertEqual(normalised(doc_example_log() or []), normalised(as_in_doc),
                         "docs/log.md shows another log than a run writes; see updater-test/example.log")

    def test_the_work_folder_lies_beside_the_application_or_in_the_temporary_folder_and_goes_after_the_update(self):
        for parent_writable in (True, False):
            with self.subTest(parent_writable=parent_writable):
                shutil.rmtree(self.app)
                install(self.app, V1)
                release = self.zip("r.zip", [("readme.txt", "readme 1.1")])
                if not parent_writable:
                    self.make_immutable(self.dir)
                result = self.updater(release, self.app)
                if not parent_writable:
                    self.release_immutable(self.dir)
                self.assertExit(result, 0)
                self.assertEqual(read(os.path.join(self.app, "readme.txt")), "readme 1.1")
                work = re.search(r"update_temp_path : (.*)/\n", read(os.path.join(self.app, "updateTemp.log")))
                self.assertEqual(os.path.dirname(work.group(1)), self.dir if parent_writable else self.temp,
                                 "beside the application when its parent folder is writable")
                self.assertEqual(self.beside(), [])
                self.assertEqual(os.listdir(self.temp), [])

    def test_links_stay_links(self):
        """Top-level links, and links below a folder listed file by file, arrive
        in the application as links; a link below a folder is unpacked as a
        link for Corvane to take."""
        install(self.app, {"bin/app": "app 1.0", "lib/libcore.so.1": "core 1.0",
                           "lib/libcore.so": ("link", "libcore.so.1")})
        release = self.zip("r.zip", [("run", ("link", "bin/app")), ("lib/libcore.so.2", "core 2.0"),
                                     ("lib/libcore.so", ("link", "libcore.so.2"))])
        result = self.updater(release, self.app, "--per-file")
        self.assertExit(result, 0)
        app = self.app + "/"
        self.assertEqual(os.readlink(app + "run"), "bin/app")
        self.assertEqual(os.readlink(app + "lib/libcore.so"), "libcore.so.2")
        self.assertEqual(read(app + "lib/libcore.so"), "core 2.0")
        self.assertEqual(os.readlink(app + "updateTemp/lib/libcore.so"), "libcore.so.1", "the old link is backed up")

        unpacked = os.path.join(self.dir, "unpacked") + "/"
        with zipfile.ZipFile(self.zip("folder.zip", [("plugins/a.so", "a"),
                                                     ("plugins/b.so", ("link", "a.so"))])) as archive:
            entries, names = corvane_update.release_plan(archive, app, False, "flat")
            corvane_update.unpack(archive, entries, unpacked)
        self.assertEqual(names, ["plugins"])
        self.assertEqual(os.readlink(unpacked + "plugins/b.so"), "a.so")

    def test_no_layout_is_guessed_into_the_wrong_place(self):
        """One top-level folder is unwrapped only where the release cannot be
        of the application's own layout; a patch is taken as it stands; where
        both readings are possible the archive is refused and the message
        names --layout."""
        app_tree = dict(V1, plugins=None, **{"updateStage": None, "updateStage/x": "staged"})
        own = dict(V1, plugins=None)
        whole = [("myapp-1.1/", None), ("myapp-1.1/myapp", "app 1.1"), ("myapp-1.1/plugins/new.so", "new"),
                 ("myapp-1.1/readme.txt", "readme 1.1")]
        lang = [("lang/README.txt", "lang readme"), ("lang/de.qm", "de")]
        cases = [
            # (what, what the application holds, archive entries, options, exit code, what it then holds)
            ("a whole release in a wrapper (Corvane's updateStage/ is no name of the application)", app_tree, whole,
             [], 0, {"myapp": "app 1.1", "plugins": None, "plugins/new.so": "new", "readme.txt": "readme 1.1"}),
            ("a patch that adds one folder is never unwrapped", V1, lang, ["--per-file"], 0,
             dict(own, **{"lang": None, "lang/README.txt": "lang readme", "lang/de.qm": "de"})),
            ("the same as a whole release: a new folder or a wrapper", V1, lang, [], 1, own),
            ("a wrapper without one of the application's names", V1, whole[:3], [], 1, own),
            ("a folder of the application's own", V1, [("plugins/new.so", "new")], [], 0,
             {"myapp": "app 1.0", "plugins": None, "plugins/new.so": "new", "readme.txt": "readme 1.0"}),
            ("a folder that may be new or a wrapper", {"other": "x"}, [("docs/a.txt", "a")], [], 1,
             {"other": "x"}),
            ("--layout flat adds it", {"other": "x"}, [("docs/a.txt", "a")], ["--layout", "flat"], 0,
             {"other": "x", "docs": None, "docs/a.txt": "a"}),
            ("--layout wrapped unwraps it", {"other": "x"}, [("docs/a.txt", "a")], ["--layout", "wrapped"], 0,
             {"other": "x", "a.txt": "a"}),
            ("--layout wrapped unwraps a patch", V1, [("p-1.1/plugins/new.so", "new")],
             ["--per-file", "--layout", "wrapped"], 0, dict(own, **{"plugins/new.so": "new"})),
            ("--layout wrapped with two top-level names", V1, [("a/x", "x"), ("b", "b")], ["--layout", "wrapped"],
             1, own),
        ]
        for what, tree, entries, options, code, after in cases:
            with self.subTest(what):
                shutil.rmtree(self.app)
                install(self.app, tree)
                before = snapshot(self.app, leave_out=())
                result = self.updater(self.zip("r.zip", entries), self.app, *options)
                self.assertExit(result, code)
                # updateStage/ is Corvane's to empty or keep.
                self.assertEqual(snapshot(self.app, leave_out=RECORDS + ("updateStage",)), after)
                if code == 1:
                    self.assertIn("--layout", result.stderr, "the message names the way out")
                    self.assertNothingMade(before)

    def test_a_refused_archive_touches_nothing_and_leaves_nothing(self):
        """Unsafe or unlistable entries, and missing, corrupt or damaged
        archives: exit code 1, the application as it was, and nothing of the
        run left anywhere (a damaged member comes after a good one, so part of
        the release was unpacked)."""
        good = self.zip("good.zip", [("myapp", "app 6.6"), ("zzz.txt", "z" * 5000)])
        with open(good, "rb") as f:
            data = f.read()
        damaged = [
            ("missing", None),
            ("not a zip", b"this is no archive"),
            ("cut short", data[: len(data) // 2]),
            ("a damaged member", data.replace(b"z" * 200, b"y" * 200, 1)),
        ]
        unsafe = ["../evil.txt", "/abs.txt", "C:/evil.txt", "a/../../evil.txt", "./myapp", "semi;colon.txt",
                  "updateTemp/x", "updateTemp.log", "updateStage/x", "UPDATESTAGE", "updatePending/x",
                  "ctrl\x01.txt"]
        archives = [(name, payload, None) for name, payload in damaged]
        archives += [("entry %r" % entry, None, [("myapp", "app 6.6"), (entry, "evil")]) for entry in unsafe]
        archives += [
            ("an entry below a link", None, [("lib", ("link", self.temp)), ("lib/evil.txt", "evil")]),
            ("an entry below a file", None, [("lib", "file"), ("lib/evil.txt", "evil")]),
            ("an entry twice", None, [("myapp", "one"), ("myapp", "two")]),
        ]
        for what, payload, entries in archives:
            for work in (None, "new work folder", "empty work folder"):
                with self.subTest(what=what, work=work):
                    shutil.rmtree(self.app)
                    install(self.app, V1)
                    before = snapshot(self.app, leave_out=())
                    path = os.path.join(self.dir, "bad.zip")
                    if os.path.exists(path):
                        os.remove(path)
                    if entries is not None:
                        make_zip(path, entries)
                    elif payload is not None:
                        with open(path, "wb") as f:
                            f.write(payload)
                    options = []
                    if work:
                        options = ["--work", os.path.join(self.temp, "work")]
                        if work == "empty work folder":
                            os.makedirs(options[1])
                    result = self.updater(path, self.app, *options)
                    self.assertExit(result, 1)
                    self.assertRegex(result.stderr, r"^corvane-update: \S")
                    if work == "empty work folder":
                        self.assertEqual(os.listdir(options[1]), [], "the given work folder is empty again")
                        os.rmdir(options[1])
                    self.assertNothingMade(before)

    def test_the_checksum_is_checked_before_anything_is_unpacked(self):
        install(self.app, V1)
        release = self.zip("r.zip", V11_ENTRIES)
        digest = subprocess.run(["sha256sum", release], capture_output=True, text=True).stdout.split()[0]
        before = snapshot(self.app, leave_out=())
        for given, code in [("0" * 64, 1), (digest[:63], 1), (digest.upper(), 0)]:
            with self.subTest(given=given):
                result = self.updater(release, self.app, "--sha256", given)
                self.assertExit(result, code)
                if code == 1:
                    self.assertNothingMade(before)
        self.assertEqual(read(os.path.join(self.app, "myapp")), "app 1.1")

    def test_the_update_waits_for_the_application_to_exit(self):
        install(self.app, V1)
        release = self.zip("r.zip", V11_ENTRIES)
        before = snapshot(self.app, leave_out=())
        running = subprocess.Popen(["sleep", "30"])
        try:
            result = self.updater(release, self.app, "--wait-pid", str(running.pid), "--wait-seconds", "0.5")
        finally:
            running.kill()
            running.wait()
        self.assertExit(result, 1)
        self.assertIn("still running after 0.5 seconds", result.stderr)
        self.assertNothingMade(before)

        # The application writes its file as it exits; the update must come
        # after that, so the backup holds the last write. The process stays a
        # zombie until this test collects it: it has exited all the same.
        exiting = subprocess.Popen(["sh", "-c", "sleep 1; printf 'app 1.0, at exit' > '%s/myapp'" % self.app])
        result = self.updater(release, self.app, "--wait-pid", str(exiting.pid), "--wait-seconds", "60")
        exiting.wait()
        self.assertExit(result, 0)
        self.assertEqual(read(os.path.join(self.app, "updateTemp", "myapp")), "app 1.0, at exit")
        self.assertEqual(read(os.path.join(self.app, "myapp")), "app 1.1")

    def test_a_patch_release_lists_every_file_with_per_file(self):
        """A release of changed files only: listed whole, its folder replaces
        the application's; with --per-file only its files do."""
        installed = {"app": "app 1.0", "lib/core.so": "core 1.0", "lib/util.so": "util 1.0"}
        patch = [("lib/core.so", "core 1.1"), ("lib/extra/new.so", "new 1.1"), ("plugins/p.so", "p 1.1")]
        for options, lib in [([], {"lib": None, "lib/core.so": "core 1.1", "lib/extra": None,
                                   "lib/extra/new.so": "new 1.1"}),
                             (["--per-file"], {"lib": None, "lib/core.so": "core 1.1", "lib/util.so": "util 1.0",
                                               "lib/extra": None, "lib/extra/new.so": "new 1.1"})]:
            with self.subTest(options=options):
                shutil.rmtree(self.app)
                install(self.app, installed)
                result = self.updater(self.zip("patch.zip", patch), self.app, *options)
                self.assertExit(result, 0)
                expected = dict(lib, app="app 1.0", plugins=None)
                expected["plugins/p.so"] = "p 1.1"
                self.assertEqual(snapshot(self.app), expected)
        self.assertEqual(snapshot(os.path.join(self.app, "updateTemp"), leave_out=()),
                         {"lib": None, "lib/core.so": "core 1.0"}, "only the changed file is backed up")

    def test_unpacked_entries_keep_the_archives_times(self):
        """The DOS time of an entry (local time), or the Unix time of its
        extended-time field where it has one, for files, links and folders;
        also when the release lies on another file system (/dev/shm), where
        Corvane copies every entry, links (one at the top, one in a folder)
        included."""
        for other_file_system in (False, True):
            with self.subTest(other_file_system=other_file_system):
                shutil.rmtree(self.app)
                os.makedirs(self.app)
                if not other_file_system:
                    self.check_entry_times()
                    continue
                work = tempfile.mkdtemp(prefix="updater-test-", dir="/dev/shm")
                try:
                    self.assertNotEqual(os.stat(work).st_dev, os.stat(self.app).st_dev)
                    self.check_entry_times("--work", work)
                finally:
                    shutil.rmtree(work, ignore_errors=True)

    def check_entry_times(self, *options):
        install(self.app, V1)
        unix_time = 1500000000  # 2017-07-14, UTC
        extended = struct.pack("<HHBi", 0x5455, 5, 1, unix_time)
        entries = [  # (name, date_time, extra, mode)
            ("plugins/", (2019, 1, 2, 3, 4, 6), b"", stat.S_IFDIR | 0o755),
            ("plugins/a.so", (2020, 5, 17, 10, 30, 0), b"", stat.S_IFREG | 0o644),
            ("plugins/b.so", (2001, 1, 1, 0, 0, 0), extended, stat.S_IFREG | 0o644),
            ("plugins/c.so", (2018, 8, 8, 8, 8, 8), b"", stat.S_IFLNK | 0o777),
            ("myapp", (2021, 12, 31, 23, 59, 58), b"", stat.S_IFREG | 0o755),
            ("run", (2016, 3, 4, 5, 6, 8), b"", stat.S_IFLNK | 0o777),
        ]
        release = os.path.join(self.dir, "r.zip")
        with zipfile.ZipFile(release, "w") as archive:
            for name, date_time, extra, mode in entries:
                info = zipfile.ZipInfo(name, date_time)
                info.create_system, info.external_attr, info.extra = 3, mode << 16, extra
                archive.writestr(info, "a.so" if stat.S_ISLNK(mode) else "" if name.endswith("/") else name)
        self.assertExit(self.updater(release, self.app, *options), 0)
        for name, date_time, extra, _ in entries:
            with self.subTest(name):
                expected = unix_time if extra else time.mktime(date_time + (0, 0, -1))
                self.assertEqual(os.lstat(os.path.join(self.app, name)).st_mtime, expected)
        self.assertTrue(os.stat(os.path.join(self.app, "myapp")).st_mode & stat.S_IXUSR)

    def test_the_release_and_the_records_reach_the_disk_before_corvane_starts(self):
        """Seen in the updater's system calls: the work folder's file system
        flushed (syncfs) after everything was written into it and before
        Corvane starts; the record written aside, flushed, renamed, and its
        folder flushed."""
        install(self.app, V1)
        trace = os.path.join(self.dir, "trace.txt")
        self.own.add("trace.txt")
        command = ["strace", "-f", "-y", "-qq", "-o", trace, "-e",
                   "trace=syncfs,fsync,openat,rename,renameat,renameat2,execve", sys.executable, UPDATER,
                   self.zip("r.zip", V11_ENTRIES), self.app, "--corvane", CORVANE]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120,
                                env=dict(os.environ, TMPDIR=self.temp))
        self.assertExit(result, 0)
        calls = [re.sub(r"^\d+ +", "", line) for line in read(trace).splitlines()]
        corvane = next(i for i, call in enumerate(calls) if call.startswith("execve(\"%s\"" % CORVANE))
        written = [i for i, call in enumerate(calls[:corvane]) if call.startswith("openat(") and "O_CREAT" in call
                   and "/corvane-update-" in call]
        flushed = [i for i, call in enumerate(calls[:corvane])
                   if re.match(r"syncfs\(\d+<%s/corvane-update-\w+>\) = 0" % re.escape(self.dir), call)]
        self.assertTrue(written and flushed and flushed[-1] > written[-1],
                        "the work folder is flushed after its last file is written:\n" + "\n".join(calls[:corvane]))
        record = os.path.join(self.app, "updateTemp.json")
        calls = [call for call in calls if not call.startswith("openat(")]
        for i, call in enumerate(calls):
            if re.match(r'rename(at2?)?\(.*"%s\.new", .*"%s"' % (re.escape(record), re.escape(record)), call):
                self.assertRegex(calls[i - 1], r"^fsync\(\d+<%s\.new>\) = 0" % re.escape(record))
                self.assertRegex(calls[i + 1], r"^fsync\(\d+<%s>\) = 0" % re.escape(self.app))
                break
        else:
            self.fail("the record is never renamed into place")

    def test_without_syncfs_every_file_and_folder_is_flushed(self):
        """Where the system has no syncfs, each file and each folder below the
        work folder is flushed on its own (links are not opened)."""
        folder = os.path.join(self.dir, "w") + "/"
        install(folder, {"unzipTemp/a": "a", "unzipTemp/sub/b": "b", "unzipTemp/sub/link": ("link", "b"),
                         "unzipTemp/empty": None, "update_config.xml": "c"})
        flushed = []
        real_fsync = os.fsync
        with unittest.mock.patch.object(corvane_update.sys, "platform", "other"), \
                unittest.mock.patch.object(corvane_update.os, "fsync",
                                           lambda fd: flushed.append(os.readlink("/proc/self/fd/%d" % fd))
                                           or real_fsync(fd)):
            corvane_update.flush_folder_tree(folder)
        expected = [folder + path for path in ("unzipTemp/a", "unzipTemp/sub/b", "unzipTemp/sub", "unzipTemp/empty",
                                               "unzipTemp", "update_config.xml")] + [folder.rstrip("/")]
        self.assertEqual(sorted(flushed), sorted(expected))


class RollbackTest(Fixture):
    def test_a_rollback_puts_the_old_versions_back_and_a_second_one_undoes_it(self):
        for options in ([], ["--per-file"]):
            with self.subTest(options=options):
                shutil.rmtree(self.app)
                install(self.app, dict(V1, **{"lib/keep.so": "keep", "lib/core.so": "core 1.0"}))
                old = snapshot(self.app)
                result = self.updater(self.zip("r.zip", V11_ENTRIES + [("lib/core.so", "core 1.1"),
                                                                       ("lib/new/n.so", "n 1.1")]),
                                      self.app, *options)
                self.assertExit(result, 0)
                new = snapshot(self.app)
                result = self.updater("--rollback", self.app)
                self.assertExit(result, 0)
                self.assertIn("rollback: ", result.stdout)
                self.assertEqual(snapshot(self.app), old)
                self.assertEqual(self.beside(), [])
                verdicts = re.findall(r"^corvane-update: (\w+): ", read(os.path.join(self.app, "updateTemp.log")),
                                      re.M)
                self.assertEqual(verdicts, ["update", "rollback"], "the rollback's log follows the update's")
                result = self.updater("--rollback", self.app)
                self.assertExit(result, 0)
                self.assertEqual(snapshot(self.app), new)

    def test_a_rollback_that_did_not_put_everything_back_is_finished_by_the_next(self):
        install(self.app, {"a": "a 1.0", "b": "b 1.0"})
        self.assertExit(self.updater(self.zip("r.zip", [("a", "a 2.0"), ("b", "b 2.0"), ("c", "c 2.0")]),
                                     self.app), 0)
        self.make_immutable(os.path.join(self.app, "b"))
        self.make_immutable(os.path.join(self.app, "c"))
        result = self.updater("--rollback", self.app)
        self.assertExit(result, 2)
        self.assertIn("1 replaced now, 0 at the restart, 1 not replaced; 0 added entries taken out", result.stdout)
        self.assertIn("not taken out: c", result.stdout)
        work = self.work_folders()
        self.assertEqual(len(work), 1, "the old version not put back waits in the work folder")
        self.assertEqual(read(os.path.join(self.dir, work[0], "unzipTemp", "b")), "b 1.0")
        # An update now would leave those old versions behind for good.
        before = snapshot(self.app, leave_out=())
        result = self.updater(self.zip("r3.zip", [("a", "a 3.0")]), self.app)
        self.assertExit(result, 1)
        self.assertIn("run --rollback again", result.stderr)
        self.assertEqual(snapshot(self.app, leave_out=()), before)
        self.assertEqual(self.work_folders(), work)

        for path in ("b", "c"):
            self.release_immutable(os.path.join(self.app, path))
        result = self.updater("--rollback", self.app)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(self.app), {"a": "a 1.0", "b": "b 1.0"})
        self.assertEqual(self.beside(), [])
        self.assertExit(self.updater("--rollback", self.app), 0)
        self.assertEqual(snapshot(self.app), {"a": "a 2.0", "b": "b 2.0", "c": "c 2.0"},
                         "the finished rollback is undone whole")

    def test_without_an_update_there_is_nothing_to_roll_back(self):
        install(self.app, dict(V1, **{"updateTemp/myapp": "some backup"}))
        before = snapshot(self.app, leave_out=())
        result = self.updater("--rollback", self.app)
        self.assertExit(result, 1)
        self.assertIn("nothing to roll back", result.stderr)
        self.assertNothingMade(before)


class DroppedNamesTest(Fixture):
    """A release that no longer has a top-level name of the one installed:
    that name goes into the backup, where a rollback finds it; a name that no
    record or manifest shows to be the release's stays."""

    V1 = [("app.exe", "app 1"), ("core.dll", "core 1"), ("plugins/a.so", "a 1")]
    V2 = [("app.exe", "app 2"), ("core2.dll", "core 2"), ("plugins/a.so", "a 2")]

    def test_a_release_that_renames_a_dll_and_its_rollbacks(self):
        install(self.app, {"settings.ini": "the user's"})
        self.assertExit(self.updater(self.zip("v1.zip", self.V1), self.app), 0)
        v1 = snapshot(self.app)
        result = self.updater(self.zip("v2.zip", self.V2), self.app)
        self.assertExit(result, 0)
        self.assertIn("1 entry that the release drops moved into updateTemp/", result.stdout)
        v2 = snapshot(self.app)
        self.assertEqual(v2, {"app.exe": "app 2", "core2.dll": "core 2", "plugins": None, "plugins/a.so": "a 2",
                              "settings.ini": "the user's"})
        self.assertEqual(read(os.path.join(self.app, "updateTemp", "core.dll")), "core 1")
        # A rollback puts the dropped name back and takes the new one out; a
        # second one undoes it; an update after either drops from the release
        # the application holds then.
        for expected in (v1, v2, v1):
            self.assertExit(self.updater("--rollback", self.app), 0)
            self.assertEqual(snapshot(self.app), expected)
        self.assertExit(self.updater(self.zip("v2.zip", self.V2), self.app), 0)
        self.assertEqual(snapshot(self.app), v2)
        self.assertEqual(self.beside(), [])

    def test_an_application_installed_otherwise_names_its_release_with_manifest(self):
        installed = {"app.exe": "app 1", "core.dll": "core 1", "plugins/a.so": "a 1", "settings.ini": "the user's"}
        release = self.zip("v2.zip", self.V2)
        manifest = os.path.join(self.dir, "manifest.txt")
        self.own.add("manifest.txt")
        cases = [  # (manifest text or None, exit code, names moved into the backup)
            (None, 0, []),
            ("# installed by setup.exe\napp.exe\ncore.dll\nplugins/\n\n", 0, ["core.dll"]),
            ("app.exe\n../core.dll\n", 1, None),
            ("updateTemp\n", 1, None),
        ]
        for text, code, moved in cases:
            with self.subTest(manifest=text):
                shutil.rmtree(self.app)
                install(self.app, installed)
                before = snapshot(self.app, leave_out=())
                options = []
                if text is not None:
                    write(manifest, text)
                    options = ["--manifest", manifest]
                result = self.updater(release, self.app, *options)
                self.assertExit(result, code)
                if code == 1:
                    self.assertIn("--manifest", result.stderr)
                    self.assertNothingMade(before)
                    continue
                self.assertEqual(sorted(os.listdir(os.path.join(self.app, "updateTemp"))),
                                 sorted(["app.exe", "plugins"] + moved))
                self.assertEqual(read(os.path.join(self.app, "settings.ini")), "the user's")
                self.assertEqual(os.path.exists(os.path.join(self.app, "core.dll")), not moved)
                self.assertExit(self.updater("--rollback", self.app), 0)
                self.assertEqual(snapshot(self.app), snapshot_of(installed))


def snapshot_of(tree):
    """TREE (as install() takes it) as snapshot() would see it installed."""
    out = dict(tree)
    for path in tree:
        parts = path.split("/")
        for depth in range(1, len(parts)):
            out["/".join(parts[:depth])] = None
    return out


class RetryTest(Fixture):
    def test_a_retry_after_a_partial_failure_keeps_the_first_attempts_backups(self):
        install(self.app, {"a": "a 1.0", "b": "b 1.0", "c": "c 1.0"})
        release = self.zip("r.zip", [("a", "a 2.0"), ("b", "b 2.0"), ("n/new.txt", "new")])
        self.make_immutable(os.path.join(self.app, "b"))
        result = self.updater(release, self.app)
        self.assertExit(result, 2)
        self.assertIn("1 not replaced", result.stdout)
        # The old b cannot be moved into the backup: b stays as it is.
        self.assertIn("Backup failed, not replaced: " + os.path.join(self.app, "b") + " (", result.stdout)
        first_work = self.work_folders()
        self.assertEqual(len(first_work), 1, "the work folder of a run that did not replace everything stays")
        self.assertEqual(read(os.path.join(self.dir, first_work[0], "unzipTemp", "b")), "b 2.0")

        self.release_immutable(os.path.join(self.app, "b"))
        result = self.updater(release, self.app)
        self.assertExit(result, 0)
        backup = os.path.join(self.app, "updateTemp")
        self.assertEqual(snapshot(backup, leave_out=()), {"a": "a 1.0", "b": "b 1.0"},
                         "the first attempt's backup of a wins over the second's")
        self.assertEqual(self.beside(), [], "the first attempt's work folder goes with the second's")
        log = read(os.path.join(self.app, "updateTemp.log"))
        self.assertEqual(log.count("exit code"), 2, "the kept log holds both attempts")
        result = self.updater("--rollback", self.app)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(self.app), {"a": "a 1.0", "b": "b 1.0", "c": "c 1.0"})

    def test_a_run_cut_short_loses_no_backup(self):
        """The updater is killed just after Corvane's run, twice (the second
        time with the first attempt's backups set aside); the next run puts
        its records right, and the backup still holds the versions from before
        the first attempt."""
        install(self.app, {"a": "a 1.0", "b": "b 1.0"})
        release = self.zip("r.zip", [("a", "a 2.0"), ("b", "b 2.0"), ("c", "c 2.0")])
        killer = os.path.join(self.dir, "corvane-then-kill")
        write(killer, '#!/bin/sh\n"%s" "$@"\nkill -9 $PPID\n' % CORVANE, 0o755)
        self.own.add("corvane-then-kill")
        for attempt in (1, 2):
            result = self.updater(release, self.app, corvane=killer)
            self.assertEqual(result.returncode, -9, result.stdout + result.stderr)
        self.assertTrue(os.path.isdir(os.path.join(self.app, "updateTemp.kept")),
                        "the second run was cut short with the first one's backups set aside")
        result = self.updater(release, self.app)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(os.path.join(self.app, "updateTemp"), leave_out=()), {"a": "a 1.0", "b": "b 1.0"})
        self.assertFalse(os.path.exists(os.path.join(self.app, "updateTemp.kept")))
        self.assertEqual(self.beside(), [])
        result = self.updater("--rollback", self.app)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(self.app), {"a": "a 1.0", "b": "b 1.0"})

    def test_every_work_folder_is_recorded_and_goes_when_no_longer_needed(self):
        """A failed update, a rollback, the same update again: nothing is left
        beside the application. A release that fails again and again keeps
        one work folder, the one its record names."""
        install(self.app, {"a": "a 1.0", "b": "b 1.0"})
        release = self.zip("r.zip", [("a", "a 2.0"), ("b", "b 2.0")])
        self.make_immutable(os.path.join(self.app, "b"))
        for attempt in range(3):
            self.assertExit(self.updater(release, self.app), 2)
            work = self.work_folders()
            self.assertEqual(len(work), 1, "attempt %d: one work folder" % attempt)
            record = corvane_update.Records(self.app + "/").read()
            self.assertEqual(record["work"], os.path.join(self.dir, work[0]) + "/")
        self.assertExit(self.updater("--rollback", self.app), 0)
        self.assertEqual(snapshot(self.app), {"a": "a 1.0", "b": "b 1.0"})
        self.release_immutable(os.path.join(self.app, "b"))
        self.assertExit(self.updater(release, self.app), 0)
        self.assertEqual(snapshot(self.app), {"a": "a 2.0", "b": "b 2.0"})
        self.assertEqual(self.beside(), [])

    def test_a_work_folder_can_be_used_again(self):
        """A folder given with --work keeps its own files and nothing of the
        updater's once nothing waits in it: not after an update, and not
        after a failed one once a later run no longer needs what waits."""
        install(self.app, V1)
        work = os.path.join(self.temp, "work")
        write(os.path.join(work, "mine.txt"), "the user's")
        for version in ("1.1", "1.2"):
            result = self.updater(self.zip("r.zip", [("myapp", "app " + version)]), self.app, "--work", work)
            self.assertExit(result, 0)
            self.assertEqual(read(os.path.join(self.app, "myapp")), "app " + version)
            self.assertEqual(os.listdir(work), ["mine.txt"])

        # After a failure, the same release goes again in the same folder;
        # another release does not take the place of what waits there.
        self.make_immutable(os.path.join(self.app, "myapp"))
        release = self.zip("r13.zip", [("myapp", "app 1.3")])
        self.assertExit(self.updater(release, self.app, "--work", work), 2)
        self.release_immutable(os.path.join(self.app, "myapp"))
        before = snapshot(self.app, leave_out=())
        result = self.updater(self.zip("r14.zip", [("myapp", "app 1.4")]), self.app, "--work", work)
        self.assertExit(result, 1)
        self.assertIn("already holds a release", result.stderr)
        self.assertEqual(snapshot(self.app, leave_out=()), before)
        self.assertExit(self.updater(release, self.app, "--work", work), 0)
        self.assertEqual(read(os.path.join(self.app, "myapp")), "app 1.3")
        self.assertEqual(read(os.path.join(self.app, "updateTemp", "myapp")), "app 1.2")
        self.assertEqual(os.listdir(work), ["mine.txt"])

        # What a failed run leaves in a given folder goes with a later run
        # that changes something (here: in a work folder of its own).
        self.make_immutable(os.path.join(self.app, "myapp"))
        self.assertExit(self.updater(self.zip("r15.zip", [("myapp", "app 1.5")]), self.app, "--work", work), 2)
        self.assertIn("unzipTemp", os.listdir(work))
        self.release_immutable(os.path.join(self.app, "myapp"))
        self.assertExit(self.updater(self.zip("r16.zip", [("myapp", "app 1.6")]), self.app), 0)
        self.assertEqual(os.listdir(work), ["mine.txt"])
        self.assertEqual(self.beside(), [])

        # A given folder that the updater made goes whole then.
        made = os.path.join(self.temp, "made")
        self.make_immutable(os.path.join(self.app, "myapp"))
        self.assertExit(self.updater(self.zip("r17.zip", [("myapp", "app 1.7")]), self.app, "--work", made), 2)
        self.release_immutable(os.path.join(self.app, "myapp"))
        self.assertExit(self.updater(self.zip("r18.zip", [("myapp", "app 1.8")]), self.app), 0)
        self.assertEqual(sorted(os.listdir(self.temp)), ["work"])

    def test_a_name_deeper_than_a_thousand_characters_gets_its_whole_line(self):
        """The Linux program's log lines hold any path the system takes, so a
        name 1,000 characters deep is read from its own whole line and
        replaced, and nothing is left behind. (A name whose line is missing
        or cut counts as not replaced: LogReadingTest.)"""
        install(self.app, {"a": "a 1.0"})
        long_name = "/".join(["d" * 200] * 5) + "/f.txt"
        result = self.updater(self.zip("r.zip", [("a", "a 2.0"), (long_name, "deep")]), self.app, "--per-file")
        self.assertExit(result, 0)
        self.assertIn("2 replaced now, 0 at the restart, 0 not replaced", result.stdout)
        self.assertEqual(read(os.path.join(self.app, long_name)), "deep")
        self.assertEqual(self.work_folders(), [])

    def test_one_updater_at_a_time_per_application(self):
        install(self.app, V1)
        before = snapshot(self.app, leave_out=())
        with open(os.path.join(self.app, "updateTemp.log"), "ab") as lock:
            fcntl.flock(lock.fileno(), fcntl.LOCK_EX)
            result = self.updater(self.zip("r.zip", V11_ENTRIES), self.app)
        self.assertExit(result, 1)
        self.assertIn("another run of the updater", result.stderr)
        os.remove(os.path.join(self.app, "updateTemp.log"))
        self.assertNothingMade(before)


class CommandLineTest(Fixture):
    def test_a_wrong_command_line_is_refused_with_exit_code_1(self):
        install(self.app, V1)
        release = self.zip("r.zip", V11_ENTRIES)
        for args in ([], [release], ["--rollback", release, self.app], [release, self.app, "--sha256", "xyz"],
                     [release, self.app, "--wait-pid", "0"], ["--rollback", self.app, "--per-file"],
                     [release, os.path.join(self.dir, "no-such-app")]):
            with self.subTest(args=args):
                self.assertExit(self.updater(*args), 1)
        self.assertExit(self.updater(release, self.app, corvane=os.path.join(self.dir, "no-corvane")), 1)
        self.assertNothingMade(snapshot(self.app, leave_out=()))


class LogReadingTest(unittest.TestCase):
    """The log reader on sample texts: the lines of today's program and of the
    one whose failure lines end in " (<reason>)" and which has more lines."""

    NAMES = ["a", "b (x)", "plugins"]

    def outcome(self, texts, ran=True, line_end="\n", last_line_end="\n"):
        lines = ["", "", "Corvane (2026/12/10  09:05:01)", ""]
        lines += [" 0m 00.00s: Run param is: /w/update_config.xml"] if ran else []
        lines += [text if text.startswith(" ") else " 0m 00.01s: " + text for text in texts]
        return corvane_update.read_outcome(line_end.join(lines) + last_line_end, self.NAMES, "/w/unzipTemp/", "/a/")

    def test_each_name_takes_the_one_line_that_begins_with_its_exact_path(self):
        all_now = ["Copy file: /w/unzipTemp/a", "Copy file: /w/unzipTemp/b (x)", "Copy folder: /w/unzipTemp/plugins/"]
        cases = [
            ("all replaced now", all_now, (3, 0, []), 0),
            ("a failure with its reason", ["Copy file failed: /w/unzipTemp/a (Operation not permitted)"] + all_now[1:],
             (2, 0, ["a"]), 2),
            ("a failure without a reason (today's program)", ["Copy file failed: /w/unzipTemp/a"] + all_now[1:],
             (2, 0, ["a"]), 2),
            ("a path holding ' ('", all_now[:1] + ["Copy file failed: /w/unzipTemp/b (x) (Permission denied)",
                                                    all_now[2]], (2, 0, ["b (x)"]), 2),
            ("a folder's line by its target", all_now[:2] + ["Folder in use, not replaced: /a/plugins (Device busy)"],
             (2, 0, ["plugins"]), 2),
            ("a folder copy that failed", all_now[:2] + ["Copy folder failed: /w/unzipTemp/plugins/ (No space)"],
             (2, 0, ["plugins"]), 2),
            ("a refused name", all_now[:2] + ["Name refused, it passes through a link: plugins"], (2, 0, ["plugins"]), 2),
            ("at the restart", ["Copy file at restart: /w/unzipTemp/a"] + all_now[1:], (2, 1, []), 3),
            ("a thread number in the time", [" 0m 00.01s (2): Copy file: /w/unzipTemp/a"] + all_now[1:], (3, 0, []), 0),
            ("a line glued to a cut one", [" 0m 00.00s: file_names : a;b (x);plu 0m 00.01s: Copy file: /w/unzipTemp/a"]
             + all_now[1:], (2, 0, ["a"]), 2),
            ("a cut path", all_now[:2] + ["Copy folder: /w/unzipTemp/plug"], (2, 0, ["plugins"]), 2),
            ("a line missing", all_now[1:], (2, 0, ["a"]), 2),
            ("a name with two lines", all_now + ["Copy file failed: /w/unzipTemp/a (Busy)"], (2, 0, ["a"]), 2),
            ("the old version not put back", ["Copy file failed: /w/unzipTemp/a (Busy)",
                                              "Old version not put back, it is in: /a/updateTemp/a (Busy)"] + all_now[1:],
             (2, 0, ["a"]), 2),
            ("warnings only", ["Backup folder not emptied: /a/updateTemp/ (Directory not empty)",
                               "Run lock not taken, going on: /a/ (No locks)"] + all_now, (3, 0, []), 0),
        ]
        for what, texts, (now, restart, not_replaced), code in cases:
            with self.subTest(what):
                outcome = self.outcome(texts)
                self.assertEqual((len(outcome.now), len(outcome.restart), outcome.not_replaced),
                                 (now, restart, not_replaced))
                self.assertEqual(outcome.code(), code)

    def test_only_a_line_ended_by_its_line_end_counts(self):
        """A log that ends in a cut line: "Copy folder: .../plugins/" cut
        before its "/" still reads as the name's whole path, so only a line
        that its line end closes is read."""
        all_now = ["Copy file: /w/unzipTemp/a", "Copy file: /w/unzipTemp/b (x)", "Copy folder: /w/unzipTemp/plugins"]
        cases = [  # (line end, what follows the last line, names replaced now)
            ("\n", "\n", ["a", "b (x)", "plugins"]),
            ("\r\n", "\r\n", ["a", "b (x)", "plugins"]),
            ("\n", "", ["a", "b (x)"]),
            ("\r\n", "\r", ["a", "b (x)"]),
        ]
        for line_end, last, now in cases:
            with self.subTest(line_end=line_end, last=last):
                outcome = self.outcome(all_now, line_end=line_end, last_line_end=last)
                self.assertEqual(outcome.now, now)
                if last.endswith("\n"):
                    self.assertEqual(outcome.code(), 0)
                else:
                    self.assertEqual(outcome.not_replaced, ["plugins"])
                    self.assertEqual(outcome.code(), 2)
                    self.assertTrue(any("last line has no line end" in line for line in outcome.reports),
                                    outcome.reports)

    def test_a_run_that_changed_nothing_or_wrote_no_log_is_not_a_success(self):
        cases = [
            (["Load config file failed."], True),
            (["Another run is updating this application, nothing changed: /a/"], True),
            (["Configuration refused, this entry holds the release, the configuration or the log: /a/plugins"], True),
            ([], False),
        ]
        for texts, whole_run in cases:
            with self.subTest(texts=texts):
                outcome = self.outcome(texts, ran=bool(texts))
                self.assertEqual(bool(outcome.whole_run), whole_run)
                self.assertEqual(outcome.code(), 2)
                self.assertEqual(len(outcome.not_replaced), 3)


# Stands in for Corvane where a test needs the Windows program's answer for a
# link without Wine: every listed name fails with that program's reason.
LINK_FAILING_CORVANE = """#!/usr/bin/env python3
import re, sys
config = open(sys.argv[1]).read()
work = re.search(r'update_temp_path="([^"]*)"', config).group(1)
names = re.search(r'file_names="([^"]*)"', config).group(1).split(";")[:-1]
with open(work + "updateLog/update.log", "a") as log:
    log.write(" 0m 00.00s: Run param is: %s\\n" % sys.argv[1])
    for name in names:
        log.write(" 0m 00.00s: Copy file failed: %sunzipTemp/%s (a link, which this system cannot copy, move or "
                  "delete as itself)\\n" % (work, name))
"""


# Stands in for a Corvane whose log says more than it did: a "Copy ..." line
# for every listed name, while it replaces only the names of REPLACED and
# only moves the old version of TAKEN into the backup.
LYING_CORVANE = """#!/usr/bin/env python3
import os, re, sys
REPLACED, TAKEN = %r, %r
config = open(sys.argv[1]).read()
app = re.search(r'orbiq_app_path="([^"]*)"', config).group(1)
work = re.search(r'update_temp_path="([^"]*)"', config).group(1)
names = re.search(r'file_names="([^"]*)"', config).group(1).split(";")[:-1]
with open(work + "updateLog/update.log", "a") as log:
    log.write(" 0m 00.00s: Run param is: %%s\\n" %% sys.argv[1])
    for name in names:
        source = work + "unzipTemp/" + name
        folder = os.path.isdir(source)
        if name in REPLACED or name in TAKEN:
            os.makedirs(app + "updateTemp", exist_ok=True)
            os.rename(app + name, app + "updateTemp/" + name)
        if name in REPLACED:
            os.rename(source, app + name)
        log.write(" 0m 00.00s: Copy %%s: %%s%%s\\n" %% ("folder" if folder else "file", source, "/" if folder else ""))
"""


class CheckedOutcomeTest(Fixture):
    """A name counts as replaced now only when the application holds the
    version that the updater unpacked, whatever the log says."""

    INSTALLED = {"a": "a 1.0", "b": "b 1.0", "run": ("link", "a"), "plugins/p.so": "p 1.0"}
    RELEASE = [("a", "a 2.0"), ("b", "b 2.0"), ("run", ("link", "b")), ("plugins/p.so", "p 2.0"),
               ("plugins/sub/", None)]

    def test_a_log_that_says_more_than_was_done_is_not_believed(self):
        install(self.app, self.INSTALLED)
        stand_in = os.path.join(self.dir, "corvane")
        self.own.add("corvane")
        write(stand_in, LYING_CORVANE % (["b", "plugins"], ["run"]), 0o755)
        result = self.updater(self.zip("r.zip", self.RELEASE), self.app, corvane=stand_in)
        self.assertExit(result, 2)
        self.assertIn("2 replaced now, 0 at the restart, 2 not replaced", result.stdout)
        self.assertIn("a: the log says replaced now, but the application holds another version than the "
                      "release's (it differs at a); counted as not replaced", result.stdout)
        self.assertIn("run: the log says replaced now, but nothing stands at that name in the application",
                      result.stdout)
        self.assertEqual(read(os.path.join(self.app, "a")), "a 1.0")
        self.assertEqual(len(self.work_folders()), 1, "the work folder stays, as after every failure")

    def test_a_name_changed_after_the_real_programs_run_is_not_replaced(self):
        """Corvane replaces every name and logs it truly; then something
        changes a file's content, a link's target and a folder's tree."""
        install(self.app, self.INSTALLED)
        app = self.app + "/"
        changer = os.path.join(self.dir, "corvane-then-change")
        self.own.add("corvane-then-change")
        write(changer, '#!/bin/sh\n"%s" "$@"\nstatus=$?\necho changed > "%sa"\nln -sfn a "%srun"\n'
                       'rmdir "%splugins/sub"\nexit $status\n' % (CORVANE, app, app, app), 0o755)
        result = self.updater(self.zip("r.zip", self.RELEASE), self.app, corvane=changer)
        self.assertExit(result, 2)
        self.assertIn("1 replaced now, 0 at the restart, 3 not replaced", result.stdout)
        for name, where in (("a", "a"), ("run", "run"), ("plugins", "plugins/sub")):
            self.assertIn("%s: the log says replaced now, but the application holds another version than the "
                          "release's (it differs at %s)" % (name, where), result.stdout)
        self.assertEqual(read(app + "b"), "b 2.0")
        log = read(app + "updateTemp.log")
        self.assertIn("Copy file: %sunzipTemp/a\n" % re.search(r"update_temp_path : (.*)\n", log).group(1), log,
                      "the real program's log says a was replaced")
        self.assertIn("exit code 2", log)


class LinksAndTheWindowsProgramTest(Fixture):
    """What the updater does with links for the Windows program (--wine),
    before Wine is ever started: it refuses up front, naming the links. The
    program named is never run, so the native one stands in for it."""

    def test_links_in_the_application_or_the_release_are_refused_up_front(self):
        install(self.app, {"bin/app": "app 1", "lib/a.so": "a", "lib/b.so": ("link", "a.so"),
                           "run": ("link", "bin/app")})
        before = snapshot(self.app, leave_out=())
        cases = [  # (archive entries, what the message names)
            ([("bin/app", "app 2")], ["lib/b.so", "run"]),
            ([("x", ("link", "y")), ("z", ("link", "y"))], ["x, z"]),
        ]
        for entries, named in cases:
            with self.subTest(entries=entries):
                result = self.updater(self.zip("r.zip", entries), self.app, "--wine")
                self.assertExit(result, 1)
                for name in named:
                    self.assertIn(name, result.stderr)
                self.assertNothingMade(before)

        # Updated by the Linux program, the links went into the backup: the
        # Windows program's rollback is refused, the Linux program's works.
        self.assertExit(self.updater(self.zip("r.zip", [("lib/", None), ("lib/a.so", "a 2"), ("run", "app 2")]),
                                     self.app), 0)
        updated = snapshot(self.app, leave_out=())
        result = self.updater("--rollback", self.app, "--wine")
        self.assertExit(result, 1)
        self.assertIn("the backup to put back", result.stderr)
        self.assertIn("lib/b.so", result.stderr)
        self.assertEqual(snapshot(self.app, leave_out=()), updated)
        self.assertExit(self.updater("--rollback", self.app), 0)
        self.assertEqual(snapshot(self.app), snapshot_of({"bin/app": "app 1", "lib/a.so": "a",
                                                          "lib/b.so": ("link", "a.so"), "run": ("link", "bin/app")}))

    def test_a_rollback_that_fails_on_links_says_so(self):
        install(self.app, {"a": "a 1"})
        self.assertExit(self.updater(self.zip("r.zip", [("a", "a 2")]), self.app), 0)
        stand_in = os.path.join(self.dir, "corvane")
        self.own.add("corvane")
        write(stand_in, LINK_FAILING_CORVANE, 0o755)
        result = self.updater("--rollback", self.app, corvane=stand_in)
        self.assertExit(result, 2)
        self.assertIn("links, which this Corvane program cannot move", result.stdout)
        self.assertNotIn("close what holds them", result.stdout)
        self.assertExit(self.updater("--rollback", self.app), 0)
        self.assertEqual(snapshot(self.app), {"a": "a 1"})


# tests/updater/run runs these cases in the Windows-test guest on a machine
# whose Wine cannot run (UPDATER_WINDOWS_TESTS=elsewhere skips them here).
@unittest.skipIf(os.environ.get("UPDATER_WINDOWS_TESTS") == "elsewhere", "run in the Windows-test guest")
class WindowsTest(Fixture):
    def test_the_windows_command_line_and_log_under_wine(self):
        """The exact command line the updater builds on Windows, with blanks in
        the path, and its log read as the updater reads it: one file in use
        waits for the restart, the other is replaced now."""
        win32 = os.path.join(BUILD, "win32")
        work = os.path.join(self.dir, "my update") + "/"
        app = self.app + "/"
        install(app, {"myapp.exe": "app 1.0", "core.dll": "core 1.0"})
        install(work, {"unzipTemp/myapp.exe": "app 1.1", "unzipTemp/core.dll": "core 1.1", "updateLog/update.log": ""})
        names = ["myapp.exe", "core.dll"]
        write(work + "update_config.xml", corvane_update.config_text("Z:" + app, "Z:" + work, names))
        command = corvane_update.corvane_command("Z:" + win32 + "/corvane.exe", "Z:" + work + "update_config.xml",
                                                 windows=True)
        write(self.dir + "/command.txt", command)
        result = subprocess.run([os.path.join(ROOT, "cmake", "wine-run"), win32 + "/hold_and_run.exe",
                                 "--hold", "Z:" + app + "myapp.exe", "--command-file", "Z:" + self.dir + "/command.txt"],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 1, "corvane.exe had a path: " + result.stderr)
        self.assertEqual(read(app + "core.dll"), "core 1.1")
        with open(work + "updateLog/update.log", newline="") as log:
            text = log.read()
        self.assertTrue(all(line.endswith("\r") for line in text.split("\n")[:-1]), "CR LF line ends")
        outcome = corvane_update.read_outcome(text, names, "Z:" + work + "unzipTemp/", "Z:" + app)
        self.assertEqual((outcome.now, outcome.restart, outcome.not_replaced), (["core.dll"], ["myapp.exe"], []))
        self.assertEqual(outcome.code(), 3)
        # The restart carries out the queued moves now, while their paths
        # still exist, so that none is left pending in the shared prefix.
        subprocess.run(["wineboot", "-r"], capture_output=True, timeout=120)
        subprocess.run(["wineserver", "-w"], capture_output=True, timeout=60)
        self.assertEqual(read(app + "myapp.exe"), "app 1.1")
        self.assertEqual(read(app + "updateTemp/myapp.exe"), "app 1.0")


    def test_an_update_and_a_rollback_of_the_windows_build_through_the_updater(self):
        """The updater drives corvane.exe under Wine (--wine): Wine's paths in
        the configuration and the log, a work folder with a blank in its path
        passed whole, CR LF in the kept log."""
        exe = os.path.join(BUILD, "win32", "corvane.exe")
        install(self.app, V1)
        old = snapshot(self.app)
        # What the Windows program cannot see as the archive means it is refused first.
        for entries in ([("myapp", "a"), ("MyApp", "b")], [("run", ("link", "myapp"))], [("a:b", "c")]):
            with self.subTest(entries=entries):
                result = self.updater(self.zip("bad.zip", entries), self.app, "--wine", corvane=exe)
                self.assertExit(result, 1)
                self.assertNothingMade(old)
        work = os.path.join(self.temp, "my work")
        result = self.updater(self.zip("r.zip", V11_ENTRIES), self.app, "--work", work, "--wine", corvane=exe)
        self.assertExit(result, 0)
        self.assertEqual(read(os.path.join(self.app, "myapp")), "app 1.1")
        self.assertEqual(read(os.path.join(self.app, "plugins", "codecs", "video.so")), "codec 1.1")
        self.assertEqual(read(os.path.join(self.app, "updateTemp", "myapp")), "app 1.0")
        with open(os.path.join(self.app, "updateTemp.log"), newline="") as f:
            log = f.read()
        self.assertIn("Copy folder: Z:%s/unzipTemp/plugins/\r\n" % work, log)
        self.assertTrue(log.endswith("exit code 0\r\n"), log)

        result = self.updater("--rollback", self.app, "--wine", corvane=exe)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(self.app), old)
        self.assertEqual(self.beside(), [])

    def test_a_work_folder_waits_for_the_restart_and_is_emptied_after_it(self):
        """An update whose program file is in use (held open by a Windows
        program) replaces it at the restart: the given work folder, made by
        the updater, keeps its new version until then. After the restart the
        rollback puts the old versions back, and the work folder, where
        nothing waits any more, is gone."""
        win32 = os.path.join(BUILD, "win32")
        exe = os.path.join(win32, "corvane.exe")
        install(self.app, {"myapp.exe": "app 1.0", "core.dll": "core 1.0", "plugins/a.dll": "a 1.0"})
        old = snapshot(self.app)
        app = self.app + "/"
        work = os.path.join(self.temp, "work") + "/"
        # The holder runs "pause", which ends at a line on its input.
        holder = subprocess.Popen([os.path.join(ROOT, "cmake", "wine-run"), win32 + "/hold_and_run.exe", "--hold",
                                   "Z:" + app + "myapp.exe", "--", "cmd", "/c", "pause"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        restarted = []

        def release_and_restart():
            if holder.poll() is None:
                holder.stdin.write(b"\r\n")
                holder.stdin.close()
                try:
                    holder.wait(timeout=120)
                except subprocess.TimeoutExpired:
                    holder.kill()
                    holder.wait()
            holder.stdout.close()
            if not restarted:
                # The queued moves are carried out while their paths exist, so
                # that none stays pending in the shared prefix.
                subprocess.run(["wineboot", "-r"], capture_output=True, timeout=120)
                subprocess.run(["wineserver", "-w"], capture_output=True, timeout=60)
                restarted.append(True)

        self.addCleanup(release_and_restart)
        for line in holder.stdout:
            if line.startswith(b"hold_and_run: running"):
                break
        else:
            self.fail("hold_and_run did not hold %smyapp.exe" % app)

        result = self.updater(self.zip("r.zip", [("myapp.exe", "app 1.1"), ("core.dll", "core 1.1"),
                                                 ("plugins/b.dll", "b 1.1")]),
                              self.app, "--work", work, "--wine", corvane=exe)
        self.assertExit(result, 3)
        self.assertIn("2 replaced now, 1 at the restart, 0 not replaced", result.stdout)
        self.assertEqual(snapshot(app, leave_out=RECORDS), {"myapp.exe": "app 1.0", "core.dll": "core 1.1",
                                                            "plugins": None, "plugins/b.dll": "b 1.1"})
        self.assertEqual(read(work + "unzipTemp/myapp.exe"), "app 1.1", "the new version waits for the restart")

        release_and_restart()
        self.assertEqual(read(app + "myapp.exe"), "app 1.1")
        self.assertEqual(read(app + "updateTemp/myapp.exe"), "app 1.0")

        result = self.updater("--rollback", self.app, "--wine", corvane=exe)
        self.assertExit(result, 0)
        self.assertEqual(snapshot(self.app), old)
        self.assertFalse(os.path.lexists(work), "the work folder that the updater made goes once nothing waits in "
                                                "it; left there: %s" % (os.listdir(work) if os.path.isdir(work) else ""))
        self.assertEqual(self.beside(), [])
        self.assertEqual(os.listdir(self.temp), [])


if __name__ == "__main__":
    os.makedirs(TEST_ROOT, exist_ok=True)
    unittest.main(verbosity=2)
