// SPDX-License-Identifier: BSD-2-Clause
// The video decoder's entry points for the movie core: bundle buffer sizes
// for the open, the processor probe, the clearing of new picture buffers and
// the decoding of one frame's video data.
#pragma once

#include <cstdint>

#include "base/processor.h"
#include "video/plane_set.h"

namespace kivo {

// Open-flag and video-flag bits the decoder reads.
constexpr uint32_t kVideoFlagAlpha = 0x100000;  // videoFlags: the stream has alpha
constexpr uint32_t kDecodeAlpha = 0x100000;     // openFlags: decode it
constexpr uint32_t kDecodeGrey = 0x20000;       // openFlags: no chroma planes
constexpr uint32_t kBeforeRevisionI = 0x8000;   // openFlags: no luma size word, colours offset

// Sizes in bytes of the nine bundle scratch buffers for luma pitch `pitch`.
void ComputeBundleSizes(uint32_t pitch, uint32_t sizes[kBundleCount]);

// Clears both frame buffers (luma 0, chroma 128) and both alpha buffers (0),
// so that whatever a stream leaves undrawn is black and transparent.
void ClearPictureBuffers(PlaneSet* planes);

// Decodes one frame's video data (`size` bytes at `data`, no byte beyond
// them is read) into frameBuffers[current ^ 1] and alphaBuffers[current ^ 1]
// with frameBuffers[current] and alphaBuffers[current] as reference, and
// sets the changedCells bytes of every 16x16 cell drawn. The caller flips
// `current` afterwards. bundleBuffers must have the sizes ComputeBundleSizes
// gives for planes->pitch, and the plane geometry must be the one of
// sourceWidth x sourceHeight. keyFrame is not needed: key frames decode
// like any other.
//
// Returns 1 when the frame decoded without meeting anything malformed, 0
// otherwise (nothing is reported; a malformed part is stopped safely and the
// rest decoded where its position is still known). Allocates nothing.
int32_t DecodeVideoFrame(PlaneSet* planes, uint8_t* const bundleBuffers[kBundleCount],
                         const uint8_t* data, uint32_t size, uint32_t sourceWidth,
                         uint32_t sourceHeight, int32_t keyFrame, uint32_t openFlags,
                         uint32_t videoFlags);

}  // namespace kivo
