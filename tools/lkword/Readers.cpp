#include "tools/lkword/Readers.h"

#include <cstring>

#include "lkword/platform/CompoundFile.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/readers/MSPalmDoc.h"
#include "lkword/readers/MSWEPub.h"
#include "lkword/readers/MSWFB2.h"
#include "lkword/readers/MSWOO.h"
#include "lkword/readers/MSWPD.h"
#include "lkword/readers/MSWRI.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWordX.h"

namespace lkw::tool {

namespace {

// Palm database type and creator at offset 60: "TEXt"/"REAd" for PalmDoc,
// "PNRD"/"PPRS" for Peanut books. 78 bytes is the database header.
bool IsPalmDoc(TStream& Stream) {
  if (Stream.Size() < 78) return false;
  char typeCreator[8];
  Stream.Seek(60, soBeginning);
  if (Stream.Read(typeCreator, 8) != 8) return false;
  return std::memcmp(typeCreator, "TEXtREAd", 8) == 0 || std::memcmp(typeCreator, "PNRDPPRS", 8) == 0;
}

// A compound file with a "WordDocument" stream, or a plain Word 1/2 file
// (the Write magics, which the Word reader also takes, are left to Write).
bool IsWordBinary(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 2) return false;
  if (IsCompoundFileData(head, 8)) {
    try {
      // A file is mapped rather than copied to look into it.
      if (auto* file = dynamic_cast<TFileStream*>(&Stream))
        return StgOpenStorage(file->FileName())->OpenStream(u"WordDocument") != nullptr;
      Stream.Seek(0, soBeginning);
      return StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Size()))->OpenStream(u"WordDocument") != nullptr;
    } catch (const Exception&) {
      return false;
    }
  }
  const uint16_t magic = static_cast<uint16_t>(head[0] | (head[1] << 8));
  return IsOldWordMagic(magic) && magic != 0xBE31 && magic != 0xBE32;
}

// WordPerfect 6-9: the signature FF 57 50 43 (which WordPerfect 5 shares; the
// reader refuses those), or a compound file with a "PerfectOffice_MAIN" stream.
bool IsWordPerfect(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 4) return false;
  if (std::memcmp(head, "\xFFWPC", 4) == 0) return true;
  if (!IsCompoundFileData(head, 8)) return false;
  try {
    Stream.Seek(0, soBeginning);
    for (const TStatStg& e : StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Size()))->EnumElements())
      if (e.Type == STGTY_STREAM && e.Name == u"PerfectOffice_MAIN") return true;
  } catch (const Exception&) {
  }
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

// Order matters only where two content tests could both accept a file: the
// more specific test comes first.
const TReaderInfo kReaders[] = {
    {"pdb", "PalmDoc and Peanut Press e-books", IsPalmDoc, Make<TPalmDocFile>},
    {"doc", "Word 97-2003 documents and older Word files", IsWordBinary, Make<TMSWordDocument>},
    {"docx", "Word 2007 and later documents and templates", IsWordXDocument, Make<TMSWordXDocument>},
    {"odt", "OpenDocument text documents", IsOdt, Make<TOpenOfficeTextDocument>},
    {"ods", "OpenDocument spreadsheets", IsOds, Make<TOpenOfficeSpreadsheet>},
    {"odp", "OpenDocument presentations", IsOdp, Make<TOpenOfficePresentation>},
    {"wpd", "WordPerfect 6/7/8/9 documents", IsWordPerfect, Make<TWordPerfectFile>},
    {"wri", "Windows Write documents", IsWrite, Make<TWRIFile>},
    {"fb2", "FictionBook 2 e-books", TFictionBook::IsFictionBook, Make<TFictionBook>},
    {"epub", "EPUB e-books (EPUB 2 and 3)", TLKWEPub::IsEPub, Make<TLKWEPub>},
    {"pdf", "PDF documents (also encrypted ones, with --password)", IsPDF, Make<TLKPDFReader>},
};

}  // namespace

std::span<const TReaderInfo> Readers() { return kReaders; }

const TReaderInfo* FindReader(std::string_view Name) {
  for (const auto& r : kReaders)
    if (Name == r.Name) return &r;
  return nullptr;
}

std::vector<const TWideStrings*> SecondaryTexts(TMSWBaseDocument& Doc) {
  std::vector<const TWideStrings*> lists;
  if (auto* word = dynamic_cast<TMSCustomWordDocument*>(&Doc))
    lists = {&word->FootNoteText(), &word->EndNoteText(), &word->HeaderText(), &word->FooterText()};
  return lists;
}

const TReaderInfo* DetectReader(TStream& Stream) {
  const TReaderInfo* found = nullptr;
  for (const auto& r : kReaders) {
    Stream.Seek(0, soBeginning);
    if (r.Detect(Stream)) {
      found = &r;
      break;
    }
  }
  Stream.Seek(0, soBeginning);
  return found;
}

}  // namespace lkw::tool
