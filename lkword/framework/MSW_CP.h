// Code-page and Unicode block helpers for host applications: turning
// extracted text back into Windows single-byte code pages, the Unicode 3.0
// block table, and the default ANSI code page of a Windows language.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace lkw {

struct TUnicodeRange {
  uint16_t CodeFrom;
  uint16_t CodeTo;
  std::string Name;
};

constexpr size_t UnicodeBlockCount = 88;

// The Unicode 3.0 blocks of the Basic Multilingual Plane in ascending order.
// "Specials" occurs twice (U+FEFF alone, and U+FFF0..U+FFFF).
extern const std::array<TUnicodeRange, UnicodeBlockCount> UnicodeBlocks;

// The byte of Ch in the code page when Ch is in that page's table, else 0.
// The tables are partial: they hold each page's own letters and signs above
// 0x7F, not ASCII nor the punctuation the page shares with 1252. Apart from
// U+FFFF (mapped to an unassigned byte, none in 1256) and U+0160 in 1255,
// every entry agrees with the Windows mapping of the page.
uint8_t UnicodeToWin1250(char16_t Ch);
uint8_t UnicodeToWin1251(char16_t Ch);
uint8_t UnicodeToWin1252(char16_t Ch);
uint8_t UnicodeToWin1253(char16_t Ch);
uint8_t UnicodeToWin1254(char16_t Ch);
uint8_t UnicodeToWin1255(char16_t Ch);
uint8_t UnicodeToWin1256(char16_t Ch);
uint8_t UnicodeToWin1257(char16_t Ch);
// No tables for these pages: always 0.
uint8_t UnicodeToWin874(char16_t Ch);
uint8_t UnicodeToWin932(char16_t Ch);
uint8_t UnicodeToWin936(char16_t Ch);
uint8_t UnicodeToWin949(char16_t Ch);
uint8_t UnicodeToWin950(char16_t Ch);

// The default ANSI code page Windows gives the language LID (a full LCID or
// just its primary language). Unknown languages, and those Windows writes
// only in Unicode, get 1252.
uint32_t DefaultCodePageOfLID(uint16_t LID);

// The first block of the script the default ANSI code page of LID covers
// (e.g. "Cyrillic" for 1251, "Latin Extended-A" for the Central European,
// Turkish, Baltic and Vietnamese pages); "Basic Latin" for 1252, for pages
// with no such block and for Unicode-only languages. An unknown LID stands
// for the active ANSI code page. Flag is not used. The result is a row of
// UnicodeBlocks.
const TUnicodeRange& GetUnicodeRangeByLID(uint16_t LID, uint8_t Flag);

}  // namespace lkw
