// Stream filters: Flate (zlib), LZW, ASCIIHex, ASCII85, RunLength and the
// PNG/TIFF predictors. Every decoder writes at most its MaxOut bytes and
// returns what it decoded before any damage.
#include "lkword/pdf/LKWPDFFilters.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"

namespace lkw {

namespace {

// Inflates Data with the given window bits; false when zlib refused the
// data before producing any output (so another format can be tried).
bool Inflate(std::string_view Data, int WindowBits, size_t MaxOut, RawByteString& Out, TPDFDecodeStatus& Status) {
  Out.clear();
  Status = TPDFDecodeStatus::dsOK;
  z_stream zs{};
  if (inflateInit2(&zs, WindowBits) != Z_OK) {
    Status = TPDFDecodeStatus::dsCorrupt;
    return true;
  }
  size_t cap = std::min<size_t>(MaxOut, std::max<size_t>(4096, Data.size() * 4));
  Out.resize(cap);
  size_t produced = 0;
  const auto* in = reinterpret_cast<const Bytef*>(Data.data());
  size_t inLeft = Data.size();
  int ret = Z_OK;
  for (;;) {
    if (produced == Out.size()) {
      if (Out.size() >= MaxOut) {
        Status = TPDFDecodeStatus::dsTruncated;
        break;
      }
      Out.resize(std::min<size_t>(MaxOut, Out.size() * 2));
    }
    const uInt inChunk = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
    const uInt outChunk = static_cast<uInt>(std::min<size_t>(Out.size() - produced, 1u << 30));
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = inChunk;
    zs.next_out = reinterpret_cast<Bytef*>(Out.data() + produced);
    zs.avail_out = outChunk;
    ret = inflate(&zs, Z_NO_FLUSH);
    const size_t used = inChunk - zs.avail_in;
    in += used;
    inLeft -= used;
    produced += outChunk - zs.avail_out;
    if (ret == Z_STREAM_END) break;
    if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
      if (produced == 0 && zs.total_in <= 2) {
        inflateEnd(&zs);
        Out.clear();
        return false;
      }
      Status = TPDFDecodeStatus::dsCorrupt;
      break;
    }
    if (ret == Z_BUF_ERROR && inLeft == 0 && zs.avail_out > 0) {
      // The data ended before the stream did (a missing checksum or a cut
      // stream): keep what came out.
      Status = TPDFDecodeStatus::dsCorrupt;
      break;
    }
    if (inLeft == 0 && zs.avail_out > 0 && used == 0) {
      Status = TPDFDecodeStatus::dsCorrupt;
      break;
    }
  }
  inflateEnd(&zs);
  Out.resize(produced);
  return true;
}

// The LZW decoder shared by the PDF filter and both class forms.
class LZWState {
 public:
  LZWState(const uint8_t* Src, size_t Size, bool MsbFirst, int EarlyChange, bool GifEOI)
      : FSrc(Src), FSize(Size), FMsbFirst(MsbFirst), FEarly(EarlyChange ? 1 : 0), FGifEOI(GifEOI) {}

  // Calls Emit(bytes, count) for each decoded string; Emit returns false to
  // stop. Returns false when the data is damaged.
  template <typename EmitFn>
  bool Run(EmitFn&& Emit) {
    Reset();
    int prev = -1;
    for (;;) {
      int code;
      if (!ReadCode(code)) return true;
      if (code == 256) {
        Reset();
        prev = -1;
        continue;
      }
      if (code == 257) {
        if (!FGifEOI) return true;
        // GIF form: the codes of the current byte end here.
        if (FMsbFirst) FBits = 0, FBitCount = 0;
        else FBits = 0, FBitCount = 0;
        continue;
      }
      if (prev < 0) {
        if (code > 255) return false;
        const uint8_t b = static_cast<uint8_t>(code);
        if (!Emit(&b, 1)) return true;
        prev = code;
        continue;
      }
      uint8_t first;
      size_t len;
      if (code < FNext) {
        len = Expand(code);
        first = FStack[kMax - len];
      } else if (code == FNext) {
        len = Expand(prev);
        first = FStack[kMax - len];
        // The string of prev followed by its own first byte.
        std::memmove(FStack + kMax - len - 1, FStack + kMax - len, len);
        FStack[kMax - 1] = first;
        ++len;
      } else {
        return false;
      }
      if (!Emit(FStack + kMax - len, len)) return true;
      if (FNext < 4096) {
        FPrefix[FNext] = static_cast<uint16_t>(prev);
        FSuffix[FNext] = first;
        FLength[FNext] = static_cast<uint16_t>(FLength[prev] + 1);
        ++FNext;
      }
      prev = code;
      if (FNext + FEarly >= (1 << FWidth) && FWidth < 12) ++FWidth;
    }
  }

 private:
  static constexpr size_t kMax = 4097;

