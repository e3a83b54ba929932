#!/usr/bin/env python3
"""Golden test for refactoring and speed work: two builds of lkword must write
byte-identical output for every document of testdata/ and of SHARED/corpus,
SHARED/corpus-public and SHARED/wild, in text, RTF and HTML, with the notes,
macros and metadata as text and as JSON, and cut at a length limit. A
document with a DOC.password sidecar is also run with that password.

usage: golden-compare.py [--jobs N] [--save FILE] [--load FILE] [--save-new FILE] [--match RE]
                         OLD_LKWORD NEW_LKWORD [SHARED]

--save FILE keeps a digest of every run of OLD in FILE; --load FILE takes
OLD's digests from such a file instead of running OLD again (pass any path
as OLD then); --save-new FILE keeps NEW's digests, for the next comparison
to start from. --match RE runs only the documents whose path RE matches
(a search, e.g. '\\.(odt|ods)$'). Exits 1 listing the documents whose output differs.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

SKIP = (".md", ".py", ".sh", ".txt", ".json", ".png", ".password", ".tsv")
MODES = (["-f", "text"], ["-f", "rtf"], ["-f", "html"], ["--notes", "--macros", "-m"],
         ["--json", "--notes", "--macros", "-m"], ["-f", "text", "--max-length=5000"])


def documents(roots):
    for root in roots:
        for dirpath, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SKIP) and not name.startswith("."):
                    yield os.path.join(dirpath, name)


# The RTF header carries the time of the run, which may tick between the two.
CLOCK = re.compile(rb"\\(yr|mo|dy|hr|min)[0-9]+")


def runs(paths):
    for path in paths:
        extra = []
        if os.path.exists(path + ".password"):
            with open(path + ".password", encoding="utf-8") as fh:
                extra = ["--password=" + fh.read()]
        for mode in MODES:
            yield mode + extra, path


def digest(tool, args, path):
    try:
        proc = subprocess.run([tool] + args + [path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        out = (str(proc.returncode).encode(), CLOCK.sub(rb"\\\1", proc.stdout), proc.stderr)
    except subprocess.TimeoutExpired:
        out = (b"timeout", b"", b"")
    h = hashlib.sha256()
    for part in out:
        h.update(len(part).to_bytes(8, "little"))
        h.update(part)
    return h.hexdigest()


def key(args, path):
    return " ".join(args) + " " + os.path.relpath(path)


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--save")
    ap.add_argument("--load")
    ap.add_argument("--match")
    ap.add_argument("--save-new")
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("shared", nargs="?")
    a = ap.parse_args()
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    roots = [os.path.join(root, "testdata")]
    if a.shared:
        roots += [os.path.join(a.shared, d) for d in ("corpus", "corpus-public", "wild")]
    paths = documents(r for r in roots if os.path.isdir(r))
    if a.match:
        paths = [p for p in paths if re.search(a.match, p)]
    todo = list(runs(paths))
    with ThreadPoolExecutor(a.jobs) as pool:
        if a.load:
            with open(a.load) as fh:
                before = json.load(fh)
        else:
            before = dict(zip((key(*t) for t in todo), pool.map(lambda t: digest(a.old, *t), todo)))
        if a.save and not a.match:
            with open(a.save, "w") as fh:
                json.dump(before, fh)
        after = list(pool.map(lambda t: digest(a.new, *t), todo))
        differ = [key(*t) for t, d in zip(todo, after) if before.get(key(*t)) != d]
        if a.save_new and not a.match:
            with open(a.save_new, "w") as fh:
                json.dump(dict(zip((key(*t) for t in todo), after)), fh)
    for d in differ:
        print("differs:", d)
    print("golden: %d runs, %d differ" % (len(todo), len(differ)))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
