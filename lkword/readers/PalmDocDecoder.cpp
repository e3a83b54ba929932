#include "lkword/readers/PalmDocDecoder.h"

#include <array>
#include <bit>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "lkword/platform/Bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lkw {

namespace {

constexpr int64_t kRecordEntrySize = 8;
constexpr uint8_t kPeanutMask = 0xA5;

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

// Decodes the token at src[i] of the windowed bulk, where every byte it may
// read lies inside the record.
[[gnu::always_inline]] inline void DecodeBulkToken(const uint8_t* src, size_t& i, char* const out0, char*& out) {
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
}

// The bulk of a record: each token is found through the stop bits of the
// 64-byte window at base (bits before i cleared), so that the position of
// the next token is a few register operations away instead of a load and
// a byte-class test of the bytes at i. Runs while the window and what a
// token or literal copy may read (kAhead) lie inside the record; returns
// where it stopped. Inlined: out in memory would cost every token a store.
[[gnu::always_inline]] inline size_t DecompressBulk(const uint8_t* src, size_t len, char* const out0, char*& out) {
  constexpr size_t kAhead = 80;
  size_t i = 0;
  if (len < 64 + kAhead) return i;
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
    DecodeBulkToken(src, i, out0, out);
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
  return i;
}
#endif

}  // namespace

