#include "lkword/word/MSWordX.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/containers/LKWHtml.h"
#include "lkword/containers/LKWMime.h"
#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipFile.h"
#include "lkword/containers/LKWZipPart.h"
#include "lkword/containers/PackagePath.h"
#include "lkword/framework/DocumentOutput.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/word/MSWordXCrypt.h"

namespace lkw {

namespace {

constexpr std::string_view kDefaultMainPart = "word/document.xml";
constexpr const char* kCutPackage = "damaged or truncated zip package: ";
constexpr std::string_view kContentTypes = "[Content_Types].xml";
constexpr char16_t kPackageStream[] = u"Package";
constexpr char16_t kEncryptedPackageStream[] = u"EncryptedPackage";
constexpr char16_t kEncryptionInfoStream[] = u"EncryptionInfo";
// Content types of the main part of documents and templates, with or
// without macros.
constexpr std::string_view kMainContentTypes[] = {
    "wordprocessingml.document.main+xml",
    "wordprocessingml.template.main+xml",
    "ms-word.document.macroEnabled.main+xml",
    "ms-word.template.macroEnabledTemplate.main+xml",
};

// First element below (or at) Root with that local name; nullptr when none.
TLKXMLItem* FindByLocalName(TLKXMLItem* Root, std::u16string_view Local) {
  TLKXMLItem* found = nullptr;
  ForEachElement(Root, [&](TLKXMLItem& n) {
    if (!found && XMLLocalName(n.TagName()) == Local) found = &n;
  });
  return found;
}

struct TRelationship {
  std::string Type;    // the last segment of the type URI ("header", "officeDocument", ...)
  std::string Target;  // part name inside the package
};

// "word/document.xml" -> "word/_rels/document.xml.rels".
std::string RelationshipsPartOf(std::string_view Part) {
  size_t slash = Part.rfind('/');
  std::string_view file = slash == std::string_view::npos ? Part : Part.substr(slash + 1);
  return PackageFolderOf(Part) + "_rels/" + std::string(file) + ".rels";
}

std::vector<TRelationship> ParseRelationships(std::string_view Bytes, std::string_view SourcePart) {
  std::vector<TRelationship> rels;
  TLKXMLEngine xml;
  xml.LoadFromBytes(Bytes);
  const std::string folder = PackageFolderOf(SourcePart);
  ForEachElement(xml.RootItem(), [&](TLKXMLItem& n) {
    if (XMLLocalName(n.TagName()) != u"Relationship") return;
    if (SameStrings(false, n.AttributeValue(u"TargetMode"), u"External")) return;
    std::string type = WideToUtf8(n.AttributeValue(u"Type"));
    size_t slash = type.rfind('/');
    if (slash != std::string::npos) type.erase(0, slash + 1);
    std::string target =
        ResolvePackageReference(folder, WideToUtf8(n.AttributeValue(u"Target")), TPercentEscapes::Keep);
    if (!target.empty()) rels.push_back({std::move(type), std::move(target)});
  });
  return rels;
}

// What a story part's relationships give its elements: hyperlink targets,
// and the parts inside the package (imported content, diagram data), by
// relationship id.
struct TStoryRelationships {
  std::unordered_map<WideString, WideString> Links;
  std::unordered_map<WideString, std::string> Parts;
};

TStoryRelationships StoryRelationships(std::string_view Bytes, std::string_view SourcePart) {
  TStoryRelationships rels;
  TLKXMLEngine xml;
  xml.LoadFromBytes(Bytes);
  const std::string folder = PackageFolderOf(SourcePart);
  ForEachElement(xml.RootItem(), [&](TLKXMLItem& n) {
    if (XMLLocalName(n.TagName()) != u"Relationship") return;
    const WideString type = n.AttributeValue(u"Type");
    WideString target = n.AttributeValue(u"Target");
    if (target.empty()) return;
    if (type.ends_with(u"/hyperlink")) {
      rels.Links.emplace(n.AttributeValue(u"Id"), std::move(target));
    } else if ((type.ends_with(u"/aFChunk") || type.ends_with(u"/diagramData")) &&
               !SameStrings(false, n.AttributeValue(u"TargetMode"), u"External")) {
      std::string part = ResolvePackageReference(folder, WideToUtf8(target), TPercentEscapes::Keep);
      if (!part.empty()) rels.Parts.emplace(n.AttributeValue(u"Id"), std::move(part));
    }
  });
  return rels;
}

// Documents imported into documents imported into ... : a hostile package
// could nest itself without end.
constexpr int kMaxChunkDepth = 4;
// Bytes looked at to tell a chunk's format.
constexpr size_t kChunkSniff = 512;

// The formats a w:altChunk part comes in, told apart by their bytes (the
// content types of such parts are often wrong or generic).
enum class TChunkFormat : uint8_t { cfHtml, cfText, cfPackage, cfRtf, cfMime };

TChunkFormat SniffChunk(std::string_view Part, std::string_view Bytes) {
  if (Bytes.starts_with("PK\x03\x04")) return TChunkFormat::cfPackage;
  // UTF-16 text is looked at through its low bytes.
  std::string head;
  const bool le = Bytes.starts_with("\xFF\xFE"), be = Bytes.starts_with("\xFE\xFF");
  if (le || be) {
    for (size_t i = 2 + (be ? 1 : 0); i < Bytes.size() && head.size() < kChunkSniff; i += 2) head += Bytes[i];
  } else {
    head = Bytes.substr(Bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0, kChunkSniff);
  }
  size_t first = 0;
  while (first < head.size() && IsAsciiBlank(head[first])) ++first;
  head = LowerAscii(std::string_view(head).substr(first));
  if (head.starts_with("{\\rtf")) return TChunkFormat::cfRtf;
  // A web archive starts with its mail headers, MIME-Version among them.
  if (head.starts_with("mime-version:") || head.starts_with("content-type:") ||
      (head.find(':') < head.find('\n') && head.find("\nmime-version:") != std::string::npos))
    return TChunkFormat::cfMime;
  const std::string name = LowerAscii(Part);
  if (name.ends_with(".txt")) return TChunkFormat::cfText;
  if (head.starts_with("<") || name.ends_with(".htm") || name.ends_with(".html") || name.ends_with(".xhtml"))
    return TChunkFormat::cfHtml;
  return TChunkFormat::cfText;
}

// Keeps the main story's events of an imported document, to be told into
// the importing one once the whole import has been read: a part read again
// in another encoding takes back what it told.
class TChunkEvents final : public TDocumentEvents {
 public:
  void Replay(TDocumentEvents& Out) const {
    for (const auto& e : FEvents) e(Out);
  }

