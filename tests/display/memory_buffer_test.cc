// SPDX-License-Identifier: BSD-2-Clause
// The memory buffer: every destination format, its layout and clearing, the
// operations of an open buffer, and a player's buffer without a window.
#include <gtest/gtest.h>

#include <cstring>

#include "display/blit_buffer.h"
#include "display/pixel_layout.h"
#include "movie/movie.h"

namespace kivo {
namespace {

TEST(MemoryBuffer, EveryCodeGivesAClearedPictureToWrite) {
  for (int32_t code = 0; code <= 15; ++code) {
    BlitBuffer* b = OpenMemoryBlitBuffer(37, 9, code);
    ASSERT_NE(b, nullptr) << code;
    EXPECT_STREQ(GetBlitStyleName(b), "Memory buffer");
    EXPECT_EQ(b->flags & kBlitCodeMask, uint32_t(code));
    EXPECT_TRUE(b->flags & kBlitFullCopy);
    ASSERT_EQ(LockBlitBuffer(b), 1);
    ASSERT_NE(b->lockedPointer, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->lockedPointer) % 32, 0u);
    EXPECT_GE(uint32_t(b->lockedPitch), 37 * DestinationBytesPerPixel(code));
    const uint8_t first = b->lockedPointer[0];
    if (code == kDestYuy2) EXPECT_EQ(b->lockedPointer[1], 0x80);
    else if (code == kDestUyvy) EXPECT_EQ(first, 0x80);
    else if (code == kDestYv12) EXPECT_EQ(first, 16);
    else EXPECT_EQ(first, 0);
    // The whole picture can be written: a sanitizer run checks the bounds.
    const size_t rowBytes = 37 * DestinationBytesPerPixel(code);
    for (uint32_t y = 0; y < 9; ++y) memset(b->lockedPointer + y * b->lockedPitch, 0x5A, rowBytes);
    if (code == kDestYv12) {
      uint8_t* chroma = b->lockedPointer + b->lockedPitch * 9;
      for (uint32_t y = 0; y < 2 * (9 / 2); ++y) memset(chroma + y * (b->lockedPitch / 2), 0x5A, 37 / 2);
    }
    EXPECT_EQ(UnlockBlitBuffer(b), 1);
    EXPECT_EQ(b->lockedPointer, nullptr);
    EXPECT_EQ(b->flags & kBlitFullCopy, 0u);
    CloseBlitBuffer(b);
  }
  EXPECT_EQ(OpenMemoryBlitBuffer(16, 16, 16), nullptr);
  EXPECT_EQ(OpenMemoryBlitBuffer(16, 16, -1), nullptr);
  EXPECT_EQ(OpenMemoryBlitBuffer(0, 16, 3), nullptr);
  // Sizes whose bytes cannot be counted in 32 bits fail, they do not wrap.
  EXPECT_EQ(OpenMemoryBlitBuffer(70000, 70000, 3), nullptr);
  EXPECT_STRNE(GetBlitBufferError(), "");
}

TEST(MemoryBuffer, ClearingPutsBackBlack) {
  BlitBuffer* b = OpenMemoryBlitBuffer(8, 4, kDestYuy2);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(LockBlitBuffer(b), 1);
  memset(b->lockedPointer, 0x33, size_t(b->lockedPitch) * 4);
  UnlockBlitBuffer(b);
  b->flags |= kBlitFullCopy;
  EXPECT_EQ(ClearBlitBuffer(b), 1);
  EXPECT_EQ(b->flags & kBlitFullCopy, 0u);
  ASSERT_EQ(LockBlitBuffer(b), 1);
  for (uint32_t y = 0; y < 4; ++y) {
    const uint8_t* row = b->lockedPointer + y * b->lockedPitch;
    for (uint32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(row[2 * x], 0x00);
      EXPECT_EQ(row[2 * x + 1], 0x80);
    }
    EXPECT_EQ(row[16], 0x33);   // beyond the picture: left alone
  }
  UnlockBlitBuffer(b);
  CloseBlitBuffer(b);

  // Formats the display may hold in any channel order clear to zero too.
  for (int32_t code : {kDestRgb24, kDestRgbx32, kDestBgra32, kDestArgb4444, kDestArgb1555}) {
    b = OpenMemoryBlitBuffer(3, 2, code);
    ASSERT_NE(b, nullptr);
    LockBlitBuffer(b);
    memset(b->lockedPointer, 0x77, size_t(b->lockedPitch) * 2);
    UnlockBlitBuffer(b);
    ASSERT_EQ(ClearBlitBuffer(b), 1);
    LockBlitBuffer(b);
    for (uint32_t i = 0; i < 3 * DestinationBytesPerPixel(code); ++i)
      EXPECT_EQ(b->lockedPointer[b->lockedPitch + i], 0) << code;
    UnlockBlitBuffer(b);
    CloseBlitBuffer(b);
  }
}

TEST(MemoryBuffer, OperationsOfAPlayerWithoutADisplay) {
  BlitBuffer* b = OpenBlitBuffer(nullptr, 320, 240, 5 | kStretchAny);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(GetBlitStyleName(b), "Memory buffer");
  EXPECT_EQ(b->flags & kBlitCodeMask, uint32_t(kDestBgrx32));
  EXPECT_EQ(b->style, 0);
  EXPECT_EQ(SetBlitSize(b, 640, 480), 1);
  EXPECT_EQ(b->windowWidth, 640u);
  // Locking twice hands out the same picture; one unlock ends it.
  ASSERT_EQ(LockBlitBuffer(b), 1);
  uint8_t* p = b->lockedPointer;
  ASSERT_EQ(LockBlitBuffer(b), 1);
  EXPECT_EQ(b->lockedPointer, p);
  UnlockBlitBuffer(b);
  EXPECT_EQ(b->lockedPointer, nullptr);
  // An unlock without a lock keeps a pending full copy.
  b->flags |= kBlitFullCopy;
  UnlockBlitBuffer(b);
  EXPECT_TRUE(b->flags & kBlitFullCopy);
  MovieRect r{-10, -10, 1000, 1000};
  BlitRects(b, &r, 1);
  BlitRects(b, nullptr, 1);
  SetBlitPosition(b, 4, 4);
  int32_t x = 1, y = 1;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 2);   // 4 bytes per pixel: whole pairs of pixels
  CloseBlitBuffer(b);

  // Every operation takes no buffer quietly.
  EXPECT_EQ(LockBlitBuffer(nullptr), 0);
  EXPECT_EQ(UnlockBlitBuffer(nullptr), 1);
  EXPECT_EQ(SetBlitSize(nullptr, 1, 1), 0);
  EXPECT_EQ(ClearBlitBuffer(nullptr), 0);
  EXPECT_STREQ(GetBlitStyleName(nullptr), "");
  BlitRects(nullptr, nullptr, 1);
  SetBlitPosition(nullptr, 0, 0);
  AdjustWindowPosition(nullptr, &x, &y);
  CloseBlitBuffer(nullptr);
}

}  // namespace
}  // namespace kivo
