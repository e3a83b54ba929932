// Reading of Word 2007 XML parts into the document events: the element
// filter, paragraphs, runs, tables, text boxes, note marks and symbols. UTF-8
// parts are read by a scanner of their own, in one pass over the bytes;
// parts in other encodings go through the XML engine, whose events end in
// the same element handling.
#include "lkword/word/MSWordX.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipPart.h"
#include "lkword/framework/ListNumbers.h"
#include "lkword/framework/SymbolFonts.h"
#include "lkword/framework/WordRenderer.h"
#include "lkword/framework/WordXRenderer.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// What the reader does with an element. Everything not named in the table
// is skipped with its content: properties, field instructions, drawings'
// non-text parts, section settings.
enum TKind : uint8_t {
  kSkip,
  kContainer,  // entered; renders nothing itself
  kParagraph,
  kRun,
  kRunProperties,
  kVanish,
  kBold,
  kItalic,
  kRunStyle,
  kParagraphProperties,
  kParagraphStyle,
  kNumbering,
  kNumberingLevel,
  kNumberingId,
  kOutlineLevel,
  kText,
  kTab,
  kBreak,
  kCarriageReturn,
  kNoBreakHyphen,
  kSoftHyphen,
  kSymbol,
  kFootnoteReference,
  kEndnoteReference,
  kFootnoteMark,
  kEndnoteMark,
  kDeleted,
  kInserted,
  kTable,
  kRow,
  kCell,
  kFootnote,
  kEndnote,
  kAlternateContent,
  kChoice,
  kFallback,
  kAltChunk,
  kHyperlink,
  kSimpleField,
  kFieldChar,       // a complex field's begin, separator or end
  kInstruction,     // its instruction text
  kDiagram,         // the data of a diagram (SmartArt)
  kMath,            // an equation (m:oMath)
  kMathElement,     // a structure or argument inside one
  kMathProperties,  // a structure's m:xxxPr
  kUnknown,  // not in the table
};

// The events the reader may keep for later (see TMSWordXDocument::Tell).
enum TEvent : uint8_t {
  evBeginParagraph,
  evEndParagraph,
  evText,
  evLineBreak,
  evTab,
  evBeginInserted,
  evEndInserted,
  evBeginDeleted,
  evEndDeleted,
  evFootnoteReference,
  evEndnoteReference,
  evBeginLink,
  evEndLink,
  // Tables: kept whole when inside a paragraph.
  evBeginTable,
  evEndTable,
  evBeginRow,
  evEndRow,
  evBeginCell,
  evEndCell,
};

struct TKindEntry {
  std::string_view Name;
  TKind Kind;
};

// Complex fields open at once, at most.
constexpr size_t kMaxOpenFields = 64;

// Names as written with the usual prefixes; documents that bind the
// namespaces to other prefixes are mapped onto these first.
constexpr TKindEntry kKinds[] = {
    {"w:p", kParagraph},
    {"w:r", kRun},
    {"m:r", kRun},
    {"w:rPr", kRunProperties},
    {"w:vanish", kVanish},
    {"w:b", kBold},
    {"w:i", kItalic},
    {"w:rStyle", kRunStyle},
    {"w:pPr", kParagraphProperties},
    {"w:pStyle", kParagraphStyle},
    {"w:numPr", kNumbering},
    {"w:ilvl", kNumberingLevel},
    {"w:numId", kNumberingId},
    {"w:outlineLvl", kOutlineLevel},
    {"w:t", kText},
    {"m:t", kText},
    {"m:oMath", kMath},
    {"m:oMathPara", kContainer},
    {"w:delText", kText},
    {"w:tab", kTab},
    {"w:ptab", kTab},
    {"w:br", kBreak},
    {"w:cr", kCarriageReturn},
    {"w:noBreakHyphen", kNoBreakHyphen},
    {"w:softHyphen", kSoftHyphen},
    {"w:sym", kSymbol},
    {"w:footnoteReference", kFootnoteReference},
    {"w:endnoteReference", kEndnoteReference},
    {"w:footnoteRef", kFootnoteMark},
    {"w:endnoteRef", kEndnoteMark},
    {"w:del", kDeleted},
    {"w:moveFrom", kDeleted},
    {"w:ins", kInserted},
    {"w:moveTo", kInserted},
    {"w:tbl", kTable},
    {"w:tr", kRow},
    {"w:tc", kCell},
    {"w:footnote", kFootnote},
    {"w:endnote", kEndnote},
    {"mc:AlternateContent", kAlternateContent},
    {"mc:Choice", kChoice},
    {"mc:Fallback", kFallback},
    {"w:altChunk", kAltChunk},
    {"dgm:relIds", kDiagram},
    // Parts, story containers and content wrappers.
    {"w:document", kContainer},
    {"w:body", kContainer},
    {"w:hdr", kContainer},
    {"w:ftr", kContainer},
    {"w:footnotes", kContainer},
    {"w:endnotes", kContainer},
    {"w:comments", kContainer},
    {"w:comment", kContainer},
    {"w:sdt", kContainer},
    {"w:sdtContent", kContainer},
    {"w:smartTag", kContainer},
    {"w:customXml", kContainer},
    {"w:fldSimple", kSimpleField},
    {"w:fldChar", kFieldChar},
    {"w:instrText", kInstruction},
    {"w:hyperlink", kHyperlink},
    {"w:bdo", kContainer},
    {"w:dir", kContainer},
    {"w:ruby", kContainer},
    {"w:rubyBase", kContainer},
    {"w:txbxContent", kContainer},
    // The way from a run to a text box, DrawingML and VML.
    {"w:drawing", kContainer},
    {"w:pict", kContainer},
    {"w:object", kContainer},
    {"wp:inline", kContainer},
    {"wp:anchor", kContainer},
    {"a:graphic", kContainer},
    {"a:graphicData", kContainer},
    {"wps:wsp", kContainer},
    {"wps:txbx", kContainer},
    {"wpg:wgp", kContainer},
    {"wpg:grpSp", kContainer},
    {"wpc:wpc", kContainer},
    {"v:shape", kContainer},
    {"v:rect", kContainer},
    {"v:roundrect", kContainer},
    {"v:oval", kContainer},
    {"v:group", kContainer},
    {"v:textbox", kContainer},
};

// Open addressing over the table: a lookup per element start is the
// scanner's most frequent operation.
class TKindTable {
 public:
  TKindTable() {
    for (const auto& e : kKinds) {
      size_t i = Hash(e.Name) & kMask;
      while (!FSlots[i].Name.empty()) i = (i + 1) & kMask;
      FSlots[i] = e;
    }
  }
  TKind Find(std::string_view Name) const {
    for (size_t i = Hash(Name) & kMask; !FSlots[i].Name.empty(); i = (i + 1) & kMask)
      if (FSlots[i].Name == Name) return FSlots[i].Kind;
    return kUnknown;
  }

