// Read-only zip archive reader for document packages (Word 2007, OpenDocument,
// EPUB). One archive on one disk; members stored (method 0) or deflated
// (method 8); sizes and offsets marked as zip64 are taken from the zip64
// fields when they fit in 32 bits.
//
// Usage by a reader:
//   TZipArchive zip;
//   zip.LoadFromStream(stream);                  // never raises for non-zips
//   int i = zip.GetIndexByFileName("word/document.xml");
//   if (i >= 0) xml.LoadFromBytes(zip.GetUncompressed(i));
//
// Loading copies the archive into memory once; members refer to that image,
// so the stream may be closed afterwards. Each extraction inflates again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TWideStrings;

constexpr uint32_t ZipLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t ZipCentralFileHeaderSignature = 0x02014B50;
constexpr uint32_t ZipDataDescriptorSignature = 0x08074B50;
constexpr uint32_t ZipEndOfCentralDirSignature = 0x06054B50;

constexpr uint16_t ZipMethodStored = 0;
constexpr uint16_t ZipMethodDeflated = 8;
constexpr uint16_t ZipFlagEncrypted = 0x0001;
constexpr uint16_t ZipFlagDataDescriptor = 0x0008;
constexpr uint16_t ZipFlagUtf8Name = 0x0800;

// What a reader says of an archive whose members a scan had to find.
inline constexpr const char* SZipDirectoryRebuilt =
    "the zip directory is missing (the file was cut short?): members were found by their own headers";

// Default cap on one member's uncompressed size.
constexpr int64_t ZipDefaultMaxMemberSize = int64_t{512} << 20;

// The part shared by the local header and the central directory entry
// (26 bytes on disk, little-endian).
struct TCommonFileHeader {
  static constexpr int Size = 26;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint32_t LastModFileTimeDate = 0;  // DOS time in the low word, date in the high word
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FilenameLength = 0;
  uint16_t ExtraFieldLength = 0;

  // Decodes the 26 on-disk bytes at P.
  static TCommonFileHeader FromBytes(const uint8_t* P);
};

// End-of-central-directory record (22 bytes on disk, comment excluded).
struct TEndOfCentralDir {
  static constexpr int Size = 22;
  uint32_t EndOfCentralDirSignature = 0;
  uint16_t NumberOfThisDisk = 0;
  uint16_t NumberOfTheDiskWithTheStart = 0;
  uint16_t TotalNumberOfEntriesOnThisDisk = 0;
  uint16_t TotalNumberOfEntries = 0;
  uint32_t SizeOfTheCentralDirectory = 0;
  uint32_t OffsetOfStartOfCentralDirectory = 0;
  uint16_t ZipfileCommentLength = 0;

  static TEndOfCentralDir FromBytes(const uint8_t* P);
};

// A central directory entry as one record. The loader keeps these fields in
// TLocalFile instead; the record is here for callers that want it whole.
struct TFileHeader {
  uint32_t CentralFileHeaderSignature = 0;
  uint16_t VersionMadeBy = 0;
  TCommonFileHeader CommonFileHeader;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  uint32_t RelativeOffsetOfLocalHeader = 0;
  RawByteString FileName;
  RawByteString ExtraField;
  RawByteString FileComment;
};

// Why extraction of a member was refused (other than a CRC mismatch).
enum class TZipErrorKind { zeEncrypted, zeUnsupportedMethod, zeCorruptData };

// A member that cannot be extracted; the message names the member. To the
// readers that is a damaged package: none of their formats encrypts or
// packs members in ways other than the ones read here.
class EZipFileError : public ECorruptError {
 public:
  EZipFileError(TZipErrorKind AKind, const std::string& Msg) : ECorruptError(Msg), FKind(AKind) {}
  TZipErrorKind Kind() const { return FKind; }

 private:
  TZipErrorKind FKind;
};

// CRC-32 of the zip format (reflected, polynomial 0xEDB88320); chain calls by
// passing the previous result. The CRC of no bytes is 0.
uint32_t ZipCRC32(std::string_view Data, uint32_t Crc = 0);

// Inflates raw deflate data (no zlib header) that is not a member of an
// archive, such as a decrypted package member. Raises EZipFileError
// (corrupt data, Name in the message) or ELimitError past MaxSize bytes.
RawByteString InflateRawData(std::string_view Data, int64_t MaxSize, const std::string& Name);

class TLocalFiles;
class TZipArchive;

// One archive member: its local header and its central directory entry.
class TLocalFile : public TPersistent {
 public:
  explicit TLocalFile(TLocalFiles* ACollection = nullptr) : FCollection(ACollection) {}

