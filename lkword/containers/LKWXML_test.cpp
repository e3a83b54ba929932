#include "lkword/containers/LKWXML.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

std::string TestFile(const std::string& name) { return std::string(LKWORD_TESTDATA) + "/xml/" + name; }

std::string U8(std::u16string_view s) { return WideToUtf8(s); }

// The tree in one line: name(value)[children]{tail}, attributes as @name=value.
std::string Shape(const TLKXMLItem* n) {
  std::string s;
  switch (n->Kind()) {
    case ikAttribute: s = "@" + U8(n->TagName()) + "=" + U8(n->Value()); break;
    case ikComment: s = "#comment(" + U8(n->Value()) + ")"; break;
    case ikCDATA: s = "#cdata(" + U8(n->Value()) + ")"; break;
    case ikProperty:
      s = U8(n->TagName());
      if (!n->Value().empty()) s.append("(").append(U8(n->Value())).append(")");
      break;
  }
  if (n->Items().Count() > 0) {
    s += "[";
    for (int i = 0; i < n->Items().Count(); ++i) s += (i ? " " : "") + Shape(n->Items()[i]);
    s += "]";
  }
  if (!n->Tail().empty()) s.append("{").append(U8(n->Tail())).append("}");
  return s;
}

std::string Parse(const std::string& xml, bool autoAttrs = false) {
  TLKXMLEngine e;
  e.SetAttributesAutoProcess(autoAttrs);
  e.LoadFromBytes(xml);
  return Shape(e.RootItem());
}

WideString Decoded(const std::string& utf8) {
  WideString s = Utf8ToWide(utf8);
  ReplaceHTMLChars(s);
  return s;
}

TEST(XMLTreeTest, MixedContentKeepsEveryPieceOfTextInOrder) {
  TLKXMLEngine e;
  e.LoadFromBytes("<p>This is <b>bold</b> and <i>it<u>ali</u>c</i> text.<br/>Next line</p>");
  TLKXMLItem* p = e.RootItem();
  EXPECT_EQ(Shape(p), "p(This is )[b(bold){ and } i(it)[u(ali){c}]{ text.} br{Next line}]");
  EXPECT_EQ(p->Text(), u"This is bold and italic text.Next line");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"i")->Text(), u"italic");

  // CDATA is literal; comments give no text, but what follows them does.
  e.LoadFromBytes("<a>x&amp;y<![CDATA[<raw> &amp;]]>r<!-- note -->s&lt;</a>");
  EXPECT_EQ(Shape(e.RootItem()), "a(x&amp;y)[#cdata(<raw> &amp;){r} #comment( note ){s&lt;}]");
  EXPECT_EQ(e.RootItem()->Text(), u"x&y<raw> &amp;rs<");
  e.LoadFromBytes("<a><![cdata[lower]]></a>");  // the marker in any case
  EXPECT_EQ(Shape(e.RootItem()), "a[#cdata(lower)]");
}

TEST(XMLTreeTest, DeclarationFillsTheRootAndHoldsTheDocument) {
  TLKXMLEngine e;
  e.LoadFromBytes(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes'?>\n"
      "<?mso-application progid=\"Word.Document\"?>\n"
      "<!DOCTYPE doc [ <!ENTITY boom \"BOOM\"> <!ELEMENT doc (#PCDATA)> ]>\n"
      "<w:doc xmlns:w=\"urn:x\"><w:body>&boom;</w:body></w:doc>");
  TLKXMLItem* root = e.RootItem();
  EXPECT_EQ(root->TagName(), u"?xml");
  ASSERT_EQ(root->Items().Count(), 5);
  EXPECT_EQ(Shape(root->Items()[0]), "@version=1.0");
  EXPECT_EQ(root->Items()[1]->GetTagValue(), u"UTF-8");
  EXPECT_EQ(root->Items()[2]->GetTagValue(), u"yes");
  EXPECT_EQ(root->Items()[3]->TagName(), u"?mso-application");
  EXPECT_EQ(root->Items()[3]->Items().Count(), 0);  // a leaf, not a container
  TLKXMLItem* doc = root->Items()[4];
  EXPECT_EQ(doc->TagName(), u"w:doc");
  EXPECT_EQ(doc->Level(), 1);
  // Declared entities are never expanded.
  EXPECT_EQ(e.GetItemByTag(nullptr, u"W:BODY")->GetTagValue(), u"&boom;");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"encoding")->Kind(), ikAttribute);
  EXPECT_EQ(doc->GetChild(u"w:body"), e.GetItemByTag(doc, u"w:body"));
  EXPECT_EQ(doc->GetChild(u"W:BODY"), nullptr);  // GetChild is exact
  EXPECT_EQ(doc->GetChild(u"w:doc"), doc);        // and starts with the node itself
}

