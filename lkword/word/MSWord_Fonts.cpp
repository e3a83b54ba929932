// The code page of Word 6/95 text from the fonts it is set in; the
// characters Word 97 text holds as symbols.
//
// Those generations store 8-bit text in the character set of each run's
// font; the document language only says which Word wrote it (an English
// Word writing Russian text with a Cyrillic font is common). The runs'
// fonts come from the character-property pages; the code page that most of
// the non-ASCII bytes are written in decides for the whole document.
#include <algorithm>
#include <map>

#include "lkword/framework/SymbolFonts.h"
#include "lkword/platform/Bytes.h"
#include "lkword/word/MSWord.h"

namespace lkw {

namespace {

constexpr size_t kPageSize = 512;

// Calls Visit(From, To, Grpprl, Size) for the runs of a character page
// (their FCs and property modifiers) while it returns true.
template <typename TVisit>
void ForEachCharacterRun(const RawByteString& Page, TVisit&& Visit) {
  const auto* fkp = reinterpret_cast<const uint8_t*>(Page.data());
  const size_t runs = fkp[kPageSize - 1];
  if (4 * (runs + 1) + runs >= kPageSize) return;
  for (size_t k = 0; k < runs; ++k) {
    const size_t at = size_t{fkp[4 * (runs + 1) + k]} * 2;
    if (at == 0 || at >= kPageSize - 1) continue;
    const size_t cb = std::min<size_t>(fkp[at], kPageSize - 1 - (at + 1));
    if (!Visit(int64_t{LoadLE32(fkp + 4 * k)}, int64_t{LoadLE32(fkp + 4 * k + 4)}, fkp + at + 1, cb)) return;
  }
}
constexpr uint8_t kSprmCFtc = 93;  // font of a run (Word 6 numbering)


// Windows code page of a font character set; 0 for symbol, OEM and the like.
uint32_t CharsetCodePage(uint8_t Charset) {
  switch (Charset) {
    case 0: return 1252;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
  }
}

// Size of one Word 6 character property modifier (opcode included), or 0
// when it is not one whose size is certain.
size_t SprmSize6(uint8_t Op) {
  switch (Op) {
    case 82: case 83:
      return 1;
    case 65: case 66: case 67: case 71: case 75: case 85: case 86: case 87: case 88: case 89: case 90:
    case 91: case 92: case 94: case 98: case 100: case 102: case 104: case 117: case 118:
      return 2;
    case 69: case 72: case 80: case 93: case 96: case 97: case 99: case 101: case 107: case 109: case 110:
      return 3;
    case 73: case 95:
      return 4;
    case 70:
      return 5;
    default:
      return 0;
  }
}

// The font index a property group sets, or -1.
int FindFont(const uint8_t* P, size_t Size) {
  size_t i = 0;
  while (i < Size) {
    const size_t n = SprmSize6(P[i]);
    if (n == 0 || i + n > Size) return -1;
    if (P[i] == kSprmCFtc) return LoadLE16(P + i + 1);
    i += n;
  }
  return -1;
}

constexpr uint16_t kSprmCSymbol = 0x6A09;  // a font index and a character code
constexpr uint16_t kSprmCFRMarkDel = 0x0800;  // the run is a tracked deletion
constexpr uint16_t kSprmCFRMark = 0x0801;     // ... a tracked insertion
// Word 97 writes each symbol as this character, the code and font apart.
constexpr char16_t kSymbolPlaceholder = 0x28;

// Size of a Word 97 property modifier's operand (P: its opcode, Left bytes
// from there), or -1 when it does not fit.
int SprmOperand8(const uint8_t* P, size_t Left) {
  if (Left < 2) return -1;
  switch (LoadLE16(P) >> 13) {
    case 0: case 1: return 1;
    case 2: case 4: case 5: return 2;
    case 3: return 4;
    case 7: return 3;
    default: return Left > 2 ? 1 + P[2] : -1;  // a length byte, then that many
  }
}

}  // namespace

void TMSWordDocument::ReadSymbols(TStream& Stream, TStream& Table) {
  // Font names: a count and an extra size, then records of a length byte
  // (size minus one) with the zero-ended UTF-16 name from their 40th byte.
  std::vector<WideString>& fonts = FFontNames;
  fonts.clear();
  FDeleted.clear();
  FInserted.clear();
  RawByteString ffn;
  if (FIB.lcbSttbfffn >= 4 && ReadBytesAt(Table, FIB.fcSttbfffn, FIB.lcbSttbfffn, ffn)) {
    const auto* f = reinterpret_cast<const uint8_t*>(ffn.data());
    for (size_t p = 4; p < ffn.size();) {
      const size_t end = std::min(ffn.size(), p + f[p] + 1);
      WideString name;
      for (size_t q = p + 40; q + 1 < end && LoadLE16(f + q) != 0; q += 2) name += static_cast<char16_t>(LoadLE16(f + q));
      fonts.push_back(std::move(name));
      p = end;
    }
  }
  // Bin table: n + 1 FCs and n 32-bit page numbers of character pages.
  RawByteString plc;
  if (FIB.lcbPlcfbteChpx < 12 || !ReadBytesAt(Table, FIB.fcPlcfbteChpx, FIB.lcbPlcfbteChpx, plc)) return;
  const size_t pages = (plc.size() - 4) / 8;
  const auto* pn = reinterpret_cast<const uint8_t*>(plc.data()) + 4 * (pages + 1);
  // Runs may overlap in a damaged file: the marks stay within the text.
  int64_t budget = CLX.Pos.empty() ? 0 : int64_t{CLX.Pos.back()};
  RawByteString page;
  for (size_t i = 0; i < pages && budget > 0; ++i) {
    if (!ReadBytesAt(Stream, int64_t{LoadLE32(pn + 4 * i) & 0x3FFFFF} * kPageSize, kPageSize, page)) continue;
    ForEachCharacterRun(page, [&](int64_t from, int64_t to, const uint8_t* g, size_t cb) {
      int32_t symbol = -1, ftc = -1;
      bool deleted = false, inserted = false;
      for (size_t j = 0; j < cb;) {
        const int n = SprmOperand8(g + j, cb - j);
        if (n < 0 || j + 2 + static_cast<size_t>(n) > cb) break;
        if (LoadLE16(g + j) == kSprmCSymbol) {
          ftc = LoadLE16(g + j + 2);
          symbol = LoadLE16(g + j + 4);
        }
        // On, or the opposite of a style that no writer marks changed.
        const uint16_t op = LoadLE16(g + j);
        if (op == kSprmCFRMarkDel) deleted = g[j + 2] == 1 || g[j + 2] == 0x81;
        if (op == kSprmCFRMark) inserted = g[j + 2] == 1 || g[j + 2] == 0x81;
        j += 2 + static_cast<size_t>(n);
      }
      // The run's bytes as CP ranges, through every piece that holds some.
      const auto addRanges = [&](std::vector<std::pair<int64_t, int64_t>>& Ranges) {
        for (uint32_t p = 0; p < CLX.noPCD; ++p) {
          int64_t fcStart = 0, fcEnd = 0;
          const int64_t width = GetPieceBoundsFC(fcStart, fcEnd, p) == 1 ? 1 : 2;
          const int64_t a = std::max(from, fcStart), b = std::min(to, fcEnd);
          if (a < b) Ranges.push_back({CLX.Pos[p] + (a - fcStart) / width, CLX.Pos[p] + (b - fcStart + width - 1) / width});
        }
      };
      if (deleted) addRanges(FDeleted);
      // Inserted text reads the same either way: only its marks need it.
      else if (inserted && !AcceptsChanges()) addRanges(FInserted);
      if (symbol < 0) return true;
      const WideString font = static_cast<size_t>(ftc) < fonts.size() ? fonts[static_cast<size_t>(ftc)] : WideString();
      const char16_t c = SymbolCharacter(font, static_cast<uint32_t>(symbol));
      const WideString text = c ? WideString(1, c) : WideString();
      // The run's bytes to CPs, through every piece that holds some of them.
      for (uint32_t p = 0; p < CLX.noPCD && budget > 0; ++p) {
        int64_t fcStart = 0, fcEnd = 0;
        const int64_t width = GetPieceBoundsFC(fcStart, fcEnd, p) == 1 ? 1 : 2;
        for (int64_t fc = std::max(from, fcStart); fc < std::min(to, fcEnd) && budget > 0; fc += width, --budget)
          FNoteMarks.push_back({CLX.Pos[p] + (fc - fcStart) / width, kSymbolPlaceholder, text});
      }
      return budget > 0;
    });
  }
  SortCharMarks();
  // Sorted and merged, each CP in one range at most; a CP both deleted and
  // inserted (text inserted, then deleted) counts as deleted.
  for (auto* ranges : {&FDeleted, &FInserted}) {
    std::sort(ranges->begin(), ranges->end());
    size_t kept = 0;
    for (const auto& d : *ranges) {
      if (kept > 0 && d.first <= (*ranges)[kept - 1].second)
        (*ranges)[kept - 1].second = std::max((*ranges)[kept - 1].second, d.second);
      else
        (*ranges)[kept++] = d;
    }
    ranges->resize(kept);
  }
}

uint32_t TMSWordDocument::FontCodePage(TStream& Stream) {
  const int64_t size = Stream.Size();
  auto readAt = [&](int64_t At, int64_t Count, RawByteString& Out) { return ReadBytesAt(Stream, At, Count, Out); };

  // Font table: a 16-bit total size, then records of a length byte (size
  // minus one), flags, a weight, the character set and the name.
  RawByteString ffn;
  if (FIB.lcbSttbfffn < 2 || !readAt(FIB.fcSttbfffn, FIB.lcbSttbfffn, ffn)) return 0;
  std::vector<uint8_t> charsets;
  for (size_t p = 2; p < ffn.size();) {
    const size_t cb = static_cast<uint8_t>(ffn[p]) + size_t{1};
    charsets.push_back(cb > 4 && p + 4 < ffn.size() ? static_cast<uint8_t>(ffn[p + 4]) : 0);
    p += cb;
  }

  // Bin table: n + 1 FCs and n 16-bit page numbers of character pages.
  RawByteString plc;
  if (FIB.lcbPlcfbteChpx < 10 || !readAt(FIB.fcPlcfbteChpx, FIB.lcbPlcfbteChpx, plc)) return 0;
  const size_t pages = (plc.size() - 4) / 6;
  const auto* pn = reinterpret_cast<const uint8_t*>(plc.data()) + 4 * (pages + 1);

  std::map<uint32_t, int64_t> votes;  // code page -> non-ASCII bytes
  int64_t budget = 2 * size;           // bytes looked at, against overlapping runs
  RawByteString page, text;
  for (size_t i = 0; i < pages && budget > 0; ++i) {
    if (!readAt(int64_t{LoadLE16(pn + 2 * i)} * kPageSize, kPageSize, page)) continue;
    ForEachCharacterRun(page, [&](int64_t from, int64_t to, const uint8_t* g, size_t cb) {
      const int ftc = FindFont(g, cb);
      if (ftc < 0 || static_cast<size_t>(ftc) >= charsets.size()) return true;
      const uint32_t cp = CharsetCodePage(charsets[static_cast<size_t>(ftc)]);
      if (cp == 0 || to <= from || !readAt(from, std::min(to, size) - from, text)) return true;
      budget -= static_cast<int64_t>(text.size());
      votes[cp] += std::count_if(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
      return budget > 0;
    });
  }
  uint32_t best = 0;
  int64_t bestVotes = 0;
  for (const auto& [cp, n] : votes)
    if (n > bestVotes) {
      best = cp;
      bestVotes = n;
    }
  return best;
}

}  // namespace lkw
