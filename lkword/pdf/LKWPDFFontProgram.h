// What embedded font programs tell about their glyphs when a PDF font has no
// ToUnicode map: TrueType 'cmap' subtables and 'post' glyph names, Type 1
// built-in encodings (the cleartext part), CFF charsets and encodings. Every
// table is bounds-checked; a damaged program gives what could be read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lkw {

struct TPDFFontProgram {
  // Glyph names by glyph index ('post', CFF charset); empty when none.
  std::vector<std::string> GlyphNames;
  // First Unicode value each glyph has in a Unicode cmap (0: none).
  std::vector<char32_t> GlyphUnicode;
  // TrueType: one-byte codes through the (3,0) symbol subtable (F000+code,
  // or code) and the (1,0) Macintosh subtable; -1 where unmapped.
  std::array<int32_t, 256> SymbolCodeToGlyph{};
  std::array<int32_t, 256> MacCodeToGlyph{};
  bool HasSymbolCmap = false;
  bool HasMacCmap = false;
  // Unicode cmap (3,1), (3,10) or (0,x): code point -> glyph.
  std::unordered_map<char32_t, uint32_t> UnicodeToGlyph;
  // Type 1 / CFF built-in encoding: glyph names by code.
  std::array<std::string, 256> Encoding;
  bool HasEncoding = false;
  // CFF: a CID-keyed font (glyphs are named by CID, not by name).
  bool CIDKeyed = false;
  // CFF CID-keyed: CID of each glyph.
  std::vector<uint32_t> GlyphCID;

  TPDFFontProgram() {
    SymbolCodeToGlyph.fill(-1);
    MacCodeToGlyph.fill(-1);
  }
  const std::string* GlyphName(uint32_t Glyph) const {
    return Glyph < GlyphNames.size() && !GlyphNames[Glyph].empty() ? &GlyphNames[Glyph] : nullptr;
  }
};

// A TrueType or OpenType (sfnt) program: cmap, post, and a CFF table inside
// an OpenType font. False when the data is no sfnt.
bool ParseTrueTypeProgram(std::string_view Data, TPDFFontProgram& Program);
// A bare CFF program (FontFile3 /Type1C or /CIDFontType0C).
bool ParseCFFProgram(std::string_view Data, TPDFFontProgram& Program);
// The cleartext part of a Type 1 program (FontFile): its /Encoding.
bool ParseType1Program(std::string_view Data, TPDFFontProgram& Program);
// Any of the three, told apart by their first bytes.
bool ParseFontProgram(std::string_view Data, TPDFFontProgram& Program);

}  // namespace lkw
