#!/usr/bin/env python3
"""Writes pages.pdf: four pages showing "One", "Two", nothing and "Four", for
the page range and page break options."""
import os

PAGES = ["One", "Two", "", "Four"]

objs = {1: b"<< /Type /Catalog /Pages 2 0 R >>", 3: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}
kids = []
for i, text in enumerate(PAGES):
    num = 10 + 2 * i
    kids.append(b"%d 0 R" % num)
    content = b"BT /F1 12 Tf 72 700 Td (%s) Tj ET" % text.encode("latin-1") if text else b""
    objs[num] = b"<< /Type /Page /Parent 2 0 R /Contents %d 0 R >>" % (num + 1)
    objs[num + 1] = b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content)
objs[2] = (b"<< /Type /Pages /Kids [%s] /Count %d /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> >>"
           % (b" ".join(kids), len(PAGES)))
out, offsets = b"%PDF-1.4\n", {}
for num in sorted(objs):
    offsets[num] = len(out)
    out += b"%d 0 obj\n%s\nendobj\n" % (num, objs[num])
size = max(objs) + 1
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % size
for num in range(1, size):
    out += b"%010d 00000 n \n" % offsets[num] if num in offsets else b"0000000000 65535 f \n"
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref)
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages.pdf"), "wb") as f:
    f.write(out)
