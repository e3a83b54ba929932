#!/usr/bin/env python3
"""Growth of time and memory with the size of hostile but well-formed input.

Fuzzing finds crashes in small inputs; it does not find work that grows
faster than the input (a paragraph with a million spans, one string of a
hundred megabytes). This builds such documents at three sizes (1x, 2x, 4x),
runs the tool on each and prints seconds and peak memory; a time ratio well
above 2 per doubling marks superlinear growth.

usage: bench/scaling.py LKWORD [--base N] [--only NAME]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

DOCX_CT = (b'<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
           b'<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
           b'<Override PartName="/word/document.xml" ContentType="application/'
           b'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
DOCX_RELS = (b'<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
             b'<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
             b'officeDocument" Target="word/document.xml"/></Relationships>')


def docx(path, body):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', DOCX_CT)
        z.writestr('_rels/.rels', DOCX_RELS)
        z.writestr('word/document.xml', b'<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats.org/'
                   b'wordprocessingml/2006/main"><w:body>' + body + b'</w:body></w:document>')


def odt(path, body):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.text')
        z.writestr('content.xml', b'<?xml version="1.0"?><office:document-content '
                   b'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
                   b'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
                   b'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"><office:body><office:text>' +
                   body + b'</office:text></office:body></office:document-content>')


def fb2(path, body):
    with open(path, 'wb') as f:
        f.write(b'<?xml version="1.0" encoding="utf-8"?><FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0">'
                b'<description><title-info><book-title>T</book-title></title-info></description><body><section>' +
                body + b'</section></body></FictionBook>')


def epub(path, chapter):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo('mimetype'), 'application/epub+zip')
        z.writestr('META-INF/container.xml', '<?xml version="1.0"?><container version="1.0" '
                   'xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles><rootfile '
                   'full-path="content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>')
        z.writestr('content.opf', '<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf" version="2.0">'
                   '<metadata/><manifest><item id="c" href="c.xhtml" media-type="application/xhtml+xml"/></manifest>'
                   '<spine><itemref idref="c"/></spine></package>')
        z.writestr('c.xhtml', b'<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml"><body>' + chapter +
                   b'</body></html>')


def pdf(path, content):
    packed = zlib.compress(content)
    objs = [b'<</Type/Catalog/Pages 2 0 R>>', b'<</Type/Pages/Kids[3 0 R]/Count 1>>',
            b'<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Resources<</Font<</F1 5 0 R>>>>/Contents 4 0 R>>',
            b'<</Length %d/Filter/FlateDecode>>stream\n' % len(packed) + packed + b'\nendstream',
            b'<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>']
    out, offsets = b'%PDF-1.4\n', []
    for i, o in enumerate(objs):
        offsets.append(len(out))
        out += b'%d 0 obj\n' % (i + 1) + o + b'\nendobj\n'
    xref = len(out)
    out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1) + b''.join(b'%010d 00000 n \n' % o for o in offsets)
    out += b'trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, xref)
    with open(path, 'wb') as f:
        f.write(out)


# name -> (extension, writer, body for N repetitions)
CASES = {
    'docx-runs': ('docx', docx, lambda n: b'<w:p>' + b'<w:r><w:t>ab </w:t></w:r>' * n + b'</w:p>'),
    'docx-one-run': ('docx', docx, lambda n: b'<w:p><w:r><w:t>' + b'abcdefgh ' * n + b'</w:t></w:r></w:p>'),
    'docx-cells': ('docx', docx, lambda n: b'<w:tbl><w:tr>' + b'<w:tc><w:p><w:r><w:t>x</w:t></w:r></w:p></w:tc>' * n +
                   b'</w:tr></w:tbl>'),
    'docx-fields': ('docx', docx, lambda n: b'<w:p>' + (b'<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText>'
                    b'PAGE</w:instrText></w:r><w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t>1</w:t></w:r>') * n +
                    b'</w:p>'),
    'odt-spans': ('odt', odt, lambda n: b'<text:p>' + b'<text:span>ab </text:span>' * n + b'</text:p>'),
    'odt-spaces': ('odt', odt, lambda n: b'<text:p>' + b'a<text:s text:c="3"/><text:tab/>' * n + b'</text:p>'),
    'odt-cells': ('odt', odt, lambda n: b'<table:table><table:table-row>' +
                  b'<table:table-cell><text:p>x</text:p></table:table-cell>' * n + b'</table:table-row></table:table>'),
    'odt-notes': ('odt', odt, lambda n: b'<text:p>' + (b'a<text:note text:note-class="footnote"><text:note-citation>1'
                  b'</text:note-citation><text:note-body><text:p>n</text:p></text:note-body></text:note>') * n +
                  b'</text:p>'),
    'fb2-paragraphs': ('fb2', fb2, lambda n: b'<p>ab</p>' * n),
    'fb2-sections': ('fb2', fb2, lambda n: b'<section><p>ab</p></section>' * n),
    'epub-spans': ('epub', epub, lambda n: b'<p>' + b'<span>ab</span> ' * n + b'</p>'),
    'epub-cells': ('epub', epub, lambda n: b'<table><tr>' + b'<td>ab</td>' * n + b'</tr></table>'),
    'pdf-shows': ('pdf', pdf, lambda n: b'BT /F1 12 Tf 72 720 Td\n' + b'(ab) Tj 0 -14 Td\n' * n + b'ET'),
    'pdf-one-string': ('pdf', pdf, lambda n: b'BT /F1 12 Tf 72 720 Td\n(' + b'abcdefgh ' * (n // 4) + b') Tj ET'),
}


def run(tool, path):
    start = time.monotonic()
    proc = subprocess.run(['/usr/bin/time', '-f', '%M', tool, path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    kb = int(proc.stderr.strip().splitlines()[-1])
    return seconds, kb


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('lkword')
    ap.add_argument('--base', type=int, default=200000, help='repetitions at 1x')
    ap.add_argument('--only', default='', help='cases whose name contains this')
    args = ap.parse_args()
    worst = 0.0
    with tempfile.TemporaryDirectory() as tmp:
        print('%-16s %22s %22s %22s %7s' % ('case', '1x s/MB', '2x s/MB', '4x s/MB', '4x/2x'))
        for name, (ext, write, body) in CASES.items():
            if args.only not in name:
                continue
            rows = []
            for k in (1, 2, 4):
                path = os.path.join(tmp, '%s-%d.%s' % (name, k, ext))
                write(path, body(args.base * k))
                rows.append(min((run(args.lkword, path) for _ in range(3)), key=lambda r: r[0]))
                os.remove(path)
            ratio = rows[2][0] / max(rows[1][0], 1e-3)
            worst = max(worst, ratio)
            print('%-16s %s %7.2f' % (name, ' '.join('%12.3f %9.0f' % (s, kb / 1024) for s, kb in rows), ratio))
    print('largest time ratio per doubling: %.2f' % worst)
    return 0


if __name__ == '__main__':
    sys.exit(main())
