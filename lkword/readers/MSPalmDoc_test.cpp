#include "lkword/readers/MSPalmDoc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "testing/EventRecorder.h"
#include "testing/MobiHuffCoder.h"
#include "testing/PalmDocBuilder.h"

namespace lkw {
namespace {

namespace fs = std::filesystem;
using testing::PalmDatabase;
using testing::PalmDocLiterals;
using testing::PutBE16;
using testing::PutBE32;
using testing::THostStream;

// Builds a Palm database: header, record list, then the records in order.
struct Book {
  std::string name = "Test Book";
  std::string type = "TEXt";
  std::string creator = "REAd";
  uint16_t compression = 1;
  int record0Count = -1;  // Record0.NumRecords; -1: the number of text records
  std::vector<std::string> texts;
  std::vector<std::string> trailing;  // records after the text (bookmarks...)
  int headerCount = -1;               // database NumRecords; -1: the real count

  std::string Bytes() const {
    std::vector<std::string> recs;
    bool peanut = type == "PNRD";
    std::string r0(peanut ? 116 : 16, '\0');
    PutBE16(r0, 0, compression);
    uint32_t textCount = record0Count < 0 ? static_cast<uint32_t>(texts.size()) : static_cast<uint32_t>(record0Count);
    if (peanut) {
      PutBE16(r0, 8, textCount + 1);
    } else {
      PutBE16(r0, 8, textCount);
      PutBE16(r0, 10, 4096);
    }
    recs.push_back(r0);
    for (const auto& t : texts) {
      std::string r = t;
      if (peanut)
        for (char& c : r) c = static_cast<char>(c ^ 0xA5);
      recs.push_back(r);
    }
    for (const auto& t : trailing) recs.push_back(t);
    return PalmDatabase(type.substr(0, 4) + creator.substr(0, 4), recs, name, headerCount);
  }
};

struct Result {
  std::vector<std::string> items;  // UTF-8
  std::string title;
};

Result Load(const std::string& bytes, TMSTextFormating fmt = tfPlainText, int32_t maxLen = 0,
            TLKWParseItems items = {wpiText, wpiSummaryInformation}) {
  TBytesStream stream(bytes);
  TPalmDocFile doc;
  doc.SetTextFormating(fmt);
  doc.SetMaxTextLength(maxLen);
  doc.SetParseItems(items);
  doc.LoadFromStream(stream);
  Result r;
  for (const auto& w : doc.Text().Items()) r.items.push_back(WideToUtf8(w));
  r.title = WideToUtf8(doc.SummaryInformation().Title());
  // A host writing UTF-8 gets the same items, most of them encoded straight
  // from the book's bytes, runs of lines joined by LF.
  std::vector<std::string> sunk;
  doc.SetTextSink([&](std::u16string_view w) { sunk.push_back(WideToUtf8(WideString(w))); });
  doc.SetUtf8TextSink([&](std::string_view u) {
    EXPECT_EQ(u.find('\r'), std::string_view::npos);
    for (size_t lf; (lf = u.find('\n')) != std::string_view::npos; u.remove_prefix(lf + 1))
      sunk.emplace_back(u.substr(0, lf));
    sunk.emplace_back(u);
  });
  stream.Seek(0, soBeginning);
  doc.LoadFromStream(stream);
  EXPECT_EQ(sunk, r.items);
  // Read through a stream, the records are the same.
  THostStream host(bytes);
  TPalmDocFile other;
  other.SetTextFormating(fmt);
  other.SetMaxTextLength(maxLen);
  other.SetParseItems(items);
  other.LoadFromStream(host);
  std::vector<std::string> read;
  for (const auto& w : other.Text().Items()) read.push_back(WideToUtf8(w));
  EXPECT_EQ(read, r.items);
  return r;
}

// Body lines of a plain-text load (header and footer items removed).
std::vector<std::string> Lines(const std::string& bytes) {
  auto items = Load(bytes).items;
  EXPECT_GE(items.size(), 2u);
  EXPECT_EQ(items.front(), "");
  EXPECT_EQ(items.back(), "");
  return std::vector<std::string>(items.begin() + 1, items.end() - 1);
}

std::string ReadAll(const fs::path& p) {
  return ReadFileBytes(p.string());
}

// The text of a cp1252 file split into lines as the reader splits them.
std::vector<std::string> TextLines(const std::string& cp1252) {
  std::vector<std::string> out;
  std::string u = WideToUtf8(MultiByteToWide(1252, cp1252));
  size_t pos = 0;
  while (pos < u.size()) {
    size_t nl = u.find('\n', pos);
    if (nl == std::string::npos) nl = u.size();
    std::string line = u.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    pos = nl + 1;
  }
  return out;
}

const fs::path kTestData = LKWORD_TESTDATA;

// ---------------------------------------------------------------------------

TEST(PalmDocLines, LinesRunAcrossRecordsEachDecompressedAlone) {
  Book b;
  b.texts = {"First li", "ne\r", "\nSecond", " line\rThird\r", "", "\r\nFourth"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"First line", "Second line", "Third", "", "Fourth"}));
  // Each record's back-reference only sees its own output.
  b.compression = 2;
  b.texts = {std::string("ab") + "\x80\x12", std::string("c\x80\x10") + "\xC4"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"abababac D"}));
}

