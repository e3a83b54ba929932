// Password-encrypted OpenDocument packages: each encrypted member is
// deflated, then encrypted under a key derived from the password with
// PBKDF2 (HMAC-SHA-1) and the member's own salt; the manifest holds the
// parameters and a digest of the first kilobyte that tells whether the
// password is right. AES-256 in CBC mode with a SHA-256 start key is what
// office suites have written since 2011; Blowfish in CFB mode with a SHA-1
// start key is what came before (and what is still written for ODF 1.1).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

// A member's <manifest:encryption-data>, attribute values as written
// (base64 values decoded).
struct TOdfEncryptionData {
  std::u16string Algorithm;          // algorithm-name
  std::u16string ChecksumType;       // checksum-type
  std::u16string KeyDerivation;      // key-derivation-name
  std::u16string StartKeyAlgorithm;  // start-key-generation-name; empty: SHA-1
  RawByteString IV, Salt, Checksum;
  uint32_t Iterations = 0;
  uint32_t KeySize = 16;  // key-derivation key-size
  int64_t Size = -1;      // the file entry's size once inflated; -1: not given
  bool Damaged = false;   // a value that did not parse
};

enum class TOdfDecryptResult { Opened, WrongPassword, Unsupported };

// Decrypts one member's stored bytes with Password (UTF-8) into Plain (still
// deflated). Iteration counts above MaxIterations are refused as
// unsupported, so that a hostile manifest cannot stall the reader.
TOdfDecryptResult DecryptOdfMember(const TOdfEncryptionData& Data, std::string_view Password,
                                   std::string_view Encrypted, RawByteString& Plain,
                                   uint32_t MaxIterations = 10000000);

}  // namespace lkw
