// The text of Palm database books (PalmDoc, eReader, Mobipocket): one item
// a line between the frame's two, each line plain, or ended by \par in RTF
// and <br> in HTML. Plain text for a host that takes UTF-8 may come as
// UTF-8 lines straight from the book's bytes.
#pragma once

#include <string_view>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

class TPalmDocRenderer : public TTextRenderer {
 public:
  // How LinesUtf8 reaches the text without a round trip through UTF-16:
  // not at all (it is converted), one line an event, or runs of whole lines
  // in one event (without a length limit, which counts lines one by one).
  enum class TUtf8Lines { None, One, Runs };

  TPalmDocRenderer(TMSWBaseDocument& Doc, TTextPath& Path);

  // Fixed for the load: the format, the host's sinks and the limit.
  TUtf8Lines Utf8Lines() const { return FUtf8Lines; }

  // The frame's last item goes out as any other item, even when the host
  // asked to hold it.
  void EndDocument() override;
  // A line: the host does not see it through OnConvertSysChar.
  void BeginParagraph(const TParagraph& P) override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void EndParagraph() override;
  // Several lines in one event only where Utf8Lines() is Runs.
  void LinesUtf8(std::string_view Utf8, size_t Units) override;

 private:
  const TMSTextFormating FFormat;
  const TUtf8Lines FUtf8Lines;
  WideString FLine;
};

}  // namespace lkw