  void Reset() {
    if (!FInit) {
      for (int i = 0; i < 256; ++i) {
        FPrefix[i] = 4096;
        FSuffix[i] = static_cast<uint8_t>(i);
        FLength[i] = 1;
      }
      FInit = true;
    }
    FWidth = 9;
    FNext = 258;
  }

  bool ReadCode(int& Code) {
    while (FBitCount < FWidth) {
      if (FPos >= FSize) return false;
      const uint32_t b = FSrc[FPos++];
      if (FMsbFirst) FBits = (FBits << 8) | b;
      else FBits |= b << FBitCount;
      FBitCount += 8;
    }
    if (FMsbFirst) {
      Code = static_cast<int>((FBits >> (FBitCount - FWidth)) & ((1u << FWidth) - 1));
      FBitCount -= FWidth;
      FBits &= (1u << FBitCount) - 1;
    } else {
      Code = static_cast<int>(FBits & ((1u << FWidth) - 1));
      FBits >>= FWidth;
      FBitCount -= FWidth;
    }
    return true;
  }

  // Writes the string of Code at the end of FStack; returns its length.
  size_t Expand(int Code) {
    size_t len = FLength[Code];
    size_t at = kMax;
    int c = Code;
    while (c < 4096 && at > 0) {
      FStack[--at] = FSuffix[c];
      if (c < 256) break;
      c = FPrefix[c];
    }
    return std::min(len, kMax - at);
  }

  const uint8_t* FSrc;
  size_t FSize;
  size_t FPos = 0;
  uint32_t FBits = 0;
  int FBitCount = 0;
  bool FMsbFirst;
  int FEarly;
  bool FGifEOI;
  bool FInit = false;
  int FWidth = 9;
  int FNext = 258;
  uint16_t FPrefix[4096];
  uint8_t FSuffix[4096];
  uint16_t FLength[4096];
  uint8_t FStack[kMax];
};

int LZWToBuffer(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize, bool Msb, int Early, bool Gif) {
  if (Source == nullptr || Dest == nullptr || PackedSize <= 0 || UnpackedSize <= 0) return 0;
  auto state = std::make_unique<LZWState>(Source, static_cast<size_t>(PackedSize), Msb, Early, Gif);
  size_t produced = 0;
  const size_t limit = static_cast<size_t>(UnpackedSize);
  state->Run([&](const uint8_t* p, size_t n) {
    const size_t take = std::min(n, limit - produced);
    std::memcpy(Dest + produced, p, take);
    produced += take;
    return produced < limit;
  });
  return static_cast<int>(produced);
}

// PNG filter types per row, in place (the output is written behind the
// reading position, so the rows move down as they are restored).
void UnpredictPNG(RawByteString& Buffer, size_t RowBytes, size_t Bpp) {
  auto* b = reinterpret_cast<uint8_t*>(Buffer.data());
  const size_t n = Buffer.size();
  size_t in = 0, out = 0;
  size_t prevRow = SIZE_MAX;  // offset of the previous restored row
  while (in < n) {
    const uint8_t type = b[in++];
    const size_t len = std::min(RowBytes, n - in);
    uint8_t* row = b + out;
    const uint8_t* up = prevRow == SIZE_MAX ? nullptr : b + prevRow;
    for (size_t i = 0; i < len; ++i) {
      const uint8_t x = b[in + i];
      const int left = i >= Bpp ? row[i - Bpp] : 0;
      const int above = up ? up[i] : 0;
      const int upLeft = (up && i >= Bpp) ? up[i - Bpp] : 0;
      int v;
      switch (type) {
        case 1: v = x + left; break;
        case 2: v = x + above; break;
        case 3: v = x + ((left + above) >> 1); break;
        case 4: {
          const int p = left + above - upLeft;
          const int pa = std::abs(p - left), pb = std::abs(p - above), pc = std::abs(p - upLeft);
          v = x + ((pa <= pb && pa <= pc) ? left : (pb <= pc ? above : upLeft));
          break;
        }
        default: v = x; break;
      }
      row[i] = static_cast<uint8_t>(v);
    }
    prevRow = out;
    in += len;
    out += len;
    // A short last row leaves the rows above it intact for "up".
    if (len < RowBytes) break;
  }
  Buffer.resize(out);
}

void UnpredictTIFF(RawByteString& Buffer, size_t RowBytes, int Colors, int Bpc) {
  auto* b = reinterpret_cast<uint8_t*>(Buffer.data());
  const size_t n = Buffer.size();
  for (size_t rowStart = 0; rowStart < n; rowStart += RowBytes) {
    const size_t len = std::min(RowBytes, n - rowStart);
    uint8_t* row = b + rowStart;
    if (Bpc == 8) {
      for (size_t i = static_cast<size_t>(Colors); i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Colors]);
    } else if (Bpc == 16) {
      const size_t step = static_cast<size_t>(Colors) * 2;
      for (size_t i = step; i + 1 < len; i += 2) {
        const unsigned v = unsigned{LoadBE16(row + i)} + LoadBE16(row + i - step);
        row[i] = static_cast<uint8_t>(v >> 8);
        row[i + 1] = static_cast<uint8_t>(v);
      }
    } else {
      // 1, 2 or 4 bits per component: add sample by sample.
      const size_t samples = len * 8 / static_cast<size_t>(Bpc);
      const unsigned mask = (1u << Bpc) - 1;
      auto get = [&](size_t s) {
        const size_t bit = s * static_cast<size_t>(Bpc);
        return (row[bit >> 3] >> (8 - Bpc - (bit & 7))) & mask;
      };
      auto set = [&](size_t s, unsigned v) {
        const size_t bit = s * static_cast<size_t>(Bpc);
        const int shift = 8 - Bpc - static_cast<int>(bit & 7);
        row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~(mask << shift)) | ((v & mask) << shift));
      };
      for (size_t s = static_cast<size_t>(Colors); s < samples; ++s) set(s, get(s) + get(s - Colors));
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------

RawByteString PDFFlateDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status) {
  RawByteString out;
  // zlib and gzip headers are told apart by zlib; a stream written without
  // any header is inflated raw.
  if (Inflate(Data, 15 + 32, MaxOut, out, Status)) return out;
  if (Inflate(Data, -15, MaxOut, out, Status)) return out;
  Status = TPDFDecodeStatus::dsCorrupt;
  return {};
}