  // Called with the stream just past a central entry's signature. Raises
  // EReadError when the entry is cut off.
  void LoadCentralDirectoryFromStream(TStream& AStream);
  // Called with the stream just past a local header's signature. The data
  // size is the local CompressedSize, or the central one when the local size
  // is 0 (data descriptor); data beyond the end of the stream is cut off.
  // When the member belongs to a loading archive, the stream must read that
  // archive's memory image, and the data is referenced rather than copied.
  void LoadFileFromStream(TStream& AStream);

  void Assign(const TPersistent& Source) override;
  std::string ClassName() const override { return "TLocalFile"; }

  uint32_t LocalFileHeaderSignature() const { return FLocalFileHeaderSignature; }
  const TCommonFileHeader& CommonFileHeader() const { return FCommonFileHeader; }
  // The local header's name, bytes as stored (UTF-8 in every modern package).
  const RawByteString& FileName() const { return FFileName; }
  const RawByteString& ExtraField() const { return FExtraField; }
  // The member's raw (stored or deflated) bytes; valid while the member lives.
  std::string_view CompressedData() const;
  uint32_t CentralFileHeaderSignature() const { return FCentralFileHeaderSignature; }
  uint16_t CentralVersionMadeBy() const { return FCentralVersionMadeBy; }
  const TCommonFileHeader& CentralCommonFileHeader() const { return FCentralCommonFileHeader; }
  uint16_t CentralFileCommentLength() const { return FCentralFileCommentLength; }
  uint16_t CentralDiskNumberStart() const { return FCentralDiskNumberStart; }
  uint16_t CentralInternalFileAttributes() const { return FCentralInternalFileAttributes; }
  uint32_t CentralExternalFileAttributes() const { return FCentralExternalFileAttributes; }
  uint32_t CentralRelativeOffsetOfLocalHeader() const { return FCentralRelativeOffsetOfLocalHeader; }
  const RawByteString& CentralFileName() const { return FCentralFileName; }
  const RawByteString& CentralExtraField() const { return FCentralExtraField; }
  const RawByteString& CentralFileComment() const { return FCentralFileComment; }
  bool HeaderRead() const { return FHeaderRead; }

  // What extraction goes by: the local header and name when the header was
  // read, else the central entry's; the uncompressed size is the local one
  // unless that is 0 (sizes in a data descriptor), then the central one.
  const TCommonFileHeader& ExtractionHeader() const { return FHeaderRead ? FCommonFileHeader : FCentralCommonFileHeader; }
  const RawByteString& ExtractionName() const { return FHeaderRead ? FFileName : FCentralFileName; }
  uint32_t DeclaredSize() const;
  // Raises EZipFileError for an encrypted member or one whose compression
  // method is neither stored nor deflated.
  void CheckExtractable() const;
  // Whether extracted bytes with this CRC are intact: either header's CRC
  // counts (writers differ in which one they fill).
  bool CrcMatches(uint32_t Crc) const { return Crc == FCommonFileHeader.Crc32 || Crc == FCentralCommonFileHeader.Crc32; }

  // The name decoded for display: UTF-8 when the entry says so (flag bit 11)
  // or when the bytes are valid UTF-8, otherwise the ANSI code page.
  WideString DisplayName() const;

 private:
  friend class TZipArchive;
  // Image: the memory the stream reads, kept alive by Owner, to reference
  // instead of copying.
  void LoadFile(TStream& AStream, const std::shared_ptr<const void>& Owner, const char* Image);

  TLocalFiles* FCollection = nullptr;
  uint32_t FLocalFileHeaderSignature = 0;
  TCommonFileHeader FCommonFileHeader;
  RawByteString FFileName;
  RawByteString FExtraField;
  // The compressed data is a slice of a shared image (the archive's, or a
  // private copy when loaded from a foreign stream), which FStore keeps.
  std::shared_ptr<const void> FStore;
  const char* FData = nullptr;
  size_t FDataOffset = 0;
  size_t FDataSize = 0;
  uint32_t FCentralFileHeaderSignature = 0;
  uint16_t FCentralVersionMadeBy = 0;
  TCommonFileHeader FCentralCommonFileHeader;
  uint16_t FCentralFileCommentLength = 0;
  uint16_t FCentralDiskNumberStart = 0;
  uint16_t FCentralInternalFileAttributes = 0;
  uint32_t FCentralExternalFileAttributes = 0;
  uint32_t FCentralRelativeOffsetOfLocalHeader = 0;
  RawByteString FCentralFileName;
  RawByteString FCentralExtraField;
  RawByteString FCentralFileComment;
  bool FHeaderRead = false;
};

