#!/usr/bin/env python3
"""The Python package over a corpus: extract_many with one thread and with
two, against a subprocess of the tool per document (what a Python program
did before the package: run `lkword --json FILE` and parse its line), one at
a time and two at a time. Each way is run REPEATS times; the medians of the
wall-clock seconds are printed with their ratios. As a measure of what the
machine gives two workers at the time, the tool also reads the whole corpus
in one process, and in two processes of half the corpus each: on a machine
shared with other work, jobs=2 cannot gain more than those two do.

usage: PYTHONPATH=BUILD/python bench/python_batch.py LKWORD SHARED [--repeats N]
"""
import argparse
import concurrent.futures
import json
import os
import statistics
import subprocess
import sys
import time

import lkword

SKIP = (".txt", ".md", ".json", ".password")


def corpus(shared):
    root = os.path.join(shared, "corpus")
    files = []
    for folder, _, names in os.walk(root):
        files += [os.path.join(folder, n) for n in names if not n.endswith(SKIP)]
    return sorted(files)


def by_package(files, jobs):
    return sum(len(d.text) for d in lkword.extract_many(files, jobs=jobs))


def by_tool(tool, files, jobs):
    def one(path):
        run = subprocess.run([tool, "--json", path], capture_output=True)
        return len(json.loads(run.stdout)["text"])

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        return sum(pool.map(one, files))


def by_tool_processes(tool, files, parts):
    # One job each: the tool would otherwise run a job per processor itself.
    runs = [subprocess.Popen([tool, "-j1", *files[i::parts]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for i in range(parts)]
    for run in runs:
        run.wait()
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("lkword")
    ap.add_argument("shared")
    ap.add_argument("--repeats", type=int, default=5)
    a = ap.parse_args()
    files = corpus(a.shared)
    ways = {
        "extract_many jobs=1": lambda: by_package(files, 1),
        "extract_many jobs=2": lambda: by_package(files, 2),
        "tool subprocess per document, 1 at a time": lambda: by_tool(a.lkword, files, 1),
        "tool subprocess per document, 2 at a time": lambda: by_tool(a.lkword, files, 2),
        "reference: tool, 1 process for all": lambda: by_tool_processes(a.lkword, files, 1),
        "reference: tool, 2 processes of half each": lambda: by_tool_processes(a.lkword, files, 2),
    }
    times = {name: [] for name in ways}
    chars = {}
    # Interleaved, so that the load of other processes falls on every way.
    for _ in range(a.repeats):
        for name, way in ways.items():
            start = time.perf_counter()
            chars[name] = way()
            times[name].append(time.perf_counter() - start)
    med = {name: statistics.median(t) for name, t in times.items()}
    print("%d documents, %d repeats, median seconds" % (len(files), a.repeats))
    for name in ways:
        print("  %-45s %7.3f  (min %.3f, max %.3f, %d chars)" % (name, med[name], min(times[name]),
                                                                max(times[name]), chars[name]))
    j1, j2 = med["extract_many jobs=1"], med["extract_many jobs=2"]
    print("jobs=2 vs jobs=1: %.2fx" % (j1 / j2))
    print("jobs=1 vs subprocess 1 at a time: %.2fx" % (med["tool subprocess per document, 1 at a time"] / j1))
    print("jobs=2 vs subprocess 2 at a time: %.2fx" % (med["tool subprocess per document, 2 at a time"] / j2))
    print("jobs=2 vs subprocess 1 at a time: %.2fx" % (med["tool subprocess per document, 1 at a time"] / j2))
    print("reference, 2 tool processes vs 1: %.2fx" % (med["reference: tool, 1 process for all"] /
                                                      med["reference: tool, 2 processes of half each"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
