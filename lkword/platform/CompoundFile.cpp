#include "lkword/platform/CompoundFile.h"

#include <algorithm>
#include <cstring>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr uint32_t MAXREGSECT = 0xFFFFFFFA;
constexpr uint32_t ENDOFCHAIN = 0xFFFFFFFE;
constexpr uint32_t NOSTREAM = 0xFFFFFFFF;
constexpr uint32_t FREESECT = 0xFFFFFFFF;

constexpr size_t kHeaderSize = 512;
constexpr size_t kDirEntrySize = 128;
constexpr size_t kHeaderDifatCount = 109;

constexpr uint8_t kTypeEmpty = 0;
constexpr uint8_t kTypeStorage = 1;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;

[[noreturn]] void Fail(const std::string& What) { throw EOleError("Compound file is damaged: " + What); }

std::string Num(uint64_t V) { return std::to_string(V); }

}  // namespace

// ---------------------------------------------------------------------------
// The parsed container. Immutable once built, shared by storages and streams.

class TCompoundFile {
 public:
  struct TDirEntry {
    WideString Name;
    uint8_t Type = kTypeEmpty;
    uint32_t Left = NOSTREAM, Right = NOSTREAM, Child = NOSTREAM;
    uint32_t Start = ENDOFCHAIN;
    uint64_t Size = 0;
  };

  // The container's bytes: Size bytes at Data, kept alive by Owner.
  TCompoundFile(std::shared_ptr<const void> Owner, const uint8_t* Data, size_t Size);

  const TDirEntry& Entry(uint32_t Index) const { return FDir[Index]; }
  const std::vector<uint32_t>& Children(uint32_t Index) const { return FChildren[Index]; }
  // File offsets of the units (sectors or mini sectors) that hold a stream,
  // the unit size and how many of the stream's bytes they hold. Where the
  // chain breaks the units stop there and Lost says why (else it is empty).
  void StreamUnits(uint32_t Index, std::vector<uint64_t>& Offsets, uint32_t& UnitSize, uint64_t& Readable,
                   std::string& Lost, bool* PastEnd = nullptr) const;
  const uint8_t* Data() const { return FData; }
  const std::vector<std::string>& Damage() const { return FDamage; }
  bool CutShort() const { return FCutShort; }

 private:
  uint64_t SectorOffset(uint32_t Sector) const { return (uint64_t{Sector} + 1) << FSectorShift; }
  // Whether Bytes bytes of the sector lie inside the file.
  bool SectorInFile(uint32_t Sector, uint64_t Bytes) const {
    return Sector <= MAXREGSECT && SectorOffset(Sector) + Bytes <= FSize;
  }
  // Follows a FAT chain from Start; at most Limit sectors are taken (0: the
  // whole chain). A loop, a sector outside the FAT or (with a Limit) an end
  // before it stops the chain there, and Broken says which.
  std::vector<uint32_t> Chain(uint32_t Start, uint64_t Limit, const std::string& What, std::string& Broken) const;
  // Damage found while opening: what could not be read is left out.
  void Note(const std::string& What);
  void ReadFat(const uint8_t* Header);
  void ReadDirectory(uint32_t FirstSector);
  void ReadMiniFat(uint32_t FirstSector);
  void BuildTree();

  std::shared_ptr<const void> FOwner;
  const uint8_t* FData;
  size_t FSize;
  uint32_t FSectorShift = 9;
  uint32_t FSectorSize = 512;
  uint32_t FMiniSectorShift = 6;
  uint32_t FMiniCutoff = 4096;
  uint16_t FMajorVersion = 3;
  std::vector<uint32_t> FFat;
  std::vector<uint32_t> FMiniFat;
  std::vector<TDirEntry> FDir;
  std::vector<std::vector<uint32_t>> FChildren;
  std::vector<uint64_t> FMiniStreamSectors;  // file offsets of the mini stream's sectors
  uint64_t FMiniStreamSize = 0;
  std::vector<std::string> FDamage;
  // Sectors the chains reach lie past the end of the file.
  bool FCutShort = false;
};

