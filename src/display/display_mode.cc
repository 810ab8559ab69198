// SPDX-License-Identifier: BSD-2-Clause
// The display-mode request, the candidate depths, and the counted change.
#include "display/display_mode.h"

#include "display/blit_buffer.h"
#include "display/blit_style.h"

namespace kivo {

namespace {

struct ModeRequest {
  uint32_t width, height, depthCode;
};

ModeRequest request = {0, 0, 0};
bool modeChanged = false;
uint32_t modeUsers = 0;

}  // namespace

void SetDisplayModeRequest(uint32_t width, uint32_t height, uint32_t depthCode) {
  request = ModeRequest{width, height, depthCode};
}

bool PendingDisplayModeRequest(uint32_t* width, uint32_t* height, uint32_t* depthCode) {
  if (!request.width || !request.height || !request.depthCode) return false;
  *width = request.width;
  *height = request.height;
  *depthCode = request.depthCode;
  return true;
}

void ClearDisplayModeRequest() { request = ModeRequest{0, 0, 0}; }

uint32_t DepthCandidates(uint32_t depthCode, uint32_t out[3]) {
  switch (depthCode) {
    case 8: case 16: case 24: case 32:
      out[0] = depthCode;
      return 1;
    case kDepthHighColourAtLeast:
      out[0] = 16, out[1] = 32, out[2] = 24;
      return 3;
    case kDepthTrueColourFirst:
      out[0] = 32, out[1] = 24, out[2] = 16;
      return 3;
    case kDepthTrueColourOnly:
      out[0] = 32, out[1] = 24;
      return 2;
    default:
      return 0;
  }
}

bool DisplayModeFromSwitch(uint32_t d, uint32_t* width, uint32_t* height, uint32_t* depthCode) {
  static const uint16_t kSizes[13][2] = {
      {320, 200}, {320, 240}, {320, 400}, {400, 300}, {480, 360}, {512, 384}, {640, 400},
      {640, 480}, {800, 600}, {960, 720}, {1024, 768}, {1152, 864}, {1280, 1024}};
  static const uint8_t kDepths[7] = {16, 24, 32, 8, kDepthHighColourAtLeast,
                                     kDepthTrueColourFirst, kDepthTrueColourOnly};
  const uint32_t size = d % 100, depth = d / 100;
  if (size < 1 || size > 13 || depth > 6) return false;
  *width = kSizes[size - 1][0];
  *height = kSizes[size - 1][1];
  *depthCode = kDepths[depth];
  return true;
}

int32_t ApplyDisplayModeChange(BlitRecord* buffer, uint32_t openFlags) {
  if (!buffer || !buffer->system) return 0;
  const BlitSystem* sys = buffer->system;
  if (sys->modeHeldByDevice && sys->modeHeldByDevice(buffer)) return 0;
  uint32_t width, height, depthCode;
  if ((openFlags & kBlitOpenChangeMode) && PendingDisplayModeRequest(&width, &height, &depthCode) &&
      sys->setMode) {
    uint32_t candidates[3];
    const uint32_t count = DepthCandidates(depthCode, candidates);
    bool done = false;
    for (uint32_t i = 0; i < count && !done; ++i) {
      if (!sys->setMode(buffer, width, height, candidates[i])) continue;
      modeChanged = true;
      if (sys->displayBits && sys->displayBits(buffer) == candidates[i]) {
        done = true;
      } else if (sys->restoreMode) {
        sys->restoreMode(buffer);
      }
    }
    if (!done && sys->setMode(buffer, width, height, 0)) modeChanged = true;
    ClearDisplayModeRequest();
  }
  if (sys->measureScreen) sys->measureScreen(buffer);
  if (!buffer->countedInDisplayMode) {
    buffer->countedInDisplayMode = 1;
    ++modeUsers;
  }
  return 1;
}

void ReleaseDisplayMode(BlitRecord* buffer) {
  if (!buffer || !buffer->countedInDisplayMode) return;
  buffer->countedInDisplayMode = 0;
  if (modeUsers > 0) --modeUsers;
  if (modeUsers == 0 && modeChanged) {
    modeChanged = false;
    if (buffer->system && buffer->system->restoreMode) buffer->system->restoreMode(buffer);
  }
}

bool DisplayModeChanged() { return modeChanged; }
uint32_t DisplayModeUsers() { return modeUsers; }

}  // namespace kivo
