#!/usr/bin/env bash
# textscore's extraction command: writes the plain text of IN to OUT and, when
# META is given, the metadata object of `lkword --json` to META. Fails when
# lkword reports an error for IN. IN.password, when present, is the password.
# usage: LKWORD=path/to/lkword scripts/extract-for-score.sh IN OUT [META]
set -euo pipefail

in=$1 out=$2 meta=${3:-}
# An encrypted corpus document keeps its user password beside it.
password=()
if [ -f "$in.password" ]; then
  password=("--password=$(cat "$in.password")")
fi
"${LKWORD:?set LKWORD to the lkword binary}" --json --accept-partial "${password[@]}" -- "$in" | python3 -c '
import json, sys
record = json.loads(sys.stdin.readline())
with open(sys.argv[1], "w", encoding="utf-8") as f:
    f.write(record["text"])
if sys.argv[2]:
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        json.dump(record["metadata"], f, ensure_ascii=False)
sys.exit(1 if record["error"] is not None else 0)
' "$out" "$meta"
