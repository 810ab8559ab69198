// SPDX-License-Identifier: BSD-2-Clause
// Quantiser tables, the inverse DCT's wrapping arithmetic and output forms,
// and the coefficient and residue list schemes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "stream_builder.h"
#include "video/coefficients.h"
#include "video/idct.h"
#include "video/quantiser.h"

namespace kivo {
namespace {

TEST(Quantiser, CheckValuesAndTheRuleWithItsTwoExceptions) {
  const int32_t intra0[] = {65536, 90901, 85627, 91511};
  const int32_t inter0[] = {65536, 96582, 90979, 86695};
  const int32_t intra3[] = {131072, 181802, 171254, 183023};
  const int32_t intra15[] = {2883584, 3999646, 3767584, 4026499};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(kIntraQuantiser[0][i], intra0[i]);
    EXPECT_EQ(kInterQuantiser[0][i], inter0[i]);
    EXPECT_EQ(kIntraQuantiser[3][i], intra3[i]);
    EXPECT_EQ(kIntraQuantiser[15][i], intra15[i]);
  }
  EXPECT_EQ(kIntraQuantiser[0][62], 42200);
  EXPECT_EQ(kIntraQuantiser[0][63], 25879);
  EXPECT_EQ(kIntraQuantiser[15][61], 2695668);
  EXPECT_EQ(kIntraQuantiser[15][62], 1856808);
  EXPECT_EQ(kIntraQuantiser[15][63], 1138655);
  EXPECT_EQ(kInterQuantiser[15][61], 1211097);
  EXPECT_EQ(kInterQuantiser[15][62], 834218);
  EXPECT_EQ(kInterQuantiser[15][63], 452718);
  EXPECT_EQ(kIntraQuantiser[15][10], 8491907);
  EXPECT_EQ(kIntraQuantiser[15][17], 8818519);

