#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"

namespace lkw {
namespace {

using pdftest::Builder;
using pdftest::Deflate;
using pdftest::Load;
using pdftest::Stream;

std::string TestFile(const std::string& Name) { return std::string(LKWORD_TESTDATA) + "/pdf/" + Name; }

const char* const kFont = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                          "/Encoding /WinAnsiEncoding >> >> >>";

std::string Show(const std::string& Text) { return "BT /F1 12 Tf 72 700 Td (" + Text + ") Tj ET"; }

// A document whose pages show Texts; page attributes sit on the root node.
std::string Pages(const std::vector<std::string>& Contents, const std::string& RootExtra = "",
                  const std::string& Info = "") {
  std::map<int, std::string> objs;
  objs[1] = "<< /Type /Catalog /Pages 2 0 R >>";
  std::string kids;
  for (size_t i = 0; i < Contents.size(); ++i) {
    const int page = 10 + 2 * static_cast<int>(i);
    kids += std::to_string(page) + " 0 R ";
    objs[page] = "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(page + 1) + " 0 R >>";
    objs[page + 1] = Contents[i];
  }
  objs[2] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(Contents.size()) + " /Resources " +
            kFont + " " + RootExtra + " >>";
  std::string trailer = "/Root 1 0 R";
  if (!Info.empty()) {
    objs[3] = Info;
    trailer += " /Info 3 0 R";
  }
  return Builder().Objects(objs).Table(trailer).Bytes();
}

std::vector<std::string> Items(TLKPDFReader& R) {
  std::vector<std::string> out;
  for (const WideString& s : R.Text().Items()) out.push_back(WideToUtf8(s));
  return out;
}

// The items between the header and the footer (empty ones in plain text).
std::vector<std::string> Body(TLKPDFReader& R) {
  std::vector<std::string> items = Items(R);
  if (items.size() < 2) return {};
  return std::vector<std::string>(items.begin() + 1, items.end() - 1);
}

bool HasWarning(const TLKPDFReader& R, std::string_view Part) {
  for (const auto& w : R.Warnings())
    if (w.Message.find(Part) != std::string::npos) return true;
  return false;
}

const std::string kSep = "--------------------";

TEST(PDFPages, EachPageFollowsItsSeparatorLines) {
  TLKPDFReader r;
  Load(r, Pages({Stream(Show("Alpha")), Stream(""), Stream(Show("Gamma"))}));
  EXPECT_EQ(r.PageCount(), 3);
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Alpha", "", kSep, "", "", kSep, "Gamma"}));
  EXPECT_EQ(WideToUtf8(r.Pages().GetPlainText()), "\r\n" + kSep + "\r\nAlpha\r\n" + kSep + "\r\n\r\n" + kSep + "\r\nGamma");
  EXPECT_FALSE(HasWarning(r, "no text layer"));
  // Items are released once the text is out, unless asked to stay.
  EXPECT_EQ(r.Pages().GetPage(0)->Items().Count(), 0);
  TLKPDFReader keep;
  keep.SetKeepPageItems(true);
  Load(keep, Pages({Stream(Show("Alpha"))}));
  EXPECT_GT(keep.Pages().GetPage(0)->Items().Count(), 0);
}

TEST(PDFPages, TextSinkGetsThePagesAsTheyAreRead) {
  TLKPDFReader r;
  std::vector<std::string> sunk;
  r.SetTextSink([&](std::u16string_view Item) { sunk.push_back(WideToUtf8(Item)); });
  Load(r, Pages({Stream(Show("Alpha")), Stream(Show("Beta"))}));
  EXPECT_EQ(sunk, (std::vector<std::string>{"", "", kSep, "Alpha", "", kSep, "Beta", ""}));
  EXPECT_EQ(r.Text().Count(), 0);
  EXPECT_TRUE(r.Pages().GetPage(0)->Lines().empty());  // nothing kept per page either
}

// A page whose label is followed by the given annotations; objects 20 on
// are theirs (AnnotObjects, by number), and a catalog (1) among them
// replaces the plain one.
std::string AnnotatedPage(const std::string& Annots, const std::map<int, std::string>& AnnotObjects) {
  std::map<int, std::string> objs = AnnotObjects;
  objs.emplace(1, "<< /Type /Catalog /Pages 2 0 R >>");
  objs[2] = std::string("<< /Type /Pages /Kids [10 0 R] /Count 1 /Resources ") + kFont + " >>";
  objs[10] = "<< /Type /Page /Parent 2 0 R /Contents 11 0 R /Annots [" + Annots + "] >>";
  objs[11] = Stream(Show("Applicant:") + " BT /F1 12 Tf 72 600 Td (Below.) Tj ET");
  return Builder().Objects(objs).Table("/Root 1 0 R").Bytes();
}

// An appearance form showing Text in a 100 x 10 box, with the page's font.
std::string Appearance(const std::string& Text) {
  return Stream("/Tx BMC BT /F1 8 Tf 2 2 Td (" + Text + ") Tj ET EMC",
                std::string("/Type /XObject /Subtype /Form /BBox [0 0 100 10] /Resources ") + kFont);
}

TEST(PDFPages, AnnotationsShowWhatTheirAppearancesDraw) {
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
            (std::vector<std::string>{"", kSep, "Applicant: Jane Roe", "", "Checked", "", "Below.", "", "Jane Roe"}));

