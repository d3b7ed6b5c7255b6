// CPUID through the compiler's helper, which on i686 first checks that the EFLAGS ID bit
// can be toggled, so a processor without CPUID never executes it.
#include "platform/cpu.h"

#include <cpuid.h>

namespace platform {

bool ReadCpuidLeaf1Edx(uint32_t* edx) {
  unsigned int a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  *edx = d;
  return true;
}

bool CpuHasUsableAvx2() {
  unsigned int a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  constexpr unsigned int kOsxsave = 1u << 27, kAvx = 1u << 28;
  if ((c & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) return false;
  // XGETBV with ECX = 0 reads XCR0; encoded as bytes so no -mxsave is needed.
  unsigned int xcr0Lo = 0, xcr0Hi = 0;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(xcr0Lo), "=d"(xcr0Hi) : "c"(0));
  if ((xcr0Lo & 0x6) != 0x6) return false;  // SSE and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & (1u << 5)) != 0;
}

}  // namespace platform
