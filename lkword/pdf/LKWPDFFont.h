// PDF fonts: what a page's font resources say about turning shown byte
// strings into Unicode text and glyph advances.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TLKPDFReader;

// A PDF text string (Info dictionary values, outline titles) as Unicode:
// UTF-16BE after an FE FF mark (language escapes dropped), UTF-8 after an
// EF BB BF mark, else PDFDocEncoding. NUL characters (C string terminators
// some producers leave) are dropped; undefined PDFDoc codes give U+FFFD.
WideString DecodePDFTextString(std::string_view Bytes);

// Text a producer gives for glyphs (ToUnicode values, replacement text) as
// glyph text: presentation forms written out, tabs and line ends as spaces,
// other controls dropped.
void AppendMappedText(std::u16string& Out, std::u16string_view Text);

// One glyph of a shown string.
struct TPDFGlyph {
  uint32_t Code = 0;       // the character code as shown
  uint8_t CodeBytes = 1;   // bytes the code took in the string (1 to 4)
  bool WordSpace = false;  // a one-byte code 32: word spacing (Tw) applies
  bool Mapped = true;      // false: no Unicode known; Text is empty
  // Horizontal advance in text space for a font size of 1, before Tc, Tw
  // and Tz (/Widths / 1000, or through the FontMatrix of a Type 3 font).
  double Width = 0;
  std::u16string Text;     // Unicode text of the glyph (ligatures expanded)
};

// A glyph's text comes from the first of these that gives something
// usable: the ToUnicode map (unless it gives only controls, private-use
// characters or an implausibly long value), the glyph name (Differences,
// base or built-in encoding) through the Adobe Glyph List, the characters of
// a predefined Unicode or code-page CMap, the CID's character in Adobe's
// collection, the embedded program's cmap or glyph names. Presentation
// forms and ligatures come out as their letters. When nothing maps a glyph,
// Mapped is false and Text empty (no guessed characters).
class TLKPDFFont : public TObject {
 public:
  TLKPDFFont();
  ~TLKPDFFont() override;

  // Reads the font dictionary Dict (references resolved by the caller or
  // through Reader), its encoding, ToUnicode CMap, descendant font, widths
  // and, where the mapping needs it, the embedded font program. ObjNum is the
  // dictionary's object (0 for a direct dictionary). Never raises for a
  // damaged font: what cannot be read is left out.
  void Load(TLKPDFReader& Reader, const TPDFObject& Dict, int32_t ObjNum);

  // Appends the glyphs of the shown string Bytes to Glyphs.
  void Decode(std::string_view Bytes, std::vector<TPDFGlyph>& Glyphs) const;

  // Writing mode 1 (a vertical CMap such as Identity-V).
  bool Vertical() const { return FVertical; }
  // Ascent and descent in text space for a font size of 1 (from the
  // descriptor, else typical values).
  double Ascent() const { return FAscent; }
  double Descent() const { return FDescent; }
  // Glyphs decoded without a Unicode mapping so far.
  int64_t UnmappedGlyphs() const { return FUnmapped; }

  // Resource name as used by Tf, with its slash (/F1).
  const std::string& FontName() const { return FFontName; }
  void SetFontName(const std::string& Value) { FFontName = Value; }
  // Base encoding name, lowercase, with its slash (/winansiencoding); for a
  // composite font the CMap name (/identity-h); empty when the font names
  // none.
  const std::string& Encoding() const { return FEncoding; }
  bool Identity() const { return FIdentity; }
  // /Subtype (Type1, TrueType, Type3, Type0, ...) and /BaseFont.
  const std::string& Subtype() const { return FSubtype; }
  const std::string& BaseFont() const { return FBaseFont; }

  std::string ClassName() const override { return "TLKPDFFont"; }

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::string FFontName;
  std::string FEncoding;
  std::string FSubtype;
  std::string FBaseFont;
  bool FIdentity = false;
  bool FVertical = false;
  double FAscent = 0.9, FDescent = -0.2;
  mutable int64_t FUnmapped = 0;
};

// The fonts of a document, loaded once per font object and shared by the
// pages that use it.
class TLKPDFFonts : public TObject {
 public:
  explicit TLKPDFFonts(TLKPDFReader* AOwner = nullptr) : FOwner(AOwner) {}
  TLKPDFReader* Owner() const { return FOwner; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TLKPDFFont* GetItem(int Index) const;
  TLKPDFFont* AddItem();
  // First font whose FontName equals AFontName ignoring case, else nullptr.
  TLKPDFFont* FindFontByName(std::string_view AFontName) const;
  // The font a resource dictionary's /Font entry Name refers to: Entry is
  // the entry's value (a reference, or a direct dictionary). A referenced
  // font is loaded on first use and then shared; nullptr when Entry is no
  // font. Needs an owner.
  TLKPDFFont* FontFor(std::string_view Name, const TPDFObject& Entry);
  void Clear();
  // Glyphs without a Unicode mapping over all fonts, but for those inside
  // spans with replacement text, whose text is that replacement.
  int64_t UnmappedGlyphs() const;
  void NoteReplacedUnmapped(int64_t N) { FReplacedUnmapped += N; }
  // Strings shown while no font was selected (or the one named is not
  // there): they cannot be decoded, and are counted for the warning.
  void NoteFontlessString() { ++FFontless; }
  int64_t FontlessStrings() const { return FFontless; }
  std::string ClassName() const override { return "TLKPDFFonts"; }

 private:
  TLKPDFReader* FOwner;
  int64_t FFontless = 0;
  int64_t FReplacedUnmapped = 0;
  std::vector<std::unique_ptr<TLKPDFFont>> FItems;
  std::unordered_map<int32_t, TLKPDFFont*> FByObject;
};

}  // namespace lkw
