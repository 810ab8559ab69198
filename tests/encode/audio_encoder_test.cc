// The audio encoder through the decoder: forward transforms undone by the
// decoder's inverse ones, round trips of every layout and rate class with an
// SNR bound, joins between blocks and frames without clicks, silence, the
// decoded length and the lead-in schedule, and the band rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "encode/audio_encoder.h"
#include "encode/encoder.h"
#include "movie/container.h"

namespace kivo {
namespace {

using encode::AudioMode;
using encode::AudioTrackSettings;

// Test signals, interleaved, peak near `amplitude`.
std::vector<int16_t> Tone(uint32_t rate, uint32_t channels, uint32_t frames, double hz, double amplitude) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (uint32_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c)
      s[size_t(i) * channels + c] =
          int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * (c + 1) * i / rate)));
  return s;
}

std::vector<int16_t> Noise(uint32_t channels, uint32_t frames, double amplitude, uint32_t seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0, amplitude / 3);
  std::vector<int16_t> s(size_t(frames) * channels);
  for (auto& v : s) v = int16_t(std::clamp(std::lround(normal(gen)), -32768L, 32767L));
  return s;
}

// Chords of decaying notes with harmonics, one after another.
std::vector<int16_t> Notes(uint32_t rate, uint32_t channels, uint32_t frames) {
  std::vector<int16_t> s(size_t(frames) * channels);
  const double notes[] = {220, 277.2, 329.6, 440, 392, 293.7};
  const uint32_t noteFrames = rate / 4;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i % noteFrames) / rate, f = notes[(i / noteFrames) % 6];
    double v = 0;
    for (int h = 1; h <= 5; ++h) v += std::sin(2 * std::numbers::pi * f * h * i / rate) / h;
    v *= 9000 * std::exp(-4 * t);
    for (uint32_t c = 0; c < channels; ++c) s[size_t(i) * channels + c] = int16_t(std::lround(c ? 0.7 * v : v));
  }
  return s;
}

struct Decoded {
  std::vector<int16_t> pcm;
  std::vector<uint32_t> chunkBytes;  // D of each frame's packet (0: none)
  uint64_t packetBytes = 0;
};

void Collect(void* context, const int16_t* samples, uint32_t bytes) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), samples, samples + bytes / 2);
}

// Encodes the whole input into `movieFrames` packets and decodes them in order
// as the player does.
Decoded RoundTrip(const AudioTrackSettings& s, const std::vector<int16_t>& input, uint32_t movieFrames,
                  uint32_t rateNum = 25, uint32_t rateDen = 1) {
  Decoded d;
  std::vector<std::vector<uint8_t>> packets;
  std::string error;
  EXPECT_TRUE(encode::EncodeAudio(s, input.data(), uint32_t(input.size() / s.channels), movieFrames, rateNum,
                                  rateDen, packets, &error))
      << error;
  AudioDecoder* decoder = OpenAudioDecoder(s.rate, s.channels, s.mode == AudioMode::kDct);
  EXPECT_NE(decoder, nullptr);
  if (!decoder) return d;
  for (const auto& p : packets) {
    d.packetBytes += p.size();
    d.chunkBytes.push_back(p.empty() ? 0 : ReadLe32(p.data()));
    if (!p.empty()) {
      const uint32_t got = DecodeAudioChunk(decoder, p.data(), uint32_t(p.size()), Collect, &d.pcm);
      EXPECT_EQ(got, d.chunkBytes.back());
    }
  }
  CloseAudioDecoder(decoder);
  return d;
}

double Snr(const std::vector<int16_t>& want, const std::vector<int16_t>& got) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const double e = double(i < got.size() ? got[i] : 0) - want[i];
    signal += double(want[i]) * want[i];
    noise += e * e;
  }
  return noise == 0 ? 200 : 10 * std::log10(signal / noise);
}

