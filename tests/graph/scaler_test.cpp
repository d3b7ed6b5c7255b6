// The YUY2 scaler: every variant against a model of its stated arithmetic on random
// frames, the worked examples, and guard pages behind the source's last byte.
#include "graph/scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pixel/dispatch.h"
#include "platform/guard_page.h"

namespace {

using ScaleFn = void (*)(const uint8_t*, int32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);

struct Variant {
  const char* name;
  ScaleFn fn;
  uint32_t needs;  // SCALER_CPU_* flags the processor must have
  bool sse2Rule;
  bool avx2 = false;  // runs only where ScalerHasAvx2()
};

std::vector<Variant> Variants() {
  std::vector<Variant> all = {{"portable", ScaleYuy2Portable, 0, false},
                              {"mmx", ScaleYuy2Mmx, SCALER_CPU_MMX, false},
                              {"sse2", ScaleYuy2Sse2, SCALER_CPU_SSE2, true},
                              {"avx2", ScaleYuy2Avx2, SCALER_CPU_SSE2, true, true}},
                       usable;
  for (const Variant& v : all)
    if ((GetScalerCpuFlags() & v.needs) == v.needs && (!v.avx2 || ScalerHasAvx2())) usable.push_back(v);
  return usable;
}

int FloorShift8(int v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }
int Lerp(int a, int b, int w) { return a + FloorShift8((b - a) * w); }

// Bytes whose last one ends a page, followed by a no-access page: a scaler reading or
// writing past a frame faults at once.
class PageEndBytes {
 public:
  explicit PageEndBytes(size_t n) : mem_(std::make_unique<platform::GuardPageBuffer>(n)), n_(n) {
    if (n_ > 0 && mem_->data() == nullptr) std::abort();
  }
  uint8_t* data() { return mem_->data(); }
  const uint8_t* data() const { return mem_->data(); }
  uint8_t& operator[](size_t i) { return data()[i]; }
  uint8_t* begin() { return data(); }
  uint8_t* end() { return data() + n_; }
  bool operator==(const PageEndBytes& o) const { return n_ == o.n_ && std::memcmp(data(), o.data(), n_) == 0; }

