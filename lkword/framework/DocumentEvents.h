// What a document contains, as a reader tells it: the one seam between the
// readers and everything that writes their text out.
//
// Order guarantees, for every reader:
// - BeginDocument comes first and EndDocument last, once each per load, and
//   only when text is extracted. A load that fails may stop anywhere; its
//   events are not closed.
// - Stories do not nest. Text outside any story belongs to the main story.
// - Paragraphs, tables, rows, cells, links and sections nest properly inside
//   their story: each Begin has its End before its container ends. A cell
//   holds paragraphs; a paragraph never holds a table (a table inside a
//   paragraph ends the paragraph first, or comes between paragraphs).
// - Text, LineBreak, Tab, Image and Field come inside a paragraph, except
//   that readers of loosely structured text (books, PDF lines) may give a
//   LineBreak between paragraphs for an empty line of the document.
// - BeginPage/EndPage bracket a page's content for formats with pages;
//   word processors give PageBreak where the document breaks a page.
// - After a roll back (see TDocumentOutput) the events since the checkpoint
//   are void; consumers that cannot take them back are told by RolledBack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

enum class TStoryKind : uint8_t { Main, Footnote, Endnote, Header, Footer, Comment, TextBox, Annotation };

enum class TParagraphKind : uint8_t {
  Body,
  Title,         // the document's or a section's title
  Heading,       // Level 1-6
  ListItem,      // Level 1-9; Label when the reader knows it
  Preformatted,  // text whose line breaks and spaces are kept
};

enum class TAlignment : uint8_t { Default, Left, Center, Right, Justify };

struct TParagraph {
  TParagraphKind Kind = TParagraphKind::Body;
  int Level = 0;
  WideString Label;
  TAlignment Alignment = TAlignment::Default;
  // The format's own name of the paragraph's style (an OpenDocument
  // automatic style, an XHTML element's name); renderers may show it.
  WideString Style;
  // In twips; 0 when not known.
  int LeftIndent = 0;
  int RightIndent = 0;
  // The character formatting the paragraph's style gives all its text.
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
};

struct TRunStyle {
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Hidden = false;
  // An index into the document's font table, -1 when not known.
  int Font = -1;
  // In half points; 0 when not known.
  int HalfPoints = 0;
  // The format's own name of the run's style (see TParagraph::Style).
  WideString Style;
  bool Strike = false;
  bool Superscript = false;
  bool Subscript = false;
};

// The style of a run with no formatting of its own.
inline const TRunStyle kPlainRun{};

// The fields of TParagraph and TRunStyle that a formatting code sets (see
// TDocumentEvents::FormatCode).
enum TFormatField : uint32_t {
  ffAlignment = 1u << 0,
  ffLeftIndent = 1u << 1,
  ffRightIndent = 1u << 2,
  // Properties of the paragraph no field holds: its style, spacing, tab stops.
  ffParagraphProperties = 1u << 3,
  ffFont = 1u << 4,  // Font and HalfPoints
  ffBold = 1u << 5,
  ffItalic = 1u << 6,
  ffUnderline = 1u << 7,
  ffStrike = 1u << 8,
  ffSuperscript = 1u << 9,
  ffSubscript = 1u << 10,
};

// A tracked change the document still shows.
enum class TRevisionKind : uint8_t { Inserted, Deleted };

class TDocumentEvents {
 public:
  virtual ~TDocumentEvents() = default;

  virtual void BeginDocument() {}
  virtual void EndDocument() {}

  virtual void BeginStory(TStoryKind) {}
  virtual void EndStory(TStoryKind) {}

  // A part of the document's outline that holds paragraphs (a book's
  // section, an e-book's chapter file).
  virtual void BeginSection() {}
  virtual void EndSection() {}

  virtual void BeginParagraph(const TParagraph&) {}
  virtual void EndParagraph() {}

