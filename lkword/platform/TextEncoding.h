// Output encoding helpers: UTF-16 to UTF-8, JSON string escaping and ISO
// 8601 local times with their UTC offset, as the tool and the bindings
// write them. Header-only: the encoders are inlined into the writers' loops.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "lkword/platform/DateTime.h"
#include "lkword/platform/Types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lkw {

// Bytes the encoders below write at most for N UTF-16 code units: 3 per
// unit in UTF-8 (a surrogate pair takes 4 for 2 units); 6 per unit ("\u001f")
// in JSON.
constexpr size_t MaxUtf8Bytes(size_t N) { return 3 * N; }
constexpr size_t MaxJsonBytes(size_t N) { return 6 * N; }

namespace detail {

inline char* PutCodePoint(char* d, uint32_t c) {
  if (c < 0x80) {
    *d++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *d++ = static_cast<char>(0xC0 | (c >> 6));
    *d++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *d++ = static_cast<char>(0xE0 | (c >> 12));
    *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *d++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *d++ = static_cast<char>(0xF0 | (c >> 18));
    *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *d++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return d;
}

// The code point of a non-ASCII unit c just read from p; consumes the low
// surrogate of a pair. A lone surrogate becomes U+FFFD so that the output is
// always valid UTF-8.
inline uint32_t WideCodePoint(uint32_t c, const char16_t*& p, const char16_t* e) {
  if (c < 0xD800 || c >= 0xE000) return c;
  if (c < 0xDC00 && p < e && *p >= 0xDC00 && *p < 0xE000) return 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00u);
  return 0xFFFD;
}

// Copies the leading units of [p, e) that stand for themselves, one byte
// each, 16 at a time, and advances p and d past them: ASCII other than Stop
// (0xFFFF: none) for UTF-8; for JSON, 0x20..0x7E other than quote and
// backslash. Stops at the first unit that needs more, or when fewer than 16
// are left. Dest needs room for 16 bytes while 16 units are left, which the
// callers' sizes give.
template <bool Json>
inline void CopyPlainUnits(const char16_t*& p, const char16_t* e, char*& d, char16_t Stop) {
#if defined(__SSE2__)
  while (e - p >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    unsigned bad;
    if constexpr (Json) {
      // Signed compares: units from 0x8000 up are negative, below 0x20.
      const __m128i lo = _mm_set1_epi16(0x20), hi = _mm_set1_epi16(0x7E);
      const __m128i quote = _mm_set1_epi16('"'), backslash = _mm_set1_epi16('\\');
      auto escaped = [&](__m128i v) {
        return _mm_or_si128(_mm_or_si128(_mm_cmplt_epi16(v, lo), _mm_cmpgt_epi16(v, hi)),
                            _mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)));
      };
      bad = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(escaped(a), escaped(b))));
    } else {
      const __m128i zero = _mm_setzero_si128();
      const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
      const __m128i stop = _mm_set1_epi16(static_cast<short>(Stop));
      auto plain = [&](__m128i v) {
        return _mm_andnot_si128(_mm_cmpeq_epi16(v, stop), _mm_cmpeq_epi16(_mm_and_si128(v, high), zero));
      };
      bad = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(plain(a), plain(b)))) & 0xFFFFu;
    }
    // Units below 0x80 pack to their own byte; what follows a unit that
    // needs more is overwritten by the caller.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(a, b));
    if (bad) {
      const unsigned n = static_cast<unsigned>(std::countr_zero(bad));
      p += n;
      d += n;
      return;
    }
    p += 16;
    d += 16;
  }
#else
  (void)p, (void)e, (void)d, (void)Stop;
#endif
}

}  // namespace detail

// Writes Text as UTF-8 at Dest (room for MaxUtf8Bytes) and returns the end.
// With NormaliseLineEnds, CR LF and a lone CR are written as LF.
inline char* EncodeUtf8(char* Dest, std::u16string_view Text, bool NormaliseLineEnds = false) {
  const char16_t* p = Text.data();
  const char16_t* const e = p + Text.size();
  const char16_t stop = NormaliseLineEnds ? u'\r' : char16_t{0xFFFF};
  while (p < e) {
    detail::CopyPlainUnits<false>(p, e, Dest, stop);
    if (p == e) break;
    const uint32_t c = *p++;
    if (c < 0x80) {
      if (c == u'\r' && NormaliseLineEnds) {
        if (p < e && *p == u'\n') ++p;
        *Dest++ = '\n';
      } else {
        *Dest++ = static_cast<char>(c);
      }
      continue;
    }
    Dest = detail::PutCodePoint(Dest, detail::WideCodePoint(c, p, e));
  }
  return Dest;
}

