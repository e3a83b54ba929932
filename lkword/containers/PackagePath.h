// Names of the parts of a zip package (Word 2007 documents, EPUB books) and
// how a reference written in one part finds another.
#pragma once

#include <string>
#include <string_view>

namespace lkw {

// The folder of a part: its name up to and including the last "/"; empty
// for a part at the root. "word/document.xml" -> "word/".
std::string PackageFolderOf(std::string_view PartName);

// What a reference's %XX escapes mean. Word 2007 relationships may name a
// part as the zip stores it, escapes included, so they are kept there and
// the caller tries both forms; EPUB hrefs are URLs and are always decoded.
enum class TPercentEscapes { Keep, Decode };

// Resolves Reference, written in a part whose folder is Folder (as
// PackageFolderOf gives it), to the name of the part it means, the way a
// relative URL resolves against its base:
// - blanks around it are ignored, and a query ("?...") or fragment ("#...")
//   is dropped;
// - with Decode, escapes are decoded first (a malformed one stays as
//   written), so an escaped "/" or "." counts as one;
// - "\" counts as "/", as URL parsers take it from Windows writers;
// - a leading "/" starts from the package root, anything else from Folder;
// - empty and "." segments are dropped; ".." drops the segment before it,
//   and at the root it is dropped itself: nothing climbs above the package.
// Returns the part name (no leading "/"), or an empty string for a
// reference with a scheme ("http:", "mailto:": it leaves the package) and
// for one that names no part (nothing left of it, or a folder: a final "/").
std::string ResolvePackageReference(std::string_view Folder, std::string_view Reference, TPercentEscapes Escapes);

// S with its %XX escapes decoded (malformed ones kept as written).
std::string DecodePercentEscapes(std::string_view S);

}  // namespace lkw
