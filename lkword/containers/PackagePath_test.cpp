#include "lkword/containers/PackagePath.h"

#include <gtest/gtest.h>

namespace lkw {
namespace {

constexpr auto kKeep = TPercentEscapes::Keep;
constexpr auto kDecode = TPercentEscapes::Decode;

TEST(PackagePath, FolderOfAPart) {
  EXPECT_EQ(PackageFolderOf("word/document.xml"), "word/");
  EXPECT_EQ(PackageFolderOf("a/b/c.opf"), "a/b/");
  EXPECT_EQ(PackageFolderOf("content.opf"), "");
}

TEST(PackagePath, ReferencesResolveAgainstTheFolderLikeUrls) {
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "Text/ch1.xhtml", kDecode), "OEBPS/Text/ch1.xhtml");
  EXPECT_EQ(ResolvePackageReference("OEBPS/pkg/", "../Text/Chapter%201.xhtml#start", kDecode),
            "OEBPS/Text/Chapter 1.xhtml");
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "./a/./b/../c.xhtml?x=1", kDecode), "OEBPS/a/c.xhtml");
  EXPECT_EQ(ResolvePackageReference("word/", "/customXml/item1.xml", kKeep), "customXml/item1.xml");
  EXPECT_EQ(ResolvePackageReference("", " word//document.xml\r\n", kKeep), "word/document.xml");
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "Text\\ch1.xhtml", kDecode), "OEBPS/Text/ch1.xhtml");
  // ".." never climbs above the package root.
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "../../../x.xhtml", kDecode), "x.xhtml");
  EXPECT_EQ(ResolvePackageReference("word/", "../../media/a.png", kKeep), "media/a.png");
}

TEST(PackagePath, EscapesDecodedOnlyWhenAsked) {
  EXPECT_EQ(ResolvePackageReference("", "caf%C3%A9%2.xhtml", kDecode), "caf\xC3\xA9%2.xhtml");
  EXPECT_EQ(ResolvePackageReference("word/", "my%20header.xml", kKeep), "word/my%20header.xml");
  // Decoded first: an escaped separator or dot segment counts as one.
  EXPECT_EQ(ResolvePackageReference("a/", "b%2F..%2Fc.xhtml", kDecode), "a/c.xhtml");
  EXPECT_EQ(DecodePercentEscapes("%41%4a%zz%4"), "AJ%zz%4");
}

TEST(PackagePath, ReferencesNamingNoPartGiveNothing) {
  for (const char* ref : {"https://example.org/a.xhtml", "mailto:someone@example.org", "urn:uuid:1234", "#note",
                          "?q", "folder/", "", "  "})
    EXPECT_EQ(ResolvePackageReference("OEBPS/", ref, kDecode), "") << ref;
  // A colon after something that cannot start a scheme is part of a name.
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "1:2.xhtml", kDecode), "OEBPS/1:2.xhtml");
  EXPECT_EQ(ResolvePackageReference("OEBPS/", "a/b:c.xhtml", kDecode), "OEBPS/a/b:c.xhtml");
}

}  // namespace
}  // namespace lkw
