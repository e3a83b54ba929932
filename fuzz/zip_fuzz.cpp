// Loads arbitrary bytes as a zip archive and extracts every member.
#include <cstddef>
#include <cstdint>

#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lkw::TCustomMemoryStream stream(Data, Size);
  lkw::TZipArchive zip;
  // Keep single members small enough for the fuzzer's memory limit.
  zip.SetMaxMemberSize(int64_t{64} << 20);
  zip.LoadFromStream(stream);
  for (int i = 0; i < zip.Count(); ++i) {
    try {
      lkw::RawByteString bytes = zip.GetUncompressed(i);
      zip.GetIndexByFileName(zip.Files()[i].FileName());
    } catch (const lkw::Exception&) {
    }
  }
  return 0;
}
