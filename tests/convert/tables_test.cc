// SPDX-License-Identifier: BSD-2-Clause
// The conversion tables against their formulas, the red/blue exchange and
// its undoing, and the 16-bit tables following the prepared code.
#include <gtest/gtest.h>

#include "convert/conversion_tables.h"
#include "convert/harness.h"

namespace kivo::test {
namespace {

struct ConversionTablesTest : ConvertFixture {};

TEST_F(ConversionTablesTest, EveryEntryFollowsItsFormulaAndTheLanesRepeatIt) {
  const ConversionTables& t = PrepareConversionTables(3);
  ExchangeChromaTables(0);
  for (int i = 0; i < 256; ++i) {
    Rgb c = TableColour(16 + (i * 219) / 255, i, 255 - i);
    const int32_t* lp = t.lumaPointer[16 + (i * 219) / 255];
    int32_t g = t.chroma[kCrToG][255 - i] + t.chroma[kCbToG][i];
    EXPECT_EQ(lp[t.chroma[kCrToR][255 - i]], c.r) << i;
    EXPECT_EQ(lp[g], c.g) << i;
    EXPECT_EQ(lp[t.chroma[kCbToB][i]], c.b) << i;
    for (int k = 0; k < 4; ++k) {
      uint32_t lane = static_cast<uint32_t>(t.lanes[k][i]);
      EXPECT_EQ(lane >> 16, lane & 0xFFFF) << k << " " << i;
      EXPECT_EQ(int16_t(lane & 0xFFFF), t.chroma[k][i]) << k << " " << i;
    }
    EXPECT_EQ(t.gray24[i], uint32_t(TableGray(i)) * 0x010101u) << i;
  }
  EXPECT_EQ(t.luma[0], 0);
  EXPECT_EQ(t.luma[16], 0);
  EXPECT_EQ(t.luma[235], 254);
  EXPECT_EQ(t.luma[255], 254);
  // The extremes of the four terms, rounded toward zero.
  EXPECT_EQ(t.chroma[kCrToR][0], -204);
  EXPECT_EQ(t.chroma[kCrToR][255], 202);
  EXPECT_EQ(t.chroma[kCbToB][0], -258);
  EXPECT_EQ(t.chroma[kCbToB][255], 256);
  EXPECT_EQ(t.chroma[kCrToG][0], 104);
  EXPECT_EQ(t.chroma[kCbToG][255], -49);
}

TEST_F(ConversionTablesTest, BlackAndWhiteAndTheSumsBeyondTheClampRange) {
  const ConversionTables& t = PrepareConversionTables(3);
  EXPECT_EQ(t.lumaPointer[16][t.chroma[kCrToR][128]], 0);
  EXPECT_EQ(t.lumaPointer[235][t.chroma[kCbToB][128]], 254);
  // Y 16 with U 0 is the most negative sum (-258) and Y 255 with U 255 the
  // largest (510): both land inside the clamp table.
  EXPECT_EQ(t.lumaPointer[16][t.chroma[kCbToB][0]], 0);
  EXPECT_EQ(t.lumaPointer[255][t.chroma[kCbToB][255]], 255);
  EXPECT_EQ(t.lumaPointer[0] - t.clamp, kClampBias);
  // Above 235 the lane arithmetic lets luma pass 254; below it agrees.
  EXPECT_EQ(LaneColour(250, 128, 128).r, 255);
  EXPECT_EQ(TableColour(250, 128, 128).r, 254);
  for (int y = 0; y <= 235; ++y)
    for (int u = 0; u < 256; u += 5)
      ASSERT_EQ(LaneColour(y, u, 255 - u).g, TableColour(y, u, 255 - u).g) << y << " " << u;
}

TEST_F(ConversionTablesTest, TheExchangeSwapsTheTermsAndIsUndone) {
  const ConversionTables& t = PrepareConversionTables(3);
  ExchangeChromaTables(0);
  int32_t crR = t.chroma[kCrToR][40], crG = t.chroma[kCrToG][40], cbG = t.chroma[kCbToG][40];
  int32_t cbB = t.chroma[kCbToB][40], lane = t.lanes[kCrToR][40];
  ExchangeChromaTables(1);
  const ConversionTables& x = Tables();
  EXPECT_EQ(x.exchanged, 1);
  EXPECT_EQ(x.chroma[kCrToR][40], cbB);
  EXPECT_EQ(x.chroma[kCrToG][40], cbG);
  EXPECT_EQ(x.chroma[kCbToG][40], crG);
  EXPECT_EQ(x.chroma[kCbToB][40], crR);
  EXPECT_EQ(x.lanes[kCbToB][40], lane);
  // A set another conversion may be reading never changes under it.
  EXPECT_EQ(t.chroma[kCrToR][40], crR);
  EXPECT_EQ(&TablesFor(3, 1), &x);
  ExchangeChromaTables(1);  // no change: still exchanged, not swapped back
  EXPECT_EQ(Tables().chroma[kCrToR][40], cbB);
  ExchangeChromaTables(0);
  EXPECT_EQ(Tables().chroma[kCrToR][40], crR);
  EXPECT_EQ(Tables().lanes[kCrToR][40], lane);
}

TEST_F(ConversionTablesTest, The16BitTablesFollowTheCodeLastPrepared) {
  struct Case {
    int code;
    uint32_t red, green, blue;  // the full fields
  };
  for (Case c : {Case{10, 0xF800, 0x07E0, 0x001F}, Case{9, 0x7C00, 0x03E0, 0x001F}, Case{7, 0x0F00, 0x00F0, 0x000F},
                 Case{11, 0xF800, 0x07C0, 0x003F}, Case{12, 0xF000, 0x0FC0, 0x003F}, Case{10, 0xF800, 0x07E0, 0x001F}}) {
    const PackTables& p = PrepareConversionTables(c.code).pack;
    EXPECT_EQ(p.code, c.code);
    EXPECT_EQ(p.red[kClampBias + 255], c.red) << c.code;
    EXPECT_EQ(p.red[kClampBias + 300], c.red) << c.code;  // above 255: the whole field
    EXPECT_EQ(p.red[kClampBias - 1], 0u) << c.code;
    EXPECT_EQ(p.green[kClampBias + 255], c.green) << c.code;
    EXPECT_EQ(p.blue[kClampBias + 255], c.blue) << c.code;
    EXPECT_EQ(p.redTwice[kClampBias + 255], c.red * 0x10001u) << c.code;
    EXPECT_EQ(p.gray[235], c.red | c.green | c.blue) << c.code;
    EXPECT_EQ(p.gray[16], 0u) << c.code;
    EXPECT_EQ(p.grayTwice[100], p.gray[100] * 0x10001u) << c.code;
  }
  EXPECT_EQ(PrepareConversionTables(7).pack.alpha4[0xAB], 0xA000u);
  // -1 prepares nothing new; a code without a 16-bit layout empties the fields.
  EXPECT_EQ(PrepareConversionTables(-1).pack.code, 7);
  EXPECT_EQ(PrepareConversionTables(3).pack.red[kClampBias + 255], 0u);
}

}  // namespace
}  // namespace kivo::test
