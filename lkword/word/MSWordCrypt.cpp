#include "lkword/word/MSWordCrypt.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "lkword/crypto/LKWCrypt.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Types.h"
#include "lkword/word/MSW_Hdr.h"

namespace lkw {

namespace {

constexpr size_t kBlockSize = 512;
constexpr uint32_t kAlgRC4 = 0x6801;
constexpr uint32_t kAlgSHA1 = 0x8004;

void StoreLE32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

}  // namespace

TWordRC4Decryptor::TOpenResult TWordRC4Decryptor::Open(std::string_view Header, std::u16string_view Password) {
  if (Header.size() < 4) return TOpenResult::Unsupported;
  const uint32_t major = LoadLE32(Header, 0) & 0xFFFF;
  const uint32_t minor = LoadLE32(Header, 0) >> 16;
  if (major == 1 && minor == 1) return OpenBinary(Header, Password);
  if (major >= 2 && major <= 4 && minor == 2) return OpenCryptoAPI(Header, Password);
  return TOpenResult::Unsupported;
}

TWordRC4Decryptor::TOpenResult TWordRC4Decryptor::OpenBinary(std::string_view Header,
                                                              std::u16string_view Password) {
  // Version, salt, encrypted verifier, its encrypted MD5.
  if (Header.size() < 52) return TOpenResult::Unsupported;
  FCryptoAPI = false;
  FKeyBytes = 16;
  const std::string_view salt = Header.substr(4, 16);
  const std::string h0 = MD5String(WideToUtf16LEBytes(Password));
  std::string mix;
  for (int i = 0; i < 16; ++i) mix.append(h0, 0, 5).append(salt);
  const std::string h1 = MD5String(mix);
  std::memcpy(FBase, h1.data(), 5);

  uint8_t key[20];
  TRC4Context rc4;
  RC4Init(rc4, key, BlockKey(0, key));
  uint8_t check[32];
  RC4Crypt(rc4, Header.data() + 20, check, 32);
  RC4Done(rc4);
  const std::string digest = MD5String(std::string_view(reinterpret_cast<const char*>(check), 16));
  return std::memcmp(digest.data(), check + 16, 16) == 0 ? TOpenResult::Opened : TOpenResult::WrongPassword;
}

TWordRC4Decryptor::TOpenResult TWordRC4Decryptor::OpenCryptoAPI(std::string_view Header,
                                                                 std::u16string_view Password) {
  // Version, flags, header size, header (flags, size extra, algorithm, hash
  // algorithm, key bits, ...), then the verifier: salt size, salt, encrypted
  // verifier, hash size, encrypted SHA-1 of the verifier.
  if (Header.size() < 12) return TOpenResult::Unsupported;
  const uint32_t headerSize = LoadLE32(Header, 8);
  if (headerSize < 20 || headerSize > Header.size() - 12) return TOpenResult::Unsupported;
  const uint32_t algorithm = LoadLE32(Header, 12 + 8);
  const uint32_t hash = LoadLE32(Header, 12 + 12);
  uint32_t keyBits = LoadLE32(Header, 12 + 16);
  if (algorithm != 0 && algorithm != kAlgRC4) return TOpenResult::Unsupported;
  if (hash != 0 && hash != kAlgSHA1) return TOpenResult::Unsupported;
  if (keyBits == 0) keyBits = 40;
  if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) return TOpenResult::Unsupported;
  const size_t verifier = 12 + size_t{headerSize};
  if (Header.size() - verifier < 4 + 16 + 16 + 4 + 20) return TOpenResult::Unsupported;
  if (LoadLE32(Header, verifier) != 16 || LoadLE32(Header, verifier + 36) < 20) return TOpenResult::Unsupported;
  FCryptoAPI = true;
  FKeyBytes = keyBits / 8;
  const std::string h0 = SHA1String(std::string(Header.substr(verifier + 4, 16)) + WideToUtf16LEBytes(Password));
  std::memcpy(FBase, h0.data(), 20);

  uint8_t key[20];
  TRC4Context rc4;
  RC4Init(rc4, key, BlockKey(0, key));
  uint8_t check[36];
  RC4Crypt(rc4, Header.data() + verifier + 20, check, 16);
  RC4Crypt(rc4, Header.data() + verifier + 40, check + 16, 20);
  RC4Done(rc4);
  const std::string digest = SHA1String(std::string_view(reinterpret_cast<const char*>(check), 16));
  return std::memcmp(digest.data(), check + 16, 20) == 0 ? TOpenResult::Opened : TOpenResult::WrongPassword;
}

size_t TWordRC4Decryptor::BlockKey(uint32_t Block, uint8_t (&Key)[20]) const {
  if (!FCryptoAPI) {
    uint8_t in[9];
    std::memcpy(in, FBase, 5);
    StoreLE32(in + 5, Block);
    const std::string h = MD5String(std::string_view(reinterpret_cast<const char*>(in), 9));
    std::memcpy(Key, h.data(), 16);
    return 16;
  }
  uint8_t in[24];
  std::memcpy(in, FBase, 20);
  StoreLE32(in + 20, Block);
  const std::string h = SHA1String(std::string_view(reinterpret_cast<const char*>(in), 24));
  std::memcpy(Key, h.data(), 20);
  if (FKeyBytes == 5) {
    // A 40-bit key is used as 128 bits with the rest zero.
    std::memset(Key + 5, 0, 11);
    return 16;
  }
  return FKeyBytes;
}

void TWordRC4Decryptor::Decrypt(uint8_t* Data, size_t Length, uint64_t Offset) const {
  uint8_t key[20];
  TRC4Context rc4;
  while (Length > 0) {
    const uint32_t block = static_cast<uint32_t>(Offset / kBlockSize);
    const size_t skip = static_cast<size_t>(Offset % kBlockSize);
    const size_t take = std::min(Length, kBlockSize - skip);
    RC4Init(rc4, key, BlockKey(block, key));
    uint8_t discard[kBlockSize];
    if (skip > 0) RC4Crypt(rc4, discard, discard, skip);
    RC4Crypt(rc4, Data, Data, take);
    Data += take;
    Length -= take;
    Offset += take;
  }
  RC4Done(rc4);
}

}  // namespace lkw
