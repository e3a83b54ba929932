#include <gtest/gtest.h>

#include <string>

#include "lkword/crypto/LKWCrypt.h"
#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using pdftest::Builder;
using pdftest::Load;
using pdftest::OnePage;

const std::string kHelloContent = "BT /F1 12 Tf 72 712 Td (Hello encrypted world) Tj ET";

std::string TestFile(const std::string& Name) { return std::string(LKWORD_TESTDATA) + "/pdf/" + Name; }

std::string Hex(std::string_view Bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : Bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::string FirstPageContents(TLKPDFReader& R) {
  const TLKPDFPage* p = R.Pages().GetPage(0);
  return p ? R.GetPageContents(p->ObjNumber()) : "<no page>";
}

// The Info /Title as stored (encrypted) and decrypted with its own object.
std::string Title(TLKPDFReader& R) {
  const int32_t num = static_cast<int32_t>(PDFStrToInt64Def(R.InfoTag, 0));
  TPDFObject info;
  int32_t gen = 0;
  if (!R.GetObject(num, info, &gen) || !info.Get("Title")) return "<none>";
  return R.DecryptString(num, gen, info.Get("Title")->Str);
}

// File keys as qpdf --show-encryption-key reports them.
struct TEncryptedFile {
  const char* Name;
  const char* Password;
  const char* Key;
  int Revision;
  const char* Handler;
};
const TEncryptedFile kFiles[] = {
    {"rc4-40-empty.pdf", "", "2111f192e0", 2, "TLKPDFStandardAlgorithm12"},
    {"rc4-128-user.pdf", "user", "2e76247e4b9d5c6aa46d224a2e740d27", 3, "TLKPDFStandardAlgorithm12"},
    {"aes128-user-cleartextmeta.pdf", "ärger", "cd335c7ee1ba030714ae61318a159685", 4, "TLKPDFStandardCryptFilter"},
    {"aes256-user.pdf", "ärger", "79ec53a8be2cbdfa8a081879ba6bf012c5bbebfbb387313b2e465e116f40ae51", 6,
     "TLKPDFStandardCryptFilter"},
    {"aes256-r5-user.pdf", "user", "016ec20bb059b1b980d514f5131ba34f3f5ad38b32a264001254dd52ceb4c3fa", 5,
     "TLKPDFStandardCryptFilter"},
    {"objstm-aes256.pdf", "", "13eee4e43d1b0a00a26e81e9387bc45d423bba45e52bf042b7f3ee8a2ab8026c", 6,
     "TLKPDFStandardCryptFilter"},
};

TEST(PDFSecurity, EveryRevisionOpensWithItsUserPassword) {
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.Name);
    TLKPDFReader r;
    r.SetPassword(f.Password);
    r.LoadFromFile(TestFile(f.Name));
    ASSERT_TRUE(r.IsPasswordProtected());
    EXPECT_EQ(r.Encryption()->ClassName(), f.Handler);
    EXPECT_EQ(FirstPageContents(r), kHelloContent);
    EXPECT_EQ(Title(r), "Hello");
    auto* h = dynamic_cast<TLKPDFStandardEncryption*>(r.Encryption());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->Revision(), f.Revision);
    EXPECT_EQ(Hex(h->LastComputedKey()), f.Key);
    EXPECT_FALSE(h->AuthenticatedAsOwner());
  }
  TLKPDFReader plain;
  plain.LoadFromFile(TestFile("hello.pdf"));
  EXPECT_FALSE(plain.IsPasswordProtected());
  EXPECT_EQ(FirstPageContents(plain), kHelloContent);
  TLKPDFReader objstm;
  objstm.LoadFromFile(TestFile("objstm.pdf"));
  EXPECT_EQ(FirstPageContents(objstm), kHelloContent);
}

