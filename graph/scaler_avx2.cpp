// AVX2 rows of the YUY2 scaler: the SSE2 variant's arithmetic on eight output macropixels
// per step, samples fetched with gathers; the rest of a row goes to the SSE2 row.
#include <immintrin.h>

#include "graph/scaler.h"

namespace {

// Luma offsets of output pixels k..k+7 as eight 32-bit lanes.
inline __m256i LumaOffsets(const ScalerColumn* c) {
  const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)));
  const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 4)));
  // Per lane: l0 l1 l4 l5 | l2 l3 l6 l7; the 64-bit permute restores the order.
  const __m256i mixed = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  return _mm256_permute4x64_epi64(mixed, _MM_SHUFFLE(3, 1, 2, 0));
}

inline __m256i Gather(const uint8_t* row, __m256i offsets) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), offsets, 1);
}

// Eight output luma values as 32-bit lanes: vertical blend, then (va * (255 - f) + vb * f) >> 8.
inline __m256i Luma8(const uint8_t* upper, const uint8_t* lower, __m256i wUpper, __m256i wLower,
                     const ScalerColumn* c, const uint8_t* weights) {
  const __m256i lumaMask = _mm256_set1_epi32(0x00FF00FF);
  const __m256i offsets = LumaOffsets(c);
  const __m256i up = _mm256_and_si256(Gather(upper, offsets), lumaMask);
  const __m256i lo = _mm256_and_si256(Gather(lower, offsets), lumaMask);
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
    const __m256i chroma = _mm256_setr_epi32(
        static_cast<int>(columns[0].chroma), static_cast<int>(columns[2].chroma), static_cast<int>(columns[4].chroma),
        static_cast<int>(columns[6].chroma), static_cast<int>(columns[8].chroma), static_cast<int>(columns[10].chroma),
        static_cast<int>(columns[12].chroma), static_cast<int>(columns[14].chroma));
    const __m256i uv = _mm256_srli_epi16(Gather(upper, _mm256_sub_epi32(chroma, _mm256_set1_epi32(1))), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                        _mm256_packus_epi16(_mm256_unpacklo_epi16(luma, uv), _mm256_unpackhi_epi16(luma, uv)));
  }
  _mm256_zeroupper();
  ScaleYuy2RowSse2(dst, upper, lower, g, columns, weights, pairs - steps * 8, singleColumn);
}
