// The single-byte code pages decoded without the C library's converter
// (generated into CodePageTables.cpp by scripts/make-codepage-tables.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace lkw::detail {

struct TBuiltinCodePage {
  uint32_t CodePage;
  char16_t Chars[256];
};

extern const TBuiltinCodePage kBuiltinCodePages[];
extern const size_t kBuiltinCodePageCount;

}  // namespace lkw::detail
