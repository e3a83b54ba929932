#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Ascii.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using pdftest::Builder;
using pdftest::Deflate;
using pdftest::Load;
using pdftest::OnePage;
using pdftest::Stream;

bool HasWarning(const TLKPDFReader& R, std::string_view Part) {
  for (const auto& w : R.Warnings())
    if (w.Message.find(Part) != std::string::npos) return true;
  return false;
}

std::string PageText(TLKPDFReader& R, int Index = 0) {
  const TLKPDFPage* p = R.Pages().GetPage(Index);
  return p ? R.GetPageContents(p->ObjNumber()) : "<no page>";
}

// Adds Delta to every in-use offset of the (single) classic table.
std::string ShiftTableOffsets(std::string Pdf, int Delta) {
  size_t p = Pdf.rfind("\nxref\n");
  while ((p = Pdf.find(" 00000 n", p + 1)) != std::string::npos) {
    const size_t start = p - 10;
    const long v = std::stol(Pdf.substr(start, 10)) + Delta;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%010ld", v);
    Pdf.replace(start, 10, buf);
  }
  return Pdf;
}

TEST(PDFStructure, ClassicTableFindsEveryObject) {
  TLKPDFReader r;
  Load(r, Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes());
  EXPECT_EQ(r.Version(), "1.7");
  EXPECT_EQ(r.RootTag, "1");
  EXPECT_FALSE(r.Repaired());
  // The page shows text without a font: no text layer, but nothing structural.
  for (const auto& w : r.Warnings()) EXPECT_NE(w.Message.find("no text layer"), std::string::npos) << w.Message;
  ASSERT_EQ(r.Pages().Count(), 1);
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");
  const RawByteString body = r.GetBodyByRefNo(2);
  EXPECT_EQ(body, "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj");
  // A stream object ends with its own endobj, not at the next object.
  const RawByteString content = r.GetBodyByRefNo(4);
  EXPECT_EQ(content.substr(content.size() - 16), "endstream\nendobj");
  EXPECT_TRUE(r.GetBodyByRefNo(9).empty());
  EXPECT_TRUE(r.GetBodyByRefNo(0).empty());
  RawByteString viaStream;
  TBytesStream dummy;
  r.GetBodyByRefNo(nullptr, 2, viaStream);
  EXPECT_TRUE(viaStream.empty());
  r.GetBodyByRefNo(&dummy, 2, viaStream);
  EXPECT_EQ(viaStream, body);
}

