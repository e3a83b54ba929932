#include "lkword/readers/MSWRI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "testing/EventRecorder.h"
#include "testing/LegacyDocs.h"
#include "testing/LoadDocument.h"

namespace lkw {
namespace {

using testing::PutLE16;
using testing::PutLE32;
using testing::TLoaded;

// One run of a property page: it ends before Lim (an fc); Props are the
// property bytes after the length byte (none: default properties).
struct Run {
  uint32_t Lim;
  std::string Props;
};

// A Write file: header page, text from offset 128, character pages,
// paragraph pages, font table.
struct WriDoc {
  std::string text;
  std::vector<Run> chars;  // empty: one default run over the whole text
  std::vector<Run> paras;  // empty: one default paragraph over the whole text
  std::vector<std::string> fonts;
  int perPage = 3;          // entries per property page
  bool wordFile = false;    // pnMac 0, as Word for DOS writes it
  uint16_t oemCodePage = 0;

  static void AppendPages(std::string& out, const std::vector<Run>& runs, int perPage) {
    uint32_t fc = 128;
    for (size_t first = 0; first < runs.size(); first += static_cast<size_t>(perPage)) {
      std::string page(128, '\0');
      PutLE32(page, 0, fc);
      const size_t n = std::min(runs.size() - first, static_cast<size_t>(perPage));
      int blockAt = 4 + 6 * static_cast<int>(n);
      std::vector<std::pair<std::string, int>> blocks;  // equal runs share a block
      for (size_t i = 0; i < n; ++i) {
        const Run& r = runs[first + i];
        PutLE32(page, 4 + 6 * i, r.Lim);
        if (r.Props.empty()) {
          PutLE16(page, 8 + 6 * i, 0xFFFF);
        } else {
          int at = -1;
          for (const auto& b : blocks)
            if (b.first == r.Props) at = b.second;
          if (at < 0) {
            at = blockAt;
            blocks.emplace_back(r.Props, at);
            page[static_cast<size_t>(at)] = static_cast<char>(r.Props.size());
            page.replace(static_cast<size_t>(at) + 1, r.Props.size(), r.Props);
            blockAt += 1 + static_cast<int>(r.Props.size());
          }
          PutLE16(page, 8 + 6 * i, static_cast<uint32_t>(at - 4));
        }
        fc = r.Lim;
      }
      page[127] = static_cast<char>(n);
      out += page;
    }
  }

