#include "lkword/framework/OpenDocumentRenderer.h"

#include <algorithm>
#include <string>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

TOpenDocumentRenderer::TOpenDocumentRenderer(TMSWBaseDocument& Doc, TTextPath& Path)
    : TTextRenderer(Doc, Path), FFormat(Doc.ReaderFormating()) {}

TOpenDocumentRenderer::~TOpenDocumentRenderer() = default;

void TOpenDocumentRenderer::Emit(WideString T) {
  if (FReplaying > 0) FReplayLog.push_back(T);
  Path().Add(std::move(T));
}

WideString TOpenDocumentRenderer::SysChar(TLKWordSysChar Kind, WideString T) {
  WideString r;
  if (ConvertSysChar(Kind, T, r)) T += r;
  return T;
}

namespace {

// A style or family name written into CSS: characters outside a plain
// identifier are hex-escaped, so no name can end the style block.
void AppendCSSIdent(WideString& Out, std::u16string_view Name) {
  static const char16_t* const kHex = u"0123456789abcdef";
  for (char16_t c : Name) {
    if (IsAsciiAlnum(c) || c == u'_' || c == u'-' || c >= 0x80) {
      Out += c;
    } else {
      Out += u'\\';
      Out += kHex[(c >> 4) & 0xF];
      Out += kHex[c & 0xF];
      Out += u' ';
    }
  }
}

// "#RRGGBB" of a 0x00BBGGRR colour.
void AppendCSSColor(WideString& Out, uint32_t Color) {
  static const char16_t* const kHex = u"0123456789ABCDEF";
  Out += u'#';
  for (int shift : {0, 8, 16}) {
    const uint32_t b = (Color >> shift) & 0xFF;
    Out += kHex[b >> 4];
    Out += kHex[b & 0xF];
  }
}

// One rule, CR LF inside.
WideString CSSRule(const TOpenDocumentStyle& S) {
  WideString r = u".";
  AppendCSSIdent(r, S.Name);
  r += u" { font-family: ";
  AppendCSSIdent(r, S.Family);
  r += u";";
  if (S.HasLook) {
    r += u"\r\nfont-size: " + AsciiToWide(std::to_string(S.FontSize)) + u"pt;color: ";
    AppendCSSColor(r, S.Color);
    r += u";\r\nbackground: ";
    AppendCSSColor(r, S.Background);
    r += u";\r\ntext-align: ";
    r += S.Alignment == TAlignment::Right ? u"right" : S.Alignment == TAlignment::Center ? u"center" : u"left";
    r += u";";
    if (S.Bold) r += u"\r\nfont-weight: bold;";
    if (S.Italic) r += u"\r\nfont-style: italic;";
    if (S.Underline) r += u"\r\ntext-decoration: underline;";
  }
  r += u"}";
  return r;
}

}  // namespace

void TOpenDocumentRenderer::StyleSheet(int Count, const std::function<TOpenDocumentStyle(int)>& Style) {
  if (FFormat != tfHTML) return;
  Path().Add(u"<style type=\"text/css\">");
  for (int i = 0; i < Count; ++i) Path().Add(CSSRule(Style(i)));
  Path().Add(u"</style>");
}

// The frame closes with the body, before the headers and footers, which the
// reader finds after it.
void TOpenDocumentRenderer::CloseFrame() {
  if (FFrameClosed) return;
  FFrameClosed = true;
  Path().AddFinish(Doc().GetTextFinish(), true);
}

void TOpenDocumentRenderer::EndDocument() { CloseFrame(); }

void TOpenDocumentRenderer::BeginStory(TStoryKind Kind) {
  // Notes and comments stay where they stand in the body.
  if (Kind != TStoryKind::Header && Kind != TStoryKind::Footer) return;
  CloseFrame();
  FStoryText.Clear();
  FStoryRedirect = std::make_unique<TTextPath::TRedirect>(Path(), FStoryText);
}

void TOpenDocumentRenderer::EndStory(TStoryKind Kind) {
  if (!FStoryRedirect || (Kind != TStoryKind::Header && Kind != TStoryKind::Footer)) return;
  FStoryRedirect.reset();
  // Master pages often repeat the same header (first, left and right pages,
  // or one page style per chapter): each text is kept once.
  const WideString text = FStoryText.Text();
  if (text.find_first_not_of(u" \t\r\n") == WideString::npos || !FStoriesSeen.insert(text).second) return;
  TWideStrings* target = Kind == TStoryKind::Header ? FHeaders : FFooters;
  if (!target) return;
  for (const WideString& item : FStoryText.Items()) Path().AddTo(*target, item);
  FStoryText.Clear();
}

void TOpenDocumentRenderer::EndSection() {}