TEST(PDFStructure, SubsectionsArePlacedByTheirStartNumbers) {
  auto objs = OnePage();
  objs[7] = "(seven)";
  objs[8] = "(eight)";
  TLKPDFReader r;
  Load(r, Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
  EXPECT_NE(r.GetBodyByRefNo(7).find("(seven)"), std::string::npos);
  EXPECT_NE(r.GetBodyByRefNo(8).find("(eight)"), std::string::npos);
  EXPECT_TRUE(r.GetBodyByRefNo(5).empty());
  EXPECT_FALSE(r.Repaired());

  // A table numbered from 1 that starts with the free-list head.
  std::string pdf = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  const size_t x = pdf.rfind("xref\n0 5\n");
  ASSERT_NE(x, std::string::npos);
  pdf.replace(x, 9, "xref\n1 5\n");
  TLKPDFReader r2;
  Load(r2, pdf);
  EXPECT_FALSE(r2.Repaired());
  EXPECT_EQ(PageText(r2), "BT (Hi) Tj ET");
}

TEST(PDFStructure, IncrementalUpdatesNewestWins) {
  auto objs = OnePage();
  objs[5] = "<< /Title (Old) >>";
  Builder b;
  b.Objects(objs).Table("/Root 1 0 R /Info 5 0 R");
  b.Update().Objects({{5, "<< /Title (New) >>"}, {4, Stream("BT (Updated) Tj ET")}}).Table("/Root 1 0 R /Info 5 0 R");
  TLKPDFReader r;
  Load(r, b.Bytes());
  TPDFObject info;
  ASSERT_TRUE(r.GetObject(5, info));
  EXPECT_EQ(info.Get("Title")->Str, "New");
  EXPECT_EQ(PageText(r), "BT (Updated) Tj ET");
  EXPECT_EQ(r.InfoTag, "5");
  EXPECT_FALSE(r.Repaired());
}

TEST(PDFStructure, PrevLoopsEnd) {
  Builder b;
  b.Objects(OnePage()).Table("/Root 1 0 R");
  std::string pdf = b.Bytes();
  // The trailer's /Prev points back at its own table.
  const size_t t = pdf.rfind("/Root 1 0 R");
  pdf.insert(t, "/Prev " + std::to_string(b.LastXRef()) + " ");
  const size_t sx = pdf.rfind("startxref\n");
  pdf.replace(sx, std::string::npos, "startxref\n" + std::to_string(b.LastXRef()) + "\n%%EOF\n");
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_EQ(r.Pages().Count(), 1);
}

TEST(PDFStructure, CrossReferenceStreamsAndObjectStreams) {
  auto objs = OnePage();
  Builder b;
  b.Objects({{4, objs[4]}});
  b.ObjStm(10, {{1, objs[1]}, {2, objs[2]}, {3, objs[3]}});
  b.XRefStream(11, "/Root 1 0 R", {{1, {10, 0}}, {2, {10, 1}}, {3, {10, 2}}});
  TLKPDFReader r;
  Load(r, b.Bytes());
  EXPECT_FALSE(r.Repaired());
  ASSERT_EQ(r.Pages().Count(), 1);
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");
  EXPECT_TRUE(r.IsCompressedObject(2));
  EXPECT_FALSE(r.IsCompressedObject(4));
  // An object from an object stream is framed like any other.
  EXPECT_EQ(r.GetBodyByRefNo(2), "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj");
  EXPECT_EQ(r.XRefs().GetOffsetForXRef(2), static_cast<int64_t>(b.OffsetOf(10)));
  EXPECT_EQ(r.Trailer().Get("Type")->Str, "XRef");

  // The same without compression of the stream itself.
  Builder plain;
  plain.Objects(OnePage()).XRefStream(5, "/Root 1 0 R", {}, false);
  TLKPDFReader r2;
  Load(r2, plain.Bytes());
  EXPECT_EQ(PageText(r2), "BT (Hi) Tj ET");
}

TEST(PDFStructure, HybridFilesUseTableAndStream) {
  auto objs = OnePage();
  Builder b;
  b.Objects({{4, objs[4]}});
  b.ObjStm(10, {{1, objs[1]}, {2, objs[2]}, {3, objs[3]}});
  b.XRefStream(11, "", {{1, {10, 0}}, {2, {10, 1}}, {3, {10, 2}}});
  const size_t stm = b.LastXRef();
  // A table that lists the compressed objects as free, as hybrids do.
  std::string pdf = b.Bytes();
  const size_t xref = pdf.size();
  char line[64];
  pdf += "xref\n0 5\n0000000000 65535 f \n0000000000 00000 f \n0000000000 00000 f \n0000000000 00000 f \n";
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", b.OffsetOf(4));
  pdf += line;
  pdf += "trailer\n<< /Size 12 /Root 1 0 R /XRefStm " + std::to_string(stm) + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_FALSE(r.Repaired());
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");
  EXPECT_TRUE(r.IsCompressedObject(1));
}

TEST(PDFStructure, BrokenStartXRefIsRepairedByScanning) {
  std::string pdf = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  const size_t sx = pdf.rfind("startxref\n") + 10;
  pdf.replace(sx, pdf.find('\n', sx) - sx, "99999");
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_TRUE(r.Repaired());
  EXPECT_TRUE(HasWarning(r, "rebuilt"));
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");

  // No startxref at all, and a file cut before its table.
  const std::string full = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  for (const std::string& cut : {full.substr(0, full.rfind("startxref")), full.substr(0, full.rfind("xref\n"))}) {
    TLKPDFReader r2;
    Load(r2, cut);
    EXPECT_TRUE(r2.Repaired());
    EXPECT_EQ(PageText(r2), "BT (Hi) Tj ET");
  }
}

TEST(PDFStructure, ShiftedOffsetsAreFoundByScanning) {
  const std::string pdf = ShiftTableOffsets(Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes(), 3);
  TLKPDFReader r;
  Load(r, pdf);
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");
  EXPECT_TRUE(HasWarning(r, "away from"));
}

TEST(PDFStructure, HeaderAndEndOfFile) {
  // Junk before the header: offsets count from the header.
  TLKPDFReader r;
  Load(r, "garbage bytes\n" + Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes());
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");
  // A file that ends right after its startxref offset is read normally.
  std::string noEof = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  noEof.resize(noEof.rfind("%%EOF"));
  while (noEof.back() == '\n') noEof.pop_back();
  TLKPDFReader r2;
  Load(r2, noEof);
  EXPECT_FALSE(r2.Repaired());
  EXPECT_EQ(r2.Pages().Count(), 1);

  TLKPDFReader bad;
  try {
    Load(bad, "Hello, this is not a PDF");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SPDFNotValid);
  }
  EXPECT_EQ(bad.Text().Count(), 0);
}

