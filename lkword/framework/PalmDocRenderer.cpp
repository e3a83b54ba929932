#include "lkword/framework/PalmDocRenderer.h"

namespace lkw {

namespace {

TPalmDocRenderer::TUtf8Lines Utf8LinesOf(const TMSWBaseDocument& Doc, const TTextPath& Path) {
  if (Doc.ReaderFormating() != tfPlainText || !Path.HasUtf8Sink()) return TPalmDocRenderer::TUtf8Lines::None;
  return Doc.MaxTextLength() > 0 ? TPalmDocRenderer::TUtf8Lines::One : TPalmDocRenderer::TUtf8Lines::Runs;
}

}  // namespace

TPalmDocRenderer::TPalmDocRenderer(TMSWBaseDocument& Doc, TTextPath& Path)
    : TTextRenderer(Doc, Path), FFormat(Doc.ReaderFormating()), FUtf8Lines(Utf8LinesOf(Doc, Path)) {}

void TPalmDocRenderer::EndDocument() { Path().AddFinish(Doc().GetTextFinish(), true); }

void TPalmDocRenderer::BeginParagraph(const TParagraph&) { FLine.clear(); }

// Plain text leaves soft hyphens out here as on the UTF-8 lines.
void TPalmDocRenderer::Text(std::u16string_view Run, const TRunStyle&) { lkw::AppendEscaped(FLine, Run, FFormat); }

// The line's buffer keeps its room from line to line, and the item is a
// copy of the exact size.
void TPalmDocRenderer::EndParagraph() {
  if (FFormat == tfPlainText) {
    Path().Add(WideString(FLine));
    FLine.clear();
    return;
  }
  FLine += FFormat == tfRTF ? std::u16string_view(u"\\par") : std::u16string_view(u"<br>");
  Path().Add(WideString(FLine));
}

void TPalmDocRenderer::LinesUtf8(std::string_view Utf8, size_t Units) {
  if (FUtf8Lines == TUtf8Lines::None)
    TTextRenderer::LinesUtf8(Utf8, Units);
  else
    Path().AddUtf8(Utf8, Units);
}

}  // namespace lkw
