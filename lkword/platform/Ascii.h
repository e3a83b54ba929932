// Character classes and case of ASCII, for names, numbers and keywords in
// file structures: locale-free, and the same for bytes and UTF-16 units.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lkw {

// Space, tab, CR or LF: the white space of XML and of most file syntaxes.
template <typename C>
constexpr bool IsAsciiBlank(C c) {
  return c == C(' ') || c == C('\t') || c == C('\r') || c == C('\n');
}
// S without the ASCII blanks at its ends.
template <typename C>
constexpr std::basic_string_view<C> TrimAsciiBlanks(std::basic_string_view<C> S) {
  while (!S.empty() && IsAsciiBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsAsciiBlank(S.back())) S.remove_suffix(1);
  return S;
}
constexpr std::u16string_view TrimAsciiBlanks(std::u16string_view S) { return TrimAsciiBlanks<char16_t>(S); }

// IsAsciiBlank or form feed: the white space of HTML, which book text
// written as (X)HTML goes by.
template <typename C>
constexpr bool IsAsciiBlankOrFormFeed(C c) {
  return IsAsciiBlank(c) || c == C('\f');
}
template <typename C>
constexpr bool IsAsciiDigit(C c) {
  return c >= C('0') && c <= C('9');
}
template <typename C>
constexpr bool IsAsciiLetter(C c) {
  return (c >= C('a') && c <= C('z')) || (c >= C('A') && c <= C('Z'));
}
template <typename C>
constexpr bool IsAsciiAlnum(C c) {
  return IsAsciiDigit(c) || IsAsciiLetter(c);
}
template <typename C>
constexpr C ToLowerAscii(C c) {
  return c >= C('A') && c <= C('Z') ? C(c - C('A') + C('a')) : c;
}
template <typename C>
constexpr C ToUpperAscii(C c) {
  return c >= C('a') && c <= C('z') ? C(c - C('a') + C('A')) : c;
}

// S with its ASCII letters in lower case; other characters unchanged.
template <typename C>
std::basic_string<C> LowerAscii(std::basic_string_view<C> S) {
  std::basic_string<C> r(S);
  for (C& c : r) c = ToLowerAscii(c);
  return r;
}
inline std::string LowerAscii(std::string_view S) { return LowerAscii<char>(S); }
inline std::u16string LowerAscii(std::u16string_view S) { return LowerAscii<char16_t>(S); }

// Equal but for the case of ASCII letters.
template <typename C>
constexpr bool SameTextAscii(std::basic_string_view<C> A, std::basic_string_view<C> B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (ToLowerAscii(A[i]) != ToLowerAscii(B[i])) return false;
  return true;
}
constexpr bool SameTextAscii(std::string_view A, std::string_view B) { return SameTextAscii<char>(A, B); }
constexpr bool SameTextAscii(std::u16string_view A, std::u16string_view B) { return SameTextAscii<char16_t>(A, B); }

// Where Needle first stands in Hay at or after From, ignoring ASCII case;
// npos when it does not.
inline size_t FindTextAscii(std::string_view Hay, std::string_view Needle, size_t From = 0) {
  if (Needle.empty()) return From <= Hay.size() ? From : std::string_view::npos;
  if (Hay.size() < Needle.size()) return std::string_view::npos;
  // Candidates by their first character, in either case, before comparing.
  const char first = ToLowerAscii(Needle[0]), firstUp = ToUpperAscii(first);
  const size_t last = Hay.size() - Needle.size();
  for (size_t i = From; i <= last; ++i) {
    if (Hay[i] != first && Hay[i] != firstUp) continue;
    size_t k = 1;
    while (k < Needle.size() && ToLowerAscii(Hay[i + k]) == ToLowerAscii(Needle[k])) ++k;
    if (k == Needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace lkw
