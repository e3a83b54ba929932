"""Text and metadata of documents, read in-process by the LKWord library.

Reads Word 97-2003 and older, Word 2007+, OpenDocument, FictionBook, EPUB,
PDF, WordPerfect, Windows Write and PalmDoc documents, detected by content.

    import lkword
    doc = lkword.extract("report.docx")
    print(doc.reader, doc.metadata.get("Title"))
    print(doc.text[:80])
    for doc in lkword.extract_many(paths, jobs=4):
        print(doc.path, doc.error or len(doc.text))

extract() raises an lkword.Error subclass when a document cannot be read:
PasswordError, UnsupportedFormatError, CorruptDocumentError, LimitError,
NotFoundError (also a FileNotFoundError), ReadError (an OSError) and
TimeLimitError (a TimeoutError). extract_many() never raises for one
document: a failed one is a Document whose error holds the exception.

The work is done in C++ with the interpreter lock released, so threads
(extract_many's, or the caller's own) read documents truly in parallel.
"""

from __future__ import annotations

import datetime
import os
import threading
from typing import IO, Dict, Iterable, Iterator, List, Optional, Sequence, Union

from . import _lkword

__version__: str = _lkword.__version__

__all__ = [
    "Document", "extract", "extract_many", "detect", "readers",
    "Error", "PasswordError", "UnsupportedFormatError", "CorruptDocumentError", "LimitError",
    "NotFoundError", "ReadError", "TimeLimitError",
]

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, IO[bytes]]


class Error(Exception):
    """A document could not be read. ``kind`` is the tool's error_kind name
    ("password", "corrupt", ...), ``message`` the library's message and
    ``path`` the document's path (None for bytes)."""

    kind = "error"

    def __init__(self, message: str, path: Optional[str] = None) -> None:
        super().__init__(message)
        self.message = message
        self.path = path

    def __str__(self) -> str:
        return "%s: %s" % (self.path, self.message) if self.path else self.message


class PasswordError(Error):
    """The document is encrypted and no password given opens it."""
    kind = "password"


class UnsupportedFormatError(Error):
    """No reader takes the document, or it uses an encryption none implements."""
    kind = "unsupported"


class CorruptDocumentError(Error):
    """The document's structure is broken (a truncated file, say)."""
    kind = "corrupt"


class LimitError(Error):
    """The document needs more than a resource limit allows, or memory ran out."""
    kind = "limit"


class NotFoundError(Error, FileNotFoundError):
    """There is no file at the path."""
    kind = "not_found"

    def __init__(self, message: str, path: Optional[str] = None) -> None:
        Error.__init__(self, message, path)
        self.filename = path


class ReadError(Error, OSError):
    """The file exists but cannot be read (a folder, no permission)."""
    kind = "io"

    def __init__(self, message: str, path: Optional[str] = None) -> None:
        Error.__init__(self, message, path)
        self.filename = path


class TimeLimitError(Error, TimeoutError):
    """The time limit passed before the document was read."""
    kind = "timeout"


# The C interface's error numbers, in its order (LKWORD_ERROR_NOT_FOUND = 1...).
_ERRORS = {1: NotFoundError, 2: UnsupportedFormatError, 3: PasswordError, 4: CorruptDocumentError,
           5: ReadError, 6: LimitError, 7: TimeLimitError}
_FORMATS = {"text": 0, "rtf": 1, "html": 2, "markdown": 3}


