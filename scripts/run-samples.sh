#!/usr/bin/env bash
# Prints the text and metadata of every bundled sample document, with a
# header line per file.
# usage: scripts/run-samples.sh LKWORD [SAMPLES_DIR]
set -uo pipefail

tool=${1:?usage: run-samples.sh LKWORD [SAMPLES_DIR]}
dir=${2:-testdata/samples}
[ -x "$tool" ] || { echo "run-samples: $tool is not an executable (build first)" >&2; exit 1; }

status=0
count=0
for f in "$dir"/*; do
  [ -f "$f" ] || continue
  count=$((count + 1))
  printf '==> %s <==\n' "$f"
  "$tool" --metadata -- "$f" || status=1
  echo
done
if [ "$count" -eq 0 ]; then
  echo "run-samples: no sample documents in $dir" >&2
  exit 1
fi
exit $status
