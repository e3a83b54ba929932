#include "lkword/readers/MSMobiHuff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/Exceptions.h"
#include "testing/MobiHuffCoder.h"

namespace lkw {
namespace {

using testing::THuffCoder;

std::vector<std::string_view> Views(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) s[at + k] = static_cast<char>(v >> (24 - 8 * k));
}

// Tables where every code has Len bits and phrase k has code 2^Len-1-k.
std::string FixedHuff(unsigned len) {
  std::string h(24 + 1024 + 256, '\0');
  h.replace(0, 4, "HUFF");
  Put32(h, 4, 24);
  Put32(h, 8, 24);
  Put32(h, 12, 24 + 1024);
  for (int p = 0; p < 256; ++p) Put32(h, 24 + 4 * p, (((1u << len) - 1) << 8) | 0x80 | len);
  Put32(h, 24 + 1024 + 8 * (len - 1) + 4, (1u << len) - 1);
  return h;
}

// One CDIC record of the given phrases: (bytes, stored as text).
std::string Cdic(const std::vector<std::pair<std::string, bool>>& phrases, unsigned bits) {
  std::string c(16 + 2 * phrases.size(), '\0');
  c.replace(0, 4, "CDIC");
  Put32(c, 4, 16);
  Put32(c, 8, static_cast<uint32_t>(phrases.size()));
  Put32(c, 12, bits);
  for (size_t k = 0; k < phrases.size(); ++k) {
    const size_t at = c.size() - 16;
    c[16 + 2 * k] = static_cast<char>(at >> 8);
    c[16 + 2 * k + 1] = static_cast<char>(at);
    const size_t n = phrases[k].first.size() | (phrases[k].second ? 0x8000 : 0);
    c += static_cast<char>(n >> 8);
    c += static_cast<char>(n);
    c += phrases[k].first;
  }
  return c;
}

TEST(MobiHuffCdic, DecodesWhatWasCoded) {
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  const std::vector<std::string> texts = {
      "<p>the lighthouse keeper lit the lamp; the lighthouse keeper slept.</p>",
      every + every,
      "<p>Price: 40 \xE2\x82\xAC, the lighthouse</p><p>the lighthouse keeper</p>",
      std::string(3000, 'a') + "the lighthouse keeper",
  };
  for (unsigned bits : {4u, 6u, 16u}) {
    THuffCoder coder(texts, bits);
    // Both ways of finding a code's length are used.
    ASSERT_LE(coder.ShortestCode(), 8u);
    ASSERT_GT(coder.LongestCode(), 8u);
    const std::vector<std::string> cdics = coder.Cdics();
    TMobiHuffCdic huff(coder.Huff(), Views(cdics));
    EXPECT_EQ(huff.PhraseCount(), 256u + 6 + 2);
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string out = "kept|";
      EXPECT_TRUE(huff.Decode(coder.Records()[i], out, 64 * 1024)) << bits << " " << i;
      EXPECT_EQ(out, "kept|" + texts[i]) << bits << " " << i;
    }
    // The limit is on what one record adds.
    std::string out;
    EXPECT_FALSE(huff.Decode(coder.Records()[3], out, 100));
    EXPECT_LE(out.size(), 100u);
    EXPECT_EQ(out, std::string(out.size(), 'a'));
  }
}

TEST(MobiHuffCdic, DamagedRecordsStopAtTheDamage) {
  // Phrase 0 contains itself; phrase 1 is "x". Codes are one bit: 1 is
  // phrase 0, 0 phrase 1.
  const std::vector<std::string> cdics = {Cdic({{"\x80", false}, {"x", true}}, 1)};
  TMobiHuffCdic huff(FixedHuff(1), Views(cdics));
  std::string out;
  EXPECT_TRUE(huff.Decode(std::string(1, '\0'), out, 100));
  EXPECT_EQ(out, "xxxxxxxx");
  out.clear();
  EXPECT_FALSE(huff.Decode("\x40", out, 100));
  EXPECT_EQ(out, "x");

  // A code past the dictionary: four phrases of 2-bit codes, three given.
  const std::vector<std::string> three = {Cdic({{"a", true}, {"b", true}, {"c", true}}, 2)};
  TMobiHuffCdic short3(FixedHuff(2), Views(three));
  out.clear();
  // 11 10 01 00: phrases 0, 1, 2, then 3, which is missing.
  EXPECT_FALSE(short3.Decode("\xE4", out, 100));
  EXPECT_EQ(out, "abc");

  // Phrases nested 64 deep (each coded as the next) are refused; 20 deep
  // decode.
  std::vector<std::pair<std::string, bool>> chain;
  for (unsigned k = 0; k < 63; ++k) chain.push_back({std::string(1, static_cast<char>((62 - k) << 2)), false});
  chain.push_back({"z", true});
  const std::vector<std::string> deep = {Cdic(chain, 6)};
  TMobiHuffCdic nested(FixedHuff(6), Views(deep));
  out.clear();
  EXPECT_FALSE(nested.Decode(std::string(1, static_cast<char>(63 << 2)), out, 100));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(nested.Decode(std::string(1, static_cast<char>((63 - 43) << 2)), out, 100));
  EXPECT_EQ(out, "z");
}

TEST(MobiHuffCdic, MalformedTablesAreRefused) {
  THuffCoder coder({"<p>the lighthouse</p>"});
  const std::string good = coder.Huff();
  const std::vector<std::string> cdics = coder.Cdics();
  auto refused = [&](const std::string& huff, const std::vector<std::string>& c) {
    try {
      TMobiHuffCdic h(huff, Views(c));
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "The HUFF/CDIC tables of the book are damaged");
      return true;
    }
    return false;
  };
  EXPECT_FALSE(refused(good, cdics));
  EXPECT_TRUE(refused("HUFX" + good.substr(4), cdics));
  EXPECT_TRUE(refused(good.substr(0, good.size() - 1), cdics));  // length table cut
  std::string h = good;
  Put32(h, 8, 0xFFFFFFF0);  // code table out of the record
  EXPECT_TRUE(refused(h, cdics));
  h = good;
  Put32(h, 24, 0x80);  // a code of length 0
  EXPECT_TRUE(refused(h, cdics));
  h = good;
  Put32(h, 24, 0x03);  // a 3-bit code not marked as known from its first byte
  EXPECT_TRUE(refused(h, cdics));
  std::vector<std::string> c = cdics;
  c[0][0] = 'X';
  EXPECT_TRUE(refused(good, c));
  c = cdics;
  c[0].resize(20);  // the offsets table cut
  EXPECT_TRUE(refused(good, c));
  // A phrase whose offset points past its record reads as empty.
  c = {Cdic({{"a", true}, {"b", true}}, 1)};
  c[0][18] = '\x7F';
  TMobiHuffCdic lost(FixedHuff(1), Views(c));
  std::string out;
  EXPECT_TRUE(lost.Decode("\x55", out, 100));
  EXPECT_EQ(out, "aaaa");
}

}  // namespace
}  // namespace lkw
