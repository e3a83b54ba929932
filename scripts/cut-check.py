#!/usr/bin/env python3
"""No document cut short passes for a complete one.

    scripts/cut-check.py LKWORD FILE_OR_FOLDER...

Each PDF, .docx and .doc given (folders: those directly inside) is cut at 30, 60
and 90% of its bytes, and `lkword --json` reads each cut copy. A cut copy
must give an error or a result marked partial, and either way exit with
status 1: exiting 0 unmarked passes lost text off as the document. The
counts per format are printed; exit status 1 when any cut copy passed.
"""
import collections
import json
import os
import subprocess
import sys
import tempfile

CUTS = (0.3, 0.6, 0.9)
SUFFIXES = (".pdf", ".docx", ".doc")


def documents(args):
    for a in args:
        if os.path.isdir(a):
            for name in sorted(os.listdir(a)):
                path = os.path.join(a, name)
                if name.lower().endswith(SUFFIXES) and os.path.isfile(path):
                    yield path
        else:
            yield a


def classify(lkword, path):
    try:
        res = subprocess.run([lkword, "--json", "--", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=120)
    except subprocess.TimeoutExpired:
        return "hang"
    if res.returncode not in (0, 1, 3):
        return "crash"
    try:
        record = json.loads(res.stdout.decode("utf-8").splitlines()[0])
    except (ValueError, IndexError):
        return "no-record"
    if record.get("error_kind"):
        return "error" if res.returncode != 0 else "error-exit-0"
    if record.get("partial"):
        return "partial" if res.returncode == 1 else "partial-exit-%d" % res.returncode
    return "passed"


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    lkword = sys.argv[1]
    counts = collections.defaultdict(collections.Counter)
    bad = []
    with tempfile.TemporaryDirectory() as tmp:
        for path in documents(sys.argv[2:]):
            data = open(path, "rb").read()
            ext = os.path.splitext(path)[1].lower()
            for cut in CUTS:
                copy = os.path.join(tmp, "cut" + ext)
                with open(copy, "wb") as f:
                    f.write(data[:int(len(data) * cut)])
                kind = classify(lkword, copy)
                counts[ext][kind] += 1
                if kind not in ("error", "partial"):
                    bad.append("%s at %d%%: %s" % (path, cut * 100, kind))
    for ext, c in sorted(counts.items()):
        print("%s: %s" % (ext, ", ".join("%d %s" % (n, k) for k, n in sorted(c.items()))))
    for b in bad:
        print("not marked: " + b)
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
