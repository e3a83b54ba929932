#include "lkword/framework/MarkdownRenderer.h"

#include <algorithm>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/TextRenderer.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// Repeated rows and cells of spreadsheets are copied out within this many
// UTF-16 units per document; beyond it they are written once.
constexpr int64_t kRepeatBudget = int64_t{64} << 20;
// Markdown has six heading levels; deeper ones are written as the sixth.
constexpr int kMaxHeadingLevel = 6;
// CommonMark's ordered-list markers have at most nine digits.
constexpr size_t kMaxOrderedDigits = 9;
// A note's own mark is its footnote label up to this length.
constexpr size_t kMaxMarkLabel = 16;
// Continuation lines of a footnote are indented so.
constexpr std::u16string_view kNoteIndent = u"    ";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool IsWordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c > 0x7F;
}

// "12." or "3)": a label CommonMark can take as an ordered list's marker.
bool IsOrderedMarker(std::u16string_view Label) {
  if (Label.size() < 2 || Label.size() > kMaxOrderedDigits + 1) return false;
  const char16_t end = Label.back();
  if (end != u'.' && end != u')') return false;
  return std::all_of(Label.begin(), Label.end() - 1, IsAsciiDigit<char16_t>);
}

// A label that is a mark, not a number: written as the bullet list marker.
// Punctuation, arrows, shapes, dingbats and private-use symbols: what
// bullets are drawn with. Number forms and enclosed numbers count.
bool IsMarkChar(char16_t c) {
  if (c < 0x80) return !IsWordChar(c);
  return c == 0xB7 || (c >= 0x2000 && c <= 0x214F) || (c >= 0x2190 && c <= 0x245F) || (c >= 0x2500 && c <= 0x2BFF) ||
         (c >= 0xE000 && c <= 0xF8FF);
}

bool IsBulletLabel(std::u16string_view Label) {
  // "o" is the hollow bullet of fonts that draw it as a letter.
  return Label == u"o" || std::all_of(Label.begin(), Label.end(), IsMarkChar);
}

std::u16string_view Trim(std::u16string_view S) {
  while (!S.empty() && IsBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsBlank(S.back())) S.remove_suffix(1);
  return S;
}

void AppendEscapedTarget(WideString& Out, std::u16string_view Target) {
  Out += u'<';
  for (char16_t c : Target) {
    if (c == u'\r' || c == u'\n') continue;
    if (c == u'<' || c == u'>' || c == u'\\') Out += u'\\';
    Out += c;
  }
  Out += u'>';
}

}  // namespace

void AppendMarkdownEscaped(WideString& Out, std::u16string_view Text, bool AtLineStart) {
  if (AtLineStart && !Text.empty()) {
    const char16_t c = Text.front();
    size_t run = 1;
    while (run < Text.size() && Text[run] == c) ++run;
    const bool ends = run == Text.size() || IsBlank(Text[run]);
    const bool only = Text.find_first_not_of(std::u16string({c, u' ', u'\t'})) == std::u16string_view::npos;
    // Headings, bullets, thematic breaks and setext underlines open only so.
    if ((c == u'#' && run <= 6 && ends) || ((c == u'+' || c == u'-') && (ends || only)) || (c == u'=' && only)) {
      Out += u'\\';
    } else if (IsAsciiDigit(c)) {
      // "1. " or "1) " would open an ordered list.
      size_t n = 0;
      while (n < Text.size() && IsAsciiDigit(Text[n])) ++n;
      if (n <= kMaxOrderedDigits && n < Text.size() && (Text[n] == u'.' || Text[n] == u')') &&
          (n + 1 == Text.size() || IsBlank(Text[n + 1]))) {
        Out.append(Text.substr(0, n));
        Out += u'\\';
        Text.remove_prefix(n);
      }
    }
  }
  if (AtLineStart && !Text.empty() && Text.front() == u'>') Out += u'\\';
  const auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  for (size_t i = 0; i < Text.size(); ++i) {
    const char16_t c = Text[i];
    const char16_t next = i + 1 < Text.size() ? Text[i + 1] : 0;
    switch (c) {
      case u'\\': case u'`': case u'*': case u'[': case u']': case u'|': case u'~':
        Out += u'\\';
        break;
      case u'_':
        // Inside a word it cannot open or close emphasis.
        if (i == 0 || !IsWordChar(Text[i - 1]) || !IsWordChar(next)) Out += u'\\';
        break;
      case u'<':
        // Only where a tag, a comment or an autolink could begin.
        if (letter(next) || next == u'/' || next == u'!' || next == u'?') Out += u'\\';
        break;
      case u'&':
        // Only where an entity could begin.
        if (letter(next) || next == u'#') Out += u'\\';
        break;
      case u'\r': case 0: case kSoftHyphenChar:
        continue;
      default:
        break;
    }
    Out += c;
  }
}

