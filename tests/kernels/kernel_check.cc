// SPDX-License-Identifier: BSD-2-Clause
// kernel_check: every fast routine of the video, audio and conversion
// modules, at each processor feature level this machine has, against its
// plain twin on random input, with guard bytes around every output. A
// routine is checked at the level that first selects it. With --bench it
// times each routine at every level against the plain one instead.
//
//   kernel_check [--bench] [--seed N] [NAME-PART]
#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_kernels.h"
#include "base/processor.h"
#include "convert/conversion_tables.h"
#include "convert/lane_kernels.h"
#include "video/idct.h"
#include "video/quantiser.h"
#include "video/blocks.h"
#include "video/block_kernels.h"

namespace kivo {
namespace {

using Rng = std::mt19937;

// One routine of a table of operations and how to exercise it.
struct Kernel {
  std::string name;
  // What a feature mask selects, as an address: a level where it does not
  // change has nothing new to check.
  std::function<uintptr_t(uint32_t features)> pick;
  // Random cases of the routine `features` selects against the plain one:
  // empty when they agree, else the first difference.
  std::function<std::string(uint32_t features, Rng& rng)> check;
  // One typical call, for the timings.
  std::function<void(uint32_t features)> once;
};

template <typename F>
uintptr_t Address(F* f) {
  return reinterpret_cast<uintptr_t>(f);
}

// An output area of `count` elements inside `guard` elements of a fixed
// pattern on each side; the pattern must survive every call.
template <typename T>
struct Guarded {
  static constexpr size_t kGuard = 16;
  std::vector<T> store;
  explicit Guarded(size_t count) : store(count + 2 * kGuard) {
    for (size_t i = 0; i < store.size(); ++i) std::memset(&store[i], 0xA5 ^ int(i), sizeof(T));
  }
  T* data() { return store.data() + kGuard; }
  size_t size() const { return store.size() - 2 * kGuard; }
  // Whether every guard element still holds the pattern.
  bool GuardsIntact() const {
    Guarded fresh(size());
    for (size_t i = 0; i < kGuard; ++i) {
      if (std::memcmp(&store[i], &fresh.store[i], sizeof(T))) return false;
      size_t j = store.size() - 1 - i;
      if (std::memcmp(&store[j], &fresh.store[j], sizeof(T))) return false;
    }
    return true;
  }
};

std::string Describe(const char* what, long at, double got, double want) {
  char text[160];
  std::snprintf(text, sizeof text, "%s %ld: got %.9g, plain gives %.9g", what, at, got, want);
  return text;
}

// ---- Video: the inverse DCT.

void RandomBlock(Rng& rng, int kind, int16_t* b) {
  for (int i = 0; i < 64; ++i) {
    b[i] = 0;
    if (kind == 0 && rng() % 5 == 0) b[i] = int16_t(int(rng() % 401) - 200);
    if (kind == 1) b[i] = int16_t(rng());
    if (kind == 2 && rng() % 8 == 0) b[i] = rng() & 1 ? 32767 : -32768;
    if (kind == 3 && i == 0) b[i] = int16_t(rng());
    if (kind == 4 && rng() % 3 == 0) b[i] = int16_t(int(rng() % 4001) - 2000);
    if (kind == 5 && i < 16 && rng() % 2 == 0) b[i] = int16_t(rng());  // the first two rows only
    if (kind == 6 && i < 8 && rng() % 2 == 0) b[i] = int16_t(rng());   // the first row only
  }
}

// The block the timings transform, made once.
const std::vector<int16_t>& TimedBlock() {
  static const std::vector<int16_t> block = [] {
    Rng rng(1);
    std::vector<int16_t> b(64);
    RandomBlock(rng, 4, b.data());
    return b;
  }();
  return block;
}

void AddVideoKernels(std::vector<Kernel>& out) {
  out.push_back({"video idct",
                 [](uint32_t f) { return Address(IdctFor(f)); },
                 [](uint32_t f, Rng& rng) -> std::string {
                   IdctTransform fast = IdctFor(f);
                   for (int trial = 0; trial < 20000; ++trial) {
                     int16_t block[64 + 1];
                     int16_t* b = block + (trial & 1);  // the loads are unaligned
                     RandomBlock(rng, trial % 7, b);
                     const int32_t* q = (trial & 2) ? kIntraQuantiser[rng() % 16] : kInterQuantiser[rng() % 16];
                     Guarded<int32_t> want(64), got(64);
                     IdctPlain(b, q, want.data());
                     fast(b, q, got.data());
                     if (!got.GuardsIntact()) return "wrote outside its 64 results";
                     for (int i = 0; i < 64; ++i)
                       if (got.data()[i] != want.data()[i])
                         return Describe("trial", trial, got.data()[i], want.data()[i]) + " at " + std::to_string(i);
                   }
                   return "";
                 },
                 [](uint32_t f) {
                   const std::vector<int16_t>& block = TimedBlock();
                   static int32_t results[64];
                   IdctFor(f)(block.data(), kIntraQuantiser[8], results);
                 }});
  // The low bytes, which a transform may give by a form of its own.
  out.push_back({"video idct low bytes",
                 [](uint32_t f) { return Address(IdctFor(f)); },
                 [](uint32_t f, Rng& rng) -> std::string {
                   IdctTransform fast = IdctFor(f);
                   for (int trial = 0; trial < 20000; ++trial) {
                     int16_t block[64 + 1];
                     int16_t* b = block + (trial & 1);
                     RandomBlock(rng, trial % 7, b);
                     const int32_t* q = (trial & 2) ? kIntraQuantiser[rng() % 16] : kInterQuantiser[rng() % 16];
                     int32_t want[64];
                     IdctPlain(b, q, want);
                     Guarded<uint8_t> got(64);
                     IdctLowBytes(b, q, got.data(), fast);
                     if (!got.GuardsIntact()) return "wrote outside its 64 bytes";
                     for (int i = 0; i < 64; ++i)
                       if (got.data()[i] != uint8_t(want[i]))
                         return Describe("trial", trial, got.data()[i], uint8_t(want[i])) + " at " + std::to_string(i);
                   }
                   return "";
                 },
                 [](uint32_t f) {
                   const std::vector<int16_t>& block = TimedBlock();
                   static uint8_t bytes[64];
                   IdctLowBytes(block.data(), kIntraQuantiser[8], bytes, IdctFor(f));
                 }});
}

// A block kernel's rows against the plain twin's, guards included: empty
// when they agree, else the first difference.
std::string SameRows(long trial, Guarded<uint8_t>& got, Guarded<uint8_t>& want) {
  if (!got.GuardsIntact()) return "wrote outside its rows";
  for (size_t i = 0; i < want.size(); ++i)
    if (got.data()[i] != want.data()[i])
      return Describe("trial", trial, got.data()[i], want.data()[i]) + " at byte " + std::to_string(i);
  return "";
}

// ---- Video: the block kernels at odd pitches: the run mapping over the
// real run orders' inverses and over arbitrary index tables (repeats
// included), and the two-colour drawing.

void AddBlockKernels(std::vector<Kernel>& out) {
  out.push_back({"video run map",
                 [](uint32_t f) { return Address(BlockKernelsFor(f).mapRuns); },
                 [](uint32_t f, Rng& rng) -> std::string {
                   RunMap fast = BlockKernelsFor(f).mapRuns;
                   for (int trial = 0; trial < 20000; ++trial) {
                     uint8_t scan[64 + 1], inverse[64];
                     uint8_t* s = scan + (trial & 1);
                     for (int i = 0; i < 64; ++i) s[i] = uint8_t(rng());
                     if (trial % 2 == 0)
                       for (int i = 0; i < 64; ++i) inverse[kRunPatterns[trial / 2 % 16][i]] = uint8_t(i);
                     else
                       for (uint8_t& v : inverse) v = uint8_t(rng() % 64);
                     const uint32_t pitch = 8 + uint32_t(rng() % 24);
                     Guarded<uint8_t> want(7 * pitch + 8), got(7 * pitch + 8);
                     RunMapPlain(s, inverse, want.data(), pitch);
                     fast(s, inverse, got.data(), pitch);
                     const std::string difference = SameRows(trial, got, want);
                     if (!difference.empty()) return difference;
                   }
                   return "";
                 },
                 [](uint32_t f) {
                   static uint8_t scan[64], dst[64];
                   static const std::vector<uint8_t> inverse = [] {
                     std::vector<uint8_t> v(64);
                     for (int i = 0; i < 64; ++i) v[kRunPatterns[3][i]] = uint8_t(i);
                     return v;
                   }();
                   BlockKernelsFor(f).mapRuns(scan, inverse.data(), dst, 8);
                 }});
  out.push_back({"video two colour",
                 [](uint32_t f) { return Address(BlockKernelsFor(f).drawTwoColour); },
                 [](uint32_t f, Rng& rng) -> std::string {
                   TwoColourDraw fast = BlockKernelsFor(f).drawTwoColour;
                   for (int trial = 0; trial < 20000; ++trial) {
                     uint8_t bits[8 + 1];
                     uint8_t* b = bits + (trial & 1);
                     for (int i = 0; i < 8; ++i) b[i] = uint8_t(rng());
                     const uint32_t c0 = rng() % 256, c1 = rng() % 256, pitch = 8 + uint32_t(rng() % 24);
                     Guarded<uint8_t> want(7 * pitch + 8), got(7 * pitch + 8);
                     TwoColourPlain(c0, c1, b, want.data(), pitch);
                     fast(c0, c1, b, got.data(), pitch);
                     const std::string difference = SameRows(trial, got, want);
                     if (!difference.empty()) return difference;
                   }
                   return "";
                 },
                 [](uint32_t f) {
                   static const uint8_t bits[8] = {0x0F, 0xF0, 0x3C, 0xC3, 0x55, 0xAA, 0x81, 0x7E};
                   static uint8_t dst[64];
                   BlockKernelsFor(f).drawTwoColour(17, 230, bits, dst, 8);
                 }});
}

// ---- Audio: the transform passes and the sample conversion.

// Agreement of two floats from the same operations in the same order. Where
// the plain code keeps floats in x87 registers (32-bit x86) it rounds less
// often, so there it is a match to a millionth of the largest value.
bool SameFloat(float got, float want, float largest) {
  if (std::isnan(got) || std::isnan(want)) return std::isnan(got) && std::isnan(want);
  if (FLT_EVAL_METHOD == 0) return got == want;  // -0 and +0 agree
  return std::fabs(got - want) <= 1e-6f * largest;
}

// The decoder's tables for length n: twiddles for n/4 points, then a cosine
// section of nc floats.
struct AudioTables {
  std::vector<int32_t> work;
  std::vector<float> table;
  uint32_t nw, nc;
  AudioTables(uint32_t n, uint32_t cosine) : work(TransformWorkEntries(n), 0), table(n / 4 + cosine), nw(n / 4), nc(cosine) {
    BuildTwiddleSection(nw, work.data(), table.data());
    BuildCosineSection(nc, work.data(), table.data() + nw);
  }
  const float* w() const { return table.data(); }
  const float* c() const { return table.data() + nw; }
};

std::vector<float> RandomFloats(Rng& rng, uint32_t n, float scale) {
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng) * scale;
  return v;
}

// Runs an in-place pass of n floats at both levels and compares.
std::string CompareInPlace(uint32_t n, const std::vector<float>& in, const std::function<void(const AudioKernels&, float*)>& run,
                           uint32_t f) {
  Guarded<float> want(n), got(n);
  std::copy(in.begin(), in.end(), want.data());
  std::copy(in.begin(), in.end(), got.data());
  run(plainAudioKernels, want.data());
  run(AudioKernelsFor(f), got.data());
  if (!got.GuardsIntact()) return "n " + std::to_string(n) + ": wrote outside its floats";
  float largest = 0;
  for (uint32_t i = 0; i < n; ++i) largest = std::max(largest, std::fabs(want.data()[i]));
  for (uint32_t i = 0; i < n; ++i)
    if (!SameFloat(got.data()[i], want.data()[i], largest))
      return "n " + std::to_string(n) + ", " + Describe("float", long(i), got.data()[i], want.data()[i]);
  return "";
}

using AudioPass = void (*)(const AudioKernels&, uint32_t n, float* a, const AudioTables& t);

// Cosine sections a pass meets: the real transform's is n/4 floats, a DCT
// track's n.
enum Sections { kQuarter = 1, kWhole = 2, kBoth = 3 };

void AddAudioPass(std::vector<Kernel>& out, const char* name, uintptr_t (*pick)(const AudioKernels&), AudioPass pass,
                  Sections sections) {
  out.push_back({std::string("audio ") + name,
                 [pick](uint32_t f) { return pick(AudioKernelsFor(f)); },
                 [pass, sections](uint32_t f, Rng& rng) -> std::string {
                   for (uint32_t n = 64; n <= 8192; n *= 2) {
                     for (uint32_t nc : {n / 4, n}) {
                       if (!(sections & (nc == n ? kWhole : kQuarter))) continue;
                       AudioTables t(n, nc);
                       for (int trial = 0; trial < 3; ++trial) {
                         std::vector<float> in = RandomFloats(rng, n, trial == 2 ? 1e20f : 1.0f);
                         std::string r = CompareInPlace(
                             n, in, [&](const AudioKernels& k, float* a) { pass(k, n, a, t); }, f);
                         if (!r.empty()) return r + " (cosine section " + std::to_string(nc) + ")";
                       }
                     }
                   }
                   return "";
                 },
                 [pass](uint32_t f) {
                   // From the same input each time (a copy of 8 KB), so that
                   // repeated passes do not run into infinities.
                   static const AudioTables t(2048, 2048);
                   static const std::vector<float> in = [] {
                     Rng rng(2);
                     return RandomFloats(rng, 2048, 1.0f);
                   }();
                   static std::vector<float> a(2048);
                   std::copy(in.begin(), in.end(), a.begin());
                   pass(AudioKernelsFor(f), 2048, a.data(), t);
                 }});
}

void AddAudioKernels(std::vector<Kernel>& out) {
  AddAudioPass(
      out, "fft backward", [](const AudioKernels& k) { return Address(k.fftBackward); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables& t) { k.fftBackward(n, a, t.w(), t.nw); }, kQuarter);
  AddAudioPass(
      out, "fft forward", [](const AudioKernels& k) { return Address(k.fftForward); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables& t) { k.fftForward(n, a, t.w(), t.nw); }, kQuarter);
  AddAudioPass(
      out, "real split backward", [](const AudioKernels& k) { return Address(k.realSplit); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables& t) { k.realSplit(n, a, t.c(), t.nc, 0); },
      kBoth);
  AddAudioPass(
      out, "real split forward", [](const AudioKernels& k) { return Address(k.realSplit); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables& t) { k.realSplit(n, a, t.c(), t.nc, 1); },
      kWhole);
  AddAudioPass(
      out, "cosine rotation", [](const AudioKernels& k) { return Address(k.cosineRotation); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables& t) { k.cosineRotation(n, a, t.c(), t.nc); },
      kWhole);
  AddAudioPass(
      out, "cosine finish", [](const AudioKernels& k) { return Address(k.cosineFinish); },
      [](const AudioKernels& k, uint32_t n, float* a, const AudioTables&) { k.cosineFinish(n, a); }, kWhole);

  out.push_back({"audio to pcm",
                 [](uint32_t f) { return Address(AudioKernelsFor(f).toPcm); },
                 [](uint32_t f, Rng& rng) -> std::string {
                   std::uniform_real_distribution<float> d(-40000.0f, 40000.0f);
                   for (int trial = 0; trial < 400; ++trial) {
                     const uint32_t count = 1 + rng() % (trial < 200 ? 20 : 700);
                     const bool stereo = trial & 1;
                     const float scale = trial % 3 ? 1.0f : std::ldexp(1.0f, -int(rng() % 8));
                     std::vector<float> left(count), right(count);
                     for (uint32_t i = 0; i < count; ++i) {
                       left[i] = d(rng);
                       right[i] = i % 3 ? std::nearbyint(d(rng)) + 0.5f : d(rng);  // ties to even
                     }
                     Guarded<int16_t> want(2 * count), got(2 * count);
                     const uint32_t samples = stereo ? 2 * count : count;
                     plainAudioKernels.toPcm(left.data(), stereo ? right.data() : nullptr, count, scale, want.data());
                     AudioKernelsFor(f).toPcm(left.data(), stereo ? right.data() : nullptr, count, scale, got.data());
                     if (!got.GuardsIntact()) return "wrote outside its samples";
                     for (uint32_t i = 0; i < samples; ++i)
                       if (got.data()[i] != want.data()[i])
                         return Describe("sample", long(i), got.data()[i], want.data()[i]) + " of " +
                                std::to_string(count) + (stereo ? " stereo" : " mono");
                     // Past the samples written the area is as it was.
                     for (uint32_t i = samples; i < 2 * count; ++i)
                       if (got.data()[i] != want.data()[i]) return "wrote beyond its samples";
                   }
                   return "";
                 },
                 [](uint32_t f) {
                   static std::vector<float> left(1024, 1234.5f), right(1024, -321.25f);
                   static std::vector<int16_t> pcm(2048);
                   AudioKernelsFor(f).toPcm(left.data(), right.data(), 1024, 0.75f, pcm.data());
                 }});
}

// ---- Conversion: the lane kernels of every pixel kind.

struct Rows {
  std::vector<uint8_t> y[2], a[2], cr, cb;
};

Rows RandomRows(Rng& rng, uint32_t pixels) {
  Rows r;
  for (int i = 0; i < 2; ++i) {
    r.y[i].resize(pixels + 1);
    r.a[i].resize(pixels + 1);
    for (auto& s : r.y[i]) s = uint8_t(rng());
    for (auto& s : r.a[i]) s = uint8_t(rng());
  }
  r.cr.resize(pixels / 2 + 2);
  r.cb.resize(pixels / 2 + 2);
  for (auto& s : r.cr) s = uint8_t(rng());
  for (auto& s : r.cb) s = uint8_t(rng());
  return r;
}

constexpr size_t kRowGuard = 37;

// Both destination rows of one stretch with their guards; the first row
// starts `align` bytes past a 32-byte boundary plus the guard.
std::vector<uint8_t> RunLanes(LaneKernel k, const Rows& r, int32_t kind, bool wide, uint32_t pixels, uint32_t phase,
                              int32_t exchanged, uint32_t align) {
  const size_t row = pixels * LaneBytesPerPixel(kind) * (wide ? 2 : 1);
  std::vector<uint8_t> store(2 * (row + 2 * kRowGuard) + 40, 0xEE);
  uint8_t* base = store.data() + (32 - reinterpret_cast<uintptr_t>(store.data()) % 32) % 32;
  uint8_t* d0 = base + align + kRowGuard;
  uint8_t* d1 = d0 + row + 2 * kRowGuard;
  const bool alpha = LaneHasAlpha(kind);
  RowPointers at = {{r.y[0].data(), r.y[1].data()},
                    r.cr.data(),
                    r.cb.data(),
                    {alpha ? r.a[0].data() : nullptr, alpha ? r.a[1].data() : nullptr},
                    {d0, d1}};
  LaneJob job = {&at, pixels, phase, exchanged, &Tables()};
  k(job);
  return std::vector<uint8_t>(base, base + 2 * (row + 2 * kRowGuard) + 4);
}

const char* const kKindNames[kLaneKinds] = {"bgrx32", "rgbx32", "bgra32", "rgba32", "bgr24", "rgb24",
                                            "16-bit", "16-bit alpha4", "16-bit alpha1", "yuy2", "uyvy"};

void AddConvertKernels(std::vector<Kernel>& out) {
  for (int32_t kind = 0; kind < kLaneKinds; ++kind) {
    for (int gray = 0; gray < 2; ++gray) {
      for (int wide = 0; wide < 2; ++wide) {
        std::string name = std::string("convert ") + kKindNames[kind] + (gray ? " gray" : "") + (wide ? " wide" : "");
        auto lanes = [kind, gray, wide](uint32_t f) { return LaneKernelsFor(LaneTierFor(f)).run[kind][gray][wide]; };
        out.push_back(
            {name, [lanes](uint32_t f) { return Address(lanes(f)); },
             [lanes, kind, gray, wide](uint32_t f, Rng& rng) -> std::string {
               LaneKernel plain = LaneKernelsFor(kLanePlain).run[kind][gray][wide];
               // The 16-bit kinds take their fields from the layout prepared last.
               const std::vector<int> codes = kind >= kLane16 && kind <= kLane16Alpha1
                                                  ? std::vector<int>{7, 8, 9, 10, 11, 12}
                                                  : std::vector<int>{3};
               std::string failure;
               for (int code : codes) {
                 PrepareConversionTables(code);
                 for (uint32_t pixels = 0; pixels <= 100 && failure.empty(); pixels += 2 + (pixels > 40 ? 7 : 0)) {
                   const uint32_t phase = rng() & 1, align = rng() & 3;
                   const int32_t exchanged = rng() & 1;
                   // The plain kernel reads the lane tables, which the
                   // exchange swaps; the vector kernels work from the flag.
                   ExchangeChromaTables(exchanged);
                   Rows r = RandomRows(rng, pixels);
                   auto want = RunLanes(plain, r, kind, wide, pixels, phase, exchanged, align);
                   auto got = RunLanes(lanes(f), r, kind, wide, pixels, phase, exchanged, align);
                   auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                   if (diff.first != got.end())
                     failure = "code " + std::to_string(code) + ", " + std::to_string(pixels) + " pixels, phase " +
                               std::to_string(phase) + ", exchanged " + std::to_string(exchanged) + ", align " +
                               std::to_string(align) + ": " +
                               Describe("byte", long(diff.first - got.begin()) - long(kRowGuard + align),
                                        *diff.first, *diff.second);
                 }
               }
               ExchangeChromaTables(0);
               return failure;
             },
             [lanes](uint32_t f) {
               static Rows r = [] {
                 Rng rng(3);
                 return RandomRows(rng, 640);
               }();
               static std::vector<uint8_t> dest(2 * 640 * 8 + 64);
               RowPointers at = {{r.y[0].data(), r.y[1].data()},
                                 r.cr.data(),
                                 r.cb.data(),
                                 {r.a[0].data(), r.a[1].data()},
                                 {dest.data(), dest.data() + 640 * 8}};
               LaneJob job = {&at, 640, 0, 0, &Tables()};
               lanes(f)(job);
             }});
      }
    }
  }
}

// A stretch of cells with random pitches (the destination's may run
// upward) in one buffer of guard pattern: rows, the gaps between them and
// the guards either side must come out as the plain kernel leaves them.
struct StretchCase {
  uint32_t pixels, pairs;
  ptrdiff_t lumaPitch, chromaPitch, destPitch;
  std::vector<uint8_t> luma, cr, cb;
};

StretchCase RandomStretch(Rng& rng, uint32_t pixels, uint32_t pairs) {
  StretchCase c;
  c.pixels = pixels;
  c.pairs = pairs;
  c.lumaPitch = ptrdiff_t(c.pixels + rng() % 40);
  c.chromaPitch = ptrdiff_t(c.pixels / 2 + rng() % 20);
  c.destPitch = ptrdiff_t(2 * c.pixels + rng() % 40) * (rng() % 4 == 0 ? -1 : 1);
  c.luma.resize(size_t(c.lumaPitch) * 2 * c.pairs);
  c.cr.resize(size_t(c.chromaPitch) * c.pairs);
  c.cb.resize(c.cr.size());
  for (auto* plane : {&c.luma, &c.cr, &c.cb})
    for (auto& s : *plane) s = uint8_t(rng());
  return c;
}

std::vector<uint8_t> RunStretch(StretchKernel k, const StretchCase& c) {
  const size_t span = size_t(std::abs(c.destPitch)) * 2 * c.pairs;
  std::vector<uint8_t> store(span + 2 * kRowGuard);
  for (size_t i = 0; i < store.size(); ++i) store[i] = uint8_t(0xA5 ^ i);
  uint8_t* first = store.data() + kRowGuard + (c.destPitch < 0 ? span - size_t(-c.destPitch) : 0);
  StretchJob job = {c.luma.data(), c.cr.data(), c.cb.data(), first, c.lumaPitch, c.chromaPitch, c.destPitch,
                    c.pixels, c.pairs};
  k(job);
  return store;
}

void AddStretchKernels(std::vector<Kernel>& out) {
  for (int32_t kind : {kLaneYuy2, kLaneUyvy}) {
    for (int gray = 0; gray < 2; ++gray) {
      auto stretch = [kind, gray](uint32_t f) {
        return LaneKernelsFor(LaneTierFor(f)).stretch[kind - kLaneYuy2][gray];
      };
      out.push_back({std::string("convert ") + kKindNames[kind] + (gray ? " gray" : "") + " stretch",
                     [stretch](uint32_t f) { return Address(stretch(f)); },
                     [stretch, kind, gray](uint32_t f, Rng& rng) -> std::string {
                       StretchKernel plain = LaneKernelsFor(kLanePlain).stretch[kind - kLaneYuy2][gray];
                       for (int trial = 0; trial < 300; ++trial) {
                         const uint32_t pixels = 16 * (1 + rng() % 10), pairs = 1 + rng() % 9;
                         StretchCase c = RandomStretch(rng, pixels, pairs);
                         auto want = RunStretch(plain, c);
                         auto got = RunStretch(stretch(f), c);
                         auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                         if (diff.first != got.end())
                           return std::to_string(c.pixels) + " x " + std::to_string(2 * c.pairs) +
                                  " pixels, destination pitch " + std::to_string(c.destPitch) + ": " +
                                  Describe("byte", long(diff.first - got.begin()) - long(kRowGuard), *diff.first,
                                           *diff.second);
                       }
                       return "";
                     },
                     [stretch](uint32_t f) {
                       static const StretchCase c = [] {
                         Rng rng(4);
                         return RandomStretch(rng, 16, 8);  // a cell
                       }();
                       static std::vector<uint8_t> dest(size_t(std::abs(c.destPitch)) * 16 + 64);
                       StretchJob job = {c.luma.data(), c.cr.data(), c.cb.data(),
                                         dest.data() + (c.destPitch < 0 ? size_t(-c.destPitch) * 15 : 0),
                                         c.lumaPitch, c.chromaPitch, c.destPitch, c.pixels, c.pairs};
                       stretch(f)(job);
                     }});
    }
  }
}

// ---- The driver.

struct Options {
  bool bench = false;
  uint32_t seed = 1;
  std::string filter;
};

double NanosecondsPerCall(const Kernel& k, uint32_t features) {
  using Clock = std::chrono::steady_clock;
  k.once(features);  // warm the caches and the tables
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    uint64_t calls = 0;
    const auto start = Clock::now();
    auto now = start;
    do {
      for (int i = 0; i < 16; ++i) k.once(features);
      calls += 16;
      now = Clock::now();
    } while (now - start < std::chrono::milliseconds(20));
    best = std::min(best, std::chrono::duration<double, std::nano>(now - start).count() / double(calls));
  }
  return best;
}

