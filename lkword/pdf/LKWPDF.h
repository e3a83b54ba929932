// The PDF reader component. The pieces of the PDF unit have their own
// headers, included here: messages and exceptions (LKWPDFErrors.h),
// cross-reference entries (LKWPDFXRef.h), the byte-string helpers
// (LKWPDFText.h), the stream filters (LKWPDFFilters.h), the security handlers
// (LKWPDFSecurity.h) and metadata (LKWPDFMeta.h).
//
// The reader keeps the file's bytes for the duration of a load (and until the
// next one), so objects are looked up by offset without further I/O. Every
// offset, length and count read from the file is checked against those bytes;
// damaged cross-reference data is rebuilt by scanning for "N G obj".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/pdf/LKWPDFErrors.h"
#include "lkword/pdf/LKWPDFFilters.h"
#include "lkword/pdf/LKWPDFFont.h"
#include "lkword/pdf/LKWPDFMeta.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/pdf/LKWPDFSecurity.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/pdf/LKWPDFText.h"
#include "lkword/pdf/LKWPDFXRef.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

struct TPDFPageGlyphs;

// Where "%PDF-" (in any case) stands in the first KiB of Data, as readers
// accept junk before it; npos when it does not.
size_t FindPDFHeader(std::string_view Data);
// The content test: FindPDFHeader over the stream's first KiB, or a
// garbled header ("%PDF" and anything) at the very start. Stream at
// position 0.
bool IsPDF(TStream& Stream);
// The weaker test for a file without a usable header: an object header
// ("N G obj") at a line start in Head, the first KiB, and "endobj", "xref"
// or "trailer" in Head or Tail (the file's end). Good enough for a file
// that is named a PDF or was given to this reader, not for sniffing.
bool LooksLikePDFBody(std::string_view Head, std::string_view Tail);
bool LooksLikePDFBody(TStream& Stream);

class TLKPDFReader : public TMSWBaseDocument {
 public:
  explicit TLKPDFReader(TComponent* AOwner = nullptr);
  ~TLKPDFReader() override;

  void LoadFromStream(TStream& AStream) override;
  void ClearInternalLists() override;
  // True when the loaded document is encrypted.
  bool IsPasswordProtected() override;
  // Page text goes out page by page, so a host's text sink gets it while the
  // document is read.
  bool SupportsTextSink() const override { return true; }

  TLKPDFXRefList& XRefs() { return *FXRefs; }
  TLKPDFFonts& Fonts() { return *FFonts; }
  TLKPDFPages& Pages() { return *FPages; }
  // The strings of the trailer's /ID, joined.
  const RawByteString& DocID() const { return FDocID; }
  // The first /ID string: the identifier the security handler uses.
  const RawByteString& FirstDocID() const { return FFirstDocID; }
  const RawByteString& Version() const { return FVersion; }
  TLKPDFEncryption* Encryption() const { return FEncryption.get(); }
  // The merged trailer (entries of newer sections win).
  const TPDFObject& Trailer() const { return FTrailer; }
  // Whether the cross-reference data was rebuilt by scanning the file.
  bool Repaired() const { return FRepaired; }

  // --- Text and metadata -----------------------------------------------------
  // Pages of the document's page tree (counted even when MaxTextLength stops
  // the text early, and whatever the page range).
  int32_t PageCount() const { return FPageCount; }
  // Glyphs shown without a known Unicode mapping, over all fonts.
  int64_t UnmappedGlyphs() const { return FFonts ? FFonts->UnmappedGlyphs() : 0; }
  // Strings shown with no font to decode them.
  int64_t FontlessStrings() const { return FFonts ? FFonts->FontlessStrings() : 0; }
  // How page text is put together (dehyphenation, limits).
  const TPDFTextOptions& TextOptions() const { return FTextOptions; }
  void SetTextOptions(const TPDFTextOptions& Value) { FTextOptions = Value; }
  // Words hyphenated at line ends are joined (on by default).
  bool Dehyphenate() const { return FTextOptions.Dehyphenate; }
  void SetDehyphenate(bool Value) { FTextOptions.Dehyphenate = Value; }
  // Whether Pages() keeps each page's positioned items after its text is
  // out. Off, only the page's lines stay, and with a text sink not even
  // those, so memory follows one page rather than the document.
  bool KeepPageItems() const { return FKeepPageItems; }
  void SetKeepPageItems(bool Value) { FKeepPageItems = Value; }
  // The comments of markup annotations (notes, highlights, stamps and the
  // like: their /Contents), page by page, one item each, rendered for the
  // output format. Links, form fields, pop-ups and typed-in text (shown on
  // the page) are none.
  TWideStrings& AnnotationText() { return FAnnotationText; }
  // Whether each page's text is kept apart as well (PageTexts), for hosts
  // that hand out the pages one by one; off by default.
  bool KeepPageTexts() const { return FKeepPageTexts; }
  void SetKeepPageTexts(bool Value) { FKeepPageTexts = Value; }
  // With KeepPageTexts, one string a page read (the page range's pages):
  // its lines in plain text, each ending with LF, without separators or
  // annotation comments.
  const std::vector<WideString>& PageTexts() const { return FPageTexts; }
  // Whether the interactive form asks viewers to draw its fields anew from
  // their values (/NeedAppearances): the appearances stored with them may
  // predate the values.
  bool FieldsNeedAppearances();

