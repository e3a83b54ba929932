#!/bin/sh
# Rebuilds the PDF test documents: a one-page source written here, and
# encrypted and restructured copies made with qpdf (11.x).
set -e
cd "$(dirname "$0")"
python3 - <<'PY'
from pdfwrite import stream, write
content = b"BT /F1 12 Tf 72 712 Td (Hello encrypted world) Tj ET"
write("hello.pdf", [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    stream(content),
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    b"<< /Title (Hello) /Producer (make.sh) >>",
], b" /Info 6 0 R")
PY
qpdf --static-id --allow-weak-crypto --encrypt "" owner 40 -- hello.pdf rc4-40-empty.pdf
qpdf --static-id --allow-weak-crypto --encrypt user owner 128 --use-aes=n -- hello.pdf rc4-128-user.pdf
qpdf --static-id --allow-weak-crypto --encrypt "ärger" owner 128 --use-aes=y --cleartext-metadata -- hello.pdf aes128-user-cleartextmeta.pdf
qpdf --static-id --allow-weak-crypto --encrypt "ärger" owner 256 -- hello.pdf aes256-user.pdf
qpdf --static-id --allow-weak-crypto --encrypt user owner 256 --force-R5 -- hello.pdf aes256-r5-user.pdf
qpdf --static-id --allow-weak-crypto --encrypt "" owner 128 --use-aes=n --print=none --modify=none --extract=n -- hello.pdf rc4-128-restricted.pdf
qpdf --static-id --object-streams=generate hello.pdf objstm.pdf
qpdf --static-id --object-streams=generate --encrypt "" owner 256 -- hello.pdf objstm-aes256.pdf

python3 make-cjk.py
qpdf --static-id --allow-weak-crypto --encrypt "" owner 128 --use-aes=n -- cjk.pdf cjk-rc4.pdf
rm cjk.pdf
