// Row iteration shared by every kernel variant. Kept free of the standard library and
// in an unnamed namespace so each variant file, whatever its instruction-set flags,
// gets its own private copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace {

// Calls row(dst, src) for |height| rows. A negative height reads the source from its
// last row upward while the destination is written top-down.
template <typename RowFn>
inline void WalkRows(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     int32_t height, RowFn row) {
  ptrdiff_t srcStep = srcStride;
  if (height < 0) {
    height = -height;
    src += static_cast<ptrdiff_t>(height - 1) * srcStride;
    srcStep = -srcStep;
  }
  for (int32_t y = 0; y < height; ++y) {
    row(dst, src);
    dst += dstStride;
    src += srcStep;
  }
}

}  // namespace
