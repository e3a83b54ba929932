// The body walk of the OpenDocument readers: paragraphs, tables, lists,
// frames and pages told as document events.
#include "lkword/readers/MSWOO.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipPart.h"
#include "lkword/framework/OpenDocumentRenderer.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

// Output that repeated cells and rows may add beyond their first copy, in
// code units for the whole load: a base, plus a multiple of the content
// part's size, up to a cap. Enough for sheets whose writer merged identical
// rows, not for a few bytes that declare a million rows of text.
constexpr int64_t kRepeatBudgetBase = int64_t{1} << 20;
constexpr int64_t kRepeatBudgetPerByte = 64;
constexpr int64_t kRepeatBudgetCap = int64_t{16} << 20;

int64_t RepeatBudget(int64_t PartSize, int64_t MaxDecompressedSize) {
  return std::min({kRepeatBudgetCap, kRepeatBudgetBase + kRepeatBudgetPerByte * PartSize, MaxDecompressedSize / 2});
}
// A longer run of <text:s> is hostile, not layout.
constexpr int32_t kMaxSpaceRun = 4096;
// Heading levels the output knows.
constexpr int kMaxHeadingLevel = 6;
constexpr int kMaxListLevel = 9;

// Leading decimal digits as a number, saturating at Max; Default without
// digits.
int LeadingInt(std::u16string_view s, int Max, int Default) {
  if (s.empty() || !IsAsciiDigit(s[0])) return Default;
  int v = 0;
  for (char16_t c : s) {
    if (!IsAsciiDigit(c)) break;
    v = std::min(v * 10 + (c - u'0'), Max);
  }
  return v;
}

TAlignment OutputAlignment(TOOAlignment A) {
  return A == ooaRight ? TAlignment::Right : A == ooaCenter ? TAlignment::Center : TAlignment::Left;
}

// The character formatting a text style gives, onto a paragraph or a run.
template <typename T>
void TakeFontStyle(const TOOStyleText& Style, T& Out) {
  const TOOFontStyles fs = Style.TextFont().Style;
  Out.Bold = fs.Contains(oofsBold);
  Out.Italic = fs.Contains(oofsItalic);
  Out.Underline = fs.Contains(oofsUnderline);
}

enum class TElem : uint8_t {
  Other,
  Paragraph,
  Span,
  Link,
  Space,
  Tab,
  LineBreak,
  Note,
  NoteBody,
  Annotation,
  Frame,
  TextBox,
  Image,
  Object,
  Table,
  Row,
  Cell,
  CoveredCell,
  List,
  ListItem,
  Page,
  PageNumber,
  HiddenText,
  Section,
  TrackedChanges,  // the changes' list: what deletions took out
  Change,          // where a deletion took text out
  ChangeStart,     // an insertion's start and end
  ChangeEnd,
  Decl,  // a presentation's footer or header text, which its slides show
  Skip,
};

// Markup of another vocabulary that found its way into the body (HTML and
// its scripts) is no text of the document: an element bound to XHTML, or
// one without a prefix outside a default OpenDocument namespace (the
// document's own elements always carry one).
bool IsForeignElement(const TLKXMLItem* N) {
  const std::u16string_view tag = N->TagName();
  const size_t colon = tag.find(u':');
  const std::u16string_view prefix = colon == std::u16string_view::npos ? std::u16string_view() : tag.substr(0, colon);
  if (prefix == u"xhtml" || prefix == u"html") return true;
  // The document's own prefixes need no look-up.
  static constexpr std::u16string_view kOwn[] = {
      u"text", u"office", u"table", u"draw", u"style", u"svg", u"loext", u"field", u"form",
      u"chart", u"dr3d", u"number", u"anim", u"presentation", u"math", u"meta", u"dc", u"officeooo"};
  for (const std::u16string_view own : kOwn)
    if (prefix == own) return false;
  const WideString attribute = prefix.empty() ? WideString(u"xmlns") : u"xmlns:" + WideString(prefix);
  WideString uri;
  for (const TLKXMLItem* a = N; a; a = a->ParentItem())
    if (a->Kind() == ikProperty && a->FindAttribute(attribute, uri))
      return prefix.empty() ? !uri.starts_with(u"urn:oasis:names:tc:opendocument:")
                            : uri == u"http://www.w3.org/1999/xhtml";
  return prefix.empty();
}

// The table's names differ in their length and a few letters: hashing
// those is enough, and far cheaper than hashing every name whole.
struct TTagHash {
  size_t operator()(std::u16string_view S) const noexcept {
    const size_t n = S.size();
    if (n == 0) return 0;
    return n * 0x9E3779B1u ^ size_t{S[n - 1]} * 131 ^ size_t{S[n / 2]} * 8191 ^ size_t{S[std::min<size_t>(n - 1, 6)]} << 20;
  }
};

TElem ElemKind(const TLKXMLItem* N) {
  const std::u16string_view Tag = N->TagName();
  static const std::unordered_map<std::u16string_view, TElem, TTagHash> kKinds = {
      {u"text:p", TElem::Paragraph},
      {u"text:h", TElem::Paragraph},
      {u"text:span", TElem::Span},
      {u"text:a", TElem::Link},
      {u"text:s", TElem::Space},
      {u"text:tab", TElem::Tab},
      {u"text:line-break", TElem::LineBreak},
      {u"text:note", TElem::Note},
      {u"text:note-body", TElem::NoteBody},
      {u"office:annotation", TElem::Annotation},
      {u"draw:frame", TElem::Frame},
      {u"draw:text-box", TElem::TextBox},
      {u"draw:image", TElem::Image},
      {u"draw:object", TElem::Object},
      {u"draw:object-ole", TElem::Object},
      {u"draw:applet", TElem::Object},
      {u"draw:plugin", TElem::Object},
      {u"draw:floating-frame", TElem::Object},
      {u"table:table", TElem::Table},
      {u"table:table-row", TElem::Row},
      {u"table:table-cell", TElem::Cell},
      {u"table:covered-table-cell", TElem::CoveredCell},
      {u"text:list", TElem::List},
      {u"text:list-item", TElem::ListItem},
      {u"text:list-header", TElem::ListItem},
      {u"draw:page", TElem::Page},
      {u"text:page-number", TElem::PageNumber},
      {u"text:hidden-text", TElem::HiddenText},
      {u"text:section", TElem::Section},
      {u"text:tracked-changes", TElem::TrackedChanges},
      {u"text:change", TElem::Change},
      {u"text:change-start", TElem::ChangeStart},
      {u"text:change-end", TElem::ChangeEnd},
      {u"presentation:footer-decl", TElem::Decl},
      {u"presentation:header-decl", TElem::Decl},
      // No visible text: index templates, declarations, cached list
      // numbers, ruby annotations, descriptions, embedded binaries, forms
      // and settings.
      {u"text:table-of-content-source", TElem::Skip},
      {u"text:illustration-index-source", TElem::Skip},
      {u"text:object-index-source", TElem::Skip},
      {u"text:user-index-source", TElem::Skip},
      {u"text:table-index-source", TElem::Skip},
      {u"text:alphabetical-index-source", TElem::Skip},
      {u"text:bibliography-source", TElem::Skip},
      {u"text:section-source", TElem::Skip},
      {u"text:sequence-decls", TElem::Skip},
      {u"text:variable-decls", TElem::Skip},
      {u"text:user-field-decls", TElem::Skip},
      {u"text:dde-connection-decls", TElem::Skip},
      {u"text:number", TElem::Skip},
      {u"text:ruby-text", TElem::Skip},
      {u"svg:title", TElem::Skip},
      {u"svg:desc", TElem::Skip},
      {u"office:binary-data", TElem::Skip},
      {u"office:forms", TElem::Skip},
      {u"office:event-listeners", TElem::Skip},
      {u"office:scripts", TElem::Skip},
      {u"office:script", TElem::Skip},
      {u"table:named-expressions", TElem::Skip},
      {u"table:database-ranges", TElem::Skip},
      {u"table:content-validations", TElem::Skip},
      {u"table:calculation-settings", TElem::Skip},
      {u"table:dde-links", TElem::Skip},
      {u"table:table-column", TElem::Skip},
      {u"presentation:settings", TElem::Skip},
      {u"draw:page-thumbnail", TElem::Skip},
  };
  auto it = kKinds.find(Tag);
  if (it != kKinds.end()) return it->second;
  return IsForeignElement(N) ? TElem::Skip : TElem::Other;
}

