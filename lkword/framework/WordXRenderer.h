// The shape of Word 2007+ text. Each story goes to a list of its own (the
// main text, the notes, comments, headers and footers), framed by the
// output's header and footer items when they are not empty. A paragraph is
// one item: plain text as is, RTF ending in \par, HTML in <p>...</p>; line
// breaks and tabs stay inside it, and a list item's or heading's label
// comes first. HTML tables, rows and cells are items of
// their own. Text that comes outside any paragraph gathers into one item,
// handed on when the next paragraph begins or the part ends.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

class TWordXRenderer : public TTextRenderer {
 public:
  TWordXRenderer(TMSWBaseDocument& Doc, TTextPath& Path);

  // The list a story's items go to; null (where none was given): the main
  // text, through the text path.
  void SetStoryList(TStoryKind Kind, TWideStrings* List);
  // While a checkpoint holds the main text back from the sink, what is held
  // is passed on once it reaches Length units (0: not before the release),
  // and as soon as the output limit is reached.
  void SetReleaseLength(int64_t Length) { FReleaseLength = Length; }
  // A package part of the current story begins or ends: a roll back takes
  // the story's items back to where the part began, and the end hands on
  // the text gathered outside paragraphs.
  void BeginPart();
  void EndPart();

  // The frame is each story's (see BeginStory).
  void BeginDocument() override {}
  void EndDocument() override {}
  void BeginStory(TStoryKind Kind) override;
  void EndStory(TStoryKind Kind) override;
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void Tab() override;
  void LineBreak() override;
  void BeginTable() override;
  void EndTable() override;
  void BeginRow() override;
  void EndRow() override;
  void BeginCell() override;
  void EndCell() override;
  // Plain text and RTF mark a change with a leading "+" or "-"; HTML
  // underlines inserted text and strikes deleted text through.
  void BeginRevision(TRevisionKind Kind) override;
  void EndRevision(TRevisionKind Kind) override;
  void RolledBack() override;
  bool KeepsApart(TStoryKind Kind) const override { return FLists[Index(Kind)] != nullptr; }

 private:
  // Finish: the frame's last item, which the main text may hold for the host.
  void Emit(WideString Item, bool Finish = false);
  void EmitLine();
  void EmitHtml(std::u16string_view Item);
  static size_t Index(TStoryKind Kind) { return static_cast<size_t>(Kind); }

  std::array<TWideStrings*, 8> FLists{};
  TWideStrings* FList = nullptr;  // the current story's, null: the main text
  TWideStrings* FPartList = nullptr;
  int FPartCount = 0;  // FPartList's items when the part began
  int64_t FReleaseLength = 0;
  WideString FLine;  // the paragraph, or the text outside paragraphs, rendered
};

}  // namespace lkw
