#include "lkword/pdf/LKWPDFMeta.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

TEST(PDFDates, PDFDateForms) {
  const auto at = [](int y, int mo, int d, int h, int mi, int s) { return EncodeDateTime(y, mo, d, h, mi, s, 0); };
  const auto utc = [&](int y, int mo, int d, int h, int mi, int s) { return UTCToLocal(at(y, mo, d, h, mi, s)); };
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030Z"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030+02'00'"), utc(2024, 3, 5, 8, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030-05'30"), utc(2024, 3, 5, 15, 50, 30), 1e-9);
  // Producers' variants of the zone, and no "D:".
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305102030Z00'00'"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20261206073256Z'"), utc(2026, 12, 6, 7, 32, 56), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"20240305102030+00'00"), utc(2024, 3, 5, 10, 20, 30), 1e-9);
  // Partial dates; no zone means the local time as written.
  EXPECT_NEAR(PDFDateToDateTime(u"D:2024"), at(2024, 1, 1, 0, 0, 0), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:20240305"), at(2024, 3, 5, 0, 0, 0), 1e-9);
  EXPECT_NEAR(PDFDateToDateTime(u"D:202403051020"), at(2024, 3, 5, 10, 20, 0), 1e-9);
  for (const char16_t* bad : {u"", u"D:", u"D:24", u"D:2024131", u"D:20241301", u"D:20240230", u"D:20240305256000",
                              u"yesterday", u"D:20240305102030+25'00'"})
    EXPECT_EQ(PDFDateToDateTime(bad), 0) << WideToUtf8(bad);
}

