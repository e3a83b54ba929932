// PDF hot paths: the lexer, the stream filters, the content interpreter and
// layout, and whole documents, in memory. Corpus documents come from
// LKWORD_SHARED (default ../shared) when they are there; the generated
// content stream is always measured.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFContent.h"
#include "lkword/pdf/LKWPDFLayout.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "testing/PDFBuilder.h"
#include "lkword/platform/Streams.h"

namespace {

using lkw::RawByteString;
using lkw::TLKPDFReader;
using lkw::TPDFObject;

constexpr const char* kLargeDocument = "corpus/pdf/large-pdflatex.pdf";

std::filesystem::path Shared() {
  const char* env = std::getenv("LKWORD_SHARED");
  return env ? env : "../shared";
}

std::filesystem::path LargeDocumentPath() { return Shared() / kLargeDocument; }

void SetBytes(benchmark::State& state, size_t perIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(perIteration));
}

// Text operators as typesetters write them: text objects of some fifty
// lines, each line shown by Tj, TJ with kerning, ' or ", a two-byte font
// now and then. Each text object starts lower than the last, so lines do
// not pile up on one another.
std::string MakeTextContent(size_t size) {
  static const char* const words[] = {"harbour", "lantern", "caf\\351", "river",   "stone", "window",
                                      "garden",  "letter",  "\\(note\\)", "morning", "silver", "ex-"};
  constexpr size_t kWords = sizeof words / sizeof *words;
  std::mt19937 rng(11);
  auto phrase = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += words[rng() % kWords];
    }
    return s;
  };
  std::string s;
  s.reserve(size + 4096);
  for (int block = 0; s.size() < size; ++block) {
    s += "q 1 0 0 1 0 0 cm\nBT\n/F1 10 Tf 12 TL 0.2 Tc\n72 " + std::to_string(760 - 700 * block) + " Td\n";
    for (int line = 0; line < 50; ++line) {
      switch (rng() % 5) {
        case 0: s += "(" + phrase(8) + ") Tj T*\n"; break;
        case 1: s += "[(" + phrase(3) + ") -250 (" + phrase(3) + ") 40 (" + phrase(2) + ")] TJ T*\n"; break;
        case 2: s += "(" + phrase(7) + ") '\n"; break;
        case 3: s += "1 0.5 (" + phrase(7) + ") \"\n"; break;
        default: s += "/F2 9 Tf <000100020001000200010002> Tj /F1 10 Tf (" + phrase(5) + ") Tj T*\n"; break;
      }
    }
    s += "ET\nQ\n";
  }
  return s;
}

