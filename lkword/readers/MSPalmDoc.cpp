#include "lkword/readers/MSPalmDoc.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

constexpr int64_t kHeaderSize = 78;
constexpr int64_t kRecordEntrySize = 8;
constexpr int64_t kRecord0Size = 16;
constexpr int64_t kPeanutHeaderSize = 116;
constexpr uint16_t kPalmDocCompression = 2;
constexpr uint16_t kPeanutRecSize = 4096;
// Peanut Press scrambles every byte of its text records with this value.
constexpr uint8_t kPeanutMask = 0xA5;
// One compressed input byte yields at most 2 output bytes (0xC0..0xFF), one
// 2-byte back-reference at most 10: output never exceeds 5x the input.
constexpr size_t kMaxExpansion = 5;

const char* const SNotValidPalmDoc = "Not valid PalmDoc text file.";

uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Appends the decompression of one record to Dest. Back-references only
// reach into this record's own output (records are compressed independently).
void DecompressAppend(const uint8_t* src, size_t len, RawByteString& Dest) {
  const size_t base = Dest.size();
  Dest.resize(base + len * kMaxExpansion);
  char* const start = Dest.data() + base;
  char* out = start;
  size_t i = 0;
  while (i < len) {
    uint8_t c = src[i++];
    if (c == 0x00) {
      *out++ = ' ';
    } else if (c <= 0x08) {
      // A run cut short by the end of the record keeps what is there.
      size_t n = std::min<size_t>(c, len - i);
      std::memcpy(out, src + i, n);
      out += n;
      i += n;
    } else if (c <= 0x7F) {
      *out++ = static_cast<char>(c);
    } else if (c <= 0xBF) {
      if (i >= len) break;  // lone first byte of a pair: nothing to copy
      uint16_t pair = static_cast<uint16_t>((c << 8) | src[i++]);
      size_t distance = (pair & 0x3FFF) >> 3;
      size_t count = (pair & 7) + 3;
      size_t produced = static_cast<size_t>(out - start);
      // Corrupt reference (nothing there to copy): skipped.
      if (distance == 0 || distance > produced) continue;
      const char* from = out - distance;
      if (distance >= count) {
        std::memcpy(out, from, count);
        out += count;
      } else {
        // Overlapping: repeats the last `distance` bytes.
        for (size_t k = 0; k < count; ++k) *out++ = from[k];
      }
    } else {
      *out++ = ' ';
      *out++ = static_cast<char>(c ^ 0x80);
    }
  }
  Dest.resize(base + static_cast<size_t>(out - start));
}

}  // namespace

