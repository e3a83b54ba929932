#!/usr/bin/env python3
"""Mutation test: load truncated and bit-flipped documents under ASan/UBSan.

Every document under testdata/ (and a small-first sample of SHARED/corpus/*/
when --shared is given) is cut at several points and has random bytes flipped
with a fixed seed; zip-based files also get flips inside their deflated data,
where plain flips rarely land. Each mutant is run through the lkword tool with
--json and with --format=html. A run fails when it times out, dies from a
signal, exits with a code other than 0 or 1, or prints a sanitizer report.
Failing mutants are kept in --keep DIR with the command and the first lines of
stderr next to them.

usage: mutation-test.py [options] LKWORD
"""

import argparse
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
from collections import Counter, defaultdict
from concurrent.futures import ThreadPoolExecutor

TIMEOUT = 5.0
FLIP_MUTANTS = 8
DEFLATE_MUTANTS = 4
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer")
# Files next to the documents that are not documents themselves.
SKIP_SUFFIXES = (".md", ".py", ".sh", ".txt", ".json", ".png", ".password")

# ASan exits with 1 by default, which the tool also uses for a document it
# rejects; give the sanitizers their own codes so a report cannot hide there.
SAN_ENV = {
    "ASAN_OPTIONS": "exitcode=86:detect_leaks=1:abort_on_error=0:"
                    "allocator_may_return_null=0:handle_abort=1",
    "LSAN_OPTIONS": "exitcode=87",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1:exitcode=88",
}


def is_document(path):
    name = os.path.basename(path)
    return not name.startswith(".") and not name.endswith(SKIP_SUFFIXES)


def testdata_documents(root):
    out = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            if is_document(path) and os.path.getsize(path) > 0:
                out.append(path)
    return out


def shared_documents(shared, per_format):
    """The smallest per_format documents of each format folder of the corpus
    and the public corpus, and the largest of each corpus format."""
    out = []
    for part in ("corpus", "corpus-public"):
        corpus = os.path.join(shared, part)
        if not os.path.isdir(corpus):
            continue
        for fmt in sorted(os.listdir(corpus)):
            folder = os.path.join(corpus, fmt)
            if not os.path.isdir(folder):
                continue
            docs = [os.path.join(folder, n) for n in os.listdir(folder)]
            docs = [d for d in docs if os.path.isfile(d) and is_document(d)
                    and os.path.getsize(d) > 0]
            docs.sort(key=lambda d: (os.path.getsize(d), d))
            out.extend(docs[:per_format])
            if part == "corpus" and len(docs) > per_format:
                out.append(docs[-1])
    return out


def deflate_ranges(data):
    """Byte ranges of deflated member data, from the local file headers."""
    ranges = []
    pos = data.find(b"PK\x03\x04")
    while 0 <= pos and pos + 30 <= len(data):
        (_sig, _ver, _flags, method, _t, _d, _crc, csize, _usize, nlen,
         xlen) = struct.unpack_from("<IHHHHHIIIHH", data, pos)
        start = pos + 30 + nlen + xlen
        # Sizes may live in a data descriptor; then take the data up to the
        # next header as the member's range.
        end = start + csize if csize else data.find(b"PK", start + 1)
        if end < 0 or end > len(data):
            end = len(data)
        if method == 8 and end - start > 4:
            ranges.append((start, end))
        pos = data.find(b"PK\x03\x04", max(end, pos + 4))
    return ranges


