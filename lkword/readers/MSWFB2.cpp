#include "lkword/readers/MSWFB2.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const SNotFictionBook = "File is not a valid FictionBook document.";

// The engine bounds element nesting already; this only guards the walk
// against a tree built some other way.
constexpr int kMaxWalkDepth = 1024;
// Element names longer than this are no names the readers know.
constexpr size_t kMaxKnownName = 24;
// How much of a file the content test looks at.
constexpr int64_t kSniffBytes = 4096;

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
    std::string ext(name.substr(name.size() - 4));
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (ext != ".fb2") continue;
    if (found >= 0) return -1;
    found = i;
  }
  return found;
}

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f'; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

WideString Collapse(std::u16string_view s) {
  WideString out;
  out.reserve(s.size());
  for (char16_t c : s) {
    if (IsBlank(c)) {
      if (!out.empty() && out.back() != u' ') out += u' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

int Digits(std::u16string_view s, size_t& p, size_t count) {
  if (p + count > s.size()) return -1;
  int v = 0;
  for (size_t i = 0; i < count; ++i) {
    char16_t c = s[p + i];
    if (c < u'0' || c > u'9') return -1;
    v = v * 10 + (c - u'0');
  }
  p += count;
  return v;
}

bool At(std::u16string_view s, size_t p, char16_t c) { return p < s.size() && s[p] == c; }

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
  for (int i = 0; i < Info->Items().Count(); ++i) {
    const TLKXMLItem* c = Info->Items()[i];
    if (c->Kind() != ikProperty || !SameName(LocalTagName(c->TagName()), u"author")) continue;
    WideString n = AuthorName(c);
    if (n.empty()) continue;
    if (!names.empty()) names += u"; ";
    names += n;
  }
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
// Shared helpers

std::u16string_view LocalTagName(std::u16string_view TagName) {
  size_t colon = TagName.find(u':');
  return colon == std::u16string_view::npos ? TagName : TagName.substr(colon + 1);
}

TLKXMLItem* FindElement(TLKXMLItem* Root, std::u16string_view LocalName) {
  if (!Root) return nullptr;
  std::vector<TLKXMLItem*> stack{Root};
  while (!stack.empty()) {
    TLKXMLItem* n = stack.back();
    stack.pop_back();
    if (n->Kind() == ikProperty && SameName(LocalTagName(n->TagName()), LocalName)) return n;
    for (int i = n->Items().Count(); i-- > 0;) stack.push_back(n->Items()[i]);
  }
  return nullptr;
}

TLKXMLItem* FindChildElement(const TLKXMLItem* Parent, std::u16string_view LocalName) {
  if (!Parent) return nullptr;
  for (int i = 0; i < Parent->Items().Count(); ++i) {
    TLKXMLItem* c = Parent->Items()[i];
    if (c->Kind() == ikProperty && SameName(LocalTagName(c->TagName()), LocalName)) return c;
  }
  return nullptr;
}

WideString ElementText(const TLKXMLItem* Item) { return Item ? Collapse(Item->Text()) : WideString(); }

TDateTime BookDateToDateTime(std::u16string_view S) {
  while (!S.empty() && IsBlank(S.front())) S.remove_prefix(1);
  size_t p = 0;
  int year = Digits(S, p, 4);
  if (year < 0) return 0;
  int month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (At(S, p, u'-')) {
    size_t q = p + 1;
    if ((month = Digits(S, q, 2)) < 0) return 0;
    p = q;
    if (At(S, p, u'-')) {
      q = p + 1;
      if ((day = Digits(S, q, 2)) < 0) return 0;
      p = q;
    }
  }
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) return 0;
  if (!(At(S, p, u'T') || At(S, p, u' ')) || p + 1 >= S.size() || S[p + 1] < u'0' || S[p + 1] > u'9') return date;
  ++p;
  if ((hour = Digits(S, p, 2)) < 0 || !At(S, p, u':')) return date;
  ++p;
  if ((minute = Digits(S, p, 2)) < 0) return date;
  if (At(S, p, u':')) {
    ++p;
    if ((second = Digits(S, p, 2)) < 0) return date;
    if (At(S, p, u'.') || At(S, p, u',')) {
      ++p;
      while (p < S.size() && S[p] >= u'0' && S[p] <= u'9') ++p;
    }
  }
  TDateTime time;
  if (!TryEncodeTime(hour == 24 ? 0 : hour, minute, second, 0, time)) return date;
  TDateTime result = date + time + (hour == 24 ? 1 : 0);
  if (At(S, p, u'Z')) return UTCToLocal(result);
  if (At(S, p, u'+') || At(S, p, u'-')) {
    const int sign = S[p] == u'-' ? -1 : 1;
    ++p;
    int zh = Digits(S, p, 2), zm = 0;
    if (zh < 0) return result;
    if (At(S, p, u':')) ++p;
    if (p < S.size() && (zm = Digits(S, p, 2)) < 0) zm = 0;
    return UTCToLocal(result - sign * (zh * 60 + zm) / 1440.0);
  }
  return result;
}

// ---------------------------------------------------------------------------
// TBookTextWalker

bool TBookTextWalker::Walk(const TLKXMLItem& Root) {
  FStopped = false;
  FPreDepth = 0;
  FLine.clear();
  FBlocks.clear();
  WalkNode(Root, 0);
  Flush();
  return !FStopped;
}

void TBookTextWalker::WalkNode(const TLKXMLItem& Node, int Depth) {
  if (FStopped) return;
  const std::u16string_view local = LocalTagName(Node.TagName());
  char16_t lower[kMaxKnownName];
  TBookElementRole role = brInline;
  if (local.size() <= kMaxKnownName) {
    for (size_t i = 0; i < local.size(); ++i) lower[i] = AsciiLower(local[i]);
    role = FClassify(std::u16string_view(lower, local.size()));
  }
  switch (role) {
    case brSkip:
      return;
    case brLineBreak:
      FLine += u'\n';
      return;
    case brEmptyLine:
      Flush();
      Emit(brEmptyLine, WideString());
      return;
    default:
      break;
  }
  const bool block = role != brInline;
  if (block) {
    Flush();
    FBlocks.push_back(local);
    if (role == brPreformatted) ++FPreDepth;
  }
  AppendRaw(Node.Value(), true);
  if (Depth < kMaxWalkDepth) {
    const TLKXMLItems& items = Node.Items();
    for (int i = 0, n = items.Count(); i < n && !FStopped; ++i) {
      const TLKXMLItem* c = items[i];
      switch (c->Kind()) {
        case ikAttribute:
          continue;
        case ikComment:
          break;
        case ikCDATA:
          AppendRaw(c->Value(), false);
          break;
        case ikProperty:
          // Processing instructions are named "?target" and hold no text.
          if (c->TagName().empty() || c->TagName()[0] != u'?') WalkNode(*c, Depth + 1);
          break;
      }
      AppendRaw(c->Tail(), true);
    }
  }
  if (block) {
    Flush();
    if (role == brPreformatted) --FPreDepth;
    FBlocks.pop_back();
    if (role == brSection) Emit(brSection, WideString());
  }
}

void TBookTextWalker::AppendRaw(std::u16string_view Raw, bool Decode) {
  if (Raw.empty() || FStopped) return;
  std::u16string_view text = Raw;
  if (Decode && Raw.find(u'&') != std::u16string_view::npos) {
    FScratch.clear();
    AppendHTMLChars(FScratch, Raw);
    text = FScratch;
  }
  if (FPreDepth > 0) {
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      if (c == u'\r') {
        if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
        c = u'\n';
      }
      FLine += c;
    }
    return;
  }
  for (char16_t c : text) {
    if (IsBlank(c)) {
      if (!FLine.empty() && FLine.back() != u' ' && FLine.back() != u'\n') FLine += u' ';
    } else {
      FLine += c;
    }
  }
}

void TBookTextWalker::Flush() {
  if (FLine.empty() || FStopped) {
    FLine.clear();
    return;
  }
  const TBookElementRole role = FPreDepth > 0 ? brPreformatted : brBlock;
  const std::u16string_view line = FLine;
  size_t start = 0;
  while (start <= line.size() && !FStopped) {
    size_t nl = line.find(u'\n', start);
    if (nl == std::u16string_view::npos) nl = line.size();
    size_t b = start, e = nl;
    while (e > b && (line[e - 1] == u' ' || line[e - 1] == u'\t')) --e;
    if (role == brBlock)
      while (b < e && line[b] == u' ') ++b;
    bool blank = true;
    for (size_t i = b; i < e && blank; ++i) blank = line[i] == u' ' || line[i] == u'\t';
    if (!blank) Emit(role, WideString(line.substr(b, e - b)));
    start = nl + 1;
  }
  FLine.clear();
}

void TBookTextWalker::Emit(TBookElementRole Role, const WideString& Text) {
  if (FStopped) return;
  const std::u16string_view tag = FBlocks.empty() ? std::u16string_view() : FBlocks.back();
  if (!FEmit(Role, tag, Text)) FStopped = true;
}

// ---------------------------------------------------------------------------
// TFictionBook

TFictionBook::TFictionBook(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TFictionBook::~TFictionBook() = default;

void TFictionBook::ClearInternalLists() { TMSWBaseDocument::ClearInternalLists(); }

void TFictionBook::LoadFromFile(const std::string& AFileName) try {
  CheckFileExists(AFileName);
  TFileStream stream(AFileName, fmOpenRead | fmShareDenyNone);
  stream.Seek(0, soBeginning);
  LoadFromStream(stream);
} catch (...) {
  RethrowAsException();
}

void TFictionBook::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  AddText(GetTextStart());
  if (StreamIsZipArchive(Stream)) {
    TZipArchive zip;
    zip.SetMaxMemberSize(std::min(zip.MaxMemberSize(), FMaxDecompressedSize));
    zip.LoadFromStream(Stream);
    const int book = ZippedBookIndex(zip);
    if (book < 0) throw Exception(SNotFictionBook);
    LoadBook(zip.GetUncompressed(book), Text());
  } else {
    LoadXMLFilePart(Stream, Text());
  }
  AddText(GetTextFinish());
} catch (...) {
  RethrowAsException();
}

void TFictionBook::LoadXMLFilePart(TStream& S, TWideStrings& L) {
  const int64_t avail = S.Size() - S.Position();
  if (avail > FMaxStreamSize) throw ELimitError("The document is larger than the stream size limit");
  LoadBook(avail > 0 ? S.ReadBytes(avail) : RawByteString(), L);
}

void TFictionBook::LoadBook(RawByteString Data, TWideStrings& L) {
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
  if (!fb) throw Exception(SNotFictionBook);

  if (FParseItems.Contains(wpiSummaryInformation))
    if (TLKXMLItem* d = FindChildElement(fb, u"description")) ReadDescription(*d);
  if (!FParseItems.Contains(wpiText)) return;

  // The main body (the one without a name) first; notes and comments after.
  std::vector<const TLKXMLItem*> bodies;
  for (int i = 0; i < fb->Items().Count(); ++i) {
    const TLKXMLItem* c = fb->Items()[i];
    if (c->Kind() == ikProperty && SameName(LocalTagName(c->TagName()), u"body")) bodies.push_back(c);
  }
  if (bodies.empty())
    if (const TLKXMLItem* b = FindElement(fb, u"body")) bodies.push_back(b);
  std::stable_partition(bodies.begin(), bodies.end(), [](const TLKXMLItem* b) {
    WideString name;
    return !b->FindAttribute(u"name", name);
  });

  TBookTextWalker walker(ClassifyFB2, [&](TBookElementRole Role, std::u16string_view, const WideString& T) {
    return EmitLine(Role, T, L);
  });
  for (const TLKXMLItem* b : bodies)
    if (!walker.Walk(*b)) break;
}

bool TFictionBook::EmitLine(TBookElementRole Role, const WideString& T, TWideStrings& L) {
  switch (Role) {
    case brEmptyLine:
      switch (FTextFormating) {
        case tfRTF: AddText(u"\r\n\\line ", L); break;
        case tfHTML: AddText(u"<br>\r\n", L); break;
        default: AddText(u"\r\n", L); break;
      }
      break;
    case brSection: {
      WideString t;
      if (FOnConvertSysChar) {
        WideString r;
        FOnConvertSysChar(this, scParagraphEnd, t, r);
        t += r;
      }
      AddText(t, L);
      break;
    }
    default: {
      if (FOnConvertSysChar) {
        WideString r;
        FOnConvertSysChar(this, scUnknown, T, r);
      }
      switch (FTextFormating) {
        case tfRTF: AddText(EscapeText(T, tfRTF) + u"\\par ", L); break;
        case tfHTML: AddText(u"<p>" + EscapeText(T, tfHTML) + u"</p>", L); break;
        default: AddText(T, L); break;
      }
      break;
    }
  }
  return !IsCancelExtract;
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
  RawByteString head = Stream.ReadBytes(std::min<int64_t>(Stream.Size(), kSniffBytes));
  // UTF-16 text: its markup is ASCII, so keeping every other byte will do.
  auto u8 = [&](size_t i) { return i < head.size() ? static_cast<uint8_t>(head[i]) : 0x100u; };
  int skipOdd = -1;
  size_t start = 0;
  if (u8(0) == 0xFF && u8(1) == 0xFE) skipOdd = 1, start = 2;
  else if (u8(0) == 0xFE && u8(1) == 0xFF) skipOdd = 0, start = 2;
  else if (u8(0) == '<' && u8(1) == 0) skipOdd = 1;
  else if (u8(0) == 0 && u8(1) == '<') skipOdd = 0;
  if (skipOdd >= 0) {
    RawByteString narrow;
    for (size_t i = start + (skipOdd == 0 ? 1 : 0); i < head.size(); i += 2) narrow += head[i];
    head.swap(narrow);
  } else if (u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF) {
    head.erase(0, 3);
  }
  size_t p = 0;
  const size_t n = head.size();
  while (p < n) {
    char c = head[p];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++p;
      continue;
    }
    if (c != '<') return false;
    std::string_view rest(head.data() + p, n - p);
    std::string_view end;
    if (rest.starts_with("<?")) end = "?>";
    else if (rest.starts_with("<!--")) end = "-->";
    else if (rest.starts_with("<!")) end = ">";
    else break;
    size_t close = rest.find(end);
    if (close == std::string_view::npos) return false;
    p += close + end.size();
  }
  size_t q = p + 1;
  while (q < n && head[q] != '>' && head[q] != '/' && head[q] != ' ' && head[q] != '\t' && head[q] != '\r' &&
         head[q] != '\n')
    ++q;
  if (p >= n || q >= n) return false;
  std::string_view name(head.data() + p + 1, q - p - 1);
  if (size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
  return name == "FictionBook";
}

}  // namespace lkw
