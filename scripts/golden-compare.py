#!/usr/bin/env python3
"""Golden test for speed work: two builds of lkword must write byte-identical
output for every document of testdata/ and of SHARED/corpus and
SHARED/corpus-public, in text, RTF and HTML, with the notes, macros and
metadata as text and as JSON, and cut at a length limit.

usage: golden-compare.py OLD_LKWORD NEW_LKWORD [SHARED]
Exits 1 listing the documents whose output differs.
"""
import os
import re
import subprocess
import sys

SKIP = (".md", ".py", ".sh", ".txt", ".json", ".png", ".password")
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


def run(tool, mode, path):
    proc = subprocess.run([tool] + mode + [path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return proc.returncode, CLOCK.sub(rb"\\\1", proc.stdout), proc.stderr


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    old, new = sys.argv[1], sys.argv[2]
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    roots = [os.path.join(root, "testdata")]
    if len(sys.argv) == 4:
        roots += [os.path.join(sys.argv[3], "corpus"), os.path.join(sys.argv[3], "corpus-public")]
    checked, differ = 0, []
    for path in documents(r for r in roots if os.path.isdir(r)):
        for mode in MODES:
            checked += 1
            if run(old, mode, path) != run(new, mode, path):
                differ.append("%s %s" % (" ".join(mode), path))
    for d in differ:
        print("differs:", d)
    print("golden: %d runs, %d differ" % (checked, len(differ)))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
