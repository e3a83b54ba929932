#!/usr/bin/env bash
# Whole-process speed and memory of `lkword` against the extractors people
# use today, one table per format:
#
#   bench/compare.sh [--json FILE] LKWORD_BINARY SHARED_DIR [BOOK_DIR]
#
# Environment:
#   FORMATS    formats to run (default: pdb pdf doc docx odt ods odp fb2 epub
#              wpd); a format none of whose peers is installed is skipped with
#              a notice
#   RUNS       timed runs per program and document (default 20)
#   ROUNDS     rounds the runs are spread over (default 5)
#   SLOW_MS, SLOW_RUNS  a program whose first run takes more than SLOW_MS
#              (default 1000) gets only SLOW_RUNS runs (default 5)
#   WPD_FILES  WordPerfect documents to time (default 3)
#   JSON=FILE  also write every row as one JSON document (same as --json)
#   BASELINE   another lkword binary (say, the build of the commit before a
#              change), timed as program "baseline" in the same rounds: its x
#              is its time over lkword's, so below 1 means the change is slower
#   PEERS=no   time no peers (with BASELINE: the change against its base only)
#
# Peers, all writing UTF-8 text to standard output:
#   pdb        txt2pdbdoc -d
#   pdf        pdftotext (poppler), mutool draw -F txt (MuPDF)
#   doc        catdoc -w, antiword
#   docx       docx2txt, pandoc
#   odt        odt2txt, pandoc;  ods, odp: odt2txt
#   fb2, epub  pandoc
#   wpd        wpd2text (libwpd)
#
# Documents: the large documents of SHARED_DIR/corpus/<format>/ (L1-*, CL1-*,
# PL1-*, ML1-*, large-*) and every other corpus document of 300 KB or more.
# There is no WordPerfect corpus folder: wpd takes the largest public
# WordPerfect files that lkword reads, a few KB each, so their times are
# mostly process start-up. doc has the corpus only: making a larger .doc
# needs an office suite, which is slow to start and not always installed.
#
# pdb also times two generated books of at least 20 MB, made with txt2pdbdoc
# from the large corpus book's truth text repeated (one compressed, one stored;
# txt2pdbdoc's -c means "do not compress"). Making the compressed one takes
# minutes, so a BOOK_DIR keeps the generated books for the next run. Each pdb
# book has a second row in which both programs write a file (`lkword -o FILE`,
# `txt2pdbdoc -d BOOK FILE`) instead of standard output.
#
# Method. Each program first runs once under /usr/bin/time -v: that run warms
# the page cache, gives the peak RSS, and shows whether the program reads the
# document at all (a program that fails is reported, not timed). Then ROUNDS
# rounds: in each, every program runs its share of the runs under hyperfine,
# so a change of load on a shared machine hits all of them alike; the medians
# are taken over the pooled runs. Slow programs (pandoc takes seconds, odt2txt
# on a large spreadsheet longer) get SLOW_RUNS runs so that the whole script
# stays within minutes; the tables say how many runs each program had.
# On a loaded machine wall times move with the load (printed before and
# after): compare programs within one run of this script, not across runs.
#
# Needs hyperfine, python3 and /usr/bin/time (package time).
set -euo pipefail

usage() {
  echo "usage: $0 [--json FILE] LKWORD_BINARY SHARED_DIR [BOOK_DIR]" >&2
  exit 2
}

