#include "lkword/word/MSWordVBA.h"

#include <algorithm>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

constexpr size_t kChunkSize = 4096;

WideString Utf16LE(std::string_view Bytes) {
  WideString w(Bytes.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<char16_t>(LoadLE16(Bytes, 2 * i));
  return w;
}

bool StartsWith(const WideString& S, std::u16string_view Prefix) {
  return S.size() >= Prefix.size() && std::u16string_view(S).substr(0, Prefix.size()) == Prefix;
}

// Sequential reads over a stream's bytes with the stream's own semantics:
// skips may run past the end, reads report how much they got.
class TByteReader {
 public:
  explicit TByteReader(std::string_view Data) : FData(Data) {}
  size_t Available() const { return FPos < FData.size() ? FData.size() - FPos : 0; }
  void Skip(size_t N) { FPos = N > SIZE_MAX - FPos ? SIZE_MAX : FPos + N; }
  void Back(size_t N) { FPos = N > FPos ? 0 : FPos - N; }
  bool Read16(uint16_t& V) {
    if (Available() < 2) return false;
    V = LoadLE16(FData, FPos);
    FPos += 2;
    return true;
  }
  bool Read32(uint32_t& V) {
    if (Available() < 4) return false;
    V = LoadLE32(FData, FPos);
    FPos += 4;
    return true;
  }
  bool Read8(uint8_t& V) {
    if (Available() < 1) return false;
    V = static_cast<uint8_t>(FData[FPos++]);
    return true;
  }
  // Up to N bytes (fewer at the end of the data).
  std::string_view Read(size_t N) {
    const size_t n = std::min(N, Available());
    std::string_view r = n ? FData.substr(FPos, n) : std::string_view();
    FPos += n;
    return r;
  }

 private:
  std::string_view FData;
  size_t FPos = 0;
};

// Length bits of a copy token produced Produced bytes into its chunk: the
// offset takes as many bits as it needs to reach back to the chunk start
// (at least 4), the length the rest of the 16.
unsigned CopyTokenLengthBits(size_t Produced) {
  unsigned offsetBits = 4;
  while (offsetBits < 12 && (size_t{1} << offsetBits) < Produced) ++offsetBits;
  return 16 - offsetBits;
}

// The container's first MaxChunks chunks, at most MaxSize bytes of them.
RawByteString Decompress(std::string_view Data, size_t MaxSize, size_t MaxChunks, bool* Malformed) {
  RawByteString out;
  bool bad = false;
  if (Data.empty() || Data[0] != 1) {
    if (Malformed) *Malformed = true;
    return out;
  }
  size_t pos = 1;
  for (size_t chunk = 0; chunk < MaxChunks && pos < Data.size() && out.size() < MaxSize && !bad; ++chunk) {
    if (Data.size() - pos < 2 || ((LoadLE16(Data, pos) >> 12) & 7) != 3) {
      // Some writers pad the stream with zeros after the last chunk.
      bad = !Malformed || Data.find_first_not_of('\0', pos) != std::string_view::npos;
      break;
    }
    const uint16_t header = LoadLE16(Data, pos);
    const size_t chunkEnd = pos + std::min<size_t>((header & 0x0FFF) + 3, Data.size() - pos);
    pos += 2;
    const size_t chunkStart = out.size();
    if ((header & 0x8000) == 0) {
      // A raw chunk: its bytes as they are.
      const size_t n = std::min({kChunkSize, Data.size() - pos, MaxSize - out.size()});
      out.append(Data.substr(pos, n));
      pos += n;
      continue;
    }
    while (pos < chunkEnd && !bad) {
      const uint8_t flags = static_cast<uint8_t>(Data[pos++]);
      for (int bit = 0; bit < 8 && pos < chunkEnd; ++bit) {
        const size_t produced = out.size() - chunkStart;
        if (out.size() >= MaxSize || produced >= kChunkSize) {
          bad = produced >= kChunkSize;
          pos = chunkEnd;
          break;
        }
        if ((flags & (1u << bit)) == 0) {
          out += Data[pos++];
          continue;
        }
        if (chunkEnd - pos < 2) {
          bad = true;
          break;
        }
        const uint16_t token = LoadLE16(Data, pos);
        pos += 2;
        const unsigned lengthBits = CopyTokenLengthBits(produced);
        const size_t length = (token & ((1u << lengthBits) - 1)) + 3;
        const size_t offset = (token >> lengthBits) + 1u;
        if (offset > produced || produced + length > kChunkSize) {
          bad = true;
          break;
        }
        const size_t n = std::min(length, MaxSize - out.size());
        // Byte by byte: a copy may overlap what it produces.
        for (size_t i = 0; i < n; ++i) out += out[out.size() - offset];
      }
    }
    pos = chunkEnd;
  }
  if (Malformed) *Malformed = bad;
  return out;
}

}  // namespace

bool IsVBAContainerAt(std::string_view Data, size_t Pos) {
  if (Pos >= Data.size() || Data.size() - Pos < 3 || Data[Pos] != 1) return false;
  return ((LoadLE16(Data, Pos + 1) >> 12) & 7) == 3;
}

RawByteString DecompressVBAContainer(std::string_view Data, size_t MaxSize, bool* Malformed) {
  return Decompress(Data, MaxSize, SIZE_MAX, Malformed);
}

