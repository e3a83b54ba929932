#include "lkword/readers/MSWEPub.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "lkword/containers/PackagePath.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

constexpr int kMaxListLevel = 9;

const char* const SNotEPub = "File is not a valid EPUB book: it has no package document.";
const char* const SEPubEncrypted = "The EPUB book is encrypted: %s cannot be read.";
const char* const SEPubTooLarge = "The book's decompressed size exceeds the limit";

constexpr std::string_view kContainerPath = "META-INF/container.xml";
constexpr std::string_view kEncryptionPath = "META-INF/encryption.xml";
constexpr std::string_view kEPubMimeType = "application/epub+zip";
// Where books written without a cover entry commonly keep it.
constexpr std::string_view kDefaultCoverPath = "images/cover.jpg";

bool HasToken(std::u16string_view list, std::u16string_view token) {
  size_t p = 0;
  while (p < list.size()) {
    size_t e = list.find(u' ', p);
    if (e == std::u16string_view::npos) e = list.size();
    if (SameTextAscii(list.substr(p, e - p), token)) return true;
    p = e + 1;
  }
  return false;
}

bool IsContentType(std::u16string_view mediaType, std::string_view path) {
  if (!mediaType.empty())
    return SameTextAscii(mediaType, u"application/xhtml+xml") || SameTextAscii(mediaType, u"text/html") ||
           SameTextAscii(mediaType, u"text/x-oeb1-document") || SameTextAscii(mediaType, u"application/x-dtbook+xml");
  std::string p = LowerAscii(path);
  return p.ends_with(".xhtml") || p.ends_with(".html") || p.ends_with(".htm");
}

// calibre and others keep HTML in the description; keep its text. Block
// tags separate words, inline ones do not.
WideString StripTags(const WideString& s) {
  if (s.find(u'<') == WideString::npos) return s;
  WideString out;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    size_t n = i + 1 < s.size() && s[i + 1] == u'/' ? i + 2 : i + 1;
    if (c == u'<' && n < s.size() && IsAsciiLetter(s[n])) {
      size_t gt = s.find(u'>', i);
      if (gt != WideString::npos) {
        size_t e = n;
        while (e < gt && IsAsciiAlnum(s[e])) ++e;
        WideString name;
        for (size_t k = n; k < e; ++k) name += ToLowerAscii(s[k]);
        if (ClassifyXHTML(name) != brInline && !out.empty() && out.back() != u' ') out += u' ';
        i = gt;
        continue;
      }
    }
    out += c;
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  size_t b = out.find_first_not_of(u' ');
  return b == WideString::npos ? WideString() : out.substr(b);
}

void Join(WideString& field, const WideString& value) {
  if (value.empty()) return;
  if (!field.empty()) field += u"; ";
  field += value;
}

}  // namespace

TLKWEPub::TLKWEPub(TComponent* AOwner) : TMSWBaseDocument(AOwner), FCoverImage(std::make_unique<TMemoryStream>()) {}

TLKWEPub::~TLKWEPub() = default;

void TLKWEPub::ClearInternalLists() {
  TMSWBaseDocument::ClearInternalLists();
  if (FCoverImage) FCoverImage->Clear();
  FCoverPath.clear();
  FCoverMediaType.clear();
}

void TLKWEPub::LoadFromStream(TStream& Stream) try {
  TMSWBaseDocument::LoadFromStream(Stream);
  const bool text = FParseItems.Contains(wpiText);
  if (text) Output().BeginDocument();

  if (Stream.Size() - Stream.Position() > FMaxStreamSize)
    throw ELimitError("The document is larger than the stream size limit");
  TZipArchive zip;
  zip.SetMaxMemberSize(std::min(zip.MaxMemberSize(), FMaxDecompressedSize));
  zip.LoadFromStream(Stream);
  if (zip.DirectoryRebuilt()) MarkPartial(SZipDirectoryRebuilt);
  TLKXMLEngine engine;
  engine.SetMaxDepth(FMaxNestingDepth);
  engine.SetMaxNodes(FMaxXMLNodes);
  FZip = &zip;
  FEngine = &engine;
  FDecompressed = 0;
  FEncrypted.clear();
  FRead.clear();
  struct TReset {
    TLKWEPub* Self;
    ~TReset() {
      Self->FZip = nullptr;
      Self->FEngine = nullptr;
      Self->FEncrypted.clear();
      Self->FRead.clear();
    }
  } reset{this};

  ReadEncryption();
  for (const std::string& p : ListPackages()) {
    if (Cancelled()) break;
    ReadPackage(p);
  }

  if (text) Output().EndDocument();
} catch (...) {
  RethrowAsException();
}