  void BeginStory(TStoryKind Kind) override { FMain = Kind == TStoryKind::Main; }
  void EndStory(TStoryKind) override { FMain = false; }
  void RolledBack() override {
    // Only the main part is kept, and it is read in one piece: a roll back
    // inside it voids everything kept.
    if (FMain) FEvents.clear();
  }
  void BeginSection() override { Keep([](TDocumentEvents& o) { o.BeginSection(); }); }
  void EndSection() override { Keep([](TDocumentEvents& o) { o.EndSection(); }); }
  void BeginParagraph(const TParagraph& P) override { Keep([P](TDocumentEvents& o) { o.BeginParagraph(P); }); }
  void EndParagraph() override { Keep([](TDocumentEvents& o) { o.EndParagraph(); }); }
  void Text(std::u16string_view T, const TRunStyle& S) override {
    Keep([t = WideString(T), S](TDocumentEvents& o) { o.Text(t, S); });
  }
  void LineBreak() override { Keep([](TDocumentEvents& o) { o.LineBreak(); }); }
  void SoftBreak() override { Keep([](TDocumentEvents& o) { o.SoftBreak(); }); }
  void Tab() override { Keep([](TDocumentEvents& o) { o.Tab(); }); }
  void BeginLink(std::u16string_view T) override { Keep([t = WideString(T)](TDocumentEvents& o) { o.BeginLink(t); }); }
  void EndLink() override { Keep([](TDocumentEvents& o) { o.EndLink(); }); }
  void Image(std::u16string_view T) override { Keep([t = WideString(T)](TDocumentEvents& o) { o.Image(t); }); }
  void BeginTable() override { Keep([](TDocumentEvents& o) { o.BeginTable(); }); }
  void EndTable() override { Keep([](TDocumentEvents& o) { o.EndTable(); }); }
  void BeginRow() override { Keep([](TDocumentEvents& o) { o.BeginRow(); }); }
  void EndRow() override { Keep([](TDocumentEvents& o) { o.EndRow(); }); }
  void BeginCell() override { Keep([](TDocumentEvents& o) { o.BeginCell(); }); }
  void EndCell() override { Keep([](TDocumentEvents& o) { o.EndCell(); }); }
  void PageBreak() override { Keep([](TDocumentEvents& o) { o.PageBreak(); }); }
  void BeginRevision(TRevisionKind K) override { Keep([K](TDocumentEvents& o) { o.BeginRevision(K); }); }
  void EndRevision(TRevisionKind K) override { Keep([K](TDocumentEvents& o) { o.EndRevision(K); }); }
  void BeginList() override { Keep([](TDocumentEvents& o) { o.BeginList(); }); }
  void EndList() override { Keep([](TDocumentEvents& o) { o.EndList(); }); }
  void BeginListItem() override { Keep([](TDocumentEvents& o) { o.BeginListItem(); }); }
  void EndListItem() override { Keep([](TDocumentEvents& o) { o.EndListItem(); }); }
  void NextTableStyle(std::u16string_view T) override {
    Keep([t = WideString(T)](TDocumentEvents& o) { o.NextTableStyle(t); });
  }
  // The imported document's notes are not imported: neither are the marks
  // that refer to them.
  void NoteReference(TStoryKind, std::u16string_view, const TRunStyle&) override {}

 private:
  template <class F>
  void Keep(F&& Event) {
    if (FMain) FEvents.emplace_back(std::forward<F>(Event));
  }

