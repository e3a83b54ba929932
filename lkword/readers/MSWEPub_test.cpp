#include "lkword/readers/MSWEPub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/ZipBuilder.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

const std::string kData = LKWORD_TESTDATA;
using V = std::vector<std::string>;
using testing::LoadLines;
using testing::TextLines;
using TMembers = std::vector<std::pair<std::string, std::string>>;

std::string Zip(const TMembers& Members) { return testing::MakeZip(Members); }

std::string Container(const std::string& OpfPath) {
  return "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
         "<rootfiles><rootfile full-path=\"" +
         OpfPath + "\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
}

std::string Opf(const std::string& Metadata, const std::string& Manifest, const std::string& Spine) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
         "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:opf=\"http://www.idpf.org/2007/opf\">" +
         Metadata + "</metadata><manifest>" + Manifest + "</manifest><spine>" + Spine + "</spine></package>";
}

std::string Item(const std::string& Id, const std::string& Href, const std::string& Type = "application/xhtml+xml",
                 const std::string& Extra = "") {
  return "<item id=\"" + Id + "\" href=\"" + Href + "\" media-type=\"" + Type + "\"" + Extra + "/>";
}

std::string Ref(const std::string& Id) { return "<itemref idref=\"" + Id + "\"/>"; }

std::string Xhtml(const std::string& Body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
         "<head><title>not text</title><style>p { color: red }</style></head><body>" +
         Body + "</body></html>";
}

// A book with its package document at OEBPS/content.opf.
std::string Book(const std::string& Metadata, const std::string& Manifest, const std::string& Spine,
                 const TMembers& Files) {
  TMembers m = {{"mimetype", "application/epub+zip"},
                {"META-INF/container.xml", Container("OEBPS/content.opf")},
                {"OEBPS/content.opf", Opf(Metadata, Manifest, Spine)}};
  m.insert(m.end(), Files.begin(), Files.end());
  return Zip(m);
}

// One chapter holding Body.
std::string Chapter(const std::string& Body) {
  return Book("<dc:title>T</dc:title>", Item("c1", "c1.xhtml"), Ref("c1"), {{"OEBPS/c1.xhtml", Xhtml(Body)}});
}

V Load(const std::string& Bytes, TMSTextFormating Format = tfPlainText) { return LoadLines<TLKWEPub>(Bytes, Format); }

std::string Cover(TLKWEPub& Doc) {
  return std::string(reinterpret_cast<const char*>(Doc.CoverImage().Memory()),
                     static_cast<size_t>(Doc.CoverImage().Size()));
}

TEST(EPubText, SpineOrderAndOnlySpineDocuments) {
  const std::string book =
      Book("", Item("nav", "nav.xhtml", "application/xhtml+xml", " properties=\"nav\"") + Item("c2", "c2.xhtml") +
                   Item("c1", "c1.xhtml") + Item("css", "s.css", "text/css"),
           Ref("c1") + Ref("c2"),
           {{"OEBPS/nav.xhtml", Xhtml("<nav><ol><li>Contents</li></ol></nav>")},
            {"OEBPS/c1.xhtml", Xhtml("<p>one</p>")},
            {"OEBPS/c2.xhtml", Xhtml("<p>two</p>")}});
  EXPECT_EQ(Load(book), (V{"", "one", "two", ""}));
}

TEST(EPubText, HrefsAreResolvedAndRepeatsReadOnce) {
  TMembers files = {{"OEBPS/Text/Chapter 1.xhtml", Xhtml("<p>first</p>")}};
  TMembers m = {{"mimetype", "application/epub+zip"},
                {"META-INF/container.xml", Container("OEBPS/pkg/content.opf")},
                {"OEBPS/pkg/content.opf",
                 Opf("", Item("a", "../Text/Chapter%201.xhtml#top") + Item("b", "../Text/Chapter%201.xhtml"),
                     Ref("a") + Ref("b") + Ref("a"))},
                files[0]};
  EXPECT_EQ(Load(Zip(m)), (V{"", "first", ""}));
}

