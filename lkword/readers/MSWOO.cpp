#include "lkword/readers/MSWOO.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipFile.h"
#include "lkword/containers/LKWZipPart.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/framework/SymbolFonts.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const SNotOpenDocument = "Not a valid OpenDocument package";
const char* const SNoContent = "The OpenDocument package has no content.xml";
// Bytes of a large content part inflated at a time.
constexpr size_t kContentPiece = size_t{128} << 10;

// Leading decimal digits as a number, saturating at Max; -1 without digits.
int64_t LeadingNumber(std::u16string_view s, int64_t Max) {
  if (s.empty() || !IsAsciiDigit(s[0])) return -1;
  int64_t v = 0;
  for (char16_t c : s) {
    if (!IsAsciiDigit(c)) break;
    v = std::min<int64_t>(v * 10 + (c - u'0'), Max);
  }
  return v;
}

// A whole decimal text (blanks around allowed) as an int32; Default else.
int32_t ParseInt32(std::u16string_view s, int32_t Default) {
  s = TrimAsciiBlanks(s);
  if (s.empty() || s.size() > 10) return Default;
  int64_t v = 0;
  for (char16_t c : s) {
    if (!IsAsciiDigit(c)) return Default;
    v = v * 10 + (c - u'0');
  }
  return v > std::numeric_limits<int32_t>::max() ? Default : static_cast<int32_t>(v);
}

// Pre-order walk without recursion; F returns false to stop.
template <typename F>
void ForEachNode(TLKXMLItem* Root, F f) {
  if (!Root) return;
  std::vector<std::pair<TLKXMLItem*, int>> stack;
  if (!f(Root)) return;
  stack.emplace_back(Root, 0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->Items().Count()) {
      stack.pop_back();
      continue;
    }
    TLKXMLItem* child = node->Items()[next++];
    if (!f(child)) return;
    if (child->Items().Count() > 0) stack.emplace_back(child, 0);
  }
}

// The local part of a prefixed name ("style:name" -> "name").
std::u16string_view LocalName(std::u16string_view Tag) {
  size_t colon = Tag.find(u':');
  return colon == std::u16string_view::npos ? Tag : Tag.substr(colon + 1);
}

// A font size as whole points: a length in pt, pc, in, cm, mm or px (a
// bare number is points). Relative sizes ("120%") and text without digits
// say nothing about points.
bool FontSizeInPoints(std::u16string_view Value, int& Points) {
  Value = TrimAsciiBlanks(Value);
  size_t i = 0;
  double n = 0;
  bool digits = false;
  for (; i < Value.size() && IsAsciiDigit(Value[i]); ++i, digits = true) n = std::min(n * 10 + (Value[i] - u'0'), 1e6);
  if (i < Value.size() && Value[i] == u'.') {
    double scale = 0.1;
    for (++i; i < Value.size() && IsAsciiDigit(Value[i]); ++i, digits = true, scale /= 10)
      n += (Value[i] - u'0') * scale;
  }
  if (!digits) return false;
  const std::u16string_view unit = Value.substr(i);
  double perUnit;
  if (unit.empty() || unit == u"pt")
    perUnit = 1;
  else if (unit == u"pc")
    perUnit = 12;
  else if (unit == u"in")
    perUnit = 72;
  else if (unit == u"cm")
    perUnit = 72 / 2.54;
  else if (unit == u"mm")
    perUnit = 72 / 25.4;
  else if (unit == u"px")
    perUnit = 0.75;
  else
    return false;
  Points = static_cast<int>(std::min(n * perUnit, 10000.0) + 1e-9);
  return true;
}

void ApplyTextAlign(TOOStyleText& S, std::u16string_view Value) {
  if (Value == u"end" || Value == u"right")
    S.SetAlignment(ooaRight);
  else if (Value == u"center")
    S.SetAlignment(ooaCenter);
  else if (!Value.empty())
    S.SetAlignment(ooaLeft);
}

void ReadTextProperties(TOOStyleText& S, const TLKXMLItem& P) {
  TOOFont& font = S.TextFont();
  WideString v;
  if (P.FindAttribute(u"fo:text-align", v)) ApplyTextAlign(S, v);
  if (P.FindAttribute(u"fo:font-style", v) && (v == u"italic" || v == u"oblique")) font.Style.Include(oofsItalic);
  for (const char16_t* name : {u"style:text-underline-style", u"fo:text-underline-style"})
    if (P.FindAttribute(name, v) && !v.empty() && v != u"none") font.Style.Include(oofsUnderline);
  if (P.FindAttribute(u"fo:font-weight", v)) {
    const int64_t weight = LeadingNumber(v, 1000);
    if (v == u"bold" || weight >= 600) font.Style.Include(oofsBold);
  }
  TOOColor c = 0;
  if (P.FindAttribute(u"fo:color", v) && ParseOOHexColor(TrimAsciiBlanks(v), c)) font.Color = c;
  if (P.FindAttribute(u"fo:background-color", v) && ParseOOHexColor(TrimAsciiBlanks(v), c)) S.SetColor(c);
  int size = 0;
  if (P.FindAttribute(u"fo:font-size", v) && FontSizeInPoints(v, size)) font.Size = size;
}

