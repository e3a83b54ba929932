#include "lkword/readers/MSPalmDoc.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "lkword/containers/LKWXML.h"
#include "lkword/framework/DocumentOutput.h"
#include "lkword/framework/PalmDocRenderer.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/readers/BookText.h"
#include "lkword/readers/MSMobiHuff.h"
#include "lkword/readers/PalmDocDecoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lkw {

namespace {

constexpr int64_t kHeaderSize = 78;
constexpr size_t kTypeCreatorAt = 60;
constexpr int64_t kRecord0Size = 16;
constexpr int64_t kPeanutHeaderSize = 116;
constexpr uint16_t kPalmDocCompression = 2;
constexpr uint16_t kPeanutRecSize = 4096;

const char* const SNotValidPalmDoc = "Not valid PalmDoc text file.";
const char* const SEReaderDRM = "Could not read the DRM protected book";

// eReader record 0: 132 bytes from its current tool; 202 (or 116) from the
// older one, whose text records are scrambled like Peanut's.
constexpr size_t kEReaderHeaderSize = 132;
constexpr size_t kEReaderOlderHeaderSize = 202;
constexpr uint16_t kEReaderRecSize = 8192;
constexpr uint16_t kEReaderZlib = 10;
constexpr uint16_t kEReaderDRM1 = 260;
constexpr uint16_t kEReaderDRM2 = 272;
// Fields of eReader's record 0: the first record that is not text (at 8 in
// the older tool's), whether there is a metadata record and which it is.
constexpr size_t kEReaderFirstOtherAt = 12;
constexpr size_t kEReaderOlderFirstOtherAt = 8;
constexpr size_t kEReaderHasMetadataAt = 24;
constexpr size_t kEReaderMetadataAt = 44;
// eReader's tools cut text into blocks of 8 KiB; a block can hold 64 KiB at
// most, so more from one record is damage.
constexpr size_t kEReaderMaxBlock = 65535;

constexpr uint16_t kMobiHuffCdic = 17480;
// Record 0 of a Mobipocket book: the PalmDoc fields (the encryption at 12),
// then the MOBI header, whose fields are counted from its start.
constexpr size_t kMobiEncryptionAt = 12;
// Mobipocket's older and current encryption; a plain PalmDoc record 0 of 16
// bytes keeps a reading position there instead.
constexpr uint16_t kMobiOldEncryption = 1;
constexpr uint16_t kMobiEncryption = 2;
constexpr size_t kMobiHeaderAt = 16;
constexpr size_t kMobiLengthField = 4;
constexpr size_t kMobiEncodingField = 12;
constexpr size_t kMobiVersionField = 20;
constexpr size_t kMobiFullNameField = 68;
constexpr size_t kMobiFullNameLengthField = 72;
constexpr size_t kMobiHuffRecordField = 96;
constexpr size_t kMobiHuffCountField = 100;
constexpr size_t kMobiExthFlagsField = 112;
// Where the DRM records start and how many there are (all ones: none).
constexpr size_t kMobiDrmOffsetField = 152;
constexpr size_t kMobiDrmCountField = 156;
constexpr uint32_t kMobiNoDrm = 0xFFFFFFFF;
constexpr size_t kMobiFdstRecordField = 176;
constexpr size_t kMobiFdstCountField = 180;
constexpr size_t kMobiExtraFlagsField = 226;
constexpr uint32_t kMobiHasExth = 0x40;
// KF8 books (version 8 and on) may keep more flows than the HTML.
constexpr uint32_t kMobiKf8Version = 8;
// A text record holds 4 KiB; a HUFF/CDIC one that decodes to far more is damaged.
constexpr size_t kMobiMaxRecordText = 64 * 1024;
// EXTH record types of the metadata that is kept.
constexpr uint32_t kExthAuthor = 100;
constexpr uint32_t kExthPublisher = 101;
constexpr uint32_t kExthDescription = 103;
constexpr uint32_t kExthSubject = 105;
constexpr uint32_t kExthPublished = 106;
constexpr uint32_t kExthUpdatedTitle = 503;

const char* const SDecompressLimit = "The document decompresses to more than the allowed size";

// Windows-1252 bytes 0x80..0x9F as the platform's converter decodes them
// (the five it leaves undefined pass through); every other byte is its own
// code point. Built in so that the tool's default code page needs no
// converter set-up; a test holds it to the converter.
constexpr char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The 256-entry decoding table of a single-byte code page; empty for others.
WideString SingleByteTable(uint32_t cp) {
  WideString table;
  if (cp == 1252) {
    table.resize(256);
    for (int b = 0; b < 256; ++b) table[b] = static_cast<char16_t>(b);
    std::copy(std::begin(k1252High), std::end(k1252High), table.begin() + 0x80);
  } else if (IsSingleByteCodePage(cp)) {
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
    table = MultiByteToWide(cp, all);
    if (table.size() != 256) table.clear();
  }
  return table;
}

// Widens n bytes through tab, whose first 128 entries map ASCII to itself:
// ASCII is widened 16 bytes at a time and only the other bytes looked up.
void WidenAsciiIdentity(const uint8_t* s, size_t n, char16_t* d, const char16_t* tab) {
  size_t k = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k + 8), _mm_unpackhi_epi8(v, zero));
    for (unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v)); high; high &= high - 1) {
      const unsigned j = static_cast<unsigned>(std::countr_zero(high));
      d[k + j] = tab[s[k + j]];
    }
  }
