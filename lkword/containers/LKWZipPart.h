// The uncompressed bytes of one zip member, delivered as a window that the
// reader advances, so that a large member is inflated piece by piece and
// never held whole (the package readers' parts).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Types.h"

struct z_stream_s;

namespace lkw {

class TPartSource {
 public:
  // Member Index of Zip, Piece bytes at a time. Raises what extraction
  // would: EZipFileError for an encrypted member or an unsupported method,
  // ELimitError when it declares more than Limit bytes, EZipFileCRCError
  // for a stored member that fails its check.
  TPartSource(const TZipArchive& Zip, int Index, int64_t Limit, size_t Piece);
  // Bytes in memory (not copied; they must outlive the source).
  TPartSource(std::string_view Bytes, size_t Piece);
  ~TPartSource();
  TPartSource(const TPartSource&) = delete;
  TPartSource& operator=(const TPartSource&) = delete;

  // The bytes at hand (empty until the first More).
  std::string_view Data() const { return FWindow; }
  size_t Piece() const { return FPiece; }
  // Drops the first Keep bytes of the window and adds at least MinMore
  // bytes, fewer only at the end of the part; false when none were added.
  bool More(size_t Keep, size_t MinMore);
  // Inflates what is left and checks the size and CRC (EZipFileCRCError,
  // or EZipFileError for corrupt data).
  void Finish();
  // The whole part at once, checked, for readers that need it so.
  RawByteString All() const;
  // Bytes produced so far.
  int64_t Produced() const { return FProduced; }

 private:
  void Inflate(size_t MinMore);
  [[noreturn]] void Fail() const;

  const TZipArchive* FZip = nullptr;
  int FIndex = -1;
  const TLocalFile* FFile = nullptr;
  std::string FName;
  std::string_view FInput;  // stored bytes, or the deflated stream
  bool FDeflated = false;
  size_t FPiece;
  size_t FStart = 0, FEnd = 0;  // the window over stored bytes
  uint32_t FDeclared = 0;
  uint32_t FCrc = 0;
  int64_t FProduced = 0;
  bool FEnded = false;
  std::unique_ptr<z_stream_s> FZ;
  std::string FBuffer;        // the inflated window
  std::string_view FWindow;   // Data()
};

}  // namespace lkw
