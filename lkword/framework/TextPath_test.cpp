#include "lkword/framework/TextPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/TextRenderer.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "testing/EventRecorder.h"

namespace lkw {
namespace {

// A text path over a list or a sink, with what reached either.
struct TPathRig {
  TWideStrings List;
  TMSWTextSink Sink;
  TMSWUtf8TextSink Utf8Sink;
  bool Cancelled = false;
  int Cuts = 0;
  std::vector<std::string> Sunk;  // "w:" UTF-16 items, "8:" UTF-8 ones
  TTextPath Path;

  TPathRig(bool Sinking, int64_t MaxLength, bool HoldFinish = false) {
    Sink = [this](std::u16string_view w) { Sunk.push_back("w:" + WideToUtf8(w)); };
    Utf8Sink = [this](std::string_view u) { Sunk.push_back("8:" + std::string(u)); };
    TTextPath::TSettings s;
    s.List = &List;
    if (Sinking) {
      s.Sink = &Sink;
      s.Utf8Sink = &Utf8Sink;
    }
    s.MaxLength = MaxLength;
    s.Cancelled = &Cancelled;
    s.OnCut = [this] { ++Cuts; };
    s.HoldFinish = HoldFinish;
    Path = TTextPath(std::move(s));
  }
  // The items whichever way they went, without the sink's prefixes.
  std::vector<std::string> Items() const {
    std::vector<std::string> out;
    for (const WideString& i : List.Items()) out.push_back(WideToUtf8(i));
    for (const std::string& s : Sunk) out.push_back(s.substr(2));
    return out;
  }
};

TEST(TextPathTest, ListAndSinkGetTheSameItemsUnderEveryLimit) {
  const std::vector<WideString> items = {u"first", u"", u"second line", u"third"};
  for (int64_t max = 0; max <= 30; ++max) {
    SCOPED_TRACE(max);
    TPathRig list(false, max), sink(true, max);
    for (TPathRig* r : {&list, &sink}) {
      r->Path.AddUncounted(u"HEAD");
      for (const WideString& i : items) r->Path.Add(i);
      r->Path.AddFinish(u"TAIL", false);
    }
    EXPECT_EQ(list.Items(), sink.Items());
    EXPECT_EQ(list.Cancelled, sink.Cancelled);
    EXPECT_EQ(list.Cuts, sink.Cuts);
    EXPECT_TRUE(sink.List.Items().empty());
  }
  // Items count with their CR LF; one that only just fits stays whole and
  // ends the text without a warning; the frame stays outside.
  TPathRig r(false, 7 + 13);
  r.Path.AddUncounted(u"HEAD");
  r.Path.Add(u"first");
  r.Path.Add(u"second line");
  r.Path.Add(u"third");
  EXPECT_EQ(r.Items(), (std::vector<std::string>{"HEAD", "first", "second line"}));
  EXPECT_TRUE(r.Cancelled);
  EXPECT_EQ(r.Cuts, 0);
  TPathRig cut(true, 9);
  cut.Path.Add(u"first");
  cut.Path.Add(u"second");
  EXPECT_EQ(cut.Items(), (std::vector<std::string>{"first", "se"}));
  EXPECT_EQ(cut.Cuts, 1);
}

TEST(TextPathTest, SecondaryListsAreCutOnTheirOwnAndRedirectsNest) {
  TPathRig r(true, 8);
  TWideStrings notes, more;
  r.Path.Add(u"body");
  {
    const TTextPath::TRedirect into(r.Path, notes);
    r.Path.Add(u"note");  // 6 of the notes' 8
    {
      const TTextPath::TRedirect deeper(r.Path, more);
      r.Path.Add(u"x");
    }
    r.Path.Add(u"another");  // cut to the 2 left, and extraction ends
  }
  r.Path.Add(u"late");
  EXPECT_EQ(r.Sunk, (std::vector<std::string>{"w:body"}));
  EXPECT_EQ(notes.Items(), (std::vector<WideString>{u"note", u"an"}));
  EXPECT_EQ(more.Items(), (std::vector<WideString>{u"x"}));
  EXPECT_TRUE(r.Cancelled);
}

TEST(TextPathTest, Utf8ItemsGoToTheUtf8SinkUnlessTheLimitCutsThem) {
  // "\xF0\x9F\x98\x80" is one character but two UTF-16 units.
  for (int64_t max : {0, 10, 12, 13, 14}) {
    SCOPED_TRACE(max);
    TPathRig list(false, max), sink(true, max);
    for (TPathRig* r : {&list, &sink}) {
      r->Path.AddUtf8("caf\xC3\xA9", 4);
      r->Path.AddUtf8("\xF0\x9F\x98\x80 x", 4);
      r->Path.AddUtf8("third", 5);
    }
    EXPECT_EQ(list.Items(), sink.Items());
    EXPECT_EQ(sink.Sunk.at(0), "8:caf\xC3\xA9");
  }
  TPathRig r(true, 12);
  r.Path.AddUtf8("caf\xC3\xA9", 4);
  r.Path.AddUtf8("\xF0\x9F\x98\x80 x", 4);
  EXPECT_EQ(r.Sunk, (std::vector<std::string>{"8:caf\xC3\xA9", "w:\xF0\x9F\x98\x80 x"}));
}

TEST(TextPathTest, CheckpointsTakeTextBackUntilReleased) {
  for (const bool sinking : {false, true}) {
    SCOPED_TRACE(sinking);
    TPathRig r(sinking, 12);
    r.Path.Add(u"kept");
    TTextPath::TCheckpoint p = r.Path.Checkpoint();
    r.Path.Add(u"gone");
    r.Path.Add(u"cut here");  // reaches the limit
    EXPECT_TRUE(r.Cancelled);
    EXPECT_TRUE(r.Sunk.empty() || r.Sunk.size() == 1);  // a sink gets nothing held
    ASSERT_TRUE(r.Path.CanRollBack(p));
    r.Path.RollBack(p);
    EXPECT_FALSE(r.Cancelled);
    r.Path.Add(u"again");
    r.Path.Release();
    EXPECT_EQ(r.Items(), (std::vector<std::string>{"kept", "again"}));
    if (sinking) {
      EXPECT_FALSE(r.Path.CanRollBack(p));
    }
  }
}

TEST(TextPathTest, HeldFinishIsKeptForTheHostWhenItHasText) {
  TPathRig r(true, 0, true);
  r.Path.Add(u"body");
  r.Path.AddFinish(u"}", true);
  EXPECT_EQ(r.Sunk, (std::vector<std::string>{"w:body"}));
  EXPECT_TRUE(r.Path.FinishHeld());
  EXPECT_EQ(r.Path.HeldFinish(), u"}");
  TPathRig empty(true, 0, true);
  empty.Path.AddFinish(u"", true);
  EXPECT_FALSE(empty.Path.FinishHeld());
  EXPECT_EQ(empty.Sunk, (std::vector<std::string>{"w:"}));
  // Held, it counts as the list counts it, so what a host appends under the
  // same limit gets the same room either way.
  TPathRig listed(false, 0);
  listed.Path.Add(u"body");
  listed.Path.AddFinish(u"}", true);
  EXPECT_EQ(r.Path.Counted(), listed.Path.Counted());
  EXPECT_TRUE(listed.Path.ListEndsWithFinish());
  EXPECT_FALSE(r.Path.ListEndsWithFinish());
  listed.Path.Add(u"after");
  EXPECT_FALSE(listed.Path.ListEndsWithFinish());
}

TEST(TextPathTest, APassedDeadlineCancelsLikeTheLimit) {
  TPathRig r(true, 0);
  TTextPath::TSettings s;
  s.List = &r.List;
  s.Sink = &r.Sink;
  s.Cancelled = &r.Cancelled;
  s.Deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
  TTextPath later(s);
  later.Add(u"in time");
  EXPECT_FALSE(later.TimedOut());
  s.Deadline = std::chrono::steady_clock::now() - std::chrono::milliseconds(1);
  TTextPath past(s);
  EXPECT_TRUE(past.Cancelled());
  past.Add(u"too late");
  EXPECT_TRUE(past.TimedOut());
  EXPECT_TRUE(r.Cancelled);
  EXPECT_EQ(r.Sunk, (std::vector<std::string>{"w:in time"}));
}

// A reader that tells fixed paragraphs through the seam.
class TEventsReader : public TMSWBaseDocument {
 public:
  std::vector<WideString> Paragraphs;
  void LoadFromStream(TStream& Stream) override {
    TMSWBaseDocument::LoadFromStream(Stream);
    TDocumentOutput& out = Output();
    out.BeginDocument();
    for (const WideString& p : Paragraphs) {
      TParagraph h;
      if (p == u"Title") {
        h.Kind = TParagraphKind::Heading;
        h.Level = 2;
      }
      out.BeginParagraph(h);
      out.Text(p);
      out.EndParagraph();
    }
    out.LineBreak();
    out.EndSection();
    out.EndDocument();
  }
};

TEST(TextRendererTest, CommonShapeInEachFormatAndHostConsumersSeeEveryEvent) {
  TEventsReader r;
  r.Paragraphs = {u"Title", u"a<b & {c}"};
  testing::TEventRecorder rec;
  r.AddDocumentEvents(&rec);
  std::vector<std::string> hooks;
  r.SetOnConvertSysChar([&](TObject*, TLKWordSysChar C, const WideString& V, WideString& R) {
    hooks.push_back(std::to_string(C) + ":" + WideToUtf8(V));
    if (C == scParagraphEnd) R.assign(1, u'\u00A7');
  });
  auto run = [&](TMSTextFormating F) {
    r.SetTextFormating(F);
    TBytesStream s;
    r.LoadFromStream(s);
    std::vector<WideString> items = r.Text().Items();
    items.front() = items.front().substr(0, 6);  // the header is tested with the frame
    items.back() = items.back().substr(0, 3);
    return items;
  };
  EXPECT_EQ(run(tfPlainText), (std::vector<WideString>{u"", u"Title", u"a<b & {c}", u"\r\n", u"§", u""}));
  EXPECT_EQ(run(tfRTF),
            (std::vector<WideString>{u"{\\rtf1", u"Title\\par ", u"a<b & \\{c\\}\\par ", u"\r\n\\line ", u"§", u"\r\n}"}));
  EXPECT_EQ(run(tfHTML), (std::vector<WideString>{u"<html>", u"<h2>Title</h2>", u"<p>a&lt;b &amp; {c}</p>",
                                                  u"<br>\r\n", u"§", u"\r\n<"}));
  EXPECT_EQ(hooks[0], std::to_string(scUnknown) + ":Title");
  EXPECT_EQ(hooks[2], std::to_string(scParagraphEnd) + ":");
  ASSERT_EQ(rec.Lines.size(), 3 * 10u);  // three loads, the same events each
  rec.Lines.resize(10);
  EXPECT_EQ(rec.Joined(), "<doc>|<h2>|text 'Title'|</p>|<p>|text 'a<b & {c}'|</p>|br|</section>|</doc>");
}

}  // namespace
}  // namespace lkw
