#!/usr/bin/env python3
"""A reference updater for Corvane: copy it into your application and adapt it.

    corvane-update RELEASE.zip APP [--corvane PROGRAM [--wine]] [options]
    corvane-update --rollback APP [--corvane PROGRAM [--wine]] [options]

Installed as the command corvane-update; in the source tree it is
examples/updater/corvane_update.py.

An update:
  1. checks the archive (its SHA-256 with --sha256, before anything else) and
     refuses entries that would land outside the release, pass through a link
     of the archive, or cannot be listed;
  2. unpacks it into WORK/unzipTemp/, links as links, with the archive's
     modification times, and flushes it to the disk. WORK is a new folder
     beside APP, so that it lies on the application's file system and
     Corvane's moves are renames; the system's temporary folder when APP's
     parent folder is not writable; --work names one;
  3. writes WORK/update_config.xml, listing the archive's top-level names, or
     with --per-file every file of the archive as its own name (for a release
     that holds only the files that changed);
  4. waits for the application's process to exit (--wait-pid);
  5. starts Corvane and counts the outcome lines of its log, whole lines
     only: exactly one for every listed name; a name without one counts as
     not replaced, and so does a name whose line says "replaced now" while
     the application holds another version than the one unpacked (each
     file's SHA-256, each link's target, each folder's tree of names, taken
     before Corvane ran);
  6. moves into APP/updateTemp/ every top-level name of the release that the
     application holds (known from the record of the last update, or from
     --manifest) that the new release lacks, so that a rollback brings it
     back; a name that neither shows is the user's, and stays;
  7. prints a one-line summary, keeps the log of the run in APP/updateTemp.log
     and removes WORK when every name was replaced now (of a folder given
     with --work, only what the updater put there). A work folder that is
     kept is named in the record, and emptied by a later run once nothing
     waits in it.

The layout is never guessed into the wrong place. With --per-file the archive
is taken as it stands unless --layout wrapped says otherwise. A whole release
whose entries all lie in one folder (myapp-1.1/...) is unwrapped only when it
cannot be of the application's own layout: the application has no entry of
that folder's name, and every top-level name it has lies inside the folder.
When the application has a folder of that name (plugins/), the archive is
taken as it stands. Anything else is refused as ambiguous: --layout wrapped
or --layout flat then decides.

With --wine, PROGRAM is the Windows corvane.exe, run under Wine: the paths it
is given are Wine's (Z: is the root of the file system), and its log has the
Windows line ends. That program cannot move a link, so an application, a
release or a backup that holds links is refused before anything changes.

A rollback puts back the old versions that the last update left in
APP/updateTemp/: it runs Corvane with that backup as the release, so the
versions it replaces land in updateTemp/ in turn and a second rollback undoes
the first. The entries that the update added are moved into updateTemp/ too.

What Corvane promises, and this updater relies on: after any run, finished,
failed or cut short (killed, or the machine's power cut once the release is
on the disk), every listed name holds a whole old or a whole new version, or
a move at the restart is pending that ends in one; for the instant between
two renames a name may be absent, its old version in updateTemp/. Every old
version is in APP or in updateTemp/, every new one in APP or in
WORK/unzipTemp/. So a run cut short is finished by running the same update
again.

The updater's records, beside the backup in APP (updateStage/ and
updatePending/ are Corvane's own, like updateTemp/: a release may not hold
these names):
  updateTemp.log    the logs of the last update's runs and of the rollbacks
                    after it, each with the verdict;
  updateTemp.json   what the last update listed, backed up and added;
  updateTemp.kept/  during a run only (or after one was cut short): the backups
                    of an earlier attempt at the same release, which would
                    otherwise be lost, since Corvane empties updateTemp/ at
                    the start of every run. They are merged back after the
                    run, the older version of a name winning.

Exit code: 0 every name replaced now (each checked against the version
unpacked); 3 every name replaced, some at the next restart of the system
(keep WORK until then); 2 something not replaced, or not known to be (WORK
is kept: the new versions wait there; run the same command again); 1
refused before anything changed (arguments, archive, checksum, the
application still running, nothing to roll back): everything the updater
made is removed again.

Python 3.6 or later, standard library only.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import zipfile
import zlib
from xml.sax.saxutils import quoteattr

PROG = "corvane-update"

# Corvane takes paths as bytes: on Windows in the system's code page (the
# "ANSI" one), elsewhere as the file system's bytes (UTF-8 here).
WINDOWS = os.name == "nt"
PATH_ENCODING = "mbcs" if WINDOWS else "utf-8"
LINE_END = b"\r\n" if WINDOWS else b"\n"

BACKUP = "updateTemp"
RECORD_LOG = "updateTemp.log"
RECORD = "updateTemp.json"
KEPT = "updateTemp.kept"
# Where Corvane stages copies before it swaps them in, and where a copy from
# another drive waits for the restart: its own, like the backup.
STAGE = "updateStage"
PENDING = "updatePending"

# ---------------------------------------------------------------------------
# Corvane's log

# The outcome lines: every listed name that the release holds gets exactly
# one. Each prefix is followed by the path the line is about: the new entry in
# the release ("source", a folder's ending in "/"), the old entry in the
# application ("target"), or the name as listed; a failure line then carries
# " (<reason>)" (older programs wrote none).
OUTCOMES = (
    ("Copy file: ", "now", "source"),
    ("Copy folder: ", "now", "source"),
    ("Copy file at restart: ", "restart", "source"),
    ("Copy file failed: ", "not", "source"),
    ("Copy folder failed: ", "not", "source"),
    ("Folder in use, not replaced: ", "not", "target"),
    ("Backup failed, not replaced: ", "not", "target"),
    ("Restart move refused, not replaced: ", "not", "target"),
    ("Name refused, it leads outside the application folder: ", "not", "name"),
    ("Name refused, it passes through a link: ", "not", "name"),
    ("Name refused, source and target are the same entry: ", "not", "name"),
    ("Name refused, it is a folder of the update's own: ", "not", "name"),
    ("Name refused, the system would take it for another name: ", "not", "name"),
)
# Lines that end the run before any name: nothing was changed.
WHOLE_RUN = (
    "Load config file failed.",
    "Another run is updating this application, nothing changed: ",
    "Configuration refused, this entry holds the release, the configuration or the log: ",
    "Configuration refused, the release holds the application folder: ",
    "Configuration refused, this work folder holds the application folder: ",
    "Configuration refused, this folder path does not end in a separator: ",
    "Configuration refused, this path passes through a link that cannot be followed here: ",
)
# An old version that could not be moved back after a failed replacement is
# only in the backup (for good, or until the restart moves it back): the
# update is not done, and updateTemp/ must be kept.
NOT_PUT_BACK = ("Old version not put back, it is in: ", "Old version put back at the restart: ")
# Lines that leave each name's outcome to its own line: the backup folder or
# a work folder still holds something old, the run went on without its lock,
# (older programs) part of a failed folder copy stayed in the application, or
# a flush to the disk failed (a power cut soon after could lose what was not
# yet written; a source whose copy is not known to be on the disk then stays
# in the release), a name was listed twice, or the log could not grow (the
# names after it have no outcome line, so they count as not replaced).
WARNINGS = ("Backup folder not emptied: ", "Work folder not emptied: ", "Run lock not taken, going on: ",
            "Partial copy not removed: ", "Not flushed to the disk: ",
            "Source kept, the new version is not known to be on the disk: ",
            "Source kept, it is not the file that was copied: ", "Name listed again, nothing done: ",
            "Log not written, the names left are not replaced: ")
ALERTS = NOT_PUT_BACK + WARNINGS
# The reason the Windows program gives for an entry that is a link: nothing
# holds it, and running again cannot help.
LINK_REASON = "(a link, which this system cannot copy, move or delete as itself)"

REPLACED_NOW = tuple(prefix for prefix, kind, _ in OUTCOMES if kind == "now")
AT_RESTART = tuple(prefix for prefix, kind, _ in OUTCOMES if kind == "restart")
NOT_REPLACED = tuple(prefix for prefix, kind, _ in OUTCOMES if kind == "not") + WHOLE_RUN + NOT_PUT_BACK

# " 0m 00.01s: ", or with a thread number " 0m 00.01s (2): ".
TIME_PREFIX = re.compile(r" *\d+m \d\d\.\d\ds(?: \(\d+\))?: ")


class Refused(Exception):
    """Nothing was changed in the application: exit code 1."""


class Outcome:
    """What one run of Corvane did with the listed names, read from its log."""

    def __init__(self):
        self.ran = False  # the log has this run's "Run param is:" line
        self.now, self.restart, self.not_replaced = [], [], []  # names
        self.whole_run = None  # the line that ended the run before any name
        self.not_put_back = []  # alert lines: an old version is only in the backup
        self.warnings = []  # other alert lines
        self.reports = []  # lines for the user: every outcome but "replaced now"

    def code(self):
        if not self.ran or self.whole_run or self.not_replaced or self.not_put_back:
            return 2
        return 3 if self.restart else 0

    def summary(self):
        return "%d replaced now, %d at the restart, %d not replaced" % (
            len(self.now), len(self.restart), len(self.not_replaced))


def line_text(line):
    """The text of a log line behind its elapsed time; None for the header
    and other lines without one."""
    match = TIME_PREFIX.match(line)
    return line[match.end():] if match else None


def match_path(rest, paths):
    """The name whose path begins REST, followed by nothing or by " (": a
    reason follows the path, and a path may itself hold " (", so the longest
    path that fits wins."""
    if rest in paths:
        return paths[rest]
    cut = rest.rfind(" (")
    while cut >= 0:
        if rest[:cut] in paths:
            return paths[rest[:cut]]
        cut = rest.rfind(" (", 0, cut)
    return None


def whole_lines(text):
    """The lines of TEXT (a log) that end with a line end, without it (a CR
    before the LF is dropped too), and the rest after the last line end: a
    line cut short there may hold only the start of its path, which can read
    as another name's whole path, so it is no line."""
    lines = text.split("\n")
    return [line[:-1] if line.endswith("\r") else line for line in lines[:-1]], lines[-1]


