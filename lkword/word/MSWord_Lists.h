// Word paragraph structure: which paragraphs are list items or headings,
// and the labels their list numbering draws. Word 97 from the styles, the
// list tables and the paragraph property pages; Word 6/95 from the styles,
// the paragraph pages' autonumber descriptions and the sections' outline
// numbering.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TStream;

// A number as a list level's format shows it (Word's format codes: 0
// decimal, 1/2 upper/lower roman, 3/4 upper/lower letter, 5 ordinal, 6/7
// cardinal/ordinal text, 22 two digits, 255 none). Numbers a format cannot
// show are decimal.
WideString FormatListNumber(int64_t N, int Format);

// Calls Visit(Opcode, Operand, Size) for each property modifier of a
// Word 97 group, up to the first that does not fit.
template <typename TVisit>
void ForEachSprm(const uint8_t* G, size_t Size, TVisit&& Visit) {
  for (size_t i = 0; i + 2 <= Size;) {
    const uint16_t op = LoadLE16(G + i);
    size_t n = 0, at = i + 2;
    switch (op >> 13) {
      case 0: case 1: n = 1; break;
      case 2: case 4: case 5: n = 2; break;
      case 3: n = 4; break;
      case 7: n = 3; break;
      default:
        // A table definition (either generation's) has a 16-bit size; the
        // rest a size byte.
        if (op == 0xD608 || op == 0xD606) {
          if (at + 2 > Size) return;
          n = size_t{LoadLE16(G + at)} + 1;
        } else {
          if (at + 1 > Size) return;
          n = G[at++];
        }
    }
    if (at + n > Size) return;
    Visit(op, G + at, n);
    i = at + n;
  }
}

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
  // Word 6/95: their tables in the document stream (16-bit page numbers,
  // pages past the bin table's last numbered on from it up to cpnBtePap).
  // Fonts and CodePage decode the numbers' texts.
  struct TSource6 {
    uint32_t fcStshf, lcbStshf, fcPlcfbtePapx, lcbPlcfbtePapx, cpnBtePap, fcPlcfsed, lcbPlcfsed, fcSttbfffn,
        lcbSttbfffn;
  };
  void Load6(TStream& Doc, const TSource6& Source, std::vector<TPiece> Pieces, uint32_t CodePage, bool Formatting);
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
    int Anlm = -1, Anld = -1;  // Word 6/95: the autonumber level and description (into FAnlvs)
    bool Bold = false, Italic = false;
    bool Resolved = false;
  };
  // The properties a paragraph page gives a paragraph: FCs [From, To).
  struct TRun {
    int64_t From, To;
    int Istd;
    int Ilfo, Ilvl, OutLevel;  // -1: not set
    int Anlm = -1, Anld = -1;
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
  // Word 6/95: one level's autonumbering (its number format, whether the
  // numbers of the levels above show too, its start and texts around).
  struct TAnlv {
    int Format = 0;
    bool Prev = false;
    int64_t Start = 1;
    WideString Before, After;
    auto operator<=>(const TAnlv&) const = default;
  };
  // A section's outline numbering (-1: none) from its first CP on.
  struct TSection6 {
    int64_t CP;
    int Outline;
  };
  struct TOutline {
    TAnlv Levels[9];
    bool Restart = false;  // counts from the start again in each section
  };

  const TStyle& Style(int Istd, int Depth = 0);
  void ReadStyles(const RawByteString& Stsh);
  void ReadLists(const RawByteString& Lst, const RawByteString& Lfo, TStream& Table, uint32_t LstAt);
  void ReadRuns(TStream& Doc, const RawByteString& Plc);
  void ReadCharacterRuns(TStream& Doc, const RawByteString& Plc);
  // The piece that holds CP, or null.
  const TPiece* PieceAt(int64_t CP) const;
  WideString Label(size_t Ilfo, int Ilvl);
  // Word 6/95.
  void ReadStyles6(const RawByteString& Stsh);
  void ReadRuns6(TStream& Doc, const std::vector<uint32_t>& Pages);
  void ReadSections6(TStream& Doc, const RawByteString& Plc);
  // The autonumber modifiers of a Word 6 group into Anlm and Anld.
  void ReadNumbering6(const uint8_t* G, size_t Size, int& Anlm, int& Anld);
  // An ANLV's fields at P, the texts from Text (Chars bytes).
  TAnlv ReadAnlv(const uint8_t* P, const uint8_t* Text, size_t Chars) const;
  int AddAnlv(TAnlv Level);
  void Number6(TParagraph& P, int64_t CP, int Anlm, int Anld);
  WideString Label6(const TAnlv& Level, int64_t Value) const;

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
  // Word 6/95: the autonumber descriptions, each once; the sections'
  // outline numbering; the font names and code page of the numbers' texts;
  // the simple list going on (its description, -1: none) and its number,
  // and the outline's counters and section.
  bool FWord6 = false;
  std::vector<TAnlv> FAnlvs;
  std::map<TAnlv, int> FAnlvIndex;
  std::vector<TOutline> FOutlines;
  std::vector<TSection6> FSections6;
  uint32_t FCodePage = 0;
  int FListAnld = -1;
  int64_t FListValue = 0;
  TCounters FOutlineCounters;
  size_t FOutlineSection = SIZE_MAX;
};

}  // namespace lkw
