// Processor probe, feature cache and dispatch word.
#include "pixel/dispatch.h"

#include "platform/cpu.h"

namespace pixel_detail {
std::atomic<uint32_t> g_dispatchWord{0};
std::atomic<uint32_t> g_featureCache{0};
std::atomic<uint32_t> g_extendedWord{0};
std::atomic<uint32_t> g_extendedCache{0};
}  // namespace pixel_detail

using pixel_detail::g_dispatchWord;
using pixel_detail::g_extendedCache;
using pixel_detail::g_extendedWord;
using pixel_detail::g_featureCache;

uint32_t ProbeCpuFeatures() {
  uint32_t edx = 0;
  if (!platform::ReadCpuidLeaf1Edx(&edx)) return 0;
  return DecodeCpuFeatures(edx);
}

uint32_t ProbeExtendedFeatures() { return platform::CpuHasUsableAvx2() ? uint32_t{EXTENDED_AVX2} : 0u; }

uint32_t InitPixelKernels() {
  uint32_t word = g_featureCache.load(std::memory_order_acquire);
  if (word == 0) {
    word = ProbeCpuFeatures();
    g_extendedCache.store(word ? ProbeExtendedFeatures() : 0, std::memory_order_release);
    g_featureCache.store(word, std::memory_order_release);
  }
  g_extendedWord.store(g_extendedCache.load(std::memory_order_acquire), std::memory_order_release);
  g_dispatchWord.store(word, std::memory_order_release);
  return word;
}

void SetPixelDispatchWord(uint32_t word) { g_dispatchWord.store(word, std::memory_order_release); }

void SetPixelExtendedWord(uint32_t word) { g_extendedWord.store(word, std::memory_order_release); }

void ResetPixelKernelsForTest() {
  g_extendedWord.store(0, std::memory_order_release);
  g_extendedCache.store(0, std::memory_order_release);
  g_featureCache.store(0, std::memory_order_release);
  g_dispatchWord.store(0, std::memory_order_release);
}