  std::vector<std::function<void(TDocumentEvents&)>> FEvents;
  bool FMain = false;
};

// Name order with digit runs compared as numbers: header2 before header10.
bool NaturalLess(std::string_view A, std::string_view B) {
  size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    if (IsAsciiDigit(A[i]) && IsAsciiDigit(B[j])) {
      size_t ai = i, bj = j;
      while (ai < A.size() && A[ai] == '0') ++ai;
      while (bj < B.size() && B[bj] == '0') ++bj;
      size_t ae = ai, be = bj;
      while (ae < A.size() && IsAsciiDigit(A[ae])) ++ae;
      while (be < B.size() && IsAsciiDigit(B[be])) ++be;
      if (ae - ai != be - bj) return ae - ai < be - bj;
      int c = A.substr(ai, ae - ai).compare(B.substr(bj, be - bj));
      if (c != 0) return c < 0;
      i = ae;
      j = be;
      continue;
    }
    const char a = ToLowerAscii(A[i]), b = ToLowerAscii(B[j]);
    if (a != b) return a < b;
    ++i;
    ++j;
  }
  return A.size() - i < B.size() - j;
}

// The parts to read for one list: relationship targets of that type plus
// the package's members named FOLDER + Stem + anything + ".xml", in natural
// name order, each once.
std::vector<std::string> PartsOfKind(const TZipArchive& Zip, const std::vector<TRelationship>& Rels,
                                     std::string_view Type, std::string_view Folder, std::string_view Stem) {
  std::vector<std::string> names;
  for (const auto& r : Rels)
    if (r.Type == Type) names.push_back(r.Target);
  const std::string prefix = LowerAscii(std::string(Folder) + std::string(Stem));
  for (int i = 0; i < Zip.Count(); ++i) {
    const std::string lower = LowerAscii(Zip.Files()[i].FileName());
    if (lower.size() > prefix.size() + 4 && lower.compare(0, prefix.size(), prefix) == 0 &&
        lower.compare(lower.size() - 4, 4, ".xml") == 0 && lower.find('/', prefix.size()) == std::string::npos)
      names.push_back(Zip.Files()[i].FileName());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  names.erase(std::unique(names.begin(), names.end(),
                          [](const std::string& a, const std::string& b) { return LowerAscii(a) == LowerAscii(b); }),
              names.end());
  return names;
}

bool IsWordPackage(const TZipArchive& Zip) {
  if (Zip.GetIndexByFileName(kDefaultMainPart) >= 0) return true;
  int i = Zip.GetIndexByFileName(kContentTypes);
  if (i < 0) return false;
  try {
    RawByteString types = Zip.GetUncompressed(i);
    for (auto t : kMainContentTypes)
      if (types.find(t) != RawByteString::npos) return true;
  } catch (const Exception&) {
  }
  return false;
}

// W3C date-time (YYYY, YYYY-MM, YYYY-MM-DD, optionally Thh:mm[:ss[.f]] and
// a zone, Z or +hh:mm) as local time; a time without zone is taken as local.
bool ParseW3CDateTime(std::u16string_view S, TDateTime& Result) {
  while (!S.empty() && IsAsciiBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsAsciiBlank(S.back())) S.remove_suffix(1);
  size_t p = 0;
  auto number = [&](size_t digits, int& v) {
    if (p + digits > S.size()) return false;
    v = 0;
    for (size_t k = 0; k < digits; ++k) {
      const char16_t c = S[p + k];
      if (!IsAsciiDigit(c)) return false;
      v = v * 10 + (c - u'0');
    }
    p += digits;
    return true;
  };
  auto take = [&](char16_t c) {
    if (p < S.size() && S[p] == c) {
      ++p;
      return true;
    }
    return false;
  };
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (!number(4, year)) return false;
  if (take(u'-')) {
    if (!number(2, month)) return false;
    if (take(u'-') && !number(2, day)) return false;
  }
  bool hasZone = false;
  int zoneMinutes = 0;
  if (take(u'T') || take(u't') || take(u' ')) {
    if (!number(2, hour) || !take(u':') || !number(2, minute)) return false;
    if (take(u':') && !number(2, second)) return false;
    if (take(u'.') || take(u','))
      while (p < S.size() && IsAsciiDigit(S[p])) ++p;
    if (take(u'Z') || take(u'z')) {
      hasZone = true;
    } else if (p < S.size() && (S[p] == u'+' || S[p] == u'-')) {
      const int sign = S[p++] == u'-' ? -1 : 1;
      int zh = 0, zm = 0;
      if (!number(2, zh)) return false;
      take(u':');
      number(2, zm);
      hasZone = true;
      zoneMinutes = sign * (zh * 60 + zm);
    }
  }
  if (p != S.size()) return false;
  if (hour == 24 && minute == 0 && second == 0) hour = 0;  // not worth a day's carry
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) return false;
  Result = date + time;
  if (hasZone) Result = UTCToLocal(Result - zoneMinutes / 1440.0);
  return true;
}

int32_t ParseCount(const WideString& S) {
  std::string a = WideToUtf8(S);
  size_t b = a.find_first_not_of(" \t\r\n"), e = a.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return 0;
  int32_t v = 0;
  auto [ptr, ec] = std::from_chars(a.data() + b, a.data() + e + 1, v);
  return ec == std::errc() && ptr == a.data() + e + 1 ? v : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Detection

namespace {

enum class TQuickAnswer { qaYes, qaNo, qaLook };

// Reads only the zip's central directory: a package naming the usual main
// part is a Word package, one without content types is none; anything else
// needs the whole archive.
TQuickAnswer QuickPackageTest(TStream& Stream) {
  const int64_t start = Stream.Position();
  const int64_t size = Stream.Size() - start;
  constexpr int64_t kEndRecord = 22, kMaxComment = 65535, kMaxDirectory = int64_t{16} << 20;
  if (size < kEndRecord) return TQuickAnswer::qaLook;
  const int64_t tailSize = std::min(size, kEndRecord + kMaxComment);
  Stream.SetPosition(start + size - tailSize);
  const RawByteString tail = Stream.ReadBytes(tailSize);
  size_t end = tail.rfind("PK\x05\x06");
  while (end != RawByteString::npos && end + static_cast<size_t>(kEndRecord) > tail.size())
    end = end ? tail.rfind("PK\x05\x06", end - 1) : RawByteString::npos;
  if (end == RawByteString::npos) return TQuickAnswer::qaLook;
  const int64_t dirSize = LoadLE32(&tail[end + 12]), dirOffset = LoadLE32(&tail[end + 16]);
  if (dirSize > kMaxDirectory || dirOffset + dirSize > size) return TQuickAnswer::qaLook;
  Stream.SetPosition(start + dirOffset);
  const RawByteString dir = Stream.ReadBytes(dirSize);
  bool contentTypes = false;
  // Offsets are relative to the archive's start: a directory not found where
  // it says (an archive behind other bytes) needs the full reader.
  if (dir.compare(0, 4, "PK\x01\x02") != 0) return TQuickAnswer::qaLook;
  for (size_t p = 0; p + 46 <= dir.size() && dir.compare(p, 4, "PK\x01\x02") == 0;) {
    const size_t nameLength = LoadLE16(&dir[p + 28]);
    if (p + 46 + nameLength > dir.size()) break;
    const std::string name = LowerAscii(std::string_view(dir).substr(p + 46, nameLength));
    if (name == kDefaultMainPart) return TQuickAnswer::qaYes;
    contentTypes = contentTypes || name == LowerAscii(kContentTypes);
    p += 46 + nameLength + LoadLE16(&dir[p + 30]) + LoadLE16(&dir[p + 32]);
  }
  return contentTypes ? TQuickAnswer::qaLook : TQuickAnswer::qaNo;
}

}  // namespace

bool IsWordXDocument(TStream& Stream) {
  try {
    const int64_t start = Stream.Position();
    uint8_t head[8] = {};
    const int64_t n = Stream.Read(head, 8);
    Stream.SetPosition(start);
    if (IsCompoundFileData(head, static_cast<size_t>(n))) {
      // Compound files of other kinds are turned away by their stream names,
      // with a file mapped, before the package is copied out.
      auto root = StgOpenStorageOnStream(Stream);
      if (root->OpenStream(kEncryptedPackageStream)) return true;
      auto package = root->OpenStream(kPackageStream);
      if (!package) return false;
      TZipArchive zip;
      zip.LoadFromStream(*package);
      return IsWordPackage(zip);
    }
    if (n < 4 || head[0] != 'P' || head[1] != 'K' || head[2] != 3 || head[3] != 4) return false;
    const TQuickAnswer quick = QuickPackageTest(Stream);
    if (quick != TQuickAnswer::qaLook) return quick == TQuickAnswer::qaYes;
    Stream.SetPosition(start);
    TZipArchive zip;
    zip.LoadFromStream(Stream);
    return IsWordPackage(zip);
  } catch (const Exception&) {
    return false;
  }
}

TMSWordXDocument::TMSWordXDocument(TComponent* AOwner) : TMSCustomWordDocument(AOwner) {}

TMSWordXDocument::~TMSWordXDocument() = default;

void TMSWordXDocument::ClearInternalLists() {
  TMSCustomWordDocument::ClearInternalLists();
  FWordXRenderer = nullptr;
  ResetRenderState();
  FFootnoteNumbers.clear();
  FEndnoteNumbers.clear();
  FFootnoteCount = FEndnoteCount = 0;
  FFootnoteNumbering = nnDecimal;
  FEndnoteNumbering = nnLowerRoman;
  FNumbering.Clear();
  FInflatedBytes = 0;
  FPasswordProtected = false;
}

void TMSWordXDocument::LoadFromFile(const std::string& AFileName) try {
  CheckFileExists(AFileName);
  // An encrypted package, or one embedded by an OLE container, is a compound
  // file rather than a zip.
  if (!FileIsZipArchive(AFileName) && !StgIsStorageFile(AFileName))
    throw ECorruptError(Format(SNotValidWordDocument, {AFileName}));
  TMSWBaseDocument::LoadFromFile(AFileName);
} catch (...) {
  RethrowAsException();
}

void TMSWordXDocument::LoadFromStream(TStream& Stream) try {
  TMSCustomWordDocument::LoadFromStream(Stream);
  const int64_t start = Stream.Position();
  uint8_t head[8] = {};
  const int64_t n = Stream.Read(head, 8);
  Stream.SetPosition(start);
  if (IsCompoundFileData(head, static_cast<size_t>(n)))
    LoadContainer(Stream);
  else
    LoadPackage(Stream);
} catch (...) {
  RethrowAsException();
}

void TMSWordXDocument::InternalLoadFromOLEStream(TStream& Stream) try {
  const int64_t start = Stream.Position();
  uint8_t head[8] = {};
  const int64_t n = Stream.Read(head, 8);
  Stream.SetPosition(start);
  if (!IsCompoundFileData(head, static_cast<size_t>(n))) {
    TMSCustomWordDocument::InternalLoadFromOLEStream(Stream);  // a package stored directly
    return;
  }
  TMSWBaseDocument::LoadFromStream(Stream);  // clears the previous results
  LoadContainer(Stream);
} catch (...) {
  RethrowAsException();
}

void TMSWordXDocument::LoadContainer(TStream& Stream) {
  // A package in a package is read; anything deeper is not.
  if (FContainerDepth > 0) {
    AddWarning("a compound file inside a compound file was not read");
    return;
  }
  struct TDepth {
    int& D;
    explicit TDepth(int& d) : D(d) { ++D; }
    ~TDepth() { --D; }
  } depth(FContainerDepth);
  if (Stream.Remaining() > FMaxStreamSize) throw ELimitError("The document is larger than the stream size limit");
  auto root = StgOpenStorageOnMemory(Stream.ReadBytes(Stream.Remaining()));
  if (auto encrypted = root->OpenStream(kEncryptedPackageStream)) {
    FPasswordProtected = true;
    if (FPassword.empty()) throw EPasswordError(SPasswordProtected);
    // A package protected by rights management keeps no password data.
    auto info = root->OpenStream(kEncryptionInfoStream);
    if (!info) throw EEncryptionNotSupportedError(SEncryptionNotSupported);
    TOfficeEncryption encryption(info->ReadBytes(info->Size()));
    if (!encryption.CheckPassword(Utf8ToWide(FPassword))) throw EPasswordError(SPasswordProtected);
    TBytesStream package(encryption.DecryptPackage(encrypted->ReadBytes(encrypted->Size()), FMaxStreamSize));
    encrypted.reset();
    root.reset();
    // Spreadsheets and presentations are encrypted the same way; only the
    // decrypted package tells them from a Word document.
    {
      TZipArchive probe;
      probe.LoadFromStream(package);
      if (!IsWordPackage(probe)) throw EUnsupportedError("unsupported file format: the encrypted package holds no Word document");
    }
    package.Seek(0, soBeginning);
    LoadPackage(package);
    return;
  }
  if (auto package = root->OpenStream(kPackageStream))
    LoadPackage(*package);
  else if (!root->Damage().empty())
    throw EOleError("Compound file is damaged: " + root->Damage().front());
}

bool TMSWordXDocument::ReadPart(const TZipArchive& Zip, std::string_view Name, RawByteString& Bytes, bool Required) {
  const int index = FindPart(Zip, Name);
  return index >= 0 && ReadPartAt(Zip, index, Name, Bytes, Required);
}

bool TMSWordXDocument::ReadPartAt(const TZipArchive& Zip, int Index, std::string_view Name, RawByteString& Bytes,
                                  bool Required) {
  try {
    const TLocalFile& f = Zip.Files()[Index];
    const int64_t declared =
        std::max(f.CommonFileHeader().UncompressedSize, f.CentralCommonFileHeader().UncompressedSize);
    if (FInflatedBytes + declared > FMaxDecompressedSize)
      throw ELimitError("The document decompresses to more than the allowed size");
    Bytes = Zip.GetUncompressed(Index);
  } catch (const Exception& e) {
    if (Required) throw;
    AddWarning(std::string(Name) + ": " + e.Message());
    return false;
  }
  FInflatedBytes += static_cast<int64_t>(Bytes.size());
  return true;
}

TMSWordXDocument::TLinkedPart TMSWordXDocument::ReadLinkedPart(const WideString& Id, std::string& Part,
                                                                RawByteString& Bytes) {
  const auto it = FStoryParts.find(Id);
  if (!FZip || it == FStoryParts.end()) return TLinkedPart::lpNoLink;
  Part = it->second;
  const int index = FindPart(*FZip, Part);
  if (index < 0) return TLinkedPart::lpMissing;
  // ReadPartAt says why (damage, the decompression limit).
  return ReadPartAt(*FZip, index, Part, Bytes, false) ? TLinkedPart::lpRead : TLinkedPart::lpUnreadable;
}

int TMSWordXDocument::FindPart(const TZipArchive& Zip, std::string_view Name) const {
  int index = Zip.GetIndexByFileName(Name);
  if (index < 0 && Name.find('%') != std::string_view::npos) index = Zip.GetIndexByFileName(DecodePercentEscapes(Name));
  return index;
}

bool TMSWordXDocument::ReadStory(const TZipArchive& Zip, std::string_view Name, bool Required) {
  const int index = FindPart(Zip, Name);
  if (index < 0) return false;
  BeginPart();
  FLinkTargets.clear();
  FStoryParts.clear();
  RawByteString rels;
  if (ReadPart(Zip, RelationshipsPartOf(Name), rels, false)) {
    try {
      TStoryRelationships r = StoryRelationships(rels, Name);
      FLinkTargets = std::move(r.Links);
      FStoryParts = std::move(r.Parts);
    } catch (const Exception& e) {
      AddWarning(std::string(Name) + ": links left out: " + e.Message());
    }
  }
  FZip = &Zip;
  TWordXNumbering::TState numbering = FNumbering.State();
  try {
    TPartSource source(Zip, index, FMaxDecompressedSize - FInflatedBytes, static_cast<size_t>(FPartPieceSize));
    ParsePart(source);
    FInflatedBytes += source.Produced();
  } catch (const Exception& e) {
    // The main part's error is raised; its text still held back from the
    // sink is not handed on.
    if (Required) throw;
    // A damaged secondary part gives nothing rather than a part of itself.
    FZip = nullptr;
    ResetRenderState();
    FNumbering.SetState(std::move(numbering));
    Output().RollBack(FPartPoint);
    Output().Release();
    MarkPartial(std::string(Name) + ": " + e.Message());
    return false;
  }
  FZip = nullptr;
  Output().Release();
  return true;
}

void TMSWordXDocument::ReadAltChunk(const WideString& Id) {
  static const std::string kNotRead = "content imported from another format (w:altChunk) was not read";
  // Imported content inside a paragraph (which Word does not write) would
  // have to end it.
  if (FParagraphDepth > 0) {
    AddWarning(kNotRead);
    return;
  }
  std::string part;
  RawByteString bytes;
  switch (ReadLinkedPart(Id, part, bytes)) {
    case TLinkedPart::lpNoLink: AddWarning(kNotRead); return;
    case TLinkedPart::lpMissing: AddWarning(kNotRead + ": " + part + " is missing"); return;
    case TLinkedPart::lpUnreadable: MarkPartial(kNotRead + ": " + part + " could not be read"); return;
    case TLinkedPart::lpRead: break;
  }
  switch (SniffChunk(part, bytes)) {
    case TChunkFormat::cfRtf: AddWarning(kNotRead + ": RTF"); return;
    case TChunkFormat::cfMime:
      // A web archive: its page is the first HTML part, in the charset its
      // headers name.
      for (const TMimePart& page : MimeParts(bytes)) {
        if (page.ContentType != "text/html") continue;
        TellChunkHtml(DecodeHtmlBytes(page.Body, DefaultCodePage(), page.Charset));
        return;
      }
      AddWarning(kNotRead + ": a web archive without a page");
      return;
    case TChunkFormat::cfPackage: ReadChunkPackage(std::move(bytes), part); return;
    case TChunkFormat::cfText: {
      const WideString text = DecodeTextBytes(bytes, DefaultCodePage());
      for (size_t from = 0; from <= text.size() && !Output().Cancelled();) {
        size_t end = text.find(u'\n', from);
        if (end == WideString::npos) end = text.size();
        std::u16string_view line = std::u16string_view(text).substr(from, end - from);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        if (!line.empty()) TellChunkLine(line, TParagraph());
        from = end + 1;
      }
      return;
    }
    case TChunkFormat::cfHtml: TellChunkHtml(DecodeHtmlBytes(bytes, DefaultCodePage())); return;
  }
}

void TMSWordXDocument::TellChunkHtml(std::u16string_view Html) {
  THtmlLines(
      [&](std::u16string_view Line, const TParagraph& P) {
        TellChunkLine(Line, P);
        return !Output().Cancelled();
      },
      nullptr)
      .Read(Html);
}

void TMSWordXDocument::TellChunkLine(std::u16string_view Line, const TParagraph& P) {
  BeginParagraph();
  FParagraphProperties.NumId = 0;
  if (P.Kind == TParagraphKind::Heading && P.Level > 0) FParagraphProperties.OutlineLevel = P.Level - 1;
  TellText(Line);
  EndParagraph();
}

void TMSWordXDocument::ReadDiagram(const WideString& Id) {
  std::string part;
  RawByteString bytes;
  switch (ReadLinkedPart(Id, part, bytes)) {
    case TLinkedPart::lpNoLink:
    case TLinkedPart::lpMissing: return;
    case TLinkedPart::lpUnreadable:
      MarkPartial("the text of a diagram was not read: " + part + " could not be read");
      return;
    case TLinkedPart::lpRead: break;
  }
  TLKXMLEngine xml;
  xml.SetMaxDepth(FMaxNestingDepth);
  xml.SetMaxNodes(FMaxXMLNodes);
  xml.LoadFromBytes(bytes);
  // The diagram's points in the order of its data; only nodes (and
  // assistants) show text, transitions and the document point do not.
  ForEachElement(xml.RootItem(), [&](TLKXMLItem& pt) {
    if (XMLLocalName(pt.TagName()) != u"pt") return;
    const WideString type = pt.AttributeValue(u"type");
    if (!type.empty() && type != u"node" && type != u"asst") return;
    const TLKXMLItem* text = FindChildElement(&pt, u"t");
    if (!text) return;
    ForEachElement(const_cast<TLKXMLItem*>(text), [&](TLKXMLItem& p) {
      if (XMLLocalName(p.TagName()) != u"p") return;
      WideString line;
      ForEachElement(&p, [&](TLKXMLItem& t) {
        if (XMLLocalName(t.TagName()) == u"t") line += t.Text();
      });
      if (!line.empty() && !Output().Cancelled()) TellChunkLine(line, TParagraph());
    });
  });
}

void TMSWordXDocument::ReadChunkPackage(RawByteString Bytes, const std::string& Part) {
  if (FChunkDepth >= kMaxChunkDepth) {
    MarkPartial(Part + ": documents imported too deep into each other were not read");
    return;
  }
  TMSWordXDocument inner;
  inner.FChunkDepth = FChunkDepth + 1;
  inner.SetTextFormating(TextFormating());
  TLKWParseItems items = FParseItems;
  inner.SetParseItems(items.Exclude(wpiSummaryInformation).Exclude(wpiVBA));
  inner.SetMaxDecompressedSize(FMaxDecompressedSize - FInflatedBytes);
  inner.SetMaxXMLNodes(MaxXMLNodes());
  inner.SetDefaultCodePage(DefaultCodePage());
  TChunkEvents events;
  inner.AddDocumentEvents(&events);
  try {
    TBytesStream stream(std::move(Bytes));
    inner.LoadFromStream(stream);
  } catch (const Exception& e) {
    MarkPartial("content imported from another format (w:altChunk) was not read: " + Part + ": " + e.Message());
    return;
  }
  FInflatedBytes += inner.FInflatedBytes;
  for (const TWarning& w : inner.Warnings()) AddWarning(Part + ": " + w.Message);
  if (inner.Partial()) MarkPartial(Part + ": the imported document was not read whole");
  events.Replay(Output());
}

void TMSWordXDocument::LoadPackage(TStream& Stream) {
  TZipArchive zip;
  zip.SetMaxMemberSize(std::min(FMaxStreamSize, FMaxDecompressedSize));
  zip.LoadFromStream(Stream);
  if (zip.Count() == 0) AddWarning("not a zip package");
  if (zip.DirectoryRebuilt()) MarkPartial(SZipDirectoryRebuilt);

  // The main part and its relationships; the usual names where the
  // relationships are missing.
  RawByteString bytes;
  std::string mainPart(kDefaultMainPart);
  std::vector<TRelationship> packageRels;
  if (ReadPart(zip, "_rels/.rels", bytes, false)) packageRels = ParseRelationships(bytes, "");
  for (const auto& r : packageRels) {
    if (r.Type == "officeDocument" && zip.GetIndexByFileName(r.Target) >= 0) {
      mainPart = r.Target;
      break;
    }
  }
  const std::string folder = PackageFolderOf(mainPart);

  if (FParseItems.Contains(wpiText)) {
    std::vector<TRelationship> mainRels;
    if (ReadPart(zip, RelationshipsPartOf(mainPart), bytes, false)) mainRels = ParseRelationships(bytes, mainPart);
    auto single = [&](std::string_view type, std::string_view fallback) {
      for (const auto& r : mainRels)
        if (r.Type == type) return r.Target;
      return folder + std::string(fallback);
    };
    // Note numbering formats, before the body numbers its references.
    if (ReadPart(zip, single("settings", "settings.xml"), bytes, false)) ReadNoteSettings(bytes);
    ReadNumbering(zip, single("numbering", "numbering.xml"), single("styles", "styles.xml"));

    TDocumentOutput& out = Output();
    out.BeginDocument();
    out.BeginStory(TStoryKind::Main);
    // In a package cut short, a main part cut off or cut into is the
    // damage, not the document's own.
    bool mainRead = false;
    try {
      mainRead = ReadStory(zip, mainPart, true);
    } catch (const ECorruptError& e) {
      if (!zip.DirectoryRebuilt()) throw;
      throw ECorruptError(std::string(kCutPackage) + e.what());
    }
    if (!mainRead && zip.DirectoryRebuilt()) throw ECorruptError(std::string(kCutPackage) + "its main part is cut off");
    if (!mainRead && zip.Count() > 0) MarkPartial("the package has no main document part");
    out.EndStory(TStoryKind::Main);

    auto readStory = [&](const std::vector<std::string>& parts, TStoryKind kind) {
      out.BeginStory(kind);
      for (const auto& part : parts) ReadStory(zip, part, false);
      out.EndStory(kind);
    };
    readStory({single("endnotes", "endnotes.xml")}, TStoryKind::Endnote);
    readStory({single("footnotes", "footnotes.xml")}, TStoryKind::Footnote);
    readStory(PartsOfKind(zip, mainRels, "header", folder, "header"), TStoryKind::Header);
    readStory(PartsOfKind(zip, mainRels, "footer", folder, "footer"), TStoryKind::Footer);
    readStory({single("comments", "comments.xml")}, TStoryKind::Comment);
    out.EndDocument();
  }

  if (FParseItems.Contains(wpiSummaryInformation)) {
    auto metadataPart = [&](std::string_view type, std::string_view fallback) {
      for (const auto& r : packageRels)
        if (r.Type == type) return r.Target;
      return std::string(fallback);
    };
    if (ReadPart(zip, metadataPart("core-properties", "docProps/core.xml"), bytes, false)) ReadProperties(bytes);
    if (ReadPart(zip, metadataPart("extended-properties", "docProps/app.xml"), bytes, false)) ReadProperties(bytes);
  }
}

void TMSWordXDocument::ReadNumbering(const TZipArchive& Zip, std::string_view NumberingPart,
                                     std::string_view StylesPart) {
  RawByteString numbering, styles;
  ReadPart(Zip, NumberingPart, numbering, false);
  ReadPart(Zip, StylesPart, styles, false);
  try {
    FNumbering.Load(numbering, styles, FMaxNestingDepth);
  } catch (const Exception& e) {
    // What was read stays; labels past the damage are missing.
    AddWarning(std::string("list numbering: ") + e.Message());
  }
}

void TMSWordXDocument::ReadNoteSettings(std::string_view Bytes) {
  TLKXMLEngine xml;
  xml.SetMaxDepth(FMaxNestingDepth);
  xml.LoadFromBytes(Bytes);
  auto numbering = [&](std::u16string_view properties, TNoteNumbering& target) {
    TLKXMLItem* pr = FindByLocalName(xml.RootItem(), properties);
    TLKXMLItem* fmt = pr ? FindByLocalName(pr, u"numFmt") : nullptr;
    if (!fmt) return;
    WideString v = fmt->AttributeValue(u"w:val");
    if (v.empty()) v = fmt->AttributeValue(u"val");
    if (v == u"decimal") target = nnDecimal;
    else if (v == u"lowerRoman") target = nnLowerRoman;
    else if (v == u"upperRoman") target = nnUpperRoman;
    else if (v == u"lowerLetter") target = nnLowerLetter;
    else if (v == u"upperLetter") target = nnUpperLetter;
  };
  numbering(u"footnotePr", FFootnoteNumbering);
  numbering(u"endnotePr", FEndnoteNumbering);
}

void TMSWordXDocument::ReadProperties(std::string_view Bytes) {
  TLKXMLEngine xml;
  xml.SetMaxDepth(FMaxNestingDepth);
  xml.LoadFromBytes(Bytes);
  TLKWordSummaryInformation& s = *FSummaryInformation;
  // Elements are matched by local name, whatever prefixes the writer chose.
  if (TLKXMLItem* core = FindByLocalName(xml.RootItem(), u"coreProperties")) {
    auto text = [&](std::u16string_view name) {
      TLKXMLItem* n = FindByLocalName(core, name);
      return n ? n->Text() : WideString();
    };
    auto date = [&](std::u16string_view name) {
      TDateTime dt = 0;
      TLKXMLItem* n = FindByLocalName(core, name);
      if (n && !ParseW3CDateTime(n->Text(), dt)) dt = 0;
      return dt;
    };
    s.SetTitle(text(u"title"));
    s.SetSubject(text(u"subject"));
    s.SetAuthor(text(u"creator"));
    s.SetKeywords(text(u"keywords"));
    s.SetComments(text(u"description"));
    s.SetLastAuthor(text(u"lastModifiedBy"));
    s.SetRevNumber(text(u"revision"));
    s.SetCategory(text(u"category"));
    s.SetCreated(date(u"created"));
    s.SetLastSaved(date(u"modified"));
    s.SetLastPrinted(date(u"lastPrinted"));
  }
  if (TLKXMLItem* app = FindByLocalName(xml.RootItem(), u"Properties")) {
    auto text = [&](std::u16string_view name) {
      TLKXMLItem* n = FindByLocalName(app, name);
      return n ? n->Text() : WideString();
    };
    auto count = [&](std::u16string_view name) { return ParseCount(text(name)); };
    s.SetTemplate(text(u"Template"));
    s.SetEditTime(count(u"TotalTime"));
    s.SetPageCount(count(u"Pages"));
    s.SetWordCount(count(u"Words"));
    s.SetCharCount(count(u"Characters"));
    s.SetAppName(text(u"Application"));
    s.SetLineCount(count(u"Lines"));
    s.SetParagraphCount(count(u"Paragraphs"));
    s.SetManager(text(u"Manager"));
    s.SetCompany(text(u"Company"));
    s.SetCharCount2(count(u"CharactersWithSpaces"));
  }
}

}  // namespace lkw
