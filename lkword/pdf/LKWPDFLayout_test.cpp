#include "lkword/pdf/LKWPDFLayout.h"

#include <gtest/gtest.h>

#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

// Glyphs laid out by hand: every character is one glyph of the given
// advance (in ems) at the given size.
class Glyphs {
 public:
  // Places Text from (X, Y) along direction (Dx, Dy); Step is the advance
  // of each glyph in ems plus Kern (ems) between glyphs.
  Glyphs& Word(const std::u16string& Text, double X, double Y, double Size = 10, double Step = 0.5, double Kern = 0,
               float Dx = 1, float Dy = 0) {
    for (const char16_t c : Text) {
      TPDFPlacedGlyph g;
      g.X = static_cast<float>(X);
      g.Y = static_cast<float>(Y);
      g.Dx = Dx;
      g.Dy = Dy;
      g.Adv = static_cast<float>(Step * Size);
      g.Size = static_cast<float>(Size);
      g.TextStart = static_cast<uint32_t>(FG.Chars.size());
      g.TextLen = 1;
      FG.Chars += c;
      FG.Glyphs.push_back(g);
      X += (Step + Kern) * Size * Dx;
      Y += (Step + Kern) * Size * Dy;
    }
    return *this;
  }
  // A glyph whose text is unknown.
  Glyphs& Unmapped(double X, double Y, double Size = 10, double Step = 0.5) {
    Word(u"?", X, Y, Size, Step);
    FG.Chars.pop_back();
    FG.Glyphs.back().TextLen = 0;
    return *this;
  }
  // Right-to-left text typed in logical order, each glyph placed to the
  // left of the one before.
  Glyphs& WordRTL(const std::u16string& Text, double Right, double Y, double Size = 10) {
    double x = Right;
    for (const char16_t c : Text) {
      x -= 0.5 * Size;
      Word(std::u16string(1, c), x, Y, Size);
    }
    return *this;
  }
  std::vector<std::string> Lines(bool Dehyphenate = true) const {
    TLKPDFPage page;
    TPDFTextOptions o;
    o.Dehyphenate = Dehyphenate;
    LayoutPageText(FG, o, page);
    std::vector<std::string> out;
    for (const WideString& l : page.Lines())
      if (!l.empty() || KeepBlank) out.push_back(WideToUtf8(l));
    return out;
  }
  TPDFPageGlyphs FG;
  bool KeepBlank = false;
};

using Strings = std::vector<std::string>;

TEST(PDFLayout, WordsComeFromGapsNotFromKerning) {
  Glyphs g;
  // Tight kerning inside words, a third of an em between them.
  g.Word(u"Hello", 72, 100, 10, 0.5, -0.04).Word(u"world", 72 + 5 * 4.6 + 3, 100, 10, 0.5, 0.03);
  EXPECT_EQ(g.Lines(), Strings{"Hello world"});

  // A space glyph separates by itself, however narrow; spaces never double.
  Glyphs s;
  s.Word(u"a b", 72, 100, 10, 0.5, -0.1).Word(u"  c", 72 + 30, 100);
  EXPECT_EQ(s.Lines(), Strings{"a b c"});

  // Glyphs of a font without widths, each placed by itself.
  Glyphs zero;
  zero.Word(u"word", 72, 100, 10, 0, 0.5).Word(u"next", 72 + 20 + 2.5, 100, 10, 0, 0.5);
  zero.Word(u"\u4E2D\u6587", 72, 130, 10, 0, 1);
  EXPECT_EQ(zero.Lines(), (Strings{"word next", "\xE4\xB8\xAD\xE6\x96\x87"}));

  // A space the next glyph is drawn over separates nothing.
  Glyphs over;
  over.Word(u"sauveg", 72, 100).Word(u" ", 102, 100).Word(u"ard\u00E9", 102.1, 100);
  EXPECT_EQ(over.Lines(), Strings{"sauvegard\xC3\xA9"});

  // A glyph of unknown text (a hyphen, say) parts the words beside it; an
  // unknown accent the next letter is drawn over does not.
  Glyphs unknown;
  unknown.Word(u"in", 72, 100).Unmapped(82, 100).Word(u"memory", 87, 100);
  unknown.Word(u"re", 72, 130).Unmapped(82, 130, 10, 0.3).Word(u"sume", 82, 130);
  EXPECT_EQ(unknown.Lines(), (Strings{"in memory", "resume"}));
}

