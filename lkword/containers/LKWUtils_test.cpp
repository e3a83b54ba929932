#include "lkword/containers/LKWUtils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

std::string TempFile(const char* name, const std::string& bytes) {
  auto path = std::filesystem::temp_directory_path() / ("lkw_" + std::to_string(getpid()) + "_" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

TEST(LKWUtilsTest, ZipTestLooksAtTheFirstFourBytes) {
  EXPECT_TRUE(FileIsZipArchive(std::string(LKWORD_TESTDATA) + "/zip/mixed.zip"));
  std::string shortFile = TempFile("short.bin", "PK\x03");
  std::string oleFile = TempFile("ole.bin", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  std::string bareHeader = TempFile("bare.bin", "PK\x03\x04");
  EXPECT_FALSE(FileIsZipArchive(shortFile));
  EXPECT_FALSE(FileIsZipArchive(oleFile));
  EXPECT_TRUE(FileIsZipArchive(bareHeader));
  EXPECT_TRUE(FileIsZipArchive(WideString(u"") + std::u16string(bareHeader.begin(), bareHeader.end())));
  for (const auto& f : {shortFile, oleFile, bareHeader}) std::filesystem::remove(f);
  EXPECT_THROW(FileIsZipArchive(std::string("no-such-dir/no-such-file.zip")), EFOpenError);

  TBytesStream s("xxPK\x03\x04rest");
  s.SetPosition(2);
  EXPECT_TRUE(StreamIsZipArchive(s));
  EXPECT_EQ(s.Position(), 2);  // restored
}

TEST(LKWUtilsTest, StrToFloatDefAcceptsOneWholeNumberOnly) {
  EXPECT_EQ(StrToFloatDef("1.5", -1), 1.5);
  EXPECT_EQ(StrToFloatDef(" -2.5e3 ", -1), -2500);
  EXPECT_EQ(StrToFloatDef("+3", -1), 3);
  EXPECT_EQ(StrToFloatDef(".25", -1), 0.25);
  EXPECT_EQ(StrToFloatDef("4.", -1), 4);
  EXPECT_EQ(StrToFloatDef(u"0.75", -1), 0.75);
  for (const char* bad : {"", " ", "abc", "1.5x", "1.2.3", "inf", "nan", "0x10", "1e", "-", ".", "1,5", "1e999"})
    EXPECT_EQ(StrToFloatDef(bad, -7), -7) << bad;
  EXPECT_EQ(StrToFloatDef(u"1\u00B75", -7), -7);
  // Where the locale writes a comma, its first comma reads as the point.
  EXPECT_EQ(StrToFloatDef("1,5", -1, ','), 1.5);
  EXPECT_EQ(StrToFloatDef("1.5", -1, ','), 1.5);
  EXPECT_EQ(StrToFloatDef("1,5,0", -1, ','), -1);
}

TEST(LKWUtilsTest, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ascii, long enough for the fast path"));
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xE2\x80\x94 \xF0\x9D\x84\x9E"));
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));               // Latin-1
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));              // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));          // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));      // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("abcdefgh\xE2\x80"));      // cut short
}

}  // namespace
}  // namespace lkw
