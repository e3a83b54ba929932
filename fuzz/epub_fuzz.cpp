// Loads arbitrary bytes as an EPUB book. Input that does not start with "PK"
// is read as members (name, NUL, content, NUL, ...) and zipped here first,
// so that the fuzzer reaches the XML without having to forge an archive.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lkword/containers/PackagePath.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWEPub.h"
#include "testing/ZipBuilder.h"

namespace {

std::string Zip(const std::vector<std::pair<std::string_view, std::string_view>>& Members) {
  return lkw::testing::MakeZip(Members);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view input(reinterpret_cast<const char*>(Data), Size);
  std::string archive;
  if (!input.starts_with("PK")) {
    std::vector<std::pair<std::string_view, std::string_view>> members;
    size_t p = 0;
    while (p < input.size() && members.size() < 64) {
      size_t nameEnd = input.find('\0', p);
      if (nameEnd == std::string_view::npos) break;
      size_t dataEnd = input.find('\0', nameEnd + 1);
      if (dataEnd == std::string_view::npos) dataEnd = input.size();
      members.emplace_back(input.substr(p, nameEnd - p), input.substr(nameEnd + 1, dataEnd - nameEnd - 1));
      p = dataEnd + 1;
    }
    archive = Zip(members);
  }
  const std::string_view bytes = archive.empty() ? input : std::string_view(archive);

  lkw::TCustomMemoryStream probe(bytes.data(), bytes.size());
  lkw::TLKWEPub::IsEPub(probe);

  const uint8_t mode = Size > 0 ? Data[Size - 1] : 0;
  lkw::TCustomMemoryStream stream(bytes.data(), bytes.size());
  lkw::TLKWEPub doc;
  doc.SetTextFormating(static_cast<lkw::TMSTextFormating>(mode % 3));
  if (mode & 4) doc.SetMaxTextLength(static_cast<int32_t>(Size % 300 + 1));
  if (mode & 8) doc.SetParseItems({lkw::wpiSummaryInformation});
  // Keeps a decompression bomb from turning a run into a memory test.
  doc.SetMaxDecompressedSize(int64_t{64} << 20);
  try {
    doc.LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }
  const std::string_view folder = input.substr(0, 16), reference = input.substr(std::min<size_t>(Size, 16), 64);
  lkw::ResolvePackageReference(folder, reference, lkw::TPercentEscapes::Decode);
  lkw::ResolvePackageReference(folder, reference, lkw::TPercentEscapes::Keep);
  return 0;
}