// Drawing shapes and frames are blocks even when anchored in a paragraph.
bool IsDrawing(std::u16string_view Tag) {
  return Tag.substr(0, 5) == u"draw:" || Tag.substr(0, 5) == u"dr3d:";
}

// How a block-level element renders: whole (its output depends on all it
// holds), as a container (an opening, each child as a block, a closing) or
// not at all. A container's children can be rendered one by one as they
// close; Block and the streamed load share this split.
enum class TBlockRole : uint8_t { Whole, Container, Nothing };

TBlockRole BlockRole(TElem Kind) {
  switch (Kind) {
    case TElem::Paragraph:
    case TElem::Frame:
    case TElem::Image:
    case TElem::Row:
    case TElem::Cell:
    case TElem::TrackedChanges:
    case TElem::Decl: return TBlockRole::Whole;
    case TElem::CoveredCell:
    case TElem::Object:
    case TElem::Skip: return TBlockRole::Nothing;
    default: return TBlockRole::Container;
  }
}

}  // namespace

// The counters of one list as it is numbered: the levels' current numbers.
// Lists that continue another share its counters.
struct TOOListCounters {
  int64_t Value[kOOListLevels] = {};
  bool Set[kOOListLevels] = {};

  // Counts an item at Level (1-based); Restart >= 0 sets its number.
  void Count(const TOOListStyle* Style, int Level, int64_t Restart) {
    const int k = Level - 1;
    if (Restart >= 0)
      Value[k] = Restart;
    else if (!Set[k])
      Value[k] = Style ? Style->Levels[k].Start : 1;
    else if (Value[k] < (int64_t{1} << 50))
      ++Value[k];
    Set[k] = true;
    for (int d = Level; d < kOOListLevels; ++d) Set[d] = false;
  }

  // The label of the item just counted at Level.
  WideString Label(const TOOListStyle* Style, int Level) const {
    if (!Style) return {};
    const TOOListLevel& own = Style->Levels[Level - 1];
    switch (own.Kind) {
      case TOOListLevel::TKind::Undefined: return {};
      case TOOListLevel::TKind::Bullet:
      case TOOListLevel::TKind::Image: return own.Bullet;
      case TOOListLevel::TKind::Number: break;
    }
    WideString label = own.Prefix;
    bool first = true;
    for (int k = std::max(Level - own.DisplayLevels, 0); k < Level; ++k) {
      const TOOListLevel& l = Style->Levels[k];
      // Levels above that have no number of their own show none.
      const TListNumberFormat format = l.Kind == TOOListLevel::TKind::Number ? l.Format : TListNumberFormat::None;
      if (format == TListNumberFormat::None) continue;
      if (!first) label += u'.';
      first = false;
      AppendListNumber(label, Set[k] ? Value[k] : l.Start, format);
    }
    label += own.Suffix;
    return label;
  }
};

// Tells the content element of a document, or a header or footer, as
// document events.
class TOOBodyWriter {
 public:
  // InStory: the content is a story of its own (a header or a footer), in
  // which notes and comments are told as its text.
  explicit TOOBodyWriter(TCustomOpenOfficeDocument& D, bool InStory = false)
      : D(D),
        Out(D.Output()),
        FMarksChanges(D.ReaderFormating() != tfPlainText || D.FParseItems.Contains(wpiRevisions)),
        FStoryDepth(InStory ? 1 : 0) {}

  void Block(const TLKXMLItem* N);
  // The opening and the closing of a container (BlockRole Container).
  void Enter(const TLKXMLItem* N);
  void Leave(const TLKXMLItem* N);
  void Children(const TLKXMLItem* N);

 private:
  // Block content met inside a paragraph, told after it.
  struct TDeferred {
    const TLKXMLItem* Node;
    WideString Label;  // a note's citation, which starts its first paragraph
    bool IsStory = false;
    TStoryKind Story = TStoryKind::Main;
  };

  bool Stopped() const { return Out.Cancelled(); }
  const TOOStyleText* TextStyle(const WideString& Name) const;

  void Paragraph(const TLKXMLItem* N);
  // A paragraph, table or list written inside a paragraph (which the format
  // does not allow) is told where it stands: the paragraph ends before it
  // and resumes, with the spans and links that were open, at the next text.
  void SplitParagraph(const TLKXMLItem* C, std::vector<TDeferred>& Deferred);
  // Reopens the paragraph a block split, if one did, before its next text.
  void ResumeParagraph();
  void Deferred(const TDeferred& Block);
  // The blocks met in a paragraph, told once it has ended.
  void TellDeferred(std::vector<TDeferred>& Blocks);
  // Tracked changes, where they are shown: the text of each deletion, told
  // where it was taken out, and the insertions' extent.
  void TrackedChanges(const TLKXMLItem* N);
  void ChangeMark(const TLKXMLItem* C, TElem Kind);
  void Declaration(const TLKXMLItem* N);
  void Inline(const TLKXMLItem* N, std::vector<TDeferred>& Deferred);
  void InlineElement(const TLKXMLItem* C, std::vector<TDeferred>& Deferred);
  // The inline elements that are more than their content.
  void Span(const TLKXMLItem* C, std::vector<TDeferred>& Deferred);
  void Link(const TLKXMLItem* C, std::vector<TDeferred>& Deferred);
  void Spaces(const TLKXMLItem* C);
  void Note(const TLKXMLItem* C, std::vector<TDeferred>& Deferred);
  // Document text, entities decoded when Decode; its white space collapses
  // in the output.
  void Text(std::u16string_view Raw, bool Decode);
  void Frame(const TLKXMLItem* N);
  void FrameContent(const TLKXMLItem* N);
  void Picture(const TLKXMLItem* N);
  // An embedded object: the body of a text, spreadsheet, presentation or
  // drawing, a formula's text; charts and foreign objects give nothing.
  void Object(const TLKXMLItem* N);
  void Formula(const TLKXMLItem* Math);
  void Row(const TLKXMLItem* N);
  void Cell(const TLKXMLItem* N);
  int64_t RepeatCount(const TLKXMLItem* N, std::u16string_view Attribute) const;
  void EnterList(const TLKXMLItem* N);
  void EnterListItem(const TLKXMLItem* N);
  // The kind, level and label of a paragraph in a list, or of a heading.
  void ListParagraph(const TLKXMLItem* N, TParagraph& P);
  void Heading(const TLKXMLItem* N, TParagraph& P);