TEST(XMLTreeTest, AttributesBecomeNodesOnRequest) {
  TLKXMLEngine e;
  e.LoadFromBytes("<item id=\"c1\" href = 'text/ch 1.xhtml' media-type=application/xhtml+xml checked "
                  "title=\"Tom &amp; Jerry's\">body</item>");
  TLKXMLItem* item = e.RootItem();
  EXPECT_EQ(item->AttributeValue(u"href"), u"text/ch 1.xhtml");  // read from the raw text
  EXPECT_EQ(item->AttributeValue(u"checked"), u"");
  item->ProcessAttributes();
  EXPECT_EQ(item->Attributes(), u"");
  EXPECT_EQ(Shape(item),
            "item(body)[@id=c1 @href=text/ch 1.xhtml @media-type=application/xhtml+xml @title=Tom &amp; Jerry's]");
  EXPECT_EQ(item->GetChild(u"title")->GetTagValue(), u"Tom & Jerry's");
  EXPECT_EQ(item->AttributeValue(u"title"), u"Tom & Jerry's");  // and from the nodes
  item->ProcessAttributes();                                      // a second call does nothing
  EXPECT_EQ(item->Items().Count(), 4);

  // Automatic processing puts attribute nodes before the content, and text
  // after a first child still lands in that child's tail.
  EXPECT_EQ(Parse("<a x=\"1\">v<b y=\"2\"/>t</a>", true), "a(v)[@x=1 b[@y=2]{t}]");
  // ">" and "/" inside quoted values do not end the tag.
  EXPECT_EQ(Parse("<a href=\"x/y>z\" t='1'>v</a>", true), "a(v)[@href=x/y>z @t=1]");
}

TEST(XMLTreeTest, ValueHelpersStripQuotesAndDecodeEntities) {
  TLKXMLItem n;
  n.SetValue(u"\"quoted &amp; \" \r\n\t");
  EXPECT_EQ(n.GetTagXMLValue(), u"quoted &amp;");
  EXPECT_EQ(n.GetTagValue(), u"quoted &");
  n.SetValue(u"plain \"q\" ");
  EXPECT_EQ(n.GetTagXMLValue(), u"plain \"q\" ");
  n.SetValue(u"\"");
  EXPECT_EQ(n.GetTagXMLValue(), u"");
}

TEST(XMLTreeTest, MalformedInputGivesAPartialTreeNeverAnError) {
  // End tags close the innermost open element of their name; strays are ignored.
  EXPECT_EQ(Parse("<a><b><i>x</b>y</c></a>"), "a[b[i(x)]{y}]");
  EXPECT_EQ(Parse("<p>a<br>b</p>"), "p(a)[br(b)]");  // the unclosed br closes with p
  EXPECT_EQ(Parse("<a><b>x</>y</a>"), "a[b(x){y}]");      // an empty end tag closes the innermost
  // Missing end tags leave elements open; the text stays.
  EXPECT_EQ(Parse("<a><b>text"), "a[b(text)]");
  // A "<" that starts no markup is text.
  EXPECT_EQ(Parse("<a>1 < 2 <3 and 4 > 3</a>"), "a(1 < 2 <3 and 4 > 3)");
  // Unterminated constructs run to the end without reading past it.
  EXPECT_EQ(Parse("<a>x<!-- open"), "a(x)[#comment( open)]");
  EXPECT_EQ(Parse("<a>x<![CDATA[open"), "a(x)[#cdata(open)]");
  EXPECT_EQ(Parse("<a>x<?pi open"), "a(x)[?pi]");
  EXPECT_EQ(Parse("<a t=\"open>x</a>"), "a(x)");
  EXPECT_EQ(Parse("<a t=\"unclosed><b>x</b></a>", true), "a[@t=unclosed b(x)]");
  EXPECT_EQ(Parse("<a"), "a");
  EXPECT_EQ(Parse("</a></b>text only"), "");
  EXPECT_EQ(Parse(""), "");
  // Text and elements after the document element stay under the root.
  EXPECT_EQ(Parse("<a>1</a> tail <b>2</b>"), "a(1)[b(2)]");
  // Names take ".", and characters beyond ASCII whole.
  EXPECT_EQ(Parse("<x.y><имя>z</имя></x.y>"), "x.y[имя(z)]");
  // Binary garbage.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919 + i / 13) & 0xFF);
  Parse(junk);
  Parse("<" + junk + ">" + junk + "</" + junk);
}

