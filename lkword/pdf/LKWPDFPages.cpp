// Pages and fonts as the structure layer knows them: the page walk records
// each page's object; text and fonts are read by the content layer.
#include "lkword/pdf/LKWPDF.h"

namespace lkw {

TLKPDFPage* TLKPDFPages::GetPage(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFPage* TLKPDFPages::AddPage() {
  FItems.push_back(std::make_unique<TLKPDFPage>());
  return FItems.back().get();
}

WideString TLKPDFPages::GetPlainText() const {
  WideString out;
  for (const auto& page : FItems) {
    out += u"\r\n--------------------\r\n";
    out += page->GetPlainText();
  }
  return out;
}

// Provisional: each page's own resources and contents, its text as lines.
void TLKPDFReader::ProcessPages(TStream&, const RawByteString&) {
  for (const int32_t num : GetPageObjects()) {
    TLKPDFPage* page = FPages->AddPage();
    page->SetObjNumber(num);
    TPDFObject obj;
    if (!GetObject(num, obj)) continue;
    const TPDFObject* res = obj.Get("Resources");
    const TPDFObject* box = obj.Get("MediaBox");
    ExtractPageText(*this, GetPageContents(num), res ? *res : TPDFObject(), box ? *box : TPDFObject(), 0,
                    TPDFTextOptions(), *page);
    for (const WideString& line : page->Lines()) AddText(line);
  }
}

void TLKPDFReader::ProcessMetaData(TStream&) {}

}  // namespace lkw
