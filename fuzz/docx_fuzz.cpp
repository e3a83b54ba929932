// Loads arbitrary bytes as a Word 2007 document, into its text list and
// through the text sink.
//
// The first byte chooses: bits 0-1 the output format, bit 2 hidden text,
// bit 3 small pieces (bits 4-5 pick 1, 3, 16 or 4096 bytes), so that markup
// is cut between pieces everywhere. When the top bit is clear, the rest goes
// to LoadFromStream as it is (a package, a compound file, anything), with the
// encrypted samples' password when bit 6 is set. When it is set, the rest is
// split at "@@@@" into XML parts that are put into a well-formed package
// first (deflated when bit 6 is set), so that mutations reach the XML
// rendering instead of failing the members' CRC checks.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/sink_load.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWordX.h"
#include "testing/ZipBuilder.h"

namespace {

constexpr const char* kPartNames[] = {
    "word/document.xml",  "word/footnotes.xml",           "word/header1.xml", "docProps/core.xml",
    "_rels/.rels",        "word/_rels/document.xml.rels", "word/settings.xml", "docProps/app.xml",
    "word/endnotes.xml",  "word/comments.xml",            "word/footer2.xml",
    // What the body's relationships may name: imported content, diagram data.
    "word/chunk.htm",     "word/diagrams/data1.xml",      "word/sub.docx",
};

std::string Package(std::string_view Data, bool Deflate) {
  std::vector<std::pair<std::string_view, std::string_view>> parts;
  for (const char* name : kPartNames) {
    if (Data.empty() && !parts.empty()) break;
    size_t cut = Data.find("@@@@");
    parts.emplace_back(name, Data.substr(0, cut));
    Data = cut == std::string_view::npos ? std::string_view() : Data.substr(cut + 4);
  }
  return lkw::testing::MakeZip(parts, Deflate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const uint8_t mode = Data[0];
  std::string_view rest(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const std::string bytes = (mode & 0x80) ? Package(rest, (mode & 0x40) != 0) : std::string(rest);

  lkw::fuzzing::LoadIntoListAndSink<lkw::TMSWordXDocument>(
      [&](lkw::TMSWordXDocument& Doc) {
        Doc.SetTextFormating(static_cast<lkw::TMSTextFormating>((mode & 0x03) % 3));
        if (mode & 0x04) Doc.SetParseItems({lkw::wpiText, lkw::wpiSummaryInformation, lkw::wpiHiddenText});
        constexpr int32_t kPieces[] = {1, 3, 16, 4096};
        if (mode & 0x08) Doc.SetPartPieceSize(kPieces[(mode >> 4) & 3]);
        if ((mode & 0xC0) == 0x40) Doc.SetPassword("\xC3\x86r\xC3\xB8 lamp");
        // The main text held to its part's end, as the list keeps it: text
        // passed on early stays as first decoded, where the list's reading
        // may change when the part turns out not to be UTF-8.
        Doc.SetHeldTextLength(std::numeric_limits<int64_t>::max());
        // Keep members small enough for the fuzzer's memory limit.
        Doc.SetMaxDecompressedSize(int64_t{64} << 20);
        Doc.SetMaxStreamSize(int64_t{64} << 20);
      },
      [&](lkw::TMSWordXDocument& Doc) {
        lkw::TBytesStream stream(bytes);
        Doc.LoadFromStream(stream);
      });
  return 0;
}
