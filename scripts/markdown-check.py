#!/usr/bin/env python3
"""Reads the tool's Markdown back and compares its words with the plain text.

    scripts/markdown-check.py [--jobs N] [--parser pandoc|cmark] [--show N] LKWORD DIR...

Every document under DIR (peer texts, truth files and manifests are skipped)
is extracted twice, as plain text and with -f markdown. The Markdown goes
through a CommonMark parser (pandoc's GitHub reader, which knows pipe tables,
or cmark) to HTML; the words of that HTML's text are scored against the plain
text's (word F1 as textscore counts it; list labels at a line's start of the
plain text are allowed, as ordered lists hold them as markers). A document passes at F1 >= 0.99.
Prints the failures, the worst first, and a summary; exits 1 when any fails.
"""
import argparse
import concurrent.futures
import html
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "tools"))
try:
    import textscore  # noqa: E402
except ImportError:  # run from elsewhere: give the tools folder on PYTHONPATH
    textscore = None

SKIP = re.compile(r"\.(txt|json|tsv|md|py|sh)$|MANIFEST|README", re.I)
TAG = re.compile(r"<[^>]*>")
PASS_F1 = 0.99
# Word's hollow bullet is a Courier New "o": a glyph, which Markdown writes as
# its own bullet marker.
LETTER_BULLET = re.compile(r"^[ \t]*o(?=[ \t])", re.MULTILINE)


def documents(dirs):
    for d in dirs:
        for root, _, files in os.walk(d):
            for f in sorted(files):
                if not SKIP.search(f):
                    yield os.path.join(root, f)


def run(cmd, data=None, timeout=120):
    try:
        p = subprocess.run(cmd, input=data, capture_output=True, timeout=timeout)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        return -1, b""


# Footnote references and definitions, which cmark does not know: a parser
# that does shows the label as a mark right after the word.
FOOTNOTE_REF = re.compile(rb"\[\^([A-Za-z0-9-]+)\](?!:)")
FOOTNOTE_DEF = re.compile(rb"^\[\^([A-Za-z0-9-]+)\]: ", re.M)


def readback(md, parser):
    cmd = ["pandoc", "-f", "gfm", "-t", "html", "--wrap=none"] if parser == "pandoc" else ["cmark", "--unsafe"]
    if parser == "cmark":
        md = FOOTNOTE_DEF.sub(rb"\1 ", FOOTNOTE_REF.sub(rb"\1", md))
    rc, out = run(cmd, md)
    if rc != 0:
        return None
    text = out.decode("utf-8", "replace")
    # Block ends and <br> part words as the plain text's line ends do.
    text = re.sub(r"<(br|/?p|/?h\d|/?li|/?td|/?th|/?tr|/?pre|/?ul|/?ol|/?table|/?blockquote)\b[^>]*>", "\n", text)
    # Inline elements (links, emphasis) may stand inside a word.
    return html.unescape(TAG.sub("", text))


def check(tool, path, parser):
    rc1, plain = run([tool, "--quiet", path])
    rc2, md = run([tool, "--quiet", "-f", "markdown", path])
    if rc1 != rc2:
        return path, 0.0, "exit %d for text, %d for markdown" % (rc1, rc2)
    back = readback(md, parser)
    if back is None:
        return path, 0.0, "the parser failed"
    p = plain.decode("utf-8", "replace")
    if not textscore.tokenize(p) and not textscore.tokenize(back):
        return path, 1.0, ""
    # Ordered lists keep their numbers as list markers, which the parser
    # turns into structure: the plain text's labels count as allowed words.
    bullets = " ".join(m.group(0) for m in LETTER_BULLET.finditer(p))
    s = textscore.score_texts(back, p, extra_text=bullets, labels=True)
    return path, s["f1"], ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("tool")
    ap.add_argument("dirs", nargs="+")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--parser", choices=("pandoc", "cmark"), default="pandoc")
    ap.add_argument("--show", type=int, default=40)
    a = ap.parse_args()
    if textscore is None:
        sys.exit("textscore.py not found: put the shared tools folder on PYTHONPATH")
    paths = list(documents(a.dirs))
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as ex:
        results = list(ex.map(lambda p: check(a.tool, p, a.parser), paths))
    failed = sorted((r for r in results if r[1] < PASS_F1), key=lambda r: r[1])
    for path, f1, why in failed[: a.show]:
        print("%.4f  %s  %s" % (f1, path, why))
    mean = sum(r[1] for r in results) / max(1, len(results))
    print("%d documents, %d below F1 %.2f, mean F1 %.4f, min %.4f" %
          (len(results), len(failed), PASS_F1, mean, min((r[1] for r in results), default=1.0)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
