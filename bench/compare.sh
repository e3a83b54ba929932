#!/usr/bin/env bash
# Whole-process speed of `lkword` against other extractors, one section per
# format (FORMATS="pdb pdf" by default; set FORMATS to run some of them):
#
#   bench/compare.sh LKWORD_BINARY SHARED_DIR [BOOK_DIR]
#
# pdb: `lkword` against `txt2pdbdoc -d` on PalmDoc books. Books: the large
# corpus book, plus two books of at least 20 MB made here with txt2pdbdoc from
# its truth text repeated (one compressed, one stored; txt2pdbdoc's -c means
# "do not compress"). Making the compressed one takes minutes, so a BOOK_DIR
# keeps the generated books for the next run. Each book is extracted side by
# side (hyperfine, --warmup 2, RUNS runs, default 20) into the same kind of
# sink for both programs:
#   stdout  both write to standard output, which hyperfine sends to /dev/null
#   file    both write a file (`lkword -o FILE`, `txt2pdbdoc -d BOOK FILE`)
#
# pdf: `lkword` against `pdftotext` (poppler) and `mutool draw -F txt` (MuPDF)
# on the large corpus PDFs (large-*.pdf and every corpus PDF of 300 KB or
# more), all three writing UTF-8 text to standard output. The runs alternate:
# ROUNDS rounds (default 5) of hyperfine over the three programs, RUNS runs
# each in all, so a change of load hits every program alike; the medians are
# taken over the pooled runs.
#
# The tables show medians of wall time and the means of user and system CPU
# time that hyperfine reports; peak RSS comes from /usr/bin/time -v. On a
# loaded machine wall times move with the load (printed before and after):
# compare the programs within one run of this script, not across runs.
# Needs hyperfine and python3; pdb also txt2pdbdoc and iconv, pdf also
# pdftotext and mutool.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 LKWORD_BINARY SHARED_DIR [BOOK_DIR]" >&2
  exit 2
