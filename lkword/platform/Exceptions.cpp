#include "lkword/platform/Exceptions.h"

namespace lkw {

std::string Format(std::string_view Fmt, const std::vector<std::string>& Args) {
  std::string out;
  out.reserve(Fmt.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < Fmt.size(); ++i) {
    char c = Fmt[i];
    if (c == '%' && i + 1 < Fmt.size()) {
      char k = Fmt[i + 1];
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (k == 's' || k == 'd') {
        if (next < Args.size()) out += Args[next];
        ++next;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace lkw
