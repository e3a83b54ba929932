#include "lkword/word/MSWord.h"

#include <algorithm>
#include <cstring>

#include "lkword/framework/MSWordCnst.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWordCrypt.h"

namespace lkw {

namespace {


// Property value types of the summary property sets.
constexpr uint16_t VT_I2 = 2;
constexpr uint16_t VT_I4 = 3;
constexpr uint16_t VT_LPSTR = 30;
constexpr uint16_t VT_LPWSTR = 31;
constexpr uint16_t VT_FILETIME = 64;

// UTF-16LE bytes up to the first zero character, as UTF-8.
std::string Utf16BytesToUtf8(const uint8_t* p, size_t bytes) {
  WideString w;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    char16_t c = static_cast<char16_t>(LoadLE16(p + i));
    if (c == 0) break;
    w += c;
  }
  return WideToUtf8(w);
}

// Where a Word 97 FIB's count of its stream places (cbRgFcLcb) ends, and
// whether it is a count some Word version writes (97, 2000, 2002, 2003,
// 2007).
constexpr size_t kFIBCheckEnd = offsetof(TFIB, cfclcb) + 2;
bool IsKnownFcLcbCount(std::string_view Fib) {
  if (Fib.size() < kFIBCheckEnd) return false;
  const uint16_t n = LoadLE16(reinterpret_cast<const uint8_t*>(Fib.data()) + offsetof(TFIB, cfclcb));
  return n == 0x5D || n == 0x6C || n == 0x88 || n == 0xA4 || n == 0xB7;
}

}  // namespace