TEST(EPubText, OutputFormatsAndEscaping) {
  const std::string book = Chapter("<h2>Head &amp; {x}</h2><p>a &lt;b&gt; é</p><pre>p  re</pre>");
  V html = Load(book, tfHTML);
  ASSERT_EQ(html.size(), 5u);
  EXPECT_EQ(html[1], "<h2>Head &amp; {x}</h2>");
  EXPECT_EQ(html[2], "<p>a &lt;b&gt; é</p>");
  EXPECT_EQ(html[3], "<pre>p  re</pre>");
  V rtf = Load(book, tfRTF);
  EXPECT_EQ(rtf[1], "Head & \\{x\\}\\par ");
  EXPECT_EQ(rtf[2], "a <b> \\u233?\\par ");
  TLKWEPub doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  TBytesStream s(book);
  doc.LoadFromStream(s);
  EXPECT_EQ(rec.Joined(), "<doc>|<h2>|text 'Head & {x}'|</p>|<p>|text 'a <b> \xC3\xA9'|</p>|<pre>|text 'p  re'|</p>|</doc>");
}

// List items begin with the label the list gives them: numbers from start,
// type, reversed and value, bullets by their style; nested lists are a
// level deeper, and a label goes only on an item's first line. A
// navigation document's lists show no labels.
TEST(EPubText, ListItemsAreLabelled) {
  EXPECT_EQ(Load(Chapter("<ol start=\"3\"><li>Three</li><li value=\"9\"><p>Nine</p><p>more</p></li><li>Ten"
                         "<ol type=\"a\"><li>Sub</li><li>Sub</li></ol></li></ol>"
                         "<ol type=\"I\" reversed=\"\"><li>A</li><li>B</li><li>C</li></ol>"
                         "<OL style=\"list-style-type: lower-roman\"><li>r</li><li><ul><li>inner</li></ul></li></OL>"
                         "<ul><li>dot<ul style=\"list-style: square\"><li>sq</li></ul></li></ul>"
                         "<ul style=\"list-style-type:none\"><li>bare</li></ul><ol type=\"A\" start=\"0\"><li>z</li></ol>"
                         "<ol start=\"-99999999999999999999\"><li>neg</li></ol><h2>Head</h2>"
                         "<nav><ol><li>Contents<ul><li>Part</li></ul></li></ol></nav>")),
            (V{"", "3. Three", "9. Nine", "more", "10. Ten", "a. Sub", "b. Sub", "III. A", "II. B", "I. C", "i. r",
               "\u2022 inner", "\u2022 dot", "\u25AA sq", "bare", "0. z", "-1099511627776. neg", "Head", "Contents", "Part", ""}));
  TLKWEPub doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  TBytesStream s(Chapter("<h3>H</h3><ol><li>x<ol><li>y</li></ol></li></ol>"));
  doc.LoadFromStream(s);
  EXPECT_EQ(rec.Joined("<h3>"), "<h3>|text 'H'|</p>|<li 1 '1.'>|text 'x'|</p>|<li 2 '1.'>|text 'y'|</p>|</doc>");
}

