#include "platform/subprocess.h"

namespace platform {

Subprocess::~Subprocess() {
  Kill();
  CloseProcess(process_);
}

bool Subprocess::Adopt(ProcessObject* process) {
  process_ = process;
  return process_ != nullptr;
}

bool Subprocess::Start(const std::string& program, const std::vector<std::string>& args) {
  return process_ == nullptr && Adopt(SpawnProcess(program, args));
}

bool Subprocess::StartWithCommandLine(const std::string& program, const std::string& text) {
  return process_ == nullptr && Adopt(SpawnProcessWithCommandLine(program, text));
}

bool Subprocess::Wait(uint32_t timeoutMs, int* exitCode) {
  uint32_t code = 0;
  if (WaitProcess(process_, timeoutMs) != kWaitObject0 || !GetProcessExitCode(process_, &code)) return false;
  if (exitCode) *exitCode = static_cast<int>(code);
  return true;
}

void Subprocess::Kill() {
  if (process_ != nullptr && WaitProcess(process_, 0) != kWaitObject0 && KillProcess(process_))
    WaitProcess(process_, kInfinite);
}

}  // namespace platform
