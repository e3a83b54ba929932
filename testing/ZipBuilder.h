// Test-only: small zip archives built in code, so that tests and fuzz
// harnesses can hand the readers packages whose members they choose, and
// the zip reader archives whose headers lie.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One member, with whatever its headers should claim instead of the truth.
struct TZipEntry {
  std::string Name;
  std::string Data;  // uncompressed content
  uint16_t Method = ZipMethodDeflated;
  std::optional<uint32_t> DeclaredSize = std::nullopt;
  std::optional<uint32_t> Crc = std::nullopt;
  std::optional<std::string> Raw = std::nullopt;  // the member's bytes as written
  std::optional<uint32_t> LocalOffset = std::nullopt;
};

// An archive of Entries in order, with its central directory and Comment;
// names are cut to what a zip holds.
inline std::string BuildZip(const std::vector<TZipEntry>& Entries, std::string_view Comment = {}) {
  std::string out, dir;
  for (const TZipEntry& e : Entries) {
    const std::string_view name = std::string_view(e.Name).substr(0, 0xFFFF);
    const std::string raw = e.Raw ? *e.Raw : e.Method == ZipMethodStored ? e.Data : RawDeflate(e.Data);
    const uint32_t crc = e.Crc ? *e.Crc : ZipCRC32(e.Data);
    const uint32_t size = e.DeclaredSize ? *e.DeclaredSize : static_cast<uint32_t>(e.Data.size());
    const uint32_t offset = static_cast<uint32_t>(out.size());
    auto common = [&](std::string& S) {
      PutLE(S, 20, 2);  // version needed
      PutLE(S, 0, 2);   // flags
      PutLE(S, e.Method, 2);
      PutLE(S, 0, 4);  // time and date
      PutLE(S, crc, 4);
      PutLE(S, raw.size(), 4);
      PutLE(S, size, 4);
      PutLE(S, name.size(), 2);
      PutLE(S, 0, 2);  // extra field
    };
    PutLE(out, ZipLocalFileHeaderSignature, 4);
    common(out);
    out.append(name).append(raw);
    PutLE(dir, ZipCentralFileHeaderSignature, 4);
    PutLE(dir, 20, 2);  // made by
    common(dir);
    PutLE(dir, 0, 6);  // comment length, disk, internal attributes
    PutLE(dir, 0, 4);  // external attributes
    PutLE(dir, e.LocalOffset ? *e.LocalOffset : offset, 4);
    dir.append(name);
  }
  const uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  PutLE(out, ZipEndOfCentralDirSignature, 4);
  PutLE(out, 0, 4);
  PutLE(out, Entries.size() & 0xFFFF, 2);
  PutLE(out, Entries.size() & 0xFFFF, 2);
  PutLE(out, dir.size(), 4);
  PutLE(out, dirOffset, 4);
  PutLE(out, Comment.size(), 2);
  return out.append(Comment);
}

// An archive of Members (pairs of name and content, in order), stored or
// deflated.
template <typename TMembers>
std::string MakeZip(const TMembers& Members, bool Deflated = false) {
  std::vector<TZipEntry> entries;
  for (const auto& member : Members)
    entries.push_back({.Name = std::string(member.first),
                       .Data = std::string(member.second),
                       .Method = Deflated ? ZipMethodDeflated : ZipMethodStored});
  return BuildZip(entries);
}

}  // namespace lkw::testing
