#include "lkword/word/MSWord.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "testing/EventRecorder.h"
#include "testing/LoadDocument.h"
#include "testing/WordBuilder.h"

namespace lkw {
namespace {

using namespace std::string_literals;
using testing::PropertySet;
using testing::TCfbBuilder;
using testing::TWordDocBuilder;

std::string U8(const WideString& W) { return WideToUtf8(W); }

void Load(TMSWordDocument& Doc, const std::string& Bytes) { testing::LoadLines(Doc, Bytes); }

// The body: Text holds the header, the body and the footer.
std::string Body(TMSWordDocument& Doc) {
  EXPECT_EQ(Doc.Text().Count(), 3);
  return U8(Doc.Text().Get(1));
}

template <typename E, typename F>
void ExpectThrowWith(F&& f, const std::string& Message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << Message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), Message);
  }
}

TWordDocBuilder Simple(const std::u16string& Text, int Generation = 8) {
  TWordDocBuilder b(Generation);
  b.Pieces = {{Text, false}};
  return b;
}

std::string Lpstr(const std::string& S) {
  std::string v;
  TWordDocBuilder::Add32(v, static_cast<uint32_t>(S.size() + 1));
  return v + S + '\0';
}

// ---------------------------------------------------------------------------
// Loading

TEST(WordLoadTest, ReadsAWord97DocumentFromTheStreamPosition) {
  TWordDocBuilder b = Simple(u"Hello\rWorld\r");
  std::string file = std::string(100, 'z') + b.Compound();
  TBytesStream s(file);
  s.Seek(100, soBeginning);
  TMSWordDocument doc;
  doc.LoadFromStream(s);
  EXPECT_EQ(doc.DocVersion(), 8);
  ASSERT_EQ(doc.Text().Count(), 3);  // header, body, footer: empty in plain text
  EXPECT_EQ(U8(doc.Text().Get(0)), "");
  EXPECT_EQ(U8(doc.Text().Get(1)), "Hello\r\nWorld\r\n");
  EXPECT_EQ(U8(doc.Text().Get(2)), "");
}

TEST(WordLoadTest, SummaryPropertySetsHonourTheirCodePage) {
  // A set with code page 65001 (as LibreOffice writes), one without any, and
  // wide strings, times and integers.
  std::string cp(4, '\0');
  TCfbBuilder::Put16(cp, 0, 0xFDE9);
  std::string created(8, '\0');
  TCfbBuilder::Put32(created, 0, 0x6D2F0000);  // 2015-02-20 11:11:40 UTC
  TCfbBuilder::Put32(created, 4, 0x01D04D04);
  std::string pages(4, '\0');
  TCfbBuilder::Put32(pages, 0, 7);
  std::string wide;
  TWordDocBuilder::Add32(wide, 4);
  wide += WideToMultiByte(CP_UTF16LE, u"Bob\0");
  const std::string sum = PropertySet({{1, 2, cp},
                                       {2, 30, Lpstr("Caf\xC3\xA9 \xE5\xB1\xB1")},
                                       {4, 31, wide},
                                       {12, 64, created},
                                       {14, 3, pages},
                                       {99, 30, Lpstr("ignored")}});
  const std::string docSum = PropertySet({{15, 30, Lpstr("Caf\xE9 Ltd")}});
  TWordDocBuilder b = Simple(u"x");
  TMSWordDocument doc;
  Load(doc, b.Compound({{"\x05SummaryInformation", sum}, {"\x05" "DocumentSummaryInformation", docSum}}));
  const auto& si = doc.SummaryInformation();
  EXPECT_EQ(U8(si.Title()), "Caf\xC3\xA9 \xE5\xB1\xB1");
  EXPECT_EQ(U8(si.Author()), "Bob");
  EXPECT_EQ(si.PageCount(), 7);
  EXPECT_NE(si.Created(), 0);
  EXPECT_EQ(U8(si.Company()), "Caf\xC3\xA9 Ltd");  // no code page: the ANSI one
}

TEST(WordLoadTest, DamagedSummaryValuesAreSkipped) {
  // Offsets and lengths that point past the stream must not be followed.
  std::string bad = PropertySet({{2, 30, Lpstr("Title")}, {3, 30, Lpstr("Subject")}});
  TCfbBuilder::Put32(bad, 48 + 8 + 4, 0x7FFFFFF0);             // first value offset
  TCfbBuilder::Put32(bad, bad.size() - 12, 0x7FFFFFFF);          // second value's length
  TMSWordDocument doc;
  Load(doc, Simple(u"x").Compound({{"\x05SummaryInformation", bad}}));
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "");
  EXPECT_EQ(U8(doc.SummaryInformation().Subject()), "Subject");  // cut to what is there
  EXPECT_EQ(Body(doc), "x");
}

TEST(WordLoadTest, EncryptedDocumentsAreRefusedAfterTheirMetadata) {
  TWordDocBuilder b = Simple(u"secret");
  b.Encryption = 0x03;  // encrypted, "1Table"
  TMSWordDocument doc;
  ExpectThrowWith<EPasswordError>(
      [&] { Load(doc, b.Compound({{"\x05SummaryInformation", PropertySet({{2, 30, Lpstr("T")}})}})); },
      "Could not read the password protected file");
  EXPECT_TRUE(doc.IsPasswordProtected());
  EXPECT_TRUE(doc.IsUseTableStream());
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "T");
}

TEST(WordLoadTest, ParseItemsSelectTextAndMetadata) {
  const std::string file = Simple(u"body").Compound({{"\x05SummaryInformation", PropertySet({{2, 30, Lpstr("T")}})}});
  TMSWordDocument doc;
  doc.SetParseItems({wpiSummaryInformation});
  Load(doc, file);
  EXPECT_EQ(doc.Text().Count(), 0);
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "T");
  doc.SetParseItems({wpiText});
  Load(doc, file);
  EXPECT_EQ(Body(doc), "body");
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "");
}

