"""The lkword package as a Python program uses it, checked against the tool.

LKWORD_TESTDATA names the test documents (default: the checkout's);
LKWORD_TOOL the lkword tool and LKWORD_CORPUS a corpus folder, for the
comparisons with the tool (skipped without them)."""

import datetime
import io
import os
import pathlib
import struct
import subprocess
import zipfile

import pytest

import lkword

ROOT = pathlib.Path(__file__).resolve().parents[3]
DATA = pathlib.Path(os.environ.get("LKWORD_TESTDATA", ROOT / "testdata"))
TOOL = os.environ.get("LKWORD_TOOL")
CORPUS = os.environ.get("LKWORD_CORPUS")
DOCX = DATA / "samples" / "keeper.docx"
ENCRYPTED = DATA / "doc" / "encrypted-rc4.doc"


def tool(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True)


def test_sources_of_every_kind_give_one_document():
    by_path = lkword.extract(str(DOCX))
    data = DOCX.read_bytes()
    for other in (lkword.extract(DOCX), lkword.extract(data), lkword.extract(bytearray(data)),
                  lkword.extract(memoryview(data)), lkword.extract(io.BytesIO(data))):
        assert other.text == by_path.text
        assert other.metadata == by_path.metadata
    assert by_path.text.startswith("The Lighthouse Keeper\u2019s Log\nMara Quill\n")
    assert by_path.reader == "docx" and by_path.path == str(DOCX) and by_path.ok
    assert lkword.extract(data).path is None


def test_metadata_values_have_their_types():
    meta = lkword.extract(DOCX).metadata
    assert meta["Author"] == "Mara Quill"
    assert meta["WordCount"] == 83
    created = meta["Created"]
    assert isinstance(created, datetime.datetime) and created.tzinfo is not None
    assert created.astimezone(datetime.timezone.utc).date() == datetime.date(2021, 3, 14)


def test_options_reach_the_reader():
    html = lkword.extract(DOCX, format="html", notes=True)
    assert "charset=utf-8" in html.text and html.text.endswith("\r\n")
    assert "barometer" in html.notes["footnotes"]
    assert "notes" not in lkword.extract(DOCX).notes
    assert "| Hour | Wind | Sea |\n| --- |" in lkword.extract(DOCX, format="markdown").text
    cut = lkword.extract(DOCX, max_length=30)
    assert len(cut.text) < 40 and any("maximum text length" in w for w in cut.warnings)
    pdf = lkword.extract(DATA / "samples" / "hello.pdf")
    assert pdf.pages and pdf.pages >= 1 and pdf.reader == "pdf"
    assert lkword.extract(DOCX).pages is None
    assert lkword.extract(DATA / "samples" / "keeper.doc", macros=True).macros == ""
    with pytest.raises(ValueError):
        lkword.extract(DOCX, format="pdf")
    with pytest.raises(ValueError):
        lkword.extract(DOCX, reader="no-such-reader")
    with pytest.raises(ValueError):
        lkword.extract(DOCX, max_length=-1)


def test_encoding_decodes_undeclared_8_bit_text():
    # A stored PalmDoc book, whose text carries no code page.
    text = "Привет, мир".encode("cp1251")
    record0 = struct.pack(">HHIHHI", 1, 0, len(text), 1, 4096, 0)
    first = 78 + 16 + 2
    book = (b"Kniga".ljust(60, b"\0") + b"TEXtREAd" + bytes(8) + struct.pack(">H", 2)
            + struct.pack(">IIII", first, 0, first + len(record0), 1) + b"\0\0" + record0 + text)
    assert "Привет, мир" in lkword.extract(book, encoding="cp1251").text
    assert lkword.extract(book, encoding="1251").text == lkword.extract(book, encoding="windows-1251").text
    assert "Ïðèâåò" in lkword.extract(book).text
    with pytest.raises(ValueError):
        lkword.extract(book, encoding="klingon")


def test_tracked_changes_are_accepted_unless_asked_for():
    body = ('<w:p><w:r><w:t xml:space="preserve">kept </w:t></w:r><w:del w:id="1"><w:r><w:delText>gone</w:delText>'
            '</w:r></w:del><w:ins w:id="2"><w:r><w:t>new</w:t></w:r></w:ins></w:p>')
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr("word/document.xml", '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/'
                   '2006/main"><w:body>' + body + "</w:body></w:document>")
    assert lkword.extract(buf.getvalue()).text == "kept new\n"
    assert lkword.extract(buf.getvalue(), changes=True).text == "kept -gone+new\n"