  // A list being told, and the counters it numbers with.
  struct TOpenList {
    const TOOListStyle* Style = nullptr;
    std::shared_ptr<TOOListCounters> Counters;
  };
  struct TOpenItem {
    bool Labelled = false;  // a header, or its first paragraph was told
    int64_t Restart = -1;
  };

  TCustomOpenOfficeDocument& D;
  TDocumentOutput& Out;
  WideString FLabel;  // the citation of the note whose body comes next
  WideString FDecoded;
  TRunStyle FRun;  // the formatting of the text at hand
  // The spans and links open in the paragraph at hand, and that paragraph,
  // which a block may have split (FSplit: it is closed until resumed).
  struct TOpenInline {
    const TRunStyle* Style;   // a span's, or
    const WideString* Link;   // a link's target
  };
  std::vector<TOpenInline> FInlines;
  const TParagraph* FParagraph = nullptr;
  bool FSplit = false;
  // The changes by their ids (deletions with their text), and the insertion
  // open now: it is told open in every paragraph it covers.
  struct TChange {
    TRevisionKind Kind;
    WideString Text;
  };
  const bool FMarksChanges;
  std::unordered_map<WideString, TChange> FChanges;
  WideString FInsertion;
  int FListDepth = 0;
  std::vector<TOpenList> FLists;
  std::vector<TOpenItem> FItems;
  // The last list of each style, which a list that continues the numbering
  // goes on with, and the lists by their ids.
  std::unordered_map<const TOOListStyle*, std::shared_ptr<TOOListCounters>> FLastList;
  std::unordered_map<WideString, std::shared_ptr<TOOListCounters>> FListIds;
  std::shared_ptr<TOOListCounters> FLastAny;
  TOOListCounters FOutline;
  int FTitleDepth = 0;  // inside a presentation's title frame
  int FPage = 0;
  int FStoryDepth;
};

const TOOStyleText* TOOBodyWriter::TextStyle(const WideString& Name) const {
  if (Name.empty() || D.FStyles.Count() == 0) return nullptr;
  return dynamic_cast<const TOOStyleText*>(D.FStyles.FindByStyleName(Name));
}

void TOOBodyWriter::Block(const TLKXMLItem* N) {
  if (Stopped() || N->Kind() != ikProperty) return;
  const TElem kind = ElemKind(N);
  switch (BlockRole(kind)) {
    case TBlockRole::Nothing: return;
    case TBlockRole::Container:
      Enter(N);
      Children(N);
      Leave(N);
      return;
    case TBlockRole::Whole: break;
  }
  switch (kind) {
    case TElem::Paragraph: Paragraph(N); return;
    case TElem::Frame: Frame(N); return;
    case TElem::Image: Picture(N); return;
    case TElem::Row: Row(N); return;
    case TElem::Cell: Cell(N); return;
    case TElem::TrackedChanges: TrackedChanges(N); return;
    case TElem::Decl: Declaration(N); return;
    default: return;
  }
}

// Slides show their footer's text where their master puts it.
void TOOBodyWriter::Declaration(const TLKXMLItem* N) {
  constexpr size_t kMaxDeclarations = 1000;
  if (!D.FReadHeadersFooters || D.FDeclarations.size() >= kMaxDeclarations) return;
  WideString text(TrimAsciiBlanks(N->Text()));
  if (text.empty()) return;
  const TStoryKind kind = N->TagName() == u"presentation:header-decl" ? TStoryKind::Header : TStoryKind::Footer;
  D.FDeclarations.emplace_back(kind, std::move(text));
}

void TOOBodyWriter::Enter(const TLKXMLItem* N) {
  switch (ElemKind(N)) {
    case TElem::Table: {
      WideString style;
      if (!N->FindAttribute(u"table:style-name", style)) N->FindAttribute(u"text:style-name", style);
      if (!style.empty()) Out.NextTableStyle(style);
      Out.BeginTable();
      return;
    }
    case TElem::List:
      EnterList(N);
      ++FListDepth;
      Out.BeginList();
      return;
    case TElem::ListItem:
      EnterListItem(N);
      Out.BeginListItem();
      return;
    case TElem::Page: Out.BeginPage(++FPage); return;
    case TElem::Section: Out.BeginSection(); return;
    default: return;
  }
}

void TOOBodyWriter::Leave(const TLKXMLItem* N) {
  switch (ElemKind(N)) {
    case TElem::Table: Out.EndTable(); return;
    case TElem::List:
      --FListDepth;
      if (!FLists.empty()) FLists.pop_back();
      Out.EndList();
      return;
    case TElem::ListItem:
      if (!FItems.empty()) FItems.pop_back();
      Out.EndListItem();
      return;
    case TElem::Page: Out.EndPage(FPage); return;
    case TElem::Section: Out.EndSection(); return;
    default: return;
  }
}

// Bounds on what a hostile document may make the writer keep.
constexpr size_t kMaxListIds = 10000;

void TOOBodyWriter::EnterList(const TLKXMLItem* N) {
  TOpenList list;
  const WideString styleName = N->AttributeValue(u"text:style-name");
  list.Style = D.ListStyle(styleName);
  if (!list.Style && !FLists.empty()) list.Style = FLists.back().Style;
  // A list begun where an item has not yet shown a paragraph leaves that
  // item without a label.
  if (!FItems.empty()) FItems.back().Labelled = true;
  if (!FLists.empty()) {
    // A nested list goes on with its outermost list's counters.
    list.Counters = FLists.front().Counters;
    FLists.push_back(std::move(list));
    return;
  }
  WideString id;
  if (N->FindAttribute(u"text:continue-list", id)) {
    if (auto it = FListIds.find(id); it != FListIds.end()) list.Counters = it->second;
  } else if (N->AttributeValue(u"text:continue-numbering") == u"true") {
    if (auto it = FLastList.find(list.Style); it != FLastList.end())
      list.Counters = it->second;
    else
      list.Counters = FLastAny;
  }
  if (!list.Counters) list.Counters = std::make_shared<TOOListCounters>();
  if (N->FindAttribute(u"xml:id", id) && !id.empty()) {
    if (FListIds.size() >= kMaxListIds) FListIds.clear();
    FListIds[id] = list.Counters;
  }
  FLastList[list.Style] = list.Counters;
  FLastAny = list.Counters;
  FLists.push_back(std::move(list));
}

