#include "tools/lkword/Extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <new>

#include "lkword/framework/MSWordCnst.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWEPub.h"
#include "lkword/word/MSWord.h"

namespace lkw::tool {

namespace {

const char* const kUnsupported = "unsupported file format";

RawByteString ReadStandardInput() {
  RawByteString data;
  char chunk[64 * 1024];
  for (;;) {
    ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError(std::string("cannot read standard input: ") + std::strerror(errno));
    }
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

// A missing file is told apart from one that cannot be opened, with the
// message the components give for it.
void CheckFile(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw EFileNotFoundError(Format(SFileNotFound, {Path}));
    throw EInOutError(std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) throw EInOutError("is a folder (use -r to read the documents in it)");
}

std::string FormatSeconds(int64_t Ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", static_cast<double>(Ms) / 1000);
  return b;
}

// What to do about a password failure, after the reader's own message.
std::string PasswordHint(TErrorKind Kind, size_t Given) {
  if (Kind != TErrorKind::Password) return {};
  if (Given == 0) return " (the document is encrypted: give its password with --password=PASSWORD)";
  if (Given == 1) return " (the password given does not open it)";
  return " (none of the " + std::to_string(Given) + " passwords given opens it)";
}

// Writes a pending header line once.
void WriteHeader(TOutputFile& Out, std::string& Header) {
  if (Header.empty()) return;
  Out.Append(Header);
  Header.clear();
}

}  // namespace

std::string MessageLine(const std::string& Path, const std::string& Message) {
  return "lkword: " + Path + ": " + Message + "\n";
}

TExtractor::TExtractor(const TToolOptions& Options) : FOptions(Options) {
  if (!Options.ReaderName.empty()) FForced = FindReaderInfo(Options.ReaderName);
  FSetup.Format = Options.Format;
  FSetup.MaxTextLength = Options.MaxLength;
  FSetup.HiddenText = Options.HiddenText;
  FSetup.Revisions = Options.ShowChanges;
  FSetup.Macros = Options.Macros;
  FSetup.Notes = Options.Notes;
  FSetup.TimeLimitMs = Options.TimeoutMs;
  FSetup.CodePage = Options.CodePage;
  FSetup.FirstPage = Options.FirstPage;
  FSetup.LastPage = Options.LastPage;
  FSetup.PageBreak = Options.PageBreak;
  FSetup.PageTexts = Options.Json;
}

std::unique_ptr<TMSWBaseDocument> TExtractor::Create(const TLKWReaderInfo& Reader, TOutputFile& Out,
                                                     const std::string& Password, TSinkState& Sink) const {
  auto doc = CreateReader(Reader, FSetup, Password);
  // Text goes out while it is read where the reader can; JSON needs the
  // whole record first. What the tool adds after the body (notes, a page
  // text apart) goes inside the frame, before its held last item.
  if (!FOptions.Json && doc->SupportsTextSink()) {
    const TMSTextFormating format = FOptions.Format;
    doc->SetHoldTextFinish(true);
    doc->SetTextSink([&Out, format, &Sink](std::u16string_view Item) {
      WriteHeader(Out, Sink.Header);
      WriteItem(Out, Item, format);
    });
    doc->SetUtf8TextSink([&Out, format, &Sink](std::string_view Item) {
      WriteHeader(Out, Sink.Header);
      WriteUtf8Item(Out, Item, format);
    });
  }
  return doc;
}

std::unique_ptr<TMSWBaseDocument> TExtractor::Load(const TInput& Input, const TLKWReaderInfo*& Reader,
                                                   TOutputFile& Out, TSinkState& Sink) const {
  // The inputs' own errors are those of listing a folder or of stat().
  if (!Input.Error.empty()) throw EInOutError(Input.Error);
  std::unique_ptr<TBytesStream> stdinBytes;
  if (Input.Path == "-") {
    stdinBytes = std::make_unique<TBytesStream>(ReadStandardInput());
    Reader = FForced ? FForced : DetectReaderInfo(*stdinBytes);
  } else {
    CheckFile(Input.Path);
    Reader = FForced;
    if (!Reader) {
      TFileStream probe(Input.Path);
      Reader = DetectReaderInfo(probe, Input.Path);
    }
  }
  if (!Reader) {
    if (stdinBytes) RaiseUnrecognised(*stdinBytes, kUnsupported);
    TFileStream probe(Input.Path);
    RaiseUnrecognised(probe, kUnsupported);
  }
  return LoadTryingPasswords(
      FOptions.Passwords, [&](const std::string& Password) { return Create(*Reader, Out, Password, Sink); },
      [&](TMSWBaseDocument& Doc) {
        if (stdinBytes) {
          stdinBytes->Seek(0, soBeginning);
          Doc.LoadFromStream(*stdinBytes);
        } else {
          Doc.LoadFromFile(Input.Path);
        }
      });
}

TDocResult TExtractor::Run(const TInput& Input, TOutputFile& Out) const {
  TDocResult result;
  const TLKWReaderInfo* reader = nullptr;
  std::unique_ptr<TMSWBaseDocument> doc;
  std::string error;
  TSinkState sink;
  if (FOptions.Headers) sink.Header = (Input.Ordinal ? "\n==> " : "==> ") + Input.Path + " <==\n";
  try {
    doc = Load(Input, reader, Out, sink);
  } catch (const std::bad_alloc&) {
    error = "Out of memory";
    result.Kind = TErrorKind::Limit;
  } catch (const std::exception& e) {
    error = e.what();
    result.Kind = CurrentErrorKind();
  }
  if (error.empty() && doc && doc->TimedOut()) {
    // Its text is incomplete: a failure, with what a streaming reader wrote
    // already left as it is.
    error = "timed out after " + FormatSeconds(FOptions.TimeoutMs) + " s";
    result.Kind = TErrorKind::Timeout;
  }
  // A failed output is the caller's failure, not this document's.
  if (!Out.WriteError().empty()) throw EWriteError(Out.WriteError());
  if (!reader && result.Kind == TErrorKind::Unsupported && Input.Walked && FOptions.SkipUnsupported) {
    result.Kind = TErrorKind::None;
    result.Skipped = true;
    return result;
  }
  const bool ok = error.empty();
  if (!ok) {
    result.Ok = false;
    result.Messages += MessageLine(Input.Path, error + PasswordHint(result.Kind, FOptions.Passwords.size()));
  }
  if (FOptions.Json) {
    TJsonRecord rec;
    rec.Path = Input.Path;
    rec.Reader = reader ? reader->Name : nullptr;
    rec.Format = FOptions.Format;
    rec.Doc = doc.get();
    rec.Loaded = ok;
    rec.WithNotes = FOptions.Notes;
    rec.WithMacros = FOptions.Macros;
    rec.TikaKeys = FOptions.TikaKeys;
    rec.MimeType = reader ? reader->MimeType : nullptr;
    rec.Error = ok ? nullptr : &error;
    rec.ErrorKind = ErrorKindName(result.Kind);
    rec.Partial = ok && doc && doc->Partial();
    WriteJsonRecord(Out, rec);
  } else if (ok) {
    WriteHeader(Out, sink.Header);
    // Text boxes and the secondary texts follow the body, inside its frame.
    WriteBody(Out, *doc, FOptions.Format, FOptions.Notes);
    if (doc->TextFinishHeld()) WriteItem(Out, doc->HeldTextFinish(), FOptions.Format);
    if (FOptions.Macros)
      if (const TWideStrings* macros = MacroText(*doc); macros && !macros->Items().empty())
        WriteText(Out, *macros, tfPlainText);
    if (FOptions.Metadata) {
      if (!EndsLinesWithLF(FOptions.Format)) Out.Append("\n");
      WriteMetadataLines(Out, doc->SummaryInformation(), FOptions.TikaKeys);
    }
  }
  // Each input reaches the reader of the output as soon as it is done.
  Out.Flush();
  if (ok && !FOptions.Json && !FOptions.Quiet)
    for (const std::string& w : WarningLines(*doc)) result.Messages += MessageLine(Input.Path, "warning: " + w);
  // Its text is written all the same: what was recovered is the user's.
  if (ok && doc->Partial() && !FOptions.AcceptPartial) {
    result.Ok = false;
    result.Partial = true;
    result.Messages +=
        MessageLine(Input.Path, "only part of the document could be read (the warnings say what was lost); "
                                "--accept-partial takes such results as done");
  }
  if (ok && !FOptions.CoverPath.empty() && !WriteCover(Input.Path, *doc, result.Messages)) {
    result.Ok = false;
    result.Kind = TErrorKind::IO;
  }
  return result;
}

TDocResult TExtractor::RunToFolder(const TInput& Input, const std::string& OutputFolder) const {
  namespace fs = std::filesystem;
  TDocResult result;
  if (Input.OutputName.empty()) {
    // Its name belongs to an earlier input's output, which must stay.
    std::string discarded;
    TOutputFile nowhere(&discarded);
    return Run(Input, nowhere);
  }
  const fs::path target = fs::path(OutputFolder) / Input.OutputName;
  bool created = false;
  try {
    fs::create_directories(target.parent_path());
    TOutputFile out(target.string());
    created = true;
    result = Run(Input, out);
  } catch (const std::exception& e) {
    result.Ok = false;
    result.Kind = TErrorKind::IO;
    result.Messages += MessageLine(target.string(), e.what());
  }
  // A partial result keeps its text: it is all there is of the document.
  const bool failed = !result.Ok && !result.Partial;
  if (created && (result.Skipped || (failed && (!FOptions.Json || result.Kind == TErrorKind::IO)))) {
    std::error_code ignored;
    fs::remove(target, ignored);
  }
  return result;
}

// --cover: the picture's bytes as the book holds them. A book without a
// cover is no failure; a file that cannot be written is.
bool TExtractor::WriteCover(const std::string& Path, TMSWBaseDocument& Doc, std::string& Messages) const {
  auto* epub = dynamic_cast<TLKWEPub*>(&Doc);
  if (!epub || epub->CoverImage().Size() == 0) {
    Messages += MessageLine(Path, "no cover image");
    return true;
  }
  try {
    TOutputFile cover(FOptions.CoverPath);
    cover.Append(std::string_view(reinterpret_cast<const char*>(epub->CoverImage().Memory()),
                                  static_cast<size_t>(epub->CoverImage().Size())));
    cover.Flush();
  } catch (const Exception& e) {
    Messages += MessageLine(FOptions.CoverPath, e.Message());
    return false;
  }
  return true;
}

}  // namespace lkw::tool
