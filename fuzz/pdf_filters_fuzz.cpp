// Runs arbitrary bytes through one PDF stream filter (chosen and configured
// by the first two bytes), the LZW decoder classes, the lexer and the
// dictionary text helpers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFSyntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  static const char* const kFilters[] = {"/FlateDecode", "/LZWDecode", "/ASCIIHexDecode",
                                         "/ASCII85Decode", "/RunLengthDecode", "/DCTDecode"};
  const uint8_t select = Data[0], conf = Data[1];
  const std::string_view input(reinterpret_cast<const char*>(Data + 2), Size - 2);

  lkw::TPDFDecodeParms parms;
  static const int kPredictors[] = {1, 2, 10, 11, 12, 13, 14, 15};
  static const int kBits[] = {1, 2, 4, 8, 16, 8, 8, 3};
  parms.Predictor = kPredictors[conf & 7];
  parms.BitsPerComponent = kBits[(conf >> 3) & 7];
  parms.Colors = 1 + ((conf >> 6) & 3);
  parms.Columns = 1 + select / 6;
  parms.EarlyChange = (conf >> 5) & 1;
  lkw::RawByteString out;
  lkw::TPDFDecodeStatus status;
  lkw::PDFDecodeFilter(kFilters[select % 6], input, parms, 1 << 20, out, status);

  lkw::TLKWLZWDecoder lzw;
  std::vector<uint8_t> buf(4096);
  lzw.DecodeTIFF(Data + 2, buf.data(), static_cast<int>(Size - 2), static_cast<int>(buf.size()));
  lzw.DecodeGIF(Data + 2, buf.data(), static_cast<int>(Size - 2), static_cast<int>(buf.size()));

  lkw::TPDFLexer lexer(input);
  for (int i = 0; i < 64; ++i) {
    lkw::TPDFObject obj;
    const size_t before = lexer.Position();
    lkw::ParsePDFObject(lexer, obj);
    if (lexer.Position() == before) break;
  }

  lkw::RawByteString text(input), ref, token;
  lkw::GetPDFTagValue("/type", text);
  lkw::GetPDFArrayValue("/kids", text);
  lkw::RawByteString unwrapped;
  bool isRef = true;
  lkw::UnwrapDictionary(text, unwrapped, isRef);
  lkw::RawByteString hex = text;
  lkw::DecodeHexStrings(hex, (conf & 1) != 0);
  lkw::RawByteString refs = text;
  for (int i = 0; i < 16 && lkw::ExtractRefNumber(refs, ref); ++i) {
  }
  lkw::RawByteString numbers = text;
  for (int i = 0; i < 16 && lkw::NextNumberToken(numbers, token); ++i) {
  }
  lkw::TLKPDFReader::GetRefBody(text, "startxref", true);
  lkw::RawByteString tail = text, line;
  lkw::TLKPDFReader::GetLastLine(tail, 7, line, true);
  return 0;
}
