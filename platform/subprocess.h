// A child program started with separate arguments, waited for with a bound, or ended.
// Used by tests and tools to run peers; the service itself never needs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class Subprocess {
 public:
  Subprocess() = default;
  ~Subprocess();  // a child still running is ended
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Starts `program` (a native path) with `args`, inheriting the environment; Windows
  // quotes each argument so the child's argv receives it unchanged.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  // Starts `program` with a command-line text after its name: on Windows the text is passed
  // as it is; on Linux it is split into words at blanks (no quoting).
  bool StartWithCommandLine(const std::string& program, const std::string& text);
  uint32_t Pid() const { return pid_; }
  // Waits up to `timeoutMs` for the end; true with the exit code once it has ended.
  bool Wait(uint32_t timeoutMs, int* exitCode);
  // Ends it at once and reaps it.
  void Kill();

 private:
  bool StartLine(const std::string& program, const std::u16string& tail);

  intptr_t handle_ = -1;  // process HANDLE on Windows, pidfd on Linux
  uint32_t pid_ = 0;
  bool ended_ = false;
  int exitCode_ = 0;
};

}  // namespace platform
