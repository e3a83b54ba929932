// Word's stories told as document events: the characters go to the
// renderer, which draws them; the marks among them draw the paragraphs and
// tables that the host's consumers see.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "lkword/framework/WordRenderer.h"
#include "lkword/platform/Bytes.h"
#include "lkword/word/MSWord.h"

namespace lkw {

namespace {

constexpr char16_t kCellMark = 7;
constexpr char16_t kNonBreakingHyphen = 30;

// Characters that are text as they stand. The other controls are marks, or
// stand for nothing (C0 codes Word does not use, C1 codes an 8-bit code page
// leaves undefined) and are left out.
constexpr bool IsOrdinary(char16_t C) { return (C >= 32 && static_cast<char16_t>(C - 0x7F) > 0x20) || C == 10; }

// Whether C ends a paragraph: its mark, a section, page or column break, or
// a cell's mark.
constexpr bool EndsParagraph(char16_t C) { return C == 13 || C == 12 || C == 14 || C == kCellMark; }

const TParagraph kBodyParagraph;

// Whether one of the four UTF-16 units packed in X is below 15.
constexpr bool HasUnitBelow15(uint64_t X) {
  constexpr uint64_t kOnes = 0x0001000100010001ULL, kHighs = 0x8000800080008000ULL;
  return ((X - kOnes * 15) & ~X & kHighs) != 0;
}

// Where the paragraph that holds At ends (Text's size when it runs on).
size_t ParagraphEnd(std::u16string_view Text, size_t At) {
  const size_t n = Text.size();
  size_t i = At;
  for (;;) {
    // Text is mostly characters from 15 up, which end nothing: they are
    // passed over four at a time.
    for (uint64_t x; i + 4 <= n; i += 4) {
      std::memcpy(&x, Text.data() + i, sizeof x);
      if (HasUnitBelow15(x)) break;
    }
    const size_t stop = std::min(n, i + 4);
    for (; i < stop; ++i)
      if (EndsParagraph(Text[i])) return i;
    if (i == n) return n;
  }
}

}  // namespace

std::unique_ptr<TTextRenderer> TMSWordDocument::CreateRenderer() {
  auto renderer = std::make_unique<TWordRenderer>(*this, RendererPath());
  FWord = renderer.get();
  return renderer;
}

std::vector<TWordParagraphs::TPiece> TMSWordDocument::ParagraphPieces() const {
  std::vector<TWordParagraphs::TPiece> pieces;
  for (uint32_t i = 0; i < CLX.noPCD; ++i) {
    int64_t from = 0, to = 0;
    const int width = GetPieceBoundsFC(from, to, i) == 1 ? 1 : 2;
    pieces.push_back({CLX.Pos[i], CLX.Pos[i + 1], from, width});
  }
  std::sort(pieces.begin(), pieces.end(), [](const auto& A, const auto& B) { return A.CP < B.CP; });
  return pieces;
}

void TMSWordDocument::ReadParagraphs(TStream& Stream, TStream& Table) {
  // The list tables' pairs follow the 738 bytes the FIB record holds.
  constexpr int64_t kListPairs = 738;
  constexpr uint16_t kPairsWithLists = 75;
  TWordParagraphs::TSource source{FIB.fcStshf, FIB.lcbStshf,      FIB.fcPlcfbtePapx, FIB.lcbPlcfbtePapx,
                                  FIB.fcPlcfbteChpx, FIB.lcbPlcfbteChpx, 0, 0, 0, 0};
  RawByteString pairs;
  if (FIB.cfclcb >= kPairsWithLists && ReadBytesAt(Stream, kListPairs, 16, pairs)) {
    const auto* p = reinterpret_cast<const uint8_t*>(pairs.data());
    source.fcPlfLst = LoadLE32(p);
    source.lcbPlfLst = LoadLE32(p + 4);
    source.fcPlfLfo = LoadLE32(p + 8);
    source.lcbPlfLfo = LoadLE32(p + 12);
  }
  // Tracked changes are marked by CP, which the paragraphs' runs give.
  FParagraphs.Load(Stream, Table, source, ParagraphPieces(), FFontNames, RunStylesSeen() || MarksChanges());
}

void TMSWordDocument::ReadParagraphs6(TStream& Stream) {
  // Only a document saved whole may leave pages out of its bin table.
  const uint32_t pages = IsComplexDocument() ? 0 : FIB.cpnBtePap;
  const TWordParagraphs::TSource6 source{FIB.fcStshf,   FIB.lcbStshf,  FIB.fcPlcfbtePapx, FIB.lcbPlcfbtePapx,
                                         pages,         FIB.fcPlcfsed, FIB.lcbPlcfsed,    FIB.fcSttbfffn,
                                         FIB.lcbSttbfffn};
  FParagraphs.Load6(Stream, source, ParagraphPieces(), FTextCodePage, RunStylesSeen());
}

int64_t TMSWordDocument::CpAfter(int64_t Cp, size_t Units) const {
  auto it = std::lower_bound(FReplaced.begin(), FReplaced.end(), Cp, [](const TReplaced& R, int64_t C) { return R.CP < C; });
  for (; it != FReplaced.end(); ++it) {
    if (it->CP - Cp >= static_cast<int64_t>(Units)) break;
    // The characters up to the replaced ones, then their text for their CPs.
    Units -= static_cast<size_t>(it->CP - Cp);
    Units -= std::min(Units, it->Units);
    Cp = it->CP + it->Count;
  }
  return Cp + static_cast<int64_t>(Units);
}

size_t TMSWordDocument::UnitsBetween(int64_t From, int64_t To) const {
  int64_t units = std::max<int64_t>(To - From, 0);
  auto it = std::lower_bound(FReplaced.begin(), FReplaced.end(), From,
                             [](const TReplaced& R, int64_t C) { return R.CP < C; });
  for (; it != FReplaced.end() && it->CP < To; ++it)
    units += static_cast<int64_t>(it->Units) - std::min(it->Count, To - it->CP);
  return static_cast<size_t>(std::max<int64_t>(units, 0));
}

void TMSWordDocument::TellRun(std::u16string_view Run, size_t At) {
  if (FNoteNumbers.empty() || FStoryCp < 0) {
    TellStyledRun(Run, At);
    return;
  }
  if (!FNoteNumbersSorted) {
    std::stable_sort(FNoteNumbers.begin(), FNoteNumbers.end(), [](const auto& A, const auto& B) { return A.CP < B.CP; });
    FNoteNumbersSorted = true;
  }
  // The note numbers in the run are references to their notes.
  const int64_t from = CpAfter(FStoryCp, At - FTextBase);
  auto it = std::lower_bound(FNoteNumbers.begin(), FNoteNumbers.end(), from,
                             [](const TNoteNumber& N, int64_t C) { return N.CP < C; });
  size_t done = 0;
  for (; it != FNoteNumbers.end(); ++it) {
    const size_t at = UnitsBetween(from, it->CP);
    if (at >= Run.size()) break;
    if (at < done || Run.substr(at, it->Label.size()) != it->Label) continue;
    if (at > done) TellStyledRun(Run.substr(done, at - done), At + done);
    Output().NoteReference(it->Kind, it->Label, kPlainRun);
    done = at + it->Label.size();
  }
  if (done < Run.size()) TellStyledRun(Run.substr(done), At + done);
}

void TMSWordDocument::TellStyledRun(std::u16string_view Run, size_t At) {
  TDocumentOutput& out = Output();
  if (FStoryCp < 0) {
    out.Text(Run);
    return;
  }
  if (!FParagraphs.HasCharacterRuns()) {
    TRunStyle style;
    style.Bold = FParagraph.Bold;
    style.Italic = FParagraph.Italic;
    out.Text(Run, style);
    return;
  }
  // Parts of the same style go out as one. Characters that replaced
  // others are counted as one each here: the styles stay close to them.
  int64_t cp = CpAfter(FStoryCp, At - FTextBase);
  TRunStyle style;
  size_t from = 0, to = 0;
  while (to < Run.size()) {
    int64_t until = 0;
    const TRunStyle next = FParagraphs.RunAt(cp, FParagraph, until);
    if (to > from && (next.Bold != style.Bold || next.Italic != style.Italic)) {
      out.Text(Run.substr(from, to - from), style);
      from = to;
    }
    style = next;
    const auto take = static_cast<size_t>(std::min<int64_t>(until - cp, static_cast<int64_t>(Run.size() - to)));
    to += take;
    cp += static_cast<int64_t>(take);
  }
  out.Text(Run.substr(from), style);
}

void TMSWordDocument::TellStory(TStoryKind Kind, TWideStrings* List, std::u16string_view Text, int64_t Cp) {
  BeginTelling(Kind, List, Cp);
  TellText(Text);
  EndTelling(Kind);
}

void TMSWordDocument::BeginTelling(TStoryKind Kind, TWideStrings* List, int64_t Cp) {
  TDocumentOutput& out = Output();
  FTold = TTold();
  FStoryCp = FParagraphs.Empty() ? -1 : Cp;
  FTelling = Kind;
  FNextNote = static_cast<size_t>(
      std::lower_bound(FNoteStarts.begin(), FNoteStarts.end(), Cp, [](const auto& N, int64_t C) { return N.CP < C; }) -
      FNoteStarts.begin());
  FWord->SetStoryList(List);
  out.BeginStory(Kind);
}

void TMSWordDocument::EndTelling(TStoryKind Kind) {
  for (const bool link : FTold.Links)
    if (link) Output().EndLink();
  CloseParagraph();
  FStoryCp = -1;
  CloseTable();
  Output().EndStory(Kind);
}

void TMSWordDocument::OpenParagraph(std::u16string_view Text, size_t At) {
  if (FTold.Paragraph) return;
  TDocumentOutput& out = Output();
  if (FNextNote < FNoteStarts.size() && FStoryCp >= 0 &&
      (FTelling == TStoryKind::Footnote || FTelling == TStoryKind::Endnote)) {
    const int64_t cp = CpAfter(FStoryCp, At - FTextBase);
    for (; FNextNote < FNoteStarts.size() && FNoteStarts[FNextNote].CP <= cp; ++FNextNote)
      if (FNoteStarts[FNextNote].Kind == FTelling) out.BeginNote(FTelling, FNoteStarts[FNextNote].Label);
  }
  size_t end = WideString::npos;  // the paragraph's mark, found once when needed
  if (!FTold.Cell) {
    // The text holds no table marks but the cells' own: a paragraph is a
    // cell's when its mark is one, or when its row has begun.
    end = ParagraphEnd(Text, At);
    if (FTold.Row || (end < Text.size() && Text[end] == kCellMark)) {
      if (!FTold.Table) out.BeginTable();
      if (!FTold.Row) out.BeginRow();
      out.BeginCell();
      FTold.Table = FTold.Row = FTold.Cell = true;
    } else {
      CloseTable();
    }
  }
  if (FStoryCp < 0) {
    out.BeginParagraph(kBodyParagraph);
  } else {
    FStoryCp = CpAfter(FStoryCp, At - FTextBase);
    FTextBase = At;
    if (end == WideString::npos) end = ParagraphEnd(Text, At);
    FParagraph = FParagraphs.Next(end < Text.size() ? CpAfter(FStoryCp, end - At) : FStoryCp);
    out.BeginParagraph(FParagraph);
  }
  FTold.Paragraph = true;
}

void TMSWordDocument::CloseParagraph() {
  if (!FTold.Paragraph) return;
  FTold.Paragraph = false;
  Output().EndParagraph();
}

void TMSWordDocument::CloseTable() {
  TDocumentOutput& out = Output();
  if (FTold.Cell) out.EndCell();
  if (FTold.Row) out.EndRow();
  if (FTold.Table) out.EndTable();
  FTold.Cell = FTold.Row = FTold.Table = false;
}

void TMSWordDocument::TellText(std::u16string_view Text) {
  TDocumentOutput& out = Output();
  TWordRenderer& word = *FWord;
  const size_t n = Text.size();
  word.Reserve(n);
  FTextBase = 0;
  const bool marksChanges = FStoryCp >= 0 && MarksChanges();
  for (size_t i = 0; i < n;) {
    const char16_t c = Text[i];
    const bool told = FTold.Instructions == 0;  // document text, not a field's instruction
    if (IsOrdinary(c)) {
      size_t j = i + 1;
      while (j < n && IsOrdinary(Text[j])) ++j;
      const std::u16string_view run = Text.substr(i, j - i);
      if (told) OpenParagraph(Text, i);
      if (told && marksChanges && FTold.Fields.empty()) {
        TellChangedRun(run, i);
        i = j;
        continue;
      }
      word.Characters(run);
      if (told)
        TellRun(run, i);
      else if (FTold.Fields.back() && FTold.Instruction.size() < kMaxFieldInstruction)
        FTold.Instruction.append(run.substr(0, kMaxFieldInstruction - FTold.Instruction.size()));
      i = j;
      continue;
    }
    const size_t at = i++;
    // A change stays open across tabs, line breaks and objects: paragraphs,
    // cells and fields close it.
    const bool inLine =
        !EndsParagraph(c) && c != kWordFieldBegin && c != kWordFieldSeparator && c != kWordFieldEnd && c != 0;
    if (FTold.Revision && !inLine) TellRevision(std::nullopt);
    switch (c) {
      case 0:
        word.Mark(TWordMark::Null, c);
        break;
      case kCellMark: {
        OpenParagraph(Text, at);
        const bool rowEnd = i < n && Text[i] == kCellMark;
        word.Mark(rowEnd ? TWordMark::RowEnd : TWordMark::CellEnd, c);
        CloseParagraph();
        if (FTold.Cell) out.EndCell();
        FTold.Cell = false;
        if (rowEnd) {
          ++i;
          if (FTold.Row) out.EndRow();
          FTold.Row = false;
        }
        break;
      }
      case 9:
        if (told) OpenParagraph(Text, at);
        word.Mark(TWordMark::Tab, c);
        if (told) out.Tab();
        break;
      case 11:
        if (told) OpenParagraph(Text, at);
        word.Mark(TWordMark::LineBreak, c);
        if (told) out.LineBreak();
        break;
      case kNonBreakingHyphen:
        if (told) OpenParagraph(Text, at);
        word.Mark(TWordMark::NonBreakingHyphen, c);
        if (told) out.Text(u"-");
        break;
      case 12:
      case 13:
      case 14:
        OpenParagraph(Text, at);
        word.Mark(c == 13 ? TWordMark::ParagraphEnd : c == 12 ? TWordMark::SectionBreak : TWordMark::ColumnBreak, c);
        CloseParagraph();
        if (c == 12) out.PageBreak();
        // A paragraph mark may hand out the output that completes it.
        if (c == 13 && out.Cancelled()) return;
        break;
      case kWordFieldBegin:
        word.Mark(TWordMark::FieldBegin, c);
        FTold.Fields.push_back(true);
        FTold.Links.push_back(false);
        FTold.Instruction.clear();
        ++FTold.Instructions;
        break;
      case kWordFieldSeparator:
        word.Mark(TWordMark::FieldSeparator, c);
        if (!FTold.Fields.empty() && FTold.Fields.back()) {
          FTold.Fields.back() = false;
          --FTold.Instructions;
          // A hyperlink's result is the text of the link.
          if (FTold.Instructions == 0) {
            const WideString target = HyperlinkFieldTarget(FTold.Instruction);
            if (!target.empty()) {
              OpenParagraph(Text, at);
              out.BeginLink(target);
              FTold.Links.back() = true;
            }
          }
          FTold.Instruction.clear();
        }
        break;
      case kWordFieldEnd:
        word.Mark(TWordMark::FieldEnd, c);
        if (!FTold.Fields.empty()) {
          const bool noResult = FTold.Fields.back();
          if (noResult) --FTold.Instructions;
          FTold.Fields.pop_back();
          if (FTold.Links.back()) out.EndLink();
          FTold.Links.pop_back();
          // A macro button has no result: the page shows its text instead.
          if (noResult && FTold.Instructions == 0) {
            if (const WideString shown = MacroButtonText(FTold.Instruction); !shown.empty()) {
              OpenParagraph(Text, at);
              out.Text(shown);
            }
          }
        }
        break;
      default:  // 1-6, 8, 31: objects, notes, note separators, optional hyphens; unused codes
        word.Mark(TWordMark::Object, c);
        break;
    }
  }
  TellRevision(std::nullopt);
  if (FStoryCp >= 0) FStoryCp = CpAfter(FStoryCp, n - FTextBase);
}

std::optional<TRevisionKind> TMSWordDocument::RevisionAt(int64_t Cp, int64_t& Until) const {
  Until = std::numeric_limits<int64_t>::max();
  std::optional<TRevisionKind> kind;
  for (const auto* ranges : {&FDeleted, &FInserted}) {
    auto it = std::upper_bound(ranges->begin(), ranges->end(), Cp,
                               [](int64_t C, const auto& R) { return C < R.second; });
    if (it == ranges->end()) continue;
    if (it->first <= Cp) {
      if (!kind) {
        kind = ranges == &FDeleted ? TRevisionKind::Deleted : TRevisionKind::Inserted;
        Until = std::min(Until, it->second);
      }
    } else {
      Until = std::min(Until, it->first);
    }
  }
  return kind;
}

void TMSWordDocument::TellRevision(std::optional<TRevisionKind> Kind) {
  if (FTold.Revision == Kind) return;
  if (FTold.Revision) Output().EndRevision(*FTold.Revision);
  if (Kind) Output().BeginRevision(*Kind);
  FTold.Revision = Kind;
}

void TMSWordDocument::TellChangedRun(std::u16string_view Run, size_t At) {
  int64_t cp = CpAfter(FStoryCp, At - FTextBase);
  for (size_t done = 0; done < Run.size();) {
    int64_t until = 0;
    TellRevision(RevisionAt(cp, until));
    size_t take = Run.size() - done;
    if (until < std::numeric_limits<int64_t>::max()) take = std::clamp<size_t>(UnitsBetween(cp, until), 1, take);
    const std::u16string_view part = Run.substr(done, take);
    FWord->Characters(part);
    TellRun(part, At + done);
    done += take;
    cp = CpAfter(cp, take);
  }
}

}  // namespace lkw
