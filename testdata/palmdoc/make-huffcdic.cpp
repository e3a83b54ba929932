// Writes a Mobipocket book of the HTML in INPUT, HUFF/CDIC-compressed with
// the coder of the unit tests, as OUTPUT (the fuzz seed
// fuzz/corpus/palmdoc/mobi-huffcdic.mobi). From the project root:
//   g++ -std=c++20 -I. -o make-huffcdic testdata/palmdoc/make-huffcdic.cpp
//   ./make-huffcdic INPUT OUTPUT [BITS]
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "testing/MobiHuffCoder.h"

namespace {

void Put16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, v >> 16);
  Put16(s, at + 2, v & 0xFFFF);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string html = ss.str();
  std::vector<std::string> chunks;
  for (size_t i = 0; i < html.size(); i += 4096) chunks.push_back(html.substr(i, 4096));
  const lkw::testing::THuffCoder huff(chunks, argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 8);
  const std::string name = "Huff Sample";
  std::vector<std::string> recs(1);
  for (const std::string& r : huff.Records()) recs.push_back(r);
  const uint32_t huffAt = static_cast<uint32_t>(recs.size());
  recs.push_back(huff.Huff());
  for (const std::string& c : huff.Cdics()) recs.push_back(c);
  // Record 0: the PalmDoc fields (compression 17480), then the MOBI header
  // (UTF-8, the full name, where the HUFF/CDIC records are).
  std::string r0(16, '\0');
  Put16(r0, 0, 17480);
  Put32(r0, 4, static_cast<uint32_t>(html.size()));
  Put16(r0, 8, static_cast<uint32_t>(chunks.size()));
  Put16(r0, 10, 4096);
  std::string m(232, '\0');
  m.replace(0, 4, "MOBI");
  Put32(m, 4, 232);
  Put32(m, 8, 2);
  Put32(m, 12, 65001);
  Put32(m, 20, 6);
  Put32(m, 68, 16 + 232);
  Put32(m, 72, static_cast<uint32_t>(name.size()));
  Put32(m, 96, huffAt);
  Put32(m, 100, static_cast<uint32_t>(1 + huff.Cdics().size()));
  recs[0] = r0 + m + name + std::string(2, '\0');
  std::string out(78 + 8 * recs.size() + 2, '\0');
  out.replace(0, name.size(), name);
  out.replace(60, 8, "BOOKMOBI");
  Put16(out, 76, static_cast<uint32_t>(recs.size()));
  uint32_t pos = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < recs.size(); ++i) {
    Put32(out, 78 + 8 * i, pos);
    Put32(out, 78 + 8 * i + 4, static_cast<uint32_t>(2 * i));
    pos += static_cast<uint32_t>(recs[i].size());
  }
  for (const std::string& r : recs) out += r;
  std::ofstream(argv[2], std::ios::binary) << out;
  return 0;
}
