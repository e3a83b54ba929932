#include "lkword/pdf/LKWPDFLayout.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "lkword/pdf/LKWPDFBidi.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

// Thresholds, in units of the font size (em) unless said otherwise.
// Baselines closer than this share a line: sub- and superscripts stay on it.
constexpr double kLineTolerance = 0.5;
// ... and within this many of the smaller glyph's own size.
constexpr double kOwnLineTolerance = 1.0;
// A glyph drawn back over the line's text, further than this (ems) and as
// large as the glyph before it, is on the line only when its baseline is
// this close to that glyph's (in ems): accents and stacked sub- and
// superscripts go back by a glyph or two, the next line of an overlapping
// block by the width of the line.
constexpr double kBlockJump = 3;
constexpr double kOverlapLineGap = 0.75;
// Glyphs on baselines closer than this, with gaps of at most kBandGap, are
// one stretch of text; a glyph that may have gone over another baseline is
// checked against the last kMaxBands stretches of the line's last
// kMaxBandScan glyphs.
constexpr double kBandTolerance = 0.1;
constexpr double kBandGap = 1;
constexpr size_t kMaxBands = 8;
constexpr size_t kMaxBandScan = 512;
// A gap wider than this between two glyphs separates words; kerning inside
// a word stays well below it.
constexpr double kWordGap = 0.15;
// A glyph further than this from the line's extent starts a new line even
// on the same baseline.
constexpr double kMaxLineGap = 25;
// Cosine above which two glyphs run in the same direction.
constexpr double kSameDirection = 0.98;
// An overprinted copy (fake bold, shadow): the same text shifted by less
// than this fraction of its advance.
constexpr double kDuplicateShift = 0.3;
// Strings of a line looked back over for the one a string is a copy of.
constexpr size_t kCopyLookBack = 4;
// A superscript: raised by more than this and smaller than this fraction
// of the line's size.
constexpr double kRaised = 0.2;
constexpr double kSmaller = 0.9;
// Sizes below this (page units) are taken as this, so a degenerate font
// size does not put every glyph on a line of its own.
constexpr double kMinSize = 1;
// Advances below this are taken as unknown (a font without widths), and
// such a glyph as this wide at most.
constexpr double kNoWidth = 0.01;
constexpr double kTypicalLetter = 0.5;
// A glyph with no known text at least this wide (ems), that the next glyph
// does not overlap, parts the text on either side: it may have been a
// hyphen, a slash or a space, and guessing none joins words.
constexpr double kBlankGlyph = 0.25;
// Baselines further apart than this start a new block (a blank line).
constexpr double kBlockGap = 1.6;
// A gap wider than this inside a line may be a column gutter.
constexpr double kGutter = 1.5;
// Lines in a row whose gutters line up before they count as two columns
// written across, and the words a column line has on average on each side.
constexpr size_t kMinColumnRun = 4;
constexpr double kMinColumnWords = 4;
// Lines of a page remembered for spotting a line drawn again over itself.
constexpr size_t kRememberedLines = 1 << 16;
// Longest word the dehyphenation looks at.
constexpr size_t kMaxWord = 64;

bool IsSpaceText(std::u16string_view T) {
  if (T.empty()) return false;
  for (const char16_t c : T)
    if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r' && c != 0xA0 && c != 0x3000) return false;
  return true;
}

// Ideographs, kana and hangul: a full em each.
bool IsWideChar(char16_t C) {
  return (C >= 0x1100 && C <= 0x11FF) || (C >= 0x2E80 && C <= 0xA4CF) || (C >= 0xAC00 && C <= 0xD7AF) ||
         (C >= 0xF900 && C <= 0xFAFF) || (C >= 0xFF00 && C <= 0xFF60);
}

bool IsMark(char16_t C) {
  if (C < 0x300) return false;  // most text
  return (C >= 0x300 && C <= 0x36F) || (C >= 0x483 && C <= 0x489) || (C >= 0x591 && C <= 0x5BD) || C == 0x5BF ||
         C == 0x5C1 || C == 0x5C2 || C == 0x5C4 || C == 0x5C5 || C == 0x5C7 || (C >= 0x610 && C <= 0x61A) ||
         (C >= 0x64B && C <= 0x65F) || C == 0x670 || (C >= 0x6D6 && C <= 0x6DC) || (C >= 0x6DF && C <= 0x6E4) ||
         C == 0x6E7 || C == 0x6E8 || (C >= 0x6EA && C <= 0x6ED) || (C >= 0x20D0 && C <= 0x20FF) ||
         (C >= 0xFE20 && C <= 0xFE2F);
}

bool AllMarks(std::u16string_view T) {
  for (const char16_t c : T)
    if (!IsMark(c)) return false;
  return true;
}

// Text made only of combining marks (asked of every glyph, several times:
// most text answers at its first character).
inline bool IsMarkText(std::u16string_view T) { return !T.empty() && T[0] >= 0x300 && AllMarks(T); }

char32_t FirstCodePoint(std::u16string_view T) {
  if (T.empty()) return 0;
  const char16_t c = T[0];
  if (c >= 0xD800 && c < 0xDC00 && T.size() > 1 && T[1] >= 0xDC00 && T[1] < 0xE000)
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (T[1] - 0xDC00);
  return c;
}

