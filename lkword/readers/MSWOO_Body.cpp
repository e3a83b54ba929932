// The body walk of the OpenDocument readers: paragraphs, tables, lists,
// frames and pages rendered as lines.
#include "lkword/readers/MSWOO.h"

#include <algorithm>
#include <unordered_map>

#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipPart.h"
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
  Skip,
};

TElem ElemKind(std::u16string_view Tag) {
  static const std::unordered_map<std::u16string_view, TElem> kKinds = {
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
      // No visible text: deleted text kept for change tracking, index
      // templates, declarations, cached list numbers, ruby annotations,
      // descriptions, embedded binaries, forms and settings.
      {u"text:tracked-changes", TElem::Skip},
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
  return it == kKinds.end() ? TElem::Other : it->second;
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
    case TElem::Cell: return TBlockRole::Whole;
    case TElem::CoveredCell:
    case TElem::Object:
    case TElem::Skip: return TBlockRole::Nothing;
    default: return TBlockRole::Container;
  }
}

}  // namespace

// Renders the content element of a document into lines of one list.
class TOOBodyWriter {
 public:
  TOOBodyWriter(TCustomOpenOfficeDocument& D, TWideStrings& L, int64_t RepeatBudget)
      : D(D), L(L), F(D.TextFormating()), FRepeatBudget(RepeatBudget) {}

  void Block(const TLKXMLItem* N);
  // The opening and the closing of a container (BlockRole Container).
  void Enter(const TLKXMLItem* N);
  void Leave(const TLKXMLItem* N);
  void Children(const TLKXMLItem* N);

 private:
  // A paragraph line being built; white space collapses across elements.
  struct TLine {
    WideString Text;
    bool PendingSpace = false;
    bool AtStart = true;
  };
  // Block content met inside a paragraph, written after its line.
  struct TDeferred {
    const TLKXMLItem* Node;
    WideString Prefix;
  };

  bool Stopped() const { return D.IsCancelExtract; }
  void Emit(const WideString& T) {
    // Rows and cells replay what they wrote: keep it while one is open,
    // since the list may be a sink that keeps nothing.
    if (FReplayDepth > 0) FReplayLog.push_back(T);
    D.AddText(T, L);
  }
  // T followed by what the host's handler makes of the special character.
  WideString SysChar(TLKWordSysChar Kind, WideString T);
  const TOOStyleText* TextStyle(const WideString& Name) const;

  void Paragraph(const TLKXMLItem* N);
  void Inline(const TLKXMLItem* N, TLine& Line, std::vector<TDeferred>& Deferred);
  void InlineElement(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred);
  // The inline elements that render more than their content.
  void Span(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred);
  void Link(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred);
  void Spaces(const TLKXMLItem* C, TLine& Line);
  void Note(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred);
  // Appends document text: entities decoded (when Decode), white space
  // collapsed, escaped for the output format.
  void AppendText(TLine& Line, std::u16string_view Raw, bool Decode);
  void AppendMarkup(TLine& Line, std::u16string_view Markup, bool BreaksLine = false);
  void FlushSpace(TLine& Line) {
    if (Line.PendingSpace) Line.Text += u' ';
    Line.PendingSpace = false;
  }
  void Frame(const TLKXMLItem* N);
  void Picture(const TLKXMLItem* N);
  void Row(const TLKXMLItem* N);
  void Cell(const TLKXMLItem* N);
  // Writes the logged items from First to the end Times more times, within
  // budget.
  void Replay(size_t First, int64_t Times);
  int64_t RepeatCount(const TLKXMLItem* N, std::u16string_view Attribute) const;

  TCustomOpenOfficeDocument& D;
  TWideStrings& L;
  const TMSTextFormating F;
  WideString FPrefix;  // the citation of the note whose body comes next
  WideString FDecoded, FPlain;
  int64_t FContentLines = 0;
  int64_t FRepeatBudget;
  int FReplayDepth = 0;  // rows and cells open
  std::vector<WideString> FReplayLog;
};

WideString TOOBodyWriter::SysChar(TLKWordSysChar Kind, WideString T) {
  if (D.FOnConvertSysChar) {
    WideString r;
    D.FOnConvertSysChar(&D, Kind, T, r);
    T += r;
  }
  return T;
}

const TOOStyleText* TOOBodyWriter::TextStyle(const WideString& Name) const {
  if (F == tfPlainText || Name.empty()) return nullptr;
  return dynamic_cast<const TOOStyleText*>(D.FStyles.FindByStyleName(Name));
}