TMarkdownRenderer::TMarkdownRenderer(TMSWBaseDocument& Doc, TTextPath& Path, const TTextRenderer& Reader)
    : FDoc(Doc), FPath(Path), FReader(Reader), FRepeatBudget(kRepeatBudget) {}

void TMarkdownRenderer::CloseBlocks() {
  CloseImplicitParagraph();
  if (FInParagraph) EndParagraph();
  if (FTableDepth > 0) {
    FTableDepth = 0;
    FlushTable();
  }
}

void TMarkdownRenderer::EndDocument() {
  EndNotes();
  CloseBlocks();
  WriteNotes();
}

bool TMarkdownRenderer::WritesNotes(TStoryKind Kind) const {
  return (Kind == TStoryKind::Footnote || Kind == TStoryKind::Endnote) &&
         (!FReader.KeepsApart(Kind) || FDoc.NotesInText());
}

TMarkdownRenderer::TBlockState TMarkdownRenderer::TakeBlockState() {
  TBlockState s{FBlocks, std::move(FListIndents), std::move(FItemMarked), FLastItemKind, FLastItemLevel,
                FTableDepth, std::move(FTable)};
  FBlocks = 0;
  FListIndents.clear();
  FItemMarked.clear();
  FLastItemKind = 0;
  FLastItemLevel = 0;
  FTableDepth = 0;
  FTable.clear();
  return s;
}

void TMarkdownRenderer::BeginStory(TStoryKind Kind) {
  CloseImplicitParagraph();
  EndNotes();
  FStory = Kind;
  FSkipStory = false;
  if (WritesNotes(Kind)) {
    FTextState = TakeBlockState();
    FInNotes = true;
    FNoteStory = Kind;
    FStoryNotes = FNotes.size();
    // What comes before the first note's beginning is a note of no mark.
    FNotes.emplace_back();
    FNotes.back().Kind = Kind;
    return;
  }
  FSkipStory = FReader.KeepsApart(Kind);
}

void TMarkdownRenderer::EndStory(TStoryKind) {
  CloseImplicitParagraph();
  EndNotes();
  FStory = TStoryKind::Main;
  FSkipStory = false;
}

void TMarkdownRenderer::EndNotes() {
  if (!FInNotes) return;
  CloseBlocks();
  FInNotes = false;
  TBlockState& s = FTextState;
  FBlocks = s.Blocks;
  FListIndents = std::move(s.ListIndents);
  FItemMarked = std::move(s.ItemMarked);
  FLastItemKind = s.LastItemKind;
  FLastItemLevel = s.LastItemLevel;
  FTableDepth = s.TableDepth;
  FTable = std::move(s.Table);
  s = TBlockState();
}

void TMarkdownRenderer::BeginNote(TStoryKind Kind, std::u16string_view Mark) {
  if (!FInNotes) return;
  CloseBlocks();
  TakeBlockState();
  TNote note;
  note.Kind = Kind;
  note.Mark = Mark;
  const auto it = FReferences.find({Kind, note.Mark});
  if (it != FReferences.end() && it->second.Taken < it->second.Labels.size())
    note.Label = it->second.Labels[it->second.Taken++];
  FNotes.push_back(std::move(note));
}

