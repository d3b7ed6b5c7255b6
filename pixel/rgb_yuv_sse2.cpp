// SSE2 RGB to YUV: RGB32 to YUY2 in blocks of 8 pixels with chroma from the truncated
// average of each pair; RGB24 to YUY2 in blocks of 8 pixels and RGB32/RGB24 to I420 in
// blocks of 8 x 2 pixels with exactly the portable arithmetic. The rest of a row goes to the portable code.
#include <emmintrin.h>
#include <xmmintrin.h>

#include "pixel/planar_walk.h"
#include "pixel/rgb_yuv.h"
#include "pixel/row_walk.h"

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline __m128i Coeffs(int16_t lo, int16_t hi) {
  return _mm_set_epi16(hi, lo, hi, lo, hi, lo, hi, lo);
}

// Four RGB32 pixels split into 16-bit lanes: br = B R per pixel, gx = G X per pixel.
struct Channels {
  __m128i br, gx;
};

inline Channels Split(__m128i px) {
  return {_mm_and_si128(px, _mm_set1_epi32(0x00FF00FF)), _mm_srli_epi16(px, 8)};
}

// ((66 R + 129 G + 25 B) >> 8) + 16 per pixel as four 32-bit lanes.
inline __m128i Luma4(Channels c) {
  const __m128i sum = _mm_add_epi32(_mm_madd_epi16(c.br, Coeffs(25, 66)), _mm_madd_epi16(c.gx, Coeffs(129, 0)));
  return _mm_add_epi32(_mm_srai_epi32(sum, 8), _mm_set1_epi32(16));
}

// Eight luma values as 16-bit lanes.
inline __m128i Luma8(Channels a, Channels b) { return _mm_packs_epi32(Luma4(a), Luma4(b)); }

// Adds each pixel's lanes to its pair partner's; lanes of pixels 0 and 2 keep the sums.
inline __m128i PairSum(__m128i x) { return _mm_add_epi16(x, _mm_srli_epi64(x, 32)); }

// Lanes 0 and 2 of a, then of b: the four pair sums of eight pixels.
inline __m128i Gather(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// U and V of four (B R, G X) lane pairs, shifted right by `shift` and offset by 128,
// as 16-bit lanes u0 v0 u1 v1 u2 v2 u3 v3.
inline __m128i Chroma(__m128i br, __m128i gx, int shift) {
  const __m128i shiftCount = _mm_cvtsi32_si128(shift);
  const __m128i bias = _mm_set1_epi32(128);
  __m128i u = _mm_add_epi32(_mm_madd_epi16(br, Coeffs(112, -38)), _mm_madd_epi16(gx, Coeffs(-74, 0)));
  __m128i v = _mm_add_epi32(_mm_madd_epi16(br, Coeffs(-18, 112)), _mm_madd_epi16(gx, Coeffs(-94, 0)));
  u = _mm_add_epi32(_mm_sra_epi32(u, shiftCount), bias);
  v = _mm_add_epi32(_mm_sra_epi32(v, shiftCount), bias);
  const __m128i uv = _mm_packs_epi32(u, v);  // u0 u1 u2 u3 v0 v1 v2 v3
  return _mm_unpacklo_epi16(uv, _mm_unpackhi_epi64(uv, uv));
}

// The even (p0 p2 p4 p6) or odd (p1 p3 p5 p7) pixels of a and b.
template <int Order>
inline __m128i Pick(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), Order));
}

