// Word's stories told as document events: the characters go to the
// renderer, which draws them; the marks among them draw the paragraphs and
// tables that the host's consumers see.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "lkword/framework/WordRenderer.h"
#include "lkword/word/MSWord.h"

namespace lkw {

namespace {

constexpr char16_t kCellMark = 7;
constexpr char16_t kNonBreakingHyphen = 30;

// Characters that are text as they are.
constexpr bool IsOrdinary(char16_t C) { return C >= 32 || C == 10 || (C >= 15 && C <= 18) || (C >= 22 && C <= 29); }

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

void TMSWordDocument::TellStory(TStoryKind Kind, TWideStrings* List, std::u16string_view Text) {
  BeginTelling(Kind, List);
  TellText(Text);
  EndTelling(Kind);
}

void TMSWordDocument::BeginTelling(TStoryKind Kind, TWideStrings* List) {
  TDocumentOutput& out = Output();
  FTold = TTold();
  FWord->SetStoryList(List);
  out.BeginStory(Kind);
}

void TMSWordDocument::EndTelling(TStoryKind Kind) {
  CloseParagraph();
  CloseTable();
  Output().EndStory(Kind);
}

void TMSWordDocument::OpenParagraph(std::u16string_view Text, size_t At) {
  if (FTold.Paragraph) return;
  TDocumentOutput& out = Output();
  if (!FTold.Cell) {
    // The text holds no table marks but the cells' own: a paragraph is a
    // cell's when its mark is one, or when its row has begun.
    const size_t end = ParagraphEnd(Text, At);
    if (FTold.Row || (end < Text.size() && Text[end] == kCellMark)) {
      if (!FTold.Table) out.BeginTable();
      if (!FTold.Row) out.BeginRow();
      out.BeginCell();
      FTold.Table = FTold.Row = FTold.Cell = true;
    } else {
      CloseTable();
    }
  }
  out.BeginParagraph(kBodyParagraph);
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
  for (size_t i = 0; i < n;) {
    const char16_t c = Text[i];
    const bool told = FTold.Instructions == 0;  // document text, not a field's instruction
    if (IsOrdinary(c)) {
      size_t j = i + 1;
      while (j < n && IsOrdinary(Text[j])) ++j;
      const std::u16string_view run = Text.substr(i, j - i);
      word.Characters(run);
      if (told) {
        OpenParagraph(Text, i);
        out.Text(run);
      }
      i = j;
      continue;
    }
    const size_t at = i++;
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
        word.Mark(TWordMark::Tab, c);
        if (told) {
          OpenParagraph(Text, at);
          out.Tab();
        }
        break;
      case 11:
        word.Mark(TWordMark::LineBreak, c);
        if (told) {
          OpenParagraph(Text, at);
          out.LineBreak();
        }
        break;
      case kNonBreakingHyphen:
        word.Mark(TWordMark::NonBreakingHyphen, c);
        if (told) {
          OpenParagraph(Text, at);
          out.Text(u"-");
        }
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
        ++FTold.Instructions;
        break;
      case kWordFieldSeparator:
        word.Mark(TWordMark::FieldSeparator, c);
        if (!FTold.Fields.empty() && FTold.Fields.back()) {
          FTold.Fields.back() = false;
          --FTold.Instructions;
        }
        break;
      case kWordFieldEnd:
        word.Mark(TWordMark::FieldEnd, c);
        if (!FTold.Fields.empty()) {
          if (FTold.Fields.back()) --FTold.Instructions;
          FTold.Fields.pop_back();
        }
        break;
      default:  // 1-6, 8, 31: objects, notes, note separators, optional hyphens
        word.Mark(TWordMark::Object, c);
        break;
    }
  }
}

}  // namespace lkw