TCompoundFile::TCompoundFile(std::shared_ptr<const void> Owner, const uint8_t* Bytes, size_t Size)
    : FOwner(std::move(Owner)), FData(Bytes), FSize(Size) {
  if (!IsCompoundFileData(FData, FSize)) throw EOleError("Not a compound file");
  if (FSize < kHeaderSize) Fail("the header is truncated");
  const uint8_t* h = Data();
  FMajorVersion = LoadLE16(h + 26);
  if (LoadLE16(h + 28) != 0xFFFE) Fail("unknown byte order mark");
  FSectorShift = LoadLE16(h + 30);
  if (FSectorShift != 9 && FSectorShift != 12) Fail("unsupported sector size 2^" + Num(FSectorShift));
  FSectorSize = 1u << FSectorShift;
  FMiniSectorShift = LoadLE16(h + 32);
  if (FMiniSectorShift != 6) Fail("unsupported mini sector size 2^" + Num(FMiniSectorShift));
  FMiniCutoff = LoadLE32(h + 56);

  ReadFat(h);
  ReadDirectory(LoadLE32(h + 48));
  ReadMiniFat(LoadLE32(h + 60));
  BuildTree();

  // The mini stream is the root entry's data; keep where its sectors are.
  const TDirEntry& root = FDir[0];
  if (root.Size > 0 && root.Start != ENDOFCHAIN) {
    uint64_t want = (root.Size + FSectorSize - 1) >> FSectorShift;
    std::string broken;
    std::vector<uint32_t> chain = Chain(root.Start, want, "the mini stream", broken);
    FMiniStreamSectors.reserve(chain.size());
    for (uint32_t s : chain) {
      if (!SectorInFile(s, FSectorSize)) {
        if (broken.empty()) broken = "mini stream sector " + Num(s) + " lies outside the file";
        FCutShort = true;
        break;
      }
      FMiniStreamSectors.push_back(SectorOffset(s));
    }
    if (!broken.empty()) Note(broken);
    FMiniStreamSize = std::min<uint64_t>(root.Size, uint64_t{FMiniStreamSectors.size()} << FSectorShift);
  }

  // The streams of the tree whose sectors the file does not reach, which
  // lose content even where no reader asks for them.
  std::vector<uint64_t> units;
  uint32_t unitSize = 0;
  uint64_t readable = 0;
  std::string lost;
  for (const auto& kids : FChildren)
    for (uint32_t k : kids) {
      if (FDir[k].Type != kTypeStream) continue;
      bool pastEnd = false;
      StreamUnits(k, units, unitSize, readable, lost, &pastEnd);
      if (lost.empty()) continue;
      FCutShort = FCutShort || pastEnd;
      Note(lost);
    }
}

void TCompoundFile::Note(const std::string& What) {
  constexpr size_t kMaxNotes = 20;
  if (FDamage.size() < kMaxNotes && std::find(FDamage.begin(), FDamage.end(), What) == FDamage.end())
    FDamage.push_back(What);
}