// The members of an archive, in central directory order.
class TLocalFiles : public TPersistent {
 public:
  explicit TLocalFiles(TComponent* ACntrl = nullptr) : FControl(ACntrl) {}

  TLocalFile& Add();
  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises EListError for an index out of range.
  TLocalFile& GetLocalFile(int Index) const;
  void SetLocalFile(int Index, const TLocalFile& Value) { GetLocalFile(Index).Assign(Value); }
  TLocalFile& Items(int Index) const { return GetLocalFile(Index); }
  TLocalFile& operator[](int Index) const { return GetLocalFile(Index); }
  void Delete(int Index);
  void Clear() { FItems.clear(); }

  TComponent* GetOwner() const { return FControl; }
  TComponent* OwnerControl() const { return FControl; }
  std::string ClassName() const override { return "TLocalFiles"; }

 private:
  TComponent* FControl;
  std::vector<std::unique_ptr<TLocalFile>> FItems;
};

class TZipArchive : public TComponent {
 public:
  explicit TZipArchive(TComponent* AOwner = nullptr);
  ~TZipArchive() override;

  // Opens the file read-only and loads it (EFOpenError when it cannot).
  void LoadFromFile(const std::string& FileName);
  // Reads the directory from the stream's current position to its end.
  // Input that holds no end record gives the members whose local headers a
  // scan finds (DirectoryRebuilt() then says so), or an empty archive, not
  // an error; a damaged directory keeps the entries read before the damage.
  void LoadFromStream(TStream& ZipFileStream);
  // The last load found no directory (an archive cut short loses it first)
  // and listed the members by their local headers: members the directory
  // named but whose data was cut off are not there.
  bool DirectoryRebuilt() const { return FDirectoryRebuilt; }

  int GetCount() const { return FFiles.Count(); }
  int Count() const { return GetCount(); }

  // Appends every member's name in directory order (the list is not cleared).
  void GetFileNames(std::vector<RawByteString>& lstFiles) const;
  void GetFileNames(TWideStrings& lstFiles) const;
  // Index of the first member whose name equals AFileName ignoring the case
  // of A-Z (bytes compared otherwise as they are; '/' and '\' differ); -1 when
  // none. The wide overload looks the name up as UTF-8, then in the ANSI code
  // page.
  int GetIndexByFileName(std::string_view AFileName) const;
  int GetIndexByFileName(const WideString& AFileName) const;
  // The member's uncompressed bytes. Raises Exception "Index out of range.",
  // EZipFileError (encrypted, unsupported method, corrupt deflate data),
  // ELimitError (larger than MaxMemberSize) or EZipFileCRCError (the bytes
  // do not match the stored CRC, including a member that inflates to more or
  // fewer bytes than its declared size).
  RawByteString GetUncompressed(int Index) const;
  RawByteString Uncompressed(int Index) const { return GetUncompressed(Index); }
  // The named member's bytes widened one byte each through the ANSI code
  // page; empty when there is no such member. Prefer GetUncompressed.
  WideString DecompressFileName(const WideString& AFileName) const;

  const TLocalFiles& Files() const { return FFiles; }
  TLocalFiles& Files() { return FFiles; }
  const TEndOfCentralDir& EndOfCentralDirectory() const { return FEndOfCentralDirectory; }
  // The archive comment, bytes as stored.
  const RawByteString& ZipFileComment() const { return FZipFileComment; }

  // Largest uncompressed size a member may declare before extraction refuses
  // it with ELimitError; default 512 MiB.
  int64_t MaxMemberSize() const { return FMaxMemberSize; }
  void SetMaxMemberSize(int64_t Value) { FMaxMemberSize = Value; }

  std::string ClassName() const override { return "TZipArchive"; }

 private:
  void BuildNameIndex();
  void ScanLocalHeaders(std::string_view Image);

  TLocalFiles FFiles;
  bool FDirectoryRebuilt = false;
  TEndOfCentralDir FEndOfCentralDirectory;
  RawByteString FZipFileComment;
  int64_t FMaxMemberSize = ZipDefaultMaxMemberSize;
  // The archive's bytes, and what keeps them (a copy, or the mapping of a
  // file read through an owning memory stream).
  std::shared_ptr<const void> FImage;
  std::string_view FImageBytes;
  // First index per name folded to lower case (A-Z only).
  std::unordered_map<std::string, int> FNameIndex;
};

}  // namespace lkw
