// SPDX-License-Identifier: BSD-2-Clause
// CopyToBuffer and CopyToRgbaRows: the frame cycle's side of a copy. The
// movie's flags are added, the lateness check may skip the copy, the
// read-ahead is topped up, and only then is the picture handed to the
// conversion, which knows nothing of movies.
#include <cstring>

#include "convert/copy_to_buffer.h"
#include "movie/movie_api.h"
#include "movie/movie_internal.h"

namespace kivo {
namespace {

CopySource NewestPicture(const Movie* m) {
  const PlaneSet& planes = m->planes;
  CopySource from = {};
  from.picture.planes = planes.frameBuffers[planes.current];
  from.picture.alpha = planes.alphaBuffers[planes.current];
  from.picture.planePitch = planes.pitch;
  from.picture.planeHeight = planes.rows;
  from.picture.width = m->sourceWidth;
  from.picture.height = m->sourceHeight;
  from.changedCells = planes.changedCells;
  from.cellsAcross = m->cellsAcross;
  from.cellCount = m->cellCount;
  return from;
}

}  // namespace

int32_t CopyToBuffer(Movie* m, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                     uint32_t flags) {
  if (!m || !destination) return 0;
  flags |= m->openFlags & kCopyMovieFlags;
  m->io.foregroundBusy.store(1, std::memory_order_relaxed);
  // Late: skipped unless never-skip is in force; with it the copy goes on
  // and still says it was late, as long as this late run has not passed
  // three (CheckLate counts the run and lets the fourth through).
  const uint32_t runBefore = m->lateRun;
  if (CheckLate(m, flags)) {
    m->io.foregroundBusy.store(0, std::memory_order_relaxed);
    return 1;
  }
  const int32_t result = NeverSkip(m, flags) && m->lateRun == runBefore + 1 ? 1 : 0;
  TopUpReadAhead(m, TopUp::kAroundWork);
  CopyPicture(NewestPicture(m), destination, pitch, height, x, y, flags);
  m->io.foregroundBusy.store(0, std::memory_order_relaxed);
  return result;
}

void CopyToRgbaRows(Movie* m, uint8_t* rows, int32_t pitch, uint32_t flags) {
  if (!m || !rows) return;
  flags = (flags & (kCopyGray | kCopyOptionMask | kCopyNoSimd)) | kCopyFull | kCopyNeverSkip | kFormatRgba32;
  CopyToBuffer(m, rows, pitch, m->height, 0, 0, flags);
  if (m->planes.alphaBuffers[m->planes.current]) return;
  for (uint32_t r = 0; r < m->height; ++r) {
    uint8_t* p = rows + ptrdiff_t(r) * pitch;
    for (uint32_t i = 0; i < m->width; ++i) p[4 * i + 3] = 255;
  }
}

}  // namespace kivo
