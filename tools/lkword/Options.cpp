#include "tools/lkword/Options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/registry/LKWReaders.h"

namespace lkw::tool {

namespace {

const char* const kToolVersion = "1.47";
// More threads than this only add memory for buffered output.
constexpr int kMaxJobs = 256;

enum class TOptionId {
  Format, Output, Metadata, Json, MetadataKeys, MaxLength, FirstPage, LastPage, PageBreak, Reader, Cover, Hidden, ShowChanges, Notes, Macros, Password,
  Recursive, Include, Exclude, SkipUnsupported, NoHeaders, Timeout, AcceptPartial, Encoding, Jobs, FilesFrom, Quiet, KeepGoing, Version, Help
};

struct TOptionSpec {
  TOptionId Id;
  char Short;           // 0: long form only
  const char* Long;
  const char* ArgName;  // nullptr: a flag
  const char* Help;
};

// The one list of options: parsing and --help both read it.
const TOptionSpec kOptions[] = {
    {TOptionId::Format, 'f', "format", "FORMAT", "output format: text (default), rtf, html or markdown"},
    {TOptionId::Output, 'o', "output", "PATH",
     "write the output to PATH instead of standard output; with several inputs or a folder PATH is a folder "
     "that gets one NAME.EXT.txt|.rtf|.html|.json per input, mirroring the input tree"},
    {TOptionId::Metadata, 'm', "metadata", nullptr, "print the metadata after the text, one 'Key: value' line per field"},
    {TOptionId::Json, 0, "json", nullptr, "print one JSON object per input per line"},
    {TOptionId::MetadataKeys, 0, "metadata-keys", "KEYS",
     "name metadata fields by the record's property names (record, default) or by Dublin Core / Tika keys (tika)"},
    {TOptionId::MaxLength, 0, "max-length", "N", "stop after N characters of output (0: no limit)"},
    {TOptionId::FirstPage, 0, "first-page", "N", "PDF: start at page N, counted from 1 (other formats ignore it)"},
    {TOptionId::LastPage, 0, "last-page", "N",
     "PDF: stop after page N (0: the last page); the pages outside the range are not read"},
    {TOptionId::PageBreak, 0, "page-break", "KIND",
     "PDF in plain text: what goes between pages: dashes (default: an empty line and a rule before every page), "
     "ff (a form feed before every page after the first) or none"},
    {TOptionId::Reader, 0, "reader", "NAME", "use reader NAME instead of choosing one by content"},
    {TOptionId::Cover, 0, "cover", "PATH", "write the cover picture of an EPUB book to PATH"},
    {TOptionId::Hidden, 0, "hidden", nullptr, "also extract text the document marks as hidden"},
    {TOptionId::ShowChanges, 0, "show-changes", nullptr,
     "in plain text, keep deleted text and mark tracked changes ('-' before deleted, '+' before inserted text), "
     "as RTF and HTML always do; by default plain text reads with the changes accepted"},
    {TOptionId::Notes, 0, "notes", nullptr, "print footnotes, endnotes, headers, footers and comments after the body"},
    {TOptionId::Macros, 0, "macros", nullptr, "print the VBA macro source of Word documents after the body"},
    {TOptionId::Password, 0, "password", "PASSWORD", "open encrypted PDF (user or owner password), Word and OpenDocument files; no password is tried first, then each one given in turn"},
    {TOptionId::Recursive, 'r', "recursive", nullptr,
     "read the regular files of folders given as FILE, and of their subfolders, in name order"},
    {TOptionId::Include, 0, "include", "GLOB",
     "in folders, read only the files that match GLOB (repeatable; a GLOB with '/' matches the path below the "
     "folder, one without it the file's name)"},
    {TOptionId::Exclude, 0, "exclude", "GLOB", "in folders, leave out the files that match GLOB (repeatable; wins over --include)"},
    {TOptionId::SkipUnsupported, 0, "skip-unsupported", nullptr,
     "in folders, pass over files no reader recognises: counted as skipped in the summary instead of failed"},
    {TOptionId::NoHeaders, 0, "no-headers", nullptr,
     "with several inputs to standard output, no '==> PATH <==' line before each document's text"},
    {TOptionId::Timeout, 0, "timeout", "SECONDS",
     "give up a document after SECONDS (decimals allowed): it fails with error_kind timeout and the batch goes on"},
    {TOptionId::Encoding, 0, "encoding", "CODEPAGE",
     "the code page of 8-bit text whose document declares none (PalmDoc, Write, Word files without a language): "
     "a name as iconv spells it (cp1251, koi8-r, iso-8859-5, cp866, shift_jis) or a number (default 1252)"},
    {TOptionId::AcceptPartial, 0, "accept-partial", nullptr,
     "a document read only in part (pages or data lost to damage) counts as done, not failed; its text is written "
     "either way"},
    {TOptionId::Jobs, 'j', "jobs", "N", "extract N documents at a time (default: one per processor)"},
    {TOptionId::FilesFrom, 0, "files-from", "LIST", "also read the inputs from LIST, one path per line ('-': standard input, read while the documents are "
     "extracted; each result is written as soon as it and all before it are done)"},
    {TOptionId::Quiet, 'q', "quiet", nullptr, "no progress bar, summary line or warnings on standard error"},
    {TOptionId::KeepGoing, 0, "keep-going", nullptr, "after a failed input go on with the next one (always on)"},
    {TOptionId::Version, 0, "version", nullptr, "print the version and exit"},
    {TOptionId::Help, 'h', "help", nullptr, "print this help and exit"},
};

std::string Quoted(std::string_view S) {
  std::string q;
  q.reserve(S.size() + 2);
  q += '\'';
  q += S;
  q += '\'';
  return q;
}

std::string ReaderNames() {
  std::string names;
  for (const auto& r : RegisteredReaders()) {
    if (!names.empty()) names += ", ";
    names += r.Name;
  }
  return names;
}

bool ApplyOption(const TOptionSpec& Spec, const std::string& Value, TToolOptions& O, std::string& Error) {
  switch (Spec.Id) {
    case TOptionId::Format:
      if (Value == "text") O.Format = tfPlainText;
      else if (Value == "rtf") O.Format = tfRTF;
      else if (Value == "html") O.Format = tfHTML;
      else if (Value == "markdown" || Value == "md") O.Format = tfMarkdown;
      else {
        Error = "invalid format " + Quoted(Value) + " (text, rtf, html or markdown)";
        return false;
      }
      return true;
    case TOptionId::Output:
      O.OutputPath = Value == "-" ? std::string() : Value;
      return true;
    case TOptionId::Metadata: O.Metadata = true; return true;
    case TOptionId::Json: O.Json = true; return true;
    case TOptionId::MaxLength: {
      int32_t n = 0;
      const char* end = Value.data() + Value.size();
      auto [p, ec] = std::from_chars(Value.data(), end, n);
      if (Value.empty() || ec != std::errc() || p != end || n < 0) {
        Error = "invalid length " + Quoted(Value) + " (a number from 0 to " +
                std::to_string(std::numeric_limits<int32_t>::max()) + ")";
        return false;
      }
      O.MaxLength = n;
      return true;
    }
    case TOptionId::FirstPage:
    case TOptionId::LastPage: {
      int32_t n = 0;
      const char* end = Value.data() + Value.size();
      auto [p, ec] = std::from_chars(Value.data(), end, n);
      if (Value.empty() || ec != std::errc() || p != end || n < 0) {
        Error = "invalid page " + Quoted(Value) + " (a number from 1, or 0 for an open end)";
        return false;
      }
      (Spec.Id == TOptionId::FirstPage ? O.FirstPage : O.LastPage) = n;
      return true;
    }
    case TOptionId::PageBreak:
      if (Value == "dashes") O.PageBreak = pbRule;
      else if (Value == "ff") O.PageBreak = pbFormFeed;
      else if (Value == "none") O.PageBreak = pbNone;
      else {
        Error = "invalid page break " + Quoted(Value) + " (dashes, ff or none)";
        return false;
      }
      return true;
    case TOptionId::Reader:
      if (!FindReaderInfo(Value)) {
        Error = "unknown reader " + Quoted(Value) + " (" + ReaderNames() + ")";
        return false;
      }
      O.ReaderName = FindReaderInfo(Value)->Name;
      return true;
    case TOptionId::Cover: O.CoverPath = Value; return true;
    case TOptionId::Hidden: O.HiddenText = true; return true;
    case TOptionId::ShowChanges: O.ShowChanges = true; return true;
    case TOptionId::Notes: O.Notes = true; return true;
    case TOptionId::Macros: O.Macros = true; return true;
    case TOptionId::Password:
      O.Passwords.push_back(Value);
      return true;
    case TOptionId::MetadataKeys:
      if (Value == "record" || Value == "tika") {
        O.TikaKeys = Value == "tika";
        return true;
      }
      Error = "invalid metadata keys " + Quoted(Value) + " (record or tika)";
      return false;
    case TOptionId::Recursive: O.Recursive = true; return true;
    case TOptionId::Include: O.Include.push_back(Value); return true;
    case TOptionId::Exclude: O.Exclude.push_back(Value); return true;
    case TOptionId::SkipUnsupported: O.SkipUnsupported = true; return true;
    case TOptionId::NoHeaders: O.NoHeaders = true; return true;
    case TOptionId::Jobs: {
      int n = 0;
      const char* end = Value.data() + Value.size();
      auto [p, ec] = std::from_chars(Value.data(), end, n);
      if (Value.empty() || ec != std::errc() || p != end || n < 1 || n > kMaxJobs) {
        Error = "invalid number of jobs " + Quoted(Value) + " (1 to " + std::to_string(kMaxJobs) + ")";
        return false;
      }
      O.Jobs = n;
      return true;
    }
    case TOptionId::FilesFrom: O.FilesFrom = Value; return true;
    case TOptionId::Timeout: {
      char* end = nullptr;
      const double seconds = Value.empty() ? -1 : std::strtod(Value.c_str(), &end);
      constexpr double kMaxSeconds = 1e7;
      if (Value.empty() || *end != '\0' || !(seconds > 0) || seconds > kMaxSeconds) {
        Error = "invalid timeout " + Quoted(Value) + " (seconds, more than 0)";
        return false;
      }
      O.TimeoutMs = std::max<int64_t>(1, static_cast<int64_t>(seconds * 1000));
      return true;
    }
    case TOptionId::AcceptPartial: O.AcceptPartial = true; return true;
    case TOptionId::Encoding: {
      const uint32_t cp = CodePageFromUserName(Value);
      if (cp == 0) {
        Error = "unknown encoding " + Quoted(Value) + " (a code page name such as cp1251 or koi8-r, or its number)";
        return false;
      }
      O.CodePage = cp;
      return true;
    }
    case TOptionId::Quiet: O.Quiet = true; return true;
    case TOptionId::KeepGoing: return true;
    case TOptionId::Version: O.ShowVersion = true; return true;
    case TOptionId::Help: O.ShowHelp = true; return true;
  }
  return true;
}

// Help text broken into lines of at most 79 columns, continuation lines
// indented to Indent; Column is where the text starts on the first line.
std::string Wrapped(std::string_view Text, size_t Column, size_t Indent) {
  constexpr size_t kWidth = 79;
  std::string out;
  size_t col = Column;
  while (!Text.empty()) {
    const size_t space = Text.find(' ');
    const std::string_view word = Text.substr(0, space);
    if (col > Column && col + 1 + word.size() > kWidth) {
      out += '\n';
      out.append(Indent, ' ');
      col = Indent;
    } else if (col > Column || (col > Indent && !out.empty())) {
      out += ' ';
      ++col;
    }
    out += word;
    col += word.size();
    Text = space == std::string_view::npos ? std::string_view() : Text.substr(space + 1);
  }
  return out;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, TToolOptions& O, std::string& Error) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
      O.Files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::string_view body = arg.substr(2);
      const size_t eq = body.find('=');
      const std::string_view name = body.substr(0, eq);
      const TOptionSpec* spec = nullptr;
      for (const auto& s : kOptions)
        if (name == s.Long) spec = &s;
      if (!spec) {
        Error = "unknown option " + Quoted(arg.substr(0, eq == std::string_view::npos ? arg.size() : eq + 2));
        return false;
      }
      std::string value;
      if (spec->ArgName) {
        if (eq != std::string_view::npos) {
          value = body.substr(eq + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          Error = "option '--" + std::string(name) + "' needs an argument";
          return false;
        }
      } else if (eq != std::string_view::npos) {
        Error = "option '--" + std::string(name) + "' takes no argument";
        return false;
      }
      if (!ApplyOption(*spec, value, O, Error)) return false;
      continue;
    }
    // A bundle of short options; one that takes an argument ends the bundle.
    for (size_t k = 1; k < arg.size(); ++k) {
      const TOptionSpec* spec = nullptr;
      for (const auto& s : kOptions)
        if (s.Short && s.Short == arg[k]) spec = &s;
      if (!spec) {
        Error = "unknown option " + Quoted(std::string("-") + arg[k]);
        return false;
      }
      std::string value;
      if (spec->ArgName) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          Error = "option '-" + std::string(1, spec->Short) + "' needs an argument";
          return false;
        }
        k = arg.size();
      }
      if (!ApplyOption(*spec, value, O, Error)) return false;
    }
  }
  if (O.Files.empty() && O.FilesFrom.empty() && !O.ShowHelp && !O.ShowVersion) {
    Error = "no input files";
    return false;
  }
  return true;
}

