// SPDX-License-Identifier: BSD-2-Clause
// Writer internals for single blocks: the values a block puts into each
// bundle and the bits it writes straight into the stream, and the 8x8
// picture a block stands for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/video_writer.h"

namespace kivo::encode {

// Values one block row takes from each bundle, in the order it takes them.
// Colours hold the stored (stream) values.
struct RowValues {
  std::vector<int32_t> values[kBundleTotal];
};

// The stream value of a colour sample; -1 when the old colour mapping
// cannot give that sample (0).
int StoredColour(uint8_t sample, bool oldColours);

// Appends the block's bundle values to `row` and its own bits to `bits`.
bool EmitBlock(const BlockSpec& block, bool evenRow, bool oldColours, RowValues& row,
               BitWriter& bits, std::string* error);

// The runs a Runs block (or doubled runs) is written with; false when the
// given runs do not end the block's loop exactly at their last run.
bool BlockRuns(const BlockSpec& block, RunSpec runs[64], int* count, std::string* error);

// The 8x8 samples of a block of `type` (Runs, Intra, Fill, TwoColour, Raw:
// no prediction; Inter, MovedResidue: the 8x8 prediction). False when the
// type draws no 8x8 picture of its own or the block cannot be written.
bool BlockPicture(const BlockSpec& block, uint32_t type, const uint8_t* prediction,
                  uint8_t out[64]);

}  // namespace kivo::encode
