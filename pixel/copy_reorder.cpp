// Portable copies and packed 4:2:2 reorders, and the entry points that dispatch to them.
#include "pixel/copy_reorder.h"

#include <cstring>

#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "pixel/row_walk.h"

void CopyBytes_C(uint8_t* dst, const uint8_t* src, uint32_t count) {
  if (count) std::memcpy(dst, src, count);
}

void CopyPlane_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t rowBytes, int32_t height) {
  WalkRows(dst, dstStride, src, srcStride, height,
           [rowBytes](uint8_t* d, const uint8_t* s) { CopyBytes_C(d, s, rowBytes); });
}

void CopyYUY2_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  CopyPlane_C(dst, dstStride, src, srcStride, width * 2, height);
}

void CopyRGB32_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                 uint32_t width, int32_t height) {
  CopyPlane_C(dst, dstStride, src, srcStride, width * 4, height);
}

namespace {

// One fixed permutation of the four bytes of every macropixel.
template <int B0, int B1, int B2, int B3>
void ReorderRow(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  for (uint32_t i = 0; i < pairs; ++i, src += 4, dst += 4) {
    const uint8_t in[4] = {src[0], src[1], src[2], src[3]};
    dst[0] = in[B0];
    dst[1] = in[B1];
    dst[2] = in[B2];
    dst[3] = in[B3];
  }
}

template <void (*Row)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkRows(dst, dstStride, src, srcStride, height,
           [pairs](uint8_t* d, const uint8_t* s) { Row(d, s, pairs); });
}

}  // namespace

void SwapBytePairsRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  ReorderRow<1, 0, 3, 2>(dst, src, pairs);
}
void RotateRightRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  ReorderRow<1, 2, 3, 0>(dst, src, pairs);
}
void RotateLeftRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  ReorderRow<3, 0, 1, 2>(dst, src, pairs);
}
void SwapChromaRow_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  ReorderRow<0, 3, 2, 1>(dst, src, pairs);
}

void UYVYToYUY2_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  ReorderFrame<SwapBytePairsRow_C>(dst, dstStride, src, srcStride, width, height);
}
void VYUYToYUY2_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  ReorderFrame<RotateRightRow_C>(dst, dstStride, src, srcStride, width, height);
}
void YUY2ToVYUY_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  ReorderFrame<RotateLeftRow_C>(dst, dstStride, src, srcStride, width, height);
}
void YVYUToYUY2_C(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  ReorderFrame<SwapChromaRow_C>(dst, dstStride, src, srcStride, width, height);
}

// Entry points.

void CopyBytes(uint8_t* dst, const uint8_t* src, uint32_t count) {
  PickKernel<CopyBytesFn>(CopyBytes_SSE2, CopyBytes_MMX, CopyBytes_C)(dst, src, count);
}

void CopyPlane(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
               uint32_t rowBytes, int32_t height) {
  PickKernel<PackedKernelFn>(CopyPlane_SSE2, CopyPlane_MMX, CopyPlane_C)(
      dst, dstStride, src, srcStride, rowBytes, height);
}

void CopyYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
              uint32_t width, int32_t height) {
  PickKernel<PackedKernelFn>(CopyYUY2_SSE2, CopyYUY2_MMX, CopyYUY2_C)(
      dst, dstStride, src, srcStride, width, height);
}

void CopyRGB32(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
               uint32_t width, int32_t height) {
  CopyRGB32_C(dst, dstStride, src, srcStride, width, height);
}

void UYVYToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  PickKernel<PackedKernelFn>(UYVYToYUY2_AVX2, UYVYToYUY2_SSE2, UYVYToYUY2_MMX, UYVYToYUY2_C)(
      dst, dstStride, src, srcStride, width, height);
}

// The same swap serves both directions.
void YUY2ToUYVY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  UYVYToYUY2(dst, dstStride, src, srcStride, width, height);
}

void VYUYToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  PickKernel<PackedKernelFn>(VYUYToYUY2_AVX2, nullptr, nullptr, VYUYToYUY2_C)(
      dst, dstStride, src, srcStride, width, height);
}

void YUY2ToVYUY(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  PickKernel<PackedKernelFn>(YUY2ToVYUY_AVX2, YUY2ToVYUY_SSE2, YUY2ToVYUY_MMX, YUY2ToVYUY_C)(
      dst, dstStride, src, srcStride, width, height);
}

void YVYUToYUY2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  PickKernel<PackedKernelFn>(YVYUToYUY2_AVX2, YVYUToYUY2_SSE2, YVYUToYUY2_MMX, YVYUToYUY2_C)(
      dst, dstStride, src, srcStride, width, height);
}

// Exchanging bytes 1 and 3 is its own inverse.
void YUY2ToYVYU(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                uint32_t width, int32_t height) {
  YVYUToYUY2_C(dst, dstStride, src, srcStride, width, height);
}
