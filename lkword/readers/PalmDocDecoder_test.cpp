#include "lkword/readers/PalmDocDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lkword/platform/Exceptions.h"
#include "testing/PalmDocBuilder.h"

namespace lkw {
namespace {

using testing::PalmDatabase;
using testing::THostStream;
using testing::PalmEntryAt;
using testing::PutBE32;
using Lines = std::vector<std::string>;

TEST(PalmDocDecompress, TokensBackReferencesAndDamage) {
  const std::pair<std::string, std::string> cases[] = {
      // 00 -> space, 01-08 literal run, 09-7F itself, C0-FF space + (c ^ 0x80).
      {std::string("a") + '\0' + "\x03\x80\xFE\x01" + "b\x09" + "\xC1", std::string("a \x80\xFE\x01" "b\x09 A")},
      // Distance 1, count 10: ten copies of the last byte.
      {"x\x80\x0F", std::string(11, 'x')},
      // Distance 6, count 6: a plain copy reaching the first byte.
      {"abcdef\x80\x33", "abcdefabcdef"},
      // Distances 8 and 9, count 10: the copy reads bytes it has just written.
      {"abcdefgh\x80\x47", "abcdefghabcdefghab"},
      {"abcdefghi\x80\x4F", "abcdefghiabcdefghia"},
      // Distance 2, count 5: an overlapping copy repeats a two-byte pattern.
      {"ab\x80\x12", "abababa"},
      // Reaching before the output, or distance 0: skipped, decoding goes on.
      {std::string("ab\x80\x18") + "c", "abc"},
      {std::string("ab\x80\x07") + "c", "abc"},
      {"\xBF\xFFz", "z"},
      // Cut short by the end of the record: what is there is kept.
      {"\x05" "ab", "ab"},
      {"a\x80", "a"},
      {"a\x08", "a"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecompressPalmDoc(in), out) << ::testing::PrintToString(in);
}

// The format decoded one token at a time, to hold the block-wise decoder to.
std::string ReferenceDecompress(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    const auto c = static_cast<uint8_t>(in[i++]);
    if (c == 0) {
      out += ' ';
    } else if (c <= 8) {
      for (size_t k = 0; k < c && i < in.size(); ++k) out += in[i++];
    } else if (c <= 0x7F) {
      out += static_cast<char>(c);
    } else if (c >= 0xC0) {
      out += ' ';
      out += static_cast<char>(c ^ 0x80);
    } else {
      if (i == in.size()) break;
      const unsigned pair = (unsigned{c} << 8) | static_cast<uint8_t>(in[i++]);
      const size_t distance = (pair & 0x3FFF) >> 3;
      if (distance == 0 || distance > out.size()) continue;
      for (unsigned k = 0; k < (pair & 7) + 3; ++k) out += out[out.size() - distance];
    }
  }
  return out;
}

TEST(PalmDocDecompress, MatchesTokenByTokenDecoding) {
  std::mt19937 rng(20240611);
  // Mixes that favour literal runs, back-references, and anything, then
  // runs longer than the decoder's 64-byte windows; every fourth input is
  // long enough for the windowed bulk of a record.
  for (int mix = 0; mix < 4; ++mix) {
    for (int t = 0; t < 3000; ++t) {
      std::string in(rng() % (t % 4 ? 80 : 800), '\0');
      for (char& c : in) {
        const unsigned r = rng();
        if (mix == 0)
          c = static_cast<char>(r % 8 ? 0x09 + r % 0x77 : r >> 8);
        else if (mix == 3)
          c = static_cast<char>(r % 97 ? 0x09 + r % 0x77 : r >> 8);
        else if (mix == 1)
          c = static_cast<char>(r % 3 ? 0x80 + (r >> 8) % 0x40 : 0x20 + (r >> 8) % 0x5F);
        else
          c = static_cast<char>(r);
      }
      ASSERT_EQ(DecompressPalmDoc(in), ReferenceDecompress(in)) << "mix " << mix << ", case " << t;
    }
  }
}

// The lines of text that comes in Chunks, taken after each and at the end.
Lines Split(const std::vector<std::string>& Chunks, bool Runs) {
  TByteBuffer text;
  Lines lines;
  auto emit = [&](const char* P, size_t N) {
    lines.emplace_back(P, N);
    return true;
  };
  for (const std::string& c : Chunks) {
    text.Append(c.data(), c.size());
    TakeLines(text, false, Runs, emit);
  }
  TakeLines(text, true, Runs, emit);
  return lines;
}

TEST(PalmDocLines, BreaksAcrossChunks) {
  // Words and CR LF split between chunks; blank lines are kept, a final
  // line break adds no empty line.
  EXPECT_EQ(Split({"First li", "ne\r", "\nSecond", " line\rThird\r", "", "\r\nFourth"}, false),
            (Lines{"First line", "Second line", "Third", "", "Fourth"}));
  EXPECT_EQ(Split({"a\n\n", "b\n"}, false), (Lines{"a", "", "b"}));
  // Runs: the whole lines before a CR go as one.
  EXPECT_EQ(Split({"a\nb\nc", "\r\nd\n\ne"}, true), (Lines{"a\nb", "c", "d\n", "e"}));
  // Emit stops the taking; what it did not take stays.
  TByteBuffer text;
  text.Append("a\nb\nc", 5);
  Lines lines;
  TakeLines(text, true, false, [&](const char* P, size_t N) {
    lines.emplace_back(P, N);
    return false;
  });
  EXPECT_EQ(lines, Lines{"a"});
  EXPECT_EQ(std::string(text.Data(), text.Size()), "b\nc");
}

// Every record of a database through its record list, and one past it.
Lines Records(const std::string& Bytes, uint16_t Count) {
  TBytesStream stream(Bytes);
  TRecordList list(stream, PalmEntryAt(0), Count);
  Lines out;
  for (size_t i = 0; i <= list.Count(); ++i) out.push_back(list.Record(i));
  return out;
}

TEST(PalmDocRecordList, DamagedListsStayInsideTheFile) {
  const std::string good = PalmDatabase("TEXtREAd", {"r0", "alpha\n", "beta\n", "gamma\n"});
  EXPECT_EQ(Records(good, 4), (Lines{"r0", "alpha\n", "beta\n", "gamma\n", ""}));
  // Record 2 starts beyond the file: it is empty, record 1 runs to the end.
  std::string s = good;
  PutBE32(s, PalmEntryAt(2), 0x7FFFFFF0);
  EXPECT_EQ(Records(s, 4), (Lines{"r0", "alpha\nbeta\ngamma\n", "", "gamma\n", ""}));
  // Records 2 and 3 swapped in the list: record 1 runs on to gamma, record 2
  // ends before it starts.
  s = good;
  s.replace(PalmEntryAt(2), 4, good, PalmEntryAt(3), 4);
  s.replace(PalmEntryAt(3), 4, good, PalmEntryAt(2), 4);
  EXPECT_EQ(Records(s, 4), (Lines{"r0", "alpha\nbeta\n", "", "beta\ngamma\n", ""}));
  // A file cut short: the last record keeps what is there.
  EXPECT_EQ(Records(good.substr(0, good.size() - 3), 4), (Lines{"r0", "alpha\n", "beta\n", "gam", ""}));
  // A count beyond the list reads into the records; the real entries hold.
  const Lines many = Records(good, 0xFFFF);
  ASSERT_GT(many.size(), 3u);
  EXPECT_EQ(many[1], "alpha\n");
  EXPECT_EQ(many[2], "beta\n");
  // The first entry must be there, even of a list of none.
  TBytesStream none(good.substr(0, PalmEntryAt(0) + 4));
  EXPECT_EQ(TRecordList(none, PalmEntryAt(0), 0).Count(), 0u);
  EXPECT_EQ(TRecordList(none, PalmEntryAt(0), 0).FirstOffset(), PalmEntryAt(4) + 2);
  TBytesStream cut(good.substr(0, PalmEntryAt(0) + 3));
  EXPECT_THROW(TRecordList(cut, PalmEntryAt(0), 4), EReadError);

  // Every entry points at the same 60000 bytes: the records together give
  // the file's size at most, not 1000 times it.
  std::string same = PalmDatabase("TEXtREAd", std::vector<std::string>(1000, ""));
  const auto data = static_cast<uint32_t>(same.size());
  same += std::string(60000, 'a');
  for (int i = 0; i < 1000; ++i) PutBE32(same, PalmEntryAt(i), i % 2 ? data : static_cast<uint32_t>(same.size()));
  size_t total = 0;
  for (const std::string& r : Records(same, 1000)) total += r.size();
  EXPECT_LE(total, same.size());
  EXPECT_GT(total, 0u);
}

struct TTextBook {
  std::string Bytes;
  uint16_t Entries = 0;
  std::string Text;  // what its records decode to
};

// Count records of a line each, compressed as a literal run and a
// back-reference, or stored; scrambled like Peanut's.
TTextBook TextBook(uint32_t Count, bool Compressed, bool Scrambled) {
  TTextBook b;
  std::vector<std::string> records = {"r0"};
  for (uint32_t i = 0; i < Count; ++i) {
    const std::string line = "rec" + std::to_string(i) + (i % 7 == 0 ? "\r\n" : " ");
    b.Text += line + line.substr(0, 3);
    std::string r = Compressed ? static_cast<char>(line.size()) + line + "\x80" + static_cast<char>(line.size() << 3)
                               : line + line.substr(0, 3);
    if (Scrambled)
      for (char& c : r) c = static_cast<char>(c ^ 0xA5);
    records.push_back(r);
  }
  b.Bytes = PalmDatabase("TEXtREAd", records);
  b.Entries = static_cast<uint16_t>(records.size());
  return b;
}

// The text of records 1..Count, drained after each record or batch;
// Drains, when not 0, stops after that many.
std::string Decode(TStream& Stream, const TTextBook& B, uint32_t Count, bool Compressed, bool Scrambled,
                   int Drains = 0) {
  TRecordList list(Stream, PalmEntryAt(0), B.Entries);
  TByteBuffer text;
  std::string out;
  TTextRecordDecoder(list, Compressed, Scrambled).Run(Count, text, [&](TByteBuffer& T) {
    out.append(T.Data(), T.Size());
    T.Clear();
    return --Drains != 0;
  });
  return out;
}

TEST(PalmDocRecordDecoder, EveryWayGivesTheSameText) {
  // 700 compressed records are decompressed on two threads, fewer on one;
  // in memory where they lie, from a host's stream when read.
  for (const bool compressed : {true, false}) {
    for (const bool scrambled : {false, true}) {
      for (const uint32_t count : {700u, 10u}) {
        SCOPED_TRACE(::testing::Message() << compressed << scrambled << count);
        const TTextBook b = TextBook(count, compressed, scrambled);
        TBytesStream memory(b.Bytes);
        EXPECT_EQ(Decode(memory, b, count, compressed, scrambled), b.Text);
        THostStream host(b.Bytes);
        EXPECT_EQ(Decode(host, b, count, compressed, scrambled), b.Text);
        // A drain that stops leaves the rest undecoded.
        TBytesStream again(b.Bytes);
        const std::string part = Decode(again, b, count, compressed, scrambled, 3);
        EXPECT_LT(part.size(), b.Text.size());
        EXPECT_EQ(part, b.Text.substr(0, part.size()));
      }
    }
  }
}

TEST(PalmDocRecordDecoder, FailuresOnEitherThreadLeaveCleanly) {
  // A read error on either thread, or a drain that throws, ends the run
  // with that exception: no hang, no lost error, the second thread joined.
  const TTextBook b = TextBook(600, true, false);
  for (const double at : {0.1, 0.5, 0.97}) {
    SCOPED_TRACE(at);
    THostStream broken(b.Bytes, static_cast<int64_t>(b.Bytes.size() * at));
    EXPECT_THROW(Decode(broken, b, 600, true, false), EReadError);
  }
  for (const int failAt : {1, 10, 28}) {
    SCOPED_TRACE(failAt);
    TBytesStream stream(b.Bytes);
    TRecordList list(stream, PalmEntryAt(0), b.Entries);
    TByteBuffer text;
    int drains = 0;
    EXPECT_THROW(TTextRecordDecoder(list, true, false).Run(600, text,
                                                           [&](TByteBuffer&) {
                                                             if (++drains == failAt) throw EWriteError("pipe closed");
                                                             return true;
                                                           }),
                 EWriteError);
  }
}

}  // namespace
}  // namespace lkw
