// Test-only: writes small Word documents of the three layouts (Word 97,
// Word 6/95, Word 2) so that tests and fuzz seeds can be made in code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "testing/CompoundFileBuilder.h"
#include "lkword/platform/Types.h"

namespace lkw::testing {

class TWordDocBuilder {
 public:
  struct TPiece {
    WideString Text;
    bool Compressed = false;  // 8-bit (always so before Word 97)
    int Font = -1;            // Word 6/95: index into Fonts set on the run
    uint16_t Symbol = 0;      // Word 97: the piece is symbols, this code in Fonts[Font]
    std::string Chpx = {};    // Word 97: character property modifiers of the piece
  };
  // Font table: character set and name.
  std::vector<std::pair<uint8_t, std::string>> Fonts;

  explicit TWordDocBuilder(int Generation = 8) : FGeneration(Generation) {}

  // Pieces in character order; the stories are cut from their concatenation
  // by the counts below (ccpText .. ccpHdrTxbx).
  std::vector<TPiece> Pieces;
  int32_t Ccp[8] = {-1, 0, 0, 0, 0, 0, 0, 0};  // -1: everything is main text
  // Where the pieces' bytes go, as a permutation of their indices (fast-saved
  // documents store pieces out of order). Empty: in order.
  std::vector<size_t> FileOrder;
  uint16_t lID = 0x0409;
  uint16_t lidFE = 0;
  uint8_t Flag = 0;          // byte 10
  uint8_t Encryption = 0x02; // byte 11: "1Table"
  uint16_t chse = 0;         // Word 6/95: 256 for text in a Macintosh character set
  bool WithClx = true;
  // CPs of footnote references, and the start CPs (relative to the
  // footnote story) of their texts; automatically numbered unless listed in
  // CustomMarks (indices).
  std::vector<int32_t> FootnoteRefs, FootnoteTexts;
  std::vector<size_t> CustomMarks;
  // The CPs of the header stories (relative to the header text).
  std::vector<int32_t> HeaderStories;
  // Word 6/95: the second byte of the document properties (which note
  // separators the header text holds), and each section's property
  // modifiers (the sections share the main text evenly).
  uint8_t DopHeaderBits = 0;
  // The document properties as stored (Word 97; empty: none).
  std::string Dop;
  std::vector<std::string> SectionSprms;
  // 8-bit pieces before Word 97 are encoded with this code page.
  uint32_t CodePage = 1252;

  // Paragraph properties (Word 97 and Word 6/95, each in its own modifiers):
  // the Nth paragraph of the text (each ends in a paragraph or cell mark)
  // gets Paragraphs[N]'s style index and property modifiers; paragraphs
  // past the list are plain.
  struct TParagraphProps {
    uint16_t Istd = 0;
    std::string Sprms;
  };
  std::vector<TParagraphProps> Paragraphs;
  // Styles by index: sti, base style (0xFFF: none), the paragraph and
  // character property modifiers of a paragraph style (Word 97 and Word 6/95).
  struct TStyle {
    uint16_t Sti = 0;
    uint16_t Base = 0xFFF;
    std::string Papx, Chpx;
  };
  std::vector<TStyle> Styles;
  // Word 97 lists: a level's start, number format, flags byte (0x04 legal),
  // number text (characters 0-8 for levels' numbers) and font index
  // (-1: none).
  struct TLevel {
    int32_t Start = 1;
    uint8_t Nfc = 0;
    uint8_t Flags = 0;
    std::u16string Text;
    int Font = -1;
  };
  struct TList {
    int32_t Id = 0;
    std::vector<TLevel> Levels;  // one: a simple list; else padded to nine
  };
  std::vector<TList> Lists;
  // Their overrides, numbered from 1 in sprmPIlfo: the list id and, per
  // overridden level, a start value and a level replacing the list's.
  struct TLevelOverride {
    uint8_t Level = 0;
    bool StartAt = false;
    int32_t Start = 0;
    bool Formatting = false;
    TLevel Format;
  };
  struct TOverride {
    int32_t ListId = 0;
    std::vector<TLevelOverride> Levels;
  };
  std::vector<TOverride> Overrides;

