// The PDF reader component and the pieces of the PDF unit: cross-reference
// data and object lookup, the text helpers with which dictionaries are read,
// the stream filters, and the standard security handler.
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
#include "lkword/pdf/LKWPDFFont.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

struct TPDFPageGlyphs;

// ---------------------------------------------------------------------------
// Messages

inline constexpr const char* SPDFNotValid = "This is not valid PDF-document";
inline constexpr const char* SPDFXRefWNotValid = "First parameter in /W tag for /TYPE/XREF section is not valid";
inline constexpr const char* SPDFXRefLengthNotValid = "Content of stream for /TYPE/XREF section have incorrect length";
inline constexpr const char* SPDFEncryptionNotSupported = "The encryption method is not supported in current version";
inline constexpr const char* SPDFAlgorithm3NotSupported = "Algorithm 3 for Standard encryption is not supported";
inline constexpr const char* SPDFUnknownAlgorithm = "Unknown algorithm (%d) for Standard encryption";
inline constexpr const char* SPDFUnknownRevision =
    "Unknown (or nonsupported) revision for Standard encryption (Algorithm 1)";
inline constexpr const char* SPDFPasswordNotValid = "Password is not valid";
inline constexpr const char* SPDFInvalidKeyLength = "Invalid key length (%d) for Standard encryption";
inline constexpr const char* SPDFInvalidMethod = "Invalid method used (%s) for Standard encryption";
inline constexpr const char* SPDFInvalidEvent =
    "Invalid event (%s) to be to trigger the authorization for Standard encryption";
inline constexpr const char* SPDFCryptFilterNotImplemented =
    "CryptFilter algorithm for Standard encryption is not implemented in current version";

// A file whose structure cannot be read as PDF.
class EPDFError : public ECorruptError {
 public:
  using ECorruptError::ECorruptError;
};
// The password (user or owner) does not open the document.
class EPDFPasswordError : public EPasswordError {
 public:
  using EPasswordError::EPasswordError;
};
// A security handler, algorithm or revision this reader does not implement.
class EPDFEncryptionError : public EEncryptionNotSupportedError {
 public:
  using EEncryptionNotSupportedError::EEncryptionNotSupportedError;
};

// ---------------------------------------------------------------------------
// Cross-reference entries

enum TLKPDFXRefKind : uint8_t { xrkFree = 0, xrkUnCompressed = 1, xrkCompressed = 2 };

class TLKPDFXRef {
 public:
  TLKPDFXRefKind Kind() const { return FKind; }
  void SetKind(TLKPDFXRefKind Value) { FKind = Value; }
  // xrkUnCompressed: byte offset of "N G obj"; xrkCompressed: index of the
  // object within its object stream.
  int64_t Offset() const { return FOffset; }
  void SetOffset(int64_t Value) { FOffset = Value; }
  // xrkCompressed: number of the containing object stream.
  int32_t ObjNumber() const { return FObjNumber; }
  void SetObjNumber(int32_t Value) { FObjNumber = Value; }
  uint16_t Generation() const { return FGeneration; }
  void SetGeneration(uint16_t Value) { FGeneration = Value; }
  // Whether some cross-reference section described this entry. Sections are
  // read newest first and never overwrite an assigned entry.
  bool Assigned() const { return FAssigned; }
  void SetAssigned(bool Value) { FAssigned = Value; }

 private:
  TLKPDFXRefKind FKind = xrkFree;
  bool FAssigned = false;
  uint16_t FGeneration = 0;
  int32_t FObjNumber = 0;
  int64_t FOffset = 0;
};