// "rect(top, right, bottom, left)" lengths, units dropped and fractions
// truncated; kept as left = first, top = second, right = first + third,
// bottom = second + fourth.
TOORect ParseClip(std::u16string_view Value) {
  TOORect r;
  Value = TrimAsciiBlanks(Value);
  if (Value.substr(0, 5) != u"rect(") return r;
  Value.remove_prefix(5);
  if (!Value.empty() && Value.back() == u')') Value.remove_suffix(1);
  int32_t n[4] = {0, 0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (i < Value.size() && count < 4) {
    while (i < Value.size() && (IsAsciiBlank(Value[i]) || Value[i] == u',')) ++i;
    if (i >= Value.size()) break;
    bool negative = Value[i] == u'-';
    if (Value[i] == u'-' || Value[i] == u'+') ++i;
    int64_t v = 0;
    while (i < Value.size() && IsAsciiDigit(Value[i])) v = std::min<int64_t>(v * 10 + (Value[i++] - u'0'), 1000000);
    n[count++] = static_cast<int32_t>(negative ? -v : v);
    while (i < Value.size() && !IsAsciiBlank(Value[i]) && Value[i] != u',') ++i;  // fraction and unit
  }
  r.Left = n[0];
  r.Top = n[1];
  r.Right = n[0] + n[2];
  r.Bottom = n[1] + n[3];
  return r;
}

// Saturating arithmetic for durations; no real duration comes near it.
constexpr int64_t kMaxSeconds = int64_t{1} << 50;

WideString NodeText(const TLKXMLItem* N) {
  WideString t = N->Text();
  std::u16string_view v = TrimAsciiBlanks(t);
  return WideString(v);
}

TOpenDocumentKind KindFromContent(std::string_view Content) {
  size_t body = Content.find("<office:body");
  if (body == std::string_view::npos) return odkNone;
  size_t tag = Content.find("<office:", body + 1);
  if (tag == std::string_view::npos) return odkNone;
  std::string_view rest = Content.substr(tag + 8);
  auto is = [&](std::string_view name) {
    return rest.starts_with(name) && rest.size() > name.size() &&
           (rest[name.size()] == '>' || rest[name.size()] == '/' || IsAsciiBlank(rest[name.size()]));
  };
  if (is("text")) return odkText;
  if (is("spreadsheet")) return odkSpreadsheet;
  if (is("presentation")) return odkPresentation;
  return odkNone;
}

// How much of a file the flat-document test looks at: the root element's
// start tag, with its many namespace declarations, comes first.
constexpr int64_t kFlatSniffBytes = 16384;

// The media type a flat (single XML file) OpenDocument names on its root
// element, <office:document office:mimetype="...">; empty when Head does not
// start with such an element.
std::string_view FlatDocumentMimeType(std::string_view Head) {
  if (Head.starts_with("\xEF\xBB\xBF")) Head.remove_prefix(3);
  for (;;) {
    while (!Head.empty() && IsAsciiBlank(Head.front())) Head.remove_prefix(1);
    std::string_view end;
    if (Head.starts_with("<?")) end = "?>";
    else if (Head.starts_with("<!--")) end = "-->";
    else if (Head.starts_with("<!")) end = ">";
    else break;
    const size_t close = Head.find(end);
    if (close == std::string_view::npos) return {};
    Head.remove_prefix(close + end.size());
  }
  constexpr std::string_view kRoot = "<office:document";
  if (!Head.starts_with(kRoot) || Head.size() <= kRoot.size() ||
      (!IsAsciiBlank(Head[kRoot.size()]) && Head[kRoot.size()] != '>'))
    return {};
  const std::string_view tag = Head.substr(0, Head.find('>'));
  if (tag.size() == Head.size()) return {};  // the start tag does not end within Head
  for (size_t at = tag.find("office:mimetype"); at != std::string_view::npos;
       at = tag.find("office:mimetype", at + 1)) {
    if (!IsAsciiBlank(tag[at - 1])) continue;
    size_t v = at + 15;
    while (v < tag.size() && IsAsciiBlank(tag[v])) ++v;
    if (v >= tag.size() || tag[v] != '=') continue;
    ++v;
    while (v < tag.size() && IsAsciiBlank(tag[v])) ++v;
    if (v >= tag.size() || (tag[v] != '"' && tag[v] != '\'')) continue;
    const size_t close = tag.find(tag[v], v + 1);
    if (close == std::string_view::npos) return {};
    return tag.substr(v + 1, close - v - 1);
  }
  return {};
}

// The first element Name of a flat document, from its start tag through its
// end tag; empty when either is missing.
std::string_view FlatElement(std::string_view Document, std::string_view Name) {
  std::string open = "<";
  open += Name;
  size_t start = Document.find(open);
  while (start != std::string_view::npos && start + open.size() < Document.size() &&
         Document[start + open.size()] != '>' && !IsAsciiBlank(Document[start + open.size()]))
    start = Document.find(open, start + 1);
  if (start == std::string_view::npos) return {};
  std::string close = "</";
  close += Name;
  close += '>';
  const size_t end = Document.find(close, start);
  if (end == std::string_view::npos) return {};
  return Document.substr(start, end + close.size() - start);
}

// The bullets of the picture fonts that lists use most, by their code in
// the font; 0 for others.
char16_t PictureFontBullet(std::u16string_view Font, char16_t Code) {
  if (!Font.starts_with(u"Wingdings")) return 0;
  switch (Code & 0xFF) {
    case 0x6C: return u'\u25CF';  // black circle
    case 0x6E: return u'\u25A0';  // black square
    case 0x71: return u'\u2751';  // shadowed square
    case 0x75: return u'\u25C6';  // black diamond
    case 0x76: return u'\u2756';  // diamond with a cross
    case 0x77: return u'\u2B25';  // small diamond
    case 0x9F: return u'\u2022';
    case 0xA7: return u'\u25AA';  // small square
    case 0xD8: return u'\u27A2';  // arrowhead
    case 0xE0: return u'\u27A4';
    case 0xFC: return u'\u2713';  // check mark
    default: return 0;
  }
}

// A list level's bullet in Unicode: a symbol font's private code as the
// character it shows, any other private or control code as a plain bullet.
WideString BulletText(std::u16string_view Char, std::u16string_view Font) {
  if (Char.empty()) return u"\u2022";
  const char16_t c = Char[0];
  if (c < 0x20 || (c >= 0xE000 && c <= 0xF8FF)) {
    char16_t mapped = SymbolCharacter(Font, c);
    if (!mapped) mapped = PictureFontBullet(Font, c);
    return WideString(1, mapped ? mapped : u'\u2022');
  }
  return WideString(Char.substr(0, Char.size() > 1 && c >= 0xD800 && c <= 0xDBFF ? 2 : 1));
}

// The label parts of a list-level or outline-level style element.
void ReadListLevel(const TLKXMLItem& E, TOOListLevel& L) {
  const std::u16string_view tag = E.TagName();
  if (tag == u"text:list-level-style-bullet") {
    L.Kind = TOOListLevel::TKind::Bullet;
    WideString font;
    for (int i = 0; i < E.Items().Count(); ++i) {
      const TLKXMLItem* p = E.Items()[i];
      if (p->Kind() == ikProperty && p->TagName() == u"style:text-properties" &&
          !p->FindAttribute(u"style:font-name", font))
        p->FindAttribute(u"fo:font-family", font);
    }
    L.Bullet = BulletText(E.AttributeValue(u"text:bullet-char"), TrimAsciiBlanks(font));
    L.Prefix = E.AttributeValue(u"style:num-prefix");
    L.Suffix = E.AttributeValue(u"style:num-suffix");
    return;
  }
  if (tag == u"text:list-level-style-image") {
    L.Kind = TOOListLevel::TKind::Image;
    L.Bullet.assign(1, u'\u2022');
    return;
  }
  L.Kind = TOOListLevel::TKind::Number;
  L.Format = ListNumberFormat(E.AttributeValue(u"style:num-format"));
  L.Prefix = E.AttributeValue(u"style:num-prefix");
  L.Suffix = E.AttributeValue(u"style:num-suffix");
  // Bounded so that counting on from it cannot overflow.
  L.Start = std::max<int64_t>(LeadingNumber(E.AttributeValue(u"text:start-value"), int64_t{1} << 40), 0);
  if (L.Start == 0 && E.AttributeValue(u"text:start-value").empty()) L.Start = 1;
  L.DisplayLevels = static_cast<int>(std::clamp<int64_t>(
      LeadingNumber(E.AttributeValue(u"text:display-levels"), kOOListLevels), 1, kOOListLevels));
}

void ReadListLevels(const TLKXMLItem& Style, TOOListStyle& Out) {
  for (int i = 0; i < Style.Items().Count(); ++i) {
    const TLKXMLItem* e = Style.Items()[i];
    if (e->Kind() != ikProperty) continue;
    const std::u16string_view tag = e->TagName();
    if (!tag.starts_with(u"text:list-level-style-") && tag != u"text:outline-level-style") continue;
    const int64_t level = LeadingNumber(e->AttributeValue(u"text:level"), 1000);
    if (level < 1 || level > kOOListLevels) continue;
    ReadListLevel(*e, Out.Levels[level - 1]);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

bool ParseOOHexColor(std::u16string_view Value, TOOColor& Color) {
  if (Value.size() != 7 || Value[0] != u'#') return false;
  uint32_t rgb[3];
  for (int i = 0; i < 3; ++i) {
    const int hi = HexDigitValue(Value[1 + 2 * i]), lo = HexDigitValue(Value[2 + 2 * i]);
    if (hi < 0 || lo < 0) return false;
    rgb[i] = static_cast<uint32_t>(hi * 16 + lo);
  }
  Color = rgb[0] | (rgb[1] << 8) | (rgb[2] << 16);
  return true;
}

int64_t ParseOODuration(std::u16string_view Value) {
  Value = TrimAsciiBlanks(Value);
  if (Value.empty() || Value[0] != u'P') return 0;
  size_t i = 1;
  bool timePart = false, any = false;
  int64_t total = 0;
  while (i < Value.size()) {
    if (Value[i] == u'T' && !timePart) {
      timePart = true;
      ++i;
      continue;
    }
    if (!IsAsciiDigit(Value[i])) return 0;
    int64_t n = 0;
    while (i < Value.size() && IsAsciiDigit(Value[i])) n = std::min(n * 10 + (Value[i++] - u'0'), kMaxSeconds);
    if (i < Value.size() && (Value[i] == u'.' || Value[i] == u',')) {
      ++i;  // a fraction: truncated
      while (i < Value.size() && IsAsciiDigit(Value[i])) ++i;
    }
    if (i >= Value.size()) return 0;
    int64_t unit;
    switch (Value[i++]) {
      case u'Y': unit = timePart ? 0 : 365 * 86400; break;
      case u'M': unit = timePart ? 60 : 30 * 86400; break;
      case u'W': unit = timePart ? 0 : 7 * 86400; break;
      case u'D': unit = timePart ? 0 : 86400; break;
      case u'H': unit = timePart ? 3600 : 0; break;
      case u'S': unit = timePart ? 1 : 0; break;
      default: unit = 0;
    }
    if (unit == 0) return 0;
    total = std::min(total + std::min(n, kMaxSeconds / unit) * unit, kMaxSeconds);
    any = true;
  }
  return any ? total : 0;
}

TDateTime ParseOODateTime(std::u16string_view Value) {
  Value = TrimAsciiBlanks(Value);
  bool ok = true;
  auto num = [&](size_t pos, size_t len) {
    int v = 0;
    if (pos + len > Value.size()) {
      ok = false;
      return 0;
    }
    for (size_t i = pos; i < pos + len; ++i) {
      if (!IsAsciiDigit(Value[i])) ok = false;
      v = v * 10 + (Value[i] - u'0');
    }
    return v;
  };
  auto at = [&](size_t pos, char16_t c) { return pos < Value.size() && Value[pos] == c; };
  const int year = num(0, 4), month = num(5, 2), day = num(8, 2);
  if (!ok || !at(4, u'-') || !at(7, u'-')) return 0;
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date)) return 0;
  if (Value.size() == 10) return date;  // a date alone names a day, not an instant
  if (!at(10, u'T') || !at(13, u':') || !at(16, u':')) return 0;
  const int hour = num(11, 2), minute = num(14, 2);
  int second = num(17, 2);
  if (!ok) return 0;
  size_t i = 19;
  int msec = 0;
  if (at(i, u'.') || at(i, u',')) {
    ++i;
    int digits = 0;
    while (i < Value.size() && IsAsciiDigit(Value[i])) {
      if (digits < 3) msec = msec * 10 + (Value[i] - u'0');
      ++digits;
      ++i;
    }
    for (; digits < 3; ++digits) msec *= 10;
  }
  int offsetMinutes = 0;
  if (at(i, u'Z')) {
    ++i;
  } else if (at(i, u'+') || at(i, u'-')) {
    const int sign = Value[i] == u'-' ? -1 : 1;
    const int oh = num(i + 1, 2);
    size_t m = at(i + 3, u':') ? i + 4 : i + 3;
    const int om = num(m, 2);
    if (!ok || oh > 23 || om > 59) return 0;
    offsetMinutes = sign * (oh * 60 + om);
    i = m + 2;
  }
  if (i != Value.size()) return 0;
  if (second == 60) second = 59;  // a leap second
  TDateTime time = 0;
  if (!TryEncodeTime(hour, minute, second, msec, time)) return 0;
  return UTCToLocal(date + time - offsetMinutes / 1440.0);
}

TOpenDocumentKind OpenDocumentKindFromMimeType(std::string_view MimeType) {
  while (!MimeType.empty() && static_cast<unsigned char>(MimeType.back()) <= ' ') MimeType.remove_suffix(1);
  constexpr std::string_view prefix = "application/vnd.oasis.opendocument.";
  if (!MimeType.starts_with(prefix)) return odkNone;
  std::string_view kind = MimeType.substr(prefix.size());
  if (kind == "text" || kind == "text-template" || kind == "text-master" || kind == "text-master-template" ||
      kind == "text-web")
    return odkText;
  if (kind == "spreadsheet" || kind == "spreadsheet-template") return odkSpreadsheet;
  if (kind == "presentation" || kind == "presentation-template") return odkPresentation;
  return odkNone;
}

TOpenDocumentKind DetectOpenDocument(TStream& Stream) {
  // Packages start with an uncompressed "mimetype" member: look at it in
  // place before loading the whole archive.
  const int64_t start = Stream.Position();
  uint8_t head[30 + 8 + 80] = {};
  const int64_t got = Stream.Read(head, sizeof head);
  if (got < 4 || std::memcmp(head, "PK\x03\x04", 4) != 0) {
    // A flat document is XML: only what starts like it is looked at further.
    int64_t k = got >= 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (k < got && IsAsciiBlank(static_cast<char>(head[k]))) ++k;
    if (k >= got || head[k] != '<') return odkNone;
    Stream.Seek(start, soBeginning);
    return OpenDocumentKindFromMimeType(FlatDocumentMimeType(Stream.ReadBytes(kFlatSniffBytes)));
  }
  const uint32_t method = LoadLE16(head + 8), nameLen = LoadLE16(head + 26), extraLen = LoadLE16(head + 28);
  const uint32_t size = LoadLE32(head + 18);
  // A package that names its type this way (EPUB does too) is taken at its
  // word.
  if (method == 0 && nameLen == 8 && extraLen == 0 && std::memcmp(head + 30, "mimetype", 8) == 0 && size > 0 &&
      size <= 80 && got >= 38 + static_cast<int64_t>(size))
    return OpenDocumentKindFromMimeType(std::string_view(reinterpret_cast<const char*>(head + 38), size));
  try {
    Stream.Seek(start, soBeginning);
    TZipArchive zip;
    zip.SetMaxMemberSize(int64_t{256} << 20);
    zip.LoadFromStream(Stream);
    int i = zip.GetIndexByFileName("mimetype");
    if (i >= 0 && zip.Files()[i].CentralCommonFileHeader().UncompressedSize <= 256) {
      TOpenDocumentKind k = OpenDocumentKindFromMimeType(zip.GetUncompressed(i));
      if (k != odkNone) return k;
    }
    i = zip.GetIndexByFileName("META-INF/manifest.xml");
    if (i >= 0) {
      TLKXMLEngine e;
      e.LoadFromBytes(zip.GetUncompressed(i));
      TOpenDocumentKind k = odkNone;
      ForEachNode(e.RootItem(), [&](TLKXMLItem* n) {
        if (n->Kind() == ikProperty && LocalName(n->TagName()) == u"file-entry" &&
            n->AttributeValue(u"manifest:full-path") == u"/") {
          k = OpenDocumentKindFromMimeType(WideToUtf8(n->AttributeValue(u"manifest:media-type")));
          return false;
        }
        return true;
      });
      if (k != odkNone) return k;
    }
    i = zip.GetIndexByFileName("content.xml");
    if (i >= 0) return KindFromContent(zip.GetUncompressed(i));
  } catch (const Exception&) {
  }
  return odkNone;
}

// ---------------------------------------------------------------------------
// Styles

void TOOStyles::ClearStyles() {
  FByName.clear();
  while (!FList.empty()) FList.pop_back();
}

TOOStyle* TOOStyles::GetStyle(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return nullptr;
  return FList[static_cast<size_t>(AIndex)].get();
}

TOOStyle* TOOStyles::FindByStyleName(const WideString& AStyleName) const {
  auto it = FByName.find(AStyleName);
  return it == FByName.end() ? nullptr : it->second;
}

TOOStyle* TOOStyles::Add(std::unique_ptr<TOOStyle> AStyle) {
  TOOStyle* s = AStyle.get();
  FList.push_back(std::move(AStyle));
  FByName.emplace(s->StyleName(), s);
  return s;
}

// ---------------------------------------------------------------------------
// Documents

TCustomOpenOfficeDocument::TCustomOpenOfficeDocument(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TCustomOpenOfficeDocument::~TCustomOpenOfficeDocument() = default;

TOpenOfficeTextDocument::TOpenOfficeTextDocument(TComponent* AOwner) : TCustomOpenOfficeDocument(AOwner) {
  FXMLTagText = u"office:text";
}

TOpenOfficeSpreadsheet::TOpenOfficeSpreadsheet(TComponent* AOwner) : TCustomOpenOfficeDocument(AOwner) {
  FXMLTagText = u"office:spreadsheet";
}

TOpenOfficePresentation::TOpenOfficePresentation(TComponent* AOwner) : TCustomOpenOfficeDocument(AOwner) {
  FXMLTagText = u"office:presentation";
}

void TCustomOpenOfficeDocument::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  FStyles.ClearStyles();
  FListStyles.clear();
  FParagraphLists.clear();
  FOutlineStyle = TOOListStyle();
  FHeaderText.Clear();
  FFooterText.Clear();
  FDeclarations.clear();
  FPasswordProtected = false;
  FEncrypted.clear();
}

void TCustomOpenOfficeDocument::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  const bool wantText = FParseItems.Contains(wpiText);
  if (wantText) {
    // What a sink gets is gone: the text is held back from it until the
    // content is known to be readable.
    Output().Checkpoint();
    Output().BeginDocument();
  }
  if (!StreamIsZipArchive(Stream)) {
    LoadFlatDocument(Stream, wantText);
    return;
  }
  TZipArchive zip;
  zip.SetMaxMemberSize(std::min(FMaxStreamSize, FMaxDecompressedSize));
  zip.LoadFromStream(Stream);
  if (zip.Count() == 0) throw ECorruptError(SNotOpenDocument);
  if (zip.DirectoryRebuilt()) MarkPartial(SZipDirectoryRebuilt);
  CheckEncryption(zip);
  if (FParseItems.Contains(wpiSummaryInformation)) ReadPackageMetadata(zip);
  if (!wantText) return;
  const RawByteString styles = ReadPackageStyles(zip);
  FPackage = &zip;
  FObjectFolder.clear();
  FObjectDepth = 0;
  FObjectBytes = 0;
  try {
    ReadPackageContent(zip);
  } catch (...) {
    FPackage = nullptr;
    throw;
  }
  FPackage = nullptr;
  if (FReadHeadersFooters && FXMLTagText == u"office:text") ReadPackageMasterPages(styles);
  TellDeclarations();
  Output().EndDocument();
} catch (...) {
  RethrowAsException();
}

