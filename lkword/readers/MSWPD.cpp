#include "lkword/readers/MSWPD.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "lkword/framework/DocumentOutput.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/framework/WordPerfectRenderer.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/readers/MSWPDTables.h"

namespace lkw {

namespace {

const char* const SNotValidWordPerfect = "File stream is not valid WordPerfect 6/7/8/9 document.";
const char* const SIncorrectNumPIDs = "Incorrect value for numPIDs";
const char* const SIncorrectExtendedCharacter = "Incorrect character instead WP_TOP_EXTENDED_CHARACTER";
const char* const SGroupPastEnd = "a function group runs past the end of the document text; the text ends there";
const char* const SFontPacketOutside = "a font descriptor packet lies outside the file; it was skipped";

const WideString kPerfectOfficeMain = u"PerfectOffice_MAIN";

constexpr int64_t kHeaderSize = 24;
constexpr int64_t kIndexCountOffset = 2;
constexpr int64_t kIndexItemsOffset = 14;
constexpr int64_t kIndexItemSize = 14;
constexpr int64_t kFontDescriptorFixedSize = 24;
constexpr uint8_t kWordPerfect6Major = 2;
constexpr uint8_t kPacketFontDescriptor = 0x20;
constexpr uint8_t kPacketDesiredFontDescriptor = 0x55;
// Margins are in WordPerfect units, 1200 to the inch.
constexpr int kWPUPerInch = 1200;
constexpr int kTwipsPerInch = 1440;
// Font sizes in the font change group are in fiftieths of a point.
constexpr int kFontSizeUnitsPerPoint = 50;

// Text bytes: printable ASCII runs, the low-byte character tables, and
// function codes from kFirstVariableGroup on.
constexpr uint8_t kFirstPrintable = 0x21;
constexpr uint8_t kLastPrintable = 0x7E;
constexpr uint8_t kFirstVariableGroup = 0xD0;
constexpr uint8_t kFirstFixedGroup = 0xF0;
constexpr uint8_t kReservedCode = 0xFF;
// Sizes of the fixed-length groups F0..FE, both code bytes included.
constexpr uint8_t kFixedGroupSize[15] = {4, 5, 3, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 8, 8};
// Subfunctions of the groups.
constexpr uint8_t kParagraphJustification = 5;
constexpr uint8_t kFontFace = 0x1A;
constexpr uint8_t kFontSize = 0x1B;
constexpr int64_t kFontChangeSize = 13;

// Restores a member to a value when the scope ends (also on exceptions).
template <typename T>
class TRestore {
 public:
  TRestore(T& Ref, T Value) : FRef(Ref), FValue(Value) {}
  ~TRestore() { FRef = FValue; }

 private:
  T& FRef;
  T FValue;
};

// The justification values of the paragraph group.
TAlignment JustificationAlignment(uint8_t Value) {
  switch (Value) {
    case 0: return TAlignment::Left;
    case 1: return TAlignment::Justify;
    case 2: return TAlignment::Center;
    case 3: return TAlignment::Right;
    default: return TAlignment::Default;
  }
}

// The compound file Stream holds from its position; nullptr, with Stream
// back where it was, when it does not start like one or cannot be opened as
// one: then it is read as a plain document.
std::unique_ptr<TOleStorage> OpenCompoundFile(TStream& Stream) {
  const int64_t saved = Stream.Position();
  uint8_t signature[8];
  const bool compound = Stream.Read(signature, 8) == 8 && IsCompoundFileData(signature, 8);
  Stream.Seek(saved, soBeginning);
  if (!compound) return nullptr;
  try {
    return StgOpenStorageOnStream(Stream);
  } catch (const EOleError&) {
    Stream.Seek(saved, soBeginning);
    return nullptr;
  }
}

}  // namespace

// The header of a variable-length group D0..EF, read just after its code
// byte: subfunction, 16-bit size of the whole group and (mostly) a flags
// byte. Next is the position just after the group.
struct TWordPerfectFile::TGroup {
  uint8_t Sub = 0;
  uint16_t Size = 0;
  uint8_t Flags = 0;
  int64_t Next = 0;

