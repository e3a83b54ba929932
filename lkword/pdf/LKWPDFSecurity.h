// The standard security handler of PDF (revisions 2 to 6): the values of
// its /Encrypt dictionary, the key derivations and the decryption of strings
// and streams, and the forms a password takes for each revision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lkword/platform/Object.h"
#include "lkword/platform/Types.h"

namespace lkw {

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
  // The key length in bytes that authentication found when /Length was
  // wrong (0: the declared one holds).
  size_t FKeyBytesFound = 0;
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

}  // namespace lkw
