#include "lkword/pdf/LKWPDFText.h"

#include <gtest/gtest.h>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Ascii.h"

namespace lkw {
namespace {

TEST(PDFText, GetPDFTagValue) {
  EXPECT_EQ(GetPDFTagValue("/root", "<< /Size 20 /Root 12 0 R /Info 3 0 R >>"), "12");
  // The value keeps its case; a name right after the key is found.
  EXPECT_EQ(GetPDFTagValue("/filter", "<</Length 9/Filter/FlateDecode>>"), "/FlateDecode");
  EXPECT_EQ(GetPDFTagValue("/filter", LowerAscii("<</Length 9/Filter/FlateDecode>>")), "/flatedecode");
  // A transparency group's /Type is passed over.
  EXPECT_EQ(GetPDFTagValue("/type", "<< /Group << /Type /Group /S /Transparency >> /Type /Page >>"), "/Page");
  EXPECT_EQ(GetPDFTagValue("/title", "<< /Title (A (b) c) >>"), "(A (b)");
  EXPECT_EQ(GetPDFTagValue("/missing", "<< /A 1 >>"), "");
  EXPECT_EQ(GetPDFTagValue("", "whole"), "whole");
  // Leading zeros are part of the fill that is skipped.
  EXPECT_EQ(GetPDFTagValue("/count", "<< /Count 010 >>"), "10");
}

TEST(PDFText, CutPDFTokenAndStripLeadingFill) {
  const std::pair<std::string_view, std::string_view> kTokens[] = {
      {"/Name /Next", "/Name"}, {"<</A 1>>", "<<"}, {"12 0 R", "12"}, {"(a b)c d", "(a b)c"},
      {"abc>>def", "abc"},      {"x]", "x"},        {"", ""}};
  for (const auto& [in, token] : kTokens) EXPECT_EQ(CutPDFToken(in), token) << in;
  const std::pair<std::string_view, std::string_view> kFills[] = {
      {"0000012345 ", "12345"}, {"[0 0 612 792]", "612 792"}, {"abc", "abc"}, {"000", ""}};
  for (const auto& [in, rest] : kFills) EXPECT_EQ(StripLeadingFill(in), rest) << in;
}

TEST(PDFText, GetPDFArrayValue) {
  EXPECT_EQ(GetPDFArrayValue("/kids", "/kids [3 0 r 4 0 r] /count 2"), "3 0 r 4 0 r");
  EXPECT_EQ(GetPDFArrayValue("/filter", "/filter [/ascii85decode /flatedecode]>>"), "/ascii85decode /flatedecode");
  // No array before the next name: the text up to it.
  EXPECT_EQ(GetPDFArrayValue("/contents", "/contents 5 0 r/parent 2 0 r [1]"), " 5 0 r");
  EXPECT_EQ(GetPDFArrayValue("/length", "/length 10>>stream"), " 10");
  EXPECT_EQ(GetPDFArrayValue("/a", "/a [1 2"), "1 2");
  EXPECT_EQ(GetPDFArrayValue("/absent", "/a 1"), "");
}

TEST(PDFText, ExtractRefNumber) {
  RawByteString s = "12 0 R 13 1 R 14 0 R", ref;
  ASSERT_TRUE(ExtractRefNumber(s, ref));
  EXPECT_EQ(ref, "12");
  ASSERT_TRUE(ExtractRefNumber(s, ref));
  EXPECT_EQ(ref, "13");  // the earliest reference, whatever its generation
  ASSERT_TRUE(ExtractRefNumber(s, ref));
  EXPECT_EQ(ref, "14");
  EXPECT_FALSE(ExtractRefNumber(s, ref));
  EXPECT_EQ(ref, "");
  RawByteString named = "/F1 5 0 R";
  EXPECT_FALSE(ExtractRefNumber(named, ref));
  EXPECT_EQ(named, "/F1 5 0 R");
  RawByteString gen3 = "7 3 R";
  EXPECT_FALSE(ExtractRefNumber(gen3, ref));
}

TEST(PDFText, TrimAndNumberTokens) {
  RawByteString s = " \r\n x \t";
  TrimPDFWhitespace(s, true);
  EXPECT_EQ(s, "x \t");
  TrimPDFWhitespace(s, false);
  EXPECT_EQ(s, "x");
  RawByteString blanks = "   ";
  TrimPDFWhitespace(blanks, true);
  EXPECT_EQ(blanks, " ");  // the left trim keeps the last character

  RawByteString w = "1, 2 ,,1", tok;
  ASSERT_TRUE(NextNumberToken(w, tok));
  EXPECT_EQ(tok, "1");
  ASSERT_TRUE(NextNumberToken(w, tok));
  EXPECT_EQ(tok, "2");
  ASSERT_TRUE(NextNumberToken(w, tok));
  EXPECT_EQ(tok, "1");
  EXPECT_FALSE(NextNumberToken(w, tok));

  const std::string bytes("\x01\x02\x03", 3);
  EXPECT_EQ(ReadBigEndian(bytes, 1, 2), 0x0102u);
  EXPECT_EQ(ReadBigEndian(bytes, 2, 0), 0u);
  EXPECT_EQ(ReadBigEndian(bytes, 3, 2), 0x0300u);  // past the end reads as 0
}

TEST(PDFText, DecodeHexStrings) {
  RawByteString s = "[<48656C6C6F> 120 <576F726C64>] TJ";
  DecodeHexStrings(s, true);
  EXPECT_EQ(s, "[(Hello) 120 (World)] TJ");
  RawByteString esc = "<28295C> Tj";
  DecodeHexStrings(esc, true);
  EXPECT_EQ(esc, "(\\(\\)\\\\) Tj");
  // Odd digit count, white space, a pair that is not hex, dictionaries and
  // literal strings holding '<' are left as they are.
  RawByteString odd = "<4 1 4> <zz41> << /A (a<b) >> BDC";
  DecodeHexStrings(odd, false);
  EXPECT_EQ(odd, "(A@) (zzA) << /A (a<b) >> BDC");
}

TEST(PDFText, UnwrapDictionary) {
  RawByteString r;
  bool isRef = true;
  UnwrapDictionary("<</F1 5 0 R /F2 6 0 R>>\nendobj", r, isRef);
  EXPECT_EQ(r, "/F1 5 0 R /F2 6 0 R");
  EXPECT_FALSE(isRef);
  // Nested dictionaries are flattened; those with a /Type are dropped.
  isRef = true;
  UnwrapDictionary("<< /F1 5 0 R /X << /Type /Y /Z 1 >> /F2 6 0 R >>", r, isRef);
  EXPECT_EQ(r, "/F2 6 0 R");
  isRef = true;
  UnwrapDictionary(" 7 0 R /Next", r, isRef);
  EXPECT_TRUE(isRef);
  EXPECT_EQ(r, " 7 0 R /Next");
  // Many levels unwind without recursion.
  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<< /A 1 ";
  for (int i = 0; i < 20000; ++i) deep += ">> ";
  UnwrapDictionary(deep, r, isRef);
  EXPECT_FALSE(r.empty());
}

TEST(PDFText, GetRefBody) {
  const std::string tail = "xref\n0 1\ntrailer\n<< /Size 1 >>\nstartxref\n123\n%%EOF\n";
  EXPECT_EQ(TLKPDFReader::GetRefBody(tail, "startxref", true), "123");
  EXPECT_EQ(TLKPDFReader::GetRefBody(tail, "xref", false), "0 1");
  EXPECT_EQ(TLKPDFReader::GetRefBody(tail, "trailer", false), "<< /Size 1 >>");
  // Only a line-initial occurrence counts from the end.
  const std::string twice = "startxref\n55\n%%EOF\n% a comment naming startxref 99\n";
  EXPECT_EQ(TLKPDFReader::GetRefBody(twice, "startxref", true), "55");
  // "endobj" stays in the value.
  EXPECT_EQ(TLKPDFReader::GetRefBody("1 0 obj\n<< /A 1 >>\nendobj\n2 0 obj", "obj", false), "<< /A 1 >>\nendobj");
  EXPECT_EQ(TLKPDFReader::GetRefBody("abc", "zzz", false), "");
}

TEST(PDFText, GetLastLineRemovesOnlyTheEndMarker) {
  RawByteString s = "startxref\n123\n%%EOF\n", line;
  TLKPDFReader::GetLastLine(s, 7, line, true);
  EXPECT_EQ(line, "%%EOF");
  EXPECT_EQ(s, "startxref\n123");
  RawByteString noEof = "startxref\n123\n";
  TLKPDFReader::GetLastLine(noEof, 7, line, true);
  EXPECT_EQ(line, "123");
  EXPECT_EQ(noEof, "startxref\n123\n");
  EXPECT_EQ(TLKPDFReader::GetItemType("<< /Type /XRef >>"), "/xref");
}

}  // namespace
}  // namespace lkw
