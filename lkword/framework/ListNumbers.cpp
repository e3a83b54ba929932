#include "lkword/framework/ListNumbers.h"

#include <string>

namespace lkw {

namespace {

void AppendAscii(WideString& Out, const std::string& S) {
  for (const char c : S) Out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

}  // namespace

void AppendDecimal(WideString& Out, int64_t N) { AppendAscii(Out, std::to_string(N)); }

void AppendRoman(WideString& Out, int64_t N, bool Upper) {
  static constexpr struct {
    int Value;
    const char* Text;
  } kRoman[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
                {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
  for (const auto& r : kRoman)
    for (; N >= r.Value; N -= r.Value)
      for (const char* p = r.Text; *p; ++p) Out += static_cast<char16_t>(Upper ? *p - 'a' + 'A' : *p);
}

void AppendLetters(WideString& Out, int64_t N, bool Upper) {
  if (N < 1) return;
  Out.append(static_cast<size_t>((N - 1) / 26 + 1), static_cast<char16_t>((Upper ? u'A' : u'a') + (N - 1) % 26));
}

void AppendOrdinal(WideString& Out, int64_t N) {
  AppendDecimal(Out, N);
  const int64_t tens = N % 100, ones = N % 10;
  AppendAscii(Out, tens >= 11 && tens <= 13 ? "th" : ones == 1 ? "st" : ones == 2 ? "nd" : ones == 3 ? "rd" : "th");
}

void AppendChicago(WideString& Out, int64_t N) {
  if (N < 1) return;
  static constexpr char16_t kMarks[] = {u'*', u'\u2020', u'\u2021', u'\u00A7'};
  Out.append(static_cast<size_t>((N - 1) / 4 + 1), kMarks[(N - 1) % 4]);
}

void AppendEnglishWords(WideString& Out, int64_t N, bool Ordinal) {
  // One table each, a row per form ([1]: the ordinal's), indexed plainly.
  static constexpr const char* kOnes[2][20] = {
      {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "eleven", "twelve",
       "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"},
      {"zeroth", "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth", "tenth",
       "eleventh", "twelfth", "thirteenth", "fourteenth", "fifteenth", "sixteenth", "seventeenth", "eighteenth",
       "nineteenth"}};
  static constexpr const char* kTens[2][10] = {
      {"", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"},
      {"", "", "twentieth", "thirtieth", "fortieth", "fiftieth", "sixtieth", "seventieth", "eightieth", "ninetieth"}};
  std::string s;
  auto below100 = [&](int n, bool last) {
    const int form = Ordinal && last ? 1 : 0;
    const int tens = n / 10, ones = n % 10;
    if (n < 20) {
      s += kOnes[form][n];
    } else if (ones == 0) {
      s += kTens[form][tens];
    } else {
      s += kTens[0][tens];
      s.push_back('-');
      s += kOnes[form][ones];
    }
  };
  auto below1000 = [&](int n, bool last) {
    if (n >= 100) {
      s += kOnes[0][n / 100];
      if (n % 100 == 0) {
        s += Ordinal && last ? " hundredth" : " hundred";
        return;
      }
      s += " hundred ";
    }
    below100(n % 100, last);
  };
  const int thousands = static_cast<int>(N / 1000), rest = static_cast<int>(N % 1000);
  if (thousands > 0) {
    below1000(thousands, false);
    if (rest == 0) {
      s += Ordinal ? " thousandth" : " thousand";
    } else {
      s += " thousand ";
      below1000(rest, true);
    }
  } else {
    below1000(rest, true);
  }
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  AppendAscii(Out, s);
}

}  // namespace lkw