TEST(PalmDocLines, BytesDecodedAsTheCodePageConverterDoes) {
  // Every byte, then lines of every length around the UTF-8 encoder's
  // 16-byte blocks, with few, some and mostly non-ASCII bytes, some CR LF
  // ends: the text list and the UTF-8 host (which Load compares) hold what
  // the converter makes of them, but for the soft hyphen plain text leaves
  // out.
  std::string every;
  for (int c = 1; c < 256; ++c)
    if (c != '\r' && c != '\n') every += static_cast<char>(c);
  std::mt19937 rng(7);
  const uint32_t saved = GetACP();
  for (uint32_t cp : {1252u, 1251u, 1253u}) {
    SetActiveCodePage(cp);
    for (unsigned density : {2u, 30u, 90u}) {
      SCOPED_TRACE(::testing::Message() << "cp " << cp << ", density " << density);
      std::string text = every + "\n";
      for (int line = 0; line < 300; ++line) {
        const unsigned len = rng() % 70;
        for (unsigned k = 0; k < len; ++k)
          text += static_cast<char>(rng() % 100 < density ? 0x80 + rng() % 0x80 : 0x20 + rng() % 0x5F);
        text += line % 7 ? "\n" : "\r\n";
      }
      Book b;
      b.name = "T\x80\x9D\xE9";
      for (size_t at = 0; at < text.size(); at += 1000) b.texts.push_back(text.substr(at, 1000));
      const Result r = Load(b.Bytes());
      ASSERT_GT(r.items.size(), 2u);
      WideString all = MultiByteToWide(cp, every);
      std::erase(all, kSoftHyphenChar);
      EXPECT_EQ(r.items[1], WideToUtf8(all));
      EXPECT_EQ(r.title, WideToUtf8(MultiByteToWide(cp, b.name)));
    }
  }
  SetActiveCodePage(saved);
}

TEST(PalmDocRecords, TextRecordsAreTheOnesTheBookCounts) {
  Book b;
  EXPECT_EQ(Load(b.Bytes()).items, (std::vector<std::string>{"", ""}));
  b.texts = {"text\n", "more"};
  b.trailing = {"BOOKMARK DATA"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"text", "more"}));
  // A count beyond the record list, or none, gives every record.
  for (int count : {40, 0}) {
    b.record0Count = count;
    EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"text", "moreBOOKMARK DATA"})) << count;
  }
  // A list that runs into the records: the real entries give their text.
  b.headerCount = 0xFFFF;
  const auto lines = Lines(b.Bytes());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "text");
  EXPECT_NO_THROW(Load(b.Bytes(), tfRTF));
}

TEST(PalmDocRecords, PeanutBooksDescrambledAndCountedTheirWay) {
  Book b;
  b.type = "PNRD";
  b.creator = "PPRS";
  b.texts = {"Peanut te", "xt\nend"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"Peanut text", "end"}));
  b.compression = 2;
  b.texts = {std::string("x") + "\x80\x0F"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{std::string(11, 'x')}));
  // Its own count, which counts record 0, bounds the text records.
  b.compression = 1;
  b.texts = {"one\n", "two\n"};
  b.record0Count = 1;
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"one"}));
}