void TCompoundFile::ReadFat(const uint8_t* Header) {
  uint32_t numFat = LoadLE32(Header + 44);
  // Every FAT sector is a sector of the file, so the count is bounded by it.
  uint64_t fileSectors = FSize >> FSectorShift;
  if (numFat > fileSectors) {
    Note("the header claims " + Num(numFat) + " FAT sectors, the file holds " + Num(fileSectors));
    numFat = static_cast<uint32_t>(fileSectors);
  }

  std::vector<uint32_t> fatSectors;
  fatSectors.reserve(numFat);
  for (size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < numFat; ++i) {
    uint32_t s = LoadLE32(Header + 76 + 4 * i);
    if (s > MAXREGSECT) break;
    fatSectors.push_back(s);
  }
  // DIFAT continuation sectors: all entries but the last list FAT sectors, the
  // last links to the next DIFAT sector.
  uint32_t next = LoadLE32(Header + 68);
  std::vector<bool> seen(fileSectors + 1, false);
  const uint32_t perSector = FSectorSize / 4 - 1;
  while (fatSectors.size() < numFat && next <= MAXREGSECT) {
    if (next >= seen.size() || seen[next] || !SectorInFile(next, FSectorSize)) {
      Note(next < seen.size() && seen[next] ? "the DIFAT chain loops" : "DIFAT sector " + Num(next) + " lies outside the file");
      break;
    }
    seen[next] = true;
    const uint8_t* p = Data() + SectorOffset(next);
    for (uint32_t i = 0; i < perSector && fatSectors.size() < numFat; ++i) {
      uint32_t s = LoadLE32(p + 4 * i);
      if (s > MAXREGSECT) continue;
      fatSectors.push_back(s);
    }
    next = LoadLE32(p + 4 * perSector);
  }

  // A FAT sector the file does not hold (it was cut short) leaves its
  // entries free, so that the chains through them break there.
  const uint32_t perFat = FSectorSize / 4;
  FFat.assign(fatSectors.size() * perFat, FREESECT);
  uint32_t missing = 0;
  for (size_t k = 0; k < fatSectors.size(); ++k) {
    uint32_t s = fatSectors[k];
    uint64_t bytes = s <= MAXREGSECT && SectorOffset(s) < FSize ? std::min<uint64_t>(FSectorSize, FSize - SectorOffset(s)) : 0;
    if (bytes < FSectorSize) ++missing;
    const uint8_t* p = Data() + (bytes ? SectorOffset(s) : 0);
    for (uint32_t i = 0; i < bytes / 4; ++i) FFat[k * perFat + i] = LoadLE32(p + 4 * i);
  }
  if (missing == fatSectors.size()) Fail(fatSectors.empty() ? "it has no FAT" : "its FAT lies outside the file");
  if (missing) Note(Num(missing) + " of the " + Num(fatSectors.size()) + " FAT sectors lie outside the file");
}

std::vector<uint32_t> TCompoundFile::Chain(uint32_t Start, uint64_t Limit, const std::string& What,
                                            std::string& Broken) const {
  std::vector<uint32_t> out;
  std::vector<bool> seen(FFat.size(), false);
  uint32_t s = Start;
  while (Limit == 0 || out.size() < Limit) {
    if (s == ENDOFCHAIN) {
      if (Limit != 0) Broken = "the sector chain of " + What + " ends early";
      break;
    }
    if (s >= FFat.size()) {
      Broken = "sector " + Num(s) + " of " + What + " is out of range";
      break;
    }
    if (seen[s]) {
      Broken = "the sector chain of " + What + " loops";
      break;
    }
    seen[s] = true;
    out.push_back(s);
    s = FFat[s];
  }
  return out;
}

void TCompoundFile::ReadDirectory(uint32_t FirstSector) {
  std::string broken;
  std::vector<uint32_t> chain = Chain(FirstSector, 0, "the directory", broken);
  const size_t perSector = FSectorSize / kDirEntrySize;
  FDir.reserve(chain.size() * perSector);
  for (uint32_t s : chain) {
    // The entries of a directory sector the file holds only in part are
    // read as far as they go.
    const uint64_t avail = SectorOffset(s) < FSize ? FSize - SectorOffset(s) : 0;
    const size_t entries = static_cast<size_t>(std::min<uint64_t>(perSector, avail / kDirEntrySize));
    if (entries < perSector && broken.empty()) {
      broken = "directory sector " + Num(s) + " lies outside the file";
      FCutShort = true;
    }
    const uint8_t* sec = Data() + SectorOffset(s);
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* p = sec + i * kDirEntrySize;
      TDirEntry e;
      e.Type = p[66];
      if (e.Type != kTypeStorage && e.Type != kTypeStream && e.Type != kTypeRoot) e.Type = kTypeEmpty;
      size_t nameBytes = std::min<size_t>(LoadLE16(p + 64), 64);
      for (size_t k = 0; k + 1 < nameBytes; k += 2) {
        char16_t c = static_cast<char16_t>(LoadLE16(p + k));
        if (c == 0) break;
        e.Name += c;
      }
      e.Left = LoadLE32(p + 68);
      e.Right = LoadLE32(p + 72);
      e.Child = LoadLE32(p + 76);
      e.Start = LoadLE32(p + 116);
      e.Size = LoadLE32(p + 120);
      // Version 3 writers may leave garbage in the high half of the size.
      if (FMajorVersion >= 4) e.Size |= uint64_t{LoadLE32(p + 124)} << 32;
      FDir.push_back(std::move(e));
    }
    if (entries < perSector) break;
  }
  if (!broken.empty()) Note(broken);
  if (FDir.empty() || FDir[0].Type != kTypeRoot)
    Fail("the root directory entry is missing" + (broken.empty() ? std::string() : " (" + broken + ")"));
}