  // False when the header or the group would run past End, or the size is
  // too small to move past the header (a corrupt size must not make us loop).
  bool Read(TStream& Stream, int64_t End, bool WithFlags) {
    const int64_t p = Stream.Position();
    const int64_t headerBytes = WithFlags ? 4 : 3;
    if (p + headerBytes > End) return false;
    uint8_t h[4];
    Stream.ReadBuffer(h, headerBytes);
    Sub = h[0];
    Size = LoadLE16(h + 1);
    Flags = WithFlags ? h[3] : 0;
    Next = p + int64_t{Size} - 1;
    return Next >= p + headerBytes && Next <= End;
  }
  // Whether N more bytes of the group's contents are there.
  bool Has(TStream& Stream, int64_t N) const { return Stream.Position() + N <= Next; }
};

WideString TWordPerfectFile::WPCharacterToUnicode(uint8_t Number, uint8_t Set) { return WPCharacterText(Number, Set); }

TWordPerfectFile::TWordPerfectFile(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TWordPerfectFile::~TWordPerfectFile() { ClearInternalLists(); }

void TWordPerfectFile::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  FFontDescriptorList.clear();
  FHeaderPacketList.clear();
  FHeader = TWPDFileHeader{};
  FBase = 0;
  UndoOn = false;
  FFormat = TParagraph();
  FStyle = TRunStyle();
  FRun.clear();
  FInTable = false;
  FRenderer = nullptr;
}

std::unique_ptr<TTextRenderer> TWordPerfectFile::CreateRenderer() {
  auto renderer = std::make_unique<TWordPerfectRenderer>(*this, RendererPath());
  FRenderer = renderer.get();
  return renderer;
}

bool TWordPerfectFile::IsPasswordProtected() { return FHeader.EncryptionPosition != 0; }

void TWordPerfectFile::LoadFromFile(const std::string& AFileName) {
  if (!StgIsStorageFile(AFileName)) return TMSWBaseDocument::LoadFromFile(AFileName);
  try {
    CheckFileExists(AFileName);
    ClearInternalLists();
    LoadIStorage(*StgOpenStorage(AFileName));
  } catch (...) {
    RethrowAsException();
  }
}

void TWordPerfectFile::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  if (const std::unique_ptr<TOleStorage> storage = OpenCompoundFile(Stream))
    LoadIStorage(*storage);
  else
    ReadDocFromStream(Stream);
} catch (...) {
  RethrowAsException();
}

void TWordPerfectFile::LoadIStorage(const TOleStorage& Storage) {
  for (const TStatStg& element : Storage.EnumElements()) {
    if (element.Type != STGTY_STREAM || element.Name != kPerfectOfficeMain) continue;
    std::unique_ptr<TStream> stream = Storage.OpenStream(element.Name);
    if (!stream) continue;
    stream->Seek(0, soBeginning);
    ReadDocFromStream(*stream);
  }
}

void TWordPerfectFile::ReadDocFromStream(TStream& Stream) {
  ClearInternalLists();
  FBase = Stream.Position();
  ReadHeader(Stream);
  CheckHeader();
  if (FHeader.IndexHeaderPosition != 0) ReadPacketIndex(Stream);
  if (!FParseItems.Contains(wpiText)) return;
  Output().BeginDocument();
  Output().BeginParagraph(FFormat);
  ReadText(Stream);
  EndText();
  Output().EndDocument();
}

void TWordPerfectFile::ReadHeader(TStream& Stream) {
  uint8_t h[kHeaderSize];
  Stream.ReadBuffer(h, kHeaderSize);
  std::memcpy(FHeader.Ident, h, 4);
  FHeader.DocumentPointerPosition = LoadLE32(h + 4);
  FHeader.ProductID = h[8];
  FHeader.FileType = h[9];
  FHeader.MajorVersion = h[10];
  FHeader.MinorVersion = h[11];
  FHeader.EncryptionPosition = LoadLE16(h + 12);
  FHeader.IndexHeaderPosition = LoadLE16(h + 14);
  FHeader.Reserved = LoadLE32(h + 16);
  FHeader.DocumentEnd = static_cast<int32_t>(LoadLE32(h + 20));
}

