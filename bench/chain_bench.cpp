// The whole chain as it runs: kestrel-host with a synthetic camera sending 1280x720 MJPG at 30
// frames per second, the virtual camera opened at 640x480, and 0, 1 or 3 sample clients
// (effect none) in their own processes. Each iteration is one run of a few seconds; its
// per-frame capture-to-delivery latency (from the camera handing a frame to its pin to the
// virtual camera receiving it, from kestrel-host's frame list) is reported against the camera's
// frame time. Counters: median_ms, p99_ms, frame_ms (33.3), median_per_frame, p99_per_frame,
// fps (frames delivered per second) and frames (measured).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/subprocess.h"
#include "platform/thread.h"

namespace {

constexpr double kFrameMs = 1000.0 / 30.0;
constexpr int kSeconds = 6;
// Frames of the first second are left out: the clients are still registering.
constexpr double kWarmUpMs = 1500;

std::string Name(const char* tag) {
  return std::string("kchain") + tag + std::to_string(platform::CurrentProcessId());
}

void WholeChain(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  const std::string dir = platform::JoinPath(platform::TemporaryDirectory(), Name("run"));
  platform::CreateDirectories(platform::JoinPath(dir, "pipe").c_str());
  platform::SetEnvironmentValue("KESTREL_REGISTRY_FILE", platform::JoinPath(dir, "kestrel.reg").c_str());
  platform::SetEnvironmentValue("KESTREL_ROOT", platform::JoinPath(dir, "root").c_str());
  platform::SetEnvironmentValue("KESTREL_PIPE_DIR", platform::JoinPath(dir, "pipe").c_str());
  platform::SetEnvironmentValue("KESTREL_DEBUG_FD", "none");
  {
    platform::Subprocess reg;
    int code = -1;
    if (!reg.Start(KESTREL_BIN "/tests/kestrel-register", {"--clear", "--camera", "Cam|caps=MJPG:1280x720"}) ||
        !reg.Wait(platform::kInfinite, &code) || code != 0) {
      state.SkipWithError("kestrel-register failed");
      return;
    }
  }
  std::vector<double> latencies;
  double fps = 0;
  for (auto _ : state) {
    const std::string frames = platform::JoinPath(dir, "frames.txt"), readyName = Name("ready");
    const platform::Event ready =
        platform::Event::CreateNamed(std::u16string(readyName.begin(), readyName.end()).c_str(), true, false);
    platform::Subprocess host;
    host.Start(KESTREL_BIN "/tests/kestrel-host", {"--open", "640x480", "--seconds", std::to_string(kSeconds),
                                                   "--frames", frames, "--ready-event", readyName});
    if (ready.Wait(60000) != platform::kWaitObject0) {
      state.SkipWithError("kestrel-host did not start");
      return;
    }
    std::vector<std::unique_ptr<platform::Subprocess>> running;
    for (int i = 0; i < clients; ++i) {
      running.push_back(std::make_unique<platform::Subprocess>());
      running.back()->Start(KESTREL_BIN "/outside/clients/oruclient",
                            {"--key", "1:" + std::to_string(i + 1), Name(("c" + std::to_string(i)).c_str())});
    }
    int code = -1;
    if (!host.Wait(platform::kInfinite, &code) || code != 0) {
      state.SkipWithError("kestrel-host failed");
      return;
    }
    running.clear();  // ends the clients
    std::ifstream in(frames);
    std::string line;
    double first = -1, last = 0;
    uint64_t counted = 0;
    while (std::getline(in, line)) {
      unsigned long long index = 0;
      long long number = 0;
      double arrival = 0, latency = 0;
      if (line[0] == '#' || std::sscanf(line.c_str(), "%llu %lld %lf %lf", &index, &number, &arrival, &latency) != 4)
        continue;
      if (first < 0) first = arrival;
      if (arrival - first < kWarmUpMs || latency < 0) continue;
      latencies.push_back(latency);
      last = arrival;
      ++counted;
    }
    if (counted > 1) fps = static_cast<double>(counted - 1) * 1000.0 / (last - first - kWarmUpMs);
  }
  platform::RemoveDirectoryTree(dir.c_str());
  if (latencies.empty()) {
    state.SkipWithError("no frame measured");
    return;
  }
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies[latencies.size() / 2];
  const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  state.counters["median_ms"] = median;
  state.counters["p99_ms"] = p99;
  state.counters["frame_ms"] = kFrameMs;
  state.counters["median_per_frame"] = median / kFrameMs;
  state.counters["p99_per_frame"] = p99 / kFrameMs;
  state.counters["fps"] = fps;
  state.counters["frames"] = static_cast<double>(latencies.size());
}

BENCHMARK(WholeChain)->ArgName("clients")->Arg(0)->Arg(1)->Arg(3)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
