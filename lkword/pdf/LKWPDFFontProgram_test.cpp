#include "lkword/pdf/LKWPDFFontProgram.h"

#include <gtest/gtest.h>

#include "testing/FontProgramBuilder.h"

namespace lkw {
namespace {

using namespace fonttest;

TEST(PDFFontProgram, TrueTypeCmapsAndPostNames) {
  const std::string font = Sfnt({
      {"maxp", Maxp(4)},
      {"cmap", CmapTable({{{3, 1}, CmapFormat4({{0x41, 1}, {0x10D, 2}})},
                          {{3, 0}, CmapFormat4({{0xF041, 1}, {0xF061, 3}})},
                          {{1, 0}, std::string("\0\0\1\6\0\0", 6) + std::string(0x42, '\0') + "\2" + std::string(256 - 0x43, '\0')}})},
      {"post", Post2({".notdef", "A", "ccaron", "f_f"}, {{".notdef", 0}, {"A", 36}})},
  });
  TPDFFontProgram p;
  ASSERT_TRUE(ParseFontProgram(font, p));
  ASSERT_EQ(p.GlyphUnicode.size(), 4u);
  EXPECT_EQ(p.GlyphUnicode[1], U'A');
  EXPECT_EQ(p.GlyphUnicode[2], U'\u010D');
  EXPECT_EQ(p.GlyphUnicode[3], 0u);
  EXPECT_TRUE(p.HasSymbolCmap);
  EXPECT_EQ(p.SymbolCodeToGlyph[0x61], 3);
  EXPECT_TRUE(p.HasMacCmap);
  EXPECT_EQ(p.MacCodeToGlyph[0x42], 2);
  ASSERT_NE(p.GlyphName(3), nullptr);
  EXPECT_EQ(*p.GlyphName(3), "f_f");
  EXPECT_EQ(*p.GlyphName(1), "A");
  EXPECT_EQ(p.GlyphName(9), nullptr);
}

TEST(PDFFontProgram, CFFCharsetAndEncoding) {
  const std::string font = CFF({{65, "A"}, {66, "fi"}, {67, "Tcedilla.sc"}});
  TPDFFontProgram p;
  ASSERT_TRUE(ParseFontProgram(font, p));
  EXPECT_FALSE(p.CIDKeyed);
  ASSERT_EQ(p.GlyphNames.size(), 4u);
  EXPECT_EQ(p.GlyphNames[2], "fi");
  EXPECT_EQ(p.GlyphNames[3], "Tcedilla.sc");
  ASSERT_TRUE(p.HasEncoding);
  EXPECT_EQ(p.Encoding[65], "A");
  EXPECT_EQ(p.Encoding[67], "Tcedilla.sc");
  EXPECT_EQ(p.Encoding[68], "");
}

TEST(PDFFontProgram, Type1CleartextEncoding) {
  TPDFFontProgram p;
  ASSERT_TRUE(ParseFontProgram("%!PS-AdobeFont-1.0: LMRoman10\n/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\n"
                               "dup 27 /ff put\ndup 233 /eacute put\ndup 300 /bad put\nreadonly def\ncurrentfile eexec\n"
                               "dup 65 /A put",
                               p));
  EXPECT_EQ(p.Encoding[27], "ff");
  EXPECT_EQ(p.Encoding[233], "eacute");
  EXPECT_EQ(p.Encoding[65], "");  // past eexec
  TPDFFontProgram s;
  ASSERT_TRUE(ParseType1Program("/FontName /X def /Encoding StandardEncoding def", s));
  EXPECT_EQ(s.Encoding[0xAE], "fi");
}

TEST(PDFFontProgram, DamagedProgramsGiveWhatCanBeRead) {
  const std::string good = Sfnt({{"maxp", Maxp(3)}, {"cmap", CmapTable({{{3, 1}, CmapFormat4({{0x41, 1}, {0x42, 2}})}})}});
  // Every truncation and a byte flipped at every position: no crash, no
  // over-read (the sanitizer build checks), and the intact prefix keeps
  // what it holds.
  for (size_t n = 0; n < good.size(); ++n) {
    TPDFFontProgram p;
    ParseFontProgram(good.substr(0, n), p);
    std::string bad = good;
    bad[n] = static_cast<char>(bad[n] ^ 0xFF);
    TPDFFontProgram q;
    ParseFontProgram(bad, q);
  }
  const std::string cff = CFF({{65, "A"}, {66, "Bogus"}});
  for (size_t n = 0; n < cff.size(); ++n) {
    TPDFFontProgram p;
    ParseCFFProgram(cff.substr(0, n), p);
    std::string bad = cff;
    bad[n] = static_cast<char>(bad[n] ^ 0x80);
    TPDFFontProgram q;
    ParseCFFProgram(bad, q);
  }
  // A format 12 group claiming every code point is cut off, not spelled out.
  const std::string huge = BE16(12) + BE16(0) + BE32(28) + BE32(0) + BE32(1) + BE32(0) + BE32(0x10FFFF) + BE32(1);
  TPDFFontProgram h;
  ParseFontProgram(Sfnt({{"maxp", Maxp(2)}, {"cmap", CmapTable({{{3, 10}, huge}})}}), h);
  EXPECT_LE(h.UnicodeToGlyph.size(), size_t{1} << 20);
}

}  // namespace
}  // namespace lkw
