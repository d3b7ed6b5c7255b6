// dlopen with Windows library names mapped to shared-object names.
#include "platform/ansi_library.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

void* LoadLibraryAnsi(const char* fileName) {
  if (!fileName || !*fileName) return nullptr;
  std::string name = fileName;
  if (name.size() > 4 && ::strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0)
    name = "lib" + name.substr(0, name.size() - 4) + ".so";
  if (name.find('/') == std::string::npos) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
      std::string local(self, static_cast<size_t>(n));
      local = local.substr(0, local.rfind('/') + 1) + name;
      if (::access(local.c_str(), F_OK) == 0) return ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
  }
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindLibrarySymbol(void* library, const char* name) {
  return library && name ? ::dlsym(library, name) : nullptr;
}

void FreeLibraryAnsi(void* library) {
  if (library) ::dlclose(library);
}

}  // namespace platform
