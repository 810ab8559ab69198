// SPDX-License-Identifier: BSD-2-Clause
// Switching the display to a requested resolution and colour depth for a
// buffer, and back when the last buffer that took part in the change closes.
// The request is process-wide and consumed by the next open that asks for a
// mode change; the candidate order per depth code is shared by every system.
#pragma once

#include <cstdint>

#include "kivo/display.h"  // the depth codes, SetDisplayModeRequest

namespace kivo {

struct BlitRecord;

// The pending request (width, height and depth all set), left in place.
bool PendingDisplayModeRequest(uint32_t* width, uint32_t* height, uint32_t* depthCode);
void ClearDisplayModeRequest();

// The depths to try for a depth code, best first; returns how many (0 for a
// code that names none).
uint32_t DepthCandidates(uint32_t depthCode, uint32_t out[3]);

// The player's /D value: resolution from d mod 100 (1 to 13), depth code
// from d div 100 (0 to 6). False for values that name no mode.
bool DisplayModeFromSwitch(uint32_t d, uint32_t* width, uint32_t* height, uint32_t* depthCode);

// The mode change through the buffer's system operations: with the
// mode-change flag and a pending request, each candidate depth in turn (a
// mode whose depth turns out different is undone), then width and height
// alone; the request is then cleared. In every case the screen is measured
// and the buffer counted. 0 (and nothing done) when the system's device
// holds the display mode for another buffer.
int32_t ApplyDisplayModeChange(BlitRecord* buffer, uint32_t openFlags);
// Drops the buffer from the count; the last one restores the user's mode.
void ReleaseDisplayMode(BlitRecord* buffer);

// Process-wide state, for the summary and for tests.
bool DisplayModeChanged();
uint32_t DisplayModeUsers();

}  // namespace kivo
