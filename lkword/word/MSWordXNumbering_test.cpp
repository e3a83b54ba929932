#include "lkword/word/MSWordXNumbering.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/word/MSWordX.h"
#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/ZipBuilder.h"

namespace lkw {
namespace {

using V = testing::TLines;
using Parts = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kW = " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";

// A level: ilvl, format, level text and what else goes inside w:lvl.
std::string Lvl(int ilvl, const std::string& fmt, const std::string& text, const std::string& more = "") {
  return "<w:lvl w:ilvl=\"" + std::to_string(ilvl) + "\"><w:numFmt w:val=\"" + fmt + "\"/><w:lvlText w:val=\"" +
         text + "\"/>" + more + "</w:lvl>";
}
std::string Start(int n) { return "<w:start w:val=\"" + std::to_string(n) + "\"/>"; }
std::string Abstract(int id, const std::string& levels) {
  return "<w:abstractNum w:abstractNumId=\"" + std::to_string(id) + "\">" + levels + "</w:abstractNum>";
}
std::string Num(int id, int abstract, const std::string& overrides = "") {
  return "<w:num w:numId=\"" + std::to_string(id) + "\"><w:abstractNumId w:val=\"" + std::to_string(abstract) +
         "\"/>" + overrides + "</w:num>";
}
// A paragraph with a list (numId, ilvl; -1 leaves either out) and a style.
std::string Item(const std::string& text, int num, int ilvl = 0, const std::string& style = "") {
  std::string p = "<w:p><w:pPr>";
  if (!style.empty()) p += "<w:pStyle w:val=\"" + style + "\"/>";
  if (num >= 0 || ilvl >= 0) {
    p += "<w:numPr>";
    if (ilvl >= 0) p += "<w:ilvl w:val=\"" + std::to_string(ilvl) + "\"/>";
    if (num >= 0) p += "<w:numId w:val=\"" + std::to_string(num) + "\"/>";
    p += "</w:numPr>";
  }
  return p + "</w:pPr><w:r><w:t>" + text + "</w:t></w:r></w:p>";
}
std::string Para(const std::string& text) { return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>"; }

// The paragraph events of a package with those numbering, styles and body.
std::string Events(const std::string& numbering, const std::string& styles, const std::string& body) {
  Parts parts = {
      {"word/document.xml", std::string("<w:document") + kW + "><w:body>" + body + "</w:body></w:document>"}};
  if (!numbering.empty()) parts.push_back({"word/numbering.xml", std::string("<w:numbering") + kW + ">" + numbering + "</w:numbering>"});
  if (!styles.empty()) parts.push_back({"word/styles.xml", std::string("<w:styles") + kW + ">" + styles + "</w:styles>"});
  testing::TEventRecorder rec;
  TMSWordXDocument doc;
  doc.AddDocumentEvents(&rec);
  testing::LoadLines(doc, testing::MakeZip(parts));
  std::string out;
  for (const std::string& l : rec.Lines)
    if (l[0] == '<' && l.find("story") == std::string::npos && l.find("doc>") == std::string::npos && l != "</p>")
      out += (out.empty() ? "" : "|") + l;
  return out;
}

TEST(WordXNumberingTest, StartsOverridesRestartsAndContinuedNumbering) {
  const std::string numbering =
      Abstract(1, Lvl(0, "decimal", "%1.", Start(3)) + Lvl(1, "lowerLetter", "%2)", Start(1)) +
                      Lvl(2, "decimal", "(%3)", Start(1) + "<w:lvlRestart w:val=\"0\"/>")) +
      Num(1, 1) + Num(2, 1) +
      Num(3, 1, "<w:lvlOverride w:ilvl=\"0\"><w:startOverride w:val=\"10\"/></w:lvlOverride>") +
      Num(4, 1, "<w:lvlOverride w:ilvl=\"0\">" + Lvl(0, "upperRoman", "%1:", Start(1)) + "</w:lvlOverride>");
  // A body paragraph between items does not break the count; a second list
  // on the same numbering continues it; a start override restarts it once;
  // an overriding level writes the number its own way but counts on.
  EXPECT_EQ(Events(numbering, "",
                   Item("a", 1) + Item("b", 1, 1) + Item("c", 1, 2) + Para("x") + Item("d", 1, 1) + Item("e", 1, 2) +
                       Item("f", 1) + Item("g", 1, 1) + Item("h", 1, 2) + Item("i", 2) + Item("j", 3) + Item("k", 3) +
                       Item("l", 4)),
            "<li 1 '3.'>|<li 2 'a)'>|<li 3 '(1)'>|<p>|<li 2 'b)'>|<li 3 '(2)'>|"
            "<li 1 '4.'>|<li 2 'a)'>|<li 3 '(3)'>|<li 1 '5.'>|<li 1 '10.'>|<li 1 '11.'>|<li 1 'XII:'>");
  // A level skipped over counts as begun: after "1.a.i" and a third-level
  // item, the second level goes on at "b".
  const std::string skipped = Abstract(2, Lvl(0, "decimal", "%1", Start(1)) + Lvl(1, "lowerLetter", "%1.%2", Start(1)) +
                                                Lvl(2, "lowerRoman", "%1.%2.%3", Start(1))) +
                              Num(1, 2);
  EXPECT_EQ(Events(skipped, "", Item("a", 1) + Item("b", 1, 2) + Item("c", 1, 1) + Item("d", 1) + Item("e", 1, 2)),
            "<li 1 '1'>|<li 3 '1.a.i'>|<li 2 '1.b'>|<li 1 '2'>|<li 3 '2.a.i'>");
}

TEST(WordXNumberingTest, MultiLevelTextLegalNumbersAndFormats) {
  const std::string numbering =
      Abstract(1, Lvl(0, "upperRoman", "Chapter %1", Start(4)) + Lvl(1, "decimal", "%1.%2.", Start(1)) +
                      Lvl(2, "lowerRoman", "%1.%2.%3", Start(1) + "<w:isLgl/>") +
                      Lvl(5, "decimalZero", "%1.%6", Start(1)) + Lvl(6, "decimal", "%1.%6.%7", Start(1) + "<w:isLgl/>") +
                      Lvl(3, "none", "", Start(1)) + Lvl(4, "upperLetter", "%5%4.", Start(27))) +
      Num(1, 1);
  // Legal numbering writes Roman numbers in digits, and keeps a leading zero.
  EXPECT_EQ(Events(numbering, "",
                   Item("a", 1) + Item("b", 1, 1) + Item("c", 1, 2) + Item("d", 1, 3) + Item("e", 1, 4) +
                       Item("f", 1, 5) + Item("g", 1, 6)),
            "<li 1 'Chapter IV'>|<li 2 'IV.1.'>|<li 3 '4.1.1'>|<li 4>|<li 5 'AA.'>|<li 6 'IV.01'>|<li 7 '4.01.1'>");

  using F = TWordXNumbering::TFormat;
  const struct {
    int64_t N;
    F Format;
    const char* Text;
  } cases[] = {
      {7, F::DecimalZero, "07"},  {12, F::DecimalZero, "12"},   {28, F::LowerLetter, "bb"},
      {0, F::LowerLetter, "0"},   {1994, F::UpperRoman, "MCMXCIV"}, {4000, F::LowerRoman, "4000"},
      {-2, F::UpperRoman, "-2"},  {22, F::Ordinal, "22nd"},    {13, F::Ordinal, "13th"},
      {21, F::CardinalText, "Twenty-one"}, {100, F::OrdinalText, "One hundredth"},
      {1000000, F::CardinalText, "1000000"}, {3, F::EnclosedCircle, "\xE2\x91\xA2"},
      {5, F::Chicago, "**"},      {5, F::Bullet, ""},          {5, F::None, ""},
  };
  for (const auto& c : cases) {
    WideString out;
    TWordXNumbering::AppendNumber(out, c.N, c.Format);
    EXPECT_EQ(WideToUtf8(out), c.Text) << c.N;
  }
}

TEST(WordXNumberingTest, SymbolFontBulletsBecomeTheirCharacters) {
  auto bullet = [](int ilvl, const std::string& text, const std::string& font) {
    return Lvl(ilvl, "bullet", text, "<w:rPr><w:rFonts w:ascii=\"" + font + "\" w:hAnsi=\"" + font + "\"/></w:rPr>");
  };
  const std::string numbering =
      Abstract(1, bullet(0, "\xEF\x82\xB7", "Symbol") + bullet(1, "o", "Courier New") +
                      bullet(2, "\xEF\x82\xA7", "Wingdings") + bullet(3, "\xEF\x83\x98", "Wingdings") +
                      bullet(4, "\xEF\x82\x81", "Wingdings 2") + bullet(5, "\xC2\xB7", "Symbol") +
                      bullet(6, "&gt;", "Calibri") + bullet(7, "", "Symbol")) +
      Num(1, 1);
  std::string body;
  for (int i = 0; i < 8; ++i) body += Item("t", 1, i);
  // The label is never a private-use character; one without a known
  // character is a plain bullet.
  EXPECT_EQ(Events(numbering, "", body),
            "<li 1 '\xE2\x80\xA2'>|<li 2 'o'>|<li 3 '\xE2\x96\xAA'>|<li 4 '\xE2\x9E\xA2'>|<li 5 '\xE2\x80\xA2'>|"
            "<li 6 '\xE2\x80\xA2'>|<li 7 '>'>|<li 8>");
}

TEST(WordXNumberingTest, HeadingsByOutlineLevelOrStyleAndTheirNumbers) {
  const std::string numbering =
      Abstract(5, Lvl(0, "decimal", "%1", Start(1) + "<w:pStyle w:val=\"H1\"/>") +
                      Lvl(1, "decimal", "%1.%2", Start(1) + "<w:pStyle w:val=\"H2\"/>")) +
      Num(7, 5);
  const std::string styles =
      "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"H1\"><w:name w:val=\"heading 1\"/>"
      "<w:pPr><w:numPr><w:numId w:val=\"7\"/></w:numPr><w:outlineLvl w:val=\"0\"/></w:pPr></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"H2\"><w:name w:val=\"Custom\"/><w:basedOn w:val=\"H1\"/>"
      "<w:pPr><w:outlineLvl w:val=\"1\"/></w:pPr></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"Heading3\"><w:name w:val=\"Kopf 3\"/></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"Titel\"><w:name w:val=\"Title\"/></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"Plain\"><w:basedOn w:val=\"H1\"/>"
      "<w:pPr><w:numPr><w:numId w:val=\"0\"/></w:numPr><w:outlineLvl w:val=\"9\"/></w:pPr></w:style>";
  // The level of a style's numbering is the one tied to the style; a
  // paragraph's own outline level counts as much as its style's.
  EXPECT_EQ(Events(numbering, styles,
                   Item("t", -1, -1, "Titel") + Item("a", -1, -1, "H1") + Item("b", -1, -1, "H2") +
                       Item("c", -1, -1, "H2") + Item("d", -1, -1, "Heading3") + Item("e", -1, -1, "Plain") +
                       "<w:p><w:pPr><w:outlineLvl w:val=\"4\"/></w:pPr><w:r><w:t>f</w:t></w:r></w:p>" +
                       Item("g", -1, -1, "H1")),
            "<h1>|<h1 '1'>|<h2 '1.1'>|<h2 '1.2'>|<h3>|<p>|<h5>|<h1 '2'>");
}

TEST(WordXNumberingTest, HostileNumberingGivesPlainParagraphs) {
  const std::string numbering =
      Abstract(1, Lvl(0, "decimal", "%1.%9.%", "<w:start w:val=\"99999999999999999999\"/><w:lvlRestart w:val=\"-5\"/>")) +
      Abstract(2, "<w:numStyleLink w:val=\"Loop\"/>") + Num(1, 1) + Num(2, 2) + Num(3, 99) +
      "<w:num w:numId=\"x\"/><w:abstractNum w:abstractNumId=\"\"/>";
  const std::string styles =
      "<w:style w:type=\"paragraph\" w:styleId=\"A\"><w:basedOn w:val=\"B\"/></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"B\"><w:basedOn w:val=\"A\"/></w:style>"
      "<w:style w:type=\"numbering\" w:styleId=\"Loop\"><w:pPr><w:numPr><w:numId w:val=\"2\"/></w:numPr></w:pPr></w:style>";
  // Unknown lists, a numbering style leading back to itself, a style cycle,
  // levels out of range and huge numbers.
  EXPECT_EQ(Events(numbering, styles,
                   Item("a", 1, 42) + Item("b", 2) + Item("c", 3) + Item("d", 12345678) + Item("e", -1, -1, "A") +
                       Item("f", 1) + Item("g", -1, 0)),
            "<li 9>|<p>|<p>|<p>|<p>|<li 1 '1099511627776.0.%'>|<p>");
  // Broken parts: lists are left out, the text stays.
  EXPECT_EQ(Events("<w:abstractNum <<", "<w:style", Item("a", 1)), "<p>");
}

TEST(WordXNumberingTest, LabelsInEveryFormatAndRunEmphasis) {
  const std::string numbering = Abstract(1, Lvl(0, "decimal", "%1.", Start(1))) + Num(1, 1);
  const std::string styles =
      "<w:style w:type=\"character\" w:styleId=\"Strong\"><w:rPr><w:b/></w:rPr></w:style>"
      "<w:style w:type=\"character\" w:styleId=\"Em\"><w:basedOn w:val=\"Strong\"/><w:rPr><w:i/></w:rPr></w:style>";
  const std::string body =
      "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"1\"/></w:numPr></w:pPr>"
      "<w:r><w:rPr><w:b/></w:rPr><w:t>bold </w:t></w:r><w:r><w:rPr><w:rStyle w:val=\"Em\"/><w:b w:val=\"0\"/></w:rPr>"
      "<w:t>em</w:t></w:r><w:r><w:t> &amp; plain</w:t></w:r></w:p>";
  const std::string doc = testing::MakeZip(Parts{
      {"word/document.xml", std::string("<w:document") + kW + "><w:body>" + body + "</w:body></w:document>"},
       {"word/numbering.xml", std::string("<w:numbering") + kW + ">" + numbering + "</w:numbering>"},
       {"word/styles.xml", std::string("<w:styles") + kW + ">" + styles + "</w:styles>"}});
  testing::TEventRecorder rec;
  TMSWordXDocument events;
  events.AddDocumentEvents(&rec);
  testing::LoadLines(events, doc);
  const std::string told = rec.Joined("<li 1 '1.'>");
  EXPECT_EQ(told.substr(0, told.find("|</story main>")), "<li 1 '1.'>|text 'bold ' b|text 'em' i|text ' & plain'|</p>");
  const struct {
    TMSTextFormating Format;
    const char* Line;
  } formats[] = {{tfPlainText, "1. bold em & plain"},
                 {tfHTML, "<p>1. bold em &amp; plain</p>"},
                 {tfRTF, "1. bold em & plain\\par"}};
  for (const auto& f : formats) {
    TMSWordXDocument d;
    d.SetTextFormating(f.Format);
    const V lines = testing::LoadLines(d, doc);
    ASSERT_EQ(lines.size(), f.Format == tfPlainText ? 1u : 3u);
    EXPECT_EQ(lines[f.Format == tfPlainText ? 0 : 1], f.Line);
  }
}

}  // namespace
}  // namespace lkw
