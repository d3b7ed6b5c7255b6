// Planar 4:2:0 to packed 4:2:2 and the 4:2:0 copy: every variant against an independent
// reference, guard and padding bytes included, and the worked examples.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "pixel/planar_packed.h"
#include "tests/pixel/guarded_image.h"
#include "tests/pixel/kernel_tiers.h"

namespace {

using test::FirstDifference;
using test::GuardedImage;

using test::ForceTier;
using test::Supported;

struct PlanarVariant {
  const char* name;
  PlanarToPackedFn fn;
  uint32_t needs;
};

struct PlanarCase {
  const char* entry;
  std::array<int, 4> pos;  // byte positions of Y(2j), Y(2j+1), U, V
  std::vector<PlanarVariant> variants;
  PlanarToPackedFn entryPoint;
};

std::vector<PlanarCase> PlanarCases() {
  return {
      {"I420ToYUY2", {0, 2, 1, 3},
       {{"portable", I420ToYUY2_C, 0}, {"mmx", I420ToYUY2_MMX, FEATURE_MMX}, {"sse2", I420ToYUY2_SSE2, FEATURE_SSE2},
        {"avx2", I420ToYUY2_AVX2, test::kTierAvx2}},
       I420ToYUY2},
      {"I420ToYVYU", {0, 2, 3, 1},
       {{"portable", I420ToYVYU_C, 0}, {"mmx", I420ToYVYU_MMX, FEATURE_MMX}, {"sse2", I420ToYVYU_SSE2, FEATURE_SSE2},
        {"avx2", I420ToYVYU_AVX2, test::kTierAvx2}},
       I420ToYVYU},
      {"I420ToUYVY", {1, 3, 0, 2},
       {{"portable", I420ToUYVY_C, 0}, {"mmx", I420ToUYVY_MMX, FEATURE_MMX}, {"sse2", I420ToUYVY_SSE2, FEATURE_SSE2},
        {"avx2", I420ToUYVY_AVX2, test::kTierAvx2}},
       I420ToUYVY},
      {"I420ToVYUY", {1, 3, 2, 0},
       {{"portable", I420ToVYUY_C, 0}, {"mmx", I420ToVYUY_MMX, FEATURE_MMX}, {"sse2", I420ToVYUY_SSE2, FEATURE_SSE2},
        {"avx2", I420ToVYUY_AVX2, test::kTierAvx2}},
       I420ToVYUY},
  };
}

// Output row k of |height| rows lands in destination row k, or |height| - 1 - k when the
// height is negative; chroma row i serves luma rows 2i and 2i + 1.
void ReferencePlanar(GuardedImage& dst, const GuardedImage& y, const GuardedImage& u,
                     const GuardedImage& v, uint32_t width, int32_t height,
                     const std::array<int, 4>& pos) {
  const size_t rows = static_cast<size_t>(std::abs(height));
  for (size_t r = 0; r < rows / 2 * 2; ++r) {
    uint8_t* d = dst.row(height < 0 ? rows - 1 - r : r);
    for (uint32_t j = 0; j < width / 2; ++j) {
      d[4 * j + pos[0]] = y.row(r)[2 * j];
      d[4 * j + pos[1]] = y.row(r)[2 * j + 1];
      d[4 * j + pos[2]] = u.row(r / 2)[j];
      d[4 * j + pos[3]] = v.row(r / 2)[j];
    }
  }
}

struct Planes {
  GuardedImage y, u, v;
  Planes(uint32_t width, size_t rows, size_t pad, uint32_t seed)
      : y(width, rows, pad, seed, 3),
        u((width + 1) / 2, (rows + 1) / 2, pad, seed + 1, 5),
        v((width + 1) / 2, (rows + 1) / 2, pad, seed + 2, 1) {}
};

TEST(PlanarToPacked, EveryVariantMatchesReferenceIncludingGuards) {
  const uint32_t words[] = {0, FEATURE_MMX, test::kTierSse2, test::kTierAvx2};
  uint32_t seed = 500;
  for (const PlanarCase& c : PlanarCases()) {
    for (uint32_t width : test::KernelTestWidths()) {
      for (int32_t height : test::KernelTestHeights()) {
        for (size_t pad : {size_t{0}, size_t{11}}) {
          seed += 3;
          const size_t rows = static_cast<size_t>(std::abs(height));
          const size_t rowBytes = ((width + 1) / 2) * 4;
          const Planes src(width, rows, pad, seed);
          GuardedImage expected(rowBytes, rows, pad + 2, seed + 99, 2);
          ReferencePlanar(expected, src.y, src.u, src.v, width, height, c.pos);
          auto check = [&](const std::string& who, PlanarToPackedFn fn) {
            GuardedImage dst(rowBytes, rows, pad + 2, seed + 99, 2);
            fn(dst.data(), dst.stride(), src.y.data(), src.u.data(), src.v.data(), src.y.stride(),
               src.u.stride(), width, height);
            ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1)
                << c.entry << "/" << who << " width " << width << " height " << height << " pad " << pad;
          };
          for (const PlanarVariant& v : c.variants)
            if (Supported(v.needs)) check(v.name, v.fn);
          for (uint32_t word : words) {
            if (!Supported(word)) continue;
            ForceTier(word);
            check("entry@" + std::to_string(word), c.entryPoint);
          }
          ForceTier(0);
        }
      }
    }
  }
}

