// Test-only: writes small, well-formed compound files so that tests can build
// their inputs in code (and then damage them on purpose).
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Types.h"

namespace lkw::testing {

class TCfbBuilder {
 public:
  // SectorShift 9 (version 3, 512-byte sectors) or 12 (version 4).
  explicit TCfbBuilder(uint32_t SectorShift = 9) : FShift(SectorShift) {}

  // Path components are separated by '/'; missing storages are created.
  void AddStream(const std::string& Path, std::string Data) { Node(Path, false).Data = std::move(Data); }
  void AddStorage(const std::string& Path) { Node(Path, true); }

  // The file; afterwards StreamSector() tells where a stream's data starts.
  std::string Build();

  // First sector of a regular stream (or mini sector of a small one).
  uint32_t StreamSector(const std::string& Path) const { return FStart.at(Path); }
  uint32_t SectorSize() const { return 1u << FShift; }
  // File offset of the FAT entry of sector S (FAT sectors come first).
  size_t FatEntryOffset(uint32_t S) const {
    uint32_t per = SectorSize() / 4;
    return (size_t{S / per} + 1) * SectorSize() + 4 * (S % per);
  }
  uint32_t DirectoryFirstSector() const { return FDirFirst; }
  uint32_t NumFatSectors() const { return FNumFat; }
  uint32_t NumDifatSectors() const { return FNumDifat; }

  static void Put32(std::string& B, size_t Off, uint32_t V) {
    for (int i = 0; i < 4; ++i) B[Off + i] = static_cast<char>((V >> (8 * i)) & 0xFF);
  }
  static void Put16(std::string& B, size_t Off, uint16_t V) {
    B[Off] = static_cast<char>(V & 0xFF);
    B[Off + 1] = static_cast<char>(V >> 8);
  }

 private:
  struct TNode {
    std::string Name;
    bool Storage = false;
    std::string Data;
    std::vector<size_t> Kids;  // indices into FNodes
    uint32_t Dir = 0;
    uint32_t Start = 0xFFFFFFFE;
  };

  TNode& Node(const std::string& Path, bool Storage) {
    if (FNodes.empty()) FNodes.push_back({"Root Entry", true, {}, {}, 0, 0xFFFFFFFE});
    size_t cur = 0;
    size_t pos = 0;
    while (true) {
      size_t slash = Path.find('/', pos);
      std::string part = Path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
      bool last = slash == std::string::npos;
      size_t found = SIZE_MAX;
      for (size_t k : FNodes[cur].Kids)
        if (FNodes[k].Name == part) found = k;
      if (found == SIZE_MAX) {
        FNodes.push_back({part, last ? Storage : true, {}, {}, 0, 0xFFFFFFFE});
        found = FNodes.size() - 1;
        FNodes[cur].Kids.push_back(found);
        FPaths[found] = (cur == 0 ? "" : FPaths[cur] + "/") + part;
      }
      cur = found;
      if (last) return FNodes[cur];
      pos = slash + 1;
    }
  }

  static bool Less(const std::string& A, const std::string& B) {
    if (A.size() != B.size()) return A.size() < B.size();
    for (size_t i = 0; i < A.size(); ++i) {
      char a = static_cast<char>(std::toupper(static_cast<unsigned char>(A[i])));
      char b = static_cast<char>(std::toupper(static_cast<unsigned char>(B[i])));
      if (a != b) return a < b;
    }
    return false;
  }