  std::string Bytes() const {
    std::string out(128, '\0');
    PutLE16(out, 0, 0xBE31);
    PutLE16(out, 4, 0xAB00);
    const uint32_t fcMac = static_cast<uint32_t>(128 + text.size());
    PutLE32(out, 14, fcMac);
    out += text;
    out.resize((out.size() + 127) / 128 * 128, '\0');
    const std::vector<Run> c = chars.empty() ? std::vector<Run>{{fcMac, ""}} : chars;
    const std::vector<Run> p = paras.empty() ? std::vector<Run>{{fcMac, ""}} : paras;
    AppendPages(out, c, perPage);
    PutLE16(out, 18, static_cast<uint32_t>(out.size() / 128));  // pnPara
    AppendPages(out, p, perPage);
    const uint32_t pnFfntb = static_cast<uint32_t>(out.size() / 128);
    for (int k = 20; k <= 28; k += 2) PutLE16(out, static_cast<size_t>(k), pnFfntb);
    if (!fonts.empty()) {
      std::string table(2, '\0');
      PutLE16(table, 0, static_cast<uint32_t>(fonts.size()));
      for (const auto& f : fonts) {
        std::string e(2, '\0');
        PutLE16(e, 0, static_cast<uint32_t>(f.size() + 2));
        e += '\x01';
        e += f;
        e += '\0';
        table += e;
      }
      table += std::string(2, '\0');
      table.resize((table.size() + 127) / 128 * 128, '\0');
      out += table;
    }
    if (wordFile) {
      PutLE16(out, 106, static_cast<uint32_t>(out.size() / 128));
      PutLE16(out, 126, oemCodePage);
    } else {
      PutLE16(out, 96, static_cast<uint32_t>(out.size() / 128));
    }
    return out;
  }
};

// Character property bytes 1.. : bold/italic/font, half-points, underline,
// font high bits, position.
std::string Chp(uint8_t b2, uint8_t hps = 24, uint8_t ul = 0, uint8_t b5 = 0, int8_t pos = 0) {
  return std::string(1, '\0') + char(b2) + char(hps) + char(ul) + char(b5) + char(pos);
}
// Paragraph property bytes 1..17 with flags byte 17.
std::string Pap(uint8_t flags) { return std::string(16, '\0') + char(flags); }

TLoaded Load(const std::string& bytes, TMSTextFormating fmt = tfPlainText) {
  TWRIFile doc;
  doc.SetTextFormating(fmt);
  return testing::LoadBytes(doc, bytes);
}

// What the document contributed between the RTF/HTML header and footer.
std::string Body(const WriDoc& doc, TMSTextFormating fmt) {
  return testing::WithoutFrame(Load(doc.Bytes(), fmt).Text, fmt);
}

TEST(WriteTextTest, ParagraphsConcatenateToTheDocumentText) {
  WriDoc doc;
  doc.text = "Ab\r\nC\r\n";
  doc.paras = {{132, Pap(0)}, {135, Pap(0)}};
  EXPECT_EQ(Load(doc.Bytes()).Text, "Ab\r\nC\r\n");
  EXPECT_EQ(Body(doc, tfRTF), "\\par \\pard\\f0\\fs24 \\fs24 Ab\r\n\r\n\\par \\pard\\f0\\fs24 \\fs24 C\r\n\r\n");
  EXPECT_EQ(Body(doc, tfHTML), "<p><font>Ab\r\n</font></p><p><font>C\r\n</font></p>");
}

TEST(WriteTextTest, FormFeedBecomesLineFeedAndTextIsEscaped) {
  WriDoc doc;
  doc.text = "a\fb<&>\xE9\vc\r\n";
  EXPECT_EQ(Load(doc.Bytes()).Text, "a\nb<&>é\nc\r\n");
  EXPECT_EQ(Body(doc, tfHTML), "<p><font>a\nb&lt;&amp;&gt;é\nc\r\n</font></p>");
}

TEST(WriteFormatTest, CharacterAttributes) {
  WriDoc doc;
  doc.text = "xBUy\r\n";
  doc.chars = {{129, ""}, {131, Chp(0x01, 24, 0x01)}, {134, ""}};
  EXPECT_EQ(Body(doc, tfRTF),
            "\\par \\pard\\f0\\fs24 \\fs24 x\\pard\\f0\\fs24 \\fs24 \\b \\ul BU\\b0 \\ul0 \\pard\\f0\\fs24 \\fs24 y\r\n\r\n");
  EXPECT_EQ(Body(doc, tfHTML), "<p><font>x</font><font><b><u>BU</b></u></font><font>y\r\n</font></p>");

  WriDoc pos;
  pos.text = "E=mc2\r\n";
  pos.chars = {{132, Chp(0x02, 16)}, {133, Chp(0, 16, 0, 0, 6)}, {134, Chp(0, 28, 0, 0, -6)}, {135, ""}};
  EXPECT_EQ(Body(pos, tfHTML),
            "<p><font size=\"2\"><i>E=mc</i></font><font size=\"2\"><sup>2</sup></font>"
            "<font size=\"4\"><sub>\r</sub></font><font>\n</font></p>");
  EXPECT_EQ(Body(pos, tfRTF).find("sup"), std::string::npos);
}

// Each paragraph, and each run it reaches, even one that holds none of its
// text (the bold run ends where the third paragraph begins); header
// paragraphs keep only their frame.
TEST(WriteEventsTest, ParagraphsAndRunsAsEvents) {
  WriDoc doc;
  doc.text = "Hd\r\nAb\r\nC\r\n";
  doc.paras = {{132, Pap(0x06)}, {136, ""}, {139, ""}};
  doc.chars = {{133, ""}, {136, Chp(0x01)}, {139, Chp(0x02)}};
  TWRIFile wri;
  testing::TEventRecorder rec;
  wri.AddDocumentEvents(&rec);
  int conversions = 0;
  wri.SetOnConvertSysChar([&](TObject*, TLKWordSysChar, const WideString&, WideString&) { ++conversions; });
  TBytesStream s(doc.Bytes());
  wri.LoadFromStream(s);
  EXPECT_EQ(rec.Joined(),
            "<doc>|<p>|</p>|<p>|text 'A'|text 'b\r\n' b|</p>|<p>|text '' b|text 'C\r\n' i|</p>|</doc>");
  EXPECT_EQ(conversions, 0);
  EXPECT_EQ(wri.Text().Count(), 1);
}

TEST(WriteFormatTest, FontsFromTheFaceNameTable) {
  WriDoc doc;
  doc.text = "ab\r\n";
  doc.fonts = {"Arial", "Courier New"};
  // Font 1, then font 65 (byte 5 adds bit 6), beyond the table: the last font.
  doc.chars = {{129, Chp(1 << 2)}, {132, Chp(1 << 2, 24, 0, 1)}};
  EXPECT_EQ(Body(doc, tfHTML), "<p><font face=\"Courier New\">a</font><font face=\"Courier New\">b\r\n</font></p>");
  EXPECT_EQ(Body(doc, tfRTF), "\\par \\pard\\f1\\fs24 \\fs24 a\\pard\\f1\\fs24 \\fs24 b\r\n\r\n");
}

TEST(WriteFormatTest, HeaderFooterAndPictureParagraphsKeepOnlyTheirFrame) {
  WriDoc doc;
  doc.text = "Head\r\nPICT\r\nBody\r\n";
  doc.paras = {{134, Pap(0x06)}, {140, Pap(0x10)}, {146, Pap(0)}};
  EXPECT_EQ(Load(doc.Bytes()).Text, "Body\r\n");
  EXPECT_EQ(Body(doc, tfHTML), "<p></p><p></p><p><font>Body\r\n</font></p>");
  // In files Word wrote, bit 4 marks a bordered paragraph: its text is kept.
  doc.wordFile = true;
  EXPECT_EQ(Load(doc.Bytes()).Text, "PICT\r\nBody\r\n");
}

TEST(WriteFormatTest, WordFilesUseTheirOemCodePage) {
  WriDoc doc;
  doc.text = "\xDA\xC4\xBF\x82\xFF\x9B\r\n";
  doc.wordFile = true;  // no code page named: 437
  EXPECT_EQ(Load(doc.Bytes()).Text, "┌─┐é\u00A0¢\r\n");
  doc.oemCodePage = 850;
  EXPECT_EQ(Load(doc.Bytes()).Text, "┌─┐é\u00A0ø\r\n");
  doc.wordFile = false;  // a Write file: the ANSI code page
  EXPECT_EQ(Load(doc.Bytes()).Text, "ÚÄ¿‚ÿ›\r\n");
}

// Runs that cross paragraph boundaries are rendered once per paragraph they
// touch; the property pages are walked in step with the paragraphs.
TEST(WriteFormatTest, RunsAcrossParagraphsAndPages) {
  WriDoc doc;
  doc.text = "one\r\ntwo\r\nsix\r\n";
  doc.chars = {{130, Chp(0x01)}, {138, ""}, {143, Chp(0x02)}};
  doc.paras = {{133, ""}, {138, ""}, {143, ""}};
  doc.perPage = 1;
  EXPECT_EQ(Load(doc.Bytes()).Text, "one\r\ntwo\r\nsix\r\n");
  EXPECT_EQ(Body(doc, tfHTML),
            "<p><font><b>on</b></font><font>e\r\n</font></p>"
            "<p><font>two\r\n</font></p>"
            "<p><font></font><font><i>six\r\n</i></font></p>");
}

// The reader walks the character runs once, in step with the paragraphs. It
// must render exactly what restarting from the first run for every paragraph
// renders; this is that restart, written plainly, for bold/plain runs.
std::string RestartModelHtml(const WriDoc& doc) {
  const uint32_t fcMac = static_cast<uint32_t>(128 + doc.text.size());
  std::string out;
  uint32_t paraStart = 128;
  for (const Run& para : doc.paras) {
    out += "<p>";
    uint32_t fc = paraStart;
    const uint32_t fcLimit = para.Lim - 1;
    uint32_t runStart = 128;
    for (const Run& run : doc.chars) {
      if (!(run.Lim < fc || runStart > fcLimit)) {
        const bool bold = !run.Props.empty();
        out += bold ? "<font><b>" : "<font>";
        if (fc >= runStart)
          for (; fc < run.Lim && fc <= fcLimit; ++fc) out += doc.text[fc - 128];
        out += bold ? "</b></font>" : "</font>";
      }
      if (run.Lim == fcMac || run.Lim > fcLimit) break;
      runStart = run.Lim;
    }
    out += "</p>";
    paraStart = para.Lim;
  }
  return out;
}

TEST(WriteFormatTest, SinglePassMatchesRestartingForEveryParagraph) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 200; ++round) {
    WriDoc doc;
    const uint32_t len = 1 + next(120);
    for (uint32_t i = 0; i < len; ++i) doc.text += static_cast<char>('a' + next(26));
    const uint32_t fcMac = 128 + len;
    // Boundaries may coincide between the two lists, or not.
    for (uint32_t fc = 128 + 1 + next(9); fc < fcMac; fc += 1 + next(9)) doc.paras.push_back({fc, ""});
    doc.paras.push_back({fcMac, ""});
    for (uint32_t fc = 128 + 1 + next(12); fc < fcMac; fc += 1 + next(12))
      doc.chars.push_back({fc, next(2) ? Chp(0x01) : ""});
    doc.chars.push_back({fcMac, ""});
    doc.perPage = 1 + static_cast<int>(next(6));
    ASSERT_EQ(Body(doc, tfHTML), RestartModelHtml(doc)) << "round " << round;
  }
}