void TOpenDocumentRenderer::BeginParagraph(const TParagraph& P) {
  FLine.clear();
  FPendingSpace = false;
  FAtStart = true;
  FPicture = false;
  FClosings.clear();
  FPreformatted = P.Kind == TParagraphKind::Preformatted;
  if (FPreformatted) {
    if (FFormat == tfHTML) FLine = u"<p>";
    return;
  }
  FStyle = P.Style;
  FBold = P.Bold;
  FItalic = P.Italic;
  FUnderline = P.Underline;
  if (HasLabel(P)) {
    // The text's leading blanks still collapse after the label's space.
    AppendLabel(FLine, P);
  } else if (!P.Label.empty()) {
    // A note's citation, which a tab parts from the note's text.
    AppendEscaped(FLine, P.Label);
    AppendMarkup(FFormat == tfRTF ? u"\\tab " : u"\t", true);
  }
}

void TOpenDocumentRenderer::EndParagraph() {
  if (FPicture) return;
  ++FContentLines;
  // Items are copies of the buffers they are built in: a list keeps each
  // no larger than its text, and the buffers keep their room.
  if (FPreformatted) {
    FLine += FFormat == tfRTF ? u"\\par " : FFormat == tfHTML ? u"</p>" : u"";
    Emit(FLine);
    return;
  }
  WideString unused;
  ConvertSysChar(scUnknown, FLine, unused);
  if (FFormat == tfPlainText) {
    Emit(FLine);
    return;
  }
  FItem.clear();
  if (FFormat == tfRTF) {
    const bool group = FBold || FItalic || FUnderline;
    if (group) {
      FItem += u"{";
      if (FBold) FItem += u"\\b";
      if (FItalic) FItem += u"\\i";
      if (FUnderline) FItem += u"\\ul";
      FItem += u" ";
    }
    FItem += FLine;
    FItem += group ? u"}\\par " : u"\\par ";
  } else {
    if (FStyle.empty()) {
      FItem += u"<p>";
    } else {
      FItem += u"<p class=\"";
      AppendEscaped(FItem, FStyle);
      FItem += u"\">";
    }
    FItem += FLine;
    FItem += u"</p>";
  }
  Emit(FItem);
}

void TOpenDocumentRenderer::Text(std::u16string_view Run, const TRunStyle&) {
  if (Run.empty()) return;
  if (FPreformatted) {
    AppendEscaped(FLine, Run);
    return;
  }
  const bool plain = FFormat == tfPlainText;
  WideString& out = plain ? FLine : FRun;
  if (!plain) FRun.clear();
  // White space collapses to one space between words; words go in whole.
  const size_t n = Run.size();
  for (size_t i = 0; i < n;) {
    if (IsAsciiBlank(Run[i])) {
      if (!FAtStart) FPendingSpace = true;
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && !IsAsciiBlank(Run[j])) ++j;
    if (FPendingSpace) {
      out += u' ';
      FPendingSpace = false;
    }
    if (plain)
      AppendEscaped(out, Run.substr(i, j - i));
    else
      out.append(Run.substr(i, j - i));
    FAtStart = false;
    i = j;
  }
  if (!plain) AppendEscaped(FLine, FRun);
}

void TOpenDocumentRenderer::AppendMarkup(std::u16string_view Markup, bool BreaksLine) {
  // Visible characters end a run of white space: a pending space is written
  // first, except before a line break, where it would trail the line.
  if (FPendingSpace && !BreaksLine) FLine += u' ';
  FPendingSpace = false;
  FLine.append(Markup);
  FAtStart = BreaksLine;
}

void TOpenDocumentRenderer::LineBreak() {
  AppendMarkup(FFormat == tfRTF ? u"\\line " : FFormat == tfHTML ? u"<br>" : u"\r\n", true);
}

void TOpenDocumentRenderer::Tab() { AppendMarkup(FFormat == tfRTF ? u"\\tab " : u"\t"); }

void TOpenDocumentRenderer::Spaces(int Count) {
  WideString spaces;
  for (int k = 0; k < Count; ++k) spaces += FFormat == tfHTML ? u"&nbsp;" : u" ";
  AppendMarkup(spaces);
}

void TOpenDocumentRenderer::BeginSpan(const TRunStyle& Style) {
  WideString open;
  std::u16string_view close;
  if (FFormat == tfHTML && !Style.Style.empty()) {
    open = u"<span class=\"";
    AppendEscaped(open, Style.Style);
    open += u"\">";
    close = u"</span>";
  } else if (FFormat == tfRTF) {
    if (Style.Bold) open += u"\\b";
    if (Style.Italic) open += u"\\i";
    if (Style.Underline) open += u"\\ul";
    if (!open.empty()) {
      open = u"{" + open + u" ";
      close = u"}";
    }
  }
  // White space before a span belongs outside it.
  if (!open.empty()) FlushSpace();
  FLine += open;
  FClosings.push_back(close);
}

void TOpenDocumentRenderer::EndSpan() {
  if (FClosings.empty()) return;
  FLine += FClosings.back();
  FClosings.pop_back();
}

