// SPDX-License-Identifier: BSD-2-Clause
// CopyToBuffer on an open movie whose newest planes the test fills: the
// worked values, bottom-up buffers, the full and changed-cell paths, the
// alpha and exchange rules, YV12, the late-frame rules and no allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "base/error_text.h"
#include "base/memory.h"
#include "convert/copy_to_buffer.h"
#include "convert/harness.h"
#include "movie/movie_api.h"
#include "support/test_movies.h"
#include "support/virtual_clock.h"

namespace kivo::test {
namespace {

struct Copy : ConvertFixture {
  VirtualClockScope clock;
  Movie* movie = nullptr;
  Planes planes;
  uint8_t* savedAlpha[2] = {};

  void Open(uint32_t width, uint32_t height, uint32_t flags = 0) {
    movie = OpenMovie(WriteTestFile("convert.kiv", FillerMovie(8, width, height)).c_str(), flags);
    ASSERT_NE(movie, nullptr) << GetErrorText();
    ASSERT_EQ(DoFrame(movie), 0);
    savedAlpha[0] = movie->planes.alphaBuffers[0];
    savedAlpha[1] = movie->planes.alphaBuffers[1];
  }
  void TearDown() override {
    if (movie) {
      movie->planes.alphaBuffers[0] = savedAlpha[0];
      movie->planes.alphaBuffers[1] = savedAlpha[1];
      movie->openTrackCount = 0;
      CloseMovie(movie);
    }
    ConvertFixture::TearDown();
  }
  // Puts the planes into the movie's newest frame buffer (and alpha plane).
  void Show(const Planes& p) {
    planes = p;
    ASSERT_EQ(p.pitch, movie->planes.pitch);
    ASSERT_EQ(p.rows, movie->planes.rows);
    std::memcpy(movie->planes.frameBuffers[movie->planes.current], p.block.data(), p.block.size());
    uint8_t* alpha = p.alpha.empty() ? nullptr : planes.alpha.data();
    movie->planes.alphaBuffers[0] = movie->planes.alphaBuffers[1] = alpha;
  }
  // Copies into a buffer of `bpp`-byte pixels, rows of exactly the picture.
  std::vector<uint8_t> CopyAll(uint32_t flags, uint32_t bpp, int32_t* result = nullptr) {
    int32_t pitch = int32_t(movie->width * bpp);
    std::vector<uint8_t> out(size_t(pitch) * movie->height * 2, 0x5A);
    int32_t r = CopyToBuffer(movie, out.data(), pitch, movie->height, 0, 0, flags);
    if (result) *result = r;
    return out;
  }
};

TEST_F(Copy, BlackIsZeroAndWhiteIs254InEveryRgbFormatAndFamily) {
  Open(20, 10);
  for (uint8_t y : {uint8_t(16), uint8_t(235)}) {
    Show(FlatPlanes(20, 10, y, 128, 128, false));
    for (uint32_t code = 1; code <= 6; ++code) {
      for (uint32_t noSimd : {0u, kCopyNoSimd}) {
        uint32_t bpp = code <= 2 ? 3 : 4;
        std::vector<uint8_t> out = CopyAll(code | kCopyFull | noSimd, bpp);
        for (uint32_t i = 0; i < 20 * 10; ++i) {
          for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(out[i * bpp + c], y == 16 ? 0 : 254) << code << " " << i;
          if (bpp == 4) {
            ASSERT_EQ(out[i * bpp + 3], 0) << code;
          }
        }
      }
    }
  }
}

TEST_F(Copy, ABottomUpBufferReceivesThePictureUpright) {
  Open(33, 21);
  std::mt19937 rng(11);
  Show(RandomPlanes(rng, 33, 21, false));
  int32_t pitch = 33 * 4;
  uint32_t height = 25;
  std::vector<uint8_t> down(size_t(pitch) * height, 0), up(size_t(pitch) * height, 0);
  CopyToBuffer(movie, down.data(), pitch, height, 0, 3, 3 | kCopyFull);
  CopyToBuffer(movie, up.data(), -pitch, height, 0, 3, 3 | kCopyFull);
  for (uint32_t row = 0; row < height; ++row)
    ASSERT_EQ(0, std::memcmp(down.data() + row * pitch, up.data() + (height - 1 - row) * pitch, pitch)) << row;
  EXPECT_NE(down[3 * pitch], 0);
}

TEST_F(Copy, CodeZeroWritesNothingAndNoMovieOrBufferDoesNothing) {
  Open(20, 10);
  std::mt19937 rng(2);
  Show(RandomPlanes(rng, 20, 10, false));
  std::vector<uint8_t> out = CopyAll(0 | kCopyFull, 4);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0x5A; }));
  EXPECT_EQ(CopyToBuffer(nullptr, out.data(), 80, 10, 0, 0, 3), 0);
  EXPECT_EQ(CopyToBuffer(movie, nullptr, 80, 10, 0, 0, 3), 0);
  EXPECT_EQ(out[0], 0x5A);
}

