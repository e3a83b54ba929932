#include "lkword/readers/MSWRI.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "lkword/framework/WriteRenderer.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const SFcFirstWrong = "fcFirst wrong";
const char* const SStreamReadError = "Stream read error";

constexpr int64_t kPageSize = 128;
constexpr uint32_t kTextStart = 128;
// A property page: fcFirst (4 bytes), then 6-byte entries, the entry count
// in the last byte. 123 bytes hold at most 20 entries.
constexpr int kEntriesOffset = 4;
constexpr int kEntrySize = 6;
constexpr int kMaxEntries = 20;
constexpr int kCountOffset = 127;
constexpr uint16_t kDefaultProperties = 0xFFFF;
constexpr uint16_t kFontEntryOnNextPage = 0xFFFF;
constexpr int kDefaultHalfPoints = 24;
// Paragraph property byte 17: bits 1-2 header/footer, bit 4 picture.
constexpr int kParagraphFlagsByte = 17;
constexpr uint8_t kHeaderFooterBits = 0x06;
constexpr uint8_t kPictureBit = 0x10;
// Files written by Word for DOS name their OEM code page at offset 126.
constexpr int kWordCodePageOffset = 126;
constexpr uint32_t kDefaultOemCodePage = 437;

// Property byte N (from 1) of the block an entry points at, when the block
// holds it and it lies on the page.
struct TPropertyBlock {
  const uint8_t* Page = nullptr;
  int Start = -1;  // page offset of the length byte; -1: default properties
  int Length = 0;

  TPropertyBlock(const uint8_t* APage, uint16_t bfprop) : Page(APage) {
    if (bfprop == kDefaultProperties || kEntriesOffset + int{bfprop} >= kCountOffset) return;
    Start = kEntriesOffset + bfprop;
    Length = std::min<int>(Page[Start], kCountOffset - 1 - Start);
  }
  bool Has(int N) const { return Start >= 0 && Length >= N; }
  uint8_t Byte(int N) const { return Page[Start + N]; }
};

// The run's style; a font beyond the face-name table is its last font.
TRunStyle DecodeCharProps(const TPropertyBlock& B, size_t FontCount) {
  TRunStyle s;
  int font = 0;
  s.HalfPoints = kDefaultHalfPoints;
  if (B.Has(2)) {
    const uint8_t b = B.Byte(2);
    s.Bold = (b & 0x01) != 0;
    s.Italic = (b & 0x02) != 0;
    font = b >> 2;
  }
  if (B.Has(3)) s.HalfPoints = B.Byte(3);
  if (B.Has(4)) s.Underline = (B.Byte(4) & 0x01) != 0;
  if (B.Has(5)) font |= (B.Byte(5) & 0x03) << 6;
  if (B.Has(6)) {
    const auto position = static_cast<int8_t>(B.Byte(6));
    s.Superscript = position > 0;
    s.Subscript = position < 0;
  }
  s.Font = std::min(font, static_cast<int>(FontCount) - 1);
  return s;
}

}  // namespace

TWRIFile::TWRIFile(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TWRIFile::~TWRIFile() { ClearInternalLists(); }

void TWRIFile::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  FFontTable.clear();
  FChar = TCharCursor{};
  FRenderer = nullptr;
}

std::unique_ptr<TTextRenderer> TWRIFile::CreateRenderer() {
  auto renderer = std::make_unique<TWriteRenderer>(*this, RendererPath());
  FRenderer = renderer.get();
  return renderer;
}

void TWRIFile::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  ReadHeader(Stream);
  const RawByteString text = ReadTextBytes(Stream);
  if (!FParseItems.Contains(wpiText)) return;
  ReadFontTable(Stream);
  TDocumentOutput& out = Output();
  std::vector<WideString> names;
  for (const auto& font : FFontTable) {
    const std::string_view raw(font->Name);
    names.push_back(MultiByteToWide(DefaultCodePage(), raw.substr(0, raw.find('\0'))));
  }
  FRenderer->SetFontNames(std::move(names));
  out.BeginDocument();
  ReadPAP(Stream, text);
  out.EndDocument();
} catch (...) {
  RethrowAsException();
}

