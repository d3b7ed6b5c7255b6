// SSE2 planar 4:2:0 to packed 4:2:2: 32 pixels (16 chroma pairs, two output rows) per
// step with unaligned loads and stores, the rest of a row with the portable code.
#include <emmintrin.h>

#include "pixel/planar_packed.h"
#include "pixel/planar_walk.h"

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Interleaves 16 luma bytes with 8 chroma pairs: luma first (Y C Y C) or chroma first.
template <bool ChromaFirst>
inline __m128i Lo(__m128i y, __m128i c) {
  return ChromaFirst ? _mm_unpacklo_epi8(c, y) : _mm_unpacklo_epi8(y, c);
}
template <bool ChromaFirst>
inline __m128i Hi(__m128i y, __m128i c) {
  return ChromaFirst ? _mm_unpackhi_epi8(c, y) : _mm_unpackhi_epi8(y, c);
}

template <PackedOrder Order>
void RowPair(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
             const uint8_t* v, uint32_t pairs) {
  constexpr bool chromaFirst = Order == kOrderUYVY || Order == kOrderVYUY;
  constexpr bool vFirst = Order == kOrderYVYU || Order == kOrderVYUY;
  const uint32_t blocks = pairs / 16;
  for (uint32_t b = 0; b < blocks; ++b) {
    const __m128i cu = Load(u), cv = Load(v);
    const __m128i c0 = vFirst ? _mm_unpacklo_epi8(cv, cu) : _mm_unpacklo_epi8(cu, cv);
    const __m128i c1 = vFirst ? _mm_unpackhi_epi8(cv, cu) : _mm_unpackhi_epi8(cu, cv);
    const __m128i a0 = Load(y0), a1 = Load(y0 + 16);
    Store(d0, Lo<chromaFirst>(a0, c0));
    Store(d0 + 16, Hi<chromaFirst>(a0, c0));
    Store(d0 + 32, Lo<chromaFirst>(a1, c1));
    Store(d0 + 48, Hi<chromaFirst>(a1, c1));
    const __m128i b0 = Load(y1), b1 = Load(y1 + 16);
    Store(d1, Lo<chromaFirst>(b0, c0));
    Store(d1 + 16, Hi<chromaFirst>(b0, c0));
    Store(d1 + 32, Lo<chromaFirst>(b1, c1));
    Store(d1 + 48, Hi<chromaFirst>(b1, c1));
    d0 += 64;
    d1 += 64;
    y0 += 32;
    y1 += 32;
    u += 16;
    v += 16;
  }
  PlanarRowPair_C(Order, d0, d1, y0, y1, u, v, pairs % 16);
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

}  // namespace

#define KESTREL_PLANAR_ARGS                                                                   \
  uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u, const uint8_t *v, \
      int32_t yStride, int32_t chromaStride, uint32_t width, int32_t height
#define KESTREL_PLANAR_PASS dst, dstStride, y, u, v, yStride, chromaStride, width, height

void I420ToYUY2_SSE2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYUYV>(KESTREL_PLANAR_PASS); }
void I420ToYVYU_SSE2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYVYU>(KESTREL_PLANAR_PASS); }
void I420ToUYVY_SSE2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderUYVY>(KESTREL_PLANAR_PASS); }
void I420ToVYUY_SSE2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderVYUY>(KESTREL_PLANAR_PASS); }
