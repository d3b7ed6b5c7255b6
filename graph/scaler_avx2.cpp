// AVX2 rows of the YUY2 scaler: the SSE2 variant's arithmetic on eight output macropixels
// per step; the rest of a row goes to the SSE2 row. Samples are loaded one by one: gather
// instructions ran three times slower on the processors measured.
#include <immintrin.h>

#include "graph/scaler.h"

namespace {

inline int Load32(const uint8_t* p) {
  int v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// The four bytes at the luma offsets of output pixels k..k+7.
inline __m256i Gather(const uint8_t* row, const ScalerColumn* c) {
  return _mm256_setr_epi32(Load32(row + c[0].luma), Load32(row + c[1].luma), Load32(row + c[2].luma),
                           Load32(row + c[3].luma), Load32(row + c[4].luma), Load32(row + c[5].luma),
                           Load32(row + c[6].luma), Load32(row + c[7].luma));
}

// Eight output luma values as 32-bit lanes: vertical blend, then (va * (255 - f) + vb * f) >> 8.
inline __m256i Luma8(const uint8_t* upper, const uint8_t* lower, __m256i wUpper, __m256i wLower,
                     const ScalerColumn* c, const uint8_t* weights) {
  const __m256i lumaMask = _mm256_set1_epi32(0x00FF00FF);
  const __m256i up = _mm256_and_si256(Gather(upper, c), lumaMask);
  const __m256i lo = _mm256_and_si256(Gather(lower, c), lumaMask);
  const __m256i v = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(up, wUpper), _mm256_mullo_epi16(lo, wLower)), 8);
  const __m256i w = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
  return _mm256_srli_epi32(_mm256_madd_epi16(v, w), 8);
}

}  // namespace

void ScaleYuy2RowAvx2(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                      const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                      bool singleColumn) {
  const __m256i wUpper = _mm256_set1_epi16(static_cast<short>(256 - g));
  const __m256i wLower = _mm256_set1_epi16(static_cast<short>(g));
  const uint32_t steps = singleColumn ? 0 : pairs / 8;
  for (uint32_t s = 0; s < steps; ++s, dst += 32, columns += 16, weights += 32) {
    // Blocks of four words: Y0-3 Y4-7 | Y8-11 Y12-15 after the permute.
    const __m256i luma = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(Luma8(upper, lower, wUpper, wLower, columns, weights),
                           Luma8(upper, lower, wUpper, wLower, columns + 8, weights + 16)),
        _MM_SHUFFLE(3, 1, 2, 0));
    // U and V of each output macropixel from the source macropixel of its first pixel.
    const uint8_t* m = upper - 1;  // the macropixel starts one byte before its U
    const __m256i chroma = _mm256_setr_epi32(
        Load32(m + columns[0].chroma), Load32(m + columns[2].chroma), Load32(m + columns[4].chroma),
        Load32(m + columns[6].chroma), Load32(m + columns[8].chroma), Load32(m + columns[10].chroma),
        Load32(m + columns[12].chroma), Load32(m + columns[14].chroma));
    const __m256i uv = _mm256_srli_epi16(chroma, 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                        _mm256_packus_epi16(_mm256_unpacklo_epi16(luma, uv), _mm256_unpackhi_epi16(luma, uv)));
  }
  _mm256_zeroupper();
  ScaleYuy2RowSse2(dst, upper, lower, g, columns, weights, pairs - steps * 8, singleColumn);
}
