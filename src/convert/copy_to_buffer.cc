// CopyToBuffer: combines the flags, places a bottom-up destination, asks
// the frame cycle whether the copy is too late, tops up the read-ahead,
// then hands the picture to the converter of the format, whole or by
// changed cells.
#include "convert/copy_to_buffer.h"

#include <cstring>

#include "convert/conversion_tables.h"
#include "convert/converters.h"
#include "convert/row_walk.h"
#include "io/io_driver.h"
#include "movie/movie_api.h"

namespace kivo {
namespace {

bool NeverSkip(const Movie* m, uint32_t flags) {
  return ((flags | m->openFlags) & kCopyNeverSkip) != 0;
}

// Reading one chunk ahead while the reader thread is not at it.
void TopUpReadAhead(Movie* m) {
  IoDriver& io = m->io;
  if (m->preloaded || io.chunkInProgress.load(std::memory_order_relaxed) || !io.ReadAhead) return;
  if (FillPercent(&io) >= 75) return;
  if (!io.TryLock || io.TryLock(&io)) {
    io.ReadAhead(&io);
    if (io.Unlock) io.Unlock(&io);
  } else if (!(m->openFlags & kOpenNoReader) && io.Yield) {
    io.Yield(&io);
  }
}

bool EveryCellChanged(const Movie* m) {
  const uint8_t* map = m->planes.changedCells;
  return !map || std::memchr(map, 0, m->cellCount) == nullptr;
}

}  // namespace

int32_t CopyToBuffer(Movie* m, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                     uint32_t flags) {
  if (!m || !destination) return 0;
  flags |= m->openFlags & kCopyMovieFlags;
  m->io.foregroundBusy.store(1, std::memory_order_relaxed);
  uint32_t code = flags & kCopyFormatMask;
  PrepareConversionTables(static_cast<int32_t>(code));

  uint8_t* dest = static_cast<uint8_t*>(destination);
  if (pitch < 0) {
    dest += (ptrdiff_t(height) - y - 1) * -ptrdiff_t(pitch);
    y = 0;
  }

  // Late: skipped unless never-skip is in force; with it the copy goes on
  // and still says it was late, as long as this late run has not passed
  // three (CheckLate counts the run and lets the fourth through).
  uint32_t runBefore = m->lateRun;
  if (CheckLate(m, flags)) {
    m->io.foregroundBusy.store(0, std::memory_order_relaxed);
    return 1;
  }
  int32_t result = NeverSkip(m, flags) && m->lateRun == runBefore + 1 ? 1 : 0;

  TopUpReadAhead(m);
  m->lastCopyFlags = flags;

  const PlaneSet& planes = m->planes;
  ConvertSource from = {};
  from.planes = planes.frameBuffers[planes.current];
  from.alpha = planes.alphaBuffers[planes.current];
  from.planePitch = planes.pitch;
  from.planeHeight = planes.rows;
  from.width = m->sourceWidth;
  from.height = m->sourceHeight;
  ConvertTarget to = {dest, pitch, x, y};
  if (from.planes && code != kFormatNone) {
    if (code == kFormatYv12) {
      CopyYv12(to, height, from, 0, 0, flags);
    } else {
      FormatDescriptor* d = DescriptorFor(code, from.alpha != nullptr);
      bool alphaMember = from.alpha && code >= kFormatBgra32 && code <= kFormatArgb1555;
      if (!alphaMember) from.alpha = nullptr;
      if ((flags & kCopyFull) || EveryCellChanged(m))
        ConvertFull(d, to, from, 0, 0, flags);
      else
        ConvertChanged(d, to, from, planes.changedCells, m->cellsAcross, flags);
    }
  }
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