TEST(AudioForwardTransforms, UndoneByTheDecodersInverse) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> value(-1000, 1000);
  for (uint32_t n : {512u, 1024u, 2048u, 4096u}) {
    for (bool dct : {false, true}) {
      std::vector<float> x(n), k(n);
      for (auto& v : x) v = value(gen);
      encode::ForwardTransformPlan plan;
      ASSERT_TRUE(encode::PrepareForwardTransform(plan, n));
      if (dct) encode::ForwardCosineTransform(plan, x.data(), k.data());
      else encode::ForwardRealTransform(plan, x.data(), k.data());
      std::vector<int32_t> work(TransformWorkEntries(n), 0);
      std::vector<float> table(TransformTableFloats(n, dct));
      if (dct) InverseCosineTransform(n, k.data(), work.data(), table.data());
      else RealInverseTransform(n, k.data(), work.data(), table.data());
      double worst = 0;
      for (uint32_t i = 0; i < n; ++i) worst = std::max(worst, double(std::fabs(k[i] - x[i])));
      EXPECT_LT(worst, 0.05) << "n " << n << (dct ? " dct" : " rdft");
    }
  }
  encode::ForwardTransformPlan plan;
  EXPECT_FALSE(encode::PrepareForwardTransform(plan, 1000));
}

TEST(AudioForwardTransforms, PutsATonesEnergyInItsBin) {
  // A cosine at bin 5 of 512 lands in k[10] (real part) only; a DC level in
  // k[0]; the cosine transform's basis function 7 in k[7].
  const uint32_t n = 512;
  std::vector<float> x(n), k(n);
  encode::ForwardTransformPlan plan;
  ASSERT_TRUE(encode::PrepareForwardTransform(plan, n));
  for (uint32_t m = 0; m < n; ++m) x[m] = float(100 * std::cos(2 * std::numbers::pi * 5 * m / n) + 3);
  encode::ForwardRealTransform(plan, x.data(), k.data());
  EXPECT_NEAR(k[0], 6, 1e-3);
  EXPECT_NEAR(k[10], 100, 1e-3);
  for (uint32_t j = 1; j < n; ++j)
    if (j != 10) {
      EXPECT_NEAR(k[j], 0, 1e-3) << j;
    }
  for (uint32_t m = 0; m < n; ++m) x[m] = float(50 * std::cos(std::numbers::pi * 7 * (m + 0.5) / n));
  encode::ForwardCosineTransform(plan, x.data(), k.data());
  for (uint32_t j = 0; j < n; ++j) EXPECT_NEAR(k[j], j == 7 ? 50 : 0, 1e-3) << j;
}

TEST(AudioRoundTrip, EveryLayoutAndRateKeepsToneAndNoise) {
  for (uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u, 65535u}) {
    for (uint32_t channels : {1u, 2u}) {
      for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
        AudioTrackSettings s;
        s.rate = rate;
        s.channels = channels;
        s.mode = mode;
        const uint32_t frames = rate / 2;  // half a second
        const std::string what = std::to_string(rate) + (channels == 2 ? " stereo " : " mono ") +
                                 (mode == AudioMode::kDct ? "dct" : "rdft");
        std::vector<int16_t> tone = Tone(rate, channels, frames, rate / 37.0, 12000);
        Decoded d = RoundTrip(s, tone, 20);
        ASSERT_EQ(d.pcm.size(), tone.size()) << what;
        EXPECT_GT(Snr(tone, d.pcm), 30) << what;
        std::vector<int16_t> noise = Noise(channels, frames, 20000, rate);
        d = RoundTrip(s, noise, 20);
        ASSERT_EQ(d.pcm.size(), noise.size()) << what;
        EXPECT_GT(Snr(noise, d.pcm), 30) << what;
        std::vector<int16_t> music = Notes(rate, channels, frames);
        d = RoundTrip(s, music, 20);
        ASSERT_EQ(d.pcm.size(), music.size()) << what;
        EXPECT_GT(Snr(music, d.pcm), 30) << what;
      }
    }
  }
}

}  // namespace
}  // namespace kivo
