// The pieces of a VBA project inside a Word document's "Macros" storage that
// the macro extractor reads: the compressed containers that hold module
// source and the "dir" stream, the module table of "_VBA_PROJECT" and the
// module records of "dir". Every function works on bytes already in memory,
// checks each length and offset against them, and returns what it could read
// instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"
#include "lkword/word/MSW_Hdr.h"

namespace lkw {

// Bytes a compressed container may expand to before decompression stops
// (VBA modules are far smaller; this bounds what a hostile stream costs).
inline constexpr size_t kVBAMaxDecompressedSize = size_t{32} << 20;
// The same bound for all modules of one project together.
inline constexpr size_t kVBAMaxProjectSourceSize = size_t{64} << 20;

// The text "Attribute VB_Name" with which every module's source begins.
inline constexpr std::string_view kVBAModuleSourceStart = "Attribute VB_Name";

// Whether Data holds, at Pos, the start of a compressed container: the
// signature byte 01 and a chunk header whose signature bits are 011.
bool IsVBAContainerAt(std::string_view Data, size_t Pos);

// Decompresses the container that starts at Data[0] (its signature byte) and
// runs to the end of Data, chunk by chunk: compressed chunks token by token,
// raw chunks copied. A malformed chunk (bad signature, a copy reaching before
// its chunk or past 4096 bytes, a token cut short) ends the output there.
// At most MaxSize bytes are produced. Malformed, when given, tells whether
// the container ended early.
RawByteString DecompressVBAContainer(std::string_view Data, size_t MaxSize = kVBAMaxDecompressedSize,
                                     bool* Malformed = nullptr);

// The position of the first container in Data whose text begins with
// "Attribute VB_Name"; npos when there is none.
size_t FindVBASourceContainer(std::string_view Data);

// A module's source from the bytes of its stream: the container at Offset,
// or, when Offset holds none, the one found by FindVBASourceContainer. Empty
// when neither exists. At most MaxSize bytes.
RawByteString ReadVBAModuleSource(std::string_view Stream, uint32_t Offset, bool* Malformed = nullptr,
                                  size_t MaxSize = kVBAMaxDecompressedSize);

// The reference records and the module table of a "_VBA_PROJECT" stream,
// appended to (and, for the module table, filled into) Items by position.
// A record running past the end of the stream ends its table; the items keep
// what was read.
void ParseVBAProjectStream(std::string_view Data, TVBAProjectItems& Items);

// One module record of the "dir" stream.
struct TVBADirModule {
  WideString Name;        // MODULENAME (Unicode form when present)
  WideString StreamName;  // MODULESTREAMNAME (Unicode form when present)
  uint32_t Offset = 0;    // MODULEOFFSET: source container in the stream
};

struct TVBADirInfo {
  uint32_t CodePage = 0;  // PROJECTCODEPAGE; 0 when absent
  std::vector<TVBADirModule> Modules;
};

// The project code page and the module records of a decompressed "dir"
// stream. 8-bit names are decoded with the project code page, or with
// DefaultCodePage (0: the active ANSI code page) when it has none or names
// one this system cannot convert. Records cut short end the parse.
TVBADirInfo ParseVBADirStream(std::string_view Decompressed, uint32_t DefaultCodePage = 0);

}  // namespace lkw
