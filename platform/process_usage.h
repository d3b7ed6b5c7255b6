// What the running process holds: its open handles, the bytes its heap has handed out, its
// resident memory and its threads.
// Tests compare them before and after many cycles of some work to find what leaks.
#pragma once

#include <cstdint>

namespace platform {

// GetProcessHandleCount (or, where that answers 0 as under Wine, the process's entries in the
// system handle table); on Linux the open file descriptors (entries of /proc/self/fd).
// 0 when it cannot be learned.
uint32_t ProcessHandleCount();

// Bytes of heap blocks in use, summed over every heap of the process (HeapWalk); on Linux the
// allocator's own figure (mallinfo2, or the sanitizer allocator's count in a sanitizer build).
uint64_t HeapBytesInUse();

// The process's resident memory in bytes (the working set on Windows, VmRSS on Linux); 0 when
// it cannot be learned.
uint64_t ProcessResidentBytes();

// Threads of the process, this one included; 0 when it cannot be learned.
uint32_t ProcessThreadCount();

// The most descriptors the process may hold open at once (the soft RLIMIT_NOFILE on Linux);
// 0 where there is no such limit worth counting (Windows handles, or an unlimited setting).
uint32_t DescriptorLimit();

// Lowers (or raises, up to the hard limit) the process's descriptor limit; false where there
// is none to set (Windows) or the call fails.
bool SetDescriptorLimit(uint32_t limit);

}  // namespace platform
