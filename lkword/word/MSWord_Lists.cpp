// Word 97 paragraph structure: styles, list tables and paragraph pages.
//
// Every table here comes from the file: each count, index and offset is
// checked before it is used, style inheritance is followed a bounded number
// of steps, and counters saturate instead of overflowing.
#include "lkword/word/MSWord_Lists.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>

#include "lkword/framework/ListNumbers.h"
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

constexpr int kNfcNone = 255;
constexpr int kNfcBullet = 23;

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

}  // namespace

WideString FormatListNumber(int64_t N, int Format) {
  WideString out;
  switch (Format) {
    case 1:
    case 2:
      if (N > 0 && N < 4000) {
        AppendRoman(out, N, Format == 1);
        return out;
      }
      break;
    case 3:
    case 4:
      if (N > 0 && N <= 26 * 30) {
        AppendLetters(out, N, Format == 3);
        return out;
      }
      break;
    case 5:
      if (N >= 0) {
        AppendOrdinal(out, N);
        return out;
      }
      break;
    case 6:
    case 7:
      if (N >= 0 && N < 1000000) {
        AppendEnglishWords(out, N, Format == 7);
        return out;
      }
      break;
    case 9:  // note marks
      if (N >= 1 && N <= kMaxChicago) {
        AppendChicago(out, N);
        return out;
      }
      break;
    case 22:
      if (N >= 0 && N < 10) out += u'0';
      break;
    case kNfcNone:
    case kNfcBullet:
      return out;
    default:
      break;
  }
  AppendDecimal(out, N);
  return out;
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
  FWord6 = false;
  FAnlvs.clear();
  FAnlvIndex.clear();
  FOutlines.clear();
  FSections6.clear();
  FListAnld = -1;
  FOutlineCounters = TCounters();
  FOutlineSection = SIZE_MAX;
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

namespace {

// The style sheet of both generations: a header giving the style count and
// the size of each record's fixed part, then a counted record per style.
// Each record's identity, base and group count are read here; Body reads
// what follows the fixed part (the name and the property groups, which the
// generations write differently). A record too short for its fixed part is
// a style with nothing set.
template <typename TStyleT, typename F>
void ForEachStyleRecord(const RawByteString& Stsh, size_t MinBase, std::vector<TStyleT>& Styles, F Body) {
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
    TStyleT style;
    if (at + cb <= n && cbBase >= MinBase && cbBase < cb) {
      const uint8_t* std = p + at;
      style.Sti = LoadLE16(std) & 0x0FFF;
      const int sgc = LoadLE16(std + 2) & 0x000F;
      const int base = LoadLE16(std + 2) >> 4;
      style.Base = base == 0x0FFF ? -1 : base;
      const size_t cupx = LoadLE16(std + 4) & 0x000F;
      Body(std, cb, cbBase, sgc, cupx, style);
    }
    Styles.push_back(style);
    at += cb;
  }
}

}  // namespace

