#include "lkword/word/MSWordX.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "testing/ZipBuilder.h"
#include "lkword/platform/CodePages.h"
#include "testing/CompoundFileBuilder.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;

std::string Zip(const Parts& parts, bool deflated = false) { return testing::MakeZip(parts, deflated); }

constexpr const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kNs =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\""
    " xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\"";

std::string Body(const std::string& inner) {
  return std::string(kDecl) + "<w:document" + kNs + "><w:body>" + inner +
         "<w:sectPr><w:pgSz w:w=\"12240\"/></w:sectPr></w:body></w:document>";
}
std::string P(const std::string& runs) { return "<w:p>" + runs + "</w:p>"; }
std::string R(const std::string& text) { return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>"; }

struct TLoaded {
  std::unique_ptr<TMSWordXDocument> Doc;
  std::vector<std::string> Text, Foot, End, Header, Footer, Annotations;
};

std::vector<std::string> Lines(const TWideStrings& L) {
  std::vector<std::string> out;
  for (const auto& s : L.Items()) out.push_back(WideToUtf8(s));
  return out;
}

TLoaded Load(const std::string& bytes, TMSTextFormating format = tfPlainText,
             TLKWParseItems items = {wpiText, wpiSummaryInformation}, int32_t piece = 0) {
  TLoaded r{std::make_unique<TMSWordXDocument>(), {}, {}, {}, {}, {}, {}};
  if (piece > 0) r.Doc->SetPartPieceSize(piece);
  r.Doc->SetTextFormating(format);
  r.Doc->SetParseItems(items);
  TBytesStream s(bytes);
  r.Doc->LoadFromStream(s);
  r.Text = Lines(r.Doc->Text());
  r.Foot = Lines(r.Doc->FootNoteText());
  r.End = Lines(r.Doc->EndNoteText());
  r.Header = Lines(r.Doc->HeaderText());
  r.Footer = Lines(r.Doc->FooterText());
  r.Annotations = Lines(r.Doc->AnnotationText());
  // A host with a text sink gets the same main text, whether it is passed
  // on at the end of the part or item by item.
  for (int64_t held : {int64_t{1} << 20, int64_t{1}}) {
    if (held == 1 && r.Doc->Warnings().size() > 0) continue;  // a part read again may differ
    TMSWordXDocument sunk;
    if (piece > 0) sunk.SetPartPieceSize(piece);
    sunk.SetTextFormating(format);
    sunk.SetParseItems(items);
    sunk.SetMaxTextLength(r.Doc->MaxTextLength());
    sunk.SetHeldTextLength(held);
    std::vector<std::string> got;
    sunk.SetTextSink([&](std::u16string_view item) { got.push_back(WideToUtf8(WideString(item))); });
    TBytesStream again(bytes);
    sunk.LoadFromStream(again);
    for (const std::string& line : Lines(sunk.Text())) got.push_back(line);
    EXPECT_EQ(got, r.Text) << "held " << held;
    EXPECT_EQ(Lines(sunk.FootNoteText()), r.Foot);
  }
  return r;
}

TLoaded LoadBody(const std::string& inner, TMSTextFormating format = tfPlainText,
                 TLKWParseItems items = {wpiText, wpiSummaryInformation}) {
  return Load(Zip({{"word/document.xml", Body(inner)}}), format, items);
}

using V = std::vector<std::string>;

std::string TempPath(const std::string& name) { return ::testing::TempDir() + "lkword-docx-" + name; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// ---------------------------------------------------------------------------

TEST(WordXRenderTest, ParagraphsTabsAndEntitiesInEveryFormat) {
  const std::string doc = P("<w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>" + R("a &amp; b") +
                            "<w:r><w:tab/></w:r>" + R("&lt;c&gt;")) +
                          P("") + P(R("\xC3\xA9t\xC3\xA9"));
  EXPECT_EQ(LoadBody(doc).Text, (V{"a & b\t<c>", "", "\xC3\xA9t\xC3\xA9"}));

  auto html = LoadBody(doc, tfHTML).Text;
  ASSERT_EQ(html.size(), 5u);
  EXPECT_EQ(html[0].substr(0, 6), "<html>");
  EXPECT_EQ(html[1], "<p>a &amp; b&#9;&lt;c&gt;</p>");
  EXPECT_EQ(html[2], "<p></p>");
  EXPECT_EQ(html[4], "\r\n</body>\r\n</html>");

  auto rtf = LoadBody(doc, tfRTF).Text;
  ASSERT_EQ(rtf.size(), 5u);
  EXPECT_EQ(rtf[0].substr(0, 6), "{\\rtf1");
  EXPECT_EQ(rtf[1], "a & b\\tab <c>\\par");
  EXPECT_EQ(rtf[3], "\\u233?t\\u233?\\par");
  EXPECT_EQ(rtf[4], "\r\n}");
}

TEST(WordXRenderTest, HiddenRunsUnlessHiddenTextIsRequested) {
  const std::string doc =
      P(R("shown ") + "<w:r><w:rPr><w:b/><w:vanish/></w:rPr><w:t>secret</w:t><w:tab/></w:r>" +
        "<w:r><w:rPr><w:vanish w:val=\"false\"/></w:rPr><w:t>visible</w:t></w:r>" +
        "<w:r><w:rPr><w:vanish/></w:rPr><w:footnoteReference w:id=\"5\"/></w:r>" + R(" end"));
  EXPECT_EQ(LoadBody(doc).Text, (V{"shown visible end"}));
  EXPECT_EQ(LoadBody(doc, tfPlainText, {wpiText, wpiHiddenText}).Text, (V{"shown secret\tvisible1 end"}));
}

TEST(WordXRenderTest, ContentContainersAreEnteredAndInstructionsAreNot) {
  const std::string doc =
      "<w:sdt><w:sdtPr><w:alias w:val=\"x\"/><w:placeholder><w:docPart w:val=\"p\"/></w:placeholder></w:sdtPr>"
      "<w:sdtContent>" + P(R("control")) + "</w:sdtContent></w:sdt>" +
      P("<w:smartTag w:uri=\"u\" w:element=\"place\">" + R("tagged") + "</w:smartTag>" +
        "<w:customXml w:element=\"e\">" + R(" custom") + "</w:customXml>" +
        "<w:hyperlink r:id=\"rId1\">" + R(" link") + "</w:hyperlink>" +
        "<w:fldSimple w:instr=\" PAGE \">" + R(" 7") + "</w:fldSimple>" +
        "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> DATE \\@ x </w:instrText></w:r>"
        "<w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" + R(" today") +
        "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>" +
        "<w:sdt><w:sdtContent>" + R(" inline") + "</w:sdtContent></w:sdt>" +
        "<w:bookmarkStart w:id=\"0\" w:name=\"b\"/>" + "<w:ins w:id=\"1\" w:author=\"a\">" + R("new") + "</w:ins>") +
      "<w:tbl><w:tblPr/><w:tblGrid><w:gridCol/></w:tblGrid><w:sdt><w:sdtContent><w:tr><w:sdt><w:sdtContent>"
      "<w:tc><w:tcPr/>" + P(R("cell")) + "</w:tc></w:sdtContent></w:sdt></w:tr></w:sdtContent></w:sdt></w:tbl>";
  EXPECT_EQ(LoadBody(doc).Text, (V{"control", "tagged custom link 7 today inline+new", "cell"}));
}

TEST(WordXRenderTest, TextBoxesFollowTheirAnchorOnceEach) {
  const std::string box = "<w:txbxContent>" + P(R("box one")) + P(R("box two")) + "</w:txbxContent>";
  const std::string doc =
      P(R("before ") + "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor><a:graphic>"
                       "<a:graphicData><wps:wsp><wps:spPr/><wps:txbx>" + box +
        "</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></mc:Choice>"
        "<mc:Fallback><w:pict><v:shape><v:textbox>" + box +
        "</v:textbox></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r>" + R("after")) +
      P(R("next")) +
      // A choice needing something unknown gives way to the fallback.
      P("<w:r><mc:AlternateContent><mc:Choice Requires=\"zz\"><w:t>unknown</w:t></mc:Choice>"
        "<mc:Fallback><w:pict><v:rect><v:textbox><w:txbxContent>" + P(R("vml")) +
        "</w:txbxContent></v:textbox></v:rect></w:pict></mc:Fallback></mc:AlternateContent></w:r>");
  EXPECT_EQ(LoadBody(doc).Text, (V{"before after", "box one", "box two", "next", "", "vml"}));
  auto html = LoadBody(doc, tfHTML).Text;
  EXPECT_EQ(html[1], "<p>before after</p>");
  EXPECT_EQ(html[2], "<p>box one</p>");
}

TEST(WordXRenderTest, BreaksHyphensAndSymbols) {
  const std::string doc =
      P("<w:r><w:t>a</w:t><w:br/><w:t>b</w:t><w:br w:type=\"page\"/><w:t>c</w:t><w:cr/><w:t>d</w:t>"
        "<w:br w:type=\"column\"/><w:noBreakHyphen/><w:t>e</w:t><w:softHyphen/><w:t>f</w:t></w:r>") +
      P("<w:r><w:sym w:font=\"Symbol\" w:char=\"F0B7\"/><w:sym w:font=\"Symbol\" w:char=\"61\"/>"
        "<w:sym w:font=\"Wingdings\" w:char=\"F0FC\"/><w:sym w:font=\"Wingdings\" w:char=\"4A\"/>"
        "<w:sym w:font=\"Arial\" w:char=\"00E9\"/><w:sym w:font=\"Symbol\" w:char=\"zz\"/></w:r>");
  EXPECT_EQ(LoadBody(doc).Text, (V{"a\r\nbc\r\nd-ef", "\xE2\x80\xA2\xCE\xB1\xC3\xA9"}));
  EXPECT_EQ(LoadBody(doc, tfHTML).Text[1], "<p>a<br>bc<br>d-ef</p>");
  EXPECT_EQ(LoadBody(doc, tfRTF).Text[1], "a\\line bc\\line d-ef\\par");
}

TEST(WordXRenderTest, DeletedAndInsertedRunsAreMarked) {
  const std::string doc =
      P("<w:r><w:rPr><w:ins w:id=\"3\"/><w:del w:id=\"4\"/></w:rPr><w:t>x </w:t></w:r>"
        "<w:del w:id=\"1\" w:author=\"a\"><w:r><w:delText>old</w:delText></w:r></w:del>"
        "<w:ins w:id=\"2\" w:author=\"a\"><w:r><w:t>new</w:t></w:r></w:ins>"
        "<w:moveFrom w:id=\"5\">" + R("gone") + "</w:moveFrom>");
  EXPECT_EQ(LoadBody(doc).Text, (V{"x -old+new-gone"}));
  EXPECT_EQ(LoadBody(doc, tfHTML).Text[1], "<p>x <s>old</s><u>new</u><s>gone</s></p>");
}

TEST(WordXRenderTest, TablesAsLinesAndHtmlTables) {
  auto cell = [](const std::string& t) { return "<w:tc><w:tcPr><w:tcW w:w=\"1\"/></w:tcPr>" + P(R(t)) + "</w:tc>"; };
  const std::string doc = "<w:tbl><w:tblPr/><w:tr><w:trPr/>" + cell("a") + cell("b") + "</w:tr><w:tr>" + cell("c") +
                          "<w:tc><w:tbl><w:tr>" + cell("n") + "</w:tr></w:tbl>" + P("") + "</w:tc></w:tr></w:tbl>";
  EXPECT_EQ(LoadBody(doc).Text, (V{"a", "b", "c", "n", ""}));
  auto html = LoadBody(doc, tfHTML).Text;
  const V expected{"<table border=\"1\">", "  <tr>",    "    <td>", "<p>a</p>",  "    </td>",
                   "    <td>",           "<p>b</p>",  "    </td>", "  </tr>",   "  <tr>",
                   "    <td>",           "<p>c</p>",  "    </td>", "    <td>",  "<table border=\"1\">",
                   "  <tr>",             "    <td>",  "<p>n</p>",  "    </td>", "  </tr>",
                   "</table>",           "<p></p>",   "    </td>", "  </tr>",   "</table>"};
  EXPECT_EQ(V(html.begin() + 1, html.end() - 1), expected);
}

TEST(WordXRenderTest, OtherPrefixesForTheUsualNamespaces) {
  const std::string doc = std::string(kDecl) +
                          "<document xmlns=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><body>"
                          "<p><r><t>plain</t></r></p><x:p xmlns:x=\"urn:other\"><x:r><x:t>foreign</x:t></x:r></x:p>"
                          "</body></document>";
  EXPECT_EQ(Load(Zip({{"word/document.xml", doc}})).Text, (V{"plain"}));
  const std::string strict =
      "<ns0:document xmlns:ns0=\"http://purl.oclc.org/ooxml/wordprocessingml/main\"><ns0:body><ns0:p><ns0:r>"
      "<ns0:t>strict</ns0:t></ns0:r></ns0:p></ns0:body></ns0:document>";
  EXPECT_EQ(Load(Zip({{"word/document.xml", strict}})).Text, (V{"strict"}));
}

// Parts in other encodings go through the XML engine; they must read alike.
TEST(WordXRenderTest, EveryEncodingReadsAlike) {
  const std::string inner =
      P(R("caf\xC3\xA9 &amp; &lt;x&gt;") + "<w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden</w:t></w:r><w:r><w:tab/>"
        "<w:sym w:font=\"Symbol\" w:char=\"F061\"/><w:br/></w:r>" +
        "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx><w:txbxContent>" +
        P(R("box")) + "</w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback>" + P(R("twice")) +
        "</mc:Fallback></mc:AlternateContent></w:r>" + "<w:del w:id=\"1\"><w:r><w:delText>old</w:delText></w:r></w:del>") +
      "<w:tbl><w:tr><w:tc>" + P(R("cell") + "<w:r><w:footnoteReference w:id=\"4\"/></w:r>") + "</w:tc></w:tr></w:tbl>" +
      "<w:sdt><w:sdtContent>" + P(R("sdt")) + "</w:sdtContent></w:sdt>";
  const std::string utf8 = Body(inner);
  // UTF-16 with a byte-order mark, and a declared single-byte code page.
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : Utf8ToWide(utf8)) utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  std::string cp1252 = utf8;
  cp1252.replace(cp1252.find("UTF-8"), 5, "windows-1252");
  cp1252.replace(cp1252.find("\xC3\xA9"), 2, "\xE9");
  // Not UTF-8 and not saying so: read in the ANSI code page, once.
  std::string undeclared = cp1252;
  undeclared.replace(undeclared.find(" encoding=\"windows-1252\""), 25, "");
  undeclared.replace(undeclared.find("sdt</w:t>"), 3, "sd\xE9");
  for (TMSTextFormating f : {tfPlainText, tfRTF, tfHTML}) {
    V expected = Load(Zip({{"word/document.xml", utf8}}), f).Text;
    EXPECT_EQ(Load(Zip({{"word/document.xml", utf16}}), f).Text, expected);
    EXPECT_EQ(Load(Zip({{"word/document.xml", cp1252}}), f).Text, expected);
    V late = Load(Zip({{"word/document.xml", undeclared}}), f).Text;
    ASSERT_EQ(late.size(), expected.size());
    EXPECT_EQ(V(late.begin(), late.end() - 2), V(expected.begin(), expected.end() - 2));
  }
  EXPECT_EQ(Load(Zip({{"word/document.xml", utf16}})).Text,
            (V{"caf\xC3\xA9 & <x>\t\xCE\xB1\r\n-old", "box", "cell1", "sdt"}));
  EXPECT_EQ(Load(Zip({{"word/document.xml", undeclared}})).Text.back(), "sd\xC3\xA9");
}

// ---------------------------------------------------------------------------

const char* kFootnotes =
    "<w:footnotes xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
    "<w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
    "<w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:continuationSeparator/></w:r></w:p>"
    "</w:footnote>"
    "<w:footnote w:id=\"7\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> seven</w:t></w:r></w:p>"
    "<w:p><w:r><w:t>more</w:t></w:r></w:p></w:footnote>"
    "<w:footnote w:id=\"3\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> three</w:t></w:r></w:p>"
    "</w:footnote></w:footnotes>";

TEST(WordXNotesTest, MarksNumberReferencesInOrderAndNotesByTheirId) {
  const std::string body = P(R("a") + "<w:r><w:footnoteReference w:id=\"3\"/></w:r>" + R(" b") +
                             "<w:r><w:footnoteReference w:id=\"7\"/></w:r>" +
                             "<w:r><w:footnoteReference w:customMarkFollows=\"1\" w:id=\"9\"/><w:t>*</w:t></w:r>" +
                             "<w:r><w:endnoteReference w:id=\"2\"/></w:r>");
  const std::string endnotes =
      "<w:endnotes xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:endnote w:id=\"2\"><w:p><w:r><w:endnoteRef/><w:t xml:space=\"preserve\"> end</w:t></w:r></w:p></w:endnote>"
      "</w:endnotes>";
  auto r = Load(Zip({{"word/document.xml", Body(body)},
                     {"word/footnotes.xml", kFootnotes},
                     {"word/endnotes.xml", endnotes}}));
  EXPECT_EQ(r.Text, (V{"a1 b2*i"}));
  EXPECT_EQ(r.Foot, (V{"2 seven", "more", "1 three"}));
  EXPECT_EQ(r.End, (V{"i end"}));

  // Numbering formats from the settings part.
  const std::string settings =
      "<w:settings xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:footnotePr><w:numFmt w:val=\"upperLetter\"/></w:footnotePr>"
      "<w:endnotePr><w:numFmt w:val=\"decimal\"/></w:endnotePr></w:settings>";
  r = Load(Zip({{"word/document.xml", Body(body)}, {"word/settings.xml", settings}, {"word/endnotes.xml", endnotes}}));
  EXPECT_EQ(r.Text, (V{"aA bB*1"}));
  EXPECT_EQ(r.End, (V{"1 end"}));
}

TEST(WordXPackageTest, PartsAreFoundThroughRelationshipsAndByName) {
  const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"r1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"/doc/main.xml\"/></Relationships>";
  const std::string mainRels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"h\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/header\" "
      "Target=\"../shared/top.xml\"/>"
      "<Relationship Id=\"f\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/footnotes\" "
      "Target=\"notes.xml\"/>"
      "<Relationship Id=\"x\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\" "
      "Target=\"http://example.org/\" TargetMode=\"External\"/></Relationships>";
  auto hdr = [](const std::string& t) {
    return "<w:hdr xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">" + P(R(t)) + "</w:hdr>";
  };
  auto r = Load(Zip({{"_rels/.rels", rels},
                     {"doc/_rels/main.xml.rels", mainRels},
                     {"doc/main.xml", Body(P(R("main")))},
                     {"word/document.xml", Body(P(R("decoy")))},
                     {"doc/header10.xml", hdr("ten")},
                     {"doc/header2.xml", hdr("two")},
                     {"shared/top.xml", hdr("top")},
                     {"doc/notes.xml", kFootnotes}}));
  EXPECT_EQ(r.Text, (V{"main"}));
  EXPECT_EQ(r.Header, (V{"two", "ten", "top"}));
  EXPECT_EQ(r.Foot.size(), 3u);

  // Without relationships, the usual names.
  auto f = [](const std::string& t) {
    return "<w:ftr xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">" + P(R(t)) + "</w:ftr>";
  };
  r = Load(Zip({{"word/document.xml", Body(P(R("body")))},
                {"word/footer3.xml", f("three")},
                {"word/footer1.xml", f("one")},
                {"word/comments.xml",
                 "<w:comments xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                 "<w:comment w:id=\"0\"><w:p><w:r><w:t>remark</w:t></w:r></w:p></w:comment></w:comments>"}}));
  EXPECT_EQ(r.Footer, (V{"one", "three"}));
  EXPECT_EQ(r.Annotations, (V{"remark"}));
}

TEST(WordXPackageTest, EveryListIsFramedEvenWithoutItsPart) {
  auto r = Load(Zip({{"word/document.xml", Body(P(R("x")))}}), tfRTF);
  ASSERT_EQ(r.Text.size(), 3u);
  for (const V* list : {&r.Foot, &r.End, &r.Header, &r.Footer}) {
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].substr(0, 6), "{\\rtf1");
    EXPECT_EQ((*list)[1], "\r\n}");
  }
}

