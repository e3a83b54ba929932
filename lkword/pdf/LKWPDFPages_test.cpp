#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"
#include "testing/EventRecorder.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

const std::string& kSep = kPageSeparator;

// A document whose pages show Contents; page attributes sit on the root node.
std::string Pages(const std::vector<std::string>& Contents, const std::string& RootExtra = "") {
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
            kHelveticaResources + " " + RootExtra + " >>";
  return Document(objs);
}

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

TEST(PDFPages, CommentsOfEncryptedFilesAreDecrypted) {
  // A direct annotation's string is encrypted with the page that holds it.
  TLKPDFReader r;
  LoadFile(r, "annot-rc4.pdf");
  ASSERT_EQ(r.AnnotationText().Count(), 1);
  EXPECT_EQ(WideToUtf8(r.AnnotationText().Items()[0]), "A direct note");
}

TEST(PDFPages, PagesLinesAndCommentsAreToldAsEvents) {
  // Page 1 has a line and a comment, page 2 nothing.
  const std::string pdf = Document(
      {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /Resources " + std::string(kHelveticaResources) + " >>"},
       {3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Annots [6 0 R] >>"},
       {4, "<< /Type /Page /Parent 2 0 R >>"},
       {5, Stream(Show("Alpha"))},
       {6, "<< /Subtype /Text /Rect [0 0 10 10] /Contents (Note here) >>"}});
  testing::TEventRecorder rec;
  TLKPDFReader r;
  r.AddDocumentEvents(&rec);
  Load(r, pdf);
  EXPECT_EQ(rec.Joined(),
            "<doc>|<page 1>|<story annotation>|<p>|text 'Note here'|</p>|</story annotation>|"
            "<p>|text 'Alpha'|</p>|</page 1>|<page 2>|</page 2>|</doc>");
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Alpha", "", kSep, ""}));
  ASSERT_EQ(r.AnnotationText().Count(), 1);
  EXPECT_EQ(WideToUtf8(r.AnnotationText().Items()[0]), "Note here");

  // A comment that reaches the limit ends the text before its page's
  // separator lines, whether the text goes to the list or to a sink.
  for (const bool sink : {false, true}) {
    TLKPDFReader cut;
    std::vector<std::string> sunk;
    if (sink) cut.SetTextSink([&](std::u16string_view Item) { sunk.push_back(WideToUtf8(Item)); });
    cut.SetMaxTextLength(5);
    Load(cut, pdf);
    EXPECT_EQ(sink ? sunk : Items(cut), std::vector<std::string>{""});
    ASSERT_EQ(cut.AnnotationText().Count(), 1);
    EXPECT_EQ(WideToUtf8(cut.AnnotationText().Items()[0]), "Note ");
  }
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

  // What lies outside the crop box (inherited like the media box) is not
  // shown; a crop box beside the page is taken for none.
  for (const auto& [crop, expected] : {std::pair{"[0 400 612 792]", "Kept"}, {"[700 0 900 100]", "Cropped"}}) {
    TLKPDFReader c;
    Load(c, Pages({Stream(Show("Kept") + " BT /F1 12 Tf 72 100 Td (Cropped) Tj ET")},
                  std::string("/MediaBox [0 0 612 792] /CropBox ") + crop));
    const std::vector<std::string> body = Body(c);
    EXPECT_EQ(std::find(body.begin(), body.end(), "Cropped") != body.end(), std::string(expected) == "Cropped") << crop;
  }

  // Two levels: the nearer node's entries win, a page's own over both, and
  // the second page of a node finds what the first one climbed for.
  const std::string twoLevels = Document(
      {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, "<< /Type /Pages /Kids [3 0 R] /Count 2 /MediaBox [0 0 500 700] /Resources << >> >>"},
       {3, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 /Resources " + std::string(kHelveticaResources) + " >>"},
       {4, "<< /Type /Page /Parent 3 0 R /Contents 6 0 R >>"},
       {5, "<< /Type /Page /Parent 3 0 R /Contents 7 0 R /MediaBox [0 0 300 800] >>"},
       {6, Stream(Show("Left"))},
       {7, Stream(Show("Right"))}});
  TLKPDFReader two;
  Load(two, twoLevels);
  ASSERT_EQ(two.Pages().Count(), 2);
  EXPECT_DOUBLE_EQ(two.Pages().GetPage(0)->Width(), 500);
  EXPECT_DOUBLE_EQ(two.Pages().GetPage(1)->Width(), 300);
  EXPECT_EQ(Body(two), (std::vector<std::string>{"", kSep, "Left", "", kSep, "Right"}));

  // A /Parent chain that comes back to the page, and a box that spans
  // nothing: the walk ends, the page keeps the default size.
  const std::string looped = Document(
      {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Parent 3 0 R >>"},
       {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 0 0] /Contents 4 0 R /Resources " +
               std::string(kHelveticaResources) + " >>"},
       {4, Stream(Show("x"))}});
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

// Pages 2 and 3 of four; pages 1 and 4 hold a stream that warns when it is
// decoded, which tells whether the range kept the reader off them.
std::string FourPagesDamagedAtTheEnds() {
  std::string broken = Deflate(Show("Lost words here") + std::string(200, ' '));
  broken = broken.substr(0, 6) + std::string(30, '\x55');
  return Pages({Stream(broken, "/Filter /FlateDecode"), Stream(Show("Two")), Stream(Show("Three")),
                Stream(broken, "/Filter /FlateDecode")});
}

TEST(PDFPages, PageRangeReadsOnlyItsPagesAndCountsAll) {
  const std::string pdf = FourPagesDamagedAtTheEnds();
  testing::TEventRecorder rec;
  TLKPDFReader r;
  r.AddDocumentEvents(&rec);
  r.SetPageRange(2, 3);
  Load(r, pdf);
  EXPECT_EQ(Body(r), (std::vector<std::string>{"", kSep, "Two", "", kSep, "Three"}));
  EXPECT_EQ(rec.Joined(), "<doc>|<page 2>|<p>|text 'Two'|</p>|</page 2>|<page 3>|<p>|text 'Three'|</p>|</page 3>|</doc>");
  EXPECT_EQ(r.PageCount(), 4);
  EXPECT_EQ(r.Pages().Count(), 2);
  EXPECT_FALSE(HasWarning(r, "damaged stream"));
  EXPECT_FALSE(r.Partial());

  // Open ends, an end past the last page; a range with no page in it gives
  // no page text and no complaint about a missing text layer.
  struct TCase {
    int32_t First, Last;
    std::vector<std::string> Lines;  // the body without its separators
  };
  for (const TCase& c : std::vector<TCase>{{3, 0, {"Three", "damaged"}},
                                           {0, 2, {"damaged", "Two"}},
                                           {3, 99, {"Three", "damaged"}},
                                           {5, 0, {}},
                                           {3, 2, {}},
                                           {-1, -1, {"damaged", "Two", "Three", "damaged"}}}) {
    TLKPDFReader p;
    p.SetPageRange(c.First, c.Last);
    Load(p, pdf);
    std::vector<std::string> lines;
    for (const std::string& line : Body(p))
      if (!line.empty() && line != kSep) lines.push_back(line);
    std::vector<std::string> expected;
    for (const std::string& line : c.Lines)
      if (line != "damaged") expected.push_back(line);
    EXPECT_EQ(lines, expected) << c.First << "-" << c.Last;
    const bool damagedRead = std::find(c.Lines.begin(), c.Lines.end(), "damaged") != c.Lines.end();
    EXPECT_EQ(HasWarning(p, "damaged stream"), damagedRead) << c.First << "-" << c.Last;
    EXPECT_FALSE(HasWarning(p, "no text layer")) << c.First << "-" << c.Last;
    EXPECT_EQ(p.PageCount(), 4);
  }
}

TEST(PDFPages, PageBreakKindsInPlainTextOnly) {
  const std::string pdf = Pages({Stream(Show("Alpha")), Stream(""), Stream(Show("Gamma"))});
  struct TCase {
    TLKWPageBreak Kind;
    int32_t First;
    std::vector<std::string> Body;
  };
  for (const TCase& c : std::vector<TCase>{{pbRule, 0, {"", kSep, "Alpha", "", kSep, "", "", kSep, "Gamma"}},
                                           // The first page read gets none, an empty page a line of its own.
                                           {pbFormFeed, 0, {"Alpha", "\f", "\fGamma"}},
                                           {pbFormFeed, 2, {"", "\fGamma"}},
                                           {pbNone, 0, {"Alpha", "Gamma"}}}) {
    TLKPDFReader r;
    r.SetPageBreak(c.Kind);
    r.SetPageRange(c.First, 0);
    Load(r, pdf);
    EXPECT_EQ(Body(r), c.Body) << c.Kind << " from " << c.First;
  }
  // A form feed would be a stray control character in markup.
  TLKPDFReader html;
  html.SetTextFormating(tfHTML);
  html.SetPageBreak(pbFormFeed);
  Load(html, pdf);
  const std::vector<std::string> items = Items(html);
  ASSERT_GE(items.size(), 4u);
  EXPECT_EQ(items[2], kSep + "<br>");
  for (const std::string& item : items) EXPECT_EQ(item.find('\f'), std::string::npos);
}

TEST(PDFPages, PageTextsComeFromThePagesEvents) {
  // Two lines on page 1 with a comment, an empty page 2, markup characters
  // on page 3: each page's own lines, unescaped, without the comment.
  const std::string pdf = Document(
      {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 7 0 R] /Count 3 /Resources " + std::string(kHelveticaResources) + " >>"},
       {3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Annots [6 0 R] >>"},
       {4, "<< /Type /Page /Parent 2 0 R >>"},
       {5, Stream("BT /F1 12 Tf 72 700 Td (Alpha) Tj 0 -14 Td (Beta) Tj ET")},
       {6, "<< /Subtype /Text /Rect [0 0 10 10] /Contents (Note here) >>"},
       {7, "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>"},
       {8, Stream(Show("a<b & {c}"))}});
  const auto texts = [](const TLKPDFReader& R) {
    std::vector<std::string> out;
    for (const WideString& t : R.PageTexts()) out.push_back(WideToUtf8(t));
    return out;
  };
  for (const TMSTextFormating format : {tfPlainText, tfRTF, tfHTML}) {
    for (const bool sink : {false, true}) {
      TLKPDFReader r;
      r.SetTextFormating(format);
      r.SetKeepPageTexts(true);
      if (sink) r.SetTextSink([](std::u16string_view) {});
      Load(r, pdf);
      EXPECT_EQ(texts(r), (std::vector<std::string>{"Alpha\nBeta\n", "", "a<b & {c}\n"})) << format << sink;
    }
  }
  TLKPDFReader range;
  range.SetKeepPageTexts(true);
  range.SetPageRange(2, 3);
  Load(range, pdf);
  EXPECT_EQ(texts(range), (std::vector<std::string>{"", "a<b & {c}\n"}));
  // Reloading starts afresh; not asked for, nothing is kept.
  range.SetPageRange(0, 0);
  Load(range, Pages({Stream(Show("x"))}));
  EXPECT_EQ(texts(range), std::vector<std::string>{"x\n"});
  TLKPDFReader plain;
  Load(plain, pdf);
  EXPECT_TRUE(plain.PageTexts().empty());
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

  // A page whose content is not in the file is no scan: what was lost is said.
  Load(r, Document({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                    {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                    {3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>"}}));
  EXPECT_TRUE(HasWarning(r, "content stream is missing"));
  EXPECT_FALSE(HasWarning(r, "no text layer"));
}

TEST(PDFPages, GlyphsWithoutUnicodeAreCounted) {
  // Identity-H codes of a font with no ToUnicode and no program to ask.
  const auto doc = [](const std::string& Content) {
    return Document(
        {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
         {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
         {3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>"},
         {4, Stream(Content)},
         {5, "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [6 0 R] >>"},
         {6, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /CIDSystemInfo << /Registry (Adobe) "
             "/Ordering (Identity) /Supplement 0 >> >>"}});
  };
  TLKPDFReader r;
  Load(r, doc("BT /F1 12 Tf 72 700 Td <00410042> Tj ET"));
  EXPECT_EQ(r.UnmappedGlyphs(), 2);
  EXPECT_TRUE(HasWarning(r, "2 glyphs have no known Unicode mapping"));
  // The page has a text layer, only an unreadable one: it is no scan.
  EXPECT_FALSE(HasWarning(r, "no text layer"));

  // Neither is a page whose strings name no font there is.
  Load(r, Pages({Stream("BT /F9 12 Tf 72 700 Td (lost) Tj (too) Tj ET")}));
  EXPECT_TRUE(HasWarning(r, "text shown without a font was left out (2 strings)"));
  EXPECT_FALSE(HasWarning(r, "no text layer"));
  // Glyphs in a span with replacement text lose nothing.
  Load(r, doc("BT /F1 12 Tf 72 700 Td /Span <</ActualText (AB)>> BDC <00410042> Tj EMC <0043> Tj ET"));
  EXPECT_EQ(r.UnmappedGlyphs(), 1);
}

}  // namespace
}  // namespace lkw