TEST(WordLoadTest, TheTableStreamIsTheOneTheFlagNames) {
  TWordDocBuilder b = Simple(u"from 0Table");
  b.Encryption = 0;  // flag clear: "0Table"
  b.Build();
  TCfbBuilder cfb;
  cfb.AddStream("WordDocument", b.Document);
  cfb.AddStream("0Table", b.Table);
  cfb.AddStream("1Table", std::string(b.Table.size(), '\xFF'));  // a stale one
  TMSWordDocument doc;
  Load(doc, cfb.Build());
  EXPECT_EQ(Body(doc), "from 0Table");
  EXPECT_EQ(doc.GetCLX().noPCD, 1u);

  // Names in capitals, as some writers spell them, are the same streams.
  TCfbBuilder upper;
  upper.AddStream("WORDDOCUMENT", b.Document);
  upper.AddStream("0TABLE", b.Table);
  upper.AddStream("\x05SUMMARYINFORMATION", PropertySet({{4, 30, Lpstr("Ann")}}));
  TMSWordDocument shouting;
  Load(shouting, upper.Build());
  EXPECT_EQ(Body(shouting), "from 0Table");
  EXPECT_EQ(U8(shouting.SummaryInformation().Author()), "Ann");
}

TEST(WordLoadTest, CompoundFileWithoutDocumentGivesMetadataOnly) {
  TCfbBuilder cfb;
  cfb.AddStream("\x05SummaryInformation", PropertySet({{4, 30, Lpstr("Ann")}}));
  TMSWordDocument doc;
  Load(doc, cfb.Build());
  EXPECT_EQ(doc.Text().Count(), 0);
  EXPECT_EQ(U8(doc.SummaryInformation().Author()), "Ann");
}

TEST(WordLoadTest, FilesPlainOrCompoundAndTheirErrors) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("lkw_word_" + std::to_string(getpid()));
  fs::create_directories(dir);
  auto write = [&](const char* name, const std::string& data) {
    std::ofstream(dir / name, std::ios::binary) << data;
    return (dir / name).string();
  };
  TWordDocBuilder w2 = Simple(u"Word two text\rheader", 2);
  w2.Ccp[0] = 14;
  w2.Ccp[2] = 6;
  w2.Build();
  const std::string plain = write("w2.doc", w2.Document);
  const std::string compound = write("w97.doc", Simple(u"compound").Compound());
  std::string other = w2.Document;
  other[0] = 'P';
  const std::string notWord = write("other.bin", other);

  TMSWordDocument doc;
  doc.LoadFromFile(plain);
  EXPECT_EQ(doc.DocVersion(), 2);
  EXPECT_EQ(Body(doc), "Word two text\r\n");
  EXPECT_EQ(U8(doc.HeaderText().Text()), "header\r\n");
  doc.LoadFromFile(compound);
  EXPECT_EQ(Body(doc), "compound");
  TCfbBuilder onlyMeta;
  onlyMeta.AddStream("\x05SummaryInformation", PropertySet({{2, 30, Lpstr("T")}}));
  doc.LoadFromFile(write("meta.doc", onlyMeta.Build()));
  EXPECT_EQ(doc.Text().Count(), 0);
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "T");
  ExpectThrowWith<ECorruptError>([&] { doc.LoadFromFile(notWord); },
                                 "File " + notWord + " is not valid MS Word document");
  const std::string missing = (dir / "missing.doc").string();
  ExpectThrowWith<EFileNotFoundError>([&] { doc.LoadFromFile(missing); }, "File " + missing + " is not found.");
  fs::remove_all(dir);
}

TEST(WordLoadTest, DamagedInputRaisesLibraryErrorsOnly) {
  TWordDocBuilder b;
  b.Pieces = {{u"first piece ", false}, {u"second", true}};
  b.FootnoteRefs = {3};
  b.FootnoteTexts = {0};
  b.Ccp[0] = 12;
  b.Ccp[1] = 6;
  const std::string good = b.Compound();
  TMSWordDocument doc;
  EXPECT_THROW(Load(doc, good.substr(0, 700)), EOleError);
  // Flip bytes all over the file: FIB, piece table, directory, FAT.
  for (size_t i = 0; i < good.size(); i += 3) {
    std::string f = good;
    f[i] = static_cast<char>(f[i] ^ 0x5A);
    try {
      Load(doc, f);
    } catch (const Exception&) {
    }
  }
  // A plain stream too short for its FIB.
  EXPECT_THROW(Load(doc, std::string("\xDB\xA5\x2D\x00", 4)), EReadError);
}

