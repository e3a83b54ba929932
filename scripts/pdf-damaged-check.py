#!/usr/bin/env python3
"""The accuracy check of the damaged corpus PDFs that lose pages.

    LKWORD=path/to/lkword scripts/pdf-damaged-check.py SHARED

A truncated file or one with a corrupted content stream cannot give the whole
truth; what it must give is the text of the pages that survive. For each such
file the table below names the undamaged document it was made from and its
intact pages. The reference is lkword's own text of those pages of that
document (which the ordinary check holds to the truth), so the damaged file
passes when:
  - lkword ends normally (text, or an error message; no crash or hang),
  - the reference words are found (recall >= 0.98) in order (>= 0.95),
  - at most 5% of its words are foreign to the document's truth (the damaged
    page may give a few stray words, no more).
A damaged file of the corpus that the table does not know fails, so new files
get a record. Exit status 1 when any file fails.
"""
import glob
import os
import subprocess
import sys

# damaged file -> (undamaged source, intact pages, 1-based)
INTACT = {
    "dmg-corrupt-flate-p2.pdf": ("lo-report.pdf", [1, 3, 4]),
    "dmg-truncated90-linearized.pdf": ("var-linearized.pdf", [1, 2]),
    "dmg-truncated90.pdf": ("lo-report.pdf", []),
}
PATTERNS = ("dmg-truncated*.pdf", "dmg-corrupt*.pdf")
SEPARATOR = "-" * 20
MIN_RECALL, MIN_ORDER, MAX_FOREIGN = 0.98, 0.95, 0.05


def extract(lkword, path):
    try:
        res = subprocess.run([lkword, "--", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    except subprocess.TimeoutExpired:
        return None, "timeout"
    return res.stdout.decode("utf-8", "replace"), res.returncode


def pages_of(text):
    """The page texts of lkword's plain output (the part before the first separator is the header)."""
    chunks, cur = [], None
    for line in text.split("\n"):
        if line == SEPARATOR:
            if cur is not None:
                chunks.append("\n".join(cur))
            cur = []
        elif cur is not None:
            cur.append(line)
    if cur is not None:
        chunks.append("\n".join(cur))
    return chunks


def read(path):
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as fh:
        return fh.read()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n\n")[1])
    shared = sys.argv[1]
    lkword = os.environ["LKWORD"]
    corpus = os.path.join(shared, "corpus", "pdf")
    sys.path.insert(0, os.path.join(shared, "tools"))
    import textscore  # noqa: E402

    failed = 0
    names = sorted({os.path.basename(p) for pat in PATTERNS for p in glob.glob(os.path.join(corpus, pat))})
    for name in names:
        if name not in INTACT:
            print(f"damaged {name}: FAIL (no record of its intact pages)")
            failed += 1
            continue
        source, intact = INTACT[name]
        text, rc = extract(lkword, os.path.join(corpus, name))
        problems = []
        if text is None or rc not in (0, 1):
            problems.append(f"lkword ended with {rc}")
            text = text or ""
        base, base_rc = extract(lkword, os.path.join(corpus, source))
        base_pages = pages_of(base or "")
        if any(p > len(base_pages) for p in intact):
            problems.append(f"{source} gave {len(base_pages)} pages")
        reference = "\n".join(base_pages[p - 1] for p in intact if p <= len(base_pages))
        truth = read(os.path.join(corpus, name + ".truth.txt")) or ""
        extra = read(os.path.join(corpus, name + ".extra.txt"))
        whole = textscore.score_texts(truth, text, extra)
        kept = textscore.score_texts(reference, text) if reference.strip() else None
        if kept and kept["recall"] < MIN_RECALL:
            problems.append(f"recall of the intact pages {kept['recall']:.4f}")
        if kept and kept["order"] < MIN_ORDER:
            problems.append(f"order {kept['order']:.4f}")
        if whole["garbage"] > MAX_FOREIGN:
            problems.append(f"foreign words {whole['garbage']:.4f}")
        detail = (f"pages {intact} of {source}: recall {kept['recall']:.4f} order {kept['order']:.4f}"
                  if kept else "no intact page")
        print(f"damaged {name}: {'PASS' if not problems else 'FAIL'} ({detail}; exit {rc}; "
              f"foreign {whole['garbage']:.4f}{'; ' + ', '.join(problems) if problems else ''})")
        failed += bool(problems)
    print(f"damaged summary: {len(names) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
