// Loads arbitrary bytes as a PalmDoc/Peanut book in every output format.
#include <cstddef>
#include <cstdint>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSPalmDoc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (lkw::TMSTextFormating fmt : {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML}) {
    lkw::TCustomMemoryStream stream(Data, Size);
    lkw::TPalmDocFile doc;
    doc.SetTextFormating(fmt);
    // Exercise the output limit too, driven by the input's size.
    if (fmt == lkw::tfHTML && Size % 3 == 0) doc.SetMaxTextLength(static_cast<int32_t>(Size % 500 + 1));
    try {
      doc.LoadFromStream(stream);
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
