// XML scanning and zip extraction speed. Real package parts are read from the
// shared corpus (LKWORD_SHARED, default ../shared) when it is there; a
// generated Word-like part is always measured.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipFile.h"

namespace {

using lkw::RawByteString;
using lkw::TLKXMLEngine;
using lkw::TLKXMLItem;
using lkw::TZipArchive;
using lkw::WideString;

std::filesystem::path Shared() {
  const char* env = std::getenv("LKWORD_SHARED");
  return env ? env : "../shared";
}

// Paragraphs of runs with properties, as a word processor writes them.
std::string MakeWordPart(size_t size) {
  static const char* const words[] = {"harbour", "lantern", "caf\xC3\xA9", "\xD0\xBC\xD0\xB8\xD1\x80", "river",
                                      "&amp;",   "stone",   "window",     "\xE2\x80\x94"};
  std::mt19937 rng(3);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document><w:body>";
  while (s.size() < size) {
    s += "<w:p w:rsidR=\"00A1B2C3\"><w:pPr><w:pStyle w:val=\"Normal\"/></w:pPr>";
    for (int r = 0; r < 4; ++r) {
      s += "<w:r><w:rPr><w:b/><w:sz w:val=\"24\"/></w:rPr><w:t xml:space=\"preserve\">";
      for (int w = 0; w < 6; ++w) (s += words[rng() % 9]) += ' ';
      s += "</w:t></w:r>";
    }
    s += "</w:p>\n";
  }
  return s + "</w:body></w:document>";
}

RawByteString Member(const std::filesystem::path& archive, const char* name) {
  if (!std::filesystem::exists(archive)) return {};
  TZipArchive zip;
  zip.LoadFromFile(archive.string());
  int i = zip.GetIndexByFileName(name);
  return i < 0 ? RawByteString() : zip.GetUncompressed(i);
}

void ParseTree(benchmark::State& state, const RawByteString& xml) {
  if (xml.empty()) {
    state.SkipWithError("input not found");
    return;
  }
  for (auto _ : state) {
    TLKXMLEngine e;
    e.LoadFromBytes(xml);
    benchmark::DoNotOptimize(e.RootItem());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

// Rendering while parsing: paragraphs are collected as they close and freed,
// text runs are taken in OnTag and rejected, as the Word reader does.
void ParseStreaming(benchmark::State& state, const RawByteString& xml) {
  if (xml.empty()) {
    state.SkipWithError("input not found");
    return;
  }
  for (auto _ : state) {
    TLKXMLEngine e;
    WideString line;
    size_t total = 0;
    e.SetOnTag([&](lkw::TObject*, TLKXMLItem*, std::u16string_view Name, std::u16string_view Value,
                   std::u16string_view, bool& Accept) {
      if (Name == u"w:t" || Name == u"text:span") {
        line += Value;
        Accept = false;
      }
    });
    e.SetOnAfterTag([&](lkw::TObject*, TLKXMLItem*& Node, bool&) {
      if (Node->TagName() == u"w:p" || Node->TagName() == u"text:p") {
        total += line.size() + Node->Text().size();
        line.clear();
        delete Node;
        Node = nullptr;
      }
    });
    e.LoadFromBytes(xml);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

void BM_XMLGeneratedWordPart(benchmark::State& state) { ParseTree(state, MakeWordPart(4 << 20)); }
void BM_XMLGeneratedWordPartStreaming(benchmark::State& state) { ParseStreaming(state, MakeWordPart(4 << 20)); }
void BM_XMLDocxDocument(benchmark::State& state) {
  ParseTree(state, Member(Shared() / "corpus/docx/L1-en-large.pandoc.docx", "word/document.xml"));
}
void BM_XMLDocxDocumentStreaming(benchmark::State& state) {
  ParseStreaming(state, Member(Shared() / "corpus/docx/L1-en-large.pandoc.docx", "word/document.xml"));
}
void BM_XMLOdtContent(benchmark::State& state) {
  ParseTree(state, Member(Shared() / "corpus/odt/L1-en-large.pandoc.odt", "content.xml"));
}
void BM_XMLOdsContent(benchmark::State& state) {
  ParseTree(state, Member(Shared() / "corpus/ods/CL1-en-large.lo-from-fods.ods", "content.xml"));
}

// Loading the archive and extracting (inflate + CRC) every member.
void BM_ZipExtractAllMembersOfLargeEpub(benchmark::State& state) {
  std::filesystem::path file = Shared() / "corpus/epub/L1-en-large.pandoc-epub3.epub";
  if (!std::filesystem::exists(file)) {
    state.SkipWithError("input not found");
    return;
  }
  RawByteString bytes = lkw::ReadFileBytes(file.string());
  int64_t out = 0;
  for (auto _ : state) {
    lkw::TBytesStream s(bytes);
    TZipArchive zip;
    zip.LoadFromStream(s);
    out = 0;
    for (int i = 0; i < zip.Count(); ++i) out += static_cast<int64_t>(zip.GetUncompressed(i).size());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * out);
}

}  // namespace

BENCHMARK(BM_XMLGeneratedWordPart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XMLGeneratedWordPartStreaming)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XMLDocxDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XMLDocxDocumentStreaming)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XMLOdtContent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XMLOdsContent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZipExtractAllMembersOfLargeEpub)->Unit(benchmark::kMillisecond);
