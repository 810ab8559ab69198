// SPDX-License-Identifier: BSD-2-Clause
// Reading and checking the container's header, track table and index.
#include "movie/container.h"

namespace kivo {

void ParseMovieHeader(const uint8_t bytes[kHeaderSize], MovieHeader* h) {
  h->magic[0] = bytes[0];
  h->magic[1] = bytes[1];
  h->magic[2] = bytes[2];
  h->revision = bytes[3];
  uint32_t* fields[] = {&h->dataSize, &h->frameCount, &h->largestFrame, &h->indexLast, &h->width,
                        &h->height,   &h->rateNum,    &h->rateDen,      &h->videoFlags, &h->trackCount};
  for (int i = 0; i < 10; ++i) *fields[i] = ReadLe32(bytes + 4 + 4 * i);
}

const char* CheckMovieHeader(const MovieHeader& h) {
  uint32_t word = uint32_t(h.magic[0]) | uint32_t(h.magic[1]) << 8 | uint32_t(h.magic[2]) << 16 |
                  uint32_t(h.revision) << 24;
  auto magic = [](char r) { return uint32_t('K') | uint32_t('I') << 8 | uint32_t('V') << 16 | uint32_t(r) << 24; };
  if (word != magic('f') && word != magic('g') && word != magic('h') && word != magic('i')) return kNotKivoText;
  if (h.frameCount == 0) return kNoFramesText;
  return nullptr;
}

const char* CheckMovieTables(const MovieHeader& h, uint64_t sourceSize) {
  // The index is read up to entry frameCount (the end of the last frame).
  if (h.indexLast < h.frameCount) return "The frame index of this Kivo file is too short.";
  // Tables are held in one block with the movie record: keep them well inside
  // what 32-bit sizes can express, whatever the source claims.
  uint64_t tables = kHeaderSize + TrackTableBytes(h) + IndexBytes(h);
  if (h.trackCount > 0x01000000u || tables > 0x40000000u) return "The tables of this Kivo file are too large.";
  if (sourceSize != UINT64_MAX && tables > sourceSize) return "This Kivo file is truncated.";
  return nullptr;
}

const char* CheckPictureSize(uint32_t width, uint32_t height) {
  const uint64_t c = ((uint64_t(width) + 1) / 2 + 7) & ~uint64_t(7), d = ((uint64_t(height) + 1) / 2 + 7) & ~uint64_t(7);
  const uint64_t luma = 4 * c * d, frame = luma + 2 * c * d;
  // The bundle buffers grow with the width alone (about 16 bytes a column),
  // and the decoder walks every block row even of a picture with no width: a
  // side beyond the limit must not slip past the cap when the other is 0.
  const uint64_t bundles = 16 * 2 * c;
  if (width > 65536 || height > 65536 || 2 * frame + 2 * luma + bundles > (uint64_t(512) << 20)) return kOutOfMemoryText;
  return nullptr;
}

uint32_t RevisionFlags(uint8_t revision) {
  if (revision == 'f' || revision == 'g') return 0x8000 | 0x10000;
  if (revision == 'h') return 0x8000;
  return 0;
}

uint32_t RoundedFrameRate(uint32_t rateNum, uint32_t rateDen) {
  uint32_t r = rateDen ? static_cast<uint32_t>((uint64_t(rateNum) + rateDen / 2) / rateDen) : 0;
  return r ? r : 1;
}

PeakDataRate ComputePeakDataRate(const uint32_t* index, uint32_t frameCount, uint32_t r) {
  PeakDataRate best{0, 0};
  if (frameCount > r) {
    for (uint32_t i = 0; i + r < frameCount; ++i) {
      uint32_t bytes = index[i + r] - index[i];
      if (bytes > best.rate) best = {bytes, i};
    }
  }
  if (best.rate == 0)
    best = {static_cast<uint32_t>(uint64_t(index[frameCount] - index[0]) * r / frameCount), 0};
  return best;
}

bool IndexIsSound(const uint32_t* index, uint32_t frameCount, uint32_t tablesEnd, uint32_t limit) {
  uint32_t previous = index[0] & ~1u;
  if (previous < tablesEnd || previous > limit) return false;
  for (uint32_t i = 1; i <= frameCount; ++i) {
    uint32_t at = index[i] & ~1u;
    if (at < previous || at > limit) return false;
    previous = at;
  }
  return true;
}

bool AllKeyFrames(const uint32_t* index, uint32_t frameCount) {
  for (uint32_t i = 0; i < frameCount; ++i)
    if (!(index[i] & 1)) return false;
  return true;
}

uint32_t AverageFrameSize(const MovieHeader& h, const uint32_t* index) {
  uint32_t b = h.dataSize - (index[0] & ~1u);
  return b / h.frameCount;
}

uint32_t AverageDataRate(const MovieHeader& h, const uint32_t* index) {
  uint64_t b = h.dataSize - (index[0] & ~1u);
  uint64_t den = uint64_t(h.frameCount) * h.rateDen;
  return den ? static_cast<uint32_t>(b * h.rateNum / den) : 0;
}

}  // namespace kivo