TEST(PDFDates, XMPDateForms) {
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20:30Z"), UTCToLocal(EncodeDateTime(2024, 3, 5, 10, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20:30.125+01:00"),
              UTCToLocal(EncodeDateTime(2024, 3, 5, 9, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05T10:20-01:00"), UTCToLocal(EncodeDateTime(2024, 3, 5, 11, 20, 0, 0)),
              1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024-03-05"), EncodeDate(2024, 3, 5), 1e-9);
  EXPECT_NEAR(XMPDateToDateTime("2024"), EncodeDate(2024, 1, 1), 1e-9);
  EXPECT_EQ(XMPDateToDateTime("2024-02-30"), 0);
  EXPECT_EQ(XMPDateToDateTime("March"), 0);
}

TEST(PDFMetadata, XMPElementsAndAttributes) {
  const std::string xmp =
      "<?xpacket begin='\xEF\xBB\xBF'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF>"
      "<rdf:Description rdf:about='' pdf:Producer='Writer &amp; Co' xmp:CreateDate='2024-03-05T10:20:30Z'>"
      "<dc:title><rdf:Alt><rdf:li xml:lang='de'>Titel</rdf:li>"
      "<rdf:li xml:lang='x-default'>The\n   Title &#x2014; &#233;t&#xE9;</rdf:li></rdf:Alt></dc:title>"
      "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>"
      "<dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two</rdf:li></rdf:Bag></dc:subject>"
      "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>About it</rdf:li></rdf:Alt></dc:description>"
      "<pdf:Keywords><!-- none --></pdf:Keywords><xmp:ModifyDate><rdf:Seq/></xmp:ModifyDate>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>";
  TPDFXMPInfo info;
  ParseXMPMetadata(xmp, info);
  EXPECT_EQ(WideToUtf8(info.Title), "The Title \u2014 \u00e9t\u00e9");
  EXPECT_EQ(WideToUtf8(info.Author), "Ann; Bob");
  EXPECT_EQ(WideToUtf8(info.Keywords), "one, two");
  EXPECT_EQ(WideToUtf8(info.Subject), "About it");
  EXPECT_EQ(WideToUtf8(info.Producer), "Writer & Co");
  EXPECT_NEAR(info.Created, UTCToLocal(EncodeDateTime(2024, 3, 5, 10, 20, 30, 0)), 1e-9);
  EXPECT_EQ(info.Modified, 0);

  // A UTF-16 packet, and elements that never close.
  std::string utf16 = "\xFE\xFF";
  for (const char c : std::string("<pdf:Producer>P16</pdf:Producer><dc:title><rdf:Alt><rdf:li>")) {
    utf16 += '\0';
    utf16 += c;
  }
  TPDFXMPInfo wide;
  ParseXMPMetadata(utf16, wide);
  EXPECT_EQ(WideToUtf8(wide.Producer), "P16");
  EXPECT_TRUE(wide.Title.empty());
}

TEST(PDFMetadata, InformationDictionaryWithXMPForMissingFields) {
  const std::string xmp = "<x:xmpmeta><rdf:RDF><rdf:Description><pdf:Producer>From XMP</pdf:Producer>"
                          "<dc:title><rdf:Alt><rdf:li>XMP title</rdf:li></rdf:Alt></dc:title>"
                          "<xmp:CreateDate>2020-01-02T03:04:05Z</xmp:CreateDate></rdf:Description></rdf:RDF></x:xmpmeta>";
  const std::string pdf =
      Builder()
          .Objects({{1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"},
                    {2, "<< /Type /Pages /Kids [] /Count 0 >>"},
                    // UTF-16BE through octal escapes; a referenced string; a key in another case.
                    {3, "<< /Title (\\376\\377\\000H\\004\\020) /Author 4 0 R /keywords (a, b) "
                        "/CreationDate (D:20240305102030+01'00') /ModDate (D:2025) /Producer 6 0 R >>"},
                    {4, "<FEFF00C90076>"},
                    {5, Stream(xmp, "/Type /Metadata /Subtype /XML")},
                    {6, "42"}})
          .Table("/Root 1 0 R /Info 3 0 R")
          .Bytes();
  TLKPDFReader r;
  Load(r, pdf);
  const TLKWordSummaryInformation& s = r.SummaryInformation();
  EXPECT_EQ(WideToUtf8(s.Title()), "H\u0410");
  EXPECT_EQ(WideToUtf8(s.Author()), "\u00c9v");
  EXPECT_EQ(WideToUtf8(s.Keywords()), "a, b");
  EXPECT_EQ(WideToUtf8(s.AppName()), "From XMP");  // the dictionary's value is no string
  EXPECT_NEAR(s.Created(), UTCToLocal(EncodeDateTime(2024, 3, 5, 9, 20, 30, 0)), 1e-9);
  EXPECT_NEAR(s.LastSaved(), EncodeDate(2025, 1, 1), 1e-9);
  EXPECT_TRUE(s.Subject().empty());

  TLKPDFReader textOnly;
  textOnly.SetParseItems(TLKWParseItems{wpiText});
  Load(textOnly, pdf);
  EXPECT_TRUE(textOnly.SummaryInformation().Title().empty());
  EXPECT_EQ(textOnly.SummaryInformation().Created(), 0);
}

TEST(PDFMetadata, EncryptedInformationStrings) {
  // Each file's Info says Title (Hello) and Producer (make.sh), encrypted
  // with the dictionary's object number (the cleartext-metadata file too).
  for (const auto& [name, password] :
       std::vector<std::pair<std::string, std::string>>{{"rc4-40-empty.pdf", ""},
                                                        {"rc4-128-user.pdf", "user"},
                                                        {"aes128-user-cleartextmeta.pdf", "\xC3\xA4rger"},
                                                        {"aes256-user.pdf", "owner"},
                                                        {"aes256-r5-user.pdf", "user"},
                                                        {"objstm-aes256.pdf", ""}}) {
    SCOPED_TRACE(name);
    TLKPDFReader r;
    LoadFile(r, name, password);
    EXPECT_EQ(WideToUtf8(r.SummaryInformation().Title()), "Hello");
    EXPECT_EQ(WideToUtf8(r.SummaryInformation().AppName()), "make.sh");
    EXPECT_EQ(r.PageCount(), 1);
  }
}

}  // namespace
}  // namespace lkw