namespace {

// Read(); a member the zip reader finds encrypted means a password-protected
// document.
template <typename F>
auto Unlocked(bool& PasswordProtected, F&& Read) -> decltype(Read()) {
  try {
    return Read();
  } catch (const EZipFileError& e) {
    if (e.Kind() != TZipErrorKind::zeEncrypted) throw;
    PasswordProtected = true;
    throw EPasswordError(SPasswordProtected);
  }
}

}  // namespace

RawByteString TCustomOpenOfficeDocument::ExtractUnlocked(const TZipArchive& Zip, int Index) {
  return Unlocked(FPasswordProtected, [&] { return Extract(Zip, Index); });
}

bool TCustomOpenOfficeDocument::LoadObjectContent(std::u16string_view Href, TLKXMLEngine& Engine) {
  if (!FPackage) return false;
  std::string path = WideToUtf8(Href);
  if (path.starts_with("./")) path.erase(0, 2);
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty() || path.front() == '/' || path.find(':') != std::string::npos || path.starts_with("../")) return false;
  path = FObjectFolder + path;
  const int index = FPackage->GetIndexByFileName(path + "/content.xml");
  if (index < 0) return false;
  if (FObjectDepth >= kMaxObjectDepth) {
    MarkPartial("objects embedded too deep into each other were not read");
    return false;
  }
  // One object may be shown any number of times: all that its showings
  // inflate counts against the limit.
  const int64_t declared = FPackage->Files()[index].DeclaredSize();
  if (FObjectBytes + declared > FMaxDecompressedSize) {
    MarkPartial("embedded objects beyond the decompression limit were not read");
    return false;
  }
  RawByteString bytes;
  try {
    bytes = ExtractUnlocked(*FPackage, index);
  } catch (const Exception& e) {
    if (FPasswordProtected) throw;
    AddWarning("the embedded object " + path + " could not be read: " + e.what());
    return false;
  }
  FObjectBytes += std::max<int64_t>(declared, static_cast<int64_t>(bytes.size()));
  Engine.SetMaxDepth(FMaxNestingDepth);
  Engine.SetMaxNodes(FMaxXMLNodes);
  Engine.LoadFromBytes(bytes);
  if (Engine.NodeLimitReached()) AddWarning("the embedded object " + path + " was cut at the node limit");
  FObjectFolder = path + "/";
  return true;
}