void TWRIFile::ReadHeader(TStream& Stream) {
  uint8_t h[kPageSize] = {};
  Stream.Seek(0, soBeginning);
  const int64_t got = Stream.Read(h, kPageSize);
  if (got < kWRIHeaderSize) throw EReadError(SStreamReadError);
  FHeader.wIdent = LoadLE16(h);
  FHeader.dty = LoadLE16(h + 2);
  FHeader.wTool = LoadLE16(h + 4);
  FHeader.Reserved1 = LoadLE16(h + 6);
  FHeader.Reserved2 = LoadLE16(h + 8);
  FHeader.Reserved3 = LoadLE16(h + 10);
  FHeader.Reserved4 = LoadLE16(h + 12);
  FHeader.fcMac = LoadLE32(h + 14);
  FHeader.pnPara = LoadLE16(h + 18);
  FHeader.pnFntb = LoadLE16(h + 20);
  FHeader.pnSep = LoadLE16(h + 22);
  FHeader.pnSetb = LoadLE16(h + 24);
  FHeader.pnPgtb = LoadLE16(h + 26);
  FHeader.pnFfntb = LoadLE16(h + 28);
  std::memcpy(FHeader.szSsht, h + 30, sizeof FHeader.szSsht);
  FHeader.pnMac = LoadLE16(h + 96);
  FTextCodePage = DefaultCodePage();
  if (WrittenByWord()) {
    const uint16_t oem = got >= kPageSize ? LoadLE16(h + kWordCodePageOffset) : 0;
    FTextCodePage = oem != 0 && IsCodePageSupported(oem) ? oem : kDefaultOemCodePage;
  }
}

RawByteString TWRIFile::ReadTextBytes(TStream& Stream) const {
  const int64_t textLength = FHeader.fcMac > kTextStart ? int64_t{FHeader.fcMac} - kTextStart : 0;
  if (kTextStart + textLength > Stream.Size()) throw EReadError(SStreamReadError);
  Stream.Seek(kTextStart, soBeginning);
  return Stream.ReadBytes(textLength);
}

void TWRIFile::ReadFontTable(TStream& Stream) {
  FFontTable.clear();
  // Files written by Word (pnMac 0) keep no face-name table.
  if (FHeader.pnFfntb == 0 || FHeader.pnFfntb == FHeader.pnMac || WrittenByWord()) return;
  const int64_t size = Stream.Size();
  int64_t page = FHeader.pnFfntb;
  int64_t pos = page * kPageSize;
  if (pos + 2 > size) return;
  Stream.Seek(pos, soBeginning);
  const uint16_t count = Stream.ReadU16LE();
  pos += 2;
  // Every step reads at least two bytes or moves to a later page, so a
  // claimed count the file cannot hold ends with the file.
  while (FFontTable.size() < count && pos + 2 <= size) {
    const uint16_t cb = Stream.ReadU16LE();
    pos += 2;
    if (cb == 0) break;
    if (cb == kFontEntryOnNextPage) {
      ++page;
      pos = page * kPageSize;
      Stream.Seek(pos, soBeginning);
      continue;
    }
    if (pos + cb >= size) break;
    auto font = std::make_unique<TWRIFont>();
    font->ID = Stream.ReadU8();
    font->Name = Stream.ReadBytes(cb - 1);
    pos += cb;
    FFontTable.push_back(std::move(font));
  }
}

void TWRIFile::ReadPropertyPage(TStream& Stream, uint32_t Page, uint32_t Fc, uint8_t (&Data)[128],
                                int& Entries) {
  Stream.Seek(int64_t{Page} * kPageSize, soBeginning);
  Stream.ReadBuffer(Data, kPageSize);
  if (LoadLE32(Data) != Fc) throw ECorruptError(SFcFirstWrong);
  Entries = std::min<int>(Data[kCountOffset], kMaxEntries);
}