TEST(WordXPackageTest, CoreAndApplicationProperties) {
  const std::string core =
      "<?xml version=\"1.0\"?><cp:coreProperties "
      "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\">"
      "<dc:title>T &amp; t</dc:title><dc:subject>S</dc:subject><dc:creator>\xE5\xB1\xB1\xE7\x94\xB0</dc:creator>"
      "<cp:keywords>k1, k2</cp:keywords><dc:description>D</dc:description><cp:lastModifiedBy>L</cp:lastModifiedBy>"
      "<cp:revision>4</cp:revision><cp:category>C</cp:category>"
      "<dcterms:created>2015-02-20T11:11:40Z</dcterms:created><dcterms:modified>2016-03-01T10:00:00+02:00"
      "</dcterms:modified><cp:lastPrinted>2014-01-02</cp:lastPrinted></cp:coreProperties>";
  const std::string app =
      "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
      "<Template>Normal.dotm</Template><TotalTime>6</TotalTime><Pages>2</Pages><Words>83</Words>"
      "<Characters>475</Characters><Application>W</Application><Lines> 12 </Lines><Paragraphs>x8</Paragraphs>"
      "<Manager>M</Manager><Company>Co</Company><CharactersWithSpaces>583</CharactersWithSpaces></Properties>";
  auto r = Load(Zip({{"word/document.xml", Body("")}, {"docProps/core.xml", core}, {"docProps/app.xml", app}}));
  const TLKWordSummaryInformation& s = r.Doc->SummaryInformation();
  EXPECT_EQ(WideToUtf8(s.Title()), "T & t");
  EXPECT_EQ(WideToUtf8(s.Author()), "\xE5\xB1\xB1\xE7\x94\xB0");
  EXPECT_EQ(WideToUtf8(s.Keywords() + s.Subject() + s.Comments() + s.LastAuthor() + s.RevNumber() + s.Category()),
            "k1, k2SDL4C");
  EXPECT_DOUBLE_EQ(s.Created(), UTCToLocal(EncodeDateTime(2015, 2, 20, 11, 11, 40, 0)));
  EXPECT_NEAR(s.LastSaved(), UTCToLocal(EncodeDateTime(2016, 3, 1, 8, 0, 0, 0)), 1e-9);
  EXPECT_DOUBLE_EQ(s.LastPrinted(), EncodeDate(2014, 1, 2));
  EXPECT_EQ(WideToUtf8(s.Template() + s.AppName() + s.Manager() + s.Company()), "Normal.dotmWMCo");
  EXPECT_EQ(s.EditTime(), 6);
  EXPECT_EQ(s.PageCount(), 2);
  EXPECT_EQ(s.WordCount(), 83);
  EXPECT_EQ(s.CharCount(), 475);
  EXPECT_EQ(s.LineCount(), 12);
  EXPECT_EQ(s.ParagraphCount(), 0);
  EXPECT_EQ(s.CharCount2(), 583);

  // Metadata only: no text is read.
  r = Load(Zip({{"word/document.xml", Body(P(R("x")))}, {"docProps/core.xml", core}}), tfPlainText,
           {wpiSummaryInformation});
  EXPECT_TRUE(r.Text.empty());
  EXPECT_EQ(WideToUtf8(r.Doc->SummaryInformation().Subject()), "S");
  EXPECT_EQ(r.Doc->SummaryInformation().PageCount(), 0);
}

