// Windows code pages (the single-byte ones built in, the others through
// iconv), and UTF-8/UTF-16 conversion.
//
// The active ANSI code page is a process setting (default 1252); set it
// before work starts. Conversions are safe to call from many threads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

constexpr uint32_t CP_UTF8 = 65001;
constexpr uint32_t CP_UTF16LE = 1200;
constexpr uint32_t CP_UTF16BE = 1201;

uint32_t GetACP();
void SetActiveCodePage(uint32_t CodePage);

// The code page of an encoding name as XML, HTML and iconv spell it
// ("windows-1251", "cp866", "iso-8859-5", "koi8-r", "shift_jis", ...; case
// ignored); 0 when unknown. UTF-16 names give UTF-8: text that was read
// as bytes cannot be UTF-16.
uint32_t CodePageFromEncodingName(std::string_view Name);
// The code page a user names, by its number ("1251") or its name; 0 when
// unknown or not supported.
uint32_t CodePageFromUserName(std::string_view Value);

// The Macintosh code page of the script a Windows code page serves
// (10000 for 1252, 10007 for 1251, ...); 0 when there is none.
uint32_t MacCodePageOf(uint32_t WindowsCodePage);

// True when iconv knows the code page (it can be used for conversion).
bool IsCodePageSupported(uint32_t CodePage);
// True for code pages with one byte per character.
bool IsSingleByteCodePage(uint32_t CodePage);

// The 256 characters of a single-byte code page as the C library's
// converter decodes them (undefined bytes as themselves); false when the
// converter does not know it or it is not single-byte. The common code
// pages are built in and decode without the converter, which a statically
// linked program could only load at a cost; the table generator and the
// tests hold the built-in tables to this.
bool ConverterCodePageTable(uint32_t CodePage, std::array<char16_t, 256>& Table);
// The code pages whose tables are built in.
std::vector<uint32_t> BuiltinCodePages();

// Decodes Bytes in CodePage. Bytes a single-byte code page leaves undefined
// map to U+0080..U+00FF as Windows maps them; invalid multi-byte sequences
// become U+FFFD. An unknown code page decodes as the active ANSI code page.
WideString MultiByteToWide(uint32_t CodePage, std::string_view Bytes);
// Encodes Text in CodePage; characters it cannot hold become '?'.
RawByteString WideToMultiByte(uint32_t CodePage, std::u16string_view Text);

// UTF-8 <-> UTF-16. Invalid input becomes U+FFFD; lone surrogates are
// written as U+FFFD in UTF-8.
std::string WideToUtf8(std::u16string_view Text);
WideString Utf8ToWide(std::string_view Text);
// The code units as little-endian bytes, as password hashes take them.
RawByteString WideToUtf16LEBytes(std::u16string_view Text);
// Appends one code point as UTF-16.
void AppendCodePoint(WideString& Out, uint32_t CodePoint);

// ASCII-only helpers for literals.
WideString AsciiToWide(std::string_view Text);

// Case-insensitive comparison of two UTF-16 strings (simple case folding of
// the Basic Multilingual Plane); negative, 0 or positive like strcmp.
int CompareTextIgnoreCase(std::u16string_view A, std::u16string_view B);
char16_t WideUpCase(char16_t C);
char16_t WideLowCase(char16_t C);

}  // namespace lkw
