// SPDX-License-Identifier: BSD-2-Clause
// The audio track encoder: cuts the input into the overlapping blocks the
// decoder cross-fades, transforms each block, picks one quantiser per band
// from the band's energy and the quality, codes the coefficients in runs of
// the fewest bits, and hands out per movie frame the chunk of whole blocks
// that frame must carry (a lead-in of about 750 ms in the first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "encode/audio_encoder_transform.h"
#include "encode/audio_writer.h"

namespace kivo::encode {

enum class AudioMode { kRdft, kDct };

struct AudioTrackSettings {
  uint32_t rate = 0, channels = 0, bits = 16;  // rate 1..65535, 1 or 2 channels, 8 or 16 bits
  AudioMode mode = AudioMode::kRdft;
  uint32_t quality = 75;  // 1 (smallest) to 100 (best)
};

// Sound each frame packet carries ahead of its own time.
constexpr uint32_t kAudioLeadInMs = 750;

struct AudioEncoder {
  AudioTrackSettings settings;
  AudioLayout layout{};
  uint32_t rateNum = 25, rateDen = 1;
  uint32_t blockFrames = 0;  // sample frames a block rebuilds, tail included
  uint32_t stepFrames = 0;   // sample frames a block hands out (blocks start this far apart)
  double noiseRatio = 0;     // allowed noise power per band over the band's power
  double noiseFloor = 0;     // noise power per coefficient not worth coding below
  // Input not yet past: frame inputStart onwards, interleaved.
  std::vector<int16_t> input;
  uint64_t inputStart = 0, inputFrames = 0;
  bool inputEnded = false;
  uint64_t blocksDone = 0;
  uint32_t framesDone = 0;
  uint64_t timeFrames = 0, timeRemainder = 0;  // the movie frames' time so far, in sample frames
  uint64_t bitsWritten = 0;  // block bits, padding to words included
  ForwardTransformPlan plan;
  std::vector<float> samples, coefficients;
  std::vector<float> fadeDelta;  // what the last block's tail was moved by (real transform)
  AudioChannelCode codes[2];
};

// The track table's audio word for the settings.
uint32_t AudioTrackWord(const AudioTrackSettings& settings);

// Checks the settings (with the movie's frame rate) and prepares the coding.
// False, with *error set, for settings a movie cannot carry.
bool OpenAudioEncoder(AudioEncoder& encoder, const AudioTrackSettings& settings, uint32_t rateNum, uint32_t rateDen,
                      std::string* error);

// Input sample frames (counted from the start of the track) that the next
// EncodeAudioFrame needs before it can run, unless the input has ended.
uint64_t AudioInputWanted(const AudioEncoder& encoder);
// Appends input (interleaved 16-bit samples); EndAudioInput says there is
// no more, so the last block is padded with silence and cut at the end.
void AddAudioInput(AudioEncoder& encoder, const int16_t* samples, uint32_t frames);
void EndAudioInput(AudioEncoder& encoder);

// The audio packet of the next movie frame (the count of PCM bytes, then the
// blocks); empty when the frame carries no audio (size 0 in the packet).
// False, with *error set, when the input falls short of AudioInputWanted.
bool EncodeAudioFrame(AudioEncoder& encoder, std::vector<uint8_t>& packet, std::string* error);

// Sample frames handed out so far, and input frames that no frame has
// carried (sound after the last frame's share).
uint64_t AudioFramesCarried(const AudioEncoder& encoder);
uint64_t AudioFramesLeftOver(const AudioEncoder& encoder);

// One coded channel: band codes chosen for the coefficients k (N of them)
// and the quantised values, the allowed noise scaled by `noiseScale`.
// Exposed for tests of the band rule.
void ChooseAudioBands(const AudioEncoder& encoder, const float* k, AudioChannelCode* code, double noiseScale = 1.0);

}  // namespace kivo::encode