// Inputs that would take quadratic time in a scanner that searches ahead
// from every tag; each is a couple of megabytes, so a quadratic scan would
// not finish in any reasonable time.
TEST(XMLTreeTest, PathologicalInputsStayLinear) {
  auto repeat = [](const std::string& unit, size_t n) {
    std::string s;
    s.reserve(unit.size() * n);
    for (size_t i = 0; i < n; ++i) s += unit;
    return s;
  };
  TLKXMLEngine e;
  e.LoadFromBytes("<r>" + repeat("<b t=\"x", 300000));     // quotes that never close, no ">"
  e.LoadFromBytes("<r>" + repeat("</a \"", 300000));       // the same in end tags
  e.LoadFromBytes("<r>" + repeat("<!DOCTYPE [", 200000));   // unbalanced declarations
  e.LoadFromBytes("<r>" + repeat("<!--", 300000));          // comments that never close
  e.LoadFromBytes(repeat("<a>", 300) + repeat("</zz>", 500000));  // end tags matching nothing open
  e.LoadFromBytes(repeat("<p>&amp", 300000));
  EXPECT_EQ(e.RootItem()->Items().Count(), 1);
}

TEST(XMLTreeTest, DeepNestingIsFlattenedBelowTheLimit) {
  std::string xml;
  for (int i = 0; i < 100000; ++i) xml += "<d>";
  xml += "deep";
  for (int i = 0; i < 100000; ++i) xml += "</d>";
  xml += "<after>ok</after>";
  TLKXMLEngine e;
  e.SetMaxDepth(50);
  e.LoadFromBytes("<r>" + xml + "</r>");
  EXPECT_TRUE(e.DepthLimitReached());
  TLKXMLItem* deepest = e.RootItem();
  while (deepest->Items().Count() > 0) deepest = deepest->Items()[0];
  EXPECT_EQ(deepest->Level(), 50);
  EXPECT_EQ(deepest->Value(), u"deep");
  // The end tags of the dropped elements do not close the kept ones.
  TLKXMLItem* after = e.GetItemByTag(nullptr, u"after");
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->ParentItem(), e.RootItem());
  EXPECT_EQ(e.RootItem()->Text(), u"deepok");

  e.LoadFromBytes("<a><b/></a>");
  EXPECT_FALSE(e.DepthLimitReached());

  // A tree built by hand deeper than any stack still walks and frees.
  auto top = std::make_unique<TLKXMLItem>();
  TLKXMLItem* n = top.get();
  for (int i = 0; i < 100000; ++i) n = n->Items().AddItem(n);
  n->SetTagName(u"leaf");
  n->SetValue(u"v");
  EXPECT_EQ(n->Level(), 100000);
  EXPECT_EQ(top->GetChild(u"leaf"), n);
  EXPECT_EQ(top->Text(), u"v");
  top.reset();
}

TEST(XMLTreeTest, NodeLimitStopsTheParseWhereItIsReached) {
  TLKXMLEngine e;
  e.SetMaxNodes(2);  // the document element is the root, not counted
  e.LoadFromBytes("<r><p>one</p><p>two</p><p>three</p></r>");
  EXPECT_TRUE(e.NodeLimitReached());
  EXPECT_EQ(Shape(e.RootItem()), "r[p(one) p(two)]");
  // Each load counts afresh; 0 is no limit.
  e.LoadFromBytes("<r><p>x</p></r>");
  EXPECT_FALSE(e.NodeLimitReached());
  e.SetMaxNodes(0);
  std::string many = "<r>";
  for (int i = 0; i < 1000; ++i) many += "<p/>";
  e.LoadFromBytes(many + "</r>");
  EXPECT_FALSE(e.NodeLimitReached());
  EXPECT_EQ(e.RootItem()->Items().Count(), 1000);
}

