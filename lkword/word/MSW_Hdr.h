// Records of the Word binary format as the reader holds them: the file
// information block (FIB) in its Word 97 layout, the piece table, and the
// VBA project items. Formatting records (bin tables, property pages, style
// sheet) are not kept: no output depends on them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lkword/platform/Object.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

static_assert(std::endian::native == std::endian::little, "the FIB is filled by copying little-endian bytes");

#define LKW_FIB_PAIR(N) \
  uint32_t fc##N;       \
  uint32_t lcb##N;

#pragma pack(push, 1)
// The first 738 bytes of a Word 97 (and later) FIB. Older generations are
// mapped into this layout by ReadFIB. The record is packed: read its fields
// by value, never through references or pointers.
struct TFIB {
  uint16_t wIdent;          // magic
  uint16_t Version;         // nFib: selects the generation
  uint16_t ProductVersion;
  uint16_t lID;             // language of the document
  uint16_t pnNext;
  uint8_t Flag;             // 0x04: complex (fast-saved)
  uint8_t Encryption;       // 0x01 encrypted, 0x02 "1Table", 0x40 far-east
  uint16_t nFIBBack;
  uint32_t IKey;
  uint8_t Platform;
  uint8_t fMac;
  uint16_t chse;
  uint16_t chsTables;
  uint32_t fcMin;           // first text byte
  uint32_t fcMac;           // just past the last text byte
  uint16_t csw;
  uint16_t wMagicCreated, wMagicRevised, wMagicCreatedPrivate, wMagicRevisedPrivate;
  uint16_t pnFbpChpFirst_W6, pnChpFirst_W6, cpnBteChp_W6, pnFbpPapFirst_W6, pnPapFirst_W6, cpnBtePap_W6,
      pnFbpLvcFirst_W6, pnLvcFirst_W6, cpnBteLvc_W6;
  uint16_t lidFE;           // far-east language
  uint16_t clw;
  uint32_t cbMac;
  uint32_t lProductCreated, lProductRevised;
  int32_t ccpText;          // characters of each story, in story order
  int32_t ccpFtn;
  int32_t ccpHdr;
  int32_t ccpMcr;
  int32_t ccpAtn;
  int32_t ccpEdn;
  int32_t ccpTxbx;
  int32_t ccpHdrTxbx;
  uint32_t pnFbpChpFirst, pnChpFirst, cpnBteChp, pnFbpPapFirst, pnPapFirst, cpnBtePap, pnFbpLvcFirst,
      pnLvcFirst, cpnBteLvc, fcIslandFirst, fcIslandLim;
  uint16_t cfclcb;
  LKW_FIB_PAIR(StshfOrig) LKW_FIB_PAIR(Stshf) LKW_FIB_PAIR(PlcffndRef) LKW_FIB_PAIR(PlcffndTxt)
  LKW_FIB_PAIR(PlcfandRef) LKW_FIB_PAIR(PlcfandTxt) LKW_FIB_PAIR(Plcfsed) LKW_FIB_PAIR(Plcfpad)
  LKW_FIB_PAIR(Plcfphe) LKW_FIB_PAIR(Sttbfglsy) LKW_FIB_PAIR(Plcfglsy) LKW_FIB_PAIR(Plcfhdd)
  LKW_FIB_PAIR(PlcfbteChpx) LKW_FIB_PAIR(PlcfbtePapx) LKW_FIB_PAIR(Plcfsea) LKW_FIB_PAIR(Sttbfffn)
  LKW_FIB_PAIR(PlcffldMom) LKW_FIB_PAIR(PlcffldHdr) LKW_FIB_PAIR(PlcffldFtn) LKW_FIB_PAIR(PlcffldAtn)
  LKW_FIB_PAIR(PlcffldMcr) LKW_FIB_PAIR(Sttbfbkmk) LKW_FIB_PAIR(Plcfbkf) LKW_FIB_PAIR(Plcfbkl)
  LKW_FIB_PAIR(Cmds) LKW_FIB_PAIR(Plcmcr) LKW_FIB_PAIR(Sttbfmcr) LKW_FIB_PAIR(PrDrvr)
  LKW_FIB_PAIR(PrEnvPort) LKW_FIB_PAIR(PrEnvLand) LKW_FIB_PAIR(Wss) LKW_FIB_PAIR(Dop)
  LKW_FIB_PAIR(SttbfAssoc) LKW_FIB_PAIR(Clx) LKW_FIB_PAIR(PlcfpgdFtn) LKW_FIB_PAIR(AutosaveSource)
  LKW_FIB_PAIR(GrpStAtnOwners) LKW_FIB_PAIR(SttbfAtnbkmk) LKW_FIB_PAIR(PlcfdoaMom) LKW_FIB_PAIR(PlcfdoaHdr)
  LKW_FIB_PAIR(Unused1) LKW_FIB_PAIR(Unused2) LKW_FIB_PAIR(PlcfAtnbkf) LKW_FIB_PAIR(PlcfAtnbkl)
  LKW_FIB_PAIR(Pms) LKW_FIB_PAIR(FormFldSttbf) LKW_FIB_PAIR(PlcfendRef) LKW_FIB_PAIR(PlcfendTxt)
  LKW_FIB_PAIR(PlcffldEdn) LKW_FIB_PAIR(PlcfpgdEdn) LKW_FIB_PAIR(Unused3) LKW_FIB_PAIR(SttbfRMark)
  LKW_FIB_PAIR(SttbfCaption) LKW_FIB_PAIR(AutoCaption) LKW_FIB_PAIR(Plcfwkb) LKW_FIB_PAIR(Unused4)
  LKW_FIB_PAIR(PlcftxbxTxt) LKW_FIB_PAIR(PlcffldTxbx) LKW_FIB_PAIR(PlcfHdrtxbxTxt) LKW_FIB_PAIR(PlcffldHdrTxbx)
  LKW_FIB_PAIR(StwUser) LKW_FIB_PAIR(Sttbttmbd) LKW_FIB_PAIR(Plcunused)
  LKW_FIB_PAIR(Pgd) LKW_FIB_PAIR(Bkd)            // pgdMother
  LKW_FIB_PAIR(PgdFtn) LKW_FIB_PAIR(BkdFtn)      // pgdFtn
  LKW_FIB_PAIR(PgdEdn) LKW_FIB_PAIR(BkdEdn)      // pgdFtn2
  LKW_FIB_PAIR(SttbfIntlFld) LKW_FIB_PAIR(RouteSlip) LKW_FIB_PAIR(SttbSavedBy) LKW_FIB_PAIR(SttbFnm)
};
#pragma pack(pop)
#undef LKW_FIB_PAIR

