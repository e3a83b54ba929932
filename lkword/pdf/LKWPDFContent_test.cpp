#include "lkword/pdf/LKWPDFContent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

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
    std::map<int, std::string> objs = OnePage("");
    objs[3] = "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources 5 0 R >>";
    objs[5] = "<< /Font << /F1 6 0 R >> " + (XObjects.empty() ? "" : "/XObject << " + XObjects + " >>") + " >>";
    objs[6] = HalfEmFont();
    for (const auto& [n, body] : Extra) objs[n] = body;
    Load(FReader, Document(objs));
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

// Each glyph as "X,Y,Size,Adv", separated by blanks.
std::string Placement(const TPDFPageGlyphs& G) {
  std::string out;
  char buf[96];
  for (const auto& g : G.Glyphs) {
    std::snprintf(buf, sizeof buf, "%s%g,%g,%g,%g", out.empty() ? "" : " ", g.X, g.Y, g.Size, g.Adv);
    out += buf;
  }
  return out;
}

using Strings = std::vector<std::string>;

TEST(PDFContent, TextPositioningOperators) {
  Doc d;
  // Td, TD (sets the leading), T*, ' and " (which also sets Tw and Tc).
  const auto g = d.Glyphs("BT /F1 10 Tf 100 700 Td (a) Tj 0 -20 TD (b) Tj T* (c) Tj (d) ' 3 1 (e) \" ET");
  EXPECT_EQ(TextOf(g), "abcde");
  EXPECT_EQ(Placement(g), "100,92,10,5 100,112,10,5 100,132,10,5 100,152,10,5 100,172,10,5");
  // Tm replaces the matrix; its scale makes the size.
  EXPECT_EQ(Placement(d.Glyphs("BT /F1 1 Tf 12 0 0 12 50 600 Tm (x) Tj ET")), "50,192,12,6");
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
  EXPECT_EQ(Placement(g), "20,772,20,10 10,782,10,5");
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
  // (Set small, so that the whole string lies on the page.)
  const auto g = d.Glyphs("BT /J 0.01 Tf 0 700 Td <" + Hex(bytes) + "> Tj ET");
  ASSERT_EQ(g.Glyphs.size(), 30000u);
  EXPECT_EQ(TextOf(g), expected);
  // The pen moves on from step to step: an em a glyph, half for ASCII.
  for (size_t i : {size_t{1}, size_t{16383}, size_t{29999}})
    EXPECT_NEAR(g.Glyphs[i].X, 0.01 * (static_cast<double>(i) - 0.5 * static_cast<double>((i + 2) / 3)), 1e-3);

  // A simple font the same way, with the page's glyph cap far away.
  const auto h = d.Glyphs("BT /F1 0.01 Tf 0 700 Td (" + std::string(40000, 'x') + ") Tj ET");
  ASSERT_EQ(h.Glyphs.size(), 40000u);
  EXPECT_NEAR(h.Glyphs.back().X, 39999 * 0.005, 1e-3);
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
  EXPECT_EQ(TextOf(d.Glyphs("1 0 0 1 0 400 cm /Loop Do")), "loopback");
  TPDFTextOptions shallow;
  shallow.MaxXObjectDepth = 1;
  EXPECT_EQ(TextOf(d.Glyphs("1 0 0 1 0 400 cm /Loop Do", 0, shallow)), "loop");
}

TEST(PDFContent, TextOutsideTheClipIsLeftOut) {
  Doc d;
  // A rectangle clip hides what lies beyond it until Q restores the clip
  // saved by q; a glyph that reaches into the clip shows.
  EXPECT_EQ(TextOf(d.Glyphs("q 100 600 200 50 re W n BT /F1 10 Tf 110 620 Td (in) Tj 0 -100 Td (out) Tj "
                            "0 75 Td (edge) Tj ET Q BT /F1 10 Tf 110 500 Td (after) Tj ET")),
            "inedgeafter");
  // Clips intersect; the path clips when it is painted, whatever paints it.
  EXPECT_EQ(TextOf(d.Glyphs("0 0 300 792 re W* f 200 0 412 792 re W n BT /F1 10 Tf 100 400 Td (a) Tj 150 0 Td "
                            "(b) Tj 200 0 Td (c) Tj ET")),
            "b");
  // A path that is no rectangle clips to its bounding box (a point outside
  // the triangle but inside its box shows), under the matrix in force.
  EXPECT_EQ(TextOf(d.Glyphs("q 2 0 0 2 0 0 cm 50 50 m 150 50 l 100 150 l h W n 0.5 0 0 0.5 0 0 cm BT /F1 10 Tf "
                            "250 250 Td (box) Tj 0 100 Td (above) Tj ET Q")),
            "box");
  // Text beside the page shows nowhere.
  EXPECT_EQ(TextOf(d.Glyphs("BT /F1 10 Tf 700 400 Td (off) Tj -690 0 Td (on) Tj ET")), "on");
  // A cell's text cut off at its edge is not one word with the next cell's.
  EXPECT_EQ(d.Lines("q 100 600 24 20 re W n BT /F1 10 Tf 101 605 Td (overflowing) Tj ET Q "
                    "q 124 600 60 20 re W n BT /F1 10 Tf 124.5 605 Td (next) Tj ET Q"),
            (std::vector<std::string>{"overf next"}));
}

