// The running program on Linux, read from /proc/self.
#include "platform/program.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/environment.h"

namespace platform {

namespace {

std::vector<std::string> Arguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all(std::istreambuf_iterator<char>(in), {});
  std::vector<std::string> args;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

std::string Join(const std::vector<std::string>& args, size_t first) {
  std::string out;
  for (size_t i = first; i < args.size(); ++i) {
    if (i > first) out += ' ';
    out += args[i];
  }
  return out;
}

}  // namespace

std::string CommandLineTail() { return Join(Arguments(), 1); }

std::string WholeCommandLine() { return Join(Arguments(), 0); }

size_t CharacterLength(const char*) { return 1; }

bool ProgramFilePath(char* out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = '\0';
  const ssize_t n = ::readlink("/proc/self/exe", out, size);
  if (n <= 0 || static_cast<size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  out[n] = '\0';
  return true;
}

bool PathExists(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0;
}

bool IsWindowsVersion(unsigned major, unsigned minor) {
  const std::optional<std::string> version = GetEnvironmentValue(kWindowsVersionVariable);
  return version && *version == std::to_string(major) + "." + std::to_string(minor);
}

bool SetReportedWindowsVersion(const char*, const char* version) {
  return SetEnvironmentValue(kWindowsVersionVariable, version);
}

bool RunningUnderWine() { return false; }

void* ProgramInstance() { return nullptr; }

int ProgramShowCommand() { return 10; }

void* ActiveWindow() { return nullptr; }

std::string CurrentUserName() {
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) != 0 || !found)
    return std::to_string(::geteuid());
  return pw.pw_name;
}

}  // namespace platform