TBidiClass UnitClass(std::u16string_view T) {
  TBidiClass first = TBidiClass::bcNeutral;
  for (size_t i = 0; i < T.size(); ++i) {
    const TBidiClass c = BidiClassOf(FirstCodePoint(T.substr(i)));
    if (c == TBidiClass::bcL || c == TBidiClass::bcR) return c;
    if (c == TBidiClass::bcNumber && first == TBidiClass::bcNeutral) first = c;
  }
  return first;
}

bool MayHaveRTL(std::u16string_view T) {
  for (const char16_t c : T)
    if ((c >= 0x590 && c <= 0x8FF) || (c >= 0xFB1D && c <= 0xFEFE) || (c >= 0xD800 && c < 0xDC00)) return true;
  return false;
}

bool IsLetter(char16_t C);
bool IsLowerStart(char16_t C);
bool IsUpperLetter(char16_t C);

class TLineBuilder {
 public:
  TLineBuilder(const TPDFPageGlyphs& G, TLKPDFPage& P) : FG(G), FPage(P) {
    if (G.AfterCut.empty()) return;
    FAfterCut.assign(G.Glyphs.size(), 0);
    for (const uint32_t i : G.AfterCut)
      if (i < FAfterCut.size()) FAfterCut[i] = 1;
  }

  void Run() {
    const auto& glyphs = FG.Glyphs;
    for (uint32_t i = 0; i < glyphs.size(); ++i) {
      const TPDFPlacedGlyph& g = glyphs[i];
      if (!FLine.empty() && !Fits(g)) Flush();
      Add(i, g);
    }
    Flush();
    Finish();
  }

 private:
  std::u16string_view TextOf(const TPDFPlacedGlyph& g) const {
    return std::u16string_view(FG.Chars).substr(g.TextStart, g.TextLen);
  }
  static double SizeOf(const TPDFPlacedGlyph& g) { return std::max<double>(g.Size, kMinSize); }
  double Along(const TPDFPlacedGlyph& g) const { return g.X * FUx + g.Y * FUy; }
  double Across(const TPDFPlacedGlyph& g) const { return g.Y * FUx - g.X * FUy; }

  bool Fits(const TPDFPlacedGlyph& g) {
    if (g.Dx * FUx + g.Dy * FUy < kSameDirection) return false;
    const double size = std::max(FSize, SizeOf(g));
    const double across = Across(g);
    const double off = std::fabs(across - FBaseline);
    if (off > kLineTolerance * size) return false;
    // Small text passing under or over a large glyph is a line of its own:
    // a sub- or superscript stays within its own size of the baseline.
    if (off > kOwnLineTolerance * std::min(FSize, SizeOf(g))) return false;
    const double a0 = Along(g), a1 = a0 + g.Adv;
    // Going back over text already on the line from another baseline: the
    // next line of a block that overlaps this one, not a part of this line.
    const double own = SizeOf(g);
    if (a0 < FMax - 0.5 * g.Adv && a1 > FMin + 0.5 * g.Adv) {
      const double apart = kOverlapLineGap * own, fromLast = std::fabs(across - FLastAcross);
      if (fromLast > apart && FLastEnd - a0 > kBlockJump * own && own > kSmaller * FLastSize &&
          FLastSize > kSmaller * own)
        return false;
      // A glyph on the baseline of the line's first and last glyphs has
      // gone over no other, as a rule.
      if (fromLast + std::fabs(across - FLineAcross) > apart && GoesOverOtherBaseline(g)) return false;
    }
    return a0 <= FMax + kMaxLineGap * size && a1 >= FMin - kMaxLineGap * size;
  }

  // Text of another column may have come between: what counts is the
  // baseline of the text gone over, if that is a stretch of text as large
  // (stacked sub- and superscripts are short). The line's last glyphs are
  // looked at, kMaxBandScan at most.
  [[gnu::noinline, gnu::cold]] bool GoesOverOtherBaseline(const TPDFPlacedGlyph& g) {
    FBands.clear();
    size_t next = 0;  // the stretch a new one replaces once all are used
    const size_t from = FLine.size() > kMaxBandScan ? FLine.size() - kMaxBandScan : 0;
    for (size_t k = from; k < FLine.size(); ++k) {
      const TPDFPlacedGlyph& o = FG.Glyphs[FLine[k]];
      const double across = Across(o), a0 = Along(o), a1 = a0 + o.Adv, size = SizeOf(o);
      auto b = std::find_if(FBands.begin(), FBands.end(), [&](const TBand& b) {
        return std::fabs(b.Across - across) <= kBandTolerance * size && a0 <= b.Max + kBandGap * size &&
               a1 >= b.Min - kBandGap * size;
      });
      if (b != FBands.end()) {
        b->Min = std::min(b->Min, a0);
        b->Max = std::max(b->Max, a1);
        b->Size = std::max(b->Size, size);
        continue;
      }
      if (FBands.size() < kMaxBands) FBands.push_back({across, a0, a1, size});
      else FBands[next] = {across, a0, a1, size};
      next = (next + 1) % kMaxBands;
    }
    const double across = Across(g), a0 = Along(g), a1 = a0 + g.Adv, own = SizeOf(g);
    for (const TBand& b : FBands)
      if (std::fabs(across - b.Across) > kOverlapLineGap * own && a0 < b.Max - 0.5 * g.Adv &&
          a1 > b.Min + 0.5 * g.Adv && b.Max - b.Min > kBlockJump * own && own > kSmaller * b.Size &&
          b.Size > kSmaller * own)
        return true;
    return false;
  }