#endif
  for (; k < n; ++k) d[k] = tab[s[k]];
}

// The UTF-8 form of each byte of a single-byte code page: up to 3 bytes
// (the table is all BMP) in the low bytes, memory order, and the count in
// the top byte. A soft hyphen has none: plain text leaves it out, as the
// renderers do, so that the word stays whole.
std::array<uint32_t, 256> Utf8Table(const char16_t* tab) {
  std::array<uint32_t, 256> enc{};
  for (int b = 0; b < 256; ++b) {
    if (tab[b] == kSoftHyphenChar) continue;
    const std::string u = WideToUtf8(std::u16string_view(tab + b, 1));
    uint32_t e = static_cast<uint32_t>(u.size()) << 24;
    for (size_t k = 0; k < u.size() && k < 3; ++k) e |= uint32_t{static_cast<uint8_t>(u[k])} << (8 * k);
    enc[b] = e;
  }
  return enc;
}

// Writes the UTF-8 form of n bytes at d (room for 3n + 16) and returns the
// end; the 16 bytes after s + n must be readable. With asciiIdentity, ASCII
// is copied 16 bytes at a time, the last few of a line included.
char* EncodeBytesUtf8(const uint8_t* s, size_t n, char* d, const std::array<uint32_t, 256>& enc,
                      bool asciiIdentity) {
  auto put = [&](uint8_t b) {
    const uint32_t e = enc[b];
    const uint8_t u[4] = {static_cast<uint8_t>(e), static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e >> 16), 0};
    std::memcpy(d, u, 4);
    d += e >> 24;
  };
  size_t k = 0;
#if defined(__SSE2__)
  if (asciiIdentity) {
    while (k < n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
      const size_t left = n - k;
      unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
      if (left < 16) high &= (1u << left) - 1;
      if (!high) {
        const size_t step = std::min<size_t>(left, 16);
        d += step;
        k += step;
        continue;
      }
      // The block is in place up to its first other byte: each such byte
      // is encoded and the block's rest stored again after it.
      const size_t m = std::min<size_t>(left, 16);
      size_t at = 0;
      do {
        const unsigned p = static_cast<unsigned>(std::countr_zero(high));
        d += p - at;
        put(s[k + p]);
        at = p + 1;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k + at)));
        high &= high - 1;
      } while (high);
      d += m - at;
      k += m;
    }
  }
#else
  (void)asciiIdentity;
#endif
  for (; k < n; ++k) put(s[k]);
  return d;
}

// Bytes of a single-byte code page through its 256-entry table.
WideString Widen(std::string_view Bytes, const char16_t* Table) {
  WideString out(Bytes.size(), u'\0');
  for (size_t k = 0; k < Bytes.size(); ++k) out[k] = Table[static_cast<uint8_t>(Bytes[k])];
  return out;
}

// One line of a book's text: a paragraph of its own.
void TellLine(TDocumentOutput& Out, std::u16string_view Line, const TParagraph& P) {
  static const TRunStyle kPlain;
  Out.BeginParagraph(P);
  if (!Line.empty()) Out.Text(Line, kPlain);
  Out.EndParagraph();
}

// The code page of a book's bytes: single-byte ones (the usual case) are
// decoded through a table instead of one converter call per line.
struct TBytePage {
  explicit TBytePage(uint32_t ACodePage) : CodePage(ACodePage), Table(SingleByteTable(ACodePage)) {
    AsciiIdentity = !Table.empty();
    for (int b = 0; b < 0x80 && AsciiIdentity; ++b) AsciiIdentity = Table[b] == b;
  }
  WideString Decode(std::string_view Bytes) const {
    return Table.empty() ? MultiByteToWide(CodePage, Bytes) : Widen(Bytes, Table.data());
  }

  const uint32_t CodePage;
  const WideString Table;  // empty: not a single-byte code page
  bool AsciiIdentity = false;
};

// Inflates one zlib-compressed eReader text block; damaged data keeps what
// came out before the damage, and a block never yields more than
// kEReaderMaxBlock bytes.
RawByteString InflateBlock(std::string_view Data) {
  RawByteString out(kEReaderMaxBlock, '\0');
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  zs.avail_in = static_cast<uInt>(Data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_FINISH);
  out.resize(out.size() - zs.avail_out);
  inflateEnd(&zs);
  return out;
}

