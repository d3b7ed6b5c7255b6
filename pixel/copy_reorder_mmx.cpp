// MMX copies and packed 4:2:2 reorders: 8-byte loads and stores in 64-byte (copies) or
// 32-byte (reorders) blocks; the rest of a row goes to the portable code. Every variant
// leaves the MMX state clear.
#include "pixel/copy_reorder.h"

#include <mmintrin.h>

#include "pixel/row_walk.h"

namespace {

inline __m64 Load8(const uint8_t* p) {
  __m64 v;
  __builtin_memcpy(&v, p, 8);
  return v;
}

inline void Store8(uint8_t* p, __m64 v) { __builtin_memcpy(p, &v, 8); }

inline void Copy64ByteBlocks(uint8_t* dst, const uint8_t* src, uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i, src += 64, dst += 64) {
    const __m64 a = Load8(src), b = Load8(src + 8), c = Load8(src + 16), d = Load8(src + 24);
    const __m64 e = Load8(src + 32), f = Load8(src + 40), g = Load8(src + 48), h = Load8(src + 56);
    Store8(dst, a);
    Store8(dst + 8, b);
    Store8(dst + 16, c);
    Store8(dst + 24, d);
    Store8(dst + 32, e);
    Store8(dst + 40, f);
    Store8(dst + 48, g);
    Store8(dst + 56, h);
  }
}

inline __m64 SwapBytePairs(__m64 x) { return _mm_or_si64(_mm_slli_pi16(x, 8), _mm_srli_pi16(x, 8)); }

inline __m64 RotateLeft(__m64 x) { return _mm_or_si64(_mm_slli_pi32(x, 8), _mm_srli_pi32(x, 24)); }

inline __m64 SwapChroma(__m64 x) {
  const __m64 evenMask = _mm_set1_pi32(0x00FF00FF);
  const __m64 even = _mm_and_si64(x, evenMask);
  const __m64 odd = _mm_andnot_si64(evenMask, x);
  return _mm_or_si64(even, _mm_or_si64(_mm_slli_pi32(odd, 16), _mm_srli_pi32(odd, 16)));
}

// 8 macropixels (32 bytes) per block, then the portable tail.
template <__m64 (*Op)(__m64), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderRow(uint8_t* dst, const uint8_t* src, uint32_t pairs) {
  const uint32_t blocks = pairs / 8;
  for (uint32_t i = 0; i < blocks; ++i, src += 32, dst += 32) {
    const __m64 a = Load8(src), b = Load8(src + 8), c = Load8(src + 16), d = Load8(src + 24);
    Store8(dst, Op(a));
    Store8(dst + 8, Op(b));
    Store8(dst + 16, Op(c));
    Store8(dst + 24, Op(d));
  }
  Tail(dst, src, pairs % 8);
}

template <__m64 (*Op)(__m64), void (*Tail)(uint8_t*, const uint8_t*, uint32_t)>
void ReorderFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  const uint32_t pairs = width / 2;
  WalkRows(dst, dstStride, src, srcStride, height,
           [pairs](uint8_t* d, const uint8_t* s) { ReorderRow<Op, Tail>(d, s, pairs); });
  _mm_empty();
}

void CopyBytesNoEmpty(uint8_t* dst, const uint8_t* src, uint32_t count) {
  const uint32_t blocks = count / 64;
  Copy64ByteBlocks(dst, src, blocks);
  const uint32_t done = blocks * 64;
  CopyBytes_C(dst + done, src + done, count - done);
}

}  // namespace

void CopyBytes_MMX(uint8_t* dst, const uint8_t* src, uint32_t count) {
  CopyBytesNoEmpty(dst, src, count);
  _mm_empty();
}

void CopyPlane_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                   uint32_t rowBytes, int32_t height) {
  WalkRows(dst, dstStride, src, srcStride, height,
           [rowBytes](uint8_t* d, const uint8_t* s) { CopyBytesNoEmpty(d, s, rowBytes); });
  _mm_empty();
}

void CopyYUY2_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                  uint32_t width, int32_t height) {
  CopyPlane_MMX(dst, dstStride, src, srcStride, width * 2, height);
}

void UYVYToYUY2_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                    uint32_t width, int32_t height) {
  ReorderFrame<SwapBytePairs, SwapBytePairsRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YUY2ToVYUY_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                    uint32_t width, int32_t height) {
  ReorderFrame<RotateLeft, RotateLeftRow_C>(dst, dstStride, src, srcStride, width, height);
}

void YVYUToYUY2_MMX(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                    uint32_t width, int32_t height) {
  ReorderFrame<SwapChroma, SwapChromaRow_C>(dst, dstStride, src, srcStride, width, height);
}
