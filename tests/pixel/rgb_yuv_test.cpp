// RGB to YUV: every variant against an independent reference (guards and padding
// included), the SSE2 averaged chroma of RGB32ToYUY2 as exactly its stated difference,
// and the worked colour examples.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "pixel/rgb_yuv.h"
#include "tests/pixel/guarded_image.h"
#include "tests/pixel/kernel_tiers.h"

namespace {

using test::FirstDifference;
using test::GuardedImage;

using test::ForceTier;
using test::Supported;

enum class In { kRgb32, kRgb24, kRgb555, kRgb565 };

int BytesPerPixel(In f) { return f == In::kRgb32 ? 4 : f == In::kRgb24 ? 3 : 2; }

struct Px {
  int r, g, b;
};

Px ReadPixel(In f, const uint8_t* p) {
  switch (f) {
    case In::kRgb32:
    case In::kRgb24:
      return {p[2], p[1], p[0]};
    case In::kRgb555: {
      const int w = p[0] + 256 * p[1];
      return {(w >> 10 & 31) * 8, (w >> 5 & 31) * 8, (w & 31) * 8};
    }
    case In::kRgb565: {
      const int w = p[0] + 256 * p[1];
      return {(w >> 11 & 31) * 8, (w >> 5 & 63) * 4, (w & 31) * 8};
    }
  }
  return {};
}

// Floor division, so the reference does not lean on the shift it checks.
int FloorDiv(int n, int d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

int Y(Px p) { return FloorDiv(66 * p.r + 129 * p.g + 25 * p.b, 256) + 16; }
// Chroma of channel sums over `count` pixels (2 or 4).
int U(Px s, int count) { return FloorDiv(112 * s.b - 74 * s.g - 38 * s.r, 256 * count) + 128; }
int V(Px s, int count) { return FloorDiv(112 * s.r - 94 * s.g - 18 * s.b, 256 * count) + 128; }
Px Add(Px a, Px b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// Chroma as the SSE2 RGB32ToYUY2 blocks compute it: truncated pair averages, shift 8.
int UAveraged(Px a, Px b) {
  return FloorDiv(112 * ((a.b + b.b) / 2) - 74 * ((a.g + b.g) / 2) - 38 * ((a.r + b.r) / 2), 256) + 128;
}
int VAveraged(Px a, Px b) {
  return FloorDiv(112 * ((a.r + b.r) / 2) - 94 * ((a.g + b.g) / 2) - 18 * ((a.b + b.b) / 2), 256) + 128;
}

// pos = positions of Y0, Y1, U, V. averagedPixels: pixels [0, n) use averaged chroma.
void ReferencePacked(GuardedImage& dst, const GuardedImage& src, In f, uint32_t width, int32_t height,
                     std::array<int, 4> pos, uint32_t averagedPixels = 0) {
  const size_t rows = static_cast<size_t>(std::abs(height));
  const int bpp = BytesPerPixel(f);
  for (size_t r = 0; r < rows; ++r) {
    const uint8_t* s = src.row(height < 0 ? rows - 1 - r : r);
    uint8_t* d = dst.row(r);
    for (uint32_t j = 0; j < width / 2; ++j) {
      const Px a = ReadPixel(f, s + 2 * j * bpp), b = ReadPixel(f, s + (2 * j + 1) * bpp);
      const bool avg = 2 * j < averagedPixels;
      d[4 * j + pos[0]] = static_cast<uint8_t>(Y(a));
      d[4 * j + pos[1]] = static_cast<uint8_t>(Y(b));
      d[4 * j + pos[2]] = static_cast<uint8_t>(avg ? UAveraged(a, b) : U(Add(a, b), 2));
      d[4 * j + pos[3]] = static_cast<uint8_t>(avg ? VAveraged(a, b) : V(Add(a, b), 2));
    }
  }
}

struct PackedCase {
  const char* name;
  In in;
  std::array<int, 4> pos;
  RgbToPackedFn fn;
};

const PackedCase kPortablePacked[] = {
    {"RGB32ToYUY2_C", In::kRgb32, {0, 2, 1, 3}, RGB32ToYUY2_C},
    {"RGB24ToYUY2", In::kRgb24, {0, 2, 1, 3}, RGB24ToYUY2},
    {"RGB555ToYUY2", In::kRgb555, {0, 2, 1, 3}, RGB555ToYUY2},
    {"RGB565ToYUY2", In::kRgb565, {0, 2, 1, 3}, RGB565ToYUY2},
    {"RGB32ToYVYU", In::kRgb32, {0, 2, 3, 1}, RGB32ToYVYU},
    {"RGB32ToUYVY", In::kRgb32, {1, 3, 0, 2}, RGB32ToUYVY},
    {"RGB32ToVYUY", In::kRgb32, {1, 3, 2, 0}, RGB32ToVYUY},
};

std::vector<uint32_t> RgbWidths() {
  std::vector<uint32_t> w;
  for (uint32_t i = 0; i <= 40; ++i) w.push_back(i);
  for (uint32_t i : {47u, 48u, 49u, 63u, 64u, 65u, 127u, 333u, 640u}) w.push_back(i);
  return w;
}

TEST(RgbToPacked, PortableKernelsMatchReferenceIncludingGuards) {
  uint32_t seed = 9000;
  for (const PackedCase& c : kPortablePacked) {
    for (uint32_t width : RgbWidths()) {
      for (int32_t height : test::KernelTestHeights()) {
        seed += 2;
        const size_t rows = static_cast<size_t>(std::abs(height));
        const GuardedImage src(width * BytesPerPixel(c.in), rows, 5, seed, 3);
        const size_t outBytes = ((width + 1) / 2) * 4;
        GuardedImage expected(outBytes, rows, 6, seed + 1, 1);
        ReferencePacked(expected, src, c.in, width, height, c.pos);
        GuardedImage dst(outBytes, rows, 6, seed + 1, 1);
        c.fn(dst.data(), dst.stride(), src.data(), src.stride(), width, height);
        ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1)
            << c.name << " width " << width << " height " << height;
      }
    }
  }
}

// RGB24ToYUY2's SIMD variants, and the entry point on every tier, give the portable bytes.
TEST(RgbToPacked, Rgb24ToYuy2SimdVariantsMatchReferenceIncludingGuards) {
  struct Case {
    const char* name;
    RgbToPackedFn fn;
    uint32_t needs, word;
  };
  const Case cases[] = {
      {"RGB24ToYUY2_SSE2", RGB24ToYUY2_SSE2, FEATURE_SSE2, 0},
      {"RGB24ToYUY2_AVX2", RGB24ToYUY2_AVX2, test::kTierAvx2, 0},
      {"RGB24ToYUY2@mmx", RGB24ToYUY2, FEATURE_MMX, FEATURE_MMX},
      {"RGB24ToYUY2@sse2", RGB24ToYUY2, test::kTierSse2, test::kTierSse2},
      {"RGB24ToYUY2@avx2", RGB24ToYUY2, test::kTierAvx2, test::kTierAvx2},
  };
  uint32_t seed = 11000;
  for (const Case& c : cases) {
    if (!Supported(c.needs)) continue;
    for (uint32_t width : RgbWidths()) {
      for (int32_t height : test::KernelTestHeights()) {
        seed += 2;
        const size_t rows = static_cast<size_t>(std::abs(height));
        const GuardedImage src(width * 3, rows, 7, seed, 1);
        const size_t outBytes = ((width + 1) / 2) * 4;
        GuardedImage expected(outBytes, rows, 5, seed + 1, 3);
        ReferencePacked(expected, src, In::kRgb24, width, height, {0, 2, 1, 3});
        GuardedImage dst(outBytes, rows, 5, seed + 1, 3);
        ForceTier(c.word);
        c.fn(dst.data(), dst.stride(), src.data(), src.stride(), width, height);
        ForceTier(0);
        ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1)
            << c.name << " width " << width << " height " << height;
      }
    }
  }
}

// The SSE2 variant (and the AVX2 one, byte for byte) differs from the portable one exactly
// by averaged chroma on the pairs of whole 8-pixel blocks; the tail and every luma byte
// match the portable arithmetic.
TEST(RgbToPacked, Rgb32ToYuy2Sse2DiffersOnlyByAveragedChromaInWholeBlocks) {
  if (!Supported(FEATURE_SSE2)) return;
  uint32_t seed = 12000;
  size_t differing = 0, oddSumPairs = 0;
  const uint32_t words[] = {FEATURE_MMX | FEATURE_SSE2, FEATURE_SSE2, test::kTierAvx2};
  for (uint32_t width : RgbWidths()) {
    for (int32_t height : test::KernelTestHeights()) {
      seed += 2;
      const size_t rows = static_cast<size_t>(std::abs(height));
      const GuardedImage src(width * 4, rows, 12, seed, 1);
      const std::vector<uint8_t> before = src.bytes();
      const size_t outBytes = ((width + 1) / 2) * 4;
      GuardedImage expected(outBytes, rows, 4, seed + 1, 2);
      ReferencePacked(expected, src, In::kRgb32, width, height, {0, 2, 1, 3}, width / 8 * 8);
      GuardedImage dst(outBytes, rows, 4, seed + 1, 2), portable(outBytes, rows, 4, seed + 1, 2);
      RGB32ToYUY2_SSE2(dst.data(), dst.stride(), src.data(), src.stride(), width, height);
      ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1) << "width " << width << " height " << height;
      ASSERT_EQ(src.bytes(), before);
      if (Supported(test::kTierAvx2)) {
        GuardedImage wide(outBytes, rows, 4, seed + 1, 2);
        RGB32ToYUY2_AVX2(wide.data(), wide.stride(), src.data(), src.stride(), width, height);
        ASSERT_EQ(FirstDifference(wide.bytes(), expected.bytes()), -1) << "avx2 width " << width << " height " << height;
      }
      for (uint32_t word : words) {
        if (!Supported(word)) continue;
        ForceTier(word);
        GuardedImage viaEntry(outBytes, rows, 4, seed + 1, 2);
        RGB32ToYUY2(viaEntry.data(), viaEntry.stride(), src.data(), src.stride(), width, height);
        ASSERT_EQ(FirstDifference(viaEntry.bytes(), expected.bytes()), -1) << "entry width " << width;
      }
      ForceTier(0);
      // Compared with the portable result: only chroma of block pairs with odd sums, by 1.
      RGB32ToYUY2_C(portable.data(), portable.stride(), src.data(), src.stride(), width, height);
      // Without SSE2 (not initialised, or MMX only) the entry point gives the portable result.
      for (uint32_t word : {0u, static_cast<uint32_t>(FEATURE_MMX)}) {
        SetPixelDispatchWord(word);
        GuardedImage viaEntry(outBytes, rows, 4, seed + 1, 2);
        RGB32ToYUY2(viaEntry.data(), viaEntry.stride(), src.data(), src.stride(), width, height);
        ASSERT_EQ(FirstDifference(viaEntry.bytes(), portable.bytes()), -1) << "entry@" << word << " width " << width;
      }
      SetPixelDispatchWord(0);
      for (size_t r = 0; r < rows; ++r) {
        const uint8_t* s = src.row(height < 0 ? rows - 1 - r : r);
        for (uint32_t j = 0; j < width / 2; ++j) {
          const uint8_t* p = s + 8 * j;
          const bool odd = ((p[0] + p[4]) | (p[1] + p[5]) | (p[2] + p[6])) & 1;
          const bool inBlock = 2 * j < width / 8 * 8;
          if (odd && inBlock) ++oddSumPairs;
          for (int k = 0; k < 4; ++k) {
            const int a = dst.row(r)[4 * j + k], b = portable.row(r)[4 * j + k];
            if (a == b) continue;
            ++differing;
            ASSERT_TRUE(k == 1 || k == 3) << "luma differs at pair " << j;
            ASSERT_TRUE(odd && inBlock) << "pair " << j << " width " << width;
            ASSERT_LE(std::abs(a - b), 1);
          }
        }
      }
    }
  }
  EXPECT_GT(differing, 0u);
  EXPECT_GT(oddSumPairs, differing / 2);
}

