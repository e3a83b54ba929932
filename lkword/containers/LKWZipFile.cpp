#include "lkword/containers/LKWZipFile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "lkword/containers/LKWUtils.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// Reads Count bytes as a string, raising EReadError when fewer remain; the
// check comes first so that a hostile length never sizes an allocation.
RawByteString ReadString(TStream& S, int64_t Count) {
  if (Count > S.Remaining()) throw EReadError("Stream read error");
  RawByteString out(static_cast<size_t>(Count), '\0');
  if (Count > 0) S.ReadBuffer(out.data(), Count);
  return out;
}

// Zip64: a 32-bit field holding the marker has its value in the zip64
// extended information field (extra field tag 1), and the end record's in
// the zip64 end record, which a locator right before the end record points
// to. Streaming writers mark small members too.
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kZip64ExtraTag = 0x0001;
constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;

std::string_view Zip64Field(std::string_view Extra) {
  const auto* d = reinterpret_cast<const uint8_t*>(Extra.data());
  size_t p = 0;
  while (p + 4 <= Extra.size()) {
    const uint16_t tag = LoadLE16(d + p);
    const size_t len = LoadLE16(d + p + 2);
    if (len > Extra.size() - p - 4) break;
    if (tag == kZip64ExtraTag) return Extra.substr(p + 4, len);
    p += 4 + len;
  }
  return {};
}

// Replaces the marked sizes of H (and the marked local header offset when
// Offset is given) by their zip64 values: uncompressed size, compressed size,
// offset, each present only when its field is marked; a local header carries
// both sizes whenever it has any. A value beyond 32 bits leaves its field
// marked, larger than any member is allowed to be.
void ApplyZip64(TCommonFileHeader& H, std::string_view Extra, bool Local, uint32_t* Offset) {
  const bool usize = H.UncompressedSize == kZip64Marker;
  const bool csize = H.CompressedSize == kZip64Marker;
  const bool offset = Offset && *Offset == kZip64Marker;
  if (!usize && !csize && !offset) return;
  const std::string_view z = Zip64Field(Extra);
  const auto* d = reinterpret_cast<const uint8_t*>(z.data());
  size_t pos = 0;
  auto take = [&](bool Marked, uint32_t& Field, bool Always) {
    if (!Marked && !Always) return;
    if (pos + 8 > z.size()) return;
    const uint64_t v = LoadLE64(d + pos);
    pos += 8;
    if (Marked && v < kZip64Marker) Field = static_cast<uint32_t>(v);
  };
  const bool both = Local && z.size() >= 16;
  take(usize, H.UncompressedSize, both);
  take(csize, H.CompressedSize, both);
  if (Offset) take(offset, *Offset, false);
}

// A deflate stream yields at most about 1032 bytes per input byte (a 258-byte
// match in two bits); a member declaring more cannot be genuine, so its size
// never sizes an allocation.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kDeflateSlack = 64 * 1024;

}  // namespace

uint32_t ZipCRC32(std::string_view Data, uint32_t Crc) {
  uLong c = Crc;
  const auto* p = reinterpret_cast<const Bytef*>(Data.data());
  size_t n = Data.size();
  while (n > 0) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
    c = crc32(c, p, chunk);
    p += chunk;
    n -= chunk;
  }
  return static_cast<uint32_t>(c);
}

TCommonFileHeader TCommonFileHeader::FromBytes(const uint8_t* P) {
  TCommonFileHeader h;
  h.VersionNeededToExtract = LoadLE16(P);
  h.GeneralPurposeBitFlag = LoadLE16(P + 2);
  h.CompressionMethod = LoadLE16(P + 4);
  h.LastModFileTimeDate = LoadLE32(P + 6);
  h.Crc32 = LoadLE32(P + 10);
  h.CompressedSize = LoadLE32(P + 14);
  h.UncompressedSize = LoadLE32(P + 18);
  h.FilenameLength = LoadLE16(P + 22);
  h.ExtraFieldLength = LoadLE16(P + 24);
  return h;
}

