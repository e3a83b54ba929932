#include "lkword/framework/DocumentOutput.h"

#include "lkword/platform/CodePages.h"

namespace lkw {

void TDocumentOutput::BeginDocument() {
  for (TDocumentEvents* e : FConsumers) e->BeginDocument();
}

void TDocumentOutput::EndDocument() {
  for (TDocumentEvents* e : FConsumers) e->EndDocument();
}

void TDocumentOutput::BeginStory(TStoryKind Kind) {
  for (TDocumentEvents* e : FConsumers) e->BeginStory(Kind);
}

void TDocumentOutput::EndStory(TStoryKind Kind) {
  for (TDocumentEvents* e : FConsumers) e->EndStory(Kind);
}

void TDocumentOutput::BeginSection() {
  for (TDocumentEvents* e : FConsumers) e->BeginSection();
}

void TDocumentOutput::EndSection() {
  for (TDocumentEvents* e : FConsumers) e->EndSection();
}

void TDocumentOutput::BeginParagraph(const TParagraph& P) {
  for (TDocumentEvents* e : FConsumers) e->BeginParagraph(P);
}

void TDocumentOutput::EndParagraph() {
  for (TDocumentEvents* e : FConsumers) e->EndParagraph();
}

void TDocumentOutput::Text(std::u16string_view Run, const TRunStyle& Style) {
  for (TDocumentEvents* e : FConsumers) e->Text(Run, Style);
}

void TDocumentOutput::LineBreak() {
  for (TDocumentEvents* e : FConsumers) e->LineBreak();
}

void TDocumentOutput::SoftBreak() {
  for (TDocumentEvents* e : FConsumers) e->SoftBreak();
}

void TDocumentOutput::Tab() {
  for (TDocumentEvents* e : FConsumers) e->Tab();
}

void TDocumentOutput::BeginLink(std::u16string_view Target) {
  for (TDocumentEvents* e : FConsumers) e->BeginLink(Target);
}

void TDocumentOutput::EndLink() {
  for (TDocumentEvents* e : FConsumers) e->EndLink();
}

void TDocumentOutput::Image(std::u16string_view Source) {
  for (TDocumentEvents* e : FConsumers) e->Image(Source);
}

void TDocumentOutput::BeginTable() {
  for (TDocumentEvents* e : FConsumers) e->BeginTable();
}

void TDocumentOutput::EndTable() {
  for (TDocumentEvents* e : FConsumers) e->EndTable();
}

void TDocumentOutput::BeginRow() {
  for (TDocumentEvents* e : FConsumers) e->BeginRow();
}

void TDocumentOutput::EndRow() {
  for (TDocumentEvents* e : FConsumers) e->EndRow();
}

void TDocumentOutput::BeginCell() {
  for (TDocumentEvents* e : FConsumers) e->BeginCell();
}

void TDocumentOutput::EndCell() {
  for (TDocumentEvents* e : FConsumers) e->EndCell();
}

void TDocumentOutput::BeginPage(int Number) {
  for (TDocumentEvents* e : FConsumers) e->BeginPage(Number);
}

void TDocumentOutput::EndPage(int Number) {
  for (TDocumentEvents* e : FConsumers) e->EndPage(Number);
}

void TDocumentOutput::PageBreak() {
  for (TDocumentEvents* e : FConsumers) e->PageBreak();
}

void TDocumentOutput::RolledBack() {
  for (TDocumentEvents* e : FConsumers) e->RolledBack();
}

void TDocumentOutput::RollBack(const TTextPath::TCheckpoint& Point) {
  if (!FPath.CanRollBack(Point)) return;
  FPath.RollBack(Point);
  RolledBack();
}

// Each consumer that keeps the default pays the conversion itself, so text
// that only the renderer takes is never converted here.
void TDocumentOutput::LinesUtf8(std::string_view Utf8, size_t Units) {
  for (TDocumentEvents* e : FConsumers) e->LinesUtf8(Utf8, Units);
}

// The default of every consumer.
void TDocumentEvents::LinesUtf8(std::string_view Utf8, size_t) {
  const WideString text = Utf8ToWide(Utf8);
  const TParagraph paragraph;
  const TRunStyle style;
  std::u16string_view rest(text);
  for (;;) {
    const size_t lf = rest.find(u'\n');
    const std::u16string_view line = rest.substr(0, lf);
    BeginParagraph(paragraph);
    if (!line.empty()) Text(line, style);
    EndParagraph();
    if (lf == std::u16string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
}

void TDocumentOutput::BeginRevision(TRevisionKind Kind) {
  for (TDocumentEvents* e : FConsumers) e->BeginRevision(Kind);
}

void TDocumentOutput::EndRevision(TRevisionKind Kind) {
  for (TDocumentEvents* e : FConsumers) e->EndRevision(Kind);
}

void TDocumentOutput::FormatCode(const TParagraph& Paragraph, const TRunStyle& Run, uint32_t Fields) {
  for (TDocumentEvents* e : FConsumers) e->FormatCode(Paragraph, Run, Fields);
}

void TDocumentOutput::AlignedTab(TAlignment Align) {
  for (TDocumentEvents* e : FConsumers) e->AlignedTab(Align);
}

void TDocumentOutput::BeginSpan(const TRunStyle& Style) {
  for (TDocumentEvents* e : FConsumers) e->BeginSpan(Style);
}

void TDocumentOutput::EndSpan() {
  for (TDocumentEvents* e : FConsumers) e->EndSpan();
}

void TDocumentOutput::Spaces(int Count) {
  for (TDocumentEvents* e : FConsumers) e->Spaces(Count);
}

void TDocumentOutput::BeginList() {
  for (TDocumentEvents* e : FConsumers) e->BeginList();
}

void TDocumentOutput::EndList() {
  for (TDocumentEvents* e : FConsumers) e->EndList();
}

void TDocumentOutput::BeginListItem() {
  for (TDocumentEvents* e : FConsumers) e->BeginListItem();
}

void TDocumentOutput::EndListItem() {
  for (TDocumentEvents* e : FConsumers) e->EndListItem();
}

void TDocumentOutput::NextTableStyle(std::u16string_view Style) {
  for (TDocumentEvents* e : FConsumers) e->NextTableStyle(Style);
}

void TDocumentOutput::Repeated(int64_t Times) {
  for (TDocumentEvents* e : FConsumers) e->Repeated(Times);
}

void TDocumentOutput::NoteReference(TStoryKind Kind, std::u16string_view Mark, const TRunStyle& Style) {
  for (TDocumentEvents* e : FConsumers) e->NoteReference(Kind, Mark, Style);
}

void TDocumentOutput::BeginNote(TStoryKind Kind, std::u16string_view Mark) {
  for (TDocumentEvents* e : FConsumers) e->BeginNote(Kind, Mark);
}

}  // namespace lkw
