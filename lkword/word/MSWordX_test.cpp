#include "lkword/word/MSWordX.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/word/MSWord.h"
#include "testing/CompoundFileBuilder.h"
#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/ZipBuilder.h"

namespace lkw {
namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;
using V = testing::TLines;
using testing::TextLines;

std::string Zip(const Parts& parts, bool deflated = false) { return testing::MakeZip(parts, deflated); }

constexpr const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kW = " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
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
// A part whose document element is Tag ("w:hdr", "w:ftr", ...) holding Inner.
std::string Story(const std::string& tag, const std::string& inner) {
  return "<" + tag + kW + ">" + inner + "</" + tag + ">";
}

struct TLoaded {
  std::unique_ptr<TMSWordXDocument> Doc;
  V Text, Foot, End, Header, Footer, Annotations;
};

// Every load is made twice more with a text sink, which must get the same
// main text, whether it is passed on at the end of the part or item by item.
TLoaded Load(const std::string& bytes, TMSTextFormating format = tfPlainText,
             TLKWParseItems items = {wpiText, wpiSummaryInformation}, int32_t piece = 0) {
  auto setUp = [&](TMSWordXDocument& doc) {
    if (piece > 0) doc.SetPartPieceSize(piece);
    doc.SetTextFormating(format);
    doc.SetParseItems(items);
  };
  TLoaded r{std::make_unique<TMSWordXDocument>(), {}, {}, {}, {}, {}, {}};
  setUp(*r.Doc);
  r.Text = testing::LoadLines(*r.Doc, bytes);
  r.Foot = TextLines(r.Doc->FootNoteText());
  r.End = TextLines(r.Doc->EndNoteText());
  r.Header = TextLines(r.Doc->HeaderText());
  r.Footer = TextLines(r.Doc->FooterText());
  r.Annotations = TextLines(r.Doc->AnnotationText());
  for (int64_t held : {int64_t{1} << 20, int64_t{1}}) {
    if (held == 1 && r.Doc->Warnings().size() > 0) continue;  // a part read again may differ
    TMSWordXDocument sunk;
    setUp(sunk);
    sunk.SetHeldTextLength(held);
    V got;
    sunk.SetTextSink([&](std::u16string_view item) { got.push_back(WideToUtf8(WideString(item))); });
    for (const std::string& line : testing::LoadLines(sunk, bytes)) got.push_back(line);
    EXPECT_EQ(got, r.Text) << "held " << held;
    EXPECT_EQ(TextLines(sunk.FootNoteText()), r.Foot);
  }
  return r;
}

TLoaded LoadBody(const std::string& inner, TMSTextFormating format = tfPlainText,
                 TLKWParseItems items = {wpiText, wpiSummaryInformation}) {
  return Load(Zip({{"word/document.xml", Body(inner)}}), format, items);
}

// The lines between the output's header and footer lines.
V Inside(const V& lines) { return lines.size() < 2 ? V{} : V(lines.begin() + 1, lines.end() - 1); }

// ---------------------------------------------------------------------------

TEST(WordXRenderTest, ParagraphsTabsAndEntitiesInEveryFormat) {
  const std::string doc = P("<w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>" + R("a &amp; b") +
                            "<w:r><w:tab/></w:r>" + R("&lt;c&gt;")) +
                          P("") + P(R("\xC3\xA9t\xC3\xA9"));
  EXPECT_EQ(LoadBody(doc).Text, (V{"a & b\t<c>", "", "\xC3\xA9t\xC3\xA9"}));

  auto html = LoadBody(doc, tfHTML).Text;
  ASSERT_EQ(html.size(), 5u);
  EXPECT_EQ(html[0].substr(0, 6), "<html>");
  EXPECT_EQ(Inside(html), (V{"<p>a &amp; b&#9;&lt;c&gt;</p>", "<p></p>", "<p>\xC3\xA9t\xC3\xA9</p>"}));
  EXPECT_EQ(html[4], "\r\n</body>\r\n</html>");

  const TLoaded rtf = LoadBody(doc, tfRTF);
  ASSERT_EQ(rtf.Text.size(), 5u);
  EXPECT_EQ(Inside(rtf.Text), (V{"a & b\\tab <c>\\par", "\\par", "\\u233?t\\u233?\\par"}));
  // Every list is framed, even without its part.
  for (const V* list : {&rtf.Text, &rtf.Foot, &rtf.End, &rtf.Header, &rtf.Footer}) {
    ASSERT_GE(list->size(), 2u);
    EXPECT_EQ(list->front().substr(0, 6), "{\\rtf1");
    EXPECT_EQ(list->back(), "\r\n}");
  }
}

TEST(WordXRenderTest, HiddenRunsUnlessHiddenTextIsRequested) {
  const std::string doc =
      P(R("shown ") + "<w:r><w:rPr><w:b/><w:vanish/></w:rPr><w:t>secret</w:t><w:tab/></w:r>" +
        "<w:r><w:rPr><w:vanish w:val=\"false\"/></w:rPr><w:t>visible</w:t></w:r>" +
        "<w:r><w:rPr><w:vanish/></w:rPr><w:footnoteReference w:id=\"5\"/></w:r>" + R(" end"));
  EXPECT_EQ(LoadBody(doc).Text, (V{"shown visible end"}));
  EXPECT_EQ(LoadBody(doc, tfPlainText, {wpiText, wpiHiddenText}).Text, (V{"shown secret\tvisible1 end"}));
}

// Bodies and the lines they give: plain text, and (when given) HTML and RTF
// between the output's header and footer.
struct TRenderCase {
  const char* What;
  std::string Inner;
  V Plain, Html, Rtf;
};

TEST(WordXRenderTest, ElementsGiveTheirLines) {
  const std::string box = "<w:txbxContent>" + P(R("box one")) + P(R("box two")) + "</w:txbxContent>";
  const TRenderCase cases[] = {
      {"containers are entered, instructions are not",
       "<w:sdt><w:sdtPr><w:alias w:val=\"x\"/><w:placeholder><w:docPart w:val=\"p\"/></w:placeholder></w:sdtPr>"
       "<w:sdtContent>" + P(R("control")) + "</w:sdtContent></w:sdt>" +
           P("<w:smartTag w:uri=\"u\" w:element=\"place\">" + R("tagged") + "</w:smartTag>" +
             "<w:customXml w:element=\"e\">" + R(" custom") + "</w:customXml>" +
             "<w:hyperlink r:id=\"rId1\">" + R(" link") + "</w:hyperlink>" +
             "<w:fldSimple w:instr=\" PAGE \">" + R(" 7") + "</w:fldSimple>" +
             "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> DATE \\@ x </w:instrText></w:r>"
             "<w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" + R(" today") +
             "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>" +
             // A macro button has no result: its text is what the page shows.
             "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> MACROBUTTON NoMacro</w:instrText>"
             "<w:instrText xml:space=\"preserve\"> [Type &amp; go] </w:instrText></w:r>"
             "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>" +
             "<w:sdt><w:sdtContent>" + R(" inline") + "</w:sdtContent></w:sdt>" +
             "<w:bookmarkStart w:id=\"0\" w:name=\"b\"/>" + "<w:ins w:id=\"1\" w:author=\"a\">" + R("new") + "</w:ins>") +
           "<w:tbl><w:tblPr/><w:tblGrid><w:gridCol/></w:tblGrid><w:sdt><w:sdtContent><w:tr><w:sdt><w:sdtContent>"
           "<w:tc><w:tcPr/>" + P(R("cell")) + "</w:tc></w:sdtContent></w:sdt></w:tr></w:sdtContent></w:sdt></w:tbl>",
       {"control", "tagged custom link 7 today[Type & go] inlinenew", "cell"}, {}, {}},
      // One branch of the alternatives; a choice needing something unknown
      // gives way to the fallback.
      {"text boxes follow their anchor once each",
       P(R("before ") + "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor><a:graphic>"
                        "<a:graphicData><wps:wsp><wps:spPr/><wps:txbx>" + box +
         "</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></mc:Choice>"
         "<mc:Fallback><w:pict><v:shape><v:textbox>" + box +
         "</v:textbox></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r>" + R("after")) +
           P(R("next")) +
           P("<w:r><mc:AlternateContent><mc:Choice Requires=\"zz\"><w:t>unknown</w:t></mc:Choice>"
             "<mc:Fallback><w:pict><v:rect><v:textbox><w:txbxContent>" + P(R("vml")) +
             "</w:txbxContent></v:textbox></v:rect></w:pict></mc:Fallback></mc:AlternateContent></w:r>"),
       {"before after", "box one", "box two", "next", "", "vml"},
       {"<p>before after</p>", "<p>box one</p>", "<p>box two</p>", "<p>next</p>", "<p></p>", "<p>vml</p>"}, {}},
      {"breaks, hyphens and symbols",
       P("<w:r><w:t>a</w:t><w:br/><w:t>b</w:t><w:br w:type=\"page\"/><w:t>c</w:t><w:cr/><w:t>d</w:t>"
         "<w:br w:type=\"column\"/><w:noBreakHyphen/><w:t>e</w:t><w:softHyphen/><w:t>f</w:t></w:r>") +
           P("<w:r><w:sym w:font=\"Symbol\" w:char=\"F0B7\"/><w:sym w:font=\"Symbol\" w:char=\"61\"/>"
             "<w:sym w:font=\"Wingdings\" w:char=\"F0FC\"/><w:sym w:font=\"Wingdings\" w:char=\"4A\"/>"
             "<w:sym w:font=\"Arial\" w:char=\"00E9\"/><w:sym w:font=\"Symbol\" w:char=\"zz\"/></w:r>"),
       {"a\r\nbc\r\nd-ef", "\xE2\x80\xA2\xCE\xB1\xC3\xA9"},
       {"<p>a<br>bc<br>d-ef</p>", "<p>\xE2\x80\xA2\xCE\xB1\xC3\xA9</p>"},
       {"a\\line bc\\line d-ef\\par", "\\u8226?\\u945?\\u233?\\par"}},
      {"plain text accepts tracked changes, the formatted outputs mark them",
       P("<w:r><w:rPr><w:ins w:id=\"3\"/><w:del w:id=\"4\"/></w:rPr><w:t>x </w:t></w:r>"
         "<w:del w:id=\"1\" w:author=\"a\"><w:r><w:delText>old</w:delText></w:r></w:del>"
         "<w:ins w:id=\"2\" w:author=\"a\"><w:r><w:t>new</w:t></w:r></w:ins>"
         "<w:moveFrom w:id=\"5\">" + R("gone") + "</w:moveFrom>"),
       {"x new"}, {"<p>x <s>old</s><u>new</u><s>gone</s></p>"}, {"x -old+new-gone\\par"}},
  };
  for (const TRenderCase& c : cases) {
    EXPECT_EQ(LoadBody(c.Inner).Text, c.Plain) << c.What;
    if (!c.Html.empty()) {
      EXPECT_EQ(Inside(LoadBody(c.Inner, tfHTML).Text), c.Html) << c.What;
    }
    if (!c.Rtf.empty()) {
      EXPECT_EQ(Inside(LoadBody(c.Inner, tfRTF).Text), c.Rtf) << c.What;
    }
  }
  // Asked for, plain text marks them too; a deleted note reference or tab
  // goes with its run.
  const std::string changes = P(R("a") + "<w:del w:id=\"1\"><w:r><w:tab/><w:delText>b</w:delText></w:r></w:del>" +
                                "<w:ins w:id=\"2\">" + R("c") + "</w:ins>");
  EXPECT_EQ(LoadBody(changes).Text, V{"ac"});
  // Characters of a symbol font's private-use page are no text.
  const TLoaded symbols = LoadBody(P(R("a\xEF\x80\xA1" "b") + R("c&#xF0B7;")));
  EXPECT_EQ(symbols.Text, V{"abc"});
  EXPECT_EQ(symbols.Doc->Warnings().size(), 1u);
  EXPECT_EQ(LoadBody(changes, tfPlainText, {wpiText, wpiRevisions}).Text, V{"a-\tb+c"});
}

TEST(WordXRenderTest, EquationsReadAsLinearText) {
  auto t = [](const std::string& text) { return "<m:r><m:t>" + text + "</m:t></m:r>"; };
  auto el = [](const std::string& name, const std::string& inner) { return "<m:" + name + ">" + inner + "</m:" + name + ">"; };
  auto pr = [](const std::string& name, const std::string& props) { return "<m:" + name + ">" + props + "</m:" + name + ">"; };
  auto val = [](const std::string& name, const std::string& v) { return "<m:" + name + " m:val=\"" + v + "\"/>"; };
  const std::string fraction = el("f", el("num", t("a+b")) + el("den", t("c")));
  const std::string sum = el("nary", pr("naryPr", val("chr", "\xE2\x88\x91")) + el("sub", t("i=1")) + el("sup", t("n")) +
                                         el("e", el("sSub", el("e", t("x")) + el("sub", t("i")))));
  const std::string brackets = el("d", pr("dPr", val("begChr", "[") + val("endChr", "]") + val("sepChr", ";")) +
                                           el("e", t("u")) + el("e", t("v")));
  const std::string root = el("rad", el("deg", t("3")) + el("e", t("x"))) + el("rad", pr("radPr", val("degHide", "1")) +
                                                                                      el("deg", "") + el("e", t("y+1")));
  const std::string matrix = el("m", el("mr", el("e", t("1")) + el("e", t("0"))) + el("mr", el("e", t("0")) + el("e", t("1"))));
  const std::string math = "<m:oMath xmlns:m=\"http://schemas.openxmlformats.org/officeDocument/2006/math\">" + fraction + t("=") +
                           sum + t(",") + brackets + el("sSup", el("e", t("e")) + el("sup", t("-x"))) + root + matrix +
                           "</m:oMath>";
  EXPECT_EQ(LoadBody(P(R("so ") + math + R(" holds"))).Text,
            V{"so (a+b)/c=\xE2\x88\x91_(i=1)^(n)x_(i),[u;v]e^(-x)\xE2\x88\x9A(3&x)\xE2\x88\x9A(y+1)[1, 0; 0, 1] holds"});
  // A deleted equation gives nothing, not even its operators.
  EXPECT_EQ(LoadBody(P(R("a") + "<w:del w:id=\"1\">" + math + "</w:del>" + R("b"))).Text, V{"ab"});
  // Math elements outside an equation only hold their text.
  EXPECT_EQ(LoadBody(P("<m:f xmlns:m=\"http://schemas.openxmlformats.org/officeDocument/2006/math\">" + el("num", t("a")) +
                       el("den", t("b")) + "</m:f>")).Text,
            V{"ab"});
}

TEST(WordXRenderTest, TablesAsLinesAndHtmlTables) {
  auto cell = [](const std::string& t) { return "<w:tc><w:tcPr><w:tcW w:w=\"1\"/></w:tcPr>" + P(R(t)) + "</w:tc>"; };
  const std::string doc = "<w:tbl><w:tblPr/><w:tr><w:trPr/>" + cell("a") + cell("b") + "</w:tr><w:tr>" + cell("c") +
                          "<w:tc><w:tbl><w:tr>" + cell("n") + "</w:tr></w:tbl>" + P("") + "</w:tc></w:tr></w:tbl>";
  EXPECT_EQ(LoadBody(doc).Text, (V{"a", "b", "c", "n", ""}));
  const V expected{"<table border=\"1\">", "  <tr>",    "    <td>", "<p>a</p>",  "    </td>",
                   "    <td>",           "<p>b</p>",  "    </td>", "  </tr>",   "  <tr>",
                   "    <td>",           "<p>c</p>",  "    </td>", "    <td>",  "<table border=\"1\">",
                   "  <tr>",             "    <td>",  "<p>n</p>",  "    </td>", "  </tr>",
                   "</table>",           "<p></p>",   "    </td>", "  </tr>",   "</table>"};
  EXPECT_EQ(Inside(LoadBody(doc, tfHTML).Text), expected);
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
            (V{"caf\xC3\xA9 & <x>\t\xCE\xB1\r\n", "box", "cell1", "sdt"}));
  EXPECT_EQ(Load(Zip({{"word/document.xml", undeclared}})).Text.back(), "sd\xC3\xA9");
}

