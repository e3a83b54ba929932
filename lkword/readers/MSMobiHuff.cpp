#include "lkword/readers/MSMobiHuff.h"

#include <algorithm>
#include <cstring>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const SBadTables = "The HUFF/CDIC tables of the book are damaged";

// Phrases may nest; real books stay a few levels deep.
constexpr int kMaxDepth = 32;
// A phrase is a piece of a 4 KiB record.
constexpr size_t kMaxPhrase = 64 * 1024;
// Decoded phrases are kept for reuse; more than this is no book.
constexpr size_t kMaxDecodedBytes = size_t{64} << 20;

}  // namespace

TMobiHuffCdic::TMobiHuffCdic(std::string_view Huff, const std::vector<std::string_view>& Cdics) {
  // "HUFF", the header's size, then where the code table (256 entries, by
  // a code's first 8 bits) and the length table (a lowest code and an index
  // base for each length 1..32) are.
  if (Huff.size() < 16 || Huff.substr(0, 4) != "HUFF") throw EReadError(SBadTables);
  const uint64_t codesAt = LoadBE32(Huff, 8), lengthsAt = LoadBE32(Huff, 12);
  if (codesAt + 256 * 4 > Huff.size() || lengthsAt + 64 * 4 > Huff.size()) throw EReadError(SBadTables);
  for (size_t i = 0; i < 256; ++i) {
    const uint32_t v = LoadBE32(Huff, codesAt + 4 * i);
    TCode& c = FCodes[i];
    c.Length = static_cast<uint8_t>(v & 0x1F);
    c.Terminal = (v & 0x80) != 0;
    // A code of 8 bits or less is known from its first byte.
    if (c.Length == 0 || (c.Length <= 8 && !c.Terminal)) throw EReadError(SBadTables);
    c.Max = ((uint64_t{v >> 8} + 1) << (32 - c.Length)) - 1;
  }
  for (unsigned len = 1; len <= 32; ++len) {
    FMin[len] = uint64_t{LoadBE32(Huff, lengthsAt + 8 * (len - 1))} << (32 - len);
    FMax[len] = ((uint64_t{LoadBE32(Huff, lengthsAt + 8 * (len - 1) + 4)} + 1) << (32 - len)) - 1;
  }
  for (std::string_view cdic : Cdics) LoadCdic(cdic);
}

void TMobiHuffCdic::LoadCdic(std::string_view Cdic) {
  // "CDIC", the header's size (16), the phrase count of the whole book and
  // the bits of a record's share (2^bits phrases each, the last one fewer);
  // then a 16-bit offset per phrase, from the end of the header, to its
  // 16-bit length (top bit: stored as text) and its bytes.
  if (Cdic.size() < 16 || Cdic.substr(0, 4) != "CDIC") throw EReadError(SBadTables);
  const uint32_t headerSize = LoadBE32(Cdic, 4), phrases = LoadBE32(Cdic, 8), bits = LoadBE32(Cdic, 12);
  if (headerSize < 16 || headerSize > Cdic.size() || bits > 31) throw EReadError(SBadTables);
  if (FPhrases.empty()) FDeclaredPhrases = phrases;
  if (FPhrases.size() >= FDeclaredPhrases) return;
  const size_t count = std::min<size_t>(size_t{1} << bits, FDeclaredPhrases - FPhrases.size());
  if (headerSize + 2 * count > Cdic.size()) throw EReadError(SBadTables);
  FPhrases.reserve(FPhrases.size() + count);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = headerSize + size_t{LoadBE16(Cdic, headerSize + 2 * i)};
    TPhrase p;
    if (at + 2 <= Cdic.size()) {
      const uint16_t v = LoadBE16(Cdic, at);
      p.Plain = (v & 0x8000) != 0;
      p.Data = Cdic.substr(at + 2, std::min<size_t>(v & 0x7FFF, Cdic.size() - at - 2));
    }
    FPhrases.push_back(std::move(p));
  }
}

bool TMobiHuffCdic::Decode(std::string_view Record, std::string& Out, size_t Limit) {
  return Unpack(Record, Out, Out.size() + Limit, 0);
}

// Codes are read MSB first through a 64-bit window that holds the next 32
// bits at Shift. The lowest code of each length is the highest of the
// longer ones, so a code's length is the first whose lowest code it reaches;
// the phrase is the length's index base less the code.
bool TMobiHuffCdic::Unpack(std::string_view In, std::string& Out, size_t Limit, int Depth) {
  if (Depth > kMaxDepth) return false;
  auto window = [&In](size_t At) {
    uint64_t w = 0;
    for (size_t k = 0; k < 8; ++k) w = (w << 8) | (At + k < In.size() ? static_cast<uint8_t>(In[At + k]) : 0u);
    return w;
  };
  uint64_t bitsLeft = uint64_t{In.size()} * 8;
  size_t at = 0;
  uint64_t w = window(0);
  int shift = 32;
  for (;;) {
    if (shift <= 0) {
      at += 4;
      w = window(at);
      shift += 32;
    }
    const uint32_t code = static_cast<uint32_t>(w >> shift);
    const TCode& c = FCodes[code >> 24];
    unsigned len = c.Length;
    uint64_t max = c.Max;
    if (!c.Terminal) {
      while (len < 32 && code < FMin[len]) ++len;
      max = FMax[len];
    }
    // Padding at the end is shorter than any code it could start.
    if (len > bitsLeft) return true;
    bitsLeft -= len;
    shift -= static_cast<int>(len);
    if (max < code) return false;
    const uint64_t index = (max - code) >> (32 - len);
    if (index >= FPhrases.size()) return false;
    TPhrase& p = FPhrases[index];
    std::string_view text = p.Data;
    if (!p.Plain) {
      if (!p.Decoded) {
        if (p.Busy) return false;
        p.Busy = true;
        std::string decoded;
        const bool ok = Unpack(p.Data, decoded, kMaxPhrase, Depth + 1);
        p.Busy = false;
        if (!ok) return false;
        FDecodedBytes += decoded.size();
        if (FDecodedBytes > kMaxDecodedBytes) throw ELimitError("The book's phrases decode to more than the allowed size");
        p.Text = std::move(decoded);
        p.Decoded = true;
      }
      text = p.Text;
    }
    if (text.size() > Limit - std::min(Limit, Out.size())) return false;
    Out += text;
  }
}

}  // namespace lkw
