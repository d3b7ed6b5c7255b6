// The few file operations the diagnostic channels need, with Windows' sharing rules. Paths
// are Windows paths in UTF-8; NativePath maps them on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// How an open shares the file with other opens. On Linux sharing is an advisory flock
// among the processes that use this layer: ShareRead takes a shared lock, ShareNone an
// exclusive one, and an open that cannot get its lock at once fails like a sharing
// violation.
enum class FileShare { None, Read };

enum class FileOpen {
  ReadOpenAlways,      // read access, open or create
  WriteCreateAlways,   // write access, created anew (emptied)
  AppendOpenAlways,    // append access, open or create; writes go to the end
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const char* path, FileOpen mode, FileShare share);
  bool IsOpen() const;
  void Close();
  // -1 when the size cannot be read.
  int64_t Size() const;
  // Bytes read, or -1.
  long Read(void* data, size_t size);
  // True when every byte was written.
  bool Write(const void* data, size_t size);
  bool SeekEnd();

 private:
  intptr_t handle_ = -1;  // HANDLE on Windows, fd on Linux
};

bool FileExists(const char* path);

// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateDirectories(const char* path);

// Deletes one file (DeleteFileW); false when it is missing or cannot be deleted.
bool DeleteFileAt(const char* path);

// Deletes a folder and everything below it; links are removed, never followed. True when the
// folder is gone afterwards (also when it never existed).
bool RemoveDirectoryTree(const char* path);

// The folder for temporary files (GetTempPathW; on Linux $TMPDIR, else /tmp), without a
// trailing separator. Empty on failure.
std::string TemporaryDirectory();

// `folder` and `name` joined with the separator of this OS.
std::string JoinPath(std::string_view folder, std::string_view name);

// Appends `text` to the file in text mode (a newline becomes the platform's line end, CR LF
// on Windows) and closes it again; no sharing restriction. False when it cannot be opened
// or written.
bool AppendTextFile(const char* path, std::string_view text);

// The line end AppendTextFile writes for "\n".
#ifdef _WIN32
inline constexpr std::string_view kTextLineEnd = "\r\n";
#else
inline constexpr std::string_view kTextLineEnd = "\n";
#endif

}  // namespace platform
