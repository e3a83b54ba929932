#include "lkword/containers/LKWZipPart.h"

#include <algorithm>

#include "lkword/platform/Exceptions.h"

#include <zlib.h>

namespace lkw {

TPartSource::TPartSource(const TZipArchive& Zip, int Index, int64_t Limit, size_t Piece)
    : FZip(&Zip), FIndex(Index), FFile(&Zip.Files()[Index]), FPiece(std::max<size_t>(Piece, 1)) {
  // The zip reader's extraction rules, applied piece by piece.
  const TLocalFile& f = *FFile;
  FName = f.ExtractionName();
  FDeclared = f.DeclaredSize();
  FInput = f.CompressedData();
  if (FDeclared == 0 && FInput.empty()) {
    FEnded = true;
    return;
  }
  f.CheckExtractable();
  if (static_cast<int64_t>(FDeclared) > Limit)
    throw ELimitError("The document decompresses to more than the allowed size");
  if (f.ExtractionHeader().CompressionMethod == ZipMethodStored) {
    FProduced = static_cast<int64_t>(FInput.size());
    FCrc = ZipCRC32(FInput);
    FEnded = true;
    if (FInput.size() != FDeclared || !FFile->CrcMatches(FCrc)) Fail();
    return;
  }
  FDeflated = true;
  FZ = std::make_unique<z_stream>();
  if (inflateInit2(FZ.get(), -MAX_WBITS) != Z_OK) {
    FZ.reset();
    throw EOutOfMemory("Out of memory");
  }
  FZ->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(FInput.data()));
  FZ->avail_in = static_cast<uInt>(FInput.size());  // sizes are 32-bit
}

TPartSource::TPartSource(std::string_view Bytes, size_t Piece)
    : FInput(Bytes), FPiece(std::max<size_t>(Piece, 1)), FEnded(true) {
  FProduced = static_cast<int64_t>(Bytes.size());
}

TPartSource::~TPartSource() {
  if (FZ) inflateEnd(FZ.get());
}

void TPartSource::Fail() const { throw EZipFileCRCError(Format("CRC Error in \"%s\".", {FName})); }

bool TPartSource::More(size_t Keep, size_t MinMore) {
  if (!FDeflated) {
    // Stored bytes are all in memory: the window only moves over them.
    FStart = std::min(FStart + Keep, FEnd);
    const size_t end = std::min(FInput.size(), FEnd + std::max(MinMore, FPiece));
    const bool added = end > FEnd;
    FEnd = end;
    FWindow = FInput.substr(FStart, FEnd - FStart);
    return added;
  }
  if (FEnded) return false;
  FBuffer.erase(0, std::min(Keep, FBuffer.size()));
  const size_t before = FBuffer.size();
  Inflate(MinMore);
  FWindow = FBuffer;
  return FBuffer.size() > before;
}

void TPartSource::Inflate(size_t MinMore) {
  const size_t want = std::max(MinMore, FPiece);
  size_t added = 0;
  while (!FEnded && added < want) {
    const size_t old = FBuffer.size();
    const size_t room = want - added;
    FBuffer.resize(old + room);
    FZ->next_out = reinterpret_cast<Bytef*>(FBuffer.data() + old);
    FZ->avail_out = static_cast<uInt>(room);
    const int ret = inflate(FZ.get(), Z_NO_FLUSH);
    const size_t got = room - FZ->avail_out;
    FBuffer.resize(old + got);
    FCrc = ZipCRC32(std::string_view(FBuffer.data() + old, got), FCrc);
    FProduced += static_cast<int64_t>(got);
    added += got;
    if (FProduced > FDeclared) Fail();  // more than the member declares
    if (ret == Z_STREAM_END || ret == Z_BUF_ERROR) {
      FEnded = true;  // the end, or the data ran out (a short member)
    } else if (ret != Z_OK) {
      if (ret == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
      throw EZipFileError(TZipErrorKind::zeCorruptData,
                          Format("Corrupt compressed data in \"%s\" (%s).",
                                 {FName, FZ->msg ? std::string(FZ->msg) : std::string("invalid deflate data")}));
    }
  }
}

void TPartSource::Finish() {
  if (!FZip) return;
  while (!FEnded) {
    FBuffer.clear();
    FWindow = {};
    Inflate(FPiece);
  }
  if (FProduced != FDeclared || !FFile->CrcMatches(FCrc)) Fail();
}

RawByteString TPartSource::All() const { return FZip ? FZip->GetUncompressed(FIndex) : RawByteString(FInput); }

}  // namespace lkw