TEST(PalmDocErrors, TruncatedHeadersRaiseReadError) {
  Book b;
  b.texts = {"text"};
  std::string good = b.Bytes();
  for (size_t cut : {size_t{0}, size_t{77}, size_t{80}, size_t{78 + 8 * 2 + 2 + 15}}) {
    TBytesStream stream(good.substr(0, cut));
    TPalmDocFile doc;
    try {
      doc.LoadFromStream(stream);
      ADD_FAILURE() << "no exception for a file cut at " << cut;
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
    EXPECT_EQ(doc.Text().Count(), 0);
  }
  // Record 0 beyond the end of the file.
  std::string s = good;
  PutBE32(s, 78, 100000);
  EXPECT_THROW(Load(s), EReadError);
}

TEST(PalmDocErrors, OtherDatabasesAreNoBooks) {
  // The content test and the load agree on what is a book.
  for (const char* kind : {"TEXtREAd", "PNRDPPRS", "PNRdPPrs", "BOOKMOBI"}) {
    TBytesStream s(PalmDatabase(kind, {"r0"}));
    EXPECT_TRUE(IsPalmDoc(s)) << kind;
  }
  TBytesStream cut(PalmDatabase("TEXtREAd", {}).substr(0, 77));
  EXPECT_FALSE(IsPalmDoc(cut));
  Book b;
  b.texts = {"text"};
  const std::vector<std::pair<std::string, std::string>> kinds = {
      {"TEXt", "PPRS"}, {"PNRD", "REAd"}, {"text", "REAd"}, {"BOOK", "MOBX"}, {"PNRd", "PPRS"}};
  for (const auto& [type, creator] : kinds) {
    b.type = type;
    b.creator = creator;
    TBytesStream s(b.Bytes());
    EXPECT_FALSE(IsPalmDoc(s)) << type << "/" << creator;
    for (TLKWParseItems items : {TLKWParseItems{wpiText}, TLKWParseItems{}}) {
      try {
        Load(b.Bytes(), tfPlainText, 0, items);
        ADD_FAILURE() << type << "/" << creator;
      } catch (const ECorruptError& e) {
        EXPECT_STREQ(e.what(), "Not valid PalmDoc text file.");
      }
    }
  }
}

// ---------------------------------------------------------------------------
// eReader books: Palm Markup Language in PalmDoc- or zlib-compressed records

TEST(PalmDocPml, MarkupGivesTheTextAReaderSees) {
  const WideString table = [] {
    WideString t(256, u'\0');
    for (int b = 0; b < 256; ++b) t[b] = static_cast<char16_t>(b);
    t[146] = u'\u2019';
    return t;
  }();
  struct Case {
    std::string pml, text;
    bool tagged;
  };
  const Case cases[] = {
      {"plain text", "plain text", false},
      {"", "", false},
      {"\\xChapter III\\x", "Chapter III", true},
      {"\\X1Part A\\X1 and \\ireally\\i \\Bbold\\B", "Part A and really bold", true},
      {"\\p\\C=\"Introduction\"The story\\C1=\"Sub\" goes", "The story goes", true},
      // A code cut short drops the tag only.
      {"don\\a146t \\a1 \\a12x C:\\\\dir", "don\u2019t 1 12x C:\\dir", true},
      {"left \\U2190 right \\U21 \\UD800!", "left \u2190 right 21 !", true},
      {"See \\q=\"#here\"the notes\\q\\Fn=\"n1\"[1]\\Fn and \\Sd=\"s1\"sidebar\\Sd.", "See the notes[1] and sidebar.",
       true},
      {"e\\Spx\\Sp, H\\Sb2\\SbO, anti\\-dis\\-establish", "ex, H2O, antidisestablish", true},
      {"\\m=\"cover.png\"\\Q=\"a1\"\\T=\"40%\"Lions\\w=\"80%\"", "Lions", true},
      {"\\c\\r\\t\\n\\s\\l\\k\\I\\o\\u\\b", "", true},
      // Unknown tags go; a value without its closing quote ends the line.
      {"a\\gb \\m=\"open", "ab ", true},
      {"trailing \\", "trailing ", true},
  };
  for (const Case& c : cases) {
    TPmlText pml;
    bool tagged = true;
    EXPECT_EQ(WideToUtf8(pml.Line(c.pml, table.data(), tagged)), c.text) << c.pml;
    EXPECT_EQ(tagged, c.tagged) << c.pml;
  }
  // Invisible text may span lines.
  TPmlText pml;
  bool tagged = false;
  EXPECT_EQ(WideToUtf8(pml.Line("shown\\v TITLE=\"x\"", table.data(), tagged)), "shown");
  EXPECT_EQ(WideToUtf8(pml.Line("still hidden", table.data(), tagged)), "");
  EXPECT_FALSE(tagged);
  EXPECT_EQ(WideToUtf8(pml.Line("hidden\\v shown", table.data(), tagged)), " shown");
}

std::string Zlib(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           static_cast<uLong>(data.size()));
  out.resize(size);
  return out;
}

// An eReader book as its current tool lays it out: header, text, chapter
// index, metadata, the text sizes and the closing record.
std::string EReaderBook(uint16_t compression, const std::vector<std::string>& texts, const std::string& meta) {
  std::vector<std::string> recs;
  std::string r0(132, '\0');
  PutBE16(r0, 0, compression);
  PutBE16(r0, 6, 25152);
  const uint32_t firstOther = static_cast<uint32_t>(texts.size() + 1);
  PutBE16(r0, 12, firstOther);
  PutBE16(r0, 24, meta.empty() ? 0 : 1);
  PutBE16(r0, 44, firstOther + 1);
  recs.push_back(r0);
  for (const auto& t : texts) recs.push_back(compression == 10 ? Zlib(t) : t);
  recs.push_back(std::string("\0\0\0\0Chapter\0", 12));
  recs.push_back(meta);
  recs.push_back("\x1F\xFF");
  recs.push_back(std::string("MeTaInFo\0", 9));
  return PalmDatabase("PNRdPPrs", recs);
}

TEST(PalmDocEReader, CompressedMarkupGivesTextAndMetadata) {
  // A line and a character code cut between records; a line of markup only.
  const std::vector<std::string> texts = {"\\vTITLE=\"Hidden\"\\v\\xFirst\\x\n\nIt is \\itrue\\i that 3 < 4 & don\\a1",
                                          "46t stop.\r\n\\c\n\\p\\X0Next\\X0\nEnd"};
  const std::vector<std::string> expected = {"First", "", "It is true that 3 < 4 & don\u2019t stop.", "Next", "End"};
  const std::string meta("A Title\0An Author\0(c) 2001\0A Publisher\0" "123\0", 43);
  for (uint16_t compression : {10, 2, 1}) {
    const std::string book = EReaderBook(compression, texts, meta);
    EXPECT_EQ(Lines(book), expected) << compression;
    TPalmDocFile doc;
    TBytesStream s(book);
    doc.LoadFromStream(s);
    EXPECT_TRUE(doc.IsEReaderFile());
    EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Title()), "A Title");
    EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Author()), "An Author");
    EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Company()), "A Publisher");
  }
  auto html = Load(EReaderBook(10, texts, ""), tfHTML).items;
  ASSERT_GE(html.size(), 4u);
  EXPECT_EQ(html[3], "It is true that 3 &lt; 4 &amp; don\u2019t stop.<br>");
  // Without a metadata record the title is the database name.
  EXPECT_EQ(Load(EReaderBook(10, texts, "")).title, "eBook1");
}

