// Palm databases for tests: big-endian fields, a database of given records,
// PalmDoc compression that uses only literals, and a host's stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace lkw::testing {

inline void PutBE16(std::string& S, size_t At, uint32_t V) {
  S[At] = static_cast<char>(V >> 8);
  S[At + 1] = static_cast<char>(V);
}
inline void PutBE32(std::string& S, size_t At, uint32_t V) {
  PutBE16(S, At, V >> 16);
  PutBE16(S, At + 2, V & 0xFFFF);
}

// The offset of database record list entry I.
constexpr size_t PalmEntryAt(size_t I) { return 78 + 8 * I; }

// A Palm database named Name, of the given type and creator ("TEXtREAd"),
// holding Records in order; HeaderCount, when not negative, is the record
// count it declares.
inline std::string PalmDatabase(const std::string& TypeCreator, const std::vector<std::string>& Records,
                                const std::string& Name = "eBook1", int HeaderCount = -1) {
  std::string out(PalmEntryAt(Records.size()) + 2, '\0');
  out.replace(0, std::min<size_t>(Name.size(), 32), Name.substr(0, 32));
  out.replace(60, 8, TypeCreator);
  PutBE16(out, 76, HeaderCount < 0 ? static_cast<uint32_t>(Records.size()) : static_cast<uint32_t>(HeaderCount));
  uint32_t pos = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < Records.size(); ++i) {
    PutBE32(out, PalmEntryAt(i), pos);
    pos += static_cast<uint32_t>(Records[i].size());
  }
  for (const auto& r : Records) out += r;
  return out;
}

// PalmDoc compression of Data that uses only literals: bytes outside
// 0x09..0x7F go as runs of one.
inline std::string PalmDocLiterals(const std::string& Data) {
  std::string out;
  for (const char c : Data) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 0x09 && b <= 0x7F) {
      out += c;
    } else {
      out += '\x01';
      out += c;
    }
  }
  return out;
}

// A host's stream that is no memory stream, so records are read from it;
// every read that reaches byte FailAt fails.
class THostStream : public TStream {
 public:
  explicit THostStream(const std::string& Bytes, int64_t FailAt = INT64_MAX) : FBytes(Bytes), FFailAt(FailAt) {}
  int64_t Read(void* Buffer, int64_t Count) override {
    if (Count > 0 && FBytes.Position() + Count > FFailAt) throw EReadError("disk gone");
    return FBytes.Read(Buffer, Count);
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FBytes.Seek(Offset, Origin); }
  int64_t Size() override { return FBytes.Size(); }

 private:
  TBytesStream FBytes;
  int64_t FFailAt;
};

}  // namespace lkw::testing
