// PDF character encodings: the base encodings simple fonts name (Standard,
// WinAnsi, MacRoman, PDFDoc, Symbol, ZapfDingbats) as code -> glyph name and
// code -> Unicode tables, and the glyph-name -> Unicode lookup (the Adobe
// Glyph List with the uniXXXX / uXXXX forms and ligature names).
#pragma once

#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

enum class TPDFBaseEncoding : uint8_t { beNone, beStandard, beWinAnsi, beMacRoman, bePDFDoc, beSymbol, beZapfDingbats };

// The encoding a name (without slash, any case) stands for; beNone when
// unknown.
TPDFBaseEncoding PDFBaseEncodingFromName(std::string_view Name);

// Glyph names of the 256 codes of an encoding; an empty view where the code
// has no glyph. beNone gives empty names throughout.
std::string_view PDFEncodingGlyphName(TPDFBaseEncoding Encoding, uint8_t Code);

// Unicode of the 256 codes of an encoding (0 where the code has no glyph).
char32_t PDFEncodingUnicode(TPDFBaseEncoding Encoding, uint8_t Code);

// PDFDocEncoding of one byte (0 for the undefined codes 7F and 9F).
char16_t PDFDocEncodingChar(uint8_t Code);

// Unicode text for a glyph name, appended to Out: the Adobe Glyph List,
// uniXXXX[XXXX...], uXXXX[XX], ligature names (f_f_i, fi, ...) and
// name.suffix variants. False (Out unchanged) when the name tells nothing,
// as for gNN, cidNN, .notdef or an unknown name. Dingbats: the font is
// Zapf Dingbats, whose a1..a206 names are its glyphs (in other fonts such
// names tell nothing).
bool GetGlyphCharacter(std::string_view Name, std::u16string& Out, bool Dingbats = false);

// Glyph names that are only their code with a letter or two before it (a65,
// G41: the code in decimal or as two hex digits), as TeX's bitmap fonts are
// named. False for any other name.
bool IsCodeNumberName(std::string_view Name, uint8_t Code);

// The layouts of TeX's text fonts, which such fonts keep: ttAscii where the
// font is not known to be a text font (math, titles), and only the printable
// ASCII codes are taken; ttOT1 and ttT1 add their ligatures, quotes and
// dashes. Codes 128..255 are left out in all three, as the Latin (T1) and
// Cyrillic (T2) layouts share them.
enum class TTeXFontLayout : uint8_t { ttAscii, ttOT1, ttT1 };
std::u16string_view TeXFontCodeText(TTeXFontLayout Layout, uint8_t Code);

// Appends Text to Out with the presentation forms written out as their
// letters: Latin ligatures (U+FB01 is "fi"), Hebrew forms with their points,
// Arabic positional forms and lam-alef (the phrase ligatures stay).
void AppendExpandingPresentationForms(std::u16string& Out, std::u16string_view Text);

// Widths of the standard 14 fonts (in 1/1000 em) by glyph name. Font is the
// base font name; the usual aliases (Arial, TimesNewRoman, CourierNew, with
// ",Bold"-style styles and a subset prefix) are recognised. Returns -1 when
// the font is not one of them, 0 when it has no such glyph.
int StandardFontIndex(std::string_view BaseFont);
int StandardFontWidth(int FontIndex, std::string_view GlyphName);
// Ascent and descent (1/1000 em) of a standard font.
void StandardFontExtent(int FontIndex, int& Ascent, int& Descent);
// The font's own encoding: Symbol and ZapfDingbats have theirs, the others
// use Standard.
TPDFBaseEncoding StandardFontEncoding(int FontIndex);

}  // namespace lkw