// Entries indexed by object number (StartCrossRef is always 0 here: every
// subsection is placed by its own start number).
class TLKPDFXRefList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // nullptr when Index is out of range.
  TLKPDFXRef* GetItem(int Index);
  const TLKPDFXRef* GetItem(int Index) const;
  // Grows the list to hold Index and returns its entry; nullptr when Index is
  // negative or not below Limit().
  TLKPDFXRef* AddItem(int Index);
  // The file offset of object Index: its own offset when uncompressed, the
  // offset of its object stream when compressed (one hop only, so chains of
  // containers cannot loop), -1 when free, unknown or out of range.
  int64_t GetOffsetForXRef(int Index) const;
  void Clear() { FItems.clear(); }
  // Highest object number + 1 that AddItem accepts.
  int Limit() const { return FLimit; }
  void SetLimit(int Value) { FLimit = Value; }

 private:
  std::vector<TLKPDFXRef> FItems;
  int FLimit = 1 << 23;
};

// ---------------------------------------------------------------------------
// Text helpers. They work on byte strings; keys are matched as the callers
// pass them (callers lower the text and the keys where case must not matter).

struct TPDFSectionEnd {
  std::string_view Name;
  bool IncludeInBody;
};
inline constexpr TPDFSectionEnd PDFSectionEnds[4] = {
    {"%%", false}, {"startxref", false}, {"trailer", false}, {"endobj", true}};

// ASCII lower case of S.
RawByteString LowerPDF(std::string_view S);
// The value token of Key: found ignoring case, taken from Text as written,
// through StripLeadingFill and CutPDFToken. A /Group value is passed over and
// the search goes on. Empty Key gives the whole Text; a missing key, "".
RawByteString GetPDFTagValue(std::string_view Key, std::string_view Text);
// Case-sensitive. The content of the array that follows Key (up to the first
// ']'), or the text up to the next '/' or ">>" when no array comes first.
RawByteString GetPDFArrayValue(std::string_view Key, std::string_view Text);
// The first token of S; see the implementation for the exact stops.
RawByteString CutPDFToken(std::string_view S);
// Skips leading blanks, '0' and '['; when any were skipped, the rest less its
// last character, else S.
RawByteString StripLeadingFill(std::string_view S);
// Takes the earliest "N 0 R" ("N 1 R", "N 2 R", either case of R) out of S:
// Ref gets N, and S loses everything up to and including the R. False (S
// unchanged, Ref empty) when there is none or a '/' comes before it.
bool ExtractRefNumber(RawByteString& S, RawByteString& Ref);
// Removes tab, LF, CR and blank on the left (keeping at least one character)
// or on the right.
void TrimPDFWhitespace(RawByteString& S, bool Left);
// Rewrites every hex string "<...>" of S (dictionary brackets excepted) as a
// literal string "(...)"; with Escape, '(' ')' and '\' get a backslash.
void DecodeHexStrings(RawByteString& S, bool Escape);
// The bytes of hex digits S (white space skipped, an odd last digit padded
// with 0, a pair that is not hex copied as it stands), escaped as DecodeHexStrings.
void HexStringToLiteral(RawByteString& S, bool Escape);
// Flattens nested dictionary text: the inner texts of "<< >>" pairs, joined,
// dropping those that hold a /type. IsRef is cleared when a "<<" was seen.
void UnwrapDictionary(std::string_view Text, RawByteString& Result, bool& IsRef);
// Moves the characters before the first blank or comma into Token and drops
// the separators after them. False when S was empty.
bool NextNumberToken(RawByteString& S, RawByteString& Token);
// Width bytes (0 to 8) from 1-based Pos, most significant first; bytes past
// the end read as 0.
uint64_t ReadBigEndian(std::string_view S, size_t Pos, int Width);

// ---------------------------------------------------------------------------
// Stream filters

// Per-filter parameters from /DecodeParms.
struct TPDFDecodeParms {
  int Predictor = 1;
  int Colors = 1;
  int BitsPerComponent = 8;
  int Columns = 1;
  int EarlyChange = 1;
};

enum class TPDFDecodeStatus : uint8_t {
  dsOK,
  dsCorrupt,   // the data broke off; the result holds what decoded before
  dsTruncated  // the output reached its cap and was cut there
};

