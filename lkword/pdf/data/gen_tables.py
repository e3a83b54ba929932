#!/usr/bin/env python3
"""Writes PDFGlyphTables.inc: the glyph-name list, the base encodings and the
standard 14 fonts' widths, compiled into the library.

Inputs: glyphlist.txt and zapfdingbats.txt beside this script (Adobe's
published lists) and the AFM files of the URW base 35 fonts (the Debian
package fonts-urw-base35; metrics equal to the Adobe core fonts), whose folder
is the first argument:

    python3 gen_tables.py URW_AFM_FOLDER > PDFGlyphTables.inc
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

STANDARD14 = [  # PDF base font name, URW AFM file
    ("Courier", "NimbusMonoPS-Regular"), ("Courier-Bold", "NimbusMonoPS-Bold"),
    ("Courier-BoldOblique", "NimbusMonoPS-BoldItalic"), ("Courier-Oblique", "NimbusMonoPS-Italic"),
    ("Helvetica", "NimbusSans-Regular"), ("Helvetica-Bold", "NimbusSans-Bold"),
    ("Helvetica-BoldOblique", "NimbusSans-BoldItalic"), ("Helvetica-Oblique", "NimbusSans-Italic"),
    ("Symbol", "StandardSymbolsPS"), ("Times-Bold", "NimbusRoman-Bold"),
    ("Times-BoldItalic", "NimbusRoman-BoldItalic"), ("Times-Italic", "NimbusRoman-Italic"),
    ("Times-Roman", "NimbusRoman-Regular"), ("ZapfDingbats", "D050000L"),
]

# Where the list maps a name to a compatibility character, the letter is what
# text means (Greek text set in Type 1 fonts uses these names).
AGL_OVERRIDES = {"Omega": [0x03A9], "Delta": [0x0394]}

# Shared with gen_program_tables.py, which writes the same pool layout.
POOL_TYPES = """// Names are spans of one character pool, not pointers: a table of pointers
// is relocated, and so copied, at every start of the program.
struct TPoolName {
  uint32_t Offset : 24;
  uint32_t Length : 8;
};