void TOOBodyWriter::EnterListItem(const TLKXMLItem* N) {
  TOpenItem item;
  item.Labelled = N->TagName() == u"text:list-header";
  WideString start;
  if (N->FindAttribute(u"text:start-value", start)) item.Restart = std::max<int64_t>(LeadingInt(start, 1 << 30, 1), 0);
  FItems.push_back(item);
}

void TOOBodyWriter::ListParagraph(const TLKXMLItem* N, TParagraph& P) {
  if (P.Kind != TParagraphKind::Heading) P.Kind = TParagraphKind::ListItem;
  const int level = std::min(FListDepth, kOOListLevels);
  if (P.Kind == TParagraphKind::ListItem) P.Level = std::min(level, kMaxListLevel);
  if (FItems.empty() || FItems.back().Labelled || FLists.empty()) return;
  TOpenItem& item = FItems.back();
  item.Labelled = true;
  const TOpenList& list = FLists.back();
  const TOOListStyle* style = list.Style;
  if (!style) style = D.ParagraphListStyle(N->AttributeValue(u"text:style-name"));
  list.Counters->Count(style, level, item.Restart);
  P.Label = list.Counters->Label(style, level);
}

void TOOBodyWriter::Heading(const TLKXMLItem* N, TParagraph& P) {
  P.Kind = TParagraphKind::Heading;
  const int level = std::clamp(LeadingInt(N->AttributeValue(u"text:outline-level"), kOOListLevels, 1), 1, kOOListLevels);
  P.Level = std::min(level, kMaxHeadingLevel);
  if (FListDepth > 0) {
    ListParagraph(N, P);
    return;
  }
  if (N->AttributeValue(u"text:is-list-header") == u"true") return;
  int64_t restart = -1;
  if (N->AttributeValue(u"text:restart-numbering") == u"true") {
    WideString start;
    restart = N->FindAttribute(u"text:start-value", start) ? std::max<int64_t>(LeadingInt(start, 1 << 30, 1), 0)
                                                           : D.FOutlineStyle.Levels[level - 1].Start;
  }
  FOutline.Count(&D.FOutlineStyle, level, restart);
  P.Label = FOutline.Label(&D.FOutlineStyle, level);
}

void TOOBodyWriter::Children(const TLKXMLItem* N) {
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count() && !Stopped(); ++i) Block(items[i]);
}

void TOOBodyWriter::Paragraph(const TLKXMLItem* N) {
  TParagraph p;
  if (!FLabel.empty()) {
    // A note's citation starts its first paragraph, whatever it is.
    p.Label = std::move(FLabel);
    FLabel.clear();
  } else if (FTitleDepth > 0) {
    p.Kind = TParagraphKind::Heading;
    p.Level = 1;
  } else if (N->TagName() == u"text:h") {
    Heading(N, p);
  } else if (FListDepth > 0) {
    ListParagraph(N, p);
  }
  p.Style = N->AttributeValue(u"text:style-name");
  if (const TOOStyleText* ts = TextStyle(p.Style)) {
    TakeFontStyle(*ts, p);
    p.Alignment = OutputAlignment(ts->Alignment());
  }
  FRun = TRunStyle();
  FRun.Bold = p.Bold;
  FRun.Italic = p.Italic;
  FRun.Underline = p.Underline;
  std::vector<TDeferred> deferred;
  std::vector<TOpenInline> inlines;
  inlines.swap(FInlines);
  const TParagraph* outer = FParagraph;
  const bool split = FSplit;
  FParagraph = &p;
  FSplit = false;
  Out.BeginParagraph(p);
  if (!FInsertion.empty()) Out.BeginRevision(TRevisionKind::Inserted);
  Inline(N, deferred);
  if (!FSplit) {
    if (!FInsertion.empty()) Out.EndRevision(TRevisionKind::Inserted);
    Out.EndParagraph();
  }
  FInlines.swap(inlines);
  FParagraph = outer;
  FSplit = split;
  TellDeferred(deferred);
}

void TOOBodyWriter::TellDeferred(std::vector<TDeferred>& Blocks) {
  for (const TDeferred& d : Blocks) {
    if (Stopped()) break;
    Deferred(d);
  }
  Blocks.clear();
}

void TOOBodyWriter::SplitParagraph(const TLKXMLItem* C, std::vector<TDeferred>& Deferred) {
  if (!FSplit) {
    for (auto it = FInlines.rbegin(); it != FInlines.rend(); ++it) it->Link ? Out.EndLink() : Out.EndSpan();
    if (!FInsertion.empty()) Out.EndRevision(TRevisionKind::Inserted);
    Out.EndParagraph();
    FSplit = true;
  }
  TellDeferred(Deferred);
  if (Stopped()) return;
  const TRunStyle run = FRun;
  Block(C);
  FRun = run;
}

void TOOBodyWriter::ResumeParagraph() {
  if (!FSplit) return;
  FSplit = false;
  TParagraph resumed = *FParagraph;
  resumed.Label.clear();
  Out.BeginParagraph(resumed);
  if (!FInsertion.empty()) Out.BeginRevision(TRevisionKind::Inserted);
  for (const TOpenInline& open : FInlines) open.Link ? Out.BeginLink(*open.Link) : Out.BeginSpan(*open.Style);
}

// Bounds on the changes a hostile document may make the writer keep.
constexpr size_t kMaxChanges = 10000;
constexpr size_t kMaxDeletedText = size_t{1} << 16;

void TOOBodyWriter::TrackedChanges(const TLKXMLItem* N) {
  if (!FMarksChanges) return;
  const TLKXMLItems& regions = N->Items();
  for (int i = 0; i < regions.Count() && FChanges.size() < kMaxChanges; ++i) {
    const TLKXMLItem* region = regions[i];
    WideString id;
    if (region->Kind() != ikProperty || region->TagName() != u"text:changed-region" ||
        !(region->FindAttribute(u"text:id", id) || region->FindAttribute(u"xml:id", id)))
      continue;
    const TLKXMLItems& parts = region->Items();
    for (int k = 0; k < parts.Count(); ++k) {
      const TLKXMLItem* part = parts[k];
      if (part->Kind() != ikProperty) continue;
      if (part->TagName() == u"text:insertion") {
        FChanges[id] = {TRevisionKind::Inserted, {}};
      } else if (part->TagName() == u"text:deletion") {
        // The deleted paragraphs' text, one line; the change's author and
        // date are no text of it.
        WideString text;
        const TLKXMLItems& taken = part->Items();
        for (int t = 0; t < taken.Count() && text.size() < kMaxDeletedText; ++t) {
          if (taken[t]->Kind() != ikProperty || taken[t]->TagName() == u"office:change-info") continue;
          const WideString line(TrimAsciiBlanks(taken[t]->Text()));
          if (line.empty()) continue;
          if (!text.empty()) text += u' ';
          text += line.substr(0, kMaxDeletedText - std::min(text.size(), kMaxDeletedText));
        }
        FChanges[id] = {TRevisionKind::Deleted, std::move(text)};
      } else {
        continue;
      }
      break;
    }
  }
}

