#include "lkword/readers/MSWPD.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "testing/CompoundFileBuilder.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

void Put16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, v & 0xFFFF);
  Put16(s, at + 2, v >> 16);
}

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
  bool index = true;

  std::string Bytes() const {
    std::string out(24, '\0');
    out.replace(0, 4, "\xFFWPC", 4);
    out[8] = 1;
    out[9] = 0x0A;
    out[10] = static_cast<char>(major);
    out[11] = 1;
    Put16(out, 12, encryption);
    if (index) {
      Put16(out, 14, 24);
      std::string ih(14, '\0');
      Put16(ih, 0, 2);
      Put16(ih, 2, static_cast<uint32_t>(packets.size() + 1));
      out += ih;
      size_t dataAt = out.size() + 14 * packets.size();
      for (const auto& p : packets) {
        std::string item(14, '\0');
        item[0] = 0;
        item[1] = static_cast<char>(p.type);
        Put32(item, 6, static_cast<uint32_t>(p.data.size()));
        Put32(item, 10, p.pointer >= 0 ? static_cast<uint32_t>(p.pointer) : static_cast<uint32_t>(dataAt));
        dataAt += p.data.size();
        out += item;
      }
      for (const auto& p : packets) out += p.data;
    }
    Put32(out, 4, static_cast<uint32_t>(out.size()));
    out += text;
    Put32(out, 20, static_cast<uint32_t>(static_cast<int>(out.size()) + documentEndDelta));
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
  Put16(g, 2, static_cast<uint32_t>(g.size()));
  Put16(g, g.size() - 3, static_cast<uint32_t>(g.size()));
  return g;
}
std::string U16(uint16_t v) {
  std::string s(2, '\0');
  Put16(s, 0, v);
  return s;
}
std::string Ext(uint8_t number, uint8_t set) { return std::string("\xF0") + char(number) + char(set) + "\xF0"; }
std::string Attr(bool on, uint8_t a) {
  const char c = on ? '\xF2' : '\xF3';
  return std::string(1, c) + char(a) + c;
}
std::string Undo(uint8_t type) { return std::string("\xF1") + char(type) + std::string(2, '\0') + "\xF1"; }
// Paragraph group, justification J.
std::string Justify(uint8_t j) { return Group(0xD3, 5, U16(1) + char(j)); }
// Character group font change; size in fiftieths of a point.
std::string FontChange(uint16_t font, uint16_t size) {
  return Group(0xD4, 0x1A, std::string(1, '\1') + U16(5) + U16(8) + U16(600) + U16(0) + U16(font) + U16(size), 0x80);
}

struct Loaded {
  std::string text;  // the joined output, UTF-8, CR LF kept
  std::string error;
  std::vector<std::string> warnings;
};

Loaded Load(const std::string& bytes, TMSTextFormating fmt = tfPlainText,
            TWPDCharacterTable table = wctInternational) {
  TWordPerfectFile doc;
  doc.SetTextFormating(fmt);
  doc.SetCharacterTable(table);
  TBytesStream s(bytes);
  Loaded r;
  try {
    doc.LoadFromStream(s);
  } catch (const Exception& e) {
    r.error = e.what();
  }
  for (const auto& item : doc.Text().Items()) r.text += WideToUtf8(item);
  for (const auto& w : doc.Warnings()) r.warnings.push_back(w.Message);
  return r;
}

std::string Plain(const std::string& text) { return Load(WPDoc{text}.Bytes()).text; }

std::string Body(const std::string& text, TMSTextFormating fmt) {
  // Cut the fixed RTF/HTML frame off: only what the document contributed.
  TWordPerfectFile frame;
  frame.SetTextFormating(fmt);
  const std::string start = WideToUtf8(frame.GetTextStart());
  const std::string finish = WideToUtf8(frame.GetTextFinish());
  std::string all = Load(WPDoc{text}.Bytes(), fmt).text;
  if (fmt == tfRTF) {
    // The creation time in the RTF header may tick between the two calls.
    size_t body = all.find("}}\r\n");
    all = body == std::string::npos ? all : all.substr(body + 4);
  } else if (all.compare(0, start.size(), start) == 0) {
    all = all.substr(start.size());
  }
  if (all.size() >= finish.size() && all.compare(all.size() - finish.size(), finish.size(), finish) == 0)
    all.resize(all.size() - finish.size());
  return all;
}

