// Parses arbitrary bytes with the XML engine, with and without event
// handlers that drop, free and cancel, then walks the tree and looks
// elements up every way a reader does. Half the inputs are also loaded in pieces, from the bytes and
// from a source handing them out a few at a time: events and tree must be
// those of the whole load.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
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

void Dump(lkw::TLKXMLItem* N, std::u16string& Out, int Depth) {
  if (Depth > 200) return;
  Out += static_cast<char16_t>(u'0' + N->Kind());
  Out.append(N->TagName()).append(u"|").append(N->Attributes()).append(u"|").append(N->Value()).append(u"|");
  Out.append(N->Tail()).append(u"\n");
  for (int i = 0; i < N->Items().Count(); ++i) Dump(N->Items()[i], Out, Depth + 1);
}

// The events and the final tree of a load: How 0 whole, 1 in pieces of
// Piece characters, 2 the same from a source giving Chunk bytes at a time.
std::u16string Trace(std::string_view Bytes, int How, size_t Piece, size_t Chunk, bool Free) {
  lkw::TLKXMLEngine e;
  std::u16string log;
  int closed = 0;
  e.SetOnTag([&](lkw::TObject*, lkw::TLKXMLItem* Parent, std::u16string_view Name, std::u16string_view Value,
                 std::u16string_view Attrs, bool& Accept) {
    log.append(u"<").append(Parent->TagName()).append(u"/").append(Name).append(u" ").append(Attrs).append(u" ");
    log.append(Value).append(u"\n");
    Accept = Name.size() % 5 != 1;
  });
  e.SetOnAfterTag([&](lkw::TObject*, lkw::TLKXMLItem*& Node, bool& Cancel) {
    log.append(u">").append(Node->TagName()).append(u" ").append(Node->Text()).append(u"\n");
    Cancel = ++closed > 3000;
    if (Free && Node->Level() > 1) {
      delete Node;
      Node = nullptr;
    }
  });
  size_t given = 0;
  if (How == 0) {
    e.LoadFromBytes(Bytes);
  } else if (How == 1) {
    e.LoadFromBytesInPieces(Bytes, Piece);
  } else {
    e.LoadFromSourceInPieces(
        [&](std::string& Into) {
          if (given == Bytes.size()) return false;
          const size_t n = std::min(Chunk, Bytes.size() - given);
          Into.append(Bytes.substr(given, n));
          given += n;
          return true;
        },
        Piece);
  }
  Dump(e.RootItem(), log, 0);
  return log;
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
  // The readers' look-ups by local name.
  if (lkw::TLKXMLItem* p = lkw::FindElement(root, u"p")) {
    lkw::ElementText(p);
    lkw::ElementText(lkw::FindChildElement(p, u"span"));
    lkw::ForEachChildElement(*p, u"a", [](lkw::TLKXMLItem& a) { a.AttributeValue(u"href"); });
  }
  Walk(root, 2000);
  if (mode & 16) {
    const size_t piece = 1 + Size % 61, chunk = 1 + (mode >> 5) * 37;
    const bool free = mode & 8;
    const std::u16string whole = Trace(bytes, 0, piece, chunk, free);
    if (Trace(bytes, 1, piece, chunk, free) != whole || Trace(bytes, 2, piece, chunk, free) != whole) {
      std::fprintf(stderr, "a load in pieces differs from the whole load\n");
      std::abort();
    }
  }
  lkw::WideString s(bytes.begin(), bytes.end());
  lkw::ReplaceHTMLChars(s);
  lkw::XMLStringToDateTime(s);
  return 0;
}
