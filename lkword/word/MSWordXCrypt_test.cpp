#include "lkword/word/MSWordXCrypt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWordX.h"
#include "testing/CompoundFileBuilder.h"
#include "testing/LoadDocument.h"

namespace lkw {
namespace {

using V = std::vector<std::string>;

// The samples' password: not ASCII, so that it must reach the hash as UTF-16.
constexpr const char* kPassword = "\xC3\x86r\xC3\xB8 lamp";  // "Ærø lamp"
constexpr const char* kSamples[] = {"sample-agile-aes256-sha512.docx", "sample-agile-aes128-sha1.docx",
                                    "sample-standard-aes128.docx"};

std::string SamplePath(const std::string& Name) { return testing::TestDataPath("docx/" + Name); }

struct TStreams {
  std::string Info, Package;
};

TStreams Streams(const std::string& Name) {
  auto root = StgOpenStorage(SamplePath(Name));
  auto info = root->OpenStream(u"EncryptionInfo");
  auto package = root->OpenStream(u"EncryptedPackage");
  return {info->ReadBytes(info->Size()), package->ReadBytes(package->Size())};
}

std::string Container(const std::string& Info, const std::string& Package) {
  testing::TCfbBuilder ole;
  if (!Info.empty()) ole.AddStream("EncryptionInfo", Info);
  ole.AddStream("EncryptedPackage", Package);
  return ole.Build();
}

// The message a load with that password raises; empty when it loads.
std::string LoadError(const std::string& Bytes, const std::string& Password) {
  TMSWordXDocument doc;
  doc.SetPassword(Password);
  return testing::TryLoadLines(doc, Bytes).Error;
}

std::string Replaced(std::string S, const std::string& From, const std::string& To) {
  const size_t at = S.find(From);
  EXPECT_NE(at, std::string::npos) << From;
  if (at != std::string::npos) S.replace(at, From.size(), To);
  return S;
}

enum TOutcome { oDamaged, oNotSupported, oParsed };

TOutcome Parse(const std::string& Info) {
  try {
    TOfficeEncryption e(Info);
  } catch (const EEncryptionNotSupportedError&) {
    return oNotSupported;
  } catch (const EReadError&) {
    return oDamaged;
  }
  return oParsed;
}

TEST(WordXCryptTest, EachSampleReadsAsThePlainDocument) {
  TMSWordXDocument plain;
  plain.LoadFromFile(SamplePath("sample.docx"));
  for (const char* name : kSamples) {
    SCOPED_TRACE(name);
    TMSWordXDocument doc;
    doc.SetPassword(kPassword);
    doc.LoadFromFile(SamplePath(name));
    EXPECT_EQ(doc.Text().ToUtf8(), plain.Text().ToUtf8());
    EXPECT_EQ(doc.FootNoteText().ToUtf8(), plain.FootNoteText().ToUtf8());
    const TLKWordSummaryInformation &s = doc.SummaryInformation(), &p = plain.SummaryInformation();
    EXPECT_EQ(WideToUtf8(s.Title() + u"|" + s.Author() + u"|" + s.Keywords() + u"|" + s.Subject()),
              "The Lighthouse Keeper\xE2\x80\x99s Log|Mara Quill|lighthouse, weather|Harbour notes");
    EXPECT_DOUBLE_EQ(s.Created(), p.Created());
    EXPECT_TRUE(doc.IsPasswordProtected());
    EXPECT_FALSE(plain.IsPasswordProtected());

    // The password is compared exactly: case, a missing character and no
    // password at all are refused the same way.
    for (const char* wrong : {"\xC3\xA6r\xC3\xB8 lamp", "\xC3\x86r\xC3\xB8 lam", ""}) {
      TMSWordXDocument refused;
      refused.SetPassword(wrong);
      try {
        refused.LoadFromFile(SamplePath(name));
        ADD_FAILURE() << "loaded with \"" << wrong << "\"";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), SPasswordProtected);
      }
      EXPECT_EQ(refused.Text().Count(), 0);
      EXPECT_TRUE(refused.IsPasswordProtected());
      EXPECT_TRUE(refused.SummaryInformation().Title().empty());
    }
  }
}

TEST(WordXCryptTest, UnsupportedEncryptionIsToldApartFromAWrongPassword) {
  const TStreams agile = Streams(kSamples[0]);
  const std::string package = agile.Package;
  auto withInfo = [&](const std::string& info) { return LoadError(Container(info, package), kPassword); };
  // No password data at all (rights management), an unknown version, and
  // the placeholder layout of encrypted.docx.
  EXPECT_EQ(LoadError(Container("", package), kPassword), SEncryptionNotSupported);
  EXPECT_EQ(withInfo(std::string("\x01\x00\x01\x00", 4) + agile.Info.substr(4)), SEncryptionNotSupported);
  EXPECT_EQ(withInfo(std::string(248, '\x04')), SEncryptionNotSupported);
  // Without a password nothing is parsed: the refusal stays as it was.
  EXPECT_EQ(LoadError(Container("", package), ""), SPasswordProtected);
  // Damage is neither.
  EXPECT_EQ(withInfo(agile.Info.substr(0, 12)).rfind("The encryption information is damaged", 0), 0u);
}