bool IsOldWordMagic(uint16_t wIdent) {
  switch (wIdent) {
    case 0xBE31: case 0xBE32: case 0x6031: case 0xA59B: case 0xA5DB: case 0x37FE:
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// TMSCustomWordDocument

TMSCustomWordDocument::TMSCustomWordDocument(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TMSCustomWordDocument::~TMSCustomWordDocument() = default;

void TMSCustomWordDocument::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  ClearTextLists();
  // A document without macros must not list the previous document's.
  ClearVBAProjectItems();
  FVBAProject.clear();
  FVBAMacroSource.clear();
  FVBACodePage = 0;
}

void TMSCustomWordDocument::ClearTextLists() {
  FMacroText.Clear();
  FFootNoteText.Clear();
  FHeaderText.Clear();
  FFooterText.Clear();
  FAnnotationText.Clear();
  FEndNoteText.Clear();
  FTextBoxText.Clear();
}

// ---------------------------------------------------------------------------
// TMSWordDocument: loading

TMSWordDocument::TMSWordDocument(TComponent* AOwner) : TMSCustomWordDocument(AOwner) {}

void TMSWordDocument::ClearInternalLists() {
  TMSCustomWordDocument::ClearInternalLists();
  FWord = nullptr;
  FStreamsCut = false;
  CLX.Clear();
}

void TMSWordDocument::LoadFromFile(const std::string& AFileName) try {
  CheckFileExists(AFileName);
  FWarnings.clear();
  // A file without a document stream must not show the previous text.
  if (FParseItems.Contains(wpiText)) ClearTextAndPieces();
  if (StgIsStorageFile(AFileName)) {
    std::unique_ptr<TOleStorage> root = StgOpenStorage(AFileName);
    LoadIStorage(*root);
    return;
  }
  FIB = TFIB{};
  FSummaryInformation->Clear();
  TFileStream file(AFileName);
  uint8_t head[4] = {};
  if (file.Read(head, 4) != 4 || !IsOldWordMagic(LoadLE16(head)))
    throw ECorruptError(Format(SNotValidWordDocument, {AFileName}));
  ReadDocFromStream(file, nullptr);
} catch (...) {
  RethrowAsException();
}

void TMSWordDocument::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  int64_t avail = Stream.Remaining();
  if (avail > FMaxStreamSize) throw ELimitError("The document is larger than the stream size limit");
  RawByteString bytes = Stream.ReadBytes(avail);
  if (IsCompoundFileData(bytes.data(), bytes.size())) {
    // A damaged compound file is reported as such rather than read as a
    // plain Word file.
    std::unique_ptr<TOleStorage> root = StgOpenStorageOnMemory(std::move(bytes));
    LoadIStorage(*root);
    return;
  }
  TBytesStream plain(std::move(bytes));
  ReadDocFromStream(plain, nullptr);
} catch (...) {
  RethrowAsException();
}

void TMSWordDocument::LoadIStorage(const TOleStorage& Storage) {
  FSummaryInformation->Clear();
  FStreamsCut = false;
  const std::vector<TStatStg> elements = Storage.EnumElements();

  // Metadata first, so that it is there even when the text cannot be read
  // (an encrypted document).
  if (FParseItems.Contains(wpiSummaryInformation)) {
    for (const TStatStg& e : elements) {
      if (e.Type != STGTY_STREAM || e.Size == 0 || e.Name.size() < 2) continue;
      std::u16string_view rest = std::u16string_view(e.Name).substr(1);
      bool isSum = CompareTextIgnoreCase(rest, u"SummaryInformation") == 0;
      bool isDoc = CompareTextIgnoreCase(rest, u"DocumentSummaryInformation") == 0;
      if (!isSum && !isDoc) continue;
      try {
        std::string lost;
        if (auto s = Storage.OpenStream(e.Name, &lost)) ReadSummaryStream(*s, isDoc);
        if (!lost.empty()) MarkPartial("summary information is damaged: " + lost);
      } catch (const Exception& ex) {
        AddWarning(std::string("summary information skipped: ") + ex.what());
      }
    }
  }

  // Names are matched as the compound file matches them, without regard to
  // case: some writers spell them in capitals.
  bool hasMacros = false, hasDocument = false;
  for (const TStatStg& e : elements) {
    if (e.Type == STGTY_STORAGE) {
      if (CompareTextIgnoreCase(e.Name, u"Macros") == 0 && FParseItems.Contains(wpiVBA)) hasMacros = true;
      continue;
    }
    if (CompareTextIgnoreCase(e.Name, u"WordDocument") != 0) continue;
    // Streams of a damaged container are read up to where their sectors
    // break; the text they still hold is told, marked partial.
    std::string lost;
    std::unique_ptr<TStream> doc = Storage.OpenStream(e.Name, &lost);
    if (!doc || doc->Size() == 0) continue;
    hasDocument = true;
    FStreamsCut = !lost.empty();
    if (FStreamsCut) MarkPartial("the document stream is damaged: " + lost);
    // Damage is lost content where the file was cut short; elsewhere it
    // may only be of links no stream needs.
    for (const std::string& d : Storage.Damage()) AddWarning("the compound file is damaged: " + d);
    if (Storage.CutShort()) MarkPartial("the compound file ends early: what its missing sectors held is lost");
    // The table stream is the one the FIB names.
    std::unique_ptr<TStream> table;
    ReadFIB(*doc);
    if (FDocVersion == 8) {
      table = Storage.OpenStream(IsUseTableStream() ? u"1Table" : u"0Table", &lost);
      if (!lost.empty()) {
        FStreamsCut = true;
        MarkPartial("the table stream is damaged: " + lost);
      } else if (!table && !Storage.Damage().empty()) {
        FStreamsCut = true;
        MarkPartial("the table stream is lost to the damage");
      }
    }
    FStorage = &Storage;
    try {
      ReadDocFromStream(*doc, table.get());
    } catch (...) {
      FStorage = nullptr;
      throw;
    }
    FStorage = nullptr;
  }

  if (!hasDocument && !Storage.Damage().empty())
    throw EOleError("Compound file is damaged: " + Storage.Damage().front());
  if (hasMacros)
    if (auto macros = Storage.OpenStorage(u"Macros")) ReadMacros(*macros);
}

void TMSWordDocument::ReadSummaryStream(TStream& Stream, bool IsDocSummary) {
  const RawByteString data = Stream.ReadBytes(Stream.Size());
  const auto* d = reinterpret_cast<const uint8_t*>(data.data());
  const size_t size = data.size();
  if (size < 48) return;
  const size_t sec = LoadLE32(d + 44);
  if (sec > size || size - sec < 8) return;
  const size_t count = std::min<size_t>(LoadLE32(d + sec + 4), (size - sec - 8) / 8);

  // The value at Offset (relative to the section), when its type and Need
  // bytes after the type fit in the stream.
  auto value = [&](uint32_t Offset, size_t Need, uint16_t& Type) -> const uint8_t* {
    size_t off = sec + Offset;
    if (Offset > size || off > size || size - off < 4 + Need) return nullptr;
    Type = LoadLE16(d + off);
    return d + off + 4;
  };

  // The set's own code page (property 1) decodes its 8-bit strings.
  uint32_t codePage = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* pair = d + sec + 8 + 8 * i;
    uint16_t type = 0;
    if (LoadLE32(pair) != 1) continue;
    if (const uint8_t* v = value(LoadLE32(pair + 4), 2, type); v && type == VT_I2) codePage = LoadLE16(v);
  }

  for (size_t i = 0; i < count; ++i) {
    const uint8_t* pair = d + sec + 8 + 8 * i;
    const uint32_t id = LoadLE32(pair);
    const uint32_t offset = LoadLE32(pair + 4);
    uint16_t type = 0;
    const uint8_t* v = value(offset, 0, type);
    if (!v) continue;
    const size_t room = static_cast<size_t>(d + size - v);
    switch (type) {
      case VT_I4:
        if (room >= 4) FSummaryInformation->ParseProperty(id, v, 4, IsDocSummary);
        break;
      case VT_FILETIME:
        if (room >= 8) FSummaryInformation->ParseProperty(id, v, 8, IsDocSummary);
        break;
      case VT_LPSTR: {
        if (room < 4) break;
        size_t len = std::min<size_t>(LoadLE32(v), room - 4);
        if (codePage == CP_UTF16LE) {
          std::string utf8 = Utf16BytesToUtf8(v + 4, len);
          FSummaryInformation->ParseProperty(id, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(),
                                             IsDocSummary, CP_UTF8);
        } else {
          FSummaryInformation->ParseProperty(id, v + 4, len, IsDocSummary, codePage);
        }
        break;
      }
      case VT_LPWSTR: {
        if (room < 4) break;
        size_t len = std::min<size_t>(uint64_t{LoadLE32(v)} * 2, room - 4);
        std::string utf8 = Utf16BytesToUtf8(v + 4, len);
        FSummaryInformation->ParseProperty(id, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(),
                                           IsDocSummary, CP_UTF8);
        break;
      }
      default:
        break;
    }
  }
}