void TWRIFile::ReadPAP(TStream& Stream, const RawByteString& Text) {
  TDocumentOutput& out = Output();
  FChar = TCharCursor{};
  uint32_t expected = kTextStart;
  uint32_t page = FHeader.pnPara;
  uint8_t data[kPageSize];
  while (!out.Cancelled()) {
    int entries = 0;
    ReadPropertyPage(Stream, page++, expected, data, entries);
    for (int i = 0; i < entries && !out.Cancelled(); ++i) {
      const uint8_t* e = data + kEntriesOffset + i * kEntrySize;
      const uint32_t fcLim = LoadLE32(e);
      // A paragraph that ends before it starts would send the text out
      // again; the runs are out of order.
      if (fcLim < expected) throw ECorruptError(SFcFirstWrong);
      out.BeginParagraph(TParagraph());
      const TPropertyBlock props(data, LoadLE16(e + 4));
      const uint8_t flags = props.Has(kParagraphFlagsByte) ? props.Byte(kParagraphFlagsByte) : 0;
      if ((flags & kHeaderFooterBits) == 0) {
        if ((flags & kPictureBit) && !WrittenByWord())
          ReadPicture();
        else
          ReadCharInfo(Stream, expected, Text, fcLim - 1);
      }
      out.EndParagraph();
      expected = fcLim;
      if (expected >= FHeader.fcMac) return;
    }
  }
}

void TWRIFile::ReadCharInfo(TStream& Stream, uint32_t fcStart, const RawByteString& Text, uint32_t fcLimit) {
  TDocumentOutput& out = Output();
  const uint64_t textEnd = kTextStart + uint64_t{Text.size()};
  if (!FChar.Started) {
    FChar.Started = true;
    FChar.Page = static_cast<uint32_t>((uint64_t{FHeader.fcMac} + kPageSize - 1) / kPageSize);
    FChar.ExpectedFc = kTextStart;
    FChar.Entry = 0;
    FChar.Entries = -1;  // page not read yet
  }
  uint64_t fc = fcStart;
  RawByteString bytes;
  WideString run;
  while (true) {
    if (FChar.Entries < 0) {
      ReadPropertyPage(Stream, FChar.Page, FChar.ExpectedFc, FChar.Data, FChar.Entries);
      FChar.Entry = 0;
    }
    // A run that crosses into the next paragraph is told again there, so
    // the cursor stays on the run at which a call returns.
    for (; FChar.Entry < FChar.Entries; ++FChar.Entry) {
      const uint8_t* e = FChar.Data + kEntriesOffset + FChar.Entry * kEntrySize;
      const uint32_t runStart = FChar.ExpectedFc;
      const uint32_t runLim = LoadLE32(e);
      if (!(runLim < fc || runStart > fcLimit)) {
        run.clear();
        if (fc >= runStart) {
          const uint64_t stop = std::min<uint64_t>({uint64_t{runLim}, uint64_t{fcLimit} + 1, textEnd});
          if (fc < stop) {
            bytes.assign(Text, static_cast<size_t>(fc - kTextStart), static_cast<size_t>(stop - fc));
            for (char& c : bytes) c = ProcessSysCharacter(c);
            run = MultiByteToWide(FTextCodePage, bytes);
          }
          // The run is used up as far as this paragraph reaches.
          fc = std::max<uint64_t>(fc, std::min<uint64_t>(runLim, uint64_t{fcLimit} + 1));
        }
        out.Text(run, DecodeCharProps(TPropertyBlock(FChar.Data, LoadLE16(e + 4)), FFontTable.size()));
      }
      if (runLim == FHeader.fcMac || runLim > fcLimit) return;
      FChar.ExpectedFc = runLim;
    }
    ++FChar.Page;
    FChar.Entries = -1;
  }
}


bool IsWrite(TStream& Stream) {
  uint8_t head[2] = {};
  if (Stream.Read(head, 2) != 2) return false;
  return (head[0] == 0x31 || head[0] == 0x32) && head[1] == 0xBE;
}

}  // namespace lkw