TEST(WordPerfectHeaderTest, AcceptsVersion2AndRefusesOthers) {
  EXPECT_EQ(Plain("Hi"), "Hi");

  WPDoc wp5{"Hi"};
  wp5.major = 0;
  EXPECT_EQ(Load(wp5.Bytes()).error, "File stream is not valid WordPerfect 6/7/8/9 document.");
  // A sound file of an older version, which hosts can tell from damage.
  TWordPerfectFile reader;
  TBytesStream older(wp5.Bytes());
  EXPECT_THROW(reader.LoadFromStream(older), EUnsupportedError);

  std::string badIdent = WPDoc{"Hi"}.Bytes();
  badIdent[1] = 'X';
  EXPECT_EQ(Load(badIdent).error, "File stream is not valid WordPerfect 6/7/8/9 document.");

  EXPECT_EQ(Load(std::string("\xFFWPC", 4)).error, "Stream read error");
}

TEST(WordPerfectHeaderTest, PasswordIsTestedBeforeTheSignature) {
  WPDoc enc{"Hi"};
  enc.encryption = 0x1234;
  enc.major = 0;
  EXPECT_EQ(Load(enc.Bytes()).error, "Could not read the password protected file");

  TWordPerfectFile doc;
  TBytesStream s(enc.Bytes());
  EXPECT_THROW(doc.LoadFromStream(s), Exception);
  EXPECT_TRUE(doc.IsPasswordProtected());
}

TEST(WordPerfectTextTest, SoftSpaceHardReturnAndHyphen) {
  EXPECT_EQ(Plain("He\x80l\xCC"), "He l\r\n");
  EXPECT_EQ(Plain("a\x84z\x87" "b\xCF" "c"), "a-z\r\nb\r\nc");
  // Unused single-byte codes and 0x00 produce nothing.
  EXPECT_EQ(Plain(std::string("x\x00\x88\x7Fy", 5)), "xy");
}

TEST(WordPerfectTextTest, LowBytesUseTheDocumentedDefaultCharacters) {
  EXPECT_EQ(Plain("\x01\x02\x0C\x1F\x20"), "åÅçùß");
  // The Cyrillic table, when chosen, is indexed by the byte itself.
  EXPECT_EQ(Load(WPDoc{"\x01\x07\x1F\x20"}.Bytes(), tfPlainText, wctCyrillic).text, "ЕАЯ");
}

