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

#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWEPub.h"

namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A zip archive of stored members.
std::string Zip(const std::vector<std::pair<std::string_view, std::string_view>>& Members) {
  std::string out, central;
  for (const auto& [name, data] : Members) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = lkw::ZipCRC32(data), size = static_cast<uint32_t>(data.size());
    const uint32_t nameLength = static_cast<uint32_t>(name.size() & 0xFFFF);
    out += "PK\x03\x04";
    Put16(out, 10), Put16(out, 0), Put16(out, 0), Put32(out, 0), Put32(out, crc), Put32(out, size), Put32(out, size);
    Put16(out, nameLength), Put16(out, 0);
    out.append(name.substr(0, nameLength)).append(data);
    central += "PK\x01\x02";
    Put16(central, 20), Put16(central, 10), Put16(central, 0), Put16(central, 0), Put32(central, 0);
    Put32(central, crc), Put32(central, size), Put32(central, size), Put16(central, nameLength);
    for (int i = 0; i < 4; ++i) Put16(central, 0);
    Put32(central, 0), Put32(central, offset);
    central.append(name.substr(0, nameLength));
  }
  const uint32_t cd = static_cast<uint32_t>(out.size());
  const uint32_t count = static_cast<uint32_t>(Members.size() & 0xFFFF);
  out += central;
  out += "PK\x05\x06";
  Put16(out, 0), Put16(out, 0), Put16(out, count), Put16(out, count);
  Put32(out, static_cast<uint32_t>(central.size())), Put32(out, cd), Put16(out, 0);
  return out;
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
  lkw::ResolveEPubHref(input.substr(0, 16), input.substr(std::min<size_t>(Size, 16), 64));
  return 0;
}
