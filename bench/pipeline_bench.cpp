// The whole frame pipeline (ProcessSample: check, convert, copy or scale, hand on) for the
// common capture formats, against memcpy of the output frame. No plug-in, no virtual camera
// library: the hand-on itself costs nothing here.
// And the whole capture path, per frame from the camera pin's delivery to the virtual-camera
// stand-in's OruVCapSetWebcamData: CapturePath/MJPG1280x720/640x480 (decoder, renderer,
// scale) against jpeg/1280x720 (TurboJPEG's own decode of the same frame), and
// CapturePath/YUY2640x480/640x480 (renderer, copy) against memcpy/640x480.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/filter_bench.h"
#include "graph/frame_pipeline.h"
#include "graph/vcam_binding.h"
#include "media/com_ptr.h"
#include "media/jpeg/jpeg_codec.h"
#include "media/vd_filters.h"
#include "outside/filters/stand_ins.h"
#include "outside/filters/test_pattern.h"
#include "pixel/features.h"
#include "platform/module.h"
#include "platform/text.h"

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
    std::atomic<uint32_t> resolution{PackResolution(static_cast<uint32_t>(out.w), static_cast<uint32_t>(out.h))};
    FramePipeline::Links links;
    links.resolution = &resolution;
    auto pipeline = std::make_unique<FramePipeline>(links);
    pipeline->PrepareOutputFormat(static_cast<uint32_t>(out.w), static_cast<uint32_t>(out.h));
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = in.w;
    h.biHeight = in.h;
    h.biBitCount = f.bits;
    h.biCompression = f.code;
    const std::vector<uint8_t> sample = bench::RandomBytes(SampleBytes(f, in.w, in.h), 7);
    for (auto _ : st) {
      benchmark::DoNotOptimize(
          pipeline->ProcessSample(&h, sample.data(), static_cast<uint32_t>(sample.size())));
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * out.w * 2 * out.h);
  })->Unit(benchmark::kMicrosecond);
}

using media::ComPtr;

// camera -> [decoder ->] VD Render -> the frame pipeline -> the virtual-camera
// stand-in, paused: the camera, a live source, sends nothing; each sample is handed to the
// first filter's input pin as the camera's pin would.
struct CapturePath {
  CapturePath(const std::string& config, bool decoder, bench::Size out) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.putVoid());
    camera = bench::CreateFilter(cams, filters::kClsidKestrelCam);
    render = bench::CreateFilter(renders, vd::kClsidVDRender);
    ComPtr<IPersistPropertyBag> persist;
    if (!graph || !camera || !render || FAILED(camera.as(IID_IPersistPropertyBag, &persist))) return;
    bench::ConfigBag bag(config);
    persist->Load(&bag, nullptr);
    graph->AddFilter(camera.get(), OLESTR("Video Capture"));
    graph->AddFilter(render.get(), OLESTR("VD Render"));
    IBaseFilter* last = camera.get();
    if (decoder) {
      decode = bench::CreateFilter(decoders, vd::kClsidMjpegDecoder);
      graph->AddFilter(decode.get(), OLESTR("Quillon MJPEG Decoder"));
      graph->ConnectDirect(bench::PinOf(camera.get(), PINDIR_OUTPUT).get(), bench::PinOf(decode.get(), PINDIR_INPUT).get(), nullptr);
      last = decode.get();
    }
    graph->ConnectDirect(bench::PinOf(last, PINDIR_OUTPUT).get(), bench::PinOf(render.get(), PINDIR_INPUT).get(), nullptr);
    bench::PinOf(decoder ? decode.get() : render.get(), PINDIR_INPUT).as(IID_IMemInputPin, &entry);
    render.as(vd::kIidVDRenderCallback, &callback);
    if (!vcam.Load(KESTREL_VCAM_MODULE)) return;
    FramePipeline::Links links;
    links.resolution = &resolution;
    links.sink = &VirtualCameraLibrary::TakeFrame;
    links.sinkContext = &vcam;
    pipeline = std::make_unique<FramePipeline>(links);
    pipeline->PrepareOutputFormat(static_cast<uint32_t>(out.w), static_cast<uint32_t>(out.h));
    resolution.store(PackResolution(static_cast<uint32_t>(out.w), static_cast<uint32_t>(out.h)));
    if (callback) callback->SetCallback(reinterpret_cast<VDSampleCallback>(&FramePipeline::SampleCallback), pipeline.get());
    graph.as(IID_IMediaControl, &control);
    if (control) control->Pause();
    if (entry) entry->GetAllocator(allocator.put());
  }
  ~CapturePath() {
    if (control) control->Stop();
    if (callback) callback->SetCallback(nullptr, nullptr);
  }
  bool ok() const { return entry && callback && allocator && control && pipeline && vcam.IsLoaded(); }

  platform::UniqueModule cams{platform::LoadModule(KESTREL_CAM_MODULE)};
  platform::UniqueModule renders{platform::LoadModule(KESTREL_RENDER_MODULE)};
  platform::UniqueModule decoders{platform::LoadModule(KESTREL_DECODER_MODULE)};
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> camera, render, decode;
  ComPtr<IMemInputPin> entry;
  ComPtr<IMemAllocator> allocator;
  ComPtr<IVDRenderCallback> callback;
  VirtualCameraLibrary vcam;
  std::atomic<uint32_t> resolution{0};
  std::unique_ptr<FramePipeline> pipeline;
};

