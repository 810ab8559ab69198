// SPDX-License-Identifier: BSD-2-Clause
// The encoder's exact coding and its audio entry: one call per video frame.
// Blocks equal to the reference stay Unchanged, flat blocks are Fill,
// everything else Raw, so every picture is reproduced without loss (kivenc
// --lossless; the choice by rate and distortion is video_encoder.h's).
// Audio coding has its whole-track entry here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/audio_encoder.h"
#include "encode/input_picture.h"
#include "encode/video_writer.h"

namespace kivo::encode {

struct EncoderSettings {
  char revision = 'i';  // 'f' to 'i'
  uint32_t width = 0, height = 0;
  bool alpha = false;   // frames carry an alpha plane
  bool grey = false;    // no chroma planes
  uint32_t quality = 75;         // 1 (smallest) to 100 (best)
  uint32_t targetDataRate = 0;   // bytes per second, 0 = none
  uint32_t rateNum = 25, rateDen = 1;
};

// Counts of the block types written in the last frame, per plane
// (0 alpha, 1 luma, 2 and 3 chroma in stream order).
struct BlockCounts {
  uint32_t counts[4][16] = {};
};

struct VideoEncoder {
  EncoderSettings settings;
  // Per plane: the stream's picture of the previous frame (what the decoder
  // holds as reference), the wanted picture, and the block description.
  struct Plane {
    bool present = false;
    uint32_t areaWidth = 0, areaHeight = 0;
    std::vector<uint8_t> reference, wanted;
    PlaneSpec spec;
  } planes[4];
  bool haveReference = false;
  uint32_t framesDone = 0;
  BlockCounts lastCounts;
};

// Checks the settings and sizes the planes. False, with *error set, when the
// revision or the size cannot be carried.
bool OpenVideoEncoder(VideoEncoder& encoder, const EncoderSettings& settings, std::string* error);

// Codes one picture of the settings' size and appends its video data to
// `out`. The stream carries cr first, except for revisions before 'h' which
// carry cb first (the PNG reader's beforeH option prepares for that).
// `key` forces a frame decodable without the previous one; *isKey receives
// whether the frame written is one.
bool EncodeVideoFrame(VideoEncoder& encoder, const SourcePicture& picture, bool key, std::vector<uint8_t>& out,
                      bool* isKey, std::string* error);

// Audio: the coding of either mode (the per-frame coder is audio_encoder.h's).
bool AudioCodingAvailable();
// A whole track at once: the audio packet of each of `movieFrames` frames at
// rateNum / rateDen frames per second (empty packets carry no audio).
bool EncodeAudio(const AudioTrackSettings& track, const int16_t* samples, uint32_t frames, uint32_t movieFrames,
                 uint32_t rateNum, uint32_t rateDen, std::vector<std::vector<uint8_t>>& packets, std::string* error);

}  // namespace kivo::encode
