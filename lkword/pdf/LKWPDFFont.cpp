#include "lkword/pdf/LKWPDFFont.h"

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

// Provisional decoding until the encodings land: one byte per code, Latin-1,
// half an em per glyph.
struct TLKPDFFont::TImpl {};

TLKPDFFont::TLKPDFFont() : FImpl(std::make_unique<TImpl>()) {}
TLKPDFFont::~TLKPDFFont() = default;

void TLKPDFFont::Load(TLKPDFReader&, const TPDFObject&, int32_t) {}

void TLKPDFFont::Decode(std::string_view Bytes, std::vector<TPDFGlyph>& Glyphs) const {
  for (const unsigned char c : Bytes) {
    TPDFGlyph g;
    g.Code = c;
    g.WordSpace = c == 32;
    g.Width = 0.5;
    g.Text.assign(1, static_cast<char16_t>(c));
    Glyphs.push_back(std::move(g));
  }
}

TLKPDFFont* TLKPDFFonts::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFFont* TLKPDFFonts::AddItem() {
  FItems.push_back(std::make_unique<TLKPDFFont>());
  return FItems.back().get();
}

TLKPDFFont* TLKPDFFonts::FindFontByName(std::string_view AFontName) const {
  for (const auto& f : FItems)
    if (CompareTextIgnoreCase(AsciiToWide(f->FontName()), AsciiToWide(std::string(AFontName))) == 0) return f.get();
  return nullptr;
}

TLKPDFFont* TLKPDFFonts::FontFor(std::string_view Name, const TPDFObject& Entry) {
  if (!FOwner) return nullptr;
  if (Entry.IsRef()) {
    if (auto it = FByObject.find(Entry.RefNum); it != FByObject.end()) return it->second;
  }
  const TPDFObject dict = Entry.IsRef() ? FOwner->Resolve(Entry) : Entry;
  if (!dict.IsDict()) return nullptr;
  TLKPDFFont* font = AddItem();
  std::string name(1, '/');
  name.append(Name);
  font->SetFontName(name);
  font->Load(*FOwner, dict, Entry.IsRef() ? Entry.RefNum : 0);
  if (Entry.IsRef()) FByObject[Entry.RefNum] = font;
  return font;
}

void TLKPDFFonts::Clear() {
  FItems.clear();
  FByObject.clear();
}

int64_t TLKPDFFonts::UnmappedGlyphs() const {
  int64_t n = 0;
  for (const auto& f : FItems) n += f->UnmappedGlyphs();
  return n;
}

}  // namespace lkw
