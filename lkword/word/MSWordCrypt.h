// Password-encrypted Word 97-2003 documents: the RC4 encryption of Word 97
// and 2000 (version 1.1 header) and the RC4 CryptoAPI encryption of Word
// 2002 and later (versions 2.2, 3.2 and 4.2). The header sits, in clear, at
// the start of the table stream; the document, table and data streams are
// encrypted in 512-byte blocks, each under a key made from the password and
// the block's number, counted from the start of the stream.
//
// Word 6/95 documents, and Word 97 ones saved "obfuscated", XOR their
// streams with a 16-byte array made from the password; the header's lKey
// holds the password's verifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lkw {

class TWordRC4Decryptor {
 public:
  enum class TOpenResult { Opened, WrongPassword, Unsupported };

  // Header: the encryption header (the table stream's first lKey bytes).
  // Password: UTF-16 code units, as the user typed them.
  TOpenResult Open(std::string_view Header, std::u16string_view Password);

  // Decrypts Data in place; Data[0] is the byte at Offset in its stream.
  void Decrypt(uint8_t* Data, size_t Length, uint64_t Offset = 0) const;

  bool IsCryptoAPI() const { return FCryptoAPI; }
  // The RC4 key of one 512-byte block; returns its length.
  size_t BlockKey(uint32_t Block, uint8_t (&Key)[20]) const;

 private:
  TOpenResult OpenBinary(std::string_view Header, std::u16string_view Password);
  TOpenResult OpenCryptoAPI(std::string_view Header, std::u16string_view Password);

  bool FCryptoAPI = false;
  // MD5: the truncated password-and-salt digest; SHA-1: H(salt + password).
  uint8_t FBase[20] = {};
  // Significant key bytes (CryptoAPI); 40-bit keys are used zero-padded.
  size_t FKeyBytes = 16;
};

class TWordXorDecryptor {
 public:
  // Key: the header's lKey. Password: UTF-16 code units, as the user typed
  // them; it is tried as Word made it single-byte (each character's low
  // byte, or its high byte where the low one is 0) and in CodePage. False
  // when neither matches Key.
  bool Open(uint32_t Key, std::u16string_view Password, uint32_t CodePage);

  // Decrypts Data in place; Data[0] is the byte at Offset in its stream.
  // KeepZeros: zero bytes, and bytes equal to their array byte, were left
  // as they were (Word 6/95 does so).
  void Decrypt(uint8_t* Data, size_t Length, uint64_t Offset, bool KeepZeros) const;

 private:
  uint8_t FArray[16] = {};
};

}  // namespace lkw
