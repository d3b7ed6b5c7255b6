// The stand-in filters' per-frame work, each against the bound measured in the same run:
// MjpegDecoder/WxH (one MJPG sample through the decoder's pins to the renderer's callback,
// which does nothing with it)
// against jpeg/WxH (TurboJPEG's own decode of the same frame to its 4:2:2 planes, the
// library's fastest output; it has no packed 4:2:2 one), and Delivery/YUY2/WxH (a sample
// handed to the renderer's input pin until its callback, which copies the frame out as the
// capture pipeline does, returns) against memcpy/WxH.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/filter_bench.h"
#include "media/com_ptr.h"
#include "media/dshow.h"
#include "media/jpeg/jpeg_codec.h"
#include "media/vd_filters.h"
#include "outside/filters/stand_ins.h"
#include "outside/filters/test_pattern.h"
#include "pixel/features.h"
#include "platform/module.h"
#include "platform/text.h"

namespace {

using media::ComPtr;

// The frame the callback copies into, as the capture pipeline copies a frame of its size.
struct CopyOut {
  std::vector<uint8_t> frame;
  uint64_t calls = 0;
  bool copy = true;
  static int32_t STDMETHODCALLTYPE Callback(const BITMAPINFOHEADER*, const uint8_t* bytes, uint32_t length,
                                            void* context) {
    auto* self = static_cast<CopyOut*>(context);
    if (self->copy) std::memcpy(self->frame.data(), bytes, std::min<size_t>(length, self->frame.size()));
    ++self->calls;
    return 0;
  }
};

// camera -> [decoder ->] VD Render, paused: the camera, a live source, sends nothing, while
// the decoder and the renderer take samples. Samples go straight into `entry`.
struct PausedGraph {
  PausedGraph(const char* config, bool decoder, uint32_t frameBytes) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.putVoid());
    camera = bench::CreateFilter(cams, filters::kClsidKestrelCam);
    ComPtr<IPersistPropertyBag> persist;
    camera.as(IID_IPersistPropertyBag, &persist);
    bench::ConfigBag bag(config);
    persist->Load(&bag, nullptr);
    render = bench::CreateFilter(renders, vd::kClsidVDRender);
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
    sink.frame.resize(frameBytes);
    callback->SetCallback(&CopyOut::Callback, &sink);
    graph.as(IID_IMediaControl, &control);
    control->Pause();
    // Samples of the allocator the camera's pin agreed with the first filter downstream.
    entry->GetAllocator(allocator.put());
  }
  ~PausedGraph() {
    control->Stop();
    callback->SetCallback(nullptr, nullptr);
  }
  bool ok() const { return entry && callback && allocator && control; }

  platform::UniqueModule cams{platform::LoadModule(KESTREL_CAM_MODULE)};
  platform::UniqueModule renders{platform::LoadModule(KESTREL_RENDER_MODULE)};
  platform::UniqueModule decoders{platform::LoadModule(KESTREL_DECODER_MODULE)};
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> camera, render, decode;
  ComPtr<IMemInputPin> entry;
  ComPtr<IMemAllocator> allocator;
  ComPtr<IVDRenderCallback> callback;
  CopyOut sink;
};

std::vector<uint8_t> PatternJpeg(int w, int h) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(w) * h * 4), jpeg;
  filters::DrawPattern(bgrx.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(h), 42);
  media::JpegEncoder encoder;
  encoder.EncodeBgrx(bgrx.data(), w * 4, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 90, &jpeg);
  return jpeg;
}

void RegisterDecoder(bench::Size s) {
  benchmark::RegisterBenchmark(("MjpegDecoder/" + bench::Dims(s)).c_str(), [s](benchmark::State& st) {
    const std::vector<uint8_t> jpeg = PatternJpeg(s.w, s.h);
    const std::string config = "caps=MJPG:" + bench::Dims(s);
    PausedGraph g(config.c_str(), true, static_cast<uint32_t>(s.w * 2 * s.h));
    if (!g.ok()) return st.SkipWithError("graph not built");
    g.sink.copy = false;  // the decoder's work only: its YUY2 frame reaches the callback
    for (auto _ : st) {
      ComPtr<IMediaSample> sample;
      BYTE* data = nullptr;
      g.allocator->GetBuffer(sample.put(), nullptr, nullptr, 0);
      sample->GetPointer(&data);
      std::memcpy(data, jpeg.data(), jpeg.size());  // the camera's copy, not the decoder's work
      sample->SetActualDataLength(static_cast<long>(jpeg.size()));
      g.entry->Receive(sample.get());
    }
    if (g.sink.calls != static_cast<uint64_t>(st.iterations())) st.SkipWithError("frames lost");
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * s.w * 2 * s.h);
  })->Unit(benchmark::kMicrosecond);

  bench::RegisterJpegBaseline(s, PatternJpeg(s.w, s.h));
}

void RegisterDelivery(bench::Size s) {
  const size_t bytes = static_cast<size_t>(s.w) * 2 * s.h;
  benchmark::RegisterBenchmark(("Delivery/YUY2/" + bench::Dims(s)).c_str(), [s, bytes](benchmark::State& st) {
    const std::string config = "caps=YUY2:" + bench::Dims(s);
    PausedGraph g(config.c_str(), false, static_cast<uint32_t>(bytes));
    if (!g.ok()) return st.SkipWithError("graph not built");
    for (auto _ : st) {
      ComPtr<IMediaSample> sample;
      g.allocator->GetBuffer(sample.put(), nullptr, nullptr, 0);
      sample->SetActualDataLength(static_cast<long>(bytes));
      g.entry->Receive(sample.get());
    }
    if (g.sink.calls != static_cast<uint64_t>(st.iterations())) st.SkipWithError("frames lost");
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
  })->Unit(benchmark::kMicrosecond);
  bench::RegisterMemcpyBaseline(s, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  InitPixelKernels();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (bench::Size s : {bench::Size{1280, 720}, bench::Size{1920, 1080}}) RegisterDecoder(s);
  for (bench::Size s : {bench::Size{640, 480}, bench::Size{1920, 1080}}) RegisterDelivery(s);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CoUninitialize();
  return 0;
}
