// Variants of the copy and packed 4:2:2 reorder kernels. Every variant of one kernel has
// the signature of its entry point; suffix _C is portable, _MMX, _SSE2 and _AVX2 the SIMD ones.
// Included by the SIMD files, so it uses nothing from the C++ standard library.
#pragma once

#include <stdint.h>

using CopyBytesFn = void (*)(uint8_t* dst, const uint8_t* src, uint32_t count);
using PackedKernelFn = void (*)(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                                int32_t srcStride, uint32_t width, int32_t height);

void CopyBytes_C(uint8_t* dst, const uint8_t* src, uint32_t count);
void CopyBytes_MMX(uint8_t* dst, const uint8_t* src, uint32_t count);
void CopyBytes_SSE2(uint8_t* dst, const uint8_t* src, uint32_t count);

// CopyPlane takes row bytes where the others take a pixel width.
void CopyPlane_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t rowBytes, int32_t height);
void CopyPlane_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                   uint32_t rowBytes, int32_t height);
void CopyPlane_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                    uint32_t rowBytes, int32_t height);

#define KESTREL_PACKED_VARIANT(name)                                                  \
  void name(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride, \
            uint32_t width, int32_t height)

KESTREL_PACKED_VARIANT(CopyYUY2_C);
KESTREL_PACKED_VARIANT(CopyYUY2_MMX);
KESTREL_PACKED_VARIANT(CopyYUY2_SSE2);
KESTREL_PACKED_VARIANT(CopyRGB32_C);
KESTREL_PACKED_VARIANT(UYVYToYUY2_C);
KESTREL_PACKED_VARIANT(UYVYToYUY2_MMX);
KESTREL_PACKED_VARIANT(UYVYToYUY2_SSE2);
KESTREL_PACKED_VARIANT(UYVYToYUY2_AVX2);
KESTREL_PACKED_VARIANT(VYUYToYUY2_C);
KESTREL_PACKED_VARIANT(VYUYToYUY2_AVX2);
KESTREL_PACKED_VARIANT(YUY2ToVYUY_C);
KESTREL_PACKED_VARIANT(YUY2ToVYUY_MMX);
KESTREL_PACKED_VARIANT(YUY2ToVYUY_SSE2);
KESTREL_PACKED_VARIANT(YUY2ToVYUY_AVX2);
KESTREL_PACKED_VARIANT(YVYUToYUY2_C);
KESTREL_PACKED_VARIANT(YVYUToYUY2_MMX);
KESTREL_PACKED_VARIANT(YVYUToYUY2_SSE2);
KESTREL_PACKED_VARIANT(YVYUToYUY2_AVX2);

#undef KESTREL_PACKED_VARIANT

// Portable row helpers the SIMD variants finish each row with. `pairs` is the number
// of 4-byte macropixels to reorder.
void SwapBytePairsRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);   // 1 0 3 2
void RotateRightRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);     // 1 2 3 0
void RotateLeftRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);      // 3 0 1 2
void SwapChromaRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs);      // 0 3 2 1