// A one-page document whose resources (object 5) hold a simple standard
// font and a two-byte font, for driving the interpreter on any content.
TLKPDFReader& FontReader() {
  static std::unique_ptr<TLKPDFReader> reader = [] {
    std::map<int, std::string> objs = lkw::pdftest::OnePage("");
    objs[3] = "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources 5 0 R /MediaBox [0 0 612 792] >>";
    objs[5] = "<< /Font << /F1 6 0 R /F2 7 0 R >> >>";
    objs[6] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    objs[7] = "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [<< /Type /Font "
              "/Subtype /CIDFontType2 /BaseFont /X /W [1 [500 600]] >>] >>";
    auto r = std::make_unique<TLKPDFReader>();
    lkw::pdftest::Load(*r, lkw::pdftest::Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
    return r;
  }();
  return *reader;
}

TPDFObject LetterBox() {
  TPDFObject box;
  box.Kind = lkw::TPDFObjKind::okArray;
  for (int v : {0, 0, 612, 792}) box.Items.push_back(TPDFObject::MakeInteger(v));
  return box;
}

const std::string& GeneratedContent() {
  static const std::string content = MakeTextContent(1 << 20);
  return content;
}

// One page of a loaded document as the page walk hands it to the text layer.
struct TPageInput {
  RawByteString Content;
  TPDFObject Resources, MediaBox;
  int Rotate = 0;
};

// Resources, media box and rotation from the page or the nearest ancestor
// that has them.
TPageInput ReadPage(TLKPDFReader& reader, int32_t num) {
  TPageInput page;
  page.Content = reader.GetPageContents(num);
  bool haveResources = false, haveBox = false, haveRotate = false;
  for (int depth = 0; depth < 32 && num > 0 && !(haveResources && haveBox && haveRotate); ++depth) {
    TPDFObject node;
    if (!reader.GetObject(num, node) || !node.IsDict()) break;
    if (const TPDFObject* r = node.Get("Resources"); r && !haveResources) page.Resources = *r, haveResources = true;
    if (const TPDFObject* b = node.Get("MediaBox"); b && !haveBox) page.MediaBox = reader.Resolve(*b), haveBox = true;
    if (const TPDFObject* r = node.Get("Rotate"); r && !haveRotate)
      page.Rotate = static_cast<int>(reader.Resolve(*r).AsInt()), haveRotate = true;
    const TPDFObject* parent = node.Get("Parent");
    num = parent && parent->IsRef() ? parent->RefNum : -1;
  }
  if (!haveBox) page.MediaBox = LetterBox();
  return page;
}

// The large corpus document, loaded once, with its pages' inputs decoded.
struct TLargeDocument {
  RawByteString Bytes;
  std::unique_ptr<TLKPDFReader> Reader;
  std::vector<TPageInput> Pages;
  RawByteString AllContent;  // every page's content, joined
  size_t ContentBytes = 0;
};

TLargeDocument* LargeDocument() {
  static std::unique_ptr<TLargeDocument> doc = []() -> std::unique_ptr<TLargeDocument> {
    if (!std::filesystem::exists(LargeDocumentPath())) return nullptr;
    auto d = std::make_unique<TLargeDocument>();
    d->Bytes = lkw::ReadFileBytes(LargeDocumentPath().string());
    d->Reader = std::make_unique<TLKPDFReader>();
    // Structure only: the pages are read by the benchmarks themselves.
    d->Reader->SetParseItems(lkw::TLKWParseItems{});
    // The benchmarks decode the same streams over and over.
    d->Reader->SetMaxDecompressedSize(0);
    lkw::TBytesStream s(d->Bytes);
    d->Reader->LoadFromStream(s);
    for (int32_t num : d->Reader->GetPageObjects()) {
      d->Pages.push_back(ReadPage(*d->Reader, num));
      d->ContentBytes += d->Pages.back().Content.size();
      d->AllContent += d->Pages.back().Content;
      d->AllContent += '\n';
    }
    return d;
  }();
  return doc.get();
}

TLargeDocument* LargeDocumentOrSkip(benchmark::State& state) {
  TLargeDocument* d = LargeDocument();
  if (!d) state.SkipWithError("corpus document not found (set LKWORD_SHARED)");
  return d;
}

// ---------------------------------------------------------------------------
// Lexing

void LexAll(benchmark::State& state, std::string_view data) {
  int64_t tokens = 0;
  for (auto _ : state) {
    lkw::TPDFLexer lexer(data);
    lkw::TPDFToken token;
    tokens = 0;
    while (lexer.Next(token)) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  SetBytes(state, data.size());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * tokens);
}

void BM_PDFLexGeneratedContent(benchmark::State& state) { LexAll(state, GeneratedContent()); }
BENCHMARK(BM_PDFLexGeneratedContent)->Unit(benchmark::kMillisecond);

void BM_PDFLexLargeDocumentContent(benchmark::State& state) {
  if (const TLargeDocument* d = LargeDocumentOrSkip(state)) LexAll(state, d->AllContent);
}
BENCHMARK(BM_PDFLexLargeDocumentContent)->Unit(benchmark::kMillisecond);

// The whole file, compressed stream data included, as a repair scan meets it.
void BM_PDFLexLargeDocumentFile(benchmark::State& state) {
  if (const TLargeDocument* d = LargeDocumentOrSkip(state)) LexAll(state, d->Bytes);
}
BENCHMARK(BM_PDFLexLargeDocumentFile)->Unit(benchmark::kMillisecond);

// The whole file with stream data stepped over, as the object parser sees
// it. Bytes are those lexed, not the file's.
void BM_PDFLexLargeDocumentObjects(benchmark::State& state) {
  const TLargeDocument* d = LargeDocumentOrSkip(state);
  if (!d) return;
  const std::string_view data = d->Bytes;
  size_t lexed = 0;
  int64_t tokens = 0;
  for (auto _ : state) {
    lkw::TPDFLexer lexer(data);
    lkw::TPDFToken token;
    lexed = data.size();
    tokens = 0;
    while (lexer.Next(token)) {
      ++tokens;
      if (token.Kind != lkw::TPDFTokenKind::tkKeyword || token.Text != "stream") continue;
      const size_t start = lkw::PDFStreamDataStart(data, token.End);
      const size_t end = std::min(data.find("endstream", start), data.size());
      lexed -= end - start;
      lexer.SetPosition(end);
    }
    benchmark::DoNotOptimize(tokens);
  }
  SetBytes(state, lexed);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * tokens);
}
BENCHMARK(BM_PDFLexLargeDocumentObjects)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Filters

