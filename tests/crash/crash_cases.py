"""The update that the crash tests cut short, and the checks made after each
cut: an installation of 25 names of every kind (files of 0 B to 70 KB, folder
trees, a name ending in "/", nested and new names, names missing from the
release, a file becoming a folder and back, a name listed twice) and an
earlier backup; shared by the native test (tests/crash/run) and the Windows
build's under Wine (tests/crash-wine/run)."""

import os


def content(name, version, size):
    """Distinct bytes for each name and version."""
    unit = f"{version} version of {name}\n".encode()
    return (unit * (size // len(unit) + 1))[:size]


def tree(name, version, entries):
    """A folder version: relative path -> bytes, or None for a folder."""
    result = {}
    for relative, size in entries:
        if size is None:
            result[relative] = None
        else:
            result[relative] = content(f"{name}/{relative}", version, size)
    return result


# Each configured name: (name as configured, old version, new version); a
# version is bytes (a file), a dict (a folder tree) or None (absent).
def scenario():
    names = []
    for i in range(12):
        size = [0, 1, 100, 5000, 70000][i % 5]
        names.append((f"file{i:02}.txt", content(f"file{i}", "old", size + i), content(f"file{i}", "new", size + 2 * i)))
    names.append(("plugins", tree("plugins", "old", [("a.plg", 300), ("b.plg", 10), ("old", None), ("old/x.plg", 40)]),
                  tree("plugins", "new", [("a.plg", 400), ("b.plg", 0), ("new", None), ("new/deep", None),
                                          ("new/deep/y.plg", 9000), ("new/deep/z.plg", 12), ("empty", None)])))
    names.append(("res/", tree("res", "old", [(f"r{i}.bin", 50 * i) for i in range(6)]),
                  tree("res", "new", [(f"r{i}.bin", 60 * i) for i in range(8)])))
    names.append(("data/sub/", tree("data/sub", "old", [("x.bin", 20)]),
                  tree("data/sub", "new", [("x.bin", 30), ("more", None), ("more/m.bin", 3)])))
    names.append(("lib/core.dll", content("core", "old", 2048), content("core", "new", 4096)))
    names.append(("new.txt", None, content("new.txt", "new", 77)))
    names.append(("newdir", None, tree("newdir", "new", [("a", None), ("a/b.txt", 5), ("c.txt", 6)])))
    names.append(("sub/deep/file.txt", None, content("sub/deep/file.txt", "new", 33)))
    names.append(("kept.txt", content("kept", "old", 10), None))
    names.append(("keptdir", tree("keptdir", "old", [("k.txt", 8)]), None))
    names.append(("to_folder", content("to_folder", "old", 15), tree("to_folder", "new", [("inside.txt", 25)])))
    names.append(("to_file", tree("to_file", "old", [("inside.txt", 35), ("in", None), ("in/x", 2)]),
                  content("to_file", "new", 45)))
    names.append(names[1])  # listed twice: the second finds nothing left to do
    names.append(("docs", tree("docs", "old", [("readme.txt", 1000)]),
                  tree("docs", "new", [("readme.txt", 1100), ("guide", None)] + [(f"guide/p{i}.html", 200 + i) for i in range(5)])))
    return names


def plain(name):
    return name.rstrip("/\\")


def put(path, version):
    if version is None:
        return
    if isinstance(version, bytes):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(version)
        return
    os.makedirs(path, exist_ok=True)
    for relative in sorted(version):
        full = os.path.join(path, relative)
        if version[relative] is None:
            os.makedirs(full, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(version[relative])


def look(path):
    """What a path holds now, in the form of a version; None when absent."""
    if os.path.islink(path) or not os.path.exists(path):
        return None
    if os.path.isfile(path):
        with open(path, "rb") as f:
            return f.read()
    result = {}
    for folder, subfolders, files in os.walk(path):
        for sub in subfolders:
            result[os.path.relpath(os.path.join(folder, sub), path)] = None
        for file in files:
            with open(os.path.join(folder, file), "rb") as f:
                result[os.path.relpath(os.path.join(folder, file), path)] = f.read()
    return result


class Layout:
    def __init__(self, work, temp_base=None, config_path_of=lambda path: path):
        """temp_base: where the unpacked release goes instead of beside the
        application, on another file system (so new versions are copied).
        config_path_of: how the program names a path of this machine (under
        Wine, a drive letter and the path below it)."""
        self.work = work
        self.config_path_of = config_path_of
        self.app = os.path.join(work, "app") + "/"
        self.temp = os.path.join(temp_base + work if temp_base else work, "upd") + "/"
        self.release = self.temp + "unzipTemp/"
        self.backup = self.app + "updateTemp/"
        self.data = os.path.join(work, "data") + "/"
        self.config = self.data + "update_config.xml"
        self.log = self.data + "updateLog/update.log"

    def create(self, names):
        os.makedirs(self.app)
        os.makedirs(self.release)
        os.makedirs(self.data + "updateLog")
        open(self.log, "w").close()
        # A backup left by an earlier update, which this one clears first.
        put(self.backup + "stale", tree("stale", "earlier", [("s.txt", 4)]))
        put(self.app + "lib/other.dll", content("other", "kept", 10))
        for name, old, new in names:
            put(self.app + plain(name), old)
            put(self.release + plain(name), new)
        file_names = "".join(name + ";" for name, _, _ in names)
        with open(self.config, "w") as f:
            f.write('<?xml version="1.0"?>\n<run_config>\n'
                    f'  <current_run_config orbiq_app_path="{self.config_path_of(self.app)}" '
                    f'update_temp_path="{self.config_path_of(self.temp)}" allow_beta="false"/>\n'
                    f'  <copy_config file_names="{file_names}"/>\n</run_config>\n')


def never_absent_natively(staged):
    """Which names the native program keeps present throughout, from the
    kinds of their versions: a file replaced by a file (its old version gets
    a second name in the backup, the new one is renamed over it), and, when
    every new version is staged (the release on another file system), every
    name that has an old version (the staged copy is swapped with it)."""
    def never_absent(old, new):
        if old is None or new is None:
            return False
        return staged or (isinstance(old, bytes) and isinstance(new, bytes))
    return never_absent


def check_kept(layout, names, never_absent=lambda old, new: False):
    """Problems after a kill: a name that holds neither whole version, a
    version found neither where it was nor where it goes, or a name absent
    that never_absent(old, new) says is never absent."""
    problems = []
    for name, old, new in names:
        here = look(layout.app + plain(name))
        if here is not None and here != old and here != new:
            problems.append(f"{name} holds neither whole version")
        if here is None and never_absent(old, new):
            problems.append(f"{name} is absent")
        # An old version swapped out for its staged copy passes through
        # updateTemp/updateStage on its way to its backup path.
        if old is not None and here != old and old not in (look(layout.backup + plain(name)),
                                                           look(layout.backup + "updateStage")):
            problems.append(f"old version of {name} lost")
        if new is not None and here != new and look(layout.release + plain(name)) != new:
            problems.append(f"new version of {name} lost")
    return problems


def check_complete(layout, names):
    """Problems after a run to the end: a name that does not hold its new
    version (or, missing from the release, its old one)."""
    problems = []
    for name, old, new in names:
        expected = new if new is not None else old
        if look(layout.app + plain(name)) != expected:
            problems.append(f"{name} is not whole in the application folder")
    if look(layout.app + "lib/other.dll") != content("other", "kept", 10):
        problems.append("lib/other.dll, no configured name, changed")
    for leftover in (layout.app + "updateStage", layout.temp + "deleteTemp"):
        if os.path.exists(leftover):
            problems.append(f"{leftover} was left behind")
    return problems