// 4:2:0 reference: Y per pixel, chroma per 2 x 2 block from the block sums.
void ReferencePlanar(GuardedImage& y, GuardedImage& u, GuardedImage& v, const GuardedImage& src, In f,
                     uint32_t width, int32_t height) {
  const size_t rows = static_cast<size_t>(std::abs(height));
  const int bpp = BytesPerPixel(f);
  for (size_t r = 0; r + 1 < rows; r += 2) {
    const uint8_t* s0 = src.row(height < 0 ? rows - 1 - r : r);
    const uint8_t* s1 = src.row(height < 0 ? rows - 2 - r : r + 1);
    for (uint32_t j = 0; j < width / 2; ++j) {
      const Px a = ReadPixel(f, s0 + 2 * j * bpp), b = ReadPixel(f, s0 + (2 * j + 1) * bpp);
      const Px c = ReadPixel(f, s1 + 2 * j * bpp), d = ReadPixel(f, s1 + (2 * j + 1) * bpp);
      y.row(r)[2 * j] = static_cast<uint8_t>(Y(a));
      y.row(r)[2 * j + 1] = static_cast<uint8_t>(Y(b));
      y.row(r + 1)[2 * j] = static_cast<uint8_t>(Y(c));
      y.row(r + 1)[2 * j + 1] = static_cast<uint8_t>(Y(d));
      const Px s = Add(Add(a, b), Add(c, d));
      u.row(r / 2)[j] = static_cast<uint8_t>(U(s, 4));
      v.row(r / 2)[j] = static_cast<uint8_t>(V(s, 4));
    }
  }
}

