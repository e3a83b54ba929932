#include "tools/lkword/Inputs.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

namespace lkw::tool {

namespace {

// Deeper trees than this are almost certainly a loop the device/inode check
// cannot see (some network file systems reuse inode numbers).
constexpr int kMaxFolderDepth = 128;

std::string Join(const std::string& Folder, const std::string& Name) {
  if (Folder.empty() || Folder.back() == '/') return Folder + Name;
  return Folder + '/' + Name;
}

bool Matches(const std::string& Glob, const std::string& Below) {
  if (Glob.find('/') != std::string::npos) return ::fnmatch(Glob.c_str(), Below.c_str(), 0) == 0;
  const size_t slash = Below.rfind('/');
  const std::string name = slash == std::string::npos ? Below : Below.substr(slash + 1);
  return ::fnmatch(Glob.c_str(), name.c_str(), 0) == 0;
}

class TWalker {
 public:
  TWalker(std::vector<TInput>& Out, const TWalkFilter& Filter, const std::string& Root)
      : FOut(Out), FFilter(Filter), FRoot(Root) {}

  void Walk(const std::string& Folder, int Depth) {
    struct stat st {};
    if (::stat(Folder.c_str(), &st) != 0) return Fail(Folder, std::strerror(errno));
    if (!FSeen.insert({st.st_dev, st.st_ino}).second) return;  // a link back up the tree
    if (Depth > kMaxFolderDepth) return Fail(Folder, "folders nested too deep");
    DIR* dir = ::opendir(Folder.c_str());
    if (!dir) return Fail(Folder, std::string("cannot read folder: ") + std::strerror(errno));
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
      const std::string_view name = e->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = Join(Folder, name);
      // Links are followed; a dangling one, like a socket or a device, is no
      // document and is skipped.
      if (::stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode))
        Walk(path, Depth + 1);
      else if (S_ISREG(st.st_mode) && Wanted(path))
        FOut.push_back({path, {}, {}, static_cast<uint64_t>(st.st_size), true});
    }
  }

 private:
  void Fail(const std::string& Folder, const std::string& Message) {
    FOut.push_back({Folder, {}, Message});
  }

  bool Wanted(const std::string& Path) const {
    std::string below = Path.substr(std::min(Path.size(), FRoot.size()));
    while (!below.empty() && below.front() == '/') below.erase(0, 1);
    const auto match = [&below](const std::string& g) { return Matches(g, below); };
    if (std::any_of(FFilter.Exclude.begin(), FFilter.Exclude.end(), match)) return false;
    return FFilter.Include.empty() || std::any_of(FFilter.Include.begin(), FFilter.Include.end(), match);
  }

  std::vector<TInput>& FOut;
  const TWalkFilter& FFilter;
  const std::string& FRoot;
  std::set<std::pair<dev_t, ino_t>> FSeen;
};

}  // namespace

void ReadFileList(const std::string& List, std::vector<std::string>& Files) {
  RawByteString text;
  if (List == "-") {
    char chunk[64 * 1024];
    for (;;) {
      const ssize_t n = ::read(0, chunk, sizeof chunk);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        throw Exception(std::string("cannot read standard input: ") + std::strerror(errno));
      }
      text.append(chunk, static_cast<size_t>(n));
    }
  } else {
    text = ReadFileBytes(List);
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == RawByteString::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) Files.push_back(std::move(line));
    start = end + 1;
  }
}

std::vector<TInput> ExpandInputs(const std::vector<std::string>& Args, bool Recursive, bool& FolderGiven,
                                 const TWalkFilter& Filter) {
  std::vector<TInput> inputs;
  FolderGiven = false;
  for (const std::string& arg : Args) {
    struct stat st {};
    const bool known = arg != "-" && ::stat(arg.c_str(), &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
      FolderGiven = true;
      if (Recursive)
        TWalker(inputs, Filter, arg).Walk(arg, 0);
      else
        inputs.push_back({arg, {}, "is a folder (use -r to read the documents in it)"});
      continue;
    }
    // Anything else is read as given, so that a missing file or a device the
    // user named is reported rather than skipped.
    inputs.push_back({arg, {}, {}, known && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0});
  }
  return inputs;
}

void AssignOutputNames(std::vector<TInput>& Inputs, const std::string& Extension) {
  std::set<std::string> taken;
  for (TInput& in : Inputs) {
    std::string name;
    if (in.Path == "-") {
      name = "stdin";
    } else {
      size_t start = 0;
      while (start <= in.Path.size()) {
        size_t end = in.Path.find('/', start);
        if (end == std::string::npos) end = in.Path.size();
        const std::string_view part = std::string_view(in.Path).substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
          if (!name.empty()) name += '/';
          name += part;
        }
        start = end + 1;
      }
      if (name.empty()) name = "unnamed";
    }
    name += Extension;
    if (taken.insert(name).second) {
      in.OutputName = std::move(name);
    } else if (in.Error.empty()) {
      in.Error = "output " + name + " is already written for an earlier input";
    }
  }
}

}  // namespace lkw::tool
