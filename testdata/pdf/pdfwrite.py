"""The small PDF writer of the scripts that make this folder's documents:
objects numbered from 1 in the order given, a classic cross-reference
table and a fixed file identifier, so that a rebuild gives the same bytes."""

FILE_ID = b"<00112233445566778899aabbccddeeff>"


def write(path, objs, trailer=b""):
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += (b"trailer\n<< /Size %d /Root 1 0 R%s /ID [%s%s] >>\nstartxref\n%d\n%%%%EOF\n"
            % (len(objs) + 1, trailer, FILE_ID, FILE_ID, xref))
    with open(path, "wb") as f:
        f.write(out)


def stream(data):
    return b"<< /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"
