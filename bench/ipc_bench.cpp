// One synchronous Tether_SendMessage of a YUY2 frame to a receiver in another process that
// touches the frame in place, with and without the read-back, beside two memcpy of the frame.
// Every iteration is timed by hand; the median and the 99th percentile of the iterations are
// reported as counters (median_us, p99_us).
//
// The program is its own peer: "ipc_bench peer <pipe> <channel> <capacity> <ready> <quit>".
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/frame_bench.h"
#include "platform/child_process.h"
#include "tests/ipc/tether_test_support.h"

namespace {

using bench::Dims;
using bench::Size;
using namespace tether_test;

constexpr uint32_t kTimeoutMs = 5000;

int32_t TouchFrame(TetherMessageInfo* info, void* payload, void*) {
  auto* p = static_cast<uint8_t*>(payload);
  for (uint32_t i = 0; p != nullptr && i < info->payloadLength; i += 64) p[i] = static_cast<uint8_t>(p[i] ^ 0x5A);
  return 0;
}

int RunPeer(char** argv) {
  const std::u16string pipe = U16(argv[0]), channel = U16(argv[1]);
  const uint32_t capacity = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  platform::Event ready = platform::Event::CreateNamed(U16(argv[3]).c_str(), true, false);
  platform::Event quit = platform::Event::CreateNamed(U16(argv[4]).c_str(), true, false);
  SetRegistrationPipeName(pipe.c_str());
  const TetherHandle h =
      Tether_CreateInstance(MakeParams(channel, capacity, kTetherRoleReceiver, kTimeoutMs, TouchFrame, nullptr, 1));
  if (h == kTetherNoHandle) return 2;
  ready.Set();
  quit.Wait(platform::kInfinite);
  Tether_DeleteInstance(h);
  return 0;
}

// Times each iteration of `step` by hand and reports the median and the 99th percentile.
template <class Step>
void Timed(benchmark::State& st, size_t bytes, Step step) {
  const std::vector<double> us = bench::TimeIterations(st, step);
  if (!us.empty()) {
    st.counters["median_us"] = bench::Percentile(us, 50);
    st.counters["p99_us"] = bench::Percentile(us, 99);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
}

struct Channel {
  std::u16string pipe;
  std::unique_ptr<FakeRegistrationServer> server;
  TetherHandle sender = kTetherNoHandle;
  platform::ProcessObject* peer = nullptr;
  platform::Event quit;

  bool Open(uint32_t capacity) {
    pipe = TestPipeName();
    server = std::make_unique<FakeRegistrationServer>(pipe, 1, false, 0);
    if (!server->ok()) return false;
    const std::string channel = UniqueName("bench"), ready = UniqueName("ready"), quitName = UniqueName("quit");
    sender = Tether_CreateInstance(MakeParams(U16(channel), capacity, kTetherRoleSender, kTimeoutMs));
    if (sender == kTetherNoHandle) return false;
    platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
    quit = platform::Event::CreateNamed(U16(quitName).c_str(), true, false);
    peer = platform::SpawnProcess(platform::CurrentExecutablePath(),
                                  {"peer", U8(pipe), channel, std::to_string(capacity), ready, quitName});
    return peer != nullptr && readyEvent.Wait(60000) == platform::kWaitObject0 && WaitForPeers(sender, 1);
  }
  ~Channel() {
    quit.Set();
    if (peer != nullptr) {
      if (platform::WaitProcess(peer, 10000) != platform::kWaitObject0) platform::KillProcess(peer);
      platform::WaitProcess(peer, platform::kInfinite);
      platform::CloseProcess(peer);
    }
    if (sender != kTetherNoHandle) Tether_DeleteInstance(sender);
  }
};

Channel* g_channel = nullptr;

void RegisterAll() {
  for (Size s : {Size{640, 480}, Size{1920, 1080}}) {
    const size_t bytes = static_cast<size_t>(s.w) * 2 * s.h;
    benchmark::RegisterBenchmark(("memcpy2/" + Dims(s)).c_str(), [bytes](benchmark::State& st) {
      std::vector<uint8_t> src = bench::RandomBytes(bytes, 1), block(bytes), back(bytes);
      Timed(st, bytes, [&] {
        std::memcpy(block.data(), src.data(), bytes);
        std::memcpy(back.data(), block.data(), bytes);
        benchmark::ClobberMemory();
      });
    })->UseManualTime()->Unit(benchmark::kMicrosecond);
    for (int reply : {0, 1}) {
      benchmark::RegisterBenchmark(
          (std::string(reply ? "send/reply/" : "send/noreply/") + Dims(s)).c_str(),
          [bytes, reply](benchmark::State& st) {
            std::vector<uint8_t> frame = bench::RandomBytes(bytes, 2);
            int32_t bad = 0;
            Timed(st, bytes, [&] {
              if (Tether_SendMessage(g_channel->sender, frame.data(), static_cast<uint32_t>(bytes), reply) !=
                  static_cast<int32_t>(bytes))
                ++bad;
            });
            if (bad != 0) st.SkipWithError("a send did not complete");
          })
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "peer") == 0) return RunPeer(argv + 2);
  benchmark::Initialize(&argc, argv);
  Channel channel;
  if (!channel.Open(1920 * 1080 * 2)) {
    std::fprintf(stderr, "ipc_bench: could not set up the channel and its peer\n");
    return 1;
  }
  g_channel = &channel;
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