TEndOfCentralDir TEndOfCentralDir::FromBytes(const uint8_t* P) {
  TEndOfCentralDir e;
  e.EndOfCentralDirSignature = LoadLE32(P);
  e.NumberOfThisDisk = LoadLE16(P + 4);
  e.NumberOfTheDiskWithTheStart = LoadLE16(P + 6);
  e.TotalNumberOfEntriesOnThisDisk = LoadLE16(P + 8);
  e.TotalNumberOfEntries = LoadLE16(P + 10);
  e.SizeOfTheCentralDirectory = LoadLE32(P + 12);
  e.OffsetOfStartOfCentralDirectory = LoadLE32(P + 16);
  e.ZipfileCommentLength = LoadLE16(P + 20);
  return e;
}

// ---------------------------------------------------------------------------
// TLocalFile

void TLocalFile::LoadCentralDirectoryFromStream(TStream& AStream) {
  uint8_t b[42];
  AStream.ReadBuffer(b, sizeof b);
  FCentralVersionMadeBy = LoadLE16(b);
  FCentralCommonFileHeader = TCommonFileHeader::FromBytes(b + 2);
  FCentralFileCommentLength = LoadLE16(b + 28);
  FCentralDiskNumberStart = LoadLE16(b + 30);
  FCentralInternalFileAttributes = LoadLE16(b + 32);
  FCentralExternalFileAttributes = LoadLE32(b + 34);
  FCentralRelativeOffsetOfLocalHeader = LoadLE32(b + 38);
  FCentralFileName = ReadString(AStream, FCentralCommonFileHeader.FilenameLength);
  FCentralExtraField = ReadString(AStream, FCentralCommonFileHeader.ExtraFieldLength);
  FCentralFileComment = ReadString(AStream, FCentralFileCommentLength);
  ApplyZip64(FCentralCommonFileHeader, FCentralExtraField, false, &FCentralRelativeOffsetOfLocalHeader);
}

void TLocalFile::LoadFileFromStream(TStream& AStream) { LoadFile(AStream, nullptr, nullptr); }

void TLocalFile::LoadFile(TStream& AStream, const std::shared_ptr<const void>& Owner, const char* Image) {
  uint8_t b[TCommonFileHeader::Size];
  AStream.ReadBuffer(b, sizeof b);
  TCommonFileHeader h = TCommonFileHeader::FromBytes(b);
  RawByteString name = ReadString(AStream, h.FilenameLength);
  RawByteString extra = ReadString(AStream, h.ExtraFieldLength);
  ApplyZip64(h, extra, true, nullptr);
  FCommonFileHeader = h;
  FFileName = std::move(name);
  FExtraField = std::move(extra);
  int64_t size = h.CompressedSize != 0 ? h.CompressedSize : FCentralCommonFileHeader.CompressedSize;
  // A truncated archive keeps what is there; extraction then fails the CRC.
  size = std::min(size, AStream.Remaining());
  if (Image) {
    FStore = Owner;
    FData = Image;
    FDataOffset = static_cast<size_t>(AStream.Position());
    FDataSize = static_cast<size_t>(size);
    AStream.Seek(size, soCurrent);
  } else {
    auto copy = std::make_shared<const RawByteString>(AStream.ReadBytes(size));
    FData = copy->data();
    FDataOffset = 0;
    FDataSize = copy->size();
    FStore = std::move(copy);
  }
  FHeaderRead = true;
}

std::string_view TLocalFile::CompressedData() const {
  if (!FStore) return {};
  return std::string_view(FData + FDataOffset, FDataSize);
}

uint32_t TLocalFile::DeclaredSize() const {
  const uint32_t local = FCommonFileHeader.UncompressedSize;
  return local != 0 ? local : FCentralCommonFileHeader.UncompressedSize;
}

void TLocalFile::CheckExtractable() const {
  const std::string& name = ExtractionName();
  if ((FCommonFileHeader.GeneralPurposeBitFlag | FCentralCommonFileHeader.GeneralPurposeBitFlag) & ZipFlagEncrypted)
    throw EZipFileError(TZipErrorKind::zeEncrypted, Format("Member \"%s\" is encrypted.", {name}));
  const uint16_t method = ExtractionHeader().CompressionMethod;
  if (method != ZipMethodStored && method != ZipMethodDeflated)
    throw EZipFileError(TZipErrorKind::zeUnsupportedMethod,
                        Format("Member \"%s\" uses the unsupported compression method %d.",
                               {name, std::to_string(method)}));
}