WideString TMarkdownRenderer::NewLabel(std::u16string_view Mark) {
  // The document's own mark where it can be a label, so that the text reads
  // as the page does; numbered on where it repeats.
  const bool own = !Mark.empty() && Mark.size() <= kMaxMarkLabel &&
                   std::all_of(Mark.begin(), Mark.end(), IsAsciiAlnum<char16_t>);
  WideString label = own ? WideString(Mark) : WideString(u"note");
  const int64_t uses = ++FLabelUses[label];
  if (!own || uses > 1) label += u"-" + AsciiToWide(std::to_string(uses));
  return label;
}

void TMarkdownRenderer::NoteReference(TStoryKind Kind, std::u16string_view Mark, const TRunStyle& Style) {
  if (Skipping()) return;
  if (FInNotes) {
    TNote& note = FNotes.back();
    // The note's own mark is its label's to show.
    if (!note.OwnMarkSeen && note.Mark == Mark) {
      note.OwnMarkSeen = true;
      return;
    }
    Text(Mark, Style);
    return;
  }
  // Footnotes belong to the text, not to its headers or comments.
  if (FStory != TStoryKind::Main || !WritesNotes(Kind)) {
    Text(Mark, Style);
    return;
  }
  WideString label = NewLabel(Mark);
  Add(u"[^" + label + u"]", kMarkup);
  FReferences[{Kind, WideString(Mark)}].Labels.push_back(std::move(label));
}

void TMarkdownRenderer::Put(WideString Line) {
  if (!FInNotes) {
    FPath.Add(std::move(Line));
    return;
  }
  // Held until the text ends; no more than the text may hold.
  FNoteChars += static_cast<int64_t>(Line.size()) + 1;
  if (FDoc.MaxTextLength() > 0 && FNoteChars > FDoc.MaxTextLength()) return;
  FNotes.back().Lines.push_back(std::move(Line));
}

void TMarkdownRenderer::WriteNotes() {
  for (TNote& note : FNotes) {
    if (note.Lines.empty() || FPath.Cancelled()) continue;
    WideString block;
    if (!note.Label.empty()) block = u"[^" + note.Label + u"]: ";
    for (size_t i = 0; i < note.Lines.size(); ++i) {
      const WideString& line = note.Lines[i];
      if (i > 0) block += u'\n';
      for (size_t at = 0; at <= line.size();) {
        size_t nl = line.find(u'\n', at);
        if (nl == WideString::npos) nl = line.size();
        // A footnote's lines after its first are indented under it; a note
        // no reference showed stays a run of blocks of the text.
        if (!note.Label.empty() && (i > 0 || at > 0) && nl > at) block += kNoteIndent;
        block.append(line, at, nl - at);
        if (nl < line.size()) block += u'\n';
        at = nl + 1;
      }
    }
    EmitBlock(std::move(block));
  }
  FNotes.clear();
}

void TMarkdownRenderer::OpenImplicitParagraph() {
  if (FInParagraph) return;
  BeginParagraph(TParagraph());
  FImplicit = true;
}

void TMarkdownRenderer::CloseImplicitParagraph() {
  if (FImplicit) EndParagraph();
}

void TMarkdownRenderer::BeginParagraph(const TParagraph& P) {
  if (Skipping()) return;
  CloseImplicitParagraph();
  FInParagraph = true;
  FImplicit = false;
  FParagraph = P;
  FRuns.clear();
  FLinks.clear();
  FLink = -1;
}

void TMarkdownRenderer::Add(std::u16string_view Raw, uint8_t Marks) {
  if (Skipping() || Raw.empty()) return;
  OpenImplicitParagraph();
  if (FStrike > 0 && !(Marks & kMarkup)) Marks |= kStrike;
  if (!FRuns.empty() && FRuns.back().Marks == Marks && FRuns.back().Link == FLink) {
    FRuns.back().Text += Raw;
    return;
  }
  FRuns.push_back({Marks, FLink, WideString(Raw)});
}

