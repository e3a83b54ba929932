// The VBA macros of a Word document: the project tables of its "Macros"
// storage, each module's decompressed source, and the MacroText listing.
#include "lkword/word/MSWord.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/word/MSWordVBA.h"

namespace lkw {

namespace {

// Storages nest only a few levels in a VBA project; deeper nesting is not
// a project and is not walked.
constexpr int kMaxStorageDepth = 16;

using TStreamVisitor = std::function<void(const TOleStorage& Storage, const TStatStg& Element)>;

// Every stream below Storage, in the order the storages list them. A
// sub-storage that cannot be opened or listed is skipped.
void WalkStreams(const TOleStorage& Storage, const TStreamVisitor& Visit, int Depth = 0) {
  std::vector<TStatStg> elements;
  try {
    elements = Storage.EnumElements();
  } catch (const Exception&) {
    return;
  }
  for (const TStatStg& e : elements) {
    if (e.Type == STGTY_STREAM) {
      Visit(Storage, e);
    } else if (e.Type == STGTY_STORAGE && Depth < kMaxStorageDepth) {
      std::unique_ptr<TOleStorage> sub;
      try {
        sub = Storage.OpenStorage(e.Name);
      } catch (const Exception&) {
        continue;
      }
      if (sub) WalkStreams(*sub, Visit, Depth + 1);
    }
  }
}

// The whole stream, or false when it does not open or read.
bool ReadStream(const TOleStorage& Storage, const WideString& Name, RawByteString& Bytes) {
  try {
    std::unique_ptr<TStream> s = Storage.OpenStream(Name);
    if (!s) return false;
    Bytes = s->ReadBytes(s->Size());
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

void TMSCustomWordDocument::LoadVBA(const TOleStorage& Storage) {
  std::vector<WideString> streamNames;
  RawByteString dir;
  bool haveDir = false;
  WalkStreams(Storage, [&](const TOleStorage& s, const TStatStg& e) {
    streamNames.push_back(e.Name);
    RawByteString bytes;
    if (e.Name == u"PROJECT") {
      if (!ReadStream(s, e.Name, bytes)) return;
      // The project text is read as a 16-bit count of bytes.
      bytes.resize(std::min<size_t>(bytes.size(), e.Size & 0xFFFF));
      FVBAProject.resize(bytes.size());
      for (size_t i = 0; i < bytes.size(); ++i) FVBAProject[i] = static_cast<uint8_t>(bytes[i]);
    } else if (e.Name == u"_VBA_PROJECT") {
      if (ReadStream(s, e.Name, bytes)) ParseVBAProjectStream(bytes, VBAProjectItems);
    } else if (e.Name == u"dir" && !haveDir) {
      haveDir = ReadStream(s, e.Name, dir);
    }
  });

  TVBADirInfo info;
  if (haveDir) info = ParseVBADirStream(DecompressVBAContainer(dir));
  FVBACodePage = info.CodePage;

  // The module table of "_VBA_PROJECT" is laid out differently by different
  // Office versions; when none of its names is a stream here, it was not
  // read right, and the published module records of "dir" take over.
  auto isStream = [&](const WideString& Name) {
    for (const WideString& n : streamNames)
      if (CompareTextIgnoreCase(n, Name) == 0) return true;
    return false;
  };
  for (int i = 0; i < VBAProjectItems.Count(); ++i) {
    const WideString& name = VBAProjectItems.Items(i).ModuleName;
    if (!name.empty() && isStream(name)) return;
  }
  for (const TVBADirModule& m : info.Modules) {
    TVBAProjectItem& item = VBAProjectItems.Add();
    item.ModuleName = m.StreamName;
    item.ModuleID = m.Name;
    item.Offset = m.Offset;
  }
}

void TMSCustomWordDocument::DecompressMacros(const TOleStorage& Storage) {
  size_t budget = kVBAMaxProjectSourceSize;
  WalkStreams(Storage, [&](const TOleStorage& s, const TStatStg& e) {
    TVBAProjectItem* item = nullptr;
    for (int i = 0; i < VBAProjectItems.Count() && !item; ++i) {
      TVBAProjectItem& it = VBAProjectItems.Items(i);
      if (!it.ModuleName.empty() && CompareTextIgnoreCase(it.ModuleName, e.Name) == 0) item = &it;
    }
    if (!item) return;
    item->Body.clear();
    RawByteString bytes;
    if (!ReadStream(s, e.Name, bytes)) {
      AddWarning("macro module " + WideToUtf8(e.Name) + ": the stream could not be read");
      return;
    }
    bool malformed = false;
    const size_t limit = std::min(budget, kVBAMaxDecompressedSize);
    item->Body = ReadVBAModuleSource(bytes, item->Offset, &malformed, limit);
    budget -= item->Body.size();
    if (item->Body.size() == limit) AddWarning("macro module " + WideToUtf8(e.Name) + ": cut at the size limit");
    if (malformed)
      AddWarning("macro module " + WideToUtf8(e.Name) +
                 (item->Body.empty() ? ": no source found" : ": the source is damaged; read in part"));
  });
}

void TMSCustomWordDocument::ListMacros(uint32_t DefaultCodePage) {
  uint32_t codePage = FVBACodePage && IsCodePageSupported(FVBACodePage) ? FVBACodePage : DefaultCodePage;
  if (codePage == 0) codePage = GetACP();
  const WideString rule = u"'===================================";
  for (int i = 0; i < VBAProjectItems.Count(); ++i) {
    const TVBAProjectItem& item = VBAProjectItems.Items(i);
    if (item.Body.empty()) continue;
    FMacroText.Add(rule);
    FMacroText.Add(u"'  Macro(s) from " + item.ModuleName);
    FMacroText.Add(rule);
    FMacroText.Add(MultiByteToWide(codePage, item.Body) + u"\r\n");
  }
}

void TMSWordDocument::ReadMacros(const TOleStorage& Macros) {
  if (!FParseItems.Contains(wpiVBA)) return;
  // Items of a previous document would be listed again as this one's.
  ClearVBAProjectItems();
  FVBAProject.clear();
  FVBACodePage = 0;
  LoadVBA(Macros);
  DecompressMacros(Macros);
  ListMacros(FTextCodePage);
}

}  // namespace lkw
