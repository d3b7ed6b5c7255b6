// Kernel throughput per variant at 640x480 and 1920x1080, beside memcpy of the
// destination frame.
#include "bench/frame_bench.h"
#include "graph/scaler.h"
#include "pixel/copy_reorder.h"
#include "pixel/dispatch.h"
#include "pixel/planar_packed.h"
#include "pixel/rgb_yuv.h"

namespace {

using bench::Dims;
using bench::RandomBytes;
using bench::Size;

// AVX2 variants are registered only on a processor that runs them.
bool Runs(const char* variant) {
  return std::string(variant) != "avx2" || (ProbeExtendedFeatures() & EXTENDED_AVX2) != 0;
}

struct PackedVariant {
  const char* entry;
  const char* variant;
  PackedKernelFn fn;
};

const PackedVariant kPacked[] = {
    {"CopyYUY2", "sse2", CopyYUY2_SSE2},     {"CopyYUY2", "mmx", CopyYUY2_MMX},
    {"CopyYUY2", "portable", CopyYUY2_C},    {"UYVYToYUY2", "avx2", UYVYToYUY2_AVX2},
    {"UYVYToYUY2", "sse2", UYVYToYUY2_SSE2},  {"VYUYToYUY2", "avx2", VYUYToYUY2_AVX2},
    {"UYVYToYUY2", "mmx", UYVYToYUY2_MMX},   {"UYVYToYUY2", "portable", UYVYToYUY2_C},
    {"VYUYToYUY2", "portable", VYUYToYUY2_C}, {"YUY2ToVYUY", "sse2", YUY2ToVYUY_SSE2},
    {"YUY2ToVYUY", "mmx", YUY2ToVYUY_MMX},   {"YUY2ToVYUY", "portable", YUY2ToVYUY_C},
    {"YVYUToYUY2", "sse2", YVYUToYUY2_SSE2}, {"YVYUToYUY2", "mmx", YVYUToYUY2_MMX},
    {"YVYUToYUY2", "portable", YVYUToYUY2_C},
};

struct PlanarVariant {
  const char* variant;
  PlanarToPackedFn fn;
};

const PlanarVariant kI420ToYUY2[] = {
    {"avx2", I420ToYUY2_AVX2}, {"sse2", I420ToYUY2_SSE2}, {"mmx", I420ToYUY2_MMX}, {"portable", I420ToYUY2_C}};

struct RgbPackedVariant {
  const char* entry;
  const char* variant;
  RgbToPackedFn fn;
  int bytesPerPixel;
};

const RgbPackedVariant kRgbPacked[] = {
    {"RGB32ToYUY2", "avx2", RGB32ToYUY2_AVX2, 4},
    {"RGB32ToYUY2", "sse2", RGB32ToYUY2_SSE2, 4},
    {"RGB32ToYUY2", "portable", RGB32ToYUY2_C, 4},
    {"RGB24ToYUY2", "avx2", RGB24ToYUY2_AVX2, 3},
    {"RGB24ToYUY2", "sse2", RGB24ToYUY2_SSE2, 3},
    {"RGB24ToYUY2", "portable", RGB24ToYUY2_C, 3},
};

struct RgbPlanarVariant {
  const char* entry;
  const char* variant;
  RgbToPlanarFn fn;
  int bytesPerPixel;
};

const RgbPlanarVariant kRgbPlanar[] = {
    {"RGB32ToI420", "avx2", RGB32ToI420_AVX2, 4}, {"RGB24ToI420", "avx2", RGB24ToI420_AVX2, 3},
    {"RGB32ToI420", "sse2", RGB32ToI420_SSE2, 4}, {"RGB32ToI420", "mmx", RGB32ToI420_MMX, 4},
    {"RGB32ToI420", "portable", RGB32ToI420_C, 4}, {"RGB24ToI420", "sse2", RGB24ToI420_SSE2, 3},
    {"RGB24ToI420", "mmx", RGB24ToI420_MMX, 3},   {"RGB24ToI420", "portable", RGB24ToI420_C, 3},
};

const std::pair<const char*, CopyBytesFn> kCopyBytes[] = {
    {"sse2", CopyBytes_SSE2}, {"mmx", CopyBytes_MMX}, {"portable", CopyBytes_C}};

void RegisterAll() {
  for (Size s : {Size{640, 480}, Size{1920, 1080}}) {
    const size_t frameBytes = static_cast<size_t>(s.w) * 2 * s.h;
    bench::RegisterMemcpyBaseline(s, frameBytes);
    for (const auto& [variant, fn] : kCopyBytes) {
      benchmark::RegisterBenchmark(
          (std::string("CopyBytes/") + variant + "/" + Dims(s)).c_str(),
          [fn = fn, frameBytes](benchmark::State& st) {
            std::vector<uint8_t> src = RandomBytes(frameBytes, 2), dst(frameBytes, 0);
            for (auto _ : st) {
              fn(dst.data(), src.data(), static_cast<uint32_t>(frameBytes));
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(frameBytes));
          })
          ->Unit(benchmark::kMicrosecond);
    }
    for (const PackedVariant& v : kPacked) {
      if (!Runs(v.variant)) continue;
      benchmark::RegisterBenchmark(
          (std::string(v.entry) + "/" + v.variant + "/" + Dims(s)).c_str(),
          [fn = v.fn, s, frameBytes](benchmark::State& st) {
            std::vector<uint8_t> src = RandomBytes(frameBytes, 3), dst(frameBytes, 0);
            for (auto _ : st) {
              fn(dst.data(), s.w * 2, src.data(), s.w * 2, static_cast<uint32_t>(s.w), s.h);
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(frameBytes));
          })
          ->Unit(benchmark::kMicrosecond);
    }
    for (const PlanarVariant& v : kI420ToYUY2) {
      if (!Runs(v.variant)) continue;
      benchmark::RegisterBenchmark(
          (std::string("I420ToYUY2/") + v.variant + "/" + Dims(s)).c_str(),
          [fn = v.fn, s, frameBytes](benchmark::State& st) {
            const size_t lumaBytes = static_cast<size_t>(s.w) * s.h;
            std::vector<uint8_t> src = RandomBytes(lumaBytes * 3 / 2, 4), dst(frameBytes, 0);
            const uint8_t* u = src.data() + lumaBytes;
            const uint8_t* v = u + lumaBytes / 4;
            for (auto _ : st) {
              fn(dst.data(), s.w * 2, src.data(), u, v, s.w, s.w / 2, static_cast<uint32_t>(s.w), s.h);
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(frameBytes));
          })
          ->Unit(benchmark::kMicrosecond);
    }
    // RGB sources are bottom-up, as the frame pipeline passes them (negative height).
    for (const RgbPackedVariant& v : kRgbPacked) {
      if (!Runs(v.variant)) continue;
      benchmark::RegisterBenchmark(
          (std::string(v.entry) + "/" + v.variant + "/" + Dims(s)).c_str(),
          [v, s, frameBytes](benchmark::State& st) {
            const int srcStride = (s.w * v.bytesPerPixel + 3) / 4 * 4;
            std::vector<uint8_t> src = RandomBytes(static_cast<size_t>(srcStride) * s.h, 5), dst(frameBytes, 0);
            for (auto _ : st) {
              v.fn(dst.data(), s.w * 2, src.data(), srcStride, static_cast<uint32_t>(s.w), -s.h);
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(frameBytes));
          })
          ->Unit(benchmark::kMicrosecond);
    }
    // The I420 destination (1.5 bytes a pixel) is reported against the same memcpy size.
    for (const RgbPlanarVariant& v : kRgbPlanar) {
      if (!Runs(v.variant)) continue;
      benchmark::RegisterBenchmark(
          (std::string(v.entry) + "/" + v.variant + "/" + Dims(s)).c_str(),
          [v, s](benchmark::State& st) {
            const int srcStride = (s.w * v.bytesPerPixel + 3) / 4 * 4;
            const size_t luma = static_cast<size_t>(s.w) * s.h;
            std::vector<uint8_t> src = RandomBytes(static_cast<size_t>(srcStride) * s.h, 6), dst(luma * 3 / 2, 0);
            uint8_t* u = dst.data() + luma;
            uint8_t* cv = u + luma / 4;
            for (auto _ : st) {
              v.fn(dst.data(), u, cv, s.w, s.w / 2, src.data(), srcStride, static_cast<uint32_t>(s.w), -s.h);
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(luma * 3 / 2));
          })
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// ScaleYuy2/variant/SRCWxSRCH-DSTWxDSTH beside memcpy of each destination frame size not
// registered above.
void RegisterScaler() {
  using ScaleFn = void (*)(const uint8_t*, int32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
  const std::pair<const char*, ScaleFn> variants[] = {
      {"avx2", ScaleYuy2Avx2}, {"sse2", ScaleYuy2Sse2}, {"mmx", ScaleYuy2Mmx}, {"portable", ScaleYuy2Portable}};
  const std::pair<Size, Size> jobs[] = {{{640, 480}, {320, 240}},
                                        {{320, 240}, {640, 480}},
                                        {{1920, 1080}, {1280, 720}},
                                        {{1280, 720}, {1920, 1080}}};
  for (Size s : {Size{320, 240}, Size{1280, 720}})
    bench::RegisterMemcpyBaseline(s, static_cast<size_t>(s.w) * 2 * s.h);
  for (const auto& [from, to] : jobs) {
    for (const auto& [variant, fn] : variants) {
      if (!Runs(variant)) continue;
      benchmark::RegisterBenchmark(
          (std::string("ScaleYuy2/") + variant + "/" + Dims(from) + "-" + Dims(to)).c_str(),
          [fn = fn, from = from, to = to](benchmark::State& st) {
            const size_t dstBytes = static_cast<size_t>(to.w) * 2 * to.h;
            std::vector<uint8_t> src = RandomBytes(static_cast<size_t>(from.w) * 2 * from.h, 7), dst(dstBytes, 0);
            for (auto _ : st) {
              fn(src.data(), from.w, from.h, from.w * 2, dst.data(), to.w, to.h, to.w * 2);
              benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(dstBytes));
          })
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  RegisterScaler();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