TEST(XMLTreeTest, ReloadingStartsFromAnEmptyRoot) {
  TLKXMLEngine e;
  e.LoadFromBytes("<first a=\"1\">one<x/></first>");
  e.LoadFromBytes("<second>two</second>");
  EXPECT_EQ(Shape(e.RootItem()), "second(two)");
  e.LoadFromBytes("");
  EXPECT_EQ(Shape(e.RootItem()), "");
}

TEST(XMLEventsTest, OnTagSeesEachNodeAndCanDropWholeElements) {
  TLKXMLEngine e;
  std::vector<std::string> seen;
  e.SetOnTag([&](TObject* Sender, TLKXMLItem* Parent, std::u16string_view Name, std::u16string_view Value,
                 std::u16string_view Attrs, bool& Accept) {
    EXPECT_EQ(Sender, &e);
    seen.push_back(U8(Parent->TagName()) + ">" + U8(Name) + "(" + U8(Value) + ")" + U8(Attrs));
    if (Name == u"skip") Accept = false;
  });
  e.LoadFromBytes(
      "<?xml version=\"1.0\"?><doc><p k=\"v\">keep</p><skip>gone<skip>nested</skip><!-- < --><![CDATA[</skip>]]>"
      "<q/>gone</skip>after<p>too</p></doc>");
  EXPECT_EQ(seen, (std::vector<std::string>{"?xml>doc()", "doc>p(keep) k=\"v\"", "doc>skip(gone)", "doc>p(too)"}));
  EXPECT_EQ(Shape(e.GetItemByTag(nullptr, u"doc")), "doc[p(keep){after} p(too)]");
}

TEST(XMLEventsTest, TextAroundDroppedElementsIsJoined) {
  TLKXMLEngine e;
  e.SetOnTag([](TObject*, TLKXMLItem*, std::u16string_view Name, std::u16string_view, std::u16string_view,
                bool& Accept) { Accept = Name != u"x"; });
  e.LoadFromBytes("<p>one <x/>two <x>gone</x>three<b>B</b>four <x/>five</p>");
  EXPECT_EQ(Shape(e.RootItem()), "p(one two three)[b(B){four five}]");
  // Joined texts are owned by the node, the rest view the document; both
  // survive edits of other nodes, and setters copy.
  TLKXMLItem* b = e.GetItemByTag(nullptr, u"b");
  b->SetTail(b->Tail().substr(0, 4));
  b->SetValue(e.RootItem()->Value());
  EXPECT_EQ(Shape(e.RootItem()), "p(one two three)[b(one two three){four}]");
  EXPECT_EQ(e.RootItem()->Text(), u"one two threeone two threefour");
  EXPECT_EQ(e.DocumentText().size(), 56u);
}

TEST(XMLEventsTest, OnAfterTagRunsInnermostFirstAndMayFreeTheNode) {
  TLKXMLEngine e;
  std::vector<std::string> closed;
  e.SetOnAfterTag([&](TObject*, TLKXMLItem*& Node, bool&) {
    closed.push_back(U8(Node->TagName()) + "=" + U8(Node->Text()));
    if (Node->TagName() == u"w:p") {  // render, then free, as a streaming reader does
      delete Node;
      Node = nullptr;
    }
  });
  e.LoadFromBytes(
      "<w:body><w:p><w:r><w:t>Hello </w:t></w:r><w:r><w:t>world</w:t></w:r></w:p>\n"
      "<w:p><w:r><w:t>Two</w:t><w:br/></w:r></w:p></w:body>");
  EXPECT_EQ(closed, (std::vector<std::string>{"w:t=Hello ", "w:r=Hello ", "w:t=world", "w:r=world",
                                               "w:p=Hello world", "w:t=Two", "w:br=", "w:r=Two", "w:p=Two",
                                               "w:body=\n"}));
  EXPECT_EQ(e.RootItem()->Items().Count(), 0);  // the paragraphs are gone

  // Cancel ends the parse at once; the tree so far stays.
  closed.clear();
  e.SetOnAfterTag([&](TObject*, TLKXMLItem*& Node, bool& Cancel) {
    closed.push_back(U8(Node->TagName()));
    Cancel = Node->TagName() == u"b";
  });
  e.LoadFromBytes("<a><b/><c>x</c></a>");
  EXPECT_EQ(closed, (std::vector<std::string>{"b"}));
  EXPECT_EQ(Shape(e.RootItem()), "a[b]");
  // A text that ends right after "/>" still closes that element.
  closed.clear();
  e.LoadFromBytes("<a><z/>");
  EXPECT_EQ(closed, (std::vector<std::string>{"z"}));
}

