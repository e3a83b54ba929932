// What a host asks of a loaded document beyond its text, and how it names
// what went wrong. The readers themselves are in LKWReaders.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/registry/LKWReaders.h"

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
// The text of each page read, for a paged format set up to keep it (see
// TReaderSetup::PageTexts), or nullptr.
const std::vector<WideString>* PageTextsOf(TMSWBaseDocument& Doc);

// How a host that writes UTF-8 has its readers set up: the tool and the C
// API alike.
struct TReaderSetup {
  TMSTextFormating Format = tfPlainText;
  int32_t MaxTextLength = 0;
  bool HiddenText = false;
  bool Revisions = false;  // tracked changes marked in plain text
  bool Macros = false;
  bool Notes = false;      // the secondary texts are wanted
  int64_t TimeLimitMs = 0;
  uint32_t CodePage = 0;   // of undeclared 8-bit text; 0: the library's default
  // Paged formats: the pages read (see SetPageRange), what plain text puts
  // between them, and whether each page's text is kept apart too.
  int32_t FirstPage = 0;
  int32_t LastPage = 0;
  TLKWPageBreak PageBreak = pbRule;
  bool PageTexts = false;
  // Negative: the reader's default.
  int64_t MaxDecompressedSize = -1;
  int64_t MaxStreamSize = -1;
  int64_t MaxNestingDepth = -1;
  int64_t MaxXMLNodes = -1;
};

// A new component of Reader set up so, with Password to open it by (empty:
// none).
std::unique_ptr<TMSWBaseDocument> CreateReader(const TLKWReaderInfo& Reader, const TReaderSetup& Setup,
                                               const std::string& Password);

// Loads a document with each password in turn, no password first: a PDF
// whose user password is empty opens without one whatever was given, and
// the other readers refuse a wrong one before any text goes out, so the
// next is tried on a fresh component that Make gives. The error of the last
// try is raised.
std::unique_ptr<TMSWBaseDocument> LoadTryingPasswords(
    const std::vector<std::string>& Passwords,
    const std::function<std::unique_ptr<TMSWBaseDocument>(const std::string& Password)>& Make,
    const std::function<void(TMSWBaseDocument& Doc)>& Load);

// Why an input failed, for scripts: the JSON "error_kind" and the exit code.
enum class TErrorKind { None, NotFound, Unsupported, Password, Corrupt, IO, Limit, Timeout };
const char* ErrorKindName(TErrorKind Kind);

// The kind of the exception being handled, by its type; call it only inside
// a catch block.
TErrorKind CurrentErrorKind();

}  // namespace lkw