void TOOBodyWriter::ChangeMark(const TLKXMLItem* C, TElem Kind) {
  if (!FMarksChanges) return;
  WideString id;
  if (!C->FindAttribute(u"text:change-id", id)) return;
  const auto it = FChanges.find(id);
  if (it == FChanges.end()) return;
  const TChange& change = it->second;
  if (Kind == TElem::Change && change.Kind == TRevisionKind::Deleted && !change.Text.empty()) {
    ResumeParagraph();
    Out.BeginRevision(TRevisionKind::Deleted);
    Out.Text(change.Text, FRun);
    Out.EndRevision(TRevisionKind::Deleted);
  } else if (Kind == TElem::ChangeStart && change.Kind == TRevisionKind::Inserted && FInsertion.empty()) {
    FInsertion = id;
    if (!FSplit) Out.BeginRevision(TRevisionKind::Inserted);
  } else if (Kind == TElem::ChangeEnd && id == FInsertion) {
    if (!FSplit) Out.EndRevision(TRevisionKind::Inserted);
    FInsertion.clear();
  }
}

void TOOBodyWriter::Deferred(const TDeferred& B) {
  // Stories do not nest: a note in a header is the header's text.
  const bool story = B.IsStory && FStoryDepth == 0;
  const int lists = FListDepth;
  std::vector<TOpenList> openLists;
  std::vector<TOpenItem> openItems;
  if (story) {
    ++FStoryDepth;
    FListDepth = 0;
    openLists.swap(FLists);
    openItems.swap(FItems);
    Out.BeginStory(B.Story);
    if (B.Story == TStoryKind::Footnote || B.Story == TStoryKind::Endnote) Out.BeginNote(B.Story, B.Label);
  }
  FLabel = B.Label;
  Block(B.Node);
  FLabel.clear();
  if (story) {
    Out.EndStory(B.Story);
    FListDepth = lists;
    FLists.swap(openLists);
    FItems.swap(openItems);
    --FStoryDepth;
  }
}

void TOOBodyWriter::Text(std::u16string_view Raw, bool Decode) {
  if (Raw.empty()) return;
  std::u16string_view s = Raw;
  if (Decode && Raw.find(u'&') != std::u16string_view::npos) {
    FDecoded.clear();
    AppendHTMLChars(FDecoded, Raw);
    s = FDecoded;
  }
  if (FSplit) {
    // White space after a block that split the paragraph starts no text.
    if (TrimAsciiBlanks(s).empty()) return;
    ResumeParagraph();
  }
  Out.Text(s, FRun);
}

void TOOBodyWriter::Inline(const TLKXMLItem* N, std::vector<TDeferred>& Deferred) {
  Text(N->Value(), true);
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    switch (c->Kind()) {
      case ikAttribute:
        continue;
      case ikComment:
        break;
      case ikCDATA:
        Text(c->Value(), false);
        break;
      case ikProperty:
        InlineElement(c, Deferred);
        break;
    }
    Text(c->Tail(), true);
  }
}

void TOOBodyWriter::InlineElement(const TLKXMLItem* C, std::vector<TDeferred>& Deferred) {
  const std::u16string_view tag = C->TagName();
  if (IsDrawing(tag)) {
    Deferred.push_back({C, {}});
    return;
  }
  const TElem kind = ElemKind(C);
  switch (kind) {
    case TElem::Span:
      Span(C, Deferred);
      return;
    case TElem::Link:
      Link(C, Deferred);
      return;
    case TElem::Space:
      ResumeParagraph();
      Spaces(C);
      return;
    case TElem::Tab:
      ResumeParagraph();
      Out.Tab();
      return;
    case TElem::LineBreak:
      ResumeParagraph();
      Out.LineBreak();
      return;
    case TElem::Note:
      Note(C, Deferred);
      return;
    case TElem::NoteBody:
      Deferred.push_back({C, {}, true, TStoryKind::Footnote});
      return;
    case TElem::Annotation:
      Deferred.push_back({C, {}, true, TStoryKind::Comment});
      return;
    case TElem::Paragraph:
    case TElem::Table:
    case TElem::List:
      SplitParagraph(C, Deferred);
      return;
    case TElem::PageNumber: {
      // Presentation masters keep "<number>" where the page number goes.
      const WideString t = C->Text();
      if (t.size() >= 2 && t.front() == u'<' && t.back() == u'>') return;
      Inline(C, Deferred);
      return;
    }
    case TElem::Change:
    case TElem::ChangeStart:
    case TElem::ChangeEnd:
      ChangeMark(C, kind);
      return;
    case TElem::HiddenText:
      if (D.FParseItems.Contains(wpiHiddenText)) {
        const WideString value = C->AttributeValue(u"text:string-value");
        if (value.empty()) return;
        TRunStyle hidden = FRun;
        hidden.Hidden = true;
        ResumeParagraph();
        Out.Text(value, hidden);
      }
      return;
    case TElem::Skip:
      return;
    default:
      Inline(C, Deferred);
      return;
  }
}

void TOOBodyWriter::Span(const TLKXMLItem* C, std::vector<TDeferred>& Deferred) {
  TRunStyle own;
  own.Style = C->AttributeValue(u"text:style-name");
  if (const TOOStyleText* ts = TextStyle(own.Style)) TakeFontStyle(*ts, own);
  const TRunStyle outer = FRun;
  FRun.Bold |= own.Bold;
  FRun.Italic |= own.Italic;
  FRun.Underline |= own.Underline;
  FRun.Style = own.Style;
  if (!FSplit) Out.BeginSpan(own);
  FInlines.push_back({&own, nullptr});
  Inline(C, Deferred);
  FInlines.pop_back();
  if (!FSplit) Out.EndSpan();
  FRun = outer;
}

void TOOBodyWriter::Link(const TLKXMLItem* C, std::vector<TDeferred>& Deferred) {
  WideString href;
  if (!C->FindAttribute(u"xlink:href", href)) {
    Inline(C, Deferred);
    return;
  }
  if (!FSplit) Out.BeginLink(href);
  FInlines.push_back({nullptr, &href});
  Inline(C, Deferred);
  FInlines.pop_back();
  if (!FSplit) Out.EndLink();
}

