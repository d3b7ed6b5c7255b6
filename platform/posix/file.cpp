// POSIX files with Windows-like sharing through non-blocking flock.
#include "platform/file.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace platform {

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
  const std::string native = NativePath(path);
  int flags = O_CLOEXEC | O_CREAT;
  switch (mode) {
    case FileOpen::ReadOpenAlways:
      flags |= O_RDONLY;
      break;
    case FileOpen::WriteCreateAlways:
      flags |= O_WRONLY;  // emptied once the lock is held
      break;
    case FileOpen::AppendOpenAlways:
      flags |= O_WRONLY | O_APPEND;
      break;
  }
  const int fd = ::open(native.c_str(), flags, 0644);
  if (fd < 0) return false;
  const int lock = share == FileShare::None ? LOCK_EX : LOCK_SH;
  int rc;
  do {
    rc = ::flock(fd, lock | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 || (mode == FileOpen::WriteCreateAlways && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool File::IsOpen() const { return handle_ >= 0; }

void File::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

int64_t File::Size() const {
  struct stat st;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

long File::Read(void* data, size_t size) {
  if (handle_ < 0) return -1;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(static_cast<int>(handle_), static_cast<char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

bool File::Write(const void* data, size_t size) {
  if (handle_ < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(static_cast<int>(handle_), static_cast<const char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool File::SeekEnd() { return handle_ >= 0 && ::lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0; }

bool FileExists(const char* path) {
  if (!path) return false;
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0;
}

bool CreateDirectories(const char* path) {
  if (!path || !*path) return false;
  const std::string native = NativePath(path);
  struct stat st;
  for (size_t at = native.find('/', 1);; at = native.find('/', at + 1)) {
    const std::string prefix = native.substr(0, at);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileAt(const char* path) {
  if (!path) return false;
  const std::string native = NativePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(native.c_str()) == 0;
}

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path) == 0 ? 0 : -1; }

}  // namespace

bool RemoveDirectoryTree(const char* path) {
  if (!path) return false;
  const std::string native = NativePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT;
  // Depth first, without following links: a link is removed, not what it points to.
  ::nftw(native.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  return ::lstat(native.c_str(), &st) != 0 && errno == ENOENT;
}

std::string TemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string out = dir && *dir ? dir : "/tmp";
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

bool AppendTextFile(const char* path, std::string_view text) {
  if (!path) return false;
  const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // One write keeps concurrent lines whole.
  bool ok = true;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace platform
