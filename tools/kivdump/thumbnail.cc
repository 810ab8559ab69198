// SPDX-License-Identifier: BSD-2-Clause
// Thumbnails: a few frames spread over the movie are decoded (each from the
// key frame before it), the first that is not nearly plain is taken, and
// its picture is resampled with area averaging (shrinking) or linear
// interpolation (enlarging), in premultiplied alpha so that transparent
// pixels lend no colour to their neighbours.
#include "thumbnail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kivo/kivo.h"
#include "movie_source.h"
#include "png_file.h"

namespace kivo::tools {
namespace {

// The largest picture made into a thumbnail: its RGBA copy is then 256 MiB.
constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 26;

// A picture whose luma spreads less than this (standard deviation in
// levels) is taken for a blank, a fade or a title card.
constexpr double kPlainSpread = 16.0;

double LumaSpread(const MoviePicture& p) {
  uint64_t sum = 0, squares = 0;
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint8_t* row = p.luma + size_t(y) * p.pitch;
    for (uint32_t x = 0; x < p.width; ++x) {
      sum += row[x];
      squares += uint32_t(row[x]) * row[x];
    }
  }
  const double n = double(p.width) * p.height;
  const double mean = double(sum) / n;
  return std::sqrt(std::max(0.0, double(squares) / n - mean * mean));
}

// Frames to try, the likeliest first: a third of the way in (past opening
// titles and fades), the middle, two thirds, a sixth, the first frame.
std::vector<uint32_t> Candidates(uint32_t frameCount) {
  std::vector<uint32_t> frames;
  const uint32_t last = frameCount - 1;
  for (uint64_t part : {uint64_t(last) / 3, uint64_t(last) / 2, uint64_t(last) * 2 / 3, uint64_t(last) / 6,
                        uint64_t(0)}) {
    const uint32_t n = uint32_t(part) + 1;
    if (std::find(frames.begin(), frames.end(), n) == frames.end()) frames.push_back(n);
  }
  return frames;
}

// Decodes frame `target`, going on from the frame decoded last when that
// is on the way, else from the key frame at or before the target.
std::string DecodeFrame(Movie* movie, const MovieInfo& info, uint32_t target, uint32_t* decoded) {
  uint32_t from = target;
  while (from > 1 && !(info.frameIndex[from - 1] & 1)) --from;
  if (*decoded < target && *decoded + 1 >= from) from = *decoded + 1;
  for (uint32_t n = from; n <= target; ++n) {
    GotoFrame(movie, n);
    if (DoFrame(movie)) {
      *decoded = 0;
      char text[96];
      snprintf(text, sizeof text, "read error at frame %u: the file ends early", n);
      return text;
    }
  }
  *decoded = target;
  return "";
}

// For each output pixel along one axis, the source pixels it takes and
// their weights (summing to 1).
struct Taps {
  std::vector<uint32_t> first, count;
  std::vector<double> weights;  // count[i] weights for pixel i, in order
  std::vector<size_t> at;       // where pixel i's weights start
};

void MakeTaps(uint32_t from, uint32_t to, Taps* t) {
  const double scale = double(from) / to;
  for (uint32_t i = 0; i < to; ++i) {
    t->at.push_back(t->weights.size());
    if (scale >= 1) {
      // The source span the output pixel covers, each pixel by its share.
      const double lo = i * scale, hi = std::min(double(from), (i + 1) * scale);
      const uint32_t first = uint32_t(lo), end = std::min(from, uint32_t(std::ceil(hi)));
      t->first.push_back(first);
      t->count.push_back(end - first);
      for (uint32_t s = first; s < end; ++s)
        t->weights.push_back((std::min(hi, s + 1.0) - std::max(lo, double(s))) / scale);
    } else {
      const double c = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(from - 1));
      const uint32_t s = uint32_t(c);
      const double f = c - s;
      t->first.push_back(s);
      t->count.push_back(s + 1 < from ? 2 : 1);
      t->weights.push_back(1 - f);
      if (s + 1 < from) t->weights.push_back(f);
    }
  }
}