static_assert(sizeof(TFIB) == 738);
static_assert(offsetof(TFIB, lidFE) == 60 && offsetof(TFIB, ccpText) == 76 && offsetof(TFIB, cfclcb) == 152);
static_assert(offsetof(TFIB, fcPlcfbteChpx) == 250 && offsetof(TFIB, fcPlcffldMcr) == 314);
static_assert(offsetof(TFIB, fcDop) == 402 && offsetof(TFIB, fcClx) == 418 && offsetof(TFIB, lcbSttbFnm) == 734);

// Byte offsets of the older FIB layouts that ReadFIB maps into TFIB.
namespace fib6 {
constexpr size_t cbMac = 32;
constexpr size_t ccpText = 52;           // eight 4-byte counts
constexpr size_t FirstPairs = 88;        // 38 pairs, StshfOrig..SttbfAtnbkmk
constexpr size_t FirstPairCount = 38;
// A 16-bit spare word at 392, then pnChpFirst, pnPapFirst, cpnBteChp and
// cpnBtePap (16-bit each), then the rest of the pairs.
constexpr size_t pnChpFirst = 394;
constexpr size_t LastPairs = 402;        // 35 pairs, PlcfdoaMom..SttbFnm
constexpr size_t LastPairCount = 35;
constexpr size_t Size = 682;
}  // namespace fib6
// Word for the Macintosh 4 and 5: big-endian throughout, text from 0x100.
namespace fibmac {
constexpr size_t Flags = 0x0A;           // 0x20: fast-saved, the text is in pieces
constexpr uint8_t FastSaved = 0x20;
constexpr size_t fcMin = 0x14;
constexpr size_t fcMac = 0x18;
constexpr size_t cbMac = 0x1C;
constexpr size_t ccpText = 0x24;         // three 4-byte counts: text, footnotes, headers
constexpr size_t Zones = 0x40;           // entries of a 4-byte offset and a 2-byte length
constexpr size_t ClxZone = 18;           // the piece table's entry
constexpr size_t Size = Zones + 20 * 6;
}  // namespace fibmac
namespace fib2 {
constexpr size_t cbMac = 32;
constexpr size_t ccpText = 52;           // five 4-byte counts, ccpText..ccpAtn
constexpr size_t Pairs = 88;             // pairs of a 4-byte offset and a 2-byte length
constexpr size_t pnChpFirst = 312;       // four 16-bit values
constexpr size_t Size = 320;
}  // namespace fib2

