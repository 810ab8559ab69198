// SPDX-License-Identifier: BSD-2-Clause
// Coefficient and residue coding and the DCT model of the writer, read back
// through the decoder's coefficient reader and inverse transform.
#include <gtest/gtest.h>

#include <random>

#include "encode/video_coefficients.h"
#include "encode/video_dct.h"
#include "video/coefficients.h"
#include "video/idct.h"
#include "video/quantiser.h"

namespace kivo::encode {
namespace {

// Random AC values: mostly zero, magnitudes of random widths up to `maxBits`.
void RandomBlock(std::mt19937& random, int16_t block[64], int maxBits, int density) {
  for (int i = 0; i < 64; ++i) {
    block[i] = 0;
    if (i == 0 || int(random() % 100) >= density) continue;
    int bits = 1 + int(random() % uint32_t(maxBits));
    int32_t m = int32_t(random() % (1u << bits));
    block[i] = int16_t(random() & 1 ? -m : m);
  }
}

TEST(Coefficients, EveryPlaneCountReadsBack) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 3000; ++trial) {
    int16_t block[64];
    RandomBlock(random, block, 1 + trial % 15, int(random() % 101));
    if (trial % 50 == 0) block[1 + random() % 63] = trial % 100 ? 32767 : -32767;
    int planes = CoefficientPlanes(block);
    ASSERT_GE(planes, 0);
    // Sometimes more planes than needed: the extra ones are all-zero passes.
    int used = trial % 4 == 0 ? std::min(15, planes + int(random() % 3)) : -1;
    BitWriter w;
    ASSERT_TRUE(WriteCoefficients(w, block, used));
    PutBits(w, 0x5A5, 12);  // what follows must come out untouched
    uint64_t bits = BitCount(w);
    std::vector<uint8_t> bytes = WriterBytes(w);
    BitReader r;
    StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
    int16_t got[64] = {};
    got[0] = 1234;
    DecodeCoefficients(&r, got);
    EXPECT_EQ(ReadBits(&r, 12), 0x5A5u) << trial;
    EXPECT_EQ(BitsConsumed(&r), bits) << trial;
    ASSERT_EQ(got[0], 1234);
    for (int i = 1; i < 64; ++i) ASSERT_EQ(got[i], block[i]) << trial << " at " << i;
  }
}

TEST(Coefficients, PlaneCountLimits) {
  int16_t block[64] = {};
  EXPECT_EQ(CoefficientPlanes(block), 0);
  BitWriter w;
  ASSERT_TRUE(WriteCoefficients(w, block));
  EXPECT_EQ(BitCount(w), 4u);  // no AC: the count alone
  block[5] = -1;               // b = 0: a sign bit is the whole value
  EXPECT_EQ(CoefficientPlanes(block), 1);
  block[9] = 8;  // b = 3
  EXPECT_EQ(CoefficientPlanes(block), 4);
  BitWriter few;
  EXPECT_FALSE(WriteCoefficients(few, block, 3));
  EXPECT_FALSE(WriteCoefficients(few, block, 16));
  block[9] = -32768;
  EXPECT_EQ(CoefficientPlanes(block), -1);
  EXPECT_FALSE(WriteCoefficients(few, block));
  EXPECT_EQ(BitCount(few), 0u);
}

// The residue the decoder builds equals the one asked for, or with a low
// limit the truncation the writer reports; the decoder stops reading at the
// limit exactly where the writer stopped writing.
TEST(Residues, ReadBackWithAndWithoutLimits) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 3000; ++trial) {
    int8_t residue[64] = {};
    int density = int(random() % 60);
    int top = int(random() % 8);
    for (int i = 0; i < 64; ++i)
      if (int(random() % 100) < density) residue[i] = int8_t(int(random() % (2u << top)) - (1 << top));
    ResidueCode code;
    uint32_t ops = ResidueOperations(residue);
    if (trial % 3 == 0) code.limit = int(random() % 128);
    if (trial % 5 == 0) code.topBit = std::min(7, ResidueTopBit(residue) + int(random() % 3));
    BitWriter w;
    int8_t decoded[64];
    ASSERT_TRUE(WriteResidue(w, residue, code, decoded));
    PutBits(w, 0x3C, 7);
    uint64_t bits = BitCount(w);
    std::vector<uint8_t> bytes = WriterBytes(w);
    BitReader r;
    StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
    uint32_t limit = ReadBits(&r, 7);
    uint8_t got[64], nonzero[64];
    uint32_t listed = DecodeResidue(&r, limit, got, nonzero);
    EXPECT_EQ(ReadBits(&r, 7), 0x3Cu) << trial;
    EXPECT_EQ(BitsConsumed(&r), bits) << trial;
    bool whole = ops <= limit + 1 || ops == 0;
    // The list names every nonzero byte, once: blocks add only those.
    uint64_t named = 0;
    for (uint32_t i = 0; i < listed; ++i) {
      ASSERT_LT(nonzero[i], 64) << trial;
      ASSERT_FALSE(named >> nonzero[i] & 1) << trial;
      named |= uint64_t(1) << nonzero[i];
    }
    for (int j = 0; j < 64; ++j) {
      int natural = kCoefficientScan[j];
      ASSERT_EQ(int8_t(got[j]), decoded[natural]) << trial;
      ASSERT_TRUE(got[j] == 0 || (named >> j & 1)) << trial;
      if (whole) {
        ASSERT_EQ(decoded[natural], residue[natural]) << trial;
      }
    }
  }
}

