// The renderer of Windows Write text: the whole text, frame included, as one
// item; each paragraph, and in it each character run with the markup of its
// font, size and attributes, even a run that holds none of its text.
#pragma once

#include <string_view>
#include <vector>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

class TWriteRenderer : public TTextRenderer {
 public:
  using TTextRenderer::TTextRenderer;

  // The face names of the document's fonts, which a run's Font indexes; HTML
  // names the face of each run.
  void SetFontNames(std::vector<WideString> Names) { FFontNames = std::move(Names); }

  void BeginDocument() override;
  void EndDocument() override;
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;

 private:
  void OpenRun(const TRunStyle& Style);
  void CloseRun(const TRunStyle& Style);

  WideString FText;
  std::vector<WideString> FFontNames;
};

}  // namespace lkw