TEST(RgbToPlanar, EveryVariantMatchesReferenceIncludingGuards) {
  struct Case {
    const char* name;
    In in;
    RgbToPlanarFn fn;
    uint32_t needs, word;
  };
  const uint32_t sse2 = FEATURE_MMX | FEATURE_SSE2;
  const Case cases[] = {
      {"RGB32ToI420_C", In::kRgb32, RGB32ToI420_C, 0, 0},
      {"RGB32ToI420_MMX", In::kRgb32, RGB32ToI420_MMX, FEATURE_MMX, 0},
      {"RGB32ToI420_SSE2", In::kRgb32, RGB32ToI420_SSE2, FEATURE_SSE2, 0},
      {"RGB32ToI420@mmx", In::kRgb32, RGB32ToI420, FEATURE_MMX, FEATURE_MMX},
      {"RGB32ToI420@sse2", In::kRgb32, RGB32ToI420, sse2, sse2},
      {"RGB32ToI420_AVX2", In::kRgb32, RGB32ToI420_AVX2, test::kTierAvx2, 0},
      {"RGB32ToI420@avx2", In::kRgb32, RGB32ToI420, test::kTierAvx2, test::kTierAvx2},
      {"RGB24ToI420_C", In::kRgb24, RGB24ToI420_C, 0, 0},
      {"RGB24ToI420_MMX", In::kRgb24, RGB24ToI420_MMX, FEATURE_MMX, 0},
      {"RGB24ToI420_SSE2", In::kRgb24, RGB24ToI420_SSE2, FEATURE_SSE2, 0},
      {"RGB24ToI420@mmx", In::kRgb24, RGB24ToI420, FEATURE_MMX, FEATURE_MMX},
      {"RGB24ToI420@sse2", In::kRgb24, RGB24ToI420, sse2, sse2},
      {"RGB24ToI420_AVX2", In::kRgb24, RGB24ToI420_AVX2, test::kTierAvx2, 0},
      {"RGB24ToI420@avx2", In::kRgb24, RGB24ToI420, test::kTierAvx2, test::kTierAvx2},
      {"RGB555ToI420", In::kRgb555, RGB555ToI420, 0, 0},
      {"RGB565ToI420", In::kRgb565, RGB565ToI420, 0, 0},
  };
  uint32_t seed = 15000;
  for (const Case& c : cases) {
    if (!Supported(c.needs)) continue;
    for (uint32_t width : RgbWidths()) {
      for (int32_t height : test::KernelTestHeights()) {
        seed += 5;
        const size_t rows = static_cast<size_t>(std::abs(height)), crows = (rows + 1) / 2;
        const size_t cw = (width + 1) / 2;
        const GuardedImage src(width * BytesPerPixel(c.in), rows, 9, seed, 2);
        GuardedImage ey(width, rows, 3, seed + 1), eu(cw, crows, 2, seed + 2, 1), ev(cw, crows, 2, seed + 3, 3);
        GuardedImage y(width, rows, 3, seed + 1), u(cw, crows, 2, seed + 2, 1), v(cw, crows, 2, seed + 3, 3);
        ReferencePlanar(ey, eu, ev, src, c.in, width, height);
        ForceTier(c.word);
        c.fn(y.data(), u.data(), v.data(), y.stride(), u.stride(), src.data(), src.stride(), width, height);
        ForceTier(0);
        ASSERT_EQ(FirstDifference(y.bytes(), ey.bytes()), -1) << c.name << " Y width " << width << " height " << height;
        ASSERT_EQ(FirstDifference(u.bytes(), eu.bytes()), -1) << c.name << " U width " << width << " height " << height;
        ASSERT_EQ(FirstDifference(v.bytes(), ev.bytes()), -1) << c.name << " V width " << width << " height " << height;
      }
    }
  }
}

