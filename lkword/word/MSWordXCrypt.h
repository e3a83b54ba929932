// Password-protected Word 2007+ packages. Such a document is a compound file
// whose "EncryptionInfo" stream says how the zip package held in its
// "EncryptedPackage" stream was encrypted. Two schemes are read:
// - standard encryption (EncryptionInfo version 2.2, 3.2 or 4.2 with the
//   CryptoAPI and AES flags): AES-128/192/256 in ECB mode keyed by SHA-1
//   iterated 50,000 times;
// - agile encryption (version 4.4, an XML descriptor) through its password
//   key encryptor: AES-128/192/256 in CBC mode, SHA-1/256/384/512, the
//   descriptor's spin count, the package in 4096-byte segments.
// The data-integrity HMAC of agile files is not checked.
#pragma once

#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

// Spin counts above this are refused as damaged: the descriptor's schema
// allows no more, and a larger one would keep a load busy for minutes.
constexpr uint32_t kMaxAgileSpinCount = 10'000'000;

class TOfficeEncryption {
 public:
  enum TScheme : uint8_t { esStandard, esAgile };

  // Parses the "EncryptionInfo" stream. Raises EEncryptionNotSupportedError
  // for what the reader does not implement (another cipher or hash, a
  // certificate-only key encryptor, an extensible or DRM scheme), EReadError
  // ("The encryption information is damaged: ...") for sizes beyond the
  // bytes present and values out of range.
  explicit TOfficeEncryption(std::string_view Info);

  TScheme Scheme() const { return FScheme; }

  // Derives the key from the password (UTF-16 as the writer hashed it) and
  // checks it against the stored verifier; true when it opens the package.
  // The key is kept for DecryptPackage.
  bool CheckPassword(const WideString& Password);

  // The package bytes of an "EncryptedPackage" stream, after a successful
  // CheckPassword. The stream's first 8 bytes give the package size: more
  // than MaxSize raises ELimitError, more than the encrypted bytes present
  // EReadError. Nothing larger than the stream itself is allocated.
  RawByteString DecryptPackage(std::string_view Encrypted, int64_t MaxSize) const;

  // Hash algorithms of the agile scheme (standard encryption uses SHA-1).
  enum THash : uint8_t { hSHA1, hSHA256, hSHA384, hSHA512 };

 private:
  // One key encryptor's or the package's cipher parameters.
  struct TCipherParams {
    THash Hash = hSHA1;
    uint32_t KeyBytes = 16;
    uint32_t HashSize = 20;
    RawByteString Salt;
  };

  void ParseStandard(std::string_view Info);
  void ParseAgile(std::string_view Xml);
  bool CheckStandard(const RawByteString& Password);
  bool CheckAgile(const RawByteString& Password);

  TScheme FScheme = esStandard;
  TCipherParams FPackage;       // standard: the only parameters; agile: keyData
  TCipherParams FKeyEncryptor;  // agile: the password key encryptor
  uint32_t FSpinCount = 50'000;
  RawByteString FVerifierInput, FVerifierHash, FEncryptedKey;  // as stored
  RawByteString FKey;  // the package key, once a password checked out
};

}  // namespace lkw