"""


def pool_spans(names):
    """Offset of each name in the pool: the names sorted, back to back."""
    spans, at = {}, 0
    for n in sorted(names):
        assert n and all(c.isascii() and (c.isalnum() or c in "._-") for c in n) and len(n) < 256, n
        spans[n] = at
        at += len(n)
    assert at < 1 << 24
    return spans


def ref(spans, name):
    return "{%d, %d}" % (spans[name], len(name))


def write_pool(w, label, spans, width=96):
    w("constexpr char %s[] =\n" % label)
    line = ""
    for n in spans:  # in offset order
        if line and len(line) + len(n) > width:
            w('    "%s"\n' % line)
            line = ""
        line += n
    w('    "%s";\n\n' % line)
    w("constexpr std::string_view PoolName(TPoolName N) { return {%s + N.Offset, N.Length}; }\n\n" % label)


def read_list(path):
    out = {}
    for line in open(path, encoding="ascii"):
        if line.startswith("#") or ";" not in line:
            continue
        name, values = line.strip().split(";")
        out[name] = [int(v, 16) for v in values.split()]
    return out


def read_afm(path):
    codes, widths = {}, {}
    for line in open(path, encoding="latin-1"):
        if not line.startswith("C "):
            continue
        fields = dict(f.strip().split(" ", 1) for f in line.split(";") if f.strip())
        code, name, wx = int(fields["C"]), fields["N"], int(float(fields["WX"]))
        widths.setdefault(name, wx)
        if 0 <= code < 256:
            codes[code] = name
    return codes, widths


def main():
    afmdir = sys.argv[1]
    agl = read_list(os.path.join(HERE, "glyphlist.txt"))
    agl.update(AGL_OVERRIDES)
    dingbats = read_list(os.path.join(HERE, "zapfdingbats.txt"))
    names = dict(agl)
    for k, v in dingbats.items():
        names.setdefault(k, v)

    afms = {pdf: read_afm(os.path.join(afmdir, urw + ".afm")) for pdf, urw in STANDARD14}
    latin_names = set(afms["Helvetica"][1])
    by_unicode = {}
    for name in sorted(latin_names):
        v = agl.get(name)
        if v and len(v) == 1 and not name.startswith(("afii", "uni")):
            by_unicode.setdefault(v[0], name)

    def from_codec(decode, overrides):
        table = [""] * 256
        uni = [0] * 256
        for c in range(32, 256):
            ch = decode(c)
            if ch is None:
                continue
            uni[c] = ord(ch)
            table[c] = by_unicode.get(ord(ch), "")
        for c, (name, u) in overrides.items():
            table[c], uni[c] = name, u
        return table, uni

    def cp1252(c):
        try:
            return bytes([c]).decode("cp1252")
        except UnicodeDecodeError:
            return None

    # Codes WinAnsi leaves unused above 40 (octal) show a bullet.
    win_over = {c: ("bullet", 0x2022) for c in (0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D)}
    win_over.update({0x27: ("quotesingle", 0x27), 0x60: ("grave", 0x60), 0x2D: ("hyphen", 0x2D),
                     0xA0: ("space", 0xA0), 0xAD: ("hyphen", 0xAD)})
    win = from_codec(cp1252, win_over)

    def macroman(c):
        return None if c == 0x7F else bytes([c]).decode("mac_roman")

    mac_over = {0x27: ("quotesingle", 0x27), 0x60: ("grave", 0x60), 0xCA: ("space", 0xA0),
                0xDB: ("currency", 0xA4), 0xF0: ("", 0), 0xBD: ("Omega", 0x03A9), 0xC6: ("Delta", 0x2206)}
    mac = from_codec(macroman, mac_over)

    pdfdoc18 = [0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC]
    pdfdoc80 = [0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
                0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
                0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0, 0x20AC]

    def pdfdoc(c):
        if 0x80 <= c <= 0xA0:
            return chr(pdfdoc80[c - 0x80]) if pdfdoc80[c - 0x80] else None
        return None if c == 0x7F else chr(c)

    doc_over = {0x18 + i: (n, pdfdoc18[i]) for i, n in enumerate(
        ["breve", "caron", "circumflex", "dotaccent", "hungarumlaut", "ogonek", "ring", "tilde"])}
    doc_over.update({0x27: ("quotesingle", 0x27), 0x60: ("grave", 0x60), 0x2D: ("hyphen", 0x2D),
                     0x93: ("fi", 0xFB01), 0x94: ("fl", 0xFB02), 0xAD: ("hyphen", 0xAD)})
    doc = from_codec(pdfdoc, doc_over)

    def from_afm(font):
        table = [""] * 256
        uni = [0] * 256
        for c, n in afms[font][0].items():
            table[c] = n
            v = names.get(n)
            uni[c] = v[0] if v else 0
        return table, uni

    std = from_afm("Helvetica")
    sym = from_afm("Symbol")
    zapf = from_afm("ZapfDingbats")
    encodings = [("Standard", std), ("WinAnsi", win), ("MacRoman", mac), ("PDFDoc", doc),
                 ("Symbol", sym), ("ZapfDingbats", zapf)]
    pool = sorted({n for _, (t, _) in encodings for n in t if n})

    wanted = set(pool) | set(afms["Symbol"][1]) | set(afms["ZapfDingbats"][1])
    metric_names = sorted(n for n in wanted if any(n in afms[f][1] for f, _ in STANDARD14))
    fonts = [pdf for pdf, _ in STANDARD14]
    spans = pool_spans(set(agl) | set(dingbats) | set(pool) | set(metric_names) | set(fonts))

    w = sys.stdout.write
    w("// Generated by gen_tables.py from glyphlist.txt, zapfdingbats.txt and the\n")
    w("// URW base 35 AFM metrics. Do not edit.\n\n")
    w(POOL_TYPES)
    w("struct TGlyphNameEntry {\n  TPoolName Name;\n"
      "  char16_t Value;     // the code point, when Sequence is 0\n"
      "  uint16_t Sequence;  // index into kGlyphNameSequences for multi-character values\n};\n\n")
    write_pool(w, "kGlyphNamePool", spans)

    # Glyph names, sorted for binary search; values of more than one code
    # point (a few Hebrew pointed letters) go to a side table.
    multi = []
    w("constexpr TGlyphNameEntry kGlyphNames[] = {\n")
    for name in sorted(agl):
        v = agl[name]
        if len(v) == 1:
            w('    {%s, 0x%04X, 0},  // %s\n' % (ref(spans, name), v[0], name))
        else:
            w('    {%s, 0, %d},  // %s\n' % (ref(spans, name), len(multi) + 1, name))
            multi.append(v)
    w("};\n\n")
    # The a1..a206 names are Zapf Dingbats glyphs only in that font (other
    # fonts, Type 3 bitmap fonts above all, use such names for anything).
    w("constexpr TGlyphNameEntry kDingbatNames[] = {\n")
    for name in sorted(dingbats):
        w('    {%s, 0x%04X, 0},  // %s\n' % (ref(spans, name), dingbats[name][0], name))
    w("};\n\n")
    w("constexpr char16_t kGlyphNameSequences[][5] = {\n    {0, 0, 0, 0, 0},\n")
    for v in multi:
        assert len(v) <= 4 and all(c < 0x10000 for c in v)
        w("    {%s},\n" % ", ".join("0x%04X" % c for c in v + [0] * (5 - len(v))))
    w("};\n\n")

    # Encodings as glyph names, through one list of the names they use.
    index = {n: i + 1 for i, n in enumerate(pool)}
    w("constexpr TPoolName kEncodingNames[] = {\n    {0, 0},\n")
    for n in pool:
        w("    %s,  // %s\n" % (ref(spans, n), n))
    w("};\n\n")
    for label, (table, uni) in encodings:
        w("constexpr uint16_t k%sNames[256] = {\n" % label)
        for r in range(0, 256, 16):
            w("    " + ", ".join("%d" % index.get(n, 0) for n in table[r:r + 16]) + ",\n")
        w("};\n")
        w("constexpr char16_t k%sUnicode[256] = {\n" % label)
        for r in range(0, 256, 8):
            w("    " + ", ".join("0x%04X" % u for u in uni[r:r + 8]) + ",\n")
        w("};\n\n")

    # Widths of the standard 14 fonts by glyph name: the names of the text
    # encodings for the Latin fonts, every glyph of Symbol and ZapfDingbats.
    w("constexpr TPoolName kMetricNames[] = {\n")
    for n in metric_names:
        w("    %s,  // %s\n" % (ref(spans, n), n))
    w("};\n\n")
    w("struct TStandardFontMetrics {\n  TPoolName Name;\n  int16_t Ascent, Descent;\n"
      "  uint16_t Widths[std::size(kMetricNames)];\n};\n\n")
    w("constexpr TStandardFontMetrics kStandardFonts[] = {\n")
    ascents = {"Courier": (629, -157), "Helvetica": (718, -207), "Times": (683, -217)}
    for pdf in fonts:
        widths = afms[pdf][1]
        fam = pdf.split("-")[0]
        asc, desc = ascents.get(fam, (1010, -293) if fam == "Symbol" else (820, -143))
        row = ", ".join(str(widths.get(n, 0)) for n in metric_names)
        w('    {%s, %d, %d, {%s}},  // %s\n' % (ref(spans, pdf), asc, desc, row, pdf))
    w("};\n")
    print("names %d, multi %d, encoding names %d, metric names %d, name pool %d bytes"
          % (len(names), len(multi), len(pool), len(metric_names), sum(len(n) for n in spans)),
          file=sys.stderr)


if __name__ == "__main__":
    main()