TEST(PalmDocEReader, OlderBooksDrmAndDamage) {
  // The older tool's books: a 202-byte header and scrambled PalmDoc records.
  std::string r0(202, '\0');
  PutBE16(r0, 0, 2);
  PutBE16(r0, 8, 2);
  std::string text = "\\xOld\\x\nbook";
  for (char& c : text) c = static_cast<char>(c ^ 0xA5);
  EXPECT_EQ(Lines(PalmDatabase("PNRdPPrs", {r0, text, "image"})), (std::vector<std::string>{"Old", "book"}));

  for (uint16_t drm : {260, 272}) {
    try {
      Load(EReaderBook(drm, {"secret"}, ""));
      ADD_FAILURE() << drm;
    } catch (const EEncryptionNotSupportedError& e) {
      EXPECT_STREQ(e.what(), "Could not read the DRM protected book");
    }
  }
  EXPECT_THROW(Load(PalmDatabase("PNRdPPrs", {std::string(40, '\0'), "text"})), ECorruptError);

  // A damaged zlib record keeps what came out; one that inflates beyond a
  // block's size is cut there; a text count beyond the records is capped.
  std::string book = EReaderBook(10, {"intact line\nsecond", std::string(200000, 'x')}, "");
  const std::string cut = Zlib("intact line\nsecond");
  const size_t at = book.find(cut);
  ASSERT_NE(at, std::string::npos);
  book[at + cut.size() - 6] ^= 0x55;
  const auto lines = Lines(book);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "intact line");
  EXPECT_EQ(lines[1].size(), 65535u + lines[1].find('x'));
  std::string r132(132, '\0');
  PutBE16(r132, 0, 1);
  PutBE16(r132, 12, 60000);
  EXPECT_EQ(Lines(PalmDatabase("PNRdPPrs", {r132, "only"})), (std::vector<std::string>{"only"}));
}

// ---------------------------------------------------------------------------
// Mobipocket books: HTML in stored or PalmDoc-compressed records

struct MobiOptions {
  uint16_t compression = 2;
  uint32_t encoding = 65001;
  uint16_t encryption = 0;
  bool header = true;  // the MOBI header after the PalmDoc fields
  std::vector<std::pair<uint32_t, std::string>> exth;
  std::string fullName = "The Full Name";
  bool huffTables = true;  // the header locates the HUFF/CDIC records
  // KF8: flows after the HTML (style sheets), which an FDST record delimits.
  std::vector<std::string> flows;
};

// A Mobipocket book of Html cut into 4096-byte records, each followed by the
// trailing entries its header announces: the bytes that complete a UTF-8
// character cut at the record's end, and an entry of bit 1.
std::string MobiBook(const std::string& body, const MobiOptions& o = {}) {
  std::string html = body;
  std::string fdst;
  if (!o.flows.empty()) {
    fdst = std::string(12, '\0');
    fdst.replace(0, 4, "FDST");
    PutBE32(fdst, 4, 12);
    PutBE32(fdst, 8, static_cast<uint32_t>(1 + o.flows.size()));
    auto flow = [&](size_t start, size_t end) {
      std::string f(8, '\0');
      PutBE32(f, 0, static_cast<uint32_t>(start));
      PutBE32(f, 4, static_cast<uint32_t>(end));
      fdst += f;
    };
    flow(0, html.size());
    for (const std::string& f : o.flows) {
      flow(html.size(), html.size() + f.size());
      html += f;
    }
  }
  std::vector<std::string> chunks;
  for (size_t i = 0; i < html.size(); i += 4096) chunks.push_back(html.substr(i, 4096));
  const testing::THuffCoder huff(o.compression == 17480 ? chunks : std::vector<std::string>{});
  std::vector<std::string> recs(1);
  for (size_t i = 0; i < html.size(); i += 4096) {
    const std::string& chunk = chunks[i / 4096];
    std::string rec = o.compression == 2       ? PalmDocLiterals(chunk)
                      : o.compression == 17480 ? huff.Records()[i / 4096]
                                               : chunk;
    if (o.header) {
      size_t k = 0;
      while (i + 4096 + k < html.size() && k < 3 && (static_cast<uint8_t>(html[i + 4096 + k]) & 0xC0) == 0x80) ++k;
      if (k) rec += html.substr(i + 4096, k);
      rec += static_cast<char>(k);
      rec += "\x81\x82";  // one byte of data, then the entry's size (2) backward-encoded
    }
    recs.push_back(rec);
  }
  std::string r0(16, '\0');
  PutBE16(r0, 0, o.compression);
  PutBE32(r0, 4, static_cast<uint32_t>(html.size()));
  PutBE16(r0, 8, static_cast<uint32_t>(recs.size() - 1));
  PutBE16(r0, 10, 4096);
  PutBE16(r0, 12, o.encryption);
  if (o.header) {
    std::string exth;
    for (const auto& [type, value] : o.exth) {
      std::string e(8, '\0');
      PutBE32(e, 0, type);
      PutBE32(e, 4, static_cast<uint32_t>(8 + value.size()));
      exth += e + value;
    }
    std::string eh(12, '\0');
    eh.replace(0, 4, "EXTH");
    PutBE32(eh, 4, static_cast<uint32_t>(12 + exth.size()));
    PutBE32(eh, 8, static_cast<uint32_t>(o.exth.size()));
    exth = eh + exth;
    std::string m(232, '\0');
    m.replace(0, 4, "MOBI");
    PutBE32(m, 4, 232);
    PutBE32(m, 8, 2);
    PutBE32(m, 12, o.encoding);
    PutBE32(m, 68, static_cast<uint32_t>(16 + 232 + exth.size()));
    PutBE32(m, 72, static_cast<uint32_t>(o.fullName.size()));
    if (o.compression == 17480 && o.huffTables) {
      PutBE32(m, 96, static_cast<uint32_t>(recs.size()));
      PutBE32(m, 100, static_cast<uint32_t>(1 + huff.Cdics().size()));
    }
    if (!fdst.empty()) {
      PutBE32(m, 20, 8);
      const size_t tables = o.compression == 17480 ? 1 + huff.Cdics().size() : 0;
      PutBE32(m, 176, static_cast<uint32_t>(recs.size() + tables));
      PutBE32(m, 180, static_cast<uint32_t>(1 + o.flows.size()));
    }
    PutBE32(m, 112, o.exth.empty() ? 0 : 0x40);
    PutBE16(m, 226, 3);
    r0 += m + exth + o.fullName + std::string(2, '\0');
  }
  recs[0] = r0;
  if (o.compression == 17480) {
    recs.push_back(huff.Huff());
    for (const std::string& c : huff.Cdics()) recs.push_back(c);
  }
  if (!fdst.empty()) recs.push_back(fdst);
  recs.push_back("\xE9\x8E\r\n");
  return PalmDatabase("BOOKMOBI", recs);
}

