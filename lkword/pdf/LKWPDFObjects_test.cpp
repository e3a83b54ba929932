// The load sequence, cross-reference data, repair and stream extraction.
#include "lkword/pdf/LKWPDF.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "lkword/platform/Ascii.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

const std::string kHi = "BT (Hi) Tj ET";

std::string Plain() { return Document(OnePage()); }

// Loads Pdf into R: the first page's contents.
std::string Read(TLKPDFReader& R, const std::string& Pdf) {
  Load(R, Pdf);
  return PageContents(R);
}
std::string ContentsOf(const std::string& Pdf) {
  TLKPDFReader r;
  return Read(r, Pdf);
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
  Load(r, Plain());
  EXPECT_EQ(r.Version(), "1.7");
  EXPECT_EQ(r.RootTag, "1");
  EXPECT_FALSE(r.Repaired());
  // The page shows text without a font: that is said, but nothing structural.
  for (const auto& w : r.Warnings())
    EXPECT_NE(w.Message.find("without a font"), std::string::npos) << w.Message;
  ASSERT_EQ(r.Pages().Count(), 1);
  EXPECT_EQ(PageContents(r), kHi);
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
  Load(r, Document(objs));
  EXPECT_NE(r.GetBodyByRefNo(7).find("(seven)"), std::string::npos);
  EXPECT_NE(r.GetBodyByRefNo(8).find("(eight)"), std::string::npos);
  EXPECT_TRUE(r.GetBodyByRefNo(5).empty());
  EXPECT_FALSE(r.Repaired());

  // A table numbered from 1 that starts with the free-list head.
  std::string pdf = Plain();
  const size_t x = pdf.rfind("xref\n0 5\n");
  ASSERT_NE(x, std::string::npos);
  pdf.replace(x, 9, "xref\n1 5\n");
  TLKPDFReader r2;
  EXPECT_EQ(Read(r2, pdf), kHi);
  EXPECT_FALSE(r2.Repaired());
}

TEST(PDFStructure, IncrementalUpdatesNewestWins) {
  auto objs = OnePage();
  objs[5] = "<< /Title (Old) >>";
  Builder b;
  b.Objects(objs).Table("/Root 1 0 R /Info 5 0 R");
  b.Update().Objects({{5, "<< /Title (New) >>"}, {4, Stream("BT (Updated) Tj ET")}}).Table("/Root 1 0 R /Info 5 0 R");
  TLKPDFReader r;
  EXPECT_EQ(Read(r, b.Bytes()), "BT (Updated) Tj ET");
  TPDFObject info;
  ASSERT_TRUE(r.GetObject(5, info));
  EXPECT_EQ(info.Get("Title")->Str, "New");
  EXPECT_EQ(r.InfoTag, "5");
  EXPECT_FALSE(r.Repaired());

  // A /Prev that points back at its own table ends the walk.
  std::string pdf = Plain();
  const size_t xref = pdf.rfind("\nxref\n") + 1;
  pdf.insert(pdf.rfind("/Root 1 0 R"), "/Prev " + std::to_string(xref) + " ");
  pdf.replace(pdf.rfind("startxref\n"), std::string::npos, "startxref\n" + std::to_string(xref) + "\n%%EOF\n");
  EXPECT_EQ(ContentsOf(pdf), kHi);
}

TEST(PDFStructure, CrossReferenceStreamsAndObjectStreams) {
  auto objs = OnePage();
  Builder b;
  b.Objects({{4, objs[4]}});
  b.ObjStm(10, {{1, objs[1]}, {2, objs[2]}, {3, objs[3]}});
  b.XRefStream(11, "/Root 1 0 R", {{1, {10, 0}}, {2, {10, 1}}, {3, {10, 2}}});
  TLKPDFReader r;
  EXPECT_EQ(Read(r, b.Bytes()), kHi);
  EXPECT_FALSE(r.Repaired());
  EXPECT_TRUE(r.IsCompressedObject(2));
  EXPECT_FALSE(r.IsCompressedObject(4));
  // An object from an object stream is framed like any other.
  EXPECT_EQ(r.GetBodyByRefNo(2), "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj");
  EXPECT_EQ(r.XRefs().GetOffsetForXRef(2), static_cast<int64_t>(b.OffsetOf(10)));
  EXPECT_EQ(r.Trailer().Get("Type")->Str, "XRef");
  // The same without compression of the stream itself.
  EXPECT_EQ(ContentsOf(Builder().Objects(OnePage()).XRefStream(5, "/Root 1 0 R", {}, false).Bytes()), kHi);
}