std::vector<std::string> TLKWEPub::ListPackages() {
  std::vector<std::string> packages;
  RawByteString container = ReadMember(kContainerPath, false);
  if (!container.empty()) {
    FEngine->LoadFromBytes(container);
    if (const TLKXMLItem* rootfiles = FindElement(FEngine->RootItem(), u"rootfiles"))
      ForEachChildElement(*rootfiles, u"rootfile", [&](const TLKXMLItem& r) {
        const WideString type = r.AttributeValue(u"media-type");
        if (!type.empty() && !SameTextAscii(type, u"application/oebps-package+xml")) return;
        std::string path =
            ResolvePackageReference("", WideToUtf8(r.AttributeValue(u"full-path")), TPercentEscapes::Decode);
        if (!path.empty() && std::find(packages.begin(), packages.end(), path) == packages.end())
          packages.push_back(std::move(path));
      });
  }
  std::erase_if(packages, [&](const std::string& p) {
    if (FZip->GetIndexByFileName(std::string_view(p)) >= 0) return false;
    AddWarning("missing package document " + p);
    return true;
  });
  if (!packages.empty()) return packages;
  // No usable container: take the first package document in the archive.
  for (int i = 0; i < FZip->Count(); ++i) {
    const RawByteString& name = FZip->Files()[i].FileName();
    if (LowerAscii(name).ends_with(".opf")) {
      packages.push_back(name);
      break;
    }
  }
  if (packages.empty()) throw ECorruptError(SNotEPub);
  AddWarning("no container entry for the package document; " + packages[0] + " used");
  return packages;
}

// A content document that cannot be read is text lost.
void TLKWEPub::LostMember(const std::string& Why, bool Required) {
  if (Required)
    MarkPartial(Why);
  else
    AddWarning(Why);
}

RawByteString TLKWEPub::ReadMember(std::string_view Path, bool Required) {
  const int i = FZip->GetIndexByFileName(Path);
  if (i < 0) {
    if (Required) LostMember("missing member " + std::string(Path), true);
    return RawByteString();
  }
  const TLocalFile& f = FZip->Files()[i];
  FDecompressed += std::max(f.CommonFileHeader().UncompressedSize, f.CentralCommonFileHeader().UncompressedSize);
  if (FMaxDecompressedSize > 0 && FDecompressed > FMaxDecompressedSize) throw ELimitError(SEPubTooLarge);
  try {
    return FZip->GetUncompressed(i);
  } catch (const EZipFileCRCError& e) {
    LostMember(e.Message(), Required);
  } catch (const EZipFileError& e) {
    // A member encrypted by the zip itself cannot be read at all.
    if (e.Kind() == TZipErrorKind::zeEncrypted) throw;
    LostMember(e.Message(), Required);
  }
  return RawByteString();
}

void TLKWEPub::ReadEncryption() {
  RawByteString bytes = ReadMember(kEncryptionPath, false);
  if (bytes.empty()) return;
  FEngine->LoadFromBytes(bytes);
  ForEachElement(FEngine->RootItem(), [this](const TLKXMLItem& n) {
    if (!IsElementNamed(n, u"CipherReference")) return;
    const std::string path =
        ResolvePackageReference("", WideToUtf8(n.AttributeValue(u"URI")), TPercentEscapes::Decode);
    if (!path.empty()) FEncrypted.insert(LowerAscii(path));
  });
}

