#include "lkword/pdf/LKWPDFFont.h"

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFEncoding.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

WideString DecodePDFTextString(std::string_view Bytes) {
  WideString out;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(Bytes[i]); };
  if (Bytes.size() >= 2 && ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE))) {
    // A byte-swapped mark is not allowed, but some producers write it.
    const bool le = byte(0) == 0xFF;
    out.reserve(Bytes.size() / 2);
    bool inEscape = false;
    for (size_t i = 2; i + 1 < Bytes.size(); i += 2) {
      const char16_t c = le ? static_cast<char16_t>(byte(i) | byte(i + 1) << 8)
                            : static_cast<char16_t>(byte(i) << 8 | byte(i + 1));
      // ESC language-code ESC marks a language change, not text.
      if (c == 0x1B) {
        inEscape = !inEscape;
        continue;
      }
      if (inEscape || c == 0) continue;
      out.push_back(c);
    }
    return out;
  }
  if (Bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    out = Utf8ToWide(Bytes.substr(3));
    std::erase(out, u'\0');
    return out;
  }
  out.reserve(Bytes.size());
  for (size_t i = 0; i < Bytes.size(); ++i) {
    if (byte(i) == 0) continue;
    const char16_t c = PDFDocEncodingChar(byte(i));
    out.push_back(c ? c : u'\uFFFD');
  }
  return out;
}

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