void TLocalFile::Assign(const TPersistent& Source) {
  const auto* src = dynamic_cast<const TLocalFile*>(&Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  FLocalFileHeaderSignature = src->FLocalFileHeaderSignature;
  FCommonFileHeader = src->FCommonFileHeader;
  FFileName = src->FFileName;
  FExtraField = src->FExtraField;
  FStore = src->FStore;
  FData = src->FData;
  FDataOffset = src->FDataOffset;
  FDataSize = src->FDataSize;
  FCentralFileHeaderSignature = src->FCentralFileHeaderSignature;
  FCentralVersionMadeBy = src->FCentralVersionMadeBy;
  FCentralCommonFileHeader = src->FCentralCommonFileHeader;
  FCentralFileCommentLength = src->FCentralFileCommentLength;
  FCentralDiskNumberStart = src->FCentralDiskNumberStart;
  FCentralInternalFileAttributes = src->FCentralInternalFileAttributes;
  FCentralExternalFileAttributes = src->FCentralExternalFileAttributes;
  FCentralRelativeOffsetOfLocalHeader = src->FCentralRelativeOffsetOfLocalHeader;
  FCentralFileName = src->FCentralFileName;
  FCentralExtraField = src->FCentralExtraField;
  FCentralFileComment = src->FCentralFileComment;
}

WideString TLocalFile::DisplayName() const {
  bool utf8 = ((FCommonFileHeader.GeneralPurposeBitFlag | FCentralCommonFileHeader.GeneralPurposeBitFlag) &
               ZipFlagUtf8Name) != 0;
  if (utf8 || IsValidUtf8(FFileName)) return Utf8ToWide(FFileName);
  return MultiByteToWide(GetACP(), FFileName);
}

// ---------------------------------------------------------------------------
// TLocalFiles

TLocalFile& TLocalFiles::Add() {
  FItems.push_back(std::make_unique<TLocalFile>(this));
  return *FItems.back();
}

void TLocalFiles::Delete(int Index) {
  GetLocalFile(Index);  // range check
  FItems.erase(FItems.begin() + Index);
}

TLocalFile& TLocalFiles::GetLocalFile(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FItems.size())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return *FItems[static_cast<size_t>(Index)];
}

// ---------------------------------------------------------------------------
// TZipArchive

TZipArchive::TZipArchive(TComponent* AOwner) : TComponent(AOwner), FFiles(this) {}

TZipArchive::~TZipArchive() = default;

void TZipArchive::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(f);
}