def read_outcome(text, names, source_folder, app_folder):
    """Counts the outcome lines of TEXT (one run's log) for NAMES, the listed
    names that the release holds. A name gets its outcome from exactly one
    whole line (ended by its line end) that begins with an outcome's text and
    that name's exact path; with none or several (a cut or glued line, say)
    it counts as not replaced."""
    outcome = Outcome()
    lines, cut = whole_lines(text)
    if cut.strip():
        outcome.reports.append("the log's last line has no line end, so it may be cut and is not read: " + cut)
    paths = {"source": {}, "target": {}, "name": {}}
    for name in names:
        paths["source"][source_folder + name] = name
        paths["source"][source_folder + name + "/"] = name
        paths["target"][app_folder + name] = name
        paths["name"][name] = name
    found = {name: [] for name in names}
    for line in lines:
        text = line_text(line)
        if text is None:
            continue
        if text.startswith("Run param is: "):
            outcome.ran = True
        elif text.startswith(WHOLE_RUN):
            outcome.whole_run = text
        elif text.startswith(NOT_PUT_BACK):
            outcome.not_put_back.append(text)
        elif text.startswith(WARNINGS):
            outcome.warnings.append(text)
        else:
            for prefix, kind, space in OUTCOMES:
                if text.startswith(prefix):
                    name = match_path(text[len(prefix):], paths[space])
                    if name is None:
                        outcome.reports.append("a line of no listed name: " + text)
                    else:
                        found[name].append((kind, text))
                    break
    for name in names:
        if len(found[name]) == 1:
            kind, text = found[name][0]
            {"now": outcome.now, "restart": outcome.restart, "not": outcome.not_replaced}[kind].append(name)
            if kind != "now":
                outcome.reports.append(text)
        else:
            outcome.not_replaced.append(name)
            if outcome.ran and not outcome.whole_run:
                outcome.reports.append("%s: %d outcome lines in the log, counted as not replaced" %
                                       (name, len(found[name])))
    return outcome


# ---------------------------------------------------------------------------
# The archive


class Entry:
    """One entry of the archive: where it goes in the release, and its kind
    ("file", "folder" or "link")."""

    def __init__(self, info, path, kind):
        self.info, self.path, self.kind = info, path, kind


def entry_kind(info):
    mode = info.external_attr >> 16
    kind = stat.S_IFMT(mode) if info.create_system == 3 else 0
    if info.is_dir() or kind == stat.S_IFDIR:
        return "folder"
    if kind == stat.S_IFLNK:
        return "link"
    if kind in (0, stat.S_IFREG):
        return "file"
    raise Refused("entry %r is neither a file, a folder nor a link" % info.filename)


def is_reserved(name):
    """Corvane's backup and staging folders and the updater's records beside
    them: never listed, never taken for one of the application's names."""
    name = name.casefold()
    return name in (BACKUP.casefold(), STAGE.casefold(), PENDING.casefold()) or name.startswith(BACKUP.casefold() + ".")


def application_names(app):
    """The top-level names of the application, without the reserved ones."""
    return {name for name in os.listdir(app) if not is_reserved(name)}


def archive_entries(archive, windows=WINDOWS):
    """The archive's entries with their paths checked: none may land outside
    the release (a root, a drive letter, "." or ".."), hold a character the
    configuration's list cannot carry (";" ends a name there), appear twice,
    or lie below a file or link of the archive (unpacking through a link
    would write wherever it points). For the Windows program (also under
    Wine) names are told apart without case, and neither a ":" nor a link is
    taken."""
    entries, kinds = [], {}
    for info in archive.infolist():
        raw = info.filename.replace("\\", "/")
        parts = raw.rstrip("/").split("/")
        if (not raw or raw.startswith("/") or ":" in parts[0] or (windows and ":" in raw) or
                any(part in ("", ".", "..") for part in parts)):
            raise Refused("entry outside the release: %r" % info.filename)
        if ";" in raw or any(ord(c) < 32 for c in raw):
            raise Refused("a name with ';' or a control character cannot be listed: %r" % info.filename)
        path = "/".join(parts)
        key = path.casefold() if windows else path
        if key in kinds:
            raise Refused("the archive holds %r twice" % path)
        kinds[key] = entry_kind(info)
        entries.append(Entry(info, path, kinds[key]))
    for entry in entries:
        parts = entry.path.split("/")
        for depth in range(1, len(parts)):
            above = "/".join(parts[:depth])
            kind = kinds.get(above.casefold() if windows else above, "folder")
            if kind != "folder":
                raise Refused("entry %r lies below the %s %r" % (entry.path, kind, above))
    if windows:
        links = [entry.path for entry in entries if entry.kind == "link"]
        if links:
            raise Refused("the archive holds symbolic links (%s), which the Windows program can neither make nor "
                          "move; nothing was changed" % first_few(links))
    return entries


def first_few(paths, few=3):
    """PATHS for a message: the first FEW, and how many more there are."""
    shown = ", ".join(paths[:few])
    return shown + (" and %d more" % (len(paths) - few) if len(paths) > few else "")


def links_below(folder, leave_out=lambda name: False):
    """The links below FOLDER (relative paths, in walk order, the top-level
    names for which LEAVE_OUT is true left out); a link to a folder is not
    followed."""
    links = []
    for root, folders, files in os.walk(folder):
        relative = os.path.relpath(root, folder)
        if relative == ".":
            relative = ""
            folders[:] = [name for name in folders if not leave_out(name)]
            files = [name for name in files if not leave_out(name)]
        for name in folders + files:
            if os.path.islink(os.path.join(root, name)):
                links.append(relative + "/" + name if relative else name)
    return links


def refuse_links(target, folders):
    """For the Windows program: refuses, before anything changes, an
    application or release (FOLDERS: (folder, what it is, a test of the
    top-level names to leave out)) that holds links. That program cannot move a link as itself
    (Windows 98 has none), so an update would move the application's links
    into the backup and its rollback could never put them back."""
    if not target.windows:
        return
    for folder, what, leave_out in folders:
        if not is_real_folder(folder.rstrip("/")):
            continue
        links = links_below(folder, leave_out) if leave_out else links_below(folder)
        if links:
            raise Refused("%s %s holds symbolic links (%s), which the Windows program cannot move; nothing was "
                          "changed: use the Linux program for an application with links" %
                          (what, folder, first_few(links)))


def unwrapped(entries, app, layout, per_file):
    """The entries with one wrapping top-level folder taken off, as LAYOUT
    asks ("auto", "wrapped" or "flat"). A wrong guess would put files in the
    wrong place and report success, so "auto" guesses only where one reading
    is possible. A patch (PER_FILE) is taken as it stands. A whole release
    with one top-level folder is unwrapped when it cannot be of the
    application's own layout (the application has no entry of that name, and
    every top-level name it has lies inside the folder), taken as it stands
    when the folder is one of the application's own, and refused otherwise."""
    tops = {entry.path.split("/")[0] for entry in entries}
    inner = [entry for entry in entries if "/" in entry.path]
    wrapped = len(tops) == 1 and inner
    if layout == "flat" or (layout == "auto" and (per_file or not wrapped)):
        return entries
    if not wrapped:
        raise Refused("--layout wrapped: the archive does not hold exactly one top-level folder")
    folder = tops.pop()
    if layout == "auto":
        own = application_names(app)
        key = (lambda name: name.casefold()) if WINDOWS else (lambda name: name)
        own_keys = {key(name) for name in own}
        inside = {key(entry.path.split("/")[1]) for entry in inner}
        holds_all = bool(own_keys) and own_keys <= inside
        if key(folder) in own_keys and not holds_all:
            return entries
        if key(folder) in own_keys or not holds_all:
            raise Refused("the archive holds only the folder %r, which may be a new or replaced folder of the "
                          "application as well as a folder around the release: give --layout flat to take the "
                          "folder itself, or --layout wrapped to unpack what is inside it" % folder)
    return [Entry(entry.info, entry.path.split("/", 1)[1], entry.kind) for entry in inner]


