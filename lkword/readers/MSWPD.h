// WordPerfect 6/7/8/9 reader: plain files, and compound files that keep the
// document in a stream named "PerfectOffice_MAIN".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CompoundFile.h"

namespace lkw {

class TWordPerfectRenderer;

// The 24-byte file header at the start of the document (little-endian).
struct TWPDFileHeader {
  uint8_t Ident[4];                  // FF 57 50 43
  uint32_t DocumentPointerPosition;  // first byte of the document text
  uint8_t ProductID;
  uint8_t FileType;
  uint8_t MajorVersion;              // 2 for WordPerfect 6 and later
  uint8_t MinorVersion;
  uint16_t EncryptionPosition;       // non-zero: password protected
  uint16_t IndexHeaderPosition;      // 0: no index of header packets
  uint32_t Reserved;
  int32_t DocumentEnd;               // just past the document text
};

// One 14-byte entry of the index of header packets.
struct TWPDIndexItem {
  uint8_t Flags;  // bit 0: the packet has children
  uint8_t PacketType;
  uint16_t UseCount;
  uint16_t HiddenCount;
  uint32_t DataPacketSize;
  uint32_t DataPointer;
};

// WordPerfect 6-9: the signature FF 57 50 43 (which WordPerfect 5 shares; the
// reader refuses those), or a compound file with a "PerfectOffice_MAIN"
// stream. Stream at position 0.
bool IsWordPerfect(TStream& Stream);

class TWPDHeaderPacket : public TObject {
 public:
  uint16_t PID = 0;  // 1-based number of the index entry
  uint8_t PacketType = 0;
  uint32_t PacketPosition = 0;
  bool HasChildren = false;
  std::string ClassName() const override { return "TWPDHeaderPacket"; }
};
using THeaderPacketList = std::vector<std::unique_ptr<TWPDHeaderPacket>>;

class TWPDFontDescriptor : public TObject {
 public:
  uint16_t PacketID = 0;
  uint16_t CharacterWidth = 0;
  uint16_t AscenderHeight = 0;
  uint16_t xHeight = 0;
  uint16_t DescenderHeight = 0;
  uint16_t ItalicsAdjust = 0;
  uint8_t PrimaryFamilyId = 0;
  uint8_t PrimaryFamilyMemberId = 0;
  uint8_t ScriptingSystem = 0;
  uint8_t PrimaryCharacterSet = 0;
  uint8_t Width = 0;
  uint8_t Weight = 0;
  uint8_t Attributes = 0;
  uint8_t GeneralCharacteristics = 0;
  uint8_t Classification = 0;
  uint8_t FillByte = 0;
  uint8_t FontType = 0;
  uint8_t FontSourceFileType = 0;
  // Stored as WordPerfect characters (character, set) in the file.
  WideString FontName;
  std::string ClassName() const override { return "TWPDFontDescriptor"; }
};
using TWPDFontDescriptorList = std::vector<std::unique_ptr<TWPDFontDescriptor>>;

// What the text bytes 01..1F (20) stand for.
enum TWPDCharacterTable {
  // The format's default extended international characters for 01..20
  // (a with ring, A with ring, ae, ..., sharp s).
  wctInternational,
  // A Cyrillic table for 01..1F (index = byte), for documents written with
  // fonts that put Cyrillic letters there.
  wctCyrillic
};

class TWordPerfectFile : public TMSWBaseDocument {
 public:
  explicit TWordPerfectFile(TComponent* AOwner = nullptr);
  ~TWordPerfectFile() override;

  void ClearInternalLists() override;
  // A compound file goes to LoadIStorage, anything else to ReadDocFromStream
  // (from the stream's current position).
  void LoadFromStream(TStream& Stream) override;
  // A file that starts with a whole compound-file header is opened as one, so
  // that damage to it is reported as such; other files go to LoadFromStream.
  void LoadFromFile(const std::string& AFileName) override;
  bool IsPasswordProtected() override;

