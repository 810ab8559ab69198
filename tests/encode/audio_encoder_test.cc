// SPDX-License-Identifier: BSD-2-Clause
// The audio encoder through the decoder: forward transforms undone by the
// decoder's inverse ones, round trips of every layout and rate class with an
// SNR bound, joins between blocks and frames without clicks, silence, the
// decoded length and the lead-in schedule, and the band rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// Largest sample-to-sample step of channel c.
int32_t LargestStep(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t c) {
  int32_t worst = 0;
  for (size_t i = c + channels; i < pcm.size(); i += channels)
    worst = std::max(worst, std::abs(int32_t(pcm[i]) - pcm[i - channels]));
  return worst;
}

TEST(AudioRoundTrip, NoClicksWhereBlocksAndFramesJoin) {
  // Where blocks join, the decoder fades from one into the next. When the
  // blocks line up there, the decoded sine steps about as far as its own
  // largest step (plus the coding noise), and the coding error steps at the
  // joins no further than a few times what it does inside the blocks.
  for (uint32_t rate : {8000u, 22050u, 44100u}) {
    for (uint32_t channels : {1u, 2u}) {
      for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
        for (uint32_t quality : {75u, 100u}) {
          AudioTrackSettings s;
          s.rate = rate;
          s.channels = channels;
          s.mode = mode;
          s.quality = quality;
          encode::AudioEncoder e;
          std::string error;
          ASSERT_TRUE(encode::OpenAudioEncoder(e, s, 25, 1, &error));
          const uint32_t step = e.stepFrames, fade = e.blockFrames - e.stepFrames;
          const double hz = 441, amplitude = 16000;
          std::vector<int16_t> tone = Tone(rate, channels, rate, hz, amplitude);
          Decoded d = RoundTrip(s, tone, 25);
          ASSERT_EQ(d.pcm.size(), tone.size());
          const std::string what = std::to_string(rate) + (mode == AudioMode::kDct ? " dct" : " rdft") + " quality " +
                                   std::to_string(quality);
          for (uint32_t c = 0; c < channels; ++c) {
            int32_t atJoins = 0, inside = 0;
            for (uint32_t i = 1; i < rate; ++i) {
              const size_t at = size_t(i) * channels + c, before = at - channels;
              const int32_t jump = std::abs((d.pcm[at] - tone[at]) - (d.pcm[before] - tone[before]));
              const uint32_t p = i % step;
              int32_t& worst = p <= fade + 1 || p + 1 >= step ? atJoins : inside;
              worst = std::max(worst, jump);
            }
            EXPECT_LE(atJoins, inside * 3 + 8) << what << " channel " << c;
            const double own = 2 * std::numbers::pi * hz * (c + 1) / rate * amplitude;
            const int32_t largest = LargestStep(d.pcm, channels, c);
            EXPECT_LE(largest, own + 2 * inside + 2) << what << " channel " << c;
          }
        }
      }
    }
  }
}

TEST(AudioRoundTrip, SilenceStaysSilence) {
  for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
    for (uint32_t channels : {1u, 2u}) {
      AudioTrackSettings s;
      s.rate = 22050;
      s.channels = channels;
      s.mode = mode;
      // Silence, a burst of noise, silence again: only blocks touching the
      // burst, and the next one (whose head takes back what the fade moved),
      // may differ from zero.
      const uint32_t frames = 22050;
      std::vector<int16_t> input(size_t(frames) * channels, 0);
      std::vector<int16_t> burst = Noise(channels, 2000, 20000, 3);
      std::copy(burst.begin(), burst.end(), input.begin() + size_t(8000) * channels);
      Decoded d = RoundTrip(s, input, 25);
      ASSERT_EQ(d.pcm.size(), input.size());
      const uint32_t block = 1024;  // frames a block rebuilds at this rate
      for (uint32_t i = 0; i < frames; ++i) {
        if (i + block > 8000 && i < 10000 + 2 * block) continue;
        for (uint32_t c = 0; c < channels; ++c) ASSERT_EQ(d.pcm[size_t(i) * channels + c], 0) << "frame " << i;
      }
      EXPECT_GT(Snr(input, d.pcm), 30);
      // Silence alone costs little: every run is a zero run.
      std::vector<int16_t> quiet(size_t(frames) * channels, 0);
      Decoded q = RoundTrip(s, quiet, 25);
      EXPECT_EQ(q.pcm, quiet);
      const uint32_t blocks = (frames + 959) / 960;
      EXPECT_LT(q.packetBytes, blocks * 40u * channels);
    }
  }
}

