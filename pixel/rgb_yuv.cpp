// Portable RGB to YUV conversions (packed 4:2:2 and planar 4:2:0 outputs from RGB32,
// RGB24, RGB555 and RGB565), and the entry points that dispatch to them.
#include "pixel/rgb_yuv.h"

#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "pixel/planar_walk.h"
#include "pixel/row_walk.h"

namespace {

struct Rgb {
  int32_t r, g, b;
};

enum RgbFormat { kRgb32, kRgb24, kRgb555, kRgb565 };

template <RgbFormat F>
constexpr uint32_t kBytesPerPixel = F == kRgb32 ? 4 : F == kRgb24 ? 3 : 2;

// 16-bit channels are widened by shifting; the low bits stay zero.
template <RgbFormat F>
inline Rgb Read(const uint8_t* p) {
  if constexpr (F == kRgb32 || F == kRgb24) {
    return {p[2], p[1], p[0]};
  } else {
    const uint32_t w = p[0] | (p[1] << 8);
    if constexpr (F == kRgb555)
      return {static_cast<int32_t>(((w >> 10) & 0x1F) << 3), static_cast<int32_t>(((w >> 5) & 0x1F) << 3),
              static_cast<int32_t>((w & 0x1F) << 3)};
    else
      return {static_cast<int32_t>(((w >> 11) & 0x1F) << 3), static_cast<int32_t>(((w >> 5) & 0x3F) << 2),
              static_cast<int32_t>((w & 0x1F) << 3)};
  }
}

inline uint8_t Luma(Rgb p) { return static_cast<uint8_t>(((66 * p.r + 129 * p.g + 25 * p.b) >> 8) + 16); }

// Chroma from channel sums over `Shift` - 8 doublings of pixels: 9 for a pair, 10 for a
// 2 x 2 block. The shifts are arithmetic.
template <int Shift>
inline uint8_t ChromaU(Rgb s) {
  return static_cast<uint8_t>(((112 * s.b - 74 * s.g - 38 * s.r) >> Shift) + 128);
}
template <int Shift>
inline uint8_t ChromaV(Rgb s) {
  return static_cast<uint8_t>(((112 * s.r - 94 * s.g - 18 * s.b) >> Shift) + 128);
}

inline Rgb Sum(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// Positions of Y0, Y1, U, V in the output macropixel.
struct Layout {
  int y0, y1, u, v;
};
constexpr Layout kYUY2{0, 2, 1, 3}, kYVYU{0, 2, 3, 1}, kUYVY{1, 3, 0, 2}, kVYUY{1, 3, 2, 0};

template <RgbFormat F, Layout L>
void PackedRow(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  constexpr uint32_t bpp = kBytesPerPixel<F>;
  for (uint32_t j = 0; j < pairs; ++j, src += 2 * bpp, dst += 4) {
    const Rgb p0 = Read<F>(src), p1 = Read<F>(src + bpp);
    const Rgb s = Sum(p0, p1);
    dst[L.y0] = Luma(p0);
    dst[L.y1] = Luma(p1);
    dst[L.u] = ChromaU<9>(s);
    dst[L.v] = ChromaV<9>(s);
  }
}

template <RgbFormat F, Layout L>
void ToPacked(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
              uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkRows(dst, dstStride, src, srcStride, height,
           [pairs](uint8_t* d, const uint8_t* s) { PackedRow<F, L>(d, s, pairs); });
}

template <RgbFormat F>
void PlanarRowPair(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                   const uint8_t* s1, uint32_t pairs) {
  constexpr uint32_t bpp = kBytesPerPixel<F>;
  for (uint32_t j = 0; j < pairs; ++j, s0 += 2 * bpp, s1 += 2 * bpp) {
    const Rgb a = Read<F>(s0), b = Read<F>(s0 + bpp), c = Read<F>(s1), d = Read<F>(s1 + bpp);
    y0[2 * j] = Luma(a);
    y0[2 * j + 1] = Luma(b);
    y1[2 * j] = Luma(c);
    y1[2 * j + 1] = Luma(d);
    const Rgb s = Sum(Sum(a, b), Sum(c, d));
    u[j] = ChromaU<10>(s);
    v[j] = ChromaV<10>(s);
  }
}

template <RgbFormat F>
void ToPlanar(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
              const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkSourceRowPairs(y, u, v, yStride, chromaStride, src, srcStride, height,
                     [pairs](const uint8_t* s0, const uint8_t* s1, uint8_t* y0, uint8_t* y1,
                             uint8_t* cu, uint8_t* cv) {
                       PlanarRowPair<F>(y0, y1, cu, cv, s0, s1, pairs);
                     });
}

}  // namespace

void RGB32ToYUY2Row_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  PackedRow<kRgb32, kYUY2>(dst, src, pairs);
}
void RGB32ToI420RowPair_C(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                          const uint8_t* s1, uint32_t pairs) {
  PlanarRowPair<kRgb32>(y0, y1, u, v, s0, s1, pairs);
}
void RGB24ToYUY2Row_C(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  PackedRow<kRgb24, kYUY2>(dst, src, pairs);
}

