#include "lkword/platform/CodePages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace lkw {
namespace {

TEST(CodePagesTest, SingleByteCodePagesDecodeLikeWindows) {
  EXPECT_EQ(MultiByteToWide(1252, "\x80\x93\x94\x85"), u"\u20AC\u201C\u201D\u2026");
  // Bytes 1252 leaves unassigned pass through as C1 controls, as on Windows.
  EXPECT_EQ(MultiByteToWide(1252, "\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(MultiByteToWide(1251, "\xC0\xE1\xA8"), u"\u0410\u0431\u0401");
  EXPECT_EQ(MultiByteToWide(1253, "\xE1"), u"\u03B1");
  EXPECT_EQ(MultiByteToWide(1255, "\xE0"), u"\u05D0");
  EXPECT_TRUE(IsSingleByteCodePage(1250));
  EXPECT_FALSE(IsSingleByteCodePage(932));
}

TEST(CodePagesTest, BuiltInTablesDecodeAsTheConverterDoes) {
  // Regenerate with scripts/make-codepage-tables.cpp when this fails.
  const std::vector<uint32_t> pages = BuiltinCodePages();
  EXPECT_GE(pages.size(), 40u);
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
  for (uint32_t cp : pages) {
    SCOPED_TRACE(cp);
    std::array<char16_t, 256> converter{};
    ASSERT_TRUE(ConverterCodePageTable(cp, converter));
    EXPECT_TRUE(IsSingleByteCodePage(cp));
    EXPECT_EQ(MultiByteToWide(cp, all), WideString(converter.begin(), converter.end()));
  }
  // Multi-byte pages are none of them.
  for (uint32_t cp : {932u, 936u, 949u, 950u}) EXPECT_EQ(std::count(pages.begin(), pages.end(), cp), 0);
}

TEST(CodePagesTest, MultiByteCodePagesAndInvalidSequences) {
  EXPECT_EQ(MultiByteToWide(932, "\x82\xA0\x93\xFA"), u"\u3042\u65E5");
  EXPECT_EQ(MultiByteToWide(936, "\xC4\xE3"), u"\u4F60");
  EXPECT_EQ(MultiByteToWide(949, "\xB0\xA1"), u"\uAC00");
  EXPECT_EQ(MultiByteToWide(950, "\xA4\xA4"), u"\u4E2D");
  // A truncated lead byte does not swallow the text before it.
  EXPECT_EQ(MultiByteToWide(932, "ab\x82"), u"ab\uFFFD");
}

TEST(CodePagesTest, UnknownCodePageFallsBackToTheActiveOne) {
  EXPECT_EQ(MultiByteToWide(99999, "\x80"), u"\u20AC");
  SetActiveCodePage(1251);
  EXPECT_EQ(GetACP(), 1251u);
  EXPECT_EQ(MultiByteToWide(99999, "\xC0"), u"\u0410");
  SetActiveCodePage(1252);
}

TEST(CodePagesTest, EncodingReplacesUnmappableCharacters) {
  EXPECT_EQ(WideToMultiByte(1252, u"a\u20AC\u0416"), "a\x80?");
  EXPECT_EQ(WideToMultiByte(CP_UTF16LE, u"A"), std::string("A\0", 2));
}

TEST(CodePagesTest, Utf8RoundTripAndInvalidInput) {
  std::u16string text = u"a\u00E9\u20AC\U0001F600z";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(WideToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");             // lone surrogate
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");             // overlong
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), u"\uFFFD\uFFFD");             // truncated
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(CodePagesTest, CaseInsensitiveComparisonCoversNonLatinScripts) {
  EXPECT_EQ(CompareTextIgnoreCase(u"Straße", u"STRASSE") != 0, true);
  EXPECT_EQ(CompareTextIgnoreCase(u"\u00E9t\u00E9", u"\u00C9T\u00C9"), 0);
  EXPECT_EQ(CompareTextIgnoreCase(u"\u0451\u0436", u"\u0401\u0416"), 0);
  EXPECT_EQ(CompareTextIgnoreCase(u"\u03B1", u"\u0391"), 0);
  EXPECT_LT(CompareTextIgnoreCase(u"abc", u"ABD"), 0);
  EXPECT_GT(CompareTextIgnoreCase(u"abcd", u"ABC"), 0);
}

TEST(CodePagesTest, ConversionsAreSafeFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &ok] {
      int good = 0;
      for (int i = 0; i < 500; ++i) {
        good += MultiByteToWide(932, "\x82\xA0") == u"\u3042";
        good += MultiByteToWide(1250 + (i % 8), "a") == u"a";
      }
      ok[static_cast<size_t>(t)] = good;
    });
  for (auto& th : threads) th.join();
  for (int v : ok) EXPECT_EQ(v, 1000);
}

}  // namespace
}  // namespace lkw
