// Processor feature word, its initialisation and the process-wide dispatch word.
#pragma once

#include <cstdint>

enum : uint32_t {
  FEATURE_TSC = 0x00000010,
  FEATURE_CMOV = 0x00008000,
  FEATURE_MMX = 0x00800000,
  FEATURE_FXSR = 0x01000000,
  FEATURE_SSE = 0x02000000,
  FEATURE_SSE2 = 0x04000000,
  FEATURE_HTT = 0x10000000,
};

// Leaf-1 EDX bits the library keeps.
inline constexpr uint32_t kFeatureMask = 0x17808010;

// Probes the processor once per process (later calls return the cached word) and
// publishes the word that every kernel entry point dispatches on. Safe to call again.
uint32_t InitPixelKernels();