void TCompoundFile::ReadMiniFat(uint32_t FirstSector) {
  if (FirstSector > MAXREGSECT) return;
  std::string broken;
  std::vector<uint32_t> chain = Chain(FirstSector, 0, "the mini FAT", broken);
  const uint32_t per = FSectorSize / 4;
  FMiniFat.reserve(chain.size() * per);
  for (uint32_t s : chain) {
    if (!SectorInFile(s, FSectorSize)) {
      if (broken.empty()) broken = "mini FAT sector " + Num(s) + " lies outside the file";
      break;
    }
    const uint8_t* p = Data() + SectorOffset(s);
    for (uint32_t i = 0; i < per; ++i) FMiniFat.push_back(LoadLE32(p + 4 * i));
  }
  if (!broken.empty()) Note(broken);
}

void TCompoundFile::BuildTree() {
  // Each entry may appear once in the whole tree: an entry met again (a loop
  // between siblings, a storage that contains itself) is left out with what
  // hangs below it, as are links past the end of a short directory.
  FChildren.assign(FDir.size(), {});
  std::vector<bool> placed(FDir.size(), false);
  placed[0] = true;
  std::vector<uint32_t> storages{0};
  std::vector<uint32_t> stack;
  auto valid = [&](uint32_t n) {
    if (n == NOSTREAM) return false;
    if (n >= FDir.size()) {
      Note("directory entry " + Num(n) + " lies beyond the end of the directory");
      return false;
    }
    if (placed[n]) {
      Note("directory entry " + Num(n) + " appears twice in the tree");
      return false;
    }
    return true;
  };
  while (!storages.empty()) {
    uint32_t parent = storages.back();
    storages.pop_back();
    // In-order walk of the sibling tree below the storage.
    stack.clear();
    uint32_t node = FDir[parent].Child;
    while (true) {
      while (valid(node)) {
        placed[node] = true;
        stack.push_back(node);
        node = FDir[node].Left;
      }
      if (stack.empty()) break;
      node = stack.back();
      stack.pop_back();
      const TDirEntry& e = FDir[node];
      if (e.Type == kTypeStorage || e.Type == kTypeStream) {
        FChildren[parent].push_back(node);
        if (e.Type == kTypeStorage) storages.push_back(node);
      }
      node = e.Right;
    }
  }
}

