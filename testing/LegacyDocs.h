// Test-only: what the tests of the small legacy readers (WordPerfect, Write)
// share: little-endian writers to build files with, a load that records
// what came out, and the part of an RTF or HTML output a document wrote.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace lkw::testing {

inline void PutLE16(std::string& S, size_t At, uint32_t V) {
  S[At] = static_cast<char>(V & 0xFF);
  S[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}
inline void PutLE32(std::string& S, size_t At, uint32_t V) {
  PutLE16(S, At, V & 0xFFFF);
  PutLE16(S, At + 2, V >> 16);
}
inline std::string LE16Bytes(uint32_t V) {
  std::string s(2, '\0');
  PutLE16(s, 0, V);
  return s;
}

// What a load produced: the text items joined (UTF-8), the message and kind
// of the error that ended it, the warnings.
struct TLoaded {
  std::string Text;
  std::string Error;
  std::string Kind;  // password, unsupported, corrupt, read, other; empty: none
  std::vector<std::string> Warnings;
};

inline std::string ErrorKindOf(const Exception& E) {
  if (dynamic_cast<const EPasswordError*>(&E)) return "password";
  if (dynamic_cast<const EUnsupportedError*>(&E)) return "unsupported";
  if (dynamic_cast<const ECorruptError*>(&E)) return "corrupt";
  if (dynamic_cast<const EReadError*>(&E)) return "read";
  return "other";
}

// Loads Bytes through Doc's LoadFromStream; Doc is set up by the caller.
inline TLoaded LoadBytes(TMSWBaseDocument& Doc, const std::string& Bytes) {
  TBytesStream stream(Bytes);
  TLoaded r;
  try {
    Doc.LoadFromStream(stream);
  } catch (const Exception& e) {
    r.Error = e.what();
    r.Kind = ErrorKindOf(e);
  }
  for (const auto& item : Doc.Text().Items()) r.Text += WideToUtf8(item);
  for (const auto& w : Doc.Warnings()) r.Warnings.push_back(w.Message);
  return r;
}

// Output without the frame its format puts around every document: the RTF
// header (which holds the clock) and closing brace, the HTML head and
// closing tags.
inline std::string WithoutFrame(std::string Output, TMSTextFormating Format) {
  if (Format == tfPlainText) return Output;
  const std::string open = Format == tfRTF ? "}}\r\n" : "<body bgcolor=\"#FFFFFF\">\r\n";
  const std::string close = Format == tfRTF ? "\r\n}" : "\r\n</body>\r\n</html>";
  const size_t at = Output.find(open);
  if (at != std::string::npos) Output.erase(0, at + open.size());
  if (Output.size() >= close.size() && Output.compare(Output.size() - close.size(), close.size(), close) == 0)
    Output.resize(Output.size() - close.size());
  return Output;
}

// A file of the test data folder; empty when it cannot be read.
inline std::string ReadTestData(const std::string& Name) {
  std::ifstream in(std::string(LKWORD_TESTDATA) + "/" + Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace lkw::testing
