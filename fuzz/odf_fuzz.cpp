// Loads arbitrary bytes with the three OpenDocument readers. Input that is a
// zip archive is read as the package; anything else is packed as both
// "content.xml" and "meta.xml" of a stored package, so that mutations reach
// the XML instead of breaking checksums.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWOO.h"

namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

std::string StoredPackage(std::string_view Xml) {
  const std::string_view members[][2] = {
      {"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", Xml}, {"meta.xml", Xml}};
  std::string out, dir;
  for (const auto& m : members) {
    std::string common;
    Put16(common, 20);
    Put16(common, 0);
    Put16(common, 0);
    Put32(common, 0);
    Put32(common, lkw::ZipCRC32(m[1]));
    Put32(common, static_cast<uint32_t>(m[1].size()));
    Put32(common, static_cast<uint32_t>(m[1].size()));
    Put16(common, static_cast<uint32_t>(m[0].size()));
    Put16(common, 0);
    Put32(dir, lkw::ZipCentralFileHeaderSignature);
    Put16(dir, 20);
    dir += common;
    Put32(dir, 0);
    Put16(dir, 0);
    Put32(dir, 0);
    Put32(dir, static_cast<uint32_t>(out.size()));
    dir += m[0];
    Put32(out, lkw::ZipLocalFileHeaderSignature);
    out += common;
    out += m[0];
    out += m[1];
  }
  const uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  Put32(out, lkw::ZipEndOfCentralDirSignature);
  Put32(out, 0);
  Put16(out, 3);
  Put16(out, 3);
  Put32(out, static_cast<uint32_t>(dir.size()));
  Put32(out, dirOffset);
  Put16(out, 0);
  return out;
}

template <typename T>
void Run(const std::string& Bytes, lkw::TMSTextFormating Format, bool Limit) {
  lkw::TBytesStream stream(Bytes);
  T doc;
  doc.SetTextFormating(Format);
  // Members and repeated cells bounded well below the fuzzer's limits.
  doc.SetMaxDecompressedSize(int64_t{4} << 20);
  if (Limit) doc.SetMaxTextLength(static_cast<int32_t>(Bytes.size() % 700 + 1));
  try {
    doc.LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view input(reinterpret_cast<const char*>(Data), Size);
  const std::string bytes = Size >= 2 && std::memcmp(Data, "PK", 2) == 0 ? std::string(input) : StoredPackage(input);
  const lkw::TMSTextFormating formats[] = {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML};
  Run<lkw::TOpenOfficeTextDocument>(bytes, formats[Size % 3], Size % 7 == 0);
  Run<lkw::TOpenOfficeSpreadsheet>(bytes, formats[(Size + 1) % 3], false);
  Run<lkw::TOpenOfficePresentation>(bytes, formats[(Size + 2) % 3], false);
  lkw::TBytesStream stream(bytes);
  lkw::DetectOpenDocument(stream);
  return 0;
}
