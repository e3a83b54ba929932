// The library's exception family. Every exception carries the message text
// users see; what() returns it as UTF-8.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lkw {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& Msg) : std::runtime_error(Msg) {}
  std::string Message() const { return what(); }
};

#define LKW_DECLARE_EXCEPTION(Name, Base)                                  \
  class Name : public Base {                                              \
   public:                                                                \
    explicit Name(const std::string& Msg) : Base(Msg) {}                  \
  }

LKW_DECLARE_EXCEPTION(EStreamError, Exception);
LKW_DECLARE_EXCEPTION(EReadError, EStreamError);
LKW_DECLARE_EXCEPTION(EWriteError, EStreamError);
LKW_DECLARE_EXCEPTION(EFOpenError, EStreamError);
LKW_DECLARE_EXCEPTION(EFCreateError, EStreamError);
LKW_DECLARE_EXCEPTION(EConvertError, Exception);
LKW_DECLARE_EXCEPTION(EOutOfMemory, Exception);
LKW_DECLARE_EXCEPTION(EOleError, Exception);
LKW_DECLARE_EXCEPTION(EZipFileCRCError, Exception);
LKW_DECLARE_EXCEPTION(EListError, Exception);
// A resource limit (decompressed bytes, nesting depth, ...) was exceeded.
LKW_DECLARE_EXCEPTION(ELimitError, Exception);
// A version of the format, or a feature of it, that the readers do not
// implement: the input itself may be sound.
LKW_DECLARE_EXCEPTION(EUnsupportedError, Exception);

#undef LKW_DECLARE_EXCEPTION

// Called in a catch handler: rethrows the exception being handled so that
// only this family leaves a component. Running out of memory (including a
// container asked to grow past its maximum) becomes EOutOfMemory; any other
// failure an Exception with its message.
[[noreturn]] void RethrowAsException();

// Replaces each "%s" (or "%d") in Fmt by the next argument, in order; "%%" is
// a percent sign. Missing arguments leave the placeholder empty.
std::string Format(std::string_view Fmt, const std::vector<std::string>& Args);

}  // namespace lkw