TPalmDocFile::TPalmDocFile(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TPalmDocFile::~TPalmDocFile() { ClearInternalLists(); }

void TPalmDocFile::ClearInternalLists() { TMSWBaseDocument::ClearInternalLists(); }

bool TPalmDocFile::IsPeanutFile() const {
  return std::memcmp(FHeader.PDBType, "PNRD", 4) == 0 && std::memcmp(FHeader.Creator, "PPRS", 4) == 0;
}

RawByteString TPalmDocFile::DecompressText(const uint8_t* Source, size_t Length, uint16_t RecSize) {
  RawByteString out;
  out.reserve(std::min<size_t>(std::max<size_t>(RecSize, Length), Length * kMaxExpansion));
  if (Source && Length) DecompressAppend(Source, Length, out);
  return out;
}

void TPalmDocFile::LoadFromFile(const std::string& AFileName) {
  TMSWBaseDocument::LoadFromFile(AFileName);
  TFileStream stream(AFileName, fmOpenRead | fmShareDenyNone);
  stream.Seek(0, soBeginning);
  LoadFromStream(stream);
}

void TPalmDocFile::ReadDatabaseHeader(TStream& Stream) {
  FHeader = TPDBHeader{};
  FRecord0 = TPDB_DocRecord0{};

  uint8_t h[kHeaderSize];
  Stream.Seek(0, soBeginning);
  Stream.ReadBuffer(h, kHeaderSize);
  std::memcpy(FHeader.Name, h, 32);
  FHeader.Attributes = BE16(h + 32);
  FHeader.Version = BE16(h + 34);
  FHeader.CreateTime = BE32(h + 36);
  FHeader.ModifyTime = BE32(h + 40);
  FHeader.BackupTime = BE32(h + 44);
  FHeader.ModificationNumber = BE32(h + 48);
  FHeader.AppInfoIDc = BE32(h + 52);
  FHeader.SortInfoID = BE32(h + 56);
  std::memcpy(FHeader.PDBType, h + 60, 4);
  std::memcpy(FHeader.Creator, h + 64, 4);
  FHeader.IDSeed = BE32(h + 68);
  FHeader.NextRecordList = BE32(h + 72);
  FHeader.NumRecords = BE16(h + 76);

  bool isDoc = std::memcmp(FHeader.PDBType, "TEXt", 4) == 0 && std::memcmp(FHeader.Creator, "REAd", 4) == 0;
  if (!isDoc && !IsPeanutFile()) throw Exception(SNotValidPalmDoc);
}

void TPalmDocFile::LoadFromStream(TStream& Stream) {
  TMSWBaseDocument::LoadFromStream(Stream);
  ReadDatabaseHeader(Stream);

  const int64_t streamSize = Stream.Size();

  // The record list, as far as the file really holds it. Entry 0 must exist.
  uint8_t entry0[4];
  Stream.Seek(kHeaderSize, soBeginning);
  Stream.ReadBuffer(entry0, 4);
  const uint32_t record0Offset = BE32(entry0);
  std::vector<uint32_t> offsets;
  {
    int64_t listBytes = std::min<int64_t>(int64_t{FHeader.NumRecords} * kRecordEntrySize,
                                          std::max<int64_t>(streamSize - kHeaderSize, 0));
    RawByteString list;
    Stream.Seek(kHeaderSize, soBeginning);
    list = Stream.ReadBytes(listBytes);
    size_t n = list.size() >= 4 ? (list.size() - 4) / kRecordEntrySize + 1 : 0;
    offsets.reserve(n);
    for (size_t i = 0; i < n; ++i)
      offsets.push_back(BE32(reinterpret_cast<const uint8_t*>(list.data()) + i * kRecordEntrySize));
  }
  // Records 1.. are text at most as far as the list reaches.
  const uint32_t listText = offsets.empty() ? 0 : static_cast<uint32_t>(offsets.size() - 1);

  const bool peanut = IsPeanutFile();
  uint16_t compression;
  uint32_t claimed;  // text records the book itself declares (0: none declared)
  Stream.Seek(record0Offset, soBeginning);
  if (peanut) {
    uint8_t r[kPeanutHeaderSize];
    Stream.ReadBuffer(r, kPeanutHeaderSize);
    compression = BE16(r);
    uint16_t num = BE16(r + 8);
    FRecord0.Version = compression;
    FRecord0.NumRecords = num;
    FRecord0.RecSize = kPeanutRecSize;
    claimed = num ? num - 1u : 0u;
    if (num == 0) claimed = listText;
  } else {
    uint8_t r[kRecord0Size];
    Stream.ReadBuffer(r, kRecord0Size);
    FRecord0.Version = BE16(r);
    FRecord0.spare = BE16(r + 2);
    FRecord0.DocSize = BE32(r + 4);
    FRecord0.NumRecords = BE16(r + 8);
    FRecord0.RecSize = BE16(r + 10);
    FRecord0.Position = BE32(r + 12);
    compression = FRecord0.Version;
    claimed = FRecord0.NumRecords ? FRecord0.NumRecords : listText;
  }
  // Trailing bookmark/metadata records are not text: trust the book's own
  // count when the record list can hold it.
  const uint32_t textRecords = claimed <= listText ? claimed : listText;

  if (FParseItems.Contains(wpiSummaryInformation)) {
    size_t n = 0;
    while (n < sizeof FHeader.Name && FHeader.Name[n] != '\0') ++n;
    SummaryInformation().SetTitle(MultiByteToWide(GetACP(), std::string_view(FHeader.Name, n)));
  }

  if (!FParseItems.Contains(wpiText)) return;

  AddText(GetTextStart());

  const uint32_t cp = GetACP();
  RawByteString record;
  RawByteString pending;  // decoded bytes not yet emitted as a complete line
  WideString rendered;
  // Overlapping or repeated record ranges in a corrupt list must not make us
  // process more bytes than the file holds.
  int64_t budget = streamSize;

  auto emitLine = [&](const char* p, size_t n) {
    WideString line = MultiByteToWide(cp, std::string_view(p, n));
    switch (FTextFormating) {
      case tfPlainText:
        AddText(line);
        return;
      case tfRTF:
        rendered.clear();
        AppendEscaped(rendered, line, tfRTF);
        rendered += u"\\par";
        break;
      case tfHTML:
        rendered.clear();
        AppendEscaped(rendered, line, tfHTML);
        rendered += u"<br>";
        break;
    }
    AddText(rendered);
  };

  // Emits every complete line of `pending`; a CR at its very end waits for
  // the next record, which may start with the LF of the same line break.
  auto emitLines = [&](bool final) {
    const char* data = pending.data();
    const size_t size = pending.size();
    size_t pos = 0;
    while (pos < size && !IsCancelExtract) {
      const void* lf = std::memchr(data + pos, '\n', size - pos);
      size_t lfPos = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) : size;
      const void* cr = std::memchr(data + pos, '\r', lfPos - pos);
      if (cr) {
        size_t crPos = static_cast<size_t>(static_cast<const char*>(cr) - data);
        if (crPos + 1 == size && !final) break;
        emitLine(data + pos, crPos - pos);
        pos = crPos + 1;
        if (pos < size && data[pos] == '\n') ++pos;
        continue;
      }
      if (!lf) {
        if (final) {
          emitLine(data + pos, size - pos);
          pos = size;
        }
        break;
      }
      emitLine(data + pos, lfPos - pos);
      pos = lfPos + 1;
    }
    pending.erase(0, pos);
  };

  for (uint32_t i = 1; i <= textRecords && !IsCancelExtract; ++i) {
    int64_t start = offsets[i];
    int64_t end = i + 1 < offsets.size() ? int64_t{offsets[i + 1]} : streamSize;
    end = std::min(end, streamSize);
    int64_t len = end > start ? std::min(end - start, budget) : 0;
    record.clear();
    if (len > 0) {
      // A truncated file yields only the bytes that are really there.
      Stream.Seek(start, soBeginning);
      record.resize(static_cast<size_t>(len));
      int64_t got = Stream.Read(record.data(), len);
      record.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
      budget -= static_cast<int64_t>(record.size());
    }
    if (peanut)
      for (char& c : record) c = static_cast<char>(static_cast<uint8_t>(c) ^ kPeanutMask);
    if (compression == kPalmDocCompression)
      DecompressAppend(reinterpret_cast<const uint8_t*>(record.data()), record.size(), pending);
    else
      pending += record;
    emitLines(false);
  }
  if (!IsCancelExtract) emitLines(true);

  AddText(GetTextFinish());
}

}  // namespace lkw