 private:
  static constexpr size_t kMask = 255;
  static size_t Hash(std::string_view S) {
    uint32_t h = 2166136261u;
    for (unsigned char c : S) h = (h ^ c) * 16777619u;
    return h ^ (h >> 15);
  }
  std::array<TKindEntry, kMask + 1> FSlots{};
};

const TKindTable& KindTable() {
  static const TKindTable table;
  return table;
}

// Namespaces whose elements the reader knows, with the prefix it expects.
struct TNamespace {
  std::string_view Uri;
  std::string_view Prefix;
};
constexpr TNamespace kNamespaces[] = {
    {"http://schemas.openxmlformats.org/wordprocessingml/2006/main", "w"},
    {"http://purl.oclc.org/ooxml/wordprocessingml/main", "w"},
    {"http://schemas.openxmlformats.org/officeDocument/2006/math", "m"},
    {"http://purl.oclc.org/ooxml/officeDocument/math", "m"},
    {"http://schemas.openxmlformats.org/markup-compatibility/2006", "mc"},
    {"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing", "wp"},
    {"http://purl.oclc.org/ooxml/drawingml/wordprocessingDrawing", "wp"},
    {"http://schemas.openxmlformats.org/drawingml/2006/main", "a"},
    {"http://purl.oclc.org/ooxml/drawingml/main", "a"},
    {"http://schemas.openxmlformats.org/drawingml/2006/diagram", "dgm"},
    {"http://purl.oclc.org/ooxml/drawingml/diagram", "dgm"},
    {"http://schemas.microsoft.com/office/word/2010/wordprocessingShape", "wps"},
    {"http://schemas.microsoft.com/office/word/2010/wordprocessingGroup", "wpg"},
    {"http://schemas.microsoft.com/office/word/2010/wordprocessingCanvas", "wpc"},
    {"urn:schemas-microsoft-com:vml", "v"},
};

// Prefixes an mc:Choice may require for its content to be understood here.
constexpr std::string_view kUnderstoodPrefixes[] = {"w",   "m",   "mc",  "wp",  "wp14", "a",     "a14",
                                                    "wps", "wpg", "wpc", "v",   "o",    "w10",   "w14",
                                                    "w15", "w16", "w16se", "w16cid", "w16cex"};

// Calls F(name, raw value) for each name="value" (or 'value') pair of a raw
// attribute text until F returns false.
template <typename C, typename F>
void ForEachAttribute(std::basic_string_view<C> S, F f) {
  size_t i = 0, n = S.size();
  while (i < n) {
    while (i < n && IsAsciiBlank(S[i])) ++i;
    size_t nameStart = i;
    while (i < n && !IsAsciiBlank(S[i]) && S[i] != '=') ++i;
    std::basic_string_view<C> name = S.substr(nameStart, i - nameStart);
    while (i < n && IsAsciiBlank(S[i])) ++i;
    if (i >= n || S[i] != '=') {
      if (name.empty() && i < n) ++i;
      continue;
    }
    ++i;
    while (i < n && IsAsciiBlank(S[i])) ++i;
    if (i >= n) return;
    std::basic_string_view<C> value;
    if (S[i] == '"' || S[i] == '\'') {
      C q = S[i++];
      size_t close = S.find(q, i);
      if (close == std::basic_string_view<C>::npos) close = n;
      value = S.substr(i, close - i);
      i = close < n ? close + 1 : n;
    } else {
      size_t start = i;
      while (i < n && !IsAsciiBlank(S[i])) ++i;
      value = S.substr(start, i - start);
    }
    if (!name.empty() && !f(name, value)) return;
  }
}

// Whether Name (as written, maybe prefixed) has the ASCII local name Local.
template <typename C>
bool HasLocalName(std::basic_string_view<C> Name, std::string_view Local) {
  size_t colon = Name.rfind(C(':'));
  if (colon != std::basic_string_view<C>::npos) Name.remove_prefix(colon + 1);
  if (Name.size() != Local.size()) return false;
  for (size_t i = 0; i < Local.size(); ++i)
    if (Name[i] != static_cast<C>(static_cast<unsigned char>(Local[i]))) return false;
  return true;
}

// Appends UTF-8 as UTF-16; ASCII, the bulk of markup and of Latin text, is
// copied without decoding. Malformed sequences give U+FFFD and false.
bool AppendUtf8(WideString& Out, std::string_view S) {
  bool valid = true;
  const auto* s = reinterpret_cast<const unsigned char*>(S.data());
  const size_t n = S.size();
  const size_t old = Out.size();
  Out.resize(old + n);  // never more code units than bytes
  char16_t* d = Out.data() + old;
  size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time.
    uint64_t w;
    while (i + 8 <= n && (std::memcpy(&w, s + i, 8), (w & 0x8080808080808080ULL) == 0)) {
      for (int k = 0; k < 8; ++k) d[k] = s[i + k];
      d += 8;
      i += 8;
    }
    if (i >= n) break;
    const unsigned char b = s[i];
    if (b < 0x80) {
      *d++ = b;
      ++i;
      continue;
    }
    const int len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    uint32_t c = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char t = s[i + k];
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    if (ok && ((len == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF))))
      ok = false;
    if (!ok) {
      *d++ = u'\uFFFD';
      valid = false;
      ++i;
    } else if (c >= 0x10000) {
      c -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      i += static_cast<size_t>(len);
    } else {
      *d++ = static_cast<char16_t>(c);
      i += static_cast<size_t>(len);
    }
  }
  Out.resize(static_cast<size_t>(d - Out.data()));
  return valid;
}

void AppendRaw(WideString& Out, std::string_view S) { AppendUtf8(Out, S); }
void AppendRaw(WideString& Out, std::u16string_view S) { Out.append(S); }

}  // namespace

// A start tag's raw attribute text as the scanner (UTF-8) or the engine
// (UTF-16) delivers it.
struct TMSWordXDocument::TAttributeText {
  std::string_view Utf8;
  std::u16string_view Wide;
  bool IsWide = false;

  static TAttributeText FromUtf8(std::string_view S) { return {S, {}, false}; }
  static TAttributeText FromWide(std::u16string_view S) { return {{}, S, true}; }

  // Calls F(name as ASCII text, raw value as UTF-16) for every attribute.
  template <typename F>
  void ForEach(F f) const {
    auto visit = [&](auto name, auto raw) {
      std::string n;
      for (auto c : name) n += c < 0x80 ? static_cast<char>(c) : '?';
      WideString v;
      AppendRaw(v, raw);
      return f(n, v);
    };
    if (IsWide)
      ForEachAttribute(Wide, visit);
    else
      ForEachAttribute(Utf8, visit);
  }
  // The value of the attribute whose local name is Local (entities decoded).
  bool Find(std::string_view Local, WideString& Value) const {
    bool found = false;
    auto visit = [&](auto name, auto raw) {
      if (!HasLocalName(name, Local)) return true;
      WideString v;
      AppendRaw(v, raw);
      Value.clear();
      AppendHTMLChars(Value, v);
      found = true;
      return false;
    };
    if (IsWide)
      ForEachAttribute(Wide, visit);
    else
      ForEachAttribute(Utf8, visit);
    return found;
  }
  bool Is(std::string_view Local, std::u16string_view Value) const {
    WideString v;
    return Find(Local, v) && v == Value;
  }
  // An on/off property: absent or any value but false/0/off means on.
  bool IsOn() const {
    WideString v;
    return !Find("val", v) || !(v == u"0" || v == u"false" || v == u"off");
  }
};

