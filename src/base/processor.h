// SPDX-License-Identifier: BSD-2-Clause
// The processor extensions fast routines may use, as one feature mask that
// every module obeys: probed once per process, narrowed by a process-wide
// setting that tests and benchmarks lower, and emptied for a caller whose
// open flags refuse processor extensions.
#pragma once

#include <cstdint>

namespace kivo {

enum CpuFeature : uint32_t {
  kCpuMmx = 1u << 0,
  kCpuSse2 = 1u << 1,
  kCpuAvx = 1u << 2,   // with the system saving the wide registers
  kCpuAvx2 = 1u << 3,
};
constexpr uint32_t kCpuAll = kCpuMmx | kCpuSse2 | kCpuAvx | kCpuAvx2;

// Open flag (movies, decoders, conversions): the plain routines only.
constexpr uint32_t kNoProcessorExtensions = 0x40000;

// What the processor and the system offer (probed once, under the
// language's guard).
uint32_t DetectedCpuFeatures();
// The detected features within the setting below.
uint32_t CpuFeatures();
// CpuFeatures() for a caller with these open flags: none with
// kNoProcessorExtensions. Nothing shared changes, so callers with different
// flags may run at once.
uint32_t CpuFeaturesFor(uint32_t openFlags);
// Narrows what every module may use from now on (kCpuAll lifts it); returns
// the setting it replaces. For tests and benchmarks: each module reads the
// mask when it sets up a piece of work (a frame, a copy, a decoder).
uint32_t SetCpuFeatureMask(uint32_t mask);

// Each level a kernel can be tested at, lowest first: a mask of no features,
// then one more feature at a time up to what the processor offers.
// Returns the count written (at most 5).
uint32_t CpuFeatureLevels(uint32_t levels[5]);
// "plain", "mmx", "sse2", "avx", "avx2": the highest feature of a mask.
const char* CpuFeatureLevelName(uint32_t mask);

}  // namespace kivo
