// The reader's load sequence, cross-reference sections (tables, streams,
// hybrids, the /Prev chain), repair by scanning, object lookup with object
// streams unpacked, and stream extraction.
#include "lkword/pdf/LKWPDF.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>
#include <unordered_set>

#include "lkword/pdf/LKWPDFLayout.h"
#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

constexpr size_t kStartXRefWindow = 1 << 20;      // where the last startxref is looked for
constexpr size_t kHeaderWindow = 1024;            // where "%PDF-" may stand
constexpr size_t kEOFWindow = 1024;               // where a complete file's last "%%EOF" stands
constexpr int kMaxSections = 4096;                // /Prev chain length
constexpr size_t kObjStmCacheBytes = 64u << 20;   // unpacked object streams kept
constexpr int kMaxLookupDepth = 16;               // nested lookups (/Length of an object stream ...)
constexpr int64_t kDefaultPDFStreamSize = int64_t{256} << 20;

// PDF's own white space, which takes NUL and form feed too.
inline bool IsWs(char c) { return IsPDFWhiteSpace(static_cast<uint8_t>(c)); }

// Lowered names of a stream dictionary's /Filter, without their slash.
std::vector<std::string> FilterNamesOf(const TPDFObject& Filter) {
  std::vector<std::string> names;
  if (Filter.IsName()) {
    names.push_back(LowerAscii(Filter.Str));
  } else if (Filter.IsArray()) {
    for (const auto& f : Filter.Items)
      if (f.IsName()) names.push_back(LowerAscii(f.Str));
  }
  return names;
}

// Splits a filter list such as "/ascii85decode /flatedecode".
std::vector<std::string> SplitFilterList(std::string_view List) {
  std::vector<std::string> names;
  size_t i = 0;
  while (i < List.size()) {
    while (i < List.size() && (IsWs(List[i]) || List[i] == '/' || List[i] == '[' || List[i] == ']')) ++i;
    size_t j = i;
    while (j < List.size() && !IsWs(List[j]) && List[j] != '/' && List[j] != '[' && List[j] != ']') ++j;
    if (j > i) names.push_back(LowerAscii(List.substr(i, j - i)));
    i = j;
  }
  return names;
}

int ClampInt(int64_t V, int Lo, int Hi) { return static_cast<int>(std::clamp<int64_t>(V, Lo, Hi)); }

}  // namespace

// One cross-reference section: its entries in the order they are applied
// (a hybrid's stream entries before its table's) and its trailer.
struct TLKPDFReader::TSection {
  struct Entry {
    int64_t Num;
    TLKPDFXRefKind Kind;
    uint16_t Gen;
    int32_t Container;
    int64_t Offset;
  };
  std::vector<Entry> Entries;
  TPDFObject Trailer;
  int64_t Prev = -1;
  std::string Error;
};

// ---------------------------------------------------------------------------
// Construction and clearing

TLKPDFReader::TLKPDFReader(TComponent* AOwner)
    : TMSWBaseDocument(AOwner),
      FXRefs(std::make_unique<TLKPDFXRefList>()),
      FFonts(std::make_unique<TLKPDFFonts>(this)),
      FPages(std::make_unique<TLKPDFPages>(this)) {
  FMaxStreamSize = kDefaultPDFStreamSize;
}

TLKPDFReader::~TLKPDFReader() = default;

void TLKPDFReader::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  RootTag.clear();
  InfoTag.clear();
  EncryptTag.clear();
  StartCrossRef = 0;
  FDocID.clear();
  FFirstDocID.clear();
  FEncryption.reset();
  if (FXRefs) FXRefs->Clear();
  if (FPages) FPages->Clear();
  if (FFonts) FFonts->Clear();
  FData = {};
  FDataOwner.reset();
  FHeaderOffset = 0;
  FTrailer = TPDFObject();
  FEncryptDict = TPDFObject();
  FEncryptObjNum = -1;
  FRepaired = false;
  FScanned = false;
  FScanTable.clear();
  FScanTrailers.clear();
  FSortedOffsets.clear();
  FExtents.clear();
  FObjStms.clear();
  FObjStmBytes = 0;
  FLookupDepth = 0;
  FDecompressedTotal = 0;
  FPageCount = 0;
  FContentLost = 0;
  FNeedAppearances = -1;
  FAnnotationText.Clear();
  FPageTexts.clear();
}

bool TLKPDFReader::IsPasswordProtected() { return FEncryption && FEncryption->Enabled(); }

// ---------------------------------------------------------------------------
// Load sequence

void TLKPDFReader::LoadFromStream(TStream& AStream) try {
  TMSWBaseDocument::LoadFromStream(AStream);
  // A file's mapping is referenced, not copied.
  TSharedBytes data = ShareRemainingBytes(AStream);
  FDataOwner = std::move(data.Owner);
  FData = data.Bytes;
  if (!FindHeader()) throw EPDFError(SPDFNotValid);
  // The dense part of the table is bounded by the file's size, whatever
  // numbers the sections claim.
  FXRefs->SetLimit(static_cast<int>(std::clamp<size_t>(FData.size(), 65536, 1u << 23)));

  std::string sectionError;
  const int64_t startXRef = FindStartXRef();
  const bool ok = startXRef >= 0 && WalkSections(startXRef, sectionError);
  TakeTrailerValues();
  BuildOffsetIndex();
  TObjText root;
  if (!ok || RootTag.empty() || !LocateObject(static_cast<int32_t>(PDFStrToInt64Def(RootTag, -1)), root)) {
    Repair();
    // Nothing to read even after the repair: the section's own error says why.
    if (!sectionError.empty() && !LocateObject(static_cast<int32_t>(PDFStrToInt64Def(RootTag, -1)), root))
      throw EPDFError(sectionError);
  }
  // A file whose end is gone lost what stood there (the last revision, the
  // cross-reference data at least), even when an earlier revision reads.
  if (!EndsComplete())
    MarkPartial("the file ends early: it was cut short, and what stood after the cut is lost");

  ParseEncryption(&AStream);
  // Each page's text goes out as soon as the page is read, so the header
  // comes first; a lost catalog still leaves the pages found by scanning.
  if (ParseItems().Contains(wpiText)) {
    Output().BeginDocument();
    const RawByteString body =
        RootTag.empty() ? RawByteString() : GetBodyByRefNo(static_cast<int32_t>(PDFStrToInt64Def(RootTag, 0)));
    ProcessPages(AStream, body);
  }
  ProcessMetaData(AStream);
  if (ParseItems().Contains(wpiText)) Output().EndDocument();
} catch (...) {
  RethrowAsException();
}

size_t FindPDFHeader(std::string_view Data) { return FindTextAscii(Data.substr(0, kHeaderWindow), "%PDF-"); }

namespace {

// "%PDF" at the very start, whatever follows (a damaged "%PDF-").
bool GarbledHeaderAtStart(std::string_view Data) { return Data.size() >= 4 && SameTextAscii(Data.substr(0, 4), std::string_view("%PDF")); }

// Where "N G obj" begins a line of Data; npos when nowhere.
size_t FindObjectHeader(std::string_view Data) {
  for (size_t at = Data.find("obj"); at != std::string_view::npos; at = Data.find("obj", at + 3)) {
    size_t i = at;
    int groups = 0;
    while (groups < 2) {
      const size_t ws = i;
      while (i > 0 && IsWs(Data[i - 1])) --i;
      if (i == ws) break;
      const size_t digits = i;
      while (i > 0 && IsAsciiDigit(Data[i - 1])) --i;
      if (i == digits) break;
      ++groups;
    }
    if (groups == 2 && (i == 0 || Data[i - 1] == '\n' || Data[i - 1] == '\r')) return i;
  }
  return std::string_view::npos;
}

}  // namespace

