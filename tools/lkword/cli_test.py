#!/usr/bin/env python3
"""Command-line tests of lkword, as data: arguments, exit code, expected
stdout/stderr fragments, and an optional check of the whole result.

usage: LKWORD=path/to/lkword cli_test.py TESTDATA_DIR
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

LKWORD = os.environ.get("LKWORD", "lkword")
if os.sep in LKWORD:  # the cases run in a scratch folder
    LKWORD = os.path.abspath(LKWORD)
TESTDATA = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "testdata")
SAMPLES = os.path.join(TESTDATA, "samples")
SOURCES = os.path.join(TESTDATA, "samples-src")
LIGHTHOUSE = os.path.join(SAMPLES, "lighthouse.pdb")
HARBOUR = os.path.join(SAMPLES, "harbour-notes.pdb")


def palmdoc(name, records, type_creator=b"TEXtREAd"):
    """An uncompressed PalmDoc database holding the given text records."""
    count = len(records) + 1
    first = 78 + 8 * count + 2
    record0 = struct.pack(">HHIHHI", 1, 0, sum(map(len, records)), len(records), 4096, 0)
    body = [record0] + records
    offsets, pos = [], first
    for rec in body:
        offsets.append(pos)
        pos += len(rec)
    header = name.ljust(32, b"\0")[:32] + bytes(28) + type_creator + bytes(8) + struct.pack(">H", count)
    table = b"".join(struct.pack(">II", off, i) for i, off in enumerate(offsets))
    return header + table + b"\0\0" + b"".join(body)


# What plain text puts before each PDF page by default.
RULE = "\n" + "-" * 20 + "\n"


def output_is(expected):
    return lambda out, err, tmp: None if out == expected else "output %r" % out


def page_texts(expected):
    """The JSON lines' page_texts, in input order."""
    def check(out, err, tmp):
        got = [r["page_texts"] for r in records(out)]
        if got != expected:
            return "page_texts %r" % got
        if records(out)[0]["pages"] != 4:
            return "pages %r" % records(out)[0]["pages"]
    return check


def cut(path, share):
    with open(path, "rb") as f:
        data = f.read()
    return data[:int(len(data) * share)]


def words(text):
    return " ".join(text.split())


def source_text(name, encoding="utf-8"):
    with open(os.path.join(SOURCES, name), encoding=encoding, newline="") as f:
        return f.read()


def vba_compress(data):
    """A compressed VBA container holding data as literals only (one chunk per 4096 bytes)."""
    out = b"\x01"
    for start in range(0, len(data), 4096):
        chunk = data[start:start + 4096]
        body = b"".join(b"\0" + chunk[i:i + 8] for i in range(0, len(chunk), 8))
        out += struct.pack("<H", 0xB000 | (len(body) - 1)) + body
    return out


def compound(streams):
    """A version 3 compound file holding streams {"path/name": bytes}; each stream is padded to 4096
    bytes so that none goes to the mini stream."""
    entries = [["Root Entry", 5, [], b""]]
    index = {"": 0}
    for path in streams:
        parts = path.split("/")
        for depth in range(1, len(parts) + 1):
            key = "/".join(parts[:depth])
            if key not in index:
                index[key] = len(entries)
                leaf = depth == len(parts)
                entries.append([parts[depth - 1], 2 if leaf else 1, [], streams[path].ljust(4096, b"\0") if leaf else b""])
                entries[index["/".join(parts[:depth - 1])]][2].append(index[key])
    dir_sectors = (len(entries) + 3) // 4
    fat = [0xFFFFFFFD] + [i + 1 if i < dir_sectors else 0xFFFFFFFE for i in range(1, dir_sectors + 1)]
    starts, data = {}, b""
    for i, (_, kind, _, body) in enumerate(entries):
        if kind == 2:
            starts[i] = len(fat)
            n = len(body) // 512
            fat += [len(fat) + k + 1 for k in range(n - 1)] + [0xFFFFFFFE]
            data += body
    assert len(fat) <= 128
    fat += [0xFFFFFFFF] * (128 - len(fat))
    # Siblings as a right-leaning chain in the container's name order.
    order = lambda i: (len(entries[i][0]), entries[i][0].upper())
    links = {}
    for i, (_, _, kids, _) in enumerate(entries):
        kids = sorted(kids, key=order)
        links[i] = kids[0] if kids else 0xFFFFFFFF
        for a, b in zip(kids, kids[1:] + [None]):
            links[("right", a)] = b if b is not None else 0xFFFFFFFF
    directory = b""
    for i, (name, kind, _, body) in enumerate(entries):
        raw = name.encode("utf-16-le")
        directory += (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw) + 2, kind, 1)
                      + struct.pack("<III", 0xFFFFFFFF, links.get(("right", i), 0xFFFFFFFF), links[i] if kind != 2 else 0xFFFFFFFF)
                      + bytes(36) + struct.pack("<IQ", starts.get(i, 0xFFFFFFFE), len(body)))
    directory = directory.ljust(dir_sectors * 512, b"\0")
    header = (b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + bytes(16) + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6)
              + bytes(10) + struct.pack("<IIIIIIII", 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
              + struct.pack("<I", 0) + b"\xFF" * (436 - 4))
    return header + struct.pack("<128I", *fat) + directory + data


def macro_document(module_source, damage_dir=False):
    """A Word file (its document stream empty) whose macros are one module, named by the "dir"
    records only, stored 16 bytes into its stream."""
    def record(rid, data):
        return struct.pack("<HI", rid, len(data)) + data
    name = b"Module1"
    dir_records = (record(0x0003, struct.pack("<H", 1252)) + record(0x000F, struct.pack("<H", 1))
                   + record(0x0019, name) + record(0x001A, name) + record(0x0032, name.decode().encode("utf-16-le"))
                   + record(0x0031, struct.pack("<I", 16)) + record(0x002B, b"") + record(0x0010, b""))
    dir_stream = vba_compress(dir_records)
    if damage_dir:
        dir_stream = dir_stream[:20]
    return compound({"WordDocument": b"", "Macros/PROJECT": b"Module=Module1\r\n",
                     "Macros/VBA/_VBA_PROJECT": b"\xCC\x61\xFF\xFF\x00\x00\x00", "Macros/VBA/dir": dir_stream,
                     "Macros/VBA/Module1": b"p-code p-code p-" + vba_compress(module_source)})


MACRO_SOURCE = b'Attribute VB_Name = "Module1"\r\nSub Greet()\r\n    MsgBox "Caf\xe9"\r\nEnd Sub\r\n'


