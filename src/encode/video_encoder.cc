// SPDX-License-Identifier: BSD-2-Clause
// Rate-distortion choice of every block of a frame (block rows shared among
// threads), the doubled-block pass over pairs of block rows, the writing of
// the frame (its planes shared among threads) and the one-second-window rate
// control.
#include "encode/video_encoder.h"

#include "encode/encode_error.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <thread>

#include "encode/video_coefficients.h"
#include "encode/video_dct.h"
#include "encode/video_search.h"
#include "platform/platform.h"

namespace kivo::encode {

namespace {

// Estimated bits of the values a block puts into the bundles (their trees
// are fitted per plane, so these are typical code lengths, not exact ones).
constexpr double kTypeBits = 3;
constexpr double kColourBits = 7;
constexpr double kPatternBits = 6;
constexpr double kDcBits = 5;
constexpr double kRunBits = 4.5;  // flag and run length

double MotionBits(const BlockSpec& b) {
  auto axis = [](int d) { return d == 0 ? 1.5 : 5.5; };
  return axis(b.dx) + axis(b.dy);
}

// 2048 over every quantiser entry, for the forward quantisation.
struct Quantisers {
  float intra[16][64], inter[16][64];
  Quantisers() {
    for (uint32_t q = 0; q < 16; ++q)
      for (uint32_t i = 0; i < 64; ++i) {
        intra[q][i] = float(2048.0 / IntraQuantiser(q, i));
        inter[q][i] = float(2048.0 / InterQuantiser(q, i));
      }
  }
};

const Quantisers& Tables() {
  static const Quantisers tables;
  return tables;
}

const double kScale[16] = {1.0, 4.0 / 3.0, 5.0 / 3.0, 2.0, 8.0 / 3.0, 3.5, 4.0, 5.0,
                           6.0, 8.0, 12.0, 17.0, 22.0, 28.0, 34.0, 44.0};

// The quantiser whose step suits the rate weight: the step that balances
// distortion against rate grows with the square root of lambda.
uint32_t QuantiserFor(double lambda) {
  const double step = 2.7 * std::sqrt(lambda);
  uint32_t best = 0;
  for (uint32_t q = 1; q < 16; ++q)
    if (std::fabs(std::log(kScale[q] / step)) < std::fabs(std::log(kScale[best] / step))) best = q;
  return best;
}

double QualityLambda(uint32_t quality) {
  quality = std::clamp<uint32_t>(quality, 1, 100);
  return 0.6 * std::pow(1.075, double(100 - quality));
}

uint32_t SquaredError(const uint8_t* a, const uint8_t* b, int n) {
  uint32_t sum = 0;
  for (int i = 0; i < n; ++i) {
    const int d = int(a[i]) - int(b[i]);
    sum += uint32_t(d * d);
  }
  return sum;
}

// What the block search of one plane needs.
struct PlaneContext {
  const uint8_t* wanted = nullptr;
  uint32_t width = 0, height = 0;
  SearchPlane reference;
  bool inter = false;
  double lambda = 1;
  uint32_t q = 0;
  int effort = 1;
  bool luma = false;
  BitWriter* scratch = nullptr;
  BlockSpec* fit = nullptr;  // scratch for the writer's fitting helpers
};

void ResetWriter(BitWriter& w) {
  w.words.clear();
  w.bits = 0;
  w.held = 0;
}

// Counting may stop once the bits reach `limit`: a coding that large
// cannot win anyway.
double CoefficientBits(const int16_t block[64], int nonzero, double limit = 1e9) {
  if (nonzero == 0) return 4;
  const int bits = CoefficientCodeBits(block, int(std::clamp(std::ceil(limit), 1.0, 1e9)));
  return bits < 0 ? 1e9 : double(bits);
}

void QuantiserSet(const PlaneContext& ctx, uint32_t out[3], int* count) {
  *count = 0;
  out[(*count)++] = ctx.q;
  if (ctx.effort >= 1 && ctx.luma) {
    if (ctx.q > 0) out[(*count)++] = ctx.q - 1;
    if (ctx.q < 15) out[(*count)++] = ctx.q + 1;
  }
}

// Candidates that need no reference: fill, two colours, runs, raw, intra.
// `distortion` measures a candidate 8x8 picture against what the block
// covers (for a doubled block, the whole 16x16 area); `extraBits` are bits
// every candidate pays besides its own (a doubled block's sub-type).
template <typename Distortion>
void OfferPictureTypes(PlaneContext& ctx, const uint8_t want[64], double extraBits,
                       Distortion&& distortion, BlockChoice& best) {
  auto offer = [&](double bits, const uint8_t pic[64]) -> bool {
    const double cost = double(distortion(pic)) + ctx.lambda * (bits + extraBits);
    if (cost >= best.cost) return false;
    best.cost = cost;
    std::memcpy(best.picture, pic, 64);
    return true;
  };
  BlockSpec& s = best.spec;
  uint8_t pic[64];
  // Fill.
  uint32_t sum = 0;
  uint8_t lo = 255, hi = 0;
  for (int i = 0; i < 64; ++i) {
    sum += want[i];
    lo = std::min(lo, want[i]);
    hi = std::max(hi, want[i]);
  }
  const uint8_t mean = uint8_t((sum + 32) / 64);
  std::memset(pic, mean, 64);
  if (offer(kTypeBits + kColourBits, pic)) {
    s.type = kFill;
    s.pixels[0] = mean;
  }
  if (lo == hi) return;
  // Two colours, and runs over the two-colour picture.
  BlockSpec& fit = *ctx.fit;
  FitTwoColour(want, fit);
  uint8_t two[64];
  for (int i = 0; i < 64; ++i) two[i] = fit.pixels[(fit.mask[i / 8] >> (i % 8)) & 1];
  const uint8_t c0 = fit.pixels[0], c1 = fit.pixels[1];
  uint8_t mask[8];
  std::memcpy(mask, fit.mask, 8);
  if (offer(kTypeBits + 2 * kColourBits + 8 * kPatternBits, two)) {
    s.type = kTwoColour;
    s.pixels[0] = c0;
    s.pixels[1] = c1;
    std::memcpy(s.mask, mask, 8);
  }
  // Raw, before the runs, whose search it bounds.
  if (offer(kTypeBits + 64 * kColourBits, want)) {
    s.type = kRaw;
    std::memcpy(s.pixels, want, 64);
  }
  // Runs: exact where the block has few distinct samples, else over the
  // two-colour picture.
  uint8_t seen[256] = {};
  int distinct = 0;
  for (int i = 0; i < 64; ++i) distinct += seen[want[i]] ? 0 : (seen[want[i]] = 1);
  // At least four runs, each with a colour, plus the pattern number.
  const double fewestRunBits = kTypeBits + 4 + 4 * (kRunBits + kColourBits) + extraBits;
  const double twoDistortion = double(distortion(two));
  for (int source = 0; source < 2; ++source) {
    const uint8_t* target = source == 0 ? two : want;
    // A two-valued block is its own two-colour picture.
    if (source == 1 && (distinct > 12 || distinct <= 2)) break;
    if (best.cost <= (source == 0 ? twoDistortion : 0) + ctx.lambda * fewestRunBits) continue;
    // Only runs cheaper than what the best candidate leaves can win, so
    // counting stops there.
    double bestBits = std::min(1e9, (best.cost - (source == 0 ? twoDistortion : 0)) / ctx.lambda - extraBits);
    uint32_t bestPattern = 16;
    for (uint32_t p = 0; p < 16; ++p) {
      const double bits = kTypeBits + 4 + RunsBits(target, p, kRunBits, kColourBits, bestBits - kTypeBits - 4);
      if (bits < bestBits) bestBits = bits, bestPattern = p;
    }
    if (bestPattern < 16 && offer(bestBits, target)) {
      s.type = kRuns;
      s.pattern = uint8_t(bestPattern);
      s.runCount = 0;
      std::memcpy(s.pixels, target, 64);
    }
  }
  // Intra DCT, unless even its smallest coding cannot win.
  if (best.cost <= ctx.lambda * (kTypeBits + kDcBits + 8 + extraBits)) return;
  int16_t levels[64], block[64];
  float transformed[64];
  for (int i = 0; i < 64; ++i) levels[i] = want[i];
  ForwardTransform(levels, transformed);
  uint32_t qs[3];
  int qCount = 0;
  QuantiserSet(ctx, qs, &qCount);
  for (int k = 0; k < qCount; ++k) {
    // Neighbouring quantisers only while this kind of block is winning.
    if (k > 0 && s.type != kIntra) break;
    const int nonzero = Quantise(transformed, Tables().intra[qs[k]], 0.3f, 0, 2047, block);
    // The rate alone may already lose: then neither the full count nor the
    // picture is needed.
    const double fixedBits = kTypeBits + kDcBits + 4;
    const double room = best.cost / ctx.lambda - extraBits - fixedBits;
    const double coefficientBits = CoefficientBits(block, nonzero, room);
    if (coefficientBits >= room) continue;
    ReconstructIntra(block, qs[k], pic);
    if (offer(fixedBits + coefficientBits, pic)) {
      s.type = kIntra;
      s.quantiser = uint8_t(qs[k]);
      s.planes = -1;
      std::memcpy(s.coefficients, block, sizeof block);
    }
  }
}

// Chooses the block at (x, y) of the plane.
void ChooseBlock(PlaneContext& ctx, uint32_t x, uint32_t y, const MotionVector* predictors,
                 int predictorCount, BlockChoice& best) {
  uint8_t want[64];
  for (int r = 0; r < 8; ++r) std::memcpy(want + r * 8, ctx.wanted + size_t(y + r) * ctx.width + x, 8);
  best.cost = 1e30;
  BlockSpec& s = best.spec;
  s.planes = -1;
  s.runCount = 0;
  s.residueCode = {};
  if (ctx.inter) {
    uint8_t pred[64], pic[64];
    ReferenceBlock(ctx.reference, int(x), int(y), pred);
    const uint32_t same = SquaredError(want, pred, 64);
    best.cost = double(same) + ctx.lambda * 2;
    s.type = kUnchanged;
    std::memcpy(best.picture, pred, 64);
    if (same == 0) return;
    uint32_t sad = 0;
    const MotionVector mv = SearchMotion(want, ctx.reference, int(x), int(y), predictors, predictorCount,
                                         ctx.effort >= 2, &sad);
    ReferenceBlock(ctx.reference, int(x) + mv.dx, int(y) + mv.dy, pred);
    BlockSpec moved;
    moved.dx = mv.dx;
    moved.dy = mv.dy;
    const double mvBits = MotionBits(moved);
    auto offer = [&](double distortion, double bits, const uint8_t* p) {
      const double cost = distortion + ctx.lambda * bits;
      if (cost >= best.cost) return false;
      best.cost = cost;
      std::memcpy(best.picture, p, 64);
      s.dx = mv.dx;
      s.dy = mv.dy;
      return true;
    };
    if (mv.dx || mv.dy) {
      if (offer(SquaredError(want, pred, 64), kTypeBits + mvBits, pred)) s.type = kMoved;
    }
    // Inter DCT over the prediction, unless even its smallest coding
    // cannot win.
    int16_t diff[64], block[64];
    float transformed[64];
    int worst = 0;
    for (int i = 0; i < 64; ++i) {
      diff[i] = int16_t(int(want[i]) - int(pred[i]));
      worst = std::max(worst, std::abs(int(diff[i])));
    }
    const double interFloor = ctx.lambda * (kTypeBits + mvBits + kDcBits + 8);
    uint32_t qs[3];
    int qCount = 0;
    QuantiserSet(ctx, qs, &qCount);
    if (best.cost <= interFloor) qCount = 0;
    if (qCount) ForwardTransform(diff, transformed);
    for (int k = 0; k < qCount; ++k) {
      if (k > 0 && s.type != kInter) break;
      const int nonzero = Quantise(transformed, Tables().inter[qs[k]], 0.4f, -1023, 1023, block);
      if (nonzero == 0 && block[0] == 0) continue;  // the same as Moved
      const double fixedBits = kTypeBits + mvBits + kDcBits + 4;
      const double room = best.cost / ctx.lambda - fixedBits;
      const double coefficientBits = CoefficientBits(block, nonzero, room);
      if (coefficientBits >= room) continue;
      ReconstructInter(block, qs[k], pred, pic);
      if (offer(SquaredError(want, pic, 64), fixedBits + coefficientBits, pic)) {
        s.type = kInter;
        s.quantiser = uint8_t(qs[k]);
        s.planes = -1;
        std::memcpy(s.coefficients, block, sizeof block);
      }
    }
    // Motion plus an exact pixel residue, for small differences; the ones
    // that cost more bits than their error is worth are dropped.
    if (worst <= 24 && best.cost > interFloor) {
      int8_t residue[64];
      const double keep = 5.0 * ctx.lambda;
      for (int i = 0; i < 64; ++i) {
        const int d = diff[i];
        residue[i] = double(d * d) > keep ? int8_t(d) : 0;
      }
      const uint32_t operations = ResidueOperations(residue);
      if (operations > 0 && operations <= 128) {
        ResetWriter(*ctx.scratch);
        if (WriteResidue(*ctx.scratch, residue)) {
          const double bits = double(BitCount(*ctx.scratch));
          for (int i = 0; i < 64; ++i) pic[i] = uint8_t(pred[i] + uint8_t(residue[i]));
          if (offer(SquaredError(want, pic, 64), kTypeBits + mvBits + bits, pic)) {
            s.type = kMovedResidue;
            std::memcpy(s.residue, residue, 64);
            s.residueCode = {};
          }
        }
      }
    }
  }
  OfferPictureTypes(
      ctx, want, 0, [&](const uint8_t* pic) { return SquaredError(want, pic, 64); }, best);
}

// A doubled block over the 16x16 area at (x, y): the picture types on the
// area halved, judged on the full area. Returns its cost; `best` holds the
// inner description and the 8x8 picture drawn doubled.
double ChooseDoubled(PlaneContext& ctx, uint32_t x, uint32_t y, BlockChoice& best) {
  uint8_t area[256], half[64];
  for (int r = 0; r < 16; ++r) std::memcpy(area + r * 16, ctx.wanted + size_t(y + r) * ctx.width + x, 16);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      const uint8_t* p = area + r * 32 + c * 2;
      half[r * 8 + c] = uint8_t((p[0] + p[1] + p[16] + p[17] + 2) / 4);
    }
  best.cost = 1e30;
  best.spec.planes = -1;
  best.spec.runCount = 0;
  auto distortion = [&](const uint8_t* pic) {
    uint32_t sum = 0;
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) {
        const int d = int(area[r * 16 + c]) - int(pic[(r / 2) * 8 + c / 2]);
        sum += uint32_t(d * d);
      }
    return sum;
  };
  // The doubled sub-type and the marker type on the row below.
  OfferPictureTypes(ctx, half, 2 + kTypeBits - kTypeBits / 2, distortion, best);
  best.spec.doubledType = best.spec.type;
  best.spec.type = kDoubled;
  return best.cost;
}