// Parts are read piece by piece; markup and text cut anywhere between two
// pieces must read as a whole part does.
TEST(WordXPackageTest, PiecesOfAnySizeReadAlike) {
  const std::string longTag = "<w:p w:rsidR=\"" + std::string(300, '1') + "\" w:x='>'>";
  const std::string body = Body(
      P(R("caf\xC3\xA9 &amp; &#x41;\xE4\xB8\xAD\xF0\x9F\x98\x80") + "<w:r><w:t><![CDATA[a<b&c]]>d<!-- c --></w:t></w:r>" +
        "<w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden</w:t></w:r><w:r><w:footnoteReference w:id=\"7\"/><w:tab/></w:r>") +
      "<!-- a comment --><?pi x?>" + longTag + R("long") + "</w:p>" +
      "<w:tbl><w:tr><w:tc>" + P(R("cell")) + "</w:tc></w:tr></w:tbl>" +
      P("<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx><w:txbxContent>" + P(R("box")) +
        "</w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback>" + P(R("twice")) +
        "</mc:Fallback></mc:AlternateContent></w:r>") +
      P(R(std::string(2000, 'x'))));
  const Parts parts{{"word/document.xml", body}, {"word/footnotes.xml", kFootnotes}};
  for (TMSTextFormating f : {tfPlainText, tfHTML}) {
    const TLoaded whole = Load(Zip(parts), f);
    ASSERT_EQ(whole.Text[f == tfHTML ? 1 : 0], f == tfHTML ? "<p>caf\xC3\xA9 &amp; A\xE4\xB8\xAD\xF0\x9F\x98\x80" "a&lt;b&amp;cd1&#9;</p>"
                                                          : "caf\xC3\xA9 & A\xE4\xB8\xAD\xF0\x9F\x98\x80" "a<b&cd1\t");
    for (bool deflated : {false, true}) {
      for (int32_t piece : {1, 2, 3, 7, 64, 1000}) {
        const TLoaded cut = Load(Zip(parts, deflated), f, {wpiText}, piece);
        EXPECT_EQ(cut.Text, whole.Text) << "piece " << piece << (deflated ? " deflated" : " stored");
        EXPECT_EQ(cut.Foot, whole.Foot) << "piece " << piece << (deflated ? " deflated" : " stored");
      }
    }
  }
}

