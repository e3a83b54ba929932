// lkword: extracts the text and metadata of documents with the LKWord readers.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/word/MSWord.h"
#include "lkword/readers/MSWEPub.h"
#include "tools/lkword/Options.h"
#include "tools/lkword/Output.h"
#include "tools/lkword/Readers.h"

using namespace lkw;
using namespace lkw::tool;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void Report(const std::string& Path, const std::string& Message) {
  std::string line = "lkword: " + Path + ": " + Message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

RawByteString ReadStandardInput() {
  RawByteString data;
  char chunk[64 * 1024];
  for (;;) {
    ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(std::string("cannot read standard input: ") + std::strerror(errno));
    }
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

// The tool writes UTF-8, so the HTML header must not claim the ANSI code page.
void DeclareUtf8(TObject*, WideString& Header) {
  static const std::u16string_view kCharset = u"charset=windows-";
  const size_t at = Header.find(kCharset);
  if (at == WideString::npos) return;
  size_t end = at + kCharset.size();
  while (end < Header.size() && Header[end] >= u'0' && Header[end] <= u'9') ++end;
  Header.replace(at, end - at, u"charset=utf-8");
}

class TExtractor {
 public:
  TExtractor(const TToolOptions& Options, TOutputFile& Out) : FOptions(Options), FOut(Out) {
    if (!Options.ReaderName.empty()) FForced = FindReader(Options.ReaderName);
  }

  // Extracts one input and writes its output; false when it failed.
  bool Run(const std::string& Path) {
    const TReaderInfo* reader = nullptr;
    std::unique_ptr<TMSWBaseDocument> doc;
    std::string error;
    try {
      if (Path == "-")
        doc = LoadStandardInput(reader);
      else
        doc = LoadFile(Path, reader);
    } catch (const Exception& e) {
      error = e.Message();
    } catch (const std::bad_alloc&) {
      error = "Out of memory";
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!error.empty()) Report(Path, error);
    const bool ok = error.empty();
    // Secondary texts follow the body, in every output form.
    if (ok && FOptions.Notes)
      for (const TWideStrings* list : SecondaryTexts(*doc))
        for (const WideString& item : list->Items()) doc->Text().Add(item);
    // Documents without macros give an empty listing, not a failure.
    static const TWideStrings kNoMacros;
    const TWideStrings* macros = nullptr;
    if (FOptions.Macros) {
      auto* word = dynamic_cast<TMSCustomWordDocument*>(doc.get());
      macros = ok && word ? &word->MacroText() : &kNoMacros;
    }
    if (FOptions.Json) {
      WriteJsonRecord(FOut, Path, reader ? reader->Name : nullptr, doc.get(), FOptions.Format, ok ? nullptr : &error,
                      macros);
    } else if (ok) {
      WriteText(FOut, doc->Text(), FOptions.Format);
      if (macros && !macros->Items().empty()) WriteText(FOut, *macros, tfPlainText);
      if (FOptions.Metadata) {
        if (FOptions.Format != tfPlainText) FOut.Append("\n");
        WriteMetadataLines(FOut, doc->SummaryInformation());
      }
    }
    // Each input reaches the reader of the output as soon as it is done.
    FOut.Flush();
    return ok && (FOptions.CoverPath.empty() || WriteCover(Path, *doc));
  }

 private:
  // --cover: the picture's bytes as the book holds them. A book without a
  // cover is no failure; a file that cannot be written is.
  bool WriteCover(const std::string& Path, TMSWBaseDocument& Doc) {
    auto* epub = dynamic_cast<TLKWEPub*>(&Doc);
    if (!epub || epub->CoverImage().Size() == 0) {
      Report(Path, "no cover image");
      return true;
    }
    try {
      TOutputFile cover(FOptions.CoverPath);
      cover.Append(std::string_view(reinterpret_cast<const char*>(epub->CoverImage().Memory()),
                                    static_cast<size_t>(epub->CoverImage().Size())));
      cover.Flush();
    } catch (const Exception& e) {
      Report(FOptions.CoverPath, e.Message());
      return false;
    }
    return true;
  }

  std::unique_ptr<TMSWBaseDocument> Create(const TReaderInfo& Reader) {
    auto doc = Reader.Create();
    doc->SetTextFormating(FOptions.Format);
    doc->SetMaxTextLength(FOptions.MaxLength);
    if (FOptions.HiddenText) doc->SetParseItems(doc->ParseItems().Include(wpiHiddenText));
    if (FOptions.Macros) doc->SetParseItems(doc->ParseItems().Include(wpiVBA));
    if (auto* pdf = dynamic_cast<TLKPDFReader*>(doc.get()); pdf && FOptions.HasPassword) pdf->SetPassword(FOptions.Password);
    if (FOptions.Format == tfHTML) doc->SetOnBeforeText(DeclareUtf8);
    // Text goes out while it is read where the reader can; JSON needs the
    // whole record first.
    if (!FOptions.Json && doc->SupportsTextSink())
      doc->SetTextSink([this](std::u16string_view Item) { WriteItem(FOut, Item, FOptions.Format); });
    return doc;
  }

  std::unique_ptr<TMSWBaseDocument> LoadFile(const std::string& Path, const TReaderInfo*& Reader) {
    Reader = FForced;
    if (!Reader) {
      // The library's own check, so a missing file reads as it does for a
      // host program.
      TMSWBaseDocument().LoadFromFile(Path);
      TFileStream probe(Path);
      Reader = DetectReader(probe);
      if (!Reader) throw Exception("unsupported file format");
    }
    auto doc = Create(*Reader);
    doc->LoadFromFile(Path);
    return doc;
  }

  std::unique_ptr<TMSWBaseDocument> LoadStandardInput(const TReaderInfo*& Reader) {
    TBytesStream stream(ReadStandardInput());
    Reader = FForced ? FForced : DetectReader(stream);
    if (!Reader) throw Exception("unsupported file format");
    auto doc = Create(*Reader);
    stream.Seek(0, soBeginning);
    doc->LoadFromStream(stream);
    return doc;
  }

  const TToolOptions& FOptions;
  TOutputFile& FOut;
  const TReaderInfo* FForced = nullptr;
};

int UsageError(const std::string& Message) {
  std::fprintf(stderr, "lkword: %s\nTry 'lkword --help' for more information.\n", Message.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  TToolOptions options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) return UsageError(error);
  if (options.ShowHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
  }
  if (options.ShowVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
  }

  // The ANSI code page decodes 8-bit document text. It is fixed here rather
  // than taken from the environment, so output does not depend on the locale.
  SetActiveCodePage(1252);

  std::unique_ptr<TOutputFile> out;
  try {
    out = std::make_unique<TOutputFile>(options.OutputPath);
  } catch (const Exception& e) {
    Report(options.OutputPath, e.Message());
    return kExitFailed;
  }

  bool allOk = true;
  TExtractor extractor(options, *out);
  for (const std::string& path : options.Files) {
    try {
      allOk = extractor.Run(path) && allOk;
    } catch (const Exception& e) {
      // Only the output can fail here; later inputs could not be written either.
      Report(out->Name(), e.Message());
      return kExitFailed;
    }
  }
  return allOk ? kExitOk : kExitFailed;
}