TEST(PDFStructure, HybridFilesUseTableAndStream) {
  auto objs = OnePage();
  Builder b;
  b.Objects({{4, objs[4]}});
  b.ObjStm(10, {{1, objs[1]}, {2, objs[2]}, {3, objs[3]}});
  b.XRefStream(11, "", {{1, {10, 0}}, {2, {10, 1}}, {3, {10, 2}}});
  // A table that lists the compressed objects as free, as hybrids do.
  std::string pdf = b.Bytes();
  const size_t xref = pdf.size();
  char line[64];
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", b.OffsetOf(4));
  pdf += "xref\n0 5\n0000000000 65535 f \n0000000000 00000 f \n0000000000 00000 f \n0000000000 00000 f \n" +
         std::string(line) + "trailer\n<< /Size 12 /Root 1 0 R /XRefStm " + std::to_string(b.LastXRef()) +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TLKPDFReader r;
  EXPECT_EQ(Read(r, pdf), kHi);
  EXPECT_FALSE(r.Repaired());
  EXPECT_TRUE(r.IsCompressedObject(1));
}

TEST(PDFStructure, DamagedTablesAreRebuiltByScanning) {
  std::string pdf = Plain();
  const size_t sx = pdf.rfind("startxref\n") + 10;
  pdf.replace(sx, pdf.find('\n', sx) - sx, "99999");
  TLKPDFReader r;
  EXPECT_EQ(Read(r, pdf), kHi);
  EXPECT_TRUE(r.Repaired());
  EXPECT_TRUE(HasWarning(r, "rebuilt"));

  // No startxref at all, and a file cut before its table.
  const std::string full = Plain();
  for (const std::string& cut : {full.substr(0, full.rfind("startxref")), full.substr(0, full.rfind("xref\n"))}) {
    TLKPDFReader r2;
    EXPECT_EQ(Read(r2, cut), kHi);
    EXPECT_TRUE(r2.Repaired());
    EXPECT_TRUE(r2.Partial());
  }

  // Offsets that are all a little off.
  TLKPDFReader shifted;
  EXPECT_EQ(Read(shifted, ShiftTableOffsets(Plain(), 3)), kHi);
  EXPECT_TRUE(HasWarning(shifted, "away from"));
}

TEST(PDFStructure, HeaderAndEndOfFile) {
  // Junk before the header: offsets count from the header.
  EXPECT_EQ(ContentsOf("garbage bytes\n" + Plain()), kHi);
  // A file that ends right after its startxref offset is read normally.
  std::string noEof = Plain();
  noEof.resize(noEof.rfind("%%EOF"));
  while (noEof.back() == '\n') noEof.pop_back();
  TLKPDFReader r;
  EXPECT_EQ(Read(r, noEof), kHi);
  EXPECT_FALSE(r.Repaired());
  EXPECT_FALSE(r.Partial());
  // Junk after the end is no loss; a revision cut short is, even when the
  // one before it reads.
  TLKPDFReader junk;
  EXPECT_EQ(Read(junk, Plain() + "\n-- sent from a mail client --\n"), kHi);
  EXPECT_FALSE(junk.Partial());
  Builder b;
  b.Objects(OnePage()).Table("/Root 1 0 R");
  const size_t firstEnd = b.Bytes().size();
  b.Update().Objects({{4, Stream("BT (Updated) Tj ET")}}).Table("/Root 1 0 R");
  TLKPDFReader cut;
  EXPECT_EQ(Read(cut, b.Bytes().substr(0, firstEnd + 12)), kHi);
  EXPECT_TRUE(cut.Partial());
  EXPECT_TRUE(HasWarning(cut, "ends early"));

  // A damaged or missing header: the objects still read, offsets counting
  // from the start of the file.
  const std::string body = Plain().substr(Plain().find('\n') + 1);
  EXPECT_EQ(ContentsOf("%PDF.1.4\n" + body), kHi);
  TLKPDFReader headless;
  EXPECT_EQ(Read(headless, "%\xE2\xE3\xCF\xD3\n" + body), kHi);
  EXPECT_TRUE(HasWarning(headless, "no valid PDF header"));

  TLKPDFReader bad;
  EXPECT_THROW(Load(bad, "Hello, this is not a PDF"), EPDFError);
  EXPECT_EQ(LoadError("Hello 1 0 obj, this is not a PDF, endobj"), SPDFNotValid);
  EXPECT_EQ(bad.Text().Count(), 0);
  EXPECT_EQ(LoadError("Hello, this is not a PDF"), SPDFNotValid);
}