  void Add(uint32_t I, const TPDFPlacedGlyph& g) {
    if (FLine.empty()) {
      FUx = g.Dx;
      FUy = g.Dy;
      FBaseline = Across(g);
      FSize = SizeOf(g);
      FMin = Along(g);
      FMax = FMin + g.Adv;
    } else {
      // The largest glyphs set the baseline (a line may begin with a
      // superscript).
      if (SizeOf(g) > FSize * 1.2) FBaseline = Across(g);
      FSize = std::max(FSize, SizeOf(g));
      FMin = std::min(FMin, Along(g));
      FMax = std::max(FMax, Along(g) + g.Adv);
    }
    FLastAcross = Across(g);
    FLastSize = SizeOf(g);
    FLastEnd = Along(g) + g.Adv;
    FLine.push_back(I);
    if (FLine.size() == 1) FLineAcross = FLastAcross;
  }

  // Ends the line being collected: its glyphs in order become text units,
  // kept as a line record unless the line was just drawn there already.
  void Flush();
  // What collecting a line's text found besides the text itself.
  struct TLineText {
    const TPDFPlacedGlyph* First = nullptr;  // the first glyph kept
    bool Rtl = false;
    size_t Split = WideString::npos;  // where the widest gap (a gutter?) falls in FBuf
    uint32_t WideGaps = 0;            // gaps as wide as a gutter
    double GutLo = 0, GutHi = 0;
    float SplitX = 0, SplitY = 0;
  };
  void OrderLine();
  bool RunsInterleave() const;
  void GroupRuns();
  struct TGrouped {
    double Start, Along;
    uint32_t Index;
  };
  std::vector<TGrouped> FGrouped;
  struct TRunSpan {
    double Start;
    size_t Begin, End;  // in FLine
  };
  std::vector<TRunSpan> FRunSpans;
  bool SameString(size_t A, size_t B, size_t N, double StartA, double StartB) const;
  bool FRunsApart = false;  // the line's strings were put one after another
  void CollectText(TLineText& T);
  [[gnu::always_inline]] bool Overprints(const TPDFPlacedGlyph& g, double Pos, std::u16string_view Text,
                                         const TPDFPlacedGlyph* const (&Recent)[2]) const;
  double Reach(size_t At, const TPDFPlacedGlyph& g, std::u16string_view Text, double Size) const;
  void AppendUnit(std::u16string_view Text, bool Space, bool& Rtl);
  WideString LogicalText(bool Rtl);
  bool DrawnBefore(std::u16string_view Line, const TPDFPlacedGlyph& First);
  void KeepLine(WideString Line, const TLineText& T);
  // Puts right what content order got wrong (columns written row by row),
  // then emits the items and lines.
  void Finish();
  struct TLineRec;
  void Emit(WideString Text, const TLineRec& R, float X, float Y);
  bool FEmitted = false;
  double FPrevBaseline = 0, FPrevSize = 0, FPrevUx = 1, FPrevUy = 0;
  void AttachMarks();

  const TPDFPageGlyphs& FG;
  TLKPDFPage& FPage;
  std::vector<char> FAfterCut;  // by glyph, when any glyph of the page follows a cut
  std::vector<uint32_t> FLine;
  double FUx = 1, FUy = 0, FBaseline = 0, FSize = 0, FMin = 0, FMax = 0;
  double FLastAcross = 0, FLastSize = 0, FLastEnd = 0;  // the glyph added last
  struct TBand {
    double Across, Min, Max, Size;
  };
  std::vector<TBand> FBands;  // scratch: the line's last stretches of text
  double FLineAcross = 0;     // the line's first baseline
  // Scratch reused from line to line.
  std::vector<std::pair<double, uint32_t>> FOrder;
  std::vector<TBidiUnit> FUnits;
  std::vector<double> FBases;
  std::vector<size_t> FNextBase;
  std::u16string FBuf;
  uint32_t FLastTextObject = 0;
  // Where each line of the page was drawn, by the hash of its text.
  std::unordered_multimap<size_t, std::pair<float, float>> FDrawn;
  // The page's lines until Finish.
  struct TLineRec {
    WideString Text;
    size_t Split = WideString::npos;  // where a right-hand part starts in Text
    double GutLo = 0, GutHi = 0;      // the gap before it, along the line
    float SplitX = 0, SplitY = 0;
    double Baseline = 0, Size = 0;
    double Ux = 1, Uy = 0;
    const TPDFPlacedGlyph* First = nullptr;
  };
  std::vector<TLineRec> FRecs;
  bool FHaveLast = false;
};

