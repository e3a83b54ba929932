// Characters inserted as symbols: a font and a code in it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lkw {

// The Unicode character of Code in Font, or 0 where it has none that is
// text (a picture font's, a private-use code).
char16_t SymbolCharacter(std::u16string_view Font, uint32_t Code);

// The Unicode character a list's bullet Code in Font shows (Code as a byte
// or on the private-use page): the Symbol font's characters, and the
// bullets of the Wingdings fonts lists are made with; 0 where none is known.
char16_t BulletCharacter(std::u16string_view Font, uint32_t Code);

// Whether Text may hold a character of the private-use page symbol fonts
// are written with (U+F000..U+F0FF; anything from U+F000 up counts here,
// the exact test is LeaveOutSymbolPrivateUse's). A loop without an early
// exit, which the compiler turns into vector code: text rarely has any.
inline bool MayHoldSymbolPrivateUse(std::u16string_view Text) {
  unsigned any = 0;
  for (const char16_t c : Text) any |= c >= 0xF000 ? 1u : 0u;
  return any != 0;
}

// Leaves out of Text the symbol-font characters no font tells the meaning
// of (U+F000..U+F0FF); returns how many there were.
size_t LeaveOutSymbolPrivateUse(std::u16string& Text);

// The warning for what LeaveOutSymbolPrivateUse left out.
inline constexpr const char* kSymbolCharactersLeftOut =
    "characters of a symbol font whose meaning is not known were left out";

}  // namespace lkw