json_out=${JSON:-}
while [ $# -gt 0 ]; do
  case $1 in
    --json) [ $# -ge 2 ] || usage; json_out=$2; shift 2 ;;
    --json=*) json_out=${1#--json=}; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
{ [ $# -ge 2 ] && [ $# -le 3 ]; } || usage

lkword=$(realpath "$1")
shared=$2
book_dir=${3:-}
formats=${FORMATS:-pdb pdf doc docx odt ods odp fb2 epub wpd}
runs=${RUNS:-20}
rounds=${ROUNDS:-5}
slow_ms=${SLOW_MS:-1000}
slow_runs=${SLOW_RUNS:-5}
wpd_files=${WPD_FILES:-3}
baseline=${BASELINE:+$(realpath "$BASELINE")}
with_peers=${PEERS:-yes}
for n in "$runs" "$rounds" "$slow_ms" "$slow_runs" "$wpd_files"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "compare.sh: '$n' is not a positive count" >&2; exit 2; }
done
for tool in hyperfine python3; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is not installed" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "compare.sh: /usr/bin/time is not installed (package time)" >&2; exit 2; }
[ -x "$lkword" ] || { echo "compare.sh: $lkword is not executable" >&2; exit 2; }
[ -z "$baseline" ] || [ -x "$baseline" ] || { echo "compare.sh: $baseline is not executable" >&2; exit 2; }
[ -d "$shared/corpus" ] || { echo "compare.sh: no corpus folder under $shared" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows_file=$work/rows.jsonl        # one JSON line per timed document
formats_file=$work/formats.jsonl  # one JSON line per format: commands, notes
row_id=0

# ---------------------------------------------------------------------------
# Pooling, tables and the JSON document. Kept in one Python program so the
# shell part only runs things.
cat >"$work/report.py" <<'EOF'
import json, statistics, sys

def load(path):
    try:
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []

def append(path, record):
    with open(path, "a") as f:
        f.write(json.dumps(record) + "\n")

def row(rows, fmt, sink, name, size, *programs):
    """Pools the hyperfine runs of one document. PROGRAM: name|rss_kb|error|json,json,..."""
    out = {}
    for spec in programs:
        pname, rss, error, paths = spec.split("|", 3)
        times, user, system = [], 0.0, 0.0
        for path in filter(None, paths.split(",")):
            with open(path) as f:
                for r in json.load(f)["results"]:
                    # hyperfine reports mean CPU times: weigh them by the runs behind them.
                    times += r["times"]
                    user += r["user"] * len(r["times"])
                    system += r["system"] * len(r["times"])
        ok = bool(times) and not error
        p = {"median_ms": round(statistics.median(times) * 1e3, 3) if ok else None,
             "user_ms": round(user / len(times) * 1e3, 3) if ok else None,
             "sys_ms": round(system / len(times) * 1e3, 3) if ok else None,
             "runs": len(times) if ok else 0,
             "peak_rss_kb": int(rss) if ok and rss.isdigit() else None}
        if not ok:
            p["error"] = error or "no timed run"
        out[pname] = p
    append(rows, {"format": fmt, "file": name, "sink": sink, "bytes": int(size), "programs": out})

def fmt_record(path, fmt, *rest):
    """FORMAT TEMPLATE... -- NOTE...: the commands of a format ({} is the document) and its notes."""
    cut = rest.index("--")
    commands = {t.split()[0]: t.replace("{}", "FILE") for t in rest[:cut]}
    append(path, {"format": fmt, "commands": commands, "notes": list(rest[cut + 1:])})

def table(rows_path, fmt):
    rows = [r for r in load(rows_path) if r["format"] == fmt]
    if not rows:
        return
    names = []
    for r in rows:
        names += [n for n in r["programs"] if n not in names]
    ref = names[0]
    fw = max(4, min(44, max(len(r["file"]) for r in rows)))
    sinks = any(r["sink"] != "stdout" for r in rows)
    lead_w = fw + 1 + (7 if sinks else 0) + 7
    groups = {ref: ["ms", "n", "u+s ms", "RSS MB", "MB/s"]}
    groups.update({n: ["ms", "n", "x", "u+s ms", "RSS MB"] for n in names[1:]})
    widths = {"ms": 9, "n": 3, "x": 6, "u+s ms": 10, "RSS MB": 7, "MB/s": 7}

    def line(lead, cells):
        return (lead + "".join(" |" + "".join(f" {c:>{widths[k]}}" for k, c in zip(groups[n], cells[n]))
                              for n in names)).rstrip()

    def group_w(n):
        return sum(widths[k] + 1 for k in groups[n])

    print()
    print((" " * lead_w + "".join(" |" + n.center(group_w(n)) for n in names)).rstrip())
    print(line(f"{'file':<{fw}} " + (f"{'sink':<6} " if sinks else "") + f"{'MB':>7}",
               {n: groups[n] for n in names}))
    failures = []
    for r in rows:
        base = r["programs"].get(ref, {}).get("median_ms")
        cells = {}
        for n in names:
            p = r["programs"].get(n)
            if p is None or p["median_ms"] is None:
                cells[n] = ["failed" if p else "-"] + ["-"] * (len(groups[n]) - 1)
                if p:
                    failures.append(f"{n} on {r['file']}: {p['error']}")
                continue
            ms = p["median_ms"]
            rss = f"{p['peak_rss_kb'] / 1024:.1f}" if p["peak_rss_kb"] is not None else "?"
            cpu = f"{p['user_ms']:.0f}+{p['sys_ms']:.0f}"
            if n == ref:
                cells[n] = [f"{ms:.1f}", p["runs"], cpu, rss, f"{r['bytes'] / 1e3 / ms:.1f}"]
            else:
                cells[n] = [f"{ms:.1f}", p["runs"], f"{ms / base:.2f}" if base else "-", cpu, rss]
        lead = f"{r['file'][:fw]:<{fw}} " + (f"{r['sink']:<6} " if sinks else "") + f"{r['bytes'] / 1e6:>7.3f}"
        print(line(lead, cells))
    for f in failures:
        print(f"  not timed: {f}")

def document(out, rows, formats, date, machine, nproc, before, after, runs, rounds, slow_ms, slow_runs):
    doc = {"date": date, "machine": machine, "nproc": int(nproc),
           "load_before": [float(x) for x in before.split()],
           "load_after": [float(x) for x in after.split()],
           "settings": {"runs": int(runs), "rounds": int(rounds),
                        "slow_ms": int(slow_ms), "slow_runs": int(slow_runs)},
           "formats": load(formats), "rows": load(rows)}
    with open(out, "w") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")

{"row": row, "format": fmt_record, "table": table, "document": document}[sys.argv[1]](*sys.argv[2:])
EOF
report() { python3 "$work/report.py" "$@"; }

# ---------------------------------------------------------------------------
# Commands. A template is a command line with {} for the document; its first
# word names the program ("lkword" stands for LKWORD_BINARY).

peer_templates() {  # peer_templates FORMAT
  case $1 in
    pdb) echo "txt2pdbdoc -d {}" ;;
    pdf) echo "pdftotext -q -enc UTF-8 {} -"
         echo "mutool draw -q -F txt -o - {}" ;;
    doc) echo "catdoc -w -d utf-8 {}"
         echo "antiword -m UTF-8.txt {}" ;;
    docx) echo "docx2txt {} -"
          echo "pandoc -t plain {}" ;;
    # odt2txt picks its output encoding from the locale: pin it to ours.
    odt) echo "odt2txt --encoding=UTF-8 {}"
         echo "pandoc -t plain {}" ;;
    ods | odp) echo "odt2txt --encoding=UTF-8 {}" ;;
    fb2 | epub) echo "pandoc -t plain {}" ;;
    wpd) echo "wpd2text {}" ;;
    *) return 1 ;;
  esac
}