TEST(WordXCryptTest, StandardHeaderValuesOutsideWhatIsImplemented) {
  const std::string info = Streams(kSamples[2]).Info;
  ASSERT_EQ(Parse(info), oParsed);
  auto with32 = [&](size_t off, uint32_t v) {
    std::string s = info;
    testing::TCfbBuilder::Put32(s, off, v);
    return Parse(s);
  };
  EXPECT_EQ(with32(4, 0x04), oNotSupported);          // RC4 CryptoAPI: no AES flag
  EXPECT_EQ(with32(4, 0x34), oNotSupported);          // extensible
  EXPECT_EQ(with32(12 + 8, 0x6801), oNotSupported);   // RC4 algorithm
  EXPECT_EQ(with32(12 + 12, 0x8003), oNotSupported);  // MD5
  EXPECT_EQ(with32(12 + 16, 256), oDamaged);          // key size not the algorithm's
  EXPECT_EQ(with32(8, 0xFFFFFFF0), oDamaged);         // header beyond the stream
  EXPECT_EQ(with32(8, 8), oDamaged);
  const size_t verifier = 12 + (static_cast<uint8_t>(info[8]) | static_cast<uint8_t>(info[9]) << 8);
  EXPECT_EQ(with32(verifier, 0xFFFF), oDamaged);        // salt size
  EXPECT_EQ(with32(verifier + 36, 0x7FFFFFFF), oDamaged);  // verifier hash size
  // Every truncation is damage, never a read past the end.
  for (size_t n = 0; n < info.size(); ++n) EXPECT_EQ(Parse(info.substr(0, n)), oDamaged) << n;
}

TEST(WordXCryptTest, AgileDescriptorValuesOutsideWhatIsImplemented) {
  const std::string info = Streams(kSamples[0]).Info;
  ASSERT_EQ(Parse(info), oParsed);
  // In the key encryptor, or in the package's key data.
  EXPECT_EQ(Parse(Replaced(info, "spinCount=\"100000\"", "spinCount=\"10000001\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "spinCount=\"100000\"", "spinCount=\"10000000\"")), oParsed);
  EXPECT_EQ(Parse(Replaced(info, "spinCount=\"100000\"", "spinCount=\"-1\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"MD5\"")), oNotSupported);
  EXPECT_EQ(Parse(Replaced(info, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"3DES\"")), oNotSupported);
  EXPECT_EQ(Parse(Replaced(info, "ChainingModeCBC", "ChainingModeCFB")), oNotSupported);
  EXPECT_EQ(Parse(Replaced(info, "keyBits=\"256\"", "keyBits=\"512\"")), oNotSupported);
  EXPECT_EQ(Parse(Replaced(info, "blockSize=\"16\"", "blockSize=\"4096\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "hashSize=\"64\"", "hashSize=\"20\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "saltSize=\"16\"", "saltSize=\"4294967295\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "saltSize=\"16\"", "saltSize=\"17\"")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "saltValue=\"", "saltValue=\"*")), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "encryptedKeyValue=\"", "encryptedKeyValue=\"AAAA")), oDamaged);
  // Key encryptors: certificates only, none, or no key data.
  EXPECT_EQ(Parse(Replaced(info, "keyEncryptor/password\">", "keyEncryptor/certificate\">")), oNotSupported);
  const size_t from = info.find("<keyEncryptors>"), to = info.find("</keyEncryptors>");
  ASSERT_NE(to, std::string::npos);
  EXPECT_EQ(Parse(info.substr(0, from) + info.substr(to + 16)), oDamaged);
  EXPECT_EQ(Parse(Replaced(info, "<keyData ", "<keyDatum ")), oDamaged);
  // Truncated anywhere before the last value the reader needs: a clean
  // refusal of either kind.
  for (size_t n = 0; n < info.find("encryptedKeyValue"); n += 7) EXPECT_NE(Parse(info.substr(0, n)), oParsed) << n;
}

TEST(WordXCryptTest, PackageSizesAreCheckedBeforeDecrypting) {
  for (const char* name : {kSamples[1], kSamples[2]}) {
    SCOPED_TRACE(name);
    const TStreams s = Streams(name);
    TOfficeEncryption e(s.Info);
    EXPECT_THROW(e.DecryptPackage(s.Package, -1), Exception);  // no password checked yet
    ASSERT_TRUE(e.CheckPassword(Utf8ToWide(kPassword)));
    const std::string plain = e.DecryptPackage(s.Package, -1);
    EXPECT_EQ(plain.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(e.DecryptPackage(s.Package, static_cast<int64_t>(plain.size())), plain);
    EXPECT_THROW(e.DecryptPackage(s.Package, static_cast<int64_t>(plain.size()) - 1), ELimitError);
    // Short of the declared size, by a whole block or within the last one.
    const size_t whole = (plain.size() + 15) / 16 * 16;
    EXPECT_THROW(e.DecryptPackage(s.Package.substr(0, 8 + whole - 1), -1), EReadError);
    EXPECT_THROW(e.DecryptPackage(s.Package.substr(0, 7), -1), EReadError);
    std::string huge = s.Package;
    for (int i = 0; i < 8; ++i) huge[i] = '\xFF';
    EXPECT_THROW(e.DecryptPackage(huge, -1), EReadError);

    // Through the reader.
    EXPECT_EQ(LoadError(Container(s.Info, s.Package.substr(0, s.Package.size() / 2)), kPassword),
              "The encrypted package is shorter than its declared size");
  }
}

}  // namespace
}  // namespace lkw