TEST(XMLEncodingTest, MarksDeclarationsAndFallbacksDecodeTheSameDocument) {
  const WideString title = u"Привет, мир";
  struct Case {
    const char* File;
    bool Mark;
    uint32_t CodePage;
  };
  for (const Case& c : {Case{"utf8-bom.xml", true, CP_UTF8}, Case{"utf8-nobom.xml", false, CP_UTF8},
                        Case{"utf8-nodecl.xml", false, CP_UTF8}, Case{"utf16le-bom.xml", true, CP_UTF16LE},
                        Case{"utf16be-bom.xml", true, CP_UTF16BE}, Case{"windows-1251.xml", false, 1251}}) {
    SCOPED_TRACE(c.File);
    TLKXMLEngine e;
    e.LoadFromFile(TestFile(c.File));
    EXPECT_EQ(e.UTF8Processed, c.Mark);
    EXPECT_EQ(e.DocumentCodePage(), c.CodePage);
    ASSERT_NE(e.GetItemByTag(nullptr, u"title"), nullptr);
    EXPECT_EQ(e.GetItemByTag(nullptr, u"title")->GetTagValue(), title);
    WideString p = e.GetItemByTag(nullptr, u"p")->Text();
    EXPECT_NE(p.find(u"— жирный текст & more"), WideString::npos) << U8(p);
  }
  TLKXMLEngine e;
  e.LoadFromFile(TestFile("utf8-bom.xml"));
  EXPECT_EQ(e.GetItemByTag(nullptr, u"p")->Text(), u"Café — жирный текст & more \U0001D11E");
  e.LoadFromFile(TestFile("utf16le-bom.xml"));
  EXPECT_EQ(e.GetItemByTag(nullptr, u"p")->Text(), u"Café — жирный текст & more \U0001D11E");

  // No mark and no declaration, not UTF-8: the ANSI code page (1252 here).
  e.LoadFromBytes("<a>caf\xE9 \x80</a>");
  EXPECT_EQ(e.RootItem()->Value(), u"café €");
  // UTF-16 without a mark, recognised by its first characters.
  e.LoadFromBytes(std::string("<\0a\0>\0\x1F\x04<\0/\0a\0>\0", 16));
  EXPECT_EQ(e.RootItem()->Value(), u"П");
  // A mark and nothing else.
  e.LoadFromBytes("\xFF\xFE");
  EXPECT_EQ(Shape(e.RootItem()), "");
  // Other declared encodings iconv knows.
  e.LoadFromBytes("<?xml version='1.0' encoding='koi8-r'?><a>\xF0\xD2\xC9\xD7\xC5\xD4</a>");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->Value(), u"Привет");
  e.LoadFromBytes("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><a>\xA4</a>");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->Value(), u"€");
  e.LoadFromBytes("<?xml version=\"1.0\" encoding=\"no-such-charset\"?><a>\xC3\xA9</a>");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->Value(), u"é");
}

TEST(XMLStreamTest, StreamLoadsStopAtTheGivenPosition) {
  TBytesStream s("junk<a>one</a><b>two</b>");
  s.SetPosition(4);
  TLKXMLEngine e;
  e.LoadFromStream(14, s);
  EXPECT_EQ(Shape(e.RootItem()), "a(one)");
  s.SetPosition(4);
  e.LoadFromStream(0, s);
  EXPECT_EQ(Shape(e.RootItem()), "a(one)[b(two)]");
  EXPECT_THROW(e.LoadFromFile(TestFile("no-such-file.xml")), EFOpenError);
}

// Loads in pieces, as readers of large parts make them: the tree and the
// events of a whole load, at every piece size, with handlers that free nodes
// or stop.

