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
// A stream ended before the bytes its structure promised: damaged data.
LKW_DECLARE_EXCEPTION(EReadError, EStreamError);
LKW_DECLARE_EXCEPTION(EConvertError, Exception);
LKW_DECLARE_EXCEPTION(EListError, Exception);

// The kinds callers branch on. Each keeps the message users see; a caller
// that only reports the error needs nothing but Exception.

// The document is encrypted and no password, or a wrong one, was given.
LKW_DECLARE_EXCEPTION(EPasswordError, Exception);
// The document is encrypted in a way the readers do not implement (an
// algorithm, a certificate, DRM): no password helps.
LKW_DECLARE_EXCEPTION(EEncryptionNotSupportedError, Exception);
// The input is not in a format the reader takes, or in a version of it, or
// uses a feature of it, that the readers do not implement: the input itself
// may be sound.
LKW_DECLARE_EXCEPTION(EUnsupportedError, Exception);
// The input claims to be in the reader's format but its structure is broken.
LKW_DECLARE_EXCEPTION(ECorruptError, Exception);
LKW_DECLARE_EXCEPTION(EOleError, ECorruptError);
LKW_DECLARE_EXCEPTION(EZipFileCRCError, ECorruptError);
// A resource limit (decompressed bytes, nesting depth, ...) was exceeded.
LKW_DECLARE_EXCEPTION(ELimitError, Exception);
// Memory ran out, or a container was asked to grow past its maximum: a
// resource limit too, but one the readers may survive where a part fails.
LKW_DECLARE_EXCEPTION(EOutOfMemory, Exception);
// The operating system refused a file: it cannot be opened, created or
// written.
LKW_DECLARE_EXCEPTION(EInOutError, EStreamError);
LKW_DECLARE_EXCEPTION(EFOpenError, EInOutError);
LKW_DECLARE_EXCEPTION(EFCreateError, EInOutError);
LKW_DECLARE_EXCEPTION(EWriteError, EInOutError);
// The file named does not exist ("File NAME is not found.").
LKW_DECLARE_EXCEPTION(EFileNotFoundError, EInOutError);

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
