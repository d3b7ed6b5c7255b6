// SSE2 rows of the YUY2 scaler: four output macropixels per step in 16-bit lanes,
// vertical blend first, then the horizontal blend with weights that add up to 255. A
// source one pixel wide (no right neighbour to load) takes the one-pixel path throughout.
#include <emmintrin.h>
#include <xmmintrin.h>

#include "graph/scaler.h"

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// The four bytes at the luma offsets of output pixels k..k+3.
inline __m128i Gather(const uint8_t* row, const ScalerColumn* c, int k) {
  return _mm_set_epi32(static_cast<int>(Load32(row + c[k + 3].luma)), static_cast<int>(Load32(row + c[k + 2].luma)),
                       static_cast<int>(Load32(row + c[k + 1].luma)), static_cast<int>(Load32(row + c[k].luma)));
}

// The same arithmetic for one output pixel, for the rest of a row.
inline uint8_t BlendOne(const uint8_t* upper, const uint8_t* lower, uint32_t g, uint32_t o,
                        const uint8_t* w, bool singleColumn) {
  const uint32_t next = singleColumn ? 0 : 2;
  const uint32_t va = (upper[o] * (256 - g) + lower[o] * g) >> 8;
  const uint32_t vb = (upper[o + next] * (256 - g) + lower[o + next] * g) >> 8;
  return static_cast<uint8_t>((va * w[0] + vb * w[1]) >> 8);
}

}  // namespace

void ScaleYuy2RowSse2(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                      const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                      bool singleColumn) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wUpper = _mm_set1_epi16(static_cast<short>(256 - g));
  const __m128i wLower = _mm_set1_epi16(static_cast<short>(g));
  const __m128i lumaMask = _mm_set1_epi32(0x00FF00FF);
  const uint32_t blocks = singleColumn ? 0 : pairs / 4;
  for (uint32_t b = 0; b < blocks; ++b, dst += 16, columns += 8, weights += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(upper + columns[7].luma + 64), _MM_HINT_NTA);
    _mm_prefetch(reinterpret_cast<const char*>(lower + columns[7].luma + 64), _MM_HINT_NTA);
    // Four bytes at a luma offset hold the sample and its right neighbour in bytes 0 and 2.
    const __m128i up0 = _mm_and_si128(Gather(upper, columns, 0), lumaMask);
    const __m128i up1 = _mm_and_si128(Gather(upper, columns, 4), lumaMask);
    const __m128i lo0 = _mm_and_si128(Gather(lower, columns, 0), lumaMask);
    const __m128i lo1 = _mm_and_si128(Gather(lower, columns, 4), lumaMask);
    // v = (upper * (256 - g) + lower * g) >> 8 stays below 65536 in every lane.
    const __m128i v0 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(up0, wUpper), _mm_mullo_epi16(lo0, wLower)), 8);
    const __m128i v1 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(up1, wUpper), _mm_mullo_epi16(lo1, wLower)), 8);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    const __m128i y0 = _mm_srli_epi32(_mm_madd_epi16(v0, _mm_unpacklo_epi8(w, zero)), 8);
    const __m128i y1 = _mm_srli_epi32(_mm_madd_epi16(v1, _mm_unpackhi_epi8(w, zero)), 8);
    const __m128i luma = _mm_packs_epi32(y0, y1);
    // Both chroma bytes from the source macropixel of each output macropixel's first
    // pixel: the macropixel's 16-bit words shifted down leave U and V.
    const __m128i uv = _mm_srli_epi16(
        _mm_set_epi32(static_cast<int>(Load32(upper + columns[6].chroma - 1)),
                      static_cast<int>(Load32(upper + columns[4].chroma - 1)),
                      static_cast<int>(Load32(upper + columns[2].chroma - 1)),
                      static_cast<int>(Load32(upper + columns[0].chroma - 1))),
        8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_packus_epi16(_mm_unpacklo_epi16(luma, uv), _mm_unpackhi_epi16(luma, uv)));
  }
  for (uint32_t m = blocks * 4; m < pairs; ++m, dst += 4, columns += 2, weights += 4) {
    const uint8_t* chroma = upper + columns[0].chroma;
    dst[0] = BlendOne(upper, lower, g, columns[0].luma, weights, singleColumn);
    dst[1] = chroma[0];
    dst[2] = BlendOne(upper, lower, g, columns[1].luma, weights + 2, singleColumn);
    dst[3] = chroma[2];
  }
}
