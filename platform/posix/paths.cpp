// Drive paths mapped below a root folder, so a test or a service chooses where files go.
#include "platform/paths.h"

#include <cstdlib>

namespace platform {

std::string NativePath(std::string_view windowsPath) {
  std::string out;
  std::string_view rest = windowsPath;
  const bool drive = rest.size() >= 2 && rest[1] == ':' &&
                     ((rest[0] >= 'a' && rest[0] <= 'z') || (rest[0] >= 'A' && rest[0] <= 'Z'));
  if (drive) {
    const char* root = std::getenv(kDriveRootVariable);
    out = root && *root ? root : kDefaultDriveRoot;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    out += '/';
    out += static_cast<char>(rest[0] | 0x20);
    rest.remove_prefix(2);
    if (!rest.empty() && rest.front() != '\\' && rest.front() != '/') out += '/';
  }
  for (char c : rest) out += c == '\\' ? '/' : c;
  return out;
}

}  // namespace platform
