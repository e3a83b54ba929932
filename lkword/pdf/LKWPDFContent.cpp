#include "lkword/pdf/LKWPDFPage.h"

#include "lkword/pdf/LKWPDF.h"

namespace lkw {

TLKPDFItem* TLKPDFItems::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFItem* TLKPDFItems::AddItem(TLKPDFItemType ItemType) {
  if (ItemType == itText)
    FItems.push_back(std::make_unique<TLKPDFItemText>());
  else
    FItems.push_back(std::make_unique<TLKPDFItem>());
  FItems.back()->SetItemType(ItemType);
  return FItems.back().get();
}

void TLKPDFItems::SortItems() {}

TLKPDFPage::TLKPDFPage() : FItems(std::make_unique<TLKPDFItems>()) {}
TLKPDFPage::~TLKPDFPage() = default;

WideString TLKPDFPage::GetPlainText() const {
  WideString out;
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (i) out += u"\r\n";
    out += FLines[i];
  }
  return out;
}

// Provisional: the shown strings of each text object, one line per object.
void ExtractPageText(TLKPDFReader& Reader, std::string_view Content, const TPDFObject& Resources, const TPDFObject&,
                     int, const TPDFTextOptions&, TLKPDFPage& Page) {
  const TPDFObject res = Reader.Resolve(Resources);
  const TPDFObject* fontsEntry = res.Get("Font");
  const TPDFObject fonts = fontsEntry ? Reader.Resolve(*fontsEntry) : TPDFObject();
  TPDFLexer lexer(Content);
  TPDFToken tok;
  std::vector<TPDFToken> operands;
  TLKPDFFont* font = nullptr;
  std::vector<TPDFGlyph> glyphs;
  WideString line;
  while (lexer.Next(tok)) {
    if (tok.Kind != TPDFTokenKind::tkKeyword) {
      operands.push_back(tok);
      if (operands.size() > 64) operands.erase(operands.begin());
      continue;
    }
    if (tok.Text == "Tf" && operands.size() >= 2 && operands[operands.size() - 2].Kind == TPDFTokenKind::tkName) {
      const RawByteString& name = operands[operands.size() - 2].Text;
      const TPDFObject* entry = fonts.Get(name);
      font = entry ? Reader.Fonts().FontFor(name, *entry) : nullptr;
    } else if (tok.Text == "Tj" || tok.Text == "TJ" || tok.Text == "'" || tok.Text == "\"") {
      for (const TPDFToken& op : operands) {
        if (op.Kind != TPDFTokenKind::tkString) continue;
        glyphs.clear();
        if (font) font->Decode(op.Text, glyphs);
        for (const TPDFGlyph& g : glyphs) line += g.Text;
      }
    } else if (tok.Text == "ET" && !line.empty()) {
      Page.Lines().push_back(line);
      line.clear();
    }
    operands.clear();
  }
  if (!line.empty()) Page.Lines().push_back(line);
}

}  // namespace lkw
