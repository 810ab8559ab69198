// SPDX-License-Identifier: BSD-2-Clause
// What a caller may read of an open movie: the public values copied out of
// the library's own record, the changed rectangles and the decoded planes.
#include "kivo/movie.h"

#include <cstring>

#include "movie/movie.h"

namespace kivo {

int32_t GetMovieInfo(const Movie* m, MovieInfo* info) {
  if (!info) return 0;
  memset(info, 0, sizeof *info);
  if (!m) return 0;
  info->width = m->width;
  info->height = m->height;
  info->sourceWidth = m->sourceWidth;
  info->sourceHeight = m->sourceHeight;
  info->frameCount = m->frameCount;
  info->currentFrame = m->currentFrame;
  info->lastFrame = m->lastFrame;
  info->playRateNum = m->playRateNum;
  info->playRateDen = m->playRateDen;
  info->fileRateNum = m->fileRateNum;
  info->fileRateDen = m->fileRateDen;
  info->openFlags = m->openFlags;
  info->videoFlags = m->videoFlags;
  info->dataSize = m->dataSize;
  info->trackCount = m->trackCount;
  info->openTrackCount = m->openTrackCount;
  info->readError = m->readError;
  info->paused = m->paused;
  info->soundOn = m->soundOn;
  info->revision = m->revision;
  info->largestFrame = m->largestFrame;
  info->indexLast = m->indexLast;
  info->frameIndex = m->frameIndex;
  return 1;
}

int32_t SetMovieDisplayMode(Movie* m, uint32_t mode) {
  if (!m || mode < 1 || mode > 6 || (m->openFlags & kOpenModeMask) != 0) return 0;
  if (mode == 3 || mode == 4 || mode == 5) m->width *= 2;
  if (mode == 1 || mode == 2 || mode == 4 || mode == 5) m->height *= 2;
  m->openFlags |= mode << kOpenModeShift;
  return 1;
}

const MovieRect* GetRectList(const Movie* m) { return m ? m->rects : nullptr; }

int32_t GetPicture(const Movie* m, MoviePicture* picture) {
  if (!picture) return 0;
  memset(picture, 0, sizeof *picture);
  if (!m) return 0;
  const PlaneSet& p = m->planes;
  const CurrentPlanes c =
      GetCurrentPlanes(p, (m->openFlags & kOpenBeforeH) != 0, (m->openFlags & kOpenAlpha) != 0);
  picture->luma = c.y;
  picture->u = c.u;
  picture->v = c.v;
  picture->alpha = c.alpha;
  picture->width = m->sourceWidth;
  picture->height = m->sourceHeight;
  picture->chromaWidth = (m->sourceWidth + 1) / 2;
  picture->chromaHeight = (m->sourceHeight + 1) / 2;
  picture->pitch = p.pitch;
  picture->chromaPitch = p.chromaPitch;
  picture->frame = m->decodedFrame;
  return 1;
}

}  // namespace kivo
