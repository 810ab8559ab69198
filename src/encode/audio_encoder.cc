// SPDX-License-Identifier: BSD-2-Clause
// The audio track encoder: block cutting, band quantisers, chunk schedule.
#include "encode/audio_encoder.h"

#include "encode/encode_error.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "movie/container.h"

namespace kivo::encode {
namespace {

constexpr double kMaskRatio = 0.1;             // -10 dB
constexpr double kFirstBlockNoise = 1.0 / 16;  // -12 dB

// Sample frames the track must have handed out once the next movie frame
// is decoded: the lead-in plus the time of the frames before it, rounded up.
uint64_t DueFrames(const AudioEncoder& e) {
  const uint64_t lead = (uint64_t(e.settings.rate) * kAudioLeadInMs + 999) / 1000;
  return lead + e.timeFrames + (e.timeRemainder ? 1 : 0);
}

// Moves the time on by one movie frame: rate x rateDen / rateNum sample
// frames, kept as a whole part and a remainder so nothing overflows.
void AdvanceTime(AudioEncoder& e) {
  const uint64_t perFrame = uint64_t(e.settings.rate) * e.rateDen;
  e.timeFrames += perFrame / e.rateNum;
  e.timeRemainder += perFrame % e.rateNum;
  if (e.timeRemainder >= e.rateNum) {
    e.timeRemainder -= e.rateNum;
    ++e.timeFrames;
  }
}

// Blocks the track must have handed out after the next frame.
uint64_t BlocksDue(const AudioEncoder& e) {
  uint64_t frames = DueFrames(e);
  if (e.inputEnded) frames = std::min(frames, e.inputFrames);
  return (frames + e.stepFrames - 1) / e.stepFrames;
}

// Input frame `frame`, channel c (silence past the end).
inline int16_t InputSample(const AudioEncoder& e, uint64_t frame, uint32_t c) {
  if (frame >= e.inputFrames) return 0;
  return e.input[size_t(frame - e.inputStart) * e.settings.channels + c];
}

// The real transform repeats its block, so a block whose last sample is far
// from its first costs a spread of high frequencies, and their coding error
// rings at both ends; the first block of a track shows its start unblended.
// The decoder weighs the second half of the fade almost all by the next
// block, so there the block's values are steered towards a straight line to
// its own first value, and the next block's head takes the difference back
// in proportion to the weights: the faded output keeps the input.
void BridgeBlockEnds(AudioEncoder& e, bool compensate) {
  const uint32_t n = e.layout.blockSize, fade = e.layout.overlapBytes / 2;  // in interleaved values
  const uint32_t channels = e.settings.channels, from = fade / 2;
  float* v = e.samples.data();
  if (compensate) {
    for (uint32_t i = from; i < fade; ++i) {
      const float back = v[i] - e.fadeDelta[i] * float(fade - i) / float(i);
      v[i] = std::clamp(back, -32768.0f, 32767.0f);
    }
  }
  const uint32_t tail = n - fade;
  for (uint32_t i = from; i < fade; ++i) {
    const uint32_t c = i % channels;
    const float start = v[tail + from - from % channels + c], end = v[c];
    const float t = float(i - from + channels) / float(fade - from + channels);
    const float line = start + (end - start) * t;
    const float w = 0.5f - 0.5f * std::cos(float(std::numbers::pi) * float(i - from) / float(fade - from));
    const float steered = v[tail + i] + w * (line - v[tail + i]);
    e.fadeDelta[i] = steered - v[tail + i];
    v[tail + i] = steered;
  }
}

bool EncodeBlock(AudioEncoder& e, uint64_t block, std::vector<uint8_t>& out) {
  const AudioLayout& l = e.layout;
  const uint32_t n = l.blockSize, channels = e.settings.channels;
  const uint64_t first = block * e.stepFrames;
  // The decoder scales its transform's output by 2 / sqrt(N).
  const float scale = static_cast<float>(std::sqrt(double(n)) / 2);
  for (uint32_t c = 0; c < l.codedChannels; ++c) {
    if (l.dct) {
      for (uint32_t m = 0; m < n; ++m) e.samples[m] = InputSample(e, first + m, c) * scale;
      ForwardCosineTransform(e.plan, e.samples.data(), e.coefficients.data());
    } else {
      // One coded channel holds every channel, interleaved.
      for (uint32_t m = 0; m < n; ++m) e.samples[m] = InputSample(e, first + m / channels, m % channels);
      BridgeBlockEnds(e, block > 0);
      for (uint32_t m = 0; m < n; ++m) e.samples[m] *= scale;
      ForwardRealTransform(e.plan, e.samples.data(), e.coefficients.data());
    }
    // The decoder shows the first block of a track without a fade, edges
    // and all, so it is coded finer.
    ChooseAudioBands(e, e.coefficients.data(), &e.codes[c], block == 0 ? kFirstBlockNoise : 1.0);
  }
  std::vector<uint8_t> bytes = WriteAudioBlock(l, e.codes);
  if (bytes.empty()) return false;
  e.bitsWritten += 8 * uint64_t(bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
  return true;
}

}  // namespace

uint32_t AudioTrackWord(const AudioTrackSettings& s) {
  return (s.rate & kAudioRateMask) | (s.bits == 16 ? kAudio16Bit : 0) | (s.channels == 2 ? kAudioStereo : 0) |
         (s.mode == AudioMode::kRdft ? kAudioCodingA : kAudioCodingB);
}

bool OpenAudioEncoder(AudioEncoder& e, const AudioTrackSettings& s, uint32_t rateNum, uint32_t rateDen,
                      std::string* error) {
  if (s.rate < 1 || s.rate > 65535) return Fail(error, "the sample rate must be 1 to 65535 Hz");
  if (s.channels != 1 && s.channels != 2) return Fail(error, "a sound track has one or two channels");
  if (s.bits != 8 && s.bits != 16) return Fail(error, "a sound track plays with 8 or 16 bits");
  if (s.quality < 1 || s.quality > 100) return Fail(error, "the audio quality must be 1 to 100");
  if (rateNum == 0 || rateDen == 0) return Fail(error, "the frame rate must be above 0");
  e = AudioEncoder{};
  e.settings = s;
  e.rateNum = rateNum;
  e.rateDen = rateDen;
  ComputeAudioLayout(s.rate, s.channels, s.mode == AudioMode::kDct, &e.layout);
  e.blockFrames = e.layout.blockBytes / (2 * s.channels);
  e.stepFrames = (e.layout.blockBytes - e.layout.overlapBytes) / (2 * s.channels);
  // Noise per band held this far below the band's power: 3 dB at quality 1,
  // 33 dB at the default 75, 48 dB at 100.
  const double ratioDb = std::max(3.0, 0.6 * s.quality - 12.0);
  e.noiseRatio = std::pow(10.0, -ratioDb / 10);
  // Output rounding already adds 1/12 of a step squared per sample; a
  // coefficient's noise reaches the samples doubled.
  const double step = s.bits == 16 ? 1.0 : 256.0;
  e.noiseFloor = step * step / 24;
  PrepareForwardTransform(e.plan, e.layout.blockSize);
  e.samples.assign(e.layout.blockSize, 0);
  e.coefficients.assign(e.layout.blockSize, 0);
  e.fadeDelta.assign(e.layout.overlapBytes / 2, 0);
  return true;
}

void ChooseAudioBands(const AudioEncoder& e, const float* k, AudioChannelCode* code, double noiseScale) {
  const AudioLayout& l = e.layout;
  const uint32_t n = l.blockSize;
  // Quiet bands are masked by the block as a whole: their noise need not go
  // more than 10 dB below the noise the block's average level is allowed.
  // That adds at most a tenth to the block's noise and saves the many bits
  // that faint high bands would take.
  double total = 0;
  for (uint32_t i = 2; i < n; ++i) total += double(k[i]) * k[i];
  const double ratio = e.noiseRatio * noiseScale;
  const double mask = n > 2 ? total / (n - 2) * ratio * kMaskRatio : 0;
  for (uint32_t b = 0; b < l.bandCount; ++b) {
    const uint32_t from = std::max(2u, 2 * l.bandEdges[b]), to = std::min(n, 2 * l.bandEdges[b + 1]);
    double energy = 0, peak = 0;
    for (uint32_t i = from; i < to; ++i) {
      energy += double(k[i]) * k[i];
      peak = std::max(peak, std::fabs(double(k[i])));
    }
    if (to <= from || peak == 0) {
      code->bands[b] = 0;
      continue;
    }
    const double noise = std::max({energy / (to - from) * ratio, e.noiseFloor, mask});
    // A uniform quantiser of step q leaves noise q^2 / 12.
    const double step = std::sqrt(12 * noise);
    int32_t q = static_cast<int32_t>(std::lround(std::log10(step) / double(0.0664f)));
    q = std::clamp(q, 0, 255);
    // The largest value must fit 15 bits.
    while (q < 255 && peak / QuantiserValue(uint32_t(q)) > 32767.0) ++q;
    code->bands[b] = static_cast<uint8_t>(q);
  }
  QuantiseChannel(l, k, code);
}

uint64_t AudioInputWanted(const AudioEncoder& e) {
  const uint64_t blocks = BlocksDue(e);
  return blocks ? (blocks - 1) * e.stepFrames + e.blockFrames : 0;
}

void AddAudioInput(AudioEncoder& e, const int16_t* samples, uint32_t frames) {
  if (e.inputEnded) return;
  e.input.insert(e.input.end(), samples, samples + size_t(frames) * e.settings.channels);
  e.inputFrames += frames;
}

void EndAudioInput(AudioEncoder& e) { e.inputEnded = true; }

bool EncodeAudioFrame(AudioEncoder& e, std::vector<uint8_t>& packet, std::string* error) {
  packet.clear();
  const uint64_t blocks = BlocksDue(e);
  if (!e.inputEnded && e.inputFrames < AudioInputWanted(e)) return Fail(error, "the sound input ends too early");
  const uint64_t carried = AudioFramesCarried(e);
  std::vector<uint8_t> body;
  for (uint64_t b = e.blocksDone; b < blocks; ++b)
    if (!EncodeBlock(e, b, body)) return Fail(error, "an audio block could not be written");
  if (blocks > e.blocksDone) {
    e.blocksDone = blocks;
    const uint64_t bytes = (AudioFramesCarried(e) - carried) * 2 * e.settings.channels;
    if (bytes > 0xFFFFFFFFull) return Fail(error, "a frame's sound would exceed 4 GB");
    packet = BuildAudioChunk(static_cast<uint32_t>(bytes), {body});
  }
  ++e.framesDone;
  AdvanceTime(e);
  // Input before the next block's first frame is no longer needed.
  const uint64_t keep = std::min(e.blocksDone * e.stepFrames, e.inputFrames);
  if (keep > e.inputStart && (keep - e.inputStart) * e.settings.channels >= e.input.size() / 2) {
    e.input.erase(e.input.begin(), e.input.begin() + std::ptrdiff_t((keep - e.inputStart) * e.settings.channels));
    e.inputStart = keep;
  }
  return true;
}

uint64_t AudioFramesCarried(const AudioEncoder& e) {
  const uint64_t frames = e.blocksDone * e.stepFrames;
  return e.inputEnded ? std::min(frames, e.inputFrames) : frames;
}

uint64_t AudioFramesLeftOver(const AudioEncoder& e) {
  const uint64_t carried = std::min(e.blocksDone * e.stepFrames, e.inputFrames);
  return e.inputFrames - carried;
}

}  // namespace kivo::encode
