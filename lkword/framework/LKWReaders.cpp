#include "lkword/framework/LKWReaders.h"

#include <cstring>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/readers/MSPalmDoc.h"
#include "lkword/readers/MSWEPub.h"
#include "lkword/readers/MSWFB2.h"
#include "lkword/readers/MSWOO.h"
#include "lkword/readers/MSWPD.h"
#include "lkword/readers/MSWRI.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWordX.h"

namespace lkw {

namespace {

// Palm database type and creator at offset 60: "TEXt"/"REAd" for PalmDoc,
// "PNRD"/"PPRS" for Peanut books, "PNRd"/"PPrs" for eReader books,
// "BOOK"/"MOBI" for Mobipocket books. 78 bytes is the database header.
bool IsPalmDoc(TStream& Stream) {
  if (Stream.Size() < 78) return false;
  char typeCreator[8];
  Stream.Seek(60, soBeginning);
  if (Stream.Read(typeCreator, 8) != 8) return false;
  return std::memcmp(typeCreator, "TEXtREAd", 8) == 0 || std::memcmp(typeCreator, "PNRDPPRS", 8) == 0 ||
         std::memcmp(typeCreator, "PNRdPPrs", 8) == 0 || std::memcmp(typeCreator, "BOOKMOBI", 8) == 0;
}

// A compound file with a "WordDocument" stream, or a plain Word 1/2 file
// (the Write magics, which the Word reader also takes, are left to Write).
bool IsWordBinary(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 2) return false;
  if (IsCompoundFileData(head, 8)) {
    // A file is mapped rather than copied to look into it.
    if (auto* file = dynamic_cast<TFileStream*>(&Stream))
      return StgOpenStorage(file->FileName())->OpenStream(u"WordDocument") != nullptr;
    Stream.Seek(0, soBeginning);
    return StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Size()))->OpenStream(u"WordDocument") != nullptr;
  }
  const uint16_t magic = static_cast<uint16_t>(head[0] | (head[1] << 8));
  return IsOldWordMagic(magic) && magic != 0xBE31 && magic != 0xBE32;
}

// Word 2007 packages, also kept inside a compound file ("Package", or
// "EncryptedPackage" to be refused with its message). Compound files of
// other kinds are turned away here by their stream names, with the file
// mapped, before the package test copies the container into memory.
bool IsWordX(TStream& Stream) {
  uint8_t head[8] = {};
  const int64_t n = Stream.Read(head, 8);
  Stream.Seek(0, soBeginning);
  if (auto* file = dynamic_cast<TFileStream*>(&Stream); file && n > 0 && IsCompoundFileData(head, static_cast<size_t>(n))) {
    const auto storage = StgOpenStorage(file->FileName());
    if (!storage->OpenStream(u"Package") && !storage->OpenStream(u"EncryptedPackage")) return false;
  }
  return IsWordXDocument(Stream);
}

// WordPerfect 6-9: the signature FF 57 50 43 (which WordPerfect 5 shares; the
// reader refuses those), or a compound file with a "PerfectOffice_MAIN" stream.
bool IsWordPerfect(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 4) return false;
  if (std::memcmp(head, "\xFFWPC", 4) == 0) return true;
  if (!IsCompoundFileData(head, 8)) return false;
  auto* file = dynamic_cast<TFileStream*>(&Stream);
  Stream.Seek(0, soBeginning);
  const auto storage = file ? StgOpenStorage(file->FileName()) : StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Size()));
  for (const TStatStg& e : storage->EnumElements())
    if (e.Type == STGTY_STREAM && e.Name == u"PerfectOffice_MAIN") return true;
  return false;
}

// Windows Write: wIdent 0xBE31, or 0xBE32 with OLE objects. Word for DOS files
// share the magic and the layout; the Write reader takes them.
bool IsWrite(TStream& Stream) {
  uint8_t head[2] = {};
  if (Stream.Read(head, 2) != 2) return false;
  return (head[0] == 0x31 || head[0] == 0x32) && head[1] == 0xBE;
}

// PDF: the header "%PDF-" within the first KiB, as readers accept junk
// before it.
bool IsPDF(TStream& Stream) {
  char head[1024];
  const int64_t n = Stream.Read(head, sizeof head);
  return n > 0 && std::string_view(head, static_cast<size_t>(n)).find("%PDF-") != std::string_view::npos;
}

// OpenDocument packages, by their "mimetype" member, else their content.
bool IsOdt(TStream& Stream) { return DetectOpenDocument(Stream) == odkText; }
bool IsOds(TStream& Stream) { return DetectOpenDocument(Stream) == odkSpreadsheet; }
bool IsOdp(TStream& Stream) { return DetectOpenDocument(Stream) == odkPresentation; }

template <typename T>
std::unique_ptr<TMSWBaseDocument> Make() {
  return std::make_unique<T>();
}

constexpr const char* kPdbExt[] = {"pdb", "prc", "mobi"};
constexpr const char* kDocExt[] = {"doc", "dot"};
constexpr const char* kDocxExt[] = {"docx", "docm", "dotx", "dotm"};
constexpr const char* kOdtExt[] = {"odt", "ott", "fodt"};
constexpr const char* kOdsExt[] = {"ods", "ots", "fods"};
constexpr const char* kOdpExt[] = {"odp", "otp", "fodp"};
constexpr const char* kWpdExt[] = {"wpd", "wp", "wpt"};
constexpr const char* kWriExt[] = {"wri"};
constexpr const char* kFb2Ext[] = {"fb2"};
constexpr const char* kEpubExt[] = {"epub"};
constexpr const char* kPdfExt[] = {"pdf"};

