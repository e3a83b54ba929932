// Arbitrary bytes down the tool's path: the registry's content tests pick a
// component (every test runs on inputs close to several formats), which then
// loads the bytes.
#include <cstddef>
#include <cstdint>

#include "lkword/registry/LKWReaders.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lkw::TCustomMemoryStream stream(Data, Size);
  try {
    auto doc = lkw::CreateReaderFor(stream);
    if (!doc) return 0;
    // Small limits keep each run short whichever reader was chosen.
    doc->SetMaxTextLength(4096);
    doc->SetMaxDecompressedSize(int64_t{8} << 20);
    doc->LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }
  return 0;
}
