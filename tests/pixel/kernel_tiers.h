// What a kernel variant needs from the processor, and forcing one dispatch tier, for
// tests that run every variant the machine supports.
#pragma once

#include <cstdint>

#include "pixel/dispatch.h"

namespace test {

// Needs are leaf-1 feature bits, plus this bit (outside the feature mask) for AVX2.
inline constexpr uint32_t kNeedsAvx2 = 0x80000000u;
inline constexpr uint32_t kTierSse2 = FEATURE_MMX | FEATURE_SSE | FEATURE_SSE2;
inline constexpr uint32_t kTierAvx2 = kTierSse2 | kNeedsAvx2;

inline bool Supported(uint32_t needs) {
  if ((needs & kNeedsAvx2) && !(ProbeExtendedFeatures() & EXTENDED_AVX2)) return false;
  needs &= kFeatureMask;
  return (ProbeCpuFeatures() & needs) == needs;
}

// Publishes the tier's dispatch word, and the AVX2 tier when it has kNeedsAvx2.
inline void ForceTier(uint32_t tier) {
  SetPixelExtendedWord((tier & kNeedsAvx2) ? uint32_t{EXTENDED_AVX2} : 0u);
  SetPixelDispatchWord(tier & kFeatureMask);
}

}  // namespace test
