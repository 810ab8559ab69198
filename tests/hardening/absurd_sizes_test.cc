// SPDX-License-Identifier: BSD-2-Clause
// Movies whose header announces absurd sizes: each either fails to open with
// its message or opens within a bounded amount of memory and plays through
// the whole frame cycle without touching memory it does not own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error_text.h"
#include "hardening_support.h"
#include "kivo/movie.h"
#include "movie/movie_api.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

using test::SetWord;
using test::Word;

constexpr uint32_t kFrames = 12;

struct AbsurdSizes : ::testing::Test {
  std::vector<uint8_t> good = test::FillerMovie(kFrames, 64, 48, 4, 300);
  test::PictureMemory picture;
  uint32_t normalMemory = 0;

  void SetUp() override {
    Movie* m = Open(good, "absurd-normal.kiv", 0);
    ASSERT_NE(m, nullptr);
    normalMemory = m->memoryUsed;
    CloseMovie(m);
  }
  Movie* Open(const std::vector<uint8_t>& bytes, const char* name, uint32_t flags) {
    const std::string path = test::WriteTestFile(name, bytes);
    return OpenMovie(path.c_str(), flags);
  }
  // Two whole passes of the cycle; returns the frames decoded.
  uint32_t PlayTwice(Movie* m) {
    for (uint32_t i = 0; i < 2 * m->frameCount + 2; ++i) test::CycleOnce(m, picture);
    return m->framesDecoded;
  }
  // What a movie of this file may hold at most: the normal movie's memory
  // plus the file itself once more and a read chunk of rounding.
  uint32_t Bound(const std::vector<uint8_t>& bytes) const {
    return normalMemory + static_cast<uint32_t>(bytes.size()) + 2 * kReadChunk;
  }
};