TEST(PDFSecurity, OwnerPasswordOpensTooAndWrongOnesAreRefused) {
  for (const char* name : {"rc4-128-user.pdf", "aes128-user-cleartextmeta.pdf", "aes256-user.pdf",
                           "aes256-r5-user.pdf"}) {
    SCOPED_TRACE(name);
    TLKPDFReader owner;
    owner.SetPassword("owner");
    owner.LoadFromFile(TestFile(name));
    EXPECT_EQ(FirstPageContents(owner), kHelloContent);
    EXPECT_TRUE(dynamic_cast<TLKPDFStandardEncryption*>(owner.Encryption())->AuthenticatedAsOwner());

    // A wrong password loads the structure and fails at the first decryption.
    TLKPDFReader wrong;
    wrong.SetPassword("wrong");
    try {
      wrong.LoadFromFile(TestFile(name));
      FirstPageContents(wrong);
      FAIL() << "no error";
    } catch (const EPDFPasswordError& e) {
      EXPECT_STREQ(e.what(), SPDFPasswordNotValid);
    }
  }
}

TEST(PDFSecurity, PasswordsArriveAsText) {
  // Revisions 2 to 4 take PDFDocEncoding, revisions 5 and 6 UTF-8.
  EXPECT_EQ(PDFPasswordToPDFDoc("\xC3\xA4rger"), "\xE4rger");
  EXPECT_EQ(PDFPasswordToPDFDoc("\xE2\x82\xAC\xE2\x80\xA2"), "\xA0\x80");
  EXPECT_EQ(PDFPasswordToPDFDoc("\xE4\xB8\xAD"), "?");
  EXPECT_EQ(PDFPasswordToPDFDoc("\xE4rger"), "\xE4rger");  // not UTF-8: bytes as given
  EXPECT_EQ(PDFPasswordToSASL("a\xCC\x88rger"), "\xC3\xA4rger");
  EXPECT_EQ(PDFPasswordToSASL("a\xC2\xA0" "b\xC2\xAD" "c"), "a bc");
  EXPECT_EQ(PDFPasswordToSASL(std::string(200, 'x')).size(), 127u);
  EXPECT_EQ(PDFPasswordToSASL(std::string(126, 'x') + "\xC3\xA4").size(), 126u);

  // The same documents open whether the caller gives text or the encoded bytes.
  TLKPDFReader latin1;
  latin1.SetPassword("\xE4rger");
  latin1.LoadFromFile(TestFile("aes128-user-cleartextmeta.pdf"));
  EXPECT_EQ(FirstPageContents(latin1), kHelloContent);
  TLKPDFReader decomposed;
  decomposed.SetPassword("a\xCC\x88rger");
  decomposed.LoadFromFile(TestFile("aes256-user.pdf"));
  EXPECT_EQ(FirstPageContents(decomposed), kHelloContent);
}

TEST(PDFSecurity, PermissionsAreReportedNotEnforced) {
  TLKPDFReader r;
  r.LoadFromFile(TestFile("rc4-128-restricted.pdf"));
  auto* h = dynamic_cast<TLKPDFStandardEncryption*>(r.Encryption());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Permissions(), -3392);
  EXPECT_FALSE(h->CanPrintDocument());
  EXPECT_FALSE(h->CanModifyDocument());
  EXPECT_FALSE(h->CanExtractContent());
  EXPECT_FALSE(h->CanModifyAnnotations());
  // The queries test the bits the component has always tested (9 to 13),
  // which are not the standard's names for bits 10 to 12.
  EXPECT_FALSE(h->CanFillInForm());
  EXPECT_TRUE(h->CanFormFieldFill2());
  EXPECT_FALSE(h->CanContentCopy2());
  EXPECT_FALSE(h->CanContentAccessibility());
  EXPECT_TRUE(h->CanPrintDocumentHighLevel());
  EXPECT_EQ(FirstPageContents(r), kHelloContent);

  TLKPDFReader meta;
  meta.SetPassword("ärger");
  meta.LoadFromFile(TestFile("aes128-user-cleartextmeta.pdf"));
  EXPECT_FALSE(dynamic_cast<TLKPDFStandardEncryption*>(meta.Encryption())->EncryptMetadata());
}

