// Where a host's output goes and how a loaded document is written there:
// the text, the metadata lines and the JSON line of the tool and the bindings.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/MSW_Sum.h"

namespace lkw {

// Buffered output to standard output or to a created file. Writers ask for
// room with Reserve, encode straight into it and hand back the end with
// Commit; the buffer goes out in large writes.
class TOutputFile {
 public:
  // Empty Path: standard output. Raises Exception when the file cannot be
  // created.
  explicit TOutputFile(const std::string& Path);
  // Output kept in memory: every Flush appends to *Memory.
  explicit TOutputFile(std::string* Memory);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Room for N more bytes (flushing or growing the buffer as needed).
  char* Reserve(size_t N) {
    if (FCapacity - FSize < N) MakeRoom(N);
    return FData.get() + FSize;
  }
  // End is the end of what was written into the reserved room.
  void Commit(char* End) { FSize = static_cast<size_t>(End - FData.get()); }
  void Append(std::string_view S);
  // Writes everything buffered; raises EWriteError on a write error, and
  // again on every later Flush (what is written after a failure is dropped).
  void Flush();
  // Drops what is buffered and not yet written.
  void Discard() { FSize = 0; }
  // The write error, if one happened; a reader that swallows exceptions
  // cannot hide it from the caller.
  const std::string& WriteError() const { return FWriteError; }
  // The name used in messages: the path, or "standard output".
  const std::string& Name() const { return FName; }

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  void MakeRoom(size_t N);
  int FHandle = 1;
  bool FOwned = false;
  std::string* FMemory = nullptr;
  std::string FWriteError;
  std::string FName;
  std::unique_ptr<char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

// A TMSWTextChange handler for HTML output written as UTF-8: the header
// must not claim the ANSI code page.
void DeclareUtf8Charset(TObject* Sender, WideString& Header);

// One item of a document's text: plain text ends it with LF (line ends
// inside made LF), markup with CR LF as TWideStrings joins items; Json
// escapes it for a JSON string.
void WriteItem(TOutputFile& Out, std::u16string_view Item, TMSTextFormating Format, bool Json = false);
// The same for an item already in UTF-8 (not for JSON).
void WriteUtf8Item(TOutputFile& Out, std::string_view Item, TMSTextFormating Format);

// The document's Text in the chosen format, UTF-8. Plain text: every item
// followed by LF, with CR LF and lone CR turned into LF. RTF and HTML: the
// items each followed by CR LF, as the library joins them.
void WriteText(TOutputFile& Out, const TWideStrings& Text, TMSTextFormating Format);

// The document's body, then the text the reader keeps apart from it (see
// PageTextApart) and, WithNotes, its secondary texts, all inside the body's
// RTF or HTML frame. Nothing is added to a body cut at the maximum length.
void WriteBody(TOutputFile& Out, TMSWBaseDocument& Doc, TMSTextFormating Format, bool WithNotes,
               bool Json = false);
// What WriteBody adds after the body, for a body that went out through a
// text sink which held back its closing markup.
void WriteAppendix(TOutputFile& Out, TMSWBaseDocument& Doc, TMSTextFormating Format, bool WithNotes,
                   bool Json = false);

// One "Key: value" line per non-empty field of the record; line breaks inside
// a value become spaces so that every field stays on one line. TikaKeys: the
// Dublin Core / Tika key names and dates in UTC.
void WriteMetadataLines(TOutputFile& Out, const TLKWordSummaryInformation& Summary, bool TikaKeys = false);

// A non-empty field of the metadata record.
struct TMetaField {
  std::string Name;
  bool IsNumber;
  WideString Text;    // text fields
  std::string Value;  // numbers and dates, already formatted
};
// The record's non-empty fields in its order; dates in local time with
// their offset, or in UTC with TikaKeys (and those key names).
std::vector<TMetaField> CollectMetadata(const TLKWordSummaryInformation& Summary, bool TikaKeys = false);

// The items of a list that join the body: without the frame a reader gives
// a list of its own (the docx reader frames each part) and without the
// empty paragraphs that close Word stories.
std::vector<WideString> JoiningItems(const TWideStrings& List, TMSTextFormating Format, std::u16string_view Finish);

// The Dublin Core / Tika key for a field of the metadata record ("Title" ->
// "dc:title"); fields without a common key get "lkword:" and their name.
std::string TikaMetadataKey(std::string_view RecordName);

// What one JSON line says about an input.
struct TJsonRecord {
  std::string Path;
  const char* Reader = nullptr;  // null when none was chosen
  TMSTextFormating Format = tfPlainText;
  TMSWBaseDocument* Doc = nullptr;  // null when nothing was created
  bool Loaded = false;              // text, notes and macros only then
  bool WithNotes = false;
  bool WithMacros = false;
  bool TikaKeys = false;
  const char* MimeType = nullptr;   // "Content-Type" with Tika keys
  const std::string* Error = nullptr;
  const char* ErrorKind = nullptr;
  bool Partial = false;
};

// One JSON object and a LF: path, reader, format, text, metadata, notes (with
// WithNotes), macros (with WithMacros), pages, warnings, error, error_kind,
// partial, page_texts (one string a page read for a document set up to keep
// them, else null).
void WriteJsonRecord(TOutputFile& Out, const TJsonRecord& Record);

// The document's warnings as lines, a repeated one with its count.
std::vector<std::string> WarningLines(const TMSWBaseDocument& Doc);

}  // namespace lkw