// Eight RGB32 pixels (a: pixels 0-3, b: 4-7) to four YUY2 macropixels, each pair in its
// own 32-bit lane from here on. Luma is exact; chroma comes from the truncated pair
// averages, shifted by 8. Both stay within 0..255, so nothing needs saturating.
inline __m128i YUY2Block(__m128i a, __m128i b) {
  const __m128i even = Pick<_MM_SHUFFLE(2, 0, 2, 0)>(a, b), odd = Pick<_MM_SHUFFLE(3, 1, 3, 1)>(a, b);
  const Channels e = Split(even), o = Split(odd);
  // Luma sums, below 65536: the even pixel's in the low half of each lane, the odd one's
  // in the high half; their high bytes are the two Y values.
  const __m128i ye = _mm_add_epi32(_mm_madd_epi16(e.br, Coeffs(25, 66)), _mm_madd_epi16(e.gx, Coeffs(129, 0)));
  const __m128i yo = _mm_add_epi32(_mm_madd_epi16(o.br, Coeffs(25, 66)), _mm_madd_epi16(o.gx, Coeffs(129, 0)));
  const __m128i luma = _mm_srli_epi16(_mm_add_epi32(ye, _mm_slli_epi32(yo, 16)), 8);
  // Pair averages in 16-bit lanes: (c0 + c1) >> 1 per channel.
  const __m128i br = _mm_srli_epi16(_mm_add_epi16(e.br, o.br), 1);
  const __m128i gx = _mm_srli_epi16(_mm_add_epi16(e.gx, o.gx), 1);
  const __m128i u = _mm_add_epi32(_mm_madd_epi16(br, Coeffs(112, -38)), _mm_madd_epi16(gx, Coeffs(-74, 0)));
  const __m128i v = _mm_add_epi32(_mm_madd_epi16(br, Coeffs(-18, 112)), _mm_madd_epi16(gx, Coeffs(-94, 0)));
  // U >> 8 into byte 1 and V >> 8 into byte 3 (two's complement low bytes, 128 added
  // below), next to Y in bytes 0 and 2.
  const __m128i uv = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi32(0x0000FF00)),
                                  _mm_and_si128(_mm_slli_epi32(v, 16), _mm_set1_epi32(static_cast<int>(0xFF000000u))));
  return _mm_add_epi8(_mm_or_si128(luma, uv), _mm_set1_epi32(static_cast<int>(0x80108010u)));
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// Pixels k..k+3 of an 8-pixel block as RGB32 lanes. An RGB24 pixel is read with the
// next pixel's first byte as X (which no equation uses), except the block's last pixel,
// read bytewise so nothing past the block is touched.
template <bool Rgb24>
inline __m128i Load4(const uint8_t* s, int k) {
  if constexpr (!Rgb24) {
    return Load(s + 4 * k);
  } else {
    const uint8_t* p = s + 3 * k;
    const uint32_t last = k == 4 ? p[9] | (p[10] << 8) | (p[11] << 16) : Load32(p + 9);
    return _mm_set_epi32(static_cast<int>(last), static_cast<int>(Load32(p + 6)), static_cast<int>(Load32(p + 3)),
                         static_cast<int>(Load32(p)));
  }
}

inline void Store4(uint8_t* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  __builtin_memcpy(p, &x, 4);
}

// Eight pixels of two RGB32 rows: eight Y bytes per row, four U and four V bytes.
template <bool Rgb24>
inline void I420Block(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                      const uint8_t* s1) {
  const Channels a0 = Split(Load4<Rgb24>(s0, 0)), b0 = Split(Load4<Rgb24>(s0, 4));
  const Channels a1 = Split(Load4<Rgb24>(s1, 0)), b1 = Split(Load4<Rgb24>(s1, 4));
  const __m128i luma0 = Luma8(a0, b0), luma1 = Luma8(a1, b1);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(y0), _mm_packus_epi16(luma0, luma0));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(y1), _mm_packus_epi16(luma1, luma1));
  const __m128i br = Gather(PairSum(_mm_add_epi16(a0.br, a1.br)), PairSum(_mm_add_epi16(b0.br, b1.br)));
  const __m128i gx = Gather(PairSum(_mm_add_epi16(a0.gx, a1.gx)), PairSum(_mm_add_epi16(b0.gx, b1.gx)));
  const __m128i uv = Chroma(br, gx, 10);
  // Lanes alternate u and v: keep each byte of the packed result in its plane.
  const __m128i even = _mm_and_si128(uv, _mm_set1_epi32(0x0000FFFF));
  const __m128i odd = _mm_srli_epi32(uv, 16);
  const __m128i uu = _mm_packs_epi32(even, even), vv = _mm_packs_epi32(odd, odd);
  Store4(u, _mm_packus_epi16(uu, uu));
  Store4(v, _mm_packus_epi16(vv, vv));
}

