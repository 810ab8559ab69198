// SPDX-License-Identifier: BSD-2-Clause
// GetSummary and GetRealtime.
#include "movie/statistics.h"

#include <cstring>

#include "base/clock.h"
#include "movie/container.h"
#include "movie/movie_internal.h"

namespace kivo {

uint32_t HistoryFrames(uint32_t roundedRate) {
  return roundedRate < kMaxHistoryFrames ? roundedRate : kMaxHistoryFrames;
}

void RecordFrame(FrameHistory* h, const uint32_t (&now)[kHistoryFigures]) {
  for (uint32_t f = 0; f < kHistoryFigures; ++f) {
    memmove(h->samples[f] + 1, h->samples[f], h->frames * sizeof(uint32_t));
    h->samples[f][0] = now[f];
  }
}

void GetSummary(Movie* m, MovieSummary* s) {
  if (!m || !s) return;
  EntryBookkeeping(m);
  memset(s, 0, sizeof *s);
  const IoDriver& io = m->io;
  s->width = m->width;
  s->height = m->height;
  s->totalMs = GetMilliseconds() - m->firstFrameTime;
  s->fileRateNum = m->fileRateNum;
  s->fileRateDen = m->fileRateDen;
  s->playRateNum = m->playRateNum;
  s->playRateDen = m->playRateDen;
  s->openMs = m->openMs;
  s->frameCount = m->frameCount;
  s->framesPlayed = m->framesDecoded;
  s->skippedBlits = m->skippedBlits;
  s->soundSkips = m->soundSkips;
  s->blitMs = m->blitMs;
  s->readMs = io.frameReadMs;
  s->videoMs = m->videoMs;
  s->audioMs = m->audioMs;
  s->idleReadMs = io.idleReadMs;
  s->backgroundReadMs = io.backgroundReadMs;
  // A fast device over a short time exceeds 32 bits: kept at the field's
  // top. In parts, so that no product overflows whatever the totals.
  const uint64_t took = io.readMs.load(std::memory_order_relaxed) + 1;
  const uint64_t bytes = io.bytesRead.load(std::memory_order_relaxed);
  const uint64_t whole = bytes / took;
  const uint64_t speed = whole > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : whole * 1000 + bytes % took * 1000 / took;
  s->deviceSpeed = speed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(speed);
  s->slowestMs = m->slowestMs;
  s->secondSlowestMs = m->secondSlowestMs;
  s->slowestFrame = m->slowestFrame;
  s->secondSlowestFrame = m->secondSlowestFrame;
  MovieHeader h{};
  h.dataSize = m->dataSize;
  h.frameCount = m->frameCount;
  h.rateNum = m->fileRateNum;
  h.rateDen = m->fileRateDen;
  s->averageDataRate = AverageDataRate(h, m->frameIndex);
  s->averageFrameSize = AverageFrameSize(h, m->frameIndex);
  s->memoryUsed = m->memoryUsed;
  s->inputMemory = io.bufferSize;
  s->inputMemoryUsed = io.highestBuffered;
  s->peakDataRate = m->peakDataRate;
  s->peakDataFrame = m->peakDataFrame + 1;
}

void GetRealtime(Movie* m, RealtimeStats* s, uint32_t window) {
  if (!m || !s) return;
  EntryBookkeeping(m);
  // Window 0, or one the history cannot give, is a second of frames less
  // one: the history's own length minus one.
  const FrameHistory& h = m->history;
  uint32_t w = window;
  if (w == 0 || w >= h.frames) w = h.frames - 1;
  if (m->currentFrame != 0xFFFFFFFFu && w > m->currentFrame) w = m->currentFrame - 1;
  if (w < 1) w = 1;
  s->lastFrame = m->lastFrame;
  s->playRateNum = m->playRateNum;
  s->playRateDen = m->playRateDen;
  s->window = w;
  uint32_t change[kHistoryFigures];
  for (uint32_t f = 0; f < kHistoryFigures; ++f) change[f] = h.samples[f][0] - h.samples[f][w];
  s->spanMs = change[kHistoryTime] ? change[kHistoryTime] : 1;
  s->videoMs = change[kHistoryVideo];
  s->audioMs = change[kHistoryAudio];
  s->readMs = change[kHistoryRead];
  s->idleReadMs = change[kHistoryIdleRead];
  s->backgroundReadMs = change[kHistoryBackgroundRead];
  s->blitMs = change[kHistoryBlit];
  s->fillTarget = m->io.fillTarget;
  s->buffered = m->io.buffered.load(std::memory_order_acquire);
  // The index entry w frames back; before that many frames exist, frame 1.
  uint32_t now = m->currentFrame <= m->frameCount ? m->currentFrame : m->frameCount;
  uint32_t back = now >= w ? now - w : 0;
  uint64_t bytes = m->frameIndex[now] - m->frameIndex[back];
  uint64_t den = uint64_t(w) * m->fileRateDen;
  s->dataRate = den ? static_cast<uint32_t>(bytes * m->fileRateNum / den) : 0;
}

}  // namespace kivo
