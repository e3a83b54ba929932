#include "lkword/framework/WordPerfectRenderer.h"

#include <string>

#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// How the breaks of the text are written in each output format.
struct TBreakMarkup {
  const char16_t* Line;
  const char16_t* Paragraph;
  const char16_t* Page;
  const char16_t* Cell;
  const char16_t* Code;  // after a paragraph's or a style's code
};
constexpr TBreakMarkup kPlainBreaks{u"\r\n", u"\r\n", u"\r\n", u"\t", u"\r\n"};
constexpr TBreakMarkup kRtfBreaks{u"\r\n\\line ", u"\r\n\\par ", u"\r\n\\page ", u"\\tab ", u"\r\n"};
constexpr TBreakMarkup kHtmlBreaks{u"<br>\r\n", u"<p></p>\r\n", u"<br>\r\n", u"\t", u"<br>\r\n"};

const TBreakMarkup& BreaksFor(TMSTextFormating Format) {
  return Format == tfRTF ? kRtfBreaks : Format == tfHTML ? kHtmlBreaks : kPlainBreaks;
}

// The attributes a code turns on or off; RTF has no markup for the
// positions.
struct TAttributeMarkup {
  uint32_t Field;
  bool TRunStyle::*On;
  const char16_t* RtfOn;
  const char16_t* RtfOff;
  const char16_t* HtmlOn;
  const char16_t* HtmlOff;
};
constexpr TAttributeMarkup kAttributes[] = {
    {ffBold, &TRunStyle::Bold, u"\\b ", u"\\b0 ", u"<b>", u"</b>"},
    {ffItalic, &TRunStyle::Italic, u"\\i ", u"\\i0 ", u"<i>", u"</i>"},
    {ffUnderline, &TRunStyle::Underline, u"\\ul ", u"\\ul0 ", u"<u>", u"</u>"},
    {ffStrike, &TRunStyle::Strike, u"\\strike ", u"\\strike0 ", u"<s>", u"</s>"},
    {ffSuperscript, &TRunStyle::Superscript, nullptr, nullptr, u"<sup>", u"</sup>"},
    {ffSubscript, &TRunStyle::Subscript, nullptr, nullptr, u"<sub>", u"</sub>"},
};

constexpr int kTwipsPerInch = 1440;

WideString Num(int V) { return AsciiToWide(std::to_string(V)); }

}  // namespace

void TWordPerfectRenderer::BeginDocument() { FText = Doc().GetTextStart(); }

void TWordPerfectRenderer::EndDocument() {
  FText += Doc().GetTextFinish();
  Path().Add(std::move(FText));
  FText.clear();
}

void TWordPerfectRenderer::BeginParagraph(const TParagraph&) {
  if (FBreakDue) FText += BreaksFor(Format()).Paragraph;
  FBreakDue = false;
}

void TWordPerfectRenderer::EndParagraph() { FBreakDue = true; }

void TWordPerfectRenderer::Text(std::u16string_view Run, const TRunStyle&) { AppendEscaped(FText, Run); }

void TWordPerfectRenderer::LineBreak() { FText += BreaksFor(Format()).Line; }

void TWordPerfectRenderer::PageBreak() { FText += BreaksFor(Format()).Page; }

void TWordPerfectRenderer::Tab() { FText += BreaksFor(Format()).Cell; }

void TWordPerfectRenderer::BeginTable() { FFirstRow = true; }

// The paragraph after the table begins on a line of its own.
void TWordPerfectRenderer::EndTable() { FBreakDue = true; }

void TWordPerfectRenderer::BeginRow() {
  if (!FFirstRow) FText += BreaksFor(Format()).Paragraph;
  FFirstRow = false;
  FFirstCell = true;
}

void TWordPerfectRenderer::BeginCell() {
  if (!FFirstCell) FText += BreaksFor(Format()).Cell;
  FFirstCell = false;
}

// The cell's last paragraph ends with the cell.
void TWordPerfectRenderer::EndCell() { FBreakDue = false; }

void TWordPerfectRenderer::FormatCode(const TParagraph& Paragraph, const TRunStyle& Run, uint32_t Fields) {
  // Margins are written in whole inches, as this output always had them.
  if (Rtf() && (Fields & ffLeftIndent)) FText += u"\\pard\\fi" + Num(Paragraph.LeftIndent / kTwipsPerInch) + u" ";
  if (Rtf() && (Fields & ffRightIndent)) FText += u"\\pard\\ri" + Num(Paragraph.RightIndent / kTwipsPerInch) + u" ";
  if (Fields & ffAlignment) Justify(Paragraph.Alignment);
  if (Fields & (ffAlignment | ffParagraphProperties)) FText += BreaksFor(Format()).Code;
  if (Fields & ffFont) Font(Run);
  for (const TAttributeMarkup& a : kAttributes) {
    if (!(Fields & a.Field)) continue;
    const bool on = Run.*a.On;
    const char16_t* m = Rtf() ? (on ? a.RtfOn : a.RtfOff) : Html() ? (on ? a.HtmlOn : a.HtmlOff) : nullptr;
    if (m) FText += m;
  }
}

void TWordPerfectRenderer::Justify(TAlignment Align) {
  // HTML: the element of the alignment in force is closed first. Justified
  // text has no element of its own: it is centred.
  if (Html() && !FAlignTag.empty()) FText += u"</" + FAlignTag + u">";
  FAlignTag.clear();
  const char16_t* rtf = nullptr;
  const char16_t* tag = nullptr;
  switch (Align) {
    case TAlignment::Left:
      rtf = u"\\pard\\ql ";
      tag = u"left";
      break;
    case TAlignment::Justify:
      rtf = u"\\pard\\qj ";
      tag = u"center";
      break;
    case TAlignment::Center:
      rtf = u"\\pard\\qc ";
      tag = u"center";
      break;
    case TAlignment::Right:
      rtf = u"\\pard\\qr ";
      tag = u"right";
      break;
    case TAlignment::Default:
      break;
  }
  if (Rtf() && rtf) FText += rtf;
  if (Html() && tag) {
    FAlignTag = tag;
    FText += u"<" + FAlignTag + u">";
  }
}

void TWordPerfectRenderer::Font(const TRunStyle& Run) {
  if (Html() && FFontOpen) FText += u"</font>";
  FFontOpen = true;
  if (Rtf()) {
    FText += u"\\pard\\f" + Num(Run.Font) + u"\\fs" + Num(Run.HalfPoints) + u" ";
  } else if (Html()) {
    const WideString size = GetHTMLFontSize(Run.HalfPoints / 2);
    FText += size == u"-1" ? WideString(u"<font>") : u"<font size=\"" + size + u"\">";
  }
}

void TWordPerfectRenderer::AlignedTab(TAlignment Align) {
  // In HTML the centred or flush-right text takes the alignment the next
  // justification closes; no element is opened for it.
  switch (Align) {
    case TAlignment::Center:
      if (Rtf()) FText += u"\\pard\\qc ";
      else if (Html()) FAlignTag = u"center";
      else FText += u"\t";
      break;
    case TAlignment::Right:
      if (Rtf()) FText += u"\\pard\\qr ";
      else if (Html()) FAlignTag = u"right";
      else FText += u"\t";
      break;
    default:
      FText += Rtf() ? u"\\pard\\tab " : u"\t";
      break;
  }
}

}  // namespace lkw
