// Test-only: writes small Word for the Macintosh 4/5 files (one plain,
// big-endian file: header, text from 0x100, piece table) so that tests and
// fuzz seeds can be made in code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lkw::testing {

class TMacWordBuilder {
 public:
  // The pieces' text (Mac Roman bytes) in character order; the stories are
  // cut from their concatenation by Ccp (text, footnotes, headers).
  std::vector<std::string> Pieces;
  // Where the pieces' bytes go, as a permutation of their indices. Empty:
  // in order.
  std::vector<size_t> FileOrder;
  int32_t Ccp[3] = {-1, 0, 0};  // -1: everything is main text
  uint16_t Version = 0x23;      // 0x1C for Word 4
  bool FastSaved = true;
  bool WithClx = true;
  // A stored property group written before the piece list (empty: none).
  std::string Group;

  // Where Build put the piece list's CPs and descriptors, for tests that
  // damage them.
  size_t CpsAt = 0, PcdsAt = 0;

  std::string Build() {
    std::string d(0x100, '\0');
    d[0] = '\xFE';
    d[1] = '\x37';
    Put16(d, 2, Version);
    d[0x0A] = FastSaved ? '\x24' : '\0';
    std::vector<size_t> order = FileOrder;
    if (order.empty())
      for (size_t i = 0; i < Pieces.size(); ++i) order.push_back(i);
    std::vector<uint32_t> fcs(Pieces.size());
    for (size_t k : order) {
      fcs[k] = static_cast<uint32_t>(d.size());
      d += Pieces[k];
    }
    Put32(d, 0x14, 0x100);
    Put32(d, 0x18, static_cast<uint32_t>(d.size()));
    uint32_t cp = 0;
    std::vector<uint32_t> cps{0};
    for (const std::string& p : Pieces) cps.push_back(cp += static_cast<uint32_t>(p.size()));
    Put32(d, 0x24, static_cast<uint32_t>(Ccp[0] < 0 ? cp : Ccp[0]));
    Put32(d, 0x28, static_cast<uint32_t>(Ccp[1]));
    Put32(d, 0x2C, static_cast<uint32_t>(Ccp[2]));
    if (WithClx) {
      const size_t at = d.size();
      if (!Group.empty()) {
        d += '\x01';
        Append16(d, static_cast<uint16_t>(Group.size()));
        d += Group;
      }
      d += '\x02';
      Append16(d, static_cast<uint16_t>(4 + 12 * Pieces.size()));
      CpsAt = d.size();
      for (uint32_t c : cps) Append32(d, c);
      PcdsAt = d.size();
      for (uint32_t fc : fcs) {
        d += std::string("\x80\x02", 2);
        Append32(d, fc);
        Append16(d, 0);
      }
      Put32(d, 0x40 + 6 * 18, static_cast<uint32_t>(at));
      Put16(d, 0x40 + 6 * 18 + 4, static_cast<uint16_t>(d.size() - at));
    }
    Put32(d, 0x1C, static_cast<uint32_t>(d.size()));
    return d;
  }

  static void Put16(std::string& S, size_t At, uint16_t V) {
    S[At] = static_cast<char>(V >> 8);
    S[At + 1] = static_cast<char>(V & 0xFF);
  }
  static void Put32(std::string& S, size_t At, uint32_t V) {
    Put16(S, At, static_cast<uint16_t>(V >> 16));
    Put16(S, At + 2, static_cast<uint16_t>(V & 0xFFFF));
  }
  static void Append16(std::string& S, uint16_t V) {
    S.append(2, '\0');
    Put16(S, S.size() - 2, V);
  }
  static void Append32(std::string& S, uint32_t V) {
    S.append(4, '\0');
    Put32(S, S.size() - 4, V);
  }
};

}  // namespace lkw::testing
