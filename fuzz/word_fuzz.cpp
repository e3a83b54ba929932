// Loads arbitrary bytes as a Word document (compound or plain) in every
// output format, with the secondary texts and fields rendered; one format,
// picked by the input's size, also through the text sink. Encrypted documents are opened with the password of the
// encrypted seed.
#include <cstddef>
#include <cstdint>

#include "fuzz/sink_load.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const lkw::TMSTextFormating formats[] = {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML};
  auto configure = [&](lkw::TMSWordDocument& Doc, lkw::TMSTextFormating Format) {
    Doc.SetTextFormating(Format);
    Doc.SetParseItems({lkw::wpiText, lkw::wpiSummaryInformation, lkw::wpiVBA});
    // The password of the encrypted seed, so that mutants of it are decrypted.
    Doc.SetPassword("P\xC3\xA4ssw\xC3\xB6rd 1");
    if (Format == lkw::tfHTML && Size % 3 == 0) Doc.SetMaxTextLength(static_cast<int32_t>(Size % 500 + 1));
    // Special characters passed through unrendered now and then.
    if (Size % 5 == 0) Doc.SetConvertSysCharacters(false);
  };
  auto load = [&](lkw::TMSWordDocument& Doc) {
    lkw::TCustomMemoryStream stream(Data, Size);
    Doc.LoadFromStream(stream);
  };
  for (size_t k = 0; k < 3; ++k) {
    const lkw::TMSTextFormating fmt = formats[k];
    if (k == Size % 3) {
      lkw::fuzzing::LoadIntoListAndSink<lkw::TMSWordDocument>([&](lkw::TMSWordDocument& Doc) { configure(Doc, fmt); }, load);
      continue;
    }
    lkw::TMSWordDocument doc;
    configure(doc, fmt);
    try {
      load(doc);
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