TEST(WordPerfectTextTest, ExtendedCharactersMapThroughTheCharacterSets) {
  EXPECT_EQ(Plain(Ext(29, 4) + "A" + Ext(28, 4)), "‘A’");
  EXPECT_EQ(Plain(Ext(35, 1) + Ext(1, 8) + Ext(0, 9) + Ext(0, 10) + Ext(65, 0)), "åαאАA");
  // Unknown pairs are marked, not dropped; combining marks follow the letter.
  EXPECT_EQ(Plain(Ext(5, 12) + Ext(0, 15) + Ext(250, 1)), "\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(TWordPerfectFile::WPCharacterToUnicode(212, 1), u"D\u0304");
  EXPECT_EQ(TWordPerfectFile::WPCharacterToUnicode(100, 4), u"\U0001D11E");
}

TEST(WordPerfectTextTest, ExtendedCharacterWithoutClosingCodeStopsTheLoad) {
  Loaded r = Load(WPDoc{"ab\xF0\x1C\x04X"}.Bytes());
  EXPECT_EQ(r.error, "Incorrect character instead WP_TOP_EXTENDED_CHARACTER");
  EXPECT_EQ(r.text, "");
}

TEST(WordPerfectFormatTest, AttributesPerFormat) {
  const std::string bold = "a" + Attr(true, 12) + "b" + Attr(false, 12);
  EXPECT_EQ(Body(bold, tfRTF), "a\\b b\\b0 ");
  EXPECT_EQ(Body(bold, tfHTML), "a<b>b</b>");
  EXPECT_EQ(Body(bold, tfPlainText), "ab");
  const std::string mixed = Attr(true, 8) + Attr(true, 13) + Attr(true, 14) + Attr(true, 5) + Attr(true, 6) +
                            Attr(true, 0x8C) + Attr(true, 3);
  EXPECT_EQ(Body(mixed, tfHTML), "<i><s><u><sup><sub>");
  EXPECT_EQ(Body(mixed, tfRTF), "\\i \\strike \\ul ");
}

TEST(WordPerfectFormatTest, TextIsEscapedButMarkupIsNot) {
  EXPECT_EQ(Body("a<b&{c}\\" + Ext(35, 1), tfHTML), "a&lt;b&amp;{c}\\å");
  EXPECT_EQ(Body("{x}\\" + Ext(35, 1), tfRTF), "\\{x\\}\\\\\\u229?");
}

TEST(WordPerfectFormatTest, UndoHidesDeletedTextButKeepsHardReturns) {
  const std::string doc = "keep" + Undo(0) + "gone\x80" + Attr(true, 12) + Ext(35, 1) + "\x01\xCC" + Undo(1) + "!";
  EXPECT_EQ(Plain(doc), "keep\r\n!");
  EXPECT_EQ(Body(doc, tfHTML), "keep<p></p>\r\n!");
  // "Valid text" undo groups (types 2, 3) change nothing.
  EXPECT_EQ(Plain("a" + Undo(2) + "b" + Undo(3) + "c"), "abc");
}

TEST(WordPerfectFormatTest, JustificationCarriesTheHtmlAlignment) {
  const std::string doc = Justify(2) + "x" + Justify(3) + "y" + Justify(0);
  EXPECT_EQ(Body(doc, tfHTML), "<center><br>\r\nx</center><right><br>\r\ny</right><left><br>\r\n");
  EXPECT_EQ(Body(doc, tfRTF), "\\pard\\qc \r\nx\\pard\\qr \r\ny\\pard\\ql \r\n");
  EXPECT_EQ(Body(doc, tfPlainText), "\r\nx\r\ny\r\n");
  // Inside deleted text the justification byte is not interpreted.
  EXPECT_EQ(Body(Undo(0) + Justify(2) + Undo(1), tfHTML), "<br>\r\n");
}

TEST(WordPerfectFormatTest, FontChangesOpenAndCloseFontTags) {
  const std::string doc = FontChange(3, 600) + "a" + FontChange(4, 900) + "b";
  EXPECT_EQ(Body(doc, tfRTF), "\\pard\\f3\\fs24 a\\pard\\f4\\fs36 b");
  // 12 points is the HTML default size: no size attribute.
  EXPECT_EQ(Body(doc, tfHTML), "<font>a</font><font size=\"5\">b");
  EXPECT_EQ(Body(doc, tfPlainText), "ab");
}

TEST(WordPerfectFormatTest, EndOfLineGroupsTabsAndMargins) {
  const std::string doc = "a" + Group(0xD0, 1) + "b" + Group(0xD0, 4) + "c" + Group(0xD0, 9) + "d" +
                          Group(0xD0, 0x0A) + "e" + Group(0xD0, 0x0B) + "f" + Group(0xD0, 7) + "g";
  EXPECT_EQ(Body(doc, tfPlainText), "a\r\nb\r\nc\r\nd\te\r\nf g");
  EXPECT_EQ(Body(doc, tfRTF), "a\r\n\\line b\r\n\\par c\r\n\\page d\\tab e\r\n\\par f g");
  EXPECT_EQ(Body(doc, tfHTML), "a<br>\r\nb<p></p>\r\nc<br>\r\nd\te<p></p>\r\nf g");

  const std::string tabs = Group(0xE0, 0) + "x" + Group(0xE0, 8 * 8) + "y" + Group(0xE0, 16 * 8);
  EXPECT_EQ(Body(tabs, tfPlainText), "\tx\ty\t");
  EXPECT_EQ(Body(tabs, tfRTF), "\\pard\\tab x\\pard\\qc y\\pard\\qr ");
  EXPECT_EQ(Body(tabs + Justify(0), tfHTML), "\txy</right><left><br>\r\n");

  const std::string margins = Group(0xD2, 0, U16(2) + U16(2400)) + Group(0xD2, 1, U16(2) + U16(1300));
  EXPECT_EQ(Body(margins, tfRTF), "\\pard\\fi2 \\pard\\ri1 ");
  EXPECT_EQ(Body(Group(0xDD, 10) + "s", tfPlainText), "\r\ns");
}

TEST(WordPerfectFormatTest, UnknownGroupsAreSkippedWhole) {
  // Their contents are never taken for text.
  EXPECT_EQ(Plain("a" + Group(0xDE, 1, "HIDDEN") + Group(0xE5, 0, "ALSO") + "\xF7XY\xF7" + "b"), "ab");
}

TEST(WordPerfectBadInputTest, GroupsRunningPastTheEndEndTheText) {
  std::string g = Group(0xD4, 0x1A, "contents");
  Loaded r = Load(WPDoc{"ab" + g.substr(0, g.size() - 2)}.Bytes());
  EXPECT_EQ(r.text, "ab");
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.warnings.size(), 1u);

  // A size that would not move past the header must not loop.
  std::string zero = Group(0xD1, 0);
  Put16(zero, 2, 0);
  EXPECT_EQ(Plain("a" + zero + "b"), "a");
  EXPECT_EQ(Plain("a\xF0\x01"), "a");
  EXPECT_EQ(Plain("a\xF1"), "a");
}

