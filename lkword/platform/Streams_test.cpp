#include "lkword/platform/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <fstream>
#include <string>

#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("lkw_") + std::to_string(getpid()) + "_" + name)).string();
}

TEST(StreamsTest, MemoryStreamsReadSeekAndClampAtTheEnds) {
  TBytesStream s("abcdef");
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(s.Read(buf, 8), 2);   // short read at the end
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Seek(-100, soCurrent), 0);  // clamped, not negative
  EXPECT_EQ(s.Seek(100, soBeginning), 100);
  EXPECT_EQ(s.Read(buf, 1), 0);            // past the end reads nothing
  EXPECT_EQ(s.Remaining(), 0);
  s.SetPosition(2);
  EXPECT_EQ(s.ReadBytes(100), "cdef");     // never more than remains
}

TEST(StreamsTest, ReadBufferRaisesOnShortRead) {
  TBytesStream s("ab");
  char buf[4];
  try {
    s.ReadBuffer(buf, 3);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  TBytesStream t("\x01\x02\x03\x04");
  EXPECT_EQ(t.ReadU16BE(), 0x0102);
  EXPECT_EQ(t.ReadU16LE(), 0x0403);
  EXPECT_THROW(t.ReadU8(), EReadError);
}

TEST(StreamsTest, MemoryStreamGrowsOnWriteAndLoadsFromStream) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  m.Seek(10, soBeginning);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Memory()[5], 0);
  TBytesStream src("xyz");
  src.SetPosition(2);
  m.LoadFromStream(src);  // whole source, from its start
  EXPECT_EQ(m.Size(), 3);
  EXPECT_EQ(m.Position(), 0);
}

TEST(StreamsTest, FileStreamBufferedReadsMatchContentAcrossBufferEdges) {
  std::string path = TempPath("stream.bin");
  std::string content;
  for (int i = 0; i < 200000; ++i) content += static_cast<char>(i * 7 + i / 256);
  {
    TFileStream w(path, fmCreate);
    // Many small writes exercise the write buffer.
    for (size_t i = 0; i < content.size(); i += 1000) w.WriteBuffer(content.data() + i, std::min<size_t>(1000, content.size() - i));
  }
  TFileStream f(path);
  ASSERT_EQ(f.Size(), static_cast<int64_t>(content.size()));
  // Byte-at-a-time reads across a buffer boundary, then a seek backwards.
  f.SetPosition(65530);
  std::string got;
  for (int i = 0; i < 12; ++i) got += static_cast<char>(f.ReadU8());
  EXPECT_EQ(got, content.substr(65530, 12));
  f.SetPosition(10);
  EXPECT_EQ(f.ReadBytes(5), content.substr(10, 5));
  // A large read bypasses the buffer.
  f.SetPosition(1000);
  EXPECT_EQ(f.ReadBytes(150000), content.substr(1000, 150000));
  EXPECT_EQ(ReadFileBytes(path), content);
  std::remove(path.c_str());
}

TEST(StreamsTest, OpeningAMissingFileOrAFolderRaises) {
  EXPECT_THROW(TFileStream("/nonexistent/really/not"), EFOpenError);
  EXPECT_THROW(TFileStream(std::filesystem::temp_directory_path().string()), EFOpenError);
}

TEST(StreamsTest, FileMappingHoldsTheBytesOrIsNullForWhatCannotBeMapped) {
  const std::string path = TempPath("mapped.bin");
  std::string bytes(70000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::shared_ptr<const TFileMapping> m = TFileMapping::Map(path);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Bytes(), bytes);
  std::filesystem::remove(path);
  EXPECT_EQ(m->Bytes().substr(65536), std::string_view(bytes).substr(65536));  // outlives its name
  {
    std::ofstream(path, std::ios::binary);
  }
  EXPECT_EQ(TFileMapping::Map(path), nullptr);  // empty
  std::filesystem::remove(path);
  EXPECT_EQ(TFileMapping::Map(path), nullptr);  // missing
  EXPECT_EQ(TFileMapping::Map(std::filesystem::temp_directory_path().string()), nullptr);
}

// Hands out at most 3 bytes per read.
class TTrickleStream : public TBytesStream {
 public:
  using TBytesStream::TBytesStream;
  int64_t Read(void* Buffer, int64_t Count) override { return TBytesStream::Read(Buffer, std::min<int64_t>(Count, 3)); }
};

TEST(StreamsTest, SharedBytesReferenceOwnedMemoryAndCopyTheRest) {
  const std::string bytes = "0123456789abcdef";
  auto owner = std::make_shared<const std::string>(bytes);
  TCustomMemoryStream owned(owner->data(), owner->size());
  owned.SetOwner(owner);
  owned.Seek(4, soBeginning);
  TSharedBytes a = ShareRemainingBytes(owned);
  EXPECT_EQ(a.Bytes.data(), owner->data() + 4);  // not copied
  EXPECT_EQ(a.Bytes, "456789abcdef");
  EXPECT_EQ(a.Owner, owner);
  EXPECT_EQ(owned.Remaining(), 0);

  TTrickleStream trickle(bytes);
  trickle.Seek(2, soBeginning);
  TSharedBytes b = ShareRemainingBytes(trickle);
  EXPECT_EQ(b.Bytes, "23456789abcdef");
  ASSERT_NE(b.Owner, nullptr);
  EXPECT_EQ(trickle.Remaining(), 0);

  TCustomMemoryStream unowned(bytes.data(), bytes.size());  // the caller's memory: copied
  TSharedBytes c = ShareRemainingBytes(unowned);
  EXPECT_NE(c.Bytes.data(), bytes.data());
  EXPECT_EQ(c.Bytes, bytes);
}

TEST(FormatTest, ReplacesPlaceholdersInOrder) {
  EXPECT_EQ(Format("File %s is not found.", {"a.doc"}), "File a.doc is not found.");
  EXPECT_EQ(Format("%s-%d %% %s", {"x", "7"}), "x-7 % ");
}

}  // namespace
}  // namespace lkw