void TMarkdownRenderer::Text(std::u16string_view Run, const TRunStyle& Style) {
  uint8_t marks = 0;
  const bool heading = FParagraph.Kind == TParagraphKind::Heading || FParagraph.Kind == TParagraphKind::Title;
  if (!heading && (Style.Bold || FParagraph.Bold)) marks |= kBold;
  if (Style.Italic || FParagraph.Italic) marks |= kItalic;
  if (Style.Strike) marks |= kStrike;
  Add(Run, marks);
}

void TMarkdownRenderer::LineBreak() {
  if (FInParagraph) Add(u"\n", 0);
}

void TMarkdownRenderer::SoftBreak() {
  if (FInParagraph) Add(u"\n", kSoft);
}

void TMarkdownRenderer::Tab() { Add(u"\t", 0); }

void TMarkdownRenderer::AlignedTab(TAlignment) { Add(u"\t", 0); }

void TMarkdownRenderer::Spaces(int Count) { Add(WideString(static_cast<size_t>(std::clamp(Count, 0, 256)), u' '), 0); }

void TMarkdownRenderer::BeginLink(std::u16string_view Target) {
  if (Skipping() || Target.empty()) return;
  FLinks.emplace_back(Target);
  FLink = static_cast<int>(FLinks.size()) - 1;
}

void TMarkdownRenderer::EndLink() { FLink = -1; }

void TMarkdownRenderer::BeginRevision(TRevisionKind Kind) {
  if (Kind == TRevisionKind::Deleted) ++FStrike;
}

void TMarkdownRenderer::EndRevision(TRevisionKind Kind) {
  if (Kind == TRevisionKind::Deleted && FStrike > 0) --FStrike;
}

WideString TMarkdownRenderer::RenderInline(std::u16string_view Break, bool Escaped, bool OneLine) {
  // Split into lines first: emphasis and links close at a line's end, and
  // each line's start is escaped on its own.
  struct TPiece {
    uint8_t Marks;
    int Link;
    std::u16string_view Text;
  };
  std::vector<std::vector<TPiece>> lines(1);
  std::vector<bool> soft(1, false);  // whether a line follows a soft break
  for (const TRun& r : FRuns) {
    std::u16string_view t = r.Text;
    for (size_t nl; (nl = t.find(u'\n')) != std::u16string_view::npos; t.remove_prefix(nl + 1)) {
      if (nl > 0) lines.back().push_back({r.Marks, r.Link, t.substr(0, nl)});
      lines.emplace_back();
      soft.push_back((r.Marks & kSoft) != 0);
    }
    if (!t.empty()) lines.back().push_back({r.Marks, r.Link, t});
  }

  WideString out;
  bool first = true;
  for (size_t n = 0; n < lines.size(); ++n) {
    std::vector<TPiece>& line = lines[n];
    // Blanks at a line's ends would make code blocks or hard breaks; code
    // keeps its lines as they are.
    while (Escaped && !line.empty()) {
      line.front().Text = std::u16string_view(line.front().Text).substr(
          std::min(line.front().Text.find_first_not_of(u" \t"), line.front().Text.size()));
      if (!line.front().Text.empty()) break;
      line.erase(line.begin());
    }
    while (Escaped && !line.empty()) {
      const size_t end = line.back().Text.find_last_not_of(u" \t");
      line.back().Text = line.back().Text.substr(0, end == std::u16string_view::npos ? 0 : end + 1);
      if (!line.back().Text.empty()) break;
      line.pop_back();
    }
    if (Escaped && line.empty()) continue;
    // A soft break is a line end in the Markdown's paragraphs, a space in
    // its cells.
    if (!first) out += OneLine || (soft[n] && Break != u"\\\n") ? u" " : soft[n] ? u"\n" : Break;
    first = false;
    // A heading's line holds inline content only: no block can open in it.
    bool atStart = !OneLine;
    for (size_t i = 0; i < line.size();) {
      if (Escaped && (line[i].Marks & kMarkup)) {
        out += line[i].Text;
        atStart = false;
        ++i;
        continue;
      }
      // One link, or one run of the same emphasis, at a time.
      size_t j = i + 1;
      if (line[i].Link >= 0)
        while (j < line.size() && line[j].Link == line[i].Link) ++j;
      WideString raw;
      for (size_t k = i; k < j; ++k) raw += line[k].Text;
      const uint8_t marks = line[i].Link >= 0 ? 0 : line[i].Marks;
      std::u16string_view core = raw;
      const size_t lead = core.find_first_not_of(u" \t");
      if (lead == std::u16string_view::npos) {
        out += raw;
        i = j;
        continue;
      }
      out.append(core.substr(0, lead));
      core.remove_prefix(lead);
      const size_t trail = core.find_last_not_of(u" \t") + 1;
      const std::u16string_view after = core.substr(trail);
      core = core.substr(0, trail);
      if (!Escaped) {
        out += core;
      } else if (line[i].Link >= 0) {
        out += u'[';
        AppendMarkdownEscaped(out, core, false);
        out += u"](";
        AppendEscapedTarget(out, FLinks[static_cast<size_t>(line[i].Link)]);
        out += u')';
      } else {
        const std::u16string_view open = (marks & kBold) && (marks & kItalic) ? u"***"
                                         : (marks & kBold)                    ? u"**"
                                         : (marks & kItalic)                  ? u"*"
                                                                              : u"";
        if (marks & kStrike) out += u"~~";
        out += open;
        AppendMarkdownEscaped(out, core, atStart && open.empty() && !(marks & kStrike));
        out += open;
        if (marks & kStrike) out += u"~~";
      }
      out.append(after);
      atStart = false;
      i = j;
    }
  }
  return out;
}