def release_plan(archive, app, per_file, layout, windows=WINDOWS):
    """The entries to unpack and the names to list: the top-level names, or
    with PER_FILE every file and link as its own name (folders are made for
    them; an empty folder of the archive is not listed). WINDOWS: for the
    Windows program."""
    entries = unwrapped(archive_entries(archive, windows), app, layout, per_file)
    for entry in entries:
        if is_reserved(entry.path.split("/")[0]):
            raise Refused("%r is the name of the application's backup or of the updater's records" % entry.path)
    if per_file:
        names = [entry.path for entry in entries if entry.kind != "folder"]
    else:
        names = union([], [entry.path.split("/")[0] for entry in entries])
    if not names:
        raise Refused("the archive holds nothing to list")
    return entries, names


LINK_TARGET_LIMIT = 4096


def entry_time(info):
    """The modification time the archive recorded for INFO: the Unix time of
    its extended-time field where it has one (Info-ZIP writes it), otherwise
    its DOS date and time, which are local time."""
    extra = info.extra
    while len(extra) >= 4:
        kind, size = struct.unpack("<HH", extra[:4])
        if kind == 0x5455 and size >= 5 and extra[4] & 1:
            return struct.unpack("<i", extra[5:9])[0]
        extra = extra[4 + size:]
    return time.mktime(info.date_time + (0, 0, -1))


def set_time(path, seconds):
    """Gives PATH (a link itself, where the system can) its modification time."""
    if os.path.islink(path):
        if os.utime not in os.supports_follow_symlinks:
            return  # the link keeps the time of its making: nothing reads it
        os.utime(path, (seconds, seconds), follow_symlinks=False)
    else:
        os.utime(path, (seconds, seconds))


def unpack(archive, entries, folder):
    """Unpacks ENTRIES into FOLDER (new and empty): files with the permission
    bits the archive recorded (zipfile drops them; a program must stay
    executable), links as links, each with the archive's modification time
    (folders once everything inside them is written). Files are created
    exclusively, so nothing is ever written through an existing entry."""
    folders = []
    for entry in entries:
        path = folder + entry.path
        try:
            if entry.kind == "folder":
                os.makedirs(path, exist_ok=True)
                folders.append(entry)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if entry.kind == "link":
                if entry.info.file_size > LINK_TARGET_LIMIT:
                    raise Refused("link %r: its target is too long" % entry.path)
                target = archive.read(entry.info).decode("utf-8", "surrogateescape")
                if not target or "\0" in target:
                    raise Refused("link %r has no usable target" % entry.path)
                os.symlink(target, path)
                set_time(path, entry_time(entry.info))
                continue
            with archive.open(entry.info) as source, open(path, "xb") as out:
                shutil.copyfileobj(source, out, 1 << 20)
            mode = (entry.info.external_attr >> 16) & 0o777
            if mode and not WINDOWS:
                os.chmod(path, mode)
            set_time(path, entry_time(entry.info))
        except (zipfile.BadZipFile, zlib.error, EOFError, RuntimeError, NotImplementedError) as error:
            # RuntimeError: an encrypted entry; NotImplementedError: an unknown compression.
            raise Refused("damaged or unreadable archive, entry %r: %s" % (entry.path, error))
    # The deepest first, so that setting a folder's time changes no folder above it.
    for entry in sorted(folders, key=lambda entry: entry.path.count("/"), reverse=True):
        set_time(folder + entry.path, entry_time(entry.info))


def flush_folder_tree(folder):
    """Puts everything below FOLDER on the disk before Corvane starts, so that
    a power cut after its renames cannot leave a name holding an empty file.

    Linux: one syncfs of FOLDER's file system. A release has many files, and
    each fsync of a file costs the file system a journal commit of its own;
    one syncfs writes them out in one pass (and also what other programs have
    written there, which is the price). os.sync would flush every file system
    of the machine. Elsewhere, or where syncfs is missing: every file and then
    every folder fsynced on its own (Windows cannot open a folder to flush
    it; its file system journals the names itself)."""
    if sys.platform.startswith("linux"):
        try:
            import ctypes
            syncfs = ctypes.CDLL(None, use_errno=True).syncfs
        except (OSError, AttributeError):
            syncfs = None
        if syncfs is not None:
            descriptor = os.open(folder, os.O_RDONLY)
            try:
                if syncfs(descriptor) != 0:
                    error = ctypes.get_errno()
                    raise OSError(error, "syncfs: " + os.strerror(error), folder)
            finally:
                os.close(descriptor)
            return
    for root, subfolders, files in os.walk(folder, topdown=False):
        for name in files:
            path = os.path.join(root, name)
            if not os.path.islink(path):
                fsync_path(path, os.O_RDWR if WINDOWS else os.O_RDONLY)
        if not WINDOWS:
            fsync_path(root, os.O_RDONLY)


def fsync_path(path, flags):
    descriptor = os.open(path, flags | getattr(os, "O_BINARY", 0))
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def fsync_folder_of(path):
    """Flushes the folder that holds PATH, so that a rename or removal in it
    reaches the disk (POSIX; Windows cannot open a folder to flush it)."""
    if not WINDOWS:
        fsync_path(os.path.dirname(path) or ".", os.O_RDONLY)


def file_sha256(stream):
    digest = hashlib.sha256()
    for block in iter(lambda: stream.read(1 << 20), b""):
        digest.update(block)
    return digest.hexdigest()


# ---------------------------------------------------------------------------
# What stands at a name


def version_of(path):
    """What stands at PATH, to tell whether two entries are the same version:
    relative path ("" for PATH itself) -> ("file", its SHA-256), ("link",
    its target), ("folder",) or ("other", its kind), for PATH and everything
    below it (a link is not followed). Empty when nothing stands there. An
    entry that cannot be read raises OSError."""
    version = {}
    if not os.path.lexists(path):
        return version
    waiting = [(path, "")]
    while waiting:
        full, relative = waiting.pop()
        mode = os.lstat(full).st_mode
        if stat.S_ISLNK(mode):
            version[relative] = ("link", os.readlink(full))
        elif stat.S_ISDIR(mode):
            version[relative] = ("folder",)
            waiting += [(os.path.join(full, name), relative + "/" + name if relative else name)
                        for name in os.listdir(full)]
        elif stat.S_ISREG(mode):
            with open(full, "rb") as f:
                version[relative] = ("file", file_sha256(f))
        else:
            version[relative] = ("other", stat.S_IFMT(mode))
    return version


def release_versions(folder, names):
    """The version of each of NAMES in the unpacked release FOLDER, taken
    before Corvane runs; for a name that cannot be read, why (a text)."""
    versions = {}
    for name in names:
        try:
            versions[name] = version_of(folder + name)
        except OSError as error:
            versions[name] = str(error)
    return versions


def check_replaced(outcome, expected, app):
    """Keeps a name "replaced now" only when the application holds the
    release's version of it (EXPECTED, from release_versions). A log line
    can say more than was done (a log written by another program, a run
    that went wrong after its line), and something may change the name
    after the run: such a name counts as not replaced, with a line that says
    why."""
    for name in list(outcome.now):
        problem = version_problem(app + name, expected.get(name), name)
        if problem:
            outcome.now.remove(name)
            outcome.not_replaced.append(name)
            outcome.reports.append("%s: the log says replaced now, but %s; counted as not replaced" % (name, problem))


def version_problem(path, wanted, name):
    """Why what stands at PATH is not WANTED, the release's version of NAME;
    None when it is."""
    if not isinstance(wanted, dict):
        return "its version in the release could not be read before the run (%s)" % wanted
    try:
        found = version_of(path)
    except OSError as error:
        return "it cannot be read in the application (%s)" % error
    if not found:
        return "nothing stands at that name in the application"
    different = sorted(entry for entry in set(found) | set(wanted) if found.get(entry) != wanted.get(entry))
    if different:
        return "the application holds another version than the release's (it differs at %s)" % (
            name + "/" + different[0] if different[0] else name)
    return None


