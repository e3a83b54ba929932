#include "lkword/readers/MSWOOCrypt.h"

#include <cstring>

#include "lkword/pdf/LKWCrypt.h"

namespace lkw {

namespace {

constexpr std::u16string_view kAES256CBC = u"http://www.w3.org/2001/04/xmlenc#aes256-cbc";
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
  if (Data.Damaged || Data.Algorithm != kAES256CBC || Data.KeyDerivation != u"PBKDF2")
    return TOdfDecryptResult::Unsupported;
  if (Data.KeySize != 32 || Data.IV.size() != 16 || Data.Salt.empty() || Data.Iterations == 0 ||
      Data.Iterations > MaxIterations)
    return TOdfDecryptResult::Unsupported;
  RawByteString start;
  if (Data.StartKeyAlgorithm.empty() || Data.StartKeyAlgorithm == kSHA1 || Data.StartKeyAlgorithm == u"SHA1")
    start = SHA1String(Password);
  else if (Data.StartKeyAlgorithm == kSHA256 || Data.StartKeyAlgorithm == kSHA256Alt ||
           Data.StartKeyAlgorithm == u"SHA256")
    start = SHA256String(Password);
  else
    return TOdfDecryptResult::Unsupported;
  if (Encrypted.empty() || Encrypted.size() % 16 != 0) return TOdfDecryptResult::WrongPassword;

  const RawByteString key = PBKDF2HMACSHA1(start, Data.Salt, Data.Iterations, 32);
  AESContext aes;
  AES_SetKey_Dec(aes, key.data(), 256);
  Plain.assign(Encrypted);
  auto* p = reinterpret_cast<uint8_t*>(Plain.data());
  AES_CBC_Decrypt(aes, reinterpret_cast<const uint8_t*>(Data.IV.data()), p, p, Plain.size());
  std::memset(&aes, 0, sizeof(aes));

  // The digest covers the first kilobyte as decrypted; writers differ on
  // whether a member shorter than that is digested with its padding.
  const uint8_t pad = static_cast<uint8_t>(Plain.back());
  const bool padOk = pad >= 1 && pad <= 16 && pad <= Plain.size();
  const RawByteString want = Data.Checksum;
  bool match = false;
  if (!want.empty()) {
    const std::u16string_view type = Data.ChecksumType;
    if (Checksum(type, "").empty()) return TOdfDecryptResult::Unsupported;
    const std::string_view all(Plain);
    match = Checksum(type, all.substr(0, kChecksumBytes)) == want;
    if (!match && padOk && Plain.size() - pad < kChecksumBytes)
      match = Checksum(type, all.substr(0, Plain.size() - pad)) == want;
  } else {
    match = padOk;  // no digest: only the padding can tell
  }
  if (!match || !padOk) {
    Plain.clear();
    return TOdfDecryptResult::WrongPassword;
  }
  Plain.resize(Plain.size() - pad);
  return TOdfDecryptResult::Opened;
}

}  // namespace lkw
