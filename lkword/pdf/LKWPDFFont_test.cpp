#include "lkword/pdf/LKWPDFFont.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

using namespace std::string_literals;

TEST(PDFTextString, MarksChooseTheEncoding) {
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00H\x04\x10\xD8\x3D\xDE\x00"s), u"H\u0410\U0001F600");
  EXPECT_EQ(DecodePDFTextString("\xEF\xBB\xBF" "caf\xC3\xA9"s), u"caf\u00E9");
  // Without a mark the bytes are PDFDocEncoding, even when they look like UTF-8.
  EXPECT_EQ(DecodePDFTextString("caf\xC3\xA9"s), u"caf\u00C3\u00A9");
  // A byte-swapped mark, as some producers write.
  EXPECT_EQ(DecodePDFTextString("\xFF\xFEH\x00i\x00"s), u"Hi");
}

TEST(PDFTextString, UTF16DropsLanguageEscapesTerminatorsAndAnOddByte) {
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00\x1B" "en\x00\x1B\x00O\x00K\x00\x00\x00"s), u"OK");
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF\x00" "A\x00"s), u"A");
  EXPECT_EQ(DecodePDFTextString("\xFE\xFF"s), u"");
}

TEST(PDFTextString, PDFDocEncodingOutsideLatin1) {
  EXPECT_EQ(DecodePDFTextString("\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F"s), u"\u02D8\u02C7\u02C6\u02D9\u02DD\u02DB\u02DA\u02DC");
  EXPECT_EQ(DecodePDFTextString("\x80\x84\x8D\x8E\x92\x93\x94\x95\x9E\xA0"s),
            u"\u2022\u2014\u201C\u201D\u2122\uFB01\uFB02\u0141\u017E\u20AC");
  // Latin-1 above A0, ASCII below; undefined codes are marked, NULs dropped.
  EXPECT_EQ(DecodePDFTextString("\xE9\xFF" "a\x7F\x9F\x00"s), u"\u00E9\u00FF" u"a\uFFFD\uFFFD");
}

}  // namespace
}  // namespace lkw
