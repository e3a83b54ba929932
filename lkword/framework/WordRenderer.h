// The renderer of the Word binary reader: document text and Word's marks
// (paragraph, cell and row marks, breaks, field characters) become the
// items of the text in plain text, RTF or HTML.
//
// The shape it keeps: the frame's first item before the body and its last
// after it, both outside MaxTextLength; the body one item, or with a sink
// pieces cut after a paragraph mark once they are large enough; each
// secondary story one item of the list the reader names, cut at the limit
// on its own. Every mark goes through the host's OnConvertSysChar with its
// default rendering as the in-out result. A field is rendered text collected
// from its begin mark to its end mark, then parsed for its keyword; what the
// host makes of the marks decides what a field holds. Without
// ConvertSysCharacters each story passes as the characters it was told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

// The characters that open, divide and close a field in Word text.
inline constexpr char16_t kWordFieldBegin = 19;
inline constexpr char16_t kWordFieldSeparator = 20;
inline constexpr char16_t kWordFieldEnd = 21;
// How much of a field's instruction the readers keep for what it shows (a
// link's target, a macro button's text); longer ones show nothing anyone
// would follow.
inline constexpr size_t kMaxFieldInstruction = 2048;

// The target of a HYPERLINK field's instruction (without its field marks):
// its address, "#" and the bookmark of a \l switch; empty for any other
// field.
WideString HyperlinkFieldTarget(std::u16string_view Instruction);
// The text a MACROBUTTON field shows in place of a result (its instruction
// after the macro's name, as template placeholders such as "[Click here and
// type a name]" are written); empty for any other field.
WideString MacroButtonText(std::u16string_view Instruction);

// The characters of Word's text that are not text, as the reader tells them.
enum class TWordMark : uint8_t {
  Null,            // 0: nothing, not even to the host
  Object,          // a picture, note reference or separator, optional hyphen: no text
  CellEnd,         // 7
  RowEnd,          // 7 7: the last cell's mark and the row's
  Tab,             // 9
  LineBreak,       // 11
  NonBreakingHyphen,  // 30
  ParagraphEnd,    // 13
  SectionBreak,    // 12: a section or page break
  ColumnBreak,     // 14
  FieldBegin,      // 19
  FieldSeparator,  // 20
  FieldEnd,        // 21
};

class TWordRenderer : public TTextRenderer {
 public:
  TWordRenderer(TMSWBaseDocument& Doc, TTextPath& Path);
  ~TWordRenderer() override;

  // The list the next secondary story's item goes to (not owned); a story
  // of kind Main goes to the main text.
  void SetStoryList(TWideStrings* List) { FNextList = List; }
  // What the renderer draws: the story's characters as the reader tells
  // them, runs of text and marks. Char is the character a mark stands for
  // (the first of a row end's two). The generic events that come beside
  // them carry the structure to the host's consumers and draw nothing here.
  // Room for the rendering of Units more characters, told before them: the
  // text of a large story is drawn in one buffer, not grown into it.
  void Reserve(size_t Units) { FOut.reserve(FOut.size() + Units + Units / 16 + 16); }
  void Characters(std::u16string_view Run);
  void Mark(TWordMark Mark, char16_t Char);

  // The frame's first item, outside the limit.
  void BeginDocument() override;
  void EndDocument() override {}
  // The end of the main story hands out the rest of the body, then the
  // frame's last item.
  void BeginStory(TStoryKind Kind) override;
  bool KeepsApart(TStoryKind Kind) const override { return Kind != TStoryKind::Main; }
  void EndStory(TStoryKind Kind) override;
  void BeginSection() override {}
  void EndSection() override {}
  // A list item's or a numbered heading's label before its text.
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override {}
  void Text(std::u16string_view, const TRunStyle&) override {}
  void Tab() override {}
  void LineBreak() override {}
  void BeginTable() override {}
  void EndTable() override {}
  void BeginRow() override {}
  void EndRow() override {}
  void BeginCell() override {}
  void EndCell() override {}
  void PageBreak() override {}
  // Tracked changes where they are shown: '-' and '+' before the text, or
  // struck out and underlined in HTML.
  void BeginRevision(TRevisionKind Kind) override;
  void EndRevision(TRevisionKind Kind) override;

 private:
  // The default rendering of a mark, then the host's say on it.
  WideString Render(TWordMark Mark, char16_t Char);
  WideString ResolveFieldEnd();
  // A field that never ended, or grew too long: its result so far, or
  // nothing of its instruction, which is then skipped up to its result.
  void FlushField();
  // A mark inside an instruction being skipped: true when it is skipped too.
  bool SkipMark(TWordMark Mark);
  // With a sink: the body up to its last line break once it is large enough.
  void HandOutLines();

  bool FRaw = false;        // ConvertSysCharacters off
  bool FStreaming = false;  // the main story to a sink
  TWideStrings* FNextList = nullptr;
  TWideStrings* FList = nullptr;  // the current secondary story's list
  WideString FOut;                // rendered, not yet handed out
  WideString FFieldCode;          // the open field, rendered
  int32_t FFieldCodeLen = 0;      // its outputs
  bool FSkipping = false;         // in the rest of a flushed field's instruction
  int32_t FSkipDepth = 0;         // fields begun in it
};

}  // namespace lkw
