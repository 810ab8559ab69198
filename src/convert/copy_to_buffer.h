// SPDX-License-Identifier: BSD-2-Clause
// Copying a decoded picture into a caller's pixel buffer in any of the
// destination formats, whole or by the 16 x 16 cells that changed. The
// movie's side of a copy (its flags, lateness, the read-ahead) is the frame
// cycle's: it decides there is a copy to make, then hands the picture here.
#pragma once

#include <cstdint>

#include "convert/row_walk.h"
#include "kivo/convert.h"  // the format codes and copy flags

namespace kivo {

// The newest picture and its changed-cell map (one byte per 16 x 16 cell,
// cellsAcross to a row, cellCount in all; null: every cell changed).
struct CopySource {
  ConvertSource picture;
  const uint8_t* changedCells;
  uint32_t cellsAcross, cellCount;
};

// Writes `from` with its top-left pixel at (x, y) of `destination` (rows
// `pitch` bytes apart; a negative pitch is a bottom-up buffer of `height`
// rows) in the format of `flags`, whole with kCopyFull or when every cell
// changed, else cell by cell. A null picture or format 0 writes nothing.
void CopyPicture(const CopySource& from, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                 uint32_t flags);

}  // namespace kivo
