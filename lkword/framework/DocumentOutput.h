// The seam a reader writes its document into: each event goes to the
// renderer of the text first, then to the consumers the host registered.
#pragma once

#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/framework/TextPath.h"

namespace lkw {

class TDocumentOutput final : public TDocumentEvents {
 public:
  TDocumentOutput(TTextPath& Path, std::vector<TDocumentEvents*> Consumers)
      : FPath(Path), FConsumers(std::move(Consumers)) {}

  // Whether extraction must stop: the text reached MaxTextLength.
  bool Cancelled() const { return FPath.Cancelled(); }

  void BeginDocument() override;
  void EndDocument() override;
  void BeginStory(TStoryKind Kind) override;
  void EndStory(TStoryKind Kind) override;
  void BeginSection() override;
  void EndSection() override;
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void Text(std::u16string_view Run) { Text(Run, kPlainRun); }
  void LineBreak() override;
  void SoftBreak() override;
  void Tab() override;
  void BeginLink(std::u16string_view Target) override;
  void EndLink() override;
  void Image(std::u16string_view Source) override;
  void BeginTable() override;
  void EndTable() override;
  void BeginRow() override;
  void EndRow() override;
  void BeginCell() override;
  void EndCell() override;
  void BeginPage(int Number) override;
  void EndPage(int Number) override;
  void PageBreak() override;

  // A point the reader may return to: the text after it is held back from
  // the host's sink until Release (see TTextPath).
  TTextPath::TCheckpoint Checkpoint() { return FPath.Checkpoint(); }
  bool CanRollBack(const TTextPath::TCheckpoint& Point) const { return FPath.CanRollBack(Point); }
  // Takes the text since Point back; the consumers are told.
  void RollBack(const TTextPath::TCheckpoint& Point);
  void Release() { FPath.Release(); }

  void LinesUtf8(std::string_view Utf8, size_t Units) override;
  void BeginRevision(TRevisionKind Kind) override;
  void EndRevision(TRevisionKind Kind) override;
  void FormatCode(const TParagraph& Paragraph, const TRunStyle& Run, uint32_t Fields) override;
  void AlignedTab(TAlignment Align) override;
  void BeginSpan(const TRunStyle& Style) override;
  void EndSpan() override;
  void Spaces(int Count) override;
  void BeginList() override;
  void EndList() override;
  void BeginListItem() override;
  void EndListItem() override;
  void NextTableStyle(std::u16string_view Style) override;
  void Repeated(int64_t Times) override;
  void NoteReference(TStoryKind Kind, std::u16string_view Mark, const TRunStyle& Style) override;
  void BeginNote(TStoryKind Kind, std::u16string_view Mark) override;

 private:
  void RolledBack() override;

  TTextPath& FPath;
  std::vector<TDocumentEvents*> FConsumers;  // the renderer first
};

}  // namespace lkw
