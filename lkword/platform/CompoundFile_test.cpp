#include "lkword/platform/CompoundFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "lkword/platform/CodePages.h"
#include "testing/CompoundFileBuilder.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

using testing::TCfbBuilder;

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

std::string ReadAll(TStream& s) {
  s.SetPosition(0);
  return s.ReadBytes(s.Size());
}

std::string Names(const TOleStorage& st) {
  std::string out;
  for (const auto& e : st.EnumElements()) out += WideToUtf8(e.Name) + (e.Type == STGTY_STORAGE ? "/ " : " ");
  return out;
}

// Expects EOleError with a message that mentions Fragment.
template <typename F>
void ExpectOleError(F&& f, const std::string& Fragment) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected one about: " << Fragment;
  } catch (const EOleError& e) {
    EXPECT_NE(std::string(e.what()).find(Fragment), std::string::npos) << e.what();
  }
}

class CompoundFileTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CompoundFileTest, ReadsStoragesAndStreamsOfBothSectorSizes) {
  TCfbBuilder b(GetParam());
  const std::string big = Pattern(20000, 1), small = Pattern(300, 2), edge = Pattern(4096, 3);
  b.AddStream("WordDocument", big);
  b.AddStream("1Table", small);
  b.AddStream("\x05SummaryInformation", edge);  // exactly the cutoff: a regular stream
  b.AddStream("Macros/VBA/dir", Pattern(4095, 4));  // just below it: the mini stream
  b.AddStream("Macros/PROJECT", "ID=x");
  b.AddStream("Empty", "");
  auto root = StgOpenStorageOnMemory(b.Build());

  // Directory tree order: shorter names first, then by upper-case name.
  EXPECT_EQ(Names(*root), "Empty 1Table Macros/ WordDocument \x05SummaryInformation ");
  auto elems = root->EnumElements();
  EXPECT_EQ(elems[3].Size, 20000u);
  EXPECT_EQ(elems[2].Size, 0u);

  auto doc = root->OpenStream(u"WordDocument");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->Size(), 20000);
  EXPECT_EQ(ReadAll(*doc), big);
  // Reads that straddle sectors, backwards seeks and reads at the end.
  doc->Seek(-5000, soEnd);
  EXPECT_EQ(doc->ReadBytes(4000), big.substr(15000, 4000));
  doc->Seek(-10000, soCurrent);
  EXPECT_EQ(doc->ReadBytes(3), big.substr(9000, 3));
  doc->SetPosition(19999);
  char c[4];
  EXPECT_EQ(doc->Read(c, 4), 1);
  EXPECT_EQ(doc->Read(c, 4), 0);

  EXPECT_EQ(ReadAll(*root->OpenStream(u"1table")), small);  // names ignore case
  EXPECT_EQ(ReadAll(*root->OpenStream(u"\x05SummaryInformation")), edge);
  EXPECT_EQ(root->OpenStream(u"Empty")->Size(), 0);
  EXPECT_EQ(root->OpenStream(u"Missing"), nullptr);
  EXPECT_EQ(root->OpenStream(u"Macros"), nullptr);  // a storage is not a stream
  EXPECT_EQ(root->OpenStorage(u"WordDocument"), nullptr);

  std::unique_ptr<TStream> dir;
  {
    auto macros = root->OpenStorage(u"Macros");
    ASSERT_TRUE(macros);
    EXPECT_EQ(Names(*macros), "VBA/ PROJECT ");
    dir = macros->OpenStorage(u"VBA")->OpenStream(u"dir");
  }
  root.reset();  // streams keep the container alive
  EXPECT_EQ(ReadAll(*dir), Pattern(4095, 4));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, CompoundFileTest, ::testing::Values(9u, 12u));

TEST(CompoundFileLargeTest, FollowsDifatContinuationSectors) {
  // More than 109 FAT sectors: the rest are listed in DIFAT sectors.
  TCfbBuilder b;
  const std::string data = Pattern(7400000, 5);
  b.AddStream("Big", data);
  b.AddStream("Tail", Pattern(5000, 6));
  std::string file = b.Build();
  ASSERT_GT(b.NumDifatSectors(), 0u);
  auto root = StgOpenStorageOnMemory(file);
  EXPECT_EQ(ReadAll(*root->OpenStream(u"Big")), data);
  EXPECT_EQ(ReadAll(*root->OpenStream(u"Tail")), Pattern(5000, 6));

  // A DIFAT sector that links to itself.
  const uint32_t difat = b.NumFatSectors();  // DIFAT sectors follow the FAT
  TCfbBuilder::Put32(file, 512 + size_t{difat} * 512 + 508, difat);
  TCfbBuilder::Put32(file, 44, b.NumFatSectors() + 200);
  ExpectOleError([&] { StgOpenStorageOnMemory(file); }, "DIFAT");
}

