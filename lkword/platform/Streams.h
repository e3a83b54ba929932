// Seekable byte streams: the abstract TStream, a buffered file stream, an
// owning memory stream, a byte-string stream and a read-only view.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/platform/Object.h"
#include "lkword/platform/Types.h"

namespace lkw {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };
constexpr TSeekOrigin soBeginning = TSeekOrigin::soBeginning;
constexpr TSeekOrigin soCurrent = TSeekOrigin::soCurrent;
constexpr TSeekOrigin soEnd = TSeekOrigin::soEnd;

class TStream : public TObject {
 public:
  // Reads up to Count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes Count bytes; returns how many were written. Read-only streams
  // write nothing.
  virtual int64_t Write(const void* Buffer, int64_t Count);
  // Moves the position; positions before 0 are clamped to 0. Positions past
  // the end are allowed (reads there return 0). Returns the new position.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  // Bytes from the position to the end (0 when past it).
  int64_t Remaining();

  // Read exactly Count bytes or raise EReadError "Stream read error".
  void ReadBuffer(void* Buffer, int64_t Count);
  // Write exactly Count bytes or raise EWriteError "Stream write error".
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Reads up to Count bytes (never more than remain) into a byte string.
  RawByteString ReadBytes(int64_t Count);
  // Copies Count bytes (all from the position when Count is 0) from Source.
  int64_t CopyFrom(TStream& Source, int64_t Count);

  uint8_t ReadU8();
  uint16_t ReadU16LE();
  uint32_t ReadU32LE();
  uint16_t ReadU16BE();
  uint32_t ReadU32BE();

  std::string ClassName() const override { return "TStream"; }
};

// File open modes.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;

// A file read through a user-space buffer (no system call per small read),
// or created and written through one.
class TFileStream : public TStream {
 public:
  // Raises EFOpenError "Cannot open file \"NAME\". MESSAGE" or EFCreateError.
  TFileStream(const std::string& FileName, uint16_t Mode = fmOpenRead | fmShareDenyNone);
  ~TFileStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;
  const std::string& FileName() const { return FFileName; }
  std::string ClassName() const override { return "TFileStream"; }

 private:
  void FlushWrite();

  std::string FFileName;
  int FHandle = -1;
  bool FWriting = false;
  int64_t FSize = 0;        // file size (read mode)
  int64_t FPos = 0;         // logical position
  std::vector<uint8_t> FBuf;
  int64_t FBufStart = 0;    // file offset of FBuf[0]
  size_t FBufLen = 0;       // valid bytes in FBuf (read) or pending (write)
};

// A read-only stream over memory it does not own.
class TCustomMemoryStream : public TStream {
 public:
  TCustomMemoryStream() = default;
  TCustomMemoryStream(const void* Data, size_t Size) { SetPointer(Data, Size); }
  void SetPointer(const void* Data, size_t Size) {
    FData = static_cast<const uint8_t*>(Data);
    FSize = static_cast<int64_t>(Size);
    if (FPos > FSize) FPos = FSize;
  }
  const uint8_t* Memory() const { return FData; }
  // The owner of shared bytes (a file's mapping, say): readers that keep
  // the bytes beyond the stream keep the owner instead of a copy. Null when
  // the bytes live only as long as the stream's creator says.
  const std::shared_ptr<const void>& Owner() const { return FOwner; }
  void SetOwner(std::shared_ptr<const void> Owner) { FOwner = std::move(Owner); }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return FSize; }
  std::string ClassName() const override { return "TCustomMemoryStream"; }

 protected:
  const uint8_t* FData = nullptr;
  int64_t FSize = 0;
  int64_t FPos = 0;
  std::shared_ptr<const void> FOwner;
};

// An owning, growable memory stream.
class TMemoryStream : public TCustomMemoryStream {
 public:
  TMemoryStream() = default;
  int64_t Write(const void* Buffer, int64_t Count) override;
  void SetSize(int64_t NewSize);
  void Clear();
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  std::string ClassName() const override { return "TMemoryStream"; }

 private:
  void Sync();
  std::vector<uint8_t> FStore;
};

// A stream over an owned byte string.
class TBytesStream : public TCustomMemoryStream {
 public:
  TBytesStream() = default;
  explicit TBytesStream(RawByteString Bytes);
  int64_t Write(const void* Buffer, int64_t Count) override;
  const RawByteString& Bytes() const { return FBytes; }
  std::string ClassName() const override { return "TBytesStream"; }

 private:
  void Sync();
  RawByteString FBytes;
};

// Reads the whole file into a byte string (EFOpenError when it cannot).
RawByteString ReadFileBytes(const std::string& FileName);

// A whole regular file mapped read-only, so that a reader that needs all of
// a large file at hand touches (and keeps resident) only the pages it uses.
// Unmapped with the last owner.
class TFileMapping {
 public:
  // Null when the file cannot be opened or mapped (empty, not a regular
  // file): callers read it instead.
  static std::shared_ptr<const TFileMapping> Map(const std::string& FileName);
  ~TFileMapping();
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  std::string_view Bytes() const { return {static_cast<const char*>(FAddr), FSize}; }

 private:
  TFileMapping(void* Addr, size_t Size) : FAddr(Addr), FSize(Size) {}
  void* FAddr;
  size_t FSize;
};

// The bytes from a stream's position to its end, and what keeps them alive.
struct TSharedBytes {
  std::shared_ptr<const void> Owner;
  std::string_view Bytes;
};
// Bytes someone else owns (a memory stream with an Owner, such as a file's
// mapping) are referenced; those of any other stream are read into a copy
// that Owner holds. The stream is left at its end.
TSharedBytes ShareRemainingBytes(TStream& Stream);

// The file for reading: a memory stream over its mapping, which owns the
// mapping (see TCustomMemoryStream::Owner), or a TFileStream when it cannot
// be mapped (raising as TFileStream does).
std::unique_ptr<TStream> OpenFileForReading(const std::string& FileName);

}  // namespace lkw