// ---------------------------------------------------------------------------

const std::string kFootnotes = Story(
    "w:footnotes",
    "<w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
    "<w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:continuationSeparator/></w:r></w:p>"
    "</w:footnote>"
    "<w:footnote w:id=\"7\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> seven</w:t></w:r></w:p>"
    "<w:p><w:r><w:t>more</w:t></w:r></w:p></w:footnote>"
    "<w:footnote w:id=\"3\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> three</w:t></w:r></w:p>"
    "</w:footnote>");

TEST(WordXNotesTest, MarksNumberReferencesInOrderAndNotesByTheirId) {
  const std::string body = P(R("a") + "<w:r><w:footnoteReference w:id=\"3\"/></w:r>" + R(" b") +
                             "<w:r><w:footnoteReference w:id=\"7\"/></w:r>" +
                             "<w:r><w:footnoteReference w:customMarkFollows=\"1\" w:id=\"9\"/><w:t>*</w:t></w:r>" +
                             "<w:r><w:endnoteReference w:id=\"2\"/></w:r>");
  const std::string endnotes = Story(
      "w:endnotes",
      "<w:endnote w:id=\"2\"><w:p><w:r><w:endnoteRef/><w:t xml:space=\"preserve\"> end</w:t></w:r></w:p></w:endnote>");
  auto r = Load(Zip({{"word/document.xml", Body(body)},
                     {"word/footnotes.xml", kFootnotes},
                     {"word/endnotes.xml", endnotes}}));
  EXPECT_EQ(r.Text, (V{"a1 b2*i"}));
  EXPECT_EQ(r.Foot, (V{"2 seven", "more", "1 three"}));
  EXPECT_EQ(r.End, (V{"i end"}));

  // Numbering formats from the settings part.
  const std::string settings = Story("w:settings",
                                     "<w:footnotePr><w:numFmt w:val=\"upperLetter\"/></w:footnotePr>"
                                     "<w:endnotePr><w:numFmt w:val=\"decimal\"/></w:endnotePr>");
  r = Load(Zip({{"word/document.xml", Body(body)}, {"word/settings.xml", settings}, {"word/endnotes.xml", endnotes}}));
  EXPECT_EQ(r.Text, (V{"aA bB*1"}));
  EXPECT_EQ(r.End, (V{"1 end"}));
}