void TLKWEPub::ReadPackage(const std::string& Path) {
  RawByteString bytes = ReadMember(Path, true);
  if (bytes.empty()) return;
  FEngine->LoadFromBytes(bytes);
  RawByteString().swap(bytes);
  const std::string baseDir = PackageFolderOf(Path);
  TLKXMLItem* pkg = FindElement(FEngine->RootItem(), u"package");
  if (!pkg) pkg = FEngine->RootItem();

  WideString coverId;
  if (TLKXMLItem* md = FindElement(pkg, u"metadata")) ReadMetadata(*md, coverId);
  const std::vector<TManifestItem> items = ReadManifest(FindElement(pkg, u"manifest"), baseDir);
  ReadCover(items, coverId, baseDir);
  if (!FParseItems.Contains(wpiText)) return;

  const std::vector<std::string> docs = ReadingOrder(FindElement(pkg, u"spine"), items);
  for (const std::string& d : docs)
    if (FEncrypted.count(LowerAscii(d))) throw EEncryptionNotSupportedError(Format(SEPubEncrypted, {d}));
  for (const std::string& d : docs) {
    if (Cancelled()) break;
    ReadContent(d);
  }
}

std::vector<TLKWEPub::TManifestItem> TLKWEPub::ReadManifest(const TLKXMLItem* Manifest, const std::string& BaseDir) {
  std::vector<TManifestItem> items;
  if (!Manifest) return items;
  ForEachChildElement(*Manifest, u"item", [&](const TLKXMLItem& c) {
    items.push_back({c.AttributeValue(u"id"),
                     ResolvePackageReference(BaseDir, WideToUtf8(c.AttributeValue(u"href")), TPercentEscapes::Decode),
                     c.AttributeValue(u"media-type"), c.AttributeValue(u"properties")});
  });
  return items;
}

std::vector<std::string> TLKWEPub::ReadingOrder(const TLKXMLItem* Spine, const std::vector<TManifestItem>& Items) {
  std::vector<std::string> docs;
  if (Spine) {
    std::unordered_map<std::string, size_t> byId;  // A-Z folded id; the first of equal ids wins
    for (size_t i = 0; i < Items.size(); ++i) byId.emplace(LowerAscii(WideToUtf8(Items[i].Id)), i);
    ForEachChildElement(*Spine, u"itemref", [&](const TLKXMLItem& c) {
      const WideString idref = c.AttributeValue(u"idref");
      const auto it = byId.find(LowerAscii(WideToUtf8(idref)));
      if (it == byId.end()) {
        AddWarning("spine entry " + WideToUtf8(idref) + " names no manifest item");
        return;
      }
      const TManifestItem& item = Items[it->second];
      if (!item.Path.empty() && IsContentType(item.MediaType, item.Path)) docs.push_back(item.Path);
    });
  }
  if (docs.empty()) {
    // Without a usable spine, the manifest's order is the best there is.
    for (const TManifestItem& item : Items)
      if (!item.Path.empty() && IsContentType(item.MediaType, item.Path) && !HasToken(item.Properties, u"nav"))
        docs.push_back(item.Path);
    if (!docs.empty()) AddWarning("no usable spine; content read in manifest order");
  }
  return docs;
}

