#include "lkword/containers/PackagePath.h"

#include <vector>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/Types.h"

namespace lkw {

namespace {

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && IsAsciiBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsAsciiBlank(S.back())) S.remove_suffix(1);
  return S;
}

// A letter, then letters, digits, "+", "-" or ".", then ":".
bool HasScheme(std::string_view S) {
  if (S.empty() || !IsAsciiLetter(S[0])) return false;
  for (size_t i = 1; i < S.size(); ++i) {
    const char c = S[i];
    if (c == ':') return true;
    if (!IsAsciiAlnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

// Path with its dot segments applied, segments joined by "/".
std::string FoldSegments(std::string_view Path) {
  std::vector<std::string_view> segments;
  while (!Path.empty()) {
    const size_t slash = Path.find('/');
    const std::string_view seg = Path.substr(0, slash);
    Path = slash == std::string_view::npos ? std::string_view() : Path.substr(slash + 1);
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (!segments.empty()) segments.pop_back();
      continue;
    }
    segments.push_back(seg);
  }
  std::string out;
  for (const std::string_view seg : segments) {
    if (!out.empty()) out += '/';
    out += seg;
  }
  return out;
}

}  // namespace

std::string PackageFolderOf(std::string_view PartName) {
  const size_t slash = PartName.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(PartName.substr(0, slash + 1));
}

std::string DecodePercentEscapes(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '%' && i + 2 < S.size()) {
      const int hi = HexDigitValue(S[i + 1]), lo = HexDigitValue(S[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += S[i];
  }
  return out;
}

std::string ResolvePackageReference(std::string_view Folder, std::string_view Reference, TPercentEscapes Escapes) {
  Reference = TrimBlanks(Reference);
  Reference = Reference.substr(0, Reference.find_first_of("#?"));
  if (HasScheme(Reference)) return std::string();
  std::string path = Escapes == TPercentEscapes::Decode ? DecodePercentEscapes(Reference) : std::string(Reference);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty() || path.back() == '/') return std::string();
  if (path.front() != '/') path.insert(0, Folder);
  return FoldSegments(path);
}

}  // namespace lkw