void Pad(const uint8_t* src, uint32_t w, uint32_t h, VideoCoderPlane& plane, uint8_t floor) {
  for (uint32_t y = 0; y < plane.height; ++y) {
    const uint8_t* row = src + size_t(std::min(y, h - 1)) * w;
    uint8_t* out = plane.wanted.data() + size_t(y) * plane.width;
    for (uint32_t x = 0; x < plane.width; ++x) out[x] = std::max(row[std::min(x, w - 1)], floor);
  }
}

void PutPicture(VideoCoderPlane& plane, uint32_t x, uint32_t y, const uint8_t pic[64], bool doubled) {
  const int n = doubled ? 16 : 8;
  for (int r = 0; r < n; ++r) {
    uint8_t* out = plane.picture.data() + size_t(y + r) * plane.width + x;
    for (int c = 0; c < n; ++c) out[c] = doubled ? pic[(r / 2) * 8 + c / 2] : pic[r * 8 + c];
  }
}

// What one thread works with while it chooses blocks.
struct alignas(64) WorkerState {
  CoderWorkers* owner = nullptr;
  BitWriter scratch;
  BlockSpec fit;        // scratch for the writer's fitting helpers
  BlockChoice doubled;  // the doubled candidate being judged
  uint32_t counts[4][16] = {};
};

}  // namespace

