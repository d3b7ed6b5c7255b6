// setenv and getenv.
#include "platform/environment.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> GetEnvironmentValue(const char* name) {
  const char* value = name ? std::getenv(name) : nullptr;
  if (!value) return std::nullopt;
  return std::string(value);
}

bool SetEnvironmentValue(const char* name, const char* value) {
  if (!name) return false;
  return (value ? ::setenv(name, value, 1) : ::unsetenv(name)) == 0;
}

}  // namespace platform