TEST_F(Copy, ExchangeSwapsRedAndBlueOfEveryPixelAndAlphaFormatsWithoutAlphaAreTheirPlainTwins) {
  Open(37, 13);
  std::mt19937 rng(4);
  Show(RandomPlanes(rng, 37, 13, false));
  for (uint32_t noSimd : {0u, kCopyNoSimd}) {
    std::vector<uint8_t> plain = CopyAll(3 | kCopyFull | noSimd, 4);
    std::vector<uint8_t> swapped = CopyAll(3 | kCopyFull | noSimd | kCopyExchangeRedBlue, 4);
    for (size_t i = 0; i < 37 * 13; ++i) {
      ASSERT_EQ(swapped[4 * i], plain[4 * i + 2]) << i;
      ASSERT_EQ(swapped[4 * i + 1], plain[4 * i + 1]) << i;
      ASSERT_EQ(swapped[4 * i + 2], plain[4 * i]) << i;
    }
    EXPECT_EQ(CopyAll(5 | kCopyFull | noSimd, 4), plain);
    EXPECT_EQ(CopyAll(6 | kCopyFull | noSimd, 4), CopyAll(4 | kCopyFull | noSimd, 4));
    EXPECT_EQ(CopyAll(8 | kCopyFull | noSimd, 2), CopyAll(9 | kCopyFull | noSimd, 2));
  }
}

TEST_F(Copy, AlphaSamplesReachTheirBits) {
  Open(16, 4);
  Planes p = FlatPlanes(16, 4, 120, 90, 160, true, 127);
  for (uint32_t i = 0; i < p.pitch * p.rows; i += 2) p.alpha[i] = 128;  // even columns 128, odd 127
  Show(p);
  for (uint32_t noSimd : {0u, kCopyNoSimd}) {
    std::vector<uint8_t> a1 = CopyAll(8 | kCopyFull | noSimd, 2);
    for (uint32_t i = 0; i < 16 * 4; ++i) ASSERT_EQ(a1[2 * i + 1] >> 7, i % 2 == 0 ? 1 : 0) << i;
    std::fill(planes.alpha.begin(), planes.alpha.end(), 0xAB);
    std::vector<uint8_t> a4 = CopyAll(7 | kCopyFull | noSimd, 2);
    for (uint32_t i = 0; i < 16 * 4; ++i) ASSERT_EQ(a4[2 * i + 1] >> 4, 0xA) << i;
    std::vector<uint8_t> a32 = CopyAll(5 | kCopyFull | noSimd | kCopyGray, 4);
    for (uint32_t i = 0; i < 16 * 4; ++i) ASSERT_EQ(a32[4 * i + 3], 0xAB) << i;
    Show(p);
  }
}

TEST_F(Copy, PackedYuvOfBlackIsTheWellKnownBytes) {
  Open(8, 2);
  Show(FlatPlanes(8, 2, 16, 128, 128, false));
  for (uint32_t noSimd : {0u, kCopyNoSimd}) {
    std::vector<uint8_t> yuy2 = CopyAll(13 | kCopyFull | noSimd, 2), uyvy = CopyAll(14 | kCopyFull | noSimd, 2);
    for (uint32_t i = 0; i < 8 * 2 * 2; i += 4) {
      EXPECT_EQ(std::vector<uint8_t>(yuy2.begin() + i, yuy2.begin() + i + 4), (std::vector<uint8_t>{16, 128, 16, 128}));
      EXPECT_EQ(std::vector<uint8_t>(uyvy.begin() + i, uyvy.begin() + i + 4), (std::vector<uint8_t>{128, 16, 128, 16}));
    }
  }
}

