// What the running process holds: its open handles and the bytes its heap has handed out.
// Tests compare them before and after many cycles of some work to find what leaks.
#pragma once

#include <cstdint>

namespace platform {

// GetProcessHandleCount; on Linux the open file descriptors (entries of /proc/self/fd).
// 0 when it cannot be learned.
uint32_t ProcessHandleCount();

// Bytes of heap blocks in use, summed over every heap of the process (HeapWalk); on Linux the
// allocator's own figure (mallinfo2, or the sanitizer allocator's count in a sanitizer build).
uint64_t HeapBytesInUse();

}  // namespace platform