class Document:
    """What was read from one document.

    text      the text in the chosen format, each line ending with LF (RTF
              and HTML: CR LF), exactly as the lkword tool writes it
    metadata  the fields the document sets: str, int, or datetime (aware,
              with the offset the time was saved under)
    warnings  problems the reader survived, a repeated one with its count
    pages     the page count of paged formats (PDF), else None
    reader    the reader's name ("doc", "pdf", ...)
    notes     with notes=True: {"footnotes": text, "headers": text, ...}
    macros    with macros=True: the VBA listing ("" when there is none)
    path      the document's path, None for bytes and files
    error     None, or (from extract_many) the Error that stopped it
    partial   True when only part of the document could be read (damage, a
              file cut short): the text is what was recovered, the warnings
              say what was lost
    """

    __slots__ = ("text", "metadata", "warnings", "pages", "reader", "notes", "macros", "path", "error", "partial")

    def __init__(self, text: str = "", metadata: Optional[Dict[str, object]] = None,
                 warnings: Optional[List[str]] = None, pages: Optional[int] = None, reader: Optional[str] = None,
                 notes: Optional[Dict[str, str]] = None, macros: Optional[str] = None,
                 path: Optional[str] = None, error: Optional[Error] = None, partial: bool = False) -> None:
        self.text = text
        self.metadata = metadata if metadata is not None else {}
        self.warnings = warnings if warnings is not None else []
        self.pages = pages
        self.reader = reader
        self.notes = notes if notes is not None else {}
        self.macros = macros
        self.path = path
        self.error = error
        self.partial = partial

    @property
    def ok(self) -> bool:
        """True when the document was read."""
        return self.error is None

    def __repr__(self) -> str:
        state = "error=%r" % (self.error,) if self.error else "%d chars" % len(self.text)
        return "<lkword.Document %s reader=%s %s>" % (self.path or "<bytes>", self.reader, state)


def _value(value: str, kind: int) -> object:
    if kind == 1:
        return int(value)
    if kind == 2:
        return datetime.datetime.fromisoformat(value)
    return value


def _document(raw: tuple, path: Optional[str], macros: bool) -> Document:
    code, message, reader, text, pages, metadata, warnings, notes, macro_text, partial = raw
    doc = Document(text, {k: _value(v, t) for k, v, t in metadata}, list(warnings),
                   pages if pages >= 0 else None, reader, dict(notes), macro_text if macros else None, path,
                   partial=partial)
    if code:
        doc.error = _ERRORS.get(code, Error)(message, path)
    return doc


def _run(source: Source, format: str, password: Union[None, str, Sequence[str]], notes: bool, macros: bool,
         hidden: bool, max_length: int, timeout: Optional[float], reader: Optional[str],
         encoding: Optional[str] = None, changes: bool = False, first_page: Optional[int] = None,
         last_page: Optional[int] = None) -> Document:
    if source is None:
        raise TypeError("extract() needs a path, bytes or a binary file, not None")
    if format not in _FORMATS:
        raise ValueError("format must be one of %s, not %r" % (", ".join(_FORMATS), format))
    if password is None:
        passwords: List[str] = []
    elif isinstance(password, str):
        passwords = [password]
    else:
        passwords = list(password)
    timeout_ms = 0 if timeout is None else max(1, int(timeout * 1000))
    # A page past what the library counts is past any document's end.
    pages = [0 if p is None else min(int(p), 2**31 - 1) for p in (first_page, last_page)]
    if any(p < 0 or (p == 0 and given is not None) for p, given in zip(pages, (first_page, last_page))):
        raise ValueError("first_page and last_page count from 1, not %r, %r" % (first_page, last_page))
    args = (_FORMATS[format], passwords, bool(notes), bool(macros), bool(hidden), int(max_length), timeout_ms, reader,
            encoding, bool(changes), pages[0], pages[1])
    if isinstance(source, (str, os.PathLike)):
        # Bytes to the library: a file name need not be valid UTF-8.
        path = os.fsdecode(source)
        return _document(_lkword.extract_path(os.fsencode(source), *args), path, macros)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return _document(_lkword.extract_buffer(source, *args), None, macros)
    if hasattr(source, "read"):
        data = source.read()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError("the file must be opened in binary mode")
        return _document(_lkword.extract_buffer(data, *args), None, macros)
    raise TypeError("extract() needs a path, bytes or a binary file, not %s" % type(source).__name__)