# ---------------------------------------------------------------------------
# Folders and entries


def folder_path(path):
    """An absolute folder path with "/" separators and a trailing "/".

    Corvane joins folders and names as they stand, so every folder it is given
    must end in a separator; "/" is accepted on Windows too.
    """
    path = os.path.abspath(path).replace(os.sep, "/")
    return path if path.endswith("/") else path + "/"


def is_inside(path, folder):
    """Whether folder path PATH is FOLDER or lies below it (both end in "/")."""
    if WINDOWS:
        path, folder = path.casefold(), folder.casefold()
    return path.startswith(folder)


def is_real_folder(path):
    return os.path.isdir(path) and not os.path.islink(path)


def remove_entry(path):
    """Removes a file, a link (never what it points to) or a folder tree."""
    path = path.rstrip("/")
    if is_real_folder(path):
        shutil.rmtree(path)
    else:
        os.remove(path)


def prune_empty_folders(folder):
    """Removes the empty folders below FOLDER (the release's folders that
    were left when their files moved out). Whether FOLDER is then empty."""
    for root, subfolders, files in os.walk(folder, topdown=False):
        for name in subfolders:
            try:
                os.rmdir(os.path.join(root, name))
            except OSError:
                pass  # not empty: it holds something not replaced, which stays
    return not os.listdir(folder)


def new_entries(app, names):
    """For names that the application does not have: the topmost entry of each
    that the update creates ("newdir" for "newdir/a.so" when "newdir" is
    missing too), in first-seen order."""
    entries = []
    for name in names:
        parts = name.split("/")
        for depth in range(1, len(parts) + 1):
            path = "/".join(parts[:depth])
            if not os.path.lexists(app + path):
                entries.append(path)
                break
    return union([], entries)


def union(first, second):
    """FIRST, then the items of SECOND that are not in it yet, in order."""
    seen, out = set(), []
    for item in list(first) + list(second):
        if item not in seen:
            seen.add(item)
            out.append(item)
    return out


class WorkFolder:
    """WORK: the release in unzipTemp/, the configuration, Corvane's log; and
    what this run made there, removed again on a refusal or an error."""

    def __init__(self, path, made, chosen=False):
        self.path = path
        self.unzip = path + "unzipTemp/"
        self.made = made  # the whole folder is this run's
        self.chosen = chosen  # the updater chose where it lies (no --work)
        self.made_inside = []  # entries made in a folder that was there before
        # Set once the folder may hold the only copy of something (Corvane
        # has started, or a rollback's backup moved in): it is then never
        # removed on an error.
        self.keep = False

    def make(self, path, folder=False):
        if not os.path.lexists(path) and not self.made:
            self.made_inside.append(path)
        if folder:
            os.makedirs(path, exist_ok=True)

    def clear(self):
        """Removes what the updater puts in the work folder (the release's
        folder, the configuration, Corvane's log), nothing else: a folder
        given with --work may hold files of its own. The folder itself goes
        when this updater made it and it is then empty."""
        clear_work_folder(self.path, self.made)

    def remove_made(self):
        """Everything this run made, unless the folder must be kept; a
        failure is told, never hidden."""
        if self.keep:
            return
        for path in [self.path] if self.made else reversed(self.made_inside):
            try:
                if os.path.lexists(path.rstrip("/")):
                    remove_entry(path)
            except OSError as error:
                print("corvane-update: could not remove %s: %s" % (path, error), file=sys.stderr)
        self.made_inside = []


def clear_work_folder(path, remove_empty):
    """Removes from the work folder PATH what the updater and Corvane put
    there; PATH itself too when REMOVE_EMPTY and nothing else is left. An
    entry that cannot be removed raises OSError."""
    for entry in ("unzipTemp", "update_config.xml", "updateLog/update.log"):
        if os.path.lexists(path + entry):
            remove_entry(path + entry)
    for folder in ("updateLog", "") if remove_empty else ("updateLog",):
        if is_real_folder(path + folder) and not os.listdir(path + folder):
            os.rmdir(path + folder)


def work_folder(given, app, record, release, windows=WINDOWS):
    """The work folder. A given one must lie outside the application; its
    unzipTemp/ must be empty, or hold what is left of an earlier attempt at
    this same release in this folder (only copies of the archive's entries),
    which is unpacked afresh. Without one: a new folder beside the
    application (on its file system, so Corvane's moves are renames), or in
    the system's temporary folder when the application's parent folder is
    not writable."""
    if not given:
        parent = os.path.dirname(app.rstrip("/"))
        if parent and folder_path(parent) != app:
            try:
                return WorkFolder(folder_path(tempfile.mkdtemp(prefix="corvane-update-", dir=parent)), True, True)
            except OSError:
                pass  # not writable: the system's temporary folder will do, with copies instead of renames
        return WorkFolder(folder_path(tempfile.mkdtemp(prefix="corvane-update-")), True, True)
    path = folder_path(given)
    if is_inside(path, app) or is_inside(app, path):
        raise Refused("the work folder %s must lie outside the application folder %s" % (path, app))
    if not os.path.lexists(path):
        os.makedirs(path)
        return WorkFolder(path, True)
    if not is_real_folder(path):
        raise Refused("the work folder %s is not a folder" % path)
    work = WorkFolder(path, False)
    if is_real_folder(work.unzip) and not holds_files(work.unzip):
        shutil.rmtree(work.unzip)  # emptied by an earlier run (or by the restart); made again, as this run's
    elif os.path.lexists(work.unzip):
        same = (record is not None and record.get("work") == path and record.get("release") == release and
                record.get("kind") == "update" and not record.get("restart") and
                not (windows and record.get("state") != "done"))
        if not same:
            raise Refused("%s already holds a release, not replaced or waiting for the restart; use another "
                          "work folder, or empty that one once the system has restarted" % work.unzip)
        shutil.rmtree(work.unzip)
    return work


# ---------------------------------------------------------------------------
# Corvane's configuration and command line


class Target:
    """The Corvane program and how it is met: run natively, or the Windows
    program under Wine (WINE), which names the paths of this system by Wine's
    drive letter Z: (the root), reads the configuration in the Windows code
    page and writes its log with Windows line ends."""

    def __init__(self, program, wine=False):
        self.program, self.wine = program, wine
        self.windows = WINDOWS or wine
        # Wine's code page follows the locale; ASCII reads the same in all of
        # them, and anything else is refused (UnicodeError) rather than guessed.
        self.encoding = "ascii" if wine else PATH_ENCODING
        self.line_end = b"\r\n" if self.windows else b"\n"

    def path(self, path):
        """PATH (absolute, "/" separators) as the program names it."""
        return "Z:" + path if self.wine else path

    def command(self, config_path):
        """How the program is started with the configuration CONFIG_PATH (its
        own name for it). Wine builds the Windows command line from its
        arguments and puts one with a blank in quotes, which Corvane would
        take as part of the path; given as words, they are joined by single
        blanks, which is the path, as long as it holds no other blank."""
        if not self.wine:
            return corvane_command(self.program, config_path, self.windows)
        words = config_path.split(" ")
        if "" in words or any(c in config_path for c in '\t"'):
            raise Refused("Wine cannot pass the path %r to the program whole (two blanks in a row, a blank at "
                          "an end, a tab or a quote): give --work with a plainer path" % config_path)
        return ["wine", self.program] + words


def config_text(app_folder, work_folder, names, version="", windows=WINDOWS):
    """The text of update_config.xml.

    allow_beta="true" also makes Corvane log every configuration value,
    file_names included; the version is stored and logged only. Written in
    the program's encoding, which only the UTF-8 declaration names: the XML
    reader passes the bytes of any other encoding through as they stand.
    """
    return (
        ('<?xml version="1.0"?>\n' if windows else '<?xml version="1.0" encoding="UTF-8"?>\n') +
        "<run_config>\n"
        "  <current_run_config orbiq_app_path=%s update_temp_path=%s\n"
        "      %sallow_beta=\"true\"/>\n"
        "  <copy_config file_names=%s/>\n"
        "</run_config>\n"
    ) % (quoteattr(app_folder), quoteattr(work_folder),
         "current_version=%s " % quoteattr(version) if version else "",
         quoteattr("".join(name + ";" for name in names)))


def corvane_command(corvane, config_path, windows):
    """How Corvane is started.

    Windows: one command line, the quoted program path and then the
    configuration path unquoted, since Corvane takes everything after the
    program name as the path, blanks and quotes included. Elsewhere: the path
    as the one argument.
    """
    if windows:
        return '"%s" %s' % (corvane, config_path)
    return [corvane, config_path]


