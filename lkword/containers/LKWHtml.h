// HTML as the readers meet it: the roles of (X)HTML elements in a text, and
// a forgiving line reader for HTML that is not well-formed (Mobipocket
// books, HTML that a Word package imports).
#pragma once

#include <functional>
#include <string_view>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/Types.h"

namespace lkw {

// How an element takes part in a text made of markup.
enum TBookElementRole {
  brInline,        // its text joins the line being built
  brBlock,         // ends the line; its own text outside nested blocks is a line
  brSection,       // a block whose end also gives a section-end line
  brPreformatted,  // a block whose spaces and line breaks are kept
  brLineBreak,     // ends a line inside a block
  brEmptyLine,     // an empty line of its own
  brSkip,          // gives no text, nor does anything inside it
  brMath,          // inline MathML: its alttext when it has one, else its tokens as words
};

// The role of an (X)HTML element by its lower-cased local name.
TBookElementRole ClassifyXHTML(std::u16string_view LocalName);

// Turns HTML into its lines of text: block elements, line breaks and page
// breaks end a line; head, script and style give nothing; blanks collapse
// outside <pre>; entities are decoded; a line that shows nothing (spaces of
// any width alone) is not handed out. The markup need not be well-formed
// (end tags in another case than their start tags, void elements left open,
// paragraphs never closed), so tags are only classified, never matched into
// a tree: a line is a heading when the last block to start before it was
// one and has not ended.
class THtmlLines {
 public:
  // Emit takes each line, a paragraph of the kind the markup gives it;
  // false stops the reading. PageBreak is told of each page break (a
  // Mobipocket "pagebreak" element), after the line it ends.
  using TEmit = std::function<bool(std::u16string_view, const TParagraph&)>;
  using TPageBreak = std::function<void()>;
  THtmlLines(TEmit Emit, TPageBreak PageBreak) : FEmit(std::move(Emit)), FPageBreak(std::move(PageBreak)) {}

  void Read(std::u16string_view H);

 private:
  // The tag at I, which it moves past; false when the reading stops.
  bool Tag(std::u16string_view H, size_t& I);
  // The text since the last tag, entities decoded, onto the line.
  void FlushRun();
  bool EndLine();

  const TEmit FEmit;
  const TPageBreak FPageBreak;
  WideString FLine, FRun;
  int FSkip = 0, FPre = 0;
  int FHeading = 0;  // the level of the heading the text is in
  bool FSpace = false;
  TParagraph FParagraph;
};

// Text given as bytes: a byte order mark decides, else UTF-8 when the
// bytes are valid UTF-8, else FallbackCodePage.
WideString DecodeTextBytes(std::string_view Bytes, uint32_t FallbackCodePage);
// The same for an HTML document: after the byte order mark come the
// charset its transport names (a MIME header), then its own declaration
// near its start (a <meta>, an XML declaration).
WideString DecodeHtmlBytes(std::string_view Bytes, uint32_t FallbackCodePage, std::string_view TransportCharset = {});

}  // namespace lkw
