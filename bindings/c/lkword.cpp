#include "bindings/c/lkword.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/registry/LKWDocInfo.h"
#include "lkword/registry/LKWOutput.h"
#include "lkword/registry/LKWReaders.h"

#ifndef LKWORD_VERSION_STRING
#define LKWORD_VERSION_STRING "0.0.0"
#endif

using namespace lkw;

struct lkword_options {
  TReaderSetup Setup;
  bool Json = false;
  std::vector<std::string> Passwords;
  const TLKWReaderInfo* Reader = nullptr;
};

struct lkword_result {
  lkword_error Error = LKWORD_OK;
  std::string Message;
  const char* Reader = nullptr;
  std::string Text;
  int32_t Pages = -1;
  struct TField {
    std::string Key, Value;
    lkword_value_type Type;
  };
  std::vector<TField> Metadata;
  std::vector<std::string> Warnings;
  std::vector<std::pair<const char*, std::string>> Notes;
  std::string Macros;
  std::string Json;
  bool Partial = false;
};

namespace {

const char* const kUnsupported = "unsupported file format";
const lkword_options kDefaults;

lkword_error ToError(TErrorKind Kind) {
  switch (Kind) {
    case TErrorKind::None: return LKWORD_OK;
    case TErrorKind::NotFound: return LKWORD_ERROR_NOT_FOUND;
    case TErrorKind::Unsupported: return LKWORD_ERROR_UNSUPPORTED;
    case TErrorKind::Password: return LKWORD_ERROR_PASSWORD;
    case TErrorKind::Corrupt: return LKWORD_ERROR_CORRUPT;
    case TErrorKind::IO: return LKWORD_ERROR_IO;
    case TErrorKind::Limit: return LKWORD_ERROR_LIMIT;
    case TErrorKind::Timeout: return LKWORD_ERROR_TIMEOUT;
  }
  return LKWORD_ERROR_CORRUPT;
}

// A file that does not exist, or a folder, is told apart before any reader
// tries it, with the messages the tool gives.
void CheckFile(const char* Path) {
  struct stat st {};
  if (::stat(Path, &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw EFileNotFoundError(Format(SFileNotFound, {Path}));
    throw EInOutError(std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) throw EInOutError("is a folder");
}

// Text, when not null, takes the body as the reader produces it, as the tool
// writes it; the document's own list stays empty.
std::unique_ptr<TMSWBaseDocument> Create(const TLKWReaderInfo& Reader, const lkword_options& O,
                                         const std::string& Password, TOutputFile* Text) {
  auto doc = CreateReader(Reader, O.Setup, Password);
  if (Text && doc->SupportsTextSink()) {
    const TMSTextFormating format = O.Setup.Format;
    doc->SetHoldTextFinish(true);
    doc->SetTextSink([Text, format](std::u16string_view Item) { WriteItem(*Text, Item, format); });
    doc->SetUtf8TextSink([Text, format](std::string_view Item) { WriteUtf8Item(*Text, Item, format); });
  }
  return doc;
}

// Stream is the document's bytes; Path, when not null, the file to load them
// from (readers that map files read it themselves).
std::unique_ptr<TMSWBaseDocument> Load(TStream& Stream, const char* Path, const lkword_options& O,
                                       const char*& ReaderName, TOutputFile* Text) {
  const TLKWReaderInfo* reader = O.Reader ? O.Reader : DetectReaderInfo(Stream);
  if (!reader) RaiseUnrecognised(Stream, kUnsupported);
  ReaderName = reader->Name;
  return LoadTryingPasswords(
      O.Passwords, [&](const std::string& Password) { return Create(*reader, O, Password, Text); },
      [&](TMSWBaseDocument& Doc) {
        if (Path) {
          Doc.LoadFromFile(Path);
        } else {
          Stream.Seek(0, soBeginning);
          Doc.LoadFromStream(Stream);
        }
      });
}

std::string FormatSeconds(int64_t Ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", static_cast<double>(Ms) / 1000);
  return b;
}

// Everything the caller may ask of the document, in the order the tool
// writes it: the text first, since cutting what follows the body at the
// length limit adds a warning.
void Collect(lkword_result& R, TMSWBaseDocument& Doc, const lkword_options& O, const char* JsonPath,
             TOutputFile& Text) {
  const bool loaded = R.Error == LKWORD_OK;
  R.Partial = loaded && Doc.Partial();
  if (loaded) {
    WriteBody(Text, Doc, O.Setup.Format, false);
    if (Doc.TextFinishHeld()) WriteItem(Text, Doc.HeldTextFinish(), O.Setup.Format);
    Text.Flush();
    for (const TMetaField& f : CollectMetadata(Doc.SummaryInformation())) {
      lkword_value_type type = f.IsNumber ? LKWORD_VALUE_INTEGER : f.Value.empty() ? LKWORD_VALUE_TEXT : LKWORD_VALUE_DATE;
      R.Metadata.push_back({f.Name, type == LKWORD_VALUE_TEXT ? WideToUtf8(f.Text) : f.Value, type});
    }
    if (O.Setup.Notes) {
      const WideString finish = Doc.GetTextFinish();
      for (const TNamedText& n : SecondaryTexts(Doc)) {
        const std::vector<WideString> items = JoiningItems(*n.Text, O.Setup.Format, finish);
        if (items.empty()) continue;
        std::string text;
        TOutputFile notes(&text);
        for (const WideString& item : items) WriteItem(notes, item, tfPlainText);
        notes.Flush();
        R.Notes.emplace_back(n.Name, std::move(text));
      }
    }
    if (O.Setup.Macros)
      if (const TWideStrings* macros = MacroText(Doc)) {
        TOutputFile out(&R.Macros);
        WriteText(out, *macros, tfPlainText);
        out.Flush();
      }
    R.Pages = PageCountOf(Doc);
  }
  if (O.Json) {
    TJsonRecord rec;
    rec.Path = JsonPath;
    rec.Reader = R.Reader;
    rec.Format = O.Setup.Format;
    rec.Doc = &Doc;
    rec.Loaded = loaded;
    rec.WithNotes = O.Setup.Notes;
    rec.WithMacros = O.Setup.Macros;
    rec.MimeType = nullptr;
    rec.Error = loaded ? nullptr : &R.Message;
    rec.ErrorKind = lkword_error_name(R.Error);
    rec.Partial = R.Partial;
    TOutputFile out(&R.Json);
    WriteJsonRecord(out, rec);
    out.Flush();
  }
  R.Warnings = WarningLines(Doc);
}

// A JSON line for an input no document was made for.
void CollectFailure(lkword_result& R, const lkword_options& O, const char* JsonPath) {
  if (!O.Json) return;
  TJsonRecord rec;
  rec.Path = JsonPath;
  rec.Reader = R.Reader;
  rec.Format = O.Setup.Format;
  rec.Error = &R.Message;
  rec.ErrorKind = lkword_error_name(R.Error);
  rec.WithNotes = O.Setup.Notes;
  rec.WithMacros = O.Setup.Macros;
  TOutputFile out(&R.Json);
  WriteJsonRecord(out, rec);
  out.Flush();
}

lkword_result* Extract(const char* Path, const void* Data, size_t Size, const lkword_options* Options) {
  lkword_result* r = new (std::nothrow) lkword_result;
  if (!r) return nullptr;
  const lkword_options& o = Options ? *Options : kDefaults;
  const char* jsonPath = Path ? Path : "-";
  std::unique_ptr<TMSWBaseDocument> doc;
  // The JSON line is made from the document's own list.
  TOutputFile text(&r->Text);
  TOutputFile* sink = o.Json ? nullptr : &text;
  try {
    try {
      if (Path) {
        CheckFile(Path);
        TFileStream probe(Path);
        doc = Load(probe, Path, o, r->Reader, sink);
      } else {
        TCustomMemoryStream stream(Data, Size);
        doc = Load(stream, nullptr, o, r->Reader, sink);
      }
      if (doc->TimedOut()) {
        r->Error = LKWORD_ERROR_TIMEOUT;
        r->Message = "timed out after " + FormatSeconds(o.Setup.TimeLimitMs) + " s";
      }
    } catch (const std::bad_alloc&) {
      r->Error = LKWORD_ERROR_LIMIT;
      r->Message = "Out of memory";
    } catch (const std::exception& e) {
      r->Error = ToError(CurrentErrorKind());
      r->Message = e.what();
    } catch (...) {
      r->Error = ToError(CurrentErrorKind());
      r->Message = "unknown error";
    }
    if (doc)
      Collect(*r, *doc, o, jsonPath, text);
    else
      CollectFailure(*r, o, jsonPath);
  } catch (const std::bad_alloc&) {
    // Out of memory while writing the results: what was gathered stays.
    r->Error = LKWORD_ERROR_LIMIT;
    r->Message = "Out of memory";
  } catch (const std::exception& e) {
    r->Error = LKWORD_ERROR_CORRUPT;
    r->Message = e.what();
  } catch (...) {
    r->Error = LKWORD_ERROR_CORRUPT;
    r->Message = "unknown error";
  }
  if (r->Error != LKWORD_OK) {
    // A failed document has no text, not the part a streaming reader gave.
    text.Discard();
    r->Text.clear();
  }
  return r;
}

const char* Sized(const std::string& S, size_t* Length) {
  if (Length) *Length = S.size();
  return S.c_str();
}

const char* Detect(TStream& Stream) {
  const TLKWReaderInfo* info = DetectReaderInfo(Stream);
  return info ? info->Name : nullptr;
}

}  // namespace

extern "C" {

const char* lkword_version(void) { return LKWORD_VERSION_STRING; }
int lkword_api_version(void) { return LKWORD_API_VERSION; }

const char* lkword_error_name(lkword_error Error) {
  switch (Error) {
    case LKWORD_OK: return nullptr;
    case LKWORD_ERROR_NOT_FOUND: return ErrorKindName(TErrorKind::NotFound);
    case LKWORD_ERROR_UNSUPPORTED: return ErrorKindName(TErrorKind::Unsupported);
    case LKWORD_ERROR_PASSWORD: return ErrorKindName(TErrorKind::Password);
    case LKWORD_ERROR_CORRUPT: return ErrorKindName(TErrorKind::Corrupt);
    case LKWORD_ERROR_IO: return ErrorKindName(TErrorKind::IO);
    case LKWORD_ERROR_LIMIT: return ErrorKindName(TErrorKind::Limit);
    case LKWORD_ERROR_TIMEOUT: return ErrorKindName(TErrorKind::Timeout);
    case LKWORD_ERROR_INVALID_ARGUMENT: return "invalid_argument";
  }
  return nullptr;
}

lkword_options* lkword_options_new(void) { return new (std::nothrow) lkword_options; }
void lkword_options_free(lkword_options* Options) { delete Options; }

lkword_error lkword_options_set_format(lkword_options* Options, lkword_format Format) {
  if (!Options) return LKWORD_ERROR_INVALID_ARGUMENT;
  switch (Format) {
    case LKWORD_FORMAT_TEXT: Options->Setup.Format = tfPlainText; return LKWORD_OK;
    case LKWORD_FORMAT_RTF: Options->Setup.Format = tfRTF; return LKWORD_OK;
    case LKWORD_FORMAT_HTML: Options->Setup.Format = tfHTML; return LKWORD_OK;
    case LKWORD_FORMAT_MARKDOWN: Options->Setup.Format = tfMarkdown; return LKWORD_OK;
  }
  return LKWORD_ERROR_INVALID_ARGUMENT;
}

lkword_error lkword_options_set_flag(lkword_options* Options, lkword_flag Flag, int On) {
  if (!Options) return LKWORD_ERROR_INVALID_ARGUMENT;
  switch (Flag) {
    case LKWORD_FLAG_NOTES: Options->Setup.Notes = On != 0; return LKWORD_OK;
    case LKWORD_FLAG_MACROS: Options->Setup.Macros = On != 0; return LKWORD_OK;
    case LKWORD_FLAG_HIDDEN: Options->Setup.HiddenText = On != 0; return LKWORD_OK;
    case LKWORD_FLAG_CHANGES: Options->Setup.Revisions = On != 0; return LKWORD_OK;
    case LKWORD_FLAG_JSON:
      // The line's page_texts need the pages kept apart.
      Options->Json = On != 0;
      Options->Setup.PageTexts = Options->Json;
      return LKWORD_OK;
  }
  return LKWORD_ERROR_INVALID_ARGUMENT;
}

lkword_error lkword_options_set_limit(lkword_options* Options, lkword_limit Limit, int64_t Value) {
  if (!Options || Value < 0) return LKWORD_ERROR_INVALID_ARGUMENT;
  switch (Limit) {
    case LKWORD_LIMIT_MAX_TEXT_LENGTH:
      if (Value > INT32_MAX) return LKWORD_ERROR_INVALID_ARGUMENT;
      Options->Setup.MaxTextLength = static_cast<int32_t>(Value);
      return LKWORD_OK;
    case LKWORD_LIMIT_TIME_MS: Options->Setup.TimeLimitMs = Value; return LKWORD_OK;
    case LKWORD_LIMIT_DECOMPRESSED_SIZE: Options->Setup.MaxDecompressedSize = Value; return LKWORD_OK;
    case LKWORD_LIMIT_STREAM_SIZE: Options->Setup.MaxStreamSize = Value; return LKWORD_OK;
    case LKWORD_LIMIT_NESTING_DEPTH:
      if (Value > INT32_MAX) return LKWORD_ERROR_INVALID_ARGUMENT;
      Options->Setup.MaxNestingDepth = Value;
      return LKWORD_OK;
    case LKWORD_LIMIT_XML_NODES: Options->Setup.MaxXMLNodes = Value; return LKWORD_OK;
  }
  return LKWORD_ERROR_INVALID_ARGUMENT;
}

lkword_error lkword_options_set_page_range(lkword_options* Options, int32_t First, int32_t Last) {
  if (!Options || First < 0 || Last < 0) return LKWORD_ERROR_INVALID_ARGUMENT;
  Options->Setup.FirstPage = First;
  Options->Setup.LastPage = Last;
  return LKWORD_OK;
}

lkword_error lkword_options_add_password(lkword_options* Options, const char* Password) {
  if (!Options || !Password) return LKWORD_ERROR_INVALID_ARGUMENT;
  try {
    Options->Passwords.emplace_back(Password);
  } catch (...) {
    return LKWORD_ERROR_LIMIT;
  }
  return LKWORD_OK;
}

lkword_error lkword_options_set_reader(lkword_options* Options, const char* Name) {
  if (!Options) return LKWORD_ERROR_INVALID_ARGUMENT;
  if (!Name || !*Name) {
    Options->Reader = nullptr;
    return LKWORD_OK;
  }
  const TLKWReaderInfo* info = FindReaderInfo(Name);
  if (!info) return LKWORD_ERROR_UNSUPPORTED;
  Options->Reader = info;
  return LKWORD_OK;
}

lkword_error lkword_options_set_encoding(lkword_options* Options, const char* Encoding) {
  if (!Options) return LKWORD_ERROR_INVALID_ARGUMENT;
  if (!Encoding || !*Encoding) {
    Options->Setup.CodePage = 0;
    return LKWORD_OK;
  }
  const uint32_t cp = CodePageFromUserName(Encoding);
  if (cp == 0) return LKWORD_ERROR_UNSUPPORTED;
  Options->Setup.CodePage = cp;
  return LKWORD_OK;
}

lkword_result* lkword_extract_file(const char* Path, const lkword_options* Options) {
  if (!Path) {
    lkword_result* r = new (std::nothrow) lkword_result;
    if (r) {
      r->Error = LKWORD_ERROR_INVALID_ARGUMENT;
      r->Message = "no path given";
    }
    return r;
  }
  return Extract(Path, nullptr, 0, Options);
}

lkword_result* lkword_extract_memory(const void* Data, size_t Size, const lkword_options* Options) {
  if (!Data && Size > 0) {
    lkword_result* r = new (std::nothrow) lkword_result;
    if (r) {
      r->Error = LKWORD_ERROR_INVALID_ARGUMENT;
      r->Message = "no data given";
    }
    return r;
  }
  static const char kEmpty = 0;
  return Extract(nullptr, Data ? Data : &kEmpty, Size, Options);
}

void lkword_result_free(lkword_result* Result) { delete Result; }

lkword_error lkword_result_error(const lkword_result* R) { return R ? R->Error : LKWORD_ERROR_INVALID_ARGUMENT; }
const char* lkword_result_message(const lkword_result* R) { return R ? R->Message.c_str() : ""; }
const char* lkword_result_reader(const lkword_result* R) { return R ? R->Reader : nullptr; }

const char* lkword_result_text(const lkword_result* R, size_t* Length) {
  static const std::string kNone;
  return Sized(R ? R->Text : kNone, Length);
}

int32_t lkword_result_pages(const lkword_result* R) { return R ? R->Pages : -1; }

size_t lkword_result_metadata_count(const lkword_result* R) { return R ? R->Metadata.size() : 0; }
const char* lkword_result_metadata_key(const lkword_result* R, size_t I) {
  return R && I < R->Metadata.size() ? R->Metadata[I].Key.c_str() : nullptr;
}
const char* lkword_result_metadata_value(const lkword_result* R, size_t I) {
  return R && I < R->Metadata.size() ? R->Metadata[I].Value.c_str() : nullptr;
}
lkword_value_type lkword_result_metadata_type(const lkword_result* R, size_t I) {
  return R && I < R->Metadata.size() ? R->Metadata[I].Type : LKWORD_VALUE_TEXT;
}

size_t lkword_result_warning_count(const lkword_result* R) { return R ? R->Warnings.size() : 0; }
const char* lkword_result_warning(const lkword_result* R, size_t I) {
  return R && I < R->Warnings.size() ? R->Warnings[I].c_str() : nullptr;
}

size_t lkword_result_note_count(const lkword_result* R) { return R ? R->Notes.size() : 0; }
const char* lkword_result_note_name(const lkword_result* R, size_t I) {
  return R && I < R->Notes.size() ? R->Notes[I].first : nullptr;
}
const char* lkword_result_note_text(const lkword_result* R, size_t I, size_t* Length) {
  if (!R || I >= R->Notes.size()) {
    if (Length) *Length = 0;
    return nullptr;
  }
  return Sized(R->Notes[I].second, Length);
}

const char* lkword_result_macros(const lkword_result* R, size_t* Length) {
  static const std::string kNone;
  return Sized(R ? R->Macros : kNone, Length);
}

const char* lkword_result_json(const lkword_result* R, size_t* Length) {
  static const std::string kNone;
  return Sized(R ? R->Json : kNone, Length);
}

int lkword_result_partial(const lkword_result* R) { return R && R->Partial ? 1 : 0; }

const char* lkword_detect_file(const char* Path) {
  if (!Path) return nullptr;
  try {
    TFileStream stream(Path);
    return Detect(stream);
  } catch (...) {
    return nullptr;
  }
}

const char* lkword_detect_memory(const void* Data, size_t Size) {
  if (!Data) return nullptr;
  try {
    TCustomMemoryStream stream(Data, Size);
    return Detect(stream);
  } catch (...) {
    return nullptr;
  }
}

size_t lkword_reader_count(void) { return RegisteredReaders().size(); }
const char* lkword_reader_name(size_t Index) {
  const auto readers = RegisteredReaders();
  return Index < readers.size() ? readers[Index].Name : nullptr;
}

}  // extern "C"
