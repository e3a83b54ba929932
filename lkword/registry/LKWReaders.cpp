#include "lkword/registry/LKWReaders.h"

#include <algorithm>

#include "lkword/containers/LKWZipFile.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/Ascii.h"
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
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document", kDocxExt, IsWordXDocument,
     Make<TMSWordXDocument>},
    {"odt", "TOpenOfficeTextDocument", "OpenDocument text documents", "application/vnd.oasis.opendocument.text",
     kOdtExt, IsOpenDocumentText, Make<TOpenOfficeTextDocument>},
    {"ods", "TOpenOfficeSpreadsheet", "OpenDocument spreadsheets", "application/vnd.oasis.opendocument.spreadsheet",
     kOdsExt, IsOpenDocumentSpreadsheet, Make<TOpenOfficeSpreadsheet>},
    {"odp", "TOpenOfficePresentation", "OpenDocument presentations",
     "application/vnd.oasis.opendocument.presentation", kOdpExt, IsOpenDocumentPresentation, Make<TOpenOfficePresentation>},
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

}  // namespace

std::span<const TLKWReaderInfo> RegisteredReaders() { return kReaders; }

const TLKWReaderInfo* FindReaderInfo(std::string_view Name) {
  for (const auto& r : kReaders)
    if (SameTextAscii(Name, r.Name) || SameTextAscii(Name, r.ComponentName)) return &r;
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

const TLKWReaderInfo* DetectReaderInfo(TStream& Stream, std::string_view FileName) {
  if (const TLKWReaderInfo* found = DetectReaderInfo(Stream)) return found;
  const TLKWReaderInfo* named = ReaderInfoForExtension(FileName);
  if (!named || named->IsFormat != IsPDF) return nullptr;
  bool accepted = false;
  try {
    Stream.Seek(0, soBeginning);
    accepted = LooksLikePDFBody(Stream);
  } catch (const Exception&) {
  }
  Stream.Seek(0, soBeginning);
  return accepted ? named : nullptr;
}

void RaiseUnrecognised(TStream& Stream, const std::string& Unsupported) {
  Stream.Seek(0, soBeginning);
  if (Stream.Size() == 0) throw ECorruptError("the file is empty");
  uint8_t head[8] = {};
  const int64_t got = Stream.Read(head, sizeof head);
  Stream.Seek(0, soBeginning);
  const std::string_view h(reinterpret_cast<const char*>(head), static_cast<size_t>(std::max<int64_t>(got, 0)));
  const bool zip = h.starts_with(std::string_view("PK\x03\x04", 4));
  const bool compound = h == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  if (!zip && !compound) throw EUnsupportedError(Unsupported);
  // An intact container of another kind (a spreadsheet, a presentation)
  // opens; one that does not is a damaged document.
  try {
    if (zip) {
      TZipArchive archive;
      archive.LoadFromStream(Stream);
      // A package cut short loses its directory, which comes last.
      if (archive.Count() == 0) throw ECorruptError("its directory is missing");
    } else {
      // A damaged container opens with what survives; not knowing its kind,
      // nothing of it is read.
      const auto root = StgOpenStorageOnStream(Stream);
      if (!root->Damage().empty()) throw EOleError("Compound file is damaged: " + root->Damage().front());
    }
  } catch (const Exception& e) {
    Stream.Seek(0, soBeginning);
    throw ECorruptError(std::string(zip ? "damaged or truncated zip package: " : "damaged or truncated compound file: ") +
                        e.what());
  }
  Stream.Seek(0, soBeginning);
  throw EUnsupportedError(Unsupported);
}

const TLKWReaderInfo* ReaderInfoForExtension(std::string_view FileName) {
  const size_t slash = FileName.find_last_of('/');
  const std::string_view base = slash == std::string_view::npos ? FileName : FileName.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return nullptr;
  const std::string_view ext = base.substr(dot + 1);
  for (const auto& r : kReaders)
    for (const char* e : r.Extensions)
      if (SameTextAscii(ext, e)) return &r;
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
  TMSWBaseDocument::CheckFileExists(FileName);
  TFileStream stream(FileName);
  const TLKWReaderInfo* found = DetectReaderInfo(stream, FileName);
  if (Info) *Info = found;
  return found ? found->Create() : nullptr;
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
