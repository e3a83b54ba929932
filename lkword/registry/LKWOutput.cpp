#include "lkword/registry/LKWOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "lkword/framework/MarkdownRenderer.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/TextEncoding.h"
#include "lkword/registry/LKWDocInfo.h"

namespace lkw {

namespace {

// A long item goes out in slices of this many units, so that its encoded
// form is never buffered whole.
constexpr size_t kItemSlice = 64 * 1024;

// Where a slice of Item may end at or just before Max: not inside a CR LF,
// which normalising makes one line end, nor inside a surrogate pair.
template <typename TChar>
size_t SliceEnd(std::basic_string_view<TChar> Item, size_t Max) {
  const auto last = static_cast<uint32_t>(Item[Max - 1]), next = static_cast<uint32_t>(Item[Max]);
  const bool pair = (last == '\r' && next == '\n') || (sizeof(TChar) == 2 && last >= 0xD800 && last < 0xDC00);
  return pair ? Max - 1 : Max;
}

}  // namespace

void DeclareUtf8Charset(TObject*, WideString& Header) {
  static const std::u16string_view kCharset = u"charset=windows-";
  const size_t at = Header.find(kCharset);
  if (at == WideString::npos) return;
  size_t end = at + kCharset.size();
  while (end < Header.size() && IsAsciiDigit(Header[end])) ++end;
  Header.replace(at, end - at, u"charset=utf-8");
}

void WriteItem(TOutputFile& Out, std::u16string_view Item, TMSTextFormating Format, bool Json) {
  const bool plain = EndsLinesWithLF(Format);
  while (Item.size() > kItemSlice) {
    const size_t cut = SliceEnd(Item, kItemSlice);
    char* d = Out.Reserve(Json ? MaxJsonBytes(cut) : MaxUtf8Bytes(cut));
    Out.Commit(Json ? EncodeJson(d, Item.substr(0, cut), plain) : EncodeUtf8(d, Item.substr(0, cut), plain));
    Item.remove_prefix(cut);
  }
  const size_t room = (Json ? MaxJsonBytes(Item.size()) : MaxUtf8Bytes(Item.size())) + 4;
  char* d = Out.Reserve(room);
  d = Json ? EncodeJson(d, Item, plain) : EncodeUtf8(d, Item, plain);
  if (!plain) d = Json ? std::copy_n("\\r", 2, d) : std::copy_n("\r", 1, d);
  d = Json ? std::copy_n("\\n", 2, d) : std::copy_n("\n", 1, d);
  Out.Commit(d);
}

void WriteUtf8Item(TOutputFile& Out, std::string_view Item, TMSTextFormating Format) {
  // Readers give this sink lines joined by LF: no line ends to normalise.
  const bool plain = EndsLinesWithLF(Format);
  while (Item.size() > kItemSlice) {
    const size_t cut = SliceEnd(Item, kItemSlice);
    Out.Commit(CopyUtf8(Out.Reserve(cut), Item.substr(0, cut)));
    Item.remove_prefix(cut);
  }
  char* d = CopyUtf8(Out.Reserve(Item.size() + 2), Item);
  if (!plain) *d++ = '\r';
  *d++ = '\n';
  Out.Commit(d);
}

namespace {

void WriteItems(TOutputFile& Out, const TWideStrings& Text, TMSTextFormating Format, bool Json) {
  for (const WideString& item : Text.Items()) WriteItem(Out, item, Format, Json);
}

// Record fields and the keys search pipelines know them by (the names Tika
// gives the same properties of Office, OpenDocument and PDF files).
struct TTikaKey {
  std::string_view Field;
  const char* Key;
};
constexpr TTikaKey kTikaKeys[] = {
    {"AppName", "extended-properties:Application"},
    {"Author", "dc:creator"},
    {"CharCount", "meta:character-count"},
    {"Comments", "w:comments"},
    {"Created", "dcterms:created"},
    {"EditTime", "extended-properties:TotalTime"},
    {"Keywords", "meta:keyword"},
    {"LastAuthor", "meta:last-author"},
    {"LastPrinted", "meta:print-date"},
    {"LastSaved", "dcterms:modified"},
    {"PageCount", "xmpTPg:NPages"},
    {"RevNumber", "cp:revision"},
    {"Subject", "dc:subject"},
    {"Template", "extended-properties:Template"},
    {"Title", "dc:title"},
    {"WordCount", "meta:word-count"},
    {"Category", "cp:category"},
    {"PresentationTarget", "extended-properties:PresentationFormat"},
    {"LineCount", "meta:line-count"},
    {"ParagraphCount", "meta:paragraph-count"},
    {"SlideCount", "meta:slide-count"},
    {"NoteCount", "extended-properties:Notes"},
    {"Manager", "extended-properties:Manager"},
    {"Company", "extended-properties:Company"},
    {"CharCount2", "meta:character-count-with-spaces"},
};

// Collects the non-empty fields in the record's order.
class TMetaCollector : public TSummaryVisitor {
 public:
  explicit TMetaCollector(bool TikaKeys) : FTika(TikaKeys) {}
  std::vector<TMetaField> Fields;
  void Text(const char* Name, const WideString& Value) override {
    if (!Value.empty()) Fields.push_back({Key(Name), false, Value, {}});
  }
  void Integer(const char* Name, int32_t Value) override {
    if (Value != 0) Fields.push_back({Key(Name), true, {}, std::to_string(Value)});
  }
  void Date(const char* Name, TDateTime Value) override {
    // Tika's consumers expect UTC; the record holds local time.
    if (Value != 0)
      Fields.push_back({Key(Name), false, {}, FTika ? DateTimeToISO8601(LocalToUTC(Value)) + "Z" : FormatLocalISO8601(Value)});
  }

