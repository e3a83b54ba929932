#include "lkword/pdf/LKWPDFContent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"
#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

using pdftest::Builder;
using pdftest::Stream;

// Every glyph of /F1 is half an em wide, whichever way the widths are read.
std::string HalfEmFont() {
  std::string widths;
  for (int i = 32; i <= 126; ++i) widths += "500 ";
  return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /FirstChar 32 "
         "/LastChar 126 /Widths [" + widths + "] >>";
}

// A document whose page resources (object 5) hold /F1 and the XObjects
// given; Extra adds objects (forms).
class Doc {
 public:
  explicit Doc(const std::string& XObjects = "", const std::map<int, std::string>& Extra = {}) {
    std::map<int, std::string> objs = pdftest::OnePage("");
    objs[3] = "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources 5 0 R >>";
    objs[5] = "<< /Font << /F1 6 0 R >> " + (XObjects.empty() ? "" : "/XObject << " + XObjects + " >>") + " >>";
    objs[6] = HalfEmFont();
    for (const auto& [n, body] : Extra) objs[n] = body;
    pdftest::Load(FReader, Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
  }

  // Glyphs of Content on a US Letter page turned by Rotate.
  TPDFPageGlyphs Glyphs(const std::string& Content, int Rotate = 0, TPDFTextOptions Options = {}) {
    TLKPDFPage page;
    TPDFPageGlyphs out;
    InterpretPageContent(FReader, Content, TPDFObject::MakeRef(5, 0), Box(), Rotate, Options, page, out);
    return out;
  }
  std::vector<std::string> Lines(const std::string& Content, int Rotate = 0) {
    TLKPDFPage page;
    ExtractPageText(FReader, Content, TPDFObject::MakeRef(5, 0), Box(), Rotate, TPDFTextOptions(), page);
    std::vector<std::string> out;
    for (const WideString& l : page.Lines())
      if (!l.empty()) out.push_back(WideToUtf8(l));
    return out;
  }
  static TPDFObject Box() {
    TPDFObject box;
    box.Kind = TPDFObjKind::okArray;
    for (int v : {0, 0, 612, 792}) box.Items.push_back(TPDFObject::MakeInteger(v));
    return box;
  }

 private:
  TLKPDFReader FReader;
};

std::string TextOf(const TPDFPageGlyphs& G) {
  WideString out;
  for (const auto& g : G.Glyphs) out.append(G.Chars, g.TextStart, g.TextLen);
  return WideToUtf8(out);
}

using Strings = std::vector<std::string>;

TEST(PDFContent, TextPositioningOperators) {
  Doc d;
  // Td, TD (sets the leading), T*, ' and " (which also sets Tw and Tc).
  const auto g = d.Glyphs("BT /F1 10 Tf 100 700 Td (a) Tj 0 -20 TD (b) Tj T* (c) Tj (d) ' 3 1 (e) \" ET");
  ASSERT_EQ(g.Glyphs.size(), 5u);
  EXPECT_EQ(TextOf(g), "abcde");
  const float ys[] = {92, 112, 132, 152, 172};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_FLOAT_EQ(g.Glyphs[i].X, 100);
    EXPECT_FLOAT_EQ(g.Glyphs[i].Y, ys[i]);
    EXPECT_FLOAT_EQ(g.Glyphs[i].Size, 10);
  }
  // Tm replaces the matrix; its scale makes the size.
  const auto m = d.Glyphs("BT /F1 1 Tf 12 0 0 12 50 600 Tm (x) Tj ET");
  ASSERT_EQ(m.Glyphs.size(), 1u);
  EXPECT_FLOAT_EQ(m.Glyphs[0].X, 50);
  EXPECT_FLOAT_EQ(m.Glyphs[0].Y, 192);
  EXPECT_FLOAT_EQ(m.Glyphs[0].Size, 12);
  EXPECT_FLOAT_EQ(m.Glyphs[0].Adv, 6);
}