 private:
  std::unique_ptr<platform::GuardPageBuffer> mem_;
  size_t n_;
};

struct Frame {
  int width, height, stride;
  PageEndBytes bytes;
  Frame(int w, int h, int pad, uint32_t seed)
      : width(w), height(h), stride((w + 1) / 2 * 4 + pad), bytes(static_cast<size_t>(stride) * h) {
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  }
  uint8_t* row(int r) { return bytes.data() + static_cast<size_t>(r) * stride; }
  const uint8_t* row(int r) const { return bytes.data() + static_cast<size_t>(r) * stride; }
};

// The scaler's stated arithmetic, written from positions j * hs and r * vs; neighbours
// of a one-pixel or one-row source are the sample itself (their weight is 0).
void Model(const Frame& src, Frame& dst, bool sse2Rule) {
  const int hs = (src.width * 256 - 256) / dst.width, vs = (src.height * 256 - 256) / dst.height;
  auto macropixel = [](int i) { return 2 * i - 2 * (i & 1); };
  for (int r = 0; r < dst.height; ++r) {
    const int y = r * vs, g = y & 255;
    const uint8_t* up = src.row(y >> 8);
    const uint8_t* lo = src.row(std::min((y >> 8) + 1, src.height - 1));
    uint8_t* d = dst.row(r);
    int first = 0;
    for (int j = 0; j < dst.width / 2 * 2; ++j) {
      const int x = j * hs, i = x >> 8, f = x & 255, n = std::min(i + 1, src.width - 1);
      int luma;
      if (sse2Rule) {
        const int va = Lerp(up[2 * i], lo[2 * i], g), vb = Lerp(up[2 * n], lo[2 * n], g);
        luma = (va * (255 - f) + vb * f) >> 8;
      } else {
        luma = Lerp(Lerp(up[2 * i], up[2 * n], f), Lerp(lo[2 * i], lo[2 * n], f), g);
      }
      d[2 * j] = static_cast<uint8_t>(luma);
      if (j % 2 == 0) {
        first = i;
        d[2 * j + 1] = up[macropixel(i) + 1];
      } else {
        d[2 * j + 1] = up[macropixel(sse2Rule ? first : i) + 3];
      }
    }
  }
}

void ScaleFrame(ScaleFn fn, const Frame& src, Frame& dst) {
  fn(src.bytes.data(), src.width, src.height, src.stride, dst.bytes.data(), dst.width, dst.height, dst.stride);
}

struct Job {
  int sw, sh, dw, dh;
};

TEST(ScaleYuy2, EveryVariantFollowsItsArithmeticOnRandomFrames) {
  const Job jobs[] = {{640, 480, 320, 240}, {320, 240, 640, 480}, {33, 17, 65, 9}, {64, 2, 7, 5},
                      {17, 31, 16, 16},     {1, 5, 9, 4},         {9, 1, 11, 3},   {1, 1, 6, 2},
                      {2, 2, 2, 2},         {100, 3, 5000, 2},    {7, 7, 1, 1},    {1000, 4, 999, 3}};
  uint32_t seed = 1;
  for (const Job& job : jobs) {
    for (int pad : {0, 6}) {
      const Frame src(job.sw, job.sh, pad, ++seed);
      for (const Variant& v : Variants()) {
        Frame expected(job.dw, job.dh, pad + 2, seed + 100), dst(job.dw, job.dh, pad + 2, seed + 100);
        Model(src, expected, v.sse2Rule);
        ScaleFrame(v.fn, src, dst);
        ASSERT_EQ(dst.bytes, expected.bytes) << v.name << " " << job.sw << "x" << job.sh << "->" << job.dw << "x"
                                             << job.dh << " pad " << pad;
      }
    }
  }
}

// The SSE2 variant against the portable one: luma within -1..+2 of it, U equal, V from
// the macropixel of the output macropixel's first pixel.
TEST(ScaleYuy2, Sse2DiffersFromPortableOnlyAsStated) {
  if (!(GetScalerCpuFlags() & SCALER_CPU_SSE2)) return;
  const Frame src(333, 97, 10, 77);
  Frame a(201, 150, 0, 5), b(201, 150, 0, 5);
  ScaleFrame(ScaleYuy2Portable, src, a);
  ScaleFrame(ScaleYuy2Sse2, src, b);
  int lumaDiffering = 0, vDiffering = 0;
  for (int r = 0; r < a.height; ++r) {
    for (int k = 0; k < a.width / 2 * 4; ++k) {
      const int p = a.row(r)[k], s = b.row(r)[k];
      if (k % 2 == 0) {
        EXPECT_GE(p - s, -1);
        EXPECT_LE(p - s, 2);
        lumaDiffering += p != s;
      } else if (k % 4 == 1) {
        EXPECT_EQ(p, s);
      } else {
        vDiffering += p != s;
      }
    }
  }
  EXPECT_GT(lumaDiffering, 0);
  EXPECT_GT(vDiffering, 0);
}

TEST(ScaleYuy2, HalvingSteps511And510BlendPixels1And2) {
  Frame src(640, 480, 0, 3);
  // Luma of source pixels 1 and 2: 0 and 255 in row 1, 100 and 100 in row 2.
  src.row(1)[2] = 0;
  src.row(1)[4] = 255;
  src.row(2)[2] = 100;
  src.row(2)[4] = 100;
  for (const Variant& v : Variants()) {
    Frame dst(320, 240, 0, 4);
    ScaleFrame(v.fn, src, dst);
    // Output row 1 at y = 510: rows 1 and 2 with g = 254; output pixel 1 at x = 511:
    // pixels 1 and 2 with f = 255.
    const int portable = Lerp(Lerp(0, 255, 255), Lerp(100, 100, 255), 254);
    const int sse2 = (Lerp(0, 100, 254) * (255 - 255) + Lerp(255, 100, 254) * 255) >> 8;
    EXPECT_EQ(portable, 101);
    EXPECT_EQ(sse2, 100);
    EXPECT_EQ(dst.row(1)[2], v.sse2Rule ? sse2 : portable) << v.name;
  }
}

TEST(ScaleYuy2, UpscalingNeverReadsPastTheSourcesLastRow) {
  const int stride = 640;
  platform::GuardPageBuffer guarded(static_cast<size_t>(stride) * 240);
  ASSERT_NE(guarded.data(), nullptr);
  std::mt19937 rng(9);
  for (size_t i = 0; i < guarded.size(); ++i) guarded.data()[i] = static_cast<uint8_t>(rng());
  Frame copy(320, 240, 0, 0);
  std::memcpy(copy.bytes.data(), guarded.data(), guarded.size());
  for (const Variant& v : Variants()) {
    Frame dst(640, 480, 0, 1), expected(640, 480, 0, 1);
    v.fn(guarded.data(), 320, 240, stride, dst.bytes.data(), 640, 480, dst.stride);
    Model(copy, expected, v.sse2Rule);
    EXPECT_EQ(dst.bytes, expected.bytes) << v.name;
    // The last output row: y = 479 * 127 = 60833, rows 237 and 238 with g = 161.
    const uint8_t* u = copy.row(237);
    const uint8_t* l = copy.row(238);
    const int blended = Lerp(u[0], l[0], 161);
    EXPECT_EQ(dst.row(479)[0], v.sse2Rule ? blended * 255 >> 8 : blended) << v.name;
  }
}

// A source of one row (or one pixel) has no lower (or right) neighbour to read.
TEST(ScaleYuy2, OneRowAndOnePixelSourcesStayInsideTheirBytes) {
  struct Case {
    int w, h, stride;
  };
  for (const Case& c : {Case{9, 1, 20}, Case{1, 1, 4}, Case{1, 3, 4}, Case{2, 1, 4}}) {
    platform::GuardPageBuffer guarded(static_cast<size_t>(c.stride) * c.h);
    ASSERT_NE(guarded.data(), nullptr);
    Frame copy(c.w, c.h, c.stride - (c.w + 1) / 2 * 4, 0);
    for (size_t i = 0; i < guarded.size(); ++i) guarded.data()[i] = copy.bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    for (const Variant& v : Variants()) {
      Frame dst(12, 5, 0, 2), expected(12, 5, 0, 2);
      v.fn(guarded.data(), c.w, c.h, c.stride, dst.bytes.data(), 12, 5, dst.stride);
      Model(copy, expected, v.sse2Rule);
      EXPECT_EQ(dst.bytes, expected.bytes) << v.name << " " << c.w << "x" << c.h;
    }
  }
}

TEST(ScaleYuy2, ConstantLumaStaysConstantExceptSse2LosesOneLevel) {
  for (int luma : {0, 1, 16, 128, 235, 255}) {
    Frame src(50, 30, 2, 8);
    for (int r = 0; r < src.height; ++r)
      for (int i = 0; i < src.width; ++i) src.row(r)[2 * i] = static_cast<uint8_t>(luma);
    for (const Job& job : {Job{50, 30, 17, 11}, Job{50, 30, 123, 77}}) {
      for (const Variant& v : Variants()) {
        Frame dst(job.dw, job.dh, 0, 3);
        ScaleFrame(v.fn, src, dst);
        const int expected = v.sse2Rule ? std::max(luma - 1, 0) : luma;
        for (int r = 0; r < dst.height; ++r)
          for (int j = 0; j < dst.width / 2 * 2; ++j)
            ASSERT_EQ(dst.row(r)[2 * j], expected) << v.name << " Y " << luma << " at " << j << "," << r;
      }
    }
  }
}

TEST(ScaleYuy2, RampScaledDownStaysMonotonic) {
  Frame src(256, 8, 0, 5);
  for (int r = 0; r < src.height; ++r)
    for (int i = 0; i < src.width; ++i) src.row(r)[2 * i] = static_cast<uint8_t>(i);
  for (const Variant& v : Variants()) {
    Frame dst(128, 4, 0, 6);
    ScaleFrame(v.fn, src, dst);
    for (int r = 0; r < dst.height; ++r)
      for (int j = 1; j < dst.width; ++j) ASSERT_LE(dst.row(r)[2 * j - 2], dst.row(r)[2 * j]) << v.name << " " << j;
  }
}

TEST(ScaleYuy2, ChromaBytesAreCopiesFromTheUpperRow) {
  Frame src(40, 6, 0, 0);
  // Every chroma byte of the source is distinct and names its own position.
  uint8_t next = 0;
  for (int r = 0; r < src.height; ++r)
    for (int k = 1; k < src.width * 2; k += 2) src.row(r)[k] = next++;
  for (const Variant& v : Variants()) {
    Frame dst(31, 13, 0, 7);
    ScaleFrame(v.fn, src, dst);
    const int vs = (src.height * 256 - 256) / dst.height;
    for (int r = 0; r < dst.height; ++r) {
      const int upper = (r * vs) >> 8;
      for (int k = 1; k < dst.width / 2 * 4; k += 2) {
        const int value = dst.row(r)[k];
        const int from = value / (src.width), column = (value % src.width) * 2 + 1;
        EXPECT_EQ(from, upper) << v.name << " row " << r << " byte " << k;
        EXPECT_EQ(column % 4, k % 4) << v.name << " U stays U and V stays V";
      }
    }
  }
}

TEST(ScaleYuy2, OddDestinationWidthLeavesTheLastPixelOfEveryRowUntouched) {
  const Frame src(64, 16, 0, 12);
  for (const Variant& v : Variants()) {
    Frame dst(21, 9, 5, 13);
    const Frame before(21, 9, 5, 13);  // the same bytes as dst
    ScaleFrame(v.fn, src, dst);
    for (int r = 0; r < dst.height; ++r)
      for (int k = 40; k < dst.stride; ++k) ASSERT_EQ(dst.row(r)[k], before.row(r)[k]) << v.name << " row " << r;
  }
}

TEST(ScaleYuy2, UnusableSizesWriteNothing) {
  const Frame src(16, 16, 0, 14);
  const Job jobs[] = {{16, 16, 0, 8},   {16, 16, 8, 0},        {0, 16, 8, 8},         {16, 0, 8, 8},
                      {-16, 16, 8, 8},  {16, -16, 8, 8},       {16, 16, -8, 8},       {16, 16, 8, -8},
                      {16, 16, 0x800000, 1}, {0x800000, 16, 8, 8}};
  for (const Job& job : jobs) {
    for (const Variant& v : Variants()) {
      std::vector<uint8_t> dst(64 * 16, 0xAB);
      v.fn(src.bytes.data(), job.sw, job.sh, src.stride, dst.data(), job.dw, job.dh, 32);
      EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t b) { return b == 0xAB; }))
          << v.name << " " << job.sw << "x" << job.sh << "->" << job.dw << "x" << job.dh;
    }
  }
}

