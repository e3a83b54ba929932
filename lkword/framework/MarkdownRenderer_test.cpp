#include "lkword/framework/MarkdownRenderer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "lkword/framework/DocumentOutput.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"

namespace lkw {
namespace {

// A reader whose document is whatever Tell says through the seam.
class TScriptedReader : public TMSWBaseDocument {
 public:
  std::function<void(TDocumentOutput&)> Tell;
  void LoadFromStream(TStream& Stream) override {
    TMSWBaseDocument::LoadFromStream(Stream);
    TDocumentOutput& out = Output();
    out.BeginDocument();
    out.BeginStory(TStoryKind::Main);
    Tell(out);
    out.EndStory(TStoryKind::Main);
    out.EndDocument();
  }
  using TMSWBaseDocument::Output;
};

std::string Markdown(const std::function<void(TDocumentOutput&)>& Tell) {
  TScriptedReader r;
  r.SetTextFormating(tfMarkdown);
  r.Tell = Tell;
  TMemoryStream none;
  r.LoadFromStream(none);
  std::string out;
  for (const WideString& item : r.Text().Items()) out += WideToUtf8(item) + "\n";
  return out;
}

TParagraph Kind(TParagraphKind K, int Level = 0, std::u16string_view Label = {}) {
  TParagraph p;
  p.Kind = K;
  p.Level = Level;
  p.Label = WideString(Label);
  return p;
}

void Para(TDocumentOutput& Out, const TParagraph& P, std::u16string_view Text) {
  Out.BeginParagraph(P);
  Out.Text(Text);
  Out.EndParagraph();
}

TEST(MarkdownRendererTest, DocumentTextThatLooksLikeMarkupIsEscaped) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    Para(o, {}, u"# not a heading");
    Para(o, {}, u"1. not a list, 2) nor this");
    Para(o, {}, u"- dash + plus = equals");
    Para(o, {}, u"#hashtag -1 1.5 ===");
    Para(o, {}, u"===");
    Para(o, {}, u"> quote *star* [link](x) `code` <b>tag</b> &amp; | pipe ~~ C:\\dir");
    Para(o, {}, u"snake_case stays, _emphasis_ does not; 3 < 4 & 5 > 2");
  });
  EXPECT_EQ(md,
            "\\# not a heading\n\n"
            "1\\. not a list, 2) nor this\n\n"
            "\\- dash + plus = equals\n\n"
            "#hashtag -1 1.5 ===\n\n"
            "\\===\n\n"
            "\\> quote \\*star\\* \\[link\\](x) \\`code\\` \\<b>tag\\</b> \\&amp; \\| pipe \\~\\~ C:\\\\dir\n\n"
            "snake_case stays, \\_emphasis\\_ does not; 3 < 4 & 5 > 2\n");
}

TEST(MarkdownRendererTest, HeadingsListsAndCodeKeepTheirShape) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    Para(o, Kind(TParagraphKind::Title), u"Log");
    Para(o, Kind(TParagraphKind::Heading, 2, u"2.3.1"), u"Scope #");
    Para(o, Kind(TParagraphKind::Heading, 8), u"Deep");
    Para(o, Kind(TParagraphKind::ListItem, 1, u"1."), u"First");
    Para(o, Kind(TParagraphKind::ListItem, 2, u"a)"), u"Sub");
    Para(o, Kind(TParagraphKind::ListItem, 3, u"\u2022"), u"Bullet");
    Para(o, Kind(TParagraphKind::ListItem, 1, u"10."), u"Tenth");
    Para(o, Kind(TParagraphKind::ListItem, 1, u"B"), u"Letter");
    Para(o, {}, u"After the list");
    o.BeginParagraph(Kind(TParagraphKind::Preformatted));
    o.Text(u"  x = `y`\n```");
    o.EndParagraph();
  });
  EXPECT_EQ(md,
            "# Log\n\n"
            "## 2.3.1 Scope \\#\n\n"
            "###### Deep\n\n"
            "1. First\n"
            "   - a) Sub\n"
            "     - Bullet\n\n"
            "10. Tenth\n\n"
            "- B Letter\n\n"
            "After the list\n\n"
            "````\n  x = `y`\n```\n````\n");
}

TEST(MarkdownRendererTest, ItemsOfListContainersHoldTheirLaterParagraphs) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    o.BeginList();
    o.BeginListItem();
    Para(o, Kind(TParagraphKind::ListItem, 1, u"1."), u"One");
    Para(o, Kind(TParagraphKind::ListItem, 1), u"more of one");
    o.BeginList();
    o.BeginListItem();
    Para(o, Kind(TParagraphKind::ListItem, 2, u"\u2022"), u"inner");
    o.EndListItem();
    o.EndList();
    Para(o, {}, u"still one");
    o.EndListItem();
    o.EndList();
  });
  EXPECT_EQ(md, "1. One\n\n   more of one\n\n   - inner\n\n   still one\n");
}