  // Hosts may leave them out.
  TLKPDFReader plain;
  TPDFTextOptions options;
  options.AnnotationText = false;
  plain.SetTextOptions(options);
  Load(plain, pdf);
  EXPECT_EQ(Body(plain), (std::vector<std::string>{"", kSep, "Applicant:", "", "Below."}));
}

TEST(PDFPages, FieldsWithoutAppearancesShowTheirValues) {
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

TEST(PDFPages, FieldsDrawnFromTheirValuesWhenTheFormAsks) {
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
  EXPECT_EQ(Body(stored), (std::vector<std::string>{"", kSep, "Applicant: Old Name", "", "Checked", "", "Below.", "",
                                                    "Stale"}));
  for (const char* need : {"true", "9 0 R"}) {
    SCOPED_TRACE(need);
    objs[1] = std::string("<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [20 0 R] /NeedAppearances ") + need +
              " >> >>";
    objs[9] = "true";
    TLKPDFReader r;
    Load(r, AnnotatedPage(annots, objs));
    EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Applicant: Jane Roe", "", "Checked", "", "Below."}));
  }
}

TEST(PDFPages, CommentsOfMarkupAnnotations) {
  // A note and a highlight have comments; links, fields, pop-ups and typed
  // text (on the page) do not count, nor do empty ones.
  const std::string pdf = AnnotatedPage(
      "20 0 R 21 0 R 22 0 R 23 0 R 24 0 R 25 0 R 26 0 R",
      {{20, "<< /Subtype /Text /Rect [0 0 10 10] /Contents <FEFF0043006800650063006B00A0002100> >>"},
       {21, "<< /Subtype /Highlight /Rect [0 0 10 10] /Contents (a < b & c) /Popup 22 0 R >>"},
       {22, "<< /Subtype /Popup /Rect [0 0 10 10] /Contents (popup) >>"},
       {23, "<< /Subtype /Link /Rect [0 0 10 10] /Contents (link) >>"},
       {24, "<< /Subtype /Widget /Rect [0 0 10 10] /Contents (field) >>"},
       {25, "<< /Subtype /FreeText /Rect [0 0 10 10] /Contents (typed) >>"},
       {26, "<< /Subtype /Square /Rect [0 0 10 10] /Contents ( ) >>"}});
  TLKPDFReader r;
  Load(r, pdf);
  std::vector<std::string> comments;
  for (const WideString& s : r.AnnotationText().Items()) comments.push_back(WideToUtf8(s));
  EXPECT_EQ(comments, (std::vector<std::string>{"Check\xC2\xA0!", "a < b & c"}));
  TLKPDFReader html;
  html.SetTextFormating(tfHTML);
  Load(html, pdf);
  ASSERT_EQ(html.AnnotationText().Count(), 2);
  EXPECT_EQ(WideToUtf8(html.AnnotationText().Items()[1]), "a &lt; b &amp; c<br>");
}

TEST(PDFPages, DamagedAnnotationsAreSkipped) {
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
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Applicant:", "", "Below."}));
}

TEST(PDFPages, MarkupOutputEscapesTheLines) {
  const std::string pdf = Pages({Stream(Show("a<b & {c}"))});
  TLKPDFReader html;
  html.SetTextFormating(tfHTML);
  Load(html, pdf);
  std::vector<std::string> items = Items(html);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_NE(items.front().find("<html>"), std::string::npos);
  EXPECT_EQ(items[2], kSep + "<br>");
  EXPECT_EQ(items[3], "a&lt;b &amp; {c}<br>");
  EXPECT_NE(items.back().find("</html>"), std::string::npos);

  TLKPDFReader rtf;
  rtf.SetTextFormating(tfRTF);
  Load(rtf, pdf);
  items = Items(rtf);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items.front().rfind("{\\rtf1", 0), 0u);
  EXPECT_EQ(items[3], "a<b & \\{c\\}\\par");
}

TEST(PDFPages, AttributesAreInheritedAndParentLoopsEnd) {
  TLKPDFReader r;
  r.SetKeepPageItems(true);
  Load(r, Pages({Stream(Show("Inherited"))}, "/MediaBox [0 0 595.5 842.25] /Rotate -270"));
  ASSERT_EQ(r.Pages().Count(), 1);
  const TLKPDFPage* page = r.Pages().GetPage(0);
  EXPECT_DOUBLE_EQ(page->Width(), 595.5);
  EXPECT_DOUBLE_EQ(page->Height(), 842.25);
  EXPECT_EQ(Body(r).back(), "Inherited");

  // Two levels: the nearer node's entries win, a page's own over both, and
  // the second page of a node finds what the first one climbed for.
  const std::string twoLevels =
      Builder()
          .Objects({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                    {2, "<< /Type /Pages /Kids [3 0 R] /Count 2 /MediaBox [0 0 500 700] /Resources << >> >>"},
                    {3, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 /Resources " + std::string(kFont) +
                            " >>"},
                    {4, "<< /Type /Page /Parent 3 0 R /Contents 6 0 R >>"},
                    {5, "<< /Type /Page /Parent 3 0 R /Contents 7 0 R /MediaBox [0 0 300 400] >>"},
                    {6, Stream(Show("Left"))},
                    {7, Stream(Show("Right"))}})
          .Table("/Root 1 0 R")
          .Bytes();
  TLKPDFReader two;
  Load(two, twoLevels);
  ASSERT_EQ(two.Pages().Count(), 2);
  EXPECT_DOUBLE_EQ(two.Pages().GetPage(0)->Width(), 500);
  EXPECT_DOUBLE_EQ(two.Pages().GetPage(1)->Width(), 300);
  EXPECT_EQ(Body(two), (std::vector<std::string>{"", kSep, "Left", "", kSep, "Right"}));

  // A /Parent chain that comes back to the page, and a box that spans
  // nothing: the walk ends, the page keeps the default size.
  const std::string looped = Builder()
                                 .Objects({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                           {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Parent 3 0 R >>"},
                                           {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 0 0] /Contents 4 0 R "
                                               "/Resources " + std::string(kFont) + " >>"},
                                           {4, Stream(Show("x"))}})
                                 .Table("/Root 1 0 R")
                                 .Bytes();
  TLKPDFReader l;
  Load(l, looped);
  ASSERT_EQ(l.Pages().Count(), 1);
  EXPECT_GT(l.Pages().GetPage(0)->Width(), l.Pages().GetPage(0)->Left());
  EXPECT_EQ(Body(l).back(), "x");
}

TEST(PDFPages, DamagedPagesDoNotTakeTheOthersWithThem) {
  // Page 2's compressed content breaks off after a few bytes.
  std::string broken = Deflate(Show("Lost words here") + std::string(200, ' '));
  broken = broken.substr(0, 6) + std::string(30, '\x55');
  TLKPDFReader r;
  Load(r, Pages({Stream(Show("First")), Stream(broken, "/Filter /FlateDecode"), Stream(Show("Third"))}));
  const std::vector<std::string> items = Body(r);
  ASSERT_GE(items.size(), 7u);
  EXPECT_EQ(items[2], "First");
  EXPECT_EQ(items.back(), "Third");
  EXPECT_TRUE(HasWarning(r, "damaged stream"));
}

TEST(PDFPages, TextLimitStopsTheWalkButNotTheCount) {
  TLKPDFReader r;
  r.SetMaxTextLength(30);
  Load(r, Pages({Stream(Show("One")), Stream(Show("Two")), Stream(Show("Three")), Stream(Show("Four"))}));
  EXPECT_EQ(r.PageCount(), 4);
  EXPECT_LT(r.Pages().Count(), 4);
}

TEST(PDFPages, PagesWithoutTextAreReported) {
  TLKPDFReader r;
  Load(r, Pages({Stream("q 100 0 0 100 0 0 cm /Im1 Do Q"), Stream("")}));
  EXPECT_EQ(r.PageCount(), 2);
  EXPECT_TRUE(HasWarning(r, "no text layer"));
}

TEST(PDFPages, GlyphsWithoutUnicodeAreCounted) {
  // Identity-H codes of a font with no ToUnicode and no program to ask.
  const std::string pdf =
      Builder()
          .Objects({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                    {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                    {3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>"},
                    {4, Stream("BT /F1 12 Tf 72 700 Td <00410042> Tj ET")},
                    {5, "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [6 0 R] >>"},
                    {6, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /CIDSystemInfo << /Registry (Adobe) "
                        "/Ordering (Identity) /Supplement 0 >> >>"}})
          .Table("/Root 1 0 R")
          .Bytes();
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_EQ(r.UnmappedGlyphs(), 2);
  EXPECT_TRUE(HasWarning(r, "2 glyphs have no known Unicode mapping"));
}

TEST(PDFDates, PDFDateForms) {
  const auto at = [](int y, int mo, int d, int h, int mi, int s) { return EncodeDateTime(y, mo, d, h, mi, s, 0); };
  const auto utc = [&](int y, int mo, int d, int h, int mi, int s) { return UTCToLocal(at(y, mo, d, h, mi, s)); };
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030Z"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030+02'00'"), utc(2024, 3, 5, 8, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030-05'30"), utc(2024, 3, 5, 15, 50, 30), 1e-9);
  // Producers' variants of the zone, and no "D:".
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030Z00'00'"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20261206073256Z'"), utc(2026, 12, 6, 7, 32, 56), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"20240305102030+00'00"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  // Partial dates; no zone means the local time as written.
  EXPECT_NEAR(PDFDateToDateTime(u"D:2024"), at(2024, 1, 1, 0, 0, 0), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305"), at(2024, 3, 5, 0, 0, 0), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:202403051020"), at(2024, 3, 5, 10, 20, 0), 1e-9);
  for (const char16_t* bad : {u"", u"D:", u"D:24", u"D:2024131", u"D:20241301", u"D:20240230", u"D:20240305256000",
                              u"yesterday", u"D:20240305102030+25'00'"})
    EXPECT_EQ(PDFDateToDateTime(bad), 0) << WideToUtf8(bad);
}

TEST(PDFDates, XMPDateForms) {
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20:30Z"), UTCToLocal(EncodeDateTime(2024, 3, 5, 10, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20:30.125+01:00"),
              UTCToLocal(EncodeDateTime(2024, 3, 5, 9, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20-01:00"), UTCToLocal(EncodeDateTime(2024, 3, 5, 11, 20, 0, 0)),
              1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05"), EncodeDate(2024, 3, 5), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024"), EncodeDate(2024, 1, 1), 1e-9);
  EXPECT_EQ(XMPDateToDateTime("2024-02-30"), 0);
  EXPECT_EQ(XMPDateToDateTime("March"), 0);
}