bool LooksLikePDFBody(std::string_view Head, std::string_view Tail) {
  Head = Head.substr(0, kHeaderWindow);
  if (FindObjectHeader(Head) == std::string_view::npos) return false;
  for (const std::string_view keyword : {"endobj", "xref", "trailer"})
    if (Head.find(keyword) != std::string_view::npos || Tail.find(keyword) != std::string_view::npos) return true;
  return false;
}

bool LooksLikePDFBody(TStream& Stream) {
  std::string head(kHeaderWindow, '\0'), tail(kEOFWindow * 4, '\0');
  head.resize(static_cast<size_t>(std::max<int64_t>(Stream.Read(head.data(), static_cast<int64_t>(head.size())), 0)));
  const int64_t size = Stream.Size();
  const int64_t from = std::max<int64_t>(size - static_cast<int64_t>(tail.size()), 0);
  Stream.Seek(from, soBeginning);
  tail.resize(static_cast<size_t>(std::max<int64_t>(Stream.Read(tail.data(), static_cast<int64_t>(tail.size())), 0)));
  return LooksLikePDFBody(head, tail);
}

bool IsPDF(TStream& Stream) {
  char head[kHeaderWindow];
  const int64_t n = Stream.Read(head, sizeof head);
  if (n <= 0) return false;
  const std::string_view h(head, static_cast<size_t>(n));
  return FindPDFHeader(h) != std::string_view::npos || GarbledHeaderAtStart(h);
}

bool TLKPDFReader::FindHeader() {
  size_t p = FindPDFHeader(FData);
  if (p == std::string_view::npos) {
    // A garbled or missing header still opens when objects follow, as
    // other readers do; offsets then count from the start of the file.
    const std::string_view data(FData);
    const std::string_view tail = data.substr(data.size() - std::min(data.size(), kEOFWindow * 4));
    if (!GarbledHeaderAtStart(data) && !LooksLikePDFBody(data, tail)) return false;
    AddWarning("the file has no valid PDF header");
    FHeaderOffset = 0;
    FVersion.clear();
    return true;
  }
  FHeaderOffset = p;
  FVersion.clear();
  for (size_t i = p + 5; i < FData.size() && i < p + 9; ++i) {
    const char c = FData[i];
    if (!IsAsciiDigit(c) && c != '.') break;
    FVersion += c;
  }
  return true;
}

bool TLKPDFReader::EndsComplete() const {
  std::string_view data(FData);
  // Padding after the last line is common and harmless.
  const size_t end = data.find_last_not_of(std::string_view("\0\t\n\f\r ", 6));
  if (end == std::string_view::npos) return false;
  data = data.substr(0, end + 1);
  const std::string_view window = data.substr(data.size() - std::min(data.size(), kEOFWindow));
  const size_t eof = window.rfind("%%EOF");
  if (eof == std::string_view::npos) {
    // Some writers stop after the offset that startxref gives.
    const size_t digits = window.find_last_not_of("0123456789");
    if (digits == std::string_view::npos || digits + 1 == window.size()) return false;
    const size_t word = window.find_last_not_of(std::string_view("\0\t\n\f\r ", 6), digits);
    return word != std::string_view::npos && word != digits && window.substr(0, word + 1).ends_with("startxref");
  }
  // Junk after the line is harmless; the start of another revision means
  // the file was cut inside it.
  std::string_view after = window.substr(eof + 5);
  const size_t first = after.find_first_not_of(std::string_view("\0\t\n\f\r ", 6));
  if (first == std::string_view::npos) return true;
  after.remove_prefix(first);
  if (IsAsciiDigit(after.front())) return false;
  for (const std::string_view keyword : {"obj", "xref", "trailer"})
    if (after.find(keyword) != std::string_view::npos) return false;
  return true;
}

int64_t TLKPDFReader::FindStartXRef() const {
  const std::string_view data(FData);
  const size_t from = data.size() > kStartXRefWindow ? data.size() - kStartXRefWindow : 0;
  const std::string_view tail = data.substr(from);
  // The last startxref that begins a line; failing that, the last at all.
  size_t pos = std::string_view::npos, any = std::string_view::npos;
  size_t search = tail.size();
  while (true) {
    const size_t q = tail.rfind("startxref", search);
    if (q == std::string_view::npos) break;
    if (any == std::string_view::npos) any = q;
    if (q == 0 || tail[q - 1] == '\n' || tail[q - 1] == '\r') {
      pos = q;
      break;
    }
    if (q == 0) break;
    search = q - 1;
  }
  if (pos == std::string_view::npos) pos = any;
  if (pos == std::string_view::npos) return -1;
  size_t i = pos + 9;
  while (i < tail.size() && IsWs(tail[i])) ++i;
  int64_t v = 0;
  size_t digits = 0;
  while (i < tail.size() && IsAsciiDigit(tail[i]) && digits < 18) {
    v = v * 10 + (tail[i] - '0');
    ++i;
    ++digits;
  }
  return digits > 0 ? v : -1;
}

bool TLKPDFReader::WalkSections(int64_t StartOffset, std::string& Error) {
  std::unordered_set<int64_t> visited;
  int64_t off = StartOffset;
  int sections = 0;
  while (off >= 0 && sections < kMaxSections) {
    if (!visited.insert(off).second) break;  // a /Prev loop ends the walk
    TSection s;
    if (!ParseSectionAt(off, s)) {
      Error = s.Error;
      return false;
    }
    ++sections;
    ApplyEntries(s);
    MergeTrailer(s.Trailer);
    if (off >= 0 && static_cast<uint64_t>(off) < FData.size()) FSortedOffsets.push_back(static_cast<size_t>(off));
    off = s.Prev;
  }
  return true;
}

bool TLKPDFReader::ParseSectionAt(int64_t Offset, TSection& Section) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int64_t base = Offset;
    if (attempt == 1) {
      if (FHeaderOffset == 0) break;
      base += static_cast<int64_t>(FHeaderOffset);
    }
    if (base < 0 || static_cast<uint64_t>(base) >= FData.size()) continue;
    TPDFLexer lx(FData, static_cast<size_t>(base));
    TPDFToken t;
    if (!lx.Next(t)) continue;
    if (t.Kind == TPDFTokenKind::tkKeyword && t.Text == "xref") return LoadCrossXRefTable(t.End, Section);
    if (t.Kind == TPDFTokenKind::tkInteger) {
      if (LoadCrossXRefStream(t.Start, Section, false)) return true;
      if (!Section.Error.empty()) return false;
    }
  }
  return false;
}