  // The document stream and the table stream ("1Table" or "0Table" by the flag).
  std::string Document, Table;

  void Build() {
    const bool w97 = FGeneration == 8;
    const size_t fibSize = w97 ? 0x800 : FGeneration == 2 ? 0x180 : 0x300;
    Document.assign(fibSize, '\0');
    Table.clear();
    FPairs.clear();
    std::vector<uint32_t> fcs(Pieces.size()), byteEnds(Pieces.size());
    std::vector<size_t> order = FileOrder;
    if (order.empty())
      for (size_t i = 0; i < Pieces.size(); ++i) order.push_back(i);
    uint32_t fcMin = static_cast<uint32_t>(Document.size());
    for (size_t k : order) {
      const TPiece& p = Pieces[k];
      const uint32_t at = static_cast<uint32_t>(Document.size());
      if (w97 && !p.Compressed) {
        Document += WideToMultiByte(CP_UTF16LE, p.Text);
        fcs[k] = at;
      } else {
        std::string bytes;
        if (w97) {
          for (char16_t c : p.Text) bytes += static_cast<char>(c == 0x201C ? 0x93 : c & 0xFF);
          fcs[k] = (at * 2) | 0x40000000u;
        } else {
          bytes = WideToMultiByte(CodePage, p.Text);
          fcs[k] = at;
        }
        Document += bytes;
      }
      byteEnds[k] = static_cast<uint32_t>(Document.size());
    }
    const uint32_t fcMac = static_cast<uint32_t>(Document.size());
    int32_t total = 0;
    for (const TPiece& p : Pieces) total += static_cast<int32_t>(p.Text.size());
    int32_t ccp[8];
    for (int i = 0; i < 8; ++i) ccp[i] = Ccp[i];
    if (ccp[0] < 0) ccp[0] = total;

    std::string clx;
    if (WithClx && FGeneration != 2) {
      std::string plc;
      int32_t cp = 0;
      Add32(plc, 0);
      for (const TPiece& p : Pieces) Add32(plc, static_cast<uint32_t>(cp += static_cast<int32_t>(p.Text.size())));
      for (size_t i = 0; i < Pieces.size(); ++i) {
        plc += std::string(2, '\0');
        Add32(plc, fcs[i]);
        plc += std::string(2, '\0');
      }
      clx = "\x02";
      Add32(clx, static_cast<uint32_t>(plc.size()));
      clx += plc;
    }
    std::string fnRef, fnTxt;
    if (!FootnoteRefs.empty()) {
      for (int32_t r : FootnoteRefs) Add32(fnRef, static_cast<uint32_t>(r));
      Add32(fnRef, static_cast<uint32_t>(ccp[0] + 1));
      for (size_t i = 0; i < FootnoteRefs.size(); ++i) {
        const bool custom = std::find(CustomMarks.begin(), CustomMarks.end(), i) != CustomMarks.end();
        fnRef += std::string(custom ? "\x00\x00" : "\x01\x00", 2);
      }
      for (int32_t t : FootnoteTexts) Add32(fnTxt, static_cast<uint32_t>(t));
      Add32(fnTxt, static_cast<uint32_t>(ccp[1]));
    }
    // Table data: in the table stream for Word 97, after the text otherwise.
    std::string& dest = w97 ? Table : Document;
    auto place = [&](const std::string& data, size_t pair) {
      if (data.empty()) return;
      const uint32_t fc = static_cast<uint32_t>(dest.size());
      dest += data;
      PutPair(pair, fc, static_cast<uint32_t>(data.size()));
    };
    place(clx, 33);
    place(fnRef, 2);
    place(fnTxt, 3);
    std::string hdd;
    for (int32_t cp : HeaderStories) Add32(hdd, static_cast<uint32_t>(cp));
    place(hdd, 11);
    if (w97) place(Dop, 31);
    if (!w97 && FGeneration != 2 && !SectionSprms.empty()) {
      std::string dop(84, '\0');
      dop[1] = static_cast<char>(DopHeaderBits);
      place(dop, 31);
      const auto n = static_cast<uint32_t>(SectionSprms.size());
      std::vector<uint32_t> sepx;
      for (const std::string& g : SectionSprms) {
        sepx.push_back(static_cast<uint32_t>(Document.size()));
        std::string rec(2, '\0');
        Put16(rec, 0, static_cast<uint16_t>(g.size()));
        Document += rec + g;
      }
      std::string sed;
      for (uint32_t k = 0; k <= n; ++k) Add32(sed, static_cast<uint32_t>(ccp[0]) * k / n);
      for (uint32_t k = 0; k < n; ++k) {
        sed += std::string(2, '\0');
        Add32(sed, sepx[k]);
        sed += std::string(2, '\0');
        Add32(sed, 0xFFFFFFFFu);
      }
      place(sed, 6);
    }
    if (!w97 && !Fonts.empty()) {
      std::string ffn(2, '\0');
      for (const auto& [charset, name] : Fonts) {
        std::string rec = std::string(1, '\x04') + "\x90\x01" + static_cast<char>(charset) + '\0' + name + '\0';
        ffn += static_cast<char>(rec.size());
        ffn += rec;
      }
      Put16(ffn, 0, static_cast<uint16_t>(ffn.size()));
      place(ffn, 15);
      // One character page with a run per piece.
      std::vector<TRunProps> runs;
      for (size_t k = 0; k < Pieces.size(); ++k) {
        std::string props;
        if (Pieces[k].Font >= 0) {
          props = "\x03\x5D  ";
          Put16(props, 2, static_cast<uint16_t>(Pieces[k].Font));
        }
        runs.push_back({fcs[k], fcs[k] + static_cast<uint32_t>(Pieces[k].Text.size()), props});
      }
      const uint32_t pn = AddPage(runs, 1);
      std::string bte;
      Add32(bte, fcs.front());
      Add32(bte, fcMac);
      bte += std::string(1, static_cast<char>(pn & 0xFF)) + static_cast<char>(pn >> 8);
      place(bte, 12);
    }

    if (w97 && (!Fonts.empty() || std::any_of(Pieces.begin(), Pieces.end(), [](const TPiece& P) { return !P.Chpx.empty(); }))) {
      // Font names in UTF-16 from each record's 40th byte; one character
      // page with a run per piece, the symbol pieces' naming their code.
      std::string ffn(4, '\0');
      Put16(ffn, 0, static_cast<uint16_t>(Fonts.size()));
      for (const auto& [charset, name] : Fonts) {
        std::string rec(39, '\0');
        rec[3] = static_cast<char>(charset);
        for (char c : name) rec += std::string{c, '\0'};
        rec += std::string(2, '\0');
        ffn += static_cast<char>(rec.size());
        ffn += rec;
      }
      place(ffn, 15);
      std::vector<TRunProps> runs;
      for (size_t k = 0; k < Pieces.size(); ++k) {
        std::string props;
        if (Pieces[k].Symbol != 0) {
          props = std::string("\x06\x09\x6A", 3) + std::string(4, '\0');
          Put16(props, 3, static_cast<uint16_t>(Pieces[k].Font));
          Put16(props, 5, Pieces[k].Symbol);
        } else if (!Pieces[k].Chpx.empty()) {
          props = static_cast<char>(Pieces[k].Chpx.size()) + Pieces[k].Chpx;
        }
        runs.push_back({ByteOffset(fcs[k]), byteEnds[k], props});
      }
      const uint32_t pn = AddPage(runs, 1);
      std::string bte;
      Add32(bte, 0);
      Add32(bte, fcMac);
      Add32(bte, pn);
      place(bte, 12);
    }

    if (!w97 && FGeneration != 2 && !Paragraphs.empty()) {
      // One page of 8-bit runs cut after each mark; the properties' size
      // byte counts words.
      std::vector<TRunProps> runs;
      size_t para = 0;
      for (size_t k : order) {
        uint32_t from = fcs[k];
        for (size_t i = 0; i < Pieces[k].Text.size(); ++i) {
          const char16_t c = Pieces[k].Text[i];
          if (c != u'\r' && c != 7 && i + 1 != Pieces[k].Text.size()) continue;
          std::string props;
          if (para < Paragraphs.size()) {
            std::string papx(2, '\0');
            Put16(papx, 0, Paragraphs[para].Istd);
            papx += Paragraphs[para].Sprms;
            if (papx.size() % 2) papx += '\0';
            props = static_cast<char>(papx.size() / 2) + papx;
          }
          runs.push_back({from, fcs[k] + static_cast<uint32_t>(i + 1), props});
          from = fcs[k] + static_cast<uint32_t>(i + 1);
          if (c == u'\r' || c == 7) ++para;
        }
      }
      const uint32_t pn = AddPage(runs, 7);
      std::string bte;
      Add32(bte, runs.front().From);
      Add32(bte, runs.back().To);
      bte += std::string(1, static_cast<char>(pn & 0xFF)) + static_cast<char>(pn >> 8);
      place(bte, 13);
    }
    if (!w97 && FGeneration != 2 && !Styles.empty()) place(StyleSheet(true), 1);
    if (w97 && !Paragraphs.empty()) {
      // Runs of the pieces' bytes cut after each mark, in FC order.
      std::vector<TRunProps> runs;
      size_t para = 0;
      std::vector<std::vector<TRunProps>> byPiece(Pieces.size());
      for (size_t k = 0; k < Pieces.size(); ++k) {
        const uint32_t width = Pieces[k].Compressed ? 1 : 2;
        uint32_t from = ByteOffset(fcs[k]);
        for (size_t i = 0; i < Pieces[k].Text.size(); ++i) {
          const char16_t c = Pieces[k].Text[i];
          const bool last = i + 1 == Pieces[k].Text.size();
          if (c != u'\r' && c != 7 && !last) continue;
          const uint32_t to = ByteOffset(fcs[k]) + static_cast<uint32_t>(i + 1) * width;
          std::string props;
          if (para < Paragraphs.size()) {
            std::string papx(2, '\0');
            Put16(papx, 0, Paragraphs[para].Istd);
            papx += Paragraphs[para].Sprms;
            props = static_cast<char>((papx.size() + 2) / 2) + papx;
          }
          byPiece[k].push_back({from, to, props});
          from = to;
          if (c == u'\r' || c == 7) ++para;
        }
      }
      for (size_t k : order) runs.insert(runs.end(), byPiece[k].begin(), byPiece[k].end());
      const uint32_t pn = AddPage(runs, 13);
      std::string bte;
      Add32(bte, runs.front().From);
      Add32(bte, runs.back().To);
      Add32(bte, pn);
      place(bte, 13);
    }
    if (w97 && !Styles.empty()) place(StyleSheet(), 1);
    if (w97 && !Lists.empty()) {
      std::string lst(2, '\0'), levels;
      Put16(lst, 0, static_cast<uint16_t>(Lists.size()));
      for (const TList& l : Lists) {
        std::string lstf(28, '\0');
        Put32(lstf, 0, static_cast<uint32_t>(l.Id));
        for (int i = 0; i < 9; ++i) Put16(lstf, 8 + 2 * i, 0xFFF);
        lstf[26] = l.Levels.size() == 1 ? 1 : 0;
        lst += lstf;
        std::vector<TLevel> all = l.Levels;
        while (all.size() > 1 && all.size() < 9) all.push_back({1, 0, 0, {static_cast<char16_t>(all.size()), u'.'}});
        for (const TLevel& v : all) levels += Level(v);
      }
      // The pair covers the list records; their levels follow them.
      PutPair(73, static_cast<uint32_t>(Table.size()), static_cast<uint32_t>(lst.size()));
      Table += lst + levels;
      std::string lfo(4, '\0'), data;
      Put32(lfo, 0, static_cast<uint32_t>(Overrides.size()));
      for (const TOverride& o : Overrides) {
        std::string rec(16, '\0');
        Put32(rec, 0, static_cast<uint32_t>(o.ListId));
        rec[12] = static_cast<char>(o.Levels.size());
        lfo += rec;
        if (o.Levels.empty()) continue;
        data += std::string(4, '\xFF');
        for (const TLevelOverride& v : o.Levels) {
          std::string lvl(8, '\0');
          Put32(lvl, 0, static_cast<uint32_t>(v.Start));
          lvl[4] = static_cast<char>(v.Level | (v.StartAt ? 0x10 : 0) | (v.Formatting ? 0x20 : 0));
          data += lvl;
          if (v.Formatting) data += Level(v.Format);
        }
      }
      place(lfo + data, 74);
    }

    std::string& d = Document;
    if (w97) Put16(d, 152, 93);
    Put16(d, 0, FGeneration == 8 ? 0xA5EC : FGeneration == 2 ? 0xA5DB : 0xA5DC);
    Put16(d, 2, FGeneration == 8 ? 193 : FGeneration == 2 ? 45 : FGeneration == 7 ? 104 : 101);
    Put16(d, 6, lID);
    d[10] = static_cast<char>(Flag);
    d[11] = static_cast<char>(Encryption);
    Put16(d, 20, chse);
    Put32(d, 24, fcMin);
    Put32(d, 28, fcMac);
    if (w97) {
      Put16(d, 60, lidFE);
      for (int i = 0; i < 8; ++i) Put32(d, 76 + 4 * i, static_cast<uint32_t>(ccp[i]));
    } else {
      for (int i = 0; i < (FGeneration == 2 ? 5 : 8); ++i) Put32(d, 52 + 4 * i, static_cast<uint32_t>(ccp[i]));
    }
    for (auto& [pair, fc, lcb] : FPairs) {
      if (w97) {
        Put32(d, 154 + 8 * pair, fc);
        Put32(d, 158 + 8 * pair, lcb);
      } else if (FGeneration != 2) {
        Put32(d, 88 + 8 * pair, fc);
        Put32(d, 92 + 8 * pair, lcb);
      }
    }
  }

