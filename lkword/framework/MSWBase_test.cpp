#include "lkword/framework/MSWBase.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

TEST(WideStringsTest, PutInsertsAndOutOfRangeAccessIsSafe) {
  TWideStrings s;
  s.Add(u"a");
  s.Add(u"b");
  s.Add(u"c");
  s.Put(1, u"S");
  ASSERT_EQ(s.Count(), 4);
  EXPECT_EQ(s.Get(1), u"S");
  EXPECT_EQ(s.Get(2), u"b");
  EXPECT_EQ(s.Get(-1), u"");
  EXPECT_EQ(s.Get(4), u"");
  s.Insert(4, u"end");  // Index == Count appends
  EXPECT_EQ(s.Get(4), u"end");
  try {
    s.Insert(6, u"x");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "WideStrings index out of bounds");
  }
  EXPECT_THROW(s.Insert(-1, u"x"), Exception);
  EXPECT_EQ(s.Count(), 5);
}

TEST(WideStringsTest, TextJoinsWithCRLFAndSearches) {
  TWideStrings s;
  EXPECT_EQ(s.Text(), u"");
  s.Add(u"One");
  s.Add(u"\u00E9T\u00C9");
  EXPECT_EQ(s.Text(), u"One\r\n\u00E9T\u00C9\r\n");
  EXPECT_EQ(s.TextLength(), static_cast<int64_t>(s.Text().size()));
  EXPECT_EQ(s.IndexOf(u"one"), -1);
  EXPECT_EQ(s.IndexOfIgnoreCase(u"one"), 0);
  EXPECT_EQ(s.IndexOfIgnoreCase(u"\u00C9t\u00E9"), 1);
  EXPECT_EQ(WideCompareText(u"abc", u"ABD") < 0, true);
  EXPECT_EQ(s.ToUtf8(), "One\n\xC3\xA9T\xC3\x89");
}

TEST(WideStringsTest, SaveToStreamInBothModes) {
  TWideStrings s;
  TBytesStream empty;
  s.SaveToStream(empty);
  EXPECT_EQ(empty.Bytes(), "\xFF\xFE");
  s.SetSaveUnicode(false);
  TBytesStream nothing;
  s.SaveToStream(nothing);
  EXPECT_EQ(nothing.Bytes(), "");

  s.Add(u"a");
  s.Add(u"b");
  s.SetSaveUnicode(true);
  TBytesStream uni;
  s.SaveToStream(uni);
  EXPECT_EQ(uni.Bytes(), std::string("\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0", 14));
  s.Add(u"\u20AC");
  s.SetSaveUnicode(false);
  TBytesStream ansi;
  s.SaveToStream(ansi);
  EXPECT_EQ(ansi.Bytes(), "a\r\nb\r\n\x80\r\n");
}

TEST(WideStringsTest, TruncateKeepsWholeLinesThenCutsTheLast) {
  TWideStrings s;
  s.Add(u"abcd");  // 6 with CR LF
  s.Add(u"efgh");
  s.TruncateTo(8);
  ASSERT_EQ(s.Count(), 2);
  EXPECT_EQ(s.Get(1), u"ef");
  EXPECT_LE(s.TextLength(), 8 + 2);
}

