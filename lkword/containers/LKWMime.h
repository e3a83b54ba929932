// MIME messages as web archives (.mht) and mail keep them: the leaf parts
// of a message, with their bodies decoded. A damaged message gives the
// parts that could be told apart; nothing here raises.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

struct TMimePart {
  std::string ContentType;  // "text/html", lower-cased; "text/plain" when none is given
  std::string Charset;      // the charset parameter, lower-cased; empty when none
  std::string Location;     // Content-Location, as written
  RawByteString Body;       // with its transfer encoding undone
};

// The leaf parts of Message in order (multiparts entered, nested ones too);
// a message of one part gives that part. At most MaxParts parts.
std::vector<TMimePart> MimeParts(std::string_view Message, size_t MaxParts = 1000);

// Quoted-printable text decoded: "=XX" escapes and soft line breaks; a
// malformed escape stays as it is.
RawByteString QuotedPrintableDecode(std::string_view Text);

}  // namespace lkw
