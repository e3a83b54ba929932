#include "lkword/readers/MSWOO.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "lkword/containers/LKWXML.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"
#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/ZipBuilder.h"

namespace lkw {
namespace {

std::string TestFile(const std::string& name) { return testing::TestDataPath("odf/" + name); }

using TMembers = std::vector<std::pair<std::string, std::string>>;

std::string Zip(const TMembers& members) { return testing::MakeZip(members); }

// content.xml around a body of the given kind ("text", "spreadsheet", ...).
std::string Content(const std::string& body, const std::string& kind = "text", const std::string& styles = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
         "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\">"
         "<office:automatic-styles>" +
         styles + "</office:automatic-styles><office:body><office:" + kind + ">" + body + "</office:" + kind +
         "></office:body></office:document-content>";
}

std::string Package(const std::string& content, const std::string& meta = "",
                    const std::string& mime = "application/vnd.oasis.opendocument.text") {
  TMembers m = {{"mimetype", mime}, {"content.xml", content}};
  if (!meta.empty()) m.push_back({"meta.xml", meta});
  return Zip(m);
}

using TResult = testing::TLoadResult;
using Lines = testing::TLines;
using testing::TextLines;

template <typename T = TOpenOfficeTextDocument>
TResult Load(const std::string& bytes, TMSTextFormating fmt = tfPlainText, T* doc = nullptr) {
  T local;
  T& d = doc ? *doc : local;
  d.SetTextFormating(fmt);
  return testing::TryLoadLines(d, bytes);
}

std::unique_ptr<TCustomOpenOfficeDocument> MakeDocument(const std::string& Kind) {
  if (Kind == "spreadsheet") return std::make_unique<TOpenOfficeSpreadsheet>();
  if (Kind == "presentation") return std::make_unique<TOpenOfficePresentation>();
  return std::make_unique<TOpenOfficeTextDocument>();
}

// ---------------------------------------------------------------------------
// Paragraph lines

TEST(OpenDocumentText, BodiesGiveTheirLines) {
  // The header and the footer are always there, empty in plain text.
  EXPECT_EQ(Load(Package(Content("<text:p>One</text:p>"))).Lines, (Lines{"", "One", ""}));
  const struct {
    const char* What;
    std::string Body;
    Lines Expected;  // between the header and the footer
    TMSTextFormating Format = tfPlainText;
  } cases[] = {
      {"a paragraph keeps its whole text in order",
       "<text:p text:style-name=\"P1\">Lead <text:span text:style-name=\"T1\">span</text:span> tail "
       "<text:a xlink:href=\"http://x/\"><text:span>link</text:span></text:a>, end</text:p>"
       "<text:h text:outline-level=\"1\">Head<text:bookmark text:name=\"b\"/>ing</text:h>",
       {"Lead span tail link, end", "Heading"}},
      {"spaces, tabs and line breaks",
       "<text:p>a<text:s text:c=\"3\"/>b<text:s/>c<text:tab/>d<text:line-break/>e</text:p>"
       "<text:p><text:s text:c=\"99999999999\"/>x</text:p>",
       {"a   b c\td\r\ne", std::string(4096, ' ') + "x"}},
      {"XML white space collapses across elements",
       "<text:p>\n   two \n\t <text:span> words </text:span>  here  \n</text:p>"
       "<text:p>line <text:line-break/>  next</text:p>",
       {"two words here", "line\r\nnext"}},
      {"entities are decoded once",
       "<text:p>AT&amp;T &lt;b&gt; &amp;lt; &#x263A;&#65;</text:p>",
       {"AT&T <b> &lt; \u263A" "A"}},
      {"notes, annotations and frames follow their paragraph",
       "<text:p>Before.<text:note text:note-class=\"footnote\"><text:note-citation>1</text:note-citation>"
       "<text:note-body><text:p>Note one</text:p><text:p>Note two</text:p></text:note-body></text:note>"
       " After<office:annotation><dc:creator>Ann</dc:creator><dc:date>2020-01-01T00:00:00</dc:date>"
       "<text:p>Remark</text:p></office:annotation> end"
       "<draw:frame><draw:text-box><text:p>Boxed</text:p></draw:text-box></draw:frame></text:p>"
       "<text:p>Next</text:p>",
       {"Before.1 After end", "1\tNote one", "Note two", "Remark", "Boxed", "Next"}},
      {"a block written inside a paragraph splits it where it stands",
       "<text:p>1<text:p>22<text:list><text:list-item><text:p>3</text:p></text:list-item></text:list>"
       "22</text:p>\n <text:span>1</text:span></text:p>",
       {"1", "22", "3", "22", "1"}},
      {"a split paragraph resumes inside the span and link that were open",
       "<text:p><text:a xlink:href=\"http://x/\">go <text:span text:style-name=\"T\">a<text:p>in</text:p>b"
       "</text:span></text:a></text:p>",
       {"<style type=\"text/css\">", "</style>", "<p><a href=\"http://x/\">go <span class=\"T\">a</span></a></p>", "<p>in</p>",
        "<p><a href=\"http://x/\"><span class=\"T\">b</span></a></p>"},
       tfHTML},
      {"invisible content is left out",
       "<text:tracked-changes><text:changed-region><text:deletion><text:p>Deleted</text:p>"
       "</text:deletion></text:changed-region></text:tracked-changes>"
       "<text:table-of-content><text:table-of-content-source><text:index-title-template>Template"
       "</text:index-title-template></text:table-of-content-source><text:index-body>"
       "<text:p>Entry</text:p></text:index-body></text:table-of-content>"
       "<text:list><text:list-item><text:number>1.</text:number><text:p>Item</text:p></text:list-item>"
       "</text:list><text:h><text:number>2</text:number>Title</text:h>"
       "<text:p><text:ruby><text:ruby-base>漢</text:ruby-base><text:ruby-text>かん</text:ruby-text>"
       "</text:ruby>字</text:p>",
       {"Entry", "Item", "Title", "漢字"}},
      {"lists and tables in HTML",
       "<text:list><text:list-item><text:p>A</text:p></text:list-item></text:list>"
       "<table:table table:style-name=\"Tb\"><table:table-row><table:table-cell><text:p>C</text:p>"
       "</table:table-cell></table:table-row></table:table>",
       {"<style type=\"text/css\">", "</style>", "<ul>", "  <li>", "<p>A</p>", "  </li>", "</ul>",
        "<table border=\"1\" class=\"Tb\">", "  <tr>", "    <td>", "<p>C</p>", "    </td>", "  </tr>", "</table>"},
       tfHTML},
  };
  for (const auto& c : cases) {
    const TResult r = Load(Package(Content(c.Body)), c.Format);
    EXPECT_EQ(r.Error, "") << c.What;
    ASSERT_GE(r.Lines.size(), 2u) << c.What;
    EXPECT_EQ(Lines(r.Lines.begin() + 1, r.Lines.end() - 1), c.Expected) << c.What;
  }
}

TEST(OpenDocumentText, TrackedChangesAreMarkedWhereShown) {
  // A deletion's text goes where it was taken out; an insertion is marked
  // in each paragraph it covers. Plain text reads with the changes accepted.
  const std::string body = Package(Content(
      "<text:tracked-changes><text:changed-region text:id=\"d\"><text:deletion><office:change-info>"
      "<dc:creator>Ann</dc:creator></office:change-info><text:p>old</text:p><text:p>words</text:p></text:deletion>"
      "</text:changed-region><text:changed-region text:id=\"i\"><text:insertion/></text:changed-region>"
      "</text:tracked-changes>"
      "<text:p>a <text:change text:change-id=\"d\"/><text:change-start text:change-id=\"i\"/>new</text:p>"
      "<text:p>more<text:change-end text:change-id=\"i\"/> b<text:change text:change-id=\"unknown\"/></text:p>"));
  EXPECT_EQ(Load(body).Lines, (Lines{"", "a new", "more b", ""}));
  TOpenOfficeTextDocument shown;
  shown.SetParseItems(shown.ParseItems().Include(wpiRevisions));
  EXPECT_EQ(Load(body, tfPlainText, &shown).Lines, (Lines{"", "a -old words+new", "+more b", ""}));
  const TResult html = Load(body, tfHTML);
  ASSERT_GE(html.Lines.size(), 4u);
  EXPECT_EQ(Lines(html.Lines.end() - 3, html.Lines.end() - 1),
            (Lines{"<p>a <s>old words</s><u>new</u></p>", "<p><u>more</u> b</p>"}));
}

// styles.xml with the given master pages.
std::string MasterStyles(const std::string& pages) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-styles "
         "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"><office:styles/>"
         "<office:master-styles>" +
         pages + "</office:master-styles></office:document-styles>";
}

TEST(OpenDocumentText, HeadersAndFootersOfTheMasterPagesEachOnce) {
  const std::string styles = MasterStyles(
      "<style:master-page style:name=\"Standard\">"
      "<style:header><text:p>Running <text:span>head</text:span></text:p></style:header>"
      "<style:header-left><text:p>Left head</text:p></style:header-left>"
      "<style:footer><text:p>Page <text:page-number>3</text:page-number></text:p>"
      "<table:table><table:table-row><table:table-cell><text:p>cell</text:p></table:table-cell></table:table-row>"
      "</table:table></style:footer></style:master-page>"
      // The same header again, an empty one, regions.
      "<style:master-page style:name=\"Other\"><style:header><text:p>Running head</text:p></style:header>"
      "<style:footer><text:p/></style:footer></style:master-page>"
      "<style:master-page style:name=\"Third\"><style:header><style:region-left><text:p>L</text:p>"
      "</style:region-left><style:region-right><text:p>R</text:p></style:region-right></style:header>"
      "</style:master-page>");
  const std::string zip =
      Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
           {"content.xml", Content("<text:p>Body</text:p>")},
           {"styles.xml", styles}});
  TOpenOfficeTextDocument doc;
  TResult r = Load(zip, tfPlainText, &doc);
  EXPECT_EQ(r.Lines, (Lines{"", "Body", ""}));
  EXPECT_EQ(TextLines(doc.HeaderText()), (Lines{"Running head", "Left head", "L", "R"}));
  // Tables render as in the body (a cell's line, then the row's end).
  EXPECT_EQ(TextLines(doc.FooterText()), (Lines{"Page 3", "cell", "", ""}));

  // Not read when the host does not want them, nor kept from a load before.
  doc.SetReadHeadersFooters(false);
  Load(zip, tfPlainText, &doc);
  EXPECT_EQ(doc.HeaderText().Count(), 0);

  // A flat document holds them in its own master styles.
  const std::string masters = styles.substr(styles.find("<office:master-styles>"));
  std::string flat = "<?xml version=\"1.0\"?><office:document office:mimetype=\"application/vnd.oasis.opendocument.text\">" +
                     masters.substr(0, masters.find("</office:document-styles>")) +
                     "<office:body><office:text><text:p>Body</text:p></office:text></office:body></office:document>";
  TOpenOfficeTextDocument fromFlat;
  EXPECT_EQ(Load(flat, tfPlainText, &fromFlat).Lines, (Lines{"", "Body", ""}));
  EXPECT_EQ(TextLines(fromFlat.HeaderText()), (Lines{"Running head", "Left head", "L", "R"}));

  // A presentation declares the footers its slides show.
  TOpenOfficePresentation show;
  const std::string slide =
      "<draw:page presentation:use-footer-name=\"ftr1\"><draw:frame><draw:text-box><text:p>Slide"
      "</text:p></draw:text-box></draw:frame></draw:page>";
  const auto package = [](const std::string& Body) {
    return Package(Content(Body, "presentation"), "", "application/vnd.oasis.opendocument.presentation");
  };
  const std::string slides =
      package("<presentation:footer-decl presentation:name=\"ftr1\">&#169; Us</presentation:footer-decl>"
              "<presentation:footer-decl presentation:name=\"ftr2\">&#169; Us</presentation:footer-decl>"
              "<presentation:header-decl presentation:name=\"hdr1\">Handout</presentation:header-decl>" +
              slide);
  EXPECT_EQ(testing::TryLoadLines(show, slides).Lines, testing::TryLoadLines(show, package(slide)).Lines);
  testing::TryLoadLines(show, slides);
  EXPECT_EQ(TextLines(show.FooterText()), Lines{"\u00A9 Us"});
  EXPECT_EQ(TextLines(show.HeaderText()), Lines{"Handout"});
}

