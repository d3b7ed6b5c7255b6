// AVX2 planar 4:2:0 to packed 4:2:2: 32 pixels of one output row per step with unaligned
// loads and stores, the rest of a row with the portable code.
#include <immintrin.h>

#include "pixel/planar_packed.h"
#include "pixel/planar_walk.h"

namespace {

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// One output row, 32 pixels per step. The in-lane unpacks leave pixels 0-7 and 16-23 in
// `lo`, 8-15 and 24-31 in `hi`; the lane permutes put them back in order.
template <PackedOrder Order>
inline void Row(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t steps) {
  constexpr bool chromaFirst = Order == kOrderUYVY || Order == kOrderVYUY;
  constexpr bool vFirst = Order == kOrderYVYU || Order == kOrderVYUY;
  for (uint32_t b = 0; b < steps; ++b, d += 64, y += 32, u += 16, v += 16) {
    const __m128i cu = Load16(u), cv = Load16(v);
    const __m128i c0 = vFirst ? _mm_unpacklo_epi8(cv, cu) : _mm_unpacklo_epi8(cu, cv);
    const __m128i c1 = vFirst ? _mm_unpackhi_epi8(cv, cu) : _mm_unpackhi_epi8(cu, cv);
    const __m256i c = _mm256_inserti128_si256(_mm256_castsi128_si256(c0), c1, 1);
    const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    const __m256i lo = chromaFirst ? _mm256_unpacklo_epi8(c, luma) : _mm256_unpacklo_epi8(luma, c);
    const __m256i hi = chromaFirst ? _mm256_unpackhi_epi8(c, luma) : _mm256_unpackhi_epi8(luma, c);
    Store(d, _mm256_permute2x128_si256(lo, hi, 0x20));
    Store(d + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
  }
}

template <PackedOrder Order>
void RowPair(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
             const uint8_t* v, uint32_t pairs) {
  const uint32_t steps = pairs / 16;
  Row<Order>(d0, y0, u, v, steps);
  Row<Order>(d1, y1, u, v, steps);
  const uint32_t done = steps * 16;
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
  _mm256_zeroupper();
}

}  // namespace

#define KESTREL_PLANAR_ARGS                                                                   \
  uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u, const uint8_t *v, \
      int32_t yStride, int32_t chromaStride, uint32_t width, int32_t height
#define KESTREL_PLANAR_PASS dst, dstStride, y, u, v, yStride, chromaStride, width, height

void I420ToYUY2_AVX2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYUYV>(KESTREL_PLANAR_PASS); }
void I420ToYVYU_AVX2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderYVYU>(KESTREL_PLANAR_PASS); }
void I420ToUYVY_AVX2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderUYVY>(KESTREL_PLANAR_PASS); }
void I420ToVYUY_AVX2(KESTREL_PLANAR_ARGS) { PlanarToPacked<kOrderVYUY>(KESTREL_PLANAR_PASS); }
