// Where Kestrel's own files live (the system directory, the host program's directory),
// C stdio files opened by Windows path, and the 64-bit file-system redirection switch.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// GetSystemDirectoryW as UTF-8; on Linux the Windows literal "C:\Windows\System32", which
// OpenStdioFile maps below the drive root.
std::string SystemDirectory();

// The directory of the running program (GetModuleFileNameW of the process, file name
// removed), UTF-8, without a trailing separator.
std::string ExecutableDirectory();

// fopen of a Windows path (UTF-8); on Linux the path goes through NativePath first.
std::FILE* OpenStdioFile(const char* windowsPath, const char* mode);

// A 32-bit process on 64-bit Windows reads the native system directory while one of these
// lives. is64BitWindows tells whether GetSystemWow64DirectoryW answered; on Linux it is
// false and nothing is switched.
class FsRedirectionGuard {
 public:
  FsRedirectionGuard();
  ~FsRedirectionGuard();
  FsRedirectionGuard(const FsRedirectionGuard&) = delete;
  FsRedirectionGuard& operator=(const FsRedirectionGuard&) = delete;

  bool is64BitWindows() const { return is64Bit_; }

 private:
  bool is64Bit_ = false;
  // Used by the Windows backend only.
  [[maybe_unused]] bool disabled_ = false;
  [[maybe_unused]] void* revert_ = nullptr;
  [[maybe_unused]] void* token_ = nullptr;
};

}  // namespace platform