void TLKWEPub::ReadMetadata(TLKXMLItem& Metadata, WideString& CoverId) {
  // Older packages wrap the elements in dc-metadata and x-metadata.
  std::vector<const TLKXMLItem*> elements;
  for (int i = 0; i < Metadata.Items().Count(); ++i) {
    const TLKXMLItem* c = Metadata.Items()[i];
    if (c->Kind() != ikProperty) continue;
    std::u16string_view name = XMLLocalName(c->TagName());
    if (SameTextAscii(name, u"dc-metadata") || SameTextAscii(name, u"x-metadata")) {
      for (int k = 0; k < c->Items().Count(); ++k)
        if (c->Items()[k]->Kind() == ikProperty) elements.push_back(c->Items()[k]);
    } else {
      elements.push_back(c);
    }
  }

  TLKWordSummaryInformation& si = *FSummaryInformation;
  const bool summary = FParseItems.Contains(wpiSummaryInformation);
  WideString title, author, subject, company, comments;
  TDateTime creation = 0, published = 0, timestamp = 0, modified = 0;
  for (const TLKXMLItem* c : elements) {
    const std::u16string_view name = XMLLocalName(c->TagName());
    if (SameTextAscii(name, u"meta")) {
      WideString metaName = c->AttributeValue(u"name");
      if (SameTextAscii(metaName, u"cover")) {
        if (CoverId.empty()) CoverId = c->AttributeValue(u"content");
      } else if (SameTextAscii(metaName, u"calibre:timestamp")) {
        if (timestamp == 0) timestamp = BookDateToDateTime(c->AttributeValue(u"content"));
      } else if (SameTextAscii(c->AttributeValue(u"property"), u"dcterms:modified")) {
        if (modified == 0) modified = BookDateToDateTime(ElementText(c));
      }
      continue;
    }
    if (!summary) continue;
    if (SameTextAscii(name, u"title")) Join(title, ElementText(c));
    else if (SameTextAscii(name, u"creator")) Join(author, ElementText(c));
    else if (SameTextAscii(name, u"subject")) Join(subject, ElementText(c));
    else if (SameTextAscii(name, u"publisher")) Join(company, ElementText(c));
    else if (SameTextAscii(name, u"description")) Join(comments, StripTags(ElementText(c)));
    else if (SameTextAscii(name, u"date")) {
      WideString event = c->AttributeValue(u"opf:event");
      if (event.empty()) event = c->AttributeValue(u"event");
      TDateTime dt = BookDateToDateTime(ElementText(c));
      if (SameTextAscii(event, u"modification")) {
        if (modified == 0) modified = dt;
      } else if (SameTextAscii(event, u"creation")) {
        if (creation == 0) creation = dt;
      } else if (published == 0) {
        published = dt;
      }
    }
  }
  if (!summary) return;
  // Further root files add to what the first one gave.
  auto add = [](WideString field, const WideString& value) {
    Join(field, value);
    return field;
  };
  si.SetTitle(add(si.Title(), title));
  si.SetAuthor(add(si.Author(), author));
  si.SetSubject(add(si.Subject(), subject));
  si.SetCompany(add(si.Company(), company));
  si.SetComments(add(si.Comments(), comments));
  // The book's own date before the time it was added to a library.
  TDateTime created = creation != 0 ? creation : published != 0 ? published : timestamp;
  if (si.Created() == 0) si.SetCreated(created);
  if (si.LastSaved() == 0) si.SetLastSaved(modified);
}

void TLKWEPub::ReadCover(const std::vector<TManifestItem>& Items, const WideString& CoverId,
                         const std::string& BaseDir) {
  const TManifestItem* cover = nullptr;
  std::string path;
  if (!CoverId.empty()) {
    for (const TManifestItem& item : Items)
      if (SameTextAscii(item.Id, CoverId)) {
        cover = &item;
        break;
      }
    // Some writers put the picture's path where its id belongs.
    if (!cover) {
      std::string p = ResolvePackageReference(BaseDir, WideToUtf8(CoverId), TPercentEscapes::Decode);
      if (!p.empty() && FZip->GetIndexByFileName(std::string_view(p)) >= 0) path = p;
    }
  }
  if (!cover && path.empty())
    for (const TManifestItem& item : Items)
      if (HasToken(item.Properties, u"cover-image")) {
        cover = &item;
        break;
      }
  // A cover entry naming a page rather than a picture gives no picture.
  if (cover && !cover->MediaType.empty() && !cover->MediaType.starts_with(u"image/")) cover = nullptr;
  if (cover) path = cover->Path;
  if (!cover && path.empty()) {
    std::string p = BaseDir + std::string(kDefaultCoverPath);
    if (FZip->GetIndexByFileName(std::string_view(p)) >= 0) path = p;
  }
  if (path.empty()) return;
  RawByteString bytes = ReadMember(path, true);
  if (bytes.empty()) return;
  FCoverImage->Clear();
  FCoverImage->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  FCoverImage->Seek(0, soBeginning);
  FCoverPath = path;
  FCoverMediaType = cover ? WideToUtf8(cover->MediaType) : std::string();
}

