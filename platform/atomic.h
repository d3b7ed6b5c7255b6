// Atomic exchange of single flags and counters, like InterlockedExchange.
#pragma once

#include <cstdint>

namespace platform {

// Stores `value` and returns the previous content, as one sequentially consistent step.
inline int32_t AtomicExchange(volatile int32_t* target, int32_t value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline int32_t AtomicLoad(const volatile int32_t* target) {
  return __atomic_load_n(target, __ATOMIC_SEQ_CST);
}

template <class T>
T* AtomicExchangePointer(T* volatile* target, T* value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

}  // namespace platform
