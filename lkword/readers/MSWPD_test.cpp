#include "lkword/readers/MSWPD.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "testing/CompoundFileBuilder.h"
#include "testing/EventRecorder.h"
#include "testing/LegacyDocs.h"
#include "testing/LoadDocument.h"

namespace lkw {
namespace {

using testing::LE16Bytes;
using testing::PutLE16;
using testing::PutLE32;
using testing::TLoaded;

// A WordPerfect 6 document: header, index of header packets, packet data,
// then the text.
struct WPDoc {
  explicit WPDoc(std::string Text) : text(std::move(Text)) {}
  std::string text;
  uint8_t major = 2;
  uint16_t encryption = 0;
  int documentEndDelta = 0;  // added to the real end of the text
  struct Packet {
    uint8_t type;
    std::string data;
    int32_t pointer = -1;  // -1: where the data is stored
  };
  std::vector<Packet> packets;

  std::string Bytes() const {
    std::string out(24, '\0');
    out.replace(0, 4, "\xFFWPC", 4);
    out[8] = 1;
    out[9] = 0x0A;
    out[10] = static_cast<char>(major);
    out[11] = 1;
    PutLE16(out, 12, encryption);
    PutLE16(out, 14, 24);
    std::string ih(14, '\0');
    PutLE16(ih, 0, 2);
    PutLE16(ih, 2, static_cast<uint32_t>(packets.size() + 1));
    out += ih;
    size_t dataAt = out.size() + 14 * packets.size();
    for (const auto& p : packets) {
      std::string item(14, '\0');
      item[1] = static_cast<char>(p.type);
      PutLE32(item, 6, static_cast<uint32_t>(p.data.size()));
      PutLE32(item, 10, p.pointer >= 0 ? static_cast<uint32_t>(p.pointer) : static_cast<uint32_t>(dataAt));
      dataAt += p.data.size();
      out += item;
    }
    for (const auto& p : packets) out += p.data;
    PutLE32(out, 4, static_cast<uint32_t>(out.size()));
    out += text;
    PutLE32(out, 20, static_cast<uint32_t>(static_cast<int>(out.size()) + documentEndDelta));
    return out;
  }
};

// A variable-length group: code, subfunction, size, flags, contents, size, code.
std::string Group(uint8_t code, uint8_t sub, const std::string& contents = "", uint8_t flags = 0) {
  std::string g;
  g += static_cast<char>(code);
  g += static_cast<char>(sub);
  g += std::string(2, '\0');
  g += static_cast<char>(flags);
  g += contents;
  g += std::string(2, '\0');
  g += static_cast<char>(code);
  PutLE16(g, 2, static_cast<uint32_t>(g.size()));
  PutLE16(g, g.size() - 3, static_cast<uint32_t>(g.size()));
  return g;
}
std::string Ext(uint8_t number, uint8_t set) { return std::string("\xF0") + char(number) + char(set) + "\xF0"; }
std::string Attr(bool on, uint8_t a) {
  const char c = on ? '\xF2' : '\xF3';
  return std::string(1, c) + char(a) + c;
}
std::string Undo(uint8_t type) { return std::string("\xF1") + char(type) + std::string(2, '\0') + "\xF1"; }
// Paragraph group, justification J.
std::string Justify(uint8_t j) { return Group(0xD3, 5, LE16Bytes(1) + char(j)); }
// Character group font change; size in fiftieths of a point.
std::string FontChange(uint16_t font, uint16_t size) {
  return Group(0xD4, 0x1A,
               std::string(1, '\1') + LE16Bytes(5) + LE16Bytes(8) + LE16Bytes(600) + LE16Bytes(0) + LE16Bytes(font) +
                   LE16Bytes(size),
               0x80);
}

TLoaded Load(const std::string& bytes, TMSTextFormating fmt = tfPlainText, TWPDCharacterTable table = wctInternational) {
  TWordPerfectFile doc;
  doc.SetTextFormating(fmt);
  doc.SetCharacterTable(table);
  return testing::LoadBytes(doc, bytes);
}

// What the document text renders to, without the RTF/HTML frame.
std::string Render(const std::string& text, TMSTextFormating fmt = tfPlainText) {
  return testing::WithoutFrame(Load(WPDoc{text}.Bytes(), fmt).Text, fmt);
}

TEST(WordPerfectHeaderTest, RefusalsAndDamageByKind) {
  WPDoc wp5{"Hi"};
  wp5.major = 0;  // a sound file of an older version
  WPDoc enc{"Hi"};
  enc.encryption = 0x1234;
  enc.major = 0;  // the password is tested before the version
  std::string badIdent = WPDoc{"Hi"}.Bytes();
  badIdent[1] = 'X';
  std::string claims = WPDoc{"text"}.Bytes();
  PutLE16(claims, 24 + 2, 0xFFFF);  // more index entries than the file holds
  const std::string notValid = "File stream is not valid WordPerfect 6/7/8/9 document.";
  struct Case {
    const char* name;
    std::string bytes;
    std::string error, kind;
  } cases[] = {
      {"older version", wp5.Bytes(), notValid, "unsupported"},
      {"password", enc.Bytes(), "Could not read the password protected file", "password"},
      {"signature", badIdent, notValid, "corrupt"},
      // Not a usable compound file after all: read as a plain document.
      {"compound signature only", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(40, '\0'), notValid,
       "corrupt"},
      {"header cut short", std::string("\xFFWPC", 4), "Stream read error", "read"},
      {"index cut short", claims, "Stream read error", "read"},
      {"extended character unclosed", WPDoc{"ab\xF0\x1C\x04X"}.Bytes(),
       "Incorrect character instead WP_TOP_EXTENDED_CHARACTER", "corrupt"},
      {"box group without prefix ids", WPDoc{"x" + Group(0xDF, 0, std::string(1, '\0'), 0x80)}.Bytes(),
       "Incorrect value for numPIDs", "corrupt"},
  };
  for (const Case& c : cases) {
    const TLoaded r = Load(c.bytes);
    EXPECT_EQ(r.Error, c.error) << c.name;
    EXPECT_EQ(r.Kind, c.kind) << c.name;
    EXPECT_EQ(r.Text, "") << c.name;
  }
  TWordPerfectFile doc;
  TBytesStream s(enc.Bytes());
  EXPECT_THROW(doc.LoadFromStream(s), EPasswordError);
  EXPECT_TRUE(doc.IsPasswordProtected());
}

TEST(WordPerfectTextTest, CodesRenderPerFormat) {
  const std::string bold = "a" + Attr(true, 12) + "b" + Attr(false, 12);
  const std::string mixed =
      Attr(true, 8) + Attr(true, 13) + Attr(true, 14) + Attr(true, 5) + Attr(true, 6) + Attr(true, 0x8C) + Attr(true, 3);
  const std::string undo = "keep" + Undo(0) + "gone\x80" + Attr(true, 12) + Ext(35, 1) + "\x01\xCC" + Undo(1) + "!";
  const std::string justify = Justify(2) + "x" + Justify(3) + "y" + Justify(0);
  const std::string fonts = FontChange(3, 600) + "a" + FontChange(4, 900) + "b";
  const std::string eol = "a" + Group(0xD0, 1) + "b" + Group(0xD0, 4) + "c" + Group(0xD0, 9) + "d" +
                          Group(0xD0, 0x0A) + "e" + Group(0xD0, 0x0B) + "f" + Group(0xD0, 7) + "g";
  const std::string tabs = Group(0xE0, 0) + "x" + Group(0xE0, 8 * 8) + "y" + Group(0xE0, 16 * 8);
  const std::string margins = Group(0xD2, 0, LE16Bytes(2) + LE16Bytes(2400)) + Group(0xD2, 1, LE16Bytes(2) + LE16Bytes(1300));
  const std::string tables = Group(0xD0, 0x0B) + "a" + Group(0xD0, 0x0A) + "b" + Group(0xD0, 0x0B) + "c\xBF" + "d" +
                             Group(0xD0, 0x0B) + "e";
  std::string zeroSize = Group(0xD1, 0);
  PutLE16(zeroSize, 2, 0);  // must not loop
  struct Case {
    std::string text;
    TMSTextFormating fmt;
    std::string expected;
  } cases[] = {
      {"He\x80l\xCC", tfPlainText, "He l\r\n"},
      {"a\x84z\x87" "b\xCF" "c", tfPlainText, "a-z\r\nb\r\nc"},
      {std::string("x\x00\x88\x7Fy", 5), tfPlainText, "xy"},  // unused single bytes
      {"\x01\x02\x0C\x1F\x20", tfPlainText, "åÅçùß"},
      {Ext(29, 4) + "A" + Ext(28, 4), tfPlainText, "‘A’"},
      {Ext(35, 1) + Ext(1, 8) + Ext(0, 9) + Ext(0, 10) + Ext(65, 0), tfPlainText, "åαאАA"},
      // Unknown pairs are marked, not dropped.
      {Ext(5, 12) + Ext(0, 15) + Ext(250, 1), tfPlainText, "\uFFFD\uFFFD\uFFFD"},
      {"a<b&{c}\\" + Ext(35, 1), tfHTML, "a&lt;b&amp;{c}\\å"},
      {"{x}\\" + Ext(35, 1), tfRTF, "\\{x\\}\\\\\\u229?"},
      {bold, tfRTF, "a\\b b\\b0 "},
      {bold, tfHTML, "a<b>b</b>"},
      {bold, tfPlainText, "ab"},
      {mixed, tfHTML, "<i><s><u><sup><sub>"},
      {mixed, tfRTF, "\\i \\strike \\ul "},
      // Deleted text goes, hard returns stay; "valid text" undo types change nothing.
      {undo, tfPlainText, "keep\r\n!"},
      {undo, tfHTML, "keep<p></p>\r\n!"},
      {"a" + Undo(2) + "b" + Undo(3) + "c", tfPlainText, "abc"},
      {justify, tfHTML, "<center><br>\r\nx</center><right><br>\r\ny</right><left><br>\r\n"},
      {justify, tfRTF, "\\pard\\qc \r\nx\\pard\\qr \r\ny\\pard\\ql \r\n"},
      {justify, tfPlainText, "\r\nx\r\ny\r\n"},
      {Undo(0) + Justify(2) + Undo(1), tfHTML, "<br>\r\n"},
      {fonts, tfRTF, "\\pard\\f3\\fs24 a\\pard\\f4\\fs36 b"},
      {fonts, tfHTML, "<font>a</font><font size=\"5\">b"},  // 12 points: the default size
      {fonts, tfPlainText, "ab"},
      {eol, tfPlainText, "a\r\nb\r\nc\r\nd\te\r\nf g"},
      {eol, tfRTF, "a\r\n\\line b\r\n\\par c\r\n\\page d\\tab e\r\n\\par f g"},
      {eol, tfHTML, "a<br>\r\nb<p></p>\r\nc<br>\r\nd\te<p></p>\r\nf g"},
      // Rows begin on a line of their own, cells are tab-separated; the text
      // ends inside the last table without a break.
      {tables, tfRTF, "\r\n\\par a\\tab b\r\n\\par c\r\n\\par d\r\n\\par e"},
      {tables, tfHTML, "<p></p>\r\na\tb<p></p>\r\nc<p></p>\r\nd<p></p>\r\ne"},
      {tabs, tfPlainText, "\tx\ty\t"},
      {tabs, tfRTF, "\\pard\\tab x\\pard\\qc y\\pard\\qr "},
      {tabs + Justify(0), tfHTML, "\txy</right><left><br>\r\n"},
      {margins, tfRTF, "\\pard\\fi2 \\pard\\ri1 "},
      {Group(0xDD, 10) + "s", tfPlainText, "\r\ns"},
      // Skipped groups: their contents are never taken for text.
      {"a" + Group(0xDE, 1, "HIDDEN") + Group(0xE5, 0, "ALSO") + "\xF7XY\xF7" + "b", tfPlainText, "ab"},
      {"x" + Group(0xDF, 0, "\x01\x05\x00", 0x80) + "y", tfPlainText, "xy"},
      // Groups cut short end the text.
      {"a" + zeroSize + "b", tfPlainText, "a"},
      {"a\xF0\x01", tfPlainText, "a"},
      {"a\xF1", tfPlainText, "a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Render(c.text, c.fmt), c.expected) << ::testing::PrintToString(c.text);

  // The Cyrillic table, when chosen, is indexed by the byte itself.
  EXPECT_EQ(Load(WPDoc{"\x01\x07\x1F\x20"}.Bytes(), tfPlainText, wctCyrillic).Text, "ЕАЯ");
  // Characters beyond one code unit; combining marks follow the letter.
  EXPECT_EQ(TWordPerfectFile::WPCharacterToUnicode(212, 1), u"D\u0304");
  EXPECT_EQ(TWordPerfectFile::WPCharacterToUnicode(100, 4), u"\U0001D11E");
}

// The recorder, with the formatting codes and the aligned tabs written down.
class TCodeRecorder : public testing::TEventRecorder {
 public:
  TCodeRecorder() { JoinText = false; }
  void FormatCode(const TParagraph& P, const TRunStyle& R, uint32_t Fields) override {
    std::string s = "code";
    if (Fields & ffAlignment) s += " align " + std::to_string(static_cast<int>(P.Alignment));
    if (Fields & ffLeftIndent) s += " left " + std::to_string(P.LeftIndent);
    if (Fields & ffParagraphProperties) s += " para";
    if (Fields & ffFont) s += " font " + std::to_string(R.Font) + "/" + std::to_string(R.HalfPoints);
    if (Fields & ffBold) s += R.Bold ? " b" : " -b";
    if (Fields & ffSuperscript) s += R.Superscript ? " sup" : " -sup";
    Lines.push_back(s);
  }
  void AlignedTab(TAlignment A) override { Lines.push_back("tab " + std::to_string(static_cast<int>(A))); }
};

TEST(WordPerfectEventsTest, StructureAndCodesAsEvents) {
  const std::string text =
      "Hi" + Attr(true, 12) + "B" + Attr(false, 12) + "\xCC" + Justify(2) + Group(0xD2, 0, LE16Bytes(2) + LE16Bytes(2400)) +
      "C" + Group(0xD0, 0x0B) + "r1" + Group(0xD0, 0x0A) + "r1c2" + Group(0xD0, 0x0B) + "r2" + Group(0xD0, 0x11) + "x\xC7" +
      "y\xCF" + Group(0xE0, 8 * 8) + Group(0xE0, 2 * 8) + FontChange(3, 600) + Attr(true, 5) + "z" + Undo(0) + "gone" +
      Attr(true, 12) + Undo(1) + "\xC6" + Group(0xD0, 0x0B) + "open";
  TWordPerfectFile doc;
  TCodeRecorder rec;
  doc.AddDocumentEvents(&rec);
  int conversions = 0;
  doc.SetOnConvertSysChar([&](TObject*, TLKWordSysChar, const WideString&, WideString&) { ++conversions; });
  TBytesStream s(WPDoc{text}.Bytes());
  doc.LoadFromStream(s);
  EXPECT_EQ(rec.Joined(),
            "<doc>|<p>|text 'Hi'|code b|text 'B' b|code -b|</p>|<p>|code align 2|code left 2880|text 'C'|</p>|"
            "<table>|<tr>|<td>|<p>|text 'r1'|</p>|</td>|<td>|<p>|text 'r1c2'|</p>|</td>|</tr>|<tr>|<td>|<p>|text 'r2'|"
            "</p>|</td>|</tr>|</table>|<p>|text 'x'|page-break|text 'y'|br|tab 2|tab 0|code font 3/24|code sup|"
            "text 'z'|tab|</p>|<table>|<tr>|<td>|<p>|text 'open'|</p>|</td>|</tr>|</table>|</doc>");
  // The text is written without the host's conversions.
  EXPECT_EQ(conversions, 0);
  EXPECT_EQ(doc.Text().Count(), 1);
}

TEST(WordPerfectTextTest, TextEndsWhereTheDocumentOrTheStreamDoes) {
  const std::string g = Group(0xD4, 0x1A, "contents");
  const TLoaded r = Load(WPDoc{"ab" + g.substr(0, g.size() - 2)}.Bytes());
  EXPECT_EQ(r.Text, "ab");
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.Warnings.size(), 1u);

  WPDoc doc{"truncated\x80text"};
  doc.documentEndDelta = 5000;
  EXPECT_EQ(Load(doc.Bytes()).Text, "truncated text");
  doc.documentEndDelta = -4;
  EXPECT_EQ(Load(doc.Bytes()).Text, "truncated ");
}

std::string FontPacket(const std::u16string& name) {
  std::string p(24, '\0');
  PutLE16(p, 0, 0x28);
  p[10] = 7;  // PrimaryFamilyId
  PutLE16(p, 22, static_cast<uint32_t>(name.size() * 2 + 2));
  for (char16_t c : name) p += LE16Bytes(c);
  p += LE16Bytes(0);
  return p;
}

TEST(WordPerfectPacketTest, IndexAndFontDescriptors) {
  WPDoc doc{"text"};
  doc.packets.push_back({0x25, "init"});
  doc.packets.push_back({0x55, FontPacket(u"Times New Roman")});
  doc.packets.push_back({0x20, FontPacket(u"Cour")});
  TWordPerfectFile wp;
  TBytesStream s(doc.Bytes());
  wp.LoadFromStream(s);
  ASSERT_EQ(wp.HeaderPacketList().size(), 3u);
  EXPECT_EQ(wp.HeaderPacketList()[1]->PID, 2);
  EXPECT_EQ(wp.HeaderPacketList()[1]->PacketType, 0x55);
  ASSERT_EQ(wp.FontDescriptorList().size(), 2u);
  EXPECT_EQ(wp.FontDescriptorList()[0]->PacketID, 2);
  EXPECT_EQ(wp.FontDescriptorList()[0]->CharacterWidth, 0x28);
  EXPECT_EQ(wp.FontDescriptorList()[0]->PrimaryFamilyId, 7);
  EXPECT_EQ(wp.FontDescriptorList()[0]->FontName, u"Times New Roman");
  EXPECT_EQ(wp.FontDescriptorList()[1]->FontName, u"Cour");
  EXPECT_EQ(wp.Text().Items().at(0), u"text");

  // Without wpiText the packets are still read.
  TWordPerfectFile noText;
  noText.SetParseItems({wpiSummaryInformation});
  TBytesStream s2(doc.Bytes());
  noText.LoadFromStream(s2);
  EXPECT_EQ(noText.HeaderPacketList().size(), 3u);
  EXPECT_EQ(noText.Text().Count(), 0);

  // A packet outside the file is skipped with a warning.
  WPDoc outside{"text"};
  outside.packets.push_back({0x55, FontPacket(u"X"), 0x7FFFFFF0});
  const TLoaded r = Load(outside.Bytes());
  EXPECT_EQ(r.Text, "text");
  EXPECT_EQ(r.Warnings.size(), 1u);
}

TEST(WordPerfectStorageTest, ReadsThePerfectOfficeMainStream) {
  testing::TCfbBuilder b;
  b.AddStream("PerfectOffice_OBJECTS/x", "obj");
  b.AddStream("PerfectOffice_MAIN", WPDoc{"inside\x80ole"}.Bytes());
  EXPECT_EQ(Load(b.Build()).Text, "inside ole");

  testing::TCfbBuilder other;
  other.AddStream("Something", WPDoc{"no"}.Bytes());
  const TLoaded none = Load(other.Build());
  EXPECT_EQ(none.Text, "");
  EXPECT_EQ(none.Error, "");
}

TEST(WordPerfectStorageTest, OffsetsCountFromTheHeader) {
  // A document behind a 12-byte "BDOC" block, as LoadFromOLEStream sees it.
  std::string bytes = "BDOC" + std::string(8, '\0') + WPDoc{"after\x80" "prefix"}.Bytes();
  TWordPerfectFile wp;
  TBytesStream s(bytes);
  wp.LoadFromOLEStream(s);
  EXPECT_EQ(wp.Text().Items().at(0), u"after prefix");
}

TEST(WordPerfectFilesTest, SamplesGiveTheirText) {
  const std::string expected = testing::TestDataBytes("wpd/sample.txt");
  ASSERT_FALSE(expected.empty());
  for (const char* name : {"wpd/sample.wpd", "wpd/sample-ole.wpd"}) {
    TWordPerfectFile wp;
    wp.LoadFromFile(std::string(LKWORD_TESTDATA) + "/" + name);
    ASSERT_EQ(wp.Text().Count(), 1) << name;
    EXPECT_EQ(WideToUtf8(wp.Text()[0]), expected) << name;
    ASSERT_EQ(wp.FontDescriptorList().size(), name == std::string("wpd/sample.wpd") ? 1u : 0u);
  }
  TWordPerfectFile html;
  html.SetTextFormating(tfHTML);
  html.LoadFromFile(std::string(LKWORD_TESTDATA) + "/wpd/sample.wpd");
  const std::string h = WideToUtf8(html.Text()[0]);
  EXPECT_NE(h.find("<center><br>\r\n<font size=\"5\"><b>Harbour Notes</b>"), std::string::npos) << h;
  EXPECT_NE(h.find("quay {north &lt;side&gt;}."), std::string::npos);
  EXPECT_EQ(h.find("deleted"), std::string::npos);
}

}  // namespace
}  // namespace lkw
