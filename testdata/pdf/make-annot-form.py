#!/usr/bin/env python3
"""Writes annot-form.pdf (the fuzz seed fuzz/corpus/pdf/annot-form.pdf): a
page with a label, a filled text field and a check box whose values are
drawn only by their annotations' appearances, and a field whose value has
no appearance at all (left for the viewer to draw)."""
objs = []


def add(body):
    objs.append(body)
    return len(objs)


def stream(data, extra=b""):
    return b"<< /Length %d %s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
form = b"/Type /XObject /Subtype /Form /BBox [0 0 200 20] /Resources << /Font << /F1 %d 0 R >> >>" % font
value = add(stream(b"/Tx BMC q BT /F1 12 Tf 2 6 Td (Jane Q. Public) Tj ET Q EMC", form))
on = add(stream(b"q BT /F1 12 Tf 2 6 Td (X) Tj ET Q", form))
off = add(stream(b"", form))
page = len(objs) + 6  # field, box, bare field, content and pages come first
field = add(b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Jane Q. Public) /Rect [200 712 400 732] "
            b"/AP << /N %d 0 R >> /P %d 0 R >>" % (value, page))
box = add(b"<< /Type /Annot /Subtype /Widget /FT /Btn /T (agree) /V /Yes /AS /Yes /Rect [72 680 92 700] "
          b"/AP << /N << /Yes %d 0 R /Off %d 0 R >> >> /P %d 0 R >>" % (on, off, page))
bare = add(b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (town) /V <FEFF004F0073006C006F> /DA (/Helv 0 Tf 0 g) "
           b"/Rect [200 640 400 660] /P %d 0 R >>" % page)
content = add(stream(b"BT /F1 12 Tf 72 720 Td (Name of applicant:) Tj 30 -34 Td (I agree) Tj -30 -40 Td (Town:) Tj ET"))
pages = add(b"<< /Type /Pages /Kids [%d 0 R] /Count 1 >>" % page)
assert add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
           b"/Resources << /Font << /F1 %d 0 R >> >> /Annots [%d 0 R %d 0 R %d 0 R] >>"
           % (pages, content, font, field, box, bare)) == page
catalog = add(b"<< /Type /Catalog /Pages %d 0 R /AcroForm << /Fields [%d 0 R %d 0 R %d 0 R] /NeedAppearances true >> >>"
              % (pages, field, box, bare))
out = b"%PDF-1.7\n"
offsets = []
for i, body in enumerate(objs):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, catalog, xref)
open("annot-form.pdf", "wb").write(out)
