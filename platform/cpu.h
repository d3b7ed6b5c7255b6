// Raw processor identification, kept apart from the decoding of its bits.
#pragma once

#include <cstdint>

namespace platform {

// Reads EDX of CPUID leaf 1. Returns false (and leaves *edx alone) on a processor
// without the CPUID instruction or without leaf 1.
bool ReadCpuidLeaf1Edx(uint32_t* edx);

// True when the processor has AVX2 (leaf 7 EBX bit 5) and the operating system saves the
// YMM registers (leaf 1 ECX OSXSAVE and AVX, XCR0 bits 1 and 2).
bool CpuHasUsableAvx2();

}  // namespace platform