bool TLKPDFReader::LoadCrossXRefTable(size_t Pos, TSection& Section) {
  const std::string_view d(FData);
  const size_t n = d.size();
  size_t p = Pos;
  auto skipWs = [&] {
    while (p < n && IsWs(d[p])) ++p;
  };
  auto readUInt = [&](uint64_t& v) {
    size_t k = 0;
    v = 0;
    while (p < n && IsAsciiDigit(d[p])) {
      if (k < 19) v = v * 10 + static_cast<uint64_t>(d[p] - '0');
      ++p;
      ++k;
    }
    return k > 0;
  };
  std::vector<TSection::Entry> table;
  for (;;) {
    skipWs();
    if (p >= n) return false;
    if (IsAsciiDigit(d[p])) {
      uint64_t start = 0, count = 0;
      readUInt(start);
      skipWs();
      if (!readUInt(count)) return false;
      bool first = true;
      for (uint64_t i = 0; i < count; ++i) {
        const size_t entryStart = p;
        uint64_t off = 0, gen = 0;
        skipWs();
        if (!readUInt(off)) {
          p = entryStart;
          break;
        }
        skipWs();
        if (!readUInt(gen)) {
          p = entryStart;
          break;
        }
        skipWs();
        if (p >= n || (d[p] != 'n' && d[p] != 'f')) {
          p = entryStart;
          break;
        }
        const bool inUse = d[p] == 'n';
        ++p;
        // Some writers number a table from 1 although it starts with the
        // head of the free list, the entry of object 0.
        if (first && start == 1 && !inUse && gen == 65535 && off == 0) start = 0;
        first = false;
        const uint64_t num = start + i;
        if (num > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) continue;
        table.push_back({static_cast<int64_t>(num), inUse ? xrkUnCompressed : xrkFree,
                         static_cast<uint16_t>(std::min<uint64_t>(gen, 65535)), 0,
                         static_cast<int64_t>(std::min<uint64_t>(off, static_cast<uint64_t>(INT64_MAX / 2)))});
      }
      continue;
    }
    if (d.compare(p, 7, "trailer") == 0) {
      TPDFLexer lx(d, p + 7);
      TPDFObject dict;
      if (!ParsePDFObject(lx, dict) || !dict.IsDict()) return false;
      Section.Trailer = std::move(dict);
      break;
    }
    return false;
  }
  // A hybrid file's stream holds the objects its table lists as free.
  if (const TPDFObject* stm = Section.Trailer.Get("XRefStm"); stm && stm->IsInteger() && stm->IntValue >= 0 &&
                                                              static_cast<uint64_t>(stm->IntValue) < n) {
    TSection hybrid;
    if (LoadCrossXRefStream(static_cast<size_t>(stm->IntValue), hybrid, true)) {
      Section.Entries = std::move(hybrid.Entries);
    } else {
      AddWarning("the cross-reference stream of a hybrid file is unreadable");
    }
  }
  Section.Entries.insert(Section.Entries.end(), table.begin(), table.end());
  if (const TPDFObject* prev = Section.Trailer.Get("Prev"); prev && prev->IsInteger()) Section.Prev = prev->IntValue;
  return true;
}

bool TLKPDFReader::LoadCrossXRefStream(size_t Pos, TSection& Section, bool Hybrid) {
  TPDFLexer lx(FData, Pos);
  int32_t num, gen;
  if (!ParsePDFObjectHeader(lx, num, gen)) return false;
  TPDFObject dict;
  if (!ParsePDFObject(lx, dict) || !dict.IsDict()) return false;
  TPDFToken t;
  if (!lx.Next(t) || t.Kind != TPDFTokenKind::tkKeyword || t.Text != "stream") return false;
  const size_t dataStart = PDFStreamDataStart(FData, t.End);
  // The length must be direct here: the table that would resolve it is
  // still being read.
  const TPDFObject* len = dict.Get("Length");
  const int64_t length = (len && len->IsInteger()) ? len->IntValue : -1;
  size_t dataEnd, afterEnd;
  StreamRange(FData, dataStart, length, FData.size(), dataEnd, afterEnd);
  const TPDFObject* filter = dict.Get("Filter");
  const RawByteString data = DecodeStream(dict, std::string_view(FData).substr(dataStart, dataEnd - dataStart), 0, 0,
                                          filter ? FilterNamesOf(*filter) : std::vector<std::string>());
  const TPDFObject* w = dict.Get("W");
  if (!w || !w->IsArray() || w->Count() < 3) {
    Section.Error = SPDFXRefWNotValid;
    return false;
  }
  int widths[3];
  for (int i = 0; i < 3; ++i) {
    const int64_t v = w->Items[i].AsInt(-1);
    if (v < 0 || v > 8) {
      Section.Error = SPDFXRefWNotValid;
      return false;
    }
    widths[i] = static_cast<int>(v);
  }
  const size_t entrySize = static_cast<size_t>(widths[0] + widths[1] + widths[2]);
  if (widths[0] > 4 || entrySize == 0) {
    Section.Error = SPDFXRefWNotValid;
    return false;
  }
  if (data.size() % entrySize != 0) {
    Section.Error = SPDFXRefLengthNotValid;
    return false;
  }
  std::vector<int64_t> index;
  if (const TPDFObject* idx = dict.Get("Index"); idx && idx->IsArray()) {
    for (const auto& v : idx->Items) index.push_back(v.AsInt(-1));
  }
  if (index.size() < 2) {
    index.assign({0, static_cast<int64_t>(data.size() / entrySize)});
  }
  size_t pos = 1;
  for (size_t k = 0; k + 1 < index.size(); k += 2) {
    const int64_t first = index[k], count = index[k + 1];
    if (first < 0 || count < 0) break;
    for (int64_t j = 0; j < count && pos + entrySize <= data.size() + 1; ++j, pos += entrySize) {
      const int64_t type = widths[0] == 0 ? 1 : static_cast<int64_t>(ReadBigEndian(data, pos, widths[0]));
      const uint64_t f2 = ReadBigEndian(data, pos + static_cast<size_t>(widths[0]), widths[1]);
      const uint64_t f3 = ReadBigEndian(data, pos + static_cast<size_t>(widths[0] + widths[1]), widths[2]);
      const int64_t objNum = first + j;
      if (objNum > std::numeric_limits<int32_t>::max()) break;
      if (type == 0) {
        Section.Entries.push_back({objNum, xrkFree, static_cast<uint16_t>(std::min<uint64_t>(f3, 65535)), 0, 0});
      } else if (type == 1) {
        Section.Entries.push_back({objNum, xrkUnCompressed, static_cast<uint16_t>(std::min<uint64_t>(f3, 65535)), 0,
                                   static_cast<int64_t>(std::min<uint64_t>(f2, INT64_MAX / 2))});
      } else if (type == 2) {
        if (f2 > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) continue;
        Section.Entries.push_back({objNum, xrkCompressed, 0, static_cast<int32_t>(f2),
                                   static_cast<int64_t>(std::min<uint64_t>(f3, INT32_MAX))});
      }
      // Other types are references to the null object: left unassigned.
    }
  }
  if (!Hybrid) {
    Section.Trailer = std::move(dict);
    if (const TPDFObject* prev = Section.Trailer.Get("Prev"); prev && prev->IsInteger()) Section.Prev = prev->IntValue;
  }
  return true;
}

void TLKPDFReader::ApplyEntries(const TSection& Section) {
  for (const auto& e : Section.Entries) {
    if (e.Num <= 0 || e.Num > std::numeric_limits<int32_t>::max()) continue;
    if (e.Kind == xrkUnCompressed && (e.Offset <= 0 || static_cast<uint64_t>(e.Offset) >= FData.size())) continue;
    TLKPDFXRef* item = FXRefs->AddItem(static_cast<int>(e.Num));
    if (!item || item->Assigned()) continue;  // newer sections win
    item->SetKind(e.Kind);
    item->SetGeneration(e.Gen);
    item->SetObjNumber(e.Container);
    item->SetOffset(e.Offset);
    item->SetAssigned(true);
  }
}

void TLKPDFReader::MergeTrailer(const TPDFObject& Dict) {
  if (!Dict.IsDict()) return;
  if (!FTrailer.IsDict()) {
    FTrailer = Dict;
    return;
  }
  for (size_t i = 0; i < Dict.Keys.size(); ++i)
    if (!FTrailer.Get(Dict.Keys[i])) FTrailer.Set(Dict.Keys[i], Dict.Items[i]);
}