std::vector<std::string> MobiLines(const std::string& html, const MobiOptions& o = {}) {
  return Lines(MobiBook(html, o));
}

TEST(PalmDocMobi, TextRecordsTrailingEntriesAndMetadata) {
  // A UTF-8 character cut between records at every offset; the header's
  // trailing entries are dropped before decompression.
  MobiOptions o;
  o.exth = {{100, "Ann Author"}, {100, "Bob Writer"}, {101, "Pub House"}, {103, "About it"},
            {105, "Fiction"},    {105, "Cafes"},      {106, "2010-03-04"}, {999, "other"}};
  for (size_t pad = 4080; pad < 4100; ++pad) {
    const std::string html = "<html><body><p>" + std::string(pad - 15, 'x') + "\u20AC\u00E9</p><p>End</p></body></html>";
    for (uint16_t compression : {2, 1, 17480}) {
      o.compression = compression;
      const auto lines = MobiLines(html, o);
      ASSERT_EQ(lines.size(), 2u) << pad;
      EXPECT_EQ(lines[0], std::string(pad - 15, 'x') + "\u20AC\u00E9") << pad;
      EXPECT_EQ(lines[1], "End");
    }
  }
  const std::string book = MobiBook("<p>x</p>", o);
  TPalmDocFile doc;
  TBytesStream s(book);
  doc.LoadFromStream(s);
  EXPECT_TRUE(doc.IsMobiFile());
  const TLKWordSummaryInformation& si = doc.SummaryInformation();
  EXPECT_EQ(WideToUtf8(si.Title()), "The Full Name");
  EXPECT_EQ(WideToUtf8(si.Author()), "Ann Author; Bob Writer");
  EXPECT_EQ(WideToUtf8(si.Company()), "Pub House");
  EXPECT_EQ(WideToUtf8(si.Comments()), "About it");
  EXPECT_EQ(WideToUtf8(si.Keywords()), "Fiction, Cafes");
  EXPECT_GT(si.Created(), 0);
  o.exth.push_back({503, "Updated"});
  EXPECT_EQ(Load(MobiBook("<p>x</p>", o)).title, "Updated");

  // Windows-1252 text; a book without a MOBI header is read in the ANSI code page.
  o = {};
  o.encoding = 1252;
  o.fullName = "Caf\xE9";
  EXPECT_EQ(MobiLines("<p>caf\xE9 \x80</p>", o), (std::vector<std::string>{"caf\u00E9 \u20AC"}));
  EXPECT_EQ(Load(MobiBook("<p>x</p>", o)).title, "Caf\u00E9");
  o.header = false;
  EXPECT_EQ(MobiLines("<p>na\xEFve</p>", o), (std::vector<std::string>{"na\u00EFve"}));
  EXPECT_EQ(Load(MobiBook("<p>x</p>", o)).title, "eBook1");
}