void TOOBodyWriter::Block(const TLKXMLItem* N) {
  if (Stopped() || N->Kind() != ikProperty) return;
  const TElem kind = ElemKind(N->TagName());
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
    default: return;
  }
}

void TOOBodyWriter::Enter(const TLKXMLItem* N) {
  if (Stopped() || F != tfHTML) return;
  switch (ElemKind(N->TagName())) {
    case TElem::Table: {
      WideString style;
      if (!N->FindAttribute(u"table:style-name", style)) N->FindAttribute(u"text:style-name", style);
      WideString open = u"<table border=\"1\"";
      if (!style.empty()) {
        open += u" class=\"";
        AppendEscaped(open, style, tfHTML);
        open += u"\"";
      }
      open += u">";
      Emit(open);
      return;
    }
    case TElem::List: Emit(u"<ul>"); return;
    case TElem::ListItem: Emit(u"  <li>"); return;
    default: return;
  }
}

void TOOBodyWriter::Leave(const TLKXMLItem* N) {
  if (Stopped()) return;
  switch (ElemKind(N->TagName())) {
    case TElem::Table:
      if (F == tfHTML) Emit(u"</table>");
      return;
    case TElem::List:
      if (F == tfHTML) Emit(u"</ul>");
      return;
    case TElem::ListItem:
      if (F == tfHTML) Emit(u"  </li>");
      return;
    case TElem::Page: Emit(SysChar(scEndOfPage, u"")); return;
    default: return;
  }
}

void TOOBodyWriter::Children(const TLKXMLItem* N) {
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count() && !Stopped(); ++i) Block(items[i]);
}

void TOOBodyWriter::Paragraph(const TLKXMLItem* N) {
  TLine line;
  std::vector<TDeferred> deferred;
  if (!FPrefix.empty()) {
    AppendEscaped(line.Text, FPrefix, F);
    AppendMarkup(line, F == tfRTF ? u"\\tab " : u"\t", true);
    FPrefix.clear();
  }
  const WideString style = N->AttributeValue(u"text:style-name");
  const TOOStyleText* ts = TextStyle(style);
  Inline(N, line, deferred);
  if (D.FOnConvertSysChar) {
    WideString unused;
    D.FOnConvertSysChar(&D, scUnknown, line.Text, unused);
  }
  ++FContentLines;
  WideString T;
  switch (F) {
    case tfPlainText:
      T = std::move(line.Text);
      break;
    case tfRTF: {
      WideString group;
      if (ts && ts->TextFont().Style.Contains(oofsBold)) group += u"\\b";
      if (ts && ts->TextFont().Style.Contains(oofsItalic)) group += u"\\i";
      if (ts && ts->TextFont().Style.Contains(oofsUnderline)) group += u"\\ul";
      T = group.empty() ? std::move(line.Text) : u"{" + group + u" " + line.Text + u"}";
      T += u"\\par ";
      break;
    }
    case tfHTML:
      if (style.empty()) {
        T = u"<p>";
      } else {
        T = u"<p class=\"";
        AppendEscaped(T, style, tfHTML);
        T += u"\">";
      }
      T += line.Text;
      T += u"</p>";
      break;
  }
  Emit(T);
  for (const TDeferred& d : deferred) {
    if (Stopped()) return;
    FPrefix = d.Prefix;
    Block(d.Node);
    FPrefix.clear();
  }
}

void TOOBodyWriter::AppendText(TLine& Line, std::u16string_view Raw, bool Decode) {
  if (Raw.empty()) return;
  std::u16string_view s = Raw;
  if (Decode && Raw.find(u'&') != std::u16string_view::npos) {
    FDecoded.clear();
    AppendHTMLChars(FDecoded, Raw);
    s = FDecoded;
  }
  WideString& out = F == tfPlainText ? Line.Text : FPlain;
  if (F != tfPlainText) FPlain.clear();
  for (char16_t c : s) {
    if (IsAsciiBlank(c)) {
      if (!Line.AtStart) Line.PendingSpace = true;
      continue;
    }
    if (Line.PendingSpace) {
      out += u' ';
      Line.PendingSpace = false;
    }
    out += c;
    Line.AtStart = false;
  }
  if (F != tfPlainText) AppendEscaped(Line.Text, FPlain, F);
}

void TOOBodyWriter::AppendMarkup(TLine& Line, std::u16string_view Markup, bool BreaksLine) {
  // Visible characters end a run of white space: a pending space is written
  // first, except before a line break, where it would trail the line.
  if (Line.PendingSpace && !BreaksLine) Line.Text += u' ';
  Line.PendingSpace = false;
  Line.Text.append(Markup);
  Line.AtStart = BreaksLine;
}

