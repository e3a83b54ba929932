// The generated name tables hold offsets into character pools; a generator
// fault would show as names cut or shifted, or as tables out of the order
// their binary searches rely on.

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string_view>

namespace lkw {
namespace {

namespace glyph {
#include "lkword/pdf/data/PDFGlyphTables.inc"
}
namespace program {
#include "lkword/pdf/data/PDFFontProgramTables.inc"
}

// Every name of Table lies in Pool (before its terminating NUL) and holds no
// NUL; with Sorted, the names strictly ascend.
template <size_t P, class Table, class Name>
void CheckNames(const char (&Pool)[P], const Table& T, Name GetName, bool Sorted) {
  std::string_view prev;
  for (size_t i = 0; i < std::size(T); ++i) {
    const auto n = GetName(T[i]);
    ASSERT_LE(static_cast<size_t>(n.Offset) + n.Length, P - 1) << i;
    const std::string_view name(Pool + n.Offset, n.Length);
    EXPECT_EQ(name.find('\0'), std::string_view::npos) << i;
    if (Sorted && i > 0) {
      EXPECT_LT(prev, name) << i;
    }
    prev = name;
  }
}

TEST(PDFNameTables, GlyphTablesStayInTheirPoolAndInOrder) {
  using namespace glyph;
  const auto entryName = [](const TGlyphNameEntry& e) { return e.Name; };
  const auto self = [](const TPoolName& n) { return n; };
  CheckNames(kGlyphNamePool, kGlyphNames, entryName, true);
  CheckNames(kGlyphNamePool, kDingbatNames, entryName, true);
  CheckNames(kGlyphNamePool, kMetricNames, self, true);
  CheckNames(kGlyphNamePool, kEncodingNames, self, false);
  CheckNames(kGlyphNamePool, kStandardFonts, [](const TStandardFontMetrics& f) { return f.Name; }, false);

  for (const TGlyphNameEntry& e : kGlyphNames) EXPECT_LT(static_cast<size_t>(e.Sequence), std::size(kGlyphNameSequences));
  // The first and last entries catch offsets shifted by one name.
  EXPECT_EQ(PoolName(kGlyphNames[0].Name), "A");
  EXPECT_EQ(PoolName(std::end(kGlyphNames)[-1].Name), "zukatakana");
  EXPECT_EQ(PoolName(kDingbatNames[0].Name), "a1");
  EXPECT_EQ(PoolName(std::end(kDingbatNames)[-1].Name), "a99");
  EXPECT_EQ(PoolName(kEncodingNames[0]), "");
  EXPECT_EQ(PoolName(kEncodingNames[kWinAnsiNames[0x41]]), "A");
  EXPECT_EQ(PoolName(kEncodingNames[kWinAnsiNames[0xFF]]), "ydieresis");
  EXPECT_EQ(PoolName(kStandardFonts[0].Name), "Courier");
  EXPECT_EQ(PoolName(std::end(kStandardFonts)[-1].Name), "ZapfDingbats");
}

TEST(PDFNameTables, FontProgramNamesKeepTheirPublishedIndexes) {
  using namespace program;
  const auto self = [](const TPoolName& n) { return n; };
  CheckNames(kProgramNamePool, kMacGlyphNames, self, false);
  CheckNames(kProgramNamePool, kCFFStandardStrings, self, false);
  // Fonts name glyphs by these indexes, so every one must sit where the
  // formats put it.
  EXPECT_EQ(PoolName(kMacGlyphNames[0]), ".notdef");
  EXPECT_EQ(PoolName(kMacGlyphNames[3]), "space");
  EXPECT_EQ(PoolName(kMacGlyphNames[257]), "dcroat");
  EXPECT_EQ(PoolName(kCFFStandardStrings[0]), ".notdef");
  EXPECT_EQ(PoolName(kCFFStandardStrings[1]), "space");
  EXPECT_EQ(PoolName(kCFFStandardStrings[390]), "Semibold");
}

}  // namespace
}  // namespace lkw