TEST(EPubText, LimitAndSummaryOnly) {
  TLKWEPub limited;
  limited.SetMaxTextLength(5);
  // The joined text (items and their line ends) is cut at the limit.
  EXPECT_EQ(LoadLines(limited, Chapter("<p>first</p><p>second</p>")), (V{"", "fir"}));

  // A chapter of more elements than allowed gives its text before the limit.
  TLKWEPub few;
  few.SetMaxXMLNodes(20);
  std::string many;
  for (int i = 0; i < 40; ++i) many += "<p>" + std::to_string(i) + "</p>";
  const V partial = LoadLines(few, Chapter(many));
  ASSERT_GT(partial.size(), 5u);
  EXPECT_EQ(partial[1], "0");
  EXPECT_LT(partial.size(), 25u);
  ASSERT_FALSE(few.Warnings().empty());
  EXPECT_EQ(few.Warnings().back().Message, "OEBPS/c1.xhtml: more than 20 elements; the rest was left out");

  TLKWEPub doc;
  doc.SetParseItems({wpiSummaryInformation});
  const std::string book = Book("<dc:title>Only</dc:title><meta name=\"cover\" content=\"pic\"/>",
                                Item("pic", "p.png", "image/png") + Item("c1", "c1.xhtml"), Ref("c1"),
                                {{"OEBPS/p.png", "PNGDATA"}, {"OEBPS/c1.xhtml", Xhtml("<p>x</p>")}});
  EXPECT_EQ(LoadLines(doc, book), V{});
  EXPECT_EQ(doc.SummaryInformation().Title(), u"Only");
  EXPECT_EQ(Cover(doc), "PNGDATA");
}

TEST(EPubMetadata, RepeatedElementsJoinedAndDates) {
  TLKWEPub doc;
  LoadLines(doc, Book("<dc:title>Main</dc:title><dc:title>Subtitle</dc:title><dc:creator opf:role=\"aut\">Ann</dc:creator>"
                 "<dc:creator>Bob</dc:creator><dc:subject>sea</dc:subject><dc:subject>light</dc:subject>"
                 "<dc:publisher>Harbour Press</dc:publisher>"
                 "<dc:description>&lt;p&gt;An &lt;b&gt;almanac&lt;/b&gt;.&lt;/p&gt;"
                 "&lt;p&gt;More&lt;br/&gt;text&lt;/p&gt;</dc:description>"
                 "<dc:date opf:event=\"publication\">2010-05-06</dc:date>"
                 "<dc:date opf:event=\"creation\">2009</dc:date>"
                 "<dc:date opf:event=\"modification\">2011-01-02</dc:date>"
                 "<meta name=\"calibre:timestamp\" content=\"2020-01-01T00:00:00+00:00\"/>",
                 "", "", {}));
  const TLKWordSummaryInformation& si = doc.SummaryInformation();
  EXPECT_EQ(WideToUtf8(si.Title()), "Main; Subtitle");
  EXPECT_EQ(WideToUtf8(si.Author()), "Ann; Bob");
  EXPECT_EQ(WideToUtf8(si.Subject()), "sea; light");
  EXPECT_EQ(WideToUtf8(si.Company()), "Harbour Press");
  EXPECT_EQ(WideToUtf8(si.Comments()), "An almanac. More text");
  EXPECT_EQ(si.Created(), EncodeDate(2009, 1, 1));
  EXPECT_EQ(si.LastSaved(), EncodeDate(2011, 1, 2));

  LoadLines(doc, Book("<meta name=\"calibre:timestamp\" content=\"2020-01-01T00:00:00+00:00\"/>"
                 "<meta property=\"dcterms:modified\">2021-02-03T04:05:06Z</meta>",
                 "", "", {}));
  EXPECT_NEAR(doc.SummaryInformation().Created(), UTCToLocal(EncodeDate(2020, 1, 1)), 1e-9);
  EXPECT_NEAR(doc.SummaryInformation().LastSaved(), UTCToLocal(EncodeDateTime(2021, 2, 3, 4, 5, 6, 0)), 1e-9);
}

TEST(EPubMetadata, EveryRootFileIsRead) {
  TMembers m = {{"META-INF/container.xml",
                 "<container><rootfiles><rootfile full-path=\"a.opf\"/><rootfile full-path=\"b/b.opf\"/>"
                 "<rootfile full-path=\"missing.opf\"/></rootfiles></container>"},
                {"a.opf", Opf("<dc:title>A</dc:title>", Item("x", "x.xhtml"), Ref("x"))},
                {"x.xhtml", Xhtml("<p>from a</p>")},
                {"b/b.opf", Opf("<dc:title>B</dc:title>", Item("x", "x.xhtml"), Ref("x"))},
                {"b/x.xhtml", Xhtml("<p>from b</p>")}};
  TLKWEPub doc;
  EXPECT_EQ(LoadLines(doc, Zip(m)), (V{"", "from a", "from b", ""}));
  EXPECT_EQ(doc.SummaryInformation().Title(), u"A; B");
  EXPECT_EQ(doc.Warnings().size(), 1u);
}

