#include "lkword/readers/MSWFB2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
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

std::string Book(const std::string& Description, const std::string& Bodies) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
         "xmlns:l=\"http://www.w3.org/1999/xlink\"><description>" +
         Description + "</description>" + Bodies + "</FictionBook>";
}

using V = std::vector<std::string>;
using testing::LoadLines;
using testing::TextLines;

V Load(const std::string& Bytes, TMSTextFormating Format = tfPlainText) {
  return LoadLines<TFictionBook>(Bytes, Format);
}

TEST(FictionBookText, SectionsGiveAnEndLineEachInnerFirst) {
  EXPECT_EQ(Load(Book("", "<body><section><p>a</p><p>b</p></section><section><p>c</p><p>d</p></section></body>")),
            (V{"", "a", "b", "", "c", "d", "", ""}));
  EXPECT_EQ(Load(Book("", "<body><section><p>outer</p><section><p>inner</p></section></section></body>")),
            (V{"", "outer", "inner", "", "", ""}));
}

TEST(FictionBookText, EveryKindOfLine) {
  V lines = Load(Book("", "<body><title><p>Book</p></title><epigraph><p>Saying</p><text-author>Someone</text-author>"
                          "</epigraph><section><subtitle>Sub</subtitle><poem><title><p>Song</p></title><stanza>"
                          "<v>verse one</v><v>verse two</v></stanza><date>1901</date></poem><table><tr><th>h1</th>"
                          "<th>h2</th></tr><tr><td>c1</td><td>c2</td></tr></table><cite><p>The <emphasis>quick</emphasis> "
                          "<strong>brown <emphasis>fox</emphasis></strong> jumps<a l:href=\"#n1\" type=\"note\">[1]</a>"
                          " over\n   the <style name=\"x\">lazy</style> dog<sup>2</sup>.</p></cite>"
                          "<image l:href=\"#pic\"/></section></body>"));
  EXPECT_EQ(lines, (V{"", "Book", "Saying", "Someone", "Sub", "Song", "verse one", "verse two", "1901", "h1", "h2",
                      "c1", "c2", "The quick brown fox jumps[1] over the lazy dog2.", "", ""}));
}

TEST(FictionBookText, MainBodyFirstThenNotesInDocumentOrder) {
  V lines = Load(Book("", "<body name=\"notes\"><section><p>note</p></section></body>"
                          "<body><p>main</p></body><body name=\"comments\"><p>comment</p></body>"));
  EXPECT_EQ(lines, (V{"", "main", "note", "", "comment", ""}));
}

TEST(FictionBookText, EmptyLineAndOutputFormats) {
  const std::string book = Book("", "<body><p>a &lt;b&gt; &amp; {c} \\ é</p><empty-line/></body>");
  EXPECT_EQ(Load(book), (V{"", "a <b> & {c} \\ é", "\r\n", ""}));
  V html = Load(book, tfHTML);
  EXPECT_EQ(html[1], "<p>a &lt;b&gt; &amp; {c} \\ é</p>");
  EXPECT_EQ(html[2], "<br>\r\n");
  EXPECT_EQ(html.back(), "\r\n</body>\r\n</html>");
  V rtf = Load(book, tfRTF);
  EXPECT_EQ(rtf[1], "a <b> & \\{c\\} \\\\ \\u233?\\par ");
  EXPECT_EQ(rtf[2], "\r\n\\line ");
}

TEST(FictionBookText, EventsTellParagraphsEmptyLinesAndSectionEnds) {
  TFictionBook doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  TBytesStream s(Book("", "<body><section><p>a</p><empty-line/></section></body>"));
  doc.LoadFromStream(s);
  EXPECT_EQ(rec.Joined(), "<doc>|<p>|text 'a'|</p>|br|</section>|</doc>");
}

// Titles are headings as deep as their sections, the book's own title the
// first level; a subtitle is a level below its section's title. Numbers a
// book writes as text are its text, with no label added.
TEST(FictionBookText, TitlesAndSubtitlesAreHeadings) {
  TFictionBook doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  TBytesStream s(Book("", "<body><title><p>Book</p><p>Two</p></title><section><title><p>Ch</p></title>"
                          "<subtitle>Sub</subtitle><section><title><p>Inner</p></title><p>1. Text</p></section>"
                          "</section></body>"));
  doc.LoadFromStream(s);
  EXPECT_EQ(rec.Joined(), "<doc>|<h1>|text 'Book'|</p>|<h1>|text 'Two'|</p>|<h1>|text 'Ch'|</p>|<h2>|text 'Sub'|</p>|"
                          "<h2>|text 'Inner'|</p>|<p>|text '1. Text'|</p>|</section>|</section>|</doc>");
}

