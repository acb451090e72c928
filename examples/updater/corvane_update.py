#!/usr/bin/env python3
"""A reference updater for Corvane: copy it into your application and adapt it.

It takes a release archive (a zip whose top-level entries are the files and
folders of the application that the release replaces) and the installed
application folder, then:

  1. unpacks the release into WORK/unzipTemp/ (WORK is a new temporary folder
     unless --work names one; it must not hold an earlier release),
  2. writes WORK/update_config.xml, listing the archive's top-level names,
  3. creates WORK/updateLog/update.log, which switches Corvane's log on,
  4. starts Corvane with the configuration's path and waits for it,
  5. prints the log lines of this run and tells whether every name was
     replaced now, waits for the next restart, or was not replaced; removes
     its own temporary folder when every name was replaced now.

Close the application before step 4: Corvane cannot move a file that is in
use (Windows hands it to the next restart; Linux leaves it in place). Keep
WORK until the next restart of the system when a line says "at restart": the
new file waits there until the system moves it.

Python 3 standard library only. Exit code: 0 when every name was replaced
now, 3 when some wait for the restart, 2 when something was not replaced
(or the configuration could not be loaded), 1 for a refused archive or
arguments.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from xml.sax.saxutils import quoteattr

# Corvane takes paths as bytes: on Windows in the system's code page (the
# "ANSI" one), elsewhere as the file system's bytes (UTF-8 here).
WINDOWS = os.name == "nt"
PATH_ENCODING = "mbcs" if WINDOWS else "utf-8"

# Outcome lines of Corvane's log that tell a name waits for the restart or was
# not replaced; "Copy file: " and "Copy folder: " tell it was replaced now.
AT_RESTART = ("Copy file at restart: ",)
NOT_REPLACED = ("Copy file failed: ", "Copy folder failed: ", "Backup failed, not replaced: ",
                "Folder in use, not replaced: ", "Name refused, it leads outside the application folder: ",
                "Name refused, it passes through a link: ", "Name refused, source and target are the same entry: ",
                "Old version not put back, it is in: ", "Partial copy not removed: ",
                "Load config file failed.", "Another run is updating this application, nothing changed: ",
                "Configuration refused, this entry holds the release, the configuration or the log: ",
                "Configuration refused, the release holds the application folder: ")
# Lines about the run that leave every name's outcome to its own line.
NOTICES = ("Run lock not taken, going on: ", "Backup folder not emptied: ")


class RefusedArchive(Exception):
    pass


def folder_path(path):
    """An absolute folder path with "/" separators and a trailing "/".

    Corvane joins folders and names as they stand, so every folder it is given
    must end in a separator; "/" is accepted on Windows too.
    """
    path = os.path.abspath(path).replace(os.sep, "/")
    return path if path.endswith("/") else path + "/"


def top_level_names(archive):
    """The archive's top-level names, in first-seen order.

    Refuses entries that would land outside the unpack folder (absolute paths,
    drive letters, "." or ".."), names that the configuration's list cannot
    hold (";" ends a name there) and Corvane's own backup folder.
    """
    names = []
    for entry in archive.namelist():
        parts = entry.replace("\\", "/").split("/")
        if not parts[0] or ":" in parts[0] or "." in parts or ".." in parts:
            raise RefusedArchive("entry outside the release: %r" % entry)
        if parts[0] == "updateTemp":
            raise RefusedArchive("updateTemp is the application's backup folder: %r" % entry)
        if ";" in entry:
            raise RefusedArchive("a name with ';' cannot be listed: %r" % entry)
        if parts[0] and parts[0] not in names:
            names.append(parts[0])
    if not names:
        raise RefusedArchive("the archive is empty")
    return names


def restore_permissions(archive, folder):
    """Gives unpacked files the permission bits the archive recorded for them
    (zipfile drops them), so that an updated program stays executable."""
    if WINDOWS:
        return
    for info in archive.infolist():
        mode = (info.external_attr >> 16) & 0o777
        if mode and not info.is_dir():
            os.chmod(os.path.join(folder, info.filename), mode)


def config_text(app_folder, work_folder, names, version=""):
    """The text of update_config.xml.

    allow_beta="true" also makes Corvane log every configuration value,
    file_names included; the version is stored and logged only. Written in
    PATH_ENCODING, which only the UTF-8 declaration names: the XML reader
    passes the bytes of any other encoding through as they stand.
    """
    return (
        ('<?xml version="1.0"?>\n' if WINDOWS else '<?xml version="1.0" encoding="UTF-8"?>\n') +
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


def run_update(release_zip, app_folder, corvane, work=None, version=""):
    """Unpacks, configures and runs one update. The log lines of the run."""
    app = folder_path(app_folder)
    if not os.path.isdir(app):
        raise RefusedArchive("no application folder: %s" % app_folder)
    work = folder_path(work or tempfile.mkdtemp(prefix="corvane-update-"))
    unzip = work + "unzipTemp/"
    if os.path.exists(unzip):
        raise RefusedArchive("%s already holds a release" % unzip)
    with zipfile.ZipFile(release_zip) as archive:
        names = top_level_names(archive)
        archive.extractall(unzip)
        restore_permissions(archive, unzip)

    config_path = work + "update_config.xml"
    # A path that the code page cannot hold is refused here (UnicodeError).
    with open(config_path, "w", encoding=PATH_ENCODING, errors="strict") as config:
        config.write(config_text(app, work, names, version))
    log_path = work + "updateLog/update.log"
    os.makedirs(os.path.dirname(log_path), exist_ok=True)
    with open(log_path, "ab"):
        pass
    log_start = os.path.getsize(log_path)

    # The exit code only says that Corvane had a path (1); the log tells what
    # became of each name.
    subprocess.run(corvane_command(corvane, config_path, WINDOWS), check=False)

    with open(log_path, "rb") as log:
        log.seek(log_start)
        text = log.read().decode(PATH_ENCODING, errors="replace")
    return work, [line.rstrip("\r") for line in text.split("\n") if line.strip()]


def outcome_text(line):
    """The log line's text behind the elapsed-time prefix ("0m 00.01s: ")."""
    head, colon, rest = line.partition("s: ")
    return rest if colon and head.strip()[:1].isdigit() else line