TEST(PDFLayout, LinesFollowBaselinesAndContentOrder) {
  Glyphs g;
  g.Word(u"second", 72, 300).Word(u"first", 72, 100);    // drawn bottom line first
  g.Word(u"note", 72, 200).Word(u"1", 92, 196.5, 6);     // raised, smaller: glued to its line
  g.Word(u"2", 72, 400, 6).Word(u"Footnote", 75, 403.5);  // a note mark: a word of its own
  EXPECT_EQ(g.Lines(), (Strings{"second", "first", "note1", "2 Footnote"}));

  // Same baseline but out of reach: two lines; in reach but backwards:
  // still one line, in position order.
  Glyphs far;
  far.Word(u"left", 72, 100).Word(u"right", 72 + 40 * 10, 100);
  EXPECT_EQ(far.Lines(), (Strings{"left", "right"}));
  Glyphs back;
  back.Word(u"two", 140, 100).Word(u"one", 100, 100);
  EXPECT_EQ(back.Lines(), Strings{"one two"});

  // Two lines of a column with a larger heading of the next column drawn
  // between them, halfway down: the second line goes back over the first,
  // so it is a line of its own. Stacked scripts go back over one glyph.
  Glyphs between;
  between.Word(u"U.S. tax withheld", 72, 100).Word(u"When", 300, 105, 14).Word(u"Line 70.", 72, 110);
  between.Word(u"Re", 72, 140).Word(u"C", 82, 137, 7).Word(u"x", 90, 140).Word(u"Re", 150, 140);
  between.Word(u"C", 160, 137, 7).Word(u"duct", 160, 142, 7);
  EXPECT_EQ(between.Lines(), (Strings{"U.S. tax withheld When", "Line 70.", "ReC x ReC duct"}));
}

TEST(PDFLayout, ColumnsWrittenAcrossAreReadDownEach) {
  // Two columns drawn row by row, as some producers do: each column is
  // read to its end before the next.
  Glyphs g;
  for (int row = 0; row < 5; ++row) {
    const double y = 100 + 12 * row;
    const std::u16string n(1, static_cast<char16_t>(u'a' + row));
    g.Word(u"left " + n + u" one two three four", 72, y).Word(u"right " + n + u" one two three four", 300, y);
  }
  const auto lines = g.Lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "left a one two three four");
  EXPECT_EQ(lines[4], "left e one two three four");
  EXPECT_EQ(lines[5], "right a one two three four");

  // A table keeps its rows: with a column of long texts, with two such
  // columns of entries (capitalised, not running on), and with more cells.
  Glyphs t, entries, cells;
  for (int row = 0; row < 5; ++row) {
    const double y = 100 + 12 * row;
    t.Word(u"a sample text of some words", 72, y).Word(u"42", 300, y);
    entries.Word(u"Maine Yankee Atomic Power Company", 72, y).Word(u"Maine Yankee Atomic Power Station", 300, y);
    cells.Word(u"one two", 72, y).Word(u"three four", 150, y).Word(u"five six", 300, y).Word(u"seven eight", 380, y);
  }
  EXPECT_EQ(t.Lines(), Strings(5, "a sample text of some words 42"));
  EXPECT_EQ(entries.Lines(), Strings(5, "Maine Yankee Atomic Power Company Maine Yankee Atomic Power Station"));
  EXPECT_EQ(cells.Lines(), Strings(5, "one two three four five six seven eight"));
}

TEST(PDFLayout, BlankLinesSeparateBlocks) {
  Glyphs g;
  g.KeepBlank = true;
  // Lines at 1.2 em, a paragraph 2 em further, a jump up to the next
  // column; a word hyphenated across the column break still joins.
  g.Word(u"one", 72, 100).Word(u"two", 72, 112).Word(u"three hyph-", 72, 132).Word(u"enated four", 300, 100);
  EXPECT_EQ(g.Lines(), (Strings{"one", "two", "", "three hyphenated", "", "four"}));
}

TEST(PDFLayout, OverprintedCopiesAreDroppedButDoubleLettersStay) {
  Glyphs g;
  g.Word(u"Bold", 72, 100).Word(u"Bold", 72.4, 100).Word(u"all", 72 + 25, 100, 10, 0.25);
  // Lines drawn again after others; the same text elsewhere stays.
  g.Word(u"Title", 72, 130).Word(u"Sub", 72, 160).Word(u"Title", 72.3, 130.2).Word(u"Sub", 72.3, 160.2);
  g.Word(u"Sub", 72, 190);
  EXPECT_EQ(g.Lines(), (Strings{"Bold all", "Title", "Sub", "Sub"}));
}

TEST(PDFLayout, RotatedTextFormsLinesAlongItsDirection) {
  Glyphs g;
  // Reading downward (a page turned by 90 degrees), two lines side by side.
  g.Word(u"down", 300, 72, 10, 0.5, 0, 0, 1).Word(u"next", 285, 72, 10, 0.5, 0, 0, 1);
  EXPECT_EQ(g.Lines(), (Strings{"down", "next"}));
}

