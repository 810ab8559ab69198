// SPDX-License-Identifier: BSD-2-Clause
// kivdump --info: what the library reads of a movie's header, track table and
// frame index, written as JSON.
#include "info.h"

#include "kivo/kivo.h"
#include "movie_source.h"

namespace kivo::tools {
namespace {

uint32_t Offset(const uint32_t* index, uint32_t n) { return index[n - 1] & ~1u; }
uint32_t Size(const uint32_t* index, uint32_t n) { return (index[n] & ~1u) - (index[n - 1] & ~1u); }
bool Key(const uint32_t* index, uint32_t n) { return (index[n - 1] & 1u) != 0; }

const char* CodingName(uint32_t coding) {
  return coding == kTrackCodingRdft ? "rdft" : coding == kTrackCodingDct ? "dct" : "none";
}

}  // namespace

std::string WriteMovieInfo(const char* path, uint64_t offset, FILE* out) {
  MovieSource source;
  // The tables only: no reader thread, no read-ahead, no doubling.
  const uint32_t flags = (kOptionForceNone << kOpenModeShift) | kOpenNoReader | kOpenNoFill;
  std::string error = OpenMovieSource(path, offset, flags, true, &source);
  if (!error.empty()) return error;
  MovieInfo m;
  GetMovieInfo(source.movie, &m);
  MovieSummary summary;
  GetSummary(source.movie, &summary);  // the peak and average data rates, worked out from the index
  const uint32_t* index = m.frameIndex;
  bool allKeys = true;
  for (uint32_t n = 1; n <= m.frameCount && allKeys; ++n) allKeys = Key(index, n);
  // The header's video flags use the open flags' bits for alpha, grey and the display mode.
  const uint32_t mode = (m.videoFlags & kOpenModeMask) >> kOpenModeShift;

  fprintf(out, "{\n  \"revision\": \"%c\",\n  \"dataSize\": %u,\n  \"frameCount\": %u,\n", char(m.revision),
          m.dataSize, m.frameCount);
  fprintf(out, "  \"largestFrame\": %u,\n  \"indexLast\": %u,\n  \"width\": %u,\n  \"height\": %u,\n", m.largestFrame,
          m.indexLast, m.sourceWidth, m.sourceHeight);
  fprintf(out, "  \"rateNum\": %u,\n  \"rateDen\": %u,\n  \"videoFlags\": \"0x%08X\",\n", m.fileRateNum,
          m.fileRateDen, m.videoFlags);
  fprintf(out, "  \"alpha\": %s,\n  \"grey\": %s,\n  \"displayMode\": %u,\n",
          (m.videoFlags & kOpenAlpha) ? "true" : "false", (m.videoFlags & kOpenGrey) ? "true" : "false", mode);
  fprintf(out, "  \"peakDataRate\": %u,\n  \"peakDataFrame\": %u,\n  \"allKeyFrames\": %s,\n", summary.peakDataRate,
          summary.peakDataFrame, allKeys ? "true" : "false");
  fprintf(out, "  \"averageFrameSize\": %u,\n  \"averageDataRate\": %u,\n", summary.averageFrameSize,
          summary.averageDataRate);
  fprintf(out, "  \"tracks\": [");
  for (uint32_t i = 0; i < m.trackCount; ++i) {
    TrackInfo t;
    GetTrackInfo(source.movie, i, &t);
    fprintf(out, "%s\n    {\"id\": %u, \"rate\": %u, \"bits\": %u, \"channels\": %u, \"coding\": \"%s\", "
                 "\"audioWord\": \"0x%08X\", \"largestDecodedBytes\": %u}",
            i ? "," : "", t.id, t.sampleRate, t.bits, t.channels, CodingName(t.coding), t.audioWord, t.maxBytes);
  }
  fprintf(out, "%s],\n  \"frames\": [", m.trackCount ? "\n  " : "");
  for (uint32_t n = 1; n <= m.frameCount; ++n)
    fprintf(out, "%s\n    {\"frame\": %u, \"offset\": %u, \"size\": %u, \"key\": %s}", n > 1 ? "," : "", n,
            Offset(index, n), Size(index, n), Key(index, n) ? "true" : "false");
  fprintf(out, "\n  ]\n}\n");
  return "";
}

}  // namespace kivo::tools