TEST(PDFMetadata, XMPElementsAndAttributes) {
  const std::string xmp =
      "<?xpacket begin='\xEF\xBB\xBF'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF>"
      "<rdf:Description rdf:about='' pdf:Producer='Writer &amp; Co' xmp:CreateDate='2024-03-05T10:20:30Z'>"
      "<dc:title><rdf:Alt><rdf:li xml:lang='de'>Titel</rdf:li>"
      "<rdf:li xml:lang='x-default'>The\n   Title &#x2014; &#233;t&#xE9;</rdf:li></rdf:Alt></dc:title>"
      "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>"
      "<dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two</rdf:li></rdf:Bag></dc:subject>"
      "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>About it</rdf:li></rdf:Alt></dc:description>"
      "<pdf:Keywords><!-- none --></pdf:Keywords><xmp:ModifyDate><rdf:Seq/></xmp:ModifyDate>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>";
  TPDFXMPInfo info;
  ParseXMPMetadata(xmp, info);
  EXPECT_EQ(WideToUtf8(info.Title), "The Title \u2014 \u00e9t\u00e9");
  EXPECT_EQ(WideToUtf8(info.Author), "Ann; Bob");
  EXPECT_EQ(WideToUtf8(info.Keywords), "one, two");
  EXPECT_EQ(WideToUtf8(info.Subject), "About it");
  EXPECT_EQ(WideToUtf8(info.Producer), "Writer & Co");
  EXPECT_NEAR(info.Created, UTCToLocal(EncodeDateTime(2024, 3, 5, 10, 20, 30, 0)), 1e-9);
  EXPECT_EQ(info.Modified, 0);

  // A UTF-16 packet, and elements that never close.
  std::string utf16 = "\xFE\xFF";
  for (const char c : std::string("<pdf:Producer>P16</pdf:Producer><dc:title><rdf:Alt><rdf:li>")) {
    utf16 += '\0';
    utf16 += c;
  }
  TPDFXMPInfo wide;
  ParseXMPMetadata(utf16, wide);
  EXPECT_EQ(WideToUtf8(wide.Producer), "P16");
  EXPECT_TRUE(wide.Title.empty());
}

