// Test-only: the little-endian writers the tests of the small legacy readers
// (WordPerfect, Write) build their files with.
#pragma once

#include <cstdint>
#include <string>

namespace lkw::testing {

inline void PutLE16(std::string& S, size_t At, uint32_t V) {
  S[At] = static_cast<char>(V & 0xFF);
  S[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}
inline void PutLE32(std::string& S, size_t At, uint32_t V) {
  PutLE16(S, At, V & 0xFFFF);
  PutLE16(S, At + 2, V >> 16);
}
inline std::string LE16Bytes(uint32_t V) {
  std::string s(2, '\0');
  PutLE16(s, 0, V);
  return s;
}

}  // namespace lkw::testing
