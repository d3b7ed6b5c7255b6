// MMX RGB32/RGB24 to I420 in blocks of 4 x 2 pixels with exactly the portable arithmetic;
// the rest of a row goes to the portable code. Every variant leaves the MMX state clear.
#include <mmintrin.h>

#include "pixel/planar_walk.h"
#include "pixel/rgb_yuv.h"

namespace {

inline __m64 Load(const uint8_t* p) {
  __m64 v;
  __builtin_memcpy(&v, p, 8);
  return v;
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// Pixels k and k+1 of a 4-pixel block as RGB32 lanes. An RGB24 pixel is read with the
// next pixel's first byte as X (which no equation uses), except the block's last pixel,
// read bytewise so nothing past the block is touched.
template <bool Rgb24>
inline __m64 Load2(const uint8_t* s, int k) {
  if constexpr (!Rgb24) {
    return Load(s + 4 * k);
  } else {
    const uint8_t* p = s + 3 * k;
    const uint32_t second = k == 2 ? p[3] | (p[4] << 8) | (p[5] << 16) : Load32(p + 3);
    return _mm_set_pi32(static_cast<int>(second), static_cast<int>(Load32(p)));
  }
}

inline __m64 Coeffs(int16_t lo, int16_t hi) { return _mm_set_pi16(hi, lo, hi, lo); }

// Two RGB32 pixels split into 16-bit lanes: br = B R per pixel, gx = G X per pixel.
struct Channels {
  __m64 br, gx;
};

inline Channels Split(__m64 px) { return {_mm_and_si64(px, _mm_set1_pi32(0x00FF00FF)), _mm_srli_pi16(px, 8)}; }

// ((66 R + 129 G + 25 B) >> 8) + 16 of two pixels as 32-bit lanes.
inline __m64 Luma2(Channels c) {
  const __m64 sum = _mm_add_pi32(_mm_madd_pi16(c.br, Coeffs(25, 66)), _mm_madd_pi16(c.gx, Coeffs(129, 0)));
  return _mm_add_pi32(_mm_srai_pi32(sum, 8), _mm_set1_pi32(16));
}

inline void Store4(uint8_t* p, __m64 lumaLo, __m64 lumaHi) {
  const __m64 w = _mm_packs_pi32(lumaLo, lumaHi);
  const int x = _mm_cvtsi64_si32(_mm_packs_pu16(w, w));
  __builtin_memcpy(p, &x, 4);
}

// Channel sums of the 2 x 2 block whose rows are a and b, in the low 32 bits.
inline __m64 BlockSum(__m64 a, __m64 b) {
  const __m64 s = _mm_add_pi16(a, b);
  return _mm_add_pi16(s, _mm_srli_si64(s, 32));
}

// Four pixels of two RGB32 rows: four Y bytes per row, two U and two V bytes.
template <bool Rgb24>
inline void I420Block(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint8_t* s0,
                      const uint8_t* s1) {
  const Channels a0 = Split(Load2<Rgb24>(s0, 0)), b0 = Split(Load2<Rgb24>(s0, 2));
  const Channels a1 = Split(Load2<Rgb24>(s1, 0)), b1 = Split(Load2<Rgb24>(s1, 2));
  Store4(y0, Luma2(a0), Luma2(b0));
  Store4(y1, Luma2(a1), Luma2(b1));
  const __m64 br = _mm_unpacklo_pi32(BlockSum(a0.br, a1.br), BlockSum(b0.br, b1.br));
  const __m64 gx = _mm_unpacklo_pi32(BlockSum(a0.gx, a1.gx), BlockSum(b0.gx, b1.gx));
  const __m64 bias = _mm_set1_pi32(128);
  __m64 cu = _mm_add_pi32(_mm_madd_pi16(br, Coeffs(112, -38)), _mm_madd_pi16(gx, Coeffs(-74, 0)));
  __m64 cv = _mm_add_pi32(_mm_madd_pi16(br, Coeffs(-18, 112)), _mm_madd_pi16(gx, Coeffs(-94, 0)));
  cu = _mm_add_pi32(_mm_srai_pi32(cu, 10), bias);
  cv = _mm_add_pi32(_mm_srai_pi32(cv, 10), bias);
  const __m64 w = _mm_packs_pi32(cu, cv);  // u0 u1 v0 v1
  const uint32_t x = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(w, w)));
  u[0] = static_cast<uint8_t>(x);
  u[1] = static_cast<uint8_t>(x >> 8);
  v[0] = static_cast<uint8_t>(x >> 16);
  v[1] = static_cast<uint8_t>(x >> 24);
}

template <bool Rgb24>
void ToI420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
            const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  constexpr uint32_t bpp = Rgb24 ? 3 : 4;
  const uint32_t pairs = width / 2;
  const uint32_t blocks = pairs / 2;
  WalkSourceRowPairs(y, u, v, yStride, chromaStride, src, srcStride, height,
                     [=](const uint8_t* s0, const uint8_t* s1, uint8_t* y0, uint8_t* y1,
                         uint8_t* cu, uint8_t* cv) {
                       for (uint32_t b = 0; b < blocks; ++b) {
                         I420Block<Rgb24>(y0, y1, cu, cv, s0, s1);
                         s0 += 4 * bpp;
                         s1 += 4 * bpp;
                         y0 += 4;
                         y1 += 4;
                         cu += 2;
                         cv += 2;
                       }
                       if constexpr (Rgb24)
                         RGB24ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 2);
                       else
                         RGB32ToI420RowPair_C(y0, y1, cu, cv, s0, s1, pairs % 2);
                     });
  _mm_empty();
}

}  // namespace

void RGB32ToI420_MMX(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                     const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<false>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}

void RGB24ToI420_MMX(uint8_t* y, uint8_t* u, uint8_t* v, int32_t yStride, int32_t chromaStride,
                     const uint8_t* src, int32_t srcStride, uint32_t width, int32_t height) {
  ToI420<true>(y, u, v, yStride, chromaStride, src, srcStride, width, height);
}