TEST_F(AbsurdSizes, PicturesBeyondTheCapFailWithOutOfMemory) {
  for (uint32_t side : {65535u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    std::vector<uint8_t> bytes = good;
    SetWord(bytes, test::kFieldWidth, side);
    SetWord(bytes, test::kFieldHeight, side);
    EXPECT_EQ(Open(bytes, "absurd-side.kiv", 0), nullptr) << side;
    EXPECT_STREQ(GetErrorText(), "Out of memory.") << side;
    EXPECT_EQ(OpenMovie(bytes.data(), kOpenMemory), nullptr) << side;
  }
  // One side absurd, the other small or none at all, is refused the same
  // way. (Found by fuzzing: a width of 151 million and a height of 0 made
  // no picture but bundle buffers of gigabytes; a height of 1.4 thousand
  // million and a width of 0 had the decoder walk its block rows for hours.)
  for (uint32_t small : {48u, 1u, 0u}) {
    for (uint32_t absurd : {0x09000011u, 0x55210000u, 65537u}) {
      for (bool across : {true, false}) {
        std::vector<uint8_t> bytes = good;
        SetWord(bytes, test::kFieldWidth, across ? absurd : small);
        SetWord(bytes, test::kFieldHeight, across ? small : absurd);
        EXPECT_EQ(Open(bytes, "absurd-side.kiv", kOpenAlpha), nullptr) << absurd << " " << small;
        EXPECT_STREQ(GetErrorText(), "Out of memory.") << absurd << " " << small;
      }
    }
  }
}

TEST_F(AbsurdSizes, AFourGigabyteLargestFrameGetsAFrameBufferOfTheFilesSize) {
  std::vector<uint8_t> bytes = good;
  SetWord(bytes, test::kFieldLargestFrame, 0xFFFFFFFFu);
  for (uint32_t flags : {0u, uint32_t(kOpenNoReader), uint32_t(kOpenNoFill)}) {
    Movie* m = Open(bytes, "absurd-largest.kiv", flags);
    ASSERT_NE(m, nullptr) << GetErrorText();
    EXPECT_LE(m->largestFrame, bytes.size());
    EXPECT_LE(m->memoryUsed, Bound(bytes));
    EXPECT_EQ(PlayTwice(m), 2 * kFrames + 2);
    EXPECT_EQ(m->readError, 0);
    CloseMovie(m);
  }
  Movie* m = OpenMovie(bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(PlayTwice(m), 2 * kFrames + 2);
  CloseMovie(m);
}

TEST_F(AbsurdSizes, ARingOfTheAddressSpaceIsCutToTheFile) {
  for (uint32_t ring : {0xFFFFFFF0u, 0x80000000u, 0x7FFFF000u}) {
    SetReadBufferSize(ring);
    Movie* m = Open(good, "absurd-ring.kiv", kOpenBufferSize);
    ASSERT_NE(m, nullptr) << GetErrorText();
    EXPECT_LE(m->readBufferSize, good.size() + kReadChunk) << ring;
    EXPECT_LE(m->memoryUsed, Bound(good)) << ring;
    // A ring that holds the whole file means the movie is simply preloaded.
    EXPECT_TRUE(m->openFlags & kOpenPreload) << ring;
    EXPECT_EQ(PlayTwice(m), 2 * kFrames + 2);
    CloseMovie(m);
  }
}

// Found by fuzzing the whole player path: a header claiming about 4 GB of
// data, whose index spreads the later frames over gigabytes, in a file of a
// few kilobytes. The busiest second then asked for a ring of gigabytes. (The
// fuzzer's input is kept in the movie corpus as regress-huge-data-size.)
TEST_F(AbsurdSizes, DataClaimedBeyondTheFileIsReadUntilItEnds) {
  std::vector<uint8_t> bytes = good;
  const uint32_t claimed = 0xFF0030C4u;
  SetWord(bytes, test::kFieldDataSize, claimed);
  for (uint32_t k = kFrames / 2; k <= kFrames; ++k) {
    const uint32_t at = test::IndexEntryOffset(bytes, k);
    SetWord(bytes, at, (Word(bytes, at) & 1) | ((claimed / kFrames * k) & ~1u));
  }
  for (uint32_t flags : {0u, uint32_t(kOpenNoReader), uint32_t(kOpenPreload)}) {
    Movie* m = Open(bytes, "absurd-data.kiv", flags);
    if (!m) {
      // Refusing it is sound too, with a message.
      EXPECT_STRNE(GetErrorText(), "") << flags;
      continue;
    }
    EXPECT_LE(m->memoryUsed, Bound(bytes)) << flags;
    EXPECT_LE(m->readBufferSize, bytes.size() + kReadChunk) << flags;
    // The first read that meets the end of the file ends the data (reading
    // ahead, that is already the open's fill): the cycle goes on without
    // decoding anything beyond it.
    EXPECT_LT(PlayTwice(m), kFrames) << flags;
    EXPECT_EQ(m->readError, 1) << flags;
    CloseMovie(m);
  }
}

TEST_F(AbsurdSizes, HugeTablesAndRatesAreRefusedOrKeptSmall) {
  std::vector<uint8_t> tracks = good;
  SetWord(tracks, test::kFieldTrackCount, 0x40000000u);
  EXPECT_EQ(Open(tracks, "absurd-tracks.kiv", 0), nullptr);
  EXPECT_STRNE(GetErrorText(), "");

  std::vector<uint8_t> index = good;
  SetWord(index, test::kFieldIndexLast, 0xFFFFFFF0u);
  EXPECT_EQ(Open(index, "absurd-index.kiv", 0), nullptr);
  EXPECT_STRNE(GetErrorText(), "");

  // A thousand million frames a second: rings of a sane size, frames play.
  std::vector<uint8_t> rate = good;
  SetWord(rate, test::kFieldRateNum, 0xFFFFFFFFu);
  SetWord(rate, test::kFieldRateDen, 1);
  Movie* m = Open(rate, "absurd-rate.kiv", 0);
  ASSERT_NE(m, nullptr) << GetErrorText();
  EXPECT_LE(m->memoryUsed, normalMemory + 8 * 4 * 1001 + 2 * kReadChunk);
  EXPECT_EQ(PlayTwice(m), 2 * kFrames + 2);
  CloseMovie(m);
}

}  // namespace
}  // namespace kivo
