#include "lkword/word/MSWordXCrypt.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWXML.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/crypto/LKWCrypt.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

constexpr size_t kAESBlock = 16;
constexpr size_t kSegment = 4096;  // agile packages are encrypted in segments of this size
constexpr size_t kMaxDigest = 64;

// Standard encryption header flags.
constexpr uint32_t fCryptoAPI = 0x04, fExternal = 0x10, fAES = 0x20;
constexpr uint32_t kAlgAES128 = 0x660E, kAlgAES192 = 0x660F, kAlgAES256 = 0x6610, kAlgSHA1 = 0x8004;
constexpr uint32_t kStandardSpinCount = 50'000;

// Agile block keys: each derived key has its own.
constexpr uint8_t kBlockVerifierInput[] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr uint8_t kBlockVerifierHash[] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr uint8_t kBlockKeyValue[] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

[[noreturn]] void Damaged(const std::string& What) {
  throw EReadError("The encryption information is damaged: " + What);
}

// A scheme, cipher or hash the reader does not implement.
[[noreturn]] void NotSupported() { throw EEncryptionNotSupportedError(SEncryptionNotSupported); }

uint32_t U32(std::string_view S, size_t Off) {
  if (Off > S.size() || S.size() - Off < 4) Damaged("truncated");
  return LoadLE32(S.data() + Off);
}

size_t DigestSize(TOfficeEncryption::THash H) {
  switch (H) {
    case TOfficeEncryption::hSHA1: return 20;
    case TOfficeEncryption::hSHA256: return 32;
    case TOfficeEncryption::hSHA384: return 48;
    case TOfficeEncryption::hSHA512: return 64;
  }
  return 0;
}

// H(A + B) into Out (DigestSize(H) bytes). No allocation: the spin loop
// calls this up to ten million times.
template <typename C, size_t N>
void DigestOf(void (*Init)(C&), void (*Update)(C&, const void*, size_t), void (*Final)(C&, uint8_t (&)[N]),
              const void* A, size_t NA, const void* B, size_t NB, uint8_t* Out) {
  C c;
  uint8_t d[N];
  Init(c);
  Update(c, A, NA);
  Update(c, B, NB);
  Final(c, d);
  std::memcpy(Out, d, N);
}

void Digest(TOfficeEncryption::THash H, const void* A, size_t NA, const void* B, size_t NB, uint8_t* Out) {
  switch (H) {
    case TOfficeEncryption::hSHA1: return DigestOf(SHA1Init, SHA1Update, SHA1Final, A, NA, B, NB, Out);
    case TOfficeEncryption::hSHA256: return DigestOf(SHA256Init, SHA256Update, SHA256Final, A, NA, B, NB, Out);
    case TOfficeEncryption::hSHA384: return DigestOf(SHA384Init, SHA512Update, SHA384Final, A, NA, B, NB, Out);
    case TOfficeEncryption::hSHA512: return DigestOf(SHA512Init, SHA512Update, SHA512Final, A, NA, B, NB, Out);
  }
}

RawByteString DigestString(TOfficeEncryption::THash H, std::string_view A, std::string_view B = {}) {
  uint8_t d[kMaxDigest];
  Digest(H, A.data(), A.size(), B.data(), B.size(), d);
  return RawByteString(reinterpret_cast<const char*>(d), DigestSize(H));
}

// H(salt + password), then H(iterator + previous) Spin times.
RawByteString IteratedHash(TOfficeEncryption::THash H, std::string_view Salt, std::string_view Password, uint32_t Spin) {
  const size_t n = DigestSize(H);
  uint8_t d[kMaxDigest];
  Digest(H, Salt.data(), Salt.size(), Password.data(), Password.size(), d);
  for (uint32_t i = 0; i < Spin; ++i) {
    const uint8_t it[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16),
                           static_cast<uint8_t>(i >> 24)};
    Digest(H, it, 4, d, n, d);  // the contexts have consumed the input before the digest is written
  }
  return RawByteString(reinterpret_cast<const char*>(d), n);
}

// Cut to Size bytes, or padded with 0x36 up to it.
RawByteString Fit(RawByteString S, size_t Size) {
  S.resize(Size, '\x36');
  return S;
}