// The size of a Mobipocket text record without the trailing entries that
// Flags says follow its text: entries of bits 1-15 end in their own size
// (counting itself, a backward-encoded variable-width integer), the
// multibyte overlap of bit 0 in its count in the low two bits.
size_t MobiTextSize(const uint8_t* P, size_t N, uint16_t Flags) {
  for (int bit = 15; bit >= 1; --bit) {
    if (!(Flags & (1u << bit))) continue;
    uint32_t size = 0;
    int shift = 0;
    for (size_t k = 0; k < 4 && k < N; ++k) {
      const uint8_t b = P[N - 1 - k];
      size |= uint32_t{b & 0x7Fu} << shift;
      shift += 7;
      if (b & 0x80) break;
    }
    if (size > N) return 0;
    N -= size;
  }
  if ((Flags & 1) && N > 0) {
    const size_t overlap = (P[N - 1] & 3u) + 1;
    N = overlap <= N ? N - overlap : 0;
  }
  return N;
}
// Record 0 of an eReader book, as far as its text needs it.
struct TEReaderHead {
  // Raises for a record 0 too short for one and for DRM books.
  explicit TEReaderHead(std::string_view Head) {
    Older = Head.size() == kPeanutHeaderSize || Head.size() == kEReaderOlderHeaderSize;
    if (!Older && Head.size() < kEReaderHeaderSize) throw ECorruptError(SNotValidPalmDoc);
    Compression = LoadBE16(Head, 0);
    if (!Older && (Compression == kEReaderDRM1 || Compression == kEReaderDRM2))
      throw EEncryptionNotSupportedError(SEReaderDRM);
    FirstOther = LoadBE16(Head, Older ? kEReaderOlderFirstOtherAt : kEReaderFirstOtherAt);
    HasMetadata = !Older && LoadBE16(Head, kEReaderHasMetadataAt) != 0;
    if (HasMetadata) MetadataRecord = LoadBE16(Head, kEReaderMetadataAt);
  }

  bool Older = false;  // the older tool's: every text record scrambled PalmDoc
  uint16_t Compression = 0;
  uint16_t FirstOther = 0;  // text runs from record 1 up to this one
  bool HasMetadata = false;
  uint16_t MetadataRecord = 0;
};

