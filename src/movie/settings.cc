// SPDX-License-Identifier: BSD-2-Clause
// The open's one-shot settings.
#include "movie/settings.h"

#include "movie/movie.h"

namespace kivo {
namespace {

int32_t rateNum = -1;
int32_t rateDen = -1;
uint32_t trackIds[kMaxSoundTracks] = {0};
uint32_t trackCount = 1;

}  // namespace

void SetFrameRate(int32_t numerator, int32_t denominator) {
  rateNum = numerator;
  rateDen = denominator;
}

void SetSoundTracks(uint32_t count, const uint32_t* ids) {
  if (count > kMaxSoundTracks) count = kMaxSoundTracks;
  if (!ids) count = 0;
  for (uint32_t i = 0; i < count; ++i) trackIds[i] = ids[i];
  trackCount = count;
}

void GetFrameRateOverride(int32_t* numerator, int32_t* denominator) {
  *numerator = rateNum;
  *denominator = rateDen;
}

void ResetFrameRateOverride() { rateNum = -1; }

const uint32_t* SoundTrackRequest(uint32_t* count) {
  *count = trackCount;
  return trackIds;
}

void ResetSoundTrackRequest() {
  trackIds[0] = 0;
  trackCount = 1;
}

}  // namespace kivo
