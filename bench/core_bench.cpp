// Hot paths outside the container formats: Word piece reading and rendering,
// code-page decoding and the text list. Corpus documents come from
// LKWORD_SHARED (default ../shared) when they are there.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"

namespace {

std::filesystem::path Shared() {
  const char* env = std::getenv("LKWORD_SHARED");
  return env ? env : "../shared";
}

// Text of the given size in a code page's bytes: mostly ASCII words with
// some bytes above 0x7F, as Western and Cyrillic documents hold.
std::string MakeSingleByteText(size_t size) {
  std::mt19937 rng(5);
  std::string s;
  while (s.size() < size) {
    for (int i = 0; i < 6; ++i) s += static_cast<char>('a' + rng() % 26);
    if (rng() % 4 == 0) s += static_cast<char>(0xC0 + rng() % 64);
    s += (rng() % 12 == 0) ? '\r' : ' ';
  }
  return s;
}

void BM_CodePage1252(benchmark::State& state) {
  const std::string text = MakeSingleByteText(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(lkw::MultiByteToWide(1252, text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CodePage1252);

void BM_CodePage1251(benchmark::State& state) {
  const std::string text = MakeSingleByteText(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(lkw::MultiByteToWide(1251, text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CodePage1251);

void BM_Utf8ToWide(benchmark::State& state) {
  std::string text;
  while (text.size() < (1 << 20)) text += "caf\xC3\xA9 \xD0\xBC\xD0\xB8\xD1\x80 \xE4\xB8\xAD\xE6\x96\x87 plain words ";
  for (auto _ : state) benchmark::DoNotOptimize(lkw::Utf8ToWide(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToWide);

// Lines of a long document added one by one, as the readers add them.
void BM_WideStringsAdd(benchmark::State& state) {
  const lkw::WideString line(static_cast<size_t>(state.range(0)), u'x');
  for (auto _ : state) {
    lkw::TWideStrings list;
    for (int i = 0; i < 100000; ++i) list.Add(line);
    benchmark::DoNotOptimize(list.TextLength());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_WideStringsAdd)->Arg(8)->Arg(80)->Arg(800);

// The AddText path with a text limit, which must not re-cut the whole list.
void BM_AddTextWithLimit(benchmark::State& state) {
  const lkw::WideString line(80, u'x');
  for (auto _ : state) {
    lkw::TMSWBaseDocument doc;
    doc.SetMaxTextLength(100000 * 82);
    for (int i = 0; i < 100000; ++i) doc.AddText(line);
    benchmark::DoNotOptimize(doc.Text().TextLength());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_AddTextWithLimit);

// A whole Word document read from memory: compound file, FIB, piece table,
// rendering.
void BM_WordDocumentPlainText(benchmark::State& state) {
  const auto path = Shared() / "corpus" / "doc" / "L1-en-large.lo-from-docx.doc";
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("corpus document not found (set LKWORD_SHARED)");
    return;
  }
  const lkw::RawByteString bytes = lkw::ReadFileBytes(path.string());
  for (auto _ : state) {
    lkw::TBytesStream stream(bytes);
    lkw::TMSWordDocument doc;
    doc.LoadFromStream(stream);
    benchmark::DoNotOptimize(doc.Text().TextLength());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_WordDocumentPlainText)->Unit(benchmark::kMillisecond);

}  // namespace
