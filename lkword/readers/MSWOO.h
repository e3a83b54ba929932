// OpenDocument readers: text documents, spreadsheets and presentations (zip
// packages whose "content.xml" holds the body and "meta.xml" the metadata).
//
// What the readers tell (the output's shape is TOpenDocumentRenderer's):
// - The document is begun as the load starts, and ended after the headers
//   and footers; a sink gets nothing before the content is known to be
//   readable.
// - A paragraph or heading holds its whole text in document order: spans,
//   links and fields inline, <text:s> as fixed spaces, <text:tab> as a tab,
//   <text:line-break> as a line break. Its text is as the XML gives it
//   (entities decoded): its white space collapses in the output, as
//   OpenDocument prescribes.
// - Footnote and endnote bodies, annotations, and frames or shapes anchored
//   inside a paragraph follow that paragraph; notes and annotations are
//   stories, and a note's first paragraph has its citation as its label.
// - Tables, rows, cells, lists and list items, and presentation pages, are
//   told as such; a picture is a paragraph of its own.
// - A list item's first paragraph has the label its list style gives the
//   level (styles.xml's named styles or the content's automatic ones),
//   counted as lists continue, restart and nest; a heading has the number
//   the outline style gives its level. A slide's title is a heading. Repeated spreadsheet
//   rows and cells are told once with their count; the renderer writes
//   those with content as often as they repeat, up to a budget for the
//   whole load, and empty ones once.
// - The page headers and footers of text documents are stories, after the
//   body; formatted output is given the automatic styles (HTML writes them
//   as a style sheet).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"
#include "lkword/readers/ListLabels.h"
#include "lkword/readers/MSWOOCrypt.h"

namespace lkw {

class TLKXMLEngine;
class TLKXMLItem;
class TOpenDocumentRenderer;
class TPartSource;
class TZipArchive;

// A colour as 0x00BBGGRR (red in the low byte).
using TOOColor = uint32_t;
constexpr TOOColor ooclWhite = 0xFFFFFF;
// The window-text system colour, resolved to RGB.
constexpr TOOColor ooclWindowText = 0x000000;

enum TOOAlignment { ooaLeft, ooaRight, ooaCenter };
enum TOOFontStyle { oofsBold, oofsItalic, oofsUnderline };
using TOOFontStyles = TSet<TOOFontStyle>;

// The font of a text style. Name is never set by the reader.
struct TOOFont {
  int Size = 8;
  TOOFontStyles Style;
  TOOColor Color = ooclWindowText;
  std::string Name;
};

struct TOORect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

class TOOStyle : public TPersistent {
 public:
  TOOStyle() = default;

  const WideString& StyleName() const { return FStyleName; }
  void SetStyleName(const WideString& Value) { FStyleName = Value; }
  const WideString& StyleFamily() const { return FStyleFamily; }
  void SetStyleFamily(const WideString& Value) { FStyleFamily = Value; }
  // Never filled by the reader.
  TOOStyle* StyleParent() const { return FStyleParent; }
  void SetStyleParent(TOOStyle* Value) { FStyleParent = Value; }

  std::string ClassName() const override { return "TOOStyle"; }

 protected:
  WideString FStyleName;
  WideString FStyleFamily;
  TOOStyle* FStyleParent = nullptr;
};

// Families "text" and "paragraph".
class TOOStyleText : public TOOStyle {
 public:
  const TOOFont& TextFont() const { return FTextFont; }
  TOOFont& TextFont() { return FTextFont; }
  void SetTextFont(const TOOFont& Value) { FTextFont = Value; }
  // The background colour.
  TOOColor Color() const { return FColor; }
  void SetColor(TOOColor Value) { FColor = Value; }
  TOOAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TOOAlignment Value) { FAlignment = Value; }

  std::string ClassName() const override { return "TOOStyleText"; }

 private:
  TOOFont FTextFont;
  TOOColor FColor = ooclWhite;
  TOOAlignment FAlignment = ooaLeft;
};

