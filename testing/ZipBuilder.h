// Test-only: small zip archives built in code, so that tests and fuzz
// harnesses can hand the readers packages whose members they choose.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "lkword/containers/LKWZipFile.h"

namespace lkw::testing {

inline void PutLE(std::string& S, uint64_t V, int Bytes) {
  for (int i = 0; i < Bytes; ++i) S += static_cast<char>((V >> (8 * i)) & 0xFF);
}

// Data deflated without a zlib header, as zip members hold it.
inline std::string RawDeflate(std::string_view Data, int Level = Z_BEST_COMPRESSION) {
  z_stream zs{};
  if (deflateInit2(&zs, Level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&zs, static_cast<uLong>(Data.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  zs.avail_in = static_cast<uInt>(Data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// An archive of Members (pairs of name and content, in order), stored or
// deflated, with its central directory; names are cut to what a zip holds.
template <typename TMembers>
std::string MakeZip(const TMembers& Members, bool Deflated = false) {
  std::string out, dir;
  uint32_t count = 0;
  for (const auto& member : Members) {
    const std::string_view name = std::string_view(member.first).substr(0, 0xFFFF);
    const std::string_view data = member.second;
    const std::string packed = Deflated ? RawDeflate(data) : std::string(data);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    auto common = [&](std::string& S) {
      PutLE(S, 20, 2);  // version needed
      PutLE(S, 0, 2);   // flags
      PutLE(S, Deflated ? ZipMethodDeflated : ZipMethodStored, 2);
      PutLE(S, 0, 4);  // time and date
      PutLE(S, ZipCRC32(data), 4);
      PutLE(S, packed.size(), 4);
      PutLE(S, data.size(), 4);
      PutLE(S, name.size(), 2);
      PutLE(S, 0, 2);  // extra field
    };
    PutLE(out, ZipLocalFileHeaderSignature, 4);
    common(out);
    out.append(name).append(packed);
    PutLE(dir, ZipCentralFileHeaderSignature, 4);
    PutLE(dir, 20, 2);  // made by
    common(dir);
    PutLE(dir, 0, 6);  // comment length, disk, internal attributes
    PutLE(dir, 0, 4);  // external attributes
    PutLE(dir, offset, 4);
    dir.append(name);
    ++count;
  }
  const uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  PutLE(out, ZipEndOfCentralDirSignature, 4);
  PutLE(out, 0, 4);
  PutLE(out, count & 0xFFFF, 2);
  PutLE(out, count & 0xFFFF, 2);
  PutLE(out, dir.size(), 4);
  PutLE(out, dirOffset, 4);
  PutLE(out, 0, 2);
  return out;
}

}  // namespace lkw::testing