// Marks sort right after their base glyph. A producer that writes in
// typing order shows the base first; one that writes right-to-left text
// left to right (content moving rightward) shows the mark before its base.
void TLineBuilder::AttachMarks() {
  const auto& glyphs = FG.Glyphs;
  const size_t n = FLine.size();
  FBases.assign(n, 0);
  std::vector<size_t>& next = FNextBase;
  next.assign(n + 1, n);
  for (size_t k = n; k-- > 0;) next[k] = IsMarkText(TextOf(glyphs[FLine[k]])) ? next[k + 1] : k;
  size_t prev = n;
  for (size_t k = 0; k < n; ++k) {
    const TPDFPlacedGlyph& g = glyphs[FLine[k]];
    const std::u16string_view text = TextOf(g);
    if (!IsMarkText(text)) {
      FBases[k] = Along(g);
      prev = k;
      continue;
    }
    size_t base = prev;
    const size_t after = next[k];
    if (after < n && MayHaveRTL(text) &&
        (prev == n || Along(glyphs[FLine[after]]) > Along(glyphs[FLine[prev]])))
      base = after;
    FBases[k] = base < n ? Along(glyphs[FLine[base]]) + 1e-4 * SizeOf(g) : Along(g);
  }
  FOrder.clear();
  for (size_t k = 0; k < n; ++k) FOrder.emplace_back(FBases[k], FLine[k]);
  std::stable_sort(FOrder.begin(), FOrder.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
}

void TLineBuilder::Flush() {
  if (FLine.empty()) return;
  OrderLine();
  TLineText t;
  CollectText(t);
  FLine.clear();
  if (FUnits.empty() || !t.First) return;
  WideString line = LogicalText(t.Rtl);
  if (DrawnBefore(line, *t.First)) return;
  KeepLine(std::move(line), t);
}

// The line's glyphs by their position along it, marks after their base.
void TLineBuilder::OrderLine() {
  const auto& glyphs = FG.Glyphs;
  FOrder.clear();
  bool marks = false;
  for (const uint32_t i : FLine) {
    FOrder.emplace_back(Along(glyphs[i]), i);
    if (!marks && IsMarkText(TextOf(glyphs[i]))) marks = true;
  }
  auto byKey = [](const auto& A, const auto& B) { return A.first < B.first; };
  // Most producers write a line left to right already.
  FRunsApart = false;
  if (!std::is_sorted(FOrder.begin(), FOrder.end(), byKey)) {
    std::stable_sort(FOrder.begin(), FOrder.end(), byKey);
    if (!marks && RunsInterleave()) GroupRuns();
  }
  if (marks) AttachMarks();
}

bool IsWordChar(char16_t C) { return (C >= u'0' && C <= u'9') || (IsLetter(C) && !(C >= 0x2B0 && C <= 0x36F)); }

// Letters of two strings drawn over each other (text boxes overlapping, a
// value printed over its placeholder) come out interleaved when sorted by
// position.
bool TLineBuilder::RunsInterleave() const {
  const auto& glyphs = FG.Glyphs;
  // A letter of one string, a letter of another drawn over it, and the
  // first string going on: an overprinted copy (fake bold) shows the same
  // letter twice and a note mark between two words has no letter under it.
  // Copies are passed over: a shadowed string's copy comes between its
  // letters and those of any string drawn over it.
  const TPDFPlacedGlyph* recent[2] = {nullptr, nullptr};
  char16_t firsts[2] = {0, 0};        // their first characters, a cheap first test
  size_t w[3] = {0, 0, 0}, seen = 0;  // the last three glyphs that are no copy
  for (size_t k = 0; k < FOrder.size(); ++k) {
    const TPDFPlacedGlyph& g = glyphs[FOrder[k].second];
    const char16_t first = g.TextLen > 0 ? FG.Chars[g.TextStart] : 0;
    if ((first == firsts[0] || first == firsts[1]) && Overprints(g, FOrder[k].first, TextOf(g), recent)) continue;
    recent[1] = recent[0];
    recent[0] = &g;
    firsts[1] = firsts[0];
    firsts[0] = first;
    w[0] = w[1];
    w[1] = w[2];
    w[2] = k;
    if (++seen < 3) continue;
    const TPDFPlacedGlyph& a = glyphs[FOrder[w[0]].second];
    const TPDFPlacedGlyph& b = glyphs[FOrder[w[1]].second];
    const TPDFPlacedGlyph& c = glyphs[FOrder[w[2]].second];
    if (a.Run == b.Run || c.Run != a.Run || FOrder[w[1]].first >= FOrder[w[0]].first + 0.5 * a.Adv ||
        a.TextLen == 0 || b.TextLen == 0)
      continue;
    const char16_t ca = FG.Chars[a.TextStart], cb = FG.Chars[b.TextStart];
    if (ca != cb && IsWordChar(ca) && IsWordChar(cb)) return true;
  }
  return false;
}

// Whether the glyphs [A, A + N) and [B, B + N) of the line show the same
// text from nearly the same place: a copy drawn for a shadow or fake bold.
bool TLineBuilder::SameString(size_t A, size_t B, size_t N, double StartA, double StartB) const {
  const auto& glyphs = FG.Glyphs;
  if (std::fabs(StartA - StartB) >= kDuplicateShift * SizeOf(glyphs[FLine[A]])) return false;
  for (size_t k = 0; k < N; ++k)
    if (TextOf(glyphs[FLine[A + k]]) != TextOf(glyphs[FLine[B + k]])) return false;
  return true;
}

// Each string's glyphs together, the strings in the order of where they
// start on the line. A copy of a string sorts with it, letter by letter,
// so that its letters are found to be copies and dropped.
void TLineBuilder::GroupRuns() {
  const auto& glyphs = FG.Glyphs;
  FRunSpans.clear();
  for (size_t k = 0; k < FLine.size();) {
    size_t end = k + 1;
    double start = Along(glyphs[FLine[k]]);
    while (end < FLine.size() && glyphs[FLine[end]].Run == glyphs[FLine[k]].Run) {
      start = std::min(start, Along(glyphs[FLine[end]]));
      ++end;
    }
    const size_t n = end - k;
    for (size_t back = 1; back <= std::min(kCopyLookBack, FRunSpans.size()); ++back) {
      const TRunSpan& o = FRunSpans[FRunSpans.size() - back];
      if (o.End - o.Begin == n && SameString(o.Begin, k, n, o.Start, start)) {
        start = o.Start;
        break;
      }
    }
    FRunSpans.push_back({start, k, end});
    k = end;
  }
  FGrouped.clear();
  for (const TRunSpan& r : FRunSpans)
    for (size_t k = r.Begin; k < r.End; ++k) FGrouped.push_back({r.Start, Along(glyphs[FLine[k]]), FLine[k]});
  std::stable_sort(FGrouped.begin(), FGrouped.end(), [](const TGrouped& A, const TGrouped& B) {
    return A.Start < B.Start || (A.Start == B.Start && A.Along < B.Along);
  });
  FOrder.clear();
  for (const TGrouped& e : FGrouped) FOrder.emplace_back(e.Along, e.Index);
  FRunsApart = true;
}

// The ordered glyphs into FUnits and FBuf, with a space wherever a gap, a
// space glyph or the end of a raised note mark separates words.
void TLineBuilder::CollectText(TLineText& T) {
  const auto& glyphs = FG.Glyphs;
  FUnits.clear();
  FBuf.clear();
  bool pendingSpace = false, prevRaised = false, spaceSeen = false;
  double prevEnd = 0, prevSize = 0, spaceAt = 0, spaceNeed = 0;
  double prevAt = 0, prevAdv = 0;  // the glyph before, by itself
  double blankEnd = -1;             // where an unmapped glyph ends, if the last seen was one
  uint32_t prevRun = 0;
  size_t kept = 0;
  const TPDFPlacedGlyph* recent[2] = {nullptr, nullptr};
  for (size_t oi = 0; oi < FOrder.size(); ++oi) {
    const auto& [along, idx] = FOrder[oi];
    const TPDFPlacedGlyph& g = glyphs[idx];
    const std::u16string_view text = TextOf(g);
    if (Overprints(g, along, text, recent)) continue;
    recent[1] = recent[0];
    recent[0] = &g;
    if (!T.First) T.First = &g;
    const double size = SizeOf(g);
    if (IsMarkText(text)) {
      // A combining mark goes with its base, whatever the gaps say.
      if (!FUnits.empty()) {
        FBuf += text;
        FUnits.back().Len += static_cast<uint32_t>(text.size());
        if (!T.Rtl && MayHaveRTL(text)) T.Rtl = true;
      }
      continue;
    }
    const bool raised = Across(g) - FBaseline < -kRaised * FSize && size < kSmaller * FSize;
    if (IsSpaceText(text)) {
      // A space glyph separates unless the next glyph is drawn over it (a
      // space without width, or one the producer backed up over). One that
      // lies wholly inside the glyph before it was drawn with other text (a
      // stray space of another run on nearly the same baseline, a
      // ligature's placeholder).
      const bool inside = g.Adv > kNoWidth * size ? along + g.Adv <= prevEnd : along < prevEnd - kWordGap * size;
      if (kept > 0 && !spaceSeen && !inside) {
        spaceSeen = true;
        spaceAt = along;
        // A narrow space (a condensed font's) still counts once the next
        // glyph starts past half of it.
        spaceNeed = g.Adv > kNoWidth * size ? std::min(kWordGap * size, 0.5 * g.Adv) : kWordGap * size;
      }
      continue;
    }
    const double gap = along - prevEnd;
    // A string put after the one it was drawn over is a word apart.
    if (FRunsApart && kept > 0 && g.Run != prevRun && along < prevAt + 0.5 * prevAdv) pendingSpace = true;
    // Text a clip cut off (a cell's overflow) ends its word at the cut.
    if (!FAfterCut.empty() && FAfterCut[idx] && kept > 0) pendingSpace = true;
    prevRun = g.Run;
    prevAt = along;
    prevAdv = g.Adv;
    if (kept > 0 && gap > kWordGap * std::min(size, prevSize)) {
      pendingSpace = true;
      // The widest gap of the line, should it turn out to be a gutter.
      if (gap > kGutter * size && !text.empty()) {
        ++T.WideGaps;
        if (gap > T.GutHi - T.GutLo) {
          T.Split = FBuf.size();
          T.GutLo = prevEnd;
          T.GutHi = along;
          T.SplitX = g.X;
          T.SplitY = g.Y;
        }
      }
    }
    if (spaceSeen && along - spaceAt > spaceNeed) pendingSpace = true;
    spaceSeen = false;
    // A note mark before its note's text (the mark after a word stays on it).
    if (prevRaised && !raised) pendingSpace = true;
    if (!text.empty()) {
      if (blankEnd >= 0 && along > blankEnd - kWordGap * size) pendingSpace = true;
      blankEnd = -1;
      // A soft hyphen drawn as a glyph of its own inside a line shows, as a
      // hyphen (simple fonts' code 0xAD is the hyphen glyph); one that ends
      // the line stays, for joining the word. One the next glyph goes back
      // over was not seen.
      std::u16string_view shown = text;
      bool seen = true;
      if (text[0] == kSoftHyphenChar && text.size() == 1 && oi + 1 < FOrder.size()) [[unlikely]] {
        seen = FOrder[oi + 1].first > along + 0.5 * g.Adv;
        shown = u"-";
      }
      if (seen) {
        AppendUnit(shown, pendingSpace, T.Rtl);
        pendingSpace = false;
      }
    } else if (g.Adv > kBlankGlyph * size) {
      blankEnd = along + g.Adv;
    }
    const double adv = Reach(oi, g, text, size);
    prevEnd = kept > 0 ? std::max(prevEnd, along + adv) : along + adv;
    prevSize = size;
    prevRaised = raised && !text.empty();
    ++kept;
  }
}

// Drops an overprinted copy (fake bold, shadow) of a glyph just placed.
inline bool TLineBuilder::Overprints(const TPDFPlacedGlyph& g, double Pos, std::u16string_view Text,
                                     const TPDFPlacedGlyph* const (&Recent)[2]) const {
  if (Text.empty()) return false;
  for (const TPDFPlacedGlyph* r : Recent) {
    if (r && TextOf(*r) == Text &&
        std::fabs(Pos - Along(*r)) < kDuplicateShift * std::max<double>(r->Adv, 0.1 * SizeOf(*r)) &&
        std::fabs(Across(g) - Across(*r)) < kDuplicateShift * SizeOf(*r))
      return true;
  }
  return false;
}

// How far along the line the glyph at At reaches: its advance, or for a
// font without widths up to the next glyph, at most a typical letter (an
// ideograph's em).
double TLineBuilder::Reach(size_t At, const TPDFPlacedGlyph& g, std::u16string_view Text, double Size) const {
  if (!(g.Adv < kNoWidth * Size) || Text.empty()) return g.Adv;
  const double next = At + 1 < FOrder.size() ? FOrder[At + 1].first - FOrder[At].first : 0;
  return std::clamp(next, 0.0, (IsWideChar(Text[0]) ? 1.0 : kTypicalLetter) * Size);
}

void TLineBuilder::AppendUnit(std::u16string_view Text, bool Space, bool& Rtl) {
  if (Space && !FBuf.empty()) {
    FUnits.push_back({static_cast<uint32_t>(FBuf.size()), 1, TBidiClass::bcNeutral});
    FBuf += u' ';
  }
  if (!Rtl && MayHaveRTL(Text)) Rtl = true;
  FUnits.push_back({static_cast<uint32_t>(FBuf.size()), static_cast<uint32_t>(Text.size()), UnitClass(Text)});
  FBuf += Text;
}

WideString TLineBuilder::LogicalText(bool Rtl) {
  if (!Rtl) return WideString(FBuf);
  VisualToLogical(FUnits);
  WideString line;
  line.reserve(FBuf.size());
  for (const TBidiUnit& u : FUnits) line.append(FBuf, u.Start, u.Len);
  return line;
}

// A line drawn again over itself (bold by overprinting, shadows, a figure
// drawn several times over) after other lines came between: the page's
// lines are remembered.
bool TLineBuilder::DrawnBefore(std::u16string_view Line, const TPDFPlacedGlyph& First) {
  const size_t hash = std::hash<std::u16string_view>()(Line);
  const double near = kDuplicateShift * SizeOf(First);
  for (auto [it, end] = FDrawn.equal_range(hash); it != end; ++it)
    if (std::fabs(First.X - it->second.first) < near && std::fabs(First.Y - it->second.second) < near) return true;
  if (FDrawn.size() < kRememberedLines) FDrawn.emplace(hash, std::pair{First.X, First.Y});
  return false;
}

void TLineBuilder::KeepLine(WideString Line, const TLineText& T) {
  TLineRec r;
  r.Text = std::move(Line);
  // Only a line with one gap that wide may be two columns side by side;
  // more are the cells of a table (or more columns).
  if (!T.Rtl && T.Split != WideString::npos && T.WideGaps == 1) {
    r.Split = T.Split;
    r.GutLo = T.GutLo;
    r.GutHi = T.GutHi;
    r.SplitX = T.SplitX;
    r.SplitY = T.SplitY;
  }
  r.Baseline = FBaseline;
  r.Ux = FUx;
  r.Uy = FUy;
  r.Size = FSize;
  r.First = T.First;
  FRecs.push_back(std::move(r));
}

void TLineBuilder::Emit(WideString Text, const TLineRec& R, float X, float Y) {
  // A blank line between blocks: after a wider step than lines take, a
  // turn of direction, or a jump back up the page (the next column).
  if (FEmitted) {
    const double step = R.Baseline - FPrevBaseline, size = std::max(R.Size, FPrevSize);
    if (R.Ux * FPrevUx + R.Uy * FPrevUy < kSameDirection || step > kBlockGap * size ||
        step < -kLineTolerance * size)
      FPage.Lines().emplace_back();
  }
  FEmitted = true;
  FPrevBaseline = R.Baseline;
  FPrevSize = R.Size;
  FPrevUx = R.Ux;
  FPrevUy = R.Uy;
  const TPDFPlacedGlyph& First = *R.First;
  auto* item = static_cast<TLKPDFItemText*>(FPage.Items().AddItem(itText));
  item->SetText(Text);
  if (First.FontIdx < FG.FontNames.size()) item->SetFontName(FG.FontNames[First.FontIdx]);
  item->SetFontSize(static_cast<int32_t>(std::lround(std::min<double>(First.Size, 1e6))));
  item->SetLeft(X);
  item->SetTop(Y - First.Size);
  item->SetIsContinueBlock(FHaveLast && First.TextObject == FLastTextObject);
  FLastTextObject = First.TextObject;
  FHaveLast = true;
  FPage.Lines().push_back(std::move(Text));
}

size_t WordCount(std::u16string_view T) {
  size_t n = 0;
  bool in = false;
  for (const char16_t c : T) {
    const bool word = c != u' ';
    if (word && !in) ++n;
    in = word;
  }
  return n;
}

// Lines of running text often go on from the line before and start with a
// small letter; the cells of a table seldom do. Text without case passes.
struct TLineStarts {
  size_t Lower = 0, Cased = 0;
  void Add(std::u16string_view T) {
    const auto at = std::find_if(T.begin(), T.end(), IsLetter);
    if (at == T.end()) return;
    if (IsLowerStart(*at)) ++Lower;
    if (IsLowerStart(*at) || IsUpperLetter(*at)) ++Cased;
  }
  bool GoOn() const { return Cased == 0 || 4 * Lower >= Cased; }
};

void TLineBuilder::Finish() {
  const size_t n = FRecs.size();
  size_t i = 0;
  while (i < n) {
    const TLineRec& a = FRecs[i];
    size_t j = i + 1;
    if (a.Split != WideString::npos) {
      // Lines that follow each other down the page with their gutters
      // overlapping: two columns written across.
      double lo = a.GutLo, hi = a.GutHi;
      while (j < n) {
        const TLineRec& b = FRecs[j];
        const double nlo = std::max(lo, b.GutLo), nhi = std::min(hi, b.GutHi);
        if (b.Split == WideString::npos || b.Ux * a.Ux + b.Uy * a.Uy < kSameDirection ||
            b.Baseline <= FRecs[j - 1].Baseline || nhi - nlo < 0.5 * b.Size)
          break;
        lo = nlo;
        hi = nhi;
        ++j;
      }
      // Both sides must read as running text, not as the cells of a table.
      size_t left = 0, right = 0;
      TLineStarts lefts, rights;
      for (size_t k = i; k < j; ++k) {
        const std::u16string_view t(FRecs[k].Text);
        left += WordCount(t.substr(0, FRecs[k].Split));
        right += WordCount(t.substr(FRecs[k].Split));
        lefts.Add(t.substr(0, FRecs[k].Split));
        rights.Add(t.substr(FRecs[k].Split));
      }
      const double need = kMinColumnWords * static_cast<double>(j - i);
      if (j - i >= kMinColumnRun && static_cast<double>(left) >= need && static_cast<double>(right) >= need &&
          lefts.GoOn() && rights.GoOn()) {
        for (size_t k = i; k < j; ++k) {
          TLineRec& r = FRecs[k];
          WideString left = r.Text.substr(0, r.Split);
          while (!left.empty() && left.back() == u' ') left.pop_back();
          Emit(std::move(left), r, r.First->X, r.First->Y);
        }
        for (size_t k = i; k < j; ++k) {
          TLineRec& r = FRecs[k];
          const size_t start = r.Text.find_first_not_of(u' ', r.Split);
          Emit(start == WideString::npos ? WideString() : r.Text.substr(start), r, r.SplitX, r.SplitY);
        }
        i = j;
        continue;
      }
      j = i + 1;
    }
    Emit(std::move(FRecs[i].Text), a, a.First->X, a.First->Y);
    i = j;
  }
  FRecs.clear();
}

bool IsLetter(char16_t C) {
  if (IsAsciiLetter(C)) return true;
  return C >= 0xC0 && C != 0xD7 && C != 0xF7 && !(C >= 0x2000 && C <= 0x2BFF) && !(C >= 0x3000 && C <= 0x303F) &&
         !(C >= 0xFF00 && C <= 0xFF20);
}

bool IsLowerStart(char16_t C) {
  if (C >= u'a' && C <= u'z') return true;
  if (C < 0xDF) return false;
  // Latin-1 and Latin Extended-A lower-case letters, Greek and Cyrillic
  // small letters.
  if (C <= 0xFF) return C != 0xF7;
  if (C <= 0x17F) return (C & 1) == 1;
  if (C >= 0x3AC && C <= 0x3CE) return true;
  if (C >= 0x430 && C <= 0x45F) return true;
  return false;
}

bool IsUpperLetter(char16_t C) {
  if (C >= u'A' && C <= u'Z') return true;
  if (C >= 0xC0 && C <= 0xDE) return C != 0xD7;
  if (C >= 0x100 && C <= 0x17F) return (C & 1) == 0;
  return (C >= 0x391 && C <= 0x3A9) || (C >= 0x410 && C <= 0x42F);
}

bool AllUpper(std::u16string_view W) {
  size_t letters = 0;
  for (const char16_t c : W) {
    if (IsUpperLetter(c)) ++letters;
    else if (IsLetter(c)) return false;
  }
  return letters >= 2;
}

char16_t FoldChar(char16_t C) {
  if (IsUpperLetter(C)) {
    if (C < 0x80 || (C >= 0xC0 && C <= 0xDE) || (C >= 0x391 && C <= 0x3A9) || (C >= 0x410 && C <= 0x42F))
      return static_cast<char16_t>(C + 32);
    return static_cast<char16_t>(C + 1);
  }
  return C;
}

// A word as the page's word list keeps it: punctuation around it dropped,
// letters folded to lower case; kept as a 64-bit hash (FNV-1a), so that
// listing a page's words allocates nothing per word.
uint64_t FoldedWordHash(std::u16string_view W) {
  size_t a = 0, b = W.size();
  while (a < b && !IsLetter(W[a]) && !(W[a] >= u'0' && W[a] <= u'9')) ++a;
  while (b > a && !IsLetter(W[b - 1]) && !(W[b - 1] >= u'0' && W[b - 1] <= u'9')) --b;
  uint64_t h = 0xcbf29ce484222325ULL;
  for (size_t i = a; i < b; ++i) {
    const char16_t c = FoldChar(W[i]);
    h = (h ^ (c & 0xFF)) * 0x100000001b3ULL;
    h = (h ^ (c >> 8)) * 0x100000001b3ULL;
  }
  return h;
}

// The page's words by FoldedWordHash: an open-addressing set, as a page
// is hashed whole for the few lookups its hyphens make.
class TWordSet {
 public:
  explicit TWordSet(const std::vector<WideString>& Lines) {
    // A word per space or line at most; a load of at most a half.
    size_t words = 0;
    for (const WideString& line : Lines) words += 1 + static_cast<size_t>(std::count(line.begin(), line.end(), u' '));
    size_t size = 16;
    while (size < 2 * words) size *= 2;
    FSlots.assign(size, 0);
    for (const WideString& line : Lines) {
      size_t pos = 0;
      while (pos < line.size()) {
        size_t end = line.find(u' ', pos);
        if (end == WideString::npos) end = line.size();
        // A word broken at the line's end says nothing.
        if (end > pos && !(end == line.size() && (line[end - 1] == u'-' || line[end - 1] == 0x2010)))
          Insert(FoldedWordHash(std::u16string_view(line).substr(pos, end - pos)));
        pos = end + 1;
      }
    }
  }
  bool Contains(std::u16string_view Word) const {
    const uint64_t h = Key(FoldedWordHash(Word));
    for (size_t i = h & (FSlots.size() - 1);; i = (i + 1) & (FSlots.size() - 1)) {
      if (FSlots[i] == h) return true;
      if (FSlots[i] == 0) return false;
    }
  }

 private:
  static uint64_t Key(uint64_t H) { return H == 0 ? 1 : H; }  // 0 marks a free slot
  void Insert(uint64_t H) {
    H = Key(H);
    size_t i = H & (FSlots.size() - 1);
    while (FSlots[i] != 0 && FSlots[i] != H) i = (i + 1) & (FSlots.size() - 1);
    FSlots[i] = H;
  }
  std::vector<uint64_t> FSlots;
};

}  // namespace