namespace {

// Where the end record is and where its central directory starts in the
// image, or false when there is no usable end record.
struct TDirectoryLocation {
  size_t EndRecord = 0;
  size_t Start = 0;
  uint64_t Entries = 0;
  int64_t Written = 0;  // the directory's offset as the archive states it
};

bool HasSignature(std::string_view Img, int64_t Pos, uint32_t Sig) {
  if (Pos < 0 || static_cast<uint64_t>(Pos) + 4 > Img.size()) return false;
  return LoadLE32(reinterpret_cast<const uint8_t*>(Img.data()) + Pos) == Sig;
}

bool LocateDirectory(std::string_view Img, TDirectoryLocation& Loc) {
  if (Img.size() < static_cast<size_t>(TEndOfCentralDir::Size)) return false;
  const auto* d = reinterpret_cast<const uint8_t*>(Img.data());
  // The end record sits before a comment of at most 65,535 bytes (and maybe
  // trailing junk); take the last candidate whose directory checks out.
  size_t last = Img.size() - TEndOfCentralDir::Size;
  size_t first = last > 0xFFFF + 1024 ? last - (0xFFFF + 1024) : 0;
  bool haveFallback = false;
  TDirectoryLocation fallback;
  for (size_t p = last + 1; p-- > first;) {
    if (d[p] != 'P' || d[p + 1] != 'K' || d[p + 2] != 5 || d[p + 3] != 6) continue;
    TEndOfCentralDir e = TEndOfCentralDir::FromBytes(d + p);
    uint64_t entries = e.TotalNumberOfEntries;
    int64_t asWritten = e.OffsetOfStartOfCentralDirectory;
    uint64_t dirSize = e.SizeOfTheCentralDirectory;
    size_t dirEnd = p;
    if ((e.TotalNumberOfEntries == 0xFFFF || e.SizeOfTheCentralDirectory == kZip64Marker ||
         e.OffsetOfStartOfCentralDirectory == kZip64Marker) &&
        p >= kZip64LocatorSize && HasSignature(Img, static_cast<int64_t>(p - kZip64LocatorSize), kZip64LocatorSignature)) {
      // The zip64 end record where the locator says, or right before the
      // locator when the archive has moved.
      const size_t locator = p - kZip64LocatorSize;
      const uint64_t stated = LoadLE64(d + locator + 8);
      const size_t candidates[2] = {stated < locator ? static_cast<size_t>(stated) : locator,
                                    locator >= kZip64EndSize ? locator - kZip64EndSize : locator};
      for (size_t r : candidates) {
        if (r + kZip64EndSize > locator || !HasSignature(Img, static_cast<int64_t>(r), kZip64EndSignature)) continue;
        entries = LoadLE64(d + r + 32);
        dirSize = LoadLE64(d + r + 40);
        const uint64_t offset = LoadLE64(d + r + 48);
        asWritten = offset < (uint64_t{1} << 62) ? static_cast<int64_t>(offset) : -1;
        dirEnd = r;
        break;
      }
    }
    // Offsets are normally from the archive's start; when something was
    // prepended (or the stream began inside a larger file), the directory
    // still ends right before the end record.
    int64_t beforeEnd = dirSize <= dirEnd ? static_cast<int64_t>(dirEnd - dirSize) : -1;
    TDirectoryLocation loc;
    loc.EndRecord = p;
    loc.Entries = entries;
    loc.Written = asWritten;
    if (entries == 0) {
      // An empty directory is only believed where the record ends the
      // input, so that a signature inside a comment does not win.
      if (p + TEndOfCentralDir::Size + e.ZipfileCommentLength == Img.size()) {
        loc.Start = p;
        Loc = loc;
        return true;
      }
      if (!haveFallback) {
        haveFallback = true;
        fallback = loc;
        fallback.Start = p;
      }
      continue;
    }
    if (HasSignature(Img, asWritten, ZipCentralFileHeaderSignature)) {
      loc.Start = static_cast<size_t>(asWritten);
      Loc = loc;
      return true;
    }
    if (HasSignature(Img, beforeEnd, ZipCentralFileHeaderSignature)) {
      loc.Start = static_cast<size_t>(beforeEnd);
      Loc = loc;
      return true;
    }
    if (!haveFallback) {
      haveFallback = true;
      fallback = loc;
      fallback.Start = asWritten >= 0 && static_cast<uint64_t>(asWritten) <= Img.size() ? static_cast<size_t>(asWritten)
                                                                                        : Img.size();
    }
  }
  if (haveFallback) Loc = fallback;
  return haveFallback;
}

}  // namespace

