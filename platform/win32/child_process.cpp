// Child processes on Windows: CreateProcessW with a quoted command line.
#include "platform/child_process.h"

#include <windows.h>

#include <new>
#include <string>
#include <utility>

namespace platform {
namespace {

HANDLE H(ProcessObject* p) { return reinterpret_cast<HANDLE>(p); }

std::wstring Widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

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
  const std::wstring exe = Widen(program);
  std::wstring line;
  AppendQuoted(&line, exe);
  for (const std::string& a : args) AppendQuoted(&line, Widen(a));
  return Spawn(exe, std::move(line));
}

ProcessObject* SpawnProcessWithCommandLine(const std::string& program, const std::string& text) {
  const std::wstring exe = Widen(program);
  std::wstring line;
  AppendQuoted(&line, exe);
  return Spawn(exe, line + L" " + Widen(text));
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
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace platform