// Property modifier of a piece: a single sprm or the index of a stored group.
union TPRM {
  struct {
    uint8_t sprm;
    uint8_t val;
  } s;
  uint16_t igrpprl;
};

// One piece descriptor (8 bytes in the file).
struct TPCD {
  uint8_t Para = 0;
  uint8_t fn = 0;
  uint32_t fc = 0;  // bit 30 set: 8-bit text at (fc & ~bit30) / 2 (generation 8)
  TPRM prm{};
};

// One stored property group of the piece table.
struct TCLXItem {
  uint16_t Count = 0;
  RawByteString grpprl;
};

// The piece table: piece i covers the characters [Pos[i], Pos[i+1]).
struct TCLX {
  std::vector<TPCD> pcd;
  std::vector<int32_t> Pos;
  uint32_t noPCD = 0;
  uint16_t grpprlCount = 0;
  std::vector<TCLXItem> cbGrpprl;

  void Clear() {
    pcd.clear();
    Pos.clear();
    noPCD = 0;
    grpprlCount = 0;
    cbGrpprl.clear();
  }
};

// One entry of a VBA project's tables (filled by the macro extractor).
class TVBAProjectItem : public TObject {
 public:
  WideString Entry;       // text of a reference record; empty for modules
  WideString ModuleName;  // equals the name of the module's stream
  WideString ModuleID;
  uint32_t Offset = 0;    // of the compressed source in the module's stream
  RawByteString Body;     // decompressed source
  std::string ClassName() const override { return "TVBAProjectItem"; }
};

// An ordered list that owns its items.
class TVBAProjectItems : public TObject {
 public:
  TVBAProjectItems() = default;
  TVBAProjectItems(const TVBAProjectItems&) = delete;
  TVBAProjectItems& operator=(const TVBAProjectItems&) = delete;
  ~TVBAProjectItems() override { Clear(); }

  int Count() const { return static_cast<int>(FItems.size()); }
  TVBAProjectItem& Items(int Index) { return *FItems.at(static_cast<size_t>(Index)); }
  const TVBAProjectItem& Items(int Index) const { return *FItems.at(static_cast<size_t>(Index)); }
  TVBAProjectItem& Add() {
    FItems.push_back(std::make_unique<TVBAProjectItem>());
    return *FItems.back();
  }
  // Frees the items last to first.
  void Clear() {
    while (!FItems.empty()) FItems.pop_back();
  }
  std::string ClassName() const override { return "TVBAProjectItems"; }

 private:
  std::vector<std::unique_ptr<TVBAProjectItem>> FItems;
};

// Reads Count bytes at At of Stream into Out; false, reading nothing, when
// they are not all inside the stream.
bool ReadBytesAt(TStream& Stream, int64_t At, int64_t Count, RawByteString& Out);

// The generation of Word for the Macintosh 4 and 5 files (magic FE 37).
constexpr int kMacWordGeneration = 4;

// The generation of a FIB from its first four bytes: kMacWordGeneration for
// the 0x37FE magic, otherwise by version: below 101 gives 2, 101 gives 6, 102 and 105 and
// above give 8, 103 gives 0, 104 gives 7.
int FIBGeneration(uint16_t wIdent, uint16_t Version);

// Maps the bytes of a FIB of the given generation (as many as the file has,
// little-endian except for the Macintosh generation) into the Word 97
// layout; missing bytes read as zero. Of a Macintosh FIB only the text
// range, the story counts and the piece table's place are kept (with the
// fast-saved flag as the complex bit): its other tables are not in the
// layouts the Windows generations share.
TFIB MapFIB(const uint8_t* Data, size_t Size, int Generation);

}  // namespace lkw
