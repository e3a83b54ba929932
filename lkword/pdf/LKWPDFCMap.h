// CMaps as PDF files embed them: ToUnicode maps (bfchar, bfrange) and
// encoding CMaps of composite fonts (cidchar, cidrange), with the codespace
// ranges that decide how many bytes each code takes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

class TPDFLexer;

class TPDFCMap {
 public:
  // Reads the CMap program text. Anything it cannot read is skipped; a
  // damaged CMap keeps the mappings read before the damage.
  void Parse(std::string_view Text);

  // Bytes of the code at the start of Bytes (1 to 4, never more than
  // Bytes.size()), decided by the codespace ranges; DefaultLength when
  // there are none.
  int CodeLength(std::string_view Bytes, int DefaultLength) const;
  bool HasCodeSpace() const { return !FCodeSpace.empty(); }
  // Shortest and longest code in the codespace (0 when there is none).
  int MinCodeLength() const { return FMinLen; }
  int MaxCodeLength() const { return FMaxLen; }

  // Unicode text of a code of Length bytes (bfchar, bfrange), appended to
  // Out; false when the CMap does not map it.
  bool Lookup(uint32_t Code, int Length, std::u16string& Out) const;
  // CID of a code (cidchar, cidrange); false when not mapped.
  bool LookupCID(uint32_t Code, int Length, uint32_t& CID) const;

  bool HasUnicode() const { return !FChars.empty() || !FRanges.empty(); }
  bool HasCIDs() const { return !FCIDChars.empty() || !FCIDRanges.empty(); }
  size_t UnicodeCount() const { return FChars.size() + FRanges.size(); }
  // 1 for a vertical CMap.
  int WMode() const { return FWMode; }
  // The CMap this one builds on (usecmap), as a name without slash.
  const std::string& UseCMap() const { return FUseCMap; }

 private:
  struct TCodeSpace {
    uint8_t Len;
    uint8_t Lo[4], Hi[4];
  };
  struct TRange {  // bfrange with a base value: the last character counts up
    uint32_t Lo, Hi;
    uint8_t Len;
    uint32_t Offset, Count;  // the base value in FPool
  };
  struct TCIDRange {
    uint32_t Lo, Hi;
    uint8_t Len;
    uint32_t CID;
  };
  static uint64_t Key(uint32_t Code, int Len) { return static_cast<uint64_t>(Len) << 32 | Code; }
  void AddChar(uint32_t Code, int Len, std::u16string_view Text);
  void AddRange(uint32_t Lo, uint32_t Hi, int Len, std::u16string_view Base);
  // The blocks of the program, each read from after its begin keyword up to
  // its end keyword (or the end of the text).
  void ReadCodeSpaceRanges(TPDFLexer& Lexer);
  void ReadBFChars(TPDFLexer& Lexer);
  void ReadBFRanges(TPDFLexer& Lexer);
  void ReadBFRangeArray(TPDFLexer& Lexer, uint32_t Lo, uint32_t Hi, int Len);
  void ReadCIDChars(TPDFLexer& Lexer);
  void ReadCIDRanges(TPDFLexer& Lexer);
  // Sorts the ranges for lookup and indexes the codespace by first byte.
  void Index();

  std::vector<TCodeSpace> FCodeSpace;
  uint8_t FLenByFirstByte[256] = {};
  int FMinLen = 0, FMaxLen = 0;
  std::u16string FPool;
  std::unordered_map<uint64_t, uint64_t> FChars;  // key -> offset << 16 | count
  std::vector<TRange> FRanges;                    // sorted by (Len, Lo) after Parse
  std::unordered_map<uint64_t, uint32_t> FCIDChars;
  std::vector<TCIDRange> FCIDRanges;
  int FWMode = 0;
  std::string FUseCMap;
};

// Unicode of a CID of one of Adobe's CJK character collections (Ordering
// Japan1, GB1, CNS1 or Korea1 of Registry Adobe); 0 when unknown.
char32_t CIDCollectionUnicode(std::string_view Ordering, uint32_t CID);

}  // namespace lkw
