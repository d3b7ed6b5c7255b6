// Portable planar 4:2:0 to packed 4:2:2 conversions and 4:2:0 copy, and the entry points
// that dispatch to them.
#include "pixel/planar_packed.h"

#include "pixel/copy_reorder.h"
#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "pixel/planar_walk.h"

namespace {

// Byte positions of Y(2j), Y(2j+1), U and V within a macropixel, per order.
struct Layout {
  int y0, y1, u, v;
};
constexpr Layout kLayouts[4] = {
    {0, 2, 1, 3},  // YUY2: Y0 U Y1 V
    {0, 2, 3, 1},  // YVYU: Y0 V Y1 U
    {1, 3, 0, 2},  // UYVY: U Y0 V Y1
    {1, 3, 2, 0},  // VYUY: V Y0 U Y1
};

template <PackedOrder Order>
void RowPair(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
             const uint8_t* v, uint32_t pairs) {
  constexpr Layout l = kLayouts[Order];
  for (uint32_t j = 0; j < pairs; ++j, d0 += 4, d1 += 4, y0 += 2, y1 += 2) {
    const uint8_t cu = u[j], cv = v[j];
    d0[l.y0] = y0[0];
    d0[l.y1] = y0[1];
    d0[l.u] = cu;
    d0[l.v] = cv;
    d1[l.y0] = y1[0];
    d1[l.y1] = y1[1];
    d1[l.u] = cu;
    d1[l.v] = cv;
  }
}

template <PackedOrder Order>
void PlanarToPacked(uint8_t* dst, int32_t dstStride, const uint8_t* y, const uint8_t* u,
                    const uint8_t* v, int32_t yStride, int32_t chromaStride, uint32_t width,
                    int32_t height) {
  const uint32_t pairs = width / 2;
  WalkPlanarRowPairs(dst, dstStride, y, u, v, yStride, chromaStride, height,
                     [pairs](uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                             const uint8_t* cu, const uint8_t* cv) {
                       RowPair<Order>(d0, d1, y0, y1, cu, cv, pairs);
                     });
}

template <void (*Plane)(uint8_t*, int32_t, const uint8_t*, int32_t, uint32_t, int32_t)>
void CopyI420With(uint8_t* dstY, uint8_t* dstU, uint8_t* dstV, int32_t dstYStride,
                  int32_t dstChromaStride, const uint8_t* srcY, const uint8_t* srcU,
                  const uint8_t* srcV, int32_t srcYStride, int32_t srcChromaStride,
                  uint32_t width, int32_t height) {
  // Halving toward zero keeps a negative height negative for the chroma planes too.
  Plane(dstY, dstYStride, srcY, srcYStride, width, height);
  Plane(dstU, dstChromaStride, srcU, srcChromaStride, width / 2, height / 2);
  Plane(dstV, dstChromaStride, srcV, srcChromaStride, width / 2, height / 2);
}

}  // namespace

void PlanarRowPair_C(PackedOrder order, uint8_t* d0, uint8_t* d1, const uint8_t* y0,
                     const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint32_t pairs) {
  switch (order) {
    case kOrderYUYV: RowPair<kOrderYUYV>(d0, d1, y0, y1, u, v, pairs); break;
    case kOrderYVYU: RowPair<kOrderYVYU>(d0, d1, y0, y1, u, v, pairs); break;
    case kOrderUYVY: RowPair<kOrderUYVY>(d0, d1, y0, y1, u, v, pairs); break;
    case kOrderVYUY: RowPair<kOrderVYUY>(d0, d1, y0, y1, u, v, pairs); break;
  }
}

#define KESTREL_PLANAR_ARGS                                                                   \
  uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u, const uint8_t *v, \
      int32_t yStride, int32_t chromaStride, uint32_t width, int32_t height
#define KESTREL_PLANAR_PASS dst, dstStride, y, u, v, yStride, chromaStride, width, height

void I420ToYUY2_C(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYUYV>(KESTREL_PLANAR_PASS); }
void I420ToYVYU_C(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYVYU>(KESTREL_PLANAR_PASS); }
void I420ToUYVY_C(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderUYVY>(KESTREL_PLANAR_PASS); }
void I420ToVYUY_C(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderVYUY>(KESTREL_PLANAR_PASS); }

// Entry points.

void I420ToYUY2(KESTREL_PLANAR_ARGS) {
  PickKernel<PlanarToPackedFn>(I420ToYUY2_AVX2, I420ToYUY2_SSE2, I420ToYUY2_MMX, I420ToYUY2_C)(KESTREL_PLANAR_PASS);
}
void I420ToYVYU(KESTREL_PLANAR_ARGS) {
  PickKernel<PlanarToPackedFn>(I420ToYVYU_AVX2, I420ToYVYU_SSE2, I420ToYVYU_MMX, I420ToYVYU_C)(KESTREL_PLANAR_PASS);
}
void I420ToUYVY(KESTREL_PLANAR_ARGS) {
  PickKernel<PlanarToPackedFn>(I420ToUYVY_AVX2, I420ToUYVY_SSE2, I420ToUYVY_MMX, I420ToUYVY_C)(KESTREL_PLANAR_PASS);
}
void I420ToVYUY(KESTREL_PLANAR_ARGS) {
  PickKernel<PlanarToPackedFn>(I420ToVYUY_AVX2, I420ToVYUY_SSE2, I420ToVYUY_MMX, I420ToVYUY_C)(KESTREL_PLANAR_PASS);
}

#undef KESTREL_PLANAR_ARGS
#undef KESTREL_PLANAR_PASS

#define KESTREL_COPY_I420_ARGS                                                             \
  uint8_t *dstY, uint8_t *dstU, uint8_t *dstV, int32_t dstYStride, int32_t dstChromaStride, \
      const uint8_t *srcY, const uint8_t *srcU, const uint8_t *srcV, int32_t srcYStride,    \
      int32_t srcChromaStride, uint32_t width, int32_t height
#define KESTREL_COPY_I420_PASS                                                           \
  dstY, dstU, dstV, dstYStride, dstChromaStride, srcY, srcU, srcV, srcYStride, srcChromaStride, \
      width, height

void CopyI420_C(KESTREL_COPY_I420_ARGS) { CopyI420With<CopyPlane_C>(KESTREL_COPY_I420_PASS); }
void CopyI420_MMX(KESTREL_COPY_I420_ARGS) { CopyI420With<CopyPlane_MMX>(KESTREL_COPY_I420_PASS); }
void CopyI420_SSE2(KESTREL_COPY_I420_ARGS) { CopyI420With<CopyPlane_SSE2>(KESTREL_COPY_I420_PASS); }

void CopyI420(KESTREL_COPY_I420_ARGS) {
  PickKernel<CopyI420Fn>(CopyI420_SSE2, CopyI420_MMX, CopyI420_C)(KESTREL_COPY_I420_PASS);
}

#undef KESTREL_COPY_I420_ARGS
#undef KESTREL_COPY_I420_PASS