TEST(PDFSecurity, KeyDerivationOfRevisionsTwoToFour) {
  TLKPDFStandardAlgorithm12 h;
  h.SetRevision(3);
  h.SetKeyLength(128);
  h.SetPermissions(-4);
  h.SetOwnerPasswordHash(std::string(32, 'O'));
  const std::string id = "0123456789abcdef";
  const RawByteString k1 = h.ComputeKey(id, "");
  EXPECT_EQ(k1.size(), 16u);
  // /EncryptMetadata false changes the key from revision 4 on only.
  h.SetEncryptMetadata(false);
  EXPECT_EQ(h.ComputeKey(id, ""), k1);
  h.SetRevision(4);
  const RawByteString k4 = h.ComputeKey(id, "");
  h.SetEncryptMetadata(true);
  EXPECT_NE(h.ComputeKey(id, ""), k4);
  // Revision 2 always uses 5 bytes, and its /U is the encrypted padding.
  h.SetRevision(2);
  EXPECT_EQ(h.ComputeKey(id, "").size(), 5u);
  EXPECT_EQ(h.ComputeUserPassword(id, ""), RC4String(h.ComputeKey(id, ""), TLKPDFStandardEncryption::PASSWORD_PADDING()));
  EXPECT_EQ(TLKPDFStandardEncryption::GetPaddedPassword("ab", 32).substr(0, 4), "ab\x28\xBF");
  EXPECT_EQ(TLKPDFStandardEncryption::GetPaddedPassword(std::string(40, 'x'), 40), std::string(32, 'x'));
  h.SetRevision(9);
  EXPECT_THROW(h.CheckAuthentication(id, ""), EPDFEncryptionError);
}

// A document whose /Encrypt dictionary is Dict; the first decryption (the
// page's content) raises what the dictionary is refused for.
std::string DecryptFailure(const std::string& Dict) {
  auto objs = OnePage();
  objs[9] = Dict;
  TLKPDFReader r;
  try {
    Load(r, Builder().Objects(objs).Table("/Root 1 0 R /Encrypt 9 0 R /ID [<00><00>]").Bytes());
    FirstPageContents(r);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

TEST(PDFSecurity, RefusalMessages) {
  EXPECT_EQ(DecryptFailure("<< /Filter /Adobe.PubSec /V 1 >>"), SPDFEncryptionNotSupported);
  EXPECT_EQ(DecryptFailure("<< /Filter /Standard /V 3 /R 3 >>"), SPDFAlgorithm3NotSupported);
  EXPECT_EQ(DecryptFailure("<< /Filter /Standard /V 0 >>"), "Unknown algorithm (0) for Standard encryption");
  EXPECT_EQ(DecryptFailure("<< /Filter /Standard /V 1 /R 7 /O <00> /U <00> /P -4 >>"), SPDFUnknownRevision);
  const std::string cf = "<< /Filter /Standard /V 4 /R 4 /O <00> /U <00> /P -4 /StmF /StdCF /StrF /StdCF /CF << /StdCF ";
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /Foo /Length 16 >> >> >>"),
            "Invalid method used (/foo) for Standard encryption");
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /V2 /Length 44 >> >> >>"), "Invalid key length (44) for Standard encryption");
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /AESV2 /AuthEvent /WillOpen >> >> >>"),
            "Invalid event (/willopen) to be to trigger the authorization for Standard encryption");
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /None >> >> >>"), SPDFCryptFilterNotImplemented);
  // A crypt filter without /AuthEvent opens on the document; here the
  // password check itself fails.
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /AESV2 /Length 16 >> >> >>"), SPDFPasswordNotValid);
  // Identity filters decrypt nothing.
  EXPECT_EQ(DecryptFailure("<< /Filter /Standard /V 4 /R 4 /O <00> /U <00> /P -4 >>"), "");
}

}  // namespace
}  // namespace lkw
