// PDF fonts from arbitrary bytes. The first byte picks what the rest is:
//   0: CMap program text (ToUnicode or encoding CMap), looked up throughout;
//   1: a font program (TrueType/OpenType, CFF, Type 1), each parser tried;
//   2: a font dictionary, a NUL byte, and the data of stream object 11 that
//      the dictionary may refer to (ToUnicode, FontFile2/3, an encoding
//      CMap, CIDToGIDMap), loaded in a small document and shown strings
//      decoded through it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFCMap.h"
#include "lkword/pdf/LKWPDFFont.h"
#include "lkword/pdf/LKWPDFFontProgram.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace {

void FuzzCMap(std::string_view Data) {
  lkw::TPDFCMap m;
  m.Parse(Data);
  std::u16string out;
  uint32_t cid = 0;
  for (size_t i = 0; i < Data.size() && i < 4096;) {
    const int len = m.CodeLength(Data.substr(i), 2);
    if (len <= 0) break;
    uint32_t code = 0;
    for (int k = 0; k < len; ++k) code = code << 8 | static_cast<uint8_t>(Data[i + static_cast<size_t>(k)]);
    m.Lookup(code, len, out);
    m.LookupCID(code, len, cid);
    i += static_cast<size_t>(len);
  }
}

void FuzzProgram(std::string_view Data) {
  lkw::TPDFFontProgram a, b, c, d;
  lkw::ParseFontProgram(Data, a);
  lkw::ParseTrueTypeProgram(Data, b);
  lkw::ParseCFFProgram(Data, c);
  lkw::ParseType1Program(Data, d);
}

std::string Object(int Num, std::string_view Body) {
  return std::to_string(Num) + " 0 obj\n" + std::string(Body) + "\nendobj\n";
}

void FuzzFont(std::string_view Data) {
  const size_t cut = Data.find('\0');
  const std::string_view dict = Data.substr(0, cut);
  const std::string_view stream = cut == std::string_view::npos ? std::string_view() : Data.substr(cut + 1);
  // No cross-reference table: the reader rebuilds it by scanning.
  std::string pdf = "%PDF-1.7\n";
  pdf += Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  pdf += Object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
  pdf += Object(10, dict);
  pdf += Object(11, "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + std::string(stream) + "\nendstream");
  pdf += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  lkw::TBytesStream s(pdf);
  lkw::TLKPDFReader reader;
  reader.SetParseItems({});  // the structure only: the font is what is under test
  reader.SetMaxStreamSize(int64_t{8} << 20);
  reader.SetMaxDecompressedSize(int64_t{64} << 20);
  try {
    reader.LoadFromStream(s);
  } catch (const lkw::Exception&) {
    return;
  }
  lkw::TPDFObject obj;
  try {
    if (!reader.GetObject(10, obj)) return;
  } catch (const lkw::Exception&) {
    return;
  }
  lkw::TLKPDFFont font;
  font.Load(reader, obj, 10);
  std::vector<lkw::TPDFGlyph> glyphs;
  font.Decode(stream.substr(0, 1024), glyphs);
  font.Decode(dict.substr(0, 256), glyphs);
  font.Decode(std::string_view("\0\1\x80\xFF\xD8\x3D\xDE\x00 A", 10), glyphs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  switch (Data[0] % 3) {
    case 0: FuzzCMap(rest); break;
    case 1: FuzzProgram(rest); break;
    default: FuzzFont(rest); break;
  }
  return 0;
}
