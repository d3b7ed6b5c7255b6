// The process environment, for the settings the OS layer reads from it.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The variable's value (UTF-8), or nullopt when it is not set.
std::optional<std::string> GetEnvironmentValue(const char* name);

// Sets (or, with a null value, removes) a variable of this process; children inherit it.
bool SetEnvironmentValue(const char* name, const char* value);

}  // namespace platform
