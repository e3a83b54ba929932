#!/usr/bin/env python3
"""Writes annot-rc4.pdf: a page encrypted with RC4 (40 bits, revision 2, empty
user password) whose comment annotation is a direct dictionary in the page's
/Annots, so its /Contents is encrypted with the page's object number."""
import hashlib

PAD = bytes.fromhex("28bf4e5e4e758a4164004e56fffa01082e2e00b6d0683e802f0ca9fe6453697a")
DOC_ID = bytes(range(16))
PERMS = -4


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


owner = rc4(hashlib.md5(PAD).digest()[:5], PAD)
key = hashlib.md5(PAD + owner + PERMS.to_bytes(4, "little", signed=True) + DOC_ID).digest()[:5]
user = rc4(key, PAD)


def encrypt(num, data):
    return rc4(hashlib.md5(key + num.to_bytes(3, "little") + b"\0\0").digest()[:10], data)


content = b"BT /F1 12 Tf 72 712 Td (Page text) Tj ET"
objs = {
    1: b"<< /Type /Catalog /Pages 2 0 R >>",
    2: b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    3: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >>"
       b" /Annots [<< /Type /Annot /Subtype /Text /Rect [72 600 92 620] /Contents <%s> >>] >>"
       % encrypt(3, b"A direct note").hex().encode(),
    4: b"<< /Length %d >>\nstream\n" % len(content) + encrypt(4, content) + b"\nendstream",
    5: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    6: b"<< /Filter /Standard /V 1 /R 2 /Length 40 /P %d /O <%s> /U <%s> >>"
       % (PERMS, owner.hex().encode(), user.hex().encode()),
}
out = bytearray(b"%PDF-1.4\n")
offsets = []
for num in sorted(objs):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % num + objs[num] + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for off in offsets:
    out += b"%010d 00000 n \n" % off
out += (b"trailer\n<< /Size %d /Root 1 0 R /Encrypt 6 0 R /ID [<%s><%s>] >>\nstartxref\n%d\n%%%%EOF\n"
        % (len(objs) + 1, DOC_ID.hex().encode(), DOC_ID.hex().encode(), xref))
open("annot-rc4.pdf", "wb").write(out)
