#include "lkword/containers/LKWZipFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "testing/ZipBuilder.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"

namespace lkw {
namespace {

namespace fs = std::filesystem;

std::string TestFile(const std::string& name) { return std::string(LKWORD_TESTDATA) + "/zip/" + name; }

const std::string kHello = "Hello, zip!\nHello, zip!\nHello, zip!\n";

using testing::BuildZip;
using testing::PutLE;
using testing::RawDeflate;
using TEntry = testing::TZipEntry;

void LoadBytes(TZipArchive& zip, const std::string& bytes) {
  TBytesStream s(bytes);
  zip.LoadFromStream(s);
}

using V = std::vector<std::string>;

// Every member's bytes in order; "!" for a member that fails to extract.
V Contents(const TZipArchive& zip) {
  V out;
  for (int i = 0; i < zip.Count(); ++i) {
    try {
      out.push_back(zip.GetUncompressed(i));
    } catch (const Exception&) {
      out.push_back("!");
    }
  }
  return out;
}

// The E that F raises, as kind and message; a failure when it raises none.
template <typename E = EZipFileError, typename F>
std::pair<TZipErrorKind, std::string> Thrown(F f) {
  try {
    f();
  } catch (const E& e) {
    if constexpr (std::is_same_v<E, EZipFileError>) return {e.Kind(), e.what()};
    return {TZipErrorKind::zeCorruptData, e.what()};
  }
  ADD_FAILURE() << "expected exception not thrown";
  return {};
}

TEST(ZipCRC32Test, StandardCheckValueAndChaining) {
  EXPECT_EQ(ZipCRC32("123456789"), 0xCBF43926u);
  EXPECT_EQ(ZipCRC32(""), 0u);
  EXPECT_EQ(ZipCRC32("6789", ZipCRC32("12345")), 0xCBF43926u);
}

TEST(InflateRawDataTest, WholeCutCorruptAndOverTheLimit) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  const std::string packed = RawDeflate(text);
  EXPECT_EQ(InflateRawData(packed, 1 << 20, "m"), text);
  EXPECT_EQ(InflateRawData(RawDeflate(""), 16, "m"), "");
  // Exactly at the limit is allowed; one byte past it is not.
  EXPECT_EQ(InflateRawData(packed, static_cast<int64_t>(text.size()), "m"), text);
  EXPECT_THROW(InflateRawData(packed, static_cast<int64_t>(text.size()) - 1, "m"), ELimitError);
  // A stream cut short, and one with a bad block type, name the member.
  for (const std::string& bad : {packed.substr(0, packed.size() / 2), std::string("\x07\x00\x00", 3)}) {
    const auto [kind, message] = Thrown([&] { InflateRawData(bad, 1 << 20, "content.xml"); });
    EXPECT_EQ(kind, TZipErrorKind::zeCorruptData);
    EXPECT_NE(message.find("content.xml"), std::string::npos) << message;
  }
  // A bomb stops at the limit, not at its size.
  const std::string bomb = RawDeflate(std::string(8 << 20, 'a'));
  EXPECT_THROW(InflateRawData(bomb, 1 << 20, "m"), ELimitError);
}

TEST(ZipArchiveTest, ReadsArchivesWrittenByAnotherTool) {
  TZipArchive zip;
  zip.LoadFromFile(TestFile("mixed.zip"));
  std::vector<RawByteString> names;
  zip.GetFileNames(names);
  const std::string russian = "\xD1\x80\xD1\x83\xD1\x81/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
  EXPECT_EQ(names, (std::vector<RawByteString>{"hello.txt", "word/document.xml", "empty.txt", "dir/", russian}));
  EXPECT_EQ(zip.GetUncompressed(0), kHello);  // stored
  std::string xml = zip.GetUncompressed(zip.GetIndexByFileName("word/document.xml"));
  EXPECT_EQ(xml.size(), 4651u);
  EXPECT_EQ(xml.substr(xml.size() - 7), "</doc>\n");
  EXPECT_EQ(zip.GetUncompressed(2), "");  // deflated, empty
  EXPECT_EQ(zip.GetUncompressed(3), "");  // directory
  EXPECT_EQ(zip.GetUncompressed(4), "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  // The wide overloads speak UTF-16.
  EXPECT_EQ(zip.GetIndexByFileName(Utf8ToWide(russian)), 4);
  TWideStrings wide;
  zip.GetFileNames(wide);
  ASSERT_EQ(wide.Count(), 5);
  EXPECT_EQ(wide[4], Utf8ToWide(russian));
  EXPECT_TRUE(zip.Files()[0].HeaderRead());
  EXPECT_EQ(zip.Files()[1].CentralCommonFileHeader().CompressionMethod, ZipMethodDeflated);
}

TEST(ZipArchiveTest, SharedBytesAreReferencedAndKeptAliveByTheirOwner) {
  // An owning memory stream (a file's mapping, in the readers) lends the
  // archive its bytes: the members are the same as from a copy, the owner
  // keeps them alive after the stream and its creator are gone, and the
  // archive reads from where the stream stands.
  const RawByteString file = ReadFileBytes(TestFile("mixed.zip"));
  TZipArchive copied;
  TBytesStream plain(file);
  copied.LoadFromStream(plain);
  TZipArchive shared;
  {
    auto owner = std::make_shared<const RawByteString>("junk" + file);
    TCustomMemoryStream s(owner->data(), owner->size());
    s.SetOwner(owner);
    s.SetPosition(4);
    shared.LoadFromStream(s);
    EXPECT_EQ(s.Position(), s.Size());
  }
  ASSERT_EQ(shared.Count(), copied.Count());
  for (int i = 0; i < copied.Count(); ++i) {
    EXPECT_EQ(shared.GetUncompressed(i), copied.GetUncompressed(i));
    EXPECT_EQ(shared.Files()[i].CompressedData(), copied.Files()[i].CompressedData());
  }
  // The tool's way in: a mapped file.
  std::unique_ptr<TStream> mapped = OpenFileForReading(TestFile("mixed.zip"));
  ASSERT_NE(dynamic_cast<TCustomMemoryStream*>(mapped.get()), nullptr);
  TZipArchive fromMapping;
  fromMapping.LoadFromStream(*mapped);
  mapped.reset();
  EXPECT_EQ(fromMapping.GetUncompressed(1), copied.GetUncompressed(1));
}

TEST(ZipArchiveTest, FindsTheEndRecordBehindCommentsAndStrayBytes) {
  TZipArchive zip;
  zip.LoadFromFile(TestFile("comment.zip"));
  EXPECT_EQ(zip.ZipFileComment(), "made for the zip reader tests");
  EXPECT_EQ(Contents(zip), V{kHello});

  // Junk after the end record, and junk in front (offsets not adjusted).
  LoadBytes(zip, ReadFileBytes(TestFile("comment.zip")) + std::string(300, 'x'));
  EXPECT_EQ(Contents(zip), V{kHello});
  zip.LoadFromFile(TestFile("prefixed.zip"));
  EXPECT_EQ(Contents(zip), V{kHello});

  // A comment that itself holds an end-record signature does not mislead.
  std::string fake = "PK\x05\x06" + std::string(18, '\0');
  LoadBytes(zip, BuildZip({{"a.txt", "alpha"}}, "note " + fake + " end"));
  EXPECT_EQ(Contents(zip), V{"alpha"});
  EXPECT_EQ(zip.ZipFileComment(), "note " + fake + " end");

  // A stream positioned after some header of its own.
  TBytesStream s("HEADER" + BuildZip({{"b.txt", "beta"}}));
  s.SetPosition(6);
  zip.LoadFromStream(s);
  EXPECT_EQ(Contents(zip), V{"beta"});
}

TEST(ZipArchiveTest, DataDescriptorMembersUseTheCentralSizesAndCrc) {
  TZipArchive zip;
  zip.LoadFromFile(TestFile("datadesc.zip"));
  EXPECT_EQ(Contents(zip), (V{kHello, kHello}));  // deflated, stored
  EXPECT_EQ(zip.Files()[0].CommonFileHeader().CompressedSize, 0u);
}

TEST(ZipArchiveTest, NameLookupFoldsOnlyAsciiCase) {
  TZipArchive zip;
  LoadBytes(zip, BuildZip({{"Word/Document.xml", "first"}, {"word/document.XML", "second"}, {"dir/x.txt", "x"}}));
  EXPECT_EQ(zip.GetIndexByFileName("WORD/DOCUMENT.XML"), 0);  // the first of equal names wins
  EXPECT_EQ(zip.GetIndexByFileName(u"word/document.xml"), 0);
  EXPECT_EQ(zip.GetIndexByFileName("dir\\x.txt"), -1);
  EXPECT_EQ(zip.GetIndexByFileName("x.txt"), -1);
  EXPECT_EQ(zip.GetIndexByFileName(""), -1);
  EXPECT_EQ(zip.DecompressFileName(u"DIR/X.TXT"), u"x");
  EXPECT_EQ(zip.DecompressFileName(u"missing.txt"), u"");
  // A name not flagged as UTF-8 is found by its UTF-8 spelling, from the
  // format's code page 437 or the system's.
  LoadBytes(zip, BuildZip({{"content_\x82.xhtml", "dos"}, {"caf\xE9.txt", "ansi"}}));
  EXPECT_EQ(zip.GetIndexByFileName("CONTENT_\xC3\xA9.xhtml"), 0);
  EXPECT_EQ(zip.GetIndexByFileName(u"caf\u00E9.txt"), 1);
  EXPECT_EQ(zip.GetIndexByFileName("caf\xC3\xA9.txt"), 1);
}

TEST(ZipArchiveTest, RefusedMembersRaiseErrorsNamingThem) {
  TZipArchive zip;
  zip.LoadFromFile(TestFile("encrypted.zip"));
  ASSERT_EQ(zip.Count(), 1);
  using K = TZipErrorKind;
  auto extract = [&](int Index) { return [&zip, Index] { zip.GetUncompressed(Index); }; };
  EXPECT_EQ(Thrown(extract(0)), std::pair(K::zeEncrypted, std::string("Member \"secret.txt\" is encrypted.")));
  zip.LoadFromFile(TestFile("bzip2.zip"));
  const auto [kind, message] = Thrown(extract(0));
  EXPECT_EQ(kind, K::zeUnsupportedMethod);
  EXPECT_NE(message.find("\"hello.txt\""), std::string::npos);
  zip.LoadFromFile(TestFile("crc-bad.zip"));
  EXPECT_EQ(Thrown<EZipFileCRCError>(extract(0)).second, "CRC Error in \"hello.txt\".");
  for (int bad : {-1, 1}) EXPECT_EQ(Thrown<Exception>(extract(bad)).second, "Index out of range.");

  // Deflate data that is not deflate data; to the readers a damaged package.
  LoadBytes(zip, BuildZip({{.Name = "bad.xml", .Data = "whatever", .Raw = std::string("\xff\xff\xff\xff", 4)}}));
  EXPECT_EQ(Thrown(extract(0)).first, K::zeCorruptData);
  EXPECT_THROW(zip.GetUncompressed(0), ECorruptError);
}

TEST(ZipArchiveTest, MethodDecidesBetweenStoredAndDeflated) {
  // Find data that deflates to exactly its own length: a reader that chose
  // by comparing sizes would hand back the deflate stream.
  std::mt19937 rng(5);
  std::string data;
  std::string packed;
  for (int zeros = 0; zeros < 400 && (packed.empty() || packed.size() != data.size()); ++zeros) {
    data.assign(static_cast<size_t>(zeros), 'a');
    rng.seed(5);
    for (int i = 0; i < 300; ++i) data += static_cast<char>(rng() % 256);
    packed = RawDeflate(data);
  }
  ASSERT_EQ(packed.size(), data.size());
  TZipArchive zip;
  LoadBytes(zip, BuildZip({{.Name = "same-size.bin", .Data = data}}));
  EXPECT_EQ(zip.GetUncompressed(0), data);

  // A stored member whose declared size disagrees with its bytes fails.
  LoadBytes(zip, BuildZip({{.Name = "s.txt", .Data = "stored", .Method = ZipMethodStored, .DeclaredSize = 9}}));
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);
}

TEST(ZipArchiveTest, DeclaredSizesCannotForceLargeAllocations) {
  std::string zeros(10 << 20, '\0');
  TZipArchive zip;
  // A bomb declaring less than it holds fails the CRC test rather than
  // inflating past the declared size.
  LoadBytes(zip, BuildZip({{.Name = "bomb", .Data = zeros, .DeclaredSize = 1000, .Crc = ZipCRC32(zeros.substr(0, 1000))}}));
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);

