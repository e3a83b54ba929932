// The Unicode of the CIDs of Adobe's CJK character collections, for CID
// fonts that declare one and give no ToUnicode map.
#include "lkword/pdf/LKWPDFCMap.h"

#include <iterator>

namespace lkw {

namespace {

#include "lkword/pdf/data/PDFCIDCollections.inc"

}  // namespace

char32_t CIDCollectionUnicode(std::string_view Ordering, uint32_t CID) {
  const auto at = [CID](const auto& table) -> char32_t { return CID < std::size(table) ? table[CID] : 0; };
  if (Ordering == "Japan1") return at(kCIDJapan1);
  if (Ordering == "GB1") return at(kCIDGB1);
  if (Ordering == "CNS1") return at(kCIDCNS1);
  if (Ordering == "Korea1" || Ordering == "KR") return at(kCIDKorea1);
  return 0;
}

}  // namespace lkw
