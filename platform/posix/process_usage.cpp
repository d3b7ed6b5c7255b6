// Process usage on Linux: descriptors from /proc/self/fd, heap bytes from the allocator,
// resident memory and threads from /proc/self/status.
#include "platform/process_usage.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

// Defined only when the sanitizer runtime, whose allocator replaces malloc, is linked in.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace platform {

uint32_t ProcessHandleCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  uint32_t n = 0;
  while (const dirent* e = ::readdir(dir))
    if (e->d_name[0] != '.') ++n;
  ::closedir(dir);
  return n > 0 ? n - 1 : 0;  // not the directory's own descriptor
}

uint64_t HeapBytesInUse() {
  if (__sanitizer_get_current_allocated_bytes != nullptr) return __sanitizer_get_current_allocated_bytes();
  // Summed over every arena; blocks served by their own mapping are counted apart.
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<uint64_t>(m.uordblks) + static_cast<uint64_t>(m.hblkhd);
}

namespace {

// The number after `field` ("VmRSS:", "Threads:") in /proc/self/status; 0 when absent.
uint64_t StatusField(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "re");
  if (f == nullptr) return 0;
  char line[256];
  unsigned long long value = 0;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0) {
      std::sscanf(line + n, "%llu", &value);
      break;
    }
  }
  std::fclose(f);
  return value;
}

}  // namespace

uint64_t ProcessResidentBytes() { return StatusField("VmRSS:") * 1024; }

uint32_t ProcessThreadCount() { return static_cast<uint32_t>(StatusField("Threads:")); }

uint32_t DescriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY || r.rlim_cur > UINT32_MAX) return 0;
  return static_cast<uint32_t>(r.rlim_cur);
}

bool SetDescriptorLimit(uint32_t limit) {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return false;
  r.rlim_cur = limit;
  return ::setrlimit(RLIMIT_NOFILE, &r) == 0;
}

}  // namespace platform
