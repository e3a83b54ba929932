// Numbers as list labels and note marks write them, for every reader.
// Each appends to Out; a caller keeps N within what its format shows and
// writes decimal otherwise.
#pragma once

#include <cstdint>

#include "lkword/platform/Types.h"

namespace lkw {

void AppendDecimal(WideString& Out, int64_t N);
// Roman numerals, N from 1 (past 3999 the thousands repeat).
void AppendRoman(WideString& Out, int64_t N, bool Upper);
// a..z, then the letter repeated once more each round (aa, bbb); N from 1.
void AppendLetters(WideString& Out, int64_t N, bool Upper);
// "1st", "22nd", "13th"; N from 0.
void AppendOrdinal(WideString& Out, int64_t N);
// Note marks of the Chicago style: *, †, ‡, §, then each doubled, and so on.
void AppendChicago(WideString& Out, int64_t N);
// Beyond this many, Chicago marks are no longer read as marks: numbers instead.
constexpr int64_t kMaxChicago = 40;
// English words with the first letter upper case ("Forty-two",
// "Twentieth"); N from 0 to 999999.
void AppendEnglishWords(WideString& Out, int64_t N, bool Ordinal);

}  // namespace lkw
