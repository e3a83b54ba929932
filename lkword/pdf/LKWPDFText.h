// The byte-string helpers with which the PDF code reads dictionary text.
// They work on bytes; keys are matched as the callers pass them (callers
// lower the text and the keys, with LowerAscii, where case must not matter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

struct TPDFSectionEnd {
  std::string_view Name;
  bool IncludeInBody;
};
inline constexpr TPDFSectionEnd PDFSectionEnds[4] = {
    {"%%", false}, {"startxref", false}, {"trailer", false}, {"endobj", true}};

// The value token of Key: found ignoring case, taken from Text as written,
// through StripLeadingFill and CutPDFToken. A /Group value is passed over and
// the search goes on. Empty Key gives the whole Text; a missing key, "".
RawByteString GetPDFTagValue(std::string_view Key, std::string_view Text);
// Case-sensitive. The content of the array that follows Key (up to the first
// ']'), or the text up to the next '/' or ">>" when no array comes first.
RawByteString GetPDFArrayValue(std::string_view Key, std::string_view Text);
// The first token of S; see the implementation for the exact stops.
RawByteString CutPDFToken(std::string_view S);
// Skips leading blanks, '0' and '['; when any were skipped, the rest less its
// last character, else S.
RawByteString StripLeadingFill(std::string_view S);
// Takes the earliest "N 0 R" ("N 1 R", "N 2 R", either case of R) out of S:
// Ref gets N, and S loses everything up to and including the R. False (S
// unchanged, Ref empty) when there is none or a '/' comes before it.
bool ExtractRefNumber(RawByteString& S, RawByteString& Ref);
// Removes tab, LF, CR and blank on the left (keeping at least one character)
// or on the right.
void TrimPDFWhitespace(RawByteString& S, bool Left);
// Rewrites every hex string "<...>" of S (dictionary brackets excepted) as a
// literal string "(...)"; with Escape, '(' ')' and '\' get a backslash.
void DecodeHexStrings(RawByteString& S, bool Escape);
// The bytes of hex digits S (white space skipped, an odd last digit padded
// with 0, a pair that is not hex copied as it stands), escaped as DecodeHexStrings.
void HexStringToLiteral(RawByteString& S, bool Escape);
// Flattens nested dictionary text: the inner texts of "<< >>" pairs, joined,
// dropping those that hold a /type. IsRef is cleared when a "<<" was seen.
void UnwrapDictionary(std::string_view Text, RawByteString& Result, bool& IsRef);
// Moves the characters before the first blank or comma into Token and drops
// the separators after them. False when S was empty.
bool NextNumberToken(RawByteString& S, RawByteString& Token);
// Width bytes (0 to 8) from 1-based Pos, most significant first; bytes past
// the end read as 0.
uint64_t ReadBigEndian(std::string_view S, size_t Pos, int Width);
// A name as the font and crypt filter fields keep it: '/' and the name in
// ASCII lower case ("WinAnsiEncoding" gives "/winansiencoding").
RawByteString SlashLowerName(std::string_view Name);

}  // namespace lkw