void TZipArchive::LoadFromStream(TStream& ZipFileStream) {
  FFiles.Clear();
  FNameIndex.clear();
  FEndOfCentralDirectory = TEndOfCentralDir();
  FZipFileComment.clear();
  FImage.reset();
  FImageBytes = {};

  // A file's mapping is referenced, not copied.
  TSharedBytes shared = ShareRemainingBytes(ZipFileStream);
  FImage = std::move(shared.Owner);
  FImageBytes = shared.Bytes;
  const std::string_view image = FImageBytes;
  TDirectoryLocation loc;
  FDirectoryRebuilt = false;
  if (!LocateDirectory(image, loc)) {
    ScanLocalHeaders(image);
    return;
  }
  const auto* d = reinterpret_cast<const uint8_t*>(image.data());
  FEndOfCentralDirectory = TEndOfCentralDir::FromBytes(d + loc.EndRecord);
  size_t commentStart = loc.EndRecord + TEndOfCentralDir::Size;
  FZipFileComment = RawByteString(image.substr(commentStart, FEndOfCentralDirectory.ZipfileCommentLength));
  // Local header offsets shift by the same amount the directory did.
  int64_t bias = loc.Written >= 0 ? static_cast<int64_t>(loc.Start) - loc.Written : 0;
  if (loc.Entries == 0) bias = 0;
  // An entry that is not one costs its 4 signature bytes, so no stated count
  // can make more iterations than that.
  const uint64_t entries = std::min<uint64_t>(loc.Entries, (image.size() - loc.Start) / 4 + 1);

  TCustomMemoryStream s(image.data(), image.size());
  s.SetPosition(static_cast<int64_t>(loc.Start));
  // Names and extra fields copied from local headers may not add up to more
  // than the image: distinct members never share header bytes, so more means
  // overlapping, hostile headers multiplying memory.
  int64_t headerBudget = static_cast<int64_t>(image.size());
  for (uint64_t i = 0; i < entries; ++i) {
    uint8_t sigBytes[4] = {};
    s.Read(sigBytes, 4);
    if (LoadLE32(sigBytes) != ZipCentralFileHeaderSignature) continue;
    TLocalFile& f = FFiles.Add();
    f.FCentralFileHeaderSignature = ZipCentralFileHeaderSignature;
    try {
      f.LoadCentralDirectoryFromStream(s);
    } catch (const EReadError&) {
      // The directory is cut off: keep the complete entries before it.
      FFiles.Delete(FFiles.Count() - 1);
      break;
    }
    int64_t saved = s.Position();
    int64_t local = static_cast<int64_t>(f.FCentralRelativeOffsetOfLocalHeader) + bias;
    if (HasSignature(image, local, ZipLocalFileHeaderSignature) &&
        static_cast<uint64_t>(local) + 4 + TCommonFileHeader::Size <= image.size()) {
      TCommonFileHeader peek = TCommonFileHeader::FromBytes(d + local + 4);
      int64_t cost = int64_t{peek.FilenameLength} + peek.ExtraFieldLength;
      if (cost > headerBudget) {
        s.SetPosition(saved);
        continue;
      }
      headerBudget -= cost;
      s.SetPosition(local + 4);
      try {
        f.LoadFile(s, FImage, image.data());
        f.FLocalFileHeaderSignature = ZipLocalFileHeaderSignature;
      } catch (const EReadError&) {
        // Header cut off: the member keeps its central fields only.
      }
    }
    s.SetPosition(saved);
  }
  BuildNameIndex();
}

void TZipArchive::ScanLocalHeaders(std::string_view Image) {
  constexpr std::string_view kLocal("PK\x03\x04", 4), kCentral("PK\x01\x02", 4), kDescriptor("PK\x07\x08", 4);
  constexpr size_t kDescriptorSize = 16;  // signature, CRC, two sizes
  const auto* d = reinterpret_cast<const uint8_t*>(Image.data());
  TCustomMemoryStream s(Image.data(), Image.size());
  for (size_t at = Image.find(kLocal); at != std::string_view::npos; at = Image.find(kLocal, at)) {
    if (at + 4 + TCommonFileHeader::Size > Image.size()) break;
    const TCommonFileHeader h = TCommonFileHeader::FromBytes(d + at + 4);
    const size_t data = at + 4 + TCommonFileHeader::Size + h.FilenameLength + h.ExtraFieldLength;
    if (data > Image.size()) break;
    TLocalFile& f = FFiles.Add();
    if ((h.GeneralPurposeBitFlag & ZipFlagDataDescriptor) && h.CompressedSize == 0) {
      // The sizes follow the data: in the descriptor whose compressed size
      // matches its place, else the data runs to the next header.
      size_t end = std::min({Image.find(kLocal, data), Image.find(kCentral, data), Image.size()});
      for (size_t q = Image.find(kDescriptor, data); q != std::string_view::npos && q < end;
           q = Image.find(kDescriptor, q + 1)) {
        if (q + kDescriptorSize <= Image.size() && LoadLE32(d + q + 8) == q - data) {
          f.FCentralCommonFileHeader.Crc32 = LoadLE32(d + q + 4);
          f.FCentralCommonFileHeader.UncompressedSize = LoadLE32(d + q + 12);
          end = q;
          break;
        }
      }
      f.FCentralCommonFileHeader.CompressedSize = static_cast<uint32_t>(std::min<size_t>(end - data, UINT32_MAX));
    }
    s.SetPosition(static_cast<int64_t>(at + 4));
    f.LoadFile(s, FImage, Image.data());
    f.FLocalFileHeaderSignature = ZipLocalFileHeaderSignature;
    at = std::max(static_cast<size_t>(s.Position()), at + 4);
  }
  FDirectoryRebuilt = FFiles.Count() > 0;
  BuildNameIndex();
}