// A damaged container gives the text its streams still hold, marked partial.
TEST(WordLoadTest, DamagedCompoundFilesGiveTheTextThatSurvives) {
  std::u16string text;
  for (int i = 0; text.size() < 6000; ++i) text += u"word" + Utf8ToWide(std::to_string(i)) + u" ";
  TWordDocBuilder w;
  w.Pieces = {{text, true}};
  w.Build();
  TCfbBuilder cfb;
  cfb.AddStream("WordDocument", w.Document);
  cfb.AddStream("1Table", w.Table);
  const std::string good = cfb.Build();
  const uint32_t doc0 = cfb.StreamSector("WordDocument");
  auto warnings = [](const TMSWordDocument& D) {
    std::string all;
    for (const auto& x : D.Warnings()) all += x.Message + "; ";
    return all;
  };
  {
    TMSWordDocument doc;
    Load(doc, good);
    EXPECT_FALSE(doc.Partial());
    EXPECT_EQ(Body(doc), U8(text));
  }
  // The document stream's chain ends after eight sectors (the FIB fills
  // four), or loops there: the text those sectors hold comes out.
  for (uint32_t next : {0xFFFFFFFEu, doc0}) {
    std::string f = good;
    TCfbBuilder::Put32(f, cfb.FatEntryOffset(doc0 + 7), next);
    TMSWordDocument doc;
    Load(doc, f);
    EXPECT_TRUE(doc.Partial());
    EXPECT_NE(warnings(doc).find("document stream is damaged"), std::string::npos) << warnings(doc);
    const std::string body = Body(doc);
    EXPECT_GT(body.size(), 1500u);
    EXPECT_LE(body.size(), 2048u);
    EXPECT_EQ(U8(text).substr(0, body.size()), body);
  }
  {  // The file cut inside the document stream.
    TMSWordDocument doc;
    Load(doc, good.substr(0, 512 + (doc0 + 10) * 512 + 100));
    EXPECT_TRUE(doc.Partial());
    const std::string body = Body(doc);
    EXPECT_GT(body.size(), 3000u);
    EXPECT_EQ(U8(text).substr(0, body.size()), body);
  }
  const size_t dir = 512 + size_t{cfb.DirectoryFirstSector()} * 512;
  {  // The table stream starts in a mini sector that is not there, and so
     // loses its piece table: the text is read as one 8-bit piece, as its
     // length tells.
    std::string f = good;
    TCfbBuilder::Put32(f, dir + 128 * 2 + 116, 0x00FFFFFF);
    TMSWordDocument doc;
    Load(doc, f);
    EXPECT_TRUE(doc.Partial());
    EXPECT_NE(warnings(doc).find("table stream is damaged"), std::string::npos) << warnings(doc);
    EXPECT_NE(warnings(doc).find("piece table"), std::string::npos) << warnings(doc);
    EXPECT_EQ(Body(doc), U8(text));
  }
  {  // A directory that loses the document's entry: nothing to read.
    std::string f = good;
    TCfbBuilder::Put32(f, 44, 3);
    TCfbBuilder::Put32(f, 80, 4000);
    for (uint32_t e = 1; e <= 2; ++e) f[dir + 128 * e + 66] = 0;
    TMSWordDocument doc;
    EXPECT_THROW(Load(doc, f), EOleError);
  }
}

TEST(WordLoadTest, AWriterDocumentWithEveryStory) {
  TMSWordDocument doc;
  doc.SetTextFormating(tfHTML);
  doc.LoadFromFile(std::string(LKWORD_TESTDATA) + "/doc/sample.doc");
  const std::string body = Body(doc);
  EXPECT_NE(body.find("First paragraph with a note1 and an endnotei here.<p></p>"), std::string::npos) << body;
  EXPECT_NE(body.find("A link to example in text, caf\xC3\xA9 &amp; &lt;tags&gt;."), std::string::npos);
  EXPECT_NE(body.find("Cell A1 Cell B1<br>\r\n\nCell A2 Cell B2"), std::string::npos);
  EXPECT_NE(body.find("Last paragraph."), std::string::npos);
  EXPECT_EQ(body.find("Inside the text box"), std::string::npos);
  EXPECT_NE(U8(doc.FootNoteText().Text()).find("1\tThe footnote text.<p></p>\r\n2\tAnother footnote."),
            std::string::npos);
  EXPECT_NE(U8(doc.EndNoteText().Text()).find("i\tThe endnote text."), std::string::npos);
  EXPECT_NE(U8(doc.HeaderText().Text()).find("Running head 1"), std::string::npos);
  // Headers and footers apart, without the note separators.
  EXPECT_EQ(U8(doc.HeaderText().Text()).rfind("Running head 1<p></p>", 0), 0u);
  EXPECT_EQ(U8(doc.FooterText().Text()).rfind("Footer line<p></p>", 0), 0u);
  EXPECT_EQ(U8(doc.HeaderText().Text()).find("Footer"), std::string::npos);
  EXPECT_NE(U8(doc.AnnotationText().Text()).find("A comment."), std::string::npos);
  EXPECT_NE(U8(doc.TextBoxText().Text()).find("Inside the text box."), std::string::npos);
  EXPECT_EQ(U8(doc.SummaryInformation().Title()), "Sample title");
  EXPECT_EQ(U8(doc.SummaryInformation().Author()), "Ann Author");
  EXPECT_EQ(U8(doc.SummaryInformation().Subject()), "Sample subject");
}

// ---------------------------------------------------------------------------
// Piece table and text

TEST(WordTextTest, FastSavedPiecesComeOutInCharacterOrder) {
  TWordDocBuilder b;
  b.Pieces = {{u"one \u201Cquoted\u201D ", false}, {u"two \u201C ", true}, {u"three", false}};
  b.FileOrder = {2, 0, 1};
  b.Flag = 0x04;
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_TRUE(doc.IsComplexDocument());
  // 0x93 of an 8-bit piece is the opening quote, whatever the language.
  EXPECT_EQ(Body(doc), "one \xE2\x80\x9Cquoted\xE2\x80\x9D two \xE2\x80\x9C three");
}

TEST(WordTextTest, PieceBoundsAreChecked) {
  TWordDocBuilder b;
  b.Pieces = {{u"ok ", false}, {u"gone", false}};
  b.Build();
  // Move the second piece past the end of the document stream.
  const size_t pcd2 = 1 + 4 + 3 * 4 + 8 + 2;
  TWordDocBuilder::Put32(b.Table, pcd2, static_cast<uint32_t>(b.Document.size() - 4));
  TCfbBuilder cfb;
  cfb.AddStream("WordDocument", b.Document);
  cfb.AddStream("1Table", b.Table);
  TMSWordDocument doc;
  ExpectThrowWith<ECorruptError>([&] { Load(doc, cfb.Build()); }, "Piece Bounds out of range");
  EXPECT_EQ(doc.Text().Count(), 0);

  // A piece table longer than its stream.
  TWordDocBuilder c = Simple(u"abc");
  c.Build();
  TWordDocBuilder::Put32(c.Table, 1, 0x10000);
  TCfbBuilder cfb2;
  cfb2.AddStream("WordDocument", c.Document);
  cfb2.AddStream("1Table", c.Table);
  EXPECT_THROW(Load(doc, cfb2.Build()), EReadError);
}