void TOOBodyWriter::Inline(const TLKXMLItem* N, TLine& Line, std::vector<TDeferred>& Deferred) {
  AppendText(Line, N->Value(), true);
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    switch (c->Kind()) {
      case ikAttribute:
        continue;
      case ikComment:
        break;
      case ikCDATA:
        AppendText(Line, c->Value(), false);
        break;
      case ikProperty:
        InlineElement(c, Line, Deferred);
        break;
    }
    AppendText(Line, c->Tail(), true);
  }
}

void TOOBodyWriter::InlineElement(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred) {
  const std::u16string_view tag = C->TagName();
  if (IsDrawing(tag)) {
    Deferred.push_back({C, {}});
    return;
  }
  switch (ElemKind(tag)) {
    case TElem::Span:
      Span(C, Line, Deferred);
      return;
    case TElem::Link:
      Link(C, Line, Deferred);
      return;
    case TElem::Space:
      Spaces(C, Line);
      return;
    case TElem::Tab:
      AppendMarkup(Line, F == tfRTF ? u"\\tab " : u"\t");
      return;
    case TElem::LineBreak:
      AppendMarkup(Line, F == tfRTF ? u"\\line " : F == tfHTML ? u"<br>" : u"\r\n", true);
      return;
    case TElem::Note:
      Note(C, Line, Deferred);
      return;
    case TElem::NoteBody:
    case TElem::Annotation:
    case TElem::Paragraph:
    case TElem::Table:
    case TElem::List:
      Deferred.push_back({C, {}});
      return;
    case TElem::PageNumber: {
      // Presentation masters keep "<number>" where the page number goes.
      const WideString t = C->Text();
      if (t.size() >= 2 && t.front() == u'<' && t.back() == u'>') return;
      Inline(C, Line, Deferred);
      return;
    }
    case TElem::HiddenText:
      if (D.FParseItems.Contains(wpiHiddenText)) AppendText(Line, C->AttributeValue(u"text:string-value"), false);
      return;
    case TElem::Skip:
      return;
    default:
      Inline(C, Line, Deferred);
      return;
  }
}

void TOOBodyWriter::Span(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred) {
  if (F == tfPlainText) {
    Inline(C, Line, Deferred);
    return;
  }
  const WideString style = C->AttributeValue(u"text:style-name");
  WideString open, close;
  if (F == tfHTML && !style.empty()) {
    open = u"<span class=\"";
    AppendEscaped(open, style, tfHTML);
    open += u"\">";
    close = u"</span>";
  } else if (const TOOStyleText* ts = TextStyle(style); ts && F == tfRTF) {
    const TOOFontStyles fs = ts->TextFont().Style;
    if (fs.Contains(oofsBold)) open += u"\\b";
    if (fs.Contains(oofsItalic)) open += u"\\i";
    if (fs.Contains(oofsUnderline)) open += u"\\ul";
    if (!open.empty()) {
      open = u"{" + open + u" ";
      close = u"}";
    }
  }
  // White space before a span belongs outside it.
  if (!open.empty()) FlushSpace(Line);
  Line.Text += open;
  Inline(C, Line, Deferred);
  Line.Text += close;
}

void TOOBodyWriter::Link(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred) {
  WideString href;
  if (F != tfHTML || !C->FindAttribute(u"xlink:href", href)) {
    Inline(C, Line, Deferred);
    return;
  }
  WideString open = u"<a href=\"";
  AppendEscaped(open, href, tfHTML);
  open += u"\">";
  FlushSpace(Line);
  Line.Text += open;
  Inline(C, Line, Deferred);
  Line.Text += u"</a>";
}

void TOOBodyWriter::Spaces(const TLKXMLItem* C, TLine& Line) {
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
  WideString spaces;
  for (int32_t k = 0; k < n; ++k) spaces += F == tfHTML ? u"&nbsp;" : u" ";
  AppendMarkup(Line, spaces);
}

void TOOBodyWriter::Note(const TLKXMLItem* C, TLine& Line, std::vector<TDeferred>& Deferred) {
  // The citation stays in the line; the body follows it.
  const TLKXMLItems& items = C->Items();
  WideString citation;
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* part = items[i];
    if (part->Kind() != ikProperty) continue;
    if (part->TagName() == u"text:note-citation") {
      citation = part->Text();
      AppendText(Line, citation, false);
    }
  }
  for (int i = 0; i < items.Count(); ++i)
    if (items[i]->Kind() == ikProperty && items[i]->TagName() == u"text:note-body")
      Deferred.push_back({items[i], citation});
}