uint64_t (*g_deliveredFrames)() = nullptr;

// One camera frame: the pattern in the subtype the path captures.
std::vector<uint8_t> CameraFrame(filters::Subtype subtype, bench::Size s) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(s.w) * s.h * 4);
  filters::DrawPattern(bgrx.data(), static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h), 42);
  std::vector<uint8_t> frame(filters::FrameBytes(subtype, static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h)));
  media::JpegEncoder encoder;
  frame.resize(filters::WriteFrame(subtype, bgrx.data(), static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h),
                                   &encoder, frame.data(), static_cast<uint32_t>(frame.size())));
  return frame;
}

void RegisterCapturePath(filters::Subtype subtype, bench::Size in, bench::Size out) {
  const std::string name = std::string("CapturePath/") + filters::SubtypeName(subtype) + bench::Dims(in) + "/" +
                           bench::Dims(out);
  benchmark::RegisterBenchmark(name.c_str(), [subtype, in, out](benchmark::State& st) {
    const std::vector<uint8_t> frame = CameraFrame(subtype, in);
    const bool mjpg = subtype == filters::Subtype::MJPG;
    CapturePath path(std::string("caps=") + filters::SubtypeName(subtype) + ":" + bench::Dims(in), mjpg, out);
    if (!path.ok() || frame.empty() || !g_deliveredFrames) return st.SkipWithError("capture path not built");
    const uint64_t before = g_deliveredFrames();
    for (auto _ : st) {
      ComPtr<IMediaSample> sample;
      BYTE* data = nullptr;
      path.allocator->GetBuffer(sample.put(), nullptr, nullptr, 0);
      sample->GetPointer(&data);
      // The compressed frame must be in the sample; an uncompressed one is whatever the
      // buffer holds (the camera's own drawing is not part of the path).
      if (mjpg) std::memcpy(data, frame.data(), frame.size());
      sample->SetActualDataLength(static_cast<long>(frame.size()));
      path.entry->Receive(sample.get());
    }
    if (g_deliveredFrames() - before != static_cast<uint64_t>(st.iterations())) st.SkipWithError("frames lost");
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * out.w * 2 * out.h);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  InitPixelKernels();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  platform::UniqueModule vcam(platform::LoadModule(KESTREL_VCAM_MODULE));
  platform::BindModuleSymbol(vcam.get(), "OruStandIn_FrameCount", &g_deliveredFrames);
  RegisterCapturePath(filters::Subtype::MJPG, {1280, 720}, {640, 480});
  bench::RegisterJpegBaseline({1280, 720}, CameraFrame(filters::Subtype::MJPG, {1280, 720}));
  RegisterCapturePath(filters::Subtype::YUY2, {640, 480}, {640, 480});
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
  CoUninitialize();
  return 0;
}