  // Honest but over the limit: refused before any inflation.
  LoadBytes(zip, BuildZip({{.Name = "big", .Data = zeros}}));
  zip.SetMaxMemberSize(1 << 20);
  EXPECT_NE(Thrown<ELimitError>([&] { zip.GetUncompressed(0); }).second.find("\"big\""), std::string::npos);
  zip.SetMaxMemberSize(ZipDefaultMaxMemberSize);
  EXPECT_EQ(zip.GetUncompressed(0).size(), zeros.size());

  // Declaring far more than a few bytes can inflate to is a short result,
  // found without allocating the declared size.
  LoadBytes(zip, BuildZip({{.Name = "liar", .Data = "tiny", .DeclaredSize = 0xFFFFFFF0u}}));
  EXPECT_THROW(zip.GetUncompressed(0), ELimitError);  // over the default limit
  zip.SetMaxMemberSize(int64_t{1} << 40);
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);
}

// An archive as streaming writers make it with zip64 turned on: every size
// and offset marked and given in zip64 fields, and a zip64 end record.
struct TZip64Options {
  std::string Prefix;              // bytes before the archive (offsets not adjusted)
  bool CentralSizesInline = false;  // central entries mark only the offset
  uint64_t StatedEntries = 0;       // entry count of the zip64 end record (0: the real one)
};

