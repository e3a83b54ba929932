#include "lkword/platform/Ascii.h"

#include <gtest/gtest.h>

namespace lkw {
namespace {

// Only ASCII letters fold: bytes of other encodings (UTF-8 lead bytes, Latin-1)
// and UTF-16 units beyond ASCII stay as they are.
TEST(AsciiTest, CaseFoldsAsciiLettersOnly) {
  EXPECT_EQ(LowerAscii(std::string_view("MiXeD-09_\xC3\x84")), "mixed-09_\xC3\x84");
  EXPECT_EQ(LowerAscii(std::u16string_view(u"\u00C4Bc")), u"\u00C4bc");
  EXPECT_TRUE(SameTextAscii("Content-Type", "content-TYPE"));
  EXPECT_FALSE(SameTextAscii("abc", "abcd"));
  EXPECT_FALSE(SameTextAscii(u"\u00E4", u"\u00C4"));
  EXPECT_FALSE(IsAsciiDigit(char16_t{0x0660}));  // an Arabic-Indic digit
  EXPECT_TRUE(IsAsciiBlank('\r'));
  EXPECT_FALSE(IsAsciiBlank('\f'));
  EXPECT_TRUE(IsAsciiBlankOrFormFeed(u'\f'));
  EXPECT_FALSE(IsAsciiBlankOrFormFeed(u'\v'));
}

TEST(AsciiTest, FindsTextInAnyCase) {
  EXPECT_EQ(FindTextAscii("junk %pdf-1.4", "%PDF-"), 5u);
  EXPECT_EQ(FindTextAscii("aXbxB", "XB"), 1u);
  EXPECT_EQ(FindTextAscii("aXbxB", "xb", 2), 3u);
  EXPECT_EQ(FindTextAscii("aXbxB", "xb", 4), std::string_view::npos);
  EXPECT_EQ(FindTextAscii("ab", "abc"), std::string_view::npos);
  EXPECT_EQ(FindTextAscii("ab", "", 2), 2u);
  EXPECT_EQ(FindTextAscii("ab", "", 3), std::string_view::npos);
}

}  // namespace
}  // namespace lkw
