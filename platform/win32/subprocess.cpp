// CreateProcessW with each argument quoted the way the C runtime splits it again.
#include "platform/subprocess.h"

#include <windows.h>

#include "platform/text.h"

namespace platform {

namespace {

void AppendQuoted(std::u16string& line, const std::u16string& arg) {
  if (!arg.empty() && arg.find_first_of(u" \t\n\v\"") == std::u16string::npos) {
    line += arg;
    return;
  }
  line += u'"';
  for (size_t i = 0;; ++i) {
    size_t slashes = 0;
    while (i < arg.size() && arg[i] == u'\\') ++i, ++slashes;
    if (i == arg.size()) {
      line.append(slashes * 2, u'\\');
      break;
    }
    if (arg[i] == u'"') {
      line.append(slashes * 2 + 1, u'\\');
    } else {
      line.append(slashes, u'\\');
    }
    line += arg[i];
  }
  line += u'"';
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

Subprocess::~Subprocess() {
  Kill();
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

bool Subprocess::Start(const std::string& program, const std::vector<std::string>& args) {
  std::u16string line;
  for (const std::string& a : args) {
    line += u' ';
    AppendQuoted(line, Utf8ToUtf16(a));
  }
  return StartLine(program, line);
}

bool Subprocess::StartWithCommandLine(const std::string& program, const std::string& text) {
  return StartLine(program, u" " + Utf8ToUtf16(text));
}

bool Subprocess::StartLine(const std::string& program, const std::u16string& tail) {
  if (pid_ != 0) return false;
  std::u16string line;
  AppendQuoted(line, Utf8ToUtf16(program));
  line += tail;
  std::wstring command(line.begin(), line.end());
  const std::u16string app16 = Utf8ToUtf16(program);
  const std::wstring app(app16.begin(), app16.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(app.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  handle_ = reinterpret_cast<intptr_t>(info.hProcess);
  pid_ = info.dwProcessId;
  ended_ = false;
  return true;
}

bool Subprocess::Wait(uint32_t timeoutMs, int* exitCode) {
  if (pid_ == 0) return false;
  if (!ended_) {
    if (WaitForSingleObject(AsHandle(handle_), timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(AsHandle(handle_), &code);
    exitCode_ = static_cast<int>(code);
    ended_ = true;
  }
  if (exitCode) *exitCode = exitCode_;
  return true;
}

void Subprocess::Kill() {
  if (pid_ == 0 || ended_) return;
  TerminateProcess(AsHandle(handle_), 1);
  Wait(INFINITE, nullptr);
}

}  // namespace platform