def lacks(text):
    def check(out, err, tmp):
        if text in out:
            return "stdout has %r" % text
    return check


# --- whole-result checks: each gets (stdout, stderr, tmp) and returns an
# error message or None.

# Lines longer than the tool writes at a time, with a line break and a
# character outside the BMP right where it cuts them.
LONG_LINES = "a" * 65535 + "\nb\n" + "c" * 65535 + "\U0001F600d\n"


def long_lines(json_output):
    def check(out, err, tmp):
        got = json.loads(out)["text"].rstrip("\n") + "\n" if json_output else out
        if got != LONG_LINES:
            return "long lines differ at %d" % next(i for i, (a, b) in enumerate(zip(got + "~", LONG_LINES + "~")) if a != b)
    return check


def docx(body):
    """A minimal Word package whose body holds the given paragraph markup."""
    import io
    import zipfile
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("word/document.xml", '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://'
                   'schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>' + body + "</w:body></w:document>")
    return buf.getvalue()


def odt(body, header, footer):
    """A minimal OpenDocument text with one master page's header and footer."""
    import io
    import zipfile
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"')
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("mimetype", "application/vnd.oasis.opendocument.text")
        z.writestr("content.xml", "<office:document-content %s><office:body><office:text><text:p>%s</text:p>"
                   "</office:text></office:body></office:document-content>" % (ns, body))
        z.writestr("styles.xml", "<office:document-styles %s><office:master-styles><style:master-page>"
                   "<style:header><text:p>%s</text:p></style:header><style:footer><text:p>%s</text:p>"
                   "</style:footer></style:master-page></office:master-styles></office:document-styles>"
                   % (ns, header, footer))
    return buf.getvalue()


def declare_size(package, member, size):
    """The zip with Member's uncompressed size claimed to be Size in both of
    its headers: a bomb in a few hundred bytes."""
    b = bytearray(package)
    for sig, size_at, name_len_at, name_at in ((b"PK\x03\x04", 22, 26, 30), (b"PK\x01\x02", 24, 28, 46)):
        at = b.find(sig)
        while at >= 0:
            n = struct.unpack_from("<H", b, at + name_len_at)[0]
            if b[at + name_at:at + name_at + n] == member.encode():
                struct.pack_into("<I", b, at + size_at, size)
            at = b.find(sig, at + 4)
    return bytes(b)


def same_words_as_source(name, encoding="utf-8"):
    def check(out, err, tmp):
        if words(out) != words(source_text(name, encoding)):
            return "text differs from the sample's source"
    return check


def no_carriage_returns(out, err, tmp):
    if "\r" in out:
        return "CR left in plain text"
    if "Monday\t06:12\t18:40\nTuesday" not in out:
        return "CR LF not turned into LF"


def json_lines(expect):
    """expect: list of (path suffix, reader, text fragment, metadata, error fragment or None)."""
    def check(out, err, tmp):
        lines = out.splitlines()
        if len(lines) != len(expect):
            return "%d JSON lines, expected %d" % (len(lines), len(expect))
        for line, (path, reader, fragment, meta, error) in zip(lines, expect):
            rec = json.loads(line)
            if list(rec) != ["path", "reader", "format", "text", "metadata", "pages", "warnings", "error", "error_kind",
                             "partial", "page_texts"]:
                return "fields %s" % list(rec)
            if not rec["path"].endswith(path) or rec["reader"] != reader:
                return "path/reader %r %r" % (rec["path"], rec["reader"])
            if fragment not in rec["text"]:
                return "text lacks %r" % fragment
            if rec["metadata"] != meta:
                return "metadata %r" % rec["metadata"]
            if (error is None) != (rec["error"] is None) or (error and error not in rec["error"]):
                return "error %r" % rec["error"]
    return check


def control_characters_survive(out, err, tmp):
    rec = json.loads(out)
    expected = "tab\there \x01\x1b bell\x07 \u0081 \"q\" back\\slash\n"
    if rec["text"].strip("\n") != expected.strip("\n"):
        return "text %r" % rec["text"]


def at_most(limit):
    def check(out, err, tmp):
        text = out.replace("\n", "")
        if not 0 < len(text) <= limit:
            return "%d characters of text for a limit of %d" % (len(text), limit)
        if not words(source_text("lighthouse.txt")).startswith(words(out)):
            return "not the start of the text"
    return check


def output_file_matches(out, err, tmp):
    if out:
        return "stdout not empty"
    with open(os.path.join(tmp, "out.txt"), encoding="utf-8") as f:
        written = f.read()
    direct = run([LIGHTHOUSE], None, tmp)[1]
    if written != direct:
        return "file differs from standard output"


def html_is_utf8(out, err, tmp):
    if "charset=utf-8" not in out or "charset=windows-" in out:
        return "charset not rewritten"
    if not out.startswith("<html>") or not out.rstrip().endswith("</html>"):
        return "not framed as HTML"


def reads_back_as(*elements):
    """A CommonMark parser (cmark, where installed) finds these elements in the Markdown."""
    def check(out, err, tmp):
        if not shutil.which("cmark"):
            return None
        html = subprocess.run(["cmark"], input=out.encode(), capture_output=True).stdout.decode()
        missing = [e for e in elements if e not in html]
        if missing:
            return "not read back: %s" % missing
    return check


def footnotes_read_back(count):
    """pandoc (where installed) pairs each footnote with its reference."""
    def check(out, err, tmp):
        if not shutil.which("pandoc"):
            return None
        html = subprocess.run(["pandoc", "-f", "gfm", "-t", "html"], input=out.encode(), capture_output=True).stdout.decode()
        refs, backs = html.count('class="footnote-ref"'), html.count('class="footnote-back"')
        if refs != count or backs != count:
            return "%d references, %d footnotes read back" % (refs, backs)
    return check


def metadata_last(out, err, tmp):
    lines = out.rstrip("\n").split("\n")
    if lines[-1] != "Title: The Lighthouse Keeper's Ledger":
        return "last line %r" % lines[-1]
    if any(re.match(r"^\w+: $", l) for l in lines):
        return "empty field listed"


def help_lists_every_option(out, err, tmp):
    for opt in ("--format", "-f,", "--output", "-o,", "--metadata", "-m,", "--json", "--max-length",
                "--reader", "--version", "--help", "pdb", "-r,", "--recursive", "-j,", "--jobs", "-q,", "--quiet",
                "--metadata-keys", "--files-from", "--keep-going", "--notes", "--macros", "--password", "--cover",
                "--hidden", "--first-page", "--last-page", "--page-break", "error_kind", "page_texts"):
        if opt not in out:
            return "help lacks %s" % opt


