// LoadLibraryA, GetProcAddress, FreeLibrary.
#include "platform/ansi_library.h"

#include <windows.h>

namespace platform {

void* LoadLibraryAnsi(const char* fileName) { return fileName ? LoadLibraryA(fileName) : nullptr; }

void* FindLibrarySymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryAnsi(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