TEST(WordTextTest, OverlappingPiecesCannotMultiplyTheText) {
  TWordDocBuilder b;
  b.Pieces = {{std::u16string(5000, u'a'), false}};
  b.Build();
  // 2000 pieces that all point at the same 10000 bytes.
  std::string plc;
  for (uint32_t i = 0; i <= 2000; ++i) TWordDocBuilder::Add32(plc, i * 5000);
  for (int i = 0; i < 2000; ++i) {
    plc += std::string(2, '\0');
    TWordDocBuilder::Add32(plc, 0x800);
    plc += std::string(2, '\0');
  }
  std::string table = "\x02";
  TWordDocBuilder::Add32(table, static_cast<uint32_t>(plc.size()));
  table += plc;
  std::string d = b.Document;
  TWordDocBuilder::Put32(d, 76, 10000000);      // ccpText
  TWordDocBuilder::Put32(d, 154 + 8 * 33 + 4, static_cast<uint32_t>(table.size()));
  TCfbBuilder cfb;
  cfb.AddStream("WordDocument", d);
  cfb.AddStream("1Table", table);
  TMSWordDocument doc;
  EXPECT_THROW(Load(doc, cfb.Build()), EReadError);
}

TEST(WordTextTest, LargePieceTablesAreUsed) {
  TWordDocBuilder b;
  std::string expect;
  for (int i = 0; i < 600; ++i) {
    std::string n = "p";
    n += std::to_string(i);
    n += ' ';
    const std::u16string t = AsciiToWide(n);
    b.Pieces.push_back({t, i % 2 == 0});
    expect += U8(t);
  }
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(doc.GetCLX().noPCD, 600u);
  EXPECT_EQ(Body(doc), expect);
}

TEST(WordTextTest, StoriesGoToTheirListsByCharacterPosition) {
  TWordDocBuilder b;
  // main | footnotes | header | macro | annotation | endnote | text box | header text box
  b.Pieces = {{u"Main\x02 text\r", false}, {u"\x02 note\r", false}, {u"Head\r", false}, {u"MCR", false},
              {u"Comment\r", false},       {u"End\r", false},     {u"Box\r", false},  {u"HBox\r", false}};
  int32_t ccp[8] = {11, 7, 5, 3, 8, 4, 4, 5};
  for (int i = 0; i < 8; ++i) b.Ccp[i] = ccp[i];
  b.FootnoteRefs = {4};
  b.FootnoteTexts = {0};
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(Body(doc), "Main1 text\r\n");
  EXPECT_EQ(U8(doc.FootNoteText().Text()), "1 note\r\n\r\n");
  EXPECT_EQ(U8(doc.HeaderText().Text()), "Head\r\n\r\nHBox\r\n\r\n");
  EXPECT_EQ(U8(doc.AnnotationText().Text()), "Comment\r\n\r\n");
  EXPECT_EQ(U8(doc.EndNoteText().Text()), "End\r\n\r\n");
  EXPECT_EQ(U8(doc.TextBoxText().Text()), "Box\r\n\r\n");
  EXPECT_EQ(doc.MacroText().Count(), 0);
  EXPECT_EQ(doc.FooterText().Count(), 0);
}

TEST(WordTextTest, NoteMarksAndSymbolsReadAsThePageShowsThem) {
  TWordDocBuilder b;
  b.Fonts = {{0, "Times New Roman"}, {2, "Symbol"}, {2, "Wingdings"}};
  // Notes: auto-numbered (2), custom "*", custom symbol; a plain "(" stays,
  // a picture font's symbol is no text.
  b.Pieces = {{u"One\x02 two* (x)", false}, {u"(", true, 1, 0xF0A9}, {u" four", false}, {u"(", true, 2, 0xF04A},
              {u"\r", false},               {u"\x02 a\r* b\r", false}, {u"(", true, 1, 0xF0A9}, {u" c\r", false}};
  b.Ccp[0] = 21;
  b.Ccp[1] = 12;
  b.FootnoteRefs = {3, 8, 13};
  b.FootnoteTexts = {0, 4, 8};
  b.CustomMarks = {1, 2};
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(Body(doc), "One1 two* (x)\u2665 four\r\n");
  EXPECT_EQ(U8(doc.FootNoteText().Text()), "1 a\r\n* b\r\n\u2665 c\r\n\r\n");
}

// Automatic marks follow the document's format and start; a custom mark
// does not count; properties too short to hold a format keep the defaults.
TEST(WordTextTest, NoteNumbersFollowTheDocumentProperties) {
  auto build = [](const std::string& Dop) {
    TWordDocBuilder b;
    b.Pieces = {{u"A\x02 B* C\x02\r\x02 a\r* b\r\x02 c\r", false}};
    b.Ccp[0] = 9;
    b.Ccp[1] = 12;
    b.FootnoteRefs = {1, 4, 7};
    b.FootnoteTexts = {0, 4, 8};
    b.CustomMarks = {1};
    b.Dop = Dop;
    return b.Compound();
  };
  auto dop = [](uint16_t Start, uint16_t Nfc) {
    std::string d(500, '\0');
    TWordDocBuilder::Put16(d, 2, static_cast<uint16_t>(Start << 2));
    TWordDocBuilder::Put16(d, 492, Nfc);
    return d;
  };
  TMSWordDocument letters, roman, shortDop;
  Load(letters, build(dop(3, 4)));
  EXPECT_EQ(Body(letters), "Ac B* Cd\r\n");
  EXPECT_EQ(U8(letters.FootNoteText().Text()), "c a\r\n* b\r\nd c\r\n\r\n");
  Load(roman, build(dop(4, 1)));
  EXPECT_EQ(Body(roman), "AIV B* CV\r\n");
  Load(shortDop, build(dop(3, 4).substr(0, 3)));
  EXPECT_EQ(Body(shortDop), "A1 B* C2\r\n");
}

