// SPDX-License-Identifier: BSD-2-Clause
// GetRects: the changed-cell map cut into rectangles, ordered, scaled, clipped.
#include <gtest/gtest.h>

#include <vector>

#include "kivo/convert.h"
#include "movie/movie_api.h"

namespace kivo {
namespace {

struct RectsTest : ::testing::Test {
  Movie movie{};
  std::vector<uint8_t> cells;

  void Shape(uint32_t width, uint32_t height) {
    uint32_t c = (((width + 1) >> 1) + 7) & ~7u, d = (((height + 1) >> 1) + 7) & ~7u;
    movie.width = width;
    movie.height = height;
    movie.planes.pitch = 2 * c;
    movie.planes.rows = 2 * d;
    movie.cellsAcross = movie.planes.pitch / 16;
    movie.cellCount = movie.cellsAcross * movie.planes.rows / 16;
    cells.assign(movie.cellCount + 16, 0);
    movie.planes.changedCells = cells.data();
    movie.rectCount = -1;
  }
  void Mark(uint32_t cx, uint32_t cy) { cells[cy * movie.cellsAcross + cx] = 1; }
  std::vector<MovieRect> Rects(uint32_t copyFlags = 0) {
    int32_t n = GetRects(&movie, copyFlags);
    return std::vector<MovieRect>(movie.rects, movie.rects + (n > 0 ? n : 0));
  }
};

bool Same(const MovieRect& r, int32_t x, int32_t y, int32_t w, int32_t h) {
  return r.x == x && r.y == y && r.width == w && r.height == h;
}

TEST_F(RectsTest, OppositeCornersGiveTwoSmallRectangles) {
  Shape(640, 480);
  Mark(0, 0);
  Mark(39, 29);
  std::vector<MovieRect> r = Rects();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(Same(r[0], 0, 0, 16, 16));
  EXPECT_TRUE(Same(r[1], 624, 464, 16, 16));
}

TEST_F(RectsTest, NothingChangedIsNothingToShow) {
  Shape(640, 480);
  EXPECT_EQ(GetRects(&movie, 0), 0);
  EXPECT_EQ(movie.rectCount, 0);
}

TEST_F(RectsTest, AFullMapStaysOneRectangle) {
  Shape(320, 240);
  for (uint32_t i = 0; i < movie.cellCount; ++i) cells[i] = 1;
  std::vector<MovieRect> r = Rects();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(Same(r[0], 0, 0, 320, 240));
}

TEST_F(RectsTest, AtMostEightOrderedTopToBottomThenLeftToRight) {
  Shape(640, 480);
  // A scatter of isolated cells: far more candidates than rectangles.
  for (uint32_t cy = 0; cy < 30; cy += 4)
    for (uint32_t cx = (cy / 4) % 3; cx < 40; cx += 6) Mark(cx, cy);
  std::vector<MovieRect> r = Rects();
  ASSERT_EQ(r.size(), 8u);
  for (size_t i = 1; i < r.size(); ++i)
    EXPECT_LT(r[i - 1].y * 65536 + r[i - 1].x, r[i].y * 65536 + r[i].x) << i;
  // Every changed cell lies in some rectangle.
  for (uint32_t cy = 0; cy < 30; ++cy)
    for (uint32_t cx = 0; cx < 40; ++cx) {
      if (!cells[cy * 40 + cx]) continue;
      bool covered = false;
      for (const MovieRect& q : r)
        covered |= int32_t(cx * 16) >= q.x && int32_t(cx * 16) < q.x + q.width && int32_t(cy * 16) >= q.y &&
                   int32_t(cy * 16) < q.y + q.height;
      EXPECT_TRUE(covered) << cx << "," << cy;
    }
}

// Rows beyond 32768 pixels: the order's key no longer fits in 32 bits (a
// fuzzed movie 50,000 rows high found it).
TEST_F(RectsTest, TheTallestPicturesAreOrderedToo) {
  Shape(32, 65536);
  const uint32_t marks[][2] = {{1, 4000}, {0, 100}, {1, 2100}, {0, 3000}, {0, 4095}, {1, 2047}};
  for (const auto& m : marks) Mark(m[0], m[1]);
  std::vector<MovieRect> r = Rects();
  ASSERT_GE(r.size(), 4u);
  for (size_t i = 1; i < r.size(); ++i)
    EXPECT_LT(int64_t(r[i - 1].y) * 65536 + r[i - 1].x, int64_t(r[i].y) * 65536 + r[i].x) << i;
  for (const auto& m : marks) {
    bool covered = false;
    for (const MovieRect& q : r)
      covered |= int32_t(m[0] * 16) >= q.x && int32_t(m[0] * 16) < q.x + q.width && int32_t(m[1] * 16) >= q.y &&
                 int32_t(m[1] * 16) < q.y + q.height;
    EXPECT_TRUE(covered) << m[0] << "," << m[1];
  }
}

TEST_F(RectsTest, TheLargerSavingPicksTheCut) {
  Shape(640, 480);
  // Two cells in one column, far apart vertically: only the cut across the
  // height saves anything.
  Mark(5, 2);
  Mark(5, 27);
  std::vector<MovieRect> r = Rects();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(Same(r[0], 80, 32, 16, 16));
  EXPECT_TRUE(Same(r[1], 80, 432, 16, 16));
}

TEST_F(RectsTest, ScaledByTheCopysDisplayOptionAndClipped) {
  Shape(641, 200);  // pitch 656: the last cell column reaches past the picture
  Mark(40, 0);
  movie.width = 641 * 2;
  movie.height = 400;
  std::vector<MovieRect> r = Rects(kOptionWideTall << kCopyOptionShift);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(Same(r[0], 1280, 0, 2, 32));

  movie.rectCount = -1;
  movie.width = 641;
  r = Rects(kOptionTallInterlaced << kCopyOptionShift);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(Same(r[0], 640, 0, 1, 32));
}

TEST_F(RectsTest, StretchingBuffersTakeTheWholePictureAndSomeTakeNone) {
  Shape(640, 480);
  Mark(3, 3);
  std::vector<MovieRect> r = Rects(kRectsWhole);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(Same(r[0], 0, 0, 640, 480));
  movie.rectCount = -1;
  EXPECT_EQ(GetRects(&movie, kRectsNone), 0);
}

TEST_F(RectsTest, NothingAfterASkippedCopyUnlessNeverSkip) {
  Shape(640, 480);
  Mark(1, 1);
  movie.copySkipped = 1;
  EXPECT_EQ(GetRects(&movie, 0), 0);
  EXPECT_EQ(GetRects(&movie, kCopyNeverSkip), 1);
}

}  // namespace
}  // namespace kivo
