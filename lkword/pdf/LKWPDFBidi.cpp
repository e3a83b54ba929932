#include "lkword/pdf/LKWPDFBidi.h"

#include <algorithm>

#include "lkword/platform/Ascii.h"

namespace lkw {

TBidiClass BidiClassOf(char32_t C) {
  if (C < 0x80) {
    if (IsAsciiLetter(C)) return TBidiClass::bcL;
    if (IsAsciiDigit(C)) return TBidiClass::bcNumber;
    return TBidiClass::bcNeutral;
  }
  // Arabic-Indic digits run left to right like European ones.
  if ((C >= 0x660 && C <= 0x669) || (C >= 0x6F0 && C <= 0x6F9)) return TBidiClass::bcNumber;
  // Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic and their
  // presentation forms.
  if ((C >= 0x590 && C <= 0x8FF) || (C >= 0xFB1D && C <= 0xFDFF) || (C >= 0xFE70 && C <= 0xFEFE) ||
      (C >= 0x10800 && C <= 0x10FFF) || (C >= 0x1E800 && C <= 0x1EFFF))
    return TBidiClass::bcR;
  if (C == 0xB2 || C == 0xB3 || C == 0xB9 || (C >= 0x2070 && C <= 0x2089)) return TBidiClass::bcNumber;
  if (C == 0xAA || C == 0xB5 || C == 0xBA || (C >= 0xC0 && C <= 0x24F && C != 0xD7 && C != 0xF7)) return TBidiClass::bcL;
  if (C >= 0x250 && C <= 0x58F) return TBidiClass::bcL;  // IPA, Greek, Cyrillic, Armenian
  if (C >= 0x900 && C <= 0x1FFF) return TBidiClass::bcL;
  if ((C >= 0x2C00 && C <= 0x2DFF) || (C >= 0x3040 && C <= 0xD7FF) || (C >= 0xF900 && C <= 0xFAFF)) return TBidiClass::bcL;
  if ((C >= 0xFF21 && C <= 0xFF3A) || (C >= 0xFF41 && C <= 0xFF5A) || (C >= 0xFF66 && C <= 0xFFDC)) return TBidiClass::bcL;
  if (C >= 0x10000) return TBidiClass::bcL;
  return TBidiClass::bcNeutral;
}

namespace {

// Reverses the units [First, Last] and, inside, turns runs of Keep back.
void ReverseRun(std::vector<TBidiUnit>& Units, size_t First, size_t Last, TBidiClass Keep) {
  std::reverse(Units.begin() + static_cast<std::ptrdiff_t>(First), Units.begin() + static_cast<std::ptrdiff_t>(Last + 1));
  size_t i = First;
  while (i <= Last) {
    if (Units[i].Class != Keep) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j + 1 <= Last && Units[j + 1].Class == Keep) ++j;
    std::reverse(Units.begin() + static_cast<std::ptrdiff_t>(i), Units.begin() + static_cast<std::ptrdiff_t>(j + 1));
    i = j + 1;
  }
}

}  // namespace

void VisualToLogical(std::vector<TBidiUnit>& Units) {
  size_t r = 0, l = 0;
  for (const TBidiUnit& u : Units) {
    if (u.Class == TBidiClass::bcR) ++r;
    else if (u.Class == TBidiClass::bcL) ++l;
  }
  if (r == 0) return;
  const size_t n = Units.size();
  if (r > l) {
    // A right-to-left line: everything reversed, then left-to-right runs
    // (letters and numbers with the neutrals between them) turned back.
    std::reverse(Units.begin(), Units.end());
    size_t i = 0;
    while (i < n) {
      if (Units[i].Class != TBidiClass::bcL && Units[i].Class != TBidiClass::bcNumber) {
        ++i;
        continue;
      }
      size_t last = i;
      for (size_t j = i + 1; j < n && Units[j].Class != TBidiClass::bcR; ++j)
        if (Units[j].Class != TBidiClass::bcNeutral) last = j;
      std::reverse(Units.begin() + static_cast<std::ptrdiff_t>(i), Units.begin() + static_cast<std::ptrdiff_t>(last + 1));
      i = last + 1;
    }
    return;
  }
  // A left-to-right line: each right-to-left run (with the neutrals and
  // numbers between its letters) reversed, its numbers kept.
  size_t i = 0;
  while (i < n) {
    if (Units[i].Class != TBidiClass::bcR) {
      ++i;
      continue;
    }
    size_t last = i;
    for (size_t j = i + 1; j < n && Units[j].Class != TBidiClass::bcL; ++j)
      if (Units[j].Class == TBidiClass::bcR) last = j;
    ReverseRun(Units, i, last, TBidiClass::bcNumber);
    i = last + 1;
  }
}

}  // namespace lkw