// Block rows are handed out in order (every plane's rows, plane after plane)
// to whichever thread is free. A block waits only for the blocks whose
// motion it takes as predictors, the one to its left and the two above it
// (the row above must be two columns ahead), so every block sees exactly
// what a single thread would have given it and the movie does not depend on
// the number of threads. Each pair of rows is walked for doubled blocks a
// column or two behind the choices it needs.
//
// Once chosen, the planes are written the same way: each thread takes the
// next plane in stream order (largest first: alpha and luma come before
// chroma) into that plane's own writer, and the caller joins them.
struct CoderWorkers {
  VideoCoder* coder = nullptr;
  std::vector<os::Thread*> helpers;
  std::vector<WorkerState> states;      // [0] the caller's
  std::vector<BlockChoice> choices[4];  // four block rows of candidates per plane
  std::unique_ptr<std::atomic<uint32_t>[]> done;  // columns finished, per block row of every plane
  uint32_t firstRow[5] = {};            // each plane's first row in `done`; [4] the total
  // Plane writing: the frame's layout and each plane's stream (kept for the
  // next frame) or error.
  FrameLayout layout;
  BitWriter planeBits[4];
  bool planeWritten[4] = {};
  std::string planeError[4];
  // The pass under way: choosing blocks, or writing planes.
  bool writing = false;
  std::atomic<uint32_t> nextPlane{0};
  bool inter = false;
  double lambda = 0;
  std::atomic<uint32_t> nextRow{0};
  std::atomic<uint32_t> generation{0};  // a new pass (or the end) for the helpers
  std::atomic<uint32_t> helpersDone{0};
  std::atomic<bool> stop{false};
  uint16_t fpuControl = 0;  // the caller's x87 control word (32-bit x86)
};