void TOOBodyWriter::Spaces(const TLKXMLItem* C) {
  WideString count;
  int32_t n = 1;
  if (C->FindAttribute(u"text:c", count)) {
    n = 0;
    for (char16_t ch : count) {
      if (!IsAsciiDigit(ch)) break;
      n = std::min(n * 10 + (ch - u'0'), kMaxSpaceRun);
    }
    n = std::max(n, 1);
  }
  Out.Spaces(n);
}

void TOOBodyWriter::Note(const TLKXMLItem* C, std::vector<TDeferred>& Deferred) {
  // The citation stays in the paragraph; the body follows it.
  const TLKXMLItems& items = C->Items();
  const TStoryKind kind =
      C->AttributeValue(u"text:note-class") == u"endnote" ? TStoryKind::Endnote : TStoryKind::Footnote;
  WideString citation;
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* part = items[i];
    if (part->Kind() != ikProperty) continue;
    if (part->TagName() == u"text:note-citation") {
      citation = part->Text();
      if (citation.empty()) continue;
      ResumeParagraph();
      Out.NoteReference(kind, citation, FRun);
    }
  }
  for (int i = 0; i < items.Count(); ++i)
    if (items[i]->Kind() == ikProperty && items[i]->TagName() == u"text:note-body")
      Deferred.push_back({items[i], citation, true, kind});
}

void TOOBodyWriter::Frame(const TLKXMLItem* N) {
  // A slide's title is its heading.
  const bool title = N->AttributeValue(u"presentation:class") == u"title";
  FTitleDepth += title;
  FrameContent(N);
  FTitleDepth -= title;
}

void TOOBodyWriter::FrameContent(const TLKXMLItem* N) {
  // The elements of a frame are alternative representations of one
  // object (a table and its preview picture): the first one counts.
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    if (c->Kind() != ikProperty) continue;
    switch (ElemKind(c)) {
      case TElem::TextBox: Children(c); return;
      case TElem::Image: Picture(c); return;
      case TElem::Table: Block(c); return;
      case TElem::Object: Object(c); return;
      default: break;
    }
  }
  Children(N);
}

void TOOBodyWriter::Object(const TLKXMLItem* N) {
  // A package keeps the object in a folder of its own; a flat document
  // inside the element.
  WideString href;
  TLKXMLEngine engine;
  const TLKXMLItem* root = N;
  const std::string folder = D.FObjectFolder;
  if (N->FindAttribute(u"xlink:href", href)) {
    if (!D.LoadObjectContent(href, engine)) return;
    root = engine.RootItem();
  }
  // The object's document element: the part's (after its declaration), or
  // the flat object's first child.
  const TLKXMLItem* document = root;
  if (root == N || root->TagName().starts_with(u"?")) {
    document = nullptr;
    const TLKXMLItems& items = root->Items();
    for (int i = 0; i < items.Count() && !document; ++i)
      if (items[i]->Kind() == ikProperty && !items[i]->TagName().starts_with(u"?")) document = items[i];
    if (!document) {
      D.FObjectFolder = folder;
      return;
    }
  }
  ++D.FObjectDepth;
  if (XMLLocalName(document->TagName()) == u"math") {
    Formula(document);
  } else if (const TLKXMLItem* body = FindChildElement(document, u"body"); body && D.FObjectDepth <= kMaxObjectDepth) {
    static constexpr std::u16string_view kBodies[] = {u"office:text", u"office:spreadsheet", u"office:presentation",
                                                       u"office:drawing"};
    const TLKXMLItems& items = body->Items();
    for (int i = 0; i < items.Count(); ++i)
      if (std::find(std::begin(kBodies), std::end(kBodies), items[i]->TagName()) != std::end(kBodies)) Block(items[i]);
  }
  --D.FObjectDepth;
  D.FObjectFolder = folder;
}

void TOOBodyWriter::Formula(const TLKXMLItem* Math) {
  // The formula as its editor wrote it ("{a} over {b}"), else its symbols
  // in order.
  WideString text;
  ForEachElement(const_cast<TLKXMLItem*>(Math), [&](TLKXMLItem& n) {
    if (text.empty() && XMLLocalName(n.TagName()) == u"annotation") text = TrimAsciiBlanks(n.Text());
  });
  if (text.empty()) {
    ForEachElement(const_cast<TLKXMLItem*>(Math), [&](TLKXMLItem& n) {
      const std::u16string_view local = XMLLocalName(n.TagName());
      if (local != u"mi" && local != u"mn" && local != u"mo" && local != u"mtext" && local != u"ms") return;
      const WideString token(TrimAsciiBlanks(n.Text()));
      if (token.empty()) return;
      if (!text.empty()) text += u' ';
      text += token;
    });
  }
  if (text.empty()) return;
  Out.BeginParagraph(TParagraph());
  Out.Text(text, kPlainRun);
  Out.EndParagraph();
}

void TOOBodyWriter::Picture(const TLKXMLItem* N) {
  // A picture's path is no text of the document: only a host that asks for
  // pictures gets it.
  if (!D.FParseItems.Contains(wpiPictures)) return;
  WideString href;
  if (!N->FindAttribute(u"xlink:href", href) || href.empty()) return;
  Out.BeginParagraph(TParagraph());
  Out.Image(href);
  Out.EndParagraph();
}

int64_t TOOBodyWriter::RepeatCount(const TLKXMLItem* N, std::u16string_view Attribute) const {
  WideString v;
  if (!N->FindAttribute(Attribute, v)) return 1;
  int64_t n = 0;
  for (char16_t c : v) {
    if (!IsAsciiDigit(c)) break;
    n = std::min<int64_t>(n * 10 + (c - u'0'), int64_t{1} << 31);
  }
  return std::max<int64_t>(n, 1);
}

void TOOBodyWriter::Row(const TLKXMLItem* N) {
  Out.BeginRow();
  if (const int64_t times = RepeatCount(N, u"table:number-rows-repeated"); times > 1) Out.Repeated(times);
  Children(N);
  Out.EndRow();
}

void TOOBodyWriter::Cell(const TLKXMLItem* N) {
  Out.BeginCell();
  if (const int64_t times = RepeatCount(N, u"table:number-columns-repeated"); times > 1) Out.Repeated(times);
  bool hasElements = false;
  for (int i = 0; i < N->Items().Count() && !hasElements; ++i) hasElements = N->Items()[i]->Kind() == ikProperty;
  if (hasElements) {
    Children(N);
  } else {
    // Writers other than office suites may give only the value, which is
    // kept as it is written.
    for (const char16_t* name : {u"office:string-value", u"office:value", u"office:date-value",
                                 u"office:time-value", u"office:boolean-value"}) {
      WideString v;
      if (N->FindAttribute(name, v) && !v.empty()) {
        TParagraph p;
        p.Kind = TParagraphKind::Preformatted;
        Out.BeginParagraph(p);
        Out.Text(v);
        Out.EndParagraph();
        break;
      }
    }
  }
  Out.EndCell();
}