TEST(PDFContent, AdvancesWithSpacingScalingAndKerning) {
  Doc d;
  // Tc after every glyph, Tw after the space, Tz scales both and the width.
  const auto g = d.Glyphs("BT /F1 10 Tf 2 Tc 4 Tw 50 Tz 0 700 Td (a b) Tj ET");
  ASSERT_EQ(g.Glyphs.size(), 3u);
  EXPECT_FLOAT_EQ(g.Glyphs[0].Adv, 2.5f);
  EXPECT_FLOAT_EQ(g.Glyphs[1].X, 3.5f);              // (5 + 2) * 0.5
  EXPECT_FLOAT_EQ(g.Glyphs[2].X, 3.5f + 5.5f);       // (5 + 2 + 4) * 0.5
  // TJ numbers move by -n/1000 of the size, scaled by Tz.
  const auto k = d.Glyphs("BT /F1 10 Tf 200 Tz [(a) -1000 (b) 500 (c)] TJ ET");
  ASSERT_EQ(k.Glyphs.size(), 3u);
  EXPECT_FLOAT_EQ(k.Glyphs[1].X, 10 + 20);
  EXPECT_FLOAT_EQ(k.Glyphs[2].X, 30 + 10 - 10);
  // Ts raises the glyph without moving the line.
  const auto r = d.Glyphs("BT /F1 10 Tf 0 700 Td 3 Ts (a) Tj ET");
  EXPECT_FLOAT_EQ(r.Glyphs[0].Y, 89);
}