def run_corvane(target, app, work, names, version):
    """Writes the configuration, switches the log on, flushes the work folder
    (the release among it) to the disk, runs Corvane on NAMES and returns
    what its log gained, as bytes and as text."""
    config_path = work.path + "update_config.xml"
    command = target.command(target.path(config_path))
    work.make(config_path)
    # A path that the code page cannot hold is refused here (UnicodeError).
    with open(config_path, "w", encoding=target.encoding, errors="strict") as config:
        config.write(config_text(target.path(app), target.path(work.path), names, version, target.windows))
    work.make(work.path + "updateLog/", folder=True)
    log_path = work.path + "updateLog/update.log"
    work.make(log_path)
    with open(log_path, "ab"):
        pass
    log_start = os.path.getsize(log_path)
    flush_folder_tree(work.path)
    # The exit code only says that Corvane had a path (1); the log tells what
    # became of each name.
    work.keep = True
    environment = dict(os.environ)
    if target.wine:
        environment.setdefault("WINEDEBUG", "-all")  # Wine's own notes would drown the updater's lines
    subprocess.run(command, check=False, env=environment)
    with open(log_path, "rb") as log:
        log.seek(log_start)
        data = log.read()
    return data, data.decode(target.encoding, "replace")


# ---------------------------------------------------------------------------
# Waiting for the application


def process_running(pid):
    """POSIX: whether process PID still runs. A zombie has ended; only its
    parent has not collected it yet."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True  # it exists, under another user
    try:
        with open("/proc/%d/stat" % pid) as status:
            return status.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except (OSError, IndexError):
        return True  # no /proc here: kill() has answered


def wait_for_exit(pid, seconds):
    """Whether process PID has exited within SECONDS."""
    if WINDOWS:
        import ctypes
        from ctypes import wintypes
        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        kernel32.OpenProcess.restype = wintypes.HANDLE
        kernel32.OpenProcess.argtypes = (wintypes.DWORD, wintypes.BOOL, wintypes.DWORD)
        kernel32.WaitForSingleObject.argtypes = (wintypes.HANDLE, wintypes.DWORD)
        kernel32.CloseHandle.argtypes = (wintypes.HANDLE,)
        synchronize, error_invalid_parameter, wait_object_0 = 0x00100000, 87, 0
        handle = kernel32.OpenProcess(synchronize, False, pid)
        if not handle:
            # No such process (any more); another error (access denied) means
            # it exists but cannot be waited for, so it counts as running.
            return ctypes.get_last_error() == error_invalid_parameter
        try:
            return kernel32.WaitForSingleObject(handle, int(seconds * 1000)) == wait_object_0
        finally:
            kernel32.CloseHandle(handle)
    deadline = time.monotonic() + seconds
    while process_running(pid):
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.05)
    return True


# ---------------------------------------------------------------------------
# The updater's records beside the backup


class Records:
    """APP/updateTemp.json, updateTemp.log and updateTemp.kept/. The log file
    is also the run lock: it stays open and locked while the updater works
    on the application, and the system releases it when the updater ends,
    however it ends."""

    def __init__(self, app):
        self.app = app
        self.backup = app + BACKUP
        self.kept = app + KEPT
        self.record = app + RECORD
        self.log_path = app + RECORD_LOG
        self.log = None
        self.log_made = False

    def lock(self):
        self.log_made = not os.path.lexists(self.log_path)
        self.log = open(self.log_path, "ab")
        try:
            if WINDOWS:
                import msvcrt
                # A byte far past the end: the lock keeps other updaters out
                # without keeping anyone from reading the log.
                os.lseek(self.log.fileno(), 0x7FFFFFF0, os.SEEK_SET)
                msvcrt.locking(self.log.fileno(), msvcrt.LK_NBLCK, 1)
            else:
                import fcntl
                fcntl.flock(self.log.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            self.log.close()
            self.log = None
            raise Refused("another run of the updater is working on %s" % self.app)

    def release(self):
        """Unlocks; an empty log file that this run made goes again."""
        if self.log is None:
            return
        self.log.close()
        empty = os.path.getsize(self.log_path) == 0
        self.log = None
        if self.log_made and empty:
            os.remove(self.log_path)

    def read(self):
        try:
            with open(self.record, encoding="utf-8") as f:
                record = json.load(f)
            if isinstance(record, dict) and record.get("format") == 1:
                return record
            problem = "not a record of this updater"
        except FileNotFoundError:
            return None
        except (OSError, ValueError) as error:
            problem = str(error)
        print("corvane-update: %s cannot be read (%s); it is taken as absent" % (self.record, problem),
              file=sys.stderr)
        return None

    def write(self, record):
        """Replaces the record whole, or removes it for None. The new text is
        written aside and flushed, then renamed over the old one and the
        folder flushed: after a power cut the record is the old one or the
        new one, whole."""
        if record is None:
            if os.path.lexists(self.record):
                os.remove(self.record)
                fsync_folder_of(self.record)
            return
        new = self.record + ".new"
        with open(new, "w", encoding="utf-8") as f:
            json.dump(record, f, indent=1, ensure_ascii=False)
            f.flush()
            os.fsync(f.fileno())
        os.replace(new, self.record)
        fsync_folder_of(self.record)

    def stops(self, record):
        """The names whose backups are whole versions: never merged inside."""
        if record is None:
            return set()
        return set(record.get("names", [])) | set(record.get("in_backup", [])) | set(record.get("added", []))

    def merge_kept(self, record):
        """Merges updateTemp.kept/ back. The backup that this attempt made of
        an entry that an earlier attempt added goes first: it is the
        release's own version, which the application holds."""
        if record is not None:
            for entry in record.get("added", []):
                newer = self.backup + "/" + entry
                if os.path.lexists(self.app + entry) and os.path.lexists(newer):
                    remove_entry(newer)
        merge_backups(self.kept, self.backup, self.stops(record))

    def settle(self, record):
        """Puts right what a run that was cut short left: updateTemp.kept/
        goes back into updateTemp/ (the older version of a name winning), or
        is deleted when it held an earlier release's backups, which Corvane
        would have emptied. Returns the record as it now stands."""
        if os.path.lexists(self.kept):
            if record is not None and record.get("kept") == "discard":
                remove_entry(self.kept)
            else:
                self.merge_kept(record)
        if record is not None and (record.get("state") == "running" or record.get("kept")):
            if record.get("state") == "running":
                record["state"] = "interrupted"
            record["kept"] = None
            self.write(record)
        return record

    def set_aside(self):
        """Moves updateTemp/ to updateTemp.kept/; whether there was one to move."""
        if not os.path.lexists(self.backup):
            return False
        os.rename(self.backup, self.kept)
        return True

    def save_log(self, data, verdict, append, line_end=LINE_END):
        """Keeps Corvane's log of the run and the updater's verdict in
        updateTemp.log: appended for another attempt at the same release and
        for a rollback, otherwise in place of the last update's. LINE_END is
        that of Corvane's log."""
        if not append:
            self.log.truncate(0)
        lines = [line.encode(PATH_ENCODING, "replace") for line in verdict]
        self.log.write(data + line_end.join(lines) + line_end)
        self.log.flush()
        os.fsync(self.log.fileno())


def merge_backups(older, newer, stops, relative=""):
    """Moves the backup folder OLDER into NEWER. Where both hold a version of
    one name, the older one wins; a listed name (STOPS) is a whole version,
    never merged inside."""
    if not os.path.lexists(newer):
        os.rename(older, newer)
        return
    for entry in sorted(os.listdir(older)):
        name = relative + entry
        old, new = os.path.join(older, entry), os.path.join(newer, entry)
        if name not in stops and is_real_folder(old) and is_real_folder(new):
            merge_backups(old, new, stops, name + "/")
            continue
        if os.path.lexists(new):
            # The newer backup of that name holds the version that the
            # earlier attempt put in place: the release has it too.
            remove_entry(new)
        os.rename(old, new)
    os.rmdir(older)


def take_out(app, backup, entries):
    """Moves ENTRIES (added by the update) from the application into the
    backup folder. (moved, left): the entries taken out, and lines for those
    that stay."""
    moved, left = [], []
    for entry in entries:
        source, target = app + entry, backup + "/" + entry
        if not os.path.lexists(source):
            continue  # already gone
        if os.path.lexists(target):
            left.append("not taken out, the backup already holds it: %s" % entry)
            continue
        try:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            os.rename(source, target)
            moved.append(entry)
        except OSError as error:
            left.append("not taken out: %s (%s)" % (entry, error))
    return moved, left


# ---------------------------------------------------------------------------
# Names a release drops