TEST(FictionBookText, ConvertSysCharEventSeesParagraphsAndFillsSectionEnds) {
  TFictionBook doc;
  std::vector<std::pair<TLKWordSysChar, std::string>> seen;
  doc.SetOnConvertSysChar([&](TObject*, TLKWordSysChar C, const WideString& Value, WideString& Result) {
    seen.emplace_back(C, WideToUtf8(Value));
    Result.assign(1, u'#');
  });
  EXPECT_EQ(LoadLines(doc, Book("", "<body><section><p>x</p></section></body>")), (V{"", "x", "#", ""}));
  EXPECT_EQ(seen, (std::vector<std::pair<TLKWordSysChar, std::string>>{{scUnknown, "x"}, {scParagraphEnd, ""}}));
}

TEST(FictionBookText, ParseItemsAndLimit) {
  TFictionBook doc;
  doc.SetParseItems({wpiSummaryInformation});
  EXPECT_EQ(LoadLines(doc, Book("<title-info><book-title>T</book-title></title-info>", "<body><p>text</p></body>")),
            (V{"", ""}));
  EXPECT_EQ(doc.SummaryInformation().Title(), u"T");

  TFictionBook limited;
  limited.SetMaxTextLength(8);
  EXPECT_EQ(LoadLines(limited, Book("", "<body><p>first line</p><p>second</p></body>")), (V{"", "first "}));

  // A book of more elements than allowed gives the text before the limit.
  TFictionBook few;
  few.SetMaxXMLNodes(5);  // FictionBook, description, body and two paragraphs
  EXPECT_EQ(LoadLines(few, Book("", "<body><p>one</p><p>two</p><p>three</p></body>")), (V{"", "one", "two", ""}));
  ASSERT_FALSE(few.Warnings().empty());
  EXPECT_EQ(few.Warnings().back().Message, "more than 5 elements; the rest was left out");
}

TEST(FictionBookMetadata, DescriptionFields) {
  TFictionBook doc;
  LoadLines(doc, Book("<title-info><genre>prose</genre><genre>poetry</genre>"
                 "<author><first-name>Anna</first-name><middle-name>S.</middle-name><last-name>Sea</last-name></author>"
                 "<author><last-name>Wind</last-name></author><author><nickname>Gull</nickname></author>"
                 "<book-title> The  Harbour </book-title><keywords>sea, light</keywords>"
                 "<annotation><p>One.</p><p>Two <emphasis>more</emphasis>.</p></annotation>"
                 "<date value=\"1998-07-01\">summer 1998</date></title-info>"
                 "<document-info><author><nickname>scan</nickname></author><program-used>hand</program-used>"
                 "<version>1.2</version></document-info>"
                 "<publish-info><book-name>Sea Tales</book-name><publisher>North</publisher></publish-info>",
                 "<body/>"));
  const TLKWordSummaryInformation& si = doc.SummaryInformation();
  EXPECT_EQ(WideToUtf8(si.Title()), "The Harbour");
  EXPECT_EQ(WideToUtf8(si.Author()), "Anna S. Sea; Wind; Gull");
  EXPECT_EQ(WideToUtf8(si.Category()), "prose");
  EXPECT_EQ(WideToUtf8(si.Keywords()), "sea, light");
  EXPECT_EQ(WideToUtf8(si.Comments()), "One. Two more.");
  EXPECT_EQ(si.Created(), EncodeDate(1998, 7, 1));
  EXPECT_EQ(WideToUtf8(si.Manager()), "scan");
  EXPECT_EQ(WideToUtf8(si.AppName()), "hand");
  EXPECT_EQ(WideToUtf8(si.RevNumber()), "1.2");
  EXPECT_EQ(WideToUtf8(si.Subject()), "Sea Tales");
  EXPECT_EQ(WideToUtf8(si.Company()), "North");
}

TEST(FictionBookMetadata, DateFromTextWithoutValueAndMissingParts) {
  TFictionBook doc;
  LoadLines(doc, Book("<title-info><date>2015-02-20</date></title-info>", "<body/>"));
  EXPECT_EQ(doc.SummaryInformation().Created(), EncodeDate(2015, 2, 20));
  EXPECT_EQ(doc.SummaryInformation().Author(), u"");
  LoadLines(doc, Book("<title-info><date>long ago</date></title-info>", "<body/>"));
  EXPECT_EQ(doc.SummaryInformation().Created(), 0);
}

TEST(FictionBookFiles, Windows1251BookWithNotesFirstAndCover) {
  TFictionBook doc;
  doc.LoadFromFile(kData + "/fb2/harbour-1251.fb2");
  V lines = TextLines(doc.Text());
  const V expected = {"", "Море помнит всё.", "Пословица", "Глава первая",
                      "Маяк стоял на скале, а [1] волны били о камни.", "* * *", "\r\n", "Песня", "Ветер с моря,",
                      "соль на губах.", "1901",
                      "Вложенная часть <тег> {скобки} \\ слэш.", "", "", "Имя", "Год", "Маяк", "1887", "Цитата.",
                      "Автор", "", "Примечания", "1", "Сноска о маяке.", "", ""};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Title()), "Гавань & маяк");
  EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Author()), "Анна Сергеевна Морская; Ветров; Lighthouse Keeper");
}

