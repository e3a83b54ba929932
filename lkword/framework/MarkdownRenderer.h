// Markdown from any reader's document events: CommonMark blocks (ATX
// headings, nested lists with the document's labels, fenced code for
// preformatted text) and pipe tables. Document text is escaped so that a
// CommonMark parser reads back the words the plain text has.
//
// The stories a reader keeps apart from the main text (notes, headers,
// footers, comments, annotations, as its renderer decides) are not written
// here: that renderer still fills their lists, and the host appends them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/framework/TextPath.h"

namespace lkw {

class TMSWBaseDocument;
class TTextRenderer;

// Appends Text escaped as Markdown inline content: the characters that could
// open emphasis, code, links, HTML or entities get a backslash; AtLineStart
// also escapes what would open a block there (headings, list markers,
// quotes, thematic breaks).
void AppendMarkdownEscaped(WideString& Out, std::u16string_view Text, bool AtLineStart);

class TMarkdownRenderer : public TDocumentEvents {
 public:
  // Reader: the reader's own renderer, which says which stories it keeps
  // apart.
  TMarkdownRenderer(TMSWBaseDocument& Doc, TTextPath& Path, const TTextRenderer& Reader);

  void EndDocument() override;
  void BeginStory(TStoryKind Kind) override;
  void EndStory(TStoryKind Kind) override;
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void LineBreak() override;
  void Tab() override;
  void AlignedTab(TAlignment) override;
  void Spaces(int Count) override;
  void BeginLink(std::u16string_view Target) override;
  void EndLink() override;
  void BeginTable() override;
  void EndTable() override;
  void BeginRow() override;
  void EndRow() override;
  void BeginCell() override;
  void EndCell() override;
  void Repeated(int64_t Times) override;
  void BeginPage(int Number) override;
  void BeginListItem() override;
  void EndListItem() override;
  void EndList() override;
  void BeginRevision(TRevisionKind Kind) override;
  void EndRevision(TRevisionKind Kind) override;
  void RolledBack() override;

 private:
  enum : uint8_t { kBold = 1, kItalic = 2, kStrike = 4 };
  struct TRun {
    uint8_t Marks = 0;
    int Link = -1;  // into FLinks
    WideString Text;
  };
  struct TCell {
    WideString Text;
    int64_t Times = 1;
  };
  struct TRow {
    std::vector<TCell> Cells;
    int64_t Times = 1;
  };

  bool Skipping() const { return FSkipStory; }
  void Add(std::u16string_view Raw, uint8_t Marks);
  void OpenImplicitParagraph();
  void CloseImplicitParagraph();
  // The paragraph's runs as inline Markdown, lines joined by Break.
  WideString RenderInline(std::u16string_view Break, bool Escaped, bool OneLine);
  void EmitBlock(WideString Block);
  void EmitListItem(const WideString& Label);
  void FlushTable();

  TMSWBaseDocument& FDoc;
  TTextPath& FPath;
  const TTextRenderer& FReader;
  bool FSkipStory = false;
  bool FInParagraph = false;
  bool FImplicit = false;  // text outside any paragraph
  TParagraph FParagraph;
  std::vector<TRun> FRuns;
  std::vector<WideString> FLinks;
  int FLink = -1;
  int FStrike = 0;
  int64_t FBlocks = 0;
  // The content columns of the list items open at each level.
  std::vector<int> FListIndents;
  // Per open list item container: whether its marker is written.
  std::vector<bool> FItemMarked;
  // The list item just written, if the last block is one: its marker's
  // kind ('-', '.' or ')') and level.
  char16_t FLastItemKind = 0;
  size_t FLastItemLevel = 0;
  int FTableDepth = 0;
  std::vector<TRow> FTable;
  int64_t FRepeatBudget;
};

}  // namespace lkw
