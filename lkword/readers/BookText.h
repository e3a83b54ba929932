// What the e-book readers (FictionBook, EPUB, Mobipocket) share: the
// line-by-line text walk over an XML element tree, the roles of (X)HTML
// elements in it, and the dates of book metadata.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "lkword/containers/LKWHtml.h"
#include "lkword/containers/LKWXML.h"
#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/Types.h"

namespace lkw {

// Walks an element tree and hands out its text as lines. Every line is the
// whole text of a block in document order, inline markup included, with
// runs of blanks (form feed included) made one space (except in
// preformatted blocks) and no leading or trailing blanks; blank lines are
// not handed out. Entity references are decoded; comments, processing
// instructions and attributes give no text.
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

  // While a line is emitted: the label of the HTML list item ("li") it
  // begins ("1.", "iv.", a bullet; given to the item's first line only),
  // the number of lists (ol, ul) around it and whether it lies in an item.
  const WideString& ItemLabel() const { return FLineLabel; }
  int ListLevel() const { return static_cast<int>(FLists.size()); }
  bool InListItem() const { return FItemDepth > 0; }
  // How many of the blocks open around the line (its own included) are
  // named Name, compared ignoring the case of A-Z.
  int OpenBlocks(std::u16string_view Name) const;
  // Where the line lies in the outermost table: serial numbers of the
  // table, row and cell (td or th) it is in, counted over the walk; In is
  // false outside a cell. Cells of tables inside cells are the outer cell.
  struct TTablePlace {
    bool In = false;
    int64_t Table = 0, Row = 0, Cell = 0;
  };
  TTablePlace TablePlace() const {
    if (FCellDepth == 0) return {};
    TTablePlace at = FPlace;
    at.In = true;
    return at;
  }

 private:
  TBookElementRole RoleOf(std::u16string_view LocalName) const;
  void WalkNode(const TLKXMLItem& Node, int Depth);
  void WalkChildren(const TLKXMLItem& Node, int Depth);
  void AppendRaw(std::u16string_view Raw, bool Decode);
  void Separate();
  void Flush();
  void Emit(TBookElementRole Role, const WideString& Text);
  // The opening and closing of ol, ul and li.
  void EnterListElement(const TLKXMLItem& Node, std::u16string_view LocalName);
  void LeaveListElement(std::u16string_view LocalName);
  void EnterTableElement(std::u16string_view LocalName);
  void LeaveTableElement(std::u16string_view LocalName);

  struct TList {
    bool Ordered = false;
    int Format = 0;  // a TListNumberFormat
    WideString Bullet;
    int64_t Next = 1;
    int Step = 1;
  };

  TClassify FClassify;
  TEmit FEmit;
  bool FStopped = false;
  int FPreDepth = 0;
  int FMathDepth = 0;
  WideString FLine;
  WideString FScratch;
  // Names of the open blocks, innermost last (views into the tree).
  std::vector<std::u16string_view> FBlocks;
  std::vector<TList> FLists;
  int FItemDepth = 0;
  WideString FPendingLabel;  // for the next line of the item just begun
  WideString FLineLabel;
  int FTableDepth = 0;
  int FCellDepth = 0;  // cells of the outermost table open
  TTablePlace FPlace;
};

// Tells the tables of a book's lines, as TablePlace gives them, as table,
// row and cell events around the lines' paragraphs.
class TBookTables {
 public:
  explicit TBookTables(TDocumentEvents& Out) : FOut(Out) {}
  // Before the paragraph of a line.
  void Before(const TBookTextWalker& Walker);
  // Where the walk ends, or a line outside any table comes.
  void Close();

 private:
  TDocumentEvents& FOut;
  TBookTextWalker::TTablePlace FAt;
  bool FTable = false, FRow = false, FCell = false;
};

// A date of e-book metadata: ISO 8601 year, year-month, date, or date and
// time with optional fractions and zone ("Z", "+02:00"). A zoned time is
// converted to local time; a date alone is local midnight (month and day
// default to 1). 0 when the text holds no such date.
TDateTime BookDateToDateTime(std::u16string_view S);

}  // namespace lkw