size_t DecompressPalmDocInto(const uint8_t* src, size_t len, char* const out0) {
  char* out = out0;
#if defined(__SSE2__)
  size_t i = DecompressBulk(src, len, out0, out);
#else
  size_t i = 0;
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

RawByteString DecompressPalmDoc(std::string_view Record) {
  if (Record.empty()) return {};
  RawByteString out(PalmDocDecodeRoom(Record.size()), '\0');
  out.resize(DecompressPalmDocInto(reinterpret_cast<const uint8_t*>(Record.data()), Record.size(), out.data()));
  return out;
}

void DescramblePeanut(char* P, size_t N) {
  for (size_t k = 0; k < N; ++k) P[k] = static_cast<char>(static_cast<uint8_t>(P[k]) ^ kPeanutMask);
}

void TByteBuffer::Grow(size_t Extra) {
  const size_t cap = std::max({FSize + Extra + kPad, FCapacity * 2, size_t{256}});
  std::unique_ptr<char[]> data(new char[cap]);
  if (FSize) std::memcpy(data.get(), FData.get(), FSize);
  FData = std::move(data);
  FCapacity = cap;
}

// ---------------------------------------------------------------------------
// TRecordList

TRecordList::TRecordList(TStream& Stream, int64_t ListAt, uint16_t Count) : FStream(Stream) {
  FSize = Stream.Size();
  FBudget = FSize;
  uint8_t entry0[4];
  Stream.Seek(ListAt, soBeginning);
  Stream.ReadBuffer(entry0, 4);
  FFirst = LoadBE32(entry0);
  const int64_t listBytes = std::min<int64_t>(int64_t{Count} * kRecordEntrySize, std::max<int64_t>(FSize - ListAt, 0));
  Stream.Seek(ListAt, soBeginning);
  const RawByteString list = Stream.ReadBytes(listBytes);
  // An entry is its 4-byte offset and 4 bytes of attributes.
  const size_t n = list.size() >= 4 ? (list.size() - 4) / kRecordEntrySize + 1 : 0;
  FOffsets.reserve(n);
  for (size_t i = 0; i < n; ++i) FOffsets.push_back(LoadBE32(list.data() + i * kRecordEntrySize));
  FMissing = Count > n ? Count - n : 0;
  for (const uint32_t offset : FOffsets)
    if (offset >= FSize) ++FMissing;
}

TRecordList::TSpan TRecordList::Bounds(size_t I, int64_t Most) const {
  if (I >= FOffsets.size()) return {};
  const int64_t start = FOffsets[I];
  const int64_t end = std::min(I + 1 < FOffsets.size() ? int64_t{FOffsets[I + 1]} : FSize, FSize);
  return {start, static_cast<size_t>(end > start ? std::min(end - start, Most) : 0)};
}

TRecordList::TSpan TRecordList::Take(size_t I) {
  const TSpan span = Bounds(I, FBudget);
  FBudget -= static_cast<int64_t>(span.Length);
  return span;
}

size_t TRecordList::ReadSpan(const TSpan& Span, char* Into) {
  FStream.Seek(Span.Start, soBeginning);
  // A host's stream may hand out less than asked for at a time.
  size_t got = 0;
  while (got < Span.Length) {
    const int64_t n = FStream.Read(Into + got, static_cast<int64_t>(Span.Length - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

void TRecordList::Append(size_t I, TByteBuffer& Into) {
  const TSpan span = Take(I);
  if (span.Length) Into.Commit(ReadSpan(span, Into.Reserve(span.Length)));
}

RawByteString TRecordList::Record(size_t I) {
  const TSpan span = Take(I);
  RawByteString out(span.Length, '\0');
  if (span.Length) out.resize(ReadSpan(span, out.data()));
  return out;
}

RawByteString TRecordList::Peek(size_t I, size_t N) {
  const TSpan span = Bounds(I, static_cast<int64_t>(N));
  RawByteString out(span.Length, '\0');
  if (span.Length) out.resize(ReadSpan(span, out.data()));
  return out;
}

// ---------------------------------------------------------------------------
// TTextRecordDecoder

namespace {

// Records are compressed independently: a second thread and the calling
// one both decompress batches of them (claimed in order) while the calling
// one also drains finished batches, in order. The stream is shared, so a
// batch's bytes are read under the lock; kSlots batches in flight bound
// memory.
class TBatchPipeline {
 public:
  TBatchPipeline(TTextRecordDecoder& Decoder, uint32_t Count)
      : FDecoder(Decoder),
        FCount(Count),
        FBatch(std::clamp<uint32_t>(Count / 32, kMinBatch, kMaxBatch)),
        FBatches((Count + FBatch - 1) / FBatch) {}

  void Run(TByteBuffer& Text, const TTextDrain& Drain);

 private:
  struct TSlot {
    TByteBuffer Bytes;
    bool Full = false;
  };
  // Scratch of one thread: a batch's records as read, and where each ends.
  struct TScratch {
    TByteBuffer Raw;
    std::vector<size_t> Ends;
  };

  bool Work(std::unique_lock<std::mutex>& Lock, TScratch& Scratch);
  void Decode(uint32_t K, TScratch& Scratch);
  void WorkerLoop();
  void Drain(TByteBuffer& Text, const TTextDrain& Drain);
  void Halt();

  TTextRecordDecoder& FDecoder;
  const uint32_t FCount;
  const uint32_t FBatch;
  const uint32_t FBatches;
  std::array<TSlot, kSlots> FSlots;
  std::mutex FLock;
  std::condition_variable FChanged;
  uint32_t FNextClaim = 0;  // next batch to decompress
  uint32_t FEmitted = 0;    // batches drained
  bool FStop = false;
  std::exception_ptr FFailure;
};

void TBatchPipeline::Run(TByteBuffer& Text, const TTextDrain& Drain) {
  std::thread worker([this] { WorkerLoop(); });
  try {
    this->Drain(Text, Drain);
  } catch (...) {
    Halt();
    worker.join();
    throw;
  }
  Halt();
  worker.join();
  if (FFailure) std::rethrow_exception(FFailure);
}

// With the lock held: claims the next batch if its slot is free, reads it,
// and decompresses it with the lock released. False when nothing can be
// claimed.
bool TBatchPipeline::Work(std::unique_lock<std::mutex>& Lock, TScratch& Scratch) {
  if (FStop || FNextClaim >= FBatches || FNextClaim >= FEmitted + kSlots) return false;
  const uint32_t k = FNextClaim++;
  Scratch.Raw.Clear();
  Scratch.Ends.clear();
  for (uint32_t i = k * FBatch + 1; i <= std::min(FCount, (k + 1) * FBatch); ++i) {
    FDecoder.Read(i, Scratch.Raw);
    Scratch.Ends.push_back(Scratch.Raw.Size());
  }
  Lock.unlock();
  Decode(k, Scratch);
  Lock.lock();
  FSlots[k % kSlots].Full = true;
  FChanged.notify_all();
  return true;
}

void TBatchPipeline::Decode(uint32_t K, TScratch& Scratch) {
  TByteBuffer& into = FSlots[K % kSlots].Bytes;
  into.Clear();
  // Room for the worst case up front: growing would touch fresh pages
  // twice, while reserved room that is never written costs nothing.
  into.Reserve(PalmDocDecodeRoom(Scratch.Raw.Size()));
  size_t from = 0;
  for (const size_t end : Scratch.Ends) {
    FDecoder.Decode(Scratch.Raw.Data() + from, end - from, into);
    from = end;
  }
}

void TBatchPipeline::WorkerLoop() {
  TScratch scratch;
  try {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      FChanged.wait(lock, [&] { return FStop || FNextClaim >= FBatches || FNextClaim < FEmitted + kSlots; });
      if (!Work(lock, scratch)) break;
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(FLock);
    FFailure = std::current_exception();
    FStop = true;
    FChanged.notify_all();
  }
}

// Takes the batches in order, decompressing batches itself while the next
// one is not ready.
void TBatchPipeline::Drain(TByteBuffer& Text, const TTextDrain& Drain) {
  TScratch scratch;
  for (uint32_t k = 0; k < FBatches; ++k) {
    TSlot& slot = FSlots[k % kSlots];
    {
      std::unique_lock<std::mutex> lock(FLock);
      while (!slot.Full && !FStop)
        if (!Work(lock, scratch)) FChanged.wait(lock);
      if (!slot.Full) return;  // the worker failed
    }
    Text.Append(slot.Bytes.Data(), slot.Bytes.Size());
    {
      std::lock_guard<std::mutex> lock(FLock);
      slot.Full = false;
      FEmitted = k + 1;
    }
    FChanged.notify_all();
    if (!Drain(Text)) return;
  }
}

void TBatchPipeline::Halt() {
  std::lock_guard<std::mutex> lock(FLock);
  FStop = true;
  FChanged.notify_all();
}

}  // namespace

TTextRecordDecoder::TTextRecordDecoder(TRecordList& Records, bool Compressed, bool Scrambled)
    : FRecords(Records), FCompressed(Compressed), FScrambled(Scrambled) {}

void TTextRecordDecoder::Run(uint32_t Count, TByteBuffer& Text, const TTextDrain& Drain) {
  if (FCompressed && Count >= kParallelMinRecords && std::thread::hardware_concurrency() > 1) {
    TBatchPipeline(*this, Count).Run(Text, Drain);
    return;
  }
  // A book in memory (a host's memory stream or mapping) is decompressed
  // where it lies; a scrambled one would have to be copied anyway.
  const auto* inMemory = dynamic_cast<const TCustomMemoryStream*>(&FRecords.Stream());
  if (inMemory && FCompressed && !FScrambled)
    RunInMemory(Count, inMemory->Memory(), Text, Drain);
  else
    RunFromStream(Count, Text, Drain);
}

void TTextRecordDecoder::RunInMemory(uint32_t Count, const uint8_t* Book, TByteBuffer& Text, const TTextDrain& Drain) {
  for (uint32_t i = 1; i <= Count; ++i) {
    const TRecordList::TSpan span = FRecords.Take(i);
    if (span.Length) {
      char* out = Text.Reserve(PalmDocDecodeRoom(span.Length));
      Text.Commit(DecompressPalmDocInto(Book + span.Start, span.Length, out));
    }
    if (!Drain(Text)) return;
  }
}

void TTextRecordDecoder::RunFromStream(uint32_t Count, TByteBuffer& Text, const TTextDrain& Drain) {
  TByteBuffer raw;
  for (uint32_t i = 1; i <= Count; ++i) {
    if (FCompressed) {
      raw.Clear();
      Read(i, raw);
      Decode(raw.Data(), raw.Size(), Text);
    } else {
      // Stored text is read where it is split into lines.
      const size_t at = Text.Size();
      Read(i, Text);
      if (FScrambled) DescramblePeanut(Text.Data() + at, Text.Size() - at);
    }
    if (!Drain(Text)) return;
  }
}

void TTextRecordDecoder::Decode(char* Record, size_t Length, TByteBuffer& Into) const {
  if (FScrambled) DescramblePeanut(Record, Length);
  if (FCompressed) {
    char* out = Into.Reserve(PalmDocDecodeRoom(Length));
    Into.Commit(DecompressPalmDocInto(reinterpret_cast<const uint8_t*>(Record), Length, out));
  } else if (Length) {
    Into.Append(Record, Length);
  }
}

}  // namespace lkw
