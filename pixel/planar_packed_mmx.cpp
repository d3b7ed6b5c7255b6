// MMX planar 4:2:0 to packed 4:2:2: 16 pixels (8 chroma pairs, two output rows) per step,
// the rest of a row with the portable code. Every variant leaves the MMX state clear.
#include <mmintrin.h>

#include "pixel/planar_packed.h"
#include "pixel/planar_walk.h"

namespace {

inline __m64 Load(const uint8_t* p) {
  __m64 v;
  __builtin_memcpy(&v, p, 8);
  return v;
}
inline void Store(uint8_t* p, __m64 v) { __builtin_memcpy(p, &v, 8); }

template <bool ChromaFirst>
inline __m64 Lo(__m64 y, __m64 c) {
  return ChromaFirst ? _mm_unpacklo_pi8(c, y) : _mm_unpacklo_pi8(y, c);
}
template <bool ChromaFirst>
inline __m64 Hi(__m64 y, __m64 c) {
  return ChromaFirst ? _mm_unpackhi_pi8(c, y) : _mm_unpackhi_pi8(y, c);
}

template <PackedOrder Order>
void RowPair(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
             const uint8_t* v, uint32_t pairs) {
  constexpr bool chromaFirst = Order == kOrderUYVY || Order == kOrderVYUY;
  constexpr bool vFirst = Order == kOrderYVYU || Order == kOrderVYUY;
  const uint32_t blocks = pairs / 8;
  for (uint32_t b = 0; b < blocks; ++b) {
    const __m64 cu = Load(u), cv = Load(v);
    const __m64 c0 = vFirst ? _mm_unpacklo_pi8(cv, cu) : _mm_unpacklo_pi8(cu, cv);
    const __m64 c1 = vFirst ? _mm_unpackhi_pi8(cv, cu) : _mm_unpackhi_pi8(cu, cv);
    const __m64 a0 = Load(y0), a1 = Load(y0 + 8);
    Store(d0, Lo<chromaFirst>(a0, c0));
    Store(d0 + 8, Hi<chromaFirst>(a0, c0));
    Store(d0 + 16, Lo<chromaFirst>(a1, c1));
    Store(d0 + 24, Hi<chromaFirst>(a1, c1));
    const __m64 b0 = Load(y1), b1 = Load(y1 + 8);
    Store(d1, Lo<chromaFirst>(b0, c0));
    Store(d1 + 8, Hi<chromaFirst>(b0, c0));
    Store(d1 + 16, Lo<chromaFirst>(b1, c1));
    Store(d1 + 24, Hi<chromaFirst>(b1, c1));
    d0 += 32;
    d1 += 32;
    y0 += 16;
    y1 += 16;
    u += 8;
    v += 8;
  }
  PlanarRowPair_C(Order, d0, d1, y0, y1, u, v, pairs % 8);
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
  _mm_empty();
}

}  // namespace

#define KESTREL_PLANAR_ARGS                                                                   \
  uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u, const uint8_t *v, \
      int32_t yStride, int32_t chromaStride, uint32_t width, int32_t height
#define KESTREL_PLANAR_PASS dst, dstStride, y, u, v, yStride, chromaStride, width, height

void I420ToYUY2_MMX(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYUYV>(KESTREL_PLANAR_PASS); }
void I420ToYVYU_MMX(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYVYU>(KESTREL_PLANAR_PASS); }
void I420ToUYVY_MMX(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderUYVY>(KESTREL_PLANAR_PASS); }
void I420ToVYUY_MMX(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderVYUY>(KESTREL_PLANAR_PASS); }