// Family "graphic".
class TOOStyleGraphic : public TOOStyle {
 public:
  const TOORect& ClipRect() const { return FClipRect; }
  void SetClipRect(const TOORect& Value) { FClipRect = Value; }
  std::string ClassName() const override { return "TOOStyleGraphic"; }

 private:
  TOORect FClipRect;
};

// A "text:list-style" without a family. The reader fills none of its fields.
class TOOStyleNumList : public TOOStyle {
 public:
  const WideString& NumPrefix() const { return FNumPrefix; }
  void SetNumPrefix(const WideString& Value) { FNumPrefix = Value; }
  const WideString& NumSufix() const { return FNumSufix; }
  void SetNumSufix(const WideString& Value) { FNumSufix = Value; }
  const WideString& NumFormat() const { return FNumFormat; }
  void SetNumFormat(const WideString& Value) { FNumFormat = Value; }
  int32_t SpaceBefore() const { return FSpaceBefore; }
  void SetSpaceBefore(int32_t Value) { FSpaceBefore = Value; }
  const WideString& BulletChar() const { return FBulletChar; }
  void SetBulletChar(const WideString& Value) { FBulletChar = Value; }
  std::string ClassName() const override { return "TOOStyleNumList"; }

 private:
  WideString FNumPrefix;
  WideString FNumSufix;
  WideString FNumFormat;
  int32_t FSpaceBefore = 0;
  WideString FBulletChar = WideString(1, u'\x07');
};

// A level of a list style or of the outline style, as far as its label
// goes.
struct TOOListLevel {
  enum class TKind : uint8_t { Undefined, Number, Bullet, Image };
  TKind Kind = TKind::Undefined;
  TListNumberFormat Format = TListNumberFormat::None;
  WideString Prefix;
  WideString Suffix;
  WideString Bullet;  // in Unicode, never a symbol font's private code
  int64_t Start = 1;
  int DisplayLevels = 1;
};

// OpenDocument lists have ten levels.
constexpr int kOOListLevels = 10;

struct TOOListStyle {
  TOOListLevel Levels[kOOListLevels];
};

// What a paragraph style says of lists.
struct TOOParagraphListStyle {
  WideString Parent;
  WideString ListStyle;
  bool HasListStyle = false;  // an empty name takes the parent's list away
};

// The automatic styles of a document, in document order; owns them.
class TOOStyles : public TObject {
 public:
  TOOStyles() = default;
  ~TOOStyles() override { ClearStyles(); }

  void ClearStyles();
  int Count() const { return static_cast<int>(FList.size()); }
  // nullptr when AIndex is out of range.
  TOOStyle* GetStyle(int AIndex) const;
  // The first style named exactly AStyleName, or nullptr.
  TOOStyle* FindByStyleName(const WideString& AStyleName) const;
  TOOStyle* Add(std::unique_ptr<TOOStyle> AStyle);
  std::string ClassName() const override { return "TOOStyles"; }

 private:
  std::vector<std::unique_ptr<TOOStyle>> FList;
  std::unordered_map<WideString, TOOStyle*> FByName;  // first of each name
};

// Objects in objects are a document's own choice; a hostile one could nest
// its objects in each other without end.
constexpr int kMaxObjectDepth = 4;

class TCustomOpenOfficeDocument : public TMSWBaseDocument {
 public:
  explicit TCustomOpenOfficeDocument(TComponent* AOwner = nullptr);
  ~TCustomOpenOfficeDocument() override;