void TMarkdownRenderer::EndParagraph() {
  if (Skipping() || !FInParagraph) return;
  FInParagraph = false;
  FImplicit = false;
  const TParagraph& p = FParagraph;
  const bool labelled = !p.Label.empty() && (p.Kind == TParagraphKind::ListItem || p.Kind == TParagraphKind::Heading);

  if (FTableDepth > 0) {
    // Cells hold inline content only: their paragraphs join with <br>.
    if (FTable.empty() || FTable.back().Cells.empty()) return;
    WideString& cell = FTable.back().Cells.back().Text;
    WideString text;
    if (labelled) {
      AppendMarkdownEscaped(text, p.Label, false);
      text += u' ';
    }
    text += RenderInline(u"<br>", true, false);
    if (Trim(text).empty()) return;
    if (!cell.empty()) cell += u"<br>";
    cell += text;
    return;
  }

  switch (p.Kind) {
    case TParagraphKind::Preformatted: {
      WideString body = RenderInline(u"\n", false, false);
      if (body.empty()) return;
      // A fence longer than any run of backticks inside.
      size_t run = 0, longest = 0;
      for (char16_t c : body) {
        run = c == u'`' ? run + 1 : 0;
        longest = std::max(longest, run);
      }
      const WideString fence(std::max<size_t>(3, longest + 1), u'`');
      FListIndents.clear();
      EmitBlock(fence + u"\n" + body + u"\n" + fence);
      return;
    }
    case TParagraphKind::Title:
    case TParagraphKind::Heading: {
      WideString text;
      if (labelled) {
        AppendMarkdownEscaped(text, p.Label, false);
        text += u' ';
      }
      text += RenderInline(u" ", true, true);
      if (Trim(text).empty()) return;
      // A closing run of # would be taken as the heading's end marker.
      const size_t hashes = text.find_last_not_of(u'#');
      if (hashes != text.size() - 1) {
        const size_t at = hashes == WideString::npos ? 0 : hashes + 1;
        text = text.substr(0, at) + u'\\' + text.substr(at);
      }
      const int level = p.Kind == TParagraphKind::Title ? 1 : std::clamp(p.Level, 1, kMaxHeadingLevel);
      FListIndents.clear();
      EmitBlock(WideString(static_cast<size_t>(level), u'#') + u" " + text);
      return;
    }
    case TParagraphKind::ListItem: {
      if (!p.Label.empty() || FItemMarked.empty() || !FItemMarked.back()) {
        EmitListItem(labelled ? p.Label : WideString());
        return;
      }
      break;  // more paragraphs of the item
    }
    case TParagraphKind::Body:
      break;
  }

  WideString text;
  if (FInNotes && !FNotes.back().OwnMarkSeen && p.Label == FNotes.back().Mark) {
    // The note's citation, which its footnote label shows.
    FNotes.back().OwnMarkSeen = true;
  } else if (!p.Label.empty()) {
    // A note's citation at the start of its text.
    AppendMarkdownEscaped(text, p.Label, true);
    text += u' ';
  }
  text += RenderInline(u"\\\n", true, false);
  if (Trim(text).empty()) return;
  if (!FItemMarked.empty() && !FListIndents.empty()) {
    // More paragraphs of the open list item.
    const size_t level = std::min(FItemMarked.size(), FListIndents.size());
    const WideString pad(static_cast<size_t>(FListIndents[level - 1]), u' ');
    for (size_t nl = 0; (nl = text.find(u'\n', nl)) != WideString::npos; nl += pad.size() + 1)
      text.insert(nl + 1, pad);
    EmitBlock(pad + text);
    return;
  }
  FListIndents.clear();
  EmitBlock(std::move(text));
}