// Copies UTF-8 Text to Dest (room for its size) and returns the end; with
// NormaliseLineEnds, as EncodeUtf8.
inline char* CopyUtf8(char* Dest, std::string_view Text, bool NormaliseLineEnds = false) {
  const char* p = Text.data();
  const char* const e = p + Text.size();
  while (p < e) {
    const void* cr = NormaliseLineEnds ? std::memchr(p, '\r', static_cast<size_t>(e - p)) : nullptr;
    const char* stop = cr ? static_cast<const char*>(cr) : e;
    std::memcpy(Dest, p, static_cast<size_t>(stop - p));
    Dest += stop - p;
    if (stop == e) break;
    *Dest++ = '\n';
    p = stop + 1;
    if (p < e && *p == '\n') ++p;
  }
  return Dest;
}

// Writes the characters of Text escaped for the inside of a JSON string at
// Dest (room for MaxJsonBytes) and returns the end: quote, backslash and the
// control characters (U+0000..U+001F, and U+007F, U+2028, U+2029 for the
// benefit of JavaScript readers) are escaped, lone surrogates become U+FFFD.
// NormaliseLineEnds as for EncodeUtf8.
inline char* EncodeJson(char* Dest, std::u16string_view Text, bool NormaliseLineEnds = false) {
  static const char kHex[] = "0123456789abcdef";
  const char16_t* p = Text.data();
  const char16_t* const e = p + Text.size();
  auto put2 = [&Dest](char a, char b) {
    *Dest++ = a;
    *Dest++ = b;
  };
  while (p < e) {
    detail::CopyPlainUnits<true>(p, e, Dest, 0);
    if (p == e) break;
    uint32_t c = *p++;
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      *Dest++ = static_cast<char>(c);
      continue;
    }
    if (c == u'\r' && NormaliseLineEnds) {
      if (p < e && *p == u'\n') ++p;
      c = u'\n';
    }
    switch (c) {
      case '"': put2('\\', '"'); break;
      case '\\': put2('\\', '\\'); break;
      case '\n': put2('\\', 'n'); break;
      case '\r': put2('\\', 'r'); break;
      case '\t': put2('\\', 't'); break;
      case '\b': put2('\\', 'b'); break;
      case '\f': put2('\\', 'f'); break;
      default:
        if (c >= 0x80) c = detail::WideCodePoint(c, p, e);
        if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
          put2('\\', 'u');
          put2(kHex[(c >> 12) & 15], kHex[(c >> 8) & 15]);
          put2(kHex[(c >> 4) & 15], kHex[c & 15]);
        } else {
          Dest = detail::PutCodePoint(Dest, c);
        }
    }
  }
  return Dest;
}

// String-appending forms, for short texts.
inline void AppendUtf8(std::string& Out, std::u16string_view Text) {
  const size_t at = Out.size();
  Out.resize(at + MaxUtf8Bytes(Text.size()));
  Out.resize(static_cast<size_t>(EncodeUtf8(Out.data() + at, Text) - Out.data()));
}

inline void AppendJsonString(std::string& Out, std::u16string_view Text) {
  const size_t at = Out.size();
  Out.resize(at + MaxJsonBytes(Text.size()) + 2);
  char* d = Out.data() + at;
  *d++ = '"';
  d = EncodeJson(d, Text);
  *d++ = '"';
  Out.resize(static_cast<size_t>(d - Out.data()));
}

// A local TDateTime as "YYYY-MM-DDTHH:MM:SS+HH:MM": the offset is the process
// time zone's offset at that local time, so the value names one instant.
inline std::string FormatLocalISO8601(TDateTime Local) {
  std::string result = DateTimeToISO8601(Local);
  const long offset = std::lround((Local - LocalToUTC(Local)) * 1440.0);
  // Real zone offsets stay within a day; the clamp only bounds the text.
  const int minutes = static_cast<int>(std::min(std::labs(offset), 24L * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return result + zone;
}

}  // namespace lkw
