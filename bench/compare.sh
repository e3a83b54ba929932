#!/usr/bin/env bash
# Whole-process speed of `lkword` against `txt2pdbdoc -d` on PalmDoc books.
#
#   bench/compare.sh LKWORD_BINARY SHARED_DIR
#
# `lkword FILE > /dev/null` is timed against `txt2pdbdoc -d FILE OUT.txt`.
# Books: the large corpus book, plus two books of at least 20 MB made here
# with txt2pdbdoc from its truth text repeated (one compressed, one stored;
# txt2pdbdoc's -c means "do not compress"). Each pair of commands is timed
# side by side with hyperfine (--warmup 2 --runs 10), peak RSS comes from
# /usr/bin/time -v. Needs hyperfine, txt2pdbdoc, iconv and python3.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 LKWORD_BINARY SHARED_DIR" >&2
  exit 2
fi
lkword=$(realpath "$1")
shared=$2
for tool in hyperfine txt2pdbdoc python3 iconv; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is not installed" >&2; exit 2; }
done
[ -x "$lkword" ] || { echo "compare.sh: $lkword is not executable" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "compare.sh: /usr/bin/time is not installed (package time)" >&2; exit 2; }

large=$(ls "$shared"/corpus/pdb/ML1-latin-large*.pdb 2>/dev/null | head -n 1 || true)
[ -n "$large" ] || { echo "compare.sh: no ML1-latin-large*.pdb under $shared/corpus/pdb" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A >= 20 MB book: the truth text (UTF-8) in the book's code page, repeated.
min_bytes=$((20 * 1024 * 1024))
iconv -f UTF-8 -t CP1252//TRANSLIT "$large.truth.txt" >"$work/unit.txt"
: >"$work/big.txt"
# Compression keeps about 65% of this text: 1.7x the size gives >= 20 MB.
while [ "$(stat -c %s "$work/big.txt")" -lt $((min_bytes * 17 / 10)) ]; do
  cat "$work/unit.txt" >>"$work/big.txt"
done
echo "making the generated books (txt2pdbdoc compresses slowly)..." >&2
txt2pdbdoc "Generated large book" "$work/big.txt" "$work/big-compressed.pdb" >/dev/null
: >"$work/big-stored.txt"
while [ "$(stat -c %s "$work/big-stored.txt")" -lt "$min_bytes" ]; do
  cat "$work/unit.txt" >>"$work/big-stored.txt"
done
txt2pdbdoc -c "Generated stored book" "$work/big-stored.txt" "$work/big-stored.pdb" >/dev/null

peak_rss_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}

rows=()
n=0
for book in "$large" "$work/big-compressed.pdb" "$work/big-stored.pdb"; do
  n=$((n + 1))
  json="$work/run$n.json"
  hyperfine --warmup 2 --runs 10 -N --output null --style basic --export-json "$json" \
    --command-name ours --command-name peer \
    "$lkword $book" \
    "txt2pdbdoc -d $book $work/peer.txt" >&2
  rss_ours=$(peak_rss_kb "$lkword" "$book")
  rss_peer=$(peak_rss_kb txt2pdbdoc -d "$book" "$work/peer.txt")
  rows+=("$(basename "$book")|$(stat -c %s "$book")|$json|$rss_ours|$rss_peer")
done

python3 - "${rows[@]}" <<'EOF'
import json, sys
print(f"{'file':44} {'size MB':>8} {'ours ms':>8} {'peer ms':>8} {'peer/ours':>9} {'MB/s':>7} {'RSS ours':>9} {'RSS peer':>9}")
for row in sys.argv[1:]:
    name, size, path, rss_ours, rss_peer = row.split("|")
    res = {r["command"]: r for r in json.load(open(path))["results"]}
    ours, peer = res["ours"]["median"], res["peer"]["median"]
    mb = int(size) / 1e6
    print(f"{name[:44]:44} {mb:8.1f} {ours*1e3:8.1f} {peer*1e3:8.1f} {peer/ours:9.2f} {mb/ours:7.0f}"
          f" {int(rss_ours)/1024:7.1f}MB {int(rss_peer)/1024:7.1f}MB")
EOF
