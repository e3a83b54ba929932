// PDF character encodings.
#pragma once

#include <cstdint>

namespace lkw {

// PDFDocEncoding of one byte (0 for the undefined codes 7F and 9F).
char16_t PDFDocEncodingChar(uint8_t Code);

}  // namespace lkw
