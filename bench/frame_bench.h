// Helpers shared by the frame benchmarks: touched buffers, the memcpy baseline that every
// kernel is reported against, and iterations timed one by one.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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

// Runs `step` once per iteration of a benchmark that uses manual time, timing each by hand,
// and returns the iteration times in microseconds, sorted (at most 65536 of them).
template <class Step>
std::vector<double> TimeIterations(benchmark::State& st, Step step) {
  std::vector<double> us;
  us.reserve(1 << 16);
  for (auto _ : st) {
    const auto t0 = std::chrono::steady_clock::now();
    step();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    st.SetIterationTime(s);
    if (us.size() < us.capacity()) us.push_back(s * 1e6);
  }
  std::sort(us.begin(), us.end());
  return us;
}

// The `percent` percentile of sorted times; 0 for none.
inline double Percentile(const std::vector<double>& sorted, size_t percent) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, sorted.size() * percent / 100)];
}

}  // namespace bench