TEST(AudioRoundTrip, EightBitTracksAndFullScale) {
  AudioTrackSettings s;
  s.rate = 11025;
  s.channels = 1;
  s.bits = 8;
  // What an 8-bit WAV gives: samples in steps of 256.
  std::vector<int16_t> input = Notes(11025, 1, 11025);
  for (auto& v : input) v = int16_t(v / 256 * 256);
  for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
    s.mode = mode;
    Decoded d = RoundTrip(s, input, 25);
    ASSERT_EQ(d.pcm.size(), input.size());
    EXPECT_GT(Snr(input, d.pcm), 25);
  }
  // A clipped square wave at full scale: the largest coefficients still fit
  // their 15 bits and the output stays in range.
  s.bits = 16;
  std::vector<int16_t> square(11025);
  for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? 32767 : -32768;
  for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
    s.mode = mode;
    Decoded d = RoundTrip(s, square, 25);
    ASSERT_EQ(d.pcm.size(), square.size());
    EXPECT_GT(Snr(square, d.pcm), 25);
  }
}

TEST(AudioRoundTrip, HigherQualityCostsMoreAndKeepsMore) {
  std::vector<int16_t> music = Notes(22050, 2, 22050);
  for (AudioMode mode : {AudioMode::kRdft, AudioMode::kDct}) {
    double lastSnr = 0;
    uint64_t lastBytes = 0;
    for (uint32_t quality : {10u, 40u, 75u, 100u}) {
      AudioTrackSettings s;
      s.rate = 22050;
      s.channels = 2;
      s.mode = mode;
      s.quality = quality;
      Decoded d = RoundTrip(s, music, 25);
      const double snr = Snr(music, d.pcm);
      EXPECT_GT(snr, lastSnr + 5) << quality;
      EXPECT_GT(d.packetBytes, lastBytes) << quality;
      lastSnr = snr;
      lastBytes = d.packetBytes;
    }
    EXPECT_GT(lastSnr, 45);
  }
}

// Output bytes per block for the settings.
uint32_t BlockOutput(const AudioTrackSettings& s) {
  AudioLayout l;
  ComputeAudioLayout(s.rate, s.channels, s.mode == AudioMode::kDct, &l);
  return l.blockBytes - l.overlapBytes;
}

