// SPDX-License-Identifier: BSD-2-Clause
// kivdump --compare: the decoded pictures against the source they were coded
// from (a YUV4MPEG2 file): luma and chroma PSNR over the whole movie, the
// worst frame, and luma SSIM.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "kivo/movie.h"

namespace kivo::tools {

struct QualityMeter {
  uint64_t frames = 0;
  uint64_t lumaSamples = 0, chromaSamples = 0;
  double lumaSquares = 0, chromaSquares = 0;  // summed squared errors
  double ssimSum = 0;                         // of the frames' mean SSIM
  double worstPsnr = 1e9;                     // of any one frame's luma
  uint64_t worstFrame = 0;
};

// One frame: the decoded planes (with their pitches) against the source's
// (tightly packed: width, then (width + 1) / 2 bytes a line). Chroma may be
// null on either side for grey pictures.
void MeasureFrame(QualityMeter& m, uint32_t width, uint32_t height, const uint8_t* y, uint32_t pitch,
                  const uint8_t* u, const uint8_t* v, uint32_t chromaPitch, const uint8_t* srcY,
                  const uint8_t* srcU, const uint8_t* srcV);

// PSNR in dB of a mean squared error; 99 for none.
double PsnrOf(double squares, uint64_t samples);

// Mean SSIM of two luma planes over 8x8 windows on a 4-sample grid.
double LumaSsim(uint32_t width, uint32_t height, const uint8_t* a, uint32_t pitchA, const uint8_t* b,
                uint32_t pitchB);

// A movie's pictures measured, frame after frame, against the frames of a
// YUV4MPEG2 source read alongside.
struct SourceFrames;
struct Comparison {
  std::string path;
  QualityMeter meter;
  std::unique_ptr<SourceFrames> source;
  Comparison();
  ~Comparison();
};

// Opens the source, which must have the movie's size. Returns the error
// text, empty on success.
std::string OpenComparison(Comparison& c, const std::string& path, uint32_t width, uint32_t height);
// Reads the source's next frame and measures `picture` against it, chroma
// too when both are in colour. Returns the error text, empty on success.
std::string CompareFrame(Comparison& c, const MoviePicture& picture, bool colour);

// One line: "luma PSNR 38.21 dB, chroma PSNR 41.02 dB, luma SSIM 0.9712,
// lowest frame 31.20 dB (frame 113), 500 frames".
void WriteQuality(const QualityMeter& m, FILE* out);

}  // namespace kivo::tools