def records(out):
    return [json.loads(line) for line in out.splitlines()]


def tree_in_name_order(out, err, tmp):
    recs = records(out)
    got = [(r["path"], r["reader"], r["error_kind"]) for r in recs]
    want = [("tree/a.pdb", "pdb", None), ("tree/b/a.txt", None, "unsupported"), ("tree/b/z.pdb", "pdb", None)]
    if got != want:
        return "records %r" % got


def same_as_one_job(args):
    """The output of -j4 is byte for byte that of -j1."""
    def check(out, err, tmp):
        single = run(["-j1"] + [a.replace("{S}", SAMPLES) for a in args], None, tmp)[1]
        if out != single:
            return "output differs from -j1"
    return check


def paths_in_order(expected):
    def check(out, err, tmp):
        got = [r["path"] for r in records(out)]
        want = [p.replace("{S}", SAMPLES) for p in expected]
        if got != want:
            return "paths %r" % got
    return check


def mirrored_tree(json_mode):
    def check(out, err, tmp):
        if out:
            return "stdout not empty"
        ext = ".json" if json_mode else ".txt"
        root = os.path.join(tmp, "out")
        found = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)
        sample = os.path.join(SAMPLES.lstrip("/"), "lighthouse.pdb" + ext)
        want = sorted(["tree/a.pdb" + ext, "tree/b/z.pdb" + ext, sample] + (["tree/b/a.txt.json"] if json_mode else []))
        if found != want:
            return "outputs %r" % found
        with open(os.path.join(root, "tree/a.pdb" + ext), encoding="utf-8") as f:
            written = f.read()
        direct = run((["--json"] if json_mode else []) + ["tree/a.pdb"], None, tmp)[1]
        if written != direct:
            return "tree/a.pdb output differs from a run on it alone"
        if json_mode:
            with open(os.path.join(root, "tree/b/a.txt.json"), encoding="utf-8") as f:
                if json.loads(f.read())["error_kind"] != "unsupported":
                    return "a.txt.json lacks its error"
    return check


def first_output_kept(out, err, tmp):
    path = os.path.join(tmp, "out", SAMPLES.lstrip("/"), "lighthouse.pdb.txt")
    if not os.path.exists(path):
        return "the first input's output is gone"
    with open(path, encoding="utf-8") as f:
        if f.read() != run([LIGHTHOUSE], None, tmp)[1]:
            return "the first input's output was changed"