std::string BuildZip64(const std::vector<TEntry>& entries, const TZip64Options& o = {}) {
  std::string out = o.Prefix, dir;
  for (const TEntry& e : entries) {
    const std::string raw = e.Method == ZipMethodStored ? e.Data : RawDeflate(e.Data);
    const uint64_t offset = out.size() - o.Prefix.size();
    auto common = [&](std::string& s, bool marked, uint16_t extra) {
      PutLE(s, 45, 2);  // version needed
      PutLE(s, 0, 2);   // flags
      PutLE(s, e.Method, 2);
      PutLE(s, 0, 4);  // time and date
      PutLE(s, ZipCRC32(e.Data), 4);
      PutLE(s, marked ? 0xFFFFFFFF : static_cast<uint32_t>(raw.size()), 4);
      PutLE(s, marked ? 0xFFFFFFFF : static_cast<uint32_t>(e.Data.size()), 4);
      PutLE(s, static_cast<uint32_t>(e.Name.size()), 2);
      PutLE(s, extra, 2);
    };
    PutLE(out, ZipLocalFileHeaderSignature, 4);
    common(out, true, 20);
    out += e.Name;
    PutLE(out, 1, 2);  // zip64 field: both sizes
    PutLE(out, 16, 2);
    PutLE(out, e.Data.size(), 8);
    PutLE(out, raw.size(), 8);
    out += raw;
    const bool inlineSizes = o.CentralSizesInline;
    PutLE(dir, ZipCentralFileHeaderSignature, 4);
    PutLE(dir, 45, 2);  // made by
    common(dir, !inlineSizes, inlineSizes ? 12 : 28);
    PutLE(dir, 0, 6);  // comment length, disk, internal attributes
    PutLE(dir, 0, 4);  // external attributes
    PutLE(dir, 0xFFFFFFFF, 4);
    dir += e.Name;
    PutLE(dir, 1, 2);
    PutLE(dir, inlineSizes ? 8 : 24, 2);
    if (!inlineSizes) {
      PutLE(dir, e.Data.size(), 8);
      PutLE(dir, raw.size(), 8);
    }
    PutLE(dir, offset, 8);
  }
  const uint64_t dirOffset = out.size() - o.Prefix.size();
  out += dir;
  const uint64_t recordOffset = out.size() - o.Prefix.size();
  PutLE(out, 0x06064B50, 4);
  PutLE(out, 44, 8);  // record size
  PutLE(out, 45, 2);
  PutLE(out, 45, 2);
  PutLE(out, 0, 8);  // disk numbers
  PutLE(out, o.StatedEntries ? o.StatedEntries : entries.size(), 8);
  PutLE(out, o.StatedEntries ? o.StatedEntries : entries.size(), 8);
  PutLE(out, dir.size(), 8);
  PutLE(out, dirOffset, 8);
  PutLE(out, 0x07064B50, 4);
  PutLE(out, 0, 4);
  PutLE(out, recordOffset, 8);
  PutLE(out, 1, 4);
  PutLE(out, ZipEndOfCentralDirSignature, 4);
  PutLE(out, 0, 4);
  PutLE(out, 0xFFFF, 2);
  PutLE(out, 0xFFFF, 2);
  PutLE(out, 0xFFFFFFFF, 4);
  PutLE(out, 0xFFFFFFFF, 4);
  PutLE(out, 0, 2);
  return out;
}

