# Writes the *.members seeds of fuzz/corpus/epub (run in testdata/epub/):
# members as name NUL content NUL ..., which the fuzz target zips itself.
container = ('<?xml version="1.0"?><container><rootfiles><rootfile full-path="OPS/pkg/book.opf" '
             'media-type="application/oebps-package+xml"/></rootfiles></container>')
opf = ('<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf"><metadata xmlns:dc="http://purl.org/dc/elements/1.1/" '
       'xmlns:opf="http://www.idpf.org/2007/opf"><dc:title>A</dc:title><dc:title>B</dc:title><dc:creator>C</dc:creator>'
       '<dc:date opf:event="creation">2001-02-03T04:05:06+01:00</dc:date><dc:description>&lt;p&gt;d&lt;/p&gt;</dc:description>'
       '<meta name="cover" content="pic"/><meta property="dcterms:modified">2020-01-01T00:00:00Z</meta></metadata>'
       '<manifest><item id="pic" href="../img/c%20v.png" media-type="image/png"/><item id="c1" href="../Text/c1.xhtml#x" '
       'media-type="application/xhtml+xml"/><item id="c2" href="/OPS/Text/c2.html" media-type="text/html"/>'
       '<item id="n" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/></manifest>'
       '<spine><itemref idref="c2"/><itemref idref="c1"/><itemref idref="gone"/><itemref idref="c1"/></spine></package>')
c1 = ('<?xml version="1.0" encoding="UTF-8"?><html><head><title>t</title><style>p{}</style><script>x</script></head><body>'
      '<section><h1>H <em>e</em></h1><p>a<br/>b &amp; &nbsp;c</p><div>d<p>e</p>f</div><ul><li>g<ol><li>h</li></ol></li></ul>'
      '<table><caption>i</caption><tr><th>j</th><td>k</td></tr></table><pre> l\n  m</pre><!-- n --><![CDATA[o]]></section></body></html>')
c2 = '<html><body><p>unclosed <b>bold<div>x</body>'
enc = ('<encryption xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData><enc:CipherData>'
       '<enc:CipherReference URI="OPS/fonts/f.otf"/></enc:CipherData></enc:EncryptedData></encryption>')


def members(pairs):
    return b''.join(n.encode() + b'\0' + c.encode() + b'\0' for n, c in pairs)


d = '../../fuzz/corpus/epub/'
open(d + 'book.members', 'wb').write(members([
    ('mimetype', 'application/epub+zip'), ('META-INF/container.xml', container), ('META-INF/encryption.xml', enc),
    ('OPS/pkg/book.opf', opf), ('OPS/Text/c1.xhtml', c1), ('OPS/Text/c2.html', c2), ('OPS/img/c v.png', 'PNG')]))
open(d + 'no-container.members', 'wb').write(members([
    ('x/y.opf', opf.replace('<spine>', '<spine><itemref idref="n"/>')), ('x/Text/c1.xhtml', c1)]))
