#include "lkword/readers/MSWFB2.h"

#include <algorithm>
#include <vector>

#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const SNotFictionBook = "File is not a valid FictionBook document.";

// How much of a file the content test looks at.
constexpr int64_t kSniffBytes = 4096;
constexpr int kMaxHeadingLevel = 6;

// The book of a zipped FictionBook (the usual way such books are handed
// out): the one member named *.fb2, not counting the "._" companions that
// macOS archivers add. -1 when there is none, or more than one.
int ZippedBookIndex(const TZipArchive& Zip) {
  int found = -1;
  for (int i = 0; i < Zip.Count(); ++i) {
    std::string_view name = Zip.Files()[i].FileName();
    if (name.starts_with("__MACOSX/")) continue;
    if (const size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.size() <= 4 || name.starts_with("._")) continue;
    if (!SameTextAscii(name.substr(name.size() - 4), ".fb2")) continue;
    if (found >= 0) return -1;
    found = i;
  }
  return found;
}

// The first bytes of a file as single-byte markup: a UTF-8 byte-order mark
// dropped, and UTF-16 (marked, or told by "<" beside a zero) narrowed by
// keeping every other byte, which is enough for ASCII markup.
RawByteString MarkupBytes(RawByteString Head) {
  auto at = [&](size_t i) { return i < Head.size() ? static_cast<uint8_t>(Head[i]) : 0x100u; };
  int skipOdd = -1;
  size_t start = 0;
  if (at(0) == 0xFF && at(1) == 0xFE) skipOdd = 1, start = 2;
  else if (at(0) == 0xFE && at(1) == 0xFF) skipOdd = 0, start = 2;
  else if (at(0) == '<' && at(1) == 0) skipOdd = 1;
  else if (at(0) == 0 && at(1) == '<') skipOdd = 0;
  if (skipOdd >= 0) {
    RawByteString narrow;
    for (size_t i = start + (skipOdd == 0 ? 1 : 0); i < Head.size(); i += 2) narrow += Head[i];
    return narrow;
  }
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) Head.erase(0, 3);
  return Head;
}

// The name of the document element (prefix included) after blanks, the XML
// declaration, processing instructions, comments and a DOCTYPE; empty when
// something else comes first or the name is cut off.
std::string_view DocumentElementName(std::string_view Head) {
  size_t p = 0;
  const size_t n = Head.size();
  while (p < n) {
    if (IsAsciiBlank(Head[p])) {
      ++p;
      continue;
    }
    if (Head[p] != '<') return {};
    const std::string_view rest = Head.substr(p);
    std::string_view end;
    if (rest.starts_with("<?")) end = "?>";
    else if (rest.starts_with("<!--")) end = "-->";
    else if (rest.starts_with("<!")) end = ">";
    else break;
    const size_t close = rest.find(end);
    if (close == std::string_view::npos) return {};
    p += close + end.size();
  }
  size_t q = p + 1;
  while (q < n && Head[q] != '>' && Head[q] != '/' && !IsAsciiBlank(Head[q])) ++q;
  if (p >= n || q >= n) return {};
  return Head.substr(p + 1, q - p - 1);
}

TBookElementRole ClassifyFB2(std::u16string_view n) {
  // Lines: paragraphs (title paragraphs are p too), subtitles, verse lines,
  // attributions, table cells and the date of a poem.
  static constexpr std::u16string_view kLines[] = {u"p", u"subtitle", u"v", u"text-author", u"td", u"th", u"date"};
  // Containers: end the line before them, hold lines of their own.
  static constexpr std::u16string_view kContainers[] = {u"body",   u"title", u"epigraph", u"cite", u"poem",
                                                       u"stanza", u"annotation", u"table", u"tr"};
  for (auto k : kLines)
    if (n == k) return brBlock;
  if (n == u"section") return brSection;
  if (n == u"empty-line") return brEmptyLine;
  for (auto k : kContainers)
    if (n == k) return brBlock;
  if (n == u"binary") return brSkip;
  return brInline;
}

