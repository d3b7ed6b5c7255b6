// The bound on the process's running object table.
#pragma once

#include <cstddef>

namespace media {

// Registrations the table holds before it refuses another with E_OUTOFMEMORY (each keeps its
// object alive); 0 where the table is the system's.
#ifdef _WIN32
inline constexpr size_t kRunningObjectTableLimit = 0;
#else
inline constexpr size_t kRunningObjectTableLimit = 1024;
#endif

}  // namespace media
