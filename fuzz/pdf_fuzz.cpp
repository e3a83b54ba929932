// Loads arbitrary bytes as a PDF file with its text and metadata (pages,
// fonts, content streams, the information dictionary, XMP), then reads every
// object it lists the way the text layer does: parsed, as text, as decoded
// stream data, and through the dictionary helpers. The input's last byte
// picks the output format and limits, so one corpus covers them all; its top
// bit also loads the file through the text sink.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/sink_load.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace {

void ReadObjects(lkw::TLKPDFReader& Doc) {
  const int count = Doc.XRefs().Count() < 2000 ? Doc.XRefs().Count() : 2000;
  for (int i = 1; i < count; ++i) {
    lkw::TPDFObject obj;
    int32_t gen = 0;
    Doc.GetObject(i, obj, &gen);
    if (obj.IsDict()) {
      if (const lkw::TPDFObject* t = obj.Get("Title"); t && t->IsString()) Doc.DecryptString(i, gen, t->Str);
    }
    lkw::RawByteString data;
    Doc.GetStreamData(i, data);
    const lkw::RawByteString body = Doc.GetBodyByRefNo(i);
    lkw::RawByteString filter;
    int64_t length = 0, length1 = 0;
    Doc.GetFilterContent(nullptr, body, filter, length, length1);
    int64_t decoded = length1;
    Doc.GetStreamContent(filter, body, length, decoded, 0);
    const lkw::RawByteString lowered = lkw::LowerAscii(body);
    lkw::TLKPDFReader::GetItemType(lowered);
    Doc.GetDoubleBracketValue(nullptr, "/font", lowered);
    Doc.GetIntTagValue("/length", lowered);
  }
  const auto pages = Doc.GetPageObjects();
  for (size_t i = 0; i < pages.size() && i < 200; ++i) Doc.GetPageContents(pages[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const uint8_t knobs = Size ? Data[Size - 1] : 0;
  auto configure = [&](lkw::TLKPDFReader& Doc) {
    Doc.SetMaxStreamSize(int64_t{8} << 20);
    Doc.SetMaxDecompressedSize(int64_t{64} << 20);
    if (Size % 7 == 0) Doc.SetPassword("user");
    Doc.SetTextFormating(knobs % 3 == 0 ? lkw::tfPlainText : knobs % 3 == 1 ? lkw::tfRTF : lkw::tfHTML);
    if (knobs & 0x10) Doc.SetMaxTextLength(64);
    Doc.SetKeepPageItems(knobs & 0x20);
    lkw::TPDFTextOptions options = Doc.TextOptions();
    options.Dehyphenate = !(knobs & 0x40);
    options.MaxOperators = 200'000;  // endless content must not read as a hang
    Doc.SetTextOptions(options);
  };
  auto load = [&](lkw::TLKPDFReader& Doc) {
    lkw::TCustomMemoryStream stream(Data, Size);
    Doc.LoadFromStream(stream);
  };
  // Half the inputs also go through the text sink.
  if (knobs & 0x80) lkw::fuzzing::LoadIntoListAndSink<lkw::TLKPDFReader>(configure, load);
  lkw::TLKPDFReader doc;
  configure(doc);
  try {
    load(doc);
  } catch (const lkw::Exception&) {
  }
  doc.Pages().GetPlainText();
  // The metadata parsers on the raw bytes as well: XMP packets and dates
  // that no dictionary leads to.
  const std::string_view raw(reinterpret_cast<const char*>(Data), Size);
  lkw::TPDFXMPInfo xmp;
  lkw::ParseXMPMetadata(raw.substr(0, 1 << 16), xmp);
  lkw::PDFDateToDateTime(lkw::AsciiToWide(std::string(raw.substr(0, 40))));
  lkw::XMPDateToDateTime(raw.substr(0, 40));
  try {
    ReadObjects(doc);
  } catch (const lkw::Exception&) {
  }
  return 0;
}
