// The Frameport shared library: the exports live in the core library (frameport_exports.cpp);
// this shell only gives the module its name and, on Windows, its export table (.def).
#include "plugin/frameport.h"

// Keeps the exports in the module even though nothing here calls them.
[[maybe_unused]] static const void* const kFrameportExports[] = {
    reinterpret_cast<const void*>(&Frameport_Initialize), reinterpret_cast<const void*>(&Frameport_ProcessVideoFrame),
    reinterpret_cast<const void*>(&Frameport_UnInitialize), reinterpret_cast<const void*>(&Frameport_Abort)};
