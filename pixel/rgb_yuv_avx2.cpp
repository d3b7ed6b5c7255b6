// AVX2 RGB to YUV, 16 pixels (or 16 x 2 for I420) per step, each 128-bit lane converting
// 8 of them: RGB24 to YUY2 and RGB32/RGB24 to I420 with exactly the portable arithmetic,
// RGB32 to YUY2 with the SSE2 variant's averaged chroma. The rest of a row goes to the
// portable code (to the SSE2 variant for RGB32 to YUY2).
#include <immintrin.h>

#include "pixel/planar_walk.h"
#include "pixel/rgb_yuv.h"
#include "pixel/row_walk.h"

namespace {

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m256i Coeffs(int16_t lo, int16_t hi) {
  return _mm256_set1_epi32(static_cast<int>(static_cast<uint16_t>(lo) | (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16)));
}

// Byte shuffle that spreads four RGB24 pixels, starting `skip` bytes into 16 loaded
// bytes, into B G R 0 lanes.
inline __m128i Spread(int skip) {
  const int s = skip;
  return _mm_setr_epi8(static_cast<char>(s), static_cast<char>(s + 1), static_cast<char>(s + 2), -128,
                       static_cast<char>(s + 3), static_cast<char>(s + 4), static_cast<char>(s + 5), -128,
                       static_cast<char>(s + 6), static_cast<char>(s + 7), static_cast<char>(s + 8), -128,
                       static_cast<char>(s + 9), static_cast<char>(s + 10), static_cast<char>(s + 11), -128);
}

inline __m256i Join(__m128i lo, __m128i hi) { return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1); }

struct Channels {
  __m256i br, gx;  // B R and G 0 per pixel, 16-bit lanes
};

inline Channels Split(__m256i px) {
  return {_mm256_and_si256(px, _mm256_set1_epi32(0x00FF00FF)), _mm256_srli_epi16(px, 8)};
}

// ((66 R + 129 G + 25 B) >> 8) + 16 per pixel as 32-bit lanes.
inline __m256i Luma(Channels c) {
  const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(c.br, Coeffs(25, 66)), _mm256_madd_epi16(c.gx, Coeffs(129, 0)));
  return _mm256_add_epi32(_mm256_srai_epi32(sum, 8), _mm256_set1_epi32(16));
}

// Pair sums in the lanes of pixels 0 and 2 of every four.
inline __m256i PairSum(__m256i x) { return _mm256_add_epi16(x, _mm256_srli_epi64(x, 32)); }