// Runs fn on a Y plane of `width` x |height| bytes y[r][c] = 10 * (r * width + c + 1) and
// constant chroma U = 100, V = 200, into a destination of 2 * width + 2 bytes per row
// pre-filled with 0xEE.
std::vector<uint8_t> ConvertSmall(PlanarToPackedFn fn, uint32_t width, int32_t height) {
  const size_t rows = static_cast<size_t>(std::abs(height));
  std::vector<uint8_t> y(width * rows), u(width, 100), v(width, 200);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(10 * (i + 1));
  const int32_t stride = static_cast<int32_t>(2 * width + 2);
  std::vector<uint8_t> dst(stride * rows, 0xEE);
  fn(dst.data(), stride, y.data(), u.data(), v.data(), static_cast<int32_t>(width),
     static_cast<int32_t>(width / 2), width, height);
  return dst;
}

std::vector<PlanarVariant> YUY2Variants() {
  std::vector<PlanarVariant> all = PlanarCases()[0].variants, usable;
  for (const PlanarVariant& v : all)
    if (Supported(v.needs)) usable.push_back(v);
  return usable;
}

TEST(PlanarToPacked, TwoByTwoImage) {
  const uint8_t y[4] = {10, 20, 30, 40}, u[1] = {100}, v[1] = {200};
  for (const PlanarVariant& var : YUY2Variants()) {
    uint8_t dst[8] = {};
    var.fn(dst, 4, y, u, v, 2, 1, 2, 2);
    const uint8_t expected[8] = {10, 100, 20, 200, 30, 100, 40, 200};
    EXPECT_EQ(0, std::memcmp(dst, expected, 8)) << var.name;
  }
}

TEST(PlanarToPacked, YV12PlanesPassedAsYUVGiveTheSameOutput) {
  // One buffer laid out I420 (Y U V) and one YV12 (Y V U) holding the same 4x2 picture.
  const uint8_t i420[12] = {1, 2, 3, 4, 5, 6, 7, 8, 50, 51, 90, 91};
  const uint8_t yv12[12] = {1, 2, 3, 4, 5, 6, 7, 8, 90, 91, 50, 51};
  uint8_t a[16], b[16];
  I420ToYUY2(a, 8, i420, i420 + 8, i420 + 10, 4, 2, 4, 2);
  I420ToYUY2(b, 8, yv12, yv12 + 10, yv12 + 8, 4, 2, 4, 2);
  EXPECT_EQ(0, std::memcmp(a, b, 16));
  EXPECT_EQ(a[1], 50);
  EXPECT_EQ(a[3], 90);
}

TEST(PlanarToPacked, NegativeHeightTurnsThePictureUpsideDown) {
  for (const PlanarVariant& var : YUY2Variants()) {
    const std::vector<uint8_t> d = ConvertSmall(var.fn, 2, -4);
    // Luma row 0 (10, 20) lands in destination row 3, row 1 (30, 40) in row 2.
    const uint8_t* row3 = d.data() + 3 * 6;
    const uint8_t* row2 = d.data() + 2 * 6;
    EXPECT_EQ(row3[0], 10) << var.name;
    EXPECT_EQ(row3[2], 20) << var.name;
    EXPECT_EQ(row2[0], 30) << var.name;
    EXPECT_EQ(d[0], 70) << var.name;  // luma row 3 at the top
  }
}

