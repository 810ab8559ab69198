// SPDX-License-Identifier: BSD-2-Clause
// Block decoding: the layouts of each rate class, coded channels read back
// as written, the 16-bit conversion, the cross-fade and its rounding, packed
// floats and quantisers, blocks cut short by the end of their chunk, and no
// allocation after the first block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_kernels.h"
#include "audio/audio_streams.h"
#include "base/memory.h"

namespace kivo {
namespace {

// Whether this processor and build run the AVX kernels.
bool HaveAvx() { return &AudioKernelsFor(DetectedCpuFeatures()) != &plainAudioKernels; }

using encode::AudioChannelCode;
using encode::AudioRun;
using test::Layout;
using test::ReferencePcm;
using test::ZeroChannel;

struct Decoder {
  AudioDecoder* d;
  Decoder(uint32_t rate, uint32_t channels, bool dct) : d(OpenAudioDecoder(rate, channels, dct)) {}
  ~Decoder() { CloseAudioDecoder(d); }
  // Decodes one block held in exactly its own bytes.
  std::vector<int16_t> Decode(const std::vector<uint8_t>& block, const uint8_t** next = nullptr,
                              uint32_t* bytes = nullptr) {
    const uint8_t* end = block.data() + block.size();
    const int16_t* samples = nullptr;
    const uint8_t* after = nullptr;
    const uint32_t n = DecodeAudioBlock(d, block.data(), end, &samples, &after);
    if (next) *next = after;
    if (bytes) *bytes = n;
    EXPECT_EQ(samples, d->output);
    return std::vector<int16_t>(d->output, d->output + d->blockBytes / 2);
  }
};

struct LayoutRow {
  uint32_t rate, channels;
  bool dct;
  uint32_t n, coded, blockBytes, overlapBytes, outputBytes;
};

const LayoutRow kRows[] = {
    {11025, 1, true, 512, 1, 1024, 64, 960},      {11025, 2, false, 1024, 1, 2048, 128, 1920},
    {11025, 2, true, 512, 2, 2048, 128, 1920},    {22050, 1, false, 1024, 1, 2048, 128, 1920},
    {22050, 2, false, 2048, 1, 4096, 256, 3840},  {22050, 2, true, 1024, 2, 4096, 256, 3840},
    {44100, 1, true, 2048, 1, 4096, 256, 3840},   {44100, 2, false, 4096, 1, 8192, 512, 7680},
    {48000, 2, true, 2048, 2, 8192, 512, 7680},
};

TEST(AudioLayouts, EveryRowOfTheBlockSizeTable) {
  for (const LayoutRow& row : kRows) {
    Decoder dec(row.rate, row.channels, row.dct);
    ASSERT_NE(dec.d, nullptr);
    EXPECT_EQ(dec.d->blockSize, row.n) << row.rate << " " << row.channels;
    EXPECT_EQ(dec.d->codedChannels, row.coded);
    EXPECT_EQ(dec.d->blockBytes, row.blockBytes);
    EXPECT_EQ(dec.d->overlapBytes, row.overlapBytes);
    EXPECT_EQ(dec.d->flags, row.dct ? kAudioDecoderDct : 0u);
    EXPECT_EQ(dec.d->outputScale, static_cast<float>(2 / std::sqrt(double(row.n))));
    EXPECT_EQ(dec.d->firstBlock, 1u);
    EXPECT_EQ(dec.d->transformWork[0], 0);
    const AudioLayout layout = Layout(row.rate, row.channels, row.dct);
    std::vector<AudioChannelCode> ch(layout.codedChannels, ZeroChannel(layout));
    uint32_t bytes = 0;
    dec.Decode(encode::WriteAudioBlock(layout, ch.data()), nullptr, &bytes);
    EXPECT_EQ(bytes, row.outputBytes);
  }
  // Rate class boundaries.
  EXPECT_EQ(Layout(22049, 1, true).blockSize, 512u);
  EXPECT_EQ(Layout(22050, 1, true).blockSize, 1024u);
  EXPECT_EQ(Layout(44099, 1, true).blockSize, 1024u);
  EXPECT_EQ(Layout(44100, 1, true).blockSize, 2048u);
  EXPECT_EQ(OpenAudioDecoder(22050, 0, 1), nullptr);
  EXPECT_EQ(OpenAudioDecoder(22050, 3, 0), nullptr);
}

TEST(AudioLayouts, BandsAndEdges) {
  Decoder dct(22050, 2, true);
  const uint32_t want[] = {1,   4,   9,   13,  18,  23,  29,  35,  42,  50,  58,  68,
                           79,  92,  107, 125, 146, 171, 204, 246, 297, 357, 441, 512};
  ASSERT_EQ(dct.d->bandCount, 23u);
  for (uint32_t i = 0; i <= 23; ++i) EXPECT_EQ(dct.d->bandEdges[i], want[i]) << i;

  Decoder rdft(22050, 2, false);
  EXPECT_EQ(rdft.d->bandCount, 25u);
  EXPECT_EQ(rdft.d->bandEdges[0], 1u);
  EXPECT_EQ(rdft.d->bandEdges[25], 1024u);
  for (uint32_t i = 0; i < 25; ++i) EXPECT_LT(rdft.d->bandEdges[i], rdft.d->bandEdges[i + 1]);

  EXPECT_EQ(Layout(11025, 1, true).bandCount, 20u);
  EXPECT_EQ(Layout(8000, 1, true).bandCount, 18u);
  EXPECT_EQ(Layout(8000, 1, true).bandEdges[18], 256u);
  // No band below 1 Hz: nothing is divided by a zero nyquist.
  EXPECT_EQ(Layout(0, 1, true).bandCount, 0u);
  EXPECT_EQ(Layout(1, 1, true).bandCount, 1u);
}

TEST(AudioValues, QuantisersAreTheFloatRoundingOfTheExactPower) {
  const long double factor = 0.0664f;
  for (uint32_t q = 0; q < 256; ++q) {
    const long double exact = std::pow(10.0L, q * factor);
    const float want = static_cast<float>(exact);
    ASSERT_EQ(QuantiserValue(q), want) << q;
    // Far enough from a rounding point that double precision cannot differ.
    const float below = std::nextafter(want, 0.0f), above = std::nextafter(want, 1e30f);
    const long double gapLow = (static_cast<long double>(want) + below) / 2, gapHigh = (static_cast<long double>(want) + above) / 2;
    EXPECT_GT(std::fabs(exact - gapLow) / exact, 1e-15L) << q;
    EXPECT_GT(std::fabs(gapHigh - exact) / exact, 1e-15L) << q;
  }
  EXPECT_EQ(QuantiserValue(0), 1.0f);
}

TEST(AudioValues, PackedFloats) {
  for (uint32_t e = 0; e < 32; ++e) {
    for (uint32_t m : {0u, 1u, 0x400000u, 0x7FFFFFu, 12345u}) {
      const float want = std::ldexp(static_cast<float>(m), static_cast<int>(e) - 23);
      EXPECT_EQ(PackedFloatValue(encode::PackedFloatFields(e, m, false)), want) << e << " " << m;
      EXPECT_EQ(PackedFloatValue(encode::PackedFloatFields(e, m, true)), -want) << e << " " << m;
    }
  }
  // Exponents past 23 continue the powers and stay finite.
  EXPECT_EQ(PackedFloatValue(encode::PackedFloatFields(31, 0x7FFFFF, true)), -8388607.0f * 256.0f);
  // Bits above 28 are not part of the value.
  EXPECT_EQ(PackedFloatValue(0xE0000000u | encode::PackedFloatFields(23, 5, false)), 5.0f);
  // The nearest value: within half a step of the finest exponent that holds x.
  for (float x : {0.0f, 1.0f, -1.0f, 0.3f, -1234.5f, 8388607.0f, 3e-8f, 1e-9f}) {
    const float step = std::max(std::ldexp(1.0f, std::ilogb(x == 0 ? 1.0f : x) - 22), std::ldexp(1.0f, -23));
    EXPECT_LE(std::fabs(PackedFloatValue(encode::PackFloat(x)) - x), step / 2) << x;
  }
  EXPECT_EQ(PackedFloatValue(encode::PackFloat(0.3f)), std::ldexp(std::nearbyint(0.3f * 8388608.0f), -23));
  EXPECT_EQ(PackedFloatValue(encode::PackFloat(1e12f)), 8388607.0f);
}

class AudioRoundTrip : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    if (GetParam() == 1 && !HaveAvx()) GTEST_SKIP() << "no AVX here";
    SetCpuFeatureMask(GetParam() ? kCpuAll : 0);
  }
  void TearDown() override { SetCpuFeatureMask(kCpuAll); }
};

