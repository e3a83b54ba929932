// Right-to-left text from glyph positions: runs laid out left to right on
// the page are put back into the order they were typed.
#pragma once

#include <cstdint>
#include <vector>

namespace lkw {

// The bidi classes the layout needs.
enum class TBidiClass : uint8_t { bcNeutral, bcL, bcR, bcNumber };

TBidiClass BidiClassOf(char32_t C);

// One unit of a line in visual order (left to right on the page): a glyph's
// text or a word space. Class: the class of its first strong character.
struct TBidiUnit {
  uint32_t Start = 0;
  uint32_t Len = 0;
  TBidiClass Class = TBidiClass::bcNeutral;
};

// Reorders Units (visual, left to right) into logical order: in a line
// whose strong characters are mostly right-to-left the line is reversed and
// its left-to-right runs (letters and numbers) turned back; otherwise each
// right-to-left run is reversed, numbers inside it kept left to right.
void VisualToLogical(std::vector<TBidiUnit>& Units);

}  // namespace lkw
