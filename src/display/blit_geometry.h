// SPDX-License-Identifier: BSD-2-Clause
// The arithmetic of showing a picture: how a blit size relates to the picture
// (stretch classes against a style's capabilities), scaled and clipped
// rectangles, and window positions that keep the picture fast to write.
#pragma once

#include <cstdint>

namespace kivo {

struct BlitRectangle {
  int32_t x, y, width, height;
};

// The horizontal stretch bits for showing `picture` pixels as `shown` pixels:
// none when equal, integer enlarge for a multiple, integer shrink for a
// divisor, else any enlarge or any shrink. The vertical bits are these >> 4.
uint32_t StretchClassX(uint32_t shown, uint32_t picture);
inline uint32_t StretchClassY(uint32_t shown, uint32_t picture) {
  return StretchClassX(shown, picture) >> 4;
}
inline bool StretchWithin(uint32_t requested, uint32_t capabilities) {
  return (requested & ~capabilities) == 0;
}

// The rectangle `r` of a width x height picture as it lies in the picture
// shown at blitWidth x blitHeight (edges scaled with 64-bit products).
BlitRectangle ScaleRectangle(BlitRectangle r, uint32_t width, uint32_t height,
                             uint32_t blitWidth, uint32_t blitHeight);

// `r` cut to the width x height picture; false when nothing is left.
bool ClipRectangle(BlitRectangle* r, uint32_t width, uint32_t height);

// Rounds a client-area x up so that the picture starts 8-byte aligned in
// screen memory: to 2 pixels at 4 bytes per pixel, 8 at 3, 4 otherwise.
int32_t AlignClientX(int32_t x, uint32_t bytesPerPixel);

struct WindowPlacement {
  int32_t clientOffsetX, clientOffsetY;
  uint32_t pictureWidth, pictureHeight;
  uint32_t screenWidth, screenHeight, screenBytesPerPixel;
  bool keepOnScreen;                  // written in place: never off the screen
};

// Where a window asked at (*x, *y) should go.
void AdjustWindowPlacement(const WindowPlacement& p, int32_t* x, int32_t* y);

}  // namespace kivo