def mutants(data, rng):
    """(kind, bytes) pairs for one document."""
    size = len(data)
    cuts = sorted({1, size // 10, size // 2, size * 9 // 10, size - 1})
    for cut in cuts:
        if 0 < cut < size:
            yield "truncate@%d" % cut, data[:cut]
    for i in range(FLIP_MUTANTS):
        buf = bytearray(data)
        for _ in range(rng.randint(1, 16)):
            buf[rng.randrange(size)] ^= rng.randint(1, 255)
        yield "flip#%d" % i, bytes(buf)
    ranges = deflate_ranges(data) if data[:2] == b"PK" else []
    for i in range(DEFLATE_MUTANTS if ranges else 0):
        buf = bytearray(data)
        for _ in range(rng.randint(1, 16)):
            start, end = rng.choice(ranges)
            buf[rng.randrange(start, end)] ^= rng.randint(1, 255)
        yield "deflate-flip#%d" % i, bytes(buf)


def run_one(tool, path, mode):
    args = [tool, "--json", path] if mode == "json" else \
           [tool, "--format=html", path]
    env = dict(os.environ)
    env.update(SAN_ENV)
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=env, start_new_session=True)
    try:
        _, err = proc.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        _, err = proc.communicate()
        return "timeout", err
    text = err.decode("utf-8", "replace")
    if any(m in text for m in SANITIZER_MARKS):
        return "sanitizer", err
    if proc.returncode < 0:
        return "signal %d" % -proc.returncode, err
    # 3: a password is needed or wrong, as for a damaged encryption dictionary.
    if proc.returncode not in (0, 1, 3):
        return "exit %d" % proc.returncode, err
    return None, err


def reader_label(path):
    """The format folder a document came from, or its extension."""
    parent = os.path.basename(os.path.dirname(path))
    ext = os.path.splitext(path)[1].lstrip(".").lower()
    return ext or parent


def first_report_lines(err, count=4):
    lines = err.decode("utf-8", "replace").splitlines()
    keep = [l for l in lines if any(m in l for m in SANITIZER_MARKS)
            or l.lstrip().startswith("#0") or l.lstrip().startswith("#1")
            or l.startswith("SUMMARY")]
    return (keep or lines)[:count]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("lkword", help="the lkword tool, built with sanitizers")
    ap.add_argument("--testdata", default=None,
                    help="documents folder (default: testdata/ of this tree)")
    ap.add_argument("--shared", help="shared folder holding corpus/<format>/")
    ap.add_argument("--per-format", type=int, default=3,
                    help="corpus files per format folder, smallest first")
    ap.add_argument("--seed", type=int, default=13)
    ap.add_argument("--keep", help="folder for failing mutants")
    ap.add_argument("--jobs", type=int, default=2)
    opts = ap.parse_args()

    here = os.path.dirname(os.path.abspath(__file__))
    testdata = opts.testdata or os.path.join(here, "..", "testdata")
    inputs = testdata_documents(testdata)
    if opts.shared:
        inputs += shared_documents(opts.shared, opts.per_format)
    if not inputs:
        print("no documents found", file=sys.stderr)
        return 2
    keep = opts.keep or tempfile.mkdtemp(prefix="lkword-mutants-")
    os.makedirs(keep, exist_ok=True)
    work = tempfile.mkdtemp(prefix="lkword-mutate-")

    jobs = []  # (label, source, kind, mutant path)
    per_reader = Counter()
    for n, src in enumerate(inputs):
        with open(src, "rb") as f:
            data = f.read()
        # One generator per document, so adding a document does not change
        # the mutants of the others.
        rng = random.Random("%d:%s" % (opts.seed, os.path.basename(src)))
        label = reader_label(src)
        per_reader[label] += 1
        for i, (kind, blob) in enumerate(mutants(data, rng)):
            name = "%03d-%02d-%s" % (n, i, os.path.basename(src))
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(blob)
            jobs.append((label, src, kind, path))

    def task(job):
        label, src, kind, path = job
        results = []
        for mode in ("json", "html"):
            verdict, err = run_one(opts.lkword, path, mode)
            if verdict:
                results.append((verdict, mode, err))
        return job, results

    failures = []
    runs = 0
    try:
        with ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
            for job, results in pool.map(task, jobs):
                runs += 2
                for verdict, mode, err in results:
                    failures.append((job, verdict, mode, err))
    except KeyboardInterrupt:
        shutil.rmtree(work, ignore_errors=True)
        raise

    by_kind = Counter()
    by_reader = defaultdict(Counter)
    kept = set()
    for (label, src, kind, path), verdict, mode, err in failures:
        klass = verdict.split()[0]
        by_kind[klass] += 1
        by_reader[label][klass] += 1
        dest = os.path.join(keep, os.path.basename(path))
        if dest not in kept:
            shutil.copyfile(path, dest)
            kept.add(dest)
        with open(dest + ".log", "a", encoding="utf-8") as log:
            log.write("source: %s\nmutant: %s\nmode: %s\nverdict: %s\n"
                      % (src, kind, mode, verdict))
            log.write(err.decode("utf-8", "replace")[:20000] + "\n")
    shutil.rmtree(work, ignore_errors=True)

    print("inputs: %d documents, %d mutants, %d runs (seed %d)"
          % (len(inputs), len(jobs), runs, opts.seed))
    for label in sorted(per_reader):
        print("  %-6s %3d documents  failures: %s" % (
            label, per_reader[label],
            ", ".join("%s=%d" % kv for kv in sorted(by_reader[label].items()))
            or "none"))
    if not failures:
        print("no failures")
        if not opts.keep:
            shutil.rmtree(keep, ignore_errors=True)
        return 0
    print("failures: %d (%s); mutants kept in %s" % (
        len(failures), ", ".join("%s=%d" % kv for kv in sorted(by_kind.items())),
        keep))
    for (label, src, kind, path), verdict, mode, err in failures:
        print("FAIL %s [%s] %s %s -> %s" % (
            os.path.basename(path), mode, src, kind, verdict))
        for line in first_report_lines(err):
            print("     " + line)
    return 1


if __name__ == "__main__":
    sys.exit(main())