def name_problem(name):
    """Why NAME cannot be a top-level name of the application; None when it can."""
    if (not isinstance(name, str) or name in ("", ".", "..") or any(c in name for c in "/\\;\0") or
            any(ord(c) < 32 for c in name)):
        return "not a top-level name"
    if is_reserved(name):
        return "the name of the backup or of the updater's records"
    return None


def read_manifest(path):
    """The top-level names of the installed release, one a line, from the
    file PATH (blank lines and lines beginning with "#" left out; a folder
    may end in "/"). Anything that is not a top-level name is refused."""
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeError) as error:
        raise Refused("--manifest %s cannot be read: %s" % (path, error))
    names = []
    for number, line in enumerate(lines, 1):
        name = line.strip()
        if not name or name.startswith("#"):
            continue
        name = name.rstrip("/")
        problem = name_problem(name)
        if problem:
            raise Refused("--manifest %s, line %d: %r is %s; nothing was changed" % (path, number, line, problem))
        names.append(name)
    return union([], names)


def held_names(record):
    """The top-level names of the release that the application holds after
    the run RECORD tells of, as far as the record shows them; None when it
    does not. A record of an earlier version of this updater names them only
    for an update of a whole release (its list is the release's top-level
    names)."""
    if record is None:
        return None
    if "release_names" in record:
        names = record["release_names"]
    elif record.get("kind") == "update" and not record.get("per_file"):
        names = record.get("names")
    else:
        return None
    if not isinstance(names, list):
        return None
    shown = [name for name in names if name_problem(name) is None]
    if len(shown) != len(names):
        print("corvane-update: warning: the record names entries that are not top-level names; they are left "
              "alone", file=sys.stderr)
    return shown


def dropped_entries(app, previous, held, names, windows):
    """The entries an update moves into the backup after Corvane's run: every
    name of the release that the application holds (HELD, None when unknown)
    that the new release (NAMES) lacks at its top, and what an earlier run
    meant to take out and could not (PREVIOUS's to_remove), unless the new
    release replaces it whole. Only what the application has; never a name
    that no record or manifest shows to be the release's, so that the user's
    own files stay."""
    key = (lambda name: name.casefold()) if windows else (lambda name: name)
    new = {key(name.split("/")[0]) for name in names}
    pending = previous.get("to_remove", []) if previous is not None else []
    entries = []
    for entry in list(held or []) + [entry for entry in pending if isinstance(entry, str)]:
        parts = entry.split("/")
        if (any(name_problem(part) == "not a top-level name" for part in parts) or is_reserved(parts[0]) or
                key(parts[0]) in new):
            continue
        if os.path.lexists(app + entry):
            entries.append(entry)
    return union([], entries)


# ---------------------------------------------------------------------------
# One run


class Attempt:
    """One run of Corvane on the release in WORK/unzipTemp/.

    kind          "update" or "rollback"
    release       what identifies the release: the archive's SHA-256, or a
                  rollback's own id. When the record names the same release,
                  this run is another attempt at it and keeps the backups of
                  the earlier one.
    names         the names to list (those missing from the release are left out)
    previous      the record before this run; written back when Corvane
                  changed nothing
    to_remove     entries to move from the application into the backup after
                  the run (a rollback's: what the update added)
    set_aside     whether updateTemp/ is moved aside during the run (a fresh
                  rollback has made it the release instead)
    undo          called when Corvane changed nothing, to put back what was
                  moved before the run
    work_precious whether the work folder holds the only copy of something
                  even when Corvane changed nothing (an unfinished rollback's
                  release: old versions not yet put back)
    versions      the release's version of each name (release_versions),
                  taken when it was unpacked; None: taken just before the run
    """

    def __init__(self, kind, release, names, previous, to_remove=(), set_aside=True, undo=None,
                 work_precious=False, extra=None, versions=None):
        self.kind, self.release, self.names, self.previous = kind, release, names, previous
        self.to_remove, self.set_aside, self.undo = list(to_remove), set_aside, undo
        self.work_precious, self.extra, self.versions = work_precious, extra or {}, versions

    def is_retry(self):
        return self.previous is not None and self.previous.get("release") == self.release


def record_of(attempt, app, work, present):
    """The record written before Corvane starts: what this attempt lists,
    which names have an old version that goes into the backup, and which
    entries it would add; after an earlier attempt at the same release, the
    union of both (an entry that the first added has no old version)."""
    in_app = [name for name in present if os.path.lexists(app + name)]
    in_app_set = set(in_app)
    # The entries taken out after the run are named among the backed-up ones
    # before it starts: a run cut short during the take-out leaves each in
    # the application or in the backup, and a rollback lists them either way
    # (one that the backup lacks is left out of its list).
    in_app += [entry for entry in attempt.to_remove if os.path.lexists(app + entry) and entry not in in_app_set]
    record = {
        "format": 1, "kind": attempt.kind, "release": attempt.release, "state": "running",
        "work": work.path, "work_made": work.made, "work_chosen": work.chosen, "names": list(present),
        "in_backup": in_app, "added": new_entries(app, [name for name in present if name not in in_app_set]),
        "to_remove": attempt.to_remove, "removed": [], "restart": False, "kept": None,
    }
    record.update(carried_work_folders(attempt.previous, work.path))
    record.update(attempt.extra)
    if attempt.is_retry():
        previous = attempt.previous
        earlier_added = previous.get("added", [])
        earlier_added_set = set(earlier_added)
        record["in_backup"] = union(previous.get("in_backup", []),
                                    [name for name in in_app if name not in earlier_added_set])
        in_backup = set(record["in_backup"])
        record["added"] = [entry for entry in union(earlier_added, record["added"]) if entry not in in_backup]
        record["names"] = union(previous.get("names", []), present)
        record["removed"] = list(previous.get("removed", []))
        record["restart"] = bool(previous.get("restart"))
    return record


def carried_work_folders(previous, work_path):
    """The work folders of earlier runs that are not this run's (WORK_PATH):
    the record's leftovers and the earlier run's own work folder. They hold
    copies of an archive's entries or an emptied backup, and go once this run
    has changed something; of a folder given with --work (GIVEN) only what
    the updater put there goes, and the folder itself when the updater made
    it (GIVEN_MADE) and it is then empty. Those that may hold a file queued
    for the restart (WAITING) stay until nothing waits in them. The record's
    keys of these lists, with their folders."""
    carried = {"leftovers": [], "given": [], "given_made": [], "waiting": []}
    if previous is None:
        return carried
    for key in carried:
        carried[key] = list(previous.get(key, []))
    work = previous.get("work")
    if work:
        carried["leftovers"] = union(carried["leftovers"], [work])
        if not previous.get("work_chosen"):
            carried["given"] = union(carried["given"], [work])
            if previous.get("work_made"):
                carried["given_made"] = union(carried["given_made"], [work])
        if previous.get("restart"):
            carried["waiting"] = union(carried["waiting"], [work])
    carried["leftovers"] = [folder for folder in carried["leftovers"] if folder != work_path]
    for key in ("given", "given_made", "waiting"):
        carried[key] = [folder for folder in carried[key] if folder in carried["leftovers"]]
    return carried


def holds_files(folder):
    """Whether anything but folders lies below FOLDER (a link to a folder
    counts as a file: it is an entry of the release)."""
    for root, folders, files in os.walk(folder):
        if files or any(os.path.islink(os.path.join(root, name)) for name in folders):
            return True
    return False


def remove_leftovers(record):
    """Removes the earlier work folders that the record names and that no
    longer hold anything queued for the restart; a folder that cannot be
    removed stays named, and is told."""
    kept = []
    given = record.get("given", [])
    for folder in record.get("leftovers", []):
        if folder in record.get("waiting", []) and holds_files(folder + "unzipTemp"):
            kept.append(folder)
            continue
        try:
            if folder in given:
                clear_work_folder(folder, folder in record.get("given_made", []))
            elif os.path.lexists(folder.rstrip("/")):
                remove_entry(folder)
        except OSError as error:
            print("corvane-update: could not remove %s: %s" % (folder, error), file=sys.stderr)
            kept.append(folder)
    record["leftovers"] = kept
    for key in ("given", "given_made", "waiting"):
        record[key] = [folder for folder in record.get(key, []) if folder in kept]


