// EPUB e-book reader (EPUB 2 and 3): the container, the package documents,
// their metadata, the content documents in reading order and the cover.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "lkword/containers/LKWXML.h"
#include "lkword/containers/LKWZipFile.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/BookText.h"

namespace lkw {

class TLKWEPub : public TMSWBaseDocument {
 public:
  explicit TLKWEPub(TComponent* AOwner = nullptr);
  ~TLKWEPub() override;

  void ClearInternalLists() override;
  // Reads the book: every package document the container lists (or, with no
  // container, the first one in the archive), their metadata, the content
  // documents in spine order and the cover. Damaged or missing parts give
  // partial text with a warning. Raises when the archive holds no package
  // document (ECorruptError), and when META-INF/encryption.xml lists a
  // content document (EEncryptionNotSupportedError: DRM, no password opens
  // it).
  void LoadFromStream(TStream& Stream) override;

  // The cover picture's bytes after a load; empty when the book has none.
  TMemoryStream& CoverImage() { return *FCoverImage; }
  // The cover's member path and media type; empty when there is no cover.
  const std::string& CoverPath() const { return FCoverPath; }
  const std::string& CoverMediaType() const { return FCoverMediaType; }

  // True when the stream holds a zip archive whose mimetype member says
  // application/epub+zip or which has META-INF/container.xml. Reads from
  // position 0; the position is left anywhere.
  static bool IsEPub(TStream& Stream);

  std::string ClassName() const override { return "TLKWEPub"; }

 protected:
  // Mapped: the package's members are then referenced, not copied, and
  // pictures never read are never touched.
  bool MapsFile() const override { return true; }

 private:
  struct TManifestItem {
    WideString Id;
    std::string Path;  // resolved member path, UTF-8
    WideString MediaType;
    WideString Properties;
  };

  // The package documents the container names, or else the first one in
  // the archive.
  std::vector<std::string> ListPackages();
  // The named member's bytes; empty when it is missing or unreadable, with a
  // warning (Required: the result is partial).
  RawByteString ReadMember(std::string_view Path, bool Required);
  void LostMember(const std::string& Why, bool Required);
  void ReadEncryption();
  void ReadPackage(const std::string& Path);
  std::vector<TManifestItem> ReadManifest(const TLKXMLItem* Manifest, const std::string& BaseDir);
  // The content documents in reading order: the spine's, or the manifest's
  // when the spine gives none.
  std::vector<std::string> ReadingOrder(const TLKXMLItem* Spine, const std::vector<TManifestItem>& Items);
  void ReadMetadata(TLKXMLItem& Metadata, WideString& CoverId);
  void ReadCover(const std::vector<TManifestItem>& Items, const WideString& CoverId, const std::string& BaseDir);
  void ReadContent(const std::string& Path);
  // A line as a paragraph: a heading, a list item with its label, or body.
  bool EmitLine(const TBookTextWalker& Walker, TBookElementRole Role, std::u16string_view Tag, const WideString& Text);

  std::unique_ptr<TMemoryStream> FCoverImage;
  std::string FCoverPath;
  std::string FCoverMediaType;

  // Working state of one load.
  TZipArchive* FZip = nullptr;
  TLKXMLEngine* FEngine = nullptr;
  int64_t FDecompressed = 0;
  std::unordered_set<std::string> FEncrypted;  // member paths, A-Z folded
  std::unordered_set<std::string> FRead;       // content documents read, A-Z folded
};

}  // namespace lkw
