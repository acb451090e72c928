#!/usr/bin/env bash
# The baseline of the files workload across file systems, as a shell would
# do the update in bulk: mv of every old file of <root>/names.txt into the
# backup folder (renames: same file system), cp -a of every new file into
# place (copies: the release is on another file system), rm of the sources,
# each command given all the names at once; then, as the program does
# before it deletes the sources, sync -f (one syncfs) of the application's
# file system, so that the copies are on the disk.
#
#   files_baseline.sh <root> [<tmp>]    (<tmp> as given to generate; <root>/tmp by default)
set -eu
root=$1
release="${2:-$root/tmp}/unzipTemp"
mkdir -p "$root/app/updateTemp"
(cd "$root/app" && xargs -d '\n' mv -t updateTemp/ <"$root/names.txt")
(cd "$release" && xargs -d '\n' cp -a -t "$root/app/" <"$root/names.txt")
sync -f "$root/app"
(cd "$release" && xargs -d '\n' rm -f <"$root/names.txt")