void TMSWordDocument::ReadFIB(TStream& Stream) {
  FIB = TFIB{};
  Stream.Seek(0, soBeginning);
  uint8_t head[4];
  Stream.ReadBuffer(head, 4);
  FDocVersion = FIBGeneration(LoadLE16(head), LoadLE16(head + 2));
  size_t need = sizeof(TFIB);
  if (FDocVersion >= 5 && FDocVersion <= 7) need = fib6::Size;
  if (FDocVersion == 2) need = fib2::Size;
  if (FDocVersion == kMacWordGeneration) need = fibmac::Size;
  uint8_t raw[sizeof(TFIB)];
  Stream.Seek(0, soBeginning);
  Stream.ReadBuffer(raw, static_cast<int64_t>(need));
  FIB = MapFIB(raw, need, FDocVersion);
}

void TMSWordDocument::ReadDocFromStream(TStream& Stream, TStream* TableStream) {
  ReadFIB(Stream);
  if (IsPasswordProtected()) {
    std::unique_ptr<TStream> doc, table;
    DecryptStreams(Stream, TableStream, doc, table);
    // Only the FIB's first 68 bytes were in clear.
    ReadFIB(*doc);
    ReadDocText(*doc, table.get());
    return;
  }
  ReadDocText(Stream, TableStream);
}

