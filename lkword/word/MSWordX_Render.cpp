// Rendering of Word 2007 XML parts while they are parsed: the element
// filter, paragraphs, runs, tables, text boxes, note marks and symbols.
#include "lkword/word/MSWordX.h"

#include <string_view>
#include <utility>

#include "lkword/containers/LKWXML.h"
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
};

struct TKindEntry {
  std::u16string_view Name;
  TKind Kind;
};

// Names as written with the usual prefixes; documents that bind the
// namespaces to other prefixes are mapped onto these first.
constexpr TKindEntry kKinds[] = {
    {u"w:p", kParagraph},
    {u"w:r", kRun},
    {u"m:r", kRun},
    {u"w:rPr", kRunProperties},
    {u"w:vanish", kVanish},
    {u"w:t", kText},
    {u"m:t", kText},
    {u"w:delText", kText},
    {u"w:tab", kTab},
    {u"w:ptab", kTab},
    {u"w:br", kBreak},
    {u"w:cr", kCarriageReturn},
    {u"w:noBreakHyphen", kNoBreakHyphen},
    {u"w:softHyphen", kSoftHyphen},
    {u"w:sym", kSymbol},
    {u"w:footnoteReference", kFootnoteReference},
    {u"w:endnoteReference", kEndnoteReference},
    {u"w:footnoteRef", kFootnoteMark},
    {u"w:endnoteRef", kEndnoteMark},
    {u"w:del", kDeleted},
    {u"w:moveFrom", kDeleted},
    {u"w:ins", kInserted},
    {u"w:moveTo", kInserted},
    {u"w:tbl", kTable},
    {u"w:tr", kRow},
    {u"w:tc", kCell},
    {u"w:footnote", kFootnote},
    {u"w:endnote", kEndnote},
    {u"mc:AlternateContent", kAlternateContent},
    {u"mc:Choice", kChoice},
    {u"mc:Fallback", kFallback},
    // Parts, story containers and content wrappers.
    {u"w:document", kContainer},
    {u"w:body", kContainer},
    {u"w:hdr", kContainer},
    {u"w:ftr", kContainer},
    {u"w:footnotes", kContainer},
    {u"w:endnotes", kContainer},
    {u"w:comments", kContainer},
    {u"w:comment", kContainer},
    {u"w:sdt", kContainer},
    {u"w:sdtContent", kContainer},
    {u"w:smartTag", kContainer},
    {u"w:customXml", kContainer},
    {u"w:fldSimple", kContainer},
    {u"w:hyperlink", kContainer},
    {u"w:bdo", kContainer},
    {u"w:dir", kContainer},
    {u"w:ruby", kContainer},
    {u"w:rubyBase", kContainer},
    {u"w:txbxContent", kContainer},
    // The way from a run to a text box, DrawingML and VML.
    {u"w:drawing", kContainer},
    {u"w:pict", kContainer},
    {u"w:object", kContainer},
    {u"wp:inline", kContainer},
    {u"wp:anchor", kContainer},
    {u"a:graphic", kContainer},
    {u"a:graphicData", kContainer},
    {u"wps:wsp", kContainer},
    {u"wps:txbx", kContainer},
    {u"wpg:wgp", kContainer},
    {u"wpg:grpSp", kContainer},
    {u"wpc:wpc", kContainer},
    {u"v:shape", kContainer},
    {u"v:rect", kContainer},
    {u"v:roundrect", kContainer},
    {u"v:oval", kContainer},
    {u"v:group", kContainer},
    {u"v:textbox", kContainer},
};

struct TU16Hash {
  size_t operator()(std::u16string_view S) const { return std::hash<std::u16string_view>()(S); }
};

const std::unordered_map<std::u16string_view, TKind, TU16Hash>& KindTable() {
  static const auto* table = [] {
    auto* t = new std::unordered_map<std::u16string_view, TKind, TU16Hash>();
    for (const auto& e : kKinds) t->emplace(e.Name, e.Kind);
    return t;
  }();
  return *table;
}