void TWordPerfectFile::CheckHeader() {
  if (IsPasswordProtected()) throw EPasswordError(SPasswordProtected);
  if (std::memcmp(FHeader.Ident, "\xFFWPC", 4) != 0) throw ECorruptError(SNotValidWordPerfect);
  // WordPerfect 5.x and older say 0 here: a sound file of another format.
  if (FHeader.MajorVersion != kWordPerfect6Major) throw EUnsupportedError(SNotValidWordPerfect);
}

void TWordPerfectFile::ReadPacketIndex(TStream& Stream) {
  const int64_t indexHeader = FBase + FHeader.IndexHeaderPosition;
  Stream.Seek(indexHeader + kIndexCountOffset, soBeginning);
  const uint16_t count = Stream.ReadU16LE();
  Stream.Seek(indexHeader + kIndexItemsOffset, soBeginning);
  // Entry 0 is the index header itself.
  for (uint16_t i = 1; i < count; ++i) {
    uint8_t b[kIndexItemSize];
    Stream.ReadBuffer(b, kIndexItemSize);
    const TWPDIndexItem item{b[0], b[1], LoadLE16(b + 2), LoadLE16(b + 4), LoadLE32(b + 6), LoadLE32(b + 10)};
    if (item.PacketType == kPacketFontDescriptor || item.PacketType == kPacketDesiredFontDescriptor)
      ParseFontDescriptor(Stream, i, item.DataPointer, item.DataPacketSize);
    auto packet = std::make_unique<TWPDHeaderPacket>();
    packet->PID = i;
    packet->PacketType = item.PacketType;
    packet->PacketPosition = item.DataPointer;
    packet->HasChildren = (item.Flags & 1) != 0;
    FHeaderPacketList.push_back(std::move(packet));
  }
}

void TWordPerfectFile::ParseFontDescriptor(TStream& Stream, uint16_t PacketID, uint32_t DataPointer,
                                           uint32_t DataPacketSize) {
  const int64_t saved = Stream.Position();
  const int64_t start = FBase + int64_t{DataPointer};
  const int64_t size = Stream.Size();
  if (start + kFontDescriptorFixedSize > size) {
    AddWarning(SFontPacketOutside);
    return;
  }
  uint8_t b[kFontDescriptorFixedSize];
  Stream.Seek(start, soBeginning);
  Stream.ReadBuffer(b, kFontDescriptorFixedSize);
  auto fd = std::make_unique<TWPDFontDescriptor>();
  fd->PacketID = PacketID;
  fd->CharacterWidth = LoadLE16(b);
  fd->AscenderHeight = LoadLE16(b + 2);
  fd->xHeight = LoadLE16(b + 4);
  fd->DescenderHeight = LoadLE16(b + 6);
  fd->ItalicsAdjust = LoadLE16(b + 8);
  fd->PrimaryFamilyId = b[10];
  fd->PrimaryFamilyMemberId = b[11];
  fd->ScriptingSystem = b[12];
  fd->PrimaryCharacterSet = b[13];
  fd->Width = b[14];
  fd->Weight = b[15];
  fd->Attributes = b[16];
  fd->GeneralCharacteristics = b[17];
  fd->Classification = b[18];
  fd->FillByte = b[19];
  fd->FontType = b[20];
  fd->FontSourceFileType = b[21];
  // The name is in WordPerfect characters (number, set), ended by a zero
  // word; it never reaches past the packet or the file.
  int64_t nameLen = LoadLE16(b + 22);
  if (DataPacketSize >= kFontDescriptorFixedSize)
    nameLen = std::min<int64_t>(nameLen, DataPacketSize - kFontDescriptorFixedSize);
  RawByteString name = Stream.ReadBytes(nameLen);
  for (size_t i = 0; i + 1 < name.size(); i += 2) {
    const uint8_t number = static_cast<uint8_t>(name[i]);
    const uint8_t set = static_cast<uint8_t>(name[i + 1]);
    if (number == 0 && set == 0) break;
    fd->FontName += WPCharacterText(number, set);
  }
  FFontDescriptorList.push_back(std::move(fd));
  Stream.Seek(saved, soBeginning);
}

