// Public entry points of the pixel-format kernels. Each reads the dispatch word set by
// InitPixelKernels and runs its SSE2, MMX or portable implementation, or its AVX2 one
// where the word allows SSE2 and the extended word has AVX2; before initialisation every
// entry point runs the portable one.
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

// Planar 4:2:0 (Y, U, V planes; one chroma stride for both chroma planes) to packed
// 4:2:2. Rows go in pairs sharing one chroma row; with an odd |height| the last row is
// not converted. A negative height writes the destination from its last row upward while
// the planes are read top-down.
void I420ToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width,
                int32_t height);
void I420ToYVYU(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width,
                int32_t height);
void I420ToUYVY(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width,
                int32_t height);
void I420ToVYUY(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width,
                int32_t height);
// Copies the Y plane (width bytes, height rows) and both chroma planes (width / 2 bytes,
// height / 2 rows, halved toward zero) with CopyPlane.
void CopyI420(uint8_t* dstY, uint8_t* dstU, uint8_t* dstV, int32_t dstYStride,
              int32_t dstChromaStride, const uint8_t* srcY, const uint8_t* srcU,
              const uint8_t* srcV, int32_t srcYStride, int32_t srcChromaStride, uint32_t width,
              int32_t height);

// RGB to YUV (BT.601 studio range, truncating integer arithmetic). Sources are RGB32
// (B G R X), RGB24 (B G R), RGB555 or RGB565 (little-endian words). A negative height
// reads the source from its last row upward; the output is written top-down. Packed
// outputs take one chroma pair per pixel pair; planar outputs one per 2 x 2 block, rows in
// pairs (an odd |height| leaves the last row unconverted).
// RGB32ToYUY2 on an SSE2 processor takes the chroma of every pixel pair inside whole
// 8-pixel blocks from the pair's truncated channel averages, shifted by 8, which differs
// from the portable chroma by at most 1 on pairs with odd channel sums.
void RGB32ToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height);
void RGB24ToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height);
void RGB555ToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height);
void RGB565ToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height);
void RGB32ToYVYU(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height);
void RGB32ToUYVY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height);
void RGB32ToVYUY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height);
void RGB32ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                 const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height);
void RGB24ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                 const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height);
void RGB555ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                  const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height);
void RGB565ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                  const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height);
