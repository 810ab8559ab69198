// SPDX-License-Identifier: BSD-2-Clause
// Stretch classes, rectangle scaling and clipping, window-position rounding.
#include "display/blit_geometry.h"

#include "display/blit_buffer.h"

namespace kivo {

uint32_t StretchClassX(uint32_t shown, uint32_t picture) {
  if (shown == picture || picture == 0 || shown == 0) return 0;
  if (shown > picture) return shown % picture == 0 ? kStretchEnlargeXInteger : kStretchEnlargeX;
  return picture % shown == 0 ? kStretchShrinkXInteger : kStretchShrinkX;
}

namespace {

int32_t ScaleEdge(int64_t edge, uint32_t to, uint32_t from) {
  if (from == 0) return 0;
  // Unsigned products as the edges are never negative after clipping; a
  // negative edge is scaled by its magnitude.
  const bool negative = edge < 0;
  const uint64_t magnitude = uint64_t(negative ? -edge : edge);
  const int64_t scaled = int64_t(magnitude * to / from);
  return int32_t(negative ? -scaled : scaled);
}

}  // namespace

BlitRectangle ScaleRectangle(BlitRectangle r, uint32_t width, uint32_t height,
                             uint32_t blitWidth, uint32_t blitHeight) {
  BlitRectangle out;
  out.x = ScaleEdge(r.x, blitWidth, width);
  out.y = ScaleEdge(r.y, blitHeight, height);
  out.width = ScaleEdge(int64_t(r.x) + r.width, blitWidth, width) - out.x;
  out.height = ScaleEdge(int64_t(r.y) + r.height, blitHeight, height) - out.y;
  return out;
}

bool ClipRectangle(BlitRectangle* r, uint32_t width, uint32_t height) {
  int64_t x0 = r->x, y0 = r->y;
  int64_t x1 = x0 + r->width, y1 = y0 + r->height;
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > int64_t(width)) x1 = width;
  if (y1 > int64_t(height)) y1 = height;
  if (x1 <= x0 || y1 <= y0) return false;
  *r = BlitRectangle{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
  return true;
}

int32_t AlignClientX(int32_t x, uint32_t bytesPerPixel) {
  const int64_t step = bytesPerPixel == 4 ? 2 : bytesPerPixel == 3 ? 8 : 4;
  // Round up, towards +infinity also for negative positions.
  int64_t v = int64_t(x) + step - 1;
  v -= ((v % step) + step) % step;
  return int32_t(v);
}

void AdjustWindowPlacement(const WindowPlacement& p, int32_t* x, int32_t* y) {
  int64_t clientX = int64_t(*x) + p.clientOffsetX;
  int64_t clientY = int64_t(*y) + p.clientOffsetY;
  if (p.keepOnScreen) {
    if (clientX + p.pictureWidth > p.screenWidth) clientX = int64_t(p.screenWidth) - p.pictureWidth;
    if (clientX < 0) clientX = 0;
    if (clientY + p.pictureHeight > p.screenHeight)
      clientY = int64_t(p.screenHeight) - p.pictureHeight;
    if (clientY < 0) clientY = 0;
  }
  if (clientX > INT32_MAX - 8) clientX = INT32_MAX - 8;
  if (clientX < INT32_MIN) clientX = INT32_MIN;
  clientX = AlignClientX(int32_t(clientX), p.screenBytesPerPixel);
  *x = int32_t(clientX - p.clientOffsetX);
  *y = int32_t(clientY - p.clientOffsetY);
}

}  // namespace kivo
