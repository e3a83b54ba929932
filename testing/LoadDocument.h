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
