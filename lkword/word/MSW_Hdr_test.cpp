#include "lkword/word/MSW_Hdr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lkw {
namespace {

void Put16(uint8_t* B, size_t Off, uint16_t V) {
  B[Off] = static_cast<uint8_t>(V);
  B[Off + 1] = static_cast<uint8_t>(V >> 8);
}
void Put32(uint8_t* B, size_t Off, uint32_t V) {
  for (int i = 0; i < 4; ++i) B[Off + i] = static_cast<uint8_t>(V >> (8 * i));
}

TEST(FIBTest, GenerationFollowsMagicThenVersion) {
  EXPECT_EQ(FIBGeneration(0x37FE, 193), kMacWordGeneration);  // the magic wins over the version
  EXPECT_EQ(FIBGeneration(0xA5DB, 45), 2);
  EXPECT_EQ(FIBGeneration(0xA5DC, 100), 2);
  EXPECT_EQ(FIBGeneration(0xA5DC, 101), 6);
  EXPECT_EQ(FIBGeneration(0xA5EC, 102), 8);
  EXPECT_EQ(FIBGeneration(0xA5DC, 103), 0);
  EXPECT_EQ(FIBGeneration(0xA5DC, 104), 7);
  EXPECT_EQ(FIBGeneration(0xA5EC, 105), 8);
  EXPECT_EQ(FIBGeneration(0xA5EC, 257), 8);
}

TEST(FIBTest, Word6LayoutIsMappedToTheWord97Fields) {
  uint8_t raw[738] = {};
  Put16(raw, 0, 0xA5DC);
  Put16(raw, 2, 101);
  Put16(raw, 6, 0x0419);
  raw[10] = 0x04;
  raw[11] = 0x01;
  Put32(raw, 24, 0x300);
  Put32(raw, 28, 0x400);
  Put16(raw, 32, 0x7777);                       // not csw in this layout: the low half of cbMac
  for (int i = 0; i < 8; ++i) Put32(raw, 52 + 4 * i, 100 + i);  // ccpText .. ccpHdrTxbx
  Put32(raw, 88 + 8 * 2, 0x1111);               // fcPlcffndRef
  Put32(raw, 88 + 8 * 33, 0x2222);              // fcClx
  Put32(raw, 88 + 8 * 33 + 4, 0x33);            // lcbClx
  Put32(raw, 88 + 8 * 37 + 4, 0x44);            // lcbSttbfAtnbkmk, last of the first block
  Put16(raw, 394, 9);                           // pnChpFirst (16-bit here)
  Put16(raw, 400, 0xFFFF);                      // cpnBtePap
  Put32(raw, 402, 0x5555);                      // fcPlcfdoaMom, first of the second block
  Put32(raw, 402 + 8 * 8, 0x6666);              // fcPlcfendRef
  Put32(raw, 402 + 8 * 34 + 4, 0x77);           // lcbSttbFnm, the last value
  TFIB f = MapFIB(raw, 682, 6);
  EXPECT_EQ(+f.lID, 0x0419);
  EXPECT_EQ(+f.Flag, 0x04);
  EXPECT_EQ(+f.Encryption, 0x01);
  EXPECT_EQ(+f.fcMin, 0x300u);
  EXPECT_EQ(+f.fcMac, 0x400u);
  EXPECT_EQ(+f.csw, 14);
  EXPECT_EQ(f.cbMac & 0xFFFF, 0x7777u);
  EXPECT_EQ(+f.ccpText, 100);
  EXPECT_EQ(+f.ccpHdrTxbx, 107);
  EXPECT_EQ(+f.fcPlcffndRef, 0x1111u);
  EXPECT_EQ(+f.fcClx, 0x2222u);
  EXPECT_EQ(+f.lcbClx, 0x33u);
  EXPECT_EQ(+f.lcbSttbfAtnbkmk, 0x44u);
  EXPECT_EQ(+f.pnChpFirst, 9u);
  EXPECT_EQ(+f.cpnBtePap, 0xFFFFu);  // zero-extended
  EXPECT_EQ(+f.fcPlcfdoaMom, 0x5555u);
  EXPECT_EQ(+f.fcPlcfendRef, 0x6666u);
  EXPECT_EQ(+f.lcbSttbFnm, 0x77u);
  EXPECT_EQ(+f.lidFE, 0);
}

TEST(FIBTest, Word2LayoutHasShortLengthsAndNoGlossaryTable) {
  uint8_t raw[738] = {};
  Put16(raw, 0, 0xA5DB);
  Put16(raw, 2, 45);
  Put32(raw, 24, 0x180);
  Put32(raw, 28, 0x200);
  for (int i = 0; i < 5; ++i) Put32(raw, 52 + 4 * i, 10 + i);
  Put32(raw, 72, 0xDEAD);                // beyond ccpAtn: not a count here
  Put32(raw, 88, 0xAAAA);                // fcStshfOrig
  Put16(raw, 92, 0xFFFE);                // lcbStshfOrig, 16-bit
  Put32(raw, 88 + 6 * 7, 0xBBBB);        // fcPlcfpgd -> fcPlcfpad
  Put32(raw, 88 + 6 * 9, 0xCCCC);        // the tenth pair is Plcfglsy
  Put16(raw, 88 + 6 * 9 + 4, 0x12);
  Put16(raw, 312, 5);                    // pnChpFirst
  TFIB f = MapFIB(raw, 320, 2);
  EXPECT_EQ(+f.fcMin, 0x180u);
  EXPECT_EQ(+f.ccpText, 10);
  EXPECT_EQ(+f.ccpAtn, 14);
  EXPECT_EQ(+f.ccpEdn, 0);
  EXPECT_EQ(+f.fcStshfOrig, 0xAAAAu);
  EXPECT_EQ(+f.lcbStshfOrig, 0xFFFEu);
  EXPECT_EQ(+f.fcPlcfpad, 0xBBBBu);
  EXPECT_EQ(+f.fcSttbfglsy, 0u);
  EXPECT_EQ(+f.fcPlcfglsy, 0xCCCCu);
  EXPECT_EQ(+f.lcbPlcfglsy, 0x12u);
  EXPECT_EQ(+f.pnChpFirst, 5u);
}

}  // namespace
}  // namespace lkw
