// Loads arbitrary bytes as a Word 2007 document.
//
// The first byte chooses: bits 0-1 the output format, bit 2 hidden text,
// bit 3 small pieces (bits 4-5 pick 1, 3, 16 or 4096 bytes), so that markup
// is cut between pieces everywhere. When the top bit is clear, the rest goes
// to LoadFromStream as it is (a package, a compound file, anything). When it
// is set, the rest is split at "@@@@" into XML parts that are put into a
// well-formed package first (deflated when bit 6 is set), so that mutations
// reach the XML rendering instead of failing the members' CRC checks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lkword/containers/LKWZipFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWordX.h"

#include <zlib.h>

namespace {

constexpr const char* kPartNames[] = {
    "word/document.xml",  "word/footnotes.xml",           "word/header1.xml", "docProps/core.xml",
    "_rels/.rels",        "word/_rels/document.xml.rels", "word/settings.xml", "docProps/app.xml",
    "word/endnotes.xml",  "word/comments.xml",            "word/footer2.xml",
};

void Put(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Deflated(std::string_view Data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&zs, static_cast<uLong>(Data.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  zs.avail_in = static_cast<uInt>(Data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string Package(std::string_view Data, bool Deflate) {
  std::string out, dir;
  uint32_t count = 0;
  for (const char* name : kPartNames) {
    if (Data.empty() && count > 0) break;
    size_t cut = Data.find("@@@@");
    std::string_view part = Data.substr(0, cut);
    Data = cut == std::string_view::npos ? std::string_view() : Data.substr(cut + 4);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = lkw::ZipCRC32(part);
    const std::string stored = Deflate ? Deflated(part) : std::string(part);
    const std::string_view n(name);
    auto common = [&](std::string& s) {
      Put(s, 20, 2);
      Put(s, 0, 2);
      Put(s, Deflate ? 8 : 0, 2);
      Put(s, 0, 4);
      Put(s, crc, 4);
      Put(s, static_cast<uint32_t>(stored.size()), 4);
      Put(s, static_cast<uint32_t>(part.size()), 4);
      Put(s, static_cast<uint32_t>(n.size()), 2);
      Put(s, 0, 2);
    };
    Put(out, lkw::ZipLocalFileHeaderSignature, 4);
    common(out);
    out.append(n).append(stored);
    Put(dir, lkw::ZipCentralFileHeaderSignature, 4);
    Put(dir, 20, 2);
    common(dir);
    Put(dir, 0, 8);
    Put(dir, 0, 4);
    Put(dir, offset, 4);
    dir.append(n);
    ++count;
  }
  const uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  Put(out, lkw::ZipEndOfCentralDirSignature, 4);
  Put(out, 0, 4);
  Put(out, count, 2);
  Put(out, count, 2);
  Put(out, static_cast<uint32_t>(dir.size()), 4);
  Put(out, dirOffset, 4);
  Put(out, 0, 2);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const uint8_t mode = Data[0];
  std::string_view rest(reinterpret_cast<const char*>(Data + 1), Size - 1);
  std::string bytes = (mode & 0x80) ? Package(rest, (mode & 0x40) != 0) : std::string(rest);

  lkw::TMSWordXDocument doc;
  doc.SetTextFormating(static_cast<lkw::TMSTextFormating>((mode & 0x03) % 3));
  if (mode & 0x04) doc.SetParseItems({lkw::wpiText, lkw::wpiSummaryInformation, lkw::wpiHiddenText});
  constexpr int32_t kPieces[] = {1, 3, 16, 4096};
  if (mode & 0x08) doc.SetPartPieceSize(kPieces[(mode >> 4) & 3]);
  // Keep members small enough for the fuzzer's memory limit.
  doc.SetMaxDecompressedSize(int64_t{64} << 20);
  doc.SetMaxStreamSize(int64_t{64} << 20);
  lkw::TBytesStream stream(std::move(bytes));
  try {
    doc.LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }
  return 0;
}