TEST(CompoundFileDamageTest, RefusesBrokenChainsAndClaims) {
  TCfbBuilder b;
  b.AddStream("A", Pattern(6000, 7));
  b.AddStream("B", Pattern(100, 8));
  const std::string good = b.Build();
  const uint32_t a = b.StreamSector("A");

  {  // A chain that loops back on itself.
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(a + 1), a);
    auto root = StgOpenStorageOnMemory(f);
    ExpectOleError([&] { root->OpenStream(u"A"); }, "loops");
    EXPECT_TRUE(root->OpenStream(u"B"));  // the rest stays readable
  }
  {  // A chain into a sector the FAT does not cover.
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(a), 0x00FFFFFF);
    ExpectOleError([&] { StgOpenStorageOnMemory(f)->OpenStream(u"A"); }, "out of range");
  }
  {  // A chain that ends before the stream does.
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(a), 0xFFFFFFFE);
    ExpectOleError([&] { StgOpenStorageOnMemory(f)->OpenStream(u"A"); }, "ends early");
  }
  {  // A size far beyond the file.
    std::string f = good;
    size_t entryA = 512 + size_t{b.DirectoryFirstSector()} * 512 + 128 * 1;
    TCfbBuilder::Put32(f, entryA + 120, 0x7FFFFFFF);
    ExpectOleError([&] { StgOpenStorageOnMemory(f)->OpenStream(u"A"); }, "more than the file holds");
  }
  {  // The file cut in the middle of stream A.
    std::string f = good.substr(0, good.size() - 1000);
    ExpectOleError([&] { StgOpenStorageOnMemory(f)->OpenStream(u"A"); }, "outside the file");
  }
  {  // Siblings that point at each other.
    std::string f = good;
    size_t dir = 512 + size_t{b.DirectoryFirstSector()} * 512;
    uint32_t top = 0;
    for (uint32_t i = 1; i <= 2; ++i)  // the child of the root is one of the two
      if (static_cast<uint8_t>(f[dir + 76]) == i) top = i;
    ASSERT_NE(top, 0u);
    uint32_t other = 3 - top;
    TCfbBuilder::Put32(f, dir + 128 * other + 68, top);
    TCfbBuilder::Put32(f, dir + 128 * other + 72, top);
    TCfbBuilder::Put32(f, dir + 128 * top + 68, other);
    TCfbBuilder::Put32(f, dir + 128 * top + 72, other);
    ExpectOleError([&] { StgOpenStorageOnMemory(f); }, "appears twice");
  }
  {  // A directory chain that loops.
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(b.DirectoryFirstSector()), b.DirectoryFirstSector());
    ExpectOleError([&] { StgOpenStorageOnMemory(f); }, "loops");
  }
  {  // More FAT sectors than the file has.
    std::string f = good;
    TCfbBuilder::Put32(f, 44, 100000);
    ExpectOleError([&] { StgOpenStorageOnMemory(f); }, "FAT sectors");
  }
  ExpectOleError([&] { StgOpenStorageOnMemory("not a compound file at all"); }, "Not a compound file");
  ExpectOleError([&] { StgOpenStorageOnMemory(good.substr(0, 300)); }, "truncated");
}

TEST(CompoundFileDamageTest, EveryTruncationAndByteFlipFailsCleanly) {
  TCfbBuilder b;
  b.AddStream("S", Pattern(5000, 9));
  b.AddStream("D/T", Pattern(200, 10));
  const std::string good = b.Build();
  auto tryAll = [](const std::string& f) {
    try {
      auto root = StgOpenStorageOnMemory(f);
      for (const auto& e : root->EnumElements())
        if (e.Type == STGTY_STREAM) {
          auto s = root->OpenStream(e.Name);
          if (s) ReadAll(*s);
        }
    } catch (const Exception&) {
    }
  };
  for (size_t n = 0; n < good.size(); n += 37) tryAll(good.substr(0, n));
  // Flip bytes of the header, FAT and directory.
  for (size_t i = 0; i < 512 * 4; ++i) {
    std::string f = good;
    f[i] = static_cast<char>(f[i] ^ 0xA5);
    tryAll(f);
  }
}

TEST(CompoundFileTest, TellsCompoundFilesApartOnDisk) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("lkw_cfb_" + std::to_string(getpid()));
  fs::create_directories(dir);
  TCfbBuilder b;
  b.AddStream("WordDocument", "hello");
  {
    std::ofstream(dir / "a.doc", std::ios::binary) << b.Build();
    std::ofstream(dir / "b.txt", std::ios::binary) << "plain text";
  }
  EXPECT_TRUE(StgIsStorageFile((dir / "a.doc").string()));
  EXPECT_FALSE(StgIsStorageFile((dir / "b.txt").string()));
  EXPECT_FALSE(StgIsStorageFile((dir / "missing").string()));
  EXPECT_EQ(ReadAll(*StgOpenStorage((dir / "a.doc").string())->OpenStream(u"WordDocument")), "hello");
  EXPECT_THROW(StgOpenStorage((dir / "b.txt").string()), EOleError);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace lkw