// Whether a record's leading bytes (up to 16) show something other than
// text: a picture, one of the index, font and layout records Mobipocket's
// tools write after the text (a tag and a length or count, whose first
// byte no text holds), the end-of-file record, or padding.
bool IsOtherRecord(std::string_view H) {
  static constexpr std::string_view kTags[] = {"FLIS", "FCIS", "FDST", "EXTH", "INDX", "HUFF", "CDIC", "SRCS",
                                               "RESC", "DATP", "FONT", "CRES", "CMET", "BOUN", "AUDI", "VIDE"};
  if (H.size() >= 5 && H[4] == '\0')
    for (const std::string_view tag : kTags)
      if (H.starts_with(tag)) return true;
  if (H.starts_with("\xE9\x8E\r\n") || H.starts_with("\x89PNG\r\n\x1A\n") || H.starts_with("GIF87a") ||
      H.starts_with("GIF89a"))
    return true;
  const auto byte = [&](size_t I) { return static_cast<uint8_t>(H[I]); };
  if (H.size() >= 4 && H.starts_with("\xFF\xD8\xFF") &&
      ((byte(3) & 0xF0) == 0xE0 || byte(3) == 0xDB || byte(3) == 0xFE))
    return true;
  // A bitmap: its reserved field zero and its pixels soon after the header.
  if (H.size() >= 14 && H.starts_with("BM") && LoadLE32(H.data() + 6) == 0 && LoadLE32(H.data() + 10) >= 26 &&
      LoadLE32(H.data() + 10) < 0x10000)
    return true;
  return H.size() < 16 && !H.empty() && H.find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace

// Record 0 of a Mobipocket book: the PalmDoc fields, then the MOBI header
// when there is one, which names the encoding, the trailing entries of the
// text records and where the metadata is.
class TMobiHead {
 public:
  // Raises EReadError when record 0 is cut short, and for DRM books.
  // Undeclared: the code page of an encoding the book does not name.
  TMobiHead(std::string_view Head, uint32_t Undeclared) : FHead(Head) {
    if (Head.size() < kRecord0Size) throw EReadError("Stream read error");
    FHasHeader = Head.size() >= kMobiHeaderAt + 8 && Head.substr(kMobiHeaderAt, 4) == "MOBI";
    FEnd = FHasHeader ? kMobiHeaderAt + LoadBE32(Head, kMobiHeaderAt + kMobiLengthField) : kMobiHeaderAt;
    const uint16_t encryption = LoadBE16(Head, kMobiEncryptionAt);
    if ((FHasHeader && encryption != 0) || encryption == kMobiOldEncryption || encryption == kMobiEncryption)
      throw EEncryptionNotSupportedError(SEReaderDRM);
    const uint32_t drmAt = Field(kMobiDrmOffsetField), drmCount = Field(kMobiDrmCountField);
    if (drmAt != kMobiNoDrm && drmCount != 0 && drmCount != kMobiNoDrm) throw EEncryptionNotSupportedError(SEReaderDRM);
    const uint32_t encoding = Field(kMobiEncodingField);
    CodePage = encoding == 65001 ? 65001 : encoding == 1252 ? 1252 : Undeclared;
    const size_t flagsAt = kMobiHeaderAt + kMobiExtraFlagsField;
    ExtraFlags = FEnd >= flagsAt + 2 ? LoadBE16(Head, flagsAt) : 0;
  }

  std::string_view Bytes() const { return FHead; }
  bool HasHeader() const { return FHasHeader; }
  // Where the MOBI header ends (the EXTH block follows it).
  size_t End() const { return FEnd; }
  // A 32-bit field of the MOBI header; 0 when the header does not hold it.
  uint32_t Field(size_t Offset) const {
    const size_t at = kMobiHeaderAt + Offset;
    return at + 4 <= FEnd ? LoadBE32(FHead, at) : 0u;
  }
  uint16_t Compression() const { return LoadBE16(FHead, 0); }
  uint32_t DocSize() const { return LoadBE32(FHead, 4); }
  uint16_t NumRecords() const { return LoadBE16(FHead, 8); }
  uint16_t RecSize() const { return LoadBE16(FHead, 10); }
  WideString Decode(std::string_view Bytes) const {
    return CodePage == 65001 ? Utf8ToWide(Bytes) : MultiByteToWide(CodePage, Bytes);
  }

  uint32_t CodePage = 0;
  uint16_t ExtraFlags = 0;  // the trailing entries of each text record

 private:
  std::string_view FHead;
  bool FHasHeader = false;
  size_t FEnd = 0;
};

namespace {

// The EXTH block after the MOBI header: "EXTH", its length, the record
// count, then records of a type, a length (counting these 8 bytes) and the
// data. Takes the authors, publisher, description, subjects, date and an
// updated title.
void ReadExth(const TMobiHead& M, TLKWordSummaryInformation& Si) {
  const std::string_view head = M.Bytes();
  size_t at = M.End();
  if (at + 12 > head.size() || head.substr(at, 4) != "EXTH") return;
  const size_t end = std::min<size_t>(head.size(), at + LoadBE32(head, at + 4));
  WideString authors, subjects;
  for (at += 12; at + 8 <= end;) {
    const uint32_t type = LoadBE32(head, at), len = LoadBE32(head, at + 4);
    if (len < 8 || len > end - at) break;
    const WideString v = M.Decode(head.substr(at + 8, len - 8));
    auto join = [&](WideString& Into, std::u16string_view Sep) {
      if (v.empty()) return;
      if (!Into.empty()) Into += Sep;
      Into += v;
    };
    switch (type) {
      case kExthAuthor: join(authors, u"; "); break;
      case kExthPublisher: Si.SetCompany(v); break;
      case kExthDescription: Si.SetComments(v); break;
      case kExthSubject: join(subjects, u", "); break;
      case kExthPublished: Si.SetCreated(BookDateToDateTime(v)); break;
      case kExthUpdatedTitle: if (!v.empty()) Si.SetTitle(v); break;
      default: break;
    }
    at += len;
  }
  if (!authors.empty()) Si.SetAuthor(authors);
  if (!subjects.empty()) Si.SetKeywords(subjects);
}

// HUFF/CDIC: the HUFF record and its CDIC records, which the header
// locates, hold the tables; Tables keeps their bytes for the decoder.
std::unique_ptr<TMobiHuffCdic> LoadHuffTables(TRecordList& Records, const TMobiHead& M,
                                              std::vector<RawByteString>& Tables) {
  const uint32_t first = M.Field(kMobiHuffRecordField), count = M.Field(kMobiHuffCountField);
  if (count == 0 || first == 0 || first >= Records.Count() || count > Records.Count() - first)
    throw EReadError("The HUFF/CDIC tables of the book are missing");
  for (uint32_t k = 0; k < count; ++k) Tables.push_back(Records.Record(first + k));
  const std::vector<std::string_view> cdics(Tables.begin() + 1, Tables.end());
  return std::make_unique<TMobiHuffCdic>(Tables[0], cdics);
}

// KF8 books keep their style sheets and vector pictures after the HTML, as
// further flows of the text, which the FDST record delimits: "FDST", the
// header's size, the flow count, then each flow's start and end. Cuts Raw to
// the first flow.
void TakeHtmlFlow(TRecordList& Records, const TMobiHead& M, RawByteString& Raw) {
  if (M.Field(kMobiVersionField) < kMobiKf8Version || M.Field(kMobiFdstCountField) <= 1) return;
  const uint32_t fdst = M.Field(kMobiFdstRecordField);
  const RawByteString f = fdst != 0 && fdst < Records.Count() ? Records.Record(fdst) : RawByteString();
  if (f.size() < 20 || f.compare(0, 4, "FDST") != 0) return;
  const size_t at = LoadBE32(f, 4);
  if (at < 12 || at > f.size() - 8) return;
  const size_t start = LoadBE32(f, at), end = LoadBE32(f, at + 4);
  if (start <= end && end <= Raw.size()) Raw = Raw.substr(start, end - start);
}

// A PalmDoc book's lines of bytes as lines of the text. Plain text for a
// host that takes UTF-8 goes straight from the book's bytes to UTF-8: one
// byte is one UTF-16 unit of a single-byte code page.
class TLineWriter {
 public:
  TLineWriter(TDocumentOutput& Out, const TBytePage& Page, TPalmDocRenderer::TUtf8Lines Utf8)
      : FOut(Out),
        FPage(Page),
        FDirect(!Page.Table.empty() && Utf8 != TPalmDocRenderer::TUtf8Lines::None),
        FRuns(FDirect && Utf8 == TPalmDocRenderer::TUtf8Lines::Runs) {
    if (FDirect) FUtf8Of = Utf8Table(Page.Table.data());
  }

  // Whether runs of whole lines joined by LF may go out as one.
  bool Runs() const { return FRuns; }

  // Writes one line, or one run of lines; false once the output is complete.
  bool operator()(const char* P, size_t N) {
    if (FDirect) return Utf8(P, N);
    const auto* b = reinterpret_cast<const uint8_t*>(P);
    if (!FPage.Table.empty()) {
      FLine.resize(N);
      char16_t* d = FLine.data();
      const char16_t* tab = FPage.Table.data();
      if (FPage.AsciiIdentity)
        WidenAsciiIdentity(b, N, d, tab);
      else
        for (size_t k = 0; k < N; ++k) d[k] = tab[b[k]];
    } else {
      FLine = MultiByteToWide(FPage.CodePage, std::string_view(P, N));
    }
    TellLine(FOut, FLine, FParagraph);
    return !FOut.Cancelled();
  }

 private:
  // Kept apart so that the encoding loop has the registers to itself.
  [[gnu::noinline]] bool Utf8(const char* P, size_t N) {
    FUtf8.Clear();
    char* d = FUtf8.Reserve(3 * N + 16);
    const char* e = EncodeBytesUtf8(reinterpret_cast<const uint8_t*>(P), N, d, FUtf8Of, FPage.AsciiIdentity);
    FOut.LinesUtf8(std::string_view(d, static_cast<size_t>(e - d)), N);
    return !FOut.Cancelled();
  }

  TDocumentOutput& FOut;
  const TBytePage& FPage;
  const bool FDirect;
  const bool FRuns;
  const TParagraph FParagraph;
  std::array<uint32_t, 256> FUtf8Of{};
  TByteBuffer FUtf8;
  WideString FLine;
};

}  // namespace

TPalmDocFile::TPalmDocFile(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TPalmDocFile::~TPalmDocFile() { ClearInternalLists(); }

void TPalmDocFile::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  FLines = nullptr;
}

bool TPalmDocFile::IsPeanutFile() const {
  return std::memcmp(FHeader.PDBType, "PNRD", 4) == 0 && std::memcmp(FHeader.Creator, "PPRS", 4) == 0;
}

std::string_view TPalmDocFile::DatabaseName() const {
  const std::string_view name(FHeader.Name, sizeof FHeader.Name);
  return name.substr(0, name.find('\0'));
}

bool TPalmDocFile::IsMobiFile() const {
  return std::memcmp(FHeader.PDBType, "BOOK", 4) == 0 && std::memcmp(FHeader.Creator, "MOBI", 4) == 0;
}

bool TPalmDocFile::IsEReaderFile() const {
  return std::memcmp(FHeader.PDBType, "PNRd", 4) == 0 && std::memcmp(FHeader.Creator, "PPrs", 4) == 0;
}

void TPalmDocFile::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  ReadDatabaseHeader(Stream);
  TRecordList records(Stream, kHeaderSize, FHeader.NumRecords);
  if (IsEReaderFile())
    LoadEReader(records);
  else if (IsMobiFile())
    LoadMobi(records);
  else
    LoadDoc(records);
  if (const size_t missing = records.Missing())
    MarkPartial(Format("the book ends early: %d of its %d records are missing",
                       {std::to_string(missing), std::to_string(FHeader.NumRecords)}));
} catch (...) {
  RethrowAsException();
}

