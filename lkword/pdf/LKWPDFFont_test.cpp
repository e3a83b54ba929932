#include "lkword/pdf/LKWPDFFont.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lkword/pdf/LKWPDF.h"
#include "testing/FontProgramBuilder.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace std::string_literals;

TEST(PDFTextString, MarksChooseTheEncoding) {
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00H\x04\x10\xD8\x3D\xDE\x00"s), u"H\u0410\U0001F600");
  EXPECT_EQ(DecodePDFTextString("\xEF\xBB\xBF" "caf\xC3\xA9"s), u"caf\u00E9");
  // Without a mark the bytes are PDFDocEncoding, even when they look like UTF-8.
  EXPECT_EQ(DecodePDFTextString("caf\xC3\xA9"s), u"caf\u00C3\u00A9");
  // A byte-swapped mark, as some producers write.
  EXPECT_EQ(DecodePDFTextString("\xFF\xFEH\x00i\x00"s), u"Hi");
}

TEST(PDFTextString, UTF16DropsLanguageEscapesTerminatorsAndAnOddByte) {
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00\x1B" "en\x00\x1B\x00O\x00K\x00\x00\x00"s), u"OK");
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00" "A\x00"s), u"A");
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF"s), u"");
}

TEST(PDFTextString, PDFDocEncodingOutsideLatin1) {
  EXPECT_EQ(DecodePDFTextString("\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F"s), u"\u02D8\u02C7\u02C6\u02D9\u02DD\u02DB\u02DA\u02DC");
  EXPECT_EQ(DecodePDFTextString("\x80\x84\x8D\x8E\x92\x93\x94\x95\x9E\xA0"s),
            u"\u2022\u2014\u201C\u201D\u2122\uFB01\uFB02\u0141\u017E\u20AC");
  // Latin-1 above A0, ASCII below; undefined codes are marked, NULs dropped.
  EXPECT_EQ(DecodePDFTextString("\xE9\xFF" "a\x7F\x9F\x00"s), u"\u00E9\u00FF" u"a\uFFFD\uFFFD");
}

// A document whose object 10 is the font under test; Objs adds the font's
// dictionary and what it refers to.
class FontTest : public ::testing::Test {
 protected:
  void LoadFont(const std::map<int, std::string>& Objs) {
    auto all = pdftest::OnePage();
    for (const auto& [n, body] : Objs) all[n] = body;
    pdftest::Load(FReader, pdftest::Document(all));
    TPDFObject dict;
    ASSERT_TRUE(FReader.GetObject(10, dict));
    FFont.Load(FReader, dict, 10);
  }
  // A font given as a direct dictionary (no object of its own).
  void LoadInline(const std::string& Dict) {
    TPDFObject dict;
    TPDFLexer lx(Dict);
    ParsePDFObject(lx, dict);
    FFont.Load(FReader, dict, 0);
  }
  std::vector<TPDFGlyph> Decode(std::string_view Bytes) const {
    std::vector<TPDFGlyph> g;
    FFont.Decode(Bytes, g);
    return g;
  }
  // The text of Bytes, '?' for each unmapped glyph.
  std::u16string Text(std::string_view Bytes) const {
    std::u16string out;
    for (const TPDFGlyph& x : Decode(Bytes)) out += x.Mapped ? x.Text : u"?";
    return out;
  }
  std::vector<double> Widths(std::string_view Bytes) const {
    std::vector<double> out;
    for (const TPDFGlyph& x : Decode(Bytes)) out.push_back(x.Width);
    return out;
  }
  std::vector<int> Lengths(std::string_view Bytes) const {
    std::vector<int> out;
    for (const TPDFGlyph& x : Decode(Bytes)) out.push_back(x.CodeBytes);
    return out;
  }
  // Widths compare to a thousandth of an em.
  static void ExpectWidths(const std::vector<double>& Actual, const std::vector<double>& Expected) {
    ASSERT_EQ(Actual.size(), Expected.size());
    for (size_t i = 0; i < Actual.size(); ++i) EXPECT_NEAR(Actual[i], Expected[i], 1e-6) << "glyph " << i;
  }
  static std::string CMap(const std::string& Body) {
    return pdftest::Stream("/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n" + Body +
                           "\nendcmap CMapName currentdict /CMap defineresource pop end end");
  }
  TLKPDFReader FReader;
  TLKPDFFont FFont;
};

