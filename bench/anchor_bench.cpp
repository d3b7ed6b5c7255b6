// Our entry points (as the frame pipeline runs them, after InitPixelKernels) beside the
// libraries they are measured against: libyuv for conversions, swscale (bilinear) for the
// YUY2 scale. Names are Op/ours/SIZE and Op/LIBRARY/SIZE; bench/ratios.py prints
// ours / library. Built only when libyuv and swscale are installed (bench/anchors.sh).
extern "C" {
#include <libswscale/swscale.h>
}
#include <libyuv.h>

#include <functional>
#include <memory>

#include "bench/frame_bench.h"
#include "graph/scaler.h"
#include "pixel/pixel_kernels.h"

namespace {

using bench::Dims;
using bench::RandomBytes;
using bench::Size;

constexpr Size kFull{1920, 1080};

// Registers Op/who/label running `body` once per iteration.
void Register(const std::string& op, const char* who, const std::string& label, std::function<void()> body) {
  benchmark::RegisterBenchmark((op + "/" + who + "/" + label).c_str(), [body](benchmark::State& st) {
    for (auto _ : st) {
      body();
      benchmark::ClobberMemory();
    }
  })->Unit(benchmark::kMicrosecond);
}

// Source and destination buffers that live as long as the process.
std::vector<uint8_t>& Buffer(size_t n, uint32_t seed) {
  static std::vector<std::unique_ptr<std::vector<uint8_t>>> all;
  all.push_back(std::make_unique<std::vector<uint8_t>>(RandomBytes(n, seed)));
  return *all.back();
}

void RegisterConversions() {
  const int w = kFull.w, h = kFull.h;
  const std::string label = Dims(kFull);
  uint8_t* yuy2 = Buffer(static_cast<size_t>(w) * 2 * h, 1).data();
  const uint8_t* packed = Buffer(static_cast<size_t>(w) * 2 * h, 2).data();
  const uint8_t* planes = Buffer(static_cast<size_t>(w) * h * 3 / 2, 3).data();
  const uint8_t* u = planes + static_cast<size_t>(w) * h;
  const uint8_t* v = u + static_cast<size_t>(w) * h / 4;
  const uint8_t* rgb32 = Buffer(static_cast<size_t>(w) * 4 * h, 4).data();
  const uint8_t* rgb24 = Buffer(static_cast<size_t>(w) * 3 * h, 5).data();
  uint8_t* i420 = Buffer(static_cast<size_t>(w) * h * 3 / 2, 6).data();
  uint8_t* i420u = i420 + static_cast<size_t>(w) * h;
  uint8_t* i420v = i420u + static_cast<size_t>(w) * h / 4;
  uint8_t* argbRow = Buffer(static_cast<size_t>(w) * 4, 7).data();
  static const uint8_t kSwapPairs[16] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};

  Register("UYVYToYUY2", "ours", label, [=] { UYVYToYUY2(yuy2, w * 2, packed, w * 2, w, h); });
  Register("UYVYToYUY2", "libyuv", label,
           [=] { libyuv::ARGBShuffle(packed, w * 2, yuy2, w * 2, kSwapPairs, w / 2, h); });
  Register("I420ToYUY2", "ours", label, [=] { I420ToYUY2(yuy2, w * 2, planes, u, v, w, w / 2, w, h); });
  Register("I420ToYUY2", "libyuv", label,
           [=] { libyuv::I420ToYUY2(planes, w, u, w / 2, v, w / 2, yuy2, w * 2, w, h); });
  // RGB frames are bottom-up, as the frame pipeline passes them (negative height).
  Register("RGB32ToYUY2", "ours", label, [=] { RGB32ToYUY2(yuy2, w * 2, rgb32, w * 4, w, -h); });
  Register("RGB32ToYUY2", "libyuv", label, [=] { libyuv::ARGBToYUY2(rgb32, w * 4, yuy2, w * 2, w, -h); });
  Register("RGB24ToYUY2", "ours", label, [=] { RGB24ToYUY2(yuy2, w * 2, rgb24, w * 3, w, -h); });
  // libyuv has no RGB24 to YUY2: two row passes through an ARGB row.
  Register("RGB24ToYUY2", "libyuv", label, [=] {
    for (int r = 0; r < h; ++r) {
      libyuv::RGB24ToARGB(rgb24 + static_cast<size_t>(h - 1 - r) * w * 3, w * 3, argbRow, w * 4, w, 1);
      libyuv::ARGBToYUY2(argbRow, w * 4, yuy2 + static_cast<size_t>(r) * w * 2, w * 2, w, 1);
    }
  });
  Register("RGB24ToI420", "ours", label, [=] { RGB24ToI420(i420, i420u, i420v, w, w / 2, rgb24, w * 3, w, -h); });
  Register("RGB24ToI420", "libyuv", label,
           [=] { libyuv::RGB24ToI420(rgb24, w * 3, i420, w, i420u, w / 2, i420v, w / 2, w, -h); });
}

void RegisterScales() {
  const std::pair<Size, Size> jobs[] = {{{1920, 1080}, {1280, 720}}, {{640, 480}, {320, 240}}};
  for (const auto& [from, to] : jobs) {
    const std::string label = Dims(from) + "-" + Dims(to);
    const uint8_t* src = Buffer(static_cast<size_t>(from.w) * 2 * from.h, 8).data();
    uint8_t* dst = Buffer(static_cast<size_t>(to.w) * 2 * to.h, 9).data();
    Register("ScaleYuy2", "ours", label,
             [=] { ScaleYuy2(src, from.w, from.h, from.w * 2, dst, to.w, to.h, to.w * 2); });
    SwsContext* ctx = sws_getContext(from.w, from.h, AV_PIX_FMT_YUYV422, to.w, to.h, AV_PIX_FMT_YUYV422,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    Register("ScaleYuy2", "swscale", label, [=] {
      const uint8_t* const srcSlice[1] = {src};
      const int srcStride[1] = {from.w * 2};
      uint8_t* const dstSlice[1] = {dst};
      const int dstStride[1] = {to.w * 2};
      sws_scale(ctx, srcSlice, srcStride, 0, from.h, dstSlice, dstStride);
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  InitPixelKernels();
  RegisterConversions();
  RegisterScales();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