TEST(OpenDocumentText, DamagedStylesCostOnlyTheHeaders) {
  // Stored members are not checked against their CRC until read: a styles
  // part that does not inflate leaves the body as it was, with a warning.
  std::string zip = Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                         {"content.xml", Content("<text:p>Body</text:p>")},
                         {"styles.xml", MasterStyles("<style:master-page><style:header><text:p>H</text:p>"
                                                     "</style:header></style:master-page>")}});
  const size_t at = zip.find("<style:header>");
  ASSERT_NE(at, std::string::npos);
  zip[at + 3] ^= 0x20;
  TOpenOfficeTextDocument doc;
  TResult r = Load(zip, tfPlainText, &doc);
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.Lines, (Lines{"", "Body", ""}));
  EXPECT_EQ(doc.HeaderText().Count(), 0);
  ASSERT_EQ(doc.Warnings().size(), 1u);
  EXPECT_NE(doc.Warnings()[0].Message.find("styles.xml could not be read"), std::string::npos);

  // Spreadsheets keep their page headers (sheet names, page numbers) out.
  TOpenOfficeSpreadsheet sheet;
  Load(Zip({{"content.xml", Content("", "spreadsheet")},
            {"styles.xml", MasterStyles("<style:master-page><style:header><text:p>Sheet1</text:p></style:header>"
                                        "</style:master-page>")}}),
       tfPlainText, &sheet);
  EXPECT_EQ(sheet.HeaderText().Count(), 0);
}

// ---------------------------------------------------------------------------
// Tables and spreadsheets

TEST(OpenDocumentSpreadsheet, CellsRowsAndPagesEachGiveTheirLines) {
  const struct {
    const char* Kind;
    std::string Body;
    Lines Expected;
  } cases[] = {
      // Cell and row ends are lines of their own; a cell may give only its
      // value.
      {"spreadsheet",
       "<table:table table:name=\"S\"><table:table-column/>"
       "<table:table-row><table:table-cell><text:p>a</text:p></table:table-cell>"
       "<table:table-cell><text:p>b</text:p></table:table-cell></table:table-row>"
       "<table:table-row><table:table-cell><text:p>c</text:p></table:table-cell>"
       "<table:table-cell office:value-type=\"float\" office:value=\"4\"/></table:table-row></table:table>",
       {"", "a", "", "b", "", "", "c", "", "4", "", "", ""}},
      // Repeated cells with content are written as often as they repeat,
      // empty ones once.
      {"spreadsheet",
       "<table:table><table:table-row table:number-rows-repeated=\"2\">"
       "<table:table-cell table:number-columns-repeated=\"3\"><text:p>x</text:p></table:table-cell>"
       "<table:table-cell table:number-columns-repeated=\"5\"/></table:table-row></table:table>",
       {"", "x", "", "x", "", "x", "", "", "", "x", "", "x", "", "x", "", "", "", ""}},
      // A frame's elements are alternatives: the table, not its preview
      // picture.
      {"presentation",
       "<draw:page draw:name=\"One\"><draw:frame presentation:class=\"title\"><draw:text-box><text:p>Title"
       "</text:p></draw:text-box></draw:frame><draw:frame><table:table><table:table-row><table:table-cell>"
       "<text:p>Cell</text:p></table:table-cell></table:table-row></table:table>"
       "<draw:image xlink:href=\"Pictures/TablePreview1.svm\"/></draw:frame>"
       "<presentation:notes><draw:page-thumbnail draw:page-number=\"1\"/><draw:frame><draw:text-box>"
       "<text:p>Spoken</text:p></draw:text-box></draw:frame><draw:frame presentation:class=\"page-number\">"
       "<draw:text-box><text:p><text:page-number>&lt;number&gt;</text:page-number></text:p></draw:text-box>"
       "</draw:frame></presentation:notes></draw:page>"
       "<draw:page><draw:frame><draw:image xlink:href=\"Pictures/a.png\"><text:p/></draw:image></draw:frame>"
       "</draw:page>",
       {"", "Title", "Cell", "", "", "Spoken", "", "", "Pictures/a.png", "", ""}},
  };
  for (const auto& c : cases) {
    // Picture paths only when pictures are asked for.
    auto doc = MakeDocument(c.Kind);
    doc->SetParseItems(doc->ParseItems().Include(wpiPictures));
    EXPECT_EQ(testing::TryLoadLines(*doc, Package(Content(c.Body, c.Kind))).Lines, c.Expected) << c.Body;
  }
  auto plain = MakeDocument("presentation");
  EXPECT_EQ(testing::TryLoadLines(*plain, Package(Content(cases[std::size(cases) - 1].Body, "presentation"))).Lines,
            (Lines{"", "Title", "Cell", "", "", "Spoken", "", "", "", ""}));
  // Readers read only their own body.
  const std::string text = Package(Content("<text:p>Words</text:p>"));
  for (const char* kind : {"spreadsheet", "presentation"})
    EXPECT_EQ(testing::TryLoadLines(*MakeDocument(kind), text).Lines, (Lines{"", ""})) << kind;
}

TEST(OpenDocumentSpreadsheet, HugeRepeatsStayBounded) {
  // Empty repeats (as every office suite writes them) give one line each;
  // repeats with content stop at the output budget, with a warning.
  const std::string sheet =
      "<table:table><table:table-row table:number-rows-repeated=\"1048576\">"
      "<table:table-cell table:number-columns-repeated=\"16384\"/></table:table-row>"
      "<table:table-row table:number-rows-repeated=\"1048576\">"
      "<table:table-cell table:number-columns-repeated=\"16384\"><text:p>0123456789</text:p>"
      "</table:table-cell></table:table-row></table:table>";
  TOpenOfficeSpreadsheet doc;
  const auto start = std::chrono::steady_clock::now();
  TResult r = Load<TOpenOfficeSpreadsheet>(Package(Content(sheet, "spreadsheet")), tfPlainText, &doc);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(Lines(r.Lines.begin(), r.Lines.begin() + 5), (Lines{"", "", "", "0123456789", ""}));
  EXPECT_LT(doc.Text().TextLength(), int64_t{20} << 20);
  ASSERT_FALSE(doc.Warnings().empty());
}

TEST(OpenDocumentText, EmbeddedObjectsGiveTheirText) {
  auto frame = [](const std::string& object) {
    return "<draw:frame><draw:object xlink:href=\"" + object + "\"/><draw:image xlink:href=\"./ObjectReplacements/x\"/>"
           "</draw:frame>";
  };
  const std::string math = "<math xmlns=\"http://www.w3.org/1998/Math/MathML\"><semantics><mrow><mi>a</mi><mo>+</mo>"
                           "<mn>1</mn></mrow>";
  const std::string body = "<text:p>Before" + frame("./Object 1") + "</text:p><text:p>" + frame("./Object 2") +
                           frame("Object 3") + frame("./Object 4/") + frame("./Object 9") + frame("../Outside") +
                           "<draw:frame><draw:object>" + math + "<annotation>inline</annotation></semantics></math>"
                           "</draw:object></draw:frame></text:p><text:p>After</text:p>";
  const std::string package = Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                                   {"content.xml", Content(body)},
                                   {"Object 1/content.xml", Content("<table:table><table:table-row><table:table-cell>"
                                                                    "<text:p>cell</text:p></table:table-cell>"
                                                                    "</table:table-row></table:table>" + frame("./Object 1"),
                                                                    "spreadsheet")},
                                   {"Object 1/Object 1/content.xml", Content("<text:p>nested</text:p>")},
                                   {"Object 2/content.xml", math + "<annotation encoding=\"StarMath 5.0\">a + 1</annotation>"
                                                                   "</semantics></math>"},
                                   {"Object 3/content.xml", math + "</semantics></math>"},
                                   {"Object 4/content.xml", Content("<chart:chart><text:p>chart title</text:p></chart:chart>",
                                                                    "chart")}});
  // Objects nest (a spreadsheet holding a text), formulas give their text,
  // charts and objects out of the package nothing.
  EXPECT_EQ(Load(package).Lines, (Lines{"", "Before", "cell", "", "", "nested", "", "a + 1", "a + 1", "inline", "After", ""}));
  // Objects in objects end where they nest too deep.
  TMembers deep = {{"content.xml", Content("<text:p>0</text:p>" + frame("./O"))}};
  std::string folder;
  for (int level = 1; level <= 6; ++level) {
    folder += "O/";
    deep.push_back({folder + "content.xml", Content("<text:p>" + std::to_string(level) + "</text:p>" + frame("./O"))});
  }
  TOpenOfficeTextDocument nested;
  EXPECT_EQ(Load(Zip(deep), tfPlainText, &nested).Lines, (Lines{"", "0", "1", "2", "3", "4", ""}));
  EXPECT_TRUE(nested.Partial());
  // An object shown again and again inflates again each time: all of it
  // counts against the limit, and what is past it is said to be lost.
  std::string shown;
  for (int i = 0; i < 40; ++i) shown += frame("./Object 1");
  TOpenOfficeTextDocument limited;
  limited.SetMaxDecompressedSize(8000);
  const Lines got = Load(Zip({{"content.xml", Content("<text:p>x</text:p>" + shown)},
                              {"Object 1/content.xml", Content("<text:p>" + std::string(400, 'o') + "</text:p>")}}),
                         tfPlainText, &limited)
                        .Lines;
  EXPECT_GT(got.size(), 5u);
  EXPECT_LT(got.size(), 30u);
  EXPECT_TRUE(limited.Partial());
}