def summary(lines):
    """0 all replaced now, 3 some wait for the restart, 2 something not
    replaced or no log written."""
    texts = [outcome_text(line) for line in lines]
    if not any(text.startswith("Run param is: ") for text in texts):
        return 2
    if any(text.startswith(NOT_REPLACED) for text in texts):
        return 2
    if any(text.startswith(AT_RESTART) for text in texts):
        return 3
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="Update an installed application from a release zip with Corvane.")
    parser.add_argument("release", help="the release archive (zip)")
    parser.add_argument("app", help="the installed application's folder")
    parser.add_argument("--corvane", required=True, help="the Corvane program (corvane.exe on Windows)")
    parser.add_argument("--work", help="an empty folder to unpack into (default: a new temporary folder)")
    parser.add_argument("--version", default="", help="the release's version, stored in the configuration")
    args = parser.parse_args(argv)
    try:
        work, lines = run_update(args.release, args.app, os.path.abspath(args.corvane), args.work, args.version)
    except (RefusedArchive, zipfile.BadZipFile, OSError, UnicodeError) as error:
        print("corvane_update: %s" % error, file=sys.stderr)
        return 1
    for line in lines:
        print(line)
    result = summary(lines)
    if result == 0 and not args.work:
        # Everything is in place: the folder holds only the emptied release,
        # the configuration and the log, which was printed above.
        shutil.rmtree(work, ignore_errors=True)
    elif result == 3:
        print("corvane_update: some files are replaced at the next restart; keep %s until then" % work)
    elif result == 2 and not lines:
        print("corvane_update: Corvane wrote no log; nothing is known of the update", file=sys.stderr)
    elif result == 2:
        print("corvane_update: not everything was replaced; the new files are still in %sunzipTemp/" % work)
    return result


if __name__ == "__main__":
    sys.exit(main())
