// Parses arbitrary bytes with the XML engine, with and without event
// handlers that drop, free and cancel, then walks the tree every way a
// reader does.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/containers/LKWXML.h"

namespace {

void Walk(lkw::TLKXMLItem* n, int budget) {
  // Readers look up attributes and whole text on arbitrary nodes.
  for (int i = 0; i < n->Items().Count() && budget > 0; ++i, --budget) {
    lkw::TLKXMLItem* c = n->Items()[i];
    c->AttributeValue(u"id");
    c->GetTagValue();
    if (i % 3 == 0) c->ProcessAttributes();
    Walk(c, budget / 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string_view bytes(reinterpret_cast<const char*>(Data), Size);
  uint8_t mode = Size > 0 ? Data[Size - 1] : 0;
  lkw::TLKXMLEngine e;
  e.SetAttributesAutoProcess(mode & 1);
  e.SetMaxDepth(mode & 2 ? 8 : 64);
  if (mode & 4) {
    e.SetOnTag([](lkw::TObject*, lkw::TLKXMLItem*, std::u16string_view Name, std::u16string_view,
                  std::u16string_view, bool& Accept) { Accept = Name.size() % 3 != 1; });
  }
  int closed = 0;
  if (mode & 8) {
    e.SetOnAfterTag([&e, &closed](lkw::TObject*, lkw::TLKXMLItem*& Node, bool& Cancel) {
      Node->Text();
      if (Node != e.RootItem() && Node->TagName().size() % 2 == 0) {
        delete Node;
        Node = nullptr;
      }
      Cancel = ++closed > 5000;
    });
  }
  e.LoadFromBytes(bytes);
  lkw::TLKXMLItem* root = e.RootItem();
  root->Text();
  e.GetItemByTag(nullptr, u"p");
  root->GetChild(u"w:t");
  Walk(root, 2000);
  lkw::WideString s(bytes.begin(), bytes.end());
  lkw::ReplaceHTMLChars(s);
  lkw::XMLStringToDateTime(s);
  return 0;
}