  // The bytes of the string that is the value of Key (without '/'; a key
  // differing only in case is taken when the exact one is absent) in Dict,
  // the dictionary of object ObjNum/Gen (0 for one that is no object of its
  // own, such as a trailer's). A referenced string is read from its object
  // and decrypted with that object's number; a direct one with ObjNum's.
  // False when Key holds no string.
  bool GetInfoTag(std::string_view Key, const TPDFObject& Dict, int32_t ObjNum, int32_t Gen, RawByteString& Value);
  // GetInfoTag decoded as a PDF text string (UTF-16BE, UTF-8 or
  // PDFDocEncoding), without trailing NULs and blanks.
  bool GetInfoString(std::string_view Key, const TPDFObject& Dict, int32_t ObjNum, int32_t Gen, WideString& Value);

  // Object numbers (as text) of the trailer's /Root, /Info and /Encrypt.
  RawByteString RootTag;
  RawByteString InfoTag;
  RawByteString EncryptTag;
  // Subtracted from an object number to get its index in XRefs; always 0.
  int32_t StartCrossRef = 0;

  // --- Object access (text form) -------------------------------------------
  // The text of object RefNo: "N G obj ... endobj" as in the file, or, for an
  // object inside an object stream, its text framed the same way. Empty when
  // the object is free, unknown or unreadable. Stream is the stream being
  // loaded (the reader answers from its copy of the bytes); null gives "".
  void GetBodyByRefNo(TStream* Stream, int32_t RefNo, RawByteString& Body);
  RawByteString GetBodyByRefNo(int32_t RefNo);
  // The text after Key (first occurrence, or with FromEnd the last one that
  // begins a line), from after the line end to the first section end.
  static RawByteString GetRefBody(std::string_view Text, std::string_view Key, bool FromEnd);
  // The lowered /Type value of Text ("/page", "/xref", ...).
  static RawByteString GetItemType(std::string_view Text);
  // The flattened dictionary that is the value of Key in Text, inline or by
  // reference (case-sensitive; callers lower).
  RawByteString GetDoubleBracketValue(TStream* Stream, std::string_view Key, std::string_view Text);
  static WideString Reverse(const WideString& S);
  // The last word of S (at most Count + 1 bytes examined from the end) into
  // Line; with Delete, the "%%EOF" it stands for is removed from S when it
  // is one.
  static void GetLastLine(RawByteString& S, int Count, RawByteString& Line, bool Delete);
  // The integer value of Key in the lowered object text Text; a longer name
  // that begins with Key is passed over, and a reference is followed.
  int64_t GetIntTagValue(std::string_view Key, std::string_view Text);

  // --- Streams (text form) -------------------------------------------------
  // Filter: the lowered filter names of the object text Text ("/flatedecode",
  // "/ascii85decode /flatedecode"); Length and Length1 from its dictionary
  // (references followed).
  void GetFilterContent(TStream* Stream, const RawByteString& Text, RawByteString& Filter, int64_t& Length,
                        int64_t& Length1);
  // The decoded data of the stream in Text: cut out by Length (checked
  // against "endstream"), decrypted (as object ContentID, or as the object
  // Text's header names when ContentID is 0) and run through the filters of
  // Filter with the dictionary's /DecodeParms. DecodedLength receives the
  // decoded size.
  RawByteString GetStreamContent(const RawByteString& Filter, const RawByteString& Text, int64_t Length,
                                 int64_t& DecodedLength, int32_t ContentID);
  // One filter with the original parameter set (Columns and Predictor only).
  RawByteString DecodeContentByFilter(std::string_view FilterName, const RawByteString& Data, int64_t Length,
                                      int64_t& DecodedLength, int Columns, int Predictor);