TEST(EPubCover, FromCoverMetaPropertiesOrDefaultPath) {
  TLKWEPub doc;
  // EPUB 2: a meta names the manifest item.
  LoadLines(doc, Book("<meta name=\"cover\" content=\"cov\"/>",
                 Item("cov", "../img/c.jpg", "image/jpeg") + Item("other", "images/cover.jpg", "image/jpeg"), "",
                 {{"img/c.jpg", std::string("\xFF\xD8\x00jpeg", 7)}, {"OEBPS/images/cover.jpg", "default"}}));
  EXPECT_EQ(Cover(doc), std::string("\xFF\xD8\x00jpeg", 7));
  EXPECT_EQ(doc.CoverPath(), "img/c.jpg");
  EXPECT_EQ(doc.CoverMediaType(), "image/jpeg");
  // EPUB 3: the item's properties.
  LoadLines(doc, Book("", Item("a", "a.png", "image/png") + Item("b", "b.png", "image/png", " properties=\"x cover-image\""),
                 "", {{"OEBPS/a.png", "A"}, {"OEBPS/b.png", "B"}}));
  EXPECT_EQ(Cover(doc), "B");
  // Neither: the usual place, when it exists.
  LoadLines(doc, Book("", "", "", {{"OEBPS/images/cover.jpg", "default"}}));
  EXPECT_EQ(Cover(doc), "default");
  // A meta naming a page, not a picture; and a meta holding a path.
  LoadLines(doc, Book("<meta name=\"cover\" content=\"page\"/>", Item("page", "cover.xhtml"), "",
                 {{"OEBPS/cover.xhtml", Xhtml("<p>c</p>")}}));
  EXPECT_EQ(doc.CoverImage().Size(), 0);
  LoadLines(doc, Book("<meta name=\"cover\" content=\"pics/front.png\"/>", "", "", {{"OEBPS/pics/front.png", "F"}}));
  EXPECT_EQ(Cover(doc), "F");
  LoadLines(doc, Book("", "", "", {}));
  EXPECT_EQ(doc.CoverImage().Size(), 0);
  EXPECT_EQ(doc.CoverPath(), "");
}

TEST(EPubBadInput, EncryptedContentRaisesFontsDoNot) {
  const std::string enc = "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
                          "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData><enc:CipherData>"
                          "<enc:CipherReference URI=\"OEBPS/";
  const std::string end = "\"/></enc:CipherData></enc:EncryptedData></encryption>";
  auto book = [&](const std::string& encrypted) {
    return Book("", Item("c1", "c1.xhtml") + Item("f", "f.otf", "font/otf"), Ref("c1"),
                {{"OEBPS/c1.xhtml", Xhtml("<p>secret</p>")}, {"META-INF/encryption.xml", enc + encrypted + end}});
  };
  EXPECT_EQ(Load(book("f.otf")), (V{"", "secret", ""}));
  try {
    Load(book("c1.xhtml"));
    FAIL() << "no exception";
  } catch (const EEncryptionNotSupportedError& e) {
    EXPECT_STREQ(e.what(), "The EPUB book is encrypted: OEBPS/c1.xhtml cannot be read.");
  }
}