void TWordPerfectFile::ReadText(TStream& Stream) {
  // The text is read into memory once; a DocumentEnd beyond the stream is cut
  // to the stream's end.
  const int64_t available = Stream.Size() - FBase;
  const int64_t docEnd = std::min<int64_t>(FHeader.DocumentEnd, available);
  const int64_t docStart = FHeader.DocumentPointerPosition;
  if (docStart >= docEnd) return;
  Stream.Seek(FBase + docStart, soBeginning);
  const RawByteString bytes = Stream.ReadBytes(docEnd - docStart);
  const auto* d = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto n = static_cast<int64_t>(bytes.size());
  TCustomMemoryStream doc(bytes.data(), bytes.size());
  TRestore<int64_t> restoreEnd(FTextEnd, -1);
  FTextEnd = n;
  const TDocumentOutput& out = Output();
  FRenderer->Reserve(bytes.size());
  const bool international = FCharacterTable == wctInternational;
  const uint8_t lastTableByte = international ? 0x20 : 0x1F;

  // Text gathers in FRun until a code that is not text.
  int64_t pos = 0;
  while (pos < n && !out.Cancelled()) {
    const uint8_t b = d[pos];
    if (!UndoOn && b >= kFirstPrintable && b <= kLastPrintable) {
      int64_t runEnd = pos + 1;
      while (runEnd < n && d[runEnd] >= kFirstPrintable && d[runEnd] <= kLastPrintable) ++runEnd;
      FRun.append(d + pos, d + runEnd);
      pos = runEnd;
      continue;
    }
    if (!UndoOn && b >= 0x01 && b <= lastTableByte) {
      FRun += international ? kWPInternationalLowBytes[b - 1] : kWPCyrillicLowBytes[b];
      ++pos;
      continue;
    }
    doc.Seek(pos + 1, soBeginning);
    ProcessSysCharacter(doc, b);
    pos = doc.Position();
  }
}

void TWordPerfectFile::EndText() {
  TDocumentOutput& out = Told();
  out.EndParagraph();
  if (!FInTable) return;
  out.EndCell();
  out.EndRow();
  out.EndTable();
  FInTable = false;
}

TDocumentOutput& TWordPerfectFile::Told() {
  TDocumentOutput& out = Output();
  if (!FRun.empty()) {
    out.Text(FRun, FStyle);
    FRun.clear();
  }
  return out;
}

void TWordPerfectFile::HardReturn() {
  TDocumentOutput& out = Told();
  out.EndParagraph();
  out.BeginParagraph(FFormat);
}

// A row code begins the table when none is open.
void TWordPerfectFile::TableRow() {
  TDocumentOutput& out = Told();
  out.EndParagraph();
  if (FInTable) {
    out.EndCell();
    out.EndRow();
  } else {
    out.BeginTable();
    FInTable = true;
  }
  out.BeginRow();
  out.BeginCell();
  out.BeginParagraph(FFormat);
}

// A cell code outside any table separates text as a tab would.
void TWordPerfectFile::TableCell() {
  TDocumentOutput& out = Told();
  if (!FInTable) {
    out.Tab();
    return;
  }
  out.EndParagraph();
  out.EndCell();
  out.BeginCell();
  out.BeginParagraph(FFormat);
}

// Outside a table the code ends the paragraph all the same.
void TWordPerfectFile::TableOff() {
  TDocumentOutput& out = Told();
  out.EndParagraph();
  if (FInTable) {
    out.EndCell();
    out.EndRow();
    out.EndTable();
    FInTable = false;
  }
  out.BeginParagraph(FFormat);
}

void TWordPerfectFile::EndTextAt(TStream& Stream) {
  Stream.Seek(TextEnd(Stream), soBeginning);
  AddWarning(SGroupPastEnd);
}

void TWordPerfectFile::ProcessSysCharacter(TStream& Stream, uint8_t Code) {
  if (Code < kFirstVariableGroup) return SingleByteFunction(Code);
  if (Code < kFirstFixedGroup) return VariableLengthGroup(Stream, Code);
  if (Code == kReservedCode) return;
  FixedLengthGroup(Stream, Code);
}

