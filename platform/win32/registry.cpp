// The Win32 registry behind the registry helpers.
#include "platform/registry.h"

#include <windows.h>

#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {

using win32::Wide;

namespace {

HKEY RootHandle(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
  }
  return HKEY_LOCAL_MACHINE;
}

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

long RegistryKey::Open(RegistryRoot root, const char* subkey, RegistryAccess access) {
  Close();
  if (!subkey) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  const std::wstring path = Wide(subkey);
  const LONG rc = access == RegistryAccess::Default
                      ? RegOpenKeyW(RootHandle(root), path.c_str(), &key)
                      : RegOpenKeyExW(RootHandle(root), path.c_str(), 0, KEY_READ, &key);
  if (rc == ERROR_SUCCESS) handle_ = key;
  return rc;
}

bool RegistryKey::IsOpen() const { return handle_ != nullptr; }

void RegistryKey::Close() {
  if (handle_) RegCloseKey(static_cast<HKEY>(handle_));
  handle_ = nullptr;
}

long RegistryKey::Query(const char* valueName, uint32_t* type, void* data, uint32_t* size) const {
  if (!handle_ || (data && !size)) return ERROR_INVALID_PARAMETER;
  DWORD t = 0;
  DWORD n = size ? *size : 0;
  const std::wstring name = Wide(valueName);
  const LONG rc = RegQueryValueExW(static_cast<HKEY>(handle_), name.c_str(), nullptr, &t,
                                   static_cast<BYTE*>(data), size ? &n : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (type) *type = t;
    if (size) *size = n;
  }
  return rc;
}

long RegistryKey::EnumSubkey(uint32_t index, std::string* name) const {
  if (!handle_ || !name) return ERROR_INVALID_PARAMETER;
  wchar_t buffer[256];  // key names are at most 255 characters
  DWORD length = 256;
  const LONG rc = RegEnumKeyExW(static_cast<HKEY>(handle_), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  *name = Utf16ToUtf8(std::u16string(buffer, buffer + length));
  return ERROR_SUCCESS;
}

long SetRegistryValue(RegistryRoot root, const char* subkey, const char* valueName, uint32_t type,
                      const void* data, uint32_t size) {
  if (!subkey) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  const std::wstring path = Wide(subkey);
  LONG rc = RegCreateKeyExW(RootHandle(root), path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  const std::wstring name = Wide(valueName);
  rc = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return rc;
}

long DeleteRegistryTree(RegistryRoot root, const char* subkey) {
  if (!subkey) return ERROR_INVALID_PARAMETER;
  const std::wstring path = Wide(subkey);
  return RegDeleteTreeW(RootHandle(root), path.c_str());
}

}  // namespace platform