  void ClearInternalLists() override;
  // Reads the package, or a flat document (the whole document as one XML
  // file, root <office:document>), from the stream's position to its end.
  // Raises
  // "Could not read the password protected file" for an encrypted package
  // without its password (or with a wrong one), "The encryption method is
  // not supported in current version" for one it cannot decrypt,
  // and an Exception when the stream is no zip archive or (when text is
  // requested) the package has no "content.xml"; metadata is read first, so
  // it stays filled in that case. Malformed XML never raises: it gives what
  // text can be recovered.
  void LoadFromStream(TStream& Stream) override;
  // True when the last load met an encrypted package.
  bool IsPasswordProtected() override { return FPasswordProtected; }
  // Key derivations asking for more rounds than this are refused as not
  // supported (a hostile manifest could ask for billions); default 10
  // million, office suites write 100,000.
  uint32_t MaxKeyIterations() const { return FMaxKeyIterations; }
  void SetMaxKeyIterations(uint32_t Value) { FMaxKeyIterations = Value; }
  bool SupportsTextSink() const override { return true; }

  // Parses one content part and appends its rendered body to L (no frame).
  void LoadXMLFilePart(TStream& S, TWideStrings& L);

  // A content.xml that declares at least this many bytes is inflated twice,
  // checked first and then parsed as it is inflated, instead of being held
  // whole; default 16 MiB.
  int64_t StreamContentFrom() const { return FStreamContentFrom; }
  void SetStreamContentFrom(int64_t Value) { FStreamContentFrom = Value; }

  // The page headers and footers of a text document, each distinct one
  // once, in the order of the master pages; empty for other documents.
  TWideStrings& HeaderText() { return FHeaderText; }
  TWideStrings& FooterText() { return FFooterText; }
  // Whether loads read them (default true); they cost a parse of the
  // styles part, which a host that never shows them can spare.
  bool ReadHeadersFooters() const { return FReadHeadersFooters; }
  void SetReadHeadersFooters(bool Value) { FReadHeadersFooters = Value; }

  TOOStyles& Styles() { return FStyles; }
  const WideString& XMLTagRoot() const { return FXMLTagRoot; }
  const WideString& XMLTagText() const { return FXMLTagText; }
  std::string ClassName() const override { return "TCustomOpenOfficeDocument"; }

 protected:
  TOOStyles FStyles;
  // The body element and the content element inside it.
  WideString FXMLTagRoot = u"office:body";
  WideString FXMLTagText = u"office:text";

  // Mapped: the package's members are then referenced, not copied, and
  // pictures never read are never touched.
  bool MapsFile() const override { return true; }
  std::unique_ptr<TTextRenderer> CreateRenderer() override;

 private:
  friend class TOOBodyWriter;
  friend class TOOBodyStreamer;

  void ReadStyles(TLKXMLItem* AutomaticStyles);
  // The list styles, the outline style and the paragraph styles' lists
  // among the children of a styles element (of styles.xml or the content).
  void ReadListStyles(const TLKXMLItem* Styles);
  // The list styles of a styles part or a flat document.
  void ReadListStylesOf(const RawByteString& Part);
  // The named styles of styles.xml, read before the content; returns the
  // part for the master pages (empty when there is none).
  RawByteString ReadPackageStyles(const TZipArchive& Zip);
  // The list style a paragraph style gives, through its parents; nullptr
  // when none.
  const TOOListStyle* ParagraphListStyle(const WideString& ParagraphStyle) const;
  const TOOListStyle* ListStyle(const WideString& Name) const;
  // Headers and footers from the master pages in Xml (styles.xml, or the
  // master styles element of a flat document).
  void ReadMasterPages(const RawByteString& Xml);
  // A presentation's footer and header texts, declared before its slides
  // and told after them, as a text's master pages are.
  void TellDeclarations();
  void ReadMetadata(const RawByteString& MetaXML);
  // Reads the manifest's encryption data into FEncrypted; an encrypted
  // package without a password raises.
  void CheckEncryption(const TZipArchive& Zip);
  // A member's bytes, decrypted and inflated when the manifest says it is
  // encrypted.
  RawByteString Extract(const TZipArchive& Zip, int Index) const;
  // Extract, where a member the zip reader finds encrypted raises the
  // password error.
  RawByteString ExtractUnlocked(const TZipArchive& Zip, int Index);
  // The steps of a package's load.
  void ReadPackageMetadata(const TZipArchive& Zip);
  // The body, released to a sink once the content reads; raises when there
  // is no content.xml.
  void ReadPackageContent(const TZipArchive& Zip);
  void ReadPackageMasterPages(const RawByteString& StylesPart);
  void LoadFlatDocument(TStream& Stream, bool WantText);
  void LoadXMLBytes(RawByteString Bytes);
  // Size is the part's size, which bounds what repeated cells may add.
  void LoadXMLSource(TPartSource& Source, int64_t Size);
  void LoadXML(int64_t Size, const std::function<void(TLKXMLEngine&)>& Parse);
  // Gives the renderer the automatic styles as its style sheet.
  void TellStyleSheet();
  // The content part of the embedded object Href names ("./Object 1"),
  // parsed into Engine; false for a link out of the package, a missing or
  // unreadable part (a warning), or objects nested too deep.
  bool LoadObjectContent(std::u16string_view Href, TLKXMLEngine& Engine);
  TOpenDocumentRenderer& Renderer();

