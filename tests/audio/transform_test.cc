// SPDX-License-Identifier: BSD-2-Clause
// The two inverse transforms against their defining sums in double
// precision, their fixed identities, the tables they build, and the AVX
// kernels against the plain ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_kernels.h"

namespace kivo {
namespace {

// Whether this processor and build run the AVX kernels.
bool HaveAvx() { return &AudioKernelsFor(DetectedCpuFeatures()) != &plainAudioKernels; }

constexpr double kPi = 3.14159265358979323846;

struct Tables {
  std::vector<int32_t> work;
  std::vector<float> table;
  explicit Tables(uint32_t n, bool dct) : work(TransformWorkEntries(n), 0), table(TransformTableFloats(n, dct), 0.0f) {}
};

std::vector<float> RandomArray(uint32_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> a(n);
  for (float& v : a) v = dist(gen);
  return a;
}

std::vector<double> RealInverseSums(const std::vector<float>& a) {
  const uint32_t n = static_cast<uint32_t>(a.size());
  std::vector<double> cosine(n), sine(n), out(n);
  for (uint32_t i = 0; i < n; ++i) {
    cosine[i] = std::cos(2 * kPi * i / n);
    sine[i] = std::sin(2 * kPi * i / n);
  }
  for (uint32_t k = 0; k < n; ++k) {
    double s = (a[0] + (k & 1 ? -1.0 : 1.0) * a[1]) / 2;
    for (uint32_t j = 1; j < n / 2; ++j) {
      const uint32_t i = (j * k) % n;
      s += a[2 * j] * cosine[i] + a[2 * j + 1] * sine[i];
    }
    out[k] = s;
  }
  return out;
}

std::vector<double> CosineSums(const std::vector<float>& a) {
  const uint32_t n = static_cast<uint32_t>(a.size());
  std::vector<double> cosine(4 * n), out(n);
  for (uint32_t i = 0; i < 4 * n; ++i) cosine[i] = std::cos(kPi * i / (2 * n));
  for (uint32_t k = 0; k < n; ++k) {
    double s = 0;
    for (uint32_t j = 0; j < n; ++j) s += a[j] * cosine[(j * (2 * k + 1)) % (4 * n)];
    out[k] = s;
  }
  return out;
}

// Largest error relative to the largest output: a float transform of this
// length is good to a few times 1e-7; a wrong twiddle or a misplaced
// output shows up at 1e-2 or more.
double RelativeError(const std::vector<float>& got, const std::vector<double>& want) {
  double err = 0, scale = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    err = std::max(err, std::fabs(got[i] - want[i]));
    scale = std::max(scale, std::fabs(want[i]));
  }
  return err / scale;
}

class TransformLevels : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    if (GetParam() == 1 && !HaveAvx()) GTEST_SKIP() << "no AVX here";
    SetCpuFeatureMask(GetParam() ? kCpuAll : 0);
  }
  void TearDown() override { SetCpuFeatureMask(kCpuAll); }
};

TEST_P(TransformLevels, MatchDefiningSumsAtEveryLength) {
  for (uint32_t n = 64; n <= 4096; n *= 2) {
    const std::vector<float> in = RandomArray(n, n);
    Tables rt(n, false), ct(n, true);
    std::vector<float> a = in;
    RealInverseTransform(n, a.data(), rt.work.data(), rt.table.data());
    EXPECT_LT(RelativeError(a, RealInverseSums(in)), 1e-6) << "real, n = " << n;
    a = in;
    InverseCosineTransform(n, a.data(), ct.work.data(), ct.table.data());
    EXPECT_LT(RelativeError(a, CosineSums(in)), 1e-6) << "cosine, n = " << n;
  }
}

TEST_P(TransformLevels, FixedIdentities) {
  for (uint32_t n = 512; n <= 4096; n *= 2) {
    Tables rt(n, false), ct(n, true);
    std::vector<float> a(n, 0.0f);
    a[0] = 2;
    RealInverseTransform(n, a.data(), rt.work.data(), rt.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], 1.0f, 1e-6) << "n = " << n << ", k = " << k;
    std::fill(a.begin(), a.end(), 0.0f);
    a[1] = 2;
    RealInverseTransform(n, a.data(), rt.work.data(), rt.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], k & 1 ? -1.0f : 1.0f, 1e-6) << "n = " << n << ", k = " << k;
    std::fill(a.begin(), a.end(), 0.0f);
    a[0] = 1;
    InverseCosineTransform(n, a.data(), ct.work.data(), ct.table.data());
    for (uint32_t k = 0; k < n; ++k) ASSERT_NEAR(a[k], 1.0f, 1e-6) << "n = " << n << ", k = " << k;
  }
}

