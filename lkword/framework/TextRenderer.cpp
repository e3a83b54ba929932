#include "lkword/framework/TextRenderer.h"

namespace lkw {

TTextRenderer::TTextRenderer(TMSWBaseDocument& Doc, TTextPath& Path) : FDoc(Doc), FPath(Path) {}

TTextRenderer::~TTextRenderer() = default;

bool TTextRenderer::ConvertSysChar(TLKWordSysChar SysChar, const WideString& Value, WideString& Result) {
  const TMSWordConvertSysCharEvent& e = FDoc.OnConvertSysChar();
  if (!e) return false;
  e(&FDoc, SysChar, Value, Result);
  return true;
}

void TTextRenderer::BeginDocument() { FPath.Add(FDoc.GetTextStart()); }

void TTextRenderer::EndDocument() { FPath.AddFinish(FDoc.GetTextFinish(), true); }

void TTextRenderer::EndSection() {
  WideString t;
  WideString r;
  if (ConvertSysChar(scParagraphEnd, t, r)) t += r;
  FPath.Add(std::move(t));
}

void TTextRenderer::BeginParagraph(const TParagraph& P) {
  FInParagraph = true;
  FParagraph = P;
  FLine.clear();
  FPlain.clear();
  if (HasLabel(P)) {
    FPlain = P.Label + u' ';
    AppendLabel(FLine, P);
  }
}

void TTextRenderer::Text(std::u16string_view Run, const TRunStyle&) {
  FPlain += Run;
  AppendEscaped(FLine, Run);
}

void TTextRenderer::Tab() { Text(u"\t", kPlainRun); }

void TTextRenderer::LineBreak() {
  if (FInParagraph) {
    Text(u"\n", kPlainRun);
    return;
  }
  FPath.Add(Plain() ? u"\r\n" : Rtf() ? u"\r\n\\line " : u"<br>\r\n");
}

void TTextRenderer::EndParagraph() {
  FInParagraph = false;
  WideString r;
  ConvertSysChar(scUnknown, FPlain, r);
  switch (Format()) {
    case tfRTF:
      FLine += u"\\par ";
      break;
    case tfHTML: {
      WideString tag = u"p";
      if (FParagraph.Kind == TParagraphKind::Preformatted)
        tag = u"pre";
      else if (FParagraph.Kind == TParagraphKind::Heading && FParagraph.Level >= 1 && FParagraph.Level <= 6)
        tag = {u'h', static_cast<char16_t>(u'0' + FParagraph.Level)};
      FLine = u"<" + tag + u">" + FLine + u"</" + tag + u">";
      break;
    }
    default:
      break;
  }
  // The buffer keeps its room for the next line; the item is a copy of the
  // exact size.
  FPath.Add(WideString(FLine));
  FLine.clear();
  FPlain.clear();
}

}  // namespace lkw