std::string Dump(const TLKXMLItem* N) {
  std::string out;
  std::vector<std::pair<const TLKXMLItem*, int>> stack{{N, 0}};
  while (!stack.empty()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    out += std::string(static_cast<size_t>(depth), ' ') + std::to_string(n->Kind()) + " " +
           WideToUtf8(WideString(n->TagName())) + " [" + WideToUtf8(WideString(n->Attributes())) + "] v=" +
           WideToUtf8(WideString(n->Value())) + " t=" + WideToUtf8(WideString(n->Tail())) + "\n";
    for (int i = n->Items().Count(); i-- > 0;) stack.push_back({n->Items()[i], depth + 1});
  }
  return out;
}

// Events and the final tree of a load; Piece 0 loads whole. FreeClosed
// frees every closed element below the document element, CancelAt stops
// at that many closed elements. Chunk > 0 pulls the bytes from a source that
// gives that many at a time.
std::string Trace(const std::string& Xml, size_t Piece, bool FreeClosed, int CancelAt = -1, int Depth = 256,
                  size_t Chunk = 0) {
  TLKXMLEngine e;
  e.SetMaxDepth(Depth);
  std::string log;
  int closed = 0;
  e.SetOnTag([&](TObject*, TLKXMLItem* parent, std::u16string_view tag, std::u16string_view value,
                 std::u16string_view attrs, bool& accept) {
    log += "<" + WideToUtf8(WideString(parent->TagName())) + "/" + WideToUtf8(WideString(tag)) + " [" +
           WideToUtf8(WideString(attrs)) + "] " + WideToUtf8(WideString(value)) + "\n";
    accept = tag != u"drop";
  });
  e.SetOnAfterTag([&](TObject*, TLKXMLItem*& node, bool& cancel) {
    log += ">" + WideToUtf8(WideString(node->TagName())) + " " + WideToUtf8(node->Text()) + "\n";
    if (++closed == CancelAt) cancel = true;
    if (FreeClosed && node->Level() > 1) delete node;
  });
  size_t given = 0;
  if (Piece == 0)
    e.LoadFromBytes(Xml);
  else if (Chunk == 0)
    e.LoadFromBytesInPieces(Xml, Piece);
  else
    e.LoadFromSourceInPieces(
        [&](std::string& Into) {
          if (given == Xml.size()) return false;
          const size_t n = std::min(Chunk, Xml.size() - given);
          Into.append(Xml, given, n);
          given += n;
          return true;
        },
        Piece);
  return log + Dump(e.RootItem()) + std::to_string(e.DepthLimitReached()) + " " +
         std::to_string(e.DocumentCodePage()) + " " + std::to_string(e.UTF8Processed);
}