TEST(ZipArchiveTest, Zip64FieldsGiveSizesOffsetsAndTheDirectory) {
  const std::vector<TEntry> members = {{.Name = "a.xml", .Data = kHello},
                                       {.Name = "b.txt", .Data = "stored", .Method = ZipMethodStored},
                                       {.Name = "empty", .Data = ""}};
  for (const TZip64Options& o : {TZip64Options{"", false, 0}, TZip64Options{"#!/bin/sh\nexit 0\n", false, 0},
                                 TZip64Options{"", true, 0}, TZip64Options{"", false, uint64_t{1} << 62}}) {
    SCOPED_TRACE(o.Prefix.size() * 100 + o.CentralSizesInline * 10 + (o.StatedEntries != 0));
    TZipArchive zip;
    LoadBytes(zip, BuildZip64(members, o));
    EXPECT_EQ(Contents(zip), (V{kHello, "stored", ""}));
    EXPECT_EQ(zip.GetIndexByFileName("a.xml"), 0);
    EXPECT_EQ(zip.Files()[0].DeclaredSize(), kHello.size());
    EXPECT_EQ(zip.Files()[1].CentralRelativeOffsetOfLocalHeader(), 30 + 5 + 20 + RawDeflate(kHello).size());
  }

  // Marked sizes without their zip64 field stay marked: too large to extract.
  std::string bytes = BuildZip64({{.Name = "a.xml", .Data = kHello}});
  const size_t tag = bytes.find(std::string("\x01\x00\x10\x00", 4));
  ASSERT_NE(tag, std::string::npos);
  bytes[tag] = '\x99';  // the local header's zip64 field becomes an unknown one
  TZipArchive zip;
  LoadBytes(zip, bytes);
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.Files()[0].CommonFileHeader().UncompressedSize, 0xFFFFFFFFu);
  EXPECT_THROW(zip.GetUncompressed(0), ELimitError);
}

