#include "lkword/word/MSWord_Lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/word/MSWord.h"
#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/WordBuilder.h"

namespace lkw {
namespace {

using testing::TWordDocBuilder;
using TLevel = TWordDocBuilder::TLevel;

std::string U8(const WideString& W) { return WideToUtf8(W); }

// Paragraph properties: the style, then sprmPIlfo and sprmPIlvl.
TWordDocBuilder::TParagraphProps Item(uint16_t Ilfo, uint8_t Ilvl, uint16_t Istd = 0) {
  std::string s = "\x0B\x46  \x0A\x26 ";
  TWordDocBuilder::Put16(s, 2, Ilfo);
  s[6] = static_cast<char>(Ilvl);
  return {Istd, s};
}

struct TLoaded {
  std::string Body;
  std::string Events;
};

TLoaded Loaded(const std::string& Bytes) {
  TMSWordDocument doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  testing::LoadLines(doc, Bytes);
  EXPECT_EQ(doc.Text().Count(), 3);
  std::string events;
  for (const std::string& e : rec.Lines)
    if (e.rfind("<p", 0) == 0 || e.rfind("<li", 0) == 0 || e.rfind("<h", 0) == 0) events += e + "|";
  return {doc.Text().Count() == 3 ? U8(doc.Text().Get(1)) : "", events};
}

TLoaded LoadBuilt(TWordDocBuilder& B) { return Loaded(B.Compound()); }

TEST(WordListNumberTest, FormatsAndTheirRanges) {
  EXPECT_EQ(U8(FormatListNumber(14, 1)), "XIV");
  EXPECT_EQ(U8(FormatListNumber(1994, 2)), "mcmxciv");
  EXPECT_EQ(U8(FormatListNumber(28, 3)), "BB");
  EXPECT_EQ(U8(FormatListNumber(26, 4)), "z");
  EXPECT_EQ(U8(FormatListNumber(12, 5)), "12th");
  EXPECT_EQ(U8(FormatListNumber(6, 9)), "\u2020\u2020");  // note marks: *, \u2020, \u2021, \u00A7, then doubled
  EXPECT_EQ(U8(FormatListNumber(41, 9)), "41");
  EXPECT_EQ(U8(FormatListNumber(22, 5)), "22nd");
  EXPECT_EQ(U8(FormatListNumber(42, 6)), "Forty-two");
  EXPECT_EQ(U8(FormatListNumber(20, 7)), "Twentieth");
  EXPECT_EQ(U8(FormatListNumber(7, 22)), "07");
  EXPECT_EQ(U8(FormatListNumber(3, 255)), "");
  // Beyond what a format shows: decimal.
  EXPECT_EQ(U8(FormatListNumber(4000, 1)), "4000");
  EXPECT_EQ(U8(FormatListNumber(0, 3)), "0");
  EXPECT_EQ(U8(FormatListNumber(12, 22)), "12");
  EXPECT_EQ(U8(FormatListNumber(1000000, 6)), "1000000");
  EXPECT_EQ(U8(FormatListNumber(2147483647, 4)), "2147483647");
  EXPECT_EQ(U8(FormatListNumber(5, 99)), "5");
}

// Start values, levels restarting under a higher level, skipped levels
// counting from their start, multi-level texts,
// numbering that goes on across other paragraphs, legal numbering, an
// override that restarts the list, bullets of symbol fonts.
TEST(WordListTest, LabelsCountAsThePageShowsThem) {
  TWordDocBuilder b;
  b.Fonts = {{0, "Times New Roman"}, {2, "Symbol"}, {2, "Wingdings"}};
  b.Pieces = {{u"one\rtwo\rtwo a\rtwo b\rbetween\rthree\rthree a\rlegal\rre\rdot\rbox\rtext\rnext\r", false}};
  b.Lists = {{7,
              {{3, 0, 0, {0, u'.'}},
               {1, 4, 0, {0, u'.', 1, u')'}},
               {5, 2, 0x04, {0, u'.', 1, u'.', 2}}}},
             {9, {{1, 23, 0, {0xF0B7}, 1}}},
             {11, {{1, 23, 0, {0xF0A7}, 2}}}};
  b.Overrides = {{7, {}}, {9, {}}, {11, {}}, {7, {{0, true, 10, false, {}}}}};
  b.Paragraphs = {Item(1, 0), Item(1, 0), Item(1, 1), Item(1, 1), {},         Item(1, 0),
                  Item(1, 1), Item(1, 2), Item(4, 0), Item(2, 0), Item(3, 0), Item(1, 2), Item(1, 1)};
  const TLoaded got = LoadBuilt(b);
  EXPECT_EQ(got.Body,
            "3. one\r\n4. two\r\n4.a) two a\r\n4.b) two b\r\nbetween\r\n5. three\r\n5.a) three a\r\n"
            "5.1.5 legal\r\n10. re\r\n\u2022 dot\r\n\u25AA box\r\n10.1.5 text\r\n10.b) next\r\n");
  EXPECT_EQ(got.Events,
            "<li 1 '3.'>|<li 1 '4.'>|<li 2 '4.a)'>|<li 2 '4.b)'>|<p>|<li 1 '5.'>|<li 2 '5.a)'>|"
            "<li 3 '5.1.5'>|<li 1 '10.'>|<li 1 '\u2022'>|<li 1 '\u25AA'>|<li 3 '10.1.5'>|<li 2 '10.b)'>|");
}

// Headings by the built-in heading styles and by outline levels, also
// through a style's bases; a numbered heading keeps its number.
TEST(WordListTest, HeadingsTakeTheirLevelFromTheStyles) {
  TWordDocBuilder b;
  b.Pieces = {{u"Title\rSub\rDeep\rNumbered\rBody\r", false}};
  b.Styles = {{0, 0xFFF, "", ""},
              {1, 0, "", "\x35\x08\x01"},
              {2, 0, "", ""},
              {30, 0xFFF, std::string("\x40\x26\x03", 3), ""},
              {31, 3, "", ""},
              {32, 0, "", ""}};
  b.Lists = {{5, {{1, 0, 0, {u'C', u'h', u'.', u' ', 0}}}}};
  b.Overrides = {{5, {}}};
  b.Paragraphs = {{1, ""}, {2, ""}, {4, ""}, Item(1, 0, 1), {5, ""}};
  const TLoaded got = LoadBuilt(b);
  EXPECT_EQ(got.Body, "Title\r\nSub\r\nDeep\r\nCh. 1 Numbered\r\nBody\r\n");
  EXPECT_EQ(got.Events, "<h1>|<h2>|<h4>|<h1 'Ch. 1'>|<p>|");
}

// Bold and italic of runs: their own, the paragraph style's, and the
// values that take the style's or turn it round.
TEST(WordListTest, RunsAreBoldAndItalicByPagesAndStyles) {
  TWordDocBuilder b;
  b.Pieces = {{u"Plain ", false},
              {u"bold ", false, -1, 0, "\x35\x08\x01"},
              {u"both\r", false, -1, 0, "\x35\x08\x01\x36\x08\x01"},
              {u"Strong ", false},
              {u"not ", false, -1, 0, "\x35\x08\x81"},
              {u"same\r", false, -1, 0, "\x35\x08\x80"}};
  b.Styles = {{0, 0xFFF, "", ""}, {1, 0, "", "\x35\x08\x01"}};
  b.Paragraphs = {{0, ""}, {1, ""}};
  TMSWordDocument doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  testing::LoadLines(doc, b.Compound());
  std::string texts;
  for (const std::string& e : rec.Lines)
    if (e.rfind("text", 0) == 0) texts += e + "|";
  EXPECT_EQ(texts, "text 'Plain '|text 'bold ' b|text 'both' b i|text 'Strong ' b|text 'not '|text 'same' b|");
}

// Tables that point nowhere or loop are no lists: ids out of range, a
// level past nine, an override of a list that does not exist, styles that
// are their own bases, huge start values.
TEST(WordListTest, HostileTablesGiveNoListsAndNoHang) {
  TWordDocBuilder b;
  b.Pieces = {{u"a\rb\rc\rd\re\rf\r", false}};
  b.Styles = {{0, 0xFFF, "", ""}, {40, 2, "", ""}, {41, 1, std::string("\x0B\x46\x01\x00", 4), ""}};
  b.Lists = {{3, {{2147483647, 4, 0, {0, u'.'}}, {-5, 1, 0, {1}}}}};
  b.Overrides = {{3, {}}, {99, {}}};
  b.Paragraphs = {Item(1, 0), Item(7, 0), Item(2, 0), Item(1, 200), {1, ""}, Item(0xF801, 0, 2)};
  const TLoaded got = LoadBuilt(b);
  EXPECT_EQ(got.Body, "2147483647. a\r\nb\r\nc\r\n1. d\r\n2147483648. e\r\nf\r\n");
  EXPECT_EQ(got.Events, "<li 1 '2147483647.'>|<p>|<p>|<li 9 '1.'>|<li 1 '2147483648.'>|<p>|");

  // Counts and sizes that run past the tables: whatever reads, the text
  // stays whole.
  for (const size_t patch : {size_t{0}, size_t{2 + 28 + 25}}) {
    b.Build();
    const uint32_t lists = LoadLE32(reinterpret_cast<const uint8_t*>(b.Document.data()) + 154 + 8 * 73);
    b.Table[lists + patch] = '\xFF';
    testing::TCfbBuilder c;
    c.AddStream("WordDocument", b.Document);
    c.AddStream("1Table", b.Table);
    const TLoaded damaged = Loaded(c.Build());
    EXPECT_EQ(damaged.Body.substr(damaged.Body.size() - 6), "e\r\nf\r\n");
    EXPECT_EQ(std::count(damaged.Events.begin(), damaged.Events.end(), '|'), 6);
  }
}

// Word 6/95: sprmPNLvlAnm Anlm, then sprmPAnld with a format, the texts
// before and after the number, a start value, a font and flags (0x04: the
// numbers of the levels above show too).
std::string Anld(uint8_t Anlm, uint8_t Nfc, const std::string& Before, const std::string& After, uint16_t Start = 1,
                 uint16_t Font = 0, uint8_t Flags = 0) {
  std::string a(20, '\0');
  a[0] = static_cast<char>(Nfc);
  a[1] = static_cast<char>(Before.size());
  a[2] = static_cast<char>(After.size());
  a[3] = static_cast<char>(Flags);
  TWordDocBuilder::Put16(a, 6, Font);
  TWordDocBuilder::Put16(a, 10, Start);
  a += Before + After;
  a.resize(52, '\0');
  return std::string{'\x0D', static_cast<char>(Anlm), '\x0C', '\x34'} + a;
}

// An outline numbering of a section: level 1 "N.", level 2 with the
// number above ("N.M"), the rest decimal without texts.
std::string Outline() {
  std::string o(9 * 16 + 4, '\0');
  o[2] = 1;          // level 1: one character after its number
  o[16 + 3] = 0x04;  // level 2: the number above too
  for (size_t l = 0; l < 9; ++l) TWordDocBuilder::Put16(o, 16 * l + 10, 1);
  o += ".";
  return std::string{'\x85', static_cast<char>(o.size())} + o;
}

// Consecutive paragraphs with one description count on from its start, a
// paused one keeps the list going, a plain one ends it; formats, texts
// around the number, bullets of a symbol font, a style's numbering;
// headings numbered by their section's outline, their levels from their
// styles.
TEST(Word6ListTest, LabelsCountAsThePageShowsThem) {
  TWordDocBuilder b(7);
  b.Fonts = {{0, "Times New Roman"}, {2, "Symbol"}};
  b.Pieces = {{u"one\rtwo\rpaused\rthree\rbody\ragain\rfour\rfive\rdot\rletter\rstyled\rstyled\rCh\rSec\rSec\rCh\r", true}};
  const std::string decimal = Anld(10, 0, "", "."), roman = Anld(10, 2, "(", ")", 4);
  b.Paragraphs = {{0, decimal}, {0, decimal}, {0, "\x0D\x0C"}, {0, decimal}, {}, {0, decimal},
                  {0, roman}, {0, roman}, {0, Anld(11, 23, "\xB7", "", 1, 1)}, {0, Anld(10, 3, "", ".", 27)},
                  {3, ""}, {3, ""}, {1, ""}, {2, ""}, {2, ""}, {1, ""}};
  b.Styles = {{0, 0xFFF, "", ""}, {1, 0, "\x0D\x01", ""}, {2, 1, "\x0D\x02", ""}, {40, 0, Anld(10, 0, "", ")"), ""}};
  b.SectionSprms = {Outline()};
  const TLoaded got = LoadBuilt(b);
  EXPECT_EQ(got.Body,
            "1. one\r\n2. two\r\npaused\r\n3. three\r\nbody\r\n1. again\r\n(iv) four\r\n(v) five\r\n\u2022 dot\r\n"
            "AA. letter\r\n1) styled\r\n2) styled\r\n1. Ch\r\n1.1 Sec\r\n1.2 Sec\r\n2. Ch\r\n");
  EXPECT_EQ(got.Events,
            "<li 1 '1.'>|<li 1 '2.'>|<p>|<li 1 '3.'>|<p>|<li 1 '1.'>|<li 1 '(iv)'>|<li 1 '(v)'>|<li 1 '\u2022'>|"
            "<li 1 'AA.'>|<li 1 '1)'>|<li 1 '2)'>|<h1 '1.'>|<h2 '1.1'>|<h2 '1.2'>|<h1 '2.'>|");
}

// Operands too short for a description, texts longer than it holds, a
// start no format shows, an unknown format, a level past any, a modifier
// cut off by its group's end: plain paragraphs or decimal, never a crash.
TEST(Word6ListTest, HostileDescriptionsGivePlainParagraphs) {
  TWordDocBuilder b(6);
  b.Pieces = {{u"a\rb\rc\rd\re\rf\r", true}};
  std::string longTexts = Anld(10, 0, "", "");
  longTexts[5] = longTexts[6] = '\xFF';
  b.Paragraphs = {{0, std::string("\x0D\x0A\x0C\x0A", 4) + std::string(10, '\x01')},
                  {0, longTexts},
                  {0, Anld(10, 1, "", "", 65535)},
                  {0, Anld(10, 99, "", ")")},
                  {0, Anld(200, 0, "", ".")},
                  {0, Anld(10, 0, "", ".").substr(0, 30)}};
  const TLoaded got = LoadBuilt(b);
  EXPECT_EQ(got.Body, "a\r\n1 b\r\n65535 c\r\n1) d\r\ne\r\nf\r\n");
  EXPECT_EQ(got.Events, "<p>|<li 1 '1'>|<li 1 '65535'>|<li 1 '1)'>|<p>|<p>|");
}

}  // namespace
}  // namespace lkw