// A row of `count` RGB32 pixels, all (b, g, r).
std::vector<uint8_t> Rgb32Row(std::initializer_list<std::array<uint8_t, 3>> pixels) {
  std::vector<uint8_t> row;
  for (const auto& p : pixels) row.insert(row.end(), {p[0], p[1], p[2], 0});
  return row;
}

std::array<uint8_t, 4> FirstMacropixel(RgbToPackedFn fn, const std::vector<uint8_t>& row, uint32_t width) {
  std::vector<uint8_t> out(width * 2 + 4, 0xEE);
  fn(out.data(), static_cast<int32_t>(out.size()), row.data(), static_cast<int32_t>(row.size()), width, 1);
  return {out[0], out[1], out[2], out[3]};
}

TEST(RgbToPacked, WorkedColours) {
  struct Example {
    std::array<uint8_t, 3> bgr;
    std::array<uint8_t, 4> yuy2;
  };
  const Example examples[] = {
      {{0, 0, 0}, {16, 128, 16, 128}},      // black
      {{255, 255, 255}, {235, 128, 235, 128}},  // white
      {{0, 0, 255}, {81, 90, 81, 239}},     // red
      {{255, 0, 0}, {40, 239, 40, 110}},    // blue
  };
  std::vector<std::pair<const char*, RgbToPackedFn>> fns = {{"portable", RGB32ToYUY2_C}};
  if (Supported(FEATURE_SSE2)) fns.push_back({"sse2", RGB32ToYUY2_SSE2});
  for (const Example& e : examples) {
    for (const auto& [name, fn] : fns) {
      // Eight equal pixels fill one SSE2 block.
      const auto row = Rgb32Row({e.bgr, e.bgr, e.bgr, e.bgr, e.bgr, e.bgr, e.bgr, e.bgr});
      EXPECT_EQ(FirstMacropixel(fn, row, 8), e.yuy2) << name;
    }
    const std::vector<uint8_t> rgb24 = {e.bgr[0], e.bgr[1], e.bgr[2], e.bgr[0], e.bgr[1], e.bgr[2]};
    std::array<uint8_t, 4> out{};
    RGB24ToYUY2(out.data(), 4, rgb24.data(), 6, 2, 1);
    EXPECT_EQ(out, e.yuy2) << "RGB24";
  }
}

