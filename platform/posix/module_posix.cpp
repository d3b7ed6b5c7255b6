// Linux modules: dlopen with the Windows name mapped to the shared-object name.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

const char* MapModuleFileName(const char* windowsFileName, char* out, unsigned outSize) {
  if (!windowsFileName || !out || outSize == 0) return nullptr;
  const size_t len = std::strlen(windowsFileName);
  std::string mapped;
  if (len > 4 && strcasecmp(windowsFileName + len - 4, ".dll") == 0) {
    mapped = "lib";
    mapped.append(windowsFileName, len - 4);
    mapped += ".so";
  } else {
    mapped = windowsFileName;
  }
  if (mapped.size() + 1 > outSize) return nullptr;
  std::memcpy(out, mapped.c_str(), mapped.size() + 1);
  return out;
}

namespace {

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  char* slash = std::strrchr(path, '/');
  if (!slash) return {};
  return std::string(path, slash - path);
}

}  // namespace

ModuleHandle LoadModule(const char* windowsFileName) {
  char name[PATH_MAX];
  if (!MapModuleFileName(windowsFileName, name, sizeof(name))) return nullptr;
  // A name with a directory part is taken as given.
  if (!std::strchr(name, '/')) {
    const std::string dir = ExecutableDirectory();
    if (!dir.empty()) {
      const std::string local = dir + "/" + name;
      if (access(local.c_str(), F_OK) == 0) {
        if (void* m = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL)) return m;
      }
    }
  }
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* GetModuleSymbol(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(module, name);
}

void UnloadModule(ModuleHandle module) {
  if (module) dlclose(module);
}

}  // namespace platform