void TPalmDocFile::ReadDatabaseHeader(TStream& Stream) {
  FHeader = TPDBHeader{};
  FRecord0 = TPDB_DocRecord0{};

  uint8_t h[kHeaderSize];
  Stream.Seek(0, soBeginning);
  Stream.ReadBuffer(h, kHeaderSize);
  std::memcpy(FHeader.Name, h, 32);
  FHeader.Attributes = LoadBE16(h + 32);
  FHeader.Version = LoadBE16(h + 34);
  FHeader.CreateTime = LoadBE32(h + 36);
  FHeader.ModifyTime = LoadBE32(h + 40);
  FHeader.BackupTime = LoadBE32(h + 44);
  FHeader.ModificationNumber = LoadBE32(h + 48);
  FHeader.AppInfoIDc = LoadBE32(h + 52);
  FHeader.SortInfoID = LoadBE32(h + 56);
  std::memcpy(FHeader.PDBType, h + kTypeCreatorAt, 4);
  std::memcpy(FHeader.Creator, h + kTypeCreatorAt + 4, 4);
  FHeader.IDSeed = LoadBE32(h + 68);
  FHeader.NextRecordList = LoadBE32(h + 72);
  FHeader.NumRecords = LoadBE16(h + 76);

  bool isDoc = std::memcmp(FHeader.PDBType, "TEXt", 4) == 0 && std::memcmp(FHeader.Creator, "REAd", 4) == 0;
  if (!isDoc && !IsPeanutFile() && !IsEReaderFile() && !IsMobiFile()) throw ECorruptError(SNotValidPalmDoc);
}

