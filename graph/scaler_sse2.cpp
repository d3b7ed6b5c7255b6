// SSE2 rows of the YUY2 scaler: four output macropixels per step in 16-bit lanes,
// vertical blend first, then the horizontal blend with weights that add up to 255.
#include <emmintrin.h>
#include <xmmintrin.h>

#include "graph/scaler.h"

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// The luma sample at o and its right neighbour, as the low bytes of two 16-bit lanes.
inline uint32_t LumaPair(const uint8_t* row, uint32_t o, bool singleColumn) {
  if (singleColumn) return row[o] * 0x00010001u;
  return Load32(row + o) & 0x00FF00FFu;
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
  const uint32_t blocks = pairs / 4;
  for (uint32_t b = 0; b < blocks; ++b, dst += 16, columns += 8, weights += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(upper + columns[7].luma + 64), _MM_HINT_NTA);
    _mm_prefetch(reinterpret_cast<const char*>(lower + columns[7].luma + 64), _MM_HINT_NTA);
    const uint32_t o0 = columns[0].luma, o1 = columns[1].luma, o2 = columns[2].luma, o3 = columns[3].luma;
    const uint32_t o4 = columns[4].luma, o5 = columns[5].luma, o6 = columns[6].luma, o7 = columns[7].luma;
    const __m128i up0 = _mm_set_epi32(static_cast<int>(LumaPair(upper, o3, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o2, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o1, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o0, singleColumn)));
    const __m128i up1 = _mm_set_epi32(static_cast<int>(LumaPair(upper, o7, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o6, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o5, singleColumn)),
                                      static_cast<int>(LumaPair(upper, o4, singleColumn)));
    const __m128i lo0 = _mm_set_epi32(static_cast<int>(LumaPair(lower, o3, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o2, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o1, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o0, singleColumn)));
    const __m128i lo1 = _mm_set_epi32(static_cast<int>(LumaPair(lower, o7, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o6, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o5, singleColumn)),
                                      static_cast<int>(LumaPair(lower, o4, singleColumn)));
    // v = (upper * (256 - g) + lower * g) >> 8 stays below 65536 in every lane.
    const __m128i v0 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(up0, wUpper), _mm_mullo_epi16(lo0, wLower)), 8);
    const __m128i v1 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(up1, wUpper), _mm_mullo_epi16(lo1, wLower)), 8);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    const __m128i y0 = _mm_srli_epi32(_mm_madd_epi16(v0, _mm_unpacklo_epi8(w, zero)), 8);
    const __m128i y1 = _mm_srli_epi32(_mm_madd_epi16(v1, _mm_unpackhi_epi8(w, zero)), 8);
    const __m128i luma = _mm_packs_epi32(y0, y1);
    // Both chroma bytes from the source macropixel of each output macropixel's first pixel.
    const uint8_t* m0 = upper + columns[0].chroma;
    const uint8_t* m1 = upper + columns[2].chroma;
    const uint8_t* m2 = upper + columns[4].chroma;
    const uint8_t* m3 = upper + columns[6].chroma;
    const __m128i uv = _mm_set_epi16(m3[2], m3[0], m2[2], m2[0], m1[2], m1[0], m0[2], m0[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_packus_epi16(_mm_unpacklo_epi16(luma, uv), _mm_unpackhi_epi16(luma, uv)));
  }
  for (uint32_t m = 0; m < pairs % 4; ++m, dst += 4, columns += 2, weights += 4) {
    const uint8_t* chroma = upper + columns[0].chroma;
    dst[0] = BlendOne(upper, lower, g, columns[0].luma, weights, singleColumn);
    dst[1] = chroma[0];
    dst[2] = BlendOne(upper, lower, g, columns[1].luma, weights + 2, singleColumn);
    dst[3] = chroma[2];
  }
}
