#include "tools/lkword/Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "tools/lkword/Format.h"

namespace lkw::tool {

void WriteItem(TOutputFile& Out, std::u16string_view Item, TMSTextFormating Format, bool Json) {
  const bool plain = Format == tfPlainText;
  const size_t room = (Json ? MaxJsonBytes(Item.size()) : MaxUtf8Bytes(Item.size())) + 4;
  char* d = Out.Reserve(room);
  d = Json ? EncodeJson(d, Item, plain) : EncodeUtf8(d, Item, plain);
  if (!plain) d = Json ? std::copy_n("\\r", 2, d) : std::copy_n("\r", 1, d);
  d = Json ? std::copy_n("\\n", 2, d) : std::copy_n("\n", 1, d);
  Out.Commit(d);
}

namespace {

void WriteItems(TOutputFile& Out, const TWideStrings& Text, TMSTextFormating Format, bool Json) {
  for (const WideString& item : Text.Items()) WriteItem(Out, item, Format, Json);
}

struct TMetaField {
  const char* Name;
  bool IsNumber;
  WideString Text;    // text fields
  std::string Value;  // numbers and dates, already formatted
};

// Collects the non-empty fields in the record's order.
class TMetaCollector : public TSummaryVisitor {
 public:
  std::vector<TMetaField> Fields;
  void Text(const char* Name, const WideString& Value) override {
    if (!Value.empty()) Fields.push_back({Name, false, Value, {}});
  }
  void Integer(const char* Name, int32_t Value) override {
    if (Value != 0) Fields.push_back({Name, true, {}, std::to_string(Value)});
  }
  void Date(const char* Name, TDateTime Value) override {
    if (Value != 0) Fields.push_back({Name, false, {}, FormatLocalISO8601(Value)});
  }
};

std::vector<TMetaField> CollectMetadata(const TLKWordSummaryInformation& Summary) {
  TMetaCollector c;
  VisitSummary(Summary, c);
  return std::move(c.Fields);
}

}  // namespace

// ---------------------------------------------------------------------------
// TOutputFile

TOutputFile::TOutputFile(const std::string& Path)
    : FName(Path.empty() ? "standard output" : Path), FData(new char[kBufferSize]), FCapacity(kBufferSize) {
  if (Path.empty()) return;
  FHandle = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (FHandle < 0) throw Exception(std::string("cannot create file: ") + std::strerror(errno));
  FOwned = true;
}

TOutputFile::~TOutputFile() {
  try {
    Flush();
  } catch (...) {
    // The caller flushes explicitly to see errors; a destructor cannot report.
  }
  if (FOwned) ::close(FHandle);
}

char* TOutputFile::Reserve(size_t N) {
  if (FCapacity - FSize < N) {
    Flush();
    // One item larger than the buffer gets a buffer of its own size.
    if (N > FCapacity) {
      FData.reset(new char[N]);
      FCapacity = N;
    }
  }
  return FData.get() + FSize;
}

void TOutputFile::Append(std::string_view S) {
  char* d = Reserve(S.size());
  Commit(std::copy(S.begin(), S.end(), d));
}

void TOutputFile::Flush() {
  size_t done = 0;
  while (done < FSize) {
    ssize_t n = ::write(FHandle, FData.get() + done, FSize - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      FSize = 0;
      throw Exception(std::string("write error: ") + std::strerror(err));
    }
    done += static_cast<size_t>(n);
  }
  FSize = 0;
}

// ---------------------------------------------------------------------------
// Writers

void WriteText(TOutputFile& Out, const TWideStrings& Text, TMSTextFormating Format) {
  WriteItems(Out, Text, Format, false);
}

void WriteMetadataLines(TOutputFile& Out, const TLKWordSummaryInformation& Summary) {
  std::string b;
  for (const TMetaField& f : CollectMetadata(Summary)) {
    b += f.Name;
    b += ": ";
    if (!f.Value.empty()) {
      b += f.Value;
    } else {
      WideString oneLine = f.Text;
      for (char16_t& c : oneLine)
        if (c == u'\r' || c == u'\n') c = u' ';
      AppendUtf8(b, oneLine);
    }
    b += '\n';
  }
  Out.Append(b);
}

void WriteJsonRecord(TOutputFile& Out, const std::string& Path, const char* ReaderName, TMSWBaseDocument* Doc,
                     TMSTextFormating Format, const std::string* Error, const TWideStrings* Macros) {
  const bool loaded = Doc && !Error;
  std::string b;
  // Paths are bytes; decoding them as UTF-8 keeps the JSON valid whatever
  // they hold.
  b += "{\"path\":";
  AppendJsonString(b, Utf8ToWide(Path));
  b += ",\"reader\":";
  if (ReaderName) {
    b += '"';
    b += ReaderName;
    b += '"';
  } else {
    b += "null";
  }
  b += ",\"text\":\"";
  Out.Append(b);
  if (loaded) WriteItems(Out, Doc->Text(), Format, true);

  b = "\",\"metadata\":{";
  if (loaded) {
    bool first = true;
    for (const TMetaField& f : CollectMetadata(Doc->SummaryInformation())) {
      if (!first) b += ',';
      first = false;
      b += '"';
      b += f.Name;
      b += "\":";
      if (f.IsNumber)
        b += f.Value;
      else if (!f.Value.empty())
        AppendJsonString(b, AsciiToWide(f.Value));
      else
        AppendJsonString(b, f.Text);
    }
  }
  b += '}';
  if (Macros) {
    b += ",\"macros\":\"";
    Out.Append(b);
    if (loaded) WriteItems(Out, *Macros, tfPlainText, true);
    b.assign(1, '"');
  }
  b += ",\"error\":";
  if (Error)
    AppendJsonString(b, Utf8ToWide(*Error));
  else
    b += "null";
  b += "}\n";
  Out.Append(b);
}

}  // namespace lkw::tool