TEST(RgbToPacked, OddGreenPairRoundsDifferentlyInSse2Blocks) {
  const std::array<uint8_t, 3> g1 = {0, 1, 0}, k = {0, 0, 0};
  const auto pair = Rgb32Row({g1, k});
  const auto portable = FirstMacropixel(RGB32ToYUY2_C, pair, 2);
  EXPECT_EQ(portable[1], 127);
  EXPECT_EQ(portable[3], 127);
  if (!Supported(FEATURE_SSE2)) return;
  const auto block = Rgb32Row({g1, k, k, k, k, k, k, k});
  const auto sse2 = FirstMacropixel(RGB32ToYUY2_SSE2, block, 8);
  EXPECT_EQ(sse2[1], 128);
  EXPECT_EQ(sse2[3], 128);
  // Outside a whole block the SSE2 variant uses the portable chroma.
  const auto tail = FirstMacropixel(RGB32ToYUY2_SSE2, pair, 2);
  EXPECT_EQ(tail[1], 127);
  EXPECT_EQ(tail[3], 127);
}

TEST(RgbToPacked, Width10Sse2AveragesTheBlockAndNotTheTail) {
  if (!Supported(FEATURE_SSE2)) return;
  const std::array<uint8_t, 3> g1 = {0, 1, 0}, k = {0, 0, 0};
  const auto row = Rgb32Row({g1, k, g1, k, g1, k, g1, k, g1, k});
  const std::vector<uint8_t> before = row;
  std::vector<uint8_t> out(24, 0xEE);
  RGB32ToYUY2_SSE2(out.data(), 24, row.data(), 40, 10, 1);
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(out[4 * m + 1], 128) << m;
    EXPECT_EQ(out[4 * m + 3], 128) << m;
  }
  EXPECT_EQ(out[17], 127);
  EXPECT_EQ(out[19], 127);
  EXPECT_EQ(out[20], 0xEE);
  EXPECT_EQ(row, before);
}