// ---------------------------------------------------------------------------

TEST(WordXBadInputTest, DamagedPackagesGiveTextAsFarAsItGoes) {
  // Not a zip: frames only, and a warning.
  auto r = Load("plain text, no package");
  EXPECT_TRUE(r.Text.empty());
  EXPECT_FALSE(r.Doc->Warnings().empty());

  // A damaged main part raises the zip reader's error.
  std::string bad = Zip({{"word/document.xml", Body(P(R("abc")))}});
  bad[bad.find("abc")] = 'X';
  EXPECT_THROW(Load(bad), EZipFileCRCError);

  // A damaged header is skipped with a warning; the body stays.
  std::string hdr = "<w:hdr xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">" + P(R("hhh")) +
                    "</w:hdr>";
  bad = Zip({{"word/document.xml", Body(P(R("body")))}, {"word/header1.xml", hdr}});
  bad[bad.find("hhh")] = 'X';
  r = Load(bad);
  EXPECT_EQ(r.Text, (V{"body"}));
  EXPECT_TRUE(r.Header.empty());
  ASSERT_FALSE(r.Doc->Warnings().empty());
  EXPECT_NE(r.Doc->Warnings()[0].Message.find("word/header1.xml"), std::string::npos);

  // Damage a check finds only at a deflated part's end: the header's lines
  // are taken back; the body's stay, and its error is raised.
  bad = Zip({{"word/document.xml", Body(P(R("body")))}, {"word/header1.xml", hdr}}, true);
  bad[bad.rfind("word/header1.xml") - 30] ^= 0x55;  // the header's CRC, in its central entry
  bad[bad.find("word/header1.xml") - 16] ^= 0x55;   // and in its local header
  r = Load(bad);
  EXPECT_EQ(r.Text, (V{"body"}));
  EXPECT_TRUE(r.Header.empty());
  EXPECT_EQ(r.Doc->Warnings().size(), 1u);
  const std::string big = Body(P(R("first")) + P(R(std::string(300000, 'y'))));
  bad = Zip({{"word/document.xml", big}}, true);
  bad[bad.find("word/document.xml") - 16] ^= 0x55;
  bad[bad.rfind("word/document.xml") - 30] ^= 0x55;
  TMSWordXDocument partial;
  TBytesStream ps(bad);
  EXPECT_THROW(partial.LoadFromStream(ps), EZipFileCRCError);
  ASSERT_GE(partial.Text().Count(), 1);
  EXPECT_EQ(WideToUtf8(partial.Text()[0]), "first");

  // A part cut short keeps its text; a part that is no XML gives nothing.
  const std::string full = Body(P(R("one")) + P(R("two")));
  r = Load(Zip({{"word/document.xml", full.substr(0, full.find("two") + 3)}}));
  EXPECT_EQ(r.Text, (V{"one", "two"}));
  r = Load(Zip({{"word/document.xml", std::string("\0\x01\xFF garbage <<>> &&", 18)}}));
  EXPECT_TRUE(r.Text.empty());
}