// ---------------------------------------------------------------------------

void TCustomOpenOfficeDocument::LoadXMLFilePart(TStream& S, TWideStrings& L) {
  const int64_t size = S.Size() - S.Position();
  if (size > FMaxDecompressedSize) throw ELimitError("content part larger than the decompression limit");
  const TTextPath::TRedirect into(TextPath(), L);
  LoadXMLBytes(size > 0 ? S.ReadBytes(size) : RawByteString());
}

// Tells the body while the engine parses it. A block is told when it
// closes, if every element between it and the content element is told as a
// container; it is then freed, so the tree holds about one block. The
// containers on the way are opened (Enter) when their first block is
// told and closed (Leave) when they close. Output that shows styles needs
// the automatic styles before the first block: a document that has none by
// then is told from the whole tree after the parse, as is one whose body
// never gave a block.
class TOOBodyStreamer {
 public:
  TOOBodyStreamer(TCustomOpenOfficeDocument& D, TLKXMLEngine& E, TOOBodyWriter& W, const WideString& BodyTag,
                  const WideString& TextTag, bool Styled)
      : D(D), E(E), W(W), FBodyTag(BodyTag), FTextTag(TextTag), FStyled(Styled) {}

  enum class TMode { Undecided, Streaming, Whole };

  void OnTag(TLKXMLItem* Parent, std::u16string_view Tag) {
    Resolve();
    if (!FBody && !FPendingBody) {
      if (SameStrings(false, Tag, FBodyTag)) FPendingBody = Parent;
    } else if (FBody && !FText && !FPendingText && SameStrings(false, Tag, FTextTag) && IsWithin(Parent, FBody)) {
      FPendingText = Parent;
    }
  }

  void OnAfterTag(TLKXMLItem* Node);

  // After the parse: what is still open is rendered.
  void Finish();

  TMode Mode() const { return FMode; }

 private:
  // The engine names no node in OnTag: a node announced there is its
  // parent's last child from the next event on.
  void Resolve() {
    if (!FRootChecked) {
      FRootChecked = true;
      if (SameStrings(false, E.RootItem()->TagName(), FBodyTag)) FBody = E.RootItem();
    }
    if (FPendingBody) {
      FBody = FPendingBody->Items()[FPendingBody->Items().Count() - 1];
      FPendingBody = nullptr;
    }
    if (FPendingText) {
      FText = FPendingText->Items()[FPendingText->Items().Count() - 1];
      FPendingText = nullptr;
    }
  }
  static bool IsWithin(const TLKXMLItem* N, const TLKXMLItem* Ancestor) {
    for (; N; N = N->ParentItem())
      if (N == Ancestor) return true;
    return false;
  }
  TBlockRole Route(TLKXMLItem* Parent);
  bool Decide(TLKXMLItem* Node);
  // Frees Parent's children up to and including Last: blocks already
  // rendered and nodes that render nothing.
  void FreeThrough(TLKXMLItem* Parent, TLKXMLItem* Last);

  TCustomOpenOfficeDocument& D;
  TLKXMLEngine& E;
  TOOBodyWriter& W;
  const WideString& FBodyTag;
  const WideString& FTextTag;
  const bool FStyled;
  TMode FMode = TMode::Undecided;
  bool FRootChecked = false;
  bool FTextClosed = false;
  TLKXMLItem* FBody = nullptr;
  TLKXMLItem* FText = nullptr;
  TLKXMLItem* FPendingBody = nullptr;
  TLKXMLItem* FPendingText = nullptr;
  // Containers opened, outermost first: always the open ones on the way
  // from the content element to the parse position.
  std::vector<TLKXMLItem*> FEntered;
  std::vector<TLKXMLItem*> FChain;
  // The last parent routed and its answer (reset whenever a node is freed,
  // so that no freed address is trusted).
  const TLKXMLItem* FRouted = nullptr;
  TBlockRole FRoutedRole = TBlockRole::Whole;
};

// Container: the children of Parent render as blocks of their own (FChain
// gets the containers from the outermost down to Parent); Nothing: they
// render nothing; Whole: they belong to a block still open.
TBlockRole TOOBodyStreamer::Route(TLKXMLItem* Parent) {
  if (Parent == FText || (!FEntered.empty() && Parent == FEntered.back())) {
    FChain.clear();
    return TBlockRole::Container;
  }
  if (Parent == FRouted) return FRoutedRole;
  FChain.clear();
  TBlockRole role = TBlockRole::Container;
  TLKXMLItem* n = Parent;
  for (; n && n != FText; n = n->ParentItem()) {
    const TBlockRole r = BlockRole(ElemKind(n));
    if (r == TBlockRole::Whole) break;
    if (r == TBlockRole::Nothing) role = TBlockRole::Nothing;
    FChain.push_back(n);
  }
  if (n != FText) role = TBlockRole::Whole;  // a whole block, or outside the body
  std::reverse(FChain.begin(), FChain.end());
  FRouted = Parent;
  FRoutedRole = role;
  return role;
}

bool TOOBodyStreamer::Decide(TLKXMLItem* Node) {
  // The first styles element in document order is the one a walk of the
  // whole tree would find; it must be complete, hence not around Node.
  TLKXMLItem* styles = E.GetItemByTag(nullptr, u"office:automatic-styles");
  if (styles && IsWithin(Node, styles)) {
    FMode = TMode::Whole;
    return false;
  }
  if (FStyled) {
    if (!styles) {
      FMode = TMode::Whole;
      return false;
    }
    D.ReadStyles(styles);
    D.TellStyleSheet();
  }
  if (styles) {
    D.ReadListStyles(styles);
    delete styles;
    FRouted = nullptr;
  }
  FMode = TMode::Streaming;
  return true;
}

void TOOBodyStreamer::FreeThrough(TLKXMLItem* Parent, TLKXMLItem* Last) {
  while (Parent->Items().Count() > 0) {
    TLKXMLItem* first = Parent->Items()[0];
    delete first;
    if (first == Last) break;
  }
  // Text between blocks joins the container's own value, which renders
  // nothing: dropping it keeps it from growing with the document.
  Parent->SetValue({});
  FRouted = nullptr;
}

void TOOBodyStreamer::OnAfterTag(TLKXMLItem* Node) {
  Resolve();
  if (!FText || FTextClosed || FMode == TMode::Whole) return;
  if (Node == FText) {
    FTextClosed = true;
    return;
  }
  if (Node->Level() <= FText->Level()) return;
  TLKXMLItem* parent = Node->ParentItem();
  if (!FEntered.empty() && Node == FEntered.back()) {
    W.Leave(Node);
    FEntered.pop_back();
    FreeThrough(parent, Node);
    return;
  }
  const TBlockRole role = Route(parent);
  if (role == TBlockRole::Whole) return;
  if (FMode == TMode::Undecided && !Decide(Node)) return;
  if (role == TBlockRole::Container) {
    // FEntered is the outer part of the chain; open the rest.
    for (size_t i = FEntered.size(); i < FChain.size(); ++i) {
      W.Enter(FChain[i]);
      FEntered.push_back(FChain[i]);
    }
    W.Block(Node);
  }
  FreeThrough(parent, Node);
}