// The filters, each bounded by MaxOut bytes of output.
RawByteString PDFFlateDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFASCIIHexDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFASCII85Decode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFLZWDecode(std::string_view Data, int EarlyChange, size_t MaxOut, TPDFDecodeStatus& Status);
RawByteString PDFRunLengthDecode(std::string_view Data, size_t MaxOut, TPDFDecodeStatus& Status);
// Undoes a PNG (Predictor >= 10) or TIFF (2) predictor in place; Predictor 1
// (or anything else) leaves Buffer alone.
void PDFUnpredict(RawByteString& Buffer, const TPDFDecodeParms& Parms);
// PNG rows of 1 + Columns bytes with one byte per pixel (the original form).
void ApplyPNGPredictor(RawByteString& Buffer, int Columns);
// Decodes Data through the filter Name (lowered, with or without '/', full or
// abbreviated). False for a filter that is not decoded here (image codecs,
// unknown names): Out is then Data unchanged.
bool PDFDecodeFilter(std::string_view Name, std::string_view Data, const TPDFDecodeParms& Parms, size_t MaxOut,
                     RawByteString& Out, TPDFDecodeStatus& Status);

// LZW as used by TIFF and PDF (codes read most significant bit first, early
// width change) and as used by GIF (least significant bit first, late width
// change). Both write at most UnpackedSize bytes and return how many.
class TLKWLZWDecoder {
 public:
  int DecodeTIFF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize);
  int DecodeGIF(const uint8_t* Source, uint8_t* Dest, int PackedSize, int UnpackedSize);
};

// ---------------------------------------------------------------------------
// Security handlers

enum class TPDFCryptTarget : uint8_t { ctStream, ctString };

class TLKPDFEncryption : public TObject {
 public:
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }

  // Decrypts the stream data or string Value of object ContentID (generation
  // 0). Raises EPDFPasswordError "Password is not valid" when Password opens
  // nothing. DocID is the first identifier of the trailer's /ID.
  virtual RawByteString DecryptStream(int32_t ContentID, const RawByteString& DocID, const RawByteString& Password,
                                      const RawByteString& Value);
  // True when Password (user or owner) opens the document.
  virtual bool CheckAuthentication(const RawByteString& DocID, const RawByteString& Password);
  // The full form: object number and generation, stream or string, and the
  // crypt filter a stream names through its own /Crypt filter (empty: the
  // document's default for Target).
  virtual RawByteString DecryptObject(int32_t ObjNum, int32_t Gen, TPDFCryptTarget Target, const RawByteString& DocID,
                                      const RawByteString& Password, const RawByteString& Value,
                                      std::string_view CryptFilterName = {});
  std::string ClassName() const override { return "TLKPDFEncryption"; }

 protected:
  bool FEnabled = false;
};

// The values of a standard security handler's dictionary, the permission
// queries, and the key derivation of every revision (2 to 6).
class TLKPDFStandardEncryption : public TLKPDFEncryption {
 public:
  int32_t Algorithm() const { return FAlgorithm; }
  void SetAlgorithm(int32_t Value) { FAlgorithm = Value; }
  int32_t KeyLength() const { return FKeyLength; }
  void SetKeyLength(int32_t Value) { FKeyLength = Value; }
  int32_t Revision() const { return FRevision; }
  void SetRevision(int32_t Value) { FRevision = Value; }
  const RawByteString& OwnerPasswordHash() const { return FOwnerPasswordHash; }
  void SetOwnerPasswordHash(const RawByteString& Value) { FOwnerPasswordHash = Value; }
  const RawByteString& UserPasswordHash() const { return FUserPasswordHash; }
  void SetUserPasswordHash(const RawByteString& Value) { FUserPasswordHash = Value; }
  int32_t Permissions() const { return FPermissions; }
  void SetPermissions(int32_t Value) { FPermissions = Value; }
  bool EncryptMetadata() const { return FEncryptMetadata; }
  void SetEncryptMetadata(bool Value) { FEncryptMetadata = Value; }
  // Revisions 5 and 6: /OE, /UE and /Perms.
  const RawByteString& OwnerEncryptedKey() const { return FOwnerEncryptedKey; }
  void SetOwnerEncryptedKey(const RawByteString& Value) { FOwnerEncryptedKey = Value; }
  const RawByteString& UserEncryptedKey() const { return FUserEncryptedKey; }
  void SetUserEncryptedKey(const RawByteString& Value) { FUserEncryptedKey = Value; }
  const RawByteString& EncryptedPermissions() const { return FEncryptedPermissions; }
  void SetEncryptedPermissions(const RawByteString& Value) { FEncryptedPermissions = Value; }

