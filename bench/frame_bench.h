// Helpers shared by the frame benchmarks: touched buffers and the memcpy baseline that
// every kernel is reported against.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace bench {

struct Size {
  int w, h;
};

inline std::string Dims(Size s) { return std::to_string(s.w) + "x" + std::to_string(s.h); }

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Registers "memcpy/WxH" copying `bytes` bytes: the bandwidth bound for a frame whose
// destination holds that many bytes.
inline void RegisterMemcpyBaseline(Size s, size_t bytes) {
  benchmark::RegisterBenchmark(("memcpy/" + Dims(s)).c_str(), [bytes](benchmark::State& st) {
    std::vector<uint8_t> src = RandomBytes(bytes, 1), dst(bytes, 0);
    for (auto _ : st) {
      std::memcpy(dst.data(), src.data(), bytes);
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace bench
