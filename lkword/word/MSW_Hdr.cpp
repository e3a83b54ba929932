#include "lkword/word/MSW_Hdr.h"

#include <algorithm>
#include <cstring>

#include "lkword/platform/Bytes.h"

namespace lkw {

namespace {


// Destination offset of pair I (0-based, TFIB order) of the Word 97 layout.
constexpr size_t PairOffset(size_t I) { return offsetof(TFIB, fcStshfOrig) + 8 * I; }

void Put16(uint8_t* Dest, size_t Off, uint16_t V) { std::memcpy(Dest + Off, &V, 2); }
void Put32(uint8_t* Dest, size_t Off, uint32_t V) { std::memcpy(Dest + Off, &V, 4); }

}  // namespace

bool ReadBytesAt(TStream& Stream, int64_t At, int64_t Count, RawByteString& Out) {
  const int64_t size = Stream.Size();
  if (At < 0 || Count < 0 || At > size || Count > size - At) return false;
  Out.resize(static_cast<size_t>(Count));
  Stream.Seek(At, soBeginning);
  Stream.ReadBuffer(Out.data(), Count);
  return true;
}

int FIBGeneration(uint16_t wIdent, uint16_t Version) {
  if (wIdent == 0x37FE) return kMacWordGeneration;
  if (Version < 101) return 2;
  switch (Version) {
    case 101: return 6;
    case 102: return 8;
    case 103: return 0;
    case 104: return 7;
    default: return 8;
  }
}

TFIB MapFIB(const uint8_t* Data, size_t Size, int Generation) {
  // Work on a zero-padded copy so that short inputs read as zeros.
  uint8_t src[sizeof(TFIB)] = {};
  std::memcpy(src, Data, std::min(Size, sizeof(TFIB)));
  uint8_t dst[sizeof(TFIB)] = {};

  switch (Generation) {
    case 5:
    case 6:
    case 7:
      std::memcpy(dst, src, 32);  // wIdent .. fcMac
      Put16(dst, offsetof(TFIB, csw), 14);
      std::memcpy(dst + offsetof(TFIB, cbMac), src + fib6::cbMac, 4);
      std::memcpy(dst + offsetof(TFIB, ccpText), src + fib6::ccpText, 8 * 4);
      std::memcpy(dst + PairOffset(0), src + fib6::FirstPairs, fib6::FirstPairCount * 8);
      Put32(dst, offsetof(TFIB, pnChpFirst), LoadLE16(src + fib6::pnChpFirst));
      Put32(dst, offsetof(TFIB, pnPapFirst), LoadLE16(src + fib6::pnChpFirst + 2));
      Put32(dst, offsetof(TFIB, cpnBteChp), LoadLE16(src + fib6::pnChpFirst + 4));
      Put32(dst, offsetof(TFIB, cpnBtePap), LoadLE16(src + fib6::pnChpFirst + 6));
      std::memcpy(dst + PairOffset(fib6::FirstPairCount), src + fib6::LastPairs, fib6::LastPairCount * 8);
      break;
    case 2: {
      std::memcpy(dst, src, 14);  // wIdent .. nFIBBack
      std::memcpy(dst + offsetof(TFIB, fcMin), src + 24, 8);
      std::memcpy(dst + offsetof(TFIB, cbMac), src + fib2::cbMac, 4);
      std::memcpy(dst + offsetof(TFIB, ccpText), src + fib2::ccpText, 5 * 4);
      // Nine pairs (StshfOrig..Plcfphe), then Sttbfglsy is left empty, then
      // 26 pairs Plcfglsy..AutosaveSource; lengths are 16-bit here.
      size_t from = fib2::Pairs;
      for (size_t i = 0; i < 35; ++i, from += 6) {
        size_t to = i < 9 ? i : i + 1;
        Put32(dst, PairOffset(to), LoadLE32(src + from));
        Put32(dst, PairOffset(to) + 4, LoadLE16(src + from + 4));
      }
      Put32(dst, offsetof(TFIB, pnChpFirst), LoadLE16(src + fib2::pnChpFirst));
      Put32(dst, offsetof(TFIB, pnPapFirst), LoadLE16(src + fib2::pnChpFirst + 2));
      Put32(dst, offsetof(TFIB, cpnBteChp), LoadLE16(src + fib2::pnChpFirst + 4));
      Put32(dst, offsetof(TFIB, cpnBtePap), LoadLE16(src + fib2::pnChpFirst + 6));
      break;
    }
    case kMacWordGeneration: {
      std::memcpy(dst, src, 2);  // wIdent as the other generations read it
      Put16(dst, offsetof(TFIB, Version), LoadBE16(src + 2));
      if (src[fibmac::Flags] & fibmac::FastSaved) dst[offsetof(TFIB, Flag)] = 0x04;
      Put32(dst, offsetof(TFIB, fcMin), LoadBE32(src + fibmac::fcMin));
      Put32(dst, offsetof(TFIB, fcMac), LoadBE32(src + fibmac::fcMac));
      Put32(dst, offsetof(TFIB, cbMac), LoadBE32(src + fibmac::cbMac));
      for (size_t i = 0; i < 3; ++i)
        Put32(dst, offsetof(TFIB, ccpText) + 4 * i, LoadBE32(src + fibmac::ccpText + 4 * i));
      const uint8_t* clx = src + fibmac::Zones + 6 * fibmac::ClxZone;
      Put32(dst, offsetof(TFIB, fcClx), LoadBE32(clx));
      Put32(dst, offsetof(TFIB, lcbClx), LoadBE16(clx + 4));
      break;
    }
    default:  // 0 and 8: the Word 97 layout itself
      std::memcpy(dst, src, sizeof(TFIB));
      break;
  }
  TFIB fib;
  std::memcpy(&fib, dst, sizeof(TFIB));
  return fib;
}

}  // namespace lkw