def test_bad_input_raises_its_class_with_the_library_message():
    with pytest.raises(lkword.NotFoundError) as e:
        lkword.extract(DATA / "no" / "such.doc")
    assert isinstance(e.value, FileNotFoundError) and "is not found" in str(e.value)
    with pytest.raises(lkword.UnsupportedFormatError, match="unsupported file format"):
        lkword.extract(b"\x01\x02 no document at all \xff\xfe" * 10)
    with pytest.raises(lkword.PasswordError) as e:
        lkword.extract(ENCRYPTED)
    assert e.value.kind == "password" and e.value.path == str(ENCRYPTED) and e.value.message
    with pytest.raises(lkword.PasswordError):
        lkword.extract(ENCRYPTED, password="wrong")
    with pytest.raises(lkword.CorruptDocumentError, match="truncated"):
        lkword.extract(DOCX.read_bytes()[:1000])
    with pytest.raises(lkword.CorruptDocumentError):
        lkword.extract(b"")
    # A file cut short is no error, but its result says it is not whole.
    pdf = (DATA / "samples" / "hello.pdf").read_bytes()
    cut = lkword.extract(pdf[:len(pdf) * 9 // 10])
    assert cut.partial and cut.text.strip() and any("ends early" in w for w in cut.warnings)
    assert not lkword.extract(pdf).partial
    late = lkword.extract(DOCX.read_bytes()[:2000])
    assert late.partial and late.text.strip() and any("directory is missing" in w for w in late.warnings)
    with pytest.raises(lkword.ReadError):
        lkword.extract(DATA)
    for bad in (None, 42, io.StringIO("text")):
        with pytest.raises(TypeError):
            lkword.extract(bad)
    assert issubclass(lkword.LimitError, lkword.Error)


def test_passwords_are_tried_in_turn():
    doc = lkword.extract(ENCRYPTED, password=["wrong", "P\u00e4ssw\u00f6rd 1"])
    plain = lkword.extract(DATA / "doc" / "encrypted-rc4-plain.doc")
    assert doc.text == plain.text and doc.text


def test_detect():
    assert lkword.detect(DATA / "samples" / "lighthouse.pdb") == "pdb"
    assert lkword.detect(DOCX.read_bytes()) == "docx"
    assert lkword.detect(b"nothing") is None
    assert lkword.detect(DATA / "no" / "such.doc") is None
    assert "pdf" in lkword.readers()


def test_extract_many_keeps_order_and_reports_failures_in_place():
    sources = [DOCX, DATA / "no" / "such.doc", DOCX.read_bytes(), None, ENCRYPTED, DATA / "samples" / "sample.wri"]
    results = list(lkword.extract_many(sources, jobs=2))
    assert [type(r.error) for r in results] == [type(None), lkword.NotFoundError, type(None), TypeError,
                                                lkword.PasswordError, type(None)]
    assert results[0].text == results[2].text == lkword.extract(DOCX).text
    assert results[5].reader == "wri"
    one = [r.text for r in lkword.extract_many(sources, jobs=1)]
    assert one == [r.text for r in results]
    with pytest.raises(TypeError):
        list(lkword.extract_many([DOCX], colour="blue"))


def test_extract_many_reads_a_bounded_way_ahead_and_stops_when_left():
    taken = []

    def sources():
        for i in range(2000):
            taken.append(i)
            # A large document late in the batch is read early, yielded in its turn.
            yield b"x" * 4_000_000 if i == 41 else DOCX.read_bytes() if i % 2 else DOCX
    results = lkword.extract_many(sources(), jobs=2)
    docs = [next(results) for _ in range(43)]
    assert [d.error is None for d in docs] == [i != 41 for i in range(43)]
    assert isinstance(docs[41].error, lkword.UnsupportedFormatError)
    assert docs[0].text == docs[1].text == docs[42].text == lkword.extract(DOCX).text
    results.close()
    assert len(taken) <= 43 + 256
    with pytest.raises(ValueError):
        list(lkword.extract_many([DOCX], format="pdf"))


def corpus_files():
    if not CORPUS or not os.path.isdir(CORPUS):
        return []
    skip = (".txt", ".md", ".json", ".password")
    return sorted(str(p) for p in pathlib.Path(CORPUS).rglob("*") if p.is_file() and not p.name.endswith(skip))


@pytest.mark.skipif(not TOOL, reason="LKWORD_TOOL not set")
def test_text_and_errors_match_the_tool_on_the_samples():
    for path in sorted((DATA / "samples").iterdir()):
        doc = lkword.extract(path)
        assert doc.text.encode() == tool(path).stdout, path
    run = tool(ENCRYPTED)
    with pytest.raises(lkword.PasswordError) as e:
        lkword.extract(ENCRYPTED)
    assert e.value.message in run.stderr.decode()


@pytest.mark.skipif(not TOOL or not corpus_files(), reason="needs LKWORD_TOOL and LKWORD_CORPUS")
def test_extract_many_matches_the_tool_on_the_corpus():
    files = corpus_files()
    differ = []
    for doc in lkword.extract_many(files, jobs=2):
        run = tool(doc.path)
        if doc.error is not None:
            if run.returncode == 0 or doc.error.message not in run.stderr.decode():
                differ.append(doc.path)
        elif doc.text.encode() != run.stdout:
            differ.append(doc.path)
    assert differ == []


@pytest.mark.skipif(not corpus_files(), reason="needs LKWORD_CORPUS")
def test_time_limit_stops_a_large_document():
    largest = max(corpus_files(), key=os.path.getsize)
    with pytest.raises(lkword.TimeLimitError) as e:
        lkword.extract(largest, timeout=0.001)
    assert isinstance(e.value, TimeoutError) and "timed out" in e.value.message


def test_page_range_reads_only_its_pages():
    pages = DATA / "pdf" / "pages.pdf"
    second = lkword.extract(pages, first_page=2, last_page=2)
    assert second.pages == 4
    assert "Two" in second.text and "One" not in second.text and "Four" not in second.text
    assert "One" not in lkword.extract(pages, first_page=4).text
    assert lkword.extract(pages, first_page=9).text.strip() == ""
    [first] = lkword.extract_many([pages], last_page=1)
    assert "One" in first.text and "Two" not in first.text
    for bad in ({"first_page": 0}, {"last_page": -2}):
        with pytest.raises(ValueError):
            lkword.extract(pages, **bad)
    # Formats without pages read as a whole.
    assert lkword.extract(DOCX, first_page=5, last_page=1).text == lkword.extract(DOCX).text