TEST(PalmDocMobi, Kf8StyleSheetFlowsAreNoText) {
  MobiOptions o;
  o.flows = {"p { margin: 0 } .calibre { display: block }", "<svg><text>drawn</text></svg>"};
  const std::string html = "<html><body><p>" + std::string(5000, 'k') + "</p><p>End</p></body></html>";
  for (uint16_t compression : {2, 1, 17480}) {
    o.compression = compression;
    EXPECT_EQ(MobiLines(html, o), (std::vector<std::string>{std::string(5000, 'k'), "End"})) << compression;
  }
  // An FDST record that is not one leaves the text whole.
  std::string book = MobiBook("<p>text</p>", o);
  book[book.rfind("FDST")] = 'X';
  const auto lines = Lines(book);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("margin"), std::string::npos);
}

TEST(PalmDocMobi, HtmlThatIsNotWellFormedGivesItsLines) {
  const std::string html =
      "<!DOCTYPE html><?xml version=\"1.0\"?><HTML><HEAD><TITLE>Not text</TITLE><style>p{}</style>"
      "<guide><reference title=\"Contents\" filepos=0000000123 /></guide></HEAD><BODY>"
      "<h1>Chapter One</H1><p>The caf\u00E9 is <b>open</B> &amp; busy.<br>Second line<P>Unclosed"
      "<mbp:pagebreak/>after break<!-- <p>commented</p> --><img src=\"a.jpg\" recindex=\"1\">"
      "<p  align=\"center\" title='a > b'>quoted &gt; attribute</p><script>if (a < b) x();</script>"
      "<ul><li>One<li>Two</ul>3 < 4 <pre>  keep\n    indent</pre><p>  spaced   words  </p><title/>tail"
      "<div><div>deep</div></div><p>cut <b";
  EXPECT_EQ(MobiLines(html), (std::vector<std::string>{"Chapter One", "The caf\u00E9 is open & busy.", "Second line",
                                                       "Unclosed", "after break", "quoted > attribute", "One",
                                                       "Two", "3 < 4", "  keep", "    indent", "spaced words",
                                                       "tail", "deep", "cut"}));
  // A head left open ends where the body starts.
  EXPECT_EQ(MobiLines("<html><head><style>p {}<body><p>shown</p>"), (std::vector<std::string>{"shown"}));
  // RTF and HTML escape the text.
  const auto items = Load(MobiBook("<p>a < b & {c}</p>"), tfHTML).items;
  ASSERT_GE(items.size(), 2u);
  EXPECT_EQ(items[items.size() - 2], "a &lt; b &amp; {c}<br>");
}

TEST(PalmDocMobi, DrmCompressionAndDamage) {
  MobiOptions o;
  o.encryption = 2;
  try {
    Load(MobiBook("<p>x</p>", o));
    ADD_FAILURE();
  } catch (const EEncryptionNotSupportedError& e) {
    EXPECT_STREQ(e.what(), "Could not read the DRM protected book");
  }
  o = {};
  o.compression = 17480;
  o.huffTables = false;
  try {
    Load(MobiBook("<p>x</p>", o));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "The HUFF/CDIC tables of the book are missing");
  }
  // Tables that are not HUFF/CDIC ones.
  o.huffTables = true;
  std::string tables = MobiBook("<p>x</p>", o);
  const size_t huffAt = tables.find("HUFF");
  ASSERT_NE(huffAt, std::string::npos);
  tables[huffAt] = 'X';
  try {
    Load(tables);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "The HUFF/CDIC tables of the book are damaged");
  }
  // A trailing entry that claims more than its record leaves nothing of it;
  // a record 0 cut short.
  std::string book = MobiBook("<p>lost</p>");
  const size_t at = book.find("\x81\x82");
  ASSERT_NE(at, std::string::npos);
  book[at + 1] = '\x8F';
  EXPECT_TRUE(Lines(book).empty());
  EXPECT_THROW(Load(PalmDatabase("BOOKMOBI", {std::string(10, '\0'), "<p>x</p>"})), EReadError);
}

TEST(PalmDocMobi, DrmOfEveryVersionIsRefused) {
  auto refused = [](const std::string& Book) {
    try {
      Load(Book);
    } catch (const EEncryptionNotSupportedError& e) {
      return std::string(e.what()) == "Could not read the DRM protected book";
    }
    return false;
  };
  MobiOptions o;
  for (uint16_t encryption : {1, 2}) {
    o.encryption = encryption;
    EXPECT_TRUE(refused(MobiBook("<p>x</p>", o))) << encryption;
    o.header = false;
    EXPECT_TRUE(refused(MobiBook("<p>x</p>", o))) << encryption;
    o.header = true;
  }
  // No encryption declared, but the header names DRM records.
  o = {};
  std::string book = MobiBook("<p>x</p>", o);
  const size_t mobi = book.find("MOBI", 78);
  ASSERT_NE(mobi, std::string::npos);
  PutBE32(book, mobi + 152, 300);
  PutBE32(book, mobi + 156, 1);
  EXPECT_TRUE(refused(book));
  PutBE32(book, mobi + 152, 0xFFFFFFFF);
  EXPECT_EQ(Lines(book), (std::vector<std::string>{"x"}));

  // The older encryption in a PalmDoc database: the key data follows the
  // 16 bytes of record 0. A plain record 0 of 16 bytes keeps a reading
  // position there, which can look the same.
  Book b;
  b.texts = {"readable\n"};
  std::string plain = b.Bytes();
  const uint32_t r0 = LoadBE32(plain, 78);
  PutBE32(plain, r0 + 12, 0x00010005);
  EXPECT_EQ(Lines(plain), (std::vector<std::string>{"readable"}));
  std::vector<std::string> recs = {std::string(16, '\0') + std::string(49, '\x5A'), "scrambled"};
  PutBE16(recs[0], 0, 1);
  PutBE16(recs[0], 8, 1);
  PutBE16(recs[0], 12, 1);
  EXPECT_TRUE(refused(PalmDatabase("TEXtREAd", recs)));
}