RawByteString PDFASCIIHexDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status) {
  Status = TPDFDecodeStatus::dsOK;
  RawByteString out;
  out.reserve(std::min(MaxOut, Data.size() / 2 + 1));
  int hi = -1;
  for (char ch : Data) {
    const auto c = static_cast<uint8_t>(ch);
    if (c == '>') break;
    if (IsPDFWhiteSpace(c)) continue;
    const int v = HexDigitValue(c);
    if (v < 0) {
      // A stray byte is skipped, as viewers skip it: stopping would lose
      // every page the stream still holds after it.
      Status = TPDFDecodeStatus::dsCorrupt;
      continue;
    }
    if (hi < 0) {
      hi = v;
      continue;
    }
    if (out.size() >= MaxOut) {
      Status = TPDFDecodeStatus::dsTruncated;
      return out;
    }
    out += static_cast<char>(hi * 16 + v);
    hi = -1;
  }
  if (hi >= 0 && out.size() < MaxOut) out += static_cast<char>(hi * 16);
  return out;
}

RawByteString PDFASCII85Decode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status) {
  Status = TPDFDecodeStatus::dsOK;
  RawByteString out;
  out.reserve(std::min(MaxOut, Data.size() * 4 / 5 + 4));
  size_t i = 0;
  // Tolerate the "<~" opening some writers keep.
  while (i < Data.size() && IsPDFWhiteSpace(static_cast<uint8_t>(Data[i]))) ++i;
  if (i + 1 < Data.size() && Data[i] == '<' && Data[i + 1] == '~') i += 2;
  uint32_t group[5];
  int count = 0;
  auto emit = [&](uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
      if (out.size() >= MaxOut) {
        Status = TPDFDecodeStatus::dsTruncated;
        return false;
      }
      out += static_cast<char>((value >> (24 - 8 * k)) & 0xff);
    }
    return true;
  };
  for (; i < Data.size(); ++i) {
    const auto c = static_cast<uint8_t>(Data[i]);
    if (IsPDFWhiteSpace(c)) continue;
    if (c == '~') break;
    if (c == 'z' && count == 0) {
      if (!emit(0, 4)) return out;
      continue;
    }
    if (c < '!' || c > 'u') {
      // Damage (a 'z' inside a group included): the group in hand is lost.
      Status = TPDFDecodeStatus::dsCorrupt;
      return out;
    }
    group[count++] = c - '!';
    if (count == 5) {
      uint64_t v = 0;
      for (int k = 0; k < 5; ++k) v = v * 85 + group[k];
      if (v > 0xffffffffu) {
        Status = TPDFDecodeStatus::dsCorrupt;
        return out;
      }
      if (!emit(v, 4)) return out;
      count = 0;
    }
  }
  if (count == 1) {
    Status = TPDFDecodeStatus::dsCorrupt;
  } else if (count > 1) {
    // A final partial group is padded with 'u' and gives count - 1 bytes.
    uint64_t v = 0;
    for (int k = 0; k < 5; ++k) v = v * 85 + (k < count ? group[k] : 84);
    if (v <= 0xffffffffu) emit(v, count - 1);
    else Status = TPDFDecodeStatus::dsCorrupt;
  }
  return out;
}

