// Content stream bytes through the text layer: the interpreter and the
// layout, on a fixed small document whose page resources hold a simple
// font, a two-byte font, a form that draws text and a form that draws
// itself. The first byte picks the page rotation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "testing/PDFBuilder.h"
#include "lkword/platform/Exceptions.h"

namespace {

lkw::TLKPDFReader& Reader() {
  static std::unique_ptr<lkw::TLKPDFReader> reader = [] {
    using lkw::pdftest::Stream;
    std::map<int, std::string> objs = lkw::pdftest::OnePage("");
    objs[3] = "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources 5 0 R /MediaBox [0 0 612 792] >>";
    objs[5] = "<< /Font << /F1 6 0 R /F2 7 0 R >> /XObject << /Fm 8 0 R /Loop 9 0 R >> >>";
    objs[6] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    objs[7] = "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [<< /Type /Font "
              "/Subtype /CIDFontType2 /BaseFont /X /W [1 [500 600] 10 20 700] >>] >>";
    objs[8] = Stream("BT /F1 9 Tf 0 0 Td (form text) Tj ET", "/Subtype /Form /Matrix [0 1 -1 0 300 300]");
    objs[9] = Stream("q 0.5 0 0 0.5 10 10 cm /Loop Do Q BT /F2 8 Tf <00010002> Tj ET",
                     "/Subtype /Form /Resources 5 0 R");
    auto r = std::make_unique<lkw::TLKPDFReader>();
    lkw::pdftest::Load(*r, lkw::pdftest::Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
    return r;
  }();
  return *reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lkw::TLKPDFReader& reader = Reader();
  const int rotate = Size ? (Data[0] % 4) * 90 : 0;
  lkw::TPDFObject box;
  box.Kind = lkw::TPDFObjKind::okArray;
  for (int v : {0, 0, 612, 792}) box.Items.push_back(lkw::TPDFObject::MakeInteger(v));
  lkw::TPDFTextOptions options;
  options.MaxOperators = 200000;
  lkw::TLKPDFPage page;
  const std::string_view content(reinterpret_cast<const char*>(Data), Size);
  lkw::ExtractPageText(reader, content, lkw::TPDFObject::MakeRef(5, 0), box, rotate, options, page);
  page.Items().SortItems();
  return 0;
}