TEST(ZipArchiveTest, DamagedArchivesLoadWhatTheyCan) {
  std::string good = ReadFileBytes(TestFile("mixed.zip"));
  TZipArchive zip;
  // Every truncation: never a crash; members either extract or raise.
  for (size_t len = 0; len <= good.size(); ++len) {
    LoadBytes(zip, good.substr(0, len));
    Contents(zip);
  }
  // A local header offset outside the file: the member keeps its central
  // fields only and cannot be found by name.
  LoadBytes(zip, BuildZip({{.Name = "a.txt", .Data = "a", .LocalOffset = 0x7FFFFFF0u}, {"b.txt", "b"}}));
  EXPECT_EQ(Contents(zip), (V{"!", "b"}));
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);
  EXPECT_FALSE(zip.Files()[0].HeaderRead());
  EXPECT_EQ(zip.Files()[0].FileName(), "");
  EXPECT_EQ(zip.Files()[0].CentralFileName(), "a.txt");
  EXPECT_EQ(zip.GetIndexByFileName("a.txt"), -1);

  // A central entry whose name runs past the end of the file ends the
  // directory; the entries before it stay.
  std::string bytes = BuildZip({{"one.txt", "1"}, {"two.txt", "2"}});
  size_t second = bytes.rfind("PK\x01\x02");
  bytes[second + 28] = '\xff';  // file name length
  bytes[second + 29] = '\xff';
  LoadBytes(zip, bytes);
  EXPECT_EQ(Contents(zip), V{"1"});

  // An end record claiming entries that are not there.
  bytes = BuildZip({{"one.txt", "1"}});
  bytes[bytes.size() - 12] = '\x50';  // TotalNumberOfEntries = 80
  LoadBytes(zip, bytes);
  EXPECT_EQ(zip.Count(), 1);

  // No end record at all: an empty archive, no error.
  LoadBytes(zip, "not a zip archive at all");
  EXPECT_EQ(zip.Count(), 0);
  EXPECT_FALSE(zip.DirectoryRebuilt());
}