  TWideStrings FHeaderText;
  TWideStrings FFooterText;
  std::vector<std::pair<TStoryKind, WideString>> FDeclarations;
  std::unordered_map<WideString, TOOListStyle> FListStyles;
  std::unordered_map<WideString, TOOParagraphListStyle> FParagraphLists;
  TOOListStyle FOutlineStyle;
  bool FReadHeadersFooters = true;
  bool FPasswordProtected = false;
  uint32_t FMaxKeyIterations = 10'000'000;
  // Encrypted members by their path in the package.
  std::unordered_map<std::string, TOdfEncryptionData> FEncrypted;
  int64_t FStreamContentFrom = int64_t{16} << 20;
  // The package being read, for its embedded objects, and the folder of
  // the object being read inside it ("" for the document itself).
  const TZipArchive* FPackage = nullptr;
  std::string FObjectFolder;
  int FObjectDepth = 0;
  int64_t FObjectBytes = 0;  // what the objects read so far declared
};

class TOpenOfficeTextDocument : public TCustomOpenOfficeDocument {
 public:
  explicit TOpenOfficeTextDocument(TComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TOpenOfficeTextDocument"; }
};

class TOpenOfficeSpreadsheet : public TCustomOpenOfficeDocument {
 public:
  explicit TOpenOfficeSpreadsheet(TComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TOpenOfficeSpreadsheet"; }
};

class TOpenOfficePresentation : public TCustomOpenOfficeDocument {
 public:
  explicit TOpenOfficePresentation(TComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TOpenOfficePresentation"; }
};

// "#rrggbb" as a colour; false (Color unchanged) for any other form.
bool ParseOOHexColor(std::u16string_view Value, TOOColor& Color);
// An ISO 8601 duration ("PT1H30M15S", "P1DT2H3M4.5S") in whole seconds,
// fractions truncated; 0 for text that is not a duration. Years and months
// count as 365 and 30 days.
int64_t ParseOODuration(std::u16string_view Value);
// An OpenDocument date-time ("2015-02-20T11:11:40", optionally with
// fractions and a zone, or a date alone) as local time. A value without a
// zone is taken as UTC. 0 for text that is not a date.
TDateTime ParseOODateTime(std::u16string_view Value);

// What kind of OpenDocument package a stream holds, by its "mimetype"
// member, else its manifest, else the body element of its content; for a
// flat document, by the media type its root element names.
enum TOpenDocumentKind { odkNone, odkText, odkSpreadsheet, odkPresentation };
TOpenDocumentKind OpenDocumentKindFromMimeType(std::string_view MimeType);
// Reads from the stream's position; leaves the position anywhere.
TOpenDocumentKind DetectOpenDocument(TStream& Stream);
// DetectOpenDocument for each kind, as content tests.
bool IsOpenDocumentText(TStream& Stream);
bool IsOpenDocumentSpreadsheet(TStream& Stream);
bool IsOpenDocumentPresentation(TStream& Stream);

}  // namespace lkw
