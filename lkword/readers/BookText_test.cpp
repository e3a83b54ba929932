#include "lkword/readers/BookText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/containers/LKWXML.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "testing/EventRecorder.h"

namespace lkw {
namespace {

using V = std::vector<std::string>;

// The lines of the body of an XHTML text, each as "tag:text" ("pre" for
// preformatted lines, "-" for section ends); at most Limit of them.
V WalkXHTML(const std::string& Xhtml, size_t Limit = 1000) {
  TLKXMLEngine engine;
  engine.LoadFromBytes(Xhtml);
  V lines;
  TBookTextWalker walker(ClassifyXHTML, [&](TBookElementRole Role, std::u16string_view Tag, const WideString& T) {
    if (Role == brSection) lines.push_back("-");
    else lines.push_back((Role == brPreformatted ? "pre" : WideToUtf8(WideString(Tag))) + ":" + WideToUtf8(T));
    return lines.size() < Limit;
  });
  walker.Walk(*FindElement(engine.RootItem(), u"body"));
  return lines;
}

TEST(BookTextWalker, EveryBlockGivesALineOfItsWholeText) {
  const V lines = WalkXHTML(
      "<html><head><title>not text</title><style>p{}</style></head><body>"
      "<H1>Title <em>one</em></H1>\n  <p>A <strong>whole</strong>\n \f paragraph <a href=\"#x\">with</a> links.</p>"
      "<div>div text<p>inner</p>tail text</div>"
      "<ul><li>item <b>one</b><ul><li>nested</li></ul></li><li><p>para item</p></li></ul>"
      "<table><caption>cap</caption><tr><th>h</th><td>d</td></tr></table>"
      "<figure><img src=\"x.png\" alt=\"alt text\"/><figcaption>fig</figcaption></figure>"
      "<p>line one<br/>line two</p><script>var x = 1;</script><?pi text?>"
      "<p>x&nbsp;y &amp; &lt;z&gt; <!-- hidden -->after<![CDATA[ & raw]]></p>"
      "<section><h:h2 xmlns:h=\"x\">Sub</h:h2></section>"
      "<pre>  code  line\r\n\n    indented\r</pre><p>   </p></body></html>");
  EXPECT_EQ(lines, (V{"H1:Title one", "p:A whole paragraph with links.", "div:div text", "p:inner", "div:tail text",
                      "li:item one", "li:nested", "p:para item", "caption:cap", "th:h", "td:d", "figcaption:fig",
                      "p:line one", "p:line two", "p:x\u00A0y & <z> after & raw", "h2:Sub", "-", "pre:  code  line",
                      "pre:    indented"}));
}

TEST(BookTables, CellsOfTheOutermostTableBracketTheirLines) {
  TLKXMLEngine engine;
  engine.LoadFromBytes(
      "<body><table><caption>cap</caption><tr><th>h1</th><th>h2</th></tr>"
      "<tr><td><p>a</p><p>b</p></td><td><table><tr><td>in1</td><td>in2</td></tr></table></td></tr></table>"
      "<p>after</p><table><tr><td>second</td></tr></table></body>");
  testing::TEventRecorder rec;
  TBookTables tables(rec);
  TBookTextWalker walker(ClassifyXHTML, [&](TBookElementRole, std::u16string_view, const WideString& T) {
    tables.Before(walker);
    rec.Lines.push_back(WideToUtf8(T));
    return true;
  });
  walker.Walk(*engine.RootItem());
  tables.Close();
  EXPECT_EQ(rec.Joined(), "cap|<table>|<tr>|<td>|h1|</td>|<td>|h2|</td>|</tr>|<tr>|<td>|a|b|</td>|<td>|in1|in2|</td>|"
                          "</tr>|</table>|after|<table>|<tr>|<td>|second|</td>|</tr>|</table>");
}

TEST(BookTextWalker, MathGivesItsAltTextOrItsTokensNeverItsAnnotations) {
  const V lines = WalkXHTML(
      "<body><p>Let <m:math xmlns:m=\"http://www.w3.org/1998/Math/MathML\" alttext=\"x squared &amp; more\">"
      "<m:msup><m:mi>x</m:mi><m:mn>2</m:mn></m:msup></m:math>, so.</p>"
      "<p>Then<math display=\"block\" alttext=\"  \"><semantics><mrow><mi>sin</mi><mi>x</mi><mo>=</mo>"
      "<mfrac><mn>1</mn><mn>2</mn></mfrac></mrow><annotation encoding=\"application/x-tex\">\\sin x = \\frac12</annotation>"
      "<annotation-xml encoding=\"MathML-Content\"><apply><eq/><ci>x</ci></apply></annotation-xml></semantics>"
      "</math>holds.</p><pre><math><mi>a</mi><mi>b</mi></math></pre></body>");
  EXPECT_EQ(lines, (V{"p:Let x squared & more , so.", "p:Then sin x = 1 2 holds.", "pre:a b"}));
}

TEST(BookTextWalker, EmitterEndsTheWalk) {
  EXPECT_EQ(WalkXHTML("<body><p>a</p><section><p>b</p></section><p>c</p></body>", 2), (V{"p:a", "p:b"}));
  TLKXMLEngine engine;
  engine.LoadFromBytes("<body><p>a</p><p>b</p></body>");
  TBookTextWalker walker(ClassifyXHTML, [](TBookElementRole, std::u16string_view, const WideString&) { return false; });
  EXPECT_FALSE(walker.Walk(*engine.RootItem()));
}

TEST(BookDates, IsoForms) {
  EXPECT_EQ(BookDateToDateTime(u"1999"), EncodeDate(1999, 1, 1));
  EXPECT_EQ(BookDateToDateTime(u" 2001-05 "), EncodeDate(2001, 5, 1));
  EXPECT_EQ(BookDateToDateTime(u"2001-05-06 late"), EncodeDate(2001, 5, 6));
  EXPECT_NEAR(BookDateToDateTime(u"2019-07-20T22:20:21"), EncodeDateTime(2019, 7, 20, 22, 20, 21, 0), 1e-9);
  EXPECT_NEAR(BookDateToDateTime(u"2019-07-20T24:00"), EncodeDate(2019, 7, 21), 1e-9);
  EXPECT_NEAR(BookDateToDateTime(u"2019-07-20T22:20:21.5Z"), UTCToLocal(EncodeDateTime(2019, 7, 20, 22, 20, 21, 0)),
              1e-9);
  EXPECT_NEAR(BookDateToDateTime(u"2019-07-20T22:20:21+02:00"),
              UTCToLocal(EncodeDateTime(2019, 7, 20, 20, 20, 21, 0)), 1e-9);
  EXPECT_NEAR(BookDateToDateTime(u"2019-07-20T01:00-0130"), UTCToLocal(EncodeDateTime(2019, 7, 20, 2, 30, 0, 0)),
              1e-9);
  // A time that is no time leaves the date.
  EXPECT_EQ(BookDateToDateTime(u"2019-07-20T25:00"), EncodeDate(2019, 7, 20));
  EXPECT_EQ(BookDateToDateTime(u"2019-02-30"), 0);
  EXPECT_EQ(BookDateToDateTime(u"2019-7-1"), 0);
  EXPECT_EQ(BookDateToDateTime(u"July 1999"), 0);
  EXPECT_EQ(BookDateToDateTime(u""), 0);
}

}  // namespace
}  // namespace lkw
