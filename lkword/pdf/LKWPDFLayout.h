// PDF text layout: glyphs placed on the displayed page become words, lines
// and the page's text in reading order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

class TLKPDFPage;
struct TPDFTextOptions;

// One shown glyph in display space: x to the right, y downward from the top
// of the displayed page (page rotation applied).
struct TPDFPlacedGlyph {
  float X = 0, Y = 0;    // origin on the baseline
  float Dx = 1, Dy = 0;  // unit vector of the baseline direction
  float Adv = 0;         // the glyph's own advance along Dx, Dy
  float Size = 0;        // effective font size
  uint32_t TextStart = 0;  // the glyph's text in TPDFPageGlyphs::Chars
  uint16_t TextLen = 0;
  uint16_t FontIdx = 0;    // into TPDFPageGlyphs::FontNames
  uint32_t TextObject = 0; // counts BT operators: glyphs of one text object share it
  uint32_t Run = 0;        // counts text-showing operators: glyphs of one string share it
};

// What the content interpreter hands to the layout.
struct TPDFPageGlyphs {
  std::vector<TPDFPlacedGlyph> Glyphs;
  std::u16string Chars;
  std::vector<std::string> FontNames;
  // The glyphs, in ascending order, drawn where glyphs just before them were
  // clipped away: what shows on either side of the cut is not one word.
  std::vector<uint32_t> AfterCut;
  void Clear() {
    Glyphs.clear();
    Chars.clear();
    FontNames.clear();
    AfterCut.clear();
  }
};

// Builds Page's items (one per line) and lines from the glyphs, in content
// order, with words separated by gaps, right-to-left runs in logical order
// and, when Options ask for it, words hyphenated at line ends joined.
void LayoutPageText(const TPDFPageGlyphs& Glyphs, const TPDFTextOptions& Options, TLKPDFPage& Page);

// Joins words hyphenated across line ends: a hyphen (U+002D, U+2010) after a
// letter followed by a line that starts with a lower-case letter, or a soft
// hyphen at a line end. The continuation moves up to the hyphen's line.
void DehyphenateLines(std::vector<WideString>& Lines);

}  // namespace lkw
