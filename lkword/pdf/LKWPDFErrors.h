// The messages of the PDF unit and the exceptions it raises. Each exception
// derives from the library's kind for it, so hosts tell a damaged file, a
// wrong password and an unsupported handler apart by type.
#pragma once

#include "lkword/framework/MSWordCnst.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

inline constexpr const char* SPDFNotValid = "This is not valid PDF-document";
inline constexpr const char* SPDFXRefWNotValid = "First parameter in /W tag for /TYPE/XREF section is not valid";
inline constexpr const char* SPDFXRefLengthNotValid = "Content of stream for /TYPE/XREF section have incorrect length";
// The readers share one text for an encryption they do not implement.
inline constexpr const char* SPDFEncryptionNotSupported = SEncryptionNotSupported;
inline constexpr const char* SPDFAlgorithm3NotSupported = "Algorithm 3 for Standard encryption is not supported";
inline constexpr const char* SPDFUnknownAlgorithm = "Unknown algorithm (%d) for Standard encryption";
inline constexpr const char* SPDFUnknownRevision =
    "Unknown (or nonsupported) revision for Standard encryption (Algorithm 1)";
inline constexpr const char* SPDFPasswordNotValid = "Password is not valid";
inline constexpr const char* SPDFInvalidKeyLength = "Invalid key length (%d) for Standard encryption";
inline constexpr const char* SPDFInvalidMethod = "Invalid method used (%s) for Standard encryption";
inline constexpr const char* SPDFInvalidEvent =
    "Invalid event (%s) to be to trigger the authorization for Standard encryption";
inline constexpr const char* SPDFCryptFilterNotImplemented =
    "CryptFilter algorithm for Standard encryption is not implemented in current version";

// A file whose structure cannot be read as PDF.
class EPDFError : public ECorruptError {
 public:
  using ECorruptError::ECorruptError;
};
// The password (user or owner) does not open the document.
class EPDFPasswordError : public EPasswordError {
 public:
  using EPasswordError::EPasswordError;
};
// A security handler, algorithm or revision this reader does not implement.
class EPDFEncryptionError : public EEncryptionNotSupportedError {
 public:
  using EEncryptionNotSupportedError::EEncryptionNotSupportedError;
};

}  // namespace lkw
