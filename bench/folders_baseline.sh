#!/usr/bin/env bash
# The baseline of the folders workload across file systems, as a shell would
# do the update: for every name of <root>/names.txt, mv of the old folder into
# the backup folder (a rename: same file system), cp -a of the new folder into
# place (a copy: the release is on another file system), rm -rf of the new
# folder's source; then, as the program does before it ends, sync -f (one
# syncfs) of the application's file system, so that the copies are on the
# disk.
#
#   folders_baseline.sh <root> [<tmp>]    (<tmp> as given to generate; <root>/tmp by default)
set -eu
root=$1
release="${2:-$root/tmp}/unzipTemp"
mkdir -p "$root/app/updateTemp"
while IFS= read -r name; do
  [ -n "$name" ] || continue
  mv "$root/app/$name" "$root/app/updateTemp/$name"
  cp -a "$release/$name" "$root/app/$name"
  rm -rf "${release:?}/$name"
done < "$root/names.txt"
sync -f "$root/app"