RawByteString LE32(uint32_t V) {
  return RawByteString{static_cast<char>(V), static_cast<char>(V >> 8), static_cast<char>(V >> 16),
                       static_cast<char>(V >> 24)};
}

void SetKey(AESContext& Context, std::string_view Key) {
  AES_SetKey_Dec(Context, Key.data(), static_cast<int>(Key.size() * 8));
}

// Whole blocks only; callers check the length.
RawByteString DecryptCBC(std::string_view Key, std::string_view IV, std::string_view Data) {
  AESContext c{};
  SetKey(c, Key);
  RawByteString out(Data);
  AES_CBC_Decrypt(c, reinterpret_cast<const uint8_t*>(IV.data()), reinterpret_cast<const uint8_t*>(out.data()),
                  reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

void DecryptECB(AESContext& Context, const char* In, char* Out, size_t Length) {
  uint8_t block[kAESBlock], plain[kAESBlock];
  for (size_t i = 0; i + kAESBlock <= Length; i += kAESBlock) {
    std::memcpy(block, In + i, kAESBlock);
    AES_Decrypt(Context, block, plain);
    std::memcpy(Out + i, plain, kAESBlock);
  }
}

RawByteString Base64(const WideString& Text, const char* What) {
  RawByteString out;
  if (!Base64Decode(Text, out)) Damaged(std::string(What) + " is not base64");
  return out;
}

uint32_t Number(const TLKXMLItem& N, std::u16string_view Name, uint32_t Lo, uint32_t Hi) {
  const std::string s = WideToUtf8(N.AttributeValue(Name));
  uint32_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v < Lo || v > Hi)
    Damaged(WideToUtf8(WideString(Name)) + " \"" + s + "\"");
  return v;
}

}  // namespace

TOfficeEncryption::TOfficeEncryption(std::string_view Info) {
  if (Info.size() < 8) Damaged("truncated");
  const uint32_t version = U32(Info, 0);
  const uint16_t major = static_cast<uint16_t>(version), minor = static_cast<uint16_t>(version >> 16);
  if (major == 4 && minor == 4) {
    FScheme = esAgile;
    ParseAgile(Info.substr(8));
  } else if (minor == 2 && major >= 2 && major <= 4) {
    FScheme = esStandard;
    ParseStandard(Info);
  } else {
    NotSupported();
  }
}

void TOfficeEncryption::ParseStandard(std::string_view Info) {
  const uint32_t flags = U32(Info, 4);
  // Without the AES flag it is RC4 CryptoAPI; with the external flag an
  // extensible (third-party) scheme.
  if ((flags & fExternal) || !(flags & fCryptoAPI) || !(flags & fAES)) NotSupported();
  const uint32_t headerSize = U32(Info, 8);
  if (headerSize < 32 || headerSize > Info.size() - 12) Damaged("header size");
  const std::string_view header = Info.substr(12, headerSize);
  const uint32_t algID = U32(header, 8), hashID = U32(header, 12), keyBits = U32(header, 16);
  uint32_t algBits;
  switch (algID) {
    case kAlgAES128: algBits = 128; break;
    case kAlgAES192: algBits = 192; break;
    case kAlgAES256: algBits = 256; break;
    case 0: algBits = 128; break;  // left unset: the AES flag alone means AES-128
    default: NotSupported();
  }
  if (hashID != 0 && hashID != kAlgSHA1) NotSupported();
  if (keyBits != algBits) Damaged("key size");
  FPackage.Hash = hSHA1;
  FPackage.HashSize = 20;
  FPackage.KeyBytes = keyBits / 8;
  FSpinCount = kStandardSpinCount;

  const std::string_view verifier = Info.substr(12 + headerSize);
  if (U32(verifier, 0) != 16) Damaged("salt size");
  if (verifier.size() < 4 + 16 + 16 + 4 + 32) Damaged("truncated verifier");
  FPackage.Salt = verifier.substr(4, 16);
  FVerifierInput = verifier.substr(20, 16);
  if (U32(verifier, 36) != 20) Damaged("verifier hash size");
  FVerifierHash = verifier.substr(40, 32);
}

