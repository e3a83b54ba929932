#include "lkword/readers/MSWOOCrypt.h"

#include <cstring>

#include "lkword/crypto/LKWCrypt.h"

namespace lkw {

namespace {

constexpr std::u16string_view kAES256CBC = u"http://www.w3.org/2001/04/xmlenc#aes256-cbc";
constexpr std::u16string_view kBlowfishCFB = u"Blowfish CFB";
constexpr std::u16string_view kSHA256 = u"http://www.w3.org/2000/09/xmldsig#sha256";
constexpr std::u16string_view kSHA256Alt = u"http://www.w3.org/2001/04/xmlenc#sha256";
constexpr std::u16string_view kSHA1 = u"http://www.w3.org/2000/09/xmldsig#sha1";
constexpr size_t kChecksumBytes = 1024;

bool EndsWith(std::u16string_view S, std::u16string_view Tail) {
  return S.size() >= Tail.size() && S.substr(S.size() - Tail.size()) == Tail;
}

// The manifest's digest over decrypted bytes: "SHA1/1K" and its URN form,
// and the SHA-256 URN. Empty for a type not known.
RawByteString Checksum(std::u16string_view Type, std::string_view Bytes) {
  if (Type == u"SHA1/1K" || EndsWith(Type, u"#sha1-1k")) return SHA1String(Bytes);
  if (EndsWith(Type, u"#sha256-1k")) return SHA256String(Bytes);
  return {};
}

}  // namespace

TOdfDecryptResult DecryptOdfMember(const TOdfEncryptionData& Data, std::string_view Password,
                                   std::string_view Encrypted, RawByteString& Plain, uint32_t MaxIterations) {
  Plain.clear();
  const bool aes = Data.Algorithm == kAES256CBC;
  const bool blowfish = Data.Algorithm == kBlowfishCFB || EndsWith(Data.Algorithm, u"#blowfish");
  if (Data.Damaged || (!aes && !blowfish) || Data.KeyDerivation != u"PBKDF2") return TOdfDecryptResult::Unsupported;
  if (Data.KeySize != (aes ? 32u : 16u) || Data.IV.size() != (aes ? 16u : 8u) || Data.Salt.empty() ||
      Data.Iterations == 0 || Data.Iterations > MaxIterations)
    return TOdfDecryptResult::Unsupported;
  const std::u16string_view type = Data.ChecksumType;
  if (!Data.Checksum.empty() && Checksum(type, "").empty()) return TOdfDecryptResult::Unsupported;
  RawByteString start;
  if (Data.StartKeyAlgorithm.empty() || Data.StartKeyAlgorithm == kSHA1 || Data.StartKeyAlgorithm == u"SHA1")
    start = SHA1String(Password);
  else if (Data.StartKeyAlgorithm == kSHA256 || Data.StartKeyAlgorithm == kSHA256Alt ||
           Data.StartKeyAlgorithm == u"SHA256")
    start = SHA256String(Password);
  else
    return TOdfDecryptResult::Unsupported;
  if (Encrypted.empty() || (aes && Encrypted.size() % 16 != 0)) return TOdfDecryptResult::WrongPassword;

  const RawByteString key = PBKDF2HMACSHA1(start, Data.Salt, Data.Iterations, Data.KeySize);
  Plain.assign(Encrypted);
  auto* p = reinterpret_cast<uint8_t*>(Plain.data());
  size_t pad = 0;
  if (aes) {
    AESContext ctx;
    AES_SetKey_Dec(ctx, key.data(), 256);
    AES_CBC_Decrypt(ctx, reinterpret_cast<const uint8_t*>(Data.IV.data()), p, p, Plain.size());
    std::memset(&ctx, 0, sizeof(ctx));
    pad = static_cast<uint8_t>(Plain.back());
    if (pad < 1 || pad > 16) {
      Plain.clear();
      return TOdfDecryptResult::WrongPassword;
    }
  } else {
    TBlowfishContext ctx;
    BlowfishInit(ctx, key.data(), key.size());
    uint8_t iv[8];
    std::memcpy(iv, Data.IV.data(), 8);
    BlowfishCFBDecrypt(ctx, iv, p, p, Plain.size());
    std::memset(&ctx, 0, sizeof(ctx));
  }

  // The digest covers the first kilobyte as decrypted; writers differ on
  // whether a member shorter than that is digested with its padding.
  bool match = Data.Checksum.empty();  // no digest: only the padding told
  if (!match) {
    const std::string_view all(Plain);
    match = Checksum(type, all.substr(0, kChecksumBytes)) == Data.Checksum;
    if (!match && pad > 0 && Plain.size() - pad < kChecksumBytes)
      match = Checksum(type, all.substr(0, Plain.size() - pad)) == Data.Checksum;
  }
  if (!match) {
    Plain.clear();
    return TOdfDecryptResult::WrongPassword;
  }
  Plain.resize(Plain.size() - pad);
  return TOdfDecryptResult::Opened;
}

}  // namespace lkw