uint32_t TPalmDocFile::ReadDocRecord0(TRecordList& Records) {
  // Records 1.. are text at most as far as the list reaches.
  const uint32_t listText = Records.Count() ? static_cast<uint32_t>(Records.Count() - 1) : 0;
  uint32_t claimed;  // text records the book declares (the list's count when it declares none)
  TStream& stream = Records.Stream();
  stream.Seek(Records.FirstOffset(), soBeginning);
  if (IsPeanutFile()) {
    uint8_t r[kPeanutHeaderSize];
    stream.ReadBuffer(r, kPeanutHeaderSize);
    FRecord0.Version = LoadBE16(r);
    FRecord0.NumRecords = LoadBE16(r + 8);
    FRecord0.RecSize = kPeanutRecSize;
    claimed = FRecord0.NumRecords ? FRecord0.NumRecords - 1u : listText;
  } else {
    uint8_t r[kRecord0Size];
    stream.ReadBuffer(r, kRecord0Size);
    FRecord0.Version = LoadBE16(r);
    FRecord0.spare = LoadBE16(r + 2);
    FRecord0.DocSize = LoadBE32(r + 4);
    FRecord0.NumRecords = LoadBE16(r + 8);
    FRecord0.RecSize = LoadBE16(r + 10);
    FRecord0.Position = LoadBE32(r + 12);
    claimed = FRecord0.NumRecords ? FRecord0.NumRecords : listText;
    // Mobipocket marks its encrypted books where a plain PalmDoc keeps its
    // reading position, and follows these bytes with the key data that a
    // plain record 0 lacks.
    const uint16_t encryption = LoadBE16(r + kMobiEncryptionAt);
    if ((encryption == kMobiOldEncryption || encryption == kMobiEncryption) &&
        Records.Peek(0, kRecord0Size + 1).size() > kRecord0Size)
      throw EEncryptionNotSupportedError(SEReaderDRM);
  }
  // Trailing bookmark/metadata records are not text: trust the book's own
  // count when the record list can hold it.
  return TextRecordsBeforeOther(Records, std::min(claimed, listText));
}

uint32_t TPalmDocFile::TextRecordsBeforeOther(TRecordList& Records, uint32_t Claimed) {
  for (uint32_t i = 1; i <= Claimed; ++i) {
    if (!IsOtherRecord(Records.Peek(i, 16))) continue;
    AddWarning(Format("%d of the %d text records the book counts were not read: record %d is not text",
                      {std::to_string(Claimed - i + 1), std::to_string(Claimed), std::to_string(i)}));
    return i - 1;
  }
  return Claimed;
}

void TPalmDocFile::LoadDoc(TRecordList& Records) {
  const uint32_t textRecords = ReadDocRecord0(Records);
  const TBytePage page(DefaultCodePage());
  if (FParseItems.Contains(wpiSummaryInformation)) SummaryInformation().SetTitle(page.Decode(DatabaseName()));
  if (!FParseItems.Contains(wpiText)) return;

  TDocumentOutput& out = Output();
  out.BeginDocument();
  TLineWriter writer(out, page, FLines->Utf8Lines());
  TByteBuffer pending;  // decoded bytes not yet written as a complete line
  TTextRecordDecoder decoder(Records, FRecord0.Version == kPalmDocCompression, IsPeanutFile());
  if (!out.Cancelled()) {
    decoder.Run(textRecords, pending, [&](TByteBuffer& Text) {
      TakeLines(Text, false, writer.Runs(), writer);
      return !out.Cancelled();
    });
  }
  if (!out.Cancelled()) TakeLines(pending, true, writer.Runs(), writer);
  out.EndDocument();
}