TEST_F(FontTest, SimpleFontThroughEncodingDifferencesAndWidths) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /FirstChar 65 /LastChar 70 /Widths [500 600 11 0 R 0 0 0] "
                  "/FontDescriptor 12 0 R /Encoding << /BaseEncoding /WinAnsiEncoding "
                  "/Differences [66 /eacute /f_f_i /g12 68 /fi /Euro /uni0416 /g7] >> >>"},
            {11, "700"},
            {12, "<< /Type /FontDescriptor /Flags 32 /Ascent 800 /Descent -200 /MissingWidth 250 >>"}});
  EXPECT_EQ(FFont.Encoding(), "/winansiencoding");
  EXPECT_EQ(Text("ABCDEFGH\x80\xE9 "), u"A\u00E9ffifi\u20AC\u0416?H\u20AC\u00E9 ");
  EXPECT_EQ(FFont.UnmappedGlyphs(), 1);
  ExpectWidths(Widths("ABCZ"), {0.5, 0.6, 0.7, 0.25});
  EXPECT_DOUBLE_EQ(FFont.Ascent(), 0.8);
  EXPECT_DOUBLE_EQ(FFont.Descent(), -0.2);
  const std::vector<TPDFGlyph> g = Decode(" A");
  EXPECT_TRUE(g[0].WordSpace);
  EXPECT_FALSE(g[1].WordSpace);
}

TEST_F(FontTest, StandardFontsWithoutWidthsUseTheirMetricsAndEncodings) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"}});
  ExpectWidths(Widths("a'"), {0.556, 0.278});
  EXPECT_EQ(Text("'`\xAE"), u"\u2019\u2018fi");  // StandardEncoding quotes and ligature
  LoadInline("<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>");
  EXPECT_EQ(Text("ab"), u"\u03B1\u03B2");
  ExpectWidths(Widths("a"), {0.631});
  LoadInline("<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats /Encoding << /Differences [65 /a71] >> >>");
  EXPECT_EQ(Text("lA"), u"\u25CF\u25CF");
}

TEST_F(FontTest, ToUnicodeWinsUnlessItSaysNothingUseful) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /ToUnicode 11 0 R "
                  "/Encoding << /Differences [65 /A /B /C /D /E] >> >>"},
            {11, CMap("1 begincodespacerange <00> <FF> endcodespacerange\n"
                      "5 beginbfchar <41> <0058> <42> <E001> <43> <0003> <44> <FB01> <45> <0009> endbfchar")}});
  // A real value wins over the name; private-use and control values lose to
  // a good name; a tab stands for the space glyph it was given to.
  EXPECT_EQ(Text("ABCDE"), u"XBCfi ");
}

TEST_F(FontTest, IdentityHWithToUnicodeAndCIDWidths) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [11 0 R] "
                  "/ToUnicode 12 0 R >>"},
            {11, "<< /Type /Font /Subtype /CIDFontType2 /DW 800 /W [1 [100 200] 10 20 300 30 [13 0 R]] "
                  "/FontDescriptor << /Ascent 1100 /Descent 300 >> >>"},
            {12, CMap("1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
                      "1 beginbfrange <0001> <0002> <0061> endbfrange 1 beginbfchar <000A> <D834DD1E> endbfchar")},
            {13, "400"}});
  EXPECT_TRUE(FFont.Identity());
  EXPECT_FALSE(FFont.Vertical());
  EXPECT_EQ(Text("\0\1\0\2\0\x0A\0\x63"s), u"ab\U0001D11E?");
  ExpectWidths(Widths("\0\1\0\2\0\x0C\0\x1E\0\x1F\x01"s), {0.1, 0.2, 0.3, 0.4, 0.8, 0.1});
  EXPECT_EQ(Lengths("\0\1\0"s), (std::vector<int>{2, 1}));  // an odd byte at the end
  EXPECT_DOUBLE_EQ(FFont.Ascent(), 1.1);
  EXPECT_DOUBLE_EQ(FFont.Descent(), -0.3);
}

TEST_F(FontTest, ToUnicodeKeyedWithOtherCodeLengthsOrNamedIdentity) {
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype /CIDFontType2 >>] /ToUnicode 11 0 R >>"},
            {11, CMap("1 begincodespacerange <00> <FF> endcodespacerange 1 beginbfchar <41> <0058> endbfchar")}});
  EXPECT_EQ(Text("\0\x41\0\x42"s), u"X?");
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype /CIDFontType2 >>] "
                  "/ToUnicode /Identity-H >>"}});
  EXPECT_EQ(Text("\x04\x16\0\x41"s), u"\u0416A");
}

