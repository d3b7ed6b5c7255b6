// Variants of the planar 4:2:0 to packed 4:2:2 kernels and of the 4:2:0 image copy.
// Every variant of one kernel has the signature of its entry point; suffix _C is
// portable, _MMX, _SSE2 and _AVX2 the SIMD ones. Included by the SIMD files, so it uses nothing
// from the C++ standard library.
#pragma once

#include <stdint.h>

using PlanarToPackedFn = void (*)(uint8_t* dst, int32_t dstStride, const uint8_t* y,
                                  const uint8_t* u, const uint8_t* v, int32_t yStride,
                                  int32_t chromaStride, uint32_t width, int32_t height);
using CopyI420Fn = void (*)(uint8_t* dstY, uint8_t* dstU, uint8_t* dstV, int32_t dstYStride,
                            int32_t dstChromaStride, const uint8_t* srcY, const uint8_t* srcU,
                            const uint8_t* srcV, int32_t srcYStride, int32_t srcChromaStride,
                            uint32_t width, int32_t height);

#define KESTREL_PLANAR_VARIANT(name)                                                        \
  void name(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,           \
            const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width, \
            int32_t height)

KESTREL_PLANAR_VARIANT(I420ToYUY2_C);
KESTREL_PLANAR_VARIANT(I420ToYUY2_MMX);
KESTREL_PLANAR_VARIANT(I420ToYUY2_SSE2);
KESTREL_PLANAR_VARIANT(I420ToYUY2_AVX2);
KESTREL_PLANAR_VARIANT(I420ToYVYU_C);
KESTREL_PLANAR_VARIANT(I420ToYVYU_MMX);
KESTREL_PLANAR_VARIANT(I420ToYVYU_SSE2);
KESTREL_PLANAR_VARIANT(I420ToYVYU_AVX2);
KESTREL_PLANAR_VARIANT(I420ToUYVY_C);
KESTREL_PLANAR_VARIANT(I420ToUYVY_MMX);
KESTREL_PLANAR_VARIANT(I420ToUYVY_SSE2);
KESTREL_PLANAR_VARIANT(I420ToUYVY_AVX2);
KESTREL_PLANAR_VARIANT(I420ToVYUY_C);
KESTREL_PLANAR_VARIANT(I420ToVYUY_MMX);
KESTREL_PLANAR_VARIANT(I420ToVYUY_SSE2);
KESTREL_PLANAR_VARIANT(I420ToVYUY_AVX2);

#undef KESTREL_PLANAR_VARIANT

#define KESTREL_COPY_I420_VARIANT(name)                                                     \
  void name(uint8_t* dstY, uint8_t* dstU, uint8_t* dstV, int32_t dstYStride,               \
            int32_t dstChromaStride, const uint8_t* srcY, const uint8_t* srcU,              \
            const uint8_t* srcV, int32_t srcYStride, int32_t srcChromaStride, uint32_t width, \
            int32_t height)

KESTREL_COPY_I420_VARIANT(CopyI420_C);
KESTREL_COPY_I420_VARIANT(CopyI420_MMX);
KESTREL_COPY_I420_VARIANT(CopyI420_SSE2);

#undef KESTREL_COPY_I420_VARIANT

// Packed byte orders, as the positions of Y(2j), Y(2j+1), U and V in a macropixel.
enum PackedOrder { kOrderYUYV = 0, kOrderYVYU = 1, kOrderUYVY = 2, kOrderVYUY = 3 };

// Portable interleave of `pairs` pixel pairs into two destination rows (d0 from luma
// row y0, d1 from y1, both with chroma u and v), which the SIMD variants finish rows with.
void PlanarRowPair_C(PackedOrder order, uint8_t* d0, uint8_t* d1, const uint8_t* y0,
                     const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint32_t pairs);