TEST(XMLPiecesTest, EveryPieceSizeAndSourceGivesTheTreeAndEventsOfAWholeLoad) {
  std::string many = "<r>";  // more nodes than are copied at each piece
  for (int i = 0; i < 1500; ++i) many += "<e a=\"" + std::to_string(i) + "\">t</e>x";
  const std::vector<std::string> inputs = {
      many + "<cut",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE d [<!ENTITY x \"<y>\">]><d a='1'>caf\xC3\xA9 "
      "\xE2\x82\xAC<b k=\"a>b\" j='<'>x&am<!-- <c> -->p;y</b><![CDATA[ <raw> ]]><?pi <q> ?>tail<e/><drop>gone<f/>"
      "</drop>after <g><h>deep<i>er</i></h></g >\xF0\x9F\x98\x80</d>trailing<x/>",
      "<r><b t=\"x><c>never closed quote</c> <d>< e</d><1>x</r>",
      "<a><e k=\"x/>y\" />z<b></b q=\"1>2\" >w</a>", "<a><b><c>cut in the mid", "<a><b attr=\"cut", "<a><!-- cut", "<a><![CDATA[cut", "<a><?cut", "<a></b", "<",
      "\xEF\xBB\xBF<a>bom \xC3\xA9</a>\x1B",
      std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0\x1B\0", 16),
      std::string("<\0a\0>\0x\0<\0/\0a\0>\0!", 13),
      "<a>\xC3\xA9\xE2\x82 broken \x80\x80\x80\x80\x80 utf-8 with a declaration</a>",
      "<?xml version='1.0' encoding='iso-8859-1'?><a>caf\xE9</a>",
  };
  for (const std::string& xml : inputs) {
    for (bool freeClosed : {false, true}) {
      for (int cancelAt : {-1, 2}) {
        for (int depth : {256, 3}) {
          const std::string whole = Trace(xml, 0, freeClosed, cancelAt, depth);
          for (size_t piece : {1, 2, 3, 5, 8, 13, 64}) {
            if (xml.size() > 4096 && piece < 64) continue;
            ASSERT_EQ(Trace(xml, piece, freeClosed, cancelAt, depth), whole)
                << "piece " << piece << " free " << freeClosed << " cancel " << cancelAt << " depth " << depth
                << " input " << xml;
            // Bytes pulled from a source a few at a time load the same.
            for (size_t chunk : {1, 3, 1000}) {
              if (piece != 2 && piece != 13 && piece != 64) continue;
              ASSERT_EQ(Trace(xml, piece, freeClosed, cancelAt, depth, chunk), whole)
                  << "chunk " << chunk << " piece " << piece << " input " << xml;
            }
          }
        }
      }
    }
  }
}

TEST(XMLPiecesTest, AHugeTokenOrTextStaysLinear) {
  // A comment, a value and attributes far longer than a piece: the window
  // grows instead of the token being scanned again for every piece.
  const std::string big(4 << 20, 'x');
  const std::string xml = "<a><!--" + big + "--><b c=\"" + big + "\">" + big + "</b></a>";
  TLKXMLEngine e;
  const auto start = std::chrono::steady_clock::now();
  e.LoadFromBytesInPieces(xml, 1024);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  TLKXMLItem* b = e.GetItemByTag(nullptr, u"b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Value().size(), big.size());
  EXPECT_EQ(b->AttributeValue(u"c").size(), big.size());
}

TEST(EntityTest, NamedAndNumericReferencesDecodeOnce) {
  EXPECT_EQ(Decoded("&copy; &trade; &plusmn; &deg; &para; &brvbar; [&nbsp;]"), u"© ™ ± ° ¶ ¦ [\u00A0]");
  EXPECT_EQ(Decoded("&mdash;&ndash;&hellip;&laquo;&raquo;&lsquo;&rsquo;&ldquo;&rdquo;&eacute;&Eacute;&euro;&sup2;"),
            u"—–…«»‘’“”éÉ€²");
  EXPECT_EQ(Decoded("&lt;&gt;&amp;&quot;&apos;"), u"<>&\"'");
  EXPECT_EQ(Decoded("&#8217;&#x2014;&#X41;&#176&#9;&#x1D11E;"), u"’—A°\t\U0001D11E");
  EXPECT_EQ(Decoded("&amp;lt; &amp;amp;"), u"&lt; &amp;");  // once, not repeatedly
  // Legacy names also without ";" and before letters.
  EXPECT_EQ(Decoded("&ltb&gt &nbsp &amp"), u"<b> \u00A0 &");
  EXPECT_EQ(Decoded("a&car;b&ret;c"), u"a\nb\rc");
  // What is not a known reference stays as written.
  EXPECT_EQ(Decoded("&unknown; & &; &#; &#x; &mdash no"), u"&unknown; & &; &#; &#x; &mdash no");
  EXPECT_EQ(Decoded("&#0;&#xD800;&#99999999999;"), u"\uFFFD\uFFFD\uFFFD");
  WideString none = u"no entities at all";
  ReplaceHTMLChars(none);
  EXPECT_EQ(none, u"no entities at all");
}

TEST(XMLHelpersTest, DropElementContentCutsOnlyThatElementsData) {
  auto drop = [](std::string xml, std::string_view name) {
    RawByteString bytes(xml);
    DropElementContent(bytes, name);
    return std::string(bytes);
  };
  EXPECT_EQ(drop("<a><binary id=\"x\">QUJD\nREVG</binary><p>text</p><fb:binary>R0lG</fb:binary></a>", "binary"),
            "<a><binary id=\"x\"></binary><p>text</p><fb:binary></fb:binary></a>");
  // Other names, self-closing elements, the name in an attribute or in text.
  const std::string kept =
      "<a><binary-datax>keep</binary-datax><office:binary-data/>x<p title=\"&lt;binary-data>\">binary-data y</p></a>";
  EXPECT_EQ(drop(kept, "binary-data"), kept);
  // The end tag of a prefixed element is no start of one.
  EXPECT_EQ(drop("<d:draw><office:binary-data>iVBOR\r\nw0K</office:binary-data>after", "binary-data"),
            "<d:draw><office:binary-data></office:binary-data>after");
  // Data that runs to the end, or a start tag that never closes.
  EXPECT_EQ(drop("<p>a</p><binary>QUJD", "binary"), "<p>a</p><binary>");
  EXPECT_EQ(drop("<p>a</p><binary id=\"x", "binary"), "<p>a</p><binary id=\"x");
}

TEST(XMLHelpersTest, PathsComparisonsAndDates) {
  WideString path = u"a/b/c";
  EXPECT_EQ(TLKXMLEngine::GetFirstTagName(path), u"a");
  EXPECT_EQ(path, u"b/c");
  EXPECT_EQ(TLKXMLEngine::GetLastTagName(path), u"c");
  EXPECT_EQ(path, u"b");
  EXPECT_EQ(TLKXMLEngine::GetLastTagName(path), u"b");
  EXPECT_EQ(path, u"");
  WideString single(u"x");
  EXPECT_EQ(TLKXMLEngine::GetFirstTagName(single), u"x");
  EXPECT_EQ(single, u"");

  EXPECT_TRUE(SameStrings(false, u"Dc:Title", u"dC:tITLE"));
  EXPECT_FALSE(SameStrings(false, u"Ä", u"ä"));  // only A-Z fold
  EXPECT_FALSE(SameStrings(true, u"a", u"A"));
  EXPECT_TRUE(SameStrings(true, u"a", u"a"));

  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2015-03-07T09:05:30Z"), EncodeDateTime(2015, 3, 7, 9, 5, 30, 0));
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2015-03-07T09:05:30.123+02:00"), EncodeDateTime(2015, 3, 7, 9, 5, 30, 0));
  EXPECT_EQ(XMLStringToDateTime(u"2015-03-07"), 0);
  EXPECT_EQ(XMLStringToDateTime(u""), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2015-13-07T09:05:30"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2015-02-07T25:05:30"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"20x5-02-07T10:05:30"), 0);
}

}  // namespace
}  // namespace lkw

