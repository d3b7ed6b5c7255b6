// The OruTether shared library: the exports live in the core library (tether_exports.cpp);
// this shell only gives the module its name and, on Windows, its export table (.def).
#include "ipc/tether.h"

// Keeps the exports in the module even though nothing here calls them.
[[maybe_unused]] static const void* const kTetherExports[] = {
    reinterpret_cast<const void*>(&Tether_CreateInstance), reinterpret_cast<const void*>(&Tether_SendMessage),
    reinterpret_cast<const void*>(&Tether_DeleteInstance), reinterpret_cast<const void*>(&Tether_Abort)};
