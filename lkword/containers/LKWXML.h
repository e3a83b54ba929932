// A small, forgiving XML reader for document parts (Word 2007 parts,
// OpenDocument content, FictionBook, EPUB). It scans the text once and
// builds a tree of TLKXMLItem nodes; it never reports a syntax error.
//
// Tree model
// - The first element (or a leading processing instruction such as the XML
//   declaration) fills RootItem itself. A declaration stays open, so the
//   document element becomes its child: RootItem()->TagName() is "?xml".
// - An element's Value is the text right after its start tag, up to the first
//   child node. Text after a child (up to the next node) is that child's
//   Tail, as in the common "text/tail" model, so no text is lost. Text() gives
//   an element's whole text in document order, entities decoded.
// - Values, tails and attribute values keep entity references as written;
//   GetTagValue, Text and AttributeValue decode them. Texts are views into
//   the engine's decoded document (no copy per token); copy what must outlive
//   the next load or the engine.
// - Comments (TagName "!--") and CDATA sections (TagName "![CDATA[") are leaf
//   nodes holding their content; other processing instructions are leaf nodes
//   named "?target"; DOCTYPE declarations are skipped, no entity is expanded.
// - End tags close the innermost open element of the same name (and anything
//   open inside it); an end tag that matches nothing open is ignored; at the
//   end of the input, open elements stay open.
// - Elements nested deeper than MaxDepth are not made into nodes; their text
//   joins the deepest kept element and DepthLimitReached() says so.
//
// Events, for readers that render while parsing:
// - OnTag(Sender, ParentNode, TagName, Value, Attributes, Accept) runs before
//   a node is added under ParentNode (not for the node that fills the root).
//   Setting Accept false drops the node and, for an element, all it contains.
// - OnAfterTag(Sender, Node, Cancel) runs when an element is closed (by its
//   end tag, "/>", or an end tag of an enclosing element). Node->Text() is
//   complete at that point. The handler may delete Node (it leaves its
//   parent's list) unless Node is RootItem; it must not delete a node that is
//   still open. Text that follows a deleted node joins its previous sibling
//   (or the parent's Value). Setting Cancel true ends the parse, keeping the
//   tree built so far. Handlers must not load another text into the engine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

enum TLKXMLItemKind { ikProperty, ikAttribute, ikComment, ikCDATA };

class TLKXMLItem;

// The children of a node, in document order; owns them.
class TLKXMLItems {
 public:
  TLKXMLItems() = default;
  TLKXMLItems(const TLKXMLItems&) = delete;
  TLKXMLItems& operator=(const TLKXMLItems&) = delete;
  ~TLKXMLItems();

  // Creates a node whose parent is ParentItem (level: the parent's + 1, or 0)
  // and appends it.
  TLKXMLItem* AddItem(TLKXMLItem* ParentItem);
  // Frees every node (whole subtrees, without recursion).
  void Clear();
  int Count() const { return static_cast<int>(FList.size()); }
  // Raises EListError when Index is out of range.
  TLKXMLItem* Items(int Index) const;
  TLKXMLItem* operator[](int Index) const { return Items(Index); }
  int IndexOf(const TLKXMLItem* Item) const;

 private:
  friend class TLKXMLItem;
  friend class TLKXMLParser;
  // Takes Item out of the list without freeing it.
  void Detach(TLKXMLItem* Item);
  std::vector<std::unique_ptr<TLKXMLItem>> FList;
};

// A node. Its texts are views: into the engine's decoded document for parsed
// nodes (valid while the tree is), or into storage the node owns once a
// setter (or the parser joining separate pieces) wrote them.
class TLKXMLItem : public TObject {
 public:
  // A node with AOwner as parent (not added to the parent's list) at level 0.
  explicit TLKXMLItem(TLKXMLItem* AOwner = nullptr) : FParentItem(AOwner) {}
  // Frees the subtree and leaves the parent's list.
  ~TLKXMLItem() override;

