// Win32 files for the diagnostic channels.
#include "platform/file.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {

using win32::Wide;

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

bool File::Open(const char* path, FileOpen mode, FileShare share) {
  Close();
  if (!path) return false;
  DWORD access = 0, disposition = 0;
  switch (mode) {
    case FileOpen::ReadOpenAlways:
      access = GENERIC_READ, disposition = OPEN_ALWAYS;
      break;
    case FileOpen::WriteCreateAlways:
      access = GENERIC_WRITE, disposition = CREATE_ALWAYS;
      break;
    case FileOpen::AppendOpenAlways:
      access = FILE_APPEND_DATA, disposition = OPEN_ALWAYS;
      break;
  }
  const DWORD shareMode = share == FileShare::Read ? FILE_SHARE_READ : 0;
  const std::wstring wide = Wide(path);
  HANDLE h = CreateFileW(wide.c_str(), access, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool File::IsOpen() const { return handle_ != -1; }

void File::Close() {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

int64_t File::Size() const {
  LARGE_INTEGER size;
  if (handle_ == -1 || !GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

long File::Read(void* data, size_t size) {
  DWORD n = 0;
  if (handle_ == -1 || !ReadFile(AsHandle(handle_), data, static_cast<DWORD>(size), &n, nullptr)) return -1;
  return static_cast<long>(n);
}

bool File::Write(const void* data, size_t size) {
  DWORD n = 0;
  return handle_ != -1 && WriteFile(AsHandle(handle_), data, static_cast<DWORD>(size), &n, nullptr) && n == size;
}

bool File::SeekEnd() {
  LARGE_INTEGER zero{};
  return handle_ != -1 && SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_END);
}

bool FileExists(const char* path) {
  if (!path) return false;
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectories(const char* path) {
  if (!path || !*path) return false;
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  // Every prefix that ends before a separator, then the whole path; a drive or server
  // prefix fails harmlessly.
  for (size_t at = wide.find(L'\\', 1);; at = wide.find(L'\\', at + 1)) {
    const std::wstring prefix = wide.substr(0, at);
    if (!prefix.empty()) CreateDirectoryW(prefix.c_str(), nullptr);
    if (at == std::wstring::npos) break;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFileAt(const char* path) {
  if (!path) return false;
  const std::wstring wide = Wide(path);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(wide.c_str()) != 0;
}

namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = folder + L"\\" + name;
      const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      // A junction or directory link is removed itself, never walked into.
      const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (directory && !link) {
        RemoveTree(child);
      } else if (directory) {
        RemoveDirectoryW(child.c_str());
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

bool RemoveDirectoryTree(const char* path) {
  if (!path || !*path) return false;
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  while (wide.size() > 3 && wide.back() == L'\\') wide.pop_back();
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveTree(wide);
  return GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string TemporaryDirectory() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return std::string();
  std::u16string text(reinterpret_cast<const char16_t*>(buffer), n);
  while (text.size() > 3 && (text.back() == u'\\' || text.back() == u'/')) text.pop_back();
  return Utf16ToUtf8(text);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  out += name;
  return out;
}

bool AppendTextFile(const char* path, std::string_view text) {
  if (!path) return false;
  FILE* f = _wfopen(Wide(path).c_str(), L"a");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace platform
