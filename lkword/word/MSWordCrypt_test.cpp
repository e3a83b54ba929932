#include "lkword/word/MSWordCrypt.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/word/MSWord.h"
#include "testing/WordBuilder.h"

namespace lkw {
namespace {

// Made by LibreOffice (with and without a password), and by Word (Apache
// POI's test files): see testdata/README.md.
const std::string kDir = std::string(LKWORD_TESTDATA) + "/doc/";
const std::string kPassword = "P\xC3\xA4ssw\xC3\xB6rd 1";  // "Pässwörd 1"

std::string FileBytes(const std::string& Name) { return ReadFileBytes(kDir + Name); }

std::vector<std::string> Lines(TWideStrings& L) {
  std::vector<std::string> out;
  for (int i = 0; i < L.Count(); ++i) out.push_back(WideToUtf8(L.Get(i)));
  return out;
}

// Loads Bytes with Password; returns the error message, empty on success.
std::string Load(TMSWordDocument& Doc, const std::string& Bytes, const std::string& Password,
                 TMSTextFormating Format = tfPlainText) {
  Doc.SetPassword(Password);
  Doc.SetTextFormating(Format);
  TBytesStream s(Bytes);
  try {
    Doc.LoadFromStream(s);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

std::string Joined(TMSWordDocument& Doc) {
  std::string out;
  for (const std::string& l : Lines(Doc.Text())) out += l + "\n";
  return out;
}

TEST(WordEncryptionTest, TheRightPasswordGivesWhatThePlainDocumentGives) {
  const std::string encrypted = FileBytes("encrypted-rc4.doc");
  const std::string plain = FileBytes("encrypted-rc4-plain.doc");
  for (TMSTextFormating format : {tfPlainText, tfRTF, tfHTML}) {
    TMSWordDocument a, b;
    ASSERT_EQ(Load(a, encrypted, kPassword, format), "");
    ASSERT_EQ(Load(b, plain, "", format), "");
    EXPECT_EQ(Lines(a.Text()), Lines(b.Text()));
    EXPECT_EQ(Lines(a.FootNoteText()), Lines(b.FootNoteText()));
    EXPECT_EQ(Lines(a.HeaderText()), Lines(b.HeaderText()));
    EXPECT_EQ(WideToUtf8(a.SummaryInformation().Title()), "Harbour lights");
    EXPECT_TRUE(a.IsPasswordProtected());
    EXPECT_FALSE(b.IsPasswordProtected());
  }
  TMSWordDocument doc;
  ASSERT_EQ(Load(doc, encrypted, kPassword), "");
  EXPECT_NE(Joined(doc).find("The keeper wrote 3 < 4 & \xE2\x80\x9Cquoted\xE2\x80\x9D words"), std::string::npos);

  // Word's own files: the RC4 of Word 97/2000 and the CryptoAPI RC4 of later
  // versions (128-bit key, SHA-1).
  TMSWordDocument word, cryptoapi;
  ASSERT_EQ(Load(word, FileBytes("encrypted-rc4-word.doc"), "tika"), "");
  EXPECT_NE(Joined(word).find("This is an encrypted Word 2007 File."), std::string::npos);
  ASSERT_EQ(Load(cryptoapi, FileBytes("encrypted-cryptoapi.doc"), "password"), "");
  EXPECT_NE(Joined(cryptoapi).find("This is a test"), std::string::npos);
  EXPECT_EQ(WideToUtf8(cryptoapi.SummaryInformation().Author()), "kiwiwings");
}

TEST(WordEncryptionTest, MissingOrWrongPasswordsAreRefusedAfterTheMetadata) {
  const std::string encrypted = FileBytes("encrypted-rc4.doc");
  for (const std::string& password : {std::string(), std::string("P\xC3\xA4ssw\xC3\xB6rd"),
                                      std::string("p\xC3\xA4ssw\xC3\xB6rd 1"), std::string("Passwoerd 1")}) {
    TMSWordDocument doc;
    EXPECT_EQ(Load(doc, encrypted, password), "Could not read the password protected file") << password;
    EXPECT_EQ(WideToUtf8(doc.SummaryInformation().Title()), "Harbour lights");
  }
  TMSWordDocument doc;
  EXPECT_EQ(Load(doc, FileBytes("encrypted-cryptoapi.doc"), "Password"), "Could not read the password protected file");
}

TEST(WordEncryptionTest, XorObfuscationOfWord6AndWord97) {
  // The verifier Word 95 stored for "password1" (the wv suite's
  // 95-password1.doc): its XOR key high, its password hash low.
  constexpr uint32_t kKey = 0x0EC7E1AE;
  TWordXorDecryptor x;
  EXPECT_FALSE(x.Open(kKey, u"password2", 1252));
  EXPECT_FALSE(x.Open(kKey, u"", 1252));
  ASSERT_TRUE(x.Open(kKey, u"password1", 1252));
  // Long passwords count their first 15 characters, and each way of making
  // them single-byte is tried.
  EXPECT_TRUE(x.Open(kKey, u"password1", 1251));
  EXPECT_FALSE(x.Open(kKey, u"password1 and more", 1252));

  // The transformation undoes itself, so it also makes the test files.
  auto encrypt = [&](std::string& S, size_t From, bool KeepZeros) {
    x.Decrypt(reinterpret_cast<uint8_t*>(S.data()) + From, S.size() - From, From, KeepZeros);
  };
  for (int generation : {7, 8}) {
    for (bool keepZeros : {true, false}) {
      if (generation == 7 && !keepZeros) continue;
      testing::TWordDocBuilder b(generation);
      b.Pieces = {{u"Secret text of a Word " + std::u16string(generation == 7 ? u"95" : u"97") + u" file", generation == 7}};
      b.Encryption = generation == 7 ? 0x01 : 0x83;  // encrypted (and "1Table", obfuscated)
      b.Compound();
      std::string doc = b.Document, table = b.Table;
      testing::TWordDocBuilder::Put32(doc, 14, kKey);
      encrypt(doc, 68, keepZeros);
      testing::TCfbBuilder cfb;
      cfb.AddStream("WordDocument", doc);
      if (generation == 8) {
        encrypt(table, 0, keepZeros);
        cfb.AddStream("1Table", table);
      }
      const std::string file = cfb.Build();
      TMSWordDocument ok, wrong;
      ASSERT_EQ(Load(ok, file, "password1"), "") << generation;
      EXPECT_EQ(Joined(ok), "\n" + WideToUtf8(b.Pieces[0].Text) + "\n\n");
      EXPECT_EQ(Load(wrong, file, "password"), "Could not read the password protected file");
      EXPECT_EQ(Load(wrong, file, ""), "Could not read the password protected file");
    }
  }
}

// The file with the bytes at the start of one of its streams replaced:
// Patch gets that stream's first bytes and changes them in place.
std::string Patched(const std::string& File, const std::u16string& Stream,
                    const std::function<void(std::string&)>& Patch) {
  std::unique_ptr<TOleStorage> root = StgOpenStorageOnMemory(File);
  std::unique_ptr<TStream> s = root->OpenStream(Stream);
  std::string head = s->ReadBytes(std::min<int64_t>(s->Size(), 200));
  const size_t at = File.find(head);
  EXPECT_NE(at, std::string::npos);
  std::string out = File;
  Patch(head);
  out.replace(at, head.size(), head);
  return out;
}

TEST(WordEncryptionTest, EncryptionItDoesNotKnowOrDamagedHeadersAreRefusedCleanly) {
  using testing::TCfbBuilder;
  const std::string rc4 = FileBytes("encrypted-rc4.doc");
  const std::string capi = FileBytes("encrypted-cryptoapi.doc");
  const std::string kUnsupported = "The encryption method is not supported in current version";
  struct TCase {
    const char* Name;
    const std::string* File;
    const char16_t* Stream;
    std::function<void(std::string&)> Patch;
    std::string Password;
    std::string Error;
  };
  const std::vector<TCase> cases = {
      {"unknown version", &rc4, u"1Table", [](std::string& h) { h[0] = 9; }, kPassword, kUnsupported},
      {"no header", &rc4, u"WordDocument", [](std::string& h) { TCfbBuilder::Put32(h, 14, 0); }, kPassword,
       kUnsupported},
      {"header past the stream", &rc4, u"WordDocument",
       [](std::string& h) { TCfbBuilder::Put32(h, 14, 0x7FFFFFFF); }, kPassword, kUnsupported},
      {"header cut short", &rc4, u"WordDocument", [](std::string& h) { TCfbBuilder::Put32(h, 14, 40); }, kPassword,
       kUnsupported},
      {"XOR obfuscation with an RC4 header's key", &rc4, u"WordDocument", [](std::string& h) { h[11] |= char(0x80); },
       kPassword, "Could not read the password protected file"},
      {"no password, unknown version", &rc4, u"1Table", [](std::string& h) { h[0] = 9; }, "",
       "Could not read the password protected file"},
      {"damaged verifier", &rc4, u"1Table", [](std::string& h) { h[25] ^= 1; }, kPassword,
       "Could not read the password protected file"},
      {"header size past the header", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 8, 5000); },
       "password", kUnsupported},
      {"AES", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 20, 0x660E); }, "password", kUnsupported},
      {"MD5 hash", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 24, 0x8003); }, "password",
       kUnsupported},
      {"key bits", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 28, 1000); }, "password",
       kUnsupported},
      {"salt size", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 12 + 126, 8); }, "password",
       kUnsupported},
      {"verifier cut off", &capi, u"1Table", [](std::string& h) { TCfbBuilder::Put32(h, 8, 140); }, "password",
       kUnsupported},
  };
  for (const TCase& c : cases) {
    TMSWordDocument doc;
    EXPECT_EQ(Load(doc, Patched(*c.File, c.Stream, c.Patch), c.Password), c.Error) << c.Name;
  }

}

TEST(WordEncryptionTest, DecryptingInPiecesMatchesDecryptingWhole) {
  // Pieces that start and end inside 512-byte blocks and cross them.
  const std::string capi = FileBytes("encrypted-cryptoapi.doc");
  std::unique_ptr<TOleStorage> root = StgOpenStorageOnMemory(capi);
  const std::string header = root->OpenStream(u"1Table")->ReadBytes(198);
  TWordRC4Decryptor rc4;
  ASSERT_EQ(rc4.Open(header, u"password"), TWordRC4Decryptor::TOpenResult::Opened);
  std::string whole(3000, '\0');
  for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<char>(i * 7);
  std::string pieces = whole;
  rc4.Decrypt(reinterpret_cast<uint8_t*>(whole.data()), whole.size());
  size_t at = 0;
  for (size_t n : {1, 510, 3, 600, 1000, 886}) {
    rc4.Decrypt(reinterpret_cast<uint8_t*>(pieces.data() + at), n, at);
    at += n;
  }
  ASSERT_EQ(at, whole.size());
  EXPECT_EQ(pieces, whole);
}

}  // namespace
}  // namespace lkw
