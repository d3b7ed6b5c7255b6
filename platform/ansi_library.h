// LoadLibraryA-style loading by a narrow (ANSI code page) file name, for programs that hand
// narrow names on as they are.
#pragma once

namespace platform {

// Windows: LoadLibraryA (default search order). Linux: "X.dll" becomes "libX.so", looked
// for first beside the running program, then on the dlopen path. Null on failure.
void* LoadLibraryAnsi(const char* fileName);
// GetProcAddress; null when missing.
void* FindLibrarySymbol(void* library, const char* name);
// FreeLibrary; null is ignored.
void FreeLibraryAnsi(void* library);

}  // namespace platform
