#!/usr/bin/env python3
"""Markdown table of a bench/compare.sh JSON report, for the README.

usage: bench/readme-table.py REPORT.json
One row per document and sink: lkword's median and peak RSS, each peer's
median, its ratio to lkword (above 1: lkword is faster) and peak RSS.
"""
import json
import sys


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    report = json.load(open(sys.argv[1]))
    print("| Format | Document | MB | lkword ms | lkword MB/s | Peers: ms (peer / lkword) | Peak RSS lkword / peers, MB |")
    print("|---|---|---|---|---|---|---|")
    for row in report["rows"]:
        progs = row["programs"]
        ours = progs.get("lkword", {})
        if "median_ms" not in ours:
            continue
        mb = row["bytes"] / 1e6
        name = row["file"] + (" (to a file)" if row.get("sink") == "file" else "")
        peers, rss = [], ["%.1f" % (ours["peak_rss_kb"] / 1024)]
        for name_p, p in progs.items():
            if name_p == "lkword":
                continue
            if "median_ms" not in p:
                peers.append("%s failed" % name_p)
                continue
            peers.append("%s %.1f (%.2f, n=%d)" % (name_p, p["median_ms"], p["median_ms"] / ours["median_ms"], p["runs"]))
            rss.append("%.1f" % (p["peak_rss_kb"] / 1024) if p.get("peak_rss_kb") else "?")
        print("| %s | `%s` | %.2f | %.1f | %.0f | %s | %s |" % (
            row["format"], name, mb, ours["median_ms"], mb / (ours["median_ms"] / 1000), "; ".join(peers), " / ".join(rss)))
    print()
    print("Measured %s on %s with %s processors; load average %s before, %s after." % (
        report["date"][:10], report["machine"], report["nproc"], report["load_before"], report["load_after"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
