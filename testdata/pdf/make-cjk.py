#!/usr/bin/env python3
"""Writes cjk.pdf: "日本語" in a CID font that is not embedded and has no
ToUnicode map, so its text comes from the Adobe-Japan1 collection alone."""
from pdfwrite import stream, write

content = b"BT /F1 24 Tf 72 700 Td <0CD40E8A07A0> Tj ET"  # CIDs 3284 3722 1952
write("cjk.pdf", [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    stream(content),
    b"<< /Type /Font /Subtype /Type0 /BaseFont /Ryumin-Light-Identity-H /Encoding /Identity-H"
    b" /DescendantFonts [6 0 R] >>",
    b"<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Ryumin-Light"
    b" /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> /DW 1000 >>",
])