TEST(OutputHelpersTest, EscapingPerFormat) {
  EXPECT_EQ(EscapeText(u"<a href=\"x\">&</a>", tfHTML), u"&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(EscapeText(u"{\\b} \u00E9\u4E2D\uFFFD", tfRTF), u"\\{\\\\b\\} \\u233?\\u20013?\\u-3?");
  EXPECT_EQ(EscapeText(u"<{&}>", tfPlainText), u"<{&}>");
  // A soft hyphen stays only where markup can show it.
  EXPECT_EQ(EscapeText(u"Silben\u00ADtrennung", tfPlainText), u"Silbentrennung");
  EXPECT_EQ(EscapeText(u"Silben\u00ADtrennung", tfMarkdown), u"Silbentrennung");
  EXPECT_EQ(EscapeText(u"Silben\u00ADtrennung", tfHTML), u"Silben\u00ADtrennung");
  EXPECT_EQ(EscapeText(u"Silben\u00ADtrennung", tfRTF), u"Silben\\u173?trennung");
}

TEST(OutputHelpersTest, HtmlFontSizesAndRtfDates) {
  const std::vector<std::pair<int, std::u16string>> cases = {
      {5, u"-1"}, {6, u"1"}, {7, u"1"}, {8, u"2"}, {9, u"2"}, {10, u"-1"}, {12, u"-1"}, {13, u"-1"},
      {14, u"4"}, {17, u"4"}, {18, u"5"}, {23, u"5"}, {24, u"6"}, {35, u"6"}, {36, u"-1"}};
  for (const auto& [size, want] : cases) EXPECT_EQ(GetHTMLFontSize(size), want) << size;
  EXPECT_EQ(FormatRTFDateTime(EncodeDate(2015, 3, 7)), u"yr2015\\mo3\\dy7");
  EXPECT_EQ(FormatRTFDateTime(EncodeDateTime(2015, 3, 7, 9, 5, 30, 0)), u"yr2015\\mo3\\dy7\\hr9\\min5");
}

// A reader that emits fixed pieces, for the frame's behaviour.
class PiecesReader : public TMSWBaseDocument {
 public:
  std::vector<WideString> pieces;
  int loads = 0;
  bool maps = false;
  bool record = false;
  RawByteString read;  // what the last load was given, when record is set
  void LoadFromStream(TStream& Stream) override {
    TMSWBaseDocument::LoadFromStream(Stream);
    ++loads;
    if (record) read = Stream.ReadBytes(Stream.Remaining());
    TDocumentOutput& out = Output();
    out.BeginDocument();
    for (const auto& p : pieces) {
      if (out.Cancelled()) break;
      out.BeginParagraph(TParagraph());
      out.Text(p);
      out.EndParagraph();
    }
    out.EndDocument();
  }
  bool Cancelled() const { return IsCancelExtract; }

 protected:
  bool MapsFile() const override { return maps; }
};

TEST(BaseDocumentTest, DefaultsAndAboutIsReadOnly) {
  PiecesReader r;
  EXPECT_EQ(r.About(), "1.47");
  r.SetAbout("2.0");
  EXPECT_EQ(r.About(), "1.47");
  EXPECT_EQ(r.TextFormating(), tfPlainText);
  EXPECT_EQ(r.MaxTextLength(), 0);
  EXPECT_TRUE(r.ParseItems().Contains(wpiText));
  EXPECT_TRUE(r.ParseItems().Contains(wpiSummaryInformation));
  EXPECT_FALSE(r.ParseItems().Contains(wpiVBA));
  EXPECT_TRUE(r.ConvertSysCharacters());
  EXPECT_EQ(r.ParseItems().Bits(), 0x09u);  // bit n for value n
}

TEST(BaseDocumentTest, ExecuteFiresEventsAndAMissingFileStopsBeforeTheSecond) {
  PiecesReader r;
  std::vector<std::string> events;
  r.SetOnBeforeExecute([&](TObject*) { events.push_back("before"); });
  r.SetOnAfterExecute([&](TObject*) { events.push_back("after"); });
  try {
    r.Execute();  // empty FileName
    FAIL();
  } catch (const EFileNotFoundError& e) {
    EXPECT_EQ(e.Message(), "File  is not found.");
  }
  EXPECT_EQ(events, std::vector<std::string>{"before"});
  r.SetFileName("/nonexistent/x.pdb");
  EXPECT_THROW(r.Execute(), EFileNotFoundError);
  r.SetFileName("/");  // a folder is not a document file
  EXPECT_THROW(r.Execute(), EFileNotFoundError);
  EXPECT_EQ(r.loads, 0);
  // Mapped or read through a buffer, the reader gets the whole file.
  const std::string path = std::string(LKWORD_TESTDATA) + "/palmdoc/sample-compressed.pdb";
  TFileStream file(path);
  const RawByteString bytes = file.ReadBytes(file.Size());
  r.SetFileName(path);
  r.record = true;
  for (const bool maps : {false, true}) {
    events.clear();
    r.maps = maps;
    r.Execute();
    EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(r.read, bytes);
  }
  EXPECT_EQ(r.loads, 2);
}

TEST(BaseDocumentTest, HeadersAndFootersPerFormatWithHooks) {
  PiecesReader r;
  EXPECT_EQ(r.GetTextStart(), u"");
  EXPECT_EQ(r.GetTextFinish(), u"");
  r.SetTextFormating(tfHTML);
  std::string html = WideToUtf8(r.GetTextStart());
  EXPECT_EQ(html,
            "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\"\r\ncontent=\"text/html; charset=windows-1252\">\r\n"
            "<meta name=\"GENERATOR\" content=\"Larkmoor Word Document Parser\">\r\n"
            "<title>Larkmoor Word Document Parser</title>\r\n</head>\r\n\r\n<body bgcolor=\"#FFFFFF\">\r\n");
  EXPECT_EQ(r.GetTextFinish(), u"\r\n</body>\r\n</html>");
  r.SetTextFormating(tfRTF);
  std::string rtf = WideToUtf8(r.GetTextStart());
  EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252\\uc1\r\n{\\*\\generator Larkmoor Word Document Parser;}"
                      "{\\info{\\operator Larkmoor Word Document Parser}{\\*\\company Larkmoor Software}{\\creatim\\yr",
                      0),
            0u);
  EXPECT_NE(rtf.find("}{\\title Larkmoor Word Document Parser}}\r\n"), std::string::npos);
  EXPECT_EQ(r.GetTextFinish(), u"\r\n}");
  r.SetOnBeforeText([](TObject*, WideString& t) { t = u"HEAD"; });
  r.SetOnAfterText([](TObject*, WideString& t) { t += u"!"; });
  EXPECT_EQ(r.GetTextStart(), u"HEAD");
  EXPECT_EQ(r.GetTextFinish(), u"\r\n}!");
}

