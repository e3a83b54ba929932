#include "lkword/framework/PDFRenderer.h"

namespace lkw {

TPDFRenderer::TPDFRenderer(TMSWBaseDocument& Doc, TTextPath& Path, TWideStrings& Annotations)
    : TTextRenderer(Doc, Path), FAnnotations(Annotations), FFormat(Doc.ReaderFormating()) {}

void TPDFRenderer::EndDocument() { Path().AddFinish(Doc().GetTextFinish(), true); }

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

void TPDFRenderer::Text(std::u16string_view Run, const TRunStyle&) { lkw::AppendEscaped(FLine, Run, FFormat); }

void TPDFRenderer::EndParagraph() { EndLine(); }

void TPDFRenderer::AddLine(std::u16string_view Line) {
  FLine.clear();
  lkw::AppendEscaped(FLine, Line, FFormat);
  EndLine();
}

void TPDFRenderer::EndLine() {
  if (FFormat == tfRTF)
    FLine += u"\\par";
  else if (FFormat == tfHTML)
    FLine += u"<br>";
  // The line is built in a buffer kept from line to line and goes out as a
  // copy of its own size: a list holds every item of the document.
  Path().Add(WideString(FLine));
  FLine.clear();
}

}  // namespace lkw
