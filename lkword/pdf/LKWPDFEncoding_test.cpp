#include "lkword/pdf/LKWPDFEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

std::u16string Name(std::string_view N) {
  std::u16string out;
  if (!GetGlyphCharacter(N, out)) return u"<none>";
  return out;
}

TEST(PDFGlyphNames, NamesGiveTheirText) {
  // The Adobe list without case folding; ligatures give their letters; the
  // uniXXXX and uXXXX forms, lower-case hex too; suffixes are dropped. A lone
  // surrogate, a short form and names that tell nothing give none; an
  // invisible TeX mark is known and gives no text.
  const std::pair<const char*, std::u16string_view> kCases[] = {
      {"eacute", u"\u00E9"}, {"copyright", u"\u00A9"}, {"trademark", u"\u2122"}, {"Euro", u"\u20AC"},
      {"afii10017", u"\u0410"}, {"Omega", u"\u03A9"}, {"dalethatafpatah", u"\u05D3\u05B2"}, {"zcaron", u"\u017E"},
      {"fi", u"fi"}, {"ffl", u"ffl"}, {"f_f_i", u"ffi"}, {"T_h", u"Th"}, {"f_f.alt", u"ff"}, {"uniFB01", u"fi"},
      {"uni0041", u"A"}, {"uni00410042", u"AB"}, {"uni00e9", u"\u00E9"}, {"u1F600", u"\U0001F600"},
      {"u0041", u"A"}, {"a.sc", u"a"}, {"uniD800", u"<none>"}, {"uni004", u"<none>"}, {"g42", u"<none>"},
      {"cid1234", u"<none>"}, {".notdef", u"<none>"}, {"", u"<none>"}, {"cwm", u""},
      // Zapf Dingbats names only in that font.
      {"a71", u"<none>"}};
  for (const auto& [name, text] : kCases) EXPECT_EQ(Name(name), text) << name;
  std::u16string d;
  ASSERT_TRUE(GetGlyphCharacter("a71", d, true));
  EXPECT_EQ(d, u"\u25CF");
}

TEST(PDFGlyphNames, PresentationFormsGiveTheirLetters) {
  std::u16string out;
  AppendExpandingPresentationForms(out, u"\uFB01x\uFEFB\uFE8E\uFB2C\uFDFA\uFFFD");
  // The phrase ligature FDFA stays: it is a word, not a letter form.
  EXPECT_EQ(out, u"fix\u0644\u0627\u0627\u05E9\u05BC\u05C1\uFDFA\uFFFD");
  EXPECT_EQ(Name("lamalefisolatedarabic"), u"\u0644\u0627");
}

TEST(PDFEncodings, BaseEncodingsGiveRealCharacters) {
  using E = TPDFBaseEncoding;
  EXPECT_EQ(PDFBaseEncodingFromName("/WinAnsiEncoding"), E::beWinAnsi);
  EXPECT_EQ(PDFBaseEncodingFromName("macromanencoding"), E::beMacRoman);
  EXPECT_EQ(PDFBaseEncodingFromName("Identity-H"), E::beNone);
  EXPECT_EQ(PDFEncodingGlyphName(E::beWinAnsi, 0x80), "Euro");
  EXPECT_EQ(PDFEncodingUnicode(E::beWinAnsi, 0x80), U'\u20AC');
  EXPECT_EQ(PDFEncodingUnicode(E::beWinAnsi, 0xE9), U'\u00E9');
  EXPECT_EQ(PDFEncodingUnicode(E::beWinAnsi, 0x93), U'\u201C');
  EXPECT_EQ(PDFEncodingGlyphName(E::beWinAnsi, 0x81), "bullet");
  EXPECT_EQ(PDFEncodingGlyphName(E::beStandard, 0x27), "quoteright");
  EXPECT_EQ(PDFEncodingGlyphName(E::beStandard, 0xAE), "fi");
  EXPECT_EQ(PDFEncodingGlyphName(E::beStandard, 0xE9), "Oslash");
  EXPECT_EQ(PDFEncodingUnicode(E::beMacRoman, 0x8E), U'\u00E9');
  EXPECT_EQ(PDFEncodingUnicode(E::beMacRoman, 0xDB), U'\u00A4');
  EXPECT_EQ(PDFEncodingUnicode(E::bePDFDoc, 0x93), U'\uFB01');
  EXPECT_EQ(PDFEncodingUnicode(E::beSymbol, 0x61), U'\u03B1');
  EXPECT_EQ(PDFEncodingUnicode(E::beZapfDingbats, 0x6C), U'\u25CF');
  EXPECT_EQ(PDFEncodingGlyphName(E::beNone, 0x41), "");
  // Every printable code of the text encodings has a name.
  for (const E e : {E::beWinAnsi, E::beMacRoman}) {
    for (int c = 0x20; c < 0x100; ++c) {
      if (c == 0x7F || (e == E::beMacRoman && c == 0xF0)) continue;
      EXPECT_FALSE(PDFEncodingGlyphName(e, static_cast<uint8_t>(c)).empty()) << static_cast<int>(e) << " " << c;
    }
  }
}

TEST(PDFStandardFonts, WidthsByNameAndAliases) {
  const int helv = StandardFontIndex("Helvetica");
  ASSERT_GE(helv, 0);
  EXPECT_EQ(StandardFontWidth(helv, "a"), 556);
  EXPECT_EQ(StandardFontWidth(helv, "W"), 944);
  EXPECT_EQ(StandardFontWidth(helv, "nosuchglyph"), 0);
  EXPECT_EQ(StandardFontWidth(StandardFontIndex("Times-Roman"), "space"), 250);
  EXPECT_EQ(StandardFontWidth(StandardFontIndex("Times-Bold"), "W"), 1000);
  EXPECT_EQ(StandardFontWidth(StandardFontIndex("Courier-BoldOblique"), "m"), 600);
  EXPECT_EQ(StandardFontIndex("Arial,Bold"), StandardFontIndex("Helvetica-Bold"));
  EXPECT_EQ(StandardFontIndex("ABCDEF+TimesNewRomanPS-BoldItalicMT"), StandardFontIndex("Times-BoldItalic"));
  EXPECT_EQ(StandardFontIndex("CourierNew"), StandardFontIndex("Courier"));
  EXPECT_EQ(StandardFontIndex("LMRoman10-Regular"), -1);
  EXPECT_EQ(StandardFontEncoding(StandardFontIndex("Symbol")), TPDFBaseEncoding::beSymbol);
  EXPECT_GT(StandardFontWidth(StandardFontIndex("ZapfDingbats"), "a1"), 0);
  int a = 0, d = 0;
  StandardFontExtent(helv, a, d);
  EXPECT_EQ(a, 718);
  EXPECT_EQ(d, -207);
}

}  // namespace
}  // namespace lkw