TEST(WordXBadInputTest, DeepNestingAndLimits) {
  std::string nested;
  for (int i = 0; i < 400; ++i) nested += "<w:tbl><w:tr><w:tc>";
  nested += P(R("deep"));
  for (int i = 0; i < 400; ++i) nested += "</w:tc></w:tr></w:tbl>";
  auto r = LoadBody(P(R("top")) + nested + P(R("after")));
  EXPECT_EQ(r.Text.front(), "top");
  EXPECT_EQ(r.Text.back(), "after");
  EXPECT_FALSE(r.Doc->Warnings().empty());

  TMSWordXDocument doc;
  doc.SetMaxDecompressedSize(100);
  TBytesStream s(Zip({{"word/document.xml", Body(P(R(std::string(200, 'x'))))}}));
  EXPECT_THROW(doc.LoadFromStream(s), ELimitError);

  // The output limit ends the parse.
  TMSWordXDocument limited;
  limited.SetMaxTextLength(5);
  TBytesStream t(Zip({{"word/document.xml", Body(P(R("abcdefgh")) + P(R("ijk")))}}));
  limited.LoadFromStream(t);
  EXPECT_EQ(limited.Text().ToUtf8(), "abcde");
}

TEST(WordXLimitsTest, TextSinkGetsTheMainTextHeldOrPassedOnEarly) {
  // No declared encoding: a part that is not UTF-8 is in the ANSI code page.
  std::string body = Body(P(R("caf\xC3\xA9")) + P(R("two")) + P(R("sd\xE9")) + P(R("end")));
  body.replace(body.find(" encoding=\"UTF-8\""), 16, "");
  auto sink = [](TMSWordXDocument& doc, std::vector<std::string>& got) {
    doc.SetTextSink([&got](std::u16string_view item) { got.push_back(WideToUtf8(WideString(item))); });
  };
  // Held to the end of the part, a part found not to be UTF-8 is read again
  // in the ANSI code page, the sink gets that reading only.
  TMSWordXDocument held;
  std::vector<std::string> got;
  sink(held, got);
  TBytesStream a(Zip({{"word/document.xml", body}}));
  held.LoadFromStream(a);
  EXPECT_EQ(got, (V{"caf\xC3\x83\xC2\xA9", "two", "sd\xC3\xA9", "end"}));
  // Passed on before the damage shows, the text stays as first decoded.
  TMSWordXDocument early;
  early.SetHeldTextLength(1);
  std::vector<std::string> out;
  sink(early, out);
  TBytesStream b(Zip({{"word/document.xml", body}}));
  early.LoadFromStream(b);
  EXPECT_EQ(out, (V{"caf\xC3\xA9", "two", "sd\xEF\xBF\xBD", "end"}));
  ASSERT_FALSE(early.Warnings().empty());
  EXPECT_EQ(early.Warnings().back().Message, "the main part is not valid UTF-8 throughout");

  // The output limit stops the reading where it does without a sink.
  TMSWordXDocument limited;
  limited.SetMaxTextLength(5);
  std::vector<std::string> cut;
  sink(limited, cut);
  TBytesStream c(Zip({{"word/document.xml", Body(P(R("abcdefgh")) + P(R("ijk")))}}));
  limited.LoadFromStream(c);
  EXPECT_EQ(cut, V{"abcde"});
  // A damaged main part gives no text.
  TMSWordXDocument damaged;
  std::vector<std::string> none;
  sink(damaged, none);
  std::string broken = Zip({{"word/document.xml", Body(P(R("lost")))}}, true);
  broken[30 + 17 + 8] ^= 0x55;  // inside the deflated body
  TBytesStream d(broken);
  EXPECT_THROW(damaged.LoadFromStream(d), Exception);
  EXPECT_TRUE(none.empty());
}