TEST_F(Copy, AFullMapTakesTheFullCopyAndAnEmptyOneOnlyTheStripsBeyondTheCells) {
  Open(70, 37);
  std::mt19937 rng(6);
  Show(RandomPlanes(rng, 70, 37, false));
  std::vector<uint8_t> full = CopyAll(3 | kCopyFull, 4);
  std::memset(movie->planes.changedCells, 1, movie->cellCount);
  EXPECT_EQ(CopyAll(3, 4), full);
  std::memset(movie->planes.changedCells, 0, movie->cellCount);
  std::vector<uint8_t> strips = CopyAll(3, 4);
  for (uint32_t row = 0; row < 37; ++row) {
    for (uint32_t col = 0; col < 70; ++col) {
      size_t at = (size_t(row) * 70 + col) * 4;
      bool inStrip = col >= 64 || row >= 32;
      static const uint8_t kUntouched[4] = {0x5A, 0x5A, 0x5A, 0x5A};
      ASSERT_EQ(std::memcmp(&strips[at], inStrip ? &full[at] : kUntouched, 4), 0) << row << " " << col;
    }
  }
  // One changed cell is converted with the strips.
  movie->planes.changedCells[1 * movie->cellsAcross + 2] = 1;
  std::vector<uint8_t> one = CopyAll(3, 4);
  EXPECT_EQ(std::memcmp(&one[(20 * 70 + 40) * 4], &full[(20 * 70 + 40) * 4], 4), 0);
  EXPECT_EQ(one[(20 * 70 + 20) * 4], 0x5A);
}

TEST_F(Copy, CopyTakesTheGrayOfTheMovie) {
  Open(16, 8, kOpenGrey);
  EXPECT_TRUE(movie->openFlags & kOpenGrey);
  std::mt19937 rng(8);
  Show(RandomPlanes(rng, 16, 8, false));
  std::vector<uint8_t> out = CopyAll(4 | kCopyFull, 4);
  for (uint32_t i = 0; i < 16 * 8; ++i) {
    ASSERT_EQ(out[4 * i], out[4 * i + 1]);
    ASSERT_EQ(out[4 * i], out[4 * i + 2]);
  }
}

TEST_F(Copy, TheFourthOfFourLateFramesIsCopiedAndNeverSkipCopiesButSaysLate) {
  Open(16, 8);
  std::mt19937 rng(9);
  Show(RandomPlanes(rng, 16, 8, false));
  movie->openTrackCount = 1;  // as if sound were playing: lateness counts
  AdvanceClock(1000);
  std::vector<uint8_t> untouched(16 * 8 * 4 * 2, 0x5A);
  int32_t result = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(CopyAll(3 | kCopyFull, 4, &result), untouched) << i;
    EXPECT_EQ(result, 1);
  }
  EXPECT_NE(CopyAll(3 | kCopyFull, 4, &result), untouched);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(movie->skippedBlits, 3u);
  EXPECT_NE(CopyAll(3 | kCopyFull | kCopyNeverSkip, 4, &result), untouched);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(movie->skippedBlits, 3u);
  EXPECT_EQ(movie->io.foregroundBusy.load(), 0);
}

TEST_F(Copy, Yv12CopiesThePlanesExchangesThemOnRequestAndFillsGray) {
  Open(22, 14);
  std::mt19937 rng(10);
  Show(RandomPlanes(rng, 22, 14, false));
  const uint32_t pitch = 32, height = 20;
  auto copy = [&](uint32_t flags, int32_t x, int32_t y) {
    std::vector<uint8_t> out(pitch * height * 3 / 2, 7);
    CopyToBuffer(movie, out.data(), pitch, height, x, y, 15 | flags);
    return out;
  };
  std::vector<uint8_t> out = copy(0, 3, 1);  // odd: to (4, 2), one column and row fewer
  const uint8_t* vDest = out.data() + pitch * height;
  const uint8_t* uDest = vDest + (pitch / 2) * (height / 2);
  for (uint32_t r = 0; r < 12; ++r)
    for (uint32_t c = 0; c < 20; ++c) ASSERT_EQ(out[(2 + r) * pitch + 4 + c], planes.luma()[r * planes.pitch + c]);
  EXPECT_EQ(out[(2 + 12) * pitch + 4], 7);
  EXPECT_EQ(out[2 * pitch + 24], 7);
  for (uint32_t r = 0; r < 6; ++r) {
    for (uint32_t c = 0; c < 10; ++c) {
      ASSERT_EQ(vDest[(1 + r) * 16 + 2 + c], planes.chroma1()[r * (planes.pitch / 2) + c]);
      ASSERT_EQ(uDest[(1 + r) * 16 + 2 + c], planes.chroma2()[r * (planes.pitch / 2) + c]);
    }
  }
  std::vector<uint8_t> swapped = copy(kCopyExchangeRedBlue, 0, 0);
  EXPECT_EQ(swapped[pitch * height], planes.chroma2()[0]);
  std::vector<uint8_t> gray = copy(kCopyGray, 0, 0);
  EXPECT_EQ(gray[pitch * height + 5], 128);
  EXPECT_EQ(gray[pitch * height + (pitch / 2) * (height / 2) + 5], 128);
  std::vector<uint8_t> bottomUp(pitch * height * 3 / 2, 7);
  CopyToBuffer(movie, bottomUp.data() + pitch * (height - 1), -int32_t(pitch), height, 0, 0, 15);
  EXPECT_TRUE(std::all_of(bottomUp.begin(), bottomUp.end(), [](uint8_t b) { return b == 7; }));
}