// What the writer puts down the decoder gives back, in every layout and at
// every width, and the next block starts right after the last word read.
TEST_P(AudioRoundTrip, BlocksReadBackAsWritten) {
  std::mt19937 gen(11);
  for (const LayoutRow& row : kRows) {
    const AudioLayout layout = Layout(row.rate, row.channels, row.dct);
    for (uint32_t width : {1u, 4u, 9u, 15u}) {
      std::vector<AudioChannelCode> ch;
      for (uint32_t c = 0; c < layout.codedChannels; ++c) ch.push_back(test::RandomChannel(layout, gen, width));
      const std::vector<uint8_t> block = encode::WriteAudioBlock(layout, ch.data(), 3);
      ASSERT_FALSE(block.empty());
      Decoder dec(row.rate, row.channels, row.dct);
      const uint8_t* next = nullptr;
      EXPECT_EQ(dec.Decode(block, &next), ReferencePcm(layout, ch.data())) << row.rate << " width " << width;
      EXPECT_EQ(next, block.data() + block.size());
    }
  }
}

// A long run asks for up to 512 coefficients and stops at N; the same values
// in short runs decode the same.
TEST_P(AudioRoundTrip, LongRunsAreCutAtTheBlockEnd) {
  const AudioLayout layout = Layout(8000, 1, true);  // N = 512
  std::mt19937 gen(5);
  AudioChannelCode ch = test::RandomChannel(layout, gen, 6);
  const std::vector<AudioRun> one = {{15, 6}};
  const std::vector<AudioRun> three = {{-1, 6}, {-1, 6}, {15, 6}};
  ASSERT_GT(encode::RunBits(ch.values, one), 0u);
  ASSERT_GT(encode::RunBits(ch.values, three), 0u);
  const std::vector<uint8_t> a = encode::WriteAudioBlock(layout, &ch, 0, &one);
  const std::vector<uint8_t> b = encode::WriteAudioBlock(layout, &ch, 0, &three);
  const std::vector<uint8_t> c = encode::WriteAudioBlock(layout, &ch);
  const std::vector<int16_t> want = ReferencePcm(layout, &ch);
  for (const std::vector<uint8_t>* block : {&a, &b, &c}) {
    // Set bits after the block: a run read past N would take them.
    std::vector<uint8_t> bytes = *block;
    bytes.resize(block->size() + 256, 0xFF);
    Decoder fresh(8000, 1, true);
    const uint8_t* next = nullptr;
    DecodeAudioBlock(fresh.d, bytes.data(), bytes.data() + bytes.size(), nullptr, &next);
    EXPECT_EQ(std::vector<int16_t>(fresh.d->output, fresh.d->output + 512), want);
    EXPECT_EQ(next, bytes.data() + block->size());
  }
}