TEST(WordXContainerTest, PackagesInCompoundFilesAndEncryptedOnes) {
  const std::string package = Zip({{"word/document.xml", Body(P(R("inside")))}});
  testing::TCfbBuilder ole;
  ole.AddStream("Package", package);
  ole.AddStream("\x01" "CompObj", "x");
  const std::string container = ole.Build();
  testing::TCfbBuilder enc;
  enc.AddStream("EncryptionInfo", std::string(64, 'i'));
  enc.AddStream("EncryptedPackage", std::string(600, 'e'));
  const std::string encrypted = enc.Build();

  EXPECT_EQ(Load(container).Text, (V{"inside"}));
  try {
    Load(encrypted);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not read the password protected file");
  }

  // Through the OLE entry, with and without the container header.
  TMSWordXDocument doc;
  TBytesStream s("BDOC" + std::string(8, '\0') + container);
  doc.LoadFromOLEStream(s);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  TBytesStream direct(package);
  doc.LoadFromOLEStream(direct);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");

  // From files: the zip test, the compound-file path and the refusals.
  const std::string zipPath = TempPath("plain.docx"), olePath = TempPath("ole.docx"),
                    encPath = TempPath("enc.docx"), txtPath = TempPath("text.docx");
  WriteFile(zipPath, package);
  WriteFile(olePath, container);
  WriteFile(encPath, encrypted);
  WriteFile(txtPath, "just text");
  doc.LoadFromFile(zipPath);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  doc.LoadFromFile(olePath);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  EXPECT_THROW(doc.LoadFromFile(encPath), Exception);
  try {
    doc.LoadFromFile(txtPath);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "File " + txtPath + " is not valid MS Word document");
  }
  EXPECT_THROW(doc.LoadFromFile(TempPath("missing.docx")), Exception);
  for (const auto& p : {zipPath, olePath, encPath, txtPath}) std::remove(p.c_str());
}

