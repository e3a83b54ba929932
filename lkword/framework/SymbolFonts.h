// Characters inserted as symbols: a font and a code in it.
#pragma once

#include <cstdint>
#include <string_view>

namespace lkw {

// The Unicode character of Code in Font, or 0 where it has none that is
// text (a picture font's, a private-use code).
char16_t SymbolCharacter(std::u16string_view Font, uint32_t Code);

}  // namespace lkw