TEST(PDFContent, GraphicsStateAndPageRotation) {
  Doc d;
  // cm scales inside q/Q only; text state is saved with it.
  const auto g = d.Glyphs("q 2 0 0 2 0 0 cm BT /F1 10 Tf 10 10 Td (a) Tj ET Q BT /F1 10 Tf 10 10 Td (b) Tj ET");
  ASSERT_EQ(g.Glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(g.Glyphs[0].Size, 20);
  EXPECT_FLOAT_EQ(g.Glyphs[0].X, 20);
  EXPECT_FLOAT_EQ(g.Glyphs[1].Size, 10);
  EXPECT_FLOAT_EQ(g.Glyphs[1].X, 10);
  // Unbalanced Q and deep q nesting do no harm.
  EXPECT_EQ(d.Lines("Q Q " + std::string(3000, 'q') + " BT /F1 10 Tf 10 700 Td (ok) Tj ET"), Strings{"ok"});

  // A page turned by 90 degrees: text along the page's x axis reads downward.
  const auto r = d.Glyphs("BT /F1 10 Tf 72 700 Td (ab) Tj ET", 90);
  ASSERT_EQ(r.Glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(r.Glyphs[0].X, 700);
  EXPECT_FLOAT_EQ(r.Glyphs[0].Y, 72);
  EXPECT_FLOAT_EQ(r.Glyphs[0].Dy, 1);
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 72 700 Td (one) Tj 0 -12 Td (two) Tj ET", 270), (Strings{"one", "two"}));
  // Text rotated on the page by its own matrix is read along it.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 0 1 -1 0 300 100 Tm (up) Tj ( we go) Tj ET"), Strings{"up we go"});
}

TEST(PDFContent, VerticalWritingRunsDownThePage) {
  const std::string cjk = "<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-V "
                          "/DescendantFonts [<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light "
                          "/CIDSystemInfo << /Registry (Adobe) /Ordering (GB1) /Supplement 2 >> /DW 1000 >>] >>";
  Doc d("", {{5, "<< /Font << /F1 6 0 R /V 7 0 R >> >>"}, {7, cjk}});
  const auto g = d.Glyphs("BT /V 10 Tf 300 700 Td <4E2D 6587> Tj ET");
  ASSERT_EQ(g.Glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(g.Glyphs[0].Dy, 1);
  EXPECT_FLOAT_EQ(g.Glyphs[1].Y - g.Glyphs[0].Y, 10);
  EXPECT_EQ(d.Lines("BT /V 10 Tf 300 700 Td <4E2D 6587> Tj ET"), Strings{"\xE4\xB8\xAD\xE6\x96\x87"});
}

TEST(PDFContent, LongStringsDecodeAsAWholeAcrossCodeLengths) {
  // Shift-JIS codes take one or two bytes: in a string far longer than one
  // decoding step, two-byte codes fall on every alignment.
  const std::string sjis = "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /90ms-RKSJ-H "
                           "/DescendantFonts [<< /Type /Font /Subtype /CIDFontType0 /BaseFont /X /DW 1000 >>] >>";
  Doc d("", {{5, "<< /Font << /F1 6 0 R /J 7 0 R >> >>"}, {7, sjis}});
  std::string bytes, expected;
  for (int i = 0; i < 30000; ++i) {
    bytes += i % 3 == 0 ? "A" : "\x82\xA0";
    expected += i % 3 == 0 ? "A" : "\xE3\x81\x82";
  }
  std::string hex;
  for (unsigned char c : bytes) {
    static const char* digits = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  const auto g = d.Glyphs("BT /J 1 Tf 0 700 Td <" + hex + "> Tj ET");
  ASSERT_EQ(g.Glyphs.size(), 30000u);
  EXPECT_EQ(TextOf(g), expected);
  // The pen moves on from step to step: an em a glyph, half for ASCII.
  for (size_t i : {size_t{1}, size_t{16383}, size_t{29999}})
    EXPECT_FLOAT_EQ(g.Glyphs[i].X, static_cast<float>(i) - 0.5f * static_cast<float>((i + 2) / 3));

  // A simple font the same way, with the page's glyph cap far away.
  const auto h = d.Glyphs("BT /F1 10 Tf 0 700 Td (" + std::string(40000, 'x') + ") Tj ET");
  ASSERT_EQ(h.Glyphs.size(), 40000u);
  EXPECT_FLOAT_EQ(h.Glyphs.back().X, 39999 * 5.0f);
}

TEST(PDFContent, InlineImagesAreSkipped) {
  Doc d;
  // Image data that looks like operators and holds EI inside a word.
  using namespace std::string_literals;
  const std::string content = "BT /F1 10 Tf 10 700 Td (before) Tj ET BI /W 4 /H 1 /BPC 8 /CS /G ID "
                              "(x) Tj EIx \xff\x00 (y) Tj\nEI BT /F1 10 Tf 10 680 Td (after) Tj ET"s;
  EXPECT_EQ(d.Lines(content), (Strings{"before", "after"}));
  // An image that never ends takes the rest of the content with it.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (kept) Tj ET BI /W 1 ID (lost) Tj"), Strings{"kept"});
}

TEST(PDFContent, FormXObjectsWithTheirOwnResourcesAndMatrix) {
  const std::string form = Stream("BT /F2 10 Tf 0 0 Td (inform) Tj ET",
                                  "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [1 0 0 1 100 500] "
                                  "/Resources << /Font << /F2 6 0 R >> >>");
  // Form 8 draws itself and then form 9, which draws 8 again.
  const std::string loop = Stream("BT /F1 10 Tf 0 0 Td (loop) Tj ET /Self Do /Other Do",
                                  "/Subtype /Form /Resources << /Font << /F1 6 0 R >> /XObject << /Self 8 0 R "
                                  "/Other 9 0 R >> >>");
  const std::string back = Stream("0 -20 Td /Back Do BT /F1 10 Tf 0 -40 Td (back) Tj ET",
                                  "/Subtype /Form /Resources << /Font << /F1 6 0 R >> /XObject << /Back 8 0 R >> >>");
  const std::string image = Stream("xx", "/Subtype /Image /Width 1 /Height 1");
  Doc d("/Fm 7 0 R /Loop 8 0 R /Img 10 0 R", {{7, form}, {8, loop}, {9, back}, {10, image}});
  const auto g = d.Glyphs("/Fm Do /Img Do");
  EXPECT_EQ(TextOf(g), "inform");
  ASSERT_FALSE(g.Glyphs.empty());
  EXPECT_FLOAT_EQ(g.Glyphs[0].X, 100);
  EXPECT_FLOAT_EQ(g.Glyphs[0].Y, 292);
  // A form drawn twice shows twice.
  EXPECT_EQ(TextOf(d.Glyphs("/Fm Do 1 0 0 1 0 -20 cm /Fm Do")), "informinform");
  // Each form once per nesting chain: loop, back; nothing more.
  EXPECT_EQ(TextOf(d.Glyphs("/Loop Do")), "loopback");
  TPDFTextOptions shallow;
  shallow.MaxXObjectDepth = 1;
  EXPECT_EQ(TextOf(d.Glyphs("/Loop Do", 0, shallow)), "loop");
}

TEST(PDFContent, ReplacementTextStandsForItsGlyphs) {
  Doc d;
  // The span's glyphs give way to its text; nested spans and marked
  // content without properties change nothing.
  const auto g = d.Glyphs(
      "BT /F1 10 Tf 10 700 Td /Span << /ActualText <FEFF957F> >> BDC /P <</MCID 1>> BDC (ab) Tj EMC "
      "/Span << /ActualText (no) >> BDC (c) Tj EMC EMC /Artifact BMC (d) Tj EMC ET");
  EXPECT_EQ(TextOf(g), "\xE9\x95\xBF" "d");
  ASSERT_EQ(g.Glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(g.Glyphs[0].X, 10);
  EXPECT_FLOAT_EQ(g.Glyphs[0].Adv, 15);
  // A span without glyphs puts its text where the next glyph would go;
  // stray EMC and unclosed spans do no harm.
  EXPECT_EQ(d.Lines("EMC BT /F1 10 Tf 10 700 Td (one) Tj /Span <</ActualText (\\040)>> BDC EMC 20 0 Td (two) Tj "
                    "/Span <</ActualText (x)>> BDC"),
            Strings{"one two"});
}

TEST(PDFContent, DamagedContentGivesTextAsFarAsItGoes) {
  Doc d;
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (one) Tj ) } >> ] 1e999 99999999999999999999999 Tf 20 0 Td (two) Tj"),
            Strings{"one two"});
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td [(unclosed) Tj"), Strings{"unclosed"});
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (shown) Tj (never ends"), Strings{"shown"});
  // Unknown fonts and text before any Tf show nothing.
  EXPECT_TRUE(d.Lines("BT (none) Tj /F9 10 Tf (none) Tj ET").empty());
  // Huge matrices never reach the layout as infinities.
  const auto g = d.Glyphs("1e300 0 0 1e300 0 0 cm 1e300 0 0 1e300 0 0 cm BT /F1 1e300 Tf (x) Tj ET");
  for (const auto& p : g.Glyphs) {
    EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Size) && std::isfinite(p.Adv));
  }
  // The operator budget stops endless content.
  TPDFTextOptions few;
  few.MaxOperators = 6;
  EXPECT_EQ(TextOf(d.Glyphs("BT /F1 10 Tf (a) Tj (b) Tj (c) Tj (d) Tj (e) Tj", 0, few)), "abcd");
}

TEST(PDFContent, ManyTinyTextObjectsStayFast) {
  Doc d;
  std::string content;
  content.reserve(200000 * 40);
  for (int i = 0; i < 200000; ++i) content += "BT /F1 1 Tf " + std::to_string(i % 500) + " 5 Td (x) Tj ET\n";
  const auto start = std::chrono::steady_clock::now();
  const auto lines = d.Lines(content);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(lines.empty());
}

}  // namespace
}  // namespace lkw