TEST(WordPerfectBadInputTest, DocumentEndBeyondTheStreamIsClamped) {
  WPDoc doc{"truncated\x80text"};
  doc.documentEndDelta = 5000;
  EXPECT_EQ(Load(doc.Bytes()).text, "truncated text");
  doc.documentEndDelta = -4;
  EXPECT_EQ(Load(doc.Bytes()).text, "truncated ");
}

TEST(WordPerfectBadInputTest, BoxGroupWithoutPrefixIdsStopsTheLoad) {
  EXPECT_EQ(Load(WPDoc{"x" + Group(0xDF, 0, std::string(1, '\0'), 0x80)}.Bytes()).error,
            "Incorrect value for numPIDs");
  EXPECT_EQ(Plain("x" + Group(0xDF, 0, "\x01\x05\x00", 0x80) + "y"), "xy");
}

std::string FontPacket(const std::u16string& name) {
  std::string p(24, '\0');
  Put16(p, 0, 0x28);
  p[10] = 7;  // PrimaryFamilyId
  Put16(p, 22, static_cast<uint32_t>(name.size() * 2 + 2));
  for (char16_t c : name) p += U16(c);
  p += U16(0);
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
}

TEST(WordPerfectPacketTest, BrokenIndexOrPacketPointers) {
  WPDoc outside{"text"};
  outside.packets.push_back({0x55, FontPacket(u"X"), 0x7FFFFFF0});
  Loaded r = Load(outside.Bytes());
  EXPECT_EQ(r.text, "text");
  EXPECT_EQ(r.warnings.size(), 1u);

  // An index claiming more entries than the file holds fails to read.
  std::string claims = WPDoc{"text"}.Bytes();
  Put16(claims, 24 + 2, 0xFFFF);
  EXPECT_EQ(Load(claims).error, "Stream read error");
}

TEST(WordPerfectStorageTest, ReadsThePerfectOfficeMainStream) {
  testing::TCfbBuilder b;
  b.AddStream("PerfectOffice_OBJECTS/x", "obj");
  b.AddStream("PerfectOffice_MAIN", WPDoc{"inside\x80ole"}.Bytes());
  EXPECT_EQ(Load(b.Build()).text, "inside ole");

  testing::TCfbBuilder other;
  other.AddStream("Something", WPDoc{"no"}.Bytes());
  Loaded none = Load(other.Build());
  EXPECT_EQ(none.text, "");
  EXPECT_EQ(none.error, "");
}

std::string ReadTestFile(const std::string& name) {
  std::ifstream in(std::string(LKWORD_TESTDATA) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WordPerfectFilesTest, SamplesGiveTheirText) {
  const std::string expected = ReadTestFile("wpd/sample.txt");
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

TEST(WordPerfectStorageTest, OffsetsCountFromTheHeader) {
  // A document behind a 12-byte "BDOC" block, as LoadFromOLEStream sees it.
  std::string bytes = "BDOC" + std::string(8, '\0') + WPDoc{"after\x80" "prefix"}.Bytes();
  TWordPerfectFile wp;
  TBytesStream s(bytes);
  wp.LoadFromOLEStream(s);
  EXPECT_EQ(wp.Text().Items().at(0), u"after prefix");
}

}  // namespace
}  // namespace lkw
