// Test-only: loads a reader from bytes or from a file of the test data and
// gives its text as UTF-8 lines, the form reader tests compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace lkw::testing {

using TLines = std::vector<std::string>;

inline TLines TextLines(const TWideStrings& List) {
  TLines out;
  for (const WideString& item : List.Items()) out.push_back(WideToUtf8(item));
  return out;
}

// Loads Bytes into Doc, set up by the caller, through a stream; what the
// load raises goes on to the caller.
inline TLines LoadLines(TMSWBaseDocument& Doc, std::string Bytes) {
  TBytesStream stream(std::move(Bytes));
  Doc.LoadFromStream(stream);
  return TextLines(Doc.Text());
}

// The same for a new reader of type TDoc writing Format.
template <typename TDoc>
TLines LoadLines(std::string Bytes, TMSTextFormating Format = tfPlainText) {
  TDoc doc;
  doc.SetTextFormating(Format);
  return LoadLines(doc, std::move(Bytes));
}

// What a load gave: the text, and the message of the library error that
// ended it (empty when none did).
struct TLoadResult {
  TLines Lines;
  std::string Error;
};

inline TLoadResult TryLoadLines(TMSWBaseDocument& Doc, std::string Bytes) {
  TLoadResult r;
  try {
    LoadLines(Doc, std::move(Bytes));
  } catch (const Exception& e) {
    r.Error = e.Message();
  }
  r.Lines = TextLines(Doc.Text());
  return r;
}

// The kind of a library error, as the tests name it: password, unsupported
// (encryption or format), corrupt, read, other.
inline std::string ErrorKindOf(const Exception& E) {
  if (dynamic_cast<const EPasswordError*>(&E)) return "password";
  if (dynamic_cast<const EUnsupportedError*>(&E) || dynamic_cast<const EEncryptionNotSupportedError*>(&E))
    return "unsupported";
  if (dynamic_cast<const ECorruptError*>(&E)) return "corrupt";
  if (dynamic_cast<const EReadError*>(&E)) return "read";
  return "other";
}

// What a load produced: the text items joined (UTF-8), the message and kind
// of the error that ended it (empty: none), the warnings.
struct TLoaded {
  std::string Text;
  std::string Error;
  std::string Kind;
  std::vector<std::string> Warnings;
};

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

#ifdef LKWORD_TESTDATA
// A file of the repository's testdata folder, by its path inside it.
inline std::string TestDataPath(const std::string& Path) { return std::string(LKWORD_TESTDATA) + "/" + Path; }
inline std::string TestDataBytes(const std::string& Path) { return ReadFileBytes(TestDataPath(Path)); }
#endif

// A file in the test framework's temporary folder, holding Bytes until the
// object goes.
class TTempFile {
 public:
  TTempFile(const std::string& Name, const std::string& Bytes) : FPath(::testing::TempDir() + "lkword-" + Name) {
    if (std::FILE* f = std::fopen(FPath.c_str(), "wb")) {
      std::fwrite(Bytes.data(), 1, Bytes.size(), f);
      std::fclose(f);
    }
  }
  ~TTempFile() { std::remove(FPath.c_str()); }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace lkw::testing
