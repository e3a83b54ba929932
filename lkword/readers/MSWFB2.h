// FictionBook 2 e-book reader, and the line-by-line text walk over an XML
// element tree that the e-book readers share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/containers/LKWXML.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"

namespace lkw {

// How an element takes part in a book's text.
enum TBookElementRole {
  brInline,        // its text joins the line being built
  brBlock,         // ends the line; its own text outside nested blocks is a line
  brSection,       // a block whose end also gives a section-end line
  brPreformatted,  // a block whose spaces and line breaks are kept
  brLineBreak,     // ends a line inside a block
  brEmptyLine,     // an empty line of its own
  brSkip,          // gives no text, nor does anything inside it
};

// Walks an element tree and hands out its text as lines. Every line is the
// whole text of a block in document order, inline markup included, with
// runs of blanks made one space (except in preformatted blocks) and no
// leading or trailing blanks; blank lines are not handed out. Entity
// references are decoded; comments and attributes give no text.
class TBookTextWalker {
 public:
  // Gets the element's name without its namespace prefix, lower-cased A-Z.
  using TClassify = TBookElementRole (*)(std::u16string_view LocalName);
  // Gets each line: Role brBlock or brPreformatted with the name of the block
  // that holds the text (no prefix, case as written); brEmptyLine and
  // brSection with an empty text. Returning false ends the walk.
  using TEmit = std::function<bool(TBookElementRole Role, std::u16string_view Tag, const WideString& Text)>;

  TBookTextWalker(TClassify Classify, TEmit Emit) : FClassify(Classify), FEmit(std::move(Emit)) {}
  // Walks Root (itself included, classified like any element); false when
  // the emitter ended the walk.
  bool Walk(const TLKXMLItem& Root);

 private:
  void WalkNode(const TLKXMLItem& Node, int Depth);
  void AppendRaw(std::u16string_view Raw, bool Decode);
  void Flush();
  void Emit(TBookElementRole Role, const WideString& Text);

  TClassify FClassify;
  TEmit FEmit;
  bool FStopped = false;
  int FPreDepth = 0;
  WideString FLine;
  WideString FScratch;
  // Names of the open blocks, innermost last (views into the tree).
  std::vector<std::u16string_view> FBlocks;
};

// The role of an (X)HTML element, by its lower-cased local name, in the text
// of a book made of HTML (EPUB chapters, Mobipocket books).
TBookElementRole ClassifyXHTML(std::u16string_view LocalName);

// An element's name without its namespace prefix.
std::u16string_view LocalTagName(std::u16string_view TagName);
// First element in depth-first pre-order from Root (Root included) whose
// local name equals LocalName ignoring the case of A-Z; nullptr when none.
TLKXMLItem* FindElement(TLKXMLItem* Root, std::u16string_view LocalName);
// First direct child element of Parent with that local name (A-Z case
// ignored); nullptr when none.
TLKXMLItem* FindChildElement(const TLKXMLItem* Parent, std::u16string_view LocalName);
// The element's whole text with blanks made single spaces and trimmed.
WideString ElementText(const TLKXMLItem* Item);

// A date of e-book metadata: ISO 8601 year, year-month, date, or date and
// time with optional fractions and zone ("Z", "+02:00"). A zoned time is
// converted to local time; a date alone is local midnight (month and day
// default to 1). 0 when the text holds no such date.
TDateTime BookDateToDateTime(std::u16string_view S);

class TFictionBook : public TMSWBaseDocument {
 public:
  explicit TFictionBook(TComponent* AOwner = nullptr);
  ~TFictionBook() override;

  void ClearInternalLists() override;
  void LoadFromFile(const std::string& AFileName) override;
  // Reads the book from the stream's position to its end: the header, the
  // text of every body (the main body first, then notes and comments in
  // document order), the footer. A zip archive holding one *.fb2 member is
  // read as that book. Raises when the text is not a FictionBook.
  void LoadFromStream(TStream& Stream) override;
  // The metadata and the body text of the book in Stream, into L.
  void LoadXMLFilePart(TStream& S, TWideStrings& L);

  // True when the stream's first bytes are XML whose document element is
  // FictionBook, or a zip archive with one *.fb2 member. Reads from position 0; the position is left anywhere.
  static bool IsFictionBook(TStream& Stream);

  std::string ClassName() const override { return "TFictionBook"; }

 private:
  void LoadBook(RawByteString Data, TWideStrings& L);
  void ReadDescription(TLKXMLItem& Description);
  bool EmitLine(TBookElementRole Role, const WideString& Text, TWideStrings& L);
};

}  // namespace lkw