// Sparse spectra: long zero runs cross band edges, and the band a later
// value falls in still gets its own quantiser.
TEST_P(AudioRoundTrip, ZeroRunsCrossingBands) {
  std::mt19937 gen(21);
  for (const LayoutRow& row : {kRows[0], kRows[4], kRows[8]}) {
    const AudioLayout layout = Layout(row.rate, row.channels, row.dct);
    for (uint32_t round = 0; round < 8; ++round) {
      std::vector<AudioChannelCode> ch(layout.codedChannels, ZeroChannel(layout));
      for (AudioChannelCode& c : ch) {
        for (uint32_t b = 0; b < layout.bandCount; ++b) c.bands[b] = static_cast<uint8_t>(gen() % 160);
        for (uint32_t i = 2; i < layout.blockSize; ++i)
          if (gen() % 40 == 0) c.values[i] = int32_t(gen() % 61) - 30;
      }
      const std::vector<uint8_t> block = encode::WriteAudioBlock(layout, ch.data());
      EXPECT_EQ(Decoder(row.rate, row.channels, row.dct).Decode(block), ReferencePcm(layout, ch.data()))
          << row.rate << " round " << round;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Audio, AudioRoundTrip, ::testing::Values(0u, 1u),
                         [](const ::testing::TestParamInfo<uint32_t>& p) { return p.param ? "Avx" : "Plain"; });

// 22050 Hz mono: N = 1024 and scale 1/16, so a block with only k[0] = 32x
// gives x in every position.
std::vector<uint8_t> DcBlock(float value, const AudioLayout& layout) {
  AudioChannelCode ch = ZeroChannel(layout, 32 * value);
  return encode::WriteAudioBlock(layout, &ch);
}

TEST(AudioConversion, RoundsTiesToEvenAndClamps) {
  const AudioLayout layout = Layout(22050, 1, false);
  for (const auto& [value, want] : std::vector<std::pair<float, int16_t>>{
           {2.5f, 2}, {3.5f, 4}, {-2.5f, -2}, {-3.5f, -4}, {7.0f, 7}, {40000.0f, 32767}, {-40000.0f, -32768}}) {
    Decoder dec(22050, 1, false);
    const std::vector<int16_t> out = dec.Decode(DcBlock(value, layout));
    for (int16_t v : out) ASSERT_EQ(v, want) << value;
  }
  // Exponent 31 in k[0]: 2^8 x (2^23 - 1), clamped like any large value.
  AudioChannelCode ch = ZeroChannel(layout);
  ch.k0 = encode::PackedFloatFields(31, 0x7FFFFF, true);
  Decoder dec(22050, 1, false);
  for (int16_t v : dec.Decode(encode::WriteAudioBlock(layout, &ch))) ASSERT_EQ(v, -32768);
  ch.k0 = encode::PackedFloatFields(24, 32, false);  // 64 -> 2 everywhere
  Decoder dec2(22050, 1, false);
  for (int16_t v : dec2.Decode(encode::WriteAudioBlock(layout, &ch))) ASSERT_EQ(v, 2);
}

TEST(AudioCrossFade, FirstBlockUnblendedLaterBlocksFade) {
  const AudioLayout layout = Layout(22050, 1, false);
  Decoder dec(22050, 1, false);
  const uint32_t v = dec.d->overlapBytes / 2;  // 64
  std::vector<int16_t> first = dec.Decode(DcBlock(64, layout));
  for (int16_t s : first) ASSERT_EQ(s, 64);  // no fade with silence before it
  EXPECT_EQ(dec.d->firstBlock, 0u);
  EXPECT_EQ(0, memcmp(dec.d->overlapSave, first.data() + first.size() - v, 2 * v));
  const std::vector<int16_t> second = dec.Decode(DcBlock(0, layout));
  for (uint32_t i = 0; i < v; ++i) EXPECT_EQ(second[i], int16_t(64 - i)) << i;
  for (uint32_t i = v; i < second.size(); ++i) ASSERT_EQ(second[i], 0) << i;

  // Negative sums round toward minus infinity: -1 faded into 0 stays -1.
  Decoder neg(22050, 1, false);
  neg.Decode(DcBlock(-1, layout));
  const std::vector<int16_t> faded = neg.Decode(DcBlock(0, layout));
  for (uint32_t i = 0; i < v; ++i) ASSERT_EQ(faded[i], -1) << i;
  EXPECT_EQ(faded[v], 0);
}

// The weights count interleaved values: left and right of one frame get
// consecutive ones.
TEST(AudioCrossFade, StereoWeightsCountInterleavedValues) {
  const AudioLayout layout = Layout(22050, 2, true);  // N = 1024: k[0] = x gives x / 16
  std::vector<AudioChannelCode> loud(2, ZeroChannel(layout, 128 * 16)), quiet(2, ZeroChannel(layout));
  Decoder dec(22050, 2, true);
  for (int16_t s : dec.Decode(encode::WriteAudioBlock(layout, loud.data()))) ASSERT_EQ(s, 128);
  const std::vector<int16_t> out = dec.Decode(encode::WriteAudioBlock(layout, quiet.data()));
  const uint32_t v = dec.d->overlapBytes / 2;
  ASSERT_EQ(v, 128u);
  for (uint32_t i = 0; i < v; ++i) ASSERT_EQ(out[i], int16_t(128 - i)) << i;
  // Channels are interleaved frame by frame.
  std::vector<AudioChannelCode> split = {ZeroChannel(layout, 5 * 16), ZeroChannel(layout, -7 * 16)};
  Decoder fresh(22050, 2, true);
  const std::vector<int16_t> lr = fresh.Decode(encode::WriteAudioBlock(layout, split.data()));
  for (uint32_t i = 0; i < lr.size(); i += 2) {
    ASSERT_EQ(lr[i], 5);
    ASSERT_EQ(lr[i + 1], -7);
  }
}

// The two bits ahead of a DCT block are not part of it.
TEST(AudioBlocks, DctLeadBitsAreSkipped) {
  const AudioLayout layout = Layout(11025, 1, true);
  std::mt19937 gen(3);
  AudioChannelCode ch = test::RandomChannel(layout, gen, 5);
  const std::vector<int16_t> a = Decoder(11025, 1, true).Decode(encode::WriteAudioBlock(layout, &ch, 0));
  const std::vector<int16_t> b = Decoder(11025, 1, true).Decode(encode::WriteAudioBlock(layout, &ch, 3));
  EXPECT_EQ(a, b);
}

// A block cut by the end of its chunk reads nothing past the end: the
// missing bits count as zeros, and the next position is the end.
TEST(AudioBlocks, BitsRunningOutFinishTheBlockWithZeros) {
  const AudioLayout layout = Layout(22050, 2, true);
  std::mt19937 gen(8);
  std::vector<AudioChannelCode> ch = {test::RandomChannel(layout, gen, 7), test::RandomChannel(layout, gen, 7)};
  const std::vector<uint8_t> block = encode::WriteAudioBlock(layout, ch.data());
  for (uint32_t cut : {0u, 1u, 5u, 64u, 201u, static_cast<uint32_t>(block.size() / 2), static_cast<uint32_t>(block.size() - 1)}) {
    std::vector<uint8_t> padded(block.size() + 64, 0xFF);  // what lies after the chunk
    memcpy(padded.data(), block.data(), cut);
    std::vector<uint8_t> zeros(block.size() + 64, 0);
    memcpy(zeros.data(), block.data(), cut);
    Decoder cutDec(22050, 2, true), zeroDec(22050, 2, true);
    const int16_t* s;
    const uint8_t* next;
    ASSERT_EQ(DecodeAudioBlock(cutDec.d, padded.data(), padded.data() + cut, &s, &next), 3840u);
    EXPECT_EQ(next, padded.data() + cut) << cut;
    DecodeAudioBlock(zeroDec.d, zeros.data(), zeros.data() + zeros.size(), nullptr, nullptr);
    EXPECT_EQ(0, memcmp(cutDec.d->output, zeroDec.d->output, 4096)) << cut;
  }
}

TEST(AudioBlocks, NothingIsAllocatedAfterTheFirstBlock) {
  const AudioLayout layout = Layout(44100, 2, false);
  std::mt19937 gen(2);
  AudioChannelCode ch = test::RandomChannel(layout, gen, 8);
  const std::vector<uint8_t> block = encode::WriteAudioBlock(layout, &ch);
  Decoder warm(44100, 2, false);
  warm.Decode(block);  // any table built on first use exists from here on
  const uint32_t before = MemAllocCount();
  Decoder dec(44100, 2, false);
  EXPECT_EQ(MemAllocCount(), before + 1);  // the record and its arrays are one block
  for (int i = 0; i < 500; ++i) dec.Decode(block);
  EXPECT_EQ(MemAllocCount(), before + 1);
}

}  // namespace
}  // namespace kivo
