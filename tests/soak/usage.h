// What a soak measures of a process: descriptors, threads, resident memory and heap, taken
// after a warm-up and at the end, and the check that each grew by no more than its allowance.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "platform/process_usage.h"

namespace soak {

// AddressSanitizer keeps freed memory in quarantine and ThreadSanitizer keeps shadow memory and
// access histories, so resident memory grows under either by design; descriptors, threads and
// heap still count.
inline constexpr bool kResidentMeaningful = KESTREL_SANITIZED == 0;

struct Usage {
  int64_t descriptors = 0, threads = 0, resident = 0, heap = 0;
};

// What a process may gain over the cycles.
struct Allowance {
  int64_t descriptors = 0, threads = 0, residentBytes = 0, heapBytes = 0;
};

inline Usage Now() {
  return {platform::ProcessHandleCount(), platform::ProcessThreadCount(),
          static_cast<int64_t>(platform::ProcessResidentBytes()), static_cast<int64_t>(platform::HeapBytesInUse())};
}

inline void ExpectFlat(const char* who, const Usage& start, const Usage& end, const Allowance& more) {
  std::printf("%s: descriptors %lld -> %lld, threads %lld -> %lld, resident %lld -> %lld KiB, heap %lld -> %lld bytes\n",
              who, (long long)start.descriptors, (long long)end.descriptors, (long long)start.threads,
              (long long)end.threads, (long long)start.resident / 1024, (long long)end.resident / 1024,
              (long long)start.heap, (long long)end.heap);
  EXPECT_GT(start.descriptors, 0) << who;
  EXPECT_GT(start.threads, 0) << who;
  EXPECT_GT(start.resident, 0) << who;
  EXPECT_LE(end.descriptors - start.descriptors, more.descriptors) << who;
  EXPECT_LE(end.threads - start.threads, more.threads) << who;
  if (kResidentMeaningful) {
    EXPECT_LE(end.resident - start.resident, more.residentBytes) << who;
  }
  EXPECT_LE(end.heap - start.heap, more.heapBytes) << who;
}

}  // namespace soak
