#include "lkword/platform/Exceptions.h"

#include <new>

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

void RethrowAsException() {
  try {
    throw;
  } catch (const Exception&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory");
  } catch (const std::length_error&) {
    throw EOutOfMemory("Out of memory");
  } catch (const std::exception& e) {
    throw Exception(e.what());
  } catch (...) {
    throw Exception("Unexpected error");
  }
}

}  // namespace lkw
