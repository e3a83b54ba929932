// Where the tool's output goes and how a loaded document is written there.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/MSW_Sum.h"

namespace lkw::tool {

// Buffered output to standard output or to a created file. Writers ask for
// room with Reserve, encode straight into it and hand back the end with
// Commit; the buffer goes out in large writes.
class TOutputFile {
 public:
  // Empty Path: standard output. Raises Exception when the file cannot be
  // created.
  explicit TOutputFile(const std::string& Path);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Room for N more bytes (flushing or growing the buffer as needed).
  char* Reserve(size_t N);
  // End is the end of what was written into the reserved room.
  void Commit(char* End) { FSize = static_cast<size_t>(End - FData.get()); }
  void Append(std::string_view S);
  // Writes everything buffered; raises Exception on a write error.
  void Flush();
  // The name used in messages: the path, or "standard output".
  const std::string& Name() const { return FName; }

 private:
  static constexpr size_t kBufferSize = 256 * 1024;
  int FHandle = 1;
  bool FOwned = false;
  std::string FName;
  std::unique_ptr<char[]> FData;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

// One item of a document's text: plain text ends it with LF (line ends
// inside made LF), markup with CR LF as TWideStrings joins items; Json
// escapes it for a JSON string.
void WriteItem(TOutputFile& Out, std::u16string_view Item, TMSTextFormating Format, bool Json = false);

// The document's Text in the chosen format, UTF-8. Plain text: every item
// followed by LF, with CR LF and lone CR turned into LF. RTF and HTML: the
// items each followed by CR LF, as the library joins them.
void WriteText(TOutputFile& Out, const TWideStrings& Text, TMSTextFormating Format);

// One "Key: value" line per non-empty field of the record; line breaks inside
// a value become spaces so that every field stays on one line.
void WriteMetadataLines(TOutputFile& Out, const TLKWordSummaryInformation& Summary);

// One JSON object and a LF: path, reader (null when none was chosen), text,
// metadata, macros (only when Macros is given), error (null on success). Doc
// may be null (nothing was loaded).
void WriteJsonRecord(TOutputFile& Out, const std::string& Path, const char* ReaderName, TMSWBaseDocument* Doc,
                     TMSTextFormating Format, const std::string* Error, const TWideStrings* Macros = nullptr);

}  // namespace lkw::tool
