// Loads arbitrary bytes as a WordPerfect document (plain, or wrapped in a
// compound file) in every output format and with both low-byte tables.
#include <cstddef>
#include <cstdint>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWPD.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (lkw::TMSTextFormating fmt : {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML}) {
    lkw::TCustomMemoryStream stream(Data, Size);
    lkw::TWordPerfectFile doc;
    doc.SetTextFormating(fmt);
    if (fmt == lkw::tfRTF) doc.SetCharacterTable(lkw::wctCyrillic);
    try {
      doc.LoadFromStream(stream);
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
