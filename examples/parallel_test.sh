#!/bin/sh
# The scale-out example over a small folder: one valid JSON record per file,
# the same records lkword -r writes itself.
#
# usage: parallel_test.sh LKWORD SOURCE_DIR
set -eu
lkword=$1
source=$2
work=$(mktemp -d -t lkword-parallel.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in/sub"
cp "$source/testdata/samples/lighthouse.pdb" "$work/in/"
cp "$source/testdata/samples/harbour-notes.pdb" "$work/in/sub/"
cp "$source/testdata/pdf/hello.pdf" "$work/in/sub/"
echo "not a document" >"$work/in/notes.txt"

status=0
LKWORD=$lkword sh "$source/examples/lkword-parallel.sh" -j 2 "$work/in" "$work/out.jsonl" || status=$?
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1 (notes.txt fails)"; exit 1; }
"$lkword" --json -q -r -j1 "$work/in" >"$work/direct.jsonl" || true
python3 - "$work/out.jsonl" "$work/direct.jsonl" <<'PY'
import json, sys
got = sorted(json.dumps(json.loads(l), sort_keys=True) for l in open(sys.argv[1], encoding="utf-8"))
want = sorted(json.dumps(json.loads(l), sort_keys=True) for l in open(sys.argv[2], encoding="utf-8"))
assert len(got) == 4, "%d records" % len(got)
assert got == want, "records differ from lkword -r"
kinds = sorted(str(json.loads(r)["error_kind"]) for r in got)
assert kinds == ["None", "None", "None", "unsupported"], kinds
PY
if command -v parallel >/dev/null 2>&1; then echo "ok (GNU parallel)"; else echo "ok (lkword -j; GNU parallel not installed)"; fi