TEST(BaseDocumentTest, MaxTextLengthCutsAndStopsExtraction) {
  PiecesReader r;
  r.SetMaxTextLength(5);
  TWideStrings list;
  r.AddText(u"Hello World", list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Get(0), u"Hello");
  EXPECT_TRUE(r.Cancelled());

  // Through a load: lines before the limit survive whole, the rest is cut.
  r.pieces = {u"first", u"second", u"third"};
  r.SetMaxTextLength(12);
  TBytesStream s;
  r.LoadFromStream(s);
  EXPECT_LE(r.Text().TextLength(), 12 + 2);
  EXPECT_EQ(r.Text().Get(1), u"first");
  EXPECT_EQ(r.Text().Get(2).substr(0, 1), u"s");
  EXPECT_TRUE(r.Cancelled());

  // A new load resets the cancel flag and the text.
  r.SetMaxTextLength(0);
  r.LoadFromStream(s);
  EXPECT_FALSE(r.Cancelled());
  EXPECT_EQ(r.Text().Count(), 5);
}

TEST(BaseDocumentTest, OleStreamHeaderIsSkippedOnlyWhenPresent) {
  PiecesReader r;
  TBytesStream with(std::string("BDOC") + std::string(8, 'x') + "rest");
  r.LoadFromOLEStream(with);
  EXPECT_EQ(with.Position(), 12);
  TBytesStream without(std::string("PK\x03\x04") + std::string(12, 'y'));
  without.SetPosition(2);
  r.LoadFromOLEStream(without);
  EXPECT_EQ(without.Position(), 2);
  TBytesStream tiny("abc");
  EXPECT_THROW(r.LoadFromOLEStream(tiny), EReadError);
}

}  // namespace
}  // namespace lkw

namespace lkw {
namespace {

TEST(BaseDocumentTest, WarningsAreCountedOnceAndClearedPerLoad) {
  PiecesReader r;
  r.AddWarning("a");
  r.AddWarning("a");
  r.AddWarning("b");
  ASSERT_EQ(r.Warnings().size(), 2u);
  EXPECT_EQ(r.Warnings()[0].Count, 2);
  for (int i = 0; i < 500; ++i) r.AddWarning(std::to_string(i));
  EXPECT_LE(r.Warnings().size(), 100u);
  TBytesStream s;
  r.LoadFromStream(s);
  EXPECT_TRUE(r.Warnings().empty());
}

}  // namespace
}  // namespace lkw
