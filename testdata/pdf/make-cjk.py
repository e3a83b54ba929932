#!/usr/bin/env python3
"""Writes cjk.pdf: "日本語" in a CID font that is not embedded and has no
ToUnicode map, so its text comes from the Adobe-Japan1 collection alone."""
content = b"BT /F1 24 Tf 72 700 Td <0CD40E8A07A0> Tj ET"  # CIDs 3284 3722 1952
objs = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
    b"<< /Type /Font /Subtype /Type0 /BaseFont /Ryumin-Light-Identity-H /Encoding /Identity-H"
    b" /DescendantFonts [6 0 R] >>",
    b"<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Ryumin-Light"
    b" /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> /DW 1000 >>",
]
out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for i, o in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for off in offsets:
    out += b"%010d 00000 n \n" % off
out += (b"trailer\n<< /Size %d /Root 1 0 R"
        b" /ID [<00112233445566778899aabbccddeeff><00112233445566778899aabbccddeeff>] >>\n"
        b"startxref\n%d\n%%%%EOF\n") % (len(objs) + 1, xref)
open("cjk.pdf", "wb").write(out)