void TWordPerfectFile::SingleByteFunction(uint8_t Code) {
  // Hard returns and page ends stay in deleted text.
  switch (Code) {
    case 0x87:  // dormant hard return
    case 0xCC:  // hard end of line
    case 0xC8:  // hard end of column variants
    case 0xC9:
    case 0xCA:
    case 0xCB:
      return HardReturn();
    case 0xBD:  // table off variants
    case 0xBE:
    case 0xBF:
      return TableOff();
    case 0xC0:  // table row variants
    case 0xC1:
    case 0xC2:
    case 0xC3:
    case 0xC4:
    case 0xC5:
      return TableRow();
    case 0xC7:  // hard end of page
      return Told().PageBreak();
    default:
      break;
  }
  if (UndoOn) return;
  switch (Code) {
    case 0x80:  // soft space
      FRun += u' ';
      break;
    case 0x81:  // hard space
      FRun += u'\u00A0';
      break;
    case 0x84:  // hard hyphen
      FRun += u'-';
      break;
    case 0xC6:  // table cell
      TableCell();
      break;
    case 0xCD:  // soft end of line variants
    case 0xCE:
    case 0xCF:
      Told().LineBreak();
      break;
    default:  // 0x88 and every other single byte: nothing
      break;
  }
}

void TWordPerfectFile::VariableLengthGroup(TStream& Stream, uint8_t Code) {
  // EOL (D0) and tab (E0) groups are read without their flags byte: only the
  // subfunction matters there.
  const bool withFlags = Code != 0xD0 && Code != 0xE0;
  TGroup g;
  if (!g.Read(Stream, TextEnd(Stream), withFlags)) return EndTextAt(Stream);
  switch (Code) {
    case 0xD0:  // end of line, column, page; table cells and rows
      EndOfLineGroup(g.Sub);
      break;
    case 0xD2:
      MarginGroup(Stream, g);
      break;
    case 0xD3:
      ParagraphGroup(Stream, g);
      break;
    case 0xD4:  // character group: font face and size changes
      CharacterGroup(Stream, g);
      break;
    case 0xDC:
    case 0xDD:  // style group
      Told().FormatCode(FFormat, FStyle, ffParagraphProperties);
      break;
    case 0xDF:  // box group
      if (g.Has(Stream, 1) && Stream.ReadU8() == 0) throw ECorruptError(SIncorrectNumPIDs);
      break;
    case 0xE0:
      TabGroup(g.Sub);
      break;
    default:  // every other group is skipped whole
      break;
  }
  Stream.Seek(g.Next, soBeginning);
}

void TWordPerfectFile::EndOfLineGroup(uint8_t Sub) {
  if (UndoOn) return;
  switch (Sub) {
    case 1: case 2: case 3: case 20: case 21: case 22:
      return Told().LineBreak();
    case 4: case 5: case 6: case 23: case 24: case 25:
      return HardReturn();
    case 7:
      FRun += u' ';
      return;
    case 9: case 28:
      return Told().PageBreak();
    case 0x0A:  // table cell
      return TableCell();
    case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10:  // table rows
      return TableRow();
    case 0x11: case 0x12: case 0x13:  // table off
      return TableOff();
    default:
      return;
  }
}

void TWordPerfectFile::MarginGroup(TStream& Stream, const TGroup& G) {
  // Subfunction 0: left margin, 1: right margin (2: margins of the page,
  // which the text does not show).
  if ((G.Sub != 0 && G.Sub != 1) || !G.Has(Stream, 4)) return;
  Stream.ReadU16LE();
  const int twips = Stream.ReadU16LE() * kTwipsPerInch / kWPUPerInch;
  if (UndoOn) return;
  if (G.Sub == 0)
    FFormat.LeftIndent = twips;
  else
    FFormat.RightIndent = twips;
  Told().FormatCode(FFormat, FStyle, G.Sub == 0 ? ffLeftIndent : ffRightIndent);
}

void TWordPerfectFile::ParagraphGroup(TStream& Stream, const TGroup& G) {
  uint32_t fields = ffParagraphProperties;
  if (G.Has(Stream, 2)) {
    Stream.ReadU16LE();
    if (G.Sub == kParagraphJustification && !UndoOn && G.Has(Stream, 1)) {
      FFormat.Alignment = JustificationAlignment(Stream.ReadU8());
      fields = ffAlignment;
    }
  }
  Told().FormatCode(FFormat, FStyle, fields);
}

