// Markdown from any reader's document events: CommonMark blocks (ATX
// headings, nested lists with the document's labels, fenced code for
// preformatted text) and pipe tables. Document text is escaped so that a
// CommonMark parser reads back the words the plain text has.
//
// The stories a reader keeps apart from the main text (notes, headers,
// footers, comments, annotations, as its renderer decides) are not written
// here: that renderer still fills their lists, and the host appends them.
// Notes become footnotes, each paired with its reference, when they are part
// of the text or the host asked for them (TMSWBaseDocument::NotesInText).
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
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
  void SoftBreak() override;
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
  void NoteReference(TStoryKind Kind, std::u16string_view Mark, const TRunStyle& Style) override;
  void BeginNote(TStoryKind Kind, std::u16string_view Mark) override;
  void RolledBack() override;

 private:
  // kMarkup: Markdown of the renderer's own, written as it is.
  // kSoft: a line end of the layout's, which Markdown joins softly.
  enum : uint8_t { kBold = 1, kItalic = 2, kStrike = 4, kMarkup = 8, kSoft = 16 };
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

  // What the blocks written so far leave open, which a note's blocks start
  // afresh and hand back.
  struct TBlockState {
    int64_t Blocks = 0;
    std::vector<int> ListIndents;
    std::vector<bool> ItemMarked;
    char16_t LastItemKind = 0;
    size_t LastItemLevel = 0;
    int TableDepth = 0;
    std::vector<TRow> Table;
  };
  struct TNote {
    TStoryKind Kind = TStoryKind::Footnote;
    WideString Mark;
    WideString Label;  // empty: no reference showed the note's mark
    bool OwnMarkSeen = false;
    std::vector<WideString> Lines;
  };
  // The labels of the references to notes of one kind and mark, in order,
  // and how many of them notes took.
  struct TReferences {
    std::vector<WideString> Labels;
    size_t Taken = 0;
  };

  bool Skipping() const { return FSkipStory; }
  bool WritesNotes(TStoryKind Kind) const;
  // Writes out the paragraph and the table still open.
  void CloseBlocks();
  TBlockState TakeBlockState();
  void EndNotes();
  void WriteNotes();
  WideString NewLabel(std::u16string_view Mark);
  // Every line of the output, into the open note while one is.
  void Put(WideString Line);
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
  TStoryKind FStory = TStoryKind::Main;
  bool FInNotes = false;  // in a story of notes written as footnotes
  TBlockState FTextState;  // the text's, while in notes
  std::vector<TNote> FNotes;
  TStoryKind FNoteStory = TStoryKind::Footnote;
  size_t FStoryNotes = 0;  // the first of FNotes the open story gave
  int64_t FNoteChars = 0;
  std::map<std::pair<TStoryKind, WideString>, TReferences> FReferences;
  std::map<WideString, int64_t> FLabelUses;
};

}  // namespace lkw
