// The whole frame pipeline (ProcessSample: check, convert, copy or scale, hand on) for the
// common capture formats, against memcpy of the output frame. No plug-in, no virtual camera
// library: the hand-on itself costs nothing here.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/frame_bench.h"
#include "graph/rend_graph.h"
#include "pixel/features.h"

namespace {

struct Format {
  const char* name;
  uint32_t code;
  uint16_t bits;
};

constexpr Format kFormats[] = {{"YUY2", kFourccYUY2, 16},
                               {"UYVY", kFourccUYVY, 16},
                               {"I420", kFourccI420, 12},
                               {"RGB24", kBiRgb, 24},
                               {"RGB32", kBiRgb, 32}};

size_t SampleBytes(const Format& f, int w, int h) {
  if (f.code == kFourccI420) return static_cast<size_t>(w) * h * 3 / 2;
  return static_cast<size_t>(DibStride(static_cast<uint32_t>(w), f.bits)) * h;
}

void RegisterPipeline(const Format& f, bench::Size in, bench::Size out) {
  const std::string name =
      std::string("ProcessSample/") + f.name + "/" + bench::Dims(in) + "-" + bench::Dims(out);
  benchmark::RegisterBenchmark(name.c_str(), [f, in, out](benchmark::State& st) {
    auto graph = std::make_unique<CVDRendGraphImpl>();
    graph->PrepareOutputFormat(static_cast<uint32_t>(out.w), static_cast<uint32_t>(out.h));
    graph->currentResolution.store(PackResolution(static_cast<uint32_t>(out.w),
                                                  static_cast<uint32_t>(out.h)));
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = in.w;
    h.biHeight = in.h;
    h.biBitCount = f.bits;
    h.biCompression = f.code;
    const std::vector<uint8_t> sample = bench::RandomBytes(SampleBytes(f, in.w, in.h), 7);
    for (auto _ : st) {
      benchmark::DoNotOptimize(
          graph->ProcessSample(&h, sample.data(), static_cast<uint32_t>(sample.size())));
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * out.w * 2 * out.h);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  InitPixelKernels();
  const bench::Size sizes[] = {{640, 480}, {1920, 1080}};
  const bench::Size hd = {1280, 720};
  for (const bench::Size& s : sizes) bench::RegisterMemcpyBaseline(s, static_cast<size_t>(s.w) * 2 * s.h);
  bench::RegisterMemcpyBaseline(hd, static_cast<size_t>(hd.w) * 2 * hd.h);
  for (const Format& f : kFormats) {
    for (const bench::Size& s : sizes) {
      RegisterPipeline(f, s, s);
      RegisterPipeline(f, s, hd);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