TEST(PDFContent, FormsShowOnlyInsideTheirBox) {
  // The box [0 0 50 20] through the matrix: 100..200 by 500..540 on the
  // page. A clip the form widens with q/Q stays its own.
  const std::string form = Stream("Q q BT /F1 10 Tf 2 5 Td (shown) Tj 0 -40 Td (below) Tj 60 40 Td (beside) Tj ET",
                                  "/Subtype /Form /BBox [0 0 50 20] /Matrix [2 0 0 2 100 500] "
                                  "/Resources << /Font << /F1 6 0 R >> >>");
  Doc d("/Fm 7 0 R", {{7, form}});
  const auto g = d.Glyphs("/Fm Do BT /F1 10 Tf 100 100 Td (page) Tj ET");
  EXPECT_EQ(TextOf(g), "shownpage");
  ASSERT_FALSE(g.Glyphs.empty());
  EXPECT_FLOAT_EQ(g.Glyphs[0].X, 104);
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
  // Control characters in the text are dropped.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td /Span <</ActualText <FEFF0007004F>>> BDC (O) Tj EMC ET"), Strings{"O"});
}

TEST(PDFContent, DamagedContentGivesTextAsFarAsItGoes) {
  Doc d;
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (one) Tj ) } >> ] 1e999 99999999999999999999999 Tf 20 0 Td (two) Tj"),
            Strings{"one two"});
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td [(unclosed) Tj"), Strings{"unclosed"});
  // A stray delimiter between a string and its operator is skipped.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (stray) ) Tj [(in) } (array)] TJ"), Strings{"strayinarray"});
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (shown) Tj (never ends"), Strings{"shown"});
  // A string whose closing parenthesis was lost swallows the lines after
  // it; shown, they would be content syntax as text. A string that merely
  // spans lines is text.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td (one) Tj (lost\n20 0 Td (two) Tj\n) Tj 30 0 Td (three) Tj ET"),
            Strings{"one three"});
  EXPECT_NE(TextOf(d.Glyphs("BT /F1 10 Tf (first (inner) part\nand the second part) Tj ET")).find("second part"),
            std::string::npos);
  // Operators written inside a TJ array are its elements; a '[' left open
  // gives way to the next text object.
  EXPECT_EQ(d.Lines("BT /F1 10 Tf 10 700 Td [(Grand) 0.0 Tc -2000 (lines) 0.0 Tc] TJ ET"), Strings{"Grand lines"});
  EXPECT_EQ(d.Lines("[(lost) 5 w BT /F1 10 Tf 10 700 Td (after) Tj ET"), Strings{"after"});
  // A damaged or zero size still selects the font, and the words stay apart.
  for (const char* tf : {"/F1 . Tf", "/F1 Tf", "/F1 0 Tf", "/F1 10 Tf /F1 - Tf"})
    EXPECT_EQ(d.Lines(std::string("BT ") + tf + " 10 700 Td (Hello world) Tj ET"), Strings{"Hello world"}) << tf;
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

// Whole documents from here on: annotations are drawn after the page's
// content, fields from their appearances or values.
TEST(PDFAnnotations, AnnotationsShowWhatTheirAppearancesDraw) {
  // A filled text field beside its label, a check box in its "on" state and
  // a note added in a viewer; a hidden field and a check box whose state
  // has no appearance show nothing.
  const std::string pdf = AnnotatedPage(
      "20 0 R 22 0 R 25 0 R 27 0 R 28 0 R",
      {{20, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Jane Roe) /Rect [200 695 400 715] "
            "/AP << /N 21 0 R >> >>"},
       {21, Appearance("Jane Roe")},
       {22, "<< /Subtype /Widget /FT /Btn /Rect [72 640 82 650] /AS /Yes /AP << /N << /Yes 23 0 R /Off 24 0 R >> >> >>"},
       {23, Appearance("Checked")},
       {24, Appearance("Unchecked")},
       {25, "<< /Subtype /FreeText /Rect [72 500 300 520] /AP 26 0 R >>"},
       {26, "<< /N 21 0 R >>"},
       {27, "<< /Subtype /Widget /F 2 /Rect [72 400 300 420] /AP << /N 24 0 R >> >>"},
       {28, "<< /Subtype /Widget /Rect [72 300 300 320] /AS /Missing /AP << /N << /Yes 23 0 R >> >> >>"}});
  TLKPDFReader r;
  Load(r, pdf);
  // Each where it reads: the field's value after its label.
  EXPECT_EQ(Body(r),
            (std::vector<std::string>{"", kPageSeparator, "Applicant: Jane Roe", "", "Checked", "", "Below.", "", "Jane Roe"}));

  // Hosts may leave them out.
  TLKPDFReader plain;
  TPDFTextOptions options;
  options.AnnotationText = false;
  plain.SetTextOptions(options);
  Load(plain, pdf);
  EXPECT_EQ(Body(plain), (std::vector<std::string>{"", kPageSeparator, "Applicant:", "", "Below."}));
}