# command_for TEMPLATE DOC: the command line, quoted so that both hyperfine
# (which splits it like a shell) and `eval` get the same words back.
command_for() {
  local -a words out=()
  local w
  read -ra words <<<"$1"
  for w in "${words[@]}"; do
    if [ "$w" = "{}" ]; then out+=("$2"); else out+=("$w"); fi
  done
  [ "${out[0]}" != lkword ] || out[0]=$lkword
  [ "${out[0]}" != baseline ] || out[0]=$baseline
  printf '%q ' "${out[@]}"
}

# ---------------------------------------------------------------------------
# Documents, one path a line.

corpus_documents() {  # corpus_documents FORMAT
  local f
  for f in "$shared/corpus/$1"/*."$1"; do
    [ -f "$f" ] || continue
    # A locked document would need each program's own password option.
    [ ! -e "$f.password" ] || continue
    case ${f##*/} in
      L1-* | CL1-* | PL1-* | ML1-* | large-*) echo "$f" ;;
      *) if [ "$(stat -c %s "$f")" -ge $((300 * 1024)) ]; then echo "$f"; fi ;;
    esac
  done
}

# The largest public WordPerfect files that lkword reads (it does not read
# the 5.x files among them).
wpd_documents() {
  local f n=0
  while read -r f; do
    [ "$n" -lt "$wpd_files" ] || break
    if "$lkword" "$f" >/dev/null 2>&1; then echo "$f"; n=$((n + 1)); fi
  done < <(find "$shared"/corpus-public/wpd*/ -maxdepth 1 -type f \
             ! -name '*.txt' ! -name '*.json' ! -name '*.md' -printf '%s %p\n' 2>/dev/null |
           sort -rn | cut -d' ' -f2-)
}

