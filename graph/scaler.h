// YUY2 frame scaler: bilinear luma in unsigned 8.8 fixed point, chroma copied from the
// nearest source macropixel of the upper row, in AVX2, SSE2, MMX and portable variants
// chosen by the processor once per process. A pure function of its arguments.
//
// Included by the SIMD files, so it uses nothing from the C++ standard library.
#pragma once

#include <stdint.h>

enum : uint32_t {
  SCALER_CPU_MMX = 0x01,   // CPUID leaf 1, EDX bit 23
  SCALER_CPU_SSE2 = 0x04,  // CPUID leaf 1, EDX bit 26
};

// The scaler's processor flags, probed on the first call and kept for the process.
uint32_t GetScalerCpuFlags();
// Whether the processor runs AVX2 (with YMM state saved), probed once beside the flags.
bool ScalerHasAvx2();

// Scales the YUY2 frame src (srcWidth x srcHeight pixels, rows srcStride bytes apart) to
// dst (dstWidth x dstHeight, rows dstStride bytes apart); the frames must not overlap.
// Rows are top-down. Each output row gets dstWidth / 2 macropixels; with an odd dstWidth
// the last pixel of every row is left as it was. The source is read only inside its
// srcHeight rows and, per row, inside its (srcWidth + 1) / 2 macropixels.
// Returns without writing anything when a size is 0 or negative, when a size exceeds
// 0x7FFFFF pixels (8.8 positions would overflow), or when the column table cannot be had.
// Dispatches to ScaleYuy2Sse2 (ScaleYuy2Avx2 where AVX2 runs too), else ScaleYuy2Mmx, else
// ScaleYuy2Portable.
void ScaleYuy2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
               uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride);

// The reference: per output pixel top = lerp(upper[o], upper[o + 2], f), bottom likewise
// from the lower row, Y = lerp(top, bottom, g), with lerp(a, b, w) = a + (((b - a) * w) >> 8).
void ScaleYuy2Portable(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                       uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride);
// The portable arithmetic in 16-bit lanes: identical output.
void ScaleYuy2Mmx(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                  uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride);
// Blends vertically first, v = lerp(upper, lower, g), then horizontally as
// (va * (255 - f) + vb * f) >> 8, and takes both chroma bytes of an output macropixel
// from the source macropixel of its first pixel. Luma may differ from the portable result
// (a constant Y becomes Y - 1, 0 stays 0) and so may the V byte.
void ScaleYuy2Sse2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                   uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride);
// The SSE2 variant's arithmetic and output, eight output macropixels per step.
void ScaleYuy2Avx2(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                   uint8_t* dst, int32_t dstWidth, int32_t dstHeight, int32_t dstStride);

// One column of the table: byte offsets of the output pixel's luma sample and of its
// chroma sample (U of the source macropixel for even output pixels, V for odd ones).
struct ScalerColumn {
  uint32_t luma;
  uint32_t chroma;
};

// One output row of the SSE2 variant: `pairs` macropixels from the upper and lower source
// rows, vertical weight g. weights holds (255 - f, f) as two bytes per output pixel.
// singleColumn marks a source one pixel wide, whose luma has no right neighbour.
void ScaleYuy2RowSse2(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                      const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                      bool singleColumn);

// One output row of the AVX2 variant, arguments as for ScaleYuy2RowSse2.
void ScaleYuy2RowAvx2(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                      const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                      bool singleColumn);

// One output row of the MMX variant; weights holds f, one byte per output pixel.
void ScaleYuy2RowMmx(uint8_t* dst, const uint8_t* upper, const uint8_t* lower, uint32_t g,
                     const ScalerColumn* columns, const uint8_t* weights, uint32_t pairs,
                     bool singleColumn);