  TLKXMLItemKind Kind() const { return FKind; }
  void SetKind(TLKXMLItemKind Value) { FKind = Value; }
  std::u16string_view TagName() const { return FText[kName]; }
  void SetTagName(std::u16string_view Value) { Store(kName, Value); }
  // Raw text (entity references as written); see the tree model above.
  std::u16string_view Value() const { return FText[kValue]; }
  void SetValue(std::u16string_view Value) { Store(kValue, Value); }
  // Raw text that follows this node inside its parent, up to the next node.
  std::u16string_view Tail() const { return FText[kTail]; }
  void SetTail(std::u16string_view Value) { Store(kTail, Value); }
  // The raw attribute text of the start tag, until ProcessAttributes.
  std::u16string_view Attributes() const { return FText[kAttributes]; }
  void SetAttributes(std::u16string_view Value) { Store(kAttributes, Value); }
  int Level() const { return FLevel; }
  TLKXMLItems& Items() { return FItems; }
  const TLKXMLItems& Items() const { return FItems; }
  TLKXMLItem* ParentItem() const { return FParentItem; }

  // First node, in depth-first pre-order starting with this one, whose
  // TagName equals XMLTag exactly; nullptr when none. ExpandAllLevels has no
  // effect (the whole subtree is searched).
  TLKXMLItem* GetChild(std::u16string_view XMLTag, bool ExpandAllLevels = false);
  // Value; when it begins with a double quote, trailing blanks and quotes
  // and then the leading quote are removed.
  WideString GetTagXMLValue() const;
  // GetTagXMLValue with entity references decoded.
  WideString GetTagValue() const;
  // Turns Attributes into ikAttribute child nodes (name = value pairs with
  // double, single or no quotes; the stored Value is unquoted, entities as
  // written) and empties Attributes. A second call does nothing.
  void ProcessAttributes();
  // The value of attribute AName (exact name), entities decoded, whether or
  // not the attributes were processed; false when there is none.
  bool FindAttribute(std::u16string_view AName, WideString& AValue) const;
  WideString AttributeValue(std::u16string_view AName) const;
  // The whole text of the node in document order: its own Value, then each
  // child's text and tail (comments and attributes give no text), entities
  // decoded except inside CDATA. The node's own Tail is not included.
  WideString Text() const;

  std::string ClassName() const override { return "TLKXMLItem"; }

 private:
  friend class TLKXMLItems;
  friend class TLKXMLEngine;
  friend class TLKXMLParser;
  enum : uint8_t { kName, kValue, kAttributes, kTail, kTextCount };

  void Store(int Which, std::u16string_view Value);
  // Copies into the node the texts that view [Lo, Hi).
  void OwnTextsIn(const char16_t* Lo, const char16_t* Hi);
  // Appends a piece of the document; a piece that continues the current
  // view extends it, anything else is joined in owned storage.
  void Append(int Which, std::u16string_view Piece);
  void Reset();

  TLKXMLItemKind FKind = ikProperty;
  uint8_t FOwnedMask = 0;  // which texts live in FOwned
  int FLevel = 0;
  std::u16string_view FText[kTextCount];
  TLKXMLItems FItems;
  TLKXMLItem* FParentItem = nullptr;
  std::unique_ptr<WideString[]> FOwned;
};

// ParentNode is the open element that will hold the node; the texts are views
// valid during the call.
using TLKIXMLOnTagEvent =
    std::function<void(TObject* Sender, TLKXMLItem* ParentNode, std::u16string_view ATagName,
                       std::u16string_view ATagValue, std::u16string_view ATagAttributes, bool& Accept)>;
using TLKIXMLOnAfterTagEvent = std::function<void(TObject* Sender, TLKXMLItem*& Node, bool& Cancel)>;

// Default bound on element nesting.
constexpr int XMLDefaultMaxDepth = 256;

class TXMLByteFeed;

class TLKXMLEngine : public TComponent {
 public:
  explicit TLKXMLEngine(TComponent* AOwner = nullptr);
  ~TLKXMLEngine() override;