// Plain text reads with tracked changes accepted: deleted runs are left out,
// and what follows them keeps its place (its note numbers, its paragraphs).
TEST(WordTextTest, DeletedRevisionsAreLeftOutOfPlainText) {
  const std::string markDel("\x00\x08\x01", 3), markIns("\x01\x08\x01", 3);
  TWordDocBuilder b;
  b.Pieces = {{u"Kept\x02 ", false},       {u"gone text ", true, -1, 0, markDel},
              {u"new ", false, -1, 0, markIns}, {u"end\x02\r", false},
              {u"second\r", true},          {u"\x02 a\r\x02 b\r", false}};
  b.Ccp[0] = 32;
  b.Ccp[1] = 8;
  b.FootnoteRefs = {4, 23};
  b.FootnoteTexts = {0, 4};
  b.Paragraphs = {{}, {}};  // changes are marked by CP, through the paragraphs' runs
  const std::string file = b.Compound();
  {
    TMSWordDocument doc;
    Load(doc, file);
    EXPECT_EQ(Body(doc), "Kept1 new end2\r\nsecond\r\n");
    EXPECT_EQ(U8(doc.FootNoteText().Text()), "1 a\r\n2 b\r\n\r\n");
  }
  {  // Shown on request, and in the other formats, each change marked.
    TMSWordDocument doc;
    doc.SetParseItems(doc.ParseItems().Include(wpiRevisions));
    Load(doc, file);
    EXPECT_EQ(Body(doc), "Kept1 -gone text +new end2\r\nsecond\r\n");
  }
  const struct {
    TMSTextFormating Format;
    const char* Marked;
  } formats[] = {{tfRTF, "Kept1 -gone text +new end2"}, {tfHTML, "Kept1 <s>gone text </s><u>new </u>end2"}};
  for (const auto& f : formats) {
    TMSWordDocument doc;
    doc.SetTextFormating(f.Format);
    Load(doc, file);
    const std::string text = U8(doc.Text().Text());
    EXPECT_NE(text.find(f.Marked), std::string::npos) << text;
  }
}

TEST(WordTextTest, EmbeddedWordDocumentsAreReadAsTextBoxes) {
  TWordDocBuilder outer = Simple(u"Outer\x02 page\r");
  outer.FootnoteRefs = {5};
  outer.FootnoteTexts = {0};
  TWordDocBuilder inner = Simple(u"Inner\x02 text\r");
  inner.Build();
  // The object is read with its own pieces and notes (the outer note's CP
  // numbers nothing there); a damaged object is lost, one that is no Word
  // document is passed over.
  TMSWordDocument doc;
  Load(doc, outer.Compound({{"ObjectPool/_1/WordDocument", inner.Document},
                            {"ObjectPool/_1/1Table", inner.Table},
                            {"ObjectPool/_2/WordDocument", "\xEC\xA5\xC1"},
                            {"ObjectPool/_3/\x01Ole10Native", "data"}}));
  EXPECT_EQ(Body(doc), "Outer1 page\r\n");
  EXPECT_EQ(U8(doc.TextBoxText().Text()), "Inner text\r\n\r\n");
  EXPECT_TRUE(doc.Partial());
}

TEST(WordTextTest, HeadersAndFootersApartByTheirStories) {
  TWordDocBuilder b;
  b.Pieces = {{u"Body\r", false}, {u"\x03\rHead one\rFoot one\rFirst head\r\r", false}, {u"HBox\r", false}};
  b.Ccp[0] = 5;
  b.Ccp[2] = 32;
  b.Ccp[7] = 5;  // a text box in a header
  // Separators (one used), then even/odd header, even/odd footer, first
  // header/footer, and the closing mark, whose end lies past the text as in
  // Word's files.
  b.HeaderStories = {0, 2, 2, 2, 2, 2, 2, 2, 11, 11, 20, 31, 31, 33};
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(U8(doc.HeaderText().Text()), "Head one\r\n\r\nFirst head\r\n\r\nHBox\r\n\r\n");
  EXPECT_EQ(doc.TextBoxText().Count(), 0);
  EXPECT_EQ(U8(doc.FooterText().Text()), "Foot one\r\n\r\n");

  // A list that is not ascending is not used: the whole header text is one.
  b.HeaderStories = {0, 2, 2, 2, 2, 2, 2, 2, 11, 9, 20, 31, 31, 33};
  TMSWordDocument whole;
  Load(whole, b.Compound());
  EXPECT_NE(U8(whole.HeaderText().Text()).find("Foot one"), std::string::npos);
  EXPECT_EQ(whole.FooterText().Count(), 0);
}