TEST_F(FontTest, AdobeCollectionsNameTheCIDsOfCIDKeyedFonts) {
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype /CIDFontType0 "
                  "/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 6 >> >>] >>"}});
  EXPECT_EQ(Text("\x03\x4B\x04\xB0\0\x22\xFF\xFF"s), u"\u3042\u4E00A?");
  // A TrueType CID font's CIDs are glyph numbers whatever it declares; with
  // no program to ask, the collection is the last resort.
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype /CIDFontType2 "
                  "/CIDSystemInfo << /Registry (Adobe) /Ordering (GB1) >> >>] >>"}});
  EXPECT_EQ(Text("\x04\xB0"s), u"\u67E5");
}

#ifdef LKWORD_TESTDATA
TEST_F(FontTest, CollectionNamedByAnEncryptedFileIsDecryptedFirst) {
  // The collection's name is a string of the descendant font's object, and
  // encrypted with it.
  pdftest::LoadFile(FReader, "cjk-rc4.pdf");
  TPDFObject dict;
  ASSERT_TRUE(FReader.GetObject(5, dict));
  FFont.Load(FReader, dict, 5);
  EXPECT_EQ(Text("\x0C\xD4\x0E\x8A\x07\xA0"s), u"\u65E5\u672C\u8A9E");
}
#endif

TEST_F(FontTest, IdentityWithoutAnyMappingGivesNothing) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-V /DescendantFonts [11 0 R] >>"},
            {11, "<< /Type /Font /Subtype /CIDFontType0 /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) >> >>"}});
  EXPECT_TRUE(FFont.Vertical());
  EXPECT_EQ(Text("\0\x41\0\x42"s), u"??");
  EXPECT_EQ(FFont.UnmappedGlyphs(), 2);
  ExpectWidths(Widths("\0\x41"s), {1.0});
}

TEST_F(FontTest, PredefinedUnicodeAndCodePageCMaps) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-H /DescendantFonts [11 0 R] >>"},
            {11, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light /W [34 [600]] >>"}});
  EXPECT_EQ(Text("\x4E\x2D\x00\x41"s), u"\u4E2DA");
  ExpectWidths(Widths("\x4E\x2D\x00\x41\x00\x42"s), {1.0, 0.6, 0.5});

  // The text of Bytes and how many glyphs it took, through the CMap named.
  const auto text = [&](const char* CMapName, std::string_view Bytes) {
    LoadInline("<< /Subtype /Type0 /Encoding /"s + CMapName + " /DescendantFonts [<< /Subtype /CIDFontType0 >>] >>");
    return Text(Bytes) + u"/" + std::u16string(1, static_cast<char16_t>(u'0' + Decode(Bytes).size()));
  };
  EXPECT_EQ(text("UniJIS-UTF16-H", "\xD8\x3D\xDE\x00\x30\x42"s), u"\U0001F600\u3042/2");
  EXPECT_EQ(text("UniKS-UTF8-H", "\xEA\xB0\x80z"s), u"\uAC00z/2");
  EXPECT_EQ(text("90ms-RKSJ-H", "\x82\xA0" "A\xB1"s), u"\u3042A\uFF71/3");
  EXPECT_EQ(text("GBK-EUC-H", "\xD6\xD0" "1"s), u"\u4E2D1/2");
  EXPECT_EQ(text("KSCms-UHC-H", "\xB0\xA1"s), u"\uAC00/1");
  EXPECT_EQ(text("ETen-B5-H", "\xA4\xA4"s), u"\u4E2D/1");
  EXPECT_EQ(text("KSC-Johab-H", "\x88\x61"s), u"\uAC00/1");
  // National sets in their row/cell and EUC forms; "V" alone is vertical.
  EXPECT_EQ(text("V", "\x24\x22\x30\x21\x2D\x21"s), u"\u3042\u4E9C\u2460/3");
  EXPECT_TRUE(FFont.Vertical());
  EXPECT_EQ(text("EUC-H", "\xA4\xA2\x8E\xB1" "A"s), u"\u3042\uFF71A/3");
  EXPECT_EQ(text("GB-H", "\x56\x50"s), u"\u4E2D/1");
  EXPECT_EQ(text("KSC-V", "\x30\x21"s), u"\uAC00/1");
}

