// Process usage on Windows: the handle count and a walk of every heap's busy blocks.
#include "platform/process_usage.h"

#include <windows.h>

namespace platform {

uint32_t ProcessHandleCount() {
  DWORD n = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &n) ? n : 0;
}

uint64_t HeapBytesInUse() {
  HANDLE heaps[256];
  DWORD count = GetProcessHeaps(256, heaps);
  if (count > 256) count = 256;
  uint64_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY e{};
    e.lpData = nullptr;
    while (HeapWalk(heaps[i], &e))
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += e.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

}  // namespace platform