void TCustomOpenOfficeDocument::ReadPackageMetadata(const TZipArchive& Zip) {
  const int meta = Zip.GetIndexByFileName("meta.xml");
  if (meta < 0) return;
  // The text does not depend on the metadata: a damaged meta.xml costs
  // only the metadata.
  try {
    ReadMetadata(ExtractUnlocked(Zip, meta));
  } catch (const Exception& e) {
    if (FPasswordProtected) throw;
    AddWarning(std::string("meta.xml could not be read: ") + e.what());
  }
}

void TCustomOpenOfficeDocument::ReadPackageContent(const TZipArchive& Zip) {
  const int content = Zip.GetIndexByFileName("content.xml");
  if (content < 0) throw ECorruptError(SNoContent);
  const int64_t declared = Zip.Files()[content].DeclaredSize();
  if (!FEncrypted.empty() || declared < FStreamContentFrom) {
    RawByteString bytes = ExtractUnlocked(Zip, content);
    Output().Release();
    LoadXMLBytes(std::move(bytes));
    return;
  }
  // A large content part is held only a piece at a time: a first pass
  // checks it (so that nothing is told from a part that turns out damaged),
  // the second parses it as it is inflated.
  const int64_t limit = std::min(FMaxStreamSize, FMaxDecompressedSize);
  auto open = [&] {
    return Unlocked(FPasswordProtected,
                    [&] { return std::make_unique<TPartSource>(Zip, content, limit, kContentPiece); });
  };
  {
    auto check = open();
    while (check->More(check->Data().size(), 0)) {
    }
    check->Finish();
  }
  auto source = open();
  Output().Release();
  LoadXMLSource(*source, declared);
}

