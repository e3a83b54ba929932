#!/usr/bin/env python3
"""Writes password-protected copies of sample.docx (see testdata/README.md).

Run in testdata/docx/. Salts and keys come from fixed seeds, so the output is
the same on every run. Needs the `cryptography` module.
"""
import base64
import hashlib
import hmac
import struct

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

PASSWORD = 'Ærø lamp'
SEGMENT = 4096


def seeded(label, n):
    """Deterministic 'random' bytes."""
    out = b''
    while len(out) < n:
        out += hashlib.sha256(f'{label}/{len(out)}'.encode()).digest()
    return out[:n]


def aes(key, mode, data):
    enc = Cipher(algorithms.AES(key), mode).encryptor()
    return enc.update(data) + enc.finalize()


def pad(data, block=16):
    return data + b'\0' * (-len(data) % block)


# --- compound file: 512-byte sectors, small streams in the mini stream ------

FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD


def compound_file(streams):
    """streams: list of (name, bytes), all in the root storage."""
    sectors = []   # 512-byte sectors after the header
    fat = []       # one entry per sector

    def add_chain(data, kind=None):
        start = len(sectors)
        data = data + b'\0' * (-len(data) % 512)
        n = len(data) // 512
        for i in range(n):
            sectors.append(data[i * 512:(i + 1) * 512])
            fat.append(kind if kind is not None else (start + i + 1 if i + 1 < n else END))
        return start if n else END

    mini, minifat, entries = b'', [], []
    for name, data in streams:
        if len(data) < 4096:
            first = len(mini) // 64
            count = (len(data) + 63) // 64
            minifat += [first + i + 1 if i + 1 < count else END for i in range(count)]
            mini += data + b'\0' * (-len(data) % 64)
            entries.append((name, data, first if count else END, True))
        else:
            entries.append((name, data, None, False))

    # Directory: root, then the streams; the first stream is the root's
    # child, the others hang off it as right siblings (names compare by
    # length first, so they must be sorted that way).
    entries.sort(key=lambda e: (len(e[0]), e[0].upper()))
    big = {e[0]: add_chain(e[1]) for e in entries if not e[3]}
    ministart = add_chain(mini)
    minifatstart = add_chain(b''.join(struct.pack('<I', v) for v in minifat))

    def dirent(name, kind, left, right, child, start, size):
        raw = name.encode('utf-16-le') + b'\0\0'
        return (raw.ljust(64, b'\0') + struct.pack('<HBB3I', len(raw), kind, 1, left, right, child) +
                b'\0' * 36 + struct.pack('<IQ', start, size))

    dirs = [dirent('Root Entry', 5, FREE, FREE, 1 if entries else FREE, ministart, len(mini))]
    for i, (name, data, first, small) in enumerate(entries):
        right = i + 2 if i + 1 < len(entries) else FREE
        dirs.append(dirent(name, 2, FREE, right, FREE, first if small else big[name], len(data)))
    dirstart = add_chain(b''.join(dirs).ljust(512 * ((len(dirs) + 3) // 4), b'\0'))

    # FAT sectors go last; they cover themselves too.
    nfat = 1
    while len(fat) + nfat > 128 * nfat:
        nfat += 1
    assert nfat <= 109, 'too large for a header-only DIFAT'
    fatstart = len(sectors)
    fat += [FATSECT] * nfat
    fat += [FREE] * (128 * nfat - len(fat))
    table = b''.join(struct.pack('<I', v) for v in fat)
    for i in range(nfat):
        sectors.append(table[i * 512:(i + 1) * 512])

    difat = [fatstart + i for i in range(nfat)] + [FREE] * (109 - nfat)
    header = (b'\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1' + b'\0' * 16 +
              struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6) + b'\0' * 6 +
              struct.pack('<IIIIIIIII', 0, nfat, dirstart, 0, 4096,
                          minifatstart if minifat else END, (len(minifat) * 4 + 511) // 512, END, 0) +
              b''.join(struct.pack('<I', v) for v in difat))
    assert len(header) == 512
    return header + b''.join(sectors)


# --- standard encryption: AES-128 ECB, SHA-1, 50,000 rounds -----------------

def iterated(hashname, salt, password, spin):
    h = hashlib.new(hashname, salt + password.encode('utf-16-le')).digest()
    for i in range(spin):
        h = hashlib.new(hashname, struct.pack('<I', i) + h).digest()
    return h


def standard(package, keybits=128):
    salt = seeded('standard salt', 16)
    h = hashlib.sha1(iterated('sha1', salt, PASSWORD, 50000) + struct.pack('<I', 0)).digest()
    x1 = hashlib.sha1(bytes(b ^ 0x36 for b in h) + b'\x36' * 44).digest()
    x2 = hashlib.sha1(bytes(b ^ 0x5C for b in h) + b'\x5C' * 44).digest()
    key = (x1 + x2)[:keybits // 8]
    verifier = seeded('standard verifier', 16)
    csp = 'Microsoft Enhanced RSA and AES Cryptographic Provider\0'.encode('utf-16-le')
    alg = {128: 0x660E, 192: 0x660F, 256: 0x6610}[keybits]
    header = struct.pack('<8I', 0x24, 0, alg, 0x8004, keybits, 0x18, 0, 0) + csp
    info = (struct.pack('<HHII', 4, 2, 0x24, len(header)) + header +
            struct.pack('<I', 16) + salt + aes(key, modes.ECB(), verifier) +
            struct.pack('<I', 20) + aes(key, modes.ECB(), pad(hashlib.sha1(verifier).digest())))
    data = struct.pack('<Q', len(package)) + aes(key, modes.ECB(), pad(package))
    return info, data


# --- agile encryption: AES CBC, password key encryptor ----------------------

BLOCK_VERIFIER_INPUT = bytes.fromhex('fea7d2763b4b9e79')
BLOCK_VERIFIER_HASH = bytes.fromhex('d7aa0f6d3061344e')
BLOCK_KEY_VALUE = bytes.fromhex('146e0be7abacd0d6')
BLOCK_HMAC_KEY = bytes.fromhex('5fb2ad010cb9e1f6')
BLOCK_HMAC_VALUE = bytes.fromhex('a0677f02b22c8433')
HASHES = {'SHA1': 'sha1', 'SHA256': 'sha256', 'SHA384': 'sha384', 'SHA512': 'sha512'}


def fit(b, n):
    return b[:n] if len(b) >= n else b + b'\x36' * (n - len(b))


def agile(package, keybits, hashalg, spin=100000):
    hname = HASHES[hashalg]
    hsize = hashlib.new(hname).digest_size
    kbytes = keybits // 8
    data_salt = seeded(f'agile {hashalg} key data salt', 16)
    key_salt = seeded(f'agile {hashalg} password salt', 16)
    secret = seeded(f'agile {hashalg} secret key', kbytes)

    h = iterated(hname, key_salt, PASSWORD, spin)

    def derived(block):
        return fit(hashlib.new(hname, h + block).digest(), kbytes)

    verifier = seeded(f'agile {hashalg} verifier', 16)
    enc_input = aes(derived(BLOCK_VERIFIER_INPUT), modes.CBC(key_salt), verifier)
    enc_hash = aes(derived(BLOCK_VERIFIER_HASH), modes.CBC(key_salt),
                   pad(hashlib.new(hname, verifier).digest()))
    enc_key = aes(derived(BLOCK_KEY_VALUE), modes.CBC(key_salt), pad(secret))

    out = struct.pack('<Q', len(package))
    for i in range(0, len(package), SEGMENT):
        iv = hashlib.new(hname, data_salt + struct.pack('<I', i // SEGMENT)).digest()[:16]
        out += aes(secret, modes.CBC(iv), pad(package[i:i + SEGMENT]))

    hmac_key = seeded(f'agile {hashalg} hmac key', hsize)
    hmac_value = hmac.new(hmac_key, out, hname).digest()
    iv1 = hashlib.new(hname, data_salt + BLOCK_HMAC_KEY).digest()[:16]
    iv2 = hashlib.new(hname, data_salt + BLOCK_HMAC_VALUE).digest()[:16]

    def b64(b):
        return base64.b64encode(b).decode()

    params = (f'saltSize="16" blockSize="16" keyBits="{keybits}" hashSize="{hsize}" cipherAlgorithm="AES" '
              f'cipherChaining="ChainingModeCBC" hashAlgorithm="{hashalg}"')
    xml = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
           '<encryption xmlns="http://schemas.microsoft.com/office/2006/encryption" '
           'xmlns:p="http://schemas.microsoft.com/office/2006/keyEncryptor/password" '
           'xmlns:c="http://schemas.microsoft.com/office/2006/keyEncryptor/certificate">'
           f'<keyData {params} saltValue="{b64(data_salt)}"/>'
           f'<dataIntegrity encryptedHmacKey="{b64(aes(secret, modes.CBC(iv1), pad(hmac_key)))}" '
           f'encryptedHmacValue="{b64(aes(secret, modes.CBC(iv2), pad(hmac_value)))}"/>'
           '<keyEncryptors><keyEncryptor uri="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
           f'<p:encryptedKey spinCount="{spin}" {params} saltValue="{b64(key_salt)}" '
           f'encryptedVerifierHashInput="{b64(enc_input)}" encryptedVerifierHashValue="{b64(enc_hash)}" '
           f'encryptedKeyValue="{b64(enc_key)}"/></keyEncryptor></keyEncryptors></encryption>')
    info = struct.pack('<HHI', 4, 4, 0x40) + xml.encode()
    return info, out


def main():
    package = open('sample.docx', 'rb').read()
    for name, (info, data) in (
            ('sample-agile-aes256-sha512.docx', agile(package, 256, 'SHA512')),
            ('sample-agile-aes128-sha1.docx', agile(package, 128, 'SHA1')),
            ('sample-standard-aes128.docx', standard(package))):
        with open(name, 'wb') as f:
            f.write(compound_file([('EncryptionInfo', info), ('EncryptedPackage', data)]))
    # The fuzz seed spins once, so that the fuzzer's runs stay fast; mode
    # byte 0x40 makes the target give the password.
    info, data = agile(package, 128, 'SHA1', spin=1)
    with open('../../fuzz/corpus/docx/raw-password-agile.bin', 'wb') as f:
        f.write(b'\x40' + compound_file([('EncryptionInfo', info), ('EncryptedPackage', data)]))


if __name__ == '__main__':
    main()