  // A compound file holding the document, its table stream and Extra
  // streams (name, bytes).
  std::string Compound(const std::vector<std::pair<std::string, std::string>>& Extra = {}) {
    Build();
    TCfbBuilder b;
    b.AddStream("WordDocument", Document);
    if (FGeneration == 8) b.AddStream((Encryption & 0x02) ? "1Table" : "0Table", Table.empty() ? "x" : Table);
    for (const auto& [name, data] : Extra) b.AddStream(name, data);
    return b.Build();
  }

  static uint32_t ByteOffset(uint32_t Fc) { return Fc & 0x40000000u ? (Fc & ~0x40000000u) / 2 : Fc; }

  static void Add32(std::string& S, uint32_t V) {
    for (int i = 0; i < 4; ++i) S += static_cast<char>((V >> (8 * i)) & 0xFF);
  }
  static void Put16(std::string& S, size_t Off, uint16_t V) { TCfbBuilder::Put16(S, Off, V); }
  static void Put32(std::string& S, size_t Off, uint32_t V) { TCfbBuilder::Put32(S, Off, V); }

 private:
  void PutPair(size_t Pair, uint32_t Fc, uint32_t Lcb) { FPairs.push_back({Pair, Fc, Lcb}); }

  // A run of a property page: its bytes [From, To) and its properties as
  // the page holds them (a size byte first; empty: none).
  struct TRunProps {
    uint32_t From, To;
    std::string Props;
  };
  // Appends a property page to the document and returns its number. Entry:
  // the size of the entries after the FCs, whose first byte is the word
  // offset of the run's properties.
  uint32_t AddPage(const std::vector<TRunProps>& Runs, size_t Entry) {
    Document.resize((Document.size() + 511) / 512 * 512, '\0');
    std::string fkp(512, '\0');
    const size_t n = Runs.size();
    size_t top = 511;
    std::vector<std::pair<std::string, size_t>> placed;  // runs with the same properties share them, as in Word
    for (size_t k = 0; k < n; ++k) {
      Put32(fkp, 4 * k, Runs[k].From);
      Put32(fkp, 4 * k + 4, Runs[k].To);
      if (Runs[k].Props.empty()) continue;
      const auto same = std::find_if(placed.begin(), placed.end(), [&](const auto& P) { return P.first == Runs[k].Props; });
      size_t at = same == placed.end() ? 0 : same->second;
      if (same == placed.end()) {
        at = top = (top - Runs[k].Props.size()) & ~size_t{1};
        fkp.replace(top, Runs[k].Props.size(), Runs[k].Props);
        placed.push_back({Runs[k].Props, top});
      }
      fkp[4 * (n + 1) + Entry * k] = static_cast<char>(at / 2);
    }
    fkp[511] = static_cast<char>(n);
    Document += fkp;
    return static_cast<uint32_t>(Document.size() / 512 - 1);
  }