RawByteString TCustomOpenOfficeDocument::ReadPackageStyles(const TZipArchive& Zip) {
  const int index = Zip.GetIndexByFileName("styles.xml");
  if (index < 0) return {};
  // Like the metadata, the styles are no part of the body: damage to them
  // costs only list numbers and the headers.
  try {
    RawByteString bytes = ExtractUnlocked(Zip, index);
    ReadListStylesOf(bytes);
    return bytes;
  } catch (const EPasswordError&) {
    throw;
  } catch (const Exception& e) {
    AddWarning(std::string("styles.xml could not be read: ") + e.what());
    return {};
  }
}

void TCustomOpenOfficeDocument::ReadListStylesOf(const RawByteString& Part) {
  // Only the style definitions are parsed, not the rest of the part.
  const std::string_view styles = FlatElement(Part, "office:styles");
  if (styles.empty()) return;
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  engine.SetMaxNodes(FMaxXMLNodes);
  engine.LoadFromBytes(RawByteString(styles));
  if (const TLKXMLItem* root = engine.GetItemByTag(nullptr, u"office:styles")) ReadListStyles(root);
}

void TCustomOpenOfficeDocument::ReadPackageMasterPages(const RawByteString& StylesPart) {
  // The master pages close the part, after the style definitions, which
  // are most of it: only their element is parsed.
  if (const std::string_view masters = FlatElement(StylesPart, "office:master-styles"); !masters.empty())
    ReadMasterPages(RawByteString(masters));
}