void TOfficeEncryption::ParseAgile(std::string_view Xml) {
  TLKXMLEngine xml;
  xml.SetMaxDepth(16);
  xml.SetMaxNodes(4096);
  xml.LoadFromBytes(Xml);
  TLKXMLItem* keyData = nullptr;
  TLKXMLItem* encryptedKey = nullptr;
  bool otherEncryptor = false;
  ForEachElement(xml.RootItem(), [&](TLKXMLItem& n) {
    const std::u16string_view name = XMLLocalName(n.TagName());
    if (name == u"keyData" && !keyData) keyData = &n;
    if (name != u"keyEncryptor") return;
    const WideString uri = n.AttributeValue(u"uri");
    if (uri != u"http://schemas.microsoft.com/office/2006/keyEncryptor/password") {
      otherEncryptor = true;
      return;
    }
    ForEachElement(&n, [&](TLKXMLItem& k) {
      if (!encryptedKey && XMLLocalName(k.TagName()) == u"encryptedKey") encryptedKey = &k;
    });
  });
  if (!encryptedKey && otherEncryptor) NotSupported();  // certificates only
  if (!keyData) Damaged("no key data");
  if (!encryptedKey) Damaged("no password key encryptor");

  // Both elements carry the same set of cipher attributes.
  auto params = [](const TLKXMLItem& n, TCipherParams& p, const char* what) {
    const uint32_t saltSize = Number(n, u"saltSize", 1, 65536);
    const uint32_t blockSize = Number(n, u"blockSize", 2, 4096);
    const uint32_t keyBits = Number(n, u"keyBits", 0, UINT32_MAX);
    const uint32_t hashSize = Number(n, u"hashSize", 1, 65536);
    const WideString hash = n.AttributeValue(u"hashAlgorithm");
    if (n.AttributeValue(u"cipherAlgorithm") != u"AES" || n.AttributeValue(u"cipherChaining") != u"ChainingModeCBC")
      NotSupported();
    if (hash == u"SHA1") p.Hash = hSHA1;
    else if (hash == u"SHA256") p.Hash = hSHA256;
    else if (hash == u"SHA384") p.Hash = hSHA384;
    else if (hash == u"SHA512") p.Hash = hSHA512;
    else NotSupported();
    if (keyBits != 128 && keyBits != 192 && keyBits != 256) NotSupported();
    if (blockSize != kAESBlock) Damaged(std::string(what) + " block size");
    if (hashSize != DigestSize(p.Hash)) Damaged(std::string(what) + " hash size");
    p.KeyBytes = keyBits / 8;
    p.HashSize = hashSize;
    p.Salt = Base64(n.AttributeValue(u"saltValue"), "salt");
    if (p.Salt.size() != saltSize) Damaged(std::string(what) + " salt size");
  };
  params(*keyData, FPackage, "key data");
  params(*encryptedKey, FKeyEncryptor, "key encryptor");
  FSpinCount = Number(*encryptedKey, u"spinCount", 0, kMaxAgileSpinCount);
  FVerifierInput = Base64(encryptedKey->AttributeValue(u"encryptedVerifierHashInput"), "verifier input");
  FVerifierHash = Base64(encryptedKey->AttributeValue(u"encryptedVerifierHashValue"), "verifier hash");
  FEncryptedKey = Base64(encryptedKey->AttributeValue(u"encryptedKeyValue"), "key value");
  // Each is its plain value padded to whole blocks (writers may pad more).
  auto holds = [](const RawByteString& s, size_t n) { return s.size() % kAESBlock == 0 && s.size() >= n; };
  if (!holds(FVerifierInput, FKeyEncryptor.Salt.size())) Damaged("verifier input size");
  if (!holds(FVerifierHash, FKeyEncryptor.HashSize)) Damaged("verifier hash size");
  if (!holds(FEncryptedKey, FPackage.KeyBytes)) Damaged("key value size");
}

bool TOfficeEncryption::CheckPassword(const WideString& Password) {
  FKey.clear();
  const RawByteString password = WideToUtf16LEBytes(Password);
  return FScheme == esAgile ? CheckAgile(password) : CheckStandard(password);
}