TEST(WordTextTest, Word6HeadersAndFootersByTheirSections) {
  // Word 6/95 list only the stories that exist: here one footnote
  // separator (the document says so), then a section with an odd header
  // and footer (after page size, section break and numbering modifiers),
  // then one with only an odd header.
  TWordDocBuilder b(6);
  b.Pieces = {{u"Body one\rBody two\r", true}, {u"\x03\rHead one\rFoot one\rHead two\r\r", true}};
  b.Ccp[0] = 18;
  b.Ccp[2] = 30;
  b.HeaderStories = {0, 2, 11, 20, 29, 30};
  b.DopHeaderBits = 0x01;
  const std::string size = std::string("\xA4\x82\x2E", 3), brk = std::string("\x8E\x00", 2);
  b.SectionSprms = {size + brk + std::string("\x85\x02\x01\x02", 4) + std::string("\x99\x0A", 2),
                    std::string("\x99\x02", 2)};
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(doc.DocVersion(), 6);
  EXPECT_EQ(U8(doc.HeaderText().Text()), "Head one\r\n\r\nHead two\r\n\r\n");
  EXPECT_EQ(U8(doc.FooterText().Text()), "Foot one\r\n\r\n");

  // Properties that do not account for every story, or a modifier whose
  // size is unknown: one list, as before the stories were told apart.
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    TWordDocBuilder c = b;
    if (variant == 0)
      c.DopHeaderBits = 0x03;
    else
      c.SectionSprms[0] = std::string("\xA3\x01", 2) + c.SectionSprms[0];
    TMSWordDocument whole;
    Load(whole, c.Compound());
    EXPECT_NE(U8(whole.HeaderText().Text()).find("Foot one"), std::string::npos);
    EXPECT_EQ(whole.FooterText().Count(), 0);
  }
}

TEST(WordTextTest, OldGenerationsDecodeWithTheDocumentLanguage) {
  // Word 6: 8-bit pieces in the document stream itself, decoded with the
  // code page of lID unless the host names another language.
  TWordDocBuilder b(6);
  b.lID = 0x0419;
  b.CodePage = 1251;
  b.Pieces = {{u"\u041F\u0440\u0438\u0432\u0435\u0442 ", true}, {u"\u043C\u0438\u0440", true}};
  b.FileOrder = {1, 0};
  b.Build();
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(doc.DocVersion(), 6);
  EXPECT_EQ(doc.DocLangToCodePage(), 1251u);
  EXPECT_EQ(Body(doc), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80");

  doc.SetOnGetDefaultLanguage([](TObject*, uint16_t& Lang) { Lang = 0x0408; });
  Load(doc, b.Compound());
  EXPECT_EQ(doc.DocLangToCodePage(), 1253u);
  EXPECT_EQ(U8(doc.Text().Get(1)).substr(0, 2), "\xCE\x9F");  // 0xCF in 1253 is Omicron

  // Without a piece table the text runs from fcMin.
  TWordDocBuilder c(7);
  c.WithClx = false;
  c.Pieces = {{u"plain Word 95", true}};
  Load(doc, c.Compound());
  EXPECT_EQ(doc.DocVersion(), 7);
  EXPECT_EQ(Body(doc), "plain Word 95");
}

TEST(WordTextTest, MacWord6TextIsInTheMacCharacterSet) {
  for (const auto& [lid, text, utf8] :
       {std::tuple{0x0409, u"caf\u00E9 \u2020", "caf\xC3\xA9 \xE2\x80\xA0"},
        std::tuple{0x0419, u"\u041C\u0438\u0440", "\xD0\x9C\xD0\xB8\xD1\x80"}}) {
    TWordDocBuilder b(7);
    b.lID = static_cast<uint16_t>(lid);
    b.chse = 256;
    b.CodePage = lid == 0x0409 ? 10000 : 10007;
    b.Pieces = {{text, true}};
    TMSWordDocument doc;
    Load(doc, b.Compound());
    EXPECT_EQ(Body(doc), utf8) << lid;
  }
}

TEST(WordTextTest, Word6TextTakesTheCodePageOfItsFonts) {
  // An English Word 95 writing Russian with a Cyrillic font.
  TWordDocBuilder b(7);
  b.CodePage = 1251;
  b.Fonts = {{0, "Times New Roman"}, {2, "Symbol"}, {204, "Times New Roman Cyr"}};
  b.Pieces = {{u"\u041F\u0440\u0438\u0432\u0435\u0442 ", true, 2}, {u"world", true, 0}};
  TMSWordDocument doc;
  Load(doc, b.Compound());
  EXPECT_EQ(doc.DocLangToCodePage(), 1252u);
  EXPECT_EQ(Body(doc), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 world");
  // A language named by the host wins over the fonts.
  doc.SetOnGetDefaultLanguage([](TObject*, uint16_t& Lang) { Lang = 0x0409; });
  Load(doc, b.Compound());
  EXPECT_EQ(Body(doc).substr(0, 2), "\xC3\x8F");  // 0xCF in 1252
}

TEST(WordTextTest, LanguagesMapToCodePages) {
  struct TCase {
    uint16_t lid, lidFE;
    uint8_t flags;
    uint32_t cp;
  } cases[] = {// by the primary language, with exceptions for whole identifiers
               {0x0419, 0, 0, 1251}, {0x041A, 0, 0, 1252}, {0x0C1A, 0, 0, 1251},
               // far-east documents by lidFE, and only when flagged so
               {0x0409, 0x0411, 0x40, 932}, {0x0409, 0x0412, 0x40, 949}, {0x0409, 0x0411, 0, 1252},
               // languages the table leaves out: the Windows default
               {0x042A, 0, 0, 1258}};
  for (const TCase& c : cases) {
    TWordDocBuilder b = Simple(u"x");
    b.lID = c.lid;
    b.lidFE = c.lidFE;
    b.Encryption = static_cast<uint8_t>(0x02 | c.flags);
    TMSWordDocument doc;
    Load(doc, b.Compound());
    EXPECT_EQ(doc.DocLangToCodePage(), c.cp) << std::hex << c.lid << " " << c.lidFE;
  }
}

// ---------------------------------------------------------------------------
// Rendering and fields

struct TEvent {
  TLKWordSysChar SysChar;
  std::string Value;
};

class WordRenderTest : public ::testing::Test {
 protected:
  std::string Render(const std::u16string& Text, TMSTextFormating Format = tfPlainText) {
    doc.SetTextFormating(Format);
    Load(doc, Simple(Text).Compound());
    return Body(doc);
  }
  void Record() {
    doc.SetOnConvertSysChar([this](TObject*, TLKWordSysChar S, const WideString& V, WideString&) {
      events.push_back({S, U8(V)});
    });
  }
  TMSWordDocument doc;
  std::vector<TEvent> events;
};

TEST_F(WordRenderTest, SpecialCharactersPerFormat) {
  const std::u16string text = u"a\rb\x0B" u"c\x07" u"d\x07\x07" u"e\tf\x0C\x00g<&\x1E" u"h\x04\x0Ei"s;
  // A page, section (12) or column break (14) ends its paragraph; a
  // non-breaking hyphen (30) is a hyphen; a note separator (4) is no text.
  EXPECT_EQ(Render(std::u16string(text)), "a\r\nb\r\nc d\r\ne\tf\r\ng<&-h\r\ni");
  EXPECT_EQ(Render(std::u16string(text), tfRTF),
            "a\r\n\\par b\r\n\\par c d\r\n\\par \ne\tf\r\n\\par g<&-h\r\n\\par i");
  EXPECT_EQ(Render(std::u16string(text), tfHTML),
            "a<p></p>\r\nb<br>\r\nc d<br>\r\n\ne\tf<p></p>\r\ng&lt;&amp;-h<p></p>\r\ni");
  EXPECT_EQ(Render(u"{\\}\u00E9", tfRTF), "\\{\\\\\\}\\u233?");
  // Codes Word gives no meaning, and C1 controls, are no text.
  EXPECT_EQ(Render(u"a\x0F\x12\x16\x1D" u"b\u0081\u009D" u"c"), "abc");
  EXPECT_EQ(Render(u""), "");
}

TEST_F(WordRenderTest, EventsCanReplaceTheOutput) {
  doc.SetOnConvertSysChar([](TObject*, TLKWordSysChar S, const WideString& V, WideString& R) {
    if (S == scUnknown && V == u"\t") R = u" -> ";
    if (S == scParagraphEnd) R = u"|";
  });
  EXPECT_EQ(Render(u"a\tb\rc\x0C"), "a -> b|c\r\n");
}

TEST_F(WordRenderTest, FieldsYieldTheirResults) {
  Record();
  EXPECT_EQ(Render(u"See \x13 HYPERLINK \"http://x.org/\" \x14" u"Click\x15 now"), "See Click now");
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].SysChar, scFieldBegin);
  EXPECT_EQ(events[1].SysChar, scFieldMiddle);
  EXPECT_EQ(events[2].SysChar, scFieldEnd);
  EXPECT_EQ(events[3].SysChar, scHyperlink);
  EXPECT_EQ(events[3].Value, "HYPERLINK \"http://x.org/\"");

  events.clear();
  EXPECT_EQ(Render(u"p\x13PAGE\x14" u"3\x15 of \x13 PAGEREF _Toc1 \\h \x14" u"5\x15"), "p3 of 5");
  EXPECT_EQ(events[3].SysChar, scPage);
  EXPECT_EQ(events[7].SysChar, scPage);

  events.clear();
  EXPECT_EQ(Render(u"\x13 time \\@ \"HH:mm\" \x14" u"10:30\x15"), "10:30");
  EXPECT_EQ(events.back().SysChar, scTime);

  // Without a separator the field has no result, and its switches are no text.
  events.clear();
  EXPECT_EQ(Render(u"[\x13TIME \\@ \"dd\"\x15]"), "[]");
  EXPECT_EQ(events.back().SysChar, scTime);
  EXPECT_EQ(events.back().Value, "TIME");
  EXPECT_EQ(Render(u"[\x13XE entry\x15]"), "[]");
  // But a macro button shows its text (a template's placeholder) instead.
  EXPECT_EQ(Render(u"To: \x13 MACROBUTTON NoMacro [Click here and type name] \x15."), "To: [Click here and type name].");
  EXPECT_EQ(Render(u"<\x13macrobutton GoTo <&>\x15", tfHTML), "&lt;&lt;&amp;&gt;");
  EXPECT_EQ(Render(u"[\x13MACROBUTTON NoMacro\x15|\x13MACROBUTTONS x y\x15|\x13MACROBUTTON \\* MERGEFORMAT\x15]"), "[||]");
  EXPECT_EQ(Render(u"\x13MACROBUTTON Go Here \\* MERGEFORMAT\x15"), "Here");
}

