// Loads arbitrary bytes as a Windows Write document in every output format.
#include <cstddef>
#include <cstdint>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWRI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (lkw::TMSTextFormating fmt : {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML}) {
    lkw::TCustomMemoryStream stream(Data, Size);
    lkw::TWRIFile doc;
    doc.SetTextFormating(fmt);
    try {
      doc.LoadFromStream(stream);
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