inline __m256i Gather(__m256i a, __m256i b) {
  return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// U and V of four (B R, G X) sums per lane, shifted right by Shift and offset by 128, as
// 16-bit lanes u0 v0 u1 v1 u2 v2 u3 v3.
template <int Shift>
inline __m256i Chroma(__m256i br, __m256i gx) {
  const __m256i bias = _mm256_set1_epi32(128);
  __m256i u = _mm256_add_epi32(_mm256_madd_epi16(br, Coeffs(112, -38)), _mm256_madd_epi16(gx, Coeffs(-74, 0)));
  __m256i v = _mm256_add_epi32(_mm256_madd_epi16(br, Coeffs(-18, 112)), _mm256_madd_epi16(gx, Coeffs(-94, 0)));
  u = _mm256_add_epi32(_mm256_srai_epi32(u, Shift), bias);
  v = _mm256_add_epi32(_mm256_srai_epi32(v, Shift), bias);
  const __m256i uv = _mm256_packs_epi32(u, v);  // per lane u0 u1 u2 u3 v0 v1 v2 v3
  return _mm256_unpacklo_epi16(uv, _mm256_unpackhi_epi64(uv, uv));
}

// Per lane: pixels 0-3 of its eight in a, 4-7 in b, to four YUY2 macropixels.
inline __m256i YUY2Block(Channels a, Channels b) {
  const __m256i luma = _mm256_packs_epi32(Luma(a), Luma(b));
  const __m256i uv = Chroma<9>(Gather(PairSum(a.br), PairSum(b.br)), Gather(PairSum(a.gx), PairSum(b.gx)));
  return _mm256_packus_epi16(_mm256_unpacklo_epi16(luma, uv), _mm256_unpackhi_epi16(luma, uv));
}

// The SSE2 RGB32ToYUY2 block per lane: exact luma, chroma from the truncated pair averages
// shifted by 8.
inline __m256i AveragedYUY2Block(__m256i a, __m256i b) {
  const __m256i even = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i odd = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
  const Channels e = Split(even), o = Split(odd);
  const __m256i ye = _mm256_add_epi32(_mm256_madd_epi16(e.br, Coeffs(25, 66)), _mm256_madd_epi16(e.gx, Coeffs(129, 0)));
  const __m256i yo = _mm256_add_epi32(_mm256_madd_epi16(o.br, Coeffs(25, 66)), _mm256_madd_epi16(o.gx, Coeffs(129, 0)));
  const __m256i luma = _mm256_srli_epi16(_mm256_add_epi32(ye, _mm256_slli_epi32(yo, 16)), 8);
  const __m256i br = _mm256_srli_epi16(_mm256_add_epi16(e.br, o.br), 1);
  const __m256i gx = _mm256_srli_epi16(_mm256_add_epi16(e.gx, o.gx), 1);
  const __m256i u = _mm256_add_epi32(_mm256_madd_epi16(br, Coeffs(112, -38)), _mm256_madd_epi16(gx, Coeffs(-74, 0)));
  const __m256i v = _mm256_add_epi32(_mm256_madd_epi16(br, Coeffs(-18, 112)), _mm256_madd_epi16(gx, Coeffs(-94, 0)));
  const __m256i uv = _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi32(0x0000FF00)),
                                     _mm256_and_si256(_mm256_slli_epi32(v, 16), _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  return _mm256_add_epi8(_mm256_or_si256(luma, uv), _mm256_set1_epi32(static_cast<int>(0x80108010u)));
}

// Sixteen pixels as B G R X lanes: pixels 0-3 | 8-11 in first, 4-7 | 12-15 in second.
struct Pixels16 {
  __m256i first, second;
};

template <bool Rgb24>
inline Pixels16 Load16Pixels(const uint8_t* s) {
  if constexpr (Rgb24) {
    // Pixels 12-15 are loaded from byte 32, so no load reaches past the step's 48 bytes.
    const __m256i spread = Join(Spread(0), Spread(0)), spreadLast = Join(Spread(0), Spread(4));
    return {_mm256_shuffle_epi8(Join(Load16(s), Load16(s + 24)), spread),
            _mm256_shuffle_epi8(Join(Load16(s + 12), Load16(s + 32)), spreadLast)};
  } else {
    return {Join(Load16(s), Load16(s + 32)), Join(Load16(s + 16), Load16(s + 48))};
  }
}

// Sixteen pixels of two rows: sixteen Y bytes per row, eight U and eight V bytes.
template <bool Rgb24>
inline void I420Block(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0, const uint8_t* s1) {
  const Pixels16 p0 = Load16Pixels<Rgb24>(s0), p1 = Load16Pixels<Rgb24>(s1);
  const Channels a0 = Split(p0.first), b0 = Split(p0.second), a1 = Split(p1.first), b1 = Split(p1.second);
  // Per lane eight Y bytes in the low half; the permute joins the lanes' halves.
  const __m256i join = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  const __m256i luma0 = _mm256_packs_epi32(Luma(a0), Luma(b0)), luma1 = _mm256_packs_epi32(Luma(a1), Luma(b1));
  const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(luma0, luma1), join);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y0), _mm256_castsi256_si128(bytes));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y1), _mm256_extracti128_si256(bytes, 1));
  const __m256i br = Gather(PairSum(_mm256_add_epi16(a0.br, a1.br)), PairSum(_mm256_add_epi16(b0.br, b1.br)));
  const __m256i gx = Gather(PairSum(_mm256_add_epi16(a0.gx, a1.gx)), PairSum(_mm256_add_epi16(b0.gx, b1.gx)));
  const __m256i uv = Chroma<10>(br, gx);
  // Lanes alternate u and v; per lane four U bytes then four V bytes after packing.
  const __m256i even = _mm256_and_si256(uv, _mm256_set1_epi32(0x0000FFFF));
  const __m256i odd = _mm256_srli_epi32(uv, 16);
  const __m256i words = _mm256_packs_epi32(even, odd);  // per lane u0-3 v0-3
  const __m256i packed = _mm256_packus_epi16(words, words);
  // Dwords: u0-3 v0-3 | u4-7 v4-7 in 0, 1, 4, 5.
  const __m256i planes = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 0, 4, 1, 5));
  const __m128i low = _mm256_castsi256_si128(planes);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(u), low);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(v), _mm_unpackhi_epi64(low, low));
}

template <bool Rgb24>
void ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride, const uint8_t* src,
            int32_t srcStride, uint32_t width, int32_t height) {
  constexpr uint32_t bpp = Rgb24 ? 3 : 4;
  const uint32_t pairs = width / 2;
  const uint32_t steps = pairs / 8;
  WalkSourceRowPairs(y, u, v, yStride, chromaStride, src, srcStride, height,
                     [=](const uint8_t* s0, const uint8_t* s1, uint8_t* y0, uint8_t* y1, uint8_t* cu, uint8_t* cv) {
                       for (uint32_t k = 0; k < steps; ++k) {
                         I420Block<Rgb24>(y0, y1, cu, cv, s0, s1);
                         s0 += 16 * bpp;
                         s1 += 16 * bpp;
                         y0 += 16;
                         y1 += 16;
                         cu += 8;
                         cv += 8;
                       }
                       if constexpr (Rgb24)
                         RGB24ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 8);
                       else
                         RGB32ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 8);
                     });
  _mm256_zeroupper();
}

}  // namespace

void RGB24ToYUY2_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                      uint32_t width, int32_t height) {
  const uint32_t steps = width / 16;
  const uint32_t rest = (width % 16) / 2;
  WalkRows(dst, dstStride, src, srcStride, height, [=](uint8_t* d, const uint8_t* s) {
    for (uint32_t k = 0; k < steps; ++k, d += 32, s += 48) {
      const Pixels16 p = Load16Pixels<true>(s);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), YUY2Block(Split(p.first), Split(p.second)));
    }
    RGB24ToYUY2Row_C(d, s, rest);
  });
  _mm256_zeroupper();
}

void RGB32ToYUY2_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                      uint32_t width, int32_t height) {
  const uint32_t steps = width / 16;
  WalkRows(dst, dstStride, src, srcStride, height, [=](uint8_t* d, const uint8_t* s) {
    for (uint32_t k = 0; k < steps; ++k, d += 32, s += 64) {
      const Pixels16 p = Load16Pixels<false>(s);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), AveragedYUY2Block(p.first, p.second));
    }
    _mm256_zeroupper();
    // An 8-pixel block and the pairs after it exactly as the SSE2 variant does them.
    RGB32ToYUY2_SSE2(d, 0, s, 0, width % 16, 1);
  });
}

void RGB32ToI420_AVX2(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                      const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<false>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}

void RGB24ToI420_AVX2(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                      const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<true>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}
