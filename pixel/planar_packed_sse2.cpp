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

// One output row: 32 pixels per step from luma row y and the pair's chroma row.
template <PackedOrder Order>
inline void Row(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t blocks) {
  constexpr bool chromaFirst = Order == kOrderUYVY || Order == kOrderVYUY;
  constexpr bool vFirst = Order == kOrderYVYU || Order == kOrderVYUY;
  for (uint32_t b = 0; b < blocks; ++b, d += 64, y += 32, u += 16, v += 16) {
    const __m128i cu = Load(u), cv = Load(v);
    const __m128i c0 = vFirst ? _mm_unpacklo_epi8(cv, cu) : _mm_unpacklo_epi8(cu, cv);
    const __m128i c1 = vFirst ? _mm_unpackhi_epi8(cv, cu) : _mm_unpackhi_epi8(cu, cv);
    const __m128i a0 = Load(y), a1 = Load(y + 16);
    Store(d, Lo<chromaFirst>(a0, c0));
    Store(d + 16, Hi<chromaFirst>(a0, c0));
    Store(d + 32, Lo<chromaFirst>(a1, c1));
    Store(d + 48, Hi<chromaFirst>(a1, c1));
  }
}

// The two rows of a pair one after the other: fewer concurrent memory streams than
// interleaving them, and the chroma row is still in the cache for the second.
template <PackedOrder Order>
void RowPair(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
             const uint8_t* v, uint32_t pairs) {
  const uint32_t blocks = pairs / 16;
  Row<Order>(d0, y0, u, v, blocks);
  Row<Order>(d1, y1, u, v, blocks);
  const uint32_t done = blocks * 16;
  PlanarRowPair_C(Order, d0 + 4 * done, d1 + 4 * done, y0 + 2 * done, y1 + 2 * done, u + done, v + done,
                  pairs % 16);
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