  // Permission bits of /P (bit 1 = least significant). Reported, never
  // enforced: text is extracted from copy-restricted files too.
  bool CanPrintDocument() const { return Bit(3); }
  bool CanModifyDocument() const { return Bit(4); }
  bool CanExtractContent() const { return Bit(5); }
  bool CanModifyAnnotations() const { return Bit(6); }
  bool CanFillInForm() const { return Bit(9); }
  bool CanFormFieldFill2() const { return Bit(10); }
  bool CanContentCopy2() const { return Bit(11); }
  bool CanContentAccessibility() const { return Bit(12); }
  bool CanPrintDocumentHighLevel() const { return Bit(13); }

  // The 32-byte padding string of the standard handler.
  static RawByteString PASSWORD_PADDING();
  // The first Len bytes of Password followed by the padding, cut to 32.
  static RawByteString GetPaddedPassword(const RawByteString& Password, size_t Len);
  // Revisions 2 to 4: the file key for Password (bytes as given).
  RawByteString ComputeKey(const RawByteString& DocID, const RawByteString& Password);
  // Revisions 2 to 4: the /U value Password would produce; empty for other
  // revisions.
  RawByteString ComputeUserPassword(const RawByteString& DocID, const RawByteString& Password);

  // Tries Password (UTF-8 text, or bytes as given) as user and then as owner
  // password. The file key is computed once and kept until DocID or
  // Password change. Raises the revision message for revisions it does not
  // know.
  bool CheckAuthentication(const RawByteString& DocID, const RawByteString& Password) override;
  // The file key of the last successful authentication.
  const RawByteString& LastComputedKey() const { return FFileKey; }
  bool AuthenticatedAsOwner() const { return FOwner; }

  std::string ClassName() const override { return "TLKPDFStandardEncryption"; }

 protected:
  // Key length in bytes for the RC4 and AES-128 revisions.
  virtual size_t KeyBytes() const;
  // The object key of Algorithm 1 (with the AES salt for AESV2).
  RawByteString ObjectKey(int32_t ObjNum, int32_t Gen, bool AES) const;
  RawByteString DecryptRC4(int32_t ObjNum, int32_t Gen, const RawByteString& Value) const;
  RawByteString DecryptAESV2(int32_t ObjNum, int32_t Gen, const RawByteString& Value) const;
  RawByteString DecryptAESV3(const RawByteString& Value) const;
  // Authentication or EPDFPasswordError.
  void RequireAuthentication(const RawByteString& DocID, const RawByteString& Password);

  int32_t FAlgorithm = 0;
  int32_t FKeyLength = 40;
  int32_t FRevision = 0;
  RawByteString FOwnerPasswordHash;
  RawByteString FUserPasswordHash;
  int32_t FPermissions = 0;
  bool FEncryptMetadata = true;
  RawByteString FOwnerEncryptedKey;
  RawByteString FUserEncryptedKey;
  RawByteString FEncryptedPermissions;