// Flate alone, on a deflated content stream (the usual case for pages).
void BM_PDFFlateDecodeContent(benchmark::State& state) {
  const std::string& plain = GeneratedContent();
  const std::string packed = lkw::pdftest::Deflate(plain);
  for (auto _ : state) {
    lkw::TPDFDecodeStatus status;
    RawByteString out = lkw::PDFFlateDecode(packed, size_t{256} << 20, status);
    if (out.size() != plain.size()) {
      state.SkipWithError("inflated size differs");
      return;
    }
    benchmark::DoNotOptimize(out);
  }
  SetBytes(state, plain.size());
  state.counters["ratio"] = static_cast<double>(plain.size()) / static_cast<double>(packed.size());
}
BENCHMARK(BM_PDFFlateDecodeContent)->Unit(benchmark::kMillisecond);

// Flate followed by the PNG predictor, as image rows and cross-reference
// streams are stored: rows of 1 + Columns bytes, every row filter in turn.
void BM_PDFFlatePNGPredictor(benchmark::State& state) {
  const int columns = static_cast<int>(state.range(0));
  const size_t rows = (size_t{4} << 20) / static_cast<size_t>(columns + 1);
  std::mt19937 rng(7);
  std::string plain;
  plain.reserve(rows * static_cast<size_t>(columns + 1));
  for (size_t r = 0; r < rows; ++r) {
    plain += static_cast<char>(r % 5);
    for (int c = 0; c < columns; ++c) plain += static_cast<char>((c * 3 + r) % 17 + (rng() % 4));
  }
  const std::string packed = lkw::pdftest::Deflate(plain);
  lkw::TPDFDecodeParms parms;
  parms.Predictor = 15;
  parms.Columns = columns;
  size_t produced = 0;
  for (auto _ : state) {
    RawByteString out;
    lkw::TPDFDecodeStatus status;
    lkw::PDFDecodeFilter("flatedecode", packed, parms, size_t{256} << 20, out, status);
    produced = out.size();
    benchmark::DoNotOptimize(out);
  }
  if (produced != rows * static_cast<size_t>(columns)) state.SkipWithError("unpredicted size differs");
  SetBytes(state, plain.size());
  state.counters["ratio"] = static_cast<double>(plain.size()) / static_cast<double>(packed.size());
}
BENCHMARK(BM_PDFFlatePNGPredictor)->Arg(7)->Arg(1800)->Unit(benchmark::kMillisecond);

// Every stream of the large document through the reader: locating the
// object, its dictionary, /Length, the filter chain and its parameters.
void BM_PDFStreamsOfLargeDocument(benchmark::State& state) {
  TLargeDocument* d = LargeDocumentOrSkip(state);
  if (!d) return;
  TLKPDFReader& reader = *d->Reader;
  std::vector<int32_t> streams;
  RawByteString data;
  for (int32_t n = 1; n < reader.XRefs().Count(); ++n)
    if (reader.GetStreamData(n, data)) streams.push_back(n);
  size_t decoded = 0;
  for (auto _ : state) {
    decoded = 0;
    for (int32_t n : streams) {
      reader.GetStreamData(n, data);
      decoded += data.size();
    }
    benchmark::DoNotOptimize(decoded);
  }
  SetBytes(state, decoded);
  state.counters["streams"] = static_cast<double>(streams.size());
}
BENCHMARK(BM_PDFStreamsOfLargeDocument)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Content interpretation and layout

// The text layer on the generated content: interpreter and layout together.
void BM_PDFPageTextGeneratedContent(benchmark::State& state) {
  TLKPDFReader& reader = FontReader();
  const std::string& content = GeneratedContent();
  const TPDFObject box = LetterBox();
  const lkw::TPDFTextOptions options;
  size_t lines = 0;
  for (auto _ : state) {
    lkw::TLKPDFPage page;
    lkw::ExtractPageText(reader, content, TPDFObject::MakeRef(5, 0), box, 0, options, page);
    lines = page.Lines().size();
    benchmark::DoNotOptimize(lines);
  }
  if (lines == 0) state.SkipWithError("no text came out");
  SetBytes(state, content.size());
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_PDFPageTextGeneratedContent)->Unit(benchmark::kMillisecond);