 private:
  std::string Key(const char* Name) const { return FTika ? TikaMetadataKey(Name) : std::string(Name); }
  bool FTika;
};

}  // namespace

std::vector<TMetaField> CollectMetadata(const TLKWordSummaryInformation& Summary, bool TikaKeys) {
  TMetaCollector c(TikaKeys);
  VisitSummary(Summary, c);
  return std::move(c.Fields);
}

// ---------------------------------------------------------------------------
// TOutputFile

TOutputFile::TOutputFile(std::string* Memory)
    : FMemory(Memory), FName("memory"), FData(new char[kBufferSize]), FCapacity(kBufferSize) {}

TOutputFile::TOutputFile(const std::string& Path)
    : FName(Path.empty() ? "standard output" : Path), FData(new char[kBufferSize]), FCapacity(kBufferSize) {
  if (Path.empty()) return;
  FHandle = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (FHandle < 0) throw EFCreateError(std::string("cannot create file: ") + std::strerror(errno));
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

void TOutputFile::MakeRoom(size_t N) {
  Flush();
  // One item larger than the buffer gets a buffer of its own size.
  if (N > FCapacity) {
    FData.reset(new char[N]);
    FCapacity = N;
  }
}

void TOutputFile::Append(std::string_view S) {
  char* d = Reserve(S.size());
  Commit(std::copy(S.begin(), S.end(), d));
}

void TOutputFile::Flush() {
  if (FMemory) {
    FMemory->append(FData.get(), FSize);
    FSize = 0;
    return;
  }
  if (!FWriteError.empty()) {
    FSize = 0;
    throw EWriteError(FWriteError);
  }
  size_t done = 0;
  while (done < FSize) {
    ssize_t n = ::write(FHandle, FData.get() + done, FSize - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      FWriteError = std::string("write error: ") + std::strerror(errno);
      FSize = 0;
      throw EWriteError(FWriteError);
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

namespace {

bool OutputCut(const TMSWBaseDocument& Doc) {
  for (const auto& w : Doc.Warnings())
    if (w.Message == kOutputCutWarning) return true;
  return false;
}

}  // namespace

std::vector<WideString> JoiningItems(const TWideStrings& List, TMSTextFormating Format, std::u16string_view Finish) {
  std::span<const WideString> items(List.Items());
  if (Format != tfPlainText && !items.empty() &&
      (items.front().starts_with(u"{\\rtf1") || items.front().starts_with(u"<html>")))
    items = items.subspan(1);
  if (!Finish.empty() && !items.empty() && items.back() == Finish) items = items.first(items.size() - 1);
  std::vector<WideString> out(items.begin(), items.end());
  // Items may hold several lines; blank ones are cut from the end line by
  // line. An RTF paragraph ends only at its \par, so one is put back.
  bool par = false;
  while (!out.empty()) {
    WideString& last = out.back();
    size_t end = last.find_last_not_of(u"\r\n");
    if (end == WideString::npos) {
      out.pop_back();
      continue;
    }
    ++end;
    size_t start = last.find_last_of(u"\r\n", end - 1);
    start = start == WideString::npos ? 0 : start + 1;
    std::u16string_view line(last.data() + start, end - start);
    const bool rtfPar = Format == tfRTF && line.starts_with(u"\\par");
    if (rtfPar) line.remove_prefix(4);
    if (Format == tfHTML && line == u"<p></p>") line = {};
    if (line.find_first_not_of(u" \t") != std::u16string_view::npos) {
      last.resize(end);
      break;
    }
    par = par || rtfPar;
    last.resize(start);
  }
  if (par) out.push_back(u"\\par ");
  return out;
}

void WriteAppendix(TOutputFile& Out, TMSWBaseDocument& Doc, TMSTextFormating Format, bool WithNotes, bool Json) {
  if (OutputCut(Doc)) return;
  const WideString finish = Doc.GetTextFinish();
  std::vector<const TWideStrings*> lists;
  if (const TWideStrings* apart = PageTextApart(Doc)) lists.push_back(apart);
  // Markdown holds the notes as footnotes of its text.
  const bool footnotes = Format == tfMarkdown && Doc.NotesInText();
  if (WithNotes)
    for (const TNamedText& n : SecondaryTexts(Doc))
      if (!footnotes || (std::string_view(n.Name) != "footnotes" && std::string_view(n.Name) != "endnotes"))
        lists.push_back(n.Text);
  // What follows the body shares its length limit, counted the same way.
  const bool limited = Doc.MaxTextLength() > 0;
  int64_t room = Doc.MaxTextLength() - Doc.CountedTextLength();
  for (const TWideStrings* list : lists)
    for (const WideString& item : JoiningItems(*list, Format, finish)) {
      const auto need = static_cast<int64_t>(item.size()) + 2;
      if (limited && need > room) {
        if (room > 0) WriteItem(Out, std::u16string_view(item).substr(0, static_cast<size_t>(room)), Format, Json);
        Doc.AddWarning(kOutputCutWarning);
        return;
      }
      room -= need;
      if (Format == tfMarkdown) {
        // The readers keep these lists as plain text: each line a paragraph.
        if (item.find_first_not_of(u" \t") == WideString::npos) continue;
        WideString md;
        AppendMarkdownEscaped(md, item.substr(std::min(item.find_first_not_of(u" \t"), item.size())), true);
        WriteItem(Out, u"", Format, Json);
        WriteItem(Out, md, Format, Json);
        continue;
      }
      WriteItem(Out, item, Format, Json);
    }
}

void WriteBody(TOutputFile& Out, TMSWBaseDocument& Doc, TMSTextFormating Format, bool WithNotes, bool Json) {
  std::span<const WideString> body(Doc.Text().Items());
  const bool framed = Doc.TextEndsWithFinish();
  if (framed) body = body.first(body.size() - 1);
  for (const WideString& item : body) WriteItem(Out, item, Format, Json);
  WriteAppendix(Out, Doc, Format, WithNotes, Json);
  if (framed) WriteItem(Out, Doc.Text().Items().back(), Format, Json);
}

std::string TikaMetadataKey(std::string_view RecordName) {
  for (const TTikaKey& k : kTikaKeys)
    if (k.Field == RecordName) return k.Key;
  return "lkword:" + std::string(RecordName);
}

void WriteMetadataLines(TOutputFile& Out, const TLKWordSummaryInformation& Summary, bool TikaKeys) {
  std::string b;
  for (const TMetaField& f : CollectMetadata(Summary, TikaKeys)) {
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

std::vector<std::string> WarningLines(const TMSWBaseDocument& Doc) {
  std::vector<std::string> lines;
  for (const auto& w : Doc.Warnings())
    lines.push_back(w.Count > 1 ? w.Message + " (" + std::to_string(w.Count) + " times)" : w.Message);
  return lines;
}

namespace {

const char* FormatName(TMSTextFormating Format) {
  switch (Format) {
    case tfRTF: return "rtf";
    case tfHTML: return "html";
    case tfMarkdown: return "markdown";
    case tfPlainText: break;
  }
  return "text";
}

void AppendJsonName(std::string& b, std::string_view Name) {
  // Keys are ASCII names of our own; no escaping needed.
  b += '"';
  b += Name;
  b += "\":";
}

// A value that is one of our own ASCII names (a reader, an error kind), or
// null.
void AppendOwnNameOrNull(std::string& b, const char* Name) {
  if (!Name) {
    b += "null";
    return;
  }
  b += '"';
  b += Name;
  b += '"';
}

}  // namespace

void WriteJsonRecord(TOutputFile& Out, const TJsonRecord& R) {
  const bool loaded = R.Doc && R.Loaded;
  std::string b;
  // Paths are bytes; decoding them as UTF-8 keeps the JSON valid whatever
  // they hold.
  b += "{\"path\":";
  AppendJsonString(b, Utf8ToWide(R.Path));
  b += ",\"reader\":";
  AppendOwnNameOrNull(b, R.Reader);
  b += ",\"format\":\"";
  b += FormatName(R.Format);
  b += "\",\"text\":\"";
  Out.Append(b);
  if (loaded) WriteBody(Out, *R.Doc, R.Format, false, true);

  b = "\",\"metadata\":{";
  bool first = true;
  auto separate = [&] {
    if (!first) b += ',';
    first = false;
  };
  if (R.TikaKeys && R.MimeType) {
    separate();
    AppendJsonName(b, "Content-Type");
    AppendOwnNameOrNull(b, R.MimeType);
  }
  const int32_t pages = R.Doc ? PageCountOf(*R.Doc) : -1;
  if (loaded) {
    bool hasPages = false;
    for (const TMetaField& f : CollectMetadata(R.Doc->SummaryInformation(), R.TikaKeys)) {
      separate();
      AppendJsonName(b, f.Name);
      hasPages = hasPages || f.Name == "xmpTPg:NPages";
      if (f.IsNumber)
        b += f.Value;
      else if (!f.Value.empty())
        AppendJsonString(b, AsciiToWide(f.Value));
      else
        AppendJsonString(b, f.Text);
    }
    if (R.TikaKeys && !hasPages && pages > 0) {
      separate();
      AppendJsonName(b, "xmpTPg:NPages");
      b += std::to_string(pages);
    }
  }
  b += '}';
  if (R.WithNotes) {
    b += ",\"notes\":{";
    if (loaded) {
      bool firstNote = true;
      const WideString finish = R.Doc->GetTextFinish();
      for (const TNamedText& n : SecondaryTexts(*R.Doc)) {
        const std::vector<WideString> items = JoiningItems(*n.Text, R.Format, finish);
        if (items.empty()) continue;
        if (!firstNote) b += ',';
        firstNote = false;
        AppendJsonName(b, n.Name);
        b += '"';
        Out.Append(b);
        for (const WideString& item : items) WriteItem(Out, item, tfPlainText, true);
        b.assign(1, '"');
      }
    }
    b += '}';
  }
  if (R.WithMacros) {
    b += ",\"macros\":\"";
    Out.Append(b);
    const TWideStrings* macros = loaded ? MacroText(*R.Doc) : nullptr;
    if (macros) WriteItems(Out, *macros, tfPlainText, true);
    b.assign(1, '"');
  }
  b += ",\"pages\":";
  b += loaded && pages >= 0 ? std::to_string(pages) : "null";
  b += ",\"warnings\":[";
  if (R.Doc) {
    bool firstWarning = true;
    for (const std::string& w : WarningLines(*R.Doc)) {
      if (!firstWarning) b += ',';
      firstWarning = false;
      AppendJsonString(b, Utf8ToWide(w));
    }
  }
  b += "],\"error\":";
  if (R.Error)
    AppendJsonString(b, Utf8ToWide(*R.Error));
  else
    b += "null";
  b += ",\"error_kind\":";
  AppendOwnNameOrNull(b, R.ErrorKind);
  b += R.Partial ? ",\"partial\":true" : ",\"partial\":false";
  b += ",\"page_texts\":";
  const std::vector<WideString>* pageTexts = loaded ? PageTextsOf(*R.Doc) : nullptr;
  if (!pageTexts) {
    b += "null";
  } else {
    b += '[';
    for (size_t i = 0; i < pageTexts->size(); ++i) {
      if (i) b += ',';
      AppendJsonString(b, (*pageTexts)[i]);
      // A page at a time: a long document's pages need not be held twice.
      Out.Append(b);
      b.clear();
    }
    b += ']';
  }
  b += "}\n";
  Out.Append(b);
}

}  // namespace lkw