TEST(ScaleYuy2, DispatchFollowsTheProcessorFlags) {
  const uint32_t features = ProbeCpuFeatures();
  uint32_t expectedFlags = 0;
  if (features & FEATURE_MMX) expectedFlags |= SCALER_CPU_MMX;
  if (features & FEATURE_SSE2) expectedFlags |= SCALER_CPU_SSE2;
  EXPECT_EQ(GetScalerCpuFlags(), expectedFlags);
  EXPECT_EQ(GetScalerCpuFlags(), expectedFlags);
  const Frame src(77, 41, 3, 15);
  Frame viaEntry(50, 60, 0, 16), viaVariant(50, 60, 0, 16);
  ScaleFrame(ScaleYuy2, src, viaEntry);
  const uint32_t flags = GetScalerCpuFlags();
  const ScaleFn sse2 = ScalerHasAvx2() ? ScaleYuy2Avx2 : ScaleYuy2Sse2;
  ScaleFrame(flags & SCALER_CPU_SSE2 ? sse2 : flags & SCALER_CPU_MMX ? ScaleYuy2Mmx : ScaleYuy2Portable, src,
             viaVariant);
  EXPECT_EQ(viaEntry.bytes, viaVariant.bytes);
}

TEST(ScaleYuy2, MmxVariantLeavesFloatingPointUsable) {
  if (!(GetScalerCpuFlags() & SCALER_CPU_MMX)) return;
  const Frame src(20, 10, 0, 17);
  Frame dst(9, 7, 0, 18);
  ScaleFrame(ScaleYuy2Mmx, src, dst);
  volatile double x = 1.5;
  volatile double r = x * 3.0 + 0.25;
  EXPECT_EQ(r, 4.75);
}

}  // namespace
