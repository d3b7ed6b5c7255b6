// CPUID leaf 1 through the compiler's helper, which on i686 first checks that the
// EFLAGS ID bit can be toggled, so a processor without CPUID never executes it.
#include "platform/cpu.h"

#include <cpuid.h>

namespace platform {

bool ReadCpuidLeaf1Edx(uint32_t* edx) {
  unsigned int a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  *edx = d;
  return true;
}

}  // namespace platform