namespace {

bool ParseHex(std::u16string_view S, uint32_t& Value) {
  if (S.empty() || S.size() > 8) return false;
  Value = 0;
  for (char16_t c : S) {
    const int d = HexDigitValue(c);
    if (d < 0) return false;
    Value = Value * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parts and stories

std::unique_ptr<TTextRenderer> TMSWordXDocument::CreateRenderer() {
  auto renderer = std::make_unique<TWordXRenderer>(*this, RendererPath());
  renderer->SetStoryList(TStoryKind::Footnote, &FFootNoteText);
  renderer->SetStoryList(TStoryKind::Endnote, &FEndNoteText);
  renderer->SetStoryList(TStoryKind::Header, &FHeaderText);
  renderer->SetStoryList(TStoryKind::Footer, &FFooterText);
  renderer->SetStoryList(TStoryKind::Comment, &FAnnotationText);
  renderer->SetReleaseLength(FMalformedUtf8 ? 0 : FHeldTextLength);
  FWordXRenderer = renderer.get();
  return renderer;
}

TWordXRenderer& TMSWordXDocument::Renderer() {
  Output();
  return *FWordXRenderer;
}

void TMSWordXDocument::SetMalformedUtf8(bool Value) {
  FMalformedUtf8 = Value;
  // Text held for a part that shows it is no UTF-8 waits for the part's end.
  Renderer().SetReleaseLength(Value ? 0 : FHeldTextLength);
}

void TMSWordXDocument::LoadXMLFilePart(TStream* S, TWideStrings& L) {
  TDocumentOutput& out = Output();
  Renderer().SetStoryList(TStoryKind::Main, &L);
  out.BeginStory(TStoryKind::Main);
  if (S) {
    const RawByteString bytes = S->ReadBytes(S->Remaining());
    TPartSource source(bytes, static_cast<size_t>(FPartPieceSize));
    BeginPart();
    ParsePart(source);
    out.Release();
  }
  out.EndStory(TStoryKind::Main);
  Renderer().SetStoryList(TStoryKind::Main, nullptr);
}

void TMSWordXDocument::BeginPart() {
  FPartPoint = Output().Checkpoint();
  Renderer().BeginPart();
}

void TMSWordXDocument::ResetRenderState() {
  IsHiddenText = false;
  FOpen.clear();
  FNested.clear();
  FKept.clear();
  FParagraphDepth = 0;
  FParagraphPending = false;
  FParagraphProperties = {};
  FRunStyle = kPlainRun;
  FDeletedDepth = 0;
  FNamespacesSet = false;
  FDepthWarned = false;
  FPrefixes.clear();
  FCurrentNoteMark.clear();
  FLinksOpen.clear();
  FFields.clear();
  FMathDepth = 0;
}

void TMSWordXDocument::AddInstruction(std::u16string_view Raw) {
  if (FFields.empty() || FFields.back().Separated || FFields.back().Instruction.size() >= kMaxFieldInstruction) return;
  FDecoded.clear();
  AppendHTMLChars(FDecoded, Raw.substr(0, kMaxFieldInstruction - FFields.back().Instruction.size()));
  FFields.back().Instruction += FDecoded;
}

void TMSWordXDocument::FieldChar(const TAttributeText& Attributes) {
  WideString type;
  Attributes.Find("fldCharType", type);
  if (type == u"begin") {
    // Nesting is bounded by the part's element depth already; this bounds
    // fields that begin and never end.
    if (FFields.size() < kMaxOpenFields) FFields.emplace_back();
  } else if (type == u"separate") {
    if (!FFields.empty()) FFields.back().Separated = true;
  } else if (type == u"end" && !FFields.empty()) {
    const TOpenField field = std::move(FFields.back());
    FFields.pop_back();
    // A macro button has no result: the page shows its text instead.
    if (!field.Separated && FFields.empty() && TextVisible())
      if (const WideString shown = MacroButtonText(field.Instruction); !shown.empty()) TellText(shown);
  }
}

namespace {

// Enough of a part's start to hold its byte-order mark or declaration.
constexpr size_t kEncodingHead = 1024;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Parts are UTF-8 but for rare exceptions (a byte-order mark of UTF-16, a
// declared code page), which go to the engine's encoding detection.
bool IsUtf8Part(std::string_view Head) {
  if (Head.size() >= 2 && ((Head[0] == '\xFF' && Head[1] == '\xFE') || (Head[0] == '\xFE' && Head[1] == '\xFF') ||
                           (Head[0] == '<' && Head[1] == '\0') || (Head[0] == '\0' && Head[1] == '<')))
    return false;
  const size_t declaration = Head.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
  if (Head.substr(declaration, 5) != "<?xml") return true;
  const size_t end = Head.find("?>");
  const std::string_view decl = Head.substr(0, end == std::string_view::npos ? 0 : end);
  const size_t enc = decl.find("encoding");
  if (enc == std::string_view::npos) return true;
  std::string name;
  for (char c : decl.substr(enc + 8)) {
    if (c != '=' && c != '"' && c != '\'' && !IsAsciiBlank(c))
      name += ToLowerAscii(c);
    else if (!name.empty())
      break;
  }
  return name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}

}  // namespace

void TMSWordXDocument::ParsePart(TPartSource& Source) {
  ResetRenderState();
  Source.More(0, kEncodingHead);  // the first piece, enough to tell the encoding
  const bool scanned = IsUtf8Part(Source.Data().substr(0, kEncodingHead)) && ScanOrTakeBack(Source);
  if (!scanned) ParseWithEngine(Source.All());
  // A part cut short leaves elements open: close them so that their text
  // is kept.
  while (!FOpen.empty()) CloseElement();
  Renderer().EndPart();
  ResetRenderState();
  // The size and CRC checks end the part; damage they find is raised after
  // the text that came before it.
  if (scanned && !Cancelled()) Source.Finish();
}

bool TMSWordXDocument::ScanOrTakeBack(TPartSource& Source) {
  const int footnoteCount = FFootnoteCount, endnoteCount = FEndnoteCount;
  TWordXNumbering::TState numbering = FNumbering.State();
  FNumbered.clear();
  SetMalformedUtf8(false);
  ScanPart(Source);
  // Text already passed on cannot be taken back: the part is read to its
  // end as UTF-8, damaged sequences replaced.
  const bool passedOn = !CanTakeBack();
  if (FMalformedUtf8 && passedOn && !Cancelled()) AddWarning("the main part is not valid UTF-8 throughout");
  if (!FMalformedUtf8 || Cancelled() || passedOn) return true;
  Output().RollBack(FPartPoint);
  for (const auto& [endnote, id] : FNumbered) (endnote ? FEndnoteNumbers : FFootnoteNumbers).erase(id);
  FFootnoteCount = footnoteCount;
  FEndnoteCount = endnoteCount;
  FNumbering.SetState(std::move(numbering));
  ResetRenderState();
  return false;
}

void TMSWordXDocument::ParseWithEngine(std::string_view Bytes) {
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  engine.SetOnTag([this](TObject* Sender, TLKXMLItem* Parent, const auto& Name, const auto& Value,
                         const auto& Attributes, bool& Accept) {
    NewRowTag(Sender, Parent, Name, Value, Attributes, Accept);
  });
  engine.SetOnAfterTag([this](TObject* Sender, TLKXMLItem*& Node, bool& Cancel) { DeleteRowTag(Sender, Node, Cancel); });
  struct TEngineScope {
    TLKXMLEngine*& Slot;
    ~TEngineScope() { Slot = nullptr; }
  } scope{FEngine};
  FEngine = &engine;
  engine.LoadFromBytes(Bytes);
  if (engine.DepthLimitReached())
    AddWarning("elements nested deeper than " + std::to_string(FMaxNestingDepth) + " levels were skipped");
}

// ---------------------------------------------------------------------------
// The scanner

namespace {

// Name bytes as the engine takes them: ASCII letters, digits, "-", "_", ":",
// "." and every byte of a multi-byte UTF-8 sequence.
struct TNameBytes {
  std::array<bool, 256> Name{}, Start{};
  constexpr TNameBytes() {
    for (int c = 0; c < 256; ++c) {
      const bool letter = IsAsciiLetter(c) || c >= 0x80 || c == '_' || c == ':';
      Start[c] = letter;
      Name[c] = letter || IsAsciiDigit(c) || c == '-' || c == '.';
    }
  }
};
constexpr TNameBytes kNameBytes;

// The characters a start tag's scan stops at.
struct TTagStops {
  std::array<bool, 256> Stop{};
  constexpr TTagStops() { Stop['>'] = Stop['<'] = Stop['"'] = Stop['\''] = true; }
  constexpr bool operator[](unsigned char c) const { return Stop[c]; }
};
constexpr TTagStops kTagStops;

constexpr size_t kNpos = std::string_view::npos;

// One past the markup that starts with the "<" at P: a start or end tag
// (a ">" inside a quoted value does not end a start tag; a "<" outside
// quotes does, the ">" being missing), a comment, CDATA section, processing
// instruction or declaration. kNpos when the text ends inside it and AtEnd
// is false (more may come); at the end of the part, the text's end or, for
// a start tag whose quote never closes, its first ">".
size_t MarkupEnd(std::string_view S, size_t P, bool AtEnd) {
  const size_t n = S.size();
  auto past = [&](std::string_view close, size_t from) {
    size_t e = S.find(close, from);
    return e != kNpos ? e + close.size() : AtEnd ? n : kNpos;
  };
  if (P + 1 >= n) return AtEnd ? n : kNpos;
  const char c = S[P + 1];
  if (c == '/') return past(">", P + 2);
  if (c == '?') return past("?>", P + 2);
  if (c == '!') {
    if (S.compare(P, 4, "<!--") == 0) return past("-->", P + 4);
    if (S.compare(P, 9, "<![CDATA[") == 0) return past("]]>", P + 9);
    if (n - P < 9 && !AtEnd) return kNpos;  // "<!--" or "<![CDATA[" may be cut
    int brackets = 0;
    for (size_t i = P + 2; i < n; ++i) {
      if (S[i] == '[') ++brackets;
      else if (S[i] == ']' && brackets > 0) --brackets;
      else if (S[i] == '>' && brackets == 0) return i + 1;
    }
    return AtEnd ? n : kNpos;
  }
  if (!kNameBytes.Start[static_cast<unsigned char>(c)]) return P + 1;  // a "<" that starts no markup
  for (size_t i = P + 1; i < n; ++i) {
    const char d = S[i];
    if (!kTagStops[static_cast<unsigned char>(d)]) continue;
    if (d == '>') return i + 1;
    if (d == '<') return i;
    if (d == '"' || d == '\'') {
      const size_t close = S.find(d, i + 1);
      if (close == kNpos) {
        if (!AtEnd) return kNpos;
        const size_t gt = S.find('>', P);
        return gt == kNpos ? n : gt + 1;
      }
      i = close;
    }
  }
  return AtEnd ? n : kNpos;
}

// Appends CDATA content to raw character data, escaped so that decoding the
// entities of the whole later gives it back unchanged.
void AppendCData(std::string& Raw, std::string_view Token) {
  std::string_view data = Token.substr(9);
  if (data.size() >= 3 && data.substr(data.size() - 3) == "]]>") data.remove_suffix(3);
  for (char d : data) {
    if (d == '&')
      Raw += "&amp;";
    else if (d == '<')
      Raw += "&lt;";
    else
      Raw += d;
  }
}

}  // namespace

// One pass of the scanner over a part: the window of bytes at hand, the
// position in it, and the elements open.
class TMSWordXDocument::TScanner {
 public:
  TScanner(TMSWordXDocument& Doc, TPartSource& Source)
      : D(Doc), FSource(Source), S(Source.Data()), P(S.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0),
        FNeed(Source.Piece()) {}

  void Run();

 private:
  // Keeps the window from P on and adds to it; a markup that is still cut
  // off asks for twice as much each time, so a long one costs linear time.
  bool Refill(bool Cut);
  // The next markup, the text before it gathered; false at the part's end.
  bool NextMarkup(std::string_view& Token);
  // Each step returns false when the scan stops: the part is no UTF-8 and
  // is to be read again.
  bool EndTag(std::string_view Token);
  bool StartTag(std::string_view Token);
  bool TextElement();
  void WarnTooDeep();  // once per part
  // Document text of a text element; false when it is no valid UTF-8.
  bool AppendText(std::string_view Content);
  // Notes a part that is no UTF-8; true when the scan stops for it.
  bool StopsAtMalformed() {
    D.SetMalformedUtf8(true);
    return D.CanTakeBack();
  }

  TMSWordXDocument& D;
  TPartSource& FSource;
  std::string_view S;
  size_t P;
  size_t FNeed;
  size_t FSkipDepth = 0;  // > 0 inside an element that is skipped
  size_t FTextDepth = 0;  // > 0 inside a text element whose content is gathered
  bool FInstruction = false;  // that element is a field's instruction, not document text
  bool FAtEnd = false;
  bool FDocumentElementSeen = false;
  std::vector<std::string> FNames;  // of the open elements, as D.FOpen
  std::string FRaw;                 // a text element's content, gathered
  WideString FText;
};

void TMSWordXDocument::ScanPart(TPartSource& Source) { TScanner(*this, Source).Run(); }

// The steps are inline: together they are the scanner's one loop, which a
// call per token would slow down. Only rare work stays out of line.

inline void TMSWordXDocument::TScanner::Run() {
  std::string_view token;
  while (!D.Cancelled() && NextMarkup(token)) {
    const char c = token.size() > 1 ? token[1] : '\0';
    if (c == '/') {
      if (!EndTag(token)) return;
    } else if (c == '!' || c == '?') {
      if (FTextDepth && !FSkipDepth && token.starts_with("<![CDATA[")) AppendCData(FRaw, token);
    } else if (!kNameBytes.Start[static_cast<unsigned char>(c)]) {
      if (FTextDepth) FRaw += "&lt;";  // a "<" that starts no markup is text
    } else if (!StartTag(token)) {
      return;
    }
  }
  // A text element the part ends in still gives what it holds.
  if (FTextDepth && !D.Cancelled() && !AppendText(FRaw)) D.SetMalformedUtf8(true);
}

inline bool TMSWordXDocument::TScanner::Refill(bool Cut) {
  if (!FSource.More(P, FNeed)) {
    FAtEnd = true;
    return false;
  }
  FNeed = Cut ? FNeed * 2 : FSource.Piece();
  S = FSource.Data();
  P = 0;
  return true;
}

inline bool TMSWordXDocument::TScanner::NextMarkup(std::string_view& Token) {
  size_t end;
  for (;;) {
    const void* lt = P < S.size() ? std::memchr(S.data() + P, '<', S.size() - P) : nullptr;
    if (!lt) {
      // Text outside text elements gives nothing.
      if (FTextDepth) FRaw.append(S.substr(P));
      P = S.size();
      if (FAtEnd || !Refill(false)) return false;
      continue;
    }
    const size_t at = static_cast<size_t>(static_cast<const char*>(lt) - S.data());
    if (FTextDepth) FRaw.append(S.substr(P, at - P));
    P = at;
    end = MarkupEnd(S, P, FAtEnd);
    if (end != kNpos) break;
    if (!Refill(true)) {
      end = MarkupEnd(S, P, true);
      break;
    }
  }
  FNeed = FSource.Piece();
  Token = S.substr(P, end - P);
  P = end;
  return true;
}

inline bool TMSWordXDocument::TScanner::AppendText(std::string_view Content) {
  if (FInstruction) {
    FInstruction = false;
    FText.clear();
    const bool valid = AppendUtf8(FText, Content);
    D.AddInstruction(FText);
    return valid;
  }
  if (!D.TextVisible() || (!D.FOpen.empty() && D.FOpen.back().Kind == kRunProperties)) return true;
  FText.clear();
  const bool valid = AppendUtf8(FText, Content);
  // Entities, and the UTF-8 lead byte of U+F000..U+FFFF (symbol fonts'
  // private-use page among them), take the slower way.
  if (Content.find('&') == std::string_view::npos && Content.find('\xEF') == std::string_view::npos)
    D.TellText(FText);
  else
    D.TellDocumentText(FText);
  return valid;
}

inline bool TMSWordXDocument::TScanner::EndTag(std::string_view Token) {
  if (FSkipDepth) {
    --FSkipDepth;
    return true;
  }
  if (FTextDepth) return --FTextDepth > 0 || AppendText(FRaw) || !StopsAtMalformed();
  // An end tag closes the innermost open element of its name and what is
  // open inside it; one that matches nothing open is ignored.
  size_t q = 2;
  while (q < Token.size() && kNameBytes.Name[static_cast<unsigned char>(Token[q])]) ++q;
  const std::string_view name = Token.substr(2, q - 2);
  for (size_t k = FNames.size(); k-- > 0;) {
    if (FNames[k] != name) continue;
    while (FNames.size() > k) {
      FNames.pop_back();
      D.CloseElement();
    }
    break;
  }
  return true;
}

inline bool TMSWordXDocument::TScanner::StartTag(std::string_view Token) {
  size_t q = 1;
  while (q < Token.size() && kNameBytes.Name[static_cast<unsigned char>(Token[q])]) ++q;
  const bool closed = Token.back() == '>';
  const bool selfClosing = closed && Token.size() >= q + 2 && Token[Token.size() - 2] == '/';
  if (FSkipDepth || FTextDepth) {
    if (!selfClosing) ++(FSkipDepth ? FSkipDepth : FTextDepth);
    return true;
  }
  const std::string_view name = Token.substr(1, q - 1);
  const TAttributeText attributes =
      TAttributeText::FromUtf8(Token.substr(q, Token.size() - q - (selfClosing ? 2 : closed ? 1 : 0)));
  const bool isDocumentElement = !FDocumentElementSeen;
  FDocumentElementSeen = true;
  if (isDocumentElement) D.SetUpNamespaces(attributes);
  const uint8_t kind = D.KindOf(name);
  if (kind == kText || kind == kInstruction) {
    if (selfClosing) return true;
    FInstruction = kind == kInstruction;
    return TextElement();
  }
  if (FNames.size() >= static_cast<size_t>(std::max(D.FMaxNestingDepth, 1))) {
    WarnTooDeep();
    if (!selfClosing) FSkipDepth = 1;
    return true;
  }
  if (!D.OpenElement(kind, attributes, isDocumentElement, {})) {
    if (!selfClosing) FSkipDepth = 1;
    return true;
  }
  if (selfClosing)
    D.CloseElement();
  else
    FNames.emplace_back(name);
  return true;
}

void TMSWordXDocument::TScanner::WarnTooDeep() {
  if (!D.FDepthWarned)
    D.AddWarning("elements nested deeper than " + std::to_string(D.FMaxNestingDepth) + " levels were skipped");
  D.FDepthWarned = true;
}

inline bool TMSWordXDocument::TScanner::TextElement() {
  // Mostly a run of characters and the end tag: taken in place.
  const size_t next = S.find('<', P);
  const size_t close = next != kNpos && next + 1 < S.size() && S[next + 1] == '/' ? S.find('>', next) : kNpos;
  if (close == kNpos) {
    FRaw.clear();
    FTextDepth = 1;
    return true;
  }
  const std::string_view content = S.substr(P, next - P);
  P = close + 1;
  return AppendText(content) || !StopsAtMalformed();
}

// ---------------------------------------------------------------------------
// Element names

void TMSWordXDocument::SetUpNamespaces(const TAttributeText& Attributes) {
  FNamespacesSet = true;
  FPrefixes.clear();
  Attributes.ForEach([&](const std::string& name, const WideString& uri) {
    std::string prefix;
    if (name == "xmlns")
      prefix.clear();
    else if (name.compare(0, 6, "xmlns:") == 0)
      prefix = name.substr(6);
    else
      return true;
    for (const auto& ns : kNamespaces) {
      if (ns.Uri.size() == uri.size() && std::equal(ns.Uri.begin(), ns.Uri.end(), uri.begin())) {
        if (ns.Prefix != prefix) FPrefixes[prefix] = std::string(ns.Prefix);
        break;
      }
    }
    return true;
  });
}

uint8_t TMSWordXDocument::KindOf(std::string_view Name) const {
  std::string mapped;
  if (FPrefixes.empty()) {
    // The commonest elements by far.
    if (Name.size() == 3 && Name[0] == 'w' && Name[1] == ':') {
      if (Name[2] == 'r') return kRun;
      if (Name[2] == 't') return kText;
      if (Name[2] == 'p') return kParagraph;
    }
  } else {
    size_t colon = Name.find(':');
    auto it = FPrefixes.find(std::string(colon == std::string_view::npos ? std::string_view() : Name.substr(0, colon)));
    if (it != FPrefixes.end()) {
      mapped = it->second + ':';
      mapped += colon == std::string_view::npos ? Name : Name.substr(colon + 1);
      Name = mapped;
    }
  }
  const TKind kind = KindTable().Find(Name);
  if (kind != kUnknown) return kind;
  // Math structures (fractions, radicals, ...) hold their text in m:t runs;
  // their property elements end in "Pr".
  if (Name.size() > 2 && Name.substr(0, 2) == "m:") {
    FMathName.assign(Name.substr(2));
    return Name.size() > 4 && Name.ends_with("Pr") ? kMathProperties : kMathElement;
  }
  return kSkip;
}

uint8_t TMSWordXDocument::KindOf(std::u16string_view Name) const {
  char buffer[64];
  if (Name.size() > sizeof buffer) return kSkip;
  for (size_t i = 0; i < Name.size(); ++i) {
    if (Name[i] >= 0x80) return kSkip;
    buffer[i] = static_cast<char>(Name[i]);
  }
  return KindOf(std::string_view(buffer, Name.size()));
}

// ---------------------------------------------------------------------------
// Element handling, shared by the scanner and the engine's events

void TMSWordXDocument::NewRowTag(TObject*, TLKXMLItem* ParentNode, std::u16string_view ATagName,
                                 std::u16string_view ATagValue, std::u16string_view ATagAttributes, bool& Accept) {
  Accept = false;
  if (ATagName.empty() || ATagName[0] == u'!' || ATagName[0] == u'?') return;
  // Text between elements gathers in the open parent; nothing reads it, so
  // it is dropped to keep memory flat.
  if (ParentNode && !ParentNode->Value().empty()) ParentNode->SetValue({});
  const bool parentIsRoot = FEngine && ParentNode == FEngine->RootItem();
  const bool parentIsDeclaration = parentIsRoot && !ParentNode->TagName().empty() && ParentNode->TagName()[0] == u'?';
  if (!FNamespacesSet) {
    // The namespaces are declared on the document element: the root itself,
    // or this element when the root is the XML declaration.
    SetUpNamespaces(TAttributeText::FromWide(parentIsRoot && !parentIsDeclaration
                                                 ? std::u16string_view(ParentNode->Attributes())
                                                 : ATagAttributes));
  }
  Accept = OpenElement(KindOf(ATagName), TAttributeText::FromWide(ATagAttributes), parentIsDeclaration, ATagValue);
}

void TMSWordXDocument::DeleteRowTag(TObject*, TLKXMLItem*& Node, bool& Cancel) {
  if (!Node || (FEngine && Node == FEngine->RootItem())) return;
  CloseElement();
  // Rendered elements are not needed any more; freeing them keeps the tree
  // as small as the nesting.
  delete Node;
  Node = nullptr;
  if (Cancelled()) Cancel = true;
}

bool TMSWordXDocument::OpenElement(uint8_t Kind, const TAttributeText& Attributes, bool IsDocumentElement,
                                   std::u16string_view Text) {
  if (Kind == kSkip && IsDocumentElement) Kind = kContainer;  // a part's document element
  const uint8_t parent = FOpen.empty() ? uint8_t{kContainer} : FOpen.back().Kind;
  if (parent == kRunProperties) {
    WideString style;
    if (Kind == kVanish && Attributes.IsOn())
      IsHiddenText = true;
    else if (Kind == kBold)
      FRunStyle.Bold = Attributes.IsOn();
    else if (Kind == kItalic)
      FRunStyle.Italic = Attributes.IsOn();
    else if (Kind == kRunStyle && Attributes.Find("val", style))
      FNumbering.CharacterStyle(style, FRunStyle.Bold, FRunStyle.Italic);
    return false;
  }
  if (parent == kMathProperties) {
    WideString v;
    if (Kind == kMathElement && Attributes.Find("val", v)) FMath.Property(AsciiToWide(FMathName), v);
    return false;
  }
  if (parent == kParagraphProperties || parent == kNumbering) {
    WideString v;
    auto number = [&](int Max) {
      int n = 0;
      if (!Attributes.Find("val", v) || v.empty() || v.size() > 9) return -1;
      for (char16_t c : v) {
        if (!IsAsciiDigit(c)) return -1;
        n = n * 10 + (c - u'0');
      }
      return std::min(n, Max);
    };
    TWordXNumbering::TParagraphProperties& props = FParagraphProperties;
    if (parent == kNumbering) {
      if (Kind == kNumberingLevel) props.Level = number(TWordXNumbering::kLevels - 1);
      // An id that is no number names no list.
      if (Kind == kNumberingId) props.NumId = std::max(number(1 << 30), 0);
      return false;
    }
    if (Kind == kParagraphStyle && Attributes.Find("val", v)) props.Style = v;
    if (Kind == kOutlineLevel) props.OutlineLevel = number(9);
    if (Kind != kNumbering) return false;
    FOpen.push_back({Kind, false});
    return true;
  }
  switch (Kind) {
    case kSkip:
    case kVanish:
    case kBold:
    case kItalic:
    case kRunStyle:
    case kParagraphStyle:
    case kNumbering:
    case kNumberingLevel:
    case kNumberingId:
    case kOutlineLevel:
      return false;
    case kParagraphProperties:
      // Only the outermost paragraph's, read before it is told.
      if (parent != kParagraph || !FParagraphPending || FParagraphDepth != 1) return false;
      break;
    case kDiagram: {
      WideString id;
      if (TextVisible() && Attributes.Find("dm", id)) ReadDiagram(id);
      return false;
    }
    case kAltChunk: {
      // Content of another format (HTML, text, a document) that Word
      // imports when it opens the file.
      WideString id;
      Attributes.Find("id", id);
      ReadAltChunk(id);
      return false;
    }
    case kContainer:
      break;
    case kMath:
      if (FMathDepth++ == 0)
        FMath.Begin();
      else
        FMath.Open(u"oMath");
      break;
    case kMathElement:
      // Outside an equation the element only holds what is inside it.
      if (FMathDepth == 0) Kind = kContainer;
      else FMath.Open(AsciiToWide(FMathName));
      break;
    case kMathProperties:
      if (FMathDepth == 0) return false;
      break;
    case kParagraph:
      BeginParagraph();
      break;
    case kRun:
      IsHiddenText = false;
      FRunStyle = kPlainRun;
      break;
    case kRunProperties:
      if (parent != kRun) return false;
      break;
    case kText:
      if (TextVisible()) TellDocumentText(Text);
      return false;
    case kTab:
      if (TextVisible()) Tell(evTab);
      return false;
    case kBreak:
      // Page and column breaks give no text.
      if (TextVisible() && !Attributes.Is("type", u"page") && !Attributes.Is("type", u"column")) Tell(evLineBreak);
      return false;
    case kCarriageReturn:
      if (TextVisible()) Tell(evLineBreak);
      return false;
    case kNoBreakHyphen:
      if (TextVisible()) TellText(u"-");
      return false;
    case kSoftHyphen:
      return false;
    case kSymbol:
      if (TextVisible()) TellSymbol(Attributes);
      return false;
    case kFootnoteReference:
    case kEndnoteReference:
      if (TextVisible()) TellNoteReference(Kind == kEndnoteReference, Attributes);
      return false;
    case kFootnoteMark:
    case kEndnoteMark:
      if (TextVisible()) TellNoteMark(Kind == kEndnoteMark, FCurrentNoteMark);
      return false;
    case kDeleted:
      if (MarksRevisions())
        Tell(evBeginDeleted);
      else
        ++FDeletedDepth;
      break;
    case kInserted:
      if (MarksRevisions()) Tell(evBeginInserted);
      break;
    case kHyperlink:
    case kSimpleField:
      BeginLink(Kind == kSimpleField, Attributes);
      break;
    case kFieldChar:
      FieldChar(Attributes);
      return false;
    case kInstruction:
      AddInstruction(Text);
      return false;
    case kTable:
      Tell(evBeginTable);
      break;
    case kRow:
      Tell(evBeginRow);
      break;
    case kCell:
      Tell(evBeginCell);
      break;
    case kFootnote:
    case kEndnote: {
      // Separator lines are layout, not notes.
      WideString type;
      if (Attributes.Find("type", type) &&
          (type == u"separator" || type == u"continuationSeparator" || type == u"continuationNotice"))
        return false;
      BeginNote(Kind == kEndnote, Attributes);
      break;
    }
    case kAlternateContent:
      break;
    case kChoice:
    case kFallback:
      // One branch of the alternatives: the first choice whose required
      // namespaces are understood, else the fallback. Never both, so that a
      // text box is not read twice.
      if (parent != kAlternateContent || FOpen.back().ChoiceTaken) return false;
      if (Kind == kChoice && !ChoiceUnderstood(Attributes)) return false;
      FOpen.back().ChoiceTaken = true;
      break;
    default:
      return false;
  }
  FOpen.push_back({Kind, false});
  return true;
}

void TMSWordXDocument::CloseElement() {
  if (FOpen.empty()) return;
  const uint8_t kind = FOpen.back().Kind;
  FOpen.pop_back();
  EndElement(kind);
}

bool TMSWordXDocument::ChoiceUnderstood(const TAttributeText& Attributes) const {
  WideString required;
  Attributes.Find("Requires", required);
  size_t i = 0;
  while (i < required.size()) {
    while (i < required.size() && IsAsciiBlank(required[i])) ++i;
    std::string prefix;
    while (i < required.size() && !IsAsciiBlank(required[i])) prefix += static_cast<char>(required[i++] & 0x7F);
    if (prefix.empty()) break;
    auto it = FPrefixes.find(prefix);
    if (it != FPrefixes.end()) prefix = it->second;
    bool known = false;
    for (auto k : kUnderstoodPrefixes) known = known || prefix == k;
    if (!known) return false;
  }
  return true;
}

void TMSWordXDocument::EndElement(uint8_t Kind) {
  switch (Kind) {
    case kParagraph:
      EndParagraph();
      break;
    case kDeleted:
      if (MarksRevisions())
        Tell(evEndDeleted);
      else if (FDeletedDepth > 0)
        --FDeletedDepth;
      break;
    case kInserted:
      if (MarksRevisions()) Tell(evEndInserted);
      break;
    case kHyperlink:
    case kSimpleField:
      EndLink();
      break;
    case kTable:
      Tell(evEndTable);
      break;
    case kRow:
      Tell(evEndRow);
      break;
    case kCell:
      Tell(evEndCell);
      break;
    case kFootnote:
    case kEndnote:
      FCurrentNoteMark.clear();
      break;
    case kMath:
      if (FMathDepth == 0) break;
      if (--FMathDepth > 0) {
        FMath.Close();
      } else if (WideString equation = FMath.End(); TextVisible()) {
        // A deleted equation's structure would still give its operators.
        TellText(equation);
      }
      break;
    case kMathElement:
      if (FMathDepth > 0) FMath.Close();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Paragraphs and what is told

void TMSWordXDocument::BeginParagraph() {
  // A text box's paragraph inside the paragraph that anchors it is kept
  // until it ends.
  if (FParagraphDepth++ > 0) {
    FNested.push_back({{evBeginParagraph, {}}});
    return;
  }
  FParagraphPending = true;
  FParagraphProperties = {};
  FRunStyle = kPlainRun;
}

void TMSWordXDocument::TellParagraphStart() {
  if (!FParagraphPending) return;
  FParagraphPending = false;
  TParagraph p;
  FNumbering.Describe(FParagraphProperties, p);
  Output().BeginParagraph(p);
}

void TMSWordXDocument::EndParagraph() {
  if (FParagraphDepth == 0) return;
  if (--FParagraphDepth > 0) {
    std::vector<TKeptEvent>& nested = FNested.back();
    nested.push_back({evEndParagraph, {}});
    FKept.insert(FKept.end(), std::make_move_iterator(nested.begin()), std::make_move_iterator(nested.end()));
    FNested.pop_back();
    return;
  }
  TellParagraphStart();
  Output().EndParagraph();
  std::vector<TKeptEvent> kept;
  kept.swap(FKept);
  for (const TKeptEvent& e : kept) TellNow(e.Event, e.Text);
}

void TMSWordXDocument::Tell(uint8_t Event) {
  if (Event >= evBeginTable ? FParagraphDepth > 0 : !FNested.empty()) {
    (Event >= evBeginTable ? FKept : FNested.back()).push_back({Event, {}});
    return;
  }
  TellNow(Event, {});
}

void TMSWordXDocument::TellText(std::u16string_view Text) {
  if (Text.empty()) return;
  if (FMathDepth > 0) {
    FMath.Text(Text);
    return;
  }
  if (FNested.empty()) {
    TellParagraphStart();
    Output().Text(Text, FRunStyle);
  } else
    FNested.back().push_back({evText, WideString(Text)});
}

void TMSWordXDocument::TellDocumentText(std::u16string_view Raw) {
  if (!MayHoldSymbolPrivateUse(Raw) && Raw.find(u'&') == std::u16string_view::npos) {
    TellText(Raw);
    return;
  }
  FDecoded.clear();
  AppendHTMLChars(FDecoded, Raw);
  // A run in a symbol font, whose font this reader does not follow.
  if (MayHoldSymbolPrivateUse(FDecoded) && LeaveOutSymbolPrivateUse(FDecoded) > 0)
    AddWarning(kSymbolCharactersLeftOut);
  TellText(FDecoded);
}

void TMSWordXDocument::TellNow(uint8_t Event, std::u16string_view Text) {
  TellParagraphStart();
  TDocumentOutput& out = Output();
  switch (Event) {
    case evBeginParagraph: out.BeginParagraph(TParagraph()); break;
    case evEndParagraph: out.EndParagraph(); break;
    case evText: out.Text(Text); break;
    case evLineBreak: out.LineBreak(); break;
    case evTab: out.Tab(); break;
    case evBeginInserted: out.BeginRevision(TRevisionKind::Inserted); break;
    case evEndInserted: out.EndRevision(TRevisionKind::Inserted); break;
    case evBeginDeleted: out.BeginRevision(TRevisionKind::Deleted); break;
    case evEndDeleted: out.EndRevision(TRevisionKind::Deleted); break;
    case evFootnoteReference: out.NoteReference(TStoryKind::Footnote, Text, kPlainRun); break;
    case evEndnoteReference: out.NoteReference(TStoryKind::Endnote, Text, kPlainRun); break;
    case evBeginTable: out.BeginTable(); break;
    case evEndTable: out.EndTable(); break;
    case evBeginRow: out.BeginRow(); break;
    case evEndRow: out.EndRow(); break;
    case evBeginCell: out.BeginCell(); break;
    case evEndCell: out.EndCell(); break;
    case evBeginLink: out.BeginLink(Text); break;
    case evEndLink: out.EndLink(); break;
    default: break;
  }
}

void TMSWordXDocument::TellSymbol(const TAttributeText& Attributes) {
  WideString font, hex;
  uint32_t code = 0;
  if (!Attributes.Find("char", hex) || !ParseHex(hex, code)) return;
  Attributes.Find("font", font);
  const char16_t c = SymbolCharacter(font, code);
  if (c == 0) return;
  TellText(std::u16string_view(&c, 1));
}

// ---------------------------------------------------------------------------
// Notes

WideString TMSWordXDocument::NoteMark(int Number, bool Endnote) const {
  const TNoteNumbering numbering = Endnote ? FEndnoteNumbering : FFootnoteNumbering;
  WideString out;
  if ((numbering == nnLowerRoman || numbering == nnUpperRoman) && Number > 0 && Number < 4000) {
    AppendRoman(out, Number, numbering == nnUpperRoman);
    return out;
  }
  if ((numbering == nnLowerLetter || numbering == nnUpperLetter) && Number > 0 && Number <= 26 * 20) {
    AppendLetters(out, Number, numbering == nnUpperLetter);
    return out;
  }
  AppendDecimal(out, Number);
  return out;
}

namespace {

// A note's id as a number (ids are decimal numbers); false for anything else.
bool ParseNoteId(const WideString& text, int64_t& Id) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = text[0] == u'-' ? 1 : 0;
  if (i == text.size()) return false;
  Id = 0;
  for (; i < text.size(); ++i) {
    if (!IsAsciiDigit(text[i])) return false;
    Id = Id * 10 + (text[i] - u'0');
  }
  if (text[0] == u'-') Id = -Id;
  return true;
}

}  // namespace

void TMSWordXDocument::TellNoteReference(bool Endnote, const TAttributeText& Attributes) {
  // A custom mark is the text that follows the reference.
  WideString flag;
  if (Attributes.Find("customMarkFollows", flag) && (flag == u"1" || flag == u"true" || flag == u"on")) return;
  int& count = Endnote ? FEndnoteCount : FFootnoteCount;
  const int number = ++count;
  WideString text;
  int64_t id;
  if (Attributes.Find("id", text) && ParseNoteId(text, id) && (Endnote ? FEndnoteNumbers : FFootnoteNumbers).emplace(id, number).second)
    FNumbered.emplace_back(Endnote, id);
  TellNoteMark(Endnote, NoteMark(number, Endnote));
}

void TMSWordXDocument::TellNoteMark(bool Endnote, std::u16string_view Mark) {
  if (Mark.empty()) return;
  if (!FNested.empty()) {
    FNested.back().push_back({Endnote ? evEndnoteReference : evFootnoteReference, WideString(Mark)});
    return;
  }
  TellParagraphStart();
  Output().NoteReference(Endnote ? TStoryKind::Endnote : TStoryKind::Footnote, Mark, FRunStyle);
}

void TMSWordXDocument::BeginLink(bool Field, const TAttributeText& Attributes) {
  WideString target;
  if (Field) {
    // Only a hyperlink field's result is a link.
    if (Attributes.Find("instr", target)) target = HyperlinkFieldTarget(target);
  } else if (Attributes.Find("id", target)) {
    const auto it = FLinkTargets.find(target);
    target = it != FLinkTargets.end() ? it->second : WideString();
  }
  WideString anchor;
  if (!Field && target.empty() && Attributes.Find("anchor", anchor) && !anchor.empty()) target = u"#" + anchor;
  FLinksOpen.push_back(!target.empty());
  if (target.empty()) return;
  if (!FNested.empty()) {
    FNested.back().push_back({evBeginLink, std::move(target)});
    return;
  }
  TellParagraphStart();
  Output().BeginLink(target);
}

void TMSWordXDocument::EndLink() {
  if (FLinksOpen.empty()) return;
  const bool told = FLinksOpen.back();
  FLinksOpen.pop_back();
  if (told) Tell(evEndLink);
}

void TMSWordXDocument::BeginNote(bool Endnote, const TAttributeText& Attributes) {
  const auto& numbers = Endnote ? FEndnoteNumbers : FFootnoteNumbers;
  WideString text;
  int64_t id;
  auto it = Attributes.Find("id", text) && ParseNoteId(text, id) ? numbers.find(id) : numbers.end();
  int number;
  if (it != numbers.end()) {
    number = it->second;
  } else {
    // A note the body does not reference: numbered after the others.
    int& count = Endnote ? FEndnoteCount : FFootnoteCount;
    number = ++count;
  }
  FCurrentNoteMark = NoteMark(number, Endnote);
  Output().BeginNote(Endnote ? TStoryKind::Endnote : TStoryKind::Footnote, FCurrentNoteMark);
}

}  // namespace lkw
