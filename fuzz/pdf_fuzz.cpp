// Loads arbitrary bytes as a PDF file, then reads every object it lists the
// way the text layer does: parsed, as text, as decoded stream data, and
// through the dictionary helpers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lkword/pdf/LKWPDF.h"
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
    const lkw::RawByteString lowered = lkw::LowerPDF(body);
    lkw::TLKPDFReader::GetItemType(lowered);
    Doc.GetDoubleBracketValue(nullptr, "/font", lowered);
    Doc.GetIntTagValue("/length", lowered);
  }
  const auto pages = Doc.GetPageObjects();
  for (size_t i = 0; i < pages.size() && i < 200; ++i) Doc.GetPageContents(pages[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lkw::TCustomMemoryStream stream(Data, Size);
  lkw::TLKPDFReader doc;
  doc.SetMaxStreamSize(int64_t{8} << 20);
  doc.SetMaxDecompressedSize(int64_t{64} << 20);
  if (Size % 7 == 0) doc.SetPassword("user");
  try {
    doc.LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }
  try {
    ReadObjects(doc);
  } catch (const lkw::Exception&) {
  }
  return 0;
}
