// The VBA pieces of a Word document's "Macros" storage: the input is cut at
// each "VBA|" into a "_VBA_PROJECT" stream, a compressed "dir" stream and
// module streams. Each goes through its parser and the decompressor on its
// own, and then all of them together, as a storage, through the component's
// LoadVBA, DecompressMacros and ListMacros.
//
// The seeds in fuzz/corpus/vba/ were written with the builders of
// testing/VBABuilder.h: both tables naming two modules, only
// "dir" naming one at a wrong offset (several chunks, one raw), and a
// module stream with zero padding after its container.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/CompoundFile.h"
#include "testing/CompoundFileBuilder.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWordVBA.h"

namespace {

std::vector<std::string_view> Split(std::string_view Data) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = Data.find("VBA|");
    if (at == std::string_view::npos || parts.size() == 4) break;
    parts.push_back(Data.substr(0, at));
    Data.remove_prefix(at + 4);
  }
  parts.push_back(Data);
  return parts;
}

// A module stream's name: the dir's name when it is a plain short ASCII one
// the container builder can write, else a fixed one.
std::string StreamName(const lkw::TVBADirInfo& Dir, size_t Index) {
  if (Index < Dir.Modules.size()) {
    const lkw::WideString& n = Dir.Modules[Index].StreamName;
    bool plain = !n.empty() && n.size() < 32;
    for (char16_t c : n) plain = plain && c > 0x20 && c < 0x7F && c != u'/';
    if (plain) return lkw::WideToUtf8(n);
  }
  return "Module" + std::to_string(Index + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view input(reinterpret_cast<const char*>(Data), Size);
  const std::vector<std::string_view> parts = Split(input);
  const std::string_view project = parts[0];
  const std::string_view dir = parts.size() > 1 ? parts[1] : std::string_view();

  lkw::TVBAProjectItems items;
  lkw::ParseVBAProjectStream(project, items);
  const lkw::TVBADirInfo info = lkw::ParseVBADirStream(lkw::DecompressVBAContainer(dir));
  lkw::ParseVBADirStream(dir);
  for (size_t i = 2; i < parts.size(); ++i) {
    uint32_t offset = 0;
    if (i - 2 < info.Modules.size()) offset = info.Modules[i - 2].Offset;
    bool malformed = false;
    lkw::ReadVBAModuleSource(parts[i], offset, &malformed);
  }
  if (parts.size() < 2) return 0;

  lkw::testing::TCfbBuilder b;
  b.AddStream("Macros/PROJECT", std::string(project.substr(0, 64)));
  b.AddStream("Macros/VBA/_VBA_PROJECT", std::string(project));
  b.AddStream("Macros/VBA/dir", std::string(dir));
  for (size_t i = 2; i < parts.size(); ++i) b.AddStream("Macros/VBA/" + StreamName(info, i - 2), std::string(parts[i]));
  std::unique_ptr<lkw::TOleStorage> macros;
  try {
    std::unique_ptr<lkw::TOleStorage> root = lkw::StgOpenStorageOnMemory(b.Build());
    macros = root->OpenStorage(u"Macros");
  } catch (const lkw::EOleError&) {
    // Names the builder cannot store side by side (equal but for case).
    return 0;
  }
  if (!macros) return 0;
  // Nothing may leave these on any input.
  lkw::TMSWordDocument doc;
  doc.LoadVBA(*macros);
  doc.DecompressMacros(*macros);
  doc.ListMacros(0);
  return 0;
}
