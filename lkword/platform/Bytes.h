// Integers stored in file bytes, little- or big-endian. The caller has
// checked that the bytes are there; the string forms check it themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace lkw {

inline uint16_t LoadLE16(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t LoadLE32(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
inline uint64_t LoadLE64(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return uint64_t{LoadLE32(b)} | (uint64_t{LoadLE32(b + 4)} << 32);
}
inline uint16_t LoadBE16(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t LoadBE32(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}
inline uint64_t LoadBE64(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return (uint64_t{LoadBE32(b)} << 32) | uint64_t{LoadBE32(b + 4)};
}

// The value at Offset of S, or 0 when S does not hold all its bytes.
inline uint16_t LoadLE16(std::string_view S, size_t Offset) {
  return Offset <= S.size() && S.size() - Offset >= 2 ? LoadLE16(S.data() + Offset) : 0;
}
inline uint32_t LoadLE32(std::string_view S, size_t Offset) {
  return Offset <= S.size() && S.size() - Offset >= 4 ? LoadLE32(S.data() + Offset) : 0;
}
inline uint16_t LoadBE16(std::string_view S, size_t Offset) {
  return Offset <= S.size() && S.size() - Offset >= 2 ? LoadBE16(S.data() + Offset) : 0;
}
inline uint32_t LoadBE32(std::string_view S, size_t Offset) {
  return Offset <= S.size() && S.size() - Offset >= 4 ? LoadBE32(S.data() + Offset) : 0;
}

}  // namespace lkw
