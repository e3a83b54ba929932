// Command-line parsing of the lkword tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"

namespace lkw::tool {

struct TToolOptions {
  TMSTextFormating Format = tfPlainText;
  std::string OutputPath;  // empty: standard output
  bool Metadata = false;
  bool Json = false;
  int32_t MaxLength = 0;   // 0: no limit
  int32_t FirstPage = 0;   // PDF pages read; 0: that end open
  int32_t LastPage = 0;
  TLKWPageBreak PageBreak = pbRule;  // between PDF pages in plain text
  std::string ReaderName;  // empty: chosen by content
  std::string CoverPath;   // empty: no EPUB cover written
  bool HiddenText = false; // also hidden text
  bool ShowChanges = false; // tracked changes marked in plain text
  bool Notes = false;      // secondary texts after the body
  bool Macros = false;     // VBA macro source after the body
  // For encrypted PDF, Word and OpenDocument files, tried in turn.
  std::vector<std::string> Passwords;
  bool Recursive = false;  // folders among the files are walked
  // Walks take the files matching an Include pattern (all without one) and
  // no Exclude pattern.
  std::vector<std::string> Include;
  std::vector<std::string> Exclude;
  bool SkipUnsupported = false;  // walked files no reader knows are skipped, not failed
  bool NoHeaders = false;        // no "==> PATH <==" lines
  // Set by the tool, not an option: several inputs share standard output.
  bool Headers = false;
  int Jobs = 0;            // worker threads; 0: one per processor
  bool Quiet = false;      // no progress, summary or warnings on stderr
  int64_t TimeoutMs = 0;   // per document; 0: none
  bool AcceptPartial = false;  // a partial result does not fail its input
  uint32_t CodePage = 0;       // of undeclared 8-bit text; 0: the library's default
  bool TikaKeys = false;   // metadata under the Dublin Core / Tika key names
  std::string FilesFrom;   // a list of inputs, one per line ("-": standard input)
  bool ShowHelp = false;
  bool ShowVersion = false;
  std::vector<std::string> Files;  // "-" is standard input
};

// Parses argv GNU style: options and files in any order, "--" ends the
// options, a lone "-" is a file. Long options take "--opt=VALUE" or
// "--opt VALUE", short ones "-oVALUE" or "-o VALUE", and flags bundle
// ("-mfhtml"). Returns false with a one-line Error on a usage error.
bool ParseCommandLine(int argc, const char* const* argv, TToolOptions& Options, std::string& Error);

std::string UsageText();
std::string VersionText();

}  // namespace lkw::tool
