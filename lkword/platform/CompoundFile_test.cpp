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

  // A DIFAT sector that links to itself, with a FAT count that sends the
  // reader round it: the FAT sectors it lists are kept.
  const uint32_t difat = b.NumFatSectors();  // DIFAT sectors follow the FAT
  TCfbBuilder::Put32(file, 512 + size_t{difat} * 512 + 508, difat);
  TCfbBuilder::Put32(file, 44, b.NumFatSectors() + 200);
  auto damaged = StgOpenStorageOnMemory(file);
  ASSERT_FALSE(damaged->Damage().empty());
  EXPECT_NE(damaged->Damage().front().find("DIFAT chain loops"), std::string::npos) << damaged->Damage().front();
  EXPECT_TRUE(ReadAll(*damaged->OpenStream(u"Big")) == data);
}

// A stream whose chain breaks raises by default; asked for what survives, it
// gives the sectors before the break and says what is lost.
TEST(CompoundFileDamageTest, StreamsEndWhereTheirChainsBreak) {
  TCfbBuilder b;
  const std::string dataA = Pattern(6000, 7);
  b.AddStream("A", dataA);
  b.AddStream("B", Pattern(100, 8));
  b.AddStream("C", Pattern(4500, 9));
  const std::string good = b.Build();
  const uint32_t a = b.StreamSector("A");
  const size_t dir = 512 + size_t{b.DirectoryFirstSector()} * 512;

  struct TCase {
    const char* Name;
    std::string File;
    size_t Readable;
    const char* Why;
  };
  std::vector<TCase> cases;
  auto with = [&](uint32_t Entry, uint32_t Next) {
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(Entry), Next);
    return f;
  };
  cases.push_back({"a chain that loops back", with(a + 1, a), 1024, "loops"});
  cases.push_back({"a chain into a sector the FAT does not cover", with(a, 0x00FFFFFF), 512, "out of range"});
  cases.push_back({"a chain into a free sector", with(a + 2, 0xFFFFFFFF), 1536, "out of range"});
  cases.push_back({"a chain that ends before the stream does", with(a, 0xFFFFFFFE), 512, "ends early"});
  {
    std::string f = good;
    TCfbBuilder::Put32(f, dir + 128 * 1 + 120, 0x7FFFFFFF);
    cases.push_back({"a size far beyond the file", f, 12 * 512, "ends early"});
  }
  // Stream C comes last: cut the file inside it, not at a sector's end.
  const size_t cStart = 512 + size_t{b.StreamSector("C")} * 512;
  cases.push_back({"the file cut inside the stream", good.substr(0, cStart + 1300), 1300, "outside the file"});

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto root = StgOpenStorageOnMemory(c.File);
    EXPECT_EQ(root->CutShort(), c.File.size() < good.size());
    const std::u16string name = std::string(c.Name).find("cut") != std::string::npos ? u"C" : u"A";
    ExpectOleError([&] { root->OpenStream(name); }, c.Why);
    std::string lost;
    auto s = root->OpenStream(name, &lost);
    ASSERT_TRUE(s);
    EXPECT_NE(lost.find(c.Why), std::string::npos) << lost;
    EXPECT_NE(lost.find("bytes are readable"), std::string::npos) << lost;
    ASSERT_EQ(s->Size(), static_cast<int64_t>(c.Readable));
    const std::string& whole = name == u"C" ? Pattern(4500, 9) : dataA;
    // A size beyond the data reads the padding of its last sector too.
    EXPECT_TRUE(ReadAll(*s).substr(0, whole.size()) == whole.substr(0, c.Readable));
    // The other streams stay whole.
    EXPECT_TRUE(ReadAll(*root->OpenStream(u"B", &lost)) == Pattern(100, 8));
    EXPECT_TRUE(lost.empty());
  }
}

TEST(CompoundFileDamageTest, OpensDamagedContainersWithWhatSurvives) {
  TCfbBuilder b;
  b.AddStream("A", Pattern(6000, 7));
  b.AddStream("B", Pattern(100, 8));
  const std::string good = b.Build();
  EXPECT_TRUE(StgOpenStorageOnMemory(good)->Damage().empty());
  EXPECT_FALSE(StgOpenStorageOnMemory(good)->CutShort());
  const size_t dir = 512 + size_t{b.DirectoryFirstSector()} * 512;
  auto damageOf = [](const std::string& f) {
    auto root = StgOpenStorageOnMemory(f);
    std::string all;
    for (const std::string& d : root->Damage()) all += d + "; ";
    return std::make_pair(Names(*root), all);
  };

  {  // More FAT sectors than the file has, the second one past its end.
    std::string f = good;
    TCfbBuilder::Put32(f, 44, 100000);
    TCfbBuilder::Put32(f, 80, 5000);
    auto [names, damage] = damageOf(f);
    EXPECT_EQ(names, "A B ");
    EXPECT_NE(damage.find("FAT sectors"), std::string::npos) << damage;
    EXPECT_NE(damage.find("1 of the 2 FAT sectors lie outside the file"), std::string::npos) << damage;
  }
  {  // A directory chain that loops: its first sector is still read.
    std::string f = good;
    TCfbBuilder::Put32(f, b.FatEntryOffset(b.DirectoryFirstSector()), b.DirectoryFirstSector());
    auto [names, damage] = damageOf(f);
    EXPECT_EQ(names, "A B ");
    EXPECT_NE(damage.find("loops"), std::string::npos) << damage;
  }
  {  // Siblings that point at each other: each is listed once.
    std::string f = good;
    uint32_t top = static_cast<uint8_t>(f[dir + 76]);
    ASSERT_TRUE(top == 1 || top == 2);
    uint32_t other = 3 - top;
    for (uint32_t e : {top, other}) {
      TCfbBuilder::Put32(f, dir + 128 * e + 68, 3 - e);
      TCfbBuilder::Put32(f, dir + 128 * e + 72, 3 - e);
    }
    auto [names, damage] = damageOf(f);
    EXPECT_EQ(names.size(), 4u) << names;
    EXPECT_NE(damage.find("appears twice"), std::string::npos) << damage;
  }
  {  // A link past the end of the directory.
    std::string f = good;
    TCfbBuilder::Put32(f, dir + 128 * 1 + 72, 77);
    EXPECT_NE(damageOf(f).second.find("beyond the end of the directory"), std::string::npos);
  }
  // Nothing to read without a header, a FAT or a root entry.
  {
    std::string f = good;
    TCfbBuilder::Put32(f, 76, 5000);
    ExpectOleError([&] { StgOpenStorageOnMemory(f); }, "FAT lies outside the file");
    f = good;
    f[dir + 66] = 0;
    ExpectOleError([&] { StgOpenStorageOnMemory(f); }, "root directory entry is missing");
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
          std::string lost;
          auto s = root->OpenStream(e.Name, &lost);
          if (s) {
            ReadAll(*s);
            EXPECT_LE(s->Size(), static_cast<int64_t>(f.size()));
          }
          s = root->OpenStream(e.Name);
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
