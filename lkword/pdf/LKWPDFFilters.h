// The stream filters of PDF (Flate, LZW, ASCIIHex, ASCII85, RunLength) and
// the PNG and TIFF predictors, each bounded in what it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

// Per-filter parameters from /DecodeParms.
struct TPDFDecodeParms {
  int Predictor = 1;
  int Colors = 1;
  int BitsPerComponent = 8;
  int Columns = 1;
  int EarlyChange = 1;
};

enum class TPDFDecodeStatus : uint8_t {
  dsOK,
  dsCorrupt,   // the data broke off; the result holds what decoded before
  dsTruncated  // the output reached its cap and was cut there
};

// The filters, each bounded by MaxOut bytes of output.
RawByteString PDFFlateDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFASCIIHexDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFASCII85Decode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFLZWDecode(std::string_view Data, int EarlyChange, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFRunLengthDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
// Undoes a PNG (Predictor >= 10) or TIFF (2) predictor in place; Predictor 1
// (or anything else) leaves Buffer alone.
void PDFUnpredict(RawByteString& Buffer, const TPDFDecodeParms& Parms);
// PNG rows of 1 + Columns bytes with one byte per pixel (the original form).
void ApplyPNGPredictor(RawByteString& Buffer, int Columns);
// Decodes Data through the filter Name (lowered, with or without '/', full or
// abbreviated). False for a filter that is not decoded here (image codecs,
// unknown names): Out is then Data unchanged.
bool PDFDecodeFilter(std::string_view Name, std::string_view Data, const TPDFDecodeParms& Parms, size_t MaxOut,
                     RawByteString& Out, TPDFDecodeStatus& Status);

// LZW as used by TIFF and PDF (codes read most significant bit first, early
// width change) and as used by GIF (least significant bit first, late width
// change). Both write at most UnpackedSize bytes and return how many.
class TLKWLZWDecoder {
 public:
  int DecodeTIFF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize);
  int DecodeGIF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize);
};

}  // namespace lkw