namespace {

// Waits until `value` differs from `seen`. The Windows runtime's atomic wait
// can miss a notification (it has no futex), so there the thread polls,
// yielding the processor and then sleeping a millisecond at a time.
void WaitWhile(const std::atomic<uint32_t>& value, uint32_t seen) {
#if defined(_WIN32)
  for (uint32_t tries = 0; value.load(std::memory_order_acquire) == seen; ++tries)
    tries < 200 ? std::this_thread::yield() : os::SleepMs(1);
#else
  value.wait(seen, std::memory_order_acquire);
#endif
}

// Blocks take a few microseconds, so the row above is usually only a moment
// away: spinning first spares a sleep and a wake-up per block.
void WaitForColumns(const std::atomic<uint32_t>& done, uint32_t wanted) {
  uint32_t seen = done.load(std::memory_order_acquire);
  for (int spin = 0; spin < 1000 && seen < wanted; ++spin) {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
    seen = done.load(std::memory_order_acquire);
  }
  while (seen < wanted) {
    WaitWhile(done, seen);
    seen = done.load(std::memory_order_acquire);
  }
}

#if defined(__i386__)
// On 32-bit x86 the costs are doubles in x87 registers, whose precision is a
// per-thread setting (Windows starts threads at 53 bits, its runtime gives
// the main thread 64): helpers take the caller's, so that costs round alike
// on every thread and the movie does not depend on which thread chose.
uint16_t FpuControl() {
  uint16_t word;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}
void SetFpuControl(uint16_t word) { __asm__ volatile("fldcw %0" : : "m"(word)); }
#endif

// The pair of block rows from `top` turns each pair of columns into a
// doubled block where that is cheaper than its four blocks, else takes the
// blocks as chosen. Walks from column `from` as far as the `chosen` columns
// of both rows allow; returns where it stopped.
uint32_t WalkPair(PlaneContext& ctx, VideoCoderPlane& plane, BlockChoice* choices, uint32_t top, uint32_t pairRows,
                  uint32_t from, uint32_t chosen, WorkerState& state, uint32_t counts[16]) {
  const uint32_t columns = plane.width / 8;
  uint32_t c = from;
  while (c < chosen) {
    if (pairRows == 2 && c + 1 < columns) {
      if (c + 1 >= chosen) break;
      double four = 0;
      for (uint32_t dr = 0; dr < 2; ++dr)
        for (uint32_t dc = 0; dc < 2; ++dc) four += choices[size_t(dr) * columns + c + dc].cost;
      if (four > 4 * ctx.lambda * kTypeBits && ChooseDoubled(ctx, c * 8, top * 8, state.doubled) < four) {
        SetDoubled(plane.spec, c, top, state.doubled.spec);
        PutPicture(plane, c * 8, top * 8, state.doubled.picture, true);
        counts[kDoubled] += 1;
        c += 2;
        continue;
      }
    }
    for (uint32_t dr = 0; dr < pairRows; ++dr) {
      BlockChoice& choice = choices[size_t(dr) * columns + c];
      BlockAt(plane.spec, c, top + dr) = choice.spec;
      PutPicture(plane, c * 8, (top + dr) * 8, choice.picture, false);
      counts[choice.spec.type] += 1;
    }
    ++c;
  }
  return c;
}

// Chooses every block of one row of plane p.
void CodeRow(CoderWorkers& w, WorkerState& state, int p, uint32_t row) {
  VideoCoderPlane& plane = w.coder->planes[p];
  const uint32_t columns = plane.width / 8, rows = plane.height / 8;
  PlaneContext ctx;
  ctx.wanted = plane.wanted.data();
  ctx.width = plane.width;
  ctx.height = plane.height;
  ctx.reference = {plane.reference.data(), plane.width, plane.height, plane.width};
  ctx.inter = w.inter;
  // Chroma errors count for less than luma errors.
  ctx.lambda = p >= 2 ? 1.5 * w.lambda : w.lambda;
  ctx.q = QuantiserFor(ctx.lambda);
  ctx.effort = int(w.coder->settings.effort);
  ctx.luma = p == 1;
  ctx.scratch = &state.scratch;
  ctx.fit = &state.fit;
  std::atomic<uint32_t>* done = w.done.get() + w.firstRow[p];
  const uint32_t top = row & ~1u, dr = row - top, pairRows = std::min<uint32_t>(2, rows - top);
  // Walking a pair for doubled blocks costs about as much as choosing its
  // blocks, so that the rows share it the pairs are walked alternately by
  // their second row and by the first row of the pair below (two columns
  // behind that row's choices, as far as the row above it has chosen). The
  // candidates of two pairs are kept for that.
  auto deferred = [&](uint32_t pairTop) { return ((pairTop / 2) & 1) != 0 && pairTop + 2 < rows; };
  const bool walksOwn = dr + 1 == pairRows && !deferred(top);
  const bool walksAbove = dr == 0 && top >= 2 && deferred(top - 2);
  BlockChoice* own = w.choices[p].data() + size_t(top % 4) * columns;
  BlockChoice* above = w.choices[p].data() + size_t((top + 2) % 4) * columns;  // the pair from top - 2
  uint32_t walked = 0, walkedAbove = 0;
  for (uint32_t c = 0; c < columns; ++c) {
    if (row > 0) WaitForColumns(done[row - 1], std::min(c + 2, columns));
    if (walksAbove)
      walkedAbove = WalkPair(ctx, plane, above, top - 2, 2, walkedAbove, std::min(c + 2, columns), state, state.counts[p]);
    MotionVector predictors[4];
    int n = 0;
    int8_t* mv = plane.motion.data() + 2 * (size_t(row) * columns + c);
    predictors[n++] = {mv[0], mv[1]};  // this position in the last frame
    if (c > 0) predictors[n++] = {mv[-2], mv[-1]};
    if (row > 0) predictors[n++] = {mv[-2 * std::ptrdiff_t(columns)], mv[1 - 2 * std::ptrdiff_t(columns)]};
    if (row > 0 && c + 1 < columns)
      predictors[n++] = {mv[2 - 2 * std::ptrdiff_t(columns)], mv[3 - 2 * std::ptrdiff_t(columns)]};
    BlockChoice& choice = own[size_t(dr) * columns + c];
    ChooseBlock(ctx, c * 8, row * 8, predictors, n, choice);
    const uint8_t t = choice.spec.type;
    const bool moves = t == kMoved || t == kInter || t == kMovedResidue;
    mv[0] = moves ? choice.spec.dx : 0;
    mv[1] = moves ? choice.spec.dy : 0;
    // Candidates a walk has passed may be overwritten by the rows of the
    // next pair but one once this row has said how far it got: those rows
    // wait for that.
    if (walksOwn) walked = WalkPair(ctx, plane, own, top, pairRows, walked, c + 1, state, state.counts[p]);
    done[row].store(c + 1, std::memory_order_release);
    done[row].notify_all();
  }
}

// Takes rows until none is left.
void RunRows(CoderWorkers& w, WorkerState& state) {
  for (;;) {
    const uint32_t i = w.nextRow.fetch_add(1, std::memory_order_relaxed);
    if (i >= w.firstRow[4]) return;
    int p = 0;
    while (i >= w.firstRow[p + 1]) ++p;
    CodeRow(w, state, p, i - w.firstRow[p]);
  }
}

// Takes planes to write until none is left.
void RunPlaneWrites(CoderWorkers& w) {
  for (;;) {
    const uint32_t i = w.nextPlane.fetch_add(1, std::memory_order_relaxed);
    if (i >= w.layout.count) return;
    ResetWriter(w.planeBits[i]);
    w.planeWritten[i] = WritePlane(w.planeBits[i], *w.layout.planes[i], w.layout.oldColours, &w.planeError[i]);
  }
}

void RunPass(CoderWorkers& w, WorkerState& state) {
  if (w.writing) {
    RunPlaneWrites(w);
  } else {
    RunRows(w, state);
  }
}

void HelperMain(void* arg) {
  WorkerState& state = *static_cast<WorkerState*>(arg);
  CoderWorkers& w = *state.owner;
  uint32_t seen = 0;
  for (;;) {
    WaitWhile(w.generation, seen);
    seen = w.generation.load(std::memory_order_acquire);
    if (w.stop.load(std::memory_order_acquire)) return;
#if defined(__i386__)
    SetFpuControl(w.fpuControl);
#endif
    RunPass(w, state);
    w.helpersDone.fetch_add(1, std::memory_order_acq_rel);
    w.helpersDone.notify_all();
  }
}

// Runs the pass set up in `w` on the caller's thread and the helpers.
void RunWithHelpers(CoderWorkers& w) {
  w.helpersDone.store(0, std::memory_order_relaxed);
  const uint32_t helpers = uint32_t(w.helpers.size());
  if (helpers) {
#if defined(__i386__)
    w.fpuControl = FpuControl();
#endif
    w.generation.fetch_add(1, std::memory_order_release);
    w.generation.notify_all();
  }
  RunPass(w, w.states[0]);
  uint32_t finished = w.helpersDone.load(std::memory_order_acquire);
  while (finished < helpers) {
    WaitWhile(w.helpersDone, finished);
    finished = w.helpersDone.load(std::memory_order_acquire);
  }
}

// Codes every plane of the frame with the caller's thread and the helpers.
void CodePlanes(VideoCoder& coder, bool inter, double lambda) {
  CoderWorkers& w = *coder.workers;
  w.coder = &coder;  // set per pass: the coder may have moved since it was opened
  for (uint32_t i = 0; i < w.firstRow[4]; ++i) w.done[i].store(0, std::memory_order_relaxed);
  for (WorkerState& state : w.states) std::memset(state.counts, 0, sizeof state.counts);
  w.writing = false;
  w.inter = inter;
  w.lambda = lambda;
  w.nextRow.store(0, std::memory_order_relaxed);
  RunWithHelpers(w);
  std::memset(coder.counts, 0, sizeof coder.counts);
  for (const WorkerState& state : w.states)
    for (int p = 0; p < 4; ++p)
      for (int t = 0; t < 16; ++t) coder.counts[p][t] += state.counts[p][t];
}

// Writes the frame's video data to `out` with the caller's thread and the
// helpers; the first plane in stream order that cannot be written fails it.
bool WritePlanes(CoderWorkers& w, const FrameSpec& frame, std::vector<uint8_t>& out, std::string* error) {
  if (!LayOutVideoFrame(frame, w.layout, error)) return false;
  w.writing = true;
  w.nextPlane.store(0, std::memory_order_relaxed);
  RunWithHelpers(w);
  const BitWriter* written[4];
  for (uint32_t i = 0; i < w.layout.count; ++i) {
    if (!w.planeWritten[i]) return Fail(error, w.planeError[i]);
    written[i] = &w.planeBits[i];
  }
  AssembleVideoFrame(w.layout, written, out);
  return true;
}

double FramesPerSecond(const VideoCoderSettings& s) { return double(s.rateNum) / double(s.rateDen); }

}  // namespace

