// What a host asks of a loaded document beyond its text, and how it names
// what went wrong. The readers themselves are in LKWReaders.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

struct TNamedText {
  const char* Name;  // the key of the JSON "notes" object
  const TWideStrings* Text;
};

// The secondary texts a document holds beside its body: footnotes, endnotes,
// headers, footers, comments, in that order; empty for readers without any.
std::vector<TNamedText> SecondaryTexts(TMSWBaseDocument& Doc);
// Text that is part of the page but kept apart from the body by the reader
// (the text boxes of Word 97-2003 documents), or nullptr.
const TWideStrings* PageTextApart(TMSWBaseDocument& Doc);
// The VBA macro listing, or nullptr for readers that have none.
const TWideStrings* MacroText(TMSWBaseDocument& Doc);
// Pages of a paged format (PDF), or -1.
int32_t PageCountOf(TMSWBaseDocument& Doc);

// Why an input failed, for scripts: the JSON "error_kind" and the exit code.
enum class TErrorKind { None, NotFound, Unsupported, Password, Corrupt, IO, Limit, Timeout };
const char* ErrorKindName(TErrorKind Kind);

// The kind of the exception being handled, by its type; call it only inside
// a catch block.
TErrorKind CurrentErrorKind();

}  // namespace lkw
