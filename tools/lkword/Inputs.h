// Turning the command line's FILE arguments into the list of inputs: folders
// walked, lists read, output names for -o FOLDER chosen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lkw::tool {

struct TInput {
  std::string Path;        // as given, or the folder argument joined with the walk's names
  std::string OutputName;  // the output's path below -o FOLDER; empty: the input has no output
  // An input known to fail before it is read (a folder without -r, an
  // unreadable folder, an output name taken by an earlier input): an I/O
  // error.
  std::string Error;
  // Bytes on disk when known (0 otherwise); large inputs are started first.
  uint64_t Size = 0;
  bool Walked = false;  // found in a folder walk rather than named
  size_t Ordinal = 0;   // the place among all inputs
};

// Which files of a walk are inputs: those matching an Include glob (every
// file when there is none) and no Exclude glob. A glob with a '/' matches
// the path below the walked folder, one without it the file's name.
struct TWalkFilter {
  std::vector<std::string> Include;
  std::vector<std::string> Exclude;
};

// Appends the non-empty lines of List ("-": standard input) to Files; raises
// Exception when the list cannot be read.
void ReadFileList(const std::string& List, std::vector<std::string>& Files);

// One input per file argument; with Recursive, folders give their regular
// files and those of their subfolders, each folder's entries in byte order of
// their names (symbolic links followed, each folder once; other kinds of
// files skipped), filtered by Filter. FolderGiven is set when an argument is
// a folder.
std::vector<TInput> ExpandInputs(const std::vector<std::string>& Args, bool Recursive, bool& FolderGiven,
                                 const TWalkFilter& Filter = {});

// Output names mirror the input paths the way archivers store members: a
// leading "/" and "." and ".." components are dropped ("../in/a.doc" ->
// "in/a.doc"), standard input is "stdin"; Extension is appended. An input
// whose name an earlier one took fails, with no output name, instead of
// overwriting the earlier output.
void AssignOutputNames(std::vector<TInput>& Inputs, const std::string& Extension);

}  // namespace lkw::tool
