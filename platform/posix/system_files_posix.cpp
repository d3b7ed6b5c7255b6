// Linux: Kestrel's Windows paths live below the drive root; no file-system redirection.
#include "platform/system_files.h"

#include <limits.h>
#include <unistd.h>

#include "platform/paths.h"

namespace platform {

std::string SystemDirectory() { return "C:\\Windows\\System32"; }

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return {};
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

std::FILE* OpenStdioFile(const char* windowsPath, const char* mode) {
  if (!windowsPath || !mode) return nullptr;
  return std::fopen(NativePath(windowsPath).c_str(), mode);
}

FsRedirectionGuard::FsRedirectionGuard() = default;
FsRedirectionGuard::~FsRedirectionGuard() = default;

}  // namespace platform
