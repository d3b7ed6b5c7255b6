// What every fuzz target shares: a private folder for the files and named objects it makes,
// and the file it writes an input into.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/thread.h"

namespace fuzz {

// Made once per process: named objects, pipes, the drive root and the registry file all live
// below it, so a run touches nothing of anyone else's. Debugger output is dropped.
inline const std::string& PrivateDirectory() {
  static const std::string dir = [] {
    const std::string pattern =
        platform::JoinPath(platform::TemporaryDirectory(), "kestrel-fuzz-" + std::to_string(platform::CurrentProcessId()));
    if (!platform::CreateDirectories(pattern.c_str())) std::abort();
    platform::SetEnvironmentValue("KESTREL_OBJECT_DIR", pattern.c_str());
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", pattern.c_str());
    platform::SetEnvironmentValue("KESTREL_ROOT", pattern.c_str());
    platform::SetEnvironmentValue("KESTREL_REGISTRY_FILE", (pattern + "/registry.reg").c_str());
    platform::SetEnvironmentValue("KESTREL_DEBUG_FD", "none");
    return pattern;
  }();
  return dir;
}

// Writes the input to `name` in the private folder; the file's path.
inline std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  const std::string path = platform::JoinPath(PrivateDirectory(), name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

}  // namespace fuzz
