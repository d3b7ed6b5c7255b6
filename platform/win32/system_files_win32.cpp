// Windows: system and program directories, _wfopen, and the WOW64 redirection switch found
// at run time in kernel32.dll.
#include "platform/system_files.h"

#include <windows.h>

#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {

std::string SystemDirectory() {
  wchar_t dir[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return win32::Narrow(dir);
}

std::string ExecutableDirectory() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  wchar_t* slash = wcsrchr(path, L'\\');
  if (slash) *slash = L'\0';
  return win32::Narrow(path);
}

std::FILE* OpenStdioFile(const char* windowsPath, const char* mode) {
  if (!windowsPath || !mode) return nullptr;
  const std::u16string wpath = Utf8ToUtf16(windowsPath);
  const std::u16string wmode = Utf8ToUtf16(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(wpath.c_str()),
                 reinterpret_cast<const wchar_t*>(wmode.c_str()));
}

FsRedirectionGuard::FsRedirectionGuard() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  using GetWow64Dir = UINT(WINAPI*)(LPWSTR, UINT);
  using Disable = BOOL(WINAPI*)(PVOID*);
  auto getDir = reinterpret_cast<GetWow64Dir>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
  if (getDir) {
    wchar_t dir[MAX_PATH];
    is64Bit_ = getDir(dir, MAX_PATH) != 0;
  }
  if (!is64Bit_) return;
  auto disable = reinterpret_cast<Disable>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  revert_ = reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
  if (disable) disabled_ = disable(&token_) != FALSE;
}

FsRedirectionGuard::~FsRedirectionGuard() {
  using Revert = BOOL(WINAPI*)(PVOID);
  if (revert_ && disabled_) reinterpret_cast<Revert>(revert_)(token_);
}

}  // namespace platform
