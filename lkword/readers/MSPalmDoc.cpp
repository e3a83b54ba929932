#include "lkword/readers/MSPalmDoc.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "lkword/containers/LKWXML.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/readers/BookText.h"
#include "lkword/readers/MSMobiHuff.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lkw {

namespace {

constexpr int64_t kHeaderSize = 78;
constexpr int64_t kRecordEntrySize = 8;
constexpr int64_t kRecord0Size = 16;
constexpr int64_t kPeanutHeaderSize = 116;
constexpr uint16_t kPalmDocCompression = 2;
constexpr uint16_t kPeanutRecSize = 4096;
// Peanut Press scrambles every byte of its text records with this value.
constexpr uint8_t kPeanutMask = 0xA5;
// One compressed input byte yields at most 2 output bytes (0xC0..0xFF), one
// 2-byte back-reference at most 10: output never exceeds 5x the input.
constexpr size_t kMaxExpansion = 5;

const char* const SNotValidPalmDoc = "Not valid PalmDoc text file.";
const char* const SEReaderDRM = "Could not read the DRM protected book";

// eReader record 0: 132 bytes from its current tool; 202 (or 116) from the
// older one, whose text records are scrambled like Peanut's.
constexpr size_t kEReaderHeaderSize = 132;
constexpr uint16_t kEReaderZlib = 10;
constexpr uint16_t kEReaderDRM1 = 260;
constexpr uint16_t kEReaderDRM2 = 272;
// eReader's tools cut text into blocks of 8 KiB; a block can hold 64 KiB at
// most, so more from one record is damage.
constexpr size_t kEReaderMaxBlock = 65535;

constexpr uint16_t kMobiHuffCdic = 17480;
// Record 0 of a Mobipocket book: the PalmDoc fields, then the MOBI header.
constexpr size_t kMobiHeaderAt = 16;
constexpr size_t kMobiExtraFlagsAt = 242;
constexpr uint32_t kMobiHasExth = 0x40;
// A text record holds 4 KiB; a HUFF/CDIC one that decodes to far more is damaged.
constexpr size_t kMobiMaxRecordText = 64 * 1024;

uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Room the decoder may scribble past its real output: back-references are
// copied in 8-byte steps and literal runs as 8-byte blocks.
constexpr size_t kDecodeSlack = 16;
// Books of at least this many compressed records (2 MB of text) are
// decompressed on two threads, in batches of kMinBatch..kMaxBatch records,
// kSlots batches at a time. Below that, a second thread's start, its malloc
// arena and fresh buffers cost as much as the overlap gains (measured on the
// whole tool, not in a warm loop, where it looks better).
constexpr uint32_t kParallelMinRecords = 512;
constexpr uint32_t kMinBatch = 4;
constexpr uint32_t kMaxBatch = 32;
constexpr uint32_t kSlots = 4;

// How many of the 8 bytes in w (in memory order) are literal bytes
// 0x09..0x7F before the first that is not: 0..8. Adding 0x77 to the low
// seven bits of a byte carries into its top bit exactly when they are 9 or
// more, and never on into the next byte.
size_t LeadingLiterals(uint64_t w) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kTop = 0x8080808080808080ULL;
  const uint64_t atLeast9 = (w & kLow7) + 0x7777777777777777ULL;
  const uint64_t stop = (w | ~atLeast9) & kTop;
  if (stop == 0) return 8;
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<size_t>(std::countr_zero(stop)) >> 3;
  else
    return static_cast<size_t>(std::countl_zero(stop)) >> 3;
}

// Decodes the token that starts with c, which is not a literal byte; i is
// past c. False at the lone first byte of a pair at the end of the input.
inline bool DecodeToken(uint8_t c, const uint8_t* src, size_t len, size_t& i, char* const out0, char*& out) {
  if (c >= 0xC0) {
    out[0] = ' ';
    out[1] = static_cast<char>(c ^ 0x80);
    out += 2;
  } else if (c >= 0x80) {
    if (i >= len) return false;
    const unsigned pair = (unsigned{c} << 8) | src[i++];
    const size_t distance = (pair & 0x3FFF) >> 3;
    const size_t count = (pair & 7) + 3;
    // Distance 0 or reaching before the output: corrupt, skipped.
    if (distance - 1 >= static_cast<size_t>(out - out0)) return true;
    const char* from = out - distance;
    if (distance >= 8) {
      // Each 8-byte step reads only bytes already final, so this equals
      // the byte-wise copy; bytes past count land in the slack.
      std::memcpy(out, from, 8);
      std::memcpy(out + 8, from + 8, 8);
    } else {
      // Overlapping: repeats the last `distance` bytes.
      for (size_t k = 0; k < count; ++k) out[k] = from[k];
    }
    out += count;
  } else if (c == 0x00) {
    *out++ = ' ';
  } else {
    // A run cut short by the end of the record keeps what is there.
    const size_t n = std::min<size_t>(c, len - i);
    if (len - i >= 8)
      std::memcpy(out, src + i, 8);
    else
      std::memcpy(out, src + i, n);
    out += n;
    i += n;
  }
  return true;
}

#if defined(__SSE2__)
// Bit k set: byte p[k] is not a literal 0x09..0x7F (so a token starts there
// when a token may start there at all). 64 bytes at p must be readable.
inline uint64_t StopBits64(const uint8_t* p) {
  const __m128i eight = _mm_set1_epi8(8);
  uint64_t m = 0;
  for (int q = 0; q < 4; ++q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
    // Signed: 0x80..0xFF are negative, so only 0x09..0x7F exceed 8.
    const auto lit = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, eight)));
    m |= uint64_t{~lit & 0xFFFFu} << (16 * q);
  }
  return m;
}
#endif