TEST(FictionBookBadInput, NotABookRaisesAfterTheHeader) {
  TFictionBook doc;
  doc.SetTextFormating(tfHTML);
  TBytesStream s(std::string("<html><body><p>x</p></body></html>"));
  EXPECT_THROW(doc.LoadFromStream(s), ECorruptError);
  ASSERT_EQ(doc.Text().Count(), 1);  // the header only
  TBytesStream empty{RawByteString()};
  EXPECT_THROW(doc.LoadFromStream(empty), ECorruptError);
}

TEST(FictionBookBadInput, MalformedXmlGivesPartialText) {
  V lines = Load("<FictionBook><body><section><p>one</p><p>two <emphasis>cut");
  EXPECT_EQ(lines, (V{"", "one", "two cut", "", ""}));
  // Deep nesting stays within the engine's bound.
  std::string deep = "<FictionBook><body>";
  for (int i = 0; i < 5000; ++i) deep += "<section>";
  deep += "<p>deep</p></body></FictionBook>";
  TFictionBook doc;
  LoadLines(doc, deep);
  EXPECT_FALSE(doc.Warnings().empty());
}

TEST(FictionBookBadInput, LargeBinaryIsNotKept) {
  std::string picture(8 << 20, 'A');
  for (size_t i = 76; i < picture.size(); i += 77) picture[i] = '\n';
  const std::string book =
      Book("<title-info><book-title>B</book-title></title-info>",
           "<body><p>text</p></body><binary id=\"c.jpg\" content-type=\"image/jpeg\">" + picture +
               "</binary><fb:binary xmlns:fb=\"x\" id=\"d\">" + picture.substr(0, 1000) + "</fb:binary>");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Load(book), (V{"", "text", ""}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(FictionBookZipped, OneBookInAZipReadsAsThatBook) {
  const std::string book = Book("<title-info><book-title>Zipped</book-title></title-info>",
                                "<body><section><p>one</p><p>two</p></section></body>");
  using M = std::vector<std::pair<std::string, std::string>>;
  const V expected = Load(book, tfHTML);
  for (bool deflated : {false, true}) {
    // Beside the book: a folder, a note, and the companion a macOS archiver adds.
    const std::string zip = testing::MakeZip(
        M{{"books/", ""}, {"readme.txt", "not a book"}, {"books/Story.FB2", book}, {"__MACOSX/books/._Story.FB2", "x"}},
        deflated);
    TBytesStream probe(zip);
    EXPECT_TRUE(TFictionBook::IsFictionBook(probe));
    TFictionBook doc;
    doc.SetTextFormating(tfHTML);
    EXPECT_EQ(LoadLines(doc, zip), expected);
    EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Title()), "Zipped");
  }
  // No book, or two: not a FictionBook, and loading says so after the header.
  for (const M& members : {M{{"a.txt", book}}, M{{"a.fb2", book}, {"b.fb2", book}}, M{}}) {
    const std::string zip = testing::MakeZip(members);
    TBytesStream probe(zip);
    EXPECT_FALSE(TFictionBook::IsFictionBook(probe));
    TFictionBook doc;
    TBytesStream s(zip);
    EXPECT_THROW(doc.LoadFromStream(s), Exception);
    EXPECT_EQ(doc.Text().Count(), 1);
  }
  // A zipped book that inflates beyond the limit is refused, not read.
  TFictionBook doc;
  doc.SetMaxDecompressedSize(100);
  TBytesStream s(testing::MakeZip(M{{"a.fb2", book}}, true));
  EXPECT_THROW(doc.LoadFromStream(s), Exception);
}

TEST(FictionBookDetect, RootElementIsFictionBook) {
  auto is = [](const std::string& s) {
    TBytesStream st(s);
    return TFictionBook::IsFictionBook(st);
  };
  EXPECT_TRUE(is("<?xml version=\"1.0\"?>\n<!-- c -->\n<!DOCTYPE x>\n<FictionBook xmlns=\"a\">"));
  EXPECT_TRUE(is("\xEF\xBB\xBF<fb:FictionBook>"));
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<FictionBook/>")) utf16 += std::string{c, '\0'};
  EXPECT_TRUE(is(utf16));
  EXPECT_FALSE(is("<html><FictionBook>"));
  EXPECT_FALSE(is("FictionBook"));
  EXPECT_FALSE(is("<?xml version=\"1.0\""));
  EXPECT_FALSE(is(""));
}

}  // namespace
}  // namespace lkw
