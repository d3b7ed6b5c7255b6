// SSE2 copies and packed 4:2:2 reorders: unaligned 16-byte loads and stores in 128-byte
// (copies) or 64-byte (reorders) blocks; the rest of a row goes to the portable code.
#include "pixel/copy_reorder.h"

#include <emmintrin.h>

#include "pixel/row_walk.h"

namespace {

inline void Move16(uint8_t* dst, const uint8_t* src) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
}

// Each load is stored at once: grouping all loads before the stores runs measurably
// slower on cache-resident frames.
inline void Copy128ByteBlocks(uint8_t* dst, const uint8_t* src, uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i, src += 128, dst += 128) {
    Move16(dst, src);
    Move16(dst + 16, src + 16);
    Move16(dst + 32, src + 32);
    Move16(dst + 48, src + 48);
    Move16(dst + 64, src + 64);
    Move16(dst + 80, src + 80);
    Move16(dst + 96, src + 96);
    Move16(dst + 112, src + 112);
  }
}

// Swap the bytes of every 16-bit word: U Y0 V Y1 <-> Y0 U Y1 V.
inline __m128i SwapBytePairs(__m128i x) {
  return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
}

// Rotate every 32-bit macropixel left by one byte: b0 b1 b2 b3 -> b3 b0 b1 b2.
inline __m128i RotateLeft(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, 8), _mm_srli_epi32(x, 24));
}

// Exchange bytes 1 and 3 of every macropixel: the odd bytes' words trade places.
inline __m128i SwapChroma(__m128i x) {
  const __m128i evenMask = _mm_set1_epi32(0x00FF00FF);
  const __m128i even = _mm_and_si128(x, evenMask);
  __m128i odd = _mm_andnot_si128(evenMask, x);
  odd = _mm_shufflehi_epi16(_mm_shufflelo_epi16(odd, 0xB1), 0xB1);
  return _mm_or_si128(even, odd);
}

template <__m128i (*Op)(__m128i)>
inline void ReorderVector(uint8_t* dst, const uint8_t* src) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), Op(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src))));
}

// 16 macropixels (64 bytes) per block, then the portable tail.
template <__m128i (*Op)(__m128i), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderRow(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  const uint32_t blocks = pairs / 16;
  for (uint32_t i = 0; i < blocks; ++i, src += 64, dst += 64) {
    ReorderVector<Op>(dst, src);
    ReorderVector<Op>(dst + 16, src + 16);
    ReorderVector<Op>(dst + 32, src + 32);
    ReorderVector<Op>(dst + 48, src + 48);
  }
  Tail(dst, src, pairs % 16);
}

template <__m128i (*Op)(__m128i), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkRows(dst, dstStride, src, srcStride, height,
           [pairs](uint8_t* d, const uint8_t* s) { ReorderRow<Op, Tail>(d, s, pairs); });
}

}  // namespace

void CopyBytes_SSE2(uint8_t* dst, const uint8_t* src, uint32_t count) {
  const uint32_t blocks = count / 128;
  Copy128ByteBlocks(dst, src, blocks);
  const uint32_t done = blocks * 128;
  CopyBytes_C(dst + done, src + done, count - done);
}

void CopyPlane_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                    uint32_t rowBytes, int32_t height) {
  WalkRows(dst, dstStride, src, srcStride, height,
           [rowBytes](uint8_t* d, const uint8_t* s) { CopyBytes_SSE2(d, s, rowBytes); });
}

void CopyYUY2_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                   uint32_t width, int32_t height) {
  CopyPlane_SSE2(dst, dstStride, src, srcStride, width * 2, height);
}

void UYVYToYUY2_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<SwapBytePairs, SwapBytePairsRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YUY2ToVYUY_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<RotateLeft, RotateLeftRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YVYUToYUY2_SSE2(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     uint32_t width, int32_t height) {
  ReorderFrame<SwapChroma, SwapChromaRow_C>(dst, dstStride, src, srcStride, width, height);
}
