// Process usage on Windows: the handle count, a walk of every heap's busy blocks, the working
// set and a snapshot of the threads.
#include "platform/process_usage.h"

#include <windows.h>
// After windows.h, which the others need first.
#include <psapi.h>
#include <tlhelp32.h>

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

uint64_t ProcessResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  // K32GetProcessMemoryInfo is kernel32's own copy: no psapi.dll import is needed.
  return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

uint32_t ProcessThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  uint32_t n = 0;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  for (BOOL more = Thread32First(snapshot, &e); more; more = Thread32Next(snapshot, &e))
    if (e.th32OwnerProcessID == self) ++n;
  CloseHandle(snapshot);
  return n;
}

}  // namespace platform