// Namespaces whose elements the reader knows, with the prefix it expects.
struct TNamespace {
  std::u16string_view Uri;
  std::u16string_view Prefix;
};
constexpr TNamespace kNamespaces[] = {
    {u"http://schemas.openxmlformats.org/wordprocessingml/2006/main", u"w"},
    {u"http://purl.oclc.org/ooxml/wordprocessingml/main", u"w"},
    {u"http://schemas.openxmlformats.org/officeDocument/2006/math", u"m"},
    {u"http://purl.oclc.org/ooxml/officeDocument/math", u"m"},
    {u"http://schemas.openxmlformats.org/markup-compatibility/2006", u"mc"},
    {u"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing", u"wp"},
    {u"http://purl.oclc.org/ooxml/drawingml/wordprocessingDrawing", u"wp"},
    {u"http://schemas.openxmlformats.org/drawingml/2006/main", u"a"},
    {u"http://purl.oclc.org/ooxml/drawingml/main", u"a"},
    {u"http://schemas.microsoft.com/office/word/2010/wordprocessingShape", u"wps"},
    {u"http://schemas.microsoft.com/office/word/2010/wordprocessingGroup", u"wpg"},
    {u"http://schemas.microsoft.com/office/word/2010/wordprocessingCanvas", u"wpc"},
    {u"urn:schemas-microsoft-com:vml", u"v"},
};

// Prefixes an mc:Choice may require for its content to be understood here.
constexpr std::u16string_view kUnderstoodPrefixes[] = {u"w",    u"m",   u"mc",  u"wp",     u"wp14",   u"a",
                                                       u"a14",  u"wps", u"wpg", u"wpc",    u"v",      u"o",
                                                       u"w10",  u"w14", u"w15", u"w16",    u"w16se",  u"w16cid",
                                                       u"w16cex"};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view LocalName(std::u16string_view Name) {
  size_t colon = Name.rfind(u':');
  return colon == std::u16string_view::npos ? Name : Name.substr(colon + 1);
}

// Calls F(name, raw value) for each name="value" (or 'value') pair of a raw
// attribute text until F returns false.
template <typename F>
void ForEachAttribute(std::u16string_view S, F f) {
  size_t i = 0, n = S.size();
  while (i < n) {
    while (i < n && IsBlank(S[i])) ++i;
    size_t nameStart = i;
    while (i < n && !IsBlank(S[i]) && S[i] != u'=') ++i;
    std::u16string_view name = S.substr(nameStart, i - nameStart);
    while (i < n && IsBlank(S[i])) ++i;
    if (i >= n || S[i] != u'=') {
      if (name.empty() && i < n) ++i;
      continue;
    }
    ++i;
    while (i < n && IsBlank(S[i])) ++i;
    if (i >= n) return;
    std::u16string_view value;
    if (S[i] == u'"' || S[i] == u'\'') {
      char16_t q = S[i++];
      size_t close = S.find(q, i);
      if (close == std::u16string_view::npos) close = n;
      value = S.substr(i, close - i);
      i = close < n ? close + 1 : n;
    } else {
      size_t start = i;
      while (i < n && !IsBlank(S[i])) ++i;
      value = S.substr(start, i - start);
    }
    if (!name.empty() && !f(name, value)) return;
  }
}

// The value of the attribute whose local name is Local (entities decoded).
bool FindAttribute(std::u16string_view Attributes, std::u16string_view Local, WideString& Value) {
  bool found = false;
  ForEachAttribute(Attributes, [&](std::u16string_view name, std::u16string_view raw) {
    if (LocalName(name) != Local) return true;
    Value.clear();
    AppendHTMLChars(Value, raw);
    found = true;
    return false;
  });
  return found;
}

// An on/off property: absent or any value but false/0/off means on.
bool IsOn(std::u16string_view Attributes) {
  WideString v;
  if (!FindAttribute(Attributes, u"val", v)) return true;
  return !(v == u"0" || v == u"false" || v == u"off");
}

bool HasAttributeValue(std::u16string_view Attributes, std::u16string_view Local, std::u16string_view Value) {
  WideString v;
  return FindAttribute(Attributes, Local, v) && v == Value;
}

