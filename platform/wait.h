// Wait results and time-outs shared by every waitable object of the platform layer, with the
// values of their Windows namesakes.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;       // INFINITE
inline constexpr uint32_t kWaitObject0 = 0x00000000u;    // WAIT_OBJECT_0 (+ index)
inline constexpr uint32_t kWaitAbandoned0 = 0x00000080u; // WAIT_ABANDONED_0 (+ index)
inline constexpr uint32_t kWaitTimeout = 0x00000102u;    // WAIT_TIMEOUT
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;     // WAIT_FAILED

// Most objects a single wait can take, as on Windows.
inline constexpr uint32_t kMaxWaitObjects = 64;

}  // namespace platform
