// MMX rows of the YUY2 scaler: the portable arithmetic in 16-bit lanes, two output
// macropixels per step, packed with saturation. Every row leaves the MMX state clear.
#include <mmintrin.h>

#include "graph/scaler.h"

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

inline uint32_t LumaPair(const uint8_t* row, uint32_t o, bool singleColumn) {
  if (singleColumn) return row[o] * 0x00010001u;
  return Load32(row + o) & 0x00FF00FFu;
}

// Two output pixels' luma pairs (a, b) blended with weights (256 - f, f): lerp(a, b, f)
// = (a * (256 - f) + b * f) >> 8 exactly, as the sum is never negative.
inline __m64 Horizontal(uint32_t pair0, uint32_t pair1, __m64 weights) {
  return _mm_srli_pi32(_mm_madd_pi16(_mm_set_pi32(static_cast<int>(pair1), static_cast<int>(pair0)), weights), 8);
}

inline __m64 Weights(uint8_t f0, uint8_t f1) {
  return _mm_set_pi16(f1, static_cast<short>(256 - f1), f0, static_cast<short>(256 - f0));
}

// Luma of output pixels j and j + 1 as two 32-bit lanes.
inline __m64 LumaTwo(const uint8_t* upper, const uint8_t* lower, __m64 vertical,
                     const ScalerColumn* c, const uint8_t* f, bool singleColumn) {
  const __m64 w = Weights(f[0], f[1]);
  const __m64 top = Horizontal(LumaPair(upper, c[0].luma, singleColumn), LumaPair(upper, c[1].luma, singleColumn), w);
  const __m64 bottom = Horizontal(LumaPair(lower, c[0].luma, singleColumn), LumaPair(lower, c[1].luma, singleColumn), w);
  return _mm_srli_pi32(_mm_madd_pi16(_mm_or_si64(top, _mm_slli_pi32(bottom, 16)), vertical), 8);
}

}  // namespace

void ScaleYuy2RowMmx(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                     const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                     bool singleColumn) {
  const __m64 vertical = _mm_set_pi16(static_cast<short>(g), static_cast<short>(256 - g),
                                      static_cast<short>(g), static_cast<short>(256 - g));
  const uint32_t blocks = pairs / 2;
  for (uint32_t b = 0; b < blocks; ++b, dst += 8, columns += 4, weights += 4) {
    const __m64 luma = _mm_packs_pi32(LumaTwo(upper, lower, vertical, columns, weights, singleColumn),
                                      LumaTwo(upper, lower, vertical, columns + 2, weights + 2, singleColumn));
    const __m64 chroma = _mm_set_pi16(upper[columns[3].chroma], upper[columns[2].chroma],
                                      upper[columns[1].chroma], upper[columns[0].chroma]);
    const __m64 out = _mm_packs_pu16(_mm_unpacklo_pi16(luma, chroma), _mm_unpackhi_pi16(luma, chroma));
    __builtin_memcpy(dst, &out, 8);
  }
  if (pairs & 1) {
    const __m64 luma = _mm_packs_pi32(LumaTwo(upper, lower, vertical, columns, weights, singleColumn), _mm_setzero_si64());
    const __m64 chroma = _mm_set_pi16(0, 0, upper[columns[1].chroma], upper[columns[0].chroma]);
    const uint32_t out = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(_mm_unpacklo_pi16(luma, chroma), _mm_setzero_si64())));
    __builtin_memcpy(dst, &out, 4);
  }
  _mm_empty();
}