TEST_F(Copy, RgbaRowsForPicturesGiveOpaqueAlphaWithoutAnAlphaPlane) {
  Open(19, 7);
  std::mt19937 rng(12);
  Show(RandomPlanes(rng, 19, 7, false));
  std::vector<uint8_t> rgba(19 * 7 * 4, 0);
  CopyToRgbaRows(movie, rgba.data(), 19 * 4, 0);
  std::vector<uint8_t> reference = CopyAll(4 | kCopyFull, 4);
  for (size_t i = 0; i < 19 * 7; ++i) {
    ASSERT_EQ(rgba[4 * i + 3], 255);
    ASSERT_EQ(std::memcmp(&rgba[4 * i], &reference[4 * i], 3), 0);
  }
}

// Stand-ins for the reader's slots, counting what a copy asks of them.
int readAheads = 0, yields = 0, lockFree = 1;
int32_t CountReadAhead(IoDriver*) { return ++readAheads, 1; }
int32_t TryLockStub(IoDriver*) { return lockFree; }
void UnlockStub(IoDriver*) {}
void CountYield(IoDriver*) { ++yields; }

TEST_F(Copy, ACopyReadsOneChunkAheadWhenTheRingIsLowAndTheReaderFree) {
  Open(16, 8);
  Show(FlatPlanes(16, 8, 100, 100, 100, false));
  IoDriver saved;
  IoDriver& io = movie->io;
  saved.ReadAhead = io.ReadAhead;
  saved.TryLock = io.TryLock;
  saved.Unlock = io.Unlock;
  saved.Yield = io.Yield;
  uint32_t buffered = io.buffered.load(), target = io.fillTarget.load();
  io.ReadAhead = CountReadAhead;
  io.TryLock = TryLockStub;
  io.Unlock = UnlockStub;
  io.Yield = CountYield;
  io.fillTarget.store(999);
  uint8_t* preloaded = movie->preloaded;
  movie->preloaded = nullptr;  // a small movie is read whole at its open
  readAheads = yields = 0;
  auto copy = [&] { CopyAll(3 | kCopyFull, 4); };
  io.buffered.store(740);  // 74 %: low
  lockFree = 1;
  copy();
  EXPECT_EQ(readAheads, 1);
  lockFree = 0;  // the reader thread holds it: give way once instead
  copy();
  EXPECT_EQ(readAheads, 1);
  EXPECT_EQ(yields, 1);
  lockFree = 1;
  io.buffered.store(760);  // 76 %: enough
  copy();
  io.buffered.store(100);
  io.chunkInProgress.store(1);  // a chunk is being read already
  copy();
  io.chunkInProgress.store(0);
  EXPECT_EQ(readAheads, 1);
  copy();
  EXPECT_EQ(readAheads, 2);
  uint8_t whole = 0;
  movie->preloaded = &whole;  // nothing to read ahead for a preloaded movie
  copy();
  EXPECT_EQ(readAheads, 2);
  movie->preloaded = preloaded;
  io.ReadAhead = saved.ReadAhead;
  io.TryLock = saved.TryLock;
  io.Unlock = saved.Unlock;
  io.Yield = saved.Yield;
  io.buffered.store(buffered);
  io.fillTarget.store(target);
}

TEST_F(Copy, CopiesAllocateNothingOnceTheDoublingRowsAreThere) {
  Open(64, 48);
  std::mt19937 rng(13);
  Show(RandomPlanes(rng, 64, 48, false));
  std::vector<uint8_t> out(64 * 8 * 96 * 2);  // room for YV12 chroma after the rows
  CopyToBuffer(movie, out.data(), 64 * 8, 96, 0, 0, 3 | 4u << 28 | kCopyFull);
  uint32_t before = MemAllocCount();
  for (int i = 0; i < 50; ++i) {
    for (uint32_t code : {1u, 3u, 10u, 13u, 15u}) {
      for (uint32_t option : {0u, 1u, 4u, 6u}) CopyToBuffer(movie, out.data(), 64 * 8, 96, 0, 0, code | option << 28);
    }
  }
  EXPECT_EQ(MemAllocCount(), before);
}

}  // namespace
}  // namespace kivo::test