  // Word 97 records have 10-byte bases and nameless UTF-16 names; Word 6/95
  // ones 8-byte bases and nameless 8-bit names.
  std::string StyleSheet(bool Word6 = false) const {
    const uint16_t base = Word6 ? 8 : 10, header = Word6 ? 14 : 18;
    std::string stsh(2 + header, '\0');
    Put16(stsh, 0, header);
    Put16(stsh, 2, static_cast<uint16_t>(Styles.size()));
    Put16(stsh, 4, base);
    for (const TStyle& st : Styles) {
      // Base, a nameless name, then the paragraph and character groups.
      std::string rec(Word6 ? 10 : 14, '\0');
      Put16(rec, 0, st.Sti);
      Put16(rec, 2, static_cast<uint16_t>(1 | st.Base << 4));
      Put16(rec, 4, 2);
      std::string papx(2, '\0');
      papx += st.Papx;
      for (const std::string* g : {static_cast<const std::string*>(&papx), &st.Chpx}) {
        std::string cb(2, '\0');
        Put16(cb, 0, static_cast<uint16_t>(g->size()));
        rec += cb + *g;
        if (g->size() % 2) rec += '\0';
      }
      std::string cb(2, '\0');
      Put16(cb, 0, static_cast<uint16_t>(rec.size()));
      stsh += cb + rec;
    }
    return stsh;
  }