 private:
  bool Bit(int N) const { return (static_cast<uint32_t>(FPermissions) >> (N - 1)) & 1u; }
  bool TryUserR4(const RawByteString& DocID, const RawByteString& Password);
  bool TryOwnerR4(const RawByteString& DocID, const RawByteString& Password);
  bool TryUserR6(const RawByteString& Password);
  bool TryOwnerR6(const RawByteString& Password);
  RawByteString HashR6(const RawByteString& Password, std::string_view Salt, std::string_view UserKey) const;

  bool FAuthTried = false;
  bool FAuthOK = false;
  bool FOwner = false;
  RawByteString FAuthDocID;
  RawByteString FAuthPassword;
  RawByteString FFileKey;
};

// /V 1 and 2: RC4 with a 40- to 128-bit key.
class TLKPDFStandardAlgorithm12 : public TLKPDFStandardEncryption {
 public:
  RawByteString DecryptObject(int32_t ObjNum, int32_t Gen, TPDFCryptTarget Target, const RawByteString& DocID,
                              const RawByteString& Password, const RawByteString& Value,
                              std::string_view CryptFilterName = {}) override;
  std::string ClassName() const override { return "TLKPDFStandardAlgorithm12"; }
};

// One crypt filter dictionary: /CFM and /AuthEvent as lowered names with
// their slash ("/aesv2", "/docopen"), /Length in bits as written.
class TLKPDFCryptFilter : public TPersistent {
 public:
  std::string CFM = "/none";
  std::string AuthEvent;
  int32_t Length = 0;
  void Assign(const TPersistent& Source) override;
  std::string ClassName() const override { return "TLKPDFCryptFilter"; }
};

// /V 4 and 5: named crypt filters (/V2 = RC4, /AESV2 = AES-128, /AESV3 =
// AES-256, /Identity = none) chosen by /StmF for streams and /StrF for
// strings.
class TLKPDFStandardCryptFilter : public TLKPDFStandardEncryption {
 public:
  TLKPDFStandardCryptFilter();
  // The filter used for streams (the first one read when /StmF names none).
  TLKPDFCryptFilter& CF() { return *FCF; }
  void SetCF(const TLKPDFCryptFilter& Value) { FCF->Assign(Value); }
  const std::string& StmF() const { return FStmF; }
  void SetStmF(const std::string& Value) { FStmF = Value; }
  const std::string& StrF() const { return FStrF; }
  void SetStrF(const std::string& Value) { FStrF = Value; }
  const std::string& EFF() const { return FEFF; }
  void SetEFF(const std::string& Value) { FEFF = Value; }
  // Named filters of /CF (names as written, without '/').
  void AddCryptFilter(const std::string& Name, const TLKPDFCryptFilter& Filter);
  const TLKPDFCryptFilter* FindCryptFilter(std::string_view Name) const;

  bool CheckAuthentication(const RawByteString& DocID, const RawByteString& Password) override;
  RawByteString DecryptObject(int32_t ObjNum, int32_t Gen, TPDFCryptTarget Target, const RawByteString& DocID,
                              const RawByteString& Password, const RawByteString& Value,
                              std::string_view CryptFilterName = {}) override;
  std::string ClassName() const override { return "TLKPDFStandardCryptFilter"; }

 protected:
  size_t KeyBytes() const override;

 private:
  // The filter a name selects; nullptr for Identity (no decryption).
  const TLKPDFCryptFilter* Select(std::string_view Name) const;
  void Validate(const TLKPDFCryptFilter& Filter) const;

  std::unique_ptr<TLKPDFCryptFilter> FCF;
  std::string FStmF = "Identity";
  std::string FStrF = "Identity";
  std::string FEFF;
  std::vector<std::pair<std::string, std::unique_ptr<TLKPDFCryptFilter>>> FFilters;
};