void TMarkdownRenderer::EmitListItem(const WideString& Label) {
  WideString text;
  const bool ordered = IsOrderedMarker(Label);
  const WideString marker = ordered ? Label : WideString(u"-");
  if (!ordered && !IsBulletLabel(Label)) {
    AppendMarkdownEscaped(text, Label, true);
    text += u' ';
  }
  text += RenderInline(u"\\\n", true, false);
  // Items nest by level; a level more than one below the open ones nests
  // one below.
  const size_t level = static_cast<size_t>(std::clamp(FParagraph.Level, 1, 9));
  FListIndents.resize(std::min(FListIndents.size(), level - 1));
  const int indent = FListIndents.empty() ? 0 : FListIndents.back();
  const int content = indent + static_cast<int>(marker.size()) + 1;
  FListIndents.push_back(content);
  if (!FItemMarked.empty()) FItemMarked.back() = true;
  WideString block(static_cast<size_t>(indent), u' ');
  block += marker;
  if (!text.empty()) block += u' ';
  // Continuation lines stay inside the item.
  const WideString pad(static_cast<size_t>(content), u' ');
  for (size_t nl = 0; (nl = text.find(u'\n', nl)) != WideString::npos; nl += pad.size() + 1) text.insert(nl + 1, pad);
  block += text;
  // Items follow one another without a blank line (a tight list) where
  // CommonMark keeps them one list: the same kind of marker at the same
  // level, or a sublist that may interrupt its item's text.
  const char16_t kind = ordered ? marker.back() : u'-';
  const bool tight = FLastItemKind != 0 &&
                     ((level == FLastItemLevel && kind == FLastItemKind) ||
                      (level > FLastItemLevel && (!ordered || (marker.size() == 2 && marker[0] == u'1'))));
  if (tight) {
    Put(std::move(block));
    ++FBlocks;
  } else {
    EmitBlock(std::move(block));
  }
  FLastItemKind = kind;
  FLastItemLevel = level;
}

void TMarkdownRenderer::EmitBlock(WideString Block) {
  FLastItemKind = 0;
  if (FBlocks++ > 0) Put(WideString());
  Put(std::move(Block));
}

void TMarkdownRenderer::BeginListItem() {
  if (!Skipping()) FItemMarked.push_back(false);
}

void TMarkdownRenderer::EndListItem() {
  if (!Skipping() && !FItemMarked.empty()) FItemMarked.pop_back();
}

void TMarkdownRenderer::EndList() {
  if (!Skipping() && FItemMarked.empty()) FListIndents.clear();
}

void TMarkdownRenderer::BeginTable() {
  if (Skipping()) return;
  CloseImplicitParagraph();
  if (FTableDepth++ == 0) FTable.clear();
}

void TMarkdownRenderer::EndTable() {
  if (Skipping() || FTableDepth == 0) return;
  if (--FTableDepth == 0) FlushTable();
}

