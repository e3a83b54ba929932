#include "lkword/readers/ListLabels.h"

#include "lkword/framework/ListNumbers.h"

namespace lkw {

TListNumberFormat ListNumberFormat(std::u16string_view Value) {
  if (Value.size() != 1) return TListNumberFormat::None;
  switch (Value[0]) {
    case u'1': return TListNumberFormat::Decimal;
    case u'a': return TListNumberFormat::LowerLetter;
    case u'A': return TListNumberFormat::UpperLetter;
    case u'i': return TListNumberFormat::LowerRoman;
    case u'I': return TListNumberFormat::UpperRoman;
    default: return TListNumberFormat::None;
  }
}

void AppendListNumber(WideString& Out, int64_t N, TListNumberFormat Format) {
  switch (Format) {
    case TListNumberFormat::None: return;
    case TListNumberFormat::Decimal: break;
    case TListNumberFormat::LowerLetter:
    case TListNumberFormat::UpperLetter:
      // A bound keeps a huge start value from writing a huge label.
      if (N < 1 || N > 26 * 20) break;
      AppendLetters(Out, N, Format == TListNumberFormat::UpperLetter);
      return;
    case TListNumberFormat::LowerRoman:
    case TListNumberFormat::UpperRoman:
      if (N < 1 || N > 3999) break;
      AppendRoman(Out, N, Format == TListNumberFormat::UpperRoman);
      return;
  }
  AppendDecimal(Out, N);
}

}  // namespace lkw
