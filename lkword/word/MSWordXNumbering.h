// List labels and heading levels of Word 2007+ paragraphs, from the
// package's numbering and styles parts. A paragraph's list comes from its
// own numbering properties or from its style's (through the styles it is
// based on); its label from the level's text, counted per abstract
// numbering so that lists sharing one continue each other's numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TWordXNumbering {
 public:
  static constexpr int kLevels = 9;

  // What a paragraph's own properties say; -1 where they say nothing.
  struct TParagraphProperties {
    WideString Style;
    int64_t NumId = -1;  // 0: explicitly no list
    int Level = -1;
    int OutlineLevel = -1;
  };

  // The counters, so that a part read again counts from where it began.
  struct TCounters {
    std::array<int64_t, kLevels> Value{};
    std::array<bool, kLevels> Started{};
  };
  struct TState {
    std::unordered_map<size_t, TCounters> Counters;  // by abstract numbering
    std::unordered_map<int64_t, std::array<bool, kLevels>> OverridesUsed;  // by numbering id
  };

  // Either part may be empty; what does not parse is left out.
  void Load(std::string_view Numbering, std::string_view Styles, int MaxDepth);
  void Clear();

  // Kind, Level and Label of the next paragraph with these properties; a
  // numbered one is counted.
  void Describe(const TParagraphProperties& Props, TParagraph& Out);
  // Whether a character style (through its bases) makes text bold or italic.
  void CharacterStyle(const WideString& Id, bool& Bold, bool& Italic) const;

  const TState& State() const { return FState; }
  void SetState(TState State) { FState = std::move(State); }

  enum class TFormat : uint8_t {
    Decimal,
    DecimalZero,
    LowerLetter,
    UpperLetter,
    LowerRoman,
    UpperRoman,
    Ordinal,
    CardinalText,
    OrdinalText,
    EnclosedCircle,
    Chicago,
    Bullet,
    None,
  };
  // Number as the format writes it; decimal where the format has no
  // writing of it.
  static void AppendNumber(WideString& Out, int64_t Number, TFormat Format);

 private:
  struct TLevel {
    int64_t Start = 0;
    TFormat Format = TFormat::Decimal;
    WideString Text;
    WideString Font;   // of the label, for symbol fonts' bullets
    WideString Style;  // the paragraph style tied to the level
    int Restart = -1;  // -1: after any higher level; 0: never; n: after levels 1..n
    bool Legal = false;
  };
  struct TAbstract {
    std::array<TLevel, kLevels> Levels;
    WideString NumStyleLink;
  };
  struct TNum {
    int64_t AbstractId = -1;
    std::array<bool, kLevels> HasStart{};
    std::array<int64_t, kLevels> Start{};
    std::array<int, kLevels> Level{};  // 1 + index into FOverrideLevels; 0: the abstract's
  };
  struct TStyle {
    WideString BasedOn, Name;
    int64_t NumId = -1;
    int Level = -1, OutlineLevel = -1;
    int8_t Bold = -1, Italic = -1;  // -1: not said
  };

  void LoadNumbering(std::string_view Bytes, int MaxDepth);
  void LoadStyles(std::string_view Bytes, int MaxDepth);
  // The abstract numbering a numbering id uses, numbering styles followed;
  // nullptr when there is none.
  const TAbstract* AbstractOf(int64_t NumId, size_t* Index) const;
  const TLevel& LevelOf(const TNum& Num, const TAbstract& Abstract, int Level) const;
  // Calls F for Id's style and each it is based on, until F returns false;
  // a cycle ends the walk.
  template <typename F>
  void ForEachInChain(const WideString& Id, F f) const;
  WideString Label(const TNum& Num, const TAbstract& Abstract, const TCounters& C, int Level) const;

  std::vector<TAbstract> FAbstracts;
  std::unordered_map<int64_t, size_t> FAbstractIndex;  // abstractNumId -> FAbstracts
  std::unordered_map<int64_t, TNum> FNums;
  std::vector<TLevel> FOverrideLevels;
  std::unordered_map<WideString, TStyle> FStyles;
  WideString FDefaultParagraphStyle;
  TState FState;
};

}  // namespace lkw
