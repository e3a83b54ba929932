// Read-only access to compound files (the structured-storage container of
// Word 97-2003 documents and others): versions 3 and 4 (512- and 4096-byte
// sectors), FAT, DIFAT with continuation sectors, mini FAT and mini stream.
//
// The whole container is parsed when it is opened, as far as it can be: a
// damaged one (cut short, a FAT that misses sectors, chains that loop or
// leave the file, a short directory) opens with what survives, and Damage()
// says what did not. Only a file without a header, a FAT or a root entry
// raises EOleError. A stream's sector chain is followed when the stream is
// opened; loops and sectors outside the file or the FAT end it there.
// Storages and streams keep the container alive, so they may outlive the
// storage they were opened from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

// Element kinds as the structured-storage services report them.
constexpr int STGTY_STORAGE = 1;
constexpr int STGTY_STREAM = 2;

// One direct element of a storage.
struct TStatStg {
  WideString Name;   // UTF-16 element name
  int Type = 0;      // STGTY_STORAGE or STGTY_STREAM
  uint64_t Size = 0; // stream size in bytes (0 for storages)
};

class TCompoundFile;

// A storage (the root or a sub-storage) of an open compound file.
class TOleStorage : public TObject {
 public:
  TOleStorage(std::shared_ptr<const TCompoundFile> File, uint32_t Entry);

  // Direct children, in the order of the container's directory tree.
  std::vector<TStatStg> EnumElements() const;
  // The child storage / stream of that name (compared ignoring case, as the
  // structured-storage services do); nullptr when there is none. A stream
  // whose sector chain is broken raises EOleError, unless Lost is given:
  // then the stream holds the bytes up to the break and Lost says what is
  // missing (it is empty for a whole stream).
  std::unique_ptr<TOleStorage> OpenStorage(const WideString& Name) const;
  std::unique_ptr<TStream> OpenStream(const WideString& Name, std::string* Lost = nullptr) const;
  // What the container's damage left out, one line each; empty when it is
  // sound. Shared by all storages of the file.
  const std::vector<std::string>& Damage() const;
  // Whether the file ends before sectors its directory or streams need:
  // content is lost, though perhaps none a reader asks for.
  bool CutShort() const;

  std::string ClassName() const override { return "TOleStorage"; }

 private:
  // Directory index of the child of that name and kind, or -1.
  int64_t FindChild(const WideString& Name, int Type) const;

  std::shared_ptr<const TCompoundFile> FFile;
  uint32_t FEntry;
};

// True when the file starts with the compound-file signature and a header
// that can be opened. Any error (missing file, short file) answers false.
bool StgIsStorageFile(const std::string& FileName);
// True when Data starts with the compound-file signature.
bool IsCompoundFileData(const void* Data, size_t Size);

// The root storage of a compound file; EOleError when it is not one or is
// damaged past reading, EFOpenError when the file cannot be read.
std::unique_ptr<TOleStorage> StgOpenStorage(const std::string& FileName);
// The root storage of a compound file held in memory (the bytes are taken
// over); EOleError when they are not a compound file or are damaged past
// reading.
std::unique_ptr<TOleStorage> StgOpenStorageOnMemory(RawByteString Bytes);
// The root storage of the compound file Stream holds from its position to its
// end. A file stream at its start is mapped rather than copied.
std::unique_ptr<TOleStorage> StgOpenStorageOnStream(TStream& Stream);

}  // namespace lkw
