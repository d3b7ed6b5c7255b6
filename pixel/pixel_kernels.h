// Public entry points of the pixel-format kernels. Each reads the dispatch word set by
// InitPixelKernels and runs its SSE2, MMX or portable implementation; before
// initialisation every entry point runs the portable one.
//
// Conventions: strides are signed byte distances between row starts and may exceed the
// row; padding is never read as pixels nor written. Widths are pixel counts; packed
// 4:2:2 rows are processed in pixel pairs, so with an odd width the last pixel of each
// row is left as it was. A negative height reads the source from its last row upward
// (copies, packed reorders, RGB conversions) and writes the destination top-down.
// Nothing is checked: callers pass valid buffers.
#pragma once

#include <cstdint>

#include "pixel/features.h"

// Copies and packed 4:2:2 byte reorders.
void CopyBytes(uint8_t* dst, const uint8_t* src, uint32_t count);
void CopyPlane(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
               uint32_t rowBytes, int32_t height);
void CopyYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
              uint32_t width, int32_t height);
void CopyRGB32(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
               uint32_t width, int32_t height);
void UYVYToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
void YUY2ToUYVY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
void VYUYToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
void YUY2ToVYUY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
void YVYUToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
void YUY2ToYVYU(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height);