TEST_F(FontTest, EmbeddedEncodingCMapGivesCodeLengthsAndCIDs) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type0 /Encoding 11 0 R /DescendantFonts [12 0 R] /ToUnicode 13 0 R >>"},
            {11, CMap("/WMode 1 def 2 begincodespacerange <00> <7F> <8000> <FFFF> endcodespacerange\n"
                      "1 begincidrange <00> <7F> 100 endcidrange 1 begincidchar <8001> 5 endcidchar")},
            {12, "<< /Subtype /CIDFontType0 /W [5 [900] 165 [300]] >>"},
            {13, CMap("2 begincodespacerange <00> <7F> <8000> <FFFF> endcodespacerange\n"
                      "2 beginbfchar <41> <0041> <8001> <4E00> endbfchar")}});
  EXPECT_TRUE(FFont.Vertical());
  EXPECT_EQ(Text("A\x80\x01"s), u"A\u4E00");
  ExpectWidths(Widths("A\x80\x01\x80\x02"s), {0.3, 0.9, 1.0});
}

TEST_F(FontTest, Type3WidthsThroughTheFontMatrix) {
  LoadFont({{10, "<< /Type /Font /Subtype /Type3 /FontMatrix [0.01 0 0 0.01 0 0] /FirstChar 97 /Widths [50 60] "
                  "/Encoding << /Differences [97 /a /g7 /a1] >> /FontDescriptor << /Ascent 80 /Descent -20 >> >>"}});
  ExpectWidths(Widths("ab"), {0.5, 0.6});
  // a1 is a Zapf Dingbats name, but this is no Zapf Dingbats font.
  EXPECT_EQ(Text("abc"), u"a??");
  EXPECT_DOUBLE_EQ(FFont.Ascent(), 0.8);
}

// TeX's bitmap fonts name their glyphs by code and keep a TeX font's layout.
TEST_F(FontTest, Type3GlyphsNamedByTheirCodesReadAsTeXFontCodes) {
  const auto font = [](const std::string& Codes) {
    std::string diffs, procs;
    for (const int c : {11, 12, 28, 34, 44, 65, 92, 123, 200}) {
      if (Codes.find(static_cast<char>(c)) == std::string::npos) continue;
      const std::string n = std::to_string(c);
      diffs.append(" ").append(n).append(" /a").append(n);
      procs.append(" /a").append(n).append(" 5 0 R");
    }
    return "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] /Encoding << /Differences [" + diffs +
           " 66 /b66 67 /a68 68 /G44] >> /CharProcs <<" + procs + " /b66 5 0 R /a68 5 0 R /G44 5 0 R >> >>";
  };
  // A text font (it has a comma) with ligatures at 11..15 is OT1; hex names
  // count, a name that is another code does not.
  LoadInline(font("\x0C,A\\\"{"));
  EXPECT_EQ(Text("\x0C,A\\\"{BCD"), u"fi,A\u201C\u201D\u2013B?D");
  // Letters above 127 or ligatures only at 27..31 make it T1, whose upper
  // half is not known to be Latin.
  LoadInline(font("\x1C,A\xC8"));
  EXPECT_EQ(Text("\x1C,A\xC8"), u"fi,A?");
  // Without commas or full stops it may be a math font: ASCII only.
  LoadInline(font("\x0B" "A"));
  EXPECT_EQ(Text("\x0B" "A"), u"?A");
  // A font of one glyph draws a pattern with it.
  LoadInline("<< /Type /Font /Subtype /Type3 /Encoding << /Differences [81 /a81] >> /CharProcs << /a81 5 0 R >> >>");
  EXPECT_EQ(Text("QQ"), u"??");
  // Glyphs numbered from 0 as they were drawn tell no characters.
  std::string diffs, procs;
  for (int c = 0; c < 70; ++c) {
    const std::string n = std::to_string(c);
    diffs.append(" /g").append(n);
    procs.append(" /g").append(n).append(" 5 0 R");
  }
  LoadInline("<< /Type /Font /Subtype /Type3 /Encoding << /Differences [0" + diffs + "] >> /CharProcs <<" + procs +
             " >> >>");
  EXPECT_EQ(Text("A,"), u"??");
}

