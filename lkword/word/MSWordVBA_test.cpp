#include "lkword/word/MSWordVBA.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"
#include "testing/LoadDocument.h"
#include "testing/VBABuilder.h"
#include "testing/WordBuilder.h"

namespace lkw {
namespace {

using namespace std::string_literals;
using testing::TVBATestModule;
using testing::VBAAdd16;
using testing::VBAChunk;
using testing::VBACompress;

// Bytes that never repeat three in a row, so that a copy from the wrong
// place shows.
std::string Distinct(size_t N) {
  std::string s;
  for (size_t i = 0; i < N; ++i) s += static_cast<char>('A' + (i * 7 + i / 26) % 26 + (i / 676) % 2 * 32);
  return s;
}

std::string Decompress(const std::string& Container, bool* Malformed = nullptr) {
  return DecompressVBAContainer(Container, kVBAMaxDecompressedSize, Malformed);
}

// ---------------------------------------------------------------------------
// Decompression

TEST(VBADecompressTest, RoundTripsThroughChunksOfEverySize) {
  std::mt19937 rng(7);
  std::string noise;  // full chunks of it are stored raw
  for (int i = 0; i < 9000; ++i) noise += static_cast<char>(rng() & 0xFF);
  std::string source;
  while (source.size() < 11000) source += "Sub Macro" + std::to_string(source.size()) + "()\r\n    x = 1\r\nEnd Sub\r\n";
  for (const std::string& t : {""s, "abcabcabcabcabcabc"s, Distinct(4097), source, noise}) {
    bool malformed = true;
    EXPECT_EQ(Decompress(VBACompress(t), &malformed), t) << "size " << t.size();
    EXPECT_FALSE(malformed);
  }
}

TEST(VBADecompressTest, ModuleOfExactlyOneChunkComesOutWhole) {
  const std::string text = "Attribute VB_Name = \"M\"\r\n" + Distinct(4096 - 25);
  ASSERT_EQ(text.size(), 4096u);
  const std::string container = VBACompress(text, false);
  // One compressed chunk, which the container ends with.
  ASSERT_EQ(((static_cast<uint8_t>(container[2]) & 0x0F) << 8 | static_cast<uint8_t>(container[1])) + 3u,
            container.size() - 1);
  EXPECT_EQ(Decompress(container), text);
  EXPECT_EQ(Decompress(VBACompress(text + "!", false)), text + "!");
}

// A chunk of distinct literals and then one copy token.
std::string LiteralsThenToken(const std::string& Literals, uint16_t Token) {
  std::string tokens;
  for (size_t i = 0; i < Literals.size(); i += 8) tokens += '\0' + Literals.substr(i, 8);
  if (Literals.size() % 8 == 0)
    tokens += '\x01';
  else  // the token takes the next bit of the last flag byte
    tokens[tokens.size() - Literals.size() % 8 - 1] = static_cast<char>(1u << (Literals.size() % 8));
  VBAAdd16(tokens, Token);
  return "\x01" + VBAChunk(tokens);
}

TEST(VBADecompressTest, CopyTokenSplitsLengthAndOffsetByChunkPosition) {
  // Each token copies 3 bytes from the chunk start; read with one length
  // bit more or less it names another offset, or one before the chunk.
  const std::pair<size_t, uint16_t> cases[] = {
      {16, 0xF000},    // 12 length bits
      {17, 0x8000},    // 11
      {2048, 0xFFE0},  // 5
      {2049, 0x8000},  // 4
  };
  for (const auto& [p, token] : cases) {
    const std::string lits = Distinct(p);
    bool malformed = true;
    EXPECT_EQ(Decompress(LiteralsThenToken(lits, token), &malformed), lits + lits.substr(0, 3)) << "p=" << p;
    EXPECT_FALSE(malformed) << "p=" << p;
  }
}

TEST(VBADecompressTest, MalformedInputEndsTheOutputThere) {
  bool malformed = false;
  auto expectCut = [&](const std::string& Container, const std::string& Text) {
    EXPECT_EQ(Decompress(Container, &malformed), Text);
    EXPECT_TRUE(malformed);
  };
  // A copy reaching before the chunk start, or into the previous chunk.
  expectCut(LiteralsThenToken("abc", 0x3000), "abc");
  expectCut(VBACompress(Distinct(4096), false) + LiteralsThenToken("", 0x0000).substr(1), Distinct(4096));
  // A copy running past 4096 bytes of its chunk: 'a', 4093 copied, 3 more.
  expectCut("\x01" + VBAChunk("\x06" "a" "\xFA\x0F" "\x00\x00"s), std::string(4094, 'a'));
  // A chunk header with the wrong signature bits, before zero padding.
  std::string bad = VBACompress("hello hello hello");
  bad[2] = static_cast<char>((bad[2] & 0x8F) | 0x20);
  expectCut(bad, "");
  // A copy token cut in half; a lone byte after the last chunk; no container.
  const std::string cut = LiteralsThenToken("abcd", 0x0000);
  expectCut(cut.substr(0, cut.size() - 1), "abcd");
  expectCut(VBACompress("abc") + "\xB0", "abc");
  expectCut("\x02\x00\xB0"s, "");

  // Zeros after the last chunk are padding; a raw chunk may end early.
  EXPECT_EQ(Decompress(VBACompress("abc") + std::string(5000, '\0'), &malformed), "abc");
  EXPECT_FALSE(malformed);
  EXPECT_EQ(Decompress("\x01\xFF\x3F" + Distinct(100)), Distinct(100));
  // The size limit holds inside a copy.
  EXPECT_EQ(DecompressVBAContainer(VBACompress(std::string(9000, 'z')), 5000), std::string(5000, 'z'));
}

// ---------------------------------------------------------------------------
// Finding a module's container

TEST(VBAModuleSourceTest, WrongOffsetIsRepairedBySearchingForTheModuleHeader) {
  const std::string source = "Attribute VB_Name = \"Module1\"\r\nSub A()\r\nEnd Sub\r\n";
  // Performance data before the source, with a container-like decoy.
  const std::string prefix = "\x01\x05\xB0pcode\x01\x00"s + VBACompress("Attribute VB_Nope");
  const std::string stream = prefix + VBACompress(source);
  bool malformed = true;
  EXPECT_EQ(ReadVBAModuleSource(stream, static_cast<uint32_t>(prefix.size()), &malformed), source);
  EXPECT_FALSE(malformed);
  EXPECT_EQ(ReadVBAModuleSource(stream, 3, &malformed), source);
  EXPECT_EQ(ReadVBAModuleSource(stream, 0xFFFFFFF0u, &malformed), source);
  EXPECT_EQ(FindVBASourceContainer(stream), prefix.size());
  EXPECT_EQ(ReadVBAModuleSource(prefix, 1, &malformed), "");
  EXPECT_TRUE(malformed);
}

// ---------------------------------------------------------------------------
// "_VBA_PROJECT"

TEST(VBAProjectStreamTest, ReferenceRecordsAndModuleTable) {
  const std::vector<std::string> refs = {"*\\G{000204EF}#4.0#9#stdole", "*\\C{A}#1#ctl", "*\\C{B}#1#ctl",
                                         "*\\D{C}#2#x", "*\\D{D}#2#x", "plain record"};
  const std::string s = testing::VBAProjectStream(refs, {{"ThisDocument", 0x1234}, {"Module1", 77}});
  TVBAProjectItems items;
  ParseVBAProjectStream(s, items);
  ASSERT_EQ(items.Count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(WideToUtf8(items.Items(i).Entry), refs[static_cast<size_t>(i)]);
  // Modules fill the reference items by position; the rest keep no name.
  EXPECT_EQ(items.Items(0).ModuleName, u"ThisDocument");
  EXPECT_EQ(items.Items(0).ModuleID, u"ThisDocument");
  EXPECT_EQ(items.Items(0).Offset, 0x1234u);
  EXPECT_EQ(items.Items(1).ModuleName, u"Module1");
  EXPECT_EQ(items.Items(1).Offset, 77u);
  EXPECT_EQ(items.Items(2).ModuleName, u"");

  // More modules than references: new items follow.
  TVBAProjectItems more;
  ParseVBAProjectStream(testing::VBAProjectStream({}, {{"A", 1}, {"B", 2}}), more);
  ASSERT_EQ(more.Count(), 2);
  EXPECT_EQ(more.Items(1).ModuleName, u"B");
  EXPECT_EQ(more.Items(1).Entry, u"");
}

TEST(VBAProjectStreamTest, TruncationKeepsWhatWasRead) {
  const std::string s = testing::VBAProjectStream({"*\\G{X}#stdole", "*\\C{A}"}, {{"Module1", 5}, {"Module2", 9}});
  for (size_t n = 0; n <= s.size(); ++n) {
    TVBAProjectItems items;
    ParseVBAProjectStream(std::string_view(s).substr(0, n), items);
    ASSERT_LE(items.Count(), 2) << n;
    if (n == s.size()) {
      EXPECT_EQ(items.Items(1).ModuleName, u"Module2");
      EXPECT_EQ(items.Items(1).Offset, 9u);
    } else if (items.Count() == 2 && n < s.size() - 2) {
      // Module2's offset is the last field read: never there before the end.
      EXPECT_EQ(items.Items(1).Offset, 0u) << n;
    }
  }
}

// ---------------------------------------------------------------------------
// "dir"

TEST(VBADirStreamTest, ModuleRecordsAndCodePage) {
  testing::TVBADirTestModule cyr{"\xCC\xEE\xE4\xF3\xEB\xFC", "\xCC\xEE\xE4\xF3\xEB\xFC", "", 0x20};
  testing::TVBADirTestModule uni{"Mod2", "Mod2", testing::VBAUtf16("Mod2Stream"), 0x400};
  const TVBADirInfo info = ParseVBADirStream(testing::VBADirRecords(1251, {cyr, uni}));
  EXPECT_EQ(info.CodePage, 1251u);
  ASSERT_EQ(info.Modules.size(), 2u);
  EXPECT_EQ(info.Modules[0].Name, u"\u041C\u043E\u0434\u0443\u043B\u044C");
  EXPECT_EQ(info.Modules[0].StreamName, info.Modules[0].Name);
  EXPECT_EQ(info.Modules[0].Offset, 0x20u);
  EXPECT_EQ(info.Modules[1].StreamName, u"Mod2Stream");
  EXPECT_EQ(info.Modules[1].Offset, 0x400u);
}

// ---------------------------------------------------------------------------
// Word documents with macros

using testing::TWordDocBuilder;

std::string DocWith(const std::vector<std::pair<std::string, std::string>>& Streams) {
  TWordDocBuilder b;
  b.Pieces = {{u"Body\r", false}};
  return b.Compound(Streams);
}

void Load(TMSWordDocument& Doc, const std::string& Bytes, bool WithMacros = true) {
  if (WithMacros) Doc.SetParseItems(Doc.ParseItems().Include(wpiVBA));
  testing::LoadLines(Doc, Bytes);
}

const std::string kSource1 = "Attribute VB_Name = \"Module1\"\r\nSub Hello()\r\n    MsgBox \"Hi\"\r\nEnd Sub\r\n";
const std::string kSource2 = "Attribute VB_Name = \"ThisDocument\"\r\nAttribute VB_Base = \"1Normal\"\r\n";

std::vector<std::string> Lines(const TWideStrings& L) {
  std::vector<std::string> v;
  for (const WideString& w : L.Items()) v.push_back(WideToUtf8(w));
  return v;
}

TEST(WordMacrosTest, ListsEveryModuleUnderItsBanner) {
  const auto streams = testing::VBAMacroStreams(
      {{"ThisDocument", kSource2, "perf"}, {"Module1", kSource1, std::string(700, '\0')}}, {"*\\G{X}#stdole"});
  TMSWordDocument doc;
  Load(doc, DocWith(streams));
  const std::string rule = "'===================================";
  EXPECT_EQ(Lines(doc.MacroText()),
            (std::vector<std::string>{rule, "'  Macro(s) from ThisDocument", rule, kSource2 + "\r\n", rule,
                                      "'  Macro(s) from Module1", rule, kSource1 + "\r\n"}));
  EXPECT_EQ(WideToUtf8(doc.VBAProject()), streams[2].second);
  EXPECT_EQ(WideToUtf8(doc.Text().Get(1)), "Body\r\n");

  // Without the macros among the parse items, nothing of them is read.
  TMSWordDocument plain;
  Load(plain, DocWith(streams), false);
  EXPECT_EQ(plain.MacroText().Count(), 0);
  EXPECT_EQ(plain.VBAProjectItems.Count(), 0);
}

TEST(WordMacrosTest, FallsBackToDirWhenTheProjectTableNamesNoStream) {
  auto streams = testing::VBAMacroStreams({{"Module1", kSource1, "xyz"}});
  // A table written by a later version: a header only.
  for (auto& [name, data] : streams)
    if (name == "Macros/VBA/_VBA_PROJECT") data = "\xCC\x61\xFF\xFF\x00\x00\x00"s;
  TMSWordDocument doc;
  Load(doc, DocWith(streams));
  ASSERT_EQ(doc.MacroText().Count(), 4);
  EXPECT_EQ(WideToUtf8(doc.MacroText()[1]), "'  Macro(s) from Module1");
  EXPECT_EQ(WideToUtf8(doc.MacroText()[3]), kSource1 + "\r\n");
}

TEST(WordMacrosTest, StreamNameMatchesIgnoringCaseAndSourceUsesTheProjectCodePage) {
  auto streams = testing::VBAMacroStreams({{"Module1", "Attribute VB_Name = \"Module1\"\r\n' \xCF\xF0\xE8\r\n", ""}},
                                          {}, 1251);
  for (auto& [name, data] : streams)
    if (name == "Macros/VBA/Module1") name = "Macros/VBA/MODULE1";
  TMSWordDocument doc;
  Load(doc, DocWith(streams));
  ASSERT_EQ(doc.MacroText().Count(), 4);
  EXPECT_EQ(doc.VBACodePage(), 1251u);
  EXPECT_EQ(doc.MacroText()[3], u"Attribute VB_Name = \"Module1\"\r\n' \u041F\u0440\u0438\r\n\r\n");
}

TEST(WordMacrosTest, SecondLoadListsOnlyItsOwnModules) {
  TMSWordDocument doc;
  Load(doc, DocWith(testing::VBAMacroStreams({{"Module1", kSource1, ""}})));
  Load(doc, DocWith(testing::VBAMacroStreams({{"ThisDocument", kSource2, ""}})));
  ASSERT_EQ(doc.MacroText().Count(), 4);
  EXPECT_EQ(WideToUtf8(doc.MacroText()[1]), "'  Macro(s) from ThisDocument");
  EXPECT_EQ(doc.VBAProjectItems.Count(), 1);
  // Nor does a document without macros keep the previous one's.
  Load(doc, DocWith({}));
  EXPECT_EQ(doc.MacroText().Count(), 0);
  EXPECT_EQ(doc.VBAProjectItems.Count(), 0);
  EXPECT_TRUE(doc.VBAProject().empty());
}

TEST(WordMacrosTest, DamagedStreamsGiveAPartialListing) {
  const auto good = testing::VBAMacroStreams({{"Module1", kSource1, "ab"}, {"Module2", kSource2, ""}},
                                             {"*\\C{A}", "*\\C{B}"});
  std::mt19937 rng(11);
  for (const std::string target : {"Macros/VBA/_VBA_PROJECT", "Macros/VBA/dir", "Macros/VBA/Module1"}) {
    size_t size = 0;
    for (const auto& [name, data] : good)
      if (name == target) size = data.size();
    for (size_t n = 0; n <= size; n += 1 + n / 16) {
      for (bool flip : {false, true}) {
        auto streams = good;
        for (auto& [name, data] : streams) {
          if (name != target) continue;
          data.resize(n);
          if (flip && n) data[rng() % n] = static_cast<char>(rng());
        }
        TMSWordDocument doc;
        ASSERT_NO_THROW(Load(doc, DocWith(streams))) << target << " " << n;
        EXPECT_EQ(doc.MacroText().Count() % 4, 0);
        EXPECT_LE(doc.MacroText().Count(), 8);
        // Module2 is untouched: it is listed whenever a table still names it.
        if (target == std::string("Macros/VBA/Module1") && !flip) {
          EXPECT_EQ(WideToUtf8(doc.MacroText()[doc.MacroText().Count() - 1]), kSource2 + "\r\n") << n;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lkw
