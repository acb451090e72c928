#!/usr/bin/env bash
# A neighbour on the application's disk, as a download or an indexer would
# be: writes about <rate> MiB a second into <file>, 1/5 of it every fifth of
# a second, going round a region of 512 MiB so that the file stays bounded.
# Runs until it is stopped.
#
#   neighbour_writer.sh <file> [<rate MiB/s>, default 25]
set -eu
file=$1
chunk=$(( ${2:-25} / 5 ))
slots=$(( 512 / chunk ))
i=0
while :; do
  dd if=/dev/zero of="$file" bs=1M count="$chunk" seek=$(( (i % slots) * chunk )) conv=notrunc status=none
  i=$((i + 1))
  sleep 0.2
done