void TCompoundFile::StreamUnits(uint32_t Index, std::vector<uint64_t>& Offsets, uint32_t& UnitSize,
                                uint64_t& Readable, std::string& Lost, bool* PastEnd) const {
  const TDirEntry& e = FDir[Index];
  const std::string what = "stream \"" + WideToUtf8(e.Name) + "\"";
  Offsets.clear();
  Readable = 0;
  Lost.clear();
  UnitSize = FSectorSize;
  if (e.Size == 0) return;
  if (e.Size < FMiniCutoff) {
    UnitSize = 1u << FMiniSectorShift;
    uint64_t want = (e.Size + UnitSize - 1) >> FMiniSectorShift;
    std::vector<bool> seen(FMiniFat.size(), false);
    uint32_t s = e.Start;
    Offsets.reserve(std::min<uint64_t>(want, FMiniFat.size()));
    while (Offsets.size() < want) {
      if (s == ENDOFCHAIN) {
        Lost = "the mini sector chain of " + what + " ends early";
        break;
      }
      if (s >= FMiniFat.size()) {
        Lost = "mini sector " + Num(s) + " of " + what + " is out of range";
        break;
      }
      if (seen[s]) {
        Lost = "the mini sector chain of " + what + " loops";
        break;
      }
      seen[s] = true;
      uint64_t pos = uint64_t{s} << FMiniSectorShift;
      uint64_t need = std::min<uint64_t>(UnitSize, e.Size - Readable);
      if (pos + need > FMiniStreamSize) {
        Lost = "mini sector " + Num(s) + " of " + what + " lies outside the mini stream";
        break;
      }
      Offsets.push_back(FMiniStreamSectors[pos >> FSectorShift] + (pos & (FSectorSize - 1)));
      Readable += need;
      s = FMiniFat[s];
    }
  } else {
    uint64_t want = (e.Size + FSectorSize - 1) >> FSectorShift;
    std::vector<uint32_t> chain = Chain(e.Start, want, what, Lost);
    Offsets.reserve(chain.size());
    for (uint32_t s : chain) {
      uint64_t need = std::min<uint64_t>(FSectorSize, e.Size - Readable);
      if (!SectorInFile(s, need)) {
        // A sector the file holds in part (the file was cut inside it).
        uint64_t start = SectorOffset(s);
        if (start < FSize) {
          Offsets.push_back(start);
          Readable += FSize - start;
        }
        Lost = "sector " + Num(s) + " of " + what + " lies outside the file";
        if (PastEnd) *PastEnd = true;
        break;
      }
      Offsets.push_back(SectorOffset(s));
      Readable += need;
    }
  }
  if (!Lost.empty()) Lost += ": " + Num(Readable) + " of its " + Num(e.Size) + " bytes are readable";
}

// ---------------------------------------------------------------------------
// A stream of the container: reads copy from the container's bytes.

namespace {

class TOleStream : public TStream {
 public:
  TOleStream(std::shared_ptr<const TCompoundFile> File, uint32_t Entry, std::string* Lost) : FFile(std::move(File)) {
    uint64_t readable = 0;
    std::string lost;
    FFile->StreamUnits(Entry, FUnits, FUnitSize, readable, lost);
    if (!lost.empty() && !Lost) Fail(lost);
    if (Lost) *Lost = lost;
    FSize = static_cast<int64_t>(readable);
    FShift = static_cast<uint32_t>(__builtin_ctz(FUnitSize));
  }

  int64_t Read(void* Buffer, int64_t Count) override {
    if (Count <= 0 || FPos >= FSize) return 0;
    Count = std::min(Count, FSize - FPos);
    auto* out = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    const uint8_t* data = FFile->Data();
    while (done < Count) {
      uint64_t unit = static_cast<uint64_t>(FPos) >> FShift;
      uint64_t within = static_cast<uint64_t>(FPos) & (FUnitSize - 1);
      int64_t n = std::min<int64_t>(Count - done, static_cast<int64_t>(FUnitSize - within));
      std::memcpy(out + done, data + FUnits[unit] + within, static_cast<size_t>(n));
      done += n;
      FPos += n;
    }
    return done;
  }

  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize;
    int64_t p = base + Offset;
    FPos = p < 0 ? 0 : p;
    return FPos;
  }

  int64_t Size() override { return FSize; }
  std::string ClassName() const override { return "TOleStream"; }

 private:
  std::shared_ptr<const TCompoundFile> FFile;
  std::vector<uint64_t> FUnits;
  uint32_t FUnitSize = 512;
  uint32_t FShift = 9;
  int64_t FSize = 0;
  int64_t FPos = 0;
};

}  // namespace

// ---------------------------------------------------------------------------