void TCustomOpenOfficeDocument::LoadFlatDocument(TStream& Stream, bool WantText) {
  const int64_t start = Stream.Position();
  if (FlatDocumentMimeType(Stream.ReadBytes(kFlatSniffBytes)).empty()) throw ECorruptError(SNotOpenDocument);
  Stream.Seek(start, soBeginning);
  const int64_t size = Stream.Size() - start;
  if (size > FMaxStreamSize) throw ELimitError("The document is larger than the stream size limit");
  RawByteString bytes = Stream.ReadBytes(size);
  // Pictures are held as base64 text, which would cost twice its size once
  // decoded and gives no text.
  DropElementContent(bytes, "binary-data");
  if (FParseItems.Contains(wpiSummaryInformation))
    if (const std::string_view meta = FlatElement(bytes, "office:meta"); !meta.empty()) ReadMetadata(RawByteString(meta));
  if (!WantText) return;
  RawByteString masters;
  if (FReadHeadersFooters && FXMLTagText == u"office:text") masters = FlatElement(bytes, "office:master-styles");
  ReadListStylesOf(bytes);
  Output().Release();
  LoadXMLBytes(std::move(bytes));
  if (!masters.empty()) ReadMasterPages(masters);
  TellDeclarations();
  Output().EndDocument();
}