void DehyphenateLines(std::vector<WideString>& Lines) {
  std::optional<TWordSet> seen;
  auto wasSeen = [&seen](std::u16string_view W) { return seen->Contains(W); };
  // Lines emptied by a join are dropped at the end (erasing one by one
  // would be quadratic on a page of a million short lines).
  std::vector<char> dropped(Lines.size(), 0);
  bool anyDropped = false;
  size_t i = 0;
  // Blank lines between blocks do not stop a word going on.
  for (size_t j = 1; j < Lines.size(); i = (dropped[j] || Lines[j].empty()) ? i : j, ++j) {
    WideString& cur = Lines[i];
    // Trailing blanks do not hide the hyphen.
    while (!cur.empty() && cur.back() == u' ') cur.pop_back();
    if (cur.size() < 2) continue;
    const char16_t last = cur.back();
    const bool soft = last == 0xAD;
    if (!soft && !((last == u'-' || last == 0x2010) && IsLetter(cur[cur.size() - 2]))) continue;
    WideString& next = Lines[j];
    const size_t start = next.find_first_not_of(u' ');
    if (start == WideString::npos) continue;
    size_t end = next.find(u' ', start);
    if (end == WideString::npos) end = next.size();
    // The word before the hyphen (words longer than any real one are cut,
    // so a page of endless joins stays linear).
    size_t head = cur.size() - 1;
    while (head > 0 && cur[head - 1] != u' ' && cur.size() - head < kMaxWord) --head;
    const std::u16string_view before(cur.data() + head, cur.size() - 1 - head);
    const std::u16string_view after(next.data() + start, end - start);
    bool join = soft, keepHyphen = false;
    if (!soft) {
      // The rule: a lower-case continuation, or an all-capitals word going
      // on in capitals. What the page writes elsewhere overrides it: the
      // whole word means a hyphenation, the hyphenated pair a compound.
      join = IsLowerStart(after[0]) || (AllUpper(before) && after.size() >= 2 && IsUpperLetter(after[0]) &&
                                        IsUpperLetter(after[1]));
      if (!seen) seen.emplace(Lines);
      WideString word(before);
      word += after;
      if (wasSeen(word)) {
        join = true;
      } else if (join && wasSeen(word.insert(before.size(), 1, u'-'))) {
        keepHyphen = true;
      }
    }
    if (!join) continue;
    if (!keepHyphen) cur.pop_back();
    // The continuation, up to the next word space, moves up.
    cur.append(next, start, end - start);
    const size_t rest = next.find_first_not_of(u' ', end);
    next.erase(0, rest == WideString::npos ? next.size() : rest);
    if (next.empty()) {  // the joined line may end in a hyphen again
      dropped[j] = 1;
      anyDropped = true;
    }
  }
  if (!anyDropped) return;
  size_t out = 0;
  for (size_t k = 0; k < Lines.size(); ++k) {
    if (dropped[k]) continue;
    if (out != k) Lines[out] = std::move(Lines[k]);
    ++out;
  }
  Lines.resize(out);
}

void LayoutPageText(const TPDFPageGlyphs& Glyphs, const TPDFTextOptions& Options, TLKPDFPage& Page) {
  TLineBuilder builder(Glyphs, Page);
  builder.Run();
  if (Options.Dehyphenate) DehyphenateLines(Page.Lines());
}

}  // namespace lkw