def run_attempt(attempt, app, work, target, records, version=""):
    """Runs Corvane once, with the bookkeeping around it. Returns (outcome,
    record, notes, log data); the record is None when Corvane changed nothing."""
    present = [name for name in attempt.names if os.path.lexists(work.unzip + name)]
    record = record_of(attempt, app, work, present)
    if attempt.set_aside:
        try:
            if records.set_aside():
                record["kept"] = "older" if attempt.is_retry() else "discard"
        except OSError as error:
            if attempt.is_retry():
                raise Refused("%s cannot be moved aside (%s): this attempt would lose the backups of the "
                              "earlier one; nothing was changed" % (records.backup, error))
            print("corvane-update: warning: %s cannot be moved aside (%s); Corvane empties it itself" %
                  (records.backup, error), file=sys.stderr)

    def changed_nothing():
        if record["kept"]:
            records.merge_kept(attempt.previous)
        if attempt.undo:
            attempt.undo()
        work.keep = attempt.work_precious
        records.write(attempt.previous)

    # What a name must hold once it is replaced, to check the log's word.
    versions = attempt.versions if attempt.versions is not None else release_versions(work.unzip, present)
    try:
        records.write(record)
        data, text = run_corvane(target, app, work, present, version)
    except (OSError, UnicodeError, Refused) as error:
        changed_nothing()
        raise Refused("Corvane could not be started: %s" % error)
    outcome = read_outcome(text, present, target.path(work.unzip), target.path(app))
    if outcome.whole_run:
        changed_nothing()
        return outcome, None, [], data
    check_replaced(outcome, versions, app)

    if record["kept"] == "older":
        records.merge_kept(record)
    elif record["kept"] == "discard":
        remove_entry(records.kept)  # an earlier release's backups, which Corvane would have emptied
    record["kept"] = None
    removed, notes = take_out(app, records.backup, attempt.to_remove)
    record["added"] = [entry for entry in record["added"] if os.path.lexists(app + entry)]
    record["in_backup"] = union(record["in_backup"], removed)
    record["removed"] = union(record["removed"], removed)
    taken_out = set(removed)
    record["to_remove"] = [entry for entry in attempt.to_remove if entry not in taken_out]
    record["restart"] = record["restart"] or bool(outcome.restart)
    record["result"] = 2 if notes else outcome.code()
    record["state"] = "done"
    records.write(record)
    return outcome, record, notes, data


def conclude(kind, retry, outcome, record, notes, data, work, records, target):
    """Tells what the run did (a one-line summary, after a line for every name
    not replaced now), keeps its log beside the backup and tidies the work
    folder. The exit code."""
    code = 2 if record is None else record["result"]
    if code == 0 and not prune_empty_folders(work.unzip):
        code = record["result"] = 2
        notes.append("%s still holds entries that no listed name reached; the work folder is kept" % work.unzip)
    summary = outcome.summary()
    if kind == "rollback" and record is not None:
        count = len(record["removed"])
        summary += "; %d added entr%s taken out" % (count, "y" if count == 1 else "ies")
    elif record is not None and record["removed"]:
        count = len(record["removed"])
        summary += "; %d entr%s that the release drops moved into %s/" % (
            count, "y" if count == 1 else "ies", BACKUP)
    details = outcome.reports + notes
    if not outcome.ran:
        details.append("Corvane wrote no log for this run: nothing is known of it")
    if outcome.whole_run:
        details.append("Corvane changed nothing: " + outcome.whole_run)
    for line in details:
        print("  " + line)
    for line in outcome.not_put_back:
        print("corvane-update: WARNING: %s -- keep %s/ until it is back in place" % (line, records.backup),
              file=sys.stderr)
    for line in outcome.warnings:
        print("corvane-update: warning: " + line, file=sys.stderr)
    print("corvane-update: %s%s (log: %s)" % ("rollback: " if kind == "rollback" else "", summary, records.log_path))

    if record is None:
        work.remove_made()  # Corvane changed nothing; the release is whole in its archive
    else:
        remove_leftovers(record)
        if code == 0:
            # A folder that cannot be removed stays named in the record as its
            # work folder, and the next run removes it.
            try:
                if work.chosen:
                    if os.path.lexists(work.path.rstrip("/")):
                        remove_entry(work.path)
                else:
                    work.clear()
            except OSError as error:
                print("corvane-update: could not empty %s: %s" % (work.path, error), file=sys.stderr)
        elif code == 3:
            print("corvane-update: some files are replaced at the next restart; keep %s until then" % work.path)
        else:
            print(failure_advice(kind, work.unzip, any(line.endswith(LINK_REASON) for line in outcome.reports)))
    verdict = ["corvane-update: %s: %s; exit code %d" % (kind, summary, code)]
    records.save_log(data, verdict + ["corvane-update:   " + line for line in details],
                     append=retry or record is None or kind == "rollback", line_end=target.line_end)
    if record is not None:
        records.write(record)
    return code


def failure_advice(kind, unzip, links):
    """What to do when not every name was replaced: the versions wait in
    UNZIP; LINKS, whether some of them are links that this program cannot
    move, which no retry changes."""
    if kind == "rollback":
        what = "not everything was put back; the old versions not put back are still in %s" % unzip
        again = "the rollback"
    else:
        what = "not everything was replaced; the new versions are still in %s" % unzip
        again = "the same update"
    if links:
        return ("corvane-update: %s; some are links, which this Corvane program cannot move (the Windows "
                "program makes no links): run %s again with the Linux program" % (what, again))
    return "corvane-update: %s; close what holds them and run %s again" % (what, again)


def after_failure(error, work):
    """An error of the updater itself. Before Corvane started: what this run
    made goes again and the error is raised on (exit code 1). After: the
    work folder stays, and the exit code is 2."""
    if work is None or not work.keep:
        if work is not None:
            work.remove_made()
        raise error
    if not isinstance(error, Exception):
        raise error  # an interruption: the next run puts the records right
    print("corvane-update: %s: %s; the work folder %s is kept" % (type(error).__name__, error, work.path),
          file=sys.stderr)
    return 2


# ---------------------------------------------------------------------------
# Update and rollback


def find_corvane(args):
    """The program to run, as a Target: --corvane, or corvane on the PATH."""
    given = args.corvane
    path = given or shutil.which("corvane")
    if not path or not os.path.isfile(path):
        raise Refused("Corvane not found%s: give --corvane PROGRAM" % (" at " + given if given else ""))
    if args.wine and not shutil.which("wine"):
        raise Refused("--wine: no wine program on the PATH")
    return Target(os.path.abspath(path), wine=args.wine)


def application_folder(path):
    app = folder_path(path)
    if not os.path.isdir(app):
        raise Refused("no application folder: %s" % path)
    return app


def wait_for_application(args, what):
    if args.wait_pid and not wait_for_exit(args.wait_pid, args.wait_seconds):
        raise Refused("the application's process %d is still running after %g seconds; nothing was changed: "
                      "close it and run the %s again" % (args.wait_pid, args.wait_seconds, what))


def update(args):
    app = application_folder(args.paths[1])
    target = find_corvane(args)
    manifest = read_manifest(args.manifest) if args.manifest else None
    try:
        stream = open(args.paths[0], "rb")
    except OSError as error:
        raise Refused("the archive cannot be read: %s" % error)
    with stream:
        # The checksum comes from the same open file that is unpacked.
        digest = file_sha256(stream)
        if args.sha256 and digest != args.sha256.lower():
            raise Refused("the archive's SHA-256 is %s, not %s; nothing was changed" % (digest, args.sha256.lower()))
        stream.seek(0)
        try:
            archive = zipfile.ZipFile(stream)
        except (zipfile.BadZipFile, OSError) as error:
            raise Refused("not a readable zip archive: %s" % error)
        with archive:
            entries, names = release_plan(archive, app, args.per_file, args.layout, target.windows)
            refuse_links(target, [(app, "the application", is_reserved)])
            records = Records(app)
            records.lock()
            work = None
            try:
                previous = records.read()
                if previous is not None and unfinished_rollback(previous):
                    raise Refused("the last rollback did not put everything back: the old versions it left wait "
                                  "in %sunzipTemp/; run --rollback again to finish it, or delete that folder to "
                                  "give them up" % previous["work"])
                work = work_folder(args.work, app, previous, digest, target.windows)
                work.make(work.unzip, folder=True)
                unpack(archive, entries, work.unzip)
                versions = release_versions(work.unzip, names)
                wait_for_application(args, "update")
                previous = records.settle(previous)
                retry = previous is not None and previous.get("release") == digest
                if manifest is not None:
                    before = manifest
                elif retry:
                    before = previous.get("prior_release_names")
                else:
                    before = held_names(previous)
                tops = union([], [name.split("/")[0] for name in names])
                # A patch holds only what changed: what it lacks is not dropped.
                after = (union(before, tops) if before is not None else None) if args.per_file else tops
                dropped = dropped_entries(app, previous, None if args.per_file else before, names, target.windows)
                attempt = Attempt("update", digest, names, previous, to_remove=dropped,
                                  extra={"archive": os.path.abspath(args.paths[0]), "per_file": args.per_file,
                                         "release_names": after, "prior_release_names": before},
                                  versions=versions)
                outcome, record, notes, data = run_attempt(attempt, app, work, target, records, args.version)
                return conclude("update", attempt.is_retry(), outcome, record, notes, data, work, records, target)
            except BaseException as error:
                return after_failure(error, work)
            finally:
                records.release()