// Eight pixels (a: pixels 0-3, b: 4-7) to four YUY2 macropixels with exactly the
// portable arithmetic.
inline __m128i ExactYUY2Block(Channels a, Channels b) {
  const __m128i luma = Luma8(a, b);
  const __m128i uv = Chroma(Gather(PairSum(a.br), PairSum(b.br)), Gather(PairSum(a.gx), PairSum(b.gx)), 9);
  return _mm_packus_epi16(_mm_unpacklo_epi16(luma, uv), _mm_unpackhi_epi16(luma, uv));
}

template <bool Rgb24>
void ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
            const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  constexpr uint32_t bpp = Rgb24 ? 3 : 4;
  const uint32_t pairs = width / 2;
  const uint32_t blocks = pairs / 4;
  WalkSourceRowPairs(y, u, v, yStride, chromaStride, src, srcStride, height,
                     [=](const uint8_t* s0, const uint8_t* s1, uint8_t* y0, uint8_t* y1,
                         uint8_t* cu, uint8_t* cv) {
                       for (uint32_t b = 0; b < blocks; ++b) {
                         I420Block<Rgb24>(y0, y1, cu, cv, s0, s1);
                         s0 += 8 * bpp;
                         s1 += 8 * bpp;
                         y0 += 8;
                         y1 += 8;
                         cu += 4;
                         cv += 4;
                       }
                       if constexpr (Rgb24)
                         RGB24ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 4);
                       else
                         RGB32ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 4);
                     });
}

}  // namespace

void RGB32ToYUY2_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                      uint32_t width, int32_t height) {
  // Two blocks (one source cache line) per step, then a last whole block, then the rest.
  const uint32_t steps = width / 16;
  const bool lastBlock = (width & 8) != 0;
  const uint32_t rest = (width % 8) / 2;
  // The next row in reading order is fetched while this one is converted: rows read
  // bottom-up defeat the hardware's sequential prefetch.
  const ptrdiff_t next = height < 0 ? -static_cast<ptrdiff_t>(srcStride) : srcStride;
  WalkRows(dst, dstStride, src, srcStride, height, [=](uint8_t* d, const uint8_t* s) {
    for (uint32_t k = 0; k < steps; ++k, d += 32, s += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(s + next), _MM_HINT_T0);
      Store(d, YUY2Block(Load(s), Load(s + 16)));
      Store(d + 16, YUY2Block(Load(s + 32), Load(s + 48)));
    }
    if (lastBlock) {
      _mm_prefetch(reinterpret_cast<const char*>(s + next), _MM_HINT_T0);
      Store(d, YUY2Block(Load(s), Load(s + 16)));
      d += 16;
      s += 32;
    }
    RGB32ToYUY2Row_C(d, s, rest);
  });
}

void RGB24ToYUY2_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                      uint32_t width, int32_t height) {
  const uint32_t blocks = width / 8;
  const uint32_t rest = (width % 8) / 2;
  WalkRows(dst, dstStride, src, srcStride, height, [=](uint8_t* d, const uint8_t* s) {
    for (uint32_t k = 0; k < blocks; ++k, d += 16, s += 24)
      Store(d, ExactYUY2Block(Split(Load4<true>(s, 0)), Split(Load4<true>(s, 4))));
    RGB24ToYUY2Row_C(d, s, rest);
  });
}

void RGB32ToI420_SSE2(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                      const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<false>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}

void RGB24ToI420_SSE2(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                      const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<true>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}
