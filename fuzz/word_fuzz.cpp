// Loads arbitrary bytes as a Word document (compound or plain) in every
// output format, with the secondary texts and fields rendered.
#include <cstddef>
#include <cstdint>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (lkw::TMSTextFormating fmt : {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML}) {
    lkw::TCustomMemoryStream stream(Data, Size);
    lkw::TMSWordDocument doc;
    doc.SetTextFormating(fmt);
    doc.SetParseItems({lkw::wpiText, lkw::wpiSummaryInformation, lkw::wpiVBA});
    if (fmt == lkw::tfHTML && Size % 3 == 0) doc.SetMaxTextLength(static_cast<int32_t>(Size % 500 + 1));
    try {
      doc.LoadFromStream(stream);
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