TEST(RgbToPacked, BottomUpRgb24WithNegativeHeightComesOutUpperRowFirst) {
  // Row 0 in memory is the picture's bottom row (black), row 1 its top row (white).
  const uint8_t rgb24[12] = {0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255};
  uint8_t out[8] = {};
  RGB24ToYUY2(out, 4, rgb24, 6, 2, -2);
  EXPECT_EQ(out[0], 235);
  EXPECT_EQ(out[4], 16);
}

TEST(RgbToPacked, Rgb555WhiteWidensTo248) {
  const uint8_t white[4] = {0xFF, 0x7F, 0xFF, 0x7F};
  uint8_t out[4] = {};
  RGB555ToYUY2(out, 4, white, 4, 2, 1);
  EXPECT_EQ(out[0], 229);  // Y of (248, 248, 248)
  EXPECT_EQ(out[2], 229);
  EXPECT_EQ(out[1], 128);
  EXPECT_EQ(out[3], 128);
  const uint8_t white565[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  RGB565ToYUY2(out, 4, white565, 4, 2, 1);
  EXPECT_EQ(out[0], (66 * 248 + 129 * 252 + 25 * 248) / 256 + 16);
}

TEST(RgbToPlanar, MmxVariantsLeaveFloatingPointUsable) {
  if (!Supported(FEATURE_MMX)) return;
  std::vector<uint8_t> src(64 * 2, 9), y(32), c(16);
  volatile double x = 1.5;
  for (RgbToPlanarFn fn : {RGB32ToI420_MMX, RGB24ToI420_MMX}) {
    fn(y.data(), c.data(), c.data() + 8, 16, 8, src.data(), 64, 16, 2);
    volatile double r = x * 3.0 + 0.25;
    EXPECT_EQ(r, 4.75);
  }
}

}  // namespace