size_t FindVBASourceContainer(std::string_view Data) {
  for (size_t pos = Data.find('\x01'); pos != std::string_view::npos; pos = Data.find('\x01', pos + 1)) {
    if (!IsVBAContainerAt(Data, pos)) continue;
    // The text's start lies in the first chunk: a chunk holds 4096 bytes.
    if (Decompress(Data.substr(pos), kVBAModuleSourceStart.size(), 1, nullptr) == kVBAModuleSourceStart) return pos;
  }
  return std::string_view::npos;
}

RawByteString ReadVBAModuleSource(std::string_view Stream, uint32_t Offset, bool* Malformed, size_t MaxSize) {
  size_t at = Offset;
  if (!IsVBAContainerAt(Stream, at)) at = FindVBASourceContainer(Stream);
  if (at == std::string_view::npos) {
    if (Malformed) *Malformed = true;
    return {};
  }
  return DecompressVBAContainer(Stream.substr(at), MaxSize, Malformed);
}

void ParseVBAProjectStream(std::string_view Data, TVBAProjectItems& Items) {
  TByteReader r(Data);
  r.Skip(34);

  // Reference records. "*\C" and "*\D" records come in pairs of which only
  // the second is followed by 12 bytes.
  bool pairToggle = true;
  for (;;) {
    uint16_t len = 0;
    if (!r.Read16(len)) break;
    if (len < 6) {
      r.Back(2);
      break;
    }
    std::string_view bytes = r.Read(len);
    if (bytes.empty()) break;
    TVBAProjectItem& item = Items.Add();
    item.Entry = Utf16LE(bytes);
    if (StartsWith(item.Entry, u"*\\G") || StartsWith(item.Entry, u"*\\H")) {
      r.Skip(12);
    } else if (StartsWith(item.Entry, u"*\\C") || StartsWith(item.Entry, u"*\\D")) {
      if (!pairToggle) r.Skip(12);
      pairToggle = !pairToggle;
    }
  }

  r.Skip(132);
  uint16_t count = 0;
  if (!r.Read16(count)) return;
  for (int i = 0; i < count; ++i) {
    // A record that does not even start ends the table without an item.
    if (r.Available() < 2) return;
    TVBAProjectItem& item = i < Items.Count() ? Items.Items(i) : Items.Add();
    uint16_t len = 0;
    if (!r.Read16(len)) return;
    if (len > 0) {
      if (r.Available() < len) return;
      item.ModuleName = Utf16LE(r.Read(len));
    }
    if (!r.Read16(len)) return;
    if (len > 0) {
      if (r.Available() < len) return;
      item.ModuleID = Utf16LE(r.Read(len));
    }
    uint16_t x = 0;
    if (!r.Read16(x)) return;
    if (x == 0xFFFF) {
      r.Skip(2);
      if (!r.Read16(len)) return;
      r.Skip(len);
    } else {
      r.Skip(size_t{x} + 2);
    }
    r.Skip(8);
    uint8_t k = 0;
    if (!r.Read8(k)) return;
    r.Skip(8 * size_t{k} + 6);
    uint32_t offset = 0;
    if (!r.Read32(offset)) return;
    item.Offset = offset;
    r.Skip(2);
  }
}

TVBADirInfo ParseVBADirStream(std::string_view Decompressed, uint32_t DefaultCodePage) {
  // Record identifiers of the project information and module records.
  constexpr uint16_t kCodePage = 0x0003, kVersion = 0x0009, kModuleName = 0x0019, kModuleNameUnicode = 0x0047,
                     kStreamName = 0x001A, kStreamNameUnicode = 0x0032, kModuleOffset = 0x0031,
                     kModuleEnd = 0x002B, kDirEnd = 0x0010;
  TVBADirInfo info;
  uint32_t codePage = DefaultCodePage ? DefaultCodePage : GetACP();
  TVBADirModule* module = nullptr;
  TByteReader r(Decompressed);
  for (;;) {
    uint16_t id = 0;
    uint32_t size = 0;
    if (!r.Read16(id) || !r.Read32(size)) break;
    // The version record's size field does not count its minor version.
    if (id == kVersion) size = 6;
    if (r.Available() < size) break;
    const std::string_view data = r.Read(size);
    switch (id) {
      case kCodePage:
        if (size >= 2) {
          info.CodePage = LoadLE16(data, 0);
          if (IsCodePageSupported(info.CodePage)) codePage = info.CodePage;
        }
        break;
      case kModuleName:
        module = &info.Modules.emplace_back();
        module->Name = MultiByteToWide(codePage, data);
        break;
      case kModuleNameUnicode:
        if (module) module->Name = Utf16LE(data);
        break;
      case kStreamName:
        if (module) module->StreamName = MultiByteToWide(codePage, data);
        break;
      case kStreamNameUnicode:
        if (module && !data.empty()) module->StreamName = Utf16LE(data);
        break;
      case kModuleOffset:
        if (module && size >= 4) module->Offset = LoadLE32(data, 0);
        break;
      case kModuleEnd:
        module = nullptr;
        break;
      default:
        break;
    }
    if (id == kDirEnd) break;
  }
  // A module without a stream name is stored under its module name.
  for (TVBADirModule& m : info.Modules)
    if (m.StreamName.empty()) m.StreamName = m.Name;
  return info;
}

}  // namespace lkw