  // --- Object access (parsed form) -----------------------------------------
  // Parses object ObjNum; Gen receives its generation. False when absent.
  bool GetObject(int32_t ObjNum, TPDFObject& Obj, int32_t* Gen = nullptr);
  // Obj itself, or the object it refers to (references followed up to a
  // small depth).
  TPDFObject Resolve(const TPDFObject& Obj);
  // The decoded stream data of object ObjNum (decrypted, filtered). False
  // when the object is not a stream.
  bool GetStreamData(int32_t ObjNum, RawByteString& Data);
  // Whether ObjNum lives inside an object stream (its strings are then not
  // encrypted on their own).
  bool IsCompressedObject(int32_t ObjNum);
  // A string of object (ObjNum, Gen) decrypted as the document requires
  // (unchanged when the file is not encrypted or the object is compressed).
  RawByteString DecryptString(int32_t ObjNum, int32_t Gen, const RawByteString& Value);
  // The page objects in document order: the page tree walked depth first,
  // each node once, depth bounded.
  std::vector<int32_t> GetPageObjects();
  // The decoded content streams of a page object, joined with a line feed.
  RawByteString GetPageContents(int32_t PageObjNum);

  // --- Security ------------------------------------------------------------
  // Creates the handler from the /Encrypt dictionary (nothing when absent).
  void ParseEncryption(TStream* Stream);

  std::string ClassName() const override { return "TLKPDFReader"; }

  // The glyphs of the page being read, kept from page to page so that their
  // buffers are not allocated (and faulted in) again for every page.
  TPDFPageGlyphs& PageGlyphScratch();

 protected:
  // Mapped rather than read where it can be: only the pages the text needs
  // are touched, not the images of a scanned document.
  bool MapsFile() const override { return true; }
  // Pages behind their separator lines, annotations into AnnotationText().
  std::unique_ptr<TTextRenderer> CreateRenderer() override;
  // The pages of GetPageObjects() in the page range, each text added
  // behind its separator lines; stops at MaxTextLength. Pages outside the
  // range are counted, never interpreted. A page that cannot be read gives a
  // warning and an empty page (Body, the catalog's text, is not needed).
  virtual void ProcessPages(TStream& Stream, const RawByteString& Body);
  // One page object: inherited resources, media box and rotation, its
  // contents through ExtractPageText.
  virtual void ProcessPage(int32_t ObjNum, TLKPDFPage& Page);
  // The page's lines, one paragraph each, until the output is cancelled.
  void OutputPageLines(const TLKPDFPage& Page);
  // The information dictionary into SummaryInformation, fields it lacks from
  // the catalog's XMP metadata stream.
  virtual void ProcessMetaData(TStream& Stream);

 private:
  // The document catalog (the trailer's /Root); false when it is lost.
  bool GetCatalog(TPDFObject& Catalog);
  bool ReadNeedAppearances();

  std::unique_ptr<TPDFPageGlyphs> FPageGlyphs;
  struct TSection;
  struct TObjStm {
    RawByteString Data;
    size_t First = 0;
    std::vector<std::pair<int32_t, size_t>> Entries;  // object number, offset from First
    std::vector<size_t> Ends;                          // where each entry's text ends, in Data
    std::unordered_map<int32_t, size_t> IndexOf;       // object number -> first entry
  };
  // Where an object's text lies: a view into the file or into an unpacked
  // object stream. ValueStart is where its value begins (after "obj").
  struct TObjText {
    std::string_view Text;
    size_t ValueStart = 0;
    int32_t Gen = 0;
    bool Compressed = false;
  };