  static const int kIntraBase[64] = {
      16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27, 27, 27, 26, 26, 26, 29,
      29, 29, 27, 27, 27, 26, 34, 34, 34, 29, 29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38,
      37, 35, 35, 34, 35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83};
  static const int kInterBase[64] = {
      16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21, 21, 21, 21, 21, 21, 22,
      22, 22, 22, 22, 22, 22, 23, 23, 23, 23, 23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25,
      26, 26, 26, 26, 25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33};
  const double step[16] = {1,  4.0 / 3, 5.0 / 3, 2,  8.0 / 3, 7.0 / 2, 4,  5,
                           6,  8,       12,      17, 22,      28,      34, 44};
  double a[8] = {1};
  for (int k = 1; k < 8; ++k) a[k] = std::sqrt(2.0) * std::cos(k * 3.14159265358979323846 / 16);
  int differences = 0;
  for (int q = 0; q < 16; ++q) {
    for (int i = 0; i < 64; ++i) {
      int r = i / 8, c = i % 8;
      int32_t intra = int32_t(float(kIntraBase[i] * a[r] * a[c] * step[q] * 4096 + 0.5));
      int32_t inter = int32_t(float(kInterBase[i] * a[r] * a[c] * step[q] * 4096 + 0.5));
      EXPECT_EQ(kInterQuantiser[q][i], inter) << q << " " << i;
      if (q == 15 && (i == 10 || i == 17)) {
        EXPECT_EQ(kIntraQuantiser[q][i], intra - 1);
        ++differences;
      } else {
        EXPECT_EQ(kIntraQuantiser[q][i], intra) << q << " " << i;
      }
    }
  }
  EXPECT_EQ(differences, 2);
}

// The transform in 64-bit arithmetic, wrapping made explicit after every step.
int64_t Wrap(int64_t v) { return int64_t(int32_t(uint32_t(uint64_t(v)))); }
int64_t Mul(int64_t c, int64_t x) { return Wrap(x * c) >> 11; }
void Transform(const int64_t e[8], int64_t o[8]) {
  int64_t a0 = Wrap(e[0] + e[4]), a1 = Wrap(e[0] - e[4]), a2 = Wrap(e[2] + e[6]);
  int64_t t = Wrap(Mul(2896, Wrap(e[2] - e[6])) - a2);
  int64_t a4 = Wrap(e[5] + e[3]), a5 = Wrap(e[5] - e[3]);
  int64_t a6 = Wrap(e[1] + e[7]), a7 = Wrap(e[1] - e[7]);
  int64_t b0 = Wrap(a4 + a6), b1 = Mul(3784, Wrap(a5 + a7));
  int64_t b2 = Wrap(Mul(-5352, a5) - b0 + b1);
  int64_t b3 = Wrap(Mul(2896, Wrap(a6 - a4)) - b2);
  int64_t b4 = Wrap(Mul(2217, a7) - b1 + b3);
  o[0] = Wrap(a0 + a2 + b0), o[7] = Wrap(a0 + a2 - b0);
  o[1] = Wrap(a1 + t + b2), o[6] = Wrap(a1 + t - b2);
  o[2] = Wrap(a1 - t + b3), o[5] = Wrap(a1 - t - b3);
  o[3] = Wrap(a0 - a2 - b4), o[4] = Wrap(a0 - a2 + b4);
}
void ModelIdct(const int16_t block[64], const int32_t* q, int32_t out[64]) {
  int64_t s[64];
  for (int c = 0; c < 8; ++c) {
    int64_t e[8], o[8];
    for (int r = 0; r < 8; ++r) e[r] = Wrap(int64_t(block[8 * r + c]) * q[8 * r + c]) >> 11;
    Transform(e, o);
    for (int r = 0; r < 8; ++r) s[8 * r + c] = o[r];
  }
  for (int r = 0; r < 8; ++r) {
    int64_t o[8];
    Transform(s + 8 * r, o);
    for (int c = 0; c < 8; ++c) out[8 * r + c] = int32_t(Wrap(o[c] + 127) >> 8);
  }
}

TEST(InverseDct, MatchesTheWrappingModelOnRandomAndExtremeBlocks) {
  std::mt19937 rng(42);
  for (int trial = 0; trial < 3000; ++trial) {
    int16_t block[64] = {};
    int kind = trial % 5;
    for (int i = 0; i < 64; ++i) {
      if (kind == 0 && rng() % 4 == 0) block[i] = int16_t(int(rng() % 201) - 100);
      if (kind == 1) block[i] = int16_t(rng());                       // wraps often
      if (kind == 2 && i % 8 == 0) block[i] = int16_t(rng());         // AC-free columns
      if (kind == 3 && rng() % 8 == 0) block[i] = rng() & 1 ? 32767 : -32767;
      if (kind == 4 && i < 8 && rng() % 2 == 0) block[i] = int16_t(rng());  // a first row only
    }
    const int32_t* q = (trial & 1) ? kIntraQuantiser[rng() % 16] : kInterQuantiser[rng() % 16];
    int32_t got[64], want[64];
    IdctPlain(block, q, got);
    ModelIdct(block, q, want);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(got[i], want[i]) << "trial " << trial << " at " << i;
  }
}

TEST(InverseDct, ABlockWithoutAcIsTheOneValueOfIdctDcOnly) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    int16_t block[64] = {};
    block[0] = trial < 2 ? int16_t(trial ? 32767 : -32768) : int16_t(rng());
    const int32_t* q = (trial & 1) ? kIntraQuantiser[trial % 16] : kInterQuantiser[trial % 16];
    int32_t want[64];
    IdctPlain(block, q, want);
    for (int i = 0; i < 64; ++i)
      ASSERT_EQ(IdctDcOnly(block[0], q), uint8_t(want[i])) << "trial " << trial << " at " << i;
  }
}

TEST(InverseDct, StoresKeepTheLowByteWithoutClamping) {
  uint8_t area[16 * 16];
  int16_t block[64] = {};
  // DC alone: every sample is (((DC * Q[0]) >> 11) + 127) >> 8.
  block[0] = 1024;
  IdctPut(area, 16, block, kIntraQuantiser[0]);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) ASSERT_EQ(area[r * 16 + c], 128);
  block[0] = 2048;  // 256
  IdctPut(area, 16, block, kIntraQuantiser[0]);
  EXPECT_EQ(area[0], 0);
  EXPECT_EQ(area[7 * 16 + 7], 0);
  block[0] = -8;  // -1
  IdctPut(area, 16, block, kIntraQuantiser[0]);
  EXPECT_EQ(area[3 * 16 + 5], 255);

  uint8_t prediction[64];
  for (int i = 0; i < 64; ++i) prediction[i] = uint8_t(i == 9 ? 255 : i);
  block[0] = 8;  // +1 everywhere
  IdctAdd(area, 16, block, kInterQuantiser[0], prediction);
  EXPECT_EQ(area[16 + 1], 0);
  EXPECT_EQ(area[16 + 2], 11);
  EXPECT_EQ(area[0], 1);

  // The doubled form: each result as a 2x2 square.
  int16_t ramp[64] = {};
  ramp[0] = 600;
  ramp[1] = -200;
  ramp[8] = 90;
  int32_t results[64];
  IdctPlain(ramp, kIntraQuantiser[2], results);
  memset(area, 0xCC, sizeof area);
  IdctPutDoubled(area, 16, ramp, kIntraQuantiser[2]);
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c)
      ASSERT_EQ(area[r * 16 + c], uint8_t(results[(r / 2) * 8 + c / 2])) << r << "," << c;
}