def unfinished_rollback(record):
    """Whether the record is of a rollback that did not put everything back
    and whose release (the old versions left) still waits in its work folder."""
    return (record.get("kind") == "rollback" and record.get("result") not in (0, 3) and
            bool(record.get("work")) and os.path.isdir(record["work"] + "unzipTemp"))


def rollback(args):
    app = application_folder(args.paths[0])
    target = find_corvane(args)
    records = Records(app)
    records.lock()
    work = None
    try:
        wait_for_application(args, "rollback")
        record = records.settle(records.read())
        if record is None:
            raise Refused("nothing to roll back: %s has no record of an update (%s)" % (app, RECORD))
        release = record["work"] + "unzipTemp" if unfinished_rollback(record) else records.backup
        refuse_links(target, [(app, "the application", is_reserved), (release, "the backup to put back", None)])
        if unfinished_rollback(record):
            work = WorkFolder(record["work"], record.get("work_made", False), record.get("work_chosen", False))
            work.keep = True
            attempt = Attempt("rollback", record["release"], record["names"], record,
                              to_remove=record.get("to_remove", []), work_precious=True,
                              extra={key: record.get(key) for key in ("previous", "release_names",
                                                                      "prior_release_names")})
        else:
            attempt, work = new_rollback(args, app, records, record, target.windows)
        outcome, new_record, notes, data = run_attempt(attempt, app, work, target, records)
        return conclude("rollback", attempt.is_retry(), outcome, new_record, notes, data, work, records, target)
    except BaseException as error:
        return after_failure(error, work)
    finally:
        records.release()


def new_rollback(args, app, records, record, windows):
    """Makes the backup the release of a rollback: moves updateTemp/ into a
    work folder as its unzipTemp/. (attempt, work folder)."""
    base = record
    if record.get("kind") == "rollback" and record.get("state") != "done":
        base = record.get("previous")  # that rollback was cut short before it moved the backup
        if base is None:
            raise Refused("nothing to roll back: the record of the last update is gone")
    # Corvane's own folders are never a name of the application.
    names, to_remove = [[entry for entry in base.get(key, []) if not is_reserved(entry.split("/")[0])]
                        for key in ("in_backup", "added")]
    if not os.path.lexists(records.backup) and not to_remove:
        raise Refused("nothing to roll back: %s holds no backup" % app)
    work = work_folder(args.work, app, None, None, windows)
    try:
        if os.path.lexists(records.backup) and os.stat(records.backup).st_dev != os.stat(work.path).st_dev:
            raise Refused("the work folder %s is on another file system than the application; give --work "
                          "with a folder on the application's file system" % work.path)
        release = "rollback-" + uuid.uuid4().hex
        previous = dict(base)
        previous.pop("previous", None)
        # Recorded before the backup moves, so that a run cut short in between
        # still knows where it went.
        carried = carried_work_folders(record, work.path)
        # The application goes back to the release it held before that update.
        extra = {"previous": previous, "release_names": base.get("prior_release_names"),
                 "prior_release_names": held_names(base)}
        records.write(dict({"format": 1, "kind": "rollback", "release": release, "state": "running",
                            "work": work.path, "work_made": work.made, "work_chosen": work.chosen, "names": names,
                            "in_backup": [], "added": [], "to_remove": to_remove, "kept": None},
                           **carried, **extra))
        if os.path.lexists(records.backup):
            os.rename(records.backup, work.unzip)
            work.keep = True
        else:
            work.make(work.unzip, folder=True)
    except BaseException:
        records.write(record)
        work.remove_made()
        raise

    def put_backup_back():
        if os.path.lexists(work.unzip) and not os.path.lexists(records.backup):
            os.rename(work.unzip, records.backup)

    attempt = Attempt("rollback", release, names, record, to_remove=to_remove, set_aside=False,
                      undo=put_backup_back, extra=extra)
    return attempt, work


# ---------------------------------------------------------------------------
# The command line


class Parser(argparse.ArgumentParser):
    def error(self, message):
        # Exit code 1, "refused, nothing changed" (argparse's own is 2, which
        # here would mean "not replaced").
        self.print_usage(sys.stderr)
        print("%s: error: %s" % (self.prog, message), file=sys.stderr)
        sys.exit(1)


def make_parser():
    """The command line's parser: every option with its help."""
    parser = Parser(
        prog=PROG, usage="%(prog)s [options] RELEASE.zip APP\n       %(prog)s [options] --rollback APP",
        description="Update an installed application from a release zip with Corvane, or roll the last "
                    "update back.",
        epilog="Exit code: 0 every name replaced now; 3 some wait for the next restart; 2 something not "
               "replaced (the work folder is kept: run the same command again); 1 refused, nothing changed. "
               "More in corvane-update(1).")
    parser.add_argument("paths", nargs="+", metavar="RELEASE.zip APP", help="the release archive and the "
                        "installed application's folder; with --rollback the application's folder alone")
    parser.add_argument("--corvane", metavar="PROGRAM", help="the Corvane program (corvane.exe on Windows, "
                        "and with --wine); default: corvane found on the PATH")
    parser.add_argument("--wine", action="store_true", help="PROGRAM is the Windows corvane.exe: run it under "
                        "Wine (the wine program on the PATH, in the WINEPREFIX of the environment), with the "
                        "paths it is given in Wine's form (Z: is the root of the file system)")
    parser.add_argument("--work", help="the folder to unpack into (default: a new folder beside APP)")
    parser.add_argument("--version", default="", help="the release's version, stored in the configuration")
    parser.add_argument("--per-file", action="store_true", help="list every file of the archive as its own "
                        "name, for a release that holds only the files that changed (default: the archive's "
                        "top-level files and folders replace those of the application whole)")
    parser.add_argument("--layout", choices=("auto", "wrapped", "flat"), default="auto",
                        help="whether the archive's one top-level folder wraps the release: 'wrapped' unpacks "
                        "what is inside it, 'flat' takes the archive as it stands, 'auto' (default) guesses "
                        "only where one reading is possible: it takes a --per-file patch as it stands, "
                        "unwraps a whole release only when the application lacks that folder and has no "
                        "top-level name outside it, takes a folder of the application's own as it stands, "
                        "and refuses anything else")
    parser.add_argument("--manifest", metavar="FILE", help="the top-level names of the installed release, one a "
                        "line, for an application that this updater did not install: those the new release "
                        "lacks are moved into APP/updateTemp/ (default: the names of the last update's record; "
                        "without either, nothing is moved)")
    parser.add_argument("--sha256", metavar="HEX", help="the archive's SHA-256; any other archive is refused "
                        "before anything is unpacked")
    parser.add_argument("--wait-pid", type=int, metavar="PID", help="wait until the application's process "
                        "PID has exited before anything is changed")
    parser.add_argument("--wait-seconds", type=float, default=60, metavar="S", help="how long --wait-pid "
                        "waits (default 60)")
    parser.add_argument("--rollback", action="store_true", help="put back the old versions that the last "
                        "update left in APP/updateTemp/ and take out what it added")
    return parser


def parse(argv):
    parser = make_parser()
    args = parser.parse_args(argv)
    if len(args.paths) != (1 if args.rollback else 2):
        parser.error("give the application's folder alone with --rollback" if args.rollback else
                     "give the release archive and the application's folder")
    if args.wine and not args.corvane:
        parser.error("--wine runs the Windows program that --corvane names")
    if args.rollback and (args.per_file or args.sha256 or args.version or args.layout != "auto" or args.manifest):
        parser.error("--per-file, --layout, --sha256, --version and --manifest belong to an update, not to "
                     "--rollback")
    if args.per_file and args.manifest:
        parser.error("--manifest names what a whole release may drop; a --per-file patch drops nothing")
    if args.sha256 is not None and not re.fullmatch(r"[0-9a-fA-F]{64}", args.sha256):
        parser.error("--sha256 takes the 64 hexadecimal digits of the archive's SHA-256")
    if args.wait_pid is not None and args.wait_pid <= 0:
        parser.error("--wait-pid takes a process id greater than 0")
    if args.wait_seconds < 0:
        parser.error("--wait-seconds cannot be negative")
    return args


def main(argv=None):
    args = parse(argv)
    try:
        return (rollback if args.rollback else update)(args)
    except (Refused, OSError, UnicodeError) as error:
        print("corvane-update: %s" % error, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
