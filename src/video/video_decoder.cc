// SPDX-License-Identifier: BSD-2-Clause
// One frame's video data: the optional alpha plane behind its size word, the
// luma plane (behind its size word from revision 'i' on) and the two chroma
// planes, each bounded by what the data holds. A size word pointing outside
// the data leaves the plane it introduces decoded up to the end of the data
// and the planes after it, whose start is lost, repeating the reference.
#include "video/video_decoder.h"

#include <cstring>

#include "video/plane_decoder.h"

namespace kivo {
namespace {

inline uint32_t WordAt(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

struct Geometry {
  uint32_t pitch, rows, chromaPitch, chromaRows, areaWidth, areaHeight;
};

Geometry GeometryOf(uint32_t width, uint32_t height) {
  Geometry g;
  g.chromaPitch = uint32_t(((uint64_t(width) + 1) / 2 + 7) & ~uint64_t(7));
  g.chromaRows = uint32_t(((uint64_t(height) + 1) / 2 + 7) & ~uint64_t(7));
  g.pitch = 2 * g.chromaPitch;
  g.rows = 2 * g.chromaRows;
  g.areaWidth = uint32_t((uint64_t(width) + 7) & ~uint64_t(7));
  g.areaHeight = uint32_t((uint64_t(height) + 7) & ~uint64_t(7));
  return g;
}

// A region of the data: [start, start + size), or lost when its start is unknown.
struct Region {
  uint32_t start, size;
  bool found;
};

Region From(uint64_t start, uint64_t end, uint32_t dataSize) {
  if (end > dataSize) end = dataSize;
  if (start > end) start = end;
  return Region{uint32_t(start), uint32_t(end - start), true};
}

struct FrameDecode {
  PlaneJob job;     // the fields shared by every plane
  const uint8_t* data;
  bool clean;
};

// Decodes (or, when the region is lost, repeats) one plane and returns the
// region that follows it.
Region RunPlane(FrameDecode* f, uint8_t* dst, const uint8_t* ref, uint32_t areaWidth,
                uint32_t areaHeight, uint32_t pitch, uint32_t planeRows, uint32_t cellStep,
                Region region, uint32_t dataSize) {
  PlaneJob job = f->job;
  job.dst = dst;
  job.ref = ref;
  job.areaWidth = areaWidth;
  job.areaHeight = areaHeight;
  job.linePitch = pitch;
  job.planeRows = planeRows;
  job.cellStep = cellStep;
  if (!region.found) {
    RepeatPlane(job);
    f->clean = false;
    return Region{0, 0, false};
  }
  job.data = f->data + region.start;
  job.size = region.size;
  PlaneOutcome outcome = DecodePlane(job);
  if (!outcome.clean) f->clean = false;
  if (!outcome.complete) return Region{0, 0, false};
  return From(uint64_t(region.start) + outcome.bytesUsed, dataSize, dataSize);
}

}  // namespace

void ClearPictureBuffers(PlaneSet* planes) {
  uint32_t luma = planes->pitch * planes->rows;
  uint32_t chroma = 2 * planes->chromaPitch * planes->chromaRows;
  for (int i = 0; i < 2; ++i) {
    if (planes->frameBuffers[i]) {
      memset(planes->frameBuffers[i], 0, luma);
      memset(planes->frameBuffers[i] + luma, 128, chroma);
    }
    if (planes->alphaBuffers[i]) memset(planes->alphaBuffers[i], 0, luma);
  }
}

int32_t DecodeVideoFrame(PlaneSet* planes, uint8_t* const bundleBuffers[kBundleCount],
                         const uint8_t* data, uint32_t size, uint32_t sourceWidth,
                         uint32_t sourceHeight, int32_t keyFrame, uint32_t openFlags,
                         uint32_t videoFlags) {
  (void)keyFrame;
  const uint32_t features = CpuFeaturesFor(openFlags);
  Geometry g = GeometryOf(sourceWidth, sourceHeight);
  if (!planes || g.pitch != planes->pitch || g.rows != planes->rows ||
      g.chromaPitch != planes->chromaPitch || g.chromaRows != planes->chromaRows ||
      !planes->frameBuffers[0] || !planes->frameBuffers[1] || !planes->changedCells)
    return 0;
  if (!data) size = 0;

  const uint32_t cur = uint32_t(planes->current) & 1;
  uint8_t* dst = planes->frameBuffers[cur ^ 1];
  const uint8_t* ref = planes->frameBuffers[cur];
  uint32_t sizes[kBundleCount];
  ComputeBundleSizes(g.pitch, sizes);

  FrameDecode f;
  f.job = PlaneJob{};
  f.job.changedCells = planes->changedCells;
  f.job.cellsAcross = g.pitch / 16;
  f.job.cellRows = g.rows / 16;
  f.job.bundleBuffers = bundleBuffers;
  f.job.bundleSizes = sizes;
  f.job.openFlags = openFlags;
  f.job.features = features;
  f.data = data;
  f.clean = true;

  Region at = From(0, size, size);
  if (videoFlags & kVideoFlagAlpha) {
    bool decodeAlpha = (openFlags & kDecodeAlpha) && planes->alphaBuffers[0] &&
                       planes->alphaBuffers[1];
    Region alpha{0, 0, false}, after{0, 0, false};
    if (at.size >= 4) {
      uint32_t a = WordAt(data + at.start);
      bool fits = a >= 4 && a <= at.size;
      alpha = From(uint64_t(at.start) + 4, fits ? uint64_t(at.start) + a : size, size);
      if (fits) after = From(uint64_t(at.start) + a, size, size);
    }
    if (!after.found) f.clean = false;
    if (decodeAlpha)
      RunPlane(&f, planes->alphaBuffers[cur ^ 1], planes->alphaBuffers[cur], g.areaWidth,
               g.areaHeight, g.pitch, g.rows, 1, alpha, size);
    at = after;
  }

  Region luma = at, chroma{0, 0, false};
  if (!(openFlags & kBeforeRevisionI)) {
    luma = Region{0, 0, false};
    if (at.found && at.size >= 4) {
      uint32_t l = WordAt(data + at.start);
      bool fits = l >= 4 && l <= at.size;
      luma = From(uint64_t(at.start) + 4, fits ? uint64_t(at.start) + l : size, size);
      if (fits) chroma = From(uint64_t(at.start) + l, size, size);
    }
    if (!chroma.found) f.clean = false;
  }
  Region afterLuma = RunPlane(&f, dst, ref, g.areaWidth, g.areaHeight, g.pitch, g.rows, 1, luma,
                              size);
  if (openFlags & kBeforeRevisionI) chroma = afterLuma;

  if (!(openFlags & kDecodeGrey)) {
    uint32_t lumaBytes = g.pitch * g.rows;
    uint32_t chromaBytes = g.chromaPitch * g.chromaRows;
    for (uint32_t plane = 0; plane < 2; ++plane) {
      uint32_t offset = lumaBytes + plane * chromaBytes;
      chroma = RunPlane(&f, dst + offset, ref + offset, g.chromaPitch, g.chromaRows,
                        g.chromaPitch, g.chromaRows, 2, chroma, size);
    }
  }
  return f.clean ? 1 : 0;
}

}  // namespace kivo
