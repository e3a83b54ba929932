#include "lkword/framework/WordXRenderer.h"

#include <utility>

namespace lkw {

TWordXRenderer::TWordXRenderer(TMSWBaseDocument& Doc, TTextPath& Path) : TTextRenderer(Doc, Path) {}

void TWordXRenderer::SetStoryList(TStoryKind Kind, TWideStrings* List) {
  if (Index(Kind) >= FLists.size()) return;
  FLists[Index(Kind)] = List == &Doc().Text() ? nullptr : List;
  if (Kind == TStoryKind::Main) FList = FLists[Index(Kind)];
}

void TWordXRenderer::Emit(WideString Item, bool Finish) {
  if (FList) {
    Path().AddTo(*FList, std::move(Item));
    return;
  }
  TTextPath& path = Path();
  if (Finish)
    path.AddFinish(std::move(Item), true);
  else
    path.Add(std::move(Item));
  if (path.Holding() && ((FReleaseLength > 0 && path.HeldLength() >= FReleaseLength) || path.Cancelled()))
    path.Release();
}

void TWordXRenderer::EmitLine() {
  // The line's buffer keeps its room for the next; held items are copies of
  // the exact size.
  Emit(WideString(FLine));
  FLine.clear();
}

void TWordXRenderer::EmitHtml(std::u16string_view Item) {
  if (Html()) Emit(WideString(Item));
}

void TWordXRenderer::BeginStory(TStoryKind Kind) {
  FList = Index(Kind) < FLists.size() ? FLists[Index(Kind)] : nullptr;
  WideString start = Doc().GetTextStart();
  if (!start.empty()) Emit(std::move(start));
}

void TWordXRenderer::EndStory(TStoryKind) {
  WideString finish = Doc().GetTextFinish();
  if (!finish.empty()) Emit(std::move(finish), true);
  FList = FLists[Index(TStoryKind::Main)];
}

void TWordXRenderer::BeginPart() {
  FLine.clear();
  FPartList = FList;
  FPartCount = FList ? FList->Count() : 0;
}

void TWordXRenderer::EndPart() {
  if (!FLine.empty()) EmitLine();
}

void TWordXRenderer::RolledBack() {
  // The main text was taken back by the path; another list is ours to cut.
  if (FPartList)
    while (FPartList->Count() > FPartCount) FPartList->Delete(FPartList->Count() - 1);
  FLine.clear();
}

void TWordXRenderer::BeginParagraph(const TParagraph& P) {
  if (!FLine.empty()) EmitLine();
  if (Html()) FLine = u"<p>";
  AppendLabel(FLine, P);
}

void TWordXRenderer::EndParagraph() {
  if (Html())
    FLine += u"</p>";
  else if (Rtf())
    FLine += u"\\par";
  EmitLine();
}

void TWordXRenderer::Text(std::u16string_view Run, const TRunStyle&) { AppendEscaped(FLine, Run); }

void TWordXRenderer::Tab() { FLine += Rtf() ? u"\\tab " : Html() ? u"&#9;" : u"\t"; }

void TWordXRenderer::LineBreak() { FLine += Rtf() ? u"\\line " : Html() ? u"<br>" : u"\r\n"; }

void TWordXRenderer::BeginTable() { EmitHtml(u"<table border=\"1\">"); }
void TWordXRenderer::EndTable() { EmitHtml(u"</table>"); }
void TWordXRenderer::BeginRow() { EmitHtml(u"  <tr>"); }
void TWordXRenderer::EndRow() { EmitHtml(u"  </tr>"); }
void TWordXRenderer::BeginCell() { EmitHtml(u"    <td>"); }
void TWordXRenderer::EndCell() { EmitHtml(u"    </td>"); }

void TWordXRenderer::BeginRevision(TRevisionKind Kind) { FLine += RevisionStart(Kind); }

void TWordXRenderer::EndRevision(TRevisionKind Kind) { FLine += RevisionEnd(Kind); }

}  // namespace lkw
