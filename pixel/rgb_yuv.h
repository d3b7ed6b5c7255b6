// Variants of the RGB to YUV kernels (BT.601 studio range, truncating integer
// arithmetic). Every variant of one kernel has the signature of its entry point; suffix
// _C is portable, _MMX, _SSE2 and _AVX2 the SIMD ones. Included by the SIMD files, so it uses
// nothing from the C++ standard library.
#pragma once

#include <stdint.h>

using RgbToPackedFn = void (*)(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                               int32_t srcStride, uint32_t width, int32_t height);
using RgbToPlanarFn = void (*)(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride,
                               int32_t chromaStride, const uint8_t* src, int32_t srcStride,
                               uint32_t width, int32_t height);

#define KESTREL_RGB_PACKED_VARIANT(name)                                              \
  void name(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride, \
            uint32_t width, int32_t height)
#define KESTREL_RGB_PLANAR_VARIANT(name)                                                 \
  void name(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride, \
            const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height)

KESTREL_RGB_PACKED_VARIANT(RGB32ToYUY2_C);
// Averaged chroma in whole 8-pixel blocks: see RGB32ToYUY2 in pixel_kernels.h.
KESTREL_RGB_PACKED_VARIANT(RGB32ToYUY2_SSE2);
// The SSE2 variant's output, 16 pixels per step.
KESTREL_RGB_PACKED_VARIANT(RGB32ToYUY2_AVX2);
KESTREL_RGB_PACKED_VARIANT(RGB24ToYUY2_C);
KESTREL_RGB_PACKED_VARIANT(RGB24ToYUY2_SSE2);
KESTREL_RGB_PACKED_VARIANT(RGB24ToYUY2_AVX2);
KESTREL_RGB_PACKED_VARIANT(RGB555ToYUY2_C);
KESTREL_RGB_PACKED_VARIANT(RGB565ToYUY2_C);
KESTREL_RGB_PACKED_VARIANT(RGB32ToYVYU_C);
KESTREL_RGB_PACKED_VARIANT(RGB32ToUYVY_C);
KESTREL_RGB_PACKED_VARIANT(RGB32ToVYUY_C);

KESTREL_RGB_PLANAR_VARIANT(RGB32ToI420_C);
KESTREL_RGB_PLANAR_VARIANT(RGB32ToI420_MMX);
KESTREL_RGB_PLANAR_VARIANT(RGB32ToI420_SSE2);
KESTREL_RGB_PLANAR_VARIANT(RGB32ToI420_AVX2);
KESTREL_RGB_PLANAR_VARIANT(RGB24ToI420_C);
KESTREL_RGB_PLANAR_VARIANT(RGB24ToI420_MMX);
KESTREL_RGB_PLANAR_VARIANT(RGB24ToI420_SSE2);
KESTREL_RGB_PLANAR_VARIANT(RGB24ToI420_AVX2);
KESTREL_RGB_PLANAR_VARIANT(RGB555ToI420_C);
KESTREL_RGB_PLANAR_VARIANT(RGB565ToI420_C);

#undef KESTREL_RGB_PACKED_VARIANT
#undef KESTREL_RGB_PLANAR_VARIANT

// Portable rows the SIMD variants finish each row with: `pairs` pixel pairs of one
// RGB32 row into YUY2, or of two source rows (s0 above s1) into two Y rows and one
// chroma sample per pair.
void RGB32ToYUY2Row_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);
void RGB24ToYUY2Row_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);
void RGB32ToI420RowPair_C(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                          const uint8_t* s1, uint32_t pairs);
void RGB24ToI420RowPair_C(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                          const uint8_t* s1, uint32_t pairs);