TEST(WriteFilesTest, SamplesGiveTheirText) {
  for (const char* name : {"sample", "word-dos"}) {
    const std::string expected = testing::TestDataBytes(std::string("wri/") + name + ".txt");
    ASSERT_FALSE(expected.empty());
    TWRIFile wri;
    wri.LoadFromFile(std::string(LKWORD_TESTDATA) + "/wri/" + name + ".wri");
    ASSERT_EQ(wri.Text().Count(), 1);
    EXPECT_EQ(WideToUtf8(wri.Text()[0]), expected) << name;
  }
  TWRIFile html;
  html.SetTextFormating(tfHTML);
  html.LoadFromFile(std::string(LKWORD_TESTDATA) + "/wri/sample.wri");
  const std::string h = WideToUtf8(html.Text()[0]);
  EXPECT_NE(h.find("<font face=\"Arial\" size=\"5\"><b>Harbour Notes\r\n</b></font></p>"), std::string::npos) << h;
  EXPECT_NE(h.find("<font face=\"Times New Roman\"><u>near the \xC3\x86r\xC3\xB8 quay</u></font>"), std::string::npos);
  EXPECT_EQ(h.find("PICTURE"), std::string::npos);
}

TEST(WriteBadInputTest, DamageByKind) {
  WriDoc doc;
  doc.text = "hello\r\n";
  const std::string bytes = doc.Bytes();
  std::string elsewhere = bytes;
  PutLE32(elsewhere, 256, 129);  // the character page claims to start elsewhere
  WriDoc back;                   // a paragraph that ends before it starts
  back.text = "abcdef\r\n";
  back.paras = {{132, ""}, {130, ""}, {136, ""}};
  WriDoc never;  // paragraphs that never reach the end of the text run into the end of the file
  never.text = "abc\r\n";
  never.paras = {{130, ""}};
  struct Case {
    const char* name;
    std::string bytes, error, kind;
  } cases[] = {
      {"header cut short", bytes.substr(0, 60), "Stream read error", "read"},
      {"text cut short", bytes.substr(0, 130), "Stream read error", "read"},
      {"property page cut short", bytes.substr(0, 256 + 60), "Stream read error", "read"},
      {"paragraphs short of the text", never.Bytes(), "Stream read error", "read"},
      {"page starts elsewhere", elsewhere, "fcFirst wrong", "corrupt"},
      {"paragraph ends before it starts", back.Bytes(), "fcFirst wrong", "corrupt"},
  };
  for (const Case& c : cases) {
    const TLoaded r = Load(c.bytes);
    EXPECT_EQ(r.Error, c.error) << c.name;
    EXPECT_EQ(r.Kind, c.kind) << c.name;
    EXPECT_EQ(r.Text, "") << c.name;
  }
}

TEST(WriteBadInputTest, OversizeClaimsEndWithTheFileOrThePage) {
  // A font table claiming 65535 entries ends with the file; entries marked
  // as continued on the next page move on.
  WriDoc doc;
  doc.text = "hello\r\n";
  doc.fonts = {"Arial"};
  std::string fonts = doc.Bytes();
  const size_t table = static_cast<size_t>(static_cast<unsigned char>(fonts[28])) * 128;
  PutLE16(fonts, table, 0xFFFF);
  PutLE16(fonts, table + 2 + 2 + 7, 0xFFFF);
  const TLoaded r = Load(fonts, tfHTML);
  EXPECT_EQ(r.Error, "");
  EXPECT_NE(r.Text.find("face=\"Arial\""), std::string::npos);

  // Property blocks pointing past the page fall back to defaults.
  WriDoc odd;
  odd.text = "z\r\n";
  std::string b = odd.Bytes();
  PutLE16(b, 256 + 8, 0x7E);
  b[256 + 127] = static_cast<char>(0xFF);  // more entries than fit
  EXPECT_EQ(Load(b).Text, "z\r\n");
}

}  // namespace
}  // namespace lkw