TEST_F(WordRenderTest, NestedAndUnfinishedFields) {
  // The inner begin resolves the outer field early; the outer separator and
  // end, outside any field then, yield nothing.
  EXPECT_EQ(Render(u"\x13 HYPERLINK \"u\" \x13 PAGE \x14" u"7\x15\x14" u"out\x15!"), "7out!");
  // A field that never ends shows its result, if it got that far; its
  // instruction is no text.
  EXPECT_EQ(Render(u"x\x13 HYPERLINK abc"), "x");
  EXPECT_EQ(Render(u"x\x13 HYPERLINK abc\x14shown"), "xshown");
  // A field of more than 200 outputs is flushed: its instruction is left
  // out, nested fields and all, up to its result, which shows whole.
  const std::u16string w250(250, u'w');
  EXPECT_EQ(Render(u"a\x13 HYPERLINK \"" + w250 + u"\" \x14r\x15" u"b"), "arb");
  EXPECT_EQ(Render(u"a\x13 IF " + w250 + u"\x13 REF x \x14v\x15 w\x14r\x15" u"b"), "arb");
  EXPECT_EQ(Render(u"\x13 HYPERLINK \"u\" \x14" + std::u16string(250, u'r') + u"\x15"), std::string(250, 'r'));
  EXPECT_EQ(Render(u"\x13 TOC \x14" + w250 + u"\x15", tfRTF).find("\xE2"), std::string::npos);
  // One that seems to span paragraphs has lost its end: the next paragraph
  // is text.
  EXPECT_EQ(Render(u"\x13" + w250 + u"\rnext"), "\r\nnext");
}