void TMarkdownRenderer::BeginRow() {
  // A nested table's rows go on in the cell of the outer one.
  if (Skipping() || FTableDepth != 1) return;
  FTable.emplace_back();
}

void TMarkdownRenderer::EndRow() {}

void TMarkdownRenderer::BeginCell() {
  if (Skipping() || FTableDepth != 1) return;
  if (FTable.empty()) FTable.emplace_back();
  FTable.back().Cells.emplace_back();
}

void TMarkdownRenderer::EndCell() {}

void TMarkdownRenderer::Repeated(int64_t Times) {
  if (Skipping() || FTableDepth != 1 || FTable.empty() || Times < 1) return;
  // Told right after the row or cell it repeats.
  TRow& row = FTable.back();
  if (row.Cells.empty())
    row.Times = Times;
  else
    row.Cells.back().Times = Times;
}

void TMarkdownRenderer::FlushTable() {
  // Empty cells and rows, however often repeated, count once; those at the
  // ends of rows and of the table are dropped.
  std::vector<std::vector<const WideString*>> rows;
  const WideString empty;
  for (TRow& r : FTable) {
    std::vector<const WideString*> cells;
    for (const TCell& c : r.Cells) {
      int64_t times = c.Text.empty() ? 1 : c.Times;
      const auto cost = static_cast<int64_t>(c.Text.size()) + 3;
      if (times > 1 && cost * (times - 1) > FRepeatBudget) {
        FDoc.AddWarning("repeated cells and rows were written only as often as the output budget allows");
        times = 1;
      }
      FRepeatBudget -= cost * (times - 1);
      for (int64_t k = 0; k < times; ++k) cells.push_back(&c.Text);
    }
    while (!cells.empty() && cells.back()->empty()) cells.pop_back();
    int64_t times = cells.empty() ? 1 : r.Times;
    int64_t cost = 0;
    for (const WideString* c : cells) cost += static_cast<int64_t>(c->size()) + 3;
    if (times > 1 && cost * (times - 1) > FRepeatBudget) {
      FDoc.AddWarning("repeated cells and rows were written only as often as the output budget allows");
      times = 1;
    }
    FRepeatBudget -= cost * (times - 1);
    for (int64_t k = 0; k < times; ++k) rows.push_back(cells);
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  if (rows.empty()) {
    FTable.clear();
    return;
  }
  size_t columns = 1;
  for (const auto& r : rows) columns = std::max(columns, r.size());

  FListIndents.clear();
  FLastItemKind = 0;
  if (FBlocks++ > 0) Put(WideString());
  auto line = [&](const std::vector<const WideString*>& Cells) {
    WideString s = u"|";
    for (size_t c = 0; c < columns; ++c) {
      s += u' ';
      s += c < Cells.size() ? *Cells[c] : empty;
      s += u" |";
    }
    Put(std::move(s));
  };
  line(rows.front());
  WideString rule = u"|";
  for (size_t c = 0; c < columns; ++c) rule += u" --- |";
  Put(std::move(rule));
  for (size_t r = 1; r < rows.size() && !FPath.Cancelled(); ++r) line(rows[r]);
  FTable.clear();
}

void TMarkdownRenderer::BeginPage(int Number) {
  if (Skipping() || Number <= 1) return;
  CloseImplicitParagraph();
  FListIndents.clear();
  EmitBlock(u"<!-- page " + AsciiToWide(std::to_string(Number)) + u" -->");
}

void TMarkdownRenderer::RolledBack() {
  FInParagraph = false;
  FImplicit = false;
  FRuns.clear();
  FLinks.clear();
  FLink = -1;
  FStrike = 0;
  FListIndents.clear();
  FItemMarked.clear();
  FLastItemKind = 0;
  FTableDepth = 0;
  FTable.clear();
  // Readers take back a whole part: the notes of the story it held, or the
  // text with every reference in it.
  if (FInNotes) {
    FNotes.resize(FStoryNotes);
    FNotes.emplace_back();
    FNotes.back().Kind = FNoteStory;
  } else {
    FReferences.clear();
    FLabelUses.clear();
  }
}

}  // namespace lkw
