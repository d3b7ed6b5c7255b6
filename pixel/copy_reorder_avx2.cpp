// AVX2 packed 4:2:2 reorders: one byte shuffle per 32 bytes, 128-byte blocks with
// unaligned loads and stores; the rest of a row goes to the portable code.
#include <immintrin.h>

#include "pixel/copy_reorder.h"
#include "pixel/row_walk.h"

namespace {

// out[k] = in[P[k]] within every 4-byte macropixel.
template <int B0, int B1, int B2, int B3>
inline __m256i Permute(__m256i x) {
  const __m256i control = _mm256_set1_epi32(B0 | (B1 << 8) | (B2 << 16) | (B3 << 24));
  return _mm256_shuffle_epi8(x, _mm256_add_epi8(control, _mm256_setr_epi8(
      0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12)));
}

template <__m256i (*Op)(__m256i)>
inline void ReorderVector(uint8_t* dst, const uint8_t* src) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), Op(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src))));
}

// 32 macropixels (128 bytes) per block, then 8 per step, then the portable tail.
template <__m256i (*Op)(__m256i), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderRow(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  for (uint32_t i = 0; i < pairs / 32; ++i, src += 128, dst += 128) {
    ReorderVector<Op>(dst, src);
    ReorderVector<Op>(dst + 32, src + 32);
    ReorderVector<Op>(dst + 64, src + 64);
    ReorderVector<Op>(dst + 96, src + 96);
  }
  for (uint32_t i = 0; i < (pairs % 32) / 8; ++i, src += 32, dst += 32) ReorderVector<Op>(dst, src);
  Tail(dst, src, pairs % 8);
}

template <__m256i (*Op)(__m256i), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkRows(dst, dstStride, src, srcStride, height,
           [pairs](uint8_t* d, const uint8_t* s) { ReorderRow<Op, Tail>(d, s, pairs); });
  _mm256_zeroupper();
}

}  // namespace

void UYVYToYUY2_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<Permute<1, 0, 3, 2>, SwapBytePairsRow_C>(dst, dstStride, src, srcStride, width, height);
}

void VYUYToYUY2_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<Permute<1, 2, 3, 0>, RotateRightRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YUY2ToVYUY_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<Permute<3, 0, 1, 2>, RotateLeftRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YVYUToYUY2_AVX2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<Permute<0, 3, 2, 1>, SwapChromaRow_C>(dst, dstStride, src, srcStride, width, height);
}