def streams_results(out, err, tmp):
    """--files-from=- writes each result before the list ends."""
    proc = subprocess.Popen([LKWORD, "--json", "-j2", "--files-from=-"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=tmp)
    try:
        for path in (SAMPLES + "/lighthouse.pdb", SAMPLES + "/harbour-notes.pdb"):
            proc.stdin.write((path + "\n").encode())
            proc.stdin.flush()
            line = proc.stdout.readline()  # the list is still open
            if json.loads(line)["path"] != path:
                return "got %r" % line[:80]
        proc.stdin.close()
        if proc.wait(timeout=30) != 0:
            return "exit %d" % proc.returncode
    finally:
        proc.kill()


def error_kinds(out, err, tmp):
    got = [r["error_kind"] for r in records(out)]
    if got != ["not_found", "unsupported", "password", "corrupt", "io", "unsupported", "limit", None]:
        return "kinds %r" % got
    if any(r["error"] is None for r in records(out)[:-1]):
        return "a failed record without its message"


def tika_keys(out, err, tmp):
    book, pdf = records(out)
    if book["metadata"] != {"Content-Type": "application/vnd.palm", "dc:title": "The Lighthouse Keeper's Ledger"}:
        return "pdb metadata %r" % book["metadata"]
    if pdf["metadata"].get("dc:title") != "Hello" or pdf["metadata"].get("xmpTPg:NPages") != pdf["pages"]:
        return "pdf metadata %r, pages %r" % (pdf["metadata"], pdf["pages"])
    if book["pages"] is not None or not isinstance(pdf["pages"], int) or pdf["pages"] < 1:
        return "pages %r %r" % (book["pages"], pdf["pages"])
    dates = [v for k, v in pdf["metadata"].items() if k.startswith("dcterms:")]
    if any(not re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", d) for d in dates):
        return "dates not in UTC: %r" % dates


def notes_apart(out, err, tmp):
    rec = json.loads(out)
    if "The barometer fell by four millibars." not in rec["notes"].get("footnotes", ""):
        return "notes %r" % rec["notes"]
    if "The barometer fell" in rec["text"]:
        return "a footnote in the body text"


def one_frame(start, end):
    """Notes and text boxes land inside the body's single RTF or HTML frame."""
    def check(out, err, tmp):
        if out.count(start) != 1 or not out.endswith(end):
            return "%d frames, ending %r" % (out.count(start), out[-40:])
        for text in ("Inside the text box.", "A comment.", "The footnote text."):
            if text in out and out.index(text) > out.rindex(end):
                return "%r after the frame" % text
    return check


def text_boxes_and_comments(out, err, tmp):
    rec = json.loads(out)
    body = rec["text"]
    if "Inside the text box." not in body or body.index("Inside the text box.") < body.index("Last paragraph."):
        return "text box not after the body: %r" % body
    if "A comment." not in rec["notes"].get("comments", "") or "A comment." in body:
        return "comments %r" % rec["notes"]
    if any(v.endswith("\n\n") for v in rec["notes"].values()):
        return "notes end in empty lines: %r" % rec["notes"]


def cut_warning(out, err, tmp):
    rec = json.loads(out)
    if rec["warnings"] != ["output cut at the maximum text length"] or rec["error"] is not None:
        return "warnings %r" % rec["warnings"]


def progress_on_a_terminal(out, err, tmp):
    """The progress bar goes to a terminal on stderr, and only there."""
    if "\r" in err:
        return "progress drawn on a pipe"
    import pty
    master, slave = pty.openpty()
    proc = subprocess.Popen([LKWORD, "-j2", "-r", "tree"], stdout=subprocess.DEVNULL, stderr=slave, cwd=tmp)
    os.close(slave)
    seen = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal is gone once the tool exits
            break
        if not chunk:
            break
        seen += chunk
    proc.wait(timeout=60)
    os.close(master)
    text = seen.decode("utf-8", "replace")
    if not re.search(r"\r\[[#.]+\] \d+/3 +[\d.]+ docs/s +ETA", text):
        return "no progress bar on the terminal: %r" % text[:200]
    if "lkword: 3 inputs, 2 done, 1 failed" not in text:
        return "no summary on the terminal"


def quiet(out, err, tmp):
    if err:
        return "stderr %r" % err


def man_page_has_every_option(out, err, tmp):
    """docs/lkword.1 keeps up with the option table."""
    with open(os.path.join(TESTDATA, "..", "docs", "lkword.1"), encoding="utf-8") as f:
        man = f.read().replace("\\-", "-")
    for opt in sorted(set(re.findall(r"--[a-z][a-z-]+", out))):
        if opt not in man:
            return "the man page lacks %s" % opt


TRY_HELP = "Try 'lkword --help'"
L = "{S}/lighthouse.pdb"
H = "{S}/harbour-notes.pdb"
MANY = [L, H, H, L, H, L, L, H, L, H, H, L]

# (name, args, stdin file or bytes, exit code, stdout fragments, stderr fragments, check)
# In args, {S} is the samples folder and {T} the test's scratch folder.
CASES = [
    ("markdown of an OpenDocument text", ["-f", "markdown", "{S}/keeper.odt"], None, 0,
     ["# The lamp\n", "3 < 4 & “quoted”", "\n- First item\n", "| Wind | Force |\n| --- | --- |\n", "Line one\\\nLine two"], [],
     reads_back_as("<h1>The lamp</h1>", "<li>First item</li>", '<a href="http://example.org/lamp">link</a>', "Line one<br />")),
    ("markdown of an e-book", ["-f", "markdown", "{S}/tidewater.epub"], None, 0,
     ["\n## The Keepers’ List\n", "\n- Lantern oil, two casks\n- Rope for the north mooring\n  - tarred, not waxed\n",
      "\n1. Check the glass\n2. Wind the clock\n", "| Light | Range |\n| --- | --- |\n| Gull Point | 12 miles |\n"], [],
     reads_back_as("<h2>The Keepers’ List</h2>", "<li>tarred, not waxed</li>", "<ol>\n<li>Check the glass</li>")),
    ("markdown of a FictionBook, a Word 97 and a WordPerfect document",
     ["-f", "markdown", "{S}/tidewater.fb2", "{S}/keeper.doc", "{S}/sample.wpd"], None, 0,
     ["| Gull Point | 12 miles |", "| Cell A2 | Cell B2 |", "**Harbour Notes**", "| Rope | 12 |"], [],
     reads_back_as("<h1>Neap Tides</h1>", "<strong>Harbour Notes</strong>", "<em>night</em>")),
    ("markdown writes notes as footnotes and escapes document text", ["-f", "md", "--notes", "{S}/keeper.docx"], None, 0,
     ["| Hour | Wind | Sea |\n| --- | --- | --- |\n| 21:00 | west, 5 | moderate |", "the west & rain",
      "rain followed.[^1] Fog", "\n[^1]: The barometer fell by four millibars.\n"], [],
     footnotes_read_back(2)),
    ("markdown footnotes of Word 97 and OpenDocument", ["-f", "md", "--notes", "{S}/keeper.doc", "{S}/keeper.odt"],
     None, 0, ["note[^1] and an endnote[^i] here.", "\n[^2]: Another footnote.\n", "\n[^i]: The endnote text.\n",
               ").[^1] Then more.", "\n[^1]: A footnote about the lamp.\n"], [], None),
    ("plain text", ["{S}/lighthouse.pdb"], None, 0,
     ["The Lighthouse Keeper's Ledger\n", "“Storm passed. All boats home.”", "café", "€40"], [],
     same_words_as_source("lighthouse.txt")),
    ("plain text normalises line ends", ["{S}/harbour-notes.pdb"], None, 0,
     ["Naïve questions", 'pay the "long" rate'], [], no_carriage_returns),
    ("rtf is escaped and framed", ["-f", "rtf", "{S}/harbour-notes.pdb"], None, 0,
     ["{\\rtf1\\ansi\\ansicpg1252", "C:\\\\harbour\\\\pump.txt \\{ask the office\\}", "Na\\u239?ve"], [], None),
    ("html is escaped and declares utf-8", ["--format=html", "{S}/harbour-notes.pdb"], None, 0,
     ["boats &lt; 12 m", "&gt; 12 m", "berth &amp; pay", "Naïve"], [], html_is_utf8),
    ("options after the files", ["{S}/lighthouse.pdb", "--format", "html"], None, 0,
     ["<body", "Maren"], [], html_is_utf8),
    ("bundled short options", ["-mfhtml", "{S}/lighthouse.pdb"], None, 0,
     ["charset=utf-8", "Title: The Lighthouse"], [], None),
    ("standard input", ["-"], LIGHTHOUSE, 0, ["ninety-one steps"], [], same_words_as_source("lighthouse.txt")),
    ("double dash ends options", ["--", "-m.pdb"], LIGHTHOUSE, 0, ["ninety-one steps"], [], None),
    ("content, not name, picks the reader", ["{T}/book.txt"], None, 0, ["ninety-one steps"], [], None),
    ("several files, one failing", ["{S}/lighthouse.pdb", "{T}/missing.pdb", "{S}/harbour-notes.pdb"], None, 1,
     ["ninety-one steps", "Harbour Notes"],
     ["lkword: {T}/missing.pdb: File {T}/missing.pdb is not found.\n"], None),
    ("missing file", ["{T}/nope.pdb"], None, 1, [], ["lkword: {T}/nope.pdb: File {T}/nope.pdb is not found.\n"], None),
    ("unsupported format", ["{T}/notes.pdb"], None, 1, [], ["lkword: {T}/notes.pdb: unsupported file format\n"], None),
    ("empty standard input", ["-"], b"", 1, [], ["lkword: -: the file is empty\n"], None),
    ("cut packages and compound files are corrupt, other containers unsupported",
     ["--json", "{T}/cut.docx", "{T}/cut.doc", "{T}/sheet.doc"], None, 1,
     ["damaged or truncated zip package", "damaged or truncated compound file"], [],
     lambda out, err, tmp: None if [r["error_kind"] for r in records(out)] == ["corrupt", "corrupt", "unsupported"]
     else "kinds %r" % [r["error_kind"] for r in records(out)]),
    ("a file cut short gives its text, marked partial, and fails",
     ["--json", "{T}/cut.pdf", "{T}/cut.pdb", "{S}/hello.pdf", "{T}/cut-late.docx"], None, 1,
     ["the file ends early", "the book ends early", "\"error_kind\":null,\"partial\":true,\"page_texts\":[\"",
      "\"error_kind\":null,\"partial\":false,\"page_texts\":[\"Hello encrypted world\\n\"]}", "\"partial\":true,\"page_texts\":null}",
      "the zip directory is missing"],
     ["lkword: {T}/cut.pdf: only part of the document could be read", "3 failed"],
     lambda out, err, tmp: None if [bool(r["text"].strip()) for r in records(out)] == [True] * 4 else "no text"),
    ("--accept-partial takes it as done; the text is the same", ["--accept-partial", "{T}/cut.pdf"], None, 0,
     [], ["warning: the file ends early"],
     lambda out, err, tmp: "reported as failed" if "only part" in err else None),
    ("a partial result keeps its output file", ["-o", "partial.txt", "{T}/cut.pdf"], None, 1, [], [],
     lambda out, err, tmp: None if os.path.getsize(os.path.join(tmp, "partial.txt")) > 0 else "output removed"),
    ("a document that cannot be read leaves no output file", ["-f", "html", "-o", "failed.html", "{T}/cut.docx"],
     None, 1, [], ["damaged or truncated zip package"],
     lambda out, err, tmp: "output left" if os.path.exists(os.path.join(tmp, "failed.html")) else None),
    ("a compound file of another kind", ["{T}/sheet.doc"], None, 1, [], ["lkword: {T}/sheet.doc: unsupported file format\n"],
     None),
    ("forced reader reads a file of unknown content", ["--reader=pdb", "{T}/notes.pdb"], None, 1, [],
     ["lkword: {T}/notes.pdb: "], None),
    ("forced reader on its own format", ["--reader", "pdb", "{S}/lighthouse.pdb"], None, 0, ["Maren"], [], None),
    ("docx by content, notes after the body", ["--notes", "--hidden", "{S}/../docx/sample.docx"], None, 0,
     ["The Lighthouse Keeper’s Log\n", "rough\nCafé", "trip.2\n1 The barometer fell by four millibars.\n"], [], None),
    ("text boxes follow the body of a Word 97 document", ["{S}/../doc/sample.doc"], None, 0,
     ["Last paragraph.\n", "Inside the text box."], [], lacks("The footnote text.")),
    ("text boxes share the length limit", ["--max-length=180", "{S}/../doc/sample.doc"], None, 0,
     ["Last paragraph.\n", "\nInside th\n"], ["warning: output cut at the maximum text length"], lacks("Inside the")),
    ("notes stay inside the html frame", ["--notes", "-f", "html", "{S}/../doc/sample.doc"], None, 0,
     ["A comment."], [], one_frame("<html>", "</html>\r\n")),
    ("notes stay inside the rtf frame", ["--notes", "-f", "rtf", "{S}/../docx/sample.docx"], None, 0,
     ["The barometer fell"], [], one_frame("{\\rtf1", "}\r\n")),
    ("headers of an OpenDocument text only with the notes", ["{T}/headed.odt"], None, 0, ["Body & soul"], [],
     lacks("Running")),
    ("headers of an OpenDocument text inside the html frame", ["--notes", "-fhtml", "{T}/headed.odt"], None, 0,
     ["<p>Body &amp; soul</p>", "<p>Running &lt;head&gt;</p>\r\n<p>Foot</p>\r\n\r\n</body>\r\n</html>\r\n"], [],
     None),
    ("comments among the notes, text boxes in the text", ["--json", "--notes", "{S}/../doc/sample.doc"], None, 0,
     [], [], text_boxes_and_comments),
    ("docx refuses an encrypted package", ["{S}/../docx/encrypted.docx"], None, 3, [],
     ["Could not read the password protected file"], None),
    ("macros of a document without any: an empty listing", ["--json", "--macros", "{S}/lighthouse.pdb"], None, 0,
     ["\"macros\":\"\",\"pages\":null,\"warnings\":[],\"error\":null,\"error_kind\":null,\"partial\":false,\"page_texts\":null}"], [], None),
    ("macros after the body, decoded with the project code page", ["--macros", "{T}/macros.doc"], None, 0,
     ["'===================================\n'  Macro(s) from Module1\n'===================================\n"
      "Attribute VB_Name = \"Module1\"\nSub Greet()\n    MsgBox \"Café\"\nEnd Sub\n\n"], [], None),
    ("macros only when asked for", ["{T}/macros.doc"], None, 0, [], [], lacks("Macro(s)")),
    ("macros as a JSON field", ["--json", "--macros", "{T}/macros.doc"], None, 0,
     ["\"macros\":\"'===================================\\n'  Macro(s) from Module1\\n"], [], None),
    ("macros of a damaged project: an empty listing, no failure", ["--json", "--macros", "{T}/macros-damaged.doc"],
     None, 0, ["\"macros\":\"\",", "\"error\":null,"], [], None),
    ("pdf pages behind separator lines, metadata", ["-m", "{S}/../pdf/hello.pdf"], None, 0,
     ["\n--------------------\nHello encrypted world\n", "Title: Hello\n"], [], None),
    ("pdf with an empty user password opens without one", ["{S}/../pdf/rc4-40-empty.pdf"], None, 0,
     ["Hello encrypted world"], [], None),
    ("pdf user password", ["--password=user", "-m", "{S}/../pdf/rc4-128-user.pdf"], None, 0,
     ["Hello encrypted world", "Title: Hello"], [], None),
    ("pdf owner password", ["--password", "owner", "{S}/../pdf/aes256-user.pdf"], None, 0,
     ["Hello encrypted world"], [], None),
    ("pdf password as text (R4: PDFDocEncoding)", ["--password=ärger", "{S}/../pdf/aes128-user-cleartextmeta.pdf"],
     None, 0, ["Hello encrypted world"], [], None),
    ("pdf without its password", ["{S}/../pdf/rc4-128-user.pdf"], None, 3, [],
     ["lkword: {S}/../pdf/rc4-128-user.pdf: Password is not valid (the document is encrypted: give its password "
      "with --password=PASSWORD)\n"], lacks("Hello")),
    ("pdf with a wrong password", ["--json", "--password=wrong", "{S}/../pdf/aes256-user.pdf"], None, 3,
     ["\"error\":\"Password is not valid\",\"error_kind\":\"password\",\"partial\":false,\"page_texts\":null}"],
     ["Password is not valid (the password given does not open it)"], lacks("Hello")),
    ("word 97 password", ["--password=Pässwörd 1", "-m", "{S}/../doc/encrypted-rc4.doc"], None, 0,
     ["The keeper wrote 3 < 4", "Title: Harbour lights"], [], None),
    ("word 97 with a wrong password", ["--json", "--password=Passwörd 1", "{S}/../doc/encrypted-rc4.doc"], None, 3,
     ["\"error\":\"Could not read the password protected file\",\"error_kind\":\"password\",\"partial\":false,\"page_texts\":null}"], [],
     lacks("keeper")),
    ("docx password", ["--password=Ærø lamp", "-m", "{S}/../docx/sample-agile-aes256-sha512.docx"], None, 0,
     ["Title: The Lighthouse Keeper’s Log"], [], None),
    ("docx with a wrong password", ["--password=ærø lamp", "{S}/../docx/sample-standard-aes128.docx"], None, 3, [],
     ["Could not read the password protected file"], None),
    ("passwords are tried in turn", ["--password=one", "--password=Pässwörd 1", "--password=three",
                                     "{S}/../doc/encrypted-rc4.doc", "{S}/../odf/encrypted-aes.odt",
                                     "{S}/../pdf/rc4-128-user.pdf", "{S}/lighthouse.pdb"], None, 1,
     ["The keeper wrote 3 < 4"],
     ["lkword: {S}/../pdf/rc4-128-user.pdf: Password is not valid (none of the 3 passwords given opens it)\n"],
     lambda out, err, tmp: None if out.count("The keeper wrote 3 < 4") == 2 else "not both documents"),
    ("no password is tried first", ["--password=wrong", "{S}/../pdf/rc4-40-empty.pdf"], None, 0,
     ["Hello encrypted world"], [], None),
    ("the last of the passwords opens", ["--password=one", "--password=user", "{S}/../pdf/rc4-128-user.pdf"], None,
     0, ["Hello encrypted world"], [], None),
    ("odt password", ["--password=Pässwörd 1", "-m", "{S}/../odf/encrypted-aes.odt"], None, 0,
     ["The keeper wrote 3 < 4", "Title: Harbour lights"], [], None),
    ("odt without its password", ["{S}/../odf/encrypted-aes.odt"], None, 3, [],
     ["Could not read the password protected file (the document is encrypted: give its password with --password="],
     None),
    ("an unknown encryption header version is not implemented", ["--json", "--password=x", "{T}/encrypted-v9.doc"], None, 1,
     ["\"error_kind\":\"unsupported\",\"partial\":false,\"page_texts\":null}"], ["The encryption method is not supported in current version"], None),
    ("truncated database", ["{T}/truncated.pdb"], None, 1, [], ["lkword: {T}/truncated.pdb: "], None),
    ("long lines are written whole", ["{T}/long.docx"], None, 0, [], [], long_lines(False)),
    ("long lines in JSON", ["--json", "{T}/long.docx"], None, 0, [], [], long_lines(True)),
    ("metadata lines", ["-m", "{S}/lighthouse.pdb"], None, 0, ["home.”\n"], [], metadata_last),
    ("json", ["--json", "{S}/lighthouse.pdb", "{T}/notes.pdb", "-"], HARBOUR, 1, [],
     ["lkword: {T}/notes.pdb: unsupported file format"],
     json_lines([("lighthouse.pdb", "pdb", "“Storm passed.", {"Title": "The Lighthouse Keeper's Ledger"}, None),
                 ("notes.pdb", None, "", {}, "unsupported file format"),
                 ("-", "pdb", "Monday\t06:12\t18:40\nTuesday", {"Title": "Harbour Notes"}, None)])),
    ("json escapes control characters", ["--json", "{T}/control.pdb"], None, 0, [], [], control_characters_survive),
    ("json keeps rtf as produced", ["--json", "-f", "rtf", "{S}/lighthouse.pdb"], None, 0, ["\\r\\n}\\r\\n\""], [], None),
    ("max length", ["--max-length=40", "{S}/lighthouse.pdb"], None, 0, ["The Lighthouse"], [], at_most(40)),
    ("output file", ["-o", "{T}/out.txt", "{S}/lighthouse.pdb"], None, 0, [], [], output_file_matches),
    ("output file that cannot be created", ["-o", "{T}/no/such/dir/out.txt", "{S}/lighthouse.pdb"], None, 1, [],
     ["lkword: {T}/no/such/dir/out.txt: cannot create file"], None),
    # Batches
    ("folder walked in name order, links followed once, unsupported files reported",
     ["--json", "-r", "-j3", "tree"], None, 1, [],
     ["lkword: tree/b/a.txt: unsupported file format\n", "lkword: 3 inputs, 2 done, 1 failed, "], tree_in_name_order),
    ("a folder without -r", ["tree"], None, 1, [], ["lkword: tree: is a folder (use -r"], None),
    ("walks filtered by name and by path below the folder", ["--json", "-r", "--include=*.pdb", "--include=*.txt",
                                                            "--exclude=b/*.txt", "tree"], None, 0, [], [],
     paths_in_order(["tree/a.pdb", "tree/b/z.pdb"])),
    ("walked files no reader knows are skipped on request", ["-r", "--skip-unsupported", "tree"], None, 0, [],
     ["3 inputs, 2 done, 0 failed, 1 skipped as no document (tree/b/a.txt)"], lacks("unsupported file format")),
    ("several documents to standard output are headed", [L, "{T}/notes.pdb", H], None, 1,
     ["==> {S}/lighthouse.pdb <==\n\n", "\n==> {S}/harbour-notes.pdb <==\n"], [], lacks("/notes.pdb <==")),
    ("no headers on request, nor with one input", ["--no-headers", L, H], None, 0, ["The Lighthouse"], [],
     lacks("==> ")),
    ("progress only on a terminal", ["-r", "tree"], None, 1, [], ["lkword: 3 inputs, "], progress_on_a_terminal),
    ("several jobs keep the input order", ["--json", "-j4"] + MANY, None, 0, [],
     ["lkword: 12 inputs, 12 done, 0 failed, "], paths_in_order(MANY)),
    ("several jobs write what one job writes", ["-j4", "-f", "html", "-m"] + MANY, None, 0, [], [],
     same_as_one_job(["-f", "html", "-m"] + MANY)),
    ("inputs from a list, in its order", ["--json", "--files-from=-", L], (HARBOUR + "\n\n" + LIGHTHOUSE + "\n").encode(), 0, [], [],
     paths_in_order([L, H, L])),
    ("a list on standard input is served as it comes", ["--version"], None, 0, [], [], streams_results),
    ("a document past its time limit fails, the batch goes on", ["--json", "--timeout=0.001", "{T}/big.pdb", L],
     None, 1, ["\"error\":\"timed out after 0.001 s\",\"error_kind\":\"timeout\",\"partial\":false,\"page_texts\":null}"], [],
     lambda out, err, tmp: None if len(records(out)) == 2 else "the batch stopped"),
    ("8-bit text in the code page asked for", ["--encoding=cp1251", "{T}/cyrillic.pdb"], None, 0,
     ["Привет, мир"], [], None),
    ("code pages by number and by other names", ["--encoding=1251", "{T}/cyrillic.pdb"], None, 0,
     ["Привет, мир"], [],
     lambda out, err, tmp: None if run(["--encoding=WINDOWS-1251", os.path.join(tmp, "cyrillic.pdb")], None, tmp)[1]
     == out else "names differ"),
    ("undeclared 8-bit text is 1252 by default", ["{T}/cyrillic.pdb"], None, 0, ["Ïðèâåò"], [], None),
    ("tracked changes accepted in plain text", ["{T}/changes.docx"], None, 0, ["kept new\n"], [], lacks("gone")),
    ("tracked changes marked on request", ["--show-changes", "{T}/changes.docx"], None, 0, ["kept -gone+new\n"], [],
     None),
    ("unknown encoding", ["--encoding=klingon", L], None, 2, [], ["unknown encoding 'klingon'"], None),
    ("bad timeout", ["--timeout=-1", L], None, 2, [], ["invalid timeout '-1'"], None),
    ("quiet: no summary, no warnings", ["-q", "--max-length=10", L, H], None, 0, [], [], quiet),
    ("one output per input, mirroring the tree", ["-r", "-o", "out", "tree", L], None, 1, [],
     ["lkword: tree/b/a.txt: unsupported file format"], mirrored_tree(False)),
    ("one JSON file per input, failures too", ["--json", "-j2", "-r", "-o", "out", "tree", L], None, 1, [], [],
     mirrored_tree(True)),
    ("an output name is not taken twice, the first output stays", ["-j1", "-o", "out", L, "{S}/./lighthouse.pdb"],
     None, 1, [], ["is already written for an earlier input"], first_output_kept),
    # PDF pages
    ("a page range reads its pages only", ["--first-page=2", "--last-page", "3", "{S}/../pdf/pages.pdf"], None, 0,
     [], [], output_is("\n" + RULE + "Two\n" + RULE + "\n\n")),
    ("a range past the last page gives no page text", ["--first-page=9", "{S}/../pdf/pages.pdf"], None, 0, [], [],
     output_is("\n\n")),
    ("form feeds between pages", ["--page-break=ff", "{S}/../pdf/pages.pdf"], None, 0, [], [],
     output_is("\nOne\n\fTwo\n\f\n\fFour\n\n")),
    ("nothing between pages", ["--page-break=none", "--last-page=3", "{S}/../pdf/pages.pdf"], None, 0, [], [],
     output_is("\nOne\nTwo\n\n")),
    ("page texts in JSON, for PDF only, counting every page",
     ["--json", "--first-page=2", "{S}/../pdf/pages.pdf", L], None, 0, [], [], page_texts([["Two\n", "", "Four\n"], None])),
    ("bad page", ["--last-page=-1", L], None, 2, [], ["invalid page '-1'"], None),
    ("bad page break", ["--page-break=rule", L], None, 2, [], ["invalid page break 'rule' (dashes, ff or none)"], None),
    # JSON fields
    ("error kinds", ["--json", "{T}/missing.pdb", "{T}/notes.pdb", "{S}/../pdf/rc4-128-user.pdf", "{T}/truncated.pdb",
                     "tree", "{T}/wp51.wpd", "{T}/bomb.odt", L], None, 1, [], [], error_kinds),
    ("metadata under Tika keys, pages", ["--json", "--metadata-keys=tika", L, "{S}/../pdf/hello.pdf"], None, 0, [], [],
     tika_keys),
    ("metadata lines under Tika keys", ["-m", "--metadata-keys", "tika", L], None, 0,
     ["dc:title: The Lighthouse Keeper's Ledger\n"], [], lacks("Title: ")),
    ("notes as their own JSON field", ["--json", "--notes", "{S}/../docx/sample.docx"], None, 0, [], [], notes_apart),
    ("a cut text is a warning", ["--json", "--max-length=40", L], None, 0, [], [], cut_warning),
    ("warnings of text output go to stderr", ["--max-length=40", L], None, 0, [],
     ["lkword: {S}/lighthouse.pdb: warning: output cut at the maximum text length\n"], None),
    ("a password fails a batch with 1", ["{S}/../pdf/rc4-128-user.pdf", L], None, 1, ["ninety-one steps"], [], None),
    ("bad job count", ["-j0", L], None, 2, [], ["invalid number of jobs '0'"], None),
    ("standard input read twice", ["--files-from=-", "-"], LIGHTHOUSE, 2, [],
     ["standard input cannot be both a document and the list of inputs"], None),
    ("bad metadata keys", ["--metadata-keys=dc", L], None, 2, [], ["invalid metadata keys 'dc'"], None),
    ("a cover needs a single input", ["--cover={T}/c.png", L, H], None, 2, [], ["--cover needs a single input"], None),
    ("help", ["--help"], None, 0, ["Usage: lkword [OPTIONS] FILE..."], [], help_lists_every_option),
    ("man page", ["--help"], None, 0, [], [], man_page_has_every_option),
    ("version", ["--version"], None, 0, ["lkword 1.47\n", "library 1.47"], [], None),
    ("unknown option", ["--bogus", "{S}/lighthouse.pdb"], None, 2, [], ["unknown option '--bogus'", TRY_HELP], None),
    ("unknown short option", ["-x", "{S}/lighthouse.pdb"], None, 2, [], ["unknown option '-x'", TRY_HELP], None),
    ("missing option argument", ["{S}/lighthouse.pdb", "--output"], None, 2, [], ["'--output' needs an argument"], None),
    ("flag with an argument", ["--json=yes", "{S}/lighthouse.pdb"], None, 2, [], ["takes no argument"], None),
    ("bad format", ["-f", "pdf", "{S}/lighthouse.pdb"], None, 2, [], ["invalid format 'pdf'", TRY_HELP], None),
    ("bad length", ["--max-length=-3", "{S}/lighthouse.pdb"], None, 2, [], ["invalid length '-3'"], None),
    ("unknown reader", ["--reader=nosuch", "{S}/lighthouse.pdb"], None, 2, [], ["unknown reader 'nosuch'"], None),
    ("no input files", ["-m"], None, 2, [], ["no input files", TRY_HELP], None),
]


def prepare(tmp):
    with open(LIGHTHOUSE, "rb") as f:
        book = f.read()
    files = {
        "book.txt": book,
        "-m.pdb": book,
        "notes.pdb": b"Plain notes, not a database at all.\n" * 4,
        "cyrillic.pdb": palmdoc(b"Kniga", ["Привет, мир".encode("cp1251")]),
        # The header promises two records; the file ends inside the record list.
        "truncated.pdb": palmdoc(b"Cut", [b"x" * 100])[:86],
        "long.docx": docx("<w:p><w:r><w:t>" + "a" * 65535 + "</w:t><w:br/><w:t>b</w:t></w:r></w:p><w:p><w:r><w:t>" +
                          "c" * 65535 + "\U0001F600d</w:t></w:r></w:p>"),
        "changes.docx": docx('<w:p><w:r><w:t xml:space="preserve">kept </w:t></w:r><w:del w:id="1"><w:r>'
                             '<w:delText>gone</w:delText></w:r></w:del><w:ins w:id="2"><w:r><w:t>new</w:t></w:r></w:ins></w:p>'),
        # Control bytes, an undefined cp1252 byte (0x81) and JSON's own specials.
        "control.pdb": palmdoc(b"Control", [b"tab\there \x01\x1b bell\x07 \x81 \"q\" back\\slash\r\n"]),
        "macros.doc": macro_document(MACRO_SOURCE),
        # WordPerfect 5.1: the same magic, major version 0.
        "wp51.wpd": b"\xffWPC" + struct.pack("<I", 16) + bytes([1, 10, 0, 1]) + bytes(4) + b"Old text." * 4,
        "headed.odt": odt("Body &amp; soul", "Running &lt;head&gt;", "Foot"),
        "bomb.odt": declare_size(odt("Body", "Head", "Foot"), "content.xml", 0xFFFFFF00),
        # A compound file, but neither Word nor WordPerfect.
        "sheet.doc": compound({"Workbook": b"\x09\x08" + bytes(100), "\x05SummaryInformation": bytes(48)}),
        "macros-damaged.doc": macro_document(MACRO_SOURCE, damage_dir=True),
        # Stored records of 4 KiB: long enough to outlast a 1 ms time limit.
        "big.pdb": palmdoc(b"Big", [(b"a few words of text " * 205)[:4096]] * 4000),
        # Cut inside its main part, and after it: a zip cut short has lost its directory.
        "cut.docx": open(os.path.join(SAMPLES, "keeper.docx"), "rb").read()[:1000],
        "cut-late.docx": open(os.path.join(SAMPLES, "keeper.docx"), "rb").read()[:6000],
        "cut.doc": open(os.path.join(SAMPLES, "keeper.doc"), "rb").read()[:6000],
        "cut.pdf": cut(os.path.join(SAMPLES, "hello.pdf"), 0.9),
        # Record 0 states the text's length, but writers get it wrong too
        # often to tell a cut last record by it: the cut takes whole records.
        "cut.pdb": palmdoc(b"Cut", [b"first record\n" * 200, b"second\n" * 400, b"third\n" * 500])[:3400],
        # A Word 97 document encrypted under a header version no Word wrote.
        "encrypted-v9.doc": compound({"WordDocument": struct.pack("<HH", 0xA5EC, 193) + bytes(7) + b"\x03" + bytes(2) +
                                      struct.pack("<I", 52) + bytes(0x800 - 18),
                                      "1Table": struct.pack("<HH", 9, 9) + bytes(60)}),
    }
    for name, data in files.items():
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(data)
    # A folder for the walks: a link back up, a dangling link, a pipe and an
    # empty folder are no documents.
    tree = os.path.join(tmp, "tree")
    os.makedirs(os.path.join(tree, "b"))
    os.makedirs(os.path.join(tree, "c"))
    shutil.copy(LIGHTHOUSE, os.path.join(tree, "a.pdb"))
    shutil.copy(HARBOUR, os.path.join(tree, "b", "z.pdb"))
    with open(os.path.join(tree, "b", "a.txt"), "w") as f:
        f.write("just text\n")
    os.symlink("..", os.path.join(tree, "b", "loop"))
    os.symlink("nowhere", os.path.join(tree, "b", "dangling"))
    os.mkfifo(os.path.join(tree, "pipe"))


def run(args, stdin, cwd):
    if isinstance(stdin, str):
        with open(stdin, "rb") as f:
            stdin = f.read()
    proc = subprocess.run([LKWORD] + args, input=stdin if stdin is not None else b"", capture_output=True,
                          cwd=cwd, timeout=60)
    return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")


def main():
    failures = 0
    tmp = tempfile.mkdtemp(prefix="lkword-cli-")
    try:
        prepare(tmp)
        for name, args, stdin, code, outs, errs, check in CASES:
            shutil.rmtree(os.path.join(tmp, "out"), ignore_errors=True)
            subst = lambda s: s.replace("{S}", SAMPLES).replace("{T}", tmp)
            got_code, out, err = run([subst(a) for a in args], stdin, tmp)
            problems = []
            if got_code != code:
                problems.append("exit %d, expected %d" % (got_code, code))
            problems += ["stdout lacks %r" % subst(s) for s in outs if subst(s) not in out]
            problems += ["stderr lacks %r" % subst(s) for s in errs if subst(s) not in err]
            if code == 2 and out:
                problems.append("usage error wrote to stdout")
            if check and not problems:
                try:
                    msg = check(out, err, tmp)
                except Exception as e:  # a malformed result is a failure, not a crash of the test
                    msg = "%s: %s" % (type(e).__name__, e)
                if msg:
                    problems.append(msg)
            status = "ok  " if not problems else "FAIL"
            print("%s %s" % (status, name))
            for p in problems:
                print("       " + p)
            if problems:
                print("       stderr: %r" % err[:300])
                failures += 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d of %d cases failed" % (failures, len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