TEST(OpenDocumentText, SpecialCharacterEvents) {
  TOpenOfficePresentation doc;
  doc.SetParseItems(doc.ParseItems().Include(wpiPictures));
  std::vector<std::pair<TLKWordSysChar, std::string>> calls;
  doc.SetOnConvertSysChar([&](TObject*, TLKWordSysChar k, const WideString& v, WideString& result) {
    calls.push_back({k, WideToUtf8(v)});
    if (k == scIncludePicture) result = u" [pic]";
    if (k == scColumnEnd) result = u"|";
    if (k == scRowEnd) result = u"/";
    if (k == scEndOfPage) result = u"--";
  });
  const std::string slides =
      "<draw:page><draw:frame><draw:image xlink:href=\"p.png\"/></draw:frame><draw:frame><table:table>"
      "<table:table-row><table:table-cell><text:p>c</text:p></table:table-cell></table:table-row></table:table>"
      "</draw:frame></draw:page>";
  TResult r = Load<TOpenOfficePresentation>(Package(Content(slides, "presentation")), tfPlainText, &doc);
  EXPECT_EQ(r.Lines, (Lines{"", "p.png [pic]", "c", "|", "/", "--", ""}));
  using Call = std::pair<TLKWordSysChar, std::string>;
  EXPECT_EQ(calls, (std::vector<Call>{
                       {scIncludePicture, "p.png"}, {scUnknown, "c"}, {scColumnEnd, ""}, {scRowEnd, ""},
                       {scEndOfPage, ""}}));
}

// ---------------------------------------------------------------------------
// RTF and HTML

const std::string kStyles =
    "<style:style style:name=\"P1\" style:family=\"paragraph\"><style:paragraph-properties fo:text-align=\"end\"/>"
    "<style:text-properties fo:font-weight=\"bold\" fo:font-size=\"12pt\" fo:color=\"#1a2B3c\" "
    "fo:background-color=\"transparent\"/></style:style>"
    "<style:style style:name=\"T1\" style:family=\"text\"><style:text-properties fo:font-style=\"italic\" "
    "style:text-underline-style=\"solid\" fo:font-size=\"medium\" fo:background-color=\"#FFFF00\"/></style:style>"
    "<style:style style:name=\"T2\" style:family=\"text\"><style:text-properties "
    "style:text-underline-style=\"none\" fo:font-size=\"10.5pt\"/></style:style>"
    "<style:style style:name=\"fr1\" style:family=\"graphic\"><style:graphic-properties "
    "fo:clip=\"rect(0cm, 1.5cm, 2cm, 3mm)\"/></style:style>"
    "<text:list-style style:name=\"L1\"/>"
    "<style:style style:name=\"ta1\" style:family=\"table\"/>"
    "<style:style style:name=\"T3\" style:family=\"text\"><style:text-properties fo:font-size=\"0.5in\"/>"
    "</style:style><style:style style:name=\"T4\" style:family=\"text\"><style:text-properties "
    "fo:font-size=\"120%\"/></style:style>";

TEST(OpenDocumentStyles, AutomaticStylesAreReadForFormattedOutput) {
  TOpenOfficeTextDocument doc;
  TResult r = Load(Package(Content("<text:p>x</text:p>", "text", kStyles)), tfRTF, &doc);
  ASSERT_EQ(r.Error, "");
  TOOStyles& s = doc.Styles();
  ASSERT_EQ(s.Count(), 8);
  auto* p1 = dynamic_cast<TOOStyleText*>(s.FindByStyleName(u"P1"));
  ASSERT_NE(p1, nullptr);
  EXPECT_EQ(p1->Alignment(), ooaRight);
  EXPECT_EQ(p1->TextFont().Size, 12);
  EXPECT_TRUE(p1->TextFont().Style.Contains(oofsBold));
  EXPECT_EQ(p1->TextFont().Color, 0x3C2B1Au);
  EXPECT_EQ(p1->Color(), ooclWhite);  // "transparent" is no colour
  auto* t1 = dynamic_cast<TOOStyleText*>(s.FindByStyleName(u"T1"));
  ASSERT_NE(t1, nullptr);
  EXPECT_EQ(t1->TextFont().Size, 8);  // no digits: the default stays
  EXPECT_EQ(t1->TextFont().Style, (TOOFontStyles{oofsItalic, oofsUnderline}));
  EXPECT_EQ(t1->Color(), 0x00FFFFu);
  auto* t2 = dynamic_cast<TOOStyleText*>(s.FindByStyleName(u"T2"));
  ASSERT_NE(t2, nullptr);
  EXPECT_EQ(t2->TextFont().Size, 10);
  EXPECT_TRUE(t2->TextFont().Style.Empty());
  auto* fr = dynamic_cast<TOOStyleGraphic*>(s.FindByStyleName(u"fr1"));
  ASSERT_NE(fr, nullptr);
  const TOORect clip = fr->ClipRect();
  EXPECT_EQ((std::vector<int32_t>{clip.Left, clip.Top, clip.Right, clip.Bottom}), (std::vector<int32_t>{0, 1, 2, 4}));
  EXPECT_NE(dynamic_cast<TOOStyleNumList*>(s.FindByStyleName(u"L1")), nullptr);
  EXPECT_EQ(s.GetStyle(5)->ClassName(), "TOOStyle");
  EXPECT_EQ(dynamic_cast<TOOStyleText*>(s.GetStyle(6))->TextFont().Size, 36);
  EXPECT_EQ(dynamic_cast<TOOStyleText*>(s.GetStyle(7))->TextFont().Size, 8);
  EXPECT_EQ(s.GetStyle(8), nullptr);
  EXPECT_EQ(s.GetStyle(-1), nullptr);

  // Plain text needs no styles, and a new load forgets the old ones.
  Load(Package(Content("<text:p>x</text:p>", "text", kStyles)), tfPlainText, &doc);
  EXPECT_EQ(doc.Styles().Count(), 0);
}

TEST(OpenDocumentStyles, TextAlignValues) {
  const char* values[] = {"end", "right", "center", "start", "left", "justify"};
  const TOOAlignment expected[] = {ooaRight, ooaRight, ooaCenter, ooaLeft, ooaLeft, ooaLeft};
  std::string styles;
  for (const char* v : values)
    styles += std::string("<style:style style:name=\"") + v + "\" style:family=\"paragraph\">" +
              "<style:paragraph-properties fo:text-align=\"" + v + "\"/></style:style>";
  TOpenOfficeTextDocument doc;
  Load(Package(Content("", "text", styles)), tfHTML, &doc);
  ASSERT_EQ(doc.Styles().Count(), 6);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(dynamic_cast<TOOStyleText&>(*doc.Styles().GetStyle(i)).Alignment(), expected[i]) << values[i];
}

TEST(OpenDocumentStyles, HtmlHasStyleBlockClassesAndEscapedText) {
  TResult r = Load(Package(Content("<text:p text:style-name=\"P1\">a &lt;b&gt; &amp; \"c\" "
                                   "<text:span text:style-name=\"T1\">d</text:span><text:line-break/>e</text:p>"
                                   "<text:h text:style-name=\"H\">f</text:h>",
                                   "text", kStyles)),
                   tfHTML);
  ASSERT_EQ(r.Error, "");
  const Lines& l = r.Lines;
  ASSERT_GE(l.size(), 13u);
  EXPECT_EQ(l[1], "<style type=\"text/css\">");
  EXPECT_EQ(l[2],
            ".P1 { font-family: paragraph;\r\nfont-size: 12pt;color: #1A2B3C;\r\nbackground: #FFFFFF;\r\n"
            "text-align: right;\r\nfont-weight: bold;}");
  EXPECT_EQ(l[3],
            ".T1 { font-family: text;\r\nfont-size: 8pt;color: #000000;\r\nbackground: #FFFF00;\r\n"
            "text-align: left;\r\nfont-style: italic;\r\ntext-decoration: underline;}");
  EXPECT_EQ(l[5], ".fr1 { font-family: graphic;}");
  EXPECT_EQ(l[6], ".L1 { font-family: ;}");
  EXPECT_EQ(l[7], ".ta1 { font-family: table;}");
  EXPECT_EQ(l[10], "</style>");
  EXPECT_EQ(l[11], "<p class=\"P1\">a &lt;b&gt; &amp; &quot;c&quot; <span class=\"T1\">d</span><br>e</p>");
  EXPECT_EQ(l[12], "<p class=\"H\">f</p>");
  EXPECT_EQ(l.back(), "\r\n</body>\r\n</html>");
}

TEST(OpenDocumentStyles, CssNamesCannotEndTheStyleBlock) {
  const std::string style = "<style:style style:name=\"a.b&lt;/style&gt;\" style:family=\"x y\"/>";
  TResult r = Load(Package(Content("", "text", style)), tfHTML);
  ASSERT_GE(r.Lines.size(), 3u);
  EXPECT_EQ(r.Lines[2], ".a\\2e b\\3c \\2f style\\3e  { font-family: x\\20 y;}");
}

TEST(OpenDocumentStyles, RtfEscapesTextAndMarksBreaks) {
  TResult r = Load(Package(Content("<text:p text:style-name=\"P1\">{a}\\ é<text:tab/>b<text:line-break/>"
                                   "<text:span text:style-name=\"T1\">c</text:span> <text:span "
                                   "text:style-name=\"T2\">d</text:span></text:p><text:p>€</text:p>",
                                   "text", kStyles)),
                   tfRTF);
  ASSERT_EQ(r.Lines.size(), 4u);
  EXPECT_EQ(r.Lines[0].rfind("{\\rtf1", 0), 0u);
  EXPECT_EQ(r.Lines[1], "{\\b \\{a\\}\\\\ \\u233?\\tab b\\line {\\i\\ul c} d}\\par ");
  EXPECT_EQ(r.Lines[2], "\\u8364?\\par ");
  EXPECT_EQ(r.Lines[3], "\r\n}");
}

// ---------------------------------------------------------------------------
// Events

// The recorder, with what only these readers tell written down too.
class TOORecorder : public testing::TEventRecorder {
 public:
  TOORecorder() { JoinText = false; }
  void BeginSpan(const TRunStyle& S) override {
    Lines.push_back("<span '" + WideToUtf8(S.Style) + "'" + (S.Bold ? " b" : "") + (S.Italic ? " i" : "") + ">");
  }
  void EndSpan() override { Lines.push_back("</span>"); }
  void Spaces(int Count) override { Lines.push_back("spaces " + std::to_string(Count)); }
  void BeginList() override { Lines.push_back("<list>"); }
  void EndList() override { Lines.push_back("</list>"); }
  void BeginListItem() override { Lines.push_back("<item>"); }
  void EndListItem() override { Lines.push_back("</item>"); }
  void NextTableStyle(std::u16string_view S) override { Lines.push_back("table-style '" + WideToUtf8(WideString(S)) + "'"); }
  void Repeated(int64_t Times) override { Lines.push_back("repeated " + std::to_string(Times)); }
};