TEST(PDFAnnotations, FieldsWithoutAppearancesShowTheirValues) {
  // Values left for the viewer to draw: beside the label (UTF-16, the type
  // and value on the parent field), in a tall box over two lines, a list's
  // choices; a button and an empty field show nothing.
  const std::string pdf = AnnotatedPage(
      "20 0 R 22 0 R 23 0 R 24 0 R 25 0 R",
      {{20, "<< /Subtype /Widget /Parent 21 0 R /Rect [200 695 400 715] /DA (/Helv 9 Tf 0 g) >>"},
       {21, "<< /FT /Tx /T (name) /V <FEFF005A006F00EB> /Kids [20 0 R] >>"},
       {22, "<< /Subtype /Widget /FT /Tx /V (First line\rSecond line) /Rect [72 620 300 660] >>"},
       {23, "<< /Subtype /Widget /FT /Ch /V [(Red) (Blue)] /Rect [72 560 300 575] >>"},
       {24, "<< /Subtype /Widget /FT /Btn /V /Yes /Rect [72 540 90 555] >>"},
       {25, "<< /Subtype /Widget /FT /Tx /V () /Rect [72 520 300 535] >>"}});
  TLKPDFReader r;
  Load(r, pdf);
  const std::vector<std::string> body = Body(r);
  auto has = [&](const std::string& line) { return std::find(body.begin(), body.end(), line) != body.end(); };
  EXPECT_TRUE(has("Applicant: Zo\xC3\xAB")) << ::testing::PrintToString(body);
  EXPECT_TRUE(has("First line") && has("Second line")) << ::testing::PrintToString(body);
  EXPECT_TRUE(has("Red, Blue")) << ::testing::PrintToString(body);
  EXPECT_FALSE(has("Yes"));
  EXPECT_EQ(body.back(), "Red, Blue");
}

TEST(PDFAnnotations, FieldsDrawnFromTheirValuesWhenTheFormAsks) {
  // A form saved with values its appearances do not show yet: viewers draw
  // text and choice fields anew from the values, so does the reader; a
  // check box keeps its appearance, a field without a value shows nothing.
  std::map<int, std::string> objs = {
      {20, "<< /Subtype /Widget /FT /Tx /V (Jane Roe) /Rect [200 695 400 715] /AP << /N 21 0 R >> >>"},
      {21, Appearance("Old Name")},
      {22, "<< /Subtype /Widget /FT /Btn /Rect [72 640 82 650] /AS /Yes /AP << /N << /Yes 23 0 R >> >> >>"},
      {23, Appearance("Checked")},
      {24, "<< /Subtype /Widget /FT /Tx /Rect [72 560 300 575] /AP << /N 25 0 R >> >>"},
      {25, Appearance("Stale")}};
  const std::string annots = "20 0 R 22 0 R 24 0 R";
  TLKPDFReader stored;
  Load(stored, AnnotatedPage(annots, objs));
  EXPECT_EQ(Body(stored), (std::vector<std::string>{"", kPageSeparator, "Applicant: Old Name", "", "Checked", "", "Below.", "",
                                                    "Stale"}));
  for (const char* need : {"true", "9 0 R"}) {
    SCOPED_TRACE(need);
    objs[1] = std::string("<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [20 0 R] /NeedAppearances ") + need +
              " >> >>";
    objs[9] = "true";
    TLKPDFReader r;
    Load(r, AnnotatedPage(annots, objs));
    EXPECT_EQ(Body(r), (std::vector<std::string>{"", kPageSeparator, "Applicant: Jane Roe", "", "Checked", "", "Below."}));
  }
}