void TOOBodyStreamer::Finish() {
  Resolve();
  if (FMode != TMode::Streaming) return;
  // Containers cut by the end of the input: what they still hold (a block
  // that never closed), then their closing, innermost first.
  const TLKXMLItem* inner = nullptr;
  for (size_t i = FEntered.size(); i-- > 0;) {
    const TLKXMLItems& items = FEntered[i]->Items();
    for (int k = 0; k < items.Count(); ++k)
      if (items[k] != inner) W.Block(items[k]);
    W.Leave(FEntered[i]);
    inner = FEntered[i];
  }
  const TLKXMLItems& items = FText->Items();
  for (int k = 0; k < items.Count(); ++k)
    if (items[k] != inner) W.Block(items[k]);
}

void TCustomOpenOfficeDocument::ReadMasterPages(const RawByteString& Xml) {
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  engine.SetMaxNodes(FMaxXMLNodes);
  engine.LoadFromBytes(Xml);
  TLKXMLItem* masters = engine.GetItemByTag(nullptr, u"office:master-styles");
  if (!masters) return;
  const int64_t budget = RepeatBudget(static_cast<int64_t>(Xml.size()), FMaxDecompressedSize);
  TDocumentOutput& out = Output();
  const TLKXMLItems& pages = masters->Items();
  for (int i = 0; i < pages.Count() && !out.Cancelled(); ++i) {
    const TLKXMLItems& parts = pages[i]->Items();
    for (int k = 0; k < parts.Count(); ++k) {
      const std::u16string_view tag = parts[k]->TagName();
      const bool header = tag.starts_with(u"style:header");
      if (!header && !tag.starts_with(u"style:footer")) continue;
      const TStoryKind kind = header ? TStoryKind::Header : TStoryKind::Footer;
      out.BeginStory(kind);
      Renderer().SetRepeatBudget(budget);
      TOOBodyWriter(*this, true).Children(parts[k]);
      out.EndStory(kind);
    }
  }
}

void TCustomOpenOfficeDocument::TellDeclarations() {
  TDocumentOutput& out = Output();
  for (const auto& [kind, text] : FDeclarations) {
    if (out.Cancelled()) break;
    out.BeginStory(kind);
    out.BeginParagraph(TParagraph());
    out.Text(text);
    out.EndParagraph();
    out.EndStory(kind);
  }
  FDeclarations.clear();
}

void TCustomOpenOfficeDocument::TellStyleSheet() {
  Renderer().StyleSheet(FStyles.Count(), [this](int I) {
    const TOOStyle& style = *FStyles.GetStyle(I);
    TOpenDocumentStyle s;
    s.Name = style.StyleName();
    s.Family = style.StyleFamily();
    if (const auto* text = dynamic_cast<const TOOStyleText*>(&style)) {
      s.HasLook = true;
      s.FontSize = text->TextFont().Size;
      s.Color = text->TextFont().Color;
      s.Background = text->Color();
      s.Alignment = OutputAlignment(text->Alignment());
      s.Bold = text->TextFont().Style.Contains(oofsBold);
      s.Italic = text->TextFont().Style.Contains(oofsItalic);
      s.Underline = text->TextFont().Style.Contains(oofsUnderline);
    }
    return s;
  });
}

std::unique_ptr<TTextRenderer> TCustomOpenOfficeDocument::CreateRenderer() {
  auto r = std::make_unique<TOpenDocumentRenderer>(*this, RendererPath());
  r->SetStoryLists(&FHeaderText, &FFooterText);
  return r;
}

TOpenDocumentRenderer& TCustomOpenOfficeDocument::Renderer() {
  Output();
  return static_cast<TOpenDocumentRenderer&>(*FRenderer);
}

void TCustomOpenOfficeDocument::LoadXMLBytes(RawByteString Bytes) {
  LoadXML(static_cast<int64_t>(Bytes.size()), [&](TLKXMLEngine& E) { E.LoadFromBytesInPieces(Bytes); });
}

void TCustomOpenOfficeDocument::LoadXMLSource(TPartSource& Source, int64_t Size) {
  LoadXML(Size, [&](TLKXMLEngine& E) {
    E.LoadFromSourceInPieces([&](std::string& Into) {
      if (!Source.More(Source.Data().size(), 0)) return false;
      Into.append(Source.Data());
      return true;
    });
  });
}

void TCustomOpenOfficeDocument::LoadXML(int64_t Size, const std::function<void(TLKXMLEngine&)>& Parse) {
  TOpenDocumentRenderer& renderer = Renderer();
  renderer.SetRepeatBudget(RepeatBudget(Size, FMaxDecompressedSize));
  const bool styled = renderer.UsesStyles();
  const size_t warningsBefore = FWarnings.size();
  TOOBodyWriter writer(*this);
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  TOOBodyStreamer streamer(*this, engine, writer, FXMLTagRoot, FXMLTagText, styled);
  engine.SetOnTag([&](TObject*, TLKXMLItem* Parent, std::u16string_view Tag, std::u16string_view,
                      std::u16string_view, bool&) { streamer.OnTag(Parent, Tag); });
  engine.SetOnAfterTag([&](TObject*, TLKXMLItem*& Node, bool&) { streamer.OnAfterTag(Node); });
  // In pieces, the decoded document is never whole either: the tree, the
  // text at hand and the content's bytes (or a piece of them) are all that
  // is held.
  Parse(engine);
  if (engine.DepthLimitReached()) {
    // Said before anything the body's rendering said, as when the whole
    // tree was built first.
    const std::string message = "elements nested too deep were joined to their ancestors";
    auto seen = std::find_if(FWarnings.begin(), FWarnings.end(), [&](const TWarning& w) { return w.Message == message; });
    if (seen != FWarnings.end()) {
      ++seen->Count;
    } else if (warningsBefore < 100) {
      FWarnings.insert(FWarnings.begin() + static_cast<std::ptrdiff_t>(warningsBefore), TWarning{message, 1});
      if (FWarnings.size() > 100) FWarnings.pop_back();
    }
  }
  if (streamer.Mode() == TOOBodyStreamer::TMode::Streaming) {
    streamer.Finish();
    return;
  }
  if (TLKXMLItem* styles = engine.GetItemByTag(nullptr, u"office:automatic-styles")) {
    if (styled) {
      ReadStyles(styles);
      TellStyleSheet();
    }
    ReadListStyles(styles);
  }
  TLKXMLItem* root = engine.GetItemByTag(nullptr, FXMLTagRoot);
  TLKXMLItem* text = root ? engine.GetItemByTag(root, FXMLTagText) : nullptr;
  if (text) writer.Block(text);
}

}  // namespace lkw
