// Loads arbitrary bytes with the three OpenDocument readers. Input that is a
// zip archive is read as the package, and input that starts as a flat
// document (<office:document ...>) as it is; anything else is packed as both
// "content.xml" and "meta.xml" of a stored package, so that mutations reach
// the XML instead of breaking checksums. Each reader loads both into its
// text list and through the text sink.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/sink_load.h"
#include "testing/ZipBuilder.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWOO.h"

namespace {

std::string StoredPackage(std::string_view Xml) {
  const std::pair<std::string_view, std::string_view> members[] = {
      {"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", Xml}, {"meta.xml", Xml}};
  return lkw::testing::MakeZip(members);
}

// Loads into the text list and through the text sink.
template <typename T>
void Run(const std::string& Bytes, lkw::TMSTextFormating Format, bool Limit) {
  lkw::fuzzing::LoadIntoListAndSink<T>(
      [&](T& Doc) {
        Doc.SetTextFormating(Format);
        // Members and repeated cells bounded well below the fuzzer's limits,
        // and low enough that a mutant repeating cells a million times takes
        // milliseconds, not seconds: more of the code per CPU hour.
        Doc.SetMaxDecompressedSize(int64_t{512} << 10);
        if (Limit) Doc.SetMaxTextLength(static_cast<int32_t>(Bytes.size() % 700 + 1));
        // Half the inputs take the path of large content parts: checked, then
        // inflated and parsed a piece at a time.
        if (Bytes.size() % 2) Doc.SetStreamContentFrom(0);
        // The password of the encrypted seeds, whose keys take few rounds;
        // mutants asking for many are refused rather than left to run.
        Doc.SetPassword("fuzz");
        Doc.SetMaxKeyIterations(1000);
      },
      [&](T& Doc) {
        lkw::TBytesStream stream(Bytes);
        Doc.LoadFromStream(stream);
      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view input(reinterpret_cast<const char*>(Data), Size);
  const bool asIs = input.starts_with("PK") || input.starts_with("<office:document ");
  const std::string bytes = asIs ? std::string(input) : StoredPackage(input);
  const lkw::TMSTextFormating formats[] = {lkw::tfPlainText, lkw::tfRTF, lkw::tfHTML};
  Run<lkw::TOpenOfficeTextDocument>(bytes, formats[Size % 3], Size % 7 == 0);
  Run<lkw::TOpenOfficeSpreadsheet>(bytes, formats[(Size + 1) % 3], false);
  Run<lkw::TOpenOfficePresentation>(bytes, formats[(Size + 2) % 3], false);
  lkw::TBytesStream stream(bytes);
  lkw::DetectOpenDocument(stream);
  return 0;
}
