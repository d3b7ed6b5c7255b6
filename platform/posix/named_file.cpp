// Named object files with per-handle slot locks; see named_file.h.
#include "platform/posix/named_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_common.h"

namespace platform::posix {
namespace {

constexpr off_t kSlotBase = off_t{1} << 40;
// Few slots, so that taking one and counting the held ones cost a bounded number of lock
// calls whatever another user locks in the file (each held lock costs two queries below).
constexpr off_t kSlots = 256;

bool LockSlot(int fd) {
  for (off_t i = 0; i < kSlots; ++i) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kSlotBase + i;
    fl.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EAGAIN && errno != EACCES) return false;
  }
  return false;
}

// Locks held by other handles within [start, end): each query names one of them, and the
// ranges on either side of it are counted the same way.
int64_t CountLocks(int fd, off_t start, off_t end) {
  if (start >= end) return 0;
  struct flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = end - start;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
  if (fl.l_type == F_UNLCK) return 0;
  const off_t lockEnd = fl.l_len == 0 ? end : fl.l_start + fl.l_len;
  const int64_t left = CountLocks(fd, start, fl.l_start);
  const int64_t right = CountLocks(fd, lockEnd, end);
  if (left < 0 || right < 0) return -1;
  return 1 + left + right;
}

std::atomic<uint32_t> g_tempCounter{0};

}  // namespace

uint32_t CountHandles(int fd) {
  const int64_t others = CountLocks(fd, kSlotBase, kSlotBase + kSlots);
  return others < 0 ? 0 : static_cast<uint32_t>(others + 1);
}

bool OpenNamedFile(const std::string& path, size_t createBytes, bool (*init)(int fd, void* context),
                   void* context, NamedFile* out, bool* created) {
  *created = false;
  DirectoryLock dirLock;
  if (!dirLock.held()) return false;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !LockSlot(fd)) {
      ::close(fd);
      return false;
    }
    if (CountHandles(fd) > 1) {
      out->fd = fd;
      out->path = path;
      return true;
    }
    // Nobody else holds it: a leftover.
    ::unlink(path.c_str());
    ::close(fd);
  } else if (errno != ENOENT) {
    return false;
  }
  if (createBytes == 0) return false;

  const std::string temp = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
  fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, 0666) == 0 && ::ftruncate(fd, static_cast<off_t>(createBytes)) == 0 &&
                  (init == nullptr || init(fd, context)) && LockSlot(fd) &&
                  ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    ::close(fd);
    return false;
  }
  out->fd = fd;
  out->path = path;
  *created = true;
  return true;
}

void CloseNamedFile(NamedFile* file) {
  if (file->fd < 0) return;
  {
    DirectoryLock dirLock;
    // Without the directory lock the file stays; with no holder it counts as a leftover.
    if (dirLock.held() && CountHandles(file->fd) == 1) ::unlink(file->path.c_str());
    ::close(file->fd);
  }
  file->fd = -1;
  file->path.clear();
}

}  // namespace platform::posix
