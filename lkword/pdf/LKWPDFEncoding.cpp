#include "lkword/pdf/LKWPDFEncoding.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

#include "lkword/pdf/data/PDFGlyphTables.inc"
#include "lkword/pdf/data/PDFPresentationForms.inc"

// PDFDocEncoding where it differs from Latin-1: 18-1F are spacing accents,
// 80-A0 typographic marks, ligatures and the Latin Extended letters.
constexpr char16_t kPDFDoc18[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char16_t kPDFDoc80[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0x0000, 0x20AC};

// Names TeX fonts use that the glyph list lacks (the compound-word mark and
// its kin are invisible: they map to no text at all; the copyright circle
// is drawn around a separate c).
struct TExtraName {
  std::string_view Name;
  std::u16string_view Text;
};
constexpr TExtraName kExtraNames[] = {
    {"Dbar", u"\u0110"},        {"Germandbls", u"SS"},       {"Ng", u"\u014A"},
    {"SS", u"SS"},              {"angbracketleft", u"\u27E8"}, {"angbracketright", u"\u27E9"},
    {"ascendercompwordmark", u""}, {"capitalcompwordmark", u""}, {"circlecopyrt", u""},
    {"compwordmark", u""},      {"cwm", u""},                {"dbar", u"\u0111"},
    {"dotlessj", u"\u0237"},    {"hyphenchar", u"-"},        {"longst", u"st"},
    {"ng", u"\u014B"},          {"perthousandzero", u""},    {"sfthyphen", u"\u00AD"},
    {"visiblespace", u"\u2423"}, {"visualspace", u"\u2423"},
};

const uint16_t* NameTable(TPDFBaseEncoding Encoding) {
  switch (Encoding) {
    case TPDFBaseEncoding::beStandard: return kStandardNames;
    case TPDFBaseEncoding::beWinAnsi: return kWinAnsiNames;
    case TPDFBaseEncoding::beMacRoman: return kMacRomanNames;
    case TPDFBaseEncoding::bePDFDoc: return kPDFDocNames;
    case TPDFBaseEncoding::beSymbol: return kSymbolNames;
    case TPDFBaseEncoding::beZapfDingbats: return kZapfDingbatsNames;
    default: return nullptr;
  }
}

const char16_t* UnicodeTable(TPDFBaseEncoding Encoding) {
  switch (Encoding) {
    case TPDFBaseEncoding::beStandard: return kStandardUnicode;
    case TPDFBaseEncoding::beWinAnsi: return kWinAnsiUnicode;
    case TPDFBaseEncoding::beMacRoman: return kMacRomanUnicode;
    case TPDFBaseEncoding::bePDFDoc: return kPDFDocUnicode;
    case TPDFBaseEncoding::beSymbol: return kSymbolUnicode;
    case TPDFBaseEncoding::beZapfDingbats: return kZapfDingbatsUnicode;
    default: return nullptr;
  }
}

bool IsScalar(uint32_t V) { return V < 0xD800 || (V > 0xDFFF && V <= 0x10FFFF); }

// uniXXXX[XXXX...] (groups of four, no surrogates) and uXXXX to uXXXXXX;
// lower-case hex is taken too, as some producers write it.
bool UnicodeFormName(std::string_view Name, std::u16string& Out) {
  if (Name.size() >= 7 && Name.substr(0, 3) == "uni" && (Name.size() - 3) % 4 == 0) {
    std::u16string text;
    for (size_t i = 3; i < Name.size(); i += 4) {
      uint32_t v = 0;
      for (size_t k = i; k < i + 4; ++k) {
        const int d = HexDigitValue(Name[k]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
      }
      if (!IsScalar(v)) return false;
      text.push_back(static_cast<char16_t>(v));
    }
    Out += text;
    return true;
  }
  if (Name.size() >= 5 && Name.size() <= 7 && Name[0] == 'u') {
    uint32_t v = 0;
    for (size_t k = 1; k < Name.size(); ++k) {
      const int d = HexDigitValue(Name[k]);
      if (d < 0 || (Name[k] >= 'a' && Name[k] <= 'f')) return false;
      v = v << 4 | static_cast<uint32_t>(d);
    }
    if (!IsScalar(v)) return false;
    AppendCodePoint(Out, v);
    return true;
  }
  return false;
}

// Binary search of a table of entries sorted by name.
template <size_t N>
const TGlyphNameEntry* FindName(const TGlyphNameEntry (&Table)[N], std::string_view Name) {
  const auto it = std::lower_bound(std::begin(Table), std::end(Table), Name,
                                   [](const TGlyphNameEntry& e, std::string_view n) { return PoolName(e.Name) < n; });
  return it != std::end(Table) && PoolName(it->Name) == Name ? it : nullptr;
}

bool ComponentToUnicode(std::string_view Name, std::u16string& Out, bool Dingbats) {
  if (Name.empty()) return false;
  if (Dingbats) {
    if (const TGlyphNameEntry* e = FindName(kDingbatNames, Name)) {
      Out.push_back(e->Value);
      return true;
    }
  }
  if (const TGlyphNameEntry* e = FindName(kGlyphNames, Name)) {
    if (e->Sequence == 0) {
      const char16_t c = e->Value;
      AppendExpandingPresentationForms(Out, std::u16string_view(&c, 1));
    } else {
      for (const char16_t c : kGlyphNameSequences[e->Sequence])
        if (c) Out.push_back(c);
    }
    return true;
  }
  for (const auto& x : kExtraNames)
    if (x.Name == Name) {
      Out += x.Text;
      return true;
    }
  std::u16string text;
  if (!UnicodeFormName(Name, text)) return false;
  AppendExpandingPresentationForms(Out, text);
  return true;
}

}  // namespace

TPDFBaseEncoding PDFBaseEncodingFromName(std::string_view Name) {
  if (!Name.empty() && Name[0] == '/') Name.remove_prefix(1);
  if (SameTextAscii(Name, "StandardEncoding")) return TPDFBaseEncoding::beStandard;
  if (SameTextAscii(Name, "WinAnsiEncoding")) return TPDFBaseEncoding::beWinAnsi;
  if (SameTextAscii(Name, "MacRomanEncoding")) return TPDFBaseEncoding::beMacRoman;
  if (SameTextAscii(Name, "PDFDocEncoding")) return TPDFBaseEncoding::bePDFDoc;
  if (SameTextAscii(Name, "SymbolEncoding") || SameTextAscii(Name, "Symbol")) return TPDFBaseEncoding::beSymbol;
  if (SameTextAscii(Name, "ZapfDingbatsEncoding") || SameTextAscii(Name, "ZapfDingbats"))
    return TPDFBaseEncoding::beZapfDingbats;
  return TPDFBaseEncoding::beNone;
}

std::string_view PDFEncodingGlyphName(TPDFBaseEncoding Encoding, uint8_t Code) {
  const uint16_t* t = NameTable(Encoding);
  return t ? PoolName(kEncodingNames[t[Code]]) : std::string_view();
}

char32_t PDFEncodingUnicode(TPDFBaseEncoding Encoding, uint8_t Code) {
  const char16_t* t = UnicodeTable(Encoding);
  return t ? t[Code] : 0;
}

char16_t PDFDocEncodingChar(uint8_t Code) {
  if (Code >= 0x18 && Code <= 0x1F) return kPDFDoc18[Code - 0x18];
  if (Code >= 0x80 && Code <= 0xA0) return kPDFDoc80[Code - 0x80];
  if (Code == 0x7F) return 0;
  return Code;
}

void AppendExpandingPresentationForms(std::u16string& Out, std::u16string_view Text) {
  for (const char16_t c : Text) {
    if (c < 0xFB00 || c > 0xFEFF) {
      Out.push_back(c);
      continue;
    }
    const auto it = std::lower_bound(std::begin(kPresentationForms), std::end(kPresentationForms), c,
                                     [](const TPresentationForm& f, char16_t v) { return f.Code < v; });
    if (it == std::end(kPresentationForms) || it->Code != c) {
      Out.push_back(c);
      continue;
    }
    for (const char16_t l : it->Letters)
      if (l) Out.push_back(l);
  }
}

bool GetGlyphCharacter(std::string_view Name, std::u16string& Out, bool Dingbats) {
  // A suffix after the first period names a variant of the same character.
  const size_t dot = Name.find('.');
  if (dot != std::string_view::npos) Name = Name.substr(0, dot);
  if (Name.empty()) return false;
  if (Name.find('_') == std::string_view::npos) return ComponentToUnicode(Name, Out, Dingbats);
  // Ligature names join their components' characters.
  std::u16string text;
  bool any = false;
  while (!Name.empty()) {
    const size_t cut = Name.find('_');
    any |= ComponentToUnicode(Name.substr(0, cut), text, Dingbats);
    Name = cut == std::string_view::npos ? std::string_view() : Name.substr(cut + 1);
  }
  if (!any) return false;
  Out += text;
  return true;
}

bool IsCodeNumberName(std::string_view Name, uint8_t Code) {
  size_t letters = 0;
  while (letters < Name.size() && letters < 3 && IsAsciiLetter(Name[letters])) ++letters;
  const std::string_view digits = Name.substr(letters);
  if (letters == 0 || digits.empty() || digits.size() > 3) return false;
  int dec = 0, hex = 0;
  bool decimal = true;
  for (char c : digits) {
    const int v = HexDigitValue(c);
    if (v < 0) return false;
    decimal = decimal && v < 10;
    dec = dec * 10 + v;
    hex = hex * 16 + v;
  }
  return (decimal && dec == Code) || (digits.size() == 2 && hex == Code);
}

std::u16string_view TeXFontCodeText(TTeXFontLayout Layout, uint8_t Code) {
  if (Code >= 128) return {};
  if (Layout == TTeXFontLayout::ttOT1) {
    static constexpr std::u16string_view kLow[32] = {
        u"\u0393", u"\u0394", u"\u0398", u"\u039B", u"\u039E", u"\u03A0", u"\u03A3", u"\u03A5",
        u"\u03A6", u"\u03A8", u"\u03A9", u"ff",     u"fi",     u"fl",     u"ffi",    u"ffl",
        u"\u0131", u"\u0237", u"",       u"",       u"",       u"",       u"",       u"",
        u"",       u"\u00DF", u"\u00E6", u"\u0153", u"\u00F8", u"\u00C6", u"\u0152", u"\u00D8"};
    if (Code < 32) return kLow[Code];
    switch (Code) {
      case 34: return u"\u201D";
      case 92: return u"\u201C";
      case 123: return u"\u2013";
      case 124: return u"\u2014";
      case 125: case 126: case 127: return {};  // accents
      default: break;
    }
  } else if (Layout == TTeXFontLayout::ttT1) {
    static constexpr std::u16string_view kLow[32] = {
        u"",       u"",       u"",       u"",       u"",       u"",       u"",       u"",
        u"",       u"",       u"",       u"",       u"",       u"\u201A", u"\u2039", u"\u203A",
        u"\u201C", u"\u201D", u"\u201E", u"\u00AB", u"\u00BB", u"\u2013", u"\u2014", u"",
        u"",       u"\u0131", u"\u0237", u"ff",     u"fi",     u"fl",     u"ffi",    u"ffl"};
    if (Code < 32) return kLow[Code];
    if (Code == 127) return u"-";
  }
  if (Code < 33 || Code > 126) return {};
  if (Layout != TTeXFontLayout::ttAscii && Code == 39) return u"\u2019";
  if (Layout != TTeXFontLayout::ttAscii && Code == 96) return u"\u2018";
  static constexpr char16_t kAscii[] = u"!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                       u"abcdefghijklmnopqrstuvwxyz{|}~";
  return std::u16string_view(kAscii + (Code - 33), 1);
}

int StandardFontIndex(std::string_view BaseFont) {
  // A subset tag is six capitals and a plus sign.
  if (BaseFont.size() > 7 && BaseFont[6] == '+') BaseFont.remove_prefix(7);
  std::string key;
  bool bold = false, italic = false;
  std::string_view family = BaseFont;
  if (const size_t cut = BaseFont.find_first_of(",-"); cut != std::string_view::npos) {
    family = BaseFont.substr(0, cut);
    std::string style(BaseFont.substr(cut + 1));
    for (char& c : style) c = ToLowerAscii(c);
    bold = style.find("bold") != std::string::npos || style.find("black") != std::string::npos ||
           style.find("heavy") != std::string::npos;
    italic = style.find("italic") != std::string::npos || style.find("oblique") != std::string::npos;
    // Times-Roman and Times-Italic are the names themselves.
  }
  for (char c : family)
    if (c != ' ') key.push_back(ToLowerAscii(c));
  std::string_view base;
  if (key == "helvetica" || key == "arial" || key == "arialmt" || key == "helveticaneue" || key == "liberationsans" ||
      key == "nimbussans")
    base = "Helvetica";
  else if (key == "times" || key == "timesnewroman" || key == "timesnewromanps" || key == "timesnewromanpsmt" ||
           key == "liberationserif" || key == "nimbusroman")
    base = "Times";
  else if (key == "courier" || key == "couriernew" || key == "couriernewpsmt" || key == "liberationmono" ||
           key == "nimbusmonops")
    base = "Courier";
  else if (key == "symbol" || key == "symbolmt" || key == "standardsymbolsps")
    base = "Symbol", bold = italic = false;
  else if (key == "zapfdingbats" || key == "itczapfdingbats" || key == "d050000l")
    base = "ZapfDingbats", bold = italic = false;
  else
    return -1;
  std::string name(base);
  if (base == "Symbol" || base == "ZapfDingbats") {
  } else if (base == "Times") {
    name += bold ? (italic ? "-BoldItalic" : "-Bold") : (italic ? "-Italic" : "-Roman");
  } else if (bold || italic) {
    name += bold ? (italic ? "-BoldOblique" : "-Bold") : "-Oblique";
  }
  for (size_t i = 0; i < std::size(kStandardFonts); ++i)
    if (PoolName(kStandardFonts[i].Name) == name) return static_cast<int>(i);
  return -1;
}

int StandardFontWidth(int FontIndex, std::string_view GlyphName) {
  if (FontIndex < 0 || static_cast<size_t>(FontIndex) >= std::size(kStandardFonts)) return 0;
  const auto it = std::lower_bound(std::begin(kMetricNames), std::end(kMetricNames), GlyphName,
                                   [](TPoolName e, std::string_view n) { return PoolName(e) < n; });
  if (it == std::end(kMetricNames) || PoolName(*it) != GlyphName) return 0;
  return kStandardFonts[FontIndex].Widths[it - std::begin(kMetricNames)];
}

void StandardFontExtent(int FontIndex, int& Ascent, int& Descent) {
  if (FontIndex < 0 || static_cast<size_t>(FontIndex) >= std::size(kStandardFonts)) return;
  Ascent = kStandardFonts[FontIndex].Ascent;
  Descent = kStandardFonts[FontIndex].Descent;
}

TPDFBaseEncoding StandardFontEncoding(int FontIndex) {
  if (FontIndex < 0 || static_cast<size_t>(FontIndex) >= std::size(kStandardFonts)) return TPDFBaseEncoding::beNone;
  const std::string_view name = PoolName(kStandardFonts[FontIndex].Name);
  if (name == "Symbol") return TPDFBaseEncoding::beSymbol;
  if (name == "ZapfDingbats") return TPDFBaseEncoding::beZapfDingbats;
  return TPDFBaseEncoding::beStandard;
}

}  // namespace lkw
