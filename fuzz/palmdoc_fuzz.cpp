// Loads arbitrary bytes as a PalmDoc/Peanut book in every output format, into
// the text list and through the text sink alike.
#include <cstddef>
#include <cstdint>

#include "fuzz/sink_load.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSPalmDoc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (lkw::TMSTextFormating fmt : {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML}) {
    lkw::fuzzing::LoadIntoListAndSink<lkw::TPalmDocFile>(
        [&](lkw::TPalmDocFile& Doc) {
          Doc.SetTextFormating(fmt);
          // Exercise the output limit too, driven by the input's size.
          if (fmt == lkw::tfHTML && Size % 3 == 0) Doc.SetMaxTextLength(static_cast<int32_t>(Size % 500 + 1));
        },
        [&](lkw::TPalmDocFile& Doc) {
          lkw::TCustomMemoryStream stream(Data, Size);
          Doc.LoadFromStream(stream);
        });
  }
  return 0;
}