  // Loading
  bool FindHeader();
  int64_t FindStartXRef() const;
  // Whether the file ends with its "%%EOF" line, as a file not cut short does.
  bool EndsComplete() const;
  bool WalkSections(int64_t StartOffset, std::string& Error);
  bool ParseSectionAt(int64_t Offset, TSection& Section);
  // A classic table whose "xref" keyword ends at Pos, and a cross-reference
  // stream object at Pos (read at the file's bytes, never copied).
  bool LoadCrossXRefTable(size_t Pos, TSection& Section);
  bool LoadCrossXRefStream(size_t Pos, TSection& Section, bool Hybrid);
  void ApplyEntries(const TSection& Section);
  void MergeTrailer(const TPDFObject& Dict);
  void TakeTrailerValues();
  void Repair();
  void ScanObjects();
  void BuildOffsetIndex();

  // Lookup
  bool LocateObject(int32_t ObjNum, TObjText& Out);
  bool LocateUncompressed(int32_t ObjNum, int64_t Offset, TObjText& Out);
  bool LocateObjectExists(int32_t ObjNum);
  bool HeaderAt(int64_t Offset, int32_t ObjNum, size_t& ValueStart, int32_t& Gen) const;
  size_t NextObjectOffset(size_t Pos) const;
  size_t ObjectEnd(size_t Start, size_t ValueStart);
  const TObjStm* GetObjStm(int32_t ObjNum);
  // The data of a stream starting at DataStart: by Length when "endstream"
  // follows it, else up to "endstream" (searched before Limit first).
  // AfterEnd is where the "endstream" keyword ends. False when it is missing.
  bool StreamRange(std::string_view Text, size_t DataStart, int64_t Length, size_t Limit, size_t& DataEnd,
                   size_t& AfterEnd) const;
  int64_t ResolveLength(const TPDFObject* LengthObj);
  RawByteString DecodeStream(const TPDFObject& Dict, std::string_view Raw, int32_t ObjNum, int32_t Gen,
                             const std::vector<std::string>& Filters);
  size_t StreamCap();

  std::unique_ptr<TLKPDFXRefList> FXRefs;
  std::unique_ptr<TLKPDFFonts> FFonts;
  std::unique_ptr<TLKPDFPages> FPages;
  RawByteString FDocID;
  RawByteString FFirstDocID;
  RawByteString FVersion = "1.0";
  std::unique_ptr<TLKPDFEncryption> FEncryption;

  // The loaded bytes and what keeps them alive: a file's mapping, or a copy
  // of what a stream held.
  std::string_view FData;
  std::shared_ptr<const void> FDataOwner;
  size_t FHeaderOffset = 0;        // where "%PDF-" stands in FData
  TPDFObject FTrailer;
  TPDFObject FEncryptDict;         // a direct /Encrypt dictionary
  int32_t FEncryptObjNum = -1;
  bool FRepaired = false;
  bool FScanned = false;
  std::unordered_map<int32_t, int64_t> FScanTable;  // object number -> offset found by scanning
  std::vector<int64_t> FScanTrailers;               // offsets of "trailer" keywords found by scanning
  std::vector<size_t> FSortedOffsets;
  std::unordered_map<int32_t, std::pair<size_t, size_t>> FExtents;  // object -> [start, end) in FData
  std::unordered_map<int32_t, TObjStm> FObjStms;
  size_t FObjStmBytes = 0;
  int FLookupDepth = 0;
  int64_t FDecompressedTotal = 0;
  int32_t FPageCount = 0;
  int32_t FContentLost = 0;  // content streams named by pages but not in the file
  int8_t FNeedAppearances = -1;  // not looked up yet
  TPDFTextOptions FTextOptions;
  bool FKeepPageItems = false;
  TWideStrings FAnnotationText;
  bool FKeepPageTexts = false;
  std::vector<WideString> FPageTexts;
  void ReadAnnotationComments(const TPDFObject& Annots, int32_t PageNum, int32_t PageGen);
  // What a page-tree node passes on to its pages (its own entries over its
  // ancestors'), kept for the walk so that siblings do not climb again.
  struct TInheritedAttributes {
    TPDFObject Resources, MediaBox, CropBox;
    int Rotate = 0;
    bool HasResources = false, HasMediaBox = false, HasRotate = false, HasCropBox = false;
  };
  const TInheritedAttributes& InheritedAttributes(int32_t NodeNum);
  std::unordered_map<int32_t, TInheritedAttributes> FInherited;
};

}  // namespace lkw