TEST(AudioSchedule, LeadInThenEachFramesShareInWholeBlocks) {
  struct Case {
    uint32_t rate, channels, rateNum, rateDen;
  } cases[] = {{22050, 2, 25, 1}, {8000, 1, 25, 1}, {44100, 2, 30000, 1001}, {11025, 1, 1, 2}, {65535, 2, 60, 1}};
  for (const Case& c : cases) {
    AudioTrackSettings s;
    s.rate = c.rate;
    s.channels = c.channels;
    s.mode = AudioMode::kDct;
    const uint32_t frameBytes = 2 * c.channels, block = BlockOutput(s);
    const uint32_t movieFrames = 120;
    // Three quarters of the movie's time: the sound ends before the pictures.
    const uint32_t inputFrames = uint32_t(uint64_t(c.rate) * movieFrames * c.rateDen / c.rateNum * 3 / 4);
    std::vector<int16_t> input = Noise(c.channels, inputFrames, 3000, 9);
    Decoded d = RoundTrip(s, input, movieFrames, c.rateNum, c.rateDen);
    ASSERT_EQ(d.chunkBytes.size(), movieFrames);
    const double lead = 0.75 * c.rate * frameBytes;
    uint64_t sum = 0;
    bool ended = false, sawEmpty = false;
    for (uint32_t f = 0; f < movieFrames; ++f) {
      const uint32_t bytes = d.chunkBytes[f];
      sum += bytes;
      if (sum == uint64_t(inputFrames) * frameBytes) {
        if (!ended) {
          ended = true;
          continue;  // the last chunk may end inside its last block
        }
        EXPECT_EQ(bytes, 0u) << "frame " << f + 1 << " after the end";
        continue;
      }
      ASSERT_FALSE(ended);
      EXPECT_EQ(bytes % block, 0u) << "frame " << f + 1;
      sawEmpty = sawEmpty || bytes == 0;
      // Ahead of the frames played by the lead-in, never by a block more.
      const double due = lead + double(f) * c.rate * c.rateDen / c.rateNum * frameBytes;
      EXPECT_GE(double(sum), due) << "frame " << f + 1;
      EXPECT_LT(double(sum), due + block) << "frame " << f + 1;
    }
    EXPECT_TRUE(ended) << c.rate;
    EXPECT_EQ(d.pcm.size(), input.size());
    if (c.rate == 22050) {
      // The known first packet of such a movie: 18 blocks of 960 frames,
      // then a block in most frames.
      EXPECT_EQ(d.chunkBytes[0], 69120u);
      EXPECT_EQ(d.chunkBytes[1], 3840u);
    }
    // Frames shorter than a block must sometimes carry none.
    const double perFrame = double(c.rate) * c.rateDen / c.rateNum * frameBytes;
    if (perFrame < block) {
      EXPECT_TRUE(sawEmpty) << c.rate;
    }
  }
}

TEST(AudioSchedule, FedInPiecesAsTheWholeTrack) {
  AudioTrackSettings s;
  s.rate = 44100;
  s.channels = 2;
  const uint32_t movieFrames = 30, frames = 44100;
  std::vector<int16_t> input = Notes(44100, 2, frames);
  std::vector<std::vector<uint8_t>> whole;
  std::string error;
  ASSERT_TRUE(encode::EncodeAudio(s, input.data(), frames, movieFrames, 25, 1, whole, &error)) << error;

  encode::AudioEncoder e;
  ASSERT_TRUE(encode::OpenAudioEncoder(e, s, 25, 1, &error)) << error;
  std::vector<uint8_t> packet;
  // Nothing can be coded before the input the first frame needs is there.
  EXPECT_GE(encode::AudioInputWanted(e), uint64_t(0.75 * 44100));
  EXPECT_FALSE(encode::EncodeAudioFrame(e, packet, &error));
  uint64_t given = 0;
  for (uint32_t f = 0; f < movieFrames; ++f) {
    const uint64_t wanted = std::min<uint64_t>(encode::AudioInputWanted(e), frames);
    while (given < wanted) {
      const uint32_t piece = uint32_t(std::min<uint64_t>(wanted - given, 777));
      encode::AddAudioInput(e, input.data() + given * 2, piece);
      given += piece;
    }
    if (given == frames) encode::EndAudioInput(e);
    ASSERT_TRUE(encode::EncodeAudioFrame(e, packet, &error)) << error;
    EXPECT_EQ(packet, whole[f]) << "frame " << f + 1;
  }
  EXPECT_EQ(encode::AudioFramesCarried(e), frames);
  EXPECT_EQ(encode::AudioFramesLeftOver(e), 0u);
}