def extract(source: Source, format: str = "text", password: Union[None, str, Sequence[str]] = None,
            notes: bool = False, macros: bool = False, hidden: bool = False, max_length: int = 0,
            reader: Optional[str] = None, timeout: Optional[float] = None,
            encoding: Optional[str] = None, changes: bool = False, first_page: Optional[int] = None,
            last_page: Optional[int] = None) -> Document:
    """Reads one document and returns its Document.

    source      a path (str or path-like), the document's bytes, or a file
                opened in binary mode
    format      "text", "rtf", "html" or "markdown"
    password    a password, or several to try in turn
    notes       read footnotes, endnotes, headers, footers and comments too
                (into Document.notes)
    macros      read the VBA macros of Word 97-2003 documents
    hidden      include hidden text in the body
    max_length  cut the text at this many UTF-16 units (0: no limit), with
                a warning
    reader      a reader's name to use instead of detecting the format
    timeout     seconds per document (None: no limit)
    encoding    the code page of 8-bit text whose document does not name one
                (PalmDoc books, Write and early Word files): "cp1251",
                "koi8-r", "1251", ... (None: 1252)
    changes     in plain text, keep deleted text and mark tracked changes
                ("-" before deleted, "+" before inserted text) as RTF and
                HTML do; by default the text reads with the changes accepted
    first_page, last_page
                the PDF pages to read, counted from 1, both included (None:
                from the first, to the last); pages outside are not read,
                Document.pages still counts all of them; a first page past
                the end gives no page text. Other formats ignore them

    Raises an lkword.Error subclass when the document cannot be read,
    TypeError for a source of the wrong type, ValueError for a bad option.
    """
    doc = _run(source, format, password, notes, macros, hidden, max_length, timeout, reader, encoding, changes,
               first_page, last_page)
    if doc.error is not None:
        raise doc.error
    return doc


def extract_many(sources: Iterable[Source], jobs: Optional[int] = None, **options) -> Iterator[Document]:
    """Reads many documents on ``jobs`` threads (default: the processor
    count) and yields their Documents in input order as they are done.

    Takes extract()'s keyword options. A document that fails is yielded
    as a Document whose ``error`` is the Error (or the TypeError of a bad
    source); the batch goes on. Of the next 256 sources, the largest are
    read first, so that a large document late in the batch does not leave
    the other threads idle at its end; at most 16 documents per thread are
    read ahead of the one being yielded, so a long iterable is not read
    into memory.
    """
    jobs = max(1, jobs or os.cpu_count() or 1)
    settings = _defaults(options)
    batch = _Batch(iter(sources), jobs, settings)
    try:
        while True:
            doc = batch.next()
            if doc is None:
                return
            yield doc
    finally:
        batch.close()


def _weight(source: object) -> int:
    """What a source is expected to cost: its size in bytes where that is
    known without reading it."""
    if isinstance(source, (str, os.PathLike)):
        try:
            return os.stat(source).st_size
        except (OSError, ValueError):
            return 0
    if isinstance(source, (bytes, bytearray, memoryview)):
        return len(source)
    return 0