TEST_F(FontTest, EmbeddedProgramsNameTheGlyphsWhenNothingElseDoes) {
  using namespace fonttest;
  const std::string tt = Sfnt({{"maxp", Maxp(4)},
                               {"cmap", CmapTable({{{3, 1}, CmapFormat4({{0x416, 1}, {0x42, 2}})},
                                                   {{3, 0}, CmapFormat4({{0xF041, 3}})}})},
                               {"post", Post2({".notdef", "A", "B", "eacute"}, {{".notdef", 0}})}});
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [11 0 R] >>"},
            {11, "<< /Subtype /CIDFontType2 /FontDescriptor 12 0 R /CIDToGIDMap 14 0 R >>"},
            {12, "<< /Type /FontDescriptor /Flags 4 /FontFile2 13 0 R >>"},
            {13, pdftest::Stream(tt)},
            {14, pdftest::Stream("\0\0\0\1\0\2\0\3"s)}});
  // Glyph 1 by the Unicode cmap, 3 by its 'post' name, 0 is nothing.
  EXPECT_EQ(Text("\0\1\0\3\0\0\0\x09"s), u"\u0416\u00E9??");

  // A symbolic simple TrueType font: the code through the symbol subtable.
  const std::string descriptor = "<< /Type /FontDescriptor /Flags 4 /FontFile2 13 0 R >>";
  LoadFont({{10, "<< /Subtype /TrueType /FontDescriptor 12 0 R >>"}, {12, descriptor}, {13, pdftest::Stream(tt)}});
  EXPECT_EQ(Text("AB"), u"\u00E9?");
  // A subset known only by its codes and private-use names: a text font's
  // codes are its letters, a picture font keeps its names.
  const std::string codesOnly = Sfnt({{"maxp", Maxp(3)},
                                      {"cmap", CmapTable({{{3, 0}, CmapFormat4({{0xF041, 1}, {0xF0E9, 2}})}})},
                                      {"post", Post2({".notdef", "uniF041", "uniF0E9"}, {{".notdef", 0}})}});
  // So does a font whose ToUnicode map is silent on its codes.
  const std::pair<const char*, std::u16string> fonts[] = {
      {"/BaseFont /ABCDEF+Century-Roman", u"A\u00E9"},
      {"/BaseFont /Wingdings-Regular", u"\uF041\uF0E9"},
      {"/BaseFont /ABCDEF+Century-Roman /ToUnicode 14 0 R", u"\uF041\uF0E9"}};
  for (const auto& [font, expected] : fonts) {
    LoadFont({{10, "<< /Subtype /TrueType "s + font + " /FontDescriptor 12 0 R >>"},
              {12, descriptor},
              {13, pdftest::Stream(codesOnly)},
              {14, CMap("1 begincodespacerange <00> <FF> endcodespacerange")}});
    EXPECT_EQ(Text("A\xE9"), expected) << font;
  }

  // A Type 1C font's own encoding and glyph names.
  LoadFont({{10, "<< /Subtype /Type1 /FontDescriptor 12 0 R >>"},
            {12, "<< /Type /FontDescriptor /Flags 4 /FontFile3 13 0 R >>"},
            {13, pdftest::Stream(CFF({{1, "fi"}, {2, "uni0436"}, {3, "g9"}}), "/Subtype /Type1C")}});
  EXPECT_EQ(Text("\1\2\3"s), u"fi\u0436?");
}

TEST_F(FontTest, DamagedFontsLoadWhatTheyCan) {
  LoadFont({{10, "<< /Subtype /Type0 /Encoding 11 0 R /DescendantFonts 12 0 R /ToUnicode 13 0 R >>"},
            {11, "<< /Not /AStream >>"},
            {12, "[ 99 0 R ]"},
            {13, pdftest::Stream("beginbfchar <0001> <0041> <0002")}});
  EXPECT_EQ(Text("\0\1\0\2"s), u"A?");
  // Widths arrays with wrong types and a /W that ends in the middle.
  LoadFont({{10, "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /W [1 [/x 300] 5 6 (y) 7 ] /DW /bad >>] >>"}});
  ExpectWidths(Widths("\0\2\0\7"s), {0.3, 1.0});
  LoadFont({{10, "<< /Subtype /Type1 /Widths 5 /FirstChar -3 /Encoding /NoSuchEncoding >>"}});
  EXPECT_EQ(Text("A"), u"A");
}

}  // namespace
}  // namespace lkw