void TCustomOpenOfficeDocument::CheckEncryption(const TZipArchive& Zip) {
  FEncrypted.clear();
  const int manifest = Zip.GetIndexByFileName("META-INF/manifest.xml");
  if (manifest < 0) return;
  RawByteString bytes;
  try {
    bytes = Zip.GetUncompressed(manifest);
  } catch (const Exception&) {
    return;  // a damaged manifest says nothing either way
  }
  TLKXMLEngine e;
  e.SetMaxDepth(FMaxNestingDepth);
  e.LoadFromBytes(bytes);
  auto read = [&](TLKXMLItem* Entry, TLKXMLItem* n) {
    FPasswordProtected = true;
    TOdfEncryptionData d;
    d.ChecksumType = n->AttributeValue(u"manifest:checksum-type");
    bool ok = Base64Decode(n->AttributeValue(u"manifest:checksum"), d.Checksum);
    for (int i = 0; i < n->Items().Count(); ++i) {
      TLKXMLItem* c = n->Items()[i];
      const std::u16string_view name = LocalName(c->TagName());
      if (name == u"algorithm") {
        d.Algorithm = c->AttributeValue(u"manifest:algorithm-name");
        ok &= Base64Decode(c->AttributeValue(u"manifest:initialisation-vector"), d.IV);
      } else if (name == u"key-derivation") {
        d.KeyDerivation = c->AttributeValue(u"manifest:key-derivation-name");
        ok &= Base64Decode(c->AttributeValue(u"manifest:salt"), d.Salt);
        d.Iterations = static_cast<uint32_t>(
            std::clamp<double>(StrToFloatDef(c->AttributeValue(u"manifest:iteration-count"), 0), 0, 4e9));
        const WideString size = c->AttributeValue(u"manifest:key-size");
        if (!size.empty()) d.KeySize = static_cast<uint32_t>(std::clamp<double>(StrToFloatDef(size, 0), 0, 4096));
      } else if (name == u"start-key-generation") {
        d.StartKeyAlgorithm = c->AttributeValue(u"manifest:start-key-generation-name");
      }
    }
    d.Damaged = !ok;
    if (const WideString size = Entry->AttributeValue(u"manifest:size"); !size.empty())
      d.Size = static_cast<int64_t>(std::clamp<double>(StrToFloatDef(size, -1), -1, 1e15));
    FEncrypted[WideToUtf8(Entry->AttributeValue(u"manifest:full-path"))] = std::move(d);
  };
  ForEachNode(e.RootItem(), [&](TLKXMLItem* n) {
    if (n->Kind() != ikProperty) return true;
    // Wherever it stands, encryption data means a protected package.
    if (LocalName(n->TagName()) == u"encryption-data") FPasswordProtected = true;
    if (LocalName(n->TagName()) != u"file-entry") return true;
    for (int i = 0; i < n->Items().Count(); ++i)
      if (TLKXMLItem* c = n->Items()[i]; c->Kind() == ikProperty && LocalName(c->TagName()) == u"encryption-data")
        read(n, c);
    return true;
  });
  if (FPasswordProtected && FPassword.empty()) throw EPasswordError(SPasswordProtected);
}

RawByteString TCustomOpenOfficeDocument::Extract(const TZipArchive& Zip, int Index) const {
  const std::string name = Zip.Files()[Index].ExtractionName();
  const auto found = FEncrypted.find(name);
  if (found == FEncrypted.end()) return Zip.GetUncompressed(Index);
  RawByteString plain;
  switch (DecryptOdfMember(found->second, FPassword, Zip.GetUncompressed(Index), plain, FMaxKeyIterations)) {
    case TOdfDecryptResult::Opened: break;
    case TOdfDecryptResult::WrongPassword: throw EPasswordError(SPasswordProtected);
    case TOdfDecryptResult::Unsupported: throw EEncryptionNotSupportedError(SEncryptionNotSupported);
  }
  RawByteString bytes = InflateRawData(plain, std::min(FMaxStreamSize, FMaxDecompressedSize), name);
  // No CRC covers the plain bytes; the manifest's size is what is left to
  // tell damage from text.
  if (found->second.Size >= 0 && static_cast<int64_t>(bytes.size()) != found->second.Size)
    throw EZipFileError(TZipErrorKind::zeCorruptData,
                        Format("Corrupt compressed data in \"%s\" (%s).", {name, "not the size the manifest gives"}));
  return bytes;
}

void TCustomOpenOfficeDocument::ReadListStyles(const TLKXMLItem* Styles) {
  const TLKXMLItems& items = Styles->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    if (c->Kind() != ikProperty) continue;
    const std::u16string_view tag = c->TagName();
    if (tag == u"text:list-style") {
      TOOListStyle& style = FListStyles[c->AttributeValue(u"style:name")];
      style = TOOListStyle();
      ReadListLevels(*c, style);
    } else if (tag == u"text:outline-style") {
      FOutlineStyle = TOOListStyle();
      ReadListLevels(*c, FOutlineStyle);
      // Lists of headings name the outline style as their list style.
      if (const WideString name = c->AttributeValue(u"style:name"); !name.empty()) FListStyles[name] = FOutlineStyle;
    } else if (tag == u"style:style" && c->AttributeValue(u"style:family") == u"paragraph") {
      TOOParagraphListStyle& p = FParagraphLists[c->AttributeValue(u"style:name")];
      p.Parent = c->AttributeValue(u"style:parent-style-name");
      p.HasListStyle = c->FindAttribute(u"style:list-style-name", p.ListStyle);
    }
  }
}

const TOOListStyle* TCustomOpenOfficeDocument::ListStyle(const WideString& Name) const {
  if (Name.empty()) return nullptr;
  auto it = FListStyles.find(Name);
  return it == FListStyles.end() ? nullptr : &it->second;
}

const TOOListStyle* TCustomOpenOfficeDocument::ParagraphListStyle(const WideString& ParagraphStyle) const {
  // A bound on the parents: a hostile file may make them a cycle.
  const WideString* name = &ParagraphStyle;
  for (int depth = 0; depth < 32 && !name->empty(); ++depth) {
    auto it = FParagraphLists.find(*name);
    if (it == FParagraphLists.end()) return nullptr;
    if (it->second.HasListStyle) return ListStyle(it->second.ListStyle);
    name = &it->second.Parent;
  }
  return nullptr;
}