# make_books LARGE_BOOK: prints the two generated >= 20 MB books, making
# those that BOOK_DIR does not hold yet.
make_books() {
  local large=$1 books=${book_dir:-$work} min_bytes=$((20 * 1024 * 1024))
  mkdir -p "$books"
  iconv -f UTF-8 -t CP1252//TRANSLIT "$large.truth.txt" >"$work/unit.txt"
  if [ ! -s "$books/big-compressed.pdb" ]; then
    echo "making the generated compressed book (txt2pdbdoc compresses slowly)..." >&2
    # Compression keeps about 65% of this text: 1.7x the size gives >= 20 MB.
    repeat_text "$work/big.txt" $((min_bytes * 17 / 10))
    txt2pdbdoc "Generated large book" "$work/big.txt" "$books/big-compressed.pdb" >/dev/null
  fi
  if [ ! -s "$books/big-stored.pdb" ]; then
    repeat_text "$work/big-stored.txt" "$min_bytes"
    txt2pdbdoc -c "Generated stored book" "$work/big-stored.txt" "$books/big-stored.pdb" >/dev/null
  fi
  echo "$books/big-compressed.pdb"
  echo "$books/big-stored.pdb"
}

repeat_text() {  # repeat_text FILE BYTES: unit.txt repeated up to BYTES
  : >"$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat "$work/unit.txt" >>"$1"; done
}

# ---------------------------------------------------------------------------
# Timing: the one way a row is measured.

