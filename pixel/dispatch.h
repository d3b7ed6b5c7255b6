// Internals of kernel dispatch: the probe, the dispatch word and the rule that picks an
// implementation. Tests use SetPixelDispatchWord to force a variant.
#pragma once

#include <atomic>
#include <cstdint>

#include "pixel/features.h"

// Masked leaf-1 EDX, or 0 on a processor without CPUID.
uint32_t ProbeCpuFeatures();

// Decodes a raw leaf-1 EDX value into the feature word.
constexpr uint32_t DecodeCpuFeatures(uint32_t edx) { return edx & kFeatureMask; }

namespace pixel_detail {
extern std::atomic<uint32_t> g_dispatchWord;
extern std::atomic<uint32_t> g_featureCache;
}  // namespace pixel_detail

inline uint32_t PixelDispatchWord() {
  return pixel_detail::g_dispatchWord.load(std::memory_order_relaxed);
}

// Overwrites the dispatch word (and nothing else); for tests that force a variant.
void SetPixelDispatchWord(uint32_t word);

// Resets cache and dispatch word to their load-time zero; for tests of initialisation.
void ResetPixelKernelsForTest();

// The dispatch rule: SSE2, else MMX, else portable; a missing variant (nullptr) falls
// through to the next in that order.
template <typename Fn>
inline Fn PickKernel(Fn sse2, Fn mmx, Fn portable) {
  const uint32_t word = PixelDispatchWord();
  if (sse2 && (word & FEATURE_SSE2)) return sse2;
  if (mmx && (word & FEATURE_MMX)) return mmx;
  return portable;
}