int Run(const Options& o) {
  std::vector<Kernel> kernels;
  AddVideoKernels(kernels);
  AddBlockKernels(kernels);
  AddAudioKernels(kernels);
  AddConvertKernels(kernels);
  AddStretchKernels(kernels);
  PrepareConversionTables(3);

  uint32_t levels[5];
  const uint32_t levelCount = CpuFeatureLevels(levels);
  std::printf("processor levels:");
  for (uint32_t l = 0; l < levelCount; ++l) std::printf(" %s", CpuFeatureLevelName(levels[l]));
  std::printf("\n");

  int checked = 0, failed = 0;
  for (const Kernel& k : kernels) {
    if (!o.filter.empty() && k.name.find(o.filter) == std::string::npos) continue;
    if (o.bench) {
      const double plain = NanosecondsPerCall(k, 0);
      std::printf("%-28s plain %10.1f ns", k.name.c_str(), plain);
      uintptr_t previous = k.pick(0);
      for (uint32_t l = 1; l < levelCount; ++l) {
        if (k.pick(levels[l]) == previous) continue;
        previous = k.pick(levels[l]);
        const double t = NanosecondsPerCall(k, levels[l]);
        std::printf("  %s %10.1f ns (%.2fx)", CpuFeatureLevelName(levels[l]), t, plain / t);
      }
      std::printf("\n");
      continue;
    }
    uintptr_t previous = k.pick(0);
    for (uint32_t l = 1; l < levelCount; ++l) {
      const uintptr_t routine = k.pick(levels[l]);
      if (routine == previous) continue;
      previous = routine;
      Rng rng(o.seed);
      const std::string failure = k.check(levels[l], rng);
      ++checked;
      if (!failure.empty()) ++failed;
      std::printf("%-28s %-5s %s%s\n", k.name.c_str(), CpuFeatureLevelName(levels[l]), failure.empty() ? "ok" : "FAILED: ",
                  failure.c_str());
    }
  }
  if (o.bench) return 0;
  std::printf("%d routines checked, %d failed\n", checked, failed);
  // Every x86 processor these builds run on has SSE2, which selects fast
  // routines in all three modules: checking nothing there is a fault too.
  if (o.filter.empty() && (DetectedCpuFeatures() & kCpuSse2) && checked == 0) {
    std::printf("no fast routine was selected at any level\n");
    return 1;
  }
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace kivo

int main(int argc, char** argv) {
  kivo::Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--bench") {
      o.bench = true;
    } else if (a == "--seed" && i + 1 < argc) {
      o.seed = uint32_t(std::strtoul(argv[++i], nullptr, 0));
    } else if (a == "--help" || a == "-h" || (!a.empty() && a[0] == '-')) {
      std::printf("usage: kernel_check [--bench] [--seed N] [NAME-PART]\n"
                  "Checks every fast routine against its plain twin at each processor level;\n"
                  "--bench times them instead. NAME-PART limits both to matching routines.\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    } else {
      o.filter = a;
    }
  }
  return kivo::Run(o);
}
