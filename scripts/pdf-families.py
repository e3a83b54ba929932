#!/usr/bin/env python3
"""Mean F1 and order per PDF producer family: lkword next to pdftotext and mutool.

    scripts/pdf-families.py LKWORD SHARED [--glob PATTERN] [--tools lkword,pdftotext,mutool]
                            [--files]

A family is the corpus file name up to its first '-' (lo, pdflatex, enc, ...).
Every document of SHARED/corpus/pdf is extracted by each tool and scored with
SHARED/tools/textscore.py (running heads listed in *.extra.txt are allowed).
Encrypted documents are opened with the password kept beside them
(DOC.pdf.password). The last column says whether lkword is at least as good
as the better peer on both F1 and order. --files also prints every document.
"""
import argparse
import json
import os
import shlex
import subprocess
import sys
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))


def password_of(doc):
    path = doc + ".password"
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as fh:
        return fh.read().rstrip("\r\n")


def run_tool(tool, doc, out):
    """Extracts doc with tool into out (called by textscore through --run)."""
    pw = password_of(doc)
    if tool == "lkword":
        cmd = [os.environ["LKWORD"]]
        if pw is not None:
            cmd.append("--password=" + pw)
        cmd += ["-o", out, "--", doc]
    elif tool == "pdftotext":
        cmd = ["pdftotext", "-q", "-enc", "UTF-8"]
        if pw is not None:
            cmd += ["-upw", pw]
        cmd += [doc, out]
    elif tool == "mutool":
        cmd = ["mutool", "draw", "-q", "-F", "txt", "-o", out]
        if pw is not None:
            cmd += ["-p", pw]
        cmd.append(doc)
    else:
        sys.exit("unknown tool " + tool)
    return subprocess.call(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def score(tool, corpus, scorer, glob):
    cmd = " ".join(map(shlex.quote, [sys.executable, os.path.abspath(__file__), "--run", tool])) + " {in} {out}"
    args = [sys.executable, scorer, "--corpus", corpus, "--cmd", cmd, "--json"]
    if glob:
        args += ["--glob", glob]
    res = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        data = json.loads(res.stdout)
    except json.JSONDecodeError:
        sys.exit(f"pdf-families: textscore gave no JSON for {tool}")
    scores = {}
    for r in data["results"]:
        name = os.path.basename(r.get("document") or r.get("doc") or r.get("file") or "")
        scores[name] = (float(r.get("f1") or 0.0), float(r.get("order") or 0.0))
    return scores


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--run":
        sys.exit(run_tool(sys.argv[2], sys.argv[3], sys.argv[4]))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("lkword")
    ap.add_argument("shared")
    ap.add_argument("--glob")
    ap.add_argument("--tools", default="lkword,pdftotext,mutool")
    ap.add_argument("--files", action="store_true", help="also print every document")
    a = ap.parse_args()
    os.environ["LKWORD"] = os.path.abspath(a.lkword)
    corpus = os.path.join(a.shared, "corpus", "pdf")
    scorer = os.path.join(a.shared, "tools", "textscore.py")
    tools = [t for t in a.tools.split(",") if t]
    results = {t: score(t, corpus, scorer, a.glob) for t in tools}

    docs = sorted(set().union(*[set(r) for r in results.values()]))
    if a.files:
        print(f"{'document':40}" + "".join(f" {t[:9]+' F1':>12} {'order':>6}" for t in tools))
        for d in docs:
            row = f"{d[:40]:40}"
            for t in tools:
                f1, order = results[t].get(d, (0.0, 0.0))
                row += f" {f1:12.4f} {order:6.4f}"
            print(row)
        print()

    families = defaultdict(list)
    for d in docs:
        families[d.split("-", 1)[0]].append(d)
    print(f"{'family':12} {'n':>3}" + "".join(f" {t[:9]+' F1':>12} {'order':>6}" for t in tools) + "  ok")
    for fam in sorted(families):
        names = families[fam]
        means = {}
        for t in tools:
            vals = [results[t].get(d, (0.0, 0.0)) for d in names]
            means[t] = (sum(v[0] for v in vals) / len(vals), sum(v[1] for v in vals) / len(vals))
        row = f"{fam:12} {len(names):3}" + "".join(f" {means[t][0]:12.4f} {means[t][1]:6.4f}" for t in tools)
        if "lkword" in means and len(tools) > 1:
            peers = [means[t] for t in tools if t != "lkword"]
            best_f1 = max(p[0] for p in peers)
            best_order = max(p[1] for p in peers)
            ok = means["lkword"][0] >= best_f1 - 1e-9 and means["lkword"][1] >= best_order - 1e-9
            row += "  " + ("yes" if ok else "NO")
        print(row)


if __name__ == "__main__":
    main()
