#include "lkword/pdf/LKWPDFBidi.h"

#include <gtest/gtest.h>

#include <vector>

namespace lkw {
namespace {

TEST(PDFBidi, ClassesAndReordering) {
  EXPECT_EQ(BidiClassOf(U'a'), TBidiClass::bcL);
  EXPECT_EQ(BidiClassOf(0x05D0), TBidiClass::bcR);
  EXPECT_EQ(BidiClassOf(0x0627), TBidiClass::bcR);
  EXPECT_EQ(BidiClassOf(0xFEFB), TBidiClass::bcR);  // lam-alef ligature
  EXPECT_EQ(BidiClassOf(0x0663), TBidiClass::bcNumber);
  EXPECT_EQ(BidiClassOf(0x4E2D), TBidiClass::bcL);
  EXPECT_EQ(BidiClassOf(U','), TBidiClass::bcNeutral);

  // A right-to-left line with an English word: the word keeps its order.
  std::vector<TBidiUnit> u = {{0, 1, TBidiClass::bcL}, {1, 1, TBidiClass::bcL},  {2, 1, TBidiClass::bcNeutral},
                              {3, 1, TBidiClass::bcR}, {4, 1, TBidiClass::bcR}, {5, 1, TBidiClass::bcR}};
  VisualToLogical(u);
  std::vector<uint32_t> order;
  for (const auto& x : u) order.push_back(x.Start);
  EXPECT_EQ(order, (std::vector<uint32_t>{5, 4, 3, 2, 0, 1}));
}

}  // namespace
}  // namespace lkw