// Decompresses one record into out, which must hold len * kMaxExpansion +
// kDecodeSlack bytes; returns the bytes produced. Back-references only reach
// into this record's own output (records are compressed independently).
size_t DecompressInto(const uint8_t* src, size_t len, char* const out0) {
  char* out = out0;
  size_t i = 0;
#if defined(__SSE2__)
  // The bulk of a record: each token is found through the stop bits of the
  // 64-byte window at base (bits before i cleared), so that the position of
  // the next token is a few register operations away instead of a load and
  // a byte-class test of the bytes at i. Runs while the window and what a
  // token or literal copy may read (kAhead) lie inside the record.
  constexpr size_t kAhead = 80;
  if (len >= 64 + kAhead) {
    size_t base = 0;
    uint64_t stops = StopBits64(src);
    for (;;) {
      if (stops == 0) {
        if (base + 128 + kAhead > len) break;
        base += 64;
        stops = StopBits64(src + base);
        if (i > base) stops &= ~uint64_t{0} << (i - base);
        continue;
      }
      // The literals up to the token, 16 bytes at a time.
      const size_t j = base + static_cast<size_t>(std::countr_zero(stops));
      {
        const uint8_t* s = src + i;
        char* d = out;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
        for (size_t n = j - i; __builtin_expect(n > 16, 0); n -= 16) {
          s += 16;
          d += 16;
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
        }
        out += j - i;
      }
      i = j;
      const unsigned c = src[i];
      if (c >= 0xC0) {
        out[0] = ' ';
        out[1] = static_cast<char>(c ^ 0x80);
        out += 2;
        i += 1;
      } else if (c >= 0x80) {
        const unsigned pair = (c << 8) | src[i + 1];
        const size_t distance = (pair & 0x3FFF) >> 3;
        const size_t count = (pair & 7) + 3;
        i += 2;
        // Distance 0 or reaching before the output: corrupt, skipped.
        if (__builtin_expect(distance - 1 < static_cast<size_t>(out - out0), 1)) {
          const char* from = out - distance;
          if (__builtin_expect(distance >= 16, 1)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
          } else if (distance >= 8) {
            // Each 8-byte step reads only bytes already final.
            std::memcpy(out, from, 8);
            std::memcpy(out + 8, from + 8, 8);
          } else {
            for (size_t k = 0; k < count; ++k) out[k] = from[k];
          }
          out += count;
        }
      } else if (c == 0x00) {
        *out++ = ' ';
        i += 1;
      } else {
        std::memcpy(out, src + i + 1, 8);
        out += c;
        i += 1 + c;
      }
      // Drop the stop bits of the token just decoded and of its payload.
      const size_t shift = i - base;
      if (shift < 64) {
        stops &= ~uint64_t{0} << shift;
      } else {
        if (base + 128 + kAhead > len) break;
        base += 64;
        stops = StopBits64(src + base) & (~uint64_t{0} << (shift - 64));
      }
    }
  }
#endif
  // Literals come in short runs: while 8 input bytes remain, copy 8 and
  // keep as many as are literal (the rest is overwritten later), then decode
  // the token that ends the run. Doing so even when there is no run (n = 0)
  // spares a branch that the mix of text mispredicts half the time.
  while (len - i >= 8) {
    uint64_t w;
    std::memcpy(&w, src + i, 8);
    std::memcpy(out, &w, 8);
    const size_t n = LeadingLiterals(w);
    out += n;
    i += n;
    if (n == 8) continue;
    const uint8_t c = src[i++];  // ends the run, so it is no literal
    DecodeToken(c, src, len, i, out0, out);
  }
  while (i < len) {
    const uint8_t c = src[i++];
    if (c >= 0x09 && c <= 0x7F)
      *out++ = static_cast<char>(c);
    else if (!DecodeToken(c, src, len, i, out0, out))
      break;
  }
  return static_cast<size_t>(out - out0);
}

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
// the top byte.
std::array<uint32_t, 256> Utf8Table(const char16_t* tab) {
  std::array<uint32_t, 256> enc{};
  for (int b = 0; b < 256; ++b) {
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

// A growable byte buffer that leaves what it reserves uninitialised (the
// decoder overwrites it anyway).
class TByteBuffer {
 public:
  char* Data() { return FData.get(); }
  size_t Size() const { return FSize; }
  // Makes room for Extra more bytes and returns where they go. The 16 bytes
  // after the data can always be read (by the 16-byte steps of the UTF-8
  // encoder).
  char* Reserve(size_t Extra) {
    if (!FData || FCapacity - FSize < Extra + kPad) {
      size_t cap = std::max({FSize + Extra + kPad, FCapacity * 2, size_t{256}});
      std::unique_ptr<char[]> data(new char[cap]);
      if (FSize) std::memcpy(data.get(), FData.get(), FSize);
      FData = std::move(data);
      FCapacity = cap;
    }
    return FData.get() + FSize;
  }
  void Commit(size_t Added) { FSize += Added; }
  void Append(const char* p, size_t n) {
    std::memcpy(Reserve(n), p, n);
    FSize += n;
  }
  // Drops the first n bytes.
  void Consume(size_t n) {
    if (n < FSize) std::memmove(FData.get(), FData.get() + n, FSize - n);
    FSize -= std::min(n, FSize);
  }
  void Clear() { FSize = 0; }

 private:
  static constexpr size_t kPad = 16;
  std::unique_ptr<char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

// Bytes of a single-byte code page through its 256-entry table.
WideString Widen(std::string_view Bytes, const char16_t* Table) {
  WideString out(Bytes.size(), u'\0');
  for (size_t k = 0; k < Bytes.size(); ++k) out[k] = Table[static_cast<uint8_t>(Bytes[k])];
  return out;
}

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

bool IsDigitByte(char c) { return c >= '0' && c <= '9'; }

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

bool IsAsciiAlnum(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// Turns the HTML of a Mobipocket book into its lines of text: block
// elements, line breaks and page breaks end a line; head, script and style
// give nothing; blanks collapse outside <pre>; entities are decoded. The
// markup need not be well-formed (end tags in another case than their start
// tags, void elements left open, paragraphs never closed), so tags are only
// classified, never matched into a tree.
void HtmlToLines(std::u16string_view H, const std::function<bool(const WideString&)>& Emit) {
  WideString line, run;
  int skip = 0, pre = 0;
  bool space = false;
  auto flushRun = [&] {
    if (run.empty()) return;
    ReplaceHTMLChars(run);
    for (const char16_t c : run) {
      const bool blank = c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f';
      if (pre > 0 && c == u'\n') {
        line += u'\n';
      } else if (blank && pre == 0) {
        space = !line.empty();
      } else {
        if (space) line += u' ';
        space = false;
        line += blank ? u' ' : c;
      }
    }
    run.clear();
  };
  auto endLine = [&] {
    flushRun();
    space = false;
    size_t from = 0;
    // A preformatted block keeps its own line breaks.
    for (;;) {
      size_t nl = line.find(u'\n', from);
      std::u16string_view l = std::u16string_view(line).substr(from, nl == WideString::npos ? WideString::npos : nl - from);
      while (!l.empty() && l.back() == u' ') l.remove_suffix(1);
      if (pre == 0)
        while (!l.empty() && l.front() == u' ') l.remove_prefix(1);
      if (!l.empty() && !Emit(WideString(l))) return false;
      if (nl == WideString::npos) break;
      from = nl + 1;
    }
    line.clear();
    return true;
  };
  size_t i = 0;
  const size_t n = H.size();
  while (i < n) {
    if (H[i] != u'<') {
      const size_t lt = H.find(u'<', i);
      const size_t end = lt == std::u16string_view::npos ? n : lt;
      if (skip == 0) run.append(H.substr(i, end - i));
      i = end;
      continue;
    }
    if (H.substr(i, 4) == u"<!--") {
      const size_t close = H.find(u"-->", i + 4);
      i = close == std::u16string_view::npos ? n : close + 3;
      continue;
    }
    size_t k = i + 1;
    const bool closing = k < n && H[k] == u'/';
    if (closing) ++k;
    const size_t nameStart = k;
    while (k < n && (IsAsciiAlnum(H[k]) || H[k] == u':' || H[k] == u'-' || H[k] == u'_')) ++k;
    if (k == nameStart && !(k < n && (H[k] == u'!' || H[k] == u'?'))) {
      // A "<" that opens no tag is text.
      if (skip == 0) run += u'<';
      ++i;
      continue;
    }
    // The end of the tag, past quoted attribute values.
    char16_t quote = 0;
    size_t gt = k;
    for (; gt < n; ++gt) {
      if (quote) {
        if (H[gt] == quote) quote = 0;
      } else if (H[gt] == u'"' || H[gt] == u'\'') {
        quote = H[gt];
      } else if (H[gt] == u'>') {
        break;
      }
    }
    const bool selfClosing = gt > k && gt < n && H[gt - 1] == u'/';
    WideString name(H.substr(nameStart, k - nameStart));
    for (char16_t& c : name)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (const size_t colon = name.rfind(u':'); colon != WideString::npos) name.erase(0, colon + 1);
    i = gt < n ? gt + 1 : n;
    if (name.empty()) continue;  // <!DOCTYPE ...>, <?xml ...?>
    // The body is never inside what gives no text, whatever was left open.
    if (name == u"body" && !closing) skip = 0;
    const TBookElementRole role = name == u"pagebreak" ? brBlock : ClassifyXHTML(name);
    if (role == brSkip) {
      if (!selfClosing) skip = closing ? std::max(skip - 1, 0) : skip + 1;
      continue;
    }
    if (skip > 0 || role == brInline) continue;
    if (!endLine()) return;
    if (role == brPreformatted && !selfClosing) pre = closing ? std::max(pre - 1, 0) : pre + 1;
  }
  endLine();
}

// The records of an eReader or Mobipocket book by their place in the record
// list: the bytes the file really holds, and never more in all than the
// file's size (a corrupt list may repeat ranges).
class TRecordReader {
 public:
  TRecordReader(TStream& S, const std::vector<uint32_t>& Offsets, int64_t Size)
      : FStream(S), FOffsets(Offsets), FSize(Size), FBudget(Size) {}

  RawByteString operator()(size_t I) {
    if (I >= FOffsets.size()) return RawByteString();
    const int64_t start = FOffsets[I];
    int64_t end = I + 1 < FOffsets.size() ? int64_t{FOffsets[I + 1]} : FSize;
    end = std::min({end, FSize, start + FBudget});
    if (end <= start) return RawByteString();
    FBudget -= end - start;
    FStream.Seek(start, soBeginning);
    return FStream.ReadBytes(end - start);
  }

 private:
  TStream& FStream;
  const std::vector<uint32_t>& FOffsets;
  const int64_t FSize;
  int64_t FBudget;
};

}  // namespace

TPalmDocFile::TPalmDocFile(TComponent* AOwner) : TMSWBaseDocument(AOwner) {}

TPalmDocFile::~TPalmDocFile() { ClearInternalLists(); }

void TPalmDocFile::ClearInternalLists() { TMSWBaseDocument::ClearInternalLists(); }

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

RawByteString TPalmDocFile::DecompressText(const uint8_t* Source, size_t Length, uint16_t RecSize) {
  (void)RecSize;  // the output is sized from the input, which bounds it
  if (!Source || !Length) return {};
  RawByteString out(Length * kMaxExpansion + kDecodeSlack, '\0');
  out.resize(DecompressInto(Source, Length, out.data()));
  return out;
}

void TPalmDocFile::LoadFromFile(const std::string& AFileName) try {
  CheckFileExists(AFileName);
  TFileStream stream(AFileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(stream);
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
  FHeader.Attributes = BE16(h + 32);
  FHeader.Version = BE16(h + 34);
  FHeader.CreateTime = BE32(h + 36);
  FHeader.ModifyTime = BE32(h + 40);
  FHeader.BackupTime = BE32(h + 44);
  FHeader.ModificationNumber = BE32(h + 48);
  FHeader.AppInfoIDc = BE32(h + 52);
  FHeader.SortInfoID = BE32(h + 56);
  std::memcpy(FHeader.PDBType, h + 60, 4);
  std::memcpy(FHeader.Creator, h + 64, 4);
  FHeader.IDSeed = BE32(h + 68);
  FHeader.NextRecordList = BE32(h + 72);
  FHeader.NumRecords = BE16(h + 76);

  bool isDoc = std::memcmp(FHeader.PDBType, "TEXt", 4) == 0 && std::memcmp(FHeader.Creator, "REAd", 4) == 0;
  if (!isDoc && !IsPeanutFile() && !IsEReaderFile() && !IsMobiFile()) throw Exception(SNotValidPalmDoc);
}

void TPalmDocFile::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  ReadDatabaseHeader(Stream);

  const int64_t streamSize = Stream.Size();

  // The record list, as far as the file really holds it. Entry 0 must exist.
  uint8_t entry0[4];
  Stream.Seek(kHeaderSize, soBeginning);
  Stream.ReadBuffer(entry0, 4);
  const uint32_t record0Offset = BE32(entry0);
  std::vector<uint32_t> offsets;
  {
    int64_t listBytes = std::min<int64_t>(int64_t{FHeader.NumRecords} * kRecordEntrySize,
                                          std::max<int64_t>(streamSize - kHeaderSize, 0));
    Stream.Seek(kHeaderSize, soBeginning);
    const RawByteString list = Stream.ReadBytes(listBytes);
    size_t n = list.size() >= 4 ? (list.size() - 4) / kRecordEntrySize + 1 : 0;
    offsets.reserve(n);
    for (size_t i = 0; i < n; ++i)
      offsets.push_back(BE32(reinterpret_cast<const uint8_t*>(list.data()) + i * kRecordEntrySize));
  }
  // Records 1.. are text at most as far as the list reaches.
  const uint32_t listText = offsets.empty() ? 0 : static_cast<uint32_t>(offsets.size() - 1);

  if (IsEReaderFile()) {
    LoadEReader(Stream, offsets, streamSize);
    return;
  }
  if (IsMobiFile()) {
    LoadMobi(Stream, offsets, streamSize);
    return;
  }

  const bool peanut = IsPeanutFile();
  uint16_t compression;
  uint32_t claimed;  // text records the book declares (the list's count when it declares none)
  Stream.Seek(record0Offset, soBeginning);
  if (peanut) {
    uint8_t r[kPeanutHeaderSize];
    Stream.ReadBuffer(r, kPeanutHeaderSize);
    compression = BE16(r);
    uint16_t num = BE16(r + 8);
    FRecord0.Version = compression;
    FRecord0.NumRecords = num;
    FRecord0.RecSize = kPeanutRecSize;
    claimed = num ? num - 1u : listText;
  } else {
    uint8_t r[kRecord0Size];
    Stream.ReadBuffer(r, kRecord0Size);
    FRecord0.Version = BE16(r);
    FRecord0.spare = BE16(r + 2);
    FRecord0.DocSize = BE32(r + 4);
    FRecord0.NumRecords = BE16(r + 8);
    FRecord0.RecSize = BE16(r + 10);
    FRecord0.Position = BE32(r + 12);
    compression = FRecord0.Version;
    claimed = FRecord0.NumRecords ? FRecord0.NumRecords : listText;
  }
  // Trailing bookmark/metadata records are not text: trust the book's own
  // count when the record list can hold it. A text record ends where the
  // next record of the list starts, the last one of the list at the end of
  // the file.
  const uint32_t textRecords = claimed <= listText ? claimed : listText;

  // Single-byte code pages (the usual case) are decoded through a table
  // instead of one converter call per line.
  const uint32_t cp = GetACP();
  const WideString table = SingleByteTable(cp);
  const char16_t* const tab = table.data();
  bool asciiIdentity = !table.empty();
  for (int b = 0; b < 0x80 && asciiIdentity; ++b) asciiIdentity = table[b] == b;

  if (FParseItems.Contains(wpiSummaryInformation)) {
    SummaryInformation().SetTitle(table.empty() ? MultiByteToWide(cp, DatabaseName()) : Widen(DatabaseName(), tab));
  }

  if (!FParseItems.Contains(wpiText)) return;

  AddText(GetTextStart());

  TByteBuffer pending;  // decoded bytes not yet emitted as a complete line
  WideString line;
  WideString rendered;
  // Overlapping or repeated record ranges in a corrupt list must not make us
  // process more bytes than the file holds.
  int64_t budget = streamSize;

  // Plain text for a host that takes UTF-8 goes straight from the book's
  // bytes to UTF-8: one byte is one UTF-16 unit of a single-byte code page.
  const bool direct = FTextFormating == tfPlainText && !table.empty() && HasUtf8TextSink();
  std::array<uint32_t, 256> utf8Of{};
  if (direct) utf8Of = Utf8Table(tab);
  TByteBuffer utf8;

  auto emitLine = [&](const char* p, size_t n) {
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    if (direct) {
      utf8.Clear();
      char* d = utf8.Reserve(3 * n + 16);
      const char* e = EncodeBytesUtf8(b, n, d, utf8Of, asciiIdentity);
      AddTextUtf8(std::string_view(d, static_cast<size_t>(e - d)), n);
      return;
    }
    if (!table.empty()) {
      line.resize(n);
      char16_t* d = line.data();
      if (asciiIdentity)
        WidenAsciiIdentity(b, n, d, tab);
      else
        for (size_t k = 0; k < n; ++k) d[k] = tab[b[k]];
    } else {
      line = MultiByteToWide(cp, std::string_view(p, n));
    }
    AddLine(line, rendered);
  };

  // The UTF-8 sink takes runs of whole lines joined by LF as one item; with
  // a length limit, which counts lines, they go one by one.
  const bool lineRuns = direct && MaxTextLength() <= 0;

  // Emits every complete line of `pending`; a CR at its very end waits for
  // the next record, which may start with the LF of the same line break.
  auto emitLines = [&](bool final) {
    const char* data = pending.Data();
    const size_t size = pending.Size();
    auto find = [&](char c, size_t from) {
      const void* hit = std::memchr(data + from, c, size - from);
      return hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : size;
    };
    size_t pos = 0;
    size_t crPos = 0;  // next CR at or after pos (size: none); found lazily
    bool crKnown = false;
    while (pos < size && !IsCancelExtract) {
      if (!crKnown || crPos < pos) {
        crPos = find('\r', pos);
        crKnown = true;
      }
      if (lineRuns) {
        // The whole lines before the next CR go out as one item.
        if (const void* lf = memrchr(data + pos, '\n', crPos - pos)) {
          const size_t end = static_cast<size_t>(static_cast<const char*>(lf) - data);
          emitLine(data + pos, end - pos);
          pos = end + 1;
          continue;
        }
      }
      const size_t lfPos = find('\n', pos);
      if (crPos < lfPos) {
        if (crPos + 1 == size && !final) break;
        emitLine(data + pos, crPos - pos);
        pos = crPos + 1;
        if (pos < size && data[pos] == '\n') ++pos;
        continue;
      }
      if (lfPos == size) {
        if (final) {
          emitLine(data + pos, size - pos);
          pos = size;
        }
        break;
      }
      emitLine(data + pos, lfPos - pos);
      pos = lfPos + 1;
    }
    pending.Consume(pos);
  };

  // Where text record i lies: only the bytes the file really holds, and
  // never more in all than the file's size (a corrupt list may repeat
  // ranges). Counts them against that.
  auto recordSpan = [&](uint32_t i) {
    const int64_t start = offsets[i];
    int64_t end = i + 1 < offsets.size() ? int64_t{offsets[i + 1]} : streamSize;
    end = std::min(end, streamSize);
    const int64_t len = end > start ? std::min(end - start, budget) : 0;
    budget -= len;
    return std::pair<int64_t, size_t>(start, static_cast<size_t>(len));
  };
  // Appends text record i to Raw.
  auto readRecord = [&](uint32_t i, TByteBuffer& Raw) {
    const auto [start, len] = recordSpan(i);
    if (!len) return;
    Stream.Seek(start, soBeginning);
    char* into = Raw.Reserve(len);
    // A host's stream may hand out less than asked for at a time.
    size_t got = 0;
    while (got < len) {
      const int64_t n = Stream.Read(into + got, static_cast<int64_t>(len - got));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    Raw.Commit(got);
  };
  auto descramble = [](char* rec, size_t recLen) {
    for (size_t k = 0; k < recLen; ++k) rec[k] = static_cast<char>(static_cast<uint8_t>(rec[k]) ^ kPeanutMask);
  };
  // Appends the text of one record's bytes (descrambled in place) to Into.
  auto decompressRecord = [](const uint8_t* rec, size_t recLen, TByteBuffer& Into) {
    char* out = Into.Reserve(recLen * kMaxExpansion + kDecodeSlack);
    Into.Commit(DecompressInto(rec, recLen, out));
  };
  auto decodeRecord = [&](char* rec, size_t recLen, TByteBuffer& Into) {
    if (peanut) descramble(rec, recLen);
    if (compression == kPalmDocCompression) {
      decompressRecord(reinterpret_cast<const uint8_t*>(rec), recLen, Into);
    } else if (recLen) {
      Into.Append(rec, recLen);
    }
  };

  if (compression == kPalmDocCompression && textRecords >= kParallelMinRecords &&
      std::thread::hardware_concurrency() > 1) {
    // Records are compressed independently: a second thread and this one
    // both decompress batches of them (claimed in order) while this one also
    // turns finished batches into lines, in order. The stream is shared, so
    // a batch's bytes are read under the lock; kSlots batches in flight
    // bound memory.
    const uint32_t batch = std::clamp<uint32_t>(textRecords / 32, kMinBatch, kMaxBatch);
    const uint32_t batches = (textRecords + batch - 1) / batch;
    struct TSlot {
      TByteBuffer Bytes;
      bool Full = false;
    };
    std::array<TSlot, kSlots> slots;
    std::mutex lock;
    std::condition_variable changed;
    uint32_t nextClaim = 0;  // next batch to decompress
    uint32_t emitted = 0;    // batches turned into lines
    bool stop = false;
    std::exception_ptr failure;
    // With the lock held: claims the next batch if its slot is free, reads
    // it, and decompresses it with the lock released. False when nothing
    // can be claimed.
    auto work = [&](std::unique_lock<std::mutex>& g, TByteBuffer& raw, std::vector<size_t>& ends) {
      if (stop || nextClaim >= batches || nextClaim >= emitted + kSlots) return false;
      const uint32_t k = nextClaim++;
      raw.Clear();
      ends.clear();
      for (uint32_t i = k * batch + 1; i <= std::min(textRecords, (k + 1) * batch); ++i) {
        readRecord(i, raw);
        ends.push_back(raw.Size());
      }
      g.unlock();
      TSlot& slot = slots[k % kSlots];
      slot.Bytes.Clear();
      // Room for the worst case up front: growing would touch fresh pages
      // twice, while reserved room that is never written costs nothing.
      slot.Bytes.Reserve(raw.Size() * kMaxExpansion + kDecodeSlack);
      size_t from = 0;
      for (size_t e : ends) {
        decodeRecord(raw.Data() + from, e - from, slot.Bytes);
        from = e;
      }
      g.lock();
      slot.Full = true;
      changed.notify_all();
      return true;
    };
    auto halt = [&] {
      std::lock_guard<std::mutex> g(lock);
      stop = true;
      changed.notify_all();
    };
    std::thread worker([&] {
      TByteBuffer raw;
      std::vector<size_t> ends;
      try {
        std::unique_lock<std::mutex> g(lock);
        for (;;) {
          changed.wait(g, [&] { return stop || nextClaim >= batches || nextClaim < emitted + kSlots; });
          if (!work(g, raw, ends)) break;
        }
      } catch (...) {
        std::lock_guard<std::mutex> g(lock);
        failure = std::current_exception();
        stop = true;
        changed.notify_all();
      }
    });
    try {
      TByteBuffer raw;
      std::vector<size_t> ends;
      for (uint32_t k = 0; k < batches && !IsCancelExtract; ++k) {
        TSlot& slot = slots[k % kSlots];
        {
          std::unique_lock<std::mutex> g(lock);
          while (!slot.Full && !stop)
            if (!work(g, raw, ends)) changed.wait(g);
          if (!slot.Full) break;  // the worker failed
        }
        pending.Append(slot.Bytes.Data(), slot.Bytes.Size());
        {
          std::lock_guard<std::mutex> g(lock);
          slot.Full = false;
          emitted = k + 1;
        }
        changed.notify_all();
        emitLines(false);
      }
    } catch (...) {
      halt();
      worker.join();
      throw;
    }
    halt();
    worker.join();
    if (failure) std::rethrow_exception(failure);
  } else {
    // A book in memory (a host's memory stream or mapping) is decompressed
    // where it lies.
    const auto* inMemory = dynamic_cast<const TCustomMemoryStream*>(&Stream);
    const uint8_t* const bytes = inMemory && !peanut ? inMemory->Memory() : nullptr;
    TByteBuffer raw;
    for (uint32_t i = 1; i <= textRecords && !IsCancelExtract; ++i) {
      if (bytes && compression == kPalmDocCompression) {
        const auto [start, len] = recordSpan(i);
        if (len) decompressRecord(bytes + start, len, pending);
      } else if (compression == kPalmDocCompression) {
        raw.Clear();
        readRecord(i, raw);
        decodeRecord(raw.Data(), raw.Size(), pending);
      } else {
        // Stored text is read where it is split into lines.
        const size_t at = pending.Size();
        readRecord(i, pending);
        if (peanut) descramble(pending.Data() + at, pending.Size() - at);
      }
      emitLines(false);
    }
  }
  if (!IsCancelExtract) emitLines(true);

  AddText(GetTextFinish());
} catch (...) {
  RethrowAsException();
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
        if (i + 3 <= n && IsDigitByte(L[i]) && IsDigitByte(L[i + 1]) && IsDigitByte(L[i + 2])) {
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
        if (i < n && IsDigitByte(L[i])) ++i;
        i = skipValue(i);
        break;
      case 'X':
        if (i < n && IsDigitByte(L[i])) ++i;
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

void TPalmDocFile::AddLine(const WideString& Line, WideString& Scratch) {
  if (FTextFormating == tfPlainText) {
    AddText(Line);
    return;
  }
  Scratch.clear();
  AppendEscaped(Scratch, Line, FTextFormating);
  Scratch += FTextFormating == tfRTF ? std::u16string_view(u"\\par") : std::u16string_view(u"<br>");
  AddText(Scratch);
}

void TPalmDocFile::LoadEReader(TStream& Stream, const std::vector<uint32_t>& Offsets, int64_t StreamSize) {
  TRecordReader record(Stream, Offsets, StreamSize);
  const RawByteString head = record(0);
  const auto* h = reinterpret_cast<const uint8_t*>(head.data());
  const bool older = head.size() == kPeanutHeaderSize || head.size() == 202;
  if (!older && head.size() < kEReaderHeaderSize) throw Exception(SNotValidPalmDoc);
  const uint16_t compression = BE16(h);
  if (!older && (compression == kEReaderDRM1 || compression == kEReaderDRM2)) throw Exception(SEReaderDRM);
  // Text runs from record 1 up to the first record that is not text.
  const uint16_t firstOther = BE16(h + (older ? 8 : 12));
  const size_t listText = Offsets.empty() ? 0 : Offsets.size() - 1;
  const size_t textRecords = std::min<size_t>(firstOther ? firstOther - 1u : 0, listText);
  FRecord0.Version = compression;
  FRecord0.NumRecords = firstOther;
  FRecord0.RecSize = 8192;

  // The text is Windows-1252 whatever the process's code page.
  const WideString table = SingleByteTable(1252);

  if (FParseItems.Contains(wpiSummaryInformation)) SummaryInformation().SetTitle(Widen(DatabaseName(), table.data()));
  if (FParseItems.Contains(wpiSummaryInformation) && !older && BE16(h + 24) != 0) {
    // Title, author, copyright, publisher and ISBN, each ended by a zero byte.
    const RawByteString meta = record(BE16(h + 44));
    std::vector<WideString> fields;
    for (size_t from = 0; from < meta.size() && fields.size() < 4;) {
      size_t end = meta.find('\0', from);
      if (end == RawByteString::npos) end = meta.size();
      fields.push_back(Widen(std::string_view(meta).substr(from, end - from), table.data()));
      from = end + 1;
    }
    TLKWordSummaryInformation& si = SummaryInformation();
    if (!fields.empty() && !fields[0].empty()) si.SetTitle(fields[0]);
    if (fields.size() > 1) si.SetAuthor(fields[1]);
    if (fields.size() > 3) si.SetCompany(fields[3]);
  }
  if (!FParseItems.Contains(wpiText)) return;

  AddText(GetTextStart());
  TPmlText pml;
  WideString scratch;
  RawByteString pending;
  int64_t inflated = FMaxDecompressedSize;
  auto emit = [&](std::string_view l) {
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    bool tagged = false;
    const WideString text = pml.Line(l, table.data(), tagged);
    // A line of nothing but markup is no line of the text.
    if (!text.empty() || !tagged) AddLine(text, scratch);
  };
  for (size_t i = 1; i <= textRecords && !IsCancelExtract; ++i) {
    RawByteString data = record(i);
    // The older tool's records are all scrambled PalmDoc.
    if (older)
      for (char& c : data) c = static_cast<char>(static_cast<uint8_t>(c) ^ kPeanutMask);
    if (older || compression == kPalmDocCompression) {
      data = DecompressText(reinterpret_cast<const uint8_t*>(data.data()), data.size(), 0);
    } else if (compression == kEReaderZlib) {
      data = InflateBlock(data);
    }
    inflated -= static_cast<int64_t>(data.size());
    if (inflated < 0) throw ELimitError("The document decompresses to more than the allowed size");
    pending += data;
    size_t from = 0;
    for (size_t nl; (nl = pending.find('\n', from)) != RawByteString::npos && !IsCancelExtract; from = nl + 1)
      emit(std::string_view(pending).substr(from, nl - from));
    pending.erase(0, from);
  }
  if (!pending.empty() && !IsCancelExtract) emit(pending);
  AddText(GetTextFinish());
}

void TPalmDocFile::LoadMobi(TStream& Stream, const std::vector<uint32_t>& Offsets, int64_t StreamSize) {
  TRecordReader record(Stream, Offsets, StreamSize);
  const RawByteString head = record(0);
  if (head.size() < kRecord0Size) throw EReadError("Stream read error");
  const auto* h = reinterpret_cast<const uint8_t*>(head.data());
  const uint16_t compression = BE16(h);
  const size_t listText = Offsets.empty() ? 0 : Offsets.size() - 1;
  const size_t textRecords = BE16(h + 8) ? std::min<size_t>(BE16(h + 8), listText) : listText;
  FRecord0.Version = compression;
  FRecord0.DocSize = BE32(h + 4);
  FRecord0.NumRecords = BE16(h + 8);
  FRecord0.RecSize = BE16(h + 10);

  // The MOBI header, when there is one, names the encoding, the trailing
  // entries of the text records and where the metadata is.
  const bool mobiHeader = head.size() >= kMobiHeaderAt + 8 && std::memcmp(h + kMobiHeaderAt, "MOBI", 4) == 0;
  const size_t headerEnd = mobiHeader ? kMobiHeaderAt + BE32(h + kMobiHeaderAt + 4) : kMobiHeaderAt;
  auto field32 = [&](size_t At) { return At + 4 <= head.size() && At + 4 <= headerEnd ? BE32(h + At) : 0u; };
  if (mobiHeader && BE16(h + 12) != 0) throw Exception(SEReaderDRM);
  const uint32_t encoding = field32(28);
  const uint16_t extraFlags =
      headerEnd >= kMobiExtraFlagsAt + 2 && head.size() >= kMobiExtraFlagsAt + 2 ? BE16(h + kMobiExtraFlagsAt) : 0;

  const uint32_t cp = encoding == 65001 ? 65001 : encoding == 1252 ? 1252 : GetACP();
  auto decode = [&](std::string_view Bytes) {
    return cp == 65001 ? Utf8ToWide(Bytes) : MultiByteToWide(cp, Bytes);
  };

  if (FParseItems.Contains(wpiSummaryInformation)) {
    TLKWordSummaryInformation& si = SummaryInformation();
    si.SetTitle(MultiByteToWide(mobiHeader ? cp : GetACP(), DatabaseName()));
    const uint32_t nameAt = field32(kMobiHeaderAt + 68), nameLen = field32(kMobiHeaderAt + 72);
    if (nameLen && nameAt < head.size() && nameLen <= head.size() - nameAt)
      si.SetTitle(decode(std::string_view(head).substr(nameAt, nameLen)));
    if (field32(kMobiHeaderAt + 112) & kMobiHasExth) {
      // EXTH: "EXTH", its length, the record count, then records of a type,
      // a length (counting these 8 bytes) and the data.
      size_t at = headerEnd;
      if (at + 12 <= head.size() && std::memcmp(h + at, "EXTH", 4) == 0) {
        const size_t end = std::min<size_t>(head.size(), at + BE32(h + at + 4));
        WideString authors, subjects;
        for (at += 12; at + 8 <= end;) {
          const uint32_t type = BE32(h + at), len = BE32(h + at + 4);
          if (len < 8 || len > end - at) break;
          const WideString v = decode(std::string_view(head).substr(at + 8, len - 8));
          auto join = [&](WideString& Into, std::u16string_view Sep) {
            if (v.empty()) return;
            if (!Into.empty()) Into += Sep;
            Into += v;
          };
          switch (type) {
            case 100: join(authors, u"; "); break;
            case 101: si.SetCompany(v); break;
            case 103: si.SetComments(v); break;
            case 105: join(subjects, u", "); break;
            case 106: si.SetCreated(BookDateToDateTime(v)); break;
            case 503: if (!v.empty()) si.SetTitle(v); break;
            default: break;
          }
          at += len;
        }
        if (!authors.empty()) si.SetAuthor(authors);
        if (!subjects.empty()) si.SetKeywords(subjects);
      }
    }
  }

  // HUFF/CDIC: the HUFF record and its CDIC records, which the header
  // locates, hold the tables.
  std::vector<RawByteString> tables;
  std::unique_ptr<TMobiHuffCdic> huff;
  if (compression == kMobiHuffCdic) {
    const uint32_t first = field32(kMobiHeaderAt + 96), count = field32(kMobiHeaderAt + 100);
    if (count == 0 || first == 0 || first >= Offsets.size() || count > Offsets.size() - first)
      throw EReadError("The HUFF/CDIC tables of the book are missing");
    for (uint32_t k = 0; k < count; ++k) tables.push_back(record(first + k));
    const std::vector<std::string_view> cdics(tables.begin() + 1, tables.end());
    huff = std::make_unique<TMobiHuffCdic>(tables[0], cdics);
  }

  // The whole text: the HTML of the book.
  int64_t inflated = FMaxDecompressedSize;
  RawByteString raw;
  for (size_t i = 1; i <= textRecords && !IsCancelExtract; ++i) {
    RawByteString r = record(i);
    r.resize(MobiTextSize(reinterpret_cast<const uint8_t*>(r.data()), r.size(), extraFlags));
    if (compression == kPalmDocCompression) {
      r = DecompressText(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 0);
    } else if (huff) {
      std::string text;
      if (!huff->Decode(r, text, kMobiMaxRecordText)) AddWarning("a damaged text record was cut short");
      r = std::move(text);
    }
    inflated -= static_cast<int64_t>(r.size());
    if (inflated < 0) throw ELimitError("The document decompresses to more than the allowed size");
    raw += r;
  }
  // KF8 books keep their style sheets and vector pictures after the HTML,
  // as further flows of the text, which the FDST record delimits.
  if (field32(kMobiHeaderAt + 20) >= 8 && field32(kMobiHeaderAt + 180) > 1) {
    const uint32_t fdst = field32(kMobiHeaderAt + 176);
    const RawByteString f = fdst != 0 && fdst < Offsets.size() ? record(fdst) : RawByteString();
    const auto* p = reinterpret_cast<const uint8_t*>(f.data());
    // "FDST", the header's size, the flow count, then each flow's start
    // and end.
    if (f.size() >= 20 && std::memcmp(p, "FDST", 4) == 0) {
      const size_t at = BE32(p + 4);
      if (at >= 12 && at <= f.size() - 8) {
        const size_t start = BE32(p + at), end = BE32(p + at + 4);
        if (start <= end && end <= raw.size()) raw = raw.substr(start, end - start);
      }
    }
  }
  const WideString html = decode(raw);
  RawByteString().swap(raw);

  if (!FParseItems.Contains(wpiText)) return;
  AddText(GetTextStart());
  WideString scratch;
  HtmlToLines(html, [&](const WideString& Line) {
    AddLine(Line, scratch);
    return !IsCancelExtract;
  });
  AddText(GetTextFinish());
}


bool IsPalmDoc(TStream& Stream) {
  if (Stream.Size() < kHeaderSize) return false;
  char typeCreator[8];
  Stream.Seek(60, soBeginning);
  if (Stream.Read(typeCreator, 8) != 8) return false;
  return std::memcmp(typeCreator, "TEXtREAd", 8) == 0 || std::memcmp(typeCreator, "PNRDPPRS", 8) == 0 ||
         std::memcmp(typeCreator, "PNRdPPrs", 8) == 0 || std::memcmp(typeCreator, "BOOKMOBI", 8) == 0;
}

}  // namespace lkw