TEST(PDFStructure, CrossReferenceStreamErrors) {
  // No object besides a broken cross-reference stream: nothing to repair
  // from, so its error is reported.
  auto xrefWith = [](const std::string& W, const std::string& Data) {
    return "%PDF-1.5\n1 0 obj\n<< /Type /XRef /W " + W + " /Size 3 /Root 9 0 R /Length " +
           std::to_string(Data.size()) + " >>\nstream\n" + Data + "\nendstream\nendobj\nstartxref\n9\n%%EOF\n";
  };
  EXPECT_EQ(LoadError(xrefWith("[9 2 1]", std::string(12, '\1'))), SPDFXRefWNotValid);
  EXPECT_EQ(LoadError(xrefWith("[1 2 1]", std::string(10, '\1'))), SPDFXRefLengthNotValid);
  // /W [2 4 2] is a valid layout (two-byte types).
  EXPECT_EQ(LoadError(xrefWith("[2 4 2]", std::string("\0\0\0\0\0\0\xff\xff", 8))), "");
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
  EXPECT_EQ(ContentsOf(b.Bytes()), kHi);

  // /Length too long and too short: the stream ends at "endstream".
  for (const char* len : {"99999", "2", "-5", "7 0 R"}) {
    auto o = OnePage();
    o[4] = std::string("<< /Length ") + len + " >>\nstream\nBT (Hi) Tj ET\nendstream";
    o[7] = "(not a number)";
    EXPECT_EQ(ContentsOf(Document(o)), kHi) << len;
  }

  // Object numbers far beyond the file are kept aside rather than allocated.
  std::string pdf = Plain();
  pdf.insert(pdf.rfind("xref\n0 5\n") + 5, "2000000000 1\n0000000010 00000 n \n");
  TLKPDFReader r;
  EXPECT_EQ(Read(r, pdf), kHi);
  EXPECT_LT(r.XRefs().Count(), 100000);
}

TEST(PDFStructure, NumbersFarAboveTheFileSizeResolve) {
  // A page cut from a large document keeps its numbering: a small file whose
  // tree sits in an object stream at numbers in the millions.
  const int n = 3000000;
  const auto ref = [](int Num) { return std::to_string(Num) + " 0 R"; };
  Builder b;
  b.Objects({{n + 4, Stream(kHi)}});
  b.ObjStm(n + 5, {{n + 1, "<< /Type /Catalog /Pages " + ref(n + 2) + " >>"},
                   {n + 2, "<< /Type /Pages /Kids [" + ref(n + 3) + "] /Count 1 >>"},
                   {n + 3, "<< /Type /Page /Parent " + ref(n + 2) + " /Contents " + ref(n + 4) + " >>"}});
  b.XRefStream(n + 6, "/Root " + ref(n + 1), {{n + 1, {n + 5, 0}}, {n + 2, {n + 5, 1}}, {n + 3, {n + 5, 2}}});
  TLKPDFReader r;
  EXPECT_EQ(Read(r, b.Bytes()), kHi);
  EXPECT_FALSE(r.Repaired());
  EXPECT_LT(r.XRefs().Count(), 100000);
}

