// Words and lines as real producers' pages make them: small documents built
// here, read through the content interpreter and the layout.
#include <gtest/gtest.h>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using namespace pdftest;

// A simple font whose glyphs are half an em wide, the space SpaceWidth
// thousandths.
std::string Font(int SpaceWidth = 250) {
  std::string widths = std::to_string(SpaceWidth) + " ";
  for (int i = 33; i <= 126; ++i) widths += "500 ";
  return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /FirstChar 32 "
         "/LastChar 126 /Widths [" + widths + "] >>";
}

// The lines of a one-page document showing Content with /F1.
std::vector<std::string> Lines(const std::string& Content, const std::string& F1 = Font()) {
  std::map<int, std::string> objs = OnePage(Content);
  objs[3] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources 5 0 R >>";
  objs[5] = "<< /Font << /F1 6 0 R >> >>";
  objs[6] = F1;
  TLKPDFReader reader;
  Load(reader, Document(objs));
  TLKPDFPage page;
  TPDFObject box;
  box.Kind = TPDFObjKind::okArray;
  for (int v : {0, 0, 612, 792}) box.Items.push_back(TPDFObject::MakeInteger(v));
  ExtractPageText(reader, Content, TPDFObject::MakeRef(5, 0), box, 0, TPDFTextOptions(), page);
  std::vector<std::string> out;
  for (const WideString& l : page.Lines())
    if (!l.empty()) out.push_back(WideToUtf8(l));
  return out;
}

using Strings = std::vector<std::string>;

TEST(PDFWords, SpaceGlyphsSeparateOnlyWhereTheyFallBetweenGlyphs) {
  // A condensed font's space is an eighth of an em: still a word space.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 700 Td (The Denver Guild) Tj ET", Font(125)), Strings{"The Denver Guild"});
  // A form's spacer runs: blanks drawn by other text objects a point off the
  // baseline, over a word's first letter or inside it, split nothing.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 700 Td (Form) Tj ET BT /F1 10 Tf 72 701 Td ( ) Tj ET "
                  "BT /F1 10 Tf 200 700 Td (Identifying) Tj ET BT /F1 10 Tf 217 699 Td ( ) Tj ET"),
                Strings{"Form Identifying"});
  // A ligature's placeholder blank, set inside the ligature, splits nothing;
  // the blank of text placed glyph by glyph, wider than its slots, does.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 700 Td [(twenty fi) 250 ( ) (ve)] TJ ET "
                  "BT /F1 10 Tf 1 0 0 1 72 680 Tm (A) Tj 1 0 0 1 76.5 680 Tm (B) Tj 1 0 0 1 81 680 Tm ( ) Tj "
                  "1 0 0 1 83 680 Tm (C) Tj 1 0 0 1 87.5 680 Tm (D) Tj ET"),
            (Strings{"twenty five", "AB CD"}));
  // The space a producer backs up over is none; one after a word is.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 700 Td [(sauve) ( ) 250 (garde)] TJ [( ) (next)] TJ ET"),
            Strings{"sauvegarde next"});
}

TEST(PDFWords, SmallTextNearALargeLineIsALineOfItsOwn) {
  // Large figures with a caption 18 points under their baseline: within
  // half the figures' size, but far for the caption's size.
  EXPECT_EQ(Lines("BT /F1 40 Tf 72 700 Td (#1) Tj /F1 13 Tf 8 -18 Td (MOST) Tj ET"), (Strings{"#1", "MOST"}));
  // Superscripts and subscripts stay on their line.
  EXPECT_EQ(Lines("BT /F1 12 Tf 72 700 Td (E=mc) Tj /F1 7 Tf 1 0 0 1 96 704.5 Tm (2) Tj "
                  "/F1 12 Tf 1 0 0 1 99.5 700 Tm ( H) Tj /F1 7 Tf 1 0 0 1 108.5 697.5 Tm (2) Tj "
                  "/F1 12 Tf 1 0 0 1 112 700 Tm (O) Tj ET"),
            Strings{"E=mc2 H2O"});
}

TEST(PDFWords, OverlappingTextKeepsEachStringTogether) {
  // Two lines of small text set over a large title's baseline, one a point
  // above it and one below: each small line stays whole.
  EXPECT_EQ(Lines("BT /F1 20 Tf 72 700 Td (Big) Tj ET BT /F1 10 Tf 110 704 Td (some text) Tj ET "
                  "BT /F1 10 Tf 110 695 Td (a smaller) Tj ET"),
            (Strings{"Big some text", "a smaller"}));
  // A subscript and a superscript stacked after it, a fraction's parts: the
  // script goes back a glyph only and stays on the line.
  EXPECT_EQ(Lines("BT /F1 12 Tf 72 700 Td (R) Tj /F1 7 Tf 1 0 0 1 78 697.5 Tm (0) Tj 1 0 0 1 78 705.5 Tm (+) Tj ET"),
            Strings{"R0+"});
  // A superscript drawn after its line is still part of it.
  EXPECT_EQ(Lines("BT /F1 11 Tf 72 700 Td (24) Tj 14 0 Td ( century) Tj ET BT /F1 6 Tf 83 705 Td (th) Tj ET"),
            Strings{"24th century"});
  // Two codes printed over each other on one baseline read one after the
  // other, not letter by letter; an overprinted copy (fake bold) is dropped.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 700 Td (7728) Tj ET BT /F1 10 Tf 78 700 Td (-AA-2076) Tj ET "
                  "BT /F1 10 Tf 72 680 Td (Bold) Tj 0.3 0 Td (Bold) Tj ET"),
            (Strings{"7728 -AA-2076", "Bold"}));
  // So do two strings drawn over each other, each with a shadow.
  EXPECT_EQ(Lines("BT /F1 10 Tf 72 660 Td (regulation) Tj ET BT /F1 10 Tf 73 659 Td (regulation) Tj ET "
                  "BT /F1 10 Tf 78 660 Td (BFPA) Tj ET BT /F1 10 Tf 79 659 Td (BFPA) Tj ET"),
            Strings{"regulation BFPA"});
}

}  // namespace
}  // namespace lkw
