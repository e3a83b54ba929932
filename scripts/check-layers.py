#!/usr/bin/env python3
"""Fails when an include points up the layers or across reader folders.

Layers, lowest first: platform; crypto and framework (beside each other, not
into each other); containers; the readers word, readers and pdf (not into each
other); registry; the tool and the bindings. Tests may also include the
test-support folder testing/, which nothing in the library may include.

usage: check-layers.py [ROOT]   (ROOT: the checkout, by default this script's parent)
"""
import os
import re
import sys

RANK = {"platform": 0, "crypto": 1, "framework": 1, "containers": 2, "word": 3, "readers": 3, "pdf": 3,
        "registry": 4, "tools": 5, "bindings": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer(path):
    parts = path.split("/")
    if parts[0] == "lkword" and len(parts) > 2:
        return parts[1]
    if parts[0] in ("tools", "bindings"):
        return parts[0]
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    bad = []
    for top in ("lkword", "tools", "bindings"):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                rel = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
                src = layer(rel)
                test = name.endswith(("_test.cpp", "_test.c"))
                with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as fh:
                    includes = INCLUDE.findall(fh.read())
                for inc in includes:
                    dst = layer(inc)
                    if inc.startswith("testing/"):
                        if not test:
                            bad.append("%s: %s (test support outside a test)" % (rel, inc))
                        continue
                    if dst is None or src is None or dst == src:
                        continue
                    if dst not in RANK or src not in RANK:
                        bad.append("%s: %s (unknown layer)" % (rel, inc))
                    elif RANK[dst] >= RANK[src]:
                        bad.append("%s: %s (%s may not include %s)" % (rel, inc, src, dst))
    for b in bad:
        print("layers:", b)
    print("layers: %d upward or sideways includes" % len(bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
