// SPDX-License-Identifier: BSD-2-Clause
// The artwork of the built-in logo and of the short demo movie, drawn in
// code, and their encoding into movies with the video stream writer.
#pragma once

#include <cstdint>
#include <vector>

namespace kivo::logo {

constexpr uint32_t kLogoWidth = 224;
constexpr uint32_t kLogoHeight = 252;
constexpr uint32_t kLogoRate = 10;

constexpr uint32_t kDemoWidth = 320;
constexpr uint32_t kDemoHeight = 240;
constexpr uint32_t kDemoRate = 25;
constexpr uint32_t kDemoFrames = 50;

// A picture of 0x00RRGGBB pixels, row after row.
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

Picture DrawLogo();
Picture DrawDemoFrame(uint32_t index);  // from 0

// Movies of these pictures: each frame's 8 x 8 blocks as fills, two-colour
// blocks or raw samples, blocks equal to the previous frame's left unchanged.
std::vector<uint8_t> EncodeMovie(const std::vector<Picture>& frames, uint32_t rateNum, uint32_t rateDen);

std::vector<uint8_t> BuildLogoMovie();
std::vector<uint8_t> BuildDemoMovie();

// The studio-range colour conversion the encoding uses.
void RgbToYuv(uint32_t rgb, uint8_t* y, uint8_t* u, uint8_t* v);

}  // namespace kivo::logo