TEST(ZipArchiveTest, AnArchiveCutBeforeItsDirectoryIsListedByItsLocalHeaders) {
  // The first member as streaming writers store it: sizes and CRC in a
  // descriptor after the data, the local header's left 0.
  std::string first = BuildZip({{"streamed.txt", "streamed member"}});
  first.resize(first.find("PK\x01\x02"));
  const std::string sizes = first.substr(14, 12);
  first[6] |= 0x08;
  first.replace(14, 12, std::string(12, '\0'));
  first += "PK\x07\x08" + sizes;
  std::string rest = BuildZip({{"sized.txt", "sized member", ZipMethodStored}, {"cut.txt", std::string(500, 'c'), ZipMethodStored}});
  rest.resize(rest.find("PK\x01\x02"));
  const std::string cut = first + rest.substr(0, rest.size() - 20);
  TZipArchive zip;
  LoadBytes(zip, cut);
  EXPECT_TRUE(zip.DirectoryRebuilt());
  ASSERT_EQ(zip.Count(), 3);
  EXPECT_EQ(zip.GetUncompressed(zip.GetIndexByFileName("streamed.txt")), "streamed member");
  EXPECT_EQ(zip.GetUncompressed(zip.GetIndexByFileName("sized.txt")), "sized member");
  EXPECT_THROW(zip.GetUncompressed(2), EZipFileCRCError);  // its data is cut
  // An intact archive is not rebuilt.
  LoadBytes(zip, BuildZip({{"a.txt", "a"}}));
  EXPECT_FALSE(zip.DirectoryRebuilt());
}

TEST(ZipArchiveTest, OverlappingLocalHeadersCannotMultiplyMemory) {
  // Thousands of directory entries share one local header with a 60 KB name.
  std::string longName(60000, 'n');
  std::vector<TEntry> entries;
  entries.push_back({longName, "x"});
  for (int i = 0; i < 3000; ++i) entries.push_back({.Name = "e", .Data = "x", .LocalOffset = 0});
  std::string bytes = BuildZip(entries);
  TZipArchive zip;
  LoadBytes(zip, bytes);
  ASSERT_EQ(zip.Count(), 3001);
  size_t copied = 0;
  for (int i = 0; i < zip.Count(); ++i) copied += zip.Files()[i].FileName().size();
  EXPECT_LE(copied, bytes.size());
  EXPECT_EQ(zip.GetUncompressed(0), "x");
}

TEST(ZipArchiveTest, MembersOutliveTheStreamAndSurviveAssign) {
  TZipArchive zip;
  {
    TBytesStream s(BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}}));
    zip.LoadFromStream(s);
  }
  TLocalFile copy;
  copy.Assign(zip.Files()[1]);
  zip.Files().SetLocalFile(0, zip.Files()[1]);
  EXPECT_EQ(zip.GetUncompressed(0), "beta");
  zip.LoadFromFile(TestFile("comment.zip"));  // the old image goes; the copy keeps its own reference
  EXPECT_EQ(copy.FileName(), "b.txt");
  EXPECT_EQ(copy.CompressedData(), RawDeflate("beta"));
  EXPECT_THROW(copy.Assign(zip), EConvertError);
}

// Every member of every package in the shared corpus lists and extracts with
// a matching CRC (checked by GetUncompressed) and its declared size.
TEST(ZipArchiveTest, ExtractsEveryMemberOfTheCorpusPackages) {
  fs::path shared = fs::path(LKWORD_TESTDATA) / ".." / ".." / "shared";
  if (!fs::exists(shared / "corpus")) GTEST_SKIP() << "shared corpus not present";
  int archives = 0, members = 0;
  for (const char* dir : {"corpus", "corpus-public"}) {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(shared / dir, ec)) {
      std::string ext = e.path().extension().string();
      if (ext != ".docx" && ext != ".odt" && ext != ".ods" && ext != ".odp" && ext != ".epub") continue;
      if (e.path().filename().string().find("Encrypted") != std::string::npos) continue;
      TZipArchive zip;
      zip.LoadFromFile(e.path().string());
      ASSERT_GT(zip.Count(), 0) << e.path();
      ++archives;
      for (int i = 0; i < zip.Count(); ++i, ++members) {
        SCOPED_TRACE(e.path().string() + " " + zip.Files()[i].FileName());
        EXPECT_EQ(zip.GetUncompressed(i).size(), zip.Files()[i].CentralCommonFileHeader().UncompressedSize);
      }
    }
  }
  EXPECT_GT(archives, 40);
  EXPECT_GT(members, 500);
}

}  // namespace
}  // namespace lkw