void TOpenDocumentRenderer::BeginLink(std::u16string_view Target) {
  if (FFormat != tfHTML) {
    FClosings.push_back({});
    return;
  }
  WideString open = u"<a href=\"";
  AppendEscaped(open, Target);
  open += u"\">";
  FlushSpace();
  FLine += open;
  FClosings.push_back(u"</a>");
}

void TOpenDocumentRenderer::EndLink() { EndSpan(); }

void TOpenDocumentRenderer::BeginRevision(TRevisionKind Kind) {
  // White space before the change stays outside it.
  FlushSpace();
  FLine += RevisionStart(Kind);
  FAtStart = false;
}

void TOpenDocumentRenderer::EndRevision(TRevisionKind Kind) { FLine += RevisionEnd(Kind); }

void TOpenDocumentRenderer::Image(std::u16string_view Source) {
  FPicture = true;
  ++FContentLines;
  const WideString href(Source);
  WideString result;
  ConvertSysChar(scIncludePicture, href, result);
  WideString T = FFormat == tfHTML ? u"<img src=\"" : u"";
  AppendEscaped(T, href);
  T += result;  // the host's text goes out as it gave it
  if (FFormat == tfRTF) T += u"\\par ";
  if (FFormat == tfHTML) T += u"\"><br>";
  Emit(std::move(T));
}

void TOpenDocumentRenderer::NextTableStyle(std::u16string_view Style) { FTableStyle = Style; }

void TOpenDocumentRenderer::BeginTable() {
  if (FFormat == tfHTML) {
    WideString open = u"<table border=\"1\"";
    if (!FTableStyle.empty()) {
      open += u" class=\"";
      AppendEscaped(open, FTableStyle);
      open += u"\"";
    }
    open += u">";
    Emit(std::move(open));
  }
  FTableStyle.clear();
}

void TOpenDocumentRenderer::EndTable() {
  if (FFormat == tfHTML) Emit(u"</table>");
}

void TOpenDocumentRenderer::BeginList() {
  if (FFormat == tfHTML) Emit(u"<ul>");
}

void TOpenDocumentRenderer::EndList() {
  if (FFormat == tfHTML) Emit(u"</ul>");
}

void TOpenDocumentRenderer::BeginListItem() {
  if (FFormat == tfHTML) Emit(u"  <li>");
}

void TOpenDocumentRenderer::EndListItem() {
  if (FFormat == tfHTML) Emit(u"  </li>");
}

void TOpenDocumentRenderer::EndPage(int) {
  if (!Path().Cancelled()) Emit(SysChar(scEndOfPage, u""));
}

void TOpenDocumentRenderer::BeginRepeat(std::u16string_view Opening) {
  FRepeats.push_back({FReplayLog.size(), FContentLines, 1});
  if (FFormat != tfHTML) return;
  // How often it repeats is told after the opening, which is logged for it.
  WideString open(Opening);
  if (FReplaying == 0) FReplayLog.push_back(open);
  Emit(std::move(open));
}

void TOpenDocumentRenderer::Repeated(int64_t Times) {
  if (FRepeats.empty()) return;
  TRepeat& r = FRepeats.back();
  FReplaying += (Times > 1) - (r.Times > 1);
  r.Times = Times;
}

void TOpenDocumentRenderer::EndRepeat(TLKWordSysChar End, std::u16string_view Closing) {
  if (FRepeats.empty()) return;
  const TRepeat r = FRepeats.back();
  if (!Path().Cancelled()) {
    Emit(SysChar(End, FFormat == tfHTML ? WideString(Closing) : WideString()));
    // Empty rows and cells, however often repeated, are written once.
    if (FContentLines != r.ContentBefore) Replay(r.First, r.Times - 1);
  }
  if (r.Times > 1) --FReplaying;
  FRepeats.pop_back();
  if (FRepeats.empty()) FReplayLog.clear();
}

void TOpenDocumentRenderer::BeginRow() { BeginRepeat(u"  <tr>"); }
void TOpenDocumentRenderer::EndRow() { EndRepeat(scRowEnd, u"  </tr>"); }
void TOpenDocumentRenderer::BeginCell() { BeginRepeat(u"    <td>"); }
void TOpenDocumentRenderer::EndCell() { EndRepeat(scColumnEnd, u"    </td>"); }

void TOpenDocumentRenderer::Replay(size_t First, int64_t Times) {
  if (Path().Cancelled() || Times <= 0 || First >= FReplayLog.size()) return;
  const std::vector<WideString> copy(FReplayLog.begin() + static_cast<std::ptrdiff_t>(First), FReplayLog.end());
  int64_t size = 0;
  for (const WideString& s : copy) size += static_cast<int64_t>(s.size()) + 2;
  for (int64_t k = 0; k < Times; ++k) {
    if (size > FRepeatBudget) {
      Doc().AddWarning("repeated cells and rows were written only as often as the output budget allows");
      FRepeatBudget = 0;
      return;
    }
    FRepeatBudget -= size;
    for (const WideString& s : copy) {
      if (Path().Cancelled()) return;
      Emit(s);
    }
  }
}

}  // namespace lkw
