// SPDX-License-Identifier: BSD-2-Clause
// The members of the converter family: each layout's packer and lane kernel
// put into a descriptor of twelve group routines and eight row/pixel pairs.
// Each thread has its own descriptors: their tuning words learn the timings
// of the conversions that thread runs, and nothing is shared.
#include "convert/converters.h"

#include "convert/lane_kernels.h"
#include "convert/plain_routines.h"

namespace kivo {
namespace {

// A fast group routine: hands the stretch of n groups to the kernel of the
// family in force and moves the walking pointers past it.
template <int32_t kKind, bool kGray, bool kWide, uint32_t kGranularity>
void FastGroups(WalkState* s, uint32_t groups) {
  uint32_t n = groups << kGranularity;
  LaneJob job = {&s->at, n, s->x & 1, s->exchanged, s->tables};
  // Short stretches (a 16-pixel cell) skip the widest family's detour.
  (n < 32 ? s->narrow : s->kernels)->run[kKind][kGray][kWide](job);
  constexpr uint32_t kOut = LaneBytesPerPixel(kKind) * (kWide ? 2 : 1);
  s->at.luma[0] += n;
  s->at.luma[1] += n;
  if (s->at.alpha[0]) {
    s->at.alpha[0] += n;
    s->at.alpha[1] += n;
  }
  s->at.dest[0] += n * kOut;
  s->at.dest[1] += n * kOut;
  s->at.cr += n / 2;  // n is even: the phase stays
  s->at.cb += n / 2;
  s->x += n;
}

template <class P, int32_t kKind>
FormatDescriptor MakeDescriptor() {
  using plain::GroupRoutine;
  using plain::PixelRoutine;
  using plain::RowRoutine;
  // The packed YUV kernels and every fast gray routine go eight pixels at a time.
  constexpr uint32_t kFastColour = LaneIsYuv(kKind) ? 3 : 2;
  constexpr uint32_t kFastGray = 3;
  FormatDescriptor d = {};
  d.bytesPerPixel = P::kBytes;
  d.laneKind = kKind;
  d.groups[kGroupColourEven] = {2, GroupRoutine<P, false, false, false>};
  d.groups[kGroupColourOdd] = {2, GroupRoutine<P, false, false, true>};
  d.groups[kGroupGray] = {2, GroupRoutine<P, true, false, false>};
  d.groups[kGroupWideColourEven] = {2, GroupRoutine<P, false, true, false>};
  d.groups[kGroupWideColourOdd] = {2, GroupRoutine<P, false, true, true>};
  d.groups[kGroupWideGray] = {2, GroupRoutine<P, true, true, false>};
  GroupSlot* fast = d.groups + kGroupFastBase;
  fast[kGroupColourEven] = {kFastColour, FastGroups<kKind, false, false, kFastColour>};
  fast[kGroupColourOdd] = fast[kGroupColourEven];  // the kernels take either phase
  fast[kGroupGray] = {kFastGray, FastGroups<kKind, true, false, kFastGray>};
  fast[kGroupWideColourEven] = {kFastColour, FastGroups<kKind, false, true, kFastColour>};
  fast[kGroupWideColourOdd] = fast[kGroupWideColourEven];
  fast[kGroupWideGray] = {kFastGray, FastGroups<kKind, true, true, kFastGray>};
  d.rows[kRowsNormal] = {RowRoutine<P, false, false, false>, PixelRoutine<P, false, false, false>};
  d.rows[kRowsNormal + 1] = {RowRoutine<P, true, false, false>, PixelRoutine<P, true, false, false>};
  d.rows[kRowsWide] = {RowRoutine<P, false, true, false>, PixelRoutine<P, false, true, false>};
  d.rows[kRowsWide + 1] = {RowRoutine<P, true, true, false>, PixelRoutine<P, true, true, false>};
  d.rows[kRowsTall] = {RowRoutine<P, false, false, true>, PixelRoutine<P, false, false, true>};
  d.rows[kRowsTall + 1] = {RowRoutine<P, true, false, true>, PixelRoutine<P, true, false, true>};
  d.rows[kRowsWideTall] = {RowRoutine<P, false, true, true>, PixelRoutine<P, false, true, true>};
  d.rows[kRowsWideTall + 1] = {RowRoutine<P, true, true, true>, PixelRoutine<P, true, true, true>};
  return d;
}

thread_local FormatDescriptor bgrx32 = MakeDescriptor<plain::Pack32<false, false>, kLaneBgrx32>();
thread_local FormatDescriptor rgbx32 = MakeDescriptor<plain::Pack32<true, false>, kLaneRgbx32>();
thread_local FormatDescriptor bgra32 = MakeDescriptor<plain::Pack32<false, true>, kLaneBgra32>();
thread_local FormatDescriptor rgba32 = MakeDescriptor<plain::Pack32<true, true>, kLaneRgba32>();
thread_local FormatDescriptor bgr24 = MakeDescriptor<plain::Pack24<false>, kLaneBgr24>();
thread_local FormatDescriptor rgb24 = MakeDescriptor<plain::Pack24<true>, kLaneRgb24>();
thread_local FormatDescriptor words16 = MakeDescriptor<plain::Pack16<plain::kNoAlpha16>, kLane16>();
thread_local FormatDescriptor words16Alpha4 = MakeDescriptor<plain::Pack16<plain::kAlpha4>, kLane16Alpha4>();
thread_local FormatDescriptor words16Alpha1 = MakeDescriptor<plain::Pack16<plain::kAlpha1>, kLane16Alpha1>();
thread_local FormatDescriptor yuy2 = MakeDescriptor<plain::PackYuv<false>, kLaneYuy2>();
thread_local FormatDescriptor uyvy = MakeDescriptor<plain::PackYuv<true>, kLaneUyvy>();


}  // namespace

FormatDescriptor* DescriptorFor(uint32_t code, bool hasAlpha) {
  switch (code) {
    case 1: return &bgr24;
    case 2: return &rgb24;
    case 3: return &bgrx32;
    case 4: return &rgbx32;
    case 5: return hasAlpha ? &bgra32 : &bgrx32;
    case 6: return hasAlpha ? &rgba32 : &rgbx32;
    case 7: return hasAlpha ? &words16Alpha4 : &words16;
    case 8: return hasAlpha ? &words16Alpha1 : &words16;
    case 9:
    case 10:
    case 11:
    case 12: return &words16;
    case 13: return &yuy2;
    case 14: return &uyvy;
    default: return nullptr;
  }
}

void ResetTuning() {
  FormatDescriptor* const all[] = {&bgrx32, &rgbx32, &bgra32, &rgba32, &bgr24,        &rgb24,
                                   &words16, &words16Alpha4, &words16Alpha1, &yuy2, &uyvy};
  for (FormatDescriptor* d : all) {
    for (uint32_t& w : d->leadTuning) w = 0;
    for (uint32_t& w : d->doubleTuning) w = 0;
  }
}

}  // namespace kivo
