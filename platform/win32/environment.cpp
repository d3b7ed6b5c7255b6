// The CRT's environment, kept in step with the process block that children inherit.
#include "platform/environment.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {

using win32::Wide;

std::optional<std::string> GetEnvironmentValue(const char* name) {
  if (!name) return std::nullopt;
  const std::wstring wideName = Wide(name);
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed);
  const DWORD got = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed);
  if (got >= needed) return std::nullopt;
  return Utf16ToUtf8(std::u16string(buffer.begin(), buffer.begin() + got));
}

bool SetEnvironmentValue(const char* name, const char* value) {
  if (!name) return false;
  const std::wstring wideName = Wide(name);
  const std::wstring wideValue = Wide(value);
  // _wputenv_s updates the CRT copy (getenv) and the process block together.
  return _wputenv_s(wideName.c_str(), value ? wideValue.c_str() : L"") == 0;
}

}  // namespace platform