TEST(PDFLayout, RightToLeftTextInLogicalOrderWhicheverWayItWasWritten) {
  const std::u16string shalom = u"\u05E9\u05DC\u05D5\u05DD";  // typed order
  const std::u16string olam = u"\u05E2\u05D5\u05DC\u05DD";
  const std::string expect = WideToUtf8(shalom + u" " + olam);

  // Logical order, each glyph placed left of the one before.
  Glyphs logical;
  logical.WordRTL(shalom, 300, 100).WordRTL(olam, 300 - 20 - 3, 100);
  EXPECT_EQ(logical.Lines(), Strings{expect});

  // Visual order: the producer wrote the glyphs left to right.
  std::u16string visual = shalom + u" " + olam;
  std::reverse(visual.begin(), visual.end());
  Glyphs v;
  v.Word(visual, 100, 100);
  EXPECT_EQ(v.Lines(), Strings{expect});

  // An embedded run in a left-to-right line; its number stays left to right.
  std::u16string run = shalom + u" 42 " + olam;
  std::u16string shown = u"see the words ";
  std::u16string rev(run.rbegin(), run.rend());
  for (size_t i = 0; i + 1 < rev.size(); ++i)
    if (rev[i] == u'2' && rev[i + 1] == u'4') std::swap(rev[i], rev[i + 1]);
  Glyphs mixed;
  mixed.Word(shown + rev + u" at the end", 72, 100);
  EXPECT_EQ(mixed.Lines(), Strings{WideToUtf8(shown + run + u" at the end")});
}

TEST(PDFLayout, CombiningMarksStayWithTheirBase) {
  // Arabic with a shadda on the second letter, typed order placed right to
  // left: the mark is shown right after its base.
  const std::u16string word = u"\u062A\u0639\u0630\u0651\u0631";
  Glyphs logical;
  double x = 300;
  for (const char16_t c : word) {
    if (c == 0x651) {
      logical.Word(u"\u0651", x + 1, 100, 10, 0);  // zero advance, over the base
      continue;
    }
    x -= 5;
    logical.Word(std::u16string(1, c), x, 100);
  }
  EXPECT_EQ(logical.Lines(), Strings{WideToUtf8(word)});

  // The same word written left to right: the mark comes before its base.
  Glyphs visual;
  visual.Word(u"\u0631", 100, 100).Word(u"\u0651", 107, 100, 10, 0).Word(u"\u0630\u0639\u062A", 105, 100);
  EXPECT_EQ(visual.Lines(), Strings{WideToUtf8(word)});
}

TEST(PDFLayout, HyphenatedLineEndsAreJoined) {
  std::vector<WideString> lines = {u"is inhibit-", u"ing this and a price-", u"determining rule", u"of Bar-",
                                   u"Code and 1990-", u"ies, co\u00AD", u"Operation"};
  DehyphenateLines(lines);
  EXPECT_EQ(lines, (std::vector<WideString>{u"is inhibiting", u"this and a pricedetermining", u"rule", u"of Bar-",
                                            u"Code and 1990-", u"ies, coOperation"}));
  // All capitals go on in capitals; what the page writes elsewhere tells a
  // compound from a hyphenation.
  std::vector<WideString> caps = {u"WITHOUT WAR-", u"RANTY OF A cross-", u"claim and a mod-", u"ify, or",
                                  u"a cross-claim to modify", u"NON-", u"Profit"};
  DehyphenateLines(caps);
  EXPECT_EQ(caps, (std::vector<WideString>{u"WITHOUT WARRANTY", u"OF A cross-claim", u"and a modify,", u"or",
                                           u"a cross-claim to modify", u"NON-", u"Profit"}));

  // Endless joins stay linear.
  std::vector<WideString> many(200000, u"ab-");
  many.push_back(u"end");
  DehyphenateLines(many);
  ASSERT_EQ(many.size(), 1u);
  EXPECT_EQ(many[0].size(), 2u * 200000 + 3);

  // A hyphen inside a line is never touched, and the option turns joining
  // off. A soft hyphen drawn inside a line is seen: it is written as one;
  // one the next letter is drawn over is left out.
  Glyphs g;
  g.Word(u"price-determining hyph-", 72, 100).Word(u"enated", 72, 115).Word(u"c \u00AD 0", 72, 140);
  g.Word(u"optional\u00AD", 72, 160).Word(u"hyphen", 112, 160);
  EXPECT_EQ(g.Lines(), (Strings{"price-determining hyphenated", "c - 0", "optionalhyphen"}));
  EXPECT_EQ(g.Lines(false), (Strings{"price-determining hyph-", "enated", "c - 0", "optionalhyphen"}));
}

TEST(PDFLayout, ItemsDescribeTheLines) {
  Glyphs g;
  g.Word(u"Top", 72, 100, 12).Word(u"Below", 80, 130, 10);
  TLKPDFPage page;
  LayoutPageText(g.FG, TPDFTextOptions(), page);
  ASSERT_EQ(page.Items().Count(), 2);
  const auto* first = static_cast<const TLKPDFItemText*>(page.Items().GetItem(0));
  EXPECT_EQ(first->Text(), u"Top");
  EXPECT_EQ(first->FontSize(), 12);
  EXPECT_DOUBLE_EQ(first->Left(), 72);
  EXPECT_DOUBLE_EQ(first->Top(), 88);
  EXPECT_EQ(page.GetPlainText(), u"Top\r\n\r\nBelow");  // a block apart
}

}  // namespace
}  // namespace lkw