RawByteString PDFLZWDecode(std::string_view Data, int EarlyChange, size_t MaxOut, TPDFDecodeStatus& Status) {
  Status = TPDFDecodeStatus::dsOK;
  RawByteString out;
  out.reserve(std::min(MaxOut, Data.size() * 3));
  auto state = std::make_unique<LZWState>(reinterpret_cast<const uint8_t*>(Data.data()), Data.size(), true,
                                          EarlyChange, false);
  const bool ok = state->Run([&](const uint8_t* p, size_t n) {
    const size_t take = std::min(n, MaxOut - out.size());
    out.append(reinterpret_cast<const char*>(p), take);
    if (take < n || out.size() >= MaxOut) {
      Status = TPDFDecodeStatus::dsTruncated;
      return false;
    }
    return true;
  });
  if (!ok) Status = TPDFDecodeStatus::dsCorrupt;
  return out;
}

RawByteString PDFRunLengthDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status) {
  Status = TPDFDecodeStatus::dsOK;
  RawByteString out;
  size_t i = 0;
  while (i < Data.size()) {
    const auto len = static_cast<uint8_t>(Data[i++]);
    if (len == 128) return out;
    if (len < 128) {
      size_t n = static_cast<size_t>(len) + 1;
      if (i + n > Data.size()) {
        n = Data.size() - i;
        Status = TPDFDecodeStatus::dsCorrupt;
      }
      const size_t take = std::min(n, MaxOut - out.size());
      out.append(Data.data() + i, take);
      if (take < n) {
        Status = TPDFDecodeStatus::dsTruncated;
        return out;
      }
      i += n;
    } else {
      if (i >= Data.size()) {
        Status = TPDFDecodeStatus::dsCorrupt;
        return out;
      }
      const size_t n = 257 - static_cast<size_t>(len);
      const size_t take = std::min(n, MaxOut - out.size());
      out.append(take, Data[i++]);
      if (take < n) {
        Status = TPDFDecodeStatus::dsTruncated;
        return out;
      }
    }
  }
  return out;
}

void PDFUnpredict(RawByteString& Buffer, const TPDFDecodeParms& Parms) {
  if (Parms.Predictor < 2 || Buffer.empty()) return;
  const int colors = std::clamp(Parms.Colors, 1, 32);
  int bpc = Parms.BitsPerComponent;
  if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) bpc = 8;
  const size_t columns = static_cast<size_t>(std::clamp(Parms.Columns, 1, 1 << 24));
  const size_t bitsPerRow = columns * static_cast<size_t>(colors) * static_cast<size_t>(bpc);
  const size_t rowBytes = (bitsPerRow + 7) / 8;
  if (Parms.Predictor >= 10) {
    const size_t bpp = std::max<size_t>(1, static_cast<size_t>(colors * bpc) / 8);
    UnpredictPNG(Buffer, rowBytes, bpp);
  } else if (Parms.Predictor == 2) {
    UnpredictTIFF(Buffer, rowBytes, colors, bpc);
  }
}

void ApplyPNGPredictor(RawByteString& Buffer, int Columns) {
  TPDFDecodeParms parms;
  parms.Predictor = 10;
  parms.Columns = Columns;
  PDFUnpredict(Buffer, parms);
}

bool PDFDecodeFilter(std::string_view Name, std::string_view Data, const TPDFDecodeParms& Parms, size_t MaxOut,
                     RawByteString& Out, TPDFDecodeStatus& Status) {
  Status = TPDFDecodeStatus::dsOK;
  if (!Name.empty() && Name[0] == '/') Name.remove_prefix(1);
  const RawByteString name = LowerAscii(Name);
  if (name == "flatedecode" || name == "fl") {
    Out = PDFFlateDecode(Data, MaxOut, Status);
    PDFUnpredict(Out, Parms);
  } else if (name == "lzwdecode" || name == "lzw") {
    Out = PDFLZWDecode(Data, Parms.EarlyChange, MaxOut, Status);
    PDFUnpredict(Out, Parms);
  } else if (name == "asciihexdecode" || name == "ahx") {
    Out = PDFASCIIHexDecode(Data, MaxOut, Status);
  } else if (name == "ascii85decode" || name == "a85") {
    Out = PDFASCII85Decode(Data, MaxOut, Status);
  } else if (name == "runlengthdecode" || name == "rl") {
    Out = PDFRunLengthDecode(Data, MaxOut, Status);
  } else {
    Out.assign(Data);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// TLKWLZWDecoder

int TLKWLZWDecoder::DecodeTIFF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize) {
  return LZWToBuffer(Source, Dest, PackedSize, UnpackedSize, true, 1, false);
}

int TLKWLZWDecoder::DecodeGIF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize) {
  return LZWToBuffer(Source, Dest, PackedSize, UnpackedSize, false, 0, true);
}

}  // namespace lkw