TEST(PalmDocRecords, ClaimedTextRecordsThatAreNotTextAreNotRead) {
  auto warnings = [](const std::string& Book) {
    TBytesStream s(Book);
    TPalmDocFile doc;
    doc.LoadFromStream(s);
    std::vector<std::string> w;
    for (const auto& x : doc.Warnings()) w.push_back(x.Message);
    return w;
  };
  const std::string flis = std::string("FLIS\0\0\0\x08\0\x41", 10) + std::string(26, '\0');
  Book b;
  b.texts = {"one\n", "two"};
  b.record0Count = 5;
  b.trailing = {"\xFF\xD8\xFF\xE0\0\x10JFIF", flis, "after"};
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(warnings(b.Bytes()),
            (std::vector<std::string>{"3 of the 5 text records the book counts were not read: record 3 is not text"}));
  // Pictures, padding and the end-of-file record stop the text as well; text
  // that merely starts with a tag's letters does not.
  for (const std::string& other : {std::string("\x89PNG\r\n\x1A\n"), std::string("GIF89a"), std::string(2, '\0'),
                                   std::string("\xE9\x8E\r\n")}) {
    b.trailing = {other, "after"};
    b.record0Count = 4;
    EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"one", "two"}));
  }
  b.trailing = {"INDX is a word here"};
  b.record0Count = 3;
  EXPECT_EQ(Lines(b.Bytes()), (std::vector<std::string>{"one", "twoINDX is a word here"}));
  EXPECT_TRUE(warnings(b.Bytes()).empty());

  // A Mobipocket book that counts its end-of-file record as text.
  std::string book = MobiBook("<p>only text</p>");
  const uint32_t r0 = LoadBE32(book, 78);
  PutBE16(book, r0 + 8, 2);
  EXPECT_EQ(Lines(book), (std::vector<std::string>{"only text"}));
  EXPECT_EQ(warnings(book),
            (std::vector<std::string>{"1 of the 2 text records the book counts were not read: record 2 is not text"}));
}

TEST(PalmDocOutput, RtfAndHtmlEscapeDocumentText) {
  Book b;
  b.texts = {"a < b & {c} \\ \x80\n", "last"};
  auto rtf = Load(b.Bytes(), tfRTF).items;
  ASSERT_EQ(rtf.size(), 4u);
  EXPECT_EQ(rtf[0].rfind("{\\rtf1\\ansi\\ansicpg1252", 0), 0u);
  EXPECT_EQ(rtf[1], "a < b & \\{c\\} \\\\ \\u8364?\\par");
  EXPECT_EQ(rtf[2], "last\\par");
  EXPECT_EQ(rtf[3], "\r\n}");

  auto html = Load(b.Bytes(), tfHTML).items;
  ASSERT_EQ(html.size(), 4u);
  EXPECT_EQ(html[1], "a &lt; b &amp; {c} \\ €<br>");
  EXPECT_EQ(html[2], "last<br>");
}

TEST(PalmDocOutput, ParseItemsAndTitle) {
  Book b;
  b.name = std::string("Caf\xE9 \x80", 6);
  b.texts = {"body"};
  auto r = Load(b.Bytes());
  EXPECT_EQ(r.title, "Café €");
  EXPECT_EQ(r.items.size(), 3u);

  r = Load(b.Bytes(), tfPlainText, 0, {wpiSummaryInformation});
  EXPECT_TRUE(r.items.empty());
  EXPECT_EQ(r.title, "Café €");

  r = Load(b.Bytes(), tfPlainText, 0, {wpiText});
  EXPECT_EQ(r.title, "");

  // A name that fills all 32 bytes has no terminating zero.
  b.name = std::string(32, 'N');
  EXPECT_EQ(Load(b.Bytes()).title, std::string(32, 'N'));
}

TEST(PalmDocOutput, MaxTextLengthStopsTheTextAndTheSinkAlike) {
  Book b;
  for (int i = 0; i < 50; ++i) b.texts.push_back("line " + std::to_string(i) + "\r\n");
  for (TMSTextFormating fmt : {tfPlainText, tfRTF, tfHTML}) {
    for (int32_t maxLen : {0, 1, 7, 8, 9, 30, 100000}) {
      SCOPED_TRACE(std::to_string(fmt) + " max " + std::to_string(maxLen));
      const Result kept = Load(b.Bytes(), fmt, maxLen);
      if (fmt == tfPlainText && maxLen == 30) {
        // Each item counts with its CR LF.
        EXPECT_EQ(kept.items, (std::vector<std::string>{"", "line 0", "line 1", "line 2", "line"}));
      }
      TBytesStream stream(b.Bytes());
      TPalmDocFile doc;
      doc.SetTextFormating(fmt);
      doc.SetMaxTextLength(maxLen);
      std::vector<std::string> sunk;
      doc.SetTextSink([&](std::u16string_view item) { sunk.push_back(WideToUtf8(WideString(item))); });
      // Twice: a second load starts counting the limit afresh.
      for (int load = 0; load < 2; ++load) {
        sunk.clear();
        stream.Seek(0, soBeginning);
        doc.LoadFromStream(stream);
        EXPECT_TRUE(doc.Text().Items().empty());
        EXPECT_EQ(sunk, kept.items);
      }
    }
  }
}