  // Reads the stream from its position to AStreamSize (an absolute position;
  // 0: to the end) and parses it. The encoding comes from a byte-order mark
  // (UTF-8, UTF-16 LE/BE), else from the XML declaration (utf-8, windows-NNNN,
  // iso-8859-N, koi8-r, shift_jis and other names iconv knows), else UTF-8
  // when the bytes are valid UTF-8, else the ANSI code page.
  void LoadFromStream(int64_t AStreamSize, TStream& AStream);
  void LoadFromFile(const std::string& AFileName);
  // Parses a byte string, as LoadFromStream does.
  void LoadFromBytes(std::string_view AData);
  // Gives the tree and the events LoadFromBytes gives, but decodes and
  // scans UTF-8 and UTF-16 about APiece characters at a time (other
  // encodings are decoded whole): DocumentText() holds only the text at
  // hand, and nodes still in the tree when it moves on get copies of their
  // texts (or, when the tree is large, the piece is kept for them). Meant
  // for handlers that free what they have used. AData must stay alive
  // during the call.
  void LoadFromBytesInPieces(std::string_view AData, size_t APiece = size_t{1} << 16);
  // Supplies LoadFromSourceInPieces: appends at least one byte to Into and
  // returns true, or returns false at the end of the document.
  using TByteSource = std::function<bool(std::string& Into)>;
  // LoadFromBytesInPieces over bytes pulled from Source as the parse needs
  // them and dropped once decoded, so that the document is never held
  // whole. Text whose encoding only all of it decides (declared in a code
  // page other than UTF-8, or undeclared and read in a non-UTF-8 ANSI code
  // page) is read whole first.
  void LoadFromSourceInPieces(const TByteSource& Source, size_t APiece = size_t{1} << 16);

  // First node, in depth-first pre-order from ARoot (RootItem when null),
  // whose TagName equals XMLTag ignoring the case of A-Z; nullptr when none.
  TLKXMLItem* GetItemByTag(TLKXMLItem* ARoot, std::u16string_view XMLTag);
  // Takes the part of the path before the first "/" (and the "/") off the
  // path and returns it; without a "/", the whole path.
  static WideString GetFirstTagName(WideString& AXMLPath);
  // Likewise for the part after the last "/".
  static WideString GetLastTagName(WideString& AXMLPath);

  bool AttributesAutoProcess() const { return FAttributesAutoProcess; }
  void SetAttributesAutoProcess(bool Value) { FAttributesAutoProcess = Value; }
  TLKXMLItem* RootItem() const { return FRootItem.get(); }
  const TLKIXMLOnTagEvent& OnTag() const { return FOnTag; }
  void SetOnTag(TLKIXMLOnTagEvent Value) { FOnTag = std::move(Value); }
  const TLKIXMLOnAfterTagEvent& OnAfterTag() const { return FOnAfterTag; }
  void SetOnAfterTag(TLKIXMLOnAfterTagEvent Value) { FOnAfterTag = std::move(Value); }
  int MaxDepth() const { return FMaxDepth; }
  void SetMaxDepth(int Value) { FMaxDepth = Value < 1 ? 1 : Value; }

  // Nodes one load may create (0: no limit); at the limit the parse stops
  // there. For callers that keep the whole tree.
  int64_t MaxNodes() const { return FMaxNodes; }
  void SetMaxNodes(int64_t Value) { FMaxNodes = Value < 0 ? 0 : Value; }

  // True after a load whose elements nested deeper than MaxDepth.
  bool DepthLimitReached() const { return FDepthLimitReached; }
  // True after a load that stopped at MaxNodes.
  bool NodeLimitReached() const { return FNodeLimitReached; }
  // The code page the last load decoded from (65001 for UTF-8).
  uint32_t DocumentCodePage() const { return FDocumentCodePage; }
  // The whole decoded text of the last load (of a load in pieces, the
  // last piece).
  const WideString& DocumentText() const { return FDocument; }
  // True when the last load's encoding came from a byte-order mark.
  bool UTF8Processed = false;

  std::string ClassName() const override { return "TLKXMLEngine"; }

 protected:
  // Parses a decoded text into the tree under RootItem. The text must stay
  // alive and unchanged while the tree is used.
  void ParseXMLFromString(std::u16string_view AText);

 private:
  void LoadFeedInPieces(TXMLByteFeed& Feed, size_t APiece);
  friend class TLKXMLParser;