void TOOBodyWriter::Frame(const TLKXMLItem* N) {
  // The elements of a frame are alternative representations of one
  // object (a table and its preview picture): the first one counts.
  const TLKXMLItems& items = N->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TLKXMLItem* c = items[i];
    if (c->Kind() != ikProperty) continue;
    switch (ElemKind(c->TagName())) {
      case TElem::TextBox: Children(c); return;
      case TElem::Image: Picture(c); return;
      case TElem::Table: Block(c); return;
      case TElem::Object: return;
      default: break;
    }
  }
  Children(N);
}

void TOOBodyWriter::Picture(const TLKXMLItem* N) {
  WideString href;
  if (!N->FindAttribute(u"xlink:href", href) || href.empty()) return;
  ++FContentLines;
  WideString result;
  if (D.FOnConvertSysChar) D.FOnConvertSysChar(&D, scIncludePicture, href, result);
  WideString T = F == tfHTML ? u"<img src=\"" : u"";
  AppendEscaped(T, href, F);
  T += result;  // the host's text goes out as it gave it
  if (F == tfRTF) T += u"\\par ";
  if (F == tfHTML) T += u"\"><br>";
  Emit(T);
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

void TOOBodyWriter::Replay(size_t First, int64_t Times) {
  if (Stopped() || Times <= 0 || First >= FReplayLog.size()) return;
  const std::vector<WideString> copy(FReplayLog.begin() + static_cast<std::ptrdiff_t>(First), FReplayLog.end());
  int64_t size = 0;
  for (const WideString& s : copy) size += static_cast<int64_t>(s.size()) + 2;
  for (int64_t k = 0; k < Times; ++k) {
    if (size > FRepeatBudget) {
      D.AddWarning("repeated cells and rows were written only as often as the output budget allows");
      FRepeatBudget = 0;
      return;
    }
    FRepeatBudget -= size;
    for (const WideString& s : copy) {
      if (Stopped()) return;
      Emit(s);
    }
  }
}

void TOOBodyWriter::Row(const TLKXMLItem* N) {
  const size_t first = FReplayLog.size();
  const int64_t before = FContentLines;
  ++FReplayDepth;
  if (F == tfHTML) Emit(u"  <tr>");
  Children(N);
  if (!Stopped()) {
    Emit(SysChar(scRowEnd, F == tfHTML ? u"  </tr>" : u""));
    // Empty rows, however often repeated, are written once.
    if (FContentLines != before) Replay(first, RepeatCount(N, u"table:number-rows-repeated") - 1);
  }
  if (--FReplayDepth == 0) FReplayLog.clear();
}

void TOOBodyWriter::Cell(const TLKXMLItem* N) {
  const size_t first = FReplayLog.size();
  const int64_t before = FContentLines;
  ++FReplayDepth;
  if (F == tfHTML) Emit(u"    <td>");
  bool hasElements = false;
  for (int i = 0; i < N->Items().Count() && !hasElements; ++i) hasElements = N->Items()[i]->Kind() == ikProperty;
  if (hasElements) {
    Children(N);
  } else {
    // Writers other than office suites may give only the value.
    for (const char16_t* name : {u"office:string-value", u"office:value", u"office:date-value",
                                 u"office:time-value", u"office:boolean-value"}) {
      WideString v;
      if (N->FindAttribute(name, v) && !v.empty()) {
        ++FContentLines;
        WideString T = F == tfHTML ? u"<p>" : u"";
        AppendEscaped(T, v, F);
        T += F == tfRTF ? u"\\par " : F == tfHTML ? u"</p>" : u"";
        Emit(T);
        break;
      }
    }
  }
  if (!Stopped()) {
    Emit(SysChar(scColumnEnd, F == tfHTML ? u"    </td>" : u""));
    if (FContentLines != before) Replay(first, RepeatCount(N, u"table:number-columns-repeated") - 1);
  }
  if (--FReplayDepth == 0) FReplayLog.clear();
}

// ---------------------------------------------------------------------------

void TCustomOpenOfficeDocument::LoadXMLFilePart(TStream& S, TWideStrings& L) {
  const int64_t size = S.Size() - S.Position();
  if (size > FMaxDecompressedSize) throw ELimitError("content part larger than the decompression limit");
  LoadXMLBytes(size > 0 ? S.ReadBytes(size) : RawByteString(), L);
}

// Renders the body while the engine parses it. A block is rendered when it
// closes, if every element between it and the content element renders as a
// container; it is then freed, so the tree holds about one block. The
// containers on the way are opened (Enter) when their first block is
// rendered and closed (Leave) when they close. Formatted output needs the
// automatic styles before the first block: a document that has none by then
// is rendered from the whole tree after the parse, as is one whose body never
// gave a block.
class TOOBodyStreamer {
 public:
  TOOBodyStreamer(TCustomOpenOfficeDocument& D, TWideStrings& L, TLKXMLEngine& E, TOOBodyWriter& W,
                  const WideString& BodyTag, const WideString& TextTag, bool Plain)
      : D(D), L(L), E(E), W(W), FBodyTag(BodyTag), FTextTag(TextTag), FPlain(Plain) {}

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
  TWideStrings& L;
  TLKXMLEngine& E;
  TOOBodyWriter& W;
  const WideString& FBodyTag;
  const WideString& FTextTag;
  const bool FPlain;
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
    const TBlockRole r = BlockRole(ElemKind(n->TagName()));
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
  if (!FPlain) {
    if (!styles) {
      FMode = TMode::Whole;
      return false;
    }
    D.ReadStyles(styles);
    if (D.TextFormating() == tfHTML) D.AddStyleBlock(L);
  }
  if (styles) {
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
  // Master pages often repeat the same header (first, left and right
  // pages, or one page style per chapter); each text is kept once.
  std::vector<WideString> seen;
  const TLKXMLItems& pages = masters->Items();
  for (int i = 0; i < pages.Count() && !IsCancelExtract; ++i) {
    const TLKXMLItems& parts = pages[i]->Items();
    for (int k = 0; k < parts.Count(); ++k) {
      const std::u16string_view tag = parts[k]->TagName();
      const bool header = tag.starts_with(u"style:header");
      if (!header && !tag.starts_with(u"style:footer")) continue;
      TWideStrings one;
      TOOBodyWriter writer(*this, one, budget);
      writer.Children(parts[k]);
      const WideString text = one.Text();
      if (text.find_first_not_of(u" \t\r\n") == WideString::npos ||
          std::find(seen.begin(), seen.end(), text) != seen.end())
        continue;
      seen.push_back(text);
      for (const WideString& item : one.Items()) AddText(item, header ? FHeaderText : FFooterText);
    }
  }
}

void TCustomOpenOfficeDocument::AddStyleBlock(TWideStrings& L) {
  AddText(u"<style type=\"text/css\">", L);
  for (int i = 0; i < FStyles.Count(); ++i) AddText(FStyles.GetStyle(i)->CSSRule(), L);
  AddText(u"</style>", L);
}

void TCustomOpenOfficeDocument::LoadXMLBytes(RawByteString Bytes, TWideStrings& L) {
  LoadXML(static_cast<int64_t>(Bytes.size()), [&](TLKXMLEngine& E) { E.LoadFromBytesInPieces(Bytes); }, L);
}

void TCustomOpenOfficeDocument::LoadXMLSource(TPartSource& Source, int64_t Size, TWideStrings& L) {
  LoadXML(
      Size,
      [&](TLKXMLEngine& E) {
        E.LoadFromSourceInPieces([&](std::string& Into) {
          if (!Source.More(Source.Data().size(), 0)) return false;
          Into.append(Source.Data());
          return true;
        });
      },
      L);
}

void TCustomOpenOfficeDocument::LoadXML(int64_t Size, const std::function<void(TLKXMLEngine&)>& Parse,
                                        TWideStrings& L) {
  const int64_t budget = RepeatBudget(Size, FMaxDecompressedSize);
  const size_t warningsBefore = FWarnings.size();
  TOOBodyWriter writer(*this, L, budget);
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  TOOBodyStreamer streamer(*this, L, engine, writer, FXMLTagRoot, FXMLTagText, FTextFormating == tfPlainText);
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
  if (FTextFormating != tfPlainText) {
    if (TLKXMLItem* styles = engine.GetItemByTag(nullptr, u"office:automatic-styles")) {
      ReadStyles(styles);
      if (FTextFormating == tfHTML) AddStyleBlock(L);
    }
  }
  TLKXMLItem* root = engine.GetItemByTag(nullptr, FXMLTagRoot);
  TLKXMLItem* text = root ? engine.GetItemByTag(root, FXMLTagText) : nullptr;
  if (text) writer.Block(text);
}

}  // namespace lkw