TEST(PDFStructure, CrossReferenceStreamErrors) {
  // No object besides a broken cross-reference stream: nothing to repair
  // from, so its error is reported.
  auto xrefWith = [](const std::string& W, const std::string& Data) {
    std::string pdf = "%PDF-1.5\n";
    const size_t off = pdf.size();
    pdf += "1 0 obj\n<< /Type /XRef /W " + W + " /Size 3 /Root 9 0 R /Length " + std::to_string(Data.size()) +
           " >>\nstream\n" + Data + "\nendstream\nendobj\nstartxref\n" + std::to_string(off) + "\n%%EOF\n";
    return pdf;
  };
  TLKPDFReader r;
  EXPECT_THROW(
      {
        try {
          Load(r, xrefWith("[9 2 1]", std::string(12, '\1')));
        } catch (const EPDFError& e) {
          EXPECT_STREQ(e.what(), SPDFXRefWNotValid);
          throw;
        }
      },
      EPDFError);
  EXPECT_THROW(
      {
        try {
          Load(r, xrefWith("[1 2 1]", std::string(10, '\1')));
        } catch (const EPDFError& e) {
          EXPECT_STREQ(e.what(), SPDFXRefLengthNotValid);
          throw;
        }
      },
      EPDFError);
  // /W [2 4 2] is a valid layout (two-byte types).
  std::string rows;
  rows += std::string("\0\0\0\0\0\0\xff\xff", 8);
  EXPECT_NO_THROW(Load(r, xrefWith("[2 4 2]", rows)));
}

TEST(PDFStructure, HostileCountsAndLengths) {
  // An object stream that claims a million objects but holds two.
  auto objs = OnePage();
  std::string hdr = "1 0 2 40 ";
  std::string data = hdr + objs[1] + "\n";
  data.resize(hdr.size() + 40, ' ');
  data += objs[2];
  Builder b;
  b.Objects({{3, objs[3]}, {4, objs[4]}});
  b.Objects({{10, Stream(data, "/Type /ObjStm /N 1000000 /First " + std::to_string(hdr.size()))}});
  b.XRefStream(11, "/Root 1 0 R", {{1, {10, 0}}, {2, {10, 1}}});
  TLKPDFReader r;
  Load(r, b.Bytes());
  EXPECT_EQ(PageText(r), "BT (Hi) Tj ET");

  // /Length too long and too short: the stream ends at "endstream".
  for (const char* len : {"99999", "2", "-5", "7 0 R"}) {
    auto o = OnePage();
    o[4] = std::string("<< /Length ") + len + " >>\nstream\nBT (Hi) Tj ET\nendstream";
    o[7] = "(not a number)";
    TLKPDFReader r2;
    Load(r2, Builder().Objects(o).Table("/Root 1 0 R").Bytes());
    EXPECT_EQ(PageText(r2), "BT (Hi) Tj ET") << len;
  }

  // Object numbers far beyond the file are ignored rather than allocated.
  std::string pdf = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  const size_t x = pdf.rfind("xref\n0 5\n");
  pdf.insert(x + 5, "2000000000 1\n0000000010 00000 n \n");
  TLKPDFReader r3;
  Load(r3, pdf);
  EXPECT_LT(r3.XRefs().Count(), 100000);
  EXPECT_EQ(PageText(r3), "BT (Hi) Tj ET");
}