bool OpenVideoCoder(VideoCoder& coder, const VideoCoderSettings& s, std::string* error) {
  if (s.revision < 'f' || s.revision > 'i') return Fail(error, "the revision must be f, g, h or i");
  if (s.width == 0 || s.height == 0 || s.width > 16384 || s.height > 16384)
    return Fail(error, "the picture size must be 1 to 16384 on each side");
  if (s.rateNum == 0 || s.rateDen == 0) return Fail(error, "the frame rate must be positive");
  coder = VideoCoder{};
  coder.settings = s;
  coder.settings.quality = std::clamp<uint32_t>(s.quality, 1, 100);
  coder.qualityLambda = QualityLambda(coder.settings.quality);
  coder.lambda = coder.qualityLambda;
  for (int p = 0; p < 4; ++p) {
    VideoCoderPlane& plane = coder.planes[p];
    plane.present = p == 0 ? s.alpha : p == 1 ? true : !s.grey;
    if (!plane.present) continue;
    plane.width = p < 2 ? LumaAreaWidth(s.width) : ChromaAreaWidth(s.width);
    plane.height = p < 2 ? LumaAreaHeight(s.height) : ChromaAreaHeight(s.height);
    const size_t bytes = size_t(plane.width) * plane.height;
    plane.wanted.assign(bytes, 0);
    plane.reference.assign(bytes, 0);
    plane.picture.assign(bytes, 0);
    plane.motion.assign(2 * (bytes / 64), 0);
    InitPlane(plane.spec, plane.width, plane.height);
  }
  // Threads beyond the block rows of a frame would find nothing to do.
  const uint32_t threads = std::clamp<uint32_t>(s.threads, 1, std::min<uint32_t>(64, coder.planes[1].height / 8));
  coder.workers.reset(new CoderWorkers);
  CoderWorkers& w = *coder.workers;
  for (int p = 0; p < 4; ++p) {
    const VideoCoderPlane& plane = coder.planes[p];
    w.firstRow[p + 1] = w.firstRow[p] + (plane.present ? plane.height / 8 : 0);
    if (plane.present) w.choices[p].resize(4 * size_t(plane.width / 8));
  }
  w.done.reset(new std::atomic<uint32_t>[w.firstRow[4]]);
  w.states.resize(threads);
  for (WorkerState& state : w.states) state.owner = &w;
  for (uint32_t i = 1; i < threads; ++i)
    if (os::Thread* t = os::StartThread(HelperMain, &w.states[i])) w.helpers.push_back(t);
  const double fps = FramesPerSecond(s);
  coder.window.assign(std::max<uint32_t>(1, uint32_t(std::lround(fps))), 0);
  return true;
}