class _Batch:
    """The documents of one extract_many call: sources are taken from the
    iterable by the caller's thread only (it need not be thread-safe);
    worker threads pick among them, largest first, under one lock."""

    LOOKAHEAD = 256        # sources taken ahead of the one to yield, to choose among
    AHEAD_PER_JOB = 16     # documents started ahead of the one to yield, per thread

    def __init__(self, sources: Iterator[Source], jobs: int, settings: dict) -> None:
        self._sources = sources
        self._settings = settings
        self._cond = threading.Condition()
        self._first = 0                  # index of the next document to yield
        self._taken = 0                  # sources taken from the iterable
        self._waiting: Dict[int, tuple] = {}   # index -> (weight, source), not started
        self._started: set = set()       # indexes started, not yet yielded
        self._done: Dict[int, tuple] = {}      # index -> (document, exception)
        self._exhausted = False
        self._stop = False
        self._limit = self.AHEAD_PER_JOB * jobs
        self._fill()
        self._threads = [threading.Thread(target=self._work, daemon=True) for _ in range(jobs)]
        for t in self._threads:
            t.start()

    def _fill(self) -> None:
        # Called by the caller's thread only, outside the lock: a source's
        # iterator or os.stat may be slow.
        while not self._exhausted and self._taken < self._first + self.LOOKAHEAD:
            try:
                source = next(self._sources)
            except StopIteration:
                with self._cond:
                    self._exhausted = True
                    self._cond.notify_all()
                return
            weight = _weight(source)
            with self._cond:
                self._waiting[self._taken] = (weight, source)
                self._taken += 1
                self._cond.notify()

    def _pick(self) -> Optional[int]:
        if len(self._started) >= self._limit:
            # Only the one the caller waits for may start now.
            return self._first if self._first in self._waiting else None
        if not self._waiting:
            return None
        return max(self._waiting, key=lambda i: (self._waiting[i][0], -i))

    def _work(self) -> None:
        while True:
            with self._cond:
                while not self._stop:
                    index = self._pick()
                    if index is not None:
                        break
                    if self._exhausted and not self._waiting:
                        return
                    self._cond.wait()
                if self._stop:
                    return
                _, source = self._waiting.pop(index)
                self._started.add(index)
            result = _read_one(source, self._settings)
            with self._cond:
                self._done[index] = result
                self._cond.notify_all()

    def next(self) -> Optional[Document]:
        self._fill()
        with self._cond:
            while self._first not in self._done:
                if self._exhausted and self._first >= self._taken:
                    return None
                self._cond.wait()
            doc, error = self._done.pop(self._first)
            self._started.discard(self._first)
            self._first += 1
            self._cond.notify_all()
        if error is not None:
            raise error
        return doc

    def close(self) -> None:
        with self._cond:
            self._stop = True
            self._cond.notify_all()
        for t in self._threads:
            t.join()


def _read_one(source: Source, settings: dict) -> tuple:
    """(Document, None), or (None, exception) for an error that is not this
    document's alone (a bad option), which the batch raises."""
    try:
        return _run(source, **settings), None
    except (TypeError, OSError) as e:
        # A bad source, or a file object that cannot be read: this
        # document's failure. A bad option fails them all, and is raised.
        doc = Document(path=os.fsdecode(source) if isinstance(source, (str, os.PathLike)) else None)
        doc.error = e  # type: ignore[assignment]
        return doc, None
    except Exception as e:  # noqa: BLE001 - handed to the caller's thread
        return None, e


def _defaults(options: dict) -> dict:
    unknown = set(options) - set(_OPTION_DEFAULTS)
    if unknown:
        raise TypeError("unknown option(s): %s" % ", ".join(sorted(unknown)))
    merged = dict(_OPTION_DEFAULTS)
    merged.update(options)
    return merged


_OPTION_DEFAULTS = {"format": "text", "password": None, "notes": False, "macros": False, "hidden": False,
                    "max_length": 0, "timeout": None, "reader": None, "encoding": None,
                    "changes": False, "first_page": None, "last_page": None}


def detect(source: Source) -> Optional[str]:
    """The name of the reader that would read the document, or None when no
    reader recognises it (or a file cannot be opened). Reads only as much as
    the content tests need."""
    if isinstance(source, (str, os.PathLike)):
        return _lkword.detect_path(os.fsencode(source))
    if isinstance(source, (bytes, bytearray, memoryview)):
        return _lkword.detect_buffer(source)
    if hasattr(source, "read"):
        return _lkword.detect_buffer(source.read())
    raise TypeError("detect() needs a path, bytes or a binary file, not %s" % type(source).__name__)


def readers() -> List[str]:
    """The readers' names, most specific content test first."""
    return _lkword.readers()
