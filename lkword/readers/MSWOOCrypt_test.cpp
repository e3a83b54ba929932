#include "lkword/readers/MSWOOCrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "lkword/containers/LKWZipFile.h"
#include "testing/ZipBuilder.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/MSWOO.h"
#include "testing/LoadDocument.h"

namespace lkw {
namespace {

// encrypted-aes.odt and encrypted-blowfish.odt are sample.odt saved with a
// password by LibreOffice 7.4 (as ODF 1.2 and 1.1); encrypted-tika.odt comes
// from Apache Tika's tests (another LibreOffice).
std::string TestFile(const std::string& Name) { return testing::TestDataBytes("odf/" + Name); }
const std::string kPassword = "P\xC3\xA4ssw\xC3\xB6rd 1";  // "Pässwörd 1"
const std::string kProtected = "Could not read the password protected file";
const std::string kUnsupported = "The encryption method is not supported in current version";

struct TLoaded {
  std::vector<std::string> Lines;
  std::string Title, Error;
  bool Protected = false;
};

TLoaded Load(const std::string& Bytes, const std::string& Password, TMSTextFormating Format = tfPlainText) {
  TOpenOfficeTextDocument doc;
  doc.SetPassword(Password);
  doc.SetTextFormating(Format);
  const testing::TLoadResult loaded = testing::TryLoadLines(doc, Bytes);
  TLoaded r{loaded.Lines, "", loaded.Error};
  r.Title = WideToUtf8(doc.SummaryInformation().Title());
  r.Protected = doc.IsPasswordProtected();
  return r;
}

TEST(OpenDocumentEncryption, TheRightPasswordGivesWhatThePlainPackageGives) {
  // The office suite rewrote the styles when it saved; the text is the same.
  const TLoaded b = Load(TestFile("sample.odt"), "");
  EXPECT_FALSE(b.Protected);
  for (const char* name : {"encrypted-aes.odt", "encrypted-blowfish.odt"}) {
    const TLoaded a = Load(TestFile(name), kPassword);
    EXPECT_EQ(a.Error, "") << name;
    EXPECT_EQ(a.Lines, b.Lines) << name;
    EXPECT_EQ(a.Title, "Harbour lights") << name;
    EXPECT_TRUE(a.Protected) << name;
    EXPECT_EQ(Load(TestFile(name), "Passw\xC3\xB6rd 1").Error, kProtected) << name;
  }
  const TLoaded html = Load(TestFile("encrypted-aes.odt"), kPassword, tfHTML);
  EXPECT_NE(std::find(html.Lines.begin(), html.Lines.end(), "<p class=\"Heading_20_1\">The lamp</p>"),
            html.Lines.end());

  const TLoaded tika = Load(TestFile("encrypted-tika.odt"), "tika");
  EXPECT_EQ(tika.Error, "");
  ASSERT_GE(tika.Lines.size(), 2u);
  EXPECT_EQ(tika.Lines[1], "Shhhhhhhhhhh!");
}

TEST(OpenDocumentEncryption, MissingOrWrongPasswordsAreRefused) {
  const std::string encrypted = TestFile("encrypted-aes.odt");
  for (const std::string& password : {std::string(), std::string("P\xC3\xA4ssw\xC3\xB6rd"), std::string("Passw\xC3\xB6rd 1")}) {
    const TLoaded r = Load(encrypted, password);
    EXPECT_EQ(r.Error, kProtected) << password;
    EXPECT_TRUE(r.Protected);
    EXPECT_EQ(r.Title, "");  // the metadata is encrypted too
  }
}

// The encrypted sample rebuilt with Edit applied to each member's bytes.
template <typename F>
std::string Rebuilt(F Edit) {
  const std::string file = TestFile("encrypted-aes.odt");
  TZipArchive zip;
  TBytesStream s(file);
  zip.LoadFromStream(s);
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < zip.Count(); ++i) {
    std::string name = zip.Files()[i].ExtractionName();
    std::string data = zip.GetUncompressed(i);
    Edit(name, data);
    members.emplace_back(std::move(name), std::move(data));
  }
  return testing::MakeZip(members);
}

TEST(OpenDocumentEncryption, ManifestsItCannotFollowAreRefusedCleanly) {
  struct TCase {
    const char* Name;
    std::string From, To, Error;
  };
  const std::vector<TCase> cases = {
      {"Twofish", "http://www.w3.org/2001/04/xmlenc#aes256-cbc\" manifest:initialisation-vector",
       "Twofish CFB\" manifest:initialisation-vector", kUnsupported},
      {"Blowfish with an AES-sized vector", "http://www.w3.org/2001/04/xmlenc#aes256-cbc\" manifest:initialisation-vector",
       "Blowfish CFB\" manifest:initialisation-vector", kUnsupported},
      {"iteration count", "manifest:iteration-count=\"100000\"", "manifest:iteration-count=\"4000000000\"",
       kUnsupported},
      {"key size", "manifest:key-derivation-name=\"PBKDF2\" manifest:key-size=\"32\"",
       "manifest:key-derivation-name=\"PBKDF2\" manifest:key-size=\"16\"", kUnsupported},
      {"checksum type", "#sha256-1k\"", "#md5-1k\"", kUnsupported},
      {"start key", "xmldsig#sha256\"", "xmldsig#sha512\"", kUnsupported},
      {"salt not base64", "manifest:salt=\"", "manifest:salt=\"*", kUnsupported},
      {"other checksum", "manifest:checksum=\"", "manifest:checksum=\"AAAA", kProtected},
  };
  // Every entry gets the edit, so that meta.xml and content.xml both see it.
  for (const TCase& c : cases) {
    const std::string file = Rebuilt([&](const std::string& Name, std::string& Data) {
      if (Name != "META-INF/manifest.xml") return;
      for (size_t at = Data.find(c.From); at != std::string::npos; at = Data.find(c.From, at + c.To.size()))
        Data.replace(at, c.From.size(), c.To);
    });
    const TLoaded r = Load(file, kPassword);
    EXPECT_EQ(r.Error, c.Error) << c.Name;
    EXPECT_TRUE(r.Protected) << c.Name;
  }
}

TEST(OpenDocumentEncryption, DamagedMembersAreRefusedCleanly) {
  TOdfEncryptionData d;
  d.Algorithm = u"http://www.w3.org/2001/04/xmlenc#aes256-cbc";
  d.KeyDerivation = u"PBKDF2";
  d.StartKeyAlgorithm = u"http://www.w3.org/2000/09/xmldsig#sha256";
  d.KeySize = 32;
  d.IV = std::string(16, 'i');
  d.Salt = std::string(16, 's');
  d.Iterations = 10;
  RawByteString plain;
  // Not whole blocks, and nothing at all: no key makes sense of them.
  EXPECT_EQ(DecryptOdfMember(d, "pw", std::string(33, 'x'), plain), TOdfDecryptResult::WrongPassword);
  EXPECT_EQ(DecryptOdfMember(d, "pw", "", plain), TOdfDecryptResult::WrongPassword);
  // Without a digest the padding decides; random blocks rarely pass, and
  // those that do must still inflate.
  EXPECT_NE(DecryptOdfMember(d, "pw", std::string(64, 'x'), plain, 5), TOdfDecryptResult::Opened);
  d.Iterations = 11;
  EXPECT_EQ(DecryptOdfMember(d, "pw", std::string(64, 'x'), plain, 10), TOdfDecryptResult::Unsupported);

  // Damage past the digested first kilobyte: the password is right, the
  // deflate data is not.
  const std::string damaged = Rebuilt([](const std::string& Name, std::string& Data) {
    if (Name == "content.xml" && Data.size() > 2100) Data[2000] ^= 0x55;
  });
  const TLoaded r = Load(damaged, kPassword);
  EXPECT_NE(r.Error.find("Corrupt compressed data in \"content.xml\""), std::string::npos) << r.Error;
  EXPECT_EQ(r.Title, "Harbour lights");
}

}  // namespace
}  // namespace lkw