TEST(PalmDocOutput, ReloadReplacesPreviousResult) {
  Book a;
  a.name = "First";
  a.texts = {"first text"};
  Book b;
  b.name = "";
  b.texts = {"second"};
  TPalmDocFile doc;
  TBytesStream s1(a.Bytes());
  doc.LoadFromStream(s1);
  TBytesStream s2(b.Bytes());
  doc.LoadFromStream(s2);
  EXPECT_EQ(doc.Text().ToUtf8(), "\nsecond\n");
  EXPECT_EQ(doc.SummaryInformation().Title(), u"");
  EXPECT_EQ(doc.Header().NumRecords, 2);
  EXPECT_EQ(doc.Record0().Version, 1);
}

TEST(PalmDocEvents, LinesAsParagraphsWhicheverWayTheTextGoes) {
  // A consumer sees each line as a paragraph, also when the lines go out
  // to a UTF-8 sink as one run, and the sink still gets them.
  Book b;
  b.texts = {"one\n\ntwo\nthree"};
  const std::string plain = "<doc>|<p>|text 'one'|</p>|<p>|</p>|<p>|text 'two'|</p>|<p>|text 'three'|</p>|</doc>";
  for (int32_t maxLen : {0, 1000}) {
    for (bool sinks : {false, true}) {
      SCOPED_TRACE(std::to_string(maxLen) + (sinks ? " sinks" : " list"));
      TBytesStream stream(b.Bytes());
      TPalmDocFile doc;
      doc.SetMaxTextLength(maxLen);
      std::string sunk;
      if (sinks) {
        doc.SetTextSink([&](std::u16string_view w) { sunk += "w:" + WideToUtf8(WideString(w)) + "|"; });
        doc.SetUtf8TextSink([&](std::string_view u) { sunk += "8:" + std::string(u) + "|"; });
      }
      testing::TEventRecorder rec;
      doc.AddDocumentEvents(&rec);
      doc.LoadFromStream(stream);
      EXPECT_EQ(rec.Joined(), plain);
      if (sinks) {
        EXPECT_EQ(sunk, maxLen ? "w:|8:one|8:|8:two|8:three|w:|" : "w:|8:one\n\ntwo|8:three|w:|");
      }
    }
  }
  // Mobipocket books tell headings, preformatted lines and page breaks.
  TBytesStream mobi(MobiBook("<h2>Title<br>Sub</h2><p>Body <b>bold</b><mbp:pagebreak/><pre>a\n b</pre>"
                             "<h3/>after<h1><p>nested</p></h1>"));
  TPalmDocFile doc;
  testing::TEventRecorder rec;
  doc.AddDocumentEvents(&rec);
  doc.LoadFromStream(mobi);
  EXPECT_EQ(rec.Joined(),
            "<doc>|<h2>|text 'Title'|</p>|<h2>|text 'Sub'|</p>|<p>|text 'Body bold'|</p>|page-break|"
            "<pre>|text 'a'|</p>|<pre>|text ' b'|</p>|<p>|text 'after'|</p>|<p>|text 'nested'|</p>|</doc>");
}

// ---------------------------------------------------------------------------
// Books written by an independent tool.

TEST(PalmDocFiles, ToolMadeBooksMatchTheirSource) {
  auto expected = TextLines(ReadAll(kTestData / "palmdoc" / "sample.txt"));
  for (const char* name : {"sample-compressed.pdb", "sample-plain.pdb", "sample-crlf.pdb"}) {
    SCOPED_TRACE(name);
    TPalmDocFile doc;
    doc.LoadFromFile((kTestData / "palmdoc" / name).string());
    std::vector<std::string> lines;
    for (const auto& w : doc.Text().Items()) lines.push_back(WideToUtf8(w));
    ASSERT_EQ(lines.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), expected);
    if (std::string(name) != "sample-crlf.pdb") {
      EXPECT_EQ(doc.SummaryInformation().Title(), u"Sample Book €");
    }
  }
}

TEST(PalmDocFiles, Kf8BookMatchesItsSource) {
  // Its blank lines became paragraphs of a no-break space.
  std::vector<std::string> expected, lines;
  for (const std::string& l : TextLines(ReadAll(kTestData / "palmdoc" / "sample.txt")))
    if (!l.empty()) expected.push_back(l);
  TPalmDocFile doc;
  doc.LoadFromFile((kTestData / "palmdoc" / "sample-kf8.azw3").string());
  EXPECT_TRUE(doc.IsMobiFile());
  for (const auto& w : doc.Text().Items())
    if (WideToUtf8(w).find_first_not_of(" \xC2\xA0") != std::string::npos) lines.push_back(WideToUtf8(w));
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(doc.SummaryInformation().Title(), u"Sample Book");
}

}  // namespace
}  // namespace lkw
