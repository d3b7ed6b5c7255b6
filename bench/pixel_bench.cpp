// Kernel throughput per variant at 640x480 and 1920x1080, beside memcpy of the
// destination frame.
#include "bench/frame_bench.h"
#include "pixel/copy_reorder.h"
#include "pixel/planar_packed.h"

namespace {

using bench::Dims;
using bench::RandomBytes;
using bench::Size;

struct PackedVariant {
  const char* entry;
  const char* variant;
  PackedKernelFn fn;
};

const PackedVariant kPacked[] = {
    {"CopyYUY2", "sse2", CopyYUY2_SSE2},     {"CopyYUY2", "mmx", CopyYUY2_MMX},
    {"CopyYUY2", "portable", CopyYUY2_C},    {"UYVYToYUY2", "sse2", UYVYToYUY2_SSE2},
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
    {"sse2", I420ToYUY2_SSE2}, {"mmx", I420ToYUY2_MMX}, {"portable", I420ToYUY2_C}};

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
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