TEST(WordXPackageTest, PartsAreFoundThroughRelationshipsAndByName) {
  auto rel = [](const std::string& type, const std::string& target, const std::string& mode = "") {
    return "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" +
           type + "\" Target=\"" + target + "\"" + mode + "/>";
  };
  auto rels = [](const std::string& inner) {
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + inner +
           "</Relationships>";
  };
  auto hdr = [](const std::string& t) { return Story("w:hdr", P(R(t))); };
  auto r = Load(Zip({{"_rels/.rels", rels(rel("officeDocument", "/doc/main.xml"))},
                     {"doc/_rels/main.xml.rels",
                      rels(rel("header", "../shared/top.xml") + rel("footnotes", "notes.xml") +
                           rel("hyperlink", "http://example.org/", " TargetMode=\"External\""))},
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
  r = Load(Zip({{"word/document.xml", Body(P(R("body")))},
                {"word/footer3.xml", Story("w:ftr", P(R("three")))},
                {"word/footer1.xml", Story("w:ftr", P(R("one")))},
                {"word/comments.xml", Story("w:comments", "<w:comment w:id=\"0\">" + P(R("remark")) + "</w:comment>")}}));
  EXPECT_EQ(r.Footer, (V{"one", "three"}));
  EXPECT_EQ(r.Annotations, (V{"remark"}));
}

TEST(WordXPackageTest, ImportedContentIsReadWhereItStands) {
  auto chunks = [](const std::vector<std::pair<std::string, std::string>>& targets) {
    std::string r = "<Relationships>";
    for (const auto& [id, target] : targets)
      r += "<Relationship Id=\"" + id + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/aFChunk\" Target=\"" +
           target + "\"/>";
    return r + "</Relationships>";
  };
  auto chunk = [](const std::string& id) { return "<w:altChunk r:id=\"" + id + "\"/>"; };
  // HTML in the code page its <meta> names, plain text in UTF-16; script,
  // style and head give nothing, headings stay headings.
  const std::string html =
      "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
      "<title>no</title><style>p{}</style></head><body><h2>\xCF\xF0\xE8\xE2\xE5\xF2</h2><p>a &amp; <b>b</b>"
      "<script>x()</script><p>c<br>d</body></html>";
  const std::string text("\xFF\xFEo\0n\0e\0\r\0\n\0\r\0\n\0t\0w\0o\0", 22);
  const std::string package = Zip({{"word/document.xml", Body(P(R("start")) + chunk("h") + P(R("mid")) + chunk("t") +
                                                              P(R("x") + chunk("h")) + chunk("rtf") + chunk("gone") + chunk("none") +
                                                              chunk("mht"))},
                                   {"word/_rels/document.xml.rels",
                                    chunks({{"h", "part.html"}, {"t", "/other/notes.txt"}, {"rtf", "r.rtf"}, {"gone", "missing.htm"},
                                            {"mht", "page.mht"}})},
                                   {"word/page.mht", "From: <Saved by a browser>\r\nMIME-Version: 1.0\r\nContent-Type: "
                                                     "multipart/related; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: "
                                                     "text/html; charset=\"koi8-r\"\r\nContent-Transfer-Encoding: "
                                                     "quoted-printable\r\n\r\n<p>=F0=D2=C9</p>\r\n--b--\r\n"},
                                   {"word/part.html", html},
                                   {"other/notes.txt", text},
                                   {"word/r.rtf", "{\\rtf1 hidden}"}});
  const TLoaded r = Load(package);
  EXPECT_EQ(r.Text, (V{"start", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "a & b", "c", "d", "mid", "one", "two", "x",
                       "\xD0\x9F\xD1\x80\xD0\xB8"}));
  // Inside a paragraph, in RTF, missing, or named by no relationship: a
  // warning each, never silence.
  int warnings = 0;
  for (const auto& w : r.Doc->Warnings()) warnings += w.Count;
  EXPECT_EQ(warnings, 4);
  const V md = Load(package, tfMarkdown).Text;
  EXPECT_NE(std::find(md.begin(), md.end(), "## \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"), md.end());

  // Content imported again and again inflates each time, against the limit.
  std::string again;
  for (int i = 0; i < 40; ++i) again += chunk("h");
  TMSWordXDocument limited;
  limited.SetMaxDecompressedSize(20000);
  const V some = testing::LoadLines(limited, Zip({{"word/document.xml", Body(again)},
                                                  {"word/_rels/document.xml.rels", chunks({{"h", "part.html"}})},
                                                  {"word/part.html", "<p>" + std::string(1000, 'h') + "</p>"}}));
  EXPECT_TRUE(limited.Partial());
  EXPECT_LT(some.size(), 40u);

  // A Word package imported whole: its main story with its structure, not
  // its notes nor the marks of them; packages nest only so deep.
  std::string inner = Zip({{"word/document.xml",
                            Body(P(R("in") + "<w:r><w:footnoteReference w:id=\"1\"/></w:r>") +
                                 "<w:tbl><w:tr><w:tc>" + P(R("cell")) + "</w:tc></w:tr></w:tbl>")},
                           {"word/footnotes.xml", kFootnotes}});
  testing::TEventRecorder rec;
  TMSWordXDocument doc;
  doc.AddDocumentEvents(&rec);
  testing::LoadLines(doc, Zip({{"word/document.xml", Body(chunk("d") + P(R("after")))},
                               {"word/_rels/document.xml.rels", chunks({{"d", "sub/in.docx"}})},
                               {"word/sub/in.docx", inner}}));
  const std::string joined = rec.Joined();
  EXPECT_NE(joined.find("<story main>|<p>|text 'in'|</p>|<table>|<tr>|<td>|<p>|text 'cell'|</p>|</td>|</tr>|</table>|<p>|text 'after'|"),
            std::string::npos) << joined;
  std::string nested = Zip({{"word/document.xml", Body(P(R("deepest")))}});
  for (int level = 1; level <= 6; ++level)
    nested = Zip({{"word/document.xml", Body(P(R("level" + std::to_string(level))) + chunk("d"))},
                  {"word/_rels/document.xml.rels", chunks({{"d", "in.docx"}})},
                  {"word/in.docx", nested}});
  const TLoaded deep = Load(nested);
  EXPECT_EQ(deep.Text, (V{"level6", "level5", "level4", "level3", "level2"}));
  EXPECT_TRUE(deep.Doc->Partial());
}

TEST(WordXPackageTest, DiagramTextIsToldAsATextBox) {
  auto pt = [](const std::string& type, const std::string& text) {
    return "<dgm:pt" + (type.empty() ? std::string() : " type=\"" + type + "\"") + "><dgm:t><a:bodyPr/><a:p><a:r><a:t>" + text +
           "</a:t></a:r><a:r><a:t>!</a:t></a:r></a:p></dgm:t></dgm:pt>";
  };
  const std::string data =
      "<dgm:dataModel xmlns:dgm=\"http://schemas.openxmlformats.org/drawingml/2006/diagram\" "
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><dgm:ptLst>" +
      pt("doc", "document") + pt("", "first") + pt("parTrans", "transition") + pt("asst", "helper") + pt("node", "last") +
      "</dgm:ptLst></dgm:dataModel>";
  const std::string drawing =
      "<w:r><w:drawing><wp:inline><a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
      "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/diagram\">"
      "<dgm:relIds xmlns:dgm=\"http://schemas.openxmlformats.org/drawingml/2006/diagram\" r:dm=\"rId7\" r:lo=\"rId8\"/>"
      "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r>";
  const TLoaded r = Load(Zip({{"word/document.xml", Body(P(R("before") + drawing) + P(R("after")))},
                              {"word/_rels/document.xml.rels",
                               "<Relationships><Relationship Id=\"rId7\" Target=\"diagrams/data1.xml\" Type=\"http://"
                               "schemas.openxmlformats.org/officeDocument/2006/relationships/diagramData\"/></Relationships>"},
                              {"word/diagrams/data1.xml", data}}));
  EXPECT_EQ(r.Text, (V{"before", "first!", "helper!", "last!", "after"}));
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
  // Counts with blanks around them are read; anything else is 0.
  EXPECT_EQ((std::vector<int>{s.EditTime(), s.PageCount(), s.WordCount(), s.CharCount(), s.LineCount(),
                              s.ParagraphCount(), s.CharCount2()}),
            (std::vector<int>{6, 2, 83, 475, 12, 0, 583}));

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

// What the reader tells, whatever the output format: a text box and its
// table after the paragraph that anchors it, tables between paragraphs,
// tracked changes, links, a story per list, and a part taken back and read
// again when it turns out not to be UTF-8.
TEST(WordXEventsTest, TellsTheDocumentsStructure) {
  const std::string link = "<w:hyperlink r:id=\"rId5\">";
  const std::string box = "<w:r><w:drawing><wps:txbx><w:txbxContent>" + P(link + R("box") + "</w:hyperlink>") +
                          "<w:tbl><w:tr><w:tc>" + P(R("cell")) + "</w:tc></w:tr></w:tbl></w:txbxContent></wps:txbx>"
                          "</w:drawing></w:r>";
  const std::string body =
      Body(P(R("a") + "<w:r><w:tab/><w:br/><w:footnoteReference w:id=\"7\"/></w:r>" + box + R("b")) +
           "<w:tbl><w:tr><w:tc>" + P(R("c")) + "</w:tc></w:tr></w:tbl>" +
           P("<w:del w:id=\"1\">" + R("old") + "</w:del><w:ins w:id=\"2\">" + R("new") + "</w:ins>") +
           P(link + R("site") + "</w:hyperlink><w:hyperlink w:anchor=\"top\">" + R(" up") +
             "</w:hyperlink><w:hyperlink r:id=\"rId9\">" + R(" plain") + "</w:hyperlink>" +
             "<w:fldSimple w:instr=\" HYPERLINK &quot;http://x.org/&quot; \">" + R(" field") + "</w:fldSimple>" +
             "<w:fldSimple w:instr=\" PAGE \">" + R(" 7") + "</w:fldSimple>"));
  std::string header = "<?xml version=\"1.0\"?>" + Story("w:hdr", P(R("h\xC3\xA9")) + P(R("h?")));
  header[header.rfind('?')] = '\xE9';
  testing::TEventRecorder rec;
  TMSWordXDocument doc;
  doc.AddDocumentEvents(&rec);
  doc.SetParseItems(doc.ParseItems().Include(wpiRevisions));
  testing::LoadLines(doc, Zip({{"word/document.xml", body},
                               {"word/_rels/document.xml.rels",
                                "<Relationships><Relationship Id=\"rId5\" TargetMode=\"External\" "
                                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\" "
                                "Target=\"https://example.org/?a=1&amp;b\"/></Relationships>"},
                               {"word/footnotes.xml", kFootnotes},
                               {"word/header1.xml", header},
                               {"word/comments.xml", Story("w:comments", "<w:comment w:id=\"0\">" + P(R("hm")) + "</w:comment>")}}));
  EXPECT_EQ(rec.Joined(),
            "<doc>|<story main>|<p>|text 'a'|tab|br|text '1b'|</p>|<p>|<a 'https://example.org/?a=1&b'>|text 'box'|</a>|</p>|"
            "<table>|<tr>|<td>|<p>|text 'cell'|</p>|</td>|</tr>|</table>|"
            "<table>|<tr>|<td>|<p>|text 'c'|</p>|</td>|</tr>|</table>|"
            "<p>|<del>|text 'old'|</del>|<ins>|text 'new'|</ins>|</p>|"
            "<p>|<a 'https://example.org/?a=1&b'>|text 'site'|</a>|<a '#top'>|text ' up'|</a>|text ' plain'|<a 'http://x.org/'>|text ' field'|</a>|text ' 7'|</p>|"
            "</story main>|"
            "<story endnote>|</story endnote>|"
            "<story footnote>|<p>|text '1 seven'|</p>|<p>|text 'more'|</p>|<p>|text '2 three'|</p>|</story footnote>|"
            "<story header>|<p>|text 'h\xC3\xA9'|</p>|<p>|text 'h\xEF\xBF\xBD'|rolled-back|"
            "<p>|text 'h\xC3\x83\xC2\xA9'|</p>|<p>|text 'h\xC3\xA9'|</p>|</story header>|"
            "<story footer>|</story footer>|<story comment>|<p>|text 'hm'|</p>|</story comment>|</doc>");
  EXPECT_EQ(TextLines(doc.HeaderText()), (V{"h\xC3\x83\xC2\xA9", "h\xC3\xA9"}));
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
  const std::string hdr = Story("w:hdr", P(R("hhh")));
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

  // The output limit ends the parse, with a sink where it does without.
  for (bool sunk : {false, true}) {
    TMSWordXDocument limited;
    limited.SetMaxTextLength(5);
    V got;
    if (sunk) limited.SetTextSink([&](std::u16string_view item) { got.push_back(WideToUtf8(WideString(item))); });
    for (const std::string& line : testing::LoadLines(limited, Zip({{"word/document.xml", Body(P(R("abcdefgh")) + P(R("ijk")))}})))
      got.push_back(line);
    EXPECT_EQ(got, V{"abcde"}) << sunk;
  }
}

TEST(WordXLimitsTest, TextSinkGetsTheMainTextHeldOrPassedOnEarly) {
  // No declared encoding: a part that is not UTF-8 is in the ANSI code page.
  std::string body = Body(P(R("caf\xC3\xA9")) + P(R("two")) + P(R("sd\xE9")) + P(R("end")));
  body.replace(body.find(" encoding=\"UTF-8\""), 16, "");
  auto sunk = [](TMSWordXDocument& doc, const std::string& bytes) {
    V got;
    doc.SetTextSink([&got](std::u16string_view item) { got.push_back(WideToUtf8(WideString(item))); });
    TBytesStream s(bytes);
    try {
      doc.LoadFromStream(s);
    } catch (const Exception&) {
      got.push_back("error");
    }
    return got;
  };
  // Held to the end of the part, a part found not to be UTF-8 is read again
  // in the ANSI code page, the sink gets that reading only.
  TMSWordXDocument held;
  EXPECT_EQ(sunk(held, Zip({{"word/document.xml", body}})), (V{"caf\xC3\x83\xC2\xA9", "two", "sd\xC3\xA9", "end"}));
  // Passed on before the damage shows, the text stays as first decoded.
  TMSWordXDocument early;
  early.SetHeldTextLength(1);
  EXPECT_EQ(sunk(early, Zip({{"word/document.xml", body}})), (V{"caf\xC3\xA9", "two", "sd\xEF\xBF\xBD", "end"}));
  ASSERT_FALSE(early.Warnings().empty());
  EXPECT_EQ(early.Warnings().back().Message, "the main part is not valid UTF-8 throughout");
  // A damaged main part gives no text.
  std::string broken = Zip({{"word/document.xml", Body(P(R("lost")))}}, true);
  broken[30 + 17 + 8] ^= 0x55;  // inside the deflated body
  TMSWordXDocument damaged;
  EXPECT_EQ(sunk(damaged, broken), V{"error"});
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
  TMSWordXDocument doc;
  EXPECT_EQ(testing::TryLoadLines(doc, encrypted).Error, "Could not read the password protected file");

  // Through the OLE entry, with and without the container header.
  TBytesStream s("BDOC" + std::string(8, '\0') + container);
  doc.LoadFromOLEStream(s);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  TBytesStream direct(package);
  doc.LoadFromOLEStream(direct);
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");

  // From files: the zip test, the compound-file path and the refusals.
  const testing::TTempFile zipFile("plain.docx", package), oleFile("ole.docx", container),
      encFile("enc.docx", encrypted), txtFile("text.docx", "just text");
  doc.LoadFromFile(zipFile.Path());
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  doc.LoadFromFile(oleFile.Path());
  EXPECT_EQ(doc.Text().ToUtf8(), "inside");
  EXPECT_THROW(doc.LoadFromFile(encFile.Path()), EPasswordError);
  try {
    doc.LoadFromFile(txtFile.Path());
    FAIL() << "no exception";
  } catch (const ECorruptError& e) {
    EXPECT_EQ(e.Message(), "File " + txtFile.Path() + " is not valid MS Word document");
  }
  EXPECT_THROW(doc.LoadFromFile(txtFile.Path() + ".missing"), EFileNotFoundError);
}

TEST(WordXFilesTest, AWriterPackageAndItsContainerForm) {
  TMSWordXDocument doc;
  doc.LoadFromFile(testing::TestDataPath("docx/sample.docx"));
  const V text = TextLines(doc.Text());
  ASSERT_GE(text.size(), 15u);
  EXPECT_EQ(text[0], "The Lighthouse Keeper\xE2\x80\x99s Log");
  EXPECT_EQ(text[4].substr(0, 14), "The lamp was l");
  EXPECT_NE(text[4].find("west & rain followed.1 Fog"), std::string::npos);
  EXPECT_EQ(V(text.begin() + 5, text.begin() + 8), (V{"Hour", "Wind", "Sea"}));
  EXPECT_EQ(TextLines(doc.FootNoteText()),
            (V{"1 The barometer fell by four millibars.", "2 Written in the keeper\xE2\x80\x99s own hand."}));
  const TLKWordSummaryInformation& s = doc.SummaryInformation();
  EXPECT_EQ(WideToUtf8(s.Author() + u"|" + s.Keywords() + u"|" + s.Subject()), "Mara Quill|lighthouse, weather|Harbour notes");
  EXPECT_DOUBLE_EQ(s.Created(), UTCToLocal(EncodeDate(2021, 3, 14)));

  TMSWordXDocument ole;
  ole.LoadFromFile(testing::TestDataPath("docx/sample-in-ole.docx"));
  EXPECT_EQ(TextLines(ole.Text()), text);
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
  // An encrypted package with a placeholder Word 97 document beside it is
  // the package's, not the Word 97 reader's.
  word.AddStream("EncryptedPackage", "e");
  const std::string both = word.Build();
  EXPECT_TRUE(detect(both));
  TBytesStream s(both);
  EXPECT_FALSE(IsWordBinary(s));
}

}  // namespace
}  // namespace lkw