TEST(EPubBadInput, MissingPartsGivePartialTextWithWarnings) {
  TLKWEPub doc;
  // No container: the first package document in the archive.
  EXPECT_EQ(LoadLines(doc, Zip({{"x/book.opf", Opf("", Item("c", "c.xhtml"), Ref("c"))}, {"x/c.xhtml", Xhtml("<p>t</p>")}})),
            (V{"", "t", ""}));
  EXPECT_EQ(doc.Warnings().size(), 1u);
  // A spine entry naming nothing, a missing chapter, a chapter that is not
  // well-formed.
  EXPECT_EQ(LoadLines(doc, Book("", Item("c1", "c1.xhtml") + Item("c2", "gone.xhtml") + Item("c3", "c3.xhtml"),
                           Ref("nowhere") + Ref("c1") + Ref("c2") + Ref("c3"),
                           {{"OEBPS/c1.xhtml", Xhtml("<p>one")}, {"OEBPS/c3.xhtml", "<p>three <b>bold</p><div>x"}})),
            (V{"", "one", "three bold", "x", ""}));
  EXPECT_EQ(doc.Warnings().size(), 2u);
  // No spine: manifest order, without the navigation document.
  const std::string nav = Item("n", "n.xhtml", "application/xhtml+xml", " properties=\"nav\"");
  EXPECT_EQ(LoadLines(doc, Book("", nav + Item("c", "c.xhtml"),
                           "", {{"OEBPS/n.xhtml", Xhtml("<p>nav</p>")}, {"OEBPS/c.xhtml", Xhtml("<p>c</p>")}})),
            (V{"", "c", ""}));
}

TEST(EPubBadInput, NoPackageRaises) {
  TLKWEPub doc;
  EXPECT_THROW(LoadLines(doc, Zip({{"mimetype", "application/epub+zip"}})), ECorruptError);
  EXPECT_THROW(LoadLines(doc, "not a zip at all"), ECorruptError);
  ASSERT_EQ(doc.Text().Count(), 1);  // the header only
}

TEST(EPubBadInput, DecompressedSizeIsBounded) {
  TLKWEPub doc;
  doc.SetMaxDecompressedSize(1000);
  EXPECT_THROW(LoadLines(doc, Chapter("<p>" + std::string(2000, 'x') + "</p>")), ELimitError);
}

TEST(EPubDetect, MimetypeOrContainer) {
  auto is = [](const std::string& s) {
    TBytesStream st(s);
    return TLKWEPub::IsEPub(st);
  };
  EXPECT_TRUE(is(Chapter("<p>x</p>")));
  EXPECT_TRUE(is(Zip({{"META-INF/container.xml", Container("a.opf")}})));
  EXPECT_FALSE(is(Zip({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", "<x/>"}})));
  EXPECT_FALSE(is("PK\x03\x04 but nothing else"));
  EXPECT_FALSE(is(""));
}

TEST(EPubFiles, PandocBooksBothGenerations) {
  const std::string cover = ReadFileBytes(kData + "/epub/cover.png");
  V first;
  for (const char* name : {"/epub/tidewater-epub3.epub", "/epub/tidewater-epub2.epub"}) {
    SCOPED_TRACE(name);
    TLKWEPub doc;
    doc.LoadFromFile(kData + name);
    V lines = TextLines(doc.Text());
    lines.erase(std::remove(lines.begin(), lines.end(), ""), lines.end());
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines[0], "The Tidewater Almanac");
    EXPECT_EQ(lines[4], "Spring Tides");
    EXPECT_EQ(lines[5], "The spring tide rose higher than the old wall this year.1");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "tide  03:12  1.8 m"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "1. Measured at the harbour gauge.↩︎"), lines.end());
    if (first.empty()) first = lines;
    else EXPECT_EQ(lines, first);
    EXPECT_EQ(Cover(doc), cover);
    const TLKWordSummaryInformation& si = doc.SummaryInformation();
    EXPECT_EQ(WideToUtf8(si.Author()), "Mara Quillfeather; Tobias Renn");
    EXPECT_EQ(WideToUtf8(si.Subject()), "Coastal weather notes");
    EXPECT_EQ(si.Created(), EncodeDate(2021, 3, 14));
  }
}

}  // namespace
}  // namespace lkw
