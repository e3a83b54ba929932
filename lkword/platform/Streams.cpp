#include "lkword/platform/Streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {
constexpr size_t kFileBufferSize = 64 * 1024;
}

int64_t TStream::Write(const void*, int64_t) { return 0; }

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

int64_t TStream::Remaining() {
  int64_t pos = Position();
  int64_t size = Size();
  return size > pos ? size - pos : 0;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) throw EWriteError("Stream write error");
}

RawByteString TStream::ReadBytes(int64_t Count) {
  RawByteString out;
  if (Count <= 0) return out;
  int64_t avail = Remaining();
  if (Count > avail) Count = avail;
  out.resize(static_cast<size_t>(Count));
  int64_t got = Count ? Read(out.data(), Count) : 0;
  out.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  return out;
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count <= 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, kFileBufferSize)));
  int64_t left = Count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    Source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return Count;
}

uint8_t TStream::ReadU8() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadU16LE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return LoadLE16(b);
}

uint32_t TStream::ReadU32LE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return LoadLE32(b);
}

uint16_t TStream::ReadU16BE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return LoadBE16(b);
}

uint32_t TStream::ReadU32BE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return LoadBE32(b);
}

// ---------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if (Mode == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
    FWriting = true;
  } else {
    FHandle = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0)
      throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
    struct stat st {};
    if (::fstat(FHandle, &st) != 0 || S_ISDIR(st.st_mode)) {
      int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(FHandle);
      FHandle = -1;
      throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(err));
    }
    FSize = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  }
  FBuf.resize(kFileBufferSize);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) {
    if (FWriting) {
      try {
        FlushWrite();
      } catch (...) {
      }
    }
    ::close(FHandle);
  }
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (FWriting || Count <= 0 || FPos >= FSize) return 0;
  Count = std::min(Count, FSize - FPos);
  auto* dst = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    // Serve from the buffer when the position lies inside it.
    if (FPos >= FBufStart && FPos < FBufStart + static_cast<int64_t>(FBufLen)) {
      size_t off = static_cast<size_t>(FPos - FBufStart);
      size_t n = std::min<size_t>(FBufLen - off, static_cast<size_t>(Count - done));
      std::memcpy(dst + done, FBuf.data() + off, n);
      done += static_cast<int64_t>(n);
      FPos += static_cast<int64_t>(n);
      continue;
    }
    int64_t want = Count - done;
    if (want >= static_cast<int64_t>(FBuf.size())) {
      // Large reads bypass the buffer.
      ssize_t r = ::pread(FHandle, dst + done, static_cast<size_t>(want), FPos);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      done += r;
      FPos += r;
      continue;
    }
    ssize_t r = ::pread(FHandle, FBuf.data(), FBuf.size(), FPos);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    FBufStart = FPos;
    FBufLen = static_cast<size_t>(r);
  }
  return done;
}

void TFileStream::FlushWrite() {
  size_t off = 0;
  while (off < FBufLen) {
    ssize_t w = ::write(FHandle, FBuf.data() + off, FBufLen - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      FBufLen = 0;
      throw EWriteError("Stream write error");
    }
    off += static_cast<size_t>(w);
  }
  FBufLen = 0;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  if (!FWriting || Count <= 0) return 0;
  auto* src = static_cast<const uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    if (FBufLen == FBuf.size()) FlushWrite();
    size_t n = std::min<size_t>(FBuf.size() - FBufLen, static_cast<size_t>(Count - done));
    std::memcpy(FBuf.data() + FBufLen, src + done, n);
    FBufLen += n;
    done += static_cast<int64_t>(n);
  }
  FPos += done;
  if (FPos > FSize) FSize = FPos;
  return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (FWriting) {
    // Written files are only appended to; report the position.
    return FPos;
  }
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize;
  int64_t p = base + Offset;
  FPos = p < 0 ? 0 : p;
  return FPos;
}

int64_t TFileStream::Size() { return FSize; }

// ---------------------------------------------------------------------------

int64_t TCustomMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPos >= FSize) return 0;
  int64_t n = std::min(Count, FSize - FPos);
  std::memcpy(Buffer, FData + FPos, static_cast<size_t>(n));
  FPos += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize;
  int64_t p = base + Offset;
  FPos = p < 0 ? 0 : p;
  return FPos;
}

void TMemoryStream::Sync() { SetPointer(FStore.data(), FStore.size()); }

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  size_t end = static_cast<size_t>(FPos + Count);
  if (end > FStore.size()) FStore.resize(end);
  std::memcpy(FStore.data() + FPos, Buffer, static_cast<size_t>(Count));
  Sync();
  FPos += Count;
  return Count;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  FStore.resize(static_cast<size_t>(std::max<int64_t>(NewSize, 0)));
  Sync();
}

void TMemoryStream::Clear() {
  FStore.clear();
  FPos = 0;
  Sync();
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  int64_t n = Stream.Size();
  FStore.resize(static_cast<size_t>(n));
  if (n) Stream.ReadBuffer(FStore.data(), n);
  FPos = 0;
  Sync();
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName);
  LoadFromStream(f);
}

TBytesStream::TBytesStream(RawByteString Bytes) : FBytes(std::move(Bytes)) { Sync(); }

void TBytesStream::Sync() { SetPointer(FBytes.data(), FBytes.size()); }

int64_t TBytesStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  size_t end = static_cast<size_t>(FPos + Count);
  if (end > FBytes.size()) FBytes.resize(end);
  std::memcpy(FBytes.data() + FPos, Buffer, static_cast<size_t>(Count));
  Sync();
  FPos += Count;
  return Count;
}

RawByteString ReadFileBytes(const std::string& FileName) {
  TFileStream f(FileName);
  return f.ReadBytes(f.Size());
}

// ---------------------------------------------------------------------------
// TFileMapping

std::shared_ptr<const TFileMapping> TFileMapping::Map(const std::string& FileName) {
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::shared_ptr<const TFileMapping> m;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    const auto size = static_cast<size_t>(st.st_size);
    void* addr = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (addr != MAP_FAILED) m.reset(new TFileMapping(addr, size));
  }
  ::close(fd);
  return m;
}

TFileMapping::~TFileMapping() { ::munmap(FAddr, FSize); }

TSharedBytes ShareRemainingBytes(TStream& Stream) {
  TSharedBytes out;
  const int64_t at = Stream.Position();
  const int64_t size = Stream.Size() - at;
  auto* shared = dynamic_cast<TCustomMemoryStream*>(&Stream);
  if (shared && shared->Owner()) {
    out.Owner = shared->Owner();
    if (size > 0)
      out.Bytes = std::string_view(reinterpret_cast<const char*>(shared->Memory()) + at, static_cast<size_t>(size));
    Stream.Seek(0, soEnd);
    return out;
  }
  auto copy = std::make_shared<RawByteString>(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  int64_t got = 0;
  // Streams may hand out less than asked for at a time.
  while (got < size) {
    const int64_t n = Stream.Read(copy->data() + got, size - got);
    if (n <= 0) break;
    got += n;
  }
  copy->resize(static_cast<size_t>(got));
  out.Bytes = *copy;
  out.Owner = std::move(copy);
  return out;
}

std::unique_ptr<TStream> OpenFileForReading(const std::string& FileName) {
  if (auto m = TFileMapping::Map(FileName)) {
    auto s = std::make_unique<TCustomMemoryStream>(m->Bytes().data(), m->Bytes().size());
    s->SetOwner(std::move(m));
    return s;
  }
  return std::make_unique<TFileStream>(FileName, fmOpenRead | fmShareDenyNone);
}

}  // namespace lkw