void TPalmDocFile::LoadEReader(TRecordList& Records) {
  const RawByteString head = Records.Record(0);
  const TEReaderHead h(head);
  const size_t listText = Records.Count() ? Records.Count() - 1 : 0;
  const size_t textRecords = std::min<size_t>(h.FirstOther ? h.FirstOther - 1u : 0, listText);
  FRecord0.Version = h.Compression;
  FRecord0.NumRecords = h.FirstOther;
  FRecord0.RecSize = kEReaderRecSize;

  // The text is Windows-1252 whatever the process's code page.
  const WideString table = SingleByteTable(1252);
  if (FParseItems.Contains(wpiSummaryInformation)) {
    SummaryInformation().SetTitle(Widen(DatabaseName(), table.data()));
    if (h.HasMetadata) ReadEReaderMetadata(Records.Record(h.MetadataRecord), table);
  }
  if (!FParseItems.Contains(wpiText)) return;

  Output().BeginDocument();
  ReadPmlText(Records, h.Older ? kPalmDocCompression : h.Compression, h.Older, textRecords, table);
  Output().EndDocument();
}

void TPalmDocFile::ReadEReaderMetadata(std::string_view Meta, const WideString& Table) {
  // Title, author, copyright, publisher and ISBN, each ended by a zero byte.
  std::vector<WideString> fields;
  for (size_t from = 0; from < Meta.size() && fields.size() < 4;) {
    const size_t end = std::min(Meta.find('\0', from), Meta.size());
    fields.push_back(Widen(Meta.substr(from, end - from), Table.data()));
    from = end + 1;
  }
  TLKWordSummaryInformation& si = SummaryInformation();
  if (!fields.empty() && !fields[0].empty()) si.SetTitle(fields[0]);
  if (fields.size() > 1) si.SetAuthor(fields[1]);
  if (fields.size() > 3) si.SetCompany(fields[3]);
}

void TPalmDocFile::ReadPmlText(TRecordList& Records, uint16_t Compression, bool Scrambled, size_t TextRecords,
                               const WideString& Table) {
  TDocumentOutput& out = Output();
  TPmlText pml;
  const TParagraph paragraph;
  RawByteString pending;
  int64_t inflated = FMaxDecompressedSize;
  auto emit = [&](std::string_view l) {
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    bool tagged = false;
    const WideString text = pml.Line(l, Table.data(), tagged);
    // A line of nothing but markup is no line of the text.
    if (!text.empty() || !tagged) TellLine(out, text, paragraph);
  };
  for (size_t i = 1; i <= TextRecords && !out.Cancelled(); ++i) {
    RawByteString data = Records.Record(i);
    if (Scrambled) DescramblePeanut(data.data(), data.size());
    if (Compression == kPalmDocCompression)
      data = DecompressPalmDoc(data);
    else if (Compression == kEReaderZlib)
      data = InflateBlock(data);
    inflated -= static_cast<int64_t>(data.size());
    if (inflated < 0) throw ELimitError(SDecompressLimit);
    pending += data;
    size_t from = 0;
    for (size_t nl; (nl = pending.find('\n', from)) != RawByteString::npos && !out.Cancelled(); from = nl + 1)
      emit(std::string_view(pending).substr(from, nl - from));
    pending.erase(0, from);
  }
  if (!pending.empty() && !out.Cancelled()) emit(pending);
}

void TPalmDocFile::LoadMobi(TRecordList& Records) {
  const RawByteString head = Records.Record(0);
  const TMobiHead m(head, DefaultCodePage());
  FRecord0.Version = m.Compression();
  FRecord0.DocSize = m.DocSize();
  FRecord0.NumRecords = m.NumRecords();
  FRecord0.RecSize = m.RecSize();
  if (FParseItems.Contains(wpiSummaryInformation)) ReadMobiMetadata(m);

  RawByteString raw = ReadMobiText(Records, m);
  TakeHtmlFlow(Records, m, raw);
  const WideString html = m.Decode(raw);
  RawByteString().swap(raw);
  if (!FParseItems.Contains(wpiText)) return;

  TDocumentOutput& out = Output();
  out.BeginDocument();
  THtmlLines(
      [&](std::u16string_view Line, const TParagraph& P) {
        TellLine(out, Line, P);
        return !out.Cancelled();
      },
      [&] { out.PageBreak(); })
      .Read(html);
  out.EndDocument();
}

void TPalmDocFile::ReadMobiMetadata(const TMobiHead& M) {
  TLKWordSummaryInformation& si = SummaryInformation();
  si.SetTitle(MultiByteToWide(M.HasHeader() ? M.CodePage : DefaultCodePage(), DatabaseName()));
  const std::string_view head = M.Bytes();
  const uint32_t nameAt = M.Field(kMobiFullNameField), nameLen = M.Field(kMobiFullNameLengthField);
  if (nameLen && nameAt < head.size() && nameLen <= head.size() - nameAt) si.SetTitle(M.Decode(head.substr(nameAt, nameLen)));
  if (M.Field(kMobiExthFlagsField) & kMobiHasExth) ReadExth(M, si);
}

