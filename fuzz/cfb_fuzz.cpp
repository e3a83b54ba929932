// Opens arbitrary bytes as a compound file, walks every storage and reads
// every stream, forwards and then backwards.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/Exceptions.h"

namespace {

void Walk(const lkw::TOleStorage& Storage, int Depth) {
  if (Depth > 64) return;
  for (const auto& e : Storage.EnumElements()) {
    try {
      if (e.Type == lkw::STGTY_STORAGE) {
        if (auto sub = Storage.OpenStorage(e.Name)) Walk(*sub, Depth + 1);
      } else if (auto s = Storage.OpenStream(e.Name)) {
        char buf[700];
        while (s->Read(buf, sizeof buf) > 0) {
        }
        for (int64_t p = s->Size() - 100; p > 0; p -= 1000) {
          s->Seek(p, lkw::soBeginning);
          s->Read(buf, 100);
        }
      }
    } catch (const lkw::Exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  try {
    auto root = lkw::StgOpenStorageOnMemory(std::string(reinterpret_cast<const char*>(Data), Size));
    Walk(*root, 0);
  } catch (const lkw::Exception&) {
  }
  return 0;
}
