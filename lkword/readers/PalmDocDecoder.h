// The text records of Palm database books: where each record lies, their
// PalmDoc decompression (on one thread, or two for big books) and the
// cutting of their text into lines.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

// One compressed input byte yields at most 2 output bytes (0xC0..0xFF), one
// 2-byte back-reference at most 10: output never exceeds 5x the input.
constexpr size_t kPalmDocMaxExpansion = 5;
// Room the decoder may scribble past its real output: back-references are
// copied in 8-byte steps and literal runs as 8-byte blocks.
constexpr size_t kPalmDocDecodeSlack = 16;

// What DecompressPalmDocInto may write for Length input bytes.
constexpr size_t PalmDocDecodeRoom(size_t Length) { return Length * kPalmDocMaxExpansion + kPalmDocDecodeSlack; }

// PalmDoc LZ77 decompression of one record into Out, which holds
// PalmDocDecodeRoom(Length) bytes; returns the bytes produced.
// Back-references only reach into the record's own output (records are
// compressed independently): one that reaches before its start is corrupt
// and skipped; a run cut short by the end of the input keeps what exists.
size_t DecompressPalmDocInto(const uint8_t* Source, size_t Length, char* Out);
RawByteString DecompressPalmDoc(std::string_view Record);

// Peanut Press scrambles every byte of its text records; undoes it in place.
void DescramblePeanut(char* P, size_t N);

// A growable byte buffer that leaves what it reserves uninitialised (the
// decoder overwrites it anyway).
class TByteBuffer {
 public:
  char* Data() { return FData.get(); }
  size_t Size() const { return FSize; }
  // Makes room for Extra more bytes and returns where they go. The 16 bytes
  // after the data can always be read (by 16-byte steps of encoders).
  char* Reserve(size_t Extra) {
    if (!FData || FCapacity - FSize < Extra + kPad) Grow(Extra);
    return FData.get() + FSize;
  }
  void Commit(size_t Added) { FSize += Added; }
  void Append(const char* P, size_t N) {
    std::memcpy(Reserve(N), P, N);
    FSize += N;
  }
  // Drops the first N bytes.
  void Consume(size_t N) {
    if (N < FSize) std::memmove(FData.get(), FData.get() + N, FSize - N);
    FSize -= std::min(N, FSize);
  }
  void Clear() { FSize = 0; }

 private:
  static constexpr size_t kPad = 16;
  void Grow(size_t Extra);

  std::unique_ptr<char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

// The record list of a Palm database and the bytes of each record, as far
// as the file really holds them. A corrupt list may repeat or overlap
// ranges: all the records taken together never give more bytes than the
// file's size.
class TRecordList {
 public:
  struct TSpan {
    int64_t Start = 0;
    size_t Length = 0;
  };

  // Reads the list of Count 8-byte entries at ListAt: its first entry must
  // be there (EReadError otherwise), the others as far as the file holds
  // them.
  TRecordList(TStream& Stream, int64_t ListAt, uint16_t Count);

  TStream& Stream() { return FStream; }
  // Entries the file holds: record 0, then the records text may be in.
  size_t Count() const { return FOffsets.size(); }
  // Where record 0 starts by the first entry, even of a list of none.
  uint32_t FirstOffset() const { return FFirst; }
  // Records the header names that the file does not hold: entries past its
  // end, or starting there (a book cut short).
  size_t Missing() const { return FMissing; }
  // Where record I lies: it ends where the next record starts, the last one
  // at the end of the file; nothing past the list. Counted against the
  // file's size.
  TSpan Take(size_t I);
  // Appends record I to Into; a short stream gives what it has.
  void Append(size_t I, TByteBuffer& Into);
  RawByteString Record(size_t I);
  // Up to N leading bytes of record I, for telling what it holds; counts
  // against nothing.
  RawByteString Peek(size_t I, size_t N);

 private:
  // Where record I lies, at most Most bytes of it.
  TSpan Bounds(size_t I, int64_t Most) const;
  size_t ReadSpan(const TSpan& Span, char* Into);

  TStream& FStream;
  std::vector<uint32_t> FOffsets;
  uint32_t FFirst = 0;
  size_t FMissing = 0;
  int64_t FSize = 0;
  int64_t FBudget = 0;
};

// Takes the complete lines out of a book's text; false stops the decoding.
using TTextDrain = std::function<bool(TByteBuffer& Text)>;

// Turns text records 1..Count of a book into its text, in order: records
// are decompressed (Compressed) and descrambled first (Scrambled), or
// taken as they are. A book in memory is decompressed where it lies, a big
// compressed one on two threads.
class TTextRecordDecoder {
 public:
  TTextRecordDecoder(TRecordList& Records, bool Compressed, bool Scrambled);

  // Appends the text to Text and calls Drain after each record or batch of
  // records. An error of the stream or of Drain leaves Run after the second
  // thread has stopped.
  void Run(uint32_t Count, TByteBuffer& Text, const TTextDrain& Drain);

  // Appends record I, read from the stream, to Into.
  void Read(uint32_t I, TByteBuffer& Into) { FRecords.Append(I, Into); }
  // Appends the text of one record's bytes (descrambled in place) to Into.
  void Decode(char* Record, size_t Length, TByteBuffer& Into) const;

 private:
  void RunInMemory(uint32_t Count, const uint8_t* Book, TByteBuffer& Text, const TTextDrain& Drain);
  void RunFromStream(uint32_t Count, TByteBuffer& Text, const TTextDrain& Drain);

  TRecordList& FRecords;
  const bool FCompressed;
  const bool FScrambled;
};

// Emits every complete line of Text (line breaks CR LF, CR or LF) through
// Emit(const char* Line, size_t Length), which returns false to stop, and
// drops them from Text. A CR at the very end waits for more text, which may
// start with the LF of the same line break; with Final the rest is the last
// line. With Runs the whole lines before the next CR go out as one, joined
// by their LF.
template <typename TEmit>
void TakeLines(TByteBuffer& Text, bool Final, bool Runs, TEmit&& Emit) {
  const char* data = Text.Data();
  const size_t size = Text.Size();
  auto find = [&](char c, size_t from) {
    const void* hit = std::memchr(data + from, c, size - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : size;
  };
  size_t pos = 0;
  size_t crPos = 0;  // next CR at or after pos (size: none); found lazily
  bool crKnown = false;
  bool more = true;
  while (pos < size && more) {
    if (!crKnown || crPos < pos) {
      crPos = find('\r', pos);
      crKnown = true;
    }
    if (Runs) {
      if (const void* lf = memrchr(data + pos, '\n', crPos - pos)) {
        const size_t end = static_cast<size_t>(static_cast<const char*>(lf) - data);
        more = Emit(data + pos, end - pos);
        pos = end + 1;
        continue;
      }
    }
    const size_t lfPos = find('\n', pos);
    if (crPos < lfPos) {
      if (crPos + 1 == size && !Final) break;
      more = Emit(data + pos, crPos - pos);
      pos = crPos + 1;
      if (pos < size && data[pos] == '\n') ++pos;
      continue;
    }
    if (lfPos == size) {
      if (Final) {
        more = Emit(data + pos, size - pos);
        pos = size;
      }
      break;
    }
    more = Emit(data + pos, lfPos - pos);
    pos = lfPos + 1;
  }
  Text.Consume(pos);
}

}  // namespace lkw
