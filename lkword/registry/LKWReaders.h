// The reader components the library offers, as a table a host can walk:
// each with its name, file extensions, content test and factory. A host that
// does not know a document's format asks CreateReaderFor for the component
// that reads it.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"

namespace lkw {

struct TLKWReaderInfo {
  // Short name: "doc", "pdf", ...; also the tool's --reader value.
  const char* Name;
  // The component's class name: "TMSWordDocument", ...
  const char* ComponentName;
  // One line for a user: what the component reads.
  const char* Description;
  // The IANA (or customary) media type of the format.
  const char* MimeType;
  // File name extensions, lower case, without the dot; the first is the
  // usual one. Only for file dialogs and listings: detection goes by content.
  std::span<const char* const> Extensions;
  // True when the document looks like this component's format. Called with
  // the stream at position 0; it may leave the position anywhere.
  bool (*IsFormat)(TStream& Stream);
  // A new component with its default settings.
  std::unique_ptr<TMSWBaseDocument> (*Create)();
};

// Every reader component, most specific content test first: the first one
// whose test accepts a document is the one to read it.
std::span<const TLKWReaderInfo> RegisteredReaders();

// The entry by Name or ComponentName (case-insensitive), or nullptr.
const TLKWReaderInfo* FindReaderInfo(std::string_view Name);

// The entry whose content test accepts Stream, or nullptr; Stream is back at
// position 0 afterwards. Errors while testing count as "not this format".
const TLKWReaderInfo* DetectReaderInfo(TStream& Stream);
// The same, and then, for a file named FileName that no content test
// accepts, the reader its extension names when that reader's weaker test
// finds the format's structure (a PDF whose header is lost).
const TLKWReaderInfo* DetectReaderInfo(TStream& Stream, std::string_view FileName);

// Why no reader recognised Stream, as the error to raise: ECorruptError for
// an empty file and for a zip package or compound file too damaged for any
// reader's test to look inside (a truncated .docx or .doc), EUnsupportedError
// (Unsupported as its message) for anything else. Stream is back at 0.
[[noreturn]] void RaiseUnrecognised(TStream& Stream, const std::string& Unsupported);

// The entry that lists FileName's extension, or nullptr. A guess for
// dialogs; CreateReaderFor does not use it.
const TLKWReaderInfo* ReaderInfoForExtension(std::string_view FileName);

// A new component that reads Stream's format, or nullptr when no component
// recognises the content. Stream is back at position 0; pass it on to the
// component's LoadFromStream.
std::unique_ptr<TMSWBaseDocument> CreateReaderFor(TStream& Stream, const TLKWReaderInfo** Info = nullptr);

// The same for a file; raises the components' "File NAME is not found."
// error when it does not exist, and EFOpenError when it cannot be opened.
std::unique_ptr<TMSWBaseDocument> CreateReaderFor(const std::string& FileName, const TLKWReaderInfo** Info = nullptr);

// A file-dialog filter of every component's extensions:
// "All documents|*.pdb;*.prc;...|PalmDoc ... (*.pdb;*.prc)|*.pdb;*.prc|...".
std::string DocumentFilter();

}  // namespace lkw