void TLKWEPub::ReadContent(const std::string& Path) {
  // A spine that lists a document twice does not repeat its text.
  if (!FRead.insert(LowerAscii(Path)).second) return;
  RawByteString bytes = ReadMember(Path, true);
  if (bytes.empty()) return;
  FEngine->LoadFromBytes(bytes);
  RawByteString().swap(bytes);
  if (FEngine->DepthLimitReached()) AddWarning("elements nested too deeply; their text joins the enclosing ones");
  if (FEngine->NodeLimitReached()) AddWarning(Path + ": more than " + std::to_string(FMaxXMLNodes) + " elements; the rest was left out");
  TLKXMLItem* body = FindElement(FEngine->RootItem(), u"body");
  if (!body) body = FEngine->RootItem();
  TBookTables tables(Output());
  TBookTextWalker walker(ClassifyXHTML, [&](TBookElementRole Role, std::u16string_view Tag, const WideString& T) {
    if (Role == brSection) tables.Close(); else tables.Before(walker);
    return EmitLine(walker, Role, Tag, T);
  });
  walker.Walk(*body);
  tables.Close();
}

bool TLKWEPub::EmitLine(const TBookTextWalker& Walker, TBookElementRole Role, std::u16string_view Tag,
                        const WideString& T) {
  TDocumentOutput& out = Output();
  if (Role == brSection) {
    out.EndSection();
    return !out.Cancelled();
  }
  TParagraph p;
  if (Role == brPreformatted) {
    p.Kind = TParagraphKind::Preformatted;
  } else if (Tag.size() == 2 && (Tag[0] == u'h' || Tag[0] == u'H') && Tag[1] >= u'1' && Tag[1] <= u'6') {
    p.Kind = TParagraphKind::Heading;
    p.Level = Tag[1] - u'0';
  } else if (Walker.InListItem()) {
    p.Kind = TParagraphKind::ListItem;
    p.Level = std::clamp(Walker.ListLevel(), 1, kMaxListLevel);
  }
  if (Role != brPreformatted) p.Label = Walker.ItemLabel();
  out.BeginParagraph(p);
  out.Text(T);
  out.EndParagraph();
  return !out.Cancelled();
}

bool TLKWEPub::IsEPub(TStream& Stream) {
  try {
    Stream.Seek(0, soBeginning);
    uint8_t head[30 + 8 + 64] = {};
    const int64_t n = Stream.Read(head, sizeof head);
    if (n < 30 || LoadLE32(head) != ZipLocalFileHeaderSignature) return false;
    // The format wants a stored "mimetype" member first; most books have one.
    const uint16_t nameLength = LoadLE16(head + 26), extraLength = LoadLE16(head + 28);
    if (nameLength == 8 && std::memcmp(head + 30, "mimetype", 8) == 0 && LoadLE16(head + 8) == ZipMethodStored) {
      Stream.Seek(30 + 8 + extraLength, soBeginning);
      char type[kEPubMimeType.size()];
      if (LoadLE32(head + 18) >= sizeof type && Stream.Read(type, sizeof type) == sizeof type)
        return std::string_view(type, sizeof type) == kEPubMimeType;
    }
    Stream.Seek(0, soBeginning);
    TZipArchive zip;
    zip.LoadFromStream(Stream);
    const int m = zip.GetIndexByFileName(std::string_view("mimetype"));
    if (m >= 0 && zip.Files()[m].CentralCommonFileHeader().UncompressedSize < 256) {
      RawByteString type = zip.GetUncompressed(m);
      while (!type.empty() && (type.back() == '\n' || type.back() == '\r' || type.back() == ' ')) type.pop_back();
      if (type == kEPubMimeType) return true;
    }
    return zip.GetIndexByFileName(kContainerPath) >= 0;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace lkw