  bool FAttributesAutoProcess = false;
  WideString FDocument;  // declared before the root: nodes view into it
  std::vector<WideString> FRetained;  // earlier pieces that nodes still view
  std::unique_ptr<TLKXMLItem> FRootItem;
  TLKIXMLOnTagEvent FOnTag;
  TLKIXMLOnAfterTagEvent FOnAfterTag;
  int FMaxDepth = XMLDefaultMaxDepth;
  bool FDepthLimitReached = false;
  int64_t FMaxNodes = 0;
  int64_t FNodes = 0;  // created by the current load
  bool FNodeLimitReached = false;
  uint32_t FDocumentCodePage = 0;
};

// Decodes entity references in place, in one pass (so "&amp;lt;" becomes the
// text "&lt;"): the five XML entities, the HTML 4 named entities, and decimal
// and hexadecimal character references. The legacy names amp, lt, gt, quot,
// apos, nbsp, copy, trade, deg, plusmn, para, brvbar (and car, ret: LF, CR)
// are also recognised without ";" (so "&ltb" gives "<b"). Unknown entities
// stay as written.
void ReplaceHTMLChars(WideString& S);
// Appends S to Out with entity references decoded as ReplaceHTMLChars does.
void AppendHTMLChars(WideString& Out, std::u16string_view S);

// Equality ignoring the case of A-Z (CaseSensitive false) or exact.
bool SameStrings(bool CaseSensitive, std::u16string_view S1, std::u16string_view S2);

// The part of a tag name after its last colon ("w:p" -> "p").
inline std::u16string_view XMLLocalName(std::u16string_view Name) {
  const size_t colon = Name.rfind(u':');
  return colon == std::u16string_view::npos ? Name : Name.substr(colon + 1);
}

// Visits the element nodes of a tree (Root included) in document order,
// without recursion.
template <typename F>
void ForEachElement(TLKXMLItem* Root, F f) {
  if (!Root) return;
  std::vector<std::pair<TLKXMLItem*, int>> stack{{Root, -1}};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next < 0) {
      next = 0;
      if (node->Kind() == ikProperty) f(*node);
    }
    if (next >= node->Items().Count()) {
      stack.pop_back();
      continue;
    }
    TLKXMLItem* child = node->Items()[next++];
    if (child->Kind() == ikProperty) stack.emplace_back(child, -1);
  }
}

// Element look-ups by local name, the prefix ignored and the case of A-Z
// too (book and package files are not always written consistently).

// Whether Node is an element (not an attribute, comment or CDATA node)
// whose local name is LocalName.
inline bool IsElementNamed(const TLKXMLItem& Node, std::u16string_view LocalName) {
  return Node.Kind() == ikProperty && SameTextAscii(XMLLocalName(Node.TagName()), LocalName);
}
// The first such element in depth-first pre-order from Root (Root
// included); nullptr when none.
TLKXMLItem* FindElement(TLKXMLItem* Root, std::u16string_view LocalName);
// The first direct child element of Parent with that local name; nullptr
// when none (or Parent is null).
TLKXMLItem* FindChildElement(const TLKXMLItem* Parent, std::u16string_view LocalName);
// Visits Parent's direct child elements with that local name, in order.
template <typename F>
void ForEachChildElement(const TLKXMLItem& Parent, std::u16string_view LocalName, F f) {
  const TLKXMLItems& items = Parent.Items();
  for (int i = 0, n = items.Count(); i < n; ++i)
    if (TLKXMLItem* c = items[i]; IsElementNamed(*c, LocalName)) f(*c);
}
// The element's whole text (see TLKXMLItem::Text) with each run of blanks
// (form feed included) made one space, and trimmed; empty for null.
WideString ElementText(const TLKXMLItem* Item);

// Cuts the character data of every element named LocalName (any prefix) out
// of the XML bytes Xml, up to the element's next markup, before parsing:
// for elements holding large base64 data (pictures) that gives no text.
void DropElementContent(RawByteString& Xml, std::string_view LocalName);

// "YYYY-MM-DDTHH:MM:SS" (separators not checked, anything after the seconds
// ignored) as a date-time; 0 for an empty, short or invalid text.
TDateTime XMLStringToDateTime(const WideString& S);

}  // namespace lkw
