// Windows modules: LoadLibraryW by plain file name, GetProcAddress, FreeLibrary.
#include "platform/module.h"

#include <windows.h>

#include <cstring>

namespace platform {

const char* MapModuleFileName(const char* windowsFileName, char* out, unsigned outSize) {
  if (!windowsFileName || !out || outSize == 0) return nullptr;
  const size_t len = std::strlen(windowsFileName);
  if (len + 1 > outSize) return nullptr;
  std::memcpy(out, windowsFileName, len + 1);
  return out;
}

ModuleHandle LoadModule(const char* windowsFileName) {
  if (!windowsFileName) return nullptr;
  wchar_t wide[MAX_PATH];
  const int n = MultiByteToWideChar(CP_UTF8, 0, windowsFileName, -1, wide, MAX_PATH);
  if (n <= 0) return nullptr;
  return reinterpret_cast<ModuleHandle>(LoadLibraryW(wide));
}

void* GetModuleSymbol(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(ModuleHandle module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform
