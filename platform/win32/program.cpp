// The running program on Windows.
#include "platform/program.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "platform/text.h"

namespace platform {

std::string CommandLineTail() {
  // The program's name ends at the closing quote, or at the first blank when unquoted;
  // then blanks and tabs are skipped, as WinMain's lpCmdLine is formed.
  const char* p = GetCommandLineA();
  if (!p) return {};
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') p = CharNextA(p);
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') p = CharNextA(p);
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

std::string WholeCommandLine() {
  const char* p = GetCommandLineA();
  return p ? p : "";
}

size_t CharacterLength(const char* text) {
  if (!text || !*text) return 0;
  return static_cast<size_t>(CharNextA(text) - text);
}

bool ProgramFilePath(char* out, size_t size) {
  if (!out || size == 0) return false;
  SetLastError(ERROR_SUCCESS);
  const DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  if (n == 0 || n >= size || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool PathExists(const char* path) { return path && PathFileExistsA(path); }

bool IsWindowsVersion(unsigned major, unsigned minor) {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  ULONGLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_EQUAL);
  return VerifyVersionInfoA(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

bool SetReportedWindowsVersion(const char* programFileName, const char* version) {
  if (programFileName == nullptr || !RunningUnderWine()) return false;
  std::wstring key = L"Software\\Wine\\AppDefaults\\";
  for (const char* c = programFileName; *c; ++c) key += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  if (version == nullptr) {
    const LSTATUS r = RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
  }
  const std::wstring name = std::string(version) == "5.1" ? L"winxp" : L"win7";
  HKEY handle;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const bool ok = RegSetValueExW(handle, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                                 static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

void* ProgramInstance() { return GetModuleHandleW(nullptr); }

int ProgramShowCommand() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

void* ActiveWindow() { return GetActiveWindow(); }

std::string CurrentUserName() {
  wchar_t name[257];
  DWORD size = 257;
  if (!GetUserNameW(name, &size) || size == 0) return {};
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name), size - 1));
}

}  // namespace platform
