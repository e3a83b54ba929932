// Extraction of one input into one output, the unit of work of every mode
// (one input to standard output, a batch in order, a batch into a folder).
#pragma once

#include <memory>
#include <string>

#include "lkword/registry/LKWReaders.h"
#include "tools/lkword/Inputs.h"
#include "tools/lkword/Options.h"
#include "lkword/registry/LKWOutput.h"
#include "lkword/registry/LKWDocInfo.h"

namespace lkw::tool {

struct TDocResult {
  bool Ok = true;
  TErrorKind Kind = TErrorKind::None;
  std::string Messages;  // for standard error, complete lines
  // A walked file no reader recognises, passed over (--skip-unsupported).
  bool Skipped = false;
  // Read in part; a failure unless the options accept it.
  bool Partial = false;
};

// Stateless between inputs: one instance may serve several threads at once,
// each Run creating its own reader component.
class TExtractor {
 public:
  explicit TExtractor(const TToolOptions& Options);

  // Extracts Input and writes its output (text, or its JSON line) to Out.
  // Raises EWriteError only when Out fails; every other failure is in the
  // result.
  TDocResult Run(const TInput& Input, TOutputFile& Out) const;

  // The same into OutputFolder/Input.OutputName, creating folders as needed.
  // Text output of a failed input is removed rather than left half written
  // (a partial result keeps its text);
  // a JSON line is kept, as it reports the failure. An input without an
  // output name (see AssignOutputNames) writes nothing.
  TDocResult RunToFolder(const TInput& Input, const std::string& OutputFolder) const;

 private:
  struct TSinkState {
    // The input's header line, written before its first text.
    std::string Header;
  };
  // Password: the one to open an encrypted document with (may be empty).
  std::unique_ptr<TMSWBaseDocument> Create(const TLKWReaderInfo& Reader, TOutputFile& Out,
                                           const std::string& Password, TSinkState& Sink) const;
  std::unique_ptr<TMSWBaseDocument> Load(const TInput& Input, const TLKWReaderInfo*& Reader, TOutputFile& Out,
                                         TSinkState& Sink) const;
  bool WriteCover(const std::string& Path, TMSWBaseDocument& Doc, std::string& Messages) const;

  const TToolOptions& FOptions;
  TReaderSetup FSetup;  // every reader's, from FOptions
  const TLKWReaderInfo* FForced = nullptr;
};

// "lkword: PATH: MESSAGE\n".
std::string MessageLine(const std::string& Path, const std::string& Message);

}  // namespace lkw::tool