fi
lkword=$(realpath "$1")
shared=$2
runs=${RUNS:-20}
formats=${FORMATS:-pdb pdf}
needs=(hyperfine python3)
[[ " $formats " == *" pdb "* ]] && needs+=(txt2pdbdoc iconv)
[[ " $formats " == *" pdf "* ]] && needs+=(pdftotext mutool)
for tool in "${needs[@]}"; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is not installed" >&2; exit 2; }
done
[ -x "$lkword" ] || { echo "compare.sh: $lkword is not executable" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "compare.sh: /usr/bin/time is not installed (package time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

peak_rss_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# ---------------------------------------------------------------------------
# PalmDoc
bench_pdb() {
large=$(ls "$shared"/corpus/pdb/ML1-latin-large*.pdb 2>/dev/null | head -n 1 || true)
[ -n "$large" ] || { echo "compare.sh: no ML1-latin-large*.pdb under $shared/corpus/pdb" >&2; exit 2; }

books=${BOOK_DIR:-$work}
mkdir -p "$books"

# A >= 20 MB book: the truth text (UTF-8) in the book's code page, repeated.
min_bytes=$((20 * 1024 * 1024))
make_text() {  # make_text FILE BYTES
  : >"$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat "$work/unit.txt" >>"$1"; done
}
iconv -f UTF-8 -t CP1252//TRANSLIT "$large.truth.txt" >"$work/unit.txt"
if [ ! -s "$books/big-compressed.pdb" ]; then
  echo "making the generated compressed book (txt2pdbdoc compresses slowly)..." >&2
  # Compression keeps about 65% of this text: 1.7x the size gives >= 20 MB.
  make_text "$work/big.txt" $((min_bytes * 17 / 10))
  txt2pdbdoc "Generated large book" "$work/big.txt" "$books/big-compressed.pdb" >/dev/null
fi
if [ ! -s "$books/big-stored.pdb" ]; then
  make_text "$work/big-stored.txt" "$min_bytes"
  txt2pdbdoc -c "Generated stored book" "$work/big-stored.txt" "$books/big-stored.pdb" >/dev/null
fi

rows=()
n=0
for book in "$large" "$books/big-compressed.pdb" "$books/big-stored.pdb"; do
  for sink in stdout file; do
    n=$((n + 1))
    json="$work/run$n.json"
    if [ "$sink" = stdout ]; then
      ours="$lkword $book"
      peer="txt2pdbdoc -d $book"
    else
      ours="$lkword -o $work/ours.txt $book"
      peer="txt2pdbdoc -d $book $work/peer.txt"
    fi
    hyperfine --warmup 2 --runs "$runs" -N --output null --style basic --export-json "$json" \
      --command-name ours --command-name peer "$ours" "$peer" >&2
    rss_ours=$(peak_rss_kb $ours)
    rss_peer=$(peak_rss_kb $peer)
    rows+=("$(basename "$book")|$sink|$(stat -c %s "$book")|$json|$rss_ours|$rss_peer")
  done
done

python3 - "${rows[@]}" <<'EOF'
import json, sys
print(f"{'file':40} {'sink':6} {'MB':>5} {'ours ms':>8} {'peer ms':>8} {'peer/ours':>9}"
      f" {'ours u+s ms':>12} {'peer u+s ms':>12} {'RSS ours':>9} {'RSS peer':>9}")
for row in sys.argv[1:]:
    name, sink, size, path, rss_ours, rss_peer = row.split("|")
    res = {r["command"]: r for r in json.load(open(path))["results"]}
    o, p = res["ours"], res["peer"]
    cpu = lambda r: f"{r['user']*1e3:.0f}+{r['system']*1e3:.0f}"
    print(f"{name[:40]:40} {sink:6} {int(size)/1e6:5.1f} {o['median']*1e3:8.1f} {p['median']*1e3:8.1f}"
          f" {p['median']/o['median']:9.2f} {cpu(o):>12} {cpu(p):>12}"
          f" {int(rss_ours)/1024:7.1f}MB {int(rss_peer)/1024:7.1f}MB")
EOF
}

# ---------------------------------------------------------------------------
# PDF
bench_pdf() {
  local docs=() f
  for f in "$shared"/corpus/pdf/*.pdf; do
    case "$(basename "$f")" in
      large-*) docs+=("$f") ;;
      *) if [ "$(stat -c %s "$f")" -ge 307200 ]; then docs+=("$f"); fi ;;
    esac
  done
  [ ${#docs[@]} -gt 0 ] || { echo "compare.sh: no large PDFs under $shared/corpus/pdf" >&2; exit 2; }
  local rounds=${ROUNDS:-5}
  local per=$(((runs + rounds - 1) / rounds))
  local rows=() n=0 doc r
  for doc in "${docs[@]}"; do
    n=$((n + 1))
    local ours="$lkword $doc" poppler="pdftotext -q -enc UTF-8 $doc -" mupdf="mutool draw -q -F txt -o - $doc"
    local jsons=()
    for r in $(seq 1 "$rounds"); do
      hyperfine --warmup "$([ "$r" = 1 ] && echo 2 || echo 0)" --runs "$per" -N --output null --style none \
        --export-json "$work/pdf$n-$r.json" --command-name lkword --command-name pdftotext \
        --command-name mutool "$ours" "$poppler" "$mupdf" >&2
      jsons+=("$work/pdf$n-$r.json")
    done
    rows+=("$(basename "$doc")|$(stat -c %s "$doc")|$(IFS=,; echo "${jsons[*]}")|$(peak_rss_kb $ours)|$(peak_rss_kb $poppler)|$(peak_rss_kb $mupdf)")
  done
  python3 - "${rows[@]}" <<'EOF'
import json, statistics, sys
print(f"{'file':30} {'MB':>5} {'lkword ms':>9} {'pdftotext':>9} {'mutool':>9} {'ptt/lkw':>7} {'mut/lkw':>7}"
      f" {'lkword u+s':>10} {'pdftotext u+s':>13} {'mutool u+s':>10} {'RSS lkword':>10} {'RSS ptt':>9} {'RSS mut':>9}")
for row in sys.argv[1:]:
    name, size, paths, *rss = row.split("|")
    times, user, system = {}, {}, {}
    for path in paths.split(","):
        for r in json.load(open(path))["results"]:
            c = r["command"]
            times.setdefault(c, []).extend(r["times"])
            user.setdefault(c, []).append(r["user"])
            system.setdefault(c, []).append(r["system"])
    med = {c: statistics.median(t) * 1e3 for c, t in times.items()}
    cpu = lambda c: f"{statistics.mean(user[c])*1e3:.0f}+{statistics.mean(system[c])*1e3:.0f}"
    mb = lambda kb: f"{int(kb)/1024:.1f}MB" if kb else "?"
    print(f"{name[:30]:30} {int(size)/1e6:5.2f} {med['lkword']:9.1f} {med['pdftotext']:9.1f} {med['mutool']:9.1f}"
          f" {med['pdftotext']/med['lkword']:7.2f} {med['mutool']/med['lkword']:7.2f}"
          f" {cpu('lkword'):>10} {cpu('pdftotext'):>13} {cpu('mutool'):>10}"
          f" {mb(rss[0]):>10} {mb(rss[1]):>9} {mb(rss[2]):>9}")
EOF
}

BOOK_DIR=${3:-}
for fmt in $formats; do
  case "$fmt" in
    pdb) bench_pdb ;;
    pdf) bench_pdf ;;
    *) echo "compare.sh: no benchmark for format '$fmt'" >&2; exit 2 ;;
  esac
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