// Symbol font code points 0x20..0xFF in Unicode (0: no character).
constexpr char16_t kSymbolFont[224] = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C, 0x2212,
    0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D,
    0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C,
    0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D,
    0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC,
    0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D,
    0x223C, 0,
    // 0x80 .. 0x9F: unassigned
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191,
    0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0,
    0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286,
    0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1,
    0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8,
    0x23A9, 0x23AA,
    // 0xF0
    0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC,
    0x23AD, 0,
};

bool ParseHex(std::u16string_view S, uint32_t& Value) {
  if (S.empty() || S.size() > 8) return false;
  Value = 0;
  for (char16_t c : S) {
    int d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else return false;
    Value = Value * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

// Fonts whose byte codes are pictures, not letters.
bool IsPictureFont(std::u16string_view Font) {
  for (std::u16string_view f : {u"Wingdings", u"Webdings", u"Marlett", u"ZapfDingbats", u"Zapf Dingbats", u"MT Extra"})
    if (Font.size() >= f.size() && CompareTextIgnoreCase(Font.substr(0, f.size()), f) == 0) return true;
  return false;
}

void AppendRoman(WideString& Out, int N, bool Upper) {
  static constexpr struct {
    int Value;
    const char* Text;
  } kRoman[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
                {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
  for (const auto& r : kRoman) {
    for (; N >= r.Value; N -= r.Value)
      for (const char* p = r.Text; *p; ++p) Out += static_cast<char16_t>(Upper ? *p - 32 : *p);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Parts and lists

void TMSWordXDocument::BeginList(TWideStrings& L) {
  WideString h = GetTextStart();
  if (!h.empty()) AddText(h, L);
}

void TMSWordXDocument::EndList(TWideStrings& L) {
  WideString f = GetTextFinish();
  if (!f.empty()) AddText(f, L);
}

void TMSWordXDocument::LoadXMLFilePart(TStream* S, TWideStrings& L) {
  BeginList(L);
  if (S) {
    RawByteString bytes = S->ReadBytes(S->Remaining());
    ParsePart(bytes, L);
  }
  EndList(L);
}

void TMSWordXDocument::ResetRenderState() {
  FCurrentTextLine.clear();
  IsHiddenText = false;
  FOpen.clear();
  FOuterLines.clear();
  FHeldLines.clear();
  FParagraphDepth = 0;
  FNamespacesSet = false;
  FPrefixes.clear();
  FCurrentNoteMark.clear();
}

void TMSWordXDocument::ParsePart(std::string_view Bytes, TWideStrings& L) {
  ResetRenderState();
  FcurList = &L;
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
  // A part cut short leaves elements open: close them so that their text
  // is kept.
  while (!FOpen.empty()) {
    uint8_t kind = FOpen.back().Kind;
    FOpen.pop_back();
    EndElement(kind);
  }
  if (!FCurrentTextLine.empty()) AddText(std::exchange(FCurrentTextLine, WideString()), L);
  ResetRenderState();
}

// ---------------------------------------------------------------------------
// Element names

void TMSWordXDocument::SetUpNamespaces(std::u16string_view Attributes) {
  FPrefixes.clear();
  ForEachAttribute(Attributes, [&](std::u16string_view name, std::u16string_view uri) {
    std::u16string_view prefix;
    if (name == u"xmlns")
      prefix = u"";
    else if (name.substr(0, 6) == u"xmlns:")
      prefix = name.substr(6);
    else
      return true;
    for (const auto& ns : kNamespaces) {
      if (ns.Uri == uri) {
        if (ns.Prefix != prefix) FPrefixes[WideString(prefix)] = WideString(ns.Prefix);
        break;
      }
    }
    return true;
  });
}

uint8_t TMSWordXDocument::KindOf(std::u16string_view ATagName) const {
  std::u16string_view name = ATagName;
  WideString mapped;
  if (!FPrefixes.empty()) {
    size_t colon = name.find(u':');
    WideString prefix(colon == std::u16string_view::npos ? std::u16string_view() : name.substr(0, colon));
    auto it = FPrefixes.find(prefix);
    if (it != FPrefixes.end()) {
      mapped = it->second;
      mapped += u':';
      mapped += colon == std::u16string_view::npos ? name : name.substr(colon + 1);
      name = mapped;
    }
  }
  const auto& table = KindTable();
  auto it = table.find(name);
  if (it != table.end()) return it->second;
  // Math structures (fractions, radicals, ...) hold their text in m:t runs;
  // their property elements end in "Pr".
  if (name.size() > 2 && name.substr(0, 2) == u"m:" && !(name.size() > 4 && name.substr(name.size() - 2) == u"Pr"))
    return kContainer;
  return kSkip;
}

// ---------------------------------------------------------------------------
// The parse events

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
    FNamespacesSet = true;
    SetUpNamespaces(parentIsRoot && !parentIsDeclaration ? std::u16string_view(ParentNode->Attributes())
                                                         : ATagAttributes);
  }
  uint8_t kind = KindOf(ATagName);
  if (kind == kSkip && parentIsDeclaration) kind = kContainer;  // a part's document element
  const uint8_t parent = FOpen.empty() ? uint8_t{kContainer} : FOpen.back().Kind;

  if (parent == kRunProperties) {
    if (kind == kVanish && IsOn(ATagAttributes)) IsHiddenText = true;
    return;
  }
  const bool html = FTextFormating == tfHTML;
  const bool rtf = FTextFormating == tfRTF;
  switch (kind) {
    case kSkip:
    case kVanish:
      return;
    case kContainer:
      break;
    case kParagraph:
      BeginParagraph();
      break;
    case kRun:
      IsHiddenText = false;
      break;
    case kRunProperties:
      // With hidden text requested the run properties are not looked at.
      if (parent != kRun || FParseItems.Contains(wpiHiddenText)) return;
      break;
    case kText:
      if (TextVisible()) AppendDocumentText(ATagValue);
      return;
    case kTab:
      if (TextVisible()) AppendMarkup(rtf ? u"\\tab " : html ? u"&#9;" : u"\t");
      return;
    case kBreak:
      // Page and column breaks give no text.
      if (TextVisible() && !HasAttributeValue(ATagAttributes, u"type", u"page") &&
          !HasAttributeValue(ATagAttributes, u"type", u"column"))
        AppendLineBreak();
      return;
    case kCarriageReturn:
      if (TextVisible()) AppendLineBreak();
      return;
    case kNoBreakHyphen:
      if (TextVisible()) AppendMarkup(u"-");
      return;
    case kSoftHyphen:
      return;
    case kSymbol:
      if (TextVisible()) AppendSymbol(ATagAttributes);
      return;
    case kFootnoteReference:
    case kEndnoteReference:
      if (TextVisible()) AppendNoteReference(kind == kEndnoteReference, ATagAttributes);
      return;
    case kFootnoteMark:
    case kEndnoteMark:
      if (TextVisible()) AppendDocumentText(FCurrentNoteMark);
      return;
    case kDeleted:
      AppendMarkup(html ? u"<s>" : u"-");
      break;
    case kInserted:
      AppendMarkup(html ? u"<u>" : u"+");
      break;
    case kTable:
      if (html) EmitLine(u"<table border=\"1\">");
      break;
    case kRow:
      if (html) EmitLine(u"  <tr>");
      break;
    case kCell:
      if (html) EmitLine(u"    <td>");
      break;
    case kFootnote:
    case kEndnote: {
      // Separator lines are layout, not notes.
      WideString type;
      if (FindAttribute(ATagAttributes, u"type", type) &&
          (type == u"separator" || type == u"continuationSeparator" || type == u"continuationNotice"))
        return;
      BeginNote(kind == kEndnote, ATagAttributes);
      break;
    }
    case kAlternateContent:
      break;
    case kChoice:
    case kFallback: {
      // One branch of the alternatives: the first choice whose required
      // namespaces are understood, else the fallback. Never both, so that
      // a text box is not read twice.
      if (parent != kAlternateContent || FOpen.back().ChoiceTaken) return;
      if (kind == kChoice) {
        WideString required;
        FindAttribute(ATagAttributes, u"Requires", required);
        bool understood = true;
        size_t i = 0;
        while (understood && i < required.size()) {
          while (i < required.size() && IsBlank(required[i])) ++i;
          size_t start = i;
          while (i < required.size() && !IsBlank(required[i])) ++i;
          if (i == start) break;
          std::u16string_view p = std::u16string_view(required).substr(start, i - start);
          auto it = FPrefixes.find(WideString(p));
          if (it != FPrefixes.end()) p = it->second;
          understood = false;
          for (auto known : kUnderstoodPrefixes)
            if (p == known) understood = true;
        }
        if (!understood) return;
      }
      FOpen.back().ChoiceTaken = true;
      break;
    }
  }
  Accept = true;
  FOpen.push_back({kind, false});
}

void TMSWordXDocument::DeleteRowTag(TObject*, TLKXMLItem*& Node, bool& Cancel) {
  if (!Node || (FEngine && Node == FEngine->RootItem())) return;
  if (!FOpen.empty()) {
    uint8_t kind = FOpen.back().Kind;
    FOpen.pop_back();
    EndElement(kind);
  }
  // Rendered elements are not needed any more; freeing them keeps the tree
  // as small as the nesting.
  delete Node;
  Node = nullptr;
  if (IsCancelExtract) Cancel = true;
}

void TMSWordXDocument::EndElement(uint8_t Kind) {
  const bool html = FTextFormating == tfHTML;
  switch (Kind) {
    case kParagraph:
      EndParagraph();
      break;
    case kDeleted:
      if (html) AppendMarkup(u"</s>");
      break;
    case kInserted:
      if (html) AppendMarkup(u"</u>");
      break;
    case kTable:
      if (html) EmitLine(u"</table>");
      break;
    case kRow:
      if (html) EmitLine(u"  </tr>");
      break;
    case kCell:
      if (html) EmitLine(u"    </td>");
      break;
    case kFootnote:
    case kEndnote:
      FCurrentNoteMark.clear();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Paragraphs and lines

void TMSWordXDocument::BeginParagraph() {
  if (FParagraphDepth > 0) {
    // A text box's paragraph inside the paragraph that anchors it.
    FOuterLines.push_back(std::move(FCurrentTextLine));
  } else if (!FCurrentTextLine.empty()) {
    // Runs outside any paragraph still give their text.
    AddText(std::exchange(FCurrentTextLine, WideString()), *FcurList);
  }
  FCurrentTextLine.clear();
  if (FTextFormating == tfHTML) FCurrentTextLine = u"<p>";
  ++FParagraphDepth;
}

void TMSWordXDocument::EndParagraph() {
  if (FParagraphDepth == 0) return;
  if (FTextFormating == tfHTML)
    FCurrentTextLine += u"</p>";
  else if (FTextFormating == tfRTF)
    FCurrentTextLine += u"\\par";
  WideString line = std::move(FCurrentTextLine);
  FCurrentTextLine.clear();
  if (--FParagraphDepth > 0) {
    FCurrentTextLine = std::move(FOuterLines.back());
    FOuterLines.pop_back();
    FHeldLines.push_back(std::move(line));
    return;
  }
  AddText(line, *FcurList);
  for (const WideString& held : FHeldLines) AddText(held, *FcurList);
  FHeldLines.clear();
}

void TMSWordXDocument::EmitLine(WideString Line) {
  if (FParagraphDepth > 0)
    FHeldLines.push_back(std::move(Line));
  else
    AddText(Line, *FcurList);
}

void TMSWordXDocument::AppendDocumentText(std::u16string_view Raw) {
  if (Raw.find(u'&') == std::u16string_view::npos) {
    AppendEscaped(FCurrentTextLine, Raw, FTextFormating);
  } else if (FTextFormating == tfPlainText) {
    AppendHTMLChars(FCurrentTextLine, Raw);
  } else {
    WideString decoded;
    AppendHTMLChars(decoded, Raw);
    AppendEscaped(FCurrentTextLine, decoded, FTextFormating);
  }
}

void TMSWordXDocument::AppendLineBreak() {
  AppendMarkup(FTextFormating == tfRTF ? u"\\line " : FTextFormating == tfHTML ? u"<br>" : u"\r\n");
}

void TMSWordXDocument::AppendSymbol(std::u16string_view Attributes) {
  WideString font, hex;
  uint32_t code = 0;
  if (!FindAttribute(Attributes, u"char", hex) || !ParseHex(hex, code)) return;
  FindAttribute(Attributes, u"font", font);
  const bool symbolFont = CompareTextIgnoreCase(font, u"Symbol") == 0;
  auto fromSymbolFont = [](uint32_t b) { return b >= 0x20 && b <= 0xFF ? kSymbolFont[b - 0x20] : char16_t{0}; };
  // Symbol fonts' characters are written in the private range F000-F0FF or
  // as single bytes; of those fonts only Symbol has a Unicode mapping here.
  char16_t c = 0;
  if (code >= 0xF000 && code <= 0xF0FF) {
    if (symbolFont) c = fromSymbolFont(code - 0xF000);
  } else if (code <= 0xFF && (symbolFont || IsPictureFont(font))) {
    if (symbolFont) c = fromSymbolFont(code);
  } else if (code <= 0xFFFF && !(code >= 0xE000 && code <= 0xF8FF)) {
    c = static_cast<char16_t>(code);
  }
  if (c == 0) return;
  AppendEscaped(FCurrentTextLine, std::u16string_view(&c, 1), FTextFormating);
}

// ---------------------------------------------------------------------------
// Notes

WideString TMSWordXDocument::NoteMark(int Number, bool Endnote) const {
  WideString out;
  switch (Endnote ? FEndnoteNumbering : FFootnoteNumbering) {
    case nnLowerRoman:
    case nnUpperRoman:
      if (Number > 0 && Number < 4000) {
        AppendRoman(out, Number, (Endnote ? FEndnoteNumbering : FFootnoteNumbering) == nnUpperRoman);
        return out;
      }
      break;
    case nnLowerLetter:
    case nnUpperLetter:
      if (Number > 0 && Number <= 26 * 20) {
        char16_t base = (Endnote ? FEndnoteNumbering : FFootnoteNumbering) == nnUpperLetter ? u'A' : u'a';
        out.assign(static_cast<size_t>((Number - 1) / 26 + 1), static_cast<char16_t>(base + (Number - 1) % 26));
        return out;
      }
      break;
    case nnDecimal:
      break;
  }
  return AsciiToWide(std::to_string(Number));
}

void TMSWordXDocument::AppendNoteReference(bool Endnote, std::u16string_view Attributes) {
  WideString flag;
  // A custom mark is the text that follows the reference.
  if (FindAttribute(Attributes, u"customMarkFollows", flag) && (flag == u"1" || flag == u"true" || flag == u"on"))
    return;
  int& count = Endnote ? FEndnoteCount : FFootnoteCount;
  auto& numbers = Endnote ? FEndnoteNumbers : FFootnoteNumbers;
  const int number = ++count;
  WideString id;
  if (FindAttribute(Attributes, u"id", id)) numbers.emplace(std::move(id), number);
  AppendDocumentText(NoteMark(number, Endnote));
}

void TMSWordXDocument::BeginNote(bool Endnote, std::u16string_view Attributes) {
  auto& numbers = Endnote ? FEndnoteNumbers : FFootnoteNumbers;
  WideString id;
  FindAttribute(Attributes, u"id", id);
  auto it = numbers.find(id);
  int number;
  if (it != numbers.end()) {
    number = it->second;
  } else {
    // A note the body does not reference: numbered after the others.
    int& count = Endnote ? FEndnoteCount : FFootnoteCount;
    number = ++count;
  }
  FCurrentNoteMark = NoteMark(number, Endnote);
}

}  // namespace lkw
