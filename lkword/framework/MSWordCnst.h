// Message texts shared by the readers.
#pragma once

namespace lkw {

inline constexpr const char* SFileNotFound = "File %s is not found.";
inline constexpr const char* SNotValidWordDocument = "File %s is not valid MS Word document";
inline constexpr const char* SPieceBoundsOutOfRange = "Piece Bounds out of range";
inline constexpr const char* SWideStringsIndexOutOfBounds = "WideStrings index out of bounds";

}  // namespace lkw
