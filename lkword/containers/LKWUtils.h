// Small helpers that sit beside the zip reader: telling a zip package from
// another container, and a locale-independent number parser.
#pragma once

#include <string>
#include <string_view>

#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

// True when the file starts with a local file header ("PK", 3, 4). A file
// shorter than four bytes is no zip archive. Raises EFOpenError when the file
// cannot be opened.
bool FileIsZipArchive(const std::string& AFileName);
bool FileIsZipArchive(const WideString& AFileName);
// The same test at the stream's current position; the position is restored.
bool StreamIsZipArchive(TStream& AStream);

// Parses a whole text as one decimal number (optional sign, digits, one
// optional '.' part, optional exponent; surrounding blanks allowed), whatever
// the process locale. When the locale's decimal separator is not '.', its
// first occurrence is read as '.'. Anything else gives ADefault.
double StrToFloatDef(std::string_view AText, double ADefault);
double StrToFloatDef(const WideString& AText, double ADefault);
// The same with the decimal separator given instead of taken from the locale.
double StrToFloatDef(std::string_view AText, double ADefault, char ADecimalSeparator);

// True when Data is well-formed UTF-8 (no overlongs, surrogates or values
// above U+10FFFF).
bool IsValidUtf8(std::string_view Data);

// Decodes base64 text (blanks and line breaks skipped, '=' padding only at
// the end) into Out; false when anything else is in it.
bool Base64Decode(std::u16string_view Text, RawByteString& Out);

}  // namespace lkw
