#include "lkword/pdf/LKWPDFSyntax.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

std::vector<TPDFToken> Tokens(std::string_view Text) {
  std::vector<TPDFToken> out;
  TPDFLexer lx(Text);
  TPDFToken t;
  while (lx.Next(t)) out.push_back(t);
  return out;
}

TPDFObject Parse(std::string_view Text) {
  TPDFLexer lx(Text);
  TPDFObject o;
  ParsePDFObject(lx, o);
  return o;
}

TEST(PDFLexer, LiteralStringsHonourEscapesNestingAndLineEnds) {
  const auto t = Tokens("(a\\(b\\)c) (x(y)z) (\\101\\0\\7777) (line\\\ncont) (cr\r\nlf\rx) (\\n\\t\\\\\\q)");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].Text, "a(b)c");
  EXPECT_EQ(t[1].Text, "x(y)z");
  EXPECT_EQ(t[2].Text, std::string("A\0\377" "7", 4));
  EXPECT_EQ(t[3].Text, "linecont");
  EXPECT_EQ(t[4].Text, "cr\nlf\nx");
  EXPECT_EQ(t[5].Text, "\n\t\\q");
  // An unterminated string runs to the end without reading past it.
  EXPECT_EQ(Tokens("(open (never closed")[0].Text, "open (never closed");
}

TEST(PDFLexer, HexStringsNamesNumbersAndComments) {
  const auto t = Tokens("<48 65\n6> /A#20B /# /ab#zz 12 -3.5 +4 .5 1.2.3 --5 % comment\n true");
  ASSERT_EQ(t.size(), 11u);
  EXPECT_TRUE(t[0].IsHex);
  EXPECT_EQ(t[0].Text, "He`");
  EXPECT_EQ(t[1].Kind, TPDFTokenKind::tkName);
  EXPECT_EQ(t[1].Text, "A B");
  EXPECT_EQ(t[2].Text, "#");
  EXPECT_EQ(t[3].Text, "ab#zz");
  EXPECT_EQ(t[4].Kind, TPDFTokenKind::tkInteger);
  EXPECT_EQ(t[4].IntValue, 12);
  EXPECT_EQ(t[5].Kind, TPDFTokenKind::tkReal);
  EXPECT_DOUBLE_EQ(t[5].RealValue, -3.5);
  EXPECT_EQ(t[6].IntValue, 4);
  EXPECT_DOUBLE_EQ(t[7].RealValue, 0.5);
  EXPECT_DOUBLE_EQ(t[8].RealValue, 1.2);  // the valid prefix of a malformed number
  EXPECT_EQ(t[9].IntValue, 5);            // a double sign cancels
  EXPECT_EQ(t[10].Kind, TPDFTokenKind::tkKeyword);
  EXPECT_EQ(t[10].Text, "true");
}

TEST(PDFLexer, StrayDelimitersAreSingleTokens) {
  const auto t = Tokens(") } > >> { <<");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].Kind, TPDFTokenKind::tkError);
  EXPECT_EQ(t[2].Kind, TPDFTokenKind::tkError);
  EXPECT_EQ(t[3].Kind, TPDFTokenKind::tkDictEnd);
  EXPECT_EQ(t[5].Kind, TPDFTokenKind::tkDictBegin);
}

TEST(PDFParser, DictionariesArraysAndReferences) {
  const TPDFObject o =
      Parse("<< /Type /Page /Kids [3 0 R 4 0 R] /Count 2 /Box [0 0 612.5 792] /N null /F false /S (x) /Sub << /A 1 >> >>");
  ASSERT_TRUE(o.IsDict());
  EXPECT_TRUE(o.Get("Type")->IsName("Page"));
  const TPDFObject* kids = o.Get("Kids");
  ASSERT_TRUE(kids && kids->IsArray());
  ASSERT_EQ(kids->Count(), 2u);
  EXPECT_TRUE(kids->Items[1].IsRef());
  EXPECT_EQ(kids->Items[1].RefNum, 4);
  EXPECT_EQ(o.Get("Count")->AsInt(), 2);
  EXPECT_DOUBLE_EQ(o.Get("Box")->Items[2].AsNumber(), 612.5);
  EXPECT_TRUE(o.Get("N")->IsNull());
  EXPECT_EQ(o.Get("F")->Kind, TPDFObjKind::okBool);
  EXPECT_EQ(o.Get("Sub")->Get("A")->AsInt(), 1);
  EXPECT_EQ(o.Get("Missing"), nullptr);
  // Two integers without R stay integers.
  const TPDFObject a = Parse("[1 2 3 R 5]");
  ASSERT_EQ(a.Count(), 3u);
  EXPECT_EQ(a.Items[0].AsInt(), 1);
  EXPECT_TRUE(a.Items[1].IsRef());
  EXPECT_EQ(a.Items[2].AsInt(), 5);
}

TEST(PDFParser, DamagedContainersKeepWhatWasRead) {
  // A key without a value, garbage where a key belongs, a duplicate key
  // (the first wins), and a frame keyword that ends the dictionary early.
  const TPDFObject o = Parse("<< /A 1 /B >> ");
  EXPECT_EQ(o.Get("A")->AsInt(), 1);
  EXPECT_EQ(o.Get("B"), nullptr);
  const TPDFObject g = Parse("<< 12 /A 1 ] /A 2 /C [1 2 >>");
  EXPECT_EQ(g.Get("A")->AsInt(), 1);
  ASSERT_TRUE(g.Get("C"));
  EXPECT_EQ(g.Get("C")->Count(), 2u);
  TPDFLexer lx("<< /Length 5 stream\nabc");
  TPDFObject s;
  ParsePDFObject(lx, s);
  EXPECT_EQ(s.Get("Length")->AsInt(), 5);
  TPDFToken t;
  ASSERT_TRUE(lx.Next(t));
  EXPECT_EQ(t.Text, "stream");
}

TEST(PDFParser, DeepNestingIsBounded) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const TPDFObject o = Parse(deep);
  EXPECT_TRUE(o.IsArray());
  const std::string dicts = [] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += "<< /A ";
    return s;
  }();
  EXPECT_TRUE(Parse(dicts).IsDict());
}

TEST(PDFParser, ObjectHeaderAndStreamStart) {
  TPDFLexer lx("  12 0 obj<</A 1>>");
  int32_t num = 0, gen = -1;
  ASSERT_TRUE(ParsePDFObjectHeader(lx, num, gen));
  EXPECT_EQ(num, 12);
  EXPECT_EQ(gen, 0);
  TPDFLexer bad("12 obj");
  EXPECT_FALSE(ParsePDFObjectHeader(bad, num, gen));
  const std::string_view s = "stream\r\nX";
  EXPECT_EQ(PDFStreamDataStart(s, 6), 8u);
  EXPECT_EQ(PDFStreamDataStart("stream\nX", 6), 7u);
  EXPECT_EQ(PDFStreamDataStart("stream\rX", 6), 7u);
  EXPECT_EQ(PDFStreamDataStart("stream  \nX", 6), 9u);
  EXPECT_EQ(PDFStreamDataStart("streamX", 6), 6u);
}

TEST(PDFSyntax, Integers) {
  EXPECT_EQ(PDFStrToInt64Def(" 42 ", -1), 42);
  EXPECT_EQ(PDFStrToInt64Def("-7", 0), -7);
  EXPECT_EQ(PDFStrToInt64Def("12a", -1), -1);
  EXPECT_EQ(PDFStrToInt64Def("", -1), -1);
  EXPECT_EQ(PDFStrToInt64Def("99999999999999999999", -1), -1);
}

}  // namespace
}  // namespace lkw
