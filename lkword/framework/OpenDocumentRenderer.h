// The output of the OpenDocument readers.
//
// - The frame (GetTextStart, GetTextFinish) is the first and last item of
//   the main text, also when empty (a host may have the last held); header
//   and footer stories come after the frame's end and go to lists of their
//   own. HTML gives the style sheet, one item a style, before the first
//   block.
// - A paragraph is one item holding its whole text: spans, links, tabs and
//   line breaks inline (plain: tab, CR LF; RTF: "\tab ", "\line ", a group
//   for a bold, italic or underlined style; HTML: "<p class=...>", spans
//   with classes, links, "<br>", fixed spaces as "&nbsp;"). Runs of blanks
//   collapse to one space, none at a line's start or end. A list item's or
//   a heading's label starts it, followed by a space; any other paragraph's
//   label (a note's citation) by a tab.
// - Each cell end and row end is an item of its own (OnConvertSysChar with
//   scColumnEnd, scRowEnd may fill it), as is each page end (scEndOfPage).
//   HTML gives items for the openings and closings of tables, rows, cells,
//   lists and list items.
// - A repeated row or cell that holds content is written again as often as
//   it repeats, within a budget the reader sets.
// - A paragraph that holds a picture is the picture's item: its path and
//   what OnConvertSysChar (scIncludePicture) adds to it.
// - A Preformatted paragraph (a cell's bare value) keeps its text as it is
//   and is not shown to OnConvertSysChar.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

// One of the document's automatic styles, as the style sheet shows it.
struct TOpenDocumentStyle {
  WideString Name;
  WideString Family;
  // Text and paragraph styles show their look; the others only their names.
  bool HasLook = false;
  int FontSize = 0;  // in points
  // Colours as 0x00BBGGRR.
  uint32_t Color = 0;
  uint32_t Background = 0;
  TAlignment Alignment = TAlignment::Left;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
};

class TOpenDocumentRenderer : public TTextRenderer {
 public:
  TOpenDocumentRenderer(TMSWBaseDocument& Doc, TTextPath& Path);
  ~TOpenDocumentRenderer() override;

  // The lists the header and footer stories go to; each distinct text that
  // is not blank goes there once.
  void SetStoryLists(TWideStrings* Headers, TWideStrings* Footers) {
    FHeaders = Headers;
    FFooters = Footers;
  }
  // What repeated rows and cells may add beyond their first copy from now
  // on, in code units of output.
  void SetRepeatBudget(int64_t Budget) { FRepeatBudget = Budget; }
  // Whether the output shows the document's styles, so that the reader
  // needs them.
  bool UsesStyles() const { return FFormat != tfPlainText; }
  // The document's automatic styles, Count of them; HTML writes them as a
  // style block, one item a style.
  void StyleSheet(int Count, const std::function<TOpenDocumentStyle(int)>& Style);

  void EndDocument() override;
  void BeginStory(TStoryKind Kind) override;
  bool KeepsApart(TStoryKind Kind) const override { return Kind == TStoryKind::Header || Kind == TStoryKind::Footer; }
  void EndStory(TStoryKind Kind) override;
  void EndSection() override;
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void LineBreak() override;
  void Tab() override;
  void Spaces(int Count) override;
  void BeginSpan(const TRunStyle& Style) override;
  void EndSpan() override;
  void BeginLink(std::u16string_view Target) override;
  void EndLink() override;
  void BeginRevision(TRevisionKind Kind) override;
  void EndRevision(TRevisionKind Kind) override;
  void Image(std::u16string_view Source) override;
  void NextTableStyle(std::u16string_view Style) override;
  void BeginTable() override;
  void EndTable() override;
  void BeginRow() override;
  void EndRow() override;
  void BeginCell() override;
  void EndCell() override;
  void Repeated(int64_t Times) override;
  void BeginList() override;
  void EndList() override;
  void BeginListItem() override;
  void EndListItem() override;
  void EndPage(int Number) override;

 private:
  // A row or cell being written: where its items start in the log, and the
  // content written before it.
  struct TRepeat {
    size_t First = 0;
    int64_t ContentBefore = 0;
    int64_t Times = 1;
  };

  void Emit(WideString T);
  // T followed by what the host's handler makes of the special character.
  WideString SysChar(TLKWordSysChar Kind, WideString T);
  void CloseFrame();
  void AppendMarkup(std::u16string_view Markup, bool BreaksLine = false);
  void FlushSpace() {
    if (FPendingSpace) FLine += u' ';
    FPendingSpace = false;
  }
  void BeginRepeat(std::u16string_view Opening);
  void EndRepeat(TLKWordSysChar End, std::u16string_view Closing);
  // Writes the logged items from First to the end Times more times, within
  // budget.
  void Replay(size_t First, int64_t Times);

  const TMSTextFormating FFormat;
  bool FFrameClosed = false;

  // The paragraph being built; white space collapses across its runs.
  WideString FLine;
  WideString FRun;  // a run's collapsed text before escaping
  WideString FItem;  // the paragraph's item, in formatted output
  bool FPendingSpace = false;
  bool FAtStart = true;
  bool FPreformatted = false;
  bool FPicture = false;
  WideString FStyle;
  bool FBold = false, FItalic = false, FUnderline = false;
  // What closes each span and link open.
  std::vector<std::u16string_view> FClosings;

  WideString FTableStyle;

  int64_t FContentLines = 0;
  int64_t FRepeatBudget = 0;
  std::vector<TRepeat> FRepeats;
  int FReplaying = 0;  // open rows and cells repeated more than once
  // Items written inside rows and cells that repeat, which they replay: the
  // text may go to a sink that keeps nothing.
  std::vector<WideString> FReplayLog;

  TWideStrings* FHeaders = nullptr;
  TWideStrings* FFooters = nullptr;
  TWideStrings FStoryText;
  std::unique_ptr<TTextPath::TRedirect> FStoryRedirect;
  std::unordered_set<WideString> FStoriesSeen;
};

}  // namespace lkw
