// Row-pair iteration between planar 4:2:0 and packed frames. Kept free of the standard
// library and in an unnamed namespace so each variant file gets its own private copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace {

// Calls rows(p0, p1, y0, y1, u, v) for each of |height| / 2 row pairs: p0 and p1 are rows of
// the packed frame, which a negative height walks from its last row upward; the planes are
// walked top-down.
template <typename Packed, typename Plane, typename RowsFn>
inline void WalkRowPairs(Packed* packed, int32_t packedStride, Plane* y, Plane* u, Plane* v, int32_t yStride,
                         int32_t chromaStride, int32_t height, RowsFn rows) {
  ptrdiff_t packedStep = packedStride;
  if (height < 0) {
    height = -height;
    packed += static_cast<ptrdiff_t>(height - 1) * packedStride;
    packedStep = -packedStep;
  }
  const int32_t pairs = height / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    rows(packed, packed + packedStep, y, y + yStride, u, v);
    packed += 2 * packedStep;
    y += 2 * static_cast<ptrdiff_t>(yStride);
    u += chromaStride;
    v += chromaStride;
  }
}

// Planes to a packed destination: rows(d0, d1, y0, y1, u, v).
template <typename RowsFn>
inline void WalkPlanarRowPairs(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                               const uint8_t* v, int32_t yStride, int32_t chromaStride, int32_t height,
                               RowsFn rows) {
  WalkRowPairs(dst, dstStride, y, u, v, yStride, chromaStride, height, rows);
}

// A packed source to planes: rows(s0, s1, y0, y1, u, v), s0 and s1 in reading order.
template <typename RowsFn>
inline void WalkSourceRowPairs(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                               const uint8_t* src, int32_t srcStride, int32_t height, RowsFn rows) {
  WalkRowPairs(src, srcStride, y, u, v, yStride, chromaStride, height, rows);
}

}  // namespace
