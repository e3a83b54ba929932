// Office math (OMML) of Word 2007+ documents as linear text: a fraction
// reads "(a+b)/c", scripts "x^(2)" and "a_(i)", an n-ary operator
// "∑_(i=1)^(n) x", a radical "√(x)", a delimiter its own brackets. Without
// this the structures' texts run together ("a+bc" for that fraction) and
// the operators kept in their properties (∑, brackets) are lost.
#pragma once

#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

class TWordXMath {
 public:
  // An equation (m:oMath) begins; anything not closed is dropped.
  void Begin();
  // An element below it, by its local name ("f", "num", "sSup", "e", ...).
  void Open(std::u16string_view LocalName);
  void Close();
  // A property of the structure open (from its m:xxxPr): "chr", "begChr",
  // "endChr", "sepChr", "degHide", "type", "pos"; Value as written.
  void Property(std::u16string_view LocalName, std::u16string_view Value);
  void Text(std::u16string_view Text);
  // The equation as linear text, once its element is closed.
  WideString End();

 private:
  struct TFrame {
    WideString Name;
    WideString Text;                // an argument's own text and the structures in it
    std::vector<WideString> Parts;  // a structure's arguments as they closed
    std::vector<WideString> PartNames;
    WideString Chr, BegChr, EndChr, SepChr, Type, Pos;
    bool HasChr = false, HasBegChr = false, HasEndChr = false, HasSepChr = false;
    bool DegHide = false;
  };
  WideString Compose(const TFrame& F) const;
  const WideString* Part(const TFrame& F, std::u16string_view Name) const;

  std::vector<TFrame> FStack;
  size_t FLength = 0;  // text taken into the equation so far
};

}  // namespace lkw
