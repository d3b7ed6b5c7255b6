// Owner of one child process (see child_process.h): started with separate arguments or a
// command-line text, waited for with a bound, ended when the owner goes. Used by tests and
// tools to run peers; the service itself never needs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/child_process.h"

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
  uint32_t Pid() const { return GetProcessId(process_); }
  // Waits up to `timeoutMs` for the end; true with the exit code once it has ended.
  bool Wait(uint32_t timeoutMs, int* exitCode);
  // Ends it at once and reaps it.
  void Kill();

 private:
  bool Adopt(ProcessObject* process);

  ProcessObject* process_ = nullptr;
};

}  // namespace platform
