#include "lkword/readers/ListLabels.h"

#include <string>

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

namespace {

void AppendDecimal(WideString& Out, int64_t N) {
  for (char c : std::to_string(N)) Out += static_cast<char16_t>(c);
}

}  // namespace

void AppendListNumber(WideString& Out, int64_t N, TListNumberFormat Format) {
  switch (Format) {
    case TListNumberFormat::None: return;
    case TListNumberFormat::Decimal: AppendDecimal(Out, N); return;
    case TListNumberFormat::LowerLetter:
    case TListNumberFormat::UpperLetter: {
      // Past "z" the letter repeats ("aa", "bbb"); a bound keeps a huge
      // start value from writing a huge label.
      if (N < 1 || N > 26 * 20) break;
      const char16_t base = Format == TListNumberFormat::LowerLetter ? u'a' : u'A';
      Out.append(static_cast<size_t>((N - 1) / 26 + 1), static_cast<char16_t>(base + (N - 1) % 26));
      return;
    }
    case TListNumberFormat::LowerRoman:
    case TListNumberFormat::UpperRoman: {
      if (N < 1 || N > 3999) break;
      static constexpr struct {
        int Value;
        const char* Text;
      } kRoman[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
                    {40, "xl"},  {10, "x"},    {9, "ix"},   {5, "v"},    {4, "iv"},   {1, "i"}};
      const bool upper = Format == TListNumberFormat::UpperRoman;
      for (const auto& r : kRoman)
        for (; N >= r.Value; N -= r.Value)
          for (const char* c = r.Text; *c; ++c) Out += static_cast<char16_t>(upper ? *c - 'a' + 'A' : *c);
      return;
    }
  }
  AppendDecimal(Out, N);
}

}  // namespace lkw