  // Document text, never markup.
  virtual void Text(std::u16string_view, const TRunStyle&) {}
  virtual void LineBreak() {}
  // A line end the layout made, not the author (a line of a PDF paragraph):
  // consumers that keep lines take it as a LineBreak.
  virtual void SoftBreak() { LineBreak(); }
  virtual void Tab() {}

  virtual void BeginLink(std::u16string_view /*Target*/) {}
  virtual void EndLink() {}
  virtual void Image(std::u16string_view /*Source*/) {}

  virtual void BeginTable() {}
  virtual void EndTable() {}
  virtual void BeginRow() {}
  virtual void EndRow() {}
  virtual void BeginCell() {}
  virtual void EndCell() {}

  // Number counts from 1.
  virtual void BeginPage(int /*Number*/) {}
  virtual void EndPage(int /*Number*/) {}
  virtual void PageBreak() {}

  // The events since the last checkpoint were void.
  virtual void RolledBack() {}

  // Lines of document text given as UTF-8, joined by LF (no CR), each a
  // paragraph of its own; Units is their length in UTF-16, the LFs
  // included. Readers whose text comes as bytes hand it out so when the
  // renderer takes it without a round trip through UTF-16. By default the
  // lines are converted and told as paragraphs of one run each (an empty
  // line without a run).
  virtual void LinesUtf8(std::string_view Utf8, size_t Units);
  // Content a tracked change inserted or deleted. Changes may also come
  // between paragraphs (runs of a change found outside any paragraph); they
  // nest properly with paragraphs otherwise.
  virtual void BeginRevision(TRevisionKind) {}
  virtual void EndRevision(TRevisionKind) {}
  // Formats that keep their formatting as codes in the text tell each code
  // where it stands, even one that changes nothing: Fields (TFormatField)
  // names what it sets, to the values in Paragraph and Run. Text after it
  // carries the new style as usual.
  virtual void FormatCode(const TParagraph& /*Paragraph*/, const TRunStyle& /*Run*/, uint32_t /*Fields*/) {}
  // A tab code that aligns the text after it up to the next tab or line end:
  // Center between the margins, Right flush with the right margin; Default
  // for a tab of the ordinary kinds.
  virtual void AlignedTab(TAlignment) {}
  // A run of inline content with a style of its own (an OpenDocument span),
  // told also when empty. Runs nest inside a paragraph; the Text inside
  // carries their formatting too.
  virtual void BeginSpan(const TRunStyle&) {}
  virtual void EndSpan() {}
  // Count spaces that stay as written where the white space of the text
  // around them collapses (formats whose runs of blanks count as one).
  virtual void Spaces(int /*Count*/) {}
  // A list and its items: an item holds paragraphs and lists, so lists nest
  // inside items. Paragraphs in items may be ListItem paragraphs.
  virtual void BeginList() {}
  virtual void EndList() {}
  virtual void BeginListItem() {}
  virtual void EndListItem() {}
  // The format's own name of the style of the table that begins next, told
  // just before its BeginTable.
  virtual void NextTableStyle(std::u16string_view /*Style*/) {}
  // The row or cell just begun stands Times times in a row (a sheet's
  // repeated rows and cells); told right after its BeginRow or BeginCell.
  virtual void Repeated(int64_t /*Times*/) {}
  // Where text refers to a note of Kind (Footnote or Endnote): Mark is the
  // reference as the page shows it ("1", "iv", "*"). A note's own mark at the
  // start of its text is told the same way, inside its note. Consumers that
  // do not pair notes with their references take the mark as text.
  virtual void NoteReference(TStoryKind /*Kind*/, std::u16string_view Mark, const TRunStyle& Style) {
    Text(Mark, Style);
  }
  // Inside a story of notes, where the note whose reference showed Mark
  // begins (before its first paragraph). Notes come in the order of their
  // references; an unreferenced note may have a Mark no reference showed.
  virtual void BeginNote(TStoryKind /*Kind*/, std::u16string_view /*Mark*/) {}
};

}  // namespace lkw