// Tables built for a longer transform serve a shorter one.
TEST_P(TransformLevels, LargerTablesServeShorterLengths) {
  Tables rt(4096, false), ct(4096, true);
  std::vector<float> a(4096, 0.0f);
  RealInverseTransform(4096, a.data(), rt.work.data(), rt.table.data());
  InverseCosineTransform(4096, a.data(), ct.work.data(), ct.table.data());
  for (uint32_t n = 512; n < 4096; n *= 2) {
    const std::vector<float> in = RandomArray(n, 7 * n);
    a = in;
    RealInverseTransform(n, a.data(), rt.work.data(), rt.table.data());
    EXPECT_LT(RelativeError(a, RealInverseSums(in)), 1e-6) << "real, n = " << n;
    a = in;
    InverseCosineTransform(n, a.data(), ct.work.data(), ct.table.data());
    EXPECT_LT(RelativeError(a, CosineSums(in)), 1e-6) << "cosine, n = " << n;
  }
  EXPECT_EQ(rt.work[0], 1024);
  EXPECT_EQ(ct.work[1], 4096);
}

INSTANTIATE_TEST_SUITE_P(Audio, TransformLevels, ::testing::Values(0u, 1u),
                         [](const ::testing::TestParamInfo<uint32_t>& p) { return p.param ? "Avx" : "Plain"; });

TEST(TransformTables, BuiltOnceWithTheirSizes) {
  for (uint32_t n = 512; n <= 4096; n *= 2) {
    for (bool dct : {false, true}) {
      Tables t(n, dct);
      std::vector<float> a = RandomArray(n, 3);
      if (dct)
        InverseCosineTransform(n, a.data(), t.work.data(), t.table.data());
      else
        RealInverseTransform(n, a.data(), t.work.data(), t.table.data());
      EXPECT_EQ(t.work[0], int32_t(n / 4));
      EXPECT_EQ(t.work[1], int32_t(dct ? n : n / 4));
      const Tables first = t;
      a = RandomArray(n, 4);
      if (dct)
        InverseCosineTransform(n, a.data(), t.work.data(), t.table.data());
      else
        RealInverseTransform(n, a.data(), t.work.data(), t.table.data());
      EXPECT_EQ(t.work, first.work);
      EXPECT_EQ(0, memcmp(t.table.data(), first.table.data(), t.table.size() * sizeof(float)));
    }
  }
}

TEST(TransformTables, TwiddleAndCosineValues) {
  const uint32_t n = 1024;
  Tables t(n, true);
  std::vector<float> a(n, 0.0f);
  InverseCosineTransform(n, a.data(), t.work.data(), t.table.data());
  const float* w = t.table.data();
  const double delta = static_cast<float>(kPi / 4 / 128);  // nw = 256, first table of 128 floats
  EXPECT_FLOAT_EQ(w[0], 1.0f);
  EXPECT_FLOAT_EQ(w[1], static_cast<float>(std::cos(128 * delta)));
  EXPECT_FLOAT_EQ(w[2], static_cast<float>(0.5 / std::cos(2 * delta)));
  EXPECT_FLOAT_EQ(w[3], static_cast<float>(0.5 / std::cos(6 * delta)));
  for (uint32_t j = 4; j < 128; j += 4) {
    ASSERT_EQ(w[j], static_cast<float>(std::cos(j * delta))) << j;
    ASSERT_EQ(w[j + 3], static_cast<float>(std::sin(3.0 * j * delta))) << j;
  }
  // The next table (64 floats at 128) takes every other group.
  EXPECT_EQ(w[128 + 8], w[16]);
  EXPECT_EQ(w[128 + 9], w[17]);
  const float* c = w + 256;
  const double cd = static_cast<float>(kPi / 4 / 512);
  EXPECT_EQ(c[0], static_cast<float>(std::cos(512 * cd)));
  EXPECT_EQ(c[512], static_cast<float>(0.5 * std::cos(512 * cd)));
  EXPECT_EQ(c[100], static_cast<float>(0.5 * std::cos(100 * cd)));
  EXPECT_EQ(c[1024 - 100], static_cast<float>(0.5 * std::sin(100 * cd)));
}

TEST(TransformKernels, PcmConversionRoundsToEvenAndClamps) {
  const float in[] = {0.5f, 1.5f, 2.5f, -0.5f, -1.5f, -2.5f, 2.4999998f, 32766.5f, 32767.4f, 32767.6f, 1e30f,
                      -32768.5f, -32768.6f, -1e30f};
  const int16_t want[] = {0, 2, 2, 0, -2, -2, 2, 32766, 32767, 32767, 32767, -32768, -32768, -32768};
  const uint32_t count = sizeof(in) / sizeof(in[0]);
  for (const AudioKernels* k : {&plainAudioKernels, avxAudioKernels}) {
    if (!k || (k == avxAudioKernels && !HaveAvx())) continue;
    int16_t out[count];
    k->toPcm(in, nullptr, count, 1.0f, out);
    for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(out[i], want[i]) << k->name << " " << in[i];
    // The product is formed in double precision: 3 * (1/6 rounded to float) is not 0.5.
    const float third = 3.0f;
    int16_t one;
    k->toPcm(&third, nullptr, 1, 0.5f, &one);
    EXPECT_EQ(one, 2) << k->name;
  }
}

}  // namespace
}  // namespace kivo