TEST(MarkdownRendererTest, EmphasisLinksAndBreaksStayInsideTheirLines) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    TRunStyle bold, italic;
    bold.Bold = true;
    italic.Italic = true;
    o.BeginParagraph({});
    o.Text(u"a ");
    o.Text(u" bold ", bold);
    o.Text(u"and", italic);
    o.Text(u" ");
    o.BeginLink(u"http://x.org/a b");
    o.Text(u"the link");
    o.EndLink();
    o.LineBreak();
    o.Text(u"   # next line");
    o.EndParagraph();
    o.BeginParagraph({});
    o.Text(u"   ", bold);
    o.EndParagraph();
    // The layout's line ends stay line ends of the paragraph; in a cell,
    // spaces.
    o.BeginParagraph({});
    o.Text(u"wrapped");
    o.SoftBreak();
    o.Text(u"1. line");
    o.EndParagraph();
    o.BeginTable();
    o.BeginRow();
    o.BeginCell();
    o.BeginParagraph({});
    o.Text(u"cell");
    o.SoftBreak();
    o.Text(u"wrap");
    o.EndParagraph();
    o.EndCell();
    o.EndRow();
    o.EndTable();
  });
  EXPECT_EQ(md, "a  **bold** *and* [the link](<http://x.org/a b>)\\\n\\# next line\n\n"
                "wrapped\n1\\. line\n\n| cell wrap |\n| --- |\n");
}

TEST(MarkdownRendererTest, TablesArePipeTablesWithEveryColumn) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    auto cell = [&](std::u16string_view a, std::u16string_view b = {}) {
      o.BeginCell();
      Para(o, {}, a);
      if (!b.empty()) Para(o, {}, b);
      o.EndCell();
    };
    o.BeginTable();
    o.BeginRow();
    cell(u"H|1");
    o.EndRow();
    o.BeginRow();
    cell(u"a", u"b");
    o.BeginCell();
    // A table in a cell goes on inside it.
    o.BeginTable();
    o.BeginRow();
    cell(u"inner");
    o.EndRow();
    o.EndTable();
    o.EndCell();
    o.BeginCell();
    o.Repeated(1000);  // empty: written once, and dropped at the row's end
    o.EndCell();
    o.EndRow();
    o.BeginRow();
    o.Repeated(2);
    cell(u"twice");
    o.EndRow();
    o.EndTable();
  });
  EXPECT_EQ(md,
            "| H\\|1 |  |\n"
            "| --- | --- |\n"
            "| a<br>b | inner |\n"
            "| twice |  |\n"
            "| twice |  |\n");
}

TEST(MarkdownRendererTest, RolledBackTextAndPagesOfTheirOwn) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    o.BeginPage(1);
    Para(o, {}, u"page one");
    o.EndPage(1);
    const TTextPath::TCheckpoint point = o.Checkpoint();
    o.BeginTable();
    o.BeginRow();
    o.BeginCell();
    Para(o, {}, u"void");
    o.RollBack(point);
    o.Release();
    o.BeginPage(2);
    Para(o, {}, u"page two");
    o.EndPage(2);
  });
  EXPECT_EQ(md, "page one\n\n<!-- page 2 -->\n\npage two\n");
}

TEST(MarkdownRendererTest, NotesAreFootnotesPairedWithTheirReferences) {
  const std::string md = Markdown([](TDocumentOutput& o) {
    o.BeginParagraph({});
    o.Text(u"Tide");
    o.NoteReference(TStoryKind::Footnote, u"1", kPlainRun);
    o.Text(u" and wind");
    o.NoteReference(TStoryKind::Footnote, u"*", kPlainRun);
    o.Text(u", again");
    o.NoteReference(TStoryKind::Footnote, u"1", kPlainRun);
    o.EndParagraph();
    o.EndStory(TStoryKind::Main);
    o.BeginStory(TStoryKind::Footnote);
    o.BeginNote(TStoryKind::Footnote, u"1");
    o.BeginParagraph({});
    o.NoteReference(TStoryKind::Footnote, u"1", kPlainRun);  // its own mark
    o.Text(u" High water.");
    o.EndParagraph();
    Para(o, {}, u"Second paragraph.");
    o.BeginNote(TStoryKind::Footnote, u"*");
    Para(o, Kind(TParagraphKind::Body, 0, u"*"), u"Starred.");
    o.BeginNote(TStoryKind::Footnote, u"1");
    Para(o, {}, u"Later one.");
    o.BeginNote(TStoryKind::Footnote, u"7");
    Para(o, {}, u"Referenced nowhere.");
    o.EndStory(TStoryKind::Footnote);
    o.BeginStory(TStoryKind::Main);
    Para(o, {}, u"After the notes.");
  });
  EXPECT_EQ(md,
            "Tide[^1] and wind[^note-1], again[^1-2]\n\n"
            "After the notes.\n\n"
            "[^1]: High water.\n\n    Second paragraph.\n\n"
            "[^note-1]: Starred.\n\n"
            "[^1-2]: Later one.\n\n"
            "Referenced nowhere.\n");
}

}  // namespace
}  // namespace lkw