std::string UsageText() {
  std::string text =
      "Usage: lkword [OPTIONS] FILE...\n"
      "Extract the text and metadata of documents. FILE '-' is standard input;\n"
      "options may also follow the files, and '--' ends them. The reader is\n"
      "chosen by the file's content, not its name.\n"
      "\n"
      "Options:\n";
  for (const auto& s : kOptions) {
    std::string left = "  ";
    left += s.Short ? std::string("-") + s.Short + ", " : std::string("    ");
    left += "--";
    left += s.Long;
    if (s.ArgName) {
      left += '=';
      left += s.ArgName;
    }
    if (left.size() < 23) left.resize(24, ' ');
    else left += "  ";
    text += left + Wrapped(s.Help, left.size(), 24) + "\n";
  }
  text += "\nReaders:\n";
  for (const auto& r : RegisteredReaders()) {
    std::string left = std::string("  ") + r.Name;
    left.resize(24, ' ');
    text += left + r.Description + "\n";
  }
  text +=
      "\n"
      "Output is UTF-8. Plain text has LF line ends. --json writes per input:\n"
      "path, reader, format, text, metadata, notes (with --notes), macros (with\n"
      "--macros), pages, warnings, error and error_kind (not_found, unsupported,\n"
      "password, corrupt, io, limit, timeout), partial and page_texts (one string\n"
      "per PDF page read; null for other formats).\n"
      "\n"
      "Several inputs to standard output are each headed by a line '==> PATH <=='\n"
      "(and a blank line before it from the second on), as head(1) does.\n"
      "\n"
      "Exit status: 0 when every input succeeded, 1 when any failed, 2 on a usage\n"
      "error, 3 when the only input needed a password or the password was wrong.\n";
  return text;
}

std::string VersionText() {
  TMSWBaseDocument probe;
  return std::string("lkword ") + kToolVersion + "\nlibrary " + probe.About() + "\nreaders: " + ReaderNames() + "\n";
}

}  // namespace lkw::tool