TEST(PDFStructure, PageTreeCyclesAndDepth) {
  auto objs = OnePage();
  objs[2] = "<< /Type /Pages /Kids [3 0 R 2 0 R 5 0 R] /Count 3 >>";
  objs[5] = "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>";
  TLKPDFReader r;
  Load(r, Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
  EXPECT_EQ(r.Pages().Count(), 1);

  // A chain of references that refers back to itself resolves to nothing.
  auto loop = OnePage();
  loop[6] = "7 0 R";
  loop[7] = "6 0 R";
  TLKPDFReader r2;
  Load(r2, Builder().Objects(loop).Table("/Root 1 0 R").Bytes());
  TPDFObject ref = TPDFObject::MakeRef(6, 0);
  EXPECT_TRUE(r2.Resolve(ref).IsNone());

  // A page tree lost with the end of the file: the pages are found anyway.
  std::string pdf = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  pdf.resize(pdf.find("2 0 obj"));
  pdf += "3 0 obj\n<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>\nendobj\n4 0 obj\n" + Stream("BT (Hi) Tj ET") +
         "\nendobj\n";
  TLKPDFReader r3;
  Load(r3, pdf);
  EXPECT_TRUE(r3.Repaired());
  EXPECT_EQ(PageText(r3), "BT (Hi) Tj ET");
}

TEST(PDFStreams, GetStreamContentHonoursLengthAndLineEnds) {
  TLKPDFReader r;
  const std::string pdf = Builder().Objects(OnePage()).Table("/Root 1 0 R").Bytes();
  Load(r, pdf);
  int64_t decoded = 0;
  const std::string body = "5 0 obj\n<< /Length 4 >>\nstream\r\nabcd\r\nendstream\nendobj";
  EXPECT_EQ(r.GetStreamContent("", body, 4, decoded, 0), "abcd");
  EXPECT_EQ(decoded, 4);
  EXPECT_EQ(r.GetStreamContent("", body, 6, decoded, 0), "abcd\r\n");
  // Without a usable length the end-of-line before endstream is dropped.
  EXPECT_EQ(r.GetStreamContent("", body, 0, decoded, 0), "abcd");
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    const std::string t = std::string("<< /Length 3 >>\nstream") + eol + "xyz\nendstream";
    EXPECT_EQ(r.GetStreamContent("", t, 3, decoded, 0), "xyz");
  }
  EXPECT_EQ(r.GetStreamContent("", "<< /Length 3 >> no data here", 3, decoded, 0), "");
  // A filter chain is applied left to right, each with its parameters.
  const std::string chain = "<< /Filter [/AHx /Fl] /DecodeParms [null << /Predictor 12 /Columns 2 >>] >>\nstream\n";
  std::string hex;
  for (unsigned char c : Deflate(std::string("\2\1\2\2\1\1", 6))) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  const std::string chained = chain + hex + ">\nendstream";
  RawByteString filter;
  int64_t length, length1;
  r.GetFilterContent(nullptr, chained, filter, length, length1);
  EXPECT_EQ(filter, "/ahx /fl");
  EXPECT_EQ(r.GetStreamContent(filter, chained, 0, decoded, 0), std::string("\1\2\2\3", 4));
  EXPECT_EQ(r.DecodeContentByFilter("/asciihexdecode", "41 42>", 6, decoded, 0, 0), "AB");
}

TEST(PDFStreams, LengthsAndDictionariesByReference) {
  auto objs = OnePage();
  objs[6] = "<< /Length1 5 /Length 7 0 R /Filter /FlateDecode >>\nstream\nxx\nendstream";
  objs[7] = "42";
  objs[8] = "<< /F1 9 0 R /F2 10 0 R >>";
  TLKPDFReader r;
  Load(r, Builder().Objects(objs).Table("/Root 1 0 R").Bytes());
  const RawByteString body = r.GetBodyByRefNo(6);
  RawByteString filter;
  int64_t length = 0, length1 = 0;
  r.GetFilterContent(nullptr, body, filter, length, length1);
  EXPECT_EQ(filter, "/flatedecode");
  EXPECT_EQ(length, 42);
  EXPECT_EQ(length1, 5);
  EXPECT_EQ(r.GetIntTagValue("/length", LowerAscii(body)), 42);
  EXPECT_EQ(r.GetIntTagValue("/length1", LowerAscii(body)), 5);
  EXPECT_EQ(r.GetIntTagValue("/missing", LowerAscii(body)), 0);
  EXPECT_EQ(r.GetDoubleBracketValue(nullptr, "/font", "/font<</f1 5 0 r>>"), "/f1 5 0 r");
  // The text after the dictionary is unwrapped and kept as well.
  EXPECT_EQ(r.GetDoubleBracketValue(nullptr, "/font", "/font<</f1 5 0 r>>/xobject 3 0 r"), "/f1 5 0 r /xobject 3 0 r");
  EXPECT_EQ(r.GetDoubleBracketValue(nullptr, "/font", "/font 8 0 r"), "/F1 9 0 R /F2 10 0 R");
  EXPECT_EQ(r.GetDoubleBracketValue(nullptr, "/none", "/font 8 0 r"), "");
}

// A file is mapped, a stream read: both loads see the same bytes, so every
// test file reads the same both ways, passwords and damage included.
TEST(PDFStructure, FilesReadAsTheirBytesFromAStream) {
  for (const auto& entry : std::filesystem::directory_iterator(std::string(LKWORD_TESTDATA) + "/pdf")) {
    if (entry.path().extension() != ".pdf") continue;
    SCOPED_TRACE(entry.path().string());
    auto run = [&](bool fromFile) {
      TLKPDFReader r;
      r.SetPassword("user");
      std::string out;
      try {
        if (fromFile) {
          r.LoadFromFile(entry.path().string());
        } else {
          TBytesStream s(ReadFileBytes(entry.path().string()));
          r.LoadFromStream(s);
        }
      } catch (const Exception& e) {
        out = "error: " + e.Message();
      }
      return out + r.Text().ToUtf8() + std::to_string(r.Warnings().size());
    };
    const std::string read = run(false);
    EXPECT_EQ(run(true), read);
    EXPECT_GT(read.size(), 1u);
  }
}

}  // namespace
}  // namespace lkw
