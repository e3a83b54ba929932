// List numbers as markup-based formats write them: decimal, letters and
// roman numerals, shared by the OpenDocument and the e-book readers.
#pragma once

#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

enum class TListNumberFormat : uint8_t { None, Decimal, LowerLetter, UpperLetter, LowerRoman, UpperRoman };

// "1", "a", "A", "i", "I" (the values OpenDocument and HTML share); an
// empty or unknown value is None.
TListNumberFormat ListNumberFormat(std::u16string_view Value);

// N in Format: letters go on as "aa", "bb" past "z"; roman numerals up to
// 3999. A number a format cannot show (0, negative, too large) is
// decimal; None gives nothing.
void AppendListNumber(WideString& Out, int64_t N, TListNumberFormat Format);

}  // namespace lkw
