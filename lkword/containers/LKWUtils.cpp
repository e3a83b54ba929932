#include "lkword/containers/LKWUtils.h"

#include <langinfo.h>

#include <charconv>
#include <cstdint>
#include <cstring>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

bool StreamIsZipArchive(TStream& AStream) {
  int64_t pos = AStream.Position();
  uint8_t head[8] = {};
  int64_t got = AStream.Read(head, sizeof head);
  AStream.SetPosition(pos);
  return got >= 4 && head[0] == 'P' && head[1] == 'K' && head[2] == 3 && head[3] == 4;
}

bool FileIsZipArchive(const std::string& AFileName) {
  TFileStream f(AFileName, fmOpenRead | fmShareDenyNone);
  return StreamIsZipArchive(f);
}

bool FileIsZipArchive(const WideString& AFileName) { return FileIsZipArchive(WideToUtf8(AFileName)); }

namespace {

// Checks the grammar strictly: std::from_chars alone would also take "inf",
// "nan" and stop at trailing garbage.
bool IsDecimalNumber(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsAsciiDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsAsciiDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsAsciiDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

double StrToFloatDef(std::string_view AText, double ADefault, char ADecimalSeparator) {
  while (!AText.empty() && IsAsciiBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsAsciiBlank(AText.back())) AText.remove_suffix(1);
  std::string s(AText);
  if (ADecimalSeparator != '.' && ADecimalSeparator != '\0') {
    size_t p = s.find(ADecimalSeparator);
    if (p != std::string::npos) s[p] = '.';
  }
  if (!IsDecimalNumber(s)) return ADefault;
  const char* first = s.data();
  if (*first == '+') ++first;
  double value = 0;
  auto [end, ec] = std::from_chars(first, s.data() + s.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size()) return ADefault;
  return value;
}

double StrToFloatDef(std::string_view AText, double ADefault) {
  // nl_langinfo follows the calling thread's locale.
  const char* radix = nl_langinfo(RADIXCHAR);
  char sep = (radix && radix[0] && !radix[1]) ? radix[0] : '.';
  return StrToFloatDef(AText, ADefault, sep);
}

double StrToFloatDef(const WideString& AText, double ADefault) {
  for (char16_t c : AText)
    if (c >= 0x80) return ADefault;  // no digit or separator outside ASCII
  std::string s(AText.size(), '\0');
  for (size_t i = 0; i < AText.size(); ++i) s[i] = static_cast<char>(AText[i]);
  return StrToFloatDef(s, ADefault);
}

bool IsValidUtf8(std::string_view Data) {
  const auto* s = reinterpret_cast<const uint8_t*>(Data.data());
  size_t n = Data.size();
  size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: the common case in markup.
    if (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + i, 8);
      if ((w & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    uint8_t b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (size_t k = 2; k < len; ++k)
      if ((s[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

bool Base64Decode(std::u16string_view Text, RawByteString& Out) {
  Out.clear();
  uint32_t acc = 0;
  int bits = 0;
  bool padded = false;
  for (char16_t c : Text) {
    int v;
    if (c >= u'A' && c <= u'Z') v = c - u'A';
    else if (c >= u'a' && c <= u'z') v = c - u'a' + 26;
    else if (c >= u'0' && c <= u'9') v = c - u'0' + 52;
    else if (c == u'+') v = 62;
    else if (c == u'/') v = 63;
    else if (c == u'=') { padded = true; continue; }
    else if (IsAsciiBlank(c)) continue;
    else return false;
    if (padded) return false;
    acc = (acc << 6 | static_cast<uint32_t>(v)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      Out += static_cast<char>(acc >> bits);
    }
  }
  return true;
}

}  // namespace lkw
