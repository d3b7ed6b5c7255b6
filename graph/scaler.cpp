// YUY2 frame scaler: processor flags, the column table shared by the four variants, the
// portable rows and the dispatch.
#include "graph/scaler.h"

#include <cstddef>
#include <new>

#include "platform/cpu.h"

namespace {

// Larger sizes would overflow srcWidth * 256 and the 8.8 positions.
constexpr int32_t kMaxSize = 0x7FFFFF;
// Column tables up to this many output pixels live on the stack, so scaling a frame of
// ordinary size allocates nothing; wider ones come from the heap.
constexpr uint32_t kInlineColumns = 4096;

enum class WeightForm { kFraction, kPairComplement255 };

using RowFn = void (*)(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                       const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                       bool singleColumn);

inline int32_t Lerp(int32_t a, int32_t b, int32_t w) { return a + (((b - a) * w) >> 8); }

void PortableRow(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                 const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                 bool singleColumn) {
  const uint32_t next = singleColumn ? 0 : 2;
  auto luma = [&](uint32_t j) {
    const uint32_t o = columns[j].luma;
    const int32_t f = weights[j];
    const int32_t top = Lerp(upper[o], upper[o + next], f);
    const int32_t bottom = Lerp(lower[o], lower[o + next], f);
    return static_cast<uint8_t>(Lerp(top, bottom, static_cast<int32_t>(g)));
  };
  for (uint32_t m = 0; m < pairs; ++m, dst += 4) {
    dst[0] = luma(2 * m);
    dst[1] = upper[columns[2 * m].chroma];
    dst[2] = luma(2 * m + 1);
    dst[3] = upper[columns[2 * m + 1].chroma];
  }
}

bool SizesUsable(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
  return srcWidth > 0 && srcHeight > 0 && dstWidth > 0 && dstHeight > 0 && srcWidth <= kMaxSize &&
         srcHeight <= kMaxSize && dstWidth <= kMaxSize && dstHeight <= kMaxSize;
}

// Builds the column table and runs `row` for every output row.
void Scale(RowFn row, WeightForm form, const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
           int32_t srcStride, uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  if (!SizesUsable(srcWidth, srcHeight, dstWidth, dstHeight)) return;
  const uint32_t width = static_cast<uint32_t>(dstWidth);
  const uint32_t weightBytes = form == WeightForm::kFraction ? 1 : 2;

  ScalerColumn inlineColumns[kInlineColumns];
  uint8_t inlineWeights[kInlineColumns * 2];
  ScalerColumn* heapColumns = nullptr;
  uint8_t* heapWeights = nullptr;
  ScalerColumn* columns = inlineColumns;
  uint8_t* weights = inlineWeights;
  if (width > kInlineColumns) {
    heapColumns = new (std::nothrow) ScalerColumn[width];
    heapWeights = heapColumns ? new (std::nothrow) uint8_t[static_cast<size_t>(width) * weightBytes] : nullptr;
    if (!heapColumns || !heapWeights) {
      delete[] heapColumns;
      return;
    }
    columns = heapColumns;
    weights = heapWeights;
  }

  // Spans of (size - 1) keep the right and lower neighbours inside the source.
  const int32_t hs = (srcWidth * 256 - 256) / dstWidth;
  const int32_t vs = (srcHeight * 256 - 256) / dstHeight;
  uint32_t x = 0;
  for (uint32_t j = 0; j < width; ++j, x += static_cast<uint32_t>(hs)) {
    const uint32_t i = x >> 8;
    const uint32_t f = x & 0xFF;
    const uint32_t macropixel = 2 * i - 2 * (i & 1);
    columns[j] = {2 * i, macropixel + ((j & 1) ? 3u : 1u)};
    if (form == WeightForm::kFraction) {
      weights[j] = static_cast<uint8_t>(f);
    } else {
      weights[2 * j] = static_cast<uint8_t>(255 - f);
      weights[2 * j + 1] = static_cast<uint8_t>(f);
    }
  }

  // A source of one row or one column has no lower or right neighbour; its weights are
  // all 0, so the sample itself stands in for the neighbour.
  const bool singleColumn = srcWidth == 1;
  const ptrdiff_t lowerStep = srcHeight > 1 ? srcStride : 0;
  const uint32_t pairs = width / 2;
  uint32_t y = 0;
  for (int32_t r = 0; r < dstHeight; ++r, y += static_cast<uint32_t>(vs), dst += dstStride) {
    const uint8_t* upper = src + static_cast<ptrdiff_t>(y >> 8) * srcStride;
    row(dst, upper, upper + lowerStep, y & 0xFF, columns, weights, pairs, singleColumn);
  }

  delete[] heapWeights;
  delete[] heapColumns;
}

uint32_t ProbeScalerFlags() {
  uint32_t edx = 0;
  if (!platform::ReadCpuidLeaf1Edx(&edx)) return 0;
  uint32_t flags = 0;
  if (edx & (1u << 23)) flags |= SCALER_CPU_MMX;
  if (edx & (1u << 26)) flags |= SCALER_CPU_SSE2;
  return flags;
}

}  // namespace

uint32_t GetScalerCpuFlags() {
  static const uint32_t flags = ProbeScalerFlags();
  return flags;
}

bool ScalerHasAvx2() {
  static const bool avx2 = platform::CpuHasUsableAvx2();
  return avx2;
}

void ScaleYuy2Portable(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                       uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  Scale(PortableRow, WeightForm::kFraction, src, srcWidth, srcHeight, srcStride, dst, dstWidth,
        dstHeight, dstStride);
}

void ScaleYuy2Mmx(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                  uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  Scale(ScaleYuy2RowMmx, WeightForm::kFraction, src, srcWidth, srcHeight, srcStride, dst, dstWidth,
        dstHeight, dstStride);
}

void ScaleYuy2Sse2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                   uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  Scale(ScaleYuy2RowSse2, WeightForm::kPairComplement255, src, srcWidth, srcHeight, srcStride, dst,
        dstWidth, dstHeight, dstStride);
}

void ScaleYuy2Avx2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                   uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  Scale(ScaleYuy2RowAvx2, WeightForm::kPairComplement255, src, srcWidth, srcHeight, srcStride, dst,
        dstWidth, dstHeight, dstStride);
}

void ScaleYuy2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
               uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride) {
  const uint32_t flags = GetScalerCpuFlags();
  if ((flags & SCALER_CPU_SSE2) && ScalerHasAvx2())
    ScaleYuy2Avx2(src, srcWidth, srcHeight, srcStride, dst, dstWidth, dstHeight, dstStride);
  else if (flags & SCALER_CPU_SSE2)
    ScaleYuy2Sse2(src, srcWidth, srcHeight, srcStride, dst, dstWidth, dstHeight, dstStride);
  else if (flags & SCALER_CPU_MMX)
    ScaleYuy2Mmx(src, srcWidth, srcHeight, srcStride, dst, dstWidth, dstHeight, dstStride);
  else
    ScaleYuy2Portable(src, srcWidth, srcHeight, srcStride, dst, dstWidth, dstHeight, dstStride);
}
