// SPDX-License-Identifier: BSD-2-Clause
// Quantiser tables of the video stream: entry [q][r * 8 + c] scales a
// coefficient by quantiser index q before the inverse DCT, as 32-bit fixed
// point whose product is shifted right by 11.
#pragma once

#include <cstdint>

namespace kivo {

extern const int32_t kIntraQuantiser[16][64];
extern const int32_t kInterQuantiser[16][64];

}  // namespace kivo
