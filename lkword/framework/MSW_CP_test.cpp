#include "lkword/framework/MSW_CP.h"

#include <gtest/gtest.h>

#include <string>

#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

struct TTableCase {
  uint32_t CodePage;
  uint8_t (*Fn)(char16_t);
  size_t Entries;
  uint8_t FFFFByte;  // 0: no U+FFFF entry
};

constexpr TTableCase Tables[] = {
    {1250, UnicodeToWin1250, 61, 0x81},  {1251, UnicodeToWin1251, 97, 0x98},
    {1252, UnicodeToWin1252, 12, 0x81},  {1253, UnicodeToWin1253, 80, 0x81},
    {1254, UnicodeToWin1254, 16, 0x81},  {1255, UnicodeToWin1255, 59, 0x81},
    {1256, UnicodeToWin1256, 108, 0x00}, {1257, UnicodeToWin1257, 65, 0x81},
};

class ActiveCodePage {
 public:
  explicit ActiveCodePage(uint32_t cp) : saved_(GetACP()) { SetActiveCodePage(cp); }
  ~ActiveCodePage() { SetActiveCodePage(saved_); }

 private:
  uint32_t saved_;
};

TEST(MSWCPTest, TablesHoldExactlyTheirEntriesAndAgreeWithWindowsMappings) {
  for (const TTableCase& t : Tables) {
    SCOPED_TRACE(t.CodePage);
    size_t count = 0;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
      char16_t ch = static_cast<char16_t>(c);
      uint8_t b = t.Fn(ch);
      if (b == 0) continue;
      ++count;
      EXPECT_GE(c, 0x80u) << "ASCII is never in a table";
      if (c == 0xFFFF) {
        EXPECT_EQ(b, t.FFFFByte);
        // It must land on a byte the page leaves unassigned.
        EXPECT_EQ(MultiByteToWide(t.CodePage, std::string(1, static_cast<char>(b))), std::u16string(1, b));
        continue;
      }
      if (t.CodePage == 1255 && c == 0x0160) continue;
      EXPECT_EQ(WideToMultiByte(t.CodePage, std::u16string(1, ch)), std::string(1, static_cast<char>(b)))
          << "U+" << std::hex << c;
    }
    EXPECT_EQ(count, t.Entries);
    if (t.FFFFByte == 0) {
      EXPECT_EQ(t.Fn(0xFFFF), 0);
    }
  }
}