// Paragraph styles give their runs their formatting; a note and a comment
// are stories after the paragraph that holds them, the note's first
// paragraph labelled with its citation; headers come after the body.
TEST(OpenDocumentEvents, StructureAsEvents) {
  const std::string body =
      "<text:h text:outline-level=\"2\">Title</text:h>"
      "<text:p text:style-name=\"P1\">A<text:s text:c=\"2\"/><text:span text:style-name=\"T1\">b</text:span>"
      "<text:tab/><text:a xlink:href=\"u\">l</text:a><text:line-break/>n<text:note text:note-class=\"endnote\">"
      "<text:note-citation>1</text:note-citation><text:note-body><text:p>Note</text:p></text:note-body></text:note>"
      "<office:annotation><text:p>Rem</text:p></office:annotation></text:p>"
      "<text:section><text:list><text:list-item><text:p>Item</text:p></text:list-item></text:list></text:section>"
      "<table:table table:style-name=\"Tb\"><table:table-row><table:table-cell table:number-columns-repeated=\"2\" "
      "office:value=\"4\"/></table:table-row></table:table>"
      "<draw:frame><draw:image xlink:href=\"a.png\"/></draw:frame>";
  const std::string zip = Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                               {"content.xml", Content(body, "text", kStyles)},
                               {"styles.xml", MasterStyles("<style:master-page><style:header><text:p>Head</text:p>"
                                                           "</style:header></style:master-page>")}});
  TOpenOfficeTextDocument doc;
  doc.SetParseItems(doc.ParseItems().Include(wpiPictures));
  TOORecorder rec;
  doc.AddDocumentEvents(&rec);
  ASSERT_EQ(Load(zip, tfRTF, &doc).Error, "");
  EXPECT_EQ(rec.Joined(),
            "<doc>|<h2>|text 'Title'|</p>|<p>|text 'A' b|spaces 2|<span 'T1' i>|text 'b' b i u|</span>|tab|<a 'u'>|"
            "text 'l' b|</a>|br|text 'n' b|text '1' b|</p>|<story endnote>|<p '1'>|text 'Note'|</p>|</story endnote>|"
            "<story comment>|<p>|text 'Rem'|</p>|</story comment>|<section>|<list>|<item>|<li 1>|text 'Item'|</p>|"
            "</item>|</list>|</section>|table-style 'Tb'|<table>|<tr>|<td>|repeated 2|<pre>|text '4'|</p>|</td>|</tr>|"
            "</table>|<p>|img 'a.png'|</p>|<story header>|<p>|text 'Head'|</p>|</story header>|</doc>");

  TOpenOfficePresentation show;
  TOORecorder pages;
  show.AddDocumentEvents(&pages);
  testing::TryLoadLines(show, Package(Content("<draw:page><draw:frame><draw:text-box><text:p>S</text:p>"
                                              "</draw:text-box></draw:frame></draw:page><draw:page/>",
                                              "presentation")));
  EXPECT_EQ(pages.Joined(), "<doc>|<page 1>|<p>|text 'S'|</p>|</page 1>|<page 2>|</page 2>|</doc>");
}

// ---------------------------------------------------------------------------
// List labels and heading numbers

std::string Flat(std::string content, const std::string& meta, const std::string& mime);

const char* const kListStyles =
    "<text:list-style style:name=\"L1\">"
    "<text:list-level-style-number text:level=\"1\" style:num-suffix=\".\" style:num-format=\"1\"/>"
    "<text:list-level-style-number text:level=\"2\" style:num-suffix=\")\" style:num-format=\"a\"/>"
    "<text:list-level-style-number text:level=\"3\" style:num-suffix=\".\" style:num-format=\"i\" "
    "text:display-levels=\"3\"/></text:list-style>"
    "<text:list-style style:name=\"L2\">"
    "<text:list-level-style-bullet text:level=\"1\" text:bullet-char=\"\u2022\"/>"
    "<text:list-level-style-bullet text:level=\"2\" text:bullet-char=\"\uF0B7\">"
    "<style:text-properties style:font-name=\"Symbol\"/></text:list-level-style-bullet>"
    "<text:list-level-style-bullet text:level=\"3\" text:bullet-char=\"\uF0A7\">"
    "<style:text-properties style:font-name=\"Wingdings\"/></text:list-level-style-bullet>"
    "<text:list-level-style-image text:level=\"4\"/></text:list-style>"
    "<style:style style:name=\"P9\" style:family=\"paragraph\" style:parent-style-name=\"Numbered\"/>";

// A list of one level-1 item per text.
std::string Items(const std::string& Attributes, std::initializer_list<const char*> Texts) {
  std::string s = "<text:list" + Attributes + ">";
  for (const char* t : Texts) s += std::string("<text:list-item><text:p>") + t + "</text:p></text:list-item>";
  return s + "</text:list>";
}

TEST(OpenDocumentLists, LabelsFollowTheListStyles) {
  const struct {
    const char* What;
    std::string Body;
    Lines Expected;
  } cases[] = {
      {"levels count on, restart under a new parent, show the levels above; item starts and headers",
       "<text:list text:style-name=\"L1\"><text:list-item><text:p>One</text:p><text:list><text:list-item>"
       "<text:p>Sub</text:p></text:list-item><text:list-item><text:p>Sub2</text:p><text:list><text:list-item>"
       "<text:p>Deep</text:p></text:list-item></text:list></text:list-item></text:list></text:list-item>"
       "<text:list-item><text:p>Two</text:p><text:p>More</text:p><text:list><text:list-item><text:p>Again</text:p>"
       "</text:list-item></text:list></text:list-item><text:list-item text:start-value=\"7\"><text:p>Seven</text:p>"
       "</text:list-item><text:list-header><text:p>Head</text:p></text:list-header>"
       "<text:list-item><text:list><text:list-item><text:p>Inner</text:p></text:list-item></text:list>"
       "</text:list-item><text:list-item><text:p>Eight</text:p></text:list-item></text:list>",
       {"1. One", "a) Sub", "b) Sub2", "1.b.i. Deep", "2. Two", "More", "a) Again", "7. Seven", "Head", "a) Inner",
        "8. Eight"}},
      {"a list continues the last of its style or the one it names; others start again",
       Items(" xml:id=\"x1\" text:style-name=\"L1\"", {"A", "B"}) + "<text:p>Between</text:p>" +
           Items(" text:style-name=\"L1\" text:continue-numbering=\"true\"", {"C"}) +
           Items(" text:style-name=\"L1\"", {"Fresh"}) + Items(" text:style-name=\"L1\" text:continue-list=\"x1\"", {"D"}) +
           Items(" text:style-name=\"L1\" text:continue-list=\"nowhere\"", {"E"}),
       {"1. A", "2. B", "Between", "3. C", "1. Fresh", "4. D", "1. E"}},
      {"bullets in Unicode, symbol fonts' codes mapped; the paragraph style's list through its parent",
       "<text:list text:style-name=\"L2\"><text:list-item><text:p>Dot</text:p><text:list><text:list-item>"
       "<text:p>Sym</text:p><text:list><text:list-item><text:p>Wing</text:p><text:list><text:list-item>"
       "<text:p>Pic</text:p></text:list-item></text:list></text:list-item></text:list></text:list-item></text:list>"
       "</text:list-item></text:list>"
       "<text:list><text:list-item><text:p text:style-name=\"P9\">Four</text:p></text:list-item>"
       "<text:list-item><text:p text:style-name=\"P9\">Five</text:p></text:list-item></text:list>"
       "<text:list><text:list-item><text:p>Unstyled</text:p></text:list-item></text:list>",
       {"\u2022 Dot", "\u2022 Sym", "\u25AA Wing", "\u2022 Pic", "(IV) Four", "(V) Five", "Unstyled"}},
  };
  const std::string named =
      "<office:document-styles><office:styles><text:list-style style:name=\"L3\">"
      "<text:list-level-style-number text:level=\"1\" style:num-prefix=\"(\" style:num-suffix=\")\" "
      "style:num-format=\"I\" text:start-value=\"4\"/></text:list-style>"
      "<style:style style:name=\"Numbered\" style:family=\"paragraph\" style:list-style-name=\"L3\"/>"
      "</office:styles></office:document-styles>";
  const std::string namedStyles = named.substr(named.find("<office:styles>"), named.find("</office:document-styles>") -
                                                                                   named.find("<office:styles>"));
  for (const auto& c : cases) {
    const std::string content = Content(c.Body, "text", kListStyles);
    // A flat document holds the named styles beside the automatic ones.
    std::string flat = Flat(content, "", "application/vnd.oasis.opendocument.text");
    flat.insert(flat.find("<office:automatic-styles>"), namedStyles);
    for (const std::string& bytes : {Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                                          {"content.xml", content},
                                          {"styles.xml", named}}),
                                     flat}) {
      TResult r = Load(bytes);
      ASSERT_EQ(r.Error, "") << c.What;
      Lines expected = c.Expected;
      expected.insert(expected.begin(), "");
      expected.push_back("");
      EXPECT_EQ(r.Lines, expected) << c.What;
    }
  }
}