TEST(PDFMetadata, InformationDictionaryWithXMPForMissingFields) {
  const std::string xmp = "<x:xmpmeta><rdf:RDF><rdf:Description><pdf:Producer>From XMP</pdf:Producer>"
                          "<dc:title><rdf:Alt><rdf:li>XMP title</rdf:li></rdf:Alt></dc:title>"
                          "<xmp:CreateDate>2020-01-02T03:04:05Z</xmp:CreateDate></rdf:Description></rdf:RDF></x:xmpmeta>";
  const std::string pdf =
      Builder()
          .Objects({{1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"},
                    {2, "<< /Type /Pages /Kids [] /Count 0 >>"},
                    // UTF-16BE through octal escapes; a referenced string; a key in another case.
                    {3, "<< /Title (\\376\\377\\000H\\004\\020) /Author 4 0 R /keywords (a, b) "
                        "/CreationDate (D:20240305102030+01'00') /ModDate (D:2025) /Producer 6 0 R >>"},
                    {4, "<FEFF00C90076>"},
                    {5, Stream(xmp, "/Type /Metadata /Subtype /XML")},
                    {6, "42"}})
          .Table("/Root 1 0 R /Info 3 0 R")
          .Bytes();
  TLKPDFReader r;
  Load(r, pdf);
  const TLKWordSummaryInformation& s = r.SummaryInformation();
  EXPECT_EQ(WideToUtf8(s.Title()), "H\u0410");
  EXPECT_EQ(WideToUtf8(s.Author()), "\u00c9v");
  EXPECT_EQ(WideToUtf8(s.Keywords()), "a, b");
  EXPECT_EQ(WideToUtf8(s.AppName()), "From XMP");  // the dictionary's value is no string
  EXPECT_NEAR(s.Created(), UTCToLocal(EncodeDateTime(2024, 3, 5, 9, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(s.LastSaved(), EncodeDate(2025, 1, 1), 1e-9);
  EXPECT_TRUE(s.Subject().empty());

  TLKPDFReader textOnly;
  textOnly.SetParseItems(TLKWParseItems{wpiText});
  Load(textOnly, pdf);
  EXPECT_TRUE(textOnly.SummaryInformation().Title().empty());
  EXPECT_EQ(textOnly.SummaryInformation().Created(), 0);
}

TEST(PDFMetadata, EncryptedInformationStrings) {
  // Each file's Info says Title (Hello) and Producer (make.sh), encrypted
  // with the dictionary's object number (the cleartext-metadata file too).
  for (const auto& [name, password] :
       std::vector<std::pair<std::string, std::string>>{{"rc4-40-empty.pdf", ""},
                                                        {"rc4-128-user.pdf", "user"},
                                                        {"aes128-user-cleartextmeta.pdf", "\xC3\xA4rger"},
                                                        {"aes256-user.pdf", "owner"},
                                                        {"objstm-aes256.pdf", ""}}) {
    SCOPED_TRACE(name);
    TLKPDFReader r;
    r.SetPassword(password);
    r.LoadFromFile(TestFile(name));
    EXPECT_EQ(WideToUtf8(r.SummaryInformation().Title()), "Hello");
    EXPECT_EQ(WideToUtf8(r.SummaryInformation().AppName()), "make.sh");
    EXPECT_EQ(r.PageCount(), 1);
  }
  TLKPDFReader wrong;
  wrong.SetPassword("nope");
  EXPECT_THROW(wrong.LoadFromFile(TestFile("rc4-128-user.pdf")), EPDFPasswordError);
}

TEST(PDFPages, EncryptedFieldValuesAreDecrypted) {
  // Field values are strings of their field objects, encrypted with them;
  // the appearances are streams.
  TLKPDFReader r;
  r.SetPassword("user");
  r.LoadFromFile(TestFile("annot-form-aes256.pdf"));
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Name of applicant: Jane Q. Public", "", "X I agree", "",
                                               "Town: Oslo"}));
}

}  // namespace
}  // namespace lkw