  static std::string Level(const TLevel& L) {
    std::string lvl(28, '\0');
    Put32(lvl, 0, static_cast<uint32_t>(L.Start));
    lvl[4] = static_cast<char>(L.Nfc);
    lvl[5] = static_cast<char>(L.Flags);
    std::string chpx;
    if (L.Font >= 0) {
      chpx = "\x4F\x4A  ";
      Put16(chpx, 2, static_cast<uint16_t>(L.Font));
    }
    lvl[24] = static_cast<char>(chpx.size());
    std::string text(2, '\0');
    Put16(text, 0, static_cast<uint16_t>(L.Text.size()));
    for (char16_t c : L.Text) text += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return lvl + chpx + text;
  }

  struct TPair {
    size_t Pair;
    uint32_t Fc, Lcb;
  };
  int FGeneration;
  std::vector<TPair> FPairs;
};

// A property set stream with one section holding Props (id, type, value
// bytes as they follow the type).
inline std::string PropertySet(const std::vector<std::tuple<uint32_t, uint16_t, std::string>>& Props) {
  std::string head(48, '\0');
  TCfbBuilder::Put16(head, 0, 0xFFFE);
  TCfbBuilder::Put32(head, 24, 1);
  TCfbBuilder::Put32(head, 44, 48);
  std::string pairs, values;
  const size_t base = 8 + 8 * Props.size();
  for (const auto& [id, type, value] : Props) {
    TWordDocBuilder::Add32(pairs, id);
    TWordDocBuilder::Add32(pairs, static_cast<uint32_t>(base + values.size()));
    std::string v(4, '\0');
    TCfbBuilder::Put16(v, 0, type);
    v += value;
    while (v.size() % 4) v += '\0';
    values += v;
  }
  std::string section;
  TWordDocBuilder::Add32(section, static_cast<uint32_t>(base + values.size()));
  TWordDocBuilder::Add32(section, static_cast<uint32_t>(Props.size()));
  return head + section + pairs + values;
}

}  // namespace lkw::testing