WideString AuthorName(const TLKXMLItem* A) {
  WideString name;
  for (std::u16string_view part : {u"first-name", u"middle-name", u"last-name"}) {
    WideString t = ElementText(FindChildElement(A, part));
    if (t.empty()) continue;
    if (!name.empty()) name += u' ';
    name += t;
  }
  if (name.empty()) name = ElementText(FindChildElement(A, u"nickname"));
  return name;
}

// Every author of a title-info or document-info, joined by "; ".
WideString AuthorNames(const TLKXMLItem* Info) {
  WideString names;
  ForEachChildElement(*Info, u"author", [&](const TLKXMLItem& Author) {
    const WideString n = AuthorName(&Author);
    if (n.empty()) return;
    if (!names.empty()) names += u"; ";
    names += n;
  });
  return names;
}

// An annotation's paragraphs as one text.
WideString BlockText(const TLKXMLItem* Item) {
  WideString text;
  if (!Item) return text;
  TBookTextWalker walker(ClassifyFB2, [&](TBookElementRole, std::u16string_view, const WideString& Line) {
    if (Line.empty()) return true;
    if (!text.empty()) text += u' ';
    text += Line;
    return true;
  });
  walker.Walk(*Item);
  return text;
}

TDateTime DateOf(const TLKXMLItem* D) {
  if (!D) return 0;
  // The value attribute holds the machine-readable form of a free-text date.
  TDateTime dt = BookDateToDateTime(D->AttributeValue(u"value"));
  return dt != 0 ? dt : BookDateToDateTime(ElementText(D));
}

}  // namespace

// ---------------------------------------------------------------------------
// TFictionBook

TFictionBook::TFictionBook(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TFictionBook::~TFictionBook() = default;

void TFictionBook::ClearInternalLists() { TMSWBaseDocument::ClearInternalLists(); }

void TFictionBook::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  Output().BeginDocument();
  if (StreamIsZipArchive(Stream)) {
    TZipArchive zip;
    zip.SetMaxMemberSize(std::min(zip.MaxMemberSize(), FMaxDecompressedSize));
    zip.LoadFromStream(Stream);
    const int book = ZippedBookIndex(zip);
    if (book < 0) throw ECorruptError(SNotFictionBook);
    if (zip.DirectoryRebuilt()) MarkPartial(SZipDirectoryRebuilt);
    LoadBook(zip.GetUncompressed(book));
  } else {
    LoadXMLFilePart(Stream, Text());
  }
  Output().EndDocument();
} catch (...) {
  RethrowAsException();
}

void TFictionBook::LoadXMLFilePart(TStream& S, TWideStrings& L) {
  const int64_t avail = S.Size() - S.Position();
  if (avail > FMaxStreamSize) throw ELimitError("The document is larger than the stream size limit");
  const TTextPath::TRedirect into(TextPath(), L);
  LoadBook(avail > 0 ? S.ReadBytes(avail) : RawByteString());
}