void TZipArchive::BuildNameIndex() {
  FNameIndex.clear();
  FNameIndex.reserve(static_cast<size_t>(FFiles.Count()));
  for (int i = 0; i < FFiles.Count(); ++i) {
    const TLocalFile& f = FFiles.GetLocalFile(i);
    const RawByteString& name = f.FileName();
    if (name.empty()) continue;
    FNameIndex.emplace(LowerAscii(name), i);  // the first of equal names wins
    // A name not flagged as UTF-8 is in the format's own code page, 437,
    // or (as some writers have it) in the system's; the parts that refer
    // to the member spell it in UTF-8.
    const bool utf8 = ((f.CommonFileHeader().GeneralPurposeBitFlag | f.CentralCommonFileHeader().GeneralPurposeBitFlag) &
                       ZipFlagUtf8Name) != 0;
    if (utf8 || IsValidUtf8(name)) continue;
    for (const uint32_t page : {uint32_t{437}, GetACP()})
      FNameIndex.emplace(LowerAscii(WideToUtf8(MultiByteToWide(page, name))), i);
  }
}

void TZipArchive::GetFileNames(std::vector<RawByteString>& lstFiles) const {
  for (int i = 0; i < FFiles.Count(); ++i) lstFiles.push_back(FFiles.GetLocalFile(i).FileName());
}

void TZipArchive::GetFileNames(TWideStrings& lstFiles) const {
  for (int i = 0; i < FFiles.Count(); ++i) lstFiles.Add(FFiles.GetLocalFile(i).DisplayName());
}

int TZipArchive::GetIndexByFileName(std::string_view AFileName) const {
  if (AFileName.empty()) return -1;
  auto it = FNameIndex.find(LowerAscii(AFileName));
  return it == FNameIndex.end() ? -1 : it->second;
}

int TZipArchive::GetIndexByFileName(const WideString& AFileName) const {
  int i = GetIndexByFileName(WideToUtf8(AFileName));
  if (i >= 0) return i;
  bool ascii = std::all_of(AFileName.begin(), AFileName.end(), [](char16_t c) { return c < 0x80; });
  return ascii ? -1 : GetIndexByFileName(WideToMultiByte(GetACP(), AFileName));
}

namespace {

// A raw deflate stream (no zlib header), ended with its owner.
struct TRawInflater {
  z_stream zs{};
  TRawInflater() {
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) throw EOutOfMemory("Out of memory");
  }
  ~TRawInflater() { inflateEnd(&zs); }
  TRawInflater(const TRawInflater&) = delete;
  TRawInflater& operator=(const TRawInflater&) = delete;
};

}  // namespace