// The interpreter alone: operators to placed glyphs.
void BM_PDFInterpretGeneratedContent(benchmark::State& state) {
  TLKPDFReader& reader = FontReader();
  const std::string& content = GeneratedContent();
  const TPDFObject box = LetterBox();
  const lkw::TPDFTextOptions options;
  size_t glyphs = 0;
  for (auto _ : state) {
    lkw::TLKPDFPage page;
    lkw::TPDFPageGlyphs out;
    lkw::InterpretPageContent(reader, content, TPDFObject::MakeRef(5, 0), box, 0, options, page, out);
    glyphs = out.Glyphs.size();
    benchmark::DoNotOptimize(glyphs);
  }
  SetBytes(state, content.size());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(glyphs));
}
BENCHMARK(BM_PDFInterpretGeneratedContent)->Unit(benchmark::kMillisecond);

// The layout alone: the glyphs of the generated content to lines. Bytes are
// those of the content the glyphs came from, so the figure compares with
// the interpreter's.
void BM_PDFLayoutGeneratedContent(benchmark::State& state) {
  TLKPDFReader& reader = FontReader();
  const std::string& content = GeneratedContent();
  const lkw::TPDFTextOptions options;
  lkw::TPDFPageGlyphs glyphs;
  {
    lkw::TLKPDFPage page;
    lkw::InterpretPageContent(reader, content, TPDFObject::MakeRef(5, 0), LetterBox(), 0, options, page, glyphs);
  }
  for (auto _ : state) {
    lkw::TLKPDFPage page;
    lkw::LayoutPageText(glyphs, options, page);
    benchmark::DoNotOptimize(page.Lines().size());
  }
  SetBytes(state, content.size());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(glyphs.Glyphs.size()));
}
BENCHMARK(BM_PDFLayoutGeneratedContent)->Unit(benchmark::kMillisecond);

// Every page of the large document through the text layer, its content
// already decoded and its fonts already loaded: the interpreter and layout
// on real typesetter output.
void BM_PDFPageTextLargeDocument(benchmark::State& state) {
  TLargeDocument* d = LargeDocumentOrSkip(state);
  if (!d) return;
  const lkw::TPDFTextOptions options;
  auto allPages = [&] {
    size_t lines = 0;
    for (const TPageInput& in : d->Pages) {
      lkw::TLKPDFPage page;
      lkw::ExtractPageText(*d->Reader, in.Content, in.Resources, in.MediaBox, in.Rotate, options, page);
      lines += page.Lines().size();
    }
    return lines;
  };
  allPages();  // the fonts load on first use
  for (auto _ : state) benchmark::DoNotOptimize(allPages());
  SetBytes(state, d->ContentBytes);
  state.counters["pages"] = static_cast<double>(d->Pages.size());
}
BENCHMARK(BM_PDFPageTextLargeDocument)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Whole documents

// Loading from memory as the tool does: structure, fonts, every page's text,
// metadata. Bytes are the file's.
void LoadLarge(benchmark::State& state, lkw::TLKWParseItems items) {
  const TLargeDocument* d = LargeDocumentOrSkip(state);
  if (!d) return;
  int64_t textLength = 0;
  for (auto _ : state) {
    lkw::TCustomMemoryStream stream(d->Bytes.data(), d->Bytes.size());
    TLKPDFReader reader;
    reader.SetParseItems(items);
    reader.LoadFromStream(stream);
    textLength = reader.Text().TextLength();
    benchmark::DoNotOptimize(textLength);
  }
  SetBytes(state, d->Bytes.size());
  state.counters["text_chars"] = static_cast<double>(textLength);
}

void BM_PDFLoadLargeDocument(benchmark::State& state) {
  LoadLarge(state, lkw::TLKWParseItems{lkw::wpiText, lkw::wpiSummaryInformation});
}
BENCHMARK(BM_PDFLoadLargeDocument)->Unit(benchmark::kMillisecond);

// Without the text: the cross-reference data, the trailer and metadata only.
void BM_PDFLoadLargeDocumentStructure(benchmark::State& state) {
  LoadLarge(state, lkw::TLKWParseItems{lkw::wpiSummaryInformation});
}
BENCHMARK(BM_PDFLoadLargeDocumentStructure)->Unit(benchmark::kMillisecond);

}  // namespace