void TWordPerfectFile::CharacterGroup(TStream& Stream, const TGroup& G) {
  if ((G.Sub != kFontFace && G.Sub != kFontSize) || !G.Has(Stream, kFontChangeSize)) return;
  uint8_t v[kFontChangeSize];
  Stream.ReadBuffer(v, kFontChangeSize);
  TDocumentOutput& out = Told();
  FStyle.Font = LoadLE16(v + 9);
  FStyle.HalfPoints = LoadLE16(v + 11) * 2 / kFontSizeUnitsPerPoint;
  out.FormatCode(FFormat, FStyle, ffFont);
}

void TWordPerfectFile::TabGroup(uint8_t Sub) {
  if (UndoOn) return;
  // The tab's kind is in the high bits of the subfunction.
  switch (Sub / 8) {
    case 0: case 1: case 2: case 4: case 6: case 7: case 9: case 10: case 18: case 26:
      return Told().AlignedTab(TAlignment::Default);
    case 8:  // centred on the margins
      return Told().AlignedTab(TAlignment::Center);
    case 16:  // flush right
      return Told().AlignedTab(TAlignment::Right);
    default:
      return;
  }
}

void TWordPerfectFile::FixedLengthGroup(TStream& Stream, uint8_t Code) {
  const int64_t p = Stream.Position();
  const int64_t rest = kFixedGroupSize[Code - kFirstFixedGroup] - 1;
  if (p + rest > TextEnd(Stream)) return EndTextAt(Stream);
  switch (Code) {
    case 0xF0:
      ExtendedCharacter(Stream);
      break;
    case 0xF1: {  // undo: 0 starts deleted text, 1 ends it
      const uint8_t u = Stream.ReadU8();
      if (u == 0) UndoOn = true;
      else if (u == 1) UndoOn = false;
      break;
    }
    case 0xF2:
    case 0xF3:
      AttributeGroup(Stream, Code == 0xF2);
      break;
    default:  // F4..FE: reserved, skipped whole
      break;
  }
  Stream.Seek(p + rest, soBeginning);
}

void TWordPerfectFile::ExtendedCharacter(TStream& Stream) {
  // Number, set, then the code byte again.
  const uint8_t number = Stream.ReadU8();
  const uint8_t set = Stream.ReadU8();
  if (Stream.ReadU8() != kFirstFixedGroup) throw ECorruptError(SIncorrectExtendedCharacter);
  if (!UndoOn) FRun += WPCharacterText(number, set);
}

void TWordPerfectFile::AttributeGroup(TStream& Stream, bool On) {
  if (UndoOn) return;
  bool TRunStyle::*attribute = nullptr;
  uint32_t field = 0;
  switch (Stream.ReadU8()) {
    case 5:
      attribute = &TRunStyle::Superscript;
      field = ffSuperscript;
      break;
    case 6:
      attribute = &TRunStyle::Subscript;
      field = ffSubscript;
      break;
    case 8:
      attribute = &TRunStyle::Italic;
      field = ffItalic;
      break;
    case 12:
      attribute = &TRunStyle::Bold;
      field = ffBold;
      break;
    case 13:
      attribute = &TRunStyle::Strike;
      field = ffStrike;
      break;
    case 14:
      attribute = &TRunStyle::Underline;
      field = ffUnderline;
      break;
    default:
      return;
  }
  // The run told so far keeps the attributes it had.
  TDocumentOutput& out = Told();
  FStyle.*attribute = On;
  out.FormatCode(FFormat, FStyle, field);
}

bool IsWordPerfect(TStream& Stream) {
  uint8_t head[8] = {};
  if (Stream.Read(head, 8) < 4) return false;
  if (std::memcmp(head, "\xFFWPC", 4) == 0) return true;
  if (!IsCompoundFileData(head, 8)) return false;
  Stream.Seek(0, soBeginning);
  for (const TStatStg& e : StgOpenStorageOnStream(Stream)->EnumElements())
    if (e.Type == STGTY_STREAM && e.Name == kPerfectOfficeMain) return true;
  return false;
}

}  // namespace lkw