TEST(WordXFilesTest, AWriterPackageAndItsContainerForms) {
  const std::string dir = std::string(LKWORD_TESTDATA) + "/docx/";
  TMSWordXDocument doc;
  doc.LoadFromFile(dir + "sample.docx");
  const V text = Lines(doc.Text());
  ASSERT_GE(text.size(), 15u);
  EXPECT_EQ(text[0], "The Lighthouse Keeper\xE2\x80\x99s Log");
  EXPECT_EQ(text[4].substr(0, 14), "The lamp was l");
  EXPECT_NE(text[4].find("west & rain followed.1 Fog"), std::string::npos);
  EXPECT_EQ(V(text.begin() + 5, text.begin() + 8), (V{"Hour", "Wind", "Sea"}));
  EXPECT_EQ(Lines(doc.FootNoteText()),
            (V{"1 The barometer fell by four millibars.", "2 Written in the keeper\xE2\x80\x99s own hand."}));
  const TLKWordSummaryInformation& s = doc.SummaryInformation();
  EXPECT_EQ(WideToUtf8(s.Author() + u"|" + s.Keywords() + u"|" + s.Subject()), "Mara Quill|lighthouse, weather|Harbour notes");
  EXPECT_DOUBLE_EQ(s.Created(), UTCToLocal(EncodeDate(2021, 3, 14)));

  TMSWordXDocument ole;
  ole.LoadFromFile(dir + "sample-in-ole.docx");
  EXPECT_EQ(Lines(ole.Text()), text);
  try {
    ole.LoadFromFile(dir + "encrypted.docx");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not read the password protected file");
  }
}

TEST(WordXDetectTest, RecognisesWordPackagesOnly) {
  auto detect = [](const std::string& bytes) {
    TBytesStream s(bytes);
    return IsWordXDocument(s);
  };
  EXPECT_TRUE(detect(Zip({{"word/document.xml", Body("")}})));
  EXPECT_TRUE(detect(Zip({{"[Content_Types].xml",
                           "<Types><Override PartName=\"/w/d.xml\" ContentType=\"application/"
                           "vnd.ms-word.document.macroEnabled.main+xml\"/></Types>"},
                          {"w/d.xml", Body("")}})));
  EXPECT_FALSE(detect(Zip({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", "<x/>"}})));
  EXPECT_FALSE(detect("PK\x03\x04 but nothing else"));
  testing::TCfbBuilder enc;
  enc.AddStream("EncryptedPackage", "e");
  EXPECT_TRUE(detect(enc.Build()));
  testing::TCfbBuilder word;
  word.AddStream("WordDocument", "w");
  EXPECT_FALSE(detect(word.Build()));
}

}  // namespace
}  // namespace lkw
