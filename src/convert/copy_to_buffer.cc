// SPDX-License-Identifier: BSD-2-Clause
// CopyPicture: places a bottom-up destination, then hands the picture to the
// converter of the format, whole or by changed cells.
#include "convert/copy_to_buffer.h"

#include <cstring>

#include "convert/conversion_tables.h"
#include "convert/converters.h"

namespace kivo {
namespace {

bool EveryCellChanged(const CopySource& from) {
  return !from.changedCells || std::memchr(from.changedCells, 0, from.cellCount) == nullptr;
}

}  // namespace

void CopyPicture(const CopySource& source, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                 uint32_t flags) {
  const uint32_t code = flags & kCopyFormatMask;
  PrepareConversionTables(static_cast<int32_t>(code));
  uint8_t* dest = static_cast<uint8_t*>(destination);
  if (pitch < 0) {
    dest += (ptrdiff_t(height) - y - 1) * -ptrdiff_t(pitch);
    y = 0;
  }
  ConvertSource from = source.picture;
  ConvertTarget to = {dest, pitch, x, y};
  if (!from.planes || code == kFormatNone) return;
  if (code == kFormatYv12) {
    CopyYv12(to, height, from, 0, 0, flags);
    return;
  }
  FormatDescriptor* d = DescriptorFor(code, from.alpha != nullptr);
  const bool alphaMember = from.alpha && code >= kFormatBgra32 && code <= kFormatArgb1555;
  if (!alphaMember) from.alpha = nullptr;
  if ((flags & kCopyFull) || EveryCellChanged(source))
    ConvertFull(d, to, from, 0, 0, flags);
  else
    ConvertChanged(d, to, from, source.changedCells, source.cellsAcross, flags);
}

}  // namespace kivo
