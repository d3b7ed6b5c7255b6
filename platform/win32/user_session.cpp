// Session, token and process-creation calls of Win32 for the companion launcher.
#include "platform/user_session.h"

#include <windows.h>
#include <userenv.h>

#include <string>

namespace platform {

struct UserTokenAccess {
  static void*& Handle(UserToken& t) { return t.handle_; }
  static void* Handle(const UserToken& t) { return t.handle_; }
};

uint32_t ActiveConsoleSessionId() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return kNoSession;
  using Fn = DWORD(WINAPI*)();
  const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "WTSGetActiveConsoleSessionId")));
  return fn ? fn() : kNoSession;
}

std::optional<uint32_t> ConsoleUserId() { return std::nullopt; }

std::vector<std::u16string> ShellProcessNames() { return {u"explorer.exe"}; }

uintptr_t UserToken::TraceValue() const { return reinterpret_cast<uintptr_t>(handle_); }

void UserToken::Reset() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

TokenResult OpenProcessUserToken(uint32_t pid, UserToken* out) {
  out->Reset();
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return TokenResult::Failed;
  HANDLE token = nullptr;
  const BOOL opened = OpenProcessToken(process, TOKEN_DUPLICATE, &token);
  CloseHandle(process);
  if (!opened) return TokenResult::Failed;
  UserTokenAccess::Handle(*out) = token;
  return TokenResult::Ok;
}

bool DuplicatePrimaryToken(const UserToken& source, UserToken* out) {
  out->Reset();
  HANDLE copy = nullptr;
  if (!DuplicateTokenEx(static_cast<HANDLE>(UserTokenAccess::Handle(source)), MAXIMUM_ALLOWED, nullptr,
                        SecurityImpersonation, TokenPrimary, &copy))
    return false;
  UserTokenAccess::Handle(*out) = copy;
  return true;
}

UserEnvironment::~UserEnvironment() {
  if (block_) DestroyEnvironmentBlock(block_);
}

bool UserEnvironment::Create(const UserToken& token) {
  if (block_) DestroyEnvironmentBlock(block_);
  block_ = nullptr;
  void* block = nullptr;
  if (!CreateEnvironmentBlock(&block, static_cast<HANDLE>(UserTokenAccess::Handle(token)), TRUE)) return false;
  block_ = block;
  return true;
}

bool StartProcessAsUser(const UserToken& token, std::u16string_view commandLine, uint32_t flags,
                        const UserEnvironment* environment) {
  // CreateProcessAsUserW may write into both strings.
  std::wstring command(commandLine.begin(), commandLine.end());
  wchar_t desktop[1] = {L'\0'};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  void* block = environment && environment->IsValid() ? environment->Block() : nullptr;
  const BOOL ok = CreateProcessAsUserW(static_cast<HANDLE>(UserTokenAccess::Handle(token)), nullptr, command.data(),
                                       nullptr, nullptr, FALSE, flags, block, nullptr, &startup, &info);
  if (!ok) return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace platform
