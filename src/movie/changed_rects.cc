// SPDX-License-Identifier: BSD-2-Clause
// GetRects: the changed-cell map cut into at most eight rectangles, chosen by
// the area each cut saves, then scaled to the presented picture and clipped.
#include "kivo/convert.h"  // the display options and copy flags
#include "movie/movie_api.h"
#include "movie/movie_internal.h"

namespace kivo {
namespace {

struct Box {
  int32_t x, y, w, h;  // pixels, multiples of 16; w = 0 when empty
};

struct Split {
  Box a, b;
  uint32_t saving;
};

bool Changed(const Movie* m, int32_t cx, int32_t cy) { return m->planes.changedCells[cy * m->cellsAcross + cx] != 0; }

// The smallest box of whole cells holding every changed cell inside `area`.
Box BoundingBox(const Movie* m, Box area) {
  int32_t cx0 = area.x / 16, cy0 = area.y / 16, cx1 = (area.x + area.w) / 16, cy1 = (area.y + area.h) / 16;
  int32_t top = -1, bottom = -1;
  for (int32_t cy = cy0; cy < cy1 && top < 0; ++cy)
    for (int32_t cx = cx0; cx < cx1; ++cx)
      if (Changed(m, cx, cy)) {
        top = cy;
        break;
      }
  if (top < 0) return {0, 0, 0, 0};
  for (int32_t cy = cy1 - 1; cy >= top && bottom < 0; --cy)
    for (int32_t cx = cx0; cx < cx1; ++cx)
      if (Changed(m, cx, cy)) {
        bottom = cy;
        break;
      }
  int32_t left = cx1, right = cx0 - 1;
  for (int32_t cy = top; cy <= bottom; ++cy)
    for (int32_t cx = cx0; cx < cx1; ++cx)
      if (Changed(m, cx, cy)) {
        if (cx < left) left = cx;
        if (cx > right) right = cx;
      }
  return {left * 16, top * 16, (right - left + 1) * 16, (bottom - top + 1) * 16};
}

uint32_t Area(const Box& b) { return uint32_t(b.w) * uint32_t(b.h); }

Split WorkOutSplit(const Movie* m, const Box& r) {
  Split best{r, {0, 0, 0, 0}, 0};
  if (r.w >= 32) {
    int32_t h = (r.w / 2 + 15) & ~15;
    Box a = BoundingBox(m, {r.x, r.y, h, r.h});
    Box b = BoundingBox(m, {r.x + h, r.y, r.w - h, r.h});
    best = {a, b, Area(r) - Area(a) - Area(b)};
  }
  if (r.h >= 32) {
    int32_t v = (r.h / 2 + 15) & ~15;
    Box a = BoundingBox(m, {r.x, r.y, r.w, v});
    Box b = BoundingBox(m, {r.x, r.y + v, r.w, r.h - v});
    uint32_t saving = Area(r) - Area(a) - Area(b);
    if (saving > best.saving) best = {a, b, saving};
  }
  return best;
}

// The changed cells of the newest picture cut into at most eight boxes, in
// the picture's own pixels, top to bottom then left to right; `whole` gives
// the picture itself when anything changed.
int32_t CutChangedCells(const Movie* m, bool whole, Box boxes[8]) {
  const Box picture = {0, 0, static_cast<int32_t>(m->planes.pitch), static_cast<int32_t>(m->planes.rows)};
  Box first = BoundingBox(m, picture);
  if (first.w == 0) return 0;
  int32_t count = 0;
  if (whole) {
    boxes[count++] = picture;
  } else {
    Split splits[8];
    boxes[count] = first;
    splits[count++] = WorkOutSplit(m, first);
    while (count < 8) {
      int32_t pick = -1;
      for (int32_t i = 0; i < count; ++i)
        if (splits[i].saving > 0 && (pick < 0 || splits[i].saving > splits[pick].saving)) pick = i;
      if (pick < 0) break;
      Box a = splits[pick].a, b = splits[pick].b;
      boxes[pick] = a;
      boxes[count++] = b;
      if (count == 8) break;
      splits[pick] = WorkOutSplit(m, a);
      splits[count - 1] = WorkOutSplit(m, b);
    }
  }
  // The key is 64-bit: rows of a picture 65536 high times 65536 do not fit
  // in 32 bits.
  for (int32_t i = 1; i < count; ++i) {
    Box key = boxes[i];
    int32_t j = i - 1;
    while (j >= 0 && (int64_t(boxes[j].y) * 65536 + boxes[j].x) > (int64_t(key.y) * 65536 + key.x)) {
      boxes[j + 1] = boxes[j];
      --j;
    }
    boxes[j + 1] = key;
  }
  return count;
}

// Boxes in the decoded picture's pixels as rectangles of the presented
// picture: doubled as display option `option` doubles the copy, clipped.
void Present(Movie* m, const Box* boxes, int32_t count, uint32_t option) {
  const bool doubleY = option == kOptionTallDoubled || option == kOptionTallInterlaced || option == kOptionWideTall ||
                       option == kOptionWideInterlaced;
  const bool doubleX = option == kOptionWide || option == kOptionWideTall || option == kOptionWideInterlaced;
  for (int32_t i = 0; i < count; ++i) {
    MovieRect r = {boxes[i].x, boxes[i].y, boxes[i].w, boxes[i].h};
    if (doubleX) {
      r.x *= 2;
      r.width *= 2;
    }
    if (doubleY) {
      r.y *= 2;
      r.height *= 2;
    }
    if (uint32_t(r.x) + uint32_t(r.width) > m->width) r.width = static_cast<int32_t>(m->width - uint32_t(r.x));
    if (uint32_t(r.y) + uint32_t(r.height) > m->height) r.height = static_cast<int32_t>(m->height - uint32_t(r.y));
    m->rects[i] = r;
  }
}

}  // namespace

int32_t GetRects(Movie* m, uint32_t copyFlags) {
  if (!m) return 0;
  copyFlags |= m->openFlags & kCopyMovieFlags;  // as the copy took them
  if (copyFlags & kRectsNone) return 0;
  // The lateness check the copy ran first decides whether there is anything
  // to show; the copy's flags say how it was scaled.
  if (CopySkipped(m, copyFlags)) return 0;
  if (m->rectCount != -1) return m->rectCount;
  Box boxes[8];
  const int32_t count = CutChangedCells(m, (copyFlags & kRectsWhole) != 0, boxes);
  Present(m, boxes, count, CopyOption(copyFlags));
  m->rectCount = count;
  return count;
}

}  // namespace kivo