void TLKPDFReader::TakeTrailerValues() {
  auto refText = [&](const char* key) -> RawByteString {
    const TPDFObject* v = FTrailer.Get(key);
    return (v && v->IsRef()) ? std::to_string(v->RefNum) : RawByteString();
  };
  RootTag = refText("Root");
  InfoTag = refText("Info");
  EncryptTag = refText("Encrypt");
  FEncryptDict = TPDFObject();
  FEncryptObjNum = -1;
  if (const TPDFObject* e = FTrailer.Get("Encrypt")) {
    if (e->IsDict()) FEncryptDict = *e;
    else if (e->IsRef()) FEncryptObjNum = e->RefNum;
  }
  FDocID.clear();
  FFirstDocID.clear();
  if (const TPDFObject* id = FTrailer.Get("ID"); id && id->IsArray()) {
    for (size_t i = 0; i < id->Items.size(); ++i) {
      if (!id->Items[i].IsString()) continue;
      if (FDocID.empty() && i == 0) FFirstDocID = id->Items[i].Str;
      FDocID += id->Items[i].Str;
    }
  }
}

void TLKPDFReader::BuildOffsetIndex() {
  FXRefs->ForEach([&](int, const TLKPDFXRef& e) {
    if (e.Assigned() && e.Kind() == xrkUnCompressed) FSortedOffsets.push_back(static_cast<size_t>(e.Offset()));
  });
  for (const auto& [num, off] : FScanTable) FSortedOffsets.push_back(static_cast<size_t>(off));
  std::sort(FSortedOffsets.begin(), FSortedOffsets.end());
  FSortedOffsets.erase(std::unique(FSortedOffsets.begin(), FSortedOffsets.end()), FSortedOffsets.end());
  FExtents.clear();
}

// ---------------------------------------------------------------------------
// Repair

void TLKPDFReader::ScanObjects() {
  if (FScanned) return;
  FScanned = true;
  const std::string_view d(FData);
  size_t p = 0;
  while ((p = d.find("obj", p)) != std::string_view::npos) {
    const size_t after = p + 3;
    const size_t at = p;
    p = after;
    if (after < d.size() && IsPDFRegular(static_cast<uint8_t>(d[after]))) continue;
    size_t q = at;
    if (q == 0 || !IsWs(d[q - 1])) continue;
    while (q > 0 && IsWs(d[q - 1])) --q;
    const size_t genEnd = q;
    while (q > 0 && IsAsciiDigit(d[q - 1])) --q;
    if (q == genEnd || genEnd - q > 5) continue;
    const size_t genStart = q;
    if (q == 0 || !IsWs(d[q - 1])) continue;
    while (q > 0 && IsWs(d[q - 1])) --q;
    const size_t numEnd = q;
    while (q > 0 && IsAsciiDigit(d[q - 1])) --q;
    if (q == numEnd || numEnd - q > 10) continue;
    if (q > 0 && IsPDFRegular(static_cast<uint8_t>(d[q - 1]))) continue;
    const int64_t num = PDFStrToInt64Def(d.substr(q, numEnd - q), -1);
    (void)genStart;
    if (num <= 0 || num > std::numeric_limits<int32_t>::max()) continue;
    FScanTable[static_cast<int32_t>(num)] = static_cast<int64_t>(q);  // the last definition wins
  }
  p = 0;
  while ((p = d.find("trailer", p)) != std::string_view::npos) {
    FScanTrailers.push_back(static_cast<int64_t>(p + 7));
    p += 7;
  }
}

void TLKPDFReader::Repair() {
  FRepaired = true;
  AddWarning("the cross-reference data was rebuilt by scanning the file");
  ScanObjects();
  FXRefs->Clear();
  std::vector<std::pair<int64_t, int32_t>> byOffset;  // file order
  for (const auto& [num, off] : FScanTable) {
    TLKPDFXRef* e = FXRefs->AddItem(num);
    if (!e) continue;
    TPDFLexer lx(FData, static_cast<size_t>(off));
    int32_t n, g;
    if (!ParsePDFObjectHeader(lx, n, g)) continue;
    e->SetKind(xrkUnCompressed);
    e->SetOffset(off);
    e->SetGeneration(static_cast<uint16_t>(g));
    e->SetAssigned(true);
    byOffset.emplace_back(off, num);
  }
  std::sort(byOffset.begin(), byOffset.end());
  FSortedOffsets.clear();
  FObjStms.clear();
  FObjStmBytes = 0;
  BuildOffsetIndex();

  // Objects kept in object streams, and trailer candidates among the
  // objects: cross-reference streams and the catalog.
  std::vector<int32_t> xrefStreams;
  int32_t catalog = -1;
  for (const auto& [off, num] : byOffset) {
    const std::string_view window = std::string_view(FData).substr(static_cast<size_t>(off), 4096);
    const size_t dictEnd = window.find("stream");
    const std::string_view head = window.substr(0, dictEnd);
    if (head.find("/ObjStm") != std::string_view::npos) {
      if (const TObjStm* stm = GetObjStm(num)) {
        for (size_t index = 0; index < stm->Entries.size(); ++index) {
          TLKPDFXRef* e = FXRefs->AddItem(stm->Entries[index].first);
          if (!e) continue;
          // An object written after this stream replaces its copy in it.
          if (e->Assigned() && e->Kind() == xrkUnCompressed && e->Offset() > off) continue;
          if (e->Assigned() && e->Kind() == xrkCompressed) continue;
          e->SetKind(xrkCompressed);
          e->SetObjNumber(num);
          e->SetOffset(static_cast<int64_t>(index));
          e->SetGeneration(0);
          e->SetAssigned(true);
        }
      }
    }
    if (head.find("/XRef") != std::string_view::npos) xrefStreams.push_back(num);
    if (head.find("/Catalog") != std::string_view::npos) catalog = num;
  }
  FExtents.clear();

  // Trailers from the end of the file backwards, newest first.
  for (auto it = FScanTrailers.rbegin(); it != FScanTrailers.rend(); ++it) {
    TPDFLexer lx(FData, static_cast<size_t>(*it));
    TPDFObject dict;
    if (ParsePDFObject(lx, dict) && dict.IsDict()) MergeTrailer(dict);
  }
  for (auto it = xrefStreams.rbegin(); it != xrefStreams.rend(); ++it) {
    TPDFObject dict;
    if (GetObject(*it, dict) && dict.IsDict() && dict.Get("Root")) MergeTrailer(dict);
  }
  TakeTrailerValues();
  TObjText root;
  if ((RootTag.empty() || !LocateObject(static_cast<int32_t>(PDFStrToInt64Def(RootTag, -1)), root)) && catalog > 0) {
    FTrailer.Set("Root", TPDFObject::MakeRef(catalog, 0));
    TakeTrailerValues();
  }
}

// ---------------------------------------------------------------------------
// Lookup

bool TLKPDFReader::HeaderAt(int64_t Offset, int32_t ObjNum, size_t& ValueStart, int32_t& Gen) const {
  if (Offset < 0 || static_cast<uint64_t>(Offset) >= FData.size()) return false;
  TPDFLexer lx(FData, static_cast<size_t>(Offset));
  int32_t n, g;
  if (!ParsePDFObjectHeader(lx, n, g) || n != ObjNum) return false;
  ValueStart = lx.Position();
  Gen = g;
  return true;
}

size_t TLKPDFReader::NextObjectOffset(size_t Pos) const {
  const auto it = std::upper_bound(FSortedOffsets.begin(), FSortedOffsets.end(), Pos);
  return it == FSortedOffsets.end() ? FData.size() : std::min(*it, FData.size());
}

