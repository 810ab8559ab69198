// SPDX-License-Identifier: BSD-2-Clause
// kivdump --stats: walks every frame's planes with the decoder's own bundle
// and block routines (so what is counted is what a player reads), keeping
// the pictures as references for the next frame, and counts block types.
#include "stats.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "movie/container.h"
#include "platform/platform.h"
#include "video/blocks.h"
#include "video/bundles.h"
#include "video/idct.h"
#include "video/video_decoder.h"

namespace kivo::tools {
namespace {

// The header and tables as stored, read straight from the file so that a
// movie whose index the library refuses can still be walked frame by frame.
struct MovieTables {
  MovieHeader header{};
  std::vector<uint32_t> index;  // indexLast + 1 entries
};

// An open movie file: closed when it goes.
struct MovieFile {
  os::FileHandle handle = os::kNoFile;
  uint64_t offset = 0;  // the movie's first byte
  uint64_t size = 0;    // bytes from there to the end of the file
  MovieFile() = default;
  MovieFile(const MovieFile&) = delete;
  MovieFile& operator=(const MovieFile&) = delete;
  ~MovieFile() { os::CloseFile(handle); }
};

bool ReadAt(os::FileHandle f, uint64_t at, void* to, uint32_t size) {
  return os::SeekFile(f, static_cast<int64_t>(at)) && os::ReadFileBytes(f, to, size) == size;
}

// Opens the movie at `offset` in the file and reads its header and index,
// checked as an open checks them. Returns the error text, empty on success.
std::string ReadMovieTables(const char* path, uint64_t offset, MovieFile* file, MovieTables* tables) {
  file->handle = os::OpenFileRead(path, true);
  file->offset = offset;
  if (file->handle == os::kNoFile) return std::string("cannot open ") + path;
  int64_t fileSize = os::FileSize(file->handle);
  if (fileSize < 0 || uint64_t(fileSize) < offset) return std::string("cannot read ") + path;
  file->size = uint64_t(fileSize) - offset;
  uint8_t bytes[kHeaderSize];
  if (!ReadAt(file->handle, offset, bytes, kHeaderSize)) return kNotKivoText;
  MovieHeader& h = tables->header;
  ParseMovieHeader(bytes, &h);
  if (const char* bad = CheckMovieHeader(h)) return bad;
  if (const char* bad = CheckMovieTables(h, file->size)) return bad;
  const size_t count = static_cast<size_t>(h.indexLast) + 1;
  std::vector<uint8_t> raw(count * 4);
  if (!ReadAt(file->handle, offset + kHeaderSize + TrackTableBytes(h), raw.data(), static_cast<uint32_t>(raw.size())))
    return "This Kivo file is truncated.";
  tables->index.resize(count);
  for (size_t i = 0; i < count; ++i) tables->index[i] = ReadLe32(raw.data() + 4 * i);
  return "";
}

constexpr int kColumns = 11;  // types 0 to 9, then 10 to 15 together
const char* const kColumnNames[kColumns] = {"unch", "dbl16", "move", "runs", "mres", "intra",
                                            "fill", "inter", "2col", "raw", "other"};
const char kPlaneNames[4] = {'A', 'Y', 'U', 'V'};

struct PlaneStats {
  bool present = false;
  bool clean = true;      // nothing malformed met
  uint64_t bytes = 0;     // of the frame's video data
  uint64_t counts[kColumns] = {};
};

// The decoder's picture state, laid out as an open movie lays it out.
struct Walker {
  uint32_t pitch = 0, rows = 0, chromaPitch = 0, chromaRows = 0, areaWidth = 0, areaHeight = 0;
  uint32_t openFlags = 0;
  std::vector<uint8_t> frames[2], alpha[2];
  int current = 0;
  std::vector<uint8_t> bundleStore[kBundleCount];
  uint8_t* bundles[kBundleCount] = {};
  uint32_t sizes[kBundleCount] = {};
};

void SetUpWalker(Walker& w, const MovieHeader& h) {
  w.chromaPitch = uint32_t(((uint64_t(h.width) + 1) / 2 + 7) & ~uint64_t(7));
  w.chromaRows = uint32_t(((uint64_t(h.height) + 1) / 2 + 7) & ~uint64_t(7));
  w.pitch = 2 * w.chromaPitch;
  w.rows = 2 * w.chromaRows;
  w.areaWidth = uint32_t((uint64_t(h.width) + 7) & ~uint64_t(7));
  w.areaHeight = uint32_t((uint64_t(h.height) + 7) & ~uint64_t(7));
  w.openFlags = RevisionFlags(h.revision);
  const size_t luma = size_t(w.pitch) * w.rows, chroma = size_t(w.chromaPitch) * w.chromaRows;
  for (int i = 0; i < 2; ++i) {
    w.frames[i].assign(luma + 2 * chroma, 0);
    std::fill(w.frames[i].begin() + std::ptrdiff_t(luma), w.frames[i].end(), uint8_t(128));
    if (h.videoFlags & kVideoAlpha) w.alpha[i].assign(luma, 0);
  }
  ComputeBundleSizes(w.pitch, w.sizes);
  for (int b = 0; b < kBundleCount; ++b) {
    w.bundleStore[b].assign(w.sizes[b], 0);
    w.bundles[b] = w.bundleStore[b].data();
  }
}

inline bool Stopped(const PlaneState& s) { return (s.faults & kPlaneStopped) || BitReaderOverran(&s.reader); }

// One plane as the plane decoder walks it. Returns whether the plane ended
// where it should (so that the next plane's start is known); *used receives
// the whole words it loaded.
bool WalkPlane(Walker& w, uint8_t* dst, const uint8_t* ref, uint32_t areaWidth, uint32_t areaHeight,
               uint32_t pitch, uint32_t planeRows, const uint8_t* data, uint32_t size, PlaneStats* st,
               uint64_t* used) {
  PlaneState state;
  StartBitReader(&state.reader, data, size);
  SetUpBundles(&state, w.bundles, w.sizes, areaWidth);
  state.remapColours = (w.openFlags & kBeforeRevisionI) != 0;
  state.faults = 0;
  state.transform = IdctPlain;
  ReadPlaneTrees(&state);
  BlockPlane plane{&state, dst, ref, pitch, pitch * planeRows, areaWidth, areaHeight, false};

  bool stopped = Stopped(state);
  uint32_t stopX = 0, stopY = 0;
  for (uint32_t y = 0; y < areaHeight && !stopped; y += 8) {
    RefillBundles(&state);
    if (Stopped(state)) {
      stopped = true;
      stopY = y;
      break;
    }
    const bool oddRow = (y & 8) != 0;
    for (uint32_t x = 0; x < areaWidth;) {
      const uint32_t type = NextByte(&state, kBlockTypes);
      const uint32_t blockX = x;
      if (type == kUnchanged) {
        CopyFromReference(&plane, x, x + 8, y, 8);
        ++st->counts[kUnchanged];
        x += 8;
      } else if (type == kDoubled) {
        // Both block rows of a doubled block carry its type; it is counted
        // once, as one 16x16 block.
        if (!oddRow) {
          DrawDoubled(&plane, x, y);
          ++st->counts[kDoubled];
        }
        x += 16;
      } else {
        if (type <= kRaw) DrawBlock(&plane, type, x, y);
        ++st->counts[type <= kRaw ? type : kColumns - 1];
        x += 8;
      }
      if (Stopped(state)) {
        stopped = true;
        stopX = blockX;
        stopY = y;
        break;
      }
    }
  }
  *used = WordBytesConsumed(&state.reader);
  if (state.faults || stopped) st->clean = false;
  if (stopped) {
    const uint32_t rowLines = areaHeight - stopY < 8 ? areaHeight - stopY : 8;
    CopyFromReference(&plane, stopX, areaWidth, stopY, rowLines);
    CopyFromReference(&plane, 0, areaWidth, stopY + rowLines, areaHeight - stopY - rowLines);
  }
  return !stopped;
}

// A stretch of the video data; `found` is false once its start is lost.
struct Region {
  uint64_t start = 0, end = 0;
  bool found = false;
};

Region Between(uint64_t start, uint64_t end, uint64_t size) {
  if (end > size) end = size;
  if (start > end) start = end;
  return Region{start, end, true};
}

// Walks one frame's video data the way the frame decoder splits it into
// planes, filling stats[0..3] (alpha, luma, the two chroma planes).
void WalkFrame(Walker& w, const MovieHeader& h, const uint8_t* data, uint32_t size, PlaneStats stats[4]) {
  const int cur = w.current, next = cur ^ 1;
  uint8_t* dst = w.frames[next].data();
  const uint8_t* ref = w.frames[cur].data();
  Region at = Between(0, size, size);

  auto run = [&](int p, uint8_t* pd, const uint8_t* pr, uint32_t aw, uint32_t ah, uint32_t pitch, uint32_t rows,
                 Region region) -> Region {
    PlaneStats& st = stats[p];
    st.present = true;
    if (!region.found) {
      st.clean = false;
      BlockPlane copy{nullptr, pd, pr, pitch, pitch * rows, aw, ah, false};
      CopyFromReference(&copy, 0, aw, 0, ah);
      return Region{};
    }
    uint64_t used = 0;
    const bool whole = WalkPlane(w, pd, pr, aw, ah, pitch, rows, data + region.start,
                                 uint32_t(region.end - region.start), &st, &used);
    st.bytes = std::min<uint64_t>(used, region.end - region.start);
    if (!whole) return Region{};
    return Between(region.start + used, size, size);
  };
  auto word = [&](const Region& r) { return ReadLe32(data + r.start); };

  if (h.videoFlags & kVideoAlpha) {
    Region alpha, after;
    if (at.end - at.start >= 4) {
      const uint32_t a = word(at);
      const bool fits = a >= 4 && a <= at.end - at.start;
      alpha = Between(at.start + 4, fits ? at.start + a : size, size);
      if (fits) after = Between(at.start + a, size, size);
    }
    run(0, w.alpha[next].data(), w.alpha[cur].data(), w.areaWidth, w.areaHeight, w.pitch, w.rows, alpha);
    if (!after.found) stats[0].clean = false;
    at = after;
  }

  Region luma = at, chroma;
  const bool sizeWord = !(w.openFlags & kBeforeRevisionI);
  if (sizeWord) {
    luma = Region{};
    if (at.found && at.end - at.start >= 4) {
      const uint32_t l = word(at);
      const bool fits = l >= 4 && l <= at.end - at.start;
      luma = Between(at.start + 4, fits ? at.start + l : size, size);
      if (fits) chroma = Between(at.start + l, size, size);
    }
  }
  Region afterLuma = run(1, dst, ref, w.areaWidth, w.areaHeight, w.pitch, w.rows, luma);
  if (sizeWord && !chroma.found) stats[1].clean = false;
  if (!sizeWord) chroma = afterLuma;

  if (!(h.videoFlags & kVideoGrey)) {
    const size_t lumaBytes = size_t(w.pitch) * w.rows, chromaBytes = size_t(w.chromaPitch) * w.chromaRows;
    for (int c = 0; c < 2; ++c) {
      const size_t off = lumaBytes + size_t(c) * chromaBytes;
      chroma = run(2 + c, dst + off, ref + off, w.chromaPitch, w.chromaRows, w.chromaPitch, w.chromaRows, chroma);
    }
  }
  w.current = next;
}

void PrintCounts(FILE* out, const PlaneStats& st) {
  fprintf(out, " %9llu", static_cast<unsigned long long>(st.bytes));
  for (int c = 0; c < kColumns; ++c) fprintf(out, " %5llu", static_cast<unsigned long long>(st.counts[c]));
}

void PrintHeading(FILE* out, const char* first, const char* second) {
  fprintf(out, "%6s %9s %5s %5s %9s", first, "bytes", second, "plane", "vbytes");
  for (int c = 0; c < kColumns; ++c) fprintf(out, " %5s", kColumnNames[c]);
  fputc('\n', out);
}

}  // namespace

std::string WriteMovieStats(const char* path, uint64_t offset, FILE* out) {
  MovieFile file;
  MovieTables tables;
  std::string error = ReadMovieTables(path, offset, &file, &tables);
  if (!error.empty()) return error;
  const MovieHeader& h = tables.header;
  Walker walker;
  SetUpWalker(walker, h);

  fprintf(out,
          "# %ux%u, %u frames; per plane (A alpha, Y luma, U and V chroma in stream order) its video bytes\n"
          "# and block types: unch unchanged, dbl16 doubled (one per 16x16 area), move motion, runs,\n"
          "# mres motion and residue, intra and inter DCT, fill, 2col two-colour, raw, other (types 10-15)\n",
          h.width, h.height, h.frameCount);
  PrintHeading(out, "frame", "key");
  PlaneStats total[4];
  uint64_t totalBytes = 0, keys = 0, malformed = 0;
  std::vector<uint8_t> packet;
  for (uint32_t n = 1; n <= h.frameCount; ++n) {
    const uint32_t size = FrameSize(tables.index.data(), n);
    const uint64_t at = FrameOffset(tables.index.data(), n);
    const bool key = IsKeyFrame(tables.index.data(), n);
    PlaneStats planes[4];
    bool read = at <= file.size && size <= file.size - at && (tables.index[n] & ~1u) >= (tables.index[n - 1] & ~1u);
    if (read) {
      packet.resize(size);
      read = size == 0 || ReadAt(file.handle, file.offset + at, packet.data(), size);
    }
    // Step over the audio packets to the video data.
    uint64_t video = 0;
    for (uint32_t t = 0; read && t < h.trackCount; ++t) {
      if (video + 4 > size) {
        read = false;
        break;
      }
      video += 4 + uint64_t(ReadLe32(packet.data() + video));
    }
    read = read && video <= size;
    if (read) WalkFrame(walker, h, packet.data() + video, uint32_t(size - video), planes);
    totalBytes += size;
    keys += key ? 1 : 0;

    bool first = true;
    for (int p = 0; p < 4; ++p) {
      if (!planes[p].present) continue;
      if (first)
        fprintf(out, "%6u %9u %5s", n, size, key ? "K" : "-");
      else
        fprintf(out, "%6s %9s %5s", "", "", "");
      fprintf(out, " %5c", kPlaneNames[p]);
      PrintCounts(out, planes[p]);
      fputs(planes[p].clean ? "\n" : "  malformed\n", out);
      if (!planes[p].clean) ++malformed;
      first = false;
      total[p].present = true;
      total[p].bytes += planes[p].bytes;
      for (int c = 0; c < kColumns; ++c) total[p].counts[c] += planes[p].counts[c];
    }
    if (first) {
      fprintf(out, "%6u %9u %5s  unreadable frame packet\n", n, size, key ? "K" : "-");
      ++malformed;
    }
  }
  PrintHeading(out, "", "keys");
  bool first = true;
  PlaneStats all;
  for (int p = 0; p < 4; ++p) {
    if (!total[p].present) continue;
    if (first)
      fprintf(out, "%6s %9llu %5llu", "total", static_cast<unsigned long long>(totalBytes),
              static_cast<unsigned long long>(keys));
    else
      fprintf(out, "%6s %9s %5s", "", "", "");
    fprintf(out, " %5c", kPlaneNames[p]);
    PrintCounts(out, total[p]);
    fputc('\n', out);
    first = false;
    all.bytes += total[p].bytes;
    for (int c = 0; c < kColumns; ++c) all.counts[c] += total[p].counts[c];
  }
  fprintf(out, "%6s %9s %5s %5s", "", "", "", "all");
  PrintCounts(out, all);
  fputc('\n', out);
  if (malformed) fprintf(out, "# %llu malformed planes or packets\n", static_cast<unsigned long long>(malformed));
  return "";
}

}  // namespace kivo::tools
