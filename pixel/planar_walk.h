// Row-pair iteration of the planar 4:2:0 to packed kernels. Kept free of the standard
// library and in an unnamed namespace so each variant file gets its own private copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace {

// Calls rows(d0, d1, y0, y1, u, v) for each of |height| / 2 row pairs. The planes are read
// top-down; a negative height writes the destination from its last row upward.
template <typename RowsFn>
inline void WalkPlanarRowPairs(uint8_t* dst, int32_t dstStride, const uint8_t* y,
                               const uint8_t* u, const uint8_t* v, int32_t yStride,
                               int32_t chromaStride, int32_t height, RowsFn rows) {
  ptrdiff_t dstStep = dstStride;
  if (height < 0) {
    height = -height;
    dst += static_cast<ptrdiff_t>(height - 1) * dstStride;
    dstStep = -dstStep;
  }
  const int32_t pairs = height / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    rows(dst, dst + dstStep, y, y + yStride, u, v);
    dst += 2 * dstStep;
    y += 2 * static_cast<ptrdiff_t>(yStride);
    u += chromaStride;
    v += chromaStride;
  }
}

}  // namespace

namespace {

// Calls rows(s0, s1, y0, y1, u, v) for each of |height| / 2 source row pairs, s0 and s1
// in reading order. A negative height reads the source from its last row upward; the
// planes are written top-down.
template <typename RowsFn>
inline void WalkSourceRowPairs(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride,
                               int32_t chromaStride, const uint8_t* src, int32_t srcStride,
                               int32_t height, RowsFn rows) {
  ptrdiff_t srcStep = srcStride;
  if (height < 0) {
    height = -height;
    src += static_cast<ptrdiff_t>(height - 1) * srcStride;
    srcStep = -srcStep;
  }
  const int32_t pairs = height / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    rows(src, src + srcStep, y, y + yStride, u, v);
    src += 2 * srcStep;
    y += 2 * static_cast<ptrdiff_t>(yStride);
    u += chromaStride;
    v += chromaStride;
  }
}

}  // namespace