TEST(PDFAnnotations, AppearancesShowOnlyInsideTheirRectangles) {
  // A scrolled text field draws all its lines and its rectangle shows the
  // first two; a list box's options are all read, as they are what it
  // offers (the type may come from the parent field).
  const std::string lines = "BT /F1 8 Tf 2 12 Td (First) Tj 0 -10 Td (Second) Tj 0 -10 Td (Third) Tj 0 -10 Td (Fourth) Tj ET";
  const std::string form = "/Subtype /Form /BBox [0 0 100 20] /Resources " + std::string(kHelveticaResources);
  const std::string pdf = AnnotatedPage(
      "20 0 R 22 0 R",
      {{20, "<< /Subtype /Widget /FT /Tx /Rect [72 400 272 440] /AP << /N 21 0 R >> >>"},
       {21, Stream("/Tx BMC q 1 1 98 18 re W n " + lines + " Q EMC", form)},
       {22, "<< /Subtype /Widget /Parent 24 0 R /Rect [72 300 172 320] /AP << /N 23 0 R >> >>"},
       {23, Stream("q 1 1 98 18 re W n BT /F1 8 Tf 2 12 Td (Red) Tj 0 -9 Td (Green) Tj 0 -9 Td (Blue) Tj ET Q", form)},
       {24, "<< /FT /Ch /Kids [22 0 R] >>"}});
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kPageSeparator, "Applicant:", "", "Below.", "", "First", "Second",
                                               "", "Red", "Green", "Blue"}));
}

TEST(PDFAnnotations, DamagedAnnotationsAreSkipped) {
  // Not a dictionary, no rectangle, an empty box, a state dictionary that is
  // a number, an appearance that is no form, a loop back to the page.
  const std::string pdf =
      AnnotatedPage("20 0 R 5 21 0 R [1 2] 22 0 R 23 0 R 24 0 R 25 0 R 10 0 R",
                    {{20, "<< /Subtype /Widget /AP << /N 30 0 R >> >>"},
                     {21, "<< /Subtype /Widget /Rect [0 0 10 10] /AP << /N 31 0 R >> >>"},
                     {22, "<< /Subtype /Widget /Rect [0 0 10 10] /AP << /N 7 >> >>"},
                     {23, "<< /Subtype /Widget /Rect [0 0 10 10] /AP << /N 11 0 R >> >>"},
                     {24, "<< /Subtype /Widget /Rect [0 0 10 10] /AS /On /AP << /N << /On 10 0 R >> >> >>"},
                     {25, "<< /Subtype /Widget /Rect (x) /AP << /N 30 0 R >> >>"},
                     {30, Appearance("Shown")},
                     {31, Stream("BT /F1 8 Tf (Flat) Tj ET", "/Subtype /Form /BBox [5 5 5 5]")}});
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kPageSeparator, "Applicant:", "", "Below."}));
}

TEST(PDFAnnotations, EncryptedFieldValuesAreDecrypted) {
  // Field values are strings of their field objects, encrypted with them;
  // the appearances are streams.
  TLKPDFReader r;
  LoadFile(r, "annot-form-aes256.pdf", "user");
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kPageSeparator, "Name of applicant: Jane Q. Public", "", "X I agree", "",
                                               "Town: Oslo"}));
}

TEST(PDFItems, SortItemsTopToBottomThenLeftToRight) {
  TLKPDFItems items;
  for (const auto& [left, top] : {std::pair{300.0, 101.0}, {72.0, 200.0}, {72.0, 100.0}}) {
    TLKPDFItem* i = items.AddItem(itText);
    i->SetLeft(left);
    i->SetTop(top);
  }
  items.SortItems();
  EXPECT_EQ(items.GetItem(0)->Left(), 72);
  EXPECT_EQ(items.GetItem(1)->Left(), 300);
  EXPECT_EQ(items.GetItem(2)->Top(), 200);
}

}  // namespace
}  // namespace lkw
