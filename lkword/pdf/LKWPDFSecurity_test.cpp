#include "lkword/pdf/LKWPDFSecurity.h"

#include <gtest/gtest.h>

#include <string>

#include "lkword/crypto/LKWCrypt.h"
#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

const std::string kHelloContent = "BT /F1 12 Tf 72 712 Td (Hello encrypted world) Tj ET";

TLKPDFStandardEncryption& Handler(TLKPDFReader& R) {
  auto* h = dynamic_cast<TLKPDFStandardEncryption*>(R.Encryption());
  if (!h) throw Exception("no standard handler");
  return *h;
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
    LoadFile(r, f.Name, f.Password);
    ASSERT_TRUE(r.IsPasswordProtected());
    EXPECT_EQ(r.Encryption()->ClassName(), f.Handler);
    EXPECT_EQ(PageContents(r), kHelloContent);
    EXPECT_EQ(Handler(r).Revision(), f.Revision);
    EXPECT_EQ(Hex(Handler(r).LastComputedKey()), f.Key);
    EXPECT_FALSE(Handler(r).AuthenticatedAsOwner());
  }
  for (const char* name : {"hello.pdf", "objstm.pdf"}) {
    TLKPDFReader plain;
    LoadFile(plain, name);
    EXPECT_FALSE(plain.IsPasswordProtected());
    EXPECT_EQ(PageContents(plain), kHelloContent);
  }
}

TEST(PDFSecurity, OwnerPasswordOpensTooAndWrongOnesAreRefused) {
  for (const char* name : {"rc4-128-user.pdf", "aes128-user-cleartextmeta.pdf", "aes256-user.pdf",
                           "aes256-r5-user.pdf"}) {
    SCOPED_TRACE(name);
    TLKPDFReader owner;
    LoadFile(owner, name, "owner");
    EXPECT_EQ(PageContents(owner), kHelloContent);
    EXPECT_TRUE(Handler(owner).AuthenticatedAsOwner());

    // A wrong password loads the structure and fails at the first decryption.
    TLKPDFReader wrong;
    try {
      LoadFile(wrong, name, "wrong");
      PageContents(wrong);
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
  // Compatibility forms as the characters they stand for (full-width, a
  // ligature, a superscript); a control character leaves the text as given.
  EXPECT_EQ(PDFPasswordToSASL("\xEF\xBC\xA1\xEF\xAC\x81x\xC2\xB2"), "Afix2");
  EXPECT_EQ(PDFPasswordToSASL("a\x01\xEF\xBC\xA1"), "a\x01\xEF\xBC\xA1");

  // The same documents open whether the caller gives text or the encoded bytes.
  TLKPDFReader latin1, decomposed;
  LoadFile(latin1, "aes128-user-cleartextmeta.pdf", "\xE4rger");
  EXPECT_EQ(PageContents(latin1), kHelloContent);
  LoadFile(decomposed, "aes256-user.pdf", "a\xCC\x88rger");
  EXPECT_EQ(PageContents(decomposed), kHelloContent);
}

TEST(PDFSecurity, AWrongKeyLengthIsReadAsItWasMeant) {
  TFileStream file(TestFile("rc4-128-user.pdf"));
  const std::string bytes = file.ReadBytes(file.Size());
  const size_t at = bytes.find("/Length 128");
  ASSERT_NE(at, std::string::npos);
  // In bytes, left out, and not a whole number of bytes (same size, so the
  // offsets hold).
  for (const char* length : {"/Length  16", "           ", "/Length 127"}) {
    SCOPED_TRACE(length);
    std::string changed = bytes;
    changed.replace(at, 11, length);
    TLKPDFReader r;
    r.SetPassword("user");
    Load(r, changed);
    EXPECT_EQ(PageContents(r), kHelloContent);
    EXPECT_EQ(Hex(Handler(r).LastComputedKey()), "2e76247e4b9d5c6aa46d224a2e740d27");
  }
  TLKPDFReader wrong;
  EXPECT_THROW(LoadFile(wrong, "rc4-128-user.pdf", "other"); PageContents(wrong), EPDFPasswordError);
}

TEST(PDFSecurity, PermissionsAreReportedNotEnforced) {
  TLKPDFReader r;
  LoadFile(r, "rc4-128-restricted.pdf");
  const TLKPDFStandardEncryption& h = Handler(r);
  EXPECT_EQ(h.Permissions(), -3392);
  // The queries test the bits the component has always tested (3 to 6 and
  // 9 to 13), which are not the standard's names for bits 10 to 12.
  EXPECT_EQ((std::vector<bool>{h.CanPrintDocument(), h.CanModifyDocument(), h.CanExtractContent(),
                               h.CanModifyAnnotations(), h.CanFillInForm(), h.CanFormFieldFill2(), h.CanContentCopy2(),
                               h.CanContentAccessibility(), h.CanPrintDocumentHighLevel()}),
            (std::vector<bool>{false, false, false, false, false, true, false, false, true}));
  EXPECT_EQ(PageContents(r), kHelloContent);

  TLKPDFReader meta;
  LoadFile(meta, "aes128-user-cleartextmeta.pdf", "ärger");
  EXPECT_FALSE(Handler(meta).EncryptMetadata());
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
    PageContents(r);
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
  // A key length that is no whole number of bytes is tried in its sane
  // readings; none fits this dictionary's password data.
  EXPECT_EQ(DecryptFailure(cf + "<< /CFM /V2 /Length 44 >> >> >>"), SPDFPasswordNotValid);
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