void TMSWordDocument::DecryptStreams(TStream& Stream, TStream* TableStream, std::unique_ptr<TStream>& Doc,
                                     std::unique_ptr<TStream>& Table) {
  // The clear part of the document stream (the FIB's base) and of the table
  // stream (the encryption header, lKey bytes long).
  constexpr size_t kClearFIB = 68;
  constexpr uint8_t kObfuscated = 0x80;
  if (FPassword.empty()) throw EPasswordError(SPasswordProtected);
  const bool word6 = FDocVersion >= 5 && FDocVersion <= 7;
  if (!word6 && (FDocVersion != 8 || !TableStream)) throw EEncryptionNotSupportedError(SEncryptionNotSupported);
  Stream.Seek(0, soBeginning);
  RawByteString doc = Stream.ReadBytes(Stream.Size());
  RawByteString table;
  if (TableStream) {
    TableStream->Seek(0, soBeginning);
    table = TableStream->ReadBytes(TableStream->Size());
  }
  if (doc.size() < kClearFIB) throw EReadError("Stream read error");
  const uint32_t lKey = LoadLE32(reinterpret_cast<const uint8_t*>(doc.data()) + 14);
  auto* d = reinterpret_cast<uint8_t*>(doc.data());
  if (word6 || (FIB.Encryption & kObfuscated) != 0) {
    TWordXorDecryptor xorKey;
    if (!xorKey.Open(lKey, Utf8ToWide(FPassword), DefaultCodePage())) throw EPasswordError(SPasswordProtected);
    // Word 6/95 leaves zero bytes in clear. Whether an obfuscated Word 97
    // file does shows in its FIB: only one way gives a known size of its
    // table of stream places.
    bool keepZeros = true;
    if (!word6) {
      RawByteString plain = doc.substr(0, std::min<size_t>(doc.size(), kFIBCheckEnd));
      auto* p = reinterpret_cast<uint8_t*>(plain.data());
      xorKey.Decrypt(p + kClearFIB, plain.size() - kClearFIB, kClearFIB, false);
      keepZeros = !IsKnownFcLcbCount(plain);
    }
    xorKey.Decrypt(d + kClearFIB, doc.size() - kClearFIB, kClearFIB, keepZeros);
    auto* t = reinterpret_cast<uint8_t*>(table.data());
    xorKey.Decrypt(t, table.size(), 0, keepZeros);
    Doc = std::make_unique<TBytesStream>(std::move(doc));
    if (TableStream) Table = std::make_unique<TBytesStream>(std::move(table));
    return;
  }
  if (lKey == 0 || lKey > table.size()) throw EEncryptionNotSupportedError(SEncryptionNotSupported);

  TWordRC4Decryptor rc4;
  switch (rc4.Open(std::string_view(table).substr(0, lKey), Utf8ToWide(FPassword))) {
    case TWordRC4Decryptor::TOpenResult::Opened: break;
    case TWordRC4Decryptor::TOpenResult::WrongPassword: throw EPasswordError(SPasswordProtected);
    case TWordRC4Decryptor::TOpenResult::Unsupported: throw EEncryptionNotSupportedError(SEncryptionNotSupported);
  }
  rc4.Decrypt(d + kClearFIB, doc.size() - kClearFIB, kClearFIB);
  auto* t = reinterpret_cast<uint8_t*>(table.data());
  rc4.Decrypt(t + lKey, table.size() - lKey, lKey);
  Doc = std::make_unique<TBytesStream>(std::move(doc));
  Table = std::make_unique<TBytesStream>(std::move(table));
}

template <typename F>
bool TMSWordDocument::Survive(const char* What, F&& Step) {
  if (!FStreamsCut) {
    Step();
    return true;
  }
  try {
    Step();
    return true;
  } catch (const EOutOfMemory&) {
    throw;
  } catch (const Exception& e) {
    MarkPartial(std::string(What) + " lost to the damage: " + e.what());
    return false;
  }
}

void TMSWordDocument::ReadDocText(TStream& Stream, TStream* TableStream) {
  if (!FParseItems.Contains(wpiText)) return;
  // Word 6/95 keep the piece table in the document stream itself; Word 97
  // in the table stream; the oldest generations have none.
  TStream* clxSource = nullptr;
  if (FDocVersion == 8)
    clxSource = TableStream;
  else if (FDocVersion >= 5 && FIB.lcbClx > 0)
    clxSource = &Stream;
  if (FDocVersion == kMacWordGeneration) {
    ReadMacPieces(Stream);
  } else if (!Survive("the piece table was", [&] { ReadCLX(clxSource); })) {
    ClearTextAndPieces();
    SinglePiece(true);
  } else if (FStreamsCut && FDocVersion == 8 && !TableStream) {
    SinglePiece(true);
  }
  Survive("the note numbers were", [&] { ReadNoteMarks(Stream, FDocVersion == 8 ? TableStream : &Stream); });
  if (FDocVersion == 8 && TableStream) {
    Survive("symbols were", [&] { ReadSymbols(Stream, *TableStream); });
    Survive("paragraph properties were", [&] { ReadParagraphs(Stream, *TableStream); });
  }
  Survive("the text's code page was", [&] { ChooseTextCodePage(Stream); });
  if (FTextCodePage == 0) FTextCodePage = DefaultCodePage();
  if (FDocVersion >= 5 && FDocVersion <= 7) Survive("paragraph properties were", [&] { ReadParagraphs6(Stream); });
  Survive("the header stories were", [&] {
    if (FDocVersion == 8)
      ReadHeaderStories(TableStream, false);
    else if (FDocVersion >= 5)
      ReadHeaderStories(&Stream, true);
  });
  ReadSimpleText(Stream);
  Survive("notes, comments and headers were", [&] { ReadSecondaryTexts(Stream); });
  ReadEmbeddedDocuments();
  Output().EndDocument();
}