void TFictionBook::LoadBook(RawByteString Data) {
  // Pictures are base64 text inside "binary" elements, after the bodies; a
  // large one would cost twice its size as decoded text.
  DropElementContent(Data, "binary");

  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  engine.SetMaxNodes(FMaxXMLNodes);
  engine.LoadFromBytes(Data);
  RawByteString().swap(Data);
  if (engine.DepthLimitReached()) AddWarning("elements nested too deeply; their text joins the enclosing ones");
  if (engine.NodeLimitReached())
    AddWarning("more than " + std::to_string(FMaxXMLNodes) + " elements; the rest was left out");

  TLKXMLItem* fb = FindElement(engine.RootItem(), u"FictionBook");
  if (!fb) throw ECorruptError(SNotFictionBook);

  if (FParseItems.Contains(wpiSummaryInformation))
    if (TLKXMLItem* d = FindChildElement(fb, u"description")) ReadDescription(*d);
  if (!FParseItems.Contains(wpiText)) return;

  // The main body (the one without a name) first; notes and comments after.
  std::vector<const TLKXMLItem*> bodies;
  ForEachChildElement(*fb, u"body", [&](const TLKXMLItem& Body) { bodies.push_back(&Body); });
  if (bodies.empty())
    if (const TLKXMLItem* b = FindElement(fb, u"body")) bodies.push_back(b);
  std::stable_partition(bodies.begin(), bodies.end(), [](const TLKXMLItem* b) {
    WideString name;
    return !b->FindAttribute(u"name", name);
  });

  TBookTables tables(Output());
  TBookTextWalker walker(ClassifyFB2, [&](TBookElementRole Role, std::u16string_view Tag, const WideString& T) {
    if (Role == brSection || Role == brEmptyLine) tables.Close(); else tables.Before(walker);
    return EmitLine(walker, Role, Tag, T);
  });
  for (const TLKXMLItem* b : bodies)
    if (!walker.Walk(*b)) break;
  tables.Close();
}

bool TFictionBook::EmitLine(const TBookTextWalker& Walker, TBookElementRole Role, std::u16string_view Tag,
                            const WideString& T) {
  TDocumentOutput& out = Output();
  switch (Role) {
    case brEmptyLine:
      out.LineBreak();
      break;
    case brSection:
      out.EndSection();
      break;
    default: {
      TParagraph p;
      const int sections = Walker.OpenBlocks(u"section");
      if (SameTextAscii(Tag, std::u16string_view(u"subtitle"))) {
        p.Kind = TParagraphKind::Heading;
        p.Level = std::clamp(sections + 1, 1, kMaxHeadingLevel);
      } else if (Walker.OpenBlocks(u"title") > 0) {
        p.Kind = TParagraphKind::Heading;
        p.Level = std::clamp(sections, 1, kMaxHeadingLevel);
      }
      out.BeginParagraph(p);
      out.Text(T);
      out.EndParagraph();
      break;
    }
  }
  return !out.Cancelled();
}

void TFictionBook::ReadDescription(TLKXMLItem& D) {
  TLKWordSummaryInformation& si = *FSummaryInformation;
  if (const TLKXMLItem* t = FindChildElement(&D, u"title-info")) {
    si.SetKeywords(ElementText(FindChildElement(t, u"keywords")));
    si.SetCategory(ElementText(FindChildElement(t, u"genre")));
    si.SetTitle(ElementText(FindChildElement(t, u"book-title")));
    si.SetAuthor(AuthorNames(t));
    si.SetComments(BlockText(FindChildElement(t, u"annotation")));
    si.SetCreated(DateOf(FindChildElement(t, u"date")));
  }
  if (const TLKXMLItem* i = FindChildElement(&D, u"document-info")) {
    si.SetManager(AuthorNames(i));
    si.SetRevNumber(ElementText(FindChildElement(i, u"version")));
    si.SetAppName(ElementText(FindChildElement(i, u"program-used")));
  }
  if (const TLKXMLItem* p = FindChildElement(&D, u"publish-info")) {
    si.SetSubject(ElementText(FindChildElement(p, u"book-name")));
    si.SetCompany(ElementText(FindChildElement(p, u"publisher")));
  }
}

bool TFictionBook::IsFictionBook(TStream& Stream) {
  Stream.Seek(0, soBeginning);
  if (StreamIsZipArchive(Stream)) {
    TZipArchive zip;
    zip.LoadFromStream(Stream);
    return ZippedBookIndex(zip) >= 0;
  }
  const RawByteString head = MarkupBytes(Stream.ReadBytes(std::min<int64_t>(Stream.Size(), kSniffBytes)));
  std::string_view name = DocumentElementName(head);
  if (const size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
  return name == "FictionBook";
}

}  // namespace lkw
