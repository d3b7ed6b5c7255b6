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

// Tiers above SSE2 live in a word of their own, so the feature word keeps its meaning.
enum : uint32_t {
  EXTENDED_AVX2 = 0x00000001,  // AVX2 with YMM state saved by the operating system
};

// Extended tier bits of this processor.
uint32_t ProbeExtendedFeatures();

namespace pixel_detail {
extern std::atomic<uint32_t> g_dispatchWord;
extern std::atomic<uint32_t> g_featureCache;
extern std::atomic<uint32_t> g_extendedWord;
extern std::atomic<uint32_t> g_extendedCache;
}  // namespace pixel_detail

inline uint32_t PixelDispatchWord() {
  return pixel_detail::g_dispatchWord.load(std::memory_order_relaxed);
}

inline uint32_t PixelExtendedWord() {
  return pixel_detail::g_extendedWord.load(std::memory_order_relaxed);
}

// Overwrites the dispatch word (and nothing else); for tests that force a variant.
void SetPixelDispatchWord(uint32_t word);
// Overwrites the extended tier word; for tests that force a variant.
void SetPixelExtendedWord(uint32_t word);

// Resets cache, dispatch and extended words to their load-time zero; for tests of
// initialisation.
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

// The rule with an AVX2 tier on top, taken only where the dispatch word allows SSE2.
template <typename Fn>
inline Fn PickKernel(Fn avx2, Fn sse2, Fn mmx, Fn portable) {
  if (avx2 && (PixelDispatchWord() & FEATURE_SSE2) && (PixelExtendedWord() & EXTENDED_AVX2)) return avx2;
  return PickKernel(sse2, mmx, portable);
}
