// Piece table and text retrieval of the Word binary reader.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lkword/framework/ListNumbers.h"
#include "lkword/framework/MSW_CP.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/framework/TextRenderer.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWord_Lists.h"

namespace lkw {

namespace {

constexpr uint32_t kCompressedBit = 0x40000000;
// The FIB's character set of Word 6/95 text saved on a Macintosh.
constexpr uint16_t kMacCharacterSet = 256;
constexpr uint32_t kMacRoman = 10000;
// Pieces may share bytes only within reason: more piece text than this
// multiple of the document stream means a corrupt table, not a document.
constexpr int64_t kMaxPieceBytesPerStreamByte = 2;
constexpr int64_t kPieceBytesSlack = 65536;

bool In(uint32_t P, std::initializer_list<uint32_t> Set) { return std::find(Set.begin(), Set.end(), P) != Set.end(); }

// Word 97 writes 8-bit ("compressed") pieces only for text that this fixed
// table holds: Latin-1, with 0x82..0x9F as in Windows-1252 where it has them.
void AppendCompressed(WideString& Out, const RawByteString& Bytes) {
  static constexpr char16_t kHigh[32] = {
      0x0080, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x008E, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178};
  const size_t at = Out.size();
  Out.resize(at + Bytes.size());
  for (size_t i = 0; i < Bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(Bytes[i]);
    Out[at + i] = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t{b};
  }
}

}  // namespace

void TMSWordDocument::ClearTextAndPieces() {
  // Everything the text read builds, but not the metadata read before it.
  FText->Clear();
  ClearTextLists();
  // The output is made anew with the settings of this load.
  FOutput.reset();
  FRenderer.reset();
  FWord = nullptr;
  FPath.reset();
  IsCancelExtract = false;
  CLX.Clear();
  FBytesRead = 0;
  FNoteMarks.clear();
  FDeleted.clear();
  FNoteNumbers.clear();
  FNoteNumbersSorted = true;
  FNoteStarts.clear();
  FParagraphs.Clear();
  FReplaced.clear();
  FStoryCp = -1;
}

void TMSWordDocument::ReadCLX(TStream* Source) {
  ClearTextAndPieces();
  ReadPieceTable(Source);
}

void TMSWordDocument::ReadPieceTable(TStream* Source) {
  CLX.Clear();
  // Word for the Macintosh writes the same records big-endian, with a
  // 16-bit size of the piece list.
  const bool mac = FDocVersion == kMacWordGeneration;
  auto u16 = [&] {
    uint8_t b[2];
    Source->ReadBuffer(b, 2);
    return mac ? LoadBE16(b) : LoadLE16(b);
  };
  auto u32 = [&](const uint8_t* P) { return mac ? LoadBE32(P) : LoadLE32(P); };
  if (Source && FIB.lcbClx > 0) {
    Source->Seek(FIB.fcClx, soBeginning);
    uint8_t type = Source->ReadU8();
    // Stored property groups precede the piece table.
    while (type == 1 && Source->Remaining() > 0) {
      TCLXItem item;
      item.Count = u16();
      item.grpprl.resize(item.Count);
      Source->ReadBuffer(item.grpprl.data(), item.Count);
      CLX.cbGrpprl.push_back(std::move(item));
      ++CLX.grpprlCount;
      type = Source->ReadU8();
    }
    if (type == 2) {
      uint32_t size = mac ? u16() : Source->ReadU32LE();
      if (size > static_cast<uint64_t>(Source->Remaining())) throw EReadError("Stream read error");
      uint32_t count = size >= 4 ? (size - 4) / 12 : 0;
      if (count > 0) {
        RawByteString raw(size_t{count} * 12 + 4, '\0');
        Source->ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
        CLX.Pos.resize(size_t{count} + 1);
        for (size_t i = 0; i <= count; ++i) CLX.Pos[i] = static_cast<int32_t>(u32(p + 4 * i));
        const uint8_t* d = p + 4 * (size_t{count} + 1);
        CLX.pcd.resize(count);
        for (size_t i = 0; i < count; ++i, d += 8) {
          TPCD& pcd = CLX.pcd[i];
          pcd.Para = d[0];
          pcd.fn = d[1];
          pcd.fc = u32(d + 2);
          std::memcpy(&pcd.prm, d + 6, 2);
        }
        CLX.noPCD = count;
      }
    }
    if (mac && CLX.noPCD > 0 && !MacPiecesUsable(Source->Size())) {
      // Fast-saved text has no other order; a file saved whole still reads
      // right from its text range.
      if (IsComplexDocument()) AddWarning("the piece table is damaged: the text is read in file order");
      CLX.Clear();
    }
  }
  if (CLX.noPCD == 0) SinglePiece(false);
}

bool TMSWordDocument::MacPiecesUsable(int64_t StreamSize) const {
  if (CLX.Pos.front() != 0) return false;
  for (uint32_t i = 0; i < CLX.noPCD; ++i) {
    const int64_t from = CLX.Pos[i], to = CLX.Pos[i + 1];
    if (to < from || int64_t{CLX.pcd[i].fc} > StreamSize - (to - from)) return false;
  }
  return true;
}

void TMSWordDocument::SinglePiece(bool Guess) {
  // One piece over the text from fcMin: 8-bit before Word 97.
  int64_t bytes = FIB.fcMac > FIB.fcMin ? int64_t{FIB.fcMac} - FIB.fcMin : 0;
  bool wide = FDocVersion == 8;
  TPCD pcd;
  pcd.fc = FIB.fcMin;
  if (Guess && wide) {
    // Without its piece table a Word 97 text tells its width only by how
    // many bytes its characters take.
    int64_t chars = 0;
    for (int32_t c : {FIB.ccpText, FIB.ccpFtn, FIB.ccpHdr, FIB.ccpMcr, FIB.ccpAtn, FIB.ccpEdn, FIB.ccpTxbx,
                      FIB.ccpHdrTxbx})
      chars += std::max<int32_t>(c, 0);
    if (chars > 0 && std::llabs(bytes - chars) < std::llabs(bytes - 2 * chars)) {
      wide = false;
      pcd.fc = (FIB.fcMin << 1) | kCompressedBit;
    }
  }
  CLX.Clear();
  CLX.Pos = {0, static_cast<int32_t>(wide ? bytes / 2 : bytes)};
  CLX.pcd = {pcd};
  CLX.noPCD = 1;
}

void TMSWordDocument::ClampMacTextRange(int64_t StreamSize) {
  const int64_t fcMin = FIB.fcMin, fcMac = FIB.fcMac;
  if (fcMac <= StreamSize && fcMin <= fcMac) return;
  MarkPartial("the text range of the file information block runs past the end of the file");
  const auto end = static_cast<uint32_t>(std::min(fcMac, StreamSize));
  FIB.fcMac = end;
  FIB.fcMin = static_cast<uint32_t>(std::min<int64_t>(fcMin, end));
}

void TMSWordDocument::ClampMacStoryCounts() {
  // Counts past the text the pieces hold would only read nothing, a block
  // at a time.
  int64_t left = CLX.Pos.empty() ? 0 : CLX.Pos.back();
  bool cut = false;
  auto clamp = [&](int32_t Count) {
    const int64_t want = std::max<int32_t>(Count, 0), kept = std::min(want, left);
    cut = cut || want > kept;
    left -= kept;
    return static_cast<int32_t>(kept);
  };
  // The FIB is packed: its fields by value only.
  FIB.ccpText = clamp(FIB.ccpText);
  FIB.ccpFtn = clamp(FIB.ccpFtn);
  FIB.ccpHdr = clamp(FIB.ccpHdr);
  if (cut) AddWarning("the story lengths exceed the text: the stories are cut to it");
}

uint32_t TMSWordDocument::GetNormFC(uint32_t fc, int& Compressed) const {
  if (FDocVersion != 8) {
    // Word 6/95 pieces are 8-bit with a plain byte offset.
    if (Compressed) Compressed = 1;
    return fc;
  }
  if (fc & kCompressedBit) {
    if (Compressed) Compressed = 1;
    return (fc & ~kCompressedBit) >> 1;
  }
  if (Compressed) Compressed = 0;
  return fc;
}

int TMSWordDocument::GetPieceBoundsFC(int64_t& FCStart, int64_t& FCEnd, uint32_t Index) const {
  if (uint64_t{Index} + 1 > CLX.noPCD) return -1;
  int compressed = 1;
  FCStart = GetNormFC(CLX.pcd[Index].fc, compressed);
  int64_t chars = int64_t{CLX.Pos[Index + 1]} - CLX.Pos[Index];
  FCEnd = FCStart + chars * (compressed ? 1 : 2);
  return compressed;
}

uint32_t TMSWordDocument::DocLangToCodePage() {
  uint16_t L = IsFarEastDocument() ? FIB.lidFE : FIB.lID;
  if (FOnGetDefaultLanguage) FOnGetDefaultLanguage(this, L);
  const uint32_t P = L & 0xFF;
  if (In(P, {5, 14, 21, 24, 27, 36})) return 1250;
  if (In(P, {2, 25, 28, 34, 35, 47}) || L == 0x0C1A || L == 0x082C || L == 0x0843) return 1251;
  if (In(P, {3, 6, 7, 9, 10, 11, 12, 15, 16, 19, 20, 22, 23, 29, 33, 45, 54, 56, 62, 65}) || L == 0x041A ||
      L == 0x081A)
    return 1252;
  if (P == 8) return 1253;
  if (P == 31) return 1254;
  if (In(P, {37, 38, 39})) return 1257;
  if (P == 13) return 1255;
  if (P == 1) return 1256;
  if (P == 4 && (L == 0x0404 || L == 0x0C04)) return 950;
  if (P == 4 && L == 0x0804) return 936;
  if (P == 17) return 932;
  if (P == 18 && L == 0x0812) return 1361;
  if (P == 18 && L == 0x0412) return 949;
  if (L == 0x041E) return 874;
  // Languages the table does not name: their Windows default, where the
  // language has one.
  if (P == 4 || P == 18 || L == 0) return 0;
  return DefaultCodePageOfLID(L);
}

WideString TMSWordDocument::ReadCPRange(TStream& Stream, int64_t CPFrom, int64_t CPTo) {
  WideString out;
  const int64_t streamSize = Stream.Size();
  const uint32_t codePage = FTextCodePage;
  RawByteString buf;
  for (uint32_t i = 0; i < CLX.noPCD && !Cancelled(); ++i) {
    const int64_t pieceFrom = CLX.Pos[i], pieceTo = CLX.Pos[i + 1];
    const int64_t a = std::max(CPFrom, pieceFrom);
    int64_t b = std::min(CPTo, pieceTo);
    if (a >= b) continue;
    int64_t fcStart = 0, fcEnd = 0;
    const int kind = GetPieceBoundsFC(fcStart, fcEnd, i);
    const int64_t width = kind == 1 ? 1 : 2;
    if (pieceTo < pieceFrom) throw ECorruptError(SPieceBoundsOutOfRange);
    if (fcEnd > streamSize) {
      if (!FStreamsCut) throw ECorruptError(SPieceBoundsOutOfRange);
      // The stream was cut inside the piece: its text up to the cut.
      const int64_t whole = fcStart >= streamSize ? 0 : (streamSize - fcStart) / width;
      if (pieceFrom + whole < b) {
        MarkPartial("the text past the end of the damaged document stream is lost");
        b = pieceFrom + whole;
        if (a >= b) continue;
      }
    }
    const int64_t bytes = (b - a) * width;
    FBytesRead += bytes;
    if (FBytesRead > kMaxPieceBytesPerStreamByte * streamSize + kPieceBytesSlack)
      throw EReadError("The piece table maps more text than the document stream holds");
    Stream.Seek(fcStart + (a - pieceFrom) * width, soBeginning);
    const size_t at = out.size();
    if (width == 2) {
      out.resize(at + static_cast<size_t>(b - a));
      Stream.ReadBuffer(out.data() + at, bytes);
    } else {
      buf.resize(static_cast<size_t>(bytes));
      Stream.ReadBuffer(buf.data(), bytes);
      if (FDocVersion == 8)
        AppendCompressed(out, buf);
      else
        out += MultiByteToWide(codePage, buf);
    }
    // Marks go by CP, so only where characters and CPs correspond.
    const size_t replaced = FReplaced.size();
    const bool byCP = out.size() - at == static_cast<size_t>(b - a);
    if (!FNoteMarks.empty() && byCP) ApplyNoteMarks(out, at, a);
    if (!FDeleted.empty() && byCP && AcceptsChanges()) DropDeleted(out, at, a, b, replaced);
  }
  return out;
}

void TMSWordDocument::DropDeleted(WideString& Text, size_t From, int64_t CPFrom, int64_t CPTo, size_t FirstReplaced) {
  auto it = std::upper_bound(FDeleted.begin(), FDeleted.end(), CPFrom,
                             [](int64_t C, const auto& D) { return C < D.second; });
  if (it == FDeleted.end() || it->first >= CPTo) return;
  // The marks replaced in this part, and their index in Text by CP.
  std::vector<TReplaced> marks(FReplaced.begin() + static_cast<std::ptrdiff_t>(FirstReplaced), FReplaced.end());
  FReplaced.resize(FirstReplaced);
  auto index = [&](int64_t CP) {
    int64_t i = CP - CPFrom;
    for (const TReplaced& r : marks)
      if (r.CP < CP) i += static_cast<int64_t>(r.Units) - 1;
    return From + static_cast<size_t>(i);
  };
  std::vector<TReplaced> kept, dropped;
  WideString out = Text.substr(0, From);
  int64_t cp = CPFrom;
  for (; it != FDeleted.end() && it->first < CPTo; ++it) {
    const int64_t a = std::max(it->first, CPFrom), b = std::min(it->second, CPTo);
    out.append(Text, index(cp), index(a) - index(cp));
    dropped.push_back({a, 0, b - a});
    cp = b;
  }
  out.append(Text, index(cp), std::u16string::npos);
  // Marks within deleted text go with it.
  for (const TReplaced& r : marks)
    if (std::none_of(dropped.begin(), dropped.end(), [&](const TReplaced& D) { return r.CP >= D.CP && r.CP < D.CP + D.Count; }))
      kept.push_back(r);
  kept.insert(kept.end(), dropped.begin(), dropped.end());
  std::stable_sort(kept.begin(), kept.end(), [](const TReplaced& A, const TReplaced& B) { return A.CP < B.CP; });
  FReplaced.insert(FReplaced.end(), kept.begin(), kept.end());
  Text = std::move(out);
}

namespace {

// Where the document properties keep the note numbering: start and restart
// rule of footnotes and endnotes, the 4-bit formats Word 6/95 read, and the
// 16-bit ones of Word 97 (which leaves the 4-bit ones stale).
constexpr size_t kDopFtn = 2;
constexpr size_t kDopEdn = 52;
constexpr size_t kDopNfc6 = 54;
constexpr size_t kDopNfcFtn8 = 492;
constexpr size_t kDopNfcEdn8 = 494;

constexpr uint16_t kSprmSRncFtn = 0x303C;
constexpr uint16_t kSprmSRncEdn = 0x303E;
constexpr uint16_t kSprmSNFtn = 0x503F;
constexpr uint16_t kSprmSNfcFtnRef = 0x5040;
constexpr uint16_t kSprmSNEdn = 0x5041;
constexpr uint16_t kSprmSNfcEdnRef = 0x5042;

constexpr int kNfcLowerRoman = 2;

// A note's number as Format shows it; decimal where it would show nothing.
WideString NoteLabel(int64_t N, int Format) {
  WideString label = FormatListNumber(N, Format);
  if (label.empty()) AppendDecimal(label, N);
  return label;
}

}  // namespace

std::vector<TMSWordDocument::TNoteSection> TMSWordDocument::ReadNoteNumbering(TStream& Doc, TStream& Source) const {
  TNoteSection whole;
  whole.Kinds[1].Format = kNfcLowerRoman;
  // Word 2's properties are laid out otherwise.
  RawByteString dop;
  const uint32_t lcbDopAll = FIB.lcbDop;  // the FIB is packed: no references into it
  const uint32_t lcbDop = std::min<uint32_t>(lcbDopAll, kDopNfcEdn8 + 2);
  if (FDocVersion >= 5 && lcbDop >= kDopFtn + 2 && ReadBytesAt(Source, FIB.fcDop, lcbDop, dop)) {
    const auto* p = reinterpret_cast<const uint8_t*>(dop.data());
    auto startAndRule = [&](size_t At, TNoteNumbering& N) {
      if (dop.size() < At + 2) return;
      const uint16_t v = LoadLE16(p + At);
      N.Restart = v & 3;
      N.Start = std::max(v >> 2, 1);
    };
    startAndRule(kDopFtn, whole.Kinds[0]);
    startAndRule(kDopEdn, whole.Kinds[1]);
    if (FDocVersion == 8) {
      if (dop.size() >= kDopNfcEdn8 + 2) {
        whole.Kinds[0].Format = LoadLE16(p + kDopNfcFtn8);
        whole.Kinds[1].Format = LoadLE16(p + kDopNfcEdn8);
      }
    } else if (dop.size() >= kDopNfc6 + 2) {
      const uint16_t v = LoadLE16(p + kDopNfc6);
      whole.Kinds[0].Format = (v >> 2) & 15;
      whole.Kinds[1].Format = (v >> 6) & 15;
    }
  }
  std::vector<TNoteSection> sections{whole};
  // Section starts, and Word 97's sections' own numbering over the
  // document's.
  const uint32_t lcbSed = FIB.lcbPlcfsed;
  constexpr uint32_t kSedSize = 12;
  RawByteString plc;
  if (FDocVersion < 5 || lcbSed < 4 + 4 + kSedSize || lcbSed > (uint32_t{1} << 20)) return sections;
  const uint32_t n = (lcbSed - 4) / (4 + kSedSize);
  if (!ReadBytesAt(Source, FIB.fcPlcfsed, 4 * (n + 1) + kSedSize * n, plc)) return sections;
  const auto* cps = reinterpret_cast<const uint8_t*>(plc.data());
  std::vector<TNoteSection> read;
  int64_t budget = Doc.Size();  // sections sharing one record read it once each, within reason
  for (uint32_t k = 0; k < n; ++k) {
    TNoteSection sec = whole;
    sec.CP = k == 0 ? 0 : static_cast<int32_t>(LoadLE32(cps + 4 * k));
    if (!read.empty() && sec.CP < read.back().CP) return sections;  // not ascending: not used
    const uint32_t fcSepx = LoadLE32(cps + 4 * (n + 1) + kSedSize * k + 2);
    RawByteString head, grpprl;
    if (FDocVersion == 8 && fcSepx != 0xFFFFFFFFu && ReadBytesAt(Doc, fcSepx, 2, head)) {
      const uint16_t cb = LoadLE16(reinterpret_cast<const uint8_t*>(head.data()));
      budget -= 2 + cb;
      if (budget >= 0 && ReadBytesAt(Doc, int64_t{fcSepx} + 2, cb, grpprl))
        ForEachSprm(reinterpret_cast<const uint8_t*>(grpprl.data()), grpprl.size(),
                    [&](uint16_t Op, const uint8_t* O, size_t Size) {
                      auto word = [&] { return Size >= 2 ? LoadLE16(O) : O[0]; };
                      switch (Op) {
                        case kSprmSRncFtn: sec.Kinds[0].Restart = O[0]; break;
                        case kSprmSRncEdn: sec.Kinds[1].Restart = O[0]; break;
                        case kSprmSNFtn: sec.Kinds[0].Start = std::max<int64_t>(word(), 1); break;
                        case kSprmSNEdn: sec.Kinds[1].Start = std::max<int64_t>(word(), 1); break;
                        case kSprmSNfcFtnRef: sec.Kinds[0].Format = word(); break;
                        case kSprmSNfcEdnRef: sec.Kinds[1].Format = word(); break;
                        default: break;
                      }
                    });
    }
    read.push_back(sec);
  }
  return read;
}

void TMSWordDocument::ReadNoteMarks(TStream& Doc, TStream* Source) {
  FNoteMarks.clear();
  FNoteStarts.clear();
  if (!Source) return;
  const std::vector<TNoteSection> sections = ReadNoteNumbering(Doc, *Source);
  // A PLC of n + 1 CPs followed by n records of RecSize bytes; an empty
  // list when it does not fit the stream.
  auto readPlc = [&](uint32_t fc, uint32_t lcb, size_t RecSize, RawByteString& Raw) -> size_t {
    if (lcb < 4 + RecSize) return 0;
    const size_t n = (lcb - 4) / (4 + RecSize);
    return ReadBytesAt(*Source, fc, static_cast<int64_t>(4 * (n + 1) + RecSize * n), Raw) ? n : 0;
  };
  auto cpAt = [](const RawByteString& Raw, size_t i) {
    return static_cast<int32_t>(LoadLE32(reinterpret_cast<const uint8_t*>(Raw.data()) + 4 * i));
  };
  struct TNotes {
    uint32_t fcRef, lcbRef, fcTxt, lcbTxt;
    int64_t StoryStart;
    size_t Index;  // into a section's Kinds
    TStoryKind Kind;
  };
  const int32_t ccpText = FIB.ccpText;  // the FIB is packed: no references into it
  int64_t ftnStart = std::max(ccpText, 0);
  int64_t ednStart = ftnStart;
  for (int32_t c : {FIB.ccpFtn, FIB.ccpHdr, FIB.ccpMcr, FIB.ccpAtn}) ednStart += std::max<int32_t>(c, 0);
  const TNotes kinds[] = {{FIB.fcPlcffndRef, FIB.lcbPlcffndRef, FIB.fcPlcffndTxt, FIB.lcbPlcffndTxt, ftnStart, 0,
                           TStoryKind::Footnote},
                          {FIB.fcPlcfendRef, FIB.lcbPlcfendRef, FIB.fcPlcfendTxt, FIB.lcbPlcfendTxt, ednStart, 1,
                           TStoryKind::Endnote}};
  for (const TNotes& k : kinds) {
    RawByteString ref, txt;
    size_t n = readPlc(k.fcRef, k.lcbRef, 2, ref);
    if (n == 0) continue;
    size_t nTxt = readPlc(k.fcTxt, k.lcbTxt, 0, txt);
    const auto* frd = reinterpret_cast<const uint8_t*>(ref.data()) + 4 * (n + 1);
    size_t section = 0;
    int64_t number = sections[0].Kinds[k.Index].Start - 1;
    for (size_t i = 0; i < n; ++i) {
      // Notes with a custom mark keep it as text; only automatic ones count.
      if (frd[2 * i] == 0 && frd[2 * i + 1] == 0) {
        if (i < nTxt) FNoteStarts.push_back({k.StoryStart + cpAt(txt, i), k.Kind, {}});
        continue;
      }
      // Each section passed that restarts the count does so, noted in it or not.
      while (section + 1 < sections.size() && sections[section + 1].CP <= cpAt(ref, i)) {
        const TNoteNumbering& next = sections[++section].Kinds[k.Index];
        if (next.Restart == 1) number = next.Start - 1;
      }
      ++number;
      const WideString label = NoteLabel(number, sections[section].Kinds[k.Index].Format);
      FNoteMarks.push_back({cpAt(ref, i), 2, label, k.Kind});
      if (i < nTxt) {
        FNoteMarks.push_back({k.StoryStart + cpAt(txt, i), 2, label, k.Kind});
        FNoteStarts.push_back({k.StoryStart + cpAt(txt, i), k.Kind, label});
      }
    }
  }
  std::stable_sort(FNoteStarts.begin(), FNoteStarts.end(), [](const auto& A, const auto& B) { return A.CP < B.CP; });
  SortCharMarks();
}

void TMSWordDocument::SortCharMarks() {
  std::stable_sort(FNoteMarks.begin(), FNoteMarks.end(), [](const auto& A, const auto& B) { return A.CP < B.CP; });
}

void TMSWordDocument::ApplyNoteMarks(WideString& Text, size_t From, int64_t CPFrom) {
  const int64_t CPTo = CPFrom + static_cast<int64_t>(Text.size() - From);
  auto it = std::lower_bound(FNoteMarks.begin(), FNoteMarks.end(), CPFrom,
                             [](const auto& M, int64_t CP) { return M.CP < CP; });
  if (it == FNoteMarks.end() || it->CP >= CPTo) return;
  WideString Piece = Text.substr(From);
  WideString out;
  out.reserve(Piece.size() + 16);
  size_t done = 0;
  for (; it != FNoteMarks.end() && it->CP < CPTo; ++it) {
    const size_t at = static_cast<size_t>(it->CP - CPFrom);
    if (at < done || Piece[at] != it->Placeholder) continue;
    out.append(Piece, done, at - done);
    out += it->Text;
    if (it->Text.size() != 1) FReplaced.push_back({it->CP, it->Text.size()});
    if (it->Note != TStoryKind::Main) {
      // Stories are read in CP order; a damaged piece table may not be.
      FNoteNumbersSorted = FNoteNumbersSorted && (FNoteNumbers.empty() || FNoteNumbers.back().CP <= it->CP);
      FNoteNumbers.push_back({it->CP, it->Note, it->Text});
    }
    done = at + 1;
  }
  out.append(Piece, done);
  Text.resize(From);
  Text += out;
}

void TMSWordDocument::ChooseTextCodePage(TStream& Stream) {
  if (FDocVersion == kMacWordGeneration) {
    // The FIB names no language: Mac Roman, unless the host names one whose
    // script has a Mac character set.
    const uint32_t windows = FOnGetDefaultLanguage ? DocLangToCodePage() : 0;
    const uint32_t mac = windows ? MacCodePageOf(windows) : 0;
    FTextCodePage = mac != 0 && IsCodePageSupported(mac) ? mac : kMacRoman;
    return;
  }
  FTextCodePage = DocLangToCodePage();
  // Word 6/95 written by a Western Word often holds text in other code
  // pages, which only the fonts tell; a language named by the host wins.
  if (FDocVersion >= 5 && FDocVersion <= 7 && !FOnGetDefaultLanguage && (FTextCodePage == 0 || FTextCodePage == 1252))
    if (uint32_t cp = FontCodePage(Stream)) FTextCodePage = cp;
  if (FTextCodePage == 0) FTextCodePage = DefaultCodePage();
  // Word 6/95 for the Macintosh keeps 8-bit text in the Mac character set
  // of the same script.
  if (FDocVersion >= 5 && FDocVersion <= 7 && FIB.chse == kMacCharacterSet && !FOnGetDefaultLanguage)
    if (const uint32_t mac = MacCodePageOf(FTextCodePage); mac != 0 && IsCodePageSupported(mac)) FTextCodePage = mac;
}

void TMSWordDocument::ReadSimpleText(TStream& Stream) {
  const int64_t end = FIB.ccpText > 0 ? FIB.ccpText : CLX.Pos.back();
  TDocumentOutput& out = Output();
  const bool sinking = TextPath().Sinking();
  if (!sinking || !FConvertSysCharacters) {
    // The text whole, one item; a sink has the frame's first item before the
    // text is read.
    if (sinking) out.BeginDocument();
    const WideString text = ReadCPRange(Stream, 0, end);
    if (!sinking) out.BeginDocument();
    TellStory(TStoryKind::Main, nullptr, text, 0);
    return;
  }
  // Read and told a block at a time, each cut after its last paragraph
  // mark, so that a large document never sits in memory whole.
  out.BeginDocument();
  BeginTelling(TStoryKind::Main, nullptr, 0);
  constexpr int64_t kBlockChars = int64_t{1} << 16;
  WideString block;
  int64_t cp = 0;
  for (;;) {
    const int64_t to = std::min(end, cp + kBlockChars);
    if (to > cp) block += ReadCPRange(Stream, cp, to);
    cp = to;
    const bool final = cp >= end || Cancelled();
    size_t cut = block.size();
    if (!final) {
      const size_t mark = block.rfind(u'\r');
      cut = mark == WideString::npos ? 0 : mark + 1;
    }
    TellText(std::u16string_view(block).substr(0, cut));
    block.erase(0, cut);
    if (final) break;
  }
  EndTelling(TStoryKind::Main);
}

void TMSWordDocument::ReadHeaderStories(TStream* Source, bool ListedBySections) {
  FHeaderStories.clear();
  FHeaderKinds.clear();
  const int32_t ccpHdr = FIB.ccpHdr;
  const uint32_t lcb = FIB.lcbPlcfhdd;
  // Word 97: the six note separators, six stories a section, and the two
  // CPs around the closing paragraph mark.
  const uint32_t least = ListedBySections ? 4 * 2 : 4 * 14;
  if (!Source || ccpHdr <= 0 || lcb < least || lcb > (uint32_t{1} << 20)) return;
  RawByteString raw;
  if (!ReadBytesAt(*Source, FIB.fcPlcfhdd, lcb / 4 * 4, raw)) return;
  const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
  int32_t last = 0;
  for (size_t i = 0; i < lcb / 4; ++i) {
    const auto cp = static_cast<int32_t>(LoadLE32(p + 4 * i));
    // Ascending, or the list is not used. The last CPs may lie past the
    // header text's end (Word counts the closing marks there); reads stop
    // at the end.
    if (cp < last) {
      FHeaderStories.clear();
      return;
    }
    FHeaderStories.push_back(cp);
    last = cp;
  }
  if (ListedBySections) {
    if (!ReadHeaderKinds6(*Source)) {
      FHeaderStories.clear();
      FHeaderKinds.clear();
    }
    return;
  }
  constexpr size_t kSeparators = 6;
  for (size_t i = 0; i + 2 < FHeaderStories.size(); ++i) {
    if (i < kSeparators) {
      FHeaderKinds.push_back(THeaderKind::Separator);
      continue;
    }
    const size_t kind = (i - kSeparators) % 6;  // even, odd header; even, odd footer; first header, footer
    FHeaderKinds.push_back(kind == 2 || kind == 3 || kind == 5 ? THeaderKind::Footer : THeaderKind::Header);
  }
}

namespace {

// Operand size of a Word 6/95 section property modifier, or -1 for one not
// known here (its size could not be skipped).
int SectionSprmOperand6(const uint8_t* P, size_t Left) {
  switch (P[0]) {
    case 131: case 132: case 138: case 139: case 142: case 143: case 146: case 147: case 150: case 151:
    case 152: case 153: case 158: case 159: case 162:
      return 1;
    case 140: case 141: case 144: case 145: case 148: case 149: case 154: case 155: case 156: case 157:
    case 160: case 161: case 164: case 165: case 166: case 167: case 168: case 169: case 170: case 171:
      return 2;
    case 136: case 137:
      return 3;
    case 133:  // numbering: a length byte, then that many
      return Left > 1 ? 1 + P[1] : -1;
    default:
      return -1;
  }
}

constexpr uint8_t kSprmSGprfIhdt6 = 153;

}  // namespace

bool TMSWordDocument::ReadHeaderKinds6(TStream& Source) {
  // Which separators exist: bits 0..5 of the document properties' second
  // byte (footnote separator, continuation separator and notice, then the
  // same for endnotes).
  RawByteString dop;
  if (FIB.lcbDop < 2 || !ReadBytesAt(Source, FIB.fcDop, 2, dop)) return false;
  for (int bit = 0; bit < 6; ++bit)
    if (static_cast<uint8_t>(dop[1]) & (1u << bit)) FHeaderKinds.push_back(THeaderKind::Separator);
  // Which headers and footers each section has, by the same bits of its
  // properties: even, odd header; even, odd footer; first header, footer.
  const uint32_t lcbSed = FIB.lcbPlcfsed;
  constexpr uint32_t kSedSize = 12;
  if (lcbSed < 4 + 4 + kSedSize || lcbSed > (uint32_t{1} << 20)) return false;
  const uint32_t sections = (lcbSed - 4) / (4 + kSedSize);
  RawByteString plc;
  if (!ReadBytesAt(Source, FIB.fcPlcfsed, 4 * (sections + 1) + kSedSize * sections, plc)) return false;
  const auto* seds = reinterpret_cast<const uint8_t*>(plc.data()) + 4 * (sections + 1);
  // Sections sharing one property record must not make us read more than
  // the stream holds.
  int64_t budget = Source.Size();
  for (uint32_t k = 0; k < sections; ++k) {
    const uint32_t fcSepx = LoadLE32(seds + kSedSize * k + 2);
    uint8_t present = 0;
    RawByteString head, grpprl;
    if (fcSepx != 0xFFFFFFFFu && ReadBytesAt(Source, fcSepx, 2, head)) {
      const uint16_t cb = LoadLE16(reinterpret_cast<const uint8_t*>(head.data()));
      budget -= 2 + cb;
      if (budget < 0 || !ReadBytesAt(Source, int64_t{fcSepx} + 2, cb, grpprl)) return false;
      const auto* g = reinterpret_cast<const uint8_t*>(grpprl.data());
      for (size_t i = 0; i < grpprl.size();) {
        const int n = SectionSprmOperand6(g + i, grpprl.size() - i);
        if (n < 0 || i + 1 + static_cast<size_t>(n) > grpprl.size()) return false;
        if (g[i] == kSprmSGprfIhdt6) present = g[i + 1];
        i += 1 + static_cast<size_t>(n);
      }
    }
    for (int bit = 0; bit < 6; ++bit)
      if (present & (1u << bit))
        FHeaderKinds.push_back(bit == 2 || bit == 3 || bit == 5 ? THeaderKind::Footer : THeaderKind::Header);
  }
  // Each story a CP, then the two around the closing mark; any other count
  // means the properties were misread.
  return FHeaderKinds.size() + 2 == FHeaderStories.size();
}

void TMSWordDocument::ReadSecondaryTexts(TStream& Stream) {
  // The stories follow the main text in this order; the macro story is not
  // output. Text boxes on the page go to TextBoxText, those in headers and
  // footers with the headers.
  struct TStory {
    int32_t Count;
    TWideStrings* List;
    TStoryKind Kind;
    bool Headers = false;  // the header story, cut by FHeaderStories
  };
  const TStory stories[] = {
      {FIB.ccpFtn, &FFootNoteText, TStoryKind::Footnote},
      {FIB.ccpHdr, &FHeaderText, TStoryKind::Header, true},
      {FIB.ccpMcr, nullptr, TStoryKind::Main},
      {FIB.ccpAtn, &FAnnotationText, TStoryKind::Comment},
      {FIB.ccpEdn, &FEndNoteText, TStoryKind::Endnote},
      {FIB.ccpTxbx, &FTextBoxText, TStoryKind::TextBox},
      {FIB.ccpHdrTxbx, &FHeaderText, TStoryKind::TextBox},
  };
  const int32_t ccpText = FIB.ccpText;  // the FIB is packed: no references into it
  int64_t cp = std::max(ccpText, 0);
  for (const TStory& s : stories) {
    if (s.Count <= 0) continue;
    if (s.Headers && !FHeaderKinds.empty() && FHeaderKinds.size() < FHeaderStories.size()) {
      // Headers and footers apart; the note separators are no page text.
      for (size_t i = 0; i < FHeaderKinds.size() && !Cancelled(); ++i) {
        if (FHeaderKinds[i] == THeaderKind::Separator) continue;
        const int32_t from = FHeaderStories[i], to = std::min(FHeaderStories[i + 1], s.Count);
        if (to <= from) continue;
        const bool footer = FHeaderKinds[i] == THeaderKind::Footer;
        TellStory(footer ? TStoryKind::Footer : TStoryKind::Header, footer ? &FFooterText : &FHeaderText,
                  ReadCPRange(Stream, cp + from, cp + to), cp + from);
      }
    } else if (s.List && !Cancelled()) {
      TellStory(s.Kind, s.List, ReadCPRange(Stream, cp, cp + s.Count), cp);
    }
    cp += s.Count;
  }
}

}  // namespace lkw