void CloseVideoCoder(VideoCoder& coder) { coder = VideoCoder{}; }

void CoderWorkersRelease::operator()(CoderWorkers* w) const {
  w->stop.store(true, std::memory_order_release);
  w->generation.fetch_add(1, std::memory_order_release);
  w->generation.notify_all();
  for (os::Thread* t : w->helpers) os::JoinThread(t);
  delete w;
}

const uint8_t* CodedPlane(const VideoCoder& coder, int p) {
  if (p < 0 || p > 3 || !coder.planes[p].present || !coder.haveReference) return nullptr;
  return coder.planes[p].reference.data();
}

bool EncodeVideoPicture(VideoCoder& coder, const SourcePicture& picture, bool key, std::vector<uint8_t>& out,
                        bool* isKey, std::string* error) {
  const VideoCoderSettings& s = coder.settings;
  if (coder.planes[1].width == 0) return Fail(error, "the video coder is not open");
  const uint8_t* sources[4];
  if (!PlanesInCodingOrder(picture, s.width, s.height, s.revision, s.alpha, sources, error)) return false;
  const uint8_t floor = SampleFloor(s.revision);
  for (int p = 0; p < 4; ++p) {
    VideoCoderPlane& plane = coder.planes[p];
    if (!plane.present) continue;
    if (sources[p]) {
      const uint32_t w = p < 2 ? s.width : SourceChromaWidth(s.width);
      const uint32_t h = p < 2 ? s.height : SourceChromaHeight(s.height);
      Pad(sources[p], w, h, plane, floor);
    } else {
      std::fill(plane.wanted.begin(), plane.wanted.end(), uint8_t(128));
    }
  }
  const bool keyDue = s.keyInterval > 0 && coder.framesDone % s.keyInterval == 0;
  const bool inter = coder.haveReference && !key && !keyDue;

  // Rate control: `room` is what this frame may take so that the second
  // ending with it stays within the target. `aim` is its share (more for a
  // key frame) less a part of what the other frames of that second took
  // beyond their shares, so that a debt is repaid within half a second.
  const double fps = FramesPerSecond(s);
  const double target = double(s.targetBytesPerSecond);
  const double share = target / fps;
  const double windowFrames = double(coder.window.size());
  double room = 0, aim = 0;
  if (target > 0) {
    // Until a second has been coded, the frames not yet coded count as
    // taking most of their shares (the first key frame may take more).
    const double missing = std::max(0.0, windowFrames - 1 - double(coder.framesDone));
    const double others = double(coder.windowSum - coder.window[coder.windowPos]) + 0.7 * missing * share;
    room = target - others;
    // A credit (a quiet stretch) lets a frame take at most half a share more.
    const double debt = std::max(others - (windowFrames - 1) * share, -0.25 * share * windowFrames);
    aim = (inter ? 1.0 : 2.5) * share - debt / std::max(1.0, windowFrames / 2);
    aim = std::max(std::min(aim, room), 0.05 * share);
  }
  double lambda = coder.lambda;
  for (int attempt = 0;; ++attempt) {
    CodePlanes(coder, inter, lambda);
    FrameSpec frame;
    frame.revision = s.revision;
    frame.alpha = s.alpha ? &coder.planes[0].spec : nullptr;
    frame.luma = &coder.planes[1].spec;
    if (!s.grey) {
      frame.chroma[0] = &coder.planes[2].spec;
      frame.chroma[1] = &coder.planes[3].spec;
    }
    out.clear();
    std::string why;
    if (!WritePlanes(*coder.workers, frame, out, &why)) return Fail(error, "video coding failed: " + why);
    // Over the room, or well over the aim: code the frame again, coarser.
    const double limit = std::min(room, 1.15 * aim);
    // The room is a hard limit as long as coarser codings remain; the aim
    // only for a few tries.
    const double size = double(out.size());
    if (target <= 0 || size <= limit || (attempt >= 4 && size <= room) || attempt >= 12 || lambda > 1e9)
      break;
    lambda *= std::max(1.5, std::pow(double(out.size()) / aim, 2.0));
  }

  // Rate control for the next frame: move lambda so that frames come out at
  // their share of the target, never below what the quality asks for.
  const uint32_t size = uint32_t(out.size());
  if (target > 0) {
    const double ratio = double(size) / aim;
    lambda *= std::clamp(std::pow(ratio, 0.7), 0.25, 2.0);
    coder.lambda = std::clamp(lambda, coder.qualityLambda, 1e9);
  }
  coder.windowSum = coder.windowSum - coder.window[coder.windowPos] + size;
  coder.window[coder.windowPos] = size;
  coder.windowPos = (coder.windowPos + 1) % uint32_t(coder.window.size());
  coder.busiestSecond = std::max(coder.busiestSecond, coder.windowSum);

  bool usesReference = false;
  for (int p = 0; p < 4; ++p) {
    VideoCoderPlane& plane = coder.planes[p];
    if (!plane.present) continue;
    plane.reference.swap(plane.picture);
    const uint32_t* c = coder.counts[p];
    usesReference = usesReference || c[kUnchanged] || c[kMoved] || c[kMovedResidue] || c[kInter];
  }
  coder.haveReference = true;
  ++coder.framesDone;
  if (isKey) *isKey = !usesReference;
  return true;
}

}  // namespace kivo::encode
