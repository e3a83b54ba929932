// Word 97 paragraph structure: which paragraphs are list items or headings,
// and the labels their list numbering draws, from the styles, the list
// tables and the paragraph property pages.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TStream;

// A number as a list level's format shows it (Word's format codes: 0
// decimal, 1/2 upper/lower roman, 3/4 upper/lower letter, 5 ordinal, 6/7
// cardinal/ordinal text, 22 two digits, 255 none). Numbers a format cannot
// show are decimal.
WideString FormatListNumber(int64_t N, int Format);

class TWordParagraphs {
 public:
  // A piece of the text: its CPs from CP on, its bytes from FC on, Width
  // bytes a character.
  struct TPiece {
    int64_t CP, CPEnd, FC;
    int Width;
  };
  // The FIB pairs and streams the tables come from. Whatever does not read
  // leaves the paragraphs it would describe plain body text.
  struct TSource {
    uint32_t fcStshf, lcbStshf, fcPlcfbtePapx, lcbPlcfbtePapx, fcPlcfbteChpx, lcbPlcfbteChpx, fcPlfLst, lcbPlfLst,
        fcPlfLfo, lcbPlfLfo;
  };
  // Formatting: what only shows formatting is read too (the runs' own, and
  // headings of documents without lists); without it a document without
  // lists reads as Empty.
  void Load(TStream& Doc, TStream& Table, const TSource& Source, std::vector<TPiece> Pieces,
            const std::vector<WideString>& Fonts, bool Formatting);
  void Clear();
  bool Empty() const { return FRuns.empty(); }
  bool HasCharacterRuns() const { return !FCharRuns.empty(); }
  // The paragraph whose mark stands at CP. Paragraphs are asked for once
  // each, in text order: list items count on from the ones before.
  TParagraph Next(int64_t CP);
  // The bold and italic of the text at CP in Paragraph (as Next gave it),
  // and the CP where they may change next.
  TRunStyle RunAt(int64_t CP, const TParagraph& Paragraph, int64_t& Until) const;

 private:
  struct TLevel {
    int64_t Start = 1;
    int Format = 0;
    bool Legal = false, NoRestart = false;
    int RestartLimit = 0;  // with NoRestart: restarted by the levels above this one only
    WideString Text;  // the number text; characters 0-8 stand for levels' numbers
  };
  struct TList {
    int32_t Id = 0;
    std::vector<TLevel> Levels;  // 1 for a simple list, else 9
  };
  struct TOverride {
    size_t List = SIZE_MAX;  // into FLists
    // Per level: a start value that restarts the list where it is first
    // used, and a level that replaces the list's own.
    std::map<int, int64_t> Starts;
    std::map<int, TLevel> Levels;
  };
  // What a style gives its paragraphs, its bases' included.
  struct TStyle {
    int Sti = -1;
    int Base = -1;
    int Ilfo = 0, Ilvl = -1, OutLevel = -1;
    bool Bold = false, Italic = false;
    bool Resolved = false;
  };
  // The properties a paragraph page gives a paragraph: FCs [From, To).
  struct TRun {
    int64_t From, To;
    int Istd;
    int Ilfo, Ilvl, OutLevel;  // -1: not set
  };
  // A run of a character page: FCs [From, To), its bold and italic (-1:
  // the paragraph style's; 0x80 as the style, 0x81 the opposite).
  struct TCharRun {
    int64_t From, To;
    int Bold, Italic;
  };
  struct TCounters {
    int64_t Value[9] = {};
    bool Started[9] = {};
  };

  const TStyle& Style(int Istd, int Depth = 0);
  void ReadStyles(const RawByteString& Stsh);
  void ReadLists(const RawByteString& Lst, const RawByteString& Lfo, TStream& Table, uint32_t LstAt);
  void ReadRuns(TStream& Doc, const RawByteString& Plc);
  void ReadCharacterRuns(TStream& Doc, const RawByteString& Plc);
  // The piece that holds CP, or null.
  const TPiece* PieceAt(int64_t CP) const;
  WideString Label(size_t Ilfo, int Ilvl);

  std::vector<TPiece> FPieces;
  std::vector<WideString> FFonts;
  std::vector<TStyle> FStyles;
  std::vector<TList> FLists;
  std::vector<TOverride> FOverrides;
  std::vector<TRun> FRuns;  // by From
  std::vector<TCharRun> FCharRuns;  // by From
  std::map<int32_t, TCounters> FCounters;  // by list id
  // Overrides whose start value has restarted their list, by level.
  std::vector<uint16_t> FRestarted;
};

}  // namespace lkw