TEST_F(WordRenderTest, RawOutputWithoutConversion) {
  doc.SetConvertSysCharacters(false);
  doc.SetMaxTextLength(3);
  EXPECT_EQ(Render(u"a\rb\x13 PAGE \x14" u"1\x15 long text"), "a\rb\x13 PAGE \x14" "1\x15 long text");
}

TEST_F(WordRenderTest, MaxTextLengthCutsTheWholeDocument) {
  TWordDocBuilder b = Simple(u"0123456789\r");
  b.Pieces.push_back({u"note\r", false});
  b.Ccp[0] = 11;
  b.Ccp[1] = 5;
  doc.SetMaxTextLength(5);
  Load(doc, b.Compound());
  EXPECT_EQ(U8(doc.Text().Text()), "\r\n01234\r\n\r\n");
  EXPECT_EQ(doc.FootNoteText().Count(), 0);
}

// The consumers see the structure the marks draw: cells and rows (a cell's
// paragraphs before its mark included), breaks, fields' results without
// their instructions, hyperlinks' results as links, each story apart.
TEST(WordEventsTest, MarksTellParagraphsTablesAndStories) {
  const std::u16string body = u"Intro\rA1\x07" u"B1a\rB1b\x07\x07" u"After\x0Bline\tend\x0C"
                              u"p \x13 PAGE \x14" u"3\x15 done\r"
                              u"see \x13 HYPERLINK \"http://x.org/a\\\"b\" \\l \"top\" \\o \"tip\" \x14" u"site\x15, "
                              u"\x13 hyperlink \\l \"sec\"\x14" u"there\x15 \x13 HYPERLINK \x14" u"none\x15\r"
                              u"\x13 MACROBUTTON NoMacro [Name] \x15\r";
  TWordDocBuilder b = Simple(body + u"note\r");
  b.Ccp[0] = static_cast<int32_t>(body.size());
  b.Ccp[1] = 5;
  TMSWordDocument doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  Load(doc, b.Compound());
  EXPECT_EQ(rec.Joined(),
            "<doc>|<story main>|<p>|text 'Intro'|</p>|"
            "<table>|<tr>|<td>|<p>|text 'A1'|</p>|</td>|<td>|<p>|text 'B1a'|</p>|<p>|text 'B1b'|</p>|</td>|</tr>|"
            "</table>|<p>|text 'After'|br|text 'line'|tab|text 'end'|</p>|page-break|<p>|text 'p 3 done'|</p>|"
            "<p>|text 'see '|<a 'http://x.org/a\"b#top'>|text 'site'|</a>|text ', '|<a '#sec'>|text 'there'|</a>|"
            "text ' none'|</p>|<p>|text '[Name]'|</p>|"
            "</story main>|<story footnote>|<p>|text 'note'|</p>|</story footnote>|</doc>");
  EXPECT_EQ(Body(doc), "Intro\r\nA1 B1a\r\nB1b\r\nAfter\r\nline\tend\r\np 3 done\r\nsee site, there none\r\n[Name]\r\n");
}

// With a sink the main text goes out in blocks and items; joined, they must
// be exactly what Text holds: fields and table rows open across a block's
// end, a paragraph longer than an item, every format, cuts at the limit.
TEST(WordSinkTest, SinkGetsWhatTextHolds) {
  std::u16string text;
  for (int n = 0; text.size() < (size_t{1} << 20) - 300; ++n) text += u"paragraph " + AsciiToWide(std::to_string(n)) + u" with some words\r";
  // A field whose result holds the last paragraph mark before the first block ends.
  text += u"See \x13 HYPERLINK \"http://x.org/\" \x14" u"Click\rhere";
  while (text.size() < (size_t{1} << 20) + 500) text += u"inside the field ";
  text += u"\x15 done\rcell\x07" u"row\x07\x07";
  text += std::u16string(70000, u'x') + u"\r<&>{}\u00E9\r";
  TWordDocBuilder b;
  b.Pieces = {{text.substr(0, 400000), true}, {text.substr(400000), false}};
  const std::string file = b.Compound();
  for (TMSTextFormating format : {tfPlainText, tfRTF, tfHTML}) {
    // -1: special characters passed through unrendered (no limit applies).
    for (int32_t limit : {0, 70001, 1048590, -1}) {
      SCOPED_TRACE(std::to_string(format) + " limit " + std::to_string(limit));
      auto joined = [](const std::vector<WideString>& Items) {
        WideString all;
        for (const WideString& i : Items) all += i + u"\r\n";
        return all;
      };
      TMSWordDocument kept;
      kept.SetTextFormating(format);
      kept.SetMaxTextLength(std::max(limit, 0));
      kept.SetConvertSysCharacters(limit >= 0);
      Load(kept, file);
      TMSWordDocument sunk;
      sunk.SetTextFormating(format);
      sunk.SetMaxTextLength(std::max(limit, 0));
      sunk.SetConvertSysCharacters(limit >= 0);
      std::vector<WideString> items;
      sunk.SetTextSink([&](std::u16string_view Item) { items.emplace_back(Item); });
      Load(sunk, file);
      EXPECT_EQ(sunk.Text().Count(), 0);
      EXPECT_GT(items.size(), limit == 70001 || limit < 0 ? 2u : 4u);
      EXPECT_TRUE(joined(items) == joined(kept.Text().Items()));
      EXPECT_EQ(sunk.Warnings().size(), kept.Warnings().size());
    }
  }
}

}  // namespace
}  // namespace lkw