TEST(Residues, LimitZeroStopsAfterOneOperation) {
  int8_t residue[64] = {};
  residue[0] = 3;
  residue[9] = -2;
  EXPECT_EQ(ResidueOperations(residue), 3u);  // 3 = 2 + 1, -2
  BitWriter w;
  int8_t decoded[64];
  ASSERT_TRUE(WriteResidue(w, residue, {0, -1}, decoded));
  EXPECT_EQ(decoded[0], 2);  // the first operation: +2 at coded index 0
  EXPECT_EQ(decoded[9], 0);
  // limit, top bit, pass 1: (4,0) (24,0) (44,0) miss, quad 0 opens, its
  // first coefficient is new with a sign: then decoding ends.
  EXPECT_EQ(BitCount(w), 7u + 3 + 3 + 1 + 1 + 1);
  BitWriter bad;
  EXPECT_FALSE(WriteResidue(bad, residue, {128, -1}));
  EXPECT_FALSE(WriteResidue(bad, residue, {-1, 0}));  // 3 needs top bit 1
  EXPECT_EQ(BitCount(bad), 0u);
}

TEST(Quantisers, RuleGivesTheCheckValuesAndTheDecoderTables) {
  EXPECT_EQ(IntraQuantiser(0, 0), 65536);
  EXPECT_EQ(IntraQuantiser(0, 1), 90901);
  EXPECT_EQ(IntraQuantiser(0, 2), 85627);
  EXPECT_EQ(IntraQuantiser(0, 3), 91511);
  EXPECT_EQ(IntraQuantiser(0, 62), 42200);
  EXPECT_EQ(IntraQuantiser(0, 63), 25879);
  EXPECT_EQ(InterQuantiser(0, 1), 96582);
  EXPECT_EQ(IntraQuantiser(3, 1), 181802);
  EXPECT_EQ(IntraQuantiser(15, 10), 8491907);
  EXPECT_EQ(IntraQuantiser(15, 17), 8818519);
  EXPECT_EQ(IntraQuantiser(15, 63), 1138655);
  EXPECT_EQ(InterQuantiser(15, 61), 1211097);
  EXPECT_EQ(InterQuantiser(15, 62), 834218);
  EXPECT_EQ(InterQuantiser(15, 63), 452718);
  for (uint32_t q = 0; q < 16; ++q) {
    for (uint32_t i = 0; i < 64; ++i) {
      ASSERT_EQ(IntraQuantiser(q, i), kIntraQuantiser[q][i]) << q << " " << i;
      ASSERT_EQ(InterQuantiser(q, i), kInterQuantiser[q][i]) << q << " " << i;
    }
  }
}

TEST(Transform, ModelMatchesTheDecoderOnWildInput) {
  std::mt19937 random(3);
  for (int trial = 0; trial < 2000; ++trial) {
    int16_t block[64];
    for (int i = 0; i < 64; ++i)
      block[i] = int16_t(trial % 2 ? int(random() % 65536) - 32768 : int(random() % 64) - 32);
    if (trial % 3 == 0)
      for (int i = 8; i < 64; i += 8 - (trial % 7 == 0)) block[i] = 0;  // columns with only a DC
    uint32_t q = random() % 16;
    const int32_t* table = trial % 4 < 2 ? kIntraQuantiser[q] : kInterQuantiser[q];
    int32_t mine[64], theirs[64];
    InverseTransform(block, table, mine);
    IdctPlain(block, table, theirs);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(mine[i], theirs[i]) << trial << " at " << i;
  }
}

TEST(Transform, StoresWrapInsteadOfSaturating) {
  int16_t block[64] = {};
  block[0] = 1024;
  uint8_t out[64];
  ReconstructIntra(block, 0, out);
  for (uint8_t v : out) ASSERT_EQ(v, 128);
  block[0] = 2048;  // 256 everywhere
  ReconstructIntra(block, 0, out);
  for (uint8_t v : out) ASSERT_EQ(v, 0);
  int16_t one[64] = {};
  one[0] = 8;  // ((8 * 65536) >> 11 + 127) >> 8 = 1
  uint8_t prediction[64];
  std::fill(prediction, prediction + 64, 255);
  ReconstructInter(one, 0, prediction, out);
  for (uint8_t v : out) ASSERT_EQ(v, 0);
}

TEST(Transform, FitsComeCloseAndNeverWrap) {
  std::mt19937 random(9);
  for (int trial = 0; trial < 300; ++trial) {
    // Smooth ramps, with some at the extremes of the sample range.
    uint8_t pixels[64], prediction[64];
    int base = int(random() % 256), gx = int(random() % 9) - 4, gy = int(random() % 9) - 4;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        pixels[r * 8 + c] = uint8_t(std::clamp(base + gx * c + gy * r, 0, 255));
        // A prediction within 40 levels of the picture, as motion gives.
        int p = pixels[r * 8 + c] + int(random() % 81) - 40;
        prediction[r * 8 + c] = uint8_t(std::clamp(p, 0, 255));
      }
    uint32_t q = trial % 3;
    int16_t block[64];
    uint32_t error = FitIntra(pixels, q, block);
    EXPECT_LE(error, 64u * 9) << trial;  // about 3 levels or better per sample
    uint8_t got[64];
    ReconstructIntra(block, q, got);
    for (int i = 0; i < 64; ++i) ASSERT_LE(std::abs(got[i] - pixels[i]), 12) << trial;
    EXPECT_GE(block[0], 0);
    error = FitInter(pixels, prediction, 0, block);
    ReconstructInter(block, 0, prediction, got);
    for (int i = 0; i < 64; ++i) ASSERT_LE(std::abs(got[i] - pixels[i]), 24) << trial;
    EXPECT_LE(block[0], 1023);
    EXPECT_GE(block[0], -1023);
  }
}

}  // namespace
}  // namespace kivo::encode
