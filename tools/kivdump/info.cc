// kivdump --info: the container's header, tracks and per-frame index as JSON.
#include "info.h"

#include "movie/container.h"
#include "platform/platform.h"

namespace kivo::tools {
namespace {

std::vector<uint32_t> Words(const std::vector<uint8_t>& bytes, size_t first, size_t count) {
  std::vector<uint32_t> words(count);
  for (size_t i = 0; i < count; ++i) words[i] = ReadLe32(bytes.data() + 4 * (first + i));
  return words;
}

}  // namespace

bool ReadAt(os::FileHandle f, uint64_t at, void* to, uint32_t size) {
  return os::SeekFile(f, static_cast<int64_t>(at)) && os::ReadFileBytes(f, to, size) == size;
}

std::string ReadMovieTables(const char* path, uint64_t offset, MovieFile* file, MovieTables* tables) {
  file->handle = os::OpenFileRead(path, true);
  file->offset = offset;
  if (file->handle == os::kNoFile) return std::string("cannot open ") + path;
  int64_t fileSize = os::FileSize(file->handle);
  if (fileSize < 0 || uint64_t(fileSize) < offset) return std::string("cannot read ") + path;
  file->size = uint64_t(fileSize) - offset;
  uint8_t bytes[kHeaderSize];
  if (!ReadAt(file->handle, offset, bytes, kHeaderSize)) return "Not a Kivo file.";
  MovieHeader& h = tables->header;
  ParseMovieHeader(bytes, &h);
  if (const char* bad = CheckMovieHeader(h)) return bad;
  if (const char* bad = CheckMovieTables(h, uint64_t(fileSize) - offset)) return bad;

  const size_t size = static_cast<size_t>(TrackTableBytes(h) + IndexBytes(h));
  std::vector<uint8_t> raw(size);
  if (!ReadAt(file->handle, offset + kHeaderSize, raw.data(), static_cast<uint32_t>(size)))
    return "This Kivo file is truncated.";
  const uint32_t t = h.trackCount;
  tables->maxBytes = Words(raw, 0, t);
  tables->audioWords = Words(raw, t, t);
  tables->ids = Words(raw, 2 * t, t);
  tables->index = Words(raw, 3 * size_t(t), size_t(h.indexLast) + 1);
  return "";
}

std::string WriteMovieInfo(const char* path, uint64_t offset, FILE* out) {
  MovieFile file;
  MovieTables tables;
  std::string error = ReadMovieTables(path, offset, &file, &tables);
  if (!error.empty()) return error;
  const MovieHeader& h = tables.header;
  const uint32_t t = h.trackCount;
  const std::vector<uint32_t>&maxBytes = tables.maxBytes, &audioWords = tables.audioWords, &ids = tables.ids;
  const std::vector<uint32_t>& index = tables.index;

  const uint32_t r = RoundedFrameRate(h.rateNum, h.rateDen);
  PeakDataRate peak = ComputePeakDataRate(index.data(), h.frameCount, r);
  fprintf(out, "{\n  \"revision\": \"%c\",\n  \"dataSize\": %u,\n  \"frameCount\": %u,\n", h.revision, h.dataSize,
          h.frameCount);
  fprintf(out, "  \"largestFrame\": %u,\n  \"indexLast\": %u,\n  \"width\": %u,\n  \"height\": %u,\n", h.largestFrame,
          h.indexLast, h.width, h.height);
  fprintf(out, "  \"rateNum\": %u,\n  \"rateDen\": %u,\n  \"videoFlags\": \"0x%08X\",\n", h.rateNum, h.rateDen,
          h.videoFlags);
  fprintf(out, "  \"alpha\": %s,\n  \"grey\": %s,\n  \"displayMode\": %u,\n",
          (h.videoFlags & kVideoAlpha) ? "true" : "false", (h.videoFlags & kVideoGrey) ? "true" : "false",
          (h.videoFlags & kVideoModeMask) >> kVideoModeShift);
  fprintf(out, "  \"peakDataRate\": %u,\n  \"peakDataFrame\": %u,\n  \"allKeyFrames\": %s,\n", peak.rate,
          peak.frame + 1, AllKeyFrames(index.data(), h.frameCount) ? "true" : "false");
  fprintf(out, "  \"averageFrameSize\": %u,\n  \"averageDataRate\": %u,\n", AverageFrameSize(h, index.data()),
          AverageDataRate(h, index.data()));
  fprintf(out, "  \"tracks\": [");
  for (uint32_t i = 0; i < t; ++i) {
    uint32_t w = audioWords[i];
    const char* coding = (w & kAudioCodingA) ? "rdft" : (w & kAudioCodingB) ? "dct" : "none";
    fprintf(out, "%s\n    {\"id\": %u, \"rate\": %u, \"bits\": %u, \"channels\": %u, \"coding\": \"%s\", "
                 "\"audioWord\": \"0x%08X\", \"largestDecodedBytes\": %u}",
            i ? "," : "", ids[i], w & kAudioRateMask, (w & kAudio16Bit) ? 16 : 8, (w & kAudioStereo) ? 2 : 1, coding,
            w, maxBytes[i]);
  }
  fprintf(out, "%s],\n  \"frames\": [", t ? "\n  " : "");
  for (uint32_t n = 1; n <= h.frameCount; ++n) {
    fprintf(out, "%s\n    {\"frame\": %u, \"offset\": %u, \"size\": %u, \"key\": %s}", n > 1 ? "," : "", n,
            FrameOffset(index.data(), n), FrameSize(index.data(), n), IsKeyFrame(index.data(), n) ? "true" : "false");
  }
  fprintf(out, "\n  ]\n}\n");
  return "";
}

}  // namespace kivo::tools