// Headings count in the outline style's numbering, which styles.xml
// holds; the label starts the line in every output format, a note's
// citation is still parted from its text by a tab.
TEST(OpenDocumentLists, HeadingsNumberedByTheOutline) {
  const std::string styles =
      "<office:document-styles><office:styles><text:outline-style style:name=\"Outline\">"
      "<text:outline-level-style text:level=\"1\" style:num-format=\"1\"/>"
      "<text:outline-level-style text:level=\"2\" style:num-format=\"1\" text:display-levels=\"2\"/>"
      "<text:outline-level-style text:level=\"3\" style:num-format=\"\"/>"
      "</text:outline-style></office:styles></office:document-styles>";
  const std::string body =
      "<text:h text:outline-level=\"1\">Intro</text:h><text:h text:outline-level=\"2\">Part</text:h>"
      "<text:h text:outline-level=\"2\">Part</text:h><text:h text:outline-level=\"1\" "
      "text:is-list-header=\"true\">Unnumbered</text:h><text:h text:outline-level=\"1\">Next</text:h>"
      "<text:h text:outline-level=\"2\" text:restart-numbering=\"true\" text:start-value=\"5\">Five</text:h>"
      "<text:h text:outline-level=\"3\">Plain<text:note><text:note-citation>1</text:note-citation>"
      "<text:note-body><text:p>Note</text:p></text:note-body></text:note></text:h>";
  const std::string zip = Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                               {"content.xml", Content(body)},
                               {"styles.xml", styles}});
  EXPECT_EQ(Load(zip).Lines,
            (Lines{"", "1 Intro", "1.1 Part", "1.2 Part", "Unnumbered", "2 Next", "2.5 Five", "Plain1", "1\tNote", ""}));
  TResult rtf = Load(zip, tfRTF);
  ASSERT_GT(rtf.Lines.size(), 2u);
  EXPECT_EQ(rtf.Lines[1].substr(0, 8), "1 Intro\\") << rtf.Lines[1];

  TOpenOfficeTextDocument doc;
  TOORecorder rec;
  doc.AddDocumentEvents(&rec);
  ASSERT_EQ(Load(zip, tfPlainText, &doc).Error, "");
  EXPECT_NE(rec.Joined().find("<h1 '1'>|text 'Intro'|</p>|<h2 '1.1'>|text 'Part'|</p>|<h2 '1.2'>"), std::string::npos);
  EXPECT_NE(rec.Joined().find("<h3>|text 'Plain'"), std::string::npos);

  // A slide's title frame is its heading, even where it is a list header.
  TOpenOfficePresentation show;
  TOORecorder slides;
  show.AddDocumentEvents(&slides);
  testing::TryLoadLines(show, Package(Content("<draw:page><draw:frame presentation:class=\"title\"><draw:text-box>"
                                              "<text:list text:style-name=\"L2\"><text:list-header><text:p>T</text:p>"
                                              "</text:list-header></text:list></draw:text-box></draw:frame>"
                                              "<draw:frame><draw:text-box>" +
                                                  Items(" text:style-name=\"L2\"", {"B"}) +
                                                  "</draw:text-box></draw:frame></draw:page>",
                                              "presentation", kListStyles),
                                      "", "application/vnd.oasis.opendocument.presentation"));
  EXPECT_EQ(slides.Joined(), "<doc>|<page 1>|<list>|<item>|<h1>|text 'T'|</p>|</item>|</list>|<list>|<item>|"
                             "<li 1 '\u2022'>|text 'B'|</p>|</item>|</list>|</page 1>|</doc>");
}

TEST(OpenDocumentMarkdown, SheetsSlidesAndNotesKeepTheirShape) {
  auto joined = [](const TResult& R) {
    std::string s;
    for (const std::string& l : R.Lines) s += l + "\n";
    return s;
  };
  const TResult sheet = Load<TOpenOfficeSpreadsheet>(
      Package(Content("<table:table table:name=\"S\"><table:table-row><table:table-cell><text:p>Hour</text:p>"
                      "</table:table-cell><table:table-cell><text:p>Wind | gust</text:p></table:table-cell>"
                      "</table:table-row><table:table-row><table:table-cell><text:p>21</text:p></table:table-cell>"
                      "</table:table-row></table:table>",
                      "spreadsheet"),
              "", "application/vnd.oasis.opendocument.spreadsheet"),
      tfMarkdown);
  EXPECT_NE(joined(sheet).find("| Hour | Wind \\| gust |\n| --- | --- |\n| 21 |  |\n"), std::string::npos)
      << joined(sheet);

  const TResult show = Load<TOpenOfficePresentation>(
      Package(Content("<draw:page><draw:frame presentation:class=\"title\"><draw:text-box><text:p>Tides</text:p>"
                      "</draw:text-box></draw:frame><draw:frame><draw:text-box>" +
                          Items(" text:style-name=\"L2\"", {"Neap"}) + "</draw:text-box></draw:frame></draw:page>",
                      "presentation", kListStyles),
              "", "application/vnd.oasis.opendocument.presentation"),
      tfMarkdown);
  EXPECT_NE(joined(show).find("# Tides\n\n- Neap\n"), std::string::npos) << joined(show);

  const TResult text = Load(
      Package(Content("<text:p>Tide<text:note text:note-class=\"footnote\"><text:note-citation>1</text:note-citation>"
                      "<text:note-body><text:p>High water.</text:p></text:note-body></text:note> turns.</text:p>"
                      "<text:p>After.</text:p>")),
      tfMarkdown);
  EXPECT_NE(joined(text).find("Tide[^1] turns.\n\nAfter.\n\n[^1]: High water.\n"), std::string::npos)
      << joined(text);
}

// Out-of-range levels, huge numbers, unknown or cyclic references and lists
// nested past the ten levels give labels within bounds, never a crash.
TEST(OpenDocumentLists, HostileListStylesStayBounded) {
  const std::string styles =
      "<text:list-style style:name=\"H\">"
      "<text:list-level-style-number text:level=\"0\" style:num-format=\"I\"/>"
      "<text:list-level-style-number text:level=\"99999999999\" style:num-format=\"I\"/>"
      "<text:list-level-style-number text:level=\"1\" style:num-format=\"a\" style:num-suffix=\".\" "
      "text:start-value=\"99999999999999999999999\" text:display-levels=\"4000000000\"/>"
      "<text:list-level-style-number text:level=\"10\" style:num-format=\"i\" text:start-value=\"3999\"/>"
      "<text:list-level-style-bullet text:level=\"2\" text:bullet-char=\"\"/></text:list-style>"
      "<style:style style:name=\"C1\" style:family=\"paragraph\" style:parent-style-name=\"C2\"/>"
      "<style:style style:name=\"C2\" style:family=\"paragraph\" style:parent-style-name=\"C1\"/>";
  std::string deep;
  for (int i = 0; i < 12; ++i) deep += "<text:list><text:list-item>";
  deep += "<text:p>Deep</text:p><text:p>Again</text:p>";
  for (int i = 0; i < 12; ++i) deep += "</text:list-item></text:list>";
  const std::string body = "<text:list text:style-name=\"H\"><text:list-item><text:p>Big</text:p>"
                           "<text:list><text:list-item><text:p>Empty</text:p></text:list-item></text:list>"
                           "</text:list-item><text:list-item><text:p>Next</text:p></text:list-item></text:list>"
                           "<text:list text:style-name=\"H\">" + deep.substr(11) +
                           "<text:list><text:list-item><text:p text:style-name=\"C1\">Cycle</text:p></text:list-item>"
                           "</text:list>";
  TOpenOfficeTextDocument doc;
  TOORecorder rec;
  doc.AddDocumentEvents(&rec);
  TResult r = Load(Package(Content(body, "text", styles)), tfPlainText, &doc);
  ASSERT_EQ(r.Error, "");
  EXPECT_EQ(r.Lines, (Lines{"", "1099511627776. Big", "\u2022 Empty", "1099511627777. Next", "mmmcmxcix Deep",
                            "Again", "Cycle", ""}));
  EXPECT_NE(std::find(rec.Lines.begin(), rec.Lines.end(), "<li 9 'mmmcmxcix'>"), rec.Lines.end());
}

// ---------------------------------------------------------------------------
// Metadata

TEST(OpenDocumentMetadata, FieldsFromMetaXml) {
  const std::string meta =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-meta><office:meta>"
      "<meta:generator>Gen/1.0</meta:generator><dc:title>The &amp; Title</dc:title><dc:subject>Subj</dc:subject>"
      "<meta:initial-creator>Ann</meta:initial-creator><dc:creator>Bob</dc:creator>"
      "<meta:keyword>alpha</meta:keyword><meta:keyword> beta gamma </meta:keyword>"
      "<dc:description>Desc</dc:description><dc:title>Second title</dc:title>"
      "<meta:template xlink:title=\"Normal\" xlink:href=\"file:///t.ott\"/>"
      "<meta:creation-date>2015-02-20T11:11:40Z</meta:creation-date><dc:date>2016-03-01T12:00:00+02:00</dc:date>"
      "<meta:editing-duration>P1DT2H3M4.5S</meta:editing-duration>"
      "<meta:document-statistic meta:page-count=\"2\" meta:paragraph-count=\"59\" meta:word-count=\"960\" "
      "meta:character-count=\"5793\" meta:non-whitespace-character-count=\"4877\" meta:table-count=\"x\"/>"
      "</office:meta></office:document-meta>";
  TOpenOfficeTextDocument doc;
  TResult r = Load(Package(Content("<text:p>x</text:p>"), meta), tfPlainText, &doc);
  ASSERT_EQ(r.Error, "");
  const TLKWordSummaryInformation& s = doc.SummaryInformation();
  // The first element of each name counts; keywords are all joined.
  EXPECT_EQ(s.AppName() + u"|" + s.Title() + u"|" + s.Subject() + u"|" + s.Author() + u"|" + s.LastAuthor() + u"|" +
                s.Keywords() + u"|" + s.Comments() + u"|" + s.Template(),
            u"Gen/1.0|The & Title|Subj|Ann|Bob|alpha, beta gamma|Desc|Normal file:///t.ott");
  EXPECT_DOUBLE_EQ(s.Created(), UTCToLocal(EncodeDateTime(2015, 2, 20, 11, 11, 40, 0)));
  EXPECT_DOUBLE_EQ(s.LastSaved(), UTCToLocal(EncodeDateTime(2016, 3, 1, 10, 0, 0, 0)));
  EXPECT_EQ((std::vector<int>{s.EditTime(), s.PageCount(), s.WordCount(), s.CharCount(), s.ParagraphCount(),
                              s.CharCount2()}),
            (std::vector<int>{26 * 60 + 3, 2, 960, 5793, 59, 4877}));

  // Metadata alone: no text lines at all, and the record of the last load.
  doc.SetParseItems({wpiSummaryInformation});
  r = Load(Package(Content("<text:p>x</text:p>"),
                   "<office:document-meta><office:meta><dc:title>New</dc:title></office:meta></office:document-meta>"),
           tfPlainText, &doc);
  EXPECT_TRUE(r.Lines.empty());
  EXPECT_EQ(doc.SummaryInformation().Title(), u"New");
  EXPECT_EQ(doc.SummaryInformation().Author(), u"");
}

TEST(OpenDocumentMetadata, Durations) {
  EXPECT_EQ(ParseOODuration(u"PT1H30M15S"), 5415);
  EXPECT_EQ(ParseOODuration(u"P1DT2H3M4.5S"), 93784);
  EXPECT_EQ(ParseOODuration(u"PT15.5S"), 15);
  EXPECT_EQ(ParseOODuration(u"PT6M"), 360);
  EXPECT_EQ(ParseOODuration(u"P2W"), 14 * 86400);
  EXPECT_EQ(ParseOODuration(u"P1Y2M"), (365 + 60) * 86400);
  EXPECT_GE(ParseOODuration(u"PT99999999999999999999H9999999999999999999M"), int64_t{1} << 49);
  for (const char16_t* bad : {u"", u"PT", u"P", u"T1H", u"PT1X", u"PT1", u"P1H", u"PTH", u"-PT1H"})
    EXPECT_EQ(ParseOODuration(bad), 0) << WideToUtf8(bad);
}