bool TLKPDFReader::StreamRange(std::string_view Text, size_t DataStart, int64_t Length, size_t Limit,
                               size_t& DataEnd, size_t& AfterEnd) const {
  const size_t n = Text.size();
  if (DataStart > n) DataStart = n;
  if (Limit > n) Limit = n;
  // The declared length counts when "endstream" follows it.
  if (Length >= 0 && static_cast<uint64_t>(Length) <= n - DataStart) {
    size_t q = DataStart + static_cast<size_t>(Length);
    size_t k = q;
    while (k < n && k < q + 32 && IsWs(Text[k])) ++k;
    if (Text.compare(k, 9, "endstream") == 0) {
      DataEnd = q;
      AfterEnd = k + 9;
      return true;
    }
  }
  size_t e = Text.find("endstream", DataStart);
  if (e != std::string_view::npos && e > Limit && Limit > DataStart) {
    // Beyond the next object: only trust it when nothing nearer exists.
    const size_t near = Text.substr(0, Limit).find("endstream", DataStart);
    if (near != std::string_view::npos) e = near;
  }
  if (e == std::string_view::npos) {
    DataEnd = std::max(DataStart, Limit);
    AfterEnd = DataEnd;
    return false;
  }
  DataEnd = e;
  if (DataEnd > DataStart && Text[DataEnd - 1] == '\n') --DataEnd;
  if (DataEnd > DataStart && Text[DataEnd - 1] == '\r') --DataEnd;
  AfterEnd = e + 9;
  return true;
}

int64_t TLKPDFReader::ResolveLength(const TPDFObject* LengthObj) {
  if (!LengthObj) return -1;
  if (LengthObj->IsInteger()) return LengthObj->IntValue >= 0 ? LengthObj->IntValue : -1;
  if (LengthObj->IsRef()) {
    TPDFObject v;
    if (GetObject(LengthObj->RefNum, v) && v.IsInteger() && v.IntValue >= 0) return v.IntValue;
  }
  return -1;
}

size_t TLKPDFReader::ObjectEnd(size_t Start, size_t ValueStart) {
  const size_t limit = NextObjectOffset(Start);
  TPDFLexer lx(FData, ValueStart);
  TPDFObject value;
  ParsePDFObject(lx, value);
  const size_t afterValue = lx.Position();
  TPDFToken t;
  size_t tail = afterValue;
  if (lx.Next(t) && t.Kind == TPDFTokenKind::tkKeyword) {
    if (t.Text == "endobj") return t.End;
    if (t.Text == "stream" && value.IsDict()) {
      const size_t dataStart = PDFStreamDataStart(FData, t.End);
      size_t dataEnd, afterEnd;
      StreamRange(FData, dataStart, ResolveLength(value.Get("Length")), limit, dataEnd, afterEnd);
      TPDFLexer lx2(FData, afterEnd);
      if (lx2.Next(t) && t.Kind == TPDFTokenKind::tkKeyword && t.Text == "endobj") return t.End;
      return afterEnd;
    }
  }
  // No "endobj" right after the value: look for one before the next object.
  const size_t e = std::string_view(FData).substr(0, std::max(limit, tail)).find("endobj", tail);
  return e == std::string_view::npos ? std::min(std::max(limit, tail), FData.size()) : e + 6;
}

bool TLKPDFReader::LocateUncompressed(int32_t ObjNum, int64_t Offset, TObjText& Out) {
  size_t valueStart = 0;
  int32_t gen = 0;
  int64_t start = Offset;
  if (!HeaderAt(start, ObjNum, valueStart, gen)) {
    start = Offset + static_cast<int64_t>(FHeaderOffset);
    if (FHeaderOffset == 0 || !HeaderAt(start, ObjNum, valueStart, gen)) {
      // The entry does not point at the object: find it by scanning.
      ScanObjects();
      const auto it = FScanTable.find(ObjNum);
      if (it == FScanTable.end() || !HeaderAt(it->second, ObjNum, valueStart, gen)) return false;
      if (it->second != Offset) AddWarning("objects were found away from their cross-reference offsets");
      start = it->second;
    }
  }
  // Leading white space before the header is not part of the object.
  size_t s = static_cast<size_t>(start);
  while (s < FData.size() && IsWs(FData[s])) ++s;
  size_t end;
  if (const auto it = FExtents.find(ObjNum); it != FExtents.end() && it->second.first == s) {
    end = it->second.second;
  } else {
    end = ObjectEnd(s, valueStart);
    FExtents[ObjNum] = {s, end};
  }
  Out.Text = std::string_view(FData).substr(s, end - s);
  Out.ValueStart = valueStart - s;
  Out.Gen = gen;
  Out.Compressed = false;
  return true;
}

bool TLKPDFReader::LocateObject(int32_t ObjNum, TObjText& Out) {
  if (ObjNum <= 0 || FLookupDepth >= kMaxLookupDepth) return false;
  struct Depth {
    int& D;
    explicit Depth(int& d) : D(d) { ++D; }
    ~Depth() { --D; }
  } depth(FLookupDepth);
  const TLKPDFXRef* e = FXRefs->GetItem(ObjNum);
  if (e && e->Assigned()) {
    if (e->Kind() == xrkFree) return false;
    if (e->Kind() == xrkUnCompressed) return LocateUncompressed(ObjNum, e->Offset(), Out);
    if (const TObjStm* stm = GetObjStm(e->ObjNumber())) {
      size_t index = static_cast<size_t>(e->Offset());
      if (index >= stm->Entries.size() || stm->Entries[index].first != ObjNum) {
        const auto it = stm->IndexOf.find(ObjNum);
        index = it == stm->IndexOf.end() ? stm->Entries.size() : it->second;
      }
      if (index < stm->Entries.size()) {
        const size_t begin = stm->First + stm->Entries[index].second;
        Out.Text = std::string_view(stm->Data).substr(begin, stm->Ends[index] - begin);
        Out.ValueStart = 0;
        Out.Gen = 0;
        Out.Compressed = true;
        return true;
      }
    }
  }
  // Unknown to the cross-reference data (or its object stream is broken):
  // the object may still be in the file.
  ScanObjects();
  const auto it = FScanTable.find(ObjNum);
  if (it == FScanTable.end()) return false;
  return LocateUncompressed(ObjNum, it->second, Out);
}