  // Reads every stream named exactly "PerfectOffice_MAIN"; nothing when
  // there is none.
  void LoadIStorage(const TOleStorage& Storage);
  // Reads a document whose header starts at the stream's current position;
  // offsets in the file are taken from there. Raises "Could not read the
  // password protected file", "File stream is not valid WordPerfect 6/7/8/9
  // document.", "Incorrect value for numPIDs" and "Incorrect character instead
  // WP_TOP_EXTENDED_CHARACTER" (then no text is added), EReadError when the
  // header or the packet index is cut short. A function group that would run
  // past the end of the text ends the text there (with a warning).
  void ReadDocFromStream(TStream& Stream);
  // Reads one font descriptor packet; a packet outside the stream is skipped.
  // The stream position is kept.
  void ParseFontDescriptor(TStream& Stream, uint16_t PacketID, uint32_t DataPointer, uint32_t DataPacketSize);
  // Tells what the function code Code, whose code byte was just read, puts
  // in the text (characters go out with the next code that is not one);
  // reads the rest of its group from Stream and leaves Stream after it.
  void ProcessSysCharacter(TStream& Stream, uint8_t Code);

  // The text of WordPerfect character Number of character set Set; U+FFFD
  // when the pair names no known character.
  static WideString WPCharacterToUnicode(uint8_t Number, uint8_t Set);

  const TWPDFileHeader& Header() const { return FHeader; }
  const THeaderPacketList& HeaderPacketList() const { return FHeaderPacketList; }
  const TWPDFontDescriptorList& FontDescriptorList() const { return FFontDescriptorList; }
  TWPDCharacterTable CharacterTable() const { return FCharacterTable; }
  void SetCharacterTable(TWPDCharacterTable Value) { FCharacterTable = Value; }

  std::string ClassName() const override { return "TWordPerfectFile"; }

 protected:
  // Inside deleted text (undo): its text and most of its codes are dropped.
  bool UndoOn = false;

  std::unique_ptr<TTextRenderer> CreateRenderer() override;

 private:
  // The header of a variable-length group (defined with the reader).
  struct TGroup;

  // The steps of ReadDocFromStream.
  void ReadHeader(TStream& Stream);
  void CheckHeader();
  void ReadPacketIndex(TStream& Stream);
  void ReadText(TStream& Stream);
  // Closes what is open at the end of the text.
  void EndText();

  // ProcessSysCharacter by the kind of code: single bytes 00..CF, groups of
  // their own length D0..EF, groups of a fixed length F0..FE.
  void SingleByteFunction(uint8_t Code);
  void VariableLengthGroup(TStream& Stream, uint8_t Code);
  void FixedLengthGroup(TStream& Stream, uint8_t Code);
  // The groups that produce text or change the formatting; each reads its
  // contents from Stream, which stands after the group's header.
  void EndOfLineGroup(uint8_t Sub);
  void MarginGroup(TStream& Stream, const TGroup& G);
  void ParagraphGroup(TStream& Stream, const TGroup& G);
  void CharacterGroup(TStream& Stream, const TGroup& G);
  void TabGroup(uint8_t Sub);
  void ExtendedCharacter(TStream& Stream);
  void AttributeGroup(TStream& Stream, bool On);
  // The structure the end-of-line codes give.
  void HardReturn();
  void TableRow();
  void TableCell();
  void TableOff();
  // The output, once the text read so far (FRun) is told.
  TDocumentOutput& Told();

  // End of the text in Stream, which ProcessSysCharacter reads.
  int64_t TextEnd(TStream& Stream) const { return FTextEnd >= 0 ? FTextEnd : Stream.Size(); }
  // Ends the text: moves Stream to the end of the text and notes why.
  void EndTextAt(TStream& Stream);

  TWPDFileHeader FHeader{};
  THeaderPacketList FHeaderPacketList;
  TWPDFontDescriptorList FFontDescriptorList;
  TWPDCharacterTable FCharacterTable = wctInternational;
  // End of the text in the stream that ProcessSysCharacter reads; -1: the
  // stream's size.
  int64_t FTextEnd = -1;
  // Stream position of the file header; offsets in the file count from it.
  int64_t FBase = 0;
  // The formatting the codes so far set, the text not yet told, and whether
  // a table row began.
  TParagraph FFormat;
  TRunStyle FStyle;
  WideString FRun;
  bool FInTable = false;
  // The renderer Output() made for this load.
  TWordPerfectRenderer* FRenderer = nullptr;
};

}  // namespace lkw