void TCustomOpenOfficeDocument::ReadStyles(TLKXMLItem* AutomaticStyles) {
  const TLKXMLItems& items = AutomaticStyles->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    if (c->Kind() != ikProperty) continue;
    const WideString family = c->AttributeValue(u"style:family");
    std::unique_ptr<TOOStyle> style;
    if (family == u"text" || family == u"paragraph")
      style = std::make_unique<TOOStyleText>();
    else if (family == u"graphic")
      style = std::make_unique<TOOStyleGraphic>();
    else if (family.empty() && c->TagName() == u"text:list-style")
      style = std::make_unique<TOOStyleNumList>();
    else
      style = std::make_unique<TOOStyle>();
    style->SetStyleName(c->AttributeValue(u"style:name"));
    style->SetStyleFamily(family);
    for (int j = 0; j < c->Items().Count(); ++j) {
      const TLKXMLItem* p = c->Items()[j];
      if (p->Kind() != ikProperty) continue;
      if (auto* text = dynamic_cast<TOOStyleText*>(style.get())) {
        if (p->TagName() == u"style:text-properties") ReadTextProperties(*text, *p);
        // Alignment is a paragraph property; older writers put it with the
        // text properties, which are read above.
        WideString align;
        if (p->TagName() == u"style:paragraph-properties" && p->FindAttribute(u"fo:text-align", align))
          ApplyTextAlign(*text, align);
      } else if (auto* graphic = dynamic_cast<TOOStyleGraphic*>(style.get())) {
        WideString clip;
        if (p->TagName() == u"style:graphic-properties" && p->FindAttribute(u"fo:clip", clip))
          graphic->SetClipRect(ParseClip(clip));
      }
    }
    FStyles.Add(std::move(style));
  }
}

void TCustomOpenOfficeDocument::ReadMetadata(const RawByteString& MetaXML) {
  TLKXMLEngine e;
  e.SetMaxDepth(FMaxNestingDepth);
  e.SetMaxNodes(FMaxXMLNodes);
  e.LoadFromBytes(MetaXML);
  TLKXMLItem* meta = e.GetItemByTag(nullptr, u"office:meta");
  if (!meta) return;
  TLKWordSummaryInformation& S = SummaryInformation();
  WideString keywords;
  // The first element of each name counts; keywords are all joined.
  bool seen[11] = {};
  auto first = [&](int Index) {
    if (seen[Index]) return false;
    seen[Index] = true;
    return true;
  };
  ForEachNode(meta, [&](TLKXMLItem* n) {
    if (n->Kind() != ikProperty || n == meta) return true;
    const std::u16string_view tag = n->TagName();
    if (tag == u"meta:keyword") {
      WideString k = NodeText(n);
      if (!k.empty()) {
        if (!keywords.empty()) keywords += u", ";
        keywords += k;
      }
    } else if (tag == u"meta:generator") {
      if (first(0)) S.SetAppName(NodeText(n));
    } else if (tag == u"dc:title") {
      if (first(1)) S.SetTitle(NodeText(n));
    } else if (tag == u"dc:subject") {
      if (first(2)) S.SetSubject(NodeText(n));
    } else if (tag == u"meta:initial-creator") {
      if (first(3)) S.SetAuthor(NodeText(n));
    } else if (tag == u"dc:description") {
      if (first(4)) S.SetComments(NodeText(n));
    } else if (tag == u"dc:creator") {
      if (first(5)) S.SetLastAuthor(NodeText(n));
    } else if (tag == u"meta:template") {
      if (first(6)) {
        WideString title(TrimAsciiBlanks(n->AttributeValue(u"xlink:title"))), href(TrimAsciiBlanks(n->AttributeValue(u"xlink:href")));
        S.SetTemplate(title.empty() || href.empty() ? title + href : title + u" " + href);
      }
    } else if (tag == u"meta:creation-date") {
      if (first(7)) S.SetCreated(ParseOODateTime(NodeText(n)));
    } else if (tag == u"dc:date") {
      if (first(8)) S.SetLastSaved(ParseOODateTime(NodeText(n)));
    } else if (tag == u"meta:editing-duration") {
      if (first(9)) {
        const int64_t minutes = ParseOODuration(NodeText(n)) / 60;
        S.SetEditTime(static_cast<int32_t>(std::min<int64_t>(minutes, std::numeric_limits<int32_t>::max())));
      }
    } else if (tag == u"meta:document-statistic") {
      if (first(10)) {
        S.SetPageCount(ParseInt32(n->AttributeValue(u"meta:page-count"), 0));
        S.SetWordCount(ParseInt32(n->AttributeValue(u"meta:word-count"), 0));
        S.SetCharCount(ParseInt32(n->AttributeValue(u"meta:character-count"), 0));
        S.SetParagraphCount(ParseInt32(n->AttributeValue(u"meta:paragraph-count"), 0));
        S.SetCharCount2(ParseInt32(n->AttributeValue(u"meta:non-whitespace-character-count"), 0));
      }
    }
    return true;
  });
  if (!keywords.empty()) S.SetKeywords(keywords);
}


bool IsOpenDocumentText(TStream& Stream) { return DetectOpenDocument(Stream) == odkText; }
bool IsOpenDocumentSpreadsheet(TStream& Stream) { return DetectOpenDocument(Stream) == odkSpreadsheet; }
bool IsOpenDocumentPresentation(TStream& Stream) { return DetectOpenDocument(Stream) == odkPresentation; }

}  // namespace lkw