const TLKPDFReader::TObjStm* TLKPDFReader::GetObjStm(int32_t ObjNum) {
  if (const auto it = FObjStms.find(ObjNum); it != FObjStms.end()) return &it->second;
  TObjText t;
  if (!LocateObject(ObjNum, t) || t.Compressed) return nullptr;
  TPDFLexer lx(t.Text, t.ValueStart);
  TPDFObject dict;
  if (!ParsePDFObject(lx, dict) || !dict.IsDict()) return nullptr;
  TPDFToken tok;
  if (!lx.Next(tok) || tok.Kind != TPDFTokenKind::tkKeyword || tok.Text != "stream") return nullptr;
  const size_t dataStart = PDFStreamDataStart(t.Text, tok.End);
  size_t dataEnd, afterEnd;
  StreamRange(t.Text, dataStart, ResolveLength(dict.Get("Length")), t.Text.size(), dataEnd, afterEnd);
  const TPDFObject* filter = dict.Get("Filter");
  TObjStm stm;
  stm.Data = DecodeStream(dict, t.Text.substr(dataStart, dataEnd - dataStart), ObjNum, t.Gen,
                          filter ? FilterNamesOf(*filter) : std::vector<std::string>());
  const TPDFObject* first = dict.Get("First");
  const TPDFObject* count = dict.Get("N");
  const int64_t firstOff = first ? first->AsInt(-1) : -1;
  const int64_t n = count ? count->AsInt(-1) : -1;
  if (firstOff < 0 || static_cast<uint64_t>(firstOff) > stm.Data.size() || n < 0) return nullptr;
  stm.First = static_cast<size_t>(firstOff);
  // The header's pairs are bounded by the header's own bytes, whatever /N says.
  TPDFLexer hdr(std::string_view(stm.Data).substr(0, stm.First));
  TPDFToken a, b;
  for (int64_t i = 0; i < n; ++i) {
    if (!hdr.Next(a) || !hdr.Next(b) || a.Kind != TPDFTokenKind::tkInteger || b.Kind != TPDFTokenKind::tkInteger)
      break;
    if (a.IntValue <= 0 || a.IntValue > std::numeric_limits<int32_t>::max() || b.IntValue < 0 ||
        static_cast<uint64_t>(b.IntValue) > stm.Data.size() - stm.First)
      continue;
    stm.Entries.emplace_back(static_cast<int32_t>(a.IntValue), static_cast<size_t>(b.IntValue));
  }
  // Each object's text runs to the next larger offset (entries need not be
  // in order).
  std::vector<size_t> starts;
  starts.reserve(stm.Entries.size());
  for (const auto& e : stm.Entries) starts.push_back(stm.First + e.second);
  std::sort(starts.begin(), starts.end());
  for (size_t i = 0; i < stm.Entries.size(); ++i) {
    const auto next = std::upper_bound(starts.begin(), starts.end(), stm.First + stm.Entries[i].second);
    stm.Ends.push_back(next == starts.end() ? stm.Data.size() : *next);
    stm.IndexOf.emplace(stm.Entries[i].first, i);
  }
  if (FObjStmBytes + stm.Data.size() > kObjStmCacheBytes) {
    FObjStms.clear();
    FObjStmBytes = 0;
  }
  FObjStmBytes += stm.Data.size();
  return &FObjStms.emplace(ObjNum, std::move(stm)).first->second;
}

void TLKPDFReader::GetBodyByRefNo(TStream* Stream, int32_t RefNo, RawByteString& Body) {
  Body.clear();
  if (!Stream) return;
  Body = GetBodyByRefNo(RefNo);
}

RawByteString TLKPDFReader::GetBodyByRefNo(int32_t RefNo) {
  TObjText t;
  if (!LocateObject(RefNo - StartCrossRef, t)) return {};
  if (!t.Compressed) return RawByteString(t.Text);
  std::string_view v = t.Text;
  while (!v.empty() && IsWs(v.back())) v.remove_suffix(1);
  while (!v.empty() && IsWs(v.front())) v.remove_prefix(1);
  RawByteString body = std::to_string(RefNo) + " 0 obj\n";
  body.append(v);
  body += "\nendobj";
  return body;
}

bool TLKPDFReader::GetObject(int32_t ObjNum, TPDFObject& Obj, int32_t* Gen) {
  Obj = TPDFObject();
  TObjText t;
  if (!LocateObject(ObjNum, t)) return false;
  if (Gen) *Gen = t.Gen;
  TPDFLexer lx(t.Text, t.ValueStart);
  return ParsePDFObject(lx, Obj);
}

TPDFObject TLKPDFReader::Resolve(const TPDFObject& Obj) {
  TPDFObject cur = Obj;
  for (int i = 0; i < kMaxLookupDepth && cur.IsRef(); ++i) {
    TPDFObject next;
    if (!GetObject(cur.RefNum, next)) return TPDFObject();
    cur = std::move(next);
  }
  return cur.IsRef() ? TPDFObject() : cur;
}

bool TLKPDFReader::LocateObjectExists(int32_t ObjNum) {
  TObjText t;
  return LocateObject(ObjNum, t);
}

bool TLKPDFReader::IsCompressedObject(int32_t ObjNum) {
  const TLKPDFXRef* e = FXRefs->GetItem(ObjNum);
  return e && e->Assigned() && e->Kind() == xrkCompressed;
}

bool TLKPDFReader::GetStreamData(int32_t ObjNum, RawByteString& Data) {
  Data.clear();
  TObjText t;
  if (!LocateObject(ObjNum, t) || t.Compressed) return false;
  TPDFLexer lx(t.Text, t.ValueStart);
  TPDFObject dict;
  if (!ParsePDFObject(lx, dict) || !dict.IsDict()) return false;
  TPDFToken tok;
  if (!lx.Next(tok) || tok.Kind != TPDFTokenKind::tkKeyword || tok.Text != "stream") return false;
  const size_t dataStart = PDFStreamDataStart(t.Text, tok.End);
  size_t dataEnd, afterEnd;
  StreamRange(t.Text, dataStart, ResolveLength(dict.Get("Length")), t.Text.size(), dataEnd, afterEnd);
  const TPDFObject filter = Resolve(dict.Get("Filter") ? *dict.Get("Filter") : TPDFObject());
  Data = DecodeStream(dict, t.Text.substr(dataStart, dataEnd - dataStart), ObjNum, t.Gen, FilterNamesOf(filter));
  return true;
}

RawByteString TLKPDFReader::DecryptString(int32_t ObjNum, int32_t Gen, const RawByteString& Value) {
  if (!FEncryption || !FEncryption->Enabled() || Value.empty()) return Value;
  if (ObjNum == FEncryptObjNum || IsCompressedObject(ObjNum)) return Value;
  return FEncryption->DecryptObject(ObjNum, Gen, TPDFCryptTarget::ctString, FFirstDocID, FPassword, Value);
}

// ---------------------------------------------------------------------------
// Streams

size_t TLKPDFReader::StreamCap() {
  const int64_t cap = FMaxStreamSize > 0 ? FMaxStreamSize : kDefaultPDFStreamSize;
  return static_cast<size_t>(std::min<int64_t>(cap, std::numeric_limits<int64_t>::max() / 2));
}

RawByteString TLKPDFReader::DecodeStream(const TPDFObject& Dict, std::string_view Raw, int32_t ObjNum, int32_t Gen,
                                         const std::vector<std::string>& Filters) {
  RawByteString data(Raw);
  const TPDFObject parmsObj = Resolve(Dict.Get("DecodeParms") ? *Dict.Get("DecodeParms")
                                                                : (Dict.Get("DP") ? *Dict.Get("DP") : TPDFObject()));
  auto parmsFor = [&](size_t i) {
    TPDFObject p = parmsObj;
    if (p.IsArray()) p = i < p.Items.size() ? Resolve(p.Items[i]) : TPDFObject();
    return p;
  };
  if (ObjNum > 0 && FEncryption && FEncryption->Enabled() && !data.empty()) {
    const TPDFObject* type = Dict.Get("Type");
    bool skip = type && type->IsName("XRef");
    if (type && type->IsName("Metadata")) {
      if (const auto* std = dynamic_cast<const TLKPDFStandardEncryption*>(FEncryption.get()))
        skip = skip || !std->EncryptMetadata();
    }
    std::string cryptName;
    if (!Filters.empty() && Filters[0] == "crypt") {
      const TPDFObject p = parmsFor(0);
      const TPDFObject* name = p.Get("Name");
      cryptName = (name && name->IsName()) ? name->Str : "Identity";
    }
    if (!skip)
      data = FEncryption->DecryptObject(ObjNum, Gen, TPDFCryptTarget::ctStream, FFirstDocID, FPassword, data,
                                        cryptName);
  }
  for (size_t i = 0; i < Filters.size(); ++i) {
    if (Filters[i] == "crypt") continue;
    const TPDFObject p = parmsFor(i);
    TPDFDecodeParms parms;
    if (p.IsDict()) {
      if (const TPDFObject* v = p.Get("Predictor")) parms.Predictor = ClampInt(v->AsInt(1), 0, 100);
      if (const TPDFObject* v = p.Get("Colors")) parms.Colors = ClampInt(v->AsInt(1), 1, 32);
      if (const TPDFObject* v = p.Get("BitsPerComponent")) parms.BitsPerComponent = ClampInt(v->AsInt(8), 1, 16);
      if (const TPDFObject* v = p.Get("Columns")) parms.Columns = ClampInt(v->AsInt(1), 1, 1 << 24);
      if (const TPDFObject* v = p.Get("EarlyChange")) parms.EarlyChange = ClampInt(v->AsInt(1), 0, 1);
    }
    RawByteString out;
    TPDFDecodeStatus status;
    if (!PDFDecodeFilter(Filters[i], data, parms, StreamCap(), out, status)) continue;
    if (status == TPDFDecodeStatus::dsCorrupt) AddWarning("a damaged stream was read as far as it goes");
    if (status == TPDFDecodeStatus::dsTruncated) AddWarning("a stream was cut at the stream size limit");
    FDecompressedTotal += static_cast<int64_t>(out.size());
    if (FMaxDecompressedSize > 0 && FDecompressedTotal > FMaxDecompressedSize)
      throw ELimitError("The document decompresses to more than the allowed size");
    data = std::move(out);
  }
  return data;
}

