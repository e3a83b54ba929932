#!/usr/bin/env python3
"""Checks that `lkword --notes` brings out the secondary texts (footnotes,
endnotes, headers, footers) that the corpus lists in DOC.extra.txt.

usage: scripts/check-notes.py LKWORD CORPUS_DIR...

A line of an extra file passes when its words appear, in order and
adjacent, among the words of the output; a leading note number and a
"Header"/"Footer" label are the corpus's own labels and are not required.
"""
import re
import subprocess
import sys
from pathlib import Path


def words(text):
    return re.findall(r"\w+", text.lower())


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-5], file=sys.stderr)
        return 2
    tool, dirs = sys.argv[1], sys.argv[2:]
    failed = 0
    for folder in dirs:
        for extra in sorted(Path(folder).glob("*.extra.txt")):
            doc = extra.with_name(extra.name[: -len(".extra.txt")])
            run = subprocess.run([tool, "--notes", str(doc)], capture_output=True, timeout=120)
            found = " " + " ".join(words(run.stdout.decode("utf-8", "replace"))) + " "
            missing = []
            for line in extra.read_text(encoding="utf-8").splitlines():
                w = words(line)
                if w and w[0].isdigit():
                    w = w[1:]
                if w and w[0] in ("header", "footer"):
                    w = w[1:]
                if w and " " + " ".join(w) + " " not in found:
                    missing.append(line.strip())
            if run.returncode != 0 or missing:
                failed += 1
                print(f"notes: {doc.name}: rc {run.returncode}, {len(missing)} missing, e.g. {missing[:2]}")
    print(f"notes: {'all secondary texts found' if not failed else f'{failed} documents miss secondary texts'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