std::array<int16_t, 64> Coefficients(const test::BitWriter& w, uint32_t* bitsUsed,
                                     int16_t dc = 0) {
  std::vector<uint8_t> bytes = w.Bytes();
  BitReader r;
  StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
  std::array<int16_t, 64> block{};
  block[0] = dc;
  DecodeCoefficients(&r, block.data());
  *bitsUsed = uint32_t(BitsConsumed(&r));
  return block;
}

void Bits(test::BitWriter& w, std::initializer_list<int> bits) {
  for (int b : bits) w.Bit(uint32_t(b));
}

TEST(Coefficients, NoBitPlanesLeaveTheDcAlone) {
  test::BitWriter w;
  w.Put(0, 4);
  w.Put(0xFFFFFFF, 28);
  uint32_t used;
  std::array<int16_t, 64> block = Coefficients(w, &used, 77);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(block[0], 77);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0);
}

TEST(Coefficients, ValueWidthsOfZeroAndThreeBits) {
  // n = 1: one pass with b = 0, a single value is one sign bit.
  test::BitWriter one;
  one.Put(1, 4);
  Bits(one, {0, 0, 0, 1, 1, 0, 0});  // groups closed; coded 1 gets -1
  uint32_t used;
  std::array<int16_t, 64> block = Coefficients(one, &used);
  EXPECT_EQ(used, 4u + 7);
  EXPECT_EQ(block[1], -1);
  // n = 4: the first pass has b = 3: magnitudes 8 to 15.
  test::BitWriter four;
  four.Put(4, 4);
  Bits(four, {0, 0, 0, 1});
  four.Put(5, 3);
  four.Bit(1);  // -(8 + 5)
  Bits(four, {1});
  four.Put(0, 3);
  four.Bit(0);  // +8
  Bits(four, {0});
  for (int pass = 0; pass < 3; ++pass) Bits(four, {0, 0, 0, 0});  // groups and coded 3
  block = Coefficients(four, &used);
  EXPECT_EQ(used, four.bits);
  EXPECT_EQ(block[kCoefficientScan[1]], -13);
  EXPECT_EQ(block[kCoefficientScan[2]], 8);
  for (int i = 3; i < 64; ++i) EXPECT_EQ(block[kCoefficientScan[i]], 0) << i;
}

TEST(Coefficients, GroupsOpenQuadsAndPushedEntriesWaitForTheNextPass) {
  test::BitWriter w;
  w.Put(2, 4);
  // Pass b = 1.
  Bits(w, {1, /*4*/ 0, 1, 0, /*5*/ 1, /*6*/ 0, 0, 1, /*7*/ 1});
  Bits(w, {1, 0, /*24*/ 0, /*44*/ 0, /*1*/ 1, 1, 0, /*2*/ 0, /*3*/ 0});
  Bits(w, {/*12*/ 1, 1, /*13*/ 0, 0, 0, /*14*/ 1, /*15*/ 1, /*16*/ 0, /*20*/ 0});
  // Pass b = 0: the pushed 15, 14, 12, 7, 5 come first.
  Bits(w, {1, 1, 0, 1, 0, 1, 0, 0});
  Bits(w, {/*8*/ 1, 0, 0, /*9*/ 1, /*10*/ 0, 1, /*11*/ 0, 0});
  Bits(w, {/*24*/ 0, /*44*/ 0, /*2*/ 0, /*3*/ 0, /*16*/ 0, /*20*/ 0});
  uint32_t used;
  std::array<int16_t, 64> block = Coefficients(w, &used);
  EXPECT_EQ(used, w.bits);
  std::array<int16_t, 64> expected{};
  expected[1] = 3;    // coded 1
  expected[2] = 3;    // coded 4
  expected[10] = -2;  // coded 6
  expected[7] = 2;    // coded 13
  expected[15] = -1;  // coded 15
  expected[6] = 1;    // coded 12
  expected[11] = 1;   // coded 7
  expected[4] = 1;    // coded 8
  expected[12] = -1;  // coded 10
  expected[13] = 1;   // coded 11
  EXPECT_EQ(block, expected);
}