// Element look-ups by local name.
namespace lkw {
namespace {

TEST(XMLLookupTest, ElementsFoundByLocalNameIgnoringPrefixAndCase) {
  TLKXMLEngine xml;
  xml.LoadFromBytes("<opf:package author=\"attr\"><!--author--><metadata><dc:Title>first</dc:Title>"
                    "<AUTHOR>a1</AUTHOR><x:author>a2</x:author><note><author>deep</author></note></metadata>"
                    "<author>after</author></opf:package>");
  TLKXMLItem* root = xml.RootItem();
  EXPECT_EQ(FindElement(root, u"PACKAGE"), root);
  // Pre-order: the nested author before the later sibling; attributes and
  // comments are no elements.
  TLKXMLItem* metadata = FindElement(root, u"metadata");
  ASSERT_NE(metadata, nullptr);
  EXPECT_EQ(ElementText(FindElement(root, u"author")), u"a1");
  EXPECT_EQ(ElementText(FindElement(metadata, u"title")), u"first");
  EXPECT_EQ(FindElement(root, u"auth"), nullptr);
  EXPECT_EQ(FindElement(nullptr, u"author"), nullptr);
  // Children only, in order.
  EXPECT_EQ(FindChildElement(root, u"title"), nullptr);
  EXPECT_EQ(ElementText(FindChildElement(root, u"author")), u"after");
  EXPECT_EQ(FindChildElement(nullptr, u"author"), nullptr);
  std::vector<std::string> authors;
  ForEachChildElement(*metadata, u"author", [&](TLKXMLItem& a) { authors.push_back(U8(a.Text())); });
  EXPECT_EQ(authors, (std::vector<std::string>{"a1", "a2"}));
}

TEST(XMLLookupTest, ElementTextJoinsBlanksAndDecodes) {
  TLKXMLEngine xml;
  xml.LoadFromBytes("<t>\r\n  The \t <b>Harbour</b>\f&amp;\n<i> light </i>  </t>");
  EXPECT_EQ(ElementText(xml.RootItem()), u"The Harbour & light");
  EXPECT_EQ(ElementText(nullptr), u"");
  xml.LoadFromBytes("<t> \n </t>");
  EXPECT_EQ(ElementText(xml.RootItem()), u"");
}

}  // namespace
}  // namespace lkw
