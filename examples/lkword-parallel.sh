#!/bin/sh
# Extracts every file below FOLDER into one JSON Lines file, one record per
# file, using all processors of this machine.
#
#   lkword-parallel.sh [-j N] FOLDER OUTPUT.jsonl
#
# With GNU parallel installed, parallel starts lkword on batches of files (-X)
# and keeps the batches in order (-k); the same command line spreads over
# several machines with parallel's --sshlogin. Without it, lkword's own
# worker threads do the job (-r -j N). Failed files are records with an
# "error" and "error_kind"; the exit status is lkword's (1 when any failed).
# LKWORD names the binary (default: lkword on PATH).
set -eu
jobs=$(nproc 2>/dev/null || echo 2)
if [ "${1:-}" = "-j" ]; then
  jobs=$2
  shift 2
fi
if [ $# -ne 2 ]; then
  echo "usage: lkword-parallel.sh [-j N] FOLDER OUTPUT.jsonl" >&2
  exit 2
fi
folder=$1
output=$2
lkword=${LKWORD:-lkword}

if command -v parallel >/dev/null 2>&1; then
  # One thread per lkword process: parallel runs the processes side by side.
  find "$folder" -type f -print0 | LC_ALL=C sort -z |
    parallel -0 -k -X -j "$jobs" "$lkword" --json -q -j1 -- >"$output"
else
  "$lkword" --json -q -r -j "$jobs" -- "$folder" >"$output"
fi