void TWordParagraphs::ReadStyles(const RawByteString& Stsh) {
  ForEachStyleRecord(Stsh, 10, FStyles, [](const uint8_t* std, size_t cb, size_t cbBase, int sgc, size_t cupx,
                                           TStyle& style) {
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
  });
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
    if (s.Anlm < 0) s.Anlm = base.Anlm;
    if (s.Anld < 0) s.Anld = base.Anld;
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

// The page numbers a bin table names: n + 1 FCs, then n numbers of Width
// bytes (Word 97's in their low 22 bits).
std::vector<uint32_t> BinTablePages(const RawByteString& Plc, size_t Width) {
  std::vector<uint32_t> pages;
  if (Plc.size() < 8 + Width) return pages;
  const size_t n = (Plc.size() - 4) / (4 + Width);
  const auto* pn = reinterpret_cast<const uint8_t*>(Plc.data()) + 4 * (n + 1);
  for (size_t i = 0; i < n; ++i) pages.push_back(Width == 2 ? LoadLE16(pn + 2 * i) : LoadLE32(pn + 4 * i) & 0x3FFFFF);
  return pages;
}

// Calls Visit(From, To, Props, Size) for each run of the property pages
// Pages names. Entry: the size of a page's entries after its FCs, whose
// first byte is the word offset of a run's properties (Props null for
// none). A page is read once however often it is named.
template <typename TVisit>
void ForEachPageRun(TStream& Doc, const std::vector<uint32_t>& Pages, size_t Entry, TVisit&& Visit) {
  std::vector<bool> seen(static_cast<size_t>(Doc.Size() / kPageSize) + 1);
  RawByteString page;
  for (const uint32_t number : Pages) {
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
  ForEachPageRun(Doc, BinTablePages(Plc, 4), 13, [&](int64_t From, int64_t To, const uint8_t* P, size_t Left) {
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
  ForEachPageRun(Doc, BinTablePages(Plc, 4), 1, [&](int64_t From, int64_t To, const uint8_t* P, size_t Left) {
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
  if (run == FRuns.begin() || fc >= (run - 1)->To) {
    FListAnld = -1;  // a plain paragraph ends a Word 6 list
    return p;
  }
  const TRun& r = *(run - 1);
  const TStyle& style = Style(r.Istd);
  if (FWord6) {
    if (style.Sti >= 1 && style.Sti <= static_cast<int>(kLevels)) {
      p.Kind = TParagraphKind::Heading;
      p.Level = style.Sti;
    }
    Number6(p, CP, r.Anlm >= 0 ? r.Anlm : style.Anlm, r.Anld >= 0 ? r.Anld : style.Anld);
    return p;
  }
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

// ---------------------------------------------------------------------------
// Word 6/95: one-byte property modifiers; a paragraph's numbering is its own
// description (ANLD) and level (sprmPNLvlAnm), outline levels' the
// section's (OLST).

namespace {

constexpr uint8_t kSprm6PAnld = 12;
constexpr uint8_t kSprm6PNLvlAnm = 13;
constexpr uint8_t kSprm6SOlstAnm = 133;
// Levels of sprmPNLvlAnm past the nine outline levels: a numbered and a
// bulleted list, and a paragraph inside a list that shows no number.
constexpr int kAnlmList = 10, kAnlmBullets = 11, kAnlmPaused = 12;
constexpr size_t kAnlv = 16;                   // a level's fields
constexpr size_t kAnld = kAnlv + 4;            // then the list's flags, then the texts' characters
constexpr size_t kOlst = kLevels * kAnlv + 4;  // nine levels and the flags, then their texts
// Distinct descriptions kept; a file with more numbers the rest nothing.
constexpr size_t kMaxAnlvs = 4096;
constexpr char16_t kBullet = 0x2022;

// Operand sizes of the Word 6/95 property modifiers: -1 for a size byte
// before the operand (and for those not known), -2 for a 16-bit size.
constexpr std::array<int8_t, 256> kSprmSizes6 = [] {
  std::array<int8_t, 256> t{};
  t.fill(-1);
  auto set = [&](std::initializer_list<int> Ops, int8_t Size) {
    for (const int op : Ops) t[static_cast<size_t>(op)] = Size;
  };
  auto range = [&](int From, int To, int8_t Size) {
    for (int op = From; op <= To; ++op) t[static_cast<size_t>(op)] = Size;
  };
  set({0, 52, 83, 163}, 0);
  range(4, 11, 1);
  range(85, 92, 1);
  range(150, 153, 1);
  set({13, 14, 24, 25, 29, 37, 44, 50, 51, 65, 66, 67, 71, 75, 94, 98, 100, 102, 104, 117, 118, 119, 131, 132,
       138, 139, 142, 143, 146, 147, 158, 159, 162, 185, 186},
      1);
  range(16, 19, 2);
  range(30, 36, 2);
  range(38, 43, 2);
  range(45, 49, 2);
  range(121, 124, 2);
  range(154, 157, 2);
  range(164, 171, 2);
  range(182, 184, 2);
  set({2, 21, 22, 26, 27, 28, 69, 72, 80, 93, 96, 97, 99, 101, 107, 109, 110, 140, 141, 144, 145, 148, 149, 160,
       161, 189, 195, 197, 198},
      2);
  set({73, 95, 136, 137}, 3);
  set({20, 70, 192, 194, 196, 200}, 4);
  set({193, 199}, 5);
  set({187}, 12);
  set({190}, -2);
  return t;
}();

// Calls Visit(Opcode, Operand, Size) for each modifier of a Word 6 group,
// up to the first that does not fit.
template <typename TVisit>
void ForEachSprm6(const uint8_t* G, size_t Size, TVisit&& Visit) {
  for (size_t i = 0; i < Size;) {
    const int fixed = kSprmSizes6[G[i]];
    size_t at = i + 1, n = 0;
    if (fixed >= 0) {
      n = static_cast<size_t>(fixed);
    } else if (fixed == -2) {
      if (at + 2 > Size) return;
      n = LoadLE16(G + at);
      at += 2;
    } else {
      if (at + 1 > Size) return;
      n = G[at++];
    }
    if (at + n > Size) return;
    Visit(G[i], G + at, n);
    i = at + n;
  }
}

}  // namespace

void TWordParagraphs::Load6(TStream& Doc, const TSource6& Source, std::vector<TPiece> Pieces, uint32_t CodePage,
                            bool Formatting) {
  Clear();
  FWord6 = true;
  FPieces = std::move(Pieces);
  FCodePage = CodePage;
  auto read = [&](uint32_t Fc, uint32_t Lcb, RawByteString& Out) {
    return Lcb > 0 && Lcb <= kMaxTable && ReadBytesAt(Doc, Fc, Lcb, Out);
  };
  RawByteString ffn, stsh, plc, sed;
  // Font names: a 16-bit total size, then records of a size byte (less
  // one), flags, a weight, the character set, and from their 6th byte the
  // zero-ended name.
  if (read(Source.fcSttbfffn, Source.lcbSttbfffn, ffn))
    for (size_t p = 2; p < ffn.size();) {
      const size_t end = std::min(ffn.size(), p + static_cast<uint8_t>(ffn[p]) + 1);
      RawByteString name;
      for (size_t q = p + 6; q < end && ffn[q] != '\0'; ++q) name += ffn[q];
      FFonts.push_back(MultiByteToWide(1252, name));
      p = end;
    }
  if (read(Source.fcStshf, Source.lcbStshf, stsh)) ReadStyles6(stsh);
  if (read(Source.fcPlcfsed, Source.lcbPlcfsed, sed)) ReadSections6(Doc, sed);
  if (read(Source.fcPlcfbtePapx, Source.lcbPlcfbtePapx, plc)) {
    std::vector<uint32_t> pages = BinTablePages(plc, 2);
    // A bin table may name fewer pages than there are: the rest follow
    // its last.
    for (uint32_t next = pages.empty() ? 0 : pages.back() + 1; !pages.empty() && pages.size() < Source.cpnBtePap;)
      pages.push_back(next++);
    ReadRuns6(Doc, pages);
  }
  // As in Word 97, a document without numbering has its paragraphs read
  // only when their formatting shows.
  const bool numbered = std::any_of(FRuns.begin(), FRuns.end(), [](const TRun& R) { return R.Anlm > 0; }) ||
                        std::any_of(FStyles.begin(), FStyles.end(), [](const TStyle& S) { return S.Anlm > 0; });
  if (!Formatting && !numbered) FRuns.clear();
}

void TWordParagraphs::ReadNumbering6(const uint8_t* G, size_t Size, int& Anlm, int& Anld) {
  ForEachSprm6(G, Size, [&](uint8_t Op, const uint8_t* O, size_t N) {
    if (Op == kSprm6PNLvlAnm && N == 1) Anlm = O[0];
    if (Op == kSprm6PAnld && N >= kAnld) Anld = AddAnlv(ReadAnlv(O, O + kAnld, N - kAnld));
  });
}

TWordParagraphs::TAnlv TWordParagraphs::ReadAnlv(const uint8_t* P, const uint8_t* Text, size_t Chars) const {
  TAnlv a;
  a.Format = P[0];
  a.Prev = (P[3] & 0x04) != 0;
  a.Start = LoadLE16(P + 10);
  const size_t before = std::min<size_t>(P[1], Chars), after = std::min<size_t>(P[2], Chars - before);
  const size_t ftc = LoadLE16(P + 6);
  const WideString font = ftc < FFonts.size() ? FFonts[ftc] : WideString();
  // A symbol font's characters are bullets, in Unicode where known.
  const bool symbolFont = SymbolCharacter(font, 0x41) != 0x41;
  if (symbolFont) a.Format = kNfcBullet;
  auto text = [&](const uint8_t* T, size_t N) {
    RawByteString raw;
    WideString out;
    for (size_t i = 0; i < N; ++i) {
      if (T[i] < 0x20) continue;
      if (!symbolFont) {
        raw += static_cast<char>(T[i]);
        continue;
      }
      const char16_t c = BulletCharacter(font, T[i]);
      out += c ? c : kBullet;
    }
    return symbolFont ? out : MultiByteToWide(FCodePage, raw);
  };
  a.Before = text(Text, before);
  a.After = text(Text + before, after);
  if (a.Format == kNfcBullet && a.Before.empty() && a.After.empty()) a.Before = WideString(1, kBullet);
  return a;
}

int TWordParagraphs::AddAnlv(TAnlv Level) {
  if (const auto it = FAnlvIndex.find(Level); it != FAnlvIndex.end()) return it->second;
  if (FAnlvs.size() >= kMaxAnlvs) return -1;
  const int at = static_cast<int>(FAnlvs.size());
  FAnlvIndex.emplace(Level, at);
  FAnlvs.push_back(std::move(Level));
  return at;
}

void TWordParagraphs::ReadStyles6(const RawByteString& Stsh) {
  ForEachStyleRecord(Stsh, 8, FStyles, [this](const uint8_t* std, size_t cb, size_t cbBase, int sgc, size_t cupx,
                                              TStyle& style) {
    // The name: a size byte, 8-bit characters and a terminator; then the
    // paragraph group of a paragraph style (its style index first), on
    // an even offset.
    size_t q = cbBase + 1 + size_t{std[cbBase]} + 1;
    q += q & 1;
    if (sgc == 1 && cupx > 0 && q + 2 <= cb) {
      const size_t cbUpx = LoadLE16(std + q);
      if (cbUpx >= 2 && q + 2 + cbUpx <= cb) ReadNumbering6(std + q + 4, cbUpx - 2, style.Anlm, style.Anld);
    }
  });
}

void TWordParagraphs::ReadRuns6(TStream& Doc, const std::vector<uint32_t>& Pages) {
  ForEachPageRun(Doc, Pages, 7, [&](int64_t From, int64_t To, const uint8_t* P, size_t Left) {
    TRun run{From, To, 0, -1, -1, -1};
    if (P) {
      // A size byte counting words: the style's index, then the modifiers.
      const size_t size = std::min(2 * size_t{P[0]}, Left - 1);
      if (size >= 2) {
        run.Istd = LoadLE16(P + 1);
        ReadNumbering6(P + 3, size - 2, run.Anlm, run.Anld);
      }
    }
    FRuns.push_back(run);
  });
  std::stable_sort(FRuns.begin(), FRuns.end(), [](const TRun& A, const TRun& B) { return A.From < B.From; });
}

void TWordParagraphs::ReadSections6(TStream& Doc, const RawByteString& Plc) {
  // n + 1 CPs, then n records of 12 bytes with the offset of the
  // section's properties (a 16-bit size, then the modifiers).
  constexpr size_t kSed = 12;
  if (Plc.size() < 4 + 4 + kSed) return;
  const size_t n = (Plc.size() - 4) / (4 + kSed);
  const auto* p = reinterpret_cast<const uint8_t*>(Plc.data());
  // Sections sharing one record must not make us read more than the stream holds.
  int64_t budget = Doc.Size();
  RawByteString head, grpprl;
  for (size_t k = 0; k < n; ++k) {
    TSection6 section{static_cast<int32_t>(LoadLE32(p + 4 * k)), -1};
    const uint32_t fcSepx = LoadLE32(p + 4 * (n + 1) + kSed * k + 2);
    if (fcSepx != 0xFFFFFFFFu && ReadBytesAt(Doc, fcSepx, 2, head)) {
      const uint16_t cb = LoadLE16(reinterpret_cast<const uint8_t*>(head.data()));
      budget -= 2 + cb;
      if (budget >= 0 && ReadBytesAt(Doc, int64_t{fcSepx} + 2, cb, grpprl))
        ForEachSprm6(reinterpret_cast<const uint8_t*>(grpprl.data()), grpprl.size(),
                     [&](uint8_t Op, const uint8_t* O, size_t N) {
                       if (Op != kSprm6SOlstAnm || N < kOlst || FOutlines.size() >= kMaxAnlvs) return;
                       // The levels' texts one after the other.
                       TOutline outline;
                       const size_t chars = N - kOlst;
                       size_t used = 0;
                       for (size_t l = 0; l < kLevels; ++l) {
                         const uint8_t* v = O + kAnlv * l;
                         const size_t from = std::min(used, chars);
                         outline.Levels[l] = ReadAnlv(v, O + kOlst + from, chars - from);
                         used += size_t{v[1]} + v[2];
                       }
                       outline.Restart = O[kLevels * kAnlv] != 0;
                       section.Outline = static_cast<int>(FOutlines.size());
                       FOutlines.push_back(std::move(outline));
                     });
    }
    FSections6.push_back(section);
  }
  std::stable_sort(FSections6.begin(), FSections6.end(),
                   [](const TSection6& A, const TSection6& B) { return A.CP < B.CP; });
}

WideString TWordParagraphs::Label6(const TAnlv& Level, int64_t Value) const {
  if (Level.Format == kNfcBullet) return Level.Before + Level.After;
  return Level.Before + FormatListNumber(Value, Level.Format) + Level.After;
}

void TWordParagraphs::Number6(TParagraph& P, int64_t CP, int Anlm, int Anld) {
  const TAnlv* own = Anld >= 0 && static_cast<size_t>(Anld) < FAnlvs.size() ? &FAnlvs[static_cast<size_t>(Anld)] : nullptr;
  auto start = [](const TAnlv& L) { return std::clamp<int64_t>(L.Start, -kMaxCounter, kMaxCounter); };
  // A paragraph inside a list leaves it going on.
  if (Anlm == kAnlmPaused) return;
  WideString label;
  int level = 1;
  if (Anlm == kAnlmList || Anlm == kAnlmBullets) {
    // The paragraphs after one another that share a description count on.
    if (!own) {
      FListAnld = -1;
      return;
    }
    FListValue = FListAnld == Anld ? std::min(FListValue + 1, kMaxCounter) : start(*own);
    FListAnld = Anld;
    label = Label6(*own, FListValue);
  } else {
    FListAnld = -1;
    if (Anlm < 1 || Anlm > static_cast<int>(kLevels)) return;
    // Outline levels count through the section; the section's outline
    // numbering says how, else the paragraph's own description.
    const auto next = std::upper_bound(FSections6.begin(), FSections6.end(), CP,
                                       [](int64_t C, const TSection6& S) { return C < S.CP; });
    const size_t section = next == FSections6.begin() ? SIZE_MAX : static_cast<size_t>(next - FSections6.begin() - 1);
    const TOutline* outline = section < FSections6.size() && FSections6[section].Outline >= 0
                                  ? &FOutlines[static_cast<size_t>(FSections6[section].Outline)]
                                  : nullptr;
    if (!outline && !own) return;
    TCounters& c = FOutlineCounters;
    if (section != FOutlineSection) {
      if (outline && outline->Restart) c = TCounters();
      FOutlineSection = section;
    }
    level = Anlm;
    const auto k = static_cast<size_t>(Anlm - 1);
    auto levelAt = [&](size_t K) { return outline ? outline->Levels[K] : K == k ? *own : TAnlv(); };
    c.Value[k] = c.Started[k] ? std::min(c.Value[k] + 1, kMaxCounter) : start(levelAt(k));
    c.Started[k] = true;
    for (size_t j = k + 1; j < kLevels; ++j) c.Started[j] = false;
    const TAnlv shown = levelAt(k);
    WideString above;
    for (size_t j = 0; j < k; ++j) {
      const TAnlv upper = levelAt(j);
      if (!c.Started[j]) {
        c.Value[j] = start(upper);
        c.Started[j] = true;
      }
      if (shown.Prev) above += FormatListNumber(c.Value[j], upper.Format) + u'.';
    }
    label = Label6(shown, c.Value[k]);
    if (shown.Format != kNfcBullet) label.insert(shown.Before.size(), above);
  }
  P.Label = std::move(label);
  if (P.Kind != TParagraphKind::Heading) {
    P.Kind = TParagraphKind::ListItem;
    P.Level = level;
  }
}

}  // namespace lkw
