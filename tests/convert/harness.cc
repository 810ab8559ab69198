// SPDX-License-Identifier: BSD-2-Clause
// The conversion harness.
#include "convert/harness.h"

#include <cstring>
#include <sstream>

#include "convert/conversion_tables.h"
#include "convert/converters.h"
#include "convert/copy_flags.h"
#include "base/processor.h"
#include "convert/lane_kernels.h"
#include "convert/tick_counter.h"
#include "convert/row_walk.h"

namespace kivo::test {
namespace {

uint32_t NoTicks() { return 0; }

}  // namespace

void ConvertFixture::SetUp() {
  SetTickSource(NoTicks, 0);
  ResetTuning();
}

void ConvertFixture::TearDown() {
  SetTickSource(nullptr, 0);
  SetCpuFeatureMask(kCpuAll);
  ResetTuning();
}

std::vector<int> FamiliesToTest() {
  std::vector<int> out = {-1};
  // The lane arithmetic is what a processor with MMX gives; elsewhere (ARM)
  // every conversion takes the plain one, whatever family the mask names.
  if (!(DetectedCpuFeatures() & kCpuMmx)) return out;
  for (int t = kLanePlain; t <= LaneTierFor(DetectedCpuFeatures()); ++t) out.push_back(t);
  return out;
}

std::string FamilyName(int family) {
  static const char* const kNames[] = {"plain", "plain_lanes", "sse2", "avx2"};
  return kNames[family + 1];
}

Output RunJob(Job job, const Planes& p, int family, uint32_t align) {
  uint32_t o = job.option;
  bool wide = o == 3 || o == 4 || o == 5;
  uint32_t rowStep = (o == 1 || o == 2 || o == 4 || o == 5 || o == 6) ? 2 : 1;
  uint32_t bpp = BytesPerPixel(job.code);
  uint32_t w = job.map || !job.width ? p.width : job.width;
  uint32_t h = job.map || !job.height ? p.height : job.height;
  job.pitch = int32_t((job.x + w * (wide ? 2 : 1)) * bpp + 5);
  size_t rows = job.y + h * rowStep + 2;
  // What two runs compare is a window that starts at a 32-byte boundary,
  // its guard bytes counted from there and 32 of them ahead of the picture:
  // where the heap put the storage (8-byte aligned blocks on 32-bit
  // Windows, 16 elsewhere) must not move the picture inside the window.
  size_t size = 32 + rows * size_t(job.pitch) + 64;
  std::vector<uint8_t> storage(size + 32);
  uint8_t* window = storage.data() + (32 - reinterpret_cast<uintptr_t>(storage.data()) % 32) % 32;
  size_t offset = 32 + align;
  for (size_t i = 0; i < size; ++i) window[i] = uint8_t(i * 131 + 7);
  uint8_t* base = window + offset;
  job.address = reinterpret_cast<uintptr_t>(base);
  job.fast = family >= 0;
  job.fastGranularity = FastGranularity(job.code, job.gray);
  Output out;
  out.expected.assign(window, window + size);
  ApplyModel(job, p, out.expected, offset);

  uint32_t flags = uint32_t(job.code) | job.option << kCopyOptionShift | (job.gray ? kCopyGray : 0) |
                   (job.exchange ? kCopyExchangeRedBlue : 0) | (family < 0 ? kCopyNoSimd : 0);
  if (family >= 0) SetCpuFeatureMask(family == kLanePlain ? kCpuMmx : family == kLaneSse2 ? kCpuMmx | kCpuSse2 : kCpuAll);
  PrepareConversionTables(job.code);
  FormatDescriptor* d = DescriptorFor(uint32_t(job.code), job.hasAlpha);
  bool alphaMember = job.hasAlpha && job.code >= 5 && job.code <= 8;
  ConvertTarget to = {base, job.pitch, int32_t(job.x), int32_t(job.y)};
  ConvertSource from = {p.block.data(), alphaMember ? p.alpha.data() : nullptr, p.pitch, p.rows, w, h};
  if (job.map)
    ConvertChanged(d, to, from, job.map, job.mapRow, flags);
  else
    ConvertFull(d, to, from, job.sx, job.sy, flags);
  SetCpuFeatureMask(kCpuAll);
  out.got.assign(window, window + size);
  for (size_t i = 0; i < out.got.size(); ++i) {
    if (out.got[i] != out.expected[i]) {
      std::ostringstream s;
      ptrdiff_t at = ptrdiff_t(i) - ptrdiff_t(offset);
      s << "byte " << at << " (row " << at / job.pitch << ", byte " << at % job.pitch << "): got "
        << int(out.got[i]) << ", expected " << int(out.expected[i]);
      out.firstDifference = s.str();
      break;
    }
  }
  return out;
}

}  // namespace kivo::test
