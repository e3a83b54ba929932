// Word 97 paragraph structure: styles, list tables and paragraph pages.
//
// Every table here comes from the file: each count, index and offset is
// checked before it is used, style inheritance is followed a bounded number
// of steps, and counters saturate instead of overflowing.
#include "lkword/word/MSWord_Lists.h"

#include <algorithm>
#include <array>
#include <limits>

#include "lkword/framework/SymbolFonts.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSW_Hdr.h"

namespace lkw {

namespace {

constexpr size_t kPageSize = 512;
constexpr size_t kLevels = 9;
// Tables larger than this are damage, not a document's lists or styles.
constexpr uint32_t kMaxTable = uint32_t{1} << 24;
constexpr int kMaxStyleDepth = 16;
constexpr int64_t kMaxCounter = int64_t{1} << 40;

constexpr uint16_t kSprmPIlvl = 0x260A;
constexpr uint16_t kSprmPIlfo = 0x460B;
constexpr uint16_t kSprmPOutLvl = 0x2640;
constexpr uint16_t kSprmCFBold = 0x0835;
constexpr uint16_t kSprmCFItalic = 0x0836;
constexpr uint16_t kSprmCRgFtc0 = 0x4A4F;
constexpr uint16_t kSprmTDefTable = 0xD608;
constexpr uint16_t kSprmTDefTable10 = 0xD606;

constexpr int kNfcNone = 255;
constexpr int kNfcBullet = 23;

// Calls Visit(Opcode, Operand, Size) for each property modifier of a
// Word 97 group, up to the first that does not fit.
template <typename TVisit>
void ForEachSprm(const uint8_t* G, size_t Size, TVisit&& Visit) {
  for (size_t i = 0; i + 2 <= Size;) {
    const uint16_t op = LoadLE16(G + i);
    size_t n = 0, at = i + 2;
    switch (op >> 13) {
      case 0: case 1: n = 1; break;
      case 2: case 4: case 5: n = 2; break;
      case 3: n = 4; break;
      case 7: n = 3; break;
      default:
        // A table definition has a 16-bit size; the rest a size byte.
        if (op == kSprmTDefTable || op == kSprmTDefTable10) {
          if (at + 2 > Size) return;
          n = size_t{LoadLE16(G + at)} + 1;
        } else {
          if (at + 1 > Size) return;
          n = G[at++];
        }
    }
    if (at + n > Size) return;
    Visit(op, G + at, n);
    i = at + n;
  }
}

// A level text's characters as the page shows them: symbol fonts'
// codes in Unicode, level placeholders (0-8) kept, other controls left out.
WideString LevelText(std::u16string_view Raw, std::u16string_view Font) {
  const bool symbolFont = SymbolCharacter(Font, 0x41) != 0x41;  // Symbol or a picture font
  WideString out;
  for (const char16_t c : Raw) {
    if (c < kLevels) {
      out += c;
    } else if (c < 0x20) {
      continue;
    } else if ((c >= 0xF000 && c <= 0xF0FF) || (symbolFont && c <= 0xFF)) {
      // A symbol font's bullet; one without a known character is a bullet still.
      const char16_t u = BulletCharacter(Font, c);
      out += u ? u : char16_t{0x2022};
    } else if (c >= 0xE000 && c <= 0xF8FF) {
      out += char16_t{0x2022};
    } else {
      out += c;
    }
  }
  return out;
}

WideString Roman(int64_t N, bool Upper) {
  static const std::pair<int, const char*> kDigits[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"},
                                                        {100, "c"},  {90, "xc"},  {50, "l"},  {40, "xl"},
                                                        {10, "x"},   {9, "ix"},   {5, "v"},   {4, "iv"},
                                                        {1, "i"}};
  WideString out;
  for (const auto& [value, digits] : kDigits)
    for (; N >= value; N -= value)
      for (const char* d = digits; *d; ++d) out += static_cast<char16_t>(Upper ? *d - 32 : *d);
  return out;
}

WideString EnglishWords(int64_t N, bool Ordinal) {
  static const char* const kOnes[] = {"zero",    "one",     "two",       "three",    "four",
                                      "five",    "six",     "seven",     "eight",    "nine",
                                      "ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                                      "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
  static const char* const kTens[] = {"", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty",
                                      "ninety"};
  std::string s;
  auto below1000 = [&](int64_t V) {
    if (V >= 100) {
      s += kOnes[V / 100];
      s += " hundred";
      V %= 100;
      if (V) s += " ";
    }
    if (V >= 20) {
      s += kTens[V / 10];
      if (V % 10) s += std::string("-") + kOnes[V % 10];
    } else if (V > 0 || s.empty()) {
      s += kOnes[V];
    }
  };
  if (N >= 1000) {
    below1000(N / 1000);
    s += " thousand";
    N %= 1000;
    if (N) s += " ";
  }
  if (N > 0 || s.empty()) below1000(N);
  if (Ordinal) {
    static const std::pair<const char*, const char*> kEnds[] = {
        {"one", "first"},  {"two", "second"}, {"three", "third"}, {"five", "fifth"},  {"eight", "eighth"},
        {"nine", "ninth"}, {"twelve", "twelfth"}};
    bool done = false;
    for (const auto& [from, to] : kEnds) {
      const std::string f = from;
      if (s.size() >= f.size() && s.compare(s.size() - f.size(), f.size(), f) == 0) {
        s.replace(s.size() - f.size(), f.size(), to);
        done = true;
        break;
      }
    }
    if (!done) {
      if (s.back() == 'y')
        s.replace(s.size() - 1, 1, "ieth");
      else
        s += "th";
    }
  }
  s[0] = static_cast<char>(s[0] - 32);
  return AsciiToWide(s);
}

}  // namespace

WideString FormatListNumber(int64_t N, int Format) {
  switch (Format) {
    case 1:
    case 2:
      if (N > 0 && N < 4000) return Roman(N, Format == 1);
      break;
    case 3:
    case 4:
      // A, ..., Z, AA, ..., ZZ, AAA: the letter repeated once more each round.
      if (N > 0 && N <= 26 * 30) {
        const auto letter = static_cast<char16_t>((Format == 3 ? u'A' : u'a') + (N - 1) % 26);
        return WideString(static_cast<size_t>((N - 1) / 26 + 1), letter);
      }
      break;
    case 5:
      if (N >= 0) {
        const int64_t tens = N % 100, ones = N % 10;
        const char* end = tens >= 11 && tens <= 13 ? "th" : ones == 1 ? "st" : ones == 2 ? "nd" : ones == 3 ? "rd" : "th";
        return AsciiToWide(std::to_string(N) + end);
      }
      break;
    case 6:
    case 7:
      if (N >= 0 && N < 1000000) return EnglishWords(N, Format == 7);
      break;
    case 22:
      if (N >= 0 && N < 10) return WideString{u'0', static_cast<char16_t>(u'0' + N)};
      break;
    case kNfcNone:
    case kNfcBullet:
      return WideString();
    default:
      break;
  }
  return AsciiToWide(std::to_string(N));
}

void TWordParagraphs::Clear() {
  FPieces.clear();
  FFonts.clear();
  FStyles.clear();
  FLists.clear();
  FOverrides.clear();
  FRuns.clear();
  FCharRuns.clear();
  FCounters.clear();
  FRestarted.clear();
}

void TWordParagraphs::Load(TStream& Doc, TStream& Table, const TSource& Source, std::vector<TPiece> Pieces,
                           const std::vector<WideString>& Fonts, bool Formatting) {
  Clear();
  FPieces = std::move(Pieces);
  FFonts = Fonts;
  auto read = [&](uint32_t Fc, uint32_t Lcb, RawByteString& Out) {
    return Lcb > 0 && Lcb <= kMaxTable && ReadBytesAt(Table, Fc, Lcb, Out);
  };
  RawByteString stsh, plc, lst, lfo;
  if (read(Source.fcStshf, Source.lcbStshf, stsh)) ReadStyles(stsh);
  if (read(Source.fcPlfLst, Source.lcbPlfLst, lst)) {
    if (!read(Source.fcPlfLfo, Source.lcbPlfLfo, lfo)) lfo.clear();
    ReadLists(lst, lfo, Table, Source.fcPlfLst);
  }
  if (!Formatting && FLists.empty()) return;
  if (read(Source.fcPlcfbtePapx, Source.lcbPlcfbtePapx, plc)) ReadRuns(Doc, plc);
  if (Formatting && read(Source.fcPlcfbteChpx, Source.lcbPlcfbteChpx, plc)) ReadCharacterRuns(Doc, plc);
}

void TWordParagraphs::ReadStyles(const RawByteString& Stsh) {
  const auto* p = reinterpret_cast<const uint8_t*>(Stsh.data());
  const size_t n = Stsh.size();
  if (n < 6) return;
  const size_t cbStshi = LoadLE16(p);
  if (2 + cbStshi > n || cbStshi < 4) return;
  const size_t cstd = LoadLE16(p + 2);
  const size_t cbBase = LoadLE16(p + 4);
  size_t at = 2 + cbStshi;
  for (size_t istd = 0; istd < cstd && at + 2 <= n; ++istd) {
    const size_t cb = LoadLE16(p + at);
    at += 2;
    TStyle style;
    if (cb >= 10 && at + cb <= n && cbBase >= 10 && cbBase < cb) {
      const uint8_t* std = p + at;
      style.Sti = LoadLE16(std) & 0x0FFF;
      const int sgc = LoadLE16(std + 2) & 0x000F;
      const int base = LoadLE16(std + 2) >> 4;
      style.Base = base == 0x0FFF ? -1 : base;
      const size_t cupx = LoadLE16(std + 4) & 0x000F;
      // The name, a counted UTF-16 string with a terminator, then the
      // property groups, each on an even offset.
      size_t q = cbBase;
      if (q + 2 <= cb) q += 2 + 2 * size_t{LoadLE16(std + q)} + 2;
      for (size_t u = 0; u < cupx && q + 2 <= cb; ++u) {
        const size_t cbUpx = LoadLE16(std + q);
        q += 2;
        if (q + cbUpx > cb) break;
        const uint8_t* g = std + q;
        size_t gn = cbUpx;
        const bool papx = sgc == 1 && u == 0;
        if (papx) {
          if (gn < 2) gn = 2;
          g += 2;  // the style's own index
          gn -= 2;
        }
        ForEachSprm(g, gn, [&](uint16_t Op, const uint8_t* O, size_t) {
          if (papx) {
            if (Op == kSprmPIlfo) style.Ilfo = static_cast<int16_t>(LoadLE16(O));
            if (Op == kSprmPIlvl) style.Ilvl = O[0];
            if (Op == kSprmPOutLvl) style.OutLevel = O[0];
          } else {
            if (Op == kSprmCFBold) style.Bold = (O[0] & 1) != 0;
            if (Op == kSprmCFItalic) style.Italic = (O[0] & 1) != 0;
          }
        });
        q += cbUpx + (cbUpx & 1);
      }
    }
    FStyles.push_back(style);
    at += cb;
  }
}

const TWordParagraphs::TStyle& TWordParagraphs::Style(int Istd, int Depth) {
  static const TStyle kNone;
  if (Istd < 0 || static_cast<size_t>(Istd) >= FStyles.size()) return kNone;
  TStyle& s = FStyles[static_cast<size_t>(Istd)];
  if (s.Resolved || Depth > kMaxStyleDepth) return s;
  // Marked first: a style that is its own base, through any chain, stops
  // the walk there.
  s.Resolved = true;
  if (s.Base >= 0 && s.Base != Istd) {
    const TStyle base = Style(s.Base, Depth + 1);
    if (s.Ilfo == 0) s.Ilfo = base.Ilfo;
    if (s.Ilvl < 0) s.Ilvl = base.Ilvl;
    if (s.OutLevel < 0) s.OutLevel = base.OutLevel;
    s.Bold = s.Bold || base.Bold;
    s.Italic = s.Italic || base.Italic;
  }
  return s;
}

void TWordParagraphs::ReadLists(const RawByteString& Lst, const RawByteString& Lfo, TStream& Table, uint32_t LstAt) {
  const auto* p = reinterpret_cast<const uint8_t*>(Lst.data());
  if (Lst.size() < 2) return;
  const auto count = static_cast<int16_t>(LoadLE16(p));
  constexpr size_t kLstf = 28, kLvlf = 28;
  if (count <= 0 || 2 + kLstf * static_cast<size_t>(count) > Lst.size()) return;
  // The levels follow the list records in the table stream.
  RawByteString levels;
  const int64_t from = int64_t{LstAt} + 2 + int64_t{kLstf} * count;
  const int64_t left = std::min<int64_t>(Table.Size() - from, kMaxTable);
  if (left <= 0 || !ReadBytesAt(Table, from, left, levels)) return;
  const auto* l = reinterpret_cast<const uint8_t*>(levels.data());
  const size_t ln = levels.size();

  // One level at At: false when it does not fit.
  auto readLevel = [&](const uint8_t* B, size_t N, size_t& At, TLevel& Out) {
    if (At + kLvlf > N) return false;
    const uint8_t* f = B + At;
    Out.Start = static_cast<int32_t>(LoadLE32(f));
    Out.Format = f[4];
    Out.Legal = (f[5] & 0x04) != 0;
    Out.NoRestart = (f[5] & 0x08) != 0;
    Out.RestartLimit = f[26];
    const size_t cbChpx = f[24], cbPapx = f[25];
    At += kLvlf + cbPapx;
    if (At + cbChpx + 2 > N) return false;
    int font = -1;
    ForEachSprm(B + At, cbChpx, [&](uint16_t Op, const uint8_t* O, size_t) {
      if (Op == kSprmCRgFtc0) font = LoadLE16(O);
    });
    At += cbChpx;
    const size_t cch = LoadLE16(B + At);
    At += 2;
    if (At + 2 * cch > N) return false;
    WideString raw;
    for (size_t i = 0; i < cch; ++i) raw += static_cast<char16_t>(LoadLE16(B + At + 2 * i));
    At += 2 * cch;
    const WideString fontName = font >= 0 && static_cast<size_t>(font) < FFonts.size() ? FFonts[static_cast<size_t>(font)] : WideString();
    Out.Text = LevelText(raw, fontName);
    return true;
  };

  size_t at = 0;
  for (int16_t i = 0; i < count; ++i) {
    const uint8_t* lstf = p + 2 + kLstf * static_cast<size_t>(i);
    TList list;
    list.Id = static_cast<int32_t>(LoadLE32(lstf));
    const size_t n = (lstf[26] & 0x01) ? 1 : kLevels;
    for (size_t k = 0; k < n; ++k) {
      TLevel level;
      if (!readLevel(l, ln, at, level)) break;
      list.Levels.push_back(std::move(level));
    }
    if (list.Levels.empty()) break;
    FLists.push_back(std::move(list));
  }

  // Overrides: their records, then for each the levels it overrides.
  const auto* o = reinterpret_cast<const uint8_t*>(Lfo.data());
  const size_t on = Lfo.size();
  if (on < 4) return;
  const uint32_t lfos = LoadLE32(o);
  constexpr size_t kLfo = 16, kLfoLvl = 8;
  if (lfos == 0 || lfos > (on - 4) / kLfo) return;
  size_t q = 4 + kLfo * lfos;
  for (uint32_t i = 0; i < lfos; ++i) {
    const uint8_t* rec = o + 4 + kLfo * i;
    TOverride ov;
    const auto id = static_cast<int32_t>(LoadLE32(rec));
    for (size_t k = 0; k < FLists.size(); ++k)
      if (FLists[k].Id == id) {
        ov.List = k;
        break;
      }
    const size_t overridden = rec[12];
    if (overridden > 0 && q + 4 <= on) {
      q += 4;  // the first CP the override applies to
      for (size_t k = 0; k < overridden && q + kLfoLvl <= on; ++k) {
        const int64_t start = static_cast<int32_t>(LoadLE32(o + q));
        const int ilvl = o[q + 4] & 0x0F;
        const bool startAt = (o[q + 4] & 0x10) != 0, formatting = (o[q + 4] & 0x20) != 0;
        q += kLfoLvl;
        TLevel level;
        if (formatting && !readLevel(o, on, q, level)) break;
        if (static_cast<size_t>(ilvl) >= kLevels) continue;
        if (formatting) {
          if (!startAt) level.Start = start;
          ov.Levels[ilvl] = level;
          ov.Starts[ilvl] = level.Start;
        } else if (startAt) {
          ov.Starts[ilvl] = start;
        }
      }
    }
    FOverrides.push_back(std::move(ov));
  }
  FRestarted.assign(FOverrides.size(), 0);
}

namespace {

// Calls Visit(From, To, Props, Size) for each run of the property pages
// a bin table names (Word 97: n + 1 FCs, n 32-bit page numbers). Entry: the
// size of a page's entries after its FCs, whose first byte is the word
// offset of a run's properties (Props null for none). A page is read once
// however often the table names it.
template <typename TVisit>
void ForEachPageRun(TStream& Doc, const RawByteString& Plc, size_t Entry, TVisit&& Visit) {
  if (Plc.size() < 12) return;
  const size_t pages = (Plc.size() - 4) / 8;
  const auto* pn = reinterpret_cast<const uint8_t*>(Plc.data()) + 4 * (pages + 1);
  std::vector<bool> seen(static_cast<size_t>(Doc.Size() / kPageSize) + 1);
  RawByteString page;
  for (size_t i = 0; i < pages; ++i) {
    const uint32_t number = LoadLE32(pn + 4 * i) & 0x3FFFFF;
    if (number >= seen.size() || seen[number]) continue;
    seen[number] = true;
    if (!ReadBytesAt(Doc, int64_t{number} * kPageSize, kPageSize, page)) continue;
    const auto* fkp = reinterpret_cast<const uint8_t*>(page.data());
    const size_t runs = fkp[kPageSize - 1];
    if (4 * (runs + 1) + Entry * runs >= kPageSize) continue;
    for (size_t k = 0; k < runs; ++k) {
      const int64_t from = LoadLE32(fkp + 4 * k), to = LoadLE32(fkp + 4 * k + 4);
      const size_t at = size_t{fkp[4 * (runs + 1) + Entry * k]} * 2;
      if (to <= from) continue;
      if (at == 0 || at + 2 >= kPageSize) {
        Visit(from, to, nullptr, size_t{0});
        continue;
      }
      Visit(from, to, fkp + at, kPageSize - 1 - at);
    }
  }
}

}  // namespace

void TWordParagraphs::ReadRuns(TStream& Doc, const RawByteString& Plc) {
  ForEachPageRun(Doc, Plc, 13, [&](int64_t From, int64_t To, const uint8_t* P, size_t Left) {
    TRun run{From, To, 0, -1, -1, -1};
    if (P) {
      // A size byte counting words (the first less one byte); 0: the size
      // in words is the next byte.
      size_t size = P[0], from = 1;
      if (size == 0) {
        size = 2 * size_t{P[1]};
        from = 2;
      } else {
        size = 2 * size - 1;
      }
      size = std::min(size, Left - from);
      if (size >= 2) {
        run.Istd = LoadLE16(P + from);
        ForEachSprm(P + from + 2, size - 2, [&](uint16_t Op, const uint8_t* O, size_t) {
          if (Op == kSprmPIlfo) run.Ilfo = static_cast<int16_t>(LoadLE16(O));
          if (Op == kSprmPIlvl) run.Ilvl = O[0];
          if (Op == kSprmPOutLvl) run.OutLevel = O[0];
        });
      }
    }
    FRuns.push_back(run);
  });
  std::stable_sort(FRuns.begin(), FRuns.end(), [](const TRun& A, const TRun& B) { return A.From < B.From; });
}

void TWordParagraphs::ReadCharacterRuns(TStream& Doc, const RawByteString& Plc) {
  ForEachPageRun(Doc, Plc, 1, [&](int64_t From, int64_t To, const uint8_t* P, size_t Left) {
    TCharRun run{From, To, -1, -1};
    if (P)
      ForEachSprm(P + 1, std::min<size_t>(P[0], Left - 1), [&](uint16_t Op, const uint8_t* O, size_t) {
        if (Op == kSprmCFBold) run.Bold = O[0];
        if (Op == kSprmCFItalic) run.Italic = O[0];
      });
    if (run.Bold >= 0 || run.Italic >= 0) FCharRuns.push_back(run);
  });
  std::stable_sort(FCharRuns.begin(), FCharRuns.end(),
                   [](const TCharRun& A, const TCharRun& B) { return A.From < B.From; });
}

const TWordParagraphs::TPiece* TWordParagraphs::PieceAt(int64_t CP) const {
  const auto piece = std::upper_bound(FPieces.begin(), FPieces.end(), CP,
                                      [](int64_t C, const TPiece& P) { return C < P.CP; });
  if (piece == FPieces.begin() || CP >= (piece - 1)->CPEnd) return nullptr;
  return &*(piece - 1);
}

TRunStyle TWordParagraphs::RunAt(int64_t CP, const TParagraph& Paragraph, int64_t& Until) const {
  TRunStyle style;
  style.Bold = Paragraph.Bold;
  style.Italic = Paragraph.Italic;
  Until = std::numeric_limits<int64_t>::max();
  const TPiece* pc = PieceAt(CP);
  if (!pc) return style;
  Until = pc->CPEnd;
  const int64_t fc = pc->FC + (CP - pc->CP) * pc->Width;
  auto run = std::upper_bound(FCharRuns.begin(), FCharRuns.end(), fc,
                              [](int64_t F, const TCharRun& R) { return F < R.From; });
  // Until the next run with formatting of its own starts.
  if (run != FCharRuns.end()) Until = std::min(Until, CP + (run->From - fc + pc->Width - 1) / pc->Width);
  if (run == FCharRuns.begin() || fc >= (run - 1)->To) return style;
  const TCharRun& r = *(run - 1);
  Until = std::min(Until, CP + (r.To - fc + pc->Width - 1) / pc->Width);
  auto toggle = [](int Value, bool Base) { return Value < 0 || Value == 0x80 ? Base : Value == 0x81 ? !Base : Value != 0; };
  style.Bold = toggle(r.Bold, style.Bold);
  style.Italic = toggle(r.Italic, style.Italic);
  return style;
}

WideString TWordParagraphs::Label(size_t Ilfo, int Ilvl) {
  const TOverride& ov = FOverrides[Ilfo];
  const TList& list = FLists[ov.List];
  const int levels = static_cast<int>(list.Levels.size());
  Ilvl = std::clamp(Ilvl, 0, levels - 1);
  auto level = [&](int K) -> const TLevel& {
    const auto it = ov.Levels.find(K);
    return it != ov.Levels.end() ? it->second : list.Levels[static_cast<size_t>(std::min(K, levels - 1))];
  };
  TCounters& c = FCounters[list.Id];
  const auto lv = static_cast<size_t>(Ilvl);
  if (const auto it = ov.Starts.find(Ilvl); it != ov.Starts.end() && !(FRestarted[Ilfo] & (1u << Ilvl))) {
    // An override restarts its list where it is first used.
    FRestarted[Ilfo] |= static_cast<uint16_t>(1u << Ilvl);
    c.Value[lv] = std::clamp<int64_t>(it->second, -kMaxCounter, kMaxCounter);
    c.Started[lv] = true;
  } else if (!c.Started[lv]) {
    c.Value[lv] = std::clamp<int64_t>(level(Ilvl).Start, -kMaxCounter, kMaxCounter);
    c.Started[lv] = true;
  } else if (c.Value[lv] < kMaxCounter) {
    ++c.Value[lv];
  }
  for (size_t k = lv + 1; k < kLevels; ++k) {
    const TLevel& deeper = level(static_cast<int>(k));
    if (!deeper.NoRestart || Ilvl < deeper.RestartLimit) c.Started[k] = false;
  }
  // Levels above that were skipped count from their start on.
  for (size_t k = 0; k < lv; ++k)
    if (!c.Started[k]) {
      c.Value[k] = std::clamp<int64_t>(level(static_cast<int>(k)).Start, -kMaxCounter, kMaxCounter);
      c.Started[k] = true;
    }
  const TLevel& own = level(Ilvl);
  WideString out;
  for (const char16_t ch : own.Text) {
    if (ch >= kLevels) {
      out += ch;
      continue;
    }
    const int k = ch;
    const TLevel& shown = level(k);
    const int64_t n = c.Started[k] ? c.Value[k] : shown.Start;
    const int format = own.Legal && shown.Format != kNfcNone ? 0 : shown.Format;
    out += FormatListNumber(n, format);
  }
  return out;
}

TParagraph TWordParagraphs::Next(int64_t CP) {
  TParagraph p;
  // The mark's bytes, through the piece that holds it.
  const TPiece* pc = PieceAt(CP);
  if (!pc) return p;
  const int64_t fc = pc->FC + (CP - pc->CP) * pc->Width;
  const auto run = std::upper_bound(FRuns.begin(), FRuns.end(), fc, [](int64_t F, const TRun& R) { return F < R.From; });
  if (run == FRuns.begin() || fc >= (run - 1)->To) return p;
  const TRun& r = *(run - 1);
  const TStyle& style = Style(r.Istd);
  p.Bold = style.Bold;
  p.Italic = style.Italic;
  const int outLevel = r.OutLevel >= 0 ? r.OutLevel : style.OutLevel;
  int ilfo = style.Ilfo, ilvl = style.Ilvl;
  if (r.Ilfo >= 0 || r.Ilfo < -1) ilfo = r.Ilfo;
  if (r.Ilvl >= 0) ilvl = r.Ilvl;
  if (outLevel >= 0 && outLevel < static_cast<int>(kLevels)) {
    p.Kind = TParagraphKind::Heading;
    p.Level = outLevel + 1;
  } else if (style.Sti >= 1 && style.Sti <= static_cast<int>(kLevels)) {
    p.Kind = TParagraphKind::Heading;
    p.Level = style.Sti;
  }
  // Indices from 1; 0 and the negative ones mean no list.
  if (ilfo > 0 && static_cast<size_t>(ilfo) <= FOverrides.size() && FOverrides[static_cast<size_t>(ilfo) - 1].List < FLists.size()) {
    const int level = std::clamp(ilvl, 0, static_cast<int>(kLevels) - 1);
    p.Label = Label(static_cast<size_t>(ilfo) - 1, level);
    if (p.Kind != TParagraphKind::Heading) {
      p.Kind = TParagraphKind::ListItem;
      p.Level = level + 1;
    }
  }
  return p;
}

}  // namespace lkw