RawByteString TPalmDocFile::ReadMobiText(TRecordList& Records, const TMobiHead& M) {
  const size_t listText = Records.Count() ? Records.Count() - 1 : 0;
  const size_t textRecords = TextRecordsBeforeOther(
      Records, static_cast<uint32_t>(M.NumRecords() ? std::min<size_t>(M.NumRecords(), listText) : listText));
  std::vector<RawByteString> tables;
  const std::unique_ptr<TMobiHuffCdic> huff =
      M.Compression() == kMobiHuffCdic ? LoadHuffTables(Records, M, tables) : nullptr;
  int64_t inflated = FMaxDecompressedSize;
  RawByteString raw;
  for (size_t i = 1; i <= textRecords && !Cancelled(); ++i) {
    RawByteString r = Records.Record(i);
    r.resize(MobiTextSize(reinterpret_cast<const uint8_t*>(r.data()), r.size(), M.ExtraFlags));
    if (M.Compression() == kPalmDocCompression) {
      r = DecompressPalmDoc(r);
    } else if (huff) {
      std::string text;
      if (!huff->Decode(r, text, kMobiMaxRecordText)) AddWarning("a damaged text record was cut short");
      r = std::move(text);
    }
    inflated -= static_cast<int64_t>(r.size());
    if (inflated < 0) throw ELimitError(SDecompressLimit);
    raw += r;
  }
  return raw;
}

WideString TPmlText::Line(std::string_view L, const char16_t* Table, bool& Tagged) {
  WideString out;
  Tagged = false;
  const size_t n = L.size();
  auto put = [&](char16_t c) {
    if (!FInvisible) out += c;
  };
  // Skips a tag's ="value" (which may be missing); i is past the tag's name.
  auto skipValue = [&](size_t i) {
    if (i + 1 < n && L[i] == '=' && L[i + 1] == '"') {
      const size_t close = L.find('"', i + 2);
      return close == std::string_view::npos ? n : close + 1;
    }
    return i;
  };
  size_t i = 0;
  while (i < n) {
    const char c = L[i];
    if (c != '\\') {
      put(Table[static_cast<uint8_t>(c)]);
      ++i;
      continue;
    }
    Tagged = true;
    if (i + 1 >= n) break;
    const char t = L[i + 1];
    i += 2;
    switch (t) {
      case '\\':
        put(u'\\');
        break;
      case 'a':
        // \aNNN: a character of Windows-1252 by its decimal code.
        if (i + 3 <= n && IsAsciiDigit(L[i]) && IsAsciiDigit(L[i + 1]) && IsAsciiDigit(L[i + 2])) {
          const int code = (L[i] - '0') * 100 + (L[i + 1] - '0') * 10 + (L[i + 2] - '0');
          if (code > 0 && code < 256) put(Table[code]);
          i += 3;
        }
        break;
      case 'U':
        // \UXXXX: a character by its Unicode code.
        if (i + 4 <= n && HexDigitValue(L[i]) >= 0 && HexDigitValue(L[i + 1]) >= 0 && HexDigitValue(L[i + 2]) >= 0 &&
            HexDigitValue(L[i + 3]) >= 0) {
          const int code = (HexDigitValue(L[i]) << 12) | (HexDigitValue(L[i + 1]) << 8) | (HexDigitValue(L[i + 2]) << 4) |
                           HexDigitValue(L[i + 3]);
          if (code != 0 && (code < 0xD800 || code > 0xDFFF)) put(static_cast<char16_t>(code));
          i += 4;
        }
        break;
      case 'v':
        FInvisible = !FInvisible;
        break;
      case 'C':
        // A chapter name for the index only: never shown.
        if (i < n && IsAsciiDigit(L[i])) ++i;
        i = skipValue(i);
        break;
      case 'X':
        if (i < n && IsAsciiDigit(L[i])) ++i;
        break;
      case 'S':
        // \Sp, \Sb (super-, subscript), \Sd="sidebar" (a reference whose text stays)
        if (i < n && (L[i] == 'p' || L[i] == 'b' || L[i] == 'd')) i = skipValue(i + 1);
        break;
      case 'F':
        // \Fn="note": a footnote reference whose text stays
        if (i < n && L[i] == 'n') i = skipValue(i + 1);
        break;
      default:
        // Paired formatting (\i, \B, \c, \x, \t, ...), \p, \-, and the tags
        // with a value: \m="image", \q="#link", \Q="anchor", \T="50%",
        // \w="50%". An unknown tag is dropped the same way.
        i = skipValue(i);
        break;
    }
  }
  return out;
}

std::unique_ptr<TTextRenderer> TPalmDocFile::CreateRenderer() {
  auto r = std::make_unique<TPalmDocRenderer>(*this, RendererPath());
  FLines = r.get();
  return r;
}

bool IsPalmDoc(TStream& Stream) {
  if (Stream.Size() < kHeaderSize) return false;
  char typeCreator[8];
  Stream.Seek(kTypeCreatorAt, soBeginning);
  if (Stream.Read(typeCreator, 8) != 8) return false;
  return std::memcmp(typeCreator, "TEXtREAd", 8) == 0 || std::memcmp(typeCreator, "PNRDPPRS", 8) == 0 ||
         std::memcmp(typeCreator, "PNRdPPrs", 8) == 0 || std::memcmp(typeCreator, "BOOKMOBI", 8) == 0;
}

}  // namespace lkw
