// Copies and packed 4:2:2 reorders: every variant against an independent reference,
// guard and padding bytes included, and the dispatch rule.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "pixel/copy_reorder.h"
#include "pixel/dispatch.h"
#include "pixel/pixel_kernels.h"
#include "tests/pixel/guarded_image.h"
#include "tests/pixel/kernel_tiers.h"

namespace {

using test::FirstDifference;
using test::GuardedImage;

struct Variant {
  const char* name;
  PackedKernelFn fn;
  uint32_t needs;  // feature bit the processor must have, 0 for portable
};

using test::ForceTier;
using test::Supported;

// Applies `perm` (out[j] = in[perm[j]]) to width/2 macropixels per row, reading the
// source bottom-up for a negative height.
void ReferenceReorder(GuardedImage& dst, const GuardedImage& src, uint32_t width, int32_t height,
                      const std::array<int, 4>& perm) {
  const size_t rows = static_cast<size_t>(std::abs(height));
  for (size_t y = 0; y < rows; ++y) {
    const uint8_t* s = src.row(height < 0 ? rows - 1 - y : y);
    uint8_t* d = dst.row(y);
    for (uint32_t p = 0; p < width / 2; ++p)
      for (int j = 0; j < 4; ++j) d[p * 4 + j] = s[p * 4 + perm[j]];
  }
}

struct ReorderCase {
  const char* entry;
  std::array<int, 4> perm;
  std::vector<Variant> variants;
  PackedKernelFn entryPoint;
};

std::vector<ReorderCase> ReorderCases() {
  return {
      {"UYVYToYUY2", {1, 0, 3, 2},
       {{"portable", UYVYToYUY2_C, 0}, {"mmx", UYVYToYUY2_MMX, FEATURE_MMX}, {"sse2", UYVYToYUY2_SSE2, FEATURE_SSE2},
        {"avx2", UYVYToYUY2_AVX2, test::kTierAvx2}},
       UYVYToYUY2},
      {"YUY2ToUYVY", {1, 0, 3, 2}, {{"portable", UYVYToYUY2_C, 0}}, YUY2ToUYVY},
      {"VYUYToYUY2", {1, 2, 3, 0}, {{"portable", VYUYToYUY2_C, 0}, {"avx2", VYUYToYUY2_AVX2, test::kTierAvx2}},
       VYUYToYUY2},
      {"YUY2ToVYUY", {3, 0, 1, 2},
       {{"portable", YUY2ToVYUY_C, 0}, {"mmx", YUY2ToVYUY_MMX, FEATURE_MMX}, {"sse2", YUY2ToVYUY_SSE2, FEATURE_SSE2},
        {"avx2", YUY2ToVYUY_AVX2, test::kTierAvx2}},
       YUY2ToVYUY},
      {"YVYUToYUY2", {0, 3, 2, 1},
       {{"portable", YVYUToYUY2_C, 0}, {"mmx", YVYUToYUY2_MMX, FEATURE_MMX}, {"sse2", YVYUToYUY2_SSE2, FEATURE_SSE2},
        {"avx2", YVYUToYUY2_AVX2, test::kTierAvx2}},
       YVYUToYUY2},
      {"YUY2ToYVYU", {0, 3, 2, 1}, {{"portable", YVYUToYUY2_C, 0}}, YUY2ToYVYU},
  };
}

// Every variant and the entry point (under every dispatch word) match the reference
// byte for byte over the whole destination allocation.
TEST(PackedReorder, EveryVariantMatchesReferenceIncludingGuards) {
  const uint32_t words[] = {0, FEATURE_MMX, test::kTierSse2, test::kTierAvx2};
  uint32_t seed = 1;
  for (const ReorderCase& c : ReorderCases()) {
    for (uint32_t width : test::KernelTestWidths()) {
      for (int32_t height : test::KernelTestHeights()) {
        for (size_t pad : {size_t{0}, size_t{13}}) {
          ++seed;
          const size_t rows = static_cast<size_t>(std::abs(height));
          const size_t rowBytes = (width / 2) * 4 + (width & 1) * 2;
          const GuardedImage src(rowBytes, rows, pad, seed, /*shift=*/3);
          GuardedImage expected(rowBytes, rows, pad, seed + 7777, 1);
          ReferenceReorder(expected, src, width, height, c.perm);
          auto check = [&](const std::string& who, PackedKernelFn fn) {
            GuardedImage dst(rowBytes, rows, pad, seed + 7777, 1);
            fn(dst.data(), dst.stride(), src.data(), src.stride(), width, height);
            const long at = FirstDifference(dst.bytes(), expected.bytes());
            ASSERT_EQ(at, -1) << c.entry << "/" << who << " width " << width << " height " << height
                              << " pad " << pad;
          };
          for (const Variant& v : c.variants)
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

TEST(PackedReorder, WorkedExamples) {
  struct Example {
    PackedKernelFn fn;
    std::array<uint8_t, 4> in, out;
  };
  // Bytes named after their meaning: U=1 Y0=2 V=3 Y1=4.
  const Example examples[] = {
      {UYVYToYUY2, {1, 2, 3, 4}, {2, 1, 4, 3}},  // U Y0 V Y1 -> Y0 U Y1 V
      {VYUYToYUY2, {3, 2, 1, 4}, {2, 1, 4, 3}},  // V Y0 U Y1 -> Y0 U Y1 V
      {YUY2ToVYUY, {2, 1, 4, 3}, {3, 2, 1, 4}},  // and back
      {YVYUToYUY2, {2, 3, 4, 1}, {2, 1, 4, 3}},  // Y0 V Y1 U -> Y0 U Y1 V
  };
  for (const Example& e : examples) {
    std::array<uint8_t, 4> out{};
    e.fn(out.data(), 4, e.in.data(), 4, 2, 1);
    EXPECT_EQ(out, e.out);
  }
  // The swap is its own inverse.
  const uint8_t frame[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  uint8_t once[8], twice[8];
  UYVYToYUY2(once, 8, frame, 8, 4, 1);
  UYVYToYUY2(twice, 8, once, 8, 4, 1);
  EXPECT_EQ(0, std::memcmp(frame, twice, 8));
}

TEST(RowCopy, EveryVariantMatchesReferenceIncludingGuards) {
  const Variant variants[] = {
      {"portable", CopyYUY2_C, 0}, {"mmx", CopyYUY2_MMX, FEATURE_MMX}, {"sse2", CopyYUY2_SSE2, FEATURE_SSE2}};
  uint32_t seed = 99;
  for (uint32_t width : test::KernelTestWidths()) {
    for (int32_t height : test::KernelTestHeights()) {
      ++seed;
      const size_t rows = static_cast<size_t>(std::abs(height));
      const GuardedImage src(width * 2, rows, 5, seed, 1);
      GuardedImage expected(width * 2, rows, 9, seed + 1);
      for (size_t y = 0; y < rows; ++y)
        std::memcpy(expected.row(y), src.row(height < 0 ? rows - 1 - y : y), width * 2);
      for (const Variant& v : variants) {
        if (!Supported(v.needs)) continue;
        GuardedImage dst(width * 2, rows, 9, seed + 1);
        v.fn(dst.data(), dst.stride(), src.data(), src.stride(), width, height);
        ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1)
            << v.name << " width " << width << " height " << height;
        // CopyRGB32 moves 4 bytes a pixel: half the width covers the same bytes.
        if (width % 2 == 0 && v.needs == 0) {
          GuardedImage rgb(width * 2, rows, 9, seed + 1);
          CopyRGB32(rgb.data(), rgb.stride(), src.data(), src.stride(), width / 2, height);
          ASSERT_EQ(FirstDifference(rgb.bytes(), expected.bytes()), -1) << "CopyRGB32 width " << width;
        }
      }
    }
  }
}

TEST(CopyBytes, EveryVariantCopiesExactlyCount) {
  const std::pair<const char*, CopyBytesFn> variants[] = {
      {"portable", CopyBytes_C}, {"mmx", CopyBytes_MMX}, {"sse2", CopyBytes_SSE2}};
  std::vector<uint32_t> counts;
  for (uint32_t n = 0; n <= 300; ++n) counts.push_back(n);
  for (uint32_t n : {1000u, 4095u, 65537u}) counts.push_back(n);
  for (uint32_t count : counts) {
    for (size_t shift : {size_t{0}, size_t{5}}) {
      const GuardedImage src(count, 1, 0, count + 3, shift);
      GuardedImage expected(count, 1, 0, count + 4, 7 - shift);
      std::memcpy(expected.data(), src.data(), count);
      for (const auto& [name, fn] : variants) {
        GuardedImage dst(count, 1, 0, count + 4, 7 - shift);
        fn(dst.data(), src.data(), count);
        ASSERT_EQ(FirstDifference(dst.bytes(), expected.bytes()), -1) << name << " count " << count;
      }
    }
  }
}

TEST(Dispatch, RuleFallsThroughMissingVariants) {
  using Fn = void (*)();
  const Fn s = [] {}, m = [] {}, p = [] {};
  struct Row {
    uint32_t word;
    Fn sse2, mmx, expected;
  };
  const Row rows[] = {
      {0, s, m, p},
      {FEATURE_SSE, s, m, p},  // SSE alone selects nothing
      {FEATURE_MMX, s, m, m},
      {FEATURE_MMX | FEATURE_SSE2, s, m, s},
      {FEATURE_SSE2, s, m, s},
      {FEATURE_MMX | FEATURE_SSE2, nullptr, m, m},
      {FEATURE_MMX | FEATURE_SSE2, nullptr, nullptr, p},
      {FEATURE_MMX, s, nullptr, p},
  };
  for (const Row& r : rows) {
    SetPixelDispatchWord(r.word);
    EXPECT_EQ(PickKernel<Fn>(r.sse2, r.mmx, p), r.expected) << std::hex << r.word;
  }
  SetPixelDispatchWord(0);
}

// AVX2 is taken only where the dispatch word allows SSE2, and only when its tier is on.
TEST(Dispatch, Avx2TierOnlyWhereTheWordAllowsSse2) {
  using Fn = void (*)();
  const Fn a = [] {}, s = [] {}, m = [] {}, p = [] {};
  struct Row {
    uint32_t word, extended;
    Fn avx2, expected;
  };
  const Row rows[] = {
      {FEATURE_MMX | FEATURE_SSE2, EXTENDED_AVX2, a, a},
      {FEATURE_MMX | FEATURE_SSE2, 0, a, s},
      {FEATURE_MMX | FEATURE_SSE2, EXTENDED_AVX2, nullptr, s},
      {FEATURE_MMX, EXTENDED_AVX2, a, m},
      {FEATURE_SSE, EXTENDED_AVX2, a, p},
      {0, EXTENDED_AVX2, a, p},
  };
  for (const Row& r : rows) {
    SetPixelDispatchWord(r.word);
    SetPixelExtendedWord(r.extended);
    EXPECT_EQ(PickKernel<Fn>(r.avx2, s, m, p), r.expected) << std::hex << r.word << " " << r.extended;
  }
  ForceTier(0);
}

TEST(Dispatch, InitialisationProbesOnceAndRepublishes) {
  ResetPixelKernelsForTest();
  EXPECT_EQ(PixelDispatchWord(), 0u);
  EXPECT_EQ(PixelExtendedWord(), 0u);
  const uint32_t first = InitPixelKernels();
  EXPECT_EQ(first, ProbeCpuFeatures());
  EXPECT_EQ(first & ~kFeatureMask, 0u);
  EXPECT_EQ(PixelDispatchWord(), first);
  EXPECT_EQ(PixelExtendedWord(), ProbeExtendedFeatures());
  ForceTier(0);
  EXPECT_EQ(InitPixelKernels(), first);  // from the cache, and published again
  EXPECT_EQ(PixelDispatchWord(), first);
  EXPECT_EQ(PixelExtendedWord(), ProbeExtendedFeatures());
  EXPECT_EQ(DecodeCpuFeatures(0xFFFFFFFFu), 0x17808010u);
  EXPECT_EQ(DecodeCpuFeatures(0x0F8BFBFFu), 0x07808010u);  // a common leaf-1 EDX
  ResetPixelKernelsForTest();
}

// After an MMX kernel the x87 unit must be usable again (EMMS); on i686 doubles use it.
TEST(Dispatch, MmxVariantsLeaveFloatingPointUsable) {
  if (!Supported(FEATURE_MMX)) return;
  uint8_t src[64] = {1}, dst[64];
  volatile double x = 1.5;
  const PackedKernelFn kernels[] = {UYVYToYUY2_MMX, YUY2ToVYUY_MMX, YVYUToYUY2_MMX, CopyYUY2_MMX};
  for (PackedKernelFn fn : kernels) {
    fn(dst, 64, src, 64, 32, 1);
    volatile double y = x * 3.0 + 0.25;
    EXPECT_EQ(y, 4.75);
  }
  CopyBytes_MMX(dst, src, 64);
  volatile double z = x / 3.0;
  EXPECT_EQ(z, 0.5);
}

}  // namespace