void RGB24ToI420RowPair_C(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                          const uint8_t* s1, uint32_t pairs) {
  PlanarRowPair<kRgb24>(y0, y1, u, v, s0, s1, pairs);
}

#define KESTREL_PACKED_ARGS \
  uint8_t *dst, int32_t dstStride, const uint8_t *src, int32_t srcStride, uint32_t width, int32_t height
#define KESTREL_PACKED_PASS dst, dstStride, src, srcStride, width, height
#define KESTREL_PLANAR_ARGS                                                                   \
  uint8_t *y, uint8_t *u, uint8_t *v, int32_t yStride, int32_t chromaStride, const uint8_t *src, \
      int32_t srcStride, uint32_t width, int32_t height
#define KESTREL_PLANAR_PASS y, u, v, yStride, chromaStride, src, srcStride, width, height

void RGB32ToYUY2_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb32, kYUY2>(KESTREL_PACKED_PASS); }
void RGB24ToYUY2_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb24, kYUY2>(KESTREL_PACKED_PASS); }
void RGB555ToYUY2_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb555, kYUY2>(KESTREL_PACKED_PASS); }
void RGB565ToYUY2_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb565, kYUY2>(KESTREL_PACKED_PASS); }
void RGB32ToYVYU_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb32, kYVYU>(KESTREL_PACKED_PASS); }
void RGB32ToUYVY_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb32, kUYVY>(KESTREL_PACKED_PASS); }
void RGB32ToVYUY_C(KESTREL_PACKED_ARGS) { ToPacked<kRgb32, kVYUY>(KESTREL_PACKED_PASS); }

void RGB32ToI420_C(KESTREL_PLANAR_ARGS) { ToPlanar<kRgb32>(KESTREL_PLANAR_PASS); }
void RGB24ToI420_C(KESTREL_PLANAR_ARGS) { ToPlanar<kRgb24>(KESTREL_PLANAR_PASS); }
void RGB555ToI420_C(KESTREL_PLANAR_ARGS) { ToPlanar<kRgb555>(KESTREL_PLANAR_PASS); }
void RGB565ToI420_C(KESTREL_PLANAR_ARGS) { ToPlanar<kRgb565>(KESTREL_PLANAR_PASS); }

// Entry points. RGB32ToYUY2 has no MMX variant: an MMX-only processor runs the portable one.

void RGB32ToYUY2(KESTREL_PACKED_ARGS) {
  PickKernel<RgbToPackedFn>(RGB32ToYUY2_AVX2, RGB32ToYUY2_SSE2, nullptr, RGB32ToYUY2_C)(KESTREL_PACKED_PASS);
}
// RGB24ToYUY2's SIMD variants give the portable bytes.
void RGB24ToYUY2(KESTREL_PACKED_ARGS) {
  PickKernel<RgbToPackedFn>(RGB24ToYUY2_AVX2, RGB24ToYUY2_SSE2, nullptr, RGB24ToYUY2_C)(KESTREL_PACKED_PASS);
}
void RGB555ToYUY2(KESTREL_PACKED_ARGS) { RGB555ToYUY2_C(KESTREL_PACKED_PASS); }
void RGB565ToYUY2(KESTREL_PACKED_ARGS) { RGB565ToYUY2_C(KESTREL_PACKED_PASS); }
void RGB32ToYVYU(KESTREL_PACKED_ARGS) { RGB32ToYVYU_C(KESTREL_PACKED_PASS); }
void RGB32ToUYVY(KESTREL_PACKED_ARGS) { RGB32ToUYVY_C(KESTREL_PACKED_PASS); }
void RGB32ToVYUY(KESTREL_PACKED_ARGS) { RGB32ToVYUY_C(KESTREL_PACKED_PASS); }

void RGB32ToI420(KESTREL_PLANAR_ARGS) {
  PickKernel<RgbToPlanarFn>(RGB32ToI420_AVX2, RGB32ToI420_SSE2, RGB32ToI420_MMX, RGB32ToI420_C)(KESTREL_PLANAR_PASS);
}
void RGB24ToI420(KESTREL_PLANAR_ARGS) {
  PickKernel<RgbToPlanarFn>(RGB24ToI420_AVX2, RGB24ToI420_SSE2, RGB24ToI420_MMX, RGB24ToI420_C)(KESTREL_PLANAR_PASS);
}
void RGB555ToI420(KESTREL_PLANAR_ARGS) { RGB555ToI420_C(KESTREL_PLANAR_PASS); }
void RGB565ToI420(KESTREL_PLANAR_ARGS) { RGB565ToI420_C(KESTREL_PLANAR_PASS); }

#undef KESTREL_PACKED_ARGS
#undef KESTREL_PACKED_PASS
#undef KESTREL_PLANAR_ARGS
#undef KESTREL_PLANAR_PASS
