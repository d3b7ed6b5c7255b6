// Security attributes that give every user full access to a named object.
#pragma once

#include <windows.h>

namespace platform::win32 {

// Not inheritable; a discretionary list with one entry granting GENERIC_ALL to the world
// identity (S-1-1-0). When a step fails the descriptor stays as far as it got. Built once.
SECURITY_ATTRIBUTES* WorldAccessAttributes();

inline HANDLE NullIfInvalid(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

}  // namespace platform::win32
