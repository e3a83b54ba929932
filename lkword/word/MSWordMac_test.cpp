// Word for the Macintosh 4/5 files: plain big-endian files whose text is in
// the Mac character set, in pieces when the file was fast-saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"
#include "testing/LoadDocument.h"
#include "testing/MacWordBuilder.h"

namespace lkw {
namespace {

using namespace std::string_literals;
using testing::TMacWordBuilder;

std::string U8(const WideString& W) { return WideToUtf8(W); }

// The body: Text holds the header, the body and the footer.
std::string Body(TMSWordDocument& Doc) {
  EXPECT_EQ(Doc.Text().Count(), 3);
  return Doc.Text().Count() == 3 ? U8(Doc.Text().Get(1)) : std::string();
}

std::string Load(TMSWordDocument& Doc, const std::string& Bytes) {
  testing::LoadLines(Doc, Bytes);
  return Body(Doc);
}

std::string AllWarnings(const TMSWordDocument& Doc) {
  std::string all;
  for (const auto& w : Doc.Warnings()) all += w.Message + "; ";
  return all;
}

TEST(MacWordTest, AFileSavedWholeIsItsTextRangeInMacRoman) {
  // Word 4 and Word 5, saved without pieces: the bytes from fcMin to fcMac,
  // big-endian offsets, Mac Roman (0x8E e acute, 0xA5 bullet, 0xD5 right
  // quote), line and page breaks as in the other generations.
  for (uint16_t version : {uint16_t{0x1C}, uint16_t{0x23}}) {
    SCOPED_TRACE(version);
    TMacWordBuilder b;
    b.Version = version;
    b.FastSaved = false;
    b.WithClx = false;
    b.Pieces = {"Caf\x8E \xA5 it\xD5s\rline\x0B" "break\r"};
    TMSWordDocument doc;
    EXPECT_EQ(Load(doc, b.Build()), "Caf\xC3\xA9 \xE2\x80\xA2 it\xE2\x80\x99s\r\nline\r\nbreak\r\n");
    EXPECT_EQ(doc.DocVersion(), kMacWordGeneration);
    EXPECT_FALSE(doc.IsComplexDocument());
    EXPECT_EQ(doc.Warnings().size(), 0u) << AllWarnings(doc);
  }
}

TEST(MacWordTest, FastSavedPiecesReadInCharacterOrder) {
  // The file holds the later piece first; a stored property group before
  // the piece list is skipped.
  for (bool group : {false, true}) {
    SCOPED_TRACE(group);
    TMacWordBuilder b;
    b.Pieces = {"First part, ", "appended later.\r"};
    b.FileOrder = {1, 0};
    if (group) b.Group = std::string("\x3C\x81\x44\x00", 4);
    TMSWordDocument doc;
    EXPECT_EQ(Load(doc, b.Build()), "First part, appended later.\r\n");
    EXPECT_TRUE(doc.IsComplexDocument());
    EXPECT_EQ(doc.Warnings().size(), 0u) << AllWarnings(doc);
  }
}

TEST(MacWordTest, FootnotesAndHeadersAreNotBodyText) {
  TMacWordBuilder b;
  b.Pieces = {"Body text\r", "A note\r", "Running head\r"};
  b.Ccp[0] = 10;
  b.Ccp[1] = 7;
  b.Ccp[2] = 13;
  TMSWordDocument doc;
  EXPECT_EQ(Load(doc, b.Build()), "Body text\r\n");
  EXPECT_EQ(U8(doc.FootNoteText().Text()).substr(0, 8), "A note\r\n");
  EXPECT_NE(U8(doc.HeaderText().Text()).find("Running head"), std::string::npos);
}

TEST(MacWordTest, ReadFromAPathAndDetectedByItsMagic) {
  namespace fs = std::filesystem;
  TMacWordBuilder b;
  b.Pieces = {"on disk\r"};
  const std::string bytes = b.Build();
  const fs::path path = fs::temp_directory_path() / ("lkw_mac_" + std::to_string(getpid()) + ".doc");
  std::ofstream(path, std::ios::binary) << bytes;
  TMSWordDocument doc;
  doc.LoadFromFile(path.string());
  fs::remove(path);
  EXPECT_EQ(Body(doc), "on disk\r\n");

  TBytesStream accepted(bytes);
  EXPECT_TRUE(IsWordBinary(accepted));
  // The magic alone, with a version no Word wrote, is not taken.
  std::string other = bytes;
  other[3] = '\x99';
  TBytesStream refused(other);
  EXPECT_FALSE(IsWordBinary(refused));
}

TEST(MacWordTest, ADamagedHeaderOrPieceTableStillGivesTheText) {
  TMacWordBuilder b;
  b.Pieces = {"alpha ", "beta\r"};
  b.FileOrder = {1, 0};
  const std::string good = b.Build();
  const std::string fileOrder = "beta\r\nalpha ";  // as stored
  struct TCase {
    const char* Name;
    size_t At;
    std::string Bytes;
    std::string Body;
    const char* Warning;
  };
  const TCase cases[] = {
      // A piece past the end of the file, CPs running backwards, a piece
      // list longer than the file, the table itself past the end.
      {"piece past the end", b.PcdsAt + 2, "\x7F\xFF\xFF\xFF"s, fileOrder, "piece table"},
      {"CPs backwards", b.CpsAt + 4, "\x00\x00\x10\x00"s, fileOrder, "piece table"},
      {"list longer than the file", b.CpsAt - 2, "\xFF\xF0"s, fileOrder, "piece table"},
      {"table past the end", 0x40 + 6 * 18, "\x00\x10\x00\x00"s, fileOrder, "piece table"},
      // Story counts far past the text read what there is.
      {"huge story counts", 0x24, "\x7F\xFF\xFF\xFF\x7F\xFF\xFF\xFF"s, "alpha beta\r\n", "story lengths"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string bad = good;
    bad.replace(c.At, c.Bytes.size(), c.Bytes);
    TMSWordDocument doc;
    EXPECT_EQ(Load(doc, bad), c.Body);
    EXPECT_NE(AllWarnings(doc).find(c.Warning), std::string::npos) << AllWarnings(doc);
  }

  // A text range past the end of the file: what is there, marked partial.
  TMacWordBuilder whole;
  whole.FastSaved = false;
  whole.WithClx = false;
  whole.Pieces = {"cut short"};
  std::string cut = whole.Build();
  TMacWordBuilder::Put32(cut, 0x18, 0x7FFFFFFF);
  TMSWordDocument doc;
  EXPECT_EQ(Load(doc, cut), "cut short");
  EXPECT_TRUE(doc.Partial());

  // A file too short for its header is a read error, not a crash.
  TMSWordDocument tiny;
  EXPECT_THROW(Load(tiny, good.substr(0, 0x60)), EReadError);
}

}  // namespace
}  // namespace lkw
