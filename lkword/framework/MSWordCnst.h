// Message texts shared by the readers.
#pragma once

namespace lkw {

inline constexpr const char* SFileNotFound = "File %s is not found.";
inline constexpr const char* SNotValidWordDocument = "File %s is not valid MS Word document";
inline constexpr const char* SPieceBoundsOutOfRange = "Piece Bounds out of range";
inline constexpr const char* SWideStringsIndexOutOfBounds = "WideStrings index out of bounds";
// An encrypted document without its password, or with a wrong one.
inline constexpr const char* SPasswordProtected = "Could not read the password protected file";
// An encrypted document whose encryption the readers do not implement.
inline constexpr const char* SEncryptionNotSupported = "The encryption method is not supported in current version";

}  // namespace lkw