TEST(AudioSchedule, SoundBeyondTheLastFrameIsLeftOver) {
  AudioTrackSettings s;
  s.rate = 8000;
  s.channels = 1;
  encode::AudioEncoder e;
  std::string error;
  ASSERT_TRUE(encode::OpenAudioEncoder(e, s, 10, 1, &error));
  std::vector<int16_t> input = Noise(1, 80000, 1000, 2);  // 10 s
  encode::AddAudioInput(e, input.data(), 80000);
  encode::EndAudioInput(e);
  std::vector<uint8_t> packet;
  for (int f = 0; f < 10; ++f) ASSERT_TRUE(encode::EncodeAudioFrame(e, packet, &error));
  // 10 frames of 0.1 s after a 0.75 s lead-in: 1.65 s, in whole blocks.
  const uint64_t carried = encode::AudioFramesCarried(e), block = BlockOutput(s) / 2;
  EXPECT_GE(carried, 8000u * 165 / 100);
  EXPECT_LT(carried, 8000u * 165 / 100 + block);
  EXPECT_EQ(carried % block, 0u);
  EXPECT_EQ(encode::AudioFramesLeftOver(e), 80000 - carried);
}

TEST(AudioEncoderSettings, TrackWordsAndRefusals) {
  AudioTrackSettings s;
  s.rate = 22050;
  s.channels = 2;
  s.mode = AudioMode::kDct;
  EXPECT_EQ(encode::AudioTrackWord(s), 0x70005622u);
  s.mode = AudioMode::kRdft;
  s.channels = 1;
  s.bits = 8;
  EXPECT_EQ(encode::AudioTrackWord(s), kAudioCodingA | 22050u);
  encode::AudioEncoder e;
  std::string error;
  const AudioTrackSettings good = s;
  EXPECT_TRUE(encode::OpenAudioEncoder(e, good, 25, 1, &error));
  AudioTrackSettings bad[6] = {good, good, good, good, good, good};
  bad[0].rate = 0;
  bad[1].rate = 65536;
  bad[2].channels = 3;
  bad[3].bits = 12;
  bad[4].quality = 0;
  bad[5].quality = 101;
  for (const AudioTrackSettings& b : bad) {
    error.clear();
    EXPECT_FALSE(encode::OpenAudioEncoder(e, b, 25, 1, &error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_FALSE(encode::OpenAudioEncoder(e, good, 0, 1, &error));
}

TEST(AudioBands, LouderBandsGetCoarserQuantisers) {
  AudioTrackSettings s;
  s.rate = 44100;
  s.channels = 1;
  s.mode = AudioMode::kDct;
  encode::AudioEncoder e;
  std::string error;
  ASSERT_TRUE(encode::OpenAudioEncoder(e, s, 25, 1, &error));
  const uint32_t n = e.layout.blockSize;
  // Flat spectra 20 dB apart in bands 5 and 10; nothing elsewhere.
  std::vector<float> k(n, 0.0f);
  std::mt19937 gen(4);
  std::normal_distribution<float> normal(0, 1);
  auto fill = [&](uint32_t band, float level) {
    for (uint32_t i = 2 * e.layout.bandEdges[band]; i < 2 * e.layout.bandEdges[band + 1]; ++i)
      k[i] = level * normal(gen);
  };
  fill(5, 1000);
  fill(10, 100);
  encode::AudioChannelCode code;
  encode::ChooseAudioBands(e, k.data(), &code);
  // 20 dB is 10^(20/20) in step size: about 15 codes of 10^0.0664.
  EXPECT_NEAR(int(code.bands[5]) - int(code.bands[10]), 15, 2);
  // The noise left in each loud band is the set ratio below its power.
  for (uint32_t band : {5u, 10u}) {
    double signal = 0, noise = 0;
    const float q = QuantiserValue(code.bands[band]);
    for (uint32_t i = 2 * e.layout.bandEdges[band]; i < 2 * e.layout.bandEdges[band + 1]; ++i) {
      signal += double(k[i]) * k[i];
      const double err = code.values[i] * double(q) - k[i];
      noise += err * err;
    }
    EXPECT_NEAR(10 * std::log10(signal / noise), 33, 2.5) << band;
  }
}

}  // namespace
}  // namespace kivo
