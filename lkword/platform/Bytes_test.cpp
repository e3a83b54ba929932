#include "lkword/platform/Bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

// High bytes must not sign-extend through char; the checked forms must not
// read past the end, however large the offset.
TEST(BytesTest, LoadsEitherOrderAndChecksTheirBounds) {
  const std::string s("\x81\xFF\x7F\x80\x01\x02\x03\x04", 8);
  EXPECT_EQ(LoadLE16(s.data()), 0xFF81u);
  EXPECT_EQ(LoadBE16(s.data()), 0x81FFu);
  EXPECT_EQ(LoadLE32(s.data()), 0x807FFF81u);
  EXPECT_EQ(LoadBE32(s.data()), 0x81FF7F80u);
  EXPECT_EQ(LoadLE64(s.data()), 0x04030201807FFF81ull);
  EXPECT_EQ(LoadBE64(s.data()), 0x81FF7F8001020304ull);

  EXPECT_EQ(LoadLE32(s, 4), 0x04030201u);
  EXPECT_EQ(LoadBE16(s, 6), 0x0304u);
  EXPECT_EQ(LoadLE32(s, 5), 0u);
  EXPECT_EQ(LoadLE16(s, 7), 0u);
  EXPECT_EQ(LoadBE32(s, std::string::npos - 1), 0u);
  EXPECT_EQ(LoadLE16(std::string_view(), 0), 0u);
}

}  // namespace
}  // namespace lkw