# probe COMMAND: one run under /usr/bin/time -v; sets probe_status, probe_ms
# (wall time, 10 ms resolution) and probe_rss (peak RSS in KB).
probe() {
  local -a argv
  eval "argv=($1)"
  probe_status=0
  : >"$work/time.txt"
  /usr/bin/time -v -o "$work/time.txt" "${argv[@]}" >/dev/null 2>"$work/probe-stderr.txt" || probe_status=$?
  probe_rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  probe_ms=$(awk -F': ' '/Elapsed \(wall clock\) time/ {
      n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%d", s * 1000 }' \
    "$work/time.txt")
  probe_ms=${probe_ms:-0}
}

# time_row FORMAT SINK DOC TEMPLATE...: times DOC with each program (the
# first template is lkword's, the base of the ratios) and adds the row.
time_row() {
  local fmt=$1 sink=$2 doc=$3
  shift 3
  local -a cmds=() names=() want=() got=() rss=() err=() files=() specs=()
  local i r k t out warmup
  row_id=$((row_id + 1))
  for t in "$@"; do
    cmds+=("$(command_for "$t" "$doc")")
    names+=("${t%% *}")
  done
  for i in "${!cmds[@]}"; do
    probe "${cmds[i]}"
    rss[i]=$probe_rss got[i]=0 files[i]="" err[i]=""
    if [ "$probe_status" -ne 0 ]; then
      err[i]="exit status $probe_status" want[i]=0
    elif [ "$probe_ms" -gt "$slow_ms" ] && [ "$slow_runs" -lt "$runs" ]; then
      want[i]=$slow_runs
    else
      want[i]=$runs
    fi
  done
  if [ -n "${err[0]}" ]; then
    # Without lkword's time the row has no base: time nothing.
    for i in "${!cmds[@]}"; do
      [ -n "${err[i]}" ] || err[i]="not timed: lkword failed"
    done
  fi
  echo "$fmt ${doc##*/} ($sink):$(for i in "${!names[@]}"; do printf ' %s %s runs' "${names[i]}" "${want[i]}"; done)" >&2
  for ((r = 0; r < rounds; r++)); do
    for i in "${!cmds[@]}"; do
      [ -z "${err[i]}" ] || continue
      # Spread what is left evenly over the rounds left.
      k=$(((want[i] - got[i] + rounds - r - 1) / (rounds - r)))
      [ "$k" -gt 0 ] || continue
      # The probe was one warm-up run; fast programs get one more.
      warmup=0
      if [ "$r" -eq 0 ] && [ "${want[i]}" -eq "$runs" ]; then warmup=1; fi
      out=$work/row$row_id-$i-$r.json
      if hyperfine -N --warmup "$warmup" --runs "$k" --output null --style none \
           --export-json "$out" "${cmds[i]}" >/dev/null; then
        files[i]+=${files[i]:+,}$out
        got[i]=$((got[i] + k))
      else
        err[i]="failed during the timed runs"
      fi
    done
  done
  for i in "${!cmds[@]}"; do
    specs+=("${names[i]}|${rss[i]}|${err[i]}|${files[i]}")
  done
  report row "$rows_file" "$fmt" "$sink" "${doc##*/}" "$(stat -c %s "$doc")" "${specs[@]}"
}

# ---------------------------------------------------------------------------

# bench_format FORMAT: the table of one format.
bench_format() {
  local fmt=$1 t doc
  local -a templates peers=() missing=() docs=() notes=() books
  mapfile -t templates < <(peer_templates "$fmt")
  [ "$with_peers" != no ] || templates=()
  [ -z "$baseline" ] || templates=("baseline {}" "${templates[@]}")
  for t in "${templates[@]}"; do
    if [ "${t%% *}" = baseline ] || command -v "${t%% *}" >/dev/null; then peers+=("$t"); else missing+=("${t%% *}"); fi
  done
  [ ${#missing[@]} -eq 0 ] || notes+=("not installed: ${missing[*]}")
  if [ ${#peers[@]} -eq 0 ]; then
    notes+=("skipped: no peer installed")
  else
    case $fmt in
      wpd) mapfile -t docs < <(wpd_documents)
           [ ${#docs[@]} -eq 0 ] ||
             notes+=("the public WordPerfect files are small (largest $(stat -c %s "${docs[0]}") bytes): the times are mostly process start-up") ;;
      *) mapfile -t docs < <(corpus_documents "$fmt") ;;
    esac
    if [ "$fmt" = pdb ]; then
      if [ ${#docs[@]} -gt 0 ] && [ -f "${docs[0]}.truth.txt" ]; then
        mapfile -t books < <(make_books "${docs[0]}")
        docs+=("${books[@]}")
      else
        notes+=("no large corpus book with its truth text: no generated books")
      fi
      notes+=("sink file: lkword -o FILE BOOK, txt2pdbdoc -d BOOK FILE")
    fi
    [ ${#docs[@]} -gt 0 ] || notes+=("skipped: no large documents")
  fi

  echo
  echo "== $fmt: lkword FILE$([ ${#peers[@]} -eq 0 ] || printf '; %s' "${peers[@]//\{\}/FILE}")"
  for t in "${notes[@]}"; do echo "  $t"; done
  for doc in "${docs[@]}"; do
    time_row "$fmt" stdout "$doc" "lkword {}" "${peers[@]}"
    if [ "$fmt" = pdb ]; then
      if [ -n "$baseline" ]; then
        time_row "$fmt" file "$doc" "lkword -o $work/ours.txt {}" "baseline -o $work/base.txt {}"
      fi
      if [ "$with_peers" != no ]; then
        time_row "$fmt" file "$doc" "lkword -o $work/ours.txt {}" "txt2pdbdoc -d {} $work/peer.txt"
      fi
    fi
  done
  report table "$rows_file" "$fmt"
  report format "$formats_file" "$fmt" "lkword {}" "${peers[@]}" -- "${notes[@]}"
}

for fmt in $formats; do
  peer_templates "$fmt" >/dev/null || { echo "compare.sh: no benchmark for format '$fmt'" >&2; exit 2; }
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load average before: $load_before" >&2
echo "MB: input size (10^6 bytes); ms: median wall time over the n runs; u+s ms: mean user and"
echo "system CPU time; x: peer ms / lkword ms (above 1: lkword is faster); RSS MB: peak resident"
echo "set of one run (/usr/bin/time -v); MB/s: input MB / lkword's median"
for fmt in $formats; do
  bench_format "$fmt"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load average after: $load_after" >&2
echo
echo "load average before: $load_before, after: $load_after; $(nproc) processors"
if [ -n "$json_out" ]; then
  report document "$json_out" "$rows_file" "$formats_file" "$(date -Iseconds)" "$(uname -m)" \
    "$(nproc)" "$load_before" "$load_after" "$runs" "$rounds" "$slow_ms" "$slow_runs"
  echo "JSON written to $json_out" >&2
fi