// Password text (UTF-8) as the bytes revisions 2 to 4 use: PDFDocEncoding,
// '?' for characters it lacks. Bytes that are not UTF-8 are kept as given.
RawByteString PDFPasswordToPDFDoc(const std::string& Password);
// Password text for revisions 5 and 6: SASLprep's mapping and the canonical
// composition of common accented letters, UTF-8, at most 127 bytes.
RawByteString PDFPasswordToSASL(const std::string& Password);

// ---------------------------------------------------------------------------
// Metadata

// A PDF date "D:YYYYMMDDHHmmSSOHH'mm'" as local time: the "D:" and every part
// after the year may be missing (month and day then 1, the time 0); a zone
// (Z, +HH'mm', -HH'mm') is honoured, a date without one is taken as local
// time. 0 when the text is no such date.
TDateTime PDFDateToDateTime(const WideString& S);
// An XMP (ISO 8601) date "YYYY[-MM[-DD[THH:MM[:SS[.s]][Z|+HH:MM|-HH:MM]]]]"
// as local time; 0 when it is none.
TDateTime XMPDateToDateTime(std::string_view S);

// The fields of an XMP packet that the summary record holds.
struct TPDFXMPInfo {
  WideString Title;     // dc:title (the default language's entry)
  WideString Author;    // dc:creator, entries joined with "; "
  WideString Subject;   // dc:description
  WideString Keywords;  // pdf:Keywords, else dc:subject entries joined with ", "
  WideString Producer;  // pdf:Producer
  TDateTime Created = 0;   // xmp:CreateDate
  TDateTime Modified = 0;  // xmp:ModifyDate
};
// Reads Xml (UTF-8, or UTF-16 with its mark) written as elements or as
// attributes of rdf:Description. Never raises.
void ParseXMPMetadata(std::string_view Xml, TPDFXMPInfo& Info);

// ---------------------------------------------------------------------------
// The reader

// Where "%PDF-" (in any case) stands in the first KiB of Data, as readers
// accept junk before it; npos when it does not.
size_t FindPDFHeader(std::string_view Data);
// The content test: FindPDFHeader over the stream's first KiB. Stream at
// position 0.
bool IsPDF(TStream& Stream);

class TLKPDFReader : public TMSWBaseDocument {
 public:
  explicit TLKPDFReader(TComponent* AOwner = nullptr);
  ~TLKPDFReader() override;

  void LoadFromFile(const std::string& AFileName) override;
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
  // the text early).
  int32_t PageCount() const { return FPageCount; }
  // Glyphs shown without a known Unicode mapping, over all fonts.
  int64_t UnmappedGlyphs() const { return FFonts ? FFonts->UnmappedGlyphs() : 0; }
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
  // Every page of GetPageObjects(), its text added behind its separator
  // lines; stops at MaxTextLength. A page that cannot be read gives a
  // warning and an empty page (Body, the catalog's text, is not needed).
  virtual void ProcessPages(TStream& Stream, const RawByteString& Body);
  // One page object: inherited resources, media box and rotation, its
  // contents through ExtractPageText.
  virtual void ProcessPage(int32_t ObjNum, TLKPDFPage& Page);
  // The page's lines, behind CR LF, 20 hyphens, CR LF, in the output format.
  void AddPageText(const TLKPDFPage& Page);
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
  int8_t FNeedAppearances = -1;  // not looked up yet
  TPDFTextOptions FTextOptions;
  bool FKeepPageItems = false;
  TWideStrings FAnnotationText;
  void ReadAnnotationComments(const TPDFObject& Annots);
  // What a page-tree node passes on to its pages (its own entries over its
  // ancestors'), kept for the walk so that siblings do not climb again.
  struct TInheritedAttributes {
    TPDFObject Resources, MediaBox;
    int Rotate = 0;
    bool HasResources = false, HasMediaBox = false, HasRotate = false;
  };
  const TInheritedAttributes& InheritedAttributes(int32_t NodeNum);
  std::unordered_map<int32_t, TInheritedAttributes> FInherited;
};

}  // namespace lkw
