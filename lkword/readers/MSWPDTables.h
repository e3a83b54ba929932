// The WordPerfect character sets in Unicode: the (character, set) pairs of
// extended characters and font names, and the tables for the text bytes
// 01..20.
#pragma once

#include <cstdint>

#include "lkword/platform/Types.h"

namespace lkw {

// Text bytes 01..20 as the format's default extended international
// characters; index byte - 1.
extern const char16_t kWPInternationalLowBytes[32];
// A Cyrillic table for text bytes 01..1F, indexed by the byte itself.
extern const char16_t kWPCyrillicLowBytes[32];

// The text of character Number of character set Set; U+FFFD when the pair
// names no known character.
WideString WPCharacterText(uint8_t Number, uint8_t Set);

}  // namespace lkw
