#!/usr/bin/env python3
"""Writes corpus-content.txt: for every PDF of the shared corpora, each page's
object number and the MD5 of its content streams as qpdf decodes them (the
streams of a page joined with a line feed). Usage: corpus_content.py SHARED_DIR"""
import hashlib, json, os, subprocess, sys

# Passwords of the public corpus files (the shared corpus keeps *.password).
PUBLIC_PASSWORDS = {
    "fc_OOo320_simple-open-password.pdf": "password",
    "pypdf_libreoffice-writer-password.pdf": "openpassword",
    "qpdf_enc-R3_V2_U-view_O-master.pdf": "view",
    "tika_testPassword4Spaces.pdf": "    ",
}

def password_of(path):
    if os.path.exists(path + ".password"):
        return open(path + ".password", encoding="utf-8").read().rstrip("\n")
    return PUBLIC_PASSWORDS.get(os.path.basename(path))

def qpdf(args, path, pw):
    extra = ["--password=" + pw] if pw is not None else []
    return subprocess.run(["qpdf"] + args + extra + [path], capture_output=True).stdout

def main(shared):
    for sub in ("corpus/pdf", "corpus-public/pdf"):
        folder = os.path.join(shared, sub)
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".pdf"):
                continue
            path = os.path.join(folder, name)
            pw = password_of(path)
            try:
                pages = json.loads(qpdf(["--json", "--json-key=pages"], path, pw))["pages"]
            except ValueError:
                print(sub + "/" + name, "unreadable")
                continue
            for page in pages:
                datas = [qpdf(["--show-object=" + c.split()[0], "--filtered-stream-data"], path, pw)
                         for c in page["contents"]]
                print(sub + "/" + name, page["object"].split()[0], hashlib.md5(b"\n".join(datas)).hexdigest())

main(sys.argv[1])