TOleStorage::TOleStorage(std::shared_ptr<const TCompoundFile> File, uint32_t Entry)
    : FFile(std::move(File)), FEntry(Entry) {}

std::vector<TStatStg> TOleStorage::EnumElements() const {
  std::vector<TStatStg> out;
  for (uint32_t c : FFile->Children(FEntry)) {
    const auto& e = FFile->Entry(c);
    TStatStg st;
    st.Name = e.Name;
    st.Type = e.Type == kTypeStorage ? STGTY_STORAGE : STGTY_STREAM;
    st.Size = e.Type == kTypeStream ? e.Size : 0;
    out.push_back(std::move(st));
  }
  return out;
}

int64_t TOleStorage::FindChild(const WideString& Name, int Type) const {
  const uint8_t want = Type == STGTY_STORAGE ? kTypeStorage : kTypeStream;
  int64_t loose = -1;
  for (uint32_t c : FFile->Children(FEntry)) {
    const auto& e = FFile->Entry(c);
    if (e.Type != want) continue;
    if (e.Name == Name) return c;
    if (loose < 0 && CompareTextIgnoreCase(e.Name, Name) == 0) loose = c;
  }
  return loose;
}

std::unique_ptr<TOleStorage> TOleStorage::OpenStorage(const WideString& Name) const {
  int64_t i = FindChild(Name, STGTY_STORAGE);
  if (i < 0) return nullptr;
  return std::make_unique<TOleStorage>(FFile, static_cast<uint32_t>(i));
}

std::unique_ptr<TStream> TOleStorage::OpenStream(const WideString& Name, std::string* Lost) const {
  if (Lost) Lost->clear();
  int64_t i = FindChild(Name, STGTY_STREAM);
  if (i < 0) return nullptr;
  return std::make_unique<TOleStream>(FFile, static_cast<uint32_t>(i), Lost);
}

const std::vector<std::string>& TOleStorage::Damage() const { return FFile->Damage(); }

bool TOleStorage::CutShort() const { return FFile->CutShort(); }

// ---------------------------------------------------------------------------

bool IsCompoundFileData(const void* Data, size_t Size) {
  return Data && Size >= sizeof(kSignature) && std::memcmp(Data, kSignature, sizeof(kSignature)) == 0;
}

bool StgIsStorageFile(const std::string& FileName) {
  try {
    TFileStream f(FileName);
    uint8_t head[kHeaderSize];
    if (f.Read(head, kHeaderSize) != static_cast<int64_t>(kHeaderSize)) return false;
    return IsCompoundFileData(head, kHeaderSize);
  } catch (const Exception&) {
    return false;
  }
}

std::unique_ptr<TOleStorage> StgOpenStorage(const std::string& FileName) {
  // Mapped rather than read: a large document is not copied into memory.
  if (auto m = TFileMapping::Map(FileName)) {
    const auto* data = reinterpret_cast<const uint8_t*>(m->Bytes().data());
    const size_t size = m->Bytes().size();
    auto file = std::make_shared<const TCompoundFile>(std::move(m), data, size);
    return std::make_unique<TOleStorage>(std::move(file), 0);
  }
  return StgOpenStorageOnMemory(ReadFileBytes(FileName));
}

std::unique_ptr<TOleStorage> StgOpenStorageOnMemory(RawByteString Bytes) {
  auto owner = std::make_shared<const RawByteString>(std::move(Bytes));
  const auto* data = reinterpret_cast<const uint8_t*>(owner->data());
  const size_t size = owner->size();
  auto file = std::make_shared<const TCompoundFile>(std::move(owner), data, size);
  return std::make_unique<TOleStorage>(std::move(file), 0);
}

std::unique_ptr<TOleStorage> StgOpenStorageOnStream(TStream& Stream) {
  if (auto* file = dynamic_cast<TFileStream*>(&Stream); file && file->Position() == 0)
    return StgOpenStorage(file->FileName());
  return StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Remaining()));
}

}  // namespace lkw
