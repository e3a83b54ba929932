// PalmDoc ("TEXt"/"REAd"), Peanut Press ("PNRD"/"PPRS"), eReader
// ("PNRd"/"PPrs") and Mobipocket ("BOOK"/"MOBI") e-book reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/framework/MSWBase.h"

namespace lkw {

class TRecordList;
class TMobiHead;
class TPalmDocRenderer;

// Palm database header, 78 bytes at offset 0 (fields in host order after a load).
struct TPDBHeader {
  char Name[32];
  uint16_t Attributes;
  uint16_t Version;
  uint32_t CreateTime;
  uint32_t ModifyTime;
  uint32_t BackupTime;
  uint32_t ModificationNumber;
  uint32_t AppInfoIDc;
  uint32_t SortInfoID;
  char PDBType[4];
  char Creator[4];
  uint32_t IDSeed;
  uint32_t NextRecordList;
  uint16_t NumRecords;
};

// Record 0 of a PalmDoc book, 16 bytes.
struct TPDB_DocRecord0 {
  uint16_t Version;   // 2: PalmDoc compression; other values: stored
  uint16_t spare;
  uint32_t DocSize;
  uint16_t NumRecords;
  uint16_t RecSize;
  uint32_t Position;
};

// Record 0 of a Peanut book, 116 bytes (only the used fields are kept).
struct TPDB_PeanutHeader {
  uint16_t Version;
  uint16_t NumRecords;
};

// Palm database type and creator at offset 60: "TEXt"/"REAd" for PalmDoc,
// "PNRD"/"PPRS" for Peanut books, "PNRd"/"PPrs" for eReader books,
// "BOOK"/"MOBI" for Mobipocket books. Stream at position 0.
bool IsPalmDoc(TStream& Stream);

// The text a reader sees in Palm Markup Language, the markup of eReader
// books, one line at a time: formatting, page, image and anchor tags are
// dropped (the text of links, footnote and sidebar references stays),
// \aNNN and \UXXXX give their characters, and invisible text (\v...\v, which
// may span lines) and chapter names meant only for the index (\C="...") are
// left out.
class TPmlText {
 public:
  // Line is one line without its line break; its bytes are decoded through
  // Table (256 entries). Tagged tells whether the line held markup.
  WideString Line(std::string_view Line, const char16_t* Table, bool& Tagged);

 private:
  bool FInvisible = false;
};

class TPalmDocFile : public TMSWBaseDocument {
 public:
  explicit TPalmDocFile(TComponent* AOwner = nullptr);
  ~TPalmDocFile() override;

  // Reads the book from position 0 of Stream (record offsets are absolute).
  // Text goes out one item per line, between GetTextStart and GetTextFinish;
  // Title is the database name. Raises ECorruptError "Not valid PalmDoc text
  // file." for other databases, EReadError when the headers are cut short
  // and EEncryptionNotSupportedError for DRM books; damaged records give
  // partial text.
  void LoadFromStream(TStream& Stream) override;
  void ClearInternalLists() override;
  bool SupportsTextSink() const override { return true; }
  bool IsPeanutFile() const;
  // An eReader book: Peanut's successor, whose text is Palm Markup Language
  // (PalmDoc- or zlib-compressed, or scrambled and PalmDoc-compressed in the
  // books of its older tools). Title, author and publisher come from the
  // book's metadata record where it has one. DRM books are refused.
  bool IsEReaderFile() const;
  // A Mobipocket book: PalmDoc's successor, whose text is HTML (stored,
  // PalmDoc- or HUFF/CDIC-compressed; DRM books are refused).
  // PalmDoc books whose text happens to be HTML stay plain text.
  bool IsMobiFile() const;

  const TPDBHeader& Header() const { return FHeader; }
  // For a Peanut book: Version, NumRecords of its header and RecSize 4096.
  const TPDB_DocRecord0& Record0() const { return FRecord0; }
  std::string ClassName() const override { return "TPalmDocFile"; }

 private:
  // Reads and checks the database header; raises for other database types.
  void ReadDatabaseHeader(TStream& Stream);
  // The database name's bytes, up to its first zero byte.
  std::string_view DatabaseName() const;
  // PalmDoc and Peanut books: record 0 into FRecord0, which tells how many
  // text records follow it.
  uint32_t ReadDocRecord0(TRecordList& Records);
  // How many of the Claimed text records after record 0 come before the
  // first one that holds something else; warns of the claimed ones left.
  uint32_t TextRecordsBeforeOther(TRecordList& Records, uint32_t Claimed);
  void LoadDoc(TRecordList& Records);
  void LoadEReader(TRecordList& Records);
  void ReadEReaderMetadata(std::string_view Meta, const WideString& Table);
  void ReadPmlText(TRecordList& Records, uint16_t Compression, bool Scrambled, size_t TextRecords,
                   const WideString& Table);
  void LoadMobi(TRecordList& Records);
  void ReadMobiMetadata(const TMobiHead& M);
  // The book's HTML: its text records decompressed and joined.
  RawByteString ReadMobiText(TRecordList& Records, const TMobiHead& M);
  std::unique_ptr<TTextRenderer> CreateRenderer() override;

  TPDBHeader FHeader{};
  TPDB_DocRecord0 FRecord0{};
  // The renderer of the current load (owned by the base).
  TPalmDocRenderer* FLines = nullptr;
};

}  // namespace lkw
