#include "lkword/framework/PDFRenderer.h"

namespace lkw {

TPDFRenderer::TPDFRenderer(TMSWBaseDocument& Doc, TTextPath& Path, TWideStrings& Annotations)
    : TTextRenderer(Doc, Path), FAnnotations(Annotations), FFormat(Doc.TextFormating()) {}

void TPDFRenderer::EndDocument() { Path().Add(Doc().GetTextFinish()); }

void TPDFRenderer::BeginStory(TStoryKind Kind) {
  if (Kind != TStoryKind::Annotation) return;
  FInAnnotation = true;
  FRedirect.emplace(Path(), FAnnotations);
}

void TPDFRenderer::EndStory(TStoryKind Kind) {
  if (Kind != TStoryKind::Annotation) return;
  FRedirect.reset();
  FInAnnotation = false;
}

void TPDFRenderer::BeginPage(int) {
  FOpeningDue = true;
  FPageHasLines = false;
}

void TPDFRenderer::EndPage(int) {
  OpenPage();
  if (!FPageHasLines) AddLine(u"");
}

void TPDFRenderer::OpenPage() {
  if (!FOpeningDue) return;
  FOpeningDue = false;
  AddLine(u"");
  AddLine(kPDFPageRule);
}

void TPDFRenderer::BeginParagraph(const TParagraph&) {
  if (!FInAnnotation) {
    OpenPage();
    FPageHasLines = true;
  }
  FLine.clear();
}

void TPDFRenderer::Text(std::u16string_view Run, const TRunStyle&) {
  // Most lines are one run: sized once, as the item it becomes.
  if (FLine.empty()) FLine.reserve(Run.size() + (FFormat == tfPlainText ? 0 : 8));
  lkw::AppendEscaped(FLine, Run, FFormat);
}

void TPDFRenderer::EndParagraph() {
  EndLine(FLine);
  FLine.clear();
}

void TPDFRenderer::AddLine(std::u16string_view Line) {
  WideString item;
  lkw::AppendEscaped(item, Line, FFormat);
  EndLine(item);
}

void TPDFRenderer::EndLine(WideString& Line) {
  if (FFormat == tfRTF)
    Line += u"\\par";
  else if (FFormat == tfHTML)
    Line += u"<br>";
  Path().Add(std::move(Line));
}

}  // namespace lkw
