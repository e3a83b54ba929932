#include "lkword/containers/LKWHtml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

std::vector<std::string> Lines(std::u16string_view Html) {
  std::vector<std::string> out;
  THtmlLines([&](std::u16string_view Line, const TParagraph& P) {
    std::string line = WideToUtf8(WideString(Line));
    if (P.Kind == TParagraphKind::Heading) line.insert(0, 'h' + std::to_string(P.Level).append(":"));
    out.push_back(std::move(line));
    return true;
  }, nullptr).Read(Html);
  return out;
}

TEST(HtmlLinesTest, LinesThatShowNothingAreLeftOut) {
  // Spacer paragraphs of no-break, zero-width and ideographic spaces; a
  // no-break space inside text stays.
  EXPECT_EQ(Lines(u"<p>&nbsp;</p><p>\u00A0\u200B\u3000</p><h3>a&nbsp;b</h3><p> \u00A0x</p>"),
            (std::vector<std::string>{"h3:a\xC2\xA0" "b", "\xC2\xA0x"}));
}

TEST(HtmlBytesTest, MarkThenDeclarationThenUtf8ThenFallback) {
  const std::string cyrillic = "\xCF\xF0\xE8";  // "При" in windows-1251
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes(std::string("<meta charset=\"windows-1251\">").append(cyrillic), 1252)),
            "<meta charset=\"windows-1251\">\xD0\x9F\xD1\x80\xD0\xB8");
  EXPECT_TRUE(WideToUtf8(DecodeHtmlBytes(std::string("<?xml version='1.0' encoding='windows-1251'?><p>").append(cyrillic), 1252))
                  .ends_with("<p>\xD0\x9F\xD1\x80\xD0\xB8"));
  // The byte order mark wins over what the markup says, and the transport's
  // charset (an unknown one aside) over the markup.
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes("\xEF\xBB\xBF<meta charset=koi8-r>\xC3\xA9", 1252)), "<meta charset=koi8-r>\xC3\xA9");
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes("<meta charset=koi8-r>" + cyrillic, 1252, "windows-1251")),
            "<meta charset=koi8-r>\xD0\x9F\xD1\x80\xD0\xB8");
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes("<meta charset=windows-1251>" + cyrillic, 1252, "x-unknown")),
            "<meta charset=windows-1251>\xD0\x9F\xD1\x80\xD0\xB8");
  // Undeclared: UTF-8 when it is, else the fallback; plain text heeds no
  // declaration.
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes("\xC3\xA9", 1252)), "\xC3\xA9");
  EXPECT_EQ(WideToUtf8(DecodeHtmlBytes("\xE9", 1252)), "\xC3\xA9");
  EXPECT_EQ(WideToUtf8(DecodeTextBytes("charset=koi8-r \xC3\xA9", 1252)), "charset=koi8-r \xC3\xA9");
  EXPECT_EQ(WideToUtf8(DecodeTextBytes(std::string("\xFE\xFF\0a", 4), 1252)), "a");
}

}  // namespace
}  // namespace lkw
