// Result codes and work modes of Kestrel's graph code, over the shared frame vocabulary;
// no Windows header needed.
#pragma once

#include <cstdint>

#include "pixel/frame_format.h"

// HRESULT-style results.
using HResult = int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);

// Work modes reported to the virtual camera.
inline constexpr uint32_t WORKMODE_IDLE = 0;
inline constexpr uint32_t WORKMODE_STREAMING = 1;
inline constexpr uint32_t WORKMODE_FAILED = 2;