void TLKPDFReader::GetFilterContent(TStream*, const RawByteString& Text, RawByteString& Filter, int64_t& Length,
                                    int64_t& Length1) {
  Filter.clear();
  Length = 0;
  Length1 = 0;
  TPDFLexer lx(Text);
  int32_t num, gen;
  if (!ParsePDFObjectHeader(lx, num, gen)) lx.SetPosition(0);
  TPDFObject dict;
  if (ParsePDFObject(lx, dict) && dict.IsDict()) {
    const TPDFObject f = Resolve(dict.Get("Filter") ? *dict.Get("Filter") : TPDFObject());
    for (const auto& name : FilterNamesOf(f)) {
      if (!Filter.empty()) Filter += ' ';
      Filter += '/';
      Filter += name;
    }
    Length = std::max<int64_t>(0, ResolveLength(dict.Get("Length")));
    Length1 = std::max<int64_t>(0, ResolveLength(dict.Get("Length1")));
    return;
  }
  // Not a dictionary object: read the text as the helpers do.
  const RawByteString lowered = LowerAscii(Text);
  Filter = GetPDFArrayValue("/filter", lowered);
  TrimPDFWhitespace(Filter, true);
  TrimPDFWhitespace(Filter, false);
  if (Filter.empty() || std::all_of(Filter.begin(), Filter.end(), [](char c) { return IsWs(c); }))
    Filter = GetPDFTagValue("/filter", lowered);
  Length = GetIntTagValue("/length", lowered);
  Length1 = GetIntTagValue("/length1", lowered);
}

RawByteString TLKPDFReader::GetStreamContent(const RawByteString& Filter, const RawByteString& Text, int64_t Length,
                                             int64_t& DecodedLength, int32_t ContentID) {
  DecodedLength = 0;
  TPDFLexer lx(Text);
  int32_t num = 0, gen = 0;
  const bool header = ParsePDFObjectHeader(lx, num, gen);
  if (!header) lx.SetPosition(0);
  TPDFObject dict;
  ParsePDFObject(lx, dict);
  size_t keywordEnd = std::string::npos;
  TPDFToken t;
  if (dict.IsDict() && lx.Next(t) && t.Kind == TPDFTokenKind::tkKeyword && t.Text == "stream") {
    keywordEnd = t.End;
  } else {
    // Damaged dictionary: the first "stream" that is not part of "endstream".
    size_t p = 0;
    while ((p = FindTextAscii(Text, "stream", p)) != std::string::npos) {
      if (p < 3 || FindTextAscii(std::string_view(Text).substr(p - 3, 3), "end") != 0) {
        keywordEnd = p + 6;
        break;
      }
      p += 6;
    }
    if (keywordEnd == std::string::npos) return {};
    if (!dict.IsDict()) dict = TPDFObject();
  }
  const size_t dataStart = PDFStreamDataStart(Text, keywordEnd);
  size_t dataEnd, afterEnd;
  if (!StreamRange(Text, dataStart, Length > 0 ? Length : -1, Text.size(), dataEnd, afterEnd) &&
      Text.find("endstream", dataStart) == std::string::npos && Length <= 0)
    dataEnd = Text.size();
  const int32_t objNum = ContentID != 0 ? ContentID : (header ? num : 0);
  const int32_t objGen = (header && num == objNum) ? gen : 0;
  RawByteString data = DecodeStream(dict, std::string_view(Text).substr(dataStart, dataEnd - dataStart), objNum,
                                    objGen, SplitFilterList(Filter));
  DecodedLength = static_cast<int64_t>(data.size());
  return data;
}

RawByteString TLKPDFReader::DecodeContentByFilter(std::string_view FilterName, const RawByteString& Data, int64_t,
                                                  int64_t& DecodedLength, int Columns, int Predictor) {
  TPDFDecodeParms parms;
  parms.Predictor = Predictor < 1 ? 1 : Predictor;
  parms.Columns = Columns < 1 ? 1 : Columns;
  RawByteString out;
  TPDFDecodeStatus status;
  PDFDecodeFilter(FilterName, Data, parms, StreamCap(), out, status);
  if (status == TPDFDecodeStatus::dsCorrupt) AddWarning("a damaged stream was read as far as it goes");
  if (status == TPDFDecodeStatus::dsTruncated) AddWarning("a stream was cut at the stream size limit");
  DecodedLength = static_cast<int64_t>(out.size());
  return out;
}

// ---------------------------------------------------------------------------
// Text lookups that follow references

int64_t TLKPDFReader::GetIntTagValue(std::string_view Key, std::string_view Text) {
  if (Key.empty()) return 0;
  size_t p = 0;
  for (;;) {
    p = Text.find(Key, p);
    if (p == std::string_view::npos) return 0;
    const size_t after = p + Key.size();
    if (after >= Text.size()) return 0;
    const char c = Text[after];
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '<' || c == '>') {
      p = after;
      break;
    }
    p = after;  // a longer name such as /length1
  }
  size_t i = p + 1;
  while (i < Text.size() && IsWs(Text[i])) ++i;
  // "N G R": follow the reference.
  size_t j = i;
  while (j < Text.size() && IsAsciiDigit(Text[j])) ++j;
  if (j > i) {
    size_t k = j;
    while (k < Text.size() && IsWs(Text[k])) ++k;
    const size_t g = k;
    while (k < Text.size() && IsAsciiDigit(Text[k])) ++k;
    if (k > g) {
      size_t r = k;
      while (r < Text.size() && IsWs(Text[r])) ++r;
      if (r > k && r < Text.size() && (Text[r] == 'r' || Text[r] == 'R') &&
          (r + 1 == Text.size() || !IsPDFRegular(static_cast<uint8_t>(Text[r + 1])))) {
        const int64_t ref = PDFStrToInt64Def(Text.substr(i, j - i), -1);
        if (ref <= 0 || ref > std::numeric_limits<int32_t>::max()) return 0;
        TPDFObject v;
        if (GetObject(static_cast<int32_t>(ref), v)) return v.AsInt(0);
        return 0;
      }
    }
  }
  size_t e = i;
  while (e < Text.size() && Text[e] != ' ' && Text[e] != '\n' && Text[e] != '\r' && Text[e] != '/' &&
         !(Text[e] == '>' && e + 1 < Text.size() && Text[e + 1] == '>'))
    ++e;
  return PDFStrToInt64Def(Text.substr(i, e - i), 0);
}

