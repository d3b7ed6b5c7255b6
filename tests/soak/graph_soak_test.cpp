// Capture-graph soak: the real graph is built 200 times on a synthetic camera, alternating a
// YUY2 mode that goes straight to the renderer and an MJPG mode through the decoder; each run
// lasts until a frame of its size reached the virtual camera, then the graph is stopped and
// torn down. The diagnostic switch is on, so each graph is also in the running object table
// while it runs. The filters' COM objects must all be gone after each teardown, and the
// process's descriptors, threads, resident memory and heap flat between a warm-up and the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "graph/capture_graph.h"
#include "media/com_ptr.h"
#include "platform/program.h"
#include "platform/module.h"
#include "tests/graph/camera_env.h"
#include "tests/graph/real_graph.h"
#include "tests/graph/standins.h"
#include "tests/media/system_graph_cost.h"
#include "tests/soak/usage.h"

namespace {

constexpr int kWarmUp = 6;
constexpr int kCycles = 200;
// No descriptor and no thread per graph (the camera's and the graph's threads end with it),
// and allocator slack, which does not grow per cycle.
constexpr soak::Allowance kMore{.descriptors = 0, .threads = 0, .residentBytes = 4 << 20, .heapBytes = 64 << 10};

// The camera's two modes, used in turn.
constexpr const char* kCameraConfig = "caps=MJPG:1280x720,YUY2:640x480";
struct Mode {
  uint32_t width, height;
  bool decoded;
};
constexpr Mode kModes[] = {{640, 480, false}, {1280, 720, true}};

// One filter module's test controls: its call record and its live COM objects.
struct FilterModule {
  explicit FilterModule(const char* file) : module(platform::LoadModule(file)) {
    ok = platform::BindModuleSymbol(module.get(), "KestrelFilters_ResetRecord", &resetRecord) &&
         platform::BindModuleSymbol(module.get(), "KestrelFilters_ObjectCount", &objects);
  }
  platform::UniqueModule module;
  bool ok = false;
  void (*resetRecord)() = nullptr;
  int32_t (*objects)() = nullptr;
};

class GraphSoak : public test::RealGraphFixture {
 protected:
  // One build, run and teardown; false with the reason in *why when a step went wrong.
  bool Cycle(int i, std::string* why) {
    const Mode& mode = kModes[i % 2];
    // The stand-ins' records would grow with every cycle.
    vcam_.Reset();
    for (FilterModule& m : modules_) m.resetRecord();
    const uint64_t before = vcam_.FrameCount();
    // As the worker does: the resolution is current once the graph runs.
    if (const HRESULT hr = graph_->BuildGraph(mode.width, mode.height); hr != S_OK)
      return *why = "build failed: " + std::to_string(static_cast<unsigned long>(static_cast<uint32_t>(hr))), false;
    graph_->currentResolution.store(PackResolution(mode.width, mode.height));
    if (graph_->rotCookie == 0) return *why = "not in the running object table", false;
    if (static_cast<bool>(graph_->decoderFilter) != mode.decoded) return *why = "wrong decoder use", false;
    if (vcam_.WaitForFrames(before + 1, test::kWaitMs) != 1) return *why = "no frame", false;
    BitmapInfoHeader h{};
    vcam_.GetLastFrame(&h, nullptr, 0);
    if (h.biWidth != static_cast<int32_t>(mode.width) || h.biHeight != static_cast<int32_t>(mode.height))
      return *why = "frame of another size", false;
    graph_->StopGraph();
    if (graph_->graph || graph_->captureFilter || graph_->decoderFilter) return *why = "graph still held", false;
    for (FilterModule& m : modules_)
      if (m.objects() != 0) return *why = "filter objects alive: " + std::to_string(m.objects()), false;
    return true;
  }

  FilterModule modules_[3] = {FilterModule("KestrelCam.dll"), FilterModule("KestrelVDRender.dll"),
                              FilterModule("KestrelMjpegDec.dll")};
};

TEST_F(GraphSoak, TwoHundredBuildsLeaveTheProcessFlat) {
  for (const FilterModule& m : modules_) ASSERT_TRUE(m.ok);
  // The diagnostic switch adds the running-object-table entry (and the graph file) to each build.
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  test::AddCamera("0001", test::UsbPath(1), "Desk camera", kCameraConfig);
  std::string why;
  for (int i = 0; i < kWarmUp; ++i) ASSERT_TRUE(Cycle(i, &why)) << "warm-up " << i << ": " << why;
  const soak::Usage start = soak::Now();
  for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(Cycle(i, &why)) << "cycle " << i << ": " << why;
  const soak::Usage end = soak::Now();
  // Each build makes two filter graphs: the device probe's and the capture graph.
  const test::SystemGraphCost system = test::MeasureSystemGraphCost(2 * kCycles);
  std::printf("system filter graphs: %lld handles, %lld heap bytes kept by %d bare graphs\n",
              (long long)system.handles, (long long)system.heapBytes, 2 * kCycles);
  soak::ExpectFlat("graph", start, end,
                   {.descriptors = kMore.descriptors + system.handles, .threads = kMore.threads,
                    .residentBytes = kMore.residentBytes, .heapBytes = kMore.heapBytes + system.heapBytes});
}

}  // namespace
