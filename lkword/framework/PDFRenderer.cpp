#include "lkword/framework/PDFRenderer.h"

namespace lkw {

TPDFRenderer::TPDFRenderer(TMSWBaseDocument& Doc, TTextPath& Path, TWideStrings& Annotations,
                           std::vector<WideString>* PageTexts)
    : TTextRenderer(Doc, Path),
      FAnnotations(Annotations),
      FPageTexts(PageTexts),
      FFormat(Doc.ReaderFormating()),
      // A form feed or nothing would lose the page structure of markup.
      FPageBreak(Doc.ReaderFormating() == tfPlainText ? Doc.PageBreak() : pbRule) {}

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
  if (FPageTexts) FPageTexts->emplace_back();
}

void TPDFRenderer::EndPage(int) {
  OpenPage();
  // An empty page still shows where it stands, unless pages are not marked.
  if (!FPageHasLines && FPageBreak != pbNone) AddLine(u"");
}

void TPDFRenderer::OpenPage() {
  if (!FOpeningDue) return;
  FOpeningDue = false;
  const bool first = FPagesOpened++ == 0;
  switch (FPageBreak) {
    case pbRule:
      AddLine(u"");
      AddLine(kPDFPageRule);
      break;
    case pbFormFeed:
      FFormFeedDue = !first;
      break;
    case pbNone:
      break;
  }
}

void TPDFRenderer::BeginParagraph(const TParagraph&) {
  if (!FInAnnotation) {
    OpenPage();
    FPageHasLines = true;
  }
  FLine.clear();
  FRaw.clear();
}

void TPDFRenderer::Text(std::u16string_view Run, const TRunStyle&) {
  // The layout wrote the soft hyphens a page shows inside its lines as
  // hyphens and left the others out, so plain text is not searched for them
  // (one that ends a line and joins no word is a hyphen that shows).
  if (FFormat == tfPlainText)
    FLine.append(Run);
  else
    lkw::AppendEscaped(FLine, Run, FFormat);
  if (FPageTexts && !FInAnnotation) FRaw.append(Run);
}

void TPDFRenderer::EndParagraph() {
  if (FPageTexts && !FInAnnotation && !FPageTexts->empty()) {
    WideString& page = FPageTexts->back();
    page += FRaw;
    page += u'\n';
  }
  FRaw.clear();
  EndLine();
}

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
  if (FFormFeedDue && !FInAnnotation) {
    FLine.insert(FLine.begin(), u'\f');
    FFormFeedDue = false;
  }
  // The line is built in a buffer kept from line to line and goes out as a
  // copy of its own size: a list holds every item of the document.
  Path().Add(WideString(FLine));
  FLine.clear();
}

}  // namespace lkw