TEST(PDFStructure, PageTreeCyclesAndDepth) {
  auto objs = OnePage();
  objs[2] = "<< /Type /Pages /Kids [3 0 R 2 0 R 5 0 R] /Count 3 >>";
  objs[5] = "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>";
  TLKPDFReader r;
  Load(r, Document(objs));
  EXPECT_EQ(r.Pages().Count(), 1);
  // A tree damaged into a loop holds no page: the page objects in the file
  // are read instead, and when there are none that is said.
  objs[2] = "<< /Type /Pages /Kids [5 0 R] /Count 1 >>";
  objs[5] = "<< /Type /Pages /Kids [5 0 R] /Count 1 >>";
  TLKPDFReader looped;
  EXPECT_EQ(Read(looped, Document(objs)), kHi);
  objs.erase(3);
  TLKPDFReader empty;
  Load(empty, Document(objs));
  EXPECT_EQ(empty.Pages().Count(), 0);
  ASSERT_FALSE(empty.Warnings().empty());
  EXPECT_EQ(empty.Warnings().back().Message, "the page tree holds no page");

  // A chain of references that refers back to itself resolves to nothing.
  auto loop = OnePage();
  loop[6] = "7 0 R";
  loop[7] = "6 0 R";
  TLKPDFReader r2;
  Load(r2, Document(loop));
  EXPECT_TRUE(r2.Resolve(TPDFObject::MakeRef(6, 0)).IsNone());

  // A page tree lost with the end of the file: the pages are found anyway.
  std::string pdf = Plain();
  pdf.resize(pdf.find("2 0 obj"));
  pdf += "3 0 obj\n<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>\nendobj\n4 0 obj\n" + Stream(kHi) + "\nendobj\n";
  TLKPDFReader r3;
  EXPECT_EQ(Read(r3, pdf), kHi);
  EXPECT_TRUE(r3.Repaired());

  // An intact file whose catalog names a tree it does not hold: the pages
  // are found the same way, and when there are none that is said.
  auto lost = OnePage();
  lost[1] = "<< /Type /Catalog /Pages 9 0 R >>";
  TLKPDFReader r4;
  EXPECT_EQ(Read(r4, Document(lost)), kHi);
  EXPECT_FALSE(r4.Repaired());
  // ... also when the pages sit in object streams.
  Builder packed;
  packed.Objects({{4, Stream(kHi)}, {5, Stream("BT (Two) Tj ET")}});
  packed.ObjStm(10, {{1, "<< /Type /Catalog /Pages 9 0 R >>"},
                     {3, "<< /Type /Page /Parent 9 0 R /Contents 4 0 R >>"},
                     {6, "<< /Type /Page /Parent 9 0 R /Contents 5 0 R >>"}});
  packed.XRefStream(11, "/Root 1 0 R", {{1, {10, 0}}, {3, {10, 1}}, {6, {10, 2}}});
  TLKPDFReader r6;
  EXPECT_EQ(Read(r6, packed.Bytes()), kHi);
  EXPECT_EQ(r6.Pages().Count(), 2);
  lost.erase(3);
  TLKPDFReader r5;
  Load(r5, Document(lost));
  EXPECT_EQ(r5.Pages().Count(), 0);
  bool said = false;
  for (const auto& w : r5.Warnings()) said = said || w.Message.find("no page was found") != std::string::npos;
  EXPECT_TRUE(said);
}

TEST(PDFStreams, GetStreamContentHonoursLengthAndLineEnds) {
  TLKPDFReader r;
  Load(r, Plain());
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
  const std::string chained = "<< /Filter [/AHx /Fl] /DecodeParms [null << /Predictor 12 /Columns 2 >>] >>\nstream\n" +
                              Hex(Deflate(std::string("\2\1\2\2\1\1", 6))) + ">\nendstream";
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
  Load(r, Document(objs));
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
