// Win32 files for the diagnostic channels.
#include "platform/file.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/text.h"

namespace platform {

namespace {

std::wstring Wide(const char* text) {
  const std::u16string w = Utf8ToUtf16(text ? text : "");
  return std::wstring(w.begin(), w.end());
}

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

bool AppendTextFile(const char* path, std::string_view text) {
  if (!path) return false;
  FILE* f = _wfopen(Wide(path).c_str(), L"a");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace platform