  uint32_t FShift;
  std::vector<TNode> FNodes;
  std::map<size_t, std::string> FPaths;
  std::map<std::string, uint32_t> FStart;
  uint32_t FDirFirst = 0;
  uint32_t FNumFat = 0;
  uint32_t FNumDifat = 0;
};

inline std::string TCfbBuilder::Build() {
  if (FNodes.empty()) FNodes.push_back({"Root Entry", true, {}, {}, 0, 0xFFFFFFFE});
  const uint32_t ss = SectorSize();
  const uint32_t ENDC = 0xFFFFFFFE, FREE = 0xFFFFFFFF, NOS = 0xFFFFFFFF;

  // Directory order: root first, then nodes in creation order.
  for (size_t i = 0; i < FNodes.size(); ++i) FNodes[i].Dir = static_cast<uint32_t>(i);

  // Mini stream and mini FAT for small streams.
  std::string mini;
  std::vector<uint32_t> miniFat;
  for (size_t i = 1; i < FNodes.size(); ++i) {
    TNode& n = FNodes[i];
    if (n.Storage || n.Data.empty() || n.Data.size() >= 4096) continue;
    uint32_t first = static_cast<uint32_t>(miniFat.size());
    uint32_t count = static_cast<uint32_t>((n.Data.size() + 63) / 64);
    for (uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 < count ? first + k + 1 : ENDC);
    n.Start = first;
    FStart[FPaths[i]] = first;
    std::string padded = n.Data;
    padded.resize(count * 64, '\0');
    mini += padded;
  }

  auto sectorsFor = [&](size_t bytes) { return static_cast<uint32_t>((bytes + ss - 1) / ss); };
  uint32_t dirSectors = sectorsFor(FNodes.size() * 128);
  uint32_t miniFatSectors = sectorsFor(miniFat.size() * 4);
  uint32_t miniSectors = sectorsFor(mini.size());
  uint32_t dataSectors = dirSectors + miniFatSectors + miniSectors;
  for (size_t i = 1; i < FNodes.size(); ++i)
    if (!FNodes[i].Storage && FNodes[i].Data.size() >= 4096) dataSectors += sectorsFor(FNodes[i].Data.size());

  const uint32_t per = ss / 4;
  uint32_t numFat = 1, numDifat = 0;
  while (true) {
    numDifat = numFat > 109 ? (numFat - 109 + per - 2) / (per - 1) : 0;
    if (uint64_t{numFat} * per >= uint64_t{dataSectors} + numFat + numDifat) break;
    ++numFat;
  }
  FNumFat = numFat;
  FNumDifat = numDifat;

  std::vector<uint32_t> fat(size_t{numFat} * per, FREE);
  uint32_t next = 0;
  for (uint32_t k = 0; k < numFat; ++k) fat[next++] = 0xFFFFFFFD;
  uint32_t difatFirst = next;
  for (uint32_t k = 0; k < numDifat; ++k) fat[next++] = 0xFFFFFFFC;
  auto chain = [&](uint32_t count) {
    uint32_t first = next;
    for (uint32_t k = 0; k < count; ++k, ++next) fat[next] = k + 1 < count ? next + 1 : ENDC;
    return count ? first : ENDC;
  };
  FDirFirst = chain(dirSectors);
  uint32_t miniFatFirst = chain(miniFatSectors);
  uint32_t miniFirst = chain(miniSectors);
  for (size_t i = 1; i < FNodes.size(); ++i) {
    TNode& n = FNodes[i];
    if (n.Storage || n.Data.size() < 4096) continue;
    n.Start = chain(sectorsFor(n.Data.size()));
    FStart[FPaths[i]] = n.Start;
  }
  FNodes[0].Start = miniFirst;

  const size_t headerBytes = ss;
  std::string out(headerBytes + size_t{next} * ss, '\0');
  auto sec = [&](uint32_t s) { return headerBytes + size_t{s} * ss; };

  // Header.
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(sig[i]);
  Put16(out, 24, 0x3E);
  Put16(out, 26, FShift == 12 ? 4 : 3);
  Put16(out, 28, 0xFFFE);
  Put16(out, 30, static_cast<uint16_t>(FShift));
  Put16(out, 32, 6);
  Put32(out, 40, FShift == 12 ? dirSectors : 0);
  Put32(out, 44, numFat);
  Put32(out, 48, FDirFirst);
  Put32(out, 56, 4096);
  Put32(out, 60, miniFat.empty() ? ENDC : miniFatFirst);
  Put32(out, 64, miniFatSectors);
  Put32(out, 68, numDifat ? difatFirst : ENDC);
  Put32(out, 72, numDifat);
  for (uint32_t k = 0; k < 109; ++k) Put32(out, 76 + 4 * k, k < numFat ? k : FREE);
  for (uint32_t d = 0; d < numDifat; ++d) {
    size_t base = sec(difatFirst + d);
    for (uint32_t k = 0; k < per - 1; ++k) {
      uint32_t idx = 109 + d * (per - 1) + k;
      Put32(out, base + 4 * k, idx < numFat ? idx : FREE);
    }
    Put32(out, base + 4 * (per - 1), d + 1 < numDifat ? difatFirst + d + 1 : ENDC);
  }
  for (size_t k = 0; k < fat.size(); ++k) Put32(out, sec(0) + 4 * k, fat[k]);

  // Directory: each storage's children as a balanced binary tree in
  // (length, upper-case) order.
  std::vector<uint32_t> left(FNodes.size(), NOS), right(FNodes.size(), NOS), child(FNodes.size(), NOS);
  for (size_t i = 0; i < FNodes.size(); ++i) {
    std::vector<size_t> kids = FNodes[i].Kids;
    std::sort(kids.begin(), kids.end(), [&](size_t a, size_t b) { return Less(FNodes[a].Name, FNodes[b].Name); });
    struct Builder {
      std::vector<size_t>& K;
      std::vector<uint32_t>& L;
      std::vector<uint32_t>& R;
      uint32_t Make(size_t lo, size_t hi) {
        if (lo >= hi) return 0xFFFFFFFF;
        size_t mid = (lo + hi) / 2;
        L[K[mid]] = Make(lo, mid);
        R[K[mid]] = Make(mid + 1, hi);
        return static_cast<uint32_t>(K[mid]);
      }
    } b{kids, left, right};
    child[i] = b.Make(0, kids.size());
  }
  for (size_t i = 0; i < FNodes.size(); ++i) {
    size_t base = sec(FDirFirst) + i * 128;
    WideString name = Utf8ToWide(FNodes[i].Name);
    for (size_t k = 0; k < name.size() && k < 31; ++k) Put16(out, base + 2 * k, name[k]);
    Put16(out, base + 64, static_cast<uint16_t>((std::min<size_t>(name.size(), 31) + 1) * 2));
    out[base + 66] = static_cast<char>(i == 0 ? 5 : FNodes[i].Storage ? 1 : 2);
    out[base + 67] = 1;  // black
    Put32(out, base + 68, left[i]);
    Put32(out, base + 72, right[i]);
    Put32(out, base + 76, child[i]);
    Put32(out, base + 116, i == 0 ? (mini.empty() ? ENDC : FNodes[0].Start) : FNodes[i].Start);
    Put32(out, base + 120, static_cast<uint32_t>(i == 0 ? mini.size() : FNodes[i].Data.size()));
  }
  for (size_t i = FNodes.size(); i < size_t{dirSectors} * ss / 128; ++i) {
    size_t base = sec(FDirFirst) + i * 128;
    Put32(out, base + 68, NOS);
    Put32(out, base + 72, NOS);
    Put32(out, base + 76, NOS);
  }
  for (size_t k = 0; k < miniFat.size(); ++k) Put32(out, sec(miniFatFirst) + 4 * k, miniFat[k]);
  for (size_t k = miniFat.size(); k < size_t{miniFatSectors} * per; ++k) Put32(out, sec(miniFatFirst) + 4 * k, FREE);
  if (!mini.empty()) out.replace(sec(miniFirst), mini.size(), mini);
  for (size_t i = 1; i < FNodes.size(); ++i) {
    const TNode& n = FNodes[i];
    if (n.Storage || n.Data.size() < 4096) continue;
    out.replace(sec(n.Start), n.Data.size(), n.Data);
  }
  return out;
}

}  // namespace lkw::testing
