// The renderer of WordPerfect 6-9 text. The format keeps its formatting as
// codes in the text, and so does this output: each code is written where it
// stands (FormatCode, AlignedTab), whether or not it changes anything.
#pragma once

#include <cstddef>
#include <string_view>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

class TWordPerfectRenderer : public TTextRenderer {
 public:
  using TTextRenderer::TTextRenderer;

  // Makes room for about Units more units of text (the document's text bytes
  // give about one each), so that a long text is not copied as it grows.
  void Reserve(size_t Units) { FText.reserve(FText.size() + Units); }

  // The whole text, frame included, is one item.
  void BeginDocument() override;
  void EndDocument() override;
  // A paragraph's break is written when the next paragraph begins (or a
  // table row): the text's last paragraph has none.
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void LineBreak() override;
  void PageBreak() override;
  // A tab without a code of its own (a cell outside any table): written as
  // the cells of a table are separated.
  void Tab() override;
  // Rows begin as paragraphs do, on a line of their own; a row's cells are
  // separated by tabs.
  void BeginTable() override;
  void EndTable() override;
  void BeginRow() override;
  void BeginCell() override;
  void EndCell() override;
  void FormatCode(const TParagraph& Paragraph, const TRunStyle& Run, uint32_t Fields) override;
  void AlignedTab(TAlignment Align) override;

 private:
  void Justify(TAlignment Align);
  void Font(const TRunStyle& Run);

  WideString FText;
  bool FBreakDue = false;  // a paragraph ended; its break goes before the next
  bool FFirstRow = false;
  bool FFirstCell = false;
  // HTML: whether a <font> element is open, and the alignment element that
  // the next justification closes.
  bool FFontOpen = false;
  WideString FAlignTag;
};

}  // namespace lkw
