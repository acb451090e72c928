#!/usr/bin/env bash
# The baseline of the folders workload, as a shell would do the update: for
# every name of <root>/names.txt, mv of the old folder into the backup folder,
# cp -a of the new folder into place, rm -rf of the new folder's source.
#
#   folders_baseline.sh <root>
set -eu
root=$1
mkdir -p "$root/app/updateTemp"
while IFS= read -r name; do
  [ -n "$name" ] || continue
  mv "$root/app/$name" "$root/app/updateTemp/$name"
  cp -a "$root/tmp/unzipTemp/$name" "$root/app/$name"
  rm -rf "$root/tmp/unzipTemp/$name"
done < "$root/names.txt"
