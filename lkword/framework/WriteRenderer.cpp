#include "lkword/framework/WriteRenderer.h"

#include <algorithm>
#include <string>

#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

WideString Num(int V) { return AsciiToWide(std::to_string(V)); }

}  // namespace

void TWriteRenderer::BeginDocument() { FText = Doc().GetTextStart(); }

void TWriteRenderer::EndDocument() {
  FText += Doc().GetTextFinish();
  Path().Add(std::move(FText));
  FText.clear();
}

void TWriteRenderer::BeginParagraph(const TParagraph&) {
  if (Rtf()) FText += u"\\par ";
  if (Html()) FText += u"<p>";
}

void TWriteRenderer::EndParagraph() {
  if (Rtf()) FText += u"\r\n";
  if (Html()) FText += u"</p>";
}

void TWriteRenderer::Text(std::u16string_view Run, const TRunStyle& Style) {
  OpenRun(Style);
  AppendEscaped(FText, Run);
  CloseRun(Style);
}

void TWriteRenderer::OpenRun(const TRunStyle& Style) {
  if (Rtf()) {
    // The size is written twice, as this output always had it.
    FText += u"\\pard\\f" + Num(std::max(Style.Font, 0)) + u"\\fs" + Num(Style.HalfPoints) + u" ";
    if (Style.HalfPoints > 0) FText += u"\\fs" + Num(Style.HalfPoints) + u" ";
    if (Style.Bold) FText += u"\\b ";
    if (Style.Italic) FText += u"\\i ";
    if (Style.Underline) FText += u"\\ul ";
  } else if (Html()) {
    FText += u"<font";
    if (Style.Font >= 0 && static_cast<size_t>(Style.Font) < FFontNames.size()) {
      FText += u" face=\"";
      AppendEscaped(FText, FFontNames[static_cast<size_t>(Style.Font)]);
      FText += u"\"";
    }
    if (Style.HalfPoints > 0) {
      const WideString size = GetHTMLFontSize(Style.HalfPoints / 2);
      if (size != u"-1") FText += u" size=\"" + size + u"\"";
    }
    FText += u">";
    if (Style.Bold) FText += u"<b>";
    if (Style.Italic) FText += u"<i>";
    if (Style.Underline) FText += u"<u>";
    if (Style.Superscript) FText += u"<sup>";
    if (Style.Subscript) FText += u"<sub>";
  }
}

void TWriteRenderer::CloseRun(const TRunStyle& Style) {
  if (Rtf()) {
    if (Style.Bold) FText += u"\\b0 ";
    if (Style.Italic) FText += u"\\i0 ";
    if (Style.Underline) FText += u"\\ul0 ";
  } else if (Html()) {
    if (Style.Bold) FText += u"</b>";
    if (Style.Italic) FText += u"</i>";
    if (Style.Underline) FText += u"</u>";
    if (Style.Superscript) FText += u"</sup>";
    if (Style.Subscript) FText += u"</sub>";
    FText += u"</font>";
  }
}

}  // namespace lkw