void TMSWordDocument::ReadMacPieces(TStream& Stream) {
  ClampMacTextRange(Stream.Size());
  // A piece table that does not read leaves the text range: the text is
  // still there, if in file order.
  try {
    ReadCLX(FIB.lcbClx > 0 ? &Stream : nullptr);
  } catch (const EOutOfMemory&) {
    throw;
  } catch (const Exception& e) {
    AddWarning(std::string("the piece table is damaged, the text is read in file order: ") + e.what());
    SinglePiece(false);
  }
  ClampMacStoryCounts();
}

void TMSWordDocument::ReadEmbeddedDocuments() {
  if (!FStorage || Cancelled()) return;
  std::unique_ptr<TOleStorage> pool;
  try {
    pool = FStorage->OpenStorage(u"ObjectPool");
  } catch (const Exception&) {
  }
  if (!pool) return;
  // Each object is read with this document's state, which is put back
  // after: the pieces and marks are the object's own.
  const TFIB fib = FIB;
  const int32_t version = FDocVersion;
  const uint32_t codePage = FTextCodePage;
  const int64_t bytesRead = FBytesRead;
  TCLX clx = CLX;
  std::vector<TCharMark> marks = std::move(FNoteMarks);
  for (const TStatStg& e : pool->EnumElements()) {
    if (e.Type != STGTY_STORAGE || Cancelled()) continue;
    try {
      std::unique_ptr<TOleStorage> object = pool->OpenStorage(e.Name);
      std::unique_ptr<TStream> doc = object ? object->OpenStream(u"WordDocument") : nullptr;
      if (!doc || doc->Size() == 0) continue;
      ReadFIB(*doc);
      if (FDocVersion != 8 || IsPasswordProtected()) continue;
      std::unique_ptr<TStream> table = object->OpenStream(IsUseTableStream() ? u"1Table" : u"0Table");
      if (!table) continue;
      FBytesRead = 0;
      ReadPieceTable(table.get());
      ReadNoteMarks(*doc, table.get());
      ReadSymbols(*doc, *table);
      FTextCodePage = DocLangToCodePage();
      if (FTextCodePage == 0) FTextCodePage = DefaultCodePage();
      const int64_t end = FIB.ccpText > 0 ? FIB.ccpText : CLX.Pos.back();
      TellStory(TStoryKind::TextBox, &FTextBoxText, ReadCPRange(*doc, 0, end));
    } catch (const Exception& ex) {
      MarkPartial(std::string("embedded document skipped: ") + ex.what());
    }
  }
  FIB = fib;
  FDocVersion = version;
  FTextCodePage = codePage;
  FBytesRead = bytesRead;
  CLX = std::move(clx);
  FNoteMarks = std::move(marks);
}


bool IsWordBinary(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 2) return false;
  if (IsCompoundFileData(head, 8)) {
    Stream.Seek(0, soBeginning);
    const auto root = StgOpenStorageOnStream(Stream);
    // An encrypted Word 2007 package may carry a placeholder Word document
    // beside it, for programs that cannot decrypt: the package is the text.
    // A damaged container names its document as long as its directory holds
    // the entry.
    std::string lost;
    return root->OpenStream(u"WordDocument", &lost) != nullptr && root->OpenStream(u"EncryptedPackage", &lost) == nullptr;
  }
  const uint16_t magic = static_cast<uint16_t>(head[0] | (head[1] << 8));
  // Two bytes are thin evidence for the Macintosh magic: its versions too.
  if (magic == 0x37FE) return head[2] == 0 && (head[3] == 0x1C || head[3] == 0x23);
  return IsOldWordMagic(magic) && magic != 0xBE31 && magic != 0xBE32;
}

}  // namespace lkw
