// Frameport_ProcessVideoFrame of a YUY2 frame through 0, 1 and 3 sample clients (oruclient,
// effect none) in their own processes, at 640x480 and 1920x1080, beside memcpy of the frame.
// Every iteration is one frame, timed by hand. Counters: median_ms and p99_ms per frame,
// pause_ms, the fixed 2 ms pause before each client's read-back (2 x clients), and rest_ms,
// the median without it: the copies, the two process switches per client and the waits.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/frame_bench.h"
#include "plugin/fanout_plugin.h"
#include "plugin/frameport.h"
#include "platform/child_process.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace {

using bench::Dims;
using bench::Size;

constexpr Size kSizes[] = {{640, 480}, {1920, 1080}};
constexpr int kClientCounts[] = {0, 1, 3};
constexpr uint32_t kCapacity = 40 + 1920 * 1080 * 2;
constexpr uint32_t kStartMs = 60000;

std::string Unique(const char* tag) {
  static int counter = 0;
  return std::string("kb") + tag + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++counter);
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// One plug-in object on its own registration pipe with `clients` sample clients, one level,
// in their own processes.
class Plugin {
 public:
  explicit Plugin(int clients) : clients_(clients), pipe_(U16("\\\\.\\pipe\\" + Unique("pipe"))) {
    SetFrameportPipeName(pipe_.c_str());
    handle_ = Frameport_Initialize();
    SetFrameportPipeName(nullptr);
  }
  ~Plugin() {
    quit_.Set();
    for (platform::ProcessObject* p : processes_) {
      if (platform::WaitProcess(p, 10000) != platform::kWaitObject0) {
        platform::KillProcess(p);
        platform::WaitProcess(p, platform::kInfinite);
      }
      platform::CloseProcess(p);
    }
    if (handle_ != 0) Frameport_UnInitialize(handle_);
  }

  bool Start() {
    if (handle_ == 0) return false;
    const std::string quitName = Unique("quit");
    quit_ = platform::Event::CreateNamed(U16(quitName).c_str(), true, false);
    const std::string pipe(pipe_.begin(), pipe_.end());
    for (int i = 0; i < clients_; ++i) {
      const std::string ready = Unique("ready");
      platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
      platform::ProcessObject* p = platform::SpawnProcess(
          KESTREL_ORUCLIENT_PATH, {"--pipe", pipe, "--key", "1:" + std::to_string(i), "--effect", "none", "--capacity",
                                   std::to_string(kCapacity), "--ready-event", ready, "--quit-event", quitName,
                                   Unique("client")});
      if (p == nullptr) return false;
      processes_.push_back(p);
      if (readyEvent.Wait(kStartMs) != platform::kWaitObject0) return false;
    }
    if (static_cast<int>(static_cast<CFanoutPlugin*>(CFanoutPlugin::LiveTable().Acquire(handle_).get())->ClientCount()) != clients_) return false;
    // Each of the plug-in's channel ends sees its client at its next poll, at most 500 ms on.
    platform::Event never = platform::Event::CreateLocal(true, false);
    never.Wait(clients_ > 0 ? 1100 : 0);
    return true;
  }

  uintptr_t handle() const { return handle_; }
  int clients() const { return clients_; }

 private:
  int clients_;
  std::u16string pipe_;
  uintptr_t handle_ = 0;
  platform::Event quit_;
  std::vector<platform::ProcessObject*> processes_;
};

std::vector<std::unique_ptr<Plugin>> g_plugins;

void RegisterFrames(Plugin* plugin, Size s) {
  const std::string name =
      "ProcessVideoFrame/" + std::to_string(plugin->clients()) + "clients/" + Dims(s);
  benchmark::RegisterBenchmark(name.c_str(), [plugin, s](benchmark::State& st) {
    const uint32_t sizeImage = static_cast<uint32_t>(s.w) * 2 * static_cast<uint32_t>(s.h);
    uint8_t header[40] = {};
    const uint32_t forty = 40, yuy2 = 0x32595559;
    const uint16_t planes = 1, bits = 16;
    std::memcpy(header, &forty, 4);
    std::memcpy(header + 4, &s.w, 4);
    std::memcpy(header + 8, &s.h, 4);
    std::memcpy(header + 12, &planes, 2);
    std::memcpy(header + 14, &bits, 2);
    std::memcpy(header + 16, &yuy2, 4);
    std::memcpy(header + 20, &sizeImage, 4);
    std::vector<uint8_t> pixels = bench::RandomBytes(sizeImage, 3);
    // With clients every frame must make the whole round; without, nothing is sent.
    const int32_t expected = plugin->clients() > 0 ? static_cast<int32_t>(40 + sizeImage) : 0;
    int bad = 0;
    const std::vector<double> us = bench::TimeIterations(st, [&] {
      if (Frameport_ProcessVideoFrame(plugin->handle(), header, pixels.data()) != expected) ++bad;
    });
    if (bad != 0) {
      st.SkipWithError("a frame did not make the round through every client");
      return;
    }
    const double median = bench::Percentile(us, 50) / 1000, pause = 2.0 * plugin->clients();
    st.counters["clients"] = plugin->clients();
    st.counters["median_ms"] = median;
    st.counters["p99_ms"] = bench::Percentile(us, 99) / 1000;
    st.counters["pause_ms"] = pause;
    st.counters["rest_ms"] = median - pause;
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * sizeImage);
  })->UseManualTime()->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int clients : kClientCounts) {
    auto plugin = std::make_unique<Plugin>(clients);
    if (!plugin->Start()) {
      std::fprintf(stderr, "plugin_bench: could not start the plug-in with %d clients\n", clients);
      return 1;
    }
    g_plugins.push_back(std::move(plugin));
  }
  for (Size s : kSizes) {
    bench::RegisterMemcpyBaseline(s, static_cast<size_t>(s.w) * 2 * s.h);
    for (const auto& plugin : g_plugins) RegisterFrames(plugin.get(), s);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_plugins.clear();
  return 0;
}