RawByteString TLKPDFReader::GetDoubleBracketValue(TStream*, std::string_view Key, std::string_view Text) {
  const size_t p = Text.find(Key);
  if (p == std::string_view::npos || Key.empty()) return {};
  const std::string_view rest = Text.substr(p + Key.size());
  RawByteString value;
  bool isRef = true;
  UnwrapDictionary(rest, value, isRef);
  if (!isRef) return value;
  RawByteString s(rest), ref;
  if (!ExtractRefNumber(s, ref)) return value;
  const int64_t num = PDFStrToInt64Def(ref, -1);
  if (num <= 0 || num > std::numeric_limits<int32_t>::max()) return {};
  RawByteString body = GetBodyByRefNo(static_cast<int32_t>(num));
  if (body.empty()) return {};
  RawByteString filter;
  int64_t length, length1;
  GetFilterContent(nullptr, body, filter, length, length1);
  if (!filter.empty()) {
    int64_t decoded = length1;
    body = GetStreamContent(filter, body, length, decoded, static_cast<int32_t>(num));
  }
  bool r2 = true;
  UnwrapDictionary(body, value, r2);
  return value;
}

// ---------------------------------------------------------------------------
// Pages (structure only)

bool TLKPDFReader::FieldsNeedAppearances() {
  if (FNeedAppearances < 0) FNeedAppearances = ReadNeedAppearances();
  return FNeedAppearances > 0;
}

bool TLKPDFReader::GetCatalog(TPDFObject& Catalog) {
  const TPDFObject* root = FTrailer.Get("Root");
  return root && root->IsRef() && GetObject(root->RefNum, Catalog) && Catalog.IsDict();
}

bool TLKPDFReader::ReadNeedAppearances() {
  TPDFObject catalog;
  if (!GetCatalog(catalog)) return false;
  const TPDFObject* form = catalog.Get("AcroForm");
  if (!form) return false;
  const TPDFObject dict = Resolve(*form);
  const TPDFObject* need = dict.Get("NeedAppearances");
  if (!need) return false;
  const TPDFObject value = Resolve(*need);
  return value.Kind == TPDFObjKind::okBool && value.BoolValue;
}

std::vector<int32_t> TLKPDFReader::GetPageObjects() {
  // The page objects that survive, in file order: for a page tree that is
  // lost (a truncated file, a catalog that names no tree) or damaged past
  // holding any page. Whether any were lost with it is not known (a cut file
  // says so by its end).
  auto inFileOrder = [this]() {
    ScanObjects();
    // (offset in the file, place in its object stream, number)
    std::vector<std::tuple<int64_t, size_t, int32_t>> found;
    std::unordered_set<int32_t> seen;
    const auto take = [&](std::string_view Head, int32_t Num, int64_t Offset, size_t Index) {
      if (Head.find("/Page") == std::string_view::npos || seen.count(Num)) return;
      TPDFObject node;
      if (!GetObject(Num, node) || !node.IsDict()) return;
      if (const TPDFObject* type = node.Get("Type"); type && type->IsName("Page")) {
        found.emplace_back(Offset, Index, Num);
        seen.insert(Num);
      }
    };
    for (const auto& [num, off] : FScanTable) {
      const std::string_view head = std::string_view(FData).substr(static_cast<size_t>(off), 4096);
      take(head, num, off, 0);
      // Pages written into object streams are found there.
      if (head.substr(0, head.find("stream")).find("/ObjStm") == std::string_view::npos) continue;
      const TObjStm* stm = GetObjStm(num);
      if (!stm) continue;
      for (size_t i = 0; i < stm->Entries.size() && i < stm->Ends.size(); ++i) {
        const size_t start = std::min(stm->First + stm->Entries[i].second, stm->Data.size());
        const size_t end = std::clamp(stm->Ends[i], start, stm->Data.size());
        take(std::string_view(stm->Data).substr(start, std::min<size_t>(end - start, 4096)), stm->Entries[i].first,
             off, i + 1);
      }
    }
    std::sort(found.begin(), found.end());
    std::vector<int32_t> pages;
    for (const auto& f : found) pages.push_back(std::get<2>(f));
    return pages;
  };
  std::vector<int32_t> pages;
  TPDFObject catalog;
  const TPDFObject* treeRef = GetCatalog(catalog) ? catalog.Get("Pages") : nullptr;
  if (!treeRef || !treeRef->IsRef() || !LocateObjectExists(treeRef->RefNum)) {
    pages = inFileOrder();
    AddWarning(pages.empty() ? "the page tree is lost, and no page was found in the file"
                             : "the page tree is lost: the pages found in the file were read in file order");
    return pages;
  }
  std::unordered_set<int32_t> visited;
  int missing = 0;
  // Depth-first with an explicit stack: kids are pushed in reverse.
  std::vector<std::pair<int32_t, int>> stack{{treeRef->RefNum, 0}};
  const int maxDepth = FMaxNestingDepth > 0 ? FMaxNestingDepth : 256;
  while (!stack.empty()) {
    const auto [num, depth] = stack.back();
    stack.pop_back();
    if (!visited.insert(num).second) continue;
    TPDFObject node;
    if (!GetObject(num, node) || !node.IsDict()) {
      if (!LocateObjectExists(num)) ++missing;
      continue;
    }
    const TPDFObject* type = node.Get("Type");
    const TPDFObject kids = Resolve(node.Get("Kids") ? *node.Get("Kids") : TPDFObject());
    const bool isPage = type ? type->IsName("Page") : !kids.IsArray();
    if (isPage) {
      pages.push_back(num);
      continue;
    }
    if (!kids.IsArray() || depth >= maxDepth) continue;
    for (auto it = kids.Items.rbegin(); it != kids.Items.rend(); ++it)
      if (it->IsRef()) stack.emplace_back(it->RefNum, depth + 1);
  }
  if (missing > 0)
    MarkPartial(Format("%d parts of the page tree are missing, with the pages they hold", {std::to_string(missing)}));
  if (pages.empty()) {
    pages = inFileOrder();
    if (!pages.empty())
      AddWarning("the page tree holds no page: the pages found in the file were read in file order");
    else if (missing == 0)
      AddWarning("the page tree holds no page");
  }
  return pages;
}

RawByteString TLKPDFReader::GetPageContents(int32_t PageObjNum) {
  RawByteString all;
  TPDFObject page;
  if (!GetObject(PageObjNum, page) || !page.IsDict()) return all;
  const TPDFObject* contents = page.Get("Contents");
  if (!contents) return all;
  std::vector<int32_t> streams;
  if (contents->IsRef()) {
    TPDFObject target;
    if (GetObject(contents->RefNum, target) && target.IsArray()) {
      for (const auto& r : target.Items)
        if (r.IsRef()) streams.push_back(r.RefNum);
    } else {
      streams.push_back(contents->RefNum);
    }
  } else if (contents->IsArray()) {
    for (const auto& r : contents->Items)
      if (r.IsRef()) streams.push_back(r.RefNum);
  }
  for (const int32_t num : streams) {
    RawByteString data;
    if (!GetStreamData(num, data)) {
      if (!LocateObjectExists(num)) {
        ++FContentLost;
        MarkPartial("a page's content stream is missing");
      }
      continue;
    }
    if (!all.empty()) all += '\n';
    all += data;
  }
  return all;
}

}  // namespace lkw