RawByteString InflateRawData(std::string_view Data, int64_t MaxSize, const std::string& Name) {
  TRawInflater inf;
  z_stream& zs = inf.zs;
  RawByteString out;
  size_t produced = 0;
  size_t fed = 0;
  int ret = Z_OK;
  while (ret != Z_STREAM_END) {
    if (zs.avail_in == 0 && fed < Data.size()) {
      const size_t n = std::min<size_t>(Data.size() - fed, 1u << 30);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data() + fed));
      zs.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    if (static_cast<int64_t>(produced) >= MaxSize)
      throw ELimitError(Format("Member \"%s\" inflates to more than the limit of %d bytes.",
                               {Name, std::to_string(MaxSize)}));
    const size_t room = static_cast<size_t>(std::min<int64_t>(
        MaxSize, static_cast<int64_t>(std::max<size_t>({out.size() * 2, Data.size() * 4, 64 * 1024}))));
    out.resize(room);
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(room - produced);
    ret = inflate(&zs, Z_NO_FLUSH);
    produced = room - zs.avail_out;
    if (ret == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
    if (ret == Z_BUF_ERROR && zs.avail_in == 0 && fed == Data.size()) ret = Z_DATA_ERROR;  // cut short
    if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
      std::string why = zs.msg ? zs.msg : "invalid deflate data";
      throw EZipFileError(TZipErrorKind::zeCorruptData, Format("Corrupt compressed data in \"%s\" (%s).", {Name, why}));
    }
  }
  out.resize(produced);
  return out;
}

RawByteString TZipArchive::GetUncompressed(int Index) const {
  if (Index < 0 || Index >= FFiles.Count()) throw Exception("Index out of range.");
  const TLocalFile& f = FFiles.GetLocalFile(Index);
  const TCommonFileHeader& h = f.ExtractionHeader();
  const std::string& name = f.ExtractionName();
  const uint32_t declared = f.DeclaredSize();
  std::string_view data = f.CompressedData();
  if (declared == 0 && data.empty()) return {};
  f.CheckExtractable();
  if (static_cast<int64_t>(declared) > FMaxMemberSize)
    throw ELimitError(Format("Member \"%s\" declares %d bytes, more than the limit of %d.",
                             {name, std::to_string(declared), std::to_string(FMaxMemberSize)}));

  RawByteString out;
  bool sizeMismatch = false;
  if (h.CompressionMethod == ZipMethodStored) {
    out.assign(data);
    sizeMismatch = out.size() != declared;
  } else if (declared > data.size() * kMaxDeflateRatio + kDeflateSlack) {
    sizeMismatch = true;  // cannot inflate to the declared size: a short result
  } else {
    TRawInflater inf;
    z_stream& zs = inf.zs;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());  // sizes are 32-bit
    // Inflate straight into the result, which starts at a size typical for
    // the data and doubles up to the declared size, so damaged data that
    // stops early never makes the whole declared size be used. The declared
    // size (plausible for the data, checked above) is reserved, not touched:
    // growing within it copies nothing and keeps no second buffer.
    out.reserve(declared);
    size_t produced = 0;
    int ret = Z_OK;
    while (produced < declared) {
      size_t room = std::min<size_t>(declared, std::max<size_t>({out.size() * 2, data.size() * 4, 64 * 1024}));
      out.resize(room);
      zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
      zs.avail_out = static_cast<uInt>(room - produced);
      while (zs.avail_out > 0) {
        ret = inflate(&zs, Z_NO_FLUSH);
        if (ret != Z_OK) break;
      }
      produced = room - zs.avail_out;
      if (ret != Z_OK) break;
    }
    if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
      if (ret == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
      std::string why = zs.msg ? zs.msg : "invalid deflate data";
      throw EZipFileError(TZipErrorKind::zeCorruptData, Format("Corrupt compressed data in \"%s\" (%s).", {name, why}));
    }
    if (produced < declared) {
      sizeMismatch = true;  // ended or ran out of input early
    } else if (ret != Z_STREAM_END) {
      // Full: one more byte means the member holds more than it declares.
      // Trouble past the declared size is not an error in itself.
      unsigned char probe;
      zs.next_out = &probe;
      zs.avail_out = 1;
      inflate(&zs, Z_NO_FLUSH);
      sizeMismatch = zs.avail_out == 0;
    }
  }
  uint32_t crc = sizeMismatch ? 0 : ZipCRC32(out);
  if (sizeMismatch || !f.CrcMatches(crc))
    throw EZipFileCRCError(Format("CRC Error in \"%s\".", {name}));
  return out;
}

WideString TZipArchive::DecompressFileName(const WideString& AFileName) const {
  int i = GetIndexByFileName(AFileName);
  if (i < 0) return {};
  return MultiByteToWide(GetACP(), GetUncompressed(i));
}

}  // namespace lkw
