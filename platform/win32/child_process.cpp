// Child processes on Windows: CreateProcessW with a quoted command line.
#include "platform/child_process.h"

#include <windows.h>

#include <new>
#include <string>
#include <utility>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

HANDLE H(ProcessObject* p) { return reinterpret_cast<HANDLE>(p); }

// Quotes one argument the way the C runtime splits a command line.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
  if (!line->empty()) line->push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line->append(arg);
    return;
  }
  line->push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

ProcessObject* Spawn(const std::wstring& exe, std::wstring line) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return reinterpret_cast<ProcessObject*>(pi.hProcess);
}

}  // namespace

ProcessObject* SpawnProcess(const std::string& program, const std::vector<std::string>& args) {
  const std::wstring exe = win32::Wide(program.c_str());
  std::wstring line;
  AppendQuoted(&line, exe);
  for (const std::string& a : args) AppendQuoted(&line, win32::Wide(a.c_str()));
  return Spawn(exe, std::move(line));
}

ProcessObject* SpawnProcessWithCommandLine(const std::string& program, const std::string& text) {
  const std::wstring exe = win32::Wide(program.c_str());
  std::wstring line;
  AppendQuoted(&line, exe);
  return Spawn(exe, line + L" " + win32::Wide(text.c_str()));
}

uint32_t WaitProcess(ProcessObject* p, uint32_t timeoutMs) {
  return p == nullptr ? kWaitFailed : WaitForSingleObject(H(p), timeoutMs);
}

bool GetProcessExitCode(ProcessObject* p, uint32_t* exitCode) {
  if (p == nullptr || exitCode == nullptr || WaitForSingleObject(H(p), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(H(p), &code)) return false;
  *exitCode = code;
  return true;
}

uint32_t GetProcessId(ProcessObject* p) { return p == nullptr ? 0 : ::GetProcessId(H(p)); }

bool KillProcess(ProcessObject* p) { return p != nullptr && TerminateProcess(H(p), 137); }

bool RequestProcessStop(ProcessObject*) { return false; }

void CloseProcess(ProcessObject* p) {
  if (p != nullptr) CloseHandle(H(p));
}

std::string CurrentExecutablePath() {
  wchar_t buf[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  if (n == 0) return std::string();
  return win32::Narrow(std::wstring_view(buf, n));
}

}  // namespace platform