// Blocks and residues away from the end of the data take unchecked walks.
// Lockstep with the plain walks over streams of 1 bits at several rates
// (random plane counts, exponents and limits, lists of every size), and over
// 1 bits only (long reads) in buffers of every size around the point where
// the walks switch.
TEST(Coefficients, TheUncheckedWalksDecodeAsThePlainOnes) {
  std::mt19937 rng(23);
  auto lockstep = [](const std::vector<uint8_t>& bytes, bool residues) {
    BitReader fast, plain;
    StartBitReader(&fast, bytes.data(), uint32_t(bytes.size()));
    StartBitReader(&plain, bytes.data(), uint32_t(bytes.size()));
    while (BitsConsumed(&plain) < bytes.size() * 8) {
      if (residues) {
        std::array<uint8_t, 64> a{}, b{};
        uint8_t nonzeroA[64], nonzeroB[64];
        uint32_t limit = ReadBits(&fast, 7);
        ASSERT_EQ(limit, ReadBits(&plain, 7));
        uint32_t count = DecodeResidue(&fast, limit, a.data(), nonzeroA);
        ASSERT_EQ(count, DecodeResiduePlain(&plain, limit, b.data(), nonzeroB));
        ASSERT_EQ(a, b) << BitsConsumed(&plain);
        ASSERT_EQ(0, memcmp(nonzeroA, nonzeroB, count));
      } else {
        std::array<int16_t, 64> a{}, b{};
        uint32_t n = DecodeCoefficients(&fast, a.data());
        ASSERT_EQ(n, DecodeCoefficientsPlain(&plain, b.data()));
        ASSERT_EQ(a, b) << BitsConsumed(&plain);
      }
      ASSERT_EQ(BitsConsumed(&fast), BitsConsumed(&plain));
      ASSERT_EQ(PeekBits(&fast, 31), PeekBits(&plain, 31));
    }
  };
  for (bool residues : {false, true}) {
    for (uint32_t ones : {2u, 8u, 16u, 24u, 30u}) {
      std::vector<uint8_t> bytes(4000 + rng() % 64);
      for (uint8_t& byte : bytes)
        for (int i = 0; i < 8; ++i) byte = uint8_t(byte | (rng() % 32 < ones) << i);
      lockstep(bytes, residues);
    }
    for (uint32_t size = 120; size < 240; ++size) {
      std::vector<uint8_t> bytes(size, 0xFF);
      bytes[0] = residues ? 0xFF : 0xF7;  // limit 127, exponent 7; 7 planes
      lockstep(bytes, residues);
    }
  }
}

std::array<uint8_t, 64> Residue(const test::BitWriter& w, uint32_t limit, uint32_t* bitsUsed) {
  std::vector<uint8_t> bytes = w.Bytes();
  BitReader r;
  StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
  std::array<uint8_t, 64> residue;
  residue.fill(0x55);
  uint8_t nonzero[64];
  DecodeResidue(&r, limit, residue.data(), nonzero);
  *bitsUsed = uint32_t(BitsConsumed(&r));
  return residue;
}

TEST(Residue, OperationsRefineAwayFromZeroAndStopPastTheLimit) {
  test::BitWriter w;
  w.Put(1, 3);  // masks 2 and 1
  Bits(w, {/*4*/ 0, /*24*/ 0, /*44*/ 0, /*0*/ 1, 0, 0, /*1*/ 1, /*2*/ 0, 1, /*3*/ 0, 0});
  Bits(w, {/*refine 0, 2, 3*/ 1, 1, 1, /*pushed 1*/ 1, 1, /*4*/ 0, 0, 0});
  uint32_t used;
  std::array<uint8_t, 64> r = Residue(w, 127, &used);
  EXPECT_EQ(used, w.bits);
  std::array<uint8_t, 64> expected{};
  expected[0] = 3;
  expected[1] = 0xFF;
  expected[2] = 0xFD;
  expected[3] = 3;
  EXPECT_EQ(r, expected);

  // Limit 4: the fifth operation (refining coded 2) is the last.
  r = Residue(w, 4, &used);
  EXPECT_EQ(used, 3u + 11 + 2);
  expected[1] = 0;
  expected[3] = 2;
  EXPECT_EQ(r, expected);

  // Limit 0 stops right after the first new value.
  r = Residue(w, 0, &used);
  EXPECT_EQ(used, 3u + 6);
  std::array<uint8_t, 64> first{};
  first[0] = 2;
  EXPECT_EQ(r, first);
}

}  // namespace
}  // namespace kivo
