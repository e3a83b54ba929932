// The readers the tool knows: a table of name, content test and factory.
// A new reader is one more row in Readers.cpp.
#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"

namespace lkw::tool {

struct TReaderInfo {
  // The --reader value and the "reader" field of --json.
  const char* Name;
  // One line for --help.
  const char* Description;
  // True when the document looks like this reader's format. Called with the
  // stream at position 0; it may leave the position anywhere.
  bool (*Detect)(TStream& Stream);
  std::unique_ptr<TMSWBaseDocument> (*Create)();
};

std::span<const TReaderInfo> Readers();
// nullptr when no reader has that name.
const TReaderInfo* FindReader(std::string_view Name);
// The secondary texts a document holds beside its body (footnotes,
// endnotes, headers, footers), in that order; empty for readers without any.
std::vector<const TWideStrings*> SecondaryTexts(TMSWBaseDocument& Doc);
// The first reader whose content test accepts Stream, or nullptr; Stream is
// back at position 0 afterwards.
const TReaderInfo* DetectReader(TStream& Stream);

}  // namespace lkw::tool
