#!/usr/bin/env python3
"""Writes the encrypted fuzz seeds fuzz/corpus/odf/encrypted-{aes,blowfish}.odt:
sample.odt with meta.xml and content.xml encrypted under the password "fuzz"
the way office suites do it, but with 10 key rounds instead of 100,000, so
that the fuzzer spends its time on the members rather than on the key.
Fixed salts and vectors keep the output the same on every run.

usage: /usr/bin/python3 make-fuzz-seeds.py SAMPLE.odt OUT_DIR
(needs the `cryptography` module)
"""
import base64
import hashlib
import sys
import zipfile
import zlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

PASSWORD = b"fuzz"
ROUNDS = 10


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def encrypt(kind, name, data):
    salt = hashlib.sha256(b"salt" + name.encode()).digest()[:16]
    packed = deflate(data)
    if kind == "aes":
        iv = hashlib.sha256(b"iv" + name.encode()).digest()[:16]
        key = hashlib.pbkdf2_hmac("sha1", hashlib.sha256(PASSWORD).digest(), salt, ROUNDS, 32)
        pad = 16 - len(packed) % 16
        enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
        body = enc.update(packed + bytes([pad]) * pad) + enc.finalize()
        checksum = hashlib.sha256(packed[:1024]).digest()
        params = ('manifest:checksum-type="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0#sha256-1k" '
                  'manifest:checksum="%s"><manifest:algorithm manifest:algorithm-name='
                  '"http://www.w3.org/2001/04/xmlenc#aes256-cbc" manifest:initialisation-vector="%s"/>'
                  '<manifest:key-derivation manifest:key-derivation-name="PBKDF2" manifest:key-size="32" '
                  'manifest:iteration-count="%d" manifest:salt="%s"/><manifest:start-key-generation '
                  'manifest:start-key-generation-name="http://www.w3.org/2000/09/xmldsig#sha256" '
                  'manifest:key-size="32"/>')
    else:
        iv = hashlib.sha256(b"iv" + name.encode()).digest()[:8]
        key = hashlib.pbkdf2_hmac("sha1", hashlib.sha1(PASSWORD).digest(), salt, ROUNDS, 16)
        enc = Cipher(algorithms.Blowfish(key), modes.CFB(iv)).encryptor()
        body = enc.update(packed) + enc.finalize()
        checksum = hashlib.sha1(packed[:1024]).digest()
        params = ('manifest:checksum-type="SHA1/1K" manifest:checksum="%s"><manifest:algorithm '
                  'manifest:algorithm-name="Blowfish CFB" manifest:initialisation-vector="%s"/>'
                  '<manifest:key-derivation manifest:key-derivation-name="PBKDF2" '
                  'manifest:iteration-count="%d" manifest:salt="%s"/>')
    b64 = lambda b: base64.b64encode(b).decode()
    entry = ('<manifest:file-entry manifest:full-path="%s" manifest:media-type="text/xml" manifest:size="%d">'
             '<manifest:encryption-data ' % (name, len(data)) +
             params % (b64(checksum), b64(iv), ROUNDS, b64(salt)) +
             '</manifest:encryption-data></manifest:file-entry>')
    return body, entry


def main():
    src, out = sys.argv[1], sys.argv[2]
    with zipfile.ZipFile(src) as z:
        members = {n: z.read(n) for n in z.namelist()}
    for kind in ("aes", "blowfish"):
        entries, files = [], []
        for name in ("meta.xml", "content.xml"):
            body, entry = encrypt(kind, name, members[name])
            entries.append(entry)
            files.append((name, body))
        manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest='
                    '"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"><manifest:file-entry '
                    'manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>' +
                    "".join(entries) + "</manifest:manifest>")
        with zipfile.ZipFile("%s/encrypted-%s.odt" % (out, kind), "w") as z:
            for name, data in [("mimetype", b"application/vnd.oasis.opendocument.text")] + files:
                info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 0, 0, 0))
                z.writestr(info, data, zipfile.ZIP_STORED)
            info = zipfile.ZipInfo("META-INF/manifest.xml", date_time=(2024, 5, 1, 0, 0, 0))
            z.writestr(info, manifest.encode(), zipfile.ZIP_DEFLATED)


if __name__ == "__main__":
    main()