// One source row of R, G, B, A bytes resampled across, premultiplied.
void ScaleRow(const uint8_t* row, const Taps& across, double* out) {
  const size_t width = across.first.size();
  for (size_t i = 0; i < width; ++i) {
    double r = 0, g = 0, b = 0, a = 0;
    const double* w = &across.weights[across.at[i]];
    const uint8_t* p = row + size_t(across.first[i]) * 4;
    for (uint32_t k = 0; k < across.count[i]; ++k, p += 4) {
      const double wa = w[k] * p[3];
      r += wa * p[0];
      g += wa * p[1];
      b += wa * p[2];
      a += wa;
    }
    out[i * 4] = r;
    out[i * 4 + 1] = g;
    out[i * 4 + 2] = b;
    out[i * 4 + 3] = a;
  }
}

uint8_t Level(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

// Resamples `picture` (width x height, rows packed) to to_w x to_h.
std::vector<uint8_t> Resample(const std::vector<uint8_t>& picture, uint32_t width, uint32_t height, uint32_t toW,
                              uint32_t toH) {
  Taps across, down;
  MakeTaps(width, toW, &across);
  MakeTaps(height, toH, &down);
  std::vector<uint8_t> out(size_t(toW) * toH * 4);
  std::vector<double> row(size_t(toW) * 4), sum(size_t(toW) * 4);
  for (uint32_t y = 0; y < toH; ++y) {
    std::fill(sum.begin(), sum.end(), 0.0);
    for (uint32_t k = 0; k < down.count[y]; ++k) {
      ScaleRow(picture.data() + size_t(down.first[y] + k) * width * 4, across, row.data());
      const double w = down.weights[down.at[y] + k];
      for (size_t i = 0; i < sum.size(); ++i) sum[i] += w * row[i];
    }
    uint8_t* o = out.data() + size_t(y) * toW * 4;
    for (uint32_t x = 0; x < toW; ++x) {
      const double* s = &sum[size_t(x) * 4];
      const double alpha = s[3];
      for (int c = 0; c < 3; ++c) o[x * 4 + c] = alpha > 0 ? Level(s[c] / alpha) : 0;
      o[x * 4 + 3] = Level(alpha);
    }
  }
  return out;
}

}  // namespace

std::string WriteThumbnail(const ThumbnailRequest& r, Thumbnail* result) {
  // The shape the player presents, after the file's display mode doubles
  // rows or columns; the pictures themselves are taken undoubled.
  uint32_t shownW, shownH;
  {
    MovieSource probe;
    std::string error = OpenMovieSource(r.movie, r.offset, kOpenNoFill | kOpenNoReader, false, &probe);
    if (!error.empty()) return error;
    MovieInfo shown;
    GetMovieInfo(probe.movie, &shown);
    shownW = shown.width;
    shownH = shown.height;
  }
  MovieSource source;
  std::string error = OpenMovieSource(
      r.movie, r.offset, (kOptionForceNone << kOpenModeShift) | kOpenAlpha | kOpenNoReader, false, &source);
  if (!error.empty()) return error;
  Movie* movie = source.movie;
  MovieInfo info;
  GetMovieInfo(movie, &info);
  const uint32_t w = info.width, h = info.height;
  if (uint64_t(w) * h > kMaxPicturePixels)
    return "the picture (" + std::to_string(w) + "x" + std::to_string(h) + ") is too large for a thumbnail";

  std::vector<uint8_t> picture(size_t(w) * h * 4);
  uint32_t decoded = 0, best = 0;
  double bestSpread = -1;
  for (uint32_t n : Candidates(info.frameCount)) {
    error = DecodeFrame(movie, info, n, &decoded);
    if (!error.empty()) return error;
    MoviePicture p;
    GetPicture(movie, &p);
    const double spread = LumaSpread(p);
    if (spread > bestSpread) {
      best = n;
      bestSpread = spread;
      CopyToRgbaRows(movie, picture.data(), static_cast<int32_t>(w * 4), 0);
    }
    if (spread >= kPlainSpread) break;
  }

  const uint32_t longer = std::max(shownW, shownH);
  const auto side = [&](uint32_t s) {
    return uint32_t(std::max<uint64_t>(1, (uint64_t(s) * r.size + longer / 2) / longer));
  };
  result->frame = best;
  result->width = side(shownW);
  result->height = side(shownH);
  const std::vector<uint8_t> small = Resample(picture, w, h, result->width, result->height);
  // A regular file is replaced whole: a reader never finds a part of a
  // picture, and a failure leaves what was there.
  return WritePng(r.out, small.data(), result->width, result->height, info.openFlags & kOpenAlpha);
}

}  // namespace kivo::tools
