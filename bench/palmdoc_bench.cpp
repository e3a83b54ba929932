// PalmDoc decompression and whole-book loading, in memory; the tool's UTF-8
// writing of the lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSPalmDoc.h"
#include "lkword/readers/PalmDocDecoder.h"
#include "lkword/platform/TextEncoding.h"

namespace {

using lkw::RawByteString;

// Prose-like cp1252 text with line breaks, the shape of a real book.
std::string MakeText(size_t size) {
  static const char* const words[] = {"the",    "harbour", "lantern", "meadow", "river",  "stone",
                                      "window", "garden",  "letter",  "caf\xE9", "\x93quoted\x94",
                                      "morning", "evening", "silver", "copper", ("\x80" "5")};
  std::mt19937 rng(42);
  std::string s;
  s.reserve(size + 64);
  int inLine = 0;
  while (s.size() < size) {
    s += words[rng() % (sizeof words / sizeof *words)];
    if (++inLine > 8 + static_cast<int>(rng() % 10)) {
      s += ".\n";
      inLine = 0;
    } else {
      s += ' ';
    }
  }
  s.resize(size);
  return s;
}

// A small greedy PalmDoc compressor (one hash candidate per position) so the
// benchmark has realistic compressed records without external files.
RawByteString Compress(const std::string& in) {
  RawByteString out;
  std::vector<int> last(1 << 12, -1);
  auto hash = [&](size_t i) {
    return ((uint8_t(in[i]) << 8) ^ (uint8_t(in[i + 1]) << 4) ^ uint8_t(in[i + 2])) & 0xFFF;
  };
  size_t i = 0;
  while (i < in.size()) {
    if (i + 3 <= in.size()) {
      int cand = last[hash(i)];
      last[hash(i)] = static_cast<int>(i);
      if (cand >= 0 && i - cand <= 2047) {
        size_t len = 0;
        while (len < 10 && i + len < in.size() && in[cand + len] == in[i + len]) ++len;
        if (len >= 3) {
          uint16_t pair = static_cast<uint16_t>(0x8000 | ((i - cand) << 3) | (len - 3));
          out += static_cast<char>(pair >> 8);
          out += static_cast<char>(pair & 0xFF);
          i += len;
          continue;
        }
      }
    }
    uint8_t c = static_cast<uint8_t>(in[i]);
    if (c == ' ' && i + 1 < in.size() && uint8_t(in[i + 1]) >= 0x40 && uint8_t(in[i + 1]) <= 0x7F) {
      out += static_cast<char>(uint8_t(in[i + 1]) ^ 0x80);
      i += 2;
    } else if (c >= 0x09 && c <= 0x7F) {
      out += static_cast<char>(c);
      ++i;
    } else {
      out += '\x01';
      out += static_cast<char>(c);
      ++i;
    }
  }
  return out;
}

void PutBE(std::string& s, size_t at, uint32_t v, int bytes) {
  for (int k = bytes - 1; k >= 0; --k, v >>= 8) s[at + k] = static_cast<char>(v & 0xFF);
}

RawByteString MakeBook(const std::string& text) {
  std::vector<RawByteString> recs;
  std::string r0(16, '\0');
  PutBE(r0, 0, 2, 2);
  uint32_t n = static_cast<uint32_t>((text.size() + 4095) / 4096);
  PutBE(r0, 8, n, 2);
  PutBE(r0, 10, 4096, 2);
  recs.push_back(r0);
  for (size_t p = 0; p < text.size(); p += 4096) recs.push_back(Compress(text.substr(p, 4096)));
  RawByteString out(78 + 8 * recs.size() + 2, '\0');
  out.replace(0, 5, "Bench");
  out.replace(60, 8, "TEXtREAd");
  PutBE(out, 76, static_cast<uint32_t>(recs.size()), 2);
  uint32_t pos = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < recs.size(); ++i) {
    PutBE(out, 78 + 8 * i, pos, 4);
    pos += static_cast<uint32_t>(recs[i].size());
  }
  for (const auto& r : recs) out += r;
  return out;
}

void BM_DecompressText(benchmark::State& state) {
  const std::string text = MakeText(4096);
  RawByteString rec = Compress(text);
  if (lkw::DecompressPalmDoc(rec) != text) {
    state.SkipWithError("compressor and decompressor disagree");
    return;
  }
  size_t produced = 0;
  for (auto _ : state) {
    RawByteString out = lkw::DecompressPalmDoc(rec);
    produced += out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(produced));
}
BENCHMARK(BM_DecompressText);

void BM_LoadFromStream(benchmark::State& state) {
  const std::string text = MakeText(4 << 20);
  const RawByteString book = MakeBook(text);
  for (auto _ : state) {
    lkw::TCustomMemoryStream stream(book.data(), book.size());
    lkw::TPalmDocFile doc;
    doc.SetTextFormating(static_cast<lkw::TMSTextFormating>(state.range(0)));
    doc.LoadFromStream(stream);
    benchmark::DoNotOptimize(doc.Text().Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["book_bytes"] = static_cast<double>(book.size());
}
BENCHMARK(BM_LoadFromStream)->Arg(lkw::tfPlainText)->Arg(lkw::tfRTF)->Arg(lkw::tfHTML)->Unit(benchmark::kMillisecond);

void BM_EncodeUtf8Lines(benchmark::State& state) {
  const std::string text = MakeText(1 << 20);
  std::vector<std::u16string> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = std::min(text.find('\n', pos), text.size());
    lines.push_back(lkw::MultiByteToWide(1252, std::string_view(text).substr(pos, end - pos)));
    pos = end + 1;
  }
  std::string out(lkw::MaxUtf8Bytes(text.size()) + lines.size(), '\0');
  for (auto _ : state) {
    char* d = out.data();
    for (const auto& line : lines) {
      d = lkw::EncodeUtf8(d, line, true);
      *d++ = '\n';
    }
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_EncodeUtf8Lines);

}  // namespace
