// Raw processor identification, kept apart from the decoding of its bits.
#pragma once

#include <cstdint>

namespace platform {

// Reads EDX of CPUID leaf 1. Returns false (and leaves *edx alone) on a processor
// without the CPUID instruction or without leaf 1.
bool ReadCpuidLeaf1Edx(uint32_t* edx);

}  // namespace platform
