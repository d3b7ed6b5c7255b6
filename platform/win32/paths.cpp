// Windows opens its own paths as they are.
#include "platform/paths.h"

namespace platform {

std::string NativePath(std::string_view windowsPath) { return std::string(windowsPath); }

}  // namespace platform