TEST(OpenDocumentMetadata, DateTimes) {
  const TDateTime t = EncodeDateTime(2015, 2, 20, 11, 11, 40, 0);
  EXPECT_DOUBLE_EQ(ParseOODateTime(u"2015-02-20T11:11:40"), UTCToLocal(t));
  EXPECT_DOUBLE_EQ(ParseOODateTime(u"2015-02-20T11:11:40Z"), UTCToLocal(t));
  EXPECT_DOUBLE_EQ(ParseOODateTime(u"2015-02-20T12:41:40+01:30"), UTCToLocal(t));
  EXPECT_DOUBLE_EQ(ParseOODateTime(u"2015-02-20T06:11:40-0500"), UTCToLocal(t));
  EXPECT_NEAR(ParseOODateTime(u"2015-02-20T11:11:40.25"), UTCToLocal(t) + 0.25 / 86400, 1e-9);
  EXPECT_DOUBLE_EQ(ParseOODateTime(u"2015-02-20"), EncodeDate(2015, 2, 20));
  for (const char16_t* bad : {u"", u"2015", u"2015-02-30T00:00:00", u"2015-02-20T25:00:00", u"2015-02-20 11:11:40",
                              u"2015-02-20T11:11:40junk", u"2015-02-20T11:11:40+2"})
    EXPECT_EQ(ParseOODateTime(bad), 0) << WideToUtf8(bad);
}

TEST(OpenDocumentMetadata, Colours) {
  TOOColor c = 7;
  EXPECT_TRUE(ParseOOHexColor(u"#FF8000", c));
  EXPECT_EQ(c, 0x0080FFu);
  for (const char16_t* bad : {u"transparent", u"#FFF", u"#GG0000", u"FF8000", u"#FF80000"}) {
    c = 7;
    EXPECT_FALSE(ParseOOHexColor(bad, c));
    EXPECT_EQ(c, 7u);
  }
}

// ---------------------------------------------------------------------------
// Damaged, hostile and protected packages

TEST(OpenDocumentBadInput, EncryptedPackageSaysSo) {
  const std::string manifest =
      "<manifest:manifest><manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\""
      "application/vnd.oasis.opendocument.text\"/><manifest:file-entry manifest:full-path=\"content.xml\">"
      "<manifest:encryption-data manifest:checksum-type=\"SHA1/1K\"><manifest:algorithm/>"
      "</manifest:encryption-data></manifest:file-entry></manifest:manifest>";
  TOpenOfficeTextDocument doc;
  TResult r = Load(Zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                        {"content.xml", "\x8a\x01\xff garbage"},
                        {"META-INF/manifest.xml", manifest}}),
                   tfPlainText, &doc);
  EXPECT_EQ(r.Error, "Could not read the password protected file");
  EXPECT_TRUE(doc.IsPasswordProtected());
  Load(Package(Content("")), tfPlainText, &doc);
  EXPECT_FALSE(doc.IsPasswordProtected());
}

TEST(OpenDocumentBadInput, NotAPackageOrNoContent) {
  EXPECT_EQ(Load("plain text, not a zip").Error, "Not a valid OpenDocument package");
  TOpenOfficeTextDocument doc;
  EXPECT_THROW(testing::LoadLines(doc, Zip({{"mimetype", "x"}})), ECorruptError);
  TResult r = Load(Zip({{"meta.xml", "<office:meta><dc:title>T</dc:title></office:meta>"}}), tfPlainText, &doc);
  EXPECT_EQ(r.Error, "The OpenDocument package has no content.xml");
  EXPECT_EQ(doc.SummaryInformation().Title(), u"T");
}

TEST(OpenDocumentBadInput, MalformedXmlGivesWhatCanBeRecovered) {
  EXPECT_EQ(Load(Package("\x01\x02 not xml at all <<<>>> &&&")).Lines, (Lines{"", ""}));
  EXPECT_EQ(Load(Package("<office:body><office:text><text:p>cut <text:span>sh")).Lines, (Lines{"", "cut sh", ""}));
  TOpenOfficeTextDocument doc;
  TResult r = Load(Package(Content("<text:p>x</text:p>"), "<office:meta><dc:title>broken"), tfPlainText, &doc);
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(doc.SummaryInformation().Title(), u"broken");
}

TEST(OpenDocumentBadInput, DeepNestingIsFlattenedNotFatal) {
  // Text nested deeper than the limit joins the deepest element kept.
  std::string spans, sections;
  for (int i = 0; i < 100000; ++i) spans += "<text:span>";
  spans += "text";
  for (int i = 0; i < 100000; ++i) spans += "</text:span>";
  for (int i = 0; i < 100000; ++i) sections += "<text:section>";
  TOpenOfficeTextDocument doc;
  TResult r = Load(Package(Content("<text:p>deep " + spans + " end</text:p>" + sections)), tfHTML, &doc);
  EXPECT_EQ(r.Error, "");
  ASSERT_EQ(r.Lines.size(), 5u);
  EXPECT_EQ(r.Lines[3], "<p>deep text end</p>");
  EXPECT_FALSE(doc.Warnings().empty());
}

TEST(OpenDocumentBadInput, OutputLimitStopsTheWalk) {
  std::string body;
  for (int i = 0; i < 1000; ++i) body += "<text:p>paragraph</text:p>";
  TOpenOfficeTextDocument doc;
  doc.SetMaxTextLength(25);
  TResult r = Load(Package(Content(body)), tfPlainText, &doc);
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.Lines, (Lines{"", "paragraph", "paragraph", "p"}));
}

// ---------------------------------------------------------------------------
// Detection

