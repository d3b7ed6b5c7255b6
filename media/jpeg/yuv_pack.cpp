// JPEG's full-range YCbCr planes to studio-range packed YUY2, the step after a planar
// JPEG decode. Y' = 16 + Y x 219 / 255 and C' = 128 + (C - 128) x 224 / 255, rounded; the
// integer form (t + (t >> 8)) >> 8 of t / 255 is exact for every byte value.
#include "media/jpeg/jpeg_codec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace media {
namespace {

inline uint8_t LumaToStudio(uint32_t y) {
  const uint32_t t = y * 219 + 128;
  return static_cast<uint8_t>(((t + (t >> 8)) >> 8) + 16);
}

inline uint8_t ChromaToStudio(uint32_t c) {
  const uint32_t t = c * 224 + 3968 + 128;
  return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

#if defined(__SSE2__)
inline __m128i LumaToStudio16(__m128i y) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(y, _mm_set1_epi16(219)), _mm_set1_epi16(128));
  return _mm_add_epi16(_mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8),
                       _mm_set1_epi16(16));
}

inline __m128i ChromaToStudio16(__m128i c) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(224)), _mm_set1_epi16(4096));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}
#endif

}  // namespace

void PackJpeg422ToYuy2(uint8_t* dst, int32_t dstStride, const uint8_t* y, int32_t yStride,
                       const uint8_t* u, const uint8_t* v, int32_t chromaStride, uint32_t width,
                       uint32_t height) {
  const uint32_t pairs = width / 2;
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* d = dst + static_cast<ptrdiff_t>(row) * dstStride;
    const uint8_t* ys = y + static_cast<ptrdiff_t>(row) * yStride;
    const uint8_t* us = u + static_cast<ptrdiff_t>(row) * chromaStride;
    const uint8_t* vs = v + static_cast<ptrdiff_t>(row) * chromaStride;
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= pairs; i += 8) {
      const __m128i yy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ys + 2 * i));
      const __m128i luma = _mm_packus_epi16(LumaToStudio16(_mm_unpacklo_epi8(yy, zero)),
                                            LumaToStudio16(_mm_unpackhi_epi8(yy, zero)));
      const __m128i uu = _mm_unpacklo_epi8(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(us + i)), zero);
      const __m128i vv = _mm_unpacklo_epi8(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vs + i)), zero);
      const __m128i uvBytes = _mm_unpacklo_epi8(_mm_packus_epi16(ChromaToStudio16(uu), zero),
                                                _mm_packus_epi16(ChromaToStudio16(vv), zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), _mm_unpacklo_epi8(luma, uvBytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i + 16),
                       _mm_unpackhi_epi8(luma, uvBytes));
    }
#endif
    for (; i < pairs; ++i) {
      d[4 * i] = LumaToStudio(ys[2 * i]);
      d[4 * i + 1] = ChromaToStudio(us[i]);
      d[4 * i + 2] = LumaToStudio(ys[2 * i + 1]);
      d[4 * i + 3] = ChromaToStudio(vs[i]);
    }
  }
}

void CompressJpegRange(uint8_t* plane, int32_t stride, uint32_t width, uint32_t height,
                       bool chroma) {
  uint8_t table[256];
  for (uint32_t i = 0; i < 256; ++i) table[i] = chroma ? ChromaToStudio(i) : LumaToStudio(i);
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* p = plane + static_cast<ptrdiff_t>(row) * stride;
    for (uint32_t x = 0; x < width; ++x) p[x] = table[p[x]];
  }
}

}  // namespace media
