// Test-only: a document loaded from bytes in memory, and its text as UTF-8
// lines, for the readers' tests.
#pragma once

#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"

namespace lkw::testing {

// The items of a text list, as UTF-8.
inline std::vector<std::string> Utf8Lines(const TWideStrings& L) {
  std::vector<std::string> out;
  for (const WideString& s : L.Items()) out.push_back(WideToUtf8(s));
  return out;
}

// Loads Bytes into Doc from a stream; Doc's text lines.
inline std::vector<std::string> LoadLines(TMSWBaseDocument& Doc, const std::string& Bytes) {
  TBytesStream s(Bytes);
  Doc.LoadFromStream(s);
  return Utf8Lines(Doc.Text());
}

// The same for a new document of type TDoc writing Format.
template <typename TDoc>
std::vector<std::string> LoadLines(const std::string& Bytes, TMSTextFormating Format = tfPlainText) {
  TDoc doc;
  doc.SetTextFormating(Format);
  return LoadLines(doc, Bytes);
}

}  // namespace lkw::testing
