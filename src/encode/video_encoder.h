// SPDX-License-Identifier: BSD-2-Clause
// The video encoder's coding decisions: for every 8x8 block the block type
// and its parameters chosen by rate and distortion, 16x16 doubled blocks for
// smooth areas, and rate control that keeps every one-second window of the
// movie near a target size. It keeps the decoder's picture of every plane
// so that the next frame is predicted from exactly what a player shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/input_picture.h"
#include "encode/video_writer.h"

namespace kivo::encode {

struct VideoCoderSettings {
  char revision = 'i';  // 'f' to 'i'
  uint32_t width = 0, height = 0;
  bool alpha = false;
  bool grey = false;
  uint32_t quality = 75;               // 1 (smallest) to 100 (best)
  uint32_t targetBytesPerSecond = 0;   // 0: quality alone decides
  uint32_t rateNum = 25, rateDen = 1;  // frames per second
  uint32_t keyInterval = 0;            // a key frame every n frames; 0: only the first
  uint32_t effort = 1;                 // 0 fastest, 1 default, 2 exhaustive motion search
  // Threads that choose blocks (the caller's included); the movie written
  // is the same for every count.
  uint32_t threads = 1;
};

// One plane (0 alpha, 1 luma, 2 and 3 chroma in stream order) over its
// decoded area, `width` bytes per line.
struct VideoCoderPlane {
  bool present = false;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> wanted;     // the padded source
  std::vector<uint8_t> reference;  // the decoder's previous picture
  std::vector<uint8_t> picture;    // the decoder's picture of the frame just coded
  std::vector<int8_t> motion;      // last vector per block position (dx, dy)
  PlaneSpec spec;
};

// The helper threads and what each thread works with (video_encoder.cc).
struct CoderWorkers;
struct CoderWorkersRelease {
  void operator()(CoderWorkers* workers) const;
};

// One block's best candidate so far: its description, the cost (squared
// error plus lambda times estimated bits) and the 8x8 picture it draws.
struct BlockChoice {
  BlockSpec spec;
  double cost = 0;
  uint8_t picture[64] = {};
};

struct VideoCoder {
  VideoCoderSettings settings;
  VideoCoderPlane planes[4];
  bool haveReference = false;
  uint32_t framesDone = 0;
  double qualityLambda = 0;  // rate weight the quality setting asks for
  double lambda = 0;         // rate weight in use (raised by rate control)
  // Sizes of the last frames, one second of them, oldest first at `windowPos`.
  std::vector<uint32_t> window;
  uint32_t windowPos = 0;
  uint64_t windowSum = 0;
  uint64_t busiestSecond = 0;  // largest window sum seen
  uint32_t counts[4][16] = {};  // block types of the last frame per plane
  std::unique_ptr<CoderWorkers, CoderWorkersRelease> workers;
};

// Checks the settings and prepares the planes. False, with *error set, for
// settings the stream cannot carry.
bool OpenVideoCoder(VideoCoder& coder, const VideoCoderSettings& settings, std::string* error);
void CloseVideoCoder(VideoCoder& coder);

// Codes one picture of the settings' size (chroma cr and cb at half size
// rounded up, alpha when the settings have it) and replaces `out` with its
// video data. `key` forces a frame that needs no previous one; *isKey
// receives whether the frame is one.
bool EncodeVideoPicture(VideoCoder& coder, const SourcePicture& picture, bool key,
                        std::vector<uint8_t>& out, bool* isKey, std::string* error);

// The decoder's picture of plane p after the last coded frame (the plane's
// area, its width bytes per line); null for an absent plane.
const uint8_t* CodedPlane(const VideoCoder& coder, int p);

}  // namespace kivo::encode