TEST(MSWCPTest, TellingRows) {
  EXPECT_EQ(UnicodeToWin1250(0x0160), 0x8A);
  EXPECT_EQ(UnicodeToWin1250(0x02C7), 0xA1);
  EXPECT_EQ(UnicodeToWin1250(0x02DD), 0xBD);

  EXPECT_EQ(UnicodeToWin1251(0x0401), 0xA8);
  EXPECT_EQ(UnicodeToWin1251(0x0451), 0xB8);
  for (char16_t c = 0x0410; c <= 0x044F; ++c) EXPECT_EQ(UnicodeToWin1251(c), 0xC0 + (c - 0x0410));
  EXPECT_EQ(UnicodeToWin1251(0x2116), 0xB9);

  const char16_t win1252[] = {0x0152, 0x0153, 0x0160, 0x0161, 0x0178, 0x017D,
                              0x017E, 0x0192, 0x02C6, 0x02DC, 0x2122};
  const uint8_t win1252Bytes[] = {0x8C, 0x9C, 0x8A, 0x9A, 0x9F, 0x8E, 0x9E, 0x83, 0x88, 0x98, 0x99};
  for (size_t i = 0; i < std::size(win1252); ++i) EXPECT_EQ(UnicodeToWin1252(win1252[i]), win1252Bytes[i]);
  // Latin-1 itself, punctuation and the euro sign are not in the tables.
  EXPECT_EQ(UnicodeToWin1252(u'A'), 0);
  EXPECT_EQ(UnicodeToWin1252(0x00E9), 0);
  EXPECT_EQ(UnicodeToWin1252(0x2019), 0);
  EXPECT_EQ(UnicodeToWin1252(0x20AC), 0);

  EXPECT_EQ(UnicodeToWin1253(0x0391), 0xC1);
  EXPECT_EQ(UnicodeToWin1253(0x03CE), 0xFE);
  EXPECT_EQ(UnicodeToWin1253(0x03A2), 0);  // 1253 has no byte for it

  EXPECT_EQ(UnicodeToWin1254(0x011E), 0xD0);
  EXPECT_EQ(UnicodeToWin1254(0x011F), 0xF0);
  EXPECT_EQ(UnicodeToWin1254(0x0130), 0xDD);
  EXPECT_EQ(UnicodeToWin1254(0x0131), 0xFD);
  EXPECT_EQ(UnicodeToWin1254(0x015E), 0xDE);
  EXPECT_EQ(UnicodeToWin1254(0x015F), 0xFE);

  EXPECT_EQ(UnicodeToWin1255(0x00D7), 0xAA);
  EXPECT_EQ(UnicodeToWin1255(0x00F7), 0xBA);
  EXPECT_EQ(UnicodeToWin1255(0x0160), 0x8A);
  EXPECT_EQ(UnicodeToWin1255(0x05B0), 0xC0);
  for (char16_t c = 0x05D0; c <= 0x05EA; ++c) EXPECT_EQ(UnicodeToWin1255(c), 0xE0 + (c - 0x05D0));

  EXPECT_EQ(UnicodeToWin1256(0x067E), 0x81);
  EXPECT_EQ(UnicodeToWin1256(0x0679), 0x8A);
  EXPECT_EQ(UnicodeToWin1256(0x0691), 0x9A);
  EXPECT_EQ(UnicodeToWin1256(0x06AF), 0x90);
  EXPECT_EQ(UnicodeToWin1256(0x06C1), 0xC0);

  EXPECT_EQ(UnicodeToWin1257(0x00A8), 0x8D);
  EXPECT_EQ(UnicodeToWin1257(0x00D3), 0xD3);
  EXPECT_EQ(UnicodeToWin1257(0x0100), 0xC2);
  EXPECT_EQ(UnicodeToWin1257(0x017C), 0xFD);
  EXPECT_EQ(UnicodeToWin1257(0x02D9), 0xFF);
}

TEST(MSWCPTest, PagesWithoutTablesAlwaysGiveZero) {
  uint8_t (*const fns[])(char16_t) = {UnicodeToWin874, UnicodeToWin932, UnicodeToWin936, UnicodeToWin949,
                                      UnicodeToWin950};
  for (auto fn : fns)
    for (char16_t c : {u'A', u'\u0E01', u'\u3042', u'\u4E2D', u'\uAC00', u'\uFFFF'}) EXPECT_EQ(fn(c), 0);
}

TEST(MSWCPTest, UnicodeBlocksAscendAndDoNotOverlap) {
  ASSERT_EQ(UnicodeBlocks.size(), 88u);
  EXPECT_EQ(UnicodeBlocks.front().Name, "Basic Latin");
  EXPECT_EQ(UnicodeBlocks.front().CodeFrom, 0x0000);
  EXPECT_EQ(UnicodeBlocks.back().CodeTo, 0xFFFF);
  int specials = 0;
  for (size_t i = 0; i < UnicodeBlocks.size(); ++i) {
    const TUnicodeRange& r = UnicodeBlocks[i];
    SCOPED_TRACE(r.Name);
    EXPECT_LE(r.CodeFrom, r.CodeTo);
    if (i > 0) {
      EXPECT_GT(r.CodeFrom, UnicodeBlocks[i - 1].CodeTo);
    }
    if (r.Name == "Specials") ++specials;
  }
  EXPECT_EQ(specials, 2);
  EXPECT_EQ(UnicodeBlocks[85].CodeFrom, 0xFEFF);
  EXPECT_EQ(UnicodeBlocks[85].CodeTo, 0xFEFF);
  EXPECT_EQ(UnicodeBlocks[73].Name, "Hangul Syllables");
  EXPECT_EQ(UnicodeBlocks[73].CodeTo, 0xD7A3);
}

