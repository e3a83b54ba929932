#include "lkword/pdf/LKWPDFCMap.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

using namespace std::string_literals;

std::u16string Look(const TPDFCMap& M, uint32_t Code, int Len) {
  std::u16string out;
  if (!M.Lookup(Code, Len, out)) return u"<none>";
  return out;
}

TEST(PDFCMap, BfcharAndBothBfrangeForms) {
  TPDFCMap m;
  m.Parse(
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
      "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
      "3 beginbfchar <0003> <0020> <0011> <D83DDE00> <0012> <00660066> endbfchar\n"
      "2 beginbfrange <0024> <0026> <0041> <0030> <0032> [<0061> <0062006C> <0063>] endbfrange\n"
      "1 beginbfrange <0100> <01FF> <00FF> endbfrange\n"
      "endcmap CMapName currentdict /CMap defineresource pop end end");
  EXPECT_EQ(Look(m, 3, 2), u" ");
  EXPECT_EQ(Look(m, 0x11, 2), u"\U0001F600");
  EXPECT_EQ(Look(m, 0x12, 2), u"ff");
  EXPECT_EQ(Look(m, 0x24, 2), u"A");
  EXPECT_EQ(Look(m, 0x26, 2), u"C");
  EXPECT_EQ(Look(m, 0x27, 2), u"<none>");
  EXPECT_EQ(Look(m, 0x31, 2), u"bl");
  EXPECT_EQ(Look(m, 0x32, 2), u"c");
  EXPECT_EQ(Look(m, 0x101, 2), u"\u0100");  // the count runs past FF in the last character
  EXPECT_EQ(Look(m, 0x1FF, 2), u"\u01FE");
  // The same value with another length is another code.
  EXPECT_EQ(Look(m, 0x24, 1), u"<none>");
}

TEST(PDFCMap, LargeRangesAreKeptWholeAndSurrogatesCount) {
  TPDFCMap m;
  m.Parse("1 beginbfrange <00000000> <0000FFFF> <D835DC00> endbfrange 1 beginbfrange <10> <20> <FFFF> endbfrange");
  EXPECT_EQ(Look(m, 0, 4), u"\U0001D400");
  EXPECT_EQ(Look(m, 2, 4), u"\U0001D402");
  EXPECT_EQ(Look(m, 0x10, 1), u"\uFFFF");
  EXPECT_EQ(Look(m, 0x11, 1), u"\U00010000");
}

TEST(PDFCMap, CodespaceRangesDecideCodeLengths) {
  TPDFCMap m;
  m.Parse("2 begincodespacerange <00> <80> <8140> <FEFE> endcodespacerange");
  EXPECT_EQ(m.CodeLength("A"s, 2), 1);
  EXPECT_EQ(m.CodeLength("\x81\x40"s, 2), 2);
  EXPECT_EQ(m.CodeLength("\x81"s, 2), 1);  // truncated: what is left
  EXPECT_EQ(m.MinCodeLength(), 1);
  EXPECT_EQ(m.MaxCodeLength(), 2);
  // The first byte alone cannot tell: the full test decides.
  TPDFCMap mixed;
  mixed.Parse("3 begincodespacerange <00> <7F> <8000> <80FF> <800000> <80FFFF> endcodespacerange");
  EXPECT_EQ(mixed.CodeLength("\x80\x01" "A"s, 1), 2);
  TPDFCMap none;
  EXPECT_EQ(none.CodeLength("ABCD"s, 2), 2);
  EXPECT_EQ(none.CodeLength(""s, 2), 0);
}

TEST(PDFCMap, CIDMapsWModeAndUsecmap) {
  TPDFCMap m;
  m.Parse("/WMode 1 def /Identity-H usecmap 1 begincidchar <41> 7 endcidchar\n"
          "1 begincidrange <8140> <817F> 633 endcidrange");
  uint32_t cid = 0;
  ASSERT_TRUE(m.LookupCID(0x41, 1, cid));
  EXPECT_EQ(cid, 7u);
  ASSERT_TRUE(m.LookupCID(0x8142, 2, cid));
  EXPECT_EQ(cid, 635u);
  EXPECT_FALSE(m.LookupCID(0x8180, 2, cid));
  EXPECT_EQ(m.WMode(), 1);
  EXPECT_EQ(m.UseCMap(), "Identity-H");
}

TEST(PDFCMap, DamagedTextKeepsWhatWasRead) {
  TPDFCMap m;
  m.Parse("2 beginbfchar <01> <0041> <02> endbfchar 1 beginbfrange <05> <03> <0041> <06> ) endbfrange "
          "1 beginbfchar <0102030405> <0042> <03> /eacute <04> <");
  EXPECT_EQ(Look(m, 1, 1), u"A");
  EXPECT_EQ(Look(m, 5, 1), u"<none>");
  EXPECT_EQ(Look(m, 3, 1), u"\u00E9");
  // Truncated and garbage inputs end.
  for (const std::string& s : {"beginbfrange <00> <FF> ["s, "begincodespacerange <00>"s, "beginbfchar"s, "\xFF\x00(((("s}) {
    TPDFCMap x;
    x.Parse(s);
  }
}

}  // namespace
}  // namespace lkw
