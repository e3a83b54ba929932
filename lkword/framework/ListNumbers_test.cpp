#include "lkword/framework/ListNumbers.h"

#include <gtest/gtest.h>

#include <string>

#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

template <typename F>
std::string Written(F&& Append) {
  WideString out = u"<";
  Append(out);
  return WideToUtf8(out);
}

// Each form appends to what is there; the places where a form changes its
// pattern: subtractive numerals, letters' rounds, the teens' suffixes, the
// words' hyphens, hundreds and thousands, and the ordinal of each part.
TEST(ListNumbersTest, EachFormAsLabelsWriteIt) {
  const struct {
    std::string Got, Want;
  } cases[] = {
      {Written([](WideString& O) { AppendDecimal(O, -12); }), "<-12"},
      {Written([](WideString& O) { AppendRoman(O, 1994, false); }), "<mcmxciv"},
      {Written([](WideString& O) { AppendRoman(O, 3999, true); }), "<MMMCMXCIX"},
      {Written([](WideString& O) { AppendRoman(O, 4444, false); }), "<mmmmcdxliv"},
      {Written([](WideString& O) { AppendLetters(O, 26, false); }), "<z"},
      {Written([](WideString& O) { AppendLetters(O, 53, true); }), "<AAA"},
      {Written([](WideString& O) { AppendLetters(O, 0, true); }), "<"},
      {Written([](WideString& O) { AppendOrdinal(O, 1); }), "<1st"},
      {Written([](WideString& O) { AppendOrdinal(O, 112); }), "<112th"},
      {Written([](WideString& O) { AppendOrdinal(O, 123); }), "<123rd"},
      {Written([](WideString& O) { AppendEnglishWords(O, 0, false); }), "<Zero"},
      {Written([](WideString& O) { AppendEnglishWords(O, 42, false); }), "<Forty-two"},
      {Written([](WideString& O) { AppendEnglishWords(O, 2012, false); }), "<Two thousand twelve"},
      {Written([](WideString& O) { AppendEnglishWords(O, 999999, false); }),
       "<Nine hundred ninety-nine thousand nine hundred ninety-nine"},
      {Written([](WideString& O) { AppendEnglishWords(O, 12, true); }), "<Twelfth"},
      {Written([](WideString& O) { AppendEnglishWords(O, 90, true); }), "<Ninetieth"},
      {Written([](WideString& O) { AppendEnglishWords(O, 103, true); }), "<One hundred third"},
      {Written([](WideString& O) { AppendEnglishWords(O, 300, true); }), "<Three hundredth"},
      {Written([](WideString& O) { AppendEnglishWords(O, 21000, true); }), "<Twenty-one thousandth"},
      {Written([](WideString& O) { AppendEnglishWords(O, 1001, true); }), "<One thousand first"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Got, c.Want);
}

}  // namespace
}  // namespace lkw
