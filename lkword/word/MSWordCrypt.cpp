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

// The tables of Word's XOR obfuscation: a starting key per password length,
// the key's additions by character bit, and the padding after a short
// password.
constexpr uint16_t kXorInitialKeys[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                          0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
constexpr uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF,
    0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40,
    0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A,
    0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0,
    0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10,
    0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC,
    0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
constexpr uint8_t kXorPad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};
constexpr size_t kXorMaxPassword = 15;

uint16_t XorKey(std::string_view P) {
  uint16_t key = kXorInitialKeys[P.size() - 1];
  size_t element = std::size(kXorMatrix) - 1;
  for (auto it = P.rbegin(); it != P.rend(); ++it) {
    uint8_t c = static_cast<uint8_t>(*it);
    for (int bit = 0; bit < 7; ++bit, c = static_cast<uint8_t>(c << 1), --element)
      if (c & 0x40) key ^= kXorMatrix[element];
  }
  return key;
}

uint16_t XorVerifier(std::string_view P) {
  uint16_t v = 0;
  auto step = [&](uint8_t b) { v = static_cast<uint16_t>((((v >> 14) & 1) | ((v << 1) & 0x7FFF)) ^ b); };
  for (auto it = P.rbegin(); it != P.rend(); ++it) step(static_cast<uint8_t>(*it));
  step(static_cast<uint8_t>(P.size()));
  return v ^ 0xCE4B;
}

uint8_t XorRor(uint8_t A, uint8_t B) {
  const uint8_t x = A ^ B;
  return static_cast<uint8_t>((x >> 1) | (x << 7));
}

}  // namespace

bool TWordXorDecryptor::Open(uint32_t Key, std::u16string_view Password, uint32_t CodePage) {
  std::string low;
  for (char16_t c : Password) low += static_cast<char>((c & 0xFF) ? (c & 0xFF) : (c >> 8));
  for (std::string p : {low, std::string(WideToMultiByte(CodePage, Password))}) {
    if (p.size() > kXorMaxPassword) p.resize(kXorMaxPassword);
    if (p.empty()) continue;
    const uint16_t key = XorKey(p);
    if ((uint32_t{key} << 16 | XorVerifier(p)) != Key) continue;
    // The password's bytes in pairs from its end, then the padding, each
    // mixed with the key's high or low byte.
    const uint8_t hi = static_cast<uint8_t>(key >> 8), lo = static_cast<uint8_t>(key);
    size_t i = p.size();
    if (i % 2 == 1) {
      FArray[i] = XorRor(kXorPad[0], hi);
      --i;
      FArray[i] = XorRor(static_cast<uint8_t>(p.back()), lo);
    }
    while (i > 0) {
      --i;
      FArray[i] = XorRor(static_cast<uint8_t>(p[i]), hi);
      --i;
      FArray[i] = XorRor(static_cast<uint8_t>(p[i]), lo);
    }
    for (int at = 15, pad = static_cast<int>(kXorMaxPassword - p.size()); pad > 0; at -= 2, pad -= 2) {
      FArray[at] = XorRor(kXorPad[pad], hi);
      FArray[at - 1] = XorRor(kXorPad[pad - 1], lo);
    }
    return true;
  }
  return false;
}

void TWordXorDecryptor::Decrypt(uint8_t* Data, size_t Length, uint64_t Offset, bool KeepZeros) const {
  for (size_t i = 0; i < Length; ++i) {
    const uint8_t k = FArray[(Offset + i) % 16];
    if (!KeepZeros || (Data[i] != 0 && Data[i] != k)) Data[i] ^= k;
  }
}

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