TEST(OpenDocumentDetection, ByMimetypeManifestOrContent) {
  auto detect = [](const std::string& bytes) {
    TBytesStream s(bytes);
    return DetectOpenDocument(s);
  };
  EXPECT_EQ(detect(Package("", "", "application/vnd.oasis.opendocument.text")), odkText);
  EXPECT_EQ(detect(Package("", "", "application/vnd.oasis.opendocument.spreadsheet-template")), odkSpreadsheet);
  EXPECT_EQ(detect(Zip({{"content.xml", ""}, {"mimetype", "application/vnd.oasis.opendocument.presentation"}})),
            odkPresentation);
  EXPECT_EQ(detect(Zip({{"META-INF/manifest.xml",
                         "<manifest:manifest><manifest:file-entry manifest:media-type=\"application/"
                         "vnd.oasis.opendocument.spreadsheet\" manifest:full-path=\"/\"/></manifest:manifest>"}})),
            odkSpreadsheet);
  EXPECT_EQ(detect(Zip({{"content.xml", Content("", "presentation")}})), odkPresentation);
  EXPECT_EQ(detect(Zip({{"content.xml", Content("", "textual")}})), odkNone);
  EXPECT_EQ(detect(Package("", "", "application/vnd.oasis.opendocument.graphics")), odkNone);
  EXPECT_EQ(detect(Zip({{"mimetype", "application/epub+zip"}, {"content.xml", Content("")}})), odkNone);
  EXPECT_EQ(detect(Zip({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", "<w:document/>"}})), odkNone);
  EXPECT_EQ(detect("PK"), odkNone);
  EXPECT_EQ(detect(""), odkNone);
}

// ---------------------------------------------------------------------------
// Rendering while parsing: blocks are rendered as they close and freed. The
// reference is the whole tree rendered after the parse, which formatted
// output still does for a document without automatic styles before its body.

struct TStreamCase {
  const char* Kind;
  std::string Body;
};

const std::vector<TStreamCase>& StreamCases() {
  static const std::vector<TStreamCase> cases = {
      {"text",
       "<text:section><text:h>Title &amp; more</text:h><!-- between --> loose text "
       "<text:list><text:list-item><text:p>one</text:p><text:list><text:list-item><text:p>nested</text:p>"
       "</text:list-item></text:list></text:list-item><text:list-header><text:p>head</text:p></text:list-header>"
       "</text:list><table:table table:style-name=\"T\"><table:table-column/><table:table-header-rows>"
       "<table:table-row><table:table-cell><text:p>h</text:p></table:table-cell></table:table-row>"
       "</table:table-header-rows><table:table-row table:number-rows-repeated=\"2\">"
       "<table:table-cell table:number-columns-repeated=\"2\"><text:p>c</text:p><table:table>"
       "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell><text:p>in</text:p></table:table-cell>"
       "</table:table-row></table:table></table:table-cell><table:covered-table-cell><text:p>hidden</text:p>"
       "</table:covered-table-cell></table:table-row><table:table-row-group>"
       "<table:table-row table:number-rows-repeated=\"3\"><table:table-cell/></table:table-row>"
       "</table:table-row-group></table:table></text:section><text:tracked-changes><text:changed-region>"
       "<text:deletion><text:p>deleted</text:p></text:deletion></text:changed-region></text:tracked-changes>"
       "<text:p text:style-name=\"P\">note<text:note><text:note-citation>1</text:note-citation><text:note-body>"
       "<text:p>body</text:p></text:note-body></text:note> and <draw:frame><draw:text-box><text:p>boxed</text:p>"
       "</draw:text-box></draw:frame></text:p><text:p>after<text:s text:c=\"3\"/>x<text:tab/>y"
       "<text:line-break/>z</text:p>"},
      {"spreadsheet",
       "<table:calculation-settings/><table:table table:name=\"A\">"
       "<table:table-column table:number-columns-repeated=\"3\"/><table:table-header-rows><table:table-row>"
       "<table:table-cell office:value-type=\"string\" office:string-value=\"v\"/></table:table-row>"
       "</table:table-header-rows><table:table-rows><table:table-row table:number-rows-repeated=\"3\">"
       "<table:table-cell table:number-columns-repeated=\"2\"><text:p>r</text:p></table:table-cell>"
       "<table:table-cell table:number-columns-repeated=\"4\"/></table:table-row></table:table-rows><table:shapes>"
       "<draw:frame><draw:image xlink:href=\"Pictures/p.png\"/></draw:frame></table:shapes></table:table>"
       "<table:table table:name=\"B\"><table:table-row><table:table-cell><text:p>b</text:p></table:table-cell>"
       "</table:table-row></table:table><table:named-expressions><table:named-range/></table:named-expressions>"},
      {"presentation",
       "<draw:page draw:name=\"1\"><draw:frame><draw:text-box><text:p>slide one</text:p></draw:text-box>"
       "</draw:frame><presentation:notes><draw:frame><draw:text-box><text:p>note</text:p></draw:text-box>"
       "</draw:frame></presentation:notes></draw:page><draw:page><draw:custom-shape><text:p>shape</text:p>"
       "</draw:custom-shape><text:p><text:page-number>&lt;number&gt;</text:page-number></text:p></draw:page>"},
  };
  return cases;
}

struct TRendered {
  Lines Text;
  std::vector<std::pair<std::string, int>> Warnings;
  bool operator==(const TRendered&) const = default;
};

void PrintTo(const TRendered& r, std::ostream* os) {
  for (const std::string& l : r.Text) *os << "\n  | " << l;
  for (const auto& [w, n] : r.Warnings) *os << "\n  ! " << w << " x" << n;
}

// A content part cut after At characters of its body (npos: whole).
TRendered Render(const char* Kind, const std::string& Body, size_t At, bool WithStyles, TMSTextFormating Fmt,
                 int Depth = 256, int64_t MaxDecompressed = int64_t{1} << 30) {
  std::string content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content>";
  if (WithStyles) content += "<office:automatic-styles/>";
  const std::string kind = Kind;
  std::string body = "<office:body><office:" + kind + ">" + Body + "</office:" + kind +
                     "></office:body></office:document-content>";
  content += body.substr(0, At);
  std::unique_ptr<TCustomOpenOfficeDocument> doc = MakeDocument(kind);
  doc->SetTextFormating(Fmt);
  doc->SetMaxNestingDepth(Depth);
  doc->SetMaxDecompressedSize(MaxDecompressed);
  TBytesStream stream(Package(content));
  doc->LoadFromStream(stream);
  TRendered r;
  for (const WideString& s : doc->Text().Items()) {
    const std::string line = WideToUtf8(s);
    // The empty styles element gives an empty style block, nothing else.
    if (line != "<style type=\"text/css\">" && line != "</style>") r.Text.push_back(line);
  }
  for (const auto& w : doc->Warnings()) r.Warnings.push_back({w.Message, w.Count});
  return r;
}

TEST(OpenDocumentStreaming, EveryCutOfTheBodyRendersAsTheWholeTreeDoes) {
  // Cut anywhere, a body leaves blocks and containers open (a table in a
  // list item in a section, a row inside a row group): what they hold is
  // still written, and their closings, in order.
  for (const TStreamCase& c : StreamCases()) {
    const size_t length = std::string("<office:body><office:></office:></office:body></office:document-content>").size() +
                          2 * std::string(c.Kind).size() + c.Body.size();
    for (TMSTextFormating fmt : {tfHTML, tfRTF}) {
      for (int depth : {256, 7}) {
        for (size_t at = 0; at <= length; at += fmt == tfHTML ? 1 : 5) {
          ASSERT_EQ(Render(c.Kind, c.Body, at, true, fmt, depth), Render(c.Kind, c.Body, at, false, fmt, depth))
              << c.Kind << " format " << fmt << " depth " << depth << " cut at " << at;
        }
      }
    }
  }
}

TEST(OpenDocumentStreaming, PlainTextOfNestedRepeatsAndContainers) {
  // Plain text always streams: the lines of the nested tables replay with
  // the rows and cells around them.
  const TRendered r = Render("text", StreamCases()[0].Body, std::string::npos, true, tfPlainText);
  const Lines cell = {"c", "in", "", "", "in", "", "", ""};
  Lines row;
  for (int i = 0; i < 2; ++i) row.insert(row.end(), cell.begin(), cell.end());
  row.push_back("");  // the covered cell gives nothing, the row end a line
  Lines expected = {"", "Title & more", "one", "nested", "head", "h", "", ""};
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), row.begin(), row.end());
  expected.insert(expected.end(), {"", "", "note1 and", "1\tbody", "boxed", "after   x\ty\r\nz", ""});
  EXPECT_EQ(r.Text, expected);
  EXPECT_TRUE(r.Warnings.empty());
}

TEST(OpenDocumentStreaming, WarningsKeepTheirOrderWhenTheDepthLimitComesLate) {
  // The repeat budget runs out in the first table, the depth limit is met
  // in the second: the depth warning still comes first, as when the whole
  // tree was built before rendering.
  std::string deep;
  for (int i = 0; i < 20; ++i) deep += "<text:span>";
  const std::string body =
      "<table:table><table:table-row table:number-rows-repeated=\"100000\"><table:table-cell><text:p>"
      "repeated</text:p></table:table-cell></table:table-row></table:table><table:table><table:table-row>"
      "<table:table-cell><text:p>" +
      deep + "deep</text:p></table:table-cell></table:table-row></table:table>";
  const TRendered streamed = Render("spreadsheet", body, std::string::npos, true, tfHTML, 12, 4000);
  ASSERT_EQ(streamed.Warnings.size(), 2u);
  EXPECT_NE(streamed.Warnings[0].first.find("nested too deep"), std::string::npos);
  EXPECT_NE(streamed.Warnings[1].first.find("repeated"), std::string::npos);
  EXPECT_EQ(streamed, Render("spreadsheet", body, std::string::npos, false, tfHTML, 12, 4000));
  EXPECT_NE(std::find(streamed.Text.begin(), streamed.Text.end(), "<p>deep</p>"), streamed.Text.end());
}

TEST(OpenDocumentStreaming, SinkGetsWhatTextWouldHold) {
  for (const TStreamCase& c : StreamCases()) {
    const std::string kind = c.Kind;
    const std::string bytes = Package("<office:document-content><office:automatic-styles/><office:body><office:" +
                                      kind + ">" + c.Body + "</office:" + kind + "></office:body>");
    for (TMSTextFormating fmt : {tfPlainText, tfHTML}) {
      for (int32_t limit : {0, 1, 40, 97, 150, 400, 700}) {
        auto kept = MakeDocument(kind), sunk = MakeDocument(kind);
        for (auto* d : {kept.get(), sunk.get()}) {
          d->SetTextFormating(fmt);
          d->SetMaxTextLength(limit);
        }
        Lines items;
        sunk->SetTextSink([&](std::u16string_view item) { items.push_back(WideToUtf8(WideString(item))); });
        const Lines expected = testing::LoadLines(*kept, bytes);
        EXPECT_TRUE(testing::LoadLines(*sunk, bytes).empty());
        EXPECT_EQ(items, expected) << kind << " format " << fmt << " limit " << limit;
        EXPECT_TRUE(limit > 0 || expected.size() > 5u);
      }
    }
  }
  // Nothing reaches a sink from a package that cannot be read.
  TOpenOfficeTextDocument doc;
  int items = 0;
  doc.SetTextSink([&](std::u16string_view) { ++items; });
  EXPECT_THROW(testing::LoadLines(doc, Zip({{"mimetype", "application/vnd.oasis.opendocument.text"}})), Exception);
  EXPECT_EQ(items, 0);
}

TEST(OpenDocumentStreaming, TheTreeNeverHoldsTheWholeBody) {
  // The heap in use, sampled at every paragraph, while a long body is read
  // streamed and whole (output sunk, so only the tree and the text grow).
  std::string body;
  for (int i = 0; i < 50000; ++i) body += "<text:p text:style-name=\"P\">paragraph <text:span>" + std::to_string(i) +
                                          "</text:span></text:p>";
  auto peak = [&](bool streamed) {
    auto doc = MakeDocument("text");
    doc->SetTextFormating(tfHTML);
    doc->SetTextSink([](std::u16string_view) {});
    const std::string styles = streamed ? "<office:automatic-styles/>" : "";
    TBytesStream stream(Package("<office:document-content>" + styles + "<office:body><office:text>" + body +
                                "</office:text></office:body></office:document-content>"));
    const size_t base = mallinfo2().uordblks;
    size_t most = 0;
    doc->SetOnConvertSysChar([&](TObject*, TLKWordSysChar, const WideString&, WideString&) {
      const size_t now = mallinfo2().uordblks;
      most = std::max(most, now > base ? now - base : 0);
    });
    doc->LoadFromStream(stream);
    return most;
  };
  const size_t whole = peak(false), streamed = peak(true);
  // 100000 elements take far more than 8 MB as nodes.
  if (whole < (size_t{8} << 20)) GTEST_SKIP() << "the allocator does not report the heap in use";
  EXPECT_LT(streamed + (size_t{8} << 20), whole) << "streamed " << streamed << " whole " << whole;
}

// ---------------------------------------------------------------------------
// Large content parts, inflated and parsed a piece at a time

struct TLoadOutcome {
  std::vector<std::string> Items;
  std::string Error;
  size_t Warnings = 0;
  bool operator==(const TLoadOutcome&) const = default;
};

TLoadOutcome LoadWith(const std::string& Kind, const std::string& Bytes, TMSTextFormating Fmt, bool Sink,
                      int64_t StreamFrom) {
  auto doc = MakeDocument(Kind);
  doc->SetTextFormating(Fmt);
  doc->SetStreamContentFrom(StreamFrom);
  TLoadOutcome r;
  if (Sink) doc->SetTextSink([&](std::u16string_view Item) { r.Items.push_back(WideToUtf8(WideString(Item))); });
  const TResult loaded = testing::TryLoadLines(*doc, Bytes);
  r.Items.insert(r.Items.end(), loaded.Lines.begin(), loaded.Lines.end());
  r.Error = loaded.Error;
  r.Warnings = doc->Warnings().size();
  return r;
}

TEST(OpenDocumentLargeContent, StreamedPartsReadAsPartsHeldWhole) {
  std::string rows;
  for (int i = 0; i < 3000; ++i)
    rows += "<table:table-row><table:table-cell><text:p>r" + std::to_string(i) +
            " caf\xC3\xA9</text:p></table:table-cell><table:table-cell table:number-columns-repeated=\"2\">"
            "<text:p>x</text:p></table:table-cell></table:table-row>";
  std::string paras;
  for (int i = 0; i < 3000; ++i)
    paras += "<text:p text:style-name=\"P1\">Paragraph " + std::to_string(i) + " <text:span>\xE2\x82\xAC</text:span></text:p>";
  const std::string styles =
      "<style:style style:name=\"P1\" style:family=\"paragraph\"><style:text-properties fo:font-weight=\"bold\"/>"
      "</style:style>";
  const std::vector<std::pair<std::string, std::string>> docs = {
      {"text", Content(paras, "text", styles)},
      {"spreadsheet", Content("<table:table table:name=\"S\">" + rows + "</table:table>", "spreadsheet")},
      {"presentation", Content("<draw:page><draw:frame><draw:text-box><text:p>Slide</text:p></draw:text-box>"
                               "</draw:frame></draw:page>",
                               "presentation")},
      {"text", Content(paras.substr(0, paras.size() / 2), "text")},  // cut off mid-element
  };
  for (const auto& [kind, content] : docs) {
    for (bool deflated : {true, false}) {
      const std::string bytes = testing::MakeZip(TMembers{{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                          {"content.xml", content}},
                                                 deflated);
      for (TMSTextFormating fmt : {tfPlainText, tfHTML}) {
        for (bool sink : {false, true}) {
          const TLoadOutcome whole = LoadWith(kind, bytes, fmt, sink, int64_t{1} << 40);
          EXPECT_GT(whole.Items.size(), 2u);
          EXPECT_EQ(LoadWith(kind, bytes, fmt, sink, 0), whole)
              << kind << " deflated " << deflated << " format " << fmt << " sink " << sink;
        }
      }
    }
  }
  // A real package as well.
  const std::string sample = ReadFileBytes(TestFile("sample.odt"));
  EXPECT_EQ(LoadWith("text", sample, tfPlainText, true, 0), LoadWith("text", sample, tfPlainText, true, int64_t{1} << 40));
}

TEST(OpenDocumentLargeContent, ADamagedPartGivesTheSinkNothing) {
  // The check runs through the part before anything is parsed: a bad
  // checksum or broken compressed data fails the load as extraction whole
  // does, and the sink has had nothing.
  std::string paras;
  for (int i = 0; i < 2000; ++i) paras += "<text:p>Paragraph " + std::to_string(i) + "</text:p>";
  const std::string good = Package(Content(paras));
  std::string badCrc = testing::MakeZip(TMembers{{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                 {"content.xml", Content(paras)}},
                                        true);
  std::string cut = badCrc;
  // Both copies of the CRC: the local header's and the central directory's.
  for (size_t crcAt : {badCrc.find("content.xml") - 30 + 14, badCrc.rfind("content.xml") - 46 + 16})
    badCrc[crcAt] = static_cast<char>(badCrc[crcAt] ^ 0x55);
  const size_t dataAt = cut.find("content.xml") + 11;
  for (size_t i = dataAt + 40; i < dataAt + 60; ++i) cut[i] = '\xFF';
  for (const std::string& bytes : {badCrc, cut}) {
    const TLoadOutcome whole = LoadWith("text", bytes, tfPlainText, true, int64_t{1} << 40);
    const TLoadOutcome streamed = LoadWith("text", bytes, tfPlainText, true, 0);
    EXPECT_NE(whole.Error, "");
    EXPECT_EQ(streamed, whole);
    EXPECT_TRUE(streamed.Items.empty());
  }
  EXPECT_EQ(LoadWith("text", good, tfPlainText, true, 0).Error, "");
}

// ---------------------------------------------------------------------------
// Documents written by other programs (testdata/README.md says how)

TEST(OpenDocumentFiles, PandocTextDocument) {
  TOpenOfficeTextDocument doc;
  doc.LoadFromFile(TestFile("sample.odt"));
  const std::string text = doc.Text().ToUtf8();
  EXPECT_NE(text.find("\nHarbour lights\n"), std::string::npos);
  EXPECT_NE(text.find("The keeper wrote 3 < 4 & “quoted” words, with emphasis and a link.1 Then more."),
            std::string::npos);
  EXPECT_NE(text.find("\n1\tA footnote about the lamp.\n"), std::string::npos);
  EXPECT_NE(text.find("\n\u2022 First item\n\u2022 Second item\n"), std::string::npos);
  EXPECT_NE(text.find("\nWind\n\nForce\n\n\nNorth-west\n\n5\n\n\n"), std::string::npos);
  EXPECT_NE(text.find("Line one\r\nLine two"), std::string::npos);
  EXPECT_EQ(doc.SummaryInformation().Title(), u"Harbour lights");
  EXPECT_EQ(doc.SummaryInformation().Author(), u"Ada Keeper");
  EXPECT_THROW(doc.LoadFromFile(TestFile("no-such-file.odt")), EFileNotFoundError);
}

// ---------------------------------------------------------------------------
// Flat documents: the parts of a package as one XML file

// The flat form of a package's content.xml and meta.xml.
std::string Flat(std::string content, const std::string& meta, const std::string& mime) {
  const size_t root = content.find("<office:document-content");
  content.replace(root, 24, "<office:document office:mimetype=\"" + mime + "\"");
  const size_t metaStart = meta.find("<office:meta>");
  const size_t metaEnd = meta.find("</office:meta>");
  if (metaStart != std::string::npos && metaEnd != std::string::npos)
    content.insert(content.find('>', root) + 1, meta.substr(metaStart, metaEnd + 14 - metaStart));
  content.replace(content.rfind("</office:document-content>"), 26, "</office:document>");
  return content;
}

template <typename T>
void ExpectFlatReadsLikePackage(const std::string& content, const std::string& meta, const std::string& mime) {
  const std::string flat = Flat(content, meta, mime);
  for (TMSTextFormating fmt : {tfPlainText, tfRTF, tfHTML}) {
    T fromPackage, fromFlat;
    const TResult a = Load<T>(Package(content, meta, mime), fmt, &fromPackage);
    const TResult b = Load<T>(flat, fmt, &fromFlat);
    EXPECT_EQ(b.Error, "");
    EXPECT_EQ(b.Lines, a.Lines) << mime << " format " << fmt;
    EXPECT_EQ(fromFlat.SummaryInformation().Title(), fromPackage.SummaryInformation().Title());
    EXPECT_EQ(fromFlat.SummaryInformation().Author(), fromPackage.SummaryInformation().Author());
    EXPECT_EQ(fromFlat.SummaryInformation().Created(), fromPackage.SummaryInformation().Created());
  }
  TBytesStream s(flat);
  EXPECT_EQ(DetectOpenDocument(s), OpenDocumentKindFromMimeType(mime));
}

TEST(OpenDocumentFlat, ReadsAsItsPackageDoes) {
  TZipArchive zip;
  zip.LoadFromFile(TestFile("sample.odt"));
  const std::string content = zip.GetUncompressed(zip.GetIndexByFileName("content.xml"));
  const std::string meta = zip.GetUncompressed(zip.GetIndexByFileName("meta.xml"));
  ASSERT_NE(meta.find("Harbour lights"), std::string::npos);
  ExpectFlatReadsLikePackage<TOpenOfficeTextDocument>(content, meta, "application/vnd.oasis.opendocument.text");

  const std::string cellMeta =
      "<office:document-meta><office:meta><dc:title>Cells</dc:title></office:meta></office:document-meta>";
  ExpectFlatReadsLikePackage<TOpenOfficeSpreadsheet>(
      Content("<table:table><table:table-row><table:table-cell><text:p>a &amp; b</text:p></table:table-cell>"
              "<table:table-cell table:number-columns-repeated=\"2\"><text:p>c</text:p></table:table-cell>"
              "</table:table-row></table:table>",
              "spreadsheet"),
      cellMeta, "application/vnd.oasis.opendocument.spreadsheet");
  ExpectFlatReadsLikePackage<TOpenOfficePresentation>(
      Content("<draw:page><draw:frame><draw:text-box><text:p>Slide</text:p></draw:text-box></draw:frame>"
              "</draw:page>",
              "presentation"),
      "", "application/vnd.oasis.opendocument.presentation");
}

TEST(OpenDocumentFlat, ScriptsAndForeignMarkupAreNoText) {
  const std::string body =
      "<text:p>Before <script>window.x = 1;</script><xhtml:script>window.y = 2;</xhtml:script>"
      "<h:b xmlns:h=\"http://www.w3.org/1999/xhtml\">bold</h:b><xhtml:span>click</xhtml:span>"
      "<loext:content-control>kept</loext:content-control> after</text:p>"
      "<div xmlns=\"http://www.w3.org/1999/xhtml\"><p>html para</p></div>"
      "<text:p><text:span xmlns=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><x>own default</x></text:span>"
      "</text:p>";
  const std::string flat =
      "<office:document office:mimetype=\"application/vnd.oasis.opendocument.text\">"
      "<office:scripts><office:script script:language=\"ooo:Basic\"><ooo:libraries>Sub Main</ooo:libraries>"
      "</office:script></office:scripts><office:styles><style:style style:name=\"s\"/></office:styles>"
      "<office:body><office:text>" +
      body + "</office:text></office:body></office:document>";
  const Lines want = {"", "Before kept after", "own default", ""};
  EXPECT_EQ(Load(flat).Lines, want);
  EXPECT_EQ(Load(Package(Content(body))).Lines, want);
  // A script inside the body, where a writer may put one, is none either.
  EXPECT_EQ(Load(Package(Content("<office:scripts><office:script>code</office:script></office:scripts>"
                                 "<text:p>text</text:p>")))
                .Lines,
            (Lines{"", "text", ""}));
}

TEST(OpenDocumentFlat, RootMustNameAnOpenDocumentType) {
  auto detect = [](const std::string& bytes) {
    TBytesStream s(bytes);
    return DetectOpenDocument(s);
  };
  const std::string body = "<office:body><office:text><text:p>x</text:p></office:text></office:body>";
  std::string namespaces;
  for (int i = 0; i < 150; ++i) namespaces += " xmlns:n" + std::to_string(i) + "=\"urn:example:" + std::to_string(i) + "\"";
  EXPECT_EQ(detect("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- made by hand -->\n<office:document" + namespaces +
                   "\n office:mimetype = 'application/vnd.oasis.opendocument.presentation'>" + body),
            odkPresentation);
  // The attribute must be the type's own, not one that ends like it.
  EXPECT_EQ(detect("<office:document x:office:mimetype=\"application/vnd.oasis.opendocument.text\">"), odkNone);
  EXPECT_EQ(detect("<office:document office:version=\"1.3\">" + body), odkNone);
  EXPECT_EQ(detect("<office:document office:mimetype=\"application/vnd.oasis.opendocument.graphics\">"), odkNone);
  // A bare content part, or another root, is no document.
  EXPECT_EQ(detect(Content("<text:p>x</text:p>")), odkNone);
  EXPECT_EQ(detect("<office:documents office:mimetype=\"application/vnd.oasis.opendocument.text\">"), odkNone);
  // A start tag that does not end within what is looked at.
  std::string longTag = "<office:document";
  while (longTag.size() < 20000) longTag += namespaces;
  EXPECT_EQ(detect(longTag + " office:mimetype=\"application/vnd.oasis.opendocument.text\">" + body), odkNone);
  EXPECT_EQ(detect("<office:document office:mimetype=\"application/vnd.oasis.opendocument.text"), odkNone);

  EXPECT_EQ(Load(Content("<text:p>x</text:p>")).Error, "Not a valid OpenDocument package");
  // Pictures are held in the file itself, as base64 text that is no text.
  TResult r = Load(
      "<office:document office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>"
      "<text:p>x<draw:frame><draw:image><office:binary-data>iVBORw0KGgo=</office:binary-data></draw:image>"
      "</draw:frame></text:p></office:text></office:body></office:document>");
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.Lines, (Lines{"", "x", ""}));
}

}  // namespace
}  // namespace lkw