// Order matters only where two content tests could both accept a file: the
// more specific test comes first (Write before the Word magics it shares,
// the OpenDocument kinds by their mimetype before EPUB's zip test).
const TLKWReaderInfo kReaders[] = {
    {"pdb", "TPalmDocFile", "PalmDoc, Peanut Press, eReader and Mobipocket e-books", "application/vnd.palm", kPdbExt, IsPalmDoc,
     Make<TPalmDocFile>},
    {"doc", "TMSWordDocument", "Word 97-2003 documents and older Word files", "application/msword", kDocExt,
     IsWordBinary, Make<TMSWordDocument>},
    {"docx", "TMSWordXDocument", "Word 2007 and later documents and templates",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document", kDocxExt, IsWordX,
     Make<TMSWordXDocument>},
    {"odt", "TOpenOfficeTextDocument", "OpenDocument text documents", "application/vnd.oasis.opendocument.text",
     kOdtExt, IsOdt, Make<TOpenOfficeTextDocument>},
    {"ods", "TOpenOfficeSpreadsheet", "OpenDocument spreadsheets", "application/vnd.oasis.opendocument.spreadsheet",
     kOdsExt, IsOds, Make<TOpenOfficeSpreadsheet>},
    {"odp", "TOpenOfficePresentation", "OpenDocument presentations",
     "application/vnd.oasis.opendocument.presentation", kOdpExt, IsOdp, Make<TOpenOfficePresentation>},
    {"wpd", "TWordPerfectFile", "WordPerfect 6/7/8/9 documents", "application/vnd.wordperfect", kWpdExt,
     IsWordPerfect, Make<TWordPerfectFile>},
    {"wri", "TWRIFile", "Windows Write documents", "application/x-mswrite", kWriExt, IsWrite, Make<TWRIFile>},
    {"fb2", "TFictionBook", "FictionBook 2 e-books", "application/x-fictionbook+xml", kFb2Ext,
     TFictionBook::IsFictionBook, Make<TFictionBook>},
    {"epub", "TLKWEPub", "EPUB e-books (EPUB 2 and 3)", "application/epub+zip", kEpubExt, TLKWEPub::IsEPub,
     Make<TLKWEPub>},
    {"pdf", "TLKPDFReader", "PDF documents (also encrypted ones, with a password)", "application/pdf", kPdfExt,
     IsPDF, Make<TLKPDFReader>},
};

bool SameAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(A[i]) != lower(B[i])) return false;
  }
  return true;
}

}  // namespace

std::span<const TLKWReaderInfo> RegisteredReaders() { return kReaders; }

const TLKWReaderInfo* FindReaderInfo(std::string_view Name) {
  for (const auto& r : kReaders)
    if (SameAscii(Name, r.Name) || SameAscii(Name, r.ComponentName)) return &r;
  return nullptr;
}

const TLKWReaderInfo* DetectReaderInfo(TStream& Stream) {
  const TLKWReaderInfo* found = nullptr;
  for (const auto& r : kReaders) {
    bool accepted = false;
    try {
      Stream.Seek(0, soBeginning);
      accepted = r.IsFormat(Stream);
    } catch (const Exception&) {
      // A damaged container is not evidence of its format; the next test
      // may still recognise the document.
    }
    if (accepted) {
      found = &r;
      break;
    }
  }
  Stream.Seek(0, soBeginning);
  return found;
}

const TLKWReaderInfo* ReaderInfoForExtension(std::string_view FileName) {
  const size_t slash = FileName.find_last_of('/');
  const std::string_view base = slash == std::string_view::npos ? FileName : FileName.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return nullptr;
  const std::string_view ext = base.substr(dot + 1);
  for (const auto& r : kReaders)
    for (const char* e : r.Extensions)
      if (SameAscii(ext, e)) return &r;
  return nullptr;
}

std::unique_ptr<TMSWBaseDocument> CreateReaderFor(TStream& Stream, const TLKWReaderInfo** Info) {
  const TLKWReaderInfo* found = DetectReaderInfo(Stream);
  if (Info) *Info = found;
  return found ? found->Create() : nullptr;
}

std::unique_ptr<TMSWBaseDocument> CreateReaderFor(const std::string& FileName, const TLKWReaderInfo** Info) {
  if (Info) *Info = nullptr;
  // The components' own existence check, so a missing file reads the same
  // whether the host asked the registry or a component.
  TMSWBaseDocument().LoadFromFile(FileName);
  TFileStream stream(FileName);
  return CreateReaderFor(stream, Info);
}

std::string DocumentFilter() {
  auto patterns = [](const TLKWReaderInfo& r) {
    std::string p;
    for (const char* e : r.Extensions) {
      if (!p.empty()) p += ';';
      p += "*.";
      p += e;
    }
    return p;
  };
  std::string all;
  for (const auto& r : kReaders) {
    if (!all.empty()) all += ';';
    all += patterns(r);
  }
  std::string filter = "All documents|" + all;
  for (const auto& r : kReaders) {
    const std::string p = patterns(r);
    filter += '|';
    filter += r.Description;
    filter += " (" + p + ")|" + p;
  }
  return filter;
}

}  // namespace lkw