bool TOfficeEncryption::CheckStandard(const RawByteString& Password) {
  const RawByteString h = IteratedHash(hSHA1, FPackage.Salt, Password, FSpinCount);
  const RawByteString final = DigestString(hSHA1, h, LE32(0));
  // The key is drawn from two hashes of the final hash XORed into 64-byte
  // buffers of 0x36 and 0x5C.
  RawByteString inner(64, '\x36'), outer(64, '\x5C');
  for (size_t i = 0; i < final.size(); ++i) {
    inner[i] = static_cast<char>(inner[i] ^ final[i]);
    outer[i] = static_cast<char>(outer[i] ^ final[i]);
  }
  const RawByteString key = (DigestString(hSHA1, inner) + DigestString(hSHA1, outer)).substr(0, FPackage.KeyBytes);

  AESContext c{};
  SetKey(c, key);
  RawByteString verifier(FVerifierInput.size(), '\0'), hash(FVerifierHash.size(), '\0');
  DecryptECB(c, FVerifierInput.data(), verifier.data(), verifier.size());
  DecryptECB(c, FVerifierHash.data(), hash.data(), hash.size());
  if (DigestString(hSHA1, verifier) != hash.substr(0, 20)) return false;
  FKey = key;
  return true;
}

bool TOfficeEncryption::CheckAgile(const RawByteString& Password) {
  const TCipherParams& p = FKeyEncryptor;
  const RawByteString h = IteratedHash(p.Hash, p.Salt, Password, FSpinCount);
  auto derived = [&](const uint8_t (&block)[8]) {
    return Fit(DigestString(p.Hash, h, std::string_view(reinterpret_cast<const char*>(block), 8)), p.KeyBytes);
  };
  const RawByteString iv = Fit(p.Salt, kAESBlock);
  const RawByteString input = DecryptCBC(derived(kBlockVerifierInput), iv, FVerifierInput).substr(0, p.Salt.size());
  const RawByteString hash = DecryptCBC(derived(kBlockVerifierHash), iv, FVerifierHash).substr(0, p.HashSize);
  if (DigestString(p.Hash, input) != hash) return false;
  FKey = DecryptCBC(derived(kBlockKeyValue), iv, FEncryptedKey).substr(0, FPackage.KeyBytes);
  return true;
}

RawByteString TOfficeEncryption::DecryptPackage(std::string_view Encrypted, int64_t MaxSize) const {
  if (FKey.empty()) throw EPasswordError(SPasswordProtected);
  if (Encrypted.size() < 8) throw EReadError("The encrypted package is truncated");
  const uint64_t size = LoadLE64(Encrypted.data());
  const std::string_view data = Encrypted.substr(8);
  if (MaxSize >= 0 && size > static_cast<uint64_t>(MaxSize))
    throw ELimitError("The encrypted package is larger than the stream size limit");
  // Compared before rounding up, so that no size near 2^64 wraps.
  if (size > data.size() || (size + kAESBlock - 1) / kAESBlock * kAESBlock > data.size())
    throw EReadError("The encrypted package is shorter than its declared size");
  const size_t length = static_cast<size_t>(size);
  const size_t whole = (length + kAESBlock - 1) / kAESBlock * kAESBlock;

  RawByteString out(data.substr(0, whole));
  AESContext c{};
  SetKey(c, FKey);
  if (FScheme == esStandard) {
    DecryptECB(c, out.data(), out.data(), out.size());
  } else {
    uint8_t iv[kMaxDigest];
    for (size_t off = 0, segment = 0; off < whole; off += kSegment, ++segment) {
      const RawByteString index = LE32(static_cast<uint32_t>(segment));
      Digest(FPackage.Hash, FPackage.Salt.data(), FPackage.Salt.size(), index.data(), 4, iv);  // >= 20 bytes: cut to 16
      auto* p = reinterpret_cast<uint8_t*>(out.data()) + off;
      AES_CBC_Decrypt(c, iv, p, p, std::min(kSegment, whole - off));
    }
  }
  out.resize(length);
  return out;
}

}  // namespace lkw