TEST(MSWCPTest, DefaultCodePageOfLanguage) {
  EXPECT_EQ(DefaultCodePageOfLID(0x0409), 1252u);  // English (US)
  EXPECT_EQ(DefaultCodePageOfLID(0x0419), 1251u);  // Russian
  EXPECT_EQ(DefaultCodePageOfLID(0x0415), 1250u);  // Polish
  EXPECT_EQ(DefaultCodePageOfLID(0x0408), 1253u);  // Greek
  EXPECT_EQ(DefaultCodePageOfLID(0x041F), 1254u);  // Turkish
  EXPECT_EQ(DefaultCodePageOfLID(0x040D), 1255u);  // Hebrew
  EXPECT_EQ(DefaultCodePageOfLID(0x3801), 1256u);  // Arabic (U.A.E.): sublanguage ignored
  EXPECT_EQ(DefaultCodePageOfLID(0x0426), 1257u);  // Latvian
  EXPECT_EQ(DefaultCodePageOfLID(0x042A), 1258u);  // Vietnamese
  EXPECT_EQ(DefaultCodePageOfLID(0x041E), 874u);   // Thai
  EXPECT_EQ(DefaultCodePageOfLID(0x0411), 932u);   // Japanese
  EXPECT_EQ(DefaultCodePageOfLID(0x0412), 949u);   // Korean
  // Variants whose script differs from the primary language's.
  EXPECT_EQ(DefaultCodePageOfLID(0x0404), 950u);
  EXPECT_EQ(DefaultCodePageOfLID(0x0C04), 950u);
  EXPECT_EQ(DefaultCodePageOfLID(0x1404), 950u);
  EXPECT_EQ(DefaultCodePageOfLID(0x0804), 936u);
  EXPECT_EQ(DefaultCodePageOfLID(0x1004), 936u);
  EXPECT_EQ(DefaultCodePageOfLID(0x081A), 1250u);
  EXPECT_EQ(DefaultCodePageOfLID(0x0C1A), 1251u);
  EXPECT_EQ(DefaultCodePageOfLID(0x042C), 1254u);
  EXPECT_EQ(DefaultCodePageOfLID(0x082C), 1251u);
  // Unicode-only and unknown languages.
  EXPECT_EQ(DefaultCodePageOfLID(0x0439), 1252u);
  EXPECT_EQ(DefaultCodePageOfLID(0x03FF), 1252u);
  EXPECT_EQ(DefaultCodePageOfLID(0x0000), 1252u);
}

TEST(MSWCPTest, UnicodeRangeFollowsTheLanguagesScript) {
  EXPECT_EQ(GetUnicodeRangeByLID(0x0409, 0).Name, "Basic Latin");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0419, 0).Name, "Cyrillic");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0408, 0).Name, "Greek");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0405, 1).Name, "Latin Extended-A");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0425, 0).Name, "Latin Extended-A");
  EXPECT_EQ(GetUnicodeRangeByLID(0x040D, 0).Name, "Hebrew");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0429, 0).Name, "Arabic");
  EXPECT_EQ(GetUnicodeRangeByLID(0x041E, 0).Name, "Thai");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0411, 0).Name, "Hiragana");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0412, 0).Name, "Hangul Syllables");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0404, 0).Name, "CJK Unified Ideographs");
  const TUnicodeRange& cyr = GetUnicodeRangeByLID(0x0C1A, 0);
  EXPECT_EQ(&cyr, &UnicodeBlocks[8]);
  EXPECT_EQ(cyr.CodeFrom, 0x0400);
  EXPECT_EQ(cyr.CodeTo, 0x04FF);

  ActiveCodePage acp(1251);
  // A Unicode-only language has no block; an unknown one follows the active code page.
  EXPECT_EQ(GetUnicodeRangeByLID(0x0439, 0).Name, "Basic Latin");
  EXPECT_EQ(GetUnicodeRangeByLID(0x03FF, 0).Name, "Cyrillic");
  EXPECT_EQ(GetUnicodeRangeByLID(0x0409, 0).Name, "Basic Latin");
}

}  // namespace
}  // namespace lkw