TEST(PlanarToPacked, OddHeightLeavesTheLastRowUnchanged) {
  for (const PlanarVariant& var : YUY2Variants()) {
    const std::vector<uint8_t> d = ConvertSmall(var.fn, 2, 5);
    EXPECT_EQ(d[3 * 6], 70) << var.name;
    for (size_t i = 4 * 6; i < 5 * 6; ++i) EXPECT_EQ(d[i], 0xEE) << var.name << " byte " << i;
  }
}

TEST(PlanarToPacked, Widths6And7GiveTheSame12BytesPerRow) {
  std::vector<uint8_t> six;
  for (const PlanarVariant& var : YUY2Variants()) {
    // Same luma for both widths: build width 7 input whose first 6 columns match width 6.
    const uint8_t y6[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const uint8_t y7[14] = {1, 2, 3, 4, 5, 6, 99, 7, 8, 9, 10, 11, 12, 98};
    const uint8_t u[4] = {20, 21, 22, 23}, v[4] = {30, 31, 32, 33};
    std::vector<uint8_t> d6(2 * 16, 0xEE), d7(2 * 16, 0xEE);
    var.fn(d6.data(), 16, y6, u, v, 6, 3, 6, 2);
    var.fn(d7.data(), 16, y7, u, v, 7, 3, 7, 2);
    for (int r = 0; r < 2; ++r) {
      EXPECT_EQ(0, std::memcmp(d6.data() + 16 * r, d7.data() + 16 * r, 12)) << var.name;
      EXPECT_EQ(d7[16 * r + 12], 0xEE) << var.name;
      EXPECT_EQ(d7[16 * r + 13], 0xEE) << var.name;
    }
    if (six.empty()) six = d6;
    EXPECT_EQ(six, d6) << var.name;
  }
}

TEST(CopyI420, EveryVariantCopiesThreePlanes) {
  struct {
    const char* name;
    CopyI420Fn fn;
    uint32_t needs;
  } const variants[] = {{"portable", CopyI420_C, 0},
                        {"mmx", CopyI420_MMX, FEATURE_MMX},
                        {"sse2", CopyI420_SSE2, FEATURE_SSE2},
                        {"entry", CopyI420, 0}};
  uint32_t seed = 7000;
  for (uint32_t width : {0u, 1u, 2u, 5u, 33u, 130u, 257u}) {
    for (int32_t height : {-5, -4, -1, 0, 1, 3, 6}) {
      seed += 10;
      const size_t rows = static_cast<size_t>(std::abs(height));
      const size_t crows = static_cast<size_t>(std::abs(height / 2));
      const Planes src(width, rows, 7, seed);
      auto reference = [&](GuardedImage& d, const GuardedImage& s, size_t bytes, size_t n, bool up) {
        for (size_t r = 0; r < n; ++r) std::memcpy(d.row(r), s.row(up ? n - 1 - r : r), bytes);
      };
      Planes expected(width, rows, 3, seed + 5);
      reference(expected.y, src.y, width, rows, height < 0);
      reference(expected.u, src.u, width / 2, crows, height < 0);
      reference(expected.v, src.v, width / 2, crows, height < 0);
      for (const auto& [name, fn, needs] : variants) {
        if (!Supported(needs)) continue;
        Planes dst(width, rows, 3, seed + 5);
        fn(dst.y.data(), dst.u.data(), dst.v.data(), dst.y.stride(), dst.u.stride(), src.y.data(),
           src.u.data(), src.v.data(), src.y.stride(), src.u.stride(), width, height);
        ASSERT_EQ(FirstDifference(dst.y.bytes(), expected.y.bytes()), -1) << name << " Y " << width << "x" << height;
        ASSERT_EQ(FirstDifference(dst.u.bytes(), expected.u.bytes()), -1) << name << " U " << width << "x" << height;
        ASSERT_EQ(FirstDifference(dst.v.bytes(), expected.v.bytes()), -1) << name << " V " << width << "x" << height;
      }
    }
  }
}

TEST(PlanarToPacked, MmxVariantsLeaveFloatingPointUsable) {
  if (!Supported(FEATURE_MMX)) return;
  std::vector<uint8_t> y(64, 1), c(32, 2), dst(256);
  volatile double x = 1.5;
  for (PlanarToPackedFn fn : {I420ToYUY2_MMX, I420ToYVYU_MMX, I420ToUYVY_MMX, I420ToVYUY_MMX}) {
    fn(dst.data(), 64, y.data(), c.data(), c.data(), 32, 16, 32, 2);
    volatile double r = x * 3.0 + 0.25;
    EXPECT_EQ(r, 4.75);
  }
}

}  // namespace
